// The printer API's service and stripe-encoder functions: each logs its
// entry, runs the device operation on g_Dev and logs and returns its result.
#include <cstdio>

#include "device/VK4400.h"
#include "device/VKDevice.h"

namespace {

// The functions with no printer command behind them log their two lines
// and report success.
int noCommand(const char* name) {
  fprintf(stderr, "[S] %s\r\n", name);
  fprintf(stderr, "[E] %s : %d\r\n", name, 0);
  return 0;
}

}  // namespace

// Asks the printer to take in a card.
int CardInsert(void) {
  fprintf(stderr, "[S] CardInsert\r\n");
  int result = g_Dev.VKCL_CardInsert();
  fprintf(stderr, "[E] CardInsert : %d\r\n", result);
  return result;
}

// Card ejection: no printer command stands behind it.
int CardEject(void) { return noCommand("CardEject"); }

// Card rejection: no printer command stands behind it.
int CardReject(void) { return noCommand("CardReject"); }

// Ribbon synchronisation: no printer command stands behind it.
int RibbonSync(void) { return noCommand("RibbonSync"); }

// Cleaning: no printer command stands behind it.
int CleaningPrinter(void) { return noCommand("CleaningPrinter"); }

// Asks for the printer's self-test print.
int SelfPrinting(void) {
  fprintf(stderr, "[S] SelfPrinting\r\n");
  int result = g_Dev.VKCL_SelfPrinting();
  fprintf(stderr, "[E] SelfPrinting : %d\r\n", result);
  return result;
}

// Sounds the printer's buzzer.
int BuzzerControl(int a, int b, int c) {
  fprintf(stderr, "[S] BuzzerControl\r\n");
  int result = g_Dev.VKCL_BuzzerControl(a, b, c);
  fprintf(stderr, "[E] BuzzerControl : %d\r\n", result);
  return result;
}

// Reads the card feeder's sensor.
int CheckFeederSensor(unsigned char* out) {
  fprintf(stderr, "[S] CheckFeederSensor\r\n");
  int result = g_Dev.VKCL_CheckFeederSensor(out, VK_REPLY_SIZE);
  fprintf(stderr, "[E] CheckFeederSensor : %d\r\n", result);
  return result;
}

// Reads the ribbon sensor's values.
int RibbonSensorValue(unsigned char* out) {
  fprintf(stderr, "[S] RibbonSensorValue\r\n");
  int result = g_Dev.VKCL_RibbonSensorValue(out, VK_REPLY_SIZE);
  fprintf(stderr, "[E] RibbonSensorValue : %d\r\n", result);
  return result;
}

// Reads the printer's option information.
int GetOptionInformationValue(unsigned char* out) {
  fprintf(stderr, "[S] GetOptionInformationValue\r\n");
  int result = g_Dev.VKCL_GetOptionInformationValue(out, VK_REPLY_SIZE);
  fprintf(stderr, "[E] GetOptionInformationValue : %d\r\n", result);
  return result;
}

// Reads one printer parameter; the exit line shows what *pValue holds after
// the call, so a successful call logs this line twice (here and in the device).
int GetPrinterParameterValue(int nIndex, int* pValue) {
  fprintf(stderr, "[S] GetPrinterParameterValue [%d]\r\n", nIndex);
  int result = g_Dev.VKCL_GetPrinterParameterValue(nIndex, pValue);
  fprintf(stderr, "[E] GetPrinterParameterValue [%d = %d] : %d\r\n", nIndex,
          pValue != nullptr ? *pValue : 0, result);
  return result;
}

// Reads the printer's print counter.
int GetPrintCount(int* pCount) {
  fprintf(stderr, "[S] GetPrintCount\r\n");
  int result = g_Dev.VKCL_GetPrintCount(pCount);
  fprintf(stderr, "[E] GetPrintCount : %d\r\n", result);
  return result;
}

// Reads the ribbon counter.
int CheckRibbonCount(int* pCount) {
  fprintf(stderr, "[S] CheckRibbonCount\r\n");
  int result = g_Dev.VKCL_CheckRibbonCount(pCount);
  fprintf(stderr, "[E] CheckRibbonCount : %d\r\n", result);
  return result;
}

// Clears the printer's image buffer.
int ClearImageBuffer(int p1, int p2) {
  fprintf(stderr, "[S] ClearImageBuffer\r\n");
  int result = g_Dev.VKCL_ClearImageBuffer(uint8_t(p1 & 0xFF), uint8_t(p2 & 0xFF));
  fprintf(stderr, "[E] ClearImageBuffer : %d\r\n", result);
  return result;
}

// Sets the stripe encoder's coercivity.
int MS_SetEncoderCoercivity(int nCoercivity) {
  const uint8_t coercivity = uint8_t(nCoercivity & 0xFF);
  fprintf(stderr, "[S] MS_SetEncoderCoercivity : 0x%X\r\n", unsigned(coercivity));
  int result = g_Dev.VKCL_MS_SetEncoderCoercivity(coercivity);
  fprintf(stderr, "[E] MS_SetEncoderCoercivity : %d\r\n", result);
  return result;
}

// Loads data for a track into the printer's track buffer.
int MS_SetTrackBuffer(int nTrack, const unsigned char* pData, int nSize) {
  const uint8_t track = uint8_t(nTrack & 0xFF);
  fprintf(stderr, "[S] MS_SetTrackBuffer : Track(0x%X)\r\n", unsigned(track));
  int result = g_Dev.VKCL_MS_SetTrackBuffer(track, pData, nSize);
  fprintf(stderr, "[E] MS_SetTrackBuffer : %d\r\n", result);
  return result;
}

// Writes the buffered data to a track.
int MS_WriteTrackData(int nTrack, unsigned char* pData) {
  const uint8_t track = uint8_t(nTrack & 0xFF);
  fprintf(stderr, "[S] MS_WriteTrackData : Track(0x%X)\r\n", unsigned(track));
  int result = g_Dev.VKCL_MS_WriteTrackData(track, pData, VK_REPLY_SIZE);
  fprintf(stderr, "[E] MS_WriteTrackData : %d\r\n", result);
  return result;
}

// Reads a track back.
int MS_ReadTrackData(int nTrack, unsigned char* pData, int* pLength) {
  const uint8_t track = uint8_t(nTrack & 0xFF);
  fprintf(stderr, "[S] MS_ReadTrackData : Track(0x%X)\r\n", unsigned(track));
  int result = g_Dev.VKCL_MS_ReadTrackData(track, pData, pLength, VK_TRACK_SIZE);
  fprintf(stderr, "[E] MS_ReadTrackData : %d\r\n", result);
  return result;
}

// Erases a track.
int MS_EraseTrackData(int nTrack, unsigned char* pData) {
  const uint8_t track = uint8_t(nTrack & 0xFF);
  fprintf(stderr, "[S] MS_EraseTrackData : Track(0x%X)\r\n", unsigned(track));
  int result = g_Dev.VKCL_MS_EraseTrackData(track, pData, VK_REPLY_SIZE);
  fprintf(stderr, "[E] MS_EraseTrackData : %d\r\n", result);
  return result;
}
