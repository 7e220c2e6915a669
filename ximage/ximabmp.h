// CxImageBMP: the BMP codec (uncompressed 1, 4, 8 and 24 bits per pixel).
//
// Fuzzing entry point: CxImage::Decode(data, size, CXIMAGE_FORMAT_BMP) takes
// any bytes; FuzzDecodeBmp below wraps it for a libFuzzer target and also
// re-encodes a decoded image so every pixel byte is read once.
#pragma once

#include "ximage/ximage.h"

// Bytes of the BMP file header that precedes the info header.
#define BMP_FILEHEADER_SIZE 14
// 'BM' read as a little-endian 16-bit number.
#define BMP_TYPE 0x4D42

class CxImageBMP : public CxImage {
 public:
  CxImageBMP() : CxImage(CXIMAGE_FORMAT_BMP) {}
  ~CxImageBMP() override {}

  bool Encode(CxFile* hFile);
  bool Decode(CxFile* hFile);

  // Read an info header of any supported size into pdib; the stream is left
  // at the first byte after it (the palette).
  bool DibReadBitmapInfo(CxFile* fh, BITMAPINFOHEADER* pdib);
};

// Decode arbitrary bytes as a BMP; true when they decoded.
bool FuzzDecodeBmp(const uint8_t* data, size_t size);
