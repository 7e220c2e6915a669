/*
 * VK4400 printer API: the flat functions through which a program drives the
 * card printer. Commands go out on standard output and the printer's replies
 * come back on the CUPS back channel, so the calling program must run where
 * CUPS (or a test harness) connects both.
 *
 * Every function except SetPOption writes an "[S] ..." entry line and an
 * "[E] ... : <result>" exit line to standard error and returns the device
 * operation's result unchanged:
 *    0        success
 *    9        the printer refused the command (NAK)
 *    1..255   the printer's error number
 *   -1        no reply within the read time-out, or the read failed
 * Reply buffers are written only on success, and never beyond the capacity
 * documented next to each function.
 *
 * This header is plain C and can be included from C and C++ programs.
 */
#ifndef VK4400_H
#define VK4400_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The print-options record: sixteen signed 32-bit fields, in this order. */
typedef struct tagPOPTION {
  int32_t nColorType;  /* read by no operation */
  int32_t nRibbon;     /* 0 colour, 4 black, 10 rewritable, 11 rewritable erase */
  int32_t nType;       /* read by no operation */
  int32_t nBrightness;
  int32_t nContrast;
  int32_t nRed;
  int32_t nGreen;
  int32_t nBlue;
  int32_t nSharpness;
  int32_t nGamma;
  int32_t nBlackUse;   /* 1: separate black dots into the black panel */
  int32_t nSaturate;
  int32_t nFOverlay;   /* overlay of the card front: 0 full, 2 MS, 3 ISO, 256 none */
  int32_t nBOverlay;   /* overlay of the card back, same codes */
  int32_t nCheck;      /* 1: image log and debug dumps */
  int32_t nStyle;      /* 0 normal, 1 highlight, 2 not used */
} POPTION;

/* Capacities of the callers' reply buffers (bytes). */
#define VK_JOBSTATUS_SIZE 64   /* PrintJobStatus */
#define VK_REPLY_SIZE 32       /* every other query with a reply buffer */
#define VK_TRACK_SIZE 256      /* MS_ReadTrackData */

/* Track data that one MS_SetTrackBuffer call can carry: the printer's
 * command area holds the code, the track byte and at most this many bytes. */
#define VK_TRACK_DATA_MAX 251

/* Result of a call refused before anything was sent, because its arguments
 * cannot form a valid command (MS_SetTrackBuffer with more than
 * VK_TRACK_DATA_MAX bytes, or with a size but no data). No printer result
 * is negative except -1, so this never stands for a printer answer. */
#define VK_ERR_REFUSED (-2)

/* Result of a print call whose card the printer refused: it answered the
 * print-job command with a NAK or an error number. No further card is sent
 * by that call; LastCardAnswer tells what the printer answered. */
#define VK_ERR_CARD_REFUSED (-3)

/* LastCardAnswer's value for a card refused with a NAK (error numbers are
 * 1 to 255, so it stands for no error number). */
#define VK_CARD_NAK 256

/* Stores the job's card options in the device; logs every field. Returns 0. */
int SetPOption(POPTION opt);

/* Job control. */
int PrintJobStatus(unsigned char* pJob);        /* pJob: VK_JOBSTATUS_SIZE bytes */
int CancelPrintJob(int nJob);
int CheckPrinterStatus(void);
int ClearErrorStatus(void);
int GetPrinterVersion(unsigned char* pVer);     /* pVer: VK_REPLY_SIZE bytes */
int CheckRibbonSensor(unsigned char* pRibbon);  /* pRibbon: VK_REPLY_SIZE bytes */
/* Payload length of the last command's reply: 0 when it carried none (a
 * successful query then left its buffer untouched) or failed. No log lines. */
int LastReplyLength(void);

/* Printer service commands. CardEject, CardReject, RibbonSync and
 * CleaningPrinter have no printer command behind them: they log their two
 * lines, send nothing and return 0. GetPrinterParameterValue, GetPrintCount
 * and CheckRibbonCount write their int only when the printer answered with a
 * payload (and, for a parameter, echoed the index asked for). */
int CardInsert(void);
int CardEject(void);
int CardReject(void);
int RibbonSync(void);
int CleaningPrinter(void);
int SelfPrinting(void);
int BuzzerControl(int a, int b, int c);
int CheckFeederSensor(unsigned char* out);          /* VK_REPLY_SIZE bytes */
int RibbonSensorValue(unsigned char* out);          /* VK_REPLY_SIZE bytes */
int GetOptionInformationValue(unsigned char* out);  /* VK_REPLY_SIZE bytes */
int GetPrinterParameterValue(int nIndex, int* pValue);
int GetPrintCount(int* pCount);
int CheckRibbonCount(int* pCount);
int ClearImageBuffer(int p1, int p2);

/* Magnetic-stripe encoder. Track and coercivity go out as the low byte of
 * the int. MS_SetTrackBuffer sends nSize bytes of pData (none when nSize is
 * below 1) and returns VK_ERR_REFUSED, sending nothing, when nSize exceeds
 * VK_TRACK_DATA_MAX or pData is missing. MS_ReadTrackData stores in
 * *pLength the number of bytes it put into pData (at most VK_TRACK_SIZE). */
int MS_SetEncoderCoercivity(int nCoercivity);
int MS_SetTrackBuffer(int nTrack, const unsigned char* pData, int nSize);
int MS_WriteTrackData(int nTrack, unsigned char* pData);              /* VK_REPLY_SIZE */
int MS_ReadTrackData(int nTrack, unsigned char* pData, int* pLength); /* VK_TRACK_SIZE */
int MS_EraseTrackData(int nTrack, unsigned char* pData);              /* VK_REPLY_SIZE */

/* Print calls: one card side as raw pixel lines (see the README).
 * OneCmdPrintingEx takes the colour types 16 and 32 with nType 3, and 0, 16
 * and 32 with nType 256 (a CMYK page); any other colour type sends nothing
 * and returns VK_ERR_REFUSED. A card front that waits for its back goes out
 * as a one-sided card before any other card is sent (also a finished JPEG of
 * OneCmdPrinting). Every call that sends a card returns VK_ERR_CARD_REFUSED
 * when the printer refused it. */
int OneCmdPrintingEx(int nType, int nColorType, unsigned char* pData, int nSize,
                     int nWidth, int nHeight);
int OneCmdPrinting(int nType, unsigned char* pData, int nSize);
/* Sends the front of a two-sided card that no back followed as a one-sided
 * card with its black and overlay panels. Returns 0 when it was sent or no
 * front was kept. */
int PrintPendingFront(void);
/* What the printer answered to the last print-job command: 0 accepted (or
 * no readable answer: the job status tells the outcome), 1 to 255 its error
 * number, VK_CARD_NAK a NAK. No log lines. */
int LastCardAnswer(void);

#ifdef __cplusplus
}
#endif

#endif /* VK4400_H */
