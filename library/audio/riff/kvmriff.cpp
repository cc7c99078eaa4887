// RIFF images in memory: the riff_ chunk operations over a caller-owned
// block through a cursor record. The image may come from a file or a
// stream, so every read is bounded by the data end and every write by the
// capacity end, and every size read from the image is checked against the
// bytes that are really there.
#include "kvmriff.h"

#include <stdint.h>
#include <string.h>

#include "kvbyteorder.h"
#include "kvmemblock.h"

namespace {

const DWORD kIdRIFF = KVRIFF_FOURCC('R', 'I', 'F', 'F');
const DWORD kIdLIST = KVRIFF_FOURCC('L', 'I', 'S', 'T');
const DWORD kIdINFO = KVRIFF_FOURCC('I', 'N', 'F', 'O');
const DWORD kIdWAVE = KVRIFF_FOURCC('W', 'A', 'V', 'E');
const DWORD kIdFmt = KVRIFF_FOURCC('f', 'm', 't', ' ');
const DWORD kIdData = KVRIFF_FOURCC('d', 'a', 't', 'a');

// Largest RIFF size field (see riff_UpdateRIFFSize).
const uint64_t kMaxRIFFSize = 0xFFFFFFF7u;

// Room for a format converted from a wave-format record.
const DWORD kWfxBufferSize = 136;

uint64_t Padded(DWORD size) { return static_cast<uint64_t>(size) + (size & 1); }

DWORD Reduce(DWORD remaining, uint64_t amount) {
  return amount >= remaining ? 0 : static_cast<DWORD>(remaining - amount);
}

// Puts a record's pointers back in order (the record is the caller's and
// may have been changed): base <= data end <= capacity end, and the cursor
// within [base, data end]. A record without a block holds nothing.
void Normalize(_tMRIFF* m) {
  if (!m->base) {
    m->cursor = m->dataEnd = m->capacityEnd = nullptr;
    return;
  }
  uintptr_t b = reinterpret_cast<uintptr_t>(m->base), c = reinterpret_cast<uintptr_t>(m->cursor),
            d = reinterpret_cast<uintptr_t>(m->dataEnd), e = reinterpret_cast<uintptr_t>(m->capacityEnd);
  if (e < b) e = b;
  if (d < b) d = b;
  if (d > e) d = e;
  if (c < b) c = b;
  if (c > d) c = d;
  m->cursor = m->base + (c - b);
  m->dataEnd = m->base + (d - b);
  m->capacityEnd = m->base + (e - b);
}

size_t Offset(const _tMRIFF* m) { return static_cast<size_t>(m->cursor - m->base); }
size_t DataLength(const _tMRIFF* m) { return static_cast<size_t>(m->dataEnd - m->base); }
size_t Available(const _tMRIFF* m) { return static_cast<size_t>(m->dataEnd - m->cursor); }
size_t Room(const _tMRIFF* m) { return static_cast<size_t>(m->capacityEnd - m->cursor); }

// Moves the cursor to an offset from the base, clamped to [base, data end].
DWORD MoveTo(_tMRIFF* m, int64_t offset) {
  int64_t end = static_cast<int64_t>(DataLength(m));
  if (offset < 0) offset = 0;
  if (offset > end) offset = end;
  m->cursor = m->base + offset;
  return static_cast<DWORD>(offset);
}

void Advance(_tMRIFF* m, uint64_t distance) {
  size_t avail = Available(m);
  m->cursor += distance < avail ? static_cast<size_t>(distance) : avail;
}

DWORD ReadBytes(_tMRIFF* m, void* dst, DWORD count) {
  size_t avail = Available(m);
  DWORD n = count < avail ? count : static_cast<DWORD>(avail);
  if (n) memcpy(dst, m->cursor, n);
  m->cursor += n;
  return n;
}

DWORD WriteBytes(_tMRIFF* m, const void* src, DWORD count) {
  size_t room = Room(m);
  DWORD n = count < room ? count : static_cast<DWORD>(room);
  if (n) memmove(m->cursor, src, n);
  m->cursor += n;
  if (m->cursor > m->dataEnd) m->dataEnd = m->cursor;
  return n;
}

// A little-endian u32; a short read leaves the missing high bytes 0.
bool ReadU32(_tMRIFF* m, DWORD* value) {
  BYTE b[4] = {0, 0, 0, 0};
  DWORD got = ReadBytes(m, b, 4);
  *value = GetLE32(b);
  return got == 4;
}

bool WriteU32(_tMRIFF* m, DWORD value) {
  BYTE b[4];
  PutLE32(b, value);
  return WriteBytes(m, b, 4) == 4;
}

HRESULT FindList(_tMRIFF* m, DWORD listType, DWORD* size, DWORD* remaining) {
  for (;;) {
    DWORD listSize = 0;
    HRESULT hr = mriff_FindChunkHeader(m, kIdLIST, &listSize, remaining);
    if (FAILED(hr)) return hr;
    if (listSize < 4) {
      // Too short to hold a list type: step over it as a plain chunk.
      Advance(m, Padded(listSize));
      if (remaining) *remaining = Reduce(*remaining, Padded(listSize));
      continue;
    }
    if (remaining && *remaining < 4) return KV_E_NOTFOUND;
    DWORD type = 0;
    if (!ReadU32(m, &type)) return KV_E_READ;
    if (remaining) *remaining -= 4;
    if (type == listType) {
      if (size) *size = listSize - 4;
      return S_OK;
    }
    uint64_t rest = Padded(listSize) - 4;
    Advance(m, rest);
    if (remaining) *remaining = Reduce(*remaining, rest);
  }
}

// Reads the format chunk's first bytes (up to outSize, never past the
// image) and the data chunk's size of a WAVE image.
HRESULT ReadWaveFormat(void* out, DWORD outSize, const void* block, DWORD blockSize, DWORD* dataSize, DWORD* copied) {
  *copied = 0;
  if (!block && blockSize) return E_INVALIDARG;
  _tMRIFF m;
  // Only read through: the block is not written.
  HRESULT hr = mriff_Init(&m, const_cast<void*>(block), blockSize, blockSize);
  if (FAILED(hr)) return hr;
  LONG content = 0;
  DWORD form = 0;
  hr = mriff_ReadFileID(&m, &content, &form);
  if (FAILED(hr)) return hr;
  if (form != kIdWAVE) return E_FAIL;
  m.cursor = m.base;
  DWORD fmtSize = 0, remaining = blockSize;
  hr = mriff_FindChunkHeaderInRIFF(&m, kIdFmt, &fmtSize, &remaining);
  if (FAILED(hr)) return hr;
  const BYTE* body = m.cursor;
  size_t bodyAvail = Available(&m);
  m.cursor = m.base;
  DWORD size = 0;
  remaining = blockSize;
  hr = mriff_FindChunkHeaderInRIFF(&m, kIdData, &size, &remaining);
  if (FAILED(hr)) return hr;
  if (dataSize) *dataSize = size;
  if (out) {
    memset(out, 0, outSize);
    DWORD n = fmtSize < outSize ? fmtSize : outSize;
    if (n > bodyAvail) n = static_cast<DWORD>(bodyAvail);
    memcpy(out, body, n);
    *copied = n;
  }
  return S_OK;
}

}  // namespace

HRESULT KVAPI mriff_Init(_tMRIFF* m, void* base, DWORD dataSize, DWORD capacity) {
  if (!m) return E_POINTER;
  if (dataSize > capacity) return E_INVALIDARG;
  // A block must be there for any capacity, and must not wrap the address space.
  if (!base && capacity) return E_INVALIDARG;
  if (base && reinterpret_cast<uintptr_t>(base) + capacity < reinterpret_cast<uintptr_t>(base)) return E_INVALIDARG;
  m->base = static_cast<BYTE*>(base);
  m->cursor = m->base;
  m->dataEnd = base ? m->base + dataSize : nullptr;
  m->capacityEnd = base ? m->base + capacity : nullptr;
  m->dataSize = dataSize;
  m->capacity = capacity;
  return S_OK;
}

BYTE* KVAPI mriff_GetFilePointer(_tMRIFF* m) { return m ? m->cursor : nullptr; }

DWORD KVAPI mriff_KvSetFilePointer(_tMRIFF* m, LONG distance, DWORD method) {
  if (!m) return 0;
  Normalize(m);
  int64_t origin;
  switch (method) {
    case FILE_BEGIN:
      origin = 0;
      break;
    case FILE_CURRENT:
      origin = static_cast<int64_t>(Offset(m));
      break;
    case FILE_END:
      origin = static_cast<int64_t>(DataLength(m));
      break;
    default:
      return static_cast<DWORD>(Offset(m));
  }
  return MoveTo(m, origin + distance);
}

DWORD KVAPI mriff_SetFilePointer(_tMRIFF* m, LONG distance, LONG* /*high*/, DWORD method) {
  return mriff_KvSetFilePointer(m, distance, method);
}

BOOL KVAPI mriff_ReadFile(_tMRIFF* m, void* buffer, DWORD count, DWORD* read, void* /*overlapped*/) {
  if (read) *read = 0;
  if (!m || (!buffer && count)) return FALSE;
  Normalize(m);
  DWORD got = ReadBytes(m, buffer, count);
  if (read) *read = got;
  return got == count;
}

BOOL KVAPI mriff_WriteFile(_tMRIFF* m, const void* data, DWORD count, DWORD* written, void* /*overlapped*/) {
  if (written) *written = 0;
  if (!m || (!data && count)) return FALSE;
  Normalize(m);
  DWORD put = WriteBytes(m, data, count);
  if (written) *written = put;
  return TRUE;
}

HRESULT KVAPI mriff_WriteChunkHeader(_tMRIFF* m, DWORD id, DWORD size) {
  if (!m) return E_POINTER;
  Normalize(m);
  bool ok = WriteU32(m, id);
  ok = ok && WriteU32(m, size);
  return ok ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI mriff_WriteListHeader(_tMRIFF* m, DWORD listType, DWORD size) {
  HRESULT hr = mriff_WriteChunkHeader(m, kIdLIST, size);
  if (FAILED(hr)) return hr;
  return WriteU32(m, listType) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI mriff_WriteFileID(_tMRIFF* m, DWORD formType, DWORD size) {
  HRESULT hr = mriff_WriteChunkHeader(m, kIdRIFF, size);
  if (FAILED(hr)) return hr;
  return WriteU32(m, formType) ? S_OK : KV_E_WRITE;
}

LONG KVAPI mriff_UpdateDataSize(_tMRIFF* m, LONG amount) {
  if (!m) return 0;
  Normalize(m);
  if (amount >= 0) {
    size_t room = static_cast<size_t>(m->capacityEnd - m->dataEnd);
    size_t n = static_cast<size_t>(amount) < room ? static_cast<size_t>(amount) : room;
    m->dataEnd += n;
    return static_cast<LONG>(n);
  }
  // A negative amount lowers the data end no further than the cursor.
  size_t floor = Available(m);
  uint64_t want = static_cast<uint64_t>(-static_cast<int64_t>(amount));
  size_t n = want < floor ? static_cast<size_t>(want) : floor;
  m->dataEnd -= n;
  return -static_cast<LONG>(n);
}

HRESULT KVAPI mriff_SaveLocation(_tMRIFF* m, DWORD* offset) {
  if (!m) return E_POINTER;
  if (!offset) return E_INVALIDARG;
  Normalize(m);
  *offset = static_cast<DWORD>(Offset(m));
  return S_OK;
}

HRESULT KVAPI mriff_RestoreLocation(_tMRIFF* m, DWORD offset) {
  if (!m) return E_POINTER;
  Normalize(m);
  MoveTo(m, offset);
  return S_OK;
}

DWORD KVAPI mriff_SkipChunk(_tMRIFF* m, DWORD size) {
  uint64_t p = Padded(size);
  if (m) {
    Normalize(m);
    Advance(m, p);
  }
  return p > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(p);
}

HRESULT KVAPI mriff_SeekDataStart(_tMRIFF* m) {
  if (!m) return E_POINTER;
  Normalize(m);
  MoveTo(m, 12);
  return S_OK;
}

HRESULT KVAPI mriff_ReadData(_tMRIFF* m, void* buffer, DWORD size) {
  if (!m) return E_POINTER;
  if (!buffer && size) return E_INVALIDARG;
  Normalize(m);
  if (ReadBytes(m, buffer, size) < size) return KV_E_READ;
  if (size & 1) Advance(m, 1);
  return S_OK;
}

HRESULT KVAPI mriff_ReadDataBounded(_tMRIFF* m, void* buffer, DWORD bufferSize, DWORD chunkSize) {
  if (!m) return E_POINTER;
  DWORD n = bufferSize < chunkSize ? bufferSize : chunkSize;
  if (!buffer && n) return E_INVALIDARG;
  Normalize(m);
  if (ReadBytes(m, buffer, n) < n) return KV_E_READ;
  Advance(m, static_cast<uint64_t>(chunkSize - n) + (chunkSize & 1));
  return S_OK;
}

HRESULT KVAPI mriff_ReadDataAlloc(_tMRIFF* m, KVRIFFDATA* block) {
  if (!m) return E_POINTER;
  if (!block) return E_INVALIDARG;
  block->data = nullptr;
  if (block->size == 0) return S_OK;
  Normalize(m);
  // The size comes from the image: allocate only what is there to read.
  if (Available(m) < block->size) return KV_E_READ;
  void* p = kvblock::Alloc(block->size);
  if (!p) return E_OUTOFMEMORY;
  HRESULT hr = mriff_ReadData(m, p, block->size);
  if (FAILED(hr)) {
    kvblock::Free(p);
    return hr;
  }
  block->data = p;
  return S_OK;
}

HRESULT KVAPI mriff_ReadChunkHeader(_tMRIFF* m, DWORD* id, DWORD* size) {
  if (!m) return E_POINTER;
  if (!id || !size) return E_INVALIDARG;
  Normalize(m);
  bool ok = ReadU32(m, id);
  ok = ReadU32(m, size) && ok;
  return ok ? S_OK : KV_E_READ;
}

HRESULT KVAPI mriff_ReadListHeader(_tMRIFF* m, DWORD* listType, DWORD* size) {
  if (!m) return E_POINTER;
  if (!listType || !size) return E_INVALIDARG;
  DWORD id = 0;
  HRESULT hr = mriff_ReadChunkHeader(m, &id, size);
  if (FAILED(hr)) return hr;
  if (id != kIdLIST) return KV_E_NOLIST;
  // A list's size counts its 4-byte type; a smaller one would wrap.
  if (*size < 4) return KV_E_BADLENGTH;
  *size -= 4;
  return ReadU32(m, listType) ? S_OK : KV_E_READ;
}

HRESULT KVAPI mriff_ReadFileID(_tMRIFF* m, LONG* contentSize, DWORD* formType) {
  if (!m) return E_POINTER;
  if (contentSize) *contentSize = 0;
  DWORD id = 0, size = 0;
  // The header read is checked: a short image has no header to report.
  HRESULT hr = mriff_ReadChunkHeader(m, &id, &size);
  if (FAILED(hr)) return hr;
  if (id != kIdRIFF) return KV_E_NORIFF;
  if (size < 4) return KV_E_BADLENGTH;
  if (contentSize) *contentSize = static_cast<LONG>(size - 4);
  DWORD form = 0;
  if (!ReadU32(m, &form)) return KV_E_READ;
  if (formType) *formType = form;
  return S_OK;
}

HRESULT KVAPI mriff_FindChunkHeader(_tMRIFF* m, DWORD id, DWORD* size, DWORD* remaining) {
  if (!m) return E_POINTER;
  Normalize(m);
  DWORD r = remaining ? *remaining : 0;
  for (;;) {
    if (remaining && r < 8) {
      *remaining = r;
      return KV_E_NOTFOUND;
    }
    DWORD cid = 0, csize = 0;
    HRESULT hr = mriff_ReadChunkHeader(m, &cid, &csize);
    if (FAILED(hr)) {
      if (remaining) *remaining = r;
      return hr;
    }
    DWORD after = r - 8;  // the bytes after this header (unused without a counter)
    if (cid == id) {
      if (size) *size = csize;
      if (remaining) *remaining = after;
      return S_OK;
    }
    uint64_t p = Padded(csize);
    Advance(m, p);
    r = Reduce(after, p);
  }
}

HRESULT KVAPI mriff_FindChunkHeaderInRIFF(_tMRIFF* m, DWORD id, DWORD* size, DWORD* remaining) {
  if (!m) return E_POINTER;
  if (remaining && *remaining < 12) return KV_E_NOTFOUND;
  HRESULT hr = mriff_ReadFileID(m, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (remaining) *remaining -= 12;
  return mriff_FindChunkHeader(m, id, size, remaining);
}

HRESULT KVAPI mriff_FindListChunk(_tMRIFF* m, DWORD listType, DWORD* size, DWORD* remaining) {
  if (!m) return E_POINTER;
  Normalize(m);
  return FindList(m, listType, size, remaining);
}

HRESULT KVAPI mriff_FindListChunkFromStart(_tMRIFF* m, DWORD listType, DWORD* size) {
  if (!m) return E_POINTER;
  Normalize(m);
  m->cursor = m->base;
  LONG content = 0;
  HRESULT hr = mriff_ReadFileID(m, &content, nullptr);
  if (FAILED(hr)) return hr;
  DWORD remaining = static_cast<DWORD>(content);
  return FindList(m, listType, size, &remaining);
}

HRESULT KVAPI mriff_GetInfoString(_tMRIFF* m, DWORD id, void* buffer, DWORD bufferSize, DWORD* remaining) {
  if (!m) return E_POINTER;
  if (!buffer || bufferSize == 0) return E_INVALIDARG;
  Normalize(m);
  const DWORD start = static_cast<DWORD>(Offset(m));
  BYTE* out = static_cast<BYTE*>(buffer);
  memset(out, 0, bufferSize);
  // The walk uses a copy of the caller's counter: the cursor goes back.
  DWORD r = remaining ? *remaining : 0;
  DWORD listSize = 0;
  HRESULT hr = FindList(m, kIdINFO, &listSize, remaining ? &r : nullptr);
  if (SUCCEEDED(hr)) {
    DWORD left = listSize, itemSize = 0;
    hr = mriff_FindChunkHeader(m, id, &itemSize, &left);
    if (SUCCEEDED(hr)) hr = mriff_ReadData(m, out, left < bufferSize ? left : bufferSize);
  }
  // A text as long as the buffer (or one without its zero) still ends in one.
  out[bufferSize - 1] = 0;
  MoveTo(m, start);
  return hr;
}

HRESULT KVAPI mriff_GetNumListEntries(_tMRIFF* m, DWORD* count, DWORD* remaining) {
  if (!m) return E_POINTER;
  if (!count) return E_INVALIDARG;
  Normalize(m);
  *count = 0;
  const size_t start = Offset(m);
  DWORD r = remaining ? *remaining : 0;
  HRESULT hr = S_OK;
  while (!remaining || r >= 8) {
    DWORD id = 0, size = 0;
    hr = mriff_ReadChunkHeader(m, &id, &size);
    if (FAILED(hr)) break;
    uint64_t p = Padded(size);
    Advance(m, p);
    // An entry running past the list's end is the last one counted.
    r = Reduce(r - 8, p);
    ++*count;
  }
  MoveTo(m, static_cast<int64_t>(start));
  return hr;
}

HRESULT KVAPI mriff_WriteWaveHeader(_tMRIFF* m, const WAVEFORMATEX* wfx, DWORD dataSize, DWORD extraSize) {
  if (!m) return E_POINTER;
  if (!wfx) return E_INVALIDARG;
  Normalize(m);
  BYTE pcm[16];
  const void* body = wfx;
  DWORD fmtSize;
  if (wfx->wFormatTag == WAVE_FORMAT_PCM) {
    // A plain PCM body built from the record's essentials; a sample takes
    // whole bytes (12-bit samples sit in 2).
    DWORD bytes = (wfx->wBitsPerSample + 7u) / 8u;
    DWORD align = bytes * wfx->nChannels;
    DWORD avg = align * wfx->nSamplesPerSec;
    const WORD words[2] = {WAVE_FORMAT_PCM, wfx->nChannels};
    pcm[0] = static_cast<BYTE>(words[0]);
    pcm[1] = static_cast<BYTE>(words[0] >> 8);
    pcm[2] = static_cast<BYTE>(words[1]);
    pcm[3] = static_cast<BYTE>(words[1] >> 8);
    for (int i = 0; i < 4; ++i) {
      pcm[4 + i] = static_cast<BYTE>(wfx->nSamplesPerSec >> (8 * i));
      pcm[8 + i] = static_cast<BYTE>(avg >> (8 * i));
    }
    pcm[12] = static_cast<BYTE>(align);
    pcm[13] = static_cast<BYTE>(align >> 8);
    pcm[14] = static_cast<BYTE>(wfx->wBitsPerSample);
    pcm[15] = static_cast<BYTE>(wfx->wBitsPerSample >> 8);
    body = pcm;
    fmtSize = 16;
  } else {
    // The whole format: the 18-byte header and the cbSize bytes it announces.
    fmtSize = 18u + wfx->cbSize;
  }
  uint64_t riffSize = static_cast<uint64_t>(dataSize) + Padded(fmtSize) + extraSize + 20;
  riffSize += riffSize & 1;
  if (riffSize > kMaxRIFFSize) return KV_E_TOOBIG;
  static const BYTE kZero = 0;
  bool ok = SUCCEEDED(mriff_WriteFileID(m, kIdWAVE, static_cast<DWORD>(riffSize)));
  ok = ok && SUCCEEDED(mriff_WriteChunkHeader(m, kIdFmt, fmtSize));
  ok = ok && WriteBytes(m, body, fmtSize) == fmtSize;
  ok = ok && ((fmtSize & 1) == 0 || WriteBytes(m, &kZero, 1) == 1);
  ok = ok && SUCCEEDED(mriff_WriteChunkHeader(m, kIdData, dataSize));
  return ok ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI mriff_GetWfx(WAVEFORMATEX* out, const void* block, DWORD blockSize, DWORD* dataSize) {
  DWORD copied = 0;
  return ReadWaveFormat(out, sizeof(WAVEFORMATEX), block, blockSize, dataSize, &copied);
}

HRESULT KVAPI mriff_WriteWaveHeader(_tMRIFF* m, const _kvwaveformat* fmt, DWORD dataSize, DWORD extraSize) {
  if (!m) return E_POINTER;
  if (!fmt) return E_INVALIDARG;
  _kvwaveformat_wfxplus buf;
  memset(buf.bytes, 0, sizeof buf.bytes);
  const WAVEFORMATEX* wfx = KvAudio_GeneralCopyWfx(&buf.wfx, kWfxBufferSize, *fmt, KVWFX_COPY_AUTO);
  if (!wfx) return E_INVALIDARG;
  if (wfx->wFormatTag != WAVE_FORMAT_PCM && 18u + wfx->cbSize > kWfxBufferSize) return E_INVALIDARG;
  return mriff_WriteWaveHeader(m, wfx, dataSize, extraSize);
}

HRESULT KVAPI mriff_GetWfx(_kvwaveformat* out, const void* block, DWORD blockSize, DWORD* dataSize) {
  // The record is filled from as much of the format as is there, up to the
  // extensible form, so that a format announcing more bytes than the image
  // holds is never read past.
  WAVEFORMATEXTENSIBLE x;
  DWORD copied = 0;
  HRESULT hr = ReadWaveFormat(&x, sizeof x, block, blockSize, dataSize, &copied);
  if (FAILED(hr) || !out) return hr;
  DWORD extra = copied > 18 ? copied - 18 : 0;
  if (x.Format.cbSize > extra) x.Format.cbSize = static_cast<WORD>(extra);
  out->Init(32, x.Format);
  return S_OK;
}
