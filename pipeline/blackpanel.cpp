// Colour and black separation: near-black dots move from the colour picture
// to the black panel; black-only ribbons get a picture reduced to black.
#include <cstdio>

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

}  // namespace

// Tell whether a pixel is a black dot: every channel below the black level
// and the channels close to each other.
int CVKCtrl_Print::VK_PrintRGB_Black(uint8_t red, uint8_t green, uint8_t blue) {
  const int level = m_nBlackLevel;
  if (red >= level || green >= level || blue >= level) return 0;
  int hi = red > green ? red : green;
  hi = hi > blue ? hi : blue;
  int lo = red < green ? red : green;
  lo = lo < blue ? lo : blue;
  return hi - lo <= 9 ? 1 : 0;
}

// Move the black dots of the card image into the side's black panel, fill the
// holes they leave with the colour on their left and widen the black marks
// one pixel to the left.
int CVKCtrl_Print::MakeColorK(int /*mode*/, CxImage& image) {
  if (m_nBlackUse == 0) return 0;

  CxImage black(image);
  if (m_nLogImage > 1) DumpImageBmp(*this, black, "MakeColorK", 1000);

  const bool walkable = isWalkable(image) && isWalkable(black);
  const int width = walkable ? static_cast<int>(image.GetWidth()) : 0;
  const int height = walkable ? static_cast<int>(image.GetHeight()) : 0;

  int count = 0;
  for (int y = 0; y < height; ++y) {
    uint8_t* src = image.GetBits(y);
    uint8_t* dst = black.GetBits(y);
    for (int x = 0; x < width; ++x, src += 3, dst += 3) {
      if (VK_PrintRGB_Black(src[2], src[1], src[0])) {
        setPixel(src, 255, 255, 255);
        ++count;
      } else {
        setPixel(dst, 255, 255, 255);
      }
    }
  }
  fprintf(stderr, "\n[2] Black Panel - dot count = %d, m_nLogImage = %d", count, m_nLogImage);
  if (m_nLogImage > 1) DumpImageBmp(*this, black, "MakeColorK", 1001);

  if (count == 0) return 1;

  // Hole repair, left to right so that a run of dots takes the colour just
  // left of the run. The border rows and columns keep their white holes.
  if (width >= 3 && height >= 3) {
    for (int y = 1; y <= height - 2; ++y) {
      uint8_t* row = image.GetBits(y);
      const uint8_t* dots = black.GetBits(y);
      for (int x = 1; x <= width - 2; ++x) {
        if (dots[3 * x] != 255) {
          setPixel(row + 3 * x, row[3 * x - 3], row[3 * x - 2], row[3 * x - 1]);
        }
      }
    }
  }

  // Widening: a dot whose blue is exactly 0 blackens its left neighbour. A
  // widened pixel never widens further: walking each row left to right, the
  // pixel changed (x - 1) has already been tested, and the pixel tested (x)
  // is still as extraction left it.
  if (width >= 3 && height >= 3) {
    for (int y = 1; y <= height - 2; ++y) {
      uint8_t* row = black.GetBits(y);
      for (int x = 1; x <= width - 2; ++x) {
        if (row[3 * x] == 0) setPixel(row + 3 * (x - 1), 0, 0, 0);
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
