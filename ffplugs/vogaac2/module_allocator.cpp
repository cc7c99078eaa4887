// The module allocator: the DLL's global operator new and delete over
// zero-filled global memory.
//
// The throwing forms throw std::bad_alloc on failure and never return null, as
// the language requires (code that uses plain `new` or the standard containers
// relies on that); objects handed to a host are created with
// `new (std::nothrow)` and a null result is reported as E_OUTOFMEMORY. Classes
// initialise all their members: nothing relies on the memory being zero-filled.
#include <new>

#include "module.h"

namespace vogaac2 {

void* ModuleAllocate(size_t size) noexcept {
  // A zero-byte request still gets a distinct block.
  HGLOBAL handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size ? size : 1);
  if (!handle) return nullptr;
  void* block = GlobalLock(handle);
  if (!block) {
    GlobalFree(handle);
    return nullptr;
  }
  return block;
}

void ModuleFree(void* block) noexcept {
  if (!block) return;
  HGLOBAL handle = GlobalHandle(block);
  if (!handle) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

}  // namespace vogaac2

namespace {
void* AllocateOrThrow(std::size_t size) {
  void* block = vogaac2::ModuleAllocate(size);
  if (!block) throw std::bad_alloc();
  return block;
}
}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return vogaac2::ModuleAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return vogaac2::ModuleAllocate(size); }

void operator delete(void* block) noexcept { vogaac2::ModuleFree(block); }
void operator delete[](void* block) noexcept { vogaac2::ModuleFree(block); }
void operator delete(void* block, std::size_t) noexcept { vogaac2::ModuleFree(block); }
void operator delete[](void* block, std::size_t) noexcept { vogaac2::ModuleFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { vogaac2::ModuleFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { vogaac2::ModuleFree(block); }
