// Blur and sharpen runs, 32 bytes per step with AVX2. Every lane takes the
// steps of the one-byte evaluation in the same order at the same precision
// (products of byte and tap summed from 0 in increasing tap order, rounding
// half up, the sharpen formula), so every byte equals the plain result.
#include "ximage/unsharp_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define XIMAGE_HAVE_AVX2_PATH 1
#endif

namespace ximage_wide {

#if defined(XIMAGE_HAVE_AVX2_PATH)

namespace {

#define XIMAGE_AVX2 __attribute__((target("avx2")))

// Eight sums rounded to bytes as the plain rounding does: kept in 0..255
// (NaN to 0), truncated, plus one where the dropped fraction is at least one
// half.
XIMAGE_AVX2 inline __m256i roundEight(__m256 s) {
  s = _mm256_min_ps(_mm256_max_ps(s, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
  const __m256i t = _mm256_cvttps_epi32(s);
  const __m256 frac = _mm256_sub_ps(s, _mm256_cvtepi32_ps(t));  // exact
  const __m256 up = _mm256_cmp_ps(frac, _mm256_set1_ps(0.5f), _CMP_GE_OQ);
  return _mm256_sub_epi32(t, _mm256_castps_si256(up));
}

// Bytes p[0..7] as eight 32-bit lanes.
XIMAGE_AVX2 inline __m256i widen(const uint8_t* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64((const __m128i*)p));
}

// The 32 blurred values of bytes q .. q + 31, as four groups of eight lanes.
XIMAGE_AVX2 inline void blurThirtyTwo(const float* kernel, int n, const uint8_t* const* taps, size_t q,
                                      __m256i out[4]) {
  __m256 a[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
  for (int j = 0; j < n; j++) {
    const uint8_t* p = taps[j] + q;
    const __m256 k = _mm256_set1_ps(kernel[j]);
    for (int g = 0; g < 4; g++) {
      a[g] = _mm256_add_ps(a[g], _mm256_mul_ps(_mm256_cvtepi32_ps(widen(p + 8 * g)), k));
    }
  }
  for (int g = 0; g < 4; g++) out[g] = roundEight(a[g]);
}

// Four groups of eight values in 0..255 as 32 bytes in order.
XIMAGE_AVX2 inline __m256i packBytes(const __m256i v[4]) {
  const __m256i w01 = _mm256_packs_epi32(v[0], v[1]);
  const __m256i w23 = _mm256_packs_epi32(v[2], v[3]);
  const __m256i b = _mm256_packus_epi16(w01, w23);
  // The packs work per 128-bit half: put the 4-byte pieces back in order.
  return _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

}  // namespace

XIMAGE_AVX2 size_t BlurRunAvx2(const float* kernel, int n, const uint8_t* const* taps, uint8_t* dst,
                               size_t len) {
  size_t q = 0;
  for (; q + 32 <= len; q += 32) {
    __m256i u[4];
    blurThirtyTwo(kernel, n, taps, q, u);
    _mm256_storeu_si256((__m256i*)(dst + q), packBytes(u));
  }
  return q;
}

XIMAGE_AVX2 size_t BlurSharpenRunAvx2(const float* kernel, int n, const uint8_t* const* taps,
                                      uint8_t* o, size_t len, float amount) {
  const __m256 a = _mm256_set1_ps(amount);
  const __m256 top = _mm256_set1_ps(255.0f);
  size_t q = 0;
  for (; q + 32 <= len; q += 32) {
    __m256i u[4];
    blurThirtyTwo(kernel, n, taps, q, u);
    __m256i r[4];
    for (int g = 0; g < 4; g++) {
      const __m256i o32 = widen(o + q + 8 * g);
      const __m256i diff = _mm256_sub_epi32(o32, u[g]);
      __m256 v = _mm256_add_ps(_mm256_cvtepi32_ps(o32), _mm256_mul_ps(_mm256_cvtepi32_ps(diff), a));
      v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), top);  // NaN becomes 0
      r[g] = _mm256_cvttps_epi32(v);
    }
    _mm256_storeu_si256((__m256i*)(o + q), packBytes(r));
  }
  return q;
}

#else

size_t BlurRunAvx2(const float*, int, const uint8_t* const*, uint8_t*, size_t) { return 0; }
size_t BlurSharpenRunAvx2(const float*, int, const uint8_t* const*, uint8_t*, size_t, float) { return 0; }

#endif

}  // namespace ximage_wide
