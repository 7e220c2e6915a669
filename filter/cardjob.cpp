// The card job's printer steps shared by the filter and the Printer
// Application.
#include "filter/cardjob.h"

#include <cstdio>

namespace {

// Colour types of the two sides of a two-sided card.
const int kCardFront = 16;
const int kCardBack = 32;

}  // namespace

int RunPreflight(FilterJob& job) {
  int status = CheckJobStatus(job);
  if (status == kGoOn) status = CheckVersion(job);
  if (status == kGoOn) status = CheckRibbon(job);
  return status;
}

int HandOverCardSide(int page, const CardPage& card, CardSides& sides, int* result) {
  const int size = static_cast<int>(card.bytes);
  int printed = 0;
  if (!card.cmyk) {
    fprintf(stderr, "nline ( %d)(%d, inheader.Duplex %d)\n", size, page & 1, card.duplexField);
    if (card.duplexField == 1) {
      const int colorType = (page & 1) ? kCardFront : kCardBack;
      fprintf(stderr, "nline (Duplex nColorType %d)\n", colorType);
      printed = OneCmdPrintingEx(3, colorType, card.pixels, size, int(card.width), int(card.height));
      if (printed == 0) sides.frontPending = colorType == kCardFront;
    } else {
      printed = OneCmdPrintingEx(1, 0, card.pixels, size, int(card.width), int(card.height));
      if (printed == 0) sides.frontPending = false;
    }
  } else {
    printed = OneCmdPrintingEx(256, 0, card.pixels, size, int(card.width), int(card.height));
    if (printed == 0) sides.frontPending = false;
  }
  if (result != nullptr) *result = printed;
  if (printed == VK_ERR_CARD_REFUSED) return FailRefusedCard();
  if (printed != 0) {
    fprintf(stderr, "DEBUG: OneCmdPrintingEx Error %d\n", printed);
    return 1;
  }
  return kGoOn;
}

int FinishCardSides(CardSides& sides, int* result) {
  if (result != nullptr) *result = 0;
  if (!sides.frontPending) return kGoOn;
  fprintf(stderr, "DEBUG: Last card front has no back; printing it as a one-sided card.\n");
  const int printed = PrintPendingFront();
  sides.frontPending = false;
  if (result != nullptr) *result = printed;
  if (printed == VK_ERR_CARD_REFUSED) return FailRefusedCard();
  if (printed != 0) {
    fprintf(stderr, "DEBUG: PrintPendingFront Error %d\n", printed);
    return 1;
  }
  return kGoOn;
}
