// Buffers that a card job needs for every card side and keeps for the whole
// job: they grow to the largest size asked for so far and are reused, so no
// card pays for fresh memory that the previous card already had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "ximage/dibblocks.h"
#include "ximage/xfile.h"

// Gives a job buffer's memory back where it came from.
struct JobBufferRelease {
  bool fromBlocks = false;
  void operator()(uint8_t* p) const {
    if (fromBlocks)
      ximage_blocks::Give(p);
    else
      free(p);
  }
};

// A byte buffer of at least the size last reserved; its contents are
// whatever was written last (not cleared when it grows or is reused). A
// buffer that its card fills whole takes its memory as the image blocks do
// (in large pages); one that is mostly left untouched takes plain memory,
// of which only the pages written count.
class JobBuffer {
 public:
  explicit JobBuffer(bool filledWhole) : filledWhole_(filledWhole) {}
  // Room for size bytes (null only when that much memory cannot be had).
  uint8_t* Reserve(size_t size) {
    if (size > capacity_ || !bytes_) {
      bytes_.reset();
      const size_t n = size > 0 ? size : 1;
      bytes_.reset(static_cast<uint8_t*>(filledWhole_ ? ximage_blocks::Take(n) : malloc(n)));
      bytes_.get_deleter().fromBlocks = filledWhole_;
      capacity_ = bytes_ ? size : 0;
    }
    return bytes_.get();
  }
  uint8_t* data() const { return bytes_.get(); }
  size_t capacity() const { return capacity_; }

 private:
  bool filledWhole_;
  std::unique_ptr<uint8_t, JobBufferRelease> bytes_;
  size_t capacity_ = 0;
};

// A write-only stream that appends to a vector kept by the caller: an
// encoder writes a panel's JPEG file straight into the job's panel buffer,
// whose capacity stays from one card to the next.
class VectorSink : public CxFile {
 public:
  explicit VectorSink(std::vector<uint8_t>& out) : out_(out) { out_.clear(); }
  bool Close() override { return true; }
  size_t Read(void*, size_t, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t itemSize, size_t count) override {
    if (buffer == nullptr || itemSize == 0 || count == 0 || count > SIZE_MAX / itemSize) return 0;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    try {
      out_.insert(out_.end(), p, p + itemSize * count);
    } catch (...) {
      return 0;  // no memory: the encoder fails its write
    }
    return count;
  }
  bool Seek(int64_t, int) override { return false; }
  int64_t Tell() override { return static_cast<int64_t>(out_.size()); }
  int64_t Size() override { return static_cast<int64_t>(out_.size()); }
  bool Flush() override { return true; }
  bool Eof() override { return true; }
  bool Error() override { return false; }
  long GetC() override { return -1; }
  char* GetS(char*, int32_t) override { return nullptr; }
  int32_t Scanf(const char*, void*) override { return 0; }

 private:
  std::vector<uint8_t>& out_;
};
