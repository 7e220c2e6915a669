// The card options' IPP attributes and their translation into PPD options.
#include "app/card_options.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kRibbon[][2] = {{"auto", "Auto"}, {"k", "K"}, {"rw", "RW"}, {"re", "RE"}};
const char* const kOverlay[][2] = {{"full", "Full"}, {"ms", "MS"}, {"iso", "ISO"}, {"none", "None"}};
const char* const kStyle[][2] = {{"normal", "Normal"}, {"highlight", "Highlight"}, {"notuse", "NotUse"}};
const char* const kBlack[][2] = {{"notuse", "NotUse"}, {"blackdots", "BlackDots"}};

#define VKR_CHOICES(table) table, int(sizeof(table) / sizeof(table[0])), 0, 0

const CardOptionSpec kSpecs[] = {
    {"card-ribbon", "CardRibbon", VKR_CHOICES(kRibbon), "auto"},
    {"card-front-overlay", "CardFOverlay", VKR_CHOICES(kOverlay), "full"},
    {"card-back-overlay", "CardBOverlay", VKR_CHOICES(kOverlay), "full"},
    {"card-black-extraction", "CardBlackExtraction", VKR_CHOICES(kBlack), "notuse"},
    {"card-color-style", "ColorStyle", VKR_CHOICES(kStyle), "normal"},
    {"card-brightness", "CardBrightness", nullptr, 0, 25, 75, "45"},
    {"card-contrast", "CardContrast", nullptr, 0, 25, 75, "41"},
    {"card-red", "CardRed", nullptr, 0, 25, 75, "47"},
    {"card-green", "CardGreen", nullptr, 0, 25, 75, "47"},
    {"card-blue", "CardBlue", nullptr, 0, 25, 75, "47"},
    {"card-sharpening", "CardSharpening", nullptr, 0, -3, 12, "5"},
    {"card-gamma", "CardGamma", nullptr, 0, 60, 140, "93"},
    {"card-saturation", "CardSaturate", nullptr, 0, 0, 30, "1"},
};

// The card kinds as media types, and the overlays each sets (PPD form).
struct CardKind {
  const char* mediaType;
  const char* frontOverlay;  // null: the job's option applies
  const char* backOverlay;
};
const CardKind kKinds[] = {
    {"cardstock", nullptr, nullptr},
    {"magnetic-stripe-card", "MS", nullptr},
    {"chip-card", "ISO", nullptr},
    {"no-overlay-card", "None", "None"},
};
const char* const kKindNames[] = {kKinds[0].mediaType, kKinds[1].mediaType, kKinds[2].mediaType,
                                  kKinds[3].mediaType};

// The PPD choice of a keyword option's IPP value, or null when unsupported.
const char* ppdChoice(const CardOptionSpec& spec, const char* value) {
  for (int i = 0; i < spec.numChoices; ++i)
    if (strcmp(spec.choices[i][0], value) == 0) return spec.choices[i][1];
  return nullptr;
}

// Whether the text is a whole decimal number inside the option's range.
bool inRange(const CardOptionSpec& spec, const char* value) {
  char* end = nullptr;
  const long number = strtol(value, &end, 10);
  return end != value && *end == '\0' && number >= spec.lower && number <= spec.upper;
}

}  // namespace

const CardOptionSpec* CardOptionSpecs(int* count) {
  *count = int(sizeof(kSpecs) / sizeof(kSpecs[0]));
  return kSpecs;
}

void AddCardOptionAttributes(ipp_t* attrs) {
  for (const CardOptionSpec& spec : kSpecs) {
    const std::string supported = std::string(spec.ippName) + "-supported";
    const std::string byDefault = std::string(spec.ippName) + "-default";
    if (spec.choices != nullptr) {
      const char* values[8];
      for (int i = 0; i < spec.numChoices; ++i) values[i] = spec.choices[i][0];
      ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), spec.numChoices,
                    nullptr, values);
      ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, byDefault.c_str(), nullptr,
                   spec.defaultValue);
    } else {
      ippAddRange(attrs, IPP_TAG_PRINTER, supported.c_str(), spec.lower, spec.upper);
      ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, byDefault.c_str(),
                    atoi(spec.defaultValue));
    }
  }
}

const char* const* CardMediaTypes(int* count) {
  *count = int(sizeof(kKindNames) / sizeof(kKindNames[0]));
  return kKindNames;
}

int ApplyCardKind(const char* mediaType, int count, cups_option_t** options) {
  for (const CardKind& kind : kKinds) {
    if (mediaType == nullptr || strcmp(kind.mediaType, mediaType) != 0) continue;
    if (kind.frontOverlay) count = cupsAddOption("CardFOverlay", kind.frontOverlay, count, options);
    if (kind.backOverlay) count = cupsAddOption("CardBOverlay", kind.backOverlay, count, options);
  }
  return count;
}

int CardOptionsForJob(int num_vendor, cups_option_t* vendor, pappl_color_mode_t colorMode,
                      ipp_t* printerAttrs, cups_option_t** options) {
  int count = 0;
  *options = nullptr;
  for (const CardOptionSpec& spec : kSpecs) {
    const char* value = cupsGetOption(spec.ippName, num_vendor, vendor);
    char saved[64];
    if (value == nullptr && printerAttrs != nullptr) {
      const std::string name = std::string(spec.ippName) + "-default";
      if (ipp_attribute_t* attr = ippFindAttribute(printerAttrs, name.c_str(), IPP_TAG_ZERO)) {
        ippAttributeString(attr, saved, sizeof(saved));
        value = saved;
      }
    }
    if (value == nullptr) value = spec.defaultValue;
    if (spec.choices != nullptr) {
      const char* choice = ppdChoice(spec, value);
      if (choice != nullptr) count = cupsAddOption(spec.ppdName, choice, count, options);
    } else if (inRange(spec, value)) {
      count = cupsAddOption(spec.ppdName, value, count, options);
    }
  }
  if (colorMode == PAPPL_COLOR_MODE_MONOCHROME)
    count = cupsAddOption("CardRibbon", "K", count, options);
  return count;
}

std::string CardOptionTextForJob(int num_vendor, cups_option_t* vendor,
                                 pappl_color_mode_t colorMode, ipp_t* printerAttrs,
                                 const char* mediaType) {
  cups_option_t* options = nullptr;
  int count = CardOptionsForJob(num_vendor, vendor, colorMode, printerAttrs, &options);
  count = ApplyCardKind(mediaType, count, &options);
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (!text.empty()) text += ' ';
    text += std::string(options[i].name) + "=" + options[i].value;
  }
  cupsFreeOptions(count, options);
  return text;
}
