// Zero-filled table memory of the image library.
#include "kvimagealloc.h"

#ifdef _WIN32
#include <windows.h>

void* KvImageAllocZeroed(size_t bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes ? bytes : 1);
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) GlobalFree(h);
  return p;
}

void KvImageFree(void* p) {
  if (!p) return;
  HGLOBAL h = GlobalHandle(p);
  if (!h) return;
  GlobalUnlock(h);
  GlobalFree(h);
}

#else
#include <cstdlib>

void* KvImageAllocZeroed(size_t bytes) { return std::calloc(bytes ? bytes : 1, 1); }
void KvImageFree(void* p) { std::free(p); }

#endif
