// What the filter believes of the printer's answers, through the real filter
// and the simulator: a status poll or a ribbon-sensor answer without its
// payload, the length of every pause, and the line the first INFO message
// starts on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

using Codes = std::vector<std::string>;
using Pauses = std::vector<unsigned>;

const unsigned kAnswerPause = 1000000;
const unsigned kSettle = 3000000;
const unsigned kPoll = 2000000;

vkrtest::FilterRun printOne(const std::string& options, const std::vector<std::string>& rules) {
  vkrtest::FilterSetup setup;
  setup.Options(options);
  setup.stdinBytes = WriteRaster({Filled(Rgb{120, 140, 160})});
  setup.simRules = rules;
  setup.timeoutSeconds = 20;
  return vkrtest::RunFilter(setup);
}

}  // namespace

TEST(CompletionWait, PollWithoutTheJobStateRecoversAfterPausesOfTheirLength) {
  // Busy at the preflight and at the first poll, then answers that carry no
  // job state: the old "busy" must not keep the filter polling for ever.
  vkrtest::FilterRun run =
      printOne("", {"$PJS ack 01 05 00 00 00 00 00 times=2", "$PJS ack"});
  ASSERT_FALSE(run.timedOut) << run.log;
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(),
            (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$PJS", "$CPJ", "!CSS", "!RCE"}));
  // The job number is the last good answer's.
  EXPECT_EQ(run.frames[6].params, (std::vector<uint8_t>{0x05}));
  EXPECT_TRUE(run.LogHas("DEBUG: Job status answered without the job state.\n"));
  EXPECT_EQ(run.log.find("ERROR:"), std::string::npos) << run.log;
  // One second after every command, three before the first poll, two
  // before each poll.
  EXPECT_EQ(run.pauses, (Pauses{kAnswerPause, kAnswerPause, kAnswerPause, kAnswerPause, kSettle,
                                kPoll, kAnswerPause, kPoll, kAnswerPause, kAnswerPause,
                                kAnswerPause, kAnswerPause}));
}

TEST(Preflight, RibbonAnswerWithoutPayloadIsNoBlackRibbon) {
  // The version's byte 1 is '5'; the sensor answers without a payload.
  vkrtest::FilterRun run = printOne("CardRibbon=Auto", {"!GVT ack 00 35 01 23", "!CRS ack"});
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PJS"}));
  EXPECT_TRUE(run.LogHas("DEBUG: GetPrinterVersion (0 35 1 23)\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: CheckRibbonSensor (0 0)\n"));
  // A colour card: the print command's ribbon block (SPT, P1) says colour.
  ASSERT_GT(run.frames[3].params.size(), 6u);
  EXPECT_EQ(run.frames[3].params[5], 'R');
  EXPECT_EQ(run.frames[3].params[6], 0);
}

TEST(CompletionWait, EmptyJobStartsItsFirstInfoLineOnALineOfItsOwn) {
  vkrtest::FilterSetup setup;
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.LogHas("DEBUG: rastertovkr image/pwg-raster \nINFO: Waiting for the printer"))
      << run.log;
}
