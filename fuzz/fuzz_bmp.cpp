// Fuzz target: the BMP decoder. Any bytes are decoded as a BMP file; a
// decoded image is encoded again, so that every pixel byte is read once.
#include <cstddef>
#include <cstdint>

#include "ximage/ximabmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDecodeBmp(data, size);
  return 0;
}
