// The page frame: one raster page header turned into the checked sizes,
// offsets and line counts that the page loop works with. Every number the
// loop uses to allocate, read, place or send a page comes from here, computed
// in 64 bits; a header that would make any of them unsafe is refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cups/raster.h>

// Largest page side, in pixels, and largest page buffer the filter takes on.
const uint32_t kMaxPageSide = 16384;
const uint64_t kMaxPageBuffer = 256ull * 1024 * 1024;

// How the lines of a page become the pixels handed to the print call.
enum class PageKind {
  Rgb,           // RGB, sRGB, AdobeRGB: red, green, blue a pixel
  Cmyk,          // cyan, magenta, yellow, black a pixel
  Grey,          // W, SW: luminance, replicated to red, green and blue
  InvertedGrey,  // K: 0 is white; inverted, then replicated
};

// Why a header was refused (None: it was not).
enum class FrameFault {
  None,
  Margin,        // imaging box or raster outside the page
  ColorSpace,    // a colour space the filter does not take
  ColorOrder,    // not chunked pixels
  BitsPerColor,  // neither 1 bit a pixel nor 8 or 16 bits a colour
  Empty,         // a frame without pixels
  PageSize,      // a page side beyond kMaxPageSide (or no number at all)
  RasterWidth,   // cupsWidth beyond kMaxPageSide
  BytesPerLine,  // cupsBytesPerLine not what cupsWidth and the depth make
  PageBuffer,    // the page's buffer beyond kMaxPageBuffer
  BitsPerPixel,  // cupsBitsPerPixel that does not fit the colour space
};

// The checked frame of one page. Once accepted, these hold:
//   top + rasterLines + bottom == height, each at most kMaxPageSide;
//   readOffset + rasterBytes <= lineBytes;
//   linesize <= lineBytes, and pageLineBytes * height == pageBytes
//   <= kMaxPageBuffer.
struct PageFrame {
  // As logged (the page-frame lines), 32-bit like the header they come from.
  uint32_t width = 0, height = 0, left = 0, bottom = 0, top = 0;
  uint32_t linesize = 0, lineoffset = 0;
  // What the loop reads: rasterLines lines of rasterBytes bytes each, read
  // into a line of lineBytes bytes at readOffset.
  uint32_t rasterLines = 0, rasterBytes = 0, lineBytes = 0, readOffset = 0;
  // What the loop places: one page line of pageLineBytes bytes for each of
  // the height lines of the frame, pageBytes in all.
  uint32_t pageLineBytes = 0;
  uint64_t pageBytes = 0;
  // The margin fill, in the raster's own colour space.
  uint8_t white = 255;
  PageKind kind = PageKind::Rgb;
  uint32_t bitsPerColor = 8;
  uint32_t colorSpace = 0;
  bool duplex = false;
};

// The verdict on one header: the frame, and when refused the fault and a
// "DEBUG: " line naming it.
struct FrameCheck {
  PageFrame frame;
  FrameFault fault = FrameFault::None;
  char reason[192] = {0};
};

// A header field as the raster file holds it: enumerated fields carry
// whatever 32-bit number the file has, so they are read as plain numbers.
uint32_t HeaderField(const void* field);

// Turns a page header into its checked frame; page numbers the reason.
FrameCheck CheckPageFrame(const cups_page_header2_t& header, int page);

// Places one frame line (frame.linesize bytes of the raster's colour space
// and depth) as one page line of frame.pageLineBytes bytes at out: 16-bit
// samples reduced to their high byte, grey and K pixels turned into RGB.
void PlaceFrameLine(const PageFrame& frame, const uint8_t* line, uint8_t* out);
