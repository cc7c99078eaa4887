// The surrogate process, seen from both sides: handle duplication into another
// process, the process-wide surrogate state, starting the surrogate program,
// the manager's worker thread, and the surrogate manager's face that the
// surrogate program serves to hosts.
#include "kvsurrogate.h"

#include <process.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "kvblanket.h"
#include "kvcomobject.h"
#include "kvfiodiscovery.h"
#include "kvstr.h"

namespace {

// The managers of this process connected to the surrogate, and the id of the
// surrogate this process started.
LONG g_surrogateUsers = 0;
volatile DWORD g_surrogateProcessId = 0;

}  // namespace

HRESULT KvFio_LastErrorResult() {
  DWORD error = GetLastError();
  // A value that is not a positive Win32 error says nothing about the failure.
  if (static_cast<LONG>(error) <= 0) return E_FAIL;
  return HRESULT_FROM_WIN32(error);
}

bool KvFio_IsProcessGone(HRESULT hr) {
  return hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED || hr == RPC_E_SERVER_DIED ||
         hr == RPC_E_SERVER_DIED_DNE || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
         hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) ||
         hr == static_cast<HRESULT>(RPC_S_SERVER_UNAVAILABLE) || hr == static_cast<HRESULT>(RPC_S_CALL_FAILED) ||
         hr == static_cast<HRESULT>(RPC_S_CALL_FAILED_DNE) || hr == HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE) ||
         hr == HRESULT_FROM_WIN32(ERROR_PIPE_NOT_CONNECTED);
}

extern "C" HRESULT KVAPI DuplicateHandleToProcessId(HANDLE handle, DWORD processId, HANDLE* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HANDLE target = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (!target) return KvFio_LastErrorResult();
  HRESULT hr = S_OK;
  if (!DuplicateHandle(GetCurrentProcess(), handle, target, out, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    *out = nullptr;
    hr = KvFio_LastErrorResult();
  }
  CloseHandle(target);
  return hr;
}

extern "C" DWORD KVAPI KVDizuVO_GetSurrogateProcessID(void) { return g_surrogateProcessId; }

LONG KvFio_SurrogateUserCount() { return g_surrogateUsers; }

void KvFio_SetSurrogateProcessId(DWORD id) { g_surrogateProcessId = id; }

LONG KvFio_AddSurrogateUser(LONG delta) { return InterlockedExchangeAdd(&g_surrogateUsers, delta) + delta; }

namespace {

// The optional error-report module's hooks, called with a surrogate's id.
void CallErrorReportHook(const char* name, DWORD processId) {
  HMODULE module = GetModuleHandleW(L"ErrorReport");
  if (!module) return;
  typedef void(__stdcall * Hook)(DWORD);
  Hook hook = reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (hook) hook(processId);
}

}  // namespace

void KvFio_ErrorReportStop(DWORD processId) { CallErrorReportHook("_ErrorReport_StopMonitoringProcess@4", processId); }

HRESULT KvFio_StartSurrogateProcess(DWORD* processId) {
  if (!processId) return E_POINTER;
  *processId = 0;
  wchar_t program[MAX_PATH + 32];
  DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return KvFio_LastErrorResult();
  wchar_t* slash = wcsrchr(program, L'\\');
  if (slash) slash[1] = 0;
  else program[0] = 0;
  wcscat(program, kKvSurrogateExeName);
  wchar_t commandLine[] = L"/Embedding";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &started)) {
    return KvFio_LastErrorResult();
  }
  CallErrorReportHook("_ErrorReport_StartMonitoringProcess@4", started.dwProcessId);
  ResumeThread(started.hThread);
  *processId = started.dwProcessId;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return S_OK;
}

// --- The worker thread -------------------------------------------------------------

HRESULT CKvWorkerThread::Start() {
  if (thread_) return S_OK;
  stop_ = 0;
  request_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  unsigned id = 0;
  if (request_ && done_)
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CKvWorkerThread::Main, this, 0, &id));
  if (!thread_) {
    if (request_) CloseHandle(request_);
    if (done_) CloseHandle(done_);
    request_ = done_ = nullptr;
    return E_FAIL;
  }
  threadId_ = id;
  return S_OK;
}

void CKvWorkerThread::Stop() {
  stop_ = 1;
  if (!thread_) return;
  SetEvent(request_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(request_);
  CloseHandle(done_);
  thread_ = request_ = done_ = nullptr;
  threadId_ = 0;
}

unsigned __stdcall CKvWorkerThread::Main(void* self) {
  CKvWorkerThread* w = static_cast<CKvWorkerThread*>(self);
  HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (;;) {
    DWORD index = 0;
    HRESULT hr = CoWaitForMultipleHandles(COWAIT_ALERTABLE, INFINITE, 1, &w->request_, &index);
    if (SUCCEEDED(hr) && w->function_) {
      w->result_ = w->function_(w->argument_);
      w->function_ = nullptr;
    }
    SetEvent(w->done_);
    if (w->stop_) break;
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return 0;
}

HRESULT CKvWorkerThread::Run(Function function, DWORD_PTR argument, DWORD* result) {
  if (!thread_) {
    HRESULT hr = Start();
    if (FAILED(hr)) return hr;
  }
  if (GetCurrentThreadId() == threadId_) {
    result_ = function(argument);
  } else {
    function_ = function;
    argument_ = argument;
    SetEvent(request_);
    if (WaitForSingleObject(done_, INFINITE) != WAIT_OBJECT_0) return E_FAIL;
  }
  if (result) *result = result_;
  return S_OK;
}

// --- The surrogate manager's face ------------------------------------------------------

namespace {

// The size of a basic render template: shorter records are padded to it.
constexpr DWORD kBasicTemplateBytes = 540;

// A DLL loaded in the surrogate for its plug-ins; it stays loaded until the
// surrogate ends.
struct LoadedDll {
  wchar_t path[MAX_PATH];
  HMODULE module;
};

class CKvSurrogateFace final : public IKvSurrogateManager {
 public:
  explicit CKvSurrogateFace(CKvDizuVOManager* manager) : manager_(manager) {
    manager_->AddRef();
    InitializeCriticalSection(&lock_);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    IKvSurrogateManager* self = this;
    return kvcom::QueryFaces(this, iid, out, {{IID_IUnknown, self}, {IID_IKvSurrogateManager, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* processId) override {
    if (!processId) return E_POINTER;
    *processId = GetCurrentProcessId();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CreateClassObject(const wchar_t* dllPath, const GUID* classId, REFIID iid,
                                              IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!dllPath || !classId) return E_INVALIDARG;
    HMODULE module = Load(dllPath);
    if (!module) return KvFio_LastErrorResult();
    typedef HRESULT(__stdcall * GetClassObjectProc)(REFCLSID, REFIID, void**);
    GetClassObjectProc get = reinterpret_cast<GetClassObjectProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return E_NOINTERFACE;
    IClassFactory* factory = nullptr;
    HRESULT hr = get(*classId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr) && !factory) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(out));
    factory->Release();
    if (SUCCEEDED(hr) && !*out) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    // Class objects talk to the surrogate's own manager.
    if (kvcom::SameIid(iid, IID_IKvReadFileClass))
      reinterpret_cast<IKvReadFileClass*>(*out)->SetDizuVOManager(manager_->AsManager());
    else if (kvcom::SameIid(iid, IID_IKvRenderFileClass))
      reinterpret_cast<IKvRenderFileClass*>(*out)->SetDizuVOManager(manager_->AsManager());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CloseDuplicateHandle(ULONGLONG handle) override {
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
    if (!h || h == INVALID_HANDLE_VALUE) return E_INVALIDARG;
    return CloseHandle(h) ? S_OK : KvFio_LastErrorResult();
  }

  HRESULT STDMETHODCALLTYPE Detach() override { return S_OK; }

  HRESULT STDMETHODCALLTYPE AddPluginDLL(const wchar_t* dllPath) override {
    if (!dllPath) return E_INVALIDARG;
    EnterCriticalSection(&lock_);
    HRESULT hr = S_OK;
    wchar_t* copy = KvFio_CopyText(dllPath);
    if (!copy) hr = E_OUTOFMEMORY;
    else pending_.push_back(copy);
    LeaveCriticalSection(&lock_);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE FinishRegistration() override {
    EnterCriticalSection(&lock_);
    std::vector<const wchar_t*> paths(pending_.begin(), pending_.end());
    tKVLIST* list = nullptr;
    int added = 0;
    HRESULT hr = S_OK;
    if (!paths.empty()) {
      hr = manager_->AddPluginDLLs(&list, paths.data(), static_cast<long>(paths.size()), 0, &added);
      // As a host's set-up does: the enumerators, then the plug-ins' class
      // objects, which give the records their class ids (a template edit
      // finds its renderer by that id).
      if (SUCCEEDED(hr) && list) {
        hr = manager_->CreateEnumerators(list, 0, nullptr, 0);
        if (SUCCEEDED(hr)) manager_->PreloadPlugins();
      } else if (list) {
        KvFio_DestroyPluginList(list);
      }
    }
    for (const wchar_t* p : pending_) KvFio_FreeText(p);
    pending_.clear();
    LeaveCriticalSection(&lock_);
    return hr;
  }

  // The host's edit for a renderer that runs here: the surrogate's manager
  // edits with its own class object of that renderer.
  HRESULT STDMETHODCALLTYPE EditTemplate(DWORD_PTR owner, const GUID* rendererId, DWORD value, const DWORD* placement,
                                         DWORD* flags, IStream* templates, DWORD cbCurrent, const BYTE* current,
                                         DWORD* cbResult, BYTE** result) override {
    if (!cbResult || !result) return E_POINTER;
    *cbResult = 0;
    *result = nullptr;
    if (!rendererId) return E_INVALIDARG;
    // The current template as a record of this process: its first word is its
    // size, and it is padded to a basic template's size.
    BYTE* own = nullptr;
    if (current) {
      DWORD size = 0;
      if (cbCurrent < sizeof size) return E_INVALIDARG;
      std::memcpy(&size, current, sizeof size);
      if (size != cbCurrent) return E_INVALIDARG;
      own = static_cast<BYTE*>(std::calloc(1, cbCurrent < kBasicTemplateBytes ? kBasicTemplateBytes : cbCurrent));
      if (!own) return E_OUTOFMEMORY;
      std::memcpy(own, current, cbCurrent);
    }
    IKvRenderFileClass* cls = nullptr;
    HRESULT hr = manager_->GetRendererClass(&cls, rendererId);
    if (SUCCEEDED(hr) && !cls) hr = E_UNEXPECTED;
    tagKVTEMPLATExV2* edited = nullptr;
    if (SUCCEEDED(hr)) {
      hr = manager_->EditTemplate(reinterpret_cast<HWND>(owner), cls, value, placement, flags, templates,
                                  reinterpret_cast<const tagKVTEMPLATExV2*>(own), &edited);
      cls->Release();
    }
    std::free(own);
    if (edited) {
      DWORD size = 0;
      std::memcpy(&size, edited, sizeof size);
      *result = static_cast<BYTE*>(CoTaskMemAlloc(size));
      if (*result) {
        std::memcpy(*result, edited, size);
        *cbResult = size;
      } else if (SUCCEEDED(hr)) {
        hr = E_OUTOFMEMORY;
      }
      std::free(edited);
    }
    return hr;
  }

 private:
  ~CKvSurrogateFace() {
    for (const wchar_t* p : pending_) KvFio_FreeText(p);
    DeleteCriticalSection(&lock_);
    manager_->Release();
  }

  HMODULE Load(const wchar_t* path) {
    EnterCriticalSection(&lock_);
    HMODULE module = nullptr;
    for (const LoadedDll& d : loaded_)
      if (_wcsicmp(d.path, path) == 0) module = d.module;
    if (!module) {
      module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (module) {
        LoadedDll d = {};
        KvStrCpyNLen(d.path, path, MAX_PATH);
        d.module = module;
        loaded_.push_back(d);
      }
    }
    DWORD error = GetLastError();
    LeaveCriticalSection(&lock_);
    SetLastError(error);
    return module;
  }

  LONG refs_ = 1;
  CKvDizuVOManager* manager_;
  CRITICAL_SECTION lock_;
  std::vector<LoadedDll> loaded_;
  std::vector<const wchar_t*> pending_;
};

}  // namespace

HRESULT KvFio_CreateSurrogateFace(CKvDizuVOManager* manager, IKvSurrogateManager** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!manager) return E_INVALIDARG;
  *out = new (std::nothrow) CKvSurrogateFace(manager);
  return *out ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT KVAPI KVDizuVO_CreateSurrogateManagerInstance(IKvDizuVOMgrForApp** out, DWORD flags,
                                                                 const _KVFIO_INITIALIZATION_METRICS* metrics,
                                                                 const wchar_t* appPath, const wchar_t* appText,
                                                                 DWORD appNumber, DWORD appValue) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CKvDizuVOManager* manager = new (std::nothrow) CKvDizuVOManager(true);
  if (!manager) return E_OUTOFMEMORY;
  KvFio_InitSettingsPaths(appPath, nullptr, 0);
  HRESULT hr = manager->Initialize(flags, nullptr);
  if (SUCCEEDED(hr)) hr = manager->SetAppInfo(appText, appNumber, appValue);
  if (SUCCEEDED(hr)) hr = manager->SetInitMetrics(metrics);
  if (FAILED(hr)) {
    manager->Release();
    return hr;
  }
  *out = manager;
  return S_OK;
}
