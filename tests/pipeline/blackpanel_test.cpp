// Black separation: which pixels are black dots, how they leave the colour
// picture and enter the black panel; the monochrome conversion for black
// ribbons and rewritable cards.
#include <set>
#include <utility>

#include "pipeline_support.h"

namespace {

const Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0};
const Rgb kBackground{20, 60, 200};  // a blue that is not near-black
const Rgb kDotGrey{3, 5, 2};         // near-black, blue byte 2: no widening
const Rgb kDotBlue0{5, 5, 0};        // near-black, blue byte 0: widens left

using Spot = std::pair<int, int>;

// 12 x 8, blue, with a 4 x 3 bar of grey dots, a pair of blue-0 dots, a dot
// on every border and a run that starts in column 0.
const int kW = 12, kH = 8;
std::vector<std::pair<Spot, Rgb>> TextDots() {
  std::vector<std::pair<Spot, Rgb>> dots;
  for (int y = 3; y <= 5; ++y)
    for (int x = 4; x <= 7; ++x) dots.push_back({{x, y}, kDotGrey});
  for (Spot s : {Spot{9, 2}, {10, 2}, {0, 4}, {11, 4}, {5, 0}, {6, 7}}) dots.push_back({s, kDotBlue0});
  for (int x = 0; x <= 2; ++x) dots.push_back({{x, 6}, Rgb{4, 4, 0}});
  return dots;
}
CxImage TextImage() {
  CxImage img = FilledImage(kW, kH, kBackground);
  for (const auto& d : TextDots()) SetPixelAt(img, d.first.first, d.first.second, d.second);
  return img;
}

struct BlackOn : TestCtrl {
  explicit BlackOn(int colorType = 0) {
    m_nBlackUse = 1;
    m_nLogImage = 0;
    m_nColorType = colorType;
  }
};

}  // namespace

TEST(BlackDot, OnlyPixelsBelowTheBlackLevelInEveryChannel) {
  TestCtrl c;
  struct Case {
    int level, r, g, b, dot;
  } cases[] = {{10, 9, 9, 9, 1},  {10, 0, 0, 0, 1},  {10, 10, 0, 0, 0}, {10, 0, 10, 0, 0},
               {10, 0, 0, 10, 0}, {10, 0, 9, 5, 1},  // with a higher level the spread matters
               {20, 0, 15, 5, 0}, {20, 3, 12, 7, 1}};
  for (const Case& k : cases) {
    c.m_nBlackLevel = k.level;
    EXPECT_EQ(c.VK_PrintRGB_Black(k.r, k.g, k.b), k.dot) << k.level << ": " << k.r << "," << k.g << "," << k.b;
  }
}

TEST(BlackSeparation, SwitchedOffOrNoDotsLeavesPictureAndTable) {
  TestCtrl off;
  CxImage img = TextImage(), before(img);
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(off.MakeColorK(0, img), 0); }), "");
  EXPECT_TRUE(SamePixels(img, before));
  EXPECT_FALSE(off.m_srcImgK.IsValid());
  EXPECT_EQ(off.nFileSize[3], 0);

  BlackOn c;
  img = FilledImage(5, 4, Rgb{10, 9, 9});
  before = img;
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, img), 1); });
  EXPECT_EQ(log, "\n[2] Black Panel - dot count = 0, m_nLogImage = 0");
  EXPECT_TRUE(SamePixels(img, before));
  EXPECT_FALSE(c.m_srcImgK.IsValid());
  EXPECT_EQ(std::vector<int>(c.nFileSize, c.nFileSize + 12), std::vector<int>(12, 0));
}

TEST(BlackSeparation, TextMovesToTheSidesBlackPanelAndHolesTakeTheColourOnTheirLeft) {
  for (int side : {0, 32}) {
    SCOPED_TRACE(side);
    BlackOn c(side);
    if (side == 32) c.nFileSize[3] = 256;  // the front's panel, kept
    CxImage img = TextImage();
    img.SetJpegQuality(100);
    img.SetXDPI(300);
    img.SetYDPI(300);
    const auto dots = TextDots();
    std::string log = StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, img), 1); });
    EXPECT_TRUE(Has(log, "\n[2] Black Panel - dot count = " + std::to_string(dots.size()) +
                             ", m_nLogImage = 0"));
    EXPECT_TRUE(Has(log, side ? "\n[2] MakeColorK: m_nColorType 32 (256,256)"
                              : "\n[2] MakeColorK: m_nColorType 0 (256,0)"));
    EXPECT_EQ(c.nFileSize[3], 256);
    EXPECT_EQ(c.nFileSize[6], side ? 256 : 0);
    EXPECT_FALSE((side ? c.m_srcImgK : c.m_srcImgK2).IsValid());

    // Colour picture: inner dots show the blue to their left; dots on the
    // border rows and columns stay white holes, and so does a run that starts
    // in the first column (it copies the hole on its left).
    std::set<Spot> holes = {{0, 4}, {11, 4}, {5, 0}, {6, 7}, {0, 6}, {1, 6}, {2, 6}};
    // Black panel: white, each dot with its own values, and a black pixel left
    // of every inner dot whose blue byte is 0.
    std::set<Spot> widened = {{8, 2}, {9, 2}, {0, 6}, {1, 6}};
    const CxImage& k = side ? c.m_srcImgK2 : c.m_srcImgK;
    ASSERT_TRUE(k.IsValid());
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        EXPECT_EQ(PixelAt(img, x, y), holes.count({x, y}) ? kWhite : kBackground) << x << "," << y;
        Rgb want = kWhite;
        for (const auto& d : dots)
          if (d.first == Spot(x, y)) want = d.second;
        if (widened.count({x, y})) want = kBlack;
        EXPECT_EQ(PixelAt(k, x, y), want) << "black panel at " << x << "," << y;
      }
    // The panel carries the card image's settings into the print job.
    EXPECT_EQ(k.GetJpegQuality(), 100);
    EXPECT_EQ(k.GetXDPI(), 300);
  }
}

namespace {

// The separation the long way, one pass per step: extraction, hole repair,
// widening read from the candidates and written to a copy of them.
void SeparateStepByStep(CxImage& image, CxImage& panel) {
  const int w = static_cast<int>(image.GetWidth()), h = static_cast<int>(image.GetHeight());
  CxImage k(image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb p = PixelAt(image, x, y);
      SetPixelAt(p.r < 10 && p.g < 10 && p.b < 10 ? image : k, x, y, kWhite);
    }
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b != 255) SetPixelAt(image, x, y, PixelAt(image, x - 1, y));
  panel = k;
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b == 0) SetPixelAt(panel, x - 1, y, kBlack);
}

}  // namespace

TEST(BlackSeparation, SameBytesAsTheStepByStepSeparation) {
  // Dense random near-black dots (many with blue 0, many in runs) over a
  // colour picture; odd sizes so that rows carry padding; narrow images
  // lose their dots without repair.
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (Spot size : {Spot{61, 37}, {2, 5}, {1, 3}, {5, 2}}) {
    CxImage original = FilledImage(size.first, size.second, kBackground);
    for (int y = 0; y < size.second; ++y)
      for (int x = 0; x < size.first; ++x) {
        uint32_t r = next() % 8;
        if (r < 3)
          SetPixelAt(original, x, y,
                     Rgb{uint8_t(next() % 10), uint8_t(next() % 10), uint8_t(r == 0 ? 0 : next() % 10)});
        else if (r == 3)
          SetPixelAt(original, x, y, Rgb{uint8_t(next()), uint8_t(next()), uint8_t(next())});
      }
    SetPixelAt(original, size.first - 1, size.second / 2, kDotBlue0);
    CxImage expectedImage(original), expectedPanel(0), image(original);
    SeparateStepByStep(expectedImage, expectedPanel);
    BlackOn c;
    StderrOf([&] { c.MakeColorK(0, image); });
    EXPECT_TRUE(SamePixels(image, expectedImage)) << size.first << "x" << size.second;
    EXPECT_TRUE(SamePixels(c.m_srcImgK, expectedPanel)) << size.first << "x" << size.second;
  }
}

TEST(Monochrome, FullRedStaysDarkerGoesBlackAndDarkPixelsWidenLeft) {
  TestCtrl c;
  const Rgb yellow{255, 255, 0}, grey{128, 128, 128}, magenta{255, 0, 255};
  CxImage img = FilledImage(6, 3, kWhite);
  // Row 0: full-red colours keep their values, grey goes black.
  // Row 1: a light pixel and a white pixel left of a pixel without red turn black.
  // Row 2 stays white although the row before it ends dark.
  const Rgb in[2][6] = {{kWhite, kWhite, yellow, grey, magenta, kWhite},
                        {kWhite, {255, 200, 100}, {0, 50, 60}, kWhite, kWhite, kBlack}};
  const Rgb want[3][6] = {{kWhite, kWhite, yellow, kBlack, magenta, kWhite},
                          {kWhite, kBlack, kBlack, kWhite, kBlack, kBlack},
                          {kWhite, kWhite, kWhite, kWhite, kWhite, kWhite}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x) SetPixelAt(img, x, y, in[y][x]);
  std::string log = StderrOf([&] { EXPECT_EQ(c.VK_Image_Change(0, img), 0); });
  EXPECT_EQ(log, "\n[2] VK_Image_Change: 0");
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(PixelAt(img, x, y), want[y][x]) << x << "," << y;
}

TEST(Monochrome, FirstPixelsCompareWithTheirOwnNeighbour) {
  TestCtrl c;
  // Pixel 0 left of a black pixel 1 widens; pixel 1 left of a white pixel 2
  // does not, whatever the row before ended with.
  CxImage img = FilledImage(5, 2, kWhite);
  SetPixelAt(img, 4, 0, kBlack);
  SetPixelAt(img, 1, 1, Rgb{0, 255, 255});
  StderrOf([&] { c.VK_Image_Change(0, img); });
  const Rgb want[2][5] = {{kWhite, kWhite, kWhite, kBlack, kBlack},
                          {kBlack, kBlack, kWhite, kWhite, kWhite}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(img, x, y), want[y][x]) << x << "," << y;

  // One- and two-pixel rows, and no image at all.
  CxImage one = FilledImage(1, 2, kWhite);
  SetPixelAt(one, 0, 1, Rgb{128, 128, 128});
  CxImage two = FilledImage(2, 1, kWhite);
  SetPixelAt(two, 1, 0, kBlack);
  CxImage empty(0);
  std::string log = StderrOf([&] {
    c.VK_Image_Change(0, one);
    c.VK_Image_Change(0, two);
    EXPECT_EQ(c.VK_Image_Change(0, empty), 0);
  });
  EXPECT_EQ(PixelAt(one, 0, 0), kWhite);
  EXPECT_EQ(PixelAt(one, 0, 1), kBlack);
  EXPECT_EQ(PixelAt(two, 0, 0), kBlack);
  EXPECT_FALSE(empty.IsValid());
  EXPECT_TRUE(Has(log, "\n[2] VK_Image_Change: 0\n[2] VK_Image_Change: 0\n[2] VK_Image_Change: 0"));
}
