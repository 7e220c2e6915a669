// The stripe encoder's commands and their API functions: frames, log lines
// and the track-data limit.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

using Bytes = FakePrinter::Bytes;

TEST(StripeFrames, EachCallSendsItsFrameAndTrackDataBeyond251BytesIsRefused) {
  Bytes data(VK_TRACK_DATA_MAX + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
  Bytes longest(data.begin(), data.end() - 1);
  longest.insert(longest.begin(), 0x03);
  const uint8_t abc[] = {0x41, 0x42, 0x43};
  const Bytes noData = {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 1, 0x02, 0x0D};
  struct Case {
    std::function<int()> call;
    Bytes frame;
    const char* line;
    int result;
  } cases[] = {
      {[] { return MS_SetEncoderCoercivity(0x180); }, {0x1B, 0x26, 0x4D, 0x45, 0x43, 0, 0, 0, 1, 0x80, 0x0D},
       "[S] MS_SetEncoderCoercivity : 0x80\r\n", 0},
      {[&] { return MS_SetTrackBuffer(2, abc, 0); }, noData, "[S] MS_SetTrackBuffer : Track(0x2)\r\n", 0},
      {[] { return MS_SetTrackBuffer(2, nullptr, -4); }, noData, "[E] MS_SetTrackBuffer : 0\r\n", 0},
      {[&] { return MS_SetTrackBuffer(0x101, abc, 3); },
       {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 4, 0x01, 0x41, 0x42, 0x43, 0x0D}, "Track(0x1)\r\n", 0},
      {[&] { return MS_SetTrackBuffer(3, data.data(), VK_TRACK_DATA_MAX); }, FakePrinter::Frame("&MST", longest),
       "Track(0x3)\r\n", 0},
      {[&] { return MS_SetTrackBuffer(1, data.data(), VK_TRACK_DATA_MAX + 1); }, {},
       "252 bytes of track data exceed the 251", VK_ERR_REFUSED},
      {[] { return MS_SetTrackBuffer(1, nullptr, 5); }, {}, "[E] MS_SetTrackBuffer : -2\r\n", VK_ERR_REFUSED},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack());
    std::string log = StderrOf([&] { EXPECT_EQ(k.call(), k.result); });
    EXPECT_EQ(printer.written, k.frame);
    EXPECT_EQ(printer.PendingReads(), k.frame.empty() ? 1u : 0u);  // a refused call never asks the printer
    EXPECT_TRUE(Has(log, k.line)) << log;
  }
}
