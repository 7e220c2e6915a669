// Saturation of an image in the integer HSL space, and the HSL conversions.
//
// Every step below is written to give the same bytes on every build: the HSL
// pair uses integer arithmetic one way and single precision the other, and
// the build never contracts or reorders the float operations.
#include "ximage/ximage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Truncate a float toward zero into a byte; values outside 0..255 saturate
// (the conversions below only produce such values for nonsense input).
inline uint8_t truncToByte(float v) {
  if (!(v > 0.0f)) return 0;  // also catches NaN
  if (v >= 255.0f) return 255;
  return (uint8_t)(int)v;
}

// Saturation table of colour space 1: S is moved by `saturation` and kept in 0..255.
void buildHslTable(int64_t saturation, uint8_t* table) {
  // Clamp first so that i + saturation cannot overflow; the result is the same.
  const int64_t s = std::min<int64_t>(512, std::max<int64_t>(-512, saturation));
  for (int i = 0; i < 256; i++) table[i] = (uint8_t)std::min<int64_t>(255, std::max<int64_t>(0, i + s));
}

// Chroma table of colour space 2: (i - 128) scaled by (100 + saturation) percent.
void buildChromaTable(int64_t saturation, uint8_t* table) {
  // Past +-100000 every non-neutral chroma saturates already; clamping keeps
  // the product inside 64 bits without changing any entry.
  const int64_t s = std::min<int64_t>(100000, std::max<int64_t>(-100000, saturation));
  for (int i = 0; i < 256; i++) {
    const double v = (double)((i - 128) * (100 + s)) / 100.0 + 128.5;
    table[i] = (v >= 255.0) ? 255 : (v > 0.0 ? (uint8_t)(int)v : 0);
  }
}

inline uint8_t roundToByte(float v) { return truncToByte(v + 0.5f); }

// YUV used by colour space 2 (never selected by the card pipeline): full-range
// ITU-R BT.601 luma with chroma centred on 128, rounded to bytes.
void rgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t* y, uint8_t* u, uint8_t* v) {
  const float fy = 0.299f * r + 0.587f * g + 0.114f * b;
  *y = roundToByte(fy);
  *u = roundToByte((b - fy) * 0.565f + 128.0f);
  *v = roundToByte((r - fy) * 0.713f + 128.0f);
}

void yuvToRgb(uint8_t y, uint8_t u, uint8_t v, uint8_t* r, uint8_t* g, uint8_t* b) {
  const float cu = (float)u - 128.0f;
  const float cv = (float)v - 128.0f;
  *r = roundToByte(y + 1.403f * cv);
  *g = roundToByte(y - 0.344f * cu - 0.714f * cv);
  *b = roundToByte(y + 1.770f * cu);
}

// One pixel through colour space 1: to HSL, saturation through the table, back.
inline void saturateHsl(const uint8_t* table, uint8_t* px) {
  RGBQUAD c;
  c.rgbBlue = px[0];
  c.rgbGreen = px[1];
  c.rgbRed = px[2];
  c.rgbReserved = 0;
  RGBQUAD hsl = CxImage::RGBtoHSL(c);
  hsl.rgbGreen = table[hsl.rgbGreen];
  const RGBQUAD out = CxImage::HSLtoRGB(hsl);
  px[0] = out.rgbBlue;
  px[1] = out.rgbGreen;
  px[2] = out.rgbRed;
}

inline void saturateYuv(const uint8_t* table, uint8_t* px) {
  uint8_t y, u, v;
  rgbToYuv(px[2], px[1], px[0], &y, &u, &v);
  yuvToRgb(y, table[u], table[v], &px[2], &px[1], &px[0]);
}

// Results of the conversion for recently seen colours. Card images repeat
// colours a lot (flat backgrounds, text, smooth gradients), so most pixels
// are answered from here; a miss computes the conversion exactly as a hit
// would have stored it, so the memo never changes a byte.
class ColourMemo {
 public:
  static constexpr uint32_t kSlots = 1u << 15;

  bool ok() const { return slots_ != nullptr; }

  explicit ColourMemo() : slots_(new (std::nothrow) uint32_t[kSlots * 2]) {
    // Key 0xFFFFFFFF never matches a 24-bit colour.
    if (slots_) std::fill(slots_.get(), slots_.get() + kSlots * 2, 0xFFFFFFFFu);
  }

  template <typename Convert>
  inline void apply(uint8_t* px, Convert convert) {
    const uint32_t key = (uint32_t)px[0] | ((uint32_t)px[1] << 8) | ((uint32_t)px[2] << 16);
    uint32_t* slot = &slots_[2 * ((key * 2654435761u) >> 17)];
    if (slot[0] != key) {
      convert(px);
      slot[0] = key;
      slot[1] = (uint32_t)px[0] | ((uint32_t)px[1] << 8) | ((uint32_t)px[2] << 16);
      return;
    }
    const uint32_t v = slot[1];
    px[0] = (uint8_t)v;
    px[1] = (uint8_t)(v >> 8);
    px[2] = (uint8_t)(v >> 16);
  }

 private:
  std::unique_ptr<uint32_t[]> slots_;
};

template <typename Convert>
void saturateTrueColour(uint8_t* bits, uint32_t effWidth, uint32_t width, uint32_t height,
                        Convert convert) {
  ColourMemo memo;
  for (uint32_t y = 0; y < height; y++) {
    uint8_t* px = bits + (size_t)y * effWidth;
    uint8_t* end = px + (size_t)width * 3;
    if (!memo.ok()) {
      for (; px < end; px += 3) convert(px);
      continue;
    }
    for (; px < end; px += 3) memo.apply(px, convert);
  }
}

}  // namespace

// Integer HSL of a colour: lightness in blue, saturation in green, hue in red.
RGBQUAD CxImage::RGBtoHSL(RGBQUAD lRGBColor) {
  const int R = lRGBColor.rgbRed;
  const int G = lRGBColor.rgbGreen;
  const int B = lRGBColor.rgbBlue;
  const int cMax = std::max(std::max(R, G), B);
  const int cMin = std::min(std::min(R, G), B);
  const int L = (cMax + cMin + 1) / 2;
  int S = 0;
  int H = 170;  // the hue every grey carries
  if (cMax != cMin) {
    const int d = cMax - cMin;
    const int s = (L <= 127) ? cMax + cMin : 510 - cMax - cMin;
    S = (d * 255 + s / 2) / s;
    const int Rdelta = ((cMax - R) * 42 + d / 2) / d;
    const int Gdelta = ((cMax - G) * 42 + d / 2) / d;
    const int Bdelta = ((cMax - B) * 42 + d / 2) / d;
    if (R == cMax) {
      H = Bdelta - Gdelta;
    } else if (G == cMax) {
      H = 85 + Rdelta - Bdelta;
    } else {
      H = 170 + Gdelta - Rdelta;
    }
  }
  RGBQUAD hsl;
  hsl.rgbBlue = (uint8_t)L;
  hsl.rgbGreen = (uint8_t)S;
  hsl.rgbRed = (uint8_t)(H & 0xFF);  // a negative hue wraps round the circle
  hsl.rgbReserved = 0;
  return hsl;
}

// One colour channel of an HSL colour, hue in degrees, in single precision.
float CxImage::HueToRGB(float n1, float n2, float hue) {
  if (hue > 360.0f) {
    hue = hue - 360.0f;
  } else if (hue < 0.0f) {
    hue = hue + 360.0f;
  }
  if (hue < 60.0f) return n1 + ((n2 - n1) * hue) / 60.0f;
  if (hue < 180.0f) return n2;
  if (hue < 240.0f) return n1 + ((n2 - n1) * (240.0f - hue)) / 60.0f;
  return n1;
}

// Colour of an integer HSL value (lightness in blue, saturation in green, hue in red).
RGBQUAD CxImage::HSLtoRGB(RGBQUAD lHSLColor) {
  const float l = (float)lHSLColor.rgbBlue / 255.0f;
  const float s = (float)lHSLColor.rgbGreen / 255.0f;
  const float m2 = (l <= 0.5f) ? l * (1.0f + s) : (l + s) - l * s;
  uint8_t r, g, b;
  if (s == 0.0f) {
    r = g = b = truncToByte(l * 255.0f);
  } else {
    const float m1 = (l + l) - m2;
    const float h = ((float)lHSLColor.rgbRed * 360.0f) / 255.0f;
    r = truncToByte(255.0f * HueToRGB(m1, m2, h + 120.0f));
    g = truncToByte(255.0f * HueToRGB(m1, m2, h));
    b = truncToByte(255.0f * HueToRGB(m1, m2, h - 120.0f));
  }
  RGBQUAD rgb;
  rgb.rgbBlue = b;
  rgb.rgbGreen = g;
  rgb.rgbRed = r;
  rgb.rgbReserved = 0;
  return rgb;
}

// Change the saturation of every pixel: colour space 1 moves the HSL
// saturation by `saturation`; colour space 2 scales the YUV chroma by
// (100 + saturation) percent.
bool CxImage::Saturate(int64_t saturation, int64_t colorspace) {
  if (pDib == nullptr) return false;
  if (head.biWidth <= 0 || head.biHeight <= 0) return false;

  uint8_t table[256];
  if (colorspace == 1) {
    buildHslTable(saturation, table);
  } else if (colorspace == 2) {
    buildChromaTable(saturation, table);
  } else {
    SetError("Saturate: wrong colorspace");
    return false;
  }

  const uint32_t width = (uint32_t)head.biWidth;
  const uint32_t height = (uint32_t)head.biHeight;
  if (head.biClrUsed == 0 && head.biBitCount == 24) {
    if (colorspace == 1) {
      saturateTrueColour(info.pImage, info.dwEffWidth, width, height,
                         [&table](uint8_t* px) { saturateHsl(table, px); });
    } else {
      saturateTrueColour(info.pImage, info.dwEffWidth, width, height,
                         [&table](uint8_t* px) { saturateYuv(table, px); });
    }
    return true;
  }

  // Indexed image: every pixel gets the palette entry nearest to its new colour.
  for (uint32_t y = 0; y < height; y++) {
    for (uint32_t x = 0; x < width; x++) {
      const RGBQUAD c = GetPixelColor((int32_t)x, (int32_t)y, false);
      uint8_t px[3] = {c.rgbBlue, c.rgbGreen, c.rgbRed};
      if (colorspace == 1) {
        saturateHsl(table, px);
      } else {
        saturateYuv(table, px);
      }
      RGBQUAD out = c;
      out.rgbBlue = px[0];
      out.rgbGreen = px[1];
      out.rgbRed = px[2];
      SetPixelColor((int32_t)x, (int32_t)y, out, false);
    }
  }
  return true;
}
