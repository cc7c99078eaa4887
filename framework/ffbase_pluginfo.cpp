// Generic plug-in info object.
#include "ffbase_pluginfo.h"

#include "kvcomobject.h"
#include "kvstr.h"

namespace ffbase {

HRESULT STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::QueryInterface(REFIID riid, void** ppv) {
  IKvUnsharedFIOPluginInfo* self = this;
  return kvcom::QueryFaces(this, riid, ppv, {{IID_IKvUnsharedFIOPluginInfo, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::Release() {
  ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::Initialize(DWORD, DWORD, DWORD) {
  initialised_ = TRUE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::GetItemCount(UINT* count) {
  if (!initialised_) return E_FAIL;
  if (!count) return E_INVALIDARG;
  *count = ItemCount();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseUnsharedFIOPluginInfo::GetItem(int index, GUID* id, wchar_t* name, int cchName,
                                                             DWORD* value1, DWORD* value2, DWORD* value3,
                                                             DWORD* value4, DWORD* value5, DWORD* value6,
                                                             DWORD* zero, DWORD* last) {
  if (!initialised_) return E_FAIL;
  if (index < 0 || static_cast<UINT>(index) >= ItemCount()) return E_INVALIDARG;
  const PluginInfoRow& row = Items()[index];
  if (id) *id = *row.id;
  if (name) KvStrCpyNLen(name, row.name, cchName);
  DWORD* const outs[6] = {value1, value2, value3, value4, value5, value6};
  for (int i = 0; i < 6; ++i)
    if (outs[i]) *outs[i] = row.values[i];
  if (zero) *zero = 0;
  if (last) *last = row.values[6];
  return S_OK;
}

}  // namespace ffbase
