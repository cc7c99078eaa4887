// Helpers of the metadata-chunk tests: a stand-in file reader that offers
// its metadata through the IKvReadMeta and IKvReadGenericMeta faces, builders
// of the reader streams' byte layouts, and a walk over a written file's
// top-level chunks that is independent of the library's RIFF code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kvfileio.h"
#include "kvcomobject.h"
#include "metariff_test_util.h"

namespace chunktest {

using rifftest::GetU32;
typedef std::vector<uint8_t> Buf;

inline void Put32(Buf& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put64(Buf& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}
inline void PutGuid(Buf& b, const GUID& g) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&g);
  b.insert(b.end(), p, p + 16);
}
inline void PutWide(Buf& b, const std::wstring& t, bool terminate = true) {
  for (wchar_t c : t) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate) b.insert(b.end(), 2, 0);
}
inline void Append(Buf& b, const Buf& more) { b.insert(b.end(), more.begin(), more.end()); }

// A generic stream: the 28-byte header with the kind GUID, then each item
// with its 28-byte entry header (size and version as given).
inline Buf Generic(const GUID& kind, const std::vector<Buf>& items, uint32_t headSize = 28,
                   uint32_t version = 100) {
  Buf b;
  Put32(b, 28);
  Put32(b, 100);
  Put32(b, static_cast<uint32_t>(items.size()));
  PutGuid(b, kind);
  for (const Buf& item : items) {
    Put32(b, headSize);
    Put32(b, version);
    PutGuid(b, GUID_NULL);
    Put32(b, static_cast<uint32_t>(item.size()));
    Append(b, item);
  }
  return b;
}

// A generic marker record: {u32, cue id, u64 position, u64 length, u32 text bytes} + text.
inline Buf MarkerItem(uint32_t cueId, uint64_t position, uint64_t length, const std::wstring& text) {
  Buf b;
  Put32(b, 0);
  Put32(b, cueId);
  Put64(b, position);
  Put64(b, length);
  Put32(b, text.empty() ? 0 : static_cast<uint32_t>((text.size() + 1) * 2));
  if (!text.empty()) PutWide(b, text);
  return b;
}

// A legacy marker stream record (times in 100-ns units).
struct LegacyMarker {
  uint64_t time, span;
  bool region;
  std::wstring text;
};
inline Buf LegacyMarkers(const std::vector<LegacyMarker>& ms) {
  Buf b;
  Put32(b, 12);
  Put32(b, 100);
  Put32(b, static_cast<uint32_t>(ms.size()));
  for (const LegacyMarker& m : ms) {
    Put32(b, 0);
    Put64(b, m.time);
    Put64(b, m.span);
    Put32(b, m.region ? 1 : 0);
    Put32(b, m.text.empty() ? 0 : static_cast<uint32_t>((m.text.size() + 1) * 2));
    if (!m.text.empty()) PutWide(b, m.text);
  }
  return b;
}

// A summary item {12, id, text bytes} + text; a legacy summary stream of them.
inline Buf SummaryItem(const char* id, const std::wstring& text) {
  Buf b;
  Put32(b, 12);
  Put32(b, rifftest::FourCC(id));
  Put32(b, static_cast<uint32_t>((text.size() + 1) * 2));
  PutWide(b, text);
  return b;
}
inline Buf LegacySummary(const std::vector<Buf>& items) {
  Buf b;
  Put32(b, 12);
  Put32(b, 100);
  Put32(b, static_cast<uint32_t>(items.size()));
  for (const Buf& i : items) Append(b, i);
  return b;
}

inline IStream* StreamOf(const Buf& bytes) {
  IStream* s = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &s);
  ULONG put = 0;
  if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  return s;
}

// The stand-in reader: generic streams in order, and the legacy marker,
// type-2 and summary streams when set. Every stream handed out is counted
// and must come back released.
class StandInMeta : public IKvReadMeta, public IKvReadGenericMeta {
 public:
  std::vector<Buf> generic;
  bool hasGeneric = true;
  Buf markers, type2, summary;
  bool hasMarkers = false, hasType2 = false, hasSummary = false;
  LONG refs = 1;
  size_t next = 0;
  std::vector<IStream*> handed;

  ~StandInMeta() {
    for (IStream* s : handed) s->Release();
  }
  // Streams still held by someone other than us.
  int Leaked() {
    int n = 0;
    for (IStream* s : handed) {
      s->AddRef();
      if (s->Release() != 1) ++n;
    }
    return n;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    IKvReadMeta* primary = this;
    IKvReadGenericMeta* generic = this;
    return kvcom::QueryFaces(this, riid, ppv,
                             {{IID_IUnknown, primary},
                              {IID_IKvReadMeta, primary},
                              {IID_IKvReadGenericMeta, hasGeneric ? generic : nullptr}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT Hand(const Buf& b, IStream** out) {
    *out = StreamOf(b);
    (*out)->AddRef();
    handed.push_back(*out);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream** s) override {
    *s = nullptr;
    return hasMarkers ? Hand(markers, s) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream** s) override {
    *s = nullptr;
    return hasType2 ? Hand(type2, s) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT, wchar_t*, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** s) override {
    *s = nullptr;
    return hasSummary ? Hand(summary, s) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(IStream** s) override {
    *s = nullptr;
    if (next >= generic.size()) return S_FALSE;
    return Hand(generic[next++], s);
  }
};

// One top-level chunk of a written file, found by a plain walk.
struct Chunk {
  std::string id;    // FourCC, or the GUID's first four bytes as text for 64-bit RIFF
  GUID guid;         // 64-bit RIFF only
  uint64_t offset;   // of the header
  uint64_t size;     // the size field
  Buf data;          // the payload (size bytes; 64-bit RIFF: size - 24)
};

// RIFF: chunks at even offsets after the 12-byte header, within the RIFF size.
inline std::vector<Chunk> Walk(const Buf& f) {
  std::vector<Chunk> out;
  if (f.size() < 12) return out;
  uint64_t end = static_cast<uint64_t>(GetU32(f, 4)) + 8;
  if (end > f.size()) end = f.size();
  uint64_t p = 12;
  while (p + 8 <= end) {
    Chunk c;
    c.id.assign(reinterpret_cast<const char*>(&f[p]), 4);
    c.guid = GUID_NULL;
    c.offset = p;
    c.size = GetU32(f, p + 4);
    uint64_t n = c.size;
    if (p + 8 + n > f.size()) n = f.size() - p - 8;
    c.data.assign(f.begin() + p + 8, f.begin() + p + 8 + n);
    out.push_back(c);
    p += 8 + c.size + (c.size & 1);
  }
  return out;
}

// 64-bit RIFF: 24-byte headers, sizes counting the header, 8-byte alignment.
inline std::vector<Chunk> Walk64(const Buf& f) {
  std::vector<Chunk> out;
  if (f.size() < 40) return out;
  uint64_t end = static_cast<uint64_t>(GetU32(f, 16)) | (static_cast<uint64_t>(GetU32(f, 20)) << 32);
  if (end > f.size()) end = f.size();
  uint64_t p = 40;
  while (p + 24 <= end) {
    Chunk c;
    memcpy(&c.guid, &f[p], 16);
    c.id.assign(reinterpret_cast<const char*>(&f[p]), 4);
    c.offset = p;
    c.size = static_cast<uint64_t>(GetU32(f, p + 16)) | (static_cast<uint64_t>(GetU32(f, p + 20)) << 32);
    if (c.size < 24) break;
    uint64_t n = c.size - 24;
    if (p + 24 + n > f.size()) n = f.size() - p - 24;
    c.data.assign(f.begin() + p + 24, f.begin() + p + 24 + n);
    out.push_back(c);
    p += (c.size + 7) & ~uint64_t(7);
  }
  return out;
}

inline std::vector<Chunk> Named(const std::vector<Chunk>& cs, const std::string& id) {
  std::vector<Chunk> out;
  for (const Chunk& c : cs)
    if (c.id == id) out.push_back(c);
  return out;
}

inline std::vector<Chunk> WithGuid(const std::vector<Chunk>& cs, const GUID& g) {
  std::vector<Chunk> out;
  for (const Chunk& c : cs)
    if (IsEqualGUID(c.guid, g)) out.push_back(c);
  return out;
}

}  // namespace chunktest
