// CVKDevice: the printer device. It frames commands, exchanges them with the
// printer (through Printer(), see PrinterIO.h), parses the replies and runs
// the printer's job-control, service, stripe-encoder and print commands.
// Being derived from the print controller, it also runs the card pipeline.
// Applications use the flat API in VK4400.h instead of this class.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/VK4400.h"
#include "pipeline/VKCtrl_Print.h"

#define VK_RCVBUF_SIZE 1024

class CVKDevice : public CVKCtrl_Print {
 public:
  CVKDevice();
  ~CVKDevice() override;

  // --- framing and transport ---
  int SencRecv(const uint8_t* cmd, int length);
  int SendRecvData(const uint8_t* bytes, int count, uint8_t* reply, int* replyLength,
                   int replyCapacity);
  int RecveData(const uint8_t* reply, int replyLength);
  int InitSndRcvBuf();
  int GetResultData(uint8_t* out, int* outLength, int outCapacity);
  static int htoa(char* text, const uint8_t* bytes, int count);
  int VKCL_CMD(const uint8_t* bytes, int count);
  // One printer command with an optional answer: sends the four code
  // characters and paramCount parameter bytes through SencRecv and returns
  // its result. On result 0, when reply is not null, the payload (at most
  // replyCapacity bytes) goes to reply and its length to *replyLength (0 and
  // reply untouched when the answer carried none).
  int QueryCommand(const char* code, const uint8_t* params, int paramCount, uint8_t* reply,
                   int* replyLength, int replyCapacity);

  // --- job control ---
  int VKCL_PrintJobStatus(uint8_t* out, int outCapacity);
  int VKCL_CancelPrintJob(int job);
  int VKCL_CheckPrinterStatus();
  int VKCL_ClearErrorStatus();
  int VKCL_GetPrinterVersion(uint8_t* out, int outCapacity);
  int VKCL_CheckRibbonSensor(uint8_t* out, int outCapacity);

  // --- service commands ---
  int VKCL_CardInsert();
  int VKCL_SelfPrinting();
  int VKCL_BuzzerControl(int a, int b, int c);
  int VKCL_CheckFeederSensor(uint8_t* out, int outCapacity);
  int VKCL_RibbonSensorValue(uint8_t* out, int outCapacity);
  int VKCL_GetOptionInformationValue(uint8_t* out, int outCapacity);
  int VKCL_GetPrinterParameterValue(int index, int* value);
  int VKCL_GetPrintCount(int* count);
  int VKCL_CheckRibbonCount(int* count);
  int VKCL_ClearImageBuffer(uint8_t p1, uint8_t p2);

  // --- stripe encoder ---
  int VKCL_MS_SetEncoderCoercivity(uint8_t coercivity);
  int VKCL_MS_SetTrackBuffer(uint8_t track, const uint8_t* data, int count);
  int VKCL_MS_WriteTrackData(uint8_t track, uint8_t* out, int outCapacity);
  int VKCL_MS_ReadTrackData(uint8_t track, uint8_t* out, int* length, int outCapacity);
  int VKCL_MS_EraseTrackData(uint8_t track, uint8_t* out, int outCapacity);

  // --- card-side submission ---
  int VKCL_PTSEx(int nColorType, const uint8_t* data, int size, int width, int height);
  int VKCL_PTSjpg(const uint8_t* data, int size, int width, int height);
  int VKCL_PTS(const uint8_t* data, int size);
  // Sends a kept card front (colour type 16 with no back) as a one-sided card.
  int VKCL_PTSFront();
  static int MakeBmpHeader(uint8_t* header, int imageSize, int width, int height);

  int32_t nRet;
  int32_t nFwVersion;
  POPTION poption;
  int32_t nRcvlen;
  uint8_t RcvBuf[VK_RCVBUF_SIZE];
};

// The one device of the process.
extern CVKDevice g_Dev;
