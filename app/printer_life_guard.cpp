// Two PAPPL 1.3 faults in a printer's life, mended where PAPPL calls its
// public functions through the dynamic linker: the program's own
// definitions come first, and hand on to PAPPL's.
//
// Creation: a printer made while the server runs (`add`, the web page,
// Create-Printer) gets its number, but its "printer-id" attribute says 0,
// so `delete -d` and `modify -d`, which look the number up by name, fail
// for it until the server restarts. Such a printer is given its number
// here, before PAPPL makes it.
//
// Deletion: PAPPL frees a printer that no job prints on at once, even while
// a status query, identify or self-test conversation still talks to it on
// another thread, which then works on freed memory. Those conversations end
// first.
#include <algorithm>
#include <mutex>

#include "app/next_definition.h"
#include "app/vk4400_app.h"

namespace {

void keepHighest(pappl_printer_t* printer, void* data) {
  int* highest = static_cast<int*>(data);
  *highest = std::max(*highest, papplPrinterGetID(printer));
}

}  // namespace

extern "C" pappl_printer_t* papplPrinterCreate(pappl_system_t* system, int printer_id,
                                               const char* printer_name, const char* driver_name,
                                               const char* device_id, const char* device_uri) {
  static const auto create = NextDefinition(papplPrinterCreate, "papplPrinterCreate");
  if (printer_id != 0 || system == nullptr)
    return create(system, printer_id, printer_name, driver_name, device_id, device_uri);
  // One new printer at a time, each with a number no printer had before
  // in this run (PAPPL's own count does not move on for a given number).
  static std::mutex lock;
  static int lastGiven = 0;
  std::lock_guard<std::mutex> hold(lock);
  int highest = 0;
  papplSystemIteratePrinters(system, keepHighest, &highest);
  const int id = std::max({papplSystemGetNextPrinterID(system), highest + 1, lastGiven + 1});
  pappl_printer_t* printer = create(system, id, printer_name, driver_name, device_id, device_uri);
  if (printer != nullptr) lastGiven = id;
  return printer;
}

extern "C" void papplPrinterDelete(pappl_printer_t* printer) {
  static const auto remove = NextDefinition(papplPrinterDelete, "papplPrinterDelete");
  if (printer != nullptr) EndPrinterConversations(printer);
  remove(printer);
}
