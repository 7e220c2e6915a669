// The raster headers PAPPL read, kept per thread.
#include "app/raster_headers.h"

#include <atomic>

namespace {
std::atomic<bool> g_server{false};
thread_local cups_page_header2_t t_header;
thread_local bool t_haveHeader = false;
}  // namespace

bool ServerReadsRaster() { return g_server; }
void SetServerReadsRaster() { g_server = true; }

void NoteStreamedHeader(const cups_page_header2_t& header) {
  t_header = header;
  t_haveHeader = true;
}

bool TakeStreamedHeader(cups_page_header2_t* header) {
  if (!t_haveHeader) return false;
  *header = t_header;
  t_haveHeader = false;
  return true;
}
