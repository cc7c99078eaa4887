// String helpers of file classes, the global template cache and the template
// editor entry of the file-IO manager.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "kvstr.h"
#include "kvtemplate_io.h"

// ---- strings of file classes ---------------------------------------------------

void KVAPI KvFio_FreeBstrArray(BSTR* array, ULONG count) {
  if (!array) return;
  for (ULONG i = 0; i < count; ++i) {
    if (array[i]) SysFreeString(array[i]);
    array[i] = nullptr;
  }
}

BSTR KVAPI KvFio_DupBstr(const wchar_t* s) { return SysAllocString(s ? s : L""); }

HRESULT KVAPI KvFio_FillBstrArrayFromStringResourceMap(HKVLANG lang, const KVFIO_FILECLASS_INFO_TEXT* ids,
                                                       ULONG count, BSTR* out, const FILECLASS_INFO_STRING_MAP* map,
                                                       ULONG mapCount, const wchar_t* suffix) {
  if (count == 0) return S_OK;
  if (!ids || !out || (mapCount && !map)) return E_INVALIDARG;
  for (ULONG i = 0; i < count; ++i) out[i] = nullptr;
  for (ULONG i = 0; i < count; ++i) {
    const FILECLASS_INFO_STRING_MAP* row = nullptr;
    for (ULONG r = 0; r < mapCount && !row; ++r)
      if (map[r].id == ids[i]) row = &map[r];
    if (!row) continue;
    const wchar_t* text = row->text < 65536 ? KvGetString(lang, static_cast<UINT>(row->text))
                                            : reinterpret_cast<const wchar_t*>(row->text);
    if (!text) text = L"";
    const bool addSuffix = (ids[i] == 2 || ids[i] == 5) && suffix && suffix[0];
    const size_t textLen = std::wcslen(text), suffixLen = addSuffix ? std::wcslen(suffix) : 0;
    BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(textLen + suffixLen));
    if (!value) {
      KvFio_FreeBstrArray(out, i);
      return E_OUTOFMEMORY;
    }
    std::memcpy(value, text, textLen * sizeof(wchar_t));
    if (suffixLen) std::memcpy(value + textLen, suffix, suffixLen * sizeof(wchar_t));
    value[textLen + suffixLen] = 0;
    out[i] = value;
  }
  return S_OK;
}

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
