// Card options: the record the job's option texts make, the lines logged on
// the way, and the per-page options applied to the image-log page header.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filter/filter.h"

namespace {

struct Read {
  POPTION opt;
  std::string log;
};

bool has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

// Parses an options argument as CUPS hands it over and reads the card options.
Read readOptions(const char* text, int detectedRibbon = 0) {
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(text, 0, &options);
  testing::internal::CaptureStderr();
  POPTION opt = ReadCardOptions(count, options, detectedRibbon);
  std::string log = testing::internal::GetCapturedStderr();
  cupsFreeOptions(count, options);
  return {opt, log};
}

std::vector<int32_t> fields(const POPTION& o) {
  return {o.nColorType, o.nRibbon,    o.nType,     o.nBrightness, o.nContrast, o.nRed,
          o.nGreen,     o.nBlue,      o.nSharpness, o.nGamma,     o.nBlackUse, o.nSaturate,
          o.nFOverlay,  o.nBOverlay,  o.nCheck,    o.nStyle};
}
enum Field { kRibbon = 1, kBright = 3, kContrast, kRed, kGreen, kBlue, kSharp, kGamma, kBlackUse,
             kSaturate, kFOverlay, kBOverlay, kCheck, kStyle };

}  // namespace

TEST(CardOptions, EveryOptionIsLoggedWithTheNumberStored) {
  struct Case {
    const char* options;
    int detected;
    std::vector<int32_t> fields;
    const char* log;
  } cases[] = {
      {"", 0, {0, 0, 0, 45, 41, 47, 47, 47, 8, 93, 0, 1, 0, 0, 0, 0},
       "DEBUG: cupsGetOption CardRibbon NULL"
       "DEBUG: cupsGetOption CardBlackExtraction - Option Not Found((null))\n"},
      {"", 4, {0, 0, 0, 45, 41, 47, 47, 47, 8, 93, 0, 1, 0, 0, 0, 0},
       "DEBUG: cupsGetOption CardRibbon NULL"
       "DEBUG: cupsGetOption CardBlackExtraction - Option Not Found((null))\n"},
      {"CardRibbon=RW CardBrightness=50 CardContrast=40 CardRed=44 CardGreen=45 CardBlue=46 "
       "CardSharpening=2 CardGamma=90 CardBlackExtraction=BlackDots CardBlackCheck=Check "
       "ColorStyle=Highlight CardSaturate=7 CardFOverlay=MS CardBOverlay=ISO",
       0, {0, 10, 0, 50, 40, 44, 45, 46, 5, 90, 1, 7, 2, 3, 1, 1},
       "DEBUG: cupsGetOption CardRibbon (RW)\nDEBUG: CardRibbon (RW) different color(0)\n"
       "DEBUG: cupsGetOption CardBrightness (50)(50)\nDEBUG: cupsGetOption CardContrast (40)(40)\n"
       "DEBUG: cupsGetOption CardRed (44)(44)\nDEBUG: cupsGetOption CardGreen (45)(45)\n"
       "DEBUG: cupsGetOption CardBlue (46)(46)\nDEBUG: cupsGetOption CardSharpening (2)(5)\n"
       "DEBUG: cupsGetOption CardGamma (90)(90)\n"
       "DEBUG: cupsGetOption CardBlackExtraction (BlackDots)(1)\n"
       "DEBUG: cupsGetOption CardBlackCheck (Check)(1)\n"
       "DEBUG: cupsGetOption ColorStyle (Highlight)(1)\nDEBUG: cupsGetOption CardSaturate (7)(7)\n"
       "DEBUG: cupsGetOption CardFOverlay (MS)(2)\nDEBUG: cupsGetOption CardBOverlay (ISO)(3)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Read r = readOptions(c.options, c.detected);
    EXPECT_EQ(fields(r.opt), c.fields);
    EXPECT_EQ(r.log, c.log);
  }
}

TEST(CardOptions, EachValueGivesItsNumberAndLine) {
  struct Case {
    const char* options;
    int detected;
    Field field;
    int32_t value;
    const char* line;    // logged ("" for no check)
    const char* absent;  // never logged ("" for no check)
  } cases[] = {
      // Ribbon: K follows the loaded ribbon in its line; RW/RE ignore it;
      // unlisted values (lower case too) take the detected ribbon silently.
      {"CardRibbon=K", 0, kRibbon, 4, "DEBUG: cupsGetOption CardRibbon (K)\nDEBUG: CardRibbon (K) different color(0)\n", ""},
      {"CardRibbon=K", 4, kRibbon, 4, "DEBUG: CardRibbon (K) color(4)\n", "different"},
      {"CardRibbon=RW", 4, kRibbon, 10, "DEBUG: CardRibbon (RW) different color(4)\n", ""},
      {"CardRibbon=RE", 0, kRibbon, 11, "DEBUG: CardRibbon (RE) different color(0)\n", ""},
      {"CardRibbon=k", 4, kRibbon, 4, "", "color("},
      {"CardRibbon=k", 0, kRibbon, 0, "", "color("},
      {"CardRibbon=YMCKO", 4, kRibbon, 4, "", "color("},
      {"CardBrightness=3", 4, kRibbon, 0, "", ""},  // absent: colour even with black loaded
      // Levels are read as strtol reads them, with no range check.
      {"CardBrightness=abc", 0, kBright, 0, "DEBUG: cupsGetOption CardBrightness (abc)(0)\n", ""},
      {"CardContrast=12abc", 0, kContrast, 12, "", ""},
      {"CardRed=-5", 0, kRed, -5, "", ""},
      {"CardBlue='  9'", 0, kBlue, 9, "", ""},
      {"CardGamma=1000000", 0, kGamma, 1000000, "", ""},
      {"CardSaturate=4294967297", 0, kSaturate, 1, "", ""},
      // Sharpening stores the value plus three.
      {"CardSharpening=0", 0, kSharp, 3, "", ""},
      {"CardSharpening=-3", 0, kSharp, 0, "DEBUG: cupsGetOption CardSharpening (-3)(0)\n", ""},
      {"CardSharpening=2147483647", 0, kSharp, -2147483646, "", ""},
      // Choices match whole, case-sensitive values only.
      {"CardBlackExtraction=NotUse", 0, kBlackUse, 0, "", ""},
      {"CardBlackExtraction=notuse", 0, kBlackUse, 1, "DEBUG: cupsGetOption CardBlackExtraction (notuse)(1)\n", "Option Not Found"},
      {"CardBlackCheck=check", 0, kCheck, 0, "DEBUG: cupsGetOption CardBlackCheck (check)(0)\n", ""},
      {"ColorStyle=NotUse", 0, kStyle, 2, "", ""},
      {"ColorStyle=Vivid", 0, kStyle, 0, "DEBUG: cupsGetOption ColorStyle (Vivid)(0)\n", ""},
      {"CardFOverlay=None", 0, kFOverlay, 256, "", ""},
      {"CardFOverlay=ISO", 0, kFOverlay, 3, "", ""},
      {"CardFOverlay=iso", 0, kFOverlay, 0, "", ""},
      {"CardBOverlay=None", 0, kBOverlay, 256, "DEBUG: cupsGetOption CardBOverlay (None)(256)\n", ""},
      {"CardBOverlay=None", 0, kFOverlay, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " detected " + std::to_string(c.detected));
    Read r = readOptions(c.options, c.detected);
    EXPECT_EQ(fields(r.opt)[c.field], c.value);
    EXPECT_TRUE(!*c.line || has(r.log, c.line)) << r.log;
    EXPECT_TRUE(!*c.absent || !has(r.log, c.absent)) << r.log;
  }
}

TEST(PageOptions, HeaderNamesQualityAndUnsupportedValues) {
  struct Case {
    const char* options;
    const char* outputType;
    const char* intent;
    unsigned quality;
    const char* log;
  } cases[] = {
      {"CardBrightness=3", "FromInput", "FromInput", 99, ""},  // absent: input header kept
      {"print-content-optimize=graphics", "Graphics", "FromInput", 99, ""},
      {"print-content-optimize=photo", "Photo", "FromInput", 99, ""},
      {"print-content-optimize=text", "Text", "FromInput", 99, ""},
      {"print-content-optimize=text-and-graphics", "TextAndGraphics", "FromInput", 99, ""},
      {"print-content-optimize=Photo", "", "FromInput", 99, "DEBUG: Unsupported print-content-optimize value.\n"},
      {"print-quality=3", "FromInput", "FromInput", 3, ""},
      {"print-quality=5", "FromInput", "FromInput", 5, ""},
      {"print-quality=6", "FromInput", "FromInput", 0, "DEBUG: Unsupported print-quality 6.\n"},
      {"print-quality=high", "FromInput", "FromInput", 0, "DEBUG: Unsupported print-quality 0.\n"},
      {"print-rendering-intent=absolute", "FromInput", "Absolute", 99, ""},
      {"print-rendering-intent=perceptual", "FromInput", "Perceptual", 99, ""},
      {"print-rendering-intent=relative", "FromInput", "Relative", 99, ""},
      {"print-rendering-intent=relative-bpc", "FromInput", "RelativeBpc", 99, ""},
      {"print-rendering-intent=saturation", "FromInput", "Saturation", 99, ""},
      {"print-rendering-intent=vivid", "FromInput", "", 99, "DEBUG: Unsupported print-rendering-intent value.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    cups_option_t* options = nullptr;
    int count = cupsParseOptions(c.options, 0, &options);
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    strcpy(h.OutputType, "FromInput");
    strcpy(h.cupsRenderingIntent, "FromInput");
    h.cupsInteger[8] = 99;
    testing::internal::CaptureStderr();
    ApplyPageOptions(count, options, &h);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log);
    cupsFreeOptions(count, options);
    EXPECT_STREQ(h.OutputType, c.outputType);
    EXPECT_STREQ(h.cupsRenderingIntent, c.intent);
    EXPECT_EQ(h.cupsInteger[8], c.quality);
  }
}
