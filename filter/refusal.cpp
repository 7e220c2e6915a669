// A card the printer refused: the job ends with the printer's answer in an
// "ERROR: " line, and no further card is sent.
#include <cstdio>

#include "filter/cupslog.h"
#include "filter/filter.h"

// Tells the user what the printer answered to the refused card; returns the
// exit status of the failed job.
int FailRefusedCard() {
  const int answer = LastCardAnswer();
  if (answer == VK_CARD_NAK)
    _cupsLangPrintFilter(stderr, "ERROR", "The printer refused the card (NAK).");
  else
    _cupsLangPrintFilter(stderr, "ERROR", "The printer refused the card (error %d).", answer);
  return 1;
}
