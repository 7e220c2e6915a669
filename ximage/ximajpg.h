// CxImageJPG: the JPEG encoder over libjpeg (library version 62).
// Decoding JPEG data is not provided: CxImage::Decode with format 3 fails
// with "Decode: Unknown or wrong format".
#pragma once

#include "ximage/ximage.h"

// Codec option bits of the JPEG slot (none is set by the card pipeline).
#define ENCODE_BASELINE 0x1
#define ENCODE_ARITHMETIC 0x2
#define ENCODE_GRAYSCALE 0x4
#define ENCODE_OPTIMIZE 0x8
#define ENCODE_PROGRESSIVE 0x10
#define ENCODE_SMOOTHING 0x40
#define ENCODE_SUBSAMPLE_422 0x1000
#define ENCODE_SUBSAMPLE_444 0x2000

class CxImageJPG : public CxImage {
 public:
  CxImageJPG() : CxImage(CXIMAGE_FORMAT_JPG), m_exif(nullptr), m_nSmoothing(0) {}
  ~CxImageJPG() override {}

  bool Encode(CxFile* hFile);

 protected:
  void* m_exif;      // EXIF reader: never present here
  int m_nSmoothing;  // smoothing factor used with ENCODE_SMOOTHING
};
