// Card-side submission on the global device with an in-memory printer: the
// BMP header, row padding, CMYK inversion, the kept front, the print-call
// dispatch and what the printer's answer to a card decides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "../pipeline/pts_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Puts the device in the state of a fresh job that leaves pixels as they are.
void FreshJob() {
  StderrOf([&] { SetPOption(NeutralJobOptions()); });
  g_Dev.m_nColorType = 0;
  g_Dev.m_nPage = 0;
  for (int& n : g_Dev.nFileSize) n = 0;
}

// Submits a front that waits for its back; unless kept, no front is left behind.
std::string SubmitFront(int nType, Bytes page, int w, int h, bool keep = false) {
  std::string log = StderrOf(
      [&] { EXPECT_EQ(OneCmdPrintingEx(nType, 16, page.data(), int(page.size()), w, h), 0); });
  if (!keep) g_Dev.m_nColorType = 0;
  return log;
}

}  // namespace

TEST(BmpHeader, SizesArePatchedLittleEndianAndLoggedByteByByte) {
  uint8_t header[54];
  memset(header, 0xAA, sizeof(header));
  int length = 0;
  std::string log =
      StderrOf([&] { length = CVKDevice::MakeBmpHeader(header, 1975104, 648, 1016); });
  EXPECT_EQ(length, 1975158);
  EXPECT_EQ(log, "bmp full size 76,23,1E,0\nbmp dw 88,2,0,0\n"
                 "bmp dh F8,3,0,0\nbmp iamge size 40,23,1E,0\n");
  EXPECT_EQ(Bytes(header + 2, header + 6), (Bytes{0x76, 0x23, 0x1E, 0x00}));
  EXPECT_EQ(Bytes(header + 18, header + 26), (Bytes{0x88, 0x02, 0, 0, 0xF8, 0x03, 0, 0}));
  EXPECT_EQ(Bytes(header + 34, header + 38), (Bytes{0x40, 0x23, 0x1E, 0x00}));
  for (int at : {0, 6, 26, 38}) EXPECT_EQ(header[at], 0xAA) << at;  // nothing else is touched
}

TEST(CardSide, RowsOfAnyWidthKeepTheirPixelsAndCmykIsInvertedWithBlackDropped) {
  FakePrinter printer;
  FreshJob();
  struct Case {
    int nType, w, h;
    std::vector<const char*> log;
  } cases[] = {
      // 643 RGB pixels a line: 1929 bytes, padded by 3 to 1932.
      {3, 643, 1013,
       {"[->][getlen 1 ]\n", "[->][4-getlen 3 MakeBmpHeader]\n",
        "VKCL_PTSEx MakeImageBuf before 1957170, dw 643, dh 1013\n"}},
      // A width that is a multiple of four takes the lines unchanged. A front leaves the JPEG
      // buffer unwritten: the bytes logged from it are the cleared ones, not what was allocated.
      {3, 648, 1016,
       {"[->][MakeBmpHeader]\n", "VKCL_PTSEx MakeImageBuf before 1975158, dw 648, dh 1016\n",
        "[->][pImgBuffer 00 00 00 00 00 ]\n"}},
      {256, 648, 1016,
       {"[S] OneCmdPrintingEx (256)\r\n", "[->][MakeBmpHeader] nTxSize 1975104\n",
        "[VKCL_PTSEx] nTxSize 1975158 i 1975104 j 2633472\n"}},
      {256, 643, 1016, {}},
  };
  // Columns and lines that differ show each pixel where it belongs only if no row slid.
  auto colour = [](int x, int line) {
    return Rgb{uint8_t(x % 256), uint8_t(line % 256), uint8_t(x < 10 ? 255 : 0)};
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.nType * 10000 + k.w);
    const bool cmyk = k.nType == 256;
    const size_t n = cmyk ? 4 : 3;
    Bytes page(size_t(k.w) * n * k.h);
    for (int line = 0; line < k.h; ++line)
      for (int x = 0; x < k.w; ++x) {
        const Rgb c = colour(x, line);
        uint8_t* p = &page[(size_t(line) * k.w + x) * n];
        p[0] = cmyk ? 255 - c.r : c.r, p[1] = cmyk ? 255 - c.g : c.g, p[2] = cmyk ? 255 - c.b : c.b;
        if (cmyk) p[3] = 0x80;
      }
    std::string log = SubmitFront(k.nType, page, k.w, k.h);
    EXPECT_TRUE(printer.written.empty());  // a front waits for its back
    for (const char* line : k.log) EXPECT_TRUE(Has(log, line)) << line;
    // The card image: page line -> card column, page column x -> card row x from the bottom.
    ASSERT_EQ(SizeOf(g_Dev.m_srcImg), std::to_string(k.h) + "x" + std::to_string(k.w));
    for (int line : {0, 1, 500, k.h - 1})
      for (int x : {0, 9, 10, 255, 321, k.w - 1})
        EXPECT_EQ(PixelAt(g_Dev.m_srcImg, line, x), colour(x, line)) << line << "," << x;
  }
}

TEST(CardSide, KeptFrontIsSentAloneWhenAskedOrWhenANewCardStarts) {
  FakePrinter printer;
  FreshJob();
  const int w = 643, h = 1013;
  Bytes red(size_t(w) * 3 * h, 0), blue(size_t(w) * 3 * h, 0);
  for (size_t i = 0; i < red.size(); i += 3) red[i] = blue[i + 2] = 220;
  SubmitFront(3, red, w, h, true);
  EXPECT_TRUE(printer.written.empty());
  // A single-sided card arrives: the kept front goes out first, on its own.
  std::string log =
      StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(1, 0, blue.data(), int(blue.size()), w, h), 0); });
  EXPECT_TRUE(Has(log, "DEBUG: Card front without a back printed as a one-sided card.\n"));
  PtsCommand first = ParsePts(printer.written);
  ASSERT_TRUE(first.ok) << first.error;
  PtsCommand second = ParsePts(printer.written, first.length);
  ASSERT_TRUE(second.ok) << second.error;
  EXPECT_EQ(first.length + second.length, printer.written.size());
  EXPECT_NEAR(DecodeJpeg(first.panels[0]).At(500, 300)[0], 220, 3);
  DecodedJpeg colour = DecodeJpeg(second.panels[0]);
  EXPECT_EQ(std::make_pair(colour.width, colour.height), std::make_pair(1013, 643));
  EXPECT_NEAR(colour.At(500, 300)[2], 220, 3);

  // Asked for at the end of a job.
  printer.written.clear();
  SubmitFront(3, red, w, h, true);
  log = StderrOf([&] { EXPECT_EQ(PrintPendingFront(), 0); });
  EXPECT_TRUE(Has(log, "[S] PrintPendingFront\r\n") && Has(log, "[E] PrintPendingFront : 0\r\n"));
  PtsCommand alone = ParsePts(printer.written);
  ASSERT_TRUE(alone.ok) << alone.error;
  EXPECT_EQ(alone.blocks[2].params[1], 1);  // one side
  // Nothing is kept any more: asking again sends nothing.
  printer.written.clear();
  StderrOf([&] { EXPECT_EQ(PrintPendingFront(), 0); });
  EXPECT_TRUE(printer.written.empty());
}

TEST(PrintCalls, DispatchByTypeAndRefuseWrongSidesAndSizesBeforeAnyBuffer) {
  FakePrinter printer;
  FreshJob();
  Bytes page(size_t(643) * 3 * 1013, 0xFF);
  // An nType outside the table: both entry lines, nothing sent, 0.
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(OneCmdPrintingEx(4, 0, page.data(), 10, 643, 1013), 0); }),
            "[S] OneCmdPrintingEx (4)\r\n"
            "[S] OneCmdPrintingEx : nType [4] : g_Dev.poption.nRibbon [0]\r\n"
            "[E] OneCmdPrintingEx : 0\r\n");
  // nType 3 carries only a front or a back; a CMYK page (256) a one-sided card, a front or a
  // back. No side is below 1 or above 16384 pixels.
  const int refused[][4] = {{3, 0, 643, 1013},   {3, 48, 643, 1013}, {256, 48, 643, 1013},
                            {256, 1, 643, 1013}, {1, 0, 1 << 30, 1}, {1, 0, 643, 0},
                            {1, 0, 0, 1013},     {1, 0, -5, 10},     {1, 0, 16385, 1},
                            {1, 0, 1, 16385}};
  for (const auto& r : refused) {
    std::string log = StderrOf([&] {
      EXPECT_EQ(OneCmdPrintingEx(r[0], r[1], page.data(), int(page.size()), r[2], r[3]), -2);
    });
    EXPECT_FALSE(Has(log, "MakeImageBuf"));
    EXPECT_TRUE(Has(log, "[E] OneCmdPrintingEx : -2\r\n"));
  }
  EXPECT_TRUE(printer.written.empty());
  for (int side : {1, 16384})  // the largest side allowed, across and down
    EXPECT_TRUE(Has(SubmitFront(3, Bytes(16384 * 3, 0x80), side, 16384 / side), "MakeImageBuf"));

  // nType 0 passes a ready command unchanged and reports 1 when answered.
  Bytes ready = FakePrinter::Frame("!CSS", {});
  printer.Answer(FakePrinter::Reply(0x00, 0x15));
  std::string log = StderrOf(
      [&] { EXPECT_EQ(OneCmdPrintingEx(0, 0, ready.data(), int(ready.size()), 0, 0), 1); });
  EXPECT_TRUE(Has(log, "[E] OneCmdPrintingEx : 1\r\n"));
  EXPECT_EQ(printer.written, ready);
  printer.written.clear();
  log = StderrOf([&] { EXPECT_EQ(OneCmdPrinting(7, ready.data(), int(ready.size())), 0); });
  EXPECT_EQ(log, "[S] OneCmdPrinting\r\n[E] OneCmdPrinting : 0\r\n");
  EXPECT_TRUE(printer.written.empty());
}

TEST(PrintCalls, CardAnswerDecidesTheResultAndARefusedCardStopsTheNext) {
  const int w = 64, h = 100;
  Bytes page(size_t(w) * 3 * h, 0x80), jpeg(300, 0x11);
  jpeg[0] = jpeg[298] = 0xFF, jpeg[1] = 0xD8, jpeg[299] = 0xD9;
  auto reply = [](uint8_t cls, uint8_t code) { return FakePrinter::Reply(cls, code); };
  const Bytes ack = reply(0, 6), nak = reply(0, 0x15), ack72 = FakePrinter::Ack(Bytes(60, 0x41));
  const Bytes ack72Head(&ack72[0], &ack72[7]), ack72Tail(&ack72[7], &ack72[0] + ack72.size());
  enum Call { kPage, kJpeg, kJpegEx };  // a page; a finished JPEG by OneCmdPrinting or by nType 2
  struct Case {
    const char* name;
    bool frontKept;  // a card front waits for its back
    Call call;
    std::vector<Bytes> answers;
    int result, answer;  // the call's result, LastCardAnswer
    size_t cards;        // print-job commands written
    std::vector<size_t> readLimits;
  } cases[] = {
      {"NAK", false, kPage, {nak}, VK_ERR_CARD_REFUSED, VK_CARD_NAK, 1, {63}},
      {"error 0x31", false, kPage, {reply(0x80, 0x31)}, VK_ERR_CARD_REFUSED, 49, 1, {63}},
      {"NAK in the error class", false, kPage, {reply(0x80, 0x15)}, -3, VK_CARD_NAK, 1, {63}},
      {"0x31 outside the error class", false, kPage, {reply(0, 0x31)}, 0, 0, 1, {63}},
      {"72-byte ACK read whole", false, kPage, {ack72}, 0, 0, 1, {63, 9}},
      {"ACK split after the status", false, kPage, {ack72Head, ack72Tail}, 0, 0, 1, {63, 4, 61}},
      {"garbage", false, kPage, {Bytes{'o', 'k', 0x15}}, 0, 0, 1, {63}},
      {"silence", false, kPage, {}, 0, 0, 1, {63}},
      {"kept front refused: the new card stays", true, kPage, {reply(0x80, 2)}, -3, 2, 1, {63}},
      {"kept front goes out before a JPEG", true, kJpeg, {ack, ack, ack}, 1, 0, 2, {63, 63, 8191}},
      {"JPEG answered twice", false, kJpeg, {ack, ack}, 1, 0, 1, {63, 8191}},
      {"JPEG by nType 2, second read silent", false, kJpegEx, {ack}, -1, 0, 1, {63, 8191}},
      {"refused JPEG gets no second read", false, kJpeg, {nak}, -3, VK_CARD_NAK, 1, {63}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FakePrinter printer;
    FreshJob();
    if (k.frontKept) SubmitFront(3, page, w, h, true);
    for (const Bytes& answer : k.answers) printer.Answer(answer);
    int result = 0;
    StderrOf([&] {
      result = k.call == kPage   ? OneCmdPrintingEx(1, 0, page.data(), int(page.size()), w, h)
               : k.call == kJpeg ? OneCmdPrinting(1, jpeg.data(), int(jpeg.size()))
                                 : OneCmdPrintingEx(2, 0, jpeg.data(), int(jpeg.size()), w, h);
    });
    EXPECT_EQ(result, k.result);
    EXPECT_EQ(LastCardAnswer(), k.answer);
    EXPECT_EQ(printer.readLimits, k.readLimits);
    PtsCommand first = ParsePts(printer.written), last = first;
    ASSERT_TRUE(first.ok) << first.error;
    if (first.length < printer.written.size()) {
      last = ParsePts(printer.written, first.length);
      ASSERT_TRUE(last.ok) << last.error;
      EXPECT_EQ(first.length + last.length, printer.written.size());
    }
    EXPECT_EQ(first.length == printer.written.size() ? 1u : 2u, k.cards);
    EXPECT_TRUE(k.call == kPage || last.panels.at(0) == jpeg);  // unchanged, after any front
    EXPECT_TRUE(printer.drained.empty());
  }
}
