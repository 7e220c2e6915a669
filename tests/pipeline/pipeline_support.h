// Helpers for the card pipeline tests: a controller whose options can be set
// directly, page BMPs built the way the card-side submission builds them,
// and pixel access in the image's own layout.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "pipeline/VKCtrl_Print.h"

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

// A controller on its own, with the device's option record replaced by one
// the test owns.
struct TestCtrl : CVKCtrl_Print {
  POPTION option{};

  TestCtrl() { m_pJobOption = &option; }

  // Load the working copies from the record, as the card-side submission
  // does before every side.
  void LoadOptions() {
    m_nRibbon = option.nRibbon;
    m_nBrightness = option.nBrightness;
    m_nContrast = option.nContrast;
    m_nRed = option.nRed;
    m_nGreen = option.nGreen;
    m_nBlue = option.nBlue;
    m_iSharpening = option.nSharpness;
    m_Gamma = option.nGamma;
    m_nBlackUse = option.nBlackUse;
    m_nSaturate = option.nSaturate;
    m_nFOverlay = option.nFOverlay;
    m_nBOverlay = option.nBOverlay;
    m_nCheck = option.nCheck;
    m_nStyle = option.nStyle;
  }
};

// The job options of a job that sets none (the front end's defaults), with
// black extraction switched on.
inline POPTION DefaultJobOptions() {
  POPTION o{};
  o.nBrightness = 45;
  o.nContrast = 41;
  o.nRed = 47;
  o.nGreen = 47;
  o.nBlue = 47;
  o.nSharpness = 8;
  o.nGamma = 93;
  o.nBlackUse = 1;
  o.nSaturate = 1;
  return o;
}

// Options under which the adjustment chain leaves every pixel as it is:
// style "NotUse", neutral levels, no sharpening, gamma 100, no saturation,
// no black panel.
inline POPTION NeutralJobOptions() {
  POPTION o{};
  o.nBrightness = 50;
  o.nContrast = 50;
  o.nRed = 50;
  o.nGreen = 50;
  o.nBlue = 50;
  o.nSharpness = 0;
  o.nGamma = 100;
  o.nStyle = 2;
  o.nFOverlay = 256;
  o.nBOverlay = 256;
  return o;
}

// A page BMP as the card-side submission builds it: raster lines in input
// order as bottom-up rows, pixel bytes in raster order (red first), rows
// padded to 4 bytes, 3780 pixels per metre.
inline std::vector<uint8_t> PageBmp(int width, int height,
                                    const std::function<Rgb(int column, int line)>& pixel) {
  const int rowBytes = (3 * width + 3) / 4 * 4;
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes) * height;
  std::vector<uint8_t> bmp(54 + imageSize, 0);
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, imageSize + 54);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, imageSize);
  put32(38, 3780);
  put32(42, 3780);
  for (int line = 0; line < height; ++line) {
    uint8_t* row = bmp.data() + 54 + static_cast<size_t>(line) * rowBytes;
    for (int x = 0; x < width; ++x) {
      Rgb c = pixel(x, line);
      row[3 * x] = c.r;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.b;
    }
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
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

// A 24-bit image of the given size filled with one colour.
inline CxImage FilledImage(int width, int height, Rgb fill) {
  CxImage image(0);
  image.Create(width, height, 24, 0);
  image.Clear(0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixelAt(image, x, y, fill);
  return image;
}

// True when two 24-bit images have the same size and the same pixel bytes.
inline bool SamePixels(const CxImage& a, const CxImage& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
  for (uint32_t y = 0; y < a.GetHeight(); ++y) {
    if (memcmp(a.GetBits(y), b.GetBits(y), 3 * a.GetWidth()) != 0) return false;
  }
  return true;
}

// Runs fn with standard error captured and returns what it wrote.
inline std::string StderrOf(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

// A dump page number no other test process uses, so dump files of parallel
// test runs never meet.
inline int UniquePage(int slot) { return 700000 + (static_cast<int>(getpid()) % 20000) * 10 + slot; }
