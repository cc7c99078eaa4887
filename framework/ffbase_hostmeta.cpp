// The host's private metadata: blobs, project-link fields and markers.
#include "ffbase_hostmeta.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "kvlinkproject.h"
#include "metastream.h"

namespace ffbase {

const GUID kHostMarkerKey = {0xABF76256, 0x392D, 0x11D2, {0x86, 0xC7, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
const GUID kHostProjectLinkKey = {0x2A33D899, 0x550B, 0x468C, {0x9C, 0x47, 0x3C, 0xE3, 0x90, 0x0D, 0x87, 0x34}};
const GUID kHostUserDefRecordKey = {0xCDB04C70, 0x91A0, 0x4668, {0xAD, 0x38, 0x68, 0x73, 0xE2, 0x95, 0x64, 0x15}};
const GUID kHostUserDefEntryKey = {0x2183E19B, 0x0225, 0x455C, {0x9F, 0xBF, 0x75, 0x14, 0xAF, 0xFD, 0xBA, 0x7D}};
const GUID kHostPlimRecordKey = {0x3152F494, 0xC993, 0x4B31, {0x96, 0xE1, 0xA3, 0x3C, 0x79, 0xC7, 0xA8, 0xD0}};
const GUID kHostPlimRecordExKey = {0x53CBEDB8, 0x992A, 0x4202, {0xAA, 0x8D, 0xE2, 0x88, 0x92, 0x79, 0xE8, 0x6F}};
const GUID kHostPlimEntryKey = {0xFDB28EB2, 0x7D5E, 0x4A7B, {0xAF, 0xBD, 0xF1, 0xE3, 0x8C, 0x7E, 0xC5, 0xF6}};

namespace {

const DWORD kMarkerVersion = 100;
const DWORD kLegacyHeaderSize = 12;
const DWORD kLegacyRecordSize = 28;
const DWORD kGenericHeaderSize = 28;
const DWORD kEntryHeaderSize = 28;
const DWORD kGenericRecordSize = 28;
const int64_t kNoLength = -1;  // all bits set: a point marker
const double kTicksPerSecond = 1e7;
// Marker names and whole marker streams beyond these sizes are damaged data.
const DWORD kMaxNameBytes = 1u << 20;
const uint64_t kMaxStreamBytes = 64u << 20;

struct Marker {
  int64_t position;  // in the unit of the side it was read from
  int64_t length;    // kNoLength for a point marker
  fileutil::ByteVector name;
};

void PutWord(BYTE*& p, DWORD v) {
  std::memcpy(p, &v, 4);
  p += 4;
}
void PutLong(BYTE*& p, int64_t v) {
  std::memcpy(p, &v, 8);
  p += 8;
}
void PutBytes(BYTE*& p, const void* bytes, size_t n) {
  if (n) std::memcpy(p, bytes, n);
  p += n;
}
DWORD GetWord(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}
int64_t GetLong(const BYTE* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Reads exactly `n` bytes: a short read is a failure (E_FAIL).
HRESULT ReadAll(IStream* stream, void* buf, ULONG n) {
  if (n == 0) return S_OK;
  ULONG got = 0;
  HRESULT hr = stream->Read(buf, n, &got);
  if (FAILED(hr)) return hr;
  return got == n ? S_OK : E_FAIL;
}

// Hands a freshly built buffer to the stream.
HRESULT AttachBuffer(fileutil::MetaStream& out, uint64_t size, BYTE*& data) {
  data = nullptr;
  if (size > kMaxStreamBytes) return E_OUTOFMEMORY;
  void* block = fileutil::AllocLockedGlobal(SIZE_T(size));
  if (!block) return E_OUTOFMEMORY;
  out.Attach(block, DWORD(size), true);
  data = static_cast<BYTE*>(block);
  return S_OK;
}

}  // namespace

int64_t RoundToInt64(double x) {
  if (std::isnan(x)) return 0;
  const double r = x < 0 ? -std::floor(-x + 0.5) : std::floor(x + 0.5);
  // Values beyond the 64-bit range are held at its ends.
  if (r >= 9.2233720368547758e18) return INT64_MAX;
  if (r <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<int64_t>(r);
}

HRESULT GetMetaBlob(const fileutil::MetaDataSet* source, BYTE* out, DWORD size, const GUID* key) {
  if (!out) return E_INVALIDARG;
  if (!source || !key) return E_FAIL;
  auto it = source->Entries().find(*key);
  if (it == source->Entries().end()) return S_FALSE;
  if (it->second.size() != size) return E_FAIL;
  if (size) std::memcpy(out, it->second.data(), size);
  return S_OK;
}

HRESULT CreateMetaEntryStream(const GUID& key, const fileutil::MetaDataSet* source, IStream** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  fileutil::MetaEntryStream* stream = new (std::nothrow) fileutil::MetaEntryStream();
  if (!stream) return E_OUTOFMEMORY;
  HRESULT hr = stream->FillFromEntry(source, key);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  *out = stream;
  return S_OK;
}

HRESULT UserDefManager::GetStream(IStream** out) { return CreateMetaEntryStream(kHostUserDefEntryKey, source, out); }
HRESULT UserDefManager::GetInfo(BYTE* out) { return GetMetaBlob(source, out, 12, &kHostUserDefRecordKey); }

HRESULT PlimManager::GetInfo(BYTE* out) { return GetMetaBlob(source, out, 24, &kHostPlimRecordKey); }
HRESULT PlimManager::GetInfoEx(BYTE* out) { return GetMetaBlob(source, out, 28, &kHostPlimRecordExKey); }
HRESULT PlimManager::GetStream(IStream** out) { return CreateMetaEntryStream(kHostPlimEntryKey, source, out); }

// ---------------------------------------------------------------------------
// Project-link fields.

HRESULT ProjectLinkFieldMap::FromInfo(CKvLinkProjectInfo& info) {
  fields_.clear();
  typedef HRESULT (CKvLinkProjectInfo::*FieldWriter)(IStream*);
  // Field ids 1 to 9 in this order; each writer answers S_FALSE when the
  // info's presence bits leave its field out.
  const FieldWriter writers[] = {
      &CKvLinkProjectInfo::WriteProjectPathToStream,  &CKvLinkProjectInfo::WriteCommandLineToStream,
      &CKvLinkProjectInfo::WriteRendererGuidToStream, &CKvLinkProjectInfo::WriteTemplateNameToStream,
      &CKvLinkProjectInfo::WriteTemplateDataToStream, &CKvLinkProjectInfo::WriteAppTemplateDataToStream,
      &CKvLinkProjectInfo::WriteProjectDataToStream,  &CKvLinkProjectInfo::WriteCreatorAppInfoToStream,
      &CKvLinkProjectInfo::WriteCreatorAppWindowClassNameToStream};
  HRESULT hr = S_OK;
  for (uint32_t id = 1; id <= 9 && SUCCEEDED(hr); ++id) {
    IStream* field = nullptr;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, &field);
    if (FAILED(hr)) break;
    HRESULT written = (info.*writers[id - 1])(field);
    if (written == S_OK) {
      HGLOBAL block = nullptr;
      STATSTG stat = {};
      hr = field->Stat(&stat, STATFLAG_NONAME);
      if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(field, &block);
      if (SUCCEEDED(hr)) {
        const DWORD size = stat.cbSize.LowPart;
        fileutil::ByteVector entry(4 + size_t(size));
        std::memcpy(entry.data(), &id, 4);
        const void* bytes = GlobalLock(block);
        if (bytes && size) std::memcpy(entry.data() + 4, bytes, size);
        GlobalUnlock(block);
        fields_[id] = entry;
      }
    } else if (FAILED(written)) {
      hr = written;
    }
    field->Release();
  }
  return hr;
}

void ProjectLinkFieldMap::AddTo(fileutil::MetaDataSet& set) const {
  for (const auto& field : fields_) set.AddEntry(kHostProjectLinkKey, field.second);
}

void ProjectLinkFieldMap::LoadFrom(const fileutil::MetaDataSet& set) {
  fields_.clear();
  auto range = set.Entries().equal_range(kHostProjectLinkKey);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.size() < 4) continue;  // no room for the id: damaged data
    fields_[GetWord(it->second.data())] = it->second;
  }
}

HRESULT ProjectLinkFieldMap::GetFieldStream(IStream** out, uint32_t id) const {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  auto it = fields_.find(id);
  if (it == fields_.end() || it->second.size() <= 4) return KV_E_NOTFOUND;
  const size_t size = it->second.size() - 4;
  if (size > kMaxStreamBytes) return E_OUTOFMEMORY;
  fileutil::MetaStream* stream = new (std::nothrow) fileutil::MetaStream();
  if (!stream) return E_OUTOFMEMORY;
  void* block = fileutil::AllocLockedGlobal(size);
  if (!block) {
    stream->Release();
    return E_OUTOFMEMORY;
  }
  std::memcpy(block, it->second.data() + 4, size);
  stream->Attach(block, DWORD(size), true);
  *out = stream;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Markers.

// Reads the host's legacy markers. A record or name that cannot be read in
// full ends the list: the markers read before it are kept, nothing after it
// is guessed at.
HRESULT LegacyToGenericMarkers(fileutil::MetaStream& out, IStream* legacy, DWORD scale, DWORD divisor) {
  if (!legacy) return E_INVALIDARG;
  if (divisor == 0) return E_INVALIDARG;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  HRESULT hr = legacy->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  BYTE header[kLegacyHeaderSize];
  hr = ReadAll(legacy, header, kLegacyHeaderSize);
  if (FAILED(hr)) return hr;
  const DWORD count = GetWord(header + 8);
  const double factor = double(scale) / double(divisor) / kTicksPerSecond;

  std::vector<Marker> markers;
  uint64_t total = kGenericHeaderSize;
  try {
    for (DWORD i = 0; i < count; ++i) {
      BYTE record[kLegacyRecordSize];
      if (ReadAll(legacy, record, kLegacyRecordSize) != S_OK) break;
      const DWORD nameBytes = GetWord(record + 24);
      if (nameBytes > kMaxNameBytes) break;
      Marker m;
      m.name.resize(nameBytes);
      if (ReadAll(legacy, m.name.data(), nameBytes) != S_OK) break;
      m.position = RoundToInt64(double(GetLong(record + 4)) * factor);
      m.length = GetWord(record + 20) ? RoundToInt64(double(GetLong(record + 12)) * factor) : kNoLength;
      total += kEntryHeaderSize + kGenericRecordSize + nameBytes;
      if (total > kMaxStreamBytes) break;
      markers.push_back(std::move(m));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  BYTE* p = nullptr;
  hr = AttachBuffer(out, total, p);
  if (FAILED(hr)) return hr;
  PutWord(p, kGenericHeaderSize);
  PutWord(p, kMarkerVersion);
  PutWord(p, DWORD(markers.size()));
  PutBytes(p, &kHostMarkerKey, sizeof(GUID));
  for (const Marker& m : markers) {
    const DWORD nameBytes = DWORD(m.name.size());
    PutWord(p, kEntryHeaderSize);
    PutWord(p, kMarkerVersion);
    PutBytes(p, &kHostMarkerKey, sizeof(GUID));
    PutWord(p, kGenericRecordSize + nameBytes);
    PutWord(p, kGenericRecordSize);
    PutWord(p, 0);
    PutLong(p, m.position);
    PutLong(p, m.length);
    PutWord(p, nameBytes);
    PutBytes(p, m.name.data(), nameBytes);
  }
  return S_OK;
}

// The marker entries of the set in the host's legacy form. An entry whose
// record is cut short or whose name runs past its data is skipped.
HRESULT GenericToLegacyMarkers(fileutil::MetaStream& out, const fileutil::MetaDataSet& source, DWORD scale,
                               DWORD divisor) {
  const double factor = scale ? double(divisor) * kTicksPerSecond / double(scale) : 0.0;
  struct Item {
    const BYTE* record;
    DWORD nameBytes;
  };
  std::vector<Item> items;
  uint64_t total = kLegacyHeaderSize;
  try {
    auto range = source.Entries().equal_range(kHostMarkerKey);
    for (auto it = range.first; it != range.second; ++it) {
      const fileutil::ByteVector& data = it->second;
      if (data.size() < kGenericRecordSize) continue;
      const DWORD nameBytes = GetWord(data.data() + 24);
      if (nameBytes > data.size() - kGenericRecordSize) continue;
      if (total + kLegacyRecordSize + nameBytes > kMaxStreamBytes) break;
      total += kLegacyRecordSize + nameBytes;
      items.push_back(Item{data.data(), nameBytes});
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  BYTE* p = nullptr;
  HRESULT hr = AttachBuffer(out, total, p);
  if (FAILED(hr)) return hr;
  PutWord(p, kLegacyHeaderSize);
  PutWord(p, kMarkerVersion);
  PutWord(p, DWORD(items.size()));
  for (const Item& item : items) {
    const int64_t position = GetLong(item.record + 8);
    const int64_t length = GetLong(item.record + 16);
    const bool hasLength = length != kNoLength;
    PutWord(p, kLegacyRecordSize);
    PutLong(p, RoundToInt64(double(position) * factor));
    PutLong(p, hasLength ? RoundToInt64(double(length) * factor) : 0);
    PutWord(p, hasLength ? 1 : 0);
    PutWord(p, item.nameBytes);
    PutBytes(p, item.record + kGenericRecordSize, item.nameBytes);
  }
  return S_OK;
}

}  // namespace ffbase
