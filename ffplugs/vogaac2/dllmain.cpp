// The module's entry points: attach and detach, the class object, and the two
// other entries a host may call.
#include <windows.h>

#include <new>

#include "attach_services.h"
#include "ffbase_classfactory.h"
#include "kvlang.h"
#include "kvfileio.h"
#include "kvfiodiscovery.h"
#include "module.h"
#include "vogaac2_pluginfo.h"
#include "vogaac2_readfileclass.h"
#include "vogaac2_readmeta.h"
#include "vogaac2_renderfileclass.h"

namespace {

// The plug-in classes, chosen by the interface the caller asks for, in this order.
struct VogAacCreators {
  static constexpr ffbase::ClassCreator kCreators[] = {
      &ffbase::CreateForKey<VogAacRenderFileClass, IKvRenderFileClass, IID_IKvRenderFileClass>,
      &ffbase::CreateForKey<VogAacReadFileClass, IKvReadFileClass, IID_IKvReadFileClass>,
      &ffbase::CreateForKey<VogAacUnsharedFIOPluginInfo, IKvUnsharedFIOPluginInfo, IID_IKvUnsharedFIOPluginInfo>,
      &ffbase::CreateForKey<VogAacReadMeta, IKvReadMeta, IID_IKvReadMeta>,
  };
};

typedef ffbase::TemplClassFactory<VogAacCreators> VogAacClassFactory;

BOOL AttachProcess(HMODULE module) {
  vogaac2::SetModuleHandle(module);
  vogaac2::InitializeLibrary(module);
  HKVLANG lang = nullptr;
  HRESULT langResult = KvLang_Open(&lang, module, 0, 0);
  vogaac2::SetModuleLanguage(lang);
  // The manager's plug-in records and cache take their texts and language from it.
  KvFio_SetModuleLanguage(lang);
  wchar_t helpPath[MAX_PATH];
  vogaac2::InstallPluginHelpPath(module, helpPath, MAX_PATH);
  DisableThreadLibraryCalls(module);
  vogaac2::CreateMetaFactories();
  // Only a language handle that cannot be opened refuses the load.
  return SUCCEEDED(langResult) ? TRUE : FALSE;
}

void DetachProcess() {
  vogaac2::DestroyMetaFactories();
  KvFio_SetModuleLanguage(nullptr);
  KvLang_Close(vogaac2::ModuleLanguage());
  vogaac2::SetModuleLanguage(nullptr);
  vogaac2::TerminateLibrary();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  // No exception may leave the loader's call.
  try {
    if (reason == DLL_PROCESS_ATTACH) return AttachProcess(module);
    if (reason == DLL_PROCESS_DETACH) DetachProcess();
    return TRUE;
  } catch (...) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
}

// Any class id gets the factory; the factory chooses the class by interface id.
extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ffbase::IsEqualId(riid, IID_IUnknown) && !ffbase::IsEqualId(riid, IID_IClassFactory)) return E_NOINTERFACE;
  if (!ppv) return E_POINTER;
  VogAacClassFactory* factory = new (std::nothrow) VogAacClassFactory(&rclsid);
  if (!factory) {
    *ppv = nullptr;
    return E_OUTOFMEMORY;
  }
  factory->AddRef();
  *ppv = static_cast<IClassFactory*>(factory);
  return S_OK;
}

// The module stays loaded until the process ends or the host frees it.
extern "C" HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

extern "C" void __stdcall DllInitClasses(DWORD) {}
