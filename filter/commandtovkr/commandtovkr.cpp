// commandtovkr: the card printer's CUPS command filter. CUPS runs it for
// maintenance jobs (application/vnd.cups-command): the job is a command file
// whose first line is "#CUPS-COMMAND" and whose other lines each name one
// command, optionally followed by arguments. Each command is carried out
// through the printer API; supply levels are reported to CUPS as ATTR lines.
//
//   PrintSelfTestPage   the printer's self-test print
//   Clean               the printer's cleaning
//   ReportLevels        ribbon and print counters, as marker attributes
//   Beep [a b c]        the buzzer, with its three numbers (default 1 1 1)
//
// Unknown commands are logged and skipped. A printer call that fails ends the
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

// Says in words why a printer call failed.
std::string describeFailure(int result) {
  if (result == -1) return "the printer did not answer";
  if (result == 9) return "the printer refused the command";
  return "printer error " + std::to_string(result);
}

// Reports a failed printer call to the user; returns the exit status.
int fail(const char* what, int result) {
  fprintf(stderr, "ERROR: %s failed: %s (%d)\n", what, describeFailure(result).c_str(), result);
  return 1;
}

// Runs the printer's self-test print.
int printSelfTestPage() {
  fprintf(stderr, "INFO: Printing the self-test page\n");
  int result = SelfPrinting();
  if (result != 0) return fail("Self-test print", result);
  return 0;
}

// Runs the printer's cleaning.
int cleanPrinter() {
  fprintf(stderr, "INFO: Cleaning the printer\n");
  int result = CleaningPrinter();
  if (result != 0) return fail("Cleaning", result);
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
  if (result != 0) return fail("Ribbon count query", result);
  reportRibbon(ribbonCount);

  int printCount = -1;
  result = GetPrintCount(&printCount);
  if (result != 0) return fail("Print count query", result);
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
  if (result != 0) return fail("Buzzer", result);
  return 0;
}

// Carries out one command line; returns 0, or 1 when the printer failed.
int runCommand(const std::string& name, const std::string& args) {
  fprintf(stderr, "DEBUG: Command \"%s\"\n", name.c_str());
  if (name == "PrintSelfTestPage") return printSelfTestPage();
  if (name == "Clean") return cleanPrinter();
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
      fprintf(stderr, "ERROR: Unable to open command file \"%s\": %s\n", argv[6],
              strerror(errno));
    return file;
  }
  return cupsFileStdin();
}

// Runs every command of the file in order; stops at the first failure.
int runCommandFile(cups_file_t* file) {
  char line[1024];
  if (cupsFileGets(file, line, sizeof(line)) == nullptr ||
      strncmp(line, "#CUPS-COMMAND", 13) != 0) {
    fprintf(stderr, "ERROR: Not a CUPS command file\n");
    return 1;
  }
  while (!g_cancelled && cupsFileGets(file, line, sizeof(line)) != nullptr) {
    if (line[0] == '#') continue;  // a comment
    std::string name, args;
    splitLine(line, &name, &args);
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
