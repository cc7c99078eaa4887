// The plug-in info enumerator and the reader and renderer enumerators over a
// list of plug-in records: Next/Skip edges, the info record's layout, the
// filters and the order of preference, class objects created on demand (real
// class objects of vogaac2.dll, which report the index they were given).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvfileio.h"
#include "kvfioenum.h"

namespace {

GUID Id(DWORD data1, BYTE tail = 0) {
  GUID g = {data1, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, tail}};
  return g;
}

// A plug-in record list as the manager keeps it: slots hold records that the
// list allocates.
class RecordList {
 public:
  RecordList() { KvList_CreateExZ(&list_, sizeof(void*), 8, 8, KVLIST_ALLOCATED_ITEMS, 0, 0, 0); }
  ~RecordList() {
    for (int i = 0; i < list_->count; ++i) {
      KvFioPluginRecord* r = At(i);
      if (r->reader.classObject) r->reader.classObject->Release();
      if (r->renderer.classObject) r->renderer.classObject->Release();
    }
    KvList_Destroy(list_);
  }
  KvFioPluginRecord& Add(const GUID& plugin, DWORD access, DWORD appLevel, const GUID& readerId,
                         const GUID& rendererId, const wchar_t* path = L"C:\\p.dll") {
    KvFioPluginRecord r = {};
    r.size = sizeof(r);
    r.version = KVFIO_PLUGIN_RECORD_VERSION;
    r.pluginId = plugin;
    r.access = access;
    r.appLevel = appLevel;
    r.reader.classId = readerId;
    r.renderer.classId = rendererId;
    r.reader.index = r.renderer.index = -1;
    wcsncpy(r.dllPath, path, 259);
    EXPECT_EQ(KvList_AllocAndInsertItem(list_, &r, sizeof(r), -1, nullptr), S_OK);
    return *At(list_->count - 1);
  }
  KvFioPluginRecord* At(int i) { return KvFio_RecordAt(list_, i); }
  tKVLIST* get() { return list_; }

 private:
  tKVLIST* list_ = nullptr;
};

// The manager's loader as the enumerators see it: class objects of the
// plug-in DLL's factory; plug-ins whose id ends in 0xEE cannot be created.
class DllLoader : public KvFioClassLoader {
 public:
  DllLoader() {
    dll_ = LoadLibraryW(L"vogaac2.dll");
    auto get = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
        dll_ ? reinterpret_cast<void*>(GetProcAddress(dll_, "DllGetClassObject")) : nullptr);
    if (get) get(CLSID_NULL, IID_IClassFactory, reinterpret_cast<void**>(&factory_));
  }
  ~DllLoader() {
    if (factory_) factory_->Release();
  }
  bool ok() const { return factory_ != nullptr; }
  HRESULT LoadClassObject(KvFioPluginRecord* record, bool renderer) override {
    ++calls;
    KvFioClassEntry& entry = renderer ? record->renderer : record->reader;
    if (entry.loadState != KVFIO_LOAD_NOT_CREATED) return S_OK;
    if (record->pluginId.Data4[7] == 0xEE) {
      entry.loadState = KVFIO_LOAD_NOT_AVAILABLE;
      return E_NOINTERFACE;
    }
    IUnknown* object = nullptr;
    HRESULT hr = factory_->CreateInstance(nullptr, renderer ? IID_IKvRenderFileClass : IID_IKvReadFileClass,
                                          reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
      entry.loadState = KVFIO_LOAD_NOT_AVAILABLE;
      return hr;
    }
    entry.classObject = object;
    entry.loadState = KVFIO_LOAD_CREATED;
    if (renderer) {
      static_cast<IKvRenderFileClass*>(object)->SetClassIndex(DWORD(entry.index));
    } else {
      static_cast<IKvReadFileClass*>(object)->SetClassIndex(DWORD(entry.index));
    }
    return S_OK;
  }
  int calls = 0;

 private:
  HMODULE dll_ = nullptr;
  IClassFactory* factory_ = nullptr;
};

DWORD ClassIndex(IUnknown* object) {
  IKvReadFileClass* cls = nullptr;
  DWORD index = 0xFFFFFFFF;
  if (SUCCEEDED(object->QueryInterface(IID_IKvReadFileClass, reinterpret_cast<void**>(&cls)))) {
    cls->GetClassIndex(&index);
    cls->Release();
  }
  return index;
}

TEST(FioPluginEnum, NextSkipAndInfoRecords) {
  RecordList list;
  std::wstring longPath = L"C:\\" + std::wstring(300, L'p');
  list.Add(Id(1), KVFIO_ACCESS_READER, 1, Id(0x101), Id(0x201), L"C:\\one.dll");
  list.Add(Id(2), KVFIO_ACCESS_RENDERER, 1, Id(0x102), Id(0x202), L"C:\\two.dll");
  list.Add(Id(3), KVFIO_ACCESS_READER | KVFIO_ACCESS_RENDERER, 1, Id(0x103), Id(0x203), longPath.c_str());
  CKvFIOPluginEnum* e = new CKvFIOPluginEnum();
  e->Attach(list.get(), nullptr);

  KVFIO_PLUGININFO infos[3];
  std::memset(infos, 0xCD, sizeof(infos));
  for (auto& i : infos) i.cbSize = KVFIO_PLUGININFO_SIZE;
  ULONG fetched = 99;
  ASSERT_EQ(e->Skip(2), S_OK);
  // Three asked for at the last record: one fetched, S_OK; then S_FALSE.
  EXPECT_EQ(e->Next(3, infos, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(e->Next(3, infos + 1, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  const KVFIO_PLUGININFO& third = infos[0];
  EXPECT_TRUE(IsEqualGUID(third.pluginId, Id(3)));
  EXPECT_TRUE(IsEqualGUID(third.readerId, Id(0x103)));
  EXPECT_TRUE(IsEqualGUID(third.rendererId, Id(0x203)));
  EXPECT_EQ(wcslen(third.dllPath), 259u);
  EXPECT_EQ(third.reserved, 0xCDCDCDCDu);  // offset 4 is not touched
  const BYTE* raw = reinterpret_cast<const BYTE*>(&third);
  for (int i = 576; i < 592; ++i) EXPECT_EQ(raw[i], 0) << i;
  EXPECT_EQ(offsetof(KVFIO_PLUGININFO, pluginId), 8u);
  EXPECT_EQ(offsetof(KVFIO_PLUGININFO, readerId), 24u);
  EXPECT_EQ(offsetof(KVFIO_PLUGININFO, rendererId), 40u);
  EXPECT_EQ(offsetof(KVFIO_PLUGININFO, dllPath), 56u);

  // Skip past the end: position at the end, E_NOTIMPL.
  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(4), E_NOTIMPL);
  EXPECT_EQ(e->Next(1, infos, &fetched), S_FALSE);
  EXPECT_EQ(e->Skip(0), S_OK);
  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(3), S_OK);
  EXPECT_EQ(e->Next(1, infos, nullptr), S_FALSE);

  // A record whose cbSize is too small stops Next with its failure.
  e->Reset();
  infos[1].cbSize = 591;
  EXPECT_EQ(e->Next(3, infos, &fetched), E_FAIL);
  EXPECT_EQ(fetched, 1u);
  // Offers: a reader-only plug-in has a zero renderer id.
  EXPECT_TRUE(IsEqualGUID(infos[0].pluginId, Id(1)));
  EXPECT_TRUE(IsEqualGUID(infos[0].rendererId, GUID()));
  EXPECT_TRUE(IsEqualGUID(infos[0].readerId, Id(0x101)));

  IKvFIOPluginEnum* clone = reinterpret_cast<IKvFIOPluginEnum*>(1);
  EXPECT_EQ(e->Clone(&clone), E_UNEXPECTED);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(e->Reserved8(), E_UNEXPECTED);

  IUnknown* unk = nullptr;
  EXPECT_EQ(e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  unk->Release();
  EXPECT_EQ(e->QueryInterface(IID_IKvDizuVOTypeEnum, reinterpret_cast<void**>(&unk)), E_NOINTERFACE);
  EXPECT_EQ(e->Release(), 0u);
}

TEST(FioPluginEnum, GetPluginInfoExactThenPrefix) {
  RecordList list;
  list.Add(Id(7, 0x01), KVFIO_ACCESS_READER, 1, Id(0x101), GUID(), L"C:\\first.dll");
  list.Add(Id(7, 0x02), KVFIO_ACCESS_READER, 1, Id(0x102), GUID(), L"C:\\second.dll");
  CKvFIOPluginEnum* e = new CKvFIOPluginEnum();
  e->Attach(list.get(), nullptr);
  KVFIO_PLUGININFO info = {};
  info.cbSize = KVFIO_PLUGININFO_SIZE;
  GUID exact = Id(7, 0x02);
  ASSERT_EQ(e->GetPluginInfo(&exact, &info), S_OK);
  EXPECT_STREQ(info.dllPath, L"C:\\second.dll");
  // Same first 10 bytes, no exact match: the first such record.
  GUID prefix = Id(7, 0x55);
  ASSERT_EQ(e->GetPluginInfo(&prefix, &info), S_OK);
  EXPECT_STREQ(info.dllPath, L"C:\\first.dll");
  GUID other = Id(8);
  EXPECT_EQ(e->GetPluginInfo(&other, &info), E_FAIL);
  info.cbSize = 591;
  EXPECT_EQ(e->GetPluginInfo(&exact, &info), E_FAIL);
  EXPECT_EQ(e->GetPluginInfo(nullptr, &info), E_POINTER);
  e->Release();

  // Without a list nothing is found.
  CKvFIOPluginEnum* empty = new CKvFIOPluginEnum();
  info.cbSize = KVFIO_PLUGININFO_SIZE;
  EXPECT_EQ(empty->GetPluginInfo(&exact, &info), E_FAIL);
  EXPECT_EQ(empty->Next(1, &info, nullptr), S_FALSE);
  empty->Release();
}

// The records a reader enumerator keeps, and their order.
TEST(FioTypeEnum, FiltersAndPreferenceOrder) {
  const KvFioPreferenceSets& sets = KvFio_PreferenceSets(false);
  ASSERT_GE(sets.firstCount, 1);
  ASSERT_GE(sets.lastCount, 1);
  RecordList list;
  // Neither set: sorted by the bytes of the reader id as it lies in memory
  // (Data1 little-endian: 0x8000 before 0x9000 before 0x0007).
  list.Add(Id(0x10), KVFIO_ACCESS_READER, 1, Id(0x9000), GUID());              // 0
  list.Add(Id(0x11), KVFIO_ACCESS_READER, 1, Id(0x8000), GUID());              // 1
  list.Add(sets.last[0], KVFIO_ACCESS_READER, 1, Id(0x0001), GUID());          // 2: second set, last
  list.Add(Id(0x12), KVFIO_ACCESS_RENDERER, 1, Id(0x0002), Id(0x7000));        // 3: no reader
  list.Add(Id(0x13), KVFIO_ACCESS_READER, 1, Id(0x0003), GUID()).state =
      KVFIO_PLUGIN_UNUSABLE;                                                    // 4: unusable
  list.Add(Id(0x14), KVFIO_ACCESS_READER, 2, Id(0x0004), GUID());              // 5: other application level
  list.Add(sets.first[0], KVFIO_ACCESS_READER, 1, Id(0xFFFF), GUID());         // 6: first set, first
  GUID dup = Id(0x10, 0x42);                                                   // same 10 bytes as 0
  list.Add(dup, KVFIO_ACCESS_READER, 1, Id(0x0005), GUID());                   // 7: repeated id
  list.Add(Id(0x15, 0x01), KVFIO_ACCESS_READER, 1, Id(0x0006), GUID()).state =
      KVFIO_PLUGIN_UNUSABLE;                                                    // 8: unusable
  list.Add(Id(0x15, 0x02), KVFIO_ACCESS_READER, 1, Id(0x0007), GUID());        // 9: repeats only an unusable one

  CKvReaderEnum* e = new CKvReaderEnum();
  ASSERT_EQ(e->Build(nullptr, 0, nullptr, 0, 0x00000001, list.get()), S_OK);
  std::vector<int> order;
  for (ULONG i = 0; i < e->GetCount(); ++i)
    for (int k = 0; k < 10; ++k)
      if (e->RecordAt(int(i)) == list.At(k)) order.push_back(k);
  EXPECT_EQ(order, (std::vector<int>{6, 1, 0, 9, 2}));
  for (ULONG i = 0; i < e->GetCount(); ++i) EXPECT_EQ(e->RecordAt(int(i))->reader.index, int(i));
  // Load states: kept ones "not yet created", the others "not available".
  EXPECT_EQ(list.At(0)->reader.loadState, KVFIO_LOAD_NOT_CREATED);
  EXPECT_EQ(list.At(3)->reader.loadState, KVFIO_LOAD_NOT_AVAILABLE);
  EXPECT_EQ(list.At(5)->reader.loadState, KVFIO_LOAD_NOT_AVAILABLE);
  EXPECT_EQ(list.At(7)->reader.loadState, KVFIO_LOAD_NOT_AVAILABLE);

  // The repeated id is kept when exempt.
  list.At(7)->duplicateExempt = 1;
  ASSERT_EQ(e->Build(nullptr, 0, nullptr, 0, 0x00000001, list.get()), S_OK);
  EXPECT_EQ(e->GetCount(), 6u);
  // Application levels: the reader half of the mask.
  ASSERT_EQ(e->Build(nullptr, 0, nullptr, 0, 0x00010002, list.get()), S_OK);
  EXPECT_EQ(e->GetCount(), 1u);
  EXPECT_EQ(e->RecordAt(0), list.At(5));
  ASSERT_EQ(e->Build(nullptr, 0, nullptr, 0, 0xFFFF0000, list.get()), S_OK);
  EXPECT_EQ(e->GetCount(), 0u);

  // An id list keeps (flag bit 0) or leaves out the plug-ins it names (first 10 bytes).
  GUID ids[2] = {Id(0x11, 0x77), sets.first[0]};
  ASSERT_EQ(e->Build(nullptr, 1, ids, 2, 0x0000FFFF, list.get()), S_OK);
  ASSERT_EQ(e->GetCount(), 2u);
  EXPECT_EQ(e->RecordAt(0), list.At(6));
  EXPECT_EQ(e->RecordAt(1), list.At(1));
  ASSERT_EQ(e->Build(nullptr, 0, ids, 2, 0x0000FFFF, list.get()), S_OK);
  EXPECT_EQ(e->GetCount(), 5u);  // 0, 2, 5, 7, 9

  // A second-set plug-in comes after every plug-in in neither set.
  EXPECT_LT(KvFio_PreferenceRank(sets.last[0], false), KvFio_PreferenceRank(Id(0x10), false));
  EXPECT_GT(KvFio_PreferenceRank(sets.first[0], false), KvFio_PreferenceRank(Id(0x10), false));
  e->Release();

  // The renderer enumerator: only records offering a renderer, the high half of the mask.
  CKvRendererEnum* r = new CKvRendererEnum();
  ASSERT_EQ(r->Build(nullptr, 0, nullptr, 0, 0x00010000, list.get()), S_OK);
  ASSERT_EQ(r->GetCount(), 1u);
  EXPECT_EQ(r->RecordAt(0), list.At(3));
  GUID iid;
  r->GetClassIID(&iid);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IKvRenderFileClass));
  r->Release();
}

// Next creates class objects on demand, passes over those that cannot be
// had, and a rebuild keeps objects already created and tells them their new
// index.
TEST(FioTypeEnum, ClassObjectsOnDemand) {
  DllLoader loader;
  if (!loader.ok()) GTEST_SKIP() << "vogaac2.dll not loadable";
  RecordList list;
  list.Add(Id(0x30), KVFIO_ACCESS_READER | KVFIO_ACCESS_RENDERER, 1, Id(0x3), Id(0x3));
  list.Add(Id(0x31, 0xEE), KVFIO_ACCESS_READER, 1, Id(0x2), GUID());  // cannot be created
  list.Add(Id(0x32), KVFIO_ACCESS_READER, 1, Id(0x1), GUID());
  CKvReaderEnum* e = new CKvReaderEnum();
  ASSERT_EQ(e->Build(&loader, 0, nullptr, 0, 0xFFFFFFFF, list.get()), S_OK);
  ASSERT_EQ(e->GetCount(), 3u);
  // Order by reader id bytes: 0x32 (id 1), 0x31 (id 2), 0x30 (id 3).
  IUnknown* objects[4] = {};
  ULONG fetched = 0;
  // Two asked for: the second record cannot be created and is passed over.
  EXPECT_EQ(e->Next(2, objects, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(ClassIndex(objects[0]), 0u);
  EXPECT_EQ(ClassIndex(objects[1]), 2u);
  EXPECT_EQ(list.At(1)->reader.loadState, KVFIO_LOAD_NOT_AVAILABLE);
  EXPECT_EQ(e->Next(4, objects + 2, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(loader.calls, 3);

  // Fetching again: no new loads, the same objects.
  e->Reset();
  IUnknown* again[3] = {};
  EXPECT_EQ(e->Next(3, again, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(again[0], objects[0]);
  EXPECT_EQ(loader.calls, 3);

  // A rebuild that reorders: the created objects stay and learn their index.
  list.At(2)->reader.classId = Id(0x9);
  ASSERT_EQ(e->Build(&loader, 0, nullptr, 0, 0xFFFFFFFF, list.get()), S_OK);
  EXPECT_EQ(list.At(2)->reader.loadState, KVFIO_LOAD_CREATED);
  EXPECT_EQ(list.At(2)->reader.classObject, objects[0]);
  EXPECT_EQ(list.At(2)->reader.index, 2);
  EXPECT_EQ(ClassIndex(objects[0]), 2u);
  EXPECT_EQ(ClassIndex(objects[1]), 1u);
  // The plug-in that failed is tried again after a rebuild.
  EXPECT_EQ(list.At(1)->reader.loadState, KVFIO_LOAD_NOT_CREATED);

  for (IUnknown* o : objects)
    if (o) o->Release();
  for (IUnknown* o : again)
    if (o) o->Release();
  EXPECT_EQ(e->Skip(10), E_NOTIMPL);
  IKvDizuVOTypeEnum* clone = nullptr;
  EXPECT_EQ(e->Clone(&clone), E_NOTIMPL);
  EXPECT_EQ(e->Reserved7(), E_NOTIMPL);
  EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
  e->Release();
}

TEST(FioTypeEnum, CreateEnumerators) {
  RecordList list;
  list.Add(Id(0x40), KVFIO_ACCESS_READER | KVFIO_ACCESS_RENDERER, 3, Id(0x1), Id(0x2));
  list.Add(Id(0x41), KVFIO_ACCESS_READER, 1, Id(0x3), GUID());
  CKvFIOPluginEnum* p = nullptr;
  CKvReaderEnum* r = nullptr;
  CKvRendererEnum* w = nullptr;
  ASSERT_EQ(KvFio_CreateEnumerators(nullptr, list.get(), 0, nullptr, 0, 0xFFFFFFFF, &p, &r, &w), S_OK);
  EXPECT_EQ(r->GetCount(), 2u);
  EXPECT_EQ(w->GetCount(), 1u);
  KVFIO_PLUGININFO infos[2] = {};
  infos[0].cbSize = infos[1].cbSize = KVFIO_PLUGININFO_SIZE;
  ULONG fetched = 0;
  EXPECT_EQ(p->Next(2, infos, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  IKvDizuVOTypeEnum* asInterface = nullptr;
  ASSERT_EQ(r->QueryInterface(IID_IKvDizuVOTypeEnum, reinterpret_cast<void**>(&asInterface)), S_OK);
  EXPECT_EQ(asInterface->GetCount(), 2u);
  asInterface->Release();
  p->Release();
  r->Release();
  w->Release();
  EXPECT_EQ(KvFio_CreateEnumerators(nullptr, list.get(), 0, nullptr, 0, 0, nullptr, &r, &w), E_POINTER);
}

}  // namespace
