// The printer's service commands and their API functions: the bytes each one
// puts on the wire, how replies are decoded, and what a refusing or silent
// printer leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

// Counts how often text occurs in log.
int occurrences(const std::string& log, const std::string& text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// Runs an API call with standard error captured; returns the log.
template <typename Call>
std::string logOf(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(ServiceFrames, SelfPrintingSendsTheSelfTestCommand) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  int result = -5;
  std::string log = logOf([&] { result = SelfPrinting(); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printer.written, (Bytes{0x1B, 0x21, 0x52, 0x53, 0x50, 0, 0, 0, 1, 0x01, 0x0D}));
  EXPECT_NE(log.find("[S] SelfPrinting\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] SelfPrinting : 0\r\n"), std::string::npos);
}

TEST(ServiceFrames, BuzzerPacksEachArgumentIntoTwoNibbles) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([] { BuzzerControl(0x0123, 5, 0x0F00); });
  EXPECT_EQ(printer.written, FakePrinter::Frame("!RBZ", {0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}));
  EXPECT_NE(log.find("[E] BuzzerControl : 0\r\n"), std::string::npos);

  // Bits outside 0-3 and 8-11 are dropped, negative numbers included.
  printer.written.clear();
  printer.Answer(FakePrinter::Ack());
  logOf([] { BuzzerControl(0xFFFF, -1, 0x10F0); });
  EXPECT_EQ(printer.written, FakePrinter::Frame("!RBZ", {0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00}));
}

TEST(ServiceFrames, CardInsertAndClearImageBufferSendTheirCodes) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([] {
    CardInsert();
    ClearImageBuffer(0x1FF, 0x102);  // only the low bytes travel
  });
  Bytes expected = FakePrinter::Frame("!RIP", {});
  Bytes clear = FakePrinter::Frame("$CCB", {0xFF, 0x02});
  expected.insert(expected.end(), clear.begin(), clear.end());
  EXPECT_EQ(printer.written, expected);
  EXPECT_NE(log.find("[S] CardInsert\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] CardInsert : 0\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] ClearImageBuffer : 0\r\n"), std::string::npos);
}

TEST(ServiceFrames, FunctionsWithoutACommandLogAndSendNothing) {
  FakePrinter printer;
  int results[4] = {-5, -5, -5, -5};
  std::string log = logOf([&] {
    results[0] = CardEject();
    results[1] = CardReject();
    results[2] = RibbonSync();
    results[3] = CleaningPrinter();
  });
  for (int r : results) EXPECT_EQ(r, 0);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
  EXPECT_EQ(log,
            "[S] CardEject\r\n[E] CardEject : 0\r\n"
            "[S] CardReject\r\n[E] CardReject : 0\r\n"
            "[S] RibbonSync\r\n[E] RibbonSync : 0\r\n"
            "[S] CleaningPrinter\r\n[E] CleaningPrinter : 0\r\n");
}

TEST(ServiceFrames, APrinterErrorIsTheResult) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Reply(0x80, 0x03));
  int result = 0;
  std::string log = logOf([&] { result = CardInsert(); });
  EXPECT_EQ(result, 3);
  EXPECT_NE(log.find("[E] CardInsert : 3\r\n"), std::string::npos);
}

TEST(PrinterParameter, EchoedIndexTwentySevenCountsDownFromThirtyTwo) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x1B, 0x00, 0x05}));
  int value = -77;
  int result = -5;
  std::string log = logOf([&] { result = GetPrinterParameterValue(27, &value); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(value, 27);
  EXPECT_EQ(printer.written, FakePrinter::Frame("!GCV", {0x1B}));
  EXPECT_NE(log.find("[S] GetPrinterParameterValue [27]\r\n"), std::string::npos);
  EXPECT_NE(log.find("   [.]VKCL_GetPrinterParameterValue [27]\r\n"), std::string::npos);
  // Once from the device, once from the API function.
  EXPECT_EQ(occurrences(log, "[E] GetPrinterParameterValue [27 = 27] : 0\r\n"), 2);
}

TEST(PrinterParameter, ValueIsTheBigEndianRestKeptToThirtyTwoBits) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x05, 0x01, 0x02, 0x03, 0x04, 0x05}));
  int value = -77;
  logOf([&] { GetPrinterParameterValue(5, &value); });
  EXPECT_EQ(value, 0x02030405);

  printer.Answer(FakePrinter::Ack({0x06, 0xFF, 0xFF, 0xFF, 0xFE}));
  logOf([&] { GetPrinterParameterValue(6, &value); });
  EXPECT_EQ(value, -2);
}

TEST(PrinterParameter, MismatchedEchoLeavesTheValueAndLogsZero) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x1B, 0x00, 0x05}));
  int value = -77;
  int result = -5;
  std::string log = logOf([&] { result = GetPrinterParameterValue(26, &value); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(value, -77);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [26 = 0] : 0\r\n"), std::string::npos);
  // The API line shows what the caller's int holds.
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [26 = -77] : 0\r\n"), std::string::npos);
}

TEST(PrinterParameter, ShortPayloadLeavesTheValue) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x04}));
  int value = -77;
  std::string log = logOf([&] { GetPrinterParameterValue(4, &value); });
  EXPECT_EQ(value, -77);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [4 = 0] : 0\r\n"), std::string::npos);

  printer.Answer(FakePrinter::Ack());  // no payload at all
  logOf([&] { GetPrinterParameterValue(4, &value); });
  EXPECT_EQ(value, -77);
}

TEST(PrinterParameter, IndexAboveTwoFiftyFiveNeverMatches) {
  FakePrinter printer;
  // 300 goes out as its low byte 0x2C, and the printer echoes that byte.
  printer.Answer(FakePrinter::Ack({0x2C, 0x00, 0x07}));
  int value = -77;
  std::string log = logOf([&] { GetPrinterParameterValue(300, &value); });
  EXPECT_EQ(printer.written, FakePrinter::Frame("!GCV", {0x2C}));
  EXPECT_EQ(value, -77);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [300 = 0] : 0\r\n"), std::string::npos);

  // A negative index goes out as 0xFF and cannot match its echo either.
  printer.Answer(FakePrinter::Ack({0xFF, 0x00, 0x07}));
  logOf([&] { GetPrinterParameterValue(-1, &value); });
  EXPECT_EQ(value, -77);
}

TEST(PrinterParameter, LongPayloadIsDecodedFromTheReplyAreaOnly) {
  FakePrinter printer;
  // 40 bytes: the 32-byte reply area ends with 00 07; what lies beyond it
  // must not reach the value.
  Bytes payload(40, 0x00);
  payload[0] = 0x09;
  payload[31] = 0x07;
  for (size_t i = 32; i < payload.size(); ++i) payload[i] = 0xFF;
  printer.Answer(FakePrinter::Ack(payload));
  int value = -77;
  logOf([&] { GetPrinterParameterValue(9, &value); });
  EXPECT_EQ(value, 7);
}

TEST(PrinterParameter, RefusedOrSilentPrinterLeavesTheValue) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x1B, 0x00, 0x05}));
  int value = -77;
  int result = 0;
  std::string log = logOf([&] { result = GetPrinterParameterValue(27, &value); });
  EXPECT_EQ(result, 9);
  EXPECT_EQ(value, -77);
  EXPECT_NE(log.find("   [.]VKCL_GetPrinterParameterValue [27]\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [27 = -77] : 9\r\n"), std::string::npos);

  printer.Silence();
  log = logOf([&] { result = GetPrinterParameterValue(27, &value); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(value, -77);
  EXPECT_NE(log.find("[E] GetPrinterParameterValue [27 = -77] : -1\r\n"), std::string::npos);
}

TEST(Counters, PrintCountReadsFourBigEndianBytesWithMissingOnesZero) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x00, 0x01}));
  int count = -77;
  int result = -5;
  std::string log = logOf([&] { result = GetPrintCount(&count); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(count, 65536);
  EXPECT_EQ(printer.written, FakePrinter::Frame("!GPC", {}));
  EXPECT_NE(log.find("VKCL_GetPrintCount : 65536\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] GetPrintCount : 0\r\n"), std::string::npos);

  printer.Answer(FakePrinter::Ack({0x00, 0x01, 0xE2, 0x40, 0x99}));
  logOf([&] { GetPrintCount(&count); });
  EXPECT_EQ(count, 123456);
}

TEST(Counters, RibbonCountReadsTwoBigEndianBytes) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x01, 0xF4}));
  int count = -77;
  std::string log = logOf([&] { CheckRibbonCount(&count); });
  EXPECT_EQ(count, 500);
  EXPECT_EQ(printer.written, FakePrinter::Frame("!CRC", {}));
  EXPECT_NE(log.find("Ribbon Count : 500\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] CheckRibbonCount : 0\r\n"), std::string::npos);

  printer.Answer(FakePrinter::Ack({0x02}));
  logOf([&] { CheckRibbonCount(&count); });
  EXPECT_EQ(count, 512);
}

TEST(Counters, EmptyNakOrSilentAnswerLeavesTheCount) {
  FakePrinter printer;
  int count = -77;
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([&] { EXPECT_EQ(GetPrintCount(&count), 0); });
  EXPECT_EQ(count, -77);
  EXPECT_EQ(log.find("VKCL_GetPrintCount :"), std::string::npos);

  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x01, 0xF4}));
  log = logOf([&] { EXPECT_EQ(CheckRibbonCount(&count), 9); });
  EXPECT_EQ(count, -77);
  EXPECT_NE(log.find("[E] CheckRibbonCount : 9\r\n"), std::string::npos);

  printer.Silence();
  logOf([&] { EXPECT_EQ(GetPrintCount(&count), -1); });
  EXPECT_EQ(count, -77);

  // A printer error with a payload: the payload is not used.
  printer.Answer(FakePrinter::Reply(0x80, 0x04, {0x01, 0xF4}));
  logOf([&] { EXPECT_EQ(CheckRibbonCount(&count), 4); });
  EXPECT_EQ(count, -77);
}

TEST(SensorQueries, PayloadIsHandedOnAsItCame) {
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
  Bytes expected = FakePrinter::Frame("!CFS", {});
  for (const char* code : {"!GRS", "!GOI"}) {
    Bytes f = FakePrinter::Frame(code, {});
    expected.insert(expected.end(), f.begin(), f.end());
  }
  EXPECT_EQ(printer.written, expected);
  EXPECT_EQ(Bytes(feeder.begin(), feeder.begin() + 4), (Bytes{0x31, 0x00, 0x7F, 0xEE}));
  EXPECT_EQ(Bytes(ribbon.begin(), ribbon.begin() + 3), (Bytes{0x01, 0x02, 0xEE}));
  EXPECT_EQ(Bytes(option.begin(), option.begin() + 2), (Bytes{0xAA, 0xEE}));
  EXPECT_NE(log.find("[E] CheckFeederSensor : 0\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] RibbonSensorValue : 0\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] GetOptionInformationValue : 0\r\n"), std::string::npos);
}

TEST(SensorQueries, LongPayloadStopsAtTheReplyArea) {
  FakePrinter printer;
  Bytes payload(100);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i + 1);
  printer.Answer(FakePrinter::Ack(payload));
  Bytes out(100, 0xEE);
  logOf([&] { EXPECT_EQ(CheckFeederSensor(out.data()), 0); });
  for (int i = 0; i < VK_REPLY_SIZE; ++i) EXPECT_EQ(out[size_t(i)], uint8_t(i + 1)) << i;
  for (size_t i = VK_REPLY_SIZE; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(SensorQueries, SmallCallerBufferIsNeverOverrun) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack(Bytes(20, 0x44)));
  Bytes out(12, 0xEE);
  testing::internal::CaptureStderr();
  EXPECT_EQ(g_Dev.VKCL_RibbonSensorValue(out.data(), 8), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, (Bytes{0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(SensorQueries, NakSilenceAndEmptyAnswerLeaveTheBuffer) {
  FakePrinter printer;
  Bytes out(VK_REPLY_SIZE, 0xEE);
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x01, 0x02}));
  printer.Silence();
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([&] {
    EXPECT_EQ(CheckFeederSensor(out.data()), 9);
    EXPECT_EQ(RibbonSensorValue(out.data()), -1);
    EXPECT_EQ(GetOptionInformationValue(out.data()), 0);
  });
  EXPECT_EQ(out, Bytes(VK_REPLY_SIZE, 0xEE));
  EXPECT_NE(log.find("[E] CheckFeederSensor : 9\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] RibbonSensorValue : -1\r\n"), std::string::npos);
}
