// The completion wait: after the last page the filter polls the printer's job
// status until the printer reports that no job is in progress, then releases
// the job's resources. A printer that cannot report its status is recovered.
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "device/PrinterIO.h"
#include "filter/cupslog.h"
#include "filter/filter.h"

namespace {

const unsigned kSettleUsec = 3000000;
const unsigned kPollUsec = 2000000;

// Closes the raster streams and the input, and frees the page buffer.
void releaseJob(FilterJob& job) {
  if (job.inputRaster != nullptr) cupsRasterClose(job.inputRaster);
  job.inputRaster = nullptr;
  if (job.inputFd != 0) close(job.inputFd);
  job.inputFd = 0;
  if (job.imageLog) {
    if (job.imageLogRaster != nullptr) cupsRasterClose(job.imageLogRaster);
    if (job.imageLogFile != nullptr) fclose(job.imageLogFile);
    job.imageLogRaster = nullptr;
    job.imageLogFile = nullptr;
  }
  std::vector<uint8_t>().swap(job.pageBuffer);
}

}  // namespace

// Waits until the printer reports that the job has ended; returns the exit
// status.
int CompletionWait(FilterJob& job) {
  // The INFO lines become the job's state message in CUPS: what the user
  // sees while the filter sits here for several seconds.
  // With no page, the last progress line before this one has no line end
  // of its own: the INFO line must start a line, or CUPS reads it as DEBUG.
  if (job.page == 0) fputc('\n', stderr);
  fprintf(stderr, "INFO: Waiting for the printer to finish the card\n");
  Printer().Pause(kSettleUsec);
  for (;;) {
    if (JobCanceled()) return StopCanceledJob();
    Printer().Pause(kPollUsec);
    if (JobCanceled()) return StopCanceledJob();
    const int result = PrintJobStatus(job.jobStatus);
    const unsigned char* s = job.jobStatus;
    fprintf(stderr, "DEBUG: PJS[nRet=%d][%x][%x][%x][%x][%x][%x][%x]\r\n", result, s[0], s[1],
            s[2], s[3], s[4], s[5], s[6]);
    // An answer without the job state tells nothing: the bytes above are an
    // earlier answer's, and waiting on them could last for ever.
    const bool noState = result == 0 && LastReplyLength() < 1;
    if (noState) fprintf(stderr, "DEBUG: Job status answered without the job state.\n");
    if (result != 0 || noState) {
      // Every page was handed to the printer by now: a printer that clears
      // its error ends the job normally; only a failed cancel or clear fails it.
      return RecoverPrinter(job, true);
    }
    if (s[0] == 1) {
      fprintf(stderr, "INFO: The printer is still printing the card\n");
      continue;
    }
    fprintf(stderr, "DEBUG: pJob[0] = %d\n", s[0]);
    fprintf(stderr, "INFO: The printer has finished the card\n");
    releaseJob(job);
    return 0;
  }
}
