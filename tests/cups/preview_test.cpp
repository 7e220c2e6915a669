// Card preview: colour panel, black printed over it, uncoated area hatched,
// all turned half a turn into the side as a person sees it.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "panel_jpeg.h"

using cardpreview::RgbImage;
using cardpreview::SidePanels;

namespace {

const Rgb kHatch(cardpreview::kHatchColour, cardpreview::kHatchColour + 3), kRed{200, 30, 40},
    kBlue{20, 40, 210}, kBlack(3, 0), kWhite(3, 255);
// Red with a blue block in the panel's first 20 columns of its first 10 rows.
const auto kRedBlueCorner = [](int x, int y) { return x < 20 && y < 10 ? kBlue : kRed; };
const auto kBlackBar = [](int x, int y) { return x >= 20 && x < 60 && y >= 10 && y < 20 ? kBlack : kWhite; };
const auto kFullCoat = [](int, int) { return kBlack; };
// Coat everywhere but panel rows 30 to 39 (a stripe left bare).
const auto kStripeBare = [](int, int y) { return y >= 30 && y < 40 ? kWhite : kBlack; };

bool onStripe(int x, int y) { return (x + y) % cardpreview::kHatchPeriod < cardpreview::kHatchWidth; }

// Pixel (x, y) of a picture.
Rgb at(const RgbImage& img, int x, int y) { return Rgb(img.at(x, y), img.at(x, y) + 3); }

bool near(const Rgb& p, const Rgb& want) {
  return std::abs(p[0] - want[0]) <= 6 && std::abs(p[1] - want[1]) <= 6 && std::abs(p[2] - want[2]) <= 6;
}

// Reads a PNG file back with libpng: its pixels and its Description text
// (an uncompressed text chunk).
bool readPng(const std::string& path, RgbImage& img, std::string& description) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  img = RgbImage{int(image.width), int(image.height), std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
  std::stringstream file;
  file << std::ifstream(path, std::ios::binary).rdbuf();
  const std::string bytes = file.str();
  const size_t at = bytes.find(std::string("tEXtDescription\0", 16));  // after the chunk's length
  const auto length = [&](size_t i) { return uint8_t(bytes[at - 4 + i]) << (24 - 8 * i); };
  if (at != std::string::npos) description = bytes.substr(at + 16, length(0) + length(1) + length(2) + length(3) - 12);
  return png_image_finish_read(&image, nullptr, img.pixels.data(), 0, nullptr) != 0;
}

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "/preview_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

// Every panel is turned half a turn, so the panel's first columns and rows
// end up at the right and the bottom; the size is the colour panel's, else
// the black's; outside a smaller panel the card counts as white (no ink, no
// coat, so hatched); the hatching runs along the picture as seen.
TEST(CardPreview, ComposesThePanelsTurnedHalfATurn) {
  const RgbImage red = Picture(100, 60, kRedBlueCorner), bar = Picture(100, 60, kBlackBar),
                 stripe = Picture(100, 60, kStripeBare), plain = Picture(100, 60, [](int, int) { return kRed; }),
                 blackCorner = Picture(10, 10, kFullCoat), coatQuarter = Picture(50, 30, kFullCoat);
  const struct {
    const char* name;
    const RgbImage *colour, *black, *overlay;
    std::function<Rgb(int, int)> seen;
  } kCases[] = {
      {"all three panels", &red, &bar, &stripe,
       [](int x, int y) {
         if (y >= 20 && y < 30 && onStripe(x, y)) return kHatch;  // panel rows 39 down to 30
         if (x >= 40 && x < 80 && y >= 40 && y < 50) return kBlack;  // the bar, panel (20..59, 10..19)
         return x >= 80 && y >= 50 ? kBlue : kRed;                   // the corner, panel (0..19, 0..9)
       }},
      {"black only", nullptr, &bar, nullptr,
       [](int x, int y) { return x >= 40 && x < 80 && y >= 40 && y < 50 ? kBlack : kWhite; }},
      {"smaller black and overlay panels", &plain, &blackCorner, &coatQuarter,
       [](int x, int y) {
         if (x >= 90 && y >= 50) return kBlack;
         return (x < 50 || y < 30) && onStripe(x, y) ? kHatch : kRed;
       }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const RgbImage out = cardpreview::ComposeCardPreview(c.colour, c.black, c.overlay);
    ASSERT_EQ(out.width, 100);
    ASSERT_EQ(out.height, 60);
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) ASSERT_EQ(at(out, x, y), c.seen(x, y)) << x << "," << y;
  }
  const RgbImage empty;
  EXPECT_TRUE(cardpreview::ComposeCardPreview(&empty, nullptr, &empty).empty());
}

// The front is seen upright, the back after turning the card over its long
// edge: the same half turn of the panels.
TEST(CardPreview, WritesEachSideAsSeenToAPngThatReadsBack) {
  const std::string kDrawn = ": colour panel, black panel over it, overlay coat except where hatched";
  const struct {
    cardpreview::CardSide side;
    std::string description;
  } kSides[] = {{cardpreview::CardSide::kFront, "Card front as printed, seen upright" + kDrawn},
                {cardpreview::CardSide::kBack,
                 "Card back as printed, seen after turning the card over its long edge" + kDrawn}};
  for (const auto& c : kSides) {
    SCOPED_TRACE(c.description);
    SidePanels panels{Jpeg(Picture(120, 80, [](int, int) { return kRed; })), Jpeg(Picture(120, 80, kBlackBar), true),
                      Jpeg(Picture(120, 80, kStripeBare)), c.side};
    const std::string path = tempPath("side.png");
    std::string error, description;
    ASSERT_TRUE(cardpreview::WriteCardPreview(panels, path, error)) << error;
    RgbImage seen;
    ASSERT_TRUE(readPng(path, seen, description));
    unlink(path.c_str());
    ASSERT_EQ(seen.width, 120);
    ASSERT_EQ(seen.height, 80);
    EXPECT_EQ(description, c.description);
    // The bar of panel columns 20..59, rows 10..19 is seen at 60..99, 60..69;
    // the bare panel rows 30..39 as rows 40..49.
    int dark = 0, hatched = 0;
    for (int y = 0; y < seen.height; ++y)
      for (int x = 0; x < seen.width; ++x) {
        const Rgb p = at(seen, x, y);
        dark += p == kBlack, hatched += p == kHatch;
        ASSERT_TRUE(p != kBlack || (x >= 60 && x < 100 && y >= 60 && y < 70)) << "black at " << x << "," << y;
        ASSERT_TRUE(p != kHatch || (y >= 40 && y < 50)) << "hatch at row " << y;
      }
    EXPECT_EQ(dark, 40 * 10);
    EXPECT_EQ(hatched, 10 * 120 * cardpreview::kHatchWidth / cardpreview::kHatchPeriod);
    EXPECT_TRUE(near(at(seen, 10, 75), kRed));
  }
}

TEST(CardPreview, SideItCannotDrawIsRefusedWithAReasonAndNoPicture) {
  const auto kFront = cardpreview::CardSide::kFront;
  const std::vector<uint8_t> good = Jpeg(Picture(64, 32, [](int, int) { return kRed; })), junk(100, 0x42),
                             headerOnly(good.begin(), good.begin() + 20);
  const struct {
    SidePanels panels;
    std::string path, reason;
  } kCases[] = {
      {{{}, {}, {}, kFront}, tempPath("none.png"), "the card side has no panel"},
      {{good, {}, junk, kFront}, tempPath("broken.png"), "overlay panel: JPEG: "},
      {{headerOnly, {}, {}, kFront}, tempPath("cut.png"), "colour panel: "},
      {{good, {}, {}, kFront}, "/nonexistent-folder/side.png", "cannot create /nonexistent-folder/side.png"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reason);
    std::string error;
    EXPECT_FALSE(cardpreview::WriteCardPreview(c.panels, c.path, error));
    EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
    EXPECT_NE(access(c.path.c_str(), F_OK), 0) << "no picture";
  }
}

// The main job's test compares the command's front with the simulator's.
TEST(CardPreviewCommand, WritesTheBackOfTheGivenPanelsOrExplainsWhyNot) {
  const std::string colour = tempPath("c.jpg"), out = tempPath("cli.png"), bin = CARDPREVIEW_BIN;
  const std::vector<uint8_t> jpeg = Jpeg(Picture(40, 20, [](int, int) { return kRed; }));
  std::ofstream(colour, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
  const struct {
    std::string args;
    int status;
  } kCases[] = {{"--back --colour " + colour, 0}, {"", 2}, {"--bogus x", 2}, {"--colour /nonexistent.jpg", 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args);
    unlink(out.c_str());
    EXPECT_EQ(WEXITSTATUS(std::system((bin + " " + c.args + " " + out + " >/dev/null 2>&1").c_str())), c.status);
    RgbImage seen;
    std::string description;
    ASSERT_EQ(readPng(out, seen, description), c.status == 0) << "a picture only on success";
    if (c.status == 0) {
      EXPECT_EQ(seen.width, 40);
      EXPECT_TRUE(near(at(seen, 5, 5), kRed));
      EXPECT_EQ(description, "Card back as printed, seen after turning the card over its long edge: colour panel, "
                             "no black panel, no overlay");
    }
  }
  for (const std::string& path : {colour, out}) unlink(path.c_str());
}
