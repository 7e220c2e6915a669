// Frames over the link between the server and a card worker.
#include "app/worker_link.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// Waits until fd can be read, at most timeoutMs (-1: no limit).
bool readable(int fd, int timeoutMs) {
  pollfd p = {fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&p, 1, timeoutMs);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // the read that follows reports the failure
  }
}

// Reads exactly count bytes; 1 done, 0 nothing came within timeoutMs before
// the first byte, -1 closed or failed (or stopped coming midway).
int readExactly(int fd, uint8_t* into, size_t count, int timeoutMs) {
  size_t got = 0;
  while (got < count) {
    if (!readable(fd, timeoutMs)) return got == 0 ? 0 : -1;
    const ssize_t n = read(fd, into + got, count - got);
    if (n == 0) return -1;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return -1;
    }
    got += size_t(n);
  }
  return 1;
}

}  // namespace

bool WriteFully(int fd, const void* bytes, size_t count) {
  const uint8_t* at = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t n = write(fd, at, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 1000);
        continue;
      }
      return false;
    }
    at += n;
    count -= size_t(n);
  }
  return true;
}

bool SendFrame(int fd, uint8_t type, const void* payload, size_t length) {
  if (length > kLinkMaxPayload) return false;
  uint8_t head[5] = {type, uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                     uint8_t(length >> 24)};
  return WriteFully(fd, head, sizeof(head)) && (length == 0 || WriteFully(fd, payload, length));
}

int ReadFrame(int fd, LinkFrame& frame, int timeoutMs) {
  uint8_t head[5];
  const int begun = readExactly(fd, head, 1, timeoutMs);
  if (begun <= 0) return begun;
  // Once a frame has begun, the rest follows at once; a peer that stops
  // midway for this long has failed.
  const int rest = 30000;
  if (readExactly(fd, head + 1, 4, rest) != 1) return -1;
  const uint32_t length = uint32_t(head[1]) | uint32_t(head[2]) << 8 | uint32_t(head[3]) << 16 |
                          uint32_t(head[4]) << 24;
  if (length > kLinkMaxPayload) return -1;
  frame.type = head[0];
  frame.payload.resize(length);
  if (length > 0 && readExactly(fd, frame.payload.data(), length, rest) != 1) return -1;
  return 1;
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
  if (in.size() < at + 4) return 0;
  return uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 |
         uint32_t(in[at + 3]) << 24;
}

std::string ReportValue(const std::string& report, const std::string& name) {
  const std::string key = name + "=";
  size_t at = 0;
  while (at < report.size()) {
    size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    if (report.compare(at, key.size(), key) == 0)
      return report.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return "";
}
