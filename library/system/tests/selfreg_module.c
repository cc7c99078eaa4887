/* A module that registers itself, for the self-registration test: its entry
   points answer distinct results so that the test sees which one ran. */
#include <windows.h>

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) { return (HRESULT)0x00000011; }
__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) { return (HRESULT)0x00000022; }
