// JPEG encoder: bytes equal to libjpeg driven directly, output read back with
// libjpeg's decoder (size, JFIF density, quality tables, orientation, colour
// order), and failures turned into false results with the library's message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"
#include "ximage/xmemfile.h"

using namespace ximgtest;

namespace {

struct Decoded {
  bool ok = false;
  int width = 0, height = 0, components = 0;
  int densityUnit = -1, xDensity = 0, yDensity = 0;
  std::vector<int> quant0;
  std::vector<uint8_t> pixels;  // top row first, as the decoder delivers
};

Decoded readJpeg(const std::vector<uint8_t>& bytes) {
  Decoded d;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(bytes.data()), (unsigned long)bytes.size());
  if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
    d.densityUnit = cinfo.density_unit;
    d.xDensity = cinfo.X_density;
    d.yDensity = cinfo.Y_density;
    for (int i = 0; i < DCTSIZE2; i++) d.quant0.push_back(cinfo.quant_tbl_ptrs[0]->quantval[i]);
    jpeg_start_decompress(&cinfo);
    d.width = (int)cinfo.output_width;
    d.height = (int)cinfo.output_height;
    d.components = cinfo.output_components;
    const size_t stride = (size_t)d.width * d.components;
    d.pixels.resize(stride * d.height);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = &d.pixels[cinfo.output_scanline * stride];
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    d.ok = true;
  }
  jpeg_destroy_decompress(&cinfo);
  return d;
}

std::vector<uint8_t> encodeJpeg(CxImage& img) { return encodeAs(img, CXIMAGE_FORMAT_JPG); }

void expectNear(const Decoded& d, int x, int yFromTop, int r, int g, int b) {
  const uint8_t* p = &d.pixels[((size_t)yFromTop * d.width + x) * 3];
  EXPECT_NEAR(p[0], r, 6) << x << "," << yFromTop;
  EXPECT_NEAR(p[1], g, 6) << x << "," << yFromTop;
  EXPECT_NEAR(p[2], b, 6) << x << "," << yFromTop;
}

// libjpeg driven directly with the toolkit's settings (4:2:0, density in dpi)
// on the image's pixels, turned top row first and red-green-blue by hand.
std::vector<uint8_t> referenceJpeg(CxImage& img, int quality) {
  const uint32_t w = img.GetWidth(), h = img.GetHeight();
  std::vector<uint8_t> samples;
  for (uint32_t r = 0; r < h; r++)
    for (uint32_t x = 0; x < w; x++) {
      const RGBQUAD c = img.GetPixelColor((int)x, (int)(h - 1 - r));
      samples.insert(samples.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
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
  jpeg_set_quality(&cinfo, quality, FALSE);
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 2;
  cinfo.density_unit = 1;
  cinfo.X_density = (UINT16)img.GetXDPI();
  cinfo.Y_density = (UINT16)img.GetYDPI();
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &samples[(size_t)cinfo.next_scanline * w * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + outSize);
  free(out);
  return bytes;
}

}  // namespace

TEST(JpegEncode, BytesEqualLibjpegOnTheSamePixelsForEveryRowWidth) {
  for (uint32_t w : {1u, 2u, 4u, 5u, 6u, 7u, 16u, 17u, 1013u}) {
    CxImage img = patterned(w, 9);
    img.SetJpegQuality(100);
    img.SetXDPI(300);
    img.SetYDPI(300);
    std::vector<uint8_t> ours = encodeJpeg(img);
    ASSERT_FALSE(ours.empty()) << w;
    EXPECT_EQ(ours, referenceJpeg(img, 100)) << "width " << w;
  }
}

TEST(JpegEncode, CardImageIsAJfifWithItsSizeAndDensityInDpi) {
  // Quadrants as shown (top = last stored row): red, green over blue, white.
  CxImage card;
  card.Create(1013, 643, 24, 0);
  const RGBQUAD colours[4] = {rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255), rgb(255, 255, 255)};
  for (uint32_t y = 0; y < 643; y++)
    for (uint32_t x = 0; x < 1013; x++) card.SetPixelColor((int)x, (int)y, colours[(y < 321) * 2 + (x >= 506)]);
  card.SetXDPI(300);
  card.SetYDPI(300);
  card.SetJpegQuality(100);
  std::vector<uint8_t> jpg = encodeJpeg(card);
  ASSERT_GT(jpg.size(), 4u) << card.GetLastError();
  EXPECT_EQ(jpg[0], 0xFF);
  EXPECT_EQ(jpg[1], 0xD8);
  EXPECT_EQ(jpg[jpg.size() - 2], 0xFF);
  EXPECT_EQ(jpg[jpg.size() - 1], 0xD9);

  Decoded d = readJpeg(jpg);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 1013);
  EXPECT_EQ(d.height, 643);
  EXPECT_EQ(d.components, 3);
  EXPECT_EQ(d.densityUnit, 1);
  EXPECT_EQ(d.xDensity, 300);
  EXPECT_EQ(d.yDensity, 300);
  // The picture's top row comes first, in red-green-blue order.
  expectNear(d, 100, 50, 255, 0, 0);
  expectNear(d, 900, 50, 0, 255, 0);
  expectNear(d, 100, 600, 0, 0, 255);
  expectNear(d, 900, 600, 255, 255, 255);
  EXPECT_EQ(px(card, 0, 642), (std::vector<uint8_t>{0, 0, 255}));  // the image is only read
}

TEST(JpegEncode, QualityHundredAndNinetyGiveTheirTables) {
  CxImage img = patterned(64, 48);
  std::vector<uint8_t> q90 = encodeJpeg(img);  // a fresh image's 90
  img.SetJpegQuality(100);
  std::vector<uint8_t> q100 = encodeJpeg(img);
  Decoded d90 = readJpeg(q90), d100 = readJpeg(q100);
  ASSERT_TRUE(d90.ok);
  ASSERT_TRUE(d100.ok);
  for (int q : d100.quant0) EXPECT_EQ(q, 1);
  EXPECT_EQ(d90.quant0[0], 3);  // luminance DC 16 scaled by 20 %: (16 * 20 + 50) / 100
  EXPECT_GT(q100.size(), q90.size());
  EXPECT_EQ(d90.xDensity, 96);  // the default resolution
}

TEST(JpegEncode, GreyRampIsOneComponentOtherPalettesAreRefused) {
  CxImage grey;
  grey.Create(20, 10, 8, 0);
  setGreyRamp(grey);
  for (uint32_t y = 0; y < 10; y++)
    for (uint32_t x = 0; x < 20; x++) grey.SetPixelIndex((int)x, (int)y, y >= 5 ? 200 : 40);
  Decoded d = readJpeg(encodeJpeg(grey));
  ASSERT_TRUE(d.ok) << grey.GetLastError();
  EXPECT_EQ(d.components, 1);
  EXPECT_NEAR(d.pixels[0], 200, 6);          // top row
  EXPECT_NEAR(d.pixels[9 * 20 + 3], 40, 6);  // bottom row

  // Other palettes, and a 4-bit grey ramp (two pixels a byte), are no JPEG samples.
  CxImage colours, nibbles, empty;
  colours.Create(4, 4, 8, 0);
  setGreyRamp(colours);
  colours.GetPalette()[3].rgbRed = 99;
  nibbles.Create(40, 4, 4, 0);
  setGreyRamp(nibbles, 16);
  ASSERT_TRUE(nibbles.IsGrayScale());
  for (CxImage* img : {&colours, &nibbles}) {
    uint8_t* buf = nullptr;
    int32_t size = 0;
    EXPECT_FALSE(img->Encode(buf, size, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(img->GetLastError(), "JPEG can save only RGB or GreyScale images");
    EXPECT_EQ(buf, nullptr);
  }
  EXPECT_TRUE(encodeJpeg(empty).empty());
  EXPECT_STREQ(empty.GetLastError(), "null image!!!");
}

TEST(JpegEncode, LibraryErrorsBecomeFalseWithTheLibrarysMessage) {
  CxImage img = patterned(300, 300);
  img.SetJpegQuality(100);
  struct FullDisk : CxMemFile {
    size_t Write(const void*, size_t, size_t) override { return 0; }
  } disk;
  disk.Open();
  EXPECT_FALSE(img.Encode(&disk, CXIMAGE_FORMAT_JPG));
  jpeg_error_mgr err;
  jpeg_std_error(&err);
  EXPECT_STREQ(img.GetLastError(), err.jpeg_message_table[JERR_FILE_WRITE]);

  // The image is untouched and encodes normally afterwards; a density over
  // 16 bits is cut to its low 16 bits.
  img.SetXDPI(70000);
  Decoded d = readJpeg(encodeJpeg(img));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 300);
  EXPECT_EQ(d.xDensity, 70000 & 0xFFFF);
}
