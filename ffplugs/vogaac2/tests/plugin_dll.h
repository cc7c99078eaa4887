// The plug-in DLL as a host loads it: LoadLibraryW from the test's working
// directory (the bin folder) and its exported entry points.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include "vog_exports.h"

class PluginDll {
 public:
  typedef HRESULT(__stdcall* GetClassObjectFn)(REFCLSID, REFIID, void**);
  typedef HRESULT(__stdcall* CanUnloadNowFn)();
  typedef void(__stdcall* InitClassesFn)(DWORD);
  typedef BOOL(__stdcall* IsEqualGuidFn)(const GUID*, const GUID*);

  PluginDll() : module_(LoadLibraryW(L"vogaac2.dll")) {}
  ~PluginDll() {
    if (module_) FreeLibrary(module_);
  }
  PluginDll(const PluginDll&) = delete;
  PluginDll& operator=(const PluginDll&) = delete;

  HMODULE module() const { return module_; }
  GetClassObjectFn GetClassObject() const { return Entry<GetClassObjectFn>("DllGetClassObject"); }
  CanUnloadNowFn CanUnloadNow() const { return Entry<CanUnloadNowFn>("DllCanUnloadNow"); }
  InitClassesFn InitClasses() const { return Entry<InitClassesFn>("DllInitClasses"); }
  IsEqualGuidFn IsEqualGuid() const { return Entry<IsEqualGuidFn>("_IsEqualGUID@8"); }

  // A class factory for `classId`, or null.
  IClassFactory* Factory(REFCLSID classId) const {
    GetClassObjectFn get = GetClassObject();
    void* factory = nullptr;
    if (!get || FAILED(get(classId, IID_IClassFactory, &factory))) return nullptr;
    return static_cast<IClassFactory*>(factory);
  }

 private:
  template <class Fn>
  Fn Entry(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, VogExportName(name).c_str()))) : nullptr;
  }
  HMODULE module_;
};

// A value no call may write: out-pointers that must stay untouched start with it.
inline void* UntouchedPointer() { return reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A5A5A)); }
