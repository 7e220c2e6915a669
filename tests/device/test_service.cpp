// The printer's service commands and their API functions: the bytes each one
// puts on the wire, how replies are decoded, and what a refusing or silent
// printer leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

int occurrences(const std::string& log, const std::string& text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

template <typename Call>
std::string logOf(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

const Bytes kSilence = {0xFF, 0xFF};  // stands for "no answer" in the tables below

void Script(FakePrinter& printer, const Bytes& reply) {
  if (reply == kSilence) {
    printer.Silence();
  } else {
    printer.Answer(reply);
  }
}

}  // namespace

TEST(ServiceFrames, EachCallSendsItsFrameAndLogsEntryAndExit) {
  struct Case {
    std::function<int()> call;
    Bytes frame;
    std::vector<std::string> log;
  } cases[] = {
      {SelfPrinting, {0x1B, 0x21, 0x52, 0x53, 0x50, 0, 0, 0, 1, 0x01, 0x0D},
       {"[S] SelfPrinting\r\n", "[E] SelfPrinting : 0\r\n"}},
      {[] { return BuzzerControl(0x0123, 5, 0x0F00); },
       FakePrinter::Frame("!RBZ", {0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}), {"[E] BuzzerControl : 0\r\n"}},
      // Bits outside 0-3 and 8-11 are dropped, negative numbers included.
      {[] { return BuzzerControl(0xFFFF, -1, 0x10F0); },
       FakePrinter::Frame("!RBZ", {0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00}), {}},
      {CardInsert, FakePrinter::Frame("!RIP", {}), {"[S] CardInsert\r\n", "[E] CardInsert : 0\r\n"}},
      // Only the low bytes travel.
      {[] { return ClearImageBuffer(0x1FF, 0x102); }, FakePrinter::Frame("$CCB", {0xFF, 0x02}),
       {"[E] ClearImageBuffer : 0\r\n"}},
  };
  for (const Case& k : cases) {
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack());
    std::string log = logOf([&] { EXPECT_EQ(k.call(), 0); });
    EXPECT_EQ(printer.written, k.frame);
    for (const std::string& line : k.log) EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  // A printer error is the result.
  FakePrinter printer;
  printer.Answer(FakePrinter::Reply(0x80, 0x03));
  std::string log = logOf([&] { EXPECT_EQ(CardInsert(), 3); });
  EXPECT_NE(log.find("[E] CardInsert : 3\r\n"), std::string::npos);
}

TEST(ServiceFrames, FunctionsWithoutACommandLogAndSendNothing) {
  FakePrinter printer;
  std::string log = logOf([&] {
    EXPECT_EQ(CardEject(), 0);
    EXPECT_EQ(CardReject(), 0);
    EXPECT_EQ(RibbonSync(), 0);
    EXPECT_EQ(CleaningPrinter(), 0);
  });
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
  EXPECT_EQ(log,
            "[S] CardEject\r\n[E] CardEject : 0\r\n"
            "[S] CardReject\r\n[E] CardReject : 0\r\n"
            "[S] RibbonSync\r\n[E] RibbonSync : 0\r\n"
            "[S] CleaningPrinter\r\n[E] CleaningPrinter : 0\r\n");
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
    Script(printer, k.reply);
    int value = -77;
    std::string log = logOf([&] { EXPECT_EQ(GetPrinterParameterValue(k.index, &value), k.result); });
    EXPECT_EQ(value, k.value);
    EXPECT_EQ(printer.written, FakePrinter::Frame("!GCV", {uint8_t(k.index)}));
    for (const std::string& line : k.log) EXPECT_NE(log.find(line), std::string::npos) << line << log;
    if (k.value == 27) {  // once from the device, once from the API function
      EXPECT_EQ(occurrences(log, "[E] GetPrinterParameterValue [27 = 27] : 0\r\n"), 2);
    }
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
    Script(printer, k.reply);
    int count = -77;
    std::string log = logOf([&] { EXPECT_EQ(k.print ? GetPrintCount(&count) : CheckRibbonCount(&count), k.result); });
    EXPECT_EQ(count, k.count);
    EXPECT_EQ(printer.written, FakePrinter::Frame(k.print ? "!GPC" : "!CRC", {}));
    EXPECT_NE(log.find(k.log), std::string::npos) << log;
    if (k.count == -77) {  // no value line
      EXPECT_EQ(log.find("VKCL_GetPrintCount :"), std::string::npos);
      EXPECT_EQ(log.find("Ribbon Count :"), std::string::npos);
    }
  }
}

TEST(SensorQueries, PayloadIsHandedOnAsItCameUpToTheReplyAreaAndOnlyOnSuccess) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x31, 0x00, 0x7F}));
  printer.Answer(FakePrinter::Ack({0x01, 0x02}));
  printer.Answer(FakePrinter::Ack({0xAA}));
  Bytes feeder(VK_REPLY_SIZE, 0xEE), ribbon(VK_REPLY_SIZE, 0xEE), option(VK_REPLY_SIZE, 0xEE);
  std::string log = logOf([&] {
    EXPECT_EQ(CheckFeederSensor(feeder.data()), 0);
    EXPECT_EQ(RibbonSensorValue(ribbon.data()), 0);
    EXPECT_EQ(GetOptionInformationValue(option.data()), 0);
  });
  Bytes expected;
  for (const char* code : {"!CFS", "!GRS", "!GOI"}) {
    Bytes f = FakePrinter::Frame(code, {});
    expected.insert(expected.end(), f.begin(), f.end());
  }
  EXPECT_EQ(printer.written, expected);
  EXPECT_EQ(Bytes(feeder.begin(), feeder.begin() + 4), (Bytes{0x31, 0x00, 0x7F, 0xEE}));
  EXPECT_EQ(Bytes(ribbon.begin(), ribbon.begin() + 3), (Bytes{0x01, 0x02, 0xEE}));
  EXPECT_EQ(Bytes(option.begin(), option.begin() + 2), (Bytes{0xAA, 0xEE}));
  for (const char* name : {"CheckFeederSensor", "RibbonSensorValue", "GetOptionInformationValue"})
    EXPECT_NE(log.find(std::string("[E] ") + name + " : 0\r\n"), std::string::npos) << name;

  // A long payload stops at the reply area, or at a smaller caller buffer.
  Bytes payload(100);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i + 1);
  printer.Answer(FakePrinter::Ack(payload));
  printer.Answer(FakePrinter::Ack(Bytes(20, 0x44)));
  Bytes out(100, 0xEE), small(12, 0xEE);
  logOf([&] {
    EXPECT_EQ(CheckFeederSensor(out.data()), 0);
    EXPECT_EQ(g_Dev.VKCL_RibbonSensorValue(small.data(), 8), 0);
  });
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i < VK_REPLY_SIZE ? uint8_t(i + 1) : 0xEE) << i;
  EXPECT_EQ(small, (Bytes{0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0xEE, 0xEE, 0xEE, 0xEE}));

  // A refusal, silence or an empty answer leaves the buffer.
  Bytes untouched(VK_REPLY_SIZE, 0xEE);
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x01, 0x02}));
  printer.Silence();
  printer.Answer(FakePrinter::Ack());
  log = logOf([&] {
    EXPECT_EQ(CheckFeederSensor(untouched.data()), 9);
    EXPECT_EQ(RibbonSensorValue(untouched.data()), -1);
    EXPECT_EQ(GetOptionInformationValue(untouched.data()), 0);
  });
  EXPECT_EQ(untouched, Bytes(VK_REPLY_SIZE, 0xEE));
  EXPECT_NE(log.find("[E] CheckFeederSensor : 9\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] RibbonSensorValue : -1\r\n"), std::string::npos);
}
