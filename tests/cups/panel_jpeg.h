// Pictures drawn by a function of the pixel, as panel JPEG files (preview and backend tests).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>
#include <jpeglib.h>  // after cstdio, which it needs

#include "sim/preview/preview.h"
using Rgb = std::vector<uint8_t>;

// A picture whose pixel (x, y) is colour(x, y).
inline cardpreview::RgbImage Picture(int w, int h, const std::function<Rgb(int, int)>& colour) {
  cardpreview::RgbImage img{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = colour(x, y);
      std::copy(c.begin(), c.end(), img.at(x, y));
    }
  return img;
}

// The picture as a JPEG file of quality 100, in colour or (its red channel) greyscale.
inline std::vector<uint8_t> Jpeg(const cardpreview::RgbImage& img, bool grey = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = JDIMENSION(img.width), info.image_height = JDIMENSION(img.height);
  info.input_components = grey ? 1 : 3, info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(size_t(img.width) * 3);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width * (grey ? 1 : 3); ++x) row[x] = img.at(0, y)[grey ? 3 * x : x];
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> bytes(out, out + size);
  free(out);
  return bytes;
}
