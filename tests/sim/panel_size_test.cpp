// The simulator's check of a panel's size from its JPEG header, before it
// decodes one for a preview: a panel is at most a card's 1013 x 643 pixels,
// in either direction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/preview/jpegsize.h"
#include "support/libjpeg_write.h"

namespace {

// A grey JPEG of the given size.
std::vector<uint8_t> greyJpeg(int width, int height) {
  return LibjpegWrite(std::vector<uint8_t>(size_t(width) * size_t(height), 128), width, height, true, 75);
}

TEST(SimPanelSize, APanelUpToACardIsTakenAndOnePixelMoreIsNot) {
  using cardpreview::kPanelMaxHeight;
  using cardpreview::kPanelMaxWidth;
  const struct {
    int width, height;
    const char* refusal;  // empty: the panel fits
  } kCases[] = {
      {kPanelMaxWidth, kPanelMaxHeight, ""},
      {1, 1, ""},
      {kPanelMaxWidth + 1, kPanelMaxHeight, "1014 x 643 pixels, larger than the 1013 x 643 of a panel"},
      {kPanelMaxWidth, kPanelMaxHeight + 1, "1013 x 644 pixels, larger than the 1013 x 643 of a panel"},
      // A card's panel turned on its side is no panel.
      {kPanelMaxHeight, kPanelMaxWidth, "643 x 1013 pixels, larger than the 1013 x 643 of a panel"},
  };
  for (const auto& c : kCases) {
    const std::vector<uint8_t> jpeg = greyJpeg(c.width, c.height);
    std::string why;
    EXPECT_EQ(cardpreview::PanelFitsCard(jpeg.data(), jpeg.size(), why), std::string(c.refusal).empty())
        << c.width << " x " << c.height;
    EXPECT_EQ(why, c.refusal) << c.width << " x " << c.height;
  }
  // Bytes that are no JPEG: refused, with libjpeg's reason.
  const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
  std::string why;
  EXPECT_FALSE(cardpreview::PanelFitsCard(junk.data(), junk.size(), why));
  EXPECT_EQ(why.compare(0, 6, "JPEG: "), 0) << why;
  EXPECT_FALSE(cardpreview::PanelFitsCard(nullptr, 0, why));
  EXPECT_EQ(why, "empty JPEG data");
}

}  // namespace
