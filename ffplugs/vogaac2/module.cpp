// The module record.
#include "module.h"

namespace vogaac2 {

namespace {
HMODULE g_module = nullptr;
HKVLANG g_lang = nullptr;
}

HMODULE ModuleHandle() { return g_module; }
void SetModuleHandle(HMODULE module) { g_module = module; }

HKVLANG ModuleLanguage() { return g_lang; }
void SetModuleLanguage(HKVLANG lang) { g_lang = lang; }

}  // namespace vogaac2
