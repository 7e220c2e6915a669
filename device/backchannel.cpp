// One answer per command: the drop of unread answers before a command, the
// read of an answer by its length field, and the answer's status.
#include "device/backchannel.h"

#include <algorithm>
#include <cstdio>
#include <time.h>

namespace {

const uint8_t kESC = 0x1B;
const uint8_t kACK = 0x06;
const uint8_t kNAK = 0x15;
const uint8_t kErrorClass = 0x80;
// ESC, four bytes, status class and code, four length bytes.
const size_t kAnswerHeader = 11;
// One drop takes at most this many reads of this many bytes.
const int kDropReads = 16;
const size_t kDropChunk = 4096;
// Bytes of a dropped answer shown in the log.
const size_t kDropShown = 16;

// Seconds on the monotonic clock.
double secondsNow() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// How many bytes the answer begun in the first got bytes has in all, as far
// as limit: its header first, then the length field's payload (none when
// the field is 0 or negative) and the CR.
size_t answerLength(const uint8_t* answer, size_t got, size_t limit) {
  if (got == 0 || answer[0] != kESC) return got;
  if (got < kAnswerHeader) return std::min(kAnswerHeader, limit);
  const int32_t payload = int32_t((uint32_t(answer[7]) << 24) | (uint32_t(answer[8]) << 16) |
                                  (uint32_t(answer[9]) << 8) | uint32_t(answer[10]));
  const uint64_t data = payload > 0 ? uint64_t(payload) : 0;
  return size_t(std::min<uint64_t>(uint64_t(kAnswerHeader) + data + 1, limit));
}

}  // namespace

size_t DropUnreadAnswers(PrinterIO& io) {
  uint8_t chunk[kDropChunk];
  uint8_t shown[kDropShown];
  size_t shownCount = 0;
  size_t dropped = 0;
  for (int i = 0; i < kDropReads; ++i) {
    const size_t got = std::min(io.Drain(chunk, sizeof(chunk)), sizeof(chunk));
    if (got == 0) break;
    const size_t copy = std::min(got, kDropShown - shownCount);
    std::copy(chunk, chunk + copy, shown + shownCount);
    shownCount += copy;
    dropped += got;
  }
  if (dropped == 0) return 0;
  fprintf(stderr, "DEBUG: Dropped %zu bytes the printer left unread:", dropped);
  for (size_t i = 0; i < shownCount; ++i) fprintf(stderr, " %02x", shown[i]);
  fprintf(stderr, "%s\n", dropped > shownCount ? " ..." : "");
  return dropped;
}

ssize_t ReadAnswer(PrinterIO& io, uint8_t* buffer, size_t firstLimit, size_t totalLimit,
                   double timeout) {
  totalLimit = std::max(totalLimit, firstLimit);
  const double deadline = secondsNow() + timeout;
  const ssize_t first = io.ReadBack(buffer, firstLimit, timeout);
  if (first <= 0) return first;
  size_t got = std::min(size_t(first), firstLimit);  // a reader that overstates its count
  for (;;) {
    const size_t wanted = answerLength(buffer, got, totalLimit);
    if (got >= wanted) break;
    const double left = deadline - secondsNow();
    if (left <= 0) break;
    const ssize_t more = io.ReadBack(buffer + got, wanted - got, left);
    if (more <= 0) break;
    got += std::min(size_t(more), wanted - got);
  }
  return ssize_t(got);
}

int AnswerStatus(const uint8_t* answer, size_t length) {
  if (answer == nullptr || length < 7 || answer[0] != kESC) return -1;
  const uint8_t statusClass = answer[5];
  const uint8_t statusCode = answer[6];
  if (statusCode == kNAK) return 9;
  if (statusCode == kACK) return 0;
  return statusClass == kErrorClass ? statusCode : 0;
}
