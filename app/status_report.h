// A card worker's status report ("online=1", "job=0", "ribbon=color",
// "cards=300") turned into the printer's reasons and its ribbon supply.
#pragma once

#include <pappl/pappl.h>

#include <string>

struct PrinterStatus {
  pappl_preason_t add = PAPPL_PREASON_NONE, remove = PAPPL_PREASON_NONE;
  bool haveSupply = false;
  pappl_supply_t supply = {};
};

// No answer sets offline. An answer clears offline and the "other" reason
// a job left (a printer that would not finish); with the ribbon, the supply
// and the ribbon reasons: fewer than 10 cards left is low, none is empty,
// anything else clears both, as when the ribbon is replaced.
PrinterStatus ParseStatusReport(const std::string& report);

// The ribbon as the printer's one supply, with the cards left where the
// printer reports them (-1: unknown). The level is a share of a fresh
// 500-card ribbon.
pappl_supply_t RibbonSupply(bool black, int cardsLeft);
