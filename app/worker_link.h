// The link between the server and a card worker process: the worker's
// printer exchange (write, flush, read back, drain) crosses it as requests
// that the server carries out on the printer's device, and the worker's
// reports come back over it. One frame: a type byte, the payload's length
// (4 bytes, little-endian) and the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a frame asks for or reports.
enum LinkFrameType : uint8_t {
  // Worker to server.
  kLinkWrite = 'W',   // bytes for the printer; answered by kLinkWritten
  kLinkFlush = 'F',   // push the written bytes out; no answer
  kLinkRead = 'R',    // u32 count, u32 time-out in ms; answered by kLinkData or kLinkFailed
  kLinkDrain = 'N',   // u32 count; answered by kLinkData
  kLinkReport = 'S',  // a report of the worker's: "name=value" lines
  // Server to worker.
  kLinkWritten = 'A',  // u32 bytes written
  kLinkData = 'D',     // the bytes read (none when nothing came)
  kLinkFailed = 'E',   // the printer's connection failed or was lost
};

// The largest payload a frame may carry: a card's print command with its
// panels stays far below it.
const uint32_t kLinkMaxPayload = 64u * 1024 * 1024;

struct LinkFrame {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
};

// Writes all count bytes to fd, waiting as needed; false when fd failed.
bool WriteFully(int fd, const void* bytes, size_t count);

// Sends one frame; false when the link failed.
bool SendFrame(int fd, uint8_t type, const void* payload = nullptr, size_t length = 0);

// Reads one frame, waiting at most timeoutMs for it to begin (-1: no limit);
// the rest of a frame that has begun must follow within 30 seconds. Returns 1 for a frame, 0 when none
// began in time, -1 when the link closed, failed or sent a frame too large.
int ReadFrame(int fd, LinkFrame& frame, int timeoutMs);

// Little-endian 32-bit fields of a payload.
void PutU32(std::vector<uint8_t>& out, uint32_t value);
uint32_t GetU32(const std::vector<uint8_t>& in, size_t at);

// The value of name in a report's "name=value" lines (empty when absent).
std::string ReportValue(const std::string& report, const std::string& name);
