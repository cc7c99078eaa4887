// Fixed-length FFTs. fft4 is one radix-4 butterfly; fft8, fft16 and fft32
// are radix-2 steps over the next smaller kernel with constant rotations;
// fft15 is a prime-factor 3 x 5 kernel; fft240 and fft480 are prime-factor
// transforms over 16 x 15 and 32 x 15 with index maps built at compile time.
#include "fixedfft.h"

#include <array>
#include <cstring>

namespace {

// e^(-2 pi i k / N) for N = 32 >> shift, from the quarter-wave table.
inline void rotation(int k, int shift, float* c, float* s) {
  int m = k << shift;  // index on the 32-point circle, 0 .. 15
  if (m <= 8) {
    *c = kCos32[m];
    *s = -kCos32[8 - m];
  } else {
    *c = -kCos32[16 - m];
    *s = -kCos32[m - 8];
  }
}

// Radix-2 step of length 2h over two half-length transforms.
template <int H>
inline void combine(float* data, const float* even, const float* odd) {
  constexpr int shift = (H == 4) ? 2 : (H == 8) ? 1 : 0;  // 2H = 8, 16, 32
#pragma GCC unroll 16
  for (int k = 0; k < H; ++k) {
    float c, s;
    rotation(k, shift, &c, &s);
    float orr = odd[2 * k] * c - odd[2 * k + 1] * s;
    float oi = odd[2 * k] * s + odd[2 * k + 1] * c;
    data[2 * k] = even[2 * k] + orr;
    data[2 * k + 1] = even[2 * k + 1] + oi;
    data[2 * (k + H)] = even[2 * k] - orr;
    data[2 * (k + H) + 1] = even[2 * k + 1] - oi;
  }
}

template <int H, void (*Half)(float*)>
inline void radix2(float* data) {
  float even[2 * H], odd[2 * H];
#pragma GCC unroll 16
  for (int k = 0; k < H; ++k) {
    even[2 * k] = data[4 * k];
    even[2 * k + 1] = data[4 * k + 1];
    odd[2 * k] = data[4 * k + 2];
    odd[2 * k + 1] = data[4 * k + 3];
  }
  Half(even);
  Half(odd);
  combine<H>(data, even, odd);
}

// Prime-factor index maps for N = N1 * 15: input entry 15 r + c is the index
// with remainder r modulo N1 and c modulo 15; output entry 15 r + k is
// (N1 k + 15 r) mod N.
template <int N1>
struct PfaMaps {
  static constexpr int N = N1 * 15;
  std::array<int16_t, N> in{};
  std::array<int16_t, N> out{};
  constexpr PfaMaps() {
    for (int i = 0; i < N; ++i) in[(i % N1) * 15 + (i % 15)] = static_cast<int16_t>(i);
    for (int r = 0; r < N1; ++r)
      for (int k = 0; k < 15; ++k) out[15 * r + k] = static_cast<int16_t>((N1 * k + 15 * r) % N);
  }
};

constexpr PfaMaps<16> kMaps240;
constexpr PfaMaps<32> kMaps480;

template <int N1, void (*Inner)(float*)>
void primeFactor(float* data, const PfaMaps<N1>& maps) {
  constexpr int N = N1 * 15;
  float column[2 * N1];
  for (int c = 0; c < 15; ++c) {
    for (int r = 0; r < N1; ++r) {
      int idx = maps.in[15 * r + c];
      column[2 * r] = data[2 * idx];
      column[2 * r + 1] = data[2 * idx + 1];
    }
    Inner(column);
    for (int r = 0; r < N1; ++r) {
      int idx = maps.in[15 * r + c];
      data[2 * idx] = column[2 * r];
      data[2 * idx + 1] = column[2 * r + 1];
    }
  }
  float frame[2 * N];
  float row[30];
  for (int r = 0; r < N1; ++r) {
    for (int c = 0; c < 15; ++c) {
      int idx = maps.in[15 * r + c];
      row[2 * c] = data[2 * idx];
      row[2 * c + 1] = data[2 * idx + 1];
    }
    fft15(row);
    for (int k = 0; k < 15; ++k) {
      int pos = maps.out[15 * r + k];
      frame[2 * pos] = row[2 * k];
      frame[2 * pos + 1] = row[2 * k + 1];
    }
  }
  std::memcpy(data, frame, sizeof frame);
}

// 3-point DFT (sign -1) of the complex values at a, b, c.
inline void dft3(float* a, float* b, float* c) {
  constexpr float kS60 = 0.86602540378443864676f;
  float tr = b[0] + c[0], ti = b[1] + c[1];
  float dr = b[0] - c[0], di = b[1] - c[1];
  float mr = a[0] - 0.5f * tr, mi = a[1] - 0.5f * ti;
  a[0] += tr;
  a[1] += ti;
  // X1 = m - i s d, X2 = m + i s d
  b[0] = mr + kS60 * di;
  b[1] = mi - kS60 * dr;
  c[0] = mr - kS60 * di;
  c[1] = mi + kS60 * dr;
}

// 5-point DFT (sign -1) of x[0..9] into y[0..9].
inline void dft5(const float* x, float* y) {
  constexpr float c1 = 0.30901699437494742410f;   // cos 72
  constexpr float c2 = -0.80901699437494742410f;  // cos 144
  constexpr float s1 = 0.95105651629515357212f;   // sin 72
  constexpr float s2 = 0.58778525229247312917f;   // sin 144
  float t1r = x[2] + x[8], t1i = x[3] + x[9];
  float t2r = x[4] + x[6], t2i = x[5] + x[7];
  float t3r = x[2] - x[8], t3i = x[3] - x[9];
  float t4r = x[4] - x[6], t4i = x[5] - x[7];
  y[0] = x[0] + t1r + t2r;
  y[1] = x[1] + t1i + t2i;
  float a1r = x[0] + c1 * t1r + c2 * t2r, a1i = x[1] + c1 * t1i + c2 * t2i;
  float a2r = x[0] + c2 * t1r + c1 * t2r, a2i = x[1] + c2 * t1i + c1 * t2i;
  float b1r = s1 * t3r + s2 * t4r, b1i = s1 * t3i + s2 * t4i;
  float b2r = s2 * t3r - s1 * t4r, b2i = s2 * t3i - s1 * t4i;
  // X1 = a1 - i b1, X4 = a1 + i b1, X2 = a2 - i b2, X3 = a2 + i b2
  y[2] = a1r + b1i;
  y[3] = a1i - b1r;
  y[8] = a1r - b1i;
  y[9] = a1i + b1r;
  y[4] = a2r + b2i;
  y[5] = a2i - b2r;
  y[6] = a2r - b2i;
  y[7] = a2i + b2r;
}

}  // namespace

void fft4(float* d) {
  float a0r = d[0] + d[4], a0i = d[1] + d[5];
  float a1r = d[0] - d[4], a1i = d[1] - d[5];
  float a2r = d[2] + d[6], a2i = d[3] + d[7];
  float a3r = d[2] - d[6], a3i = d[3] - d[7];
  d[0] = a0r + a2r;
  d[1] = a0i + a2i;
  d[4] = a0r - a2r;
  d[5] = a0i - a2i;
  // X1 = a1 - i a3, X3 = a1 + i a3
  d[2] = a1r + a3i;
  d[3] = a1i - a3r;
  d[6] = a1r - a3i;
  d[7] = a1i + a3r;
}

void fft8(float* data) { radix2<4, fft4>(data); }
void fft16(float* data) { radix2<8, fft8>(data); }
void fft32(float* data) { radix2<16, fft16>(data); }

// 15 = 3 x 5 prime factor: input index with remainders (r mod 3, c mod 5),
// 3-point transforms over r, 5-point transforms over c, output at
// (3 k + 5 r) mod 15.
void fft15(float* data) {
  static constexpr int kIn[3][5] = {{0, 6, 12, 3, 9}, {10, 1, 7, 13, 4}, {5, 11, 2, 8, 14}};
  static constexpr int kOut[3][5] = {{0, 3, 6, 9, 12}, {5, 8, 11, 14, 2}, {10, 13, 1, 4, 7}};
  float work[30];
  std::memcpy(work, data, sizeof work);
#pragma GCC unroll 5
  for (int c = 0; c < 5; ++c)
    dft3(work + 2 * kIn[0][c], work + 2 * kIn[1][c], work + 2 * kIn[2][c]);
#pragma GCC unroll 3
  for (int r = 0; r < 3; ++r) {
    float x[10], y[10];
    for (int c = 0; c < 5; ++c) {
      x[2 * c] = work[2 * kIn[r][c]];
      x[2 * c + 1] = work[2 * kIn[r][c] + 1];
    }
    dft5(x, y);
    for (int k = 0; k < 5; ++k) {
      data[2 * kOut[r][k]] = y[2 * k];
      data[2 * kOut[r][k] + 1] = y[2 * k + 1];
    }
  }
}

void fft240(float* data) { primeFactor<16, fft16>(data, kMaps240); }
void fft480(float* data) { primeFactor<32, fft32>(data, kMaps480); }

void fixedSizeFft(float* data, int32_t n) {
  if (!data) return;
  switch (n) {
    case 4: fft4(data); break;
    case 8: fft8(data); break;
    case 16: fft16(data); break;
    case 32: fft32(data); break;
    case 240: fft240(data); break;
    case 480: fft480(data); break;
    default: break;
  }
}
