// The print controller's own state: construction, the panel table, the
// colour-style offsets, the byte logger and the image-log dumps.
#include "pipeline/VKCtrl_Print.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cups/file.h>
#include <unistd.h>

#include "pipeline/debugfile.h"
#include "pipeline/imagedump.h"

namespace {

// Target values of one colour style: brightness, contrast, red, green, blue,
// sharpening. The neutral value is 50 for the first five and 5 for sharpening.
struct StyleTargets {
  int brightness, contrast, red, green, blue, sharpening;
};

const StyleTargets kStyleNormal = {57, 45, 46, 44, 46, 7};
const StyleTargets kStyleHighlight = {50, 40, 40, 40, 40, 7};
const StyleTargets kStyleNotUse = {50, 50, 50, 50, 50, 5};
// An unknown style has targets of zero, which pulls every field down.
const StyleTargets kStyleUnknown = {0, 0, 0, 0, 0, 0};

// The gamma target is shown in the log only; gamma itself is never shifted.
const int kGammaTarget = 100;

// Add an offset to a level without leaving the int range: levels come from
// the job's options as the user typed them.
int shifted(int level, int offset) {
  const int64_t v = static_cast<int64_t>(level) + offset;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int>(v);
}

// Largest number of bytes the byte logger shows.
const int kLogMaxBytes = 509;

// The image log writes its files in chunks of this size.
const size_t kDumpChunk = 8192;

}  // namespace

CVKCtrl_Print::CVKCtrl_Print()
    : mPTSCmd{},
      nFileSize{},
      m_szTestTag{},
      m_nPage(0),
      m_nColorType(0),
      m_nRibbon(0),
      m_nBrightness(0),
      m_nContrast(0),
      m_nRed(0),
      m_nGreen(0),
      m_nBlue(0),
      m_iSharpening(0),
      m_Gamma(0),
      m_nBlackUse(0),
      m_nSaturate(0),
      m_nFOverlay(0),
      m_nBOverlay(0),
      m_nCheck(0),
      m_nStyle(0),
      m_nLogImage(2),
      m_nBlackLevel(10),
      m_nCardAnswer(0),
      m_pJobOption(nullptr) {}

// Release the six panel slots, frames first, then their pixel data.
CVKCtrl_Print::~CVKCtrl_Print() {
  CxImage* slots[] = {&m_srcImg, &m_srcImgK, &m_srcImgO, &m_srcImg2, &m_srcImgK2, &m_srcImgO2};
  for (CxImage* slot : slots) {
    slot->DestroyFrames();
    slot->Destroy();
  }
}

// The job's options as the device holds them; a bare controller has none.
const POPTION& CVKCtrl_Print::JobOption() const {
  static const POPTION kNoOptions = {};
  return m_pJobOption ? *m_pJobOption : kNoOptions;
}

// Start a new card with an empty panel table.
int CVKCtrl_Print::MakeInit() {
  fprintf(stderr, "\n[2] MakeInit\n");
  memset(nFileSize, 0, sizeof(nFileSize));
  return 0;
}

// Shift the working copies of the card options by the colour style's offsets.
int CVKCtrl_Print::UseDefault() {
  const StyleTargets* row = &kStyleUnknown;
  if (m_nStyle == 0) {
    row = &kStyleNormal;
  } else if (m_nStyle == 1) {
    row = &kStyleHighlight;
  } else if (m_nStyle == 2) {
    row = &kStyleNotUse;
  }
  fprintf(stderr, "\n[2] UseDefault value(%d)[%d, %d, %d, %d, %d, %d, %d]", m_nStyle,
          row->brightness, row->contrast, row->red, row->green, row->blue, row->sharpening,
          kGammaTarget);
  fprintf(stderr, "\n[2] UseDefault before[%d, %d, %d, %d, %d, %d, %d]", m_nBrightness,
          m_nContrast, m_nRed, m_nGreen, m_nBlue, m_iSharpening, m_Gamma);
  m_nBrightness = shifted(m_nBrightness, row->brightness - 50);
  m_nContrast = shifted(m_nContrast, row->contrast - 50);
  m_nRed = shifted(m_nRed, row->red - 50);
  m_nGreen = shifted(m_nGreen, row->green - 50);
  m_nBlue = shifted(m_nBlue, row->blue - 50);
  m_iSharpening = shifted(m_iSharpening, row->sharpening - 5);
  fprintf(stderr, "\n[2] UseDefault adjust[%d, %d, %d, %d, %d, %d, %d]", m_nBrightness,
          m_nContrast, m_nRed, m_nGreen, m_nBlue, m_iSharpening, m_Gamma);
  return 0;
}

// Show up to 509 bytes in decimal between two framing lines.
int CVKCtrl_Print::outputarray_Log(const uint8_t* bytes, int count) {
  // The lines are put together first and written in one piece: standard
  // error is unbuffered, and a write per byte costs a system call each.
  char line[64 + 4 * kLogMaxBytes + 16];
  int at = snprintf(line, sizeof(line), "[->][outputarray_Log %d]\n", count);
  if (bytes != nullptr && count >= 1 && count <= kLogMaxBytes) {
    for (int i = 0; i < count; ++i) at += snprintf(line + at, sizeof(line) - at, "%d ", bytes[i]);
  }
  snprintf(line + at, sizeof(line) - at, "[->][end]\n");
  fputs(line, stderr);
  return 0;
}

// Write one debug copy of intermediate data to /tmp, logging each CUPS file
// step as PASS or FAIL; returns the number of failed steps.
int CVKCtrl_Print::write_tests(int index, const char* name, const uint8_t* bytes, size_t count) {
  char path[1024];
  snprintf(path, sizeof(path), "/tmp/testfile_%s_%d_%d", name ? name : "", m_nPage, index);

  fprintf(stderr, "cupsFileOpen(write%s): ", "");
  fprintf(stderr, "file(%s): ", path);
  // The name is fixed and the folder shared: no link is followed and no
  // other user's file is written (OpenDebugFile).
  char why[128];
  const int fd = OpenDebugFile(path, why, sizeof(why));
  cups_file_t* fp = fd >= 0 ? cupsFileOpenFd(fd, "w") : nullptr;
  if (fp == nullptr) {
    const bool refused = fd < 0 && (errno == ELOOP || errno == EPERM);
    if (fd >= 0) {
      snprintf(why, sizeof(why), "%s", strerror(errno));
      close(fd);
    }
    fprintf(stderr, "FAIL %s (%s)\n", path, why);
    if (refused) fprintf(stderr, "DEBUG: Debug file %s not written: %s.\n", path, why);
    return 1;
  }
  fprintf(stderr, "PASS");

  int failures = 0;
  fprintf(stderr, "cupsFileCompression(): ");
  int compression = cupsFileCompression(fp);
  if (compression != 0) {
    fprintf(stderr, "FAIL (Got %d, expected %d)\n", compression, 0);
    ++failures;
  } else {
    fprintf(stderr, "PASS");
  }

  fprintf(stderr, "cupsFileWrite(): ");
  int chunks = 0;
  bool written = true;
  for (size_t offset = 0; bytes != nullptr && offset < count; offset += kDumpChunk) {
    size_t n = count - offset < kDumpChunk ? count - offset : kDumpChunk;
    ssize_t put = cupsFileWrite(fp, reinterpret_cast<const char*>(bytes + offset), n);
    if (put < 0 || static_cast<size_t>(put) != n) {
      fprintf(stderr, "FAIL [%d] (%s)\n", chunks, strerror(errno));
      ++failures;
      written = false;
      break;
    }
    ++chunks;
  }
  if (written) {
    fprintf(stderr, "PASS ");
  }

  fprintf(stderr, "cupsFileClose(): ");
  if (cupsFileClose(fp) == 0) {
    fprintf(stderr, "PASS");
  } else {
    fprintf(stderr, "FAIL (%s)\n", strerror(errno));
    ++failures;
  }
  return failures;
}

// Dump an image as a BMP file under the given tag and number; a failed
// encode only skips the dump.
void DumpImageBmp(CVKCtrl_Print& ctl, CxImage& image, const char* tag, int number) {
  uint8_t* bmp = nullptr;
  int32_t size = 0;
  if (image.Encode(bmp, size, CXIMAGE_FORMAT_BMP)) {
    snprintf(ctl.m_szTestTag, sizeof(ctl.m_szTestTag), "%s", tag);
    fprintf(stderr, "[->][page %d  %d %s]\n", ctl.m_nPage, number, ctl.m_szTestTag);
    ctl.write_tests(number, ctl.m_szTestTag, bmp, size > 0 ? static_cast<size_t>(size) : 0);
  }
  free(bmp);
}
