// How the filter behaves towards CUPS when a job is cancelled (SIGTERM) or
// the backend goes away (standard output closed): it stops at a safe point,
// every command it wrote is whole, and it ends with an exit status instead
// of a signal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_relay.h"
#include "raster_pages.h"

using namespace rastertest;

namespace {

using Codes = std::vector<std::string>;
const char kCanceled[] = "DEBUG: Job canceled; stopped before the next printer command.\n";
const char kWriteFailed[] = "ERROR: Unable to write print data: Broken pipe\n";

// A card whose picture is noise: its print command is megabytes long, so
// the filter is still writing it when the printer side reads slowly.
PageSpec Noise() {
  PageSpec p;
  p.pixel = [](int x, int y) {
    const uint32_t v = ((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) * 0x5bd1e995u) >> 7;
    return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
  };
  return p;
}

PageSpec Grey() { return Filled(Rgb{128, 128, 128}); }

// Runs one job of the given pages through the relay with the cancel or hang-up set up.
faultrelay::RelayRun RunWith(std::vector<PageSpec> pages, faultrelay::RelaySetup setup) {
  setup.stdinBytes = WriteRaster(pages);
  faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1) << run.log;  // not killed by SIGTERM or SIGPIPE
  EXPECT_TRUE(run.AllFramesWhole());
  return run;
}

}  // namespace

TEST(Cancel, StopsBeforeTheNextCommandAndLeavesEveryCommandWhole) {
  faultrelay::RelaySetup setup;
  setup.sigtermAfterFrames = 1;
  faultrelay::RelayRun run = RunWith({Grey()}, setup);
  EXPECT_TRUE(run.LogHas(kCanceled)) << run.log;
  EXPECT_EQ(run.Codes(), Codes{"$PJS"});

  // While the card command is being written: it is finished whole, the
  // second page is not sent and no status poll follows.
  setup.sigtermAfterFrames = 3;
  setup.sigtermMidFrame = true;
  run = RunWith({Noise(), Grey()}, setup);
  EXPECT_EQ(run.framesAtSignal, 3);
  EXPECT_TRUE(run.LogHas(kCanceled));
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS"}));
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_GT(run.frames[3].declared, 65536u) << "the command must outgrow one pipe buffer";

  // Idle at the preflight, then busy for ever: only a cancel ends the wait.
  faultrelay::RelaySetup busy;
  busy.simRules = {"$PJS ack 00 05 00 00 00 00 00", "$PJS ack 01 05 00 00 00 00 00"};
  busy.sigtermAfterFrames = 7;  // preflight, card, three polls
  run = RunWith({Grey()}, busy);
  EXPECT_TRUE(run.LogHas(kCanceled));
  EXPECT_LE(run.frames.size(), size_t(run.framesAtSignal + 1));
  EXPECT_FALSE(run.LogHas("$CPJ"));
}

TEST(BackendGone, ClosedPrinterStreamEndsTheJobWithAnError) {
  const Codes sent = {"$PJS", "!GVT", "!CRS", "$PTS"};
  // Before the version query, before the card, before the completion wait.
  for (int closeAfter : {1, 3, 4}) {
    SCOPED_TRACE(closeAfter);
    faultrelay::RelaySetup setup;
    setup.closeStdoutAfterFrames = closeAfter;
    faultrelay::RelayRun run = RunWith({Grey()}, setup);
    EXPECT_TRUE(run.LogHas(kWriteFailed)) << run.log;
    EXPECT_EQ(run.Codes(), Codes(sent.begin(), sent.begin() + closeAfter));
  }
}
