// The job-control commands and their API functions: bytes sent, payloads
// handed on (never beyond the caller's buffer), the firmware version, and the
// entry and exit lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

template <typename Fn>
std::string logOf(Fn fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

bool contains(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

}  // namespace

TEST(JobControl, EachCommandSendsItsCode) {
  FakePrinter printer;
  for (int i = 0; i < 6; ++i) printer.Answer(FakePrinter::Ack());
  uint8_t out[VK_JOBSTATUS_SIZE] = {0};
  logOf([&] {
    g_Dev.VKCL_PrintJobStatus(out, sizeof(out));
    g_Dev.VKCL_CheckPrinterStatus();
    g_Dev.VKCL_ClearErrorStatus();
    g_Dev.VKCL_GetPrinterVersion(out, VK_REPLY_SIZE);
    g_Dev.VKCL_CheckRibbonSensor(out, VK_REPLY_SIZE);
    EXPECT_EQ(g_Dev.VKCL_CancelPrintJob(0x1234), 0);  // the low byte of the job number
  });
  Bytes expected;
  for (const char* code : {"$PJS", "!CSS", "!RCE", "!GVT", "!CRS"}) {
    Bytes f = FakePrinter::Frame(code, {});
    expected.insert(expected.end(), f.begin(), f.end());
  }
  Bytes cancel = {0x1B, 0x24, 0x43, 0x50, 0x4A, 0, 0, 0, 1, 0x34, 0x0D};
  expected.insert(expected.end(), cancel.begin(), cancel.end());
  EXPECT_EQ(printer.written, expected);
}

TEST(JobControl, PrintJobStatusHandsOnThePayloadUpToTheCallersBufferAndLogsItsLength) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({1, 7, 0, 0, 0, 0, 0x55}));
  printer.Answer(FakePrinter::Ack(Bytes(500, 0x11)));
  printer.Silence();
  uint8_t out[VK_JOBSTATUS_SIZE + 8];
  memset(out, 0xEE, sizeof(out));
  std::string log = logOf([&] { EXPECT_EQ(g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE), 0); });
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{1, 7, 0, 0, 0, 0, 0x55, 0xEE}));
  EXPECT_TRUE(contains(log, "\r\nDEBUG: VKCL_PrintJobStatus = [0], nRcvlen = [7]\n"
                            "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [7]\n"))
      << log;

  log = logOf([&] { EXPECT_EQ(g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE), 0); });
  EXPECT_EQ(out[VK_JOBSTATUS_SIZE - 1], 0x11);
  EXPECT_EQ(out[VK_JOBSTATUS_SIZE], 0xEE);
  EXPECT_TRUE(contains(log, "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [500]\n"));

  // Without a reply: logged, nothing handed on.
  memset(out, 0xEE, sizeof(out));
  log = logOf([&] { EXPECT_EQ(g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE), -1); });
  EXPECT_TRUE(contains(log, "Recv Data faild..... DEBUG: VKCL_PrintJobStatus = [-1], nRcvlen = [0]\n"));
  EXPECT_FALSE(contains(log, "GetResultData"));
  EXPECT_EQ(out[0], 0xEE);

  // A negative capacity copies nothing, like a zero one.
  memset(out, 0xEE, sizeof(out));
  printer.Answer(FakePrinter::Ack({1, 2, 3}));
  printer.Answer(FakePrinter::Ack({1, 2, 3}));
  printer.Answer(FakePrinter::Ack({1, 2, 3}));
  logOf([&] {
    EXPECT_EQ(g_Dev.VKCL_PrintJobStatus(out, -1), 0);
    EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, -1), 0);
    EXPECT_EQ(g_Dev.VKCL_CheckRibbonSensor(out, -1), 0);
  });
  EXPECT_EQ(out[0], 0xEE);
}

TEST(JobControl, EmptyOrFailedQueryLeavesOutputsUntouched) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({1, 2}));
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Reply(0x80, 0x05, {1, 2, 3, 4}));
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {1, 2, 3, 4}));
  uint8_t out[VK_REPLY_SIZE];
  memset(out, 0xEE, sizeof(out));
  g_Dev.nFwVersion = 77;
  logOf([&] {
    // The payload length tells a query answered without payload apart.
    EXPECT_EQ(PrintJobStatus(out), 0);
    EXPECT_EQ(LastReplyLength(), 2);
    EXPECT_EQ(PrintJobStatus(out), 0);
    EXPECT_EQ(LastReplyLength(), 0);
    memset(out, 0xEE, sizeof(out));
    EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, sizeof(out)), 0);
    EXPECT_EQ(g_Dev.VKCL_CheckRibbonSensor(out, sizeof(out)), 0);
    EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, sizeof(out)), 5);
    EXPECT_EQ(g_Dev.VKCL_CheckRibbonSensor(out, sizeof(out)), 9);
  });
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(g_Dev.nFwVersion, 77);
}

TEST(FirmwareVersion, HexDigitsReadAsADecimalNumber) {
  struct Case {
    Bytes payload;
    const char* text;
    int version;
  } cases[] = {
      {{0x00, 0x00, 0x01, 0x23}, "0123", 123},
      {{0x00, 0x00, 0x0A, 0x10}, "0A10", 0},
      {{0x00, 0x00, 0x01, 0xAB}, "01AB", 1},
      {{0x00, 0x00, 0xAB, 0x01}, "AB01", 0},
      {{0x09, 0x09, 0x99, 0x99, 0x01}, "9999", 9999},
      {{0x00, 0x00, 0x12}, "1200", 1200},  // short payload: missing bytes read as 0
  };
  for (const Case& c : cases) {
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack(c.payload));
    uint8_t out[VK_REPLY_SIZE] = {0};
    std::string log = logOf([&] { EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, sizeof(out)), 0); });
    EXPECT_EQ(g_Dev.nFwVersion, c.version) << c.text;
    EXPECT_TRUE(contains(log, std::string("FW Version : ") + c.text + " (" + std::to_string(c.version) + ")\r\n"))
        << log;
    EXPECT_EQ(0, memcmp(out, c.payload.data(), c.payload.size()));
  }
  // A small caller buffer is not read or written past its end.
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x00, 0x00, 0x04, 0x56, 0x77, 0x77}));
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  logOf([&] { EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 2), 0); });
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(g_Dev.nFwVersion, 456);
}

TEST(Api, EntryAndExitLinesCarryTheResult) {
  FakePrinter printer;
  uint8_t buf[100] = {0};
  printer.Answer(FakePrinter::Ack({0, 3}));
  EXPECT_TRUE(contains(logOf([&] { EXPECT_EQ(PrintJobStatus(buf), 0); }), "[E] PrintJobStatus : 0\r\n"));
  printer.Silence();
  std::string log = logOf([&] { EXPECT_EQ(CancelPrintJob(3), -1); });
  EXPECT_EQ(log.substr(0, 20), "[S] CancelPrintJob\r\n");
  EXPECT_TRUE(contains(log, "Recv Data faild..... [E] CancelPrintJob : -1\r\n")) << log;
  printer.Answer(FakePrinter::Reply(0x80, 0x03));
  log = logOf([&] { EXPECT_EQ(CheckPrinterStatus(), 3); });
  EXPECT_EQ(log.substr(0, 24), "[S] CheckPrinterStatus\r\n");
  EXPECT_TRUE(contains(log, "\r\n[E] CheckPrinterStatus : 3\r\n"));
  printer.Answer(FakePrinter::Reply(0x00, 0x15));
  log = logOf([&] { EXPECT_EQ(ClearErrorStatus(), 9); });
  EXPECT_EQ(log.substr(0, 22), "[S] ClearErrorStatus\r\n");
  EXPECT_TRUE(contains(log, "[E] ClearErrorStatus : 9\r\n"));
  printer.Answer(FakePrinter::Ack({0, 0, 1, 0}));
  log = logOf([&] { EXPECT_EQ(GetPrinterVersion(buf), 0); });
  EXPECT_EQ(log.substr(0, 23), "[S] GetPrinterVersion\r\n");
  EXPECT_TRUE(contains(log, "FW Version : 0100 (100)\r\n[E] GetPrinterVersion : 0\r\n"));
  // The ribbon sensor logs under the name CheckRibbon.
  printer.Answer(FakePrinter::Ack({0x00, 0x35}));
  log = logOf([&] { EXPECT_EQ(CheckRibbonSensor(buf), 0); });
  EXPECT_EQ(log.substr(0, 17), "[S] CheckRibbon\r\n");
  EXPECT_TRUE(contains(log, "[E] CheckRibbon : 0\r\n"));
  EXPECT_FALSE(contains(log, "CheckRibbonSensor"));
  EXPECT_EQ(buf[1], 0x35);
}

TEST(Api, ReplyBuffersAreFilledOnlyUpToTheDocumentedSizes) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack(Bytes(200, 0x33)));
  printer.Answer(FakePrinter::Ack(Bytes(200, 0x44)));
  uint8_t job[VK_JOBSTATUS_SIZE + 4] = {0};
  uint8_t ribbon[VK_REPLY_SIZE + 4] = {0};
  logOf([&] {
    PrintJobStatus(job);
    CheckRibbonSensor(ribbon);
  });
  EXPECT_EQ(job[VK_JOBSTATUS_SIZE - 1], 0x33);
  EXPECT_EQ(job[VK_JOBSTATUS_SIZE], 0);
  EXPECT_EQ(ribbon[VK_REPLY_SIZE - 1], 0x44);
  EXPECT_EQ(ribbon[VK_REPLY_SIZE], 0);
}

TEST(SetPOption, StoresEveryFieldUnchangedAndLogsThemInOrder) {
  POPTION opt = {1, 4, 2, -45, 41, 47, -2147483647 - 1, 47, 8, 93, 1, 1, 256, 3, 1, 2};
  std::string log = logOf([&] { EXPECT_EQ(SetPOption(opt), 0); });
  EXPECT_EQ(0, memcmp(&g_Dev.poption, &opt, sizeof(opt)));
  EXPECT_EQ(log,
            "g_Dev.poption.nColorType : 1\r\n"
            "g_Dev.poption.nRibbon : 4\r\n"
            "g_Dev.poption.nType : 2\r\n"
            "g_Dev.poption.nBrightness : -45\r\n"
            "g_Dev.poption.nContrast : 41\r\n"
            "g_Dev.poption.nRed : 47\r\n"
            "g_Dev.poption.nGreen : -2147483648\r\n"
            "g_Dev.poption.nBlue : 47\r\n"
            "g_Dev.poption.nSharpness : 8\r\n"
            "g_Dev.poption.nGamma : 93\r\n"
            "g_Dev.poption.nBlackUse : 1\r\n"
            "g_Dev.poption.nSaturate : 1\r\n"
            "g_Dev.poption.nFOverlay : 256\r\n"
            "g_Dev.poption.nBOverlay : 3\r\n"
            "g_Dev.poption.nCheck : 1\r\n"
            "g_Dev.poption.nStyle : 2\r\n");
  EXPECT_EQ(&g_Dev.JobOption(), &g_Dev.poption);
}
