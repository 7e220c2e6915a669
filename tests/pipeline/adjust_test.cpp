// The adjustment chain: lightness table, saturation, colour balance, gamma,
// sharpening and the order of the steps.
#include <climits>

#include "pipeline_support.h"

namespace {

// A 256 x 1 image whose pixel i has red i, green 255 - i and blue i / 2; the
// last pixel is pure white.
CxImage Ramp() {
  CxImage img = FilledImage(256, 1, Rgb{0, 0, 0});
  for (int i = 0; i < 256; ++i)
    SetPixelAt(img, i, 0,
               Rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2)});
  SetPixelAt(img, 255, 0, Rgb{255, 255, 255});
  return img;
}

// The lightness table as the picture shows it: entry v is what a red byte v
// becomes in a pixel that is not white.
std::vector<int> LightnessTable(int brightness, int contrast) {
  TestCtrl c;
  c.m_nBrightness = brightness;
  c.m_nContrast = contrast;
  c.m_nSaturate = 0;
  CxImage img = FilledImage(256, 1, Rgb{0, 0, 0});
  for (int i = 0; i < 256; ++i) SetPixelAt(img, i, 0, Rgb{static_cast<uint8_t>(i), 0, 0});
  StderrOf([&] { c.MakeLightSaturate(0, img); });
  std::vector<int> table(256);
  for (int i = 0; i < 256; ++i) table[i] = PixelAt(img, i, 0).r;
  return table;
}

// A varied 24-bit picture for whole-image comparisons.
CxImage Picture(int w, int h) {
  CxImage img = FilledImage(w, h, Rgb{0, 0, 0});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      SetPixelAt(img, x, y,
                 Rgb{static_cast<uint8_t>(x * 37 + y * 11), static_cast<uint8_t>(x * 5 + y * 53),
                     static_cast<uint8_t>((x ^ y) * 29)});
  SetPixelAt(img, 0, 0, Rgb{255, 255, 255});
  return img;
}

uint8_t Balanced(int setting, uint8_t value) {
  TestCtrl c;
  c.m_nRed = setting;
  c.m_nGreen = 50;
  c.m_nBlue = 50;
  CxImage img = FilledImage(1, 1, Rgb{value, 0, 0});
  StderrOf([&] { c.MakeRedGreenBlue(0, img); });
  return PixelAt(img, 0, 0).r;
}

}  // namespace

TEST(Lightness, TableValuesForTheDefaultsAndExtremes) {
  std::vector<int> t = LightnessTable(52, 36);
  EXPECT_EQ(t[0], 20);
  EXPECT_EQ(t[128], 130);
  EXPECT_EQ(t[255], 239);

  t = LightnessTable(50, 100);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[129], 130);
  EXPECT_EQ(t[200], 236);
  EXPECT_EQ(t[255], 255);

  t = LightnessTable(0, 0);
  EXPECT_EQ(t[0], 14);
  EXPECT_EQ(t[128], 78);
  EXPECT_EQ(t[255], 142);

  // Far-off levels stay within 0 .. 255.
  t = LightnessTable(100000, 100000);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[255], 255);
  t = LightnessTable(INT32_MAX, INT32_MAX);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[128], 255);
  t = LightnessTable(INT32_MIN, 50);
  EXPECT_EQ(t[255], 0);
}

TEST(Lightness, WhitePixelsAreSkippedAndNeutralLevelsChangeNothing) {
  TestCtrl c;
  c.m_nBrightness = 0;
  c.m_nContrast = 0;
  c.m_nSaturate = 0;
  CxImage img = FilledImage(3, 1, Rgb{255, 255, 255});
  SetPixelAt(img, 1, 0, Rgb{255, 255, 254});
  StderrOf([&] { c.MakeLightSaturate(0, img); });
  EXPECT_EQ(PixelAt(img, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(img, 1, 0), (Rgb{142, 142, 141}));

  c.m_nBrightness = 50;
  c.m_nContrast = 50;
  CxImage pic = Ramp();
  CxImage before(pic);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeLightSaturate(0, pic), 1); });
  EXPECT_TRUE(SamePixels(pic, before));
  EXPECT_EQ(log, "[->][MakeLightSaturate 0 m_nBrightness 50 m_nContrast 50 m_nSaturate 0]\n");

  // A non-zero mode logs its line and stops.
  c.m_nBrightness = 0;
  log = StderrOf([&] { EXPECT_EQ(c.MakeLightSaturate(1, pic), 1); });
  EXPECT_TRUE(SamePixels(pic, before));
  EXPECT_EQ(log, "[->][MakeLightSaturate 0 m_nBrightness 0 m_nContrast 50 m_nSaturate 0]\n");
}

TEST(Lightness, SaturationRunsOnlyWhenSet) {
  TestCtrl c;
  c.m_nBrightness = 50;
  c.m_nContrast = 50;
  c.m_nSaturate = 0;
  CxImage pic = Picture(40, 20);
  CxImage before(pic);
  StderrOf([&] { c.MakeLightSaturate(0, pic); });
  EXPECT_TRUE(SamePixels(pic, before));

  // The option default 1 saturates by 1 in HSL space, after the lightness table.
  c.m_nSaturate = 1;
  c.m_nBrightness = 52;
  c.m_nContrast = 36;
  CxImage expected(before);
  TestCtrl tableOnly;
  tableOnly.m_nBrightness = 52;
  tableOnly.m_nContrast = 36;
  tableOnly.m_nSaturate = 0;
  StderrOf([&] { tableOnly.MakeLightSaturate(0, expected); });
  ASSERT_TRUE(expected.Saturate(1, 1));
  StderrOf([&] { c.MakeLightSaturate(0, pic); });
  EXPECT_TRUE(SamePixels(pic, expected));
  EXPECT_FALSE(SamePixels(pic, before));
}

TEST(ColourBalance, EachStepMovesAChannelBy255Hundredths) {
  EXPECT_EQ(Balanced(60, 0), 25);
  EXPECT_EQ(Balanced(60, 200), 225);
  EXPECT_EQ(Balanced(100, 128), 255);
  EXPECT_EQ(Balanced(0, 200), 72);
  EXPECT_EQ(Balanced(0, 100), 0);
  EXPECT_EQ(Balanced(51, 1), 3);
  EXPECT_EQ(Balanced(50, 77), 77);
}

TEST(ColourBalance, WhiteIsShiftedLikeAnyOtherPixel) {
  TestCtrl c;
  c.m_nRed = 43;
  c.m_nGreen = 41;
  c.m_nBlue = 43;
  CxImage img = FilledImage(2, 2, Rgb{255, 255, 255});
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeRedGreenBlue(0, img), 1); });
  EXPECT_EQ(PixelAt(img, 1, 1), (Rgb{237, 232, 237}));
  EXPECT_EQ(log, "\n[2] RGB [Red 43, Green 41 Blue 43] GetPixelColor");
  // A non-zero mode returns at once.
  CxImage other = FilledImage(1, 1, Rgb{9, 9, 9});
  EXPECT_EQ(StderrOf([&] { c.MakeRedGreenBlue(1, other); }), "");
  EXPECT_EQ(PixelAt(other, 0, 0), (Rgb{9, 9, 9}));
}

TEST(ColourBalance, RowWalkGivesTheBytesOfThePixelAccessorPass) {
  // The pixel-by-pixel pass, column by column through the accessors.
  const int settings[3] = {73, 12, 50};
  CxImage viaAccessors = Picture(37, 23);
  for (int x = 0; x < 37; ++x) {
    for (int y = 0; y < 23; ++y) {
      RGBQUAD q = viaAccessors.GetPixelColor(x, y, true);
      uint8_t* ch[3] = {&q.rgbRed, &q.rgbGreen, &q.rgbBlue};
      for (int i = 0; i < 3; ++i) {
        int s = settings[i];
        double v;
        if (s > 50) {
          v = *ch[i] + (s - 50) * 2.55;
          *ch[i] = v >= 255.0 ? 255 : static_cast<uint8_t>(v);
        } else if (s < 50) {
          v = *ch[i] - (50 - s) * 2.55;
          *ch[i] = v <= 0.0 ? 0 : static_cast<uint8_t>(v);
        }
      }
      viaAccessors.SetPixelColor(x, y, q, false);
    }
  }
  TestCtrl c;
  c.m_nRed = settings[0];
  c.m_nGreen = settings[1];
  c.m_nBlue = settings[2];
  CxImage viaRows = Picture(37, 23);
  StderrOf([&] { c.MakeRedGreenBlue(0, viaRows); });
  EXPECT_TRUE(SamePixels(viaRows, viaAccessors));
}

TEST(Gamma, HundredAndNegativeMeanNoChange) {
  TestCtrl c;
  c.m_Gamma = 100;
  CxImage pic = Picture(20, 10);
  CxImage before(pic);
  std::string log = StderrOf([&] { EXPECT_EQ(c.MakeGamma(0, pic), 1); });
  EXPECT_EQ(log, "\n[2] nGam100\n[3] No Gamma(0.000000)");
  EXPECT_TRUE(SamePixels(pic, before));

  c.m_Gamma = -5;
  log = StderrOf([&] { c.MakeGamma(0, pic); });
  EXPECT_EQ(log, "\n[2] (-) => nGam100\n[2] nGam100\n[3] No Gamma(0.000000)");
  EXPECT_TRUE(SamePixels(pic, before));

  float g = 5.0f;
  c.m_Gamma = 100;
  StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(0, &g), 0); });
  EXPECT_EQ(g, 0.0f);
  // A positive delta on 100 is a real change.
  StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(3, &g), 1); });
  EXPECT_EQ(g, 1.03f);
}

TEST(Gamma, OptionNearTheIntLimitIsAppliedNotWrapped) {
  TestCtrl c;
  c.m_Gamma = INT32_MAX;
  float g = 0;
  std::string log = StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(0, &g), 1); });
  EXPECT_EQ(g, static_cast<float>(static_cast<float>(INT32_MAX) / 100.0));
  EXPECT_NE(log.find("[2147483647]"), std::string::npos);
}

TEST(Gamma, ZeroIsRefusedByTheToolkitAndLeavesThePicture) {
  TestCtrl c;
  c.m_Gamma = 0;
  CxImage pic = Picture(20, 10);
  CxImage before(pic);
  std::string log = StderrOf([&] { c.MakeGamma(0, pic); });
  EXPECT_EQ(log, "\n[2] m_Gamma[0](0)+[100] Gamma(0.000000)[0]");
  EXPECT_TRUE(SamePixels(pic, before));
}

TEST(Gamma, OptionDefaultAppliesPointNinetyThreeToAllChannels) {
  TestCtrl c;
  c.m_Gamma = 93;
  float g = 0;
  StderrOf([&] { EXPECT_EQ(c.VK_GammaAdjust(0, &g), 1); });
  EXPECT_EQ(g, 0.93f);
  CxImage pic = Picture(30, 12);
  CxImage expected(pic);
  ASSERT_TRUE(expected.GammaRGB(0.93f, 0.93f, 0.93f));
  std::string log = StderrOf([&] { c.MakeGamma(0, pic); });
  EXPECT_EQ(log, "\n[2] m_Gamma[93](0)+[100] Gamma(0.930000)[93]");
  EXPECT_TRUE(SamePixels(pic, expected));
  EXPECT_FALSE(SamePixels(pic, Picture(30, 12)));
  // A non-zero mode returns at once.
  EXPECT_EQ(StderrOf([&] { c.MakeGamma(1, pic); }), "");
}

TEST(Sharpening, AmountIsLimitedToZeroToFifteen) {
  struct Case {
    int option, amount;
  } cases[] = {{20, 15}, {15, 15}, {7, 7}, {-3, 0}};
  for (const Case& k : cases) {
    TestCtrl c;
    c.m_iSharpening = k.option;
    c.m_nLogImage = 0;
    CxImage pic = Picture(25, 14);
    CxImage expected(pic);
    ASSERT_TRUE(expected.UnsharpMask(0.1f, static_cast<float>(k.amount), 0));
    std::string log = StderrOf([&] { EXPECT_EQ(c.MakeShapening(0, pic), 1); });
    EXPECT_EQ(log, "[->][nVal " + std::to_string(k.amount) + "  m_iSharpening " +
                       std::to_string(k.option) + " radius 0.100000]\n");
    EXPECT_TRUE(SamePixels(pic, expected)) << "option " << k.option;
  }
  // Amount 0 leaves the picture as it was.
  TestCtrl c;
  c.m_iSharpening = -3;
  c.m_nLogImage = 0;
  CxImage pic = Picture(25, 14);
  StderrOf([&] { c.MakeShapening(0, pic); });
  EXPECT_TRUE(SamePixels(pic, Picture(25, 14)));
}

TEST(AdjustmentChain, BlackAndOverlayPanelsAreTakenBeforeAnyAdjustment) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.LoadOptions();
  c.m_nLogImage = 0;
  c.m_nColorType = 0;
  CxImage pic = Picture(30, 20);
  SetPixelAt(pic, 10, 10, Rgb{3, 5, 2});
  int r = 0;
  std::string log = StderrOf([&] { r = c.ImageEffect(pic); });
  EXPECT_EQ(r, 1);
  // The style moved the working copies once.
  EXPECT_EQ(c.m_nBrightness, 52);
  EXPECT_EQ(c.m_iSharpening, 10);
  // The dot keeps its own values in the black panel; the overlay is full.
  ASSERT_TRUE(c.m_srcImgK.IsValid());
  EXPECT_EQ(PixelAt(c.m_srcImgK, 10, 10), (Rgb{3, 5, 2}));
  EXPECT_EQ(c.nFileSize[3], 256);
  EXPECT_EQ(c.nFileSize[2], 256);
  // Steps run in their order.
  size_t style = log.find("UseDefault value"), black = log.find("Black Panel"),
         sharp = log.find("[->][nVal"), overlay = log.find("Varnish Area"),
         light = log.find("MakeLightSaturate"), gamma = log.find("m_Gamma["),
         rgb = log.find("RGB [Red");
  EXPECT_LT(style, black);
  EXPECT_LT(black, sharp);
  EXPECT_LT(sharp, overlay);
  EXPECT_LT(overlay, light);
  EXPECT_LT(light, gamma);
  EXPECT_LT(gamma, rgb);
  EXPECT_NE(rgb, std::string::npos);
}
