// The wait for the printer to finish the card, through the real filter and
// the simulator: busy polls, polls without the job state, the pauses between
// them, and the INFO lines CUPS shows as the job's state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

using Codes = std::vector<std::string>;
const char kWaiting[] = "INFO: Waiting for the printer to finish the card\n";
const char kBusy[] = "INFO: The printer is still printing the card\n";
const char kFinished[] = "INFO: The printer has finished the card\n";

vkrtest::FilterRun printOne(const std::vector<std::string>& rules,
                            const std::string& contentType = "") {
  vkrtest::FilterSetup setup;
  if (!contentType.empty()) setup.env = {{"FINAL_CONTENT_TYPE", contentType}};
  setup.stdinBytes = WriteRaster({Filled(Rgb{120, 140, 160})});
  setup.simRules = rules;
  setup.timeoutSeconds = 20;
  return vkrtest::RunFilter(setup);
}

size_t Count(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size()) ++n;
  return n;
}

}  // namespace

TEST(CompletionWait, BusyPrinterIsPolledUntilTheJobEnds) {
  // Busy already at the preflight: noted, and the job goes on.
  vkrtest::FilterRun run = printOne({"$PJS ack 01 07 0a 0b 0c 0d 0e",
                                     "$PJS ack 01 07 02 03 04 05 06 times=3",
                                     "$PJS ack 00 07 00 00 00 00 00"}, "image/urf");
  ASSERT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_LT(run.LogAt("DEBUG: PJS [nRet=0][1][7][a][b][c][d][e]\r\n"),
            run.LogAt("[S] GetPrinterVersion"));
  EXPECT_FALSE(run.LogHas("[e]\r\nDEBUG: pJob"));
  EXPECT_TRUE(run.LogHas("DEBUG: rastertovkr image/urf "));
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$PJS", "$PJS", "$PJS"}));
  EXPECT_EQ(Count(run.log, "DEBUG: PJS[nRet=0][1][7][2][3][4][5][6]\r\n"), 3u);
  EXPECT_EQ(Count(run.log, kWaiting), 1u);
  EXPECT_EQ(Count(run.log, kBusy), 3u) << "one line per poll that finds the printer busy";
  EXPECT_EQ(Count(run.log, kFinished), 1u);
  // In order: the card is sent, the wait starts, the busy polls, the end.
  const size_t waiting = run.LogAt(kWaiting);
  EXPECT_LT(run.LogAt("OneCmdPrintingEx"), waiting);
  EXPECT_LT(waiting, run.LogAt("DEBUG: PJS[nRet=0][1][7]"));
  const size_t idle = run.log.rfind("DEBUG: PJS[nRet=0][0][7][0][0][0][0][0]\r\n");
  const size_t idleJob = run.log.rfind("DEBUG: pJob[0] = 0\n");
  ASSERT_NE(idle, std::string::npos);
  EXPECT_LT(run.log.rfind(kBusy), idleJob);
  EXPECT_LT(idle, idleJob);
  EXPECT_LT(idleJob, run.LogAt(kFinished));
}

TEST(CompletionWait, PollWithoutTheJobStateRecoversAfterPausesOfTheirLength) {
  // Busy at the preflight and at the first poll, then answers that carry no
  // job state: the old "busy" must not keep the filter polling for ever.
  vkrtest::FilterRun run = printOne({"$PJS ack 01 05 00 00 00 00 00 times=2", "$PJS ack"});
  ASSERT_FALSE(run.timedOut) << run.log;
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(),
            (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$PJS", "$CPJ", "!CSS", "!RCE"}));
  EXPECT_EQ(run.frames[6].params, (std::vector<uint8_t>{0x05}));  // the last good answer's job
  EXPECT_TRUE(run.LogHas("DEBUG: Job status answered without the job state.\n"));
  EXPECT_EQ(run.log.find("ERROR:"), std::string::npos) << run.log;
  EXPECT_TRUE(run.LogHas(kWaiting));
  EXPECT_FALSE(run.LogHas(kFinished));
  // One second after every command, three before the first poll, two before each poll.
  const unsigned answer = 1000000, settle = 3000000, poll = 2000000;
  EXPECT_EQ(run.pauses, (std::vector<unsigned>{answer, answer, answer, answer, settle, poll,
                                               answer, poll, answer, answer, answer, answer}));
}
