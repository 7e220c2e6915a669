// The whole filter as a print server runs it: the real rastertovkr process
// takes a job of photo-like cards with black text (black extraction on, the
// full overlay) as CUPS raster on standard input and prints it to a printer
// that answers every command at once (the simulator's core, in this
// process, answering on the filter's descriptor 3). The filter's pauses are
// removed by the tests' preload. Reported per job size:
//
//   cpu_ms_card   the filter process's CPU time (user + system, from wait4)
//                 per card, start-up, preflight and completion wait included
//                 (sys_ms_card: the system part of it);
//   jpeg_ms_card  libjpeg alone encoding the very panels the filter sent,
//                 per card, timed in the same run: every panel of every
//                 "$PTS" command is decoded (not timed) and its decoded
//                 pixels re-encoded with the filter's settings (4:2:0,
//                 colour and black at quality 100, overlay at 90, 300 dpi);
//   ratio         cpu_ms_card / jpeg_ms_card;
//   peak_rss_MB   the filter's peak resident memory (ru_maxrss).
//
// Run: build/bench/bench_filter_job (see the README's benchmark section).
// VKR_BENCH_WRAPPER, when set, is a command (words split at blanks) that the
// filter runs under, e.g. "valgrind --tool=callgrind" for a profile.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/raster.h>
#include <jpeglib.h>

#include "bench/bench_support.h"
#include "sim/rasterwrite/samplecard.h"
#include "sim/sim_core.h"

extern char** environ;

namespace {

const int kDpi = 300;

// --- the job ---------------------------------------------------------------

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

uint8_t clampByte(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v); }

// Card `number` as a person sees it (1013 x 643): a photograph-like
// background (soft colour waves with grain) under the sample card's layout,
// a portrait with grain in the photo field, and black text and barcode that
// differ from card to card.
rasterwrite::Picture PhotoCard(int number) {
  rasterwrite::Picture card = rasterwrite::SampleCard();
  uint32_t seed = 7919u * static_cast<uint32_t>(number + 1);
  const double phase = 0.37 * number;
  for (int y = 0; y < card.height; ++y)
    for (int x = 0; x < card.width; ++x) {
      uint8_t* px = card.At(x, y);
      if (px[0] == 0 && px[1] == 0 && px[2] == 0) continue;  // black text stays black
      const double wave = 40 * sin(x / 97.0 + phase) * cos(y / 61.0 - phase) +
                          25 * sin((x + 2 * y) / 37.0 + 2 * phase);
      const int grain = static_cast<int>(nextRandom(seed) % 13) - 6;
      // The layout's colours show through the picture at two thirds.
      for (int c = 0; c < 3; ++c) {
        const double base = (px[c] * 2.0 + 128 + wave * (c == 1 ? 0.7 : c == 2 ? -0.8 : 1.0)) / 3.0;
        px[c] = clampByte(base + grain + 40);
      }
    }
  char line[32];
  snprintf(line, sizeof(line), "CARD %04d", number + 1);
  rasterwrite::DrawText(card, 600, 60, 6, line, 0, 0, 0);
  snprintf(line, sizeof(line), "%08u", static_cast<unsigned>(nextRandom(seed) % 100000000u));
  rasterwrite::DrawText(card, 360, 180, 3, line, 0, 0, 0);
  return card;
}

// Page size in points that the filter turns back into exactly px pixels.
float PointsFor(int px) {
  float pt = static_cast<float>(px * 72.0 / kDpi);
  for (int i = 0; i < 64; ++i) {
    const long whole = static_cast<long>(static_cast<double>(pt * static_cast<float>(kDpi)) / 72.0);
    if (whole == px) return pt;
    pt = std::nextafter(pt, whole < px ? 1e30f : -1e30f);
  }
  return pt;
}

// The raster of a one-sided RGB job of `cards` pages, written with libcups's
// raster writer into the open file fd.
bool WriteJob(int fd, int cards) {
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  if (!ras) return false;
  bool ok = true;
  for (int n = 0; n < cards && ok; ++n) {
    const rasterwrite::Picture page = rasterwrite::ToPortraitPage(PhotoCard(n));
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.HWResolution[0] = h.HWResolution[1] = kDpi;
    h.cupsWidth = static_cast<unsigned>(page.width);
    h.cupsHeight = static_cast<unsigned>(page.height);
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = 3 * h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.NumCopies = 1;
    h.cupsPageSize[0] = PointsFor(page.width);
    h.cupsPageSize[1] = PointsFor(page.height);
    h.cupsImagingBBox[2] = h.cupsPageSize[0];
    h.cupsImagingBBox[3] = h.cupsPageSize[1];
    h.PageSize[0] = static_cast<unsigned>(lroundf(h.cupsPageSize[0]));
    h.PageSize[1] = static_cast<unsigned>(lroundf(h.cupsPageSize[1]));
    ok = cupsRasterWriteHeader2(ras, &h) &&
         cupsRasterWritePixels(ras, const_cast<uint8_t*>(page.rgb.data()),
                               static_cast<unsigned>(page.rgb.size())) == page.rgb.size();
  }
  cupsRasterClose(ras);
  return ok;
}

// A file holding the raster of a job, made once per job size.
std::string JobFile(int cards) {
  char path[] = "/tmp/vkrbenchjob.XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "";
  const bool ok = WriteJob(fd, cards);
  close(fd);
  if (!ok) {
    unlink(path);
    return "";
  }
  return path;
}

// --- one run of the filter -------------------------------------------------

struct JobRun {
  bool ok = false;
  std::string error;
  double cpuSeconds = 0;  // user + system of the filter process
  double systemSeconds = 0;
  long maxRssKb = 0;
  int exitStatus = -1;
  std::vector<vkrsim::Frame> frames;
};

// Runs the filter on the job file with the printer in this process.
JobRun RunJob(const std::string& job, const std::string& options) {
  JobRun run;
  int out[2], back[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(back, O_CLOEXEC) != 0) {
    run.error = "pipe";
    return run;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (strncmp(*e, "PPD=", 4) && strncmp(*e, "LD_PRELOAD=", 11) && strncmp(*e, "VKR_TEST_TMPDIR=", 16))
      env.push_back(*e);
  }
  env.push_back(std::string("PPD=") + VKR_TEST_DATA_DIR "/test.ppd");
  env.push_back(std::string("LD_PRELOAD=") + VKR_NOSLEEP_LIB);
  env.push_back("VKR_TEST_TMPDIR=/tmp");
  std::vector<std::string> args;
  const char* wrapper = getenv("VKR_BENCH_WRAPPER");
  for (const char* w = wrapper ? wrapper : ""; *w;) {
    const size_t n = strcspn(w, " ");
    if (n > 0) args.emplace_back(w, n);
    w += n + (w[n] == ' ');
  }
  const std::string program = args.empty() ? VKR_FILTER_BIN : args[0];
  for (const char* a : {VKR_FILTER_BIN, "1", "bench", "job", "1"}) args.emplace_back(a);
  args.push_back(options);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(job.c_str(), O_RDONLY);
    const int null = open("/dev/null", O_WRONLY);
    if (in < 0 || null < 0) _exit(127);
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    dup2(back[0], 3);
    // A back channel as cupsd hands it over: non-blocking.
    fcntl(3, F_SETFL, fcntl(3, F_GETFL) | O_NONBLOCK);
    if (program.find('/') == std::string::npos)
      execvpe(program.c_str(), argv.data(), envp.data());
    else
      execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(back[0]);
  if (pid < 0) {
    close(out[0]);
    close(back[1]);
    run.error = "fork";
    return run;
  }

  const int reply = back[1];
  vkrsim::Simulator printer([reply](const uint8_t* bytes, size_t count) {
    while (count > 0) {
      const ssize_t n = write(reply, bytes, count);
      if (n <= 0) return;
      bytes += n;
      count -= static_cast<size_t>(n);
    }
  });
  std::vector<uint8_t> chunk(1 << 16);
  for (;;) {
    const ssize_t n = read(out[0], chunk.data(), chunk.size());
    if (n <= 0) break;
    printer.Feed(chunk.data(), static_cast<size_t>(n));
  }
  printer.Finish();
  close(out[0]);
  close(back[1]);

  int status = 0;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    run.error = "wait4";
    return run;
  }
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  run.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) + 1e-6 * static_cast<double>(usage.ru_stime.tv_usec);
  run.maxRssKb = usage.ru_maxrss;
  run.frames = printer.frames();
  run.ok = run.exitStatus == 0;
  if (!run.ok) run.error = "filter exit status " + std::to_string(run.exitStatus);
  return run;
}

// --- the yardstick: libjpeg on the panels that were sent -------------------

// One panel of a "$PTS" command: its JPEG bytes and the quality it was sent at.
struct SentPanel {
  std::vector<uint8_t> jpeg;
  int quality = 100;
};

// The panels of every "$PTS" command, in wire order.
std::vector<SentPanel> PanelsSent(const std::vector<vkrsim::Frame>& frames, int* commands) {
  std::vector<SentPanel> panels;
  *commands = 0;
  for (const vkrsim::Frame& f : frames) {
    if (f.code != "$PTS" || !f.complete || f.params.size() < 500) continue;
    ++*commands;
    const uint8_t* p = f.params.data();  // the block area starts here
    size_t k = 0, data = 500;
    while (k + 1 < 500 && p[k] == 0x1B) {
      const uint8_t code = p[k + 1];
      const size_t size = code == 'P' || code == 'C' ? 3 : code == 'R' ? 7 : code == 'F' ? 5
                          : code == 'O' ? 8 : 13;
      if ((code == 'T' || code == 'B') && k + 14 <= 500) {
        const uint8_t* s = p + k + 10;
        const size_t bytes = (size_t(s[0]) << 24) | (size_t(s[1]) << 16) | (size_t(s[2]) << 8) | s[3];
        if (data + bytes > f.params.size()) break;
        SentPanel panel;
        panel.jpeg.assign(p + data, p + data + bytes);
        panel.quality = (p[k + 2] & 0x7F) == 0x10 ? 90 : 100;  // overlay at 90
        panels.push_back(std::move(panel));
        data += bytes;
      }
      k += 1 + size;
    }
  }
  return panels;
}

// Decoded pixels of a panel, top row first, three bytes a pixel.
struct Pixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void onJpegError(j_common_ptr info) { longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

bool Decode(const std::vector<uint8_t>& jpeg, Pixels& out) {
  jpeg_decompress_struct info;
  JpegError err;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = onJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.rgb.data() + static_cast<size_t>(info.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// Plain libjpeg with the filter's settings; returns the JPEG size.
unsigned long Encode(const Pixels& pixels, int quality) {
  return vkrbench::LibjpegEncodeRows(pixels.rgb.data(), ptrdiff_t(pixels.width) * 3, pixels.width,
                                     pixels.height, JCS_RGB, kDpi, kDpi, quality);
}

// --- the benchmark ---------------------------------------------------------

// The job's options: black text to the black panel; the overlay coats the
// whole card by default.
const char* const kOptions = "CardBlackExtraction=BlackDots";

void BM_FilterJob(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  const std::string job = JobFile(cards);
  if (job.empty()) {
    state.SkipWithError("cannot write the raster job");
    return;
  }
  double cpu = 0, system = 0, jpeg = 0;
  long rss = 0;
  int commands = 0, panels = 0;
  for (auto _ : state) {
    const JobRun run = RunJob(job, kOptions);
    if (!run.ok) {
      state.SkipWithError(run.error.c_str());
      break;
    }
    const std::vector<SentPanel> sent = PanelsSent(run.frames, &commands);
    if (commands != cards) {
      state.SkipWithError("the filter did not send one command per card");
      break;
    }
    std::vector<Pixels> decoded(sent.size());
    for (size_t i = 0; i < sent.size(); ++i) Decode(sent[i].jpeg, decoded[i]);
    const double t0 = vkrbench::Now();
    for (size_t i = 0; i < sent.size(); ++i) benchmark::DoNotOptimize(Encode(decoded[i], sent[i].quality));
    const double libjpeg = vkrbench::Now() - t0;
    cpu += run.cpuSeconds;
    system += run.systemSeconds;
    jpeg += libjpeg;
    rss = std::max(rss, run.maxRssKb);
    panels = static_cast<int>(sent.size());
    state.SetIterationTime(run.cpuSeconds / cards);
  }
  unlink(job.c_str());
  const double n = static_cast<double>(state.iterations()) * cards;
  state.counters["cpu_ms_card"] = 1000.0 * cpu / n;
  state.counters["sys_ms_card"] = 1000.0 * system / n;
  state.counters["jpeg_ms_card"] = 1000.0 * jpeg / n;
  state.counters["ratio"] = jpeg > 0 ? cpu / jpeg : 0;
  state.counters["peak_rss_MB"] = static_cast<double>(rss) / 1024.0;
  state.counters["panels_card"] = static_cast<double>(panels) / cards;
}
BENCHMARK(BM_FilterJob)
    ->Arg(2)
    ->Arg(40)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
