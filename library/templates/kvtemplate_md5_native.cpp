// Template identity by MD5 in the native build: no MD5 provider exists there.
#include "kvtemplate.h"

HRESULT KVAPI KvFio_InitGUIDFromTemplateMD5DataHash(GUID* out, const tagKVTEMPLATExV2* t, BOOL) {
  if (!out || !t) return E_INVALIDARG;
  return E_NOTIMPL;
}
