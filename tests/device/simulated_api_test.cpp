// The printer API driving the printer simulator in-process: a track written
// through the encoder reads back unchanged, and the service counters move as
// a real printer's would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  SimulatedPrinter()
      : sim([this](const uint8_t* bytes, size_t count) {
          answers.insert(answers.end(), bytes, bytes + count);
        }) {
    SetPrinterIO(this);
  }
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

  vkrsim::Simulator sim;
  Bytes answers;
};

template <typename Call>
std::string logOf(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

Bytes trackData(size_t count) {
  Bytes data(count);
  for (size_t i = 0; i < count; ++i) data[i] = uint8_t('0' + i % 43);
  return data;
}

}  // namespace

TEST(TrackRoundTrip, WrittenTrackReadsBackUnchanged) {
  for (size_t size : {size_t(37), size_t(VK_TRACK_DATA_MAX)}) {
    SCOPED_TRACE(size);
    SimulatedPrinter printer;
    const Bytes data = trackData(size);
    Bytes answer(VK_REPLY_SIZE, 0xEE), read(VK_TRACK_SIZE, 0xEE);
    int length = -77;
    logOf([&] {
      EXPECT_EQ(MS_SetEncoderCoercivity(0x80), 0);
      EXPECT_EQ(MS_SetTrackBuffer(2, data.data(), int(data.size())), 0);
      EXPECT_EQ(MS_WriteTrackData(2, answer.data()), 0);
      EXPECT_EQ(MS_ReadTrackData(2, read.data(), &length), 0);
    });
    EXPECT_EQ(length, int(size));
    EXPECT_EQ(Bytes(read.begin(), read.begin() + long(size)), data);
    EXPECT_EQ(read[size], 0xEE);
    EXPECT_EQ(answer[0], 2);  // the encoder names the track it wrote
    EXPECT_EQ(printer.sim.counters["coercivity"], 0x80);
  }
}

TEST(TrackRoundTrip, TracksAreKeptApartAndErasedOneByOne) {
  SimulatedPrinter printer;
  const Bytes one = trackData(5), three = trackData(9);
  Bytes answer(VK_REPLY_SIZE), read(VK_TRACK_SIZE, 0xEE), blank(VK_TRACK_SIZE, 0xEE);
  int length = -77, blankLength = -77;
  logOf([&] {
    MS_SetTrackBuffer(1, one.data(), int(one.size()));
    MS_WriteTrackData(1, answer.data());
    MS_SetTrackBuffer(3, three.data(), int(three.size()));
    MS_WriteTrackData(3, answer.data());
    EXPECT_EQ(MS_EraseTrackData(3, answer.data()), 0);
    EXPECT_EQ(MS_ReadTrackData(1, read.data(), &length), 0);
    EXPECT_EQ(MS_ReadTrackData(3, blank.data(), &blankLength), 0);
  });
  EXPECT_EQ(length, 5);
  EXPECT_EQ(Bytes(read.begin(), read.begin() + 5), one);
  // The erased track reads back blank: no payload, so data and length stay.
  EXPECT_EQ(blankLength, -77);
  EXPECT_EQ(blank, Bytes(VK_TRACK_SIZE, 0xEE));
}

TEST(TrackRoundTrip, RefusedTrackDataNeverReachesTheEncoder) {
  SimulatedPrinter printer;
  const Bytes small = trackData(4), big = trackData(VK_TRACK_DATA_MAX + 1);
  Bytes answer(VK_REPLY_SIZE, 0xEE), read(VK_TRACK_SIZE, 0xEE);
  int length = -77;
  logOf([&] {
    // Writing with nothing loaded is refused.
    EXPECT_EQ(MS_WriteTrackData(1, answer.data()), 9);
    EXPECT_EQ(answer, Bytes(VK_REPLY_SIZE, 0xEE));
    MS_SetTrackBuffer(1, small.data(), int(small.size()));
    EXPECT_EQ(MS_SetTrackBuffer(1, big.data(), int(big.size())), VK_ERR_REFUSED);
    MS_WriteTrackData(1, answer.data());
    MS_ReadTrackData(1, read.data(), &length);
  });
  // The buffer still holds what was loaded before the refused call.
  EXPECT_EQ(length, 4);
  EXPECT_EQ(printer.sim.frames().size(), 4u);
}

TEST(ServiceAgainstSimulator, SelfTestPrintMovesBothCounters) {
  SimulatedPrinter printer;
  int prints = -1, ribbon = -1, printsAfter = -1, ribbonAfter = -1;
  logOf([&] {
    EXPECT_EQ(GetPrintCount(&prints), 0);
    EXPECT_EQ(CheckRibbonCount(&ribbon), 0);
    EXPECT_EQ(SelfPrinting(), 0);
    EXPECT_EQ(GetPrintCount(&printsAfter), 0);
    EXPECT_EQ(CheckRibbonCount(&ribbonAfter), 0);
  });
  EXPECT_GT(prints, 0);
  EXPECT_GT(ribbon, 0);
  EXPECT_EQ(printsAfter, prints + 1);
  EXPECT_EQ(ribbonAfter, ribbon - 1);
}

TEST(ServiceAgainstSimulator, ParametersComeBackWithTheirIndex) {
  SimulatedPrinter printer;
  printer.sim.counters["param.12"] = 0x01020304;
  int value27 = -77, value12 = -77;
  std::string log = logOf([&] {
    EXPECT_EQ(GetPrinterParameterValue(27, &value27), 0);
    EXPECT_EQ(GetPrinterParameterValue(12, &value12), 0);
  });
  // The simulator stores 5 for parameter 27, which the device reports as 32 - 5.
  EXPECT_EQ(value27, 27);
  EXPECT_EQ(value12, 0x01020304);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [12 = 16909060] : 0\r\n"), std::string::npos);
}

TEST(ServiceAgainstSimulator, CommandsMissingTheirParametersAreRefused) {
  SimulatedPrinter printer;
  const uint8_t selfPrint[] = {'!', 'R', 'S', 'P'};
  const uint8_t buzzer[] = {'!', 'R', 'B', 'Z', 1, 2};
  const uint8_t read[] = {'&', 'M', 'R', 'T'};
  logOf([&] {
    EXPECT_EQ(g_Dev.SencRecv(selfPrint, 4), 9);
    EXPECT_EQ(g_Dev.SencRecv(buzzer, 6), 9);
    EXPECT_EQ(g_Dev.SencRecv(read, 4), 9);
  });
  EXPECT_EQ(printer.sim.counters.count("prints"), 0u);
}
