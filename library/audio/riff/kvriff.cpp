// RIFF chunk I/O on file handles (the riff_ family): reading, writing,
// searching and editing chunks of RIFF files with 32-bit sizes.
//
// Every function works at the handle's current position; the search functions
// take an optional counter of the bytes still ahead in the enclosing body.
// Positions are handled in 64 bits internally: a chunk size of 2 GiB or more
// never turns into a backward seek, so a walk over a corrupt file only moves
// forward and ends at the file's end.
#include "kvriff.h"
#include "kvriff_io.h"
#include "kvansitext.h"
#include "kvbyteorder.h"
#include "kvmemblock.h"

#include <string.h>
#include <wchar.h>

#include <new>

namespace {

using kvriffio::Forward;
using kvriffio::GetLength;
using kvriffio::GetPos;
using kvriffio::Padded;
using kvriffio::ReadAll;
using kvriffio::WriteAll;

const DWORD kIdRIFF = KVRIFF_FOURCC('R', 'I', 'F', 'F');
const DWORD kIdLIST = KVRIFF_FOURCC('L', 'I', 'S', 'T');
const DWORD kIdFmt = KVRIFF_FOURCC('f', 'm', 't', ' ');
const DWORD kFormCDDA = KVRIFF_FOURCC('C', 'D', 'D', 'A');

// Largest value the RIFF size field may take: the file then holds
// 0xFFFFFFF7 + 8 bytes, the last even length below 4 GiB.
const uint64_t kMaxRIFFSize = 0xFFFFFFF7u;

// Block size of the tail move in riff_DeleteChunk.
const DWORD kMoveBlock = 4096;

// Size of a CD track file's "fmt " chunk.
const DWORD kCDDAFormatSize = 24;

using kvfile::Seek;

// Four-character codes and sizes are stored little-endian whatever the host.
bool ReadU32(HANDLE file, DWORD* value) {
  BYTE b[4];
  if (!ReadAll(file, b, 4)) return false;
  *value = GetLE32(b);
  return true;
}

bool WriteU32(HANDLE file, DWORD value) {
  BYTE b[4];
  PutLE32(b, value);
  return WriteAll(file, b, 4);
}

// Lowers a remaining counter without wrapping below 0.
DWORD Reduce(DWORD remaining, uint64_t amount) {
  return amount >= remaining ? 0 : static_cast<DWORD>(remaining - amount);
}

// Searches for a "LIST" chunk of the given type from the current position
// (counter optional). On success the file stands after the list type, size
// holds the list's size without its type and remaining the bytes after the
// type.
HRESULT FindList(HANDLE file, DWORD listType, DWORD* size, DWORD* remaining) {
  for (;;) {
    DWORD listSize = 0;
    HRESULT hr = riff_FindChunkHeader(file, kIdLIST, &listSize, remaining);
    if (FAILED(hr)) return hr;
    if (listSize < 4) {
      // Too short to hold a list type: step over it as a plain chunk.
      if (!Forward(file, Padded(listSize))) return KV_E_READ;
      if (remaining) *remaining = Reduce(*remaining, Padded(listSize));
      continue;
    }
    if (remaining && *remaining < 4) return KV_E_NOTFOUND;
    DWORD type = 0;
    if (!ReadU32(file, &type)) return KV_E_READ;
    if (remaining) *remaining -= 4;
    if (type == listType) {
      if (size) *size = listSize - 4;
      return S_OK;
    }
    uint64_t rest = Padded(listSize) - 4;
    if (!Forward(file, rest)) return KV_E_READ;
    if (remaining) *remaining = Reduce(*remaining, rest);
  }
}

}  // namespace

HRESULT KVAPI riff_ValidateChunkHeader(DWORD /*id*/, LONG size) {
  if (size < 0) return KV_E_BADLENGTH;
  if (size == 0) return KV_E_ZEROLENGTH;
  return S_OK;
}

HRESULT KVAPI riff_ReadChunkHeader(HANDLE file, DWORD* id, DWORD* size) {
  if (!id || !size) return E_INVALIDARG;
  if (!ReadU32(file, id) || !ReadU32(file, size)) return KV_E_READ;
  return S_OK;
}

HRESULT KVAPI riff_ReadListHeader(HANDLE file, DWORD* listType, DWORD* size) {
  if (!listType || !size) return E_INVALIDARG;
  DWORD id = 0;
  if (!ReadU32(file, &id) || !ReadU32(file, size)) return KV_E_READ;
  if (id != kIdLIST) return KV_E_NOLIST;
  // A list's size counts its 4-byte type; a smaller one would wrap.
  if (*size < 4) return KV_E_BADLENGTH;
  *size -= 4;
  if (!ReadU32(file, listType)) return KV_E_READ;
  return S_OK;
}

HRESULT KVAPI riff_ReadFileID(HANDLE file, DWORD* contentSize, DWORD* formType) {
  if (contentSize) *contentSize = 0;
  DWORD id = 0, size = 0;
  if (!ReadU32(file, &id) || !ReadU32(file, &size)) return KV_E_READ;
  if (id != kIdRIFF) return KV_E_NORIFF;
  // The RIFF size counts the 4-byte form type; a smaller one would wrap.
  if (size < 4) return KV_E_BADLENGTH;
  if (contentSize) *contentSize = size - 4;
  DWORD form = 0;
  if (!ReadU32(file, &form)) return KV_E_READ;
  if (formType) *formType = form;
  return S_OK;
}

HRESULT KVAPI riff_ReadData(HANDLE file, void* buffer, DWORD size) {
  if (!buffer && size) return E_INVALIDARG;
  if (!ReadAll(file, buffer, size)) return KV_E_READ;
  if (size & 1) Forward(file, 1);
  return S_OK;
}

HRESULT KVAPI riff_ReadDataBounded(HANDLE file, void* buffer, DWORD bufferSize, DWORD chunkSize) {
  DWORD n = bufferSize < chunkSize ? bufferSize : chunkSize;
  if (!buffer && n) return E_INVALIDARG;
  if (!ReadAll(file, buffer, n)) return KV_E_READ;
  uint64_t rest = static_cast<uint64_t>(chunkSize - n) + (chunkSize & 1);
  if (rest) Forward(file, rest);
  return S_OK;
}

HRESULT KVAPI riff_ReadDataAlloc(HANDLE file, KVRIFFDATA* block) {
  if (!block) return E_INVALIDARG;
  block->data = nullptr;
  if (block->size == 0) return S_OK;
  // The size comes from the file: make sure the bytes are there before
  // allocating that much.
  uint64_t pos = 0, length = 0;
  if (!GetPos(file, &pos) || !GetLength(file, &length) || pos > length || length - pos < block->size) return KV_E_READ;
  void* p = kvblock::Alloc(block->size);
  if (!p) return E_OUTOFMEMORY;
  HRESULT hr = riff_ReadData(file, p, block->size);
  if (FAILED(hr)) {
    kvblock::Free(p);
    return hr;
  }
  block->data = p;
  return S_OK;
}

HRESULT KVAPI riff_WriteChunkHeader(HANDLE file, DWORD id, DWORD size) {
  if (!WriteU32(file, id) || !WriteU32(file, size)) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff_WriteChunk(HANDLE file, DWORD id, const void* data, DWORD size, DWORD* written) {
  if (written) *written = 0;
  if (!data && size) return E_INVALIDARG;
  // Header, data and pad must fit the 32-bit count (and a RIFF file).
  if (size > kMaxRIFFSize - 4 - 8) return KV_E_TOOBIG;
  HRESULT hr = riff_WriteChunkHeader(file, id, size);
  if (FAILED(hr)) return hr;
  if (!WriteAll(file, data, size)) return KV_E_WRITE;
  if (size & 1) {
    BYTE pad = 0;
    if (!WriteAll(file, &pad, 1)) return KV_E_WRITE;
  }
  if (written) *written = static_cast<DWORD>(8 + Padded(size));
  return S_OK;
}

HRESULT KVAPI riff_WriteListHeader(HANDLE file, DWORD listType, DWORD size) {
  if (!WriteU32(file, kIdLIST) || !WriteU32(file, size) || !WriteU32(file, listType)) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff_WriteFileID(HANDLE file, DWORD formType, DWORD size) {
  if (!WriteU32(file, kIdRIFF) || !WriteU32(file, size) || !WriteU32(file, formType)) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff_SeekDataStart(HANDLE file) {
  Seek(file, 12, FILE_BEGIN);
  return S_OK;
}

HRESULT KVAPI riff_SaveLocation(HANDLE file, DWORD* position) {
  if (!position) return E_INVALIDARG;
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_READ;
  // A position past 4 GiB is not reported cut to its low word.
  if (pos > 0xFFFFFFFFu) return KV_E_TOOBIG;
  *position = static_cast<DWORD>(pos);
  return S_OK;
}

HRESULT KVAPI riff_RestoreLocation(HANDLE file, DWORD position) {
  Seek(file, position, FILE_BEGIN);
  return S_OK;
}

DWORD KVAPI riff_SkipChunk(HANDLE file, DWORD size) {
  uint64_t p = Padded(size);
  Forward(file, p);
  // 0xFFFFFFFF pads to 2^32, which the 32-bit result cannot hold: it
  // saturates (the file position itself moves the whole way).
  return p > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(p);
}

HRESULT KVAPI riff_GetFileSize(HANDLE file, DWORD* size) {
  if (size) *size = 0;
  if (!Seek(file, 0, FILE_BEGIN)) return KV_E_READ;
  DWORD content = 0;
  HRESULT hr = riff_ReadFileID(file, &content, nullptr);
  if (FAILED(hr)) return hr;
  // The RIFF size field + 4 (the content size + 8); a field so large that
  // this does not fit 32 bits is reported instead of wrapped.
  uint64_t total = static_cast<uint64_t>(content) + 8;
  if (total > 0xFFFFFFFFu) return KV_E_TOOBIG;
  if (size) *size = static_cast<DWORD>(total);
  return S_OK;
}

HRESULT KVAPI riff_SetRIFFSize(HANDLE file, DWORD size) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_WRITE;
  HRESULT hr = S_OK;
  if (!Seek(file, 4, FILE_BEGIN) || !WriteU32(file, size)) hr = KV_E_WRITE;
  Seek(file, static_cast<int64_t>(pos), FILE_BEGIN);
  return hr;
}

HRESULT KVAPI riff_UpdateRIFFSize(HANDLE file, int64_t delta) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_READ;
  HRESULT hr = S_OK;
  DWORD old = 0;
  if (!Seek(file, 4, FILE_BEGIN) || !ReadU32(file, &old)) {
    hr = KV_E_READ;
  } else {
    int64_t updated = static_cast<int64_t>(old) + delta;
    if (updated > static_cast<int64_t>(kMaxRIFFSize)) {
      // The file outgrew the format: cut it back to what the old size
      // described (never longer than it is) and report it.
      uint64_t keep = static_cast<uint64_t>(old) + 8, length = 0;
      if (GetLength(file, &length) && length > keep && Seek(file, static_cast<int64_t>(keep), FILE_BEGIN))
        kvfile::SetEnd(file);
      hr = KV_E_TOOBIG;
    } else if (updated < 4) {
      // A size below the form type's 4 bytes would wrap or leave no form:
      // the field stays as it is.
      hr = KV_E_BADLENGTH;
    } else if (!Seek(file, 4, FILE_BEGIN) || !WriteU32(file, static_cast<DWORD>(updated))) {
      hr = KV_E_WRITE;
    }
  }
  Seek(file, static_cast<int64_t>(pos), FILE_BEGIN);
  return hr;
}

HRESULT KVAPI riff_FindChunkHeader(HANDLE file, DWORD id, DWORD* size, DWORD* remaining) {
  DWORD r = remaining ? *remaining : 0;
  for (;;) {
    if (remaining && r < 8) {
      *remaining = r;
      return KV_E_NOTFOUND;
    }
    DWORD cid = 0, csize = 0;
    if (!ReadU32(file, &cid) || !ReadU32(file, &csize)) {
      if (remaining) *remaining = r;
      return KV_E_READ;
    }
    DWORD after = r - 8;  // the bytes after this header (unused without a counter)
    if (cid == id) {
      if (size) *size = csize;
      if (remaining) *remaining = after;
      return S_OK;
    }
    uint64_t p = Padded(csize);
    if (!Forward(file, p)) {
      if (remaining) *remaining = after;
      return KV_E_READ;
    }
    r = Reduce(after, p);
  }
}

HRESULT KVAPI riff_FindChunkHeaderInRIFF(HANDLE file, DWORD id, DWORD* size, DWORD* remaining) {
  DWORD content = 0;
  HRESULT hr = Seek(file, 0, FILE_BEGIN) ? riff_ReadFileID(file, &content, nullptr) : KV_E_READ;
  if (SUCCEEDED(hr)) hr = riff_FindChunkHeader(file, id, size, &content);
  if (remaining) *remaining = content;
  return hr;
}

HRESULT KVAPI riff_FindListChunk(HANDLE file, DWORD listType, DWORD* size, DWORD* remaining) {
  return FindList(file, listType, size, remaining);
}

HRESULT KVAPI riff_FindListChunkFromStart(HANDLE file, DWORD listType, DWORD* size) {
  if (!Seek(file, 0, FILE_BEGIN)) return KV_E_READ;
  DWORD content = 0;
  HRESULT hr = riff_ReadFileID(file, &content, nullptr);
  if (FAILED(hr)) return hr;
  return FindList(file, listType, size, &content);
}

HRESULT KVAPI riff_GetNumListEntries(HANDLE file, DWORD* count, DWORD* remaining) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  uint64_t start = 0;
  if (!GetPos(file, &start)) return KV_E_READ;
  DWORD r = remaining ? *remaining : 0;
  HRESULT hr = S_OK;
  while (!remaining || r >= 8) {
    DWORD id = 0, size = 0;
    if (!ReadU32(file, &id) || !ReadU32(file, &size)) {
      hr = KV_E_READ;
      break;
    }
    uint64_t p = Padded(size);
    Forward(file, p);
    // An entry running past the end of the list is the last one counted:
    // the counter stops at 0 instead of wrapping into what follows the list.
    r = Reduce(r - 8, p);
    ++*count;
  }
  Seek(file, static_cast<int64_t>(start), FILE_BEGIN);
  return hr;
}

HRESULT KVAPI riff_SeekListEntry(HANDLE file, DWORD index, DWORD* remaining) {
  if (index == 0) return S_OK;
  DWORD r = remaining ? *remaining : 0;
  DWORD done = 0;
  while (!remaining || r >= 8) {
    DWORD id = 0, size = 0;
    if (!ReadU32(file, &id) || !ReadU32(file, &size)) {
      if (remaining) *remaining = r;
      return KV_E_READ;
    }
    uint64_t p = Padded(size);
    Forward(file, p);
    r = Reduce(r - 8, p);
    if (++done == index) {
      if (remaining) *remaining = r;
      return S_OK;
    }
  }
  *remaining = r;
  return KV_E_NOTFOUND;
}

HRESULT KVAPI riff_DeleteChunk(HANDLE file, DWORD id, DWORD* removed, BOOL isList) {
  if (removed) *removed = 0;
  if (!Seek(file, 0, FILE_BEGIN)) return KV_E_READ;
  DWORD content = 0;
  HRESULT hr = riff_ReadFileID(file, &content, nullptr);
  if (FAILED(hr)) return hr;
  DWORD size = 0, remaining = content;
  hr = isList ? FindList(file, id, &size, &remaining) : riff_FindChunkHeader(file, id, &size, &remaining);
  if (FAILED(hr)) return hr;
  uint64_t pos = 0, length = 0;
  if (!GetPos(file, &pos) || !GetLength(file, &length)) return KV_E_READ;
  uint64_t header = isList ? 12 : 8;
  uint64_t start = pos - header;
  uint64_t total = Padded(size) + header;
  // A chunk whose size runs past the end of the file removes only the bytes
  // that are there; the RIFF size is lowered by exactly what is removed, and
  // a removal the RIFF size cannot account for is refused before anything
  // is moved.
  if (start + total > length) total = length - start;
  if (total > content) return KV_E_BADLENGTH;

  BYTE buffer[kMoveBlock];
  uint64_t readPos = start + total, writePos = start;
  for (;;) {
    DWORD got = 0;
    if (!Seek(file, static_cast<int64_t>(readPos), FILE_BEGIN) || !kvfile::Read(file, buffer, kMoveBlock, &got))
      return KV_E_READ;
    if (got) {
      if (!Seek(file, static_cast<int64_t>(writePos), FILE_BEGIN) || !WriteAll(file, buffer, got))
        return KV_E_WRITE;
    }
    readPos += got;
    writePos += got;
    if (got < kMoveBlock) break;
  }
  if (!Seek(file, static_cast<int64_t>(writePos), FILE_BEGIN) || !kvfile::SetEnd(file)) return KV_E_WRITE;
  hr = riff_UpdateRIFFSize(file, -static_cast<int64_t>(total));
  if (removed) *removed = static_cast<DWORD>(total);
  return hr;
}

HRESULT KVAPI riff_WriteANSIString(HANDLE file, const wchar_t* text, DWORD* written) {
  if (!written) return E_INVALIDARG;
  *written = 0;
  size_t n = text ? wcslen(text) : 0;
  if (n > 0x7FFFFFF0u) return E_INVALIDARG;
  // The ANSI form may take more bytes than characters (double-byte code
  // pages): size the buffer by the converted length so nothing is cut.
  int bytes = 0;
  if (n) {
    bytes = KvAnsiFromWide(text, static_cast<int>(n), nullptr, 0);
    if (bytes <= 0 || bytes > 0x7FFFFFF0) return E_INVALIDARG;
  }
  DWORD total = static_cast<DWORD>(bytes) + 1;
  char* buf = new (std::nothrow) char[total];
  if (!buf) return E_OUTOFMEMORY;
  if (n) KvAnsiFromWide(text, static_cast<int>(n), buf, bytes);
  buf[bytes] = 0;
  bool ok = WriteAll(file, buf, total);
  delete[] buf;
  if (!ok) return KV_E_WRITE;
  if (total & 1) {
    BYTE pad = 0;
    if (!WriteAll(file, &pad, 1)) return KV_E_WRITE;
    ++total;
  }
  *written = total;
  return S_OK;
}

HRESULT KVAPI riff_ReadANSIString(HANDLE file, wchar_t* buffer, DWORD bufferChars, DWORD* size) {
  // A buffer without room for the terminating zero cannot receive a string.
  if (!buffer || !size || bufferChars == 0) return E_INVALIDARG;
  uint64_t start = 0;
  if (!GetPos(file, &start)) return KV_E_READ;
  DWORD chunk = *size;
  DWORD m = chunk < bufferChars ? chunk : bufferChars;
  buffer[0] = 0;
  if (m) {
    char* tmp = new (std::nothrow) char[m];
    if (!tmp) return E_OUTOFMEMORY;
    if (!ReadAll(file, tmp, m)) {
      delete[] tmp;
      return KV_E_READ;
    }
    tmp[m - 1] = 0;
    // At most m wide characters come out of m bytes, and m <= bufferChars.
    if (KvWideFromAnsi(tmp, buffer, static_cast<int>(bufferChars)) <= 0) buffer[0] = 0;
    delete[] tmp;
  }
  buffer[bufferChars - 1] = 0;
  Seek(file, static_cast<int64_t>(start + Padded(chunk)), FILE_BEGIN);
  // The count grows by one on success (callers told apart from the chunk's
  // own size by it); saturates rather than wrapping.
  if (*size != 0xFFFFFFFFu) ++*size;
  return S_OK;
}

HRESULT KVAPI riff_ReadRIFFCDDA(HANDLE file, BYTE* record24) {
  if (!record24) return E_INVALIDARG;
  DWORD content = 0, form = 0;
  HRESULT hr = riff_ReadFileID(file, &content, &form);
  if (FAILED(hr)) return hr;
  if (form != kFormCDDA) return KV_E_CORRUPT;
  DWORD size = 0;
  hr = riff_FindChunkHeader(file, kIdFmt, &size, &content);
  if (FAILED(hr)) return hr;
  if (size != kCDDAFormatSize) return KV_E_VERSION;
  if (!ReadAll(file, record24, kCDDAFormatSize)) return KV_E_READ;
  return S_OK;
}

HRESULT KVAPI riff_ReadCDAFile(const wchar_t* path, DWORD* track, DWORD* firstSector, DWORD* startFrames,
                               DWORD* lengthSectors, DWORD* serial) {
  BYTE rec[kCDDAFormatSize];
  memset(rec, 0, sizeof rec);
  HRESULT hr = KV_E_OPEN;
  HANDLE file = path ? kvfile::Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
  if (file != INVALID_HANDLE_VALUE) {
    hr = riff_ReadRIFFCDDA(file, rec);
    kvfile::Close(file);
  }
  // Record: u16 version, u16 track, u32 serial, u32 first sector, u32 length
  // in sectors, start {frame, second, minute, reserved}, length likewise.
  if (track) *track = static_cast<DWORD>(rec[2]) | (static_cast<DWORD>(rec[3]) << 8);
  if (serial) *serial = GetLE32(rec + 4);
  if (firstSector) *firstSector = GetLE32(rec + 8);
  if (lengthSectors) *lengthSectors = GetLE32(rec + 12);
  if (startFrames) *startFrames = (static_cast<DWORD>(rec[18]) * 60 + rec[17]) * 75 + rec[16];
  return hr;
}
