// The rastertovkr job: the record that one run of the filter keeps, and the
// steps that main runs in order. Each step returns kGoOn to hand over to the
// next, or the exit status that ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "device/VK4400.h"

// A step's result that lets the job go on.
const int kGoOn = -1;

// Size of the version reply the front end keeps (the ribbon sensor's answer
// lands in the same buffer).
const int kVersionReplySize = 100;

// The image-log copy of the job's raster.
#define VKR_IMAGE_LOG_PATH "/tmp/test_pwg.raster"

// What the raster reader has taken from the input: the bytes it was given
// and whether it met the input's end. It tells an input that simply has no
// further page from one whose next page header cannot be read.
struct InputTally {
  int fd = 0;
  uint64_t bytes = 0;
  bool atEnd = false;
  // Bytes read from fd ahead of libcups, which asks for the input a line at
  // a time: one read system call then serves many lines.
  std::vector<uint8_t> ahead;
  size_t aheadAt = 0, aheadEnd = 0;
};

// The raster reader's read function over tally->fd (cupsRasterOpenIO),
// counting what it hands over.
ssize_t ReadRasterInput(void* tally, unsigned char* buffer, size_t bytes);

// Everything one run of the filter owns, from the arguments to the raster
// streams and the page loop's state.
struct FilterJob {
  // Command line.
  int argc = 0;
  char** argv = nullptr;
  // 0 (standard input) or the descriptor of the named input file.
  int inputFd = 0;
  // Payload of the last successful job-status query: byte 0 the job state
  // (1 while the printer is working on a job), byte 1 the printer's job
  // number. Zeroed before the first query.
  unsigned char jobStatus[VK_JOBSTATUS_SIZE] = {0};
  // Version reply, then overwritten by the ribbon sensor's reply.
  unsigned char version[kVersionReplySize] = {0};
  // 4 when the ribbon sensor reported a black ribbon, else 0.
  int detectedRibbon = 0;
  // The job's options (argument 5), parsed by cupsParseOptions.
  int num_options = 0;
  cups_option_t* options = nullptr;
  // The printer's PPD, open for the whole run.
  ppd_file_t* ppd = nullptr;
  // The card options as stored with SetPOption.
  POPTION option = {};
  // Image-log mode: the raster copy of every page.
  bool imageLog = false;
  FILE* imageLogFile = nullptr;
  cups_raster_t* imageLogRaster = nullptr;
  // The job's raster input, read through ReadRasterInput over inputFd (null
  // when the input is no raster), and what it has read.
  cups_raster_t* inputRaster = nullptr;
  InputTally input;
  // Page loop state.
  std::vector<uint8_t> pageBuffer;
  size_t pageFill = 0;
  int page = 0;
};

// --- entry and preflight (preflight.cpp) ---
// Keeps the command line; 5 or 6 arguments after the program name.
int CheckArguments(FilterJob& job);
// Opens the named input file, or keeps standard input.
int OpenInput(FilterJob& job);
// Asks the printer for its job status; runs the recovery sequence when it
// cannot answer.
int CheckJobStatus(FilterJob& job);
// Asks the printer for its firmware version.
int CheckVersion(FilterJob& job);
// Reads the ribbon sensor and notes a black ribbon.
int CheckRibbon(FilterJob& job);
// Opens the PPD named by the PPD environment variable.
int OpenPpd(FilterJob& job);
// Parses the job's options and stores the card options in the device.
int ReadOptions(FilterJob& job);
// Creates the image-log file when the options ask for it.
int OpenImageLog(FilterJob& job);
// Opens the input raster stream and, in image-log mode, the copy's stream.
int OpenRasterStreams(FilterJob& job);

// Cancels the printer's job, reads its status and clears its error state.
// Returns the exit status: 0 when the clear succeeded, 1 when cancelling or
// clearing failed. atCompletion adds an "ERROR: " line before each failure
// line, as the completion wait reports its failures to the user.
int RecoverPrinter(FilterJob& job, bool atCompletion);

// --- card options (options.cpp) ---
// Turns the job's options into the print-options record, logging each option
// found; detectedRibbon is the ribbon code from the ribbon sensor.
POPTION ReadCardOptions(int num_options, cups_option_t* options, int detectedRibbon);
// Applies the per-page options print-content-optimize, print-quality and
// print-rendering-intent to a page header (the image-log copy's).
void ApplyPageOptions(int num_options, cups_option_t* options, cups_page_header2_t* header);

// --- cancellation (cancel.cpp) ---
// Installs the SIGTERM handler (CUPS cancelling the job) and ignores SIGPIPE,
// so that a printer stream that has gone away fails its write (PrinterIO.h).
void InstallSignalHandlers();
// Whether the job has been cancelled; the steps check it at safe points.
bool JobCanceled();
// Logs the cancellation and returns the exit status of a cancelled job (1).
int StopCanceledJob();

// --- a card the printer refused (refusal.cpp) ---
// Writes the "ERROR: " line naming the printer's answer to the refused card
// (a print call returned VK_ERR_CARD_REFUSED); returns the exit status, 1.
int FailRefusedCard();

// --- page loop (pageloop.cpp) and completion wait (completion.cpp) ---
// Turns every raster page into card sides and sends them to the printer.
int PageLoop(FilterJob& job);
// Waits until the printer reports that the job has ended; ends the process.
int CompletionWait(FilterJob& job);
