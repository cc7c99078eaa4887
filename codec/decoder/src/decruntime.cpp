// The decoder's runtime services, mapped onto the codec runtime library:
// its allocator, its DCT-IV and its vector-math table.
#include "decruntime.h"

#include <cstdint>

#include "dct1024.h"
#include "nyx_dct.h"
#include "utillib.h"
#include "vecmath.h"

void* decAlloc(size_t size, const char* file, int line) {
  if (size == 0 || size > UINT32_MAX) return nullptr;
  return utilMalloc(static_cast<uint32_t>(size), file, line);
}

void* decCalloc(size_t count, size_t size, const char* file, int line) {
  if (count == 0 || size == 0 || count > UINT32_MAX || size > UINT32_MAX) return nullptr;
  return utilCalloc(static_cast<uint32_t>(count), static_cast<uint32_t>(size), file, line);
}

void decFree(void* block, const char* file, int line) { utilFree(block, file, line); }

// The 1024-point DCT-IV (the long transform of every 1024-sample frame)
// runs over the runtime's fixed 16- and 32-point FFTs; other lengths use the
// runtime's DCT-IV.
struct DecDct {
  DctHandle* handle;
  Dct1024* fast;
};

DecDct* decDctCreate(int n) {
  DecDct* d = static_cast<DecDct*>(DEC_CALLOC(1, sizeof(DecDct)));
  if (!d) return nullptr;
  if (n == 1024) {
    d->fast = dct1024Create();
  } else if (createDct(&d->handle, n) != 0) {
    d->handle = nullptr;
  }
  if (!d->fast && !d->handle) {
    DEC_FREE(d);
    return nullptr;
  }
  return d;
}

void decDctRun(DecDct* dct, const float* in, float* out) {
  if (dct->fast) {
    dct1024Run(dct->fast, in, out);
  } else {
    runDct(dct->handle, in, out);
  }
}

void decDctDelete(DecDct** dct) {
  if (!dct || !*dct) return;
  dct1024Delete(&(*dct)->fast);
  if ((*dct)->handle) deleteDct(&(*dct)->handle);
  DEC_FREE(*dct);
  *dct = nullptr;
}

void decCopyStrided(float* dst, int dstStride, const float* src, int srcStride, int n) {
  vecCopyStrided(src, srcStride, dst, dstStride, n);
}

void decZeroFloats(float* dst, int n) {
  if (n > 0) vecFill(0.0f, dst, n);
}

void decVecInit() { VecMathInit(); }
