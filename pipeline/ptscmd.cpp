// The print-job command "$PTS": its block record, the JPEG encoding of the
// panel slots, the composition of one card (one or two sides) and the write
// of the finished command with the printer's answer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "device/PrinterIO.h"
#include "device/backchannel.h"
#include "pipeline/VKCtrl_Print.h"

namespace {

const uint8_t kEsc = 0x1B;
const uint8_t kCr = 0x0D;
// The block area between the length field and the panel data.
const size_t kBlockArea = 500;
// ESC, "$PTS" and the length field come before the block area.
const size_t kDataOffset = 9 + kBlockArea;

// Writes an unsigned 32-bit value big-endian.
void putBigEndian32(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)(value >> 24);
  at[1] = (uint8_t)(value >> 16);
  at[2] = (uint8_t)(value >> 8);
  at[3] = (uint8_t)value;
}

// Sets the size field (P9-P12) of a panel block.
void setPanelSize(uint8_t* block, int size) { putBigEndian32(block + 9, (uint32_t)size); }

// Appends ESC and the block's bytes; returns the new offset.
size_t putBlock(uint8_t* out, size_t at, const uint8_t* block, size_t count) {
  out[at++] = kEsc;
  memcpy(out + at, block, count);
  return at + count;
}

// Whether two images encode to the same JPEG file: the same header, JPEG
// settings and resolution, no palette, and the same bytes in every row.
bool sameJpegInput(const CxImage& a, const CxImage& b) {
  if (!a.IsValid() || !b.IsValid() || a.GetNumColors() != 0 || b.GetNumColors() != 0) return false;
  if (memcmp(&a.GetHeader(), &b.GetHeader(), sizeof(BITMAPINFOHEADER)) != 0) return false;
  if (a.GetEffWidth() != b.GetEffWidth() || a.GetJpegQuality() != b.GetJpegQuality() ||
      a.GetXDPI() != b.GetXDPI() || a.GetYDPI() != b.GetYDPI() ||
      a.GetCodecOption(CXIMAGE_FORMAT_JPG) != b.GetCodecOption(CXIMAGE_FORMAT_JPG))
    return false;
  return memcmp(a.GetBits(0), b.GetBits(0), (size_t)a.GetEffWidth() * a.GetHeight()) == 0;
}

// Which ribbons print the colour side as a monochrome panel.
bool isMonochromeRibbon(int ribbon) { return ribbon == 4 || ribbon == 10 || ribbon == 11; }

// One panel of the card: where its JPEG file is (the caller's bytes or the
// job's panel buffer), whether a buffer was obtained for it, and its size.
struct Panel {
  const uint8_t* data = nullptr;
  size_t available = 0;
  bool obtained = false;
  int size = 0;
  // The panel's JPEG lives in the job's panel buffer.
  void From(const std::vector<uint8_t>& jpeg) {
    data = jpeg.data();
    available = jpeg.size();
  }
};

}  // namespace

// Resets the block record to the defaults of the current ribbon, with size
// as the front colour panel's size.
int CVKCtrl_Print::MakePTSHeader(int size) {
  memset(&mPTSCmd, 0, sizeof(mPTSCmd));
  const bool mono = isMonochromeRibbon(m_nRibbon);

  mPTSCmd.SOP[0] = 'P';
  mPTSCmd.SOP[1] = m_nRibbon == 10 ? 2 : (m_nRibbon == 11 ? 3 : 0);

  mPTSCmd.SPT[0] = 'R';
  mPTSCmd.SPT[1] = mono ? 4 : 0;
  mPTSCmd.SPT[2] = 1;
  mPTSCmd.SPT[4] = 0x10;

  mPTSCmd.DataMode[0] = 'F';
  mPTSCmd.DataMode[2] = 1;

  mPTSCmd.BlockC[0] = 'C';
  mPTSCmd.BlockC[1] = 0xFF;

  mPTSCmd.BlockO1[0] = 'O';

  mPTSCmd.TCB1[0] = 'T';
  mPTSCmd.TCB1[1] = mono ? 0x20 : 0;
  setPanelSize(mPTSCmd.TCB1, size);

  fprintf(stderr, "MakePTSHeader poption.nRibbon(%d) , m_nRibbon(0x%02x): ", JobOption().nRibbon,
          m_nRibbon);
  return size;
}

// Encodes the image of one panel slot as a JPEG file into panel; returns
// its size (0 when the slot is unknown or the encoding failed).
int CVKCtrl_Print::MakeImagejpg(int slot, std::vector<uint8_t>& panel, int* size) {
  const int now = (int)time(nullptr);
  fprintf(stderr, "[->][MakeImagejpg nColorType 0x%X\n", slot);

  // The slot is encoded where it is (encoding reads its pixels and notes
  // only its last error); an unknown slot code encodes an empty image, which
  // fails.
  CxImage empty;
  CxImage* image = &empty;
  const char* name = nullptr;
  switch (slot) {
    case VK_SLOT_FRONT: image = &m_srcImg; name = "m_srcImg"; break;
    case VK_SLOT_FRONT_K: image = &m_srcImgK; name = "m_srcImgK"; break;
    case VK_SLOT_FRONT_O: image = &m_srcImgO; name = "m_srcImgO"; break;
    case VK_SLOT_BACK: image = &m_srcImg2; name = "m_srcImg2"; break;
    case VK_SLOT_BACK_K: image = &m_srcImgK2; name = "m_srcImgK2"; break;
    case VK_SLOT_BACK_O: image = &m_srcImgO2; name = "m_srcImgO2"; break;
    default: break;
  }
  if (name) fprintf(stderr, "[->][MakeImagejpg %s %d\n", name, (int)image->GetWidth());

  // The JPEG file is written straight into the panel buffer; an overlay mask
  // equal to the last one encoded takes that one's bytes.
  const bool overlay = slot == VK_SLOT_FRONT_O || slot == VK_SLOT_BACK_O;
  bool encoded;
  if (overlay && !m_overlayMemoJpeg.empty() && sameJpegInput(*image, m_overlayMemoImage)) {
    panel.assign(m_overlayMemoJpeg.begin(), m_overlayMemoJpeg.end());
    encoded = true;
  } else {
    {
      VectorSink sink(panel);
      encoded = image->Encode(&sink, CXIMAGE_FORMAT_JPG);
    }
    if (overlay) {
      m_overlayMemoJpeg.clear();
      if (encoded && !panel.empty() && image->GetNumColors() == 0) {
        m_overlayMemoImage.Copy(*image);
        if (m_overlayMemoImage.IsValid()) m_overlayMemoJpeg = panel;
      }
    }
  }
  if (!encoded || panel.empty()) {
    fprintf(stderr, "[->][error info  %s ]\n", image->GetLastError());
    panel.clear();
    if (size) *size = 0;
    return 0;
  }
  const int32_t jpegSize = (int32_t)panel.size();
  const uint8_t* jpeg = panel.data();

  if (m_nLogImage > 1) {
    const int index = now + m_nPage + 20 + slot;
    fprintf(stderr, "[->][page %d curtime %d curtime+page+20+nColorType  %d]\n", m_nPage, now,
            index);
    snprintf(m_szTestTag, sizeof(m_szTestTag), "%s", "MakeImagejpg");
    write_tests(index, m_szTestTag, jpeg, (size_t)jpegSize);
  }

  fprintf(stderr, "[->][true  %s %d %X %X]\n", image->GetLastError(), (int)jpegSize, jpeg[0],
          jpegSize > 1 ? jpeg[1] : 0);
  if (size) *size = (int)jpegSize;
  return (int)jpegSize;
}

// Writes the pieces of one command to the printer stream, one after the
// other (not flushed), after dropping any answer the printer left unread.
void CVKCtrl_Print::outputarray_print(const CommandPart* parts, int partCount, int count) {
  fprintf(stderr, "[->][outputarray_print %d]\n", count);
  if (count < 1) return;
  DropUnreadAnswers(Printer());
  for (int i = 0; i < partCount; ++i)
    if (parts[i].count > 0) Printer().Write(parts[i].bytes, parts[i].count);
}

// Reads the answer to the card command: the first read takes at most 63
// bytes, as logged; a longer answer is read on by its length field, so that
// none of it is left for the next command. A NAK or a printer error refuses
// the card; silence or any other answer leaves the outcome to the job status.
int CVKCtrl_Print::ReadCardAnswer(int cmdLength) {
  Printer().Flush();
  Printer().Pause(1000000);
  std::vector<uint8_t> answer(kAnswerReadLimit + 1, 0);
  const ssize_t got = ReadAnswer(Printer(), answer.data(), 63, kAnswerReadLimit, 5.0);
  answer[got > 0 ? (size_t)got : 0] = 0;
  fprintf(stderr, "[->]PTSCmdExecute :: cupsSideChannelDoRequest report_levels2\n");
  fprintf(stderr, "[->]\n %x %x %x %x %x %x %x %x %x %x %x %x %x (%d)\n", answer[0], answer[1],
          answer[2], answer[3], answer[4], answer[5], answer[6], answer[7], answer[8], answer[9],
          answer[10], answer[11], answer[12], (int)got);
  const size_t length = got > 0 ? (size_t)got : 0;
  const int status = AnswerStatus(answer.data(), length);
  if (status == 9 && answer[6] == 0x15)
    m_nCardAnswer = VK_CARD_NAK;
  else if (status > 0)
    m_nCardAnswer = status;
  if (m_nCardAnswer != 0)
    fprintf(stderr, "DEBUG: The printer refused the card (answer %d).\n", m_nCardAnswer);
  if (got == -1) return -1;
  return cmdLength;
}

// Composes the print-job command of one card side, writes it to the printer
// and reads its answer. A front of a two-sided card is only kept.
int CVKCtrl_Print::VK_PTSCmdExecute(int nColorType, const uint8_t* pData, int nSize) {
  m_nCardAnswer = 0;
  if (nColorType == 0 || nColorType == 16) MakePTSHeader(nSize);
  fprintf(stderr, "\n[2] VK_PTSCmdExecute - %s (%d)nColorType %d \n", "$PTS",
          mPTSCmd.DataMode[2], nColorType);

  if (nColorType == 16) {
    fprintf(stderr, "\n[2] nColorType 0x10 %d\n", 0);
    return 0;
  }

  // Panels in wire order: front colour, black, overlay, back colour, black, overlay.
  Panel colour, black, overlay, colour2, black2, overlay2;

  if (nColorType == 0) {
    nFileSize[0] = nSize;
    fprintf(stderr, "\n[2] DataMode.P2 %d ", mPTSCmd.DataMode[2]);
    if (nSize < 1 || !pData) {
      setPanelSize(mPTSCmd.TCB1, 0);
    } else {
      fprintf(stderr, "\n[2] nColorType 0x00 (%d,%d,%d)\n", nFileSize[0], nFileSize[3],
              nFileSize[2]);
      // The colour panel is sent from where the caller holds it.
      colour.data = pData;
      colour.available = (size_t)nSize;
      colour.obtained = true;
      colour.size = nSize;
      setPanelSize(mPTSCmd.TCB1, nSize);
      overlay.obtained = true;
      if (nFileSize[2] > 0) {
        int size = 0;
        MakeImagejpg(VK_SLOT_FRONT_O, m_panelJpeg[2], &size);
        overlay.From(m_panelJpeg[2]);
        fprintf(stderr, "\n[2] mPTSCmd.TCB1_O.Code %d %d\n", mPTSCmd.TCB1_O[0], size);
        if (size != 0) {
          mPTSCmd.TCB1_O[0] = 'T';
          nFileSize[2] = size;
          if (size > 0) {
            mPTSCmd.DataMode[3] |= 1;
            mPTSCmd.TCB1_O[1] = 0x10;
            setPanelSize(mPTSCmd.TCB1_O, size);
            overlay.size = size;
          }
        } else {
          nFileSize[2] = 0;
        }
      }
    }
    if (nFileSize[3] > 0) {
      int size = 0;
      black.obtained = true;
      MakeImagejpg(VK_SLOT_FRONT_K, m_panelJpeg[1], &size);
      black.From(m_panelJpeg[1]);
      fprintf(stderr, "\n[2] mPTSCmd.TCB1_K.Code %d %d\n", mPTSCmd.TCB1_K[0], size);
      if (size != 0) {
        mPTSCmd.TCB1_K[0] = 'T';
        nFileSize[3] = size;
        if (size > 0) {
          mPTSCmd.TCB1_K[1] = 0x0B;
          setPanelSize(mPTSCmd.TCB1_K, size);
          black.size = size;
        }
      } else {
        nFileSize[3] = 0;
      }
    }
  } else if (nColorType == 32) {
    fprintf(stderr, "\n[2] nColorType 0x20 (%d,%d,%d, %d,%d,%d)\n", nFileSize[0], nFileSize[3],
            nFileSize[2], nFileSize[1], nFileSize[6], nFileSize[5]);
    for (Panel* p : {&colour, &black, &overlay, &colour2, &black2, &overlay2}) p->obtained = true;

    int size = 0;
    MakeImagejpg(VK_SLOT_FRONT, m_panelJpeg[0], &size);
    colour.From(m_panelJpeg[0]);
    nFileSize[0] = size;
    if (nFileSize[3] > 0) {
      MakeImagejpg(VK_SLOT_FRONT_K, m_panelJpeg[1], &size);
      black.From(m_panelJpeg[1]);
      fprintf(stderr, "\n[2] mPTSCmd.TCB1_K.Code %d %d\n", mPTSCmd.TCB1_K[0], size);
      if (size != 0) mPTSCmd.TCB1_K[0] = 'T';
      nFileSize[3] = size;
    }
    if (nFileSize[2] > 0) {
      MakeImagejpg(VK_SLOT_FRONT_O, m_panelJpeg[2], &size);
      overlay.From(m_panelJpeg[2]);
      fprintf(stderr, "\n[2] mPTSCmd.TCB1_O.Code %d %d\n", mPTSCmd.TCB1_O[0], size);
      if (size != 0) mPTSCmd.TCB1_O[0] = 'T';
      nFileSize[2] = size;
    }
    MakeImagejpg(VK_SLOT_BACK, m_panelJpeg[3], &size);
    colour2.From(m_panelJpeg[3]);
    if (size != 0) mPTSCmd.TCB2[0] = 'B';
    nFileSize[1] = size;
    if (nFileSize[6] > 0) {
      MakeImagejpg(VK_SLOT_BACK_K, m_panelJpeg[4], &size);
      black2.From(m_panelJpeg[4]);
      fprintf(stderr, "\n[2] mPTSCmd.TCB2_K.Code %d %d\n", mPTSCmd.TCB2_K[0], size);
      if (size != 0) mPTSCmd.TCB2_K[0] = 'B';
      nFileSize[6] = size;
    }
    if (nFileSize[5] > 0) {
      MakeImagejpg(VK_SLOT_BACK_O, m_panelJpeg[5], &size);
      overlay2.From(m_panelJpeg[5]);
      fprintf(stderr, "\n[2] mPTSCmd.TCB2_O.Code %d %d\n", mPTSCmd.TCB2_O[0], size);
      if (size != 0) mPTSCmd.TCB2_O[0] = 'B';
      nFileSize[5] = size;
    }

    // Both sides travel in one command.
    mPTSCmd.DataMode[2] = 3;
    mPTSCmd.BlockO1[2] = 0x30;
    memset(mPTSCmd.BlockO2, 0, sizeof(mPTSCmd.BlockO2));
    mPTSCmd.BlockO2[0] = 'O';
    mPTSCmd.BlockO2[1] = 0x80;
    mPTSCmd.TCB2[0] = 'B';
    mPTSCmd.TCB2[1] = 0x80;
    setPanelSize(mPTSCmd.TCB2, nFileSize[1]);
    fprintf(stderr, "\n[2] DataMode.P2 %d ", 3);

    setPanelSize(mPTSCmd.TCB1, nFileSize[0] >= 1 ? nFileSize[0] : 0);
    setPanelSize(mPTSCmd.TCB2, nFileSize[1] >= 1 ? nFileSize[1] : 0);
    colour.size = nFileSize[0] >= 1 ? nFileSize[0] : 0;
    colour2.size = nFileSize[1] >= 1 ? nFileSize[1] : 0;
    if (mPTSCmd.TCB1_K[0] == 'T' && nFileSize[3] > 0) {
      mPTSCmd.TCB1_K[1] = 0x0B;
      setPanelSize(mPTSCmd.TCB1_K, nFileSize[3]);
      black.size = nFileSize[3];
    }
    if (mPTSCmd.TCB1_O[0] == 'T' && nFileSize[2] > 0) {
      mPTSCmd.DataMode[3] |= 1;
      mPTSCmd.TCB1_O[1] = 0x10;
      setPanelSize(mPTSCmd.TCB1_O, nFileSize[2]);
      overlay.size = nFileSize[2];
    }
    if (mPTSCmd.TCB2_K[0] == 'B' && nFileSize[6] > 0) {
      mPTSCmd.TCB2_K[1] = 0x8B;
      setPanelSize(mPTSCmd.TCB2_K, nFileSize[6]);
      black2.size = nFileSize[6];
    }
    if (mPTSCmd.TCB2_O[0] == 'B' && nFileSize[5] > 0) {
      mPTSCmd.DataMode[3] |= 2;
      mPTSCmd.TCB2_O[1] = 0x90;
      setPanelSize(mPTSCmd.TCB2_O, nFileSize[5]);
      overlay2.size = nFileSize[5];
    }
  } else {
    // Only single-sided cards and the two sides of a two-sided card exist;
    // anything else would be a command the printer cannot place.
    fprintf(stderr, "\n[2] nColorType 0x%X not printed\n", (unsigned)nColorType);
    return -1;
  }

  // A panel travels only when its data is there; its block carries the same size.
  Panel* const wireOrder[] = {&colour, &black, &overlay, &colour2, &black2, &overlay2};
  size_t total = 0;
  for (Panel* p : wireOrder) {
    if (!p->obtained || p->size < 1 || !p->data || p->available < (size_t)p->size) p->size = 0;
    total += (size_t)p->size;
  }
  const uint32_t nLength = (uint32_t)(kBlockArea + total);

  fprintf(stderr, "\n[2] mPTSCmd nLength - %d (%d)(%d)", (int)nLength, colour.size, colour2.size);
  fprintf(stderr, "\n[2] mPTSCmd nFileSize - (%d)(%d)(%d)(%d)(%d)(%d)(%d)(%d)", nFileSize[0],
          nFileSize[3], nFileSize[2], nFileSize[1], nFileSize[6], nFileSize[5], 0, 0);
  fprintf(stderr, "\n[2] mPTSCmd SOP - (%02x)(%02x)(%02x)", mPTSCmd.SOP[0], mPTSCmd.SOP[1],
          mPTSCmd.SOP[2]);
  fprintf(stderr, "\n[2] mPTSCmd SPT - (%02x)(%02x)(%02x)(%02x)(%02x)(%02x)(%02x)",
          mPTSCmd.SPT[0], mPTSCmd.SPT[1], mPTSCmd.SPT[2], mPTSCmd.SPT[3], mPTSCmd.SPT[4],
          mPTSCmd.SPT[5], mPTSCmd.SPT[6]);

  // The head of the command: ESC, "$PTS", the length and the block area.
  uint8_t head[kDataOffset] = {0};
  head[0] = kEsc;
  memcpy(head + 1, "$PTS", 4);
  putBigEndian32(head + 5, nLength);
  size_t k = 9;
  k = putBlock(head, k, mPTSCmd.SOP, sizeof(mPTSCmd.SOP));
  k = putBlock(head, k, mPTSCmd.SPT, sizeof(mPTSCmd.SPT));
  k = putBlock(head, k, mPTSCmd.DataMode, sizeof(mPTSCmd.DataMode));
  k = putBlock(head, k, mPTSCmd.BlockC, sizeof(mPTSCmd.BlockC));
  k = putBlock(head, k, mPTSCmd.BlockO1, sizeof(mPTSCmd.BlockO1));
  for (const uint8_t* block : {mPTSCmd.TCB1, mPTSCmd.TCB1_K, mPTSCmd.TCB1_O})
    if (block[0] == 'T') k = putBlock(head, k, block, 13);
  if (mPTSCmd.TCB2[0] == 'B' || mPTSCmd.TCB2_K[0] == 'B' || mPTSCmd.TCB2_O[0] == 'B')
    k = putBlock(head, k, mPTSCmd.BlockO2, sizeof(mPTSCmd.BlockO2));
  for (const uint8_t* block : {mPTSCmd.TCB2, mPTSCmd.TCB2_K, mPTSCmd.TCB2_O})
    if (block[0] == 'B') k = putBlock(head, k, block, 13);
  const int blackMask = (mPTSCmd.TCB1_K[0] == 'T' ? 1 : 0) | (mPTSCmd.TCB2_K[0] == 'B' ? 2 : 0);
  fprintf(stderr, "\n[2] mPTSCmd k - %d(%d)[nColor %d]\n", (int)k, (int)k + 9, blackMask);
  // The rest of the block area is already zero.

  // The command's parts: the head, each panel carried, the closing CR.
  const char* const announce[] = {"\n[2] nFileSize ",   "\n[2] nFileSize_K ",
                                  "\n[2] nFileSize_O ", "\n[2] nFileSize2 ",
                                  "\n[2] nFileSize2_K ", "\n[2] nFileSize2_O "};
  static const uint8_t kClose[1] = {kCr};
  CommandPart parts[8];
  int partCount = 0;
  parts[partCount++] = CommandPart{head, sizeof(head)};
  for (int i = 0; i < 6; ++i) {
    const Panel* p = wireOrder[i];
    if (p->size < 1) continue;
    fputs(announce[i], stderr);
    parts[partCount++] = CommandPart{p->data, (size_t)p->size};
  }
  parts[partCount++] = CommandPart{kClose, 1};
  const int cmdLength = (int)(kDataOffset + total + 1);
  fprintf(stderr, "\n[2] pSrcData k %d ", cmdLength);

  if (m_nLogImage > 1) {
    // The image log keeps the whole command as one file.
    std::vector<uint8_t> whole;
    whole.reserve((size_t)cmdLength);
    for (int i = 0; i < partCount; ++i)
      whole.insert(whole.end(), parts[i].bytes, parts[i].bytes + parts[i].count);
    snprintf(m_szTestTag, sizeof(m_szTestTag), "%s", "linux_ptsdata");
    write_tests(100, m_szTestTag, whole.data(), whole.size());
  }

  outputarray_print(parts, partCount, cmdLength);

  fprintf(stderr, "\n[2] pData delete %d", cmdLength);
  const struct {
    Panel* panel;
    const char* text;
  } releases[] = {{&colour, "\n[2] pData delete"},     {&colour2, "\n[2] pData2 delete"},
                  {&black, "\n[2] pData_K delete"},    {&black2, "\n[2] pData2_K delete"},
                  {&overlay, "\n[2] pData_O delete"},  {&overlay2, "\n[2] pData2_O delete"}};
  // The panel buffers stay with the job for the next card.
  for (const auto& r : releases) {
    if (r.panel->obtained) fputs(r.text, stderr);
  }

  return ReadCardAnswer(cmdLength);
}
