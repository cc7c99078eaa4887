// The plug-in module as a host sees it: a DLL loaded by path whose objects are
// reached only through DllGetClassObject and the plug-in interfaces.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Loads the DLL; false (with a message in Error()) when it cannot be loaded
  // or has no class-object entry.
  bool Load(const std::wstring& path);

  // The module's class factory for `classId`.
  HRESULT GetFactory(REFCLSID classId, IClassFactory** factory);

  // Creates an object through the factory for `classId`, asking for `iid`.
  HRESULT Create(REFCLSID classId, REFIID iid, void** object);

  const std::string& Error() const { return error_; }

 private:
  typedef HRESULT(__stdcall* GetClassObjectFn)(REFCLSID, REFIID, void**);
  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  std::string error_;
};
