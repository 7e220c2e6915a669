// The black ribbon's halftone: greys become clustered black dots whose share
// of the page follows the grey; white stays white and black black.
#include <gtest/gtest.h>

#include <vector>

#include "app/halftone.h"

namespace {

// A flat page of one colour, 3 bytes a pixel, with a few spare bytes a line.
struct Page {
  uint32_t width, height;
  size_t stride;
  std::vector<uint8_t> bytes;
  Page(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b)
      : width(w), height(h), stride(size_t(w) * 3 + 5), bytes(stride * h, 7) {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t* p = at(x, y);
        p[0] = r, p[1] = g, p[2] = b;
      }
  }
  uint8_t* at(uint32_t x, uint32_t y) { return bytes.data() + y * stride + x * 3; }
  bool black(uint32_t x, uint32_t y) { return at(x, y)[0] == 0; }
  double blackShare() {
    int n = 0;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) n += black(x, y);
    return double(n) / (width * height);
  }
};

// Every pixel ends pure black or pure white, and the share of black is the
// grey's darkness to within a level of the screen; the bytes past each line
// are left alone.
TEST(Halftone, BlackShareFollowsTheGrey) {
  struct { uint8_t r, g, b; double share; } cases[] = {
      {255, 255, 255, 0.0}, {0, 0, 0, 1.0},     {128, 128, 128, 0.5},
      {192, 192, 192, 0.25}, {64, 64, 64, 0.75}, {240, 240, 240, 0.06},
      {255, 0, 0, 0.70},     // red is a dark grey on the black ribbon (luminance 76)
      {0, 0, 255, 0.89},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
    Page page(4 * kHalftoneCell, 3 * kHalftoneCell, c.r, c.g, c.b);
    HalftoneForBlackRibbon(page.bytes.data(), page.width, page.height, page.stride);
    for (uint32_t y = 0; y < page.height; ++y) {
      for (uint32_t x = 0; x < page.width; ++x) {
        const uint8_t* p = page.at(x, y);
        ASSERT_TRUE((p[0] == 0 || p[0] == 255) && p[1] == p[0] && p[2] == p[0]) << x << "," << y;
      }
      for (size_t i = page.width * 3; i < page.stride; ++i) ASSERT_EQ(page.bytes[y * page.stride + i], 7);
    }
    EXPECT_NEAR(page.blackShare(), c.share, 1.0 / 64 + 0.01);
  }
}

// A mid grey prints as dots, not as scattered pixels: nearly every black
// pixel has a black neighbour, and each cell holds one dot at its centre.
TEST(Halftone, GreysBecomeClusteredDots) {
  for (uint8_t grey : {200, 160, 100}) {
    SCOPED_TRACE(int(grey));
    Page page(4 * kHalftoneCell, 4 * kHalftoneCell, grey, grey, grey);
    HalftoneForBlackRibbon(page.bytes.data(), page.width, page.height, page.stride);
    int black = 0, alone = 0;
    for (uint32_t y = 1; y + 1 < page.height; ++y)
      for (uint32_t x = 1; x + 1 < page.width; ++x) {
        if (!page.black(x, y)) continue;
        ++black;
        alone += !(page.black(x - 1, y) || page.black(x + 1, y) || page.black(x, y - 1) || page.black(x, y + 1));
      }
    EXPECT_GT(black, 0);
    EXPECT_EQ(alone, 0);
    const uint32_t centre = kHalftoneCell / 2;
    for (uint32_t cy = 0; cy < 4; ++cy)
      for (uint32_t cx = 0; cx < 4; ++cx)
        EXPECT_TRUE(page.black(cx * kHalftoneCell + centre, cy * kHalftoneCell + centre));
  }
}

// Darker greys never print less black: a gradient's share grows column band by band.
TEST(Halftone, GradientGrowsDarker) {
  const uint32_t width = 64 * kHalftoneCell, height = 2 * kHalftoneCell;
  Page page(width, height, 0, 0, 0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = page.at(x, y);
      p[0] = p[1] = p[2] = uint8_t(255 - x * 255 / (width - 1));
    }
  HalftoneForBlackRibbon(page.bytes.data(), width, height, page.stride);
  int last = -1;
  for (uint32_t band = 0; band < 16; ++band) {
    int n = 0;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = band * width / 16; x < (band + 1) * width / 16; ++x) n += page.black(x, y);
    EXPECT_GE(n, last) << "band " << band;
    last = n;
  }
}

// A raster line is screened in its own colour space: a K line (as PAPPL
// hands over a monochrome page) keeps 0 for white and 255 for black, a grey
// or RGB line the other way round; other depths are left alone.
TEST(Halftone, RasterLinesInTheirColourSpace) {
  const uint32_t width = 8 * kHalftoneCell;
  struct { cups_cspace_t space; unsigned bpp; uint8_t value; bool screened; uint8_t black; double share; } cases[] = {
      {CUPS_CSPACE_K, 8, 0, true, 255, 0.0},      {CUPS_CSPACE_K, 8, 255, true, 255, 1.0},
      {CUPS_CSPACE_K, 8, 64, true, 255, 0.25},    {CUPS_CSPACE_SW, 8, 64, true, 0, 0.75},
      {CUPS_CSPACE_W, 8, 255, true, 0, 0.0},      {CUPS_CSPACE_SRGB, 24, 192, true, 0, 0.25},
      {CUPS_CSPACE_CMYK, 32, 64, false, 0, 0.0},  {CUPS_CSPACE_K, 16, 64, false, 0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "space " << c.space << ", " << c.bpp << " bits, value " << int(c.value));
    cups_page_header2_t header{};
    header.cupsColorSpace = c.space;
    header.cupsBitsPerPixel = c.bpp;
    header.cupsBitsPerColor = c.bpp == 16 ? 16 : 8;
    header.cupsWidth = width;
    int black = 0, pixels = 0;
    for (uint32_t y = 0; y < kHalftoneCell; ++y) {
      std::vector<uint8_t> line(width * c.bpp / 8, c.value);
      ASSERT_EQ(HalftoneRasterLine(header, line.data(), y), c.screened);
      if (!c.screened) {
        EXPECT_EQ(line, std::vector<uint8_t>(width * c.bpp / 8, c.value));
        continue;
      }
      const unsigned step = c.bpp / 8;
      for (uint32_t x = 0; x < width; ++x, ++pixels) {
        const uint8_t v = line[x * step];
        ASSERT_TRUE(v == 0 || v == 255);
        black += v == c.black;
      }
    }
    if (c.screened) {
      EXPECT_NEAR(double(black) / pixels, c.share, 1.0 / 64 + 0.01);
    }
  }
}

}  // namespace
