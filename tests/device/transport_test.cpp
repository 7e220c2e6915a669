// Frames on the wire, the one-read exchange, and what SencRecv makes of every
// kind of reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

// Sends code + params through SencRecv on a fresh device, capturing the log.
struct Exchange {
  int result;
  std::string log;
};

Exchange send(CVKDevice& dev, const std::string& code, const Bytes& params = {}) {
  Bytes cmd(code.begin(), code.end());
  cmd.insert(cmd.end(), params.begin(), params.end());
  testing::internal::CaptureStderr();
  int result = dev.SencRecv(cmd.data(), int(cmd.size()));
  return {result, testing::internal::GetCapturedStderr()};
}

Bytes payloadOf(CVKDevice& dev, int capacity = 2048) {
  Bytes out(size_t(capacity) + 16, 0xEE);
  int length = -7;
  EXPECT_EQ(dev.GetResultData(out.data(), &length, capacity), 0);
  EXPECT_GE(length, 0);
  EXPECT_LE(length, capacity);
  // Nothing beyond the reported length is touched.
  for (size_t i = size_t(length); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
  out.resize(size_t(length));
  return out;
}

}  // namespace

TEST(Frame, CommandWithoutParametersIsTenBytes) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  send(dev, "!CSS");
  EXPECT_EQ(printer.written, (Bytes{0x1B, 0x21, 0x43, 0x53, 0x53, 0, 0, 0, 0, 0x0D}));
  EXPECT_EQ(printer.writes.size(), 1u);  // the whole frame in one piece
  EXPECT_EQ(printer.flushes, 1);
}

TEST(Frame, ParameterBytesFollowTheBigEndianCount) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  send(dev, "$CPJ", {0x07});
  EXPECT_EQ(printer.written, (Bytes{0x1B, 0x24, 0x43, 0x50, 0x4A, 0, 0, 0, 1, 0x07, 0x0D}));
}

TEST(Frame, EscAndCrInsideParametersGoOutUnchanged) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  Bytes params{0x0D, 0x1B, 0x00, 0x0D};
  send(dev, "&MST", params);
  EXPECT_EQ(printer.written, FakePrinter::Frame("&MST", params));
  EXPECT_EQ(printer.written[8], 4);
}

TEST(Frame, LongParameterCountUsesAllFourLengthBytes) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  Bytes params(0x012345, 0xA5);
  send(dev, "$XYZ", params);
  ASSERT_EQ(printer.written.size(), params.size() + 10);
  EXPECT_EQ(printer.written[5], 0x00);
  EXPECT_EQ(printer.written[6], 0x01);
  EXPECT_EQ(printer.written[7], 0x23);
  EXPECT_EQ(printer.written[8], 0x45);
  EXPECT_EQ(printer.written.back(), 0x0D);
}

TEST(Frame, CommandShorterThanItsCodeSendsNothing) {
  CVKDevice dev;
  FakePrinter printer;
  const uint8_t cmd[] = {'!', 'C'};
  EXPECT_EQ(dev.SencRecv(cmd, 2), 1);
  EXPECT_EQ(dev.SencRecv(nullptr, 4), 1);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_TRUE(printer.readLimits.empty());
}

TEST(Exchange, WritesPausesOneSecondAndReadsOnceWithFiveSecondTimeout) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Ack());  // must stay unread: no second read
  Exchange e = send(dev, "!RCE");
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(printer.pauses, (std::vector<unsigned int>{1000000}));
  EXPECT_EQ(printer.readLimits, (std::vector<size_t>{8191}));
  EXPECT_EQ(printer.timeouts, (std::vector<double>{5.0}));
  EXPECT_EQ(printer.PendingReads(), 1u);
  EXPECT_EQ(e.log,
            "[->]SendRecvProc fn() Entry\n"
            "[->][SendRecvProc : after snd.. usleep]\n"
            "[->]cupsSideChannelDoRequest report_levels2\n"
            "[->]\n 1b 52 50 4c 59 00 06 00 00 00 00 0d 00 (12)\n"
            "nStep:5, nRet:0\n"
            " nRet:0\n"
            "\r\n");
}

TEST(Exchange, SilentPrinterGivesMinusOneAndNoPayload) {
  CVKDevice dev;
  FakePrinter printer;
  dev.nRcvlen = 5;  // left over from an earlier reply
  printer.Silence();
  Exchange e = send(dev, "$PJS");
  EXPECT_EQ(e.result, -1);
  EXPECT_EQ(e.log,
            "[->]SendRecvProc fn() Entry\n"
            "[->][SendRecvProc : after snd.. usleep]\n"
            "[->]cupsSideChannelDoRequest report_levels2\n"
            "[->]\n 00 00 00 00 00 00 00 00 00 00 00 00 00 (0)\n"
            "[->]SendRecvProc fn() - Fail \n"
            "Recv Data faild..... ");
  EXPECT_EQ(dev.nRcvlen, 0);
  EXPECT_TRUE(payloadOf(dev).empty());
}

TEST(Exchange, ReadErrorGivesMinusOne) {
  CVKDevice dev;
  FakePrinter printer;
  printer.ReadError();
  Exchange e = send(dev, "$PJS");
  EXPECT_EQ(e.result, -1);
  EXPECT_NE(e.log.find("(-1)\n[->]SendRecvProc fn() - Fail \n"), std::string::npos);
}

TEST(Reply, StatusClassAndCodeGiveTheResult) {
  struct Case {
    uint8_t cls, code;
    int result;
  } cases[] = {
      {0x00, 0x06, 0}, {0x80, 0x06, 0}, {0x00, 0x15, 9}, {0x80, 0x15, 9},  // NAK is 9, not 21
      {0x80, 0x03, 3}, {0x00, 0x03, 0}, {0x80, 0xFF, 255}, {0x80, 0x01, 1},
      {0x40, 0x22, 0}, {0x80, 0x00, 0},
  };
  for (const Case& c : cases) {
    CVKDevice dev;
    FakePrinter printer;
    printer.Answer(FakePrinter::Reply(c.cls, c.code));
    Exchange e = send(dev, "!CSS");
    EXPECT_EQ(e.result, c.result) << int(c.cls) << "/" << int(c.code);
    EXPECT_EQ(dev.nRet, c.result);
    EXPECT_NE(e.log.find("nStep:5, nRet:" + std::to_string(c.result) + "\n nRet:" +
                         std::to_string(c.result) + "\n\r\n"),
              std::string::npos)
        << e.log;
  }
}

TEST(Reply, AckWithPayloadIsKeptForGetResultData) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({0xAB, 0xCD}));
  Exchange e = send(dev, "!GVT");
  EXPECT_EQ(e.result, 0);
  EXPECT_NE(e.log.find("nStep:4, nRet:0\n nRet:0\n\r\n"), std::string::npos);
  EXPECT_EQ(payloadOf(dev), (Bytes{0xAB, 0xCD}));
  EXPECT_EQ(dev.nRcvlen, 2);
}

TEST(Reply, ErrorReplyPayloadIsStoredAndNakPayloadIsNot) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Reply(0x80, 0x07, {1, 2, 3}));
  EXPECT_EQ(send(dev, "!CSS").result, 7);
  EXPECT_EQ(payloadOf(dev), (Bytes{1, 2, 3}));
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {1, 2, 3}));
  EXPECT_EQ(send(dev, "!CSS").result, 9);
  EXPECT_TRUE(payloadOf(dev).empty());
}

TEST(Reply, NegativeLengthIsAnEmptyPayload) {
  CVKDevice dev;
  FakePrinter printer;
  Bytes r = FakePrinter::Ack();
  r[7] = r[8] = r[9] = r[10] = 0xFF;  // -1
  printer.Answer(r);
  EXPECT_EQ(send(dev, "!CSS").result, 0);
  EXPECT_TRUE(payloadOf(dev).empty());
}

TEST(Reply, NewExchangeForgetsTheLastPayload) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack({9, 9, 9}));
  printer.Answer(FakePrinter::Ack());
  send(dev, "!GVT");
  send(dev, "!CSS");
  EXPECT_TRUE(payloadOf(dev).empty());
  EXPECT_EQ(dev.RcvBuf[0], 0);
}

// Malformed replies are answers nobody can trust: -1, nothing kept.
TEST(MalformedReply, MissingEscGivesMinusOne) {
  CVKDevice dev;
  FakePrinter printer;
  Bytes r = FakePrinter::Ack({1, 2});
  r[0] = 0x00;
  printer.Answer(r);
  Exchange e = send(dev, "!GVT");
  EXPECT_EQ(e.result, -1);
  EXPECT_NE(e.log.find("nStep:1, nRet:-1\n nRet:-1\n\r\n"), std::string::npos);
  EXPECT_TRUE(payloadOf(dev).empty());
}

TEST(MalformedReply, MissingClosingCrGivesMinusOneAndNoPayload) {
  CVKDevice dev;
  FakePrinter printer;
  Bytes r = FakePrinter::Ack({1, 2});
  r.back() = 0x0A;
  printer.Answer(r);
  EXPECT_EQ(send(dev, "!GVT").result, -1);
  EXPECT_TRUE(payloadOf(dev).empty());
  EXPECT_EQ(dev.RcvBuf[0], 0);
}

TEST(MalformedReply, LengthLargerThanTheDataGivesMinusOne) {
  for (uint32_t claimed : {3u, 100u, 5000u, 0x7FFFFFFFu}) {
    CVKDevice dev;
    FakePrinter printer;
    Bytes r = FakePrinter::Ack({1, 2});
    r[7] = uint8_t(claimed >> 24);
    r[8] = uint8_t(claimed >> 16);
    r[9] = uint8_t(claimed >> 8);
    r[10] = uint8_t(claimed);
    printer.Answer(r);
    EXPECT_EQ(send(dev, "!GVT").result, -1) << claimed;
    EXPECT_TRUE(payloadOf(dev).empty());
  }
}

TEST(MalformedReply, TruncatedHeadersGiveMinusOne) {
  // An ESC alone, a reply cut before its status, one cut inside its length.
  for (Bytes r : {Bytes{0x1B}, Bytes{0x1B, 'R', 'P', 'L', 'Y', 0x00},
                  Bytes{0x1B, 'R', 'P', 'L', 'Y', 0x00, 0x06, 0x00, 0x00}}) {
    CVKDevice dev;
    FakePrinter printer;
    printer.Answer(r);
    EXPECT_EQ(send(dev, "!CSS").result, -1) << r.size();
  }
}

TEST(MalformedReply, TruncatedNakStillCountsAsRefused) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(Bytes{0x1B, 'R', 'P', 'L', 'Y', 0x00, 0x15});
  EXPECT_EQ(send(dev, "!CSS").result, 9);
}

TEST(MalformedReply, GarbageGivesMinusOne) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(Bytes{'h', 'e', 'l', 'l', 'o', 0x1B, 0x06, 0x0D});
  EXPECT_EQ(send(dev, "!CSS").result, -1);
}

TEST(OversizedReply, PayloadBeyondTheReceiveBufferIsCutToItsSize) {
  CVKDevice dev;
  FakePrinter printer;
  Bytes payload(3000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7);
  printer.Answer(FakePrinter::Ack(payload));
  EXPECT_EQ(send(dev, "!GVT").result, 0);
  EXPECT_EQ(dev.nRcvlen, VK_RCVBUF_SIZE);
  Bytes got = payloadOf(dev);
  ASSERT_EQ(got.size(), size_t(VK_RCVBUF_SIZE));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), payload.begin()));
}

TEST(OversizedReply, ReplyLongerThanTheReplyAreaIsCutAndItsCrIsLost) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack(Bytes(6000, 0x41)));  // 6012 bytes, more than 4096
  EXPECT_EQ(send(dev, "!GVT").result, -1);
  EXPECT_EQ(dev.nRcvlen, 0);
}

TEST(OversizedReply, ReadIsLimitedTo8191Bytes) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(Bytes(20000, 0x1B));
  EXPECT_EQ(send(dev, "!GVT").result, -1);
  EXPECT_EQ(printer.readLimits, (std::vector<size_t>{8191}));
}

TEST(GetResultData, CopyIsBoundedByTheCallersCapacity) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack(Bytes(100, 0x5A)));
  send(dev, "!GVT");
  Bytes got = payloadOf(dev, 32);
  EXPECT_EQ(got, Bytes(32, 0x5A));
  EXPECT_EQ(dev.nRcvlen, 100);  // the device still holds the whole payload
}

TEST(GetResultData, NoPayloadLeavesTheBufferUntouched) {
  CVKDevice dev;
  uint8_t out[4] = {7, 7, 7, 7};
  int length = 99;
  EXPECT_EQ(dev.GetResultData(out, &length, 4), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(out[0], 7);
}

TEST(SendRecvData, ReplyIsCopiedOnlyOnSuccessAndBoundedByTheArea) {
  CVKDevice dev;
  FakePrinter printer;
  uint8_t area[8];
  memset(area, 0xEE, sizeof(area));
  int length = -5;
  printer.Silence();
  testing::internal::CaptureStderr();
  EXPECT_EQ(dev.SendRecvData(nullptr, 0, area, &length, 4), -1);
  EXPECT_EQ(length, -5);
  EXPECT_EQ(area[0], 0xEE);
  printer.Answer(Bytes{1, 2, 3, 4, 5, 6});
  EXPECT_EQ(dev.SendRecvData(nullptr, 0, area, &length, 4), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(length, 4);
  EXPECT_EQ(area[3], 4);
  EXPECT_EQ(area[4], 0xEE);
  EXPECT_TRUE(printer.written.empty());  // a zero count writes nothing but still reads
  EXPECT_EQ(printer.readLimits.size(), 2u);
}

TEST(VKCL_CMD, AnyAnswerIsOneAndTheDeviceStateStays) {
  CVKDevice dev;
  FakePrinter printer;
  dev.nRet = 42;
  dev.nRcvlen = 3;
  Bytes raw{0x1B, '$', 'P', 'T', 'S', 0, 0, 0, 1, 0x0D, 0x0D};
  printer.Answer(FakePrinter::Reply(0x00, 0x15));  // a NAK is still an answer
  printer.Silence();
  testing::internal::CaptureStderr();
  EXPECT_EQ(dev.VKCL_CMD(raw.data(), int(raw.size())), 1);
  EXPECT_EQ(dev.VKCL_CMD(raw.data(), int(raw.size())), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(printer.written.size(), 2 * raw.size());
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), printer.written.begin()));
  EXPECT_EQ(dev.nRet, 42);
  EXPECT_EQ(dev.nRcvlen, 3);
}

TEST(Htoa, UpperCaseHighNibbleFirst) {
  char text[16];
  memset(text, 'x', sizeof(text));
  const uint8_t bytes[] = {0x01, 0xAB, 0xF0};
  EXPECT_EQ(CVKDevice::htoa(text, bytes, 2), 4);
  EXPECT_STREQ(text, "01AB");
  EXPECT_EQ(CVKDevice::htoa(text, bytes, 3), 6);
  EXPECT_STREQ(text, "01ABF0");
  EXPECT_EQ(CVKDevice::htoa(text, bytes, 0), 0);
  EXPECT_STREQ(text, "");
  memset(text, 'x', sizeof(text));
  EXPECT_EQ(CVKDevice::htoa(text, bytes, -3), 0);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
}
