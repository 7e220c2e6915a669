// The printer's service and stripe-encoder commands and their API functions:
// the bytes each one puts on the wire, the lines it logs, how parameter and
// counter replies are decoded, and the track-data limit.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

using Bytes = FakePrinter::Bytes;
const Bytes kSilence;  // an answer of nothing: the printer stays silent

TEST(ServiceFrames, EachCallSendsItsFrameAndLogsEntryAndExit) {
  const Bytes ack = FakePrinter::Ack();
  struct Case {
    const char* name;
    std::function<int()> call;
    Bytes frame, reply;
    int result;
  } cases[] = {
      {"SelfPrinting", SelfPrinting, {0x1B, 0x21, 0x52, 0x53, 0x50, 0, 0, 0, 1, 0x01, 0x0D}, ack, 0},
      {"BuzzerControl", [] { return BuzzerControl(0x0123, 5, 0x0F00); },
       FakePrinter::Frame("!RBZ", {0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}), ack, 0},
      // Bits outside 0-3 and 8-11 are dropped, negative numbers included.
      {"BuzzerControl", [] { return BuzzerControl(0xFFFF, -1, 0x10F0); },
       FakePrinter::Frame("!RBZ", {0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00}), ack, 0},
      {"CardInsert", CardInsert, FakePrinter::Frame("!RIP", {}), FakePrinter::Reply(0x80, 0x03), 3},
      // Only the low bytes travel.
      {"ClearImageBuffer", [] { return ClearImageBuffer(0x1FF, 0x102); }, FakePrinter::Frame("$CCB", {0xFF, 0x02}),
       ack, 0},
      // No printer command stands behind these: nothing is sent or read.
      {"CardEject", CardEject, {}, {}, 0},
      {"CardReject", CardReject, {}, {}, 0},
      {"RibbonSync", RibbonSync, {}, {}, 0},
      {"CleaningPrinter", CleaningPrinter, {}, {}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FakePrinter printer;
    printer.Answer(k.reply);
    std::string log = StderrOf([&] { EXPECT_EQ(k.call(), k.result); });
    EXPECT_EQ(printer.written, k.frame);
    EXPECT_EQ(printer.readLimits.size(), k.frame.empty() ? 0u : 1u);
    const std::string entry = std::string("[S] ") + k.name + "\r\n";
    const std::string exit = std::string("[E] ") + k.name + " : " + std::to_string(k.result) + "\r\n";
    EXPECT_EQ(log.rfind(entry, 0), 0u) << log;
    EXPECT_TRUE(k.frame.empty() ? log == entry + exit : Has(log, exit)) << log;
  }
}

TEST(PrinterParameter, EchoedIndexSelectsTheValue) {
  Bytes longPayload(40, 0x00);  // the 32-byte reply area ends with 00 07; the rest is ignored
  longPayload[0] = 0x09;
  longPayload[31] = 0x07;
  std::fill(longPayload.begin() + 32, longPayload.end(), 0xFF);
  struct Case {
    int index;
    Bytes reply;
    int result, value;
    std::vector<std::string> log;
  } cases[] = {
      // Index 27 counts down from 32.
      {27, FakePrinter::Ack({0x1B, 0x00, 0x05}), 0, 27,
       {"[S] GetPrinterParameterValue [27]\r\n", "   [.]VKCL_GetPrinterParameterValue [27]\r\n"}},
      // The value is the big-endian rest, kept to 32 bits.
      {5, FakePrinter::Ack({0x05, 0x01, 0x02, 0x03, 0x04, 0x05}), 0, 0x02030405, {}},
      {6, FakePrinter::Ack({0x06, 0xFF, 0xFF, 0xFF, 0xFE}), 0, -2, {}},
      {9, FakePrinter::Ack(longPayload), 0, 7, {}},
      // A mismatched echo leaves the value; the API line shows what the caller's int holds.
      {26, FakePrinter::Ack({0x1B, 0x00, 0x05}), 0, -77,
       {"[E] GetPrinterParameterValue [26 = 0] : 0\r\n", "[E] GetPrinterParameterValue [26 = -77] : 0\r\n"}},
      {4, FakePrinter::Ack({0x04}), 0, -77, {"[E] GetPrinterParameterValue [4 = 0] : 0\r\n"}},
      {4, FakePrinter::Ack(), 0, -77, {}},
      // Above 255 only the low byte goes out, so the echo never matches; nor for -1 (0xFF).
      {300, FakePrinter::Ack({0x2C, 0x00, 0x07}), 0, -77, {"[E] GetPrinterParameterValue [300 = 0] : 0\r\n"}},
      {-1, FakePrinter::Ack({0xFF, 0x00, 0x07}), 0, -77, {}},
      {27, FakePrinter::Reply(0x00, 0x15, {0x1B, 0x00, 0x05}), 9, -77,
       {"   [.]VKCL_GetPrinterParameterValue [27]\r\n", "[E] GetPrinterParameterValue [27 = -77] : 9\r\n"}},
      {27, kSilence, -1, -77, {"[E] GetPrinterParameterValue [27 = -77] : -1\r\n"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.index);
    FakePrinter printer;
    printer.Answer(k.reply);
    int value = -77;
    std::string log = StderrOf([&] { EXPECT_EQ(GetPrinterParameterValue(k.index, &value), k.result); });
    EXPECT_EQ(value, k.value);
    EXPECT_EQ(printer.written, FakePrinter::Frame("!GCV", {uint8_t(k.index)}));
    for (const std::string& line : k.log) EXPECT_NE(log.find(line), std::string::npos) << line << log;
    const std::string both = "[E] GetPrinterParameterValue [27 = 27] : 0\r\n";  // from the device and the API
    EXPECT_TRUE(k.value != 27 || (Has(log, both) && log.find(both) != log.rfind(both))) << log;
  }
}

TEST(Counters, PrintAndRibbonCountsFromBigEndianBytesWithMissingOnesZero) {
  struct Case {
    bool print;  // GetPrintCount, else CheckRibbonCount
    Bytes reply;
    int result, count;
    std::string log;
  } cases[] = {
      {true, FakePrinter::Ack({0x00, 0x01}), 0, 65536, "VKCL_GetPrintCount : 65536\r\n"},
      {true, FakePrinter::Ack({0x00, 0x01, 0xE2, 0x40, 0x99}), 0, 123456, "[E] GetPrintCount : 0\r\n"},
      {false, FakePrinter::Ack({0x01, 0xF4}), 0, 500, "Ribbon Count : 500\r\n"},
      {false, FakePrinter::Ack({0x02}), 0, 512, "[E] CheckRibbonCount : 0\r\n"},
      // An empty, refused, silent or failed answer leaves the count.
      {true, FakePrinter::Ack(), 0, -77, "[E] GetPrintCount : 0\r\n"},
      {false, FakePrinter::Reply(0x00, 0x15, {0x01, 0xF4}), 9, -77, "[E] CheckRibbonCount : 9\r\n"},
      {true, kSilence, -1, -77, "[E] GetPrintCount : -1\r\n"},
      {false, FakePrinter::Reply(0x80, 0x04, {0x01, 0xF4}), 4, -77, "[E] CheckRibbonCount : 4\r\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.log);
    FakePrinter printer;
    printer.Answer(k.reply);
    int count = -77;
    std::string log = StderrOf([&] { EXPECT_EQ(k.print ? GetPrintCount(&count) : CheckRibbonCount(&count), k.result); });
    EXPECT_EQ(count, k.count);
    EXPECT_EQ(printer.written, FakePrinter::Frame(k.print ? "!GPC" : "!CRC", {}));
    EXPECT_NE(log.find(k.log), std::string::npos) << log;
    if (k.count == -77) {  // no value line
      EXPECT_EQ(log.find("VKCL_GetPrintCount :"), std::string::npos);
      EXPECT_EQ(log.find("Ribbon Count :"), std::string::npos);
    }
  }
}

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
