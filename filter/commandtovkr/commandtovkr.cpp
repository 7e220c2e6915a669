// commandtovkr: the card printer's CUPS command filter. CUPS runs it for
// maintenance jobs (application/vnd.cups-command): the job is a command file
// whose first line is "#CUPS-COMMAND" and whose other lines each name one
// command, optionally followed by arguments. Each command is carried out
// through the printer API; supply levels are reported to CUPS as ATTR lines.
//
//   PrintSelfTestPage   the printer's self-test print
//   ReportLevels        ribbon and print counters, as marker attributes
//   Beep [a b c]        the buzzer, with its three numbers (default 1 1 1)
//
// The printer has no cleaning command: "Clean" is logged and skipped like
// any unknown command. A line of any length is one command (only its first
// kMaxLine characters are looked at). A printer call that fails ends the
// job with an "ERROR: " line and exit status 1.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <cups/cups.h>
#include <cups/file.h>

#include "device/VK4400.h"
#include "filter/cupslog.h"

namespace {

// Set by SIGTERM; the command loop stops before the next command.
volatile sig_atomic_t g_cancelled = 0;

// Notes that CUPS cancelled the job.
void onCancel(int) { g_cancelled = 1; }

// Lets a cancelled job finish the command in progress and stop there; a
// backend that has gone away shows as a failed write instead of SIGPIPE.
void catchCancel() {
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  sigemptyset(&action.sa_mask);
  action.sa_handler = onCancel;
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Characters of a command line that are looked at; the rest is skipped.
const size_t kMaxLine = 1023;

// The "ERROR: " messages of one printer call, one per kind of failure: each
// is the format given to CUPS, so that its catalogue can translate it.
struct FailureTexts {
  const char* noAnswer;
  const char* refused;
  const char* error;
};

const FailureTexts kSelfTestFailed = {
    "Self-test print failed: the printer did not answer (%d)",
    "Self-test print failed: the printer refused the command (%d)",
    "Self-test print failed: printer error %d (%d)"};
const FailureTexts kRibbonCountFailed = {
    "Ribbon count query failed: the printer did not answer (%d)",
    "Ribbon count query failed: the printer refused the command (%d)",
    "Ribbon count query failed: printer error %d (%d)"};
const FailureTexts kPrintCountFailed = {
    "Print count query failed: the printer did not answer (%d)",
    "Print count query failed: the printer refused the command (%d)",
    "Print count query failed: printer error %d (%d)"};
const FailureTexts kBuzzerFailed = {"Buzzer failed: the printer did not answer (%d)",
                                    "Buzzer failed: the printer refused the command (%d)",
                                    "Buzzer failed: printer error %d (%d)"};

// Reports a failed printer call to the user; returns the exit status.
int fail(const FailureTexts& texts, int result) {
  if (result == -1)
    _cupsLangPrintFilter(stderr, "ERROR", texts.noAnswer, result);
  else if (result == 9)
    _cupsLangPrintFilter(stderr, "ERROR", texts.refused, result);
  else
    _cupsLangPrintFilter(stderr, "ERROR", texts.error, result, result);
  return 1;
}

// Runs the printer's self-test print.
int printSelfTestPage() {
  fprintf(stderr, "INFO: Printing the self-test page\n");
  int result = SelfPrinting();
  if (result != 0) return fail(kSelfTestFailed, result);
  return 0;
}

// Reports the ribbon as CUPS' one marker. The printer counts what is left on
// the ribbon, not a share of a full one, so the level is "some left" (-3)
// unless the count is 0; without a count it is unknown (-1).
void reportRibbon(int ribbonCount) {
  int level = ribbonCount < 0 ? -1 : ribbonCount == 0 ? 0 : -3;
  fprintf(stderr, "ATTR: marker-colors=none\n");
  fprintf(stderr, "ATTR: marker-levels=%d\n", level);
  fprintf(stderr, "ATTR: marker-names=Ribbon\n");
  fprintf(stderr, "ATTR: marker-types=ink-ribbon\n");
}

// Formats a counter for the INFO line; -1 stands for a reply without one.
std::string countText(int count) { return count < 0 ? "unknown" : std::to_string(count); }

// Asks the printer for its ribbon and print counters and reports them.
int reportLevels() {
  // A reply without payload leaves these as they are: unknown.
  int ribbonCount = -1;
  int result = CheckRibbonCount(&ribbonCount);
  if (result != 0) return fail(kRibbonCountFailed, result);
  reportRibbon(ribbonCount);

  int printCount = -1;
  result = GetPrintCount(&printCount);
  if (result != 0) return fail(kPrintCountFailed, result);
  fprintf(stderr, "INFO: Ribbon count %s, print count %s\n", countText(ribbonCount).c_str(),
          countText(printCount).c_str());
  return 0;
}

// Sounds the buzzer with the command's three numbers, or 1 1 1.
int beep(const std::string& args) {
  int a = 1, b = 1, c = 1;
  if (!args.empty()) {
    std::istringstream in(args);
    if (!(in >> a >> b >> c)) {
      fprintf(stderr, "DEBUG: Beep needs three numbers, got \"%s\"; skipped\n", args.c_str());
      return 0;
    }
  }
  int result = BuzzerControl(a, b, c);
  if (result != 0) return fail(kBuzzerFailed, result);
  return 0;
}

// Carries out one command line; returns 0, or 1 when the printer failed.
int runCommand(const std::string& name, const std::string& args) {
  fprintf(stderr, "DEBUG: Command \"%s\"\n", name.c_str());
  if (name == "PrintSelfTestPage") return printSelfTestPage();
  if (name == "Clean") {
    fprintf(stderr, "DEBUG: The printer has no cleaning command; \"Clean\" skipped\n");
    return 0;
  }
  if (name == "ReportLevels") return reportLevels();
  if (name == "Beep") return beep(args);
  fprintf(stderr, "DEBUG: Unknown command \"%s\" skipped\n", name.c_str());
  return 0;
}

// Splits a command line into the command and its arguments.
void splitLine(const char* line, std::string* name, std::string* args) {
  std::string text(line);
  const char* blanks = " \t\r\n";
  size_t start = text.find_first_not_of(blanks);
  if (start == std::string::npos) {
    name->clear();
    args->clear();
    return;
  }
  size_t end = text.find_first_of(blanks, start);
  *name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  args->clear();
  if (end == std::string::npos) return;
  size_t argStart = text.find_first_not_of(blanks, end);
  if (argStart == std::string::npos) return;
  size_t argEnd = text.find_last_not_of(blanks);
  *args = text.substr(argStart, argEnd - argStart + 1);
}

// Opens the command file: the file named on the command line, or stdin.
cups_file_t* openCommandFile(int argc, char* argv[]) {
  if (argc == 7) {
    cups_file_t* file = cupsFileOpen(argv[6], "r");
    if (file == nullptr)
      _cupsLangPrintFilter(stderr, "ERROR", "Unable to open command file \"%s\": %s", argv[6],
                           strerror(errno));
    return file;
  }
  return cupsFileStdin();
}

// Reads one line (ended by LF, CR or CR LF, or the end of the file) into
// line, keeping its first kMaxLine characters and skipping the rest, so
// that a long line is never taken for two. False at the end of the file.
bool readLine(cups_file_t* file, std::string& line) {
  line.clear();
  int c = cupsFileGetChar(file);
  if (c == -1) return false;
  for (; c != -1 && c != '\n' && c != '\r'; c = cupsFileGetChar(file))
    if (line.size() < kMaxLine) line.push_back(char(c));
  if (c == '\r' && cupsFilePeekChar(file) == '\n') cupsFileGetChar(file);
  return true;
}

// Runs every command of the file in order; stops at the first failure.
int runCommandFile(cups_file_t* file) {
  std::string line;
  if (!readLine(file, line) || line.compare(0, 13, "#CUPS-COMMAND") != 0) {
    _cupsLangPrintFilter(stderr, "ERROR", "Not a CUPS command file");
    return 1;
  }
  while (!g_cancelled && readLine(file, line)) {
    if (line.empty() || line[0] == '#') continue;  // a comment
    std::string name, args;
    splitLine(line.c_str(), &name, &args);
    if (name.empty()) continue;
    if (runCommand(name, args) != 0) return 1;
  }
  if (g_cancelled) fprintf(stderr, "DEBUG: Job cancelled; the remaining commands are skipped\n");
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 6 || argc > 7) {
    fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
            argc > 0 ? argv[0] : "commandtovkr");
    return 1;
  }
  catchCancel();
  cups_file_t* file = openCommandFile(argc, argv);
  if (file == nullptr) return 1;
  int status = runCommandFile(file);
  cupsFileClose(file);
  return status;
}
