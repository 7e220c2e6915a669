// How the filter behaves towards CUPS when a job is cancelled (SIGTERM) or
// the backend goes away (standard output closed): it stops at a safe point,
// every command it wrote is whole, and it ends with an exit status instead
// of a signal.
#include <gtest/gtest.h>

#include <cstdint>
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
    uint32_t v = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
  };
  return p;
}

PageSpec Grey() { return Filled(Rgb{128, 128, 128}); }

}  // namespace

TEST(Cancel, DuringThePreflightNoFurtherCommandIsSent) {
  faultrelay::RelaySetup setup;
  setup.stdinBytes = WriteRaster({Grey()});
  setup.sigtermAfterFrames = 1;
  faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1) << run.log;
  EXPECT_TRUE(run.LogHas(kCanceled)) << run.log;
  EXPECT_EQ(run.Codes(), Codes{"$PJS"});
  EXPECT_TRUE(run.AllFramesWhole());
}

TEST(Cancel, CardCommandBeingWrittenIsFinishedWholeAndNothingFollows) {
  faultrelay::RelaySetup setup;
  setup.stdinBytes = WriteRaster({Noise(), Grey()});
  setup.sigtermAfterFrames = 3;  // after the preflight, while "$PTS" is on its way
  setup.sigtermMidFrame = true;
  faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.framesAtSignal, 3);
  EXPECT_EQ(run.exitStatus, 1) << run.log;
  EXPECT_TRUE(run.LogHas(kCanceled));
  // The first card's command went out whole; the second page was not sent
  // and no status poll followed.
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS"}));
  EXPECT_TRUE(run.AllFramesWhole());
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_GT(run.frames[3].declared, 65536u) << "the command must outgrow one pipe buffer";
}

TEST(Cancel, BusyPrinterPollingStopsAtTheNextPoll) {
  faultrelay::RelaySetup setup;
  setup.stdinBytes = WriteRaster({Grey()});
  // Idle at the preflight, then busy for ever: only a cancel ends the wait.
  setup.simRules = {"$PJS ack 00 05 00 00 00 00 00", "$PJS ack 01 05 00 00 00 00 00"};
  setup.sigtermAfterFrames = 7;  // preflight, card, three polls
  faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1) << run.log;
  EXPECT_TRUE(run.LogHas(kCanceled));
  EXPECT_LE(run.frames.size(), size_t(run.framesAtSignal + 1));
  EXPECT_TRUE(run.AllFramesWhole());
  EXPECT_FALSE(run.LogHas("$CPJ"));
}

TEST(BackendGone, ClosedPrinterStreamEndsTheJobWithAnError) {
  struct Case {
    int closeAfter;
    Codes sent;
  } cases[] = {
      {1, {"$PJS"}},                         // before the version query
      {3, {"$PJS", "!GVT", "!CRS"}},         // before the card
      {4, {"$PJS", "!GVT", "!CRS", "$PTS"}}, // before the completion wait
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.closeAfter);
    faultrelay::RelaySetup setup;
    setup.stdinBytes = WriteRaster({Grey()});
    setup.closeStdoutAfterFrames = c.closeAfter;
    faultrelay::RelayRun run = faultrelay::Run(setup);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 1) << run.log;  // not killed by SIGPIPE (141)
    EXPECT_TRUE(run.LogHas(kWriteFailed)) << run.log;
    EXPECT_EQ(run.Codes(), c.sent);
    EXPECT_TRUE(run.AllFramesWhole());
  }
}
