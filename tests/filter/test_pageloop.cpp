// The raster page loop and the completion wait through the real filter:
// refused pages, a broken-off raster, margins from the imaging box, the
// image-log copy, busy and failing status polls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

using Codes = std::vector<std::string>;
const Codes kPreflight = {"$PJS", "!GVT", "!CRS"};

vkrtest::FilterRun Print(const std::vector<PageSpec>& pages, const std::string& options = "",
                         const std::vector<std::string>& rules = {}, size_t cut = 0) {
  vkrtest::FilterSetup setup;
  setup.Options(options);
  setup.stdinBytes = WriteRaster(pages, cut);
  setup.simRules = rules;
  return vkrtest::RunFilter(setup);
}

PageSpec Black() { return Filled(Rgb{0, 0, 0}); }

}  // namespace

TEST(PageLoop, RefusedHeadersEndTheJobBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    PageSpec page;
    const char* debug;
  };
  auto page = [](std::function<void(PageSpec&)> set) {
    PageSpec p;
    set(p);
    return p;
  };
  auto huge = [&](float points) {
    return page([points](PageSpec& p) {
      p.width = p.height = 10;
      p.pointsGiven = true;
      p.pagePoints[0] = p.pagePoints[1] = points;
    });
  };
  const std::vector<Case> cases = {
      {"RGBA", page([](PageSpec& p) { p.colorSpace = 2; p.bpp = 32; }),
       "DEBUG: Unsupported cupsColorSpace 2 on page 1.\n"},
      {"CMY", page([](PageSpec& p) { p.colorSpace = 4; p.bpp = 24; }),
       "DEBUG: Unsupported cupsColorSpace 4 on page 1.\n"},
      {"banded", page([](PageSpec& p) { p.order = CUPS_ORDER_BANDED; p.bpp = 8; }),
       "DEBUG: Unsupported cupsColorOrder 1 on page 1.\n"},
      // Width 644: whole 2-byte pixel groups per line, as libcups requires.
      {"4 bits", page([](PageSpec& p) { p.bits = 4; p.bpp = 12; p.width = 644; }),
       "DEBUG: Unsupported cupsBitsPerColor 4 on page 1.\n"},
      {"tall raster", page([](PageSpec& p) { p.pageHeight = 1013; p.bottom = 10; }),
       "DEBUG: Bad bottom/left/top margin on page 1.\n"},
      {"left margin", page([](PageSpec& p) { p.width = 10; p.pageWidth = 643; p.left = 700; }),
       "DEBUG: Bad bottom/left/top margin on page 1.\n"},
      // 60000 points at 300 dpi: 250000 pixels a side.
      {"huge page", huge(60000),
       "DEBUG: Page size 250000 x 250000 pixels is larger than 16384 pixels a side on page 1.\n"},
      // 16000 x 16000 RGB pixels fit the side limit but not 256 MiB.
      {"huge buffer", huge(3840),
       "DEBUG: Page buffer of 768129000 bytes is larger than 268435456 bytes on page 1.\n"},
      // Sizes whose 32-bit product (linesize + 8) x height + 1000 wraps.
      {"wrapping sizes", huge(1e9f), "pixels is larger than 16384 pixels a side on page 1.\n"},
      {"out of range", huge(1e12f),
       "DEBUG: Page size 4294967295 x 4294967295 pixels is larger than 16384 pixels a side on page 1.\n"},
      {"wide raster",
       page([](PageSpec& p) { p.width = 20000; p.height = 2; p.pageWidth = 643; p.pageHeight = 1013; }),
       "DEBUG: Raster width 20000 is larger than 16384 pixels on page 1.\n"},
      {"1-bit RGB", page([](PageSpec& p) { p.bits = 1; }),
       "DEBUG: Unsupported 1-bit pixels in cupsColorSpace 1 on page 1.\n"},
      {"1-bit CMYK", page([](PageSpec& p) { p.bits = 1; p.colorSpace = CUPS_CSPACE_CMYK; }),
       "DEBUG: Unsupported 1-bit pixels in cupsColorSpace 6 on page 1.\n"},
      // RGB with a fourth byte the print call would take for the next pixel.
      {"RGB 32 bpp", page([](PageSpec& p) { p.bpp = 32; }),
       "DEBUG: Unsupported cupsBitsPerPixel 32 for cupsColorSpace 1 on page 1.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vkrtest::FilterRun run = Print({c.page});
    EXPECT_EQ(run.exitStatus, 1) << run.log;
    EXPECT_TRUE(run.LogHas("ERROR: Unsupported raster data.\n")) << run.log;
    EXPECT_TRUE(run.LogHas(c.debug)) << run.log;
    EXPECT_EQ(run.Codes(), kPreflight);
    EXPECT_FALSE(run.LogHas("Copy raster data..."));
  }
}

TEST(PageLoop, RefusedPageAfterAGoodOneSendsOnlyTheGoodCard) {
  PageSpec bad;
  bad.bits = 1;
  vkrtest::FilterRun run = Print({Black(), bad});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.LogHas("DEBUG: Unsupported 1-bit pixels in cupsColorSpace 1 on page 2.\n"));
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS"}));
}

TEST(PageLoop, BrokenOffRasterNamesTheLineItCouldNotRead) {
  // The last line loses 1000 of its 1929 bytes.
  vkrtest::FilterRun run = Print({Black()}, "", {}, 1000);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.LogHas("ERROR: Error reading raster data.\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: Unable to read line 1013 for page 1.\n"));
  EXPECT_EQ(run.Codes(), kPreflight);
}

TEST(PageLoop, ImagingBoxMarginsAreWhiteOnTheCard) {
  // A black raster of 643 x 1013 on a 663 x 1023 page, 10 pixels from the
  // left and 5 from the bottom: the frame has 5 white lines on top.
  PageSpec page = Black();
  page.left = 10;
  page.bottom = 5;
  page.pageWidth = 663;
  page.pageHeight = 1023;
  vkrtest::FilterRun run = Print({page});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("test page_width: 663\ntest page_height: 1023\ntest page_left: 10\n"
                         "test page_bottom: 5\ntest page_top: 5\ntest linesize: 1989\n"
                         "test lineoffset: 30\n"));
  // The whole frame is handed over: 1023 lines of 1989 bytes.
  EXPECT_TRUE(run.LogHas("nline ( 2034747)(1, inheader.Duplex 0)\n"));
  EXPECT_TRUE(run.LogHas("VKCL_PTSEx nTxSize 2034747, dw 663, dh 1023\n"));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  DecodedJpeg card = DecodeJpeg(cmds[0].panels[0]);
  ASSERT_TRUE(card.ok);
  ASSERT_EQ(card.width, 1023);
  ASSERT_EQ(card.height, 663);
  EXPECT_LT(MeanOf(card, 500, 300, 16).r, 80);   // the raster
  EXPECT_GT(MeanOf(card, 500, 655, 6).r, 200);   // page's left margin: card bottom
  EXPECT_GT(MeanOf(card, 500, 1, 6).r, 200);     // right of the raster: card top
  EXPECT_GT(MeanOf(card, 0, 300, 3).r, 200);     // page top lines: card left edge
  EXPECT_GT(MeanOf(card, 1020, 300, 3).r, 200);  // page bottom lines: card right edge
}

TEST(PageLoop, ImageLogCopyCarriesTheFrameAndThePageOptions) {
  const std::string tmp = vkrtest::MakeTempDir();
  std::ofstream(tmp + "/test_pwg.raster") << std::string(100000, 'x');  // truncated, not appended to
  PageSpec page = Black();
  page.width = 20;
  page.height = 30;
  page.left = 2;
  page.bottom = 1;
  page.pageWidth = 24;
  page.pageHeight = 33;
  vkrtest::FilterSetup setup;
  setup.Options(
      "CardBlackCheck=Check print-quality=4 print-content-optimize=photo "
      "print-rendering-intent=perceptual");
  setup.stdinBytes = WriteRaster({page});
  setup.tmpDir = tmp;
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("DEBUG: nCheck ImageLog SetDEBUG: fileno ")) << run.log;
  const int fd = open((tmp + "/test_pwg.raster").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  ASSERT_TRUE(cupsRasterReadHeader2(ras, &h));
  EXPECT_EQ(h.cupsWidth, 24u);
  EXPECT_EQ(h.cupsHeight, 33u);
  EXPECT_EQ(h.cupsBytesPerLine, 72u);
  EXPECT_EQ(h.cupsInteger[8], 4u);
  EXPECT_EQ(h.cupsInteger[14], 0u);
  EXPECT_EQ(h.cupsInteger[15], 0u);
  EXPECT_STREQ(h.OutputType, "Photo");
  EXPECT_STREQ(h.cupsRenderingIntent, "Perceptual");
  std::vector<uint8_t> line(h.cupsBytesPerLine);
  std::vector<std::vector<uint8_t>> lines;
  while (lines.size() < h.cupsHeight &&
         cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine)
    lines.push_back(line);
  cupsRasterClose(ras);
  EXPECT_LT(lseek(fd, 0, SEEK_END), 100000);
  close(fd);
  // The image log also keeps the whole print command as it was written.
  std::vector<uint8_t> dump;
  {
    const int d = open((tmp + "/testfile_linux_ptsdata_1_100").c_str(), O_RDONLY);
    ASSERT_GE(d, 0);
    uint8_t buf[65536];
    ssize_t n;
    while ((n = read(d, buf, sizeof(buf))) > 0) dump.insert(dump.end(), buf, buf + n);
    close(d);
  }
  vkrtest::RemoveTree(tmp);
  // Between the three 10-byte preflight frames and the last "$PJS".
  ASSERT_GT(run.printerBytes.size(), 40u);
  EXPECT_EQ(dump, std::vector<uint8_t>(run.printerBytes.begin() + 30, run.printerBytes.end() - 10));
  ASSERT_EQ(lines.size(), 33u);
  const std::vector<uint8_t> white(72, 255);
  EXPECT_EQ(lines[0], white);  // two lines on top: 33 - 1 - 30
  EXPECT_EQ(lines[1], white);
  std::vector<uint8_t> data(72, 255);
  std::fill(data.begin() + 6, data.begin() + 66, 0);
  EXPECT_EQ(lines[2], data);
  EXPECT_EQ(lines[31], data);
  EXPECT_EQ(lines[32], white);  // one line at the bottom
}

TEST(PageLoop, EmptyInputStillWaitsForTheJobToEnd) {
  vkrtest::FilterSetup setup;
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PJS"}));
  EXPECT_FALSE(run.LogHas("OneCmdPrintingEx"));
}

// The INFO lines are what CUPS shows as the job's state message.
const char kWaiting[] = "INFO: Waiting for the printer to finish the card\n";
const char kBusy[] = "INFO: The printer is still printing the card\n";
const char kFinished[] = "INFO: The printer has finished the card\n";

size_t Count(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size()) ++n;
  return n;
}

TEST(CompletionWait, BusyPrinterIsPolledUntilTheJobEnds) {
  vkrtest::FilterRun run = Print({Black()}, "",
                                 {"$PJS ack 00 07 00 00 00 00 00",
                                  "$PJS ack 01 07 02 03 04 05 06 times=3",
                                  "$PJS ack 00 07 00 00 00 00 00"});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(),
            (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$PJS", "$PJS", "$PJS"}));
  EXPECT_EQ(Count(run.log, "DEBUG: PJS[nRet=0][1][7][2][3][4][5][6]\r\n"), 3u);
  EXPECT_EQ(Count(run.log, kWaiting), 1u);
  EXPECT_EQ(Count(run.log, kBusy), 3u) << "one line per poll that finds the printer busy";
  EXPECT_EQ(Count(run.log, kFinished), 1u);
  // In order: the card is sent, the wait starts, the busy polls, the end.
  const size_t waiting = run.LogAt(kWaiting);
  EXPECT_LT(run.LogAt("OneCmdPrintingEx"), waiting);
  EXPECT_LT(waiting, run.LogAt("DEBUG: PJS[nRet=0][1][7]"));
  const size_t idle = run.log.rfind("DEBUG: PJS[nRet=0][0][7][0][0][0][0][0]\r\n");
  ASSERT_NE(idle, std::string::npos);
  const size_t idleJob = run.log.rfind("DEBUG: pJob[0] = 0\n");
  EXPECT_LT(run.log.rfind(kBusy), idleJob);
  EXPECT_LT(idle, idleJob);
  EXPECT_LT(idleJob, run.LogAt(kFinished));
}

TEST(CompletionWait, SilentPollRecoversThePrinterAndEndsTheJob) {
  vkrtest::FilterRun run =
      Print({Black()}, "", {"$PJS ack 00 07 00 00 00 00 00", "$PJS silent"});
  // All pages were sent before the wait: a cleared printer ends the job normally.
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(),
            (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$CPJ", "!CSS", "!RCE"}));
  // The job number is the one of the last good status reply.
  ASSERT_EQ(run.frames[5].params, (std::vector<uint8_t>{0x07}));
  EXPECT_TRUE(run.LogHas("DEBUG: PJS[nRet=-1][0][7][0][0][0][0][0]\r\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: CheckPrinterStatus Code [0][00]\n"));
  EXPECT_EQ(run.log.find("ERROR:"), std::string::npos) << run.log;
  EXPECT_FALSE(run.log.rfind("DEBUG: pJob[0] = 0\n") > run.LogAt("$PTS"));
  // Whether the card came out is not known: nothing says it has finished.
  EXPECT_TRUE(run.LogHas(kWaiting));
  EXPECT_FALSE(run.LogHas(kBusy));
  EXPECT_FALSE(run.LogHas(kFinished));
}

TEST(CompletionWait, RecoveryThatCannotCancelReportsIt) {
  vkrtest::FilterRun run = Print(
      {Black()}, "", {"$PJS ack 00 07 00 00 00 00 00", "$PJS silent", "$CPJ nak"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$CPJ"}));
  EXPECT_TRUE(run.LogHas("ERROR: CancelPrintJob :: Fail !!, nRet = [9]\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: CancelPrintJob Error 9\n"));
}
