// Cancellation: CUPS cancels a job by sending the filter SIGTERM. The
// handler only sets a flag; the job's steps look at it at safe points (before
// a page, between lines, before handing a page to the printer, before each
// status poll), so a printer command is always written whole or not at all.
#include <csignal>
#include <cstdio>

#include "filter/filter.h"

namespace {

volatile sig_atomic_t g_canceled = 0;

void onTerminate(int) { g_canceled = 1; }

}  // namespace

// Installs the cancel handler and lets a closed standard output show as a
// failed write instead of killing the process.
void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  // Interrupted writes and reads carry on: a command being written when the
  // signal arrives is finished before the job stops.
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Whether CUPS (or the Printer Application, for a card worker) has asked
// the job to stop with SIGTERM.
bool JobCanceled() {
  return g_canceled != 0;
}


// Ends a cancelled job at a safe point; returns the exit status.
int StopCanceledJob() {
  fprintf(stderr, "DEBUG: Job canceled; stopped before the next printer command.\n");
  return 1;
}
