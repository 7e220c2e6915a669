// An in-memory printer for unit tests of anything that talks to the printer:
// constructed, it takes the place of the real one (SetPrinterIO) until it
// is destroyed. Every Write is appended to `written`; each ReadBack takes the
// next scripted answer (Answer, Silence: 0, ReadError: -1; nothing scripted
// is silent); what a read leaves of an answer stays unread in the back
// channel, where the next read or Drain finds it, as do bytes scripted with
// Unasked(). Pause only records the requested time, so no test ever sleeps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "device/PrinterIO.h"

class FakePrinter : public PrinterIO {
 public:
  using Bytes = std::vector<uint8_t>;

  FakePrinter() { SetPrinterIO(this); }
  ~FakePrinter() override { SetPrinterIO(nullptr); }
  FakePrinter(const FakePrinter&) = delete;
  FakePrinter& operator=(const FakePrinter&) = delete;

  void Answer(const Bytes& bytes) { reads_.push_back({bytes, 0, false}); }  // the next read's bytes
  void Silence() { reads_.push_back({{}, 0, true}); }      // the next read gets nothing in time
  void ReadError() { reads_.push_back({{}, -1, true}); }   // the next read fails
  // Bytes the printer has sent unasked: they wait unread in the back channel.
  void Unasked(const Bytes& bytes) { unread_.insert(unread_.end(), bytes.begin(), bytes.end()); }

  size_t Write(const void* bytes, size_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    written.insert(written.end(), p, p + count);
    writes.push_back(Bytes(p, p + count));
    return count;
  }
  void Flush() override { ++flushes, flushedAt.push_back(written.size()); }
  void Pause(unsigned int usec) override { pauses.push_back(usec); }
  ssize_t ReadBack(void* buffer, size_t count, double timeout) override {
    readLimits.push_back(count);
    timeouts.push_back(timeout);
    if (unread_.empty()) {
      if (reads_.empty()) return 0;
      Read next = reads_.front();
      reads_.pop_front();
      if (next.fixed) return next.result;
      unread_ = next.bytes;
    }
    return ssize_t(take(buffer, count));
  }
  size_t Drain(void* buffer, size_t count) override {
    const size_t n = take(buffer, count);
    drained.insert(drained.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + n);
    return n;
  }

  // Reads still scripted but not taken.
  size_t PendingReads() const { return reads_.size(); }

  // A command frame: ESC, code, big-endian parameter count, parameters, CR.
  static Bytes Frame(const std::string& code, const Bytes& params) {
    Bytes f{0x1B};
    for (char c : code) f.push_back(uint8_t(c));
    return withLength(f, params);
  }
  // A well-formed reply: ESC, echoed code, status class and code, payload
  // length, payload, CR.
  static Bytes Reply(uint8_t statusClass, uint8_t statusCode, const Bytes& payload = {},
                     const std::string& code = "RPLY") {
    Bytes r{0x1B};
    for (size_t i = 0; i < 4; ++i) r.push_back(uint8_t(i < code.size() ? code[i] : ' '));
    r.insert(r.end(), {statusClass, statusCode});
    return withLength(r, payload);
  }
  static Bytes Ack(const Bytes& payload = {}) { return Reply(0x00, 0x06, payload); }

  Bytes written;              // every byte written, in order
  std::vector<Bytes> writes;  // each Write call's bytes
  int flushes = 0;
  std::vector<size_t> flushedAt;  // bytes written when each flush came
  std::vector<unsigned int> pauses;
  std::vector<size_t> readLimits;
  std::vector<double> timeouts;
  Bytes drained;  // every byte taken by Drain

 private:
  // head, then the big-endian length of body, body and CR.
  static Bytes withLength(Bytes head, const Bytes& body) {
    const uint32_t n = uint32_t(body.size());
    head.insert(head.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    head.insert(head.end(), body.begin(), body.end());
    head.push_back(0x0D);
    return head;
  }
  // Moves at most count unread bytes into buffer.
  size_t take(void* buffer, size_t count) {
    const size_t n = std::min(count, unread_.size());
    if (n > 0) memcpy(buffer, unread_.data(), n);
    unread_.erase(unread_.begin(), unread_.begin() + long(n));
    return n;
  }

  struct Read {
    Bytes bytes;
    ssize_t result;
    bool fixed;  // result is returned as is, bytes ignored
  };
  std::deque<Read> reads_;
  Bytes unread_;
};
