// The library services of the attach and detach steps.
#include "attach_services.h"

#include "descriptors.h"
#include "factories.h"
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

// The box factories and prototype tables, then the descriptor factory (the
// tag factories of the metadata library join when it is linked in);
// destroyed in the reverse order.
void CreateMetaFactories() {
  fileutil::CreateGlobalFactories();
  esds::CreateDescriptorFactory();
}
void DestroyMetaFactories() {
  esds::DestroyDescriptorFactory();
  fileutil::DestroyGlobalFactories();
}

}  // namespace vogaac2
