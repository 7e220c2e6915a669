// One one-sided card side from raster lines to the finished "$PTS" bytes
// (the print call with nType 1: BMP building, panel preparation with the
// default options, black extraction and the full overlay, the panel JPEGs
// and the command), against libjpeg alone encoding the same panels (colour
// at quality 100, black at 100, overlay at 90) in the same run. The printer
// is an in-memory one that takes the bytes and answers at once.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"

#include "device/PrinterIO.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"

namespace {

const int kPageWidth = 643;
const int kPageHeight = 1013;

// The printer: counts the bytes, never pauses, answers nothing at once.
class NullPrinter : public PrinterIO {
 public:
  size_t Write(const void*, size_t count) override {
    bytes += count;
    return count;
  }
  void Flush() override {}
  void Pause(unsigned int) override {}
  ssize_t ReadBack(void*, size_t, double) override { return 0; }
  size_t Drain(void*, size_t) override { return 0; }
  size_t bytes = 0;
};

// Standard error goes to /dev/null while measuring (the filter's log lines
// are part of the work; their terminal is not).
class QuietStderr {
 public:
  QuietStderr() {
    fflush(stderr);
    saved_ = dup(2);
    const int null = open("/dev/null", O_WRONLY);
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

// Raster lines of an identity-card page, top line first, red-green-blue:
// a header band, a photo with a fine gradient, flat logo squares, a pale
// background and near-black text lines for the black panel.
std::vector<uint8_t> CardLines() {
  std::vector<uint8_t> lines(static_cast<size_t>(kPageWidth) * 3 * kPageHeight);
  for (int line = 0; line < kPageHeight; ++line)
    for (int x = 0; x < kPageWidth; ++x) {
      uint8_t* p = &lines[(static_cast<size_t>(line) * kPageWidth + x) * 3];
      const bool text = line > 700 && line < 900 && (line / 6) % 3 == 0 && x > 60 && x < 580 &&
                        (x / 9) % 4 != 3;
      if (text) {
        p[0] = p[1] = p[2] = 3;
      } else if (line < 150) {
        p[0] = 20, p[1] = 40, p[2] = 120;
      } else if (line >= 200 && line < 520 && x >= 40 && x < 300) {
        p[0] = static_cast<uint8_t>(150 + (x - 40) / 4 + (line % 7));
        p[1] = static_cast<uint8_t>(110 + (line - 200) / 5 + (x % 5));
        p[2] = static_cast<uint8_t>(90 + ((x + line) % 60));
      } else if (line >= 220 && line < 320 && x >= 420 && x < 600) {
        p[0] = ((x / 30 + line / 25) % 2) ? 200 : 30;
        p[1] = 150;
        p[2] = 40;
      } else {
        p[0] = 230, p[1] = 240, p[2] = 250;
      }
    }
  return lines;
}

// The job options of the benchmark: the front end's defaults with black
// extraction on and the full overlay.
POPTION BenchOptions() {
  POPTION o{};
  o.nBrightness = 45;
  o.nContrast = 41;
  o.nRed = 47;
  o.nGreen = 47;
  o.nBlue = 47;
  o.nSharpness = 8;
  o.nGamma = 93;
  o.nBlackUse = 1;
  o.nSaturate = 1;
  return o;
}

using vkrbench::LibjpegEncode;
using vkrbench::Now;

void BM_PrintOneSidedCard(benchmark::State& state) {
  std::vector<uint8_t> lines = CardLines();
  NullPrinter printer;
  SetPrinterIO(&printer);
  {
    QuietStderr quiet;
    SetPOption(BenchOptions());
    // The same side kept as a front gives the panels as they are before
    // encoding: the libjpeg reference encodes exactly these.
    OneCmdPrintingEx(3, 16, lines.data(), static_cast<int>(lines.size()), kPageWidth,
                     kPageHeight);
    g_Dev.m_nColorType = 0;
  }
  const CxImage colour(g_Dev.m_srcImg), black(g_Dev.m_srcImgK), overlay(g_Dev.m_srcImgO);
  const bool hasBlack = g_Dev.nFileSize[3] > 0;
  const bool hasOverlay = g_Dev.nFileSize[2] > 0;

  double sideTotal = 0, jpegTotal = 0;
  size_t commandBytes = 0;
  {
    QuietStderr quiet;
    for (auto _ : state) {
      printer.bytes = 0;
      const double t0 = Now();
      const int result = OneCmdPrintingEx(1, 0, lines.data(), static_cast<int>(lines.size()),
                                          kPageWidth, kPageHeight);
      const double t1 = Now();
      benchmark::DoNotOptimize(result);
      benchmark::DoNotOptimize(LibjpegEncode(colour, 100));
      if (hasBlack) benchmark::DoNotOptimize(LibjpegEncode(black, 100));
      if (hasOverlay) benchmark::DoNotOptimize(LibjpegEncode(overlay, 90));
      const double t2 = Now();
      sideTotal += t1 - t0;
      jpegTotal += t2 - t1;
      commandBytes = printer.bytes;
      state.SetIterationTime(t1 - t0);
    }
  }
  SetPrinterIO(nullptr);
  const double n = static_cast<double>(state.iterations());
  state.counters["side_ms"] = 1000.0 * sideTotal / n;
  state.counters["libjpeg_ms"] = 1000.0 * jpegTotal / n;
  state.counters["ratio"] = sideTotal / jpegTotal;
  state.counters["pts_bytes"] = static_cast<double>(commandBytes);
  state.counters["panels"] = 1 + (hasBlack ? 1 : 0) + (hasOverlay ? 1 : 0);
}
BENCHMARK(BM_PrintOneSidedCard)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
