// The overlay mask: black where the coat goes, white areas for stripe and
// chip, turned half a turn, stored in the side's slot; refusals leave all alone.
#include "pipeline_support.h"

namespace {

const tagRECT kEmpty = {0, 0, 0, 0};
const tagRECT kFull = {0, 0, 1013, 643};

// Mask pixels that differ from the expectation; white(col, shownRow) tells
// where the finished mask, rows counted from the top as shown, is white.
int MaskMismatches(const CxImage& mask, const std::function<bool(int, int)>& white) {
  int bad = 0;
  const int h = static_cast<int>(mask.GetHeight());
  for (int shown = 0; shown < h; ++shown)
    for (int col = 0; col < static_cast<int>(mask.GetWidth()); ++col) {
      Rgb want = white(col, shown) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
      if (!(PixelAt(mask, col, h - 1 - shown) == want)) ++bad;
    }
  return bad;
}

bool In(int v, int lo, int hi) { return v >= lo && v <= hi; }
bool Band(int, int row) { return In(row, 429, 576); }
bool Narrow(int, int row) { return In(row, 499, 572); }
bool Chip(int col, int row) { return In(col, 752, 906) && In(row, 289, 430); }

}  // namespace

TEST(OverlayMask, WhiteAreasOfEachTypeAfterTheHalfTurn) {
  struct Case {
    int type;
    tagRECT black, white;
    std::function<bool(int, int)> white_at;
    std::string log;
  } cases[] = {
      {0, kEmpty, kEmpty, [](int, int) { return false; },
       "\n[2] Varnish Area: nType = 0, Black=[0, 0, 1013, 643], White=[0, 0, 0, 0]"
       "\n[2] Varnish Area: m_nColorType 0 (256,0) [1013]"},
      {2, kEmpty, kEmpty, Band, ""},
      {3, kEmpty, kEmpty, Chip, "White=[106, 212, 260, 354]"},
      {4, kEmpty, kEmpty, Narrow, ""},  // design rows 70..143 show as 642-143 .. 642-70
      // Only the chip area is named in the log.
      {5, kEmpty, kEmpty, [](int c, int r) { return Narrow(c, r) || Chip(c, r); },
       "nType = 5, Black=[0, 0, 1013, 643], White=[106, 212, 260, 354]"},
      {1, kEmpty, kEmpty, [](int, int) { return true; }, ""},  // no coat at all
      // Black columns 10..30 of design rows 20..39, white columns 15..20 of
      // rows 25..29 on top; the half turn maps column c to 1012 - c, row t to 642 - t.
      {1, {10, 20, 30, 40}, {15, 25, 20, 30},
       [](int col, int row) {
         int dc = 1012 - col, dr = 642 - row;
         return !(In(dc, 10, 30) && In(dr, 20, 39)) || (In(dc, 15, 20) && In(dr, 25, 29));
       },
       ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.type);
    TestCtrl c;
    int r = 0;
    std::string log = StderrOf([&] { r = c.VK_Image_VarnishSendEx(k.type, k.black, k.white); });
    EXPECT_EQ(r, 21);
    ASSERT_TRUE(c.m_srcImgO.IsValid());
    EXPECT_EQ(SizeOf(c.m_srcImgO), "1013x643");
    EXPECT_EQ(MaskMismatches(c.m_srcImgO, k.white_at), 0);
    EXPECT_TRUE(Has(log, k.log)) << log;
    // A new image with its own settings, in the front slot.
    EXPECT_EQ(c.m_srcImgO.GetJpegQuality(), 90);
    EXPECT_EQ(c.m_srcImgO.GetXDPI(), 96);
    EXPECT_EQ(c.nFileSize[2], 256);
    EXPECT_EQ(c.nFileSize[5], 0);
  }
}

TEST(OverlayMask, RefusalsMakeNoMaskAndKeepSlotAndTable) {
  TestCtrl c;
  struct Case {
    int type;
    tagRECT black, white;
  } cases[] = {
      {256, kEmpty, kEmpty},           {6, kEmpty, kEmpty},
      {-1, kEmpty, kEmpty},            {1, {0, 0, 1014, 643}, kEmpty},
      {1, {-1, 0, 10, 10}, kEmpty},    {1, {0, -1, 10, 10}, kEmpty},
      {1, {0, 0, 10, 644}, kEmpty},    {1, kEmpty, {-1, 0, 10, 10}},
      {1, kEmpty, {0, -1, 10, 10}},    {1, kEmpty, {0, 0, 1014, 10}},
      {1, kEmpty, {0, 0, 10, 644}},
  };
  for (const Case& k : cases) {
    int r = 0;
    std::string log = StderrOf([&] { r = c.VK_Image_VarnishSendEx(k.type, k.black, k.white); });
    SCOPED_TRACE(k.type);
    EXPECT_EQ(r, 21);
    EXPECT_EQ(log, "");
    EXPECT_FALSE(c.m_srcImgO.IsValid());
    EXPECT_EQ(c.nFileSize[2], 0);
    EXPECT_EQ(c.nFileSize[5], 0);
  }
}

TEST(OverlayMask, SideChoosesTypeSlotAndEntry) {
  TestCtrl c;
  // Front of a two-sided card: the front option, front slot, entry 2.
  c.m_nColorType = 16;
  c.m_nFOverlay = 0;
  c.m_nBOverlay = 256;
  CxImage unused(0);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeOverlay(0, unused), 1); });
  EXPECT_TRUE(Has(log, "[->][m_nColorType 16  0 256]\n"));
  EXPECT_EQ(c.nFileSize[2], 256);
  EXPECT_TRUE(c.m_srcImgO.IsValid());
  // Back side with "None": no mask, entry 5 stays, front entry survives.
  c.m_nColorType = 32;
  EXPECT_EQ(StderrOf([&] { c.MakeOverlay(0, unused); }), "[->][m_nColorType 32  0 256]\n");
  EXPECT_EQ(c.nFileSize[5], 0);
  EXPECT_FALSE(c.m_srcImgO2.IsValid());
  EXPECT_EQ(c.nFileSize[2], 256);
  // Back side with the stripe: back slot and entry 5.
  c.m_nBOverlay = 2;
  log = StderrOf([&] { c.MakeOverlay(0, unused); });
  EXPECT_EQ(c.nFileSize[5], 256);
  ASSERT_TRUE(c.m_srcImgO2.IsValid());
  EXPECT_EQ(MaskMismatches(c.m_srcImgO2, Band), 0);
  EXPECT_TRUE(Has(log, "m_nColorType 32 (256,256) [1013]"));
  // A non-zero mode does nothing at all.
  TestCtrl quiet;
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(quiet.MakeOverlay(1, unused), 1); }), "");
  EXPECT_EQ(quiet.nFileSize[2], 0);
}

TEST(OverlayMask, CallerAreasGiveTheBytesOfDrawingUprightAndTurning) {
  struct Case {
    tagRECT black, white;
  } cases[] = {
      {kFull, {500, 0, 1013, 643}},
      {{900, 10, 20, 600}, {1200, 5, 1000, 50}},  // lines drawn right to left
      {{1012, 642, 1013, 643}, {0, 0, 1, 1}},
  };
  for (const Case& k : cases) {
    // The mask the long way: drawn upright line by line, then turned.
    CxImage want(0);
    want.Create(1013, 643, 24, 0);
    want.Clear(255);
    auto rows = [&](const tagRECT& r, const RGBQUAD& colour) {
      for (int y = 643 - r.bottom; y <= 643 - r.top - 1; ++y) want.DrawLine(r.left, r.right, y, y, colour, false);
    };
    rows(k.black, RGBQUAD{0, 0, 0, 0});
    rows(k.white, RGBQUAD{255, 255, 255, 0});
    want.Rotate180();

    TestCtrl c;
    StderrOf([&] { c.VK_Image_VarnishSendEx(1, k.black, k.white); });
    SCOPED_TRACE(k.black.left);
    ASSERT_TRUE(c.m_srcImgO.IsValid());
    EXPECT_TRUE(SamePixels(c.m_srcImgO, want));
    EXPECT_EQ(c.m_srcImgO.GetType(), want.GetType());
  }
}
