// CxFile: the byte-stream interface the codecs read from and write to.
// Sizes and positions are 64-bit. Only PutC has a default implementation.
#pragma once

#include <cstddef>
#include <cstdint>

class CxFile {
 public:
  CxFile() {}
  virtual ~CxFile() {}

  virtual bool Close() = 0;
  // Items of itemSize bytes read into buffer; a partial item is not counted.
  virtual size_t Read(void* buffer, size_t itemSize, size_t count) = 0;
  // Items written from buffer (count on success, 0 on failure).
  virtual size_t Write(const void* buffer, size_t itemSize, size_t count) = 0;
  // origin 0: from the start, 1: from the position, 2: from the end of the data.
  virtual bool Seek(int64_t offset, int origin) = 0;
  virtual int64_t Tell() = 0;
  virtual int64_t Size() = 0;
  virtual bool Flush() = 0;
  virtual bool Eof() = 0;
  virtual bool Error() = 0;
  // Write one byte.
  virtual bool PutC(uint8_t c) {
    return Write(&c, 1, 1) == 1;
  }
  // Next byte (0-255), or -1 at the end.
  virtual long GetC() = 0;
  virtual char* GetS(char* string, int32_t n) = 0;
  virtual int32_t Scanf(const char* format, void* output) = 0;
};
