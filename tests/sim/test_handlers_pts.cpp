// The simulated printer's "$PTS": good cards are acknowledged and saved
// panel by panel with a preview of each side; malformed commands are
// refused with the reason in the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "filter/raster_pages.h"
#include "sim/handlers_pts.h"
#include "sim/sim_core.h"
#include "support/run_filter.h"

using vkrsim::Bytes;

namespace {

// A panel file stand-in: SOI, filler, EOI.
Bytes Jpeg(size_t size, uint8_t fill) {
  Bytes b(size, fill);
  b[0] = 0xFF;
  b[1] = 0xD8;
  b[size - 2] = 0xFF;
  b[size - 1] = 0xD9;
  return b;
}

void PutSize(Bytes& block, uint32_t size) {
  block[9] = uint8_t(size >> 24);
  block[10] = uint8_t(size >> 16);
  block[11] = uint8_t(size >> 8);
  block[12] = uint8_t(size);
}

Bytes PanelBlock(uint8_t code, uint8_t type, uint32_t size) {
  Bytes b(13, 0);
  b[0] = code;
  b[1] = type;
  PutSize(b, size);
  return b;
}

// A one-sided card with a colour and an overlay panel, as the filter sends it.
struct Card {
  Bytes sop{'P', 0, 0}, spt{'R', 0, 1, 0, 0x10, 0, 0}, dataMode{'F', 0, 1, 1, 0},
      blockC{'C', 0xFF, 0}, blockO1{'O', 0, 0, 0, 0, 0, 0, 0};
  std::vector<Bytes> blocks;
  std::vector<Bytes> panels;
  Bytes junk;  // bytes after the blocks, without ESC
  bool cr = true;

  Card() {
    panels = {Jpeg(300, 0x11), Jpeg(120, 0x22)};
    blocks = {PanelBlock('T', 0x00, 300), PanelBlock('T', 0x10, 120)};
  }

  Bytes Command() const {
    Bytes area;
    for (const Bytes* b : {&sop, &spt, &dataMode, &blockC, &blockO1}) {
      area.push_back(0x1B);
      area.insert(area.end(), b->begin(), b->end());
    }
    for (const Bytes& b : blocks) {
      area.push_back(0x1B);
      area.insert(area.end(), b.begin(), b.end());
    }
    area.insert(area.end(), junk.begin(), junk.end());
    area.resize(500, 0);
    for (const Bytes& p : panels) area.insert(area.end(), p.begin(), p.end());
    const uint32_t n = uint32_t(area.size());
    const uint8_t head[9] = {0x1B, '$', 'P', 'T', 'S', uint8_t(n >> 24), uint8_t(n >> 16),
                             uint8_t(n >> 8), uint8_t(n)};
    Bytes cmd(9 + area.size() + 1);
    std::copy(head, head + 9, cmd.begin());
    std::copy(area.begin(), area.end(), cmd.begin() + 9);
    cmd.pop_back();
    cmd.push_back(cr ? 0x0D : 0x0A);
    return cmd;
  }
};

struct PtsSim {
  std::vector<Bytes> answers;
  vkrsim::Simulator sim{[this](const uint8_t* b, size_t n) { answers.emplace_back(b, b + n); }};
  FILE* log = tmpfile();
  PtsSim() { sim.SetLog(log); }
  ~PtsSim() {
    fclose(log);
    vkrsim::SetPanelFolder("");
  }
  void Feed(const Bytes& bytes) { sim.Feed(bytes.data(), bytes.size()); }
  std::string Log() {
    fflush(log);
    rewind(log);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), log)) > 0) text.append(buf, n);
    return text;
  }
  // Status code of the last answer (06 ACK, 15 NAK).
  int LastStatus() const { return answers.empty() || answers.back().size() < 7 ? -1 : answers.back()[6]; }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

}  // namespace

TEST(SimPrintJob, WellFormedCardIsAcknowledgedAndNoted) {
  PtsSim s;
  s.Feed(Card().Command());
  EXPECT_EQ(s.LastStatus(), 0x06);
  EXPECT_NE(s.Log().find("card 1 printed, one-sided: front_color=300 front_overlay=120"),
            std::string::npos)
      << s.Log();
  EXPECT_EQ(s.sim.counters["cards"], 1);
}

TEST(SimPrintJob, MalformedCommandsAreRefusedWithTheReason) {
  struct Case {
    const char* why;
    std::function<void(Card&)> spoil;
  } cases[] = {
      {"do not match nLength", [](Card& c) { PutSize(c.blocks[0], 301); }},
      {"panel blocks out of order", [](Card& c) { std::swap(c.blocks[0], c.blocks[1]); }},
      {"not zero-filled", [](Card& c) { c.junk = {0x05}; }},
      {"no CR after the panel data", [](Card& c) { c.cr = false; }},
      {"fixed block 'R' missing or out of order", [](Card& c) { c.spt[0] = 'X'; }},
      {"data mode does not match the sides", [](Card& c) { c.dataMode[2] = 3; }},
      {"overlay flags do not match the panels", [](Card& c) { c.dataMode[3] = 0; }},
      {"not a complete JPEG file", [](Card& c) { c.panels[1][0] = 0x00; }},
      {"back panel block before the back marker",
       [](Card& c) {
         c.blocks.push_back(PanelBlock('B', 0x80, 50));
         c.panels.push_back(Jpeg(50, 0x33));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Card card;
    c.spoil(card);
    PtsSim s;
    s.Feed(card.Command());
    EXPECT_EQ(s.LastStatus(), 0x15);
    EXPECT_NE(s.Log().find(std::string("$PTS refused: ")), std::string::npos);
    EXPECT_NE(s.Log().find(c.why), std::string::npos) << s.Log();
    EXPECT_EQ(s.sim.counters["cards"], 0);
  }
}

TEST(SimPrintJob, TwoSidedCardFromTheFilterIsSavedWithPreviews) {
  // Two sides with black text, printed by the real filter; its bytes are
  // then played to a simulator that keeps panels in a folder.
  using namespace rastertest;
  PageSpec front;
  front.duplex = true;
  front.pixel = [](int x, int line) {
    return x > 300 && x < 340 && line > 100 && line < 900 ? Rgb{0, 0, 0} : Rgb{200, 30, 30};
  };
  PageSpec back = Filled(Rgb{30, 30, 200}, true);
  vkrtest::FilterSetup setup;
  setup.Options("CardBlackExtraction=BlackDots CardBOverlay=None");
  setup.stdinBytes = WriteRaster({front, back});
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  ASSERT_EQ(run.exitStatus, 0) << run.log;

  const std::string dir = vkrtest::MakeTempDir();
  {
    PtsSim s;
    vkrsim::SetPanelFolder(dir);
    s.Feed(run.printerBytes);
    EXPECT_NE(s.Log().find("card 1 printed, two-sided"), std::string::npos) << s.Log();
    EXPECT_EQ(s.Log().find("no preview"), std::string::npos) << s.Log();
  }
  vkrsim::PtsCard card;
  for (const vkrsim::Frame& f : run.frames)
    if (f.code == "$PTS") card = vkrsim::ParsePtsCommand(f.params);
  ASSERT_TRUE(card.ok) << card.fault;
  for (const vkrsim::PtsPanel& p : card.panels) {
    const std::string path =
        dir + "/card001_" + (p.back ? "back_" : "front_") + p.kind + ".jpg";
    SCOPED_TRACE(path);
    ASSERT_TRUE(Exists(path));
    EXPECT_EQ(ReadFile(path), std::string(p.data.begin(), p.data.end()));
  }
  EXPECT_TRUE(Exists(dir + "/card001_front_color.jpg"));
  EXPECT_TRUE(Exists(dir + "/card001_front_black.jpg"));
  EXPECT_TRUE(Exists(dir + "/card001_front_overlay.jpg"));
  EXPECT_TRUE(Exists(dir + "/card001_back_color.jpg"));
  EXPECT_FALSE(Exists(dir + "/card001_back_overlay.jpg"));
  EXPECT_TRUE(Exists(dir + "/card001_front_preview.png"));
  EXPECT_TRUE(Exists(dir + "/card001_back_preview.png"));
  vkrtest::RemoveTree(dir);
}
