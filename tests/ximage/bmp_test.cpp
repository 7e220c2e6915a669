// BMP codec: round trips, the front end's files, bare DIBs, every header size, indexed depths,
// and hostile files refused without reading past the data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximabmp.h"
#include "ximage/ximage.h"
#include "ximage/xmemfile.h"

using namespace ximgtest;
namespace {
// Decode bytes as `type`.
bool decode(CxImage& img, const std::vector<uint8_t>& bytes, uint32_t type = CXIMAGE_FORMAT_BMP) {
  return img.Decode(bytes.data(), (uint32_t)bytes.size(), type);
}
// The bytes with one 32-bit field changed.
std::vector<uint8_t> with32(std::vector<uint8_t> v, size_t at, uint32_t x) {
  return put32(v, at, x), v;
}
// An indexed BMP: headers, palette, rows given raw.
std::vector<uint8_t> indexedBmp(int32_t w, int32_t h, uint16_t bpp, const std::vector<RGBQUAD>& pal,
                                const std::vector<uint8_t>& rows) {
  std::vector<uint8_t> v = bmpHeaders(w, h, bpp, (uint32_t)pal.size(), (uint32_t)rows.size(), 0);
  memcpy(&v[54], pal.data(), 4 * pal.size());
  memcpy(&v[54 + 4 * pal.size()], rows.data(), rows.size());
  return v;
}
// The image is w x h and its every pixel patternColor.
void expectPattern(const CxImage& img, uint32_t w, uint32_t h) {
  ASSERT_TRUE(img.GetWidth() == w && img.GetHeight() == h);
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) ASSERT_EQ(px(img, x, y), colorBytes(patternColor(x, y))) << x;
}
}  // namespace
TEST(BmpWriting, CardImageHeaderFieldsAndRoundTrip) {
  CxImage card = patterned(1013, 643), back;
  card.SetXDPI(300), card.SetYDPI(300);
  std::vector<uint8_t> bmp = encodeAs(card, CXIMAGE_FORMAT_BMP);
  ASSERT_EQ(bmp.size(), 14u + 40u + 1954720u);
  EXPECT_TRUE(bmp[0] == 'B' && bmp[1] == 'M');
  const std::pair<size_t, uint32_t> fields[] = {
      {2, 14 + 40 + 1954720}, {6, 0},           {10, 54},    {14, 40},    {18, 1013}, {22, 643},
      {26, 1 | (24 << 16)},   {30, 0}, {34, 1954720}, {38, 11811}, {42, 11811}, {46, 0}};
  for (const auto& f : fields) EXPECT_EQ(get32(&bmp[f.first]), f.second) << "offset " << f.first;
  // Rows follow as held: bottom row first, blue-green-red.
  EXPECT_EQ(std::vector<uint8_t>(&bmp[54], &bmp[57]), colorBytes(patternColor(0, 0)));
  ASSERT_TRUE(decode(back, bmp)) << back.GetLastError();
  EXPECT_TRUE(back.GetXDPI() == 300 && back.GetYDPI() == 300);
  EXPECT_TRUE(back.GetType() == CXIMAGE_FORMAT_BMP && back.GetWidth() == 1013u);
  EXPECT_EQ(rowsOf(back), rowsOf(card));
}
TEST(BmpWriting, RefusesNonEmptyBufferEmptyImageUnknownFormatAndAFullStream) {
  CxImage img, empty;
  img.Create(2, 2, 24, 0);
  uint8_t marker = 0x5A;
  uint8_t* buf = &marker;
  int32_t size = 77;
  EXPECT_FALSE(img.Encode(buf, size, CXIMAGE_FORMAT_BMP));
  EXPECT_STREQ(img.GetLastError(), "the buffer must be empty");
  EXPECT_TRUE(buf == &marker && marker == 0x5A && size == 77);
  buf = nullptr;
  EXPECT_FALSE(img.Encode(buf, size, 2));
  EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
  EXPECT_FALSE(empty.Encode(buf, size, CXIMAGE_FORMAT_BMP));
  EXPECT_STREQ(empty.GetLastError(), "null image!!!");
  EXPECT_EQ(buf, nullptr);
  EXPECT_FALSE(img.Encode((CxFile*)nullptr, CXIMAGE_FORMAT_BMP));
  EXPECT_STREQ(img.GetLastError(), "null file handler");
  struct Refusing : CxMemFile {
    size_t Write(const void*, size_t, size_t) override { return 0; }
  } stream;
  stream.Open();
  EXPECT_FALSE(img.Encode(&stream, CXIMAGE_FORMAT_BMP));
  EXPECT_STREQ(img.GetLastError(), "BMP data could not be written");
}
// Settings survive; type and resolution come from the file; a top-down file's first row lands at
// the top; format 0 tries BMP first.
TEST(BmpReading, FrontEndFileBareDibAndTopDownRowsPixelForPixel) {
  std::vector<uint8_t> dib = handMadeBmp24(7, 6, 11811);
  dib.erase(dib.begin(), dib.begin() + 14);
  const struct { const char* name; std::vector<uint8_t> bytes; uint32_t w, h, type; int dpi; }
      cases[] = {
      {"front end file", handMadeBmp24(643, 5), 643, 5, CXIMAGE_FORMAT_BMP, 96},
      {"bare DIB at 300 dpi", dib, 7, 6, CXIMAGE_FORMAT_BMP, 300},
      {"top-down at 0 dpi", handMadeBmp24(7, 6, 0, true), 7, 6, CXIMAGE_FORMAT_BMP, 96},
      {"any format", handMadeBmp24(4, 4), 4, 4, 0, 96}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CxImage img;
    img.SetJpegQuality(100);
    img.SetCodecOption(0x8, CXIMAGE_FORMAT_JPG);
    img.SetXDPI(600);
    ASSERT_TRUE(decode(img, c.bytes, c.type)) << img.GetLastError();
    EXPECT_EQ(img.GetEffWidth(), (c.w * 3 + 3) & ~3u);
    EXPECT_TRUE(img.GetXDPI() == c.dpi && img.GetYDPI() == c.dpi) << img.GetXDPI();
    EXPECT_TRUE(img.GetJpegQuality() == 100 && img.GetCodecOption(CXIMAGE_FORMAT_JPG) == 0x8u);
    EXPECT_EQ(img.GetType(), (uint32_t)CXIMAGE_FORMAT_BMP);
    expectPattern(img, c.w, c.h);
  }
}
// Extra header fields are skipped; a 12-byte core header has 3-byte palette entries and a zero
// colour count means 256 of them.
TEST(BmpReading, EveryInfoHeaderSize) {
  const std::vector<uint8_t> base = handMadeBmp24(5, 3);
  for (uint32_t size : {64u, 124u, 56u}) {
    std::vector<uint8_t> v(base.begin(), base.begin() + 54);
    v.resize(14 + size, 0);
    put32(v, 14, size);
    put32(v, 10, 0);  // no offset: rows follow the header directly
    v.insert(v.end(), base.begin() + 54, base.end());
    CxImage img;
    ASSERT_TRUE(decode(img, v)) << size << ": " << img.GetLastError();
    expectPattern(img, 5, 3);
  }
  std::vector<uint8_t> core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // file header
                               12, 0, 0, 0, 3, 0, 2, 0, 1, 0, 8, 0};  // 3 x 2, 1 plane, 8 bits
  for (int i = 0; i < 256; i++) core.insert(core.end(), {(uint8_t)i, (uint8_t)(i / 2), 200});
  core.insert(core.end(), {1, 2, 3, 0, 250, 251, 252, 0});
  CxImage img;
  ASSERT_TRUE(decode(img, core)) << img.GetLastError();
  EXPECT_TRUE(img.GetBpp() == 8 && img.GetPixelIndex(2, 1) == 252);
  EXPECT_EQ(colorBytes(img.GetPixelColor(2, 1)), (std::vector<uint8_t>{252, 126, 200}));
  EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 200);
}
// 1 bit, 10 wide: rows of 4 bytes, leftmost pixel in the top bit; 4 bits written back keep the
// palette between header and rows.
TEST(BmpReading, IndexedDepthsAndPalettes) {
  CxImage one, four, back, many, imp;
  const std::vector<RGBQUAD> bw = {{0, 0, 0, 9}, {255, 255, 255, 9}};
  ASSERT_TRUE(decode(one, indexedBmp(10, 2, 1, bw, {0x80, 0x40, 0, 0, 0x01, 0, 0, 0})));
  for (int x = 0; x < 10; x++) {
    EXPECT_EQ(one.GetPixelIndex(x, 0), "1000000001"[x] - '0') << x;
    EXPECT_EQ(one.GetPixelIndex(x, 1), x == 7) << x;
  }
  EXPECT_TRUE(one.GetPixelColor(7, 1).rgbRed == 255 && one.GetPaletteColor(1).rgbReserved == 0);
  std::vector<RGBQUAD> pal16(16);
  for (int i = 0; i < 16; i++) pal16[i] = RGBQUAD{(uint8_t)(i * 16), 0, 0, 0};
  ASSERT_TRUE(decode(four, indexedBmp(3, 1, 4, pal16, {0x12, 0x3F, 0, 0}))) << four.GetLastError();
  for (int x = 0; x < 3; x++) EXPECT_EQ(four.GetPixelIndex(x, 0), x + 1);
  const std::vector<uint8_t> again = encodeAs(four, CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(get32(&again[10]) == 14u + 40u + 64u && get32(&again[46]) == 16u);
  ASSERT_TRUE(decode(back, again)) << back.GetLastError();
  EXPECT_EQ(rowsOf(back), rowsOf(four));
  EXPECT_EQ(back.GetPixelColor(2, 0).rgbBlue, 48);
  // 300 palette entries in the file: the first 256 are kept, the rest skipped.
  std::vector<RGBQUAD> pal300(300);
  for (int i = 0; i < 300; i++) pal300[i] = RGBQUAD{(uint8_t)i, (uint8_t)(i >> 8), 7, 0};
  ASSERT_TRUE(decode(many, indexedBmp(4, 1, 8, pal300, {0, 255, 9, 1}))) << many.GetLastError();
  EXPECT_EQ(colorBytes(many.GetPixelColor(1, 0)), (std::vector<uint8_t>{255, 0, 7}));
  EXPECT_EQ(many.GetPixelIndex(2, 0), 9);
  // More important colours than entries never sends the colour match past them.
  ASSERT_TRUE(decode(imp, with32(indexedBmp(4, 1, 8, {bw[0], bw[0]}, {0, 1, 0, 1}), 50, 100000)));
  imp.SetPixelColor(0, 0, bw[0]);
  EXPECT_EQ(imp.GetPixelIndex(0, 0), 0);
}
// Each file is refused with its reason (empty: any), leaves no image, and an early refusal keeps
// the target's picture and settings.
TEST(BmpReading, BadFilesAreRefusedWithTheirReason) {
  const std::string kShort = "BMP pixel data is shorter than its header states";
  const std::vector<uint8_t> good = handMadeBmp24(6, 4), card = handMadeBmp24(643, 10);
  const std::vector<RGBQUAD> pal = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  const std::vector<uint8_t> pal8 = indexedBmp(4, 1, 8, pal, {0, 1, 0, 1});
  // Without an offset the palette counts towards the rows until it is read: only the read itself
  // finds these rows 2 bytes short.
  std::vector<uint8_t> afterPalette = with32(pal8, 10, 0);
  afterPalette.resize(afterPalette.size() - 2);
  // A header of 56 bytes needs a consistent image size: 10 < 20 x 4 row bytes.
  std::vector<uint8_t> header56(good.begin(), good.begin() + 54);
  header56.resize(14 + 56, 0);
  put32(header56, 14, 56), put32(header56, 10, 0), put32(header56, 34, 10);
  header56.insert(header56.end(), good.begin() + 54, good.end());
  struct Case {
    std::vector<uint8_t> bytes;
    std::string why;
    uint32_t type = CXIMAGE_FORMAT_BMP;
    bool keeps = false;
  };
  const std::string kWrong = "Decode: Unknown or wrong format", kSmall =
      "Error reading BMP info bmpHeader biSize 14 biWidth 6, bmpHeader.biBitCount 24 (1) off 0 bf 4D42 ";
  std::vector<Case> cases = {
      {with32(good, 30, 1), "unknown compression", CXIMAGE_FORMAT_BMP, true},
      {good, kWrong, 2, true},
      {good, kWrong, CXIMAGE_FORMAT_JPG, true},
      {{'B', 'M', 1, 2}, "Not a BMP", CXIMAGE_FORMAT_BMP, true},
      {{'B', 'M', 1, 2}, kWrong, 0, true},
      {with32(pal8, 30, 1), "unknown compression"},
      {header56, "Error reading BMP info bmpHeader biSize 38"},
      {with32(good, 14, 20), kSmall + std::to_string(good.size()) + " 54"},
      {with32(with32(good, 18, 8000), 22, 8000), kShort},  // a large image over a few bytes
      {with32(good, 10, 0x7FFFFFF0), kShort},              // a pixel offset past the data
      {afterPalette, kShort}};
  for (size_t cut : {(size_t)1, (size_t)3, (size_t)1932, card.size() - 54})
    cases.push_back({std::vector<uint8_t>(card.begin(), card.end() - (long)cut), kShort});
  for (uint8_t bpp : {16, 32, 2, 0}) {  // the high byte of the depth field is 0 already
    cases.push_back({good, "unsupported BMP bit depth " + std::to_string(bpp)});
    cases.back().bytes[28] = bpp;
  }
  // Negative, most negative and absurd sizes, an offset far past the data, palette counts far
  // larger than the data and than 256 entries: any reason.
  const std::pair<size_t, uint32_t> hostile[] = {
      {18, 0xFFFFFFFFu}, {22, 0x80000000u}, {18, 0x7FFFFFFFu}, {22, 0x7FFFFFFFu}, {10, 0xFFFFFFFFu}};
  for (const auto& m : hostile) cases.push_back({with32(good, m.first, m.second), ""});
  for (uint32_t colours : {0x40000000u, 300u}) cases.push_back({with32(pal8, 46, colours), ""});
  cases.push_back({with32(with32(pal8, 46, 300), 10, 0), ""});
  for (size_t i = 0; i < cases.size(); i++) {
    SCOPED_TRACE(i);
    CxImage img, kept = patterned(3, 3);
    EXPECT_FALSE(decode(img, cases[i].bytes, cases[i].type));
    EXPECT_FALSE(img.IsValid());
    const std::string why = img.GetLastError();
    EXPECT_TRUE(!why.empty() && why.find(cases[i].why) != std::string::npos) << why;
    if (!cases[i].keeps) continue;
    kept.SetJpegQuality(100);
    EXPECT_FALSE(decode(kept, cases[i].bytes, cases[i].type));
    EXPECT_TRUE(rowsOf(kept) == rowsOf(patterned(3, 3)) && kept.GetJpegQuality() == 100);
  }
  CxImage img;
  EXPECT_FALSE(img.Decode((CxFile*)nullptr, 1));
  EXPECT_STREQ(img.GetLastError(), "null file handler");
}
// Image and file sizes are only informative; a large header is skipped over when the pixel offset
// is given, but without the offset the rows would lie past the end of the data. Every prefix of a
// valid file fails cleanly.
TEST(BmpReading, InformativeFieldsAreIgnoredAndEveryPrefixFailsCleanly) {
  const std::vector<uint8_t> good = handMadeBmp24(6, 4);
  const std::pair<size_t, uint32_t> harmless[] = {
      {34, 0xFFFFFFFFu}, {2, 0xFFFFFFFFu}, {14, 0xFFFFFFFFu}, {14, 0x7FFFFFFFu}};
  for (const auto& m : harmless) {
    std::vector<uint8_t> v = with32(good, m.first, m.second);
    CxImage img;
    ASSERT_TRUE(decode(img, v)) << m.first << ": " << img.GetLastError();
    EXPECT_EQ(px(img, 5, 3), colorBytes(patternColor(5, 3))) << m.first;
    EXPECT_EQ(decode(img, with32(v, 10, 0)), m.first != 14) << m.first;
  }
  for (size_t n = 0; n < good.size(); n++) {
    CxImage part;
    ASSERT_FALSE(part.Decode(good.data(), (uint32_t)n, CXIMAGE_FORMAT_BMP)) << n;
  }
  EXPECT_FALSE(FuzzDecodeBmp(nullptr, 0));
  EXPECT_TRUE(FuzzDecodeBmp(good.data(), good.size()));
}
