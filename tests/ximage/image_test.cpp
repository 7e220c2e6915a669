// Image container: sizes, creation failures, row pointers, pixels, lines,
// copies and resolution fields.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/dibblocks.h"
#include "ximage/ximage.h"

using namespace ximgtest;

namespace {
// The header copy at the start of the DIB.
BITMAPINFOHEADER dibHeader(const CxImage& img) {
  BITMAPINFOHEADER h;
  memcpy(&h, img.GetBits(0) - sizeof(BITMAPINFOHEADER) - img.GetPaletteSize(), sizeof(h));
  return h;
}
}  // namespace

TEST(ImageCreate, CardSizesGivePaddedRowsNoPaletteAndRowPointersUpToTheTop) {
  struct Case {
    uint32_t w, h, eff, size;
  } cases[] = {{643, 1013, 1932, 1957116}, {1013, 643, 3040, 1954720}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    CxImage img;
    ASSERT_NE(img.Create(c.w, c.h, 24, 0), nullptr);
    EXPECT_EQ(img.GetEffWidth(), c.eff);
    EXPECT_EQ(img.GetHeader().biSizeImage, c.size);
    EXPECT_EQ(img.GetSize(), 40u + c.size);
    EXPECT_EQ(img.GetNumColors(), 0u);
    EXPECT_EQ(img.GetPalette(), nullptr);
    BITMAPINFOHEADER h = dibHeader(img);  // the DIB starts with a copy of the header
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, (int32_t)c.w);
    EXPECT_EQ(h.biHeight, (int32_t)c.h);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, c.size);
    EXPECT_EQ(img.GetBits(c.h - 1), img.GetBits(0) + (c.h - 1) * c.eff);
    EXPECT_EQ(img.GetBits(c.h), nullptr);
    EXPECT_EQ(img.GetBits(0xFFFFFFFFu), nullptr);
  }
  CxImage empty;
  EXPECT_EQ(empty.GetBits(0), nullptr);
}

TEST(ImageCreate, ZeroSizeAndOversizeFailWithTheirTexts) {
  CxImage img;
  ASSERT_NE(img.Create(10, 10, 24, 0), nullptr);
  EXPECT_EQ(img.Create(0, 10, 24, 0), nullptr);
  EXPECT_STREQ(img.GetLastError(), "CxImage::Create : width and height must be greater than zero");
  EXPECT_FALSE(img.IsValid());
  EXPECT_EQ(img.GetBits(0), nullptr);  // the old pixels went with the DIB
  EXPECT_EQ(img.Create(10, 0, 24, 0), nullptr);
  EXPECT_FALSE(img.IsValid());

  // Over 256 MiB of bits; and one 1-bit pixel a row: 2^30 rows pass the bit
  // count but pad to 4 GiB, more than the size field holds.
  const uint32_t big[][3] = {{65536, 65536, 24}, {16385, 16384, 8}, {1, 1u << 30, 1}};
  for (const auto& b : big) {
    CxImage huge;
    EXPECT_EQ(huge.Create(b[0], b[1], b[2], 0), nullptr) << b[0] << "x" << b[1];
    EXPECT_STREQ(huge.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(huge.IsValid());
  }
}

TEST(ImageCreate, BitDepthIsNormalisedWithItsPalette) {
  struct Case {
    uint32_t asked, bpp, colors;
  } cases[] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {3, 4, 16}, {4, 4, 16}, {5, 8, 256},
               {8, 8, 256}, {9, 24, 0}, {16, 24, 0}, {32, 24, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    CxImage img;
    ASSERT_NE(img.Create(33, 5, c.asked, 0), nullptr);
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.GetNumColors(), c.colors);
    EXPECT_EQ(img.GetEffWidth(), ((c.bpp * 33 + 31) / 32) * 4);
    if (!c.colors) continue;
    // The palette sits between the header and row 0 and starts zeroed.
    EXPECT_EQ(img.GetBits(0) - (uint8_t*)img.GetPalette(), (long)(4 * c.colors));
    for (uint32_t i = 0; i < c.colors; i++) {
      RGBQUAD p = img.GetPaletteColor((uint8_t)i);
      EXPECT_EQ(p.rgbBlue | p.rgbGreen | p.rgbRed | p.rgbReserved, 0);
    }
  }
}

TEST(ImagePixels, TrueColourInsideOutsideAndOffTheRightEdge) {
  CxImage img;
  img.Create(643, 4, 24, 0);
  img.Clear(0);
  img.SetPixelColor(642, 3, rgb(10, 20, 30));
  EXPECT_EQ(px(img, 642, 3), (std::vector<uint8_t>{30, 20, 10}));
  EXPECT_EQ(colorBytes(img.GetPixelColor(642, 3)), (std::vector<uint8_t>{30, 20, 10}));

  std::vector<uint8_t> before = rowsOf(img);
  img.SetPixelColor(643, 0, rgb(1, 2, 3));
  img.SetPixelColor(-1, 0, rgb(1, 2, 3));
  img.SetPixelColor(0, 4, rgb(1, 2, 3));
  EXPECT_EQ(rowsOf(img), before);

  // Outside with no background index: the colour of pixel (0, 0).
  img.SetPixelColor(0, 0, rgb(7, 8, 9));
  EXPECT_EQ(colorBytes(img.GetPixelColor(1000, -3)), (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(img.GetPixelIndex(0, 0), 0);  // a true-colour image has no indices
}

TEST(ImagePixels, IndexedDepthsAddressTheirNibblesAndBits) {
  CxImage img8;
  img8.Create(5, 3, 8, 0);
  setGreyRamp(img8);
  img8.Clear(0);
  img8.SetPixelColor(4, 2, rgb(100, 100, 100));  // through the palette
  EXPECT_EQ(img8.GetBits(2)[4], 100);
  EXPECT_EQ(img8.GetPixelIndex(4, 2), 100);
  EXPECT_EQ(img8.GetPixelColor(4, 2).rgbRed, 100);
  img8.SetPixelIndex(0, 0, 42);
  EXPECT_EQ(img8.GetPixelIndex(-1, 99), 42);  // outside: the first byte of the rows

  // Sub-byte depths: the leftmost pixel in the high bits.
  const struct {
    uint32_t bpp;
    std::vector<std::pair<int, int>> writes;
    std::vector<uint8_t> bytes;
  } cases[] = {{4, {{0, 0xA}, {1, 0x5}, {4, 0xF}}, {0xA5, 0x00, 0xF0}},
               {1, {{0, 1}, {9, 1}, {0, 0}}, {0x00, 0x40}}};
  for (const auto& c : cases) {
    CxImage img;
    img.Create(10, 1, c.bpp, 0);
    img.Clear(0);
    for (const auto& w : c.writes) img.SetPixelIndex(w.first, 0, (uint8_t)w.second);
    EXPECT_EQ(std::vector<uint8_t>(img.GetBits(0), img.GetBits(0) + c.bytes.size()), c.bytes) << c.bpp;
    EXPECT_EQ(img.GetPixelIndex(c.writes[1].first, 0), c.writes[1].second) << c.bpp;
    EXPECT_EQ(img.GetPaletteColor((uint8_t)(1u << c.bpp)).rgbRed, 0) << "past the entries";
  }
}

TEST(ImagePalette, NearestIndexAndGreyScale) {
  CxImage img;
  img.Create(2, 2, 8, 0);
  EXPECT_FALSE(img.IsGrayScale());  // all-zero palette
  RGBQUAD pal[4] = {{0, 0, 0, 0}, {10, 10, 10, 0}, {30, 30, 30, 0}, {10, 10, 10, 0}};
  img.SetPalette(pal, 4);
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{10, 10, 10, 0}), 1);  // exact, first one
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{20, 20, 20, 0}), 1);  // tie between 1 and 2
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{29, 29, 29, 0}), 2);
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{0, 0, 0, 0}), 0);  // entries 4..255 are zero too
  // A new palette forgets the remembered answer.
  RGBQUAD moved[3] = {{200, 200, 200, 0}, {0, 0, 0, 0}, {29, 29, 29, 0}};
  img.SetPalette(moved, 3);
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{29, 29, 29, 0}), 2);
  EXPECT_EQ(img.GetNearestIndex(RGBQUAD{200, 200, 200, 0}), 0);

  setGreyRamp(img);
  EXPECT_TRUE(img.IsGrayScale());
  img.GetPalette()[77].rgbRed = 78;
  EXPECT_FALSE(img.IsGrayScale());

  CxImage rgbImg;
  rgbImg.Create(2, 2, 24, 0);
  EXPECT_EQ(rgbImg.GetNearestIndex(RGBQUAD{1, 2, 3, 0}), 0);
  EXPECT_FALSE(rgbImg.IsGrayScale());
}

TEST(ImageDraw, LinesColourTheWholeRowAndStopAtTheEdge) {
  CxImage img;
  img.Create(643, 3, 24, 0);
  img.Clear(255);
  img.DrawLine(0, 643, 1, 1, rgb(0, 0, 0));
  for (uint32_t x = 0; x < 643; x++) {
    ASSERT_EQ(px(img, x, 1), (std::vector<uint8_t>{0, 0, 0})) << x;
    ASSERT_EQ(px(img, x, 0), (std::vector<uint8_t>{255, 255, 255})) << x;
    ASSERT_EQ(px(img, x, 2), (std::vector<uint8_t>{255, 255, 255})) << x;
  }
  EXPECT_EQ(img.GetBits(1)[1929], 255);  // row padding untouched

  // A diagonal running in from outside lands only its inside points; a steep
  // line steps x at the Bresenham half-way points.
  const struct {
    int x1, x2, y1, y2;
    std::set<std::pair<int, int>> lit;
  } cases[] = {{-5, 20, -5, 20, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}}},
               {0, 2, 0, 6, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}}}};
  for (const auto& c : cases) {
    CxImage small;
    small.Create(8, 8, 24, 0);
    small.Clear(0);
    small.DrawLine(c.x1, c.x2, c.y1, c.y2, rgb(255, 255, 255));
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) EXPECT_EQ(px(small, x, y)[0], c.lit.count({x, y}) ? 255 : 0) << x << "," << y;
  }
}

TEST(ImageCopy, AssignmentAndCopyKeepResolutionQualityAndPixels) {
  CxImage a = patterned(31, 7);
  a.SetXDPI(300);
  a.SetYDPI(200);
  a.SetJpegQuality(100);
  a.SetCodecOption(0x8, CXIMAGE_FORMAT_JPG);
  CxImage b;
  b = a;
  CxImage c(a);
  for (CxImage* copy : {&b, &c}) {
    EXPECT_EQ(copy->GetXDPI(), 300);
    EXPECT_EQ(copy->GetYDPI(), 200);
    EXPECT_EQ(copy->GetJpegQuality(), 100);
    EXPECT_EQ(copy->GetCodecOption(CXIMAGE_FORMAT_JPG), 0x8u);
    EXPECT_EQ(copy->GetHeader().biXPelsPerMeter, 11811);
    EXPECT_EQ(rowsOf(*copy), rowsOf(a));
    EXPECT_NE(copy->GetBits(0), a.GetBits(0));
  }
  a.SetPixelColor(0, 0, rgb(1, 1, 1));
  EXPECT_NE(px(b, 0, 0), px(a, 0, 0));

  uint8_t* before = a.GetBits(0);
  std::vector<uint8_t> rows = rowsOf(a);
  a = *&a;
  EXPECT_EQ(a.GetBits(0), before);
  EXPECT_EQ(rowsOf(a), rows);
}

TEST(ImageCopy, TransferMovesGhostNeverFreesCopyInfoNeedsAnEmptyImage) {
  CxImage a = patterned(9, 9);
  a.SetXDPI(300);
  uint8_t* bits = a.GetBits(0);
  CxImage b;
  ASSERT_TRUE(b.Transfer(a));
  EXPECT_EQ(b.GetBits(0), bits);
  EXPECT_EQ(b.GetXDPI(), 300);
  EXPECT_FALSE(a.IsValid());
  EXPECT_EQ(a.GetWidth(), 0u);

  CxImage* ghost = new CxImage;
  ghost->Ghost(&b);
  EXPECT_EQ(ghost->GetBits(0), bits);
  EXPECT_FALSE(ghost->Destroy());
  EXPECT_EQ(ghost->Create(4, 4, 24, 0), nullptr);
  delete ghost;
  EXPECT_EQ(px(b, 8, 8), colorBytes(patternColor(8, 8)));  // still b's own

  CxImage empty;
  empty.CopyInfo(b);
  EXPECT_EQ(empty.GetXDPI(), 300);
  CxImage full;
  full.Create(1, 1, 24, 0);
  full.CopyInfo(b);
  EXPECT_EQ(full.GetXDPI(), 96);
}

TEST(ImageSettings, ResolutionRoundsBothWaysAndReachesTheDibHeader) {
  CxImage img;
  EXPECT_EQ(img.GetXDPI(), 96);
  EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
  img.Create(4, 4, 24, 0);
  img.SetXDPI(300);
  img.SetYDPI(72);
  EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 11811);
  EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 2835);  // 2834.65 rounds up
  EXPECT_EQ(dibHeader(img).biXPelsPerMeter, 11811);
  EXPECT_EQ(dibHeader(img).biYPelsPerMeter, 2835);
  img.SetYDPI(100);
  EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 3937);  // 3937.007 rounds down
  img.SetXDPI(0);
  EXPECT_EQ(img.GetXDPI(), 96);
  EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
  img.SetYDPI(-7);
  EXPECT_EQ(img.GetYDPI(), 96);
  EXPECT_EQ(dibHeader(img).biYPelsPerMeter, 3780);
}

TEST(ImageClear, ValueIsSpreadPerDepthOverPaddingToo) {
  struct Case {
    uint32_t w, bpp;
    uint8_t value, want;
  } cases[] = {{643, 24, 255, 255}, {3, 4, 0x13, 0x33}, {3, 1, 2, 0xFF}};
  for (const Case& c : cases) {
    CxImage img;
    img.Create(c.w, 2, c.bpp, 0);
    img.Clear(c.value);
    for (uint8_t b : rowsOf(img)) ASSERT_EQ(b, c.want) << c.bpp;
  }
  CxImage empty;
  empty.Clear(1);  // nothing to clear, nothing breaks
  EXPECT_FALSE(empty.IsValid());
}

TEST(ImageBytes, RgbToBgrSwapsWholePixelsWithinTheRowOnly) {
  CxImage img;
  img.Create(2, 1, 24, 0);
  uint8_t row[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  img.RGBtoBGR(row, 10);  // limited to 3 x width = 6 bytes
  EXPECT_EQ(std::vector<uint8_t>(row, row + 10), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 7, 8, 9, 10}));
  uint8_t ragged[5] = {1, 2, 3, 4, 5};  // stops at the last whole pixel
  img.RGBtoBGR(ragged, 5);
  EXPECT_EQ(std::vector<uint8_t>(ragged, ragged + 5), (std::vector<uint8_t>{3, 2, 1, 4, 5}));
}

// Pixel blocks of destroyed images serve later images that fit in them, and
// only those: never a larger image, nor one under half their size, and small
// blocks are not kept. An image on a kept block is a whole, writable image.
TEST(ImageBlocks, AKeptBlockServesOnlyImagesItHolds) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "blocks are not kept under AddressSanitizer";
#endif
  // Blocks other tests of this process left kept would serve the requests
  // below in place of the ones this test follows.
  ximage_blocks::ReleaseKept();
  const size_t mib = 1 << 20;
  void* block = ximage_blocks::Take(2 * mib);
  const size_t holds = ximage_blocks::BlockBytes(block);
  ASSERT_GE(holds, 2 * mib);
  ximage_blocks::Give(block);
  void* larger = ximage_blocks::Take(holds + 1);
  void* quarter = ximage_blocks::Take(holds / 2 - 4096);
  EXPECT_NE(larger, block);
  EXPECT_NE(quarter, block);
  void* same = ximage_blocks::Take(holds - 100);
  EXPECT_EQ(same, block);
  for (void* p : {larger, quarter, same}) ximage_blocks::Give(p);

  void* small = ximage_blocks::Take(64 * 1024);
  const size_t kept = ximage_blocks::KeptCount();
  ximage_blocks::Give(small);
  EXPECT_EQ(ximage_blocks::KeptCount(), kept);

  CxImage first, second;
  ASSERT_NE(first.Create(1013, 643, 24, 0), nullptr);
  first.Clear(9);
  void* bits = first.GetBits(0);
  first.Destroy();
  ASSERT_NE(second.Create(1013, 643, 24, 0), nullptr);
  EXPECT_EQ(second.GetBits(0), bits);
  second.Clear(200);
  EXPECT_EQ(second.GetBits(642)[3 * 1012 + 2], 200);
}
