// Straight-line complex FFTs of fixed lengths (4, 8, 16, 32, 240, 480) on
// interleaved (re, im) data, in place, sign -1, unscaled.
#pragma once

#include <cstdint>

// Transforms in place when n is 4, 8, 16, 32, 240 or 480; any other n does
// nothing.
void fixedSizeFft(float* data, int32_t n);

void fft4(float* data);
void fft8(float* data);
void fft16(float* data);
void fft32(float* data);
void fft15(float* data);
void fft240(float* data);
void fft480(float* data);
