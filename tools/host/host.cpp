// Stand-in host application.
#include <windows.h>
#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  if (!dll) { std::fprintf(stderr, "host: cannot load vogaac2.dll\n"); return 2; }
  std::printf("loaded\n");
  FreeLibrary(dll);
  return 0;
}
