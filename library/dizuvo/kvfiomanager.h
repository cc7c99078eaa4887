// The host-side registry of file-format plug-ins: it registers the plug-ins
// (from the cache or by scanning), hands out reader and renderer class
// objects by id, extension or format, chooses the reader for a file and keeps
// the host's metrics.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

#include "kvapi.h"
#include "kvdizuvo.h"
#include "kvdizuvomanager.h"
#include "kvfileio.h"
#include "kvfioenum.h"
#include "kvfioplugin.h"
#include "kvgitholder.h"

struct IKvSurrogateManager;

// The manager's worker thread (declared with the surrogate, kvsurrogate.h).
class CKvWorkerThread;

// Optional interface of a reader class: its first method checks a file by path.
inline constexpr IID IID_IKvReadFileCheck = {0xe769409f, 0x5ce7, 0x459f, {0x8f, 0x30, 0x4a, 0xf5, 0xa1, 0x64, 0xe0, 0x2a}};

// Initial metrics handed to a manager: a 64-bit mask (bit n = metric n) and
// the 37 in-memory values.
struct _KVFIO_INITIALIZATION_METRICS {
  DWORD maskLow;
  DWORD maskHigh;
  DWORD values[37];
};

// The keyed creation record. Its 32-bit layout is 192 bytes: the fields ahead
// of the metrics are eight 4-byte words (the two pointers among them) and
// `rest` pads the record to its size. A 64-bit compiler widens and aligns the
// two pointers, so there the fields ahead of the metrics take more room and the
// record takes the size the compiler gives it; `rest` keeps its 32-bit size
// rather than being derived from the width of a pointer.
inline constexpr size_t kKvFioKeyedHeadBytes32 = 8 * sizeof(DWORD);
static_assert(sizeof(_KVFIO_INITIALIZATION_METRICS) <= 192 - kKvFioKeyedHeadBytes32, "metrics fit the keyed record");
struct _KVFIO_KEYED_INFO {
  DWORD reserved0;
  DWORD appValue;
  DWORD appNumber;
  const wchar_t* appText;
  DWORD reserved16;
  const GUID* pluginIds;
  int pluginIdCount;
  DWORD listMode;
  _KVFIO_INITIALIZATION_METRICS metrics;
  BYTE rest[192 - kKvFioKeyedHeadBytes32 - sizeof(_KVFIO_INITIALIZATION_METRICS)];
};
#ifndef _WIN64
// The record's 32-bit layout is fixed; a 64-bit compiler lays it out its own way.
static_assert(offsetof(_KVFIO_KEYED_INFO, metrics) == kKvFioKeyedHeadBytes32, "metrics follow eight words");
static_assert(sizeof(_KVFIO_KEYED_INFO) == 192, "keyed record is 192 bytes");
#endif

// The surrogate manager's interface id (kvsurrogate.h), for the link's holder.
inline constexpr IID IID_IKvSurrogateManagerLink = {0x7618d4f5, 0xdf31, 0x45e9, {0x9d, 0x39, 0x40, 0xfd, 0x90, 0xd4, 0x4c, 0x9b}};

class CKvDizuVOManager : public IKvDizuVOMgrForApp, public KvFioClassLoader, public KvFioSurrogateLink {
 public:
  explicit CKvDizuVOManager(bool isSurrogate = false);
  virtual ~CKvDizuVOManager();

  // The same object as the plug-ins' manager interface.
  IKvDizuVOManager* AsManager() { return static_cast<IKvDizuVOMgrForApp*>(this); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetLanguageID(LCID* lcid, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMetric(int id, DWORD* value) override;
  HRESULT STDMETHODCALLTYPE SetMetric(int id, DWORD value) override;
  HRESULT STDMETHODCALLTYPE GetMetricString(int id, wchar_t* buf, DWORD cch, DWORD* cchOut) override;
  HRESULT STDMETHODCALLTYPE SetMetricString(int id, const wchar_t* text) override;
  HRESULT STDMETHODCALLTYPE DeleteMetric(int id, DWORD type) override;
  HRESULT STDMETHODCALLTYPE GetMetricBinary(int id, void* buf, DWORD cb, DWORD* cbOut) override;
  HRESULT STDMETHODCALLTYPE SetMetricBinary(int id, const DWORD* words, DWORD count) override;
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderClassByFormatId(IKvReadFileClass** out, DWORD formatId) override;
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** out, const GUID* readerId) override;
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** out, const GUID* rendererId) override;
  HRESULT STDMETHODCALLTYPE FindReaderClassByExtension(IKvReadFileClass** out, const wchar_t* ext,
                                                       int* position) override;
  HRESULT STDMETHODCALLTYPE FindRendererClassByExtension(IKvRenderFileClass** out, const wchar_t* ext,
                                                         int* position) override;
  HRESULT STDMETHODCALLTYPE OpenFile(const wchar_t* path, IKvReadFile** out, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE OpenFileEx(const wchar_t* path, IKvReadFile** out, DWORD ignored, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE EditTemplate(HWND owner, IKvRenderFileClass* cls, DWORD value, const DWORD* placement,
                                         DWORD* flags, IStream* templates, const tagKVTEMPLATExV2* current,
                                         tagKVTEMPLATExV2** result) override;
  HRESULT STDMETHODCALLTYPE InitializeDefault(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Shutdown() override;
  HRESULT STDMETHODCALLTYPE GetAppValue(DWORD* value) override;
  HRESULT STDMETHODCALLTYPE GetReaderEnum(IKvDizuVOTypeEnum** out) override;
  HRESULT STDMETHODCALLTYPE GetRendererEnum(IKvDizuVOTypeEnum** out) override;
  int STDMETHODCALLTYPE GetReaderCount() override;
  int STDMETHODCALLTYPE GetRendererCount() override;
  HRESULT STDMETHODCALLTYPE FindReaderForFile(HANDLE file, const wchar_t* path, int* readerIndex,
                                              DWORD flags) override;
  HRESULT STDMETHODCALLTYPE FindReaderForPath(const wchar_t* path, int* readerIndex) override;
  HRESULT STDMETHODCALLTYPE GetReaderClassByIndex(IKvReadFileClass** out, int index) override;
  HRESULT STDMETHODCALLTYPE GetRendererClassByIndex(IKvRenderFileClass** out, int index) override;
  HRESULT STDMETHODCALLTYPE FindRendererClassForExtension(IKvRenderFileClass** out, const wchar_t* ext) override;
  HRESULT STDMETHODCALLTYPE Reserved33() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindReaderClassForFile(const wchar_t* path, IKvReadFileClass** out) override;
  HRESULT STDMETHODCALLTYPE CheckFileWithReader(const wchar_t* path, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE GetPluginCount(int* count) override;
  HRESULT STDMETHODCALLTYPE HasPlugin(const GUID* id) override;
  HRESULT STDMETHODCALLTYPE GetPluginEnum(IKvFIOPluginEnum** out) override;
  HRESULT STDMETHODCALLTYPE GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) override;
  HRESULT STDMETHODCALLTYPE CreateFilterBuilder(IUnknown** out, DWORD kind, DWORD value, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE CreateFilterBuilderEx(IUnknown** out, DWORD kind, DWORD mask, DWORD value,
                                                  DWORD flags) override;

  // The class's own operations.
  HRESULT Initialize(DWORD flags, const wchar_t* applicationKey);
  HRESULT RegisterPlugins(tKVLIST* list, DWORD flags);
  HRESULT AddPluginDLLs(tKVLIST** list, const wchar_t** dlls, long count, DWORD flags, int* added);
  HRESULT AddDefaultPluginDLLs(tKVLIST** list, DWORD flags, int* added);
  HRESULT SetAppInfo(const wchar_t* text, DWORD number, DWORD value);
  HRESULT SetInitMetrics(const _KVFIO_INITIALIZATION_METRICS* metrics);
  HRESULT CreateEnumerators(tKVLIST* list, DWORD listMode, const GUID* ids, int idCount);
  HRESULT WritePluginCache(DWORD flags);
  HRESULT GetReaderIndexForFormat(DWORD formatId, int* index);
  HRESULT GetLastReaderClass(IKvReadFileClass** out);
  HRESULT SetLastReader(IKvReadFileClass* cls);
  HRESULT GetLastRendererClass(IKvRenderFileClass** out);
  HRESULT SetLastRenderer(IKvRenderFileClass* cls);
  HRESULT LoadClassObject(KvFioPluginRecord* record, bool renderer) override;
  HRESULT PreloadPlugins();

  // The surrogate process. ConnectSurrogate starts it when this process has
  // none running and connects this manager to its manager; DisconnectSurrogate
  // lets go (the surrogate ends by itself once no host holds it).
  HRESULT ConnectSurrogate();
  // The connection itself, run on the worker thread while the caller of
  // ConnectSurrogate holds the access mutex.
  HRESULT ConnectSurrogateHeld();
  HRESULT DisconnectSurrogate();
  // Tells the surrogate (from the calling thread) that this manager lets go.
  HRESULT DetachFromSurrogate();
  // The surrogate's manager for the calling thread (connecting first when
  // needed); one new reference.
  HRESULT GetSurrogateManager(IKvSurrogateManager** out);
  DWORD SurrogateProcessId() const { return surrogateProcessId_; }
  bool SurrogateConnected() const { return surrogate_.registered(); }
  // Creates an object of a plug-in that must not run in the host in the
  // surrogate (KvFioSurrogateLink).
  HRESULT CreateInSurrogate(KvFioPluginRecord* record, const GUID* classId, REFIID iid, void** out) override;
  // Whether the renderer class belongs to a plug-in that runs in the
  // surrogate (its template edits go there); *rendererId receives its id.
  bool RendererRunsOutOfProcess(IKvRenderFileClass* cls, GUID* rendererId);
  // Adds the DLLs of the list's out-of-process plug-ins to the surrogate's
  // manager and finishes its registration; false when there are none.
  static bool TellSurrogatePlugins(IKvSurrogateManager* link, tKVLIST* list);
  HRESULT EditTemplateInSurrogate(HWND owner, const GUID& rendererId, DWORD value, const DWORD* placement,
                                  DWORD* flags, IStream* templates, const tagKVTEMPLATExV2* current,
                                  tagKVTEMPLATExV2** result);
  // Runs the class-object load of a record on the worker thread under the
  // access mutex; a caller that already holds the mutex runs it itself (the
  // worker would wait for the mutex while the caller waits for the worker).
  HRESULT RunOnWorkerThread(KvFioPluginRecord* record, bool renderer);
  DWORD WorkerThreadId() const;

  // The access mutex, re-entrant on the owning thread; the owner is known so
  // that hand-overs to the worker thread never wait on their own caller.
  void LockAccess();
  void UnlockAccess();
  bool OwnsAccess() const { return accessOwner_ == GetCurrentThreadId(); }

  tKVLIST* Plugins() const { return plugins_; }
  HANDLE AccessMutex() const { return mutex_; }
  const DWORD* Metrics() const { return metrics_; }

 private:
  // Calls visit(cls, index) for every reader class of the enumerator, in its
  // order, until visit returns true; the class is released afterwards.
  template <class Visit>
  void ForEachReaderClass(Visit visit);
  HRESULT IdentifyWithReader(IKvReadFileClass* cls, int index, HANDLE file, const BYTE* header, DWORD cb,
                             const wchar_t* ext);
  HRESULT FindByExtension(bool renderer, IUnknown** out, const wchar_t* ext, int* position);
  HRESULT ClassByIndex(bool renderer, int index, REFIID iid, void** out);
  HRESULT ClassById(bool renderer, const GUID* id, REFIID iid, void** out);
  bool MetricsFile(wchar_t* folder, wchar_t* name);

  LONG refs_ = 1;
  CKvReaderEnum* readerEnum_ = nullptr;
  CKvRendererEnum* rendererEnum_ = nullptr;
  CKvFIOPluginEnum* pluginEnum_ = nullptr;
  tKVLIST* plugins_ = nullptr;
  int lastReader_ = -1;
  int lastRenderer_ = -1;
  bool comInitialised_ = false;
  DWORD appValue_ = 0;
  wchar_t appText_[260] = {};
  DWORD appNumber_ = 0;
  DWORD metrics_[37] = {};
  HANDLE mutex_ = INVALID_HANDLE_VALUE;
  bool isSurrogate_ = false;
  volatile DWORD accessOwner_ = 0;
  LONG accessDepth_ = 0;
  // The link to the surrogate's manager, for every thread.
  CKvGITHolder surrogate_{IID_IKvSurrogateManagerLink, false};
  DWORD surrogateProcessId_ = 0;
  HANDLE surrogateProcess_ = nullptr;  // to notice that the surrogate has ended
  bool surrogateUser_ = false;         // counted among the surrogate's users
  CKvWorkerThread* worker_ = nullptr;
  // A duplicate of the file handle in the surrogate, made once per reader selection.
  HANDLE selectionHandle_ = nullptr;

  // Drops what came from a surrogate that has ended, so that the next use
  // starts a new one.
  void CheckSurrogate();
  void DropSurrogateObjects();
  HRESULT FindReaderForFileImpl(HANDLE file, const wchar_t* path, int* readerIndex, DWORD flags);
};

// The access mutex's name for an application key: "Local\Calbrey " followed
// by the key with every backslash turned into a blank (259 characters at most).
void KvFio_AccessMutexName(const wchar_t* key, wchar_t* out, int cch);

// Creators. Each returns the manager through *out (null on failure).
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue, DWORD appNumber,
                                      const wchar_t** dlls, long count);
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue, const wchar_t** dlls,
                                      long count);
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, const wchar_t** dlls, long count);
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, _KVFIO_KEYED_INFO* keyed);
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags, DWORD appValue);
HRESULT KVAPI KVDizuVO_CreateInstance(IKvDizuVOMgrForApp** out, DWORD flags);

KV_EXTERN_C_BEGIN
// Process id of the surrogate process this process started; 0 when none.
DWORD KVAPI KVDizuVO_GetSurrogateProcessID(void);
// The DLL path of the plug-in whose renderer is `cls`, found through the
// class's manager; KV_E_NOTFOUND when no plug-in names it.
HRESULT KVAPI KvFio_GetRendererModulePath(IKvRenderFileClass* cls, wchar_t* path, int cch);
KV_EXTERN_C_END
