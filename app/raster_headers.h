// The page headers of raster documents PAPPL reads from clients, as they
// really are (raster_guard.cpp).
#pragma once

#include <cups/raster.h>

// Whether this process is the server (not a card worker).
bool ServerReadsRaster();
void SetServerReadsRaster();
// Notes the header just read on this thread.
void NoteStreamedHeader(const cups_page_header2_t& header);
// The header last read on this thread, once; false when there is none.
bool TakeStreamedHeader(cups_page_header2_t* header);
