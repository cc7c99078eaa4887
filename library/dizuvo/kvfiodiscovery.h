// Finding file-format plug-ins: candidate lists of DLLs, the configuration
// files that name further plug-ins, the per-user settings paths, the plug-in
// cache ("FFCache.ini"), the scan that asks a DLL for its plug-ins, and the
// in-process loading of a plug-in's class objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvfioplugin.h"
#include "kvlang.h"

struct IKvDizuVOManager;

// Listed classes and unusable plug-ins: the records of these ids are kept
// (and cached) but never loaded.
inline constexpr int kKvFioListedClassCount = 16;
const GUID* KvFio_ListedClasses();
bool KvFio_IsListedClass(const GUID& id);

// The language handle of the module that carries this library: its language
// is the one every new plug-in record takes, and the one the cache must have
// been written under. The module sets it at attach and clears it at detach.
// Without one, the user's default language is used.
KV_EXTERN_C_BEGIN
void KVAPI KvFio_SetModuleLanguage(HKVLANG lang);
KV_EXTERN_C_END
HKVLANG KvFio_ModuleLanguage();
LCID KvFio_ModuleLCID();

// --- Plug-in record lists --------------------------------------------------

// A new, empty plug-in record list (slots hold records the list allocates).
HRESULT KvFio_CreatePluginList(tKVLIST** out);
// Releases every record's class objects, factory and module, frees its texts,
// and destroys the list. Null is accepted.
void KvFio_DestroyPluginList(tKVLIST* list);
// A copy of `text` owned by a record (freed with KvFio_FreeText); null for null.
wchar_t* KvFio_CopyText(const wchar_t* text);
void KvFio_FreeText(const wchar_t* text);
// Replaces a record's owned text field with a copy of `text`.
void KvFio_SetText(const wchar_t** field, const wchar_t* text);

// Adds a candidate DLL to `list`: S_OK when added; S_FALSE when its path is
// already there (case-insensitively) or the file does not exist; the new
// record's index goes to *index (-1 when none was added).
HRESULT KvFio_AddPluginCandidate(tKVLIST* list, const wchar_t* path, int* index);

// A new candidate list with a record for each path, added in order. The
// first failure stops the additions and is returned; *out receives the list
// in every case (also when nothing could be added).
HRESULT KVAPI KvFio_SetPluginCandidateDLLs(tKVLIST** out, const wchar_t** paths, long count);
// The same from a list whose slots point to path texts.
HRESULT KVAPI KvFio_SetPluginCandidateDLLs(tKVLIST** out, tKVLIST* paths);

// Candidates named by the "*.Duv2007-Config" files of `folder` (null: the
// folder of this library's module), appended to *list (made when null).
HRESULT KvFio_FindPluginConfigFilesIn(tKVLIST** list, const wchar_t* folder);
HRESULT KvFio_FindPluginConfigFiles(tKVLIST** list);
// Candidates for every "*.dll" file of `folder`, appended to *list (made when null).
HRESULT KvFio_FindPluginDLLs(tKVLIST** list, const wchar_t* folder);

// --- Settings paths ----------------------------------------------------------

#define KVFIO_SETTINGS_NO_USER_FOLDERS 64u

// Sets up, once per process, the metrics file and the cache file. A null
// application path means the host executable; a null sub-folder is derived
// from the application's version resource. Later calls change nothing (S_FALSE).
HRESULT KvFio_InitSettingsPaths(const wchar_t* appPath, const wchar_t* subFolder, DWORD flags);
// Full paths of the two files; empty before KvFio_InitSettingsPaths.
const wchar_t* KvFio_CacheFilePath();
const wchar_t* KvFio_MetricsFilePath();
// The settings sub-folder derived from an application's version resource
// ("Orvane\<product>\<major>.<minor>"); false when the file has none.
bool KvFio_SettingsSubFolder(const wchar_t* appPath, wchar_t* out, int cch);

// --- The plug-in cache -----------------------------------------------------

// Reads the cache file at `cachePath` (null: the process's cache file) into
// the candidates of `list`: covered DLLs get their plug-in records, the others
// stay flagged KVFIO_PLUGIN_NOT_CACHED; *complete = 1 when every candidate
// was covered.
HRESULT KvFio_ReadPluginCache(tKVLIST* list, int* complete, const wchar_t* cachePath = nullptr);
// Writes the records flagged KVFIO_PLUGIN_CHANGED (all with bit 0 of flags;
// bit 1 empties the file first). S_FALSE for an empty list.
HRESULT KvFio_SavePluginCache(tKVLIST* list, DWORD flags, const wchar_t* cachePath = nullptr);

// --- Scanning and loading ---------------------------------------------------

// Asks the DLLs of `list` for their plug-ins: all first records when `force`,
// else only those flagged both KVFIO_PLUGIN_NOT_CACHED and
// KVFIO_PLUGIN_FIRST_OF_DLL. Records of further plug-ins of a DLL are
// inserted after its first one.
// DLLs that must run out of process are asked in the surrogate through `link`;
// without one they stay unusable.
HRESULT KvFio_LoadPluginInfo(tKVLIST* list, BOOL force, IKvDizuVOManager* manager,
                             KvFioSurrogateLink* link = nullptr);
// Creates an object of class `classId` (null: the record's plug-in id) with
// interface `iid` from the record's DLL, loading the DLL when needed.
HRESULT KvFio_LoadPluginModule(KvFioPluginRecord* record, const GUID* classId, REFIID iid, void** out);
// Registration: unless flags & 0x84 the cache is read first and, when it
// covers every candidate, nothing is scanned; otherwise the DLLs not covered
// (every DLL when flags & 0x84) are scanned.
HRESULT KvFio_RegisterPlugins(tKVLIST* list, DWORD flags, IKvDizuVOManager* manager,
                              const wchar_t* cachePath = nullptr, KvFioSurrogateLink* link = nullptr);
// Creates a record's reader (renderer) class object in process, hands it the
// manager, takes its id, extension list and dialog name, and gives it its
// index. A load state other than KVFIO_LOAD_NOT_CREATED: nothing to do.
// Records that must run out of process are created in the surrogate through
// `link`; without one they cannot be loaded (REGDB_E_CLASSNOTREG). Listed
// classes are never loaded.
HRESULT KvFio_LoadClassEntry(tKVLIST* list, KvFioPluginRecord* record, bool renderer, IKvDizuVOManager* manager,
                             KvFioSurrogateLink* link = nullptr);
// Creates the class objects of every record whose preload bit is set.
HRESULT KvFio_PreloadPlugins(tKVLIST* list, IKvDizuVOManager* manager);
// Formats a GUID in registry form ({xxxxxxxx-...}); `out` holds 39 characters.
void KvFio_GuidText(const GUID& id, wchar_t* out);
