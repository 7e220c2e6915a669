// A card job's worker, its watchdog and its outcome.
#include "app/card_job.h"

#include <csignal>
#include <cstring>
#include <sys/wait.h>

#include "app/app_settings.h"
#include "app/stall_guard.h"
#include "app/worker_link.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the watchdog looks at the job.
const auto kWatchInterval = std::chrono::milliseconds(100);
// A worker asked to stop finishes the printer command in hand (the longest
// exchange is a second's pause and a five-second read); one that is still
// there after this long is killed.
const auto kStopGrace = std::chrono::seconds(20);

std::atomic<bool> g_stopping{false};

const char kInfo[] = "INFO: ";
const char kError[] = "ERROR: ";
const char kWaitingLine[] = "Waiting for the printer to finish the card";

// Whether a user cancelled the job (PAPPL also counts a job it aborted as
// cancelled).
bool canceledByUser(pappl_job_t* job) {
  return papplJobIsCanceled(job) && papplJobGetState(job) != IPP_JSTATE_ABORTED;
}

// Where a message of this kind starts in a log line: the filter's progress
// markers end without a line end, so a message may follow one.
size_t messageAt(const std::string& line, const char* prefix) {
  const size_t at = line.find(prefix);
  return at != std::string::npos && (at == 0 || line[at - 1] == '.' || line[at - 1] == ' ')
             ? at
             : std::string::npos;
}

}  // namespace

void NoteWorkerLine(CardJob& cj, const std::string& line) {
  const size_t info = messageAt(line, kInfo), error = messageAt(line, kError);
  if (info != std::string::npos || error != std::string::npos)
    papplLogJob(cj.job, PAPPL_LOGLEVEL_DEBUG, "%s", line.c_str());
  if (info != std::string::npos) {
    const std::string text = line.substr(info + strlen(kInfo));
    papplJobSetMessage(cj.job, "%s", text.c_str());
    papplLogJob(cj.job, PAPPL_LOGLEVEL_INFO, "%s", text.c_str());
    std::lock_guard<std::mutex> hold(cj.lock);
    cj.outcome.lastInfo = text;
    if (text == kWaitingLine && !cj.waitingForPrinter) {
      cj.waitingForPrinter = true;
      cj.waitStart = Clock::now();
    }
  } else if (error != std::string::npos) {
    const std::string text = line.substr(error + strlen(kError));
    papplLogJob(cj.job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    std::lock_guard<std::mutex> hold(cj.lock);
    if (cj.outcome.firstError.empty()) cj.outcome.firstError = text;
  } else {
    papplLogJob(cj.job, PAPPL_LOGLEVEL_DEBUG, "%s", line.c_str());
  }
}

namespace {

// A report of the worker's: the stage a job failed in, the ribbon found.
void workerReport(CardJob& cj, const std::string& report) {
  const std::string failed = ReportValue(report, "failed");
  if (!failed.empty()) {
    std::lock_guard<std::mutex> hold(cj.lock);
    cj.outcome.failedStage = failed;
  }
}

// Stops the worker when the job is cancelled, the server stops, the printer
// goes on printing past the completion bound or the document stops
// arriving; kills it when it does not stop.
void watch(CardJob& cj) {
  bool asked = false;
  Clock::time_point askedAt;
  while (!cj.ended) {
    std::this_thread::sleep_for(kWatchInterval);
    const Clock::time_point now = Clock::now();
    if (asked) {
      if (now - askedAt > kStopGrace) cj.talk.worker().Signal(SIGKILL);
      continue;
    }
    bool stop;
    {
      std::lock_guard<std::mutex> hold(cj.lock);
      stop = JobToStop(cj, now, canceledByUser(cj.job), ServerStopping());
    }
    if (stop) {
      cj.talk.worker().Signal(SIGTERM);
      asked = true;
      askedAt = now;
      // A streamed document's thread may be waiting for its client: the job
      // ends only once that wait does.
      pid_t reader = 0;
      {
        std::lock_guard<std::mutex> hold(cj.lock);
        if (!cj.inCallback) reader = cj.readerThread;
      }
      if (reader != 0 && BreakBlockedRead(reader))
        papplLogJob(cj.job, PAPPL_LOGLEVEL_INFO, "Stopped reading the document from its client.");
    }
  }
}

}  // namespace

bool JobToStop(CardJob& cj, Clock::time_point now, bool canceled, bool stopping) {
  const OverBound over = JobOverBound(cj, now);
  if (over == OverBound::kCompletion) cj.outcome.completionTimedOut = true;
  if (over == OverBound::kDocument) cj.outcome.documentTimedOut = true;
  cj.outcome.stopping = stopping;
  return canceled || stopping || over != OverBound::kNone;
}

OverBound JobOverBound(const CardJob& cj, Clock::time_point now) {
  if (cj.waitingForPrinter)
    return now - cj.waitStart > std::chrono::seconds(Settings().completionTimeout) ? OverBound::kCompletion
                                                                                   : OverBound::kNone;
  if (!cj.inCallback && now - cj.lastActivity > std::chrono::seconds(Settings().documentTimeout))
    return OverBound::kDocument;
  return OverBound::kNone;
}

std::string FailureMessage(const JobOutcome& o) {
  std::string text;
  if (!o.refused.empty()) {
    text = o.refused;
  } else if (o.completionTimedOut) {
    text = "The printer did not finish the card within " +
           std::to_string(Settings().completionTimeout) + " seconds; it last reported: \"" +
           o.lastInfo + "\".";
  } else if (o.documentTimedOut) {
    text = "The document stopped arriving for " + std::to_string(Settings().documentTimeout) +
           " seconds; the job was stopped.";
  } else if (o.stopping) {
    text = "The server was stopped; the job ended after the card in progress.";
  } else if (o.failedStage == "preflight") {
    text = "The printer did not report its status, version or ribbon; the job was not printed.";
  } else if (o.failedStage == "pages" || o.failedStage == "options") {
    text = "The card was not printed: " +
           (o.firstError.empty() ? std::string("the printer did not take it.") : o.firstError);
  } else if (o.failedStage == "completion") {
    text = "The printer stopped answering before it reported the end of the job.";
  } else {
    text = "The card job ended unexpectedly (" + DescribeWorkerEnd(o.waitStatus) + ").";
  }
  if (o.deviceLost) text += " The connection to the printer was lost.";
  return text;
}

bool StartCardJob(CardJob& cj, const std::string& cardOptions) {
  RelayHandlers handlers;
  handlers.line = [&cj](const std::string& line) { NoteWorkerLine(cj, line); };
  handlers.report = [&cj](const std::string& report) { workerReport(cj, report); };
  const std::vector<std::string> args = {"job", std::to_string(papplJobGetID(cj.job)),
                                         papplJobGetUsername(cj.job) ? papplJobGetUsername(cj.job) : "",
                                         papplJobGetName(cj.job) ? papplJobGetName(cj.job) : "",
                                         cardOptions};
  papplJobSetMessage(cj.job, "Asking the printer for its status");
  std::string why;
  cj.lastActivity = Clock::now();
  // PAPPL reads a streamed raster document on this thread, from the client.
  if (papplJobGetFilename(cj.job) == nullptr) cj.readerThread = CurrentThreadId();
  if (!cj.talk.Start(args, true, handlers, &why)) {
    papplLogJob(cj.job, PAPPL_LOGLEVEL_ERROR, "Unable to start the card worker: %s", why.c_str());
    std::lock_guard<std::mutex> hold(cj.lock);
    cj.outcome.failedStage = "start";
    return false;
  }
  cj.watchdog = std::thread(watch, std::ref(cj));
  return true;
}

bool FlushPages(CardJob& cj) {
  const int fd = cj.talk.worker().pages();
  const bool sent = cj.pending.empty() || (fd >= 0 && WriteFully(fd, cj.pending.data(), cj.pending.size()));
  cj.pending.clear();
  return sent;
}

void RefuseCardJob(CardJob& cj, const std::string& message) {
  {
    std::lock_guard<std::mutex> hold(cj.lock);
    cj.outcome.refused = message;
  }
  cj.talk.worker().Signal(SIGTERM);
}

void DocumentActivity(CardJob& cj, bool entering) {
  std::lock_guard<std::mutex> hold(cj.lock);
  cj.inCallback = entering;
  cj.lastActivity = Clock::now();
}

bool FinishCardJob(CardJob& cj) {
  {
    std::lock_guard<std::mutex> hold(cj.lock);
    // From here on the job waits for its worker, not for its document.
    cj.inCallback = true;
  }
  if (cj.raster != nullptr) cupsRasterClose(cj.raster);
  cj.raster = nullptr;
  FlushPages(cj);
  cj.talk.worker().ClosePages();
  if (canceledByUser(cj.job)) cj.talk.worker().Signal(SIGTERM);
  cj.talk.JoinRelay();
  cj.ended = true;
  if (cj.watchdog.joinable()) cj.watchdog.join();
  const int status = cj.talk.worker().Wait();
  if (canceledByUser(cj.job)) return true;
  if (cj.outcome.failedStage != "start" && cj.outcome.refused.empty() && WIFEXITED(status) &&
      WEXITSTATUS(status) == 0)
    return true;

  JobOutcome outcome;
  {
    std::lock_guard<std::mutex> hold(cj.lock);
    outcome = cj.outcome;
  }
  outcome.waitStatus = status;
  outcome.deviceLost = cj.talk.DeviceLost();
  const std::string message = FailureMessage(outcome);
  papplJobSetMessage(cj.job, "%s", message.c_str());
  papplLogJob(cj.job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  if (outcome.completionTimedOut) {
    // The printer shows it too, until it reports again that it is free.
    pappl_printer_t* printer = papplJobGetPrinter(cj.job);
    papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  }
  return false;
}

bool ServerStopping() { return g_stopping; }
void SetServerStopping() { g_stopping = true; }
