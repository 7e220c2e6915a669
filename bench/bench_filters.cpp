// Colour and sharpening filters on a whole card image (1013 x 643, 24 bits),
// with the arguments the card pipeline passes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "ximage/ximage.h"

namespace {

// A card as a user might send it: a smooth background gradient, a photograph
// (soft shapes with a little sensor noise) and blocks of black text.
void fillCard(CxImage& img) {
  std::mt19937 rng(1013643);
  std::uniform_int_distribution<int> noise(-3, 3);
  for (uint32_t y = 0; y < img.GetHeight(); y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      uint8_t* p = row + 3 * x;
      int r = 40 + (int)(y * 150 / 643);
      int g = 90 + (int)(x * 100 / 1013);
      int b = 200 - (int)(y * 60 / 643);
      if (x >= 40 && x < 440 && y >= 60 && y < 560) {
        // Photograph.
        const double fx = (x - 40) / 400.0;
        const double fy = (y - 60) / 500.0;
        r = (int)(128 + 100 * std::sin(6.0 * fx + 2.0 * fy)) + noise(rng);
        g = (int)(128 + 90 * std::cos(5.0 * fy - 3.0 * fx)) + noise(rng);
        b = (int)(110 + 80 * std::sin(4.0 * (fx + fy))) + noise(rng);
      } else if (x >= 500 && x < 980 && (y / 40) % 3 == 1 && (x / 9) % 4 != 3) {
        // Text lines.
        r = g = b = 0;
      }
      p[0] = (uint8_t)std::min(255, std::max(0, b));
      p[1] = (uint8_t)std::min(255, std::max(0, g));
      p[2] = (uint8_t)std::min(255, std::max(0, r));
    }
  }
}

// Every pixel a fresh random colour: the slowest input for the saturation.
void fillNoise(CxImage& img) {
  std::mt19937 rng(42);
  for (uint32_t y = 0; y < img.GetHeight(); y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t k = 0; k < img.GetWidth() * 3; k++) row[k] = (uint8_t)rng();
  }
}

const CxImage& card(bool noisy) {
  static CxImage cardImg;
  static CxImage noiseImg;
  CxImage& img = noisy ? noiseImg : cardImg;
  if (!img.IsValid()) {
    img.Create(1013, 643, 24, 0);
    img.Clear(0);
    if (noisy) {
      fillNoise(img);
    } else {
      fillCard(img);
    }
  }
  return img;
}

// Run op on a fresh copy of the card each iteration; only op is timed.
template <typename Op>
void runOnCard(benchmark::State& state, bool noisy, Op op) {
  CxImage work;
  for (auto _ : state) {
    state.PauseTiming();
    work.Copy(card(noisy));
    state.ResumeTiming();
    if (!op(work)) state.SkipWithError("filter failed");
    benchmark::DoNotOptimize(work.GetBits(0));
  }
}

void BM_Saturate_Card(benchmark::State& state) {
  runOnCard(state, false, [](CxImage& img) { return img.Saturate(1, 1); });
}
BENCHMARK(BM_Saturate_Card)->Unit(benchmark::kMillisecond);

void BM_Saturate_Noise(benchmark::State& state) {
  runOnCard(state, true, [](CxImage& img) { return img.Saturate(1, 1); });
}
BENCHMARK(BM_Saturate_Noise)->Unit(benchmark::kMillisecond);

void BM_GammaRGB_Card(benchmark::State& state) {
  runOnCard(state, false, [](CxImage& img) { return img.GammaRGB(0.93f, 0.93f, 0.93f); });
}
BENCHMARK(BM_GammaRGB_Card)->Unit(benchmark::kMillisecond);

void BM_GammaRGB_PerChannel_Card(benchmark::State& state) {
  runOnCard(state, false, [](CxImage& img) { return img.GammaRGB(0.93f, 1.0f, 1.07f); });
}
BENCHMARK(BM_GammaRGB_PerChannel_Card)->Unit(benchmark::kMillisecond);

void BM_UnsharpMask_Card(benchmark::State& state) {
  runOnCard(state, false, [](CxImage& img) { return img.UnsharpMask(0.1f, 10.0f, 0); });
}
BENCHMARK(BM_UnsharpMask_Card)->Unit(benchmark::kMillisecond);

void BM_UnsharpMask_Noise(benchmark::State& state) {
  runOnCard(state, true, [](CxImage& img) { return img.UnsharpMask(0.1f, 10.0f, 0); });
}
BENCHMARK(BM_UnsharpMask_Noise)->Unit(benchmark::kMillisecond);

void BM_GaussianBlur_Radius5_Card(benchmark::State& state) {
  runOnCard(state, false, [](CxImage& img) { return img.GaussianBlur(5.0f); });
}
BENCHMARK(BM_GaussianBlur_Radius5_Card)->Unit(benchmark::kMillisecond);

}  // namespace
