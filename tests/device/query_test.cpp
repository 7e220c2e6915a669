// Every API query with a reply buffer: the frame it sends, its entry and exit
// lines, and a payload handed on up to the buffer's size and only on success.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../pipeline/pipeline_support.h"
#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "support/fake_printer.h"

namespace {

using Bytes = FakePrinter::Bytes;

int trackLength = -77;  // what MS_ReadTrackData last reported

struct Query {
  const char* name;  // as logged
  const char* code;
  size_t area;  // the buffer size the API documents
  std::function<int(uint8_t*)> api;
  std::function<int(uint8_t*, int)> device;  // the same query with the caller's capacity
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
    {"MS_WriteTrackData", "&MWT", VK_REPLY_SIZE, [](uint8_t* b) { return MS_WriteTrackData(0x103, b); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_WriteTrackData(3, b, n); }},
    {"MS_EraseTrackData", "&MET", VK_REPLY_SIZE, [](uint8_t* b) { return MS_EraseTrackData(0x103, b); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_EraseTrackData(3, b, n); }},
    {"MS_ReadTrackData", "&MRT", VK_TRACK_SIZE, [](uint8_t* b) { return MS_ReadTrackData(0x103, b, &trackLength); },
     [](uint8_t* b, int n) { return g_Dev.VKCL_MS_ReadTrackData(3, b, &trackLength, n); }},
};

}  // namespace

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
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i < q.area ? uint8_t(i + 1) : 0xEE) << i;
    EXPECT_EQ(printer.written, FakePrinter::Frame(q.code, track ? Bytes{3} : Bytes{}));
    EXPECT_EQ(log.rfind(std::string("[S] ") + q.name + (track ? " : Track(0x3)" : "") + "\r\n", 0), 0u) << log;
    EXPECT_TRUE(Has(log, std::string("[E] ") + q.name + " : 0\r\n")) << log;
    StderrOf([&] { EXPECT_EQ(q.device(small.data(), 8), 0); });
    EXPECT_EQ(small, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(trackLength, q.area == VK_TRACK_SIZE ? 8 : -77);
    // An error (its payload kept by the device), silence, an empty answer or
    // a negative capacity leave the buffer and the length.
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
  }
}
