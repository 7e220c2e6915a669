// A printer's turn, and the order of its jobs.
#include "app/job_order.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

namespace {

using PrinterKey = std::pair<pappl_system_t*, int>;

struct PrinterTurn {
  bool taken = false;
  bool missed = false;  // a job thread found the turn taken and left its job waiting
};

std::mutex g_lock;
std::condition_variable g_freed;
std::map<PrinterKey, PrinterTurn> g_turns;

// The turn the calling thread holds, and the job it prints with it.
struct HeldTurn {
  bool holding = false;
  PrinterKey key{nullptr, 0};
  pappl_job_t* job = nullptr;
};
thread_local HeldTurn t_held;

PrinterKey keyOf(pappl_printer_t* printer) {
  return {papplPrinterGetSystem(printer), papplPrinterGetID(printer)};
}

bool tryTake(const PrinterKey& key) {
  std::lock_guard<std::mutex> hold(g_lock);
  PrinterTurn& turn = g_turns[key];
  if (turn.taken) {
    turn.missed = true;
    return false;
  }
  turn.taken = true;
  return true;
}

void waitAndTake(const PrinterKey& key) {
  std::unique_lock<std::mutex> hold(g_lock);
  g_freed.wait(hold, [&] { return !g_turns[key].taken; });
  g_turns[key].taken = true;
}

// Gives the calling thread's turn back; whether a job was left waiting
// while it was held.
bool giveBack() {
  if (!t_held.holding) return false;
  bool missed = false;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_turns.find(t_held.key);
    if (it != g_turns.end()) {
      missed = it->second.missed;
      g_turns.erase(it);
    }
  }
  t_held = HeldTurn();
  g_freed.notify_all();
  return missed;
}

// After a job: a job left waiting while the turn was held, with nothing
// since looking for it, is looked for now (unless the printer is gone).
void endTurn(const PrinterKey& key, const JobSteps& steps) {
  if (!giveBack()) return;
  if (pappl_printer_t* printer = papplSystemFindPrinter(key.first, nullptr, key.second, nullptr))
    steps.checkJobs(printer);
}

void keepOldest(pappl_job_t* job, void* data) {
  auto* oldest = static_cast<pappl_job_t**>(data);
  // A job streamed from its client waits without a file for a moment: it is
  // not ours to start.
  if (papplJobGetState(job) != IPP_JSTATE_PENDING || papplJobGetFilename(job) == nullptr) return;
  if (*oldest == nullptr || papplJobGetID(job) < papplJobGetID(*oldest)) *oldest = job;
}

}  // namespace

pappl_job_t* OldestWaitingJob(pappl_printer_t* printer) {
  pappl_job_t* oldest = nullptr;
  papplPrinterIterateActiveJobs(printer, keepOldest, &oldest, 1, 0);
  return oldest;
}

void RunOldestJob(pappl_job_t* job, const JobSteps& steps) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const PrinterKey key = keyOf(printer);
  if (!tryTake(key)) return;
  pappl_job_t* oldest = OldestWaitingJob(printer);
  t_held = HeldTurn{true, key, oldest};
  if (oldest != nullptr) {
    if (oldest != job)
      papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Job %d came before job %d: it prints first.",
                      papplJobGetID(oldest), papplJobGetID(job));
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Printing job %d.", papplJobGetID(oldest));
    steps.process(oldest);
  }
  endTurn(key, steps);
}

void RunStreamedJob(pappl_job_t* job, pappl_client_t* client, const JobSteps& steps) {
  const PrinterKey key = keyOf(papplJobGetPrinter(job));
  waitAndTake(key);
  t_held = HeldTurn{true, key, job};
  steps.processStreamed(job, client);
  endTurn(key, steps);
}

void BeforeJobCheck(pappl_printer_t* printer) {
  // Only a job that has ended gives its turn back: a job still printing may
  // release a held job, which looks for the next job too.
  if (!t_held.holding || printer == nullptr || t_held.key != keyOf(printer)) return;
  if (t_held.job != nullptr && papplJobGetState(t_held.job) < IPP_JSTATE_CANCELED) return;
  giveBack();
}
