// Carrying out a worker's printer requests, and reading its log.
#include "app/worker_relay.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/worker_link.h"

namespace {

// The most one read or drain takes from the printer at once.
const uint32_t kMaxRead = 64 * 1024;
// A log line longer than this is passed on in pieces.
const size_t kMaxLogLine = 4096;

// Carries out one request; false when the link is to be dropped.
bool serveRequest(int link, const LinkFrame& request, PrinterIO& printer,
                  const RelayHandlers& handlers) {
  switch (request.type) {
    case kLinkWrite: {
      const size_t written = request.payload.empty()
                                 ? 0
                                 : printer.Write(request.payload.data(), request.payload.size());
      std::vector<uint8_t> answer;
      PutU32(answer, uint32_t(written));
      return SendFrame(link, kLinkWritten, answer.data(), answer.size());
    }
    case kLinkFlush:
      printer.Flush();
      return true;
    case kLinkRead: {
      const uint32_t count = std::min(GetU32(request.payload, 0), kMaxRead);
      const double timeout = GetU32(request.payload, 4) / 1000.0;
      std::vector<uint8_t> bytes(count);
      const ssize_t got = count > 0 ? printer.ReadBack(bytes.data(), count, timeout) : 0;
      if (got < 0) return SendFrame(link, kLinkFailed);
      return SendFrame(link, kLinkData, bytes.data(), size_t(got));
    }
    case kLinkDrain: {
      const uint32_t count = std::min(GetU32(request.payload, 0), kMaxRead);
      std::vector<uint8_t> bytes(count);
      const size_t got = count > 0 ? printer.Drain(bytes.data(), count) : 0;
      return SendFrame(link, kLinkData, bytes.data(), got);
    }
    case kLinkReport:
      if (handlers.report)
        handlers.report(std::string(request.payload.begin(), request.payload.end()));
      return true;
    default:
      return false;
  }
}

// Hands on the complete lines gathered in pending (all of it at the end).
void passLines(std::string& pending, bool atEnd, const RelayHandlers& handlers) {
  size_t at = 0;
  for (;;) {
    size_t end = pending.find('\n', at);
    if (end == std::string::npos) {
      if (!atEnd && pending.size() - at <= kMaxLogLine) break;
      end = pending.size();
      if (end == at) break;
    }
    std::string line = pending.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (handlers.line) handlers.line(line);
    at = std::min(end + 1, pending.size());
  }
  pending.erase(0, at);
}

}  // namespace

void ServeWorker(int link, int log, PrinterIO& printer, const RelayHandlers& handlers) {
  bool linkOpen = link >= 0, logOpen = log >= 0;
  std::string pending;
  while (linkOpen || logOpen) {
    pollfd fds[2] = {{linkOpen ? link : -1, POLLIN, 0}, {logOpen ? log : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (logOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char chunk[4096];
      const ssize_t n = read(log, chunk, sizeof(chunk));
      if (n > 0)
        pending.append(chunk, size_t(n));
      else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        logOpen = false;
      passLines(pending, !logOpen, handlers);
    }
    if (linkOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      LinkFrame request;
      if (ReadFrame(link, request, 0) != 1 || !serveRequest(link, request, printer, handlers)) {
        // The worker's next request finds the link closed at once.
        shutdown(link, SHUT_RDWR);
        linkOpen = false;
      }
    }
  }
  passLines(pending, true, handlers);
}
