// Image container: creation, pixels, palettes, lines, copies, resolution and kept pixel blocks.
#include <gtest/gtest.h>

#include <algorithm>
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
// Card sizes give padded rows, no palette, a DIB that starts with a copy of the header, and row
// pointers up to the top row only; asked depths are normalised with a zeroed palette between the
// header and row 0.
TEST(ImageCreation, SizesDepthsPalettesAndRowPointers) {
  const struct { uint32_t w, h, asked, bpp, colors, eff; } cases[] = {
      {643, 1013, 24, 24, 0, 1932}, {1013, 643, 24, 24, 0, 3040}, {33, 5, 0, 1, 2, 8},
      {33, 5, 1, 1, 2, 8},          {33, 5, 2, 4, 16, 20},        {33, 5, 4, 4, 16, 20},
      {33, 5, 5, 8, 256, 36},       {33, 5, 8, 8, 256, 36},       {33, 5, 9, 24, 0, 100},
      {33, 5, 32, 24, 0, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " wide, asked " << c.asked);
    CxImage img;
    ASSERT_NE(img.Create(c.w, c.h, c.asked, 0), nullptr);
    const uint32_t size = c.eff * c.h;
    EXPECT_TRUE(img.GetBpp() == c.bpp && img.GetNumColors() == c.colors && img.GetEffWidth() == c.eff);
    EXPECT_TRUE(img.GetHeader().biSizeImage == size && img.GetSize() == 40u + 4 * c.colors + size);
    const BITMAPINFOHEADER h = dibHeader(img);
    EXPECT_TRUE(h.biSize == 40u && h.biWidth == (int32_t)c.w && h.biHeight == (int32_t)c.h);
    EXPECT_TRUE(h.biBitCount == c.bpp && h.biSizeImage == size);
    EXPECT_EQ(img.GetBits(c.h - 1), img.GetBits(0) + (c.h - 1) * c.eff);
    EXPECT_TRUE(img.GetBits(c.h) == nullptr && img.GetBits(0xFFFFFFFFu) == nullptr);
    const uint8_t* pal = (const uint8_t*)img.GetPalette();
    ASSERT_EQ(pal == nullptr, c.colors == 0);
    EXPECT_TRUE(!pal || (img.GetBits(0) - pal == 4 * c.colors &&
                         *std::max_element(pal, pal + 4 * c.colors) == 0));
  }
  EXPECT_EQ(CxImage().GetBits(0), nullptr);
}
// Over 256 MiB of bits; and one 1-bit pixel a row: 2^30 rows pass the bit count but pad to 4 GiB,
// more than the size field holds.
TEST(ImageCreation, ZeroSizeAndOversizeFailWithTheirTexts) {
  CxImage img;
  ASSERT_NE(img.Create(10, 10, 24, 0), nullptr);
  EXPECT_EQ(img.Create(0, 10, 24, 0), nullptr);
  EXPECT_STREQ(img.GetLastError(), "CxImage::Create : width and height must be greater than zero");
  EXPECT_TRUE(!img.IsValid() && img.GetBits(0) == nullptr);  // the old pixels went with the DIB
  EXPECT_EQ(img.Create(10, 0, 24, 0), nullptr);
  const uint32_t big[][3] = {{65536, 65536, 24}, {16385, 16384, 8}, {1, 1u << 30, 1}};
  for (const auto& b : big) {
    CxImage huge;
    EXPECT_EQ(huge.Create(b[0], b[1], b[2], 0), nullptr) << b[0] << "x" << b[1];
    EXPECT_STREQ(huge.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
  }
}
// Writes off any edge change nothing; outside with no background index reads pixel (0, 0), and
// of an indexed image the first byte of the rows.
TEST(PixelAccess, TrueColourAndIndexedInsideAndOutside) {
  CxImage img, img8;
  makeImage(img, 643, 4);
  img.SetPixelColor(642, 3, rgb(10, 20, 30));
  EXPECT_TRUE(px(img, 642, 3) == colorBytes(img.GetPixelColor(642, 3)) && px(img, 642, 3)[0] == 30);
  const std::vector<uint8_t> before = rowsOf(img);
  for (const auto& p : {std::make_pair(643, 0), std::make_pair(-1, 0), std::make_pair(0, 4)})
    img.SetPixelColor(p.first, p.second, rgb(1, 2, 3));
  EXPECT_EQ(rowsOf(img), before);
  img.SetPixelColor(0, 0, rgb(7, 8, 9));
  EXPECT_EQ(colorBytes(img.GetPixelColor(1000, -3)), (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(img.GetPixelIndex(0, 0), 0);  // a true-colour image has no indices
  makeImage(img8, 5, 3, 8);
  img8.SetPixelColor(4, 2, rgb(100, 100, 100));  // through the palette
  EXPECT_TRUE(img8.GetBits(2)[4] == 100 && img8.GetPixelColor(4, 2).rgbRed == 100);
  img8.SetPixelIndex(0, 0, 42);
  EXPECT_EQ(img8.GetPixelIndex(-1, 99), 42);
}
// Sub-byte depths keep the leftmost pixel in the high bits.
TEST(PixelAccess, IndexedDepthsAddressTheirNibblesAndBits) {
  const struct { uint32_t bpp; std::vector<std::pair<int, int>> writes; std::vector<uint8_t> bytes; }
      cases[] = {{4, {{0, 0xA}, {1, 0x5}, {4, 0xF}}, {0xA5, 0x00, 0xF0}},
                 {1, {{0, 1}, {9, 1}, {0, 0}}, {0x00, 0x40}}};
  for (const auto& c : cases) {
    CxImage img;
    makeImage(img, 10, 1, c.bpp);
    for (const auto& w : c.writes) img.SetPixelIndex(w.first, 0, (uint8_t)w.second);
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), img.GetBits(0))) << c.bpp;
    EXPECT_EQ(img.GetPixelIndex(c.writes[1].first, 0), c.writes[1].second) << c.bpp;
    EXPECT_EQ(img.GetPaletteColor((uint8_t)(1u << c.bpp)).rgbRed, 0) << "past the entries";
  }
}
// The first of equally near entries wins; a new palette forgets the remembered answer.
TEST(PixelAccess, NearestPaletteIndexAndGreyScale) {
  CxImage img, rgbImg;
  img.Create(2, 2, 8, 0);
  EXPECT_FALSE(img.IsGrayScale());  // all-zero palette
  RGBQUAD pal[4] = {rgb(0, 0, 0), rgb(10, 10, 10), rgb(30, 30, 30), rgb(10, 10, 10)};
  img.SetPalette(pal, 4);
  const int nearest[][2] = {{10, 1}, {20, 1}, {29, 2}, {0, 0}};
  for (const auto& q : nearest) EXPECT_EQ(img.GetNearestIndex(rgb(q[0], q[0], q[0])), q[1]) << q[0];
  RGBQUAD moved[3] = {rgb(200, 200, 200), rgb(0, 0, 0), rgb(29, 29, 29)};
  img.SetPalette(moved, 3);
  EXPECT_TRUE(img.GetNearestIndex(rgb(29, 29, 29)) == 2 && img.GetNearestIndex(rgb(200, 200, 200)) == 0);
  setGreyRamp(img);
  EXPECT_TRUE(img.IsGrayScale());
  img.GetPalette()[77].rgbRed = 78;
  EXPECT_FALSE(img.IsGrayScale());
  rgbImg.Create(2, 2, 24, 0);
  EXPECT_TRUE(rgbImg.GetNearestIndex(rgb(1, 2, 3)) == 0 && !rgbImg.IsGrayScale());
}
// A whole row leaves its neighbours and padding; a diagonal running in from outside lands only
// its inside points; a steep line steps x at the half-way points.
TEST(LineDrawing, LinesColourTheirPixelsAndStopAtTheEdge) {
  CxImage img;
  img.Create(643, 3, 24, 0);
  img.Clear(255);
  img.DrawLine(0, 643, 1, 1, rgb(0, 0, 0));
  std::vector<uint8_t> want(3 * 1932, 255);
  std::fill(want.begin() + 1932, want.begin() + 1932 + 3 * 643, 0);
  EXPECT_TRUE(rowsOf(img) == want);
  const struct { int x1, x2, y1, y2; std::set<std::pair<int, int>> lit; } cases[] = {
      {-5, 20, -5, 20, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}}},
      {0, 2, 0, 6, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}}}};
  for (const auto& c : cases) {
    CxImage small;
    makeImage(small, 8, 8);
    small.DrawLine(c.x1, c.x2, c.y1, c.y2, rgb(255, 255, 255));
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) EXPECT_EQ(px(small, x, y)[0], c.lit.count({x, y}) * 255) << x << y;
  }
}
TEST(ImageCopying, CopiesKeepSettingsAndPixelsTransfersAndGhostsShareThem) {
  CxImage a = patterned(31, 7), b;
  a.SetXDPI(300), a.SetYDPI(200), a.SetJpegQuality(100), a.SetCodecOption(0x8, CXIMAGE_FORMAT_JPG);
  b = a;
  CxImage c(a);
  for (CxImage* copy : {&b, &c}) {
    EXPECT_TRUE(copy->GetXDPI() == 300 && copy->GetYDPI() == 200 && copy->GetJpegQuality() == 100);
    EXPECT_EQ(copy->GetCodecOption(CXIMAGE_FORMAT_JPG), 0x8u);
    EXPECT_EQ(copy->GetHeader().biXPelsPerMeter, 11811);
    EXPECT_EQ(rowsOf(*copy), rowsOf(a));
    EXPECT_NE(copy->GetBits(0), a.GetBits(0));
  }
  uint8_t* bits = a.GetBits(0);
  const std::vector<uint8_t> rows = rowsOf(a);
  a = *&a;
  EXPECT_TRUE(a.GetBits(0) == bits && rowsOf(a) == rows) << "assigned to itself";
  // A transfer moves the pixels; a ghost never frees nor recreates them; CopyInfo needs an empty
  // image.
  CxImage t, empty, full;
  ASSERT_TRUE(t.Transfer(a));
  EXPECT_TRUE(t.GetBits(0) == bits && t.GetXDPI() == 300);
  EXPECT_TRUE(!a.IsValid() && a.GetWidth() == 0u);
  CxImage* ghost = new CxImage;
  ghost->Ghost(&t);
  EXPECT_EQ(ghost->GetBits(0), bits);
  EXPECT_FALSE(ghost->Destroy());
  EXPECT_EQ(ghost->Create(4, 4, 24, 0), nullptr);
  delete ghost;
  EXPECT_EQ(px(t, 8, 6), colorBytes(patternColor(8, 6)));  // still t's own
  empty.CopyInfo(t);
  EXPECT_EQ(empty.GetXDPI(), 300);
  full.Create(1, 1, 24, 0);
  full.CopyInfo(t);
  EXPECT_EQ(full.GetXDPI(), 96);
}
// 72 dpi is 2834.65 pixels a metre, rounded up; 100 dpi 3937.007, rounded down; none gives 96.
TEST(ImageSettings, ResolutionRoundsBothWaysAndReachesTheDibHeader) {
  CxImage img;
  EXPECT_EQ(img.GetXDPI(), 96);
  EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
  img.Create(4, 4, 24, 0);
  const int32_t cases[][3] = {{300, 11811, 300}, {72, 2835, 72}, {100, 3937, 100}, {0, 3780, 96},
                              {-7, 3780, 96}};  // asked, pixels a metre, read back
  for (const auto& c : cases) {
    img.SetXDPI(c[0]), img.SetYDPI(c[0]);
    EXPECT_TRUE(img.GetXDPI() == c[2] && img.GetYDPI() == c[2]) << c[0];
    const BITMAPINFOHEADER& h = img.GetHeader(), d = dibHeader(img);
    EXPECT_TRUE(h.biXPelsPerMeter == c[1] && h.biYPelsPerMeter == c[1]) << c[0];
    EXPECT_TRUE(d.biXPelsPerMeter == c[1] && d.biYPelsPerMeter == c[1]) << c[0];
  }
}
TEST(ImageClearing, ValueIsSpreadPerDepthOverThePaddingToo) {
  const struct { uint32_t w, bpp; uint8_t value, want; } cases[] = {
      {643, 24, 255, 255}, {3, 4, 0x13, 0x33}, {3, 1, 2, 0xFF}};
  for (const auto& c : cases) {
    CxImage img;
    img.Create(c.w, 2, c.bpp, 0);
    img.Clear(c.value);
    EXPECT_EQ(rowsOf(img), std::vector<uint8_t>(img.GetHeader().biSizeImage, c.want)) << c.bpp;
  }
  CxImage empty;
  empty.Clear(1);
  EXPECT_FALSE(empty.IsValid());
}
// Pixel blocks of destroyed images serve later images that fit in them, and only those: never a
// larger image, nor one under half their size, and small blocks are not kept. An image on a kept
// block is a whole, writable image.
TEST(ImageBlocks, AKeptBlockServesOnlyImagesItHolds) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "blocks are not kept under AddressSanitizer";
#endif
  // Blocks other tests of this process left kept would serve the requests below.
  ximage_blocks::ReleaseKept();
  const size_t mib = 1 << 20;
  void* block = ximage_blocks::Take(2 * mib);
  const size_t holds = ximage_blocks::BlockBytes(block);
  ASSERT_GE(holds, 2 * mib);
  ximage_blocks::Give(block);
  void* larger = ximage_blocks::Take(holds + 1);
  void* quarter = ximage_blocks::Take(holds / 2 - 4096);
  void* same = ximage_blocks::Take(holds - 100);
  EXPECT_TRUE(larger != block && quarter != block && same == block);
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
