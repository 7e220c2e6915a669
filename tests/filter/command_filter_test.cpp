// The command filter run as CUPS runs it for a maintenance job, against the
// printer simulator: the commands it sends, the supply report it gives CUPS
// and its exit status when the printer refuses or does not answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_filter.h"

namespace {

using Codes = std::vector<std::string>;

// A maintenance job: the command file on standard input, the simulator answering by rules.
vkrtest::FilterSetup commandJob(const std::string& commands,
                                const std::vector<std::string>& rules = {}) {
  vkrtest::FilterSetup setup;
  setup.program = vkrtest::CommandFilterBinary();
  setup.stdinBytes.assign(commands.begin(), commands.end());
  setup.simRules = rules;
  return setup;
}

// Runs the command filter on these commands with no back channel (descriptor
// 3 closed), its standard output a pipe whose reader has gone when
// streamGone, else /dev/null; killed after 20 s. Its exit status (-1 for a
// signal) and log.
int runBare(const std::string& commands, bool streamGone, std::string* log) {
  const std::string dir = vkrtest::MakeTempDir();
  std::ofstream(dir + "/job.cmd") << commands;
  int fds[2];
  if (pipe(fds) != 0) return -2;
  close(fds[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    alarm(20);
    dup2(open((dir + "/job.cmd").c_str(), O_RDONLY), 0);
    dup2(streamGone ? fds[1] : open("/dev/null", O_WRONLY), 1);
    dup2(open((dir + "/filter.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    close(3);
    execl(vkrtest::CommandFilterBinary(), "commandtovkr", "1", "user", "title", "1", "",
          (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::stringstream text;
  text << std::ifstream(dir + "/filter.err").rdbuf();
  *log = text.str();
  vkrtest::RemoveTree(dir);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(CommandFilter, PrinterAnswersDecideTheReportAndTheExitStatus) {
  struct Case {
    const char* commands;
    std::vector<std::string> rules;
    int exit;
    Codes codes;
    std::vector<std::string> lines;
    const char* absent;
  } cases[] = {
      {"ReportLevels", {"!CRC ack 01 2c", "!GPC ack 00 01 e2 40"}, 0, {"!CRC", "!GPC"},
       {"ATTR: marker-colors=none\n", "ATTR: marker-levels=-3\n", "ATTR: marker-names=Ribbon\n",
        "ATTR: marker-types=ink-ribbon\n", "INFO: Ribbon count 300, print count 123456\n"},
       "ERROR"},
      {"ReportLevels", {"!CRC ack 00 00"}, 0, {"!CRC", "!GPC"},
       {"ATTR: marker-levels=0\n", "INFO: Ribbon count 0, print count 1234\n"}, "ERROR"},
      // Answers without a count: the level and the counts are unknown.
      {"ReportLevels", {"!CRC ack", "!GPC ack"}, 0, {"!CRC", "!GPC"},
       {"ATTR: marker-levels=-1\n", "INFO: Ribbon count unknown, print count unknown\n"}, "ERROR"},
      // A refusal, an error or silence fails the job and stops it there; what
      // was learnt is still reported.
      {"PrintSelfTestPage\nReportLevels", {"!RSP nak"}, 1, {"!RSP"},
       {"ERROR: Self-test print failed: the printer refused the command (9)\n"}, "ATTR:"},
      {"ReportLevels", {"!CRC error 05"}, 1, {"!CRC"},
       {"ERROR: Ribbon count query failed: printer error 5 (5)\n"}, "ATTR:"},
      {"ReportLevels\nPrintSelfTestPage", {"!CRC ack 01 f4", "!GPC silent"}, 1, {"!CRC", "!GPC"},
       {"ATTR: marker-levels=-3\n",
        "ERROR: Print count query failed: the printer did not answer (-1)\n"},
       "INFO: Ribbon count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules[0]);
    vkrtest::FilterRun run =
        vkrtest::RunFilter(commandJob("#CUPS-COMMAND\n" + std::string(c.commands) + "\n", c.rules));
    EXPECT_EQ(run.exitStatus, c.exit) << run.log;
    EXPECT_EQ(run.Codes(), c.codes);
    for (const std::string& line : c.lines) EXPECT_TRUE(run.LogHas(line)) << line << run.log;
    EXPECT_FALSE(run.LogHas(c.absent)) << run.log;
  }
}

TEST(CommandFilter, CommandsRunInOrderAndSeeThePrinterChange) {
  // A self-test print uses ribbon and counts as a print; the printer has no
  // cleaning command; unknown commands and bad numbers are skipped. A line
  // of 2000 bytes is one line: what stands past its first 1023 bytes is no
  // command of its own.
  const std::string tail = "PrintSelfTestPage";
  const std::string longComment = "#" + std::string(1022, 'x') + tail + std::string(960, ' ');
  const std::string longUnknown = "AutoConfigure" + std::string(1010, ' ') + tail + "\r\n";
  vkrtest::FilterRun run = vkrtest::RunFilter(commandJob(
      "#CUPS-COMMAND\n# levels before and after a self-test print\nReportLevels\n\n"
      "PrintSelfTestPage\n" + longComment + "\nClean\nBeep\nBeep 291 5 3840\nBeep loud\n" +
      longUnknown + "ReportLevels\n"));
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  ASSERT_EQ(run.Codes(), (Codes{"!CRC", "!GPC", "!RSP", "!RBZ", "!RBZ", "!CRC", "!GPC"}));
  EXPECT_EQ(run.frames[2].params, (vkrsim::Bytes{0x01}));
  EXPECT_EQ(run.frames[3].params, (vkrsim::Bytes{0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(run.frames[4].params, (vkrsim::Bytes{0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}));
  const size_t after = run.LogAt("INFO: Ribbon count 499, print count 1235\n");
  EXPECT_LT(run.LogAt("INFO: Ribbon count 500, print count 1234\n"), after) << run.log;
  EXPECT_NE(after, std::string::npos) << run.log;
  EXPECT_TRUE(run.LogHas("[S] SelfPrinting\r\n") && run.LogHas("[E] SelfPrinting : 0\r\n"));
  EXPECT_TRUE(run.LogHas("INFO: Printing the self-test page\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: The printer has no cleaning command; \"Clean\" skipped\n"));
  EXPECT_FALSE(run.LogHas("CleaningPrinter"));
  // Nor does the PPD offer CUPS a cleaning.
  std::ifstream ppd(std::string(vkrtest::TestDataDir()) + "/../../ppd/vk4400.ppd");
  std::string ppdLine, commands;
  while (std::getline(ppd, ppdLine))
    if (ppdLine.compare(0, 14, "*cupsCommands:") == 0) commands = ppdLine;
  EXPECT_EQ(commands, "*cupsCommands: \"PrintSelfTestPage ReportLevels\"");
  EXPECT_TRUE(run.LogHas("DEBUG: Beep needs three numbers, got \"loud\"; skipped\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: Unknown command \"AutoConfigure\" skipped\n"));
  EXPECT_FALSE(run.LogHas("Unknown command \"#")) << "a comment taken for a command";
  EXPECT_FALSE(run.LogHas("ERROR:"));
}

TEST(CommandFilter, CommandFileIsReadOrRefused) {
  const std::string dir = vkrtest::MakeTempDir(), file = dir + "/job.cmd";
  std::ofstream(file) << "#CUPS-COMMAND\r\nPrintSelfTestPage\r\n";
  struct Case {
    const char* commands;
    std::string inputFile;
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {"", file, {}, "[E] SelfPrinting : 0\r\n"},  // named on the command line, CRLF lines
      {"%!PS-Adobe-3.0\nPrintSelfTestPage\n", "", {}, "ERROR: Not a CUPS command file\n"},
      {"", "", {}, "ERROR: Not a CUPS command file\n"},
      {"", "/none/job.cmd", {}, "ERROR: Unable to open command file \"/none/job.cmd\""},
      {"#CUPS-COMMAND\nClean\n", "", {"1", "user", "title"},
       "Usage: commandtovkr job-id user title copies options [file]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    vkrtest::FilterSetup setup = commandJob(c.commands);
    setup.inputFile = c.inputFile;
    if (!c.args.empty()) setup.args = c.args;
    vkrtest::FilterRun run = vkrtest::RunFilter(setup);
    const bool read = c.inputFile == file;
    EXPECT_EQ(run.exitStatus, read ? 0 : 1);
    EXPECT_EQ(run.Codes(), read ? Codes{"!RSP"} : Codes{});
    EXPECT_TRUE(run.LogHas(c.line)) << run.log;
  }
  vkrtest::RemoveTree(dir);
}

TEST(CommandFilter, NoBackChannelOrNoPrinterStreamFailsTheJobWithAReason) {
  // Not a hang on the missing back channel, not death by SIGPIPE.
  std::string log;
  EXPECT_EQ(runBare("#CUPS-COMMAND\nReportLevels\n", false, &log), 1) << log;
  EXPECT_NE(log.find("ERROR: Ribbon count query failed: the printer did not answer (-1)\n"),
            std::string::npos) << log;
  EXPECT_EQ(runBare("#CUPS-COMMAND\nPrintSelfTestPage\n", true, &log), 1) << log;
  EXPECT_NE(log.find("ERROR: Unable to write print data: Broken pipe\n"), std::string::npos) << log;
}
