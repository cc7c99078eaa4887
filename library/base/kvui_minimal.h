// The few UI-toolkit services that library initialisation and termination
// call, in their least form until the UI toolkit itself is built: the live UI
// colour table and the release of cached UI objects and cursors.
#pragma once

#include "kvapi.h"


extern "C" {
// 1: copy the default UI colours into the live table; 0: delete the cached
// coloured pens and brushes (there are none yet).
BOOL KVAPI KvResetUIColors(BOOL loadDefaults);
// Frees every cached UI GDI object (KvResetUIColors(0), then the fonts).
void KVAPI KvFreeUIObjects(void);
// Selects the standard arrow cursor; destroys cached library and application
// cursors (none yet). Returns 1.
BOOL KVAPI KvFreeUICursors(void);
}

// The live colour table (53 entries) for the code that draws with it.
const COLORREF* KvUIColorTable();
const int kKvUIColorCount = 53;
