// Settings through the file-IO manager: forwarders to its metric operations.
#include "kvdizuvomanager.h"
#include "kvtemplate_io.h"


DWORD KVAPI KvFioMgr_GetMetric(IKvDizuVOManager* manager, int id, DWORD defaultValue) {
  DWORD value = 0;
  if (!manager || FAILED(manager->GetMetric(id, &value))) return defaultValue;
  return value;
}

HRESULT KVAPI KvFioMgr_SetMetric(IKvDizuVOManager* manager, int id, DWORD value) {
  return manager ? manager->SetMetric(id, value) : E_INVALIDARG;
}

DWORD KVAPI KvFioMgr_GetMetricString(IKvDizuVOManager* manager, int id, wchar_t* buf, DWORD cch) {
  if (!manager) return 0;
  DWORD chars = 0;
  HRESULT hr = manager->GetMetricString(id, buf, cch, &chars);
  // The manager counts the terminator.
  if (hr == KV_E_BUFFERTOOSMALL) return chars;
  if (FAILED(hr)) return 0;
  return chars ? chars - 1 : 0;
}

HRESULT KVAPI KvFioMgr_SetMetricString(IKvDizuVOManager* manager, int id, const wchar_t* text) {
  return manager ? manager->SetMetricString(id, text) : E_INVALIDARG;
}

HRESULT KVAPI KvFioMgr_DeleteMetric(IKvDizuVOManager* manager, int id, DWORD type) {
  return manager ? manager->DeleteMetric(id, type) : E_INVALIDARG;
}

DWORD KVAPI KvFioMgr_GetMetricBinary(IKvDizuVOManager* manager, int id, void* buf, DWORD cb) {
  if (!manager) return 0;
  DWORD bytes = 0;
  HRESULT hr = manager->GetMetricBinary(id, buf, cb, &bytes);
  return SUCCEEDED(hr) || hr == KV_E_BUFFERTOOSMALL ? bytes : 0;
}

HRESULT KVAPI KvFioMgr_SetMetricBinary(IKvDizuVOManager* manager, int id, const DWORD* words, DWORD count) {
  return manager ? manager->SetMetricBinary(id, words, count) : E_INVALIDARG;
}
