// The card's kind as its media type: the overlays each kind sets over the
// job's options, as driverless CUPS queues pass only the media type on.
#include <gtest/gtest.h>

#include <cstring>

#include <map>
#include <string>

#include "app/vk4400_app.h"
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

TEST(CardKind, TheDriverOffersTheWholeCardAt300Dpi) {
  // Pages come to the card worker at the card's full size: 643 x 1013 pixels.
  pappl_pr_driver_data_t data;
  memset(&data, 0, sizeof(data));
  ipp_t* attrs = nullptr;
  ASSERT_TRUE(CardDriverCallback(nullptr, VKR_DRIVER_NAME, "socket://127.0.0.1:9100", "", &data, &attrs, nullptr));
  ippDelete(attrs);
  const pappl_media_col_t& card = data.media_default;
  EXPECT_EQ(card.size_width * 300 / 2540, 643);
  EXPECT_EQ(card.size_length * 300 / 2540, 1013);
  EXPECT_EQ(data.x_default, 300);
  EXPECT_EQ(data.y_default, 300);
  EXPECT_EQ(card.left_margin + card.right_margin + card.top_margin + card.bottom_margin, 0) << "borderless";
}
