// Card preview: what the printer would have printed on one card side, drawn
// from the side's panel JPEGs (colour, black, overlay) into one PNG picture.
//
// The colour panel is the base; the black panel is printed over it wherever
// it is dark; where an overlay panel exists but leaves the card uncoated
// (white in the mask), the picture is hatched so that the uncoated area
// stands out.
//
// The picture shows the side as a person holds the printed card (1013 x 643,
// landscape): every panel the printer receives is that side turned half a
// turn, so the preview turns the panels back. The front is seen upright, the
// back as it shows after turning the card over its long edge; that is the
// same half turn (README, "The card preview").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cardpreview {

// An 8-bit RGB picture, rows top first, three bytes per pixel.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  bool empty() const { return width <= 0 || height <= 0; }
  const uint8_t* at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
  uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Which face of the card a preview shows.
enum class CardSide { kFront, kBack };

// The panel files of one card side as the printer received them; an empty
// vector is a panel the side does not have.
struct SidePanels {
  std::vector<uint8_t> colour;
  std::vector<uint8_t> black;
  std::vector<uint8_t> overlay;
  CardSide side = CardSide::kFront;
};

// A panel pixel darker than this (by its luminance) is ink or coat.
constexpr int kDarkLevel = 128;
// Hatching of the uncoated area: one stripe of kHatchWidth pixels every
// kHatchPeriod pixels along the diagonal, in kHatchColour.
constexpr int kHatchPeriod = 12;
constexpr int kHatchWidth = 3;
constexpr uint8_t kHatchColour[3] = {230, 0, 160};

// Decode a JPEG file (greyscale or colour) into RGB. False with a reason in
// error when the data is not a JPEG the decoder can read.
bool DecodeJpeg(const uint8_t* data, size_t size, RgbImage& out, std::string& error);

// Compose the preview from decoded panels, as received, and turn it half a
// turn into the side as a person sees it; a null or empty panel is absent.
// The size is the colour panel's, else the black's, else the overlay's.
// Panel pixels outside a smaller panel count as white (no ink, no coat).
// The hatching runs along the diagonals of the picture as seen.
RgbImage ComposeCardPreview(const RgbImage* colour, const RgbImage* black, const RgbImage* overlay);

// Write the picture as an 8-bit RGB PNG file, with a short description of
// what it shows in its text chunk.
bool WritePng(const RgbImage& image, const std::string& path, const std::string& description,
              std::string& error);

// Decode the side's panels, compose the preview and write it to pngPath,
// with a description that names the side and how it is seen. Fails when no
// panel is given or one of them does not decode.
bool WriteCardPreview(const SidePanels& panels, const std::string& pngPath, std::string& error);

// Read a whole file; false with a reason when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error);

}  // namespace cardpreview
