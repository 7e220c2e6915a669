// Image toolkit timings on a card: the quarter turn, the BMP decode of a
// front-end page, and the JPEG encode against libjpeg driven directly on the
// same pixels (the toolkit should add no real overhead to it).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "ximage/ximage.h"

namespace {

// A card-like picture: smooth gradients with some fine detail.
void paintCard(CxImage& img) {
  uint32_t w = img.GetWidth(), h = img.GetHeight();
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < h; y++) {
    uint8_t* row = img.GetBits(y);
    for (uint32_t x = 0; x < w; x++) {
      seed = seed * 1103515245u + 12345u;
      uint8_t noise = (uint8_t)((seed >> 16) & 0x0F);
      row[3 * x] = (uint8_t)(x * 255 / w + noise);
      row[3 * x + 1] = (uint8_t)(y * 255 / h);
      row[3 * x + 2] = (uint8_t)(((x / 40 + y / 40) & 1) ? 220 : 30 + noise);
    }
  }
}

// A front-end style 24-bit BMP of the image (54-byte header, padded rows).
std::vector<uint8_t> bmpOf(CxImage& img) {
  uint8_t* buf = nullptr;
  int32_t size = 0;
  img.Encode(buf, size, CXIMAGE_FORMAT_BMP);
  std::vector<uint8_t> out(buf, buf + size);
  free(buf);
  return out;
}

void BM_RotateRightCard(benchmark::State& state) {
  CxImage src;
  src.Create(643, 1013, 24, 0);
  paintCard(src);
  for (auto _ : state) {
    CxImage dst;
    src.RotateRight(&dst);
    benchmark::DoNotOptimize(dst.GetBits(0));
  }
}
BENCHMARK(BM_RotateRightCard)->Unit(benchmark::kMillisecond);

void BM_BmpDecodeCard(benchmark::State& state) {
  CxImage src;
  src.Create(643, 1013, 24, 0);
  paintCard(src);
  std::vector<uint8_t> bmp = bmpOf(src);
  for (auto _ : state) {
    CxImage img;
    img.Create(643, 1013, 24, 1);
    bool ok = img.Decode(bmp.data(), (uint32_t)bmp.size(), CXIMAGE_FORMAT_BMP);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bmp.size());
}
BENCHMARK(BM_BmpDecodeCard)->Unit(benchmark::kMillisecond);

void BM_JpegEncodeCardToolkit(benchmark::State& state) {
  CxImage card;
  card.Create(1013, 643, 24, 0);
  paintCard(card);
  card.SetJpegQuality(100);
  card.SetXDPI(300);
  card.SetYDPI(300);
  size_t bytes = 0;
  for (auto _ : state) {
    uint8_t* buf = nullptr;
    int32_t size = 0;
    card.Encode(buf, size, CXIMAGE_FORMAT_JPG);
    bytes = (size_t)size;
    free(buf);
  }
  state.counters["jpeg_bytes"] = (double)bytes;
}
BENCHMARK(BM_JpegEncodeCardToolkit)->Unit(benchmark::kMillisecond);

// The same pixels, top row first in red-green-blue order, handed to libjpeg
// with the same settings and its own memory destination.
void BM_JpegEncodeCardLibjpeg(benchmark::State& state) {
  CxImage card;
  card.Create(1013, 643, 24, 0);
  paintCard(card);
  const uint32_t w = 1013, h = 643;
  std::vector<uint8_t> rgb((size_t)w * 3 * h);
  for (uint32_t r = 0; r < h; r++) {
    const uint8_t* src = card.GetBits(h - 1 - r);
    uint8_t* dst = &rgb[(size_t)r * w * 3];
    for (uint32_t x = 0; x < w; x++) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  size_t bytes = 0;
  for (auto _ : state) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, FALSE);
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    cinfo.density_unit = 1;
    cinfo.X_density = 300;
    cinfo.Y_density = 300;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = &rgb[(size_t)cinfo.next_scanline * w * 3];
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    bytes = outSize;
    free(out);
  }
  state.counters["jpeg_bytes"] = (double)bytes;
}
BENCHMARK(BM_JpegEncodeCardLibjpeg)->Unit(benchmark::kMillisecond);

}  // namespace
