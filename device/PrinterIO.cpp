// The real printer exchange and the switch that tests use to replace it.
#include "device/PrinterIO.h"

#include <cstdio>
#include <unistd.h>

#include <cups/cups.h>
#include <cups/sidechannel.h>

size_t StdPrinterIO::Write(const void* bytes, size_t count) {
  return fwrite(bytes, 1, count, stdout);
}

void StdPrinterIO::Flush() { fflush(stdout); }

void StdPrinterIO::Pause(unsigned int usec) { usleep(usec); }

ssize_t StdPrinterIO::ReadBack(void* buffer, size_t count, double timeout) {
  return cupsBackChannelRead(static_cast<char*>(buffer), count, timeout);
}

namespace {
StdPrinterIO g_stdPrinter;
PrinterIO* g_printer = &g_stdPrinter;
}  // namespace

PrinterIO& Printer() { return *g_printer; }

void SetPrinterIO(PrinterIO* io) { g_printer = io ? io : &g_stdPrinter; }
