// The renderer's class object.
#include "vogaac2_renderfileclass.h"

#include "ffbase_guid.h"

VogAacRenderFileClass::VogAacRenderFileClass() : refCount_(0) {}

VogAacRenderFileClass::~VogAacRenderFileClass() {}

HRESULT STDMETHODCALLTYPE VogAacRenderFileClass::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (ffbase::IsEqualId(riid, IID_IKvRenderFileClass) || ffbase::IsEqualId(riid, IID_IUnknown)) {
    *ppv = static_cast<IKvRenderFileClass*>(this);
  } else if (ffbase::IsEqualId(riid, IID_IKvRenderMetaSupport) || ffbase::IsEqualId(riid, IID_IKvRenderMetaSupport2)) {
    *ppv = static_cast<IKvRenderMetaSupport2*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE VogAacRenderFileClass::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE VogAacRenderFileClass::Release() {
  ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}
