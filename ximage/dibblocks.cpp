// The pixel blocks of images: a few large blocks kept for reuse.
#include "ximage/dibblocks.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace ximage_blocks {
namespace {

// Blocks below this go straight back to the allocator, which keeps small
// blocks well by itself.
const size_t kSmallest = 256 * 1024;
// At most this many blocks are kept: a card side has about six large
// images alive at once. Under AddressSanitizer none are, and every block
// comes from the allocator, so that a use of a destroyed image's pixels is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
const int kSlots = 0;
const bool kMapLargeBlocks = false;
#else
const int kSlots = 8;
const bool kMapLargeBlocks = true;
#endif

// Blocks of at least half this size are mapped on their own, start on a
// boundary of it, take a whole number of it and are offered to the system's
// large pages: the first card then takes its memory in a few large pieces
// rather than in hundreds of small page faults per image. A block is used
// whole by its image (a card image fills 98 % of one large page), so the
// large pages do not make the job hold more memory.
const size_t kLargePage = 2 * 1024 * 1024;
const int kMaxMapped = 32;

struct Block {
  void* block;
  size_t bytes;
};
Block g_kept[kSlots > 0 ? kSlots : 1];
int g_count = 0;
Block g_mapped[kMaxMapped];
int g_mappedCount = 0;

// A mapped block of a whole number of large pages, or null.
void* mapBlock(size_t size) {
  if (!kMapLargeBlocks || size < kLargePage / 2 || g_mappedCount == kMaxMapped) return nullptr;
  const size_t rounded = (size + kLargePage - 1) / kLargePage * kLargePage;
  void* raw = mmap(nullptr, rounded + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(raw) + kLargePage - 1) & ~(kLargePage - 1);
  const size_t head = start - reinterpret_cast<uintptr_t>(raw);
  if (head > 0) munmap(raw, head);
  if (kLargePage - head > 0) munmap(reinterpret_cast<void*>(start + rounded), kLargePage - head);
  void* block = reinterpret_cast<void*>(start);
#if defined(MADV_HUGEPAGE)
  madvise(block, rounded, MADV_HUGEPAGE);  // advice only: no large pages, no harm
#endif
  g_mapped[g_mappedCount++] = Block{block, rounded};
  return block;
}

// Where a mapped block is registered, or -1 for a block of the allocator.
int mappedIndex(const void* block) {
  for (int i = 0; i < g_mappedCount; ++i)
    if (g_mapped[i].block == block) return i;
  return -1;
}

size_t bytesOf(void* block) {
  const int i = mappedIndex(block);
  return i >= 0 ? g_mapped[i].bytes : malloc_usable_size(block);
}

// Gives a block back to the system.
void release(void* block) {
  const int i = mappedIndex(block);
  if (i < 0) {
    free(block);
    return;
  }
  munmap(block, g_mapped[i].bytes);
  g_mapped[i] = g_mapped[--g_mappedCount];
}

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
  if (void* block = mapBlock(size)) return block;
  return malloc(size == 0 ? 1 : size);
}

void Give(void* block) {
  if (block == nullptr) return;
  const size_t bytes = bytesOf(block);
  if (bytes < kSmallest || kSlots == 0) {
    release(block);
    return;
  }
  if (g_count < kSlots) {
    g_kept[g_count++] = Block{block, bytes};
    return;
  }
  // Full: the smallest of the kept blocks and this one goes back, so that
  // the blocks kept are those of the largest images.
  int smallest = 0;
  for (int i = 1; i < g_count; ++i)
    if (g_kept[i].bytes < g_kept[smallest].bytes) smallest = i;
  if (g_kept[smallest].bytes < bytes) {
    release(g_kept[smallest].block);
    g_kept[smallest] = Block{block, bytes};
  } else {
    release(block);
  }
}

void ReleaseKept() {
  while (g_count > 0) release(g_kept[--g_count].block);
}

size_t KeptCount() { return static_cast<size_t>(g_count); }

size_t KeptBytes() {
  size_t total = 0;
  for (int i = 0; i < g_count; ++i) total += g_kept[i].bytes;
  return total;
}

size_t BlockBytes(void* block) { return block ? bytesOf(block) : 0; }

}  // namespace ximage_blocks
