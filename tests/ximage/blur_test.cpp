// Gaussian blur, its kernel helpers and the unsharp mask: the worked numbers
// and agreement with the plain evaluation in test_filters_reference.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "tests/ximage/test_filters_reference.h"
#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"

namespace {

std::vector<float> kernelOf(float radius) {
  float* k = nullptr;
  const int n = CxImage::gen_convolve_matrix(radius, &k);
  std::unique_ptr<float[]> owner(k);
  if (n <= 0 || k == nullptr) return {};
  return std::vector<float>(k, k + n);
}

// The blur's own product table for a kernel.
std::vector<float> tableOf(const std::vector<float>& k) {
  std::unique_ptr<float[]> t(CxImage::gen_lookup_table(k.data(), (int)k.size()));
  return std::vector<float>(t.get(), t.get() + k.size() * 256);
}

// Pixel bytes without the row padding.
std::vector<uint8_t> pixelBytes(const CxImage& img) { return filtref::planeOf(img).data; }

// A 24-bit image, or with bpp 8 a grey-ramp one, cleared to zero.
void makeImage(CxImage& img, uint32_t w, uint32_t h, uint32_t bpp = 24) {
  ASSERT_NE(img.Create(w, h, bpp, 0), nullptr) << img.GetLastError();
  img.Clear(0);
  if (bpp == 8) ximgtest::setGreyRamp(img);
}

}  // namespace

TEST(BlurKernel, RadiusOneTenthLengthsAndEveryTapMatchThePlainEvaluation) {
  const std::vector<float> k01 = kernelOf(0.1f);
  ASSERT_EQ(k01.size(), 3u);
  EXPECT_NEAR(k01[0], 0.2420999f, 1e-7);
  EXPECT_NEAR(k01[1], 0.5158001f, 1e-7);
  EXPECT_NEAR(k01[2], 0.2420999f, 1e-7);
  // Only the size of the radius counts.
  const struct {
    float radius;
    size_t length;
  } lengths[] = {{1.0f, 3}, {2.0f, 5}, {5.0f, 11}, {0.0f, 1}, {-2.0f, 5}};
  for (const auto& c : lengths) EXPECT_EQ(kernelOf(c.radius).size(), c.length) << c.radius;

  for (float radius : {0.0f, 0.1f, 0.35f, 0.5f, 1.0f, 1.7f, 2.0f, 3.3f, 5.0f, 9.0f, 25.0f}) {
    const std::vector<float> k = kernelOf(radius);
    const std::vector<float> want = filtref::kernel(radius);
    ASSERT_EQ(k.size(), want.size()) << "radius " << radius;
    for (size_t i = 0; i < k.size(); i++) {
      EXPECT_EQ(k[i], want[i]) << "radius " << radius << " tap " << i;
      EXPECT_EQ(k[i], k[k.size() - 1 - i]) << "radius " << radius << " not symmetric";
    }
  }
}

TEST(BlurLine, OneSampleAndLinesShorterThanTheKernelMatchThePlainEvaluation) {
  std::mt19937 rng(7);
  for (float radius : {0.1f, 2.0f, 5.0f, 9.0f}) {
    const std::vector<float> k = kernelOf(radius);
    const std::vector<float> t = tableOf(k);
    const int n = (int)k.size();
    for (int count = 1; count < n + 3; count++) {
      for (int b : {1, 3}) {
        std::vector<uint8_t> src((size_t)count * b);
        for (auto& v : src) v = (uint8_t)rng();
        std::vector<uint8_t> got(src.size() + 8, 0xEE), want(src.size());
        CxImage::blur_line(t.data(), k.data(), n, src.data(), got.data(), count, b);
        filtref::blurLine(k, src.data(), want.data(), count, b);
        if (count == 1) {
          EXPECT_TRUE(std::equal(src.begin(), src.end(), got.begin())) << "one sample changed";
        }
        want.resize(got.size(), 0xEE);  // nothing written past the line
        ASSERT_EQ(got, want) << "radius " << radius << " count " << count << " bytes " << b;
      }
    }
  }
}

TEST(BlurLine, UnusableArgumentsGiveNothingAndSumsRoundHalfUpExactly) {
  for (float radius : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e9f}) {
    float sentinel = 0.0f;
    float* k = &sentinel;  // must be replaced by null
    EXPECT_EQ(CxImage::gen_convolve_matrix(radius, &k), 0);
    EXPECT_EQ(k, nullptr);
  }
  EXPECT_EQ(CxImage::gen_convolve_matrix(1.0f, nullptr), 0);
  const std::vector<float> k = kernelOf(1.0f);
  const std::vector<float> t = tableOf(k);
  EXPECT_EQ(CxImage::gen_lookup_table(nullptr, 3), nullptr);
  EXPECT_EQ(CxImage::gen_lookup_table(k.data(), 0), nullptr);
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
  CxImage::blur_line(t.data(), k.data(), 3, src, dst, 0, 3);
  CxImage::blur_line(t.data(), k.data(), 3, src, dst, 2, 0);
  CxImage::blur_line(t.data(), k.data(), 0, src, dst, 2, 3);
  CxImage::blur_line(nullptr, k.data(), 3, src, dst, 2, 3);
  for (uint8_t v : dst) EXPECT_EQ(v, 9);

  // sum + 0.5 is truncated after widening, so a sum just below one half
  // rounds down even where single precision would have rounded it up.
  const float one[1] = {1.0f};
  float table[256] = {};
  table[1] = 0.49999997f;
  table[2] = 0.5f;
  table[3] = 254.5f;
  CxImage::blur_line(table, one, 1, src, dst, 3, 1);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 3), (std::vector<uint8_t>{0, 1, 255}));
}

TEST(GaussianBlur, RandomImagesMatchThePlainEvaluation) {
  std::mt19937 rng(20240601);
  const uint32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1},   {2, 3},  {3, 2},
                               {5, 5}, {13, 9}, {31, 17}, {64, 3}, {7, 40}};
  for (float radius : {0.0f, 0.1f, 0.7f, 1.0f, 2.0f, 3.3f, 5.0f, 9.0f}) {
    for (const auto& s : sizes) {
      for (uint32_t bpp : {24u, 8u}) {
        CxImage img;
        makeImage(img, s[0], s[1], bpp);
        filtref::fillMixed(img, rng);
        const filtref::Plane want = filtref::gaussianBlur(filtref::planeOf(img), radius);
        ASSERT_TRUE(img.GaussianBlur(radius)) << img.GetLastError();
        ASSERT_EQ(img.GetBpp(), bpp);
        ASSERT_EQ(pixelBytes(img), want.data)
            << "radius " << radius << " size " << s[0] << "x" << s[1] << " bpp " << bpp;
      }
    }
  }
}

TEST(GaussianBlur, IntoDestinationKeepsSourceAndSettingsFailuresChangeNothing) {
  CxImage img;
  makeImage(img, 17, 6);
  std::mt19937 rng(3);
  filtref::fillMixed(img, rng);
  img.SetXDPI(300);
  img.SetJpegQuality(100);
  const std::vector<uint8_t> before = pixelBytes(img);
  CxImage dst;
  ASSERT_TRUE(img.GaussianBlur(2.0f, &dst));
  EXPECT_EQ(pixelBytes(img), before);
  EXPECT_EQ(pixelBytes(dst), filtref::gaussianBlur(filtref::planeOf(img), 2.0f).data);
  EXPECT_EQ(dst.GetXDPI(), 300);
  EXPECT_EQ(dst.GetJpegQuality(), 100);
  // Rows of 17 pixels carry 1 padding byte; the result's padding is zeroed.
  for (uint32_t y = 0; y < dst.GetHeight(); y++) EXPECT_EQ(dst.GetBits(y)[51], 0);

  EXPECT_FALSE(img.GaussianBlur(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_STRNE(img.GetLastError(), "");
  EXPECT_FALSE(img.UnsharpMask(1e9f, 1.0f, 0));
  EXPECT_EQ(pixelBytes(img), before);
  CxImage empty;
  EXPECT_FALSE(empty.GaussianBlur(1.0f));
  EXPECT_FALSE(empty.UnsharpMask(1.0f, 1.0f, 0));
}

TEST(GaussianBlur, IndexedColourImageTakesThePaletteEntryNearestTheBlur) {
  // Black | white halves over a palette that is no grey ramp: the three
  // nearly equal taps of radius 1 turn the edge into about 85 and 170, whose
  // nearest entries are the two greys.
  CxImage img;
  makeImage(img, 12, 3, 8);
  RGBQUAD pal[256] = {{0, 0, 0, 0}, {255, 255, 255, 0}, {64, 64, 64, 0}, {191, 191, 191, 0}, {0, 0, 255, 0}};
  img.SetPalette(pal, 256);
  for (int y = 0; y < 3; y++)
    for (int x = 6; x < 12; x++) img.SetPixelIndex(x, y, 1);
  ASSERT_TRUE(img.GaussianBlur(1.0f));
  EXPECT_EQ(img.GetBpp(), 8);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 12; x++) EXPECT_EQ(img.GetPixelIndex(x, y), "000002311111"[x] - '0') << x;
}

namespace {
// De Bruijn sequence over bytes: every three consecutive bytes (cyclically)
// form a different triple, all 2^24 of them once.
void deBruijn3(int t, int p, uint8_t* a, std::vector<uint8_t>& out) {
  if (t > 3) {
    if (3 % p == 0) out.insert(out.end(), a + 1, a + p + 1);
    return;
  }
  a[t] = a[t - p];
  deBruijn3(t + 1, p, a, out);
  for (int j = a[t - p] + 1; j < 256; j++) {
    a[t] = (uint8_t)j;
    deBruijn3(t + 1, t, a, out);
  }
}
}  // namespace

TEST(GaussianBlur, CardKernelIsExactForEveryNeighbourhood) {
  // The card pipeline sharpens with radius 0.1 (three taps). One grey row
  // running through every byte triple meets every interior sum; the
  // one-sample column pass leaves it as it is.
  std::vector<uint8_t> seq;
  seq.reserve((1u << 24) + 2);
  uint8_t a[4] = {0, 0, 0, 0};
  deBruijn3(1, 1, a, seq);
  ASSERT_EQ(seq.size(), 1u << 24);
  seq.push_back(seq[0]);
  seq.push_back(seq[1]);
  CxImage img;
  makeImage(img, (uint32_t)seq.size(), 1, 8);
  memcpy(img.GetBits(0), seq.data(), seq.size());
  ASSERT_TRUE(img.GaussianBlur(0.1f));

  const std::vector<float> t = tableOf(kernelOf(0.1f));
  const uint8_t* got = img.GetBits(0);
  size_t mismatches = 0;
  for (size_t p = 1; p + 1 < seq.size(); p++) {
    float sum = 0.0f;
    sum = sum + t[seq[p - 1]];
    sum = sum + t[256 + seq[p]];
    sum = sum + t[512 + seq[p + 1]];
    const uint8_t want = (uint8_t)(sum + 0.5);
    if (got[p] != want && ++mismatches <= 5)
      ADD_FAILURE() << "neighbourhood " << (int)seq[p - 1] << "," << (int)seq[p] << "," << (int)seq[p + 1]
                    << ": got " << (int)got[p] << " want " << (int)want;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(GaussianBlur, LargeNoiseImagesMatchThePlainEvaluation) {
  // About seven in a million sums of a wide kernel land so close to a
  // rounding step that any change in the order of the single-precision
  // additions shows; millions of noisy bytes make such a change visible.
  std::mt19937 rng(4400);
  for (float radius : {2.0f, 5.0f}) {
    CxImage img;
    makeImage(img, 1201, 1199);
    for (uint32_t y = 0; y < img.GetHeight(); y++)
      for (uint32_t k = 0; k < img.GetWidth() * 3; k++) img.GetBits(y)[k] = (uint8_t)rng();
    const filtref::Plane want = filtref::gaussianBlur(filtref::planeOf(img), radius);
    ASSERT_TRUE(img.GaussianBlur(radius));
    EXPECT_EQ(pixelBytes(img), want.data) << "radius " << radius;
  }
}

TEST(UnsharpMask, AmountZeroUniformImagesAndHighThresholdsLeaveEveryPixel) {
  std::mt19937 rng(11);
  const struct {
    float radius, amount;
    int threshold;
    bool uniform;
  } cases[] = {{0.1f, 0.0f, 0, false}, {1.0f, 5.0f, 256, false}, {0.1f, 0.5f, 0, true},
               {0.1f, 10.0f, 0, true}, {0.1f, 15.0f, 0, true},  {0.1f, 1000.0f, 0, true}};
  for (const auto& c : cases) {
    CxImage img;
    makeImage(img, 23, 11);
    if (c.uniform) img.Clear(77);
    else filtref::fillMixed(img, rng);
    const std::vector<uint8_t> before = pixelBytes(img);
    ASSERT_TRUE(img.UnsharpMask(c.radius, c.amount, c.threshold));
    EXPECT_EQ(pixelBytes(img), before) << "amount " << c.amount << " threshold " << c.threshold;
  }
}

TEST(UnsharpMask, RandomImagesMatchThePlainEvaluation) {
  std::mt19937 rng(99);
  const uint32_t sizes[][2] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {11, 7}, {30, 19}, {5, 33}};
  for (float radius : {0.1f, 1.0f, 2.5f, 5.0f})
    for (float amount : {0.5f, 3.0f, 10.0f, 15.0f})
      for (int threshold : {0, 4, 30})
        for (const auto& s : sizes)
          for (uint32_t bpp : {24u, 8u}) {
            CxImage img;
            makeImage(img, s[0], s[1], bpp);
            filtref::fillMixed(img, rng);
            const filtref::Plane want =
                filtref::unsharpMask(filtref::planeOf(img), radius, amount, threshold);
            ASSERT_TRUE(img.UnsharpMask(radius, amount, threshold));
            ASSERT_EQ(pixelBytes(img), want.data) << "radius " << radius << " amount " << amount << " thr "
                                                  << threshold << " size " << s[0] << "x" << s[1] << " bpp "
                                                  << bpp;
          }
}

TEST(UnsharpMask, CardSizedImageMatchesThePlainEvaluation) {
  // The pipeline's call on a whole card, so the wide-row path is covered.
  std::mt19937 rng(1013);
  CxImage img;
  makeImage(img, 1013, 643);
  filtref::fillMixed(img, rng);
  const filtref::Plane want = filtref::unsharpMask(filtref::planeOf(img), 0.1f, 10.0f, 0);
  ASSERT_TRUE(img.UnsharpMask(0.1f, 10.0f, 0));
  EXPECT_EQ(pixelBytes(img), want.data);
}
