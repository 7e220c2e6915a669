// Card-side submission: raw pixel lines of one page become an in-memory BMP,
// the card pipeline prepares the side's panels and the print-job command is
// composed and sent. Also the sends of a caller's finished JPEG.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/VKDevice.h"

namespace {

const int kBmpHeaderSize = 54;
// Card image size after scaling; pages up to this wide keep their own size.
const int kCardLong = 1013;
const int kCardShort = 643;
const int kWidestUnscaled = 1000;
// Largest page side the print call takes (the page loop refuses larger ones).
const int kMaxSide = 16384;

// The 54-byte BMP header with every value that does not depend on the page.
const uint8_t kBmpTemplate[kBmpHeaderSize] = {
    'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
    40, 0, 0, 0,                                     // biSize
    0, 0, 0, 0,                                      // biWidth
    0, 0, 0, 0,                                      // biHeight
    1, 0,                                            // biPlanes
    24, 0,                                           // biBitCount
    0, 0, 0, 0,                                      // biCompression
    0, 0, 0, 0,                                      // biSizeImage
    0xC4, 0x0E, 0, 0,                                // biXPelsPerMeter 3780
    0xC4, 0x0E, 0, 0,                                // biYPelsPerMeter 3780
    0, 0, 0, 0,                                      // biClrUsed
    0, 0, 0, 0,                                      // biClrImportant
};

// Writes a 32-bit value little-endian and logs its four bytes.
void putLittleEndian32(uint8_t* at, uint32_t value, const char* format) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
  at[2] = (uint8_t)(value >> 16);
  at[3] = (uint8_t)(value >> 24);
  fprintf(stderr, format, at[0], at[1], at[2], at[3]);
}

// Logs the header bytes the way the printer's developers read them.
// The line is put together first and written in one piece (standard error
// is unbuffered: a write per byte would cost a system call each).
void dumpBmpHeader(const uint8_t* header) {
  char line[3 * kBmpHeaderSize + 32];
  int at = 0;
  for (int i = 0; i < kBmpHeaderSize; ++i) at += snprintf(line + at, sizeof(line) - at, "%X ", header[i]);
  snprintf(line + at, sizeof(line) - at, "[<-][MakeBmpHeader]\n");
  fputs(line, stderr);
}

// Room for the colour panel's JPEG: the larger of the input-sized buffer
// and what a JPEG of the card image can take in the worst case (six bytes a
// pixel covers quality 100 without chroma subsampling on noise).
size_t panelCapacity(size_t inputSized, int width, int height) {
  size_t w = (size_t)std::max(width, 1);
  size_t h = (size_t)std::max(height, 1);
  if (width > kWidestUnscaled) {
    w = kCardShort;
    h = kCardLong;
  }
  const size_t jpegBound = ((w + 15) / 16 * 16) * ((h + 15) / 16 * 16) * 6 + 4096;
  return std::max(inputSized, jpegBound);
}

}  // namespace

// Patches the page-dependent fields of a 54-byte BMP header; returns the
// length of the BMP file.
int CVKDevice::MakeBmpHeader(uint8_t* header, int imageSize, int width, int height) {
  putLittleEndian32(header + 2, (uint32_t)(imageSize + kBmpHeaderSize),
                    "bmp full size %X,%X,%X,%X\n");
  putLittleEndian32(header + 18, (uint32_t)width, "bmp dw %X,%X,%X,%X\n");
  putLittleEndian32(header + 22, (uint32_t)height, "bmp dh %X,%X,%X,%X\n");
  putLittleEndian32(header + 34, (uint32_t)imageSize, "bmp iamge size %X,%X,%X,%X\n");
  return imageSize + kBmpHeaderSize;
}

// Prints one card side from raw pixel lines (or keeps the front of a
// two-sided card until its back arrives).
int CVKDevice::VKCL_PTSEx(int nColorType, const uint8_t* data, int size, int width, int height) {
  fprintf(stderr, "VKCL_PTSEx nTxSize %d, dw %d, dh %d\n", size, width, height);
  fprintf(stderr, "VKCL_PTSEx g_Dev.poption.nRibbon : %d\r\n", poption.nRibbon);
  if (!data || size < 0) size = 0;
  const int side = nColorType & 0xFF;
  const bool cmyk = (nColorType & 0x100) != 0;
  // No card side is wider or taller than this; a caller's absurd size must
  // not make the rows below ask for gigabytes.
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    fprintf(stderr, "DEBUG: Card side of %d x %d pixels not printed.\n", width, height);
    return VK_ERR_REFUSED;
  }

  // A front still waiting for its back would be lost under a new card: it
  // goes out on its own first.
  if (side != 32 && m_nColorType == 16) {
    fprintf(stderr, "DEBUG: Card front without a back printed as a one-sided card.\n");
    if (VKCL_PTSFront() == VK_ERR_CARD_REFUSED) return VK_ERR_CARD_REFUSED;
  }

  m_nRibbon = poption.nRibbon;
  m_nBrightness = poption.nBrightness;
  m_nContrast = poption.nContrast;
  m_nRed = poption.nRed;
  m_nGreen = poption.nGreen;
  m_nBlue = poption.nBlue;
  m_iSharpening = poption.nSharpness;
  m_Gamma = poption.nGamma;
  m_nBlackUse = poption.nBlackUse;
  m_nSaturate = poption.nSaturate;
  m_nFOverlay = poption.nFOverlay;
  m_nBOverlay = poption.nBOverlay;
  m_nCheck = poption.nCheck;
  m_nStyle = poption.nStyle;

  // A back with no front kept: the card gets a blank front rather than the
  // panels of an earlier card.
  if (side == 32 && m_nColorType != 16) {
    fprintf(stderr, "DEBUG: Card back without a front printed with a blank front.\n");
    MakeInit();
    MakePTSHeader(0);
    CxImage blank;
    if (blank.Create(kCardLong, kCardShort, 24, CXIMAGE_FORMAT_BMP)) {
      blank.Clear(255);
      blank.SetXDPI(300);
      blank.SetYDPI(300);
      blank.SetJpegQuality(100);
    }
    m_srcImg = blank;
  }

  const size_t rows = (size_t)std::max(height, 0);
  const size_t inputSized = (size_t)size + 8 * rows + 1000;
  const size_t lineBytes = width > 0 ? (size_t)width * 3 : 0;
  const size_t pad = lineBytes % 4 ? 4 - lineBytes % 4 : 0;
  const size_t inLine = cmyk ? 4 * (lineBytes / 3) : lineBytes;
  // Input lines, a short last one included.
  const size_t lines = inLine ? ((size_t)size + inLine - 1) / inLine : 0;

  size_t imageSize;
  if (cmyk)
    imageSize = pad ? lines * (lineBytes + pad) : 3 * (size_t)size / 4;
  else
    imageSize = pad ? lines * (lineBytes + pad) : (size_t)size;
  // The request buffer holds the BMP; every byte of it is written below, so
  // it is not cleared first. It is the job's, kept from card to card and
  // grown to the largest page so far. The command is written from its
  // parts and needs no buffer of its own.
  const size_t requestSize = std::max(inputSized, kBmpHeaderSize + imageSize + 3);
  uint8_t* const request = m_sideBmp.Reserve(requestSize);
  if (request == nullptr) {
    fprintf(stderr, "DEBUG: Card side of %d x %d pixels not printed: no memory.\n", width, height);
    return 20;
  }
  memset(request, 0, 4);
  uint8_t header[kBmpHeaderSize];
  memcpy(header, kBmpTemplate, sizeof(header));
  uint8_t* rowsOut = request + kBmpHeaderSize;

  if (!cmyk && pad) {
    fprintf(stderr, "[->][getlen %d ]\n", (int)(lineBytes % 4));
    // Rows go straight behind the header, each padded with zeros; a short
    // last line is completed with zeros.
    size_t at = 0;
    for (size_t off = 0; off < (size_t)size; off += lineBytes) {
      const size_t take = std::min(lineBytes, (size_t)size - off);
      memcpy(rowsOut + at, data + off, take);
      memset(rowsOut + at + take, 0, lineBytes - take + pad);
      at += lineBytes + pad;
    }
    MakeBmpHeader(header, (int)imageSize, width, height);
    fprintf(stderr, "[->][4-getlen %d MakeBmpHeader]\n", (int)pad);
    dumpBmpHeader(header);
  } else if (!cmyk) {
    MakeBmpHeader(header, (int)imageSize, width, height);
    fprintf(stderr, "[->][MakeBmpHeader]\n");
    dumpBmpHeader(header);
    if (size > 0) memcpy(rowsOut, data, (size_t)size);
  } else {
    // CMYK: the complements of cyan, magenta and yellow are red, green and
    // blue; black is dropped. Rows are padded like RGB rows so that the BMP
    // keeps its row layout for any width.
    MakeBmpHeader(header, (int)imageSize, width, height);
    fprintf(stderr, "[->][MakeBmpHeader] nTxSize %d\n", (int)imageSize);
    dumpBmpHeader(header);
    size_t i = 0, j = 0;
    for (size_t line = 0; line < lines; ++line) {
      for (size_t x = 0; x < lineBytes / 3 && i + 3 <= imageSize; ++x) {
        const bool whole = j + 3 <= (size_t)size;
        rowsOut[i] = whole ? (uint8_t)~data[j] : 0;
        rowsOut[i + 1] = whole ? (uint8_t)~data[j + 1] : 0;
        rowsOut[i + 2] = whole ? (uint8_t)~data[j + 2] : 0;
        i += 3;
        j += 4;
      }
      for (size_t p = 0; p < pad && i < imageSize; ++p) rowsOut[i++] = 0;
    }
    if (i < imageSize) memset(rowsOut + i, 0, imageSize - i);  // a short last pixel
    fprintf(stderr, "[VKCL_PTSEx] nTxSize %d i %d j %d\n", (int)(imageSize + kBmpHeaderSize),
            (int)i, (int)j);
  }
  memcpy(request, header, sizeof(header));
  const int bmpLength = (int)(imageSize + kBmpHeaderSize);

  fprintf(stderr, "VKCL_PTSEx MakeImageBuf before %d, dw %d, dh %d\n", bmpLength, width, height);
  fprintf(stderr, "VKCL_PTSEx MakeImageBuf g_Dev.poption.nRibbon : %d\r\n", poption.nRibbon);

  // The image buffer takes the colour panel's JPEG; it is the job's, and it
  // is not cleared beyond its first bytes, so pages no JPEG reached cost no
  // memory. The pipeline logs the first five bytes, so those are cleared
  // even for a side that leaves the buffer unwritten.
  const size_t imageCapacity = panelCapacity(inputSized, width, height);
  uint8_t* const image = m_sideJpeg.Reserve(imageCapacity);
  if (image == nullptr) {
    fprintf(stderr, "DEBUG: Card side of %d x %d pixels not printed: no memory.\n", width, height);
    return 20;
  }
  memset(image, 0, std::min<size_t>(imageCapacity, 8));
  const int n = MakeImageBuf(side, request, bmpLength, width, height, image, imageCapacity);

  // A side the pipeline could not prepare (result 0), or a single-sided card
  // whose colour panel is no JPEG, is not sent: a card without its picture
  // is no print, and the job is told so.
  const bool prepared =
      side == 0 ? n >= 2 && (size_t)n <= imageCapacity && image[0] == 0xFF && image[1] == 0xD8
                : n != 0;
  if (!prepared) {
    fprintf(stderr, "DEBUG: Card side not prepared (%d); nothing sent.\n", n);
    if (side == 16) m_nColorType = 0;
    return 20;
  }

  fprintf(stderr, "VKCL_PTSEx VK_PTSCmdExecute g_Dev.poption.nRibbon : %d\r\n", poption.nRibbon);
  VK_PTSCmdExecute(side, image, n);
  return m_nCardAnswer != 0 ? VK_ERR_CARD_REFUSED : 0;
}

// Sends a card front that no back followed as a one-sided card with its
// black and overlay panels. Returns 0 when it was sent or none was kept,
// VK_ERR_CARD_REFUSED when the printer refused it.
int CVKDevice::VKCL_PTSFront() {
  if (m_nColorType != 16) return 0;
  m_nColorType = 0;
  // The front's colour JPEG goes to the job's front-colour panel buffer; a
  // one-sided command encodes only its black and overlay panels.
  std::vector<uint8_t>& colour = m_panelJpeg[0];
  int size = 0;
  MakeImagejpg(VK_SLOT_FRONT, colour, &size);
  if (size < 1) return 20;
  VK_PTSCmdExecute(0, colour.data(), size);
  return m_nCardAnswer != 0 ? VK_ERR_CARD_REFUSED : 0;
}

// Sends a finished JPEG as the colour panel of a one-sided card and reads
// the printer's second answer.
int CVKDevice::VKCL_PTSjpg(const uint8_t* data, int size, int width, int height) {
  fprintf(stderr, "VKCL_PTSEx nTxSize %d, dw %d, dh %d\n", size, width, height);
  return VKCL_PTS(data, size);
}

// Sends a finished JPEG as the colour panel of a one-sided card, after a
// card front still waiting for its back.
int CVKDevice::VKCL_PTS(const uint8_t* data, int size) {
  if (m_nColorType == 16) {
    fprintf(stderr, "DEBUG: Card front without a back printed as a one-sided card.\n");
    if (VKCL_PTSFront() == VK_ERR_CARD_REFUSED) return VK_ERR_CARD_REFUSED;
  }
  VK_PTSCmdExecute(0, data, data ? size : 0);
  // A refused card gets no second answer.
  if (m_nCardAnswer != 0) return VK_ERR_CARD_REFUSED;
  uint8_t reply[100] = {0};
  int replyLength = 0;
  return SendRecvData(nullptr, 0, reply, &replyLength, (int)sizeof(reply));
}
