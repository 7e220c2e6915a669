// The overlay mask: black where the coat goes, white areas for stripe and
// chip, turned half a turn, stored in the side's slot; refusals leave all alone.
#include "pipeline_support.h"

namespace {

const tagRECT kEmpty = {0, 0, 0, 0};

// Mask pixels that differ from the expectation; white(col, shownRow) tells
// where the finished mask, rows counted from the top as shown, is white.
int MaskMismatches(const CxImage& mask, const std::function<bool(int, int)>& white) {
  int bad = 0;
  const int h = static_cast<int>(mask.GetHeight());
  for (int shown = 0; shown < h; ++shown)
    for (int col = 0; col < static_cast<int>(mask.GetWidth()); ++col)
      bad += !(PixelAt(mask, col, h - 1 - shown) == (white(col, shown) ? Rgb{255, 255, 255} : Rgb{0, 0, 0}));
  return bad;
}

bool In(int v, int lo, int hi) { return v >= lo && v <= hi; }
bool Band(int, int row) { return In(row, 429, 576); }
bool Narrow(int, int row) { return In(row, 499, 572); }  // design rows 70..143 turned
bool Chip(int col, int row) { return In(col, 752, 906) && In(row, 289, 430); }

}  // namespace

TEST(OverlayMask, WhiteAreasOfEachTypeAfterTheHalfTurn) {
  struct Case {
    int type;
    std::function<bool(int, int)> white;
    std::string log;
  } cases[] = {
      {0, [](int, int) { return false; },
       "\n[2] Varnish Area: nType = 0, Black=[0, 0, 1013, 643], White=[0, 0, 0, 0]"
       "\n[2] Varnish Area: m_nColorType 0 (256,0) [1013]"},
      {2, Band, ""},
      {3, Chip, "White=[106, 212, 260, 354]"},
      {4, Narrow, ""},
      // Only the chip area is named in the log.
      {5, [](int c, int r) { return Narrow(c, r) || Chip(c, r); },
       "nType = 5, Black=[0, 0, 1013, 643], White=[106, 212, 260, 354]"},
      {1, [](int, int) { return true; }, ""},  // no coat at all
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.type);
    TestCtrl c;
    int r = 0;
    const std::string log = StderrOf([&] { r = c.VK_Image_VarnishSendEx(k.type, kEmpty, kEmpty); });
    EXPECT_EQ(r, 21);
    ASSERT_TRUE(c.m_srcImgO.IsValid());
    EXPECT_EQ(SizeOf(c.m_srcImgO), "1013x643");
    EXPECT_EQ(MaskMismatches(c.m_srcImgO, k.white), 0);
    EXPECT_TRUE(Has(log, k.log)) << log;
    // A new image with its own settings, in the front slot.
    EXPECT_EQ(c.m_srcImgO.GetJpegQuality(), 90);
    EXPECT_EQ(c.m_srcImgO.GetXDPI(), 96);
    EXPECT_EQ(c.nFileSize[2], 256);
    EXPECT_EQ(c.nFileSize[5], 0);
  }
}

// Caller areas give the bytes of drawing them upright line by line and
// turning: whole card, lines drawn right to left, areas past the card, one
// pixel in either corner.
TEST(OverlayMask, CallerAreasGiveTheBytesOfDrawingUprightAndTurning) {
  const tagRECT cases[][2] = {{{0, 0, 1013, 643}, {500, 0, 1013, 643}},
                              {{900, 10, 20, 600}, {1200, 5, 1000, 50}},
                              {{1012, 642, 1013, 643}, {0, 0, 1, 1}},
                              {{10, 20, 30, 40}, {15, 25, 20, 30}}};
  for (const auto& k : cases) {
    CxImage want(0);
    want.Create(1013, 643, 24, 0);
    want.Clear(255);
    auto rows = [&](const tagRECT& r, const RGBQUAD& colour) {
      for (int y = 643 - r.bottom; y <= 643 - r.top - 1; ++y) want.DrawLine(r.left, r.right, y, y, colour, false);
    };
    rows(k[0], RGBQUAD{0, 0, 0, 0});
    rows(k[1], RGBQUAD{255, 255, 255, 0});
    want.Rotate180();
    TestCtrl c;
    StderrOf([&] { c.VK_Image_VarnishSendEx(1, k[0], k[1]); });
    SCOPED_TRACE(k[0].left);
    ASSERT_TRUE(c.m_srcImgO.IsValid());
    EXPECT_TRUE(SamePixels(c.m_srcImgO, want));
    EXPECT_EQ(c.m_srcImgO.GetType(), want.GetType());
  }
}

TEST(OverlayMask, RefusalsMakeNoMaskAndKeepSlotAndTable) {
  TestCtrl c;
  const std::pair<int, tagRECT> types[] = {{256, kEmpty}, {6, kEmpty}, {-1, kEmpty}};
  const tagRECT areas[] = {{0, 0, 1014, 643}, {-1, 0, 10, 10}, {0, -1, 10, 10}, {0, 0, 10, 644}};
  auto refused = [&](int type, const tagRECT& black, const tagRECT& white) {
    int r = 0;
    EXPECT_EQ(StderrOf([&] { r = c.VK_Image_VarnishSendEx(type, black, white); }), "");
    EXPECT_EQ(r, 21);
    EXPECT_FALSE(c.m_srcImgO.IsValid());
    EXPECT_EQ(c.nFileSize[2] + c.nFileSize[5], 0);
  };
  for (const auto& t : types) refused(t.first, t.second, kEmpty);
  for (const tagRECT& a : areas) {
    SCOPED_TRACE(testing::Message() << a.left << "," << a.top << "," << a.right << "," << a.bottom);
    refused(1, a, kEmpty);
    refused(1, kEmpty, a);
  }
}
