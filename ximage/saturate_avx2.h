// Colour space 1 saturation eight pixels at a time on processors with AVX2,
// sixteen with AVX-512 (used by saturate.cpp, and by its tests to check
// each path on its own).
#ifndef XIMAGE_SATURATE_AVX2_H
#define XIMAGE_SATURATE_AVX2_H

#include <cstdint>

namespace ximage_wide {

// Whether this processor runs SaturateHslRowAvx2.
bool HaveAvx2();

// Saturate the leading whole groups of eight pixels of one row of `width`
// blue-green-red pixels in place, the saturation moved by `shift` (already
// limited to -512..512) and kept in 0..255; returns how many pixels it did
// (a multiple of eight). Every byte equals that of the one-pixel conversion.
// Reads and writes only the row's 3 * width bytes.
uint32_t SaturateHslRowAvx2(uint8_t* row, uint32_t width, int shift);

// Whether this processor runs SaturateHslRowAvx512 (AVX-512 F and BW).
bool HaveAvx512();

// The same for the whole row, sixteen pixels a lane group; returns width.
uint32_t SaturateHslRowAvx512(uint8_t* row, uint32_t width, int shift);

}  // namespace ximage_wide

#endif
