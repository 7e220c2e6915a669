// The printer API driving the simulator in-process: tracks written through the encoder
// read back unchanged, and the service counters move as a real printer's would.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/PrinterIO.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "sim/sim_core.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The simulator as the printer: frames written go to it, its answers come
// back on the next read; no pauses.
class SimulatedPrinter : public PrinterIO {
 public:
  SimulatedPrinter() { SetPrinterIO(this); }
  ~SimulatedPrinter() override { SetPrinterIO(nullptr); }

  size_t Write(const void* bytes, size_t count) override {
    sim.Feed(static_cast<const uint8_t*>(bytes), count);
    return count;
  }
  void Flush() override {}
  void Pause(unsigned int) override {}
  ssize_t ReadBack(void* buffer, size_t count, double) override {
    size_t n = std::min(count, answers.size());
    std::copy(answers.begin(), answers.begin() + long(n), static_cast<uint8_t*>(buffer));
    answers.erase(answers.begin(), answers.begin() + long(n));
    return ssize_t(n);
  }
  size_t Drain(void* buffer, size_t count) override { return size_t(ReadBack(buffer, count, 0)); }

  Bytes answers;
  vkrsim::Simulator sim{
      [this](const uint8_t* b, size_t n) { answers.insert(answers.end(), b, b + n); }};
};

}  // namespace

TEST(TrackRoundTrip, TracksReadBackAsWrittenKeptApartAndErasedOneByOne) {
  SimulatedPrinter printer;
  Bytes longest(251), big(252, 0x55);
  std::iota(longest.begin(), longest.end(), uint8_t('0'));
  const Bytes one = {'t', 'r', 'a', 'c', 'k'};
  Bytes answer(32, 0xEE), read(256, 0xEE), readOne(256, 0xEE), blank(256, 0xEE);
  int length = -77, oneLength = -77, blankLength = -77;
  StderrOf([&] {
    EXPECT_EQ(MS_WriteTrackData(2, answer.data()), 9);  // nothing loaded yet
    EXPECT_EQ(answer, Bytes(32, 0xEE));
    EXPECT_EQ(MS_SetEncoderCoercivity(0x80), 0);
    EXPECT_EQ(MS_SetTrackBuffer(2, longest.data(), int(longest.size())), 0);
    EXPECT_EQ(MS_WriteTrackData(2, answer.data()), 0);
    EXPECT_EQ(MS_ReadTrackData(2, read.data(), &length), 0);
    EXPECT_EQ(MS_SetTrackBuffer(1, one.data(), int(one.size())), 0);
    // Refused data never reaches the encoder: its buffer keeps what was loaded before.
    EXPECT_EQ(MS_SetTrackBuffer(1, big.data(), int(big.size())), VK_ERR_REFUSED);
    EXPECT_EQ(MS_WriteTrackData(1, answer.data()), 0);
    EXPECT_EQ(MS_EraseTrackData(2, answer.data()), 0);
    EXPECT_EQ(MS_ReadTrackData(1, readOne.data(), &oneLength), 0);
    EXPECT_EQ(MS_ReadTrackData(2, blank.data(), &blankLength), 0);
  });
  EXPECT_EQ(length, int(longest.size()));
  EXPECT_EQ(Bytes(read.begin(), read.begin() + 251), longest);
  EXPECT_EQ(read[251], 0xEE);
  EXPECT_EQ(answer[0], 2);  // the encoder names the track it worked on
  EXPECT_EQ(printer.sim.counters["coercivity"], 0x80);
  EXPECT_EQ(oneLength, 5);
  EXPECT_EQ(Bytes(readOne.begin(), readOne.begin() + 5), one);
  // The erased track reads back blank: no payload, so data and length stay.
  EXPECT_EQ(blankLength, -77);
  EXPECT_EQ(blank, Bytes(256, 0xEE));
}

TEST(ServiceAgainstSimulator, SelfTestMovesBothCountersAndParametersComeBackWithTheirIndex) {
  SimulatedPrinter printer;
  printer.sim.counters["param.12"] = 0x01020304;
  int prints = -1, ribbon = -1, printsAfter = -1, ribbonAfter = -1, value27 = -77, value12 = -77;
  const uint8_t selfPrint[] = {'!', 'R', 'S', 'P'}, buzzer[] = {'!', 'R', 'B', 'Z', 1, 2};
  std::string log = StderrOf([&] {
    EXPECT_EQ(GetPrintCount(&prints), 0);
    EXPECT_EQ(CheckRibbonCount(&ribbon), 0);
    EXPECT_EQ(SelfPrinting(), 0);
    // Commands missing their parameters are refused and change nothing.
    EXPECT_EQ(g_Dev.SencRecv(selfPrint, 4), 9);
    EXPECT_EQ(g_Dev.SencRecv(buzzer, 6), 9);
    EXPECT_EQ(GetPrintCount(&printsAfter), 0);
    EXPECT_EQ(CheckRibbonCount(&ribbonAfter), 0);
    EXPECT_EQ(GetPrinterParameterValue(27, &value27), 0);
    EXPECT_EQ(GetPrinterParameterValue(12, &value12), 0);
  });
  EXPECT_TRUE(prints > 0 && ribbon > 0);
  EXPECT_EQ(std::make_pair(printsAfter, ribbonAfter), std::make_pair(prints + 1, ribbon - 1));
  EXPECT_EQ(value27, 27);  // the simulator stores 5, which the device reports as 32 - 5
  EXPECT_EQ(value12, 0x01020304);
  EXPECT_TRUE(Has(log, "[E] GetPrinterParameterValue [12 = 16909060] : 0\r\n"));
}
