// The size check of a panel JPEG, from its header alone.
#include "sim/preview/jpegsize.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace cardpreview {
namespace {

// libjpeg reports fatal errors through error_exit; jump back to the caller.
struct HeaderErrorTrap {
  jpeg_error_mgr mgr;
  jmp_buf back;
  char text[JMSG_LENGTH_MAX];
};

void trapHeaderError(j_common_ptr info) {
  HeaderErrorTrap* trap = reinterpret_cast<HeaderErrorTrap*>(info->err);
  trap->mgr.format_message(info, trap->text);
  longjmp(trap->back, 1);
}

void ignoreHeaderMessage(j_common_ptr, int) {}

// The libjpeg part of JpegSize: no object with a destructor lives in this
// frame across the setjmp.
bool readHeader(const uint8_t* data, size_t size, int& width, int& height,
                char (&why)[JMSG_LENGTH_MAX]) {
  jpeg_decompress_struct info;
  HeaderErrorTrap trap;
  info.err = jpeg_std_error(&trap.mgr);
  trap.mgr.error_exit = trapHeaderError;
  trap.mgr.emit_message = ignoreHeaderMessage;
  trap.text[0] = '\0';
  if (setjmp(trap.back)) {
    jpeg_destroy_decompress(&info);
    std::snprintf(why, sizeof why, "JPEG: %.180s", trap.text);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  width = static_cast<int>(info.image_width);
  height = static_cast<int>(info.image_height);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

bool JpegSize(const uint8_t* data, size_t size, int& width, int& height, std::string& error) {
  width = height = 0;
  if (!data || size == 0) {
    error = "empty JPEG data";
    return false;
  }
  char why[JMSG_LENGTH_MAX] = "";
  if (!readHeader(data, size, width, height, why)) {
    error = why;
    return false;
  }
  return true;
}

bool PanelFitsCard(const uint8_t* data, size_t size, std::string& error) {
  int width = 0, height = 0;
  if (!JpegSize(data, size, width, height, error)) return false;
  if (width > kPanelMaxWidth || height > kPanelMaxHeight) {
    error = std::to_string(width) + " x " + std::to_string(height) + " pixels, larger than the " +
            std::to_string(kPanelMaxWidth) + " x " + std::to_string(kPanelMaxHeight) + " of a panel";
    return false;
  }
  return true;
}

}  // namespace cardpreview
