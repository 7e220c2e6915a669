// The print-job command as the printer receives it: block area, panel data,
// sizes, the two-sided composition and the answer read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/fake_printer.h"
#include "pipeline_support.h"
#include "pts_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A stand-in for a finished colour JPEG: SOI, filler, EOI.
Bytes FakeJpeg(size_t size, uint8_t fill = 0x5A) {
  Bytes b(size, fill);
  b[0] = 0xFF;
  b[1] = 0xD8;
  b[size - 2] = 0xFF;
  b[size - 1] = 0xD9;
  return b;
}

// A card-sized panel image carrying the JPEG settings the pipeline gives it.
CxImage CardPanel(Rgb fill, int quality = 100) {
  CxImage image = FilledImage(1013, 643, fill);
  image.SetXDPI(300);
  image.SetYDPI(300);
  image.SetJpegQuality(static_cast<uint8_t>(quality));
  return image;
}

// A controller prepared like the pipeline leaves it: options loaded, table clear.
struct PtsCtrl : TestCtrl {
  explicit PtsCtrl(int ribbon = 0) {
    option = DefaultJobOptions();
    option.nRibbon = ribbon;
    LoadOptions();
    m_nLogImage = 0;
    for (int& n : nFileSize) n = 0;
  }
};

int Execute(PtsCtrl& ctrl, int colourType, const Bytes& jpeg, std::string* log = nullptr) {
  Bytes cmd;
  int result = 0;
  std::string err = StderrOf([&] {
    result = ctrl.VK_PTSCmdExecute(colourType, cmd, jpeg.empty() ? nullptr : jpeg.data(),
                                   static_cast<int>(jpeg.size()));
  });
  if (log) *log = err;
  return result;
}

}  // namespace

TEST(PtsCommand, SingleSidedColourCardHasTheExactWireBytes) {
  FakePrinter printer;
  printer.Answer({0x1B, 'R', 'P', 'L', 'Y', 0, 6, 0, 0, 0, 0, 0x0D});
  PtsCtrl ctrl;
  Bytes jpeg = FakeJpeg(1000);
  EXPECT_EQ(Execute(ctrl, 0, jpeg), 1510);

  ASSERT_EQ(printer.written.size(), 1510u);
  Bytes expect = {0x1B, 0x24, 0x50, 0x54, 0x53, 0x00, 0x00, 0x05, 0xDC,
                  0x1B, 0x50, 0x00, 0x00,
                  0x1B, 0x52, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00,
                  0x1B, 0x46, 0x00, 0x01, 0x00, 0x00,
                  0x1B, 0x43, 0xFF, 0x00,
                  0x1B, 0x4F, 0, 0, 0, 0, 0, 0, 0,
                  0x1B, 0x54, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x03, 0xE8};
  expect.resize(509, 0);
  expect.insert(expect.end(), jpeg.begin(), jpeg.end());
  expect.push_back(0x0D);
  EXPECT_EQ(printer.written, expect);
  // Written in one piece, flushed once, then one pause and one 63-byte read.
  EXPECT_EQ(printer.writes.size(), 1u);
  EXPECT_EQ(printer.flushes, 1);
  ASSERT_EQ(printer.pauses.size(), 1u);
  EXPECT_EQ(printer.pauses[0], 1000000u);
  ASSERT_EQ(printer.readLimits.size(), 1u);
  EXPECT_EQ(printer.readLimits[0], 63u);
  EXPECT_DOUBLE_EQ(printer.timeouts[0], 5.0);
}

TEST(PtsCommand, EveryRibbonCodeSetsItsControlBlocks) {
  struct Case {
    int ribbon;
    uint8_t sop, spt, tcb1;
  } cases[] = {{0, 0, 0, 0x00}, {4, 0, 4, 0x20}, {10, 2, 4, 0x20}, {11, 3, 4, 0x20}};
  for (const Case& c : cases) {
    FakePrinter printer;
    PtsCtrl ctrl(c.ribbon);
    Execute(ctrl, 0, FakeJpeg(300));
    PtsCommand cmd = ParsePts(printer.written);
    ASSERT_TRUE(cmd.ok) << cmd.error;
    SCOPED_TRACE(c.ribbon);
    EXPECT_EQ(cmd.blocks[0].params, (Bytes{c.sop, 0}));
    EXPECT_EQ(cmd.blocks[1].params, (Bytes{c.spt, 1, 0, 0x10, 0, 0}));
    EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(cmd.blocks[3].params, (Bytes{0xFF, 0}));
    EXPECT_EQ(cmd.blocks[4].params, Bytes(7, 0));
    ASSERT_EQ(cmd.blocks.size(), 6u);
    EXPECT_EQ(cmd.blocks[5].code, 'T');
    EXPECT_EQ(cmd.blocks[5].params[0], c.tcb1);
    EXPECT_EQ(cmd.blocks[5].Size(), 300u);
  }
}

TEST(PtsCommand, HeaderLogShowsOptionAndWorkingRibbon) {
  PtsCtrl ctrl(11);
  ctrl.option.nRibbon = 4;
  std::string log = StderrOf([&] { ctrl.MakePTSHeader(77); });
  EXPECT_EQ(log, "MakePTSHeader poption.nRibbon(4) , m_nRibbon(0x0b): ");
  EXPECT_EQ(ctrl.mPTSCmd.TCB1[12], 77);
  EXPECT_EQ(ctrl.mPTSCmd.TCB1_X[0], 0);
  EXPECT_EQ(ctrl.mPTSCmd.TCB2_X[0], 0);
}

TEST(PtsCommand, BlackAndOverlayPanelsFollowTheColourPanel) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImgK = CardPanel(Rgb{0, 0, 0});
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = 256;
  ctrl.nFileSize[3] = 256;
  Bytes jpeg = FakeJpeg(1200);
  std::string log;
  int length = Execute(ctrl, 0, jpeg, &log);

  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(length, static_cast<int>(printer.written.size()));
  EXPECT_EQ(cmd.blocks[2].params[2], 1);  // DataMode P3: front overlay
  ASSERT_EQ(cmd.blocks.size(), 8u);
  EXPECT_EQ(cmd.blocks[5].code, 'T');
  EXPECT_EQ(cmd.blocks[5].params[0], 0x00);
  EXPECT_EQ(cmd.blocks[6].params[0], 0x0B);  // black before overlay
  EXPECT_EQ(cmd.blocks[7].params[0], 0x10);
  ASSERT_EQ(cmd.panels.size(), 3u);
  EXPECT_EQ(cmd.panels[0], jpeg);
  DecodedJpeg black = DecodeJpeg(cmd.panels[1]);
  DecodedJpeg overlay = DecodeJpeg(cmd.panels[2]);
  ASSERT_TRUE(black.ok);
  ASSERT_TRUE(overlay.ok);
  EXPECT_EQ(black.width, 1013);
  EXPECT_EQ(black.height, 643);
  EXPECT_LE(black.At(500, 300)[0], 2);
  EXPECT_GE(overlay.At(500, 300)[0], 253);
  // The table now holds the encoded sizes.
  EXPECT_EQ(ctrl.nFileSize[3], static_cast<int>(cmd.panels[1].size()));
  EXPECT_EQ(ctrl.nFileSize[2], static_cast<int>(cmd.panels[2].size()));
  EXPECT_NE(log.find("[nColor 1]"), std::string::npos);
  EXPECT_NE(log.find("\n[2] pData delete\n[2] pData_K delete\n[2] pData_O delete"),
            std::string::npos);
}

TEST(PtsCommand, OverlayQualityIsTheSlotsOwn) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // Noise shows the quality: the same picture at 90 is smaller than at 100.
  CxImage noisy = CardPanel(Rgb{0, 0, 0}, 90);
  srand(7);
  for (int y = 0; y < 643; ++y)
    for (int x = 0; x < 1013; ++x)
      SetPixelAt(noisy, x, y, Rgb{uint8_t(rand()), uint8_t(rand()), uint8_t(rand())});
  ctrl.m_srcImgO = noisy;
  ctrl.m_srcImgK = noisy;
  ctrl.m_srcImgK.SetJpegQuality(100);
  ctrl.nFileSize[2] = 256;
  ctrl.nFileSize[3] = 256;
  Execute(ctrl, 0, FakeJpeg(100));
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  ASSERT_EQ(cmd.panels.size(), 3u);
  EXPECT_LT(cmd.panels[2].size(), cmd.panels[1].size());
}

TEST(PtsCommand, NoColourDataCarriesNoPanels) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = 256;
  EXPECT_EQ(Execute(ctrl, 0, Bytes()), 510);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.nLength, 500u);
  ASSERT_EQ(cmd.blocks.size(), 6u);
  EXPECT_EQ(cmd.blocks[5].Size(), 0u);
}

TEST(PtsCommand, EmptyBlackSlotIsLeftOut) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImgK = CxImage();  // announced but nothing to encode
  ctrl.nFileSize[3] = 256;
  std::string log;
  Execute(ctrl, 0, FakeJpeg(400), &log);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.blocks.size(), 6u);
  EXPECT_EQ(cmd.nLength, 900u);
  EXPECT_EQ(ctrl.nFileSize[3], 0);
  EXPECT_NE(log.find("[->][error info"), std::string::npos);
}

TEST(PtsCommand, TwoSidedCardGoesOutInOneCommandWithTheBack) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // Front call: the pipeline has filled the front slots.
  ctrl.m_srcImg = CardPanel(Rgb{200, 30, 40});
  ctrl.m_srcImgK = CardPanel(Rgb{0, 0, 0});
  ctrl.nFileSize[3] = 256;
  std::string log;
  EXPECT_EQ(Execute(ctrl, 16, Bytes(), &log), 0);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
  EXPECT_NE(log.find("\n[2] nColorType 0x10 0\n"), std::string::npos);

  // Back call.
  ctrl.m_srcImg2 = CardPanel(Rgb{20, 40, 220});
  ctrl.m_srcImgK2 = CardPanel(Rgb{0, 0, 0});
  ctrl.nFileSize[6] = 256;
  int length = Execute(ctrl, 32, Bytes(), &log);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.length, printer.written.size());
  EXPECT_EQ(length, static_cast<int>(printer.written.size()));
  EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 3, 0, 0}));          // DataMode P2 = 3
  EXPECT_EQ(cmd.blocks[4].params, (Bytes{0, 0x30, 0, 0, 0, 0, 0}));  // BlockO1 P2
  ASSERT_EQ(cmd.blocks.size(), 10u);
  EXPECT_EQ(cmd.blocks[5].code, 'T');
  EXPECT_EQ(cmd.blocks[5].params[0], 0x00);
  EXPECT_EQ(cmd.blocks[6].code, 'T');
  EXPECT_EQ(cmd.blocks[6].params[0], 0x0B);
  EXPECT_EQ(cmd.blocks[7].code, 'O');
  EXPECT_EQ(cmd.blocks[7].params, (Bytes{0x80, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cmd.blocks[8].code, 'B');
  EXPECT_EQ(cmd.blocks[8].params[0], 0x80);
  EXPECT_EQ(cmd.blocks[9].code, 'B');
  EXPECT_EQ(cmd.blocks[9].params[0], 0x8B);
  ASSERT_EQ(cmd.panels.size(), 4u);
  DecodedJpeg front = DecodeJpeg(cmd.panels[0]);
  DecodedJpeg back = DecodeJpeg(cmd.panels[2]);
  ASSERT_TRUE(front.ok && back.ok);
  EXPECT_NEAR(front.At(10, 10)[0], 200, 3);
  EXPECT_NEAR(back.At(10, 10)[2], 220, 3);
  EXPECT_NE(log.find("[nColor 3]"), std::string::npos);
}

TEST(PtsCommand, BackOverlaySetsDataModeBitOne) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImg = CardPanel(Rgb{1, 2, 3});
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = 256;
  Execute(ctrl, 16, Bytes());
  ctrl.m_srcImg2 = CardPanel(Rgb{4, 5, 6});
  ctrl.m_srcImgO2 = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[5] = 256;
  Execute(ctrl, 32, Bytes());
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.blocks[2].params[2], 3);  // both overlays
  ASSERT_NE(cmd.Find('T', 0x10), nullptr);
  ASSERT_NE(cmd.Find('B', 0x90), nullptr);
  EXPECT_EQ(cmd.panels.size(), 4u);
}

TEST(PtsCommand, PanelsLargerThanTheOldFixedBufferAreCarriedWhole) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // Noise at quality 100 on a large side gives a JPEG well over 1316864 bytes.
  CxImage noisy = FilledImage(1600, 1000, Rgb{0, 0, 0});
  noisy.SetJpegQuality(100);
  srand(11);
  for (int y = 0; y < 1000; ++y)
    for (int x = 0; x < 1600; ++x)
      SetPixelAt(noisy, x, y, Rgb{uint8_t(rand()), uint8_t(rand()), uint8_t(rand())});
  ctrl.m_srcImg = noisy;
  Execute(ctrl, 16, Bytes());
  ctrl.m_srcImg2 = noisy;
  Execute(ctrl, 32, Bytes());
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  ASSERT_EQ(cmd.panels.size(), 2u);
  EXPECT_GT(cmd.panels[0].size(), 1316864u);
  DecodedJpeg front = DecodeJpeg(cmd.panels[0]);
  ASSERT_TRUE(front.ok);
  EXPECT_EQ(front.width, 1600);
}

TEST(PtsCommand, SilentOrFailingPrinterStillGetsTheWholeCommand) {
  {
    FakePrinter printer;
    printer.Silence();
    PtsCtrl ctrl;
    EXPECT_EQ(Execute(ctrl, 0, FakeJpeg(64)), 574);
    EXPECT_EQ(printer.written.size(), 574u);
  }
  {
    FakePrinter printer;
    printer.ReadError();
    PtsCtrl ctrl;
    std::string log;
    EXPECT_EQ(Execute(ctrl, 0, FakeJpeg(64), &log), -1);
    EXPECT_EQ(printer.written.size(), 574u);
    EXPECT_NE(log.find("[->]\n 0 0 0 0 0 0 0 0 0 0 0 0 0 (-1)\n"), std::string::npos);
  }
}

TEST(PtsCommand, AnswerBytesAreLogged) {
  FakePrinter printer;
  printer.Answer({0x1B, 'R', 'P', 'T', 'S', 0x00, 0x06, 0, 0, 0, 0, 0x0D});
  PtsCtrl ctrl;
  std::string log;
  Execute(ctrl, 0, FakeJpeg(32), &log);
  EXPECT_NE(log.find("[->]PTSCmdExecute :: cupsSideChannelDoRequest report_levels2\n"
                     "[->]\n 1b 52 50 54 53 0 6 0 0 0 0 d 0 (12)\n"),
            std::string::npos);
  EXPECT_NE(log.find("[->][outputarray_print 542]\n"), std::string::npos);
  EXPECT_NE(log.find("\n[2] mPTSCmd nLength - 532 (32)(0)"), std::string::npos);
  EXPECT_NE(log.find("\n[2] mPTSCmd k - 54(63)[nColor 0]\n"), std::string::npos);
}

TEST(PtsCommand, UnknownColourTypeSendsNothing) {
  FakePrinter printer;
  PtsCtrl ctrl;
  EXPECT_EQ(Execute(ctrl, 48, FakeJpeg(64)), -1);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
}

TEST(PtsCommand, MakeImagejpgEncodesEachSlotAndRefusesOthers) {
  PtsCtrl ctrl;
  ctrl.m_srcImgO2 = CardPanel(Rgb{9, 9, 9}, 90);
  Bytes panel;
  int size = -5;
  std::string log = StderrOf([&] { ctrl.MakeImagejpg(0x22, panel, &size); });
  ASSERT_GT(size, 0);
  EXPECT_EQ(panel.size(), static_cast<size_t>(size));
  EXPECT_EQ(panel[0], 0xFF);
  EXPECT_EQ(panel[1], 0xD8);
  EXPECT_NE(log.find("[->][MakeImagejpg nColorType 0x22\n[->][MakeImagejpg m_srcImgO2 1013\n"),
            std::string::npos);
  EXPECT_NE(log.find("[->][true  "), std::string::npos);
  EXPECT_NE(log.find(" FF D8]\n"), std::string::npos);

  log = StderrOf([&] { EXPECT_EQ(ctrl.MakeImagejpg(0x13, panel, &size), 0); });
  EXPECT_EQ(size, 0);
  EXPECT_NE(log.find("[->][error info"), std::string::npos);
}
