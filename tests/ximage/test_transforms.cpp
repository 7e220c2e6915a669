// Geometric transforms: quarter and half turns, the vertical flip and the
// nearest-pixel resize, checked pixel by pixel on sizes that are not
// multiples of the rotation tiles.
#include <gtest/gtest.h>

#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"

using namespace ximgtest;

namespace {

CxImage patterned(uint32_t w, uint32_t h) {
  CxImage img;
  img.Create(w, h, 24, 0);
  img.Clear(0xEE);  // padding gets a visible value
  fillPattern(img);
  return img;
}

std::vector<uint8_t> rowsOf(const CxImage& img) {
  const uint8_t* p = img.GetBits(0);
  return std::vector<uint8_t>(p, p + img.GetHeader().biSizeImage);
}

// Check result(x, y) == source(W - 1 - y, x) for every pixel of the result.
void expectTurnedRight(const CxImage& result, uint32_t srcW, uint32_t srcH) {
  ASSERT_EQ(result.GetWidth(), srcH);
  ASSERT_EQ(result.GetHeight(), srcW);
  for (uint32_t y = 0; y < srcW; y++)
    for (uint32_t x = 0; x < srcH; x++)
      ASSERT_EQ(px(result, x, y), colorBytes(patternColor((int)(srcW - 1 - y), (int)x)))
          << x << "," << y;
}

}  // namespace

TEST(RotateRight, PortraitCardBecomesLandscapeWithEveryPixelMoved) {
  CxImage img = patterned(643, 1013);
  img.SetXDPI(300);
  img.SetYDPI(200);
  img.SetJpegQuality(100);
  ASSERT_TRUE(img.RotateRight());
  expectTurnedRight(img, 643, 1013);
  // Bottom-right as shown ends bottom-left as shown.
  EXPECT_EQ(px(img, 0, 0), colorBytes(patternColor(642, 0)));
  // Resolutions are not swapped; settings carry over.
  EXPECT_EQ(img.GetXDPI(), 300);
  EXPECT_EQ(img.GetYDPI(), 200);
  EXPECT_EQ(img.GetJpegQuality(), 100);
  EXPECT_EQ(img.GetEffWidth(), 3040u);
  // Padding of the new rows is zero, never stale memory.
  for (uint32_t y = 0; y < 643; y++) ASSERT_EQ(img.GetBits(y)[3039], 0) << y;
}

TEST(RotateRight, OddSizesAndADestinationImage) {
  const uint32_t sizes[][2] = {{1, 1}, {65, 1}, {1, 65}, {70, 130}, {64, 64}, {129, 3}};
  for (auto& s : sizes) {
    CxImage img = patterned(s[0], s[1]);
    std::vector<uint8_t> before = rowsOf(img);
    CxImage dst;
    ASSERT_TRUE(img.RotateRight(&dst));
    expectTurnedRight(dst, s[0], s[1]);
    EXPECT_EQ(rowsOf(img), before);  // the source is left as it was
  }
  CxImage empty;
  EXPECT_FALSE(empty.RotateRight());
}

TEST(RotateRight, IndexedImagesKeepPaletteAndMapping) {
  for (uint32_t bpp : {1u, 4u, 8u}) {
    CxImage img;
    img.Create(67, 5, bpp, 0);
    RGBQUAD pal[256];
    for (int i = 0; i < 256; i++) pal[i] = RGBQUAD{(uint8_t)i, 1, 2, 0};
    img.SetPalette(pal, 256);
    uint32_t levels = 1u << bpp;
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 67; x++) img.SetPixelIndex(x, y, (uint8_t)((x * 7 + y * 3) % levels));
    ASSERT_TRUE(img.RotateRight());
    ASSERT_EQ(img.GetWidth(), 5u);
    ASSERT_EQ(img.GetHeight(), 67u);
    EXPECT_EQ(img.GetPaletteColor(1).rgbGreen, 1);
    for (int y = 0; y < 67; y++)
      for (int x = 0; x < 5; x++)
        ASSERT_EQ(img.GetPixelIndex(x, y), ((66 - y) * 7 + x * 3) % levels) << bpp;
  }
}

TEST(Rotate180, MapsEveryPixelAndTwiceRestores) {
  CxImage img = patterned(70, 33);
  std::vector<uint8_t> before = rowsOf(img);
  CxImage half;
  ASSERT_TRUE(img.Rotate180(&half));
  for (uint32_t y = 0; y < 33; y++)
    for (uint32_t x = 0; x < 70; x++)
      ASSERT_EQ(px(half, 69 - x, 32 - y), colorBytes(patternColor((int)x, (int)y)));
  ASSERT_TRUE(half.Rotate180());
  for (uint32_t y = 0; y < 33; y++)
    for (uint32_t x = 0; x < 70; x++) ASSERT_EQ(px(half, x, y), px(img, x, y));

  CxImage pal;
  pal.Create(3, 2, 8, 0);
  for (int i = 0; i < 6; i++) pal.SetPixelIndex(i % 3, i / 3, (uint8_t)(i + 1));
  ASSERT_TRUE(pal.Rotate180());
  EXPECT_EQ(pal.GetPixelIndex(2, 1), 1);
  EXPECT_EQ(pal.GetPixelIndex(0, 0), 6);
  CxImage empty;
  EXPECT_FALSE(empty.Rotate180());
}

TEST(Flip, ExchangesRowPairsAndLeavesTheMiddleRow) {
  CxImage img = patterned(5, 1013);
  std::vector<uint8_t> before = rowsOf(img);
  uint8_t* bits = img.GetBits(0);
  ASSERT_TRUE(img.Flip(false, true));
  EXPECT_EQ(img.GetBits(0), bits);  // done in place
  const uint32_t eff = img.GetEffWidth();
  for (uint32_t y = 0; y < 1013; y++) {
    // Whole rows move, padding included.
    std::vector<uint8_t> want(before.begin() + (1012 - y) * eff, before.begin() + (1013 - y) * eff);
    ASSERT_EQ(std::vector<uint8_t>(img.GetBits(y), img.GetBits(y) + eff), want) << y;
  }
  EXPECT_EQ(px(img, 0, 506), colorBytes(patternColor(0, 506)));

  CxImage one = patterned(9, 1);
  std::vector<uint8_t> row = rowsOf(one);
  ASSERT_TRUE(one.Flip());
  EXPECT_EQ(rowsOf(one), row);
  CxImage empty;
  EXPECT_FALSE(empty.Flip());
}

TEST(Resample, WideCardIsScaledByNearestPixelWithSinglePrecisionFactors) {
  CxImage img = patterned(1200, 2000);
  img.SetXDPI(300);
  ASSERT_TRUE(img.Resample(643, 1013, 1));
  ASSERT_EQ(img.GetWidth(), 643u);
  ASSERT_EQ(img.GetHeight(), 1013u);
  EXPECT_EQ(img.GetXDPI(), 300);
  EXPECT_EQ(px(img, 642, 1012), colorBytes(patternColor(1198, 1998)));
  EXPECT_EQ(px(img, 0, 0), colorBytes(patternColor(0, 0)));

  const float xScale = 1200.0f / 643.0f;
  const float yScale = 2000.0f / 1013.0f;
  EXPECT_NEAR(xScale, 1.8662519f, 1e-6f);
  EXPECT_NEAR(yScale, 1.9743336f, 1e-6f);
  for (uint32_t y = 0; y < 1013; y++) {
    volatile float fy = (float)y * yScale;
    int sy = (int)fy;
    for (uint32_t x = 0; x < 643; x++) {
      volatile float fx = (float)x * xScale;
      int sx = (int)fx;
      ASSERT_EQ(px(img, x, y), colorBytes(patternColor(sx, sy))) << x << "," << y;
    }
  }
}

TEST(Resample, SameSizeZeroSizeAndDestination) {
  CxImage img = patterned(40, 30);
  std::vector<uint8_t> before = rowsOf(img);
  uint8_t* bits = img.GetBits(0);
  EXPECT_TRUE(img.Resample(40, 30, 1));
  EXPECT_EQ(img.GetBits(0), bits);
  EXPECT_EQ(rowsOf(img), before);

  CxImage copy;
  EXPECT_TRUE(img.Resample(40, 30, 1, &copy));
  EXPECT_EQ(rowsOf(copy), before);

  EXPECT_FALSE(img.Resample(0, 30, 1));
  EXPECT_FALSE(img.Resample(40, 0, 1));
  EXPECT_EQ(img.GetBits(0), bits);
  EXPECT_EQ(img.GetWidth(), 40u);

  CxImage small;
  ASSERT_TRUE(img.Resample(20, 10, 1, &small));
  EXPECT_EQ(small.GetWidth(), 20u);
  EXPECT_EQ(img.GetWidth(), 40u);  // the source stays
  // Enlarging repeats source pixels: 40 -> 80 takes x / 2.
  CxImage big;
  ASSERT_TRUE(img.Resample(80, 30, 1, &big));
  EXPECT_EQ(px(big, 79, 29), colorBytes(patternColor(39, 29)));
  EXPECT_EQ(px(big, 78, 0), colorBytes(patternColor(39, 0)));

  CxImage empty;
  EXPECT_FALSE(empty.Resample(10, 10, 1));
}
