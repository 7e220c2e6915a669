// Gaussian blur and unsharp masking, with the blur's kernel helpers.
//
// The blur is separable: every row is blurred, then every column of the
// row-blurred image. Each output byte depends only on the bytes of its own
// line and channel, through a fixed order of single-precision steps. That
// leaves the order of the work free: the column pass walks the image row by
// row (all columns at once) as soon as the row-blurred rows under its window
// exist, which needs only a ring of kernel-length rows instead of whole
// intermediate images, and the interior forms the kernel products itself
// rather than looking them up: the lookup table holds exactly those products
// (v * kernel[j] rounded to single precision), so the bytes are the same.
#include "ximage/ximage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ximage/unsharp_avx2.h"

namespace {

// Longest kernel the AVX2 runs take (their tap pointers live on the stack);
// longer ones use the SSE2 and plain runs.
constexpr int kWideTaps = 64;

// Longest kernel the blur builds (radius of about 32766); a longer one would
// need a product table of more than 32 MiB and is far wider than any image.
constexpr double kMaxKernelLength = 32767.0;

// Round a non-negative blurred value to the nearest byte: sum + 0.5 truncated.
inline uint8_t roundToByte(float sum) {
  const double v = (double)sum + 0.5;
  if (!(v > 0.0)) return 0;  // also NaN, from a caller's degenerate kernel
  if (v >= 255.0) return 255;
  return (uint8_t)(int)v;
}

// One sharpened byte: o pushed away from its blurred value by amount * diff.
inline uint8_t sharpenByte(int o, int diff, float amount) {
  const float v = (float)o + (float)diff * amount;
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return (uint8_t)(int)v;
}

// Sharpen a run of bytes in place against their blurred values, every byte.
void sharpenRun(uint8_t* o, const uint8_t* u, size_t len, float amount) {
  size_t p = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128 a = _mm_set1_ps(amount);
  const __m128 top = _mm_set1_ps(255.0f);
  for (; p + 16 <= len; p += 16) {
    const __m128i vo = _mm_loadu_si128((const __m128i*)(o + p));
    const __m128i vu = _mm_loadu_si128((const __m128i*)(u + p));
    const __m128i oHalves[2] = {_mm_unpacklo_epi8(vo, zero), _mm_unpackhi_epi8(vo, zero)};
    const __m128i uHalves[2] = {_mm_unpacklo_epi8(vu, zero), _mm_unpackhi_epi8(vu, zero)};
    __m128i quarters[4];
    for (int h = 0; h < 2; h++) {
      const __m128i d = _mm_sub_epi16(oHalves[h], uHalves[h]);
      const __m128i o32[2] = {_mm_unpacklo_epi16(oHalves[h], zero), _mm_unpackhi_epi16(oHalves[h], zero)};
      // Sign-extend the 16-bit differences to 32 bits.
      const __m128i d32[2] = {_mm_srai_epi32(_mm_unpacklo_epi16(d, d), 16),
                              _mm_srai_epi32(_mm_unpackhi_epi16(d, d), 16)};
      for (int q = 0; q < 2; q++) {
        __m128 v = _mm_add_ps(_mm_cvtepi32_ps(o32[q]), _mm_mul_ps(_mm_cvtepi32_ps(d32[q]), a));
        v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), top);  // NaN becomes 0, as below
        quarters[2 * h + q] = _mm_cvttps_epi32(v);
      }
    }
    const __m128i w01 = _mm_packs_epi32(quarters[0], quarters[1]);
    const __m128i w23 = _mm_packs_epi32(quarters[2], quarters[3]);
    _mm_storeu_si128((__m128i*)(o + p), _mm_packus_epi16(w01, w23));
  }
#endif
  for (; p < len; p++) o[p] = sharpenByte(o[p], (int)o[p] - (int)u[p], amount);
}

// Output sample k of a line whose kernel window is cut by an end of the line:
// the taps that fall on the line are renormalised by their own kernel sum.
// Samples lie srcStride bytes apart and carry `width` independent bytes each;
// dst points at output sample k.
void blurClippedSample(const float* cmatrix, int n, const uint8_t* src, size_t srcStride,
                       uint8_t* dst, int count, int k, size_t width) {
  const int m = n / 2;
  const int first = std::max(0, k - m);
  const int last = std::min(count - 1, k - m + n - 1);
  float scale = 0.0f;
  for (int j = first; j <= last; j++) scale += cmatrix[j - k + m];
  for (size_t i = 0; i < width; i++) {
    float sum = 0.0f;
    for (int j = first; j <= last; j++) {
      sum += (float)src[(size_t)j * srcStride + i] * cmatrix[j - k + m];
    }
    dst[i] = roundToByte(sum / scale);
  }
}

#if defined(__SSE2__)
// Four sums rounded to bytes as roundToByte does: clamp to 0..255 (NaN to 0),
// truncate, and add one where the dropped fraction is at least one half.
inline __m128i roundFour(__m128 s) {
  s = _mm_min_ps(_mm_max_ps(s, _mm_setzero_ps()), _mm_set1_ps(255.0f));
  const __m128i t = _mm_cvttps_epi32(s);
  const __m128 frac = _mm_sub_ps(s, _mm_cvtepi32_ps(t));  // exact
  const __m128 up = _mm_cmpge_ps(frac, _mm_set1_ps(0.5f));
  return _mm_sub_epi32(t, _mm_castps_si128(up));
}

inline __m128 widenTimes(__m128i quarter, __m128 k) { return _mm_mul_ps(_mm_cvtepi32_ps(quarter), k); }
#endif

// Interior outputs: dst[q] = round(sum over j of (float)tap(j)[q] * kernel[j]),
// summed from 0 in increasing j, for q = 0 .. len - 1. tap(j) is the line of
// bytes under kernel tap j.
template <typename Tap>
void blurRun(const float* cmatrix, int n, Tap tap, uint8_t* dst, size_t len) {
  size_t q = 0;
  if (n <= kWideTaps && len >= 32 && ximage_wide::HaveAvx2()) {
    const uint8_t* taps[kWideTaps];
    for (int j = 0; j < n; j++) taps[j] = tap(j);
    q = ximage_wide::BlurRunAvx2(cmatrix, n, taps, dst, len);
  }
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; q + 16 <= len; q += 16) {
    __m128 a0 = _mm_setzero_ps();
    __m128 a1 = a0;
    __m128 a2 = a0;
    __m128 a3 = a0;
    for (int j = 0; j < n; j++) {
      const __m128i v = _mm_loadu_si128((const __m128i*)(tap(j) + q));
      const __m128i lo = _mm_unpacklo_epi8(v, zero);
      const __m128i hi = _mm_unpackhi_epi8(v, zero);
      const __m128 k = _mm_set1_ps(cmatrix[j]);
      a0 = _mm_add_ps(a0, widenTimes(_mm_unpacklo_epi16(lo, zero), k));
      a1 = _mm_add_ps(a1, widenTimes(_mm_unpackhi_epi16(lo, zero), k));
      a2 = _mm_add_ps(a2, widenTimes(_mm_unpacklo_epi16(hi, zero), k));
      a3 = _mm_add_ps(a3, widenTimes(_mm_unpackhi_epi16(hi, zero), k));
    }
    const __m128i w01 = _mm_packs_epi32(roundFour(a0), roundFour(a1));
    const __m128i w23 = _mm_packs_epi32(roundFour(a2), roundFour(a3));
    _mm_storeu_si128((__m128i*)(dst + q), _mm_packus_epi16(w01, w23));
  }
#endif
  for (; q < len; q++) {
    float sum = 0.0f;
    for (int j = 0; j < n; j++) sum += (float)tap(j)[q] * cmatrix[j];
    dst[q] = roundToByte(sum);
  }
}

// Output row of the column pass whose window is cut by the bottom or top of
// the image: taps[t] is the row under kernel tap firstTap + t.
void blurClippedRun(const float* cmatrix, int firstTap, int numTaps, const uint8_t* const* taps,
                    uint8_t* dst, size_t len) {
  float scale = 0.0f;
  for (int t = 0; t < numTaps; t++) scale += cmatrix[firstTap + t];
  for (size_t q = 0; q < len; q++) {
    float sum = 0.0f;
    for (int t = 0; t < numTaps; t++) sum += (float)taps[t][q] * cmatrix[firstTap + t];
    dst[q] = roundToByte(sum / scale);
  }
}

// Row pass over one row of `count` pixels of b bytes each.
void blurRow(const float* cmatrix, int n, const uint8_t* src, uint8_t* dst, int count, size_t b) {
  const int m = n / 2;
  if (n > count) {
    for (int k = 0; k < count; k++) blurClippedSample(cmatrix, n, src, b, dst + k * b, count, k, b);
    return;
  }
  for (int k = 0; k < m; k++) blurClippedSample(cmatrix, n, src, b, dst + k * b, count, k, b);
  // The interior is one run of bytes: byte q of the run sits m pixels in.
  blurRun(cmatrix, n, [src, b](int j) { return src + (size_t)j * b; }, dst + (size_t)m * b,
          (size_t)(count - 2 * m) * b);
  for (int k = count - m; k < count; k++) blurClippedSample(cmatrix, n, src, b, dst + k * b, count, k, b);
}

// The whole separable blur, streamed: rows are blurred on demand into a ring
// of at most n rows, and each output row of the column pass is made as soon
// as the rows under its window are ready, then handed to done(k, row).
// Source row y is read (through srcRow) before output row y is written
// (through dstRow), so source and destination may be the same image.
// Returns false, having written nothing, when the ring cannot be allocated.
// finishRow(k, taps), when it returns true, has made and used output row k
// of the column pass itself from the rows under its window (interior rows
// only); done is not called for such a row.
template <typename SrcRow, typename DstRow, typename Done, typename FinishRow>
bool blurImage(const float* cmatrix, int n, uint32_t width, uint32_t height, size_t b,
               SrcRow srcRow, DstRow dstRow, Done done, FinishRow finishRow) {
  const size_t rowBytes = (size_t)width * b;
  const int m = n / 2;
  const int h = (int)height;
  const int ringRows = std::min(n, h);
  std::unique_ptr<uint8_t[]> ring(new (std::nothrow) uint8_t[(size_t)ringRows * rowBytes]);
  std::unique_ptr<const uint8_t*[]> taps(new (std::nothrow) const uint8_t*[n]);
  if (!ring || !taps) return false;
  // Row r lives in slot r % ringRows: an output row's window never spans
  // more than n rows, so a slot is reused only after its row is done with.
  auto ringRow = [&](int r) { return ring.get() + (size_t)(r % ringRows) * rowBytes; };

  int ready = 0;  // rows blurred into the ring so far
  for (int k = 0; k < h; k++) {
    const int first = std::max(0, k - m);
    const int last = std::min(h - 1, k - m + n - 1);
    for (; ready <= last; ready++) blurRow(cmatrix, n, srcRow(ready), ringRow(ready), (int)width, b);
    for (int r = first; r <= last; r++) taps[r - first] = ringRow(r);
    const bool interior = n <= h && k >= m && k < h - m;
    if (interior && finishRow(k, static_cast<const uint8_t* const*>(taps.get()))) continue;
    uint8_t* dst = dstRow(k);
    if (interior) {
      const uint8_t* const* t = taps.get();
      blurRun(cmatrix, n, [t](int j) { return t[j]; }, dst, rowBytes);
    } else {
      blurClippedRun(cmatrix, first - k + m, last - first + 1, taps.get(), dst, rowBytes);
    }
    done(k, dst);
  }
  return true;
}

// Whether the blurs can work on the image's own bytes (24-bit or grey ramp).
bool blursInPlace(const CxImage& img) {
  if (img.GetBpp() == 24 && img.GetNumColors() == 0) return true;
  return img.GetBpp() == 8 && img.IsGrayScale();
}

// A 24-bit copy of an indexed image with the same settings.
bool trueColourCopy(CxImage& src, CxImage& out) {
  out.CopyInfo(src);
  if (out.Create(src.GetWidth(), src.GetHeight(), 24, src.GetType()) == nullptr) return false;
  out.SetXDPI(src.GetXDPI());
  out.SetYDPI(src.GetYDPI());
  for (uint32_t y = 0; y < src.GetHeight(); y++) {
    for (uint32_t x = 0; x < src.GetWidth(); x++) {
      out.BlindSetPixelColor((int32_t)x, (int32_t)y, src.GetPixelColor((int32_t)x, (int32_t)y, false));
    }
  }
  return true;
}

// Write a 24-bit result back into an indexed image of the same size, each
// pixel as the nearest colour of its palette.
void mapToPalette(const CxImage& rgb, CxImage& dst) {
  for (uint32_t y = 0; y < dst.GetHeight(); y++) {
    for (uint32_t x = 0; x < dst.GetWidth(); x++) {
      dst.SetPixelColor((int32_t)x, (int32_t)y, rgb.BlindGetPixelColor((int32_t)x, (int32_t)y, false));
    }
  }
}

// Zero the padding bytes at the end of every row, so results do not carry
// whatever the allocation held.
void clearRowPadding(CxImage& img) {
  const size_t used = (size_t)img.GetWidth() * (img.GetBpp() / 8);
  const size_t pad = img.GetEffWidth() - used;
  if (pad == 0) return;
  for (uint32_t y = 0; y < img.GetHeight(); y++) memset(img.GetBits(y) + used, 0, pad);
}

}  // namespace

// Build the blur kernel for a radius; returns its (odd) length and hands the
// new[]-allocated kernel to the caller, or returns 0 with a null kernel when
// the radius is unusable (not a number, or a kernel of more than 32767 taps).
int CxImage::gen_convolve_matrix(float radius, float** cmatrix_p) {
  if (cmatrix_p == nullptr) return 0;
  *cmatrix_p = nullptr;

  const float std_dev = std::fabs(radius * 0.5f) + 0.25f;
  const float radius2 = std_dev + std_dev;
  const double length = 2.0 * std::ceil((double)radius2 - 0.5) + 1.0;
  if (!(length <= kMaxKernelLength)) return 0;
  int n = (int)length;
  if (n <= 0) n = 1;

  float* cmatrix = new (std::nothrow) float[n];
  if (cmatrix == nullptr) return 0;
  const int c = n / 2;
  const double q = (double)(std_dev * radius2);

  // Right half: each tap is the mean of 50 samples of the Gaussian across it.
  for (int i = c + 1; i < n; i++) {
    const double base = (double)((float)i - std::floor((float)c) - 0.5f);
    float sum = 0.0f;
    for (int j = 1; j <= 50; j++) {
      const double x = j * 0.02 + base;
      if (x <= (double)radius2) sum += (float)std::exp(-x * x / q);
    }
    cmatrix[i] = sum / 50.0f;
  }
  // Left half mirrors the right (the centre is computed next, not mirrored).
  for (int i = 0; i < c; i++) cmatrix[i] = cmatrix[n - 1 - i];
  // Centre tap: 51 samples.
  float sum = 0.0f;
  for (int j = 0; j <= 50; j++) {
    const double x = j * 0.02 + 0.5;
    sum += (float)std::exp(-x * x / q);
  }
  cmatrix[c] = sum / 51.0f;

  float total = 0.0f;
  for (int i = 0; i < n; i++) total += cmatrix[i];
  for (int i = 0; i < n; i++) cmatrix[i] = cmatrix[i] / total;

  *cmatrix_p = cmatrix;
  return n;
}

// Table of every byte value times every kernel tap: entry [j * 256 + v] = v * kernel[j].
float* CxImage::gen_lookup_table(const float* cmatrix, int cmatrix_length) {
  if (cmatrix == nullptr || cmatrix_length <= 0) return nullptr;
  float* table = new (std::nothrow) float[(size_t)cmatrix_length * 256];
  if (table == nullptr) return nullptr;
  for (int j = 0; j < cmatrix_length; j++) {
    for (int v = 0; v < 256; v++) table[(size_t)j * 256 + v] = (float)v * cmatrix[j];
  }
  return table;
}

// Blur one line of y samples of `bytes` bytes each from cur_col into dest_col.
void CxImage::blur_line(const float* ctable, const float* cmatrix, int cmatrix_length,
                        const uint8_t* cur_col, uint8_t* dest_col, int y, int32_t bytes) {
  if (ctable == nullptr || cmatrix == nullptr || cur_col == nullptr || dest_col == nullptr) return;
  if (cmatrix_length <= 0 || y <= 0 || bytes <= 0) return;
  const int n = cmatrix_length;
  const int m = n / 2;
  const size_t b = (size_t)bytes;
  if (n > y) {
    // A line shorter than the kernel: every sample is cut at one end or both.
    for (int k = 0; k < y; k++) blurClippedSample(cmatrix, n, cur_col, b, dest_col + k * b, y, k, b);
    return;
  }
  for (int k = 0; k < m; k++) blurClippedSample(cmatrix, n, cur_col, b, dest_col + k * b, y, k, b);
  for (int k = m; k < y - m; k++) {
    const uint8_t* window = cur_col + (size_t)(k - m) * b;
    for (size_t i = 0; i < b; i++) {
      float sum = 0.0f;
      for (int j = 0; j < n; j++) sum += ctable[(size_t)j * 256 + window[(size_t)j * b + i]];
      dest_col[k * b + i] = roundToByte(sum);
    }
  }
  for (int k = y - m; k < y; k++) blurClippedSample(cmatrix, n, cur_col, b, dest_col + k * b, y, k, b);
}

// Gaussian blur of the whole image, into iDst when given, else in place.
bool CxImage::GaussianBlur(float radius, CxImage* iDst) {
  if (pDib == nullptr) return false;
  if (head.biWidth <= 0 || head.biHeight <= 0) return false;
  if (iDst == this) iDst = nullptr;

  if (!blursInPlace(*this)) {
    // Indexed colours: blur a 24-bit copy and map it back onto the palette.
    CxImage rgb;
    if (!trueColourCopy(*this, rgb) || !rgb.GaussianBlur(radius)) {
      SetError(rgb.GetLastError());
      return false;
    }
    CxImage* target = this;
    if (iDst != nullptr) {
      iDst->Copy(*this);
      if (!iDst->IsValid()) {
        SetError(iDst->GetLastError());
        return false;
      }
      target = iDst;
    }
    mapToPalette(rgb, *target);
    return true;
  }

  float* kernel = nullptr;
  const int n = gen_convolve_matrix(radius, &kernel);
  std::unique_ptr<float[]> kernelOwner(kernel);
  if (n <= 0) {
    SetError("GaussianBlur: unusable radius");
    return false;
  }
  const uint32_t width = (uint32_t)head.biWidth;
  const uint32_t height = (uint32_t)head.biHeight;
  const size_t b = head.biBitCount / 8;
  uint8_t* const bits = info.pImage;
  const size_t pitch = info.dwEffWidth;
  auto srcRow = [bits, pitch](int y) -> const uint8_t* { return bits + (size_t)y * pitch; };
  auto nothingMore = [](int, uint8_t*) {};
  auto plainRows = [](int, const uint8_t* const*) { return false; };

  if (iDst == nullptr) {
    // In place: each output row is written only after its source row was read.
    if (!blurImage(kernel, n, width, height, b, srcRow,
                   [bits, pitch](int y) { return bits + (size_t)y * pitch; }, nothingMore, plainRows)) {
      SetError("GaussianBlur: can't allocate memory");
      return false;
    }
    return true;
  }

  // Into another image: a copy of this one without pixels receives the result.
  CxImage tmp;
  tmp.Copy(*this, false, true, true);
  if (!tmp.IsValid()) {
    SetError(tmp.GetLastError());
    return false;
  }
  if (!blurImage(kernel, n, width, height, b, srcRow,
                 [&tmp](int y) { return tmp.GetBits((uint32_t)y); }, nothingMore, plainRows)) {
    SetError("GaussianBlur: can't allocate memory");
    return false;
  }
  clearRowPadding(tmp);
  if (!iDst->Transfer(tmp)) {
    SetError("GaussianBlur: destination image cannot be replaced");
    return false;
  }
  return true;
}

// Sharpen by pushing every byte away from its Gaussian-blurred value.
bool CxImage::UnsharpMask(float radius, float amount, int threshold) {
  if (pDib == nullptr) return false;
  if (head.biWidth <= 0 || head.biHeight <= 0) return false;

  if (!blursInPlace(*this)) {
    CxImage rgb;
    if (!trueColourCopy(*this, rgb) || !rgb.UnsharpMask(radius, amount, threshold)) {
      SetError(rgb.GetLastError());
      return false;
    }
    mapToPalette(rgb, *this);
    return true;
  }

  float* kernel = nullptr;
  const int n = gen_convolve_matrix(radius, &kernel);
  std::unique_ptr<float[]> kernelOwner(kernel);
  if (n <= 0) {
    SetError("GaussianBlur: unusable radius");
    return false;
  }
  const uint32_t width = (uint32_t)head.biWidth;
  const uint32_t height = (uint32_t)head.biHeight;
  const size_t b = head.biBitCount / 8;
  const size_t rowBytes = (size_t)width * b;
  uint8_t* const bits = info.pImage;
  const size_t pitch = info.dwEffWidth;
  std::unique_ptr<uint8_t[]> blurred(new (std::nothrow) uint8_t[rowBytes]);
  if (!blurred) {
    SetError("GaussianBlur: can't allocate memory");
    return false;
  }

  // The blurred image is never kept whole: each blurred row is compared with
  // its source row as soon as it is made, and the sharpened row replaces the
  // source row, which the blur has already read.
  auto sharpenRow = [&](int y, uint8_t* u) {
    uint8_t* o = bits + (size_t)y * pitch;
    if (threshold <= 0) {
      sharpenRun(o, u, rowBytes, amount);
      return;
    }
    for (size_t p = 0; p < rowBytes; p++) {
      const int diff = (int)o[p] - (int)u[p];
      if (std::abs(diff) >= threshold) o[p] = sharpenByte(o[p], diff, amount);
    }
  };
  // With AVX2 an interior row is blurred and sharpened in one walk, the
  // blurred bytes never stored; the few bytes past the last whole group of 32
  // go through the plain runs.
  const bool wide = threshold <= 0 && n <= kWideTaps && ximage_wide::HaveAvx2();
  auto finishRow = [&](int y, const uint8_t* const* taps) {
    if (!wide) return false;
    uint8_t* o = bits + (size_t)y * pitch;
    const size_t done = ximage_wide::BlurSharpenRunAvx2(kernel, n, taps, o, rowBytes, amount);
    if (done < rowBytes) {
      blurRun(kernel, n, [taps, done](int j) { return taps[j] + done; }, blurred.get(), rowBytes - done);
      sharpenRun(o + done, blurred.get(), rowBytes - done, amount);
    }
    return true;
  };
  if (!blurImage(kernel, n, width, height, b,
                 [bits, pitch](int y) -> const uint8_t* { return bits + (size_t)y * pitch; },
                 [&blurred](int) { return blurred.get(); }, sharpenRow, finishRow)) {
    SetError("GaussianBlur: can't allocate memory");
    return false;
  }
  return true;
}
