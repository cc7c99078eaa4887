// The module record.
#include "module.h"

namespace vogaac2 {

namespace {
HMODULE g_module = nullptr;
}

HMODULE ModuleHandle() { return g_module; }
void SetModuleHandle(HMODULE module) { g_module = module; }

}  // namespace vogaac2
