// CxImage encode and decode entry points: dispatch on the format id to the
// BMP codec or the JPEG encoder, over memory or any CxFile.
#include <cstdlib>

#include "ximage/ximabmp.h"
#include "ximage/ximage.h"
#include "ximage/ximajpg.h"
#include "ximage/xmemfile.h"

// Checks every encoder makes before writing anything.
bool CxImage::EncodeSafeCheck(CxFile* hFile) {
  if (hFile == nullptr) {
    SetError("null file handler");
    return false;
  }
  if (pDib == nullptr) {
    SetError("null image!!!");
    return false;
  }
  return true;
}

// Encode into a new malloc'd buffer that the caller frees; buffer must be null.
bool CxImage::Encode(uint8_t*& buffer, int32_t& size, uint32_t imagetype) {
  if (buffer != nullptr) {
    SetError("the buffer must be empty");
    return false;
  }
  CxMemFile file;
  if (!file.Open()) {
    SetError("CxMemFile can't allocate memory");
    return false;
  }
  if (Encode(&file, imagetype)) {
    buffer = file.GetBuffer(true);
    size = (int32_t)file.Size();
    return true;
  }
  return false;
}

// Encode into a stream with the codec of the given format.
bool CxImage::Encode(CxFile* hFile, uint32_t imagetype) {
  if (imagetype == CXIMAGE_FORMAT_BMP) {
    CxImageBMP* newima = new CxImageBMP;
    newima->Ghost(this);
    bool ok = newima->Encode(hFile);
    if (!ok) SetError(static_cast<CxImage*>(newima)->info.szLastError);
    delete newima;
    return ok;
  }
  if (imagetype == CXIMAGE_FORMAT_JPG) {
    CxImageJPG* newima = new CxImageJPG;
    newima->Ghost(this);
    bool ok = newima->Encode(hFile);
    if (!ok) SetError(static_cast<CxImage*>(newima)->info.szLastError);
    delete newima;
    return ok;
  }
  SetError("Encode: Unknown format");
  return false;
}

// Decode the caller's bytes; they are only read, never kept or freed.
bool CxImage::Decode(const uint8_t* buffer, uint32_t size, uint32_t imagetype) {
  CxMemFile file(const_cast<uint8_t*>(buffer), buffer ? (int64_t)size : 0);
  return Decode(&file, imagetype);
}

// Decode from a stream; a failure leaves this image as it was, with a new error text.
bool CxImage::Decode(CxFile* hFile, uint32_t imagetype) {
  if (hFile == nullptr) {
    SetError("null file handler");
    return false;
  }
  int64_t pos = hFile->Tell();

  if (imagetype == CXIMAGE_FORMAT_UNKNOWN || imagetype == CXIMAGE_FORMAT_BMP) {
    CxImageBMP* newima = new CxImageBMP;
    newima->CopyInfo(*this);
    if (newima->Decode(hFile)) {
      Transfer(*newima, true);
      delete newima;
      return true;
    }
    SetError(static_cast<CxImage*>(newima)->info.szLastError);
    hFile->Seek(pos, 0);
    delete newima;
    if (imagetype == CXIMAGE_FORMAT_BMP) return false;
  }

  // No JPEG decoder is built in: format 3 ends here too.
  SetError("Decode: Unknown or wrong format");
  return false;
}
