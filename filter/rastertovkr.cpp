// rastertovkr: CUPS raster filter for the card printer.
//
//   rastertovkr job user title copies options [file]
//
// Reads the job's raster pages from the file or standard input, writes the
// printer's commands to standard output and reads its answers from the CUPS
// back channel. The steps run in this order; any of them may end the job.
#include "filter/filter.h"

int main(int argc, char* argv[]) {
  static int (*const steps[])(FilterJob&) = {
      CheckArguments, OpenInput,  CheckJobStatus, CheckVersion,      CheckRibbon,
      OpenPpd,        ReadOptions, OpenImageLog,  OpenRasterStreams, PageLoop,
      CompletionWait,
  };
  InstallSignalHandlers();
  FilterJob job;
  job.argc = argc;
  job.argv = argv;
  for (auto step : steps) {
    int status = step(job);
    if (status != kGoOn) return status;
    if (JobCanceled()) return StopCanceledJob();
  }
  return 0;
}
