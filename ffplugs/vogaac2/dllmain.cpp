// Module entry points of the plug-in DLL.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOINTERFACE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

extern "C" void __stdcall DllInitClasses(DWORD) {}
