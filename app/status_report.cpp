// Status reports into printer reasons and the ribbon supply.
#include "app/status_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/worker_link.h"

namespace {

// Fewer cards than this left on the ribbon is reported as running low.
const int kRibbonLowCards = 10;
// The printer reports the cards left on its ribbon, not the ribbon's size;
// the level is shown as a share of a fresh ribbon of this many cards.
const int kFreshRibbonCards = 500;

const pappl_preason_t kRibbonReasons =
    pappl_preason_t(PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_LOW);

}  // namespace

pappl_supply_t RibbonSupply(bool black, int cardsLeft) {
  pappl_supply_t supply;
  memset(&supply, 0, sizeof(supply));
  // PAPPL's web page has no bar colour for a multi-colour supply (it reads
  // past its table): the colour ribbon's bar is drawn magenta.
  supply.color = black ? PAPPL_SUPPLY_COLOR_BLACK : PAPPL_SUPPLY_COLOR_MAGENTA;
  supply.type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
  supply.is_consumed = true;
  if (cardsLeft < 0)
    supply.level = -1;
  else if (cardsLeft == 0)
    supply.level = 0;
  else
    supply.level = cardsLeft >= kFreshRibbonCards ? 100 : std::max(1, cardsLeft * 100 / kFreshRibbonCards);
  if (cardsLeft >= 0)
    snprintf(supply.description, sizeof(supply.description), "%s Ribbon (%d cards left)",
             black ? "Black" : "Color", cardsLeft);
  else
    snprintf(supply.description, sizeof(supply.description), "%s Ribbon", black ? "Black" : "Color");
  return supply;
}

PrinterStatus ParseStatusReport(const std::string& report) {
  PrinterStatus status;
  if (ReportValue(report, "online") != "1") {
    status.add = PAPPL_PREASON_OFFLINE;
    return status;
  }
  status.remove = pappl_preason_t(PAPPL_PREASON_OFFLINE | PAPPL_PREASON_OTHER);
  const std::string ribbon = ReportValue(report, "ribbon");
  if (ribbon.empty()) return status;
  const std::string cardsText = ReportValue(report, "cards");
  char* end = nullptr;
  long cards = strtol(cardsText.c_str(), &end, 10);
  if (cardsText.empty() || *end != '\0' || cards < -1 || cards > 1000000) cards = -1;
  status.haveSupply = true;
  status.supply = RibbonSupply(ribbon == "black", int(cards));
  const pappl_preason_t low = cards == 0                     ? PAPPL_PREASON_MARKER_SUPPLY_EMPTY
                              : cards > 0 && cards < kRibbonLowCards ? PAPPL_PREASON_MARKER_SUPPLY_LOW
                                                                     : PAPPL_PREASON_NONE;
  status.add = low;
  status.remove = pappl_preason_t(status.remove | (kRibbonReasons & ~low));
  return status;
}
