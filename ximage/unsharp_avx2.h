// The blur and sharpen runs of unsharp.cpp, 32 bytes per step on processors
// with AVX2, 64 with AVX-512 (used by unsharp.cpp only).
#ifndef XIMAGE_UNSHARP_AVX2_H
#define XIMAGE_UNSHARP_AVX2_H

#include <cstddef>
#include <cstdint>

namespace ximage_wide {

// Whether this processor runs the functions below (defined with the
// saturation's wide path).
bool HaveAvx2();

// dst[q] = round(sum over j < n of (float)taps[j][q] * kernel[j]), the sum
// formed from 0 in increasing j in single precision and rounded half up to
// a byte, for the leading whole groups of 32 bytes of q = 0 .. len - 1;
// returns how many bytes it did (a multiple of 32).
size_t BlurRunAvx2(const float* kernel, int n, const uint8_t* const* taps, uint8_t* dst, size_t len);

// The same blurred bytes u[q], used at once to sharpen o[q] in place:
// o + (o - u) * amount in single precision, truncated and kept in 0..255.
size_t BlurSharpenRunAvx2(const float* kernel, int n, const uint8_t* const* taps, uint8_t* o,
                          size_t len, float amount);

}  // namespace ximage_wide

#endif
