// CxMemFile: reads, writes, seeks and growth of a memory stream.
#include "ximage/xmemfile.h"

#include <cstdlib>
#include <cstring>

// Wrap caller bytes (never freed here) or nothing (Open makes a buffer).
CxMemFile::CxMemFile(uint8_t* pBuffer, int64_t size)
    : m_pBuffer(pBuffer),
      m_Size(size < 0 ? 0 : size),
      m_bFreeOnClose(pBuffer == nullptr),
      m_Position(0),
      m_Edge(size < 0 ? 0 : size) {}

CxMemFile::~CxMemFile() { Close(); }

// Start an empty owning stream; false when a buffer is already present.
bool CxMemFile::Open() {
  if (m_pBuffer) return false;
  m_Position = m_Size = m_Edge = 0;
  m_pBuffer = (uint8_t*)malloc(1);
  m_bFreeOnClose = true;
  return m_pBuffer != nullptr;
}

// Release an owned buffer; caller memory is left alone.
bool CxMemFile::Close() {
  if (m_pBuffer && m_bFreeOnClose) {
    free(m_pBuffer);
    m_pBuffer = nullptr;
    m_Size = 0;
  }
  return true;
}

// The data; with detach the buffer outlives the stream and the caller frees it.
uint8_t* CxMemFile::GetBuffer(bool bDetachBuffer) {
  if (bDetachBuffer) m_bFreeOnClose = false;
  return m_pBuffer;
}

// Copy up to itemSize * count bytes out; returns whole items copied.
size_t CxMemFile::Read(void* buffer, size_t itemSize, size_t count) {
  if (buffer == nullptr || m_pBuffer == nullptr) return 0;
  if (m_Position >= m_Size) return 0;
  if (itemSize == 0 || count == 0) return 0;
  if (count > SIZE_MAX / itemSize) count = SIZE_MAX / itemSize;
  size_t nCount = itemSize * count;
  size_t nRead = (size_t)(m_Size - m_Position);
  if (nCount < nRead) nRead = nCount;
  memcpy(buffer, m_pBuffer + m_Position, nRead);
  m_Position += (int64_t)nRead;
  return nRead / itemSize;
}

// Copy itemSize * count bytes in at the position, growing as needed.
size_t CxMemFile::Write(const void* buffer, size_t itemSize, size_t count) {
  if (m_pBuffer == nullptr || buffer == nullptr) return 0;
  if (itemSize == 0 || count == 0) return 0;
  if (count > (size_t)INT64_MAX / itemSize) return 0;
  int64_t nCount = (int64_t)(itemSize * count);
  if (m_Position > INT64_MAX - nCount) return 0;
  if (m_Position + nCount > m_Edge) {
    if (!Alloc(m_Position + nCount)) return 0;
  }
  // A write past the end of the data leaves no unwritten bytes behind it.
  if (m_Position > m_Size) memset(m_pBuffer + m_Size, 0, (size_t)(m_Position - m_Size));
  memcpy(m_pBuffer + m_Position, buffer, (size_t)nCount);
  m_Position += nCount;
  if (m_Position > m_Size) m_Size = m_Position;
  return count;
}

// Move the position; a position below 0 becomes 0, none is clamped above.
bool CxMemFile::Seek(int64_t offset, int origin) {
  if (m_pBuffer == nullptr) return false;
  int64_t lNewPos = m_Position;
  if (origin == 0)
    lNewPos = offset;
  else if (origin == 1)
    lNewPos = m_Position + offset;
  else if (origin == 2)
    lNewPos = m_Size + offset;
  else
    return false;
  if (lNewPos < 0) lNewPos = 0;
  m_Position = lNewPos;
  return true;
}

int64_t CxMemFile::Tell() { return m_pBuffer ? m_Position : -1; }

int64_t CxMemFile::Size() { return m_pBuffer ? m_Size : -1; }

bool CxMemFile::Flush() { return m_pBuffer != nullptr; }

bool CxMemFile::Eof() { return m_pBuffer ? (m_Position >= m_Size) : true; }

bool CxMemFile::Error() { return m_pBuffer ? (m_Position > m_Size) : true; }

// Store one byte at the position, growing as needed.
bool CxMemFile::PutC(uint8_t c) {
  if (m_pBuffer == nullptr) return false;
  if (m_Position >= m_Edge) {
    if (!Alloc(m_Position + 1)) return false;
  }
  if (m_Position > m_Size) memset(m_pBuffer + m_Size, 0, (size_t)(m_Position - m_Size));
  m_pBuffer[m_Position++] = c;
  if (m_Position > m_Size) m_Size = m_Position;
  return true;
}

// Next byte, or -1 at the end of the data.
long CxMemFile::GetC() {
  if (Eof()) return -1;
  return *(m_pBuffer + m_Position++);
}

// Read a line of at most n - 1 bytes (the line feed kept); null at the end.
char* CxMemFile::GetS(char* string, int32_t n) {
  if (string == nullptr || n < 1) return nullptr;
  n--;
  long c;
  int32_t i = 0;
  while (i < n) {
    c = GetC();
    if (c == -1) return nullptr;
    string[i++] = (char)c;
    if (c == '\n') break;
  }
  string[i] = 0;
  return string;
}

int32_t CxMemFile::Scanf(const char* /*format*/, void* /*output*/) { return 0; }

// Make room for nBytes: the length rounds down to 64 KiB and adds 64 KiB.
bool CxMemFile::Alloc(int64_t nBytes) {
  if (nBytes <= m_Edge) return m_pBuffer != nullptr;
  int64_t nNewEdge = (nBytes & ~(int64_t)0xFFFF) + 65536;
  if (nNewEdge < nBytes || (uint64_t)nNewEdge > (uint64_t)SIZE_MAX) return false;
  uint8_t* pNew;
  if (m_pBuffer == nullptr) {
    pNew = (uint8_t*)malloc((size_t)nNewEdge);
  } else if (m_bFreeOnClose) {
    pNew = (uint8_t*)realloc(m_pBuffer, (size_t)nNewEdge);
  } else {
    // Caller memory is never reallocated: continue in a copy of our own.
    pNew = (uint8_t*)malloc((size_t)nNewEdge);
    if (pNew) memcpy(pNew, m_pBuffer, (size_t)(m_Size < m_Edge ? m_Size : m_Edge));
  }
  if (pNew == nullptr) return false;
  m_pBuffer = pNew;
  m_bFreeOnClose = true;
  m_Edge = nNewEdge;
  return true;
}
