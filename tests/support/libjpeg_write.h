// Plain libjpeg over rows of samples, top row first: the reference the toolkit's JPEG writer
// is compared with, and the panels the preview and backend tests are given.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <jpeglib.h>  // after cstdio, which it needs

// Three samples a pixel (red, green, blue) or one (grey); a JFIF density in dots per inch
// when dpiX is not 0; the first component sampled two by two when lumaTwoByTwo.
inline std::vector<uint8_t> LibjpegWrite(const std::vector<uint8_t>& samples, int w, int h,
                                         bool grey, int quality, int dpiX = 0, int dpiY = 0,
                                         bool lumaTwoByTwo = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = JDIMENSION(w), cinfo.image_height = JDIMENSION(h);
  cinfo.input_components = grey ? 1 : 3, cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, FALSE);
  if (lumaTwoByTwo) cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 2;
  if (dpiX != 0) cinfo.density_unit = 1, cinfo.X_density = UINT16(dpiX), cinfo.Y_density = UINT16(dpiY);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(&samples[size_t(cinfo.next_scanline) * w * (grey ? 1 : 3)]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + size);
  free(out);
  return bytes;
}
