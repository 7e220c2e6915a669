// Helpers shared by the image toolkit tests: patterned images and BMP bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "ximage/ximage.h"

namespace ximgtest {

// A colour that differs for every (x, y) of images up to 4096 x 4096.
inline RGBQUAD patternColor(int x, int y) {
  RGBQUAD c;
  c.rgbBlue = (uint8_t)(x & 0xFF);
  c.rgbGreen = (uint8_t)(y & 0xFF);
  c.rgbRed = (uint8_t)(((x >> 8) & 0x0F) | ((y >> 8) << 4));
  c.rgbReserved = 0;
  return c;
}

// Fill a 24-bit image with patternColor through its rows.
inline void fillPattern(CxImage& img) {
  for (uint32_t y = 0; y < img.GetHeight(); y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      RGBQUAD c = patternColor((int)x, (int)y);
      row[3 * x] = c.rgbBlue;
      row[3 * x + 1] = c.rgbGreen;
      row[3 * x + 2] = c.rgbRed;
    }
  }
}

// Pixel bytes (blue, green, red) of a 24-bit image at stored (x, y).
inline std::vector<uint8_t> px(const CxImage& img, uint32_t x, uint32_t y) {
  const uint8_t* p = img.GetBits(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

inline std::vector<uint8_t> colorBytes(RGBQUAD c) { return {c.rgbBlue, c.rgbGreen, c.rgbRed}; }

inline void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = (uint8_t)x;
  v[at + 1] = (uint8_t)(x >> 8);
}

inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; i++) v[at + i] = (uint8_t)(x >> (8 * i));
}

inline uint32_t get32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline uint16_t get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

// A 24-bit BMP file built by hand the way the card front end builds one:
// 54-byte header, rows padded to 4 bytes, pixel (x, y) = patternColor.
inline std::vector<uint8_t> handMadeBmp24(int32_t w, int32_t h, int32_t ppm = 3780,
                                          bool topDown = false) {
  uint32_t eff = ((uint32_t)w * 3 + 3) & ~3u;
  uint32_t image = eff * (uint32_t)h;
  std::vector<uint8_t> v(54 + image, 0);
  v[0] = 'B';
  v[1] = 'M';
  put32(v, 2, image + 54);
  put32(v, 10, 54);
  put32(v, 14, 40);
  put32(v, 18, (uint32_t)w);
  put32(v, 22, (uint32_t)(topDown ? -h : h));
  put16(v, 26, 1);
  put16(v, 28, 24);
  put32(v, 34, image);
  put32(v, 38, (uint32_t)ppm);
  put32(v, 42, (uint32_t)ppm);
  for (int32_t r = 0; r < h; r++) {
    // With a top-down file the first stored row is the top one (y = h - 1).
    int32_t y = topDown ? h - 1 - r : r;
    for (int32_t x = 0; x < w; x++) {
      RGBQUAD c = patternColor(x, y);
      size_t at = 54 + (size_t)r * eff + 3 * (size_t)x;
      v[at] = c.rgbBlue;
      v[at + 1] = c.rgbGreen;
      v[at + 2] = c.rgbRed;
    }
  }
  return v;
}

}  // namespace ximgtest
