// Gaussian blur, its kernel and line helpers and the unsharp mask, against plain evaluations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"

using namespace ximgtest;
namespace {
// The blur's own kernel for a radius; empty where it refuses the radius.
std::vector<float> kernelOf(float radius) {
  float* k = nullptr;
  const int n = CxImage::gen_convolve_matrix(radius, &k);
  std::unique_ptr<float[]> owner(k);
  return n > 0 && k ? std::vector<float>(k, k + n) : std::vector<float>{};
}
// One line of `count` samples, `b` bytes each. Each output sums the taps whose sample lies on
// the line, in tap order; where taps fall off an end the sum is divided by the weight left.
void refBlurLine(const std::vector<float>& kern, const uint8_t* src, uint8_t* dst, int count, int b) {
  const int n = (int)kern.size(), m = n / 2;
  for (int k = 0; k < count; k++)
    for (int i = 0; i < b; i++) {
      float scale = 0.0f, sum = 0.0f;
      for (int t = 0; t < n; t++) {
        const int j = k + t - m;
        if (j < 0 || j >= count) continue;
        scale = scale + kern[t];
        const float prod = (float)src[j * b + i] * kern[t];
        sum = sum + prod;
      }
      const bool whole = k >= m && k < count - m;
      dst[k * b + i] = (uint8_t)(whole ? sum + 0.5 : sum / scale + 0.5);
    }
}
// Rows first, then each column gathered into a buffer, blurred and scattered back.
std::vector<uint8_t> refBlur(const CxImage& img, float radius) {
  const std::vector<float> kern = kernelOf(radius);
  const int w = (int)img.GetWidth(), h = (int)img.GetHeight(), b = img.GetBpp() / 8;
  const std::vector<uint8_t> in = pixelBytes(img);
  std::vector<uint8_t> tx(in.size()), col((size_t)h * b), out(col.size());
  for (int y = 0; y < h; y++) refBlurLine(kern, &in[(size_t)y * w * b], &tx[(size_t)y * w * b], w, b);
  for (int x = 0; x < w; x++) {
    for (int y = 0; y < h; y++) memcpy(&col[(size_t)y * b], &tx[((size_t)y * w + x) * b], b);
    refBlurLine(kern, col.data(), out.data(), h, b);
    for (int y = 0; y < h; y++) memcpy(&tx[((size_t)y * w + x) * b], &out[(size_t)y * b], b);
  }
  return tx;
}
// Where the blur moved a byte by at least `threshold`, move it `amount` times as far the other way.
std::vector<uint8_t> refUnsharp(const CxImage& img, float radius, float amount, int threshold) {
  const std::vector<uint8_t> in = pixelBytes(img);
  std::vector<uint8_t> u = refBlur(img, radius);
  for (size_t k = 0; k < in.size(); k++) {
    const int o = in[k], diff = o - (int)u[k];
    const float v = (float)o + (float)diff * amount;
    u[k] = (uint8_t)(std::abs(diff) < threshold ? o : std::min(255, std::max(0, (int)v)));
  }
  return u;
}
// Random picture mixing noise, hard edges, ramps and blocks, so that steep and flat
// neighbourhoods both occur.
void fillMixed(CxImage& img, std::mt19937& rng) {
  const int b = img.GetBpp() / 8;
  std::uniform_int_distribution<int> byte(0, 255);
  const int mode = std::uniform_int_distribution<int>(0, 3)(rng), flat = byte(rng);
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    for (uint32_t x = 0; x < img.GetWidth(); x++)
      for (int i = 0; i < b; i++) {
        const int v = mode == 0   ? byte(rng)
                      : mode == 1 ? ((x + y) % 3 == 0 ? flat : byte(rng) % 4 == 0 ? 255 : 0)
                      : mode == 2 ? (int)((x * 37 + y * 11 + i * 70) % 256)
                                  : ((x / 3 + y / 2) % 2 ? flat : 255 - flat);
        img.GetBits(y)[x * b + i] = (uint8_t)v;
      }
}
// The blur's own product table for a kernel.
std::vector<float> tableOf(const std::vector<float>& k) {
  std::unique_ptr<float[]> t(CxImage::gen_lookup_table(k.data(), (int)k.size()));
  return std::vector<float>(t.get(), t.get() + k.size() * 256);
}
// De Bruijn sequence over bytes: every three consecutive bytes (cyclically) form a different
// triple, all 2^24 of them once.
void deBruijn3(int t, int p, uint8_t* a, std::vector<uint8_t>& out) {
  if (t > 3) {
    if (3 % p == 0) out.insert(out.end(), a + 1, a + p + 1);
    return;
  }
  a[t] = a[t - p];
  deBruijn3(t + 1, p, a, out);
  for (int j = a[t - p] + 1; j < 256; j++) a[t] = (uint8_t)j, deBruijn3(t + 1, t, a, out);
}
}  // namespace
// Every tap to the last bit; only the size of the radius counts.
TEST(BlurKernel, WorkedKernelsToTheLastBit) {
  const struct { float radius; std::vector<float> taps; } cases[] = {
      {0.0f, {1.0f}},
      {0.1f, {0.242099941f, 0.515800059f, 0.242099941f}},
      {1.0f, {0.331420809f, 0.337158322f, 0.331420809f}},
      {-2.0f, {0.105064131f, 0.262789875f, 0.264292061f, 0.262789875f, 0.105064131f}},
      {5.0f, {0.0296410285f, 0.0534646846f, 0.084612526f, 0.117489643f, 0.143141165f, 0.143301859f,
              0.143141165f, 0.117489643f, 0.084612526f, 0.0534646846f, 0.0296410285f}}};
  for (const auto& c : cases) EXPECT_EQ(kernelOf(c.radius), c.taps) << "radius " << c.radius;
  EXPECT_EQ(kernelOf(25.0f).size(), 51u);
}
TEST(BlurLine, LinesUpToThreeSamplesLongerThanTheKernelMatchThePlainEvaluation) {
  std::mt19937 rng(7);
  for (float radius : {0.1f, 2.0f, 5.0f, 9.0f}) {
    const std::vector<float> k = kernelOf(radius), t = tableOf(k);
    const int n = (int)k.size();
    for (int count = 1; count < n + 3; count++)
      for (int b : {1, 3}) {
        std::vector<uint8_t> src((size_t)count * b);
        for (auto& v : src) v = (uint8_t)rng();
        std::vector<uint8_t> got(src.size() + 8, 0xEE), want(src.size() + 8, 0xEE);
        CxImage::blur_line(t.data(), k.data(), n, src.data(), got.data(), count, b);
        refBlurLine(k, src.data(), want.data(), count, b);
        ASSERT_EQ(got, want) << "radius " << radius << " count " << count << " bytes " << b;
      }
  }
}
TEST(BlurLine, UnusableArgumentsGiveNothingAndSumsRoundHalfUpExactly) {
  for (float radius : {NAN, INFINITY, 1e9f}) {
    float sentinel = 0.0f;
    float* k = &sentinel;  // must be replaced by null
    EXPECT_EQ(CxImage::gen_convolve_matrix(radius, &k), 0);
    EXPECT_EQ(k, nullptr);
  }
  EXPECT_EQ(CxImage::gen_convolve_matrix(1.0f, nullptr), 0);
  const std::vector<float> k = kernelOf(1.0f), t = tableOf(k);
  EXPECT_EQ(CxImage::gen_lookup_table(nullptr, 3), nullptr);
  EXPECT_EQ(CxImage::gen_lookup_table(k.data(), 0), nullptr);
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
  CxImage::blur_line(t.data(), k.data(), 3, src, dst, 0, 3);
  CxImage::blur_line(t.data(), k.data(), 3, src, dst, 2, 0);
  CxImage::blur_line(t.data(), k.data(), 0, src, dst, 2, 3);
  CxImage::blur_line(nullptr, k.data(), 3, src, dst, 2, 3);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 6), std::vector<uint8_t>(6, 9));
  // sum + 0.5 is truncated after widening, so a sum just below one half rounds down even where
  // single precision would have rounded it up.
  const float one[1] = {1.0f};
  float table[256] = {};
  table[1] = 0.49999997f, table[2] = 0.5f, table[3] = 254.5f;
  CxImage::blur_line(table, one, 1, src, dst, 3, 1);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 3), (std::vector<uint8_t>{0, 1, 255}));
}
// Small images of every shape, and two large noisy ones: about seven in a million sums of a wide
// kernel land so close to a rounding step that any change in the order of the additions shows.
TEST(Blurring, ImagesMatchThePlainEvaluation) {
  std::mt19937 rng(20240601);
  struct Case { float radius; uint32_t w, h, bpp; };
  std::vector<Case> cases = {{2.0f, 1201, 1199, 24}, {5.0f, 1201, 1199, 24}};
  const uint32_t sizes[][2] = {{1, 1}, {1, 9},  {9, 1},   {2, 3},  {3, 2},
                               {5, 5}, {13, 9}, {31, 17}, {64, 3}, {7, 40}};
  for (float radius : {0.0f, 0.1f, 0.7f, 1.0f, 2.0f, 3.3f, 5.0f, 9.0f})
    for (const auto& s : sizes)
      for (uint32_t bpp : {24u, 8u}) cases.push_back({radius, s[0], s[1], bpp});
  for (const Case& c : cases) {
    CxImage img;
    makeImage(img, c.w, c.h, c.bpp);
    fillMixed(img, rng);
    const std::vector<uint8_t> want = refBlur(img, c.radius);
    ASSERT_TRUE(img.GaussianBlur(c.radius)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), c.bpp);
    ASSERT_EQ(pixelBytes(img), want) << c.radius << ", " << c.w << "x" << c.h << "x" << c.bpp;
  }
}
// The card pipeline sharpens with radius 0.1 (three taps). One grey row running through every
// byte triple meets every interior sum; the one-sample column pass leaves it as it is.
TEST(Blurring, CardKernelIsExactForEveryNeighbourhood) {
  std::vector<uint8_t> seq;
  seq.reserve((1u << 24) + 2);
  uint8_t a[4] = {0, 0, 0, 0};
  deBruijn3(1, 1, a, seq);
  ASSERT_EQ(seq.size(), 1u << 24);
  seq.insert(seq.end(), {seq[0], seq[1]});
  CxImage img;
  makeImage(img, (uint32_t)seq.size(), 1, 8);
  memcpy(img.GetBits(0), seq.data(), seq.size());
  ASSERT_TRUE(img.GaussianBlur(0.1f));
  std::vector<uint8_t> want(seq.size());
  refBlurLine(kernelOf(0.1f), seq.data(), want.data(), (int)seq.size(), 1);
  EXPECT_TRUE(pixelBytes(img) == want);
}
TEST(Blurring, IntoDestinationKeepsSourceAndSettingsFailuresChangeNothing) {
  CxImage img, dst, empty;
  makeImage(img, 17, 6);
  std::mt19937 rng(3);
  fillMixed(img, rng);
  img.SetXDPI(300), img.SetJpegQuality(100);
  const std::vector<uint8_t> before = pixelBytes(img);
  ASSERT_TRUE(img.GaussianBlur(2.0f, &dst));
  EXPECT_EQ(pixelBytes(img), before);
  EXPECT_EQ(pixelBytes(dst), refBlur(img, 2.0f));
  EXPECT_TRUE(dst.GetXDPI() == 300 && dst.GetJpegQuality() == 100);
  for (uint32_t y = 0; y < 6; y++) EXPECT_EQ(dst.GetBits(y)[51], 0) << "padding byte of row " << y;
  EXPECT_FALSE(img.GaussianBlur(NAN));
  EXPECT_STRNE(img.GetLastError(), "");
  EXPECT_FALSE(img.UnsharpMask(1e9f, 1.0f, 0) || empty.GaussianBlur(1.0f) || empty.UnsharpMask(1, 1, 0));
  EXPECT_EQ(pixelBytes(img), before);
}
// Small images of every shape, the pipeline's call on a whole card (the wide-row path), and
// nothing to sharpen: amount zero, a threshold above any difference, uniform images (bpp 0).
TEST(Sharpening, ImagesMatchThePlainEvaluation) {
  std::mt19937 rng(99);
  struct Case { float radius, amount; int threshold; uint32_t w, h, bpp; };
  std::vector<Case> cases = {{0.1f, 10.0f, 0, 1013, 643, 24}, {0.1f, 0.0f, 0, 23, 11, 24},
                             {1.0f, 5.0f, 256, 23, 11, 24},   {0.1f, 0.5f, 0, 23, 11, 0},
                             {0.1f, 15.0f, 0, 23, 11, 0},     {0.1f, 1000.0f, 0, 23, 11, 0}};
  const uint32_t sizes[][2] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {11, 7}, {30, 19}, {5, 33}};
  for (float radius : {0.1f, 1.0f, 2.5f, 5.0f})
    for (float amount : {0.5f, 3.0f, 10.0f, 15.0f})
      for (int threshold : {0, 4, 30})
        for (const auto& s : sizes)
          for (uint32_t bpp : {24u, 8u}) cases.push_back({radius, amount, threshold, s[0], s[1], bpp});
  for (const Case& c : cases) {
    CxImage img;
    makeImage(img, c.w, c.h, c.bpp ? c.bpp : 24);
    if (c.bpp) fillMixed(img, rng);
    else img.Clear(77);
    const std::vector<uint8_t> want = c.amount == 0 || c.bpp == 0 || c.threshold > 255
                                          ? pixelBytes(img)
                                          : refUnsharp(img, c.radius, c.amount, c.threshold);
    ASSERT_TRUE(img.UnsharpMask(c.radius, c.amount, c.threshold));
    ASSERT_EQ(pixelBytes(img), want) << "radius " << c.radius << " amount " << c.amount << " threshold "
                                     << c.threshold << ", " << c.w << "x" << c.h << "x" << c.bpp;
  }
}
