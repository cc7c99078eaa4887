// Loading the plug-in module and reaching its class object.
#include "plugin_module.h"

#include "host_output.h"

PluginModule::~PluginModule() {
  if (module_) FreeLibrary(module_);
}

bool PluginModule::Load(const std::wstring& path) {
  module_ = LoadLibraryW(path.c_str());
  if (!module_) {
    error_ = "cannot load " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  getClassObject_ = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  if (!getClassObject_) {
    error_ = ToUtf8(path) + " has no DllGetClassObject entry";
    return false;
  }
  return true;
}

HRESULT PluginModule::GetFactory(REFCLSID classId, IClassFactory** factory) {
  if (!getClassObject_) return E_UNEXPECTED;
  return getClassObject_(classId, IID_IClassFactory, reinterpret_cast<void**>(factory));
}

HRESULT PluginModule::Create(REFCLSID classId, REFIID iid, void** object) {
  IClassFactory* factory = nullptr;
  HRESULT hr = GetFactory(classId, &factory);
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, object);
  factory->Release();
  return hr;
}
