// Whole print jobs through the real rastertovkr and the printer simulator:
// what reaches the printer for one-sided, two-sided, CMYK and mixed jobs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

const Rgb kRed{230, 20, 20}, kBlue{20, 20, 230}, kGreen{20, 200, 40};
using Codes = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

vkrtest::FilterRun Print(const std::vector<PageSpec>& pages, const std::string& options = "") {
  vkrtest::FilterSetup setup;
  setup.Options(options);
  setup.stdinBytes = WriteRaster(pages);
  return vkrtest::RunFilter(setup);
}

// The preflight, n print commands and the last status poll.
Codes Cards(size_t n) {
  Codes codes = {"$PJS", "!GVT", "!CRS"};
  codes.insert(codes.end(), n, "$PTS");
  codes.push_back("$PJS");
  return codes;
}

// Loose colour checks: the card options' adjustments move colours a little.
bool Reddish(Rgb c) { return c.r > 150 && c.g < 110 && c.b < 110; }
bool Bluish(Rgb c) { return c.b > 150 && c.r < 110 && c.g < 110; }
bool Greenish(Rgb c) { return c.g > 120 && c.r < 110 && c.b < 120; }
bool Greyish(Rgb c) { return c.r > 60 && c.r < 200 && abs(c.r - c.g) < 30 && abs(c.b - c.g) < 30; }

// Whether the colour passes the check, with the colour shown when it does not.
::testing::AssertionResult ColourIs(bool (*test)(Rgb), Rgb c) {
  return test(c) ? ::testing::AssertionSuccess()
                 : ::testing::AssertionFailure() << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

// The print commands of a run that must have ended well, each parsed whole.
std::vector<PtsCommand> Commands(const vkrtest::FilterRun& run, size_t n) {
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Cards(n));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  for (const PtsCommand& c : cmds) EXPECT_TRUE(c.ok) << c.error;
  cmds.resize(n);  // a missing command fails on its first use (at() throws)
  return cmds;
}

// Mean colour of a square of a decoded panel of full card size.
Rgb At(const Bytes& panel, int x = 500, int y = 300) {
  DecodedJpeg j = DecodeJpeg(panel);
  EXPECT_TRUE(j.ok && j.width == 1013 && j.height == 643);
  return j.ok ? MeanOf(j, x, y, 16) : Rgb{0, 0, 0};
}

}  // namespace

TEST(PrintJob, OneSidedRgbCardGoesOutAsOneCommand) {
  // Left part of the page red, the rest blue: the card shows red at the
  // bottom (the page's left edge) and blue at the top.
  PageSpec page;
  page.pixel = [](int x, int) { return x < 321 ? kRed : kBlue; };
  vkrtest::FilterRun run = Print({page});
  const PtsCommand cmd = Commands(run, 1).at(0);
  EXPECT_TRUE(run.LogHas("nline ( 1954077)(1, inheader.Duplex 0)\n"));
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (1)\r\n"));
  EXPECT_TRUE(run.LogHas("[E] OneCmdPrintingEx : 0\r\n"));
  ASSERT_EQ(cmd.blocks.size(), 7u);
  EXPECT_EQ(cmd.blocks[0].params, (Bytes{0, 0}));                 // SOP
  EXPECT_EQ(cmd.blocks[1].params, (Bytes{0, 1, 0, 0x10, 0, 0}));  // SPT
  EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 1, 1, 0}));           // one side, overlay
  EXPECT_NE(cmd.Find('T', 0x00), nullptr);
  EXPECT_EQ(cmd.Find('T', 0x0B), nullptr);  // black extraction is off by default
  ASSERT_EQ(cmd.panels.size(), 2u);
  EXPECT_TRUE(ColourIs(Bluish, At(cmd.panels[0], 500, 100)));
  EXPECT_TRUE(ColourIs(Reddish, At(cmd.panels[0], 500, 500)));
  EXPECT_NE(run.simLog.find("card 1 printed, one-sided"), std::string::npos) << run.simLog;
}

TEST(PrintJob, EveryOverlayOptionShapesTheOverlayPanel) {
  std::vector<Bytes> overlays;
  for (const std::string choice : {"Full", "MS", "ISO", "None"}) {
    SCOPED_TRACE(choice);
    const PtsCommand cmd = Commands(Print({Filled(kGreen)}, "CardFOverlay=" + choice), 1).at(0);
    const bool none = choice == "None";
    EXPECT_EQ(cmd.blocks.at(2).params.at(2), none ? 0 : 1);
    EXPECT_EQ(cmd.Find('T', 0x10) == nullptr, none);
    ASSERT_EQ(cmd.panels.size(), none ? 1u : 2u);
    if (none) break;
    EXPECT_TRUE(DecodeJpeg(cmd.panels[1]).ok);
    for (const Bytes& other : overlays) EXPECT_NE(cmd.panels[1], other);
    overlays.push_back(cmd.panels[1]);
  }
}

TEST(PrintJob, TwoSidedCardGoesOutInOneCommandFrontFirst) {
  // A K page (0 is white) of mid grey as the front, an RGB back.
  PageSpec kPage = Filled(Rgb{128, 128, 128}, true);
  kPage.colorSpace = CUPS_CSPACE_K;
  vkrtest::FilterRun run = Print({kPage, Filled(kBlue, true)});
  const PtsCommand cmd = Commands(run, 1).at(0);
  EXPECT_TRUE(run.LogHas("test PAGE: 2 1\n"));
  EXPECT_TRUE(run.LogHas("nline (Duplex nColorType 16)\n"));
  EXPECT_TRUE(run.LogHas("nline (Duplex nColorType 32)\n"));
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (3)\r\n"));
  ASSERT_EQ(cmd.blocks.size(), 10u);
  EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 3, 3, 0}));  // two sides, two overlays
  EXPECT_EQ(cmd.blocks[4].params[1], 0x30);
  EXPECT_EQ(cmd.blocks[7].code, 'O');
  EXPECT_EQ(cmd.blocks[7].params[0], 0x80);
  EXPECT_NE(cmd.Find('B', 0x80), nullptr);
  EXPECT_NE(cmd.Find('B', 0x90), nullptr);
  ASSERT_EQ(cmd.panels.size(), 4u);
  EXPECT_TRUE(ColourIs(Greyish, At(cmd.panels[0])));
  EXPECT_TRUE(ColourIs(Bluish, At(cmd.panels[2])));
}

TEST(PrintJob, OddDuplexPageCountSendsTheLastFrontAlone) {
  vkrtest::FilterRun run = Print({Filled(kRed, true), Filled(kBlue, true), Filled(kGreen, true)});
  std::vector<PtsCommand> cmds = Commands(run, 2);
  const size_t note =
      run.LogAt("DEBUG: Last card front has no back; printing it as a one-sided card.\n");
  ASSERT_NE(note, std::string::npos);
  EXPECT_LT(note, run.LogAt("[S] PrintPendingFront\r\n"));
  EXPECT_LT(run.LogAt("[E] PrintPendingFront : 0\r\n"), run.log.rfind("DEBUG: pJob[0] = 0\n"));
  EXPECT_EQ(cmds[0].blocks.at(2).params.at(1), 3);
  EXPECT_EQ(cmds[1].blocks.at(2).params, (Bytes{0, 1, 1, 0}));  // one side
  EXPECT_EQ(cmds[1].Find('B', 0x80), nullptr);
  ASSERT_EQ(cmds[1].panels.size(), 2u);  // its colour and its overlay
  EXPECT_TRUE(ColourIs(Greenish, At(cmds[1].panels[0])));
}

TEST(PrintJob, PagesOfEachKindAndSizePrintOneCardEach) {
  // A small page first, so the later ones grow the page buffer; then a CMYK
  // page, a 16-bit page printed from its high bytes, and a wide one.
  // Last a 1-bit W page, black on its left half.
  PageSpec small = Filled(kBlue), cmyk = Filled(kRed), deep = Filled(kBlue), wide = Filled(kRed);
  PageSpec oneBit;
  small.width = small.height = 100;
  cmyk.colorSpace = CUPS_CSPACE_CMYK;
  deep.bits = 16, deep.lowByte = 0xFF;
  wide.width = 1100, wide.height = 700;
  oneBit.colorSpace = CUPS_CSPACE_W, oneBit.bits = 1;
  oneBit.pixel = [](int x, int) { return x < 321 ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; };
  vkrtest::FilterRun run = Print({small, cmyk, deep, wide, oneBit});
  std::vector<PtsCommand> cmds = Commands(run, 5);
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (256)\r\n"));
  EXPECT_TRUE(run.LogHas("[VKCL_PTSEx] nTxSize 1957170 i 1957116 j 2605436\n"));
  EXPECT_TRUE(run.LogHas("test linesize: 3858\n"));
  EXPECT_TRUE(run.LogHas("nline ( 2310000)(0, inheader.Duplex 0)\n"));
  EXPECT_TRUE(run.LogHas("VKCL_PTSEx nTxSize 2310000, dw 1100, dh 700\n"));
  EXPECT_EQ(cmds[1].blocks.at(2).params.at(1), 1);
  EXPECT_TRUE(ColourIs(Reddish, At(cmds[1].panels.at(0), 900, 20)));
  EXPECT_TRUE(ColourIs(Reddish, At(cmds[1].panels.at(0), 20, 600)));
  EXPECT_TRUE(ColourIs(Bluish, At(cmds[2].panels.at(0))));
  EXPECT_LT(At(cmds[4].panels.at(0), 500, 500).r, 60);
  EXPECT_GT(At(cmds[4].panels.at(0), 500, 100).r, 200);
  // A two-sided card whose back differs in size from its front.
  PageSpec front = Filled(kRed, true), back = small;
  back.duplex = true;
  Commands(Print({front, back}), 1);
}
