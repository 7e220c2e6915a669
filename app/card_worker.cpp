// The card worker: the filter's job steps (or one service command) over the
// link to the server. It reports what the server shows: the step a job
// failed in, and the printer's state and ribbon.
#include "app/card_worker.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

#include "app/link_printer_io.h"
#include "filter/cardjob.h"
#include "filter/filter.h"

namespace {

// The link to the server.
const int kLinkFd = 3;

// A black ribbon names itself with '5' in byte 1 of the ribbon sensor's reply.
const unsigned char kBlackRibbon = '5';

// The card job: the filter's steps, in the filter's order, with the card
// options given instead of read from a PPD. Reports the step that failed.
int runJob(LinkPrinterIO& io, int argc, char** argv) {
  if (argc != 5) return 2;
  char name[] = "vkr-card-job";
  char copies[] = "1";
  char* jobArgs[] = {name, argv[1], argv[2], argv[3], copies, argv[4], nullptr};
  FilterJob job;
  job.argc = 6;
  job.argv = jobArgs;
  struct Step {
    int (*run)(FilterJob&);
    const char* stage;
  };
  static const Step steps[] = {
      {RunPreflight, "preflight"}, {ReadOptions, "options"}, {OpenRasterStreams, "pages"},
      {PageLoop, "pages"},         {CompletionWait, "completion"},
  };
  for (const Step& step : steps) {
    const int status = step.run(job);
    if (step.run == RunPreflight && status == kGoOn)
      io.Report(job.detectedRibbon == 4 ? "ribbon=black\n" : "ribbon=color\n");
    if (JobCanceled()) return status == kGoOn ? StopCanceledJob() : 1;
    if (status != kGoOn) {
      if (status == 0) return 0;
      const std::string report = std::string("failed=") + step.stage + "\n";
      io.Report(report.c_str());
      return status;
    }
  }
  return 0;
}

// The printer's state for the server's status cache: online or not, the
// job state byte, the ribbon and the cards left on it.
int runStatus(LinkPrinterIO& io) {
  unsigned char jobStatus[VK_JOBSTATUS_SIZE] = {0};
  if (PrintJobStatus(jobStatus) != 0) {
    io.Report("online=0\n");
    return 1;
  }
  unsigned char ribbon[VK_REPLY_SIZE] = {0};
  std::string report = "online=1\njob=" + std::to_string(jobStatus[0]) + "\n";
  if (CheckRibbonSensor(ribbon) == 0) {
    int cardsLeft = -1;
    CheckRibbonCount(&cardsLeft);
    report += ribbon[1] == kBlackRibbon ? "ribbon=black\n" : "ribbon=color\n";
    report += "cards=" + std::to_string(cardsLeft) + "\n";
  }
  io.Report(report.c_str());
  return 0;
}

}  // namespace

int RunCardWorker(int argc, char** argv) {
  // A worker whose server is gone has nobody to talk to the printer for.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  InstallSignalHandlers();
  // The log goes out a printer exchange at a time (link_printer_io.cpp) and
  // whole at the end.
  static char logBuffer[64 * 1024];
  setvbuf(stderr, logBuffer, _IOFBF, sizeof(logBuffer));
  LinkPrinterIO io(kLinkFd);
  SetPrinterIO(&io);
  const char* mode = argc > 0 ? argv[0] : "";
  if (strcmp(mode, "job") == 0) return runJob(io, argc, argv);
  if (strcmp(mode, "status") == 0) return runStatus(io);
  if (strcmp(mode, "identify") == 0) return BuzzerControl(1, 1, 1) == 0 ? 0 : 1;
  if (strcmp(mode, "selftest") == 0) return SelfPrinting() == 0 ? 0 : 1;
  fprintf(stderr, "ERROR: Unknown card worker mode \"%s\".\n", mode);
  return 2;
}
