// The library services of the attach and detach steps.
#include "attach_services.h"

#include "kvhelp.h"
#include "kvkernel.h"
#include "kvui.h"
#include "metafactories.h"

namespace vogaac2 {

// The utility library's start-up: error mode, its own language handle, locale
// data, clocks, the UI colours (the UI toolkit's hooks go in first). The
// module passes no host instance.
BOOL InitializeLibrary(HMODULE module) {
  KvUI_InstallKernelHooks();
  return KvKernel_Initialize(module, nullptr);
}
void TerminateLibrary() { KvKernel_Terminate(); }

// The plug-in's HTML Help file (empty when there is none), installed as the
// help path of that kind.
void InstallPluginHelpPath(HMODULE module, wchar_t* path, int cch) {
  KvHelp_CreatePluginHelpFilePath(KV_HELP_HTMLHELP, module, path, cch, FALSE);
  KvHelp_SetHelpFilePath(KV_HELP_HTMLHELP, path);
}

// The metadata services' factories: box factories and prototype tables, the
// ID3 id tables with the tag services of 'ID32' boxes (from here on an 'ID32'
// box holds a parsed tag, not raw bytes), the descriptor factory; destroyed
// in the reverse order.
void CreateMetaFactories() { InitMetaFactories(); }
void DestroyMetaFactories() { TermMetaFactories(); }

}  // namespace vogaac2
