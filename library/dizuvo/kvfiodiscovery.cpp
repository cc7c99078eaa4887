// Finding, caching, scanning and loading file-format plug-ins.
#include "kvfiodiscovery.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <initializer_list>
#include <cstring>
#include <cwchar>
#include <new>

#include "kverror.h"
#include "kvfileio.h"
#include "kvfiolist.h"
#include "kvpath.h"
#include "kvprofile.h"
#include "kvstr.h"

namespace {

HKVLANG g_moduleLanguage = nullptr;

// Classes that are never loaded as plug-ins: the plug-in info class (a
// module's description, not a plug-in), the surrogate's class, and slots for
// further ids.
const GUID kListedClasses[kKvFioListedClassCount] = {
    {0xf6e48972, 0x515b, 0x4a5e, {0xb3, 0x16, 0xa4, 0x6a, 0x03, 0xc9, 0xc3, 0xc0}},
    {0x5cdf45f4, 0x888c, 0x461a, {0x8a, 0xb2, 0x5a, 0xaa, 0x01, 0x5b, 0x46, 0x42}},
};

// The 16-byte ids of the table above that are set (unset slots are all zero).
bool IsZeroId(const GUID& id) { return KvGuidIsNull(id); }

// The machine of x86 modules that this process cannot load because their
// pointers have the other width: x86-64 modules in a 32-bit process, 32-bit
// x86 modules in a 64-bit one. Such a plug-in runs out of process.
const DWORD kOtherWidthMachine = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;

// Paths of the settings files, set once per process.
bool g_settingsDone = false;
wchar_t g_cachePath[MAX_PATH] = {};
wchar_t g_metricsPath[MAX_PATH] = {};

void FreeRecordContents(KvFioPluginRecord* r) {
  if (r->reader.classObject) r->reader.classObject->Release();
  if (r->renderer.classObject) r->renderer.classObject->Release();
  r->reader.classObject = r->renderer.classObject = nullptr;
  if (r->factory) r->factory->Release();
  r->factory = nullptr;
  if (r->module) FreeLibrary(r->module);
  r->module = nullptr;
  KvFio_FreeText(r->dialogName);
  KvFio_FreeText(r->preloadModules);
  KvFio_FreeText(r->reader.extensions);
  KvFio_FreeText(r->renderer.extensions);
  r->dialogName = r->preloadModules = r->reader.extensions = r->renderer.extensions = nullptr;
}

// A copy of `source` for a further plug-in of the same DLL: own texts, no
// module, factory or class objects, not the DLL's first record.
void CopyRecordForSibling(const KvFioPluginRecord& source, KvFioPluginRecord* copy) {
  *copy = source;
  copy->module = nullptr;
  copy->factory = nullptr;
  copy->reader.classObject = copy->renderer.classObject = nullptr;
  copy->dialogName = KvFio_CopyText(source.dialogName);
  copy->preloadModules = KvFio_CopyText(source.preloadModules);
  copy->reader.extensions = KvFio_CopyText(source.reader.extensions);
  copy->renderer.extensions = KvFio_CopyText(source.renderer.extensions);
  copy->state &= ~KVFIO_PLUGIN_FIRST_OF_DLL;
}

// Inserts a copy of `record` (the list allocates it) at `index`.
HRESULT InsertRecord(tKVLIST* list, const KvFioPluginRecord& record, int index) {
  return KvList_AllocAndInsertItem(list, &record, sizeof(record), index, nullptr);
}

// The DLL section's name: the DLL's file name without extension.
void DllSectionName(const wchar_t* dllPath, wchar_t* out, int cch) {
  KvStrCpyNLen(out, PathFindFileNameW(dllPath), cch);
  PathRemoveExtensionW(out);
}

// Splits the cache path into folder and file name for CKvProfile.
struct CachePlace {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  explicit CachePlace(const wchar_t* path) {
    KvStrCpyNLen(folder, path, MAX_PATH);
    KvStrCpyNLen(name, PathFindFileNameW(path), MAX_PATH);
    PathRemoveFileSpecW(folder);
  }
};

}  // namespace

const GUID* KvFio_ListedClasses() { return kListedClasses; }

bool KvFio_IsListedClass(const GUID& id) {
  for (const GUID& listed : kListedClasses)
    if (!IsZeroId(listed) && KvFio_SameIdPrefix(listed, id)) return true;
  return false;
}

extern "C" void KVAPI KvFio_SetModuleLanguage(HKVLANG lang) { g_moduleLanguage = lang; }

HKVLANG KvFio_ModuleLanguage() { return g_moduleLanguage; }

LCID KvFio_ModuleLCID() {
  if (g_moduleLanguage) {
    LCID lcid = KvLang_GetLCID(g_moduleLanguage);
    if (lcid) return lcid;
  }
  return GetUserDefaultLCID();
}

// --- Lists ----------------------------------------------------------------

HRESULT KvFio_CreatePluginList(tKVLIST** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return KvList_CreateExZ(out, sizeof(void*), 8, 8, KVLIST_ALLOCATED_ITEMS, 0, 0, 0);
}

void KvFio_DestroyPluginList(tKVLIST* list) {
  if (!list) return;
  // Class objects first, then the modules that carry their code.
  for (int i = 0; i < list->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    if (r->reader.classObject) r->reader.classObject->Release();
    if (r->renderer.classObject) r->renderer.classObject->Release();
    r->reader.classObject = r->renderer.classObject = nullptr;
  }
  for (int i = 0; i < list->count; ++i) FreeRecordContents(KvFio_RecordAt(list, i));
  KvList_Destroy(list);
}

wchar_t* KvFio_CopyText(const wchar_t* text) {
  if (!text) return nullptr;
  size_t n = wcslen(text);
  wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
  if (copy) memcpy(copy, text, (n + 1) * sizeof(wchar_t));
  return copy;
}

void KvFio_FreeText(const wchar_t* text) { delete[] text; }

void KvFio_SetText(const wchar_t** field, const wchar_t* text) {
  const wchar_t* old = *field;
  *field = KvFio_CopyText(text);
  KvFio_FreeText(old);
}

void KvFio_GuidText(const GUID& id, wchar_t* out) {
  if (!StringFromGUID2(id, out, 39)) out[0] = 0;
}

HRESULT KvFio_AddPluginCandidate(tKVLIST* list, const wchar_t* path, int* index) {
  if (index) *index = -1;
  if (!list || !path || !*path) return E_INVALIDARG;
  KvFioPluginRecord r = {};
  r.size = sizeof(r);
  r.version = KVFIO_PLUGIN_RECORD_VERSION;
  r.language = KvFio_ModuleLCID();
  r.reader.index = r.renderer.index = -1;
  KvStrCpyNLen(r.dllPath, path, 260);
  // A file name without an extension names a DLL.
  if (!*PathFindExtensionW(PathFindFileNameW(r.dllPath)) && wcslen(r.dllPath) + 4 < 260) wcscat(r.dllPath, L".dll");
  for (int i = 0; i < list->count; ++i)
    if (lstrcmpiW(KvFio_RecordAt(list, i)->dllPath, r.dllPath) == 0) return S_FALSE;
  r.modTime = KvDosGetDateTimeUTC(r.dllPath);
  if (r.modTime == 0) return S_FALSE;
  r.state = KVFIO_PLUGIN_FIRST_OF_DLL;
  DWORD machine = 0;
  if (SUCCEEDED(KvGetFileExecutableInfo(r.dllPath, &machine, nullptr))) {
    if (machine == kOtherWidthMachine) r.state |= KVFIO_PLUGIN_OTHER_WIDTH;
  } else {
    r.state |= KVFIO_PLUGIN_UNUSABLE;
  }
  HRESULT hr = InsertRecord(list, r, -1);
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : E_OUTOFMEMORY;
  if (index) *index = list->count - 1;
  return S_OK;
}

HRESULT KVAPI KvFio_SetPluginCandidateDLLs(tKVLIST** out, const wchar_t** paths, long count) {
  if (!out) return E_POINTER;
  HRESULT hr = KvFio_CreatePluginList(out);
  if (FAILED(hr)) return hr;
  if (count > 0 && !paths) return E_INVALIDARG;
  for (long i = 0; i < count; ++i) {
    hr = KvFio_AddPluginCandidate(*out, paths[i], nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT KVAPI KvFio_SetPluginCandidateDLLs(tKVLIST** out, tKVLIST* paths) {
  if (!out) return E_POINTER;
  HRESULT hr = KvFio_CreatePluginList(out);
  if (FAILED(hr) || !paths) return hr;
  for (int i = 0; i < paths->count; ++i) {
    hr = KvFio_AddPluginCandidate(*out, reinterpret_cast<const wchar_t**>(paths->items)[i], nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

namespace {

// The folder of the module that carries this code.
void OwnModuleFolder(wchar_t* out, DWORD cch) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModuleFolder), &self);
  DWORD n = GetModuleFileNameW(self, out, cch);
  if (n == 0 || n >= cch) out[0] = 0;
  PathRemoveFileSpecW(out);
}

HRESULT EnsureList(tKVLIST** list) {
  if (!list) return E_POINTER;
  return *list ? S_OK : KvFio_CreatePluginList(list);
}

}  // namespace

HRESULT KvFio_FindPluginConfigFilesIn(tKVLIST** list, const wchar_t* folder) {
  HRESULT hr = EnsureList(list);
  if (FAILED(hr)) return hr;
  wchar_t dir[MAX_PATH];
  if (folder) KvStrCpyNLen(dir, folder, MAX_PATH);
  else OwnModuleFolder(dir, MAX_PATH);
  wchar_t pattern[MAX_PATH];
  if (!PathCombineW(pattern, dir, L"*.Duv2007-Config")) return E_INVALIDARG;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return S_OK;
  hr = S_OK;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    wchar_t file[MAX_PATH];
    if (!PathCombineW(file, dir, found.cFileName)) continue;
    const DWORD kNameChars = 8320;
    wchar_t* keys = new (std::nothrow) wchar_t[kNameChars + 2];
    if (!keys) {
      hr = E_OUTOFMEMORY;
      break;
    }
    DWORD got = GetPrivateProfileStringW(L"DizuVO Plug-Ins", nullptr, L"", keys, kNameChars, file);
    keys[got] = 0;
    keys[got + 1] = 0;
    int forceDefault = static_cast<int>(GetPrivateProfileIntW(L"Default", L"ForceOutOfProcess", 0, file));
    for (const wchar_t* key = keys; *key; key += wcslen(key) + 1) {
      wchar_t value[MAX_PATH] = {};
      GetPrivateProfileStringW(L"DizuVO Plug-Ins", key, L"", value, MAX_PATH, file);
      if (!*value) continue;
      wchar_t path[MAX_PATH];
      if (!PathCombineW(path, dir, value)) KvStrCpyNLen(path, value, MAX_PATH);
      int index = -1;
      hr = KvFio_AddPluginCandidate(*list, path, &index);
      if (FAILED(hr)) break;
      if (index >= 0) {
        KvFioPluginRecord* r = KvFio_RecordAt(*list, index);
        if (GetPrivateProfileIntW(key, L"ForceOutOfProcess", forceDefault, file)) r->state |= KVFIO_PLUGIN_FORCED_OUT;
        else r->state &= ~KVFIO_PLUGIN_FORCED_OUT;
      }
    }
    delete[] keys;
    if (FAILED(hr)) break;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT KvFio_FindPluginConfigFiles(tKVLIST** list) { return KvFio_FindPluginConfigFilesIn(list, nullptr); }

HRESULT KvFio_FindPluginDLLs(tKVLIST** list, const wchar_t* folder) {
  HRESULT hr = EnsureList(list);
  if (FAILED(hr)) return hr;
  if (!folder) return E_INVALIDARG;
  wchar_t pattern[MAX_PATH];
  if (!PathCombineW(pattern, folder, L"*.dll")) return E_INVALIDARG;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return S_OK;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    wchar_t path[MAX_PATH];
    if (!PathCombineW(path, folder, found.cFileName)) continue;
    hr = KvFio_AddPluginCandidate(*list, path, nullptr);
    if (FAILED(hr)) break;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return FAILED(hr) ? hr : S_OK;
}

// --- Settings paths ----------------------------------------------------------

bool KvFio_SettingsSubFolder(const wchar_t* appPath, wchar_t* out, int cch) {
  out[0] = 0;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(appPath, &ignored);
  if (size == 0) return false;
  BYTE* data = new (std::nothrow) BYTE[size];
  if (!data) return false;
  bool ok = false;
  if (GetFileVersionInfoW(appPath, 0, size, data)) {
    WORD language = 0x0409, codePage = 0x04E4;
    void* value = nullptr;
    UINT len = 0;
    if (VerQueryValueW(data, L"\\VarFileInfo\\Translation", &value, &len) && len >= 4) {
      language = static_cast<WORD*>(value)[0];
      codePage = static_cast<WORD*>(value)[1];
    }
    wchar_t query[64];
    _snwprintf(query, 64, L"\\StringFileInfo\\%04hX%04hX\\ProductName", language, codePage);
    query[63] = 0;
    const wchar_t* product = L"";
    if (VerQueryValueW(data, query, &value, &len) && value && len > 0) product = static_cast<const wchar_t*>(value);
    if (wcsncmp(product, L"Orvane ", 7) == 0) product += 7;
    VS_FIXEDFILEINFO* fixed = nullptr;
    DWORD major = 0, minor = 0;
    if (VerQueryValueW(data, L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed && len >= sizeof(*fixed)) {
      major = HIWORD(fixed->dwFileVersionMS);
      minor = LOWORD(fixed->dwFileVersionMS);
    }
    _snwprintf(out, cch, L"Orvane\\%ls\\%lu.%lu", product, major, minor);
    out[cch - 1] = 0;
    ok = true;
  }
  delete[] data;
  return ok;
}

namespace {

// `base` + "\" + `sub`, created when missing.
bool MakeUserFolder(int csidl, const wchar_t* sub, wchar_t* out) {
  wchar_t base[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, base))) return false;
  if (!PathCombineW(out, base, sub)) return false;
  if (GetFileAttributesW(out) != INVALID_FILE_ATTRIBUTES) return true;
  return SHCreateDirectoryExW(nullptr, out, nullptr) == ERROR_SUCCESS;
}

}  // namespace

HRESULT KvFio_InitSettingsPaths(const wchar_t* appPath, const wchar_t* subFolder, DWORD flags) {
  if (g_settingsDone) return S_FALSE;
  wchar_t app[MAX_PATH];
  if (appPath) {
    KvStrCpyNLen(app, appPath, MAX_PATH);
  } else {
    DWORD n = GetModuleFileNameW(nullptr, app, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return KvErrorHandler_TranslateWin32Error(GetLastError());
  }
  wchar_t sub[MAX_PATH];
  if (subFolder) KvStrCpyNLen(sub, subFolder, MAX_PATH);
  else if (!KvFio_SettingsSubFolder(app, sub, MAX_PATH)) sub[0] = 0;
  bool placed = false;
  if (!(flags & KVFIO_SETTINGS_NO_USER_FOLDERS) && sub[0]) {
    wchar_t metrics[MAX_PATH], cache[MAX_PATH];
    if (MakeUserFolder(CSIDL_APPDATA, sub, metrics) && MakeUserFolder(CSIDL_LOCAL_APPDATA, sub, cache) &&
        PathCombineW(g_metricsPath, metrics, L"FFMetrics.ini") && PathCombineW(g_cachePath, cache, L"FFCache.ini"))
      placed = true;
  }
  if (!placed) {
    // Beside the application, named after it: "host.exe FFCache.ini".
    wchar_t folder[MAX_PATH];
    KvStrCpyNLen(folder, app, MAX_PATH);
    PathRemoveFileSpecW(folder);
    const wchar_t* name = PathFindFileNameW(app);
    wchar_t file[MAX_PATH];
    _snwprintf(file, MAX_PATH, L"%ls%ls FFMetrics.ini", name, L"");
    file[MAX_PATH - 1] = 0;
    if (!PathCombineW(g_metricsPath, folder, file)) g_metricsPath[0] = 0;
    _snwprintf(file, MAX_PATH, L"%ls%ls FFCache.ini", name, L"");
    file[MAX_PATH - 1] = 0;
    if (!PathCombineW(g_cachePath, folder, file)) g_cachePath[0] = 0;
  }
  g_settingsDone = true;
  return S_OK;
}

const wchar_t* KvFio_CacheFilePath() { return g_cachePath; }
const wchar_t* KvFio_MetricsFilePath() { return g_metricsPath; }

// --- The cache ------------------------------------------------------------

namespace {

// Modification times are 32-bit DOS date-times: written as unsigned decimals.
void WriteUnsigned(CKvProfile& profile, const wchar_t* key, DWORD value) {
  wchar_t text[16];
  _snwprintf(text, 16, L"%lu", static_cast<unsigned long>(value));
  text[15] = 0;
  profile.WriteString(key, text);
}

DWORD ReadUnsigned(CKvProfile& profile, const wchar_t* key) {
  wchar_t text[32] = {};
  profile.GetString(key, L"", text, 32);
  wchar_t* end = nullptr;
  unsigned long v = wcstoul(text, &end, 10);
  return (end && end != text && *end == 0) ? static_cast<DWORD>(v) : 0;
}

}  // namespace

HRESULT KvFio_SavePluginCache(tKVLIST* list, DWORD flags, const wchar_t* cachePath) {
  if (!list) return S_OK;
  if (list->count == 0) return S_FALSE;
  if (!cachePath) cachePath = KvFio_CacheFilePath();
  if (!cachePath || !*cachePath) return E_UNEXPECTED;
  CachePlace place(cachePath);
  CKvProfile profile(place.folder, place.name);
  if (flags & 2) profile.RemoveFile();
  for (int i = 0; i < list->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    if (!(flags & 1) && !(r->state & KVFIO_PLUGIN_CHANGED)) continue;
    wchar_t dll[MAX_PATH];
    DllSectionName(r->dllPath, dll, MAX_PATH);
    wchar_t id[40];
    KvFio_GuidText(r->pluginId, id);
    // Write errors are not returned: a cache that cannot be written only
    // costs a scan at the next start.
    profile.SetSection(dll);
    if (r->state & KVFIO_PLUGIN_FIRST_OF_DLL) {
      profile.ClearSection();
      profile.WriteString(L"Path", r->dllPath);
      WriteUnsigned(profile, L"ModTime", r->modTime);
    }
    if (!(r->state & KVFIO_PLUGIN_UNUSABLE)) {
      profile.WriteGUID(nullptr, r->pluginId, r->displayName);
      wchar_t sub[MAX_PATH + 48];
      _snwprintf(sub, MAX_PATH + 48, L"%ls.%ls", dll, id);
      sub[MAX_PATH + 47] = 0;
      profile.SetSection(sub);
      profile.WriteInt(L"Access", static_cast<int>(r->access));
      profile.WriteInt(L"Flags", static_cast<int>(r->pluginFlags));
      profile.WriteInt(L"StreamType", static_cast<int>(r->streamType));
      profile.WriteInt(L"AppLevel", static_cast<int>(r->appLevel));
      profile.SetSection(id);
      profile.ClearSection();
      profile.WriteString(L"DialogName", r->dialogName ? r->dialogName : L"");
      profile.WriteInt(L"LangID", static_cast<int>(r->language));
      WriteUnsigned(profile, L"ModTime", r->modTime);
      profile.WriteString(L"PreloadModules", r->preloadModules ? r->preloadModules : L"");
      static const GUID zero = {};
      if ((r->access & KVFIO_ACCESS_READER) && memcmp(&r->reader.classId, &zero, sizeof zero) != 0) {
        profile.WriteGUID(L"Reader", r->reader.classId, nullptr);
        profile.WriteString(L"ExtReader", r->reader.extensions ? r->reader.extensions : L"");
      }
      if ((r->access & KVFIO_ACCESS_RENDERER) && memcmp(&r->renderer.classId, &zero, sizeof zero) != 0) {
        profile.WriteGUID(L"Renderer", r->renderer.classId, nullptr);
        profile.WriteString(L"ExtRenderer", r->renderer.extensions ? r->renderer.extensions : L"");
      }
    }
    r->state &= ~KVFIO_PLUGIN_CHANGED;
  }
  return S_OK;
}

namespace {

// Fills `r` (a record of a DLL's plug-in `id`) from the cache. False when the
// entry is incomplete or outdated (the DLL must then be scanned again).
bool ReadCachedPlugin(CKvProfile& profile, const wchar_t* dll, DWORD dllModTime, const GUID& id,
                      KvFioPluginRecord* r) {
  r->pluginId = id;
  wchar_t idText[40];
  KvFio_GuidText(id, idText);
  if (KvFio_IsListedClass(id)) {
    r->state |= KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_LISTED;
    return true;
  }
  profile.SetSection(dll);
  profile.GetString(idText, L"", r->displayName, 260);
  wchar_t sub[MAX_PATH + 48];
  _snwprintf(sub, MAX_PATH + 48, L"%ls.%ls", dll, idText);
  sub[MAX_PATH + 47] = 0;
  profile.SetSection(sub);
  int access = profile.GetInt(L"Access", -1);
  int flags = profile.GetInt(L"Flags", -1);
  int streamType = profile.GetInt(L"StreamType", -1);
  int appLevel = profile.GetInt(L"AppLevel", 0);
  if (access == -1 || flags == -1 || streamType == -1 || appLevel == 0) return false;
  r->access = static_cast<DWORD>(access);
  r->pluginFlags = static_cast<DWORD>(flags);
  r->streamType = static_cast<DWORD>(streamType);
  r->appLevel = static_cast<DWORD>(appLevel);
  profile.SetSection(idText);
  wchar_t text[1024];
  profile.GetString(L"DialogName", L"", text, 1024);
  KvFio_SetText(&r->dialogName, text[0] ? text : nullptr);
  profile.GetString(L"PreloadModules", L"", text, 1024);
  KvFio_SetText(&r->preloadModules, text[0] ? text : nullptr);
  DWORD modTime = ReadUnsigned(profile, L"ModTime");
  LCID lang = static_cast<LCID>(profile.GetInt(L"LangID", 0));
  if (modTime != dllModTime || lang != KvFio_ModuleLCID()) {
    r->state |= KVFIO_PLUGIN_CHANGED;
    r->preload |= 1;
  }
  GUID classId = {};
  if (profile.GetGUID(L"Reader", &classId, 1) == 1) {
    r->reader.classId = classId;
    profile.GetString(L"ExtReader", L"", text, 1024);
    KvFio_SetText(&r->reader.extensions, text[0] ? text : nullptr);
  }
  if (profile.GetGUID(L"Renderer", &classId, 1) == 1) {
    r->renderer.classId = classId;
    profile.GetString(L"ExtRenderer", L"", text, 1024);
    KvFio_SetText(&r->renderer.extensions, text[0] ? text : nullptr);
  }
  return !(r->state & KVFIO_PLUGIN_CHANGED);
}

}  // namespace

HRESULT KvFio_ReadPluginCache(tKVLIST* list, int* complete, const wchar_t* cachePath) {
  if (!list || !complete) return E_POINTER;
  *complete = 1;
  if (!cachePath) cachePath = KvFio_CacheFilePath();
  bool haveFile = cachePath && *cachePath && GetFileAttributesW(cachePath) != INVALID_FILE_ATTRIBUTES;
  if (!haveFile) {
    for (int i = 0; i < list->count; ++i) KvFio_RecordAt(list, i)->state |= KVFIO_PLUGIN_NOT_CACHED;
    *complete = 0;
    return S_OK;
  }
  CachePlace place(cachePath);
  CKvProfile profile(place.folder, place.name);
  for (int i = 0; i < list->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    if (!(r->state & KVFIO_PLUGIN_FIRST_OF_DLL)) continue;
    wchar_t dll[MAX_PATH];
    DllSectionName(r->dllPath, dll, MAX_PATH);
    profile.SetSection(dll);
    wchar_t path[MAX_PATH] = {};
    profile.GetString(L"Path", L"", path, MAX_PATH);
    DWORD modTime = ReadUnsigned(profile, L"ModTime");
    if (modTime != r->modTime || lstrcmpiW(path, r->dllPath) != 0) {
      r->state |= KVFIO_PLUGIN_NOT_CACHED;
      *complete = 0;
      continue;
    }
    GUID ids[16];
    int n = profile.GetGUID(nullptr, ids, 16);
    if (n == 0) {
      // The DLL was cached as giving no usable plug-in: keep it unusable, unloaded.
      r->state |= KVFIO_PLUGIN_UNUSABLE;
      r->state &= ~KVFIO_PLUGIN_NOT_CACHED;
      continue;
    }
    // Copies for the further plug-ins, made before the first record is filled.
    KvFioPluginRecord* copies = new (std::nothrow) KvFioPluginRecord[n > 1 ? n - 1 : 1];
    if (!copies) return E_OUTOFMEMORY;
    for (int k = 1; k < n; ++k) CopyRecordForSibling(*r, &copies[k - 1]);
    bool dllComplete = ReadCachedPlugin(profile, dll, r->modTime, ids[0], r);
    for (int k = 1; k < n; ++k)
      if (!ReadCachedPlugin(profile, dll, r->modTime, ids[k], &copies[k - 1])) dllComplete = false;
    HRESULT hr = S_OK;
    if (dllComplete) {
      for (int k = 1; k < n && SUCCEEDED(hr); ++k) {
        copies[k - 1].state &= ~(KVFIO_PLUGIN_NOT_CACHED | KVFIO_PLUGIN_FIRST_OF_DLL);
        hr = InsertRecord(list, copies[k - 1], i + k);
        if (SUCCEEDED(hr)) copies[k - 1] = KvFioPluginRecord{};  // the list owns its texts now
      }
      r->state &= ~KVFIO_PLUGIN_NOT_CACHED;
      if (SUCCEEDED(hr)) i += n - 1;
    } else {
      r->state |= KVFIO_PLUGIN_NOT_CACHED;
      *complete = 0;
    }
    for (int k = 1; k < n; ++k) FreeRecordContents(&copies[k - 1]);
    delete[] copies;
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// --- Scanning and loading ---------------------------------------------------

HRESULT KvFio_LoadPluginModule(KvFioPluginRecord* record, const GUID* classId, REFIID iid, void** out) {
  if (!record || !out) return E_POINTER;
  *out = nullptr;
  record->state &= ~KVFIO_PLUGIN_IN_SURROGATE;
  const GUID& cls = classId ? *classId : record->pluginId;
  if (!record->factory) {
    wchar_t previous[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryW(MAX_PATH, previous);
    wchar_t folder[MAX_PATH];
    KvStrCpyNLen(folder, record->dllPath, MAX_PATH);
    PathRemoveFileSpecW(folder);
    SetCurrentDirectoryW(folder);
    HRESULT hr = S_OK;
    bool loadedHere = false;
    // Modules to load first: a ";"-separated list of names or paths. They
    // stay loaded for the life of the process.
    if (!record->module && record->preloadModules) {
      wchar_t names[1024];
      KvStrCpyNLen(names, record->preloadModules, 1024);
      kvfiolist::Tokens modules(names, kvfiolist::kLeadingSpaces);
      const wchar_t* start;
      int length;
      while (SUCCEEDED(hr) && modules.Next(&start, &length)) {
        wchar_t name[1024];
        memcpy(name, start, length * sizeof(wchar_t));
        name[length] = 0;
        if (!LoadLibraryW(name)) hr = KvErrorHandler_TranslateWin32Error(GetLastError());
      }
    }
    if (SUCCEEDED(hr) && !record->module) {
      record->module = LoadLibraryExW(record->dllPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (!record->module) hr = E_UNEXPECTED;
      else loadedHere = true;
    }
    if (SUCCEEDED(hr)) {
      typedef HRESULT(__stdcall * GetClassObjectProc)(REFCLSID, REFIID, void**);
      GetClassObjectProc get =
          reinterpret_cast<GetClassObjectProc>(reinterpret_cast<void*>(GetProcAddress(record->module, "DllGetClassObject")));
      if (!get) hr = E_NOINTERFACE;
      else hr = get(cls, IID_IClassFactory, reinterpret_cast<void**>(&record->factory));
      if (SUCCEEDED(hr) && !record->factory) hr = E_NOINTERFACE;
    }
    if (FAILED(hr)) {
      if (record->factory) record->factory->Release();
      record->factory = nullptr;
      if (record->module && loadedHere) FreeLibrary(record->module);
      if (loadedHere) record->module = nullptr;
    }
    if (n > 0 && n < MAX_PATH) SetCurrentDirectoryW(previous);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = record->factory->CreateInstance(nullptr, iid, out);
  if (SUCCEEDED(hr) && !*out) hr = E_NOINTERFACE;
  return hr;
}

namespace {

// Scans one DLL whose first record is at `index`; the number of records the
// DLL now has goes to *records.
HRESULT ScanDll(tKVLIST* list, int index, int* records, KvFioSurrogateLink* link) {
  *records = 1;
  KvFioPluginRecord* first = KvFio_RecordAt(list, index);
  first->state &= ~KVFIO_PLUGIN_CHANGED;
  const bool outOfProcess = (first->state & (KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT)) != 0;
  if (outOfProcess && !link) {
    // Out-of-process plug-ins need the surrogate process: without a manager
    // to start it the DLL stays unusable and is cached as such.
    first->state |= KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_CHANGED;
    return S_OK;
  }
  if ((first->state & KVFIO_PLUGIN_UNUSABLE) && !(first->state & KVFIO_PLUGIN_LISTED)) {
    // Not an executable: nothing to ask.
    first->state |= KVFIO_PLUGIN_CHANGED;
    return S_OK;
  }
  // The working copy holds the DLL while it describes itself.
  KvFioPluginRecord work = {};
  CopyRecordForSibling(*first, &work);
  work.module = first->module;
  first->module = nullptr;
  IKvUnsharedFIOPluginInfo* info = nullptr;
  // A DLL that must not run in the host describes itself from the surrogate.
  HRESULT hr = outOfProcess ? link->CreateInSurrogate(&work, &CLSID_KvUnsharedFIOPluginInfo,
                                                      IID_IKvUnsharedFIOPluginInfo, reinterpret_cast<void**>(&info))
                            : KvFio_LoadPluginModule(&work, &CLSID_KvUnsharedFIOPluginInfo,
                                                     IID_IKvUnsharedFIOPluginInfo, reinterpret_cast<void**>(&info));
  if (outOfProcess && (work.state & KVFIO_PLUGIN_IN_SURROGATE)) first->state |= KVFIO_PLUGIN_IN_SURROGATE;
  auto finish = [&](HRESULT result) {
    if (info) info->Release();
    info = nullptr;
    if (work.factory) work.factory->Release();
    work.factory = nullptr;
    HMODULE module = work.module;
    work.module = nullptr;
    FreeRecordContents(&work);
    // The first record keeps the DLL loaded while any of its plug-ins is usable.
    bool usable = false;
    for (int k = 0; k < *records; ++k)
      if (!(KvFio_RecordAt(list, index + k)->state & KVFIO_PLUGIN_UNUSABLE)) usable = true;
    if (module) {
      if (usable) KvFio_RecordAt(list, index)->module = module;
      else FreeLibrary(module);
    }
    return result;
  };
  if (FAILED(hr)) {
    first->state |= KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_CHANGED;
    return finish(hr == E_OUTOFMEMORY ? hr : S_OK);
  }
  first->state |= KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_CHANGED;
  UINT count = 0;
  hr = info->Initialize(0, 0, 0);
  if (SUCCEEDED(hr)) hr = info->GetItemCount(&count);
  if (FAILED(hr)) return finish(S_OK);
  if (count > 64) count = 64;
  const DWORD dllState =
      first->state & (KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT | KVFIO_PLUGIN_IN_SURROGATE);
  int made = 0;
  for (UINT item = 0; item < count; ++item) {
    GUID id = {};
    wchar_t name[260] = {};
    DWORD access = 0, streamType = 0, appLevel = 0, v4 = 0, v5 = 0, v6 = 0, zero = 0, last = 0;
    if (FAILED(info->GetItem(static_cast<int>(item), &id, name, 260, &access, &streamType, &appLevel, &v4, &v5, &v6,
                             &zero, &last)))
      continue;
    name[259] = 0;
    KvFioPluginRecord* r = nullptr;
    if (made == 0) {
      // The first plug-in reuses the candidate's record; what an outdated
      // cache entry left in it is dropped.
      r = KvFio_RecordAt(list, index);
      KvFio_SetText(&r->dialogName, nullptr);
      for (KvFioClassEntry* e : {&r->reader, &r->renderer}) {
        if (e->classObject) e->classObject->Release();
        KvFio_SetText(&e->extensions, nullptr);
        *e = KvFioClassEntry{{}, -1, nullptr, 0, nullptr};
      }
    } else {
      KvFioPluginRecord sibling = {};
      CopyRecordForSibling(*KvFio_RecordAt(list, index), &sibling);
      sibling.reader = KvFioClassEntry{{}, -1, nullptr, 0, nullptr};
      sibling.renderer = KvFioClassEntry{{}, -1, nullptr, 0, nullptr};
      KvFio_FreeText(sibling.dialogName);
      sibling.dialogName = nullptr;
      HRESULT ins = InsertRecord(list, sibling, index + made);
      if (FAILED(ins)) {
        FreeRecordContents(&sibling);
        return finish(E_OUTOFMEMORY);
      }
      r = KvFio_RecordAt(list, index + made);
    }
    ++made;
    *records = made;
    r->pluginId = id;
    KvStrCpyNLen(r->displayName, name, 260);
    r->access = access;
    r->streamType = streamType;
    r->appLevel = appLevel;
    r->pluginFlags = v4;
    r->state = (r->state & KVFIO_PLUGIN_FIRST_OF_DLL) | KVFIO_PLUGIN_CHANGED | dllState;
    if (KvFio_IsListedClass(id)) r->state |= KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_LISTED;
    else r->preload |= 1;
  }
  return finish(S_OK);
}

}  // namespace

HRESULT KvFio_LoadPluginInfo(tKVLIST* list, BOOL force, IKvDizuVOManager*, KvFioSurrogateLink* link) {
  if (!list) return E_POINTER;
  for (int i = 0; i < list->count;) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    const DWORD wanted = KVFIO_PLUGIN_NOT_CACHED | KVFIO_PLUGIN_FIRST_OF_DLL;
    bool scan = (r->state & KVFIO_PLUGIN_FIRST_OF_DLL) && (force || (r->state & wanted) == wanted);
    if (!scan) {
      ++i;
      continue;
    }
    r->state &= ~KVFIO_PLUGIN_NOT_CACHED;
    int records = 1;
    HRESULT hr = ScanDll(list, i, &records, link);
    if (hr == E_OUTOFMEMORY) return hr;
    i += records;
  }
  return S_OK;
}

HRESULT KvFio_RegisterPlugins(tKVLIST* list, DWORD flags, IKvDizuVOManager* manager, const wchar_t* cachePath,
                              KvFioSurrogateLink* link) {
  if (!list || list->count == 0) return S_OK;
  bool forced = (flags & 0x84) != 0;
  if (!forced) {
    int complete = 0;
    HRESULT hr = KvFio_ReadPluginCache(list, &complete, cachePath);
    if (SUCCEEDED(hr) && complete) return S_OK;
    if (hr == E_OUTOFMEMORY) return hr;
  }
  return KvFio_LoadPluginInfo(list, forced ? TRUE : FALSE, manager, link);
}

namespace {

// Info texts asked of a class whose record lacks them: the file pattern
// (extension list), the dialog name, the short name.
const KVFIO_FILECLASS_INFO_TEXT kInfoTextIds[3] = {4, 2, 1};

HRESULT ClassId(IKvReadFileClass* face, GUID* id) { return face->GetReaderGuid(id); }
HRESULT ClassId(IKvRenderFileClass* face, GUID* id) { return face->GetRendererGuid(id); }

// The reader and renderer faces share the slots used here.
template <typename Face>
HRESULT LoadEntry(KvFioPluginRecord* record, KvFioClassEntry* entry, IKvDizuVOManager* manager, REFIID iid,
                  KvFioSurrogateLink* link) {
  Face* face = nullptr;
  // Out of process the class object comes from the surrogate, in a blanket
  // that answers the manager slots on this side.
  HRESULT hr = link ? link->CreateInSurrogate(record, nullptr, iid, reinterpret_cast<void**>(&face))
                    : KvFio_LoadPluginModule(record, nullptr, iid, reinterpret_cast<void**>(&face));
  if (SUCCEEDED(hr)) hr = face->SetDizuVOManager(manager);
  if (FAILED(hr)) {
    if (face) face->Release();
    return hr;
  }
  IUnknown* object = nullptr;
  face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&object));
  if (!object) {
    face->Release();
    return E_NOINTERFACE;
  }
  if (entry->classObject) entry->classObject->Release();
  entry->classObject = object;
  GUID id = {};
  if (SUCCEEDED(ClassId(face, &id)) && memcmp(&id, &entry->classId, sizeof id) != 0) {
    record->state |= KVFIO_PLUGIN_CHANGED;
    entry->classId = id;
  }
  if (!entry->extensions || !record->dialogName) {
    BSTR texts[3] = {};
    if (SUCCEEDED(face->GetInfoTexts(kInfoTextIds, 3, texts))) {
      if (!entry->extensions && texts[0]) {
        wchar_t list[1024];
        kvfiolist::Normalise(texts[0], list, 1024);
        KvFio_SetText(&entry->extensions, list);
      }
      if (!record->dialogName && texts[1]) KvFio_SetText(&record->dialogName, texts[1]);
      record->state |= KVFIO_PLUGIN_CHANGED;
    }
    for (BSTR t : texts)
      if (t) SysFreeString(t);
  }
  hr = face->SetClassIndex(static_cast<DWORD>(entry->index));
  face->Release();
  return SUCCEEDED(hr) ? S_OK : hr;
}

// Plug-ins that need another plug-in's reader loaded first.
const GUID kNeedsBaseReader[2] = {
    {0x341d000d, 0x95ca, 0x458a, {0xac, 0x65, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}},
    {0x34efd06f, 0xe6d9, 0x4712, {0x8c, 0x22, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}},
};
const GUID kBaseReaderPlugin = {0xaeb1c9fc, 0x78ea, 0x4ab1, {0xaa, 0xe7, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}};

}  // namespace

HRESULT KvFio_LoadClassEntry(tKVLIST* list, KvFioPluginRecord* record, bool renderer, IKvDizuVOManager* manager,
                             KvFioSurrogateLink* link) {
  if (!record) return E_POINTER;
  KvFioClassEntry* entry = renderer ? &record->renderer : &record->reader;
  if (entry->loadState != KVFIO_LOAD_NOT_CREATED) {
    return entry->loadState == KVFIO_LOAD_CREATED ? S_OK : KV_E_PLUGINNOTINITIALIZED;
  }
  HRESULT hr = S_OK;
  if (list && (IsEqualGUID(record->pluginId, kNeedsBaseReader[0]) || IsEqualGUID(record->pluginId, kNeedsBaseReader[1]))) {
    KvFioPluginRecord* base = nullptr;
    for (int i = 0; i < list->count && !base; ++i)
      if (IsEqualGUID(KvFio_RecordAt(list, i)->pluginId, kBaseReaderPlugin)) base = KvFio_RecordAt(list, i);
    if (!base || FAILED(KvFio_LoadClassEntry(list, base, false, manager, link))) hr = KV_E_PLUGINNOTINITIALIZED;
  }
  if (SUCCEEDED(hr) && (record->state & KVFIO_PLUGIN_UNUSABLE)) hr = KV_E_PLUGINNOTINITIALIZED;
  // Out-of-process plug-ins are served by the surrogate process, which only
  // a manager with a link to it can reach.
  const bool outOfProcess = (record->state & (KVFIO_PLUGIN_OTHER_WIDTH | KVFIO_PLUGIN_FORCED_OUT)) != 0;
  if (SUCCEEDED(hr) && outOfProcess && !link) hr = REGDB_E_CLASSNOTREG;
  KvFioSurrogateLink* via = outOfProcess ? link : nullptr;
  if (SUCCEEDED(hr)) {
    hr = renderer ? LoadEntry<IKvRenderFileClass>(record, entry, manager, IID_IKvRenderFileClass, via)
                  : LoadEntry<IKvReadFileClass>(record, entry, manager, IID_IKvReadFileClass, via);
  }
  entry->loadState = SUCCEEDED(hr) ? KVFIO_LOAD_CREATED : KVFIO_LOAD_NOT_AVAILABLE;
  return hr;
}

HRESULT KvFio_PreloadPlugins(tKVLIST* list, IKvDizuVOManager* manager) {
  if (!list) return S_OK;
  for (int i = 0; i < list->count; ++i) {
    KvFioPluginRecord* r = KvFio_RecordAt(list, i);
    if (!(r->preload & 1)) continue;
    if (r->access & KVFIO_ACCESS_READER) KvFio_LoadClassEntry(list, r, false, manager);
    if (r->access & KVFIO_ACCESS_RENDERER) KvFio_LoadClassEntry(list, r, true, manager);
    r->preload &= ~1u;
  }
  return S_OK;
}
