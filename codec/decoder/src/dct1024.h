// DCT-IV of 1024 points (the long-window transform of 1024-sample frames)
// through the runtime's fixed-length FFTs: the 512-point complex FFT inside
// it is split into 16- and 32-point transforms, with the DCT's pre- and
// post-rotations folded into the gather and scatter steps.
#pragma once

struct Dct1024;

Dct1024* dct1024Create();
// Unnormalised DCT-IV: y[k] = sum x[n] cos(pi/1024 (n + 1/2)(k + 1/2)).
// Input and output may be the same array.
void dct1024Run(Dct1024* d, const float* x, float* y);
void dct1024Delete(Dct1024** d);
