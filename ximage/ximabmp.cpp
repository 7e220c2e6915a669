// CxImageBMP: writing a DIB as a BMP file and reading BMP files of every
// info-header size, refusing whatever would leave pixels unfilled.
#include "ximage/ximabmp.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ximage/xmemfile.h"

namespace {

// Read a little-endian 16-bit value.
uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

// Read a little-endian 32-bit value.
uint32_t le32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Store a little-endian 16-bit value.
void put16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

// Store a little-endian 32-bit value.
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

// Resolution in dots per inch from pixels per metre, rounded half up.
int32_t dpiFromPelsPerMeter(int32_t ppm) {
  return (int32_t)floor(ppm * 254.0 / 10000.0 + 0.5);
}

const char kShortData[] = "BMP pixel data is shorter than its header states";

// True when a stream of known size ends before the rows of a w x h image
// starting at dataStart could; sizes Create refuses are left to Create.
bool rowsCannotFit(CxFile* f, int64_t dataStart, uint32_t w, uint32_t h, uint32_t bpp) {
  int64_t size = f->Size();
  if (size < 0 || w == 0 || h == 0) return false;
  if ((float)w * (float)h * (float)bpp * 0.125f > (float)CXIMAGE_MAX_MEMORY) return false;
  uint64_t rows = (((uint64_t)bpp * w + 31) / 32) * 4 * h;
  if (rows > (uint64_t)CXIMAGE_MAX_MEMORY) return false;
  if (dataStart < 0 || dataStart > size) return true;
  return rows > (uint64_t)(size - dataStart);
}

}  // namespace

// Write the 14-byte file header and the whole DIB.
bool CxImageBMP::Encode(CxFile* hFile) {
  if (!EncodeSafeCheck(hFile)) return false;

  uint8_t bf[BMP_FILEHEADER_SIZE];
  put16(bf, BMP_TYPE);
  put32(bf + 2, GetSize() + BMP_FILEHEADER_SIZE);
  put16(bf + 6, 0);
  put16(bf + 8, 0);
  put32(bf + 10, BMP_FILEHEADER_SIZE + head.biSize + GetPaletteSize());

  memcpy(pDib, &head, sizeof(BITMAPINFOHEADER));
  // A stream that takes less than the whole file has not stored a BMP.
  if (hFile->Write(bf, BMP_FILEHEADER_SIZE, 1) != 1 || hFile->Write(pDib, GetSize(), 1) != 1) {
    SetError("BMP data could not be written");
    return false;
  }
  return true;
}

// Read an info header of 12, 40, 64, 124 or any larger size.
bool CxImageBMP::DibReadBitmapInfo(CxFile* fh, BITMAPINFOHEADER* pdib) {
  if (fh == nullptr || pdib == nullptr) return false;
  uint8_t raw[40];
  if (fh->Read(raw, sizeof(raw), 1) == 0) return false;

  pdib->biSize = le32(raw);
  pdib->biWidth = (int32_t)le32(raw + 4);
  pdib->biHeight = (int32_t)le32(raw + 8);
  pdib->biPlanes = le16(raw + 12);
  pdib->biBitCount = le16(raw + 14);
  pdib->biCompression = le32(raw + 16);
  pdib->biSizeImage = le32(raw + 20);
  pdib->biXPelsPerMeter = (int32_t)le32(raw + 24);
  pdib->biYPelsPerMeter = (int32_t)le32(raw + 28);
  pdib->biClrUsed = le32(raw + 32);
  pdib->biClrImportant = le32(raw + 36);

  switch (pdib->biSize) {
    case 12:  // core header: 16-bit width, height, planes and bit count
      pdib->biWidth = le16(raw + 4);
      pdib->biHeight = le16(raw + 6);
      pdib->biPlanes = le16(raw + 8);
      pdib->biBitCount = le16(raw + 10);
      pdib->biCompression = 0;
      pdib->biSizeImage = 0;
      pdib->biXPelsPerMeter = 0;
      pdib->biYPelsPerMeter = 0;
      pdib->biClrUsed = 0;
      pdib->biClrImportant = 0;
      fh->Seek(-28, 1);
      break;
    case 40:
      break;
    case 64:
      fh->Seek(24, 1);
      break;
    case 124:
      fh->Seek(84, 1);
      break;
    default: {
      if (pdib->biSize < 41) return false;
      int64_t rowBytes = (((int64_t)pdib->biBitCount * pdib->biWidth + 31) / 32) * 4;
      int64_t imageBytes = 0;
      if (__builtin_mul_overflow(rowBytes, (int64_t)pdib->biHeight, &imageBytes) ||
          (int64_t)pdib->biSizeImage < imageBytes || pdib->biPlanes != 1 || pdib->biClrUsed != 0)
        return false;
      if (pdib->biCompression == 0) fh->Seek((int64_t)pdib->biSize - 40, 1);
    }
  }

  // Negative widths and a height whose magnitude does not fit are not images.
  if (pdib->biWidth < 0 || pdib->biHeight == INT32_MIN) return false;

  if (pdib->biSizeImage == 0) {
    // Sizes beyond 32 bits wrap as the header field does; Create refuses
    // such images anyway.
    uint64_t rowBytes = (((uint64_t)pdib->biBitCount * (uint32_t)pdib->biWidth + 31) & ~(uint64_t)31) / 8;
    pdib->biSizeImage = (uint32_t)(rowBytes * (uint64_t)(int64_t)pdib->biHeight);
  }
  if (pdib->biClrUsed == 0 && pdib->biBitCount <= 8) pdib->biClrUsed = 1u << pdib->biBitCount;
  return true;
}

// Decode a BMP file (or a bare DIB) from the stream's position.
bool CxImageBMP::Decode(CxFile* hFile) {
  if (hFile == nullptr) return false;
  char message[256] = "";
  int64_t off = hFile->Tell();

  do {
    uint8_t bf[BMP_FILEHEADER_SIZE];
    if (hFile->Read(bf, BMP_FILEHEADER_SIZE, 1) == 0) {
      strcpy(message, "Not a BMP");
      break;
    }
    uint16_t bfType = le16(bf);
    uint32_t bfSize = le32(bf + 2);
    uint32_t bfOffBits = le32(bf + 10);
    if (bfType != BMP_TYPE) {
      // No file header: the bytes start with the info header itself.
      hFile->Seek(off, 0);
      bfOffBits = 0;
    }

    if (!DibReadBitmapInfo(hFile, &head)) {
      snprintf(message, sizeof(message),
               "Error reading BMP info bmpHeader biSize %x biWidth %x, bmpHeader.biBitCount %d "
               "(%d) off %d bf %X %d %d",
               head.biSize, (uint32_t)head.biWidth, head.biBitCount,
               info.bLittleEndianHost ? 1 : 0, (int)off, bfType, (int)bfSize, (int)bfOffBits);
      break;
    }
    const bool coreHeader = head.biSize == 12;
    const uint32_t fileBitCount = head.biBitCount;
    const uint32_t fileColors = head.biClrUsed;
    const uint32_t fileCompression = head.biCompression;  // Create resets the header's

    bool bTopDownDib = head.biHeight < 0;
    if (bTopDownDib) head.biHeight = -head.biHeight;

    // Only depths whose rows the DIB holds byte for byte can be filled.
    if (fileBitCount != 1 && fileBitCount != 4 && fileBitCount != 8 && fileBitCount != 24) {
      snprintf(message, sizeof(message), "unsupported BMP bit depth %u", fileBitCount);
      break;
    }

    // Compressed rows are never decoded: refuse them before allocating.
    if (fileCompression != 0) {
      strcpy(message, "unknown compression");
      break;
    }

    // Refuse before allocating when the data cannot hold the rows at all;
    // the exact check follows the read.
    if (rowsCannotFit(hFile, bfOffBits ? off + (int64_t)bfOffBits : hFile->Tell(),
                      (uint32_t)head.biWidth, (uint32_t)head.biHeight, fileBitCount)) {
      strcpy(message, kShortData);
      break;
    }

    if (!Create((uint32_t)head.biWidth, (uint32_t)head.biHeight, fileBitCount,
                CXIMAGE_FORMAT_BMP))
      break;  // Create left its own text

    // A file claiming more important colours than its palette holds is trimmed.
    if (head.biClrImportant > head.biClrUsed) head.biClrImportant = head.biClrUsed;

    SetXDPI(dpiFromPelsPerMeter(head.biXPelsPerMeter));
    SetYDPI(dpiFromPelsPerMeter(head.biYPelsPerMeter));


    RGBQUAD* pRgb = GetPalette();
    if (pRgb) {
      uint32_t count = fileColors;
      uint32_t stored = count < head.biClrUsed ? count : head.biClrUsed;
      size_t entryBytes = coreHeader ? 3 : 4;
      if (hFile->Read(pRgb, entryBytes, stored) != stored) {
        strcpy(message, "BMP palette is cut short");
        break;
      }
      if (coreHeader) {
        // Spread blue, green, red triples into 4-byte entries, last first.
        for (int64_t i = (int64_t)stored - 1; i >= 0; i--) {
          uint8_t* src = (uint8_t*)pRgb + i * 3;
          RGBQUAD q = {src[0], src[1], src[2], 0};
          pRgb[i] = q;
        }
      } else {
        for (uint32_t i = 0; i < stored; i++) pRgb[i].rgbReserved = 0;
      }
      // Entries beyond what the image can hold are skipped over.
      if (count > stored) hFile->Seek((int64_t)(count - stored) * (int64_t)entryBytes, 1);
      info.last_c_isvalid = false;
    }

    if (bfOffBits != 0) hFile->Seek(off + (int64_t)bfOffBits, 0);
    size_t want = head.biSizeImage;
    if (hFile->Read(info.pImage, 1, want) != want) {
      strcpy(message, kShortData);
      break;
    }

    if (bTopDownDib) Flip(false, true);
    return true;
  } while (false);

  SetError(message);
  return false;
}

// Decode arbitrary bytes; a decoded image is re-encoded so every byte is read.
bool FuzzDecodeBmp(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return false;
  CxImage image;
  if (!image.Decode(data, (uint32_t)size, CXIMAGE_FORMAT_BMP)) return false;
  uint8_t* out = nullptr;
  int32_t outSize = 0;
  bool ok = image.Encode(out, outSize, CXIMAGE_FORMAT_BMP);
  free(out);
  return ok;
}
