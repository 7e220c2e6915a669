// CxImage pixel access: row pointers, per-pixel colour and index reads and
// writes, the palette, whole-image clearing and line drawing.
#include <cstdlib>
#include <cstring>

#include "ximage/ximage.h"

// Start of a pixel row inside the DIB; null without a DIB or past the top row.
uint8_t* CxImage::GetBits(uint32_t row) const {
  if (pDib == nullptr) return nullptr;
  uint8_t* rows = (uint8_t*)pDib + head.biSize + GetPaletteSize();
  if (row == 0) return rows;
  if (row < (uint32_t)head.biHeight) return rows + (size_t)info.dwEffWidth * row;
  return nullptr;
}

// Address of the byte holding pixel (x, y); the caller has checked the bounds.
static inline uint8_t* pixelRow(uint8_t* image, uint32_t effWidth, int32_t y) {
  return image + (size_t)effWidth * (size_t)(uint32_t)y;
}

// Colour of a pixel; outside the image the background rules decide.
RGBQUAD CxImage::GetPixelColor(int32_t x, int32_t y, bool bGetAlpha) {
  RGBQUAD rgb = info.nBkgndColor;
  if (pDib == nullptr || !IsInside(x, y)) {
    if (info.nBkgndIndex >= 0) {
      if (head.biBitCount < 24) return GetPaletteColor((uint8_t)info.nBkgndIndex);
      return info.nBkgndColor;
    }
    if (pDib) return GetPixelColor(0, 0, true);
    return rgb;
  }
  if (head.biClrUsed) {
    rgb = GetPaletteColor(BlindGetPixelIndex(x, y));
  } else {
    uint8_t* p = pixelRow(info.pImage, info.dwEffWidth, y) + (size_t)x * 3;
    rgb.rgbBlue = p[0];
    rgb.rgbGreen = p[1];
    rgb.rgbRed = p[2];
  }
  if (pAlpha && bGetAlpha) rgb.rgbReserved = pAlpha[(size_t)x + (size_t)head.biWidth * y];
  return rgb;
}

// Colour of a pixel known to be inside the image.
RGBQUAD CxImage::BlindGetPixelColor(int32_t x, int32_t y, bool bGetAlpha) const {
  RGBQUAD rgb;
  if (head.biClrUsed) {
    rgb = GetPaletteColor(BlindGetPixelIndex(x, y));
  } else {
    uint8_t* p = pixelRow(info.pImage, info.dwEffWidth, y) + (size_t)x * 3;
    rgb.rgbBlue = p[0];
    rgb.rgbGreen = p[1];
    rgb.rgbRed = p[2];
    rgb.rgbReserved = 0;
  }
  if (pAlpha && bGetAlpha) rgb.rgbReserved = pAlpha[(size_t)x + (size_t)head.biWidth * y];
  return rgb;
}

// Write a colour into a pixel; points outside the image are skipped.
void CxImage::SetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool bSetAlpha) {
  if (pDib == nullptr || !IsInside(x, y)) return;
  BlindSetPixelColor(x, y, c, bSetAlpha);
}

// Write a colour into a pixel known to be inside the image.
void CxImage::BlindSetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool bSetAlpha) {
  if (head.biClrUsed) {
    BlindSetPixelIndex(x, y, GetNearestIndex(c));
  } else {
    uint8_t* p = pixelRow(info.pImage, info.dwEffWidth, y) + (size_t)x * 3;
    p[0] = c.rgbBlue;
    p[1] = c.rgbGreen;
    p[2] = c.rgbRed;
  }
  if (bSetAlpha && pAlpha) pAlpha[(size_t)x + (size_t)head.biWidth * y] = c.rgbReserved;
}

// Palette index of a pixel; 0 for images without a palette.
uint8_t CxImage::GetPixelIndex(int32_t x, int32_t y) const {
  if (pDib == nullptr || head.biClrUsed == 0) return 0;
  if (!IsInside(x, y)) {
    if (info.nBkgndIndex >= 0) return (uint8_t)info.nBkgndIndex;
    return *info.pImage;
  }
  return BlindGetPixelIndex(x, y);
}

// Palette index of a pixel known to be inside the image.
uint8_t CxImage::BlindGetPixelIndex(int32_t x, int32_t y) const {
  uint8_t* row = pixelRow(info.pImage, info.dwEffWidth, y);
  if (head.biBitCount == 8) return row[x];
  if (head.biBitCount == 4) {
    uint8_t b = row[x >> 1];
    return (x & 1) ? (uint8_t)(b & 0x0F) : (uint8_t)(b >> 4);
  }
  if (head.biBitCount == 1) return (uint8_t)((row[x >> 3] >> (7 - (x & 7))) & 1);
  return 0;
}

// Write a palette index; points outside the image are skipped.
void CxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t i) {
  if (pDib == nullptr || head.biClrUsed == 0 || !IsInside(x, y)) return;
  BlindSetPixelIndex(x, y, i);
}

// Write a palette index into a pixel known to be inside the image; only the
// addressed nibble or bit changes.
void CxImage::BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i) {
  uint8_t* row = pixelRow(info.pImage, info.dwEffWidth, y);
  if (head.biBitCount == 8) {
    row[x] = i;
  } else if (head.biBitCount == 4) {
    uint8_t& b = row[x >> 1];
    if (x & 1)
      b = (uint8_t)((b & 0xF0) | (i & 0x0F));
    else
      b = (uint8_t)((b & 0x0F) | ((i & 0x0F) << 4));
  } else if (head.biBitCount == 1) {
    uint8_t mask = (uint8_t)(0x80 >> (x & 7));
    uint8_t& b = row[x >> 3];
    b = (i & 1) ? (uint8_t)(b | mask) : (uint8_t)(b & ~mask);
  }
}

// One palette entry, or all zero when there is no such entry.
RGBQUAD CxImage::GetPaletteColor(uint8_t idx) const {
  RGBQUAD rgb = {0, 0, 0, 0};
  RGBQUAD* pal = GetPalette();
  if (pal && idx < head.biClrUsed) rgb = pal[idx];
  return rgb;
}

// Index of the palette entry closest to a colour, remembering the last answer.
uint8_t CxImage::GetNearestIndex(RGBQUAD c) {
  RGBQUAD* pal = GetPalette();
  if (pDib == nullptr || pal == nullptr) return 0;

  if (info.last_c_isvalid && memcmp(&info.last_c, &c, sizeof(RGBQUAD)) == 0)
    return info.last_c_index;

  // A header may claim more important colours than the palette holds.
  uint32_t n = head.biClrImportant ? head.biClrImportant : head.biClrUsed;
  if (n > head.biClrUsed) n = head.biClrUsed;
  int32_t distance = 200000;
  uint32_t j = 0;
  for (uint32_t i = 0; i < n; i++) {
    int32_t db = (int32_t)pal[i].rgbBlue - c.rgbBlue;
    int32_t dg = (int32_t)pal[i].rgbGreen - c.rgbGreen;
    int32_t dr = (int32_t)pal[i].rgbRed - c.rgbRed;
    int32_t k = db * db + dg * dg + dr * dr;
    if (k == 0) {
      j = i;
      break;
    }
    if (k < distance) {
      distance = k;
      j = i;
    }
  }
  info.last_c = c;
  info.last_c_index = (uint8_t)j;
  info.last_c_isvalid = true;
  return (uint8_t)j;
}

// Copy up to the palette's size of entries in; nothing for images without one.
void CxImage::SetPalette(const RGBQUAD* pPal, uint32_t nColors) {
  RGBQUAD* pal = GetPalette();
  if (pPal == nullptr || pal == nullptr) return;
  if (nColors > head.biClrUsed) nColors = head.biClrUsed;
  memcpy(pal, pPal, (size_t)nColors * sizeof(RGBQUAD));
  info.last_c_isvalid = false;
}

// Exchange the first and third byte of each pixel in one row's worth of bytes.
void CxImage::RGBtoBGR(uint8_t* buffer, int length) const {
  if (buffer == nullptr || head.biClrUsed != 0) return;
  if (length > (int)info.dwEffWidth) length = (int)info.dwEffWidth;
  if ((int64_t)length > 3 * (int64_t)head.biWidth) length = 3 * head.biWidth;
  // Stop at the last whole pixel so a ragged length never reaches past it.
  for (int i = 0; i + 3 <= length; i += 3) {
    uint8_t t = buffer[i];
    buffer[i] = buffer[i + 2];
    buffer[i + 2] = t;
  }
}

// Set every byte of the pixel rows (padding included) to one value.
void CxImage::Clear(uint8_t bval) {
  if (pDib == nullptr) return;
  if (head.biBitCount == 1 && bval != 0) bval = 255;
  if (head.biBitCount == 4) bval = (uint8_t)((bval & 0x0F) * 17);
  memset(info.pImage, bval, head.biSizeImage);
}

// Draw a line from (StartX, StartY) to (EndX, EndY) by Bresenham's rule;
// points off the image are skipped.
void CxImage::DrawLine(int StartX, int EndX, int StartY, int EndY, RGBQUAD color,
                       bool bSetAlpha) {
  if (pDib == nullptr) return;
  int x = StartX, y = StartY;
  int deltax = abs(EndX - StartX);
  int deltay = abs(EndY - StartY);
  int xinc1, xinc2, yinc1, yinc2, den, num, numadd, numpixels;

  xinc1 = xinc2 = (StartX > EndX) ? -1 : 1;
  yinc1 = yinc2 = (StartY > EndY) ? -1 : 1;

  if (deltax >= deltay) {
    xinc1 = 0;  // the x step is taken every pixel (xinc2), y only on overflow
    yinc2 = 0;
    den = deltax;
    num = deltax / 2;
    numadd = deltay;
    numpixels = deltax;
  } else {
    xinc2 = 0;
    yinc1 = 0;
    den = deltay;
    num = deltay / 2;
    numadd = deltax;
    numpixels = deltay;
  }

  for (int curpixel = 0; curpixel <= numpixels; curpixel++) {
    SetPixelColor(x, y, color, bSetAlpha);
    num += numadd;
    if (num >= den) {
      num -= den;
      x += xinc1;
      y += yinc1;
    }
    x += xinc2;
    y += yinc2;
  }
}
