// Global Interface Table registration and the per-thread proxy cache.
#include "kvgitholder.h"

IGlobalInterfaceTable* KvGetGlobalInterfaceTable() {
  IGlobalInterfaceTable* table = nullptr;
  if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                              reinterpret_cast<void**>(&table)))) {
    return nullptr;
  }
  return table;
}

CKvGITHolder::CKvGITHolder(const IID& iid, bool lastPairShortcut) : iid_(&iid), lastPairShortcut_(lastPairShortcut) {}

CKvGITHolder::~CKvGITHolder() {
  if (cookie_) Revoke();
  map_.Clear();
  if (lockReady_) {
    DeleteCriticalSection(&lock_);
    lockReady_ = false;
  }
}

HRESULT CKvGITHolder::Register(IUnknown* pointer) {
  if (cookie_) Revoke();
  if (!pointer) return S_OK;
  IGlobalInterfaceTable* table = KvGetGlobalInterfaceTable();
  // A thread without COM cannot reach the table at all.
  if (!table) return CO_E_NOTINITIALIZED;
  DWORD cookie = 0;
  HRESULT hr = table->RegisterInterfaceInGlobal(pointer, *iid_, &cookie);
  table->Release();
  if (FAILED(hr)) return hr;
  if (!cookie) return E_FAIL;
  hr = map_.Init(1);
  if (FAILED(hr)) {
    // Without a cache the holder is of no use: take the registration back.
    if ((table = KvGetGlobalInterfaceTable()) != nullptr) {
      table->RevokeInterfaceFromGlobal(cookie);
      table->Release();
    }
    return hr;
  }
  cookie_ = cookie;
  pointer->AddRef();
  registered_ = pointer;
  if (!lockReady_) {
    InitializeCriticalSection(&lock_);
    lockReady_ = true;
  }
  if (lastPairShortcut_) {
    lastThreadId_ = GetCurrentThreadId();
    lastPointer_ = pointer;
  }
  return S_OK;
}

void CKvGITHolder::Revoke() {
  if (!cookie_) return;
  for (CKvThreadPointerMap::Iterator it = map_.Begin(); it != map_.End(); it.Next()) {
    if (it.node()->value) {
      it.node()->value->Release();
      it.node()->value = nullptr;
    }
  }
  DWORD cookie = cookie_;
  cookie_ = 0;
  lastThreadId_ = 0;
  lastPointer_ = nullptr;
  if (IGlobalInterfaceTable* table = KvGetGlobalInterfaceTable()) {
    table->RevokeInterfaceFromGlobal(cookie);
    table->Release();
  }
  map_.Clear();
  if (registered_) {
    registered_->Release();
    registered_ = nullptr;
  }
  if (lockReady_) {
    DeleteCriticalSection(&lock_);
    lockReady_ = false;
  }
}

HRESULT CKvGITHolder::GetForCurrentThread(IUnknown** out) {
  *out = nullptr;
  if (!cookie_) return E_UNEXPECTED;
  DWORD thread = GetCurrentThreadId();
  EnterCriticalSection(&lock_);
  if (lastPairShortcut_ && thread == lastThreadId_ && lastPointer_) {
    *out = lastPointer_;
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  HRESULT hr = S_OK;
  IUnknown** cached = nullptr;
  if (SUCCEEDED(map_.Find(thread, 0, &cached)) && *cached) {
    *out = *cached;
    // A thread's second call makes its cached proxy the last pair.
    if (lastPairShortcut_) {
      lastThreadId_ = thread;
      lastPointer_ = *out;
    }
  } else {
    IUnknown* proxy = nullptr;
    IGlobalInterfaceTable* table = KvGetGlobalInterfaceTable();
    hr = table ? table->GetInterfaceFromGlobal(cookie_, *iid_, reinterpret_cast<void**>(&proxy)) : CO_E_NOTINITIALIZED;
    if (table) table->Release();
    // Only a real proxy is cached: a failed fetch must neither be called nor
    // poison the thread's later calls.
    if (SUCCEEDED(hr) && !proxy) hr = E_NOINTERFACE;
    if (SUCCEEDED(hr)) {
      hr = map_.Insert(thread, 0, &proxy);
      if (SUCCEEDED(hr)) {
        *out = proxy;
      } else {
        proxy->Release();
      }
    }
  }
  LeaveCriticalSection(&lock_);
  return hr;
}

HRESULT CKvGITHolder::RefreshForCurrentThread(IUnknown* stale, IUnknown** out) {
  *out = nullptr;
  if (!cookie_) return E_UNEXPECTED;
  DWORD thread = GetCurrentThreadId();
  EnterCriticalSection(&lock_);
  IUnknown* proxy = nullptr;
  IGlobalInterfaceTable* table = KvGetGlobalInterfaceTable();
  HRESULT hr = table ? table->GetInterfaceFromGlobal(cookie_, *iid_, reinterpret_cast<void**>(&proxy)) : CO_E_NOTINITIALIZED;
  if (table) table->Release();
  if (SUCCEEDED(hr) && !proxy) hr = E_NOINTERFACE;
  if (SUCCEEDED(hr)) {
    IUnknown** cached = nullptr;
    if (SUCCEEDED(map_.Find(thread, 0, &cached))) {
      // The entry is replaced in place; the old proxy is given back.
      if (*cached && *cached != stale) {
        // Another pointer than the one that failed: keep it, drop the fetch.
        proxy->Release();
        proxy = *cached;
      } else {
        if (*cached) (*cached)->Release();
        *cached = proxy;
      }
    } else {
      hr = map_.Insert(thread, 0, &proxy);
      if (FAILED(hr)) {
        proxy->Release();
        proxy = nullptr;
      }
    }
  }
  if (SUCCEEDED(hr)) {
    *out = proxy;
    // The thread's next call goes through its refreshed entry.
    if (lastPairShortcut_ && lastThreadId_ == thread) {
      lastThreadId_ = 0;
      lastPointer_ = nullptr;
    }
  }
  LeaveCriticalSection(&lock_);
  return hr;
}
