// The server's side of a worker's printer exchange: each request that comes
// over the link is carried out on the printer (a PrinterIO over the PAPPL
// device), and the worker's log and reports are handed on.
#pragma once

#include <functional>
#include <string>

#include "device/PrinterIO.h"

struct RelayHandlers {
  // One line of the worker's log (standard output and error), without its end.
  std::function<void(const std::string&)> line;
  // One report ("name=value" lines).
  std::function<void(const std::string&)> report;
};

// Serves the worker until it has closed both its link and its log (it ended).
// A worker that breaks the link's rules is served no further.
void ServeWorker(int link, int log, PrinterIO& printer, const RelayHandlers& handlers);
