// Byte-table walks over card image rows.
#include "pipeline/tablewalk.h"

#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#define PIPELINE_HAVE_WIDE_TABLES 1
#endif

namespace {

void mapNonWhitePlain(const uint8_t* s, uint8_t* d, int count, const uint8_t* table) {
  for (int x = 0; x < count; ++x, s += 3, d += 3) {
    if (s[0] == 255 && s[1] == 255 && s[2] == 255) {
      d[0] = d[1] = d[2] = 255;
      continue;
    }
    d[0] = table[s[0]];
    d[1] = table[s[1]];
    d[2] = table[s[2]];
  }
}

void mapPixelsPlain(const uint8_t* s, uint8_t* d, int count, const uint8_t* blue,
                    const uint8_t* green, const uint8_t* red) {
  for (int x = 0; x < count; ++x, s += 3, d += 3) {
    d[0] = blue[s[0]];
    d[1] = green[s[1]];
    d[2] = red[s[2]];
  }
}

#if defined(PIPELINE_HAVE_WIDE_TABLES)

#define PIPELINE_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

bool haveWideTables() {
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vbmi");
  return wide;
}

// Sixteen pixels are the first 48 bytes of a register.
const __mmask64 kPixelBytes = 0xFFFFFFFFFFFFull;
const uint64_t kBlueBytes = 0x249249249249ull;  // byte 0 of each pixel
const uint64_t kGreenBytes = kBlueBytes << 1;
const uint64_t kRedBytes = kBlueBytes << 2;

// A 256-byte table as four 64-byte registers.
struct WideTable {
  __m512i t0, t1, t2, t3;
};

PIPELINE_WIDE inline WideTable loadTable(const uint8_t* table) {
  return WideTable{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
                   _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

// table[v] for 64 bytes: the low seven bits pick within the lower or upper
// half of the table, the top bit (`high`) picks the half.
PIPELINE_WIDE inline __m512i lookup(const WideTable& t, __m512i v, __mmask64 high) {
  const __m512i low = _mm512_permutex2var_epi8(t.t0, v, t.t1);
  const __m512i up = _mm512_permutex2var_epi8(t.t2, v, t.t3);
  return _mm512_mask_blend_epi8(high, low, up);
}

// Returns how many pixels it did (a multiple of sixteen).
PIPELINE_WIDE int mapNonWhiteWide(const uint8_t* s, uint8_t* d, int width, const uint8_t* table) {
  const WideTable t = loadTable(table);
  const __m512i white = _mm512_set1_epi8(static_cast<char>(255));
  int x = 0;
  for (; x + 16 <= width; x += 16, s += 48, d += 48) {
    const __m512i v = _mm512_maskz_loadu_epi8(kPixelBytes, s);
    const uint64_t full = _mm512_mask_cmpeq_epi8_mask(kPixelBytes, v, white);
    const uint64_t whiteStart = full & (full >> 1) & (full >> 2) & kBlueBytes;
    const __mmask64 keep = whiteStart | (whiteStart << 1) | (whiteStart << 2);
    const __m512i mapped = lookup(t, v, _mm512_movepi8_mask(v));
    _mm512_mask_storeu_epi8(d, kPixelBytes, _mm512_mask_blend_epi8(keep, mapped, v));
  }
  return x;
}

PIPELINE_WIDE int mapPixelsWide(const uint8_t* s, uint8_t* d, int width, const uint8_t* blue,
                                const uint8_t* green, const uint8_t* red) {
  const WideTable tb = loadTable(blue);
  const WideTable tg = loadTable(green);
  const WideTable tr = loadTable(red);
  int x = 0;
  for (; x + 16 <= width; x += 16, s += 48, d += 48) {
    const __m512i v = _mm512_maskz_loadu_epi8(kPixelBytes, s);
    const __mmask64 high = _mm512_movepi8_mask(v);
    __m512i out = lookup(tb, v, high);
    out = _mm512_mask_blend_epi8(kGreenBytes, out, lookup(tg, v, high));
    out = _mm512_mask_blend_epi8(kRedBytes, out, lookup(tr, v, high));
    _mm512_mask_storeu_epi8(d, kPixelBytes, out);
  }
  return x;
}

#endif

}  // namespace

void MapNonWhitePixels(const uint8_t* src, uint8_t* dst, int width, const uint8_t* table) {
  int done = 0;
#if defined(PIPELINE_HAVE_WIDE_TABLES)
  if (haveWideTables()) done = mapNonWhiteWide(src, dst, width, table);
#endif
  const size_t at = 3 * static_cast<size_t>(done);
  mapNonWhitePlain(src + at, dst + at, width - done, table);
}

void MapPixels(const uint8_t* src, uint8_t* dst, int width, const uint8_t* blue,
               const uint8_t* green, const uint8_t* red) {
  int done = 0;
#if defined(PIPELINE_HAVE_WIDE_TABLES)
  if (haveWideTables()) done = mapPixelsWide(src, dst, width, blue, green, red);
#endif
  const size_t at = 3 * static_cast<size_t>(done);
  mapPixelsPlain(src + at, dst + at, width - done, blue, green, red);
}
