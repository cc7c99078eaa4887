// Complex FFTs of 16 and 32 points for the QMF banks, on split (planar)
// real/imaginary arrays, in place, sign -1, unscaled, four lanes at a time.
#pragma once

// X[k] = sum_n x[n] exp(-2 pi i n k / 16), re/im hold 16 values each.
void qmfFft16(float* re, float* im);
// X[k] = sum_n x[n] exp(-2 pi i n k / 32), re/im hold 32 values each.
void qmfFft32(float* re, float* im);
