// HSL conversions, saturation, gamma tables and lookup mapping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/ximage/test_filters_reference.h"
#include "ximage/ximage.h"

namespace {

RGBQUAD rgb(int r, int g, int b) { return RGBQUAD{(uint8_t)b, (uint8_t)g, (uint8_t)r, 0}; }

struct Hsl {
  int h, s, l;
};

Hsl hslOf(int r, int g, int b) {
  const RGBQUAD q = CxImage::RGBtoHSL(rgb(r, g, b));
  EXPECT_EQ(q.rgbReserved, 0);
  return Hsl{q.rgbRed, q.rgbGreen, q.rgbBlue};
}

std::vector<int> rgbOf(int h, int s, int l) {
  const RGBQUAD q = CxImage::HSLtoRGB(RGBQUAD{(uint8_t)l, (uint8_t)s, (uint8_t)h, 0});
  EXPECT_EQ(q.rgbReserved, 0);
  return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}

void makeImage(CxImage& img, uint32_t w, uint32_t h) {
  ASSERT_NE(img.Create(w, h, 24, 0), nullptr) << img.GetLastError();
  img.Clear(0);
}

std::vector<int> pixel(CxImage& img, int x, int y) {
  const RGBQUAD c = img.GetPixelColor(x, y);
  return {c.rgbRed, c.rgbGreen, c.rgbBlue};
}

// One pixel through colour space 1, using the conversions one call at a time.
RGBQUAD saturatedOne(RGBQUAD c, int64_t saturation) {
  RGBQUAD hsl = CxImage::RGBtoHSL(c);
  // Saturating add: the extreme saturations must not overflow here either.
  int64_t s = saturation > 255 ? 255 : saturation < -255 ? -255 : saturation;
  s += hsl.rgbGreen;
  if (s < 0) s = 0;
  if (s > 255) s = 255;
  hsl.rgbGreen = (uint8_t)s;
  return CxImage::HSLtoRGB(hsl);
}

// A card-like picture with repeated colours (flat areas) and many distinct
// ones (noise), so remembered conversions and fresh ones both occur.
void fillCardLike(CxImage& img, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint32_t y = 0; y < img.GetHeight(); y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      uint8_t* p = row + 3 * x;
      if ((x / 7 + y / 5) % 3 == 0) {
        p[0] = 30, p[1] = 140, p[2] = 220;
      } else if ((x + y) % 5 == 0) {
        p[0] = (uint8_t)(x * 3), p[1] = (uint8_t)(y * 5), p[2] = (uint8_t)(x + y);
      } else {
        p[0] = (uint8_t)byte(rng), p[1] = (uint8_t)byte(rng), p[2] = (uint8_t)byte(rng);
      }
    }
  }
}

}  // namespace

TEST(Hsl, PrimariesGreysAndTheHueWrap) {
  Hsl c = hslOf(255, 0, 0);
  EXPECT_EQ(c.l, 128);
  EXPECT_EQ(c.s, 255);
  EXPECT_EQ(c.h, 0);
  EXPECT_EQ(hslOf(0, 255, 0).h, 85);
  EXPECT_EQ(hslOf(0, 0, 255).h, 170);
  c = hslOf(100, 100, 100);
  EXPECT_EQ(c.l, 100);
  EXPECT_EQ(c.s, 0);
  EXPECT_EQ(c.h, 170);
  // Bdelta - Gdelta = 40 - 42 = -2 wraps to 254.
  EXPECT_EQ(hslOf(255, 0, 10).h, 254);
  // Ties for the maximum: red wins (Bdelta - Gdelta = 42, green's rule would
  // give 43), then green (85 + 42 - 0 = 127, blue's rule would give 128).
  EXPECT_EQ(hslOf(200, 200, 0).h, 42);
  EXPECT_EQ(hslOf(0, 200, 200).h, 127);
}

TEST(Hsl, BackToColourLosesAStepOnPureHues) {
  EXPECT_EQ(rgbOf(0, 255, 128), (std::vector<int>{254, 1, 1}));
  EXPECT_EQ(rgbOf(85, 255, 128), (std::vector<int>{1, 254, 1}));
}

TEST(Hsl, OrangeRoundTripsToTheStatedNeighbour) {
  const Hsl c = hslOf(200, 100, 50);
  EXPECT_EQ(c.h, 14);
  EXPECT_EQ(c.s, 153);
  EXPECT_EQ(c.l, 125);
  EXPECT_EQ(rgbOf(c.h, c.s, c.l), (std::vector<int>{200, 99, 49}));
}

TEST(Hsl, EveryGreySurvivesTheRoundTrip) {
  for (int v = 0; v < 256; v++) {
    const Hsl c = hslOf(v, v, v);
    EXPECT_EQ(c.s, 0);
    EXPECT_EQ(c.h, 170);
    EXPECT_EQ(rgbOf(c.h, c.s, c.l), (std::vector<int>{v, v, v})) << "grey " << v;
  }
}

TEST(Hsl, HueToRgbFollowsTheSixSectors) {
  EXPECT_FLOAT_EQ(CxImage::HueToRGB(0.2f, 0.8f, 30.0f), 0.2f + (0.6f * 30.0f) / 60.0f);
  EXPECT_EQ(CxImage::HueToRGB(0.2f, 0.8f, 100.0f), 0.8f);
  EXPECT_FLOAT_EQ(CxImage::HueToRGB(0.2f, 0.8f, 210.0f), 0.2f + (0.6f * 30.0f) / 60.0f);
  EXPECT_EQ(CxImage::HueToRGB(0.2f, 0.8f, 300.0f), 0.2f);
  // One turn is added or removed before the sector is chosen.
  EXPECT_EQ(CxImage::HueToRGB(0.2f, 0.8f, 400.0f), CxImage::HueToRGB(0.2f, 0.8f, 40.0f));
  EXPECT_EQ(CxImage::HueToRGB(0.2f, 0.8f, -100.0f), CxImage::HueToRGB(0.2f, 0.8f, 260.0f));
}

TEST(Saturate, FullSaturationTurnsGreysBlue) {
  CxImage img;
  makeImage(img, 3, 2);
  img.Clear(100);
  ASSERT_TRUE(img.Saturate(255, 1));
  for (int y = 0; y < 2; y++) {
    for (int x = 0; x < 3; x++) EXPECT_EQ(pixel(img, x, y), (std::vector<int>{0, 0, 200}));
  }
}

TEST(Saturate, ZeroStillMovesPureRedByAStep) {
  CxImage img;
  makeImage(img, 1, 1);
  img.SetPixelColor(0, 0, rgb(255, 0, 0));
  ASSERT_TRUE(img.Saturate(0, 1));
  EXPECT_EQ(pixel(img, 0, 0), (std::vector<int>{254, 1, 1}));
}

TEST(Saturate, EveryPixelMatchesTheConversionsOneByOne) {
  std::mt19937 rng(643);
  for (int64_t saturation : {int64_t(-300), int64_t(-50), int64_t(0), int64_t(1), int64_t(77), int64_t(255),
                             std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    CxImage img;
    makeImage(img, 301, 203);  // 301 * 3 = 903: rows carry a padding byte
    fillCardLike(img, rng);
    std::vector<RGBQUAD> want;
    for (uint32_t y = 0; y < img.GetHeight(); y++) {
      for (uint32_t x = 0; x < img.GetWidth(); x++) {
        want.push_back(saturatedOne(img.GetPixelColor((int)x, (int)y), saturation));
      }
    }
    const uint8_t pad = img.GetBits(7)[903];
    ASSERT_TRUE(img.Saturate(saturation, 1));
    size_t i = 0;
    for (uint32_t y = 0; y < img.GetHeight(); y++) {
      for (uint32_t x = 0; x < img.GetWidth(); x++, i++) {
        const RGBQUAD got = img.GetPixelColor((int)x, (int)y);
        ASSERT_EQ(got.rgbRed, want[i].rgbRed) << "saturation " << saturation << " at " << x << "," << y;
        ASSERT_EQ(got.rgbGreen, want[i].rgbGreen) << "saturation " << saturation << " at " << x << "," << y;
        ASSERT_EQ(got.rgbBlue, want[i].rgbBlue) << "saturation " << saturation << " at " << x << "," << y;
      }
    }
    EXPECT_EQ(img.GetBits(7)[903], pad) << "padding must stay as it was";
  }
}

TEST(Saturate, EveryColourMatchesTheConversionsOneByOne) {
  // All 2^24 colours once, in an order that sends many of them to the same
  // remembered slot in turn.
  CxImage img;
  makeImage(img, 4096, 4096);
  for (uint32_t y = 0; y < 4096; y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < 4096; x++) {
      const uint32_t c = (y << 12) | x;
      row[3 * x] = (uint8_t)(c >> 16);
      row[3 * x + 1] = (uint8_t)c;
      row[3 * x + 2] = (uint8_t)(c >> 8);
    }
  }
  ASSERT_TRUE(img.Saturate(40, 1));
  size_t mismatches = 0;
  for (uint32_t y = 0; y < 4096; y++) {
    const uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < 4096; x++) {
      const uint32_t c = (y << 12) | x;
      const RGBQUAD want = saturatedOne(RGBQUAD{(uint8_t)(c >> 16), (uint8_t)c, (uint8_t)(c >> 8), 0}, 40);
      if (row[3 * x] != want.rgbBlue || row[3 * x + 1] != want.rgbGreen || row[3 * x + 2] != want.rgbRed) {
        mismatches++;
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(Saturate, RefusesEmptyImagesAndUnknownColourSpaces) {
  CxImage empty;
  EXPECT_FALSE(empty.Saturate(10, 1));

  CxImage img;
  makeImage(img, 2, 2);
  img.SetPixelColor(0, 0, rgb(200, 100, 50));
  for (int64_t space : {int64_t(0), int64_t(3), int64_t(-1)}) {
    EXPECT_FALSE(img.Saturate(10, space));
    EXPECT_STREQ(img.GetLastError(), "Saturate: wrong colorspace");
    EXPECT_EQ(pixel(img, 0, 0), (std::vector<int>{200, 100, 50}));
  }
}

TEST(Saturate, YuvSpaceScalesChroma) {
  CxImage img;
  makeImage(img, 4, 1);
  img.SetPixelColor(0, 0, rgb(200, 100, 50));
  img.SetPixelColor(1, 0, rgb(90, 90, 90));
  img.SetPixelColor(2, 0, rgb(10, 200, 120));
  img.SetPixelColor(3, 0, rgb(0, 0, 0));

  CxImage grey(img);
  ASSERT_TRUE(grey.Saturate(-100, 2));  // no chroma left: every pixel grey
  for (int x = 0; x < 4; x++) {
    const std::vector<int> p = pixel(grey, x, 0);
    EXPECT_EQ(p[0], p[1]) << x;
    EXPECT_EQ(p[1], p[2]) << x;
  }
  EXPECT_EQ(pixel(grey, 1, 0), (std::vector<int>{90, 90, 90}));

  CxImage vivid(img);
  ASSERT_TRUE(vivid.Saturate(100, 2));  // chroma doubled: the orange spreads out
  const std::vector<int> p = pixel(vivid, 0, 0);
  EXPECT_GT(p[0] - p[2], 150);
  EXPECT_EQ(pixel(vivid, 1, 0), (std::vector<int>{90, 90, 90}));
  EXPECT_TRUE(vivid.Saturate(std::numeric_limits<int64_t>::max(), 2));
}

TEST(Saturate, IndexedImageTakesTheNearestPaletteColour) {
  CxImage img;
  ASSERT_NE(img.Create(2, 1, 8, 0), nullptr);
  RGBQUAD pal[256] = {};
  pal[0] = rgb(100, 100, 100);
  pal[1] = rgb(0, 0, 200);
  pal[2] = rgb(255, 255, 255);
  img.SetPalette(pal, 256);
  img.SetPixelIndex(0, 0, 0);
  img.SetPixelIndex(1, 0, 2);
  ASSERT_TRUE(img.Saturate(255, 1));
  EXPECT_EQ(img.GetPixelIndex(0, 0), 1);  // grey 100 became (0, 0, 200)
  EXPECT_EQ(img.GetPixelIndex(1, 0), 2);  // white stays white
}

namespace {

// Straight from the gamma curve's definition.
std::vector<int> gammaTable(float gamma) {
  const double e = (double)(1.0f / gamma);
  const double dMax = std::pow(255.0, e) / 255.0;
  std::vector<int> t(256);
  for (int i = 0; i < 256; i++) {
    int v = (int)(std::pow((double)i, e) / dMax);
    t[i] = v > 255 ? 255 : v < 0 ? 0 : v;
  }
  return t;
}

// A 256 x 1 image whose pixel i holds (i, 255 - i, i / 2).
void makeRamp(CxImage& img) {
  makeImage(img, 256, 1);
  for (int i = 0; i < 256; i++) img.SetPixelColor(i, 0, rgb(i, 255 - i, i / 2));
}

}  // namespace

TEST(Gamma, WorkedValuesForTwoAndOneHalf) {
  CxImage img;
  makeRamp(img);
  ASSERT_TRUE(img.GammaRGB(2.0f, 2.0f, 2.0f));
  EXPECT_EQ(pixel(img, 1, 0)[0], 15);
  EXPECT_EQ(pixel(img, 64, 0)[0], 127);
  EXPECT_EQ(pixel(img, 128, 0)[0], 180);
  EXPECT_EQ(pixel(img, 254, 0)[0], 254);
  EXPECT_EQ(pixel(img, 255, 0)[0], 255);
  EXPECT_EQ(pixel(img, 0, 0)[0], 0);

  makeRamp(img);
  ASSERT_TRUE(img.GammaRGB(0.5f, 0.5f, 0.5f));
  EXPECT_EQ(pixel(img, 128, 0)[0], 64);
  EXPECT_EQ(pixel(img, 254, 0)[0], 253);
}

TEST(Gamma, EveryEntryMatchesTheCurveForEachChannel) {
  for (float g : {0.3f, 0.5f, 0.93f, 1.0f, 1.07f, 1.5f, 2.0f, 3.7f}) {
    CxImage img;
    makeRamp(img);
    ASSERT_TRUE(img.GammaRGB(g, 1.0f, 1.0f / g));
    const std::vector<int> tr = gammaTable(g);
    const std::vector<int> tb = gammaTable(1.0f / g);
    for (int i = 0; i < 256; i++) {
      const std::vector<int> p = pixel(img, i, 0);
      ASSERT_EQ(p[0], tr[i]) << "gamma " << g << " red " << i;
      ASSERT_EQ(p[1], 255 - i) << "gamma 1 must leave green alone";
      ASSERT_EQ(p[2], tb[i / 2]) << "gamma " << 1.0f / g << " blue " << i / 2;
    }
  }
}

TEST(Gamma, OneLeavesTheImageAndNonPositiveIsRefused) {
  std::mt19937 rng(1);
  CxImage img;
  makeImage(img, 37, 5);
  fillCardLike(img, rng);
  const filtref::Plane before = filtref::planeOf(img);
  ASSERT_TRUE(img.GammaRGB(1.0f, 1.0f, 1.0f));
  EXPECT_EQ(filtref::planeOf(img).data, before.data);
  for (float bad : {0.0f, -1.0f, -0.0f, std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_FALSE(img.GammaRGB(bad, 1.0f, 1.0f));
    EXPECT_FALSE(img.GammaRGB(1.0f, 1.0f, bad));
  }
  EXPECT_EQ(filtref::planeOf(img).data, before.data);
  CxImage empty;
  EXPECT_FALSE(empty.GammaRGB(1.0f, 1.0f, 1.0f));
}

TEST(Gamma, TinyGammaStillGivesADarkeningCurve) {
  // 255^(1/0.001) is beyond double range; the curve must still end at 255,
  // start at 0 and never rise then fall.
  CxImage img;
  makeRamp(img);
  ASSERT_TRUE(img.GammaRGB(0.001f, 0.001f, 0.001f));
  EXPECT_EQ(pixel(img, 255, 0)[0], 255);
  EXPECT_EQ(pixel(img, 0, 0)[0], 0);
  EXPECT_EQ(pixel(img, 200, 0)[0], 0);
  for (int i = 1; i < 256; i++) ASSERT_LE(pixel(img, i - 1, 0)[0], pixel(img, i, 0)[0]);
}

TEST(Lut, MapsPaletteEntriesOfIndexedImagesAndRefusesMissingTables) {
  CxImage img;
  ASSERT_NE(img.Create(2, 2, 8, 0), nullptr);
  img.Clear(0);
  RGBQUAD pal[256] = {};
  pal[0] = rgb(10, 20, 30);
  pal[1] = rgb(40, 50, 60);
  img.SetPalette(pal, 256);
  img.SetPixelIndex(1, 1, 1);
  uint8_t inc[256], dec[256], same[256];
  for (int i = 0; i < 256; i++) {
    inc[i] = (uint8_t)std::min(255, i + 1);
    dec[i] = (uint8_t)std::max(0, i - 1);
    same[i] = (uint8_t)i;
  }
  ASSERT_TRUE(img.Lut(inc, same, dec));
  EXPECT_EQ(img.GetPixelIndex(1, 1), 1);
  EXPECT_EQ(pixel(img, 1, 1), (std::vector<int>{41, 50, 59}));
  EXPECT_EQ(pixel(img, 0, 0), (std::vector<int>{11, 20, 29}));

  EXPECT_FALSE(img.Lut(nullptr, same, same));
  EXPECT_FALSE(img.Lut(same, same, nullptr));
  CxImage empty;
  EXPECT_FALSE(empty.Lut(same, same, same));
}
