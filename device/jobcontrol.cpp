// The printer's job-control commands: job status, cancel, printer status,
// error clear, firmware version and ribbon sensor.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/VKDevice.h"

namespace {
// Reply area of the job-status query and of every other query.
const int kJobStatusArea = 128;
const int kQueryArea = 32;
}  // namespace

// Sends one command and, on success, hands its payload to the caller.
int CVKDevice::QueryCommand(const char* code, const uint8_t* params, int paramCount,
                            uint8_t* reply, int* replyLength, int replyCapacity) {
  if (paramCount < 0) paramCount = 0;
  std::vector<uint8_t> cmd(4 + size_t(paramCount), 0);
  memcpy(cmd.data(), code, 4);
  if (paramCount > 0) memcpy(cmd.data() + 4, params, size_t(paramCount));
  int result = SencRecv(cmd.data(), int(cmd.size()));
  if (result != 0) return result;
  if (reply != nullptr) {
    int length = 0;
    GetResultData(reply, &length, replyCapacity);
    if (replyLength != nullptr) *replyLength = length;
  }
  return 0;
}

// Asks whether the printer is working on a job; the payload goes to out.
int CVKDevice::VKCL_PrintJobStatus(uint8_t* out, int outCapacity) {
  uint8_t area[kJobStatusArea] = {0};
  int result = SencRecv(reinterpret_cast<const uint8_t*>("$PJS"), 4);
  fprintf(stderr, "DEBUG: VKCL_PrintJobStatus = [%d], nRcvlen = [%d]\n", result, nRcvlen);
  if (result != 0) return result;
  int length = 0;
  GetResultData(area, &length, kJobStatusArea);
  // The log tells how much the printer sent; the copy keeps what fits.
  fprintf(stderr, "DEBUG: VKCL_PrintJobStatus::GetResultData::nRcvlen = [%d]\n", nRcvlen);
  if (length >= 1 && out != nullptr && outCapacity > 0)
    memcpy(out, area, size_t(std::min(length, outCapacity)));
  return 0;
}

// Cancels the printer's job with the given number (its low byte is sent).
int CVKDevice::VKCL_CancelPrintJob(int job) {
  const uint8_t number = uint8_t(job & 0xFF);
  return QueryCommand("$CPJ", &number, 1, nullptr, nullptr, 0);
}

// Asks for the printer's status; the result code is the status.
int CVKDevice::VKCL_CheckPrinterStatus() { return QueryCommand("!CSS", nullptr, 0, nullptr, nullptr, 0); }

// Clears the printer's error state.
int CVKDevice::VKCL_ClearErrorStatus() { return QueryCommand("!RCE", nullptr, 0, nullptr, nullptr, 0); }

// Asks for the firmware version: the payload goes to out, and bytes 2 and 3
// (four hexadecimal digits read as a decimal number) become nFwVersion.
int CVKDevice::VKCL_GetPrinterVersion(uint8_t* out, int outCapacity) {
  uint8_t area[kQueryArea] = {0};
  int length = 0;
  int result = QueryCommand("!GVT", nullptr, 0, area, &length, kQueryArea);
  if (result != 0 || length < 1) return result;
  if (out != nullptr && outCapacity > 0) memcpy(out, area, size_t(std::min(length, outCapacity)));
  // Decoded from the zero-filled reply area, so a short payload reads as 0
  // and a small caller buffer is never read past its end.
  char text[8];
  htoa(text, area + 2, 2);
  nFwVersion = int32_t(strtol(text, nullptr, 10));
  fprintf(stderr, "FW Version : %s (%d)\r\n", text, nFwVersion);
  return 0;
}

// Asks which ribbon is loaded; the payload goes to out.
int CVKDevice::VKCL_CheckRibbonSensor(uint8_t* out, int outCapacity) {
  uint8_t area[kQueryArea] = {0};
  int length = 0;
  int result = QueryCommand("!CRS", nullptr, 0, area, &length, kQueryArea);
  if (result != 0 || length < 1) return result;
  if (out != nullptr && outCapacity > 0) memcpy(out, area, size_t(std::min(length, outCapacity)));
  return 0;
}
