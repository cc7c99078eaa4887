// The module's GUID comparison. Every interface-id and class-id comparison of
// the plug-in uses it; the DLL exports it as "_IsEqualGUID@8" for the other
// parts of the library and for other plug-ins. (The platform headers already
// define an inline IsEqualGUID, hence the internal name.)
#pragma once

#include <windows.h>

extern "C" BOOL __stdcall ModuleIsEqualGUID(const GUID* a, const GUID* b);

namespace ffbase {
inline bool IsEqualId(REFGUID a, REFGUID b) { return ModuleIsEqualGUID(&a, &b) != FALSE; }
}  // namespace ffbase
