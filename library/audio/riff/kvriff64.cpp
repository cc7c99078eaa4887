// 64-bit RIFF (Wave64) chunk I/O on file handles.
//
// Chunks carry a 16-byte GUID id and a 64-bit little-endian size that counts
// the 24-byte header; the data is followed by zero bytes up to the next
// multiple of 8. The file header is the "riff" chunk whose size is the whole
// file's length, followed by the form GUID; the body starts at offset 40.
// Sizes passed to and returned by these functions are data sizes.
//
// Sizes and counters read from a file are never trusted: every walk moves
// forward by at least one header per step, a skip never moves backwards, and
// reads that would need more bytes than the file holds fail cleanly.
#include <string.h>

#include "kvmemblock.h"
#include "kvriff.h"
#include "kvriff_io.h"

namespace {

using kvriffio::BytesAhead;
using kvriffio::Forward;
using kvriffio::GetLength;
using kvriffio::GetPos;
using kvriffio::ReadAll;
using kvriffio::RoundUp8;
using kvriffio::SetPos;
using kvriffio::WriteAll;

constexpr uint64_t kHeaderSize = 24;  // GUID + u64 size
constexpr uint64_t kGuidSize = 16;
constexpr uint64_t kBodyStart = 40;    // file header + form GUID
constexpr uint64_t kSizeFieldOffset = 16;
constexpr DWORD kMoveBlock = 4096;

bool WriteZeros(HANDLE file, DWORD count) {
  static const BYTE zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  return WriteAll(file, zeros, count);
}

// Walks chunks from the current position looking for id; remaining is the
// caller's counter or null for an unbounded walk (it ends at a failed read).
HRESULT FindChunk(HANDLE file, const GUID& id, uint64_t* size, int64_t* remaining) {
  int64_t r = remaining ? *remaining : 0;
  if (remaining && r < static_cast<int64_t>(kHeaderSize)) {
    *remaining = r;
    return KV_E_NOTFOUND;
  }
  for (;;) {
    GUID found;
    uint64_t dataSize = 0;
    HRESULT hr = riff64_ReadChunkHeader(file, &found, &dataSize);
    if (FAILED(hr)) return hr;
    int64_t after = r - static_cast<int64_t>(kHeaderSize);
    if (KvGuidEquals(found, id)) {
      if (size) *size = dataSize;
      if (remaining) *remaining = after;
      return S_OK;
    }
    uint64_t skip = RoundUp8(dataSize);
    if (!Forward(file, skip)) return KV_E_READ;
    if (remaining) {
      // after >= 0 here; a skip past it leaves a negative count (saturated).
      uint64_t a = static_cast<uint64_t>(after);
      r = skip <= a ? static_cast<int64_t>(a - skip)
                    : (skip - a >= (uint64_t(1) << 63) ? INT64_MIN : -static_cast<int64_t>(skip - a));
      if (r < static_cast<int64_t>(kHeaderSize)) {
        *remaining = r;
        return KV_E_NOTFOUND;
      }
    }
  }
}

// Reads the file header from offset 0 and gives the content size as a
// signed counter for a bounded walk.
HRESULT StartAtHeader(HANDLE file, int64_t* counter) {
  if (!SetPos(file, 0)) return KV_E_READ;
  uint64_t content = 0;
  GUID form;
  HRESULT hr = riff64_ReadFileID(file, &content, &form);
  if (FAILED(hr)) return hr;
  *counter = content > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(content);
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT KVAPI riff64_ValidateChunkHeader(GUID id, uint64_t size) {
  (void)id;
  if ((size & 7) != 0 || (size & 0x800000000ULL) != 0) return KV_E_BADLENGTH;
  if (size == 0) return KV_E_ZEROLENGTH;
  return S_OK;
}

HRESULT KVAPI riff64_ReadChunkHeader(HANDLE file, GUID* id, uint64_t* size) {
  if (!id || !size) return E_INVALIDARG;
  uint64_t field = 0;
  if (!ReadAll(file, id, sizeof(GUID)) || !ReadAll(file, &field, sizeof(field))) return KV_E_READ;
  // A size field below the header's own 24 bytes, or one so large that it is
  // negative as a signed value, gives an empty chunk.
  int64_t data = static_cast<int64_t>(field - kHeaderSize);
  *size = (field < kHeaderSize || data < 0) ? 0 : static_cast<uint64_t>(data);
  return S_OK;
}

HRESULT KVAPI riff64_ReadListHeader(HANDLE file, GUID* listType, int64_t* size) {
  if (!listType || !size) return E_INVALIDARG;
  GUID id;
  uint64_t dataSize = 0;
  HRESULT hr = riff64_ReadChunkHeader(file, &id, &dataSize);
  if (FAILED(hr)) return hr;
  *size = static_cast<int64_t>(dataSize);
  if (!KvGuidEquals(id, KVRIFF64_LIST)) return KV_E_NOLIST;
  *size -= static_cast<int64_t>(kGuidSize);
  if (!ReadAll(file, listType, sizeof(GUID))) return KV_E_READ;
  return S_OK;
}

HRESULT KVAPI riff64_ReadFileID(HANDLE file, uint64_t* contentSize, GUID* formType) {
  if (contentSize) *contentSize = 0;
  // A header that cannot be read is judged by its id: an empty or short file
  // is "no riff header".
  GUID id;
  memset(&id, 0, sizeof(id));
  uint64_t dataSize = 0;
  riff64_ReadChunkHeader(file, &id, &dataSize);
  if (contentSize) *contentSize = dataSize > kGuidSize ? dataSize - kGuidSize : 0;
  if (!KvGuidEquals(id, KVRIFF64_RIFF)) return KV_E_NORIFF;
  GUID form;
  if (!ReadAll(file, formType ? formType : &form, sizeof(GUID))) return KV_E_READ;
  return S_OK;
}

HRESULT KVAPI riff64_ReadData(HANDLE file, void* buffer, uint64_t size) {
  if (size > 0xFFFFFFFFULL) return E_INVALIDARG;  // more than one read can give
  if (size != 0 && !buffer) return E_INVALIDARG;
  if (!ReadAll(file, buffer, static_cast<DWORD>(size))) return KV_E_READ;
  if ((size & 7) != 0) Forward(file, 8 - (size & 7));
  return S_OK;
}

HRESULT KVAPI riff64_ReadDataBounded(HANDLE file, void* buffer, DWORD bufferSize, DWORD chunkSize) {
  DWORD n = bufferSize < chunkSize ? bufferSize : chunkSize;
  if (n != 0 && !buffer) return E_INVALIDARG;
  if (!ReadAll(file, buffer, n)) return KV_E_READ;
  uint64_t rest = static_cast<uint64_t>(chunkSize - n) + ((8 - (chunkSize & 7)) & 7);
  Forward(file, rest);
  return S_OK;
}

HRESULT KVAPI riff64_ReadDataAlloc(HANDLE file, KVRIFFDATA* block) {
  if (!block) return E_INVALIDARG;
  block->data = nullptr;
  if (block->size == 0) return S_OK;
  // A size from a corrupt file must not make us allocate what is not there.
  uint64_t ahead = 0;
  if (!BytesAhead(file, &ahead) || block->size > ahead) return KV_E_READ;
  void* data = kvblock::Alloc(block->size);
  if (!data) return E_OUTOFMEMORY;
  HRESULT hr = riff64_ReadData(file, data, block->size);
  if (FAILED(hr)) {
    kvblock::Free(data);
    return hr;
  }
  block->data = data;
  return S_OK;
}

HRESULT KVAPI riff64_WriteChunkHeader(HANDLE file, GUID id, uint64_t dataSize) {
  uint64_t field = dataSize + kHeaderSize;
  if (!WriteAll(file, &id, sizeof(GUID)) || !WriteAll(file, &field, sizeof(field))) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff64_WriteData(HANDLE file, const void* data, uint64_t size, uint64_t* written) {
  if (written) *written = 0;
  if (size > 0xFFFFFFFFULL) return E_INVALIDARG;  // more than one write can take
  if (size != 0 && !data) return E_INVALIDARG;
  if (!WriteAll(file, data, static_cast<DWORD>(size))) return KV_E_WRITE;
  DWORD pad = static_cast<DWORD>((8 - (size & 7)) & 7);
  if (!WriteZeros(file, pad)) return KV_E_WRITE;
  if (written) *written = size + pad;
  return S_OK;
}

HRESULT KVAPI riff64_WriteChunk(HANDLE file, GUID id, const void* data, uint64_t size, uint64_t* written) {
  if (written) *written = 0;
  if (size > 0xFFFFFFFFULL) return E_INVALIDARG;
  HRESULT hr = riff64_WriteChunkHeader(file, id, size);
  if (FAILED(hr)) return hr;
  uint64_t body = 0;
  hr = riff64_WriteData(file, data, size, &body);
  if (FAILED(hr)) return hr;
  if (written) *written = body + kHeaderSize;
  return S_OK;
}

HRESULT KVAPI riff64_WriteListHeader(HANDLE file, GUID listType, uint64_t size) {
  HRESULT hr = riff64_WriteChunkHeader(file, KVRIFF64_LIST, size);
  if (FAILED(hr)) return hr;
  if (!WriteAll(file, &listType, sizeof(GUID))) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff64_WriteFileID(HANDLE file, GUID formType, uint64_t size) {
  HRESULT hr = riff64_WriteChunkHeader(file, KVRIFF64_RIFF, size);
  if (FAILED(hr)) return hr;
  if (!WriteAll(file, &formType, sizeof(GUID))) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff64_WriteToFile(HANDLE file, const void* data, uint64_t size) {
  if (size > 0xFFFFFFFFULL) return E_INVALIDARG;
  if (size != 0 && !data) return E_INVALIDARG;
  if (!WriteAll(file, data, static_cast<DWORD>(size))) return KV_E_WRITE;
  return S_OK;
}

HRESULT KVAPI riff64_WriteChunkToFile(HANDLE file, GUID id, const void* data, uint64_t size) {
  uint64_t start = 0;
  HRESULT hr = riff64_PrepareChunk(file, id, &start);
  if (FAILED(hr)) return hr;
  hr = riff64_WriteToFile(file, data, size);
  if (FAILED(hr)) return hr;
  return riff64_CompleteChunk(file, start);
}

HRESULT KVAPI riff64_SeekDataStart(HANDLE file) { return SetPos(file, kBodyStart) ? S_OK : KV_E_READ; }

HRESULT KVAPI riff64_SaveLocation(HANDLE file, uint64_t* position) {
  if (!position) return E_INVALIDARG;
  return GetPos(file, position) ? S_OK : KV_E_READ;
}

HRESULT KVAPI riff64_RestoreLocation(HANDLE file, uint64_t position) {
  return SetPos(file, position) ? S_OK : KV_E_READ;
}

uint64_t KVAPI riff64_SkipChunk(HANDLE file, uint64_t size) {
  uint64_t amount = RoundUp8(size);
  Forward(file, amount);
  return amount;
}

HRESULT KVAPI riff64_SetRIFFSize(HANDLE file, uint64_t size) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_WRITE;
  uint64_t field = size + kHeaderSize;
  bool ok = SetPos(file, kSizeFieldOffset) && WriteAll(file, &field, sizeof(field));
  SetPos(file, pos);
  return ok ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI riff64_UpdateRIFFSize(HANDLE file, int64_t delta) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_READ;
  HRESULT hr = S_OK;
  uint64_t field = 0;
  if (!SetPos(file, kSizeFieldOffset) || !ReadAll(file, &field, sizeof(field))) {
    hr = KV_E_READ;
  } else {
    field += static_cast<uint64_t>(delta);
    if (!SetPos(file, kSizeFieldOffset) || !WriteAll(file, &field, sizeof(field))) hr = KV_E_WRITE;
  }
  SetPos(file, pos);
  return hr;
}

uint64_t KVAPI riff64_AmountWritten(HANDLE file, uint64_t start) {
  uint64_t pos = 0;
  GetPos(file, &pos);
  return pos - start;
}

HRESULT KVAPI riff64_Pad(HANDLE file, uint64_t start) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return KV_E_WRITE;
  DWORD pad = static_cast<DWORD>((8 - ((pos - start) & 7)) & 7);
  return WriteZeros(file, pad) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI riff64_PrepareChunk(HANDLE file, GUID id, uint64_t* start) {
  if (!start) return E_INVALIDARG;
  if (!GetPos(file, start)) return KV_E_WRITE;
  return riff64_WriteChunkHeader(file, id, 0);
}

HRESULT KVAPI riff64_CompleteChunk(HANDLE file, uint64_t start) {
  HRESULT hr = riff64_Pad(file, start);
  if (FAILED(hr)) return hr;
  uint64_t end = 0;
  if (!GetPos(file, &end) || end < start + kHeaderSize) return KV_E_WRITE;
  // The size field counts the header, the data and the padding.
  uint64_t field = end - start;
  bool ok = SetPos(file, start + kSizeFieldOffset) && WriteAll(file, &field, sizeof(field));
  if (!SetPos(file, end)) ok = false;
  return ok ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI riff64_PrepareList(HANDLE file, GUID listType, uint64_t* start) {
  if (!start) return E_INVALIDARG;
  if (!GetPos(file, start)) return KV_E_WRITE;
  return riff64_WriteListHeader(file, listType, 0);
}

HRESULT KVAPI riff64_FindChunkHeader(HANDLE file, GUID id, uint64_t* size, int64_t* remaining) {
  return FindChunk(file, id, size, remaining);
}

HRESULT KVAPI riff64_FindChunkHeaderInRIFF(HANDLE file, GUID id, uint64_t* size, int64_t* remaining) {
  int64_t r = 0;
  HRESULT hr = StartAtHeader(file, &r);
  if (FAILED(hr)) return hr;
  hr = FindChunk(file, id, size, &r);
  if (remaining) *remaining = r;
  return hr;
}

HRESULT KVAPI riff64_FindListChunk(HANDLE file, GUID listType, uint64_t* size, int64_t* remaining) {
  int64_t local = 0;
  int64_t* r = remaining ? remaining : &local;
  for (;;) {
    uint64_t listSize = 0;
    HRESULT hr = FindChunk(file, KVRIFF64_LIST, &listSize, remaining ? r : nullptr);
    if (FAILED(hr)) return hr;
    // The list type needs 16 bytes.
    if (remaining && *r < static_cast<int64_t>(kGuidSize)) return KV_E_NOTFOUND;
    GUID type;
    if (!ReadAll(file, &type, sizeof(type))) return KV_E_READ;
    if (remaining) *r -= static_cast<int64_t>(kGuidSize);
    if (KvGuidEquals(type, listType)) {
      if (size) *size = listSize > kGuidSize ? listSize - kGuidSize : 0;
      return S_OK;
    }
    // A list too short for its own type is skipped as empty: never backwards.
    uint64_t rounded = RoundUp8(listSize);
    uint64_t rest = rounded > kGuidSize ? rounded - kGuidSize : 0;
    if (!Forward(file, rest)) return KV_E_READ;
    if (remaining) {
      *r = static_cast<uint64_t>(*r) < rest ? 0 : *r - static_cast<int64_t>(rest);
    }
  }
}

HRESULT KVAPI riff64_FindListChunkFromStart(HANDLE file, GUID listType, uint64_t* size) {
  int64_t r = 0;
  HRESULT hr = StartAtHeader(file, &r);
  if (FAILED(hr)) return hr;
  return riff64_FindListChunk(file, listType, size, &r);
}

HRESULT KVAPI riff64_GetNumListEntries(HANDLE file, DWORD* count, int64_t* remaining) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  uint64_t start = 0;
  if (!GetPos(file, &start)) return KV_E_READ;
  // The walk works on a copy of the counter: the position is given back too.
  int64_t r = remaining ? *remaining : 0;
  DWORD n = 0;
  while (!remaining || r >= static_cast<int64_t>(kHeaderSize)) {
    GUID id;
    uint64_t dataSize = 0;
    if (!remaining) {
      // Unbounded: the count ends cleanly at the end of the file.
      uint64_t ahead = 0;
      if (!BytesAhead(file, &ahead)) break;
      if (ahead == 0) break;
    }
    HRESULT hr = riff64_ReadChunkHeader(file, &id, &dataSize);
    if (FAILED(hr)) {
      SetPos(file, start);
      return hr;
    }
    uint64_t skip = RoundUp8(dataSize);
    if (!Forward(file, skip)) {
      SetPos(file, start);
      return KV_E_READ;
    }
    if (remaining) {
      r -= static_cast<int64_t>(kHeaderSize);  // was >= 24
      r = static_cast<uint64_t>(r) < skip ? -1 : r - static_cast<int64_t>(skip);
    }
    ++n;
  }
  *count = n;
  SetPos(file, start);
  return S_OK;
}

HRESULT KVAPI riff64_SeekListEntry(HANDLE file, DWORD index, int64_t* remaining) {
  if (index == 0) return S_OK;
  int64_t* r = remaining;
  DWORD done = 0;
  while (!remaining || *r >= static_cast<int64_t>(kHeaderSize)) {
    GUID id;
    uint64_t dataSize = 0;
    HRESULT hr = riff64_ReadChunkHeader(file, &id, &dataSize);
    if (FAILED(hr)) return hr;
    uint64_t skip = RoundUp8(dataSize);
    if (!Forward(file, skip)) return KV_E_READ;
    if (remaining) {
      *r -= static_cast<int64_t>(kHeaderSize);  // was >= 24
      *r = static_cast<uint64_t>(*r) < skip ? -1 : *r - static_cast<int64_t>(skip);
    }
    if (++done == index) return S_OK;
  }
  return KV_E_NOTFOUND;
}

HRESULT KVAPI riff64_DeleteChunk(HANDLE file, GUID id, uint64_t* removed) {
  if (removed) *removed = 0;
  uint64_t length = 0;
  if (!GetLength(file, &length)) return KV_E_READ;
  int64_t r = 0;
  HRESULT hr = StartAtHeader(file, &r);
  if (FAILED(hr)) return hr;
  uint64_t dataSize = 0;
  hr = FindChunk(file, id, &dataSize, &r);
  if (FAILED(hr)) return hr;
  uint64_t dataPos = 0;
  if (!GetPos(file, &dataPos)) return KV_E_READ;
  uint64_t start = dataPos - kHeaderSize;
  uint64_t total = RoundUp8(dataSize) + kHeaderSize;
  // A chunk whose size runs past the end of the file cannot be cut out
  // without guessing: refuse before anything is moved. (A last chunk whose
  // padding the file lacks is still whole.)
  if (dataSize > length - dataPos) return KV_E_CORRUPT;
  if (total > length - start) total = length - start;
  uint64_t readPos = start + total, writePos = start;
  uint64_t left = length - readPos;
  BYTE buffer[kMoveBlock];
  while (left > 0) {
    DWORD n = left < kMoveBlock ? static_cast<DWORD>(left) : kMoveBlock;
    if (!SetPos(file, readPos) || !ReadAll(file, buffer, n)) return KV_E_READ;
    if (!SetPos(file, writePos) || !WriteAll(file, buffer, n)) return KV_E_WRITE;
    readPos += n;
    writePos += n;
    left -= n;
  }
  if (!SetPos(file, writePos) || !kvfile::SetEnd(file)) return KV_E_WRITE;
  hr = riff64_UpdateRIFFSize(file, -static_cast<int64_t>(total));
  if (removed) *removed = total;
  return hr;
}

HRESULT KVAPI riff64_getGUIDLabel(GUID id, wchar_t* label, DWORD labelChars) {
  (void)id;
  (void)label;
  (void)labelChars;
  return S_OK;
}

HRESULT KVAPI riff64_getGUIDLabelProperly(GUID id, wchar_t* label, DWORD labelChars) {
  (void)id;
  (void)label;
  (void)labelChars;
  return S_OK;
}

}  // extern "C"
