// Runs the real rastertovkr binary against the printer simulator, the way
// CUPS would run it against a printer, and collects everything a user or
// the printer would notice: RunFilter(setup) gives a FilterRun (exit status,
// log, bytes and frames sent, the simulator's record, the pauses).
//
// Wiring: the filter's standard output goes to vkrsim's standard input; the
// simulator's answers come back on the filter's descriptor 3 (its CUPS back
// channel); its standard error is collected. The filter runs with the
// vkr_nosleep preload (no usleep pauses; "/tmp/test..." files land in
// `tmpDir`), with PPD set to the small test PPD unless told otherwise. A
// silent printer still costs the real five-second back-channel time-out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_core.h"

namespace vkrtest {

// How to run the filter.
struct FilterSetup {
  std::string program;  // the filter program (rastertovkr when empty; or CommandFilterBinary())
  // Arguments after the program name: job, user, title, copies, options.
  std::vector<std::string> args = {"1", "user", "title", "1", ""};
  // Sets the options argument (argument 5).
  FilterSetup& Options(const std::string& options) {
    if (args.size() > 4) args[4] = options;
    return *this;
  }
  std::string inputFile;            // argument 6 (empty: the raster comes on standard input)
  std::vector<uint8_t> stdinBytes;  // what the filter finds on its standard input
  std::vector<std::string> simRules;  // simulator rules (sim/sim_script.h)
  std::string simScript;              // and an optional script file
  std::string simPanels;  // folder where the simulator keeps every card's panels (empty: none)
  bool setPpd = true;     // set PPD to ppd (the test PPD when empty)
  std::string ppd;
  std::vector<std::pair<std::string, std::string>> env;  // extra environment (e.g. FINAL_CONTENT_TYPE)
  // Folder that stands for "/tmp/test..." files; a fresh one, removed afterwards, when empty.
  std::string tmpDir;
  // Run with the vkr_nosleep preload; false runs the binary as shipped, pauses and all.
  bool noSleep = true;
  double timeoutSeconds = 60;  // the run is killed after this long
};

// What came out of one run.
struct FilterRun {
  int exitStatus = -1;                // the filter's exit status; 128 + signal when killed
  std::string log;                    // the filter's standard error
  std::vector<uint8_t> printerBytes;  // every byte the filter wrote to standard output
  std::vector<vkrsim::Frame> frames;  // printerBytes split into command frames
  std::string simLog;                 // the simulator's record of frames and answers
  std::string simErrors;              // the simulator's own standard error
  bool timedOut = false;
  std::vector<unsigned> pauses;  // every pause asked for, in microseconds, in order (with the preload)

  // The command codes sent, in order.
  std::vector<std::string> Codes() const;
  bool LogHas(const std::string& text) const { return log.find(text) != std::string::npos; }
  // Position of text in the log (npos when absent), for checking order.
  size_t LogAt(const std::string& text) const { return log.find(text); }
  // The standard output as text (where the usage line and image-log failures go).
  std::string PrinterText() const { return std::string(printerBytes.begin(), printerBytes.end()); }
};

FilterRun RunFilter(const FilterSetup& setup);
// A fresh empty folder under the system's temporary folder, and its removal.
std::string MakeTempDir();
void RemoveTree(const std::string& path);
// Paths of the built programs and test data.
const char* FilterBinary();
const char* CommandFilterBinary();
const char* SimulatorBinary();
// The test preload that skips usleep (and, with VKR_USLEEP_LOG, notes each pause).
const char* NoSleepLibrary();
const char* TestDataDir();

}  // namespace vkrtest
