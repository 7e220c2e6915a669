// Fuzz target: the raster page loop from raw stream bytes.
//
// Input: one option byte, then an uncompressed CUPS raster stream (see
// below). The option byte picks the ribbon (bits 0-1: colour, black,
// rewritable, rewritable erase), the image log (bit 2), black extraction
// (bit 3), the overlay of both sides (bits 4-5: none, the whole card, two
// banded masks; a mask is drawn at card size, so "none" keeps most runs as
// small as their pages) and the colour style (bits 6-7; 3 is style 0 again
// and lets one page wider than 1000 pixels through: such a page is scaled
// to the whole card, which costs as much as a hundred small pages, so other
// runs, and a second wide page of the same run, fail its header read; one
// wide page reaches the scaling on either side of a card). Every page the
// loop accepts goes through the card pipeline and the print-job composition
// to an in-memory printer that acknowledges everything; the printer stream
// must consist of whole frames.
// Small pages (the seeds are 48 x 30 pixels) keep the pipeline fast; the
// header space itself is searched by fuzz_pageframe.
//
// Only uncompressed streams are read (a compressed one reads as empty):
// libcups allocates, and leaves untouched, a line of cupsBytesPerLine bytes
// for every header of a compressed stream before anything checks it, which
// would hide the filter's own allocations from the allocation limit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/VKDevice.h"
#include "filter/filter.h"
#include "filter/pageframe.h"
#include "fuzz/fuzz_printer.h"

namespace {

// The raster bytes as cupsRasterOpenIO reads them, counted in the job's
// input tally as the filter's own reader counts them.
struct Source {
  const uint8_t* data;
  size_t size;
  size_t at;
  InputTally* tally;
  int widePagesLeft;
};

ssize_t readSource(void* ctx, unsigned char* buffer, size_t bytes) {
  Source* s = static_cast<Source*>(ctx);
  const size_t left = s->size - s->at;
  const size_t n = bytes < left ? bytes : left;
  memcpy(buffer, s->data + s->at, n);
  if (s->at == 0 && n >= 4) {
    uint32_t sync;
    memcpy(&sync, buffer, 4);
    if (sync == CUPS_RASTER_SYNCv2 || sync == CUPS_RASTER_REVSYNCv2) return 0;
  }
  if (n == sizeof(cups_page_header2_t)) {
    cups_page_header2_t header;
    memcpy(&header, buffer, sizeof(header));
    if (CheckPageFrame(header, 1).frame.width > 1000 && s->widePagesLeft-- <= 0) return -1;
  }
  s->at += n;
  if (n == 0 && bytes > 0) s->tally->atEnd = true;
  s->tally->bytes += n;
  return ssize_t(n);
}

// The image log's copy, kept in memory.
ssize_t writeSink(void* ctx, unsigned char* buffer, size_t bytes) {
  std::vector<uint8_t>* sink = static_cast<std::vector<uint8_t>*>(ctx);
  // Only the size matters; keep memory flat across a long run.
  if (sink->size() < 64) sink->insert(sink->end(), buffer, buffer + (bytes < 64 ? bytes : 64));
  return ssize_t(bytes);
}

POPTION optionsFrom(uint8_t bits) {
  static const int32_t kRibbons[] = {0, 4, 10, 11};
  static const int32_t kOverlays[] = {256, 0, 2, 3};
  POPTION o = {};
  o.nRibbon = kRibbons[bits & 3];
  o.nBrightness = 45;
  o.nContrast = 41;
  o.nRed = o.nGreen = o.nBlue = 47;
  o.nSharpness = 8;
  o.nGamma = 93;
  o.nBlackUse = (bits >> 3) & 1;
  o.nSaturate = 1;
  o.nFOverlay = kOverlays[(bits >> 4) & 3];
  o.nBOverlay = kOverlays[(bits >> 4) & 3];
  o.nStyle = (bits >> 6) % 3;
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzPrinter printer;
  if (size < 1) return 0;
  printer.Reset();
  printer.defaultAnswer = FuzzPrinter::Reply(0x00, 0x06);

  const uint8_t bits = data[0];
  SetPOption(optionsFrom(bits));
  g_Dev.m_nColorType = 0;  // no card front left over from an earlier input

  FilterJob job;
  Source source{data + 1, size - 1, 0, &job.input, (bits >> 6) == 3 ? 1 : 0};
  std::vector<uint8_t> imageLog;
  job.inputRaster = cupsRasterOpenIO(readSource, &source, CUPS_RASTER_READ);
  if ((bits >> 2) & 1) {
    job.imageLog = true;
    job.imageLogRaster = cupsRasterOpenIO(writeSink, &imageLog, CUPS_RASTER_WRITE);
  }
  PageLoop(job);
  if (job.inputRaster != nullptr) cupsRasterClose(job.inputRaster);
  if (job.imageLogRaster != nullptr) cupsRasterClose(job.imageLogRaster);
  printer.RequireWholeFrames();
  return 0;
}
