// Colour and black separation: near-black dots move from the colour picture
// to the black panel; black-only ribbons get a picture reduced to black.
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pipeline/VKCtrl_Print.h"
#include "pipeline/imagedump.h"

namespace {

// True when the image is a 24-bit picture whose rows can be walked directly.
bool isWalkable(const CxImage& image) {
  return image.IsValid() && image.GetBpp() == 24 && image.GetWidth() > 0 &&
         image.GetHeight() > 0;
}

void setPixel(uint8_t* p, uint8_t blue, uint8_t green, uint8_t red) {
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

// The black-dot test: every channel below the level and the channels close
// to each other.
inline bool isBlackDot(int level, int red, int green, int blue) {
  if (red >= level || green >= level || blue >= level) return false;
  int hi = red > green ? red : green;
  hi = hi > blue ? hi : blue;
  int lo = red < green ? red : green;
  lo = lo < blue ? lo : blue;
  return hi - lo <= 9;
}

// Move the black dots of one row of `width` pixels from src to dst (whose
// pixels are white already), leaving white holes in src; returns how many.
int extractRow(int level, uint8_t* src, uint8_t* dst, int width) {
  int count = 0;
  int x = 0;
#if defined(__SSE2__)
  // Five pixels (15 bytes) at a time: a group with no byte below the level
  // has no dot. Levels outside 1..255 take the plain walk (no byte is below
  // a level of 0 or less, every byte is below one over 255).
  if (level >= 1 && level <= 255) {
    const __m128i below = _mm_set1_epi8(static_cast<char>(level - 1));
    for (; 3 * x + 16 <= 3 * width; x += 5) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
      const int low = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, below), v)) & 0x7FFF;
      if (low == 0) continue;
      for (int i = x; i < x + 5; ++i) {
        uint8_t* s = src + 3 * i;
        if (isBlackDot(level, s[2], s[1], s[0])) {
          setPixel(dst + 3 * i, s[0], s[1], s[2]);
          setPixel(s, 255, 255, 255);
          ++count;
        }
      }
    }
  }
#endif
  for (; x < width; ++x) {
    uint8_t* s = src + 3 * x;
    if (isBlackDot(level, s[2], s[1], s[0])) {
      setPixel(dst + 3 * x, s[0], s[1], s[2]);
      setPixel(s, 255, 255, 255);
      ++count;
    }
  }
  return count;
}

}  // namespace

// Tell whether a pixel is a black dot at the controller's black level.
int CVKCtrl_Print::VK_PrintRGB_Black(uint8_t red, uint8_t green, uint8_t blue) {
  return isBlackDot(m_nBlackLevel, red, green, blue) ? 1 : 0;
}

// Move the black dots of the card image into the side's black panel, fill the
// holes they leave with the colour on their left and widen the black marks
// one pixel to the left.
int CVKCtrl_Print::MakeColorK(int /*mode*/, CxImage& image) {
  if (m_nBlackUse == 0) return 0;

  // The black panel starts as the card image's twin (size, settings); its
  // pixels are written by the extraction below, each either the dot found
  // there or white, so they need not be copied first.
  CxImage black(image, false, true, true);
  if (m_nLogImage > 1 && image.IsValid()) DumpImageBmp(*this, image, "MakeColorK", 1000);

  const bool walkable = isWalkable(image) && isWalkable(black) &&
                        black.GetEffWidth() == image.GetEffWidth();
  const int width = walkable ? static_cast<int>(image.GetWidth()) : 0;
  const int height = walkable ? static_cast<int>(image.GetHeight()) : 0;
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  const size_t padBytes = walkable ? image.GetEffWidth() - rowBytes : 0;
  const int level = m_nBlackLevel;

  int count = 0;
  // Rows holding at least one dot; the later passes only change such rows.
  std::vector<uint8_t> rowHasDots(static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    const int before = count;
    uint8_t* src = image.GetBits(y);
    uint8_t* dst = black.GetBits(y);
    // Row padding as a whole copy would have it; every other pixel is white.
    memcpy(dst + rowBytes, src + rowBytes, padBytes);
    memset(dst, 255, rowBytes);
    count += extractRow(level, src, dst, width);
    rowHasDots[static_cast<size_t>(y)] = count != before;
  }
  if (!walkable && image.IsValid()) black.Copy(image);  // nothing walked: a plain copy
  fprintf(stderr, "\n[2] Black Panel - dot count = %d, m_nLogImage = %d", count, m_nLogImage);
  if (m_nLogImage > 1) DumpImageBmp(*this, black, "MakeColorK", 1001);

  if (count == 0) return 1;

  // Hole repair and widening, in one walk along each inner row with dots.
  // Repair: a dot's pixel in the card image takes the colour of the pixel on
  // its left, repaired or not, so a run of dots takes the colour just left
  // of the run; the border rows and columns keep their white holes.
  // Widening: a dot whose blue is exactly 0 blackens its left neighbour in
  // the black panel. Walking left to right, the pixel widened (x - 1) has
  // been tested and repaired already and the pixel tested (x) is still as
  // extraction left it, so a widened pixel never widens further and the
  // repair always reads the candidates.
  if (width >= 3 && height >= 3) {
    for (int y = 1; y <= height - 2; ++y) {
      if (!rowHasDots[static_cast<size_t>(y)]) continue;
      uint8_t* row = image.GetBits(y);
      uint8_t* dots = black.GetBits(y);
      for (int x = 1; x <= width - 2; ++x) {
#if defined(__SSE2__)
        // Five white panel pixels in a row (all 15 bytes 255) are passed in
        // one step: none of them is a dot, and widening only ever changes the
        // pixel left of a dot, which lies behind.
        if (x + 5 <= width - 1) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dots + 3 * x));
          if ((_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(255)))) & 0x7FFF) ==
              0x7FFF) {
            x += 4;
            continue;
          }
        }
#endif
        const uint8_t blue = dots[3 * x];
        if (blue == 255) continue;
        setPixel(row + 3 * x, row[3 * x - 3], row[3 * x - 2], row[3 * x - 1]);
        if (blue == 0) setPixel(dots + 3 * (x - 1), 0, 0, 0);
      }
    }
  }
  if (m_nLogImage > 1) DumpImageBmp(*this, black, "MakeColorK2", 1002);

  // The widened candidates are the black panel; the slot takes them over.
  CxImage& slot = (m_nColorType & ~16) == 0 ? m_srcImgK : m_srcImgK2;
  slot.Transfer(black, true);
  nFileSize[(m_nColorType & ~16) == 0 ? 3 : 6] = 256;
  fprintf(stderr, "\n[2] MakeColorK: m_nColorType %d (%d,%d)", m_nColorType, nFileSize[3],
          nFileSize[6]);
  if (m_nLogImage > 1) DumpImageBmp(*this, slot, "MakeColorK", 1002);
  return 1;
}

// Reduce the card image to black and light pixels for a ribbon without colour
// panels: a pixel left of a pixel with no red takes that neighbour's blue and
// green with no red, then every pixel whose red is not full becomes black.
//
// Every pixel of a row is compared with its own right neighbour, the first
// two included, so a row's result never depends on the row before it.
int CVKCtrl_Print::VK_Image_Change(int mode, CxImage& image) {
  fprintf(stderr, "\n[2] VK_Image_Change: %d", mode);
  if (image.GetHeight() == 0 || !isWalkable(image)) return 0;

  const int width = static_cast<int>(image.GetWidth());
  const int height = static_cast<int>(image.GetHeight());
  for (int y = 0; y < height; ++y) {
    uint8_t* p = image.GetBits(y);
    // Both passes in one walk: pixel x is final for the widening once it has
    // been compared with x + 1, which is still untouched at that moment.
    for (int x = 0; x < width; ++x, p += 3) {
      if (x + 1 < width && p[2] != 0 && p[5] == 0) setPixel(p, p[3], p[4], 0);
      if (p[2] != 255) setPixel(p, 0, 0, 0);
    }
  }
  return 0;
}
