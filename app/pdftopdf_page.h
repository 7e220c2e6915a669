// What CUPS did to a page before it reached the app. A driverless queue
// sends PDF through CUPS' pdftopdf, which lays each page onto the card's page
// size: a landscape page turned a quarter turn clockwise (the way round the
// queue's generated PPD implies, opposite to PAPPL's and the filter's PPD),
// centred, not scaled, the rest of the card left white. The app undoes that:
// it finds the original page on the laid-out one and turns it back, so a
// document prints the same way round and to the same edges as sent directly.
#pragma once

#include <string>

// The original page as pdftopdf laid it on a page: the quarter turns
// (counter-clockwise) that bring it back, and its rectangle on the laid-out
// page, in points from the page's lower left corner.
struct LaidOutPage {
  int undoTurns = 0;
  double left = 0, bottom = 0, right = 0, top = 0;
};

// Whether the PDF (its bytes) was written by pdftopdf.
bool WrittenByPdftopdf(const std::string& pdf);

// Finds how pdftopdf laid page `index` (from 0) of its output onto a page of
// widthPt x heightPt points: each page is one form drawn with a matrix that
// turns and centres the original. False where the page is not laid out that
// way (the original page is then printed as it is).
bool FindLaidOutPage(const std::string& pdf, int index, double widthPt, double heightPt,
                     LaidOutPage* page);
