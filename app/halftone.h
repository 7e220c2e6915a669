// A page for the black ribbon: the black panel prints a pixel black or not at
// all, so greys become clustered black dots whose size follows the grey, the
// way newspapers print photographs.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cups/raster.h>

// The side of the square cell one dot grows in, in pixels (37.5 dots an
// inch at 300 dpi; 64 grey levels).
const int kHalftoneCell = 8;

// Turns line y of an RGB page (3 bytes a pixel) into black and white pixels
// in place: each pixel's luminance against a clustered-dot threshold screen,
// white staying white and black black. The screen depends only on the
// pixel's place, so a page is screened line by line as it comes.
void HalftoneLineForBlackRibbon(uint8_t* rgb, uint32_t width, uint32_t y);

// Screens one raster line of a page with this header in place, whatever
// 8-bit colour space it is in: RGB (sRGB, AdobeRGB), grey (W, SW: 255 is
// white) or black (K: 0 is white, 255 black, as PAPPL hands over a
// monochrome page). False, and the line as it was, for any other.
bool HalftoneRasterLine(const cups_page_header2_t& header, uint8_t* line, uint32_t y);

// The same for a whole page, its lines `stride` bytes apart.
void HalftoneForBlackRibbon(uint8_t* rgb, uint32_t width, uint32_t height, size_t stride);
