// CxImage::Flip: mirror the picture top to bottom by exchanging whole rows.
#include <cstdlib>
#include <cstring>

#include "ximage/ximage.h"

// Exchange row i with row height - 1 - i for the lower half of the rows.
bool CxImage::Flip(bool bFlipSelection, bool bFlipAlpha) {
  if (pDib == nullptr) return false;
  uint8_t* buff = (uint8_t*)malloc(info.dwEffWidth);
  if (buff == nullptr) return false;

  uint8_t* iSrc = GetBits(head.biHeight - 1);
  uint8_t* iDst = GetBits(0);
  for (int32_t i = 0; i < head.biHeight / 2; ++i) {
    memcpy(buff, iSrc, info.dwEffWidth);
    memcpy(iSrc, iDst, info.dwEffWidth);
    memcpy(iDst, buff, info.dwEffWidth);
    iSrc -= info.dwEffWidth;
    iDst += info.dwEffWidth;
  }
  free(buff);

  // Selection and alpha planes are one byte a pixel, width bytes a row.
  size_t w = (size_t)head.biWidth;
  uint8_t* planes[2] = {bFlipSelection ? pSelection : nullptr, bFlipAlpha ? pAlpha : nullptr};
  for (uint8_t* plane : planes) {
    if (plane == nullptr) continue;
    uint8_t* row = (uint8_t*)malloc(w);
    if (row == nullptr) continue;
    for (int32_t i = 0; i < head.biHeight / 2; ++i) {
      uint8_t* a = plane + w * (size_t)i;
      uint8_t* b = plane + w * (size_t)(head.biHeight - 1 - i);
      memcpy(row, a, w);
      memcpy(a, b, w);
      memcpy(b, row, w);
    }
    free(row);
  }
  return true;
}
