// Helpers shared by the image toolkit tests: patterned images and BMP bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "ximage/ximage.h"

namespace ximgtest {
// A colour from its red, green and blue.
inline RGBQUAD rgb(int r, int g, int b) { return RGBQUAD{(uint8_t)b, (uint8_t)g, (uint8_t)r, 0}; }
// A colour that differs for every (x, y) of images up to 4096 x 4096.
inline RGBQUAD patternColor(int x, int y) {
  return RGBQUAD{(uint8_t)(x & 0xFF), (uint8_t)(y & 0xFF),
                 (uint8_t)(((x >> 8) & 0x0F) | ((y >> 8) << 4)), 0};
}
// A 24-bit image whose pixel (x, y) is patternColor(x, y) and whose row padding holds 0xEE.
inline CxImage patterned(uint32_t w, uint32_t h) {
  CxImage img;
  img.Create(w, h, 24, 0);
  img.Clear(0xEE);
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) {
      const RGBQUAD c = patternColor((int)x, (int)y);
      memcpy(img.GetBits(y) + 3 * x, &c, 3);
    }
  return img;
}
// A palette of `entries` greys, 0, 1, 2 and up.
inline void setGreyRamp(CxImage& img, int entries = 256) {
  RGBQUAD grey[256];
  for (int i = 0; i < 256; i++) grey[i] = RGBQUAD{(uint8_t)i, (uint8_t)i, (uint8_t)i, 0};
  img.SetPalette(grey, entries);
}
// A 24-bit image, or with bpp 8 one with a grey-ramp palette, cleared to zero.
inline void makeImage(CxImage& img, uint32_t w, uint32_t h, uint32_t bpp = 24) {
  img.Create(w, h, bpp, 0);
  img.Clear(0);
  if (bpp == 8) setGreyRamp(img);
}
// Pixel bytes (blue, green, red) of a 24-bit image at stored (x, y).
inline std::vector<uint8_t> px(const CxImage& img, uint32_t x, uint32_t y) {
  const uint8_t* p = img.GetBits(y) + 3 * x;
  return {p[0], p[1], p[2]};
}
// The bytes (blue, green, red) a colour is stored as.
inline std::vector<uint8_t> colorBytes(RGBQUAD c) { return {c.rgbBlue, c.rgbGreen, c.rgbRed}; }
// Every row byte of the image, padding included.
inline std::vector<uint8_t> rowsOf(const CxImage& img) {
  const uint8_t* p = img.GetBits(0);
  return std::vector<uint8_t>(p, p + img.GetHeader().biSizeImage);
}
// The pixel bytes of an image row by row, without the padding.
inline std::vector<uint8_t> pixelBytes(const CxImage& img) {
  const size_t row = (size_t)img.GetWidth() * (img.GetBpp() / 8);
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    out.insert(out.end(), img.GetBits(y), img.GetBits(y) + row);
  return out;
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
// 32-bit little-endian fields of BMP bytes, written and read.
inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; i++) v[at + i] = (uint8_t)(x >> (8 * i));
}
inline uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}
// File and info headers (40 bytes) of a BMP with `colors` palette entries and `image` bytes of
// rows after them.
inline std::vector<uint8_t> bmpHeaders(int32_t w, int32_t h, uint16_t bpp, uint32_t colors,
                                       uint32_t image, int32_t ppm = 3780) {
  const uint32_t off = 54 + 4 * colors;
  std::vector<uint8_t> v(off + image, 0);
  v[0] = 'B', v[1] = 'M';
  const std::pair<size_t, uint32_t> fields[] = {
      {2, off + image}, {10, off},    {14, 40},           {18, (uint32_t)w},  {22, (uint32_t)h},
      {34, image},      {46, colors}, {38, (uint32_t)ppm}, {42, (uint32_t)ppm},
      {26, 1u | ((uint32_t)bpp << 16)}};  // one plane
  for (const auto& f : fields) put32(v, f.first, f.second);
  return v;
}
// A 24-bit BMP file as the card front end builds one: rows padded to 4 bytes, pixel (x, y) =
// patternColor; a top-down file stores the top row first.
inline std::vector<uint8_t> handMadeBmp24(int32_t w, int32_t h, int32_t ppm = 3780,
                                          bool topDown = false) {
  const uint32_t eff = ((uint32_t)w * 3 + 3) & ~3u;
  std::vector<uint8_t> v = bmpHeaders(w, topDown ? -h : h, 24, 0, eff * (uint32_t)h, ppm);
  for (int32_t r = 0; r < h; r++)
    for (int32_t x = 0; x < w; x++) {
      const RGBQUAD c = patternColor(x, topDown ? h - 1 - r : r);
      memcpy(&v[54 + (size_t)r * eff + 3 * (size_t)x], &c, 3);
    }
  return v;
}
}  // namespace ximgtest
