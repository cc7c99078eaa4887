// The library services of the attach and detach steps. Each is a stand-in
// until the part of the library that owns it is linked into the module; then
// its body becomes the call into that part.
#include "attach_services.h"

#include "kvkernel.h"

namespace vogaac2 {

// The utility library's start-up: error mode, its own language handle, locale
// data, clocks. The module passes no host instance.
BOOL InitializeLibrary(HMODULE module) { return KvKernel_Initialize(module, nullptr); }
void TerminateLibrary() { KvKernel_Terminate(); }

// No help library yet: no help file, an empty path.
void InstallPluginHelpPath(HMODULE, wchar_t* path, int cch) {
  if (path && cch > 0) path[0] = 0;
}

// No metadata factories yet.
void CreateMetaFactories() {}
void DestroyMetaFactories() {}

}  // namespace vogaac2
