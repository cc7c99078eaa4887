// A plug-in module that crashes as soon as it is asked for a class object: the
// surrogate that loads it for a host ends, and the host must live on.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return E_FAIL;
}
