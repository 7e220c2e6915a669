// The print controller's state: construction, the panel table, the colour
// style offsets, the byte logger and the image-log dump files.
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <csignal>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "pipeline_support.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void SetLevels(CVKCtrl_Print& c, int brightness, int contrast, int red, int green, int blue,
               int sharpening, int gamma) {
  c.m_nBrightness = brightness;
  c.m_nContrast = contrast;
  c.m_nRed = red;
  c.m_nGreen = green;
  c.m_nBlue = blue;
  c.m_iSharpening = sharpening;
  c.m_Gamma = gamma;
}

std::vector<int> Levels(const CVKCtrl_Print& c) {
  return {c.m_nBrightness, c.m_nContrast, c.m_nRed, c.m_nGreen,
          c.m_nBlue,       c.m_iSharpening, c.m_Gamma};
}

}  // namespace

TEST(Controller, StartsEmptyWithImageLogLevelTwoAndBlackLevelTen) {
  CVKCtrl_Print c;
  EXPECT_EQ(c.m_nLogImage, 2);
  EXPECT_EQ(c.m_nBlackLevel, 10);
  EXPECT_EQ(c.m_nPage, 0);
  EXPECT_EQ(c.m_nColorType, 0);
  EXPECT_EQ(std::vector<int>(c.nFileSize, c.nFileSize + 12), std::vector<int>(12, 0));
  EXPECT_STREQ(c.m_szTestTag, "");
  const int* copies = &c.m_nRibbon;
  for (int i = 0; i < 14; ++i) EXPECT_EQ(copies[i], 0) << "working copy " << i;
  for (const CxImage* slot :
       {&c.m_srcImg, &c.m_srcImgK, &c.m_srcImgO, &c.m_srcImg2, &c.m_srcImgK2, &c.m_srcImgO2}) {
    EXPECT_FALSE(slot->IsValid());
  }
  // A controller without a device reads an all-zero options record.
  EXPECT_EQ(c.JobOption().nRibbon, 0);
  EXPECT_EQ(c.JobOption().nCheck, 0);
  TestCtrl t;
  t.option.nRibbon = 4;
  EXPECT_EQ(t.JobOption().nRibbon, 4);
}

TEST(Controller, MakeInitClearsEveryPanelTableEntry) {
  CVKCtrl_Print c;
  c.nFileSize[3] = 256;
  c.nFileSize[5] = 256;
  c.nFileSize[11] = 7;
  int r = 1;
  std::string log = StderrOf([&] { r = c.MakeInit(); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(log, "\n[2] MakeInit\n");
  EXPECT_EQ(std::vector<int>(c.nFileSize, c.nFileSize + 12), std::vector<int>(12, 0));
}

TEST(ColourStyle, NormalShiftsTheOptionDefaultsAndLogsThreeLines) {
  CVKCtrl_Print c;
  c.m_nStyle = 0;
  SetLevels(c, 45, 41, 47, 47, 47, 8, 93);
  std::string log = StderrOf([&] { EXPECT_EQ(c.UseDefault(), 0); });
  EXPECT_EQ(Levels(c), (std::vector<int>{52, 36, 43, 41, 43, 10, 93}));
  EXPECT_EQ(log,
            "\n[2] UseDefault value(0)[57, 45, 46, 44, 46, 7, 100]"
            "\n[2] UseDefault before[45, 41, 47, 47, 47, 8, 93]"
            "\n[2] UseDefault adjust[52, 36, 43, 41, 43, 10, 93]");
}

TEST(ColourStyle, HighlightLowersContrastAndColoursByTen) {
  CVKCtrl_Print c;
  c.m_nStyle = 1;
  SetLevels(c, 45, 41, 47, 47, 47, 8, 93);
  std::string log = StderrOf([&] { c.UseDefault(); });
  EXPECT_EQ(Levels(c), (std::vector<int>{45, 31, 37, 37, 37, 10, 93}));
  EXPECT_NE(log.find("\n[2] UseDefault value(1)[50, 40, 40, 40, 40, 7, 100]"), std::string::npos);
}

TEST(ColourStyle, NotUseChangesNothingButStillLogs) {
  CVKCtrl_Print c;
  c.m_nStyle = 2;
  SetLevels(c, 45, 41, 47, 47, 47, 8, 93);
  std::string log = StderrOf([&] { c.UseDefault(); });
  EXPECT_EQ(Levels(c), (std::vector<int>{45, 41, 47, 47, 47, 8, 93}));
  EXPECT_EQ(log,
            "\n[2] UseDefault value(2)[50, 50, 50, 50, 50, 5, 100]"
            "\n[2] UseDefault before[45, 41, 47, 47, 47, 8, 93]"
            "\n[2] UseDefault adjust[45, 41, 47, 47, 47, 8, 93]");
}

TEST(ColourStyle, UnknownStylesPullEveryLevelDown) {
  for (int style : {7, -1, 3}) {
    CVKCtrl_Print c;
    c.m_nStyle = style;
    SetLevels(c, 50, 50, 50, 50, 50, 8, 93);
    std::string log = StderrOf([&] { c.UseDefault(); });
    EXPECT_EQ(Levels(c), (std::vector<int>{0, 0, 0, 0, 0, 3, 93})) << "style " << style;
    EXPECT_NE(log.find("value(" + std::to_string(style) + ")[0, 0, 0, 0, 0, 0, 100]"),
              std::string::npos);
  }
}

TEST(ColourStyle, OffsetsAccumulateWhenCopiesAreNotReloaded) {
  CVKCtrl_Print c;
  c.m_nStyle = 0;
  SetLevels(c, 45, 41, 47, 47, 47, 8, 93);
  StderrOf([&] {
    c.UseDefault();
    c.UseDefault();
  });
  EXPECT_EQ(Levels(c), (std::vector<int>{59, 31, 39, 35, 39, 12, 93}));
}

TEST(ColourStyle, LevelsNearTheIntLimitsStayAtTheLimits) {
  CVKCtrl_Print c;
  c.m_nStyle = 0;
  SetLevels(c, INT32_MAX, INT32_MIN, INT32_MIN, 47, 47, INT32_MAX - 1, 93);
  StderrOf([&] { c.UseDefault(); });
  EXPECT_EQ(Levels(c), (std::vector<int>{INT32_MAX, INT32_MIN, INT32_MIN, 41, 43, INT32_MAX, 93}));
}

TEST(ByteLog, ShowsUpTo509BytesBetweenFramingLines) {
  CVKCtrl_Print c;
  uint8_t bytes[600];
  for (int i = 0; i < 600; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 10); }),
            "[->][outputarray_Log 10]\n0 7 14 21 28 35 42 49 56 63 [->][end]\n");
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 0); }),
            "[->][outputarray_Log 0]\n[->][end]\n");
  EXPECT_EQ(StderrOf([&] { c.outputarray_Log(bytes, 510); }),
            "[->][outputarray_Log 510]\n[->][end]\n");
  std::string all = StderrOf([&] { c.outputarray_Log(bytes, 509); });
  std::string expected = "[->][outputarray_Log 509]\n";
  for (int i = 0; i < 509; ++i) expected += std::to_string(bytes[i]) + " ";
  EXPECT_EQ(all, expected + "[->][end]\n");
}

TEST(ImageLogDump, WritesTheBytesUnderTmpWithPassLines) {
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
  EXPECT_NE(log.find("cupsFileWrite(): PASS "), std::string::npos);
  EXPECT_TRUE(ReadFile(path).empty());
  unlink(path.c_str());
}

TEST(ImageLogDump, OpenFailureIsLoggedAndCounted) {
  CVKCtrl_Print c;
  c.m_nPage = UniquePage(1);
  const std::string path = "/tmp/testfile_no_such_dir_here/x_" + std::to_string(c.m_nPage) + "_1";
  uint8_t byte = 1;
  int failures = 0;
  std::string log = StderrOf([&] { failures = c.write_tests(1, "no_such_dir_here/x", &byte, 1); });
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(log, "cupsFileOpen(write): file(" + path + "): FAIL " + path +
                     " (No such file or directory)\n");
}

TEST(ImageLogDump, WriteFailureNamesTheChunksWritten) {
  // A file size limit of 10000 bytes: the first 8192-byte chunk goes
  // through, the second fails.
  CVKCtrl_Print c;
  c.m_nPage = UniquePage(2);
  const std::string path = "/tmp/testfile_ctlfull_" + std::to_string(c.m_nPage) + "_3";
  std::vector<uint8_t> data(20000, 0x5A);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 10000;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int failures = 0;
  std::string log = StderrOf([&] { failures = c.write_tests(3, "ctlfull", data.data(), data.size()); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  unlink(path.c_str());
  EXPECT_GE(failures, 1);
  EXPECT_NE(log.find("cupsFileWrite(): FAIL [1] (File too large)\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("cupsFileWrite(): PASS"), std::string::npos);
}
