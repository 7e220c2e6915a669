// vkr-rasterwrite: writes CUPS raster with libcups's own raster writer, from
// a picture or a pattern, with any page-header values a test needs.
//
//   vkr-rasterwrite -o FILE [options]          write raster ("-" = stdout)
//   vkr-rasterwrite --sample-card FILE.ppm     write the sample card picture
//
// Options (defaults in brackets):
//   --input FILE.ppm      picture for every page (a landscape picture is
//                         turned a quarter turn counter-clockwise into the
//                         portrait page, as CUPS does for the printer's PPD);
//                         given again, the next page's picture (the last one
//                         repeats): a front and a back for --pages 2 --duplex 1
//   --pattern NAME        white, black, bars, gradient, noise, card [card]
//   --size W,H            raster pixels, cupsWidth x cupsHeight [643,1013]
//   --colorspace CS       rgb, cmyk, k, w, srgb or a number [rgb]
//   --bits N              cupsBitsPerColor: 1, 8 or 16 [8]
//   --bpp N               cupsBitsPerPixel when not the natural one
//   --order N             cupsColorOrder [0]
//   --duplex 0|1          Duplex [0]
//   --pages N             number of pages [1]
//   --page-colorspaces L  comma list of colour spaces, one per page
//   --dpi N               HWResolution [300]
//   --page W,H            page size in pixels [the raster size]
//   --offset L,B          imaging box left and bottom edge in pixels [0,0]
//   --page-points W,H     page size in points, taken as given
//   --bbox-points L,B     imaging box left and bottom in points, as given
//   --copies N            NumCopies [1]
//   --mode v2|v3|pwg      raster flavour [v2]
//   --cut N               drop the last N bytes of the file (a truncated job)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "sim/rasterwrite/samplecard.h"

using rasterwrite::Picture;

namespace {

struct Options {
  std::string output;
  std::vector<std::string> inputs;
  std::string pattern = "card";
  int width = 643, height = 1013;
  std::vector<unsigned> colorSpaces = {CUPS_CSPACE_RGB};
  unsigned bits = 8;
  unsigned bpp = 0;
  unsigned order = 0;
  unsigned duplex = 0;
  int pages = 1;
  unsigned dpi = 300;
  int pageWidth = -1, pageHeight = -1;
  int offsetLeft = 0, offsetBottom = 0;
  bool pointsGiven = false;
  float pagePoints[2] = {0, 0};
  bool bboxPointsGiven = false;
  float bboxPoints[2] = {0, 0};
  unsigned copies = 1;
  cups_mode_t mode = CUPS_RASTER_WRITE;
  long cut = 0;
};

int usage(const char* why) {
  fprintf(stderr, "vkr-rasterwrite: %s\n", why);
  fprintf(stderr, "usage: vkr-rasterwrite -o FILE [options] | --sample-card FILE.ppm\n");
  return 2;
}

bool parsePair(const char* text, int& a, int& b) { return sscanf(text, "%d,%d", &a, &b) == 2; }

bool parseColorSpace(const std::string& name, unsigned& out) {
  if (name == "rgb") out = CUPS_CSPACE_RGB;
  else if (name == "cmyk") out = CUPS_CSPACE_CMYK;
  else if (name == "k") out = CUPS_CSPACE_K;
  else if (name == "w") out = CUPS_CSPACE_W;
  else if (name == "srgb") out = CUPS_CSPACE_SRGB;
  else if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
    out = static_cast<unsigned>(atoi(name.c_str()));
  else
    return false;
  return true;
}

// The smallest float page size in points whose pixel count, as the filter
// computes it (float product, division by 72, truncation), is exactly px.
float pointsFor(int px, unsigned dpi) {
  float pt = static_cast<float>(px * 72.0 / dpi);
  for (int i = 0; i < 64; ++i) {
    const double back = static_cast<double>(pt * static_cast<float>(dpi)) / 72.0;
    const long whole = static_cast<long>(back);
    if (whole == px) return pt;
    pt = std::nextafter(pt, whole < px ? 1e30f : -1e30f);
  }
  return pt;
}

// Samples a colour space has per pixel (0 for those we cannot draw).
unsigned samplesOf(unsigned cs) {
  switch (cs) {
    case CUPS_CSPACE_RGB: case CUPS_CSPACE_SRGB: case CUPS_CSPACE_ADOBERGB: return 3;
    case CUPS_CSPACE_CMYK: return 4;
    case CUPS_CSPACE_K: case CUPS_CSPACE_W: case CUPS_CSPACE_SW: return 1;
    default: return cs >= CUPS_CSPACE_DEVICE1 && cs <= CUPS_CSPACE_DEVICEF ? cs - 47 : 3;
  }
}

// One raster line from one picture row, in the page's colour space and depth.
void makeLine(const Picture& pic, int y, unsigned cs, unsigned bits, unsigned bpp,
              std::vector<uint8_t>& line) {
  std::fill(line.begin(), line.end(), 0);
  const unsigned samples = samplesOf(cs);
  for (int x = 0; x < pic.width; ++x) {
    const uint8_t* px = pic.At(x, y < pic.height ? y : pic.height - 1);
    uint8_t v[16] = {0};
    const uint8_t gray = static_cast<uint8_t>((px[0] * 30 + px[1] * 59 + px[2] * 11) / 100);
    if (cs == CUPS_CSPACE_CMYK) {
      v[0] = 255 - px[0];
      v[1] = 255 - px[1];
      v[2] = 255 - px[2];
      v[3] = 0;
    } else if (samples == 3) {
      v[0] = px[0];
      v[1] = px[1];
      v[2] = px[2];
    } else if (cs == CUPS_CSPACE_K || cs >= CUPS_CSPACE_DEVICE1) {
      for (unsigned s = 0; s < samples && s < 16; ++s) v[s] = 255 - gray;
    } else {
      v[0] = gray;
    }
    if (bpp == 1) {
      // One bit a pixel: set where the first sample is at least half.
      if (v[0] >= 128) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      continue;
    }
    const size_t bytesPerPixel = bpp / 8;
    uint8_t* out = line.data() + static_cast<size_t>(x) * bytesPerPixel;
    for (unsigned s = 0; s < samples && (s + 1) * bits <= bpp; ++s) {
      if (bits == 16) {
        const uint16_t wide = static_cast<uint16_t>(v[s] * 257);
        memcpy(out + 2 * s, &wide, 2);  // the raster writer takes host byte order
      } else {
        out[s] = v[s];
      }
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage(("missing value for " + arg).c_str());
    const char* v = argv[++i];
    if (arg == "--sample-card") {
      std::string error;
      if (!rasterwrite::WritePpm(v, rasterwrite::SampleCard(), error))
        return fprintf(stderr, "vkr-rasterwrite: %s\n", error.c_str()), 1;
      return 0;
    } else if (arg == "-o") {
      o.output = v;
    } else if (arg == "--input") {
      o.inputs.push_back(v);
    } else if (arg == "--pattern") {
      o.pattern = v;
    } else if (arg == "--size") {
      if (!parsePair(v, o.width, o.height)) return usage("--size W,H");
    } else if (arg == "--colorspace") {
      unsigned cs;
      if (!parseColorSpace(v, cs)) return usage("unknown colour space");
      o.colorSpaces = {cs};
    } else if (arg == "--page-colorspaces") {
      o.colorSpaces.clear();
      std::string list = v;
      size_t at = 0;
      while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        unsigned cs;
        if (!parseColorSpace(list.substr(at, comma - at), cs)) return usage("unknown colour space");
        o.colorSpaces.push_back(cs);
        at = comma + 1;
      }
      o.pages = static_cast<int>(o.colorSpaces.size());
    } else if (arg == "--bits") {
      o.bits = static_cast<unsigned>(atoi(v));
    } else if (arg == "--bpp") {
      o.bpp = static_cast<unsigned>(atoi(v));
    } else if (arg == "--order") {
      o.order = static_cast<unsigned>(atoi(v));
    } else if (arg == "--duplex") {
      o.duplex = static_cast<unsigned>(atoi(v));
    } else if (arg == "--pages") {
      o.pages = atoi(v);
    } else if (arg == "--dpi") {
      o.dpi = static_cast<unsigned>(atoi(v));
    } else if (arg == "--page") {
      if (!parsePair(v, o.pageWidth, o.pageHeight)) return usage("--page W,H");
    } else if (arg == "--offset") {
      if (!parsePair(v, o.offsetLeft, o.offsetBottom)) return usage("--offset L,B");
    } else if (arg == "--page-points") {
      if (sscanf(v, "%f,%f", &o.pagePoints[0], &o.pagePoints[1]) != 2) return usage("--page-points W,H");
      o.pointsGiven = true;
    } else if (arg == "--bbox-points") {
      if (sscanf(v, "%f,%f", &o.bboxPoints[0], &o.bboxPoints[1]) != 2) return usage("--bbox-points L,B");
      o.bboxPointsGiven = true;
    } else if (arg == "--copies") {
      o.copies = static_cast<unsigned>(atoi(v));
    } else if (arg == "--mode") {
      const std::string m = v;
      if (m == "v2") o.mode = CUPS_RASTER_WRITE;
      else if (m == "v3") o.mode = CUPS_RASTER_WRITE_COMPRESSED;
      else if (m == "pwg") o.mode = CUPS_RASTER_WRITE_PWG;
      else return usage("--mode v2|v3|pwg");
    } else if (arg == "--cut") {
      o.cut = atol(v);
    } else {
      return usage(("unknown option " + arg).c_str());
    }
  }
  if (o.output.empty()) return usage("no output (-o FILE)");
  if (o.width < 1 || o.height < 1 || o.pages < 0 || o.dpi < 1) return usage("bad size");

  std::vector<Picture> pictures(1);
  std::string error;
  if (!o.inputs.empty()) {
    pictures.resize(o.inputs.size());
    for (size_t i = 0; i < o.inputs.size(); ++i) {
      Picture& picture = pictures[i];
      if (!rasterwrite::ReadPpm(o.inputs[i], picture, error))
        return fprintf(stderr, "vkr-rasterwrite: %s\n", error.c_str()), 1;
      if (picture.width > picture.height) picture = rasterwrite::ToPortraitPage(picture);
      if (i > 0 && (picture.width != o.width || picture.height != o.height))
        return fprintf(stderr, "vkr-rasterwrite: %s: not the size of the first picture\n", o.inputs[i].c_str()), 1;
      o.width = picture.width;
      o.height = picture.height;
    }
  } else if (!rasterwrite::Pattern(o.pattern, o.width, o.height, pictures[0])) {
    return usage("unknown pattern");
  }

  const bool toStdout = o.output == "-";
  const int fd = toStdout ? 1 : open(o.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return perror(o.output.c_str()), 1;
  cups_raster_t* ras = cupsRasterOpen(fd, o.mode);
  if (!ras) return fprintf(stderr, "vkr-rasterwrite: cupsRasterOpen failed\n"), 1;

  const int pageW = o.pageWidth > 0 ? o.pageWidth : o.width + o.offsetLeft;
  const int pageH = o.pageHeight > 0 ? o.pageHeight : o.height + o.offsetBottom;
  for (int page = 0; page < o.pages; ++page) {
    const unsigned cs = o.colorSpaces[static_cast<size_t>(page) % o.colorSpaces.size()];
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    snprintf(h.MediaClass, sizeof(h.MediaClass), "PwgRaster");
    h.HWResolution[0] = h.HWResolution[1] = o.dpi;
    h.cupsWidth = static_cast<unsigned>(o.width);
    h.cupsHeight = static_cast<unsigned>(o.height);
    h.cupsBitsPerColor = o.bits;
    h.cupsBitsPerPixel = o.bpp ? o.bpp : (o.bits == 1 ? 1 : o.bits * samplesOf(cs));
    h.cupsBytesPerLine = (h.cupsWidth * h.cupsBitsPerPixel + 7) / 8;
    h.cupsColorOrder = static_cast<cups_order_t>(o.order);
    h.cupsColorSpace = static_cast<cups_cspace_t>(cs);
    h.Duplex = static_cast<cups_bool_t>(o.duplex);
    h.NumCopies = o.copies;
    h.cupsPageSize[0] = o.pointsGiven ? o.pagePoints[0] : pointsFor(pageW, o.dpi);
    h.cupsPageSize[1] = o.pointsGiven ? o.pagePoints[1] : pointsFor(pageH, o.dpi);
    h.cupsImagingBBox[0] = o.bboxPointsGiven ? o.bboxPoints[0] : (o.offsetLeft ? pointsFor(o.offsetLeft, o.dpi) : 0.0f);
    h.cupsImagingBBox[1] = o.bboxPointsGiven ? o.bboxPoints[1] : (o.offsetBottom ? pointsFor(o.offsetBottom, o.dpi) : 0.0f);
    h.cupsImagingBBox[2] = h.cupsPageSize[0];
    h.cupsImagingBBox[3] = h.cupsPageSize[1];
    h.PageSize[0] = static_cast<unsigned>(lroundf(h.cupsPageSize[0]));
    h.PageSize[1] = static_cast<unsigned>(lroundf(h.cupsPageSize[1]));
    for (int k = 0; k < 4; ++k) h.ImagingBoundingBox[k] = static_cast<unsigned>(lroundf(h.cupsImagingBBox[k]));
    h.Margins[0] = h.ImagingBoundingBox[0];
    h.Margins[1] = h.ImagingBoundingBox[1];
    h.cupsInteger[0] = 1;  // total pages hint, as the PWG writers do
    if (!cupsRasterWriteHeader2(ras, &h))
      return fprintf(stderr, "vkr-rasterwrite: header of page %d refused\n", page + 1), 1;
    std::vector<uint8_t> line(h.cupsBytesPerLine);
    for (int y = 0; y < o.height; ++y) {
      makeLine(pictures[std::min(size_t(page), pictures.size() - 1)], y, cs, o.bits, h.cupsBitsPerPixel, line);
      if (cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine) < h.cupsBytesPerLine)
        return fprintf(stderr, "vkr-rasterwrite: write failed\n"), 1;
    }
  }
  cupsRasterClose(ras);
  if (!toStdout) {
    if (o.cut > 0) {
      const off_t size = lseek(fd, 0, SEEK_END);
      if (ftruncate(fd, size > o.cut ? size - o.cut : 0) != 0) return perror("ftruncate"), 1;
    }
    close(fd);
  }
  return 0;
}
