// The printer API's print options and job-control functions: each logs its
// entry, runs the device operation on g_Dev and logs and returns its result.
#include <cstdio>

#include "device/VK4400.h"
#include "device/VKDevice.h"

// Stores the job's card options in the device and logs every field.
int SetPOption(POPTION opt) {
  g_Dev.poption = opt;
  const POPTION& o = g_Dev.poption;
  fprintf(stderr, "g_Dev.poption.nColorType : %d\r\n", o.nColorType);
  fprintf(stderr, "g_Dev.poption.nRibbon : %d\r\n", o.nRibbon);
  fprintf(stderr, "g_Dev.poption.nType : %d\r\n", o.nType);
  fprintf(stderr, "g_Dev.poption.nBrightness : %d\r\n", o.nBrightness);
  fprintf(stderr, "g_Dev.poption.nContrast : %d\r\n", o.nContrast);
  fprintf(stderr, "g_Dev.poption.nRed : %d\r\n", o.nRed);
  fprintf(stderr, "g_Dev.poption.nGreen : %d\r\n", o.nGreen);
  fprintf(stderr, "g_Dev.poption.nBlue : %d\r\n", o.nBlue);
  fprintf(stderr, "g_Dev.poption.nSharpness : %d\r\n", o.nSharpness);
  fprintf(stderr, "g_Dev.poption.nGamma : %d\r\n", o.nGamma);
  fprintf(stderr, "g_Dev.poption.nBlackUse : %d\r\n", o.nBlackUse);
  fprintf(stderr, "g_Dev.poption.nSaturate : %d\r\n", o.nSaturate);
  fprintf(stderr, "g_Dev.poption.nFOverlay : %d\r\n", o.nFOverlay);
  fprintf(stderr, "g_Dev.poption.nBOverlay : %d\r\n", o.nBOverlay);
  fprintf(stderr, "g_Dev.poption.nCheck : %d\r\n", o.nCheck);
  fprintf(stderr, "g_Dev.poption.nStyle : %d\r\n", o.nStyle);
  return 0;
}

// Asks whether the printer is still working on a job.
int PrintJobStatus(unsigned char* pJob) {
  fprintf(stderr, "[S] PrintJobStatus\r\n");
  int result = g_Dev.VKCL_PrintJobStatus(pJob, VK_JOBSTATUS_SIZE);
  fprintf(stderr, "[E] PrintJobStatus : %d\r\n", result);
  return result;
}

// Cancels the printer's job with this number.
int CancelPrintJob(int nJob) {
  fprintf(stderr, "[S] CancelPrintJob\r\n");
  int result = g_Dev.VKCL_CancelPrintJob(nJob);
  fprintf(stderr, "[E] CancelPrintJob : %d\r\n", result);
  return result;
}

// Asks for the printer's status code.
int CheckPrinterStatus(void) {
  fprintf(stderr, "[S] CheckPrinterStatus\r\n");
  int result = g_Dev.VKCL_CheckPrinterStatus();
  fprintf(stderr, "[E] CheckPrinterStatus : %d\r\n", result);
  return result;
}

// Clears the printer's error state.
int ClearErrorStatus(void) {
  fprintf(stderr, "[S] ClearErrorStatus\r\n");
  int result = g_Dev.VKCL_ClearErrorStatus();
  fprintf(stderr, "[E] ClearErrorStatus : %d\r\n", result);
  return result;
}

// Asks for the printer's firmware version.
int GetPrinterVersion(unsigned char* pVer) {
  fprintf(stderr, "[S] GetPrinterVersion\r\n");
  int result = g_Dev.VKCL_GetPrinterVersion(pVer, VK_REPLY_SIZE);
  fprintf(stderr, "[E] GetPrinterVersion : %d\r\n", result);
  return result;
}

// Asks which ribbon is loaded.
int CheckRibbonSensor(unsigned char* pRibbon) {
  fprintf(stderr, "[S] CheckRibbon\r\n");
  int result = g_Dev.VKCL_CheckRibbonSensor(pRibbon, VK_REPLY_SIZE);
  fprintf(stderr, "[E] CheckRibbon : %d\r\n", result);
  return result;
}

// Payload length of the last command's reply.
int LastReplyLength(void) { return g_Dev.nRcvlen; }
