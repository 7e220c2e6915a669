// The card's kind as its media type: the overlays each kind sets over the
// job's options, as driverless CUPS queues pass only the media type on.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/card_options.h"

namespace {

using Options = std::map<std::string, std::string>;

Options forKind(const char* mediaType, const Options& vendor = {}) {
  cups_option_t* in = nullptr;
  int count = 0;
  for (const auto& [name, value] : vendor) count = cupsAddOption(name.c_str(), value.c_str(), count, &in);
  cups_option_t* out = nullptr;
  int n = CardOptionsForJob(count, in, PAPPL_COLOR_MODE_COLOR, nullptr, &out);
  n = ApplyCardKind(mediaType, n, &out);
  Options result;
  for (int i = 0; i < n; ++i) result[out[i].name] = out[i].value;
  cupsFreeOptions(count, in);
  cupsFreeOptions(n, out);
  return result;
}

TEST(CardKind, MediaTypeSetsTheOverlays) {
  const Options backNone = {{"card-back-overlay", "none"}};
  struct { const char* type; Options vendor; const char* front; const char* back; } cases[] = {
      {"cardstock", {}, "Full", "Full"},
      {nullptr, backNone, "Full", "None"},
      {"", {{"card-front-overlay", "iso"}}, "ISO", "Full"},
      {"magnetic-stripe-card", {}, "MS", "Full"},
      {"magnetic-stripe-card", backNone, "MS", "None"},  // the back keeps the job's choice
      {"chip-card", {{"card-front-overlay", "none"}}, "ISO", "Full"},
      {"no-overlay-card", {}, "None", "None"},
      {"stationery", {}, "Full", "Full"},  // not a card kind: the options apply
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type ? c.type : "(no media type)");
    const Options got = forKind(c.type, c.vendor);
    EXPECT_EQ(got.at("CardFOverlay"), c.front);
    EXPECT_EQ(got.at("CardBOverlay"), c.back);
    EXPECT_EQ(got.at("CardRibbon"), "Auto");
  }
}

// The printer lists every kind, the plain card first (its default).
TEST(CardKind, EveryKindIsListed) {
  int count = 0;
  const char* const* kinds = CardMediaTypes(&count);
  ASSERT_EQ(count, 4);
  EXPECT_STREQ(kinds[0], "cardstock");
  for (int i = 1; i < count; ++i) EXPECT_NE(forKind(kinds[i]), forKind("cardstock")) << kinds[i];
}

}  // namespace
