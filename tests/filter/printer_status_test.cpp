// The printer's status around a job, through the real rastertovkr and the
// simulator: the preflight (the commands on the wire, the log and the exit
// status) and the wait for the printer to finish the card (busy polls, polls
// without the job state, the pauses between them, the INFO lines CUPS shows).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_pages.h"
#include "support/fake_printer.h"
#include "support/run_filter.h"

using namespace rastertest;
using vkrtest::FilterRun;
using vkrtest::FilterSetup;
using vkrtest::RunFilter;
using Codes = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

// Checks that the texts appear in the log in this order.
void expectInOrder(const FilterRun& run, const std::vector<std::string>& texts) {
  size_t at = 0;
  for (const std::string& t : texts) {
    size_t found = run.log.find(t, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << t << "\n" << run.log;
    at = found + t.size();
  }
}

const Codes kPreflight = {"$PJS", "!GVT", "!CRS"};
const char* const kRecoveryError =
    "ERROR: The printer did not report its status and was reset; the job was not printed.\n";
const char kWaiting[] = "INFO: Waiting for the printer to finish the card\n";
const char kBusy[] = "INFO: The printer is still printing the card\n";
const char kFinished[] = "INFO: The printer has finished the card\n";

// A one-card job against a printer answering by these rules.
FilterRun printOne(const std::vector<std::string>& rules, const std::string& contentType = "") {
  FilterSetup setup;
  if (!contentType.empty()) setup.env = {{"FINAL_CONTENT_TYPE", contentType}};
  setup.stdinBytes = WriteRaster({Filled(Rgb{120, 140, 160})});
  setup.simRules = rules;
  setup.timeoutSeconds = 20;
  return RunFilter(setup);
}

// How often text stands in the log.
size_t Count(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size()) ++n;
  return n;
}

}  // namespace

TEST(Preflight, IdlePrinterIsQueriedAndAnEmptyJobStillWaitsForItsEnd) {
  FilterRun run = RunFilter(FilterSetup());
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PJS"}));
  EXPECT_FALSE(run.LogHas("OneCmdPrintingEx"));
  // The first INFO line starts on a line of its own.
  EXPECT_TRUE(run.LogHas("DEBUG: rastertovkr image/pwg-raster \nINFO: Waiting for the printer"));
  Bytes queries;
  for (const char* code : {"$PJS", "!GVT", "!CRS"}) {
    const Bytes f = FakePrinter::Frame(code, {});
    queries.insert(queries.end(), f.begin(), f.end());
  }
  ASSERT_GE(run.printerBytes.size(), queries.size());
  EXPECT_EQ(Bytes(run.printerBytes.begin(), run.printerBytes.begin() + long(queries.size())),
            queries);
  expectInOrder(run, {"DEBUG: VKCL_PrintJobStatus = [0], nRcvlen = [7]\n",
                      "DEBUG: PJS [nRet=0][0][0][0][0][0][0][0]\r\n", "DEBUG: pJob[0] = 0\n",
                      "FW Version : 0123 (123)\r\n", "DEBUG: GetPrinterVersion (0 0 1 23)\n",
                      "DEBUG: CheckRibbonSensor (0 31)\n",
                      "DEBUG: rastertovkr pwg testtest DEBUG: rastertovkr pwg testtest2 (",
                      "DEBUG: rastertovkr num_options (0)\n", "g_Dev.poption.nColorType : 0\r\n",
                      "DEBUG: rastertovkr testtest1 DEBUG: rastertovkr image/pwg-raster "});
  EXPECT_FALSE(run.LogHas("ERROR:"));
  EXPECT_FALSE(run.LogHas("nCheck ImageLog"));
}

TEST(Preflight, SilentPrinterRunsRecoveryAndFailsTheJob) {
  FilterSetup setup;
  setup.simRules = {"$PJS silent"};
  FilterRun run = RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "$CPJ", "!CSS", "!RCE"}));
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_EQ(run.frames[1].params, Bytes{0x00});  // no status ever arrived: job number 0
  expectInOrder(run, {"DEBUG: VKCL_PrintJobStatus = [-1], nRcvlen = [0]\n",
                      "DEBUG: PJS [nRet=-1][0][0][0][0][0][0][0]\r\n", "[E] CancelPrintJob : 0\r\n",
                      "DEBUG: CheckPrinterStatus Code [0][00]\n", "[E] ClearErrorStatus : 0\r\n",
                      kRecoveryError});
  EXPECT_FALSE(run.LogHas("GetPrinterVersion"));
  EXPECT_FALSE(run.LogHas("num_options"));
}

TEST(Preflight, PpdIsOpenedAfterThePrinterWasQueried) {
  struct Case {
    const char* ppd;  // nullptr: no PPD set
    const char* line;
  } cases[] = {{nullptr, "DEBUG: NULL PPD file pointer on line 0.\n"},
               {"/nonexistent/printer.ppd", "DEBUG: Unable to open PPD file on line 0.\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FilterSetup setup;
    setup.setPpd = c.ppd != nullptr;
    if (c.ppd) setup.ppd = c.ppd;
    FilterRun run = RunFilter(setup);
    EXPECT_EQ(run.exitStatus, 1) << run.log;
    EXPECT_EQ(run.Codes(), kPreflight);
    expectInOrder(run, {"DEBUG: rastertovkr pwg testtest2 (", c.line});
    EXPECT_FALSE(run.LogHas("num_options")) << run.log;
  }
}

TEST(Preflight, BlackRibbonDetectedDecidesUnlistedChoices) {
  FilterSetup black;
  black.simRules = {"!CRS ack 00 35"};
  black.Options("CardRibbon=Auto CardBrightness=60");
  FilterRun run = RunFilter(black);
  EXPECT_EQ(run.exitStatus, 0);
  expectInOrder(run, {"DEBUG: CheckRibbonSensor (0 35)\n", "DEBUG: rastertovkr num_options (2)\n",
                      "g_Dev.poption.nRibbon : 4\r\n", "g_Dev.poption.nBrightness : 60\r\n"});
  // The version's byte 1 is '5'; the sensor answers without a payload: no black ribbon.
  black.simRules = {"!GVT ack 00 35 01 23", "!CRS ack"};
  run = RunFilter(black);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectInOrder(run, {"DEBUG: GetPrinterVersion (0 35 1 23)\n", "DEBUG: CheckRibbonSensor (0 0)\n",
                      "g_Dev.poption.nRibbon : 0\r\n"});
}

TEST(Preflight, WrongArgumentsOrAMissingFileSendNothing) {
  using Args = std::vector<std::string>;
  const std::string usage = "Usage: rastertovkr pwg job user title copies options [filename]\n";
  struct Case {
    Args args;
    std::string file, log, printed;
  } cases[] = {
      {{"1", "user", "title", "1", "", "file", "extra"}, "", "", usage},
      {{"1", "user", "title", "1"}, "", "", usage},
      {{}, "/none/job.ras", "ERROR: Unable to open print file: No such file or directory\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    FilterSetup setup;
    if (!c.args.empty()) setup.args = c.args;
    setup.inputFile = c.file;
    FilterRun run = RunFilter(setup);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.PrinterText(), c.printed);
    EXPECT_EQ(run.log, c.log);
  }
  // A file that is there but no raster has no page.
  FilterSetup present;
  present.inputFile = std::string(vkrtest::TestDataDir()) + "/test.ppd";
  FilterRun run = RunFilter(present);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.LogHas("ERROR: No pages were found.\n"));
  EXPECT_EQ(run.Codes(), kPreflight);
}

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
