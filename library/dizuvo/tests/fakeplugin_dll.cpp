// A plug-in module with three readers whose answers the tests choose: each
// reader's IdentifyFile and IsFileSupported return the HRESULT (hexadecimal)
// in an environment variable of the process, and count their calls.
//   reader 0: id {0a30c422-...}, the table's reader of WAVE files, no extensions
//   reader 1: an id of its own, extensions "*.fak; *.wav"
//   reader 2: id {bfd5db7f-...}, the reader never remembered as the last one
#include <windows.h>

#include <cstdlib>
#include <new>

#include "kvfileio.h"
#include "kvcomobject.h"

namespace {

struct Reader {
  GUID plugin;
  GUID reader;
  const wchar_t* name;
  const wchar_t* extensions;
  const char* variable;
};

const Reader kReaders[3] = {
    {{0x7e57a000, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}},
     {0x0a30c422, 0xb91b, 0x11d3, {0xa4, 0x84, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}},
     L"Fake Wave",
     L"",
     "KVFIO_FAKE_0"},
    {{0x7e57a000, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}},
     {0x7e57b000, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}},
     L"Fake Extension",
     L"*.fak; *.wav",
     "KVFIO_FAKE_1"},
    {{0x7e57a000, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}},
     {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}},
     L"Fake Any",
     L"",
     "KVFIO_FAKE_2"},
};

LONG g_calls[3] = {};

HRESULT Answer(int which) {
  InterlockedIncrement(&g_calls[which]);
  char text[32] = {};
  if (!GetEnvironmentVariableA(kReaders[which].variable, text, sizeof text)) return E_FAIL;
  return static_cast<HRESULT>(strtoul(text, nullptr, 16));
}

class ReadClass : public IKvReadFileClass {
 public:
  explicit ReadClass(int which) : which_(which) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    IKvReadFileClass* self = this;
    return kvcom::QueryFaces(this, riid, out, {{IID_IUnknown, self}, {IID_IKvReadFileClass, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) override {
    index_ = index;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) override {
    *index = index_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** m) override {
    *m = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetReaderGuid(GUID* id) override {
    *id = kReaders[which_].reader;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* v) override {
    *v = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* f) override {
    *f = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** r) override {
    *r = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT*, ULONG count, BSTR* texts) override {
    if (count > 0) texts[0] = SysAllocString(kReaders[which_].extensions);
    if (count > 1) texts[1] = SysAllocString(kReaders[which_].name);
    for (ULONG i = 2; i < count; ++i) texts[i] = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IdentifyFile(HANDLE, const BYTE*, DWORD, const wchar_t*) override { return Answer(which_); }
  HRESULT STDMETHODCALLTYPE IsFileSupported(const wchar_t*) override { return Answer(which_); }
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenReadFile(IKvReadFile** f, HANDLE, DWORD, const wchar_t*, BOOL) override {
    *f = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }

 private:
  virtual ~ReadClass() = default;
  LONG refs_ = 1;
  int which_;
  DWORD index_ = 0xFFFFFFFF;
};

class Info : public IKvUnsharedFIOPluginInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    IKvUnsharedFIOPluginInfo* self = this;
    return kvcom::QueryFaces(this, riid, out, {{IID_IUnknown, self}, {IID_IKvUnsharedFIOPluginInfo, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE Initialize(DWORD, DWORD, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetItemCount(UINT* count) override {
    *count = 3;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItem(int index, GUID* id, wchar_t* name, int cch, DWORD* access, DWORD* type,
                                    DWORD* level, DWORD* v4, DWORD* v5, DWORD* v6, DWORD* zero,
                                    DWORD* last) override {
    if (index < 0 || index > 2) return E_INVALIDARG;
    *id = kReaders[index].plugin;
    lstrcpynW(name, kReaders[index].name, cch);
    *access = 16;
    *type = 1;
    *level = 0xFFFF;
    *v4 = *v5 = *v6 = *zero = *last = 0;
    return S_OK;
  }

 private:
  virtual ~Info() = default;
  LONG refs_ = 1;
};

class Factory : public IClassFactory {
 public:
  explicit Factory(const CLSID& cls) : cls_(cls) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    IClassFactory* self = this;
    return kvcom::QueryFaces(this, riid, out, {{IID_IUnknown, self}, {IID_IClassFactory, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
    *out = nullptr;
    IUnknown* object = nullptr;
    if (IsEqualGUID(riid, IID_IKvUnsharedFIOPluginInfo)) object = new (std::nothrow) Info();
    for (int i = 0; i < 3 && !object; ++i)
      if (IsEqualGUID(cls_, kReaders[i].plugin) && IsEqualGUID(riid, IID_IKvReadFileClass))
        object = new (std::nothrow) ReadClass(i);
    if (!object) return E_NOINTERFACE;
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  virtual ~Factory() = default;
  LONG refs_ = 1;
  CLSID cls_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID cls, REFIID riid, void** out) {
  if (!IsEqualGUID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = new (std::nothrow) Factory(cls);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Calls of IdentifyFile and IsFileSupported per reader since the last reset.
extern "C" __declspec(dllexport) LONG FakeCalls(int which, BOOL reset) {
  LONG n = g_calls[which];
  if (reset) g_calls[which] = 0;
  return n;
}
