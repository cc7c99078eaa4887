// The plug-in manager object and its choice of readers.
#include "kvfiomanager.h"
#include "kvfiofilter.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "kvcomobject.h"
#include "kverror.h"
#include "kvfiodiscovery.h"
#include "kvfiolist.h"
#include "kvfileid.h"
#include "kvblanket.h"
#include "kvsurrogate.h"
#include "kvprofile.h"
#include "kvbyteorder.h"
#include "kvstr.h"
#include "kvtemplate_io.h"
#include "kvwave64.h"

namespace {

struct FormatRow {
  DWORD formatId;
  GUID reader;
};

// Readers to try for a quickly identified format, in the order they are
// tried. Rows of one format stand together; a search ends at the first row
// after its run. The rows name the readers this library knows by id.
const FormatRow kReaderTable[] = {
    {0x2, {0x0a30c422, 0xb91b, 0x11d3, {0xa4, 0x84, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}}},
    {0x100C, {0x0630addf, 0x740a, 0x4373, {0x83, 0xdb, 0x73, 0x1a, 0xe1, 0x04, 0x0c, 0xcf}}},
    {0x100C, {0xbe00a7e4, 0xa0f6, 0x11d4, {0xb2, 0x6a, 0x00, 0xa0, 0xd2, 0x18, 0x19, 0x60}}},
    {0x13, {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}}},
    {0x13, {0xba79bc6e, 0x6de0, 0x43d5, {0xad, 0xc7, 0x86, 0xd5, 0x1b, 0x82, 0xfd, 0x1d}}},
    {0x13, {0x7bb3fe15, 0x954a, 0x4e75, {0xb5, 0xe1, 0x45, 0xee, 0x98, 0xf7, 0x49, 0x90}}},
    {0x14, {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}}},
    {0x14, {0xba79bc6e, 0x6de0, 0x43d5, {0xad, 0xc7, 0x86, 0xd5, 0x1b, 0x82, 0xfd, 0x1d}}},
    {0x14, {0x3b0f152b, 0x6354, 0x40b8, {0xa2, 0x77, 0x77, 0xfb, 0xec, 0x13, 0x29, 0xda}}},
    {0x14, {0x7bb3fe15, 0x954a, 0x4e75, {0xb5, 0xe1, 0x45, 0xee, 0x98, 0xf7, 0x49, 0x90}}},
    {0x1009, {0x7bb3fe15, 0x954a, 0x4e75, {0xb5, 0xe1, 0x45, 0xee, 0x98, 0xf7, 0x49, 0x90}}},
    {0x1009, {0x0a248ced, 0xfbd8, 0x4503, {0x83, 0xa3, 0xa3, 0x7f, 0x9b, 0xf4, 0x68, 0x1a}}},
    {0xF, {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}}},
};

// Readers by format id for ids of 0x6000 and above.
const FormatRow kFormatTable[] = {
    {0x6000, {0xd5404496, 0x6a66, 0x4337, {0xba, 0x9c, 0xf2, 0xfd, 0xad, 0xfd, 0xed, 0x61}}},
    {0x6000, {0x69c3d5cc, 0x0173, 0x4857, {0xad, 0x4e, 0xf4, 0x66, 0xa8, 0xad, 0x34, 0x2c}}},
    {0x6001, {0xd5404496, 0x6a66, 0x4337, {0xba, 0x9c, 0xf2, 0xfd, 0xad, 0xfd, 0xed, 0x61}}},
    {0x6001, {0x69c3d5cc, 0x0173, 0x4857, {0xad, 0x4e, 0xf4, 0x66, 0xa8, 0xad, 0x34, 0x2c}}},
    {0x7000, {0x372fdc19, 0x3e1a, 0x403b, {0xbc, 0x13, 0xba, 0xae, 0xdc, 0x31, 0x8c, 0x3a}}},
    {0x7002, {0xe6d45519, 0x793e, 0x462a, {0x81, 0xa5, 0xc9, 0xf4, 0x45, 0x8e, 0x8c, 0x0f}}},
    {0x7002, {0x3b0f152b, 0x6354, 0x40b8, {0xa2, 0x77, 0x77, 0xfb, 0xec, 0x13, 0x29, 0xda}}},
    {0x7002, {0xa818a004, 0x5cb3, 0x45e9, {0xbd, 0x3a, 0x3b, 0x1b, 0x5c, 0x67, 0xf9, 0x71}}},
};

// The reader that is never remembered as the last one used.
const GUID kNeverLastReader = {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}};

const DWORD kPathCheckFormat = 0x100C;

bool IsZeroGuid(const GUID& g) {
  static const GUID zero = {};
  return memcmp(&g, &zero, sizeof g) == 0;
}

bool ReaderCannotTake(HRESULT hr) { return hr == KV_E_READERREFUSED || hr == KV_E_PLUGINNOTINITIALIZED; }

HRESULT LastError() {
  DWORD e = GetLastError();
  return e ? KvErrorHandler_TranslateWin32Error(e) : E_FAIL;
}


// Files no reader may take: the maker's own containers and MIDI files.
bool IsOwnContainerFormat(const BYTE* b, DWORD cb) {
  if (cb < 12) return false;
  if (memcmp(b, "RIFF", 4) == 0) {
    const char* refused[] = {"KVXX", "PLIM", "KVSS", "KVPL"};
    for (const char* form : refused)
      if (memcmp(b + 8, form, 4) == 0) return true;
    return GetLE32(b + 4) == 0;
  }
  if (memcmp(b, "KVPK", 4) == 0 || memcmp(b, "MThd", 4) == 0) return true;
  static const GUID forms[2] = {{0x46c429ef, 0x904a, 0x11d2, {0x87, 0x22, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a}},
                                {0x4d60bd88, 0x7758, 0x11d4, {0x88, 0x3a, 0x00, 0xb0, 0xd0, 0x22, 0x3d, 0x2b}}};
  if (cb >= 41 && memcmp(b, &KVRIFF64_RIFF, 16) == 0)
    for (const GUID& f : forms)
      if (memcmp(b + 24, &f, 16) == 0) return true;
  return false;
}

// The extension of a path's file-name part, without its dot ("" when none).
const wchar_t* ExtensionOf(const wchar_t* path) {
  if (!path) return L"";
  const wchar_t* ext = PathFindExtensionW(PathFindFileNameW(path));
  return *ext == L'.' ? ext + 1 : ext;
}

// An upper-cased copy of an extension, leading "." skipped; "KVAP" + digit
// (five characters or more) reads as "W64".
void NormaliseExtension(const wchar_t* ext, wchar_t* out, int cch) {
  if (*ext == L'.') ++ext;
  KvStrCpyNLen(out, ext, cch);
  CharUpperW(out);
  if (wcslen(out) >= 5 && wcsncmp(out, L"KVAP", 4) == 0 && out[4] >= L'0' && out[4] <= L'9')
    KvStrCpyNLen(out, L"W64", cch);
}

}  // namespace

void KvFio_AccessMutexName(const wchar_t* key, wchar_t* out, int cch) {
  _snwprintf(out, cch, L"Local\\Calbrey %ls", key ? key : L"");
  out[cch - 1] = 0;
  if (cch > 260) out[259] = 0;
  for (wchar_t* p = out + 14; *p; ++p)
    if (*p == L'\\') *p = L' ';
}

CKvDizuVOManager::CKvDizuVOManager(bool isSurrogate) : isSurrogate_(isSurrogate) {}

CKvDizuVOManager::~CKvDizuVOManager() {
  Shutdown();
  DisconnectSurrogate();
  if (worker_) {
    worker_->Stop();
    delete worker_;
    worker_ = nullptr;
  }
  // A manager that was never initialised still owns what it was given.
  if (readerEnum_) readerEnum_->Release();
  if (rendererEnum_) rendererEnum_->Release();
  if (pluginEnum_) pluginEnum_->Release();
  readerEnum_ = nullptr;
  rendererEnum_ = nullptr;
  pluginEnum_ = nullptr;
  KvFio_DestroyPluginList(plugins_);
  plugins_ = nullptr;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::QueryInterface(REFIID riid, void** out) {
  // A filter builder over the plug-in list, with the manager as its outer
  // object.
  if (out && kvcom::SameIid(riid, IID_IKvFioFilterBuilder2))
    return KvFio_CreateFilterBuilder(static_cast<IKvDizuVOMgrForApp*>(this), plugins_,
                                     reinterpret_cast<IKvFioFilterBuilder2**>(out));
  // Inside the surrogate process the manager also serves hosts, through a face
  // of its own.
  if (out && isSurrogate_ && kvcom::SameIid(riid, IID_IKvSurrogateManager))
    return KvFio_CreateSurrogateFace(this, reinterpret_cast<IKvSurrogateManager**>(out));
  IKvDizuVOMgrForApp* self = this;
  return kvcom::QueryFaces(this, riid, out,
                           {{IID_IUnknown, self}, {IID_IKvDizuVOManager, self}, {IID_IKvDizuVOMgrForApp, self}});
}

// Plug-in class objects may call back from other threads: the count is
// interlocked.
ULONG STDMETHODCALLTYPE CKvDizuVOManager::AddRef() { return kvcom::AddRefCount(refs_); }

ULONG STDMETHODCALLTYPE CKvDizuVOManager::Release() { return kvcom::ReleaseRef(this, refs_); }

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetLanguageID(LCID* lcid, DWORD reserved) {
  if (reserved != 0) return E_INVALIDARG;
  if (!lcid) return E_POINTER;
  *lcid = KvFio_ModuleLCID();
  return S_OK;
}

// --- Metrics ------------------------------------------------------------------

bool CKvDizuVOManager::MetricsFile(wchar_t* folder, wchar_t* name) {
  const wchar_t* path = KvFio_MetricsFilePath();
  if (!path || !*path) return false;
  KvStrCpyNLen(folder, path, MAX_PATH);
  PathRemoveFileSpecW(folder);
  KvStrCpyNLen(name, PathFindFileNameW(path), MAX_PATH);
  return true;
}

namespace {

// The profile key of a metric: `format` applied to the id's absolute value.
void MetricKey(const wchar_t* prefix, int id, wchar_t* out) {
  long long v = id < 0 ? -static_cast<long long>(id) : id;
  _snwprintf(out, 24, L"%ls%lld", prefix, v);
  out[23] = 0;
}

}  // namespace

// Metric 37 lies between the in-memory values and the profile's ids: it is
// kept in the profile like the ids above it.
#define KVFIO_IN_MEMORY(id) ((id) >= 0 && (id) < 37)

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetMetric(int id, DWORD* value) {
  if (!value) return E_POINTER;
  if (KVFIO_IN_MEMORY(id)) {
    *value = metrics_[id];
    return S_OK;
  }
  if (id < 37) return E_INVALIDARG;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"D", id, key);
  int v = profile.GetInt(key, 61453);
  if (v == 61453) {
    v = profile.GetInt(key, 0);
    if (v == 0) return KV_E_NOTFOUND;
  }
  *value = static_cast<DWORD>(v);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::SetMetric(int id, DWORD value) {
  if (KVFIO_IN_MEMORY(id)) {
    metrics_[id] = value;
    return S_OK;
  }
  if (id < 37) return E_INVALIDARG;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"D", id, key);
  wchar_t text[16];
  _snwprintf(text, 16, L"%lu", static_cast<unsigned long>(value));
  text[15] = 0;
  return profile.WriteString(key, text);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetMetricString(int id, wchar_t* buf, DWORD cch, DWORD* cchOut) {
  if (id < 38) return E_INVALIDARG;
  if (!buf || cch == 0) return E_POINTER;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"S", id, key);
  // A missing key is told from an empty value by a default no text has.
  const wchar_t* kMissing = L"\x01\x02missing";
  DWORD n = profile.GetString(key, kMissing, buf, cch);
  if (wcscmp(buf, kMissing) == 0) {
    buf[0] = 0;
    if (cchOut) *cchOut = 0;
    return KV_E_NOTFOUND;
  }
  if (cchOut) *cchOut = n + 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::SetMetricString(int id, const wchar_t* text) {
  if (id < 38) return E_INVALIDARG;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"S", id, key);
  return profile.WriteString(key, text ? text : L"");
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::DeleteMetric(int id, DWORD type) {
  if (id < 38) return E_INVALIDARG;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(type == 4 ? L"D" : type == 3 ? L"B" : type == 1 ? L"S" : L"Z", id, key);
  HRESULT hr = profile.WriteString(key, L"");
  if (SUCCEEDED(hr)) hr = profile.WriteString(key, nullptr);
  return hr;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetMetricBinary(int id, void* buf, DWORD cb, DWORD* cbOut) {
  if (id < 38) return E_INVALIDARG;
  if ((cb % 4) != 0 || (cb && !buf)) return E_INVALIDARG;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"B", id, key);
  wchar_t text[128 * 12 + 8];
  profile.GetString(key, L"", text, sizeof text / sizeof text[0]);
  if (!text[0]) {
    if (cbOut) *cbOut = 0;
    return KV_E_NOTFOUND;
  }
  DWORD words = 0, stored = 0;
  DWORD* out = static_cast<DWORD*>(buf);
  for (const wchar_t* p = text; *p;) {
    long v = wcstol(p, nullptr, 10);
    if (stored < cb / 4) out[stored++] = static_cast<DWORD>(v);
    ++words;
    while (*p && *p != L',') ++p;
    if (*p == L',') ++p;
  }
  if (cbOut) *cbOut = words * 4;
  return words * 4 > cb ? KV_E_BUFFERTOOSMALL : S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::SetMetricBinary(int id, const DWORD* words, DWORD count) {
  if (id < 38 || count > 128) return E_INVALIDARG;
  if (count && !words) return E_POINTER;
  wchar_t folder[MAX_PATH], name[MAX_PATH], key[24];
  if (!MetricsFile(folder, name)) return E_UNEXPECTED;
  // Trailing zero words are dropped; one word always stays.
  DWORD n = count;
  while (n > 1 && words[n - 1] == 0) --n;
  wchar_t text[128 * 12 + 8];
  int used = 0;
  text[0] = 0;
  for (DWORD i = 0; i < (n ? n : 1); ++i) {
    long v = n ? static_cast<long>(words[i]) : 0;
    used += _snwprintf(text + used, 14, i ? L",%ld" : L"%ld", v);
  }
  CKvProfile profile(folder, name);
  profile.SetSection(L"Metrics");
  MetricKey(L"B", id, key);
  return profile.WriteString(key, text);
}

// --- Classes by id, index and extension -------------------------------------

HRESULT CKvDizuVOManager::ClassByIndex(bool renderer, int index, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CKvDizuVOTypeEnum* e = renderer ? static_cast<CKvDizuVOTypeEnum*>(rendererEnum_) : readerEnum_;
  if (!e || index < 0) return E_NOINTERFACE;
  for (ULONG i = 0; i < e->GetCount(); ++i) {
    KvFioPluginRecord* r = e->RecordAt(static_cast<int>(i));
    KvFioClassEntry* entry = renderer ? &r->renderer : &r->reader;
    if (entry->index != index) continue;
    HRESULT hr = LoadClassObject(r, renderer);
    if (FAILED(hr)) return hr;
    if (!entry->classObject) return E_NOINTERFACE;
    return entry->classObject->QueryInterface(iid, out);
  }
  return E_NOINTERFACE;
}

HRESULT CKvDizuVOManager::ClassById(bool renderer, const GUID* id, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!id || IsZeroGuid(*id)) return KV_E_UNSUPPORTEDFILE;
  // Class objects of a surrogate that has ended are made anew.
  CheckSurrogate();
  CKvDizuVOTypeEnum* e = renderer ? static_cast<CKvDizuVOTypeEnum*>(rendererEnum_) : readerEnum_;
  if (!e) return KV_E_UNSUPPORTEDFILE;
  KvFioPluginRecord* found = nullptr;
  for (int pass = 0; pass < 2 && !found; ++pass) {
    for (ULONG i = 0; i < e->GetCount() && !found; ++i) {
      KvFioPluginRecord* r = e->RecordAt(static_cast<int>(i));
      const GUID& cls = renderer ? r->renderer.classId : r->reader.classId;
      if (pass == 0 ? IsEqualGUID(cls, *id) != 0 : KvFio_SameIdPrefix(cls, *id)) found = r;
    }
  }
  if (!found) return KV_E_UNSUPPORTEDFILE;
  HRESULT hr = LoadClassObject(found, renderer);
  if (FAILED(hr)) return hr;
  IUnknown* object = renderer ? found->renderer.classObject : found->reader.classObject;
  if (!object) return E_NOINTERFACE;
  return object->QueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetReaderClass(IKvReadFileClass** out, const GUID* readerId) {
  return ClassById(false, readerId, IID_IKvReadFileClass, reinterpret_cast<void**>(out));
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetRendererClass(IKvRenderFileClass** out, const GUID* rendererId) {
  return ClassById(true, rendererId, IID_IKvRenderFileClass, reinterpret_cast<void**>(out));
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetReaderClassByIndex(IKvReadFileClass** out, int index) {
  return ClassByIndex(false, index, IID_IKvReadFileClass, reinterpret_cast<void**>(out));
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetRendererClassByIndex(IKvRenderFileClass** out, int index) {
  return ClassByIndex(true, index, IID_IKvRenderFileClass, reinterpret_cast<void**>(out));
}

HRESULT CKvDizuVOManager::FindByExtension(bool renderer, IUnknown** out, const wchar_t* ext, int* position) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!ext || !position) return E_INVALIDARG;
  CheckSurrogate();
  CKvDizuVOTypeEnum* e = renderer ? static_cast<CKvDizuVOTypeEnum*>(rendererEnum_) : readerEnum_;
  if (!e) return KV_E_UNSUPPORTEDFILE;
  wchar_t wanted[260];
  NormaliseExtension(ext, wanted, 260);
  if (!wanted[0]) return KV_E_UNSUPPORTEDFILE;
  int start = *position < 0 ? 0 : *position;
  for (int i = start; i < static_cast<int>(e->GetCount()); ++i) {
    KvFioPluginRecord* r = e->RecordAt(i);
    KvFioClassEntry* entry = renderer ? &r->renderer : &r->reader;
    if (!kvfiolist::HoldsExtension(entry->extensions, wanted)) continue;
    if (FAILED(LoadClassObject(r, renderer)) || !entry->classObject) continue;
    HRESULT hr = entry->classObject->QueryInterface(renderer ? IID_IKvRenderFileClass : IID_IKvReadFileClass,
                                                    reinterpret_cast<void**>(out));
    if (FAILED(hr)) continue;
    *position = i;
    return S_OK;
  }
  return KV_E_UNSUPPORTEDFILE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindReaderClassByExtension(IKvReadFileClass** out, const wchar_t* ext,
                                                                       int* position) {
  return FindByExtension(false, reinterpret_cast<IUnknown**>(out), ext, position);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindRendererClassByExtension(IKvRenderFileClass** out,
                                                                         const wchar_t* ext, int* position) {
  return FindByExtension(true, reinterpret_cast<IUnknown**>(out), ext, position);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindRendererClassForExtension(IKvRenderFileClass** out,
                                                                          const wchar_t* ext) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!ext || !rendererEnum_) return KV_E_UNSUPPORTEDFILE;
  rendererEnum_->Reset();
  wchar_t wanted[260];
  KvStrCpyNLen(wanted, ext, 260);
  CharUpperW(wanted);
  for (ULONG i = 0; i < rendererEnum_->GetCount(); ++i) {
    KvFioPluginRecord* r = rendererEnum_->RecordAt(static_cast<int>(i));
    if (!r->renderer.extensions) continue;
    wchar_t list[1024];
    KvStrCpyNLen(list, r->renderer.extensions, 1024);
    CharUpperW(list);
    if (!wcsstr(list, wanted)) continue;
    if (FAILED(LoadClassObject(r, true)) || !r->renderer.classObject) continue;
    if (SUCCEEDED(r->renderer.classObject->QueryInterface(IID_IKvRenderFileClass, reinterpret_cast<void**>(out))))
      return S_OK;
  }
  return KV_E_UNSUPPORTEDFILE;
}

HRESULT CKvDizuVOManager::GetReaderIndexForFormat(DWORD formatId, int* index) {
  if (!index || formatId < 0x6000) return E_INVALIDARG;
  *index = -1;
  bool inRun = false;
  for (const FormatRow& row : kFormatTable) {
    if (row.formatId != formatId) {
      if (inRun) break;
      continue;
    }
    inRun = true;
    IKvReadFileClass* cls = nullptr;
    if (FAILED(GetReaderClass(&cls, &row.reader)) || !cls) continue;
    DWORD i = 0;
    HRESULT hr = cls->GetClassIndex(&i);
    cls->Release();
    if (SUCCEEDED(hr)) {
      *index = static_cast<int>(i);
      return S_OK;
    }
  }
  return KV_E_UNSUPPORTEDFILE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetReaderClassByFormatId(IKvReadFileClass** out, DWORD formatId) {
  if (!out) return E_POINTER;
  *out = nullptr;
  int index = -1;
  HRESULT hr = GetReaderIndexForFormat(formatId, &index);
  if (FAILED(hr)) return hr;
  return GetReaderClassByIndex(out, index);
}

HRESULT CKvDizuVOManager::GetLastReaderClass(IKvReadFileClass** out) { return GetReaderClassByIndex(out, lastReader_); }

HRESULT CKvDizuVOManager::SetLastReader(IKvReadFileClass* cls) {
  if (!cls) return S_OK;
  GUID id = {};
  if (SUCCEEDED(cls->GetReaderGuid(&id)) && IsEqualGUID(id, kNeverLastReader)) return S_OK;
  DWORD index = 0;
  if (SUCCEEDED(cls->GetClassIndex(&index))) lastReader_ = static_cast<int>(index);
  return S_OK;
}

HRESULT CKvDizuVOManager::GetLastRendererClass(IKvRenderFileClass** out) {
  return GetRendererClassByIndex(out, lastRenderer_);
}

HRESULT CKvDizuVOManager::SetLastRenderer(IKvRenderFileClass* cls) {
  if (!cls) return S_OK;
  DWORD index = 0;
  if (SUCCEEDED(cls->GetClassIndex(&index))) lastRenderer_ = static_cast<int>(index);
  return S_OK;
}

// --- Reader selection ---------------------------------------------------------

HRESULT CKvDizuVOManager::IdentifyWithReader(IKvReadFileClass* cls, int index, HANDLE file, const BYTE* header,
                                             DWORD cb, const wchar_t* ext) {
  if (!readerEnum_) return E_UNEXPECTED;
  KvFioPluginRecord* record = readerEnum_->RecordAt(index);
  if (!record) return E_UNEXPECTED;
  if (record->state & KVFIO_PLUGIN_IN_SURROGATE) {
    // A reader in the surrogate sees the file through a handle of its own,
    // made once per selection.
    if (!selectionHandle_) {
      HANDLE copy = nullptr;
      if (FAILED(DuplicateHandleToProcessId(file, surrogateProcessId_, &copy)) || !copy) copy = INVALID_HANDLE_VALUE;
      selectionHandle_ = copy;
    }
    return cls->IdentifyFile(selectionHandle_, header, cb, ext);
  }
  return cls->IdentifyFile(file, header, cb, ext);
}

template <class Visit>
void CKvDizuVOManager::ForEachReaderClass(Visit visit) {
  if (!readerEnum_) return;
  readerEnum_->Reset();
  for (;;) {
    IUnknown* object = nullptr;
    ULONG got = 0;
    if (readerEnum_->Next(1, &object, &got) != S_OK || !object) break;
    IKvReadFileClass* cls = nullptr;
    object->QueryInterface(IID_IKvReadFileClass, reinterpret_cast<void**>(&cls));
    object->Release();
    if (!cls) continue;
    DWORD index = 0;
    cls->GetClassIndex(&index);
    const bool stop = visit(cls, static_cast<int>(index));
    cls->Release();
    if (stop) break;
  }
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindReaderForFile(HANDLE file, const wchar_t* path, int* readerIndex,
                                                              DWORD flags) {
  CheckSurrogate();
  selectionHandle_ = nullptr;
  HRESULT hr = FindReaderForFileImpl(file, path, readerIndex, flags);
  if (selectionHandle_ && selectionHandle_ != INVALID_HANDLE_VALUE) {
    // The surrogate closes its duplicate.
    IKvSurrogateManager* link = nullptr;
    if (SUCCEEDED(GetSurrogateManager(&link)) && link) {
      link->CloseDuplicateHandle(static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(selectionHandle_)));
      link->Release();
    }
  }
  selectionHandle_ = nullptr;
  return hr;
}

HRESULT CKvDizuVOManager::FindReaderForFileImpl(HANDLE file, const wchar_t* path, int* readerIndex, DWORD) {
  if (!readerIndex) return E_POINTER;
  *readerIndex = -1;
  BYTE* header = new (std::nothrow) BYTE[4096];
  if (!header) return E_OUTOFMEMORY;
  DWORD cb = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    HRESULT hr = LastError();
    delete[] header;
    return hr;
  }
  if (!ReadFile(file, header, 4096, &cb, nullptr)) {
    HRESULT hr = LastError();
    delete[] header;
    return hr;
  }
  const wchar_t* ext = ExtensionOf(path);
  if (IsOwnContainerFormat(header, cb)) {
    delete[] header;
    return KV_E_FILETYPENOTSUPPORTED;
  }
  HRESULT result = KV_E_UNSUPPORTEDFILE;
  int failIndex = -1;
  HRESULT failCode = E_FAIL;
  int tableFirst = -1, tableSecond = -1, extCandidate = -1, lastUsed = -1;
  bool found = false;
  // Records the outcome of one candidate; true when it took the file.
  auto outcome = [&](HRESULT hr, int index, bool remember) {
    if (SUCCEEDED(hr)) {
      *readerIndex = index;
      result = S_OK;
      found = true;
      return true;
    }
    if (remember && ReaderCannotTake(hr)) {
      failIndex = index;
      failCode = hr;
    }
    return false;
  };

  KVFILEID_IDENTIFIED_TYPE type = KVFILEID_NOT_IDENTIFIED;
  bool identified = KvIsQuicklyIdentifiableMediaFileFormat(file, path, 0, &type) != FALSE;
  if (identified) {
    // Table stage.
    int candidates = 0;
    bool inRun = false;
    for (const FormatRow& row : kReaderTable) {
      if (row.formatId != static_cast<DWORD>(type)) {
        if (inRun) break;
        continue;
      }
      inRun = true;
      IKvReadFileClass* cls = nullptr;
      if (FAILED(GetReaderClass(&cls, &row.reader)) || !cls) continue;
      ++candidates;
      DWORD index = 0;
      cls->GetClassIndex(&index);
      if (candidates == 1) tableFirst = static_cast<int>(index);
      else if (candidates == 2) tableSecond = static_cast<int>(index);
      HRESULT hr = IdentifyWithReader(cls, static_cast<int>(index), file, header, cb, ext);
      if (SUCCEEDED(hr) && row.formatId == kPathCheckFormat) hr = cls->IsFileSupported(path);
      cls->Release();
      if (outcome(hr, static_cast<int>(index), candidates == 1)) break;
    }
  }
  if (!found && failIndex < 0) {
    // Extension stage.
    if (*ext) {
      int position = -1;
      for (;;) {
        IKvReadFileClass* cls = nullptr;
        if (FAILED(FindReaderClassByExtension(&cls, ext, &position)) || !cls) break;
        extCandidate = position;
        HRESULT hr = IdentifyWithReader(cls, position, file, header, cb, ext);
        cls->Release();
        if (outcome(hr, position, true)) break;
        ++position;
      }
    }
    // Last-used stage.
    if (!found) {
      IKvReadFileClass* cls = nullptr;
      if (SUCCEEDED(GetLastReaderClass(&cls)) && cls) {
        lastUsed = lastReader_;
        if (lastUsed != extCandidate && lastUsed != tableFirst && lastUsed != tableSecond) {
          HRESULT hr = IdentifyWithReader(cls, lastUsed, file, header, cb, ext);
          outcome(hr, lastUsed, true);
        }
        cls->Release();
      }
    }
    // Every other reader.
    if (!found) {
      ForEachReaderClass([&](IKvReadFileClass* cls, int i) {
        if (i == lastUsed || i == extCandidate || i == tableFirst || i == tableSecond) return false;
        return outcome(IdentifyWithReader(cls, i, file, header, cb, ext), i, true);
      });
    }
  }
  delete[] header;
  if (!found && failIndex >= 0) {
    *readerIndex = failIndex;
    return failCode;
  }
  if (found && failIndex >= 0) return KV_S_READERAFTERFAILURE;
  return result;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindReaderForPath(const wchar_t* path, int* readerIndex) {
  if (!readerIndex) return E_POINTER;
  *readerIndex = -1;
  if (!path) return E_INVALIDARG;
  const wchar_t* dot = wcsrchr(path, L'.');
  int failIndex = -1;
  HRESULT failCode = E_FAIL;
  int extCandidate = -1, lastUsed = -1;
  bool found = false;
  auto outcome = [&](HRESULT hr, int index) {
    if (SUCCEEDED(hr)) {
      *readerIndex = index;
      found = true;
      return true;
    }
    if (ReaderCannotTake(hr)) {
      failIndex = index;
      failCode = hr;
    }
    return false;
  };
  if (dot && dot[1]) {
    int position = -1;
    for (;;) {
      IKvReadFileClass* cls = nullptr;
      if (FAILED(FindReaderClassByExtension(&cls, dot + 1, &position)) || !cls) break;
      extCandidate = position;
      HRESULT hr = cls->IsFileSupported(path);
      cls->Release();
      if (outcome(hr, position)) break;
      ++position;
    }
  }
  if (!found) {
    IKvReadFileClass* cls = nullptr;
    if (SUCCEEDED(GetLastReaderClass(&cls)) && cls) {
      lastUsed = lastReader_;
      if (lastUsed != extCandidate) outcome(cls->IsFileSupported(path), lastUsed);
      cls->Release();
    }
  }
  if (!found) {
    ForEachReaderClass([&](IKvReadFileClass* cls, int i) {
      GUID id = {};
      cls->GetReaderGuid(&id);
      if (i == lastUsed || i == extCandidate || (failIndex >= 0 && IsEqualGUID(id, kNeverLastReader))) return false;
      return outcome(cls->IsFileSupported(path), i);
    });
  }
  if (!found && failIndex >= 0) {
    *readerIndex = failIndex;
    return failCode;
  }
  if (found && failIndex >= 0) return KV_S_READERAFTERFAILURE;
  return found ? S_OK : KV_E_UNSUPPORTEDFILE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::OpenFile(const wchar_t* path, IKvReadFile** out, DWORD flags) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!path || !*path) return KV_E_BADFILENAME;
  CheckSurrogate();
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  int index = -1;
  HRESULT hr = FindReaderForFile(file, path, &index, flags);
  if (FAILED(hr) && hr != KV_E_FILETYPENOTSUPPORTED && !ReaderCannotTake(hr)) hr = FindReaderForPath(path, &index);
  IKvReadFileClass* cls = nullptr;
  if (SUCCEEDED(hr)) hr = GetReaderClassByIndex(&cls, index);
  if (SUCCEEDED(hr)) {
    // The class opens the file itself unless the caller asked for a file
    // that is not open yet (0x1000).
    BOOL open = (flags & 0x3000) == 0x1000 ? FALSE : TRUE;
    hr = cls->OpenReadFile(out, file, GetCurrentProcessId(), path, open);
    if (SUCCEEDED(hr) && !*out) hr = E_FAIL;
    if (SUCCEEDED(hr)) SetLastReader(cls);
    cls->Release();
  }
  CloseHandle(file);
  return hr;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::OpenFileEx(const wchar_t* path, IKvReadFile** out, DWORD, DWORD flags) {
  return OpenFile(path, out, flags);
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::FindReaderClassForFile(const wchar_t* path, IKvReadFileClass** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!path) return E_INVALIDARG;
  const wchar_t* ext = ExtensionOf(path);
  int position = -1;
  int extIndex = -1;
  if (*ext && SUCCEEDED(FindReaderClassByExtension(out, ext, &position))) {
    if (SUCCEEDED((*out)->IsFileSupported(path))) return S_OK;
    extIndex = position;
    (*out)->Release();
    *out = nullptr;
  }
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  BYTE header[4096];
  DWORD cb = 0;
  BOOL readOk = ReadFile(file, header, sizeof header, &cb, nullptr);
  HRESULT hr = readOk ? KV_E_UNSUPPORTEDFILE : LastError();
  if (readOk && readerEnum_) {
    for (ULONG i = 0; i < readerEnum_->GetCount() && FAILED(hr); ++i) {
      if (static_cast<int>(i) == extIndex) continue;
      IKvReadFileClass* cls = nullptr;
      if (FAILED(GetReaderClassByIndex(&cls, static_cast<int>(i))) || !cls) continue;
      if (SUCCEEDED(cls->IdentifyFile(file, header, cb, ext)) && SUCCEEDED(cls->IsFileSupported(path))) {
        *out = cls;
        hr = S_OK;
      } else {
        cls->Release();
      }
    }
  }
  CloseHandle(file);
  return hr;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::CheckFileWithReader(const wchar_t* path, DWORD flags) {
  if (!path) return S_FALSE;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  int index = -1;
  HRESULT hr = FindReaderForFile(file, path, &index, flags);
  CloseHandle(file);
  if (FAILED(hr)) return S_FALSE;
  IKvReadFileClass* cls = nullptr;
  if (FAILED(GetReaderClassByIndex(&cls, index)) || !cls) return S_FALSE;
  struct IKvReadFileCheck : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CheckFile(const wchar_t* path) = 0;
  };
  IKvReadFileCheck* check = nullptr;
  cls->QueryInterface(IID_IKvReadFileCheck, reinterpret_cast<void**>(&check));
  cls->Release();
  if (!check) return S_FALSE;
  hr = check->CheckFile(path);
  check->Release();
  return FAILED(hr) ? S_FALSE : hr;
}

// --- Templates and filter builders --------------------------------------------

namespace {

// A template that came back from the surrogate as `cb` bytes, as a record of
// this process (padded to a basic template's size), or null.
tagKVTEMPLATExV2* TemplateFromBytes(const BYTE* bytes, DWORD cb) {
  DWORD size = 0;
  if (!bytes || cb < sizeof size) return nullptr;
  std::memcpy(&size, bytes, sizeof size);
  if (size != cb) return nullptr;
  void* copy = std::calloc(1, cb < kKvTemplateBasicSize ? kKvTemplateBasicSize : cb);
  if (copy) std::memcpy(copy, bytes, cb);
  return static_cast<tagKVTEMPLATExV2*>(copy);
}

}  // namespace

// A renderer whose plug-in runs in the surrogate edits there; any other
// through the template editor of this process.
HRESULT STDMETHODCALLTYPE CKvDizuVOManager::EditTemplate(HWND owner, IKvRenderFileClass* cls, DWORD value,
                                                         const DWORD* placement, DWORD* flags, IStream* templates,
                                                         const tagKVTEMPLATExV2* current,
                                                         tagKVTEMPLATExV2** result) {
  if (result) *result = nullptr;
  if (!cls || !result) return E_INVALIDARG;
  GUID rendererId = {};
  if (!isSurrogate_ && RendererRunsOutOfProcess(cls, &rendererId))
    return EditTemplateInSurrogate(owner, rendererId, value, placement, flags, templates, current, result);

  _FIOEDITTEMPLATE edit = {};
  edit.owner = owner;
  edit.renderClass = cls;
  edit.value = value;
  if (placement) std::memcpy(edit.placement, placement, sizeof edit.placement);
  edit.flags = flags ? *flags : 0;
  edit.templateList = templates;
  edit.current = current;
  HRESULT hr = KvFioMgr_EditTemplate(AsManager(), &edit);
  if (flags) *flags = (*flags & ~0x18u) | (edit.flags & 0x18u);
  const bool unchanged = !edit.result || (current && edit.result->cbSize == current->cbSize &&
                                          std::memcmp(edit.result, current, current->cbSize) == 0);
  if (hr == S_OK && unchanged) hr = S_FALSE;
  if (edit.result) {
    if (edit.flags & 32) {
      // The editor hands its result over.
      *result = edit.result;
    } else {
      HRESULT copied = KvFio_SetTemplate(*result, edit.result, kKvSetTemplateCopy);
      KvFio_ReleaseTemplate(edit.result);
      if (FAILED(copied) && SUCCEEDED(hr)) hr = copied;
    }
  }
  return hr;
}

// The record is found by the class object's identity (the manager's own
// object, or a blanket over one: asking it costs no call into the surrogate),
// else by the renderer id the class reports.
bool CKvDizuVOManager::RendererRunsOutOfProcess(IKvRenderFileClass* cls, GUID* rendererId) {
  if (!plugins_) return false;
  const DWORD outOfProcess = KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT | KVFIO_PLUGIN_IN_SURROGATE;
  IUnknown* identity = nullptr;
  if (FAILED(cls->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) identity = nullptr;
  const KvFioPluginRecord* found = nullptr;
  for (int i = 0; i < plugins_->count && identity && !found; ++i) {
    const KvFioPluginRecord* r = KvFio_RecordAt(plugins_, i);
    IUnknown* other = nullptr;
    if (!r->renderer.classObject ||
        FAILED(r->renderer.classObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&other))))
      continue;
    if (other == identity) found = r;
    other->Release();
  }
  if (identity) identity->Release();
  if (!found && SUCCEEDED(cls->GetRendererGuid(rendererId))) {
    for (int i = 0; i < plugins_->count && !found; ++i) {
      const KvFioPluginRecord* r = KvFio_RecordAt(plugins_, i);
      if ((r->access & KVFIO_ACCESS_RENDERER) && KvFio_SameIdPrefix(r->renderer.classId, *rendererId)) found = r;
    }
  }
  if (!found) return false;
  *rendererId = found->renderer.classId;
  return (found->state & outOfProcess) != 0;
}

HRESULT CKvDizuVOManager::EditTemplateInSurrogate(HWND owner, const GUID& rendererId, DWORD value,
                                                  const DWORD* placement, DWORD* flags, IStream* templates,
                                                  const tagKVTEMPLATExV2* current, tagKVTEMPLATExV2** result) {
  IKvSurrogateManager* link = nullptr;
  HRESULT hr = GetSurrogateManager(&link);
  if (FAILED(hr)) return hr;
  DWORD flagsIn = flags ? *flags : 0;
  DWORD cbResult = 0;
  BYTE* bytes = nullptr;
  hr = link->EditTemplate(reinterpret_cast<DWORD_PTR>(owner), &rendererId, value, placement, &flagsIn, templates,
                          current ? current->cbSize : 0, reinterpret_cast<const BYTE*>(current), &cbResult, &bytes);
  link->Release();
  if (flags) *flags = flagsIn;
  if (bytes) {
    *result = TemplateFromBytes(bytes, cbResult);
    CoTaskMemFree(bytes);
    if (!*result && SUCCEEDED(hr)) hr = E_OUTOFMEMORY;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::CreateFilterBuilder(IUnknown** out, DWORD kind, DWORD value,
                                                                DWORD flags) {
  if (flags & 0x400) return CreateFilterBuilderEx(out, kind, 0x0FFFFFFF, value, flags);
  if (value) flags |= 0x800;
  return CreateFilterBuilderEx(out, kind, value, 0, flags);
}

// Flag 0x800 asks for the inverted type test; it is not passed on to the
// entries, where the same bit would hide them all.
HRESULT STDMETHODCALLTYPE CKvDizuVOManager::CreateFilterBuilderEx(IUnknown** out, DWORD kind, DWORD mask,
                                                                  DWORD value, DWORD flags) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IKvFioFilterBuilder2* b = nullptr;
  HRESULT hr = KvFio_CreateFilterBuilder(nullptr, plugins_, &b);
  if (FAILED(hr)) return hr;
  b->SetTypeMask(mask, value, (flags & 0x800) ? 1 : 0);
  if (flags & 0x200)
    b->SetRequiredKind(kind == KVFIO_ACCESS_READER ? KVFIO_ACCESS_RENDERER : KVFIO_ACCESS_READER);
  if (!(flags & 0x100)) {
    hr = b->AddPluginTypes(nullptr, 0, kind, flags & ~0xF00u);
    if (SUCCEEDED(hr)) hr = b->Sort(FALSE);
    if (FAILED(hr)) {
      b->Release();
      return hr;
    }
  }
  *out = b;
  return S_OK;
}

// --- Plug-ins and enumerators -------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetAppValue(DWORD* value) {
  if (!value) return E_POINTER;
  *value = appValue_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetReaderEnum(IKvDizuVOTypeEnum** out) {
  if (!out || !readerEnum_) return KV_E_NOTFOUND;
  return readerEnum_->QueryInterface(IID_IKvDizuVOTypeEnum, reinterpret_cast<void**>(out));
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetRendererEnum(IKvDizuVOTypeEnum** out) {
  if (!out || !rendererEnum_) return KV_E_NOTFOUND;
  return rendererEnum_->QueryInterface(IID_IKvDizuVOTypeEnum, reinterpret_cast<void**>(out));
}

int STDMETHODCALLTYPE CKvDizuVOManager::GetReaderCount() {
  return readerEnum_ ? static_cast<int>(readerEnum_->GetCount()) : 0;
}

int STDMETHODCALLTYPE CKvDizuVOManager::GetRendererCount() {
  return rendererEnum_ ? static_cast<int>(rendererEnum_->GetCount()) : 0;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetPluginCount(int* count) {
  if (!count) return E_POINTER;
  *count = plugins_ ? plugins_->count : 0;
  return *count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::HasPlugin(const GUID* id) {
  if (!pluginEnum_) return E_FAIL;
  if (!id) return E_POINTER;
  KVFIO_PLUGININFO info = {};
  info.cbSize = KVFIO_PLUGININFO_SIZE;
  return SUCCEEDED(pluginEnum_->GetPluginInfo(id, &info)) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetPluginEnum(IKvFIOPluginEnum** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!pluginEnum_) return E_FAIL;
  pluginEnum_->AddRef();
  *out = pluginEnum_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) {
  if (!pluginEnum_) return E_FAIL;
  return pluginEnum_->GetPluginInfo(id, info);
}

HRESULT CKvDizuVOManager::LoadClassObject(KvFioPluginRecord* record, bool renderer) {
  return RunOnWorkerThread(record, renderer);
}

HRESULT CKvDizuVOManager::PreloadPlugins() {
  if (!plugins_) return S_OK;
  for (int i = 0; i < plugins_->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(plugins_, i);
    if (!(r->preload & 1)) continue;
    if (r->access & KVFIO_ACCESS_READER) LoadClassObject(r, false);
    if (r->access & KVFIO_ACCESS_RENDERER) LoadClassObject(r, true);
    r->preload &= ~1u;
  }
  return S_OK;
}

// --- The access mutex, the worker thread and the surrogate --------------------------

void CKvDizuVOManager::LockAccess() {
  if (mutex_ == INVALID_HANDLE_VALUE || !mutex_) return;
  WaitForSingleObject(mutex_, INFINITE);
  if (accessDepth_++ == 0) accessOwner_ = GetCurrentThreadId();
}

void CKvDizuVOManager::UnlockAccess() {
  if (mutex_ == INVALID_HANDLE_VALUE || !mutex_) return;
  if (--accessDepth_ == 0) accessOwner_ = 0;
  ReleaseMutex(mutex_);
}

DWORD CKvDizuVOManager::WorkerThreadId() const { return worker_ ? worker_->ThreadId() : 0; }

namespace {

struct LoadRequest {
  CKvDizuVOManager* manager;
  KvFioPluginRecord* record;
  bool renderer;
};

DWORD __stdcall RunLoad(DWORD_PTR argument) {
  LoadRequest* request = reinterpret_cast<LoadRequest*>(argument);
  request->manager->LockAccess();
  HRESULT hr = KvFio_LoadClassEntry(request->manager->Plugins(), request->record, request->renderer,
                                    request->manager->AsManager(), request->manager);
  request->manager->UnlockAccess();
  return static_cast<DWORD>(hr);
}

// How long a connection waits at most, after the tries, for a surrogate it
// started that is still starting.
constexpr DWORD kSlowStartMs = 10000;

bool ProcessRunning(DWORD processId) {
  if (!processId) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!h) return false;
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

}  // namespace

HRESULT CKvDizuVOManager::RunOnWorkerThread(KvFioPluginRecord* record, bool renderer) {
  LoadRequest request = {this, record, renderer};
  // A caller that holds the access mutex already runs the load itself: the
  // worker would wait for the mutex while the caller waits for the worker.
  if (OwnsAccess()) return static_cast<HRESULT>(RunLoad(reinterpret_cast<DWORD_PTR>(&request)));
  if (!worker_) {
    worker_ = new (std::nothrow) CKvWorkerThread();
    if (!worker_) return E_OUTOFMEMORY;
  }
  DWORD result = 0;
  HRESULT hr = worker_->Run(&RunLoad, reinterpret_cast<DWORD_PTR>(&request), &result);
  return FAILED(hr) ? hr : static_cast<HRESULT>(result);
}

namespace {
DWORD __stdcall RunConnect(DWORD_PTR manager) {
  return static_cast<DWORD>(reinterpret_cast<CKvDizuVOManager*>(manager)->ConnectSurrogateHeld());
}
}  // namespace

HRESULT CKvDizuVOManager::ConnectSurrogate() {
  LockAccess();
  if (surrogate_.registered()) {
    UnlockAccess();
    return S_OK;
  }
  // The link is made on the worker thread, in the multithreaded apartment:
  // every thread then fetches it from the Global Interface Table without
  // needing the apartment of the thread that happened to connect first (an
  // apartment that may not be serving calls). The caller's hold of the access
  // mutex covers the worker's work.
  HRESULT hr = E_OUTOFMEMORY;
  if (!worker_) worker_ = new (std::nothrow) CKvWorkerThread();
  if (worker_) {
    DWORD result = 0;
    hr = worker_->Run(&RunConnect, reinterpret_cast<DWORD_PTR>(this), &result);
    if (SUCCEEDED(hr)) hr = static_cast<HRESULT>(result);
  }
  UnlockAccess();
  return hr;
}

HRESULT CKvDizuVOManager::ConnectSurrogateHeld() {
  if (surrogate_.registered()) return S_OK;
  const LONG users = KvFio_AddSurrogateUser(1);
  surrogateUser_ = true;
  DWORD processId = KVDizuVO_GetSurrogateProcessID();
  bool startedHere = false;
  // The first user starts the surrogate; so does any user that finds the
  // process-wide surrogate gone (it ended or was ended).
  if (users == 1 || !ProcessRunning(processId)) {
    DWORD started = 0;
    KvFio_StartSurrogateProcess(&started);
    KvFio_SetSurrogateProcessId(started);
    processId = started;
    startedHere = started != 0;
  }
  CLSID cls = CLSID_KvSurrogateManagerFallback;
  cls.Data1 ^= processId;
  IKvSurrogateManager* link = nullptr;
  HRESULT hr = REGDB_E_CLASSNOTREG;
  for (int attempt = 0; attempt < 10; ++attempt) {
    hr = CoCreateInstance(cls, nullptr, CLSCTX_LOCAL_SERVER, IID_IKvSurrogateManager, reinterpret_cast<void**>(&link));
    if (hr != REGDB_E_CLASSNOTREG) break;
    if (attempt < 9) Sleep(100);
  }
  if (FAILED(hr)) {
    link = nullptr;
    hr = CoCreateInstance(CLSID_KvSurrogateManagerFallback, nullptr, CLSCTX_LOCAL_SERVER, IID_IKvSurrogateManager,
                          reinterpret_cast<void**>(&link));
  }
  // A loaded machine may start the surrogate more slowly than the tries
  // allow: while the surrogate this call started still runs, its own id is
  // tried on for a bounded time (a surrogate that was killed may have left the
  // fallback registration behind, which then answers "unavailable").
  const DWORD waitStart = GetTickCount();
  while (FAILED(hr) && startedHere && ProcessRunning(processId) && GetTickCount() - waitStart < kSlowStartMs) {
    Sleep(100);
    link = nullptr;
    hr = CoCreateInstance(cls, nullptr, CLSCTX_LOCAL_SERVER, IID_IKvSurrogateManager, reinterpret_cast<void**>(&link));
  }
  if (SUCCEEDED(hr) && !link) hr = E_NOINTERFACE;
  if (FAILED(hr)) {
    // Nothing connected: this manager is no user, and a surrogate this call
    // started (which never answered) is ended and forgotten.
    KvFio_AddSurrogateUser(-1);
    surrogateUser_ = false;
    if (startedHere) {
      HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
      if (h) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
      }
      KvFio_SetSurrogateProcessId(0);
    }
    return hr;
  }
  // The process that really serves this manager: the fallback id may have
  // reached another surrogate.
  DWORD served = 0;
  if (FAILED(link->GetProcessId(&served)) || !served) served = processId;
  surrogateProcessId_ = served;
  if (surrogateProcess_) CloseHandle(surrogateProcess_);
  surrogateProcess_ = OpenProcess(SYNCHRONIZE, FALSE, served);
  // A surrogate started after the plug-ins were registered (the one before
  // it ended) learns them now.
  if (plugins_) TellSurrogatePlugins(link, plugins_);
  HRESULT registered = surrogate_.Register(link);
  link->Release();
  return FAILED(registered) ? registered : hr;
}

bool CKvDizuVOManager::TellSurrogatePlugins(IKvSurrogateManager* link, tKVLIST* list) {
  bool any = false;
  for (int i = 0; i < list->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    if ((r->state & (KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT)) && (r->state & KVFIO_PLUGIN_FIRST_OF_DLL) &&
        !(r->state & KVFIO_PLUGIN_UNUSABLE)) {
      link->AddPluginDLL(r->dllPath);
      any = true;
    }
  }
  if (any) link->FinishRegistration();
  return any;
}

HRESULT CKvDizuVOManager::GetSurrogateManager(IKvSurrogateManager** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  LockAccess();
  HRESULT hr = S_OK;
  if (!surrogate_.registered()) hr = ConnectSurrogate();
  IUnknown* link = nullptr;
  if (SUCCEEDED(hr)) hr = surrogate_.GetForCurrentThread(&link);
  if (SUCCEEDED(hr) && link) hr = link->QueryInterface(IID_IKvSurrogateManager, reinterpret_cast<void**>(out));
  else if (SUCCEEDED(hr)) hr = E_UNEXPECTED;
  UnlockAccess();
  return hr;
}

namespace {
DWORD __stdcall RunDetach(DWORD_PTR manager) {
  return static_cast<DWORD>(reinterpret_cast<CKvDizuVOManager*>(manager)->DetachFromSurrogate());
}
}  // namespace

HRESULT CKvDizuVOManager::DetachFromSurrogate() {
  IUnknown* link = nullptr;
  HRESULT hr = surrogate_.GetForCurrentThread(&link);
  if (SUCCEEDED(hr) && !link) hr = E_UNEXPECTED;
  if (FAILED(hr)) return hr;
  IKvSurrogateManager* face = nullptr;
  hr = link->QueryInterface(IID_IKvSurrogateManager, reinterpret_cast<void**>(&face));
  if (SUCCEEDED(hr) && !face) hr = E_NOINTERFACE;
  if (FAILED(hr)) return hr;
  hr = face->Detach();
  face->Release();
  return hr;
}

HRESULT CKvDizuVOManager::DisconnectSurrogate() {
  LockAccess();
  if (surrogate_.registered()) {
    // Tell the surrogate that this host lets go; it ends once no host holds it.
    // A calling thread that has left COM (another manager of the thread ended
    // the apartment both used) tells it from the worker thread: its proxy of
    // the ended apartment answers as if the surrogate were gone, so whether it
    // is gone is asked of the process itself.
    HRESULT hr = DetachFromSurrogate();
    const bool gone = surrogateProcess_ && WaitForSingleObject(surrogateProcess_, 0) == WAIT_OBJECT_0;
    if (FAILED(hr) && !gone && worker_) {
      DWORD result = 0;
      worker_->Run(&RunDetach, reinterpret_cast<DWORD_PTR>(this), &result);
    }
  }
  if (surrogateUser_) {
    surrogateUser_ = false;
    if (KvFio_AddSurrogateUser(-1) == 0) {
      KvFio_ErrorReportStop(surrogateProcessId_);
      KvFio_SetSurrogateProcessId(0);
    }
  }
  surrogate_.Revoke();
  surrogateProcessId_ = 0;
  if (surrogateProcess_) CloseHandle(surrogateProcess_);
  surrogateProcess_ = nullptr;
  UnlockAccess();
  return S_OK;
}

HRESULT CKvDizuVOManager::CreateInSurrogate(KvFioPluginRecord* record, const GUID* classId, REFIID iid, void** out) {
  if (!record || !out) return E_INVALIDARG;
  *out = nullptr;
  IKvSurrogateManager* link = nullptr;
  HRESULT hr = GetSurrogateManager(&link);
  if (FAILED(hr)) return hr;
  IUnknown* object = nullptr;
  hr = link->CreateClassObject(record->dllPath, classId ? classId : &record->pluginId, iid, &object);
  link->Release();
  if (FAILED(hr)) return hr;
  if (!object) return E_NOINTERFACE;
  record->state |= KVFIO_PLUGIN_IN_SURROGATE;
  *out = object;
  // The plug-in's class objects are used from any thread of the host.
  if (kvcom::SameIid(iid, IID_IKvReadFileClass) || kvcom::SameIid(iid, IID_IKvRenderFileClass))
    return KvFio_CreateBlanket(iid, out, nullptr, AsManager());
  return S_OK;
}

void CKvDizuVOManager::DropSurrogateObjects() {
  if (!plugins_) return;
  for (int i = 0; i < plugins_->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(plugins_, i);
    if (!(r->state & KVFIO_PLUGIN_IN_SURROGATE)) continue;
    for (KvFioClassEntry* e : {&r->reader, &r->renderer}) {
      if (e->classObject) e->classObject->Release();
      e->classObject = nullptr;
      e->loadState = KVFIO_LOAD_NOT_CREATED;
    }
    r->state &= ~KVFIO_PLUGIN_IN_SURROGATE;
  }
}

void CKvDizuVOManager::CheckSurrogate() {
  if (!surrogateProcess_ || WaitForSingleObject(surrogateProcess_, 0) != WAIT_OBJECT_0) return;
  // The surrogate has ended: its objects are gone. The next use starts a new one.
  LockAccess();
  DropSurrogateObjects();
  if (KVDizuVO_GetSurrogateProcessID() == surrogateProcessId_) KvFio_SetSurrogateProcessId(0);
  DisconnectSurrogate();
  UnlockAccess();
}

HRESULT CKvDizuVOManager::CreateEnumerators(tKVLIST* list, DWORD listMode, const GUID* ids, int idCount) {
  if (list && list != plugins_) {
    KvFio_DestroyPluginList(plugins_);
    plugins_ = list;
  }
  if (readerEnum_) readerEnum_->Release();
  if (rendererEnum_) rendererEnum_->Release();
  if (pluginEnum_) pluginEnum_->Release();
  readerEnum_ = nullptr;
  rendererEnum_ = nullptr;
  pluginEnum_ = nullptr;
  // The application value selects the application levels a plug-in must
  // share: readers in its low half, renderers in its high half.
  DWORD kindMask = appValue_ ? appValue_ : 0xFFFFFFFFu;
  return KvFio_CreateEnumerators(this, plugins_, listMode, ids, idCount, kindMask, &pluginEnum_, &readerEnum_,
                                 &rendererEnum_);
}

HRESULT CKvDizuVOManager::WritePluginCache(DWORD flags) {
  if (!plugins_) return S_OK;
  LockAccess();
  HRESULT hr = KvFio_SavePluginCache(plugins_, flags);
  UnlockAccess();
  return hr;
}

HRESULT CKvDizuVOManager::RegisterPlugins(tKVLIST* list, DWORD flags) {
  // A manager inside the surrogate runs every plug-in itself.
  HRESULT hr = KvFio_RegisterPlugins(list, flags, AsManager(), nullptr, isSurrogate_ ? nullptr : this);
  if (FAILED(hr) || isSurrogate_ || !list) return hr;
  // The surrogate's manager learns the plug-ins it serves.
  bool any = false;
  for (int i = 0; i < list->count && !any; ++i)
    any = (KvFio_RecordAt(list, i)->state & (KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT)) &&
          !(KvFio_RecordAt(list, i)->state & KVFIO_PLUGIN_UNUSABLE);
  if (!any) return hr;
  IKvSurrogateManager* link = nullptr;
  if (FAILED(GetSurrogateManager(&link)) || !link) return hr;
  TellSurrogatePlugins(link, list);
  link->Release();
  return hr;
}

HRESULT CKvDizuVOManager::AddPluginDLLs(tKVLIST** list, const wchar_t** dlls, long count, DWORD flags, int* added) {
  if (!list) return E_POINTER;
  if (added) *added = 0;
  LockAccess();
  HRESULT hr = KvFio_SetPluginCandidateDLLs(list, dlls, count);
  if (SUCCEEDED(hr)) hr = RegisterPlugins(*list, flags);
  if (added && *list) *added = (*list)->count;
  UnlockAccess();
  return hr;
}

HRESULT CKvDizuVOManager::AddDefaultPluginDLLs(tKVLIST** list, DWORD flags, int* added) {
  if (!list) return E_POINTER;
  if (added) *added = 0;
  LockAccess();
  // The default candidates: the module that carries this library when it is
  // a DLL (it is itself a plug-in), then the DLLs its configuration files name.
  HRESULT hr = KvFio_CreatePluginList(list);
  if (SUCCEEDED(hr)) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&KvFio_AccessMutexName), &self);
    if (self && self != GetModuleHandleW(nullptr)) {
      wchar_t path[MAX_PATH];
      DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
      if (n > 0 && n < MAX_PATH) hr = KvFio_AddPluginCandidate(*list, path, nullptr);
    }
  }
  if (SUCCEEDED(hr)) hr = KvFio_FindPluginConfigFiles(list);
  if (SUCCEEDED(hr)) hr = RegisterPlugins(*list, flags);
  if (added && *list) *added = (*list)->count;
  UnlockAccess();
  return hr;
}

HRESULT CKvDizuVOManager::SetAppInfo(const wchar_t* text, DWORD number, DWORD value) {
  KvStrCpyNLen(appText_, text ? text : L"", 260);
  appText_[259] = 0;
  appNumber_ = number;
  appValue_ = value;
  return S_OK;
}

HRESULT CKvDizuVOManager::SetInitMetrics(const _KVFIO_INITIALIZATION_METRICS* metrics) {
  if (!metrics) return S_OK;
  for (int id = 0; id < 37; ++id) {
    DWORD word = id < 32 ? metrics->maskLow : metrics->maskHigh;
    if (word & (1u << (id % 32))) metrics_[id] = metrics->values[id];
  }
  return S_OK;
}

// --- Lifecycle ------------------------------------------------------------------

HRESULT CKvDizuVOManager::Initialize(DWORD flags, const wchar_t* applicationKey) {
  metrics_[0] = (flags & 4) ? 1 : 0;
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (hr == S_OK) comInitialised_ = true;
  else if (hr == S_FALSE) CoUninitialize();
  KvFio_InitSettingsPaths(nullptr, nullptr, 0);
  wchar_t key[MAX_PATH];
  if (applicationKey) {
    KvStrCpyNLen(key, applicationKey, MAX_PATH);
  } else {
    wchar_t app[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, app, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !KvFio_SettingsSubFolder(app, key, MAX_PATH)) {
      KvStrCpyNLen(key, PathFindFileNameW(app), MAX_PATH);
    }
  }
  if (mutex_ == INVALID_HANDLE_VALUE || !mutex_) {
    wchar_t name[MAX_PATH];
    KvFio_AccessMutexName(key, name, MAX_PATH);
    HANDLE m = CreateMutexW(nullptr, FALSE, name);
    if (!m) return LastError();
    mutex_ = m;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::InitializeDefault(DWORD flags) { return Initialize(flags, nullptr); }

HRESULT STDMETHODCALLTYPE CKvDizuVOManager::Shutdown() {
  if (mutex_ == INVALID_HANDLE_VALUE || !mutex_) return S_OK;
  LockAccess();
  if (readerEnum_) readerEnum_->Release();
  if (rendererEnum_) rendererEnum_->Release();
  if (pluginEnum_) pluginEnum_->Release();
  readerEnum_ = nullptr;
  rendererEnum_ = nullptr;
  pluginEnum_ = nullptr;
  KvFio_DestroyPluginList(plugins_);
  plugins_ = nullptr;
  DisconnectSurrogate();
  if (comInitialised_) CoUninitialize();
  comInitialised_ = false;
  UnlockAccess();
  CloseHandle(mutex_);
  mutex_ = INVALID_HANDLE_VALUE;
  return S_OK;
}

// --- Creators -------------------------------------------------------------------

namespace {

HRESULT Finish(CKvDizuVOManager* m, IKvDizuVOMgrForApp** out, HRESULT hr) {
  if (FAILED(hr)) {
    *out = nullptr;
    m->Release();
    return hr;
  }
  *out = m;
  return hr;
}

}  // namespace

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue, DWORD appNumber,
                                      const wchar_t** dlls, long count) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CKvDizuVOManager* m = new (std::nothrow) CKvDizuVOManager(false);
  if (!m) return E_OUTOFMEMORY;
  HRESULT hr = m->InitializeDefault(flags);
  if (SUCCEEDED(hr) && count > 0) {
    m->SetAppInfo(nullptr, appNumber, appValue);
    tKVLIST* list = nullptr;
    int added = 0;
    hr = m->AddPluginDLLs(&list, dlls, count, flags, &added);
    if (SUCCEEDED(hr) && added > 0) {
      hr = m->CreateEnumerators(list, 0, nullptr, 0);
      list = nullptr;
      if (SUCCEEDED(hr)) hr = m->PreloadPlugins();
      if (SUCCEEDED(hr)) m->WritePluginCache(0);
    }
    KvFio_DestroyPluginList(list);
  }
  return Finish(m, out, FAILED(hr) ? hr : S_OK);
}

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue, const wchar_t** dlls,
                                      long count) {
  return KVDizuVO_CreateInstance(out, flags, appValue, 0, dlls, count);
}

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, const wchar_t** dlls, long count) {
  return KVDizuVO_CreateInstance(out, flags, 0, 0, dlls, count);
}

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, _KVFIO_KEYED_INFO* keyed) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CKvDizuVOManager* m = new (std::nothrow) CKvDizuVOManager(false);
  if (!m) return E_OUTOFMEMORY;
  HRESULT hr = m->InitializeDefault(flags);
  if (SUCCEEDED(hr) && keyed) {
    m->SetAppInfo(keyed->appText, keyed->appNumber, keyed->appValue);
    if (m->Metrics()[0]) flags |= 4;
    m->SetInitMetrics(&keyed->metrics);
    if (m->Metrics()[0]) flags |= 4;
  }
  if (SUCCEEDED(hr) && !(flags & 0x100)) {
    tKVLIST* list = nullptr;
    int added = 0;
    hr = m->AddDefaultPluginDLLs(&list, flags, &added);
    if (SUCCEEDED(hr)) {
      hr = keyed ? m->CreateEnumerators(list, keyed->listMode, keyed->pluginIds, keyed->pluginIdCount)
                 : m->CreateEnumerators(list, 0, nullptr, 0);
      list = nullptr;
    }
    KvFio_DestroyPluginList(list);
    if (SUCCEEDED(hr)) hr = m->PreloadPlugins();
    if (SUCCEEDED(hr) && !(flags & 0x80)) {
      m->WritePluginCache(0);
      m->SetMetric(0, 0);
    }
  }
  return Finish(m, out, FAILED(hr) ? hr : S_OK);
}

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue) {
  _KVFIO_KEYED_INFO keyed = {};
  keyed.appValue = appValue;
  keyed.listMode = flags;
  return KVDizuVO_CreateInstance(out, flags, &keyed);
}

HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags) {
  return KVDizuVO_CreateInstance(out, flags, static_cast<DWORD>(0x0FFFFFFF));
}

// The class's manager knows the plug-ins: the one whose renderer id is the
// class's own names the DLL.
extern "C" HRESULT KVAPI KvFio_GetRendererModulePath(IKvRenderFileClass* cls, wchar_t* path, int cch) {
  if (!cls || !path || cch < 1) return E_INVALIDARG;
  path[0] = 0;
  GUID renderer = {};
  HRESULT hr = cls->GetRendererGuid(&renderer);
  if (FAILED(hr)) return hr;
  IKvDizuVOManager* manager = nullptr;
  hr = cls->GetDizuVOManager(&manager);
  if (FAILED(hr)) return hr;
  if (!manager) return E_UNEXPECTED;
  IKvFIOPluginEnum* plugins = nullptr;
  hr = manager->GetPluginEnum(&plugins);
  manager->Release();
  if (FAILED(hr)) return hr;
  if (!plugins) return E_UNEXPECTED;
  hr = KV_E_NOTFOUND;
  KVFIO_PLUGININFO info;
  ULONG fetched = 0;
  plugins->Reset();
  for (;;) {
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (plugins->Next(1, &info, &fetched) != S_OK || fetched != 1) break;
    if (IsEqualGUID(info.rendererId, renderer)) {
      KvStrCpyN(path, info.dllPath, cch);
      hr = S_OK;
      break;
    }
  }
  plugins->Release();
  return hr;
}
