// Writes a binary PPM picture (P6, 8 bits) as a baseline JPEG file, so the
// Printer Application's test can print a JPEG without imaging tools.
//
//   vkr-test-jpeg IN.ppm OUT.jpg
#include <cstdio>
#include <vector>

#include <jpeglib.h>

int main(int argc, char* argv[]) {
  if (argc != 3) return fprintf(stderr, "usage: vkr-test-jpeg IN.ppm OUT.jpg\n"), 2;
  FILE* in = fopen(argv[1], "rb");
  int width = 0, height = 0, maxval = 0;
  if (in == nullptr || fscanf(in, "P6 %d %d %d", &width, &height, &maxval) != 3 || maxval != 255 ||
      width <= 0 || height <= 0 || width > 20000 || height > 20000 || fgetc(in) == EOF)
    return fprintf(stderr, "vkr-test-jpeg: %s is no 8-bit P6 picture\n", argv[1]), 1;
  std::vector<unsigned char> pixels(size_t(width) * size_t(height) * 3);
  if (fread(pixels.data(), 1, pixels.size(), in) != pixels.size())
    return fprintf(stderr, "vkr-test-jpeg: %s is cut short\n", argv[1]), 1;
  fclose(in);
  FILE* out = fopen(argv[2], "wb");
  if (out == nullptr) return perror(argv[2]), 1;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &pixels[size_t(cinfo.next_scanline) * size_t(width) * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return fclose(out) == 0 ? 0 : 1;
}
