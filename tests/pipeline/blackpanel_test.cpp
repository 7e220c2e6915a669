// Black separation: which pixels are black dots, how they leave the colour
// picture and enter the black panel; the monochrome conversion for black
// ribbons and rewritable cards.
#include <set>
#include <utility>

#include "pipeline_support.h"

namespace {

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kBackground{20, 60, 200};  // a blue that is not near-black
const Rgb kDotGrey{3, 5, 2};         // near-black, blue byte 2: no widening
const Rgb kDotBlue0{5, 5, 0};        // near-black, blue byte 0: widens left
const Rgb kDotRun{4, 4, 0};

// The page of the separation tests: 12 x 8, blue background with a
// three-row bar of grey dots, a pair of blue-0 dots, dots on every border and
// a run that starts in column 0.
struct TextPage {
  static const int W = 12, H = 8;
  std::vector<std::pair<std::pair<int, int>, Rgb>> dots;

  TextPage() {
    for (int y = 3; y <= 5; ++y)
      for (int x = 4; x <= 7; ++x) dots.push_back({{x, y}, kDotGrey});
    dots.push_back({{9, 2}, kDotBlue0});
    dots.push_back({{10, 2}, kDotBlue0});
    dots.push_back({{0, 4}, kDotBlue0});   // first column
    dots.push_back({{11, 4}, kDotBlue0});  // last column
    dots.push_back({{5, 0}, kDotBlue0});   // bottom row
    dots.push_back({{6, 7}, kDotBlue0});   // top row
    for (int x = 0; x <= 2; ++x) dots.push_back({{x, 6}, kDotRun});
  }

  CxImage Image() const {
    CxImage img = FilledImage(W, H, kBackground);
    for (const auto& d : dots) SetPixelAt(img, d.first.first, d.first.second, d.second);
    return img;
  }
};

}  // namespace

TEST(BlackDot, OnlyPixelsBelowTheBlackLevelInEveryChannel) {
  TestCtrl c;
  EXPECT_EQ(c.VK_PrintRGB_Black(9, 9, 9), 1);
  EXPECT_EQ(c.VK_PrintRGB_Black(0, 0, 0), 1);
  EXPECT_EQ(c.VK_PrintRGB_Black(10, 0, 0), 0);
  EXPECT_EQ(c.VK_PrintRGB_Black(0, 10, 0), 0);
  EXPECT_EQ(c.VK_PrintRGB_Black(0, 0, 10), 0);
  EXPECT_EQ(c.VK_PrintRGB_Black(0, 9, 5), 1);
  // With a higher level the spread between the channels starts to matter.
  c.m_nBlackLevel = 20;
  EXPECT_EQ(c.VK_PrintRGB_Black(0, 15, 5), 0);
  EXPECT_EQ(c.VK_PrintRGB_Black(3, 12, 7), 1);
}

TEST(BlackSeparation, SwitchedOffLeavesTheTextInTheColourPicture) {
  TestCtrl c;
  c.m_nBlackUse = 0;
  CxImage img = TextPage().Image();
  CxImage before(img);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, img), 0); });
  EXPECT_EQ(log, "");
  EXPECT_TRUE(SamePixels(img, before));
  EXPECT_FALSE(c.m_srcImgK.IsValid());
  EXPECT_EQ(c.nFileSize[3], 0);
}

TEST(BlackSeparation, NoDotsMeansNoPanelAndUntouchedTable) {
  TestCtrl c;
  c.m_nBlackUse = 1;
  c.m_nLogImage = 0;
  CxImage img = FilledImage(5, 4, Rgb{10, 9, 9});
  CxImage before(img);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, img), 1); });
  EXPECT_EQ(log, "\n[2] Black Panel - dot count = 0, m_nLogImage = 0");
  EXPECT_TRUE(SamePixels(img, before));
  EXPECT_FALSE(c.m_srcImgK.IsValid());
  EXPECT_EQ(c.nFileSize[3], 0);
  EXPECT_EQ(c.nFileSize[6], 0);
}

TEST(BlackSeparation, TextMovesToTheBlackPanelAndHolesTakeTheColourOnTheirLeft) {
  TestCtrl c;
  c.m_nBlackUse = 1;
  c.m_nLogImage = 0;
  c.m_nColorType = 0;
  TextPage page;
  CxImage img = page.Image();
  img.SetJpegQuality(100);
  img.SetXDPI(300);
  img.SetYDPI(300);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeColorK(0, img), 1); });
  EXPECT_NE(log.find("\n[2] Black Panel - dot count = " + std::to_string(page.dots.size()) +
                     ", m_nLogImage = 0"),
            std::string::npos);
  EXPECT_NE(log.find("\n[2] MakeColorK: m_nColorType 0 (256,0)"), std::string::npos);
  EXPECT_EQ(c.nFileSize[3], 256);
  EXPECT_EQ(c.nFileSize[6], 0);

  // Colour picture: every inner dot shows the blue to its left; dots on the
  // border rows and columns stay white holes, and so does a run that starts
  // in the first column (it copies the hole on its left).
  std::set<std::pair<int, int>> holes = {{0, 4}, {11, 4}, {5, 0}, {6, 7}, {0, 6}, {1, 6}, {2, 6}};
  for (int y = 0; y < TextPage::H; ++y) {
    for (int x = 0; x < TextPage::W; ++x) {
      Rgb want = holes.count({x, y}) ? kWhite : kBackground;
      EXPECT_EQ(PixelAt(img, x, y), want) << "colour panel at " << x << "," << y;
    }
  }

  // Black panel: white, each dot with its own values, and a black pixel left
  // of every inner dot whose blue byte is 0.
  const CxImage& k = c.m_srcImgK;
  ASSERT_TRUE(k.IsValid());
  std::set<std::pair<int, int>> widened = {{8, 2}, {9, 2}, {0, 6}, {1, 6}};
  for (int y = 0; y < TextPage::H; ++y) {
    for (int x = 0; x < TextPage::W; ++x) {
      Rgb want = kWhite;
      for (const auto& d : page.dots)
        if (d.first == std::make_pair(x, y)) want = d.second;
      if (widened.count({x, y})) want = kBlack;
      EXPECT_EQ(PixelAt(k, x, y), want) << "black panel at " << x << "," << y;
    }
  }
  // The panel carries the card image's settings into the print job.
  EXPECT_EQ(k.GetJpegQuality(), 100);
  EXPECT_EQ(k.GetXDPI(), 300);
}

TEST(BlackSeparation, BackSideGoesToTheBackSlotAndEntry) {
  TestCtrl c;
  c.m_nBlackUse = 1;
  c.m_nLogImage = 0;
  c.m_nColorType = 32;
  c.nFileSize[3] = 256;  // the front's panel, kept
  CxImage img = TextPage().Image();
  std::string log = StderrOf([&] { c.MakeColorK(0, img); });
  EXPECT_TRUE(c.m_srcImgK2.IsValid());
  EXPECT_FALSE(c.m_srcImgK.IsValid());
  EXPECT_EQ(c.nFileSize[6], 256);
  EXPECT_NE(log.find("\n[2] MakeColorK: m_nColorType 32 (256,256)"), std::string::npos);
}

TEST(BlackSeparation, NarrowImagesLoseTheirDotsWithoutRepair) {
  TestCtrl c;
  c.m_nBlackUse = 1;
  c.m_nLogImage = 0;
  CxImage img = FilledImage(2, 5, kBackground);
  SetPixelAt(img, 1, 2, kDotBlue0);
  StderrOf([&] { c.MakeColorK(0, img); });
  EXPECT_EQ(PixelAt(img, 1, 2), kWhite);
  EXPECT_EQ(PixelAt(c.m_srcImgK, 1, 2), kDotBlue0);
  EXPECT_EQ(PixelAt(c.m_srcImgK, 0, 2), kWhite);
}

TEST(Monochrome, FullRedStaysDarkerGoesBlackAndDarkPixelsWidenLeft) {
  TestCtrl c;
  const Rgb yellow{255, 255, 0}, grey{128, 128, 128}, magenta{255, 0, 255};
  const Rgb light{255, 200, 100}, dark{0, 50, 60};
  CxImage img = FilledImage(6, 3, kWhite);
  // Row 0: full-red colours keep their values, grey goes black.
  Rgb row0[6] = {kWhite, kWhite, yellow, grey, magenta, kWhite};
  // Row 1: a light pixel and a white pixel left of a pixel without red turn black.
  Rgb row1[6] = {kWhite, light, dark, kWhite, kWhite, kBlack};
  for (int x = 0; x < 6; ++x) {
    SetPixelAt(img, x, 0, row0[x]);
    SetPixelAt(img, x, 1, row1[x]);
  }
  // Row 2 stays white although the row before it ends dark.
  int r = 1;
  std::string log = StderrOf([&] { r = c.VK_Image_Change(0, img); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(log, "\n[2] VK_Image_Change: 0");
  Rgb want0[6] = {kWhite, kWhite, yellow, kBlack, magenta, kWhite};
  Rgb want1[6] = {kWhite, kBlack, kBlack, kWhite, kBlack, kBlack};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(PixelAt(img, x, 0), want0[x]) << "row 0 x " << x;
    EXPECT_EQ(PixelAt(img, x, 1), want1[x]) << "row 1 x " << x;
    EXPECT_EQ(PixelAt(img, x, 2), kWhite) << "row 2 x " << x;
  }
}

TEST(Monochrome, FirstPixelsCompareWithTheirOwnNeighbour) {
  TestCtrl c;
  // Pixel 0 left of a black pixel 1 widens; pixel 1 left of a white pixel 2
  // does not, whatever the row before ended with.
  CxImage img = FilledImage(5, 2, kWhite);
  SetPixelAt(img, 4, 0, kBlack);  // dark end of the row below
  SetPixelAt(img, 1, 1, Rgb{0, 255, 255});
  StderrOf([&] { c.VK_Image_Change(0, img); });
  EXPECT_EQ(PixelAt(img, 0, 1), kBlack);
  EXPECT_EQ(PixelAt(img, 1, 1), kBlack);
  EXPECT_EQ(PixelAt(img, 2, 1), kWhite);
  EXPECT_EQ(PixelAt(img, 0, 0), kWhite);
  EXPECT_EQ(PixelAt(img, 1, 0), kWhite);
  EXPECT_EQ(PixelAt(img, 3, 0), kBlack);
}

TEST(Monochrome, NarrowAndEmptyImages) {
  TestCtrl c;
  CxImage one = FilledImage(1, 2, kWhite);
  SetPixelAt(one, 0, 1, Rgb{128, 128, 128});
  StderrOf([&] { c.VK_Image_Change(0, one); });
  EXPECT_EQ(PixelAt(one, 0, 0), kWhite);
  EXPECT_EQ(PixelAt(one, 0, 1), kBlack);

  CxImage two = FilledImage(2, 1, kWhite);
  SetPixelAt(two, 1, 0, kBlack);
  StderrOf([&] { c.VK_Image_Change(0, two); });
  EXPECT_EQ(PixelAt(two, 0, 0), kBlack);

  CxImage empty(0);
  std::string log = StderrOf([&] { EXPECT_EQ(c.VK_Image_Change(0, empty), 0); });
  EXPECT_EQ(log, "\n[2] VK_Image_Change: 0");
  EXPECT_FALSE(empty.IsValid());
}

namespace {

// The separation done the long way, one whole-image pass per step with its
// own copies: extraction, hole repair, widening read from the candidates
// and written to a copy of them.
void SeparateStepByStep(CxImage& image, CxImage& panel) {
  const int w = static_cast<int>(image.GetWidth()), h = static_cast<int>(image.GetHeight());
  CxImage k(image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb p = PixelAt(image, x, y);
      bool dot = p.r < 10 && p.g < 10 && p.b < 10;
      if (dot) {
        SetPixelAt(image, x, y, kWhite);
      } else {
        SetPixelAt(k, x, y, kWhite);
      }
    }
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b != 255) SetPixelAt(image, x, y, PixelAt(image, x - 1, y));
  CxImage t2(k);
  for (int y = 1; y <= h - 2; ++y)
    for (int x = 1; x <= w - 2; ++x)
      if (PixelAt(k, x, y).b == 0) SetPixelAt(t2, x - 1, y, kBlack);
  panel = t2;
}

}  // namespace

TEST(BlackSeparation, SameBytesAsTheStepByStepSeparation) {
  // Dense random near-black dots (many with blue 0, many in runs) over a
  // colour picture, odd sizes so that rows carry padding.
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  CxImage original = FilledImage(61, 37, kBackground);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 61; ++x) {
      uint32_t r = next() % 8;
      if (r < 3) {
        SetPixelAt(original, x, y,
                   Rgb{static_cast<uint8_t>(next() % 10), static_cast<uint8_t>(next() % 10),
                       static_cast<uint8_t>(r == 0 ? 0 : next() % 10)});
      } else if (r == 3) {
        SetPixelAt(original, x, y,
                   Rgb{static_cast<uint8_t>(next()), static_cast<uint8_t>(next()),
                       static_cast<uint8_t>(next())});
      }
    }
  CxImage expectedImage(original), expectedPanel(0);
  SeparateStepByStep(expectedImage, expectedPanel);

  TestCtrl c;
  c.m_nBlackUse = 1;
  c.m_nLogImage = 0;
  CxImage image(original);
  StderrOf([&] { c.MakeColorK(0, image); });
  EXPECT_TRUE(SamePixels(image, expectedImage));
  EXPECT_TRUE(SamePixels(c.m_srcImgK, expectedPanel));
}
