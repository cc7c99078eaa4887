// The generic reader class object.
#include "ffbase_readfileclass.h"

#include <new>

#include "kvcomobject.h"
#include "kvdizuvo.h"
#include "kvstr.h"

namespace ffbase {

namespace {
const DWORD kIdentifyBytes = 4096;
}

BaseReadFileClass::BaseReadFileClass() : refCount_(0), classIndex_(0), manager_(nullptr) {}

BaseReadFileClass::~BaseReadFileClass() {}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::QueryInterface(REFIID riid, void** ppv) {
  IKvReadFileClass* self = this;
  return kvcom::QueryFaces(this, riid, ppv, {{IID_IKvReadFileClass, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE BaseReadFileClass::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE BaseReadFileClass::Release() {
  ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::SetClassIndex(DWORD index) {
  classIndex_ = index;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::GetClassIndex(DWORD* index) {
  if (!index) return E_INVALIDARG;
  *index = classIndex_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::SetDizuVOManager(IKvDizuVOManager* manager) {
  manager_ = manager;
  if (!manager) return S_OK;
  LCID lcid = 0;
  if (FAILED(manager->GetLanguageID(&lcid, 0))) return S_OK;
  ApplyHostLanguage(lcid);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::GetDizuVOManager(IKvDizuVOManager** manager) {
  if (!manager) return E_INVALIDARG;
  if (!manager_) return E_NOINTERFACE;
  manager_->AddRef();
  *manager = manager_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::GetReaderGuid(GUID* id) {
  if (!id) return E_INVALIDARG;
  *id = *ReaderClassGuid();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::GetClassVersion(DWORD* version) {
  if (!version) return E_INVALIDARG;
  *version = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::GetRendererClass(IKvRenderFileClass** renderer) {
  if (!manager_) return KV_E_NOTFOUND;
  return manager_->GetRendererClass(renderer, RendererClassGuid());
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::IsFileSupported(const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  // A path too long for the working copy is refused, never cut to another name.
  if (KvStrLen(path) >= MAX_PATH) return E_FAIL;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  BYTE* header = new (std::nothrow) BYTE[kIdentifyBytes];
  HRESULT hr = E_OUTOFMEMORY;
  if (header) {
    DWORD read = 0;
    if (ReadFile(file, header, kIdentifyBytes, &read, nullptr))
      hr = IdentifyFile(file, header, read, nullptr);
    else
      hr = E_FAIL;
    delete[] header;
  }
  CloseHandle(file);
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFileClass::OpenReadFile(IKvReadFile** out, HANDLE handle, DWORD ownerProcessId,
                                                          const wchar_t* path, BOOL open) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  HANDLE duplicate = nullptr;
  if (handle != INVALID_HANDLE_VALUE) {
    HRESULT hr = DuplicateHandleFromProcessId(handle, ownerProcessId, &duplicate);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = CreateReadFile(out);
  if (SUCCEEDED(hr) && *out) {
    HRESULT pathResult = (*out)->SetPath(path ? path : L"");
    if (FAILED(pathResult)) {
      hr = pathResult;
    } else if (open) {
      hr = (*out)->Open(GENERIC_READ, FILE_SHARE_READ);
    }
    if (FAILED(hr)) {
      (*out)->Release();
      *out = nullptr;
    }
  }
  // The read file opens the file again by its path: the duplicate is not used.
  if (duplicate) CloseHandle(duplicate);
  return hr;
}

}  // namespace ffbase
