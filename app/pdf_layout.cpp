// Where a document page lies on the card: its turn, scale and position.
#include "app/pdf_layout.h"

#include <algorithm>
#include <cmath>

namespace {

// A page whose shape is within this share of the card's is a card design:
// "auto" fills the card with it, edge to edge.
const double kCardShapeTolerance = 0.05;

// The quarter turns counter-clockwise that orientation-requested asks for;
// none turns a landscape page onto the portrait card as PAPPL turns pictures.
int turnsFor(ipp_orient_t orientation, bool landscapePage, bool portraitCard) {
  switch (orientation) {
    case IPP_ORIENT_LANDSCAPE: return 1;
    case IPP_ORIENT_REVERSE_LANDSCAPE: return 3;
    case IPP_ORIENT_REVERSE_PORTRAIT: return 2;
    case IPP_ORIENT_PORTRAIT: return 0;
    default: return landscapePage == portraitCard ? 1 : 0;
  }
}

}  // namespace

PageOnCard PlacePageOnCard(double widthPt, double heightPt, int cardWidth, int cardHeight,
                           int cardDpi, ipp_orient_t orientation, pappl_scaling_t scaling) {
  PageOnCard place;
  place.turns = turnsFor(orientation, widthPt > heightPt, cardWidth < cardHeight);
  const double w = place.turns % 2 ? heightPt : widthPt;
  const double h = place.turns % 2 ? widthPt : heightPt;
  const double fit = std::min(cardWidth / w, cardHeight / h);    // pixels per point
  const double fill = std::max(cardWidth / w, cardHeight / h);
  const double actual = cardDpi / 72.0;
  double perPoint = fit;
  switch (scaling) {
    case PAPPL_SCALING_NONE: perPoint = actual; break;
    case PAPPL_SCALING_FIT: perPoint = fit; break;
    case PAPPL_SCALING_FILL: perPoint = fill; break;
    case PAPPL_SCALING_AUTO_FIT: perPoint = std::min(fit, actual); break;
    default: {
      const double shape = (w / h) / (double(cardWidth) / cardHeight);
      perPoint = std::fabs(shape - 1) <= kCardShapeTolerance ? fill : fit;
      break;
    }
  }
  // A filled card is covered to its last pixel: the rendered page, whose
  // size is rounded, overlaps each edge by a pixel rather than falling short.
  if (perPoint == fill) perPoint *= 1 + 2.0 / std::min(cardWidth, cardHeight);
  place.dpi = perPoint * 72;
  CentrePicture(place, int(std::ceil(w * perPoint)), int(std::ceil(h * perPoint)), cardWidth, cardHeight);
  return place;
}

void CentrePicture(PageOnCard& place, int width, int height, int cardWidth, int cardHeight) {
  // Rounded towards the top left, also when the picture overlaps the card.
  place.left = int(std::floor((cardWidth - width) / 2.0));
  place.top = int(std::floor((cardHeight - height) / 2.0));
}

void TurnedSource(int turns, int width, int height, int u, int v, int* sx, int* sy) {
  switch (turns & 3) {
    case 0: *sx = u, *sy = v; break;
    case 1: *sx = width - 1 - v, *sy = u; break;
    case 2: *sx = width - 1 - u, *sy = height - 1 - v; break;
    default: *sx = v, *sy = height - 1 - u; break;
  }
}
