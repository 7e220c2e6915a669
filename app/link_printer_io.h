// The worker's side of the printer exchange: every write, flush, read and
// drain becomes a request over the link to the server, which carries it out
// on the printer's device. The pause stays in the worker.
#pragma once

#include "device/PrinterIO.h"

class LinkPrinterIO : public PrinterIO {
 public:
  explicit LinkPrinterIO(int linkFd) : link_(linkFd) {}

  // A link that has gone (the server ended) fails like a printer stream
  // that has gone: "ERROR: Unable to write print data: ..." and exit 1.
  size_t Write(const void* bytes, size_t count) override;
  void Flush() override;
  void Pause(unsigned int usec) override;
  ssize_t ReadBack(void* buffer, size_t count, double timeout) override;
  size_t Drain(void* buffer, size_t count) override;

  // Sends a report ("name=value" lines) to the server.
  void Report(const char* text);

 private:
  int link_;
};
