// The printer API's print calls: one card side as raw pixel lines, a
// finished JPEG or a ready command, dispatched by nType to the device.
#include <cstdio>

#include "device/VK4400.h"
#include "device/VKDevice.h"

// Prints one card side (nType 1, 3 and 256), a finished JPEG (2) or sends a
// ready command (0); any other nType sends nothing.
int OneCmdPrintingEx(int nType, int nColorType, unsigned char* pData, int nSize, int nWidth,
                     int nHeight) {
  fprintf(stderr, "[S] OneCmdPrintingEx (%d)\r\n", nType);
  fprintf(stderr, "[S] OneCmdPrintingEx : nType [%d] : g_Dev.poption.nRibbon [%d]\r\n", nType,
          g_Dev.poption.nRibbon);
  int result = 0;
  switch (nType) {
    case 0:
      result = g_Dev.VKCL_CMD(pData, nSize);
      break;
    case 1:
      result = g_Dev.VKCL_PTSEx(0, pData, nSize, nWidth, nHeight);
      break;
    case 2:
      result = g_Dev.VKCL_PTSjpg(pData, nSize, nWidth, nHeight);
      break;
    case 3:
      // A two-sided card has a front (16) and a back (32) and nothing else.
      if (nColorType == 16 || nColorType == 32)
        result = g_Dev.VKCL_PTSEx(nColorType, pData, nSize, nWidth, nHeight);
      else
        result = VK_ERR_REFUSED;
      break;
    case 256:
      // A CMYK page is a one-sided card or either side of a two-sided one.
      if (nColorType == 0 || nColorType == 16 || nColorType == 32)
        result = g_Dev.VKCL_PTSEx(nColorType + 256, pData, nSize, nWidth, nHeight);
      else
        result = VK_ERR_REFUSED;
      break;
    default:
      break;
  }
  fprintf(stderr, "[E] OneCmdPrintingEx : %d\r\n", result);
  return result;
}

// Sends a ready command (nType 0) or a finished JPEG as a one-sided card (1).
int OneCmdPrinting(int nType, unsigned char* pData, int nSize) {
  fprintf(stderr, "[S] OneCmdPrinting\r\n");
  int result = 0;
  if (nType == 0)
    result = g_Dev.VKCL_CMD(pData, nSize);
  else if (nType == 1)
    result = g_Dev.VKCL_PTS(pData, nSize);
  fprintf(stderr, "[E] OneCmdPrinting : %d\r\n", result);
  return result;
}

// Sends a card front that no back followed as a one-sided card.
int PrintPendingFront(void) {
  fprintf(stderr, "[S] PrintPendingFront\r\n");
  int result = g_Dev.VKCL_PTSFront();
  fprintf(stderr, "[E] PrintPendingFront : %d\r\n", result);
  return result;
}

// What the printer answered to the last print-job command.
int LastCardAnswer(void) { return g_Dev.m_nCardAnswer; }
