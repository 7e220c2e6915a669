// Helpers for the card pipeline tests: a controller with its own options
// record, page BMPs as the card-side submission builds them, pixel access.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/VKCtrl_Print.h"

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

// A controller whose device options record is one the test owns.
struct TestCtrl : CVKCtrl_Print {
  POPTION option;
  explicit TestCtrl(const POPTION& o = POPTION{}) : option(o) { m_pJobOption = &option; }
  TestCtrl(const TestCtrl&) = delete;
  // Loads the working copies, as the card-side submission does before every side.
  void LoadOptions() {
    m_nRibbon = option.nRibbon, m_nBrightness = option.nBrightness, m_nContrast = option.nContrast;
    m_nRed = option.nRed, m_nGreen = option.nGreen, m_nBlue = option.nBlue;
    m_iSharpening = option.nSharpness, m_Gamma = option.nGamma, m_nBlackUse = option.nBlackUse;
    m_nSaturate = option.nSaturate, m_nFOverlay = option.nFOverlay, m_nBOverlay = option.nBOverlay;
    m_nCheck = option.nCheck, m_nStyle = option.nStyle;
  }
};

// The front end's defaults, black extraction on.
inline POPTION DefaultJobOptions() {
  POPTION o{};
  o.nBrightness = 45, o.nContrast = 41, o.nRed = o.nGreen = o.nBlue = 47;
  o.nSharpness = 8, o.nGamma = 93, o.nBlackUse = o.nSaturate = 1;
  return o;
}

// Options under which the adjustment chain leaves every pixel as it is.
inline POPTION NeutralJobOptions() {
  POPTION o{};
  o.nBrightness = o.nContrast = o.nRed = o.nGreen = o.nBlue = 50;
  o.nGamma = 100, o.nStyle = 2, o.nFOverlay = o.nBOverlay = 256;
  return o;
}

inline void Put32(std::vector<uint8_t>& b, int at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A BMP header for rows of rowBytes; pixel data follows at 54 + palette.
inline std::vector<uint8_t> BmpHeader(int width, int height, int bpp, int rowBytes, int palette) {
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes) * height;
  std::vector<uint8_t> bmp(54 + palette + imageSize, 0);
  bmp[0] = 'B', bmp[1] = 'M', bmp[26] = 1, bmp[28] = uint8_t(bpp);
  const uint32_t fields[][2] = {{2, uint32_t(bmp.size())}, {10, uint32_t(54 + palette)},
                                {14, 40}, {18, uint32_t(width)}, {22, uint32_t(height)},
                                {34, imageSize}};
  for (const auto& f : fields) Put32(bmp, int(f[0]), f[1]);
  return bmp;
}

// A 24-bit page BMP: raster lines as bottom-up rows, red byte first, rows
// padded to 4 bytes, 3780 pixels per metre.
inline std::vector<uint8_t> PageBmp(int width, int height,
                                    const std::function<Rgb(int column, int line)>& pixel) {
  const int rowBytes = (3 * width + 3) / 4 * 4;
  std::vector<uint8_t> bmp = BmpHeader(width, height, 24, rowBytes, 0);
  Put32(bmp, 38, 3780);
  Put32(bmp, 42, 3780);
  for (int line = 0; line < height; ++line)
    for (int x = 0; x < width; ++x) {
      const Rgb c = pixel(x, line);
      uint8_t* p = bmp.data() + 54 + static_cast<size_t>(line) * rowBytes + 3 * x;
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  return bmp;
}

// Pixel (x, y) of a 24-bit image in stored coordinates (row 0 at the bottom).
inline Rgb PixelAt(const CxImage& image, int x, int y) {
  const uint8_t* p = image.GetBits(static_cast<uint32_t>(y)) + 3 * x;
  return Rgb{p[2], p[1], p[0]};
}
inline void SetPixelAt(CxImage& image, int x, int y, Rgb c) {
  uint8_t* p = image.GetBits(static_cast<uint32_t>(y)) + 3 * x;
  p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

inline CxImage FilledImage(int width, int height, Rgb fill) {
  CxImage image(0);
  image.Create(width, height, 24, 0);
  image.Clear(0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixelAt(image, x, y, fill);
  return image;
}

// A varied 24-bit picture with a white pixel at (0, 0).
inline CxImage Picture(int w, int h) {
  CxImage img = FilledImage(w, h, Rgb{0, 0, 0});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      SetPixelAt(img, x, y,
                 Rgb{uint8_t(x * 37 + y * 11), uint8_t(x * 5 + y * 53), uint8_t((x ^ y) * 29)});
  SetPixelAt(img, 0, 0, Rgb{255, 255, 255});
  return img;
}

inline std::string SizeOf(const CxImage& i) {
  return std::to_string(i.GetWidth()) + "x" + std::to_string(i.GetHeight());
}

// Same size and the same pixel bytes.
inline bool SamePixels(const CxImage& a, const CxImage& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
  for (uint32_t y = 0; y < a.GetHeight(); ++y)
    if (memcmp(a.GetBits(y), b.GetBits(y), 3 * a.GetWidth()) != 0) return false;
  return true;
}

inline std::string StderrOf(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

inline bool Has(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

// A dump page number no parallel test process uses.
inline int UniquePage(int slot) { return 700000 + (int(getpid()) % 20000) * 10 + slot; }
