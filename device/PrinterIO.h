// The printer exchange's three effects: bytes to the printer (standard
// output), a pause, and one read of the CUPS back channel. Everything that
// talks to the printer goes through the current PrinterIO, so tests can put
// an in-memory printer in its place and run without real pauses.
#pragma once

#include <cstddef>
#include <sys/types.h>

class PrinterIO {
 public:
  virtual ~PrinterIO() = default;
  // Writes count bytes to the printer stream; returns the number written.
  virtual size_t Write(const void* bytes, size_t count) = 0;
  // Pushes buffered bytes out to the printer.
  virtual void Flush() = 0;
  // Sleeps for the given number of microseconds.
  virtual void Pause(unsigned int usec) = 0;
  // One read of the back channel: up to count bytes within timeout seconds.
  // Returns the number of bytes read, 0 when nothing arrived, -1 on error.
  virtual ssize_t ReadBack(void* buffer, size_t count, double timeout) = 0;
  // Takes, without waiting, at most count bytes that the printer has already
  // sent and nobody has read yet. Returns how many (0 when there are none, or
  // when the back channel cannot be read).
  virtual size_t Drain(void* buffer, size_t count) = 0;
};

// The real printer: stdout, usleep and cupsBackChannelRead. A write or flush
// that fails (standard output closed, the backend gone; SIGPIPE must be
// ignored to see it) logs "ERROR: Unable to write print data: ..." and ends
// the process with exit status 1.
class StdPrinterIO : public PrinterIO {
 public:
  size_t Write(const void* bytes, size_t count) override;
  void Flush() override;
  void Pause(unsigned int usec) override;
  ssize_t ReadBack(void* buffer, size_t count, double timeout) override;
  size_t Drain(void* buffer, size_t count) override;
};

// The printer in use; the real one unless a test installed another.
PrinterIO& Printer();
// Installs io as the printer (nullptr restores the real one). Tests only.
void SetPrinterIO(PrinterIO* io);
