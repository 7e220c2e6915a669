// The worker's printer exchange over the link to the server.
#include "app/link_printer_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/worker_link.h"

namespace {

// The server answers a read within its time-out; this much more is given
// to a busy server before the link counts as gone.
const int kReadSlackMs = 15000;

[[noreturn]] void linkLost() {
  fprintf(stderr, "ERROR: Unable to write print data: %s\n", strerror(errno ? errno : EPIPE));
  exit(1);
}

// The worker's log is kept in its buffer between printer exchanges and goes
// to the server before each: the server sees every line before what the
// line tells of, and takes a whole exchange's lines at once, not a line at a
// time.
void logSoFar() { fflush(stderr); }

}  // namespace

size_t LinkPrinterIO::Write(const void* bytes, size_t count) {
  logSoFar();
  LinkFrame answer;
  if (!SendFrame(link_, kLinkWrite, bytes, count) || ReadFrame(link_, answer, -1) != 1 ||
      answer.type != kLinkWritten)
    linkLost();
  return GetU32(answer.payload, 0);
}

void LinkPrinterIO::Flush() {
  logSoFar();
  if (!SendFrame(link_, kLinkFlush)) linkLost();
}

void LinkPrinterIO::Pause(unsigned int usec) {
  logSoFar();
  usleep(usec);
}

ssize_t LinkPrinterIO::ReadBack(void* buffer, size_t count, double timeout) {
  logSoFar();
  std::vector<uint8_t> request;
  const double ms = timeout > 0 ? timeout * 1000.0 : 0.0;
  PutU32(request, uint32_t(count));
  PutU32(request, uint32_t(ms > 3.6e6 ? 3.6e6 : ms));
  LinkFrame answer;
  if (!SendFrame(link_, kLinkRead, request.data(), request.size()) ||
      ReadFrame(link_, answer, int(ms) + kReadSlackMs) != 1 || answer.type != kLinkData)
    return -1;
  const size_t got = answer.payload.size() < count ? answer.payload.size() : count;
  if (got > 0) memcpy(buffer, answer.payload.data(), got);
  return ssize_t(got);
}

size_t LinkPrinterIO::Drain(void* buffer, size_t count) {
  logSoFar();
  std::vector<uint8_t> request;
  PutU32(request, uint32_t(count));
  LinkFrame answer;
  if (!SendFrame(link_, kLinkDrain, request.data(), request.size()) ||
      ReadFrame(link_, answer, kReadSlackMs) != 1 || answer.type != kLinkData)
    return 0;
  const size_t got = answer.payload.size() < count ? answer.payload.size() : count;
  if (got > 0) memcpy(buffer, answer.payload.data(), got);
  return got;
}

void LinkPrinterIO::Report(const char* text) {
  logSoFar();
  SendFrame(link_, kLinkReport, text, strlen(text));
}
