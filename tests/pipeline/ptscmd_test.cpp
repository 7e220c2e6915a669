// The print-job command as the printer receives it: block area, panel data,
// sizes, the two-sided composition and the answer read.
#include <cstdio>
#include <cstdlib>

#include "../support/fake_printer.h"
#include "pipeline_support.h"
#include "pts_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A stand-in for a finished colour JPEG: SOI, filler, EOI.
Bytes FakeJpeg(size_t size) {
  Bytes b(size, 0x5A);
  b[0] = b[size - 2] = 0xFF, b[1] = 0xD8, b[size - 1] = 0xD9;
  return b;
}

// A card-sized panel image carrying the JPEG settings the pipeline gives it.
CxImage CardPanel(Rgb fill, int quality = 100) {
  CxImage image = FilledImage(1013, 643, fill);
  image.SetXDPI(300), image.SetYDPI(300), image.SetJpegQuality(uint8_t(quality));
  return image;
}

// A controller as the pipeline leaves it: options loaded, table clear.
struct PtsCtrl : TestCtrl {
  explicit PtsCtrl(int ribbon = 0) : TestCtrl(DefaultJobOptions()) {
    option.nRibbon = ribbon, m_nLogImage = 0;
    LoadOptions();
  }
};

// Panel and overlay blocks after the fixed ones as code and P1, e.g. "T00 T0B".
std::string Blocks(const PtsCommand& cmd) {
  std::string s;
  char one[8];
  for (size_t i = 5; i < cmd.blocks.size(); ++i) {
    snprintf(one, sizeof(one), "%s%c%02X", i > 5 ? " " : "", cmd.blocks[i].code,
             cmd.blocks[i].params[0]);
    s += one;
  }
  return s;
}

int Execute(PtsCtrl& ctrl, int colourType, const Bytes& jpeg, std::string* log = nullptr) {
  int result = 0;
  const std::string err = StderrOf([&] {
    result = ctrl.VK_PTSCmdExecute(colourType, jpeg.empty() ? nullptr : jpeg.data(),
                                   int(jpeg.size()));
  });
  if (log) *log = err;
  return result;
}

}  // namespace

// The command is written whole before its one flush, then one pause of a
// second and one 63-byte read; the control blocks follow the working copy of
// the ribbon, not the device option.
TEST(PtsCommand, SingleSidedCardHasTheExactWireBytesForEachRibbon) {
  struct Case {
    int ribbon;
    uint8_t sop, spt, panel;
    std::string hex;
  } cases[] = {
      {0, 0, 0, 0, "00"}, {4, 0, 4, 0x20, "04"}, {10, 2, 4, 0x20, "0a"}, {11, 3, 4, 0x20, "0b"}};
  const Bytes jpeg = FakeJpeg(1000);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.ribbon);
    FakePrinter printer;
    printer.Answer({0x1B, 'R', 'P', 'L', 'Y', 0, 6, 0, 0, 0, 0, 0x0D});
    PtsCtrl ctrl(k.ribbon);
    ctrl.option.nRibbon = 4;
    std::string log;
    EXPECT_EQ(Execute(ctrl, 0, jpeg, &log), 1510);
    Bytes expect = {0x1B, '$', 'P', 'T', 'S', 0, 0, 0x05, 0xDC,  // 500 + 1000 bytes follow
                    0x1B, 'P', k.sop, 0, 0x1B, 'R', k.spt, 1, 0, 0x10, 0, 0, 0x1B, 'F', 0, 1, 0, 0,
                    0x1B, 'C', 0xFF, 0, 0x1B, 'O', 0, 0, 0, 0, 0, 0, 0,
                    0x1B, 'T', k.panel, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xE8};
    expect.resize(509, 0);
    expect.insert(expect.end(), jpeg.begin(), jpeg.end());
    expect.push_back(0x0D);
    EXPECT_EQ(printer.written, expect);
    EXPECT_EQ(printer.flushedAt, std::vector<size_t>{1510});
    EXPECT_EQ(printer.pauses, std::vector<unsigned>{1000000});
    EXPECT_EQ(printer.readLimits, std::vector<size_t>{63});
    EXPECT_EQ(printer.timeouts, std::vector<double>{5.0});
    EXPECT_TRUE(Has(log, "MakePTSHeader poption.nRibbon(4) , m_nRibbon(0x" + k.hex + "): ")) << log;
  }
}

// The black and overlay panels follow the colour panel, each the bytes of its
// own image encoded at its own quality, even though a mask equal to the last
// one encoded is not encoded again: a changed type, one changed pixel or a
// changed quality each give a fresh encode; the table then holds the sizes.
TEST(PtsCommand, BlackAndOverlayPanelsAreTheirOwnImagesEncoded) {
  PtsCtrl ctrl;
  auto maskOf = [&](int type) {
    StderrOf([&] { ctrl.VK_Image_VarnishSendEx(type, tagRECT{0, 0, 0, 0}, tagRECT{0, 0, 0, 0}); });
    return CxImage(ctrl.m_srcImgO);
  };
  auto encoded = [](CxImage image) {
    uint8_t* jpeg = nullptr;
    int32_t size = 0;
    EXPECT_TRUE(image.Encode(jpeg, size, CXIMAGE_FORMAT_JPG));
    Bytes bytes(jpeg, jpeg + size);
    free(jpeg);
    return bytes;
  };
  CxImage whole = maskOf(0), stripe = maskOf(2), dotted = maskOf(0), coarse = maskOf(0);
  dotted.GetBits(321)[3 * 500 + 1] = 7;
  coarse.SetJpegQuality(40);
  const CxImage black = CardPanel(Rgb{0, 0, 0});
  const Bytes blackJpeg = encoded(black), colour = FakeJpeg(1200);
  const CxImage* const cards[] = {&whole, &stripe, &whole, &dotted, &whole, &coarse, &whole};
  for (int card = 0; card < 7; ++card) {
    SCOPED_TRACE(card);
    const CxImage* mask = cards[card];
    FakePrinter printer;
    ctrl.m_srcImgO = *mask, ctrl.m_srcImgK = black;
    ctrl.nFileSize[2] = ctrl.nFileSize[3] = 256;
    const int length = Execute(ctrl, 0, colour);
    EXPECT_EQ(length, static_cast<int>(printer.written.size()));
    const PtsCommand cmd = ParsePts(printer.written);
    ASSERT_TRUE(cmd.ok) << cmd.error;
    EXPECT_EQ(cmd.blocks[2].params[2], 1);  // DataMode P3: front overlay
    EXPECT_EQ(Blocks(cmd), "T00 T0B T10");
    ASSERT_EQ(cmd.panels.size(), 3u);
    EXPECT_EQ(cmd.panels[0], colour);
    EXPECT_EQ(cmd.panels[1], blackJpeg);
    EXPECT_EQ(cmd.panels[2], encoded(*mask));
    EXPECT_EQ(ctrl.nFileSize[3], static_cast<int>(cmd.panels[1].size()));
    EXPECT_EQ(ctrl.nFileSize[2], static_cast<int>(cmd.panels[2].size()));
  }
}

// No colour data leaves every panel out, whatever the table says; a black
// panel announced with nothing to encode is left out and cleared; an unknown
// colour type sends nothing.
TEST(PtsCommand, MissingDataLeavesPanelsOut) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImgO = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = 256;
  EXPECT_EQ(Execute(ctrl, 0, Bytes()), 510);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.nLength, 500u);
  EXPECT_EQ(Blocks(cmd), "T00");
  EXPECT_EQ(cmd.blocks[5].Size(), 0u);
  PtsCtrl noBlack;
  noBlack.nFileSize[3] = 256;
  std::string log;
  printer.written.clear();
  Execute(noBlack, 0, FakeJpeg(400), &log);
  cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(Blocks(cmd), "T00");
  EXPECT_EQ(cmd.nLength, 900u);
  EXPECT_EQ(noBlack.nFileSize[3], 0);
  EXPECT_TRUE(Has(log, "[->][error info"));
  printer.written.clear();
  const size_t reads = printer.readLimits.size();
  EXPECT_EQ(Execute(ctrl, 48, FakeJpeg(64)), -1);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_EQ(printer.readLimits.size(), reads);
}

// The front call only keeps its panels; the back call sends the card. The
// back's colour panel, noise at quality 100 on a large side, is well over the
// 1316864 bytes of the old fixed buffer and is carried whole.
TEST(PtsCommand, TwoSidedCardGoesOutInOneCommandWithTheBack) {
  FakePrinter printer;
  PtsCtrl ctrl;
  ctrl.m_srcImg = CardPanel(Rgb{200, 30, 40});
  ctrl.m_srcImgK = ctrl.m_srcImgK2 = CardPanel(Rgb{0, 0, 0});
  ctrl.m_srcImgO = ctrl.m_srcImgO2 = CardPanel(Rgb{255, 255, 255}, 90);
  ctrl.nFileSize[2] = ctrl.nFileSize[3] = 256;
  EXPECT_EQ(Execute(ctrl, 16, Bytes()), 0);
  EXPECT_TRUE(printer.written.empty() && printer.readLimits.empty());
  CxImage& back = ctrl.m_srcImg2 = FilledImage(1600, 1000, Rgb{0, 0, 0});
  back.SetJpegQuality(100);
  srand(11);
  for (int y = 0; y < 1000; ++y)
    for (int x = 0; x < 1600; ++x)
      SetPixelAt(back, x, y, Rgb{uint8_t(rand()), uint8_t(rand()), uint8_t(rand())});
  ctrl.nFileSize[5] = ctrl.nFileSize[6] = 256;
  const int length = Execute(ctrl, 32, Bytes());
  const PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.length, printer.written.size());
  EXPECT_EQ(length, int(printer.written.size()));
  EXPECT_EQ(cmd.blocks[2].params, (Bytes{0, 3, 3, 0}));  // DataMode: both sides, both overlays
  EXPECT_EQ(cmd.blocks[4].params, (Bytes{0, 0x30, 0, 0, 0, 0, 0}));  // BlockO1 P2
  EXPECT_EQ(Blocks(cmd), "T00 T0B T10 O80 B80 B8B B90");
  EXPECT_EQ(cmd.blocks[8].params, (Bytes{0x80, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(cmd.panels.size(), 6u);
  EXPECT_GT(cmd.panels[3].size(), 1316864u);
  const DecodedJpeg front = DecodeJpeg(cmd.panels[0]), backJpeg = DecodeJpeg(cmd.panels[3]);
  ASSERT_TRUE(front.ok && backJpeg.ok);
  EXPECT_NEAR(front.At(10, 10)[0], 200, 3);
  EXPECT_EQ(backJpeg.width, 1600);  // the back's own picture
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
  EXPECT_TRUE(Has(log, "\n[2] mPTSCmd k - 54(63)[nColor 0]\n"));
}
