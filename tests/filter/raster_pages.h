// Raster input for tests of the real filter, written with libcups's own
// raster writer, and helpers to read the print commands that came out.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "../pipeline/pts_support.h"
#include "sim/sim_core.h"

namespace rastertest {

struct Rgb {
  uint8_t r, g, b;
};

// One page of raster input. Sizes are pixels; the page size and imaging box
// go into the header in points the way CUPS writes them.
struct PageSpec {
  unsigned colorSpace = CUPS_CSPACE_RGB;
  unsigned bits = 8;
  unsigned bpp = 0;  // 0: samples x bits (1 for 1-bit pages)
  unsigned order = CUPS_ORDER_CHUNKED;
  int width = 643, height = 1013;        // cupsWidth x cupsHeight
  int pageWidth = -1, pageHeight = -1;  // page frame; -1: raster plus offsets
  int left = 0, bottom = 0;             // imaging box offsets
  bool duplex = false;
  int lowByte = -1;  // 16-bit samples: the low byte (-1: the high byte again, v x 257)
  std::function<Rgb(int x, int line)> pixel = [](int, int) { return Rgb{255, 255, 255}; };
};

// A page of one colour.
inline PageSpec Filled(Rgb c, bool duplex = false) {
  PageSpec p;
  p.pixel = [c](int, int) { return c; };
  p.duplex = duplex;
  return p;
}

// Page size in points that the filter turns back into exactly px pixels.
inline float PointsFor(int px, unsigned dpi) {
  float pt = static_cast<float>(px * 72.0 / dpi);
  for (int i = 0; i < 64; ++i) {
    const long whole =
        static_cast<long>(static_cast<double>(pt * static_cast<float>(dpi)) / 72.0);
    if (whole == px) return pt;
    pt = std::nextafter(pt, whole < px ? 1e30f : -1e30f);
  }
  return pt;
}

// Samples a pixel of this colour space carries.
inline unsigned SamplesOf(unsigned cs) {
  if (cs == CUPS_CSPACE_CMYK) return 4;
  return cs == CUPS_CSPACE_K || cs == CUPS_CSPACE_W || cs == CUPS_CSPACE_SW ? 1 : 3;
}

// The raster line of one page row in the page's colour space and depth.
inline void LineOf(const PageSpec& p, int y, unsigned bpp, std::vector<uint8_t>& line) {
  std::fill(line.begin(), line.end(), 0);
  const unsigned samples = SamplesOf(p.colorSpace);
  for (int x = 0; x < p.width; ++x) {
    const Rgb c = p.pixel(x, y);
    uint8_t v[4] = {c.r, c.g, c.b, 0};
    if (p.colorSpace == CUPS_CSPACE_CMYK) {
      for (int i = 0; i < 3; ++i) v[i] = uint8_t(255 - v[i]);
    } else if (samples == 1) {
      const uint8_t gray = uint8_t((c.r * 30 + c.g * 59 + c.b * 11) / 100);
      v[0] = p.colorSpace == CUPS_CSPACE_K ? uint8_t(255 - gray) : gray;
    }
    if (bpp == 1) {
      if (v[0] >= 128) line[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      continue;
    }
    uint8_t* out = line.data() + size_t(x) * (bpp / 8);
    for (unsigned s = 0; s < samples && (s + 1) * p.bits <= bpp; ++s) {
      const uint16_t wide = uint16_t(p.lowByte < 0 ? v[s] * 257 : v[s] * 256 + p.lowByte);
      if (p.bits == 16) memcpy(out + 2 * s, &wide, 2);
      if (p.bits == 8) out[s] = v[s];
    }
  }
}

// The page header CUPS would write for this page, at 300 dpi.
inline cups_page_header2_t HeaderOf(const PageSpec& p) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof(h));
  const unsigned dpi = 300;
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.cupsWidth = unsigned(p.width), h.cupsHeight = unsigned(p.height);
  h.cupsBitsPerColor = p.bits;
  h.cupsBitsPerPixel = p.bpp ? p.bpp : (p.bits == 1 ? 1 : p.bits * SamplesOf(p.colorSpace));
  h.cupsBytesPerLine = (h.cupsWidth * h.cupsBitsPerPixel + 7) / 8;
  h.cupsColorOrder = cups_order_t(p.order);
  h.cupsColorSpace = cups_cspace_t(p.colorSpace);
  h.Duplex = p.duplex ? CUPS_TRUE : CUPS_FALSE;
  h.NumCopies = 1;
  const int pw = p.pageWidth > 0 ? p.pageWidth : p.width + p.left;
  const int ph = p.pageHeight > 0 ? p.pageHeight : p.height + p.bottom;
  h.cupsPageSize[0] = h.cupsImagingBBox[2] = PointsFor(pw, dpi);
  h.cupsPageSize[1] = h.cupsImagingBBox[3] = PointsFor(ph, dpi);
  h.cupsImagingBBox[0] = p.left ? PointsFor(p.left, dpi) : 0.0f;
  h.cupsImagingBBox[1] = p.bottom ? PointsFor(p.bottom, dpi) : 0.0f;
  h.PageSize[0] = unsigned(lroundf(h.cupsPageSize[0]));
  h.PageSize[1] = unsigned(lroundf(h.cupsPageSize[1]));
  return h;
}

// The raster of these pages, as libcups writes it.
inline std::vector<uint8_t> WriteRaster(const std::vector<PageSpec>& pages) {
  char path[] = "/tmp/vkrraster.XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  unlink(path);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  for (const PageSpec& p : pages) {
    cups_page_header2_t h = HeaderOf(p);
    EXPECT_TRUE(cupsRasterWriteHeader2(ras, &h));
    std::vector<uint8_t> line(h.cupsBytesPerLine);
    for (int y = 0; y < p.height; ++y) {
      LineOf(p, y, h.cupsBitsPerPixel, line);
      cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine);
    }
  }
  cupsRasterClose(ras);
  std::vector<uint8_t> bytes(size_t(lseek(fd, 0, SEEK_END)));
  EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  close(fd);
  return bytes;
}

// The "$PTS" commands among the frames, taken apart.
inline std::vector<PtsCommand> PrintCommands(const std::vector<vkrsim::Frame>& frames) {
  std::vector<PtsCommand> out;
  for (const vkrsim::Frame& f : frames) {
    if (f.code != "$PTS") continue;
    std::vector<uint8_t> bytes = {0x1B, '$', 'P', 'T', 'S'};
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(f.declared >> shift));
    bytes.insert(bytes.end(), f.params.begin(), f.params.end());
    bytes.push_back(f.closedByCr ? 0x0D : 0x00);
    out.push_back(ParsePts(bytes));
  }
  return out;
}

// Mean colour of a square of a decoded panel (x, y its top-left corner).
inline Rgb MeanOf(const DecodedJpeg& j, int x0, int y0, int size) {
  long sum[3] = {0, 0, 0};
  for (int y = y0; y < y0 + size; ++y)
    for (int x = x0; x < x0 + size; ++x)
      for (int c = 0; c < 3; ++c) sum[c] += j.At(x, y)[j.components == 3 ? c : 0];
  const long n = long(size) * size;
  return Rgb{uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)};
}

}  // namespace rastertest
