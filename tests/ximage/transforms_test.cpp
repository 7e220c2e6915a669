// Quarter and half turns, the vertical flip and the nearest-pixel resize, pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"

using namespace ximgtest;
// result(x, y) == source(W - 1 - y, x) for every pixel; the row padding is zero, never stale heap
// bytes; a turn into a destination leaves the source; settings carry over, resolutions unswapped.
TEST(QuarterTurn, EveryPixelMovesAndThePaddingIsZero) {
  const uint32_t sizes[][2] = {{643, 1013}, {1, 1}, {65, 1}, {1, 65}, {70, 130}, {64, 64}, {129, 3}};
  for (const auto& s : sizes) {
    const uint32_t w = s[0], h = s[1];
    CxImage img = patterned(w, h), dst;
    img.SetXDPI(300), img.SetYDPI(200), img.SetJpegQuality(100);
    const std::vector<uint8_t> before = rowsOf(img);
    ASSERT_TRUE(img.RotateRight(&dst));
    EXPECT_EQ(rowsOf(img), before);
    ASSERT_TRUE(dst.GetWidth() == h && dst.GetHeight() == w);
    EXPECT_TRUE(dst.GetXDPI() == 300 && dst.GetYDPI() == 200 && dst.GetJpegQuality() == 100);
    for (uint32_t y = 0; y < w; y++) {
      for (uint32_t x = 0; x < h; x++)
        ASSERT_EQ(px(dst, x, y), colorBytes(patternColor(w - 1 - y, x))) << w << "x" << h << ": " << x;
      for (uint32_t k = 3 * h; k < dst.GetEffWidth(); k++) ASSERT_EQ(dst.GetBits(y)[k], 0) << y;
    }
    ASSERT_TRUE(img.RotateRight());
    EXPECT_EQ(rowsOf(img), rowsOf(dst)) << "in place";
  }
  EXPECT_FALSE(CxImage().RotateRight());
}
TEST(QuarterTurn, IndexedImagesKeepPaletteAndMapping) {
  for (uint32_t bpp : {1u, 4u, 8u}) {
    CxImage img;
    img.Create(67, 5, bpp, 0);
    RGBQUAD pal[256];
    for (int i = 0; i < 256; i++) pal[i] = RGBQUAD{(uint8_t)i, 1, 2, 0};
    img.SetPalette(pal, 256);
    const uint32_t levels = 1u << bpp;
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 67; x++) img.SetPixelIndex(x, y, (uint8_t)((x * 7 + y * 3) % levels));
    ASSERT_TRUE(img.RotateRight());
    ASSERT_TRUE(img.GetWidth() == 5 && img.GetHeight() == 67);
    EXPECT_EQ(img.GetPaletteColor(1).rgbGreen, 1);
    for (int y = 0; y < 67; y++)
      for (int x = 0; x < 5; x++) ASSERT_EQ(img.GetPixelIndex(x, y), ((66 - y) * 7 + x * 3) % levels);
  }
}
// One row of 2^26 + 1 one-bit pixels takes 8 MiB; turned, every pixel is a padded 4-byte row:
// just over 256 MiB.
TEST(QuarterTurn, TurnedSizeOverTheLimitFailsAndKeepsThePicture) {
  CxImage img;
  ASSERT_NE(img.Create((1u << 26) + 1, 1, 1, 0), nullptr);
  img.Clear(0);
  img.SetPixelIndex(5, 0, 1);
  EXPECT_FALSE(img.RotateRight());
  EXPECT_STREQ(img.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
  EXPECT_TRUE(img.GetWidth() == (1u << 26) + 1 && img.GetPixelIndex(5, 0) == 1);
}
TEST(HalfTurn, MapsEveryPixelIntoADestinationAndInPlace) {
  CxImage img = patterned(70, 33), h, empty;
  ASSERT_TRUE(img.Rotate180(&h));
  for (uint32_t y = 0; y < 33; y++)
    for (uint32_t x = 0; x < 70; x++) ASSERT_EQ(px(h, 69 - x, 32 - y), colorBytes(patternColor(x, y)));
  ASSERT_TRUE(img.Rotate180());
  EXPECT_EQ(rowsOf(img), rowsOf(h)) << "in place";
  EXPECT_FALSE(empty.Rotate180());
}
TEST(VerticalFlip, ExchangesWholeRowsInPlaceAndLeavesTheMiddleRow) {
  for (uint32_t h : {1013u, 4u, 1u}) {
    CxImage img = patterned(5, h);
    const std::vector<uint8_t> before = rowsOf(img);
    uint8_t* bits = img.GetBits(0);
    ASSERT_TRUE(img.Flip(false, true));
    EXPECT_EQ(img.GetBits(0), bits);
    const uint32_t eff = img.GetEffWidth();
    for (uint32_t y = 0; y < h; y++)  // padding included
      ASSERT_TRUE(std::equal(img.GetBits(y), img.GetBits(y) + eff, &before[(h - 1 - y) * eff])) << y;
  }
  EXPECT_FALSE(CxImage().Flip());
}
TEST(Resizing, WideCardIsScaledByNearestPixelWithSinglePrecisionFactors) {
  CxImage img = patterned(1200, 2000);
  img.SetXDPI(300);
  ASSERT_TRUE(img.Resample(643, 1013, 1));
  ASSERT_TRUE(img.GetWidth() == 643 && img.GetHeight() == 1013);
  EXPECT_EQ(img.GetXDPI(), 300);
  const float xScale = 1200.0f / 643.0f, yScale = 2000.0f / 1013.0f;
  for (uint32_t y = 0; y < 1013; y++) {
    volatile float fy = (float)y * yScale;
    for (uint32_t x = 0; x < 643; x++) {
      volatile float fx = (float)x * xScale;
      ASSERT_EQ(px(img, x, y), colorBytes(patternColor((int)fx, (int)fy))) << x << "," << y;
    }
  }
}
// Enlarging repeats source pixels: 40 -> 80 takes x / 2; the source stays.
TEST(Resizing, SameSizeZeroSizeEnlargingAndDestination) {
  CxImage img = patterned(40, 30), copy, big, empty;
  const std::vector<uint8_t> before = rowsOf(img);
  uint8_t* bits = img.GetBits(0);
  EXPECT_TRUE(img.Resample(40, 30, 1) && img.Resample(40, 30, 1, &copy));
  EXPECT_EQ(rowsOf(copy), before);
  EXPECT_FALSE(img.Resample(0, 30, 1) || img.Resample(40, 0, 1));
  EXPECT_TRUE(img.GetBits(0) == bits && rowsOf(img) == before);
  ASSERT_TRUE(img.Resample(80, 30, 1, &big));
  EXPECT_EQ(px(big, 79, 29), colorBytes(patternColor(39, 29)));
  EXPECT_EQ(px(big, 78, 0), colorBytes(patternColor(39, 0)));
  EXPECT_EQ(rowsOf(img), before);
  EXPECT_FALSE(empty.Resample(10, 10, 1));
}
