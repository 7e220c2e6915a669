// Interrupted jobs at start-up, the status queries, and the orderly stop.
#include "app/server_life.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "app/card_job.h"
#include "app/vk4400_app.h"

namespace {

// Job states as the state file writes them.
const char kProcessing[] = " state=\"5\"";
const char kAborted[] = " state=\"8\"";

std::string g_stateFile;
bool g_terminate = false;

// Whether SIGTERM or SIGINT has come (they wait, blocked, for this tick).
bool stopAsked() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  const timespec now = {0, 0};
  bool asked = false;
  while (sigtimedwait(&stop, nullptr, &now) > 0) asked = true;
  return asked;
}

// The printer id on a "<Printer ...>" line of the state file.
int printerId(const std::string& line) {
  const size_t at = line.find(" id=\"");
  return at == std::string::npos ? 0 : atoi(line.c_str() + at + 5);
}

void countBusy(pappl_printer_t* printer, void* data) {
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) ++*static_cast<int*>(data);
}

void countWaiting(pappl_printer_t* printer, void* data) {
  *static_cast<int*>(data) += papplPrinterGetNumberOfActiveJobs(printer);
}

void pausePrinter(pappl_printer_t* printer, void*) { papplPrinterPause(printer); }

// Once nothing prints: saves the state and ends, leaving waiting jobs for
// the next start (PAPPL itself would wait another minute for them). Run on
// the server's tick, between PAPPL's own saves; the state goes beside the
// old file first, so that a save cut short leaves the last whole state.
void stopWhenIdle(pappl_system_t* system) {
  int busy = 0;
  papplSystemIteratePrinters(system, countBusy, &busy);
  if (busy != 0 || StatusQueriesRunning() != 0) return;
  int waiting = 0;
  papplSystemIteratePrinters(system, countWaiting, &waiting);
  if (waiting == 0) return;  // PAPPL ends the run loop by itself
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopping with %d job(s) waiting for the next start.", waiting);
  const std::string fresh = g_stateFile + ".new";
  if (papplSystemSaveState(system, fresh.c_str())) rename(fresh.c_str(), g_stateFile.c_str());
  _exit(0);
}

bool tick(pappl_system_t* system, void*) {
  if (stopAsked()) g_terminate = true;
  if (g_terminate && !ServerStopping()) {
    SetServerStopping();
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopping: jobs end after the card in progress.");
    papplSystemIteratePrinters(system, pausePrinter, nullptr);
    // PAPPL ends its run loop once no job is left (or after a minute).
    papplSystemShutdown(system);
  }
  if (ServerStopping()) stopWhenIdle(system);
  if (!ServerStopping()) PollPrinterStatus(system);
  return true;
}

}  // namespace

std::vector<InterruptedJob> MarkInterruptedJobs(const std::string& stateFile) {
  std::vector<InterruptedJob> jobs;
  FILE* in = fopen(stateFile.c_str(), "r");
  if (in == nullptr) return jobs;
  std::string text, line;
  int printer = 0;
  char chunk[4096];
  bool changed = false;
  while (fgets(chunk, sizeof(chunk), in) != nullptr) {
    line += chunk;
    if (line.back() != '\n' && !feof(in)) continue;
    if (line.compare(0, 9, "<Printer ") == 0) printer = printerId(line);
    const size_t at = line.find(kProcessing);
    if (line.compare(0, 4, "Job ") == 0 && at != std::string::npos) {
      line.replace(at, strlen(kProcessing), kAborted);
      const size_t id = line.find(" id=\"");
      jobs.emplace_back(printer, id == std::string::npos ? 0 : atoi(line.c_str() + id + 5));
      changed = true;
    }
    text += line;
    line.clear();
  }
  fclose(in);
  if (!changed) return jobs;
  const std::string fresh = stateFile + ".new";
  FILE* out = fopen(fresh.c_str(), "w");
  if (out == nullptr) return {};
  const bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
  if (fclose(out) != 0 || !written || rename(fresh.c_str(), stateFile.c_str()) != 0) {
    unlink(fresh.c_str());
    return {};
  }
  return jobs;
}

void SaveServerState(pappl_system_t* system) {
  if (!g_stateFile.empty()) papplSystemSaveState(system, g_stateFile.c_str());
}

void ReportInterruptedJobs(pappl_system_t* system, const std::vector<InterruptedJob>& jobs) {
  for (const InterruptedJob& j : jobs) {
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, j.first, nullptr);
    pappl_job_t* job = printer ? papplPrinterFindJob(printer, j.second) : nullptr;
    if (job == nullptr) continue;
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "The server stopped while this job was printing; it was not printed again.");
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The server stopped while this job was printing; it was not printed again.");
  }
}

void HoldStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

void StartServerTick(pappl_system_t* system, const std::string& stateFile) {
  g_stateFile = stateFile;
  papplSystemAddTimerCallback(system, 0, 1, tick, nullptr);
}
