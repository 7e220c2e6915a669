// HSL conversions, saturation in both colour spaces and gamma curves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/saturate_avx2.h"
#include "ximage/ximage.h"

using namespace ximgtest;
namespace {
// Red, green and blue (or H, S and L) of a colour as ints, of a colour converted either way, or
// of a pixel; the fourth byte must stay zero.
std::vector<int> parts(RGBQUAD q) {
  EXPECT_EQ(q.rgbReserved, 0);
  return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}
std::vector<int> hslOf(int r, int g, int b) { return parts(CxImage::RGBtoHSL(rgb(r, g, b))); }
std::vector<int> rgbOf(int h, int s, int l) { return parts(CxImage::HSLtoRGB(rgb(h, s, l))); }
std::vector<int> pixel(CxImage& img, int x, int y) { return parts(img.GetPixelColor(x, y)); }
// A card-like picture with repeated colours (flat areas) and many distinct ones (noise), so
// remembered conversions and fresh ones both occur; every fourth row is long flat runs of
// changing length with a lone odd pixel now and then, so that results reused along a row are
// reused from the right pixels.
void fillCardLike(CxImage& img, std::mt19937& rng) {
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      uint8_t* p = img.GetBits(y) + 3 * x;
      const uint32_t run = x / (60 + y * 7 % 400);
      if (y % 4 == 3 && x % 211 != 120)
        p[0] = (uint8_t)(run * 70 + y), p[1] = (uint8_t)(run * 30), p[2] = (uint8_t)(200 - run * 50);
      else if ((x / 7 + y / 5) % 3 == 0) p[0] = 30, p[1] = 140, p[2] = 220;
      else if ((x + y) % 5 == 0) p[0] = (uint8_t)(x * 3), p[1] = (uint8_t)(y * 5), p[2] = (uint8_t)(x + y);
      else p[0] = (uint8_t)rng(), p[1] = (uint8_t)rng(), p[2] = (uint8_t)rng();
    }
}
// Saturate(saturation, 1) gives every pixel what the conversions give it one by one (the
// saturation clamped before the add, so that none overflows), and leaves the row padding alone.
void expectSaturatedOneByOne(CxImage& img, int64_t saturation) {
  std::vector<uint8_t> want;
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      RGBQUAD hsl = CxImage::RGBtoHSL(img.GetPixelColor((int)x, (int)y));
      const int64_t s = std::clamp<int64_t>(saturation, -255, 255) + (int64_t)hsl.rgbGreen;
      hsl.rgbGreen = (uint8_t)std::clamp<int64_t>(s, 0, 255);
      const RGBQUAD c = CxImage::HSLtoRGB(hsl);
      want.insert(want.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
    }
  const std::vector<uint8_t> before = rowsOf(img);
  ASSERT_TRUE(img.Saturate(saturation, 1));
  EXPECT_TRUE(pixelBytes(img) == want) << "saturation " << saturation;
  const uint32_t used = img.GetWidth() * 3, eff = img.GetEffWidth();
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    for (uint32_t k = used; k < eff; k++) ASSERT_EQ(img.GetBits(y)[k], before[y * eff + k]) << "padding";
}
// Colour space 2 of one stored pixel (blue, green, red), straight from its definition: full-range
// BT.601 YUV in single precision, each value rounded to a byte (half up, kept in 0..255), both
// chroma values scaled by (100 + saturation) percent around 128 and rounded the same way, and
// back to red, green and blue.
void yuvSaturated(const uint8_t* p, int64_t saturation, std::vector<uint8_t>& out) {
  auto byteOf = [](float v) {
    v = v + 0.5f;
    return v <= 0.0f ? 0 : v >= 255.0f ? 255 : (int)v;
  };
  auto chroma = [&](int v) {
    const double scaled = (double)((v - 128) * (100 + saturation)) / 100.0 + 128.5;
    return scaled <= 0.0 ? 0 : scaled >= 255.0 ? 255 : (int)scaled;
  };
  const uint8_t b = p[0], g = p[1], r = p[2];
  const float y = 0.299f * r + 0.587f * g + 0.114f * b;
  const int Y = byteOf(y);
  const int U = chroma(byteOf((b - y) * 0.565f + 128.0f));
  const int V = chroma(byteOf((r - y) * 0.713f + 128.0f));
  const float u = (float)U - 128.0f, v = (float)V - 128.0f;
  out.insert(out.end(), {(uint8_t)byteOf(Y + 1.770f * u), (uint8_t)byteOf(Y - 0.344f * u - 0.714f * v),
                         (uint8_t)byteOf(Y + 1.403f * v)});
}
// A 256 x 1 image whose pixel i holds (i, i / 2, 255 - i).
void makeRamp(CxImage& img) {
  makeImage(img, 256, 1);
  for (int i = 0; i < 256; i++) img.SetPixelColor(i, 0, rgb(i, i / 2, 255 - i));
}
}  // namespace
// -1: not pinned. Ties for the maximum: red wins over green (42, not 43), green over blue
// (85 + 42 - 0 = 127, not 128); (255, 0, 10) wraps -2 to 254.
TEST(HslConversion, WorkedValuesBothWays) {
  const struct { int r, g, b, h, s, l; } toHsl[] = {
      {255, 0, 0, 0, 255, 128},  {0, 255, 0, 85, -1, -1},   {0, 0, 255, 170, -1, -1},
      {255, 0, 10, 254, -1, -1}, {200, 200, 0, 42, -1, -1}, {0, 200, 200, 127, -1, -1},
      {200, 100, 50, 14, 153, 125}, {100, 100, 100, 170, 0, 100}};
  for (const auto& c : toHsl) {
    const std::vector<int> hsl = hslOf(c.r, c.g, c.b);
    const int want[3] = {c.h, c.s, c.l};
    for (int i = 0; i < 3; i++)
      EXPECT_TRUE(want[i] < 0 || hsl[i] == want[i]) << c.r << "," << c.g << "," << c.b << ": " << hsl[i];
  }
  EXPECT_EQ(rgbOf(0, 255, 128), (std::vector<int>{254, 1, 1}));
  EXPECT_EQ(rgbOf(85, 255, 128), (std::vector<int>{1, 254, 1}));
  EXPECT_EQ(rgbOf(14, 153, 125), (std::vector<int>{200, 99, 49}));
  for (int v = 0; v < 256; v++) {
    const std::vector<int> hsl = hslOf(v, v, v);
    EXPECT_EQ(hsl, (std::vector<int>{170, 0, v}));
    EXPECT_EQ(rgbOf(hsl[0], hsl[1], hsl[2]), (std::vector<int>{v, v, v})) << "grey " << v;
  }
}
// A card-like picture at saturations from far below to far above the range, then all 2^24
// colours once, in an order that sends many of them to the same remembered slot in turn.
TEST(Saturation, ColourSpaceOneMatchesTheConversionsOneByOne) {
  std::mt19937 rng(643);
  for (int64_t saturation : {-300L, -50L, 0L, 1L, 77L, 255L, INT64_MAX, INT64_MIN}) {
    CxImage img;
    makeImage(img, 1013, 203);  // 1013 * 3 = 3039: rows carry a padding byte
    fillCardLike(img, rng);
    expectSaturatedOneByOne(img, saturation);
  }
  CxImage img;
  makeImage(img, 4096, 4096);
  for (uint32_t y = 0; y < 4096; y++)
    for (uint32_t x = 0; x < 4096; x++) {
      const uint32_t c = (y << 12) | x;
      uint8_t* p = img.GetBits(y) + 3 * x;
      p[0] = (uint8_t)(c >> 16), p[1] = (uint8_t)c, p[2] = (uint8_t)(c >> 8);
    }
  CxImage eight(img);
  expectSaturatedOneByOne(img, 40);
  // The eight-pixel path too, where Saturate itself takes the sixteen-pixel one.
  if (ximage_wide::HaveAvx2() && ximage_wide::HaveAvx512()) {
    for (uint32_t y = 0; y < 4096; y++)
      ASSERT_EQ(ximage_wide::SaturateHslRowAvx2(eight.GetBits(y), 4096, 40), 4096u);
    EXPECT_TRUE(rowsOf(eight) == rowsOf(img)) << "eight-pixel path";
  }
}
// Colour space 2 gives every pixel of a colourful picture the bytes of its definition, for
// saturations that mute, keep and boost the colours.
TEST(Saturation, ColourSpaceTwoMatchesItsDefinitionByteForByte) {
  std::mt19937 rng(2);
  for (int64_t saturation : {-100, -37, 0, 55, 100, 300}) {
    CxImage img;
    makeImage(img, 257, 131);
    fillCardLike(img, rng);
    std::vector<uint8_t> want;
    for (uint32_t y = 0; y < img.GetHeight(); y++)
      for (uint32_t x = 0; x < 257; x++) yuvSaturated(img.GetBits(y) + 3 * x, saturation, want);
    ASSERT_TRUE(img.Saturate(saturation, 2));
    EXPECT_TRUE(pixelBytes(img) == want) << "saturation " << saturation;
  }
}
TEST(Saturation, WorkedValuesWrongColourSpacesAndIndexedImages) {
  CxImage img, empty;
  makeImage(img, 4, 1);
  img.Clear(100);
  img.SetPixelColor(2, 0, rgb(255, 0, 0));
  CxImage full(img), zero(img), grey(img);
  ASSERT_TRUE(full.Saturate(255, 1));
  EXPECT_EQ(pixel(full, 0, 0), (std::vector<int>{0, 0, 200}));
  ASSERT_TRUE(zero.Saturate(0, 1));
  EXPECT_EQ(pixel(zero, 0, 0), (std::vector<int>{100, 100, 100}));
  EXPECT_EQ(pixel(zero, 2, 0), (std::vector<int>{254, 1, 1}));  // the HSL round trip
  EXPECT_FALSE(empty.Saturate(10, 1));
  for (int64_t space : {0, 3, -1}) {
    EXPECT_FALSE(img.Saturate(10, space));
    EXPECT_STREQ(img.GetLastError(), "Saturate: wrong colorspace");
    EXPECT_EQ(pixel(img, 2, 0), (std::vector<int>{255, 0, 0}));
  }
  // Space 2: -100 leaves every pixel grey; no saturation overflows its table.
  ASSERT_TRUE(grey.Saturate(-100, 2));
  EXPECT_EQ(pixel(grey, 2, 0), std::vector<int>(3, pixel(grey, 2, 0)[0]));
  EXPECT_TRUE(img.Saturate(std::numeric_limits<int64_t>::max(), 2));
  // Indexed: each pixel takes the palette colour equal to its result, not the one a step below.
  CxImage pal;
  ASSERT_NE(pal.Create(2, 1, 8, 0), nullptr);
  RGBQUAD entries[256] = {rgb(100, 100, 100), rgb(0, 0, 199), rgb(0, 0, 200), rgb(255, 255, 255)};
  pal.SetPalette(entries, 256);
  pal.SetPixelIndex(0, 0, 0);
  pal.SetPixelIndex(1, 0, 3);
  ASSERT_TRUE(pal.Saturate(255, 1));
  EXPECT_EQ(pal.GetPixelIndex(0, 0), 2);
  EXPECT_EQ(pal.GetPixelIndex(1, 0), 3);  // white stays white
}
// Each channel takes its own curve: red 2.0, green 1.0 (unchanged), blue 0.5.
TEST(GammaCorrection, WorkedValuesPerChannel) {
  CxImage img;
  makeRamp(img);
  ASSERT_TRUE(img.GammaRGB(2.0f, 1.0f, 0.5f));
  const struct { int in, red, blue; } worked[] = {
      {0, 0, 0}, {1, 15, 0}, {64, 127, 16}, {128, 180, 64}, {254, 254, 253}, {255, 255, 255}};
  for (const auto& w : worked) {
    EXPECT_EQ(pixel(img, w.in, 0)[0], w.red) << "red of " << w.in;
    EXPECT_EQ(pixel(img, 255 - w.in, 0)[2], w.blue) << "blue of " << w.in;
  }
  for (int i = 0; i < 256; i++) ASSERT_EQ(pixel(img, i, 0)[1], i / 2) << "green of " << i / 2;
}
// 255^(1/0.001) is beyond double range; the curve must still run from 0 to 255 and never fall.
TEST(GammaCorrection, NonPositiveGammasAndMissingTablesAreRefusedTinyGammaStillDarkens) {
  CxImage img, empty;
  makeRamp(img);
  const std::vector<uint8_t> before = pixelBytes(img);
  for (float bad : {0.0f, -1.0f, -0.0f, std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_FALSE(img.GammaRGB(bad, 1.0f, 1.0f));
    EXPECT_FALSE(img.GammaRGB(1.0f, 1.0f, bad));
  }
  EXPECT_EQ(pixelBytes(img), before);
  EXPECT_FALSE(empty.GammaRGB(1.0f, 1.0f, 1.0f));
  uint8_t id[256];
  for (int i = 0; i < 256; i++) id[i] = (uint8_t)i;
  EXPECT_FALSE(img.Lut(nullptr, id, id) || img.Lut(id, id, nullptr) || empty.Lut(id, id, id));
  ASSERT_TRUE(img.GammaRGB(0.001f, 0.001f, 0.001f));
  EXPECT_EQ(pixel(img, 0, 0)[0], 0);
  EXPECT_EQ(pixel(img, 200, 0)[0], 0);
  EXPECT_EQ(pixel(img, 255, 0)[0], 255);
  for (int i = 1; i < 256; i++) ASSERT_LE(pixel(img, i - 1, 0)[0], pixel(img, i, 0)[0]);
}
