// The generic renderer class object.
#include "ffbase_renderfileclass.h"

#include <cstdlib>
#include <new>

#include "ffbase_guid.h"
#include "kvcomobject.h"
#include "kvdizuvo.h"
#include "kvtemplate.h"

namespace ffbase {

namespace {
const DWORD kClassVersion = 1;
const DWORD kMetaSupportItemSize = 1024;
}  // namespace

BaseRenderFileClass::BaseRenderFileClass() : metaEnumIndex_(0), refCount_(0), classIndex_(0), manager_(nullptr) {}

BaseRenderFileClass::~BaseRenderFileClass() {
  if (manager_) manager_->Release();
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::QueryInterface(REFIID riid, void** ppv) {
  IKvRenderFileClass* primary = this;
  IKvRenderMetaSupport2* metaSupport = this;
  return kvcom::QueryFaces(this, riid, ppv,
                           {{IID_IKvRenderFileClass, primary},
                            {IID_IUnknown, primary},
                            {IID_IKvRenderMetaSupport, metaSupport},
                            {IID_IKvRenderMetaSupport2, metaSupport}});
}

ULONG STDMETHODCALLTYPE BaseRenderFileClass::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE BaseRenderFileClass::Release() {
  ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::SetClassIndex(DWORD index) {
  classIndex_ = index;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetClassIndex(DWORD* index) {
  if (!index) return E_INVALIDARG;
  *index = classIndex_;
  return S_OK;
}

// The new manager is counted before the old one is let go, so that handing in
// the manager already kept never frees it in between.
HRESULT STDMETHODCALLTYPE BaseRenderFileClass::SetDizuVOManager(IKvDizuVOManager* manager) {
  if (manager) manager->AddRef();
  if (manager_) manager_->Release();
  manager_ = manager;
  if (!manager) return S_OK;
  LCID lcid = 0;
  if (SUCCEEDED(manager->GetLanguageID(&lcid, 0))) ApplyHostLanguage(lcid);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetDizuVOManager(IKvDizuVOManager** manager) {
  if (!manager) return E_INVALIDARG;
  *manager = manager_;
  if (manager_) manager_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetRendererGuid(GUID* id) { return GetRendererClassGuid(id); }

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetClassVersion(DWORD* version) {
  if (!version) return E_INVALIDARG;
  *version = kClassVersion;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetReaderClass(IKvReadFileClass** reader) {
  if (!manager_) return KV_E_NOTFOUND;
  GUID id;
  HRESULT hr = GetReaderClassGuid(&id);
  if (FAILED(hr)) return hr;
  return manager_->GetReaderClass(reader, &id);
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::CreateRenderFile(IKvRenderFile** out, const wchar_t* path,
                                                                int streamCount, IKvReadStream** streams,
                                                                const tagKVTEMPLATExV2* tmpl) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  tagKVTEMPLATExV2* own = nullptr;
  if (!tmpl) {
    own = MakePresetTemplate(0);
    if (!own) return E_OUTOFMEMORY;
  } else {
    HRESULT hr = KvFio_SetTemplate(own, tmpl, kKvSetTemplateCopy);
    if (FAILED(hr)) return hr;
    if (!own) return E_OUTOFMEMORY;
  }
  IKvRenderFile* file = nullptr;
  NewRenderFile(&file, own);  // the file owns the template from here, also on failure
  if (!file) return E_OUTOFMEMORY;
  // The file starts with no reference: hold one while it is set up.
  file->AddRef();
  HRESULT hr = S_OK;
  if (path) hr = file->SetPath(path);
  for (int i = 0; SUCCEEDED(hr) && streams && i < streamCount; ++i) hr = file->SetSourceStream(streams[i], i);
  if (SUCCEEDED(hr)) hr = file->QueryInterface(IID_IKvRenderFile, reinterpret_cast<void**>(out));
  file->Release();
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetTemplateCount(int* count) {
  if (count) *count = GetPresetCount();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetTemplate(tagKVTEMPLATExV2** tmpl, int index) {
  if (!tmpl) return E_POINTER;
  *tmpl = nullptr;
  if (index < 0 || index >= GetPresetCount()) return E_INVALIDARG;
  *tmpl = MakePresetTemplate(index);
  return *tmpl ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::FindTemplateByGuid(const GUID* id, int* index) {
  if (!id || !index) return E_INVALIDARG;
  *index = -1;
  const int count = GetPresetCount();
  for (int i = 0; i < count; ++i) {
    GUID g;
    if (SUCCEEDED(GetPresetGuid(&g, i)) && IsEqualId(g, *id)) {
      *index = i;
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::Reserved17(DWORD_PTR, DWORD_PTR, DWORD* out) {
  if (out) *out = 0;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::ConvertTemplate(void** out, DWORD_PTR, DWORD_PTR) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::Reserved19(void** out, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetTemplatePageCounts(DWORD* pages, DWORD* extraPages, DWORD* flags) {
  if (!pages || !extraPages || !flags) return E_INVALIDARG;
  *pages = 0;
  *extraPages = 0;
  *flags = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::Reset() {
  metaEnumIndex_ = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::Next(void* item, DWORD* size) {
  HRESULT hr = GetMetaSupportItem(item, static_cast<int>(metaEnumIndex_));
  if (hr == S_OK) {
    ++metaEnumIndex_;
    if (size) *size = kMetaSupportItemSize;
    return S_OK;
  }
  if (item) *static_cast<DWORD*>(item) = 0;
  if (size) *size = 0;
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseRenderFileClass::GetSupportedMetaFlags(DWORD* flags, DWORD* flags2) {
  if (!flags || !flags2) return E_INVALIDARG;
  *flags = SupportedMetaFlags();
  *flags2 = 0;
  return S_OK;
}

}  // namespace ffbase
