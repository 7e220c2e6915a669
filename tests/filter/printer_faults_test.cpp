// A printer that is silent at each exchange, refuses, reports an error
// number, answers with a broken, overlong or short reply, or whose back
// channel is closed; a job cancelled (SIGTERM) or whose backend has gone
// (standard output closed); through the real filter, the relay and the
// simulator. Every case ends in its defined outcome (the stated lines and
// exit status, never a signal) within the stated waits, and every command
// written is whole.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "fault_relay.h"
#include "support/run_filter.h"
#include "raster_pages.h"

using namespace rastertest;

namespace {

using Codes = std::vector<std::string>;
const Codes kVersion = {"$PJS", "!GVT"};
const Codes kPreflight = {"$PJS", "!GVT", "!CRS"};
const Codes kCardRefused = {"$PJS", "!GVT", "!CRS", "$PTS"};
const Codes kWholeJob = {"$PJS", "!GVT", "!CRS", "$PTS", "$PJS"};
const Codes kResetAtStart = {"$PJS", "$CPJ", "!CSS", "!RCE"};
const Codes kResetAtEnd = {"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$CPJ", "!CSS", "!RCE"};
const char kIdle[] = "$PJS ack 00 05 00 00 00 00 00";
const char kStartReset[] =
    "ERROR: The printer did not report its status and was reset; the job was not printed.\n";
const char kDone[] = "DEBUG: pJob[0] = 0\n";
const char kEndCheck[] = "DEBUG: CheckPrinterStatus Code";

struct Case {
  const char* name;
  std::vector<std::string> rules;
  int exitStatus;
  std::vector<std::string> lines;  // each must be in the log
  Codes codes;
  bool backChannelClosed = false;
  double maxSeconds = 4;  // without a silent exchange: well under a second, plus the card
};

faultrelay::RelayRun runCase(const Case& c) {
  faultrelay::RelaySetup setup;
  setup.stdinBytes = WriteRaster({Filled(Rgb{120, 140, 160})});
  setup.simRules = c.rules;
  setup.backChannelClosed = c.backChannelClosed;
  return faultrelay::Run(setup);
}

void expectOutcome(const Case& c, const faultrelay::RelayRun& run, double maxSeconds) {
  SCOPED_TRACE(c.name);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, c.exitStatus) << run.log;
  for (const std::string& line : c.lines) EXPECT_TRUE(run.LogHas(line)) << line << "\n" << run.log;
  EXPECT_EQ(run.Codes(), c.codes);
  EXPECT_TRUE(run.AllFramesWhole());
  EXPECT_LT(run.seconds, maxSeconds);
}

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

TEST(PrinterFaults, SilentOrUnfinishedAnswerCostsOneReadTimeOut) {
  const std::vector<Case> cases = {
      {"status at start", {"$PJS silent"}, 1, {"DEBUG: PJS [nRet=-1]", kStartReset}, kResetAtStart},
      {"version", {"!GVT silent"}, 1, {"DEBUG: GetPrinterVersion Error -1\n"}, kVersion},
      {"ribbon", {"!CRS silent"}, 1, {"DEBUG: CheckRibbonSensor Error -1\n"}, kPreflight},
      // Silence to the card command refuses nothing: the job status decides.
      {"card", {"$PTS silent"}, 0, {"(-1)\n", kDone}, kWholeJob},
      {"status at end", {kIdle, "$PJS silent"}, 0, {"DEBUG: PJS[nRet=-1]", kEndCheck}, kResetAtEnd},
      // An answer whose length field claims more than ever arrives is waited
      // for until the time-out, then counts as no reply.
      {"length beyond the data", {"!GVT ack 01 02 03 04 len=100"}, 1,
       {"DEBUG: GetPrinterVersion Error -1\n"}, kVersion},
      {"largest length", {"!CRS ack 00 35 len=2147483647"}, 1,
       {"DEBUG: CheckRibbonSensor Error -1\n"}, kPreflight},
      {"bare ESC", {"!CRS raw 1b"}, 1, {"DEBUG: CheckRibbonSensor Error -1\n"}, kPreflight},
      {"no CR after a payload", {"!GVT ack 01 02 03 04 nocr"}, 1,
       {"DEBUG: GetPrinterVersion Error -1\n"}, kVersion},
      // Without a payload the length field alone delimits the reply.
      {"no CR, no payload", {"!CRS ack nocr"}, 0, {kDone}, kWholeJob},
  };
  // Each case waits out one real five-second read; they run side by side.
  std::vector<std::future<faultrelay::RelayRun>> runs;
  for (const Case& c : cases) runs.push_back(std::async(std::launch::async, runCase, c));
  for (size_t i = 0; i < cases.size(); ++i) {
    const faultrelay::RelayRun run = runs[i].get();
    expectOutcome(cases[i], run, 12.0);
    EXPECT_GE(run.seconds, 4.5) << cases[i].name << ": the read time-out is five seconds";
  }
}

TEST(PrinterFaults, RefusalsErrorsBrokenRepliesAndAClosedBackChannelEndAsDefined) {
  for (const Case& c : std::vector<Case>{
      {"NAK status at start", {"$PJS nak"}, 1, {"DEBUG: PJS [nRet=9]", kStartReset}, kResetAtStart},
      {"NAK version", {"!GVT nak"}, 1,
       {"[E] GetPrinterVersion : 9\r\nDEBUG: GetPrinterVersion Error 9\n"}, kVersion},
      // A refused card fails the job at once: no status poll, no further card.
      {"NAK card", {"$PTS nak"}, 1, {"ERROR: The printer refused the card (NAK).\n"}, kCardRefused},
      {"error 31 card", {"$PTS error 31"}, 1, {"ERROR: The printer refused the card (error 49).\n"},
       kCardRefused},
      {"error class with the NAK code card", {"$PTS error 15"}, 1,
       {"ERROR: The printer refused the card (NAK).\n"}, kCardRefused},
      {"error code outside the error class card", {"$PTS status 00 31"}, 0, {kDone}, kWholeJob},
      {"error code outside the error class", {"!GVT status 00 03 01 02 03 04"}, 0,
       {"DEBUG: GetPrinterVersion (1 2 3 4)\n"}, kWholeJob},
      {"error 42 status at start", {"$PJS error 42"}, 1, {"DEBUG: PJS [nRet=66]", kStartReset},
       kResetAtStart},
      {"NAK status at end", {kIdle, "$PJS nak"}, 0, {"DEBUG: PJS[nRet=9]", kEndCheck}, kResetAtEnd},
      // The recovery after a failed status: each of its steps may fail too.
      {"NAK cancel", {"$PJS nak", "$CPJ error 04"}, 1,
       {"[E] CancelPrintJob : 4\r\nDEBUG: CancelPrintJob Error 4\n"}, {"$PJS", "$CPJ"}},
      {"error 03 printer status", {"$PJS nak", "!CSS error 03"}, 1,
       {"DEBUG: CheckPrinterStatus Code [3][03]\n", kStartReset}, kResetAtStart},
      {"error 05 clearing", {"$PJS nak", "!RCE error 05"}, 1, {"DEBUG: ClearErrorStatus Error 5\n"},
       kResetAtStart},
      {"NAK cancel at end", {kIdle, "$PJS nak", "$CPJ nak"}, 1,
       {"ERROR: CancelPrintJob :: Fail !!, nRet = [9]\n", "DEBUG: CancelPrintJob Error 9\n"},
       {"$PJS", "!GVT", "!CRS", "$PTS", "$PJS", "$CPJ"}},
      {"error 05 clearing at end", {kIdle, "$PJS nak", "!RCE error 05"}, 1,
       {"ERROR: ClearErrorStatus :: Fail !!, nRet = [5]\n", "DEBUG: ClearErrorStatus Error 5\n"},
       kResetAtEnd},
      // Malformed replies count as no reply.
      {"no ESC version", {"!GVT ack 01 02 03 04 noesc"}, 1, {"DEBUG: GetPrinterVersion Error -1\n"},
       kVersion},
      {"garbage", {"!GVT raw 00 ff 1b 0d"}, 1, {"DEBUG: GetPrinterVersion Error -1\n"}, kVersion},
      // A status without the job state leaves nothing to wait on: the
      // completion wait recovers the printer.
      {"negative length", {"$PJS ack 01 05 00 00 00 00 00 len=-5"}, 0,
       {"DEBUG: PJS [nRet=0][0][0][0][0][0][0][0]",
        "DEBUG: Job status answered without the job state.\n"}, kResetAtEnd},
      // A long version answer keeps its first four bytes.
      {"version 2000 bytes", {"!GVT ack fill=2000:12"}, 0,
       {"FW Version : 1212 (1212)\r\n", "DEBUG: GetPrinterVersion (12 12 12 12)\n"}, kWholeJob},
      // 9000 bytes of payload: the answer is read up to 8191 bytes and the
      // reply area keeps 4096; the length field claims more than arrived.
      {"version", {"!GVT ack 01 02 03 04 fill=9000"}, 1, {"DEBUG: GetPrinterVersion Error -1\n"},
       kVersion},
      {"ribbon", {"!CRS ack 00 35 fill=9000"}, 1,
       {"(8191)\n", "DEBUG: CheckRibbonSensor Error -1\n"}, kPreflight},
      // The card's answer is read on past the first 63 bytes; what is left
      // beyond the read limit is dropped before the next command.
      {"card, 72-byte ACK", {"$PTS ack fill=60"}, 0, {"(72)\n", kDone}, kWholeJob},
      {"card, 9012-byte ACK", {"$PTS ack fill=9000"}, 0,
       {"(8191)\n", "DEBUG: Dropped 821 bytes the printer left unread: 41 41", kDone}, kWholeJob},
      // The end of the back channel is seen at once, not after the time-out.
      {"closed back channel", {}, 1, {"DEBUG: PJS [nRet=-1]", "DEBUG: CancelPrintJob Error -1\n"},
       {"$PJS", "$CPJ"}, true, 2.0},
  })
    expectOutcome(c, runCase(c), c.maxSeconds);
}

TEST(Cancel, AMaintenanceJobStopsAfterTheCommandInProgress) {
  // The command filter: the beep being sent is finished, the rest is not sent.
  faultrelay::RelaySetup setup;
  setup.program = vkrtest::CommandFilterBinary();
  const std::string commands = "#CUPS-COMMAND\nBeep\nBeep\nPrintSelfTestPage\nReportLevels\n";
  setup.stdinBytes.assign(commands.begin(), commands.end());
  setup.sigtermAfterFrames = 1;
  const faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Codes{"!RBZ"}) << run.log;
  EXPECT_TRUE(run.LogHas("DEBUG: Job cancelled; the remaining commands are skipped\n")) << run.log;
}

TEST(Cancel, StopsBeforeTheNextCommandAndLeavesEveryCommandWhole) {
  faultrelay::RelaySetup setup;
  setup.sigtermAfterFrames = 1;
  faultrelay::RelayRun run = RunWith({Filled(Rgb{128, 128, 128})}, setup);
  EXPECT_TRUE(run.LogHas(kCanceled)) << run.log;
  EXPECT_EQ(run.Codes(), Codes{"$PJS"});

  // While the card command is being written: it is finished whole, the
  // second page is not sent and no status poll follows.
  setup.sigtermAfterFrames = 3;
  setup.sigtermMidFrame = true;
  run = RunWith({Noise(), Filled(Rgb{128, 128, 128})}, setup);
  EXPECT_EQ(run.framesAtSignal, 3);
  EXPECT_TRUE(run.LogHas(kCanceled));
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS"}));
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_GT(run.frames[3].declared, 65536u) << "the command must outgrow one pipe buffer";

  // Idle at the preflight, then busy for ever: only a cancel ends the wait.
  faultrelay::RelaySetup busy;
  busy.simRules = {"$PJS ack 00 05 00 00 00 00 00", "$PJS ack 01 05 00 00 00 00 00"};
  busy.sigtermAfterFrames = 7;  // preflight, card, three polls
  run = RunWith({Filled(Rgb{128, 128, 128})}, busy);
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
    faultrelay::RelayRun run = RunWith({Filled(Rgb{128, 128, 128})}, setup);
    EXPECT_TRUE(run.LogHas(kWriteFailed)) << run.log;
    EXPECT_EQ(run.Codes(), Codes(sent.begin(), sent.begin() + closeAfter));
  }
}
