// Black separation: which pixels are black dots, how they leave the colour
// picture and enter the black panel; the monochrome conversion for black
// ribbons and rewritable cards.
#include "pipeline_support.h"

namespace {

const Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0}, kBackground{20, 60, 200};

// The separation the long way, one pass per step: extraction, hole repair,
// widening read from the candidates and written to a copy of them.
int SeparateStepByStep(CxImage& image, CxImage& panel) {
  const int w = static_cast<int>(image.GetWidth()), h = static_cast<int>(image.GetHeight());
  CxImage k(image);
  int dots = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb p = PixelAt(image, x, y);
      const bool dot = p.r < 10 && p.g < 10 && p.b < 10;
      dots += dot;
      SetPixelAt(dot ? image : k, x, y, kWhite);
    }
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b != 255) SetPixelAt(image, x, y, PixelAt(image, x - 1, y));
  panel = k;
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b == 0) SetPixelAt(panel, x - 1, y, kBlack);
  return dots;
}

}  // namespace

// Below the black level in every channel and near grey: with a higher level the spread matters.
TEST(BlackDot, OnlyPixelsBelowTheBlackLevelInEveryChannelAndNearGrey) {
  TestCtrl c;
  struct Case {
    int level, r, g, b, dot;
  } cases[] = {{10, 9, 9, 9, 1},  {10, 0, 0, 0, 1},  {10, 10, 9, 9, 0}, {10, 0, 10, 0, 0},
               {10, 0, 0, 10, 0}, {10, 0, 9, 5, 1},  {20, 0, 15, 5, 0}, {20, 3, 12, 7, 1}};
  for (const Case& k : cases) {
    c.m_nBlackLevel = k.level;
    EXPECT_EQ(c.VK_PrintRGB_Black(k.r, k.g, k.b), k.dot) << k.level << ": " << k.r << "," << k.g
                                                       << "," << k.b;
  }
}

TEST(BlackSeparation, SwitchedOffOrNoDotsLeavesPictureAndTable) {
  TestCtrl off, on;
  on.m_nBlackUse = 1, on.m_nLogImage = 0;
  CxImage img = Picture(12, 8), grey = FilledImage(5, 4, Rgb{10, 9, 9});
  SetPixelAt(img, 5, 5, kBlack);
  const CxImage before(img), greyBefore(grey);
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(off.MakeColorK(0, img), 0); }), "");
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(on.MakeColorK(0, grey), 1); }),
            "\n[2] Black Panel - dot count = 0, m_nLogImage = 0");
  EXPECT_TRUE(SamePixels(img, before) && SamePixels(grey, greyBefore));
  EXPECT_FALSE(off.m_srcImgK.IsValid() || on.m_srcImgK.IsValid());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(off.nFileSize[i] + on.nFileSize[i], 0) << i;
}

// Dense random near-black dots (many with blue 0, many in runs, on every
// border) over a colour picture; odd sizes so that rows carry padding; narrow
// images lose their dots without repair. The panel keeps the picture's settings.
TEST(BlackSeparation, SameBytesAsTheStepByStepSeparation) {
  uint32_t seed = 12345;
  auto next = [&] { return ((seed = seed * 1103515245u + 12345u) >> 16) & 0x7FFF; };
  for (auto size : {std::pair<int, int>{61, 37}, {2, 5}, {1, 3}, {5, 2}}) {
    const int w = size.first, h = size.second;
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    CxImage original = FilledImage(w, h, kBackground);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t r = next() % 8, m = r < 3 ? 10 : 256;
        const uint8_t red = uint8_t(next() % m), green = uint8_t(next() % m);
        if (r <= 3) SetPixelAt(original, x, y, Rgb{red, green, uint8_t(r ? next() % m : 0)});
      }
    SetPixelAt(original, w - 1, h / 2, Rgb{5, 5, 0});
    original.SetJpegQuality(100);
    original.SetXDPI(300);
    CxImage expectedImage(original), expectedPanel(0), image(original);
    const int dots = SeparateStepByStep(expectedImage, expectedPanel);
    TestCtrl c;
    c.m_nBlackUse = 1, c.m_nLogImage = 0;
    EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, image), 1); }),
              "\n[2] Black Panel - dot count = " + std::to_string(dots) +
                  ", m_nLogImage = 0\n[2] MakeColorK: m_nColorType 0 (256,0)");
    EXPECT_TRUE(SamePixels(image, expectedImage));
    EXPECT_TRUE(SamePixels(c.m_srcImgK, expectedPanel));
    EXPECT_EQ(c.m_srcImgK.GetJpegQuality(), 100);
    EXPECT_EQ(c.m_srcImgK.GetXDPI(), 300);
  }
}

// Full-red colours stay and the rest goes black; a pixel left of one without
// red turns black too, from the first pixel of a row to the last, never
// across rows.
TEST(Monochrome, FullRedStaysDarkerGoesBlackAndDarkPixelsWidenLeft) {
  TestCtrl c;
  const Rgb yellow{255, 255, 0}, grey{128, 128, 128}, magenta{255, 0, 255}, cyan{0, 255, 255};
  const Rgb in[3][6] = {{kWhite, kWhite, yellow, grey, magenta, kWhite},
                        {kWhite, {255, 200, 100}, {0, 50, 60}, kWhite, kWhite, kBlack},
                        {kWhite, cyan, kWhite, kWhite, kWhite, kWhite}};
  const Rgb want[3][6] = {{kWhite, kWhite, yellow, kBlack, magenta, kWhite},
                          {kWhite, kBlack, kBlack, kWhite, kBlack, kBlack},
                          {kBlack, kBlack, kWhite, kWhite, kWhite, kWhite}};
  CxImage img = FilledImage(6, 3, kWhite), one = FilledImage(1, 2, kWhite), empty(0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) SetPixelAt(img, x, y, in[y][x]);
  SetPixelAt(one, 0, 1, grey);  // one-pixel rows: nothing on the right to compare with
  EXPECT_EQ(StderrOf([&] {
              EXPECT_EQ(c.VK_Image_Change(0, img) + c.VK_Image_Change(0, one), 0);
              EXPECT_EQ(c.VK_Image_Change(0, empty), 0);
            }),
            "\n[2] VK_Image_Change: 0\n[2] VK_Image_Change: 0\n[2] VK_Image_Change: 0");
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(PixelAt(img, x, y), want[y][x]) << x << "," << y;
  EXPECT_TRUE(PixelAt(one, 0, 0) == kWhite && PixelAt(one, 0, 1) == kBlack && !empty.IsValid());
}
