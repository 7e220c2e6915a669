// The size of a JPEG picture, read from its header alone: a panel can be
// checked before anything is allocated for its pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cardpreview {

// The printer's panels are at most this wide and high.
constexpr int kPanelMaxWidth = 1013;
constexpr int kPanelMaxHeight = 643;

// Reads the picture size from the JPEG's header (no pixel is decoded).
// False with a reason in error when the data has no readable JPEG header.
bool JpegSize(const uint8_t* data, size_t size, int& width, int& height, std::string& error);

// Whether a panel JPEG has a readable header and fits the printer's panel
// size; when it does not, error says why.
bool PanelFitsCard(const uint8_t* data, size_t size, std::string& error);

}  // namespace cardpreview
