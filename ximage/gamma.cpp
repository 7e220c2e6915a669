// Per-channel gamma through 256-entry lookup tables, and the table mapping itself.
#include "ximage/ximage.h"

#include <cmath>
#include <cstring>

namespace {

// Gamma table: i -> 255 * (i / 255) ^ (1 / gamma), formed as pow(i, e) / (pow(255, e) / 255)
// with the exponent rounded to single precision first, so every build maps alike.
void buildGammaTable(float gamma, uint8_t* table) {
  const double e = (double)(1.0f / gamma);
  const double dMax = std::pow(255.0, e) / 255.0;
  const bool overflow = !std::isfinite(dMax);
  for (int i = 0; i < 256; i++) {
    double v;
    if (!overflow) {
      v = std::pow((double)i, e) / dMax;
    } else {
      // For gammas below about 1/128, pow(255, e) leaves the double range and
      // the quotient would be 0 or NaN; the same curve taken through the
      // ratio i / 255 stays finite.
      v = std::pow((double)i / 255.0, e) * 255.0;
    }
    // Truncate toward zero, then keep inside a byte (v > 255 means 256 or more
    // once truncated; NaN cannot occur but would give 0).
    if (v >= 256.0) {
      table[i] = 255;
    } else if (v >= 0.0) {
      table[i] = (uint8_t)(int)v;
    } else {
      table[i] = 0;
    }
  }
}

}  // namespace

// Apply a gamma curve to each colour channel; every gamma must be above zero.
bool CxImage::GammaRGB(float gammaR, float gammaG, float gammaB) {
  if (pDib == nullptr) return false;
  // Written so that NaN is refused along with zero and negative values.
  if (!(gammaR > 0.0f) || !(gammaG > 0.0f) || !(gammaB > 0.0f)) return false;

  uint8_t lutR[256];
  uint8_t lutG[256];
  uint8_t lutB[256];
  buildGammaTable(gammaR, lutR);
  if (gammaG == gammaR && gammaB == gammaR) {
    // The card pipeline passes one gamma for all channels: one table serves all.
    return Lut(lutR, lutR, lutR, nullptr);
  }
  buildGammaTable(gammaG, lutG);
  buildGammaTable(gammaB, lutB);
  return Lut(lutR, lutG, lutB, nullptr);
}

// Map every pixel's red, green and blue bytes through the given tables (the
// palette entries instead for an image with a palette); the alpha table, when
// given, maps the palette's reserved bytes.
bool CxImage::Lut(const uint8_t* pLutR, const uint8_t* pLutG, const uint8_t* pLutB,
                  const uint8_t* pLutAlpha) {
  if (pDib == nullptr) return false;
  if (head.biWidth <= 0 || head.biHeight <= 0) return false;
  if (pLutR == nullptr || pLutG == nullptr || pLutB == nullptr) {
    SetError("Lut: missing table");
    return false;
  }

  if (head.biClrUsed != 0) {
    RGBQUAD* pal = GetPalette();
    if (pal == nullptr) return false;
    RGBQUAD mapped[256];
    const uint32_t n = head.biClrUsed < 256 ? head.biClrUsed : 256;
    for (uint32_t i = 0; i < n; i++) {
      mapped[i].rgbBlue = pLutB[pal[i].rgbBlue];
      mapped[i].rgbGreen = pLutG[pal[i].rgbGreen];
      mapped[i].rgbRed = pLutR[pal[i].rgbRed];
      mapped[i].rgbReserved = pLutAlpha ? pLutAlpha[pal[i].rgbReserved] : pal[i].rgbReserved;
    }
    SetPalette(mapped, n);  // also forgets the nearest-colour cache
    return true;
  }
  if (head.biBitCount != 24) return false;

  // Local copies: the compiler then knows the pixel writes cannot change a table.
  uint8_t lutR[256];
  uint8_t lutG[256];
  uint8_t lutB[256];
  memcpy(lutR, pLutR, 256);
  memcpy(lutG, pLutG, 256);
  memcpy(lutB, pLutB, 256);
  const size_t width = (size_t)head.biWidth;
  const uint32_t height = (uint32_t)head.biHeight;
  for (uint32_t y = 0; y < height; y++) {
    uint8_t* p = info.pImage + (size_t)y * info.dwEffWidth;
    size_t x = 0;
    for (; x < width; x++, p += 3) {
      p[0] = lutB[p[0]];
      p[1] = lutG[p[1]];
      p[2] = lutR[p[2]];
    }
  }
  return true;
}
