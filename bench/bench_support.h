// What the card benchmarks share: libjpeg's own encode of a card image, the
// yardstick the toolkit and the pipeline are measured against, and the clock.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "ximage/ximage.h"

namespace vkrbench {

// Plain libjpeg with the toolkit's settings (4:2:0, JFIF density in dots per
// inch) over rows of three bytes a pixel in the given colour order, the top
// row at top and each next one stride bytes on; returns the JPEG size.
inline unsigned long LibjpegEncodeRows(const uint8_t* top, ptrdiff_t stride, int width,
                                       int height, J_COLOR_SPACE order, int dpiX, int dpiY,
                                       int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = order;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, FALSE);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(dpiX);
  cinfo.Y_density = static_cast<UINT16>(dpiY);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {const_cast<uint8_t*>(top + stride * ptrdiff_t(cinfo.next_scanline))};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  free(out);
  return size;
}

// The same for a toolkit image, reading its blue-green-red rows directly
// (stored bottom-up), top row first.
inline unsigned long LibjpegEncode(const CxImage& image, int quality) {
  const int height = int(image.GetHeight());
  return LibjpegEncodeRows(image.GetBits(image.GetHeight() - 1), -ptrdiff_t(image.GetEffWidth()),
                           int(image.GetWidth()), height, JCS_EXT_BGR, int(image.GetXDPI()),
                           int(image.GetYDPI()), quality);
}

// The benchmark thread's CPU time in seconds: the machine is shared, and
// CPU time keeps other processes' load out of the figures.
inline double Now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace vkrbench
