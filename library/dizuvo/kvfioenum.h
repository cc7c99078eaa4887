// The enumerators through which hosts see the registered plug-ins: plug-in
// info records (CKvFIOPluginEnum), and reader and renderer class objects in
// a fixed order of preference (CKvReaderEnum, CKvRendererEnum). The order of
// a type enumerator gives every reader (renderer) its index.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvfioplugin.h"

inline constexpr IID IID_IKvFIOPluginEnum = {0xe0399842, 0xaa55, 0x11d4, {0xb2, 0x6a, 0x00, 0xa0, 0xd2, 0x18, 0x83, 0x87}};
inline constexpr IID IID_IKvDizuVOTypeEnum = {0x39d2f264, 0x7655, 0x11d3, {0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}};

struct IKvFIOPluginEnum : public IUnknown {
  // Fills up to `count` consecutive info records (each with cbSize set by the
  // caller). A record's failure is returned; else S_OK when any was fetched,
  // S_FALSE when none.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, KVFIO_PLUGININFO* infos, ULONG* fetched) = 0;  // 3
  // Past the end: the position stays at the end and E_NOTIMPL is returned.
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;                                           // 4
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                                     // 5
  virtual HRESULT STDMETHODCALLTYPE Clone(IKvFIOPluginEnum** out) = 0;                               // 6: E_UNEXPECTED
  // The record with exactly that plug-in id, else the first that agrees in
  // its first 10 bytes; none, or a cbSize below 592: E_FAIL.
  virtual HRESULT STDMETHODCALLTYPE GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) = 0;       // 7
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;                                                 // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                                                 // 9
};

struct IKvDizuVOTypeEnum : public IUnknown {
  // Up to `count` class objects (AddRef'd), created on demand; records whose
  // class object cannot be had are passed over. S_OK when any was fetched,
  // else S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IUnknown** objects, ULONG* fetched) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;                                      // 4
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                                // 5
  virtual HRESULT STDMETHODCALLTYPE Clone(IKvDizuVOTypeEnum** out) = 0;                         // 6: E_NOTIMPL
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;                                            // 7: E_NOTIMPL
  // Number of records, 0 without a list.
  virtual ULONG STDMETHODCALLTYPE GetCount() = 0;                                               // 8
};

__CRT_UUID_DECL(IKvFIOPluginEnum, 0xe0399842, 0xaa55, 0x11d4, 0xb2, 0x6a, 0x00, 0xa0, 0xd2, 0x18, 0x83, 0x87)
__CRT_UUID_DECL(IKvDizuVOTypeEnum, 0x39d2f264, 0x7655, 0x11d3, 0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37)

class CKvFIOPluginEnum : public IKvFIOPluginEnum {
 public:
  CKvFIOPluginEnum() = default;
  virtual ~CKvFIOPluginEnum() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, KVFIO_PLUGININFO* infos, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IKvFIOPluginEnum** out) override;
  HRESULT STDMETHODCALLTYPE GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) override;
  HRESULT STDMETHODCALLTYPE Reserved8() override;
  HRESULT STDMETHODCALLTYPE Reserved9() override;

  // The plug-in record list (owned by the manager) and the manager.
  void Attach(tKVLIST* plugins, KvFioClassLoader* manager);

 private:
  int Count() const { return plugins_ ? plugins_->count : 0; }

  LONG refs_ = 1;
  tKVLIST* plugins_ = nullptr;
  KvFioClassLoader* manager_ = nullptr;
  int position_ = 0;
};

// The reader or renderer enumerator: its own list of the plug-in records that
// offer that kind, sorted by preference.
class CKvDizuVOTypeEnum : public IKvDizuVOTypeEnum {
 public:
  CKvDizuVOTypeEnum() = default;
  virtual ~CKvDizuVOTypeEnum();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IUnknown** objects, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IKvDizuVOTypeEnum** out) override;
  HRESULT STDMETHODCALLTYPE Reserved7() override;
  ULONG STDMETHODCALLTYPE GetCount() override;

  // The record's reader entry (reader enumerator) or renderer entry.
  virtual KvFioClassEntry* GetClassEntry(KvFioPluginRecord* record) = 0;
  // IID_IKvReadFileClass or IID_IKvRenderFileClass.
  virtual void GetClassIID(GUID* out) = 0;
  // Rebuilds the list from `plugins`: usable records that offer this kind,
  // kept (flags bit 0 set) or left out (clear) by the id list when one is
  // given, whose application level shares a bit with this kind's half of
  // `kindMask`, without repeated plug-in ids; sorted by preference and
  // numbered 0, 1, 2 ... (the reader or renderer index).
  HRESULT Build(KvFioClassLoader* manager, DWORD flags, const GUID* ids, int idCount, DWORD kindMask,
                tKVLIST* plugins);

  // The record at a position of the enumerator's order.
  KvFioPluginRecord* RecordAt(int index) const;

 protected:
  virtual bool IsRenderer() const = 0;

 private:
  int Count() const { return list_ ? list_->count : 0; }

  LONG refs_ = 1;
  tKVLIST* list_ = nullptr;
  KvFioClassLoader* manager_ = nullptr;
  int position_ = 0;
};

class CKvReaderEnum : public CKvDizuVOTypeEnum {
 public:
  KvFioClassEntry* GetClassEntry(KvFioPluginRecord* record) override;
  void GetClassIID(GUID* out) override;

 protected:
  bool IsRenderer() const override { return false; }
};

class CKvRendererEnum : public CKvDizuVOTypeEnum {
 public:
  KvFioClassEntry* GetClassEntry(KvFioPluginRecord* record) override;
  void GetClassIID(GUID* out) override;

 protected:
  bool IsRenderer() const override { return true; }
};

// Preference sets of plug-in ids: an id of the first set ranks the set's
// size minus its position, one of the second set minus one minus its
// position, any other 0; higher ranks come first.
struct KvFioPreferenceSets {
  const GUID* first;
  int firstCount;
  const GUID* last;
  int lastCount;
};
const KvFioPreferenceSets& KvFio_PreferenceSets(bool renderer);
int KvFio_PreferenceRank(const GUID& pluginId, bool renderer);

// The manager's three enumerators over `plugins`, each built for `manager`.
// On failure nothing is returned and what was made is released.
HRESULT KvFio_CreateEnumerators(KvFioClassLoader* manager, tKVLIST* plugins, DWORD flags, const GUID* ids,
                                int idCount, DWORD kindMask, CKvFIOPluginEnum** pluginEnum,
                                CKvReaderEnum** readerEnum, CKvRendererEnum** rendererEnum);
