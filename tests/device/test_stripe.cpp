// The stripe encoder's commands and their API functions: frames, the
// track-data limit, and what reaches the caller's buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

template <typename Call>
std::string logOf(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

bool contains(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

}  // namespace

TEST(StripeFrames, CoercivityGoesOutAsOneByteAndIsLoggedInHex) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([&] { EXPECT_EQ(MS_SetEncoderCoercivity(0x180), 0); });
  EXPECT_EQ(printer.written, (Bytes{0x1B, 0x26, 0x4D, 0x45, 0x43, 0, 0, 0, 1, 0x80, 0x0D}));
  EXPECT_TRUE(contains(log, "[S] MS_SetEncoderCoercivity : 0x80\r\n"));
  EXPECT_TRUE(contains(log, "[E] MS_SetEncoderCoercivity : 0\r\n"));
}

TEST(StripeFrames, TrackBufferCarriesTheTrackThenUpTo251DataBytes) {
  const Bytes abc = {0x41, 0x42, 0x43};
  Bytes longest(VK_TRACK_DATA_MAX);
  for (size_t i = 0; i < longest.size(); ++i) longest[i] = uint8_t(i);
  Bytes longestParams{0x03};
  longestParams.insert(longestParams.end(), longest.begin(), longest.end());
  struct Case {
    int track;
    const uint8_t* data;
    int size;
    Bytes frame;
  } cases[] = {
      {2, abc.data(), 0, {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 1, 0x02, 0x0D}},
      {2, nullptr, -4, {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 1, 0x02, 0x0D}},  // below 1: no data
      {0x101, abc.data(), 3, {0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 4, 0x01, 0x41, 0x42, 0x43, 0x0D}},
      {3, longest.data(), VK_TRACK_DATA_MAX, FakePrinter::Frame("&MST", longestParams)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.size);
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack());
    std::string log = logOf([&] { EXPECT_EQ(MS_SetTrackBuffer(k.track, k.data, k.size), 0); });
    EXPECT_EQ(printer.written, k.frame);
    char entry[64];
    snprintf(entry, sizeof(entry), "[S] MS_SetTrackBuffer : Track(0x%x)\r\n", k.track & 0xFF);
    EXPECT_TRUE(contains(log, entry)) << log;
  }
}

TEST(StripeFrames, LongerDataOrASizeWithoutDataIsRefusedAndNothingIsSent) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  Bytes data(VK_TRACK_DATA_MAX + 1, 0x55);
  std::string log = logOf([&] {
    EXPECT_EQ(MS_SetTrackBuffer(1, data.data(), int(data.size())), VK_ERR_REFUSED);
    EXPECT_EQ(MS_SetTrackBuffer(1, nullptr, 5), VK_ERR_REFUSED);
  });
  EXPECT_TRUE(printer.written.empty());
  EXPECT_EQ(printer.PendingReads(), 1u);  // the printer was never asked
  EXPECT_TRUE(contains(log, "252 bytes of track data exceed the 251"));
  EXPECT_TRUE(contains(log, "[E] MS_SetTrackBuffer : -2\r\n"));
}

TEST(TrackRead, PayloadAndItsLengthReachTheCallerBoundedByTheTrackAreaAndOnlyOnSuccess) {
  FakePrinter printer;
  Bytes track(40);
  for (size_t i = 0; i < track.size(); ++i) track[i] = uint8_t('0' + i % 10);
  printer.Answer(FakePrinter::Ack(track));
  Bytes out(VK_TRACK_SIZE, 0xEE);
  int length = -77;
  std::string log = logOf([&] { EXPECT_EQ(MS_ReadTrackData(0x102, out.data(), &length), 0); });
  EXPECT_EQ(printer.written, FakePrinter::Frame("&MRT", {0x02}));
  EXPECT_EQ(length, 40);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 40), track);
  EXPECT_EQ(out[40], 0xEE);
  EXPECT_TRUE(contains(log, "[S] MS_ReadTrackData : Track(0x2)\r\n"));
  EXPECT_TRUE(contains(log, "[E] MS_ReadTrackData : 0\r\n"));

  // Beyond the track area the payload is cut and the length says so.
  printer.Answer(FakePrinter::Ack(Bytes(300, 0x5A)));
  Bytes wide(320, 0xEE);
  logOf([&] { EXPECT_EQ(MS_ReadTrackData(1, wide.data(), &length), 0); });
  EXPECT_EQ(length, VK_TRACK_SIZE);
  for (size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(wide[i], i < VK_TRACK_SIZE ? 0x5A : 0xEE) << i;

  // A smaller caller buffer bounds the copy, and the length follows it.
  printer.Answer(FakePrinter::Ack(Bytes(40, 0x33)));
  Bytes small(20, 0xEE);
  logOf([&] { EXPECT_EQ(g_Dev.VKCL_MS_ReadTrackData(1, small.data(), &length, 16), 0); });
  EXPECT_EQ(length, 16);
  EXPECT_EQ(small[15], 0x33);
  EXPECT_EQ(small[16], 0xEE);

  // A refusal, silence or an empty answer leaves data and length.
  Bytes untouched(VK_TRACK_SIZE, 0xEE);
  length = -77;
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x31, 0x32}));
  printer.Silence();
  printer.Answer(FakePrinter::Ack());
  log = logOf([&] {
    EXPECT_EQ(MS_ReadTrackData(1, untouched.data(), &length), 9);
    EXPECT_EQ(MS_ReadTrackData(1, untouched.data(), &length), -1);
    EXPECT_EQ(MS_ReadTrackData(1, untouched.data(), &length), 0);
  });
  EXPECT_EQ(length, -77);
  EXPECT_EQ(untouched, Bytes(VK_TRACK_SIZE, 0xEE));
  EXPECT_TRUE(contains(log, "[E] MS_ReadTrackData : 9\r\n"));
  EXPECT_TRUE(contains(log, "[E] MS_ReadTrackData : -1\r\n"));
}

TEST(TrackWriteErase, AnswerIsCopiedUpToTheReplyAreaAndOnlyOnSuccess) {
  FakePrinter printer;
  Bytes answer(40);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = uint8_t(i + 1);
  printer.Answer(FakePrinter::Ack(answer));
  printer.Answer(FakePrinter::Ack({0x00, 0x01}));
  Bytes written(48, 0xEE), erased(VK_REPLY_SIZE, 0xEE);
  std::string log = logOf([&] {
    EXPECT_EQ(MS_WriteTrackData(3, written.data()), 0);
    EXPECT_EQ(MS_EraseTrackData(3, erased.data()), 0);
  });
  Bytes expected = FakePrinter::Frame("&MWT", {0x03});
  Bytes erase = FakePrinter::Frame("&MET", {0x03});
  expected.insert(expected.end(), erase.begin(), erase.end());
  EXPECT_EQ(printer.written, expected);
  for (size_t i = 0; i < written.size(); ++i) EXPECT_EQ(written[i], i < VK_REPLY_SIZE ? uint8_t(i + 1) : 0xEE) << i;
  EXPECT_EQ(Bytes(erased.begin(), erased.begin() + 3), (Bytes{0x00, 0x01, 0xEE}));
  for (const char* line : {"[S] MS_WriteTrackData : Track(0x3)\r\n", "[E] MS_WriteTrackData : 0\r\n",
                           "[S] MS_EraseTrackData : Track(0x3)\r\n", "[E] MS_EraseTrackData : 0\r\n"})
    EXPECT_TRUE(contains(log, line)) << line;

  // An encoder error or silence leaves the buffer.
  Bytes out(VK_REPLY_SIZE, 0xEE);
  printer.Answer(FakePrinter::Reply(0x80, 0x21, {0x01}));
  printer.Silence();
  logOf([&] {
    EXPECT_EQ(MS_WriteTrackData(1, out.data()), 0x21);
    EXPECT_EQ(MS_EraseTrackData(1, out.data()), -1);
  });
  EXPECT_EQ(out, Bytes(VK_REPLY_SIZE, 0xEE));
}
