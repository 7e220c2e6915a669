// Helpers shared by the image toolkit tests: patterned images and BMP bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ximage/ximage.h"

namespace ximgtest {

inline RGBQUAD rgb(int r, int g, int b) { return RGBQUAD{(uint8_t)b, (uint8_t)g, (uint8_t)r, 0}; }

// A colour that differs for every (x, y) of images up to 4096 x 4096.
inline RGBQUAD patternColor(int x, int y) {
  return RGBQUAD{(uint8_t)(x & 0xFF), (uint8_t)(y & 0xFF),
                 (uint8_t)(((x >> 8) & 0x0F) | ((y >> 8) << 4)), 0};
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

// A patterned 24-bit image whose row padding holds 0xEE.
inline CxImage patterned(uint32_t w, uint32_t h) {
  CxImage img;
  img.Create(w, h, 24, 0);
  img.Clear(0xEE);
  fillPattern(img);
  return img;
}

// Pixel bytes (blue, green, red) of a 24-bit image at stored (x, y).
inline std::vector<uint8_t> px(const CxImage& img, uint32_t x, uint32_t y) {
  const uint8_t* p = img.GetBits(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

inline std::vector<uint8_t> colorBytes(RGBQUAD c) { return {c.rgbBlue, c.rgbGreen, c.rgbRed}; }

// Every row byte of the image, padding included.
inline std::vector<uint8_t> rowsOf(const CxImage& img) {
  const uint8_t* p = img.GetBits(0);
  return std::vector<uint8_t>(p, p + img.GetHeader().biSizeImage);
}

inline void setGreyRamp(CxImage& img, int entries = 256) {
  RGBQUAD grey[256];
  for (int i = 0; i < 256; i++) grey[i] = RGBQUAD{(uint8_t)i, (uint8_t)i, (uint8_t)i, 0};
  img.SetPalette(grey, entries);
}

// Encode to memory; the bytes are copied out and the buffer freed.
inline std::vector<uint8_t> encodeAs(CxImage& img, uint32_t type) {
  uint8_t* buf = nullptr;
  int32_t size = 0;
  if (!img.Encode(buf, size, type)) return {};
  std::vector<uint8_t> out(buf, buf + size);
  free(buf);
  return out;
}

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
    int32_t y = topDown ? h - 1 - r : r;  // a top-down file stores the top row first
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
