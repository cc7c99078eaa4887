// A DLL without the class-object entry: the manager must keep it as an
// unusable plug-in.
#include <windows.h>

extern "C" __declspec(dllexport) int KvFioTestValue() { return 7; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
