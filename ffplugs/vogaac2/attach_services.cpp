// The library services of the attach and detach steps. Each is a stand-in
// until the part of the library that owns it is linked into the module; then
// its body becomes the call into that part.
#include "attach_services.h"

#include "kvhelp.h"
#include "kvkernel.h"

namespace vogaac2 {

// The utility library's start-up: error mode, its own language handle, locale
// data, clocks. The module passes no host instance.
BOOL InitializeLibrary(HMODULE module) { return KvKernel_Initialize(module, nullptr); }
void TerminateLibrary() { KvKernel_Terminate(); }

// The plug-in's HTML Help file (empty when there is none), installed as the
// help path of that kind.
void InstallPluginHelpPath(HMODULE module, wchar_t* path, int cch) {
  KvHelp_CreatePluginHelpFilePath(KV_HELP_HTMLHELP, module, path, cch, FALSE);
  KvHelp_SetHelpFilePath(KV_HELP_HTMLHELP, path);
}

// No metadata factories yet.
void CreateMetaFactories() {}
void DestroyMetaFactories() {}

}  // namespace vogaac2
