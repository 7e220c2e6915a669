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
// Red with a blue block in the panel's first 20 columns of its first 10 rows.
const auto kRedBlueCorner = [](int x, int y) {
  return x < 20 && y < 10 ? std::vector<uint8_t>{20, 40, 210} : std::vector<uint8_t>{200, 30, 40};
};
const auto kBlackBar = [](int x, int y) {
  bool bar = x >= 20 && x < 60 && y >= 10 && y < 20;
  return std::vector<uint8_t>(3, bar ? 0 : 255);
};
const auto kFullCoat = [](int, int) { return std::vector<uint8_t>(3, 0); };
// Coat everywhere but panel rows 30 to 39 (a stripe left bare).
const auto kStripeBare = [](int, int y) { return std::vector<uint8_t>(3, y >= 30 && y < 40 ? 255 : 0); };

bool onStripe(int x, int y) { return (x + y) % cardpreview::kHatchPeriod < cardpreview::kHatchWidth; }

}  // namespace

// A 100 x 60 side seen as a person holds the card: every panel turned half a
// turn, so the panel's first columns and rows end up at the right and the
// bottom; the hatching runs along the picture as seen.
TEST(CardPreview, ShowsTheSideTurnedHalfATurnFromItsPanels) {
  RgbImage colour = picture(100, 60, kRedBlueCorner), black = picture(100, 60, kBlackBar),
           overlay = picture(100, 60, kStripeBare);
  RgbImage out = cardpreview::ComposeCardPreview(&colour, &black, &overlay);
  ASSERT_EQ(out.width, 100);
  ASSERT_EQ(out.height, 60);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* px = out.at(x, y);
      if (y >= 20 && y < 30 && onStripe(x, y)) {  // panel rows 39 down to 30
        ASSERT_TRUE(isHatch(px)) << x << "," << y;
      } else if (x >= 40 && x < 80 && y >= 40 && y < 50) {  // the bar, panel (20..59, 10..19)
        ASSERT_TRUE(near(px, 0, 0, 0, 0)) << x << "," << y;
      } else if (x >= 80 && y >= 50) {  // the blue corner, panel (0..19, 0..9)
        ASSERT_TRUE(near(px, 20, 40, 210, 0)) << x << "," << y;
      } else {
        ASSERT_TRUE(near(px, 200, 30, 40, 0)) << x << "," << y;
      }
    }
  }
}

TEST(CardPreview, SideWithoutColourPanelShowsBlackOnWhite) {
  RgbImage black = picture(100, 60, kBlackBar);
  RgbImage out = cardpreview::ComposeCardPreview(nullptr, &black, nullptr);
  ASSERT_EQ(out.width, 100);
  EXPECT_TRUE(near(out.at(40, 40), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(79, 49), 0, 0, 0, 0));
  EXPECT_TRUE(near(out.at(30, 15), 255, 255, 255, 0));
  EXPECT_TRUE(near(out.at(0, 0), 255, 255, 255, 0));
  EXPECT_TRUE(near(out.at(99, 59), 255, 255, 255, 0));
}

TEST(CardPreview, SmallerPanelsCountAsWhiteOutsideTheirArea) {
  RgbImage colour = picture(100, 60, kRed);
  RgbImage black = picture(10, 10, kFullCoat);   // black over the panel's first corner only
  RgbImage overlay = picture(50, 30, kFullCoat); // coat on that corner's quarter only
  RgbImage out = cardpreview::ComposeCardPreview(&colour, &black, &overlay);
  ASSERT_EQ(out.width, 100);
  ASSERT_EQ(out.height, 60);
  // Seen turned half a turn, that corner is the bottom-right one; outside
  // the overlay panel the card is bare, so hatched on its stripes.
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* px = out.at(x, y);
      if (x >= 90 && y >= 50) ASSERT_TRUE(near(px, 0, 0, 0, 0)) << x << "," << y;
      else if ((x < 50 || y < 30) && onStripe(x, y)) ASSERT_TRUE(isHatch(px)) << x << "," << y;
      else ASSERT_TRUE(near(px, 200, 30, 40, 0)) << x << "," << y;
    }
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

// Both sides are written as a person sees them: the front upright, the back
// after turning the card over its long edge, which is the same half turn of
// the panels (the printer turns the card over that edge to print the back).
TEST(CardPreview, WritesEachSideAsSeenToAPngThatReadsBack) {
  const struct {
    cardpreview::CardSide side;
    const char* description;
  } kSides[] = {
      {cardpreview::CardSide::kFront,
       "Card front as printed, seen upright: colour panel, black panel over it, overlay coat except where hatched"},
      {cardpreview::CardSide::kBack,
       "Card back as printed, seen after turning the card over its long edge: colour panel, black panel over "
       "it, overlay coat except where hatched"},
  };
  for (const auto& c : kSides) {
    SCOPED_TRACE(c.description);
    SidePanels panels;
    panels.colour = jpeg(picture(120, 80, kRed));
    panels.black = jpeg(picture(120, 80, kBlackBar), true);
    panels.overlay = jpeg(picture(120, 80, kStripeBare));
    panels.side = c.side;
    const std::string path = tempPath("side.png");
    std::string error;
    ASSERT_TRUE(cardpreview::WriteCardPreview(panels, path, error)) << error;

    RgbImage back;
    std::string description;
    ASSERT_TRUE(readPng(path, back, description));
    EXPECT_EQ(back.width, 120);
    EXPECT_EQ(back.height, 80);
    EXPECT_EQ(description, c.description);
    // The bar of panel columns 20..59, rows 10..19 is seen at 60..99, 60..69.
    int dark = 0;
    for (int y = 0; y < back.height; ++y)
      for (int x = 0; x < back.width; ++x)
        if (near(back.at(x, y), 0, 0, 0, 0)) {
          ++dark;
          ASSERT_TRUE(x >= 60 && x < 100 && y >= 60 && y < 70) << "black at " << x << "," << y;
        }
    EXPECT_EQ(dark, 40 * 10);
    EXPECT_TRUE(near(back.at(10, 75), 200, 30, 40));
    // The bare panel rows 30..39 are seen as rows 40..49.
    int hatched = 0;
    for (int y = 0; y < back.height; ++y)
      for (int x = 0; x < back.width; ++x)
        if (isHatch(back.at(x, y))) {
          ++hatched;
          ASSERT_TRUE(y >= 40 && y < 50) << "hatch outside the bare stripe at row " << y;
        }
    EXPECT_EQ(hatched, 10 * 120 * cardpreview::kHatchWidth / cardpreview::kHatchPeriod);
    unlink(path.c_str());
  }
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
  EXPECT_EQ(description, "Card front as printed, seen upright: colour panel, black panel over it, no overlay");
  EXPECT_EQ(std::system((bin + " --back --colour " + colour + " " + out + " >/dev/null").c_str()), 0);
  ASSERT_TRUE(readPng(out, back, description));
  EXPECT_TRUE(near(back.at(5, 5), 200, 30, 40)) << "no black panel this time";
  EXPECT_EQ(description,
            "Card back as printed, seen after turning the card over its long edge: colour panel, no black panel, "
            "no overlay");

  // No panel, an unknown flag, a missing file: usage or failure, no picture.
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " " + out + " 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " --bogus x " + out + " 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((bin + " --colour /nonexistent.jpg " + out + " 2>/dev/null").c_str())), 1);
  for (const std::string& path : {colour, black, out}) unlink(path.c_str());
}
