// Byte-table walks over card image rows.
#include "pipeline/tablewalk.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define PIPELINE_HAVE_WIDE_TABLES 1
#endif

namespace {

void mapBytesPlain(uint8_t* p, size_t n, const uint8_t* table) {
  for (size_t i = 0; i < n; ++i) p[i] = table[p[i]];
}

void mapNonWhitePlain(uint8_t* p, int count, const uint8_t* table) {
  for (int x = 0; x < count; ++x, p += 3) {
    if (p[0] == 255 && p[1] == 255 && p[2] == 255) continue;
    p[0] = table[p[0]];
    p[1] = table[p[1]];
    p[2] = table[p[2]];
  }
}

#if defined(PIPELINE_HAVE_WIDE_TABLES)

#define PIPELINE_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

bool haveWideTables() {
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vbmi");
  return wide;
}

// The 256-byte table as four 64-byte registers.
struct WideTable {
  __m512i t0, t1, t2, t3;
};

PIPELINE_WIDE inline WideTable loadTable(const uint8_t* table) {
  return WideTable{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
                   _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

// table[v] for 64 bytes: the low seven bits pick within the lower or upper
// half of the table, the top bit picks the half.
PIPELINE_WIDE inline __m512i lookup(const WideTable& t, __m512i v) {
  const __m512i low = _mm512_permutex2var_epi8(t.t0, v, t.t1);
  const __m512i high = _mm512_permutex2var_epi8(t.t2, v, t.t3);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

PIPELINE_WIDE size_t mapBytesWide(uint8_t* p, size_t n, const uint8_t* table) {
  const WideTable t = loadTable(table);
  size_t i = 0;
  for (; i + 64 <= n; i += 64) _mm512_storeu_si512(p + i, lookup(t, _mm512_loadu_si512(p + i)));
  return i;
}

// Sixteen pixels (48 bytes) a step; returns how many pixels it did.
PIPELINE_WIDE int mapNonWhiteWide(uint8_t* p, int width, const uint8_t* table) {
  const WideTable t = loadTable(table);
  const __mmask64 pixelBytes = 0xFFFFFFFFFFFFull;     // 48 bytes
  const uint64_t firstBytes = 0x249249249249ull;      // byte 0 of each pixel
  const __m512i white = _mm512_set1_epi8(static_cast<char>(255));
  int x = 0;
  for (; x + 16 <= width; x += 16, p += 48) {
    const __m512i v = _mm512_maskz_loadu_epi8(pixelBytes, p);
    const uint64_t full = _mm512_mask_cmpeq_epi8_mask(pixelBytes, v, white);
    const uint64_t whiteStart = full & (full >> 1) & (full >> 2) & firstBytes;
    const uint64_t keep = whiteStart | (whiteStart << 1) | (whiteStart << 2);
    _mm512_mask_storeu_epi8(p, pixelBytes & ~keep, lookup(t, v));
  }
  return x;
}

#endif

}  // namespace

void MapBytes(uint8_t* p, size_t n, const uint8_t* table) {
  size_t done = 0;
#if defined(PIPELINE_HAVE_WIDE_TABLES)
  if (haveWideTables()) done = mapBytesWide(p, n, table);
#endif
  mapBytesPlain(p + done, n - done, table);
}

void MapNonWhitePixels(uint8_t* row, int width, const uint8_t* table) {
  int done = 0;
#if defined(PIPELINE_HAVE_WIDE_TABLES)
  if (haveWideTables()) done = mapNonWhiteWide(row, width, table);
#endif
  mapNonWhitePlain(row + 3 * static_cast<size_t>(done), width - done, table);
}
