// The overlay (varnish) panel: a black-and-white mask of the card, black
// where the clear coat goes, white over a stripe or chip that must stay bare.
#include <cstdio>
#include <cstring>

#include "pipeline/VKCtrl_Print.h"

namespace {

// Size of the mask: the card image as oriented.
const int kMaskWidth = 1013;
const int kMaskHeight = 643;

// Every refusal and every success of the mask answer the same.
const int kVarnishDone = 21;

const tagRECT kNoArea = {0, 0, 0, 0};
const tagRECT kWholeCard = {0, 0, kMaskWidth, kMaskHeight};
const tagRECT kStripeBand = {0, 66, kMaskWidth, 214};
const tagRECT kChipArea = {106, 212, 260, 354};
const tagRECT kNarrowBand = {0, 70, kMaskWidth, 144};

// Paint the design rows top .. bottom - 1 of an area, columns xFrom .. right
// inclusive, straight into the mask as it looks after its half turn. Design
// rows count from the mask's top edge before the turn; after it, design row t
// is stored row t and design column c is column 1012 - c. Columns outside
// the mask are left out, as a line drawn past the edge would leave them.
void paintArea(CxImage& mask, int xFrom, const tagRECT& area, uint8_t value) {
  int x1 = xFrom < area.right ? xFrom : area.right;
  int x2 = xFrom < area.right ? area.right : xFrom;
  if (x1 < 0) x1 = 0;
  if (x2 > kMaskWidth - 1) x2 = kMaskWidth - 1;
  if (x1 > x2) return;
  const int top = area.top < 0 ? 0 : area.top;
  const int bottom = area.bottom > kMaskHeight ? kMaskHeight : area.bottom;
  const size_t first = 3 * static_cast<size_t>(kMaskWidth - 1 - x2);
  const size_t bytes = 3 * static_cast<size_t>(x2 - x1 + 1);
  for (int row = top; row < bottom; ++row) {
    memset(mask.GetBits(static_cast<uint32_t>(row)) + first, value, bytes);
  }
}

}  // namespace

// Pick the overlay type of the side being prepared and draw its mask.
int CVKCtrl_Print::MakeOverlay(int mode, CxImage& /*image*/) {
  if (mode != 0) return 1;
  fprintf(stderr, "[->][m_nColorType %d  %d %d]\n", m_nColorType, m_nFOverlay, m_nBOverlay);
  int type = (m_nColorType & 32) ? m_nBOverlay : m_nFOverlay;
  VK_Image_VarnishSendEx(type, kNoArea, kNoArea);
  return 1;
}

// Draw the overlay mask of one type, turn it half a turn and store it in the
// side's overlay slot. Types outside 0..5 ("None") and areas that do not fit
// the card make no mask and leave the slot and the panel table alone.
int CVKCtrl_Print::VK_Image_VarnishSendEx(int nType, tagRECT black, tagRECT white) {
  if (static_cast<unsigned>(nType) > 5) return kVarnishDone;

  tagRECT blackArea = kWholeCard;
  tagRECT whiteArea = kNoArea;
  tagRECT whiteArea2 = kNoArea;
  switch (nType) {
    case 0:
      break;
    case 1:
      if (black.left < 0 || black.top < 0 || black.right > kMaskWidth ||
          black.bottom > kMaskHeight || white.left < 0) {
        return kVarnishDone;
      }
      blackArea = black;
      whiteArea = white;
      break;
    case 2:
      whiteArea = kStripeBand;
      break;
    case 3:
      whiteArea = kChipArea;
      break;
    case 4:
      whiteArea = kNarrowBand;
      break;
    case 5:
      whiteArea = kChipArea;
      whiteArea2 = kNarrowBand;
      break;
  }
  if (whiteArea.top < 0 || whiteArea.right > kMaskWidth || whiteArea.bottom > kMaskHeight) {
    return kVarnishDone;
  }

  fprintf(stderr,
          "\n[2] Varnish Area: nType = %d, Black=[%d, %d, %d, %d], White=[%d, %d, %d, %d]",
          nType, blackArea.left, blackArea.top, blackArea.right, blackArea.bottom,
          whiteArea.left, whiteArea.top, whiteArea.right, whiteArea.bottom);

  // The mask is drawn straight in its final orientation, half a turn from
  // the design, instead of being drawn upright and turned pixel by pixel.
  CxImage mask(0);
  if (mask.Create(kMaskWidth, kMaskHeight, 24, 0) == nullptr) return kVarnishDone;
  mask.Clear(255);

  const uint8_t coat = 0;
  const uint8_t bare = 255;
  if (blackArea.right >= 1 && blackArea.bottom >= 1) {
    paintArea(mask, blackArea.left, blackArea, coat);
  }
  // White is drawn last so that it always wins over black.
  if (whiteArea.right >= 1 && whiteArea.bottom >= 1) {
    paintArea(mask, whiteArea.left, whiteArea, bare);
    paintArea(mask, 0, whiteArea2, bare);
  }

  // The slot takes the finished mask over; nothing else holds it.
  const bool front = (m_nColorType & ~16) == 0;
  CxImage& stored = front ? m_srcImgO : m_srcImgO2;
  stored.Transfer(mask, true);
  nFileSize[front ? 2 : 5] = 256;
  fprintf(stderr, "\n[2] Varnish Area: m_nColorType %d (%d,%d) [%d]", m_nColorType,
          nFileSize[2], nFileSize[5], static_cast<int>(stored.GetWidth()));
  return kVarnishDone;
}
