// Byte-table walks over card image rows, 16 pixels a step on processors with
// AVX-512 byte permutes, pixel by pixel elsewhere; both give the same bytes.
// Source and destination may be the same row.
#ifndef PIPELINE_TABLEWALK_H
#define PIPELINE_TABLEWALK_H

#include <cstdint>

// dst pixel = each channel byte of the src pixel through table, for the
// `width` blue-green-red pixels of a row; white src pixels (all three bytes
// 255) are copied unchanged.
void MapNonWhitePixels(const uint8_t* src, uint8_t* dst, int width, const uint8_t* table);

// dst pixel = blue, green and red of the src pixel through their tables.
void MapPixels(const uint8_t* src, uint8_t* dst, int width, const uint8_t* blue,
               const uint8_t* green, const uint8_t* red);

#endif
