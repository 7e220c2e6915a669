// CxImage container: lifetime, creation, copies, transfer, header queries and
// the information-record setters. Pixel access lives in ximapixel.cpp.
#include "ximage/ximage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ximage/dibblocks.h"

// Turn a rounded DPI/pels value into an int32 without overflowing on hostile input.
static int32_t saturateToInt32(double v) {
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return (-2147483647 - 1);
  return (int32_t)v;
}

// Build an empty image of the given format with the toolkit's defaults.
CxImage::CxImage(uint32_t imagetype) { Startup(imagetype); }

// Copy constructor form: start with the source's type, then copy.
CxImage::CxImage(const CxImage& src, bool copypixels, bool copyselection, bool copyalpha) {
  Startup(src.GetType());
  Copy(src, copypixels, copyselection, copyalpha);
}

// Release frames, then the image's own buffers (a ghost releases nothing).
CxImage::~CxImage() {
  DestroyFrames();
  Destroy();
}

// Full copy of another image; assigning an image to itself changes nothing.
CxImage& CxImage::operator=(const CxImage& src) {
  if (this != &src) Copy(src, true, true, true);
  return *this;
}

// Zero every member and set the defaults a fresh image carries.
void CxImage::Startup(uint32_t imagetype) {
  pDib = nullptr;
  pSelection = nullptr;
  pAlpha = nullptr;
  ppLayers = nullptr;
  ppFrames = nullptr;
  memset(&head, 0, sizeof(head));
  memset(&info, 0, sizeof(info));
  info.dwType = imagetype;
  info.fQuality = 90.0f;
  info.nBkgndIndex = -1;
  info.nAlphaMax = 255;
  info.bEnabled = true;
  info.nJpegScale = 1;
  SetXDPI(96);
  SetYDPI(96);
  info.bLittleEndianHost = true;
}

// Copy a failure text into the information record (at most 255 characters).
void CxImage::SetError(const char* text) {
  if (text == nullptr || text[0] == '\0') return;
  strncpy(info.szLastError, text, sizeof(info.szLastError) - 1);
  info.szLastError[sizeof(info.szLastError) - 1] = '\0';
}

// Allocate a new DIB of the given size and depth; null (with an error text) on failure.
void* CxImage::Create(uint32_t dwWidth, uint32_t dwHeight, uint32_t wBpp, uint32_t imagetype) {
  if (!Destroy()) return nullptr;

  if (dwWidth == 0 || dwHeight == 0) {
    SetError("CxImage::Create : width and height must be greater than zero");
    return nullptr;
  }

  uint32_t colors;
  if (wBpp < 2) {
    wBpp = 1;
    colors = 2;
  } else if (wBpp <= 4) {
    wBpp = 4;
    colors = 16;
  } else if (wBpp <= 8) {
    wBpp = 8;
    colors = 256;
  } else {
    wBpp = 24;
    colors = 0;
  }

  if ((float)dwWidth * (float)dwHeight * (float)wBpp * 0.125f > (float)CXIMAGE_MAX_MEMORY) {
    SetError("CXIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }

  // The check above counts bits, not padded rows: a narrow, very tall image
  // can need up to 32 times more. The padded rows must fit the limit too, or
  // their size would not even fit the header's 32-bit field.
  uint64_t effWidth = (((uint64_t)wBpp * dwWidth + 31) / 32) * 4;
  uint64_t sizeImage = effWidth * dwHeight;
  if (sizeImage > (uint64_t)CXIMAGE_MAX_MEMORY) {
    SetError("CXIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }

  head.biSize = sizeof(BITMAPINFOHEADER);
  head.biWidth = (int32_t)dwWidth;
  head.biHeight = (int32_t)dwHeight;
  head.biPlanes = 1;
  head.biBitCount = (uint16_t)wBpp;
  head.biCompression = 0;
  head.biClrUsed = colors;
  head.biSizeImage = (uint32_t)sizeImage;
  info.dwType = imagetype;
  info.dwEffWidth = (uint32_t)effWidth;

  pDib = ximage_blocks::Take(GetSize());
  if (pDib == nullptr) {
    SetError("CxImage::Create can't allocate memory");
    return nullptr;
  }

  RGBQUAD* pal = GetPalette();
  if (pal) memset(pal, 0, GetPaletteSize());
  free(pSelection);
  pSelection = nullptr;
  free(pAlpha);
  pAlpha = nullptr;
  memcpy(pDib, &head, sizeof(BITMAPINFOHEADER));
  info.pImage = GetBits(0);
  return pDib;
}

// Free the image's buffers and layers; a ghost owns nothing and refuses.
bool CxImage::Destroy() {
  if (info.pGhost != nullptr) return false;
  if (ppLayers) {
    for (int32_t n = 0; n < info.nNumLayers; n++) delete ppLayers[n];
    delete[] ppLayers;
    ppLayers = nullptr;
    info.nNumLayers = 0;
  }
  free(pSelection);
  pSelection = nullptr;
  free(pAlpha);
  pAlpha = nullptr;
  ximage_blocks::Give(pDib);
  pDib = nullptr;
  info.pImage = nullptr;
  return true;
}

// Delete the frame list; a ghost refuses.
bool CxImage::DestroyFrames() {
  if (info.pGhost != nullptr) return false;
  if (ppFrames) {
    for (int32_t n = 0; n < info.nNumFrames; n++) delete ppFrames[n];
    delete[] ppFrames;
    ppFrames = nullptr;
  }
  info.nNumFrames = 0;
  return true;
}

// Copy header, settings and (optionally) pixels of another image.
void CxImage::Copy(const CxImage& src, bool copypixels, bool copyselection, bool copyalpha) {
  if (src.info.pGhost != nullptr) {
    Ghost(&src);
    return;
  }
  if (info.pGhost != nullptr) {
    // A ghost shares its owner's buffers: forget them rather than free them.
    pDib = nullptr;
    pSelection = nullptr;
    pAlpha = nullptr;
    ppLayers = nullptr;
    ppFrames = nullptr;
  }
  memcpy(&info, &src.info, sizeof(CXIMAGEINFO));
  info.nNumLayers = 0;   // layers and frames are never copied
  info.nNumFrames = 0;
  memcpy(&head, &src.head, sizeof(BITMAPINFOHEADER));
  Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType());

  if (copypixels && pDib && src.pDib) {
    memcpy(pDib, src.pDib, GetSize());
  } else {
    SetPalette(src.GetPalette(), 256);
  }

  size_t nSize = (size_t)head.biWidth * (size_t)head.biHeight;
  if (pDib && copyselection && src.pSelection) {
    free(pSelection);
    pSelection = (uint8_t*)malloc(nSize);
    if (pSelection) memcpy(pSelection, src.pSelection, nSize);
  }
  if (pDib && copyalpha && src.pAlpha) {
    free(pAlpha);
    pAlpha = (uint8_t*)malloc(nSize);
    if (pAlpha) memcpy(pAlpha, src.pAlpha, nSize);
  }
}

// Move the whole content of another image into this one.
bool CxImage::Transfer(CxImage& from, bool bTransferFrames) {
  if (&from == this) return true;
  if (!Destroy()) return false;

  memcpy(&head, &from.head, sizeof(BITMAPINFOHEADER));
  memcpy(&info, &from.info, sizeof(CXIMAGEINFO));
  pDib = from.pDib;
  pSelection = from.pSelection;
  pAlpha = from.pAlpha;
  ppLayers = from.ppLayers;

  memset(&from.head, 0, sizeof(BITMAPINFOHEADER));
  memset(&from.info, 0, sizeof(CXIMAGEINFO));
  from.pDib = nullptr;
  from.pSelection = nullptr;
  from.pAlpha = nullptr;
  from.ppLayers = nullptr;

  if (bTransferFrames) {
    DestroyFrames();
    ppFrames = from.ppFrames;
    from.ppFrames = nullptr;
  } else {
    // The frames stayed with 'from'; the count travelled with the record.
    info.nNumFrames = 0;
  }
  return true;
}

// Share another image's buffers without owning them (used for one encode call).
void CxImage::Ghost(const CxImage* src) {
  if (src == nullptr) return;
  memcpy(&head, &src->head, sizeof(BITMAPINFOHEADER));
  memcpy(&info, &src->info, sizeof(CXIMAGEINFO));
  pDib = src->pDib;
  pSelection = src->pSelection;
  pAlpha = src->pAlpha;
  ppLayers = src->ppLayers;
  ppFrames = src->ppFrames;
  info.pGhost = const_cast<CxImage*>(src);
}

// Take over another image's settings, only while this image is still empty.
void CxImage::CopyInfo(const CxImage& src) {
  if (pDib == nullptr) memcpy(&info, &src.info, sizeof(CXIMAGEINFO));
}

// Bytes of the whole DIB: header, palette and rows.
uint32_t CxImage::GetSize() const {
  return head.biSize + head.biSizeImage + GetPaletteSize();
}

// The palette inside the DIB, or null when there is none.
RGBQUAD* CxImage::GetPalette() const {
  if (pDib && head.biClrUsed) return (RGBQUAD*)((uint8_t*)pDib + sizeof(BITMAPINFOHEADER));
  return nullptr;
}

// Whether (x, y) addresses a pixel of the image.
bool CxImage::IsInside(int32_t x, int32_t y) const {
  return y >= 0 && (int64_t)y < (int64_t)head.biHeight && x >= 0 &&
         (int64_t)x < (int64_t)head.biWidth;
}

// True only for a palette that is the exact grey ramp 0, 1, 2, ...
bool CxImage::IsGrayScale() const {
  RGBQUAD* ppal = GetPalette();
  if (!(pDib && ppal && head.biClrUsed)) return false;
  for (uint32_t i = 0; i < head.biClrUsed; i++) {
    if (ppal[i].rgbBlue != i || ppal[i].rgbGreen != i || ppal[i].rgbRed != i) return false;
  }
  return true;
}

// Set the horizontal resolution and the matching pels-per-metre header field.
void CxImage::SetXDPI(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.xDPI = dpi;
  head.biXPelsPerMeter = saturateToInt32(floor(dpi * 10000.0 / 254.0 + 0.5));
  if (pDib) ((BITMAPINFOHEADER*)pDib)->biXPelsPerMeter = head.biXPelsPerMeter;
}

// Set the vertical resolution and the matching pels-per-metre header field.
void CxImage::SetYDPI(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.yDPI = dpi;
  head.biYPelsPerMeter = saturateToInt32(floor(dpi * 10000.0 / 254.0 + 0.5));
  if (pDib) ((BITMAPINFOHEADER*)pDib)->biYPelsPerMeter = head.biYPelsPerMeter;
}

// Store the options word of a format (0: this image's own format).
void CxImage::SetCodecOption(uint32_t opt, uint32_t imagetype) {
  if (imagetype == 0) imagetype = info.dwType;
  if (imagetype < CMAX_IMAGE_FORMATS) info.dwCodecOpt[imagetype] = opt;
}

// Read the options word of a format (0: this image's own format).
uint32_t CxImage::GetCodecOption(uint32_t imagetype) const {
  if (imagetype == 0) imagetype = info.dwType;
  if (imagetype < CMAX_IMAGE_FORMATS) return info.dwCodecOpt[imagetype];
  return 0;
}
