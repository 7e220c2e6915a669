// The simulated printer's print-job command: "$PTS" is checked block by
// block against its panel data, and each card's panels are saved as JPEG
// files with a preview of each side. A malformed command is refused (NAK)
// and the reason noted in the simulator's log.
#include "sim/handlers_pts.h"

#include <cstdio>
#include <string>

#include "sim/preview/jpegsize.h"
#include "sim/preview/preview.h"
#include "sim/sim_core.h"

namespace vkrsim {
namespace {

const size_t kBlockArea = 500;
const uint8_t kESC = 0x1B;

std::string& panelFolder() {
  static std::string folder;
  return folder;
}

uint32_t readBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Kind of a panel block by its type byte, or empty for an unknown type.
std::string panelKind(uint8_t type) {
  switch (type & 0x7F) {
    case 0x00: case 0x20: return "color";
    case 0x0B: return "black";
    case 0x10: return "overlay";
    default: return "";
  }
}

int kindRank(const std::string& kind) { return kind == "color" ? 0 : kind == "black" ? 1 : 2; }

PtsCard refuse(PtsCard card, const std::string& why) {
  card.ok = false;
  card.fault = why;
  return card;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// Saves the card's panels and a preview of each printed side.
void saveCard(const PtsCard& card, int number, Simulator& sim) {
  const std::string& folder = panelFolder();
  if (folder.empty()) return;
  char name[64];
  cardpreview::SidePanels sides[2];
  bool badSide[2] = {false, false};
  for (const PtsPanel& p : card.panels) {
    if (p.data.empty()) continue;
    const char* side = p.back ? "back" : "front";
    snprintf(name, sizeof(name), "card%03d_%s_%s.jpg", number, side, p.kind.c_str());
    if (!writeFile(folder + "/" + name, p.data)) sim.Note("cannot write %s", name);
    // A panel is checked by its header before its pixels are decoded for
    // the preview: a crafted size must not make the preview allocate it.
    std::string why;
    if (!cardpreview::PanelFitsCard(p.data.data(), p.data.size(), why)) {
      sim.Note("bad panel %s: %s; no preview", name, why.c_str());
      badSide[p.back ? 1 : 0] = true;
    }
    cardpreview::SidePanels& s = sides[p.back ? 1 : 0];
    (p.kind == "color" ? s.colour : p.kind == "black" ? s.black : s.overlay) = p.data;
  }
  sides[1].side = cardpreview::CardSide::kBack;
  for (int i = 0; i < 2; ++i) {
    const cardpreview::SidePanels& s = sides[i];
    if (badSide[i] || (s.colour.empty() && s.black.empty() && s.overlay.empty())) continue;
    snprintf(name, sizeof(name), "card%03d_%s_preview.png", number, i ? "back" : "front");
    std::string error;
    if (!cardpreview::WriteCardPreview(s, folder + "/" + name, error))
      sim.Note("no preview %s: %s", name, error.c_str());
  }
}

// Answers "$PTS": checks the command, keeps the card, acknowledges.
Response printJob(const Frame& frame, Simulator& sim) {
  if (!frame.complete) {
    sim.Note("$PTS refused: the stream ended inside the command");
    return Reply::Nak();
  }
  if (!frame.closedByCr) {
    sim.Note("$PTS refused: no CR after the panel data");
    return Reply::Nak();
  }
  PtsCard card = ParsePtsCommand(frame.params);
  if (!card.ok) {
    sim.Note("$PTS refused: %s", card.fault.c_str());
    return Reply::Nak();
  }
  const int number = int(++sim.counters["cards"]);
  std::string panels;
  for (const PtsPanel& p : card.panels)
    panels += std::string(" ") + (p.back ? "back_" : "front_") + p.kind + "=" +
              std::to_string(p.data.size());
  sim.Note("card %d printed, %s:%s", number, card.twoSided ? "two-sided" : "one-sided",
           panels.c_str());
  saveCard(card, number, sim);
  return Reply::Ack();
}

}  // namespace

void SetPanelFolder(const std::string& folder) { panelFolder() = folder; }

PtsCard ParsePtsCommand(const std::vector<uint8_t>& params) {
  PtsCard card;
  if (params.size() < kBlockArea) return refuse(card, "shorter than the 500-byte block area");
  const uint8_t* p = params.data();

  // The five fixed blocks, in order.
  const uint8_t codes[] = {'P', 'R', 'F', 'C', 'O'};
  const size_t sizes[] = {3, 7, 5, 3, 8};
  size_t k = 0;
  const uint8_t* fixed[5];
  for (int i = 0; i < 5; ++i) {
    if (p[k] != kESC || p[k + 1] != codes[i])
      return refuse(card, std::string("fixed block '") + char(codes[i]) + "' missing or out of order");
    fixed[i] = p + k + 1;
    k += 1 + sizes[i];
  }
  card.ribbonMode = fixed[0][1];
  const uint8_t* dataMode = fixed[2];
  const uint8_t* blockO1 = fixed[4];

  // Panel blocks: front ('T') first, then BlockO2 and the back ('B').
  struct Block {
    bool back;
    std::string kind;
    uint8_t type;
    uint32_t size;
  };
  std::vector<Block> blocks;
  bool sawBlockO2 = false;
  int lastRank[2] = {-1, -1};
  while (k < kBlockArea && p[k] == kESC) {
    if (k + 1 >= kBlockArea) return refuse(card, "block runs past the block area");
    const uint8_t code = p[k + 1];
    if (code == 'O') {
      if (sawBlockO2) return refuse(card, "second back marker block");
      if (k + 9 > kBlockArea) return refuse(card, "block runs past the block area");
      if (p[k + 2] != 0x80) return refuse(card, "back marker block without 0x80");
      sawBlockO2 = true;
      k += 9;
      continue;
    }
    if (code != 'T' && code != 'B') return refuse(card, "unknown block code");
    if (k + 14 > kBlockArea) return refuse(card, "block runs past the block area");
    const bool back = code == 'B';
    if (back && !sawBlockO2) return refuse(card, "back panel block before the back marker");
    if (!back && sawBlockO2) return refuse(card, "front panel block after the back marker");
    const uint8_t type = p[k + 2];
    const std::string kind = panelKind(type);
    if (kind.empty() || ((type & 0x80) != 0) != back)
      return refuse(card, "panel block of an unknown type");
    const int rank = kindRank(kind);
    if (rank <= lastRank[back]) return refuse(card, "panel blocks out of order");
    lastRank[back] = rank;
    blocks.push_back({back, kind, type, readBigEndian(p + k + 10)});
    k += 14;
  }
  for (size_t i = k; i < kBlockArea; ++i)
    if (p[i] != 0) return refuse(card, "block area not zero-filled after the blocks");

  card.twoSided = sawBlockO2;
  if (dataMode[2] != (card.twoSided ? 3 : 1)) return refuse(card, "data mode does not match the sides");
  if (blockO1[2] != (card.twoSided ? 0x30 : 0)) return refuse(card, "side marker does not match the sides");

  uint64_t total = 0;
  uint8_t overlays = 0;
  for (const Block& b : blocks) {
    total += b.size;
    if (b.kind == "overlay" && b.size > 0) overlays |= b.back ? 2 : 1;
  }
  if (kBlockArea + total != params.size())
    return refuse(card, "panel sizes (" + std::to_string(total) + ") do not match nLength (" +
                            std::to_string(params.size()) + ")");
  if ((dataMode[3] & 3) != overlays) return refuse(card, "overlay flags do not match the panels");

  size_t at = kBlockArea;
  for (const Block& b : blocks) {
    PtsPanel panel;
    panel.back = b.back;
    panel.kind = b.kind;
    panel.type = b.type;
    panel.data.assign(params.begin() + long(at), params.begin() + long(at + b.size));
    at += b.size;
    if (b.size > 0) {
      const std::vector<uint8_t>& d = panel.data;
      if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8 || d[d.size() - 2] != 0xFF ||
          d[d.size() - 1] != 0xD9)
        return refuse(card, "panel " + b.kind + " is not a complete JPEG file");
    }
    card.panels.push_back(std::move(panel));
  }
  card.ok = true;
  return card;
}

VKRSIM_HANDLER("$PTS", printJob);

}  // namespace vkrsim
