// The card options: the job's option texts turned into the numbers of the
// print-options record, and the per-page options that shape the image-log
// copy's page header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/filter.h"

namespace {

// Reads a level the way strtol reads base-10 text, kept in 32 bits.
int32_t readLevel(const char* text) {
  return int32_t(uint32_t(strtol(text, nullptr, 10)));
}

// Looks up one integer option; logs and returns it, or the default when absent.
int32_t integerOption(const char* name, int num_options, cups_option_t* options,
                      int32_t absent, int32_t offset = 0) {
  const char* value = cupsGetOption(name, num_options, options);
  if (value == nullptr) return absent;
  int32_t stored = int32_t(uint32_t(readLevel(value)) + uint32_t(offset));
  fprintf(stderr, "DEBUG: cupsGetOption %s (%s)(%d)\n", name, value, stored);
  return stored;
}

// Decides the ribbon code from CardRibbon and the detected ribbon.
int32_t ribbonOption(int num_options, cups_option_t* options, int detectedRibbon) {
  const char* value = cupsGetOption("CardRibbon", num_options, options);
  if (value == nullptr) {
    // No choice made: the job is treated as colour, whatever is loaded.
    fprintf(stderr, "DEBUG: cupsGetOption CardRibbon NULL");
    return 0;
  }
  fprintf(stderr, "DEBUG: cupsGetOption CardRibbon (%s)\n", value);
  if (strcmp(value, "K") == 0) {
    if (detectedRibbon != 4)
      fprintf(stderr, "DEBUG: CardRibbon (%s) different color(%d)\n", value, detectedRibbon);
    else
      fprintf(stderr, "DEBUG: CardRibbon (%s) color(%d)\n", value, 4);
    return 4;
  }
  if (strcmp(value, "RW") == 0 || strcmp(value, "RE") == 0) {
    fprintf(stderr, "DEBUG: CardRibbon (%s) different color(%d)\n", value, detectedRibbon);
    return value[1] == 'W' ? 10 : 11;
  }
  return detectedRibbon;
}

// Overlay pattern of one card side.
int32_t overlayOption(const char* name, int num_options, cups_option_t* options) {
  const char* value = cupsGetOption(name, num_options, options);
  if (value == nullptr) return 0;
  int32_t code = 0;
  if (strcmp(value, "None") == 0)
    code = 256;
  else if (strcmp(value, "MS") == 0)
    code = 2;
  else if (strcmp(value, "ISO") == 0)
    code = 3;
  fprintf(stderr, "DEBUG: cupsGetOption %s (%s)(%d)\n", name, value, code);
  return code;
}

// Copies one of the listed option values, under its header name, into a
// 64-byte header field; an unlisted value empties the field and is logged.
void namedPageOption(const char* name, int num_options, cups_option_t* options,
                     const char* const (*table)[2], size_t entries, char* field,
                     size_t fieldSize, const char* unsupported) {
  const char* value = cupsGetOption(name, num_options, options);
  if (value == nullptr) return;
  for (size_t i = 0; i < entries; ++i) {
    if (strcmp(value, table[i][0]) == 0) {
      snprintf(field, fieldSize, "%s", table[i][1]);
      return;
    }
  }
  fprintf(stderr, "%s", unsupported);
  field[0] = '\0';
}

}  // namespace

// Turns the job's options into the print-options record.
POPTION ReadCardOptions(int num_options, cups_option_t* options, int detectedRibbon) {
  POPTION opt = {};
  opt.nColorType = 0;
  opt.nType = 0;
  opt.nRibbon = ribbonOption(num_options, options, detectedRibbon);
  opt.nBrightness = integerOption("CardBrightness", num_options, options, 45);
  opt.nContrast = integerOption("CardContrast", num_options, options, 41);
  opt.nRed = integerOption("CardRed", num_options, options, 47);
  opt.nGreen = integerOption("CardGreen", num_options, options, 47);
  opt.nBlue = integerOption("CardBlue", num_options, options, 47);
  opt.nSharpness = integerOption("CardSharpening", num_options, options, 8, 3);
  opt.nGamma = integerOption("CardGamma", num_options, options, 93);

  const char* value = cupsGetOption("CardBlackExtraction", num_options, options);
  if (value == nullptr) {
    fprintf(stderr, "DEBUG: cupsGetOption CardBlackExtraction - Option Not Found(%s)\n",
            "(null)");
    opt.nBlackUse = 0;
  } else {
    opt.nBlackUse = strcmp(value, "NotUse") == 0 ? 0 : 1;
    fprintf(stderr, "DEBUG: cupsGetOption CardBlackExtraction (%s)(%d)\n", value, opt.nBlackUse);
  }

  value = cupsGetOption("CardBlackCheck", num_options, options);
  if (value != nullptr) {
    opt.nCheck = strcmp(value, "Check") == 0 ? 1 : 0;
    fprintf(stderr, "DEBUG: cupsGetOption CardBlackCheck (%s)(%d)\n", value, opt.nCheck);
  }

  value = cupsGetOption("ColorStyle", num_options, options);
  if (value != nullptr) {
    if (strcmp(value, "Highlight") == 0)
      opt.nStyle = 1;
    else if (strcmp(value, "NotUse") == 0)
      opt.nStyle = 2;
    else
      opt.nStyle = 0;
    fprintf(stderr, "DEBUG: cupsGetOption ColorStyle (%s)(%d)\n", value, opt.nStyle);
  }

  opt.nSaturate = integerOption("CardSaturate", num_options, options, 1);
  opt.nFOverlay = overlayOption("CardFOverlay", num_options, options);
  opt.nBOverlay = overlayOption("CardBOverlay", num_options, options);
  return opt;
}

// Applies the per-page options to the image-log copy's page header; an
// absent option leaves the field as the input page had it.
void ApplyPageOptions(int num_options, cups_option_t* options, cups_page_header2_t* header) {
  static const char* const kContent[][2] = {
      {"automatic", "Automatic"}, {"graphics", "Graphics"}, {"photo", "Photo"},
      {"text", "Text"},           {"text-and-graphics", "TextAndGraphics"},
  };
  static const char* const kIntent[][2] = {
      {"absolute", "Absolute"},     {"automatic", "Automatic"},     {"perceptual", "Perceptual"},
      {"relative", "Relative"},     {"relative-bpc", "RelativeBpc"}, {"saturation", "Saturation"},
  };
  namedPageOption("print-content-optimize", num_options, options, kContent,
                  sizeof(kContent) / sizeof(kContent[0]), header->OutputType,
                  sizeof(header->OutputType), "DEBUG: Unsupported print-content-optimize value.\n");

  const char* value = cupsGetOption("print-quality", num_options, options);
  if (value != nullptr) {
    int quality = int(readLevel(value));
    if (quality >= 3 && quality <= 5) {
      header->cupsInteger[8] = unsigned(quality);
    } else {
      fprintf(stderr, "DEBUG: Unsupported print-quality %d.\n", quality);
      header->cupsInteger[8] = 0;
    }
  }

  namedPageOption("print-rendering-intent", num_options, options, kIntent,
                  sizeof(kIntent) / sizeof(kIntent[0]), header->cupsRenderingIntent,
                  sizeof(header->cupsRenderingIntent),
                  "DEBUG: Unsupported print-rendering-intent value.\n");
}
