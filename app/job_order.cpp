// Keeping a printer's jobs in submission order.
#include "app/job_order.h"

#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace {

std::mutex g_lock;
// The jobs held for the order's sake, by printer id.
std::map<int, std::set<int>> g_held;

// A pending job with its document spooled; a PWG or Apple raster job that
// is being streamed from its client is pending too for a moment, and has no
// file.
void collectPending(pappl_job_t* job, void* data) {
  if (papplJobGetState(job) == IPP_JSTATE_PENDING && papplJobGetFilename(job) != nullptr)
    static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job);
}

}  // namespace

void KeepSubmissionOrder(pappl_printer_t* printer, pappl_job_t* ending) {
  if (printer == nullptr) return;
  std::vector<pappl_job_t*> pending;
  papplPrinterIterateActiveJobs(printer, collectPending, &pending, 1, 0);
  pappl_job_t* oldest = nullptr;
  for (pappl_job_t* job : pending)
    if (job != ending && (oldest == nullptr || papplJobGetID(job) < papplJobGetID(oldest))) oldest = job;
  std::lock_guard<std::mutex> hold(g_lock);
  for (pappl_job_t* job : pending)
    if (job != ending && job != oldest && papplJobHold(job, nullptr, "indefinite", 0))
      g_held[papplPrinterGetID(printer)].insert(papplJobGetID(job));
}

void ReleaseHeldJobs(pappl_printer_t* printer) {
  std::set<int> held;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_held.find(papplPrinterGetID(printer));
    if (it == g_held.end()) return;
    held.swap(it->second);
    g_held.erase(it);
  }
  for (int id : held)
    if (pappl_job_t* job = papplPrinterFindJob(printer, id)) papplJobRelease(job, nullptr);
}
