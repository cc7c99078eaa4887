// The host's metadata streams.
#include "host_meta.h"

#include <cstring>
#include <cwchar>

#include "kvbyteorder.h"

namespace {

const DWORD kStreamVersion = 100;
const DWORD kHeaderSize = 12;       // {header size, version, count}
const DWORD kSummaryItemSize = 12;  // {item size, id, text bytes}, then UTF-16 text
const DWORD kMarkerRecordSize = 28;  // {size, position, length, has length, name bytes}, then the name
const HRESULT kNotFound = HRESULT(0x8004E00Au);

constexpr DWORD Id(const char (&s)[5]) {
  return DWORD(BYTE(s[0])) | DWORD(BYTE(s[1])) << 8 | DWORD(BYTE(s[2])) << 16 | DWORD(BYTE(s[3])) << 24;
}

const struct {
  const char* name;
  DWORD id;
} kKeys[] = {
    {"title", Id("INAM")},     {"artist", Id("IART")},   {"album", Id("ISRC")},   {"albumartist", Id("IAAT")},
    {"comment", Id("ICMT")},   {"date", Id("ICRD")},     {"genre", Id("IGNR")},   {"track", Id("TRCK")},
    {"copyright", Id("ICOP")}, {"software", Id("ISFT")}, {"subject", Id("ISBJ")}, {"keywords", Id("IKEY")},
    {"length", Id("TLEN")},
};

std::wstring Utf16(const BYTE* p, size_t bytes) {
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes; i += 2) text.push_back(wchar_t(GetLE16(p + i)));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

}  // namespace

bool SummaryIdOfKey(const std::wstring& key, DWORD& id) {
  for (const auto& k : kKeys) {
    std::wstring name(k.name, k.name + std::strlen(k.name));
    if (_wcsicmp(name.c_str(), key.c_str()) == 0) {
      id = k.id;
      return true;
    }
  }
  if (key.size() != 4) return false;
  id = 0;
  for (int i = 3; i >= 0; --i) {
    if (key[i] < 0x20 || key[i] > 0x7E) return false;
    id = id << 8 | DWORD(key[i]);
  }
  return true;
}

std::string SummaryKeyName(DWORD id) {
  for (const auto& k : kKeys)
    if (k.id == id) return k.name;
  std::string letters;
  for (int i = 0; i < 4; ++i) {
    const char c = char(id >> (8 * i));
    letters.push_back(c >= 0x20 && c <= 0x7E ? c : '?');
  }
  return letters;
}

std::string SummaryKeyNames() {
  std::string names;
  for (const auto& k : kKeys) names += std::string(names.empty() ? "" : ", ") + k.name;
  return names;
}

namespace {

// Walks the records after a stream's header (its size at 0, the record count
// at 8): each record's fixed part (its size in its first word, at least
// minSize) is followed by the bytes of its UTF-16 text, whose count sits at
// textCountAt. take(record, text) gets each; false for a stream that does not
// hold what it says.
template <typename Take>
bool WalkRecords(const std::vector<BYTE>& bytes, size_t minSize, size_t textCountAt, Take take) {
  if (bytes.size() < kHeaderSize) return false;
  const DWORD header = GetLE32(bytes.data());
  const DWORD count = GetLE32(bytes.data() + 8);
  if (header < kHeaderSize || header > bytes.size()) return false;
  size_t at = header;
  for (DWORD i = 0; i < count; ++i) {
    if (bytes.size() - at < minSize) return false;
    const BYTE* record = bytes.data() + at;
    const DWORD recordSize = GetLE32(record);
    const DWORD textBytes = GetLE32(record + textCountAt);
    if (recordSize < minSize || recordSize > bytes.size() - at || textBytes > bytes.size() - at - recordSize)
      return false;
    take(record, Utf16(record + recordSize, textBytes));
    at += recordSize + textBytes;
  }
  return true;
}

}  // namespace

bool ParseSummaryStream(const std::vector<BYTE>& bytes, SummaryFields& fields) {
  return WalkRecords(bytes, kSummaryItemSize, 8, [&](const BYTE* item, std::wstring text) {
    fields.emplace_back(GetLE32(item + 4), std::move(text));
  });
}

bool ParseLegacyMarkers(const std::vector<BYTE>& bytes, std::vector<LegacyMarker>& markers) {
  return WalkRecords(bytes, kMarkerRecordSize, 24, [&](const BYTE* r, std::wstring name) {
    LegacyMarker m;
    m.position = LONGLONG(GetLE64(r + 4));
    m.length = LONGLONG(GetLE64(r + 12));
    m.hasLength = GetLE32(r + 20) != 0;
    m.name = std::move(name);
    markers.push_back(m);
  });
}

bool ReadWholeStream(IStream* stream, std::vector<BYTE>& bytes) {
  bytes.clear();
  if (!stream) return false;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return false;
  BYTE buffer[4096];
  for (;;) {
    ULONG got = 0;
    const HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
    if (FAILED(hr)) return false;
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (got == 0 || hr != S_OK || bytes.size() > (64u << 20)) break;
  }
  return true;
}

HRESULT STDMETHODCALLTYPE HostSummaryMeta::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IKvReadMeta) && !IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
  AddRef();
  *ppv = static_cast<IKvReadMeta*>(this);
  return S_OK;
}

ULONG STDMETHODCALLTYPE HostSummaryMeta::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return ULONG(left);
}

HRESULT STDMETHODCALLTYPE HostSummaryMeta::GetMarkers(IStream** markers) {
  if (markers) *markers = nullptr;
  return kNotFound;
}

HRESULT STDMETHODCALLTYPE HostSummaryMeta::GetType2Stream(IStream** stream) {
  if (stream) *stream = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HostSummaryMeta::GetSummaryText(UINT key, wchar_t* buf, int cch) {
  for (const auto& f : fields_) {
    if (f.first != key) continue;
    if (buf && cch > 0) {
      const size_t n = f.second.size() < size_t(cch - 1) ? f.second.size() : size_t(cch - 1);
      std::wmemcpy(buf, f.second.data(), n);
      buf[n] = 0;
    }
    return S_OK;
  }
  if (buf && cch > 0) buf[0] = 0;
  return kNotFound;
}

// A new stream over a copy of the summary bytes: {12, 100, count}, then per
// field {12, id, text bytes} and the UTF-16 text with its terminating NUL.
HRESULT STDMETHODCALLTYPE HostSummaryMeta::GetSummaryStream(IStream** summary) {
  if (!summary) return E_POINTER;
  *summary = nullptr;
  size_t total = kHeaderSize;
  for (const auto& f : fields_) total += kSummaryItemSize + (f.second.size() + 1) * 2;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, total);
  if (!memory) return E_OUTOFMEMORY;
  BYTE* p = static_cast<BYTE*>(GlobalLock(memory));
  if (!p) {
    GlobalFree(memory);
    return E_OUTOFMEMORY;
  }
  PutLE32(p, kHeaderSize);
  PutLE32(p + 4, kStreamVersion);
  PutLE32(p + 8, DWORD(fields_.size()));
  p += kHeaderSize;
  for (const auto& f : fields_) {
    const DWORD bytes = DWORD((f.second.size() + 1) * 2);
    PutLE32(p, kSummaryItemSize);
    PutLE32(p + 4, f.first);
    PutLE32(p + 8, bytes);
    for (size_t i = 0; i < f.second.size(); ++i) PutLE16(p + kSummaryItemSize + 2 * i, uint16_t(f.second[i]));
    p += kSummaryItemSize + bytes;
  }
  GlobalUnlock(memory);
  HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, summary);
  if (FAILED(hr)) GlobalFree(memory);
  return hr;
}
