// One one-sided card side through the panel preparation (default options,
// black extraction on, full overlay) from a 643 x 1013 page (argument 0: a
// gradient where almost every pixel differs; 1: an identity-card layout), against the time
// libjpeg alone needs to encode that side's colour panel at quality 100 and
// its overlay at quality 90, measured in the same run; and the share of
// every step of the preparation.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"

#include "pipeline/VKCtrl_Print.h"

namespace {

const int kPageWidth = 643;
const int kPageHeight = 1013;

// The pipeline logs every step; the benchmark keeps standard error quiet
// while it measures.
class QuietStderr {
 public:
  QuietStderr() {
    fflush(stderr);
    saved_ = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
  }
  ~QuietStderr() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_;
};

// The two pages measured. kGradient: a colour gradient over the whole card
// with a block of near-black text lines, so that almost every pixel has a
// colour of its own (the hardest case for the colour steps). kIdCard: an
// identity-card layout, a flat background with a coloured header band, a
// photo area with a fine gradient, a logo of flat colours and text lines.
enum PageKind { kGradient = 0, kIdCard = 1 };

// A page as the card-side submission hands it over: raster lines as
// bottom-up BMP rows, pixel bytes in raster order (red first).
std::vector<uint8_t> CardPage(PageKind kind) {
  const int rowBytes = (3 * kPageWidth + 3) / 4 * 4;
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes) * kPageHeight;
  std::vector<uint8_t> bmp(54 + imageSize, 0);
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, imageSize + 54);
  put32(10, 54);
  put32(14, 40);
  put32(18, kPageWidth);
  put32(22, kPageHeight);
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, imageSize);
  put32(38, 3780);
  put32(42, 3780);
  for (int line = 0; line < kPageHeight; ++line) {
    uint8_t* row = bmp.data() + 54 + static_cast<size_t>(line) * rowBytes;
    for (int x = 0; x < kPageWidth; ++x) {
      uint8_t* p = row + 3 * x;
      bool text = line > 700 && line < 900 && (line / 6) % 3 == 0 && x > 60 && x < 580 &&
                  (x / 9) % 4 != 3;
      if (text) {
        p[0] = p[1] = p[2] = 3;
        continue;
      }
      if (kind == kGradient) {
        p[0] = static_cast<uint8_t>((x * 255) / kPageWidth);
        p[1] = static_cast<uint8_t>((line * 255) / kPageHeight);
        p[2] = static_cast<uint8_t>(128 + ((x * 7 + line * 3) % 97));
      } else if (line < 150) {  // header band
        p[0] = 20;
        p[1] = 40;
        p[2] = 120;
      } else if (line >= 200 && line < 520 && x >= 40 && x < 300) {  // photo
        p[0] = static_cast<uint8_t>(150 + (x - 40) / 4 + (line % 7));
        p[1] = static_cast<uint8_t>(110 + (line - 200) / 5 + (x % 5));
        p[2] = static_cast<uint8_t>(90 + ((x + line) % 60));
      } else if (line >= 220 && line < 320 && x >= 420 && x < 600) {  // logo
        p[0] = ((x / 30 + line / 25) % 2) ? 200 : 30;
        p[1] = 150;
        p[2] = 40;
      } else {  // background
        p[0] = 230;
        p[1] = 240;
        p[2] = 250;
      }
    }
  }
  return bmp;
}

// Default card options with black extraction on and the full overlay.
struct BenchCtrl : CVKCtrl_Print {
  void LoadDefaults() {
    m_nRibbon = 0;
    m_nBrightness = 45;
    m_nContrast = 41;
    m_nRed = 47;
    m_nGreen = 47;
    m_nBlue = 47;
    m_iSharpening = 8;
    m_Gamma = 93;
    m_nBlackUse = 1;
    m_nSaturate = 1;
    m_nFOverlay = 0;
    m_nBOverlay = 0;
    m_nCheck = 0;
    m_nStyle = 0;
  }
};

using vkrbench::LibjpegEncode;
using vkrbench::Now;

// The colour panel of the side exactly as the preparation leaves it before
// encoding: the same page prepared as the front of a two-sided card.
CxImage PreparedColourPanel(const std::vector<uint8_t>& page) {
  BenchCtrl ctl;
  ctl.LoadDefaults();
  std::vector<uint8_t> out(16);
  QuietStderr quiet;
  ctl.MakeImageBuf(16, page.data(), static_cast<int>(page.size()), kPageWidth, kPageHeight,
                   out.data(), out.size());
  return CxImage(ctl.m_srcImg);
}

// The whole side, and libjpeg's time for its two panels in the same
// iterations; "ratio" is the side's time over libjpeg's.
void BM_OneSidedCard(benchmark::State& state) {
  const std::vector<uint8_t> page = CardPage(static_cast<PageKind>(state.range(0)));
  const CxImage colour = PreparedColourPanel(page);
  std::vector<uint8_t> out(page.size() + 8 * kPageHeight + 1000);
  BenchCtrl ctl;
  double sideTotal = 0, jpegTotal = 0;
  int result = 0;
  {
    QuietStderr quiet;
    for (auto _ : state) {
      ctl.LoadDefaults();
      auto t0 = Now();
      result = ctl.MakeImageBuf(0, page.data(), static_cast<int>(page.size()), kPageWidth,
                                kPageHeight, out.data(), out.size());
      auto t1 = Now();
      benchmark::DoNotOptimize(result);
      benchmark::DoNotOptimize(LibjpegEncode(colour, 100));
      benchmark::DoNotOptimize(LibjpegEncode(ctl.m_srcImgO, 90));
      auto t2 = Now();
      sideTotal += (t1 - t0);
      jpegTotal += (t2 - t1);
      state.SetIterationTime((t1 - t0));
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["side_ms"] = 1000.0 * sideTotal / n;
  state.counters["libjpeg_ms"] = 1000.0 * jpegTotal / n;
  state.counters["ratio"] = sideTotal / jpegTotal;
  state.counters["jpeg_bytes"] = result;
}
BENCHMARK(BM_OneSidedCard)->Arg(kGradient)->Arg(kIdCard)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same side step by step through the public steps, one walk over the
// image each; each counter is that step's share of the side in percent,
// "*_ms" its time. The side itself fuses some of them (the byte exchange,
// turn and flip of "prepare" are one pass; lightness, saturation, gamma and
// balance run together in bands of rows), so there the shares differ.
void BM_SideSteps(benchmark::State& state) {
  const std::vector<uint8_t> page = CardPage(static_cast<PageKind>(state.range(0)));
  enum { kPrepare, kBlack, kSharpen, kOverlay, kLight, kSaturate, kGamma, kBalance, kEncode, kSteps };
  const char* names[kSteps] = {"prepare", "black", "sharpen", "overlay", "light",
                               "saturate", "gamma", "balance", "encode"};
  double total[kSteps] = {};
  BenchCtrl ctl;
  {
    QuietStderr quiet;
    for (auto _ : state) {
      ctl.LoadDefaults();
      ctl.m_nLogImage = 0;
      ctl.m_nColorType = 0;
      auto t = Now();
      auto lap = [&](int step) {
        auto now = Now();
        total[step] += (now - t);
        t = now;
      };
      CxImage decoded(0), card(0);
      decoded.Create(kPageWidth, kPageHeight, 24, CXIMAGE_FORMAT_BMP);
      decoded.Clear(255);
      decoded.Decode(page.data(), static_cast<uint32_t>(page.size()), CXIMAGE_FORMAT_BMP);
      card.Transfer(decoded, true);
      for (int y = 0; y < kPageHeight; ++y) {
        uint8_t* p = card.GetBits(y);
        for (int x = 0; x < kPageWidth; ++x, p += 3) {
          const uint8_t first = p[0];
          p[0] = p[2];
          p[2] = first;
        }
      }
      card.RotateRight(nullptr);
      card.Flip(false, true);
      card.SetXDPI(300);
      card.SetYDPI(300);
      card.SetJpegQuality(100);
      ctl.MakeInit();
      ctl.UseDefault();
      lap(kPrepare);
      ctl.MakeColorK(0, card);
      lap(kBlack);
      ctl.MakeShapening(0, card);
      lap(kSharpen);
      ctl.MakeOverlay(0, card);
      lap(kOverlay);
      // Brightness and contrast, then the saturation the same step ends with,
      // timed on their own.
      const int saturate = ctl.m_nSaturate;
      ctl.m_nSaturate = 0;
      ctl.MakeLightSaturate(0, card);
      ctl.m_nSaturate = saturate;
      lap(kLight);
      card.Saturate(saturate, 1);
      lap(kSaturate);
      ctl.MakeGamma(0, card);
      lap(kGamma);
      ctl.MakeRedGreenBlue(0, card);
      lap(kBalance);
      uint8_t* jpeg = nullptr;
      int32_t size = 0;
      card.Encode(jpeg, size, CXIMAGE_FORMAT_JPG);
      free(jpeg);
      lap(kEncode);
    }
  }
  double sum = 0;
  for (double v : total) sum += v;
  const double n = static_cast<double>(state.iterations());
  for (int i = 0; i < kSteps; ++i) {
    state.counters[std::string(names[i]) + "_%"] = 100.0 * total[i] / sum;
    state.counters[std::string(names[i]) + "_ms"] = 1000.0 * total[i] / n;
  }
}
BENCHMARK(BM_SideSteps)->Arg(kGradient)->Arg(kIdCard)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
