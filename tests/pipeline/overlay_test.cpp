// The overlay mask: black where the coat goes, white areas for stripe and
// chip, turned half a turn, stored in the side's slot; refusals leave all alone.
#include "pipeline_support.h"

namespace {

using Areas = std::vector<tagRECT>;
const tagRECT kEmpty = {0, 0, 0, 0}, kCard = {0, 0, 1013, 643};
const tagRECT kBand = {0, 66, 1013, 214}, kNarrow = {0, 70, 1013, 144};
const tagRECT kChip = {106, 212, 260, 354};

}  // namespace

// Each mask has the bytes of its areas drawn upright line by line (right
// edge included, bottom edge not) and turned: the type's own areas, or the
// caller's (whole card, lines drawn right to left, areas past the card, one
// pixel in either corner). A new image with its own settings, in the front slot.
TEST(OverlayMask, AreasOfEachTypeDrawnUprightAndTurned) {
  struct Case {
    int type;
    tagRECT black, white;  // the caller's areas
    Areas blackAreas, whiteAreas;
    std::string log;
  } cases[] = {
      {0, kEmpty, kEmpty, {kCard}, {},
       "\n[2] Varnish Area: nType = 0, Black=[0, 0, 1013, 643], White=[0, 0, 0, 0]"
       "\n[2] Varnish Area: m_nColorType 0 (256,0) [1013]"},
      {2, kEmpty, kEmpty, {kCard}, {kBand}, ""},
      {3, kEmpty, kEmpty, {kCard}, {kChip}, "White=[106, 212, 260, 354]"},
      {4, kEmpty, kEmpty, {kCard}, {kNarrow}, ""},
      // Only the chip area is named in the log.
      {5, kEmpty, kEmpty, {kCard}, {kNarrow, kChip},
       "nType = 5, Black=[0, 0, 1013, 643], White=[106, 212, 260, 354]"},
      {1, kEmpty, kEmpty, {}, {}, ""},  // no coat at all
      {1, kCard, {500, 0, 1013, 643}, {kCard}, {{500, 0, 1013, 643}}, ""},
      {1, {900, 10, 20, 600}, {1200, 5, 1000, 50}, {{900, 10, 20, 600}}, {{1200, 5, 1000, 50}}, ""},
      {1, {1012, 642, 1013, 643}, {0, 0, 1, 1}, {{1012, 642, 1013, 643}}, {{0, 0, 1, 1}}, ""},
      {1, {10, 20, 30, 40}, {15, 25, 20, 30}, {{10, 20, 30, 40}}, {{15, 25, 20, 30}}, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.type << " " << k.black.left << " " << k.white.left);
    CxImage want(0);
    want.Create(1013, 643, 24, 0);
    want.Clear(255);
    auto draw = [&](const Areas& areas, uint8_t v) {
      for (const tagRECT& r : areas)
        for (int y = 643 - r.bottom; y <= 643 - r.top - 1; ++y)
          want.DrawLine(r.left, r.right, y, y, RGBQUAD{v, v, v, 0}, false);
    };
    draw(k.blackAreas, 0);
    draw(k.whiteAreas, 255);
    want.Rotate180();
    TestCtrl c;
    int r = 0;
    const std::string log =
        StderrOf([&] { r = c.VK_Image_VarnishSendEx(k.type, k.black, k.white); });
    EXPECT_EQ(r, 21);
    ASSERT_TRUE(c.m_srcImgO.IsValid());
    EXPECT_TRUE(SamePixels(c.m_srcImgO, want));
    EXPECT_EQ(c.m_srcImgO.GetType(), want.GetType());
    EXPECT_TRUE(Has(log, k.log)) << log;
    EXPECT_EQ(c.m_srcImgO.GetJpegQuality(), 90);
    EXPECT_EQ(c.m_srcImgO.GetXDPI(), 96);
    EXPECT_EQ(c.nFileSize[2], 256);
    EXPECT_EQ(c.nFileSize[5], 0);
  }
}

TEST(OverlayMask, RefusalsMakeNoMaskAndKeepSlotAndTable) {
  TestCtrl c;
  const tagRECT areas[] = {{0, 0, 1014, 643}, {-1, 0, 10, 10}, {0, -1, 10, 10}, {0, 0, 10, 644}};
  auto refused = [&](int type, const tagRECT& black, const tagRECT& white) {
    int r = 0;
    EXPECT_EQ(StderrOf([&] { r = c.VK_Image_VarnishSendEx(type, black, white); }), "");
    EXPECT_EQ(r, 21);
    EXPECT_FALSE(c.m_srcImgO.IsValid());
    EXPECT_EQ(c.nFileSize[2] + c.nFileSize[5], 0);
  };
  for (int type : {256, 6, -1}) refused(type, kEmpty, kEmpty);
  for (const tagRECT& a : areas) {
    SCOPED_TRACE(testing::Message() << a.left << "," << a.top << "," << a.right << "," << a.bottom);
    refused(1, a, kEmpty);
    refused(1, kEmpty, a);
  }
}
