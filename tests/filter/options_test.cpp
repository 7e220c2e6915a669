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

bool has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

}  // namespace

TEST(CardOptions, NoOptionsGiveTheDefaults) {
  for (int detected : {0, 4}) {
    Read r = readOptions("", detected);
    EXPECT_EQ(fields(r.opt),
              (std::vector<int32_t>{0, 0, 0, 45, 41, 47, 47, 47, 8, 93, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.log,
              "DEBUG: cupsGetOption CardRibbon NULL"
              "DEBUG: cupsGetOption CardBlackExtraction - Option Not Found((null))\n");
  }
}

TEST(CardOptions, EveryOptionIsLoggedWithTheNumberStored) {
  Read r = readOptions(
      "CardRibbon=RW CardBrightness=50 CardContrast=40 CardRed=44 CardGreen=45 CardBlue=46 "
      "CardSharpening=2 CardGamma=90 CardBlackExtraction=BlackDots CardBlackCheck=Check "
      "ColorStyle=Highlight CardSaturate=7 CardFOverlay=MS CardBOverlay=ISO");
  EXPECT_EQ(fields(r.opt),
            (std::vector<int32_t>{0, 10, 0, 50, 40, 44, 45, 46, 5, 90, 1, 7, 2, 3, 1, 1}));
  EXPECT_EQ(r.log,
            "DEBUG: cupsGetOption CardRibbon (RW)\n"
            "DEBUG: CardRibbon (RW) different color(0)\n"
            "DEBUG: cupsGetOption CardBrightness (50)(50)\n"
            "DEBUG: cupsGetOption CardContrast (40)(40)\n"
            "DEBUG: cupsGetOption CardRed (44)(44)\n"
            "DEBUG: cupsGetOption CardGreen (45)(45)\n"
            "DEBUG: cupsGetOption CardBlue (46)(46)\n"
            "DEBUG: cupsGetOption CardSharpening (2)(5)\n"
            "DEBUG: cupsGetOption CardGamma (90)(90)\n"
            "DEBUG: cupsGetOption CardBlackExtraction (BlackDots)(1)\n"
            "DEBUG: cupsGetOption CardBlackCheck (Check)(1)\n"
            "DEBUG: cupsGetOption ColorStyle (Highlight)(1)\n"
            "DEBUG: cupsGetOption CardSaturate (7)(7)\n"
            "DEBUG: cupsGetOption CardFOverlay (MS)(2)\n"
            "DEBUG: cupsGetOption CardBOverlay (ISO)(3)\n");
}

TEST(CardRibbon, BlackChoiceAgainstTheLoadedRibbon) {
  Read colour = readOptions("CardRibbon=K", 0);
  EXPECT_EQ(colour.opt.nRibbon, 4);
  EXPECT_TRUE(has(colour.log, "DEBUG: cupsGetOption CardRibbon (K)\nDEBUG: CardRibbon (K) different color(0)\n"));
  Read black = readOptions("CardRibbon=K", 4);
  EXPECT_EQ(black.opt.nRibbon, 4);
  EXPECT_TRUE(has(black.log, "DEBUG: CardRibbon (K) color(4)\n"));
  EXPECT_FALSE(has(black.log, "different"));
}

TEST(CardRibbon, RewritableChoicesIgnoreTheLoadedRibbon) {
  Read rw = readOptions("CardRibbon=RW", 4);
  EXPECT_EQ(rw.opt.nRibbon, 10);
  EXPECT_TRUE(has(rw.log, "DEBUG: CardRibbon (RW) different color(4)\n"));
  Read re = readOptions("CardRibbon=RE", 0);
  EXPECT_EQ(re.opt.nRibbon, 11);
  EXPECT_TRUE(has(re.log, "DEBUG: CardRibbon (RE) different color(0)\n"));
}

TEST(CardRibbon, UnlistedValuesFollowTheLoadedRibbon) {
  for (const char* value : {"CardRibbon=k", "CardRibbon=YMCKO", "CardRibbon=R", "CardRibbon=RWX"}) {
    EXPECT_EQ(readOptions(value, 4).opt.nRibbon, 4) << value;
    Read r = readOptions(value, 0);
    EXPECT_EQ(r.opt.nRibbon, 0) << value;
    EXPECT_FALSE(has(r.log, "color(")) << value;
  }
}

TEST(CardRibbon, AbsentChoiceIsColourEvenWithABlackRibbonLoaded) {
  EXPECT_EQ(readOptions("CardBrightness=3", 4).opt.nRibbon, 0);
}

TEST(CardLevels, NumbersAreReadAsStrtolReadsThem) {
  EXPECT_EQ(readOptions("CardBrightness=abc").opt.nBrightness, 0);
  Read r = readOptions("CardBrightness=abc");
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption CardBrightness (abc)(0)\n"));
  EXPECT_EQ(readOptions("CardContrast=12abc").opt.nContrast, 12);
  EXPECT_EQ(readOptions("CardRed=-5").opt.nRed, -5);
  EXPECT_EQ(readOptions("CardGreen=+7").opt.nGreen, 7);
  EXPECT_EQ(readOptions("CardBlue='  9'").opt.nBlue, 9);
  EXPECT_EQ(readOptions("CardGamma=1000000").opt.nGamma, 1000000);
  // No range check: the number is kept in 32 bits as it is.
  EXPECT_EQ(readOptions("CardSaturate=4294967297").opt.nSaturate, 1);
}

TEST(CardLevels, SharpeningStoresTheValuePlusThree) {
  EXPECT_EQ(readOptions("CardSharpening=0").opt.nSharpness, 3);
  Read r = readOptions("CardSharpening=-3");
  EXPECT_EQ(r.opt.nSharpness, 0);
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption CardSharpening (-3)(0)\n"));
  EXPECT_EQ(readOptions("CardSharpening=x").opt.nSharpness, 3);
  EXPECT_EQ(readOptions("CardSharpening=2147483647").opt.nSharpness, -2147483646);
}

TEST(CardChoices, BlackExtractionIsOnForAnyTextButNotUse) {
  EXPECT_EQ(readOptions("CardBlackExtraction=NotUse").opt.nBlackUse, 0);
  EXPECT_EQ(readOptions("CardBlackExtraction=BlackDots").opt.nBlackUse, 1);
  Read r = readOptions("CardBlackExtraction=notuse");
  EXPECT_EQ(r.opt.nBlackUse, 1);
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption CardBlackExtraction (notuse)(1)\n"));
  EXPECT_FALSE(has(r.log, "Option Not Found"));
}

TEST(CardChoices, BlackCheckOnlyForCheck) {
  EXPECT_EQ(readOptions("CardBlackCheck=Check").opt.nCheck, 1);
  Read r = readOptions("CardBlackCheck=check");
  EXPECT_EQ(r.opt.nCheck, 0);
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption CardBlackCheck (check)(0)\n"));
}

TEST(CardChoices, ColorStyle) {
  EXPECT_EQ(readOptions("ColorStyle=Normal").opt.nStyle, 0);
  EXPECT_EQ(readOptions("ColorStyle=Highlight").opt.nStyle, 1);
  EXPECT_EQ(readOptions("ColorStyle=NotUse").opt.nStyle, 2);
  Read r = readOptions("ColorStyle=Vivid");
  EXPECT_EQ(r.opt.nStyle, 0);
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption ColorStyle (Vivid)(0)\n"));
}

TEST(CardChoices, OverlaysMatchWholeValuesOnly) {
  EXPECT_EQ(readOptions("CardFOverlay=Full").opt.nFOverlay, 0);
  EXPECT_EQ(readOptions("CardFOverlay=None").opt.nFOverlay, 256);
  EXPECT_EQ(readOptions("CardFOverlay=MS").opt.nFOverlay, 2);
  EXPECT_EQ(readOptions("CardFOverlay=ISO").opt.nFOverlay, 3);
  EXPECT_EQ(readOptions("CardFOverlay=MSX").opt.nFOverlay, 0);
  EXPECT_EQ(readOptions("CardFOverlay=IS").opt.nFOverlay, 0);
  EXPECT_EQ(readOptions("CardFOverlay=iso").opt.nFOverlay, 0);
  Read r = readOptions("CardBOverlay=None");
  EXPECT_EQ(r.opt.nBOverlay, 256);
  EXPECT_EQ(r.opt.nFOverlay, 0);
  EXPECT_TRUE(has(r.log, "DEBUG: cupsGetOption CardBOverlay (None)(256)\n"));
}

namespace {

struct PageResult {
  cups_page_header2_t header;
  std::string log;
};

PageResult applyPage(const char* text) {
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(text, 0, &options);
  PageResult r;
  memset(&r.header, 0, sizeof(r.header));
  strcpy(r.header.OutputType, "FromInput");
  strcpy(r.header.cupsRenderingIntent, "FromInput");
  r.header.cupsInteger[8] = 99;
  testing::internal::CaptureStderr();
  ApplyPageOptions(count, options, &r.header);
  r.log = testing::internal::GetCapturedStderr();
  cupsFreeOptions(count, options);
  return r;
}

}  // namespace

TEST(PageOptions, AbsentOptionsKeepTheInputHeader) {
  PageResult r = applyPage("CardBrightness=3");
  EXPECT_STREQ(r.header.OutputType, "FromInput");
  EXPECT_STREQ(r.header.cupsRenderingIntent, "FromInput");
  EXPECT_EQ(r.header.cupsInteger[8], 99u);
  EXPECT_EQ(r.log, "");
}

TEST(PageOptions, ContentOptimizeNames) {
  const char* pairs[][2] = {{"automatic", "Automatic"}, {"graphics", "Graphics"},
                            {"photo", "Photo"},         {"text", "Text"},
                            {"text-and-graphics", "TextAndGraphics"}};
  for (auto& p : pairs) {
    PageResult r = applyPage((std::string("print-content-optimize=") + p[0]).c_str());
    EXPECT_STREQ(r.header.OutputType, p[1]);
    EXPECT_EQ(r.log, "");
  }
  PageResult bad = applyPage("print-content-optimize=Photo");
  EXPECT_STREQ(bad.header.OutputType, "");
  EXPECT_EQ(bad.log, "DEBUG: Unsupported print-content-optimize value.\n");
}

TEST(PageOptions, QualityThreeToFive) {
  EXPECT_EQ(applyPage("print-quality=3").header.cupsInteger[8], 3u);
  EXPECT_EQ(applyPage("print-quality=5").header.cupsInteger[8], 5u);
  PageResult six = applyPage("print-quality=6");
  EXPECT_EQ(six.header.cupsInteger[8], 0u);
  EXPECT_EQ(six.log, "DEBUG: Unsupported print-quality 6.\n");
  PageResult text = applyPage("print-quality=high");
  EXPECT_EQ(text.header.cupsInteger[8], 0u);
  EXPECT_EQ(text.log, "DEBUG: Unsupported print-quality 0.\n");
}

TEST(PageOptions, RenderingIntentNames) {
  const char* pairs[][2] = {{"absolute", "Absolute"},     {"automatic", "Automatic"},
                            {"perceptual", "Perceptual"}, {"relative", "Relative"},
                            {"relative-bpc", "RelativeBpc"}, {"saturation", "Saturation"}};
  for (auto& p : pairs)
    EXPECT_STREQ(applyPage((std::string("print-rendering-intent=") + p[0]).c_str())
                     .header.cupsRenderingIntent,
                 p[1]);
  PageResult bad = applyPage("print-rendering-intent=vivid");
  EXPECT_STREQ(bad.header.cupsRenderingIntent, "");
  EXPECT_EQ(bad.log, "DEBUG: Unsupported print-rendering-intent value.\n");
}
