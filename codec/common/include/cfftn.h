// Mixed-radix complex FFT (radix 2, 3, 4, 5 and odd factors up to 23) and the
// real-input FFT built on it.
//
// Sign -1 computes X[k] = sum x[n] e^(-2 pi i nk/N), sign +1 the conjugate
// kernel. Nothing is scaled, except the inverse direction of rfftn (1/n).
// cfftn allocates nothing.
#pragma once

#include <cstdint>

// Limits of the factorisation: at most 11 factors, odd factors up to 23, and a
// product of the square-free factors up to 210.
constexpr int kCfftnMaxFactors = 11;
constexpr int kCfftnMaxOddFactor = 23;
constexpr int kCfftnMaxSquareFree = 210;

// Transforms the sequences of `n` points spread over `total` complex values
// with spacing span / n (total = pass = span = n for one plain transform).
// |increment| is the distance in floats between consecutive elements of each
// array; its sign is the transform's sign. Returns 1 when the transform was
// done, 0 (data untouched) when n < 2, n cannot be factored within the limits
// or the geometry is inconsistent.
int cfftnRadix(float* imag, float* real, int32_t total, int32_t n, int32_t span,
               int32_t increment);

// One transform of n interleaved (re, im) pairs in place; sign +1 or -1.
int cfftnInterleaved(float* data, int32_t n, int32_t sign);

// One transform of n points held in two arrays, in place.
int cfftnSplit(float* real, float* imag, int32_t n, int32_t sign);

// Copies the source arrays to the destination arrays (vecCopy) and transforms
// the destination in place.
int cfftnCopy(const float* srcReal, const float* srcImag, float* dstReal, float* dstImag,
              int32_t n, int32_t sign);

// The sine table of rfftn: n/2 + 1 floats, table[k] = sin(2 pi k / n); null
// when memory runs out.
float* rfftnCreateTable(int32_t n);
void rfftnDeleteTable(float* table);

// Real FFT of n (even) floats in place. Direction -1: forward, packed output
// (X[0], X[n/2], then re/im of X[1] .. X[n/2-1]); +1: the inverse, scaled by
// 1/n. Returns the inner transform's result, 0 (data untouched) for odd n or
// a direction other than -1/+1.
int rfftn(float* data, const float* table, int32_t n, int32_t direction);

// The factor list cfftn uses for n (for tests); returns the number of
// factors, 0 when n < 2. `factors` must hold 32 entries; `squareCount` gets
// the number of square factors at each end.
int cfftnFactor(int32_t n, int32_t* factors, int32_t* squareCount);
