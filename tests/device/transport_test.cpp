// Frames on the wire, the one-read exchange, and what SencRecv makes of every
// kind of reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

struct Exchange { int result; std::string log; };

// Sends code + params through SencRecv, capturing the log.
Exchange send(CVKDevice& dev, const std::string& code, const Bytes& params = {}) {
  Bytes cmd(code.begin(), code.end());
  cmd.insert(cmd.end(), params.begin(), params.end());
  testing::internal::CaptureStderr();
  int result = dev.SencRecv(cmd.data(), int(cmd.size()));
  return {result, testing::internal::GetCapturedStderr()};
}

// The payload GetResultData hands out; nothing beyond its length is touched (room is left
// for a copy that would ignore the capacity).
Bytes payloadOf(CVKDevice& dev, int capacity = 2048) {
  Bytes out(size_t(capacity) + VK_RCVBUF_SIZE, 0xEE);
  int length = -7;
  EXPECT_EQ(dev.GetResultData(out.data(), &length, capacity), 0);
  EXPECT_TRUE(length >= 0 && length <= capacity) << length;
  length = std::max(length, 0);
  EXPECT_EQ(Bytes(out.begin() + length, out.end()), Bytes(out.size() - size_t(length), 0xEE));
  out.resize(size_t(length));
  return out;
}

Bytes withLength(Bytes reply, uint32_t n) {
  for (int i = 0; i < 4; ++i) reply[7 + i] = uint8_t(n >> (24 - 8 * i));
  return reply;
}

}  // namespace

TEST(Frame, CodeBigEndianCountParametersAndCrInOneWrite) {
  struct Case {
    std::string code;
    Bytes params, expected;
  } cases[] = {
      {"!CSS", {}, {0x1B, 0x21, 0x43, 0x53, 0x53, 0, 0, 0, 0, 0x0D}},
      {"$CPJ", {0x07}, {0x1B, 0x24, 0x43, 0x50, 0x4A, 0, 0, 0, 1, 0x07, 0x0D}},
      // ESC and CR inside parameters go out unchanged.
      {"&MST", {0x0D, 0x1B, 0x00, 0x0D},
       {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 4, 0x0D, 0x1B, 0x00, 0x0D, 0x0D}},
  };
  for (const Case& k : cases) {
    CVKDevice dev;
    FakePrinter printer;
    send(dev, k.code, k.params);
    EXPECT_EQ(printer.written, k.expected) << k.code;
    EXPECT_EQ(printer.writes.size(), 1u);
    EXPECT_EQ(printer.flushes, 1);
  }
  CVKDevice dev;
  FakePrinter printer;
  send(dev, "$XYZ", Bytes(0x012345, 0xA5));  // a count that needs all four length bytes
  ASSERT_EQ(printer.written.size(), 0x012345u + 10);
  EXPECT_EQ(Bytes(&printer.written[5], &printer.written[9]), (Bytes{0, 0x01, 0x23, 0x45}));
  printer.written.clear();
  printer.readLimits.clear();
  const uint8_t shortCmd[] = {'!', 'C'};  // shorter than its code: nothing goes out
  EXPECT_EQ(dev.SencRecv(shortCmd, 2), 1);
  EXPECT_EQ(dev.SencRecv(nullptr, 4), 1);
  EXPECT_TRUE(printer.written.empty() && printer.readLimits.empty());
}

TEST(Exchange, LogsEachStepAndASilentOrFailingPrinterGivesMinusOne) {
  CVKDevice dev;
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  const std::string head =
      "[->]SendRecvProc fn() Entry\n[->][SendRecvProc : after snd.. usleep]\n"
      "[->]cupsSideChannelDoRequest report_levels2\n[->]\n ";
  EXPECT_EQ(send(dev, "!RCE").log,
            head + "1b 52 50 4c 59 00 06 00 00 00 00 0d 00 (12)\nnStep:5, nRet:0\n nRet:0\n\r\n");
  dev.nRcvlen = 5;  // left over from an earlier reply
  printer.Silence();
  printer.ReadError();
  Exchange e = send(dev, "$PJS");
  EXPECT_EQ(e.result, -1);
  EXPECT_EQ(e.log, head + "00 00 00 00 00 00 00 00 00 00 00 00 00 (0)\n"
                          "[->]SendRecvProc fn() - Fail \nRecv Data faild..... ");
  EXPECT_EQ(dev.nRcvlen, 0);
  EXPECT_TRUE(payloadOf(dev).empty());
  e = send(dev, "$PJS");
  EXPECT_EQ(e.result, -1);
  EXPECT_NE(e.log.find("(-1)\n[->]SendRecvProc fn() - Fail \n"), std::string::npos);
}

TEST(Reply, EveryStatusAndMalformedReplyGivesItsResultPayloadAndStep) {
  const Bytes ack12 = FakePrinter::Ack({1, 2});
  Bytes noEsc = ack12, noCr = ack12, endsAfterPayload = ack12, long3000(3000);
  for (size_t i = 0; i < long3000.size(); ++i) long3000[i] = uint8_t(i * 7);
  noEsc[0] = 0x00;
  noCr.back() = 0x0A;
  endsAfterPayload.pop_back();
  struct Case {
    const char* name;
    Bytes reply;
    int result;
    Bytes payload;
    int step;  // nStep in the log: where the parse stopped
  } cases[] = {
      {"ACK", FakePrinter::Reply(0x00, 0x06), 0, {}, 5},
      {"ACK, error class", FakePrinter::Reply(0x80, 0x06), 0, {}, 5},
      {"NAK is 9, not 21", FakePrinter::Reply(0x00, 0x15), 9, {}, 5},
      {"NAK, error class", FakePrinter::Reply(0x80, 0x15), 9, {}, 5},
      {"error 3", FakePrinter::Reply(0x80, 0x03), 3, {}, 5},
      {"code 3 without error class", FakePrinter::Reply(0x00, 0x03), 0, {}, 5},
      {"error 255", FakePrinter::Reply(0x80, 0xFF), 255, {}, 5},
      {"error 0", FakePrinter::Reply(0x80, 0x00), 0, {}, 5},
      {"ACK with payload", FakePrinter::Ack({0xAB, 0xCD}), 0, {0xAB, 0xCD}, 4},
      {"error payload is kept", FakePrinter::Reply(0x80, 0x07, {1, 2, 3}), 7, {1, 2, 3}, 4},
      {"NAK payload is not", FakePrinter::Reply(0x00, 0x15, {1, 2, 3}), 9, {}, 5},
      {"negative length", withLength(FakePrinter::Ack(), 0xFFFFFFFF), 0, {}, 5},
      {"payload cut to the receive buffer", FakePrinter::Ack(long3000), 0,
       Bytes(long3000.begin(), long3000.begin() + VK_RCVBUF_SIZE), 4},
      // Malformed replies are answers nobody can trust: -1, nothing kept.
      {"no ESC", noEsc, -1, {}, 1},
      {"no closing CR", noCr, -1, {}, 5},
      {"stops right after its payload", endsAfterPayload, -1, {}, 5},
      {"length 3 of 2", withLength(ack12, 3), -1, {}, 5},
      {"length 7FFFFFFF", withLength(ack12, 0x7FFFFFFF), -1, {}, 4},
      {"cut before status", {0x1B, 'R', 'P', 'L', 'Y', 0x00}, -1, {}, 2},
      {"cut inside length", {0x1B, 'R', 'P', 'L', 'Y', 0x00, 0x06, 0x00, 0x00}, -1, {}, 3},
      {"truncated NAK still refuses", {0x1B, 'R', 'P', 'L', 'Y', 0x00, 0x15}, 9, {}, 5},
      {"6012 bytes: cut, CR lost", FakePrinter::Ack(Bytes(6000, 0x41)), -1, {}, 4},
      {"20000 ESC bytes", Bytes(20000, 0x1B), -1, {}, 4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string r = std::to_string(k.result);
    const std::string stepLine =
        "nStep:" + std::to_string(k.step) + ", nRet:" + r + "\n nRet:" + r + "\n";
    {  // Through the exchange: a payload of the exchange before is forgotten.
      CVKDevice dev;
      FakePrinter printer;
      printer.Answer(FakePrinter::Ack({9, 9, 9}));
      printer.Answer(k.reply);
      send(dev, "!GVT");
      Exchange e = send(dev, "!CSS");
      EXPECT_EQ(e.result, k.result);
      EXPECT_EQ(dev.nRet, k.result);
      EXPECT_EQ(payloadOf(dev), k.payload);
      // The caller's capacity bounds the copy; the device keeps the whole payload.
      Bytes firstTwo = k.payload;
      firstTwo.resize(std::min<size_t>(2, firstTwo.size()));
      EXPECT_EQ(payloadOf(dev, 2), firstTwo);
      EXPECT_EQ(dev.nRcvlen, int(k.payload.size()));
      EXPECT_TRUE(!k.payload.empty() || dev.RcvBuf[0] == 0);
      EXPECT_NE(e.log.find(stepLine + "\r\n"), std::string::npos) << e.log;
    }
    // The parse alone, on the reply as the 4096-byte area keeps it, in a buffer of exactly
    // that length: a read one byte too far is caught by the address sanitizer.
    CVKDevice dev;
    const size_t kept = std::min<size_t>(k.reply.size(), 4096);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[kept]);
    memcpy(exact.get(), k.reply.data(), kept);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dev.RecveData(exact.get(), int(kept)), k.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), stepLine);
    EXPECT_EQ(payloadOf(dev), k.payload);
  }
}

TEST(Exchange, OneAnswerPerCommandAfterOneSecondReadWholeWithinTheTimeOut) {
  const Bytes reply = FakePrinter::Ack({0x11, 0x22, 0x33});
  const int n = int(reply.size());
  auto part = [&](int from, int to) { return Bytes(&reply[from], &reply[0] + to); };
  struct Case {
    const char* name;
    std::vector<Bytes> reads;  // the answer as the back channel delivers it
    Bytes unasked;             // waiting unread before the command
    int result;
    std::vector<size_t> limits;
  } cases[] = {
      {"in one read", {reply}, {}, 0, {8191}},
      {"split after the status", {part(0, 6), part(6, n)}, {}, 0, {8191, 5, 4}},
      {"split inside the payload", {part(0, 12), part(12, n)}, {}, 0, {8191, 3}},
      {"in three pieces", {part(0, 3), part(3, 13), part(13, n)}, {}, 0, {8191, 8, 4, 2}},
      {"answer of an earlier command waiting", {reply}, FakePrinter::Ack({0x77}), 0, {8191}},
      {"length beyond what arrives", {withLength(reply, 40)}, {}, -1, {8191, 37}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CVKDevice dev;
    FakePrinter printer;
    printer.Unasked(k.unasked);
    for (const Bytes& read : k.reads) printer.Answer(read);
    // The next command's answer stays unread; a reply that never completes times out.
    k.result == 0 ? printer.Answer(FakePrinter::Ack({0x55})) : printer.Silence();
    Exchange e = send(dev, "!GVT");
    EXPECT_EQ(e.result, k.result);
    EXPECT_EQ(payloadOf(dev), k.result == 0 ? (Bytes{0x11, 0x22, 0x33}) : Bytes());
    EXPECT_EQ(printer.pauses, (std::vector<unsigned int>{1000000}));
    EXPECT_EQ(printer.readLimits, k.limits);
    EXPECT_EQ(printer.drained, k.unasked);
    EXPECT_EQ(printer.PendingReads(), k.result == 0 ? 1u : 0u);
    // Every further read waits only for what is left of the five seconds.
    ASSERT_EQ(printer.timeouts.size(), k.limits.size());
    EXPECT_EQ(printer.timeouts[0], 5.0);
    for (size_t i = 1; i < printer.timeouts.size(); ++i)
      EXPECT_TRUE(printer.timeouts[i] <= 5.0 && printer.timeouts[i] > 4.0);
    EXPECT_EQ(e.log.find("DEBUG: Dropped 13 bytes the printer left unread: "
                         "1b 52 50 4c 59 00 06 00 00 00 01 77 0d\n") != std::string::npos,
              !k.unasked.empty()) << e.log;
    EXPECT_EQ(printer.written, FakePrinter::Frame("!GVT", {}));  // the drop came before the write
  }
}

TEST(RawExchange, AnyAnswerIsOneAndTheReplyStateStays) {
  CVKDevice dev;
  FakePrinter printer;
  dev.nRet = 42, dev.nRcvlen = 3;
  const Bytes raw{0x1B, '$', 'P', 'T', 'S', 0, 0, 0, 1, 0x0D, 0x0D};
  printer.Answer(FakePrinter::Reply(0, 0x15));  // a NAK is still an answer
  testing::internal::CaptureStderr();
  EXPECT_EQ(dev.VKCL_CMD(raw.data(), int(raw.size())), 1);
  EXPECT_EQ(dev.VKCL_CMD(raw.data(), int(raw.size())), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(printer.writes, std::vector<Bytes>(2, raw));
  EXPECT_TRUE(dev.nRet == 42 && dev.nRcvlen == 3);
}
