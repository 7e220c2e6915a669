// The printer's service commands: card insertion, self-test print, buzzer,
// sensor and option queries, printer parameters, print and ribbon counters,
// and clearing of the printer's image buffer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/VKDevice.h"

namespace {

// Every service query keeps its payload in an area of this size.
constexpr int kServiceReplyArea = 32;

// Runs a service query and hands its whole payload (as far as the reply
// area and the caller's buffer reach) to out.
int copyQuery(CVKDevice& dev, const char* code, uint8_t* out, int outCapacity) {
  uint8_t area[kServiceReplyArea] = {0};
  int length = 0;
  int result = dev.QueryCommand(code, nullptr, 0, area, &length, kServiceReplyArea);
  if (result != 0) return result;
  if (length >= 1 && out != nullptr && outCapacity > 0)
    memcpy(out, area, size_t(std::min(length, outCapacity)));
  return result;
}

// Reads count bytes of the reply area as one unsigned big-endian number.
uint32_t bigEndian(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value * 256u + bytes[i];
  return value;
}

}  // namespace

// Asks the printer to take in a card.
int CVKDevice::VKCL_CardInsert() { return QueryCommand("!RIP", nullptr, 0, nullptr, nullptr, 0); }

// Asks the printer for its self-test print.
int CVKDevice::VKCL_SelfPrinting() {
  const uint8_t params[1] = {0x01};
  return QueryCommand("!RSP", params, 1, nullptr, nullptr, 0);
}

// Sounds the buzzer; each argument travels as two nibbles, bits 8-11 first.
int CVKDevice::VKCL_BuzzerControl(int a, int b, int c) {
  const uint8_t params[6] = {
      static_cast<uint8_t>((a >> 8) & 0x0F), static_cast<uint8_t>(a & 0x0F),
      static_cast<uint8_t>((b >> 8) & 0x0F), static_cast<uint8_t>(b & 0x0F),
      static_cast<uint8_t>((c >> 8) & 0x0F), static_cast<uint8_t>(c & 0x0F),
  };
  return QueryCommand("!RBZ", params, 6, nullptr, nullptr, 0);
}

// Reads the card feeder's sensor state into out.
int CVKDevice::VKCL_CheckFeederSensor(uint8_t* out, int outCapacity) {
  return copyQuery(*this, "!CFS", out, outCapacity);
}

// Reads the ribbon sensor's values into out.
int CVKDevice::VKCL_RibbonSensorValue(uint8_t* out, int outCapacity) {
  return copyQuery(*this, "!GRS", out, outCapacity);
}

// Reads the printer's option information into out.
int CVKDevice::VKCL_GetOptionInformationValue(uint8_t* out, int outCapacity) {
  return copyQuery(*this, "!GOI", out, outCapacity);
}

// Reads one printer parameter; the value counts only when the printer
// echoes the index we asked for.
int CVKDevice::VKCL_GetPrinterParameterValue(int index, int* value) {
  fprintf(stderr, "   [.]VKCL_GetPrinterParameterValue [%d]\r\n", index);
  const uint8_t params[1] = {static_cast<uint8_t>(index & 0xFF)};
  uint8_t area[kServiceReplyArea] = {0};
  int length = 0;
  int result = QueryCommand("!GCV", params, 1, area, &length, kServiceReplyArea);
  int shown = 0;
  // An index above 255 goes out truncated, so its echo can never match.
  if (result == 0 && length >= 2 && static_cast<int>(area[0]) == index) {
    uint32_t raw = bigEndian(area + 1, length - 1);
    int v = static_cast<int>(raw);
    // Parameter 27 is reported by the printer counted down from 32.
    if (index == 27) v = static_cast<int>(32u - raw);
    if (value != nullptr) *value = v;
    shown = v;
  }
  fprintf(stderr, "[E] GetPrinterParameterValue [%d = %d] : %d\r\n", index, shown, result);
  return result;
}

// Reads the printer's 32-bit print counter.
int CVKDevice::VKCL_GetPrintCount(int* count) {
  uint8_t area[kServiceReplyArea] = {0};
  int length = 0;
  int result = QueryCommand("!GPC", nullptr, 0, area, &length, kServiceReplyArea);
  if (result != 0 || length < 1) return result;
  // A short payload leaves the zeros of the area in the missing bytes.
  int counted = static_cast<int>(bigEndian(area, 4));
  if (count != nullptr) *count = counted;
  fprintf(stderr, "VKCL_GetPrintCount : %d\r\n", counted);
  return result;
}

// Reads the ribbon's 16-bit counter.
int CVKDevice::VKCL_CheckRibbonCount(int* count) {
  uint8_t area[kServiceReplyArea] = {0};
  int length = 0;
  int result = QueryCommand("!CRC", nullptr, 0, area, &length, kServiceReplyArea);
  if (result != 0 || length < 1) return result;
  int counted = static_cast<int>(bigEndian(area, 2));
  if (count != nullptr) *count = counted;
  fprintf(stderr, "Ribbon Count : %d\r\n", counted);
  return result;
}

// Clears the printer's image buffer.
int CVKDevice::VKCL_ClearImageBuffer(uint8_t p1, uint8_t p2) {
  const uint8_t params[2] = {p1, p2};
  return QueryCommand("$CCB", params, 2, nullptr, nullptr, 0);
}
