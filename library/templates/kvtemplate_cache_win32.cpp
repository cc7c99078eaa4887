// The global template cache (one copy per template GUID, freed at the file-IO
// manager's shutdown) and the template editor entry of the manager.
#include <cstring>
#include <new>

#include "kvtemplate_io.h"

// ---- global template cache -----------------------------------------------------

namespace {

struct CacheEntry {
  tagKVTEMPLATExV2* tmpl;
  CacheEntry* next;
};

struct Cache {
  CRITICAL_SECTION lock;
  CacheEntry* head = nullptr;
  Cache() { InitializeCriticalSection(&lock); }
  ~Cache() {
    Clear();
    DeleteCriticalSection(&lock);
  }
  void Clear() {
    EnterCriticalSection(&lock);
    CacheEntry* e = head;
    head = nullptr;
    LeaveCriticalSection(&lock);
    while (e) {
      CacheEntry* next = e->next;
      KvFio_ReleaseTemplate(e->tmpl);
      delete e;
      e = next;
    }
  }
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

bool SameId(const tagKVTEMPLATExV2* t, const GUID& id) { return std::memcmp(&t->guidTemplate, &id, sizeof id) == 0; }

}  // namespace

HRESULT CKvGlobalTemplateCache::Add(const tagKVTEMPLATExV2* tmpl) {
  if (!tmpl) return E_INVALIDARG;
  tagKVTEMPLATExV2* copy = nullptr;
  HRESULT hr = KvFio_CopyTemplate(&copy, tmpl);
  if (FAILED(hr)) return hr;
  Cache& c = TheCache();
  EnterCriticalSection(&c.lock);
  tagKVTEMPLATExV2* replaced = nullptr;
  for (CacheEntry* e = c.head; e; e = e->next) {
    if (SameId(e->tmpl, tmpl->guidTemplate)) {
      replaced = e->tmpl;
      e->tmpl = copy;
      copy = nullptr;
      break;
    }
  }
  if (copy) {
    CacheEntry* e = new (std::nothrow) CacheEntry{copy, c.head};
    if (e) {
      c.head = e;
      copy = nullptr;
    } else {
      hr = E_OUTOFMEMORY;
    }
  }
  LeaveCriticalSection(&c.lock);
  KvFio_ReleaseTemplate(replaced);
  KvFio_ReleaseTemplate(copy);
  return hr;
}

HRESULT CKvGlobalTemplateCache::Find(const GUID& id, tagKVTEMPLATExV2** copy) {
  if (!copy) return E_INVALIDARG;
  *copy = nullptr;
  Cache& c = TheCache();
  HRESULT hr = S_FALSE;
  EnterCriticalSection(&c.lock);
  for (CacheEntry* e = c.head; e; e = e->next) {
    if (SameId(e->tmpl, id)) {
      hr = KvFio_CopyTemplate(copy, e->tmpl);
      break;
    }
  }
  LeaveCriticalSection(&c.lock);
  return hr;
}

ULONG CKvGlobalTemplateCache::Count() {
  Cache& c = TheCache();
  ULONG n = 0;
  EnterCriticalSection(&c.lock);
  for (CacheEntry* e = c.head; e; e = e->next) ++n;
  LeaveCriticalSection(&c.lock);
  return n;
}

void CKvGlobalTemplateCache::Clear() { TheCache().Clear(); }

// ---- template editing ----------------------------------------------------------

HRESULT KVAPI KvFioMgr_EditTemplate(IKvDizuVOManager* manager, _FIOEDITTEMPLATE* edit) {
  if (!manager || !edit) return E_INVALIDARG;
  return E_NOTIMPL;
}
