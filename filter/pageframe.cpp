// The page frame check: a raster page header becomes the checked sizes and
// offsets of its page, or is refused with the reason; and the placement of
// one frame line as the pixels the print call takes.
#include "filter/pageframe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Colour spaces by their number in the header.
const uint32_t kSpaceW = 0, kSpaceRgb = 1, kSpaceK = 3, kSpaceCmyk = 6, kSpaceSW = 18,
               kSpaceSRgb = 19, kSpaceAdobeRgb = 20;

// One frame product: points times resolution over 72, truncated toward zero
// (single-precision product, double-precision division). A value no 32-bit
// pixel count holds (NaN, infinite, beyond 2^32) gives UINT32_MAX and marks
// the frame out of range.
uint32_t framePixels(float points, uint32_t resolution, bool& outOfRange) {
  const float product = points * static_cast<float>(resolution);
  const double pixels = static_cast<double>(product) / 72.0;
  if (!(pixels > -2147483648.0 && pixels < 4294967296.0)) {
    outOfRange = true;
    return UINT32_MAX;
  }
  return static_cast<uint32_t>(static_cast<int64_t>(pixels));
}

// The page kind and margin fill of a colour space the filter prints;
// false for any other.
bool kindOf(uint32_t space, PageKind& kind, uint8_t& white) {
  switch (space) {
    case kSpaceRgb: case kSpaceSRgb: case kSpaceAdobeRgb:
      kind = PageKind::Rgb, white = 255;
      return true;
    case kSpaceCmyk:
      kind = PageKind::Cmyk, white = 0;
      return true;
    case kSpaceW: case kSpaceSW:
      kind = PageKind::Grey, white = 255;
      return true;
    case kSpaceK:
      kind = PageKind::InvertedGrey, white = 0;
      return true;
    default:
      return false;
  }
}

// Marks the check refused with its fault and reason line.
FrameCheck& refuse(FrameCheck& check, FrameFault fault, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
FrameCheck& refuse(FrameCheck& check, FrameFault fault, const char* format, ...) {
  check.fault = fault;
  va_list args;
  va_start(args, format);
  vsnprintf(check.reason, sizeof(check.reason), format, args);
  va_end(args);
  return check;
}

}  // namespace

// A 32-bit header field read as the number the file holds.
uint32_t HeaderField(const void* field) {
  uint32_t value;
  memcpy(&value, field, sizeof(value));
  return value;
}

// Turns a page header into its checked frame; page numbers the reason.
FrameCheck CheckPageFrame(const cups_page_header2_t& h, int page) {
  FrameCheck check;
  PageFrame& f = check.frame;
  bool outOfRange = false;
  f.width = framePixels(h.cupsPageSize[0], h.HWResolution[0], outOfRange);
  f.height = framePixels(h.cupsPageSize[1], h.HWResolution[1], outOfRange);
  f.left = framePixels(h.cupsImagingBBox[0], h.HWResolution[0], outOfRange);
  f.bottom = framePixels(h.cupsImagingBBox[1], h.HWResolution[1], outOfRange);
  const uint32_t bpp = h.cupsBitsPerPixel;
  const uint64_t linesize = (uint64_t(f.width) * bpp + 7) / 8;
  const uint64_t lineoffset = uint64_t(f.left) * bpp / 8;
  // The logged values keep the header's 32-bit arithmetic; a top that wraps
  // is caught below in 64 bits.
  f.top = f.height - f.bottom - h.cupsHeight;
  f.linesize = static_cast<uint32_t>(linesize);
  f.lineoffset = static_cast<uint32_t>(lineoffset);
  f.colorSpace = HeaderField(&h.cupsColorSpace);
  f.bitsPerColor = h.cupsBitsPerColor;
  f.duplex = HeaderField(&h.Duplex) == 1;
  f.rasterLines = h.cupsHeight;
  f.rasterBytes = h.cupsBytesPerLine;

  if (uint64_t(f.bottom) + h.cupsHeight > f.height || f.left > f.width)
    return refuse(check, FrameFault::Margin, "DEBUG: Bad bottom/left/top margin on page %d.\n",
                  page);
  if (!kindOf(f.colorSpace, f.kind, f.white))
    return refuse(check, FrameFault::ColorSpace,
                  "DEBUG: Unsupported cupsColorSpace %d on page %d.\n", int(f.colorSpace), page);
  const uint32_t order = HeaderField(&h.cupsColorOrder);
  if (order != uint32_t(CUPS_ORDER_CHUNKED))
    return refuse(check, FrameFault::ColorOrder,
                  "DEBUG: Unsupported cupsColorOrder %d on page %d.\n", int(order), page);
  if (bpp != 1 && h.cupsBitsPerColor != 8 && h.cupsBitsPerColor != 16)
    return refuse(check, FrameFault::BitsPerColor,
                  "DEBUG: Unsupported cupsBitsPerColor %d on page %d.\n",
                  int(h.cupsBitsPerColor), page);

  // A frame without pixels has nothing to print, and its lines, of no bytes,
  // cannot even go through a raster stream.
  if (f.width == 0 || f.height == 0 || linesize == 0)
    return refuse(check, FrameFault::Empty,
                  "DEBUG: Empty page frame (%u x %u pixels) on page %d.\n", f.width, f.height,
                  page);
  if (outOfRange || f.width > kMaxPageSide || f.height > kMaxPageSide)
    return refuse(check, FrameFault::PageSize,
                  "DEBUG: Page size %u x %u pixels is larger than %u pixels a side on page %d.\n",
                  outOfRange ? UINT32_MAX : f.width, outOfRange ? UINT32_MAX : f.height,
                  kMaxPageSide, page);
  if (h.cupsWidth > kMaxPageSide)
    return refuse(check, FrameFault::RasterWidth,
                  "DEBUG: Raster width %u is larger than %u pixels on page %d.\n", h.cupsWidth,
                  kMaxPageSide, page);
  // The bytes a line carries are what its pixels make, so that they are
  // bounded by the raster width and cannot ask for a line of gigabytes.
  const uint64_t rasterBytes = (uint64_t(h.cupsWidth) * bpp + 7) / 8;
  if (h.cupsBytesPerLine != rasterBytes)
    return refuse(check, FrameFault::BytesPerLine,
                  "DEBUG: cupsBytesPerLine %u does not match cupsWidth %u at %u bits a pixel "
                  "on page %d.\n",
                  h.cupsBytesPerLine, h.cupsWidth, bpp, page);

  const bool sixteenBit = bpp != 1 && h.cupsBitsPerColor == 16;
  const uint64_t pageLine = f.kind == PageKind::Grey || f.kind == PageKind::InvertedGrey
                                ? uint64_t(f.width) * 3
                                : (sixteenBit ? linesize / 2 : linesize);
  const uint64_t bufferBytes =
      std::max((linesize + 8) * f.height + 1000, pageLine * f.height);
  if (bufferBytes > kMaxPageBuffer)
    return refuse(check, FrameFault::PageBuffer,
                  "DEBUG: Page buffer of %llu bytes is larger than %llu bytes on page %d.\n",
                  (unsigned long long)bufferBytes, (unsigned long long)kMaxPageBuffer, page);

  // The print call reads three (RGB) or four (CMYK) bytes a pixel; grey
  // pages carry one sample of 1, 8 or 16 bits.
  const bool grey = f.kind == PageKind::Grey || f.kind == PageKind::InvertedGrey;
  const uint32_t samples = grey ? 1 : f.kind == PageKind::Rgb ? 3 : 4;
  if (!grey && bpp == 1)
    return refuse(check, FrameFault::BitsPerPixel,
                  "DEBUG: Unsupported 1-bit pixels in cupsColorSpace %d on page %d.\n",
                  int(f.colorSpace), page);
  if (bpp != 1 && uint64_t(bpp) != uint64_t(samples) * h.cupsBitsPerColor)
    return refuse(check, FrameFault::BitsPerPixel,
                  "DEBUG: Unsupported cupsBitsPerPixel %d for cupsColorSpace %d on page %d.\n",
                  int(bpp), int(f.colorSpace), page);
  if (bpp == 1) f.bitsPerColor = 1;

  f.top = static_cast<uint32_t>(uint64_t(f.height) - f.bottom - h.cupsHeight);
  f.lineBytes = static_cast<uint32_t>(std::max<uint64_t>(linesize, rasterBytes));
  f.readOffset = static_cast<uint32_t>(std::min<uint64_t>(lineoffset, f.lineBytes - rasterBytes));
  f.pageLineBytes = static_cast<uint32_t>(pageLine);
  f.pageBytes = pageLine * f.height;
  return check;
}

// Places one frame line as one page line of the pixels the print call takes.
void PlaceFrameLine(const PageFrame& f, const uint8_t* line, uint8_t* out) {
  const bool grey = f.kind == PageKind::Grey || f.kind == PageKind::InvertedGrey;
  if (!grey) {
    if (f.bitsPerColor != 16) {
      memcpy(out, line, f.pageLineBytes);
      return;
    }
    for (uint32_t i = 0; i < f.pageLineBytes; ++i) {
      uint16_t sample;
      memcpy(&sample, line + 2 * size_t(i), 2);  // the raster reader gives host byte order
      out[i] = static_cast<uint8_t>(sample >> 8);
    }
    return;
  }
  const uint8_t flip = f.kind == PageKind::InvertedGrey ? 0xFF : 0x00;
  for (uint32_t x = 0; x < f.width; ++x) {
    uint8_t v;
    if (f.bitsPerColor == 1) {
      v = (line[x / 8] & (0x80 >> (x % 8))) ? 0xFF : 0x00;
    } else if (f.bitsPerColor == 16) {
      uint16_t sample;
      memcpy(&sample, line + 2 * size_t(x), 2);
      v = static_cast<uint8_t>(sample >> 8);
    } else {
      v = line[x];
    }
    v ^= flip;
    out[3 * size_t(x)] = out[3 * size_t(x) + 1] = out[3 * size_t(x) + 2] = v;
  }
}
