// The printer simulator's core: it splits the filter's command stream into
// frames (ESC, four-character code, big-endian parameter count N, N bytes,
// CR), answers each frame through the handler registered for its code or a
// scripted reply, and records every frame and answer in a readable log.
//
// The core knows nothing about how it is connected: bytes come in through
// Feed() (or Run() on a descriptor) and answers leave through the ReplySink
// given to the constructor (a pipe that the filter sees as its back channel
// on descriptor 3, or cupsBackChannelWrite when run as a CUPS backend).
//
// Adding commands: write a handler in its own file and register it
//   static vkrsim::Response handleFoo(const vkrsim::Frame& f, vkrsim::Simulator& sim) {...}
//   VKRSIM_HANDLER("!FOO", handleFoo);
// Scripted replies (--rule / --script, see sim_script.h) take precedence over
// handlers; a code without handler or script is answered with a plain ACK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vkrsim {

using Bytes = std::vector<uint8_t>;

// One command frame as it arrived.
struct Frame {
  std::string code;         // the four code characters
  uint32_t declared = 0;    // N from the length field
  Bytes params;             // the parameter bytes (fewer than N when the stream ended)
  bool complete = false;    // all N bytes and the byte after them arrived
  bool closedByCr = false;  // the byte after the parameters was CR
  int number = 0;           // 1 for the first frame of the stream, and so on
  int callOfCode = 0;       // 1 for the first frame with this code, and so on
  bool overLimit = false;   // longer than the frame limit: its parameters were not kept
};

// What the printer does about one frame.
struct Reply {
  enum Kind { kNormal, kSilent, kRaw } kind = kNormal;
  std::string echo;          // the code put in bytes 1-4 (the frame's code when empty)
  uint8_t statusClass = 0x00;
  uint8_t statusCode = 0x06;  // ACK
  Bytes payload;
  // Faults of a normal reply.
  bool noEsc = false;        // leave out the leading ESC
  bool noCr = false;         // leave out the closing CR
  bool lengthSet = false;    // write `length` in the length field instead of the payload size
  int32_t length = 0;
  Bytes raw;                 // kRaw: exactly these bytes are sent

  static Reply Ack(Bytes payload = {});
  static Reply Nak();
  static Reply Error(uint8_t code);
  static Reply Silent();
  static Reply Raw(Bytes bytes);
};

// The bytes a reply puts on the back channel (none for a silent one).
Bytes EncodeReply(const Reply& reply, const std::string& code);

// What a handler answers; most handlers give one reply.
using Response = Reply;

class Simulator;
using Handler = std::function<Response(const Frame&, Simulator&)>;

// Registers the handler of one command code (at program start-up).
bool RegisterHandler(const std::string& code, Handler handler);
// The registered handler of a code, or null.
const Handler* FindHandler(const std::string& code);

#define VKRSIM_CONCAT2(a, b) a##b
#define VKRSIM_CONCAT(a, b) VKRSIM_CONCAT2(a, b)
#define VKRSIM_HANDLER(code, fn) \
  static const bool VKRSIM_CONCAT(vkrsim_registered_, __LINE__) = ::vkrsim::RegisterHandler(code, fn)

// Where answers go.
using ReplySink = std::function<void(const uint8_t* bytes, size_t count)>;

class Simulator {
 public:
  explicit Simulator(ReplySink sink);

  // Scripts the next answers to a code: each call takes the next one, and
  // the last one stays for every further call.
  void Script(const std::string& code, const Reply& reply);
  // Keeps every byte received in this file as well (null: none).
  void SetCapture(FILE* capture) { capture_ = capture; }
  // Writes the readable record of frames and answers here (null: none).
  void SetLog(FILE* log) { log_ = log; }
  // A frame with more than limit parameter bytes is not held in memory: its
  // bytes pass on (into the capture) as they arrive, and once it has ended
  // it is refused with a NAK. 0: no limit.
  void SetFrameLimit(size_t limit) { frameLimit_ = limit; }
  // Whether frames() keeps each frame's parameters after its answer (true
  // by default); a long job is then not held in memory.
  void SetKeepParams(bool keep) { keepParams_ = keep; }

  // Takes the next bytes of the command stream; answers every frame that
  // is complete.
  void Feed(const uint8_t* bytes, size_t count);
  // Reads fd until end of stream, then Finish().
  void Run(int fd);
  // The stream has ended: records a frame left incomplete.
  void Finish();

  // Every frame seen so far, in order.
  const std::vector<Frame>& frames() const { return frames_; }
  // Named state for handlers (e.g. a job number or a counter).
  std::map<std::string, long> counters;
  // Named byte stores for handlers (e.g. the stripe encoder's tracks).
  std::map<std::string, Bytes> stores;
  // Writes one line to the log (handlers may note what they did).
  void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  void answer(Frame& frame);
  void logFrame(const Frame& frame);
  void logStray(const Bytes& stray);

  ReplySink sink_;
  FILE* capture_ = nullptr;
  FILE* log_ = nullptr;
  Bytes pending_;
  Bytes stray_;
  std::map<std::string, std::deque<Reply>> scripts_;
  std::map<std::string, int> calls_;
  std::vector<Frame> frames_;
  size_t frameLimit_ = 0;
  bool keepParams_ = true;
  // The frame over the limit now passing, and how many of its bytes
  // (parameters and the byte after them) are still to come.
  bool skipping_ = false;
  uint64_t skipLeft_ = 0;
  Frame skipped_;
};

// Splits a whole recorded command stream into frames (the harness uses it to
// read what a filter wrote). Stray bytes between frames are skipped.
std::vector<Frame> SplitFrames(const Bytes& stream);

}  // namespace vkrsim
