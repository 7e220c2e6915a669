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

// The page arrives in red, green, blue order; the image keeps blue, green, red.
void exchangeRedBlue(CxImage& image) {
  const uint32_t width = image.GetWidth();
  for (uint32_t y = 0; y < image.GetHeight(); ++y) {
    uint8_t* p = image.GetBits(y);
    for (uint32_t x = 0; x < width; ++x, p += 3) {
      const uint8_t first = p[0];
      p[0] = p[2];
      p[2] = first;
    }
  }
}

// Move `count` pixels down a stored column of the page (one pixel from each
// of `count` rows, srcPitch bytes apart) along one row of the card.
void columnToRow(const uint8_t* src, size_t srcPitch, uint8_t* dst, uint32_t count, bool exchange) {
  for (uint32_t x = 0; x < count; ++x, src += srcPitch, dst += 3) {
    dst[0] = src[exchange ? 2 : 0];
    dst[1] = src[1];
    dst[2] = src[exchange ? 0 : 2];
  }
}

// The portrait page becomes the landscape card: the red-blue exchange (when
// asked), RotateRight and the top-to-bottom Flip in one pass. In stored
// coordinates the turn gives pixel (x, y) the page's (W - 1 - y, x), and the
// flip of its W rows then gives (x, y) the turned (x, W - 1 - y): card pixel
// (x, y) is page pixel (y, x), a transpose. The card is
// made as the turn makes its target (the page's settings, the new size, the
// page's palette, zero row padding) and replaces the page, so its header,
// settings and every byte equal those of the three steps. The page's pixel
// rows are read from pageRows instead when given (rows of the page's own
// layout). Returns false, with the page untouched, when the card cannot be
// allocated.
bool transposeIntoCard(CxImage& page, bool exchange, const uint8_t* pageRows = nullptr) {
  const uint32_t pageWidth = page.GetWidth();
  const uint32_t pageHeight = page.GetHeight();
  CxImage card(0);
  card.CopyInfo(page);
  card.Create(pageHeight, pageWidth, page.GetBpp(), page.GetType());
  card.SetPalette(page.GetPalette(), 256);
  if (!card.IsValid() || page.GetBpp() != 24 || card.GetBpp() != 24) return false;

  const size_t srcPitch = page.GetEffWidth();
  const uint8_t* const src = pageRows ? pageRows : page.GetBits(0);
  // kRows card rows at a time, from kRows neighbouring pixels of each page
  // row. Pixels move as four bytes: the fourth byte read is the next pixel's
  // or row padding (the group must end before the row's last byte), and the
  // fourth byte written is overwritten by the next pixel; the last pixel of a
  // card row gets its three bytes alone.
  const uint32_t kRows = 16;
  uint32_t y0 = 0;
  if (pageHeight >= 2) {
    const size_t dstPitch = card.GetEffWidth();
    for (; y0 + kRows <= pageWidth && 3 * static_cast<size_t>(y0 + kRows) < srcPitch; y0 += kRows) {
      uint8_t* const dst = card.GetBits(y0);  // card row y0 + i lies i * dstPitch further
      const uint8_t* s = src + 3 * static_cast<size_t>(y0);
      const size_t lastAt = 3 * static_cast<size_t>(pageHeight - 1);
      if (exchange) {
        for (size_t at = 0; at < lastAt; at += 3, s += srcPitch) {
          uint8_t* d = dst + at;
          for (uint32_t i = 0; i < kRows; ++i, d += dstPitch) {
            uint32_t v;
            memcpy(&v, s + 3 * i, 4);
            v = __builtin_bswap32(v) >> 8;
            memcpy(d, &v, 4);
          }
        }
      } else {
        for (size_t at = 0; at < lastAt; at += 3, s += srcPitch) {
          uint8_t* d = dst + at;
          for (uint32_t i = 0; i < kRows; ++i, d += dstPitch) memcpy(d, s + 3 * i, 4);
        }
      }
      for (uint32_t i = 0; i < kRows; ++i) {
        columnToRow(s + 3 * i, srcPitch, dst + i * dstPitch + lastAt, 1, exchange);
      }
    }
  }
  for (; y0 < pageWidth; ++y0) {
    columnToRow(src + 3 * static_cast<size_t>(y0), srcPitch, card.GetBits(y0), pageHeight, exchange);
  }
  // Row padding starts out zero, as the turn leaves it.
  const size_t used = 3 * static_cast<size_t>(pageHeight);
  const size_t pad = card.GetEffWidth() - used;
  if (pad != 0) {
    for (uint32_t y = 0; y < pageWidth; ++y) memset(card.GetBits(y) + used, 0, pad);
  }
  page.Transfer(card, true);
  return true;
}

// The pixel rows of a BMP file laid out as the card-side submission builds
// it (file and 40-byte info header, width x height at 24 bits, no
// compression or palette, 3780 pixels a metre, rows right behind the
// header, all of them there), or null for any other buffer. Decoding such a
// file gives an image whose rows are these bytes and whose settings are
// those of a fresh image, so the rows can be used where they are.
const uint8_t* plainBmpRows(const uint8_t* buffer, size_t size, int width, int height) {
  const size_t kHeader = 54;
  if (buffer == nullptr || size < kHeader || width <= 0 || height <= 0) return nullptr;
  auto le32 = [buffer](size_t at) {
    return static_cast<uint32_t>(buffer[at]) | static_cast<uint32_t>(buffer[at + 1]) << 8 |
           static_cast<uint32_t>(buffer[at + 2]) << 16 | static_cast<uint32_t>(buffer[at + 3]) << 24;
  };
  auto le16 = [buffer](size_t at) { return static_cast<uint32_t>(buffer[at]) | static_cast<uint32_t>(buffer[at + 1]) << 8; };
  if (buffer[0] != 'B' || buffer[1] != 'M' || le32(10) != kHeader || le32(14) != 40 ||
      le32(18) != static_cast<uint32_t>(width) || le32(22) != static_cast<uint32_t>(height) ||
      le16(28) != 24 || le32(30) != 0 || le32(38) != 3780 || le32(42) != 3780 || le32(46) != 0)
    return nullptr;
  const size_t rowBytes = (3 * static_cast<size_t>(width) + 3) / 4 * 4;
  if ((size - kHeader) / rowBytes < static_cast<size_t>(height)) return nullptr;
  return buffer + kHeader;
}

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
  // The page starts white; the white is painted only where it is kept (an
  // erase card, or a buffer that does not decode: a failed decode leaves the
  // image as it was). A decoded page replaces the image, pixels unread.
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

  // A page as the card-side submission builds it is turned straight from
  // its BMP rows (unless it is to be scaled first or dumped as decoded).
  const uint8_t* const plainRows =
      m_nRibbon != 11 && m_nLogImage <= 1 && static_cast<uint32_t>(width) <= kScaleAbove
          ? plainBmpRows(buffer, bufferSize, width, height)
          : nullptr;
  if (plainRows != nullptr && decoded.IsValid()) {
    // The image stands as decoded: its rows are read where they are below.
  } else if (m_nRibbon == 11) {
    // Erasing a rewritable card prints a black card whatever the page holds.
    fprintf(stderr, "[->][Rewrite Erase : Create black image]\n");
    decoded.Clear(255);
    const RGBQUAD black = {0, 0, 0, 0};
    for (int y = 0; y < kCardRasterHeight; ++y) {
      decoded.DrawLine(0, kCardRasterWidth, y, y, black, false);
    }
  } else if (!decoded.Decode(buffer, static_cast<uint32_t>(bufferSize), CXIMAGE_FORMAT_BMP)) {
    decoded.Clear(255);
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

  // The page arrives in red, green, blue order; the image keeps blue, green,
  // red. A page that is scaled is exchanged first; otherwise the exchange is
  // done while the page is turned below.
  const bool scaled = card.GetWidth() > kScaleAbove;
  if (scaled) exchangeRedBlue(card);
  fprintf(stderr, "srcImg (nGetWidth %d, nGetHeight %d)\n", static_cast<int>(card.GetWidth()),
          static_cast<int>(card.GetHeight()));

  if (scaled) {
    card.Resample(kCardRasterWidth, kCardRasterHeight, 1, nullptr);
    fprintf(stderr, "Resample (nGetWidth %d, nGetHeight %d)\n", static_cast<int>(card.GetWidth()),
            static_cast<int>(card.GetHeight()));
  }

  // The portrait page becomes the landscape card: its first raster line is
  // the card's left column (RotateRight, then Flip, in one pass). Should the
  // card not be allocated, the steps run one by one and fail as they do.
  if (!transposeIntoCard(card, !scaled, plainRows != nullptr && !scaled ? plainRows : nullptr)) {
    if (plainRows != nullptr && !scaled) {
      // The rows were never copied into the image: decode them after all.
      card.Decode(buffer, static_cast<uint32_t>(bufferSize), CXIMAGE_FORMAT_BMP);
    }
    if (!scaled) exchangeRedBlue(card);
    card.RotateRight(nullptr);
    card.Flip(false, true);
  }

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
    // Encoded into the job's buffer for it, then handed to out.
    bool encoded;
    {
      VectorSink sink(m_colourJpeg);
      encoded = card.Encode(&sink, CXIMAGE_FORMAT_JPG);
    }
    const uint8_t* const jpeg = m_colourJpeg.data();
    const int32_t jpegSize = static_cast<int32_t>(m_colourJpeg.size());
    if (encoded && jpegSize > 0) {
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
  }

  fprintf(stderr, "[->][nTxSize %d (%d)]\n", result, status);
  uint8_t head[5] = {0, 0, 0, 0, 0};
  if (out != nullptr) memcpy(head, out, outCapacity < 5 ? outCapacity : 5);
  fprintf(stderr, "[->][pImgBuffer %02X %02X %02X %02X %02X ]\n", head[0], head[1], head[2],
          head[3], head[4]);
  return result;
}
