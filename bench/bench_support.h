// What the card benchmarks share: libjpeg's own encode of a card image, the
// yardstick the toolkit and the pipeline are measured against, and the clock.
#pragma once

#include <time.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "ximage/ximage.h"

namespace vkrbench {

// Plain libjpeg with the toolkit's settings (4:2:0, JFIF density in dots per
// inch), reading the image's blue-green-red rows directly, top row first;
// returns the JPEG size.
inline unsigned long LibjpegEncode(const CxImage& image, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = image.GetWidth();
  cinfo.image_height = image.GetHeight();
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, FALSE);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(image.GetXDPI());
  cinfo.Y_density = static_cast<UINT16>(image.GetYDPI());
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {image.GetBits(image.GetHeight() - 1 - cinfo.next_scanline)};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  free(out);
  return size;
}

// The benchmark thread's CPU time in seconds: the machine is shared, and
// CPU time keeps other processes' load out of the figures.
inline double Now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace vkrbench
