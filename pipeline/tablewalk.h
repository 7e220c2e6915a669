// Byte-table walks over card image rows, 64 bytes a step on processors with
// AVX-512 byte permutes, byte by byte elsewhere; both give the same bytes.
#ifndef PIPELINE_TABLEWALK_H
#define PIPELINE_TABLEWALK_H

#include <cstddef>
#include <cstdint>

// Replace each of the n bytes at p by table[byte].
void MapBytes(uint8_t* p, size_t n, const uint8_t* table);

// Replace each channel byte of the `width` blue-green-red pixels of a row by
// table[byte], except in white pixels (all three bytes 255), which stay.
void MapNonWhitePixels(uint8_t* row, int width, const uint8_t* table);

#endif
