// BMP codec: round trips, the front end's own files, bare DIBs, top-down
// rows, resolutions, every info-header size, indexed depths, and hostile
// headers that must be refused without reading past the data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximabmp.h"
#include "ximage/ximage.h"
#include "ximage/xmemfile.h"

using namespace ximgtest;

namespace {

bool decode(CxImage& img, const std::vector<uint8_t>& bytes, uint32_t type = CXIMAGE_FORMAT_BMP) {
  return img.Decode(bytes.data(), (uint32_t)bytes.size(), type);
}

// An indexed BMP: headers, palette, rows given raw.
std::vector<uint8_t> indexedBmp(int32_t w, int32_t h, uint16_t bpp, const std::vector<RGBQUAD>& pal,
                                const std::vector<uint8_t>& rows) {
  std::vector<uint8_t> v = bmpHeaders(w, h, bpp, (uint32_t)pal.size(), (uint32_t)rows.size(), 0);
  memcpy(&v[54], pal.data(), 4 * pal.size());
  memcpy(&v[54 + 4 * pal.size()], rows.data(), rows.size());
  return v;
}

void expectPattern(const CxImage& img, uint32_t w, uint32_t h) {
  ASSERT_EQ(img.GetWidth(), w);
  ASSERT_EQ(img.GetHeight(), h);
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++)
      ASSERT_EQ(px(img, x, y), colorBytes(patternColor((int)x, (int)y))) << x << "," << y;
}

}  // namespace

TEST(BmpEncode, CardImageHeaderFieldsAndRoundTrip) {
  CxImage card = patterned(1013, 643);
  card.SetXDPI(300);
  card.SetYDPI(300);
  std::vector<uint8_t> bmp = encodeAs(card, CXIMAGE_FORMAT_BMP);
  ASSERT_EQ(bmp.size(), 14u + 40u + 1954720u);
  const uint8_t* b = bmp.data();
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  const std::pair<size_t, uint32_t> fields[] = {
      {2, 14 + 40 + 1954720}, {6, 0},  {10, 54}, {14, 40},    {18, 1013},   {22, 643},
      {26, 1 | (24 << 16)},   {30, 0}, {34, 1954720},         {38, 11811},  {42, 11811}, {46, 0}};
  for (const auto& f : fields) EXPECT_EQ(get32(b + f.first), f.second) << "offset " << f.first;
  // Rows follow as held: bottom row first, blue-green-red.
  EXPECT_EQ(std::vector<uint8_t>(b + 54, b + 57), colorBytes(patternColor(0, 0)));

  CxImage back;
  ASSERT_TRUE(decode(back, bmp)) << back.GetLastError();
  EXPECT_EQ(back.GetXDPI(), 300);
  EXPECT_EQ(back.GetYDPI(), 300);
  EXPECT_EQ(back.GetType(), (uint32_t)CXIMAGE_FORMAT_BMP);
  EXPECT_EQ(back.GetWidth(), 1013u);
  EXPECT_EQ(rowsOf(back), rowsOf(card));
}

TEST(BmpEncode, RefusesNonEmptyBufferEmptyImageUnknownFormatAndAFullStream) {
  CxImage img;
  img.Create(2, 2, 24, 0);
  uint8_t marker = 0x5A;
  uint8_t* buf = &marker;
  int32_t size = 77;
  EXPECT_FALSE(img.Encode(buf, size, CXIMAGE_FORMAT_BMP));
  EXPECT_STREQ(img.GetLastError(), "the buffer must be empty");
  EXPECT_EQ(buf, &marker);
  EXPECT_EQ(marker, 0x5A);
  EXPECT_EQ(size, 77);

  buf = nullptr;
  EXPECT_FALSE(img.Encode(buf, size, 2));
  EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
  EXPECT_EQ(buf, nullptr);
  CxImage empty;
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

TEST(BmpDecode, FrontEndFileBareDibAndTopDownRowsPixelForPixel) {
  std::vector<uint8_t> dib = handMadeBmp24(7, 6, 11811);
  dib.erase(dib.begin(), dib.begin() + 14);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t w, h;
    int dpi;
  } cases[] = {{"front end file", handMadeBmp24(643, 5), 643, 5, 96},
               {"bare DIB at 300 dpi", dib, 7, 6, 300},
               {"top-down at 0 dpi", handMadeBmp24(7, 6, 0, true), 7, 6, 96}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Settings survive; type and resolution come from the file.
    CxImage img;
    img.SetJpegQuality(100);
    img.SetCodecOption(0x8, CXIMAGE_FORMAT_JPG);
    img.SetXDPI(600);
    ASSERT_TRUE(decode(img, c.bytes)) << img.GetLastError();
    EXPECT_EQ(img.GetEffWidth(), (c.w * 3 + 3) & ~3u);
    EXPECT_EQ(img.GetXDPI(), c.dpi);
    EXPECT_EQ(img.GetYDPI(), c.dpi);
    EXPECT_EQ(img.GetJpegQuality(), 100);
    EXPECT_EQ(img.GetCodecOption(CXIMAGE_FORMAT_JPG), 0x8u);
    EXPECT_EQ(img.GetType(), (uint32_t)CXIMAGE_FORMAT_BMP);
    expectPattern(img, c.w, c.h);  // a top-down file's first row lands at the top
  }
  CxImage any;
  EXPECT_TRUE(decode(any, handMadeBmp24(4, 4), 0));  // format 0 tries BMP first
}

TEST(BmpDecode, FailuresKeepTheTargetAndSayWhy) {
  CxImage img = patterned(3, 3);
  img.SetJpegQuality(100);
  std::vector<uint8_t> before = rowsOf(img);

  std::vector<uint8_t> rle = handMadeBmp24(4, 4);
  put32(rle, 30, 1);
  EXPECT_FALSE(decode(img, rle));
  EXPECT_STREQ(img.GetLastError(), "unknown compression");
  for (uint32_t type : {2u, (uint32_t)CXIMAGE_FORMAT_JPG}) {
    EXPECT_FALSE(decode(img, handMadeBmp24(4, 4), type));
    EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");
  }
  std::vector<uint8_t> tiny = {'B', 'M', 1, 2};
  EXPECT_FALSE(decode(img, tiny));
  EXPECT_STREQ(img.GetLastError(), "Not a BMP");
  EXPECT_FALSE(decode(img, tiny, 0));
  EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");
  EXPECT_FALSE(img.Decode((CxFile*)nullptr, 1));
  EXPECT_STREQ(img.GetLastError(), "null file handler");

  EXPECT_EQ(img.GetWidth(), 3u);
  EXPECT_EQ(img.GetJpegQuality(), 100);
  EXPECT_EQ(rowsOf(img), before);
}

TEST(BmpDecode, ShortPixelDataIsRefusedNotHalfFilled) {
  const char* const kShort = "BMP pixel data is shorter than its header states";
  std::vector<uint8_t> bmp = handMadeBmp24(643, 10);
  for (size_t cut : {(size_t)1, (size_t)3, (size_t)1932, bmp.size() - 54}) {
    std::vector<uint8_t> shortBmp(bmp.begin(), bmp.end() - (long)cut);
    CxImage img;
    EXPECT_FALSE(decode(img, shortBmp)) << cut;
    EXPECT_STREQ(img.GetLastError(), kShort);
    EXPECT_FALSE(img.IsValid());
  }
  // A large image promised over a few bytes, and a pixel offset past the data.
  std::vector<uint8_t> huge = handMadeBmp24(4, 4);
  put32(huge, 18, 8000);
  put32(huge, 22, 8000);
  std::vector<uint8_t> far = handMadeBmp24(4, 4);
  put32(far, 10, 0x7FFFFFF0);
  // Without an offset the palette counts towards the rows until it is read:
  // only the read itself finds these rows 2 bytes short.
  std::vector<uint8_t> afterPalette = indexedBmp(4, 1, 8, {{1, 2, 3, 0}, {4, 5, 6, 0}}, {0, 1, 0, 1});
  put32(afterPalette, 10, 0);
  afterPalette.resize(afterPalette.size() - 2);
  for (const auto& v : {huge, far, afterPalette}) {
    CxImage img;
    EXPECT_FALSE(decode(img, v));
    EXPECT_STREQ(img.GetLastError(), kShort);
  }
}

TEST(BmpDecode, EveryInfoHeaderSize) {
  std::vector<uint8_t> base = handMadeBmp24(5, 3);
  std::vector<uint8_t> pixels(base.begin() + 54, base.end());
  auto withHeaderSize = [&](uint32_t size, uint32_t imageSize) {
    std::vector<uint8_t> v(base.begin(), base.begin() + 54);
    v.resize(14 + size, 0);
    put32(v, 14, size);
    put32(v, 10, 0);  // no offset: rows follow the header directly
    put32(v, 34, imageSize);
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
  };
  // Extra fields are skipped; pixels follow the header.
  for (uint32_t size : {64u, 124u, 56u}) {
    CxImage img;
    ASSERT_TRUE(decode(img, withHeaderSize(size, 48))) << size << ": " << img.GetLastError();
    expectPattern(img, 5, 3);
  }
  // Other sizes from 41 up need a consistent image size: 10 < 16 x 3 row bytes.
  CxImage img;
  EXPECT_FALSE(decode(img, withHeaderSize(56, 10)));
  EXPECT_NE(std::string(img.GetLastError()).find("Error reading BMP info bmpHeader biSize 38"),
            std::string::npos)
      << img.GetLastError();
  std::vector<uint8_t> small = base;
  put32(small, 14, 20);
  EXPECT_FALSE(decode(img, small));
  EXPECT_EQ(std::string(img.GetLastError()),
            "Error reading BMP info bmpHeader biSize 14 biWidth 5, bmpHeader.biBitCount 24 (1) off 0 bf 4D42 " +
                std::to_string(base.size()) + " 54");

  // 12-byte core header, 8 bits, 3 bytes a palette entry; a zero colour
  // count means 256 entries in the file.
  std::vector<uint8_t> core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // file header
                               12, 0, 0, 0, 3, 0, 2, 0, 1, 0, 8, 0};        // 3 x 2, 1 plane, 8 bits
  for (int i = 0; i < 256; i++) core.insert(core.end(), {(uint8_t)i, (uint8_t)(i / 2), 200});
  core.insert(core.end(), {1, 2, 3, 0, 250, 251, 252, 0});
  CxImage coreImg;
  ASSERT_TRUE(decode(coreImg, core)) << coreImg.GetLastError();
  EXPECT_EQ(coreImg.GetBpp(), 8);
  EXPECT_EQ(coreImg.GetPixelIndex(2, 1), 252);
  EXPECT_EQ(colorBytes(coreImg.GetPixelColor(2, 1)), (std::vector<uint8_t>{252, 126, 200}));
  EXPECT_EQ(coreImg.GetPaletteColor(0).rgbRed, 200);
}

TEST(BmpDecode, IndexedDepthsDecodeAndOthersAreRefused) {
  std::vector<RGBQUAD> pal = {{0, 0, 0, 9}, {255, 255, 255, 9}};
  // 1 bit, 10 wide: rows of 4 bytes; leftmost pixel in the top bit.
  CxImage one;
  ASSERT_TRUE(decode(one, indexedBmp(10, 2, 1, pal, {0x80, 0x40, 0, 0, 0x01, 0x00, 0, 0})))
      << one.GetLastError();
  for (int x = 0; x < 10; x++) {
    EXPECT_EQ(one.GetPixelIndex(x, 0), "1000000001"[x] - '0') << x;
    EXPECT_EQ(one.GetPixelIndex(x, 1), x == 7) << x;
  }
  EXPECT_EQ(one.GetPixelColor(7, 1).rgbRed, 255);
  EXPECT_EQ(one.GetPaletteColor(1).rgbReserved, 0);

  std::vector<RGBQUAD> pal16(16);
  for (int i = 0; i < 16; i++) pal16[i] = RGBQUAD{(uint8_t)(i * 16), 0, 0, 0};
  CxImage four;
  ASSERT_TRUE(decode(four, indexedBmp(3, 1, 4, pal16, {0x12, 0x3F, 0, 0}))) << four.GetLastError();
  for (int x = 0; x < 3; x++) EXPECT_EQ(four.GetPixelIndex(x, 0), x + 1);
  EXPECT_EQ(four.GetPixelColor(2, 0).rgbBlue, 48);
  // Written back, the palette sits between header and rows and comes back.
  std::vector<uint8_t> again = encodeAs(four, CXIMAGE_FORMAT_BMP);
  ASSERT_EQ(get32(&again[10]), 14u + 40u + 64u);
  EXPECT_EQ(get32(&again[46]), 16u);
  CxImage back;
  ASSERT_TRUE(decode(back, again)) << back.GetLastError();
  EXPECT_EQ(rowsOf(back), rowsOf(four));
  EXPECT_EQ(back.GetPixelColor(2, 0).rgbBlue, 48);

  for (uint16_t bpp : {16, 32, 2, 0}) {
    std::vector<uint8_t> v = handMadeBmp24(4, 4);
    put16(v, 28, bpp);
    CxImage img;
    EXPECT_FALSE(decode(img, v)) << bpp;
    EXPECT_EQ(std::string(img.GetLastError()), "unsupported BMP bit depth " + std::to_string(bpp));
  }
  std::vector<uint8_t> rle8 = indexedBmp(4, 1, 8, pal, {0, 1, 0, 1});
  put32(rle8, 30, 1);
  CxImage img;
  EXPECT_FALSE(decode(img, rle8));
  EXPECT_STREQ(img.GetLastError(), "unknown compression");
}

TEST(BmpDecode, HostileHeadersAreRefusedWithoutReadingPastTheData) {
  const std::vector<uint8_t> good = handMadeBmp24(6, 4);
  struct Mutation {
    size_t at;
    uint32_t value;
    const char* what;
  } refused[] = {{18, 0xFFFFFFFFu, "negative width"},   {22, 0x80000000u, "most negative height"},
                 {18, 0x7FFFFFFFu, "absurd width"},     {22, 0x7FFFFFFFu, "absurd height"},
                 {10, 0xFFFFFFFFu, "offset far past the data"}},
    // Image and file sizes are only informative; a large header is skipped
    // over when the pixel offset is given, but without the offset the rows
    // would lie past the end of the data.
    harmless[] = {{34, 0xFFFFFFFFu, "image size far past the data"},
                  {2, 0xFFFFFFFFu, "absurd file size"},
                  {14, 0xFFFFFFFFu, "absurd header size"},
                  {14, 0x7FFFFFFFu, "large header size"}};
  for (const Mutation& m : refused) {
    std::vector<uint8_t> v = good;
    put32(v, m.at, m.value);
    CxImage img;
    EXPECT_FALSE(decode(img, v)) << m.what;
    EXPECT_NE(img.GetLastError()[0], '\0') << m.what;
    EXPECT_FALSE(img.IsValid()) << m.what;
  }
  for (const Mutation& m : harmless) {
    std::vector<uint8_t> v = good;
    put32(v, m.at, m.value);
    CxImage img;
    ASSERT_TRUE(decode(img, v)) << m.what << ": " << img.GetLastError();
    EXPECT_EQ(px(img, 5, 3), colorBytes(patternColor(5, 3))) << m.what;
    put32(v, 10, 0);
    EXPECT_EQ(decode(img, v), m.at != 14) << m.what;
  }

  // 300 palette entries in the file: the first 256 are kept, the rest skipped.
  std::vector<RGBQUAD> many(300);
  for (int i = 0; i < 300; i++) many[i] = RGBQUAD{(uint8_t)i, (uint8_t)(i >> 8), 7, 0};
  CxImage manyImg;
  ASSERT_TRUE(decode(manyImg, indexedBmp(4, 1, 8, many, {0, 255, 9, 1}))) << manyImg.GetLastError();
  EXPECT_EQ(colorBytes(manyImg.GetPixelColor(1, 0)), (std::vector<uint8_t>{255, 0, 7}));
  EXPECT_EQ(manyImg.GetPixelIndex(2, 0), 9);

  // A palette count far larger than the data, and than 256 entries.
  std::vector<RGBQUAD> pal(2, RGBQUAD{1, 2, 3, 0});
  std::vector<uint8_t> v = indexedBmp(4, 1, 8, pal, {0, 1, 0, 1});
  put32(v, 46, 0x40000000u);
  CxImage img;
  EXPECT_FALSE(decode(img, v));
  put32(v, 46, 300);
  EXPECT_FALSE(decode(img, v));
  put32(v, 10, 0);
  EXPECT_FALSE(decode(img, v));

  // More important colours than entries never sends the colour match past them.
  std::vector<uint8_t> imp = indexedBmp(4, 1, 8, pal, {0, 1, 0, 1});
  put32(imp, 50, 100000);
  ASSERT_TRUE(decode(img, imp)) << img.GetLastError();
  img.SetPixelColor(0, 0, RGBQUAD{1, 2, 3, 0});
  EXPECT_EQ(img.GetPixelIndex(0, 0), 0);

  // Every prefix of a valid file fails cleanly except the whole file.
  for (size_t n = 0; n < good.size(); n++) {
    CxImage part;
    ASSERT_FALSE(part.Decode(good.data(), (uint32_t)n, CXIMAGE_FORMAT_BMP)) << n;
  }
  EXPECT_FALSE(FuzzDecodeBmp(nullptr, 0));
  EXPECT_TRUE(FuzzDecodeBmp(good.data(), good.size()));
}
