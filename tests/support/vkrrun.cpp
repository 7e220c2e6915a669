// vkrrun: runs rastertovkr against the printer simulator once and shows what
// happened: the filter's log, the printer's record of every command and
// answer, and the exit status (which vkrrun also exits with).
//   vkrrun [--real-time] [--options TEXT] [--input FILE | --stdin FILE]
//          [--ppd FILE | --no-ppd] [--rule RULE]... [--script FILE] [--panels DIR]
// --real-time runs the binary as shipped, pauses and all; --panels makes the
// simulator keep every card's panels and a preview in DIR.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "support/run_filter.h"

int main(int argc, char* argv[]) {
  vkrtest::FilterSetup setup;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--real-time" || arg == "--no-ppd") {
      (arg == "--real-time" ? setup.noSleep : setup.setPpd) = false;
      continue;
    }
    if (i + 1 >= argc) return fprintf(stderr, "vkrrun: %s needs a value\n", arg.c_str()), 2;
    const std::string value = argv[++i];
    if (arg == "--options") setup.Options(value);
    else if (arg == "--input") setup.inputFile = value;
    else if (arg == "--ppd") setup.ppd = value;
    else if (arg == "--rule") setup.simRules.push_back(value);
    else if (arg == "--panels") setup.simPanels = value;
    else if (arg == "--script") setup.simScript = value;
    else if (arg != "--stdin") return fprintf(stderr, "vkrrun: unknown option %s\n", arg.c_str()), 2;
    else {
      std::ifstream in(value, std::ios::binary);
      if (!in) return fprintf(stderr, "vkrrun: cannot read %s\n", value.c_str()), 2;
      setup.stdinBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  printf("=== rastertovkr standard error ===\n%s\n", run.log.c_str());
  printf("=== printer (vkrsim) record: every command received and its answer ===\n%s\n",
         run.simLog.c_str());
  if (!run.simErrors.empty()) printf("=== vkrsim errors ===\n%s\n", run.simErrors.c_str());
  printf("=== %zu bytes written to the printer in %zu commands; rastertovkr exit status %d%s ===\n",
         run.printerBytes.size(), run.frames.size(), run.exitStatus,
         run.timedOut ? " (killed: time-out)" : "");
  return run.exitStatus;
}
