// The module's GUID comparison: byte for byte over the 16 bytes.
#include "ffbase_guid.h"

extern "C" BOOL __stdcall ModuleIsEqualGUID(const GUID* a, const GUID* b) {
  // A null id equals nothing (the exported form may be called with anything).
  if (!a || !b) return FALSE;
  const BYTE* p = reinterpret_cast<const BYTE*>(a);
  const BYTE* q = reinterpret_cast<const BYTE*>(b);
  for (int i = 0; i < 16; ++i)
    if (p[i] != q[i]) return FALSE;
  return TRUE;
}
