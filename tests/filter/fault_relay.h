// Runs the real rastertovkr against the printer simulator with this test
// program standing between them, as the CUPS backend and the cable would, so
// that a test can cancel the job (SIGTERM) after a given command or while one
// is being written, take the printer stream away (backend gone), close the
// back channel, and time the run. The filter runs with the vkr_nosleep
// preload (no pauses) and the test PPD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_core.h"

namespace faultrelay {

struct RelaySetup {
  std::string program;  // the filter (rastertovkr when empty)
  std::vector<std::string> args = {"1", "user", "title", "1", ""};
  std::vector<uint8_t> stdinBytes;
  std::vector<std::string> simRules;

  // SIGTERM once this many whole frames have reached the printer (0: never);
  // with sigtermMidFrame, once the next frame has begun, the printer then
  // reading slowly so that the signal lands while the filter is still writing.
  int sigtermAfterFrames = 0;
  bool sigtermMidFrame = false;
  // The printer stream is closed once this many whole frames have passed (-1: never).
  int closeStdoutAfterFrames = -1;
  // The back channel is closed from the start: every read finds its end.
  bool backChannelClosed = false;
  double timeoutSeconds = 60;
};

struct RelayRun {
  int exitStatus = -1;  // 128 + signal when the filter was killed by one
  bool timedOut = false;
  std::string log;                    // the filter's standard error
  std::vector<uint8_t> printerBytes;  // everything the filter wrote to standard output
  std::vector<vkrsim::Frame> frames;  // printerBytes split into frames
  int framesAtSignal = -1;            // whole frames seen when SIGTERM was sent
  double seconds = 0;                 // the filter's run time

  bool LogHas(const std::string& text) const { return log.find(text) != std::string::npos; }
  std::vector<std::string> Codes() const;
  // Every frame the filter wrote is whole: code, declared length, CR.
  bool AllFramesWhole() const;
};

RelayRun Run(const RelaySetup& setup);

}  // namespace faultrelay
