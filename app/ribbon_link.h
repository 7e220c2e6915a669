// The ribbon on the printer's own web page: PAPPL's printer page shows no
// supply, only links, so the ribbon is a status link to the Supplies page
// whose label draws its level as a bar of ten blocks and says the cards left.
#pragma once

#include <string>

#include <pappl/pappl.h>

// The label for a ribbon supply: "Color Ribbon (300 cards left) ■■■■■■□□□□",
// the description alone when the level is unknown.
std::string RibbonLinkLabel(const pappl_supply_t& supply);

// Shows the ribbon on the printer's page, replacing the label it had.
void ShowRibbonOnPrinterPage(pappl_printer_t* printer, const pappl_supply_t& supply);
