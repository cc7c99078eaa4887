// Movable global memory blocks kept locked for their life, the buffer kind
// that crosses the library's exports (summary texts, project-link fields).
// A block is found again from its pointer alone (GlobalHandle), so whoever
// holds the pointer can grow or free it.
#pragma once

#include <windows.h>

namespace kvblock {

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

}  // namespace kvblock
