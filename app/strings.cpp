// The words the web page and IPP clients show for the printer's own names:
// the card options and their values (the PPD's labels), the card size and
// kinds, and the application's name in the page header.
#include "app/strings.h"

#include <cstring>
#include <string>

namespace {

// English, in the "key" = "text"; form PAPPL reads. PAPPL's own English
// strings come first and are kept where both name a key.
const char kEnglish[] =
    "\"card-ribbon\" = \"Ribbon\";\n"
    "\"card-ribbon.auto\" = \"Follow the loaded ribbon\";\n"
    "\"card-ribbon.k\" = \"Black only\";\n"
    "\"card-ribbon.rw\" = \"Rewritable card\";\n"
    "\"card-ribbon.re\" = \"Erase rewritable card\";\n"
    "\"card-front-overlay\" = \"Front overlay\";\n"
    "\"card-back-overlay\" = \"Back overlay\";\n"
    "\"card-front-overlay.full\" = \"Whole card\";\n"
    "\"card-front-overlay.ms\" = \"Leave the magnetic stripe uncoated\";\n"
    "\"card-front-overlay.iso\" = \"Leave the ISO chip uncoated\";\n"
    "\"card-front-overlay.none\" = \"No overlay\";\n"
    "\"card-back-overlay.full\" = \"Whole card\";\n"
    "\"card-back-overlay.ms\" = \"Leave the magnetic stripe uncoated\";\n"
    "\"card-back-overlay.iso\" = \"Leave the ISO chip uncoated\";\n"
    "\"card-back-overlay.none\" = \"No overlay\";\n"
    "\"card-black-extraction\" = \"Black text on the black panel\";\n"
    "\"card-black-extraction.notuse\" = \"Off\";\n"
    "\"card-black-extraction.blackdots\" = \"On\";\n"
    "\"card-color-style\" = \"Color style\";\n"
    "\"card-color-style.normal\" = \"Normal\";\n"
    "\"card-color-style.highlight\" = \"Highlight\";\n"
    "\"card-color-style.notuse\" = \"No style correction\";\n"
    "\"card-brightness\" = \"Brightness\";\n"
    "\"card-contrast\" = \"Contrast\";\n"
    "\"card-red\" = \"Red balance\";\n"
    "\"card-green\" = \"Green balance\";\n"
    "\"card-blue\" = \"Blue balance\";\n"
    "\"card-sharpening\" = \"Sharpening\";\n"
    "\"card-gamma\" = \"Gamma (100 = unchanged)\";\n"
    "\"card-saturation\" = \"Saturation boost\";\n"
    "\"media." VKR_STRINGS_CARD_MEDIA "\" = \"Card (ID-1, 85.6 x 54 mm)\";\n"
    "\"media-type.cardstock\" = \"Plain card\";\n"
    "\"media-type.magnetic-stripe-card\" = \"Magnetic stripe card (stripe left uncoated)\";\n"
    "\"media-type.chip-card\" = \"Chip card (chip left uncoated)\";\n"
    "\"media-type.no-overlay-card\" = \"Card without overlay\";\n"
    "\"media-source.main\" = \"Card hopper\";\n";

// Where PAPPL's own English says something else of a card printer, these
// words are shown instead (strings_guard.cpp): a card is turned over, not
// printed "On (portrait)".
const struct {
  const char* key;
  const char* text;
} kOverPappl[] = {
    {"sides", "Sides"},
    {"sides.one-sided", "One-sided (front only)"},
    {"sides.two-sided-long-edge", "Two-sided (turned over the long edge)"},
};

}  // namespace

std::string CardString(const std::string& key) {
  // Every entry starts a line of its own.
  const std::string text = std::string("\n") + kEnglish, entry = "\n\"" + key + "\" = \"";
  const size_t at = text.find(entry);
  if (at == std::string::npos) return "";
  const size_t start = at + entry.size();
  return text.substr(start, text.find("\";", start) - start);
}

const char* CardStringOverPappl(const char* key) {
  if (key == nullptr) return nullptr;
  for (const auto& entry : kOverPappl)
    if (strcmp(entry.key, key) == 0) return entry.text;
  return nullptr;
}

void AddCardStrings(pappl_system_t* system) {
  papplSystemAddStringsData(system, "/en.strings", "en", kEnglish);
  // The header's first link: the application's name, to the home page.
  papplSystemAddLink(system, VKR_APP_TITLE, "/", PAPPL_LOPTIONS_NAVIGATION);
}
