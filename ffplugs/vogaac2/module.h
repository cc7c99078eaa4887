// The module record (this DLL's handle and its language handle) and the module
// allocator that serves every object and block of the plug-in.
#pragma once

#include <windows.h>

#include <cstddef>

#include "kvlang.h"

namespace vogaac2 {

HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// The module's language handle over its string tables: opened at attach,
// closed at detach; every text of the plug-in is looked up through it.
HKVLANG ModuleLanguage();
void SetModuleLanguage(HKVLANG lang);

// Zero-filled global memory (allocate and lock; unlock and free). Null when the
// allocation fails. The DLL's operator new and delete are built on these.
void* ModuleAllocate(size_t size) noexcept;
void ModuleFree(void* block) noexcept;

}  // namespace vogaac2
