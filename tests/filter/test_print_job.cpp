// Whole print jobs through the real rastertovkr and the printer simulator:
// what reaches the printer for one-sided, two-sided, CMYK and mixed jobs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

const Rgb kRed{230, 20, 20};
const Rgb kBlue{20, 20, 230};
const Rgb kGreen{20, 200, 40};
const Rgb kWhite{255, 255, 255};

using Codes = std::vector<std::string>;

vkrtest::FilterRun Print(const std::vector<PageSpec>& pages, const std::string& options = "") {
  vkrtest::FilterSetup setup;
  setup.Options(options);
  setup.stdinBytes = WriteRaster(pages);
  return vkrtest::RunFilter(setup);
}

Codes Preflight(std::initializer_list<const char*> then) {
  Codes codes = {"$PJS", "!GVT", "!CRS"};
  for (const char* c : then) codes.push_back(c);
  return codes;
}

// Loose colour checks: the card options' adjustments move colours a little.
bool Reddish(Rgb c) { return c.r > 150 && c.g < 110 && c.b < 110; }
bool Bluish(Rgb c) { return c.b > 150 && c.r < 110 && c.g < 110; }
bool Greenish(Rgb c) { return c.g > 120 && c.r < 110 && c.b < 120; }
bool Whitish(Rgb c) { return c.r > 220 && c.g > 220 && c.b > 220; }

::testing::AssertionResult ColourIs(bool (*test)(Rgb), Rgb c) {
  if (test(c)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "colour (" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

const PtsBlock* Block(const PtsCommand& cmd, uint8_t code, uint8_t type) {
  return cmd.Find(code, type);
}

}  // namespace

TEST(PrintJob, OneSidedRgbCardGoesOutAsOneCommand) {
  // Left part of the page red, the rest blue: the card shows red at the
  // bottom (the page's left edge) and blue at the top.
  PageSpec page;
  page.pixel = [](int x, int) { return x < 321 ? kRed : kBlue; };
  vkrtest::FilterRun run = Print({page});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Preflight({"$PTS", "$PJS"}));
  EXPECT_TRUE(run.LogHas("test page_width: 643\ntest page_height: 1013\n"));
  EXPECT_TRUE(run.LogHas("nline ( 1954077)(1, inheader.Duplex 0)\n"));
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (1)\r\n"));
  EXPECT_TRUE(run.LogHas("[E] OneCmdPrintingEx : 0\r\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: pJob[0] = 0\n"));

  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  const PtsCommand& cmd = cmds[0];
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.blocks[0].params, (std::vector<uint8_t>{0, 0}));               // SOP
  EXPECT_EQ(cmd.blocks[1].params, (std::vector<uint8_t>{0, 1, 0, 0x10, 0, 0}));  // SPT
  EXPECT_EQ(cmd.blocks[2].params, (std::vector<uint8_t>{0, 1, 1, 0}));  // one side, overlay
  ASSERT_EQ(cmd.blocks.size(), 7u);
  EXPECT_NE(Block(cmd, 'T', 0x00), nullptr);
  EXPECT_NE(Block(cmd, 'T', 0x10), nullptr);  // the full overlay of the default options
  EXPECT_EQ(Block(cmd, 'T', 0x0B), nullptr);  // black extraction is off by default

  ASSERT_EQ(cmd.panels.size(), 2u);
  DecodedJpeg colour = DecodeJpeg(cmd.panels[0]);
  DecodedJpeg overlay = DecodeJpeg(cmd.panels[1]);
  ASSERT_TRUE(colour.ok && overlay.ok);
  EXPECT_EQ(colour.width, 1013);
  EXPECT_EQ(colour.height, 643);
  EXPECT_EQ(overlay.width, 1013);
  EXPECT_EQ(overlay.height, 643);
  EXPECT_TRUE(ColourIs(Bluish, MeanOf(colour, 500, 100, 16)));
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(colour, 500, 500, 16)));
  EXPECT_NE(run.simLog.find("card 1 printed, one-sided"), std::string::npos) << run.simLog;
}

TEST(PrintJob, BlackExtractionPutsBlackTextOnTheBlackPanel) {
  // A black bar on white: page columns 200-299, lines 400-599, which the
  // card shows at x 400-599, y 343-442.
  PageSpec page;
  page.pixel = [](int x, int line) {
    return x >= 200 && x < 300 && line >= 400 && line < 600 ? Rgb{0, 0, 0} : kWhite;
  };
  vkrtest::FilterRun run = Print({page}, "CardBlackExtraction=BlackDots");
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  ASSERT_NE(Block(cmds[0], 'T', 0x0B), nullptr);
  // Colour, black, overlay, in that order on the wire.
  ASSERT_EQ(cmds[0].panels.size(), 3u);
  EXPECT_EQ(cmds[0].blocks[6].params[0], 0x0B);
  DecodedJpeg black = DecodeJpeg(cmds[0].panels[1]);
  ASSERT_TRUE(black.ok);
  EXPECT_EQ(black.width, 1013);
  EXPECT_LT(MeanOf(black, 490, 385, 12).r, 60);
  EXPECT_GT(MeanOf(black, 100, 100, 12).r, 200);
  EXPECT_GT(MeanOf(black, 800, 385, 12).r, 200);
}

TEST(PrintJob, EveryOverlayOptionShapesTheOverlayPanel) {
  std::vector<std::vector<uint8_t>> overlays;
  for (const char* choice : {"Full", "MS", "ISO"}) {
    SCOPED_TRACE(choice);
    vkrtest::FilterRun run = Print({Filled(kGreen)}, std::string("CardFOverlay=") + choice);
    ASSERT_EQ(run.exitStatus, 0) << run.log;
    std::vector<PtsCommand> cmds = PrintCommands(run.frames);
    ASSERT_EQ(cmds.size(), 1u);
    ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
    EXPECT_EQ(cmds[0].blocks[2].params[2], 1);
    ASSERT_NE(Block(cmds[0], 'T', 0x10), nullptr);
    ASSERT_EQ(cmds[0].panels.size(), 2u);
    EXPECT_TRUE(DecodeJpeg(cmds[0].panels[1]).ok);
    overlays.push_back(cmds[0].panels[1]);
  }
  EXPECT_NE(overlays[0], overlays[1]);
  EXPECT_NE(overlays[0], overlays[2]);
  EXPECT_NE(overlays[1], overlays[2]);

  vkrtest::FilterRun none = Print({Filled(kGreen)}, "CardFOverlay=None");
  ASSERT_EQ(none.exitStatus, 0) << none.log;
  std::vector<PtsCommand> cmds = PrintCommands(none.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  EXPECT_EQ(cmds[0].blocks[2].params[2], 0);
  EXPECT_EQ(Block(cmds[0], 'T', 0x10), nullptr);
  EXPECT_EQ(cmds[0].panels.size(), 1u);
}

TEST(PrintJob, TwoSidedCardGoesOutInOneCommandAfterItsBack) {
  vkrtest::FilterRun run = Print({Filled(kRed, true), Filled(kBlue, true)});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Preflight({"$PTS", "$PJS"}));
  EXPECT_TRUE(run.LogHas("nline (Duplex nColorType 16)\n"));
  EXPECT_TRUE(run.LogHas("nline (Duplex nColorType 32)\n"));
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (3)\r\n"));

  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  const PtsCommand& cmd = cmds[0];
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.blocks[2].params, (std::vector<uint8_t>{0, 3, 3, 0}));  // two sides, two overlays
  EXPECT_EQ(cmd.blocks[4].params[1], 0x30);
  ASSERT_EQ(cmd.blocks.size(), 10u);
  EXPECT_EQ(cmd.blocks[7].code, 'O');
  EXPECT_EQ(cmd.blocks[7].params[0], 0x80);
  EXPECT_NE(Block(cmd, 'B', 0x80), nullptr);
  EXPECT_NE(Block(cmd, 'B', 0x90), nullptr);
  ASSERT_EQ(cmd.panels.size(), 4u);
  DecodedJpeg front = DecodeJpeg(cmd.panels[0]);
  DecodedJpeg back = DecodeJpeg(cmd.panels[2]);
  ASSERT_TRUE(front.ok && back.ok);
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(front, 500, 300, 16)));
  EXPECT_TRUE(ColourIs(Bluish, MeanOf(back, 500, 300, 16)));
}

TEST(PrintJob, OddDuplexPageCountSendsTheLastFrontAlone) {
  vkrtest::FilterRun run =
      Print({Filled(kRed, true), Filled(kBlue, true), Filled(kGreen, true)});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Preflight({"$PTS", "$PTS", "$PJS"}));
  const size_t note = run.LogAt("DEBUG: Last card front has no back; printing it as a one-sided card.\n");
  ASSERT_NE(note, std::string::npos);
  EXPECT_LT(note, run.LogAt("[S] PrintPendingFront\r\n"));
  EXPECT_LT(run.LogAt("[E] PrintPendingFront : 0\r\n"), run.log.rfind("DEBUG: pJob[0] = 0\n"));

  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 2u);
  ASSERT_TRUE(cmds[0].ok && cmds[1].ok);
  EXPECT_EQ(cmds[0].blocks[2].params[1], 3);
  EXPECT_EQ(cmds[1].blocks[2].params, (std::vector<uint8_t>{0, 1, 1, 0}));  // one side
  EXPECT_EQ(Block(cmds[1], 'B', 0x80), nullptr);
  ASSERT_EQ(cmds[1].panels.size(), 2u);  // its colour and its overlay
  DecodedJpeg last = DecodeJpeg(cmds[1].panels[0]);
  ASSERT_TRUE(last.ok);
  EXPECT_EQ(last.width, 1013);
  EXPECT_TRUE(ColourIs(Greenish, MeanOf(last, 500, 300, 16)));
}

TEST(PrintJob, CmykPageIsPrintedAsAOneSidedCard) {
  PageSpec page = Filled(kRed);
  page.colorSpace = CUPS_CSPACE_CMYK;
  vkrtest::FilterRun run = Print({page});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("[S] OneCmdPrintingEx (256)\r\n"));
  EXPECT_TRUE(run.LogHas("[VKCL_PTSEx] nTxSize 1957170 i 1957116 j 2605436\n"));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  EXPECT_EQ(cmds[0].blocks[2].params[1], 1);
  DecodedJpeg colour = DecodeJpeg(cmds[0].panels[0]);
  ASSERT_TRUE(colour.ok);
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(colour, 500, 300, 16)));
}

TEST(PrintJob, KPageThenRgbBackMakesACardWithABlankFront) {
  PageSpec kPage = Filled(Rgb{0, 0, 0}, true);
  kPage.colorSpace = CUPS_CSPACE_K;
  vkrtest::FilterRun run = Print({kPage, Filled(kBlue, true)});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Preflight({"$PTS", "$PJS"}));
  EXPECT_TRUE(run.LogHas("test PAGE: 2 1\n"));
  EXPECT_TRUE(run.LogHas("nline (Duplex nColorType 32)\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: Card back without a front printed with a blank front.\n"));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  EXPECT_EQ(cmds[0].blocks[0].code, 'P');
  EXPECT_EQ(cmds[0].blocks[2].params[1], 3);
  DecodedJpeg front = DecodeJpeg(cmds[0].panels[0]);
  ASSERT_TRUE(front.ok);
  EXPECT_TRUE(ColourIs(Whitish, MeanOf(front, 500, 300, 16)));
  const PtsBlock* back = Block(cmds[0], 'B', 0x80);
  ASSERT_NE(back, nullptr);
  size_t at = 0;
  for (const PtsBlock& b : cmds[0].blocks) {
    if (&b == back) break;
    if (b.code == 'T' || b.code == 'B') ++at;
  }
  DecodedJpeg backColour = DecodeJpeg(cmds[0].panels[at]);
  ASSERT_TRUE(backColour.ok);
  EXPECT_TRUE(ColourIs(Bluish, MeanOf(backColour, 500, 300, 16)));
}

TEST(PrintJob, SimplexJobOfTwoPagesPrintsTwoCards) {
  vkrtest::FilterRun run = Print({Filled(kRed), Filled(kBlue)});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Preflight({"$PTS", "$PTS", "$PJS"}));
  EXPECT_TRUE(run.LogHas("nline ( 1954077)(1, inheader.Duplex 0)\n"));
  EXPECT_TRUE(run.LogHas("nline ( 1954077)(0, inheader.Duplex 0)\n"));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 2u);
  ASSERT_TRUE(cmds[0].ok && cmds[1].ok);
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(DecodeJpeg(cmds[0].panels[0]), 500, 300, 16)));
  EXPECT_TRUE(ColourIs(Bluish, MeanOf(DecodeJpeg(cmds[1].panels[0]), 500, 300, 16)));
}

TEST(PrintJob, LargerLaterPageGrowsThePageBuffer) {
  PageSpec small = Filled(kBlue);
  small.width = 100;
  small.height = 100;
  vkrtest::FilterRun run = Print({small, Filled(kRed)});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 2u);
  ASSERT_TRUE(cmds[1].ok) << cmds[1].error;
  DecodedJpeg second = DecodeJpeg(cmds[1].panels[0]);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.width, 1013);
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(second, 900, 20, 16)));
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(second, 20, 600, 16)));
}

TEST(PrintJob, SixteenBitPageIsPrintedFromItsHighBytes) {
  PageSpec page = Filled(kRed);
  page.bits = 16;
  vkrtest::FilterRun run = Print({page});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("test linesize: 3858\n"));
  EXPECT_TRUE(run.LogHas("nline ( 1954077)(1, inheader.Duplex 0)\n"));
  std::vector<PtsCommand> cmds = PrintCommands(run.frames);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].ok) << cmds[0].error;
  EXPECT_TRUE(ColourIs(Reddish, MeanOf(DecodeJpeg(cmds[0].panels[0]), 500, 300, 16)));
}
