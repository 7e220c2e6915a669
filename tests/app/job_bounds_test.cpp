// The bounds a job's watchdog keeps, on a clock the test sets: the
// completion wait and the document's silence, each admitting exactly its
// limit, with the documented defaults.
#include <gtest/gtest.h>

#include <chrono>

#include "app/app_settings.h"
#include "app/card_job.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(JobBounds, EachWaitEndsJustPastItsBoundAndNotBefore) {
  // The defaults the README and --help give: two minutes for the printer to
  // finish the last card, a minute for a document to go on arriving.
  const AppSettings defaults;
  EXPECT_EQ(defaults.completionTimeout, 120);
  EXPECT_EQ(defaults.documentTimeout, 60);
  Settings() = defaults;

  CardJob cj(nullptr, nullptr);
  const Clock::time_point t0 = Clock::now();
  cj.waitStart = cj.lastActivity = t0;
  const struct {
    bool waitingForPrinter, inCallback;
    Clock::duration after;
    OverBound expected;
  } kCases[] = {
      {true, false, seconds(119), OverBound::kNone},
      {true, false, seconds(120), OverBound::kNone},
      {true, false, seconds(120) + milliseconds(1), OverBound::kCompletion},
      // While the printer finishes, the document's silence does not count.
      {true, false, seconds(100), OverBound::kNone},
      {false, false, seconds(60), OverBound::kNone},
      {false, false, seconds(60) + milliseconds(1), OverBound::kDocument},
      // PAPPL is in a callback: the document is being handed over, not silent.
      {false, true, seconds(600), OverBound::kNone},
  };
  for (const auto& c : kCases) {
    cj.waitingForPrinter = c.waitingForPrinter;
    cj.inCallback = c.inCallback;
    EXPECT_EQ(JobOverBound(cj, t0 + c.after), c.expected)
        << "waiting " << c.waitingForPrinter << ", in callback " << c.inCallback << ", after "
        << std::chrono::duration_cast<milliseconds>(c.after).count() << " ms";
  }
  // The bounds follow the server's options.
  Settings().completionTimeout = 5;
  cj.waitingForPrinter = true;
  EXPECT_EQ(JobOverBound(cj, t0 + seconds(6)), OverBound::kCompletion);
  Settings() = defaults;
}

TEST(JobWatch, ACancelledOrStoppingJobStopsAndSaysWhichBoundItPassed) {
  Settings() = AppSettings();
  CardJob cj(nullptr, nullptr);
  const Clock::time_point t0 = Clock::now();
  cj.waitStart = cj.lastActivity = t0;
  EXPECT_FALSE(JobToStop(cj, t0 + seconds(1), false, false));
  EXPECT_TRUE(JobToStop(cj, t0 + seconds(1), true, false)) << "a job its user cancelled";
  EXPECT_FALSE(cj.outcome.stopping);
  EXPECT_TRUE(JobToStop(cj, t0 + seconds(1), false, true)) << "the server stopping";
  EXPECT_TRUE(cj.outcome.stopping);
  CardJob silent(nullptr, nullptr);
  silent.lastActivity = t0;
  EXPECT_TRUE(JobToStop(silent, t0 + seconds(61), false, false));
  EXPECT_TRUE(silent.outcome.documentTimedOut);
  EXPECT_FALSE(silent.outcome.completionTimedOut);
}

TEST(JobWatch, TheWorkersLinesSetTheMessageTheFirstErrorAndTheCompletionWait) {
  CardJob cj(nullptr, nullptr);
  const Clock::time_point before = Clock::now();
  for (const char* line : {"DEBUG: a line for the log only", "ERROR: The first problem.",
                           "ERROR: A later problem.", "[E] PrintJobStatus : 0. INFO: Printing the card",
                           "INFO: Waiting for the printer to finish the card"})
    NoteWorkerLine(cj, line);
  EXPECT_EQ(cj.outcome.firstError, "The first problem.") << "the first error says why, not the last";
  EXPECT_EQ(cj.outcome.lastInfo, "Waiting for the printer to finish the card");
  ASSERT_TRUE(cj.waitingForPrinter) << "the printer-finish line starts the completion wait";
  EXPECT_GE(cj.waitStart, before);
  // A progress marker without its line end still lets a message through.
  CardJob marked(nullptr, nullptr);
  NoteWorkerLine(marked, "[E] CheckRibbon : 0. INFO: Printing the card");
  EXPECT_EQ(marked.outcome.lastInfo, "Printing the card");
  EXPECT_FALSE(marked.waitingForPrinter);
}

}  // namespace
