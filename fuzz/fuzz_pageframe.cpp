// Fuzz target: page header -> checked page frame -> line placement, without
// libcups's reader or the card pipeline, so that it runs millions of headers
// in minutes.
//
// Input: one raster page header (cups_page_header2_t as the file holds it),
// then bytes that stand for a raster line. A refused header must name its
// reason; an accepted one must give a frame whose invariants hold, and its
// lines are placed the way the page loop places them, into buffers of
// exactly the sizes the frame gives (the sanitizer sees any byte outside).
// The custom mutator writes header fields at boundary values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "filter/pageframe.h"

namespace {

const size_t kHeaderSize = sizeof(cups_page_header2_t);

// Stops the run over a broken invariant.
void require(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "page frame invariant broken: %s\n", what);
    abort();
  }
}

// Offsets of the 32-bit integer fields the page loop reads, and of its
// float fields.
const size_t kIntFields[] = {
    offsetof(cups_page_header2_t, HWResolution[0]),
    offsetof(cups_page_header2_t, HWResolution[1]),
    offsetof(cups_page_header2_t, cupsWidth),
    offsetof(cups_page_header2_t, cupsHeight),
    offsetof(cups_page_header2_t, cupsBitsPerColor),
    offsetof(cups_page_header2_t, cupsBitsPerPixel),
    offsetof(cups_page_header2_t, cupsBytesPerLine),
    offsetof(cups_page_header2_t, cupsColorOrder),
    offsetof(cups_page_header2_t, cupsColorSpace),
    offsetof(cups_page_header2_t, Duplex),
};
const size_t kFloatFields[] = {
    offsetof(cups_page_header2_t, cupsPageSize[0]),
    offsetof(cups_page_header2_t, cupsPageSize[1]),
    offsetof(cups_page_header2_t, cupsImagingBBox[0]),
    offsetof(cups_page_header2_t, cupsImagingBBox[1]),
};

const uint32_t kIntValues[] = {0,     1,     2,     3,     7,     8,          16,
                               24,    32,    48,    64,    72,    300,        643,
                               1013,  16383, 16384, 16385, 49152, 98304,      0x7FFFFFFEu,
                               0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu};
const uint32_t kColorSpaces[] = {0, 1, 2, 3, 4, 6, 16, 18, 19, 20, 21, 47, 48, 55, 62, 63};
const uint32_t kBitsPerPixel[] = {1, 2, 8, 16, 24, 32, 48, 64, 96, 120, 240};

uint32_t getU32(const uint8_t* data, size_t at) {
  uint32_t v;
  memcpy(&v, data + at, 4);
  return v;
}
void putU32(uint8_t* data, size_t at, uint32_t v) { memcpy(data + at, &v, 4); }
void putFloat(uint8_t* data, size_t at, float v) { memcpy(data + at, &v, 4); }

// A float at a boundary: zeros, signs, NaN, infinities, extremes, and the
// page sizes of 643, 1013 and 16384 pixels at 300 dpi and their neighbours.
float boundaryFloat(std::minstd_rand& rng) {
  static const float kValues[] = {0.0f,
                                  -0.0f,
                                  1.0f,
                                  -1.0f,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::max(),
                                  -std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::min(),
                                  std::numeric_limits<float>::denorm_min(),
                                  1e10f,
                                  154.32f,
                                  243.12f,
                                  3932.16f,
                                  120.0f,
                                  -3932.16f};
  float v = kValues[rng() % (sizeof(kValues) / sizeof(kValues[0]))];
  if (rng() % 3 == 0) v = std::nextafter(v, rng() % 2 ? 1e38f : -1e38f);
  return v;
}

// Pixels of a page side from its float size and resolution (as the frame
// computes them), for making fields agree.
uint32_t pixelsOf(const uint8_t* data, size_t floatAt, size_t resolutionAt) {
  float points;
  memcpy(&points, data + floatAt, 4);
  const double pixels = double(points * float(getU32(data, resolutionAt))) / 72.0;
  return pixels > 0 && pixels < 4294967296.0 ? uint32_t(pixels) : 0;
}

// Changes one header field: a boundary value, or a value that agrees with
// the other fields (so that the check goes past its first tests), give or
// take one.
void mutateField(uint8_t* data, std::minstd_rand& rng) {
  const size_t kInts = sizeof(kIntFields) / sizeof(kIntFields[0]);
  const size_t kFloats = sizeof(kFloatFields) / sizeof(kFloatFields[0]);
  switch (rng() % 6) {
    case 0: {
      putU32(data, kIntFields[rng() % kInts], kIntValues[rng() % (sizeof(kIntValues) / 4)]);
      break;
    }
    case 1:
      putFloat(data, kFloatFields[rng() % kFloats], boundaryFloat(rng));
      break;
    case 2:
      putU32(data, offsetof(cups_page_header2_t, cupsColorSpace),
             kColorSpaces[rng() % (sizeof(kColorSpaces) / 4)]);
      putU32(data, offsetof(cups_page_header2_t, cupsBitsPerPixel),
             kBitsPerPixel[rng() % (sizeof(kBitsPerPixel) / 4)]);
      putU32(data, offsetof(cups_page_header2_t, cupsBitsPerColor), rng() % 2 ? 8 : 16);
      break;
    case 3: {  // line length that agrees with width and depth, give or take one
      const uint64_t bytes = (uint64_t(getU32(data, offsetof(cups_page_header2_t, cupsWidth))) *
                                  getU32(data, offsetof(cups_page_header2_t, cupsBitsPerPixel)) +
                              7) / 8;
      putU32(data, offsetof(cups_page_header2_t, cupsBytesPerLine),
             uint32_t(bytes + (rng() % 3) - 1));
      break;
    }
    case 4: {  // height against page height less bottom margin, give or take
      const uint32_t height = pixelsOf(data, offsetof(cups_page_header2_t, cupsPageSize[1]),
                                       offsetof(cups_page_header2_t, HWResolution[1]));
      const uint32_t bottom = pixelsOf(data, offsetof(cups_page_header2_t, cupsImagingBBox[1]),
                                       offsetof(cups_page_header2_t, HWResolution[1]));
      const uint32_t deltas[] = {0, 1, 0xFFFFFFFFu, 0x80000000u};
      putU32(data, offsetof(cups_page_header2_t, cupsHeight),
             height - bottom + deltas[rng() % 4]);
      break;
    }
    default: {  // raster width against the page width
      const uint32_t width = pixelsOf(data, offsetof(cups_page_header2_t, cupsPageSize[0]),
                                      offsetof(cups_page_header2_t, HWResolution[0]));
      putU32(data, offsetof(cups_page_header2_t, cupsWidth), width + (rng() % 3) - 1);
      break;
    }
  }
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// Structure-aware mutation: most of the time one to three header fields
// get boundary or agreeing values; otherwise libFuzzer's own byte mutation.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
  std::minstd_rand rng(seed);
  if (maxSize < kHeaderSize || rng() % 5 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  if (size < kHeaderSize) {
    memset(data + size, 0, kHeaderSize - size);
    size = kHeaderSize;
  }
  const int changes = 1 + int(rng() % 3);
  for (int i = 0; i < changes; ++i) mutateField(data, rng);
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return 0;
  cups_page_header2_t header;
  memcpy(&header, data, kHeaderSize);
  const FrameCheck check = CheckPageFrame(header, 1);
  if (check.fault != FrameFault::None) {
    require(strncmp(check.reason, "DEBUG: ", 7) == 0, "a refusal names its reason");
    return 0;
  }
  const PageFrame& f = check.frame;
  require(f.width > 0 && f.width <= kMaxPageSide && f.height > 0 && f.height <= kMaxPageSide,
          "page sides within the largest page");
  require(uint64_t(f.top) + f.rasterLines + f.bottom == f.height, "top + lines + bottom = height");
  require(f.rasterBytes == (uint64_t(header.cupsWidth) * header.cupsBitsPerPixel + 7) / 8,
          "line length from width and depth");
  require(uint64_t(f.readOffset) + f.rasterBytes <= f.lineBytes, "a raster line fits its line");
  require(f.linesize <= f.lineBytes && f.lineoffset <= f.linesize, "frame line within the line");
  require(uint64_t(f.pageLineBytes) * f.height == f.pageBytes && f.pageBytes <= kMaxPageBuffer,
          "page buffer from the frame");

  // One line as the loop fills it: white, then the raster bytes at the
  // read offset; placed on a page line of exactly its size.
  std::vector<uint8_t> line(f.lineBytes, f.white);
  const uint8_t* pixels = data + kHeaderSize;
  const size_t given = size - kHeaderSize;
  for (uint32_t i = 0; i < f.rasterBytes; ++i)
    line[size_t(f.readOffset) + i] = given ? pixels[i % given] : 0;
  std::vector<uint8_t> pageLine(f.pageLineBytes);
  PlaceFrameLine(f, line.data(), pageLine.data());

  // A small page is walked whole, every frame line into a buffer of
  // exactly the frame's page size.
  if (f.pageBytes <= (64u << 10)) {
    std::vector<uint8_t> page(f.pageBytes);
    uint64_t fill = 0;
    for (uint32_t y = 0; y < f.height; ++y) {
      PlaceFrameLine(f, line.data(), page.data() + fill);
      fill += f.pageLineBytes;
    }
    require(fill == f.pageBytes, "every frame line placed");
  }
  return 0;
}
