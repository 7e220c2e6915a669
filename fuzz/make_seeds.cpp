// Writes the fuzz targets' seed corpora: small valid rasters, printer
// replies, BMP files and option strings.
//
//   vkr-fuzz-seeds <corpus folder>   (fills <folder>/<target>/)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <cups/raster.h>

#include "ximage/ximage.h"

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_root;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_root + "/" + target;
  mkdir(g_root.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  FILE* f = fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) {
    perror(name.c_str());
    exit(1);
  }
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

ssize_t appendTo(void* ctx, unsigned char* buffer, size_t bytes) {
  static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), buffer, buffer + bytes);
  return ssize_t(bytes);
}

// One page's description for the raster seeds.
struct Page {
  unsigned width = 48, height = 30;  // pixels at 72 dpi
  cups_cspace_t space = CUPS_CSPACE_RGB;
  unsigned bitsPerColor = 8;
  unsigned duplex = 0;
  unsigned left = 0;  // imaging box offset, pixels
};

unsigned samplesOf(cups_cspace_t space) {
  switch (space) {
    case CUPS_CSPACE_RGB: return 3;
    case CUPS_CSPACE_CMYK: return 4;
    default: return 1;
  }
}

Bytes raster(cups_mode_t mode, const std::vector<Page>& pages) {
  Bytes out;
  cups_raster_t* r = cupsRasterOpenIO(appendTo, &out, mode);
  for (const Page& p : pages) {
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.HWResolution[0] = h.HWResolution[1] = 72;
    h.PageSize[0] = p.width + p.left;
    h.PageSize[1] = p.height;
    h.cupsPageSize[0] = float(p.width + p.left);
    h.cupsPageSize[1] = float(p.height);
    h.ImagingBoundingBox[0] = p.left;
    h.ImagingBoundingBox[2] = p.width + p.left;
    h.ImagingBoundingBox[3] = p.height;
    h.cupsImagingBBox[0] = float(p.left);
    h.cupsImagingBBox[2] = float(p.width + p.left);
    h.cupsImagingBBox[3] = float(p.height);
    h.cupsWidth = p.width;
    h.cupsHeight = p.height;
    h.cupsColorSpace = p.space;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsBitsPerColor = p.bitsPerColor;
    h.cupsBitsPerPixel = p.bitsPerColor * samplesOf(p.space);
    h.cupsBytesPerLine = (p.width * h.cupsBitsPerPixel + 7) / 8;
    h.Duplex = p.duplex ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = 1;
    strcpy(h.MediaClass, "PwgRaster");
    cupsRasterWriteHeader2(r, &h);
    Bytes line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < p.height; ++y) {
      for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t((i / 24) * 60 + (y / 8) * 40);
      if (y > p.height / 2) std::fill(line.begin(), line.end(), 0);  // a black band
      cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
    }
  }
  cupsRasterClose(r);
  return out;
}

Bytes withByte(uint8_t first, const Bytes& rest) {
  Bytes b = {first};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

void rasterSeeds() {
  Page rgb;
  Page cmyk;
  cmyk.space = CUPS_CSPACE_CMYK;
  Page rgb16;
  rgb16.bitsPerColor = 16;
  Page front = rgb, back = rgb;
  front.duplex = back.duplex = 1;
  Page k;
  k.space = CUPS_CSPACE_K;
  Page margin = rgb;
  margin.left = 10;
  Page wide = rgb;
  wide.width = 1100;
  wide.height = 4;

  // Uncompressed streams: the page-loop target reads no compressed one.
  const cups_mode_t plain = CUPS_RASTER_WRITE;
  save("pageloop", "rgb", withByte(0x00, raster(plain, {rgb})));
  save("pageloop", "rgb_plain_imagelog", withByte(0x04, raster(plain, {rgb})));
  save("pageloop", "cmyk_blackribbon", withByte(0x19, raster(plain, {cmyk})));
  save("pageloop", "duplex_two", withByte(0x0B, raster(plain, {front, back})));
  save("pageloop", "duplex_three", withByte(0x62, raster(plain, {front, back, front})));
  save("pageloop", "rgb16", withByte(0x02, raster(plain, {rgb16})));
  save("pageloop", "k_then_back", withByte(0x84, raster(plain, {k, back})));
  save("pageloop", "left_margin", withByte(0x03, raster(plain, {margin})));
  save("pageloop", "wide_scaled", withByte(0xC0, raster(plain, {wide})));
  Page w = rgb, srgb = rgb, k16 = rgb, w1 = rgb;
  w.space = CUPS_CSPACE_W;
  srgb.space = CUPS_CSPACE_SRGB;
  k16.space = CUPS_CSPACE_K;
  k16.bitsPerColor = 16;
  w1.space = CUPS_CSPACE_SW;
  w1.bitsPerColor = 1;
  save("pageloop", "grey_pages", withByte(0x00, raster(CUPS_RASTER_WRITE, {w, srgb, k16, w1})));

  // The page frame target: each page's header as the file holds it, then a
  // line's worth of bytes.
  for (const Page& p : {rgb, cmyk, rgb16, k, margin, wide, w, srgb, k16, w1}) {
    const Bytes one = raster(CUPS_RASTER_WRITE, {p});
    const size_t end = std::min(one.size(), 4 + sizeof(cups_page_header2_t) + 64);
    static int n = 0;
    save("pageframe", "header_" + std::to_string(n++), Bytes(one.begin() + 4, one.begin() + long(end)));
  }
}

Bytes reply(uint8_t statusClass, uint8_t code, const Bytes& payload) {
  Bytes r = {0x1B, 'R', 'P', 'L', 'Y', statusClass, code};
  const uint32_t n = uint32_t(payload.size());
  r.push_back(uint8_t(n >> 24));
  r.push_back(uint8_t(n >> 16));
  r.push_back(uint8_t(n >> 8));
  r.push_back(uint8_t(n));
  r.insert(r.end(), payload.begin(), payload.end());
  r.push_back(0x0D);
  return r;
}

// Selector byte and length-prefixed answers, as the replies target reads them.
Bytes replySeed(uint8_t selector, const std::vector<Bytes>& answers) {
  Bytes b = {selector};
  for (const Bytes& a : answers) {
    b.push_back(uint8_t(a.size() >> 8));
    b.push_back(uint8_t(a.size()));
    b.insert(b.end(), a.begin(), a.end());
  }
  return b;
}

void replySeeds() {
  const Bytes payload = {0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x35};
  for (int s = 0; s < 27; ++s) {
    char name[32];
    snprintf(name, sizeof(name), "ack_%02d", s);
    save("replies", name, replySeed(uint8_t(s), {reply(0x00, 0x06, payload), reply(0x00, 0x06, payload),
                                                  reply(0x00, 0x06, payload)}));
  }
  save("replies", "nak_status", replySeed(0, {reply(0x80, 0x15, {})}));
  save("replies", "error_class", replySeed(4, {reply(0x80, 0x03, payload)}));
  save("replies", "track_read", replySeed(19, {reply(0x00, 0x06, Bytes(40, 'A'))}));
  save("replies", "param_echo", replySeed(12, {reply(0x00, 0x06, {0x04, 0x00, 0x00, 0x01, 0x2C})}));
  save("replies", "busy_then_idle", replySeed(25, {reply(0x00, 0x06, {0x01, 0x07}),
                                                   reply(0x00, 0x06, {0x00, 0x07})}));
  save("replies", "preflight_fails", replySeed(22, {Bytes{0x1B, 0x00}, reply(0x00, 0x06, {}),
                                                    reply(0x00, 0x06, {}), reply(0x00, 0x06, {})}));
}

Bytes bmp(uint32_t bpp, uint32_t width, uint32_t height) {
  CxImage image;
  image.Create(width, height, bpp, CXIMAGE_FORMAT_BMP);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      RGBQUAD c = {uint8_t(x * 20), uint8_t(y * 30), uint8_t(x ^ y), 0};
      image.SetPixelColor(int32_t(x), int32_t(y), c);
    }
  uint8_t* buffer = nullptr;
  int32_t size = 0;
  if (!image.Encode(buffer, size, CXIMAGE_FORMAT_BMP)) {
    fprintf(stderr, "BMP encode failed (%u bits)\n", bpp);
    exit(1);
  }
  Bytes out(buffer, buffer + size);
  free(buffer);
  return out;
}

void bmpSeeds() {
  save("bmp", "rgb24_5x3", bmp(24, 5, 3));
  save("bmp", "pal8_7x2", bmp(8, 7, 2));
  save("bmp", "pal4_9x3", bmp(4, 9, 3));
  save("bmp", "mono1_17x2", bmp(1, 17, 2));
}

void optionSeeds() {
  const char* const texts[] = {
      "\x00" "CardRibbon=K CardBrightness=50 CardContrast=-3 CardSharpening=2",
      "\x01" "CardRibbon=RW CardBlackExtraction=BlackDots CardBlackCheck=Check ColorStyle=Highlight",
      "\x00" "CardFOverlay=MS CardBOverlay=None CardSaturate=+7 CardGamma=' 120'",
      "\x01" "print-content-optimize=text-and-graphics print-quality=5 print-rendering-intent=relative-bpc",
      "\x00" "CardRed=\"12\" CardGreen={a=b} CardBlue=99999999999 ColorStyle=NotUse noCardBlackCheck",
  };
  int i = 0;
  for (const char* t : texts) {
    // The first byte of each text is the detected-ribbon byte (may be NUL).
    const size_t n = 1 + strlen(t + 1);
    save("options", "options_" + std::to_string(i++), Bytes(t, t + n));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    fprintf(stderr, "usage: vkr-fuzz-seeds <corpus folder>\n");
    return 2;
  }
  g_root = argv[1];
  rasterSeeds();
  replySeeds();
  bmpSeeds();
  optionSeeds();
  return 0;
}
