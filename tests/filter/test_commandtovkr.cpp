// The command filter run as CUPS runs it for a maintenance job, against the
// printer simulator: the commands it sends, the supply report it gives CUPS
// and its exit status when the printer refuses or does not answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_filter.h"

namespace {

using Codes = std::vector<std::string>;

// A maintenance job: the command file on standard input.
vkrtest::FilterSetup commandJob(const std::string& commands) {
  vkrtest::FilterSetup setup;
  setup.program = vkrtest::CommandFilterBinary();
  setup.stdinBytes.assign(commands.begin(), commands.end());
  setup.timeoutSeconds = 60;
  return setup;
}

vkrtest::FilterRun runCommands(const std::string& commands,
                               const std::vector<std::string>& rules = {}) {
  vkrtest::FilterSetup setup = commandJob(commands);
  setup.simRules = rules;
  return vkrtest::RunFilter(setup);
}

// Runs the command filter the way a person might from a shell: no back
// channel at all (descriptor 3 closed). Returns the exit status (-1 when it
// had to be killed after timeoutSeconds) and the log.
int runWithoutBackChannel(const std::string& commands, std::string* log, int timeoutSeconds) {
  const std::string dir = vkrtest::MakeTempDir();
  const std::string in = dir + "/job.cmd", err = dir + "/filter.err";
  std::ofstream(in) << commands;
  pid_t child = fork();
  if (child == 0) {
    dup2(open(in.c_str(), O_RDONLY), 0);
    dup2(open("/dev/null", O_WRONLY), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    for (int fd = 3; fd < 64; ++fd) close(fd);
    execl(vkrtest::CommandFilterBinary(), "commandtovkr", "1", "user", "title", "1", "",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  int exitStatus = -1;
  for (int waited = 0; waited < timeoutSeconds * 100; ++waited) {
    if (waitpid(child, &status, WNOHANG) == child) {
      exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    usleep(10000);
  }
  if (exitStatus == -1) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  std::stringstream text;
  text << std::ifstream(err).rdbuf();
  *log = text.str();
  vkrtest::RemoveTree(dir);
  return exitStatus;
}

}  // namespace

TEST(CommandFilter, PrintSelfTestPageSendsTheSelfTestCommand) {
  vkrtest::FilterRun run = runCommands("#CUPS-COMMAND\nPrintSelfTestPage\n");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(), Codes{"!RSP"});
  EXPECT_EQ(run.frames[0].params, (vkrsim::Bytes{0x01}));
  EXPECT_TRUE(run.LogHas("[S] SelfPrinting\r\n"));
  EXPECT_TRUE(run.LogHas("[E] SelfPrinting : 0\r\n"));
  EXPECT_TRUE(run.LogHas("INFO: Printing the self-test page\n"));
  EXPECT_FALSE(run.LogHas("ERROR:"));
}

TEST(CommandFilter, CleanRunsTheCleaningWithoutACommand) {
  vkrtest::FilterRun run = runCommands("#CUPS-COMMAND\nClean\n");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.printerBytes.empty());
  EXPECT_TRUE(run.LogHas("[S] CleaningPrinter\r\n[E] CleaningPrinter : 0\r\n"));
}

TEST(CommandFilter, ReportLevelsReportsTheRibbonAsAMarker) {
  vkrtest::FilterRun run =
      runCommands("#CUPS-COMMAND\nReportLevels\n", {"!CRC ack 01 2c", "!GPC ack 00 01 e2 40"});
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), (Codes{"!CRC", "!GPC"}));
  EXPECT_TRUE(run.LogHas("ATTR: marker-colors=none\n"));
  EXPECT_TRUE(run.LogHas("ATTR: marker-levels=-3\n"));
  EXPECT_TRUE(run.LogHas("ATTR: marker-names=Ribbon\n"));
  EXPECT_TRUE(run.LogHas("ATTR: marker-types=ink-ribbon\n"));
  EXPECT_TRUE(run.LogHas("INFO: Ribbon count 300, print count 123456\n"));
}

TEST(CommandFilter, ReportLevelsShowsAnEmptyOrUnknownRibbon) {
  vkrtest::FilterRun empty = runCommands("#CUPS-COMMAND\nReportLevels\n", {"!CRC ack 00 00"});
  EXPECT_EQ(empty.exitStatus, 0) << empty.log;
  EXPECT_TRUE(empty.LogHas("ATTR: marker-levels=0\n"));
  EXPECT_TRUE(empty.LogHas("INFO: Ribbon count 0, print count 1234\n"));

  // Answers without a count: the level and the counts are unknown.
  vkrtest::FilterRun unknown =
      runCommands("#CUPS-COMMAND\nReportLevels\n", {"!CRC ack", "!GPC ack"});
  EXPECT_EQ(unknown.exitStatus, 0) << unknown.log;
  EXPECT_TRUE(unknown.LogHas("ATTR: marker-levels=-1\n"));
  EXPECT_TRUE(unknown.LogHas("INFO: Ribbon count unknown, print count unknown\n"));
}

TEST(CommandFilter, CommandsRunInOrderAndSeeThePrinterChange) {
  // A self-test print uses ribbon and counts as a print.
  vkrtest::FilterRun run = runCommands(
      "#CUPS-COMMAND\n"
      "# levels before and after a self-test print\n"
      "ReportLevels\n"
      "\n"
      "PrintSelfTestPage\n"
      "AutoConfigure now\n"
      "ReportLevels\n");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), (Codes{"!CRC", "!GPC", "!RSP", "!CRC", "!GPC"}));
  const size_t before = run.LogAt("INFO: Ribbon count 500, print count 1234\n");
  const size_t after = run.LogAt("INFO: Ribbon count 499, print count 1235\n");
  ASSERT_NE(before, std::string::npos) << run.log;
  ASSERT_NE(after, std::string::npos) << run.log;
  EXPECT_LT(before, after);
  EXPECT_TRUE(run.LogHas("DEBUG: Unknown command \"AutoConfigure\" skipped\n"));
}

TEST(CommandFilter, BeepPassesItsNumbersToTheBuzzer) {
  vkrtest::FilterRun run = runCommands("#CUPS-COMMAND\nBeep\nBeep 291 5 3840\nBeep loud\n");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(), (Codes{"!RBZ", "!RBZ"}));
  EXPECT_EQ(run.frames[0].params, (vkrsim::Bytes{0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(run.frames[1].params, (vkrsim::Bytes{0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}));
  EXPECT_TRUE(run.LogHas("DEBUG: Beep needs three numbers, got \"loud\"; skipped\n"));
}

TEST(CommandFilter, CommandFileNamedOnTheCommandLine) {
  const std::string dir = vkrtest::MakeTempDir();
  const std::string path = dir + "/job.cmd";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("#CUPS-COMMAND\r\nPrintSelfTestPage\r\n", f);
  fclose(f);
  vkrtest::FilterSetup setup = commandJob("");
  setup.inputFile = path;
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  vkrtest::RemoveTree(dir);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), Codes{"!RSP"});
}

TEST(CommandFilter, RefusingPrinterFailsTheJobAndStopsThere) {
  vkrtest::FilterRun run =
      runCommands("#CUPS-COMMAND\nPrintSelfTestPage\nReportLevels\n", {"!RSP nak"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.Codes(), Codes{"!RSP"});
  EXPECT_TRUE(
      run.LogHas("ERROR: Self-test print failed: the printer refused the command (9)\n"));

  vkrtest::FilterRun error = runCommands("#CUPS-COMMAND\nReportLevels\n", {"!CRC error 05"});
  EXPECT_EQ(error.exitStatus, 1);
  EXPECT_EQ(error.Codes(), Codes{"!CRC"});
  EXPECT_TRUE(error.LogHas("ERROR: Ribbon count query failed: printer error 5 (5)\n"));
  EXPECT_FALSE(error.LogHas("ATTR:"));
}

TEST(CommandFilter, SilentPrinterFailsTheJob) {
  vkrtest::FilterRun run =
      runCommands("#CUPS-COMMAND\nReportLevels\nPrintSelfTestPage\n", {"!CRC ack 01 f4", "!GPC silent"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.Codes(), (Codes{"!CRC", "!GPC"}));
  EXPECT_TRUE(run.LogHas("ATTR: marker-levels=-3\n"));  // what was learnt is still reported
  EXPECT_TRUE(run.LogHas("ERROR: Print count query failed: the printer did not answer (-1)\n"));
  EXPECT_FALSE(run.LogHas("INFO: Ribbon count"));
}

TEST(CommandFilter, WhatIsNotACommandFileIsRefused) {
  vkrtest::FilterRun run = runCommands("%!PS-Adobe-3.0\nPrintSelfTestPage\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.printerBytes.empty());
  EXPECT_TRUE(run.LogHas("ERROR: Not a CUPS command file\n"));

  vkrtest::FilterRun empty = runCommands("");
  EXPECT_EQ(empty.exitStatus, 1);
  EXPECT_TRUE(empty.LogHas("ERROR: Not a CUPS command file\n"));

  vkrtest::FilterSetup missing = commandJob("");
  missing.inputFile = "/nonexistent/job.cmd";
  vkrtest::FilterRun none = vkrtest::RunFilter(missing);
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_TRUE(none.LogHas("ERROR: Unable to open command file \"/nonexistent/job.cmd\""));

  vkrtest::FilterSetup shortArgs = commandJob("#CUPS-COMMAND\nClean\n");
  shortArgs.args = {"1", "user", "title"};
  vkrtest::FilterRun usage = vkrtest::RunFilter(shortArgs);
  EXPECT_EQ(usage.exitStatus, 1);
  EXPECT_TRUE(usage.LogHas("Usage: commandtovkr job-id user title copies options [file]\n"));
}

TEST(CommandFilter, NoBackChannelFailsTheJobInsteadOfHanging) {
  std::string log;
  int status = runWithoutBackChannel("#CUPS-COMMAND\nReportLevels\n", &log, 20);
  EXPECT_EQ(status, 1) << log;
  EXPECT_NE(log.find("ERROR: Ribbon count query failed: the printer did not answer (-1)\n"),
            std::string::npos)
      << log;
}
