// How a document page lies on the card: the quarter turn that brings it the
// way the card takes it, the resolution it is rendered at, and where the
// turned picture lies on the card. Pure arithmetic, shared by the PDF job
// and its tests.
#pragma once

#include <pappl/pappl.h>

struct PageOnCard {
  int turns = 0;         // quarter turns counter-clockwise, 0-3
  double dpi = 300;      // the resolution the page is rendered at
  int left = 0, top = 0; // the turned picture's top-left corner on the card (negative: cropped)
};

// Places a page of the given size in points on a card of the given pixels:
// turned as PAPPL turns a picture (a landscape page onto the portrait card a
// quarter turn counter-clockwise, so its right edge becomes the card's top
// line), scaled as print-scaling asks ("auto": fill the card when the page
// has the card's shape, as a card design does, else fit). The picture's size
// is the rendered page's, known only after rendering: left and top are for a
// picture of exactly the page's size at dpi, see CentrePicture.
PageOnCard PlacePageOnCard(double widthPt, double heightPt, int cardWidth, int cardHeight,
                           int cardDpi, ipp_orient_t orientation, pappl_scaling_t scaling);

// Centres a turned picture of width x height pixels on the card.
void CentrePicture(PageOnCard& place, int width, int height, int cardWidth, int cardHeight);

// The pixel of an unturned width x height picture that lies at (u, v) of the
// picture turned `turns` quarter turns counter-clockwise.
void TurnedSource(int turns, int width, int height, int u, int v, int* sx, int* sy);
