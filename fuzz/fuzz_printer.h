// The printer the fuzz targets talk to: every write is kept and checked for
// whole command frames, pauses cost nothing, and each back-channel read
// takes the next answer from a queue (an empty queue is a silent printer).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "device/PrinterIO.h"

class FuzzPrinter : public PrinterIO {
 public:
  using Bytes = std::vector<uint8_t>;

  FuzzPrinter() { SetPrinterIO(this); }
  ~FuzzPrinter() override { SetPrinterIO(nullptr); }

  // Starts a new run: nothing written, no answers queued.
  void Reset() {
    written.clear();
    unread.clear();
    answers.clear();
    defaultAnswer.clear();
  }

  size_t Write(const void* bytes, size_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    written.insert(written.end(), p, p + count);
    return count;
  }
  void Flush() override {}
  void Pause(unsigned int) override {}
  ssize_t ReadBack(void* buffer, size_t count, double) override {
    if (unread.empty()) {
      if (!answers.empty()) {
        unread = answers.front();
        answers.pop_front();
      } else {
        unread = defaultAnswer;
      }
    }
    return ssize_t(take(buffer, count));
  }
  // What a read left of an answer waits unread until the next read or drain.
  size_t Drain(void* buffer, size_t count) override { return take(buffer, count); }

  // Aborts (a finding for the fuzzer) unless the printer stream is a
  // sequence of whole frames: ESC, four code bytes, big-endian N, N bytes,
  // CR. A command cut short or run together with the next would be one.
  void RequireWholeFrames() const {
    size_t at = 0;
    while (at < written.size()) {
      if (written.size() - at < 10 || written[at] != 0x1B) Fail("frame start", at);
      const uint64_t n = (uint64_t(written[at + 5]) << 24) | (uint64_t(written[at + 6]) << 16) |
                         (uint64_t(written[at + 7]) << 8) | uint64_t(written[at + 8]);
      if (written.size() - at - 9 < n + 1) Fail("frame length", at);
      if (written[at + 9 + n] != 0x0D) Fail("frame end", at);
      at += 9 + n + 1;
    }
  }

  // A well-formed reply with the given status and payload.
  static Bytes Reply(uint8_t statusClass, uint8_t statusCode, const Bytes& payload = {}) {
    Bytes r = {0x1B, 'R', 'P', 'L', 'Y', statusClass, statusCode};
    const uint32_t n = uint32_t(payload.size());
    r.push_back(uint8_t(n >> 24));
    r.push_back(uint8_t(n >> 16));
    r.push_back(uint8_t(n >> 8));
    r.push_back(uint8_t(n));
    r.insert(r.end(), payload.begin(), payload.end());
    r.push_back(0x0D);
    return r;
  }

  Bytes written;
  std::deque<Bytes> answers;
  Bytes defaultAnswer;
  Bytes unread;

 private:
  // Moves at most count unread bytes into buffer.
  size_t take(void* buffer, size_t count) {
    const size_t n = unread.size() < count ? unread.size() : count;
    if (n > 0) memcpy(buffer, unread.data(), n);
    unread.erase(unread.begin(), unread.begin() + long(n));
    return n;
  }

  [[noreturn]] void Fail(const char* what, size_t at) const {
    fprintf(stdout, "broken printer stream (%s) at byte %zu of %zu\n", what, at, written.size());
    abort();
  }
};

// The filter and the device log a great deal; the fuzz targets send that to
// /dev/null (sanitizer and fuzzer reports keep the real standard error)
// unless VKR_FUZZ_LOG is set.
inline void QuietLogs() {
  if (getenv("VKR_FUZZ_LOG") != nullptr) return;
  FILE* sink = fopen("/dev/null", "w");
  if (sink != nullptr) stderr = sink;
}
