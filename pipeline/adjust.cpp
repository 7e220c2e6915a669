// The adjustment chain of a colour-ribbon card side: colour style, black
// panel, sharpening, overlay, brightness and contrast with saturation, gamma
// and the red, green and blue balance.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "pipeline/VKCtrl_Print.h"
#include "pipeline/imagedump.h"
#include "pipeline/tablewalk.h"

namespace {

bool isWalkable(const CxImage& image) {
  return image.IsValid() && image.GetBpp() == 24 && image.GetWidth() > 0 &&
         image.GetHeight() > 0;
}

// Sharpening amounts beyond this give no visible gain and are cut.
const int kMaxSharpening = 15;
const float kSharpenRadius = 0.1f;

// The brightness and contrast table; false when both are 50 (the identity).
bool lightTable(int brightness, int contrast, uint8_t* table) {
  if (brightness == 50 && contrast == 50) return false;
  // Levels as the user typed them may sit near the int limits; the sums are
  // formed in 64 bits so that they cannot overflow.
  const float factor =
      static_cast<float>(static_cast<float>(static_cast<int64_t>(contrast) + 50) / 100.0);
  const float offset = static_cast<float>(static_cast<int64_t>(brightness) + 78);
  for (int i = 0; i < 256; ++i) {
    float v = static_cast<float>(i - 128) * factor;
    v = v + offset;
    v = v + 0.5f;
    // Truncation toward zero, then the limits; out-of-range values are
    // limited before the conversion so that it is always defined.
    int entry;
    if (v >= 255.0f) {
      entry = 255;
    } else if (v <= 0.0f) {
      entry = 0;
    } else {
      entry = static_cast<int>(v);
    }
    table[i] = static_cast<uint8_t>(entry);
  }
  return true;
}

int colourSteps(CVKCtrl_Print& ctl, CxImage& image);

}  // namespace

// Run the adjustment chain on the card image; the black and overlay panels
// are taken before any adjustment and are not adjusted themselves.
int CVKCtrl_Print::ImageEffect(CxImage& image) {
  UseDefault();
  MakeColorK(0, image);
  MakeShapening(0, image);
  MakeOverlay(0, image);
  if (!isWalkable(image)) {
    MakeLightSaturate(0, image);
    MakeGamma(0, image);
    return MakeRedGreenBlue(0, image);
  }
  return colourSteps(*this, image);
}

// Sharpen the card image with an unsharp mask of radius 0.1.
int CVKCtrl_Print::MakeShapening(int /*mode*/, CxImage& image) {
  int amount = m_iSharpening;
  if (amount > kMaxSharpening) amount = kMaxSharpening;
  if (amount < 0) amount = 0;
  fprintf(stderr, "[->][nVal %d  m_iSharpening %d radius %f]\n", amount, m_iSharpening,
          kSharpenRadius);
  if (m_nLogImage > 1 && image.IsValid()) DumpImageBmp(*this, image, "MakeShapening", 2000);

  // The mask is applied to the card image itself: it keeps the image's size
  // and settings and changes only pixel bytes, so the result is that of
  // sharpening a copy and copying its pixel rows back. When it cannot run,
  // the image stays as it was.
  image.UnsharpMask(kSharpenRadius, static_cast<float>(amount), 0);

  if (m_nLogImage > 1 && image.IsValid()) DumpImageBmp(*this, image, "MakeShapening", 2001);
  return 1;
}

// Brightness and contrast through one lookup table (white pixels are left
// alone), then saturation.
int CVKCtrl_Print::MakeLightSaturate(int mode, CxImage& image) {
  fprintf(stderr, "[->][MakeLightSaturate %d m_nBrightness %d m_nContrast %d m_nSaturate %d]\n",
          m_nColorType, m_nBrightness, m_nContrast, m_nSaturate);
  if (mode != 0) return 1;

  uint8_t table[256];
  if (lightTable(m_nBrightness, m_nContrast, table) && isWalkable(image)) {
    const int width = static_cast<int>(image.GetWidth());
    const int height = static_cast<int>(image.GetHeight());
    for (int y = 0; y < height; ++y) {
      uint8_t* row = image.GetBits(y);
      MapNonWhitePixels(row, row, width, table);
    }
  }

  if (m_nSaturate != 0) image.Saturate(m_nSaturate, 1);
  return 1;
}

namespace {

// New value of one channel under its colour-balance setting (50 = neutral):
// each step of the setting moves the channel by 2.55 levels.
uint8_t balanceChannel(uint8_t c, int setting) {
  if (setting == 50) return c;
  if (setting > 50) {
    double v = c + (static_cast<double>(setting) - 50.0) * 2.55;
    return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
  }
  double v = c - (50.0 - static_cast<double>(setting)) * 2.55;
  return v <= 0.0 ? 0 : static_cast<uint8_t>(v);
}

// Balance table of one channel setting.
void balanceTable(int setting, uint8_t* table) {
  for (int i = 0; i < 256; ++i) table[i] = balanceChannel(static_cast<uint8_t>(i), setting);
}

// The tables GammaRGB maps each channel through, read off a ramp image: entry
// i is what it makes of byte i. False when the ramp cannot be made; a gamma
// GammaRGB refuses leaves the identity.
bool gammaTables(float gamma, uint8_t* red, uint8_t* green, uint8_t* blue) {
  CxImage ramp(0);
  if (ramp.Create(256, 1, 24, 0) == nullptr) return false;
  uint8_t* p = ramp.GetBits(0);
  for (int i = 0; i < 256; ++i) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = static_cast<uint8_t>(i);
  ramp.GammaRGB(gamma, gamma, gamma);
  for (int i = 0; i < 256; ++i) {
    blue[i] = p[3 * i];
    green[i] = p[3 * i + 1];
    red[i] = p[3 * i + 2];
  }
  return true;
}

// What gamma and colour balance do to each channel of a walkable image.
struct ChannelTables {
  uint8_t red[256], green[256], blue[256];
};

// The log lines of MakeGamma and MakeRedGreenBlue, and the channel tables of
// the two steps together: each channel through the gamma table, then the
// balance table. Returns false, with *gammaAlone set and only the balance in
// the tables, when the gamma must be applied on its own (no ramp).
bool gammaBalanceTables(CVKCtrl_Print& ctl, ChannelTables& t, float* gammaAlone) {
  uint8_t gammaRed[256], gammaGreen[256], gammaBlue[256];
  for (int i = 0; i < 256; ++i) {
    gammaRed[i] = gammaGreen[i] = gammaBlue[i] = static_cast<uint8_t>(i);
  }
  bool together = true;
  float gamma = 1.0f;
  if (ctl.VK_GammaAdjust(0, &gamma) == 1) {
    if (!gammaTables(gamma, gammaRed, gammaGreen, gammaBlue)) {
      together = false;
      *gammaAlone = gamma;
    }
  } else {
    fprintf(stderr, "\n[3] No Gamma(%f)", gamma);
  }
  fprintf(stderr, "\n[2] RGB [Red %d, Green %d Blue %d] GetPixelColor", ctl.m_nRed, ctl.m_nGreen,
          ctl.m_nBlue);
  uint8_t red[256], green[256], blue[256];
  balanceTable(ctl.m_nRed, red);
  balanceTable(ctl.m_nGreen, green);
  balanceTable(ctl.m_nBlue, blue);
  for (int i = 0; i < 256; ++i) {
    t.red[i] = red[gammaRed[i]];
    t.green[i] = green[gammaGreen[i]];
    t.blue[i] = blue[gammaBlue[i]];
  }
  return together;
}

// Rows of a band of the card image that the colour steps take at a time.
const int kBandRows = 32;

// MakeLightSaturate, MakeGamma and MakeRedGreenBlue on a walkable card
// image, with their log lines. Every one of these steps gives each pixel a
// value that depends on that pixel alone, so the image is taken in bands of
// rows that stay in the processor's cache through all the steps rather than
// in one walk over the whole image per step; gamma and balance are one
// table per channel. The bytes are those of the steps one after another.
int colourSteps(CVKCtrl_Print& ctl, CxImage& image) {
  fprintf(stderr, "[->][MakeLightSaturate %d m_nBrightness %d m_nContrast %d m_nSaturate %d]\n",
          ctl.m_nColorType, ctl.m_nBrightness, ctl.m_nContrast, ctl.m_nSaturate);
  uint8_t light[256];
  const bool lightOn = lightTable(ctl.m_nBrightness, ctl.m_nContrast, light);
  const int saturate = ctl.m_nSaturate;
  ChannelTables t;
  float gammaAlone = 0.0f;
  const bool together = gammaBalanceTables(ctl, t, &gammaAlone);

  const int width = static_cast<int>(image.GetWidth());
  const int height = static_cast<int>(image.GetHeight());
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  const int lastRows = height % kBandRows;
  CxImage band(0), lastBand(0);
  const bool banded = together && band.Create(width, kBandRows, 24, 0) != nullptr &&
                      (lastRows == 0 || lastBand.Create(width, lastRows, 24, 0) != nullptr);
  if (!banded) {
    // One walk per step, in their order.
    for (int y = 0; y < height; ++y) {
      uint8_t* row = image.GetBits(y);
      if (lightOn) MapNonWhitePixels(row, row, width, light);
    }
    if (saturate != 0) image.Saturate(saturate, 1);
    if (!together) image.GammaRGB(gammaAlone, gammaAlone, gammaAlone);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = image.GetBits(y);
      MapPixels(row, row, width, t.blue, t.green, t.red);
    }
    return 1;
  }
  // Rows go into the band through the lightness table and come back through
  // the channel tables.
  for (int y0 = 0; y0 < height; y0 += kBandRows) {
    CxImage& b = height - y0 >= kBandRows ? band : lastBand;
    const int rows = static_cast<int>(b.GetHeight());
    for (int r = 0; r < rows; ++r) {
      if (lightOn) {
        MapNonWhitePixels(image.GetBits(y0 + r), b.GetBits(r), width, light);
      } else {
        memcpy(b.GetBits(r), image.GetBits(y0 + r), rowBytes);
      }
    }
    if (saturate != 0) b.Saturate(saturate, 1);
    for (int r = 0; r < rows; ++r) MapPixels(b.GetBits(r), image.GetBits(y0 + r), width, t.blue, t.green, t.red);
  }
  return 1;
}

}  // namespace

// Shift the red, green and blue channels by their balance settings. White
// pixels are shifted like all others.
int CVKCtrl_Print::MakeRedGreenBlue(int mode, CxImage& image) {
  if (mode != 0) return 1;
  fprintf(stderr, "\n[2] RGB [Red %d, Green %d Blue %d] GetPixelColor", m_nRed, m_nGreen, m_nBlue);

  uint8_t red[256], green[256], blue[256];
  for (int i = 0; i < 256; ++i) {
    red[i] = balanceChannel(static_cast<uint8_t>(i), m_nRed);
    green[i] = balanceChannel(static_cast<uint8_t>(i), m_nGreen);
    blue[i] = balanceChannel(static_cast<uint8_t>(i), m_nBlue);
  }

  if (isWalkable(image)) {
    // Each channel's new value depends only on its old value, so the rows can
    // be walked directly; the bytes are those of a pixel-by-pixel pass.
    const int width = static_cast<int>(image.GetWidth());
    const int height = static_cast<int>(image.GetHeight());
    for (int y = 0; y < height; ++y) {
      uint8_t* p = image.GetBits(y);
      for (int x = 0; x < width; ++x, p += 3) {
        p[0] = blue[p[0]];
        p[1] = green[p[1]];
        p[2] = red[p[2]];
      }
    }
  } else {
    const int width = static_cast<int>(image.GetWidth());
    const int height = static_cast<int>(image.GetHeight());
    for (int x = 0; x < width; ++x) {
      for (int y = 0; y < height; ++y) {
        RGBQUAD c = image.GetPixelColor(x, y, true);
        c.rgbRed = red[c.rgbRed];
        c.rgbGreen = green[c.rgbGreen];
        c.rgbBlue = blue[c.rgbBlue];
        image.SetPixelColor(x, y, c, false);
      }
    }
  }
  return 1;
}

// Apply the gamma option to all three channels unless it asks for no change.
int CVKCtrl_Print::MakeGamma(int mode, CxImage& image) {
  if (mode != 0) return 1;
  float gamma = 1.0f;
  int r = VK_GammaAdjust(0, &gamma);
  if (r == 1) {
    image.GammaRGB(gamma, gamma, gamma);
  } else {
    fprintf(stderr, "\n[3] No Gamma(%f)", gamma);
  }
  return 1;
}

// Turn the gamma option plus delta into the gamma to apply; 100 and negative
// values mean no change.
int CVKCtrl_Print::VK_GammaAdjust(int delta, float* gamma) {
  // Formed in 64 bits: a gamma option near the int limits must not overflow.
  int64_t v = static_cast<int64_t>(m_Gamma) + delta;
  if (v < 0) {
    fprintf(stderr, "\n[2] (-) => nGam100");
    v = 100;
  }
  if (v == 100 && delta <= 0) {
    fprintf(stderr, "\n[2] nGam100");
    if (gamma) *gamma = 0.0f;
    return 0;
  }
  float g = static_cast<float>(static_cast<float>(v) / 100.0);
  if (gamma) *gamma = g;
  fprintf(stderr, "\n[2] m_Gamma[%d](%d)+[%d] Gamma(%f)[%lld]", m_Gamma, delta, 100, g,
          static_cast<long long>(v));
  return 1;
}
