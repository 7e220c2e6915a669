// The pixel blocks of images. A card job makes the same few large images
// for every card (page, card image, panels, filter temporaries); the blocks
// of destroyed images are kept and handed to the next images of about the
// same size instead of going back to the system, so a job's memory is taken
// once, sized by its largest images so far, and not faulted in anew for
// every card.
#pragma once

#include <cstddef>

namespace ximage_blocks {

// A block of at least size bytes (uninitialised, like malloc), or null.
void* Take(size_t size);
// Gives a block from Take back (null is ignored).
void Give(void* block);
// How many bytes a block from Take holds.
size_t BlockBytes(void* block);
// Gives every kept block back to the system.
void ReleaseKept();
// Blocks kept now and their bytes (for tests and benchmarks).
size_t KeptCount();
size_t KeptBytes();

}  // namespace ximage_blocks
