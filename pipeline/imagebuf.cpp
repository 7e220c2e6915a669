// Panel image preparation: one card side from the page's BMP to the colour
// panel (JPEG for a one-sided card, an image in the slots for a two-sided
// one), with the black and overlay panels made on the way.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "pipeline/VKCtrl_Print.h"
#include "pipeline/imagedump.h"

namespace {

// The page is scaled to the card's raster size when it is wider than this.
const uint32_t kScaleAbove = 1000;
const int kCardRasterWidth = 643;
const int kCardRasterHeight = 1013;
const int kCardDpi = 300;
const uint8_t kPanelQuality = 100;

// Result of a side whose JPEG was not delivered in the normal way.
const int kNoJpeg = 20;
// Result of a side that could not be prepared at all (see MakeImageBuf).
const int kSideFailed = 0;

bool isFrontSide(int nColorType) { return (nColorType & ~16) == 0; }

}  // namespace

// Prepare one card side. A page whose BMP does not decode to width x height
// 24-bit pixels is a failed side: it is logged, nothing is written to out,
// the side's colour slot is emptied, its panel-table entries are cleared and
// the result is 0, which the print-job command takes as "no colour data".
// A one-sided JPEG that does not fit into outCapacity bytes fails the same
// way. A JPEG encode that fails returns 20 with out untouched.
int CVKCtrl_Print::MakeImageBuf(int nColorType, const uint8_t* buffer, int size, int width,
                                int height, uint8_t* out, size_t outCapacity) {
  CxImage decoded(0);
  CxImage card(0);
  int result = kNoJpeg;
  int status = 0;
  const size_t bufferSize = size > 0 && buffer != nullptr ? static_cast<size_t>(size) : 0;
  m_nColorType = nColorType;
  int T = static_cast<int>(time(nullptr));
  const POPTION& option = JobOption();

  fprintf(stderr, "[->][MakeImageBuf %d nColorType %d]\n", size, nColorType);
  fprintf(stderr, "[->] MakeImageBuf g_Dev.poption.nRibbon : %d (%d)\r\n", option.nRibbon,
          m_nRibbon);
  m_nLogImage = m_nCheck == 1 ? 2 : 0;
  fprintf(stderr, "[->] MakeImageBuf g_Dev.poption.nCheck : %d (%d) [%d]\r\n", option.nCheck,
          m_nCheck, m_nLogImage);

  decoded.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24,
                 CXIMAGE_FORMAT_BMP);
  decoded.Clear(255);
  const int bpp = decoded.GetBpp();

  const int P = m_nPage + 1;
  m_nPage = P;
  if (m_nLogImage > 1) {
    fprintf(stderr, "[->][page %d curtime %d curtime+page+10  %d]\n", P, T, T + P + 10);
    T = T + P + 10;
    snprintf(m_szTestTag, sizeof(m_szTestTag), "%s", "mac");
    write_tests(T, m_szTestTag, buffer, bufferSize);
  }

  fprintf(stderr, "[->]pszTxBuffer[dh %d][dw %d di %d bpp %d]\n", height, width, width, bpp);
  // The head of the buffer, never more than it holds.
  outputarray_Log(buffer, bufferSize < 10 ? static_cast<int>(bufferSize) : 10);

  if (m_nRibbon == 11) {
    // Erasing a rewritable card prints a black card whatever the page holds.
    fprintf(stderr, "[->][Rewrite Erase : Create black image]\n");
    const RGBQUAD black = {0, 0, 0, 0};
    for (int y = 0; y < kCardRasterHeight; ++y) {
      decoded.DrawLine(0, kCardRasterWidth, y, y, black, false);
    }
  } else {
    decoded.Decode(buffer, static_cast<uint32_t>(bufferSize), CXIMAGE_FORMAT_BMP);
  }

  if (m_nLogImage > 1) {
    CxImage copy(decoded);
    DumpImageBmp(*this, copy, "Decode", 0);
  }
  fprintf(stderr, "srcImg (nCnt %d)\n", 0);

  // The byte exchange below walks the caller's width and height over the
  // decoded image; a BMP of another size or depth must not get there.
  if (!decoded.IsValid() || decoded.GetBpp() != 24 || width <= 0 || height <= 0 ||
      decoded.GetWidth() != static_cast<uint32_t>(width) ||
      decoded.GetHeight() != static_cast<uint32_t>(height)) {
    fprintf(stderr,
            "[->][MakeImageBuf failed: page image is %d x %d at %d bpp, expected %d x %d at 24 "
            "bpp; side not prepared]\n",
            static_cast<int>(decoded.GetWidth()), static_cast<int>(decoded.GetHeight()),
            decoded.GetBpp(), width, height);
    if (isFrontSide(nColorType)) {
      MakeInit();
    } else {
      nFileSize[5] = 0;
      nFileSize[6] = 0;
    }
    if (nColorType == 16) m_srcImg.Destroy();
    if (nColorType == 32) m_srcImg2.Destroy();
    fprintf(stderr, "[->][nTxSize %d (%d)]\n", kSideFailed, 0);
    return kSideFailed;
  }

  // The decoded image becomes the card image; it is handed over rather than
  // copied, since nothing reads the decoded image afterwards.
  card.Transfer(decoded, true);
  fprintf(stderr, "srcImgK\n");

  // The page arrives in red, green, blue order; the image keeps blue, green, red.
  for (int y = 0; y < height; ++y) {
    uint8_t* p = card.GetBits(y);
    for (int x = 0; x < width; ++x, p += 3) {
      const uint8_t first = p[0];
      p[0] = p[2];
      p[2] = first;
    }
  }
  fprintf(stderr, "srcImg (nGetWidth %d, nGetHeight %d)\n", static_cast<int>(card.GetWidth()),
          static_cast<int>(card.GetHeight()));

  if (card.GetWidth() > kScaleAbove) {
    card.Resample(kCardRasterWidth, kCardRasterHeight, 1, nullptr);
    fprintf(stderr, "Resample (nGetWidth %d, nGetHeight %d)\n", static_cast<int>(card.GetWidth()),
            static_cast<int>(card.GetHeight()));
  }

  // The portrait page becomes the landscape card: its first raster line is
  // the card's left column.
  card.RotateRight(nullptr);
  card.Flip(false, true);

  fprintf(stderr, "\n[2] Get GetJpegScale: %d", card.GetJpegScale());
  fprintf(stderr, "\n[2] Get GetXDPI: %d", card.GetXDPI());
  card.SetXDPI(kCardDpi);
  card.SetYDPI(kCardDpi);
  fprintf(stderr, "\n[2] Get GetJpegScale: %d", card.GetJpegScale());
  fprintf(stderr, "\n[2] Get GetJpegQuality: %d", card.GetJpegQuality());
  card.SetJpegQuality(kPanelQuality);

  // A new card starts with an empty panel table; the back side of a
  // two-sided card keeps the front's entries.
  if (isFrontSide(nColorType)) MakeInit();

  fprintf(stderr, "[->][->][poption.nRibbon(%d), m_nRibbon(0x%02x) ]\n", option.nRibbon,
          m_nRibbon);

  if (m_nRibbon == 4 || m_nRibbon == 10 || m_nRibbon == 11) {
    // Black ribbon and rewritable cards: no colour panels, no adjustment.
    VK_Image_Change(0, card);
    status = 0;
    fprintf(stderr, "[->][load  %s ]\n", card.GetLastError());
  } else {
    status = ImageEffect(card);
    if (status == 0) fprintf(stderr, "[->][load  %s ]\n", card.GetLastError());
  }

  // The slots take the card image over; it is not used after this.
  if (nColorType == 16) {
    m_srcImg.Transfer(card, true);
    fprintf(stderr, "[->][MakeImageBuf %d nColorType %d m_srcImg %d]\n", size, 16,
            static_cast<int>(m_srcImg.GetWidth()));
  } else if (nColorType == 32) {
    m_srcImg2.Transfer(card, true);
    fprintf(stderr, "[->][MakeImageBuf %d nColorType %d m_srcImg2 %d]\n", size, 32,
            static_cast<int>(m_srcImg2.GetWidth()));
  } else if (nColorType == 0) {
    uint8_t* jpeg = nullptr;
    int32_t jpegSize = 0;
    if (card.Encode(jpeg, jpegSize, CXIMAGE_FORMAT_JPG) && jpeg != nullptr && jpegSize > 0) {
      if (m_nLogImage > 1) {
        fprintf(stderr, "[->][page %d curtime %d curtime+page+20  %d]\n", m_nPage, T,
                T + m_nPage + 20);
        snprintf(m_szTestTag, sizeof(m_szTestTag), "%s", "MakeImageBuf");
        write_tests(T + m_nPage + 20, m_szTestTag, jpeg, static_cast<size_t>(jpegSize));
      }
      fprintf(stderr, "[->][true  %s %d %X %X]\n", card.GetLastError(), jpegSize, jpeg[0],
              jpegSize > 1 ? jpeg[1] : 0);
      if (out != nullptr && static_cast<size_t>(jpegSize) <= outCapacity) {
        memcpy(out, jpeg, static_cast<size_t>(jpegSize));
        result = jpegSize;
        status = 1;
      } else {
        fprintf(stderr, "[->][MakeImageBuf failed: JPEG of %d bytes does not fit the %zu-byte "
                "output buffer]\n", jpegSize, out != nullptr ? outCapacity : 0);
        // Nothing of this side is sent: its panels go with the colour panel.
        MakeInit();
        result = kSideFailed;
        status = 0;
      }
    } else {
      fprintf(stderr, "[->][error info  %s ]\n", card.GetLastError());
      status = 0;
    }
    free(jpeg);
  }

  fprintf(stderr, "[->][nTxSize %d (%d)]\n", result, status);
  uint8_t head[5] = {0, 0, 0, 0, 0};
  if (out != nullptr) memcpy(head, out, outCapacity < 5 ? outCapacity : 5);
  fprintf(stderr, "[->][pImgBuffer %02X %02X %02X %02X %02X ]\n", head[0], head[1], head[2],
          head[3], head[4]);
  return result;
}
