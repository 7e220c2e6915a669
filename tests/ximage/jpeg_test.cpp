// JPEG writing: the bytes of libjpeg driven directly, and failures with their messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "tests/support/libjpeg_write.h"
#include "tests/ximage/ximage_test_util.h"
#include "ximage/ximage.h"
#include "ximage/xmemfile.h"

using namespace ximgtest;
namespace {
// libjpeg driven directly with the toolkit's settings (4:2:0, density in dots per inch cut to
// 16 bits) on the image's pixels, turned top row first and red-green-blue (or grey) by hand.
std::vector<uint8_t> referenceJpeg(CxImage& img, int quality, bool grey) {
  const uint32_t w = img.GetWidth(), h = img.GetHeight();
  std::vector<uint8_t> samples;
  for (uint32_t r = 0; r < h; r++)
    for (uint32_t x = 0; x < w; x++) {
      const RGBQUAD c = img.GetPixelColor((int)x, (int)(h - 1 - r));
      if (grey) samples.push_back(c.rgbRed);
      else samples.insert(samples.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
  return LibjpegWrite(samples, int(w), int(h), grey, quality, int(img.GetXDPI()),
                      int(img.GetYDPI()), true);
}
}  // namespace
// Every row width around the 8- and 16-pixel blocks; a fresh image's quality 90 and resolution
// 96; a density over 16 bits; an 8-bit grey ramp as one component.
TEST(JpegWriting, BytesEqualLibjpegOnTheSamePixels) {
  const struct { uint32_t w, h; int quality, dpi; bool grey; } cases[] = {
      {1, 9, 100, 300, false},  {2, 9, 100, 300, false},  {4, 9, 100, 300, false},
      {5, 9, 100, 300, false},  {6, 9, 100, 300, false},  {7, 9, 100, 300, false},
      {16, 9, 100, 300, false}, {17, 9, 100, 300, false}, {1013, 643, 100, 300, false},
      {64, 48, 90, 96, false},  {20, 10, 90, 96, true},   {30, 20, 100, 70000, false}};
  for (const auto& c : cases) {
    CxImage img = patterned(c.w, c.h);
    if (c.grey) {
      makeImage(img, c.w, c.h, 8);
      for (uint32_t y = 0; y < c.h; y++)
        for (uint32_t x = 0; x < c.w; x++) img.SetPixelIndex(x, y, (uint8_t)(y >= 5 ? 200 : 40 + x));
    }
    if (c.quality != 90) img.SetJpegQuality((uint8_t)c.quality);
    if (c.dpi != 96) img.SetXDPI(c.dpi), img.SetYDPI(c.dpi);
    const std::vector<uint8_t> ours = encodeAs(img, CXIMAGE_FORMAT_JPG);
    ASSERT_FALSE(ours.empty()) << img.GetLastError();
    EXPECT_EQ(ours, referenceJpeg(img, c.quality, c.grey)) << c.w << " wide, quality " << c.quality;
  }
}
TEST(JpegWriting, RefusalsAndLibraryErrorsBecomeFalseWithTheirMessage) {
  // Other palettes, and a 4-bit grey ramp (two pixels a byte), are no JPEG samples.
  CxImage colours, nibbles, empty;
  makeImage(colours, 4, 4, 8);
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
  EXPECT_TRUE(encodeAs(empty, CXIMAGE_FORMAT_JPG).empty());
  EXPECT_STREQ(empty.GetLastError(), "null image!!!");
  // A library error becomes false with the library's message and leaves the image.
  CxImage img = patterned(300, 300);
  const std::vector<uint8_t> before = rowsOf(img);
  struct FullDisk : CxMemFile {
    size_t Write(const void*, size_t, size_t) override { return 0; }
  } disk;
  disk.Open();
  EXPECT_FALSE(img.Encode(&disk, CXIMAGE_FORMAT_JPG));
  jpeg_error_mgr err;
  jpeg_std_error(&err);
  EXPECT_STREQ(img.GetLastError(), err.jpeg_message_table[JERR_FILE_WRITE]);
  EXPECT_EQ(rowsOf(img), before);
  EXPECT_EQ(encodeAs(img, CXIMAGE_FORMAT_JPG), referenceJpeg(img, 90, false));
}
