// One card job in the server: its worker conversation, the raster stream of
// its pages into the worker, and the watchdog that bounds it. The raster
// callbacks (raster_job.cpp) drive it; the job's outcome and the message the
// user sees come from here.
#pragma once

#include <pappl/pappl.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "app/conversation.h"

// What the worker and the watchdog found out about a job that did not print.
struct JobOutcome {
  int waitStatus = 0;         // the worker's wait status
  std::string failedStage;    // "preflight", "options", "pages", "completion" or empty
  std::string firstError;     // the worker's first "ERROR: " line, without its prefix
  std::string lastInfo;       // the worker's last "INFO: " line, without its prefix
  bool completionTimedOut = false;
  bool documentTimedOut = false;
  bool deviceLost = false;
  bool stopping = false;      // the server was being stopped
  std::string refused;        // why the document was refused before the worker saw it
};

// The job-state-message of a job that did not print.
std::string FailureMessage(const JobOutcome& outcome);

struct CardJob {
  CardJob(pappl_job_t* j, pappl_device_t* device) : job(j), talk(device) {}

  pappl_job_t* job;
  Conversation talk;
  bool twoSided = false;
  // The pages into the worker: the raster writer and the kept-back last
  // line of the page in hand.
  cups_raster_t* raster = nullptr;
  cups_page_header2_t header = {};  // the page in hand, as the worker gets it
  std::vector<uint8_t> held;
  std::vector<uint8_t> pending;  // written, not yet in the pipe
  bool holding = false;
  unsigned page = 0, lines = 0;

  // Shared with the relay and the watchdog threads.
  std::mutex lock;
  JobOutcome outcome;
  bool waitingForPrinter = false;
  std::chrono::steady_clock::time_point waitStart, lastActivity;
  bool inCallback = false;
  // A raster document streamed from its client: the thread that reads it.
  pid_t readerThread = 0;
  std::atomic<bool> ended{false};
  std::thread watchdog;
};

// The bound a job's watchdog finds it past at `now`: the completion wait
// (the printer still printing `completion-timeout` seconds after the last
// card) or the document (nothing arriving for `document-timeout` seconds
// while PAPPL reads it). A wait of exactly its bound goes on.
enum class OverBound { kNone, kCompletion, kDocument };
OverBound JobOverBound(const CardJob& cj, std::chrono::steady_clock::time_point now);
// Whether the watchdog stops the job now (its lock held): cancelled by its
// user, the server stopping, or a bound passed; notes which in the outcome.
bool JobToStop(CardJob& cj, std::chrono::steady_clock::time_point now, bool canceled, bool stopping);

// One line of the worker's log: INFO lines become the job's message (and
// the printer-finish line starts the completion wait), the first ERROR line
// is kept for the failure message, everything else goes to the job's log at
// debug level.
void NoteWorkerLine(CardJob& cj, const std::string& line);

// Starts the job's worker with these card options (PPD-named, as the filter
// takes them), its relay and its watchdog. False: the job is to end.
bool StartCardJob(CardJob& cj, const std::string& cardOptions);
// Notes that the job's document is being read (entering true) or that
// PAPPL went back to reading it (false): a document that stops arriving for
// longer than the document time-out ends the job.
void DocumentActivity(CardJob& cj, bool entering);
// Sends the pages written so far to the worker; false when it takes no more.
bool FlushPages(CardJob& cj);
// Stops the worker for a document PAPPL refused; the job fails with this
// message.
void RefuseCardJob(CardJob& cj, const std::string& message);
// Ends the document, waits for the worker and sets the job's message;
// returns whether the job printed (true also for a cancelled job, which
// PAPPL marks cancelled).
bool FinishCardJob(CardJob& cj);

// Whether the server is being stopped (SIGTERM): running workers stop after
// the card in progress and no new job starts.
bool ServerStopping();
void SetServerStopping();
