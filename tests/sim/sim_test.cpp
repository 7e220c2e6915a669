// The printer simulator: how it splits the command stream, which answer each
// frame gets, what the answer's bytes are, and what it records.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "filter/raster_pages.h"
#include "sim/sim_core.h"
#include "sim/sim_script.h"
#include "support/fake_printer.h"
#include "support/run_filter.h"

using vkrsim::Bytes;
using vkrsim::Frame;
using vkrsim::Simulator;

namespace {

Bytes frame(const std::string& code, const Bytes& params = {}) {
  return FakePrinter::Frame(code, params);
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A simulator that keeps every answer separately and its log as text.
struct TestSim {
  std::vector<Bytes> answers;
  Simulator sim{[this](const uint8_t* b, size_t n) { answers.emplace_back(b, b + n); }};
  FILE* log = tmpfile();
  TestSim() { sim.SetLog(log); }
  ~TestSim() { fclose(log); }
  void rule(const std::string& r) {
    std::string error;
    ASSERT_TRUE(vkrsim::AddRule(sim, r, &error)) << error;
  }
  void feed(const Bytes& bytes) { sim.Feed(bytes.data(), bytes.size()); }
  Bytes ask(const std::string& code, const Bytes& params = {}) {
    size_t before = answers.size();
    feed(frame(code, params));
    return answers.size() > before ? answers.back() : Bytes{};
  }
  std::string logText() {
    fflush(log);
    std::string text(size_t(ftell(log)), '\0');
    rewind(log);
    text.resize(fread(&text[0], 1, text.size(), log));
    return text;
  }
};

Bytes reply(const std::string& code, uint8_t cls, uint8_t status, const Bytes& payload = {}) {
  return FakePrinter::Reply(cls, status, payload, code);
}

}  // namespace

TEST(SimFrames, LengthFieldDelimitsFramesStrayBytesAreSkippedATruncatedTailIsKept) {
  Bytes params{0x0D, 0x1B, 0x0D};  // CRs and ESC inside the parameters
  std::vector<Frame> frames = vkrsim::SplitFrames(concat(
      {Bytes{'U', 's', 'e'}, frame("$PJS"), frame("&MST", params), frame("$PJS"),
       Bytes{0x1B, '$', 'P', 'T', 'S', 0, 0, 1, 0, 1, 2}}));
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1].code + " " + frames[2].code + " " + frames[3].code, "&MST $PJS $PTS");
  EXPECT_EQ(frames[1].params, params);
  EXPECT_TRUE(frames[1].closedByCr && frames[2].complete && !frames[3].complete);
  EXPECT_EQ(frames[2].number, 3);
  EXPECT_EQ(frames[1].callOfCode * 10 + frames[2].callOfCode, 12);  // $PJS's second call
  EXPECT_EQ(frames[3].declared, 256u);
  EXPECT_EQ(frames[3].params, (Bytes{1, 2}));
}

TEST(SimFrames, ByteByByteFeedAnswersEachFrameOnceWhenComplete) {
  TestSim t;
  Bytes stream = concat({frame("$CPJ", {0x0D}), frame("!CSS")});
  for (size_t i = 0; i < stream.size(); ++i) {
    t.feed(Bytes{stream[i]});
    EXPECT_EQ(t.answers.size(), i < 10 ? 0u : i < 20 ? 1u : 2u) << i;
  }
  EXPECT_EQ(t.answers, (std::vector<Bytes>{reply("$CPJ", 0, 6), reply("!CSS", 0, 6)}));
  EXPECT_EQ(t.sim.frames().size(), 2u);
}

TEST(SimFrames, TheFrameLimitAdmitsItsOwnSizeAndPassesLargerFramesWhole) {
  TestSim t;
  t.sim.SetFrameLimit(4);
  t.feed(concat({frame("$CPJ", {1, 2, 3, 4}), frame("$CPJ", {1, 2, 3, 4, 5}), frame("$PJS")}));
  t.sim.Finish();
  ASSERT_EQ(t.answers.size(), 3u);
  const std::vector<Frame>& frames = t.sim.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_FALSE(frames[0].overLimit) << "a frame exactly at the limit is a frame like any other";
  EXPECT_EQ(frames[0].params, (Bytes{1, 2, 3, 4}));
  EXPECT_TRUE(frames[1].overLimit);
  EXPECT_TRUE(frames[1].complete && frames[1].closedByCr) << "its CR is its own";
  EXPECT_EQ(frames[2].code, "$PJS");
  // Nothing is left over between frames, after a frame over the limit or not.
  EXPECT_EQ(t.logText().find("stray"), std::string::npos) << t.logText();
}

TEST(SimProgram, AnAnswerDelayPausesEachAnswerByItsMilliseconds) {
  // The pauses are noted by the test preload, not waited for.
  const std::string dir = vkrtest::MakeTempDir();
  {
    std::ofstream in(dir + "/in.bin", std::ios::binary);
    for (const Bytes& f : {frame("$PJS"), frame("!CSS")}) in.write(reinterpret_cast<const char*>(f.data()), long(f.size()));
  }
  // A sanitizer build takes the preload before its runtime.
  const std::string command = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 LD_PRELOAD=" +
                              std::string(vkrtest::NoSleepLibrary()) + " VKR_USLEEP_LOG=" + dir +
                              "/pauses " + vkrtest::SimulatorBinary() + " --answer-delay 250 --reply-fd 1 <" + dir +
                              "/in.bin >" + dir + "/out.bin 2>" + dir + "/err.txt";
  ASSERT_EQ(system(command.c_str()), 0);
  std::stringstream pauses, out;
  pauses << std::ifstream(dir + "/pauses").rdbuf();
  out << std::ifstream(dir + "/out.bin").rdbuf();
  EXPECT_EQ(pauses.str(), "250000\n250000\n");
  const std::string text = out.str();
  const size_t first = text.find("\x1b$PJS"), second = text.find("\x1b!CSS");
  EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second)
      << "both commands answered, in order";
  vkrtest::RemoveTree(dir);
}

TEST(SimAnswers, AsAnIdleColourPrinterOrAsScripted) {
  Bytes noEsc = reply("!A04", 0, 6, {1}), noCr = reply("!A05", 0, 6, {1});
  noEsc.erase(noEsc.begin());
  noCr.pop_back();
  TestSim t;
  for (const char* r : {"!A01 nak", "!A02 error 03", "!A03 status 40 22 text=ok",
                        "!A04 ack noesc 01", "!A05 ack nocr 01", "!A06 ack len=5000 01 02",
                        "!A07 ack len=-1", "!A08 raw 68 65 0x1b", "!A09 ack fill=3:7e echo=WXYZ",
                        "$PJS ack 01 05 times=2", "$PJS ack 00 05"})
    t.rule(r);
  const std::pair<const char*, Bytes> cases[] = {
      {"!GVT", reply("!GVT", 0, 6, {0, 0, 0x01, 0x23})}, {"!CRS", reply("!CRS", 0, 6, {0, '1'})},
      {"?ZZZ", reply("?ZZZ", 0, 6)},  // unknown: plain ACK
      {"!A01", reply("!A01", 0x00, 0x15)}, {"!A02", reply("!A02", 0x80, 0x03)},
      {"!A03", reply("!A03", 0x40, 0x22, {'o', 'k'})}, {"!A04", noEsc}, {"!A05", noCr},
      {"!A06", {0x1B, '!', 'A', '0', '6', 0, 6, 0x00, 0x00, 0x13, 0x88, 1, 2, 0x0D}},
      {"!A07", {0x1B, '!', 'A', '0', '7', 0, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0x0D}},
      {"!A08", {'h', 'e', 0x1B}}, {"!A09", reply("WXYZ", 0, 6, {0x7E, 0x7E, 0x7E})},
      // A scripted sequence keeps its last answer.
      {"$PJS", reply("$PJS", 0, 6, {1, 5})}, {"$PJS", reply("$PJS", 0, 6, {1, 5})},
      {"$PJS", reply("$PJS", 0, 6, {0, 5})}, {"$PJS", reply("$PJS", 0, 6, {0, 5})},
  };
  for (const auto& c : cases) EXPECT_EQ(t.ask(c.first), c.second) << c.first;
  TestSim idle;
  EXPECT_EQ(idle.ask("$PJS"), reply("$PJS", 0x00, 0x06, Bytes(7, 0)));
}

TEST(SimLog, ShowsCodesLengthsParametersRepliesAndSilence) {
  TestSim t;
  t.rule("$PJS silent");
  t.feed(Bytes{'x', 'y'});
  t.ask("$CPJ", {0x34});
  EXPECT_TRUE(t.ask("$PJS").empty());
  t.feed(Bytes{0x1B, '$', 'P', 'T', 'S', 0, 0, 0, 9, 1});
  t.sim.Finish();
  std::string log = t.logText();
  for (const char* line : {"stray bytes outside any frame (2): 78 79\n",
                           "#1 $CPJ N=1 params: 34\n"
                           "   reply (12 bytes): 1b 24 43 50 4a 00 06 00 00 00 00 0d\n",
                           "#2 $PJS N=0 params: (none)\n   no reply (silent)\n",
                           "#3 $PTS N=9 incomplete: stream ended after 10 bytes"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST(SimScript, BadRulesAreRefusedWithAReason) {
  Simulator sim(nullptr);
  std::string error;
  for (const char* bad : {"$PJS shout", "$PJS error", "$PJS ack 123", "$PJS ack times=0",
                          "$PJS ack len=x", "$PJ ack"})
    EXPECT_FALSE(vkrsim::AddRule(sim, bad, &error)) << bad;
  EXPECT_NE(error.find("four characters"), std::string::npos);
  EXPECT_TRUE(vkrsim::AddRule(sim, "   # only a comment", &error));
  EXPECT_FALSE(vkrsim::LoadScript(sim, "/nonexistent/script", &error));
}

// The simulated printer's "$PTS": good cards are acknowledged, malformed ones refused.
namespace {

// A panel file stand-in: SOI, filler, EOI.
Bytes Jpeg(size_t size, uint8_t fill) {
  Bytes b(size, fill);
  b[0] = 0xFF, b[1] = 0xD8, b[size - 2] = 0xFF, b[size - 1] = 0xD9;
  return b;
}

Bytes PanelBlock(uint8_t code, uint8_t type, uint32_t size) {
  return {code, type, 0, 0, 0, 0, 0, 0, 0, uint8_t(size >> 24), uint8_t(size >> 16),
          uint8_t(size >> 8), uint8_t(size)};
}

// A one-sided card with a colour and an overlay panel, as the filter sends it.
struct Card {
  std::vector<Bytes> blocks = {{'P', 0, 0}, {'R', 0, 1, 0, 0x10, 0, 0}, {'F', 0, 1, 1, 0},
                               {'C', 0xFF, 0}, {'O', 0, 0, 0, 0, 0, 0, 0},
                               PanelBlock('T', 0x00, 300), PanelBlock('T', 0x10, 120)};
  std::vector<Bytes> panels = {Jpeg(300, 0x11), Jpeg(120, 0x22)};
  Bytes junk;  // bytes after the blocks, without ESC
  bool cr = true;

  Bytes Command() const {
    Bytes area;
    for (const Bytes& b : blocks) area = concat({area, Bytes{0x1B}, b});
    area = concat({area, junk});
    area.resize(500, 0);
    for (const Bytes& p : panels) area = concat({area, p});
    const uint32_t n = uint32_t(area.size());
    return concat({Bytes{0x1B, '$', 'P', 'T', 'S', uint8_t(n >> 24), uint8_t(n >> 16),
                         uint8_t(n >> 8), uint8_t(n)},
                   area, Bytes{uint8_t(cr ? 0x0D : 0x0A)}});
  }
};

}  // namespace

TEST(SimPrintJob, WellFormedCardIsAcknowledgedAndMalformedOnesRefused) {
  struct Case {
    const char* why;  // nullptr: a good card
    std::function<void(Card&)> spoil;
  } cases[] = {
      {nullptr, [](Card&) {}},
      {"do not match nLength", [](Card& c) { c.blocks[5].back() = 45; }},
      // Bytes after the last panel that no block declares.
      {"do not match nLength", [](Card& c) { c.panels.push_back(Bytes{0, 0}); }},
      {"panel blocks out of order", [](Card& c) { std::swap(c.blocks[5], c.blocks[6]); }},
      // A second overlay block, empty.
      {"panel blocks out of order", [](Card& c) { c.blocks.push_back(PanelBlock('T', 0x10, 0)); }},
      {"not zero-filled", [](Card& c) { c.junk = {0x05}; }},
      {"no CR after the panel data", [](Card& c) { c.cr = false; }},
      {"fixed block 'R' missing or out of order", [](Card& c) { c.blocks[1][0] = 'X'; }},
      {"data mode does not match the sides", [](Card& c) { c.blocks[2][2] = 3; }},
      {"overlay flags do not match the panels", [](Card& c) { c.blocks[2][3] = 0; }},
      {"not a complete JPEG file", [](Card& c) { c.panels[1][0] = 0x00; }},
      {"back panel block before the back marker", [](Card& c) {
         c.blocks.push_back(PanelBlock('B', 0x80, 50)), c.panels.push_back(Jpeg(50, 0x33));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why ? c.why : "good card");
    Card card;
    c.spoil(card);
    TestSim t;
    t.feed(card.Command());
    const std::string log = t.logText();
    ASSERT_EQ(t.answers.size(), 1u);
    EXPECT_EQ(t.answers[0][6], c.why ? 0x15 : 0x06);  // NAK or ACK
    EXPECT_EQ(t.sim.counters["cards"], c.why ? 0 : 1);
    // The reason follows "refused:" (npos when that is missing).
    const size_t from = c.why ? log.find("$PTS refused: ") : 0;
    const char* good = "card 1 printed, one-sided: front_color=300 front_overlay=120";
    EXPECT_NE(log.find(c.why ? c.why : good, from), std::string::npos) << log;
  }
}

TEST(SimPrintJob, TwoSidedCardFromTheFilterIsSavedWithPreviews) {
  // Two sides with black text, printed by the real filter to a vkrsim that
  // keeps panels in a folder and answers from a script file.
  using namespace rastertest;
  PageSpec front;
  front.duplex = true;
  front.pixel = [](int x, int y) {
    return x > 300 && x < 340 && y > 100 && y < 900 ? Rgb{0, 0, 0} : Rgb{200, 30, 30};
  };
  const std::string dir = vkrtest::MakeTempDir();
  vkrtest::FilterSetup setup;
  setup.Options("CardBlackExtraction=BlackDots CardBOverlay=None");
  setup.stdinBytes = WriteRaster({front, Filled(Rgb{30, 30, 200}, true)});
  setup.simPanels = dir;
  setup.simScript = dir + "/printer.script";
  std::ofstream(setup.simScript) << "# a busy printer\n"
                                    "$PJS ack 01 07 00 00 00 00 00   # the preflight sees job 7\n"
                                    "$PJS ack 00 07 00 00 00 00 00\n";
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  ASSERT_EQ(run.exitStatus, 0) << run.log << run.simErrors;
  EXPECT_TRUE(run.LogHas("DEBUG: PJS [nRet=0][1][7][0][0][0][0][0]\r\n"));
  for (const char* line : {"#1 $PJS N=0 params: (none)\n   reply (19 bytes): "
                           "1b 24 50 4a 53 00 06 00 00 00 07 01 07",
                           "card 1 printed, two-sided"})
    EXPECT_NE(run.simLog.find(line), std::string::npos) << run.simLog;
  EXPECT_EQ(run.simLog.find("no preview"), std::string::npos) << run.simLog;
  auto read = [&](const std::string& name) {
    std::stringstream text;
    text << std::ifstream(dir + "/card001_" + name, std::ios::binary).rdbuf();
    return text.str().size();
  };
  // Each panel in a file of its own, with a preview of each side.
  for (const char* name : {"front_color.jpg", "front_black.jpg", "front_overlay.jpg",
                           "back_color.jpg", "front_preview.png", "back_preview.png"})
    EXPECT_GT(read(name), 0u) << name;
  EXPECT_EQ(read("back_overlay.jpg"), 0u);
  vkrtest::RemoveTree(dir);
}
