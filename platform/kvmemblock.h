// Memory blocks that cross the library's exports (chunk data read from files,
// display-list items, summary texts, project-link fields): zero-filled, kept
// locked for their life and found again from their pointer alone, so that
// whoever holds the pointer can grow or free it. On Windows they are movable
// global memory (GlobalAlloc, found again with GlobalHandle), as the
// exports' callers expect; natively they are heap blocks that carry their
// size in front of them.
#pragma once

#include <cstdlib>
#include <cstring>

#include "kvportable.h"

namespace kvblock {

#ifdef _WIN32
// A zero-filled block of size bytes (at least 1), locked; null on failure.
inline void* Alloc(DWORD size) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size ? size : 1);
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) GlobalFree(h);
  return p;
}

// Releases a block from Alloc; null is ignored.
inline void Free(void* p) {
  if (!p) return;
  HGLOBAL h = GlobalHandle(p);
  if (!h) return;
  GlobalUnlock(h);
  GlobalFree(h);
}

// Grows or shrinks a block from Alloc, keeping its contents; new bytes are
// zero. Returns the (possibly moved) pointer, or null with the old block
// still valid and unchanged.
inline void* Resize(void* p, DWORD size) {
  if (!p) return Alloc(size);
  HGLOBAL h = GlobalHandle(p);
  if (!h) return nullptr;
  SIZE_T old = GlobalSize(h);
  GlobalUnlock(h);
  HGLOBAL n = GlobalReAlloc(h, size ? size : 1, GMEM_MOVEABLE | GMEM_ZEROINIT);
  void* q = GlobalLock(n ? n : h);
  if (!n || !q) return nullptr;
  if (size > old) ZeroMemory(static_cast<BYTE*>(q) + old, size - old);
  return q;
}
#else
// The size sits in the 16 bytes before the block, which keeps the block's
// alignment.
constexpr size_t kPrefix = 16;

inline void* Alloc(DWORD size) {
  const size_t n = size ? size : 1;
  unsigned char* base = static_cast<unsigned char*>(std::calloc(1, kPrefix + n));
  if (!base) return nullptr;
  std::memcpy(base, &n, sizeof n);
  return base + kPrefix;
}

inline void Free(void* p) {
  if (p) std::free(static_cast<unsigned char*>(p) - kPrefix);
}

inline void* Resize(void* p, DWORD size) {
  if (!p) return Alloc(size);
  unsigned char* base = static_cast<unsigned char*>(p) - kPrefix;
  size_t old = 0;
  std::memcpy(&old, base, sizeof old);
  const size_t n = size ? size : 1;
  unsigned char* grown = static_cast<unsigned char*>(std::realloc(base, kPrefix + n));
  if (!grown) return nullptr;
  if (n > old) std::memset(grown + kPrefix + old, 0, n - old);
  std::memcpy(grown, &n, sizeof n);
  return grown + kPrefix;
}
#endif

}  // namespace kvblock
