// The filter's entry and job preflight: command line, input, the printer's
// job status (and the recovery of a printer that cannot report it), firmware
// version, ribbon sensor, PPD, options, image log and raster streams.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "filter/cupslog.h"
#include "filter/filter.h"
#include "pipeline/debugfile.h"

// Keeps the command line; 5 or 6 arguments after the program name.
int CheckArguments(FilterJob& job) {
  if (job.argc < 6 || job.argc > 7) {
    printf("Usage: rastertovkr pwg job user title copies options [filename]\n");
    return 1;
  }
  return kGoOn;
}

// Opens the named input file, or keeps standard input.
int OpenInput(FilterJob& job) {
  job.inputFd = 0;
  if (job.argc == 7) {
    job.inputFd = open(job.argv[6], O_RDONLY);
    if (job.inputFd < 0) {
      _cupsLangPrintFilter(stderr, "ERROR", "Unable to open print file: %s", strerror(errno));
      return 1;
    }
  }
  return kGoOn;
}

// Cancels the printer's job, reads its status and clears its error state.
int RecoverPrinter(FilterJob& job, bool atCompletion) {
  int result = CancelPrintJob(job.jobStatus[1]);
  if (result != 0) {
    if (atCompletion)
      _cupsLangPrintFilter(stderr, "ERROR", "CancelPrintJob :: Fail !!, nRet = [%d]", result);
    fprintf(stderr, "DEBUG: CancelPrintJob Error %d\n", result);
    return 1;
  }
  result = CheckPrinterStatus();
  fprintf(stderr, "DEBUG: CheckPrinterStatus Code [%d][%02x]\n", result, result);
  result = ClearErrorStatus();
  if (result != 0) {
    if (atCompletion)
      _cupsLangPrintFilter(stderr, "ERROR", "ClearErrorStatus :: Fail !!, nRet = [%d]", result);
    fprintf(stderr, "DEBUG: ClearErrorStatus Error %d\n", result);
    return 1;
  }
  return 0;
}

// Asks the printer for its job status. A printer that cannot answer is reset
// and this job ends unprinted: it is reported as failed, so that CUPS keeps
// it under its error policy instead of calling it completed.
int CheckJobStatus(FilterJob& job) {
  memset(job.jobStatus, 0, sizeof(job.jobStatus));
  memset(job.version, 0, sizeof(job.version));
  int result = PrintJobStatus(job.jobStatus);
  const unsigned char* s = job.jobStatus;
  fprintf(stderr, "DEBUG: PJS [nRet=%d][%x][%x][%x][%x][%x][%x][%x]\r\n", result, s[0], s[1],
          s[2], s[3], s[4], s[5], s[6]);
  if (result != 0) {
    int status = RecoverPrinter(job, false);
    if (status == 0) {
      _cupsLangPrintFilter(stderr, "ERROR",
                           "The printer did not report its status and was reset; "
                           "the job was not printed.");
      status = 1;
    }
    return status;
  }
  if (s[0] != 1) fprintf(stderr, "DEBUG: pJob[0] = %d\n", s[0]);
  return kGoOn;
}

// Asks the printer for its firmware version.
int CheckVersion(FilterJob& job) {
  int result = GetPrinterVersion(job.version);
  if (result != 0) {
    fprintf(stderr, "DEBUG: GetPrinterVersion Error %d\n", result);
    return 1;
  }
  const unsigned char* v = job.version;
  fprintf(stderr, "DEBUG: GetPrinterVersion (%x %x %x %x)\n", v[0], v[1], v[2], v[3]);
  return kGoOn;
}

// Reads the ribbon sensor; a '5' in byte 1 is a black ribbon.
int CheckRibbon(FilterJob& job) {
  // The version's bytes must not pass for the sensor's when its answer
  // carries no payload.
  memset(job.version, 0, sizeof(job.version));
  int result = CheckRibbonSensor(job.version);
  if (result != 0) {
    fprintf(stderr, "DEBUG: CheckRibbonSensor Error %d\n", result);
    return 1;
  }
  fprintf(stderr, "DEBUG: CheckRibbonSensor (%x %x)\n", job.version[0], job.version[1]);
  job.detectedRibbon = job.version[1] == '5' ? 4 : 0;
  return kGoOn;
}

// The printer's PPD is read with libcups's PPD functions, which it marks as
// deprecated; they are what opens a PPD file.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// Opens the PPD named by the PPD environment variable; it stays open for the
// whole run.
int OpenPpd(FilterJob& job) {
  fprintf(stderr, "DEBUG: rastertovkr pwg testtest ");
  fprintf(stderr, "DEBUG: rastertovkr pwg testtest2 (%d)\n", int(time(nullptr)));
  job.ppd = ppdOpenFile(getenv("PPD"));
  if (job.ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), line);
    return 1;
  }
  return kGoOn;
}

// Parses the job's options and stores the card options in the device.
int ReadOptions(FilterJob& job) {
  job.num_options = cupsParseOptions(job.argv[5], 0, &job.options);
  fprintf(stderr, "DEBUG: rastertovkr num_options (%d)\n", job.num_options);
  job.option = ReadCardOptions(job.num_options, job.options, job.detectedRibbon);
  SetPOption(job.option);
  return kGoOn;
}

// Creates the image-log file when the options ask for it.
int OpenImageLog(FilterJob& job) {
  if (job.option.nCheck != 1) return kGoOn;
  fprintf(stderr, "DEBUG: nCheck ImageLog Set");
  // The name is fixed and the folder shared: no link is followed and no
  // other user's file is written. A refused file is a log that cannot be
  // created: the job that asked for it ends before anything is printed, and
  // the file is left as it was.
  char why[128];
  const int fd = OpenDebugFile(VKR_IMAGE_LOG_PATH, why, sizeof(why));
  job.imageLogFile = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (job.imageLogFile == nullptr) {
    if (fd >= 0) {
      snprintf(why, sizeof(why), "%s", strerror(errno));
      close(fd);
    }
    fprintf(stderr, "DEBUG: Image log %s not written: %s.\n", VKR_IMAGE_LOG_PATH, why);
    printf("test_pwg.raster FAIL (%s)\n", why);
    return 1;
  }
  fprintf(stderr, "DEBUG: fileno %d testtest1 ", fileno(job.imageLogFile));
  job.imageLog = true;
  return kGoOn;
}

// Opens the input raster stream and, in image-log mode, the copy's stream.
// An input that is no raster is not an error here: it has no first page.
int OpenRasterStreams(FilterJob& job) {
  const char* contentType = getenv("FINAL_CONTENT_TYPE");
  fprintf(stderr, "DEBUG: rastertovkr testtest1 ");
  fprintf(stderr, "DEBUG: rastertovkr %s ", contentType ? contentType : "image/pwg-raster");
  job.input.fd = job.inputFd;
  job.inputRaster = cupsRasterOpenIO(ReadRasterInput, &job.input, CUPS_RASTER_READ);
  if (job.imageLog) {
    job.imageLogRaster = cupsRasterOpen(fileno(job.imageLogFile), CUPS_RASTER_WRITE);
    if (job.imageLogRaster == nullptr) {
      printf("cupsRasterOpen FAIL (%s)\n", strerror(errno));
      fclose(job.imageLogFile);
      job.imageLogFile = nullptr;
      return 1;
    }
  }
  return kGoOn;
}
