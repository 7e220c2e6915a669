// The ribbon's level as a status link on the printer's page.
#include "app/ribbon_link.h"

#include <map>
#include <mutex>

namespace {

// The blocks of the bar: one for each tenth of a fresh ribbon.
const int kBlocks = 10;
const char kFull[] = "\u25A0";   // a black square
const char kEmpty[] = "\u25A1";  // a white square

}  // namespace

std::string RibbonLinkLabel(const pappl_supply_t& supply) {
  std::string label = supply.description;
  if (supply.level < 0) return label;
  // Rounded up, so that a ribbon with any card left shows one block.
  const int full = supply.level >= 100 ? kBlocks : (supply.level * kBlocks + 99) / 100;
  label += ' ';
  for (int i = 0; i < kBlocks; ++i) label += i < full ? kFull : kEmpty;
  return label;
}

void ShowRibbonOnPrinterPage(pappl_printer_t* printer, const pappl_supply_t& supply) {
  static std::mutex lock;
  static std::map<int, std::string> shown;  // by printer id
  const std::string label = RibbonLinkLabel(supply);
  std::lock_guard<std::mutex> hold(lock);
  std::string& before = shown[papplPrinterGetID(printer)];
  if (before == label) return;
  if (!before.empty()) papplPrinterRemoveLink(printer, before.c_str());
  char path[256];
  papplPrinterGetPath(printer, "supplies", path, sizeof(path));
  papplPrinterAddLink(printer, label.c_str(), path, PAPPL_LOPTIONS_STATUS);
  before = label;
}
