// Plug-in info and type enumerators, the preference order of readers and
// renderers, and the plug-in info record.
#include "kvfioenum.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "kvcomobject.h"
#include "kvfileio.h"
#include "kvstr.h"

namespace {

// Plug-ins tried before all others: this library's own AAC plug-in.
const GUID kReaderFirst[] = {
    {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}},
};
// Plug-ins tried after all others: the catch-all reader that takes any file
// its system decoders can play.
const GUID kReaderLast[] = {
    {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}},
};
const GUID kRendererFirst[] = {
    {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}},
};
const GUID kRendererLast[] = {
    {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}},
};

const KvFioPreferenceSets kReaderSets = {kReaderFirst, int(sizeof(kReaderFirst) / sizeof(GUID)), kReaderLast,
                                         int(sizeof(kReaderLast) / sizeof(GUID))};
const KvFioPreferenceSets kRendererSets = {kRendererFirst, int(sizeof(kRendererFirst) / sizeof(GUID)),
                                           kRendererLast, int(sizeof(kRendererLast) / sizeof(GUID))};

const GUID kNoId = {};

bool InIdList(const GUID& id, const GUID* ids, int count) {
  for (int i = 0; i < count; ++i)
    if (KvFio_SameIdPrefix(id, ids[i])) return true;
  return false;
}

}  // namespace

HRESULT KvFio_FillPluginInfo(const KvFioPluginRecord* record, KVFIO_PLUGININFO* info) {
  if (!record || !info) return E_POINTER;
  if (info->cbSize < KVFIO_PLUGININFO_SIZE) return E_FAIL;
  info->pluginId = record->pluginId;
  info->readerId = (record->access & KVFIO_ACCESS_READER) ? record->reader.classId : kNoId;
  info->rendererId = (record->access & KVFIO_ACCESS_RENDERER) ? record->renderer.classId : kNoId;
  KvStrCpyN(info->dllPath, record->dllPath, 260);
  std::memset(info->zero, 0, sizeof(info->zero));
  return S_OK;
}

const KvFioPreferenceSets& KvFio_PreferenceSets(bool renderer) { return renderer ? kRendererSets : kReaderSets; }

int KvFio_PreferenceRank(const GUID& pluginId, bool renderer) {
  const KvFioPreferenceSets& sets = KvFio_PreferenceSets(renderer);
  for (int i = 0; i < sets.firstCount; ++i)
    if (KvFio_SameIdPrefix(pluginId, sets.first[i])) return sets.firstCount - i;
  for (int i = 0; i < sets.lastCount; ++i)
    if (KvFio_SameIdPrefix(pluginId, sets.last[i])) return -1 - i;
  return 0;
}

// --- CKvFIOPluginEnum ---------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::QueryInterface(REFIID riid, void** out) {
  IKvFIOPluginEnum* self = this;
  return kvcom::QueryFaces(this, riid, out, {{IID_IKvFIOPluginEnum, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE CKvFIOPluginEnum::AddRef() { return kvcom::AddRefCount(refs_); }

ULONG STDMETHODCALLTYPE CKvFIOPluginEnum::Release() { return kvcom::ReleaseRef(this, refs_); }

void CKvFIOPluginEnum::Attach(tKVLIST* plugins, KvFioClassLoader* manager) {
  plugins_ = plugins;
  manager_ = manager;
  position_ = 0;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Next(ULONG count, KVFIO_PLUGININFO* infos, ULONG* fetched) {
  if (fetched) *fetched = 0;
  if (count && !infos) return E_POINTER;
  ULONG done = 0;
  HRESULT hr = S_OK;
  while (done < count && position_ < Count()) {
    hr = KvFio_FillPluginInfo(KvFio_RecordAt(plugins_, position_), &infos[done]);
    if (FAILED(hr)) break;
    ++position_;
    ++done;
  }
  if (fetched) *fetched = done;
  if (FAILED(hr)) return hr;
  return done ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Skip(ULONG count) {
  if (ULONG(Count() - position_) < count) {
    position_ = Count();
    return E_NOTIMPL;
  }
  position_ += int(count);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Clone(IKvFIOPluginEnum** out) {
  if (out) *out = nullptr;
  return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) {
  if (!id || !info) return E_POINTER;
  if (info->cbSize < KVFIO_PLUGININFO_SIZE) return E_FAIL;
  const KvFioPluginRecord* prefixMatch = nullptr;
  for (int i = 0; i < Count(); ++i) {
    const KvFioPluginRecord* record = KvFio_RecordAt(plugins_, i);
    if (!record) continue;
    if (IsEqualGUID(record->pluginId, *id)) return KvFio_FillPluginInfo(record, info);
    if (!prefixMatch && KvFio_SameIdPrefix(record->pluginId, *id)) prefixMatch = record;
  }
  return prefixMatch ? KvFio_FillPluginInfo(prefixMatch, info) : E_FAIL;
}

HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Reserved8() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CKvFIOPluginEnum::Reserved9() { return E_UNEXPECTED; }

// --- CKvDizuVOTypeEnum ----------------------------------------------------------

CKvDizuVOTypeEnum::~CKvDizuVOTypeEnum() {
  if (list_) KvList_Destroy(list_);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::QueryInterface(REFIID riid, void** out) {
  IKvDizuVOTypeEnum* self = this;
  return kvcom::QueryFaces(this, riid, out, {{IID_IKvDizuVOTypeEnum, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE CKvDizuVOTypeEnum::AddRef() { return kvcom::AddRefCount(refs_); }

ULONG STDMETHODCALLTYPE CKvDizuVOTypeEnum::Release() { return kvcom::ReleaseRef(this, refs_); }

KvFioPluginRecord* CKvDizuVOTypeEnum::RecordAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return KvFio_RecordAt(list_, index);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::Next(ULONG count, IUnknown** objects, ULONG* fetched) {
  if (fetched) *fetched = 0;
  if (count && !objects) return E_POINTER;
  ULONG done = 0;
  while (done < count && position_ < Count()) {
    KvFioPluginRecord* record = KvFio_RecordAt(list_, position_++);
    KvFioClassEntry* entry = GetClassEntry(record);
    if (entry->loadState == KVFIO_LOAD_NOT_CREATED && manager_) manager_->LoadClassObject(record, IsRenderer());
    if (entry->loadState == KVFIO_LOAD_CREATED && entry->classObject) {
      entry->classObject->AddRef();
      objects[done++] = entry->classObject;
    }
  }
  if (fetched) *fetched = done;
  return done ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::Skip(ULONG count) {
  if (ULONG(Count() - position_) < count) {
    position_ = Count();
    return E_NOTIMPL;
  }
  position_ += int(count);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::Clone(IKvDizuVOTypeEnum** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOTypeEnum::Reserved7() { return E_NOTIMPL; }

ULONG STDMETHODCALLTYPE CKvDizuVOTypeEnum::GetCount() { return ULONG(Count()); }

HRESULT CKvDizuVOTypeEnum::Build(KvFioClassLoader* manager, DWORD flags, const GUID* ids, int idCount,
                                 DWORD kindMask, tKVLIST* plugins) {
  if (list_) {
    KvList_Destroy(list_);
    list_ = nullptr;
  }
  position_ = 0;
  manager_ = manager;
  tKVLIST* list = nullptr;
  HRESULT hr = KvList_CreateExZ(&list, sizeof(KvFioPluginRecord*), 16, 16, 0, 0, 0, 0);
  if (FAILED(hr) || !list) return FAILED(hr) ? hr : E_OUTOFMEMORY;

  const bool renderer = IsRenderer();
  const DWORD access = renderer ? KVFIO_ACCESS_RENDERER : KVFIO_ACCESS_READER;
  const DWORD levels = renderer ? (kindMask >> 16) : (kindMask & 0xFFFF);
  const bool filterIds = ids && idCount > 0;

  std::vector<KvFioPluginRecord*> kept;
  std::vector<KvFioPluginRecord*> usable;
  try {
    int count = plugins ? plugins->count : 0;
    for (int i = 0; i < count; ++i) {
      KvFioPluginRecord* record = KvFio_RecordAt(plugins, i);
      if (!record || (record->state & KVFIO_PLUGIN_UNUSABLE)) continue;
      KvFioClassEntry* entry = GetClassEntry(record);
      // A repeated plug-in id is passed over: compare with the earlier
      // usable records only, so that a copy that cannot load does not hide
      // one that can.
      bool repeated = false;
      for (const KvFioPluginRecord* earlier : usable)
        if (KvFio_SameIdPrefix(earlier->pluginId, record->pluginId)) repeated = true;
      usable.push_back(record);
      // A class object that exists stays "created": it is neither lost nor
      // made a second time.
      bool created = entry->classObject != nullptr;
      entry->loadState = created ? KVFIO_LOAD_CREATED : KVFIO_LOAD_NOT_AVAILABLE;
      if (!(record->access & access)) continue;
      if (filterIds && InIdList(record->pluginId, ids, idCount) != bool(flags & 1)) continue;
      if (!(record->appLevel & levels)) continue;
      if (repeated && !record->duplicateExempt) continue;
      entry->loadState = created ? KVFIO_LOAD_CREATED : KVFIO_LOAD_NOT_CREATED;
      kept.push_back(record);
    }
    // Higher rank first; equal ranks by the bytes of the class id; equal ids
    // keep the order of the plug-in list.
    std::stable_sort(kept.begin(), kept.end(), [&](KvFioPluginRecord* a, KvFioPluginRecord* b) {
      int ra = KvFio_PreferenceRank(a->pluginId, renderer), rb = KvFio_PreferenceRank(b->pluginId, renderer);
      if (ra != rb) return ra > rb;
      return std::memcmp(&GetClassEntry(a)->classId, &GetClassEntry(b)->classId, sizeof(GUID)) < 0;
    });
  } catch (const std::bad_alloc&) {
    KvList_Destroy(list);
    return E_OUTOFMEMORY;
  }
  if (!kept.empty()) {
    hr = KvList_InsertList(list, -1, kept.data(), int(kept.size()));
    if (FAILED(hr)) {
      KvList_Destroy(list);
      return hr;
    }
  }
  list_ = list;

  // A class object that already exists is told its new index.
  for (int i = 0; i < Count(); ++i) {
    KvFioClassEntry* entry = GetClassEntry(KvFio_RecordAt(list_, i));
    entry->index = i;
    if (!entry->classObject) continue;
    if (renderer) {
      IKvRenderFileClass* cls = nullptr;
      if (SUCCEEDED(entry->classObject->QueryInterface(IID_IKvRenderFileClass, reinterpret_cast<void**>(&cls))) &&
          cls) {
        cls->SetClassIndex(DWORD(i));
        cls->Release();
      }
    } else {
      IKvReadFileClass* cls = nullptr;
      if (SUCCEEDED(entry->classObject->QueryInterface(IID_IKvReadFileClass, reinterpret_cast<void**>(&cls))) &&
          cls) {
        cls->SetClassIndex(DWORD(i));
        cls->Release();
      }
    }
  }
  return S_OK;
}

KvFioClassEntry* CKvReaderEnum::GetClassEntry(KvFioPluginRecord* record) { return &record->reader; }
void CKvReaderEnum::GetClassIID(GUID* out) { *out = IID_IKvReadFileClass; }
KvFioClassEntry* CKvRendererEnum::GetClassEntry(KvFioPluginRecord* record) { return &record->renderer; }
void CKvRendererEnum::GetClassIID(GUID* out) { *out = IID_IKvRenderFileClass; }

HRESULT KvFio_CreateEnumerators(KvFioClassLoader* manager, tKVLIST* plugins, DWORD flags, const GUID* ids,
                                int idCount, DWORD kindMask, CKvFIOPluginEnum** pluginEnum,
                                CKvReaderEnum** readerEnum, CKvRendererEnum** rendererEnum) {
  if (!pluginEnum || !readerEnum || !rendererEnum) return E_POINTER;
  *pluginEnum = nullptr;
  *readerEnum = nullptr;
  *rendererEnum = nullptr;
  CKvFIOPluginEnum* p = new (std::nothrow) CKvFIOPluginEnum();
  CKvReaderEnum* r = new (std::nothrow) CKvReaderEnum();
  CKvRendererEnum* w = new (std::nothrow) CKvRendererEnum();
  HRESULT hr = (p && r && w) ? S_OK : E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) {
    p->Attach(plugins, manager);
    hr = r->Build(manager, flags, ids, idCount, kindMask, plugins);
  }
  if (SUCCEEDED(hr)) hr = w->Build(manager, flags, ids, idCount, kindMask, plugins);
  if (FAILED(hr)) {
    if (p) p->Release();
    if (r) r->Release();
    if (w) w->Release();
    return hr;
  }
  *pluginEnum = p;
  *readerEnum = r;
  *rendererEnum = w;
  return S_OK;
}
