// IFF and AIFF/AIFC chunk I/O on file handles. Every number in these
// files is big-endian; this code swaps on every read and write. Sizes and
// offsets read from a file are checked against the bytes really there before
// they are used.
#include "kviff.h"
#include "kvbyteorder.h"
#include "kvriff_io.h"

#include <math.h>
#include <string.h>

#include <vector>

namespace {

using kvriffio::FileLength;
using kvriffio::Padded;
using kvriffio::ReadAll;
using kvriffio::SeekBy;
using kvriffio::SetPos;
using kvriffio::Tell;
using kvriffio::WriteAll;

constexpr DWORD kMoveBlock = 4096;


// The body of a "COMM" chunk as read, in native order.
struct CommBody {
  WORD channels;
  DWORD frames;
  WORD bits;
  WORD exponent;
  WORD mantissa[4];
  DWORD compression;  // AIFC only
};

CommBody ParseComm(const BYTE* b, bool aifc) {
  auto be16 = [&](int at) { return GetBE16(b + at); };
  auto be32 = [&](int at) { return GetBE32(b + at); };
  CommBody c{};
  c.channels = be16(0);
  c.frames = be32(2);
  c.bits = be16(6);
  c.exponent = be16(8);
  for (int i = 0; i < 4; ++i) c.mantissa[i] = be16(10 + 2 * i);
  c.compression = aifc ? be32(18) : 0;
  return c;
}

// Finds "COMM" among the chunks after the form type (the file stands at
// offset 12) and reads its first `want` bytes. A chunk shorter than that is
// refused instead of read into the chunk after it.
HRESULT ReadCommBody(HANDLE file, DWORD formSize, BYTE* body, DWORD want) {
  DWORD size = 0;
  DWORD remaining = formSize >= 4 ? formSize - 4 : 0;
  HRESULT hr = iff_FindChunkHeader(file, KVIFF_COMM, &size, &remaining);
  if (FAILED(hr)) return hr;
  if (size < want) return KV_E_CORRUPT;
  if (!ReadAll(file, body, want)) return KV_E_READ;
  return S_OK;
}

}  // namespace

extern "C" {

void KVAPI iff_ByteSwap16(void* data, DWORD count) {
  BYTE* p = static_cast<BYTE*>(data);
  for (DWORD i = 0; i < count; ++i, p += 2) {
    BYTE t = p[0];
    p[0] = p[1];
    p[1] = t;
  }
}

void KVAPI iff_ByteSwap32(void* data, DWORD count) {
  BYTE* p = static_cast<BYTE*>(data);
  for (DWORD i = 0; i < count; ++i, p += 4) {
    BYTE t0 = p[0], t1 = p[1];
    p[0] = p[3];
    p[1] = p[2];
    p[2] = t1;
    p[3] = t0;
  }
}

void KVAPI aiff_WriteByteSwap16(void* data, DWORD count) { iff_ByteSwap16(data, count); }
void KVAPI aiff_WriteByteSwap32(void* data, DWORD count) { iff_ByteSwap32(data, count); }

HRESULT KVAPI iff_ReadChunkHdr(HANDLE file, DWORD header[2]) {
  DWORD raw[2];
  if (!ReadAll(file, raw, 8)) return KV_E_READ;
  header[0] = SwapBytes32(raw[0]);
  header[1] = SwapBytes32(raw[1]);
  return S_OK;
}

HRESULT KVAPI iff_ReadDWORD(HANDLE file, DWORD* value) {
  DWORD raw;
  if (!ReadAll(file, &raw, 4)) return KV_E_READ;
  *value = SwapBytes32(raw);
  return S_OK;
}

HRESULT KVAPI iff_ReadWORD(HANDLE file, WORD* value) {
  WORD raw;
  if (!ReadAll(file, &raw, 2)) return KV_E_READ;
  *value = SwapBytes16(raw);
  return S_OK;
}

HRESULT KVAPI iff_WriteChunk(HANDLE file, const DWORD header[2]) {
  DWORD raw[2] = {SwapBytes32(header[0]), SwapBytes32(header[1])};
  return WriteAll(file, raw, 8) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI iff_WriteDWORD(HANDLE file, DWORD value) {
  DWORD raw = SwapBytes32(value);
  return WriteAll(file, &raw, 4) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI iff_WriteWORD(HANDLE file, WORD value) {
  WORD raw = SwapBytes16(value);
  return WriteAll(file, &raw, 2) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI iff_WriteFileID(HANDLE file, DWORD formType, DWORD size) {
  DWORD raw[3] = {SwapBytes32(KVIFF_FORM), SwapBytes32(size), SwapBytes32(formType)};
  return WriteAll(file, raw, 12) ? S_OK : KV_E_WRITE;
}

HRESULT KVAPI iff_ReadFormType(HANDLE file, DWORD header[2], DWORD* formType) {
  HRESULT hr = iff_ReadChunkHdr(file, header);
  if (FAILED(hr)) return hr;
  if (header[0] != KVIFF_FORM) return KV_E_CORRUPT;
  return iff_ReadDWORD(file, formType);
}

DWORD KVAPI iff_SkipChunk(HANDLE file, DWORD size) {
  uint64_t step = Padded(size);
  SeekBy(file, static_cast<int64_t>(step));
  return static_cast<DWORD>(step);
}

HRESULT KVAPI iff_FindChunkHeader(HANDLE file, DWORD id, DWORD* size, DWORD* remaining) {
  DWORD r = remaining ? *remaining : 0;
  for (;;) {
    if (remaining && r < 8) {
      *remaining = r;
      return KV_E_NOTFOUND;
    }
    DWORD header[2];
    HRESULT hr = iff_ReadChunkHdr(file, header);
    if (FAILED(hr)) {
      if (remaining) *remaining = r;
      return hr;
    }
    DWORD after = r - 8;
    if (header[0] == id) {
      if (size) *size = header[1];
      if (remaining) *remaining = after;
      return S_OK;
    }
    uint64_t step = Padded(header[1]);
    SeekBy(file, static_cast<int64_t>(step));
    // A chunk larger than what is left of its body ends the walk.
    r = (after < step) ? 0 : static_cast<DWORD>(after - step);
  }
}

HRESULT KVAPI iff_SeekChunkHeader(HANDLE file, DWORD id, DWORD* size) {
  return iff_FindChunkHeader(file, id, size, nullptr);
}

HRESULT KVAPI iff_FindChunkFromStart(HANDLE file, DWORD id, DWORD* size) {
  if (size) *size = 0;
  SetPos(file, 0);
  DWORD header[2];
  HRESULT hr = iff_ReadChunkHdr(file, header);
  if (FAILED(hr)) return hr;
  DWORD formType;
  if (header[0] != KVIFF_FORM || FAILED(iff_ReadDWORD(file, &formType))) return KV_E_NORIFF;
  if (FAILED(iff_SeekChunkHeader(file, id, size))) return KV_E_NOTFOUND;
  return S_OK;
}

BOOL KVAPI iff_IsAIFFFileEx(HANDLE file, DWORD* formSize, DWORD* isAIFC, DWORD* isLittleEndian) {
  if (isAIFC) *isAIFC = 0;
  if (isLittleEndian) *isLittleEndian = 0;
  SetPos(file, 0);
  DWORD header[2], form;
  if (FAILED(iff_ReadFormType(file, header, &form))) return FALSE;
  if (formSize) *formSize = header[1];
  if (form == KVIFF_AIFF) return TRUE;
  if (form != KVIFF_AIFC) return FALSE;
  if (isAIFC) *isAIFC = 1;
  uint64_t back = Tell(file);
  BYTE body[22];
  BOOL result = FALSE;
  if (SUCCEEDED(ReadCommBody(file, header[1], body, sizeof(body)))) {
    DWORD compression = ParseComm(body, true).compression;
    if (compression == KVIFF_NONE) {
      result = TRUE;
    } else if (compression == KVIFF_SOWT) {
      result = TRUE;
      if (isLittleEndian) *isLittleEndian = 1;
    }
  }
  SetPos(file, back);
  return result;
}

BOOL KVAPI iff_IsAIFFFile(HANDLE file, DWORD* formSize) { return iff_IsAIFFFileEx(file, formSize, nullptr, nullptr); }

HRESULT KVAPI iff_GetAIFFWfx(HANDLE file, WAVEFORMATEX* out, DWORD* frames, DWORD* dataOffset) {
  WAVEFORMATEX local;
  if (!out) out = &local;
  DWORD formSize = 0, isAIFC = 0, isLittleEndian = 0;
  if (!iff_IsAIFFFileEx(file, &formSize, &isAIFC, &isLittleEndian)) return KV_E_CORRUPT;
  const uint64_t fileLength = FileLength(file);
  const uint64_t bodyStart = 12;

  SetPos(file, bodyStart);
  BYTE body[22];
  HRESULT hr = ReadCommBody(file, formSize, body, isAIFC ? 22 : 18);
  if (FAILED(hr)) return hr;
  CommBody comm = ParseComm(body, isAIFC != 0);
  DWORD rate = aiff_ConvertRate(comm.exponent, comm.mantissa);

  // AIFF stores each sample point in whole bytes: 12 bits take two.
  DWORD bytesPerSample = (comm.bits + 7u) / 8u;
  DWORD avg = bytesPerSample * comm.channels * rate;
  DWORD align = bytesPerSample * comm.channels;
  if (align > 0xFFFF) return KV_E_CORRUPT;
  if (align == 0) align = 1;

  WORD tag;
  if (comm.bits == 8)
    tag = 0xFE01;  // AIFF's 8-bit samples are signed
  else if (isLittleEndian)
    tag = WAVE_FORMAT_PCM;
  else
    tag = 0xFE02;  // big-endian PCM
  out->wFormatTag = tag;
  out->nChannels = comm.channels;
  out->nSamplesPerSec = rate;
  out->nAvgBytesPerSec = avg;
  out->nBlockAlign = static_cast<WORD>(align);
  out->wBitsPerSample = comm.bits;

  SetPos(file, bodyStart);
  DWORD ssndSize = 0;
  DWORD remaining = formSize >= 4 ? formSize - 4 : 0;
  hr = iff_FindChunkHeader(file, KVIFF_SSND, &ssndSize, &remaining);
  if (FAILED(hr)) return hr;
  DWORD offset = 0, blockSize = 0;
  if (FAILED(iff_ReadDWORD(file, &offset)) || FAILED(iff_ReadDWORD(file, &blockSize))) return KV_E_READ;
  uint64_t dataStart = Tell(file) + offset;
  if (dataStart > fileLength) return KV_E_CORRUPT;
  // The chunk's own count, never more than what the file really holds: a
  // chunk too short for its offset, or a truncated file, gives fewer frames
  // rather than a count that runs past the data.
  uint64_t declared = (static_cast<uint64_t>(ssndSize) >= 8ull + offset) ? ssndSize - 8ull - offset : 0;
  uint64_t present = fileLength - dataStart;
  uint64_t dataBytes = declared < present ? declared : present;
  uint64_t count = dataBytes / align;
  if (frames) *frames = static_cast<DWORD>(count < comm.frames ? count : comm.frames);
  if (dataOffset) *dataOffset = static_cast<DWORD>(dataStart);
  return S_OK;
}

HRESULT KVAPI iff_FindMarker(HANDLE file, KVIFFMARKER* marker, WORD markerId) {
  DWORD chunkSize = 0;
  HRESULT hr = iff_FindChunkFromStart(file, KVIFF_MARK, &chunkSize);
  if (FAILED(hr)) return hr;
  WORD count = 0;
  hr = iff_ReadWORD(file, &count);
  if (FAILED(hr)) return hr;
  if (count == 0) return KV_E_NOTFOUND;
  uint64_t left = chunkSize >= 2 ? chunkSize - 2 : 0;
  for (;;) {
    // A record needs 7 bytes of the chunk: nothing is read past its end.
    if (left < sizeof(KVIFFMARKER)) return KV_E_NOTFOUND;
    if (!ReadAll(file, marker, sizeof(KVIFFMARKER))) return KV_E_NORIFF;
    marker->id = SwapBytes16(marker->id);
    marker->position = SwapBytes32(marker->position);
    if (marker->id == markerId) return S_OK;
    DWORD name = (marker->nameLength & 1) ? marker->nameLength : marker->nameLength + 1u;
    SeekBy(file, name);
    uint64_t used = sizeof(KVIFFMARKER) + name;
    left = left > used ? left - used : 0;
    if (--count == 0) return KV_E_NOTFOUND;
  }
}

HRESULT KVAPI iff_DeleteChunk(HANDLE file, DWORD id, DWORD* removed) {
  if (removed) *removed = 0;
  const uint64_t fileLength = FileLength(file);
  SetPos(file, 0);
  DWORD header[2], form;
  if (FAILED(iff_ReadFormType(file, header, &form)) || (form != KVIFF_AIFF && form != KVIFF_AIFC))
    return KV_E_CORRUPT;
  const DWORD formSize = header[1];
  DWORD size = 0;
  DWORD remaining = formSize >= 4 ? formSize - 4 : 0;
  HRESULT hr = iff_FindChunkHeader(file, id, &size, &remaining);
  if (FAILED(hr)) return hr;
  const uint64_t total = Padded(size) + 8;
  const uint64_t start = Tell(file) - 8;
  // A chunk that claims more than the file holds is refused: nothing moves.
  if (start + total > fileLength) {
    // The last chunk may lack only its pad byte.
    if (start + total - 1 != fileLength || !(size & 1)) return KV_E_CORRUPT;
  }
  uint64_t readPos = start + total, writePos = start;
  uint64_t tail = fileLength > readPos ? fileLength - readPos : 0;
  if (tail > 0) {
    DWORD block = tail < kMoveBlock ? static_cast<DWORD>(tail) : kMoveBlock;
    std::vector<BYTE> buffer(block);
    while (tail > 0) {
      DWORD n = tail < block ? static_cast<DWORD>(tail) : block;
      if (!SetPos(file, readPos) || !ReadAll(file, buffer.data(), n)) return KV_E_READ;
      if (!SetPos(file, writePos) || !WriteAll(file, buffer.data(), n)) return KV_E_WRITE;
      readPos += n;
      writePos += n;
      tail -= n;
    }
  }
  if (!SetPos(file, writePos) || !kvfile::SetEnd(file)) return KV_E_WRITE;
  DWORD newForm = formSize > total ? static_cast<DWORD>(formSize - total) : 0;
  if (!SetPos(file, 4) || FAILED(iff_WriteDWORD(file, newForm))) return KV_E_WRITE;
  SetPos(file, writePos);
  if (removed) *removed = static_cast<DWORD>(total);
  return S_OK;
}

DWORD KVAPI aiff_ConvertRate(WORD exponent, const WORD mantissa[4]) {
  // A negative rate cannot be used: the customary CD rate stands in.
  if (exponent & 0x8000) return 44100;
  int e = static_cast<int>(exponent & 0x7FFF) - 16383;
  if (e < 0) return 0;  // below 1 Hz
  // Above 32 bits, and the infinities and NaNs of exponent 0x7FFF, do not fit.
  if (e >= 32) return 44100;
  double m = mantissa[3] / 9223372036854775808.0;  // 2^63
  m += mantissa[2] / 140737488355328.0;            // 2^47
  m += mantissa[1] / 2147483648.0;                 // 2^31
  m += (mantissa[0] & 0x7FFF) / 32768.0;
  if (mantissa[0] & 0x8000) m += 1.0;
  double value = ldexp(m, e);
  if (value >= 4294967296.0) return 44100;
  return static_cast<DWORD>(value);
}

void KVAPI aiff_CreateRate(DWORD rate, WORD* exponent, WORD mantissa[4]) {
  double x = static_cast<double>(rate);
  WORD n = 0;
  while (x >= 2.0) {
    x *= 0.5;
    ++n;
  }
  *exponent = static_cast<WORD>(n + 16383);
  WORD integerBit = 0;
  if (x >= 1.0) {
    integerBit = 1;
    x -= 1.0;
  }
  x *= 32768.0;
  DWORD w = static_cast<DWORD>(x);
  mantissa[0] = static_cast<WORD>((integerBit << 15) | (w & 0xFFFF));
  x -= w;
  for (int i = 1; i < 4; ++i) {
    x *= 65536.0;
    w = static_cast<DWORD>(x);
    x -= w;
    mantissa[i] = static_cast<WORD>(w);
  }
}

}  // extern "C"
