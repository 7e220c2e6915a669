// The pixel blocks of images: a few large blocks kept for reuse.
#include "ximage/dibblocks.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdlib>

namespace ximage_blocks {
namespace {

// Blocks below this go straight back to the allocator, which keeps small
// blocks well by itself.
const size_t kSmallest = 256 * 1024;
// At most this many blocks are kept: a card side has about six large
// images alive at once. Under AddressSanitizer none are, so that a use of
// a destroyed image's pixels is still caught.
#if defined(__SANITIZE_ADDRESS__)
const int kSlots = 0;
#else
const int kSlots = 8;
#endif

// Blocks of at least this size start on a boundary of it and are offered
// to the system's large pages: the first card then takes its memory in a few
// large pieces rather than in hundreds of small page faults per image.
const size_t kLargePage = 2 * 1024 * 1024;

// A new block from the allocator.
void* newBlock(size_t size) {
  if (size >= kLargePage / 2) {
    const size_t rounded = (size + kLargePage - 1) / kLargePage * kLargePage;
    void* block = nullptr;
    if (posix_memalign(&block, kLargePage, rounded) == 0) {
#if defined(MADV_HUGEPAGE)
      madvise(block, rounded, MADV_HUGEPAGE);  // advice only: no large pages, no harm
#endif
      return block;
    }
  }
  return malloc(size == 0 ? 1 : size);
}

struct Kept {
  void* block;
  size_t bytes;
};
Kept g_kept[kSlots > 0 ? kSlots : 1];
int g_count = 0;

}  // namespace

void* Take(size_t size) {
  if (size >= kSmallest) {
    // The smallest kept block that holds size bytes without wasting more
    // than half of itself.
    int best = -1;
    for (int i = 0; i < g_count; ++i) {
      const size_t bytes = g_kept[i].bytes;
      if (bytes >= size && bytes / 2 <= size && (best < 0 || bytes < g_kept[best].bytes)) best = i;
    }
    if (best >= 0) {
      void* block = g_kept[best].block;
      g_kept[best] = g_kept[--g_count];
      return block;
    }
  }
  return newBlock(size);
}

void Give(void* block) {
  if (block == nullptr) return;
  const size_t bytes = malloc_usable_size(block);
  if (bytes < kSmallest) {
    free(block);
    return;
  }
  if (kSlots == 0) {
    free(block);
    return;
  }
  if (g_count < kSlots) {
    g_kept[g_count++] = Kept{block, bytes};
    return;
  }
  // Full: the smallest of the kept blocks and this one goes back, so that
  // the blocks kept are those of the largest images.
  int smallest = 0;
  for (int i = 1; i < g_count; ++i)
    if (g_kept[i].bytes < g_kept[smallest].bytes) smallest = i;
  if (g_kept[smallest].bytes < bytes) {
    free(g_kept[smallest].block);
    g_kept[smallest] = Kept{block, bytes};
  } else {
    free(block);
  }
}

size_t KeptCount() { return static_cast<size_t>(g_count); }

size_t KeptBytes() {
  size_t total = 0;
  for (int i = 0; i < g_count; ++i) total += g_kept[i].bytes;
  return total;
}

}  // namespace ximage_blocks
