// The reader's class object.
#include "vogaac2_readfileclass.h"

#include "ffbase_guid.h"

VogAacReadFileClass::VogAacReadFileClass() : refCount_(0) {}

VogAacReadFileClass::~VogAacReadFileClass() {}

HRESULT STDMETHODCALLTYPE VogAacReadFileClass::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (ffbase::IsEqualId(riid, IID_IKvReadFileClass) || ffbase::IsEqualId(riid, IID_IUnknown)) {
    *ppv = static_cast<IKvReadFileClass*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE VogAacReadFileClass::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE VogAacReadFileClass::Release() {
  ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}
