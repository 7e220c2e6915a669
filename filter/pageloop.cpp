// The raster page loop: each page header is checked, the page's lines are
// placed on the page frame in the page buffer, and the page is handed to the
// printer as a card side (fronts and backs paired by page number). In
// image-log mode every page is also copied, re-framed, to the image log.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "filter/cupslog.h"
#include "filter/filter.h"

namespace {

// Largest page side, in pixels, and largest page buffer the filter takes on.
const uint32_t kMaxPageSide = 16384;
const uint64_t kMaxPageBuffer = 256ull * 1024 * 1024;

const unsigned kColorSpaceRGB = 1;
const unsigned kColorSpaceCMYK = 6;

// The page frame of one page, in pixels and bytes.
struct PageFrame {
  uint32_t width = 0, height = 0, left = 0, bottom = 0, top = 0;
  uint32_t linesize = 0, lineoffset = 0;
  bool outOfRange = false;  // a size that no 32-bit pixel count can hold
};

// A header field as the raster file holds it. The enumerated fields carry
// whatever 32-bit number the file has, which their enum types need not be
// able to hold, so they are read as plain numbers.
template <typename Field>
unsigned fieldValue(const Field& field) {
  static_assert(sizeof(Field) == sizeof(unsigned), "a 32-bit header field");
  unsigned value;
  memcpy(&value, &field, sizeof(value));
  return value;
}

// One page-frame product: points times resolution over 72, truncated toward
// zero (single-precision product, double-precision division).
uint32_t framePixels(float points, unsigned resolution, bool& outOfRange) {
  const float product = points * static_cast<float>(resolution);
  const double pixels = static_cast<double>(product) / 72.0;
  if (!(pixels > -2147483648.0 && pixels < 4294967296.0)) {
    outOfRange = true;
    return UINT32_MAX;
  }
  return static_cast<uint32_t>(static_cast<int64_t>(pixels));
}

// Computes the page frame of a header.
PageFrame computeFrame(const cups_page_header2_t& h) {
  PageFrame f;
  f.width = framePixels(h.cupsPageSize[0], h.HWResolution[0], f.outOfRange);
  f.height = framePixels(h.cupsPageSize[1], h.HWResolution[1], f.outOfRange);
  f.left = framePixels(h.cupsImagingBBox[0], h.HWResolution[0], f.outOfRange);
  f.bottom = framePixels(h.cupsImagingBBox[1], h.HWResolution[1], f.outOfRange);
  f.top = f.height - f.bottom - h.cupsHeight;
  f.linesize = static_cast<uint32_t>(
      (static_cast<uint64_t>(f.width) * h.cupsBitsPerPixel + 7) / 8);
  f.lineoffset = static_cast<uint32_t>(static_cast<uint64_t>(f.left) * h.cupsBitsPerPixel / 8);
  return f;
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

// The byte that fills margins in a colour space, or -1 for a colour space
// the printer cannot take.
int whiteValue(unsigned colorSpace) {
  switch (colorSpace) {
    case 0: case 1: case 18: case 19: case 20:  // W, RGB, SW, SRGB, ADOBERGB
      return 255;
    case 3: case 6:  // K, CMYK
      return 0;
    default:
      return colorSpace >= 48 && colorSpace <= 62 ? 0 : -1;  // DEVICE1 to DEVICEF
  }
}

// Ends the job over a page that cannot be printed.
int refusePage(const char* message) {
  _cupsLangPrintFilter(stderr, "ERROR", "%s", message);
  return 1;
}

// Checks a page header before anything of the page is read or written;
// returns kGoOn or the exit status, and the margin fill in white.
int checkPage(const cups_page_header2_t& h, const PageFrame& f, int page, int& white) {
  if (f.top > f.height || f.left > f.width || f.bottom > f.height) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Bad bottom/left/top margin on page %d.\n", page);
    return 1;
  }
  white = fieldValue(h.cupsColorSpace) > 62 ? -1 : whiteValue(fieldValue(h.cupsColorSpace));
  if (white < 0) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Unsupported cupsColorSpace %d on page %d.\n", int(fieldValue(h.cupsColorSpace)),
            page);
    return 1;
  }
  if (fieldValue(h.cupsColorOrder) != unsigned(CUPS_ORDER_CHUNKED)) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Unsupported cupsColorOrder %d on page %d.\n", int(fieldValue(h.cupsColorOrder)),
            page);
    return 1;
  }
  if (h.cupsBitsPerPixel != 1 && h.cupsBitsPerColor != 8 && h.cupsBitsPerColor != 16) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Unsupported cupsBitsPerColor %d on page %d.\n",
            int(h.cupsBitsPerColor), page);
    return 1;
  }

  // A frame without pixels (a zero resolution or page size) has nothing to
  // print, and its lines, of no bytes, cannot even go through a raster
  // stream (libcups divides by the line length).
  if (f.width == 0 || f.height == 0 || f.linesize == 0) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Empty page frame (%u x %u pixels) on page %d.\n", f.width, f.height,
            page);
    return 1;
  }

  // Sizes are held to what a card printer can use, so that no buffer size
  // overflows and no page asks for absurd memory.
  if (f.outOfRange || f.width > kMaxPageSide || f.height > kMaxPageSide) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Page size %u x %u pixels is larger than %u pixels a side on page %d.\n",
            f.outOfRange ? UINT32_MAX : f.width, f.outOfRange ? UINT32_MAX : f.height,
            kMaxPageSide, page);
    return 1;
  }
  if (h.cupsWidth > kMaxPageSide) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Raster width %u is larger than %u pixels on page %d.\n",
            h.cupsWidth, kMaxPageSide, page);
    return 1;
  }
  const uint64_t bufferBytes = (uint64_t(f.linesize) + 8) * f.height + 1000;
  if (bufferBytes > kMaxPageBuffer) {
    refusePage("Unsupported raster data.");
    fprintf(stderr, "DEBUG: Page buffer of %llu bytes is larger than %llu bytes on page %d.\n",
            (unsigned long long)bufferBytes, (unsigned long long)kMaxPageBuffer, page);
    return 1;
  }

  // The print call reads three (RGB) or four (CMYK) bytes a pixel.
  if (fieldValue(h.cupsColorSpace) == kColorSpaceRGB || fieldValue(h.cupsColorSpace) == kColorSpaceCMYK) {
    const unsigned samples = fieldValue(h.cupsColorSpace) == kColorSpaceRGB ? 3 : 4;
    if (h.cupsBitsPerPixel == 1) {
      refusePage("Unsupported raster data.");
      fprintf(stderr, "DEBUG: Unsupported 1-bit pixels in cupsColorSpace %d on page %d.\n",
              int(fieldValue(h.cupsColorSpace)), page);
      return 1;
    }
    if (h.cupsBitsPerPixel != samples * h.cupsBitsPerColor) {
      refusePage("Unsupported raster data.");
      fprintf(stderr, "DEBUG: Unsupported cupsBitsPerPixel %d for cupsColorSpace %d on page %d.\n",
              int(h.cupsBitsPerPixel), int(fieldValue(h.cupsColorSpace)), page);
      return 1;
    }
  }
  return kGoOn;
}

// Ends the job over a failed image-log write.
int imageLogFailed(int line, int page) {
  _cupsLangPrintFilter(stderr, "ERROR", "%s", "Error sending raster data.");
  fprintf(stderr, "DEBUG: Unable to write line %d for page %d.\n", line, page);
  return 1;
}

// Places one line of the frame (linesize bytes) into the page buffer at the
// fill offset, 16-bit samples reduced to their high byte.
void placeLineOnFrame(FilterJob& job, const uint8_t* line, uint32_t linesize, bool sixteenBit) {
  uint8_t* to = job.pageBuffer.data() + job.pageFill;
  if (!sixteenBit) {
    memcpy(to, line, linesize);
    job.pageFill += linesize;
    return;
  }
  const size_t samples = linesize / 2;
  for (size_t i = 0; i < samples; ++i) {
    uint16_t sample;
    memcpy(&sample, line + 2 * i, 2);  // the raster reader gives host byte order
    to[i] = static_cast<uint8_t>(sample >> 8);
  }
  job.pageFill += samples;
}

// Reads one page's lines onto its frame; returns kGoOn or the exit status.
int gatherPage(FilterJob& job, const cups_page_header2_t& h, const PageFrame& f, int white) {
  const bool sixteenBit = h.cupsBitsPerColor == 16 && h.cupsBitsPerPixel % 16 == 0;
  const size_t frameLine = sixteenBit ? f.linesize / 2 : f.linesize;
  const size_t needed = frameLine * f.height;
  // The buffer grows to the largest page of the job.
  if (job.pageBuffer.size() < needed) job.pageBuffer.resize(needed);
  job.pageFill = 0;

  fprintf(stderr, "Copy raster data...");
  const size_t lineBytes = std::max<size_t>(f.linesize, h.cupsBytesPerLine);
  size_t lineoffset = f.lineoffset;
  if (lineoffset + h.cupsBytesPerLine > lineBytes) lineoffset = lineBytes - h.cupsBytesPerLine;
  std::vector<uint8_t> line(lineBytes, static_cast<uint8_t>(white));

  // Page-top margin: white lines on the frame and in the image log.
  for (uint32_t y = 0; y < f.top; ++y) {
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, line.data(), f.linesize) < f.linesize)
      return imageLogFailed(int(y + 1), job.page);
    placeLineOnFrame(job, line.data(), f.linesize, sixteenBit);
  }
  for (uint32_t y = 0; y < h.cupsHeight; ++y) {
    if (JobCanceled()) return StopCanceledJob();
    if (cupsRasterReadPixels(job.inputRaster, line.data() + lineoffset, h.cupsBytesPerLine) <
        h.cupsBytesPerLine) {
      _cupsLangPrintFilter(stderr, "ERROR", "%s", "Error reading raster data.");
      fprintf(stderr, "DEBUG: Unable to read line %d for page %d.\n", int(f.top + y + 1),
              job.page);
      return 1;
    }
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, line.data(), f.linesize) < f.linesize)
      return imageLogFailed(int(f.top + y + 1), job.page);
    placeLineOnFrame(job, line.data(), f.linesize, sixteenBit);
  }
  // Page-bottom margin.
  std::fill(line.begin(), line.end(), static_cast<uint8_t>(white));
  for (uint32_t y = 0; y < f.bottom; ++y) {
    if (job.imageLog &&
        cupsRasterWritePixels(job.imageLogRaster, line.data(), f.linesize) < f.linesize)
      return imageLogFailed(int(f.top + h.cupsHeight + y + 1), job.page);
    placeLineOnFrame(job, line.data(), f.linesize, sixteenBit);
  }
  return kGoOn;
}

// Hands a gathered page to the printer by its colour space; returns kGoOn or
// the exit status. frontPending tells whether a card front waits for its back.
int handOverPage(FilterJob& job, const cups_page_header2_t& h, const PageFrame& f,
                 bool& frontPending) {
  const int size = static_cast<int>(job.pageFill);
  int result = 0;
  if (fieldValue(h.cupsColorSpace) == kColorSpaceRGB) {
    fprintf(stderr, "nline ( %d)(%d, inheader.Duplex %d)\n", size, job.page & 1, int(fieldValue(h.Duplex)));
    if (fieldValue(h.Duplex) == 1) {
      const int colorType = (job.page & 1) ? 16 : 32;
      fprintf(stderr, "nline (Duplex nColorType %d)\n", colorType);
      result = OneCmdPrintingEx(3, colorType, job.pageBuffer.data(), size, int(f.width),
                                int(f.height));
      if (result == 0) frontPending = colorType == 16;
    } else {
      result = OneCmdPrintingEx(1, 0, job.pageBuffer.data(), size, int(f.width), int(f.height));
      if (result == 0) frontPending = false;
    }
  } else if (fieldValue(h.cupsColorSpace) == kColorSpaceCMYK) {
    result = OneCmdPrintingEx(256, 0, job.pageBuffer.data(), size, int(f.width), int(f.height));
    if (result == 0) frontPending = false;
  } else {
    return kGoOn;
  }
  if (result == VK_ERR_CARD_REFUSED) return FailRefusedCard();
  if (result != 0) {
    fprintf(stderr, "DEBUG: OneCmdPrintingEx Error %d\n", result);
    return 1;
  }
  return kGoOn;
}

}  // namespace

// Turns every raster page into card sides and sends them to the printer.
int PageLoop(FilterJob& job) {
  cups_page_header2_t header;
  bool frontPending = false;
  while (!JobCanceled() && job.inputRaster != nullptr &&
         cupsRasterReadHeader2(job.inputRaster, &header)) {
    logHeader(header);
    ++job.page;
    fprintf(stderr, "test PAGE: %d %d\n", job.page, int(header.NumCopies));

    const PageFrame frame = computeFrame(header);
    fprintf(stderr, "test page_width: %d\n", int(frame.width));
    fprintf(stderr, "test page_height: %d\n", int(frame.height));
    fprintf(stderr, "test page_left: %d\n", int(frame.left));
    fprintf(stderr, "test page_bottom: %d\n", int(frame.bottom));
    fprintf(stderr, "test page_top: %d\n", int(frame.top));
    fprintf(stderr, "test linesize: %d\n", int(frame.linesize));
    fprintf(stderr, "test lineoffset: %d\n", int(frame.lineoffset));

    int white = 255;
    int status = checkPage(header, frame, job.page, white);
    if (status != kGoOn) return status;

    if (job.imageLog) {
      cups_page_header2_t out = header;
      out.cupsWidth = frame.width;
      out.cupsHeight = frame.height;
      out.cupsBytesPerLine = frame.linesize;
      out.cupsInteger[14] = 0;
      out.cupsInteger[15] = 0;
      ApplyPageOptions(job.num_options, job.options, &out);
      if (!cupsRasterWriteHeader2(job.imageLogRaster, &out)) {
        _cupsLangPrintFilter(stderr, "ERROR", "%s", "Error sending raster data.");
        fprintf(stderr, "DEBUG: Unable to write header for page %d.\n", job.page);
        return 1;
      }
    }

    status = gatherPage(job, header, frame, white);
    if (status != kGoOn) return status;
    if (JobCanceled()) return StopCanceledJob();
    status = handOverPage(job, header, frame, frontPending);
    if (status != kGoOn) return status;
    job.pageFill = 0;
  }

  if (JobCanceled()) return StopCanceledJob();
  // A two-sided job with an odd number of card sides ends on a front.
  if (frontPending) {
    fprintf(stderr, "DEBUG: Last card front has no back; printing it as a one-sided card.\n");
    const int result = PrintPendingFront();
    if (result == VK_ERR_CARD_REFUSED) return FailRefusedCard();
    if (result != 0) {
      fprintf(stderr, "DEBUG: PrintPendingFront Error %d\n", result);
      return 1;
    }
  }
  return kGoOn;
}
