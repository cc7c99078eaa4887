// The file-dialog filter builder. Texts are built lazily and kept until an
// add, delete or sort marks them for rebuilding; buffers are reused when
// large enough.
#include "kvfiofilter.h"

#include <new>

#include "kvcomobject.h"
#include "kverror.h"
#include "kvfiolist.h"
#include "kvfiomanager.h"
#include "kvfioplugin.h"

namespace {

constexpr DWORD kTextDirty = 0x01;
constexpr DWORD kExtDirty = 0x02;
constexpr DWORD kLastCapped = 0x04;
constexpr DWORD kInvert = 0x08;
constexpr DWORD kPatternLayout = 0x10;
// A token of a pattern text holds at most this many characters; longer
// tokens are skipped.
constexpr int kMaxToken = 259;
constexpr DWORD kCapChars = 260;

struct KVFIO_FILTER_ENTRY {
  DWORD value;
  wchar_t* patterns;
  wchar_t* description;
  DWORD patternCount;
  DWORD flags;
  GUID classId;
  GUID pluginId;
};

int Len(const wchar_t* s) { return s ? lstrlenW(s) : 0; }

wchar_t* Copy(const wchar_t* s) {
  if (!s) return nullptr;
  int n = lstrlenW(s);
  wchar_t* p = new (std::nothrow) wchar_t[n + 1];
  if (p) memcpy(p, s, (n + 1) * sizeof(wchar_t));
  return p;
}

bool InIdList(const GUID* ids, int count, const GUID& a) {
  for (int i = 0; i < count; ++i)
    if (KvFio_SameIdPrefix(ids[i], a)) return true;
  return false;
}

bool EntryMatches(const KVFIO_FILTER_ENTRY* e, const GUID* ids, int count) {
  return InIdList(ids, count, e->classId) || InIdList(ids, count, e->pluginId);
}

// Entries pass a null list or an empty one; otherwise the list mode decides.
bool EntryPasses(const KVFIO_FILTER_ENTRY* e, const GUID* ids, int count, DWORD flags) {
  if (!ids || count <= 0) return true;
  bool m = EntryMatches(e, ids, count);
  return (flags & KVFIO_FILTER_LISTMODE_ONLY) ? m : !m;
}

bool Visible(const KVFIO_FILTER_ENTRY* e) { return !(e->flags & (KVFIO_FILTER_HIDDEN | KVFIO_FILTER_MARKED)); }

// One entry's description and patterns make a dialog pair.
bool HasPair(const KVFIO_FILTER_ENTRY* e) { return e->description && e->patterns && e->patterns[0]; }

using kvfiolist::CountTokens;
using kvfiolist::TokenAt;

bool Contains(const wchar_t* a, int n, const wchar_t* what) {
  int w = lstrlenW(what);
  for (int i = 0; i + w <= n; ++i)
    if (memcmp(a + i, what, w * sizeof(wchar_t)) == 0) return true;
  return false;
}

// The token is already a whole item of the list.
bool InList(const wchar_t* list, int listLen, const wchar_t* a, int n) {
  for (int i = 0; i + n <= listLen; ++i) {
    if ((i == 0 || list[i - 1] == L';') && (i + n == listLen || list[i + n] == L';') &&
        memcmp(list + i, a, n * sizeof(wchar_t)) == 0)
      return true;
  }
  return false;
}

// The unique pattern list, breadth-first: the first token of every entry
// comes before the second token of any entry. Tokens holding "*.*" or "?"
// are left out. The list stops before the token that would exceed `cap`
// characters (its NUL counted). Returns the list's length without the NUL.
int BuildUnique(KVFIO_FILTER_ENTRY** es, int n, wchar_t* out, DWORD cap) {
  DWORD rounds = 0;
  for (int i = 0; i < n; ++i) {
    es[i]->patternCount = CountTokens(es[i]->patterns);
    if (es[i]->patternCount > rounds) rounds = es[i]->patternCount;
  }
  int len = 0;
  DWORD total = 0;
  if (cap) out[0] = 0;
  for (DWORD r = 0; r < rounds; ++r) {
    for (int i = 0; i < n; ++i) {
      const wchar_t* a;
      int k;
      if (!TokenAt(es[i]->patterns, r, &a, &k)) continue;
      if (k > kMaxToken || Contains(a, k, L"*.*") || Contains(a, k, L"?") || InList(out, len, a, k)) continue;
      if (total + k + 1 > cap) return len;
      total += k + 1;
      if (len) out[len++] = L';';
      memcpy(out + len, a, k * sizeof(wchar_t));
      len += k;
      out[len] = 0;
    }
  }
  return len;
}

// Pair layout: bytes needed (final NUL included) and the fill.
DWORD PairBytes(const KVFIO_FILTER_ENTRY* e) {
  DWORD d = Len(e->description), p = Len(e->patterns);
  return (e->flags & KVFIO_FILTER_NO_PATTERNS) ? 2 * (d + p + 2) : 2 * (d + 2 * p + 5);
}

wchar_t* PutPair(wchar_t* w, const KVFIO_FILTER_ENTRY* e) {
  int d = Len(e->description), p = Len(e->patterns);
  memcpy(w, e->description, d * sizeof(wchar_t));
  w += d;
  if (!(e->flags & KVFIO_FILTER_NO_PATTERNS)) {
    *w++ = L' ';
    *w++ = L'(';
    memcpy(w, e->patterns, p * sizeof(wchar_t));
    w += p;
    *w++ = L')';
  }
  *w++ = 0;
  memcpy(w, e->patterns, p * sizeof(wchar_t));
  w += p;
  *w++ = 0;
  return w;
}

int KVAPI CompareEntries(DWORD descending, const void* a, const void* b) {
  const wchar_t* x = static_cast<const KVFIO_FILTER_ENTRY*>(a)->description;
  const wchar_t* y = static_cast<const KVFIO_FILTER_ENTRY*>(b)->description;
  int r = lstrcmpiW(x ? x : L"", y ? y : L"");
  return descending ? -r : r;
}

class CKvFioFilterBuilder : public IKvFioFilterBuilder2 {
 public:
  CKvFioFilterBuilder(IUnknown* outer, tKVLIST* plugins) : outer_(outer), plugins_(plugins) {
    if (outer_) outer_->AddRef();
  }
  virtual ~CKvFioFilterBuilder() {
    FreeEntries();
    delete[] text_;
    delete[] ext_;
    delete[] map_;
    if (outer_) outer_->Release();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    IKvFioFilterBuilder2* self = this;
    HRESULT hr = kvcom::QueryFaces(this, riid, out, {{IID_IUnknown, self}, {IID_IKvFioFilterBuilder2, self}});
    // Every other interface is the outer object's (the manager's).
    if (hr == E_NOINTERFACE && outer_) return outer_->QueryInterface(riid, out);
    return hr;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs_ <= 0) return 0;
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  HRESULT STDMETHODCALLTYPE AddPluginTypes(const GUID* ids, int count, DWORD kind, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE SetTypeFilter(BOOL useValue, DWORD v) override {
    if (!useValue) {
      mask_ = v;
      value_ = 0;
      state_ = v ? (state_ | kInvert) : (state_ & ~kInvert);
    } else {
      mask_ = 0xFFFFFFFFu;
      value_ = v;
      state_ &= ~kInvert;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTypeMask(DWORD mask, DWORD value, DWORD invert) override {
    mask_ = mask;
    value_ = value;
    state_ = (invert & 1) ? (state_ | kInvert) : (state_ & ~kInvert);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRequiredKind(DWORD kind) override {
    requiredKind_ = kind;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBuildOption(DWORD on) override {
    DWORD stored = (state_ & kPatternLayout) ? 1 : 0;
    if (on != stored) state_ |= kTextDirty;
    state_ = (on & 1) ? (state_ | kPatternLayout) : (state_ & ~kPatternLayout);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddEntry(const wchar_t* patterns, const wchar_t* description, DWORD value, int index,
                                     DWORD flags, const GUID* classId) override {
    return Add(patterns, description, value, index, flags, classId, nullptr);
  }
  HRESULT STDMETHODCALLTYPE AddEntryFromParts(const wchar_t* description, DWORD value, int index, DWORD flags,
                                              const GUID* classId) override {
    return AddEntryFromPartsEx(description, value, index, flags, classId, nullptr, 0);
  }
  HRESULT STDMETHODCALLTYPE AddEntryFromPartsEx(const wchar_t* description, DWORD value, int index, DWORD flags,
                                                const GUID* classId, const GUID* ids, int count) override;
  HRESULT STDMETHODCALLTYPE Sort(BOOL descending) override {
    if (!list_) return S_OK;
    HRESULT hr = KvList_Sort(list_, descending ? 1 : 0, CompareEntries);
    state_ |= kTextDirty | kExtDirty;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetFilterText(wchar_t* buf, DWORD* size, DWORD* values, int* count) override {
    return GetFilterTextEx(buf, size, values, count, nullptr, 0, 0);
  }
  HRESULT STDMETHODCALLTYPE GetFilterTextEx(wchar_t* buf, DWORD* size, DWORD* values, int* count, const GUID* ids,
                                            int idCount, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clear() override {
    FreeEntries();
    state_ |= kTextDirty;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEntryCount(int* out) override {
    if (!out) return E_POINTER;
    *out = 0;
    if (!list_) return E_FAIL;
    *out = list_->count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEntry(KVFIO_FILTER_ENTRY_INFO* info, int index) override {
    if (!info) return E_POINTER;
    KVFIO_FILTER_ENTRY* e = At(index);
    if (!e) return E_FAIL;
    memset(info, 0, sizeof(*info));
    info->classId = e->classId;
    if (e->description) lstrcpynW(info->description, e->description, 260);
    if (e->patterns) lstrcpynW(info->patterns, e->patterns, 260);
    info->value = e->value;
    info->flags = e->flags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetEntryHidden(int index, BOOL hide) override {
    KVFIO_FILTER_ENTRY* e = At(index);
    if (!e) return E_INVALIDARG;
    e->flags = hide ? (e->flags | KVFIO_FILTER_HIDDEN) : (e->flags & ~KVFIO_FILTER_HIDDEN);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindEntry(int* index, const GUID* classId) override {
    if (!index || !classId) return E_INVALIDARG;
    for (int i = 0; list_ && i < list_->count; ++i) {
      KVFIO_FILTER_ENTRY* e = At(i);
      if (e && KvFio_SameIdPrefix(e->classId, *classId)) {
        *index = i;
        return S_OK;
      }
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE RemoveEntries(const GUID* ids, int count, DWORD unused, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE BuildFilterText(const GUID* ids, int count, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE BuildExtensionList(const GUID* ids, int count, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE GetLengths(DWORD* textLength, DWORD* extLength, DWORD* mapCount) override {
    if (textLength) *textLength = textLen_;
    if (extLength) *extLength = extLen_;
    if (mapCount) *mapCount = mapCount_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFilterString(wchar_t* buf, int cch) override {
    if (!buf || cch < 2) return E_INVALIDARG;
    if (!text_ || !textLen_) {
      buf[0] = 0;
      return S_OK;
    }
    DWORD n = textLen_ < static_cast<DWORD>(cch) ? textLen_ : static_cast<DWORD>(cch);
    memcpy(buf, text_, n * sizeof(wchar_t));
    if (textLen_ > static_cast<DWORD>(cch)) {
      buf[cch - 1] = 0;
      return KV_E_BUFFERTOOSMALL;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIndexMap(DWORD* out, int count) override {
    if (!out || count < 1) return E_INVALIDARG;
    for (int i = 0; i < count; ++i)
      out[i] = !map_ ? 0 : (static_cast<DWORD>(i) < mapCount_ ? map_[i] : 0xFFFFFFFFu);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtensionList(wchar_t* buf, int cch, wchar_t separator) override {
    if (!buf || cch < 2) return E_INVALIDARG;
    if (!ext_ || !extLen_) {
      buf[0] = 0;
      return S_OK;
    }
    int n = static_cast<int>(extLen_) < cch ? static_cast<int>(extLen_) : cch;
    memcpy(buf, ext_, n * sizeof(wchar_t));
    if (static_cast<int>(extLen_) > cch) {
      int cut = 0;
      for (int i = cch - 2; i >= 0; --i)
        if (buf[i] == L';') {
          cut = i;
          break;
        }
      buf[cut] = 0;
      buf[cut + 1] = 0;
      n = cut;
    }
    buf[cch - 1] = 0;
    if (separator != L';')
      for (int i = 0; i < n && buf[i]; ++i)
        if (buf[i] == L';') buf[i] = separator;
    return S_OK;
  }
  const wchar_t* STDMETHODCALLTYPE GetFilterTextBuffer() override { return text_; }
  DWORD STDMETHODCALLTYPE GetFilterTextLength() override { return textLen_; }
  const wchar_t* STDMETHODCALLTYPE GetExtensionListBuffer() override { return ext_; }
  DWORD STDMETHODCALLTYPE GetExtensionListLength() override { return extLen_; }
  const DWORD* STDMETHODCALLTYPE GetIndexMapBuffer() override { return map_; }
  DWORD STDMETHODCALLTYPE GetIndexMapCount() override { return mapCount_; }

 private:
  KVFIO_FILTER_ENTRY* At(int i) const {
    if (!list_ || i < 0 || i >= list_->count) return nullptr;
    return reinterpret_cast<KVFIO_FILTER_ENTRY**>(list_->items)[i];
  }
  int Count() const { return list_ ? list_->count : 0; }
  void FreeTexts(KVFIO_FILTER_ENTRY* e) {
    delete[] e->patterns;
    delete[] e->description;
    e->patterns = e->description = nullptr;
  }
  void FreeEntries() {
    if (!list_) return;
    for (int i = 0; i < list_->count; ++i)
      if (KVFIO_FILTER_ENTRY* e = At(i)) FreeTexts(e);
    KvList_Destroy(list_);
    list_ = nullptr;
  }
  void ClearMarks() {
    for (int i = 0; i < Count(); ++i)
      if (KVFIO_FILTER_ENTRY* e = At(i)) e->flags &= ~KVFIO_FILTER_MARKED;
  }
  HRESULT Add(const wchar_t* patterns, const wchar_t* description, DWORD value, int index, DWORD flags,
              const GUID* classId, const GUID* pluginId);
  // Allocates `bytes` zero-filled into `*buf` unless `*size` already holds it.
  static HRESULT Reserve(wchar_t** buf, DWORD* size, DWORD bytes) {
    if (*buf && *size >= bytes) {
      memset(*buf, 0, *size);
      return S_OK;
    }
    delete[] *buf;
    *buf = nullptr;
    *size = 0;
    wchar_t* p = new (std::nothrow) wchar_t[bytes / 2 + 1]();
    if (!p) return E_OUTOFMEMORY;
    *buf = p;
    *size = bytes;
    return S_OK;
  }
  HRESULT BuildMap();

  IUnknown* outer_;
  LONG refs_ = 0;
  tKVLIST* list_ = nullptr;
  tKVLIST* plugins_;
  DWORD state_ = 0;
  int textListCount_ = 0;
  wchar_t* text_ = nullptr;
  DWORD textSize_ = 0;
  DWORD textLen_ = 0;
  int extListCount_ = 0;
  wchar_t* ext_ = nullptr;
  DWORD extSize_ = 0;
  DWORD extLen_ = 0;
  DWORD* map_ = nullptr;
  DWORD mapCount_ = 0;
  DWORD mapSize_ = 0;
  DWORD mask_ = 0;
  DWORD value_ = 0;
  DWORD requiredKind_ = 0;
};

HRESULT CKvFioFilterBuilder::Add(const wchar_t* patterns, const wchar_t* description, DWORD value, int index,
                                 DWORD flags, const GUID* classId, const GUID* pluginId) {
  if (!list_) {
    int initial = (plugins_ ? plugins_->count : 0) + 5;
    if (FAILED(KvList_CreateExZ(&list_, 0, initial, 52, KVLIST_ALLOCATED_ITEMS, 0, 0, 0)) || !list_) {
      list_ = nullptr;
      return E_OUTOFMEMORY;
    }
  }
  KVFIO_FILTER_ENTRY e = {};
  e.value = value;
  e.flags = flags;
  if (classId) e.classId = *classId;
  if (pluginId) e.pluginId = *pluginId;
  e.patterns = Copy(patterns);
  e.description = Copy(description);
  if ((patterns && !e.patterns) || (description && !e.description)) {
    FreeTexts(&e);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = KvList_AllocAndInsertItem(list_, &e, sizeof(e), index, nullptr);
  if (FAILED(hr)) {
    FreeTexts(&e);
    return hr;
  }
  state_ |= kTextDirty | kExtDirty;
  return hr;
}

HRESULT CKvFioFilterBuilder::AddPluginTypes(const GUID* ids, int count, DWORD kind, DWORD flags) {
  if (kind != KVFIO_ACCESS_READER && kind != KVFIO_ACCESS_RENDERER) return S_OK;
  HRESULT hr = S_OK;
  for (int i = 0; plugins_ && i < plugins_->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(plugins_, i);
    if (!r) continue;
    const KvFioClassEntry& c = kind == KVFIO_ACCESS_READER ? r->reader : r->renderer;
    if (c.loadState == KVFIO_LOAD_NOT_AVAILABLE || !c.extensions || !c.extensions[0]) continue;
    if (ids) {
      bool m = InIdList(ids, count, r->pluginId);
      if ((flags & KVFIO_FILTER_LISTMODE_ONLY) ? !m : m) continue;
    }
    bool typeOk = (r->streamType & mask_) == value_;
    if (state_ & kInvert) typeOk = !typeOk;
    if (!typeOk) continue;
    if (requiredKind_ == KVFIO_ACCESS_READER || requiredKind_ == KVFIO_ACCESS_RENDERER) {
      const KvFioClassEntry& o = requiredKind_ == KVFIO_ACCESS_READER ? r->reader : r->renderer;
      if (IsEqualGUID(o.classId, GUID_NULL) || o.loadState == KVFIO_LOAD_NOT_AVAILABLE) continue;
    }
    hr = Add(c.extensions, r->dialogName, static_cast<DWORD>(c.index), -1, flags, &c.classId, &r->pluginId);
    if (FAILED(hr)) return hr;
  }
  return hr;
}

HRESULT CKvFioFilterBuilder::AddEntryFromPartsEx(const wchar_t* description, DWORD value, int index, DWORD flags,
                                                 const GUID* classId, const GUID* ids, int count) {
  KVFIO_FILTER_ENTRY** sel = new (std::nothrow) KVFIO_FILTER_ENTRY*[Count() + 1];
  if (!sel) return E_OUTOFMEMORY;
  int n = 0;
  DWORD bytes = 4;
  for (int i = 0; i < Count(); ++i) {
    KVFIO_FILTER_ENTRY* e = At(i);
    if (e && e->patterns && EntryPasses(e, ids, count, flags)) {
      sel[n++] = e;
      bytes += 2 * (Len(e->patterns) + 1);
    }
  }
  DWORD cap = bytes / 2;
  if ((flags & KVFIO_FILTER_CAP_260) && cap > kCapChars) cap = kCapChars;
  wchar_t* buf = new (std::nothrow) wchar_t[bytes / 2]();
  if (!buf) {
    delete[] sel;
    return E_OUTOFMEMORY;
  }
  BuildUnique(sel, n, buf, cap);
  delete[] sel;
  HRESULT hr = AddEntry(buf, description, value, index, flags, classId);
  delete[] buf;
  return hr;
}

HRESULT CKvFioFilterBuilder::RemoveEntries(const GUID* ids, int count, DWORD, DWORD flags) {
  if (flags & KVFIO_FILTER_MARK) {
    for (int i = 0; i < Count(); ++i) {
      KVFIO_FILTER_ENTRY* e = At(i);
      if (!e) continue;
      if (count <= 0 || !ids) {
        e->flags &= ~KVFIO_FILTER_MARKED;
        continue;
      }
      bool m = EntryMatches(e, ids, count);
      if (flags & KVFIO_FILTER_LISTMODE_ONLY)
        e->flags = m ? (e->flags & ~KVFIO_FILTER_MARKED) : (e->flags | KVFIO_FILTER_MARKED);
      else if (m)
        e->flags |= KVFIO_FILTER_MARKED;
    }
    return S_OK;
  }
  if (!list_ || count <= 0 || !ids) return S_FALSE;
  for (int i = list_->count - 1; i >= 0; --i) {
    KVFIO_FILTER_ENTRY* e = At(i);
    if (!e) continue;
    bool m = EntryMatches(e, ids, count);
    if ((flags & KVFIO_FILTER_LISTMODE_ONLY) ? !m : m) {
      FreeTexts(e);
      KvList_DeleteList(list_, i, 1, FALSE);
      state_ |= kTextDirty | kExtDirty;
    }
  }
  return S_FALSE;
}

// The index map lists the value of every entry that puts a pair into the
// built text, in text order: a dialog's 1-based filter index i selects map
// entry i - 1.
HRESULT CKvFioFilterBuilder::BuildMap() {
  mapCount_ = 0;
  int n = Count();
  if (!n) return S_OK;
  if (!map_ || mapSize_ < 4u * n) {
    delete[] map_;
    mapSize_ = 0;
    map_ = new (std::nothrow) DWORD[n]();
    if (!map_) return E_OUTOFMEMORY;
    mapSize_ = 4u * n;
  }
  for (int i = 0; i < n; ++i) {
    KVFIO_FILTER_ENTRY* e = At(i);
    if (e && Visible(e) && HasPair(e)) map_[mapCount_++] = e->value;
  }
  return S_OK;
}

HRESULT CKvFioFilterBuilder::BuildFilterText(const GUID* ids, int count, DWORD flags) {
  if (!list_) return E_FAIL;
  if (ids && count) RemoveEntries(ids, count, 0, flags | KVFIO_FILTER_MARK);
  int listCount = ids ? count : 0;
  if (listCount != textListCount_) state_ |= kTextDirty;
  HRESULT hr = S_OK;
  if (state_ & kTextDirty) {
    hr = BuildMap();
    if (SUCCEEDED(hr)) {
      DWORD bytes = 2;
      for (int i = 0; i < Count(); ++i) {
        KVFIO_FILTER_ENTRY* e = At(i);
        if (e && Visible(e) && HasPair(e)) bytes += PairBytes(e);
      }
      hr = Reserve(&text_, &textSize_, bytes);
      if (SUCCEEDED(hr)) {
        wchar_t* w = text_;
        for (int i = 0; i < Count(); ++i) {
          KVFIO_FILTER_ENTRY* e = At(i);
          if (e && Visible(e) && HasPair(e)) w = PutPair(w, e);
        }
        *w++ = 0;
        textLen_ = static_cast<DWORD>(w - text_);
        state_ &= ~kTextDirty;
        textListCount_ = listCount;
      } else {
        textLen_ = 0;
      }
    }
  }
  ClearMarks();
  return hr;
}

HRESULT CKvFioFilterBuilder::GetFilterTextEx(wchar_t* buf, DWORD* size, DWORD* values, int* count, const GUID* ids,
                                             int idCount, DWORD flags) {
  DWORD inSize = size ? *size : 0;
  int inCount = count ? *count : 0;
  if (size) *size = 0;
  if (count) *count = 0;
  if (buf) buf[0] = 0;
  if (!list_) return E_FAIL;
  int listCount = ids ? idCount : 0;
  if (listCount != textListCount_ || ((flags & KVFIO_FILTER_CAP_260) != 0) != ((state_ & kLastCapped) != 0))
    state_ |= kTextDirty;
  const bool pairs = !(state_ & kPatternLayout);
  HRESULT hr = S_OK;
  if (state_ & kTextDirty) {
    delete[] text_;
    text_ = nullptr;
    textSize_ = textLen_ = 0;
    if (pairs) {
      DWORD bytes = 2;
      int contributing = 0;
      for (int i = 0; i < Count(); ++i) {
        KVFIO_FILTER_ENTRY* e = At(i);
        if (e && EntryPasses(e, ids, idCount, flags) && HasPair(e)) {
          bytes += PairBytes(e);
          ++contributing;
        }
      }
      if (contributing) {
        hr = Reserve(&text_, &textSize_, bytes + 2);
        if (SUCCEEDED(hr)) {
          wchar_t* w = text_;
          for (int i = 0; i < Count(); ++i) {
            KVFIO_FILTER_ENTRY* e = At(i);
            if (e && EntryPasses(e, ids, idCount, flags) && HasPair(e)) w = PutPair(w, e);
          }
          *w++ = 0;
          textLen_ = static_cast<DWORD>(w - text_);
        }
      }
    } else {
      KVFIO_FILTER_ENTRY** sel = new (std::nothrow) KVFIO_FILTER_ENTRY*[Count() + 1];
      if (!sel) {
        hr = E_OUTOFMEMORY;
      } else {
        int n = 0;
        DWORD bytes = 4;
        for (int i = 0; i < Count(); ++i) {
          KVFIO_FILTER_ENTRY* e = At(i);
          if (e && e->patterns && e->patterns[0] && EntryPasses(e, ids, idCount, flags)) {
            sel[n++] = e;
            bytes += 2 * (Len(e->patterns) + 1);
          }
        }
        if (n) {
          DWORD cap = bytes / 2;
          if ((flags & KVFIO_FILTER_CAP_260) && cap > kCapChars) cap = kCapChars;
          hr = Reserve(&text_, &textSize_, bytes + 2);
          if (SUCCEEDED(hr)) {
            int len = BuildUnique(sel, n, text_, cap);
            for (int i = 0; i < len; ++i)
              if (text_[i] == L';') text_[i] = 0;
            textLen_ = static_cast<DWORD>(len + 1);
          }
        }
        delete[] sel;
      }
    }
    state_ = (flags & KVFIO_FILTER_CAP_260) ? (state_ | kLastCapped) : (state_ & ~kLastCapped);
    state_ &= ~kTextDirty;
    textListCount_ = listCount;
    if (FAILED(hr)) return hr;
  }
  if (size) *size = textSize_;
  if (buf && textSize_) {
    if (textSize_ > inSize) return E_FAIL;
    memcpy(buf, text_, textSize_);
  }
  // The values of the entries, in the order of their pairs in the text.
  int passing = 0;
  for (int i = 0; i < Count(); ++i) {
    KVFIO_FILTER_ENTRY* e = At(i);
    if (e && EntryPasses(e, ids, idCount, flags) && (!pairs || HasPair(e))) ++passing;
  }
  if (count) *count = passing;
  if (values && passing <= inCount) {
    int k = 0;
    for (int i = 0; i < Count(); ++i) {
      KVFIO_FILTER_ENTRY* e = At(i);
      if (e && EntryPasses(e, ids, idCount, flags) && (!pairs || HasPair(e))) values[k++] = e->value;
    }
  }
  return S_OK;
}

HRESULT CKvFioFilterBuilder::BuildExtensionList(const GUID* ids, int count, DWORD flags) {
  if (!list_) return E_FAIL;
  if (ids && count) RemoveEntries(ids, count, 0, flags | KVFIO_FILTER_MARK);
  int listCount = ids ? count : 0;
  if (listCount != extListCount_ || ((flags & KVFIO_FILTER_CAP_260) != 0) != ((state_ & kLastCapped) != 0))
    state_ |= kExtDirty;
  HRESULT hr = S_OK;
  if (state_ & kExtDirty) {
    int n = 0;
    DWORD bytes = 6;
    KVFIO_FILTER_ENTRY** sel = new (std::nothrow) KVFIO_FILTER_ENTRY*[Count() + 1];
    if (!sel) {
      ClearMarks();
      return E_OUTOFMEMORY;
    }
    for (int i = 0; i < Count(); ++i) {
      KVFIO_FILTER_ENTRY* e = At(i);
      if (e && Visible(e) && e->patterns) {
        sel[n++] = e;
        bytes += 2 * (Len(e->patterns) + 1);
      }
    }
    hr = Reserve(&ext_, &extSize_, bytes);
    if (FAILED(hr)) {
      extLen_ = 0;
      delete[] sel;
      ClearMarks();
      return hr;
    }
    DWORD cap = bytes / 2;
    if ((flags & KVFIO_FILTER_CAP_260) && cap > kCapChars) cap = kCapChars;
    int len = BuildUnique(sel, n, ext_, cap);
    delete[] sel;
    extLen_ = len ? static_cast<DWORD>(len + 1) : 0;
    state_ = (flags & KVFIO_FILTER_CAP_260) ? (state_ | kLastCapped) : (state_ & ~kLastCapped);
    state_ &= ~kExtDirty;
    extListCount_ = listCount;
  }
  ClearMarks();
  return hr;
}

int KVAPI CompareText(DWORD, const void* a, const void* b) {
  return lstrcmpiW(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
}

}  // namespace

HRESULT KvFio_CreateFilterBuilder(IUnknown* outer, tKVLIST* plugins, IKvFioFilterBuilder2** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CKvFioFilterBuilder* b = new (std::nothrow) CKvFioFilterBuilder(outer, plugins);
  if (!b) return E_OUTOFMEMORY;
  b->AddRef();
  *out = b;
  return S_OK;
}

HRESULT KVAPI KvFio_BuildUniqueExtensionList(tKVLIST* out, IKvFioFilterBuilder2* builder, const GUID* ids, int count,
                                             DWORD flags) {
  if (!out || !builder) return E_INVALIDARG;
  int n = 0;
  HRESULT hr = builder->GetEntryCount(&n);
  if (FAILED(hr)) return hr;
  if (count) builder->RemoveEntries(ids, count, 16, flags | KVFIO_FILTER_MARK);
  KVFIO_FILTER_ENTRY_INFO* info = new (std::nothrow) KVFIO_FILTER_ENTRY_INFO;
  if (!info) return E_OUTOFMEMORY;
  for (int i = 0; i < n; ++i) {
    hr = builder->GetEntry(info, i);
    if (FAILED(hr)) break;
    if (!info->patterns[0] || (info->flags & (KVFIO_FILTER_HIDDEN | KVFIO_FILTER_MARKED))) continue;
    kvfiolist::Tokens t(info->patterns, kvfiolist::kKeepBlanks);
    const wchar_t* a;
    int k;
    while (t.Next(&a, &k)) {
      // A token whose extension does not fit the item is skipped.
      wchar_t item[261];
      if (!kvfiolist::PatternExtension(a, k, item, 261)) continue;
      k = lstrlenW(item);
      if (KvList_FindSortedItemRange(out, item, 0, out->count, CompareText) >= 0) continue;
      int at = KvList_FindSortedInsertIndexRange(out, item, 0, out->count, CompareText);
      hr = KvList_AllocAndInsertItem(out, item, (k + 1) * sizeof(wchar_t), at, nullptr);
      if (FAILED(hr)) break;
    }
    if (FAILED(hr)) break;
  }
  delete info;
  if (FAILED(hr)) return hr;
  if (count) builder->RemoveEntries(nullptr, 0, 16, KVFIO_FILTER_MARK);
  return hr;
}

HRESULT KVAPI KvFio_BuildUniqueExtensionList(IKvDizuVOMgrForApp* manager, tKVLIST* out, DWORD kind, DWORD word,
                                             const GUID* ids, int count, DWORD flags) {
  if (!manager) return E_INVALIDARG;
  DWORD mask, value;
  if (flags & 0x400) {
    mask = 0x0FFFFFFF;
    value = word;
    flags &= ~(0x400u | 0x800u);
  } else {
    mask = word;
    value = 0;
    if (word) flags |= 0x800;
  }
  IUnknown* unk = nullptr;
  HRESULT hr = manager->CreateFilterBuilderEx(&unk, kind, mask, value, flags);
  if (FAILED(hr)) return hr;
  if (!unk) return S_OK;
  IKvFioFilterBuilder2* b = static_cast<IKvFioFilterBuilder2*>(unk);
  if (count) b->RemoveEntries(ids, count, kind, flags | KVFIO_FILTER_MARK);
  hr = KvFio_BuildUniqueExtensionList(out, b, nullptr, 0, flags & ~0x800u);
  b->Release();
  return hr;
}

HRESULT KVAPI KvList_InsertItem(tKVLIST* list, int index, DWORD_PTR item) {
  return KvList_InsertList(list, index, &item, 1);
}
