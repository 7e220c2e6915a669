// The flat printer API as its callers see it: the frame each call sends, its
// entry and exit lines, what it makes of the reply, and what reaches the
// caller's buffers (never more than their documented size, only on success).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;
const Bytes kAck = FakePrinter::Ack(), kSilence;  // an answer of nothing: a silent printer

Bytes frame(const char* code, const Bytes& params = {}) { return FakePrinter::Frame(code, params); }

int trackLength = -77;  // what MS_ReadTrackData last reported

// Every query with a reply buffer, through the API and with the caller's capacity.
struct Query {
  const char* name;  // as logged
  const char* code;
  size_t area;  // the buffer size the API documents
  std::function<int(uint8_t*)> api;
  std::function<int(uint8_t*, int)> device;
};

const Query kQueries[] = {
    {"PrintJobStatus", "$PJS", VK_JOBSTATUS_SIZE, PrintJobStatus,
     [](uint8_t* b, int n) { return g_Dev.VKCL_PrintJobStatus(b, n); }},
    {"GetPrinterVersion", "!GVT", VK_REPLY_SIZE, GetPrinterVersion,
     [](uint8_t* b, int n) { return g_Dev.VKCL_GetPrinterVersion(b, n); }},
    {"CheckRibbon", "!CRS", VK_REPLY_SIZE, CheckRibbonSensor,
     [](uint8_t* b, int n) { return g_Dev.VKCL_CheckRibbonSensor(b, n); }},
    {"CheckFeederSensor", "!CFS", VK_REPLY_SIZE, CheckFeederSensor,
     [](uint8_t* b, int n) { return g_Dev.VKCL_CheckFeederSensor(b, n); }},
    {"RibbonSensorValue", "!GRS", VK_REPLY_SIZE, RibbonSensorValue,
     [](uint8_t* b, int n) { return g_Dev.VKCL_RibbonSensorValue(b, n); }},
    {"GetOptionInformationValue", "!GOI", VK_REPLY_SIZE, GetOptionInformationValue,
     [](uint8_t* b, int n) { return g_Dev.VKCL_GetOptionInformationValue(b, n); }},
    {"MS_WriteTrackData", "&MWT", VK_REPLY_SIZE,
     [](uint8_t* b) { return MS_WriteTrackData(0x103, b); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_WriteTrackData(3, b, n); }},
    {"MS_EraseTrackData", "&MET", VK_REPLY_SIZE,
     [](uint8_t* b) { return MS_EraseTrackData(0x103, b); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_EraseTrackData(3, b, n); }},
    {"MS_ReadTrackData", "&MRT", VK_TRACK_SIZE,
     [](uint8_t* b) { return MS_ReadTrackData(0x103, b, &trackLength); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_ReadTrackData(3, b, &trackLength, n); }},
};

}  // namespace

TEST(ApiCalls, EachSendsItsFrameAndLogsEntryAndResult) {
  Bytes data(VK_TRACK_DATA_MAX + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
  Bytes longest(data.begin(), data.end() - 1);
  longest.insert(longest.begin(), 0x03);
  const uint8_t abc[] = {0x41, 0x42, 0x43};
  const Bytes track2 = frame("&MST", {0x02});  // no data
  struct Case {
    const char* entry;  // after "[S] "; the exit line names the call up to the first blank
    std::function<int()> call;
    Bytes frame, reply;
    int result = 0;
  } cases[] = {
      // Only the low byte of a job number travels.
      {"CancelPrintJob", [] { return CancelPrintJob(0x1234); }, frame("$CPJ", {0x34}), kAck, 0},
      {"CheckPrinterStatus", CheckPrinterStatus, frame("!CSS"), FakePrinter::Reply(0x80, 3), 3},
      {"ClearErrorStatus", ClearErrorStatus, frame("!RCE"), FakePrinter::Reply(0, 0x15), 9},
      {"SelfPrinting", SelfPrinting, frame("!RSP", {0x01}), kAck, 0},
      {"BuzzerControl", [] { return BuzzerControl(0x0123, 5, 0x0F00); },
       frame("!RBZ", {0x01, 0x03, 0x00, 0x05, 0x0F, 0x00}), kAck, 0},
      // Bits outside 0-3 and 8-11 are dropped, negative numbers included.
      {"BuzzerControl", [] { return BuzzerControl(0xFFFF, -1, 0x10F0); },
       frame("!RBZ", {0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00}), kAck, 0},
      {"CardInsert", CardInsert, frame("!RIP"), kAck, 0},
      {"ClearImageBuffer", [] { return ClearImageBuffer(0x1FF, 0x102); }, frame("$CCB", {0xFF, 2}),
       kAck, 0},
      {"MS_SetEncoderCoercivity : 0x80", [] { return MS_SetEncoderCoercivity(0x180); },
       frame("&MEC", {0x80}), kAck, 0},
      {"MS_SetTrackBuffer : Track(0x2)", [&] { return MS_SetTrackBuffer(2, abc, 0); }, track2,
       kAck},
      {"MS_SetTrackBuffer : Track(0x2)", [] { return MS_SetTrackBuffer(2, nullptr, -4); }, track2,
       kAck},
      {"MS_SetTrackBuffer : Track(0x1)", [&] { return MS_SetTrackBuffer(0x101, abc, 3); },
       frame("&MST", {0x01, 0x41, 0x42, 0x43}), kAck, 0},
      {"MS_SetTrackBuffer : Track(0x3)", [&] { return MS_SetTrackBuffer(3, data.data(), 251); },
       frame("&MST", longest), kAck, 0},
      // Refused before anything is sent: one byte more than fits, or a size without data.
      {"MS_SetTrackBuffer : Track(0x1)", [&] { return MS_SetTrackBuffer(1, data.data(), 252); }, {},
       kAck, VK_ERR_REFUSED},
      {"MS_SetTrackBuffer : Track(0x1)", [] { return MS_SetTrackBuffer(1, nullptr, 5); }, {}, kAck,
       VK_ERR_REFUSED},
      // No printer command stands behind these: nothing is sent or read.
      {"CardEject", CardEject, {}, {}, 0},
      {"CardReject", CardReject, {}, {}, 0},
      {"RibbonSync", RibbonSync, {}, {}, 0},
      {"CleaningPrinter", CleaningPrinter, {}, {}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.entry);
    FakePrinter printer;
    printer.Answer(k.reply);
    std::string log = StderrOf([&] { EXPECT_EQ(k.call(), k.result); });
    EXPECT_EQ(printer.written, k.frame);
    EXPECT_EQ(printer.PendingReads(), k.frame.empty() ? 1u : 0u);  // asked only with a frame
    const std::string entry = "[S] " + std::string(k.entry) + "\r\n";
    const std::string exit = "[E] " + std::string(k.entry, strcspn(k.entry, " ")) + " : " +
                             std::to_string(k.result) + "\r\n";
    EXPECT_EQ(log.rfind(entry, 0), 0u) << log;
    EXPECT_TRUE(k.reply.empty() ? log == entry + exit : Has(log, exit)) << log;
    EXPECT_TRUE(k.result != VK_ERR_REFUSED || Has(log, "nothing sent\n")) << log;
  }
}

TEST(QueryReplies, PayloadReachesTheCallerUpToItsBufferAndOnlyOnSuccess) {
  Bytes payload(300);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i + 1);
  for (const Query& q : kQueries) {
    SCOPED_TRACE(q.name);
    const bool track = q.code[0] == '&';
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack(payload));
    printer.Answer(FakePrinter::Ack(payload));
    Bytes out(payload.size() + 8, 0xEE), small(12, 0xEE);
    trackLength = -77;
    std::string log = StderrOf([&] { EXPECT_EQ(q.api(out.data()), 0); });
    EXPECT_EQ(LastReplyLength(), 300);
    EXPECT_EQ(trackLength, q.area == VK_TRACK_SIZE ? VK_TRACK_SIZE : -77);
    for (size_t i = 0; i < out.size(); ++i)
      EXPECT_EQ(out[i], i < q.area ? uint8_t(i + 1) : 0xEE) << i;
    EXPECT_EQ(printer.written, frame(q.code, track ? Bytes{3} : Bytes{}));
    const std::string entry = std::string("[S] ") + q.name + (track ? " : Track(0x3)" : "");
    EXPECT_EQ(log.rfind(entry + "\r\n", 0), 0u) << log;
    EXPECT_TRUE(Has(log, std::string("[E] ") + q.name + " : 0\r\n")) << log;
    const bool job = q.area == VK_JOBSTATUS_SIZE;  // its log tells how much the printer sent
    EXPECT_TRUE(!job || Has(log, "\r\nDEBUG: VKCL_PrintJobStatus = [0], nRcvlen = [300]\n"
                                 "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [300]\n"));
    StderrOf([&] { EXPECT_EQ(q.device(small.data(), 8), 0); });
    EXPECT_EQ(small, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(trackLength, q.area == VK_TRACK_SIZE ? 8 : -77);
    // Errors, silence, empty answers and a negative capacity leave the buffer and the length.
    trackLength = -77;
    Bytes untouched(payload.size(), 0xEE);
    printer.Answer(FakePrinter::Reply(0x80, 0x21, {1, 2}));
    printer.Silence();
    printer.Answer(FakePrinter::Ack());
    printer.Answer(FakePrinter::Ack(payload));
    log = StderrOf([&] {
      EXPECT_EQ(q.api(untouched.data()), 0x21);
      EXPECT_EQ(q.api(untouched.data()), -1);
      EXPECT_EQ(q.api(untouched.data()), 0);
      EXPECT_EQ(LastReplyLength(), 0);
      EXPECT_EQ(trackLength, -77);
      EXPECT_EQ(q.device(untouched.data(), -1), 0);
    });
    EXPECT_EQ(untouched, Bytes(payload.size(), 0xEE));
    EXPECT_TRUE(Has(log, std::string("[E] ") + q.name + " : 33\r\n")) << log;
    EXPECT_TRUE(Has(log, std::string("[E] ") + q.name + " : -1\r\n")) << log;
    EXPECT_TRUE(!job || Has(log, "faild..... DEBUG: VKCL_PrintJobStatus = [-1], nRcvlen = [0]\n"));
  }
}

TEST(FirmwareVersion, HexDigitsReadAsADecimalNumber) {
  struct Case {
    Bytes payload;
    const char* text;
    int version;
  } cases[] = {
      {{0, 0, 0x01, 0x23}, "0123", 123}, {{0, 0, 0x0A, 0x10}, "0A10", 0},
      {{0, 0, 0x01, 0xAB}, "01AB", 1},   {{0, 0, 0xAB, 0x01}, "AB01", 0},
      {{9, 9, 0x99, 0x99, 1}, "9999", 9999},
      {{0, 0, 0x12}, "1200", 1200},  // short payload: missing bytes read as 0
  };
  for (const Case& c : cases) {
    FakePrinter printer;
    printer.Answer(FakePrinter::Ack(c.payload));
    uint8_t out[VK_REPLY_SIZE] = {0};
    std::string log = StderrOf([&] { EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 32), 0); });
    EXPECT_EQ(g_Dev.nFwVersion, c.version) << c.text;
    EXPECT_TRUE(Has(log, "FW Version : " + std::string(c.text) + " (" +
                             std::to_string(c.version) + ")\r\n")) << log;
  }
  // A small caller buffer is not read past its end; a failed or empty answer keeps the version.
  FakePrinter printer;
  for (const Bytes& r : {FakePrinter::Ack({0, 0, 4, 0x56, 7}), FakePrinter::Reply(0x80, 5), kAck})
    printer.Answer(r);
  uint8_t out[2];
  StderrOf([&] {
    for (int result : {0, 5, 0}) EXPECT_EQ(g_Dev.VKCL_GetPrinterVersion(out, 2), result);
  });
  EXPECT_EQ(g_Dev.nFwVersion, 456);
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
  };
  auto end = [](int index, int value, int result) {
    return "[E] GetPrinterParameterValue [" + std::to_string(index) + " = " +
           std::to_string(value) + "] : " + std::to_string(result) + "\r\n";
  };
  const Case cases[] = {
      // Index 27 counts down from 32.
      {27, FakePrinter::Ack({0x1B, 0x00, 0x05}), 0, 27,
       {"[S] GetPrinterParameterValue [27]\r\n", "   [.]VKCL_GetPrinterParameterValue [27]\r\n"}},
      // The value is the big-endian rest, kept to 32 bits.
      {5, FakePrinter::Ack({0x05, 0x01, 0x02, 0x03, 0x04, 0x05}), 0, 0x02030405, {}},
      {6, FakePrinter::Ack({0x06, 0xFF, 0xFF, 0xFF, 0xFE}), 0, -2, {}},
      {9, FakePrinter::Ack(longPayload), 0, 7, {}},
      // A mismatched echo leaves the value; the API line shows what the caller's int holds.
      {26, FakePrinter::Ack({0x1B, 0x00, 0x05}), 0, -77,
       {end(26, 0, 0), end(26, -77, 0)}},
      {4, FakePrinter::Ack({0x04}), 0, -77, {end(4, 0, 0)}},
      {4, FakePrinter::Ack(), 0, -77, {}},
      // Above 255 only the low byte goes out, so the echo never matches; nor for -1 (0xFF).
      {300, FakePrinter::Ack({0x2C, 0x00, 0x07}), 0, -77, {end(300, 0, 0)}},
      {-1, FakePrinter::Ack({0xFF, 0x00, 0x07}), 0, -77, {}},
      {27, FakePrinter::Reply(0x00, 0x15, {0x1B, 0x00, 0x05}), 9, -77,
       {"   [.]VKCL_GetPrinterParameterValue [27]\r\n", end(27, -77, 9)}},
      {27, kSilence, -1, -77, {end(27, -77, -1)}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.index);
    FakePrinter printer;
    printer.Answer(k.reply);
    int value = -77;
    std::string log =
        StderrOf([&] { EXPECT_EQ(GetPrinterParameterValue(k.index, &value), k.result); });
    EXPECT_EQ(value, k.value);
    EXPECT_EQ(printer.written, frame("!GCV", {uint8_t(k.index)}));
    for (const std::string& line : k.log) EXPECT_TRUE(Has(log, line)) << line << log;
    const std::string both = end(27, 27, 0);  // from the device and from the API
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
      {true, FakePrinter::Ack({0x00, 0x01, 0xE2, 0x40, 0x99}), 0, 123456, "GetPrintCount : 0\r\n"},
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
    auto call = k.print ? GetPrintCount : CheckRibbonCount;
    std::string log = StderrOf([&] { EXPECT_EQ(call(&count), k.result); });
    EXPECT_EQ(count, k.count);
    EXPECT_EQ(printer.written, frame(k.print ? "!GPC" : "!CRC"));
    EXPECT_TRUE(Has(log, k.log)) << log;
    const bool valueLogged = Has(log, "VKCL_GetPrintCount :") || Has(log, "Ribbon Count :");
    EXPECT_EQ(valueLogged, k.count != -77);
  }
}

TEST(PrintOptions, EveryFieldIsStoredUnchangedAndLoggedInOrder) {
  POPTION opt = {1, 4, 2, -45, 41, 47, -2147483647 - 1, 47, 8, 93, 1, 1, 256, 3, 1, 2};
  std::string log = StderrOf([&] { EXPECT_EQ(SetPOption(opt), 0); });
  EXPECT_EQ(0, memcmp(&g_Dev.poption, &opt, sizeof(opt)));
  EXPECT_EQ(&g_Dev.JobOption(), &g_Dev.poption);
  const char* names[] = {"nColorType", "nRibbon",   "nType",     "nBrightness", "nContrast",
                         "nRed",       "nGreen",    "nBlue",     "nSharpness",  "nGamma",
                         "nBlackUse",  "nSaturate", "nFOverlay", "nBOverlay",   "nCheck", "nStyle"};
  const int values[] = {1, 4, 2, -45, 41, 47, -2147483647 - 1, 47, 8, 93, 1, 1, 256, 3, 1, 2};
  std::string want;
  for (int i = 0; i < 16; ++i)
    want += std::string("g_Dev.poption.") + names[i] + " : " + std::to_string(values[i]) + "\r\n";
  EXPECT_EQ(log, want);
}
