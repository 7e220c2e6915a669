// The three places a card option's default lives agree: the PPD's *Default
// lines (CUPS queues), the filter's values for an option the job leaves out,
// and the Printer Application's built-in defaults. A default changed in one
// place only prints a different card depending on the way it was sent.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/card_options.h"
#include "filter/filter.h"

namespace {

// The PPD's "*DefaultName: Value" lines.
std::map<std::string, std::string> ppdDefaults() {
  std::map<std::string, std::string> defaults;
  std::ifstream ppd(VKR_PPD_FILE);
  for (std::string line; std::getline(ppd, line);) {
    if (line.compare(0, 8, "*Default") != 0) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t\r") + 1);
    defaults[line.substr(8, colon - 8)] = value;
  }
  return defaults;
}

std::vector<int32_t> fields(const POPTION& o) {
  return {o.nColorType, o.nRibbon, o.nType,    o.nBrightness, o.nContrast, o.nRed,
          o.nGreen,     o.nBlue,   o.nSharpness, o.nGamma,    o.nBlackUse, o.nSaturate,
          o.nFOverlay,  o.nBOverlay, o.nCheck, o.nStyle};
}

// The filter's record for an option list (a colour ribbon loaded).
std::vector<int32_t> record(int count, cups_option_t* options) {
  testing::internal::CaptureStderr();
  const POPTION opt = ReadCardOptions(count, options, 0);
  testing::internal::GetCapturedStderr();
  return fields(opt);
}

TEST(CardOptionDefaults, ThePpdTheFilterAndTheAppAgreeOnEveryOption) {
  const std::map<std::string, std::string> ppd = ppdDefaults();
  int count = 0;
  const CardOptionSpec* specs = CardOptionSpecs(&count);
  ASSERT_GT(count, 0);

  // The app's built-in default, in the PPD's words, is the PPD's default.
  cups_option_t* fromPpd = nullptr;
  int numFromPpd = 0;
  for (int i = 0; i < count; ++i) {
    const CardOptionSpec& spec = specs[i];
    ASSERT_TRUE(ppd.count(spec.ppdName)) << "the PPD has no default for " << spec.ppdName;
    std::string appDefault = spec.defaultValue;
    for (int c = 0; spec.choices != nullptr && c < spec.numChoices; ++c)
      if (appDefault == spec.choices[c][0]) appDefault = spec.choices[c][1];
    EXPECT_EQ(appDefault, ppd.at(spec.ppdName)) << spec.ippName;
    numFromPpd = cupsAddOption(spec.ppdName, ppd.at(spec.ppdName).c_str(), numFromPpd, &fromPpd);
  }

  // The filter prints a job that names the PPD's defaults as one that names nothing.
  const std::vector<int32_t> absent = record(0, nullptr);
  EXPECT_EQ(record(numFromPpd, fromPpd), absent);

  // And a job through the app that sets nothing is that same card.
  cups_option_t* fromApp = nullptr;
  const int numFromApp = CardOptionsForJob(0, nullptr, PAPPL_COLOR_MODE_COLOR, nullptr, &fromApp);
  EXPECT_EQ(record(numFromApp, fromApp), absent);
  cupsFreeOptions(numFromPpd, fromPpd);
  cupsFreeOptions(numFromApp, fromApp);
}

}  // namespace
