// Pictures drawn by a function of the pixel, as panel JPEG files (preview and backend tests).
#pragma once

#include <functional>
#include <vector>

#include "sim/preview/preview.h"
#include "tests/support/libjpeg_write.h"
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
  std::vector<uint8_t> samples;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width * (grey ? 1 : 3); ++x) samples.push_back(img.at(0, y)[grey ? 3 * x : x]);
  return LibjpegWrite(samples, img.width, img.height, grey, 100);
}
