// Release of the UI caches at library termination, and the kernel's hooks
// into the toolkit.
#include "kvui.h"

#include "kvkernel.h"

extern "C" BOOL KVAPI KvFreeUIObjects(void) {
  KvResetUIColors(FALSE);
  KvUI_FreeFonts();
  return TRUE;
}

namespace {
void FreeUICaches() {
  KvFreeUIObjects();
  KvFreeUICursors();
}
}  // namespace

void KvUI_InstallKernelHooks() { KvKernel_SetUiHooks(KvKernelUiHooks{KvResetUIColors, FreeUICaches}); }
