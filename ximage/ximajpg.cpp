// CxImageJPG: compress an RGB or grey-ramp image through libjpeg into a
// CxFile, with our own destination manager and an error exit that returns
// control here instead of ending the process.
#include "ximage/ximajpg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <jpeglib.h>
#include <jerror.h>

#include "ximage/xfile.h"

namespace {

// Size of the staging buffer between libjpeg and the stream.
const size_t kOutputBufSize = 4096;

// libjpeg's error manager plus where to jump back to and where to put the text.
struct jpgErrorManager {
  jpeg_error_mgr pub;
  jmp_buf setjmp_buffer;
  char* errorText;
};

// Word the library's message into the image's error text and return to Encode.
void imaJpegErrorExit(j_common_ptr cinfo) {
  jpgErrorManager* myerr = (jpgErrorManager*)cinfo->err;
  myerr->pub.format_message(cinfo, myerr->errorText);
  longjmp(myerr->setjmp_buffer, 1);
}

// Destination manager that hands compressed bytes to a CxFile.
struct xfileDestination {
  jpeg_destination_mgr pub;
  CxFile* file;
  JOCTET* buffer;
};

// Point the library at the whole staging buffer.
void initDestination(j_compress_ptr cinfo) {
  xfileDestination* dest = (xfileDestination*)cinfo->dest;
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBufSize;
}

// Pass a full staging buffer on to the stream.
boolean emptyOutputBuffer(j_compress_ptr cinfo) {
  xfileDestination* dest = (xfileDestination*)cinfo->dest;
  if (dest->file->Write(dest->buffer, 1, kOutputBufSize) != kOutputBufSize)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBufSize;
  return TRUE;
}

// Pass the last, partly filled buffer on and flush the stream.
void termDestination(j_compress_ptr cinfo) {
  xfileDestination* dest = (xfileDestination*)cinfo->dest;
  size_t datacount = kOutputBufSize - dest->pub.free_in_buffer;
  if (datacount > 0) {
    if (!dest->file->Write(dest->buffer, 1, datacount)) ERREXIT(cinfo, JERR_FILE_WRITE);
  }
  dest->file->Flush();
  if (dest->file->Error()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Copy n bytes of blue-green-red pixels as red-green-blue (n a multiple of 3).
void copySwappedPlain(uint8_t* d, const uint8_t* s, size_t n) {
  for (size_t i = 0; i + 3 <= n; i += 3) {
    d[i] = s[i + 2];
    d[i + 1] = s[i + 1];
    d[i + 2] = s[i];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// The same with one byte shuffle for five pixels at a time. Each store also
// writes one byte of the next pixel, which the next step overwrites.
__attribute__((target("ssse3"))) void copySwappedSsse3(uint8_t* d, const uint8_t* s, size_t n) {
  const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  for (; i + 16 <= n; i += 15) {
    __m128i v = _mm_loadu_si128((const __m128i*)(s + i));
    _mm_storeu_si128((__m128i*)(d + i), _mm_shuffle_epi8(v, mask));
  }
  copySwappedPlain(d + i, s + i, n - i);
}
#endif

// Copy one stored row into the sample row as red-green-blue; this per-row
// step is the toolkit's only cost on top of the library's own.
void copyRowSwapped(uint8_t* d, const uint8_t* s, size_t pixelBytes) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) {
    copySwappedSsse3(d, s, pixelBytes);
    return;
  }
#endif
  copySwappedPlain(d, s, pixelBytes);
}

}  // namespace

// Compress the image as a JFIF file with its quality and resolution.
bool CxImageJPG::Encode(CxFile* hFile) {
  if (!EncodeSafeCheck(hFile)) return false;

  // Only 24-bit colour or an 8-bit grey ramp maps onto JPEG samples.
  if (head.biClrUsed != 0 && (!IsGrayScale() || head.biBitCount != 8)) {
    SetError("JPEG can save only RGB or GreyScale images");
    return false;
  }

  jpeg_compress_struct cinfo;
  jpgErrorManager jerr;
  xfileDestination dest;
  memset(&dest, 0, sizeof(dest));
  dest.file = hFile;
  dest.buffer = (JOCTET*)malloc(kOutputBufSize);
  if (dest.buffer == nullptr) {
    SetError("JPEG output buffer can't be allocated");
    return false;
  }

  cinfo.err = jpeg_std_error(&jerr.pub);
  jerr.pub.error_exit = imaJpegErrorExit;
  jerr.errorText = info.szLastError;

  if (setjmp(jerr.setjmp_buffer)) {
    jpeg_destroy_compress(&cinfo);
    free(dest.buffer);
    return false;
  }

  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = initDestination;
  dest.pub.empty_output_buffer = emptyOutputBuffer;
  dest.pub.term_destination = termDestination;
  cinfo.dest = &dest.pub;

  cinfo.image_width = GetWidth();
  cinfo.image_height = GetHeight();
  // The library reads blue-green-red rows where it can, straight from the
  // image; the colour conversion and so the bytes are those of red-green-blue.
#if defined(JCS_EXTENSIONS)
  const bool rowsAsStored = head.biClrUsed == 0;
#else
  const bool rowsAsStored = false;
#endif
  if (head.biClrUsed == 0) {
    cinfo.input_components = 3;
#if defined(JCS_EXTENSIONS)
    cinfo.in_color_space = JCS_EXT_BGR;
#else
    cinfo.in_color_space = JCS_RGB;
#endif
  } else {
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
  }
  jpeg_set_defaults(&cinfo);

  uint32_t opt = GetCodecOption(CXIMAGE_FORMAT_JPG);
  if (opt & ENCODE_ARITHMETIC) cinfo.arith_code = TRUE;
  if (opt & ENCODE_OPTIMIZE) cinfo.optimize_coding = TRUE;
  if (opt & ENCODE_GRAYSCALE) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  if (opt & ENCODE_SMOOTHING) cinfo.smoothing_factor = m_nSmoothing;
  jpeg_set_quality(&cinfo, GetJpegQuality(), (opt & ENCODE_BASELINE) ? TRUE : FALSE);
  if (opt & ENCODE_PROGRESSIVE) jpeg_simple_progression(&cinfo);

  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 2;
  cinfo.comp_info[1].h_samp_factor = 1;
  cinfo.comp_info[1].v_samp_factor = 1;
  cinfo.comp_info[2].h_samp_factor = 1;
  cinfo.comp_info[2].v_samp_factor = 1;
  if (opt & ENCODE_SUBSAMPLE_422) {
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 1;
  }
  if (opt & ENCODE_SUBSAMPLE_444) {
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
  }

  cinfo.density_unit = 1;
  cinfo.X_density = (UINT16)GetXDPI();
  cinfo.Y_density = (UINT16)GetYDPI();

  jpeg_start_compress(&cinfo, TRUE);

  if (rowsAsStored) {
    // Rows go top of the picture first: stored row height - 1 down to row 0,
    // handed over a few at a time without being copied.
    const JDIMENSION kRows = 16;
    JSAMPROW rows[kRows];
    while (cinfo.next_scanline < cinfo.image_height) {
      JDIMENSION n = 0;
      for (; n < kRows && cinfo.next_scanline + n < cinfo.image_height; ++n)
        rows[n] = GetBits(head.biHeight - 1 - (cinfo.next_scanline + n));
      jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    free(dest.buffer);
    return true;
  }

  JSAMPARRAY buffer =
      (*cinfo.mem->alloc_sarray)((j_common_ptr)&cinfo, JPOOL_IMAGE, info.dwEffWidth + 8, 1);

  // Rows go top of the picture first: stored row height - 1 down to row 0.
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* src = GetBits(head.biHeight - 1 - cinfo.next_scanline);
    if (head.biClrUsed == 0) {
      // Same bytes as copying the row and exchanging red and blue over 3 x width.
      size_t pixelBytes = 3 * (size_t)head.biWidth;
      copyRowSwapped(buffer[0], src, pixelBytes);
      memcpy(buffer[0] + pixelBytes, src + pixelBytes, info.dwEffWidth - pixelBytes);
    } else {
      memcpy(buffer[0], src, info.dwEffWidth);
    }
    jpeg_write_scanlines(&cinfo, buffer, 1);
  }

  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  free(dest.buffer);
  return true;
}
