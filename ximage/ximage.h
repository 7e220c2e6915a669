// CxImage: the in-memory raster image that the card pipeline works on.
//
// One object holds one device-independent bitmap (header copy, palette and
// bottom-up pixel rows in a single malloc'd block) plus an information record.
// Row 0 is the bottom row of the picture; a 24-bit pixel is stored as
// blue, green, red. No operation throws: failures return false / null and
// leave a text in GetLastError().
#pragma once

#include <cstddef>
#include <cstdint>

#define CXIMAGE_FORMAT_UNKNOWN 0
#define CXIMAGE_FORMAT_BMP 1
#define CXIMAGE_FORMAT_JPG 3
// Codec option slots: one per format id up to JPEG.
#define CMAX_IMAGE_FORMATS 4

// Largest pixel buffer Create accepts.
#define CXIMAGE_MAX_MEMORY 268435456

struct tagRGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
typedef tagRGBQUAD RGBQUAD;

struct tagBITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
typedef tagBITMAPINFOHEADER BITMAPINFOHEADER;
static_assert(sizeof(tagBITMAPINFOHEADER) == 40, "BMP info header must be 40 bytes");

// Rectangle in left, top, right, bottom order (used by the overlay masks).
struct tagRECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
typedef tagRECT RECT;

class CxFile;

class CxImage {
 public:
  struct CXIMAGEINFO {
    uint32_t dwEffWidth;       // bytes per pixel row, padded to 4
    uint8_t* pImage;           // pixel row 0 inside the DIB
    CxImage* pGhost;           // owner when this object is a ghost
    uint32_t dwType;           // format id
    char szLastError[256];     // text of the last failure
    int32_t nBkgndIndex;       // -1: no background index
    RGBQUAD nBkgndColor;
    float fQuality;            // JPEG quality, 90 by default
    uint8_t nJpegScale;
    int32_t nFrame;
    int32_t nNumFrames;
    uint32_t dwFrameDelay;
    int32_t xDPI;
    int32_t yDPI;
    uint8_t nAlphaMax;
    bool bAlphaPaletteEnabled;
    bool bEnabled;
    uint32_t dwCodecOpt[CMAX_IMAGE_FORMATS];
    RGBQUAD last_c;            // palette match cache of GetNearestIndex
    uint8_t last_c_index;
    bool last_c_isvalid;
    int32_t nNumLayers;
    uint32_t dwFlags;
    bool bLittleEndianHost;
    int32_t nProgress;         // set by Resample, read by nobody here
    int32_t nEscape;           // non-zero stops Resample early
  };

  // --- construction and lifetime (image container) ---
  explicit CxImage(uint32_t imagetype = 0);
  CxImage(const CxImage& src, bool copypixels = true, bool copyselection = true,
          bool copyalpha = true);
  virtual ~CxImage();
  CxImage& operator=(const CxImage& src);

  void* Create(uint32_t dwWidth, uint32_t dwHeight, uint32_t wBpp, uint32_t imagetype = 0);
  bool Destroy();
  bool DestroyFrames();
  void Copy(const CxImage& src, bool copypixels = true, bool copyselection = true,
            bool copyalpha = true);
  bool Transfer(CxImage& from, bool bTransferFrames = true);
  void Ghost(const CxImage* src);
  void CopyInfo(const CxImage& src);
  void Clear(uint8_t bval = 0);

  // --- queries ---
  uint32_t GetWidth() const { return (uint32_t)head.biWidth; }
  uint32_t GetHeight() const { return (uint32_t)head.biHeight; }
  uint16_t GetBpp() const { return head.biBitCount; }
  uint32_t GetEffWidth() const { return info.dwEffWidth; }
  uint32_t GetNumColors() const { return head.biClrUsed; }
  uint32_t GetType() const { return info.dwType; }
  int32_t GetXDPI() const { return info.xDPI; }
  int32_t GetYDPI() const { return info.yDPI; }
  uint8_t GetJpegQuality() const { return (uint8_t)(info.fQuality + 0.5f); }
  uint8_t GetJpegScale() const { return info.nJpegScale; }
  const char* GetLastError() const { return info.szLastError; }
  bool IsValid() const { return pDib != nullptr; }
  bool IsIndexed() const { return head.biClrUsed != 0; }
  uint32_t GetSize() const;
  uint32_t GetPaletteSize() const { return head.biClrUsed * 4; }
  RGBQUAD* GetPalette() const;
  bool IsInside(int32_t x, int32_t y) const;
  bool IsGrayScale() const;
  const BITMAPINFOHEADER& GetHeader() const { return head; }

  // --- setters ---
  void SetJpegQuality(uint8_t q) { info.fQuality = (float)q; }
  void SetXDPI(int32_t dpi);
  void SetYDPI(int32_t dpi);
  void SetCodecOption(uint32_t opt, uint32_t imagetype = 0);
  uint32_t GetCodecOption(uint32_t imagetype = 0) const;

  // --- pixel access ---
  uint8_t* GetBits(uint32_t row = 0) const;
  RGBQUAD GetPixelColor(int32_t x, int32_t y, bool bGetAlpha = true);
  void SetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool bSetAlpha = false);
  uint8_t GetPixelIndex(int32_t x, int32_t y) const;
  void SetPixelIndex(int32_t x, int32_t y, uint8_t i);
  uint8_t BlindGetPixelIndex(int32_t x, int32_t y) const;
  void BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i);
  RGBQUAD BlindGetPixelColor(int32_t x, int32_t y, bool bGetAlpha = true) const;
  void BlindSetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool bSetAlpha = false);
  RGBQUAD GetPaletteColor(uint8_t idx) const;
  uint8_t GetNearestIndex(RGBQUAD c);
  void SetPalette(const RGBQUAD* pPal, uint32_t nColors = 256);
  void RGBtoBGR(uint8_t* buffer, int length) const;
  void DrawLine(int StartX, int EndX, int StartY, int EndY, RGBQUAD color,
                bool bSetAlpha = false);

  // --- byte streams and codecs ---
  // Encodes into a new malloc'd buffer; buffer must be null on entry.
  bool Encode(uint8_t*& buffer, int32_t& size, uint32_t imagetype);
  bool Encode(CxFile* hFile, uint32_t imagetype);
  // Decodes from the caller's bytes; the caller keeps ownership.
  bool Decode(const uint8_t* buffer, uint32_t size, uint32_t imagetype);
  bool Decode(CxFile* hFile, uint32_t imagetype);

  // --- geometric transforms ---
  bool Flip(bool bFlipSelection = false, bool bFlipAlpha = true);
  bool Rotate180(CxImage* iDst = nullptr);
  bool RotateRight(CxImage* iDst = nullptr);
  bool Resample(int64_t newx, int64_t newy, int mode = 1, CxImage* iDst = nullptr);

  // --- colour and filter operations ---
  static RGBQUAD RGBtoHSL(RGBQUAD lRGBColor);
  static RGBQUAD HSLtoRGB(RGBQUAD lHSLColor);
  static float HueToRGB(float n1, float n2, float hue);
  bool Saturate(int64_t saturation, int64_t colorspace = 1);
  bool GammaRGB(float gammaR, float gammaG, float gammaB);
  bool Lut(const uint8_t* pLutR, const uint8_t* pLutG, const uint8_t* pLutB,
           const uint8_t* pLutAlpha = nullptr);
  bool UnsharpMask(float radius = 5.0f, float amount = 0.5f, int threshold = 0);
  bool GaussianBlur(float radius = 1.0f, CxImage* iDst = nullptr);
  // Kernel helpers of the blur; the caller frees the returned arrays with delete[].
  static int gen_convolve_matrix(float radius, float** cmatrix_p);
  static float* gen_lookup_table(const float* cmatrix, int cmatrix_length);
  static void blur_line(const float* ctable, const float* cmatrix, int cmatrix_length,
                        const uint8_t* cur_col, uint8_t* dest_col, int y, int32_t bytes);

 protected:
  void Startup(uint32_t imagetype);
  void SetError(const char* text);  // copies at most 255 characters
  bool EncodeSafeCheck(CxFile* hFile);  // file and DIB present, else an error text
  // Temporary of a transform: this image's settings and palette, size w x h.
  bool PrepareTransformTarget(CxImage& tmp, uint32_t w, uint32_t h) const;

  void* pDib;                  // header copy + palette + pixel rows, or null
  BITMAPINFOHEADER head;       // the authoritative header
  CXIMAGEINFO info;
  uint8_t* pSelection;         // always null here
  uint8_t* pAlpha;             // always null here
  CxImage** ppLayers;          // always null here
  CxImage** ppFrames;          // always null here
};
