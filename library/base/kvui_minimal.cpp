// Least form of the UI toolkit's colour and cursor caches (see kvui_minimal.h).
// The UI toolkit replaces this file with the full services.
#include "kvui_minimal.h"

namespace {
COLORREF g_colors[kKvUIColorCount];

// Defaults: the system colours for the first 31 entries (the system's own
// colour indices), black for the toolkit's further entries.
void LoadDefaults() {
  for (int i = 0; i < kKvUIColorCount; ++i) g_colors[i] = i <= COLOR_MENUBAR ? GetSysColor(i) : RGB(0, 0, 0);
}
}  // namespace

extern "C" BOOL KVAPI KvResetUIColors(BOOL loadDefaults) {
  if (loadDefaults) LoadDefaults();
  return TRUE;
}

extern "C" void KVAPI KvFreeUIObjects(void) { KvResetUIColors(FALSE); }

extern "C" BOOL KVAPI KvFreeUICursors(void) {
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));  // IDC_ARROW
  return TRUE;
}

const COLORREF* KvUIColorTable() { return g_colors; }
