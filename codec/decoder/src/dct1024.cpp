// DCT-IV of 1024 points over a 512-point complex FFT computed as 16 x 32:
// with n = 32 n1 + n2 and k = k1 + 16 k2,
//   Z[k1 + 16 k2] = sum_n2 W32^(n2 k2) W512^(n2 k1) sum_n1 z[32 n1 + n2] W16^(n1 k1),
// the inner sums by fft16, the outer ones by fft32 (sign -1, unscaled).
#include "dct1024.h"

#include <cmath>

#include "decruntime.h"
#include "fixedfft.h"

namespace {
const int kN = 1024, kM = 512;
const double kPi = 3.14159265358979323846;
}  // namespace

struct Dct1024 {
  float rot[kM][2];          // cos, sin of (j + 1/8) pi / N
  float twiddle[32][16][2];  // W512^(n2 k1) as cos, -sin
  float rows[16][64];        // row k1: 32 interleaved complex values over n2
  float col[32];             // one 16-point column, interleaved
};

Dct1024* dct1024Create() {
  Dct1024* d = static_cast<Dct1024*>(DEC_CALLOC(1, sizeof(Dct1024)));
  if (!d) return nullptr;
  for (int j = 0; j < kM; ++j) {
    const double a = (j + 0.125) * kPi / kN;
    d->rot[j][0] = static_cast<float>(std::cos(a));
    d->rot[j][1] = static_cast<float>(std::sin(a));
  }
  for (int n2 = 0; n2 < 32; ++n2)
    for (int k1 = 0; k1 < 16; ++k1) {
      const double a = -2.0 * kPi * n2 * k1 / kM;
      d->twiddle[n2][k1][0] = static_cast<float>(std::cos(a));
      d->twiddle[n2][k1][1] = static_cast<float>(std::sin(a));
    }
  return d;
}

void dct1024Run(Dct1024* d, const float* x, float* y) {
  const float(*__restrict rot)[2] = d->rot;
  float(*__restrict rows)[64] = d->rows;
  float* __restrict c = d->col;
  // Columns: gather z[32 n1 + n2] (pre-rotated), fft16, twiddle, store in
  // the rows for the 32-point pass.
  for (int n2 = 0; n2 < 32; ++n2) {
    for (int n1 = 0; n1 < 16; ++n1) {
      const int j = 32 * n1 + n2;
      const float a = x[2 * j], b = x[kN - 1 - 2 * j];
      const float cs = rot[j][0], sn = rot[j][1];
      c[2 * n1] = a * cs + b * sn;
      c[2 * n1 + 1] = b * cs - a * sn;
    }
    fft16(c);
    rows[0][2 * n2] = c[0];
    rows[0][2 * n2 + 1] = c[1];
    const float(*__restrict tw)[2] = d->twiddle[n2];
    for (int k1 = 1; k1 < 16; ++k1) {
      const float re = c[2 * k1], im = c[2 * k1 + 1];
      const float wr = tw[k1][0], wi = tw[k1][1];
      rows[k1][2 * n2] = re * wr - im * wi;
      rows[k1][2 * n2 + 1] = re * wi + im * wr;
    }
  }
  for (int k1 = 0; k1 < 16; ++k1) fft32(rows[k1]);
  // Scatter with the post-rotation: Z[j] lies in row j % 16 at j / 16.
  for (int k2 = 0; k2 < 32; ++k2) {
    for (int k1 = 0; k1 < 16; ++k1) {
      const int j = k1 + 16 * k2;
      const float re = rows[k1][2 * k2], im = rows[k1][2 * k2 + 1];
      const float cs = rot[j][0], sn = rot[j][1];
      y[2 * j] = re * cs + im * sn;
      y[kN - 1 - 2 * j] = re * sn - im * cs;
    }
  }
}

void dct1024Delete(Dct1024** d) {
  if (!d || !*d) return;
  DEC_FREE(*d);
  *d = nullptr;
}
