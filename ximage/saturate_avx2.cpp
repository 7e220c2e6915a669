// Colour space 1 saturation, eight pixels per step with AVX2, sixteen with
// AVX-512 where the processor has it.
//
// Each lane goes through the steps of the one-pixel conversion (RGBtoHSL,
// the saturation shift, HSLtoRGB with HueToRGB) in the same order and at the
// same precision, so every byte is the one the plain conversion gives:
// - the integer divisions of RGBtoHSL are single-precision divisions of exact
//   integers truncated toward zero. A quotient q = x / d (x < 2^17, d <= 510)
//   that is not a whole number lies at least 1 / d below the next one, far
//   more than the rounding of the division can cover for such small
//   quotients, so the truncated float quotient is the integer quotient;
// - the float steps of HSLtoRGB are the same operations in the same order
//   (the build neither contracts nor reorders float arithmetic), and the
//   selections pick what the branches would compute.
#include "ximage/saturate_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start their results from an undefined value
// that they overwrite whole, and warn about it wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#define XIMAGE_QUIET_INTRINSICS 1
#endif
#include <immintrin.h>
#define XIMAGE_HAVE_AVX2_PATH 1
#endif

namespace ximage_wide {

#if defined(XIMAGE_HAVE_AVX2_PATH)

bool HaveAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

bool HaveAvx512() {
  static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return avx512;
}

namespace {

#define XIMAGE_AVX2 __attribute__((target("avx2")))

// HueToRGB in eight lanes, then 255 times the result truncated to a byte
// (values outside 0..255 kept at the limits, as truncToByte does).
XIMAGE_AVX2 inline __m256i hueChannel8(__m256 m1, __m256 m2, __m256 hue) {
  const __m256 v360 = _mm256_set1_ps(360.0f);
  const __m256 over = _mm256_cmp_ps(hue, v360, _CMP_GT_OQ);
  const __m256 under = _mm256_cmp_ps(hue, _mm256_setzero_ps(), _CMP_LT_OQ);
  __m256 h = _mm256_blendv_ps(hue, _mm256_add_ps(hue, v360), under);
  h = _mm256_blendv_ps(h, _mm256_sub_ps(hue, v360), over);
  const __m256 below60 = _mm256_cmp_ps(h, _mm256_set1_ps(60.0f), _CMP_LT_OQ);
  const __m256 below180 = _mm256_cmp_ps(h, _mm256_set1_ps(180.0f), _CMP_LT_OQ);
  const __m256 below240 = _mm256_cmp_ps(h, _mm256_set1_ps(240.0f), _CMP_LT_OQ);
  // The rising ramp uses the hue, the falling one 240 - hue: one division serves both.
  const __m256 x = _mm256_blendv_ps(_mm256_sub_ps(_mm256_set1_ps(240.0f), h), h, below60);
  const __m256 ramp =
      _mm256_add_ps(m1, _mm256_div_ps(_mm256_mul_ps(_mm256_sub_ps(m2, m1), x), _mm256_set1_ps(60.0f)));
  __m256 c = _mm256_blendv_ps(m1, ramp, below240);
  c = _mm256_blendv_ps(c, m2, below180);
  c = _mm256_blendv_ps(c, ramp, below60);
  c = _mm256_mul_ps(_mm256_set1_ps(255.0f), c);
  // max(c, 0) turns a NaN into 0, as truncToByte does.
  c = _mm256_min_ps(_mm256_max_ps(c, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
  return _mm256_cvttps_epi32(c);
}

// Truncated quotient of exact non-negative integers held as floats.
XIMAGE_AVX2 inline __m256i quotient(__m256 x, __m256 d) { return _mm256_cvttps_epi32(_mm256_div_ps(x, d)); }

// Eight pixels, one a lane as blue | green << 8 | red << 16, converted.
XIMAGE_AVX2 __m256i saturate8(__m256i in, __m256i shift) {
  const __m256i ff = _mm256_set1_epi32(0xFF);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i B = _mm256_and_si256(in, ff);
  const __m256i G = _mm256_and_si256(_mm256_srli_epi32(in, 8), ff);
  const __m256i R = _mm256_and_si256(_mm256_srli_epi32(in, 16), ff);

  // RGBtoHSL.
  const __m256i cMax = _mm256_max_epi32(_mm256_max_epi32(R, G), B);
  const __m256i cMin = _mm256_min_epi32(_mm256_min_epi32(R, G), B);
  const __m256i sum = _mm256_add_epi32(cMax, cMin);
  const __m256i L = _mm256_srli_epi32(_mm256_add_epi32(sum, one), 1);
  const __m256i d = _mm256_sub_epi32(cMax, cMin);
  const __m256i grey = _mm256_cmpeq_epi32(d, zero);
  const __m256i lowLight = _mm256_cmpgt_epi32(_mm256_set1_epi32(128), L);  // L <= 127
  const __m256i s = _mm256_blendv_epi8(_mm256_sub_epi32(_mm256_set1_epi32(510), sum), sum, lowLight);
  // Greys divide by 1 instead of 0; their quotients are replaced below.
  const __m256 dF = _mm256_cvtepi32_ps(_mm256_max_epi32(d, one));
  const __m256 sF = _mm256_cvtepi32_ps(_mm256_max_epi32(s, one));
  const __m256i S = _mm256_andnot_si256(
      grey, quotient(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(d), _mm256_set1_ps(255.0f)),
                                   _mm256_cvtepi32_ps(_mm256_srli_epi32(s, 1))),
                     sF));
  // The hue needs two of the three channel deltas: with red the largest
  // blue - green, with green red - blue, else green - red.
  const __m256i isR = _mm256_cmpeq_epi32(R, cMax);
  const __m256i isG = _mm256_andnot_si256(isR, _mm256_cmpeq_epi32(G, cMax));
  const __m256i first = _mm256_blendv_epi8(_mm256_blendv_epi8(G, R, isG), B, isR);
  const __m256i second = _mm256_blendv_epi8(_mm256_blendv_epi8(R, B, isG), G, isR);
  const __m256i base =
      _mm256_blendv_epi8(_mm256_blendv_epi8(_mm256_set1_epi32(170), _mm256_set1_epi32(85), isG), zero, isR);
  const __m256 k42 = _mm256_set1_ps(42.0f);
  const __m256 halfD = _mm256_cvtepi32_ps(_mm256_srli_epi32(d, 1));
  const __m256i q1 = quotient(
      _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(cMax, first)), k42), halfD), dF);
  const __m256i q2 = quotient(
      _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(cMax, second)), k42), halfD), dF);
  const __m256i hue = _mm256_and_si256(_mm256_sub_epi32(_mm256_add_epi32(base, q1), q2), ff);
  const __m256i H = _mm256_blendv_epi8(hue, _mm256_set1_epi32(170), grey);
  // The saturation shift, kept in 0..255.
  const __m256i S2 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(S, shift), zero), ff);

  // HSLtoRGB.
  const __m256 v255 = _mm256_set1_ps(255.0f);
  const __m256 l = _mm256_div_ps(_mm256_cvtepi32_ps(L), v255);
  const __m256 sat = _mm256_div_ps(_mm256_cvtepi32_ps(S2), v255);
  const __m256 h = _mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(H), _mm256_set1_ps(360.0f)), v255);
  const __m256 lowL = _mm256_cmp_ps(l, _mm256_set1_ps(0.5f), _CMP_LE_OQ);
  const __m256 m2 = _mm256_blendv_ps(_mm256_sub_ps(_mm256_add_ps(l, sat), _mm256_mul_ps(l, sat)),
                                     _mm256_mul_ps(l, _mm256_add_ps(_mm256_set1_ps(1.0f), sat)), lowL);
  const __m256 m1 = _mm256_sub_ps(_mm256_add_ps(l, l), m2);
  const __m256 v120 = _mm256_set1_ps(120.0f);
  const __m256i r = hueChannel8(m1, m2, _mm256_add_ps(h, v120));
  const __m256i g = hueChannel8(m1, m2, h);
  const __m256i b = hueChannel8(m1, m2, _mm256_sub_ps(h, v120));
  const __m256i colour = _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)), _mm256_slli_epi32(r, 16));
  // No saturation left: all three channels are l * 255.
  const __m256i greyValue = _mm256_cvttps_epi32(
      _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(l, v255), _mm256_setzero_ps()), v255));
  const __m256i greyColour = _mm256_mullo_epi32(greyValue, _mm256_set1_epi32(0x010101));
  return _mm256_blendv_epi8(colour, greyColour, _mm256_cmpeq_epi32(S2, zero));
}

#define XIMAGE_AVX512 __attribute__((target("avx512f,avx512bw")))

// HueToRGB in sixteen lanes, as hueChannel8.
XIMAGE_AVX512 inline __m512i hueChannel16(__m512 m1, __m512 m2, __m512 hue) {
  const __m512 v360 = _mm512_set1_ps(360.0f);
  const __mmask16 over = _mm512_cmp_ps_mask(hue, v360, _CMP_GT_OQ);
  const __mmask16 under = _mm512_cmp_ps_mask(hue, _mm512_setzero_ps(), _CMP_LT_OQ);
  __m512 h = _mm512_mask_blend_ps(under, hue, _mm512_add_ps(hue, v360));
  h = _mm512_mask_blend_ps(over, h, _mm512_sub_ps(hue, v360));
  const __mmask16 below60 = _mm512_cmp_ps_mask(h, _mm512_set1_ps(60.0f), _CMP_LT_OQ);
  const __mmask16 below180 = _mm512_cmp_ps_mask(h, _mm512_set1_ps(180.0f), _CMP_LT_OQ);
  const __mmask16 below240 = _mm512_cmp_ps_mask(h, _mm512_set1_ps(240.0f), _CMP_LT_OQ);
  const __m512 x = _mm512_mask_blend_ps(below60, _mm512_sub_ps(_mm512_set1_ps(240.0f), h), h);
  const __m512 ramp =
      _mm512_add_ps(m1, _mm512_div_ps(_mm512_mul_ps(_mm512_sub_ps(m2, m1), x), _mm512_set1_ps(60.0f)));
  __m512 c = _mm512_mask_blend_ps(below240, m1, ramp);
  c = _mm512_mask_blend_ps(below180, c, m2);
  c = _mm512_mask_blend_ps(below60, c, ramp);
  c = _mm512_mul_ps(_mm512_set1_ps(255.0f), c);
  c = _mm512_min_ps(_mm512_max_ps(c, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
  return _mm512_cvttps_epi32(c);
}

// Truncated quotient of exact non-negative integers held as floats, sixteen lanes.
XIMAGE_AVX512 inline __m512i quotient16(__m512 x, __m512 d) { return _mm512_cvttps_epi32(_mm512_div_ps(x, d)); }

// Sixteen pixels, one a lane as blue | green << 8 | red << 16, converted as saturate8 does.
XIMAGE_AVX512 inline __m512i saturate16(__m512i in, __m512i shift) {
  const __m512i ff = _mm512_set1_epi32(0xFF);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i B = _mm512_and_si512(in, ff);
  const __m512i G = _mm512_and_si512(_mm512_srli_epi32(in, 8), ff);
  const __m512i R = _mm512_srli_epi32(in, 16);  // the top byte of a lane is 0

  // RGBtoHSL.
  const __m512i cMax = _mm512_max_epi32(_mm512_max_epi32(R, G), B);
  const __m512i cMin = _mm512_min_epi32(_mm512_min_epi32(R, G), B);
  const __m512i sum = _mm512_add_epi32(cMax, cMin);
  const __m512i L = _mm512_srli_epi32(_mm512_add_epi32(sum, one), 1);
  const __m512i d = _mm512_sub_epi32(cMax, cMin);
  const __mmask16 grey = _mm512_cmpeq_epi32_mask(d, zero);
  const __mmask16 lowLight = _mm512_cmplt_epi32_mask(L, _mm512_set1_epi32(128));  // L <= 127
  const __m512i s = _mm512_mask_blend_epi32(lowLight, _mm512_sub_epi32(_mm512_set1_epi32(510), sum), sum);
  const __m512 dF = _mm512_cvtepi32_ps(_mm512_max_epi32(d, one));
  const __m512 sF = _mm512_cvtepi32_ps(_mm512_max_epi32(s, one));
  const __m512i S = _mm512_maskz_mov_epi32(
      (__mmask16)~grey, quotient16(_mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(d), _mm512_set1_ps(255.0f)),
                                                 _mm512_cvtepi32_ps(_mm512_srli_epi32(s, 1))),
                                   sF));
  const __mmask16 isR = _mm512_cmpeq_epi32_mask(R, cMax);
  const __mmask16 isG = (__mmask16)(~isR & _mm512_cmpeq_epi32_mask(G, cMax));
  const __m512i first = _mm512_mask_blend_epi32(isR, _mm512_mask_blend_epi32(isG, G, R), B);
  const __m512i second = _mm512_mask_blend_epi32(isR, _mm512_mask_blend_epi32(isG, R, B), G);
  const __m512i base = _mm512_mask_blend_epi32(
      isR, _mm512_mask_blend_epi32(isG, _mm512_set1_epi32(170), _mm512_set1_epi32(85)), zero);
  const __m512 k42 = _mm512_set1_ps(42.0f);
  const __m512 halfD = _mm512_cvtepi32_ps(_mm512_srli_epi32(d, 1));
  const __m512i q1 = quotient16(
      _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_sub_epi32(cMax, first)), k42), halfD), dF);
  const __m512i q2 = quotient16(
      _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_sub_epi32(cMax, second)), k42), halfD), dF);
  const __m512i hue = _mm512_and_si512(_mm512_sub_epi32(_mm512_add_epi32(base, q1), q2), ff);
  const __m512i H = _mm512_mask_blend_epi32(grey, hue, _mm512_set1_epi32(170));
  const __m512i S2 = _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(S, shift), zero), ff);

  // HSLtoRGB.
  const __m512 v255 = _mm512_set1_ps(255.0f);
  const __m512 l = _mm512_div_ps(_mm512_cvtepi32_ps(L), v255);
  const __m512 sat = _mm512_div_ps(_mm512_cvtepi32_ps(S2), v255);
  const __m512 h = _mm512_div_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(H), _mm512_set1_ps(360.0f)), v255);
  const __mmask16 lowL = _mm512_cmp_ps_mask(l, _mm512_set1_ps(0.5f), _CMP_LE_OQ);
  const __m512 m2 = _mm512_mask_blend_ps(lowL, _mm512_sub_ps(_mm512_add_ps(l, sat), _mm512_mul_ps(l, sat)),
                                         _mm512_mul_ps(l, _mm512_add_ps(_mm512_set1_ps(1.0f), sat)));
  const __m512 m1 = _mm512_sub_ps(_mm512_add_ps(l, l), m2);
  const __m512 v120 = _mm512_set1_ps(120.0f);
  const __m512i r = hueChannel16(m1, m2, _mm512_add_ps(h, v120));
  const __m512i g = hueChannel16(m1, m2, h);
  const __m512i b = hueChannel16(m1, m2, _mm512_sub_ps(h, v120));
  const __m512i colour = _mm512_or_si512(_mm512_or_si512(b, _mm512_slli_epi32(g, 8)), _mm512_slli_epi32(r, 16));
  const __m512i greyValue = _mm512_cvttps_epi32(
      _mm512_min_ps(_mm512_max_ps(_mm512_mul_ps(l, v255), _mm512_setzero_ps()), v255));
  const __m512i greyColour = _mm512_mullo_epi32(greyValue, _mm512_set1_epi32(0x010101));
  return _mm512_mask_blend_epi32(_mm512_cmpeq_epi32_mask(S2, zero), colour, greyColour);
}

// Sixteen pixels are the first 48 bytes of a register: the bytes of the
// first n pixels of a group (n up to 16).
XIMAGE_AVX512 inline __mmask64 groupBytes(uint32_t n) { return n >= 16 ? 0xFFFFFFFFFFFFull : (1ull << (3 * n)) - 1; }

// Eight groups of sixteen pixels as one step, the processor overlapping
// their long chains of dependent steps: the first n pixels (n up to 128)
// from p, converted and written back. Eight groups equal to `lastIn` lane
// for lane (flat areas) take `lastOut`; a step that converts leaves its last
// group and result there.
XIMAGE_AVX512 inline void step512(uint8_t* p, uint32_t n, __m512i shift, __m512i& lastIn, __m512i& lastOut) {
  // Pixels 4k..4k+3 (dwords 3k..3k+2) go to the 128-bit lane k, then one
  // pixel a 32-bit lane; back the other way.
  const __m512i toLanes = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
  // Byte picks within each 128-bit lane, four to a dword (0x80: a zero byte).
  const __m512i spread = _mm512_setr4_epi32((int)0x80020100, (int)0x80050403, (int)0x80080706, (int)0x800B0A09);
  const __m512i pack = _mm512_setr4_epi32(0x04020100, 0x09080605, 0x0E0D0C0A, (int)0x80808080);
  const __m512i fromLanes = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
  __mmask64 bytes[8];
  for (int k = 0; k < 8; k++) bytes[k] = groupBytes(n > 16u * k ? n - 16u * k : 0);
  __m512i v[8];
  __mmask16 same = 0xFFFF;
  for (int k = 0; k < 8; k++) {
    v[k] = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(toLanes, _mm512_maskz_loadu_epi8(bytes[k], p + 48 * k)),
                               spread);
    same &= _mm512_cmpeq_epi32_mask(v[k], lastIn);
  }
  if (same == 0xFFFF) {
    for (int k = 0; k < 8; k++) v[k] = lastOut;
  } else {
    lastIn = v[7];
    for (int k = 0; k < 8; k++) v[k] = saturate16(v[k], shift);
    lastOut = v[7];
  }
  for (int k = 0; k < 8; k++)
    _mm512_mask_storeu_epi8(p + 48 * k, bytes[k],
                            _mm512_permutexvar_epi32(fromLanes, _mm512_shuffle_epi8(v[k], pack)));
}

}  // namespace

XIMAGE_AVX512 uint32_t SaturateHslRowAvx512(uint8_t* row, uint32_t width, int shift) {
  const __m512i shiftV = _mm512_set1_epi32(shift);
  __m512i lastIn = _mm512_set1_epi32(-1);  // matches no pixel
  __m512i lastOut = _mm512_setzero_si512();
  uint32_t x = 0;
  for (; x + 128 <= width; x += 128) step512(row + (size_t)x * 3, 128, shiftV, lastIn, lastOut);
  // The rest of the row as one step; its bytes are all that it touches.
  if (x < width) step512(row + (size_t)x * 3, width - x, shiftV, lastIn, lastOut);
  return width;
}

XIMAGE_AVX2 uint32_t SaturateHslRowAvx2(uint8_t* row, uint32_t width, int shift) {
  // Pixels 0..3 from the first 12 bytes, 4..7 from bytes 12..23 (bytes 4..15
  // of the second load), one a 32-bit lane.
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128,  //
                                          4, 5, 6, -128, 7, 8, 9, -128, 10, 11, 12, -128, 13, 14, 15, -128);
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m256i shiftV = _mm256_set1_epi32(shift);
  // The last group converted: flat areas repeat it and reuse its result.
  __m256i lastIn = _mm256_set1_epi32(-1);  // matches no pixel
  __m256i lastOut = _mm256_setzero_si256();
  uint32_t x = 0;
  uint8_t* p = row;
  for (; x + 8 <= width; x += 8, p += 24) {
    const __m128i lo = _mm_loadu_si128((const __m128i*)p);
    const __m128i hi = _mm_loadu_si128((const __m128i*)(p + 8));
    const __m256i in = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), spread);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(in, lastIn)) != -1) {
      lastOut = saturate8(in, shiftV);
      lastIn = in;
    }
    const __m256i out = _mm256_shuffle_epi8(lastOut, pack);
    // Bytes 12..15 of the first store are garbage until the second store
    // writes them; nothing past the group is touched.
    _mm_storeu_si128((__m128i*)p, _mm256_castsi256_si128(out));
    const __m128i upper = _mm256_extracti128_si256(out, 1);
    _mm_storel_epi64((__m128i*)(p + 12), upper);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(upper, 8));
    __builtin_memcpy(p + 20, &last, 4);
  }
  return x;
}

#else

bool HaveAvx2() { return false; }
bool HaveAvx512() { return false; }
uint32_t SaturateHslRowAvx2(uint8_t*, uint32_t, int) { return 0; }
uint32_t SaturateHslRowAvx512(uint8_t*, uint32_t, int) { return 0; }

#endif

}  // namespace ximage_wide

#if defined(XIMAGE_QUIET_INTRINSICS)
#pragma GCC diagnostic pop
#endif
