// Card preview: panel JPEGs in, one PNG of the printed card side out.
#include "sim/preview/preview.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>

namespace cardpreview {
namespace {

// libjpeg reports fatal errors through error_exit; jump back to the caller
// instead of letting the library end the process.
struct JpegErrorTrap {
  jpeg_error_mgr mgr;
  jmp_buf back;
  char text[JMSG_LENGTH_MAX];
};

void trapJpegError(j_common_ptr info) {
  auto* trap = reinterpret_cast<JpegErrorTrap*>(info->err);
  (*info->err->format_message)(info, trap->text);
  longjmp(trap->back, 1);
}

void ignoreJpegMessage(j_common_ptr, int) {}

int luminance(const uint8_t* rgb) {
  return (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000;
}

// A panel pixel is dark (ink or coat) when it lies inside the panel and its
// luminance is below the dark level.
bool isDark(const RgbImage* panel, int x, int y) {
  if (!panel || panel->empty() || x >= panel->width || y >= panel->height) return false;
  return luminance(panel->at(x, y)) < kDarkLevel;
}

bool onHatchStripe(int x, int y) {
  return (x + y) % kHatchPeriod < kHatchWidth;
}

// The libjpeg part of DecodeJpeg. No object with a destructor lives in this
// frame across the setjmp: the reason of a failure goes to why, the row
// buffer belongs to the caller.
bool decodeWithLibjpeg(const uint8_t* data, size_t size, RgbImage& out, std::vector<uint8_t>& row,
                       char (&why)[JMSG_LENGTH_MAX]) {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.mgr);
  trap.mgr.error_exit = trapJpegError;
  trap.mgr.emit_message = ignoreJpegMessage;
  trap.text[0] = '\0';
  if (setjmp(trap.back)) {
    jpeg_destroy_decompress(&info);
    std::snprintf(why, sizeof why, "JPEG: %.180s", trap.text);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  // Greyscale panels are expanded to RGB below; everything else the
  // library converts to RGB itself.
  if (info.jpeg_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const int comps = info.output_components;
  if (comps != 1 && comps != 3) {
    jpeg_destroy_decompress(&info);
    std::snprintf(why, sizeof why, "JPEG: unsupported number of components");
    return false;
  }
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, 255);
  row.resize(static_cast<size_t>(out.width) * comps);
  while (info.output_scanline < info.output_height) {
    const int y = static_cast<int>(info.output_scanline);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    uint8_t* dst = out.at(0, y);
    if (comps == 3) {
      std::memcpy(dst, row.data(), row.size());
    } else {
      for (int x = 0; x < out.width; ++x) dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = row[x];
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// The libpng part of WritePng, under the same rule as decodeWithLibjpeg.
bool writeWithLibpng(FILE* file, const RgbImage& image, const char* description) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // 300 dpi, the printer's resolution, in pixels per metre.
  png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
  png_text text;
  std::memset(&text, 0, sizeof text);
  text.compression = PNG_TEXT_COMPRESSION_NONE;
  text.key = const_cast<char*>("Description");
  text.text = const_cast<char*>(description);
  png_set_text(png, info, &text, 1);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) png_write_row(png, const_cast<png_bytep>(image.at(0, y)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, RgbImage& out, std::string& error) {
  out = RgbImage();
  if (!data || size == 0) {
    error = "empty JPEG data";
    return false;
  }
  std::vector<uint8_t> row;
  char why[JMSG_LENGTH_MAX] = "";
  if (!decodeWithLibjpeg(data, size, out, row, why)) {
    out = RgbImage();
    error = why;
    return false;
  }
  return true;
}

RgbImage ComposeCardPreview(const RgbImage* colour, const RgbImage* black, const RgbImage* overlay) {
  if (colour && colour->empty()) colour = nullptr;
  if (black && black->empty()) black = nullptr;
  if (overlay && overlay->empty()) overlay = nullptr;
  const RgbImage* base = colour ? colour : black ? black : overlay;
  RgbImage out;
  if (!base) return out;
  out.width = base->width;
  out.height = base->height;
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, 255);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      // The printer lays every panel onto the card turned half a turn from
      // the side as a person sees it (the back as seen after turning the
      // card over its long edge, which undoes the printer's own turn of the
      // card), so the pixel seen at (x, y) lies as far from the opposite
      // corner in the panel.
      const int px = out.width - 1 - x;
      const int py = out.height - 1 - y;
      uint8_t* seen = out.at(x, y);
      if (colour && px < colour->width && py < colour->height) std::memcpy(seen, colour->at(px, py), 3);
      if (isDark(black, px, py)) seen[0] = seen[1] = seen[2] = 0;
      // The coat goes where the overlay mask is dark; the rest of the card
      // stays bare, which the hatching shows.
      if (overlay && !isDark(overlay, px, py) && onHatchStripe(x, y)) std::memcpy(seen, kHatchColour, 3);
    }
  }
  return out;
}

bool WritePng(const RgbImage& image, const std::string& path, const std::string& description,
              std::string& error) {
  if (image.empty() || image.pixels.size() < static_cast<size_t>(image.width) * image.height * 3) {
    error = "nothing to write";
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!writeWithLibpng(file.get(), image, description.c_str())) {
    error = "PNG write failed for " + path;
    return false;
  }
  if (std::fflush(file.get()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool WriteCardPreview(const SidePanels& panels, const std::string& pngPath, std::string& error) {
  RgbImage colour, black, overlay;
  std::string why;
  if (!panels.colour.empty() && !DecodeJpeg(panels.colour.data(), panels.colour.size(), colour, why)) {
    error = "colour panel: " + why;
    return false;
  }
  if (!panels.black.empty() && !DecodeJpeg(panels.black.data(), panels.black.size(), black, why)) {
    error = "black panel: " + why;
    return false;
  }
  if (!panels.overlay.empty() && !DecodeJpeg(panels.overlay.data(), panels.overlay.size(), overlay, why)) {
    error = "overlay panel: " + why;
    return false;
  }
  RgbImage preview = ComposeCardPreview(&colour, &black, &overlay);
  if (preview.empty()) {
    error = "the card side has no panel";
    return false;
  }
  std::string description = panels.side == CardSide::kBack
                                ? "Card back as printed, seen after turning the card over its long edge: "
                                : "Card front as printed, seen upright: ";
  description += colour.empty() ? "no colour panel" : "colour panel";
  description += black.empty() ? ", no black panel" : ", black panel over it";
  description += overlay.empty() ? ", no overlay" : ", overlay coat except where hatched";
  return WritePng(preview, pngPath, description, error);
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) out.insert(out.end(), chunk, chunk + got);
  if (std::ferror(file.get())) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace cardpreview
