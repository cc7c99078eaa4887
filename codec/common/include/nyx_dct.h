// DCT-IV and DST-IV of even length N through one complex FFT of N/2 points
// with a pre- and a post-rotation. Unnormalised:
//   DCT-IV y[k] = sum x[n] cos(pi/N (n + 1/2)(k + 1/2))
//   DST-IV y[k] = sum x[n] sin(pi/N (n + 1/2)(k + 1/2))
// Applying either twice gives N/2 times the input. Input and output may be the
// same array. One handle must not run on two threads at once (shared scratch).
//
// Results: 0 success, 1 invalid argument, 2 out of memory or FFT failure.
#pragma once

#include <cstdint>

#include "nyx_fft.h"

struct DctHandle {
  int32_t n;
  float* table;     // w[k] = sin((k + 1/8) pi / N), k = 0 .. N-1
  CplxFft* fft;     // N/2 points, sign -1
  float* inReal;    // four work arrays of N/2 floats
  float* inImag;
  float* outReal;
  float* outImag;
};

// 1 when N is odd or below 2 (*handle untouched); otherwise clears *handle
// and returns 2 when an allocation or the FFT creation fails (everything
// obtained is given back), 0 on success.
int createDct(DctHandle** handle, int32_t n);
int runDct(DctHandle* handle, const float* input, float* output);
int runDst(DctHandle* handle, const float* input, float* output);
// Frees the handle and everything it holds and clears the caller's variable;
// a null pointer or null handle does nothing; always 0.
int deleteDct(DctHandle** handle);
