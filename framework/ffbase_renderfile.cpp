// The generic render file and the gathering of the source's metadata.
#include "ffbase_renderfile.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ffbase_hostmeta.h"
#include "kvcomobject.h"
#include "kvlinkproject.h"
#include "kvlinkstorage.h"
#include "kvprintf.h"
#include "kvrendertemp.h"
#include "kvstr.h"
#include "kvtemplate.h"
#include "metadataset.h"
#include "metastream.h"

namespace ffbase {

namespace {

// Host data keys.
const GUID kMarkerKey = {0xABF76256, 0x392D, 0x11D2, {0x86, 0xC7, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
const GUID kUserDefRecordKey = {0xCDB04C70, 0x91A0, 0x4668, {0xAD, 0x38, 0x68, 0x73, 0xE2, 0x95, 0x64, 0x15}};
const GUID kUserDefEntryKey = {0x2183E19B, 0x0225, 0x455C, {0x9F, 0xBF, 0x75, 0x14, 0xAF, 0xFD, 0xBA, 0x7D}};
const GUID kPlimRecordKey = {0x3152F494, 0xC993, 0x4B31, {0x96, 0xE1, 0xA3, 0x3C, 0x79, 0xC7, 0xA8, 0xD0}};
const GUID kPlimRecordExKey = {0x53CBEDB8, 0x992A, 0x4202, {0xAA, 0x8D, 0xE2, 0x88, 0x92, 0x79, 0xE8, 0x6F}};
const GUID kPlimEntryKey = {0xFDB28EB2, 0x7D5E, 0x4A7B, {0xAF, 0xBD, 0xF1, 0xE3, 0x8C, 0x7E, 0xC5, 0xF6}};

const DWORD kUserDefRecordSize = 12;
const DWORD kPlimRecordSize = 24;
const DWORD kPlimRecordExSize = 28;
const DWORD kStreamHeaderSize = 12;
const DWORD kUserDefEntryHeaderSize = 56;
const DWORD kPlimEntrySize = 32;
// A user-defined entry larger than this is taken as damaged data.
const DWORD kMaxUserDefEntryData = 64u << 20;

// Reads exactly `n` bytes. A short read ends the data (S_FALSE): the bytes
// of a cut record are never stored as an entry.
HRESULT ReadExactly(IStream* stream, void* buf, ULONG n) {
  ULONG got = 0;
  HRESULT hr = stream->Read(buf, n, &got);
  if (FAILED(hr)) return hr;
  return got == n ? S_OK : S_FALSE;
}

DWORD Word(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}

HRESULT Rewind(IStream* stream) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

}  // namespace

BaseRenderFile::BaseRenderFile(IKvRenderFileClass* owner, tagKVTEMPLATExV2* tmpl)
    : refCount_(0),
      sourceMeta_(nullptr),
      sources_(new (std::nothrow) ReadStreams()),
      tmpl_(tmpl),
      owner_(owner) {
  path_[0] = 0;
}

BaseRenderFile::~BaseRenderFile() {
  if (sourceMeta_) sourceMeta_->Release();
  if (sources_) sources_->ReleaseAll();
  delete sources_;
  std::free(tmpl_);
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::QueryInterface(REFIID riid, void** ppv) {
  IKvRenderFile* self = this;
  return kvcom::QueryFaces(this, riid, ppv, {{IID_IKvRenderFile, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE BaseRenderFile::AddRef() { return kvcom::AddRefCount(refCount_); }

ULONG STDMETHODCALLTYPE BaseRenderFile::Release() { return kvcom::ReleaseRef(this, refCount_); }

HRESULT STDMETHODCALLTYPE BaseRenderFile::GetRenderFileClass(IKvRenderFileClass** owner) {
  if (!owner_) return E_NOINTERFACE;
  if (!owner) return E_INVALIDARG;
  owner_->AddRef();
  *owner = owner_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::ReleaseSources() {
  if (sourceMeta_) sourceMeta_->Release();
  sourceMeta_ = nullptr;
  return sources_ ? sources_->ReleaseAll() : S_OK;
}

// A path that does not fit is refused: cutting it would render into another
// file than the one the host named.
HRESULT STDMETHODCALLTYPE BaseRenderFile::SetPath(const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  if (KvStrLen(path) >= MAX_PATH) return KV_E_FILENAMETOOLONG;
  KvStrCpyNLen(path_, path, MAX_PATH);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::GetPath(wchar_t* buf, int cch) {
  if (!buf || cch < 1) return E_INVALIDARG;
  KvStrCpyNLen(buf, path_, cch);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::GetStreamCount(DWORD* count) {
  if (!count) return E_INVALIDARG;
  if (!tmpl_) return E_FAIL;
  *count = tmpl_->nAudioStreams + tmpl_->nVideoStreams;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::SetSourceStream(IKvReadStream* stream, UINT index) {
  if (!sources_) return E_OUTOFMEMORY;
  return sources_->SetStream(stream, index);
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::SetSourceMeta(IKvReadMeta* meta) {
  if (meta) meta->AddRef();
  if (sourceMeta_) sourceMeta_->Release();
  sourceMeta_ = meta;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::GetTemplate(tagKVTEMPLATExV2** tmpl, DWORD reserved) {
  if (!tmpl) return E_POINTER;
  if (reserved != 0) return E_NOTIMPL;
  *tmpl = nullptr;
  if (!tmpl_ || tmpl_->cbSize == 0) return E_UNEXPECTED;
  return KvFio_SetTemplate(*tmpl, tmpl_, kKvSetTemplateCopy);
}

namespace {

// A new, empty file in the folder of `target` with the same extension (the
// writer chooses the tag form by it): "~vog" and eight hexadecimal digits.
HRESULT CreateTemporaryBeside(const wchar_t* target, std::wstring& temp) {
  std::wstring folder, extension;
  kvrendertemp::SplitTarget(target, folder, extension);
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
  for (int attempt = 0; attempt < 64; ++attempt) {
    wchar_t unique[16];
    KvPrintFN(unique, 16, L"~vog%08x", static_cast<unsigned>(seed + static_cast<DWORD>(attempt) * 0x9E3779B9u));
    temp = folder + unique + extension;
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return S_OK;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return HRESULT_FROM_WIN32(error);
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

}  // namespace

// The render goes into a new file beside the target, which takes the target's
// name only once it is complete (a rename on the same volume, replacing an
// existing file in one step): a render that fails, is cancelled or finds the
// disk full leaves no partial file, and an existing file stays untouched.
HRESULT STDMETHODCALLTYPE BaseRenderFile::Render(IUnknown* progress) {
  // The sample rate of the template's output format (its third 32-bit word).
  DWORD rate = 0;
  if (tmpl_) std::memcpy(&rate, tmpl_->wfOutput + 8, sizeof rate);
  if (!path_[0]) {
    // No target: the plug-in's own refusal answers.
    HRESULT hr = RenderStreams(path_, tmpl_, sources_, progress);
    return FAILED(hr) ? hr : E_FAIL;
  }
  std::wstring temp;
  HRESULT hr = CreateTemporaryBeside(path_, temp);
  if (FAILED(hr)) return hr;
  hr = RenderStreams(temp.c_str(), tmpl_, sources_, progress);
  if (SUCCEEDED(hr)) hr = WriteMetadataTo(temp.c_str(), rate);
  if (SUCCEEDED(hr) && !MoveFileExW(temp.c_str(), path_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    hr = HRESULT_FROM_WIN32(GetLastError());
  if (FAILED(hr)) {
    DeleteFileW(temp.c_str());
    return hr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFile::WriteMetadata(DWORD sampleRate, DWORD) {
  return WriteMetadataTo(path_, sampleRate);
}

HRESULT BaseRenderFile::WriteMetadataTo(const wchar_t* path, DWORD sampleRate) {
  fileutil::MetaDataSet collection;
  HRESULT hr = S_OK;
  HRESULT (BaseRenderFile::*const collectors[])(fileutil::MetaDataSet&) = {
      &BaseRenderFile::CollectSummaryMeta, &BaseRenderFile::CollectGenericMeta,
      &BaseRenderFile::CollectProjectLinkMeta, &BaseRenderFile::CollectUserDefMeta, &BaseRenderFile::CollectPlimMeta};
  for (auto collect : collectors) {
    hr = (this->*collect)(collection);
    if (FAILED(hr)) return hr;
  }
  // The host's legacy markers count only when the generic entries brought none.
  if (collection.CountEntries(kMarkerKey) == 0) {
    hr = CollectMarkerMeta(collection, sampleRate);
    if (FAILED(hr)) return hr;
  }
  hr = WriteFileMetadata(collection, path, sampleRate);
  collection.Clear();
  return hr;
}

HRESULT BaseRenderFile::CollectSummaryMeta(fileutil::MetaDataSet& collection) {
  if (!sourceMeta_) return S_OK;
  IStream* stream = nullptr;
  HRESULT hr = sourceMeta_->GetSummaryStream(&stream);
  if (hr == KV_E_NOTFOUND) return S_FALSE;
  if (FAILED(hr)) return hr;
  if (stream) {
    collection.LoadSummaryStream(stream);
    stream->Release();
  }
  return hr;
}

HRESULT BaseRenderFile::CollectGenericMeta(fileutil::MetaDataSet& collection) {
  if (!sourceMeta_) return S_OK;
  IKvReadGenericMeta* generic = nullptr;
  HRESULT hr = sourceMeta_->QueryInterface(IID_IKvReadGenericMeta, reinterpret_cast<void**>(&generic));
  if (hr == E_NOINTERFACE) return S_FALSE;
  if (FAILED(hr)) return hr;
  if (!generic) return S_FALSE;
  HRESULT result = S_OK;
  generic->Reset();
  IStream* stream = nullptr;
  while (generic->Next(&stream) == S_OK && stream) {
    result = Rewind(stream);
    if (SUCCEEDED(result)) collection.LoadGenericStream(stream);
    stream->Release();
    stream = nullptr;
  }
  generic->Release();
  return result;
}

// Each project-link field present in the source becomes one entry: the field
// id (32-bit little-endian) and the field's bytes, in ascending field id.
HRESULT BaseRenderFile::CollectProjectLinkMeta(fileutil::MetaDataSet& collection) {
  if (!sourceMeta_) return S_OK;
  CKvLinkProjectInfo info;
  info.Init();
  int present = 0;
  HRESULT hr = ProjectLinkReadMeta_LoadInfo(sourceMeta_, &info, &present);
  if (FAILED(hr) || !present) {
    info.FreeMemory();
    return S_FALSE;
  }
  ProjectLinkFieldMap fields;
  hr = fields.FromInfo(info);
  if (SUCCEEDED(hr)) fields.AddTo(collection);
  info.FreeMemory();
  return hr;
}

// The host's legacy markers (times in 100-nanosecond units) become generic
// marker entries with times in samples of the render's rate.
HRESULT BaseRenderFile::CollectMarkerMeta(fileutil::MetaDataSet& collection, DWORD sampleRate) {
  if (!sourceMeta_) return S_OK;
  IStream* legacy = nullptr;
  HRESULT hr = sourceMeta_->GetMarkers(&legacy);
  if (hr == KV_E_NOTFOUND) return S_FALSE;
  if (FAILED(hr)) return hr;
  if (!legacy) return S_FALSE;
  fileutil::MetaMarkerStream* markers = new (std::nothrow) fileutil::MetaMarkerStream();
  if (!markers) {
    legacy->Release();
    return E_OUTOFMEMORY;
  }
  hr = LegacyToGenericMarkers(*markers, legacy, sampleRate, 1);
  legacy->Release();
  if (SUCCEEDED(hr)) hr = Rewind(markers);
  if (SUCCEEDED(hr)) collection.LoadGenericStream(markers);
  markers->Release();
  return hr;
}

HRESULT BaseRenderFile::CollectUserDefMeta(fileutil::MetaDataSet& collection) {
  if (!sourceMeta_) return S_OK;
  IKvReadMediaMgrMeta* mm = nullptr;
  HRESULT hr = sourceMeta_->QueryInterface(IID_IKvReadMediaMgrMeta, reinterpret_cast<void**>(&mm));
  if (hr == E_NOINTERFACE) return S_FALSE;
  if (FAILED(hr)) return hr;
  if (!mm) return S_FALSE;
  BYTE record[kUserDefRecordSize];
  if (mm->GetUserDefInfo(record) == S_OK)
    collection.AddEntry(kUserDefRecordKey, fileutil::ByteVector(record, record + kUserDefRecordSize));
  IStream* stream = nullptr;
  hr = mm->GetUserDefStream(&stream);
  mm->Release();
  if (hr != S_OK || !stream) {
    if (stream) stream->Release();
    // A host without entries has nothing there: that is no failure of the render.
    return hr == KV_E_NOTFOUND ? S_FALSE : hr;
  }
  hr = Rewind(stream);
  BYTE header[kStreamHeaderSize];
  if (hr == S_OK) hr = ReadExactly(stream, header, kStreamHeaderSize);
  if (hr == S_OK) {
    const DWORD count = Word(header + 8);
    for (DWORD i = 0; i < count && hr == S_OK; ++i) {
      fileutil::ByteVector entry(kUserDefEntryHeaderSize);
      hr = ReadExactly(stream, entry.data(), kUserDefEntryHeaderSize);
      if (hr != S_OK) break;
      const uint64_t data = uint64_t(Word(entry.data() + 44)) + Word(entry.data() + 52);
      // Lengths beyond any real entry are damaged data: the entries end there.
      if (data > kMaxUserDefEntryData) {
        hr = S_FALSE;
        break;
      }
      entry.resize(kUserDefEntryHeaderSize + size_t(data));
      if (data) hr = ReadExactly(stream, entry.data() + kUserDefEntryHeaderSize, ULONG(data));
      if (hr == S_OK) collection.AddEntry(kUserDefEntryKey, entry);
    }
  }
  stream->Release();
  return hr;
}

HRESULT BaseRenderFile::CollectPlimMeta(fileutil::MetaDataSet& collection) {
  if (!sourceMeta_) return S_OK;
  IKvReadPlimMeta* plim = nullptr;
  HRESULT hr = sourceMeta_->QueryInterface(IID_IKvReadPlimMeta, reinterpret_cast<void**>(&plim));
  if (SUCCEEDED(hr) && plim) {
    BYTE record[kPlimRecordExSize];
    if (plim->GetPlimInfo(record) == S_OK)
      collection.AddEntry(kPlimRecordKey, fileutil::ByteVector(record, record + kPlimRecordSize));
    if (plim->GetPlimInfoEx(record) == S_OK)
      collection.AddEntry(kPlimRecordExKey, fileutil::ByteVector(record, record + kPlimRecordExSize));
    IStream* stream = nullptr;
    hr = plim->GetPlimStream(&stream);
    if (hr == S_OK && stream) {
      hr = Rewind(stream);
      BYTE header[kStreamHeaderSize];
      if (hr == S_OK) hr = ReadExactly(stream, header, kStreamHeaderSize);
      if (hr == S_OK) {
        const DWORD count = Word(header + 8);
        for (DWORD i = 0; i < count; ++i) {
          BYTE entry[kPlimEntrySize];
          hr = ReadExactly(stream, entry, kPlimEntrySize);
          if (hr != S_OK) break;
          collection.AddEntry(kPlimEntryKey, fileutil::ByteVector(entry, entry + kPlimEntrySize));
        }
      }
    }
    if (stream) stream->Release();
    plim->Release();
  }
  if (hr == E_NOINTERFACE || hr == KV_E_NOTFOUND) return S_FALSE;
  return hr;
}

}  // namespace ffbase
