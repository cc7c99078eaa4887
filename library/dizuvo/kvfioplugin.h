// The manager's records of file-format plug-ins: one plug-in record per
// plug-in (a DLL may hold several), with a class entry for its reader and one
// for its renderer; the 592-byte plug-in info record that hosts receive; and
// what the enumerators need of the manager (loading a class object on demand).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvlist.h"

// State flags of a plug-in record.
#define KVFIO_PLUGIN_UNUSABLE 0x002u        // not an executable, load failed, or a listed class
#define KVFIO_PLUGIN_LISTED 0x004u          // with 0x002: a listed class
#define KVFIO_PLUGIN_OTHER_WIDTH 0x010u     // module of the other pointer width: runs out of process
#define KVFIO_PLUGIN_FORCED_OUT 0x020u      // forced out of process by a configuration file
#define KVFIO_PLUGIN_CHANGED 0x040u         // changed since the cache was written
#define KVFIO_PLUGIN_NOT_CACHED 0x080u      // not covered by the cache: to be scanned
#define KVFIO_PLUGIN_FIRST_OF_DLL 0x100u    // first record of its DLL
#define KVFIO_PLUGIN_IN_SURROGATE 0x200u    // class object created in the surrogate process

// Kinds a plug-in offers (record field `access`).
#define KVFIO_ACCESS_READER 16u
#define KVFIO_ACCESS_RENDERER 32u

// Load states of a class entry.
#define KVFIO_LOAD_NOT_CREATED 0u
#define KVFIO_LOAD_CREATED 1u
#define KVFIO_LOAD_NOT_AVAILABLE 2u

#define KVFIO_PLUGIN_RECORD_VERSION 5u

// A plug-in's reader or renderer.
struct KvFioClassEntry {
  GUID classId;               // reader or renderer class id
  int index;                  // reader (renderer) index given by the enumerator
  IUnknown* classObject;      // created class object, or null
  DWORD loadState;            // KVFIO_LOAD_*
  const wchar_t* extensions;  // extension list text ("ExtReader" / "ExtRenderer"), or null
};

// One plug-in. Zero-filled when made; `size` and `version` set by its maker.
struct KvFioPluginRecord {
  DWORD size;
  GUID pluginId;               // class id of the plug-in's class object in its DLL
  HMODULE module;              // loaded DLL, null until loaded
  IClassFactory* factory;      // from the DLL's DllGetClassObject, null until loaded
  wchar_t displayName[260];
  wchar_t dllPath[260];
  const wchar_t* dialogName;   // "DialogName"
  DWORD language;              // LCID ("LangID")
  const wchar_t* preloadModules;  // "PreloadModules"
  DWORD state;                 // KVFIO_PLUGIN_*
  DWORD streamType;            // "StreamType"
  DWORD access;                // KVFIO_ACCESS_* ("Access")
  DWORD appLevel;              // "AppLevel"; 0 is invalid
  DWORD preload;               // bit 0: create the class objects at once after registration
  DWORD pluginFlags;           // "Flags"
  DWORD modTime;               // DOS date and time (UTC) of the DLL's last write ("ModTime")
  DWORD duplicateExempt;       // non-zero: not subject to the enumerators' duplicate test
  KvFioClassEntry reader;
  KvFioClassEntry renderer;
  DWORD version;               // KVFIO_PLUGIN_RECORD_VERSION
};

// The plug-in info record handed to hosts (592 bytes). The caller sets cbSize.
typedef struct KVFIO_PLUGININFO {
  DWORD cbSize;
  DWORD reserved;              // left as the caller set it
  GUID pluginId;
  GUID readerId;               // zero when the plug-in offers no reader
  GUID rendererId;             // zero when the plug-in offers no renderer
  wchar_t dllPath[260];        // at most 259 characters, terminated
  BYTE zero[16];
} KVFIO_PLUGININFO;
static_assert(sizeof(KVFIO_PLUGININFO) == 592, "plug-in info record is 592 bytes");

#define KVFIO_PLUGININFO_SIZE 592u

// Plug-in and class ids in the manager's lists match on their first 10 bytes.
inline bool KvFio_SameIdPrefix(const GUID& a, const GUID& b) {
  return memcmp(&a, &b, 10) == 0;
}

// The record at `index` of a plug-in record list (slots hold record pointers).
inline KvFioPluginRecord* KvFio_RecordAt(tKVLIST* list, int index) {
  return reinterpret_cast<KvFioPluginRecord**>(list->items)[index];
}

// What the enumerators need of the manager: the class object of a record's
// reader (renderer = false) or renderer (renderer = true), created when its
// entry's load state is KVFIO_LOAD_NOT_CREATED. On success the entry holds
// the object and load state KVFIO_LOAD_CREATED; on failure state
// KVFIO_LOAD_NOT_AVAILABLE and the failure is returned.
class KvFioClassLoader {
 public:
  virtual HRESULT LoadClassObject(KvFioPluginRecord* record, bool renderer) = 0;

 protected:
  ~KvFioClassLoader() = default;
};

// How plug-ins that must not run in the host (records flagged
// KVFIO_PLUGIN_OTHER_WIDTH or KVFIO_PLUGIN_FORCED_OUT) get their objects: the
// manager creates them in the surrogate process. On success the record is
// flagged KVFIO_PLUGIN_IN_SURROGATE, and a reader or renderer class object
// comes back wrapped in a blanket.
class KvFioSurrogateLink {
 public:
  virtual HRESULT CreateInSurrogate(KvFioPluginRecord* record, const GUID* classId, REFIID iid, void** out) = 0;

 protected:
  ~KvFioSurrogateLink() = default;
};

// Fills `info` from `record`: E_POINTER for null arguments, E_FAIL when the
// caller's cbSize is below 592; the word at offset 4 is left alone.
HRESULT KvFio_FillPluginInfo(const KvFioPluginRecord* record, KVFIO_PLUGININFO* info);
