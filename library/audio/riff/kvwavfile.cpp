// Wave-file headers: create, insert, repair and identify RIFF "WAVE", Wave64
// and AIFF files. The chunk work goes through the riff_, riff64_ and iff_
// families; sizes read from a file are checked against the bytes really
// there, and a header is never written over bytes that cannot be told apart
// from audio.
#include "kvwavfile.h"

#include <stdlib.h>
#include <string.h>

#include "kviff.h"
#include "kvriff_io.h"

namespace {

using kvriffio::FileLength;
using kvriffio::ReadAll;
using kvriffio::SetPos;
using kvriffio::Tell;
using kvriffio::WriteAll;

constexpr DWORD kWave = KVRIFF_FOURCC('W', 'A', 'V', 'E');
constexpr DWORD kFmt = KVRIFF_FOURCC('f', 'm', 't', ' ');
constexpr DWORD kData = KVRIFF_FOURCC('d', 'a', 't', 'a');
constexpr DWORD kJunk = KVRIFF_FOURCC('J', 'U', 'N', 'K');
constexpr uint64_t kRiffMaxSize = 0xFFFFFFF7u;  // largest RIFF size field
constexpr DWORD kMaxFmtSize = 4096;             // largest "fmt " body read
constexpr DWORD kBlock = 4096;                  // scan and zero-write block

// Header sizes of the layouts written here.
constexpr DWORD kWavHeader = 46;        // RIFF + 18-byte fmt + data header
constexpr DWORD kWavShortHeader = 44;   // the same with a 16-byte fmt
constexpr DWORD kWavJunkMin = 54;       // smallest header with a JUNK chunk
constexpr uint64_t kW64Header = 112;    // riff + 18-byte fmt (+6 pad) + data
constexpr uint64_t kW64ShortHeader = 104;  // the same with a 16-byte fmt
constexpr uint64_t kW64JunkMin = 136;

HRESULT WriteZeros(HANDLE file, uint64_t count) {
  static const BYTE zeros[kBlock] = {};
  while (count > 0) {
    DWORD n = count < kBlock ? static_cast<DWORD>(count) : kBlock;
    if (!WriteAll(file, zeros, n)) return KV_E_WRITE;
    count -= n;
  }
  return S_OK;
}

// Puts the file position back where it was, on every path.
class PositionKeeper {
 public:
  explicit PositionKeeper(HANDLE file) : file_(file), position_(Tell(file)) {}
  ~PositionKeeper() { SetPos(file_, position_); }
  PositionKeeper(const PositionKeeper&) = delete;
  PositionKeeper& operator=(const PositionKeeper&) = delete;

 private:
  HANDLE file_;
  uint64_t position_;
};

class FileCloser {
 public:
  explicit FileCloser(HANDLE file) : file_(file) {}
  ~FileCloser() {
    if (file_ != INVALID_HANDLE_VALUE) kvfile::Close(file_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  HANDLE file_;
};

HANDLE OpenForReading(const wchar_t* path) {
  if (!path) return INVALID_HANDLE_VALUE;
  return kvfile::Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

// Files created by the writers are always emptied first.
HANDLE CreateForWriting(const wchar_t* path, DWORD disposition) {
  if (!path) return INVALID_HANDLE_VALUE;
  if (disposition == OPEN_EXISTING) disposition = TRUNCATE_EXISTING;
  if (disposition == OPEN_ALWAYS) disposition = CREATE_ALWAYS;
  return kvfile::Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, disposition);
}

// The formats the header writers take: a plain header (cbSize 0) and, for
// PCM, whole-byte samples other than 20 bits in a consistent block.
HRESULT CheckFormat(const WAVEFORMATEX* wfx) {
  if (!wfx) return E_INVALIDARG;
  if (wfx->cbSize != 0) return KV_E_UNSUPPORTEDMEDIA;
  if (wfx->wFormatTag == WAVE_FORMAT_PCM) {
    if (wfx->wBitsPerSample == 20) return KV_E_UNSUPPORTEDMEDIA;
    if (wfx->nBlockAlign != wfx->nChannels * (wfx->wBitsPerSample / 8)) return KV_E_UNSUPPORTEDMEDIA;
  }
  return S_OK;
}

// The first 18 bytes of a format with cbSize 0.
void PlainBytes(const WAVEFORMATEX* wfx, BYTE out[18]) {
  memcpy(out, wfx, 16);
  out[16] = out[17] = 0;
}

// RIFF "WAVE" header of headerSize bytes at offset 0: RIFF header, "fmt "
// (fmtBytes 16 or 18), a JUNK chunk filling the room, "data" header.
HRESULT WriteWavHeader(HANDLE file, const WAVEFORMATEX* wfx, DWORD fmtBytes, DWORD dataSize, DWORD headerSize) {
  const uint64_t riffSize = static_cast<uint64_t>(dataSize) + headerSize - 8;
  if (riffSize > kRiffMaxSize) return KV_E_TOOBIG;
  BYTE fmt[18];
  PlainBytes(wfx, fmt);
  if (!SetPos(file, 0)) return KV_E_WRITE;
  HRESULT hr = riff_WriteFileID(file, kWave, static_cast<DWORD>(riffSize));
  if (FAILED(hr)) return hr;
  hr = riff_WriteChunk(file, kFmt, fmt, fmtBytes, nullptr);
  if (FAILED(hr)) return hr;
  const DWORD fixed = 12 + 8 + fmtBytes + 8;
  if (headerSize > fixed) {
    const DWORD junk = headerSize - fixed - 8;
    hr = riff_WriteChunkHeader(file, kJunk, junk);
    if (FAILED(hr)) return hr;
    hr = WriteZeros(file, junk);
    if (FAILED(hr)) return hr;
  }
  return riff_WriteChunkHeader(file, kData, dataSize);
}

// Wave64 header of headerSize bytes at offset 0, the same layout with
// 24-byte headers and 8-byte alignment.
HRESULT WriteW64Header(HANDLE file, const WAVEFORMATEX* wfx, DWORD fmtBytes, uint64_t dataSize,
                       uint64_t headerSize) {
  if (dataSize > UINT64_MAX - headerSize) return KV_E_TOOBIG;
  BYTE fmt[18];
  PlainBytes(wfx, fmt);
  if (!SetPos(file, 0)) return KV_E_WRITE;
  // The riff size field counts the whole file; the family adds the 24 itself.
  HRESULT hr = riff64_WriteFileID(file, KVRIFF64_WAVE, dataSize + headerSize - 24);
  if (FAILED(hr)) return hr;
  hr = riff64_WriteChunk(file, KVRIFF64_FMT, fmt, fmtBytes, nullptr);
  if (FAILED(hr)) return hr;
  const uint64_t fixed = 40 + 24 + ((fmtBytes + 7u) & ~7u) + 24;
  if (headerSize > fixed) {
    const uint64_t junk = headerSize - fixed - 24;
    hr = riff64_WriteChunkHeader(file, KVRIFF64_JUNK, junk);
    if (FAILED(hr)) return hr;
    hr = WriteZeros(file, junk);
    if (FAILED(hr)) return hr;
  }
  return riff64_WriteChunkHeader(file, KVRIFF64_DATA, dataSize);
}

// A plain header from a record, in a 136-byte buffer.
struct RecordHeader {
  union {
    WAVEFORMATEX wfx;
    BYTE bytes[136];
  };
  explicit RecordHeader(const _kvwaveformat& fmt) {
    memset(bytes, 0, sizeof(bytes));
    KvAudio_GeneralCopyWfx(&wfx, sizeof(bytes), fmt, KVWFX_COPY_AUTO);
  }
};

// ---- reading formats ---------------------------------------------------

// A "fmt " body of `size` bytes read by `read` into a zero-filled record of
// at least 18 bytes. Bodies shorter than the 16 bytes of a PCM header or
// longer than 4,096 bytes are refused; cbSize never announces more bytes
// than the chunk holds, and an extensible header must hold its fields.
template <typename Read>
WAVEFORMATEX* ReadFmtBody(DWORD size, Read read) {
  if (size < 16 || size > kMaxFmtSize) return nullptr;
  WAVEFORMATEX* wfx = static_cast<WAVEFORMATEX*>(calloc(1, size < 18 ? 18 : size));
  if (!wfx) return nullptr;
  if (!read(wfx, size)) {
    free(wfx);
    return nullptr;
  }
  const DWORD extra = size > 18 ? size - 18 : 0;
  if (size < 18) wfx->cbSize = 0;
  if (wfx->cbSize > extra) wfx->cbSize = static_cast<WORD>(extra);
  if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx->cbSize < 22) {
    free(wfx);
    return nullptr;
  }
  return wfx;
}

// 20-bit samples stored in 3-byte containers are 24-bit samples whose low
// bits are zero: read as such, before the format is judged, so that such
// files are not refused as compressed.
void Widen20(WAVEFORMATEX* wfx) {
  const WORD tag = KvAudio_GetWaveFormatTag(wfx);
  if ((tag == WAVE_FORMAT_PCM || tag == KVWAVE_FORMAT_BIGENDIAN) && wfx->wBitsPerSample == 20 &&
      wfx->nBlockAlign == 3 * wfx->nChannels)
    wfx->wBitsPerSample = 24;
}

// PCM fix-up of a probe's record: 20-bit samples are read as 24-bit, and the
// block follows the sample size. A record that still has no block size
// cannot give a frame count and is refused.
bool FixUpPcm(WAVEFORMATEX* wfx) {
  if (KvAudio_GetWaveFormatTag(wfx) == WAVE_FORMAT_PCM) {
    if (wfx->wBitsPerSample == 20) wfx->wBitsPerSample = 24;
    const WORD align = static_cast<WORD>((wfx->wBitsPerSample / 8) * wfx->nChannels);
    if (wfx->nBlockAlign != align) wfx->nBlockAlign = align;
  }
  return wfx->nBlockAlign != 0;
}

uint64_t Padded8(uint64_t size) { return (size + 7) & ~static_cast<uint64_t>(7); }

// The "fmt " record of a RIFF "WAVE" file (from offset 0); remaining then
// counts the bytes of the body after the fmt chunk.
WAVEFORMATEX* ReadWaveFmt(HANDLE file, DWORD* remaining) {
  SetPos(file, 0);
  DWORD content = 0, form = 0;
  if (FAILED(riff_ReadFileID(file, &content, &form)) || form != kWave) return nullptr;
  DWORD size = 0, left = content;
  if (FAILED(riff_FindChunkHeader(file, kFmt, &size, &left))) return nullptr;
  WAVEFORMATEX* wfx =
      ReadFmtBody(size, [&](WAVEFORMATEX* w, DWORD n) { return SUCCEEDED(riff_ReadData(file, w, n)); });
  const DWORD used = size + (size & 1);
  *remaining = left > used ? left - used : 0;
  return wfx;
}

WAVEFORMATEX* ReadWave64Fmt(HANDLE file, int64_t* remaining) {
  SetPos(file, 0);
  uint64_t content = 0;
  GUID form{};
  if (FAILED(riff64_ReadFileID(file, &content, &form)) || !KvGuidEquals(form, KVRIFF64_WAVE)) return nullptr;
  uint64_t size = 0;
  int64_t left = content > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(content);
  if (FAILED(riff64_FindChunkHeader(file, KVRIFF64_FMT, &size, &left))) return nullptr;
  if (size > kMaxFmtSize) return nullptr;
  WAVEFORMATEX* wfx = ReadFmtBody(static_cast<DWORD>(size),
                                  [&](WAVEFORMATEX* w, DWORD n) { return SUCCEEDED(riff64_ReadData(file, w, n)); });
  *remaining = left - static_cast<int64_t>(Padded8(size));
  return wfx;
}

struct Probe {
  WAVEFORMATEX* wfx = nullptr;
  uint64_t frames = 0;
  uint64_t offset = 0;
};

// Frames of a data chunk: its declared size, never more than the file holds.
uint64_t FramesPresent(HANDLE file, uint64_t declared, uint64_t dataOffset, WORD align) {
  const uint64_t length = FileLength(file);
  const uint64_t present = length > dataOffset ? length - dataOffset : 0;
  return (declared < present ? declared : present) / align;
}

// A PCM format whose data chunk the file stands at: the probe of the format,
// the data offset and the frames present; an empty probe (format freed) when
// there is no data chunk or the format is not PCM.
Probe PcmProbe(HANDLE file, WAVEFORMATEX* wfx, bool dataFound, uint64_t dataSize) {
  Probe p;
  if (!dataFound || !FixUpPcm(wfx)) {
    free(wfx);
    return p;
  }
  p.offset = Tell(file);
  p.frames = FramesPresent(file, dataSize, p.offset, wfx->nBlockAlign);
  p.wfx = wfx;
  return p;
}

Probe ReadWaveFileFormat(HANDLE file) {
  PositionKeeper keep(file);
  Probe p;
  DWORD remaining = 0;
  WAVEFORMATEX* wfx = ReadWaveFmt(file, &remaining);
  if (!wfx) return p;
  Widen20(wfx);
  DWORD dataSize = 0;
  const bool data = !KvAudio_IsCompressed(wfx) && SUCCEEDED(riff_FindChunkHeader(file, kData, &dataSize, &remaining));
  return PcmProbe(file, wfx, data, dataSize);
}

Probe ReadWave64FileFormat(HANDLE file) {
  PositionKeeper keep(file);
  Probe p;
  int64_t remaining = 0;
  WAVEFORMATEX* wfx = ReadWave64Fmt(file, &remaining);
  if (!wfx) return p;
  Widen20(wfx);
  uint64_t dataSize = 0;
  const bool data =
      !KvAudio_IsCompressed(wfx) && SUCCEEDED(riff64_FindChunkHeader(file, KVRIFF64_DATA, &dataSize, &remaining));
  return PcmProbe(file, wfx, data, dataSize);
}

Probe ReadAiffFileFormat(HANDLE file) {
  PositionKeeper keep(file);
  Probe p;
  WAVEFORMATEX* wfx = static_cast<WAVEFORMATEX*>(calloc(1, sizeof(WAVEFORMATEX)));
  if (!wfx) return p;
  DWORD frames = 0, offset = 0;
  if (FAILED(iff_GetAIFFWfx(file, wfx, &frames, &offset))) {
    free(wfx);
    return p;
  }
  Widen20(wfx);
  if (KvAudio_IsCompressed(wfx) || !FixUpPcm(wfx)) {
    free(wfx);
    return p;
  }
  wfx->cbSize = 0;
  p.wfx = wfx;
  p.frames = frames;
  p.offset = offset;
  return p;
}

// ---- repair ------------------------------------------------------------

// The damaged format of a trashed header made usable: a rate, channel count,
// tag and sample size the file can really have, from the fallback where the
// header's own value is implausible.
void RepairFormat(WAVEFORMATEX* w, const WAVEFORMATEX& fallback) {
  if (w->nSamplesPerSec < 2000 || w->nSamplesPerSec > 192000) w->nSamplesPerSec = fallback.nSamplesPerSec;
  if (w->nChannels != 1 && w->nChannels != 2) w->nChannels = fallback.nChannels;
  if (w->wFormatTag != WAVE_FORMAT_PCM && w->wFormatTag != WAVE_FORMAT_IEEE_FLOAT)
    w->wFormatTag = fallback.wFormatTag;
  if (w->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    if (w->wBitsPerSample != 32 && w->wBitsPerSample != 64) w->wBitsPerSample = fallback.wBitsPerSample > 32 ? 64 : 32;
  } else {
    const WORD b = w->wBitsPerSample;
    if (b != 8 && b != 16 && b != 24 && b != 32)
      w->wBitsPerSample = fallback.wBitsPerSample > 32 ? 32 : fallback.wBitsPerSample;
  }
  w->nBlockAlign = static_cast<WORD>((w->wBitsPerSample / 8) * w->nChannels);
  w->nAvgBytesPerSec = w->nBlockAlign * w->nSamplesPerSec;
  w->cbSize = 0;
}

WAVEFORMATEX Fallback(const WAVEFORMATEX* given) {
  WAVEFORMATEX f{};
  if (given) {
    memcpy(&f, given, 16);
  } else {
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
  }
  f.cbSize = 0;
  return f;
}

// Searches [from, bound) for the bytes of an id at any offset, in blocks of
// 4,096 bytes that overlap by the id's length less one.
HRESULT ScanForId(HANDLE file, uint64_t from, uint64_t bound, const void* id, DWORD idLength, uint64_t* hit) {
  static_assert(kBlock > 16, "block holds an id");
  BYTE buffer[kBlock];
  uint64_t pos = from;
  while (pos + idLength <= bound) {
    const DWORD n = bound - pos < kBlock ? static_cast<DWORD>(bound - pos) : kBlock;
    if (!SetPos(file, pos) || !ReadAll(file, buffer, n)) return KV_E_READ;
    for (DWORD k = 0; k + idLength <= n; ++k) {
      if (memcmp(buffer + k, id, idLength) == 0) {
        *hit = pos + k;
        return S_OK;
      }
    }
    if (pos + n >= bound) break;
    pos += n - (idLength - 1);
  }
  return S_FALSE;
}

// Whether [from, bound) holds only zero bytes: room reserved for a header
// and never written, which a new header may take without losing audio.
bool AllZero(HANDLE file, uint64_t from, uint64_t bound) {
  BYTE buffer[kBlock];
  for (uint64_t pos = from; pos < bound;) {
    const DWORD n = bound - pos < kBlock ? static_cast<DWORD>(bound - pos) : kBlock;
    if (!SetPos(file, pos) || !ReadAll(file, buffer, n)) return false;
    for (DWORD k = 0; k < n; ++k)
      if (buffer[k]) return false;
    pos += n;
  }
  return true;
}

// Reads the format body of a trashed header: from the file's "fmt " chunk
// when a walk over the chunks finds one, else from its canonical place.
HRESULT ReadTrashedFmt(HANDLE file, bool found, DWORD size, uint64_t canonical, WAVEFORMATEX* out) {
  memset(out, 0, sizeof(*out));
  if (found && size >= 16) {
    DWORD n = size >= 18 ? 18 : 16;
    if (!ReadAll(file, out, n)) return KV_E_READ;
    return S_OK;
  }
  if (!SetPos(file, canonical) || !ReadAll(file, out, 18)) return KV_E_READ;
  return S_OK;
}

}  // namespace

extern "C" {

int64_t KVAPI KvSetFilePointer(HANDLE file, int64_t distance, DWORD method) {
  uint64_t pos = 0;
  if (!kvfile::Seek(file, distance, method, &pos)) return -1;
  return static_cast<int64_t>(pos);
}

BOOL KVAPI KvFileIsWave(const wchar_t* path, BOOL allowCompressed) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  FileCloser closer(file);
  DWORD remaining = 0;
  WAVEFORMATEX* wfx = ReadWaveFmt(file, &remaining);
  if (!wfx) return FALSE;
  BOOL ok = allowCompressed || !KvAudio_IsCompressed(wfx);
  free(wfx);
  return ok;
}

BOOL KVAPI KvFileIsWave64(const wchar_t* path, BOOL allowCompressed) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  FileCloser closer(file);
  int64_t remaining = 0;
  WAVEFORMATEX* wfx = ReadWave64Fmt(file, &remaining);
  if (!wfx) return FALSE;
  BOOL ok = allowCompressed || !KvAudio_IsCompressed(wfx);
  free(wfx);
  return ok;
}

BOOL KVAPI KvFileIsAiff(const wchar_t* path) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  FileCloser closer(file);
  return iff_IsAIFFFile(file, nullptr);
}

HRESULT KVAPI KvInitializeWav(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition) {
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  HANDLE file = CreateForWriting(path, disposition);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  FileCloser closer(file);
  return WriteWavHeader(file, wfx, 18, 0, kWavHeader);
}

HRESULT KVAPI KvInitializeWav64(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition) {
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  HANDLE file = CreateForWriting(path, disposition);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  FileCloser closer(file);
  return WriteW64Header(file, wfx, 18, 0, kW64Header);
}

HRESULT KVAPI KvInitializeWavWithJunk(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition,
                                      DWORD headerSize) {
  // Arguments are checked before the file is created or emptied.
  const uint64_t h = (static_cast<uint64_t>(headerSize) + 1) & ~static_cast<uint64_t>(1);
  if (h < kWavJunkMin || h - 8 > kRiffMaxSize) return E_INVALIDARG;
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  HANDLE file = CreateForWriting(path, disposition);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  FileCloser closer(file);
  return WriteWavHeader(file, wfx, 18, 0, static_cast<DWORD>(h));
}

HRESULT KVAPI KvInsertWavHeader(HANDLE file, const WAVEFORMATEX* wfx, DWORD dataSize, DWORD headerSize) {
  PositionKeeper keep(file);
  const uint64_t length = FileLength(file);
  SetPos(file, 0);
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  if ((headerSize & 1) || length < kWavHeader || headerSize < kWavHeader) return KV_E_BADLENGTH;
  if (headerSize > kWavHeader && headerSize < kWavJunkMin) return KV_E_BADLENGTH;
  return WriteWavHeader(file, wfx, 18, dataSize, headerSize);
}

HRESULT KVAPI KvInsertW64Header(HANDLE file, const WAVEFORMATEX* wfx, uint64_t dataSize, uint64_t headerSize) {
  PositionKeeper keep(file);
  const uint64_t length = FileLength(file);
  SetPos(file, 0);
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  if ((headerSize % 8) || length < kW64Header || headerSize < kW64Header) return KV_E_BADLENGTH;
  if (headerSize > kW64Header && headerSize < kW64JunkMin) return KV_E_BADLENGTH;
  return WriteW64Header(file, wfx, 18, dataSize, headerSize);
}

HRESULT KVAPI KvFixTrashedWav(HANDLE file, const WAVEFORMATEX* fallback, DWORD headerLimit) {
  PositionKeeper keep(file);
  const WAVEFORMATEX fb = Fallback(fallback);
  const uint64_t length = FileLength(file);
  // A RIFF file cannot describe more than 4 GiB.
  if (length > 0xFFFFFFFFull) return KV_E_TOOBIG;
  const uint64_t bound = headerLimit < length ? headerLimit : length;

  // The format: the file's own "fmt " chunk, or the canonical place.
  SetPos(file, 12);
  DWORD fmtSize = 0, left = bound > 12 ? static_cast<DWORD>(bound - 12) : 0;
  bool fmtFound = SUCCEEDED(riff_FindChunkHeader(file, kFmt, &fmtSize, &left));
  WAVEFORMATEX wfx;
  HRESULT hr = ReadTrashedFmt(file, fmtFound, fmtSize, 20, &wfx);
  if (FAILED(hr)) return hr;
  RepairFormat(&wfx, fb);

  // The data: a "data" chunk found by walking the chunks from the first,
  // else the id anywhere in the header room, else the end of a header room
  // that was reserved and never written. Anything else is not repaired.
  uint64_t dataStart = 0;
  SetPos(file, 12);
  DWORD dataSize = 0;
  left = bound > 12 ? static_cast<DWORD>(bound - 12) : 0;
  if (SUCCEEDED(riff_FindChunkHeader(file, kData, &dataSize, &left))) {
    dataStart = Tell(file);
  } else {
    static const char id[4] = {'d', 'a', 't', 'a'};
    uint64_t hit = 0;
    hr = ScanForId(file, 12, bound, id, 4, &hit);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) {
      dataStart = hit + 8;
    } else if (bound >= kWavHeader && AllZero(file, 38, bound)) {
      dataStart = bound;
    } else {
      return KV_E_NOTFOUND;
    }
  }
  if (dataStart > length) return KV_E_NOTFOUND;
  uint64_t size = length - dataStart;
  size -= size % wfx.nBlockAlign;
  if (dataStart == kWavShortHeader) {
    // The common 44-byte header keeps its 16-byte fmt.
    return WriteWavHeader(file, &wfx, 16, static_cast<DWORD>(size), kWavShortHeader);
  }
  if (dataStart > 0xFFFFFFFFull) return KV_E_TOOBIG;
  return KvInsertWavHeader(file, &wfx, static_cast<DWORD>(size), static_cast<DWORD>(dataStart));
}

HRESULT KVAPI KvFixTrashedW64(HANDLE file, const WAVEFORMATEX* fallback, uint64_t headerLimit) {
  PositionKeeper keep(file);
  const WAVEFORMATEX fb = Fallback(fallback);
  const uint64_t length = FileLength(file);
  const uint64_t limit = headerLimit & ~static_cast<uint64_t>(7);
  const uint64_t bound = limit < length ? limit : length;

  SetPos(file, 40);
  uint64_t fmtSize = 0;
  int64_t left = bound > 40 ? static_cast<int64_t>(bound - 40) : 0;
  bool fmtFound = SUCCEEDED(riff64_FindChunkHeader(file, KVRIFF64_FMT, &fmtSize, &left));
  WAVEFORMATEX wfx;
  HRESULT hr = ReadTrashedFmt(file, fmtFound, fmtSize > 18 ? 18 : static_cast<DWORD>(fmtSize), 64, &wfx);
  if (FAILED(hr)) return hr;
  RepairFormat(&wfx, fb);

  uint64_t dataStart = 0;
  SetPos(file, 40);
  uint64_t dataSize = 0;
  left = bound > 40 ? static_cast<int64_t>(bound - 40) : 0;
  if (SUCCEEDED(riff64_FindChunkHeader(file, KVRIFF64_DATA, &dataSize, &left))) {
    dataStart = Tell(file);
  } else {
    uint64_t hit = 0;
    hr = ScanForId(file, 40, bound, &KVRIFF64_DATA, 16, &hit);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) {
      dataStart = hit + 24;
    } else if (bound >= kW64Header && AllZero(file, 88, bound)) {
      dataStart = bound;
    } else {
      return KV_E_NOTFOUND;
    }
  }
  if (dataStart > length) return KV_E_NOTFOUND;
  uint64_t size = length - dataStart;
  size -= size % wfx.nBlockAlign;
  if (dataStart == kW64ShortHeader) return WriteW64Header(file, &wfx, 16, size, kW64ShortHeader);
  return KvInsertW64Header(file, &wfx, size, dataStart);
}

WAVEFORMATEX* KVAPI KvGetFileWfx(const wchar_t* path, uint64_t* frameCount, uint64_t* dataOffset) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  FileCloser closer(file);
  Probe p = ReadWaveFileFormat(file);
  if (!p.wfx) p = ReadWave64FileFormat(file);
  if (!p.wfx) p = ReadAiffFileFormat(file);
  if (!p.wfx) return nullptr;
  if (frameCount) *frameCount = p.frames;
  if (dataOffset) *dataOffset = p.offset;
  return p.wfx;
}

HRESULT KVAPI KvSetFileWfx(const wchar_t* path, const WAVEFORMATEX* wfx) {
  HRESULT hr = CheckFormat(wfx);
  if (FAILED(hr)) return hr;
  if (!path) return E_INVALIDARG;
  HANDLE file = kvfile::Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  FileCloser closer(file);

  Probe wave = ReadWaveFileFormat(file);
  if (wave.wfx) {
    free(wave.wfx);
    // Back at the "fmt " chunk: the new 18-byte body takes its place. A
    // longer chunk keeps its room as a JUNK chunk after the new one (or as
    // zeros inside it when there is no room for a JUNK header); a 16-byte
    // chunk has no room for the cbSize field and is left alone.
    SetPos(file, 0);
    DWORD content = 0, form = 0, size = 0;
    if (FAILED(riff_ReadFileID(file, &content, &form))) return KV_E_READ;
    if (FAILED(riff_FindChunkHeader(file, kFmt, &size, &content))) return KV_E_READ;
    if (size < 18) return KV_E_UNSUPPORTEDFILE;
    const uint64_t start = Tell(file) - 8;
    const DWORD padded = size + (size & 1);
    BYTE fmt[18];
    PlainBytes(wfx, fmt);
    SetPos(file, start);
    if (padded >= 26) {
      if (FAILED(hr = riff_WriteChunkHeader(file, kFmt, 18))) return hr;
      if (!WriteAll(file, fmt, 18)) return KV_E_WRITE;
      if (FAILED(hr = riff_WriteChunkHeader(file, kJunk, padded - 26))) return hr;
      return WriteZeros(file, padded - 26);
    }
    if (FAILED(hr = riff_WriteChunkHeader(file, kFmt, size))) return hr;
    if (!WriteAll(file, fmt, 18)) return KV_E_WRITE;
    return WriteZeros(file, padded - 18);
  }

  DWORD frames = 0;
  hr = iff_GetAIFFWfx(file, nullptr, &frames, nullptr);
  if (FAILED(hr)) return hr;
  if (wfx->wFormatTag != WAVE_FORMAT_PCM) return KV_E_UNSUPPORTEDFILE;
  // The new "COMM" body, big-endian: channels, the file's frame count,
  // sample size, 80-bit rate.
  WORD exponent, mantissa[4];
  aiff_CreateRate(wfx->nSamplesPerSec, &exponent, mantissa);
  WORD words[9] = {wfx->nChannels, static_cast<WORD>(frames >> 16), static_cast<WORD>(frames), wfx->wBitsPerSample,
                   exponent, mantissa[0], mantissa[1], mantissa[2], mantissa[3]};
  iff_ByteSwap16(words, 9);
  DWORD formSize = 0;
  if (!iff_IsAIFFFile(file, &formSize)) return KV_E_CORRUPT;
  SetPos(file, 12);
  DWORD commSize = 0, remaining = formSize >= 4 ? formSize - 4 : 0;
  hr = iff_FindChunkHeader(file, KVIFF_COMM, &commSize, &remaining);
  if (FAILED(hr)) return hr;
  if (!WriteAll(file, words, 18)) return KV_E_WRITE;
  return S_OK;
}

}  // extern "C"

HRESULT KVAPI KvInitializeWav(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition) {
  RecordHeader h(fmt);
  return KvInitializeWav(path, &h.wfx, disposition);
}

HRESULT KVAPI KvInitializeWav64(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition) {
  RecordHeader h(fmt);
  return KvInitializeWav64(path, &h.wfx, disposition);
}

HRESULT KVAPI KvInitializeWavWithJunk(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition,
                                      DWORD headerSize) {
  RecordHeader h(fmt);
  return KvInitializeWavWithJunk(path, &h.wfx, disposition, headerSize);
}

HRESULT KVAPI KvInsertWavHeader(HANDLE file, const _kvwaveformat& fmt, DWORD dataSize, DWORD headerSize) {
  RecordHeader h(fmt);
  return KvInsertWavHeader(file, &h.wfx, dataSize, headerSize);
}

HRESULT KVAPI KvInsertW64Header(HANDLE file, const _kvwaveformat& fmt, uint64_t dataSize, uint64_t headerSize) {
  RecordHeader h(fmt);
  return KvInsertW64Header(file, &h.wfx, dataSize, headerSize);
}

HRESULT KVAPI KvFixTrashedWav(HANDLE file, const _kvwaveformat& fallback, DWORD headerLimit) {
  RecordHeader h(fallback);
  return KvFixTrashedWav(file, &h.wfx, headerLimit);
}

HRESULT KVAPI KvFixTrashedW64(HANDLE file, const _kvwaveformat& fallback, uint64_t headerLimit) {
  RecordHeader h(fallback);
  return KvFixTrashedW64(file, &h.wfx, headerLimit);
}

HRESULT KVAPI KvSetFileWfx(const wchar_t* path, const _kvwaveformat& fmt) {
  RecordHeader h(fmt);
  return KvSetFileWfx(path, &h.wfx);
}
