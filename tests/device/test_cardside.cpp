// Card-side submission: the BMP header, row padding, CMYK inversion, the
// print-call dispatch and the sends of a finished JPEG, on the global device
// with an in-memory printer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../pipeline/pts_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string StderrOf(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

// Options under which the pipeline leaves pixels as they are: style NotUse,
// neutral levels, gamma 100, no black panel, no overlays.
POPTION NeutralOptions() {
  POPTION o{};
  o.nBrightness = 50;
  o.nContrast = 50;
  o.nRed = 50;
  o.nGreen = 50;
  o.nBlue = 50;
  o.nSharpness = 0;
  o.nGamma = 100;
  o.nStyle = 2;
  o.nFOverlay = 256;
  o.nBOverlay = 256;
  return o;
}

// Puts the device in the state of a fresh job with these options.
void FreshJob(const POPTION& o) {
  StderrOf([&] { SetPOption(o); });
  g_Dev.m_nColorType = 0;
  g_Dev.m_nPage = 0;
  for (int& n : g_Dev.nFileSize) n = 0;
}

// Colour of a card-image pixel as shown (x from the left, y from the top).
struct Rgb {
  int r, g, b;
};
Rgb Shown(const CxImage& card, int x, int y) {
  const uint8_t* p = card.GetBits(card.GetHeight() - 1 - uint32_t(y)) + 3 * x;
  return Rgb{p[2], p[1], p[0]};
}

}  // namespace

TEST(MakeBmpHeader, PatchesSizesLittleEndianAndLogsTheirBytes) {
  uint8_t header[54];
  memset(header, 0xAA, sizeof(header));
  int length = 0;
  std::string log =
      StderrOf([&] { length = CVKDevice::MakeBmpHeader(header, 1975104, 648, 1016); });
  EXPECT_EQ(length, 1975158);
  EXPECT_EQ(log,
            "bmp full size 76,23,1E,0\n"
            "bmp dw 88,2,0,0\n"
            "bmp dh F8,3,0,0\n"
            "bmp iamge size 40,23,1E,0\n");
  EXPECT_EQ(Bytes(header + 2, header + 6), (Bytes{0x76, 0x23, 0x1E, 0x00}));
  EXPECT_EQ(Bytes(header + 18, header + 26), (Bytes{0x88, 0x02, 0, 0, 0xF8, 0x03, 0, 0}));
  EXPECT_EQ(Bytes(header + 34, header + 38), (Bytes{0x40, 0x23, 0x1E, 0x00}));
  // Nothing else is touched.
  EXPECT_EQ(header[0], 0xAA);
  EXPECT_EQ(header[6], 0xAA);
  EXPECT_EQ(header[26], 0xAA);
  EXPECT_EQ(header[38], 0xAA);
}

TEST(CardSide, RowsOfAnOddWidthArePaddedAndKeepTheirPixels) {
  // 643 pixels a line: 1929 bytes, padded by 3 to 1932. A page whose
  // columns differ shows each pixel where it belongs only if no row slid.
  FakePrinter printer;
  FreshJob(NeutralOptions());
  const int w = 643, h = 1013;
  Bytes page(size_t(w) * 3 * h);
  for (int line = 0; line < h; ++line)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &page[(size_t(line) * w + x) * 3];
      p[0] = uint8_t(x % 256);
      p[1] = uint8_t(line % 256);
      p[2] = x < 10 ? 255 : 0;
    }
  int result = -1;
  std::string log = StderrOf([&] {
    result = OneCmdPrintingEx(3, 16, page.data(), int(page.size()), w, h);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(printer.written.empty());  // a front waits for its back
  EXPECT_NE(log.find("[->][getlen 1 ]\n"), std::string::npos);
  EXPECT_NE(log.find("[->][4-getlen 3 MakeBmpHeader]\n"), std::string::npos);
  EXPECT_NE(log.find("VKCL_PTSEx MakeImageBuf before 1957170, dw 643, dh 1013\n"),
            std::string::npos);
  // The card image: page line -> card column, page column x -> card row 642 - x.
  const CxImage& card = g_Dev.m_srcImg;
  ASSERT_EQ(card.GetWidth(), 1013u);
  ASSERT_EQ(card.GetHeight(), 643u);
  for (int line : {0, 1, 500, 1012})
    for (int x : {0, 9, 10, 321, 642}) {
      Rgb c = Shown(card, line, 642 - x);
      EXPECT_EQ(c.r, x % 256) << line << "," << x;
      EXPECT_EQ(c.g, line % 256) << line << "," << x;
      EXPECT_EQ(c.b, x < 10 ? 255 : 0) << line << "," << x;
    }
  g_Dev.m_nColorType = 0;  // leave no front behind for the next test
}

TEST(CardSide, WidthMultipleOfFourTakesTheLinesUnchanged) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  const int w = 648, h = 1016;
  Bytes page(size_t(w) * 3 * h, 0x80);
  std::string log = StderrOf([&] {
    EXPECT_EQ(OneCmdPrintingEx(3, 16, page.data(), int(page.size()), w, h), 0);
  });
  EXPECT_EQ(log.find("getlen"), std::string::npos);
  EXPECT_NE(log.find("[->][MakeBmpHeader]\n"), std::string::npos);
  EXPECT_NE(log.find("VKCL_PTSEx MakeImageBuf before 1975158, dw 648, dh 1016\n"),
            std::string::npos);
  g_Dev.m_nColorType = 0;
}

TEST(CardSide, CmykPixelsAreInvertedAndBlackDropped) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  const int w = 648, h = 1016;
  Bytes page(size_t(w) * 4 * h);
  for (size_t i = 0; i < page.size(); i += 4) {
    page[i] = 0x00;
    page[i + 1] = 0xFF;
    page[i + 2] = 0x10;
    page[i + 3] = 0x80;
  }
  std::string log = StderrOf([&] {
    EXPECT_EQ(OneCmdPrintingEx(256, 16, page.data(), int(page.size()), w, h), 0);
  });
  EXPECT_NE(log.find("[S] OneCmdPrintingEx (256)\r\n"), std::string::npos);
  EXPECT_NE(log.find("[->][MakeBmpHeader] nTxSize 1975104\n"), std::string::npos);
  EXPECT_NE(log.find("[VKCL_PTSEx] nTxSize 1975158 i 1975104 j 2633472\n"), std::string::npos);
  Rgb c = Shown(g_Dev.m_srcImg, 300, 300);
  EXPECT_EQ(c.r, 0xFF);
  EXPECT_EQ(c.g, 0x00);
  EXPECT_EQ(c.b, 0xEF);
  g_Dev.m_nColorType = 0;
}

TEST(CardSide, CmykRowsOfAnOddWidthArePaddedToo) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  const int w = 643, h = 1013;
  Bytes page(size_t(w) * 4 * h);
  for (int line = 0; line < h; ++line)
    for (int x = 0; x < w; ++x) page[(size_t(line) * w + x) * 4] = uint8_t(255 - x % 256);
  StderrOf([&] {
    EXPECT_EQ(OneCmdPrintingEx(256, 16, page.data(), int(page.size()), w, h), 0);
  });
  for (int line : {0, 700, 1012})
    for (int x : {0, 255, 642}) EXPECT_EQ(Shown(g_Dev.m_srcImg, line, 642 - x).r, x % 256);
  g_Dev.m_nColorType = 0;
}

TEST(CardSide, OneSidedCardIsSentOnceWithItsColourPanel) {
  FakePrinter printer;
  printer.Silence();  // a printer that never answers does not change the result
  FreshJob(NeutralOptions());
  const int w = 643, h = 1013;
  Bytes page(size_t(w) * 3 * h, 0xC0);
  int result = -1;
  StderrOf([&] { result = OneCmdPrintingEx(1, 0, page.data(), int(page.size()), w, h); });
  EXPECT_EQ(result, 0);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.length, printer.written.size());
  ASSERT_EQ(cmd.panels.size(), 1u);
  DecodedJpeg colour = DecodeJpeg(cmd.panels[0]);
  ASSERT_TRUE(colour.ok);
  EXPECT_EQ(colour.width, 1013);
  EXPECT_EQ(colour.height, 643);
  EXPECT_NEAR(colour.At(500, 300)[0], 0xC0, 2);
}

TEST(CardSide, KeptFrontIsSentAloneWhenAskedOrWhenANewCardStarts) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  const int w = 643, h = 1013;
  Bytes red(size_t(w) * 3 * h, 0), blue(size_t(w) * 3 * h, 0);
  for (size_t i = 0; i < red.size(); i += 3) {
    red[i] = 220;
    blue[i + 2] = 220;
  }
  StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(3, 16, red.data(), int(red.size()), w, h), 0); });
  EXPECT_TRUE(printer.written.empty());
  // A single-sided card arrives: the kept front goes out first, on its own.
  std::string log = StderrOf(
      [&] { EXPECT_EQ(OneCmdPrintingEx(1, 0, blue.data(), int(blue.size()), w, h), 0); });
  EXPECT_NE(log.find("DEBUG: Card front without a back printed as a one-sided card.\n"),
            std::string::npos);
  PtsCommand first = ParsePts(printer.written);
  ASSERT_TRUE(first.ok) << first.error;
  PtsCommand second = ParsePts(printer.written, first.length);
  ASSERT_TRUE(second.ok) << second.error;
  EXPECT_EQ(first.length + second.length, printer.written.size());
  EXPECT_NEAR(DecodeJpeg(first.panels[0]).At(500, 300)[0], 220, 3);
  EXPECT_NEAR(DecodeJpeg(second.panels[0]).At(500, 300)[2], 220, 3);

  // Asked for at the end of a job.
  printer.written.clear();
  StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(3, 16, red.data(), int(red.size()), w, h), 0); });
  log = StderrOf([&] { EXPECT_EQ(PrintPendingFront(), 0); });
  EXPECT_NE(log.find("[S] PrintPendingFront\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] PrintPendingFront : 0\r\n"), std::string::npos);
  PtsCommand alone = ParsePts(printer.written);
  ASSERT_TRUE(alone.ok) << alone.error;
  EXPECT_EQ(alone.blocks[2].params[1], 1);  // one side
  // Nothing is kept any more: asking again sends nothing.
  printer.written.clear();
  StderrOf([&] { EXPECT_EQ(PrintPendingFront(), 0); });
  EXPECT_TRUE(printer.written.empty());
}

TEST(PrintCalls, DispatchByType) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  Bytes page(size_t(643) * 3 * 1013, 0xFF);

  // An nType outside the table: both entry lines, nothing sent, 0.
  std::string log = StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(4, 0, page.data(), 10, 643, 1013), 0); });
  EXPECT_EQ(log,
            "[S] OneCmdPrintingEx (4)\r\n"
            "[S] OneCmdPrintingEx : nType [4] : g_Dev.poption.nRibbon [0]\r\n"
            "[E] OneCmdPrintingEx : 0\r\n");
  EXPECT_TRUE(printer.written.empty());

  // nType 3 carries only a front or a back.
  log = StderrOf([&] {
    EXPECT_EQ(OneCmdPrintingEx(3, 0, page.data(), int(page.size()), 643, 1013), VK_ERR_REFUSED);
  });
  EXPECT_TRUE(printer.written.empty());
  EXPECT_EQ(log.find("VKCL_PTSEx"), std::string::npos);
  EXPECT_NE(log.find("[E] OneCmdPrintingEx : -2\r\n"), std::string::npos);

  // nType 0 passes a ready command unchanged and reports 1 when answered.
  Bytes ready = FakePrinter::Frame("!CSS", {});
  printer.Answer(FakePrinter::Reply(0x00, 0x15));
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(0, 0, ready.data(), int(ready.size()), 0, 0), 1); })
                .find("[E] OneCmdPrintingEx : 1\r\n") != std::string::npos,
            true);
  EXPECT_EQ(printer.written, ready);

  printer.written.clear();
  log = StderrOf([&] { EXPECT_EQ(OneCmdPrinting(7, ready.data(), int(ready.size())), 0); });
  EXPECT_EQ(log, "[S] OneCmdPrinting\r\n[E] OneCmdPrinting : 0\r\n");
  EXPECT_TRUE(printer.written.empty());
}

TEST(PrintCalls, FinishedJpegGoesOutAsTheColourPanelAndReadsTwice) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  Bytes jpeg(300, 0x11);
  jpeg[0] = 0xFF;
  jpeg[1] = 0xD8;
  jpeg[298] = 0xFF;
  jpeg[299] = 0xD9;
  printer.Answer(FakePrinter::Reply(0x00, 0x06));
  printer.Silence();
  int result = 0;
  std::string log = StderrOf([&] { result = OneCmdPrintingEx(2, 0, jpeg.data(), 300, 643, 1013); });
  EXPECT_EQ(result, -1);  // the second read brought nothing
  EXPECT_NE(log.find("VKCL_PTSEx nTxSize 300, dw 643, dh 1013\n"), std::string::npos);
  PtsCommand cmd = ParsePts(printer.written);
  ASSERT_TRUE(cmd.ok) << cmd.error;
  EXPECT_EQ(cmd.length, printer.written.size());
  ASSERT_EQ(cmd.panels.size(), 1u);
  EXPECT_EQ(cmd.panels[0], jpeg);
  EXPECT_EQ(printer.readLimits.size(), 2u);

  printer.written.clear();
  printer.Answer(FakePrinter::Reply(0x00, 0x06));
  printer.Answer(FakePrinter::Reply(0x00, 0x06));
  log = StderrOf([&] { result = OneCmdPrinting(1, jpeg.data(), 300); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(log.find("VKCL_PTSEx nTxSize"), std::string::npos);
  EXPECT_TRUE(ParsePts(printer.written).ok);
}

TEST(CardSide, AbsurdPageSizeIsRefusedBeforeAnyBuffer) {
  FakePrinter printer;
  FreshJob(NeutralOptions());
  Bytes page(300, 0);
  for (auto size : {std::pair<int, int>{1000000000, 1}, {643, 0}, {0, 1013}, {-5, 10}, {20000, 2}}) {
    std::string log = StderrOf([&] {
      EXPECT_EQ(OneCmdPrintingEx(1, 0, page.data(), int(page.size()), size.first, size.second),
                VK_ERR_REFUSED);
    });
    EXPECT_EQ(log.find("MakeImageBuf"), std::string::npos);
  }
  EXPECT_TRUE(printer.written.empty());
}
