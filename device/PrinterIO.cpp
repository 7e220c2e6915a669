// The real printer exchange and the switch that tests use to replace it.
#include "device/PrinterIO.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cups/cups.h>
#include <cups/sidechannel.h>

namespace {

// The printer stream has gone away (the backend ended, standard output was
// closed): nothing more can reach the printer, so the job ends here rather
// than going on to talk to nobody.
[[noreturn]] void printerStreamLost() {
  const int error = errno;
  fprintf(stderr, "ERROR: Unable to write print data: %s\n", strerror(error));
  exit(1);
}

double secondsNow() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

size_t StdPrinterIO::Write(const void* bytes, size_t count) {
  const size_t written = fwrite(bytes, 1, count, stdout);
  if (written < count) printerStreamLost();
  return written;
}

void StdPrinterIO::Flush() {
  if (fflush(stdout) != 0) printerStreamLost();
}

void StdPrinterIO::Pause(unsigned int usec) { usleep(usec); }

namespace {

// Whether the back channel (descriptor 3) is open; makes it non-blocking.
// cupsBackChannelRead waits on descriptor 3 and retries for as long as the
// wait fails, so a program started without a back channel would spin there
// for ever. After its wait runs out, cupsBackChannelRead still reads: on a
// blocking back channel a silent printer would hold the job there for ever.
// cupsd hands filters a non-blocking one; make sure of it whoever started us.
bool backChannelReady() {
  if (fcntl(3, F_GETFD) == -1) return false;
  const int flags = fcntl(3, F_GETFL);
  if (flags != -1 && !(flags & O_NONBLOCK)) fcntl(3, F_SETFL, flags | O_NONBLOCK);
  return true;
}

}  // namespace

ssize_t StdPrinterIO::ReadBack(void* buffer, size_t count, double timeout) {
  // Without a back channel the read fails at once.
  if (!backChannelReady()) return -1;
  // A signal (CUPS cancelling the job) breaks off cupsBackChannelRead's wait
  // with -1. The printer's answer is still on its way, so the wait goes on
  // for the rest of its time; the job stops after the exchange instead of
  // taking the interruption for a silent printer.
  const double deadline = secondsNow() + timeout;
  double left = timeout;
  for (;;) {
    errno = 0;
    const ssize_t got = cupsBackChannelRead(static_cast<char*>(buffer), count, left);
    if (got >= 0 || errno != EINTR) return got;
    left = deadline - secondsNow();
    if (left <= 0) return 0;
  }
}

size_t StdPrinterIO::Drain(void* buffer, size_t count) {
  if (count == 0 || !backChannelReady()) return 0;
  // A wait of no time: what is there is read, nothing is waited for.
  const ssize_t got = cupsBackChannelRead(static_cast<char*>(buffer), count, 0.0);
  return got > 0 ? size_t(got) : 0;
}

namespace {
StdPrinterIO g_stdPrinter;
PrinterIO* g_printer = &g_stdPrinter;
}  // namespace

PrinterIO& Printer() { return *g_printer; }

void SetPrinterIO(PrinterIO* io) { g_printer = io ? io : &g_stdPrinter; }
