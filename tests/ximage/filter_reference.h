// Plain, slow evaluations of the blur, unsharp and saturation arithmetic, written
// straight from their definitions, for the filter tests to compare the image
// operations against byte for byte.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "ximage/ximage.h"

namespace filtref {

// Kernel of the Gaussian blur for a radius, one step at a time.
inline std::vector<float> kernel(float radius) {
  const float sigma = std::fabs(radius * 0.5f) + 0.25f;
  const float r2 = sigma + sigma;
  int n = (int)(2.0 * std::ceil((double)r2 - 0.5) + 1.0);
  if (n <= 0) n = 1;
  std::vector<float> k((size_t)n, 0.0f);
  const int c = n / 2;
  const float qf = sigma * r2;
  const double q = qf;
  for (int i = c + 1; i < n; i++) {
    const float basef = (float)i - std::floor((float)c) - 0.5f;
    const double base = basef;
    float sum = 0.0f;
    for (int j = 1; j <= 50; j++) {
      const double x = j * 0.02 + base;
      if (x <= (double)r2) {
        const float e = (float)std::exp(-x * x / q);
        sum = sum + e;
      }
    }
    k[i] = sum / 50.0f;
  }
  for (int i = 0; i < c; i++) k[i] = k[n - 1 - i];
  float centre = 0.0f;
  for (int j = 0; j <= 50; j++) {
    const double x = j * 0.02 + 0.5;
    const float e = (float)std::exp(-x * x / q);
    centre = centre + e;
  }
  k[c] = centre / 51.0f;
  float total = 0.0f;
  for (int i = 0; i < n; i++) total = total + k[i];
  for (int i = 0; i < n; i++) k[i] = k[i] / total;
  return k;
}

// One line of `count` samples, `b` bytes each. Each output sums the taps
// whose sample lies on the line, in tap order; where taps fall off an end the
// sum is divided by the weight of the taps that remain.
inline void blurLine(const std::vector<float>& kern, const uint8_t* src, uint8_t* dst, int count, int b) {
  const int n = (int)kern.size();
  const int m = n / 2;
  for (int k = 0; k < count; k++) {
    for (int i = 0; i < b; i++) {
      float scale = 0.0f;
      float sum = 0.0f;
      for (int t = 0; t < n; t++) {
        const int j = k + t - m;
        if (j < 0 || j >= count) continue;
        scale = scale + kern[t];
        const float prod = (float)src[j * b + i] * kern[t];
        sum = sum + prod;
      }
      const bool whole = k >= m && k < count - m;
      dst[k * b + i] = (uint8_t)(whole ? sum + 0.5 : sum / scale + 0.5);
    }
  }
}

// Pixel bytes of an image, row by row without padding.
struct Plane {
  int width = 0;
  int height = 0;
  int bytes = 0;  // per pixel
  std::vector<uint8_t> data;
  uint8_t& at(int x, int y, int i) { return data[((size_t)y * width + x) * bytes + i]; }
  uint8_t at(int x, int y, int i) const { return data[((size_t)y * width + x) * bytes + i]; }
};

inline Plane planeOf(const CxImage& img) {
  Plane p;
  p.width = (int)img.GetWidth();
  p.height = (int)img.GetHeight();
  p.bytes = img.GetBpp() / 8;
  p.data.resize((size_t)p.width * p.height * p.bytes);
  for (int y = 0; y < p.height; y++) {
    const uint8_t* row = img.GetBits((uint32_t)y);
    for (int k = 0; k < p.width * p.bytes; k++) p.data[(size_t)y * p.width * p.bytes + k] = row[k];
  }
  return p;
}

// Rows first, then each column gathered into a buffer, blurred and scattered back.
inline Plane gaussianBlur(const Plane& in, float radius) {
  const std::vector<float> kern = kernel(radius);
  const int b = in.bytes;
  Plane tx = in;
  for (int y = 0; y < in.height; y++) {
    const size_t off = (size_t)y * in.width * b;
    blurLine(kern, in.data.data() + off, tx.data.data() + off, in.width, b);
  }
  Plane ty = in;
  std::vector<uint8_t> col((size_t)in.height * b);
  std::vector<uint8_t> out((size_t)in.height * b);
  for (int x = 0; x < in.width; x++) {
    for (int y = 0; y < in.height; y++) {
      for (int i = 0; i < b; i++) col[(size_t)y * b + i] = tx.at(x, y, i);
    }
    blurLine(kern, col.data(), out.data(), in.height, b);
    for (int y = 0; y < in.height; y++) {
      for (int i = 0; i < b; i++) ty.at(x, y, i) = out[(size_t)y * b + i];
    }
  }
  return ty;
}

inline Plane unsharpMask(const Plane& in, float radius, float amount, int threshold) {
  Plane u = gaussianBlur(in, radius);
  for (size_t k = 0; k < in.data.size(); k++) {
    const int o = in.data[k];
    const int diff = o - (int)u.data[k];
    if (std::abs(diff) < threshold) {
      u.data[k] = (uint8_t)o;
    } else {
      const float prod = (float)diff * amount;
      const float v = (float)o + prod;
      int t = (int)v;
      if (t < 0) t = 0;
      if (t > 255) t = 255;
      u.data[k] = (uint8_t)t;
    }
  }
  return u;
}

// Random test picture mixing noise, flat patches and ramps, so that every
// branch of the blur (steep and flat neighbourhoods) is met.
inline void fillMixed(CxImage& img, std::mt19937& rng) {
  const int b = img.GetBpp() / 8;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> kind(0, 3);
  const int mode = kind(rng);
  const int flat = byte(rng);
  for (uint32_t y = 0; y < img.GetHeight(); y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < img.GetWidth(); x++) {
      for (int i = 0; i < b; i++) {
        int v;
        switch (mode) {
          case 0: v = byte(rng); break;                                              // noise
          case 1: v = (x + y) % 3 == 0 ? flat : byte(rng) % 4 == 0 ? 255 : 0; break;  // hard edges
          case 2: v = (int)((x * 37 + y * 11 + i * 70) % 256); break;                // ramps
          default: v = (x / 3 + y / 2) % 2 ? flat : 255 - flat; break;              // blocks
        }
        row[x * b + i] = (uint8_t)v;
      }
    }
  }
}

}  // namespace filtref
