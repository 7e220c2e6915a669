// The sample member card and the test patterns, drawn by program, and the
// PPM files that carry pictures in and out.
#include "sim/rasterwrite/samplecard.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace rasterwrite {

Picture::Picture(int w, int h, uint8_t r, uint8_t g, uint8_t b) : width(w), height(h) {
  rgb.resize(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
}

void Picture::Fill(int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
  for (int y = y0 < 0 ? 0 : y0; y < y1 && y < height; ++y)
    for (int x = x0 < 0 ? 0 : x0; x < x1 && x < width; ++x) {
      uint8_t* px = At(x, y);
      px[0] = r;
      px[1] = g;
      px[2] = b;
    }
}

namespace {

// 5 x 7 capitals, digits and a few signs; each row's five bits, left first.
struct Glyph {
  char c;
  uint8_t rows[7];
};

const Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};

const Glyph* findGlyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

// A small deterministic generator, so that patterns are the same everywhere.
uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

void DrawText(Picture& p, int x, int y, int scale, const std::string& text, uint8_t r, uint8_t g,
              uint8_t b) {
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph* glyph = findGlyph(text[i]);
    const int left = x + static_cast<int>(i) * 6 * scale;
    if (!glyph) continue;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (glyph->rows[row] & (0x10 >> col))
          p.Fill(left + col * scale, y + row * scale, left + (col + 1) * scale,
                 y + (row + 1) * scale, r, g, b);
  }
}

Picture SampleCard() {
  Picture card(1013, 643, 255, 255, 255);
  // Header band in blue with the card's title in white.
  card.Fill(0, 0, 1013, 150, 20, 60, 160);
  DrawText(card, 40, 45, 8, "MEMBER CARD", 255, 255, 255);
  // A thin gold rule under the band.
  card.Fill(0, 150, 1013, 162, 230, 180, 30);
  // Photo field: a soft gradient with a round face in skin tone.
  for (int y = 200; y < 560; ++y)
    for (int x = 40; x < 320; ++x) {
      uint8_t* px = card.At(x, y);
      px[0] = static_cast<uint8_t>(120 + (x - 40) * 100 / 280);
      px[1] = static_cast<uint8_t>(170 + (y - 200) * 60 / 360);
      px[2] = 220;
      const int dx = x - 180, dy = y - 330;
      if (dx * dx + dy * dy < 80 * 80) {
        px[0] = 240;
        px[1] = 190;
        px[2] = 150;
      }
    }
  card.Fill(60, 430, 300, 560, 200, 40, 50);  // shoulders in red
  // Black text: what the black panel carries.
  DrawText(card, 360, 210, 5, "NAME", 0, 0, 0);
  DrawText(card, 360, 260, 6, "JANE SAMPLE", 0, 0, 0);
  DrawText(card, 360, 340, 5, "NO.", 0, 0, 0);
  DrawText(card, 360, 390, 6, "0042-1337", 0, 0, 0);
  DrawText(card, 360, 470, 5, "VALID 12/29", 0, 0, 0);
  // Barcode in black.
  uint32_t seed = 42;
  for (int x = 360; x < 960;) {
    const int bar = 3 + static_cast<int>(nextRandom(seed) % 3) * 3;
    card.Fill(x, 540, x + bar, 610, 0, 0, 0);
    x += bar + 3 + static_cast<int>(nextRandom(seed) % 3) * 3;
  }
  // Green corner mark.
  card.Fill(900, 180, 980, 260, 30, 160, 70);
  return card;
}

Picture ToPortraitPage(const Picture& card) {
  // A quarter turn counter-clockwise, as CUPS lays a landscape picture onto
  // a portrait page for a PPD with LandscapeOrientation Plus90: the card's
  // right edge becomes the page's top line, its top-right pixel the page's
  // top-left one. So page (x, line) shows card (width - 1 - line, x).
  Picture page(card.height, card.width);
  for (int line = 0; line < page.height; ++line)
    for (int x = 0; x < page.width; ++x)
      memcpy(page.At(x, line), card.At(card.width - 1 - line, x), 3);
  return page;
}

bool Pattern(const std::string& name, int width, int height, Picture& out) {
  if (width < 1 || height < 1) return false;
  if (name == "white") {
    out = Picture(width, height, 255, 255, 255);
  } else if (name == "black") {
    out = Picture(width, height, 0, 0, 0);
  } else if (name == "bars") {
    static const uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                        {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    out = Picture(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) memcpy(out.At(x, y), kBars[x * 8 / width], 3);
  } else if (name == "gradient") {
    out = Picture(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* px = out.At(x, y);
        px[0] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
        px[1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
        px[2] = 128;
      }
  } else if (name == "noise") {
    out = Picture(width, height);
    uint32_t seed = 7;
    for (uint8_t& v : out.rgb) v = static_cast<uint8_t>(nextRandom(seed));
  } else if (name == "card") {
    Picture page = ToPortraitPage(SampleCard());
    if (page.width == width && page.height == height) {
      out = page;
    } else {  // nearest pixel to the asked size
      out = Picture(width, height);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          memcpy(out.At(x, y),
                 page.At(static_cast<int>(int64_t(x) * page.width / width),
                         static_cast<int>(int64_t(y) * page.height / height)),
                 3);
    }
  } else {
    return false;
  }
  return true;
}

// Reads one whole number of a PPM header, skipping blanks and comment lines
// ("# ..." to the end of the line, as Ghostscript and most tools write one).
namespace {
bool readPpmNumber(FILE* f, int* value) {
  int c = fgetc(f);
  while (c == '#' || isspace(c)) {
    if (c == '#')
      while (c != '\n' && c != EOF) c = fgetc(f);
    c = fgetc(f);
  }
  if (!isdigit(c)) return false;
  long number = 0;
  for (; isdigit(c); c = fgetc(f)) {
    number = number * 10 + (c - '0');
    if (number > 1 << 20) return false;
  }
  *value = int(number);
  // The one blank after the last number ends the header.
  return c != EOF && isspace(c);
}
}  // namespace

bool ReadPpm(const std::string& path, Picture& out, std::string& error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    error = path + ": cannot open";
    return false;
  }
  int width = 0, height = 0, maxval = 0;
  // The header is "P6 <w> <h> <maxval>" with comment lines anywhere between.
  const bool p6 = fgetc(f) == 'P' && fgetc(f) == '6';
  if (!p6 || !readPpmNumber(f, &width) || !readPpmNumber(f, &height) || !readPpmNumber(f, &maxval) ||
      maxval != 255 || width < 1 || height < 1 || width > 65535 || height > 65535) {
    fclose(f);
    error = path + ": not a binary PPM of 8 bits a sample";
    return false;
  }
  out = Picture(width, height);
  const size_t got = fread(out.rgb.data(), 1, out.rgb.size(), f);
  fclose(f);
  if (got != out.rgb.size()) {
    error = path + ": pixel data is short";
    return false;
  }
  return true;
}

bool WritePpm(const std::string& path, const Picture& p, std::string& error) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    error = path + ": cannot create";
    return false;
  }
  fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
  const bool ok = fwrite(p.rgb.data(), 1, p.rgb.size(), f) == p.rgb.size();
  if (fclose(f) != 0 || !ok) {
    error = path + ": write failed";
    return false;
  }
  return true;
}

}  // namespace rasterwrite
