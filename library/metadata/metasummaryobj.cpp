#include "metasummaryobj.h"

#include <new>

#include "boxreader.h"
#include "filestream.h"
#include "meta3gpp.h"
#include "metablocks.h"
#include "metacardwell.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "metastream.h"
#include "rewrite.h"

using namespace fileutil;

namespace {

const wchar_t* const kWritableExtensions[] = {L"m4a", L"m4v", L"m4b", L"m4p"};

}  // namespace

MetaSummary::MetaSummary() : loadedKinds_(0) {}

MetaSummary* MetaSummary::Create() { return new (std::nothrow) MetaSummary(); }

HRESULT MetaSummary::Destroy(MetaSummary* object) {
  delete object;
  return S_OK;
}

HRESULT MetaSummary::SetPath(const wchar_t* path) {
  path_ = path ? path : L"";
  return S_OK;
}

HRESULT MetaSummary::Reset() {
  loadedKinds_ = 0;
  set_.ClearTextsAndPictures();
  return S_OK;
}

HRESULT MetaSummary::Read(DWORD mask) {
  if (loadedKinds_ & mask) return S_OK;
  loadedKinds_ = mask;
  set_.ClearTextsAndPictures();
  // A read that fails loads nothing: the next call with the same mask tries
  // the file again instead of answering from an empty set.
  if (path_.empty()) {
    loadedKinds_ = 0;
    return KV_E_BADFILENAME;
  }
  ifstream in(path_.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess, nullptr);
  if (!in.is_open()) {
    loadedKinds_ = 0;
    return E_FAIL;
  }
  BoxList* boxes = nullptr;
  {
    BoxReader reader(in);
    boxes = reader.ReadMetaBoxes();
  }
  if (!boxes) {
    loadedKinds_ = 0;
    return E_FAIL;
  }
  if (mask & kMetaKindId3v2) GetId3v2MetaData(set_, *boxes).Apply();
  if (mask & kMetaKind3gpp) Get3gppMetaData(set_, *boxes).Apply();
  if (mask & kMetaKindITunes) GetiTunesMetaData(set_, *boxes).Apply();
  if (mask & kMetaKindCardwell) {
    in.clear();
    GetCardwellMetaData(set_, *boxes, in).Apply();
  }
  DeleteBoxList(boxes);
  in.close();
  return S_OK;
}

HRESULT MetaSummary::GetText(DWORD id, wchar_t* buffer, DWORD count, DWORD mask) {
  HRESULT hr = Read(mask);
  if (FAILED(hr)) return hr;
  if (!buffer || count == 0) return hr;
  // The text is cut to count - 1 characters so the buffer always ends in a
  // terminator; the rest of the buffer is zero-filled.
  std::wstring text = set_.GetSummaryText(id);
  DWORD n = text.size() < count ? DWORD(text.size()) : count - 1;
  for (DWORD i = 0; i < count; ++i) buffer[i] = i < n ? text[i] : L'\0';
  return hr;
}

HRESULT MetaSummary::CreateSummaryStream(IStream** stream, DWORD mask) {
  if (!stream) return E_POINTER;
  *stream = nullptr;
  HRESULT hr = Read(mask);
  if (FAILED(hr)) return hr;
  MetaSummaryStream* s = new (std::nothrow) MetaSummaryStream();
  if (!s) return E_OUTOFMEMORY;
  hr = s->FillFromSummary(set_);
  if (FAILED(hr)) {
    s->Release();
    return hr;
  }
  *stream = s;
  return S_OK;
}

HRESULT MetaSummary::GetPictureInfo(DWORD type, DWORD* blockSize, DWORD* dataSize, DWORD mask) {
  HRESULT hr = Read(mask);
  if (FAILED(hr)) return hr;
  auto it = set_.Pictures().find(type);
  if (it == set_.Pictures().end()) return S_FALSE;
  const PictureRecord& p = it->second;
  uint64_t total = PictureBlockSize(p.mimeType.empty() ? nullptr : &p.mimeType,
                                    p.description.empty() ? nullptr : &p.description, p.data.size());
  if (total > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  if (blockSize) *blockSize = DWORD(total);
  if (dataSize) *dataSize = DWORD(p.data.size());
  return S_OK;
}

HRESULT MetaSummary::SetPictureValue(DWORD type, KvPicture* block, DWORD mask) {
  HRESULT hr = Read(mask);
  if (FAILED(hr)) return hr;
  auto it = set_.Pictures().find(type);
  if (it == set_.Pictures().end()) return S_FALSE;
  if (!block) return E_POINTER;
  const PictureRecord& p = it->second;
  uint64_t total = PictureBlockSize(p.mimeType.empty() ? nullptr : &p.mimeType,
                                    p.description.empty() ? nullptr : &p.description, p.data.size());
  if (total > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  WritePictureBlock(reinterpret_cast<uint8_t*>(block), p.type, p.mimeType.empty() ? nullptr : &p.mimeType,
                    p.description.empty() ? nullptr : &p.description, p.data.data(), uint32_t(p.data.size()));
  return S_OK;
}

HRESULT MetaSummary::AddPictureBlock(const KvPicture* block) {
  if (!block) return S_OK;
  PictureRecord record;
  if (!ReadPictureBlock(reinterpret_cast<const uint8_t*>(block), block->totalSize, record)) return E_INVALIDARG;
  set_.AddPicture(record);
  return S_OK;
}

const GenericItem* MetaSummary::FirstSmfmf() const {
  auto it = set_.GenericItems().find(kSmfmfMimeType);
  return it == set_.GenericItems().end() ? nullptr : &it->second;
}

HRESULT MetaSummary::GetSmfmf(DWORD* blockSize, DWORD* dataSize) {
  HRESULT hr = Read(kMetaKindId3v2);
  if (FAILED(hr)) return hr;
  const GenericItem* item = FirstSmfmf();
  if (!item) return KV_E_NOTFOUND;
  if (item->data.size() > 0xFFFFFFFFu - kSmfmfBlockHeaderSize) return E_OUTOFMEMORY;
  if (dataSize) *dataSize = DWORD(item->data.size());
  if (blockSize) *blockSize = DWORD(item->data.size()) + kSmfmfBlockHeaderSize;
  return S_OK;
}

HRESULT MetaSummary::GetSmfmfData(KvSmfmf* block) {
  HRESULT hr = Read(kMetaKindId3v2);
  if (FAILED(hr)) return hr;
  const GenericItem* item = FirstSmfmf();
  if (!item) return S_FALSE;
  if (!block) return E_POINTER;
  if (item->data.size() > 0xFFFFFFFFu - kSmfmfBlockHeaderSize) return E_OUTOFMEMORY;
  static const uint8_t none = 0;
  return KvSmfmf_SetMeta(block, DWORD(item->data.size()), item->data.empty() ? &none : item->data.data());
}

bool MetaSummary::HasWritableExtension() const {
  // The text after the last "." of the file name, compared case-sensitively.
  size_t name = path_.find_last_of(L"\\/:");
  size_t dot = path_.rfind(L'.');
  if (dot == std::wstring::npos || (name != std::wstring::npos && dot < name)) return false;
  std::wstring ext = path_.substr(dot + 1);
  for (const wchar_t* w : kWritableExtensions)
    if (ext == w) return true;
  return false;
}

HRESULT MetaSummary::Write(IStream* summary, const KvSmfmf* smfmf, DWORD mask) {
  // A malformed SMFMF block is refused before the set is changed.
  ByteVector smfmfData;
  if (smfmf && !ReadSmfmfBlock(reinterpret_cast<const uint8_t*>(smfmf), smfmf->totalSize, smfmfData))
    return E_INVALIDARG;
  if (summary) set_.LoadSummaryStream(summary);
  if (smfmf) set_.AddSmfmf(smfmfData);
  if (HasWritableExtension()) mask = kMetaKindITunes;
  BoxList* boxes = nullptr;
  {
    // The reader's file is closed again before the file is rewritten.
    ifstream in(path_.c_str(), 65536, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess,
                nullptr);
    if (!in.is_open()) return E_FAIL;
    BoxReader reader(in);
    boxes = reader.ReadBoxesForMetaWrite();
  }
  if (!boxes) return E_FAIL;
  bool ok = true;
  if (ok && (mask & kMetaKindId3v2)) ok = PutId3v2MetaData(set_, *boxes).Apply();
  if (ok && (mask & kMetaKind3gpp)) ok = Put3gppMetaData(set_, *boxes).Apply();
  if (ok && (mask & kMetaKindITunes)) ok = PutiTunesMetaData(set_, *boxes).Apply();
  // The rewrite keeps any existing "<name>.bak", gives the backup up only
  // once the new file is complete and puts the original back on failure.
  HRESULT hr = ok ? RewriteBoxFile(path_.c_str(), *boxes) : E_FAIL;
  DeleteBoxList(boxes);
  return hr;
}

// The __stdcall twins. A null object is refused.
extern "C" {

MetaSummary* KVAPI MetaSummary_Create() { return MetaSummary::Create(); }
HRESULT KVAPI MetaSummary_Destroy(MetaSummary* object) { return MetaSummary::Destroy(object); }
HRESULT KVAPI MetaSummary_SetPath(MetaSummary* object, const wchar_t* path) {
  return object ? object->SetPath(path) : E_POINTER;
}
HRESULT KVAPI MetaSummary_Reset(MetaSummary* object) { return object ? object->Reset() : E_POINTER; }
HRESULT KVAPI MetaSummary_Read(MetaSummary* object, DWORD mask) { return object ? object->Read(mask) : E_POINTER; }
HRESULT KVAPI MetaSummary_GetText(MetaSummary* object, DWORD id, wchar_t* buffer, DWORD count, DWORD mask) {
  return object ? object->GetText(id, buffer, count, mask) : E_POINTER;
}
HRESULT KVAPI MetaSummary_CreateSummaryStream(MetaSummary* object, IStream** stream, DWORD mask) {
  return object ? object->CreateSummaryStream(stream, mask) : E_POINTER;
}
HRESULT KVAPI MetaSummary_GetPictureInfo(MetaSummary* object, DWORD type, DWORD* blockSize, DWORD* dataSize,
                                         DWORD mask) {
  return object ? object->GetPictureInfo(type, blockSize, dataSize, mask) : E_POINTER;
}
HRESULT KVAPI MetaSummary_SetPictureValue(MetaSummary* object, DWORD type, KvPicture* block, DWORD mask) {
  return object ? object->SetPictureValue(type, block, mask) : E_POINTER;
}
HRESULT KVAPI MetaSummary_AddPictureBlock(MetaSummary* object, const KvPicture* block) {
  return object ? object->AddPictureBlock(block) : E_POINTER;
}
HRESULT KVAPI MetaSummary_GetSmfmf(MetaSummary* object, DWORD* blockSize, DWORD* dataSize) {
  return object ? object->GetSmfmf(blockSize, dataSize) : E_POINTER;
}
HRESULT KVAPI MetaSummary_GetSmfmfData(MetaSummary* object, KvSmfmf* block) {
  return object ? object->GetSmfmfData(block) : E_POINTER;
}
HRESULT KVAPI MetaSummary_Write(MetaSummary* object, IStream* summary, const KvSmfmf* smfmf, DWORD mask) {
  return object ? object->Write(summary, smfmf, mask) : E_POINTER;
}

}  // extern "C"
