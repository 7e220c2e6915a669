// Blur and sharpen runs, 32 bytes per step with AVX2, 64 with AVX-512 where
// the processor has it. Every lane takes the
// steps of the one-byte evaluation in the same order at the same precision
// (products of byte and tap summed from 0 in increasing tap order, rounding
// half up, the sharpen formula), so every byte equals the plain result.
#include "ximage/unsharp_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start their results from an undefined value
// that they overwrite whole, and warn about it wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define XIMAGE_QUIET_INTRINSICS 1
#endif
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

// The 32 blurred values of bytes q .. q + 31, as four groups of eight lanes
// (written out: the build does not unroll the groups by itself).
struct ThirtyTwo {
  __m256i g0, g1, g2, g3;
};

XIMAGE_AVX2 inline ThirtyTwo blurThirtyTwo(const float* kernel, int n, const uint8_t* const* taps,
                                           size_t q) {
  __m256 a0 = _mm256_setzero_ps();
  __m256 a1 = a0;
  __m256 a2 = a0;
  __m256 a3 = a0;
  for (int j = 0; j < n; j++) {
    const uint8_t* p = taps[j] + q;
    const __m256 k = _mm256_set1_ps(kernel[j]);
    a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_cvtepi32_ps(widen(p)), k));
    a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_cvtepi32_ps(widen(p + 8)), k));
    a2 = _mm256_add_ps(a2, _mm256_mul_ps(_mm256_cvtepi32_ps(widen(p + 16)), k));
    a3 = _mm256_add_ps(a3, _mm256_mul_ps(_mm256_cvtepi32_ps(widen(p + 24)), k));
  }
  return ThirtyTwo{roundEight(a0), roundEight(a1), roundEight(a2), roundEight(a3)};
}

// Four groups of eight values in 0..255 as 32 bytes in order.
XIMAGE_AVX2 inline __m256i packBytes(__m256i v0, __m256i v1, __m256i v2, __m256i v3) {
  const __m256i w01 = _mm256_packs_epi32(v0, v1);
  const __m256i w23 = _mm256_packs_epi32(v2, v3);
  const __m256i b = _mm256_packus_epi16(w01, w23);
  // The packs work per 128-bit half: put the 4-byte pieces back in order.
  return _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// One sharpened group: o + (o - u) * amount, kept in 0..255 (NaN to 0), truncated.
XIMAGE_AVX2 inline __m256i sharpenEight(const uint8_t* o, __m256i u, __m256 a) {
  const __m256i o32 = widen(o);
  const __m256i diff = _mm256_sub_epi32(o32, u);
  const __m256 v = _mm256_add_ps(_mm256_cvtepi32_ps(o32), _mm256_mul_ps(_mm256_cvtepi32_ps(diff), a));
  return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

#define XIMAGE_AVX512 __attribute__((target("avx512f,avx512bw")))

bool haveAvx512() {
  static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return avx512;
}

// The same steps sixteen lanes wide.
XIMAGE_AVX512 inline __m512i roundSixteen(__m512 s) {
  s = _mm512_min_ps(_mm512_max_ps(s, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
  const __m512i t = _mm512_cvttps_epi32(s);
  const __m512 frac = _mm512_sub_ps(s, _mm512_cvtepi32_ps(t));  // exact
  const __mmask16 up = _mm512_cmp_ps_mask(frac, _mm512_set1_ps(0.5f), _CMP_GE_OQ);
  return _mm512_mask_add_epi32(t, up, t, _mm512_set1_epi32(1));
}

XIMAGE_AVX512 inline __m512i widen16(const uint8_t* p) {
  return _mm512_cvtepu8_epi32(_mm_loadu_si128((const __m128i*)p));
}

struct SixtyFour {
  __m512i g0, g1, g2, g3;
};

XIMAGE_AVX512 inline SixtyFour blurSixtyFour(const float* kernel, int n, const uint8_t* const* taps,
                                             size_t q) {
  __m512 a0 = _mm512_setzero_ps();
  __m512 a1 = a0;
  __m512 a2 = a0;
  __m512 a3 = a0;
  for (int j = 0; j < n; j++) {
    const uint8_t* p = taps[j] + q;
    const __m512 k = _mm512_set1_ps(kernel[j]);
    a0 = _mm512_add_ps(a0, _mm512_mul_ps(_mm512_cvtepi32_ps(widen16(p)), k));
    a1 = _mm512_add_ps(a1, _mm512_mul_ps(_mm512_cvtepi32_ps(widen16(p + 16)), k));
    a2 = _mm512_add_ps(a2, _mm512_mul_ps(_mm512_cvtepi32_ps(widen16(p + 32)), k));
    a3 = _mm512_add_ps(a3, _mm512_mul_ps(_mm512_cvtepi32_ps(widen16(p + 48)), k));
  }
  return SixtyFour{roundSixteen(a0), roundSixteen(a1), roundSixteen(a2), roundSixteen(a3)};
}

// Sixteen values in 0..255 stored as bytes.
XIMAGE_AVX512 inline void storeSixteen(uint8_t* p, __m512i v) {
  _mm_storeu_si128((__m128i*)p, _mm512_cvtusepi32_epi8(v));
}

XIMAGE_AVX512 inline __m512i sharpenSixteen(const uint8_t* o, __m512i u, __m512 a) {
  const __m512i o32 = widen16(o);
  const __m512i diff = _mm512_sub_epi32(o32, u);
  const __m512 v = _mm512_add_ps(_mm512_cvtepi32_ps(o32), _mm512_mul_ps(_mm512_cvtepi32_ps(diff), a));
  return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(v, _mm512_setzero_ps()), _mm512_set1_ps(255.0f)));
}

XIMAGE_AVX512 size_t blurRun512(const float* kernel, int n, const uint8_t* const* taps, uint8_t* dst,
                                size_t len) {
  size_t q = 0;
  for (; q + 64 <= len; q += 64) {
    const SixtyFour u = blurSixtyFour(kernel, n, taps, q);
    storeSixteen(dst + q, u.g0);
    storeSixteen(dst + q + 16, u.g1);
    storeSixteen(dst + q + 32, u.g2);
    storeSixteen(dst + q + 48, u.g3);
  }
  return q;
}

XIMAGE_AVX512 size_t blurSharpenRun512(const float* kernel, int n, const uint8_t* const* taps,
                                       uint8_t* o, size_t len, float amount) {
  const __m512 a = _mm512_set1_ps(amount);
  size_t q = 0;
  for (; q + 64 <= len; q += 64) {
    const SixtyFour u = blurSixtyFour(kernel, n, taps, q);
    uint8_t* p = o + q;
    // All four groups are read before any is written.
    const __m512i r0 = sharpenSixteen(p, u.g0, a);
    const __m512i r1 = sharpenSixteen(p + 16, u.g1, a);
    const __m512i r2 = sharpenSixteen(p + 32, u.g2, a);
    const __m512i r3 = sharpenSixteen(p + 48, u.g3, a);
    storeSixteen(p, r0);
    storeSixteen(p + 16, r1);
    storeSixteen(p + 32, r2);
    storeSixteen(p + 48, r3);
  }
  return q;
}

}  // namespace

XIMAGE_AVX2 size_t BlurRunAvx2(const float* kernel, int n, const uint8_t* const* taps, uint8_t* dst,
                               size_t len) {
  size_t q = haveAvx512() ? blurRun512(kernel, n, taps, dst, len) : 0;
  for (; q + 32 <= len; q += 32) {
    const ThirtyTwo u = blurThirtyTwo(kernel, n, taps, q);
    _mm256_storeu_si256((__m256i*)(dst + q), packBytes(u.g0, u.g1, u.g2, u.g3));
  }
  return q;
}

XIMAGE_AVX2 size_t BlurSharpenRunAvx2(const float* kernel, int n, const uint8_t* const* taps,
                                      uint8_t* o, size_t len, float amount) {
  const __m256 a = _mm256_set1_ps(amount);
  size_t q = haveAvx512() ? blurSharpenRun512(kernel, n, taps, o, len, amount) : 0;
  for (; q + 32 <= len; q += 32) {
    const ThirtyTwo u = blurThirtyTwo(kernel, n, taps, q);
    uint8_t* p = o + q;
    const __m256i r = packBytes(sharpenEight(p, u.g0, a), sharpenEight(p + 8, u.g1, a),
                                sharpenEight(p + 16, u.g2, a), sharpenEight(p + 24, u.g3, a));
    _mm256_storeu_si256((__m256i*)p, r);
  }
  return q;
}

#else

size_t BlurRunAvx2(const float*, int, const uint8_t* const*, uint8_t*, size_t) { return 0; }
size_t BlurSharpenRunAvx2(const float*, int, const uint8_t* const*, uint8_t*, size_t, float) { return 0; }

#endif

}  // namespace ximage_wide

#if defined(XIMAGE_QUIET_INTRINSICS)
#pragma GCC diagnostic pop
#endif
