// The module's GUID comparison: byte for byte over the 16 bytes.
#include "ffbase_guid.h"

#include "kvguid.h"

extern "C" BOOL __stdcall ModuleIsEqualGUID(const GUID* a, const GUID* b) {
  // A null id equals nothing (the exported form may be called with anything).
  if (!a || !b) return FALSE;
  return KvGuidEquals(*a, *b) ? TRUE : FALSE;
}
