// CxImage::Rotate180 and CxImage::RotateRight: half and quarter turns built
// in a temporary image and moved into the target.
#include <cstring>

#include "ximage/ximage.h"

namespace {
// Edge of the square tiles RotateRight walks the result in.
const int32_t kRotateTile = 64;
}  // namespace

// Give a temporary this image's settings, a new size and this palette.
bool CxImage::PrepareTransformTarget(CxImage& tmp, uint32_t w, uint32_t h) const {
  tmp.CopyInfo(*this);
  tmp.Create(w, h, head.biBitCount, info.dwType);
  tmp.SetPalette(GetPalette(), 256);
  if (!tmp.IsValid()) return false;
  // The transforms write pixels only; the row padding starts out zero so a
  // later BMP dump never carries stale heap bytes.
  size_t used = ((size_t)tmp.head.biBitCount * w + 7) / 8;
  size_t pad = tmp.info.dwEffWidth - used;
  if (pad) {
    for (uint32_t row = 0; row < h; row++) memset(tmp.GetBits(row) + used, 0, pad);
  }
  return true;
}

// Turn the picture by 180 degrees.
bool CxImage::Rotate180(CxImage* iDst) {
  if (pDib == nullptr) return false;
  const int32_t wid = head.biWidth;
  const int32_t ht = head.biHeight;

  CxImage imgDest(0);
  if (!PrepareTransformTarget(imgDest, (uint32_t)wid, (uint32_t)ht)) {
    // Keep the picture rather than hand back an empty image as a success.
    SetError(imgDest.GetLastError());
    return false;
  }

  for (int32_t y = 0; y < ht; y++) {
    for (int32_t x = 0; x < wid; x++) {
      if (head.biClrUsed)
        imgDest.SetPixelIndex(wid - 1 - x, ht - 1 - y, BlindGetPixelIndex(x, y));
      else
        imgDest.SetPixelColor(wid - 1 - x, ht - 1 - y, BlindGetPixelColor(x, y, true), false);
    }
  }

  CxImage* target = iDst ? iDst : this;
  target->Transfer(imgDest, true);
  return true;
}

// Turn the picture by 90 degrees clockwise as shown: result (x, y) takes
// source (W - 1 - y, x) in stored coordinates.
bool CxImage::RotateRight(CxImage* iDst) {
  if (pDib == nullptr) return false;
  const int32_t srcW = head.biWidth;
  const int32_t srcH = head.biHeight;
  const int32_t newWidth = srcH;
  const int32_t newHeight = srcW;

  CxImage imgDest(0);
  if (!PrepareTransformTarget(imgDest, (uint32_t)newWidth, (uint32_t)newHeight)) {
    SetError(imgDest.GetLastError());
    return false;
  }

  const size_t srcEff = info.dwEffWidth;
  const size_t dstEff = imgDest.info.dwEffWidth;
  uint8_t* const srcBits = info.pImage;
  uint8_t* const dstBits = imgDest.info.pImage;
  const bool direct = head.biBitCount == 24;

  for (int32_t xs = 0; xs < newWidth; xs += kRotateTile) {
    const int32_t xEnd = (xs + kRotateTile < newWidth) ? xs + kRotateTile : newWidth;
    for (int32_t ys = 0; ys < newHeight; ys += kRotateTile) {
      const int32_t yEnd = (ys + kRotateTile < newHeight) ? ys + kRotateTile : newHeight;
      for (int32_t y = ys; y < yEnd; y++) {
        if (direct) {
          // One pointer along the result row, one down the source column.
          uint8_t* dst = dstBits + (size_t)y * dstEff + (size_t)xs * 3;
          const uint8_t* src = srcBits + (size_t)xs * srcEff + (size_t)(srcW - 1 - y) * 3;
          for (int32_t x = xs; x < xEnd; x++) {
            memcpy(dst, src, 3);
            dst += 3;
            src += srcEff;
          }
        } else {
          for (int32_t x = xs; x < xEnd; x++)
            imgDest.SetPixelIndex(x, y, BlindGetPixelIndex(srcW - 1 - y, x));
        }
      }
    }
  }

  CxImage* target = iDst ? iDst : this;
  target->Transfer(imgDest, true);
  return true;
}
