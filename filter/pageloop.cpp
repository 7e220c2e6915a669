// The raster page loop: each page header is checked, the page's lines are
// placed on the page frame in the page buffer, and the page is handed to the
// printer as a card side (fronts and backs paired by page number). In
// image-log mode every page is also copied, re-framed, to the image log.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "filter/cardjob.h"
#include "filter/cupslog.h"
#include "filter/filter.h"
#include "filter/pageframe.h"

namespace {

// A header field as the raster file holds it (see HeaderField).
template <typename Field>
unsigned fieldValue(const Field& field) {
  static_assert(sizeof(Field) == sizeof(unsigned), "a 32-bit header field");
  return HeaderField(&field);
}

// Writes the page header to the log, one field a line.
void logHeader(const cups_page_header2_t& h) {
  fprintf(stderr, "DEBUG: testtest Duplex = %d\n", int(fieldValue(h.Duplex)));
  fprintf(stderr, "DEBUG: HWResolution = [ %d %d ]\n", int(h.HWResolution[0]),
          int(h.HWResolution[1]));
  fprintf(stderr, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", int(h.ImagingBoundingBox[0]),
          int(h.ImagingBoundingBox[1]), int(h.ImagingBoundingBox[2]),
          int(h.ImagingBoundingBox[3]));
  fprintf(stderr, "DEBUG: Margins = [ %d %d ]\n", int(h.Margins[0]), int(h.Margins[1]));
  fprintf(stderr, "DEBUG: ManualFeed = %d\n", int(fieldValue(h.ManualFeed)));
  fprintf(stderr, "DEBUG: MediaPosition = %d\n", int(h.MediaPosition));
  fprintf(stderr, "DEBUG: NumCopies = %d\n", int(h.NumCopies));
  fprintf(stderr, "DEBUG: Orientation = %d\n", int(fieldValue(h.Orientation)));
  fprintf(stderr, "DEBUG: PageSize = [ %d %d ]\n", int(h.PageSize[0]), int(h.PageSize[1]));
  fprintf(stderr, "DEBUG: cupsWidth = %d\n", int(h.cupsWidth));
  fprintf(stderr, "DEBUG: cupsHeight = %d\n", int(h.cupsHeight));
  fprintf(stderr, "DEBUG: cupsMediaType = %d\n", int(h.cupsMediaType));
  fprintf(stderr, "DEBUG: cupsBitsPerColor = %d\n", int(h.cupsBitsPerColor));
  fprintf(stderr, "DEBUG: cupsBitsPerPixel = %d\n", int(h.cupsBitsPerPixel));
  fprintf(stderr, "DEBUG: cupsBytesPerLine = %d\n", int(h.cupsBytesPerLine));
  fprintf(stderr, "DEBUG: cupsColorOrder = %d\n", int(fieldValue(h.cupsColorOrder)));
  fprintf(stderr, "DEBUG: cupsColorSpace = %d\n", int(fieldValue(h.cupsColorSpace)));
  fprintf(stderr, "DEBUG: cupsCompression = %d\n", int(h.cupsCompression));
}

// Ends the job over a failed image-log write.
int imageLogFailed(int line, int page) {
  _cupsLangPrintFilter(stderr, "ERROR", "Error sending raster data.");
  fprintf(stderr, "DEBUG: Unable to write line %d for page %d.\n", line, page);
  return 1;
}

// Places one frame line on the page buffer at the fill offset.
void placeLineOnFrame(FilterJob& job, const PageFrame& f, const uint8_t* line) {
  PlaceFrameLine(f, line, job.pageBuffer.data() + job.pageFill);
  job.pageFill += f.pageLineBytes;
}

// Reads one page's lines onto its frame; returns kGoOn or the exit status.
// Every size and count comes from the checked frame: top + raster lines +
// bottom is the frame's height, so the page buffer holds every line placed.
int gatherPage(FilterJob& job, const PageFrame& f) {
  // The buffer grows to the largest page of the job.
  if (job.pageBuffer.size() < f.pageBytes) job.pageBuffer.resize(f.pageBytes);
  job.pageFill = 0;

  fprintf(stderr, "Copy raster data...");
  std::vector<uint8_t> line(f.lineBytes, f.white);

  // Page-top margin: white lines on the frame and in the image log.
  for (uint32_t y = 0; y < f.top; ++y) {
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, line.data(), f.linesize) < f.linesize)
      return imageLogFailed(int(y + 1), job.page);
    placeLineOnFrame(job, f, line.data());
  }
  // A raster line that needs no conversion and fills its frame line exactly
  // is read straight into its place on the page.
  const bool direct = (f.kind == PageKind::Rgb || f.kind == PageKind::Cmyk) &&
                      f.bitsPerColor == 8 && f.readOffset == 0 &&
                      f.rasterBytes == f.linesize && f.pageLineBytes == f.linesize;
  for (uint32_t y = 0; y < f.rasterLines; ++y) {
    if (JobCanceled()) return StopCanceledJob();
    uint8_t* into = direct ? job.pageBuffer.data() + job.pageFill : line.data() + f.readOffset;
    if (cupsRasterReadPixels(job.inputRaster, into, f.rasterBytes) < f.rasterBytes) {
      _cupsLangPrintFilter(stderr, "ERROR", "Error reading raster data.");
      fprintf(stderr, "DEBUG: Unable to read line %d for page %d.\n", int(f.top + y + 1),
              job.page);
      return 1;
    }
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, direct ? into : line.data(), f.linesize) <
            f.linesize)
      return imageLogFailed(int(f.top + y + 1), job.page);
    if (direct)
      job.pageFill += f.pageLineBytes;
    else
      placeLineOnFrame(job, f, line.data());
  }
  // Page-bottom margin.
  std::fill(line.begin(), line.end(), f.white);
  for (uint32_t y = 0; y < f.bottom; ++y) {
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, line.data(), f.linesize) < f.linesize)
      return imageLogFailed(int(f.top + f.rasterLines + y + 1), job.page);
    placeLineOnFrame(job, f, line.data());
  }
  return kGoOn;
}

// Hands a gathered page to the printer as a card side (filter/cardjob.h);
// returns kGoOn or the exit status.
int handOverPage(FilterJob& job, const cups_page_header2_t& h, const PageFrame& f,
                 CardSides& sides) {
  CardPage card;
  card.pixels = job.pageBuffer.data();
  card.bytes = job.pageFill;
  card.width = f.width;
  card.height = f.height;
  // RGB, sRGB, AdobeRGB and grey pages all reach the print call as RGB.
  card.cmyk = f.kind == PageKind::Cmyk;
  card.duplexField = int(fieldValue(h.Duplex));
  return HandOverCardSide(job.page, card, sides);
}

// Ends the job over an input whose next page header cannot be read, or
// returns kGoOn when the input simply has no further page: it met its end
// with no byte taken since the last page (before is the count of bytes
// taken then). An input of no bytes at all is an empty job. A stream
// compressed by libcups is read ahead, so a stream cut inside a later page
// header after its end was already taken in also counts as ended.
int endOfInput(FilterJob& job, uint64_t before) {
  const bool ended = job.inputRaster != nullptr ? job.input.atEnd && job.input.bytes == before
                                                : job.input.bytes == 0;
  if (ended) return kGoOn;
  if (job.page == 0) {
    _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
    fprintf(stderr, "DEBUG: No readable raster page header in %llu bytes of input.\n",
            (unsigned long long)job.input.bytes);
  } else {
    _cupsLangPrintFilter(stderr, "ERROR", "Error reading raster data.");
    fprintf(stderr, "DEBUG: Unable to read the header of page %d.\n", job.page + 1);
  }
  return 1;
}

}  // namespace

// The raster reader's read function over tally->fd, counting what it hands
// over and noting the input's end. Small requests are served from a block
// read ahead; large ones go straight to the caller's buffer.
ssize_t ReadRasterInput(void* context, unsigned char* buffer, size_t bytes) {
  const size_t kReadAhead = 64 * 1024;
  InputTally* tally = static_cast<InputTally*>(context);
  if (tally->aheadAt == tally->aheadEnd && bytes < kReadAhead) {
    if (tally->ahead.size() < kReadAhead) tally->ahead.resize(kReadAhead);
    ssize_t got;
    do {
      got = read(tally->fd, tally->ahead.data(), kReadAhead);
    } while (got < 0 && errno == EINTR && !JobCanceled());
    if (got < 0) return got;
    tally->aheadAt = 0;
    tally->aheadEnd = size_t(got);
  }
  ssize_t got;
  if (tally->aheadAt < tally->aheadEnd) {
    got = ssize_t(std::min(bytes, tally->aheadEnd - tally->aheadAt));
    memcpy(buffer, tally->ahead.data() + tally->aheadAt, size_t(got));
    tally->aheadAt += size_t(got);
  } else {
    do {
      got = read(tally->fd, buffer, bytes);
    } while (got < 0 && errno == EINTR && !JobCanceled());
  }
  if (got == 0 && bytes > 0) tally->atEnd = true;
  if (got > 0) tally->bytes += uint64_t(got);
  return got;
}

// Turns every raster page into card sides and sends them to the printer.
int PageLoop(FilterJob& job) {
  cups_page_header2_t header;
  CardSides sides;
  while (!JobCanceled()) {
    const uint64_t before = job.input.bytes;
    if (job.inputRaster == nullptr || !cupsRasterReadHeader2(job.inputRaster, &header)) {
      if (JobCanceled()) break;
      const int status = endOfInput(job, before);
      if (status != kGoOn) return status;
      break;
    }
    logHeader(header);
    ++job.page;
    fprintf(stderr, "test PAGE: %d %d\n", job.page, int(header.NumCopies));

    const FrameCheck check = CheckPageFrame(header, job.page);
    const PageFrame& frame = check.frame;
    fprintf(stderr, "test page_width: %d\n", int(frame.width));
    fprintf(stderr, "test page_height: %d\n", int(frame.height));
    fprintf(stderr, "test page_left: %d\n", int(frame.left));
    fprintf(stderr, "test page_bottom: %d\n", int(frame.bottom));
    fprintf(stderr, "test page_top: %d\n", int(frame.top));
    fprintf(stderr, "test linesize: %d\n", int(frame.linesize));
    fprintf(stderr, "test lineoffset: %d\n", int(frame.lineoffset));
    if (check.fault != FrameFault::None) {
      _cupsLangPrintFilter(stderr, "ERROR", "Unsupported raster data.");
      fputs(check.reason, stderr);
      return 1;
    }

    if (job.imageLog) {
      cups_page_header2_t out = header;
      out.cupsWidth = frame.width;
      out.cupsHeight = frame.height;
      out.cupsBytesPerLine = frame.linesize;
      out.cupsInteger[14] = 0;
      out.cupsInteger[15] = 0;
      ApplyPageOptions(job.num_options, job.options, &out);
      if (!cupsRasterWriteHeader2(job.imageLogRaster, &out)) {
        _cupsLangPrintFilter(stderr, "ERROR", "Error sending raster data.");
        fprintf(stderr, "DEBUG: Unable to write header for page %d.\n", job.page);
        return 1;
      }
    }

    int status = gatherPage(job, frame);
    if (status != kGoOn) return status;
    if (JobCanceled()) return StopCanceledJob();
    status = handOverPage(job, header, frame, sides);
    if (status != kGoOn) return status;
    job.pageFill = 0;
  }

  if (JobCanceled()) return StopCanceledJob();
  // A two-sided job with an odd number of card sides ends on a front.
  return FinishCardSides(sides);
}
