// CxImage::Resample: nearest-pixel resize (mode 1) with single-precision
// scale factors.
#include "ximage/ximage.h"

// Resize to newx x newy; only the nearest-pixel mode is built.
bool CxImage::Resample(int64_t newx, int64_t newy, int mode, CxImage* iDst) {
  if (newx == 0 || newy == 0) return false;
  if (pDib == nullptr) return false;
  if (newx < 0 || newy < 0 || newx > INT32_MAX || newy > INT32_MAX) {
    SetError("Resample: size out of range");
    return false;
  }
  if (mode != 1) {
    SetError("Resample: only mode 1 is supported");
    return false;
  }

  if (head.biWidth == newx && head.biHeight == newy) {
    if (iDst) iDst->Copy(*this, true, true, true);
    return true;
  }

  CxImage newImage(0);
  if (!PrepareTransformTarget(newImage, (uint32_t)newx, (uint32_t)newy)) {
    SetError(newImage.GetLastError());
    return false;
  }

  const float xScale = (float)head.biWidth / (float)newx;
  const float yScale = (float)head.biHeight / (float)newy;

  for (int32_t y = 0; y < (int32_t)newy; y++) {
    info.nProgress = (int32_t)(100 * (int64_t)y / newy);
    if (info.nEscape) break;
    const float fy = (float)y * yScale;
    const int32_t sy = (int32_t)fy;
    for (int32_t x = 0; x < (int32_t)newx; x++) {
      const float fx = (float)x * xScale;
      const int32_t sx = (int32_t)fx;
      newImage.SetPixelColor(x, y, GetPixelColor(sx, sy, true), false);
    }
  }

  CxImage* target = iDst ? iDst : this;
  target->Transfer(newImage, true);
  return true;
}
