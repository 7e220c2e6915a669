// The overlay mask: black where the coat goes, white areas for stripe and
// chip, turned half a turn, stored in the side's slot; refusals leave all alone.
#include "pipeline_support.h"

namespace {

const tagRECT kEmpty = {0, 0, 0, 0};

// Counts the mask pixels that differ from the expectation; white(col, shownRow)
// tells where the finished mask (rows counted from the top as shown) is white.
int MaskMismatches(const CxImage& mask, const std::function<bool(int, int)>& white) {
  int bad = 0;
  const int h = static_cast<int>(mask.GetHeight());
  for (int shown = 0; shown < h; ++shown) {
    for (int col = 0; col < static_cast<int>(mask.GetWidth()); ++col) {
      Rgb want = white(col, shown) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
      if (!(PixelAt(mask, col, h - 1 - shown) == want)) ++bad;
    }
  }
  return bad;
}

bool In(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

TEST(OverlayMask, FullCoatIsAllBlackWithNewImageSettings) {
  TestCtrl c;
  std::string log;
  int r = 0;
  log = StderrOf([&] { r = c.VK_Image_VarnishSendEx(0, kEmpty, kEmpty); });
  EXPECT_EQ(r, 21);
  ASSERT_TRUE(c.m_srcImgO.IsValid());
  EXPECT_EQ(c.m_srcImgO.GetWidth(), 1013u);
  EXPECT_EQ(c.m_srcImgO.GetHeight(), 643u);
  EXPECT_EQ(MaskMismatches(c.m_srcImgO, [](int, int) { return false; }), 0);
  EXPECT_EQ(c.m_srcImgO.GetJpegQuality(), 90);
  EXPECT_EQ(c.m_srcImgO.GetXDPI(), 96);
  EXPECT_EQ(c.nFileSize[2], 256);
  EXPECT_EQ(c.nFileSize[5], 0);
  EXPECT_EQ(log,
            "\n[2] Varnish Area: nType = 0, Black=[0, 0, 1013, 643], White=[0, 0, 0, 0]"
            "\n[2] Varnish Area: m_nColorType 0 (256,0) [1013]");
}

TEST(OverlayMask, StripeBandIsWhiteAcrossTheCardAfterTheHalfTurn) {
  TestCtrl c;
  StderrOf([&] { c.VK_Image_VarnishSendEx(2, kEmpty, kEmpty); });
  EXPECT_EQ(MaskMismatches(c.m_srcImgO, [](int, int row) { return In(row, 429, 576); }), 0);
}

TEST(OverlayMask, ChipAreaLandsOnTheOppositeCornerAfterTheHalfTurn) {
  TestCtrl c;
  std::string log = StderrOf([&] { c.VK_Image_VarnishSendEx(3, kEmpty, kEmpty); });
  EXPECT_EQ(MaskMismatches(c.m_srcImgO,
                           [](int col, int row) { return In(col, 752, 906) && In(row, 289, 430); }),
            0);
  EXPECT_NE(log.find("White=[106, 212, 260, 354]"), std::string::npos);
}

TEST(OverlayMask, NarrowBandAndChipWithBandTypes) {
  TestCtrl c;
  StderrOf([&] { c.VK_Image_VarnishSendEx(4, kEmpty, kEmpty); });
  // Design rows 70..143 end as shown rows 642-143 .. 642-70.
  EXPECT_EQ(MaskMismatches(c.m_srcImgO, [](int, int row) { return In(row, 499, 572); }), 0);

  std::string log = StderrOf([&] { c.VK_Image_VarnishSendEx(5, kEmpty, kEmpty); });
  EXPECT_EQ(MaskMismatches(c.m_srcImgO,
                           [](int col, int row) {
                             return In(row, 499, 572) || (In(col, 752, 906) && In(row, 289, 430));
                           }),
            0);
  // Only the chip area is named in the log.
  EXPECT_NE(log.find("nType = 5, Black=[0, 0, 1013, 643], White=[106, 212, 260, 354]"),
            std::string::npos);
}

TEST(OverlayMask, CallerAreasOfTypeOne) {
  TestCtrl c;
  // Empty rectangles: a mask that applies no coat at all.
  StderrOf([&] { c.VK_Image_VarnishSendEx(1, kEmpty, kEmpty); });
  EXPECT_EQ(MaskMismatches(c.m_srcImgO, [](int, int) { return true; }), 0);

  // Black columns 10..30 of design rows 20..39, white columns 15..20 of rows 25..29
  // on top of it; the half turn maps column c to 1012 - c and row t to 642 - t.
  const tagRECT black = {10, 20, 30, 40};
  const tagRECT white = {15, 25, 20, 30};
  StderrOf([&] { c.VK_Image_VarnishSendEx(1, black, white); });
  EXPECT_EQ(MaskMismatches(c.m_srcImgO,
                           [](int col, int row) {
                             int dc = 1012 - col, dr = 642 - row;
                             bool coat = In(dc, 10, 30) && In(dr, 20, 39);
                             bool bare = In(dc, 15, 20) && In(dr, 25, 29);
                             return !coat || bare;
                           }),
            0);
}

TEST(OverlayMask, RefusalsMakeNoMaskAndKeepSlotAndTable) {
  TestCtrl c;
  struct Case {
    int type;
    tagRECT black, white;
  } cases[] = {
      {256, kEmpty, kEmpty},
      {6, kEmpty, kEmpty},
      {-1, kEmpty, kEmpty},
      {1, {0, 0, 1014, 643}, kEmpty},
      {1, {-1, 0, 10, 10}, kEmpty},
      {1, {0, -1, 10, 10}, kEmpty},
      {1, {0, 0, 10, 644}, kEmpty},
      {1, kEmpty, {-1, 0, 10, 10}},
      {1, kEmpty, {0, -1, 10, 10}},
      {1, kEmpty, {0, 0, 1014, 10}},
      {1, kEmpty, {0, 0, 10, 644}},
  };
  for (const Case& k : cases) {
    int r = 0;
    std::string log = StderrOf([&] { r = c.VK_Image_VarnishSendEx(k.type, k.black, k.white); });
    EXPECT_EQ(r, 21);
    EXPECT_EQ(log, "") << "type " << k.type;
    EXPECT_FALSE(c.m_srcImgO.IsValid()) << "type " << k.type;
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
  EXPECT_NE(log.find("[->][m_nColorType 16  0 256]\n"), std::string::npos);
  EXPECT_EQ(c.nFileSize[2], 256);
  EXPECT_TRUE(c.m_srcImgO.IsValid());

  // Back side with "None": no mask, entry 5 stays, front entry survives.
  c.m_nColorType = 32;
  log = StderrOf([&] { c.MakeOverlay(0, unused); });
  EXPECT_EQ(log, "[->][m_nColorType 32  0 256]\n");
  EXPECT_EQ(c.nFileSize[5], 0);
  EXPECT_FALSE(c.m_srcImgO2.IsValid());
  EXPECT_EQ(c.nFileSize[2], 256);

  // Back side with the stripe: back slot and entry 5.
  c.m_nBOverlay = 2;
  log = StderrOf([&] { c.MakeOverlay(0, unused); });
  EXPECT_EQ(c.nFileSize[5], 256);
  ASSERT_TRUE(c.m_srcImgO2.IsValid());
  EXPECT_EQ(MaskMismatches(c.m_srcImgO2, [](int, int row) { return In(row, 429, 576); }), 0);
  EXPECT_NE(log.find("m_nColorType 32 (256,256) [1013]"), std::string::npos);

  // A non-zero mode does nothing at all.
  TestCtrl quiet;
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(quiet.MakeOverlay(1, unused), 1); }), "");
  EXPECT_EQ(quiet.nFileSize[2], 0);
}

namespace {

// The mask built the long way: drawn upright line by line, then turned.
CxImage UprightThenTurned(const tagRECT& black, const tagRECT& white, const tagRECT& white2) {
  CxImage mask(0);
  mask.Create(1013, 643, 24, 0);
  mask.Clear(255);
  const RGBQUAD coat = {0, 0, 0, 0}, bare = {255, 255, 255, 0};
  if (black.right >= 1 && black.bottom >= 1)
    for (int r = 643 - black.bottom; r <= 643 - black.top - 1; ++r)
      mask.DrawLine(black.left, black.right, r, r, coat, false);
  if (white.right >= 1 && white.bottom >= 1) {
    for (int r = 643 - white.bottom; r <= 643 - white.top - 1; ++r)
      mask.DrawLine(white.left, white.right, r, r, bare, false);
    for (int r = 643 - white2.bottom; r <= 643 - white2.top - 1; ++r)
      mask.DrawLine(0, white2.right, r, r, bare, false);
  }
  mask.Rotate180();
  return mask;
}

}  // namespace

TEST(OverlayMask, SameBytesAsDrawingUprightAndTurning) {
  const tagRECT full = {0, 0, 1013, 643};
  struct Case {
    int type;
    tagRECT black, white, white2;
  } cases[] = {
      {0, full, kEmpty, kEmpty},
      {2, full, {0, 66, 1013, 214}, kEmpty},
      {3, full, {106, 212, 260, 354}, kEmpty},
      {4, full, {0, 70, 1013, 144}, kEmpty},
      {5, full, {106, 212, 260, 354}, {0, 70, 1013, 144}},
      {1, {0, 0, 1013, 643}, {500, 0, 1013, 643}, kEmpty},
      {1, {900, 10, 20, 600}, {1200, 5, 1000, 50}, kEmpty},  // lines drawn right to left
      {1, {1012, 642, 1013, 643}, {0, 0, 1, 1}, kEmpty},
  };
  for (const Case& k : cases) {
    TestCtrl c;
    StderrOf([&] { c.VK_Image_VarnishSendEx(k.type, k.black, k.white); });
    ASSERT_TRUE(c.m_srcImgO.IsValid()) << "type " << k.type;
    CxImage want = UprightThenTurned(k.black, k.white, k.white2);
    EXPECT_TRUE(SamePixels(c.m_srcImgO, want)) << "type " << k.type << " black.left " << k.black.left;
    EXPECT_EQ(c.m_srcImgO.GetJpegQuality(), want.GetJpegQuality());
    EXPECT_EQ(c.m_srcImgO.GetXDPI(), want.GetXDPI());
    EXPECT_EQ(c.m_srcImgO.GetType(), want.GetType());
  }
}
