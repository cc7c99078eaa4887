// The cursor caches.
#include "kvuicursor.h"

#include "kvkernel.h"
#include "kvres.h"

namespace {

const UINT kArrow = 32512;  // IDC_ARROW
const int kSystemSlots = 15;

HCURSOR g_system[kSystemSlots];
HCURSOR g_library[KV_UICURSOR_LIBRARY_COUNT];
HCURSOR g_app[KV_UICURSOR_APP_COUNT];

HCURSOR Arrow() { return LoadCursorW(nullptr, MAKEINTRESOURCEW(kArrow)); }

// Cursors of a module are loaded as private copies, so that the cache may
// destroy them.
HCURSOR LoadOwned(HMODULE module, UINT id) {
  if (!module || id == 0) return nullptr;
  return static_cast<HCURSOR>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
}

template <size_t N>
void DestroyAll(HCURSOR (&slots)[N]) {
  for (HCURSOR& c : slots) {
    if (c) DestroyCursor(c);
    c = nullptr;
  }
}

}  // namespace

extern "C" HCURSOR KVAPI KvGetUICursor(UINT id) {
  if (id >= kArrow) {
    UINT slot = id >= 32642 && id <= 32651 ? id - 32637 : id - kArrow;
    if (slot >= kSystemSlots) {
      slot = 0;
      id = kArrow;
    }
    if (!g_system[slot]) g_system[slot] = LoadCursorW(nullptr, MAKEINTRESOURCEW(id));
    return g_system[slot] ? g_system[slot] : Arrow();
  }
  HCURSOR* slot;
  HMODULE module;
  const UINT appFirst = static_cast<UINT>(KvKernel_GetFirstHostCursorId());
  if (id < KV_UICURSOR_LIBRARY_COUNT) {
    slot = &g_library[id];
    module = KvKernel_GetModule();
  } else if (id >= appFirst && id < appFirst + KV_UICURSOR_APP_COUNT) {
    slot = &g_app[id - appFirst];
    module = KvKernel_GetHostModule();
    if (!module) module = GetModuleHandleW(nullptr);
  } else {
    return Arrow();
  }
  if (!*slot) *slot = LoadOwned(module, id);
  return *slot ? *slot : Arrow();
}

extern "C" BOOL KVAPI KvFreeUICursors(void) {
  SetCursor(KvLoadCursor(nullptr, MAKEINTRESOURCEW(kArrow)));
  DestroyAll(g_library);
  DestroyAll(g_app);
  return TRUE;
}

int KvUI_CachedCursorCount() {
  int n = 0;
  for (HCURSOR c : g_library) n += c != nullptr;
  for (HCURSOR c : g_app) n += c != nullptr;
  return n;
}
