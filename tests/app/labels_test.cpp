// What the web page and a print dialog show for the card options: every
// option, value and card kind in words, and no two values of an option
// alike, so that a user can tell the choices apart.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/card_options.h"
#include "app/strings.h"

namespace {

TEST(Labels, EveryOptionValueAndKindHasWordsOfItsOwn) {
  int count = 0;
  const CardOptionSpec* specs = CardOptionSpecs(&count);
  for (int i = 0; i < count; ++i) {
    const CardOptionSpec& spec = specs[i];
    EXPECT_NE(CardString(spec.ippName), "") << spec.ippName;
    std::set<std::string> labels;
    for (int c = 0; spec.choices != nullptr && c < spec.numChoices; ++c) {
      const std::string key = std::string(spec.ippName) + "." + spec.choices[c][0];
      const std::string label = CardString(key);
      EXPECT_NE(label, "") << key;
      EXPECT_TRUE(labels.insert(label).second) << key << " says \"" << label << "\" as another value does";
    }
  }
  const char* const* kinds = CardMediaTypes(&count);
  std::set<std::string> kindLabels;
  for (int i = 0; i < count; ++i) {
    const std::string label = CardString(std::string("media-type.") + kinds[i]);
    EXPECT_NE(label, "") << kinds[i];
    EXPECT_TRUE(kindLabels.insert(label).second) << kinds[i];
  }
  // The words that matter most: what a stripe or chip card keeps bare.
  EXPECT_EQ(CardString("card-front-overlay.ms"), "Leave the magnetic stripe uncoated");
  EXPECT_EQ(CardString("card-front-overlay.iso"), "Leave the ISO chip uncoated");
  EXPECT_EQ(CardString("card-ribbon.rw"), "Rewritable card");
  EXPECT_EQ(CardString("card-ribbon.re"), "Erase rewritable card");
  // Two-sided as a card is turned, over PAPPL's "On (portrait)".
  EXPECT_STREQ(CardStringOverPappl("sides.two-sided-long-edge"), "Two-sided (turned over the long edge)");
  EXPECT_EQ(CardStringOverPappl("media-type.cardstock"), nullptr);
}

}  // namespace
