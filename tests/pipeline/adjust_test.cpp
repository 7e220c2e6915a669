// The adjustment chain: lightness table, saturation, colour balance, gamma,
// sharpening and the order of the steps.
#include <climits>

#include "pipeline_support.h"

namespace {

// Entry v of the lightness table: what a red byte v becomes in a non-white pixel.
std::vector<int> LightnessTable(int brightness, int contrast) {
  TestCtrl c;
  c.m_nBrightness = brightness;
  c.m_nContrast = contrast;
  CxImage img = FilledImage(256, 1, Rgb{0, 0, 0});
  for (int i = 0; i < 256; ++i) SetPixelAt(img, i, 0, Rgb{static_cast<uint8_t>(i), 0, 0});
  StderrOf([&] { c.MakeLightSaturate(0, img); });
  std::vector<int> table(256);
  for (int i = 0; i < 256; ++i) table[i] = PixelAt(img, i, 0).r;
  return table;
}

uint8_t Balanced(int setting, uint8_t value) {
  TestCtrl c;
  c.m_nRed = setting;
  c.m_nGreen = c.m_nBlue = 50;
  CxImage img = FilledImage(1, 1, Rgb{value, 0, 0});
  StderrOf([&] { c.MakeRedGreenBlue(0, img); });
  return PixelAt(img, 0, 0).r;
}

}  // namespace

TEST(Lightness, TableValues) {
  struct Case {
    int brightness, contrast;
    std::vector<std::pair<int, int>> entries;  // index, value
  } cases[] = {
      {52, 36, {{0, 20}, {128, 130}, {255, 239}}},
      {50, 100, {{0, 0}, {129, 130}, {200, 236}, {255, 255}}},
      {0, 0, {{0, 14}, {128, 78}, {255, 142}}},
      // Far-off levels stay within 0 .. 255.
      {100000, 100000, {{0, 0}, {255, 255}}},
      {INT_MAX, INT_MAX, {{0, 0}, {128, 255}}},
      {INT_MIN, 50, {{255, 0}}},
  };
  std::vector<int> t = LightnessTable(50, 50);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i) << "neutral entry " << i;
  for (const Case& k : cases) {
    t = LightnessTable(k.brightness, k.contrast);
    for (const auto& e : k.entries)
      EXPECT_EQ(t[e.first], e.second) << k.brightness << "/" << k.contrast << " entry " << e.first;
  }
}

TEST(Lightness, WhitePixelsAreSkippedAndNeutralLevelsChangeNothing) {
  TestCtrl c;
  CxImage img = FilledImage(2, 1, Rgb{255, 255, 255});
  SetPixelAt(img, 1, 0, Rgb{255, 255, 254});
  StderrOf([&] { c.MakeLightSaturate(0, img); });  // levels 0/0
  EXPECT_EQ(PixelAt(img, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(img, 1, 0), (Rgb{142, 142, 141}));

  c.m_nBrightness = c.m_nContrast = 50;
  CxImage pic = Picture(40, 20), before(pic);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeLightSaturate(0, pic), 1); });
  EXPECT_TRUE(SamePixels(pic, before));
  EXPECT_EQ(log, "[->][MakeLightSaturate 0 m_nBrightness 50 m_nContrast 50 m_nSaturate 0]\n");
  // A non-zero mode logs its line and stops.
  c.m_nBrightness = 0;
  log = StderrOf([&] { EXPECT_EQ(c.MakeLightSaturate(1, pic), 1); });
  EXPECT_TRUE(SamePixels(pic, before));
  EXPECT_EQ(log, "[->][MakeLightSaturate 0 m_nBrightness 0 m_nContrast 50 m_nSaturate 0]\n");
}

TEST(Lightness, SaturationOfOneFollowsTheTable) {
  TestCtrl c, tableOnly;
  c.m_nBrightness = tableOnly.m_nBrightness = 52;
  c.m_nContrast = tableOnly.m_nContrast = 36;
  c.m_nSaturate = 1;
  CxImage pic = Picture(40, 20), expected(pic);
  StderrOf([&] { tableOnly.MakeLightSaturate(0, expected); });
  CxImage tabled(expected);
  ASSERT_TRUE(expected.Saturate(1, 1));
  StderrOf([&] { c.MakeLightSaturate(0, pic); });
  EXPECT_TRUE(SamePixels(pic, expected));
  EXPECT_FALSE(SamePixels(pic, tabled));
}

TEST(ColourBalance, EachStepMovesAChannelBy255Hundredths) {
  struct Case {
    int setting, in, out;
  } cases[] = {{60, 0, 25}, {60, 200, 225}, {100, 128, 255}, {0, 200, 72},
               {0, 100, 0}, {51, 1, 3},     {50, 77, 77}};
  for (const Case& k : cases)
    EXPECT_EQ(Balanced(k.setting, static_cast<uint8_t>(k.in)), k.out) << k.setting << " " << k.in;

  // White is shifted like any other pixel; a non-zero mode returns at once.
  TestCtrl c;
  c.m_nRed = c.m_nBlue = 43;
  c.m_nGreen = 41;
  CxImage img = FilledImage(2, 2, Rgb{255, 255, 255});
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeRedGreenBlue(0, img), 1); });
  EXPECT_EQ(PixelAt(img, 1, 1), (Rgb{237, 232, 237}));
  EXPECT_EQ(log, "\n[2] RGB [Red 43, Green 41 Blue 43] GetPixelColor");
  EXPECT_EQ(StderrOf([&] { c.MakeRedGreenBlue(1, img); }), "");
  EXPECT_EQ(PixelAt(img, 1, 1), (Rgb{237, 232, 237}));
}

TEST(ColourBalance, SameBytesAsThePixelAccessorPass) {
  const int settings[3] = {73, 12, 50};
  CxImage viaAccessors = Picture(37, 23);
  for (int x = 0; x < 37; ++x)
    for (int y = 0; y < 23; ++y) {
      RGBQUAD q = viaAccessors.GetPixelColor(x, y, true);
      uint8_t* ch[3] = {&q.rgbRed, &q.rgbGreen, &q.rgbBlue};
      for (int i = 0; i < 3; ++i) {
        double v = *ch[i] + (settings[i] - 50) * 2.55;
        if (settings[i] > 50) *ch[i] = v >= 255.0 ? 255 : static_cast<uint8_t>(v);
        if (settings[i] < 50) *ch[i] = v <= 0.0 ? 0 : static_cast<uint8_t>(v);
      }
      viaAccessors.SetPixelColor(x, y, q, false);
    }
  TestCtrl c;
  c.m_nRed = settings[0];
  c.m_nGreen = settings[1];
  c.m_nBlue = settings[2];
  CxImage viaRows = Picture(37, 23);
  StderrOf([&] { c.MakeRedGreenBlue(0, viaRows); });
  EXPECT_TRUE(SamePixels(viaRows, viaAccessors));
}

TEST(Gamma, OptionValues) {
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
    std::string log = StderrOf([&] { EXPECT_EQ(c.MakeGamma(0, pic), 1); });
    EXPECT_EQ(log, k.log);
    EXPECT_TRUE(SamePixels(pic, expected));
    EXPECT_EQ(k.applied != 0, !SamePixels(pic, Picture(30, 12)));
    EXPECT_EQ(StderrOf([&] { c.MakeGamma(1, pic); }), "");  // a non-zero mode returns at once
  }
}

TEST(Gamma, DeltaOnHundredIsAChangeAndTheIntLimitIsNotWrapped) {
  TestCtrl c;
  float g = 5.0f;
  c.m_Gamma = 100;
  StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(3, &g), 1); });
  EXPECT_EQ(g, 1.03f);
  c.m_Gamma = INT_MAX;
  std::string log = StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(0, &g), 1); });
  EXPECT_EQ(g, static_cast<float>(static_cast<float>(INT_MAX) / 100.0));
  EXPECT_TRUE(Has(log, "[2147483647]"));
}

TEST(Sharpening, AmountIsLimitedToZeroToFifteen) {
  struct Case {
    int option, amount;
  } cases[] = {{20, 15}, {15, 15}, {7, 7}, {-3, 0}};
  for (const Case& k : cases) {
    TestCtrl c;
    c.m_iSharpening = k.option;
    c.m_nLogImage = 0;
    CxImage pic = Picture(25, 14), expected(pic);
    ASSERT_TRUE(expected.UnsharpMask(0.1f, static_cast<float>(k.amount), 0));
    std::string log = StderrOf([&] { EXPECT_EQ(c.MakeShapening(0, pic), 1); });
    EXPECT_EQ(log, "[->][nVal " + std::to_string(k.amount) + "  m_iSharpening " +
                       std::to_string(k.option) + " radius 0.100000]\n");
    EXPECT_TRUE(SamePixels(pic, expected)) << "option " << k.option;
    // Amount 0 leaves the picture as it was.
    EXPECT_EQ(k.amount == 0, SamePixels(pic, Picture(25, 14))) << "option " << k.option;
  }
}

TEST(AdjustmentChain, BlackAndOverlayPanelsAreTakenBeforeAnyAdjustment) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.LoadOptions();
  c.m_nLogImage = 0;
  CxImage pic = Picture(30, 20);
  SetPixelAt(pic, 10, 10, Rgb{3, 5, 2});
  std::string log = StderrOf([&] { EXPECT_EQ(c.ImageEffect(pic), 1); });
  // The style moved the working copies once.
  EXPECT_EQ(c.m_nBrightness, 52);
  EXPECT_EQ(c.m_iSharpening, 10);
  // The dot keeps its own values in the black panel; the overlay is full.
  ASSERT_TRUE(c.m_srcImgK.IsValid());
  EXPECT_EQ(PixelAt(c.m_srcImgK, 10, 10), (Rgb{3, 5, 2}));
  EXPECT_EQ(c.nFileSize[3], 256);
  EXPECT_EQ(c.nFileSize[2], 256);
  // Steps run in their order.
  size_t at = 0;
  for (const char* step : {"UseDefault value", "Black Panel", "[->][nVal", "Varnish Area",
                           "MakeLightSaturate", "m_Gamma[", "RGB [Red"}) {
    size_t next = log.find(step, at);
    EXPECT_NE(next, std::string::npos) << step << " missing or out of order";
    at = next == std::string::npos ? at : next;
  }
}

TEST(AdjustmentChain, GivesTheBytesAndLogOfItsStepsRunOneByOne) {
  // Gamma 93 and 120 change the picture, 100 is no change and 0 is refused
  // by the toolkit; the balance settings move all three channels.
  for (int gamma : {93, 120, 100, 0}) {
    POPTION o = DefaultJobOptions();
    o.nGamma = gamma;
    o.nRed = 58;
    o.nBlue = 41;
    TestCtrl chain(o), steps(o);
    chain.LoadOptions();
    steps.LoadOptions();
    chain.m_nLogImage = steps.m_nLogImage = 0;
    CxImage viaChain = Picture(61, 37);
    CxImage viaSteps = Picture(61, 37);
    SetPixelAt(viaChain, 20, 9, Rgb{3, 5, 2});
    SetPixelAt(viaSteps, 20, 9, Rgb{3, 5, 2});
    const std::string chainLog = StderrOf([&] { chain.ImageEffect(viaChain); });
    const std::string stepsLog = StderrOf([&] {
      steps.UseDefault();
      steps.MakeColorK(0, viaSteps);
      steps.MakeShapening(0, viaSteps);
      steps.MakeOverlay(0, viaSteps);
      steps.MakeLightSaturate(0, viaSteps);
      steps.MakeGamma(0, viaSteps);
      steps.MakeRedGreenBlue(0, viaSteps);
    });
    EXPECT_TRUE(SamePixels(viaChain, viaSteps)) << "gamma " << gamma;
    EXPECT_EQ(chainLog, stepsLog) << "gamma " << gamma;
  }
}
