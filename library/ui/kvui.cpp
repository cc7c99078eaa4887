// Release of the UI caches at library termination.
#include "kvui.h"

extern "C" BOOL KVAPI KvFreeUIObjects(void) {
  KvResetUIColors(FALSE);
  KvUI_FreeFonts();
  return TRUE;
}
