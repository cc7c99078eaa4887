// The codec runtime services the decoder uses (memory, DCT-IV, vector
// routines), behind a few thin wrappers so that the decoder's modules do not
// depend on the runtime's header layout.
#pragma once

#include <cstddef>
#include <cstdint>

void* decAlloc(size_t size, const char* file, int line);
void* decCalloc(size_t count, size_t size, const char* file, int line);
void decFree(void* block, const char* file, int line);

#define DEC_MALLOC(n) decAlloc((n), __FILE__, __LINE__)
#define DEC_CALLOC(c, n) decCalloc((c), (n), __FILE__, __LINE__)
#define DEC_FREE(p) decFree((p), __FILE__, __LINE__)

// Unnormalised DCT-IV of even length n: y[k] = sum x[i] cos(pi/n (i+1/2)(k+1/2)).
struct DecDct;
DecDct* decDctCreate(int n);
void decDctRun(DecDct* dct, const float* in, float* out);
void decDctDelete(DecDct** dct);

// dst[i * dstStride] = src[i * srcStride] for i < n.
void decCopyStrided(float* dst, int dstStride, const float* src, int srcStride, int n);

// Sets n floats to zero.
void decZeroFloats(float* dst, int n);

// Installs the processor-specific vector routines.
void decVecInit();
