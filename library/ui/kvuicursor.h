// UI cursors, loaded once and shared: system cursors (ids 32512 and up), the
// library's own cursors (ids 0-57) and the application's (ids 100-149, from the
// module recorded at library initialisation).
#pragma once

#include "kvapi.h"

#define KV_UICURSOR_LIBRARY_COUNT 58
#define KV_UICURSOR_APP_FIRST 100
#define KV_UICURSOR_APP_COUNT 50

KV_EXTERN_C_BEGIN

// The cached cursor of an id; the arrow whenever a cursor cannot be loaded and
// for ids outside the three ranges.
HCURSOR KVAPI KvGetUICursor(UINT id);
// Sets the arrow cursor, then destroys the cached library and application
// cursors (system cursors stay). Returns 1.
BOOL KVAPI KvFreeUICursors(void);

KV_EXTERN_C_END

// Library-internal: how many library and application cursors are cached now.
int KvUI_CachedCursorCount();
