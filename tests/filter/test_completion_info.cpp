// What the user sees while the filter waits for the printer: INFO lines,
// which CUPS shows as the job's state message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

const char kWaiting[] = "INFO: Waiting for the printer to finish the card\n";
const char kBusy[] = "INFO: The printer is still printing the card\n";
const char kFinished[] = "INFO: The printer has finished the card\n";

vkrtest::FilterRun PrintOneCard(const std::vector<std::string>& rules) {
  vkrtest::FilterSetup setup;
  setup.stdinBytes = WriteRaster({PageSpec()});
  setup.simRules = rules;
  return vkrtest::RunFilter(setup);
}

size_t Count(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size()) ++n;
  return n;
}

}  // namespace

TEST(CompletionInfo, UserSeesTheWaitTheBusyPollsAndTheEnd) {
  vkrtest::FilterRun run = PrintOneCard({"$PJS ack 00 07 00 00 00 00 00",
                                         "$PJS ack 01 07 00 00 00 00 00 times=2",
                                         "$PJS ack 00 07 00 00 00 00 00"});
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(Count(run.log, kWaiting), 1u);
  EXPECT_EQ(Count(run.log, kBusy), 2u) << "one line per poll that finds the printer busy";
  EXPECT_EQ(Count(run.log, kFinished), 1u);
  // In order: the card is sent, the wait starts, the busy polls, the end.
  const size_t waiting = run.LogAt(kWaiting);
  EXPECT_LT(run.LogAt("OneCmdPrintingEx"), waiting);
  EXPECT_LT(waiting, run.LogAt("DEBUG: PJS[nRet=0][1][7]"));
  // (The preflight logs a pJob line too; the completion's is the last.)
  const size_t idle = run.log.rfind("DEBUG: pJob[0] = 0\n");
  EXPECT_LT(run.log.rfind(kBusy), idle);
  EXPECT_LT(idle, run.LogAt(kFinished));
}

TEST(CompletionInfo, PrinterThatRefusesTheStatusIsNotReportedFinished) {
  vkrtest::FilterRun run = PrintOneCard({"$PJS ack 00 07 00 00 00 00 00", "$PJS nak"});
  // The printer is recovered instead (cancel, status, clear); whether the
  // card came out is not known, so nothing says it has finished.
  EXPECT_EQ(run.Codes().back(), "!RCE") << run.log;
  EXPECT_TRUE(run.LogHas(kWaiting));
  EXPECT_FALSE(run.LogHas(kBusy));
  EXPECT_FALSE(run.LogHas(kFinished));
}
