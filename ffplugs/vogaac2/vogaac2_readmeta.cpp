// The read metadata object.
#include "vogaac2_readmeta.h"

#include <cstring>
#include <new>

#include "boxreader.h"
#include "ffbase_hostmeta.h"
#include "kvguid.h"
#include "meta3gpp.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "metastream.h"
#include "filestream.h"
#include "kvcomobject.h"
#include "trackreader.h"
#include "vogaac2_ids.h"

namespace {

// Keys with faces of their own, kept out of the generic enumeration: the
// project link, the media-manager record and entry stream, the two Plim
// records and the Plim entry stream.
const GUID kOwnFaceKeys[] = {
    {0x2a33d899, 0x550b, 0x468c, {0x9c, 0x47, 0x3c, 0xe3, 0x90, 0x0d, 0x87, 0x34}},
    {0xcdb04c70, 0x91a0, 0x4668, {0xad, 0x38, 0x68, 0x73, 0xe2, 0x95, 0x64, 0x15}},
    {0x2183e19b, 0x0225, 0x455c, {0x9f, 0xbf, 0x75, 0x14, 0xaf, 0xfd, 0xba, 0x7d}},
    {0x3152f494, 0xc993, 0x4b31, {0x96, 0xe1, 0xa3, 0x3c, 0x79, 0xc7, 0xa8, 0xd0}},
    {0x53cbedb8, 0x992a, 0x4202, {0xaa, 0x8d, 0xe2, 0x88, 0x92, 0x79, 0xe8, 0x6f}},
    {0xfdb28eb2, 0x7d5e, 0x4a7b, {0xaf, 0xbd, 0xf1, 0xe3, 0x8c, 0x7e, 0xc5, 0xf6}},
};


// The file's tags: 3GPP assets, then the ID3v2 tag, then the iTunes items;
// pictures, SMFMF data and opaque host records become GUID-keyed entries.
void ReadTags(const wchar_t* path, fileutil::MetaDataSet& set) {
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(path);
    boxes = reader.ReadMetaBoxes();
  }
  if (boxes) {
    fileutil::Get3gppMetaData(set, *boxes).Apply();
    fileutil::GetId3v2MetaData(set, *boxes).Apply();
    fileutil::GetiTunesMetaData(set, *boxes).Apply();
    fileutil::DeleteBoxList(boxes);
  }
  set.ExportPictures();
  set.ExportSmfmf();
  set.ExportGenericEntries();
}

// The sample rate of the file's audio track (0 when it cannot be read): the
// time scale of the markers' sample positions.
DWORD ReadTrackSampleRate(const std::wstring& path) {
  if (path.empty()) return 0;
  fileutil::ifstream file;
  file.open(path.c_str(), 1 << 16, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
            nullptr);
  if (!file.is_open()) return 0;
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(file);
    boxes = reader.ReadAllBoxes();
  }
  DWORD rate = 0;
  if (boxes) {
    fileutil::TrackReader track(*boxes, file);
    if (track.Init()) rate = track.GetSampleRate();
    fileutil::DeleteBoxList(boxes);
  }
  file.close();
  return rate;
}

}  // namespace

VogAacReadMeta::VogAacReadMeta()
    : refCount_(0),
      collection_(nullptr),
      projectLink_(nullptr),
      userDef_(nullptr),
      plim_(nullptr),
      genericNext_(genericList_.end()) {}

VogAacReadMeta::~VogAacReadMeta() { Unload(); }

void VogAacReadMeta::Unload() {
  genericList_.clear();
  genericNext_ = genericList_.end();
  delete collection_;
  collection_ = nullptr;
  delete projectLink_;
  projectLink_ = nullptr;
  delete userDef_;
  userDef_ = nullptr;
  delete plim_;
  plim_ = nullptr;
  path_.clear();
}

HRESULT VogAacReadMeta::Load(const wchar_t* path) {
  Unload();
  collection_ = new (std::nothrow) fileutil::MetaDataSet();
  projectLink_ = new (std::nothrow) ffbase::ProjectLinkFieldMap();
  userDef_ = new (std::nothrow) ffbase::UserDefManager();
  plim_ = new (std::nothrow) ffbase::PlimManager();
  if (!collection_ || !projectLink_ || !userDef_ || !plim_) {
    Unload();
    return E_OUTOFMEMORY;
  }
  try {
    if (path && path[0]) {
      path_ = path;
      ReadTags(path, *collection_);
    }
    projectLink_->LoadFrom(*collection_);
  } catch (const std::bad_alloc&) {
    Unload();
    return E_OUTOFMEMORY;
  }
  userDef_->SetSource(collection_);
  plim_->SetSource(collection_);
  Reset();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::QueryInterface(REFIID riid, void** ppv) {
  IKvReadMeta* primary = this;
  return kvcom::QueryFaces(this, riid, ppv,
                           {{IID_IKvReadMeta, primary},
                            {IID_IUnknown, primary},
                            {IID_IKvReadGenericMeta, static_cast<IKvReadGenericMeta*>(this)},
                            {IID_IKvReadProjectLinkMeta, static_cast<IKvReadProjectLinkMeta*>(this)},
                            {IID_IKvReadProjectLinkMetaEx, static_cast<IKvReadProjectLinkMetaEx*>(this)},
                            {IID_IKvReadMediaMgrMeta, static_cast<IKvReadMediaMgrMeta*>(this)},
                            {IID_IKvReadPlimMeta, static_cast<IKvReadPlimMeta*>(this)}});
}

ULONG STDMETHODCALLTYPE VogAacReadMeta::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE VogAacReadMeta::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetMarkers(IStream** markers) {
  if (!markers) return E_INVALIDARG;
  *markers = nullptr;
  if (!collection_) return E_UNEXPECTED;  // nothing was loaded
  fileutil::MetaLegacyMarkerStream* stream = new (std::nothrow) fileutil::MetaLegacyMarkerStream();
  if (!stream) return E_OUTOFMEMORY;
  const DWORD rate = ReadTrackSampleRate(path_);
  HRESULT hr = ffbase::GenericToLegacyMarkers(*stream, *collection_, rate, 1);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  *markers = stream;
  return S_OK;
}

// The key is a summary id ("INAM", "IART" ...).
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetSummaryText(UINT key, wchar_t* buf, int cch) {
  std::wstring text = collection_ ? collection_->GetSummaryText(key) : std::wstring();
  if (text.empty()) {
    if (buf && cch > 0) buf[0] = 0;
    return KV_E_NOTFOUND;
  }
  if (buf && cch > 0) {
    size_t n = text.size() < size_t(cch - 1) ? text.size() : size_t(cch - 1);
    std::memcpy(buf, text.data(), n * sizeof(wchar_t));
    buf[n] = 0;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetSummaryStream(IStream** summary) {
  if (!summary) return E_INVALIDARG;
  *summary = nullptr;
  if (!collection_) return KV_E_NOTFOUND;
  fileutil::MetaSummaryStream* stream = new (std::nothrow) fileutil::MetaSummaryStream();
  if (!stream) return E_OUTOFMEMORY;
  HRESULT hr = stream->FillFromSummary(*collection_);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  *summary = stream;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::Reset() {
  genericList_.clear();
  genericNext_ = genericList_.end();
  if (!collection_) return E_UNEXPECTED;
  try {
    collection_->CopyEntries(genericList_);
  } catch (const std::bad_alloc&) {
    genericList_.clear();
    genericNext_ = genericList_.end();
    return E_OUTOFMEMORY;
  }
  for (const GUID& key : kOwnFaceKeys) genericList_.erase(key);
  genericNext_ = genericList_.begin();
  return S_OK;
}

// One stream per metadata-type GUID, holding every entry under it: the
// enumeration moves past all entries of the GUID it has handed out.
HRESULT STDMETHODCALLTYPE VogAacReadMeta::Next(IStream** entries) {
  if (!entries) return E_INVALIDARG;
  if (!collection_ || genericNext_ == genericList_.end()) return S_FALSE;
  fileutil::MetaGenericStream* stream = new (std::nothrow) fileutil::MetaGenericStream();
  if (!stream) return E_OUTOFMEMORY;
  const GUID key = genericNext_->first;
  HRESULT hr = stream->FillFromEntries(*collection_, key);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  *entries = stream;
  while (genericNext_ != genericList_.end() && KvGuidEquals(genericNext_->first, key)) ++genericNext_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetField(IStream** field, UINT fieldId) {
  return projectLink_ ? projectLink_->GetFieldStream(field, fieldId) : E_FAIL;
}
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetUserDefStream(IStream** entries) {
  return userDef_ ? userDef_->GetStream(entries) : E_FAIL;
}
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetUserDefInfo(BYTE* record12) {
  return userDef_ ? userDef_->GetInfo(record12) : E_FAIL;
}
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimInfo(BYTE* record24) {
  return plim_ ? plim_->GetInfo(record24) : E_FAIL;
}
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimInfoEx(BYTE* record28) {
  return plim_ ? plim_->GetInfoEx(record28) : E_FAIL;
}
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimStream(IStream** entries) {
  return plim_ ? plim_->GetStream(entries) : E_FAIL;
}
