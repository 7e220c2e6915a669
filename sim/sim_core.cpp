// The simulator's frame splitter, reply encoder, handler table and log.
#include "sim/sim_core.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <unistd.h>

namespace vkrsim {

namespace {

const uint8_t kESC = 0x1B;
const uint8_t kCR = 0x0D;
// The log shows at most this many bytes of a frame or reply.
const size_t kLogBytes = 256;

std::map<std::string, Handler>& handlerTable() {
  static std::map<std::string, Handler> table;
  return table;
}

uint32_t readBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void putBigEndian(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

// Hex of at most kLogBytes bytes, with the count when cut short.
std::string hexOf(const uint8_t* bytes, size_t count) {
  if (count == 0) return "(none)";
  std::string text;
  char cell[4];
  for (size_t i = 0; i < count && i < kLogBytes; ++i) {
    snprintf(cell, sizeof(cell), i ? " %02x" : "%02x", bytes[i]);
    text += cell;
  }
  if (count > kLogBytes) text += " ... (" + std::to_string(count) + " bytes)";
  return text;
}

// Outcome of looking for a frame at the start of data.
enum Scan { kNeedMore, kStray, kFound };

// Looks at data[pos..end): a frame there (its size in *used), stray bytes up
// to the next ESC (their count in *used), or too few bytes for a frame yet.
Scan scanFrame(const uint8_t* data, size_t size, Frame* frame, size_t* used) {
  if (size == 0) return kNeedMore;
  if (data[0] != kESC) {
    const void* esc = memchr(data, kESC, size);
    *used = esc ? size_t(static_cast<const uint8_t*>(esc) - data) : size;
    return kStray;
  }
  if (size < 9) return kNeedMore;
  const uint32_t n = readBigEndian(data + 5);
  if (size - 9 < uint64_t(n) + 1) return kNeedMore;
  frame->code.assign(reinterpret_cast<const char*>(data + 1), 4);
  frame->declared = n;
  frame->params.assign(data + 9, data + 9 + n);
  frame->complete = true;
  frame->closedByCr = data[9 + n] == kCR;
  *used = 10 + size_t(n);
  return kFound;
}

// The frame that a stream's incomplete tail holds.
Frame partialFrame(const uint8_t* data, size_t size) {
  Frame f;
  f.code.assign(reinterpret_cast<const char*>(data + 1), std::min<size_t>(size - 1, 4));
  if (size >= 9) {
    f.declared = readBigEndian(data + 5);
    f.params.assign(data + 9, data + size);
  }
  return f;
}

}  // namespace

Reply Reply::Ack(Bytes payload) {
  Reply r;
  r.payload = std::move(payload);
  return r;
}

Reply Reply::Nak() {
  Reply r;
  r.statusCode = 0x15;
  return r;
}

Reply Reply::Error(uint8_t code) {
  Reply r;
  r.statusClass = 0x80;
  r.statusCode = code;
  return r;
}

Reply Reply::Silent() {
  Reply r;
  r.kind = kSilent;
  return r;
}

Reply Reply::Raw(Bytes bytes) {
  Reply r;
  r.kind = kRaw;
  r.raw = std::move(bytes);
  return r;
}

Bytes EncodeReply(const Reply& reply, const std::string& code) {
  if (reply.kind == Reply::kSilent) return {};
  if (reply.kind == Reply::kRaw) return reply.raw;
  Bytes out;
  if (!reply.noEsc) out.push_back(kESC);
  std::string echo = reply.echo.empty() ? code : reply.echo;
  echo.resize(4, ' ');
  out.insert(out.end(), echo.begin(), echo.end());
  out.push_back(reply.statusClass);
  out.push_back(reply.statusCode);
  putBigEndian(out, reply.lengthSet ? uint32_t(reply.length) : uint32_t(reply.payload.size()));
  out.insert(out.end(), reply.payload.begin(), reply.payload.end());
  if (!reply.noCr) out.push_back(kCR);
  return out;
}

bool RegisterHandler(const std::string& code, Handler handler) {
  handlerTable()[code] = std::move(handler);
  return true;
}

const Handler* FindHandler(const std::string& code) {
  auto it = handlerTable().find(code);
  return it == handlerTable().end() ? nullptr : &it->second;
}

Simulator::Simulator(ReplySink sink) : sink_(std::move(sink)) {}

void Simulator::Script(const std::string& code, const Reply& reply) {
  scripts_[code].push_back(reply);
}

void Simulator::Note(const char* format, ...) {
  if (log_ == nullptr) return;
  va_list args;
  va_start(args, format);
  fputs("   ", log_);
  vfprintf(log_, format, args);
  fputc('\n', log_);
  va_end(args);
  fflush(log_);
}

void Simulator::Feed(const uint8_t* bytes, size_t count) {
  if (capture_ != nullptr && count > 0) {
    fwrite(bytes, 1, count, capture_);
    fflush(capture_);
  }
  pending_.insert(pending_.end(), bytes, bytes + count);
  size_t pos = 0;
  for (;;) {
    if (skipping_) {
      // A frame over the limit: its bytes pass without being kept.
      const size_t take = size_t(std::min<uint64_t>(skipLeft_, pending_.size() - pos));
      if (take > 0 && take == skipLeft_) skipped_.closedByCr = pending_[pos + take - 1] == kCR;
      pos += take;
      skipLeft_ -= take;
      if (skipLeft_ > 0) break;
      skipping_ = false;
      skipped_.complete = true;
      answer(skipped_);
      continue;
    }
    if (frameLimit_ > 0 && pending_.size() - pos >= 9 && pending_[pos] == kESC &&
        readBigEndian(pending_.data() + pos + 5) > frameLimit_) {
      logStray(stray_);
      stray_.clear();
      skipped_ = Frame();
      skipped_.code.assign(reinterpret_cast<const char*>(pending_.data() + pos + 1), 4);
      skipped_.declared = readBigEndian(pending_.data() + pos + 5);
      skipped_.overLimit = true;
      skipping_ = true;
      skipLeft_ = uint64_t(skipped_.declared) + 1;
      pos += 9;
      continue;
    }
    Frame frame;
    size_t used = 0;
    Scan scan = scanFrame(pending_.data() + pos, pending_.size() - pos, &frame, &used);
    if (scan == kNeedMore) break;
    if (scan == kStray) {
      stray_.insert(stray_.end(), pending_.begin() + long(pos), pending_.begin() + long(pos + used));
    } else {
      logStray(stray_);
      stray_.clear();
      answer(frame);
    }
    pos += used;
  }
  pending_.erase(pending_.begin(), pending_.begin() + long(pos));
}

void Simulator::Run(int fd) {
  std::vector<uint8_t> buffer(65536);
  for (;;) {
    ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    Feed(buffer.data(), size_t(got));
  }
  Finish();
}

void Simulator::Finish() {
  logStray(stray_);
  stray_.clear();
  if (skipping_) {
    skipping_ = false;
    skipped_.number = int(frames_.size()) + 1;
    frames_.push_back(skipped_);
    if (log_ != nullptr) {
      fprintf(log_, "#%d %s N=%u incomplete: stream ended %llu bytes before its end\n",
              skipped_.number, skipped_.code.c_str(), skipped_.declared,
              static_cast<unsigned long long>(skipLeft_));
      fflush(log_);
    }
  }
  if (!pending_.empty()) {
    Frame f = partialFrame(pending_.data(), pending_.size());
    f.number = int(frames_.size()) + 1;
    frames_.push_back(f);
    if (log_ != nullptr) {
      fprintf(log_, "#%d %s N=%u incomplete: stream ended after %zu bytes: %s\n", f.number,
              f.code.c_str(), f.declared, pending_.size(),
              hexOf(pending_.data(), pending_.size()).c_str());
      fflush(log_);
    }
    pending_.clear();
  }
}

void Simulator::answer(Frame& frame) {
  frame.number = int(frames_.size()) + 1;
  frame.callOfCode = ++calls_[frame.code];
  frames_.push_back(frame);
  logFrame(frame);

  Reply reply = Reply::Ack();
  if (frame.overLimit) {
    Note("%s refused: %u parameter bytes, more than the printer takes (%zu)", frame.code.c_str(),
         frame.declared, frameLimit_);
    reply = Reply::Nak();
  } else {
    if (const Handler* handler = FindHandler(frame.code)) reply = (*handler)(frame, *this);
    auto script = scripts_.find(frame.code);
    if (script != scripts_.end() && !script->second.empty()) {
      reply = script->second.front();
      if (script->second.size() > 1) script->second.pop_front();
    }
  }
  if (!keepParams_) Bytes().swap(frames_.back().params);
  Bytes bytes = EncodeReply(reply, frame.code);
  if (log_ != nullptr) {
    if (reply.kind == Reply::kSilent)
      fprintf(log_, "   no reply (silent)\n");
    else
      fprintf(log_, "   reply (%zu bytes): %s\n", bytes.size(),
              hexOf(bytes.data(), bytes.size()).c_str());
    fflush(log_);
  }
  if (!bytes.empty() && sink_) sink_(bytes.data(), bytes.size());
}

void Simulator::logFrame(const Frame& frame) {
  if (log_ == nullptr) return;
  fprintf(log_, "#%d %s N=%u params: %s%s\n", frame.number, frame.code.c_str(), frame.declared,
          hexOf(frame.params.data(), frame.params.size()).c_str(),
          frame.closedByCr ? "" : "  [no CR after the parameters]");
  fflush(log_);
}

void Simulator::logStray(const Bytes& stray) {
  if (log_ == nullptr || stray.empty()) return;
  fprintf(log_, "stray bytes outside any frame (%zu): %s\n", stray.size(),
          hexOf(stray.data(), stray.size()).c_str());
  fflush(log_);
}

std::vector<Frame> SplitFrames(const Bytes& stream) {
  std::vector<Frame> frames;
  size_t pos = 0;
  while (pos < stream.size()) {
    Frame frame;
    size_t used = 0;
    Scan scan = scanFrame(stream.data() + pos, stream.size() - pos, &frame, &used);
    if (scan == kNeedMore) {
      Frame f = partialFrame(stream.data() + pos, stream.size() - pos);
      f.number = int(frames.size()) + 1;
      frames.push_back(f);
      break;
    }
    if (scan == kFound) {
      frame.number = int(frames.size()) + 1;
      int calls = 0;
      for (const Frame& f : frames) calls += f.code == frame.code;
      frame.callOfCode = calls + 1;
      frames.push_back(frame);
    }
    pos += used;
  }
  return frames;
}

}  // namespace vkrsim
