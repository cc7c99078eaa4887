// Settings through the file-IO manager: forwarders to its metric operations.
#include "kvdizuvo.h"
#include "kvtemplate_io.h"

namespace kvtemplate {

// The manager's metric slots (5 to 11) with their real arguments. Declared
// outside an anonymous namespace: the objects behind it are the manager's,
// never made in this file, and the compiler must not assume there are none.
struct ManagerMetrics : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLanguageID(LCID* lcid, DWORD reserved) = 0;                  // 3
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;                                                // 4
  virtual HRESULT STDMETHODCALLTYPE GetMetric(int id, DWORD* value) = 0;                            // 5
  virtual HRESULT STDMETHODCALLTYPE SetMetric(int id, DWORD value) = 0;                             // 6
  virtual HRESULT STDMETHODCALLTYPE GetMetricString(int id, wchar_t* buf, DWORD cch, DWORD* cchOut) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE SetMetricString(int id, const wchar_t* text) = 0;               // 8
  virtual HRESULT STDMETHODCALLTYPE DeleteMetric(int id, DWORD type) = 0;                           // 9
  virtual HRESULT STDMETHODCALLTYPE GetMetricBinary(int id, void* buf, DWORD cb, DWORD* cbOut) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE SetMetricBinary(int id, const DWORD* words, DWORD count) = 0;   // 11
};

}  // namespace kvtemplate

namespace {
kvtemplate::ManagerMetrics* Metrics(IKvDizuVOManager* manager) {
  return reinterpret_cast<kvtemplate::ManagerMetrics*>(manager);
}
}  // namespace

DWORD KVAPI KvFioMgr_GetMetric(IKvDizuVOManager* manager, int id, DWORD defaultValue) {
  DWORD value = 0;
  if (!manager || FAILED(Metrics(manager)->GetMetric(id, &value))) return defaultValue;
  return value;
}

HRESULT KVAPI KvFioMgr_SetMetric(IKvDizuVOManager* manager, int id, DWORD value) {
  return manager ? Metrics(manager)->SetMetric(id, value) : E_INVALIDARG;
}

DWORD KVAPI KvFioMgr_GetMetricString(IKvDizuVOManager* manager, int id, wchar_t* buf, DWORD cch) {
  if (!manager) return 0;
  DWORD chars = 0;
  HRESULT hr = Metrics(manager)->GetMetricString(id, buf, cch, &chars);
  // The manager counts the terminator.
  if (hr == KV_E_BUFFERTOOSMALL) return chars;
  if (FAILED(hr)) return 0;
  return chars ? chars - 1 : 0;
}

HRESULT KVAPI KvFioMgr_SetMetricString(IKvDizuVOManager* manager, int id, const wchar_t* text) {
  return manager ? Metrics(manager)->SetMetricString(id, text) : E_INVALIDARG;
}

HRESULT KVAPI KvFioMgr_DeleteMetric(IKvDizuVOManager* manager, int id, DWORD type) {
  return manager ? Metrics(manager)->DeleteMetric(id, type) : E_INVALIDARG;
}

DWORD KVAPI KvFioMgr_GetMetricBinary(IKvDizuVOManager* manager, int id, void* buf, DWORD cb) {
  if (!manager) return 0;
  DWORD bytes = 0;
  HRESULT hr = Metrics(manager)->GetMetricBinary(id, buf, cb, &bytes);
  return SUCCEEDED(hr) || hr == KV_E_BUFFERTOOSMALL ? bytes : 0;
}

HRESULT KVAPI KvFioMgr_SetMetricBinary(IKvDizuVOManager* manager, int id, const DWORD* words, DWORD count) {
  return manager ? Metrics(manager)->SetMetricBinary(id, words, count) : E_INVALIDARG;
}
