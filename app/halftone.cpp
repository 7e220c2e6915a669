// The clustered-dot screen for the black ribbon.
#include "app/halftone.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Screen = std::array<uint8_t, kHalftoneCell * kHalftoneCell>;

// The thresholds of one cell: positions ranked by their distance from the
// cell's centre (ties by angle), so that a darker grey grows the dot outwards
// from the centre. A pixel darker than its threshold prints: rank r (0 the
// centre) gets the threshold (cells - r - 0.5) * 256 / cells.
Screen makeScreen() {
  const int cells = kHalftoneCell * kHalftoneCell;
  std::array<int, kHalftoneCell * kHalftoneCell> order;
  for (int i = 0; i < cells; ++i) order[size_t(i)] = i;
  auto key = [](int i) {
    const double dx = i % kHalftoneCell + 0.5 - kHalftoneCell / 2.0;
    const double dy = i / kHalftoneCell + 0.5 - kHalftoneCell / 2.0;
    return std::make_pair(dx * dx + dy * dy, std::atan2(dy, dx));
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a) < key(b); });
  Screen screen{};
  for (int rank = 0; rank < cells; ++rank)
    screen[size_t(order[size_t(rank)])] = uint8_t(((cells - 1 - rank) * 256 + 128) / cells);
  return screen;
}

}  // namespace

void HalftoneLineForBlackRibbon(uint8_t* rgb, uint32_t width, uint32_t y) {
  static const Screen screen = makeScreen();
  const uint8_t* row = screen.data() + (y % kHalftoneCell) * kHalftoneCell;
  uint8_t* p = rgb;
  for (uint32_t x = 0; x < width; ++x, p += 3) {
    // Rec. 601 luminance in 8 bits.
    const unsigned grey = (p[0] * 77u + p[1] * 150u + p[2] * 29u) >> 8;
    const uint8_t out = grey < row[x % kHalftoneCell] ? 0 : 255;
    p[0] = p[1] = p[2] = out;
  }
}

bool HalftoneRasterLine(const cups_page_header2_t& header, uint8_t* line, uint32_t y) {
  static const Screen screen = makeScreen();
  const uint8_t* row = screen.data() + (y % kHalftoneCell) * kHalftoneCell;
  if (header.cupsBitsPerColor != 8) return false;
  const unsigned space = header.cupsColorSpace;
  if (header.cupsBitsPerPixel == 24 &&
      (space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB)) {
    HalftoneLineForBlackRibbon(line, header.cupsWidth, y);
    return true;
  }
  if (header.cupsBitsPerPixel != 8) return false;
  const bool ink = space == CUPS_CSPACE_K;
  if (!ink && space != CUPS_CSPACE_W && space != CUPS_CSPACE_SW) return false;
  for (uint32_t x = 0; x < header.cupsWidth; ++x) {
    const unsigned grey = ink ? 255u - line[x] : line[x];
    const bool black = grey < row[x % kHalftoneCell];
    line[x] = black == ink ? 255 : 0;
  }
  return true;
}

void HalftoneForBlackRibbon(uint8_t* rgb, uint32_t width, uint32_t height, size_t stride) {
  for (uint32_t y = 0; y < height; ++y) HalftoneLineForBlackRibbon(rgb + size_t(y) * stride, width, y);
}
