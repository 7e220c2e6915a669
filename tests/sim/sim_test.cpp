// The printer simulator: how it splits the command stream, which answer each
// frame gets, what the answer's bytes are, and what it records.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/VKDevice.h"
#include "sim/sim_core.h"
#include "sim/sim_script.h"
#include "support/fake_printer.h"

using vkrsim::Bytes;
using vkrsim::Frame;
using vkrsim::Reply;
using vkrsim::Simulator;

namespace {

Bytes frame(const std::string& code, const Bytes& params = {}) { return FakePrinter::Frame(code, params); }

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
    rewind(log);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), log)) > 0;) text.append(buffer, n);
    return text;
  }
};

Bytes reply(const std::string& code, uint8_t cls, uint8_t status, const Bytes& payload = {}) {
  return FakePrinter::Reply(cls, status, payload, code);
}

}  // namespace

TEST(SimFrames, LengthFieldNotCrDelimitsAFrame) {
  Bytes params{0x0D, 0x1B, 0x0D};
  std::vector<Frame> frames =
      vkrsim::SplitFrames(concat({frame("&MST", params), frame("!CSS")}));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].code, "&MST");
  EXPECT_EQ(frames[0].params, params);
  EXPECT_TRUE(frames[0].closedByCr);
  EXPECT_EQ(frames[1].code, "!CSS");
  EXPECT_EQ(frames[1].number, 2);
}

TEST(SimFrames, StrayBytesAreSkippedAndATruncatedTailIsKept) {
  Bytes stream = concat({Bytes{'U', 's', 'e'}, frame("$PJS"), Bytes{0x1B, '$', 'P', 'T', 'S', 0, 0, 1, 0, 1, 2}});
  std::vector<Frame> frames = vkrsim::SplitFrames(stream);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].code, "$PJS");
  EXPECT_TRUE(frames[0].complete);
  EXPECT_EQ(frames[1].code, "$PTS");
  EXPECT_FALSE(frames[1].complete);
  EXPECT_EQ(frames[1].declared, 256u);
  EXPECT_EQ(frames[1].params, (Bytes{1, 2}));
}

TEST(SimFrames, CallsOfEachCodeAreCounted) {
  std::vector<Frame> frames = vkrsim::SplitFrames(concat({frame("$PJS"), frame("!GVT"), frame("$PJS")}));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2].callOfCode, 2);
  EXPECT_EQ(frames[1].callOfCode, 1);
}

TEST(Simulator, ByteByByteFeedAnswersEachFrameOnceWhenComplete) {
  TestSim t;
  Bytes stream = concat({frame("$CPJ", {0x0D}), frame("!CSS")});
  for (size_t i = 0; i < stream.size(); ++i) {
    t.feed(Bytes{stream[i]});
    if (i < 10) {
      EXPECT_TRUE(t.answers.empty()) << i;
    }
  }
  ASSERT_EQ(t.answers.size(), 2u);
  EXPECT_EQ(t.answers[0], reply("$CPJ", 0x00, 0x06));
  EXPECT_EQ(t.answers[1], reply("!CSS", 0x00, 0x06));
  EXPECT_EQ(t.sim.frames().size(), 2u);
}

TEST(Simulator, DefaultAnswersAreAnIdleColourPrinter) {
  TestSim t;
  EXPECT_EQ(t.ask("$PJS"), reply("$PJS", 0x00, 0x06, Bytes(7, 0)));
  EXPECT_EQ(t.ask("!GVT"), reply("!GVT", 0x00, 0x06, {0x00, 0x00, 0x01, 0x23}));
  EXPECT_EQ(t.ask("!CRS"), reply("!CRS", 0x00, 0x06, {0x00, '1'}));
  EXPECT_EQ(t.ask("?ZZZ"), reply("?ZZZ", 0x00, 0x06));  // unknown: plain ACK
}

TEST(Simulator, ScriptedSequenceKeepsItsLastAnswer) {
  TestSim t;
  t.rule("$PJS ack 01 05 times=2");
  t.rule("$PJS ack 00 05");
  EXPECT_EQ(t.ask("$PJS"), reply("$PJS", 0, 6, {1, 5}));
  EXPECT_EQ(t.ask("!GVT"), reply("!GVT", 0, 6, {0, 0, 1, 0x23}));  // other codes unaffected
  EXPECT_EQ(t.ask("$PJS"), reply("$PJS", 0, 6, {1, 5}));
  EXPECT_EQ(t.ask("$PJS"), reply("$PJS", 0, 6, {0, 5}));
  EXPECT_EQ(t.ask("$PJS"), reply("$PJS", 0, 6, {0, 5}));
}

TEST(Simulator, ScriptedFaults) {
  TestSim t;
  t.rule("!A01 nak");
  t.rule("!A02 error 03");
  t.rule("!A03 status 40 22 text=ok");
  t.rule("!A04 ack noesc 01");
  t.rule("!A05 ack nocr 01");
  t.rule("!A06 ack len=5000 01 02");
  t.rule("!A07 ack len=-1");
  t.rule("!A08 raw 68 65 0x1b");
  t.rule("!A09 ack fill=3:7e echo=WXYZ");
  EXPECT_EQ(t.ask("!A01"), reply("!A01", 0x00, 0x15));
  EXPECT_EQ(t.ask("!A02"), reply("!A02", 0x80, 0x03));
  EXPECT_EQ(t.ask("!A03"), reply("!A03", 0x40, 0x22, {'o', 'k'}));
  Bytes noEsc = reply("!A04", 0, 6, {1});
  noEsc.erase(noEsc.begin());
  EXPECT_EQ(t.ask("!A04"), noEsc);
  Bytes noCr = reply("!A05", 0, 6, {1});
  noCr.pop_back();
  EXPECT_EQ(t.ask("!A05"), noCr);
  EXPECT_EQ(t.ask("!A06"), (Bytes{0x1B, '!', 'A', '0', '6', 0, 6, 0x00, 0x00, 0x13, 0x88, 1, 2, 0x0D}));
  EXPECT_EQ(t.ask("!A07"), (Bytes{0x1B, '!', 'A', '0', '7', 0, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0x0D}));
  EXPECT_EQ(t.ask("!A08"), (Bytes{'h', 'e', 0x1B}));
  EXPECT_EQ(t.ask("!A09"), reply("WXYZ", 0, 6, {0x7E, 0x7E, 0x7E}));
}

TEST(Simulator, SilenceSendsNothingAndIsLogged) {
  TestSim t;
  t.rule("$PJS silent");
  EXPECT_TRUE(t.ask("$PJS").empty());
  EXPECT_TRUE(t.answers.empty());
  std::string log = t.logText();
  EXPECT_NE(log.find("#1 $PJS N=0 params: (none)\n   no reply (silent)\n"), std::string::npos) << log;
}

TEST(Simulator, LogShowsCodesLengthsParametersAndReplies) {
  TestSim t;
  t.feed(Bytes{'x', 'y'});
  t.ask("$CPJ", {0x34});
  t.feed(Bytes{0x1B, '$', 'P', 'T', 'S', 0, 0, 0, 9, 1});
  t.sim.Finish();
  std::string log = t.logText();
  EXPECT_NE(log.find("stray bytes outside any frame (2): 78 79\n"), std::string::npos) << log;
  EXPECT_NE(log.find("#1 $CPJ N=1 params: 34\n   reply (12 bytes): 1b 24 43 50 4a 00 06 00 00 00 00 0d\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("#2 $PTS N=9 incomplete: stream ended after 10 bytes"), std::string::npos) << log;
}

TEST(Simulator, HandlersSeeEachFrameAndScriptsOverrideTheirAnswer) {
  static int seen = 0;
  vkrsim::RegisterHandler("!TST", [](const Frame& f, Simulator& sim) {
    ++seen;
    sim.counters["tst"] += long(f.params.size());
    return Reply::Ack({uint8_t(f.callOfCode)});
  });
  TestSim t;
  EXPECT_EQ(t.ask("!TST", {1, 2}), reply("!TST", 0, 6, {1}));
  EXPECT_EQ(t.ask("!TST"), reply("!TST", 0, 6, {2}));
  t.rule("!TST error 07");
  EXPECT_EQ(t.ask("!TST", {9}), reply("!TST", 0x80, 0x07));
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(t.sim.counters["tst"], 3);
}

TEST(SimScript, BadRulesAreRefusedWithAReason) {
  Simulator sim(nullptr);
  std::string error;
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJ ack", &error));
  EXPECT_NE(error.find("four characters"), std::string::npos);
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJS shout", &error));
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJS error", &error));
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJS ack 123", &error));
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJS ack times=0", &error));
  EXPECT_FALSE(vkrsim::AddRule(sim, "$PJS ack len=x", &error));
  EXPECT_TRUE(vkrsim::AddRule(sim, "   # only a comment", &error));
  EXPECT_FALSE(vkrsim::LoadScript(sim, "/nonexistent/script", &error));
}

// The simulator's answers, read by the filter's own reply parser: what each
// scripted fault means to the filter.
TEST(SimAndTransport, ScriptedAnswersGiveTheResultsTheFilterSees) {
  struct Case {
    const char* rule;
    int result;
    int payload;
  } cases[] = {
      {"!CSS ack 01 02", 0, 2},      {"!CSS nak 01", 9, 0},         {"!CSS error 03", 3, 0},
      {"!CSS status 00 03", 0, 0},   {"!CSS status 80 15", 9, 0},   {"!CSS ack noesc 01", -1, 0},
      {"!CSS ack nocr 01", -1, 0},   {"!CSS ack len=9 01", -1, 0},  {"!CSS raw 00 11 22", -1, 0},
      {"!CSS ack fill=2000", 0, 1024}, {"!CSS ack fill=5000", -1, 0}, {"!CSS silent", -1, 0},
  };
  for (const Case& c : cases) {
    TestSim t;
    t.rule(c.rule);
    FakePrinter printer;
    Bytes answer = t.ask("!CSS");
    if (answer.empty())
      printer.Silence();
    else
      printer.Answer(answer);
    CVKDevice dev;
    const uint8_t cmd[] = {'!', 'C', 'S', 'S'};
    testing::internal::CaptureStderr();
    int result = dev.SencRecv(cmd, 4);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, c.result) << c.rule;
    EXPECT_EQ(dev.nRcvlen, c.payload) << c.rule;
  }
}
