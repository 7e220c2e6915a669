// Fuzz target: the job's option string. The bytes are parsed as CUPS parses
// argument 5, read as card options (with either detected ribbon), stored in
// the device, and applied as page options to a page header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/filter.h"
#include "fuzz/fuzz_printer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int detectedRibbon = (data[0] & 1) ? 4 : 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  cups_option_t* options = nullptr;
  const int count = cupsParseOptions(text.c_str(), 0, &options);
  POPTION o = ReadCardOptions(count, options, detectedRibbon);
  if (o.nColorType != 0 || o.nType != 0) abort();
  if (o.nRibbon != 0 && o.nRibbon != 4 && o.nRibbon != 10 && o.nRibbon != 11) abort();
  SetPOption(o);

  cups_page_header2_t header;
  memset(&header, 0, sizeof(header));
  memset(header.OutputType, 'x', sizeof(header.OutputType) - 1);
  memset(header.cupsRenderingIntent, 'y', sizeof(header.cupsRenderingIntent) - 1);
  ApplyPageOptions(count, options, &header);
  // The header's text fields stay terminated within their size.
  if (memchr(header.OutputType, 0, sizeof(header.OutputType)) == nullptr) abort();
  if (memchr(header.cupsRenderingIntent, 0, sizeof(header.cupsRenderingIntent)) == nullptr) abort();
  cupsFreeOptions(count, options);
  return 0;
}
