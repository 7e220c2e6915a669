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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ximage/saturate_avx2.h"

namespace {

// Truncate a float toward zero into a byte; values outside 0..255 saturate
// (the conversions below only produce such values for nonsense input).
inline uint8_t truncToByte(float v) {
  if (!(v > 0.0f)) return 0;  // also catches NaN
  if (v >= 255.0f) return 255;
  return (uint8_t)(int)v;
}

// The shift of colour space 1's saturation: clamped first so that i + shift
// cannot overflow; the table entries are the same.
int hslShift(int64_t saturation) { return (int)std::min<int64_t>(512, std::max<int64_t>(-512, saturation)); }

// Saturation table of colour space 1: S is moved by `saturation` and kept in 0..255.
void buildHslTable(int64_t saturation, uint8_t* table) {
  const int64_t s = hslShift(saturation);
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

#if defined(__SSE2__)
// Lanes of a where mask is set, of b elsewhere.
inline __m128 select(__m128 mask, __m128 a, __m128 b) {
  return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
#endif

// Exact integer division by small divisors through reciprocals: for a
// numerator below 2^16 and a divisor d up to 510, (x * ceil(2^32 / d)) >> 32
// equals x / d (the rounding error stays below 1 / d).
struct Reciprocals {
  uint64_t m[511];
  Reciprocals() {
    m[0] = 0;
    for (uint64_t d = 1; d < 511; d++) m[d] = ((1ull << 32) + d - 1) / d;
  }
  inline int div(int x, int d) const { return (int)(((uint64_t)x * m[d]) >> 32); }
};

// Single-precision values that HSLtoRGB derives from each byte, computed the
// same way once instead of once per pixel.
struct HslTables {
  float unit[256];     // v / 255 (lightness and saturation)
  float degrees[256];  // v * 360 / 255 (hue)
  HslTables() {
    for (int v = 0; v < 256; v++) {
      unit[v] = (float)v / 255.0f;
      degrees[v] = ((float)v * 360.0f) / 255.0f;
    }
  }
};

const Reciprocals& reciprocals() {
  static const Reciprocals r;
  return r;
}

const HslTables& hslTables() {
  static const HslTables t;
  return t;
}

// Integer HSL of one pixel with its saturation already moved through the
// table: the steps of RGBtoHSL with the divisions done by reciprocals. Every
// candidate is formed and the right one selected, so that noisy pictures do
// not pay for mispredicted branches; for a grey, d and s are 0 and the
// reciprocal of 0 is 0, so the unused candidates stay harmless.
struct HslValue {
  int L, S, H;
};

inline HslValue hslOfPixel(const uint8_t* px, const uint8_t* table, const Reciprocals& rc) {
  const int B = px[0];
  const int G = px[1];
  const int R = px[2];
  const int cMax = std::max(std::max(R, G), B);
  const int cMin = std::min(std::min(R, G), B);
  const int L = (cMax + cMin + 1) / 2;
  const int d = cMax - cMin;
  const int s = (L <= 127) ? cMax + cMin : 510 - cMax - cMin;
  const int half = d / 2;
  const int rDelta = rc.div((cMax - R) * 42 + half, d);
  const int gDelta = rc.div((cMax - G) * 42 + half, d);
  const int bDelta = rc.div((cMax - B) * 42 + half, d);
  const int hue = (R == cMax) ? bDelta - gDelta : (G == cMax) ? 85 + rDelta - bDelta : 170 + gDelta - rDelta;
  const bool grey = (d == 0);
  return HslValue{L, table[grey ? 0 : rc.div(d * 255 + s / 2, s)], grey ? 170 : (hue & 0xFF)};
}

// The steps of HSLtoRGB for one pixel, writing blue, green, red.
inline void rgbOfHsl(const HslValue& v, const HslTables& ht, uint8_t* px) {
  const float l = ht.unit[v.L];
  const float s = ht.unit[v.S];
  if (s == 0.0f) {
    px[0] = px[1] = px[2] = truncToByte(l * 255.0f);
    return;
  }
  const float m2 = (l <= 0.5f) ? l * (1.0f + s) : (l + s) - l * s;
  const float m1 = (l + l) - m2;
  const float h = ht.degrees[v.H];
  px[2] = truncToByte(255.0f * CxImage::HueToRGB(m1, m2, h + 120.0f));
  px[1] = truncToByte(255.0f * CxImage::HueToRGB(m1, m2, h));
  px[0] = truncToByte(255.0f * CxImage::HueToRGB(m1, m2, h - 120.0f));
}

inline void saturateHsl(const uint8_t* table, uint8_t* px) {
  rgbOfHsl(hslOfPixel(px, table, reciprocals()), hslTables(), px);
}

#if defined(__SSE2__)
// HueToRGB in four lanes, each lane the same single-precision steps as the
// scalar function, then 255 times the result truncated to a byte.
inline __m128i hueChannel4(__m128 m1, __m128 m2, __m128 hue) {
  const __m128 v360 = _mm_set1_ps(360.0f);
  const __m128 over = _mm_cmpgt_ps(hue, v360);
  const __m128 under = _mm_cmplt_ps(hue, _mm_setzero_ps());
  __m128 h = select(under, _mm_add_ps(hue, v360), hue);
  h = select(over, _mm_sub_ps(hue, v360), h);
  const __m128 below60 = _mm_cmplt_ps(h, _mm_set1_ps(60.0f));
  const __m128 below180 = _mm_cmplt_ps(h, _mm_set1_ps(180.0f));
  const __m128 below240 = _mm_cmplt_ps(h, _mm_set1_ps(240.0f));
  // The rising ramp uses the hue, the falling one 240 - hue: one division serves both.
  const __m128 x = select(below60, h, _mm_sub_ps(_mm_set1_ps(240.0f), h));
  const __m128 ramp = _mm_add_ps(m1, _mm_div_ps(_mm_mul_ps(_mm_sub_ps(m2, m1), x), _mm_set1_ps(60.0f)));
  __m128 c = select(below240, ramp, m1);
  c = select(below180, m2, c);
  c = select(below60, ramp, c);
  c = _mm_mul_ps(_mm_set1_ps(255.0f), c);
  c = _mm_min_ps(_mm_max_ps(c, _mm_setzero_ps()), _mm_set1_ps(255.0f));  // as truncToByte
  return _mm_cvttps_epi32(c);
}

// rgbOfHsl for four pixels at once.
inline void rgbOfHsl4(const HslValue* v, const HslTables& ht, uint8_t* const* px) {
  const __m128 l = _mm_set_ps(ht.unit[v[3].L], ht.unit[v[2].L], ht.unit[v[1].L], ht.unit[v[0].L]);
  const __m128 s = _mm_set_ps(ht.unit[v[3].S], ht.unit[v[2].S], ht.unit[v[1].S], ht.unit[v[0].S]);
  const __m128 h = _mm_set_ps(ht.degrees[v[3].H], ht.degrees[v[2].H], ht.degrees[v[1].H], ht.degrees[v[0].H]);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 lowLight = _mm_cmple_ps(l, _mm_set1_ps(0.5f));
  const __m128 m2 = select(lowLight, _mm_mul_ps(l, _mm_add_ps(one, s)),
                           _mm_sub_ps(_mm_add_ps(l, s), _mm_mul_ps(l, s)));
  const __m128 m1 = _mm_sub_ps(_mm_add_ps(l, l), m2);
  const __m128 v120 = _mm_set1_ps(120.0f);
  alignas(16) int32_t r[4], g[4], b[4], grey[4];
  _mm_store_si128((__m128i*)r, hueChannel4(m1, m2, _mm_add_ps(h, v120)));
  _mm_store_si128((__m128i*)g, hueChannel4(m1, m2, h));
  _mm_store_si128((__m128i*)b, hueChannel4(m1, m2, _mm_sub_ps(h, v120)));
  // No saturation: all three channels are l * 255.
  const __m128 greyValue = _mm_min_ps(_mm_max_ps(_mm_mul_ps(l, _mm_set1_ps(255.0f)), _mm_setzero_ps()),
                                      _mm_set1_ps(255.0f));
  _mm_store_si128((__m128i*)grey, _mm_cvttps_epi32(greyValue));
  alignas(16) int32_t noSat[4];
  _mm_store_si128((__m128i*)noSat, _mm_castps_si128(_mm_cmpeq_ps(s, _mm_setzero_ps())));
  for (int i = 0; i < 4; i++) {
    uint8_t* p = px[i];
    if (noSat[i]) {
      p[0] = p[1] = p[2] = (uint8_t)grey[i];
    } else {
      p[0] = (uint8_t)b[i];
      p[1] = (uint8_t)g[i];
      p[2] = (uint8_t)r[i];
    }
  }
}
#endif

inline void saturateYuv(const uint8_t* table, uint8_t* px) {
  uint8_t y, u, v;
  rgbToYuv(px[2], px[1], px[0], &y, &u, &v);
  yuvToRgb(y, table[u], table[v], &px[2], &px[1], &px[0]);
}

// Results of the conversion for recently seen colours. Card images repeat
// colours a lot (flat backgrounds, text, smooth gradients), so most pixels
// are answered from here; the conversion is a pure function of the colour,
// so an answer from the memo is the very answer the conversion would give.
class ColourMemo {
 public:
  static constexpr uint32_t kSlots = 1u << 15;

  ColourMemo() : slots_(new (std::nothrow) uint32_t[kSlots * 2]) {
    // Key 0xFFFFFFFF never matches a 24-bit colour.
    if (slots_) std::fill(slots_.get(), slots_.get() + kSlots * 2, 0xFFFFFFFFu);
  }
  bool ok() const { return slots_ != nullptr; }

  static uint32_t keyOf(const uint8_t* px) {
    return (uint32_t)px[0] | ((uint32_t)px[1] << 8) | ((uint32_t)px[2] << 16);
  }
  // Write the remembered result for `key` into px; false when there is none.
  bool recall(uint32_t key, uint8_t* px) const {
    const uint32_t* slot = slotOf(key);
    if (slot[0] != key) return false;
    px[0] = (uint8_t)slot[1];
    px[1] = (uint8_t)(slot[1] >> 8);
    px[2] = (uint8_t)(slot[1] >> 16);
    return true;
  }
  void remember(uint32_t key, const uint8_t* px) {
    uint32_t* slot = slotOf(key);
    slot[0] = key;
    slot[1] = keyOf(px);
  }

 private:
  uint32_t* slotOf(uint32_t key) const { return &slots_[2 * ((key * 2654435761u) >> 17)]; }
  std::unique_ptr<uint32_t[]> slots_;
};

// Colour space 1 over a 24-bit image. Pixels the memo does not know are
// converted four at a time where the processor allows it.
void saturateHslImage(uint8_t* bits, uint32_t effWidth, uint32_t width, uint32_t height,
                      const uint8_t* table, int shift) {
  const Reciprocals& rc = reciprocals();
  const HslTables& ht = hslTables();
  const bool wide512 = ximage_wide::HaveAvx512();
  if (wide512 || ximage_wide::HaveAvx2()) {
    // Sixteen or eight pixels a lane group, every pixel converted; the few
    // pixels at the end of a row that the eight-pixel steps leave go one by one.
    for (uint32_t y = 0; y < height; y++) {
      uint8_t* row = bits + (size_t)y * effWidth;
      const uint32_t done = wide512 ? ximage_wide::SaturateHslRowAvx512(row, width, shift)
                                    : ximage_wide::SaturateHslRowAvx2(row, width, shift);
      for (uint8_t* px = row + (size_t)done * 3; px < row + (size_t)width * 3; px += 3) {
        rgbOfHsl(hslOfPixel(px, table, rc), ht, px);
      }
    }
    return;
  }
  ColourMemo memo;
#if defined(__SSE2__)
  HslValue pending[4];
  uint8_t* pendingPx[4];
  uint32_t pendingKey[4];
  int count = 0;
  auto flush = [&]() {
    for (int i = count; i < 4; i++) {  // fill unused lanes with a copy
      pending[i] = pending[0];
      pendingPx[i] = pendingPx[0];
    }
    rgbOfHsl4(pending, ht, pendingPx);
    if (memo.ok()) {
      for (int i = 0; i < count; i++) memo.remember(pendingKey[i], pendingPx[i]);
    }
    count = 0;
  };
#endif
  for (uint32_t y = 0; y < height; y++) {
    uint8_t* px = bits + (size_t)y * effWidth;
    uint8_t* const end = px + (size_t)width * 3;
    for (; px < end; px += 3) {
      const uint32_t key = ColourMemo::keyOf(px);
      if (memo.ok() && memo.recall(key, px)) continue;
#if defined(__SSE2__)
      pending[count] = hslOfPixel(px, table, rc);
      pendingPx[count] = px;
      pendingKey[count] = key;
      if (++count == 4) flush();
#else
      rgbOfHsl(hslOfPixel(px, table, rc), ht, px);
      if (memo.ok()) memo.remember(key, px);
#endif
    }
  }
#if defined(__SSE2__)
  if (count > 0) flush();
#endif
}

// Colour space 2 over a 24-bit image.
void saturateYuvImage(uint8_t* bits, uint32_t effWidth, uint32_t width, uint32_t height,
                      const uint8_t* table) {
  ColourMemo memo;
  for (uint32_t y = 0; y < height; y++) {
    uint8_t* px = bits + (size_t)y * effWidth;
    uint8_t* const end = px + (size_t)width * 3;
    for (; px < end; px += 3) {
      const uint32_t key = ColourMemo::keyOf(px);
      if (memo.ok() && memo.recall(key, px)) continue;
      saturateYuv(table, px);
      if (memo.ok()) memo.remember(key, px);
    }
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
      saturateHslImage(info.pImage, info.dwEffWidth, width, height, table, hslShift(saturation));
    } else {
      saturateYuvImage(info.pImage, info.dwEffWidth, width, height, table);
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
