// Card preview: colour panel, black printed over it, uncoated area hatched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "sim/preview/preview.h"

using cardpreview::RgbImage;
using cardpreview::SidePanels;

namespace {

// A picture whose pixel (x, y) is colour(x, y).
RgbImage picture(int w, int h, const std::function<std::vector<uint8_t>(int, int)>& colour) {
  RgbImage img;
  img.width = w;
  img.height = h;
  img.pixels.resize(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto c = colour(x, y);
      std::copy(c.begin(), c.end(), img.at(x, y));
    }
  return img;
}

// Encodes a picture as a JPEG file (quality 100), in colour or greyscale.
std::vector<uint8_t> jpeg(const RgbImage& img, bool grey = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = JDIMENSION(img.width);
  info.image_height = JDIMENSION(img.height);
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(size_t(img.width) * 3);
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* src = img.at(0, y);
    if (grey)
      for (int x = 0; x < img.width; ++x) row[x] = src[3 * x];
    else
      row.assign(src, src + img.width * 3);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> bytes(out, out + size);
  free(out);
  return bytes;
}

// Reads a PNG file back with libpng: pixels and the Description text.
bool readPng(const std::string& path, RgbImage& img, std::string& description) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  img.width = int(png_get_image_width(png, info));
  img.height = int(png_get_image_height(png, info));
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB || png_get_bit_depth(png, info) != 8) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    return false;
  }
  img.pixels.resize(size_t(img.width) * img.height * 3);
  for (int y = 0; y < img.height; ++y) png_read_row(png, img.at(0, y), nullptr);
  png_read_end(png, info);
  png_textp texts = nullptr;
  int count = 0;
  png_get_text(png, info, &texts, &count);
  for (int i = 0; i < count; ++i)
    if (std::string(texts[i].key) == "Description") description = texts[i].text;
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(file);
  return true;
}

bool isHatch(const uint8_t* p) {
  return p[0] == cardpreview::kHatchColour[0] && p[1] == cardpreview::kHatchColour[1] &&
         p[2] == cardpreview::kHatchColour[2];
}

bool near(const uint8_t* p, int r, int g, int b, int tolerance = 6) {
  return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "/preview_" + std::to_string(getpid()) + "_" + name;
}

const auto kRed = [](int, int) { return std::vector<uint8_t>{200, 30, 40}; };
const auto kBlackBar = [](int x, int y) {
  bool bar = x >= 20 && x < 60 && y >= 10 && y < 20;
  return std::vector<uint8_t>(3, bar ? 0 : 255);
};
const auto kFullCoat = [](int, int) { return std::vector<uint8_t>(3, 0); };
// Coat everywhere but rows 30 to 39 (a stripe left bare).
const auto kStripeBare = [](int, int y) { return std::vector<uint8_t>(3, y >= 30 && y < 40 ? 255 : 0); };

}  // namespace

TEST(CardPreview, BlackPanelIsPrintedOverTheColourPanel) {
  RgbImage colour = picture(100, 60, kRed), black = picture(100, 60, kBlackBar), overlay = picture(100, 60, kFullCoat);
  RgbImage out = cardpreview::ComposeCardPreview(&colour, &black, &overlay);
  ASSERT_EQ(out.width, 100);
  ASSERT_EQ(out.height, 60);
  EXPECT_TRUE(near(out.at(20, 10), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(59, 19), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(60, 19), 200, 30, 40, 0));
  EXPECT_TRUE(near(out.at(19, 10), 200, 30, 40, 0));
  // Coated all over: nothing is hatched.
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) ASSERT_FALSE(isHatch(out.at(x, y))) << x << "," << y;
}

TEST(CardPreview, OnlyTheUncoatedAreaIsHatched) {
  RgbImage colour = picture(100, 60, kRed), overlay = picture(100, 60, kStripeBare);
  RgbImage out = cardpreview::ComposeCardPreview(&colour, nullptr, &overlay);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const bool bare = y >= 30 && y < 40;
      const bool stripe = (x + y) % cardpreview::kHatchPeriod < cardpreview::kHatchWidth;
      ASSERT_EQ(isHatch(out.at(x, y)), bare && stripe) << x << "," << y;
      if (!isHatch(out.at(x, y))) {
        ASSERT_TRUE(near(out.at(x, y), 200, 30, 40, 0)) << x << "," << y;
      }
    }
  }
}

TEST(CardPreview, SideWithoutColourPanelShowsBlackOnWhite) {
  RgbImage black = picture(100, 60, kBlackBar);
  RgbImage out = cardpreview::ComposeCardPreview(nullptr, &black, nullptr);
  ASSERT_EQ(out.width, 100);
  EXPECT_TRUE(near(out.at(30, 15), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(0, 0), 255, 255, 255, 0));
  EXPECT_TRUE(near(out.at(99, 59), 255, 255, 255, 0));
}

TEST(CardPreview, SmallerPanelsCountAsWhiteOutsideTheirArea) {
  RgbImage colour = picture(100, 60, kRed);
  RgbImage black = picture(10, 10, kFullCoat);   // black over the top-left corner only
  RgbImage overlay = picture(50, 30, kFullCoat); // coat on the top-left quarter only
  RgbImage out = cardpreview::ComposeCardPreview(&colour, &black, &overlay);
  ASSERT_EQ(out.width, 100);
  ASSERT_EQ(out.height, 60);
  EXPECT_TRUE(near(out.at(5, 5), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(11, 5), 200, 30, 40, 0));
  // Outside the overlay panel the card is bare, so hatched on its stripes.
  EXPECT_TRUE(isHatch(out.at(99, 59 - 2)) || isHatch(out.at(98, 59 - 2)) || isHatch(out.at(97, 59 - 2)));
  EXPECT_FALSE(isHatch(out.at(0, 0)));
}

TEST(CardPreview, NoPanelGivesNoPicture) {
  RgbImage empty;
  EXPECT_TRUE(cardpreview::ComposeCardPreview(nullptr, nullptr, nullptr).empty());
  EXPECT_TRUE(cardpreview::ComposeCardPreview(&empty, &empty, &empty).empty());
  std::string error;
  EXPECT_FALSE(cardpreview::WriteCardPreview(SidePanels(), tempPath("none.png"), error));
  EXPECT_EQ(error, "the card side has no panel");
}

TEST(CardPreview, DecodesColourAndGreyscaleJpegPanels) {
  RgbImage colour = picture(64, 32, kRed), bars = picture(64, 32, kBlackBar);
  std::string error;
  RgbImage decoded;
  std::vector<uint8_t> file = jpeg(colour);
  ASSERT_TRUE(cardpreview::DecodeJpeg(file.data(), file.size(), decoded, error)) << error;
  EXPECT_EQ(decoded.width, 64);
  EXPECT_EQ(decoded.height, 32);
  EXPECT_TRUE(near(decoded.at(10, 10), 200, 30, 40));
  file = jpeg(bars, true);
  ASSERT_TRUE(cardpreview::DecodeJpeg(file.data(), file.size(), decoded, error)) << error;
  EXPECT_TRUE(near(decoded.at(30, 15), 0, 0, 0));
  EXPECT_TRUE(near(decoded.at(5, 5), 255, 255, 255));
}

TEST(CardPreview, BrokenJpegIsRefusedWithAReason) {
  std::vector<uint8_t> file = jpeg(picture(64, 32, kRed));
  std::string error;
  RgbImage decoded;
  std::vector<uint8_t> junk(100, 0x42);
  EXPECT_FALSE(cardpreview::DecodeJpeg(junk.data(), junk.size(), decoded, error));
  EXPECT_EQ(error.rfind("JPEG: ", 0), 0u) << error;
  EXPECT_TRUE(decoded.empty());
  EXPECT_FALSE(cardpreview::DecodeJpeg(nullptr, 0, decoded, error));
  // A file cut in half still decodes (libjpeg pads it) or fails, but never
  // reads past its end; the header alone is refused.
  EXPECT_FALSE(cardpreview::DecodeJpeg(file.data(), 20, decoded, error));

  SidePanels panels;
  panels.colour = file;
  panels.overlay = junk;
  const std::string path = tempPath("broken.png");
  unlink(path.c_str());
  EXPECT_FALSE(cardpreview::WriteCardPreview(panels, path, error));
  EXPECT_EQ(error.rfind("overlay panel: ", 0), 0u) << error;
  struct stat info;
  EXPECT_NE(stat(path.c_str(), &info), 0) << "no preview is written for a broken side";
}

TEST(CardPreview, WritesAPngThatReadsBackPixelForPixel) {
  SidePanels panels;
  panels.colour = jpeg(picture(120, 80, kRed));
  panels.black = jpeg(picture(120, 80, kBlackBar), true);
  panels.overlay = jpeg(picture(120, 80, kStripeBare));
  const std::string path = tempPath("side.png");
  std::string error;
  ASSERT_TRUE(cardpreview::WriteCardPreview(panels, path, error)) << error;

  RgbImage back;
  std::string description;
  ASSERT_TRUE(readPng(path, back, description));
  EXPECT_EQ(back.width, 120);
  EXPECT_EQ(back.height, 80);
  EXPECT_EQ(description, "Card side as printed: colour panel, black panel over it, overlay coat except where hatched");
  EXPECT_TRUE(near(back.at(30, 15), 0, 0, 0, 0));
  EXPECT_TRUE(near(back.at(100, 70), 200, 30, 40));
  int hatched = 0;
  for (int y = 0; y < back.height; ++y)
    for (int x = 0; x < back.width; ++x)
      if (isHatch(back.at(x, y))) {
        ++hatched;
        ASSERT_TRUE(y >= 30 && y < 40) << "hatch outside the bare stripe at row " << y;
      }
  EXPECT_EQ(hatched, 10 * 120 * cardpreview::kHatchWidth / cardpreview::kHatchPeriod);
  unlink(path.c_str());
}

TEST(CardPreview, UnwritablePathIsReported) {
  SidePanels panels;
  panels.colour = jpeg(picture(16, 16, kRed));
  std::string error;
  EXPECT_FALSE(cardpreview::WriteCardPreview(panels, "/nonexistent-folder/side.png", error));
  EXPECT_NE(error.find("cannot create /nonexistent-folder/side.png"), std::string::npos) << error;
}

TEST(CardPreviewCommand, WritesThePreviewOfTheGivenPanels) {
  const std::string colour = tempPath("c.jpg"), black = tempPath("k.jpg"), out = tempPath("cli.png");
  writeFile(colour, jpeg(picture(40, 20, kRed)));
  writeFile(black, jpeg(picture(40, 20, kFullCoat), true));
  unlink(out.c_str());
  const std::string bin = CARDPREVIEW_BIN;
  EXPECT_EQ(std::system((bin + " --colour " + colour + " --black " + black + " " + out + " >/dev/null").c_str()), 0);
  RgbImage back;
  std::string description;
  ASSERT_TRUE(readPng(out, back, description));
  EXPECT_EQ(back.width, 40);
  EXPECT_TRUE(near(back.at(5, 5), 0, 0, 0, 0)) << "the black panel covers the card";
  EXPECT_EQ(description, "Card side as printed: colour panel, black panel over it, no overlay");

  // No panel, an unknown flag, a missing file: usage or failure, no picture.
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " " + out + " 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " --bogus x " + out + " 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " --colour /nonexistent.jpg " + out + " 2>/dev/null").c_str())), 1);
  for (const std::string& path : {colour, black, out}) unlink(path.c_str());
}
