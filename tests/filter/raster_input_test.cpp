// Pages of every colour space and depth the filter takes, compared byte for
// byte with their RGB page, and the debug files' fixed names taken by a link
// or another user's file; through the real filter and the simulator.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

using Bytes = std::vector<uint8_t>;

// The "$PTS" bytes a one-page job sends, with the colour style that adds no
// offsets, so that a grey page stays grey.
Bytes PrintCommandOf(const PageSpec& page) {
  vkrtest::FilterSetup setup;
  setup.Options("ColorStyle=NotUse");
  setup.stdinBytes = WriteRaster({page});
  const vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  for (const vkrsim::Frame& f : run.frames)
    if (f.code == "$PTS") return f.params;
  ADD_FAILURE() << "no print command";
  return {};
}

}  // namespace

TEST(PageKinds, GreySrgbAndAdobeRgbPagesPrintAsTheirRgbPage) {
  // Grey levels in bands; a grey pixel v is the RGB pixel (v, v, v), so each
  // page must give the very bytes of its RGB page: sRGB and AdobeRGB as they
  // are, W and SW replicated, K inverted (0 is white) and replicated, 16-bit
  // samples by their high byte (the low byte differs), 1-bit pages as black
  // and white.
  static const uint8_t kLevels[] = {0, 90, 200, 255};
  PageSpec bands;
  bands.pixel = [](int x, int y) {
    const uint8_t v = kLevels[(x / 40 + y / 50) % 4];
    return Rgb{v, v, v};
  };
  PageSpec twoTone = bands;
  twoTone.pixel = [](int x, int y) {
    const uint8_t v = ((x / 3 + y / 7) % 2) ? 255 : 0;
    return Rgb{v, v, v};
  };
  const Bytes reference = PrintCommandOf(bands);
  const Bytes twoToneReference = PrintCommandOf(twoTone);
  struct Case {
    const char* name;
    unsigned space, bits;
    int lowByte;
  } cases[] = {
      {"sRGB", 19, 8, -1},       {"AdobeRGB", 20, 8, -1},  {"W", 0, 8, -1},
      {"SW", 18, 8, -1},         {"K", 3, 8, -1},          {"RGB 16-bit", 1, 16, 0x11},
      {"K 16-bit", 3, 16, 0xEE}, {"W 1-bit", 0, 1, -1},    {"K 1-bit", 3, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageSpec page = c.bits == 1 ? twoTone : bands;
    page.colorSpace = c.space;
    page.bits = c.bits;
    page.lowByte = c.lowByte;
    const Bytes printed = PrintCommandOf(page);
    EXPECT_TRUE(printed == (c.bits == 1 ? twoToneReference : reference));
  }
  // The reference card itself: panels of card size, grey where the page is.
  std::vector<uint8_t> command = {0x1B, '$', 'P', 'T', 'S', uint8_t(reference.size() >> 24),
                                  uint8_t(reference.size() >> 16), uint8_t(reference.size() >> 8),
                                  uint8_t(reference.size())};
  command.insert(command.end(), reference.begin(), reference.end());
  command.push_back(0x0D);
  const PtsCommand parsed = ParsePts(command);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const DecodedJpeg colour = DecodeJpeg(parsed.panels.at(0));
  ASSERT_TRUE(colour.ok);
  EXPECT_EQ(colour.width, 1013);
  EXPECT_EQ(colour.height, 643);
  for (int y = 20; y < 643; y += 150) {
    const Rgb m = MeanOf(colour, 480, y, 8);
    EXPECT_LT(std::abs(m.r - m.g) + std::abs(m.g - m.b), 16) << int(m.r) << "," << int(m.g)
                                                             << "," << int(m.b);
  }
}

TEST(DebugFiles, NeverFollowALinkOrWriteAnotherUsersFile) {
  // The image log and the dumps have fixed names in a shared folder. A link
  // planted there, or a file of another user, is left as it was: the image
  // log fails the job before anything is printed (as a log that cannot be
  // created does); a refused dump is skipped and the card is printed.
  const bool root = geteuid() == 0;
  const char* kDumps[] = {"testfile_Decode_1_0", "testfile_MakeShapening_1_2000",
                          "testfile_linux_ptsdata_1_100"};
  struct Case {
    const char* name;
    bool link;        // a link to a file elsewhere; else another user's file
    bool imageLog;    // planted under the image log's name; else the dumps'
  } cases[] = {{"linked image log", true, true},
               {"another user's image log", false, true},
               {"linked dumps", true, false},
               {"another user's dumps", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.link && !root) continue;  // only root can give a file away
    const std::string dir = vkrtest::MakeTempDir();
    std::vector<std::string> names;
    if (c.imageLog) names.push_back("test_pwg.raster");
    else names.assign(std::begin(kDumps), std::end(kDumps));
    std::vector<std::string> victims;
    for (const std::string& name : names) {
      const std::string victim = dir + "/victim_" + name;
      const int fd = open(victim.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      ASSERT_EQ(write(fd, "keep", 4), 4);
      close(fd);
      if (c.link) {
        ASSERT_EQ(symlink(victim.c_str(), (dir + "/" + name).c_str()), 0);
      } else {
        ASSERT_EQ(rename(victim.c_str(), (dir + "/" + name).c_str()), 0);
        ASSERT_EQ(chmod((dir + "/" + name).c_str(), 0666), 0);
        ASSERT_EQ(chown((dir + "/" + name).c_str(), 65534, 65534), 0);
        victims.push_back(dir + "/" + name);
        continue;
      }
      victims.push_back(victim);
    }
    vkrtest::FilterSetup setup;
    setup.tmpDir = dir;
    setup.Options("CardBlackCheck=Check");
    setup.stdinBytes = WriteRaster({Filled(Rgb{128, 128, 128})});
    const vkrtest::FilterRun run = vkrtest::RunFilter(setup);
    for (const std::string& victim : victims) {
      char kept[16] = {0};
      const int fd = open(victim.c_str(), O_RDONLY | O_NOFOLLOW);
      EXPECT_GE(fd, 0) << victim;
      EXPECT_EQ(read(fd, kept, sizeof(kept)), 4) << victim;
      EXPECT_STREQ(kept, "keep");
      close(fd);
    }
    if (c.imageLog) {
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_TRUE(run.LogHas("DEBUG: Image log /tmp/test_pwg.raster not written: ")) << run.log;
      EXPECT_NE(run.PrinterText().find("test_pwg.raster FAIL ("), std::string::npos);
      EXPECT_EQ(run.Codes(), (std::vector<std::string>{"$PJS", "!GVT", "!CRS"}));
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.log;
      EXPECT_EQ(run.Codes(), (std::vector<std::string>{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS"}));
      for (const std::string& name : names)
        EXPECT_TRUE(run.LogHas("DEBUG: Debug file /tmp/" + name + " not written: ")) << name;
      // The files it did write are its own user's alone.
      int written = 0;
      DIR* folder = opendir(dir.c_str());
      ASSERT_NE(folder, nullptr);
      while (const dirent* e = readdir(folder)) {
        struct stat st;
        const std::string name = e->d_name;
        if (name.rfind("test", 0) != 0 ||
            lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
          continue;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
        ++written;
      }
      closedir(folder);
      EXPECT_GE(written, 3);  // the image log and at least two dumps
    }
    vkrtest::RemoveTree(dir);
  }
}
