// CVKCtrl_Print: the print controller. It carries the card image pipeline's
// state from one card side to the next: the six panel slots, the panel table
// that tells the print-job command which panels exist, working copies of the
// card options and the debug-dump settings. The printer device CVKDevice
// derives from it, so the one global device is also the one controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/VK4400.h"
#include "pipeline/jobbuffer.h"
#include "ximage/ximage.h"

// Slot codes of the panel images.
enum {
  VK_SLOT_FRONT = 0x10,
  VK_SLOT_FRONT_K = 0x11,
  VK_SLOT_FRONT_O = 0x12,
  VK_SLOT_BACK = 0x20,
  VK_SLOT_BACK_K = 0x21,
  VK_SLOT_BACK_O = 0x22,
};

// Block record of the print-job command ("$PTS"): fourteen byte blocks, each
// starting with its code byte.
struct tagPTSCMD {
  uint8_t SOP[3];
  uint8_t SPT[7];
  uint8_t DataMode[5];
  uint8_t BlockC[3];
  uint8_t BlockO1[8];
  uint8_t TCB1[13];
  uint8_t TCB1_K[13];
  uint8_t TCB1_O[13];
  uint8_t TCB1_X[13];
  uint8_t BlockO2[8];
  uint8_t TCB2[13];
  uint8_t TCB2_K[13];
  uint8_t TCB2_O[13];
  uint8_t TCB2_X[13];
};

class CVKCtrl_Print {
 public:
  CVKCtrl_Print();
  virtual ~CVKCtrl_Print();

  // --- controller state and defaults ---
  int MakeInit();
  int UseDefault();
  int outputarray_Log(const uint8_t* bytes, int count);
  int write_tests(int index, const char* name, const uint8_t* bytes, size_t count);

  // --- panel image preparation ---
  // Prepares one card side from an in-memory 24-bit BMP. For colour type 0
  // the colour panel JPEG goes to out (at most outCapacity bytes) and its
  // length is returned; otherwise 20. A failed JPEG encode returns 20 with
  // out untouched. A side that cannot be prepared (the BMP is not width x
  // height at 24 bits, or the JPEG does not fit outCapacity) returns 0:
  // nothing is written to out, the side's colour slot (16: m_srcImg, 32:
  // m_srcImg2) is emptied and its panel-table entries are cleared.
  int MakeImageBuf(int nColorType, const uint8_t* buffer, int size, int width, int height,
                   uint8_t* out, size_t outCapacity);

  // --- colour and black separation ---
  int VK_PrintRGB_Black(uint8_t red, uint8_t green, uint8_t blue);
  int MakeColorK(int mode, CxImage& image);
  int VK_Image_Change(int mode, CxImage& image);

  // --- image adjustments ---
  int ImageEffect(CxImage& image);
  int MakeShapening(int mode, CxImage& image);
  int MakeLightSaturate(int mode, CxImage& image);
  int MakeRedGreenBlue(int mode, CxImage& image);
  int MakeGamma(int mode, CxImage& image);
  int VK_GammaAdjust(int delta, float* gamma);

  // --- overlay panel ---
  int MakeOverlay(int mode, CxImage& image);
  int VK_Image_VarnishSendEx(int nType, tagRECT black, tagRECT white);

  // --- print-job command ---
  int MakePTSHeader(int size);
  // Encodes one slot's image as JPEG into panel (its contents replaced, its
  // capacity kept); returns the size.
  int MakeImagejpg(int slot, std::vector<uint8_t>& panel, int* size);
  // Composes, writes and answers one card side's command. The command goes
  // to the printer from its parts (block area, each panel's bytes where they
  // are, the closing CR) and is flushed once, after its last byte.
  int VK_PTSCmdExecute(int nColorType, const uint8_t* pData, int nSize);
  // One piece of a command on its way to the printer.
  struct CommandPart {
    const uint8_t* bytes;
    size_t count;
  };
  // Writes the pieces of one command of count bytes to the printer stream
  // (not flushed).
  void outputarray_print(const CommandPart* parts, int partCount, int count);
  // Reads the printer's answer to the card command just written (cmdLength
  // bytes) and notes in m_nCardAnswer whether it refused the card; returns
  // cmdLength, or -1 when the read failed.
  int ReadCardAnswer(int cmdLength);

  // The job's print options as the device holds them (zeros when none).
  const POPTION& JobOption() const;

  // Panel slots.
  CxImage m_srcImg;
  CxImage m_srcImgK;
  CxImage m_srcImgO;
  CxImage m_srcImg2;
  CxImage m_srcImgK2;
  CxImage m_srcImgO2;
  tagPTSCMD mPTSCmd;
  int nFileSize[12];
  char m_szTestTag[260];
  int m_nPage;
  int m_nColorType;
  // Working copies of the options, in the order of the options record.
  int m_nRibbon;
  int m_nBrightness;
  int m_nContrast;
  int m_nRed;
  int m_nGreen;
  int m_nBlue;
  int m_iSharpening;
  int m_Gamma;
  int m_nBlackUse;
  int m_nSaturate;
  int m_nFOverlay;
  int m_nBOverlay;
  int m_nCheck;
  int m_nStyle;
  int m_nLogImage;
  int m_nBlackLevel;
  // The printer's answer to the last card command: 0 accepted (or no
  // readable answer), 1-255 its error number, VK_CARD_NAK a refusal (NAK).
  int m_nCardAnswer;

  // Buffers every card side needs, kept for the job and sized by the
  // largest side so far: the page as a BMP file, the colour panel's JPEG of
  // a one-sided card, and the panels' JPEG files in wire order (front
  // colour, black, overlay, back colour, black, overlay).
  JobBuffer m_sideBmp{true};
  JobBuffer m_sideJpeg{false};
  std::vector<uint8_t> m_panelJpeg[6];
  // The colour panel's JPEG file of a one-sided card as it is encoded,
  // before it is handed to the caller's buffer.
  std::vector<uint8_t> m_colourJpeg;
  // The last overlay mask encoded and its JPEG file. A job's cards carry the
  // same mask card after card; a mask equal to this one in every pixel and
  // setting gets these bytes instead of being encoded again.
  CxImage m_overlayMemoImage;
  std::vector<uint8_t> m_overlayMemoJpeg;

 protected:
  // Set by the device to its options record.
  const POPTION* m_pJobOption;
};
