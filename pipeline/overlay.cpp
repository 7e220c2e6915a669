// The overlay (varnish) panel: a black-and-white mask of the card, black
// where the clear coat goes, white over a stripe or chip that must stay bare.
#include <cstdio>

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
// inclusive. Design rows count from the mask's top edge, stored rows from its
// bottom. Columns outside the mask are left out before drawing, so a far-off
// edge costs no time; the pixels drawn are those of the whole line.
void paintArea(CxImage& mask, int xFrom, const tagRECT& area, RGBQUAD colour) {
  int x1 = xFrom < area.right ? xFrom : area.right;
  int x2 = xFrom < area.right ? area.right : xFrom;
  if (x1 < 0) x1 = 0;
  if (x2 > kMaskWidth - 1) x2 = kMaskWidth - 1;
  if (x1 > x2) return;
  for (int row = kMaskHeight - area.bottom; row <= kMaskHeight - area.top - 1; ++row) {
    mask.DrawLine(x1, x2, row, row, colour, false);
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

  CxImage mask(0);
  mask.Create(kMaskWidth, kMaskHeight, 24, 0);
  mask.Clear(255);

  const RGBQUAD coat = {0, 0, 0, 0};
  const RGBQUAD bare = {255, 255, 255, 0};
  if (blackArea.right >= 1 && blackArea.bottom >= 1) {
    paintArea(mask, blackArea.left, blackArea, coat);
  }
  // White is drawn last so that it always wins over black.
  if (whiteArea.right >= 1 && whiteArea.bottom >= 1) {
    paintArea(mask, whiteArea.left, whiteArea, bare);
    paintArea(mask, 0, whiteArea2, bare);
  }

  mask.Rotate180();

  if ((m_nColorType & ~16) == 0) {
    m_srcImgO = mask;
    nFileSize[2] = 256;
  } else {
    m_srcImgO2 = mask;
    nFileSize[5] = 256;
  }
  const CxImage& stored = (m_nColorType & ~16) == 0 ? m_srcImgO : m_srcImgO2;
  fprintf(stderr, "\n[2] Varnish Area: m_nColorType %d (%d,%d) [%d]", m_nColorType,
          nFileSize[2], nFileSize[5], static_cast<int>(stored.GetWidth()));
  return kVarnishDone;
}
