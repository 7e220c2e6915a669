// The raster page loop through the real filter and the simulator: streams cut
// short at every stage, refused and unreadable headers, margins from the
// imaging box, the image-log copy, and the debug files' fixed names taken by
// a link or another user's file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;
using H = cups_page_header2_t;

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<std::string>;
const Codes kRefused = {"$PJS", "!GVT", "!CRS"};
const Codes kOneCard = {"$PJS", "!GVT", "!CRS", "$PTS", "$PJS"};
const Codes kFirstCardOnly = {"$PJS", "!GVT", "!CRS", "$PTS"};
const char kU[] = "ERROR: Unsupported raster data.\n";
const char kReadError[] = "ERROR: Error reading raster data.\n";
const char kNoPages[] = "ERROR: No pages were found.\n";

PageSpec Grey() { return Filled(Rgb{128, 128, 128}); }

// One page written by libcups, changed by set first.
Bytes Spec(std::function<void(PageSpec&)> set) {
  PageSpec p = Grey();
  set(p);
  return WriteRaster({p});
}

// An uncompressed raster (sync word "RaS3") of the grey card's header changed
// by set, so that headers libcups's writer would not produce can be tried;
// then `bytes` of pixel data (-1: what the header's lines make).
Bytes Raw(std::function<void(H&)> set, long bytes = -1) {
  H h = HeaderOf(Grey());
  set(h);
  const uint32_t sync = CUPS_RASTER_SYNC;
  Bytes out(4 + sizeof(h) + (bytes < 0 ? size_t(h.cupsBytesPerLine) * h.cupsHeight : size_t(bytes)),
            0x80);
  memcpy(out.data(), &sync, 4);
  memcpy(out.data() + 4, &h, sizeof(h));
  return out;
}

vkrtest::FilterRun RunOn(const Bytes& input, const std::string& options = "") {
  vkrtest::FilterSetup setup;
  setup.Options(options);
  setup.stdinBytes = input;
  return vkrtest::RunFilter(setup);
}

bool AllFramesWhole(const vkrtest::FilterRun& run) {
  for (const vkrsim::Frame& f : run.frames)
    if (!f.complete || !f.closedByCr) return false;
  return true;
}

PageSpec Black() { return Filled(Rgb{0, 0, 0}); }

}  // namespace

TEST(PageLoop, EveryInputEndsInItsDefinedOutcome) {
  const Bytes two = WriteRaster({Grey(), Grey()});
  const size_t header = sizeof(H), line = 643 * 3, page = header + line * 1013;
  ASSERT_EQ(two.size(), 4 + 2 * page);
  auto cut = [&](size_t n) { return Bytes(two.begin(), two.begin() + long(n)); };
  PageSpec oneBit = Grey();
  oneBit.bits = 1;
  auto huge = [](float points) {  // a raster of 10 x 10 pixels on a page of this size
    return Raw([points](H& h) {
      h.cupsWidth = h.cupsHeight = 10, h.cupsBytesPerLine = 30;
      h.cupsPageSize[0] = h.cupsPageSize[1] = h.cupsImagingBBox[2] = h.cupsImagingBBox[3] = points;
    });
  };
  const float margin500 = PointsFor(500, 300);
  struct Row {
    const char* name;
    Bytes input;
    std::vector<std::string> lines;
    int exit = 1;
    Codes codes = kRefused;
    const char* options = "";
  } rows[] = {
      // Streams cut short: no pages is an empty job; a header cut short fails it; a cut
      // second page fails the job after the first card, so it is not reported as printed.
      {"sync word only", cut(4), {}, 0, {"$PJS", "!GVT", "!CRS", "$PJS"}},
      {"inside the first header", cut(4 + 900), {kNoPages}},
      {"last line of the page", cut(4 + page - 1),
       {kReadError, "DEBUG: Unable to read line 1013 for page 1.\n"}},
      {"inside the second header", cut(4 + page + 500),
       {kReadError, "DEBUG: Unable to read the header of page 2.\n"}, 1, kFirstCardOnly},
      {"inside the second page", cut(4 + page + header + line * 10),
       {kReadError, "DEBUG: Unable to read line 11 for page 2.\n"}, 1, kFirstCardOnly},
      // Headers libcups reads no page from.
      {"libcups refuses the header",
       Raw([](H& h) { h.cupsWidth = 1000000000, h.cupsBytesPerLine = 3000000000u; }, 6000),
       {kNoPages}},
      {"zero height", Raw([](H& h) { h.cupsHeight = 0; }), {kNoPages}},
      // Headers the filter refuses before anything is sent.
      {"RGBA", Spec([](PageSpec& p) { p.colorSpace = 2, p.bpp = 32; }),
       {kU, "DEBUG: Unsupported cupsColorSpace 2 on page 1.\n"}},
      {"banded", Spec([](PageSpec& p) { p.order = CUPS_ORDER_BANDED, p.bpp = 8; }),
       {kU, "DEBUG: Unsupported cupsColorOrder 1 on page 1.\n"}},
      // Width 644: whole 2-byte pixel groups per line, as libcups requires.
      {"4 bits", Spec([](PageSpec& p) { p.bits = 4, p.bpp = 12, p.width = 644; }),
       {kU, "DEBUG: Unsupported cupsBitsPerColor 4 on page 1.\n"}},
      {"tall raster", Spec([](PageSpec& p) { p.pageHeight = 1013, p.bottom = 10; }),
       {kU, "DEBUG: Bad bottom/left/top margin on page 1.\n"}},
      {"left margin", Spec([](PageSpec& p) { p.width = 10, p.pageWidth = 643, p.left = 700; }),
       {kU, "DEBUG: Bad bottom/left/top margin on page 1.\n"}},
      {"exactly the page less its margin",
       Raw([&](H& h) { h.cupsImagingBBox[1] = margin500, h.cupsHeight = 513; }),
       {"test page_top: 0\n", "test page_bottom: 500\n"}, 0, kOneCard},
      // 60000 points at 300 dpi: 250000 pixels a side.
      {"huge page", huge(60000),
       {kU, "DEBUG: Page size 250000 x 250000 pixels is larger than 16384 pixels a side on page"}},
      {"out of range", huge(1e12f),
       {kU, "DEBUG: Page size 4294967295 x 4294967295 pixels is larger than 16384 pixels a side"}},
      {"width x resolution past 32 bits",
       Raw([](H& h) { h.cupsPageSize[0] = 65536, h.HWResolution[0] = 65537; }),
       {kU, "DEBUG: Page size 59653233 x 1013 pixels is larger than 16384 pixels a side"}},
      // 16000 x 16000 RGB pixels fit the side limit but not 256 MiB.
      {"huge buffer", huge(3840),
       {kU, "DEBUG: Page buffer of 768129000 bytes is larger than 268435456 bytes on page 1.\n"}},
      {"wide raster", Spec([](PageSpec& p) {
         p.width = 20000, p.height = 2, p.pageWidth = 643, p.pageHeight = 1013;
       }), {kU, "DEBUG: Raster width 20000 is larger than 16384 pixels on page 1.\n"}},
      {"line of 2 GiB", Raw([](H& h) { h.cupsBytesPerLine = 0x7FFFFFFEu; }, 6000),
       {kU, "DEBUG: cupsBytesPerLine 2147483646 does not match cupsWidth 643 at 24 bits a pixel"}},
      {"1-bit RGB", WriteRaster({oneBit}),
       {kU, "DEBUG: Unsupported 1-bit pixels in cupsColorSpace 1 on page 1.\n"}},
      // RGB with a fourth byte the print call would take for the next pixel.
      {"RGB 32 bpp", Spec([](PageSpec& p) { p.bpp = 32; }),
       {kU, "DEBUG: Unsupported cupsBitsPerPixel 32 for cupsColorSpace 1 on page 1.\n"}},
      // Zero pixels across: lines of no bytes, which the image-log copy could not write.
      {"zero horizontal resolution", Raw([](H& h) { h.HWResolution[0] = 0; }),
       {kU, "DEBUG: Empty page frame (0 x 1013 pixels) on page 1.\n"}, 1, kRefused,
       "CardBlackCheck=Check"},
      {"refused page after a good one", WriteRaster({Black(), oneBit}),
       {kU, "DEBUG: Unsupported 1-bit pixels in cupsColorSpace 1 on page 2.\n"}, 1,
       kFirstCardOnly},
      // A raster wider than its page: each line is cut at the page's edge.
      {"raster wider than the page",
       Raw([](H& h) { h.cupsWidth = 700, h.cupsBytesPerLine = 700 * 3; }),
       {"test linesize: 1929\n", "VKCL_PTSEx nTxSize 1954077, dw 643, dh 1013\n"}, 0, kOneCard},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const vkrtest::FilterRun run = RunOn(r.input, r.options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, r.exit) << run.log;
    EXPECT_EQ(run.Codes(), r.codes);
    for (const std::string& l : r.lines) EXPECT_TRUE(run.LogHas(l)) << l << "\n" << run.log;
    EXPECT_TRUE(AllFramesWhole(run));
    EXPECT_EQ(run.LogHas("ERROR: "), r.exit != 0) << run.log;
  }
}

TEST(PageLoop, ImagingBoxMarginsAreWhiteOnTheCardAndInTheImageLog) {
  // A black raster of 643 x 1013 on a 663 x 1023 page, 10 pixels from the
  // left and 5 from the bottom: the frame has 5 white lines on top.
  PageSpec page = Black();
  page.left = 10, page.bottom = 5, page.pageWidth = 663, page.pageHeight = 1023;
  const std::string tmp = vkrtest::MakeTempDir();
  std::ofstream(tmp + "/test_pwg.raster") << std::string(100, 'x');  // truncated, not appended to
  vkrtest::FilterSetup setup;
  setup.Options("CardBlackCheck=Check print-quality=4 print-content-optimize=photo "
                "print-rendering-intent=perceptual");
  setup.stdinBytes = WriteRaster({page});
  setup.tmpDir = tmp;
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("test page_width: 663\ntest page_height: 1023\ntest page_left: 10\n"
                         "test page_bottom: 5\ntest page_top: 5\ntest linesize: 1989\n"
                         "test lineoffset: 30\n"));
  EXPECT_TRUE(run.LogHas("nline ( 2034747)(1, inheader.Duplex 0)\n"));  // 1023 lines of 1989
  EXPECT_TRUE(run.LogHas("DEBUG: nCheck ImageLog SetDEBUG: fileno ")) << run.log;
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  DecodedJpeg card = DecodeJpeg(cmds[0].panels[0]);
  ASSERT_TRUE(card.ok && card.width == 1023 && card.height == 663);
  EXPECT_LT(MeanOf(card, 500, 300, 16).r, 80);   // the raster
  EXPECT_GT(MeanOf(card, 500, 655, 6).r, 200);   // page's left margin: card bottom
  EXPECT_GT(MeanOf(card, 500, 1, 6).r, 200);     // right of the raster: card top
  EXPECT_GT(MeanOf(card, 0, 300, 3).r, 200);     // page top lines: card left edge
  EXPECT_GT(MeanOf(card, 1020, 300, 3).r, 200);  // page bottom lines: card right edge

  // The image log: the whole frame, with the page options in its header.
  const int fd = open((tmp + "/test_pwg.raster").c_str(), O_RDONLY);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  H h;
  ASSERT_TRUE(cupsRasterReadHeader2(ras, &h));
  EXPECT_EQ(h.cupsWidth, 663u);
  EXPECT_EQ(h.cupsHeight, 1023u);
  EXPECT_EQ(h.cupsBytesPerLine, 1989u);
  EXPECT_EQ(h.cupsInteger[8], 4u);
  EXPECT_STREQ(h.OutputType, "Photo");
  EXPECT_STREQ(h.cupsRenderingIntent, "Perceptual");
  std::vector<Bytes> lines;
  for (Bytes l(1989); lines.size() < 1023 && cupsRasterReadPixels(ras, l.data(), 1989) == 1989;)
    lines.push_back(l);
  cupsRasterClose(ras);
  close(fd);
  ASSERT_EQ(lines.size(), 1023u);
  Bytes white(1989, 255), data = white;
  std::fill(data.begin() + 30, data.begin() + 30 + 1929, 0);
  for (size_t y : {0, 4, 1018, 1022}) EXPECT_EQ(lines[y], white) << y;
  for (size_t y : {5, 1017}) EXPECT_EQ(lines[y], data) << y;
  // It also keeps the whole print command as it was written: between the
  // three 10-byte preflight frames and the last "$PJS".
  std::ifstream dumpFile(tmp + "/testfile_linux_ptsdata_1_100", std::ios::binary);
  const Bytes dump((std::istreambuf_iterator<char>(dumpFile)), std::istreambuf_iterator<char>());
  vkrtest::RemoveTree(tmp);
  ASSERT_GT(run.printerBytes.size(), 40u);
  EXPECT_EQ(dump, Bytes(run.printerBytes.begin() + 30, run.printerBytes.end() - 10));
}

TEST(DebugFiles, NeverFollowALinkOrWriteAnotherUsersFile) {
  // The image log and the dumps have fixed names in a shared folder. A link
  // planted there, or a file of another user, is left as it was: the image
  // log fails the job before anything is printed (as a log that cannot be
  // created does); a refused dump is skipped and the card is printed.
  using Names = std::vector<std::string>;
  // A link to a file elsewhere or another user's file, under the image log's name or the dumps'.
  for (int k = 0; k < 4; ++k) {
    const bool imageLog = k < 2, link = k % 2 == 0;
    SCOPED_TRACE(std::string(link ? "linked " : "another user's ") + (imageLog ? "log" : "dumps"));
    if (!link && geteuid() != 0) continue;  // only root can give a file away
    const std::string dir = vkrtest::MakeTempDir();
    const Names names = imageLog ? Names{"test_pwg.raster"}
                                 : Names{"testfile_Decode_1_0", "testfile_MakeShapening_1_2000",
                                         "testfile_linux_ptsdata_1_100"};
    Names victims;
    for (const std::string& name : names) {
      const std::string path = dir + "/" + name, victim = link ? dir + "/victim_" + name : path;
      std::ofstream(victim) << "keep";
      if (link) ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
      else ASSERT_EQ(chown(path.c_str(), 65534, 65534) | chmod(path.c_str(), 0666), 0);
      victims.push_back(victim);
    }
    vkrtest::FilterSetup setup;
    setup.tmpDir = dir;
    setup.Options("CardBlackCheck=Check");
    setup.stdinBytes = WriteRaster({Filled(Rgb{128, 128, 128})});
    const vkrtest::FilterRun run = vkrtest::RunFilter(setup);
    for (const std::string& victim : victims) {
      std::stringstream kept;
      kept << std::ifstream(victim).rdbuf();
      EXPECT_EQ(kept.str(), "keep") << victim;
    }
    if (imageLog) {
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_TRUE(run.LogHas("DEBUG: Image log /tmp/test_pwg.raster not written: ")) << run.log;
      EXPECT_NE(run.PrinterText().find("test_pwg.raster FAIL ("), std::string::npos);
      EXPECT_EQ(run.Codes(), kRefused);
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.log;
      EXPECT_EQ(run.Codes(), kOneCard);
      for (const std::string& name : names)
        EXPECT_TRUE(run.LogHas("DEBUG: Debug file /tmp/" + name + " not written: ")) << name;
      // The files it did write are its own user's alone.
      int written = 0;
      DIR* folder = opendir(dir.c_str());
      for (const dirent* e; folder && (e = readdir(folder));) {
        struct stat st;
        const std::string name = e->d_name, path = dir + "/" + name;
        if (name.rfind("test", 0) != 0 || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
          continue;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
        ++written;
      }
      if (folder) closedir(folder);
      EXPECT_GE(written, 3);  // the image log and at least two dumps
    }
    vkrtest::RemoveTree(dir);
  }
}
