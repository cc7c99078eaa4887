// FFT front end: handles for a complex transform of fixed length and sign,
// and for a real-input transform with its sine table.
//
// Results: 0 success, 1 invalid argument or handle, or out of memory.
#pragma once

#include <cstdint>

struct CplxFft {
  int32_t sign;    // -1 or +1
  int32_t n;       // length
  int32_t order;   // derived value, not read
  int32_t unused;
};

struct RealFft {
  int32_t sign;
  int32_t n;
  int32_t order;
  float* table;    // rfftnCreateTable(n)
};

// Clears *handle first; 1 when the sign is not -1/+1 or memory runs out.
int createCplxFft(CplxFft** handle, int32_t n, int32_t sign);
// cfftnCopy of n points with the handle's sign: 0 done, 1 failed or null handle.
int runCplxFft(const CplxFft* handle, const float* srcReal, const float* srcImag, float* dstReal,
               float* dstImag);
// Frees the handle and clears the caller's variable; always 0.
int deleteCplxFft(CplxFft** handle);

// Clears *handle first; 1 when the sign is not -1/+1, n is odd or below 2,
// or memory runs out.
int createRealFft(RealFft** handle, int32_t n, int32_t sign);
// Copies n floats from input to output (when they differ) and runs rfftn in
// place on the output; 1 for a null handle, else 0.
int runRealFft(const RealFft* handle, const float* input, float* output);
// Frees the table and the handle and clears the caller's variable; always 0.
int deleteRealFft(RealFft** handle);
