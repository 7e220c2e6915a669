// Helpers for tests of the print-job command: a reader of "$PTS" bytes as
// the printer sees them, and a JPEG decoder to look at the panels.
#pragma once

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

// One block of the block area: its code byte and parameters.
struct PtsBlock {
  uint8_t code = 0;
  std::vector<uint8_t> params;
  uint32_t Size() const {  // size field of a panel block (P9-P12)
    if (params.size() < 12) return 0;
    return (uint32_t(params[8]) << 24) | (uint32_t(params[9]) << 16) |
           (uint32_t(params[10]) << 8) | params[11];
  }
};

// A "$PTS" command taken apart.
struct PtsCommand {
  bool ok = false;
  std::string error;
  uint32_t nLength = 0;
  size_t length = 0;  // bytes taken from the stream
  std::vector<PtsBlock> blocks;
  std::vector<std::vector<uint8_t>> panels;  // data of each panel block, in order
  const PtsBlock* Find(uint8_t code, uint8_t p1) const {
    for (const PtsBlock& b : blocks)
      if (b.code == code && !b.params.empty() && b.params[0] == p1) return &b;
    return nullptr;
  }
};

// SOP, SPT, DataMode, BlockC and BlockO1 come first in that order; then panel
// blocks ('T', 'B') of 12 parameters and BlockO2 ('O') of 7.
inline PtsCommand ParsePts(const std::vector<uint8_t>& bytes, size_t at = 0) {
  PtsCommand c;
  auto fail = [&](const std::string& why) { c.error = why; return c; };
  if (bytes.size() < at + 510) return fail("shorter than 510 bytes");
  const uint8_t* p = bytes.data() + at;
  if (p[0] != 0x1B || std::string(p + 1, p + 5) != "$PTS") return fail("no ESC $PTS");
  c.nLength = (uint32_t(p[5]) << 24) | (uint32_t(p[6]) << 16) | (uint32_t(p[7]) << 8) | p[8];
  if (c.nLength < 500) return fail("nLength below 500");
  if (bytes.size() < at + 10 + c.nLength) return fail("command shorter than nLength");
  c.length = 10 + c.nLength;
  if (p[9 + c.nLength] != 0x0D) return fail("no CR after the data");
  const uint8_t fixedCodes[] = {'P', 'R', 'F', 'C', 'O'};
  const size_t fixedSizes[] = {3, 7, 5, 3, 8};
  size_t k = 9;
  for (int i = 0; i < 5; ++i) {
    if (p[k] != 0x1B) return fail("fixed block without ESC");
    if (p[k + 1] != fixedCodes[i]) return fail("fixed block out of order");
    c.blocks.push_back({p[k + 1], std::vector<uint8_t>(p + k + 2, p + k + 1 + fixedSizes[i])});
    k += 1 + fixedSizes[i];
  }
  while (k < 509 && p[k] == 0x1B) {
    const uint8_t code = p[k + 1];
    const size_t size = code == 'O' ? 8 : 13;
    if (code != 'T' && code != 'B' && code != 'O') return fail("unknown block code");
    if (k + 1 + size > 509) return fail("block runs past the block area");
    c.blocks.push_back({code, std::vector<uint8_t>(p + k + 2, p + k + 1 + size)});
    k += 1 + size;
  }
  for (size_t i = k; i < 509; ++i)
    if (p[i] != 0) return fail("block area not zero-filled");
  size_t data = 509;
  uint64_t total = 0;
  for (const PtsBlock& b : c.blocks) {
    if (b.code != 'T' && b.code != 'B') continue;
    const uint32_t size = b.Size();
    total += size;
    if (data + size > 9 + c.nLength) return fail("panel data runs past nLength");
    c.panels.emplace_back(p + data, p + data + size);
    data += size;
  }
  if (500 + total != c.nLength) return fail("nLength does not match the panel sizes");
  c.ok = true;
  return c;
}

// A decoded JPEG: size, components and pixel bytes top row first.
struct DecodedJpeg {
  bool ok = false;
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
  const uint8_t* At(int x, int y) const { return pixels.data() + (size_t(y) * width + x) * components; }
};

namespace pts_detail {
struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
inline void OnJpegError(j_common_ptr info) { longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
}  // namespace pts_detail

// Decodes a JPEG file held in memory; ok is false when libjpeg refuses it.
inline DecodedJpeg DecodeJpeg(const std::vector<uint8_t>& bytes) {
  DecodedJpeg out;
  if (bytes.size() < 4) return out;
  jpeg_decompress_struct info;
  pts_detail::JpegError err;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = pts_detail::OnJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return DecodedJpeg();
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(bytes.data()), (unsigned long)bytes.size());
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  out.width = (int)info.output_width;
  out.height = (int)info.output_height;
  out.components = info.output_components;
  out.pixels.resize(size_t(out.width) * out.height * out.components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.pixels.data() + size_t(info.output_scanline) * out.width * out.components;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  out.ok = true;
  return out;
}
