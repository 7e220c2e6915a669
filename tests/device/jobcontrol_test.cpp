// The job-control API functions: the frames they send and the lines they log,
// the job-status log, the firmware version and the stored print options.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

using Bytes = FakePrinter::Bytes;

TEST(JobControl, EachCallSendsItsFrameAndLogsItsResult) {
  uint8_t buf[VK_JOBSTATUS_SIZE];
  struct Case {
    const char* name;
    std::function<int()> call;
    Bytes frame, reply;
    int result;
  } cases[] = {
      {"PrintJobStatus", [&] { return PrintJobStatus(buf); }, FakePrinter::Frame("$PJS", {}),
       FakePrinter::Ack({0, 3}), 0},
      // Only the low byte of the job number travels.
      {"CancelPrintJob", [] { return CancelPrintJob(0x1234); },
       {0x1B, 0x24, 0x43, 0x50, 0x4A, 0, 0, 0, 1, 0x34, 0x0D}, FakePrinter::Ack(), 0},
      {"CheckPrinterStatus", CheckPrinterStatus, FakePrinter::Frame("!CSS", {}), FakePrinter::Reply(0x80, 3), 3},
      {"ClearErrorStatus", ClearErrorStatus, FakePrinter::Frame("!RCE", {}), FakePrinter::Reply(0, 0x15), 9},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FakePrinter printer;
    printer.Answer(k.reply);
    std::string log = StderrOf([&] { EXPECT_EQ(k.call(), k.result); });
    EXPECT_EQ(printer.written, k.frame);
    EXPECT_EQ(log.rfind(std::string("[S] ") + k.name + "\r\n", 0), 0u) << log;
    EXPECT_TRUE(Has(log, "[E] " + std::string(k.name) + " : " + std::to_string(k.result) + "\r\n")) << log;
  }
}

TEST(JobControl, JobStatusLogsThePayloadLengthReceivedAndNoneWithoutAReply) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({1, 7, 0, 0, 0, 0, 0x55}));
  printer.Answer(FakePrinter::Ack(Bytes(500, 0x11)));
  printer.Silence();
  uint8_t out[VK_JOBSTATUS_SIZE];
  std::string log = StderrOf([&] { g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE); });
  EXPECT_TRUE(Has(log, "\r\nDEBUG: VKCL_PrintJobStatus = [0], nRcvlen = [7]\n"
                       "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [7]\n")) << log;
  log = StderrOf([&] { g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE); });
  EXPECT_TRUE(Has(log, "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [500]\n"));
  log = StderrOf([&] { EXPECT_EQ(g_Dev.VKCL_PrintJobStatus(out, VK_JOBSTATUS_SIZE), -1); });
  EXPECT_TRUE(Has(log, "Recv Data faild..... DEBUG: VKCL_PrintJobStatus = [-1], nRcvlen = [0]\n"));
  EXPECT_FALSE(Has(log, "GetResultData"));
}

TEST(FirmwareVersion, HexDigitsReadAsADecimalNumber) {
  struct Case {
    Bytes payload;
    const char* text;
    int version;
  } cases[] = {
      {{0x00, 0x00, 0x01, 0x23}, "0123", 123},   {{0x00, 0x00, 0x0A, 0x10}, "0A10", 0},
      {{0x00, 0x00, 0x01, 0xAB}, "01AB", 1},     {{0x00, 0x00, 0xAB, 0x01}, "AB01", 0},
      {{0x09, 0x09, 0x99, 0x99, 0x01}, "9999", 9999},
      {{0x00, 0x00, 0x12}, "1200", 1200},  // short payload: missing bytes read as 0
  };
  for (const Case& c : cases) {
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack(c.payload));
    uint8_t out[VK_REPLY_SIZE] = {0};
    std::string log = StderrOf([&] { EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, sizeof(out)), 0); });
    EXPECT_EQ(g_Dev.nFwVersion, c.version) << c.text;
    EXPECT_TRUE(Has(log, std::string("FW Version : ") + c.text + " (" + std::to_string(c.version) + ")\r\n")) << log;
  }
  // A small caller buffer is not read past its end; a failed or empty answer keeps the version.
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0x00, 0x00, 0x04, 0x56, 0x77, 0x77}));
  printer.Answer(FakePrinter::Reply(0x80, 0x05, {0, 0, 1, 2}));
  printer.Answer(FakePrinter::Ack());
  uint8_t out[2];
  StderrOf([&] { EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 2), 0); });
  EXPECT_EQ(g_Dev.nFwVersion, 456);
  StderrOf([&] {
    EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 2), 5);
    EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 2), 0);
  });
  EXPECT_EQ(g_Dev.nFwVersion, 456);
}

TEST(SetPOption, StoresEveryFieldUnchangedAndLogsThemInOrder) {
  POPTION opt = {1, 4, 2, -45, 41, 47, -2147483647 - 1, 47, 8, 93, 1, 1, 256, 3, 1, 2};
  std::string log = StderrOf([&] { EXPECT_EQ(SetPOption(opt), 0); });
  EXPECT_EQ(0, memcmp(&g_Dev.poption, &opt, sizeof(opt)));
  EXPECT_EQ(&g_Dev.JobOption(), &g_Dev.poption);
  const char* names[] = {"nColorType", "nRibbon",  "nType",     "nBrightness", "nContrast", "nRed",
                         "nGreen",     "nBlue",    "nSharpness", "nGamma",     "nBlackUse", "nSaturate",
                         "nFOverlay",  "nBOverlay", "nCheck",    "nStyle"};
  const int values[] = {1, 4, 2, -45, 41, 47, -2147483647 - 1, 47, 8, 93, 1, 1, 256, 3, 1, 2};
  std::string expected;
  for (int i = 0; i < 16; ++i)
    expected += std::string("g_Dev.poption.") + names[i] + " : " + std::to_string(values[i]) + "\r\n";
  EXPECT_EQ(log, expected);
}
