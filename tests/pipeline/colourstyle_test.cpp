// The print controller's colour style offsets.
#include <climits>

#include "pipeline_support.h"

using Levels = std::vector<int>;  // brightness, contrast, red, green, blue, sharpening, gamma

// Each style adds its offsets to the working copies and logs them; unknown
// styles pull every level down; levels near the int limits stay at the limits.
TEST(ColourStyle, OffsetsPerStyleStayWithinTheIntLimits) {
  const Levels defaults = {45, 41, 47, 47, 47, 8, 93}, fifty = {50, 50, 50, 50, 50, 8, 93};
  const Levels pulledDown = {0, 0, 0, 0, 0, 3, 93};
  struct Case {
    int style;
    Levels in, out;
    std::string log;
  } cases[] = {
      {0, defaults, {52, 36, 43, 41, 43, 10, 93},
       "\n[2] UseDefault value(0)[57, 45, 46, 44, 46, 7, 100]\n[2] UseDefault before[45, 41, 47, "
       "47, 47, 8, 93]\n[2] UseDefault adjust[52, 36, 43, 41, 43, 10, 93]"},
      {1, defaults, {45, 31, 37, 37, 37, 10, 93}, "value(1)[50, 40, 40, 40, 40, 7, 100]"},
      {2, defaults, defaults, "value(2)[50, 50, 50, 50, 50, 5, 100]"},
      {7, fifty, pulledDown, "value(7)[0, 0, 0, 0, 0, 0, 100]"},
      {3, fifty, pulledDown, "value(3)[0, 0, 0, 0, 0, 0, 100]"},
      {0, {INT_MAX, INT_MIN, INT_MIN, 47, 47, INT_MAX - 1, 93},
       {INT_MAX, INT_MIN, INT_MIN, 41, 43, INT_MAX, 93}, "value(0)"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.style);
    CVKCtrl_Print c;
    c.m_nStyle = k.style;
    c.m_nBrightness = k.in[0], c.m_nContrast = k.in[1], c.m_nRed = k.in[2], c.m_nGreen = k.in[3];
    c.m_nBlue = k.in[4], c.m_iSharpening = k.in[5], c.m_Gamma = k.in[6];
    const std::string log = StderrOf([&] { EXPECT_EQ(c.UseDefault(), 0); });
    EXPECT_EQ(Levels({c.m_nBrightness, c.m_nContrast, c.m_nRed, c.m_nGreen, c.m_nBlue,
                      c.m_iSharpening, c.m_Gamma}), k.out);
    EXPECT_TRUE(Has(log, k.log)) << log;
  }
  EXPECT_EQ(CVKCtrl_Print().JobOption().nRibbon, 0);  // without a device the record reads as zero
}
