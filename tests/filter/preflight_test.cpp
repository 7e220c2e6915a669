// The preflight of the real rastertovkr binary against the printer
// simulator: the commands on the wire, the log, and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/fake_printer.h"
#include "support/run_filter.h"

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
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << t << "\n--- log:\n"
                                        << run.log;
    at = found + t.size();
  }
}

Bytes frames(std::initializer_list<const char*> codes) {
  Bytes out;
  for (const char* code : codes) {
    Bytes f = FakePrinter::Frame(code, {});
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// The first n command codes a run sent.
Codes firstCodes(const FilterRun& run, size_t n) {
  Codes codes = run.Codes();
  if (codes.size() > n) codes.resize(n);
  return codes;
}

const Codes kPreflight = {"$PJS", "!GVT", "!CRS"};

const char* const kRecoveryError =
    "ERROR: The printer did not report its status and was reset; the job was not printed.\n";

}  // namespace

TEST(Preflight, IdlePrinterIsQueriedAndTheJobOpensItsStreams) {
  FilterRun run = RunFilter(FilterSetup());
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  Bytes queries = frames({"$PJS", "!GVT", "!CRS"});
  ASSERT_GE(run.printerBytes.size(), queries.size());
  EXPECT_EQ(Bytes(run.printerBytes.begin(), run.printerBytes.begin() + long(queries.size())),
            queries);
  expectInOrder(run, {
      "[S] PrintJobStatus\r\n",
      "[->]SendRecvProc fn() Entry\n",
      "DEBUG: VKCL_PrintJobStatus = [0], nRcvlen = [7]\n",
      "[E] PrintJobStatus : 0\r\n",
      "DEBUG: PJS [nRet=0][0][0][0][0][0][0][0]\r\n",
      "DEBUG: pJob[0] = 0\n",
      "[S] GetPrinterVersion\r\n",
      "FW Version : 0123 (123)\r\n",
      "[E] GetPrinterVersion : 0\r\n",
      "DEBUG: GetPrinterVersion (0 0 1 23)\n",
      "[S] CheckRibbon\r\n",
      "[E] CheckRibbon : 0\r\n",
      "DEBUG: CheckRibbonSensor (0 31)\n",
      "DEBUG: rastertovkr pwg testtest DEBUG: rastertovkr pwg testtest2 (",
      "DEBUG: rastertovkr num_options (0)\n",
      "DEBUG: cupsGetOption CardRibbon NULL",
      "g_Dev.poption.nColorType : 0\r\n",
      "g_Dev.poption.nStyle : 0\r\n",
      "DEBUG: rastertovkr testtest1 DEBUG: rastertovkr image/pwg-raster ",
  });
  EXPECT_FALSE(run.LogHas("ERROR:"));
  EXPECT_FALSE(run.LogHas("nCheck ImageLog"));
}

TEST(Preflight, JobInProgressIsNotedAndTheJobGoesOn) {
  FilterSetup setup;
  // Busy at the start, idle when the job's completion is awaited.
  setup.simRules = {"$PJS ack 01 05 0a 0b 0c 0d 0e", "$PJS ack 00 05 00 00 00 00 00"};
  setup.env = {{"FINAL_CONTENT_TYPE", "image/urf"}};
  FilterRun run = RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.LogHas("DEBUG: PJS [nRet=0][1][5][a][b][c][d][e]\r\n"));
  EXPECT_LT(run.LogAt("DEBUG: PJS [nRet=0][1][5]"), run.LogAt("[S] GetPrinterVersion"));
  EXPECT_FALSE(run.LogHas("DEBUG: PJS [nRet=0][1][5][a][b][c][d][e]\r\nDEBUG: pJob"));
  EXPECT_EQ(firstCodes(run, 3), kPreflight);
  EXPECT_TRUE(run.LogHas("DEBUG: rastertovkr image/urf "));
}

TEST(Preflight, SilentPrinterRunsRecoveryAndFailsTheJob) {
  FilterSetup setup;
  setup.simRules = {"$PJS silent"};
  FilterRun run = RunFilter(setup);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "$CPJ", "!CSS", "!RCE"}));
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_EQ(run.frames[1].params, Bytes{0x00});  // no status ever arrived: job number 0
  expectInOrder(run, {
      "[->]SendRecvProc fn() - Fail \nRecv Data faild..... ",
      "DEBUG: VKCL_PrintJobStatus = [-1], nRcvlen = [0]\n",
      "[E] PrintJobStatus : -1\r\n",
      "DEBUG: PJS [nRet=-1][0][0][0][0][0][0][0]\r\n",
      "[S] CancelPrintJob\r\n",
      "[E] CancelPrintJob : 0\r\n",
      "[E] CheckPrinterStatus : 0\r\n",
      "DEBUG: CheckPrinterStatus Code [0][00]\n",
      "[E] ClearErrorStatus : 0\r\n",
      kRecoveryError,
  });
  EXPECT_FALSE(run.LogHas("GetPrinterVersion"));
  EXPECT_FALSE(run.LogHas("num_options"));
}

// Every way the preflight can fail: what was sent, what was logged, exit 1.
TEST(Preflight, FailuresEndTheJob) {
  const Codes recovery = {"$PJS", "$CPJ", "!CSS", "!RCE"};
  struct Case {
    std::vector<std::string> rules;
    Codes codes;  // empty: not checked
    std::vector<std::string> lines;
    const char* absent;
    const char* ppd;  // nullptr: no PPD set
  } cases[] = {
      {{"$PJS ack noesc 01 05", "!CSS error 03"}, recovery,
       {"DEBUG: CheckPrinterStatus Code [3][03]\n", kRecoveryError}, "GetPrinterVersion", ""},
      {{"$PJS raw 00", "$CPJ error 04"}, {"$PJS", "$CPJ"},
       {"[E] CancelPrintJob : 4\r\nDEBUG: CancelPrintJob Error 4\n"}, "ERROR:", ""},
      {{"$PJS raw 00", "!RCE nak"}, recovery,
       {"[E] ClearErrorStatus : 9\r\nDEBUG: ClearErrorStatus Error 9\n"}, kRecoveryError, ""},
      {{"!GVT nak"}, {"$PJS", "!GVT"},
       {"[E] GetPrinterVersion : 9\r\nDEBUG: GetPrinterVersion Error 9\n"}, "CheckRibbon", ""},
      {{"!CRS error 02"}, kPreflight,
       {"[E] CheckRibbon : 2\r\nDEBUG: CheckRibbonSensor Error 2\n"}, "testtest", ""},
      // Replies too long for the buffers, or without their CR, count as no answer.
      {{"!GVT ack fill=2000:12", "!CRS ack 00 33 fill=5000"}, kPreflight,
       {"FW Version : 1212 (1212)\r\n", "DEBUG: GetPrinterVersion (12 12 12 12)\n",
        "DEBUG: CheckRibbonSensor Error -1\n"}, "testtest", ""},
      {{"!GVT ack len=100000 00 00 01 23"}, {}, {"DEBUG: GetPrinterVersion Error -1\n"}, "", ""},
      {{"!GVT ack nocr 00 00 01 23"}, {}, {"DEBUG: GetPrinterVersion Error -1\n"}, "FW Version", ""},
      // The PPD is opened after the printer was queried.
      {{}, kPreflight, {"DEBUG: rastertovkr pwg testtest2 (", "DEBUG: NULL PPD file pointer on line 0.\n"},
       "num_options", nullptr},
      {{}, kPreflight, {"DEBUG: Unable to open PPD file on line 0.\n"}, "num_options",
       "/nonexistent/printer.ppd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules.empty() ? "PPD" : c.rules[0]);
    FilterSetup setup;
    setup.simRules = c.rules;
    setup.setPpd = c.ppd != nullptr;
    if (c.ppd && *c.ppd) setup.ppd = c.ppd;
    FilterRun run = RunFilter(setup);
    EXPECT_EQ(run.exitStatus, 1) << run.log;
    EXPECT_TRUE(c.codes.empty() || run.Codes() == c.codes) << run.log;
    expectInOrder(run, c.lines);
    EXPECT_TRUE(!*c.absent || !run.LogHas(c.absent)) << run.log;
  }
}

TEST(Preflight, BlackRibbonDetectedDecidesUnlistedChoices) {
  FilterSetup black;
  black.simRules = {"!CRS ack 00 35"};
  black.Options("CardRibbon=K");
  FilterRun run = RunFilter(black);
  EXPECT_EQ(run.exitStatus, 0);
  expectInOrder(run, {"DEBUG: CheckRibbonSensor (0 35)\n", "DEBUG: rastertovkr num_options (1)\n",
                      "DEBUG: cupsGetOption CardRibbon (K)\n", "DEBUG: CardRibbon (K) color(4)\n",
                      "g_Dev.poption.nRibbon : 4\r\n"});

  black.Options("CardRibbon=Auto CardBrightness=60");
  run = RunFilter(black);
  expectInOrder(run, {"DEBUG: rastertovkr num_options (2)\n", "g_Dev.poption.nRibbon : 4\r\n",
                      "g_Dev.poption.nBrightness : 60\r\n"});
}

TEST(Preflight, WrongArgumentCountPrintsUsageAndSendsNothing) {
  for (std::vector<std::string> args : {std::vector<std::string>{"1", "user", "title", "1", "", "file", "extra"},
                                        std::vector<std::string>{"1", "user", "title", "1"}}) {
    FilterSetup setup;
    setup.args = args;
    FilterRun run = RunFilter(setup);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.PrinterText(), "Usage: rastertovkr pwg job user title copies options [filename]\n");
    EXPECT_TRUE(run.frames.empty());
    EXPECT_EQ(run.log, "");
  }
}

TEST(Preflight, InputFileIsOpenedOrTheJobFails) {
  FilterSetup missing;
  missing.inputFile = "/nonexistent/job.ras";
  FilterRun run = RunFilter(missing);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.log, "ERROR: Unable to open print file: No such file or directory\n");
  EXPECT_TRUE(run.printerBytes.empty());

  FilterSetup present;
  present.inputFile = std::string(vkrtest::TestDataDir()) + "/test.ppd";  // not a raster: no page
  run = RunFilter(present);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.LogHas("ERROR: No pages were found.\n"));
  EXPECT_EQ(run.Codes(), kPreflight);
}

TEST(ImageLog, UnwritableFileFailsTheJobOnStandardOutput) {
  std::string dir = vkrtest::MakeTempDir();
  ASSERT_EQ(mkdir((dir + "/test_pwg.raster").c_str(), 0700), 0);  // a folder cannot be opened "wb"
  FilterSetup setup;
  setup.tmpDir = dir;
  setup.Options("CardBlackCheck=Check");
  FilterRun run = RunFilter(setup);
  vkrtest::RemoveTree(dir);
  EXPECT_EQ(run.exitStatus, 1);
  Bytes queries = frames({"$PJS", "!GVT", "!CRS"});
  std::string text = run.PrinterText();
  EXPECT_EQ(text.substr(0, queries.size()), std::string(queries.begin(), queries.end()));
  EXPECT_EQ(text.substr(queries.size()), "test_pwg.raster FAIL (Is a directory)\n");
  EXPECT_TRUE(run.LogHas("g_Dev.poption.nCheck : 1\r\ng_Dev.poption.nStyle : 0\r\nDEBUG: nCheck ImageLog Set"));
  EXPECT_FALSE(run.LogHas("fileno"));
  EXPECT_FALSE(run.LogHas("testtest1"));
}
