// PAPPL reads a PWG raster document streamed from its client itself, and
// hands the driver only what it reads as 1 or 8 bits a colour: it refuses a
// 16-bit page outright, and gives a 1-bit page's packed lines with a header
// of its own. The card worker reads every depth the filter reads, so the
// server stands in front of libcups's header reader: it notes each header
// read on the reading thread (the driver's start page takes it there), and
// shows PAPPL a 16-bit page as 8 bits of the same line length, which PAPPL
// then hands over line by line unchanged. The workers, this same program,
// read their pages unchanged.

#include <cups/raster.h>

#include "app/next_definition.h"
#include "app/raster_headers.h"

extern "C" unsigned cupsRasterReadHeader2(cups_raster_t* r, cups_page_header2_t* h) {
  static const auto cups = NextDefinition(cupsRasterReadHeader2, "cupsRasterReadHeader2");
  if (cups == nullptr) return 0;
  const unsigned read = cups(r, h);
  if (read && ServerReadsRaster()) {
    NoteStreamedHeader(*h);
    if (h->cupsBitsPerColor == 16) h->cupsBitsPerColor = 8;
  }
  return read;
}
