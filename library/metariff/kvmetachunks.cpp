// The payloads of the metadata chunks, kind by kind. Each writer reads the
// whole of its kind from the reader's stream, checking sizes as it goes,
// and only then appends the chunk, so a malformed stream leaves the file as
// it was. Raw chunks are copied piece by piece as they are read.
#include "kvmetachunks.h"

#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "kvbyteorder.h"
#include "kvdisplist.h"
#include "kvguid.h"
#include "kviff.h"
#include "kvnanotime.h"
#include "kvresult.h"
#include "kvriff.h"
#include "kvriff_io.h"
#include "kvsummary.h"
#include "kvwavfile.h"
#include "kvwidetext.h"

namespace {

constexpr DWORD Four(const char (&s)[5]) { return KVRIFF_FOURCC(s[0], s[1], s[2], s[3]); }

// RIFF chunks are named by their FourCC; the GUID is for 64-bit RIFF only.
const GUID kNoGuid = {};
const DWORD kPiece = 16384;
const DWORD kKv04Parts = 4096;
const DWORD kSummaryText64 = 2048;

typedef std::vector<BYTE> Bytes;
// Texts as the files hold them: 16-bit units.
typedef std::basic_string<WCHAR> Text;

// A payload being built, little-endian.
struct Out {
  Bytes b;
  void U8(BYTE v) { b.push_back(v); }
  void U16(WORD v) {
    U8(static_cast<BYTE>(v));
    U8(static_cast<BYTE>(v >> 8));
  }
  void U32(DWORD v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<BYTE>(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    U32(static_cast<DWORD>(v));
    U32(static_cast<DWORD>(v >> 32));
  }
  void Raw(const void* p, size_t n) {
    const BYTE* s = static_cast<const BYTE*>(p);
    b.insert(b.end(), s, s + n);
  }
  void Zeros(size_t n) { b.insert(b.end(), n, 0); }
  void PutU32(size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
  }
};

// Big-endian for the AIFF chunks.
struct OutBE : Out {
  void U16(WORD v) {
    U8(static_cast<BYTE>(v >> 8));
    U8(static_cast<BYTE>(v));
  }
  void U32(DWORD v) {
    for (int i = 3; i >= 0; --i) U8(static_cast<BYTE>(v >> (8 * i)));
  }
};

DWORD GetU32(const Bytes& b, size_t at) { return GetLE32(&b[at]); }
uint64_t GetU64(const Bytes& b, size_t at) { return GetLE64(&b[at]); }

bool Fits32(uint64_t v) { return v <= 0xFFFFFFFFull; }

int64_t SaturatedAdd(int64_t a, int64_t b) {
  if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
  if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
  return a + b;
}

int64_t SaturatedSub(int64_t a, int64_t b) {
  if (b < 0 && a > INT64_MAX + b) return INT64_MAX;
  if (b > 0 && a < INT64_MIN + b) return INT64_MIN;
  return a - b;
}

bool Seek(HANDLE file, int64_t pos) { return pos >= 0 && kvriffio::SetPos(file, static_cast<uint64_t>(pos)); }

uint64_t FileLength(HANDLE file) { return kvriffio::FileLength(file); }

bool WriteAll(HANDLE file, const void* data, DWORD size) { return kvriffio::WriteAll(file, data, size); }

// Exactly n bytes of the stream, read in pieces (a size from the stream
// never allocates more than the stream really gives).
HRESULT ReadBytes(IStream* stream, DWORD n, Bytes* out) {
  try {
    out->clear();
    while (out->size() < n) {
      DWORD piece = n - static_cast<DWORD>(out->size());
      if (piece > 65536) piece = 65536;
      size_t at = out->size();
      out->resize(at + piece);
      HRESULT hr = KvMetaChunks_Read(stream, out->data() + at, piece);
      if (FAILED(hr)) return hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// The next item's payload.
HRESULT ReadItem(IStream* stream, Bytes* payload) {
  DWORD size = 0;
  HRESULT hr = KvMetaChunks_ReadEntryHeader(stream, &size);
  return SUCCEEDED(hr) ? ReadBytes(stream, size, payload) : hr;
}

// A wide text of n bytes up to its first zero.
Text TextOf(const BYTE* p, DWORD bytes) {
  Text t;
  for (DWORD i = 0; i + 1 < bytes; i += 2) {
    WCHAR c = static_cast<WCHAR>(p[i] | (p[i + 1] << 8));
    if (!c) break;
    t += c;
  }
  return t;
}

// The end of the RIFF content, where chunks are appended.
HRESULT RiffEnd(HANDLE file, int64_t* end) {
  DWORD content = 0, form = 0;
  if (!Seek(file, 0)) return KV_E_READ;
  HRESULT hr = riff_ReadFileID(file, &content, &form);
  if (FAILED(hr)) return hr;
  uint64_t e = static_cast<uint64_t>(content) + 12;
  if (e > FileLength(file)) return KV_E_BADLENGTH;
  *end = static_cast<int64_t>(e);
  return S_OK;
}

HRESULT Riff64End(HANDLE file, int64_t* end) {
  GUID riff;
  uint64_t size = 0;
  if (!Seek(file, 0) || !kvriffio::ReadAll(file, &riff, 16) || !kvriffio::ReadAll(file, &size, 8)) return KV_E_READ;
  if (!KvGuidEquals(riff, KVRIFF64_RIFF)) return KV_E_NORIFF;
  if (size < 40 || size > FileLength(file)) return KV_E_BADLENGTH;
  *end = static_cast<int64_t>(size);
  return S_OK;
}

// Removes what a failed append left past the old end of the file.
void CutBack(HANDLE file, int64_t start, uint64_t oldLength) {
  if (static_cast<uint64_t>(start) >= oldLength && Seek(file, start)) kvfile::SetEnd(file);
}

// One whole chunk appended through the frame: a FourCC id in RIFF files, the
// kind GUID in 64-bit RIFF files.
HRESULT AppendChunk(HANDLE file, BOOL riff64, DWORD id, const GUID& guid, const Bytes& payload) {
  const uint64_t oldLength = FileLength(file);
  int64_t sizePos = 0;
  HRESULT hr;
  if (riff64) {
    hr = KvFMMeta64_BeginChunk(file, guid, &sizePos);
    if (FAILED(hr)) return hr;
    hr = WriteAll(file, payload.data(), static_cast<DWORD>(payload.size())) ? S_OK : KV_E_WRITE;
    if (SUCCEEDED(hr)) hr = KvFMMeta64_EndChunk(file, sizePos, payload.size());
    if (FAILED(hr)) CutBack(file, sizePos - 16, oldLength);
  } else {
    if (payload.size() > 0xFFFFFFF0u) return KV_E_TOOBIG;
    hr = KvFMMeta_BeginChunk(file, id, &sizePos);
    if (FAILED(hr)) return hr;
    hr = WriteAll(file, payload.data(), static_cast<DWORD>(payload.size())) ? S_OK : KV_E_WRITE;
    if (SUCCEEDED(hr)) hr = KvFMMeta_EndChunk(file, sizePos, static_cast<DWORD>(payload.size()));
    if (FAILED(hr)) CutBack(file, sizePos - 4, oldLength);
  }
  return hr;
}

// ---- fixed records ----

// u32 count, then each item's payload of exactly size bytes.
HRESULT ListOf(IStream* stream, DWORD count, DWORD size, Out* out) {
  out->U32(count);
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (FAILED(hr)) return hr;
    if (item.size() != size) return KV_E_READ;
    out->Raw(item.data(), size);
  }
  return S_OK;
}

// The first item's payload: exactly size bytes (longer ones cut) or, with
// atMost, up to size bytes.
HRESULT RecordOf(IStream* stream, DWORD size, bool atMost, Out* out) {
  Bytes item;
  HRESULT hr = ReadItem(stream, &item);
  if (FAILED(hr)) return hr;
  if (!atMost && item.size() < size) return KV_E_READ;
  out->Raw(item.data(), item.size() < size ? item.size() : size);
  return S_OK;
}

HRESULT Kv03Of(IStream* stream, DWORD count, Out* out) {
  out->U32(count);
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (FAILED(hr)) return hr;
    if (item.size() < 8) return KV_E_READ;
    uint64_t whole = static_cast<uint64_t>(GetU32(item, 0)) + GetU32(item, 4);
    if (whole < 8 || whole > item.size()) return KV_E_READ;
    out->Raw(item.data(), static_cast<size_t>(whole));
  }
  return S_OK;
}

HRESULT Kv04Of(IStream* stream, DWORD count, Out* out) {
  out->U32(count);
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (FAILED(hr)) return hr;
    if (item.size() < 62) return KV_E_READ;
    uint64_t first = GetU32(item, 54), second = GetU32(item, 58);
    // The two parts together hold at most 4096 bytes; a larger entry is refused.
    if (first + second > kKv04Parts || 62 + first + second > item.size()) return KV_E_READ;
    out->U32(GetU32(item, 4));
    out->U32(0);
    for (int v = 0; v < 4; ++v) out->U32(GetU32(item, 8 + 4 * v));
    out->U32(GetU32(item, 24) & 7);
    out->Raw(item.data() + 28, 24);
    out->U32(0);
    out->U32(static_cast<DWORD>(first));
    out->U32(static_cast<DWORD>(second));
    // The parts follow each other whole, as the sizes in the head say.
    out->Raw(item.data() + 62, static_cast<size_t>(first + second));
  }
  return S_OK;
}

// ---- play lists ----

HRESULT PlayList(HANDLE file, IStream* stream, DWORD count, BOOL riff64) {
  Out all, plst;
  all.U32(count);
  plst.U32(0);
  DWORD segments = 0;
  bool long64 = false;
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (FAILED(hr)) return hr;
    if (item.size() != 24) return KV_E_READ;
    all.Raw(item.data(), 24);
    uint64_t length = GetU64(item, 8);
    if (!Fits32(length)) {
      long64 = true;
      continue;
    }
    plst.U32(GetU32(item, 0));
    plst.U32(static_cast<DWORD>(length));
    plst.U32(GetU32(item, 16));
    ++segments;
  }
  // 64-bit RIFF: one chunk of every item as it stands.
  if (riff64) return AppendChunk(file, TRUE, 0, KVFIO_METAGUID_PLAYLIST, all.b);
  // The count is that of the segments written.
  plst.PutU32(0, segments);
  HRESULT hr = AppendChunk(file, FALSE, Four("plst"), kNoGuid, plst.b);
  if (SUCCEEDED(hr) && long64) hr = AppendChunk(file, FALSE, Four("kv02"), kNoGuid, all.b);
  return hr;
}

// ---- sampler ----

struct Loop {
  DWORD cueId, type;
  uint64_t start, length;
  DWORD fraction, playCount;
};

// The sampler item: its 36-byte header, loops and sampler-specific data.
HRESULT ReadSampler(IStream* stream, Bytes* item, std::vector<Loop>* loops, size_t* dataAt, DWORD* dataSize) {
  HRESULT hr = ReadItem(stream, item);
  if (FAILED(hr)) return hr;
  if (item->size() < 36) return KV_E_READ;
  uint64_t n = GetU32(*item, 28);
  *dataSize = GetU32(*item, 32);
  if (36 + n * 32 + *dataSize > item->size()) return KV_E_READ;
  for (uint64_t i = 0; i < n; ++i) {
    size_t at = static_cast<size_t>(36 + i * 32);
    loops->push_back({GetU32(*item, at), GetU32(*item, at + 4), GetU64(*item, at + 8), GetU64(*item, at + 16),
                      GetU32(*item, at + 24), GetU32(*item, at + 28)});
  }
  *dataAt = static_cast<size_t>(36 + n * 32);
  return S_OK;
}

HRESULT Sampler(HANDLE file, IStream* stream, BOOL riff64) {
  Bytes item;
  std::vector<Loop> loops;
  size_t dataAt = 0;
  DWORD dataSize = 0;
  HRESULT hr;
  try {
    hr = ReadSampler(stream, &item, &loops, &dataAt, &dataSize);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  Out out;
  out.Raw(item.data(), 36);
  DWORD written = 0;
  for (const Loop& l : loops) {
    // A loop of length 0 ends where it starts.
    uint64_t end = l.length ? l.start + l.length - 1 : l.start;
    if (!Fits32(l.start) || !Fits32(l.length) || !Fits32(end)) continue;
    out.U32(l.cueId);
    out.U32(l.type);
    out.U32(static_cast<DWORD>(l.start));
    out.U32(static_cast<DWORD>(end));
    out.U32(l.fraction);
    out.U32(l.playCount);
    ++written;
  }
  // The header's loop count is that of the loops written.
  out.PutU32(28, written);
  out.Raw(item.data() + dataAt, dataSize);
  return AppendChunk(file, riff64, Four("smpl"), KVFIO_METAGUID_SAMPLER, out.b);
}

// The AIFF instrument ("INST") and its loop markers ("MARK").
HRESULT AiffInstrument(HANDLE file, IStream* stream) {
  DWORD formSize = 0;
  if (!iff_IsAIFFFile(file, &formSize)) return S_OK;
  Bytes item;
  std::vector<Loop> loops;
  size_t dataAt = 0;
  DWORD dataSize = 0;
  HRESULT hr;
  try {
    hr = ReadSampler(stream, &item, &loops, &dataAt, &dataSize);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  // At most two loops, sustain then release; the first that needs more than
  // 32 bits ends the use of loops.
  std::vector<Loop> used;
  for (size_t i = 0; i < loops.size() && i < 2; ++i) {
    const Loop& l = loops[i];
    if (!Fits32(l.start) || !Fits32(l.length) || !Fits32(l.start + l.length)) break;
    used.push_back(l);
  }
  OutBE inst;
  inst.U8(item[12]);  // base note: the MIDI unity note
  inst.U8(0);         // detune
  inst.U8(0);         // low note
  inst.U8(127);       // high note
  inst.U8(0);         // low velocity
  inst.U8(127);       // high velocity
  inst.U16(0);        // gain
  // Marker ids are positive, as AIFF requires: 1 and 2 for the first loop.
  for (size_t i = 0; i < 2; ++i) {
    if (i < used.size()) {
      inst.U16(static_cast<WORD>(used[i].type + 1));
      inst.U16(static_cast<WORD>(2 * i + 1));
      inst.U16(static_cast<WORD>(2 * i + 2));
    } else {
      inst.U16(0);
      inst.U16(0);
      inst.U16(0);
    }
  }
  OutBE mark;
  mark.U16(static_cast<WORD>(2 * used.size()));
  for (size_t i = 0; i < used.size(); ++i) {
    const char* names[2] = {"beg loop", "end loop"};
    DWORD positions[2] = {static_cast<DWORD>(used[i].start), static_cast<DWORD>(used[i].start + used[i].length)};
    for (int m = 0; m < 2; ++m) {
      mark.U16(static_cast<WORD>(2 * i + 1 + m));
      mark.U32(positions[m]);
      mark.U8(8);
      mark.Raw(names[m], 8);
      mark.U8(0);
    }
  }
  // Both chunks go at the end of the FORM content, which grows by them.
  const uint64_t end = static_cast<uint64_t>(formSize) + 8;
  const uint64_t oldLength = FileLength(file);
  if (end > oldLength) return KV_E_BADLENGTH;
  DWORD added = 8 + static_cast<DWORD>(inst.b.size()) + 8 + static_cast<DWORD>(mark.b.size());
  if (static_cast<uint64_t>(formSize) + added > 0xFFFFFFF7ull) return KV_E_TOOBIG;
  DWORD instHead[2] = {KVIFF_INST, static_cast<DWORD>(inst.b.size())};
  DWORD markHead[2] = {KVIFF_MARK, static_cast<DWORD>(mark.b.size())};
  hr = Seek(file, static_cast<int64_t>(end)) ? S_OK : KV_E_WRITE;
  if (SUCCEEDED(hr)) hr = iff_WriteChunk(file, instHead);
  if (SUCCEEDED(hr) && !WriteAll(file, inst.b.data(), static_cast<DWORD>(inst.b.size()))) hr = KV_E_WRITE;
  if (SUCCEEDED(hr)) hr = iff_WriteChunk(file, markHead);
  if (SUCCEEDED(hr) && !WriteAll(file, mark.b.data(), static_cast<DWORD>(mark.b.size()))) hr = KV_E_WRITE;
  if (SUCCEEDED(hr)) {
    DWORD size = formSize + added;
    iff_ByteSwap32(&size, 1);
    if (!Seek(file, 4) || !WriteAll(file, &size, 4)) hr = KV_E_WRITE;
  }
  if (FAILED(hr)) CutBack(file, static_cast<int64_t>(end), oldLength);
  return hr;
}

// ---- display lists ----

HRESULT DisplayList(HANDLE file, IStream* stream, BOOL riff64) {
  DWORD size = 0;
  HRESULT hr = KvMetaChunks_ReadEntryHeader(stream, &size);
  if (FAILED(hr)) return hr;
  displist* list = displist_Create();
  if (!list) return E_OUTOFMEMORY;
  hr = displist_LoadFromStream(list, stream);
  int64_t end = 0;
  if (SUCCEEDED(hr)) hr = riff64 ? Riff64End(file, &end) : RiffEnd(file, &end);
  if (SUCCEEDED(hr)) {
    const uint64_t oldLength = FileLength(file);
    hr = Seek(file, end) ? S_OK : KV_E_WRITE;
    if (riff64) {
      uint64_t written = 0;
      if (SUCCEEDED(hr)) hr = displist64_Save(file, list, &written);
      if (SUCCEEDED(hr)) hr = riff64_UpdateRIFFSize(file, static_cast<int64_t>(written));
    } else {
      DWORD written = 0;
      if (SUCCEEDED(hr)) hr = displist_Save(file, list, &written);
      if (SUCCEEDED(hr)) hr = riff_UpdateRIFFSize(file, written);
    }
    if (FAILED(hr)) CutBack(file, end, oldLength);
  }
  displist_Destroy(list);
  return hr;
}

// ---- summary ----

struct SummaryText {
  DWORD id;
  Text text;
};

// A summary item {u32, FourCC id, u32 text bytes} and its text, from a buffer.
HRESULT SummaryItemOf(const Bytes& item, std::vector<SummaryText>* out) {
  if (item.size() < 12) return KV_E_READ;
  DWORD bytes = GetU32(item, 8);
  if (bytes > item.size() - 12) return KV_E_READ;
  out->push_back({GetU32(item, 4), TextOf(item.data() + 12, bytes)});
  return S_OK;
}

HRESULT WriteSummary(HANDLE file, const std::vector<SummaryText>& texts, BOOL riff64) {
  if (riff64) {
    Out out;
    out.U32(0);
    DWORD count = 0;
    for (const SummaryText& t : texts) {
      DWORD bytes = static_cast<DWORD>((t.text.size() + 1) * 2);
      if (bytes > kSummaryText64) return KV_E_READ;
      out.U32(t.id);
      out.U32(bytes);
      out.Raw(t.text.c_str(), bytes);
      ++count;
    }
    out.PutU32(0, count);
    return AppendChunk(file, TRUE, 0, KVFIO_METAGUID_SUMMARY, out.b);
  }
  KvSummary s = {0, nullptr};
  HRESULT hr = S_OK;
  for (const SummaryText& t : texts) {
    // The first text of an id stays.
    if (!t.id || t.text.empty() || SUCCEEDED(KvSummary_GetItemIndex(&s, t.id))) continue;
    hr = KvSummary_SetItem(&s, t.id, t.text.c_str());
    if (FAILED(hr)) break;
  }
  int64_t end = 0;
  if (SUCCEEDED(hr) && s.count) hr = RiffEnd(file, &end);
  if (SUCCEEDED(hr) && s.count) {
    const uint64_t oldLength = FileLength(file);
    DWORD written = 0;
    hr = Seek(file, end) ? S_OK : KV_E_WRITE;
    if (SUCCEEDED(hr)) hr = KvSummary_Save(file, &s, &written);
    if (SUCCEEDED(hr)) hr = riff_UpdateRIFFSize(file, written);
    if (FAILED(hr)) CutBack(file, end, oldLength);
  }
  KvSummary_Free(&s);
  return hr;
}

// ---- markers and regions ----

struct Marker {
  DWORD cueId;
  int64_t position, length;  // in samples
  bool region;
  Text text;
  bool Fits() const {
    return position >= 0 && length >= 0 && Fits32(static_cast<uint64_t>(position)) &&
           Fits32(static_cast<uint64_t>(length));
  }
};

// "labl" and "ltxt" keep their unpadded sizes; the pad byte follows them.
void SubChunk(Out* out, DWORD id, const Bytes& data) {
  out->U32(id);
  out->U32(static_cast<DWORD>(data.size()));
  out->Raw(data.data(), data.size());
  if (data.size() & 1) out->U8(0);
}

HRESULT WriteMarkers(HANDLE file, const std::vector<Marker>& markers, bool allowKv01, BOOL riff64) {
  // The 32-byte entry heads and texts of "kv01", also the 64-bit marker chunk.
  Out kv01;
  kv01.U32(static_cast<DWORD>(markers.size()));
  for (const Marker& m : markers) {
    DWORD bytes = static_cast<DWORD>((m.text.size() + 1) * 2);
    kv01.U32(m.cueId);
    kv01.U32(0);
    kv01.U64(static_cast<uint64_t>(m.position));
    kv01.U64(static_cast<uint64_t>(m.length));
    kv01.U32(bytes);
    kv01.U32(0);
    kv01.Raw(m.text.c_str(), bytes);
  }
  if (riff64) return AppendChunk(file, TRUE, 0, KVFIO_METAGUID_MARKERS, kv01.b);

  Out cue, adtl;
  cue.U32(0);
  DWORD points = 0;
  bool needKv01 = false, needAdtl = false;
  for (const Marker& m : markers) {
    if (!m.Fits()) {
      needKv01 = true;
      continue;
    }
    cue.U32(m.cueId);
    cue.U32(static_cast<DWORD>(m.position));
    cue.U32(Four("data"));
    cue.U32(0);
    cue.U32(0);
    cue.U32(static_cast<DWORD>(m.position));
    ++points;
    if (m.region || !m.text.empty()) needAdtl = true;
  }
  // The count is that of the cue points written.
  cue.PutU32(0, points);
  HRESULT hr = AppendChunk(file, FALSE, Four("cue "), kNoGuid, cue.b);
  if (SUCCEEDED(hr) && needKv01 && allowKv01) hr = AppendChunk(file, FALSE, Four("kv01"), kNoGuid, kv01.b);
  if (FAILED(hr) || !needAdtl) return hr;
  adtl.U32(Four("adtl"));
  for (const Marker& m : markers) {
    if (!m.Fits() || !m.region) continue;
    Out ltxt;
    ltxt.U32(m.cueId);
    ltxt.U32(static_cast<DWORD>(m.length));
    ltxt.U32(Four("rgn "));
    ltxt.Zeros(8);
    SubChunk(&adtl, Four("ltxt"), ltxt.b);
  }
  for (const Marker& m : markers) {
    if (!m.Fits() || m.text.empty()) continue;
    Out labl;
    labl.U32(m.cueId);
    // The label in the ANSI code page, with its terminator.
    std::vector<char> ansi(m.text.size() * 4 + 2);
    int n = kvwide::ToAnsi(m.text.c_str(), ansi.data(), static_cast<int>(ansi.size()));
    if (n <= 0) {
      labl.U8(0);
    } else {
      labl.Raw(ansi.data(), static_cast<size_t>(n));
    }
    SubChunk(&adtl, Four("labl"), labl.b);
  }
  return AppendChunk(file, FALSE, Four("LIST"), kNoGuid, adtl.b);
}

HRESULT GenericMarkers(HANDLE file, IStream* stream, DWORD count, BOOL riff64) {
  std::vector<Marker> markers;
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (FAILED(hr)) return hr;
    if (item.size() < 28) return KV_E_READ;
    DWORD bytes = GetU32(item, 24);
    if (bytes > item.size() - 28) return KV_E_READ;
    Marker m;
    m.cueId = GetU32(item, 4);
    m.position = static_cast<int64_t>(GetU64(item, 8));
    m.length = static_cast<int64_t>(GetU64(item, 16));
    // Values above 63 bits are out of every range here.
    if (m.position < 0) m.position = INT64_MAX;
    if (m.length < 0) m.length = INT64_MAX;
    m.region = m.length != 0;
    m.text = TextOf(item.data() + 28, bytes);
    markers.push_back(m);
  }
  return WriteMarkers(file, markers, true, riff64);
}

}  // namespace

// ---- stream reading ----

HRESULT KvMetaChunks_Read(IStream* stream, void* buffer, ULONG n) {
  if (n == 0) return S_OK;
  ULONG got = 0;
  HRESULT hr = stream->Read(buffer, n, &got);
  return FAILED(hr) || got != n ? KV_E_READ : S_OK;
}

HRESULT KvMetaChunks_ReadEntryHeader(IStream* stream, DWORD* payloadSize) {
  struct {
    DWORD size, version;
    GUID key;
    DWORD dataSize;
  } head;
  HRESULT hr = KvMetaChunks_Read(stream, &head, sizeof(head));
  if (FAILED(hr)) return hr;
  if (head.size != 28 || head.version != 100) return KV_E_READ;
  *payloadSize = head.dataSize;
  return S_OK;
}

HRESULT KvMetaChunks_Skip(IStream* stream, DWORD n) {
  BYTE buffer[4096];
  while (n) {
    DWORD piece = n < sizeof(buffer) ? n : sizeof(buffer);
    HRESULT hr = KvMetaChunks_Read(stream, buffer, piece);
    if (FAILED(hr)) return hr;
    n -= piece;
  }
  return S_OK;
}

bool KvMetaChunks_IsAudioChunk(DWORD id) {
  return id == Four("fmt ") || id == Four("data") || id == Four("fact") || id == Four("ds64") ||
         id == Four("RIFF") || id == Four("RF64");
}

// ---- writers ----

namespace {

HRESULT FixedKind(HANDLE file, IStream* stream, DWORD count, KVFIO_TYPESOFMETADATA kind, BOOL riff64) {
  Out out;
  HRESULT hr;
  DWORD id = 0;
  switch (kind) {
    case KVFIO_META_SCOT: id = Four("scot"); hr = RecordOf(stream, 424, false, &out); break;
    case KVFIO_META_TLST: id = Four("tlst"); hr = ListOf(stream, count, 24, &out); break;
    case KVFIO_META_STR2: id = Four("str2"); hr = RecordOf(stream, 20, true, &out); break;
    case KVFIO_META_BMRK: id = Four("bmrk"); hr = ListOf(stream, count, 52, &out); break;
    case KVFIO_META_DTBT: id = Four("dtbt"); hr = ListOf(stream, count, 12, &out); break;
    case KVFIO_META_KV03: id = Four("kv03"); hr = Kv03Of(stream, count, &out); break;
    case KVFIO_META_KV04: id = Four("kv04"); hr = Kv04Of(stream, count, &out); break;
    case KVFIO_META_BMPI: id = Four("bmpi"); hr = RecordOf(stream, 48, true, &out); break;
    case KVFIO_META_BMPM: id = Four("bmpm"); hr = ListOf(stream, count, 56, &out); break;
    default: return S_OK;
  }
  if (FAILED(hr)) return hr;
  return AppendChunk(file, riff64, id, *KvFMMeta_GuidFromKind(kind), out.b);
}

// Raw chunks: each item is a whole RIFF chunk, copied as it stands to the end
// of the RIFF content, with a pad byte after an odd size so that the chunks
// after it stay aligned.
HRESULT RawChunks(HANDLE file, IStream* stream, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    DWORD size = 0;
    HRESULT hr = KvMetaChunks_ReadEntryHeader(stream, &size);
    if (FAILED(hr)) return hr;
    if (size < 8) return KV_E_READ;
    DWORD head[2];
    hr = KvMetaChunks_Read(stream, head, 8);
    if (FAILED(hr)) return hr;
    if (head[1] > size - 8) return KV_E_READ;
    DWORD rest = size - 8 - head[1];
    if (KvMetaChunks_IsAudioChunk(head[0])) {
      hr = KvMetaChunks_Skip(stream, size - 8);
      if (FAILED(hr)) return hr;
      continue;
    }
    int64_t end = 0;
    hr = RiffEnd(file, &end);
    if (FAILED(hr)) return hr;
    const uint64_t oldLength = FileLength(file);
    DWORD pad = head[1] & 1;
    if (static_cast<uint64_t>(head[1]) + pad + 8 > 0xFFFFFFF0ull) return KV_E_TOOBIG;
    hr = Seek(file, end) && WriteAll(file, head, 8) ? S_OK : KV_E_WRITE;
    BYTE* buffer = new (std::nothrow) BYTE[kPiece];
    if (!buffer) hr = E_OUTOFMEMORY;
    for (DWORD left = head[1]; SUCCEEDED(hr) && left;) {
      DWORD piece = left < kPiece ? left : kPiece;
      hr = KvMetaChunks_Read(stream, buffer, piece);
      if (SUCCEEDED(hr) && !WriteAll(file, buffer, piece)) hr = KV_E_WRITE;
      left -= piece;
    }
    delete[] buffer;
    if (SUCCEEDED(hr) && pad) {
      BYTE zero = 0;
      if (!WriteAll(file, &zero, 1)) hr = KV_E_WRITE;
    }
    if (SUCCEEDED(hr)) hr = riff_UpdateRIFFSize(file, static_cast<int64_t>(head[1]) + pad + 8);
    if (SUCCEEDED(hr)) hr = KvMetaChunks_Skip(stream, rest);
    if (FAILED(hr)) {
      CutBack(file, end, oldLength);
      return hr;
    }
  }
  return S_OK;
}

HRESULT GenericSummary(HANDLE file, IStream* stream, DWORD count, BOOL riff64) {
  std::vector<SummaryText> texts;
  Bytes item;
  for (DWORD i = 0; i < count; ++i) {
    HRESULT hr = ReadItem(stream, &item);
    if (SUCCEEDED(hr)) hr = SummaryItemOf(item, &texts);
    if (FAILED(hr)) return hr;
  }
  return WriteSummary(file, texts, riff64);
}

HRESULT LegacyMarkers(HANDLE file, IStream* stream, unsigned long rate, BOOL riff64) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return KV_E_READ;
  DWORD header[3];
  HRESULT hr = KvMetaChunks_Read(stream, header, sizeof(header));
  if (FAILED(hr)) return hr;
  if (header[2] == 0) return S_OK;
  // Without a sample rate every marker would land on sample 0.
  if (rate == 0) return E_INVALIDARG;
  std::vector<Marker> markers;
  Bytes record, text;
  for (DWORD i = 0; i < header[2]; ++i) {
    hr = ReadBytes(stream, 28, &record);
    if (FAILED(hr)) return hr;
    DWORD bytes = GetU32(record, 24);
    hr = ReadBytes(stream, bytes, &text);
    if (FAILED(hr)) return hr;
    int64_t time = static_cast<int64_t>(GetU64(record, 4)), span = static_cast<int64_t>(GetU64(record, 12));
    Marker m;
    m.cueId = i + 1;
    // Sums past 64 bits saturate; such markers fit no chunk and are left out.
    m.position = KvNanoToSamples(time, rate);
    m.length = SaturatedSub(KvNanoToSamples(SaturatedAdd(time, span), rate), m.position);
    m.region = GetU32(record, 20) != 0;
    m.text = TextOf(text.data(), bytes);
    markers.push_back(m);
  }
  return WriteMarkers(file, markers, false, riff64);
}

HRESULT LegacySummary(HANDLE file, IStream* stream, BOOL riff64) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return KV_E_READ;
  DWORD header[3];
  HRESULT hr = KvMetaChunks_Read(stream, header, sizeof(header));
  if (FAILED(hr)) return hr;
  if (header[2] == 0) return S_OK;
  std::vector<SummaryText> texts;
  Bytes head, text;
  for (DWORD i = 0; i < header[2]; ++i) {
    hr = ReadBytes(stream, 12, &head);
    if (SUCCEEDED(hr)) hr = ReadBytes(stream, GetU32(head, 8), &text);
    if (FAILED(hr)) return hr;
    texts.push_back({GetU32(head, 4), TextOf(text.data(), static_cast<DWORD>(text.size()))});
  }
  return WriteSummary(file, texts, riff64);
}

}  // namespace

HRESULT KvMetaChunks_WriteGeneric(HANDLE file, IStream* stream, DWORD count, KVFIO_TYPESOFMETADATA kind,
                                  BOOL riff64, BOOL asAiff) {
  if (!stream || count == 0) return S_OK;
  try {
    switch (kind) {
      case KVFIO_META_SUMMARY: return GenericSummary(file, stream, count, riff64);
      case KVFIO_META_MARKERS: return GenericMarkers(file, stream, count, riff64);
      case KVFIO_META_PLAYLIST: return PlayList(file, stream, count, riff64);
      case KVFIO_META_DISPLAY: return DisplayList(file, stream, riff64);
      case KVFIO_META_SAMPLER: return asAiff ? AiffInstrument(file, stream) : Sampler(file, stream, riff64);
      case KVFIO_META_RAW: return riff64 ? S_OK : RawChunks(file, stream, count);
      default: return FixedKind(file, stream, count, kind, riff64);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT KvMetaChunks_WriteLegacyMarkers(HANDLE file, IStream* stream, unsigned long rate, BOOL riff64) {
  if (!stream) return S_OK;
  try {
    return LegacyMarkers(file, stream, rate, riff64);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT KvMetaChunks_WriteLegacySummary(HANDLE file, IStream* stream, BOOL riff64) {
  if (!stream) return S_OK;
  try {
    return LegacySummary(file, stream, riff64);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
