// The card job's printer steps, one layer under both rastertovkr and the
// Printer Application: the preflight, the card sides of the gathered pages
// (fronts and backs paired in two-sided jobs), the front that no back
// followed, and the completion wait (CompletionWait, filter.h). Each returns
// kGoOn or the exit status that ends the job, and logs as the filter does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/filter.h"

// One gathered page, ready to become a card side.
struct CardPage {
  uint8_t* pixels = nullptr;  // the page frame: RGB (or CMYK) lines, top first
  size_t bytes = 0;
  uint32_t width = 0, height = 0;
  bool cmyk = false;    // four bytes a pixel; printed as a one-sided card
  int duplexField = 0;  // the page header's Duplex, as the raster holds it
};

// The card sides of one job so far.
struct CardSides {
  // A two-sided card's front was sent to the device and waits for its back.
  bool frontPending = false;
};

// Asks the printer for its job status (a printer that cannot report it is
// reset and the job fails), its firmware version and its ribbon.
int RunPreflight(FilterJob& job);

// Hands page number `page` (1 for the first) to the printer as a card side:
// in a two-sided job (Duplex 1) odd pages are fronts kept for the back that
// follows and even pages backs; otherwise a one-sided card. CMYK pages print
// one-sided. A card the printer refused ends the job with FailRefusedCard's
// line, a side that failed otherwise with "DEBUG: OneCmdPrintingEx Error N";
// result holds the print call's result.
int HandOverCardSide(int page, const CardPage& card, CardSides& sides, int* result = nullptr);

// Sends a front that no back followed as a one-sided card.
int FinishCardSides(CardSides& sides, int* result = nullptr);
