// Gaussian blur, its kernel helpers and the unsharp mask: the worked numbers
// and agreement with the plain evaluation in test_filters_reference.h.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "tests/ximage/test_filters_reference.h"
#include "ximage/ximage.h"

namespace {

std::vector<float> kernelOf(float radius, int* n) {
  float* k = nullptr;
  *n = CxImage::gen_convolve_matrix(radius, &k);
  std::unique_ptr<float[]> owner(k);
  if (*n <= 0 || k == nullptr) return {};
  return std::vector<float>(k, k + *n);
}

// Bytes of a 24-bit image as (blue, green, red) per pixel, padding left out.
std::vector<uint8_t> pixelBytes(const CxImage& img) { return filtref::planeOf(img).data; }

void makeImage(CxImage& img, uint32_t w, uint32_t h, uint32_t bpp = 24) {
  ASSERT_NE(img.Create(w, h, bpp, 0), nullptr) << img.GetLastError();
  img.Clear(0);
}

void makeGreyRamp(CxImage& img, uint32_t w, uint32_t h) {
  makeImage(img, w, h, 8);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; i++) pal[i] = RGBQUAD{(uint8_t)i, (uint8_t)i, (uint8_t)i, 0};
  img.SetPalette(pal, 256);
  ASSERT_TRUE(img.IsGrayScale());
}

// The blur's own table for a kernel, owned by a vector.
std::vector<float> tableOf(const std::vector<float>& k) {
  float* t = CxImage::gen_lookup_table(k.data(), (int)k.size());
  std::unique_ptr<float[]> owner(t);
  return std::vector<float>(t, t + k.size() * 256);
}

}  // namespace

TEST(BlurKernel, RadiusOneTenthGivesTheThreeTapKernel) {
  int n = 0;
  const std::vector<float> k = kernelOf(0.1f, &n);
  ASSERT_EQ(n, 3);
  EXPECT_NEAR(k[0], 0.2420999f, 1e-7);
  EXPECT_NEAR(k[1], 0.5158001f, 1e-7);
  EXPECT_NEAR(k[2], 0.2420999f, 1e-7);
  EXPECT_EQ(k[0], k[2]);
}

TEST(BlurKernel, LengthsFollowTheRadius) {
  int n = 0;
  kernelOf(1.0f, &n);
  EXPECT_EQ(n, 3);
  kernelOf(2.0f, &n);
  EXPECT_EQ(n, 5);
  kernelOf(5.0f, &n);
  EXPECT_EQ(n, 11);
  kernelOf(0.0f, &n);
  EXPECT_EQ(n, 1);
  kernelOf(-2.0f, &n);  // only the size of the radius counts
  EXPECT_EQ(n, 5);
}

TEST(BlurKernel, EveryTapMatchesThePlainEvaluationExactly) {
  for (float radius : {0.0f, 0.1f, 0.35f, 0.5f, 1.0f, 1.7f, 2.0f, 3.3f, 5.0f, 9.0f, 25.0f}) {
    int n = 0;
    const std::vector<float> k = kernelOf(radius, &n);
    const std::vector<float> want = filtref::kernel(radius);
    ASSERT_EQ(k.size(), want.size()) << "radius " << radius;
    for (size_t i = 0; i < k.size(); i++) {
      EXPECT_EQ(k[i], want[i]) << "radius " << radius << " tap " << i;
      EXPECT_EQ(k[i], k[k.size() - 1 - i]) << "kernel must be symmetric";
    }
  }
}

TEST(BlurKernel, UnusableRadiusGivesNoKernel) {
  for (float radius : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       1e9f}) {
    float sentinel = 0.0f;
    float* k = &sentinel;  // must be replaced by null
    EXPECT_EQ(CxImage::gen_convolve_matrix(radius, &k), 0);
    EXPECT_EQ(k, nullptr);
  }
  EXPECT_EQ(CxImage::gen_convolve_matrix(1.0f, nullptr), 0);
}

TEST(BlurKernel, LookupTableHoldsEveryProduct) {
  int n = 0;
  const std::vector<float> k = kernelOf(2.0f, &n);
  const std::vector<float> t = tableOf(k);
  for (int j = 0; j < n; j++) {
    for (int v = 0; v < 256; v++) ASSERT_EQ(t[(size_t)j * 256 + v], (float)v * k[j]);
  }
  EXPECT_EQ(CxImage::gen_lookup_table(nullptr, 3), nullptr);
  EXPECT_EQ(CxImage::gen_lookup_table(k.data(), 0), nullptr);
}

TEST(BlurLine, SingleSampleComesBackUnchanged) {
  int n = 0;
  const std::vector<float> k = kernelOf(0.1f, &n);
  const std::vector<float> t = tableOf(k);
  for (int v = 0; v < 256; v++) {
    const uint8_t src[3] = {(uint8_t)v, (uint8_t)(255 - v), (uint8_t)(v / 2)};
    uint8_t dst[4] = {0, 0, 0, 0xEE};
    CxImage::blur_line(t.data(), k.data(), n, src, dst, 1, 3);
    EXPECT_EQ(dst[0], src[0]);
    EXPECT_EQ(dst[1], src[1]);
    EXPECT_EQ(dst[2], src[2]);
    EXPECT_EQ(dst[3], 0xEE) << "wrote past the line";
  }
}

TEST(BlurLine, LinesShorterThanTheKernelMatchThePlainEvaluation) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (float radius : {2.0f, 5.0f, 9.0f}) {
    int n = 0;
    const std::vector<float> k = kernelOf(radius, &n);
    const std::vector<float> t = tableOf(k);
    for (int count = 1; count < n + 3; count++) {
      for (int b : {1, 3}) {
        std::vector<uint8_t> src((size_t)count * b);
        for (auto& v : src) v = (uint8_t)byte(rng);
        std::vector<uint8_t> got((size_t)count * b + 8, 0xEE);
        std::vector<uint8_t> want((size_t)count * b);
        CxImage::blur_line(t.data(), k.data(), n, src.data(), got.data(), count, b);
        filtref::blurLine(k, src.data(), want.data(), count, b);
        for (size_t i = 0; i < want.size(); i++) {
          ASSERT_EQ(got[i], want[i]) << "radius " << radius << " count " << count << " byte " << i;
        }
        for (size_t i = want.size(); i < got.size(); i++) ASSERT_EQ(got[i], 0xEE) << "wrote past the line";
      }
    }
  }
}

TEST(BlurLine, UniformLineStaysUniformAtEveryLength) {
  int n = 0;
  const std::vector<float> k = kernelOf(5.0f, &n);
  const std::vector<float> t = tableOf(k);
  for (int count : {1, 2, 5, 10, 11, 12, 40}) {
    for (int v : {0, 1, 128, 254, 255}) {
      std::vector<uint8_t> src((size_t)count, (uint8_t)v);
      std::vector<uint8_t> dst((size_t)count, 0);
      CxImage::blur_line(t.data(), k.data(), n, src.data(), dst.data(), count, 1);
      for (int i = 0; i < count; i++) ASSERT_EQ(dst[i], v) << "count " << count << " at " << i;
    }
  }
}

TEST(BlurLine, DegenerateArgumentsWriteNothing) {
  int n = 0;
  const std::vector<float> k = kernelOf(1.0f, &n);
  const std::vector<float> t = tableOf(k);
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
  CxImage::blur_line(t.data(), k.data(), n, src, dst, 0, 3);
  CxImage::blur_line(t.data(), k.data(), n, src, dst, 2, 0);
  CxImage::blur_line(t.data(), k.data(), 0, src, dst, 2, 3);
  CxImage::blur_line(nullptr, k.data(), n, src, dst, 2, 3);
  for (uint8_t v : dst) EXPECT_EQ(v, 9);
}

TEST(GaussianBlur, RandomImagesMatchThePlainEvaluation) {
  std::mt19937 rng(20240601);
  const uint32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {5, 5}, {13, 9}, {31, 17}, {64, 3}, {7, 40}};
  for (float radius : {0.0f, 0.1f, 0.7f, 1.0f, 2.0f, 3.3f, 5.0f, 9.0f}) {
    for (const auto& s : sizes) {
      for (uint32_t bpp : {24u, 8u}) {
        CxImage img;
        if (bpp == 24) {
          makeImage(img, s[0], s[1]);
        } else {
          makeGreyRamp(img, s[0], s[1]);
        }
        filtref::fillMixed(img, rng);
        const filtref::Plane want = filtref::gaussianBlur(filtref::planeOf(img), radius);
        ASSERT_TRUE(img.GaussianBlur(radius)) << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), s[0]);
        ASSERT_EQ(img.GetHeight(), s[1]);
        ASSERT_EQ(img.GetBpp(), bpp);
        ASSERT_EQ(pixelBytes(img), want.data) << "radius " << radius << " size " << s[0] << "x" << s[1]
                                              << " bpp " << bpp;
      }
    }
  }
}

TEST(GaussianBlur, IntoDestinationLeavesSourceAndKeepsSettings) {
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
}

TEST(GaussianBlur, EmptyImageOrUnusableRadiusFailsAndChangesNothing) {
  CxImage empty;
  EXPECT_FALSE(empty.GaussianBlur(1.0f));
  EXPECT_FALSE(empty.UnsharpMask(1.0f, 1.0f, 0));

  CxImage img;
  makeImage(img, 4, 4);
  std::mt19937 rng(5);
  filtref::fillMixed(img, rng);
  const std::vector<uint8_t> before = pixelBytes(img);
  EXPECT_FALSE(img.GaussianBlur(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_STRNE(img.GetLastError(), "");
  EXPECT_FALSE(img.UnsharpMask(1e9f, 1.0f, 0));
  EXPECT_EQ(pixelBytes(img), before);
}

TEST(GaussianBlur, IndexedColourImageIsBlurredThroughItsPalette) {
  // Black and white palette, left half black, right half white: the blurred
  // edge must still use palette entries, and far pixels keep their colour.
  CxImage img;
  makeImage(img, 12, 3, 8);
  RGBQUAD pal[256] = {};
  pal[0] = RGBQUAD{0, 0, 0, 0};
  pal[1] = RGBQUAD{255, 255, 255, 0};
  pal[2] = RGBQUAD{0, 0, 255, 0};  // red: not a grey ramp
  img.SetPalette(pal, 256);
  ASSERT_FALSE(img.IsGrayScale());
  for (int y = 0; y < 3; y++) {
    for (int x = 6; x < 12; x++) img.SetPixelIndex(x, y, 1);
  }
  ASSERT_TRUE(img.GaussianBlur(1.0f));
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetPixelIndex(0, 1), 0);
  EXPECT_EQ(img.GetPixelIndex(11, 1), 1);
}

TEST(UnsharpMask, AmountZeroLeavesEveryPixel) {
  std::mt19937 rng(11);
  CxImage img;
  makeImage(img, 23, 11);
  filtref::fillMixed(img, rng);
  const std::vector<uint8_t> before = pixelBytes(img);
  ASSERT_TRUE(img.UnsharpMask(0.1f, 0.0f, 0));
  EXPECT_EQ(pixelBytes(img), before);
}

TEST(UnsharpMask, UniformImageStaysUniformForAnyAmount) {
  for (float amount : {0.5f, 10.0f, 15.0f, 1000.0f}) {
    CxImage img;
    makeImage(img, 9, 7);
    img.Clear(77);
    ASSERT_TRUE(img.UnsharpMask(0.1f, amount, 0));
    for (uint8_t v : pixelBytes(img)) ASSERT_EQ(v, 77) << "amount " << amount;
  }
}

TEST(UnsharpMask, EdgeOvershootsAndClampsLikeThePlainEvaluation) {
  // A dark/light step: with amount 10 the bytes next to the step are pushed
  // to black and white.
  CxImage img;
  makeImage(img, 8, 1);
  for (int x = 0; x < 8; x++) img.SetPixelColor(x, 0, x < 4 ? RGBQUAD{60, 60, 60, 0} : RGBQUAD{190, 190, 190, 0});
  const filtref::Plane want = filtref::unsharpMask(filtref::planeOf(img), 0.1f, 10.0f, 0);
  ASSERT_TRUE(img.UnsharpMask(0.1f, 10.0f, 0));
  EXPECT_EQ(pixelBytes(img), want.data);
  EXPECT_EQ(img.GetPixelColor(3, 0).rgbRed, 0);
  EXPECT_EQ(img.GetPixelColor(4, 0).rgbRed, 255);
  EXPECT_EQ(img.GetPixelColor(0, 0).rgbRed, 60);
}

TEST(UnsharpMask, ThresholdKeepsSmallDifferences) {
  std::mt19937 rng(13);
  CxImage img;
  makeImage(img, 10, 10);
  filtref::fillMixed(img, rng);
  const std::vector<uint8_t> before = pixelBytes(img);
  ASSERT_TRUE(img.UnsharpMask(1.0f, 5.0f, 256));  // every |diff| is below 256
  EXPECT_EQ(pixelBytes(img), before);
}

TEST(UnsharpMask, RandomImagesMatchThePlainEvaluation) {
  std::mt19937 rng(99);
  const uint32_t sizes[][2] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {11, 7}, {30, 19}, {5, 33}};
  for (float radius : {0.1f, 1.0f, 2.5f, 5.0f}) {
    for (float amount : {0.5f, 3.0f, 10.0f, 15.0f}) {
      for (int threshold : {0, 4, 30}) {
        for (const auto& s : sizes) {
          for (uint32_t bpp : {24u, 8u}) {
            CxImage img;
            if (bpp == 24) {
              makeImage(img, s[0], s[1]);
            } else {
              makeGreyRamp(img, s[0], s[1]);
            }
            filtref::fillMixed(img, rng);
            const filtref::Plane want = filtref::unsharpMask(filtref::planeOf(img), radius, amount, threshold);
            ASSERT_TRUE(img.UnsharpMask(radius, amount, threshold));
            ASSERT_EQ(pixelBytes(img), want.data) << "radius " << radius << " amount " << amount
                                                  << " threshold " << threshold << " size " << s[0]
                                                  << "x" << s[1] << " bpp " << bpp;
          }
        }
      }
    }
  }
}

TEST(UnsharpMask, CardSizedImageMatchesThePlainEvaluation) {
  // The pipeline's call on a whole card, so the wide-row fast path is covered.
  std::mt19937 rng(1013);
  CxImage img;
  makeImage(img, 1013, 643);
  filtref::fillMixed(img, rng);
  const filtref::Plane want = filtref::unsharpMask(filtref::planeOf(img), 0.1f, 10.0f, 0);
  ASSERT_TRUE(img.UnsharpMask(0.1f, 10.0f, 0));
  EXPECT_EQ(pixelBytes(img), want.data);
}

namespace {

// De Bruijn sequence over byte values in which every three consecutive bytes
// (cyclically) form a different triple: all 2^24 of them appear once.
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
  // The card pipeline blurs with radius 0.1 (three taps). A one-row grey image
  // whose bytes run through every triple once exercises the interior sum for
  // every possible neighbourhood; the one-sample column pass leaves it as is.
  std::vector<uint8_t> seq;
  seq.reserve((1u << 24) + 2);
  uint8_t a[4] = {0, 0, 0, 0};
  deBruijn3(1, 1, a, seq);
  ASSERT_EQ(seq.size(), 1u << 24);
  seq.push_back(seq[0]);
  seq.push_back(seq[1]);

  CxImage img;
  makeGreyRamp(img, (uint32_t)seq.size(), 1);
  memcpy(img.GetBits(0), seq.data(), seq.size());
  ASSERT_TRUE(img.GaussianBlur(0.1f));

  int n = 0;
  const std::vector<float> k = kernelOf(0.1f, &n);
  ASSERT_EQ(n, 3);
  const std::vector<float> t = tableOf(k);
  const uint8_t* got = img.GetBits(0);
  size_t mismatches = 0;
  for (size_t p = 1; p + 1 < seq.size(); p++) {
    float sum = 0.0f;
    sum = sum + t[seq[p - 1]];
    sum = sum + t[256 + seq[p]];
    sum = sum + t[512 + seq[p + 1]];
    const uint8_t want = (uint8_t)(sum + 0.5);
    if (got[p] != want && ++mismatches <= 5) {
      ADD_FAILURE() << "neighbourhood " << (int)seq[p - 1] << "," << (int)seq[p] << "," << (int)seq[p + 1]
                    << ": got " << (int)got[p] << " want " << (int)want;
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(GaussianBlur, LargeNoiseImagesMatchThePlainEvaluation) {
  // About seven in a million sums of a wide kernel land so close to a rounding
  // step that any change in the order of the single-precision additions shows;
  // millions of noisy bytes through both passes make such a change visible.
  std::mt19937 rng(4400);
  std::uniform_int_distribution<int> byte(0, 255);
  for (float radius : {2.0f, 5.0f}) {
    CxImage img;
    makeImage(img, 1201, 1199);
    for (uint32_t y = 0; y < img.GetHeight(); y++) {
      uint8_t* row = img.GetBits(y);
      for (uint32_t k = 0; k < img.GetWidth() * 3; k++) row[k] = (uint8_t)byte(rng);
    }
    const filtref::Plane want = filtref::gaussianBlur(filtref::planeOf(img), radius);
    ASSERT_TRUE(img.GaussianBlur(radius));
    EXPECT_EQ(pixelBytes(img), want.data) << "radius " << radius;
  }
}

TEST(BlurLine, RoundsTheExactValueHalfUp) {
  // sum + 0.5 is truncated after widening, so a sum just below one half
  // rounds down even where single precision would have rounded it up.
  const float kernel[1] = {1.0f};
  float table[256] = {};
  table[1] = 0.49999997f;
  table[2] = 0.5f;
  table[3] = 254.5f;
  const uint8_t src[3] = {1, 2, 3};
  uint8_t dst[3] = {9, 9, 9};
  CxImage::blur_line(table, kernel, 1, src, dst, 3, 1);
  EXPECT_EQ(dst[0], 0);
  EXPECT_EQ(dst[1], 1);
  EXPECT_EQ(dst[2], 255);
}
