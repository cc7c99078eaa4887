// DizuVOSurrogate.exe: the process in which a host's plug-ins run when they
// must not run inside the host. The host's manager starts it ("/Embedding");
// it joins the multithreaded apartment, loads the plug-in DLL that carries the
// manager library, makes a surrogate manager there, and registers a class
// object for it under the per-process class id (the fallback id with its
// first field XORed with this process's id) and under the fallback id.
//
// Every host connection gets a face of its own, so that the program knows how
// many hosts hold it. The program ends when the host that started it ends,
// and when no host has been attached for a while, so that nothing is left
// running.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include "kvsurrogateapi.h"

namespace {

// How long the program waits for its first host, and how long it stays once
// the last host has let go.
constexpr DWORD kFirstHostWaitMs = 30000;
constexpr DWORD kIdleMs = 2000;

// A test build of this program (late_surrogate) registers its class only
// after this many milliseconds, and only under its per-process id, as a slow
// machine would: the host's tries must still find it.
#ifndef KV_SURROGATE_REGISTER_DELAY_MS
#define KV_SURROGATE_REGISTER_DELAY_MS 0
#endif

// The DLL that carries the manager library, beside this program.
constexpr wchar_t kLibraryDll[] = L"vogaac2.dll";

struct _KVFIO_INITIALIZATION_METRICS;
typedef HRESULT(__stdcall* CreateSurrogateManagerFn)(IUnknown** out, DWORD flags,
                                                     const _KVFIO_INITIALIZATION_METRICS* metrics,
                                                     const wchar_t* appPath, const wchar_t* appText, DWORD appNumber,
                                                     DWORD appValue);

volatile LONG g_attached = 0;
volatile LONG g_everAttached = 0;
volatile DWORD g_lastChange = 0;

void Attach(LONG delta) {
  InterlockedExchangeAdd(&g_attached, delta);
  if (delta > 0) InterlockedExchange(&g_everAttached, 1);
  g_lastChange = GetTickCount();
}

bool SameIid(REFIID a, REFIID b) { return memcmp(&a, &b, sizeof(IID)) == 0; }

// One host connection: forwards to the surrogate manager and tells the
// program when the host lets go (Detach or its last release).
class HostFace final : public IKvSurrogateManager {
 public:
  explicit HostFace(IKvSurrogateManager* inner) : inner_(inner) {
    inner_->AddRef();
    Attach(1);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!SameIid(iid, IID_IUnknown) && !SameIid(iid, IID_IKvSurrogateManager)) return E_NOINTERFACE;
    *out = static_cast<IKvSurrogateManager*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
      Let();
      inner_->Release();
      delete this;
    }
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* id) override { return inner_->GetProcessId(id); }
  HRESULT STDMETHODCALLTYPE CreateClassObject(const wchar_t* dllPath, const GUID* classId, REFIID iid,
                                              IUnknown** out) override {
    return inner_->CreateClassObject(dllPath, classId, iid, out);
  }
  HRESULT STDMETHODCALLTYPE CloseDuplicateHandle(ULONGLONG handle) override {
    return inner_->CloseDuplicateHandle(handle);
  }
  HRESULT STDMETHODCALLTYPE Detach() override {
    Let();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddPluginDLL(const wchar_t* dllPath) override { return inner_->AddPluginDLL(dllPath); }
  HRESULT STDMETHODCALLTYPE FinishRegistration() override { return inner_->FinishRegistration(); }
  HRESULT STDMETHODCALLTYPE EditTemplate(DWORD_PTR owner, const GUID* rendererId, DWORD value, const DWORD* placement,
                                         DWORD* flags, IStream* templates, DWORD cbCurrent, const BYTE* current,
                                         DWORD* cbResult, BYTE** result) override {
    return inner_->EditTemplate(owner, rendererId, value, placement, flags, templates, cbCurrent, current, cbResult,
                                result);
  }

 private:
  ~HostFace() = default;
  void Let() {
    if (InterlockedExchange(&detached_, 1) == 0) Attach(-1);
  }
  LONG refs_ = 1;
  LONG detached_ = 0;
  IKvSurrogateManager* inner_;
};

// The class object: a new host face for every connection. It is registered
// before the plug-in DLL is loaded, so that hosts find it early; a connection
// that comes before the manager is ready waits for it.
class Factory : public IClassFactory {
 public:
  Factory() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void SetManager(IKvSurrogateManager* inner) {
    inner_ = inner;
    SetEvent(ready_);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!SameIid(iid, IID_IUnknown) && !SameIid(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory lives as long as the program.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (WaitForSingleObject(ready_, kFirstHostWaitMs) != WAIT_OBJECT_0 || !inner_) return CO_E_SERVER_EXEC_FAILURE;
    HostFace* face = new HostFace(inner_);
    HRESULT hr = face->QueryInterface(iid, out);
    face->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  HANDLE ready_;
  IKvSurrogateManager* volatile inner_ = nullptr;
};

// The process that started this one, and its program's path.
HANDLE OpenHost(wchar_t* hostPath, DWORD cch) {
  hostPath[0] = 0;
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
  }
  if (!parent) return nullptr;
  HANDLE host = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
  if (host) {
    DWORD n = cch;
    if (!QueryFullProcessImageNameW(host, 0, hostPath, &n)) hostPath[0] = 0;
  }
  return host;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  wchar_t hostPath[MAX_PATH];
  HANDLE host = OpenHost(hostPath, MAX_PATH);

  Factory factory;
  CLSID own = CLSID_KvSurrogateManagerFallback;
  own.Data1 ^= GetCurrentProcessId();
  DWORD ownCookie = 0, fallbackCookie = 0;
  if (KV_SURROGATE_REGISTER_DELAY_MS) Sleep(KV_SURROGATE_REGISTER_DELAY_MS);
  g_lastChange = GetTickCount();
  if (FAILED(CoRegisterClassObject(own, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &ownCookie))) return 7;
  if (!KV_SURROGATE_REGISTER_DELAY_MS)
    CoRegisterClassObject(CLSID_KvSurrogateManagerFallback, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                          &fallbackCookie);

  wchar_t library[MAX_PATH + 16];
  DWORD n = GetModuleFileNameW(nullptr, library, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 2;
  wchar_t* slash = wcsrchr(library, L'\\');
  if (slash) slash[1] = 0;
  wcscat(library, kLibraryDll);
  HMODULE module = LoadLibraryExW(library, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return 3;
#ifdef _WIN64
  const char* createName = "KVDizuVO_CreateSurrogateManagerInstance";
#else
  const char* createName = "_KVDizuVO_CreateSurrogateManagerInstance@28";
#endif
  CreateSurrogateManagerFn create =
      reinterpret_cast<CreateSurrogateManagerFn>(reinterpret_cast<void*>(GetProcAddress(module, createName)));
  if (!create) return 4;
  IUnknown* manager = nullptr;
  if (FAILED(create(&manager, 0, nullptr, hostPath[0] ? hostPath : nullptr, L"", 0, 0)) || !manager) return 5;
  IKvSurrogateManager* inner = nullptr;
  if (FAILED(manager->QueryInterface(IID_IKvSurrogateManager, reinterpret_cast<void**>(&inner))) || !inner) return 6;

  factory.SetManager(inner);

  for (;;) {
    if (host) {
      if (WaitForSingleObject(host, 200) == WAIT_OBJECT_0) break;
    } else {
      Sleep(200);
    }
    const DWORD quiet = GetTickCount() - g_lastChange;
    if (g_attached <= 0 && quiet >= (g_everAttached ? kIdleMs : kFirstHostWaitMs)) break;
  }
  if (fallbackCookie) CoRevokeClassObject(fallbackCookie);
  CoRevokeClassObject(ownCookie);
  if (host) CloseHandle(host);
  // Objects that hosts still hold may be in use on COM's threads, which may
  // hold locks that the modules' detach code would wait for: the process ends
  // here without unwinding anything (nothing is left to write).
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}
