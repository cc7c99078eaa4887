// The module record (this DLL's handle) and the module allocator that serves
// every object and block of the plug-in.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vogaac2 {

HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// Zero-filled global memory (allocate and lock; unlock and free). Null when the
// allocation fails. The DLL's operator new and delete are built on these.
void* ModuleAllocate(size_t size) noexcept;
void ModuleFree(void* block) noexcept;

}  // namespace vogaac2
