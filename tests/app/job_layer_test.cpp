// The Printer Application's job layer without a server: a worker's printer
// exchange over the link, the messages of failed jobs, status reports, the
// jobs a killed server left printing, and printer defaults in a job's
// card options.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/card_job.h"
#include "app/card_options.h"
#include "app/link_printer_io.h"
#include "app/server_life.h"
#include "app/status_report.h"
#include "app/worker_relay.h"

namespace {

// A printer that records what it is sent and answers from a script; a read
// with nothing scripted finds nothing, a read of "!" fails.
class ScriptedPrinter : public PrinterIO {
 public:
  std::string written;
  int flushes = 0;
  std::vector<std::string> answers;
  std::vector<double> timeouts;
  std::string unread;

  size_t Write(const void* bytes, size_t count) override {
    written.append(static_cast<const char*>(bytes), count);
    return count;
  }
  void Flush() override { ++flushes; }
  void Pause(unsigned int) override {}
  ssize_t ReadBack(void* buffer, size_t count, double timeout) override {
    timeouts.push_back(timeout);
    if (answers.empty()) return 0;
    std::string answer = answers.front();
    answers.erase(answers.begin());
    if (answer == "!") return -1;
    answer = answer.substr(0, count);
    memcpy(buffer, answer.data(), answer.size());
    return ssize_t(answer.size());
  }
  size_t Drain(void* buffer, size_t count) override {
    const size_t n = std::min(count, unread.size());
    memcpy(buffer, unread.data(), n);
    unread.erase(0, n);
    return n;
  }
};

// The worker's end of a link served by a relay thread, as in a conversation;
// the worker's log is a pipe the test writes to.
struct Link {
  ScriptedPrinter printer;
  std::vector<std::string> lines, reports;
  int fds[2], log[2];
  std::thread relay;

  Link() {
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    pipe(log);
    RelayHandlers handlers;
    handlers.line = [this](const std::string& line) { lines.push_back(line); };
    handlers.report = [this](const std::string& report) { reports.push_back(report); };
    relay = std::thread([this, handlers] { ServeWorker(fds[0], log[0], printer, handlers); });
  }
  // The worker ends: its link and log close, the relay returns.
  void end() {
    close(fds[1]);
    close(log[1]);
    relay.join();
    close(fds[0]);
    close(log[0]);
  }
};

TEST(WorkerLink, WritesReadsDrainsAndReportsCrossTheLinkUnchanged) {
  Link link;
  LinkPrinterIO io(link.fds[1]);
  const std::string command("\x1b$PJS\0\0\0\0\r", 10);
  EXPECT_EQ(io.Write(command.data(), command.size()), command.size());
  io.Flush();
  link.printer.answers = {std::string("\x1b$PJS\0\x06\0\0\0\x07", 11), "late", "!"};
  link.printer.unread = "stale";
  char buffer[64] = {0};
  ASSERT_EQ(io.ReadBack(buffer, sizeof(buffer), 5.0), 11);
  EXPECT_EQ(std::string(buffer, 11), std::string("\x1b$PJS\0\x06\0\0\0\x07", 11));
  // A read asks no more than the caller's buffer holds.
  ASSERT_EQ(io.ReadBack(buffer, 2, 0.25), 2);
  EXPECT_EQ(std::string(buffer, 2), "la");
  // A failed read stays a failure; one that finds nothing is 0.
  EXPECT_EQ(io.ReadBack(buffer, sizeof(buffer), 1.0), -1);
  EXPECT_EQ(io.ReadBack(buffer, sizeof(buffer), 1.0), 0);
  EXPECT_EQ(io.Drain(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "sta");
  io.Report("online=1\ncards=7\n");
  // Binary bytes, a zero among them, arrive whole and in order.
  std::string panel(300000, '\0');
  for (size_t i = 0; i < panel.size(); ++i) panel[i] = char(i * 7);
  EXPECT_EQ(io.Write(panel.data(), panel.size()), panel.size());
  const char log[] = "DEBUG: one\r\nINFO: two\npartial";
  ASSERT_EQ(write(link.log[1], log, sizeof(log) - 1), ssize_t(sizeof(log) - 1));
  link.end();

  EXPECT_EQ(link.printer.written, command + panel);
  EXPECT_EQ(link.printer.flushes, 1);
  ASSERT_EQ(link.printer.timeouts.size(), 4u);
  EXPECT_DOUBLE_EQ(link.printer.timeouts[0], 5.0);
  EXPECT_DOUBLE_EQ(link.printer.timeouts[1], 0.25);
  EXPECT_EQ(link.reports, std::vector<std::string>({"online=1\ncards=7\n"}));
  EXPECT_EQ(link.lines, std::vector<std::string>({"DEBUG: one", "INFO: two", "partial"}));
}

TEST(WorkerLink, AGoneServerFailsReadsAndAnUnknownRequestEndsTheRelay) {
  // As in the worker: a closed link fails the write instead of ending us.
  signal(SIGPIPE, SIG_IGN);
  Link link;
  const char junk[] = {'Z', 0, 0, 0, 0};
  ASSERT_EQ(write(link.fds[1], junk, sizeof(junk)), ssize_t(sizeof(junk)));
  // The relay stops serving: the next read finds the link closed.
  LinkPrinterIO io(link.fds[1]);
  char buffer[8];
  EXPECT_EQ(io.ReadBack(buffer, sizeof(buffer), 1.0), -1);
  EXPECT_EQ(io.Drain(buffer, sizeof(buffer)), 0u);
  link.end();
}

JobOutcome outcome(int waitStatus, const char* stage, const char* error = "") {
  JobOutcome o;
  o.waitStatus = waitStatus;
  o.failedStage = stage;
  o.firstError = error;
  return o;
}

TEST(JobOutcome, EachFailureSaysWhyInWords) {
  const struct {
    JobOutcome outcome;
    const char* message;
  } kCases[] = {
      {outcome(0, "preflight"), "The printer did not report its status, version or ribbon; the job was not printed."},
      {outcome(256, "pages", "Unsupported raster data."), "The card was not printed: Unsupported raster data."},
      {outcome(256, "pages"), "The card was not printed: the printer did not take it."},
      // Options the filter refuses are as much the card's fault as its pages.
      {outcome(256, "options", "Bad option CardGamma=x."), "The card was not printed: Bad option CardGamma=x."},
      {outcome(256, "completion"), "The printer stopped answering before it reported the end of the job."},
      {outcome(9, ""), "The card job ended unexpectedly (signal 9)."},
      {outcome(256, ""), "The card job ended unexpectedly (exit status 1)."},
  };
  for (const auto& c : kCases) EXPECT_EQ(FailureMessage(c.outcome), c.message);

  JobOutcome stuck;
  stuck.completionTimedOut = true;
  stuck.failedStage = "completion";
  stuck.lastInfo = "The printer is still printing the card";
  EXPECT_EQ(FailureMessage(stuck),
            "The printer did not finish the card within 120 seconds; it last reported: \"The printer is "
            "still printing the card\".");
  JobOutcome stalled;
  stalled.documentTimedOut = true;
  EXPECT_EQ(FailureMessage(stalled), "The document stopped arriving for 60 seconds; the job was stopped.");
  // A refusal before the worker saw the page wins over what the worker says;
  // a lost connection is said last.
  JobOutcome refused = outcome(256, "pages", "Error reading raster data.");
  refused.refused = "Unsupported raster data.";
  refused.deviceLost = true;
  EXPECT_EQ(FailureMessage(refused), "Unsupported raster data. The connection to the printer was lost.");
}

TEST(StatusReport, ReasonsAndTheRibbonFollowWhatThePrinterSays) {
  const pappl_preason_t kOffline = PAPPL_PREASON_OFFLINE, kOther = PAPPL_PREASON_OTHER,
                        kLow = PAPPL_PREASON_MARKER_SUPPLY_LOW, kEmpty = PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
  const struct {
    const char* report;
    unsigned add, remove;
    int level;  // -2: no supply reported
    const char* description;
  } kCases[] = {
      {"online=0\n", kOffline, 0, -2, ""},
      {"online=1\njob=0\n", 0, kOffline | kOther, -2, ""},
      {"online=1\nribbon=color\ncards=500\n", 0, kOffline | kOther | kLow | kEmpty, 100, "Color Ribbon (500 cards left)"},
      {"online=1\nribbon=color\ncards=300\n", 0, kOffline | kOther | kLow | kEmpty, 60, "Color Ribbon (300 cards left)"},
      {"online=1\nribbon=black\ncards=10\n", 0, kOffline | kOther | kLow | kEmpty, 2, "Black Ribbon (10 cards left)"},
      {"online=1\nribbon=black\ncards=9\n", kLow, kOffline | kOther | kEmpty, 1, "Black Ribbon (9 cards left)"},
      {"online=1\nribbon=color\ncards=0\n", kEmpty, kOffline | kOther | kLow, 0, "Color Ribbon (0 cards left)"},
      {"online=1\nribbon=color\ncards=-1\n", 0, kOffline | kOther | kLow | kEmpty, -1, "Color Ribbon"},
      {"online=1\nribbon=color\ncards=x7\n", 0, kOffline | kOther | kLow | kEmpty, -1, "Color Ribbon"},
  };
  for (const auto& c : kCases) {
    const PrinterStatus status = ParseStatusReport(c.report);
    EXPECT_EQ(unsigned(status.add), c.add) << c.report;
    EXPECT_EQ(unsigned(status.remove), c.remove) << c.report;
    EXPECT_EQ(status.haveSupply ? status.supply.level : -2, c.level) << c.report;
    if (status.haveSupply) {
      EXPECT_STREQ(status.supply.description, c.description) << c.report;
    }
  }
  EXPECT_EQ(ParseStatusReport("online=1\nribbon=black\ncards=3\n").supply.color, PAPPL_SUPPLY_COLOR_BLACK);
  EXPECT_EQ(ParseStatusReport("online=1\nribbon=color\ncards=3\n").supply.color, PAPPL_SUPPLY_COLOR_MAGENTA);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(InterruptedJobs, AJobLeftPrintingIsMarkedAbortedAndNothingElseChanges) {
  char folder[] = "/tmp/vkr-state.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string state = std::string(folder) + "/app.state";
  const std::string before =
      "NextPrinterID 3\n"
      "<Printer driver=\"vk4400\" id=\"1\" name=\"a\" uri=\"socket://127.0.0.1:9100\">\n"
      "Job created=\"1\" format=\"image/png\" id=\"4\" name=\"x\" state=\"5\" username=\"u\"\n"
      "Job created=\"1\" format=\"image/png\" id=\"5\" name=\"y\" state=\"3\" username=\"u\"\n"
      "</Printer>\n"
      "<Printer driver=\"vk4400\" id=\"2\" name=\"b\" uri=\"socket://127.0.0.1:9101\">\n"
      "Job created=\"1\" format=\"image/png\" id=\"7\" name=\"z\" state=\"5\" username=\"u\"\n"
      "Job created=\"1\" format=\"image/png\" id=\"8\" name=\"w\" state=\"9\" username=\"u\"\n"
      "</Printer>\n";
  std::ofstream(state) << before;
  const std::vector<InterruptedJob> jobs = MarkInterruptedJobs(state);
  EXPECT_EQ(jobs, (std::vector<InterruptedJob>{{1, 4}, {2, 7}}));
  std::string after = before;
  for (size_t at; (at = after.find("state=\"5\"")) != std::string::npos;) after.replace(at, 9, "state=\"8\"");
  EXPECT_EQ(readFile(state), after);
  // Nothing left printing: the file stays as it is.
  EXPECT_TRUE(MarkInterruptedJobs(state).empty());
  EXPECT_EQ(readFile(state), after);
  EXPECT_TRUE(MarkInterruptedJobs(std::string(folder) + "/none.state").empty());
  unlink(state.c_str());
  rmdir(folder);
}

// The printer's default for an option the job does not set; the job's own
// value wins; a default the option does not take falls back to the built-in.
TEST(VendorCardOptions, PrinterDefaultsFillWhatTheJobLeavesOut) {
  ipp_t* printer = ippNew();
  ippAddString(printer, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "card-front-overlay-default", nullptr, "none");
  ippAddInteger(printer, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "card-gamma-default", 120);
  ippAddInteger(printer, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "card-red-default", 99);
  cups_option_t* job = nullptr;
  const int count = cupsAddOption("card-gamma", "70", 0, &job);
  const std::string text = CardOptionTextForJob(count, job, PAPPL_COLOR_MODE_COLOR, printer);
  EXPECT_NE(text.find("CardFOverlay=None"), std::string::npos) << text;
  EXPECT_NE(text.find("CardBOverlay=Full"), std::string::npos) << text;
  EXPECT_NE(text.find("CardGamma=70"), std::string::npos) << text;
  EXPECT_EQ(text.find("CardRed="), std::string::npos) << text;
  cupsFreeOptions(count, job);
  ippDelete(printer);
}

}  // namespace
