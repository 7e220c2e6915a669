// Jobs' claims on their printers.
#include "app/printer_claim.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace {
std::mutex g_lock;
std::condition_variable g_released;
std::set<int> g_claimed;  // printer ids
}  // namespace

void ClaimPrinterForJob(pappl_printer_t* printer) {
  const int id = papplPrinterGetID(printer);
  std::unique_lock<std::mutex> hold(g_lock);
  g_released.wait(hold, [id] { return g_claimed.count(id) == 0; });
  g_claimed.insert(id);
}

void ReleasePrinterFromJob(pappl_printer_t* printer) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_claimed.erase(papplPrinterGetID(printer));
  }
  g_released.notify_all();
}

bool PrinterClaimedByJob(pappl_printer_t* printer) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_claimed.count(papplPrinterGetID(printer)) != 0;
}
