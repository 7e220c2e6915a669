// The page frame check over boundary headers, and the placement of one frame
// line as RGB pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "filter/pageframe.h"
#include "raster_pages.h"

using namespace rastertest;

namespace {

// A header of a page of w x h pixels at 300 dpi with the raster filling it.
cups_page_header2_t PageOf(int w, int h, unsigned space = CUPS_CSPACE_RGB, unsigned bits = 8) {
  PageSpec spec;
  spec.width = w;
  spec.height = h;
  spec.colorSpace = space;
  spec.bits = bits;
  return HeaderOf(spec);
}

}  // namespace

TEST(PageFrame, BoundaryHeadersGiveTheirFrameOrTheirFault) {
  const FrameFault ok = FrameFault::None;
  struct Case {
    const char* name;
    std::function<cups_page_header2_t()> header;
    FrameFault fault;
    // Accepted frames: top, line bytes, read offset, page line bytes, height.
    uint32_t top = 0, lineBytes = 0, readOffset = 0, pageLine = 0, height = 0;
  } cases[] = {
      {"card", [] { return PageOf(643, 1013); }, ok, 0, 1929, 0, 1929, 1013},
      {"side of 16384 across", [] { return PageOf(16384, 20); }, ok, 0, 49152, 0, 49152, 20},
      {"side of 16384 down", [] { return PageOf(20, 16384); }, ok, 0, 60, 0, 60, 16384},
      {"side of 16385 across", [] { return PageOf(16385, 20); }, FrameFault::PageSize},
      {"side of 16385 down", [] { return PageOf(20, 16385); }, FrameFault::PageSize},
      {"raster 16385 across on a small page",
       [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsWidth = 16385;
         h.cupsBytesPerLine = 16385 * 3;
         return h;
       },
       FrameFault::RasterWidth},
      {"height that fits beside a bottom margin",
       [] {
         cups_page_header2_t h = PageOf(643, 1013);
         h.cupsImagingBBox[1] = PointsFor(500, 300);
         h.cupsHeight = 513;
         return h;
       },
       ok, 0, 1929, 0, 1929, 1013},
      {"a line taller", [] {
         cups_page_header2_t h = PageOf(643, 1013);
         h.cupsImagingBBox[1] = PointsFor(500, 300);
         h.cupsHeight = 514;
         return h;
       }, FrameFault::Margin},
      {"height wrapped past 2^32 beside a margin", [] {
         cups_page_header2_t h = PageOf(643, 1013);
         h.cupsImagingBBox[1] = PointsFor(500, 300);
         h.cupsHeight = 0xFFFFFFFFu;
         return h;
       }, FrameFault::Margin},
      {"height of 2^31", [] {
         cups_page_header2_t h = PageOf(643, 1013);
         h.cupsHeight = 0x80000000u;
         return h;
       }, FrameFault::Margin},
      {"short raster leaves a top margin", [] {
         cups_page_header2_t h = PageOf(643, 1013);
         h.cupsHeight = 1000;
         return h;
       }, ok, 13, 1929, 0, 1929, 1013},
      {"left margin of 10 pixels", [] {
         cups_page_header2_t h = PageOf(653, 100);
         h.cupsImagingBBox[0] = PointsFor(10, 300);
         h.cupsWidth = 643;
         h.cupsBytesPerLine = 1929;
         return h;
       }, ok, 0, 1959, 30, 1959, 100},
      {"raster wider than its page", [] {
         cups_page_header2_t h = PageOf(643, 100);
         h.cupsWidth = 700;
         h.cupsBytesPerLine = 2100;
         return h;
       }, ok, 0, 2100, 0, 1929, 100},
      {"line of 2^31 - 2 bytes", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsBytesPerLine = 0x7FFFFFFEu;
         return h;
       }, FrameFault::BytesPerLine},
      {"line one pixel long", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsBytesPerLine += 3;
         return h;
       }, FrameFault::BytesPerLine},
      {"2^31 bits a pixel", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsBitsPerPixel = 0x80000000u;
         return h;
       }, FrameFault::BytesPerLine},
      {"page size not a number", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsPageSize[0] = NAN;
         return h;
       }, FrameFault::PageSize},
      {"negative infinite page", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsPageSize[1] = -INFINITY;
         return h;
       }, FrameFault::PageSize},
      {"resolution 2^32 - 1", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.HWResolution[0] = 0xFFFFFFFFu;
         return h;
       }, FrameFault::PageSize},
      {"16-bit RGB by high bytes", [] { return PageOf(643, 10, CUPS_CSPACE_RGB, 16); },
       ok, 0, 3858, 0, 1929, 10},
      {"sRGB", [] { return PageOf(643, 10, CUPS_CSPACE_SRGB); }, ok, 0, 1929, 0, 1929, 10},
      {"1-bit SW as RGB", [] { return PageOf(643, 10, CUPS_CSPACE_SW, 1); },
       ok, 0, 81, 0, 1929, 10},
      {"16-bit K as RGB", [] { return PageOf(643, 10, CUPS_CSPACE_K, 16); },
       ok, 0, 1286, 0, 1929, 10},
      {"1-bit W of 16384 square: its RGB page is too large",
       [] { return PageOf(16384, 16384, CUPS_CSPACE_W, 1); }, FrameFault::PageBuffer},
      {"DEVICE1", [] { return PageOf(643, 10, 48); }, FrameFault::ColorSpace},
      {"DEVICEF", [] { return PageOf(643, 10, 62); }, FrameFault::ColorSpace},
      {"banded", [] {
         cups_page_header2_t h = PageOf(643, 10);
         h.cupsColorOrder = CUPS_ORDER_BANDED;
         return h;
       }, FrameFault::ColorOrder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameCheck check = CheckPageFrame(c.header(), 3);
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
  struct Case {
    const char* name;
    unsigned space, bits;
    std::vector<uint8_t> line, rgb;
  } cases[] = {
      {"K inverted and replicated", CUPS_CSPACE_K, 8, {0, 255, 100},
       {255, 255, 255, 0, 0, 0, 155, 155, 155}},
      {"W replicated", CUPS_CSPACE_W, 8, {0, 255, 100}, {0, 0, 0, 255, 255, 255, 100, 100, 100}},
      {"1-bit SW, first pixel in the high bit", CUPS_CSPACE_SW, 1, {0xA0},
       {255, 255, 255, 0, 0, 0, 255, 255, 255}},
      {"1-bit K", CUPS_CSPACE_K, 1, {0x40}, {255, 255, 255, 0, 0, 0, 255, 255, 255}},
      {"16-bit K by its high byte", CUPS_CSPACE_K, 16, {0x11, 0x00, 0x22, 0xFF, 0x33, 0x64},
       {255, 255, 255, 0, 0, 0, 155, 155, 155}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameCheck check = CheckPageFrame(PageOf(3, 1, c.space, c.bits), 1);
    ASSERT_EQ(int(check.fault), int(FrameFault::None)) << check.reason;
    std::vector<uint8_t> line = c.line;
    line.resize(check.frame.lineBytes);
    std::vector<uint8_t> out(check.frame.pageLineBytes);
    PlaceFrameLine(check.frame, line.data(), out.data());
    EXPECT_EQ(out, c.rgb);
  }
  // 16-bit RGB: each sample's high byte.
  const FrameCheck rgb = CheckPageFrame(PageOf(1, 1, CUPS_CSPACE_RGB, 16), 1);
  const uint16_t samples[3] = {0x12FF, 0xAB00, 0x7F80};
  uint8_t out[3];
  PlaceFrameLine(rgb.frame, reinterpret_cast<const uint8_t*>(samples), out);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0xAB);
  EXPECT_EQ(out[2], 0x7F);
}
