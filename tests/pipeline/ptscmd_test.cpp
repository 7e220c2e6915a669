// The print-job command as the printer receives it: block area, panel data,
// sizes, the two-sided composition and the answer read.
#include <gtest/gtest.h>

#include <cstdio>
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

// Random pixels: their JPEG size shows the quality it was encoded at.
CxImage Noisy(int w, int h, unsigned seed, int quality) {
  CxImage image = FilledImage(w, h, Rgb{0, 0, 0});
  image.SetJpegQuality(static_cast<uint8_t>(quality));
  srand(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixelAt(image, x, y, Rgb{uint8_t(rand()), uint8_t(rand()), uint8_t(rand())});
  return image;
}

// A controller as the pipeline leaves it: options loaded, table clear.
struct PtsCtrl : TestCtrl {
  explicit PtsCtrl(int ribbon = 0) : TestCtrl(DefaultJobOptions()) {
    option.nRibbon = ribbon;
    LoadOptions();
    m_nLogImage = 0;
  }
};

// Panel and overlay blocks after the fixed ones as code and P1, e.g. "T00 T0B".
std::string Blocks(const PtsCommand& cmd) {
  std::string s;
  char one[8];
  for (size_t i = 5; i < cmd.blocks.size(); ++i) {
    snprintf(one, sizeof(one), "%s%c%02X", i > 5 ? " " : "", cmd.blocks[i].code, cmd.blocks[i].params[0]);
    s += one;
  }
  return s;
}

int Execute(PtsCtrl& ctrl, int colourType, const Bytes& jpeg, std::string* log = nullptr) {
  int result = 0;
  std::string err = StderrOf([&] {
    result = ctrl.VK_PTSCmdExecute(colourType, jpeg.empty() ? nullptr : jpeg.data(),
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
  // Written whole before its one flush, then one pause and one 63-byte read.
  EXPECT_EQ(printer.flushedAt, std::vector<size_t>{1510});
  EXPECT_EQ(printer.pauses, std::vector<unsigned>{1000000});
  EXPECT_EQ(printer.readLimits, std::vector<size_t>{63});
  EXPECT_EQ(printer.timeouts, std::vector<double>{5.0});
}

TEST(PtsCommand, EveryRibbonCodeSetsItsControlBlocks) {
  struct Case {
    int ribbon;
    uint8_t sop, spt;
    const char* blocks;
  } cases[] = {{0, 0, 0, "T00"}, {4, 0, 4, "T20"}, {10, 2, 4, "T20"}, {11, 3, 4, "T20"}};
  for (const Case& c : cases) {
    FakePrinter printer;
    PtsCtrl ctrl(c.ribbon);
    ctrl.option.nRibbon = 4;  // the blocks follow the working copy
    std::string log;
    Execute(ctrl, 0, FakeJpeg(300), &log);
    PtsCommand cmd = ParsePts(printer.written);
    ASSERT_TRUE(cmd.ok) << cmd.error;
    SCOPED_TRACE(c.ribbon);
    char header[64];
    snprintf(header, sizeof(header), "MakePTSHeader poption.nRibbon(4) , m_nRibbon(0x%02x): ", c.ribbon);
    EXPECT_TRUE(Has(log, header)) << log;
    EXPECT_EQ(cmd.blocks[0].params, (Bytes{c.sop, 0}));
    EXPECT_EQ(cmd.blocks[1].params, (Bytes{c.spt, 1, 0, 0x10, 0, 0}));
    EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(cmd.blocks[3].params, (Bytes{0xFF, 0}));
    EXPECT_EQ(cmd.blocks[4].params, Bytes(7, 0));
    EXPECT_EQ(Blocks(cmd), c.blocks);
    EXPECT_EQ(cmd.blocks[5].Size(), 300u);
  }
}

TEST(PtsCommand, BlackAndOverlayPanelsFollowTheColourPanel) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImgK = CardPanel(Rgb{0, 0, 0});
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = ctrl.nFileSize[3] = 256;
  Bytes jpeg = FakeJpeg(1200);
  std::string log;
  int length = Execute(ctrl, 0, jpeg, &log);

  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(length, static_cast<int>(printer.written.size()));
  EXPECT_EQ(cmd.blocks[2].params[2], 1);  // DataMode P3: front overlay
  EXPECT_EQ(Blocks(cmd), "T00 T0B T10");  // black before overlay
  ASSERT_EQ(cmd.panels.size(), 3u);
  EXPECT_EQ(cmd.panels[0], jpeg);
  DecodedJpeg black = DecodeJpeg(cmd.panels[1]), overlay = DecodeJpeg(cmd.panels[2]);
  ASSERT_TRUE(black.ok && overlay.ok);
  EXPECT_EQ(black.width, 1013);
  EXPECT_EQ(black.height, 643);
  EXPECT_LE(black.At(500, 300)[0], 2);
  EXPECT_GE(overlay.At(500, 300)[0], 253);
  // The table now holds the encoded sizes.
  EXPECT_EQ(ctrl.nFileSize[3], static_cast<int>(cmd.panels[1].size()));
  EXPECT_EQ(ctrl.nFileSize[2], static_cast<int>(cmd.panels[2].size()));
  EXPECT_TRUE(Has(log, "[nColor 1]"));
  EXPECT_TRUE(Has(log, "\n[2] pData delete\n[2] pData_K delete\n[2] pData_O delete"));
}

TEST(PtsCommand, OverlayQualityIsTheSlotsOwn) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // The same noise at 90 is smaller than at 100.
  ctrl.m_srcImgO = Noisy(1013, 643, 7, 90);
  ctrl.m_srcImgK = ctrl.m_srcImgO;
  ctrl.m_srcImgK.SetJpegQuality(100);
  ctrl.nFileSize[2] = ctrl.nFileSize[3] = 256;
  Execute(ctrl, 0, FakeJpeg(100));
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  ASSERT_EQ(cmd.panels.size(), 3u);
  EXPECT_LT(cmd.panels[2].size(), cmd.panels[1].size());
}

// The overlay panel is the mask of its own card, even though a mask equal
// to the last one encoded is not encoded again: a changed type, one changed
// pixel or a changed quality each give the bytes of a fresh encode.
TEST(PtsCommand, OverlayPanelIsTheMaskOfItsOwnCard) {
  PtsCtrl ctrl;
  auto maskOf = [&](int type) {
    StderrOf([&] { ctrl.VK_Image_VarnishSendEx(type, tagRECT{0, 0, 0, 0}, tagRECT{0, 0, 0, 0}); });
    return CxImage(ctrl.m_srcImgO);
  };
  CxImage whole = maskOf(0), stripe = maskOf(2), dotted = maskOf(0), coarse = maskOf(0);
  dotted.GetBits(321)[3 * 500 + 1] = 7;
  coarse.SetJpegQuality(40);
  const CxImage* const cards[] = {&whole, &stripe, &whole, &dotted, &whole, &coarse, &whole};
  for (int card = 0; card < 7; ++card) {
    const CxImage* mask = cards[card];
    FakePrinter printer;
    ctrl.m_srcImgO = *mask;
    ctrl.nFileSize[2] = 256;
    ctrl.nFileSize[3] = 0;
    Execute(ctrl, 0, FakeJpeg(100));
    PtsCommand cmd = ParsePts(printer.written);
    ASSERT_TRUE(cmd.ok) << cmd.error;
    ASSERT_EQ(cmd.panels.size(), 2u);
    CxImage fresh(*mask);
    uint8_t* jpeg = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(fresh.Encode(jpeg, size, CXIMAGE_FORMAT_JPG));
    EXPECT_EQ(cmd.panels[1], Bytes(jpeg, jpeg + size)) << "card " << card;
    free(jpeg);
  }
}

TEST(PtsCommand, MissingDataLeavesPanelsOut) {
  {  // No colour data: no panels at all, whatever the table says.
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
  {  // A black panel announced with nothing to encode.
    FakePrinter printer;
    PtsCtrl ctrl;
    ctrl.nFileSize[3] = 256;
    std::string log;
    Execute(ctrl, 0, FakeJpeg(400), &log);
    PtsCommand cmd = ParsePts(printer.written);
    ASSERT_TRUE(cmd.ok) << cmd.error;
    EXPECT_EQ(cmd.blocks.size(), 6u);
    EXPECT_EQ(cmd.nLength, 900u);
    EXPECT_EQ(ctrl.nFileSize[3], 0);
    EXPECT_TRUE(Has(log, "[->][error info"));
  }
  {  // An unknown colour type sends nothing.
    FakePrinter printer;
    PtsCtrl ctrl;
    EXPECT_EQ(Execute(ctrl, 48, FakeJpeg(64)), -1);
    EXPECT_TRUE(printer.written.empty());
    EXPECT_TRUE(printer.readLimits.empty());
  }
}

TEST(PtsCommand, TwoSidedCardGoesOutInOneCommandWithTheBack) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // Front call: the pipeline has filled the front slots.
  ctrl.m_srcImg = CardPanel(Rgb{200, 30, 40});
  ctrl.m_srcImgK = CardPanel(Rgb{0, 0, 0});
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = ctrl.nFileSize[3] = 256;
  std::string log;
  EXPECT_EQ(Execute(ctrl, 16, Bytes(), &log), 0);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
  EXPECT_TRUE(Has(log, "\n[2] nColorType 0x10 0\n"));

  // Back call.
  ctrl.m_srcImg2 = CardPanel(Rgb{20, 40, 220});
  ctrl.m_srcImgK2 = CardPanel(Rgb{0, 0, 0});
  ctrl.m_srcImgO2 = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[5] = ctrl.nFileSize[6] = 256;
  int length = Execute(ctrl, 32, Bytes(), &log);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.length, printer.written.size());
  EXPECT_EQ(length, static_cast<int>(printer.written.size()));
  EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 3, 3, 0}));  // DataMode: both sides, both overlays
  EXPECT_EQ(cmd.blocks[4].params, (Bytes{0, 0x30, 0, 0, 0, 0, 0}));  // BlockO1 P2
  EXPECT_EQ(Blocks(cmd), "T00 T0B T10 O80 B80 B8B B90");
  EXPECT_EQ(cmd.blocks[8].params, (Bytes{0x80, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(cmd.panels.size(), 6u);
  DecodedJpeg front = DecodeJpeg(cmd.panels[0]), back = DecodeJpeg(cmd.panels[3]);
  ASSERT_TRUE(front.ok && back.ok);
  EXPECT_NEAR(front.At(10, 10)[0], 200, 3);
  EXPECT_NEAR(back.At(10, 10)[2], 220, 3);
  EXPECT_TRUE(Has(log, "[nColor 3]"));
}

TEST(PtsCommand, PanelsLargerThanTheOldFixedBufferAreCarriedWhole) {
  FakePrinter printer;
  PtsCtrl ctrl;
  // Noise at quality 100 on a large side gives a JPEG well over 1316864 bytes.
  ctrl.m_srcImg = Noisy(1600, 1000, 11, 100);
  Execute(ctrl, 16, Bytes());
  ctrl.m_srcImg2 = ctrl.m_srcImg;
  Execute(ctrl, 32, Bytes());
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  ASSERT_EQ(cmd.panels.size(), 2u);
  EXPECT_GT(cmd.panels[0].size(), 1316864u);
  DecodedJpeg front = DecodeJpeg(cmd.panels[0]);
  ASSERT_TRUE(front.ok);
  EXPECT_EQ(front.width, 1600);
}

TEST(PtsCommand, AnswerIsLoggedAndASilentPrinterStillGetsTheWholeCommand) {
  FakePrinter printer;
  printer.Answer({0x1B, 'R', 'P', 'T', 'S', 0x00, 0x06, 0, 0, 0, 0, 0x0D});
  printer.Silence();
  printer.ReadError();
  PtsCtrl ctrl;
  std::string log, errorLog;
  Execute(ctrl, 0, FakeJpeg(32), &log);
  printer.written.clear();
  EXPECT_EQ(Execute(ctrl, 0, FakeJpeg(64)), 574);
  EXPECT_EQ(printer.written.size(), 574u);
  EXPECT_EQ(Execute(ctrl, 0, FakeJpeg(64), &errorLog), -1);
  EXPECT_EQ(printer.written.size(), 2 * 574u);
  EXPECT_TRUE(Has(errorLog, "[->]\n 0 0 0 0 0 0 0 0 0 0 0 0 0 (-1)\n"));
  EXPECT_TRUE(Has(log, "[->]PTSCmdExecute :: cupsSideChannelDoRequest report_levels2\n"
                     "[->]\n 1b 52 50 54 53 0 6 0 0 0 0 d 0 (12)\n"));
  EXPECT_TRUE(Has(log, "[->][outputarray_print 542]\n"));
  EXPECT_TRUE(Has(log, "\n[2] mPTSCmd nLength - 532 (32)(0)"));
  EXPECT_TRUE(Has(log, "\n[2] mPTSCmd k - 54(63)[nColor 0]\n"));
}
