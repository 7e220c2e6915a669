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

}  // namespace

TEST(StripeFrames, CoercivityGoesOutAsOneByteAndIsLoggedInHex) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  int result = -5;
  std::string log = logOf([&] { result = MS_SetEncoderCoercivity(0x180); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printer.written, (Bytes{0x1B, 0x26, 0x4D, 0x45, 0x43, 0, 0, 0, 1, 0x80, 0x0D}));
  EXPECT_NE(log.find("[S] MS_SetEncoderCoercivity : 0x80\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_SetEncoderCoercivity : 0\r\n"), std::string::npos);
}

TEST(StripeFrames, TrackBufferWithoutDataCarriesOnlyTheTrack) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  printer.Answer(FakePrinter::Ack());
  const unsigned char data[3] = {0x41, 0x42, 0x43};
  std::string log = logOf([&] {
    EXPECT_EQ(MS_SetTrackBuffer(2, data, 0), 0);
    EXPECT_EQ(MS_SetTrackBuffer(2, nullptr, -4), 0);  // below 1: no data either
  });
  Bytes one{0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 1, 0x02, 0x0D};
  Bytes both = one;
  both.insert(both.end(), one.begin(), one.end());
  EXPECT_EQ(printer.written, both);
  EXPECT_NE(log.find("[S] MS_SetTrackBuffer : Track(0x2)\r\n"), std::string::npos);
}

TEST(StripeFrames, TrackBufferCarriesTrackThenData) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  const unsigned char data[3] = {0x41, 0x42, 0x43};
  logOf([&] { EXPECT_EQ(MS_SetTrackBuffer(0x101, data, 3), 0); });
  EXPECT_EQ(printer.written,
            (Bytes{0x1B, 0x26, 0x4D, 0x53, 0x54, 0, 0, 0, 4, 0x01, 0x41, 0x42, 0x43, 0x0D}));
}

TEST(TrackDataLimit, TwoHundredFiftyOneBytesFitTheCommand) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  Bytes data(VK_TRACK_DATA_MAX);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  logOf([&] { EXPECT_EQ(MS_SetTrackBuffer(3, data.data(), int(data.size())), 0); });
  Bytes params{0x03};
  params.insert(params.end(), data.begin(), data.end());
  EXPECT_EQ(printer.written, FakePrinter::Frame("&MST", params));
  EXPECT_EQ(printer.written.size(), 262u);
}

TEST(TrackDataLimit, LongerDataIsRefusedAndNothingIsSent) {
  FakePrinter printer;
  printer.Answer(FakePrinter::Ack());
  Bytes data(VK_TRACK_DATA_MAX + 1, 0x55);
  int result = 0;
  std::string log = logOf([&] { result = MS_SetTrackBuffer(1, data.data(), int(data.size())); });
  EXPECT_EQ(result, VK_ERR_REFUSED);
  EXPECT_TRUE(printer.written.empty());
  EXPECT_EQ(printer.PendingReads(), 1u);  // the printer was never asked
  EXPECT_NE(log.find("252 bytes of track data exceed the 251"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_SetTrackBuffer : -2\r\n"), std::string::npos);
}

TEST(TrackDataLimit, SizeWithoutDataIsRefused) {
  FakePrinter printer;
  int result = 0;
  std::string log = logOf([&] { result = MS_SetTrackBuffer(1, nullptr, 5); });
  EXPECT_EQ(result, VK_ERR_REFUSED);
  EXPECT_TRUE(printer.written.empty());
}

TEST(TrackRead, PayloadAndItsLengthReachTheCaller) {
  FakePrinter printer;
  Bytes track(40);
  for (size_t i = 0; i < track.size(); ++i) track[i] = uint8_t('0' + i % 10);
  printer.Answer(FakePrinter::Ack(track));
  Bytes out(VK_TRACK_SIZE, 0xEE);
  int length = -77;
  int result = -5;
  std::string log = logOf([&] { result = MS_ReadTrackData(0x102, out.data(), &length); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printer.written, FakePrinter::Frame("&MRT", {0x02}));
  EXPECT_EQ(length, 40);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 40), track);
  EXPECT_EQ(out[40], 0xEE);
  EXPECT_NE(log.find("[S] MS_ReadTrackData : Track(0x2)\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_ReadTrackData : 0\r\n"), std::string::npos);
}

TEST(TrackRead, PayloadBeyondTheTrackAreaIsCutAndTheLengthSaysSo) {
  FakePrinter printer;
  Bytes track(300, 0x5A);
  printer.Answer(FakePrinter::Ack(track));
  Bytes out(320, 0xEE);
  int length = -77;
  logOf([&] { EXPECT_EQ(MS_ReadTrackData(1, out.data(), &length), 0); });
  EXPECT_EQ(length, VK_TRACK_SIZE);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i < VK_TRACK_SIZE ? 0x5A : 0xEE) << i;

  // A smaller caller buffer bounds the copy, and the length follows it.
  printer.Answer(FakePrinter::Ack(Bytes(40, 0x33)));
  Bytes small(20, 0xEE);
  testing::internal::CaptureStderr();
  EXPECT_EQ(g_Dev.VKCL_MS_ReadTrackData(1, small.data(), &length, 16), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(length, 16);
  EXPECT_EQ(small[15], 0x33);
  EXPECT_EQ(small[16], 0xEE);
}

TEST(TrackRead, NakSilenceAndEmptyAnswerLeaveDataAndLength) {
  FakePrinter printer;
  Bytes out(VK_TRACK_SIZE, 0xEE);
  int length = -77;
  printer.Answer(FakePrinter::Reply(0x00, 0x15, {0x31, 0x32}));
  printer.Silence();
  printer.Answer(FakePrinter::Ack());
  std::string log = logOf([&] {
    EXPECT_EQ(MS_ReadTrackData(1, out.data(), &length), 9);
    EXPECT_EQ(MS_ReadTrackData(1, out.data(), &length), -1);
    EXPECT_EQ(MS_ReadTrackData(1, out.data(), &length), 0);
  });
  EXPECT_EQ(length, -77);
  EXPECT_EQ(out, Bytes(VK_TRACK_SIZE, 0xEE));
  EXPECT_NE(log.find("[E] MS_ReadTrackData : 9\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_ReadTrackData : -1\r\n"), std::string::npos);
}

TEST(TrackWriteErase, AnswerIsCopiedUpToTheReplyArea) {
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
  for (size_t i = 0; i < written.size(); ++i)
    EXPECT_EQ(written[i], i < VK_REPLY_SIZE ? uint8_t(i + 1) : 0xEE) << i;
  EXPECT_EQ(Bytes(erased.begin(), erased.begin() + 3), (Bytes{0x00, 0x01, 0xEE}));
  EXPECT_NE(log.find("[S] MS_WriteTrackData : Track(0x3)\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_WriteTrackData : 0\r\n"), std::string::npos);
  EXPECT_NE(log.find("[S] MS_EraseTrackData : Track(0x3)\r\n"), std::string::npos);
  EXPECT_NE(log.find("[E] MS_EraseTrackData : 0\r\n"), std::string::npos);
}

TEST(TrackWriteErase, EncoderErrorOrSilenceLeavesTheBuffer) {
  FakePrinter printer;
  Bytes out(VK_REPLY_SIZE, 0xEE);
  printer.Answer(FakePrinter::Reply(0x80, 0x21, {0x01}));
  printer.Silence();
  logOf([&] {
    EXPECT_EQ(MS_WriteTrackData(1, out.data()), 0x21);
    EXPECT_EQ(MS_EraseTrackData(1, out.data()), -1);
  });
  EXPECT_EQ(out, Bytes(VK_REPLY_SIZE, 0xEE));
}
