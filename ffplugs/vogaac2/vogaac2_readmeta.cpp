// The read metadata object, as a reader that holds no metadata.
#include "vogaac2_readmeta.h"

#include "ffbase_guid.h"
#include "vogaac2_ids.h"

VogAacReadMeta::VogAacReadMeta() : refCount_(0) {}

VogAacReadMeta::~VogAacReadMeta() {}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  using ffbase::IsEqualId;
  if (IsEqualId(riid, IID_IKvReadMeta) || IsEqualId(riid, IID_IUnknown))
    *ppv = static_cast<IKvReadMeta*>(this);
  else if (IsEqualId(riid, IID_IKvReadGenericMeta))
    *ppv = static_cast<IKvReadGenericMeta*>(this);
  else if (IsEqualId(riid, IID_IKvReadProjectLinkMeta))
    *ppv = static_cast<IKvReadProjectLinkMeta*>(this);
  else if (IsEqualId(riid, IID_IKvReadProjectLinkMetaEx))
    *ppv = static_cast<IKvReadProjectLinkMetaEx*>(this);
  else if (IsEqualId(riid, IID_IKvReadMediaMgrMeta))
    *ppv = static_cast<IKvReadMediaMgrMeta*>(this);
  else if (IsEqualId(riid, IID_IKvReadPlimMeta))
    *ppv = static_cast<IKvReadPlimMeta*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE VogAacReadMeta::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE VogAacReadMeta::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetMarkers(IStream** markers) {
  if (!markers) return E_INVALIDARG;
  return E_UNEXPECTED;  // no metadata decoder: nothing was loaded
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetSummaryText(UINT, wchar_t* buf, int cch) {
  if (buf && cch > 0) buf[0] = 0;
  return kVogResultAbsent;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetSummaryStream(IStream** summary) {
  if (!summary) return E_INVALIDARG;
  *summary = nullptr;
  return kVogResultAbsent;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::Reset() { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE VogAacReadMeta::Next(IStream** entries) {
  if (!entries) return E_INVALIDARG;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetField(IStream**, UINT) { return E_FAIL; }
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetUserDefStream(IStream**) { return E_FAIL; }
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetUserDefInfo(BYTE*) { return E_FAIL; }
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimInfo(BYTE*) { return E_FAIL; }
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimInfoEx(BYTE*) { return E_FAIL; }
HRESULT STDMETHODCALLTYPE VogAacReadMeta::GetPlimStream(IStream**) { return E_FAIL; }
