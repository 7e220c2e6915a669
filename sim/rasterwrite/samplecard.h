// Pictures for raster inputs: an 8-bit RGB picture type, the sample member
// card drawn by program, a few test patterns, and PPM reading and writing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rasterwrite {

// An 8-bit RGB picture, rows top first, three bytes per pixel.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  Picture() = default;
  Picture(int w, int h, uint8_t r = 255, uint8_t g = 255, uint8_t b = 255);
  uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  void Fill(int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b);
};

// The sample member card as a person sees it: 1013 x 643, landscape, with
// coloured areas, a photo field and black text and barcode (black text is
// what the printer's black panel takes).
Picture SampleCard();

// Draws text in the built-in 5 x 7 capital font, each font pixel scale x
// scale picture pixels, top-left corner at (x, y). Unknown characters are
// left blank.
void DrawText(Picture& p, int x, int y, int scale, const std::string& text, uint8_t r, uint8_t g,
              uint8_t b);

// Turns a landscape card picture a quarter turn counter-clockwise into the
// portrait page that the printer's raster carries, the way CUPS lays out a
// landscape picture or document for the printer's PPD (LandscapeOrientation
// Plus90). The filter turns the page another quarter turn counter-clockwise
// into its card image, and the printer prints each panel turned half a
// turn, so the card comes out the way the picture shows it.
Picture ToPortraitPage(const Picture& card);

// Test patterns of any size: "white", "black", "bars" (vertical colour
// bars), "gradient", "noise" (seeded), "card" (the sample card, as a page).
bool Pattern(const std::string& name, int width, int height, Picture& out);

// Binary PPM (P6, maxval 255).
bool ReadPpm(const std::string& path, Picture& out, std::string& error);
bool WritePpm(const std::string& path, const Picture& p, std::string& error);

}  // namespace rasterwrite
