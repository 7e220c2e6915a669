// The print controller's state: construction, the colour style offsets, the
// byte logger and the image-log dump files.
#include <sys/resource.h>

#include <climits>
#include <csignal>
#include <fstream>
#include <iterator>

#include "pipeline_support.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using Levels = std::vector<int>;  // brightness, contrast, red, green, blue, sharpening, gamma

void SetLevels(CVKCtrl_Print& c, const Levels& l) {
  c.m_nBrightness = l[0], c.m_nContrast = l[1], c.m_nRed = l[2], c.m_nGreen = l[3];
  c.m_nBlue = l[4], c.m_iSharpening = l[5], c.m_Gamma = l[6];
}

Levels LevelsOf(const CVKCtrl_Print& c) {
  return {c.m_nBrightness, c.m_nContrast, c.m_nRed, c.m_nGreen, c.m_nBlue, c.m_iSharpening, c.m_Gamma};
}

}  // namespace

TEST(Controller, StartsWithLogLevelTwoBlackLevelTenAndMakeInitClearsTheTable) {
  CVKCtrl_Print c;
  EXPECT_EQ(c.m_nLogImage, 2);
  EXPECT_EQ(c.m_nBlackLevel, 10);
  EXPECT_EQ(std::vector<int>(c.nFileSize, c.nFileSize + 12), std::vector<int>(12, 0));
  // Without a device the options record reads as all zero.
  EXPECT_EQ(c.JobOption().nRibbon, 0);
  c.nFileSize[3] = c.nFileSize[11] = 256;
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeInit(), 0); }), "\n[2] MakeInit\n");
  EXPECT_EQ(std::vector<int>(c.nFileSize, c.nFileSize + 12), std::vector<int>(12, 0));
}

TEST(ColourStyle, OffsetsPerStyle) {
  const Levels defaults = {45, 41, 47, 47, 47, 8, 93};
  struct Case {
    int style;
    Levels in, out;
    std::string log;  // the full log, or the value line it must contain
  } cases[] = {
      {0, defaults, {52, 36, 43, 41, 43, 10, 93},
       "\n[2] UseDefault value(0)[57, 45, 46, 44, 46, 7, 100]"
       "\n[2] UseDefault before[45, 41, 47, 47, 47, 8, 93]"
       "\n[2] UseDefault adjust[52, 36, 43, 41, 43, 10, 93]"},
      {1, defaults, {45, 31, 37, 37, 37, 10, 93}, "value(1)[50, 40, 40, 40, 40, 7, 100]"},
      {2, defaults, defaults,
       "\n[2] UseDefault value(2)[50, 50, 50, 50, 50, 5, 100]"
       "\n[2] UseDefault before[45, 41, 47, 47, 47, 8, 93]"
       "\n[2] UseDefault adjust[45, 41, 47, 47, 47, 8, 93]"},
      // Unknown styles pull every level down.
      {7, {50, 50, 50, 50, 50, 8, 93}, {0, 0, 0, 0, 0, 3, 93}, "value(7)[0, 0, 0, 0, 0, 0, 100]"},
      {-1, {50, 50, 50, 50, 50, 8, 93}, {0, 0, 0, 0, 0, 3, 93}, "value(-1)[0, 0, 0, 0, 0, 0, 100]"},
      {3, {50, 50, 50, 50, 50, 8, 93}, {0, 0, 0, 0, 0, 3, 93}, "value(3)[0, 0, 0, 0, 0, 0, 100]"},
      // Levels near the int limits stay at the limits.
      {0, {INT_MAX, INT_MIN, INT_MIN, 47, 47, INT_MAX - 1, 93},
       {INT_MAX, INT_MIN, INT_MIN, 41, 43, INT_MAX, 93}, "value(0)"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.style);
    CVKCtrl_Print c;
    c.m_nStyle = k.style;
    SetLevels(c, k.in);
    std::string log = StderrOf([&] { EXPECT_EQ(c.UseDefault(), 0); });
    EXPECT_EQ(LevelsOf(c), k.out);
    if (k.log[0] == '\n') {
      EXPECT_EQ(log, k.log);
    } else {
      EXPECT_TRUE(Has(log, k.log)) << log;
    }
  }
  // Without reloading the copies, a second call adds the offsets again.
  CVKCtrl_Print c;
  SetLevels(c, defaults);
  StderrOf([&] { c.UseDefault(), c.UseDefault(); });
  EXPECT_EQ(LevelsOf(c), (Levels{59, 31, 39, 35, 39, 12, 93}));
}

TEST(ByteLog, ShowsUpTo509BytesBetweenFramingLines) {
  CVKCtrl_Print c;
  uint8_t bytes[600];
  for (int i = 0; i < 600; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 10); }),
            "[->][outputarray_Log 10]\n0 7 14 21 28 35 42 49 56 63 [->][end]\n");
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 0); }), "[->][outputarray_Log 0]\n[->][end]\n");
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 510); }),
            "[->][outputarray_Log 510]\n[->][end]\n");
  std::string expected = "[->][outputarray_Log 509]\n";
  for (int i = 0; i < 509; ++i) expected += std::to_string(bytes[i]) + " ";
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 509); }), expected + "[->][end]\n");
}

TEST(ImageLogDump, WritesTheBytesUnderTmpAndLogsPassOrFail) {
  CVKCtrl_Print c;
  c.m_nPage = UniquePage(0);
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 5);
  const std::string path = "/tmp/testfile_ctlwrite_" + std::to_string(c.m_nPage) + "_42";
  int failures = -1;
  std::string log = StderrOf([&] { failures = c.write_tests(42, "ctlwrite", data.data(), data.size()); });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(log, "cupsFileOpen(write): file(" + path +
                     "): PASScupsFileCompression(): PASScupsFileWrite(): PASS cupsFileClose(): PASS");
  EXPECT_EQ(ReadFile(path), data);
  // An empty dump still opens, writes nothing and passes.
  log = StderrOf([&] { failures = c.write_tests(42, "ctlwrite", data.data(), 0); });
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(Has(log, "cupsFileWrite(): PASS "));
  EXPECT_TRUE(ReadFile(path).empty());
  unlink(path.c_str());

  // A folder that does not exist: logged and counted.
  const std::string bad = "/tmp/testfile_no_such_dir_here/x_" + std::to_string(c.m_nPage) + "_1";
  log = StderrOf([&] { failures = c.write_tests(1, "no_such_dir_here/x", data.data(), 1); });
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(log, "cupsFileOpen(write): file(" + bad + "): FAIL " + bad + " (No such file or directory)\n");

  // A file size limit of 10000 bytes: the first 8192-byte chunk goes through.
  const std::string full = "/tmp/testfile_ctlfull_" + std::to_string(c.m_nPage) + "_3";
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 10000;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  log = StderrOf([&] { failures = c.write_tests(3, "ctlfull", data.data(), data.size()); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  unlink(full.c_str());
  EXPECT_GE(failures, 1);
  EXPECT_TRUE(Has(log, "cupsFileWrite(): FAIL [1] (File too large)\n")) << log;
  EXPECT_FALSE(Has(log, "cupsFileWrite(): PASS"));
}
