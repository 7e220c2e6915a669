// The page frame check over boundary headers, and the placement of one frame
// line as RGB pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "filter/pageframe.h"
#include "raster_pages.h"

using namespace rastertest;
using H = cups_page_header2_t;

namespace {

// A header of a page of w x h pixels at 300 dpi with the raster filling it, then changed by set.
H Page(int w, int h, std::function<void(H&)> set = nullptr, unsigned space = CUPS_CSPACE_RGB,
       unsigned bits = 8) {
  PageSpec spec;
  spec.width = w, spec.height = h, spec.colorSpace = space, spec.bits = bits;
  H header = HeaderOf(spec);
  if (set) set(header);
  return header;
}

}  // namespace

TEST(PageFrame, BoundaryHeadersGiveTheirFrameOrTheirFault) {
  using F = FrameFault;
  const F ok = F::None;
  // A raster of the given height 500 pixels above the page's bottom edge.
  auto above500 = [](uint32_t lines) {
    return [lines](H& h) { h.cupsImagingBBox[1] = PointsFor(500, 300), h.cupsHeight = lines; };
  };
  struct Case {
    const char* name;
    H header;
    F fault;
    // Accepted frames: top, line bytes, read offset, page line bytes, height.
    uint32_t top = 0, lineBytes = 0, readOffset = 0, pageLine = 0, height = 0;
  } cases[] = {
      {"card", Page(643, 1013), ok, 0, 1929, 0, 1929, 1013},
      {"side of 16384 across", Page(16384, 20), ok, 0, 49152, 0, 49152, 20},
      {"side of 16384 down", Page(20, 16384), ok, 0, 60, 0, 60, 16384},
      {"side of 16385 across", Page(16385, 20), F::PageSize},
      {"side of 16385 down", Page(20, 16385), F::PageSize},
      {"raster 16385 across",
       Page(643, 10, [](H& h) { h.cupsBytesPerLine = 3 * (h.cupsWidth = 16385); }), F::RasterWidth},
      // (49152 + 8) x 5460 + 1000 bytes fit 256 MiB; one line more does not.
      {"buffer at its limit", Page(16384, 5460), ok, 0, 49152, 0, 49152, 5460},
      {"buffer one line past", Page(16384, 5461), F::PageBuffer},
      {"1-bit W, too large as RGB", Page(16384, 16384, nullptr, CUPS_CSPACE_W, 1), F::PageBuffer},
      {"fits above a margin", Page(643, 1013, above500(513)), ok, 0, 1929, 0, 1929, 1013},
      {"a line taller", Page(643, 1013, above500(514)), F::Margin},
      {"height wrapped past 2^32", Page(643, 1013, above500(~0u)), F::Margin},
      {"height of 2^31", Page(643, 1013, [](H& h) { h.cupsHeight = 0x80000000u; }), F::Margin},
      {"short raster leaves a top margin", Page(643, 1013, [](H& h) { h.cupsHeight = 1000; }), ok,
       13, 1929, 0, 1929, 1013},
      {"left margin of 10 pixels", Page(653, 100, [](H& h) {
         h.cupsImagingBBox[0] = PointsFor(10, 300), h.cupsWidth = 643, h.cupsBytesPerLine = 1929;
       }), ok, 0, 1959, 30, 1959, 100},
      {"raster wider than its page",
       Page(643, 100, [](H& h) { h.cupsWidth = 700, h.cupsBytesPerLine = 2100; }), ok, 0, 2100, 0,
       1929, 100},
      {"2 GiB line", Page(643, 10, [](H& h) { h.cupsBytesPerLine = 0x7FFFFFFE; }), F::BytesPerLine},
      {"line a pixel long", Page(643, 10, [](H& h) { h.cupsBytesPerLine += 3; }), F::BytesPerLine},
      {"2^31 bits", Page(643, 10, [](H& h) { h.cupsBitsPerPixel = 0x80000000u; }), F::BytesPerLine},
      {"width not a number", Page(643, 10, [](H& h) { h.cupsPageSize[0] = NAN; }), F::PageSize},
      {"height -infinity", Page(643, 10, [](H& h) { h.cupsPageSize[1] = -INFINITY; }), F::PageSize},
      {"resolution 2^32 - 1", Page(643, 10, [](H& h) { h.HWResolution[0] = ~0u; }), F::PageSize},
      {"no horizontal resolution", Page(643, 10, [](H& h) { h.HWResolution[0] = 0; }), F::Empty},
      {"16-bit RGB", Page(643, 10, nullptr, CUPS_CSPACE_RGB, 16), ok, 0, 3858, 0, 1929, 10},
      {"sRGB", Page(643, 10, nullptr, CUPS_CSPACE_SRGB), ok, 0, 1929, 0, 1929, 10},
      {"1-bit SW as RGB", Page(643, 10, nullptr, CUPS_CSPACE_SW, 1), ok, 0, 81, 0, 1929, 10},
      {"16-bit K as RGB", Page(643, 10, nullptr, CUPS_CSPACE_K, 16), ok, 0, 1286, 0, 1929, 10},
      {"DEVICE1", Page(643, 10, nullptr, 48), F::ColorSpace},
      {"banded", Page(643, 10, [](H& h) { h.cupsColorOrder = CUPS_ORDER_BANDED; }), F::ColorOrder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameCheck check = CheckPageFrame(c.header, 3);
    EXPECT_EQ(int(check.fault), int(c.fault)) << check.reason;
    if (c.fault != ok) {
      EXPECT_NE(std::string(check.reason).find("on page 3.\n"), std::string::npos) << check.reason;
      continue;
    }
    const PageFrame& f = check.frame;
    EXPECT_EQ(f.top, c.top);
    EXPECT_EQ(f.lineBytes, c.lineBytes);
    EXPECT_EQ(f.readOffset, c.readOffset);
    EXPECT_EQ(f.pageLineBytes, c.pageLine);
    EXPECT_EQ(f.height, c.height);
    EXPECT_EQ(f.pageBytes, uint64_t(c.pageLine) * c.height);
    EXPECT_EQ(uint64_t(f.top) + f.rasterLines + f.bottom, f.height);
  }
}

TEST(PageFrame, LinesBecomeRgbPixels) {
  // 16-bit samples are little-endian here: the high byte is the second.
  struct Case {
    const char* name;
    unsigned space, bits;
    std::vector<uint8_t> line, rgb;
  } cases[] = {
      {"K inverted and replicated", CUPS_CSPACE_K, 8, {0, 255, 100},
       {255, 255, 255, 0, 0, 0, 155, 155, 155}},
      {"W replicated", CUPS_CSPACE_W, 8, {0, 255, 100}, {0, 0, 0, 255, 255, 255, 100, 100, 100}},
      {"SW replicated", CUPS_CSPACE_SW, 8, {7, 200, 0}, {7, 7, 7, 200, 200, 200, 0, 0, 0}},
      {"sRGB as it is", CUPS_CSPACE_SRGB, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9},
       {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"AdobeRGB as it is", CUPS_CSPACE_ADOBERGB, 8, {9, 8, 7, 6, 5, 4, 3, 2, 1},
       {9, 8, 7, 6, 5, 4, 3, 2, 1}},
      {"1-bit SW, first pixel in the high bit", CUPS_CSPACE_SW, 1, {0xA0},
       {255, 255, 255, 0, 0, 0, 255, 255, 255}},
      {"1-bit K", CUPS_CSPACE_K, 1, {0x40}, {255, 255, 255, 0, 0, 0, 255, 255, 255}},
      {"16-bit K by its high byte", CUPS_CSPACE_K, 16, {0x11, 0x00, 0x22, 0xFF, 0x33, 0x64},
       {255, 255, 255, 0, 0, 0, 155, 155, 155}},
      {"16-bit RGB by its high bytes", CUPS_CSPACE_RGB, 16,
       {0xFF, 0x12, 0x00, 0xAB, 0x80, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {0x12, 0xAB, 0x7F, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameCheck check = CheckPageFrame(Page(3, 1, nullptr, c.space, c.bits), 1);
    ASSERT_EQ(int(check.fault), int(FrameFault::None)) << check.reason;
    std::vector<uint8_t> line = c.line;
    line.resize(check.frame.lineBytes);
    std::vector<uint8_t> out(check.frame.pageLineBytes);
    PlaceFrameLine(check.frame, line.data(), out.data());
    EXPECT_EQ(out, c.rgb);
  }
}
