// The adjustment chain: lightness table, saturation, colour balance, gamma,
// sharpening and the chain run in bands against its steps run one by one.
#include <climits>

#include "pipeline_support.h"

// Brightness and contrast entries are rounded, then limited to 0..255 (light
// 1); the red balance moves a channel by 2.55 a step, truncated (light 0).
TEST(ChannelTables, LightnessRoundsAndBalanceTruncates) {
  struct Case {
    int light, a, b, at, value;  // a, b: brightness and contrast, or the red setting
  } cases[] = {
      {1, 50, 50, 1, 1},          {1, 50, 50, 254, 254},          {1, 52, 36, 0, 20},
      {1, 52, 36, 128, 130},      {1, 52, 36, 255, 239},          {1, 50, 100, 0, 0},
      {1, 50, 100, 129, 130},     {1, 50, 100, 200, 236},         {1, 50, 100, 255, 255},
      {1, 0, 0, 0, 14},           {1, 0, 0, 128, 78},             {1, 0, 0, 255, 142},
      {1, 100000, 100000, 0, 0},  {1, 100000, 100000, 255, 255},  {1, INT_MAX, INT_MAX, 0, 0},
      {1, INT_MAX, INT_MAX, 128, 255}, {1, INT_MIN, 50, 255, 0},  {0, 60, 0, 0, 25},
      {0, 60, 0, 200, 225},       {0, 100, 0, 128, 255},          {0, 0, 0, 200, 72},
      {0, 0, 0, 100, 0},          {0, 51, 0, 1, 3},               {0, 50, 0, 77, 77},
  };
  for (const Case& k : cases) {
    TestCtrl c;
    c.m_nBrightness = k.a, c.m_nContrast = k.b, c.m_nRed = k.a, c.m_nGreen = c.m_nBlue = 50;
    CxImage img = FilledImage(1, 1, Rgb{uint8_t(k.at), 0, 0});
    StderrOf([&] { k.light ? c.MakeLightSaturate(0, img) : c.MakeRedGreenBlue(0, img); });
    EXPECT_EQ(PixelAt(img, 0, 0).r, k.value) << k.light << " " << k.a << "/" << k.b << " @" << k.at;
  }
}

TEST(Lightness, WhitePixelsAreSkippedThenSaturationOfOneFollows) {
  TestCtrl c;  // levels 0/0
  CxImage img = FilledImage(2, 1, Rgb{255, 255, 255});
  SetPixelAt(img, 1, 0, Rgb{255, 255, 254});
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeLightSaturate(0, img), 1); }),
            "[->][MakeLightSaturate 0 m_nBrightness 0 m_nContrast 0 m_nSaturate 0]\n");
  EXPECT_EQ(PixelAt(img, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(img, 1, 0), (Rgb{142, 142, 141}));
  TestCtrl sat, tableOnly;
  sat.m_nBrightness = tableOnly.m_nBrightness = 52;
  sat.m_nContrast = tableOnly.m_nContrast = 36;
  sat.m_nSaturate = 1;
  CxImage pic = Picture(40, 20), expected(pic);
  StderrOf([&] { tableOnly.MakeLightSaturate(0, expected), sat.MakeLightSaturate(0, pic); });
  const CxImage tabled(expected);
  ASSERT_TRUE(expected.Saturate(1, 1));
  EXPECT_TRUE(SamePixels(pic, expected));
  EXPECT_FALSE(SamePixels(pic, tabled));
}

// Each channel by its own setting, white included.
TEST(ColourBalance, EachChannelMovesByItsOwnSetting) {
  TestCtrl c;
  c.m_nRed = 43, c.m_nGreen = 41, c.m_nBlue = 45;
  CxImage img = FilledImage(2, 2, Rgb{255, 255, 255});
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeRedGreenBlue(0, img), 1); }),
            "\n[2] RGB [Red 43, Green 41 Blue 45] GetPixelColor");
  EXPECT_EQ(PixelAt(img, 1, 1), (Rgb{237, 232, 242}));
}

TEST(Gamma, OptionValuesAndTheirLog) {
  struct Case {
    int option;
    std::string log;
    float applied;  // 0: the picture stays as it was
  } cases[] = {
      {100, "\n[2] nGam100\n[3] No Gamma(0.000000)", 0},
      {-5, "\n[2] (-) => nGam100\n[2] nGam100\n[3] No Gamma(0.000000)", 0},
      {0, "\n[2] m_Gamma[0](0)+[100] Gamma(0.000000)[0]", 0},  // refused by the toolkit
      {93, "\n[2] m_Gamma[93](0)+[100] Gamma(0.930000)[93]", 0.93f},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.option);
    TestCtrl c;
    c.m_Gamma = k.option;
    CxImage pic = Picture(30, 12), expected(pic);
    if (k.applied != 0) {
      ASSERT_TRUE(expected.GammaRGB(k.applied, k.applied, k.applied));
    }
    EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeGamma(0, pic), 1); }), k.log);
    EXPECT_TRUE(SamePixels(pic, expected));
    EXPECT_EQ(k.applied != 0, !SamePixels(pic, Picture(30, 12)));
  }
  TestCtrl c;  // the int limit is not wrapped
  float g = 5.0f;
  c.m_Gamma = INT_MAX;
  StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(0, &g), 1); });
  EXPECT_EQ(g, static_cast<float>(static_cast<float>(INT_MAX) / 100.0));
}

TEST(Sharpening, AmountIsLimitedToZeroToFifteen) {
  for (auto k : {std::pair<int, int>{20, 15}, {15, 15}, {7, 7}, {-3, 0}}) {
    TestCtrl c;
    c.m_iSharpening = k.first, c.m_nLogImage = 0;
    CxImage pic = Picture(25, 14), expected(pic);
    ASSERT_TRUE(expected.UnsharpMask(0.1f, static_cast<float>(k.second), 0));
    EXPECT_EQ(StderrOf([&] { EXPECT_EQ(c.MakeShapening(0, pic), 1); }),
              "[->][nVal " + std::to_string(k.second) + "  m_iSharpening " +
                  std::to_string(k.first) + " radius 0.100000]\n");
    EXPECT_TRUE(SamePixels(pic, expected)) << "option " << k.first;
    EXPECT_EQ(k.second == 0, SamePixels(pic, Picture(25, 14))) << "option " << k.first;
  }
}

// The chain in bands of rows gives the bytes and log of its steps run one by
// one in their order; gamma 93 and 120 change the picture, 100 is no change
// and 0 is refused by the toolkit. The black panel takes the dot unadjusted.
TEST(AdjustmentChain, GivesTheBytesAndLogOfItsStepsRunOneByOne) {
  for (int gamma : {93, 120, 100, 0}) {
    POPTION o = DefaultJobOptions();
    o.nGamma = gamma, o.nRed = 58, o.nBlue = 41;
    TestCtrl chain(o), steps(o);
    chain.LoadOptions(), steps.LoadOptions();
    chain.m_nLogImage = steps.m_nLogImage = 0;
    CxImage viaChain = Picture(61, 37), viaSteps = Picture(61, 37);
    SetPixelAt(viaChain, 20, 9, Rgb{3, 5, 2});
    SetPixelAt(viaSteps, 20, 9, Rgb{3, 5, 2});
    const std::string chainLog = StderrOf([&] { chain.ImageEffect(viaChain); });
    const std::string stepsLog = StderrOf([&] {
      steps.UseDefault(), steps.MakeColorK(0, viaSteps), steps.MakeShapening(0, viaSteps);
      steps.MakeOverlay(0, viaSteps), steps.MakeLightSaturate(0, viaSteps);
      steps.MakeGamma(0, viaSteps), steps.MakeRedGreenBlue(0, viaSteps);
    });
    EXPECT_TRUE(SamePixels(viaChain, viaSteps)) << "gamma " << gamma;
    EXPECT_EQ(chainLog, stepsLog) << "gamma " << gamma;
    ASSERT_TRUE(chain.m_srcImgK.IsValid());
    EXPECT_EQ(PixelAt(chain.m_srcImgK, 20, 9), (Rgb{3, 5, 2}));
  }
}
