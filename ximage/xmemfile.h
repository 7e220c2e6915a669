// CxMemFile: a CxFile over a memory buffer.
//
// Wrapping caller memory (buffer non-null) never frees or reallocates it; an
// empty stream (Open) owns a malloc'd buffer that grows in 64 KiB steps and
// can be handed to the caller with GetBuffer(true).
#pragma once

#include "ximage/xfile.h"

class CxMemFile : public CxFile {
 public:
  explicit CxMemFile(uint8_t* pBuffer = nullptr, int64_t size = 0);
  ~CxMemFile() override;

  bool Open();
  uint8_t* GetBuffer(bool bDetachBuffer = true);
  void Free() { Close(); }

  bool Close() override;
  size_t Read(void* buffer, size_t itemSize, size_t count) override;
  size_t Write(const void* buffer, size_t itemSize, size_t count) override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  int64_t Size() override;
  bool Flush() override;
  bool Eof() override;
  bool Error() override;
  bool PutC(uint8_t c) override;
  long GetC() override;
  char* GetS(char* string, int32_t n) override;
  int32_t Scanf(const char* format, void* output) override;

  // Bytes currently allocated (the growth rule is visible through it).
  int64_t GetAllocatedLength() const { return m_Edge; }

 protected:
  bool Alloc(int64_t nBytes);

  uint8_t* m_pBuffer;
  int64_t m_Size;      // bytes of valid data
  bool m_bFreeOnClose;
  int64_t m_Position;
  int64_t m_Edge;      // bytes allocated
};
