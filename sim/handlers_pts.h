// The simulated printer's print-job command "$PTS": the check of its block
// area against the panel data, and where the panels of each card are kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vkrsim {

// One panel of a card as the command carries it.
struct PtsPanel {
  bool back = false;   // a panel of the card's back
  std::string kind;    // "color", "black" or "overlay"
  uint8_t type = 0;    // the block's panel type (P1)
  std::vector<uint8_t> data;
};

// A "$PTS" command's parameters (block area and panel data) taken apart.
struct PtsCard {
  bool ok = false;
  std::string fault;   // why the command is malformed (empty when ok)
  bool twoSided = false;
  uint8_t ribbonMode = 0;  // SOP P1
  std::vector<PtsPanel> panels;
};

// Checks the parameters of a "$PTS" frame: the fixed blocks in order, the
// panel blocks (front before back, colour before black before overlay), the
// zero fill up to 500 bytes, the two-sided and overlay flags, each panel's
// size against the data and every panel a complete JPEG file.
PtsCard ParsePtsCommand(const std::vector<uint8_t>& params);

// Folder where every printed card's panels (card001_front_color.jpg, ...)
// and a preview of each side (card001_front_preview.png) are saved; empty:
// nothing is saved.
void SetPanelFolder(const std::string& folder);

}  // namespace vkrsim
