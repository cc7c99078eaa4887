// Lagged-Fibonacci generator x_t = (x_{t-607} + x_{t-273}) mod 1 with RANMAR
// seeding; every value is a multiple of 2^-24 in [0, 1).
#include "randomgen.h"

#include <cmath>
#include <cstring>

#include "vecmath_kernels.h"

namespace {

constexpr int32_t kSecondSeed = 9373;

struct State {
  double buffer[kRandomLag];
  int32_t position;
  int32_t firstSeed;
};
State gState = {{0.0}, 0, 1802};

inline double frac(double v) { return v - std::trunc(v); }

// One step of the recurrence over the whole buffer: b[i] becomes x_{607+i}.
void refill(double* b) {
  constexpr int kGap = kRandomLag - kRandomShortLag;  // 334
  for (int i = 0; i < kRandomShortLag; ++i) b[i] = frac(b[i] + b[i + kGap]);
  for (int i = kRandomShortLag; i < kRandomLag; ++i) b[i] = frac(b[i] + b[i - kRandomShortLag]);
}

}  // namespace

void randomInit(int32_t s) {
  if (s != 0)
    gState.firstSeed = s;
  else
    s = gState.firstSeed;
  int32_t i = (s / 177) % 177 + 2;
  int32_t j = s % 177 + 2;
  int32_t k = (kSecondSeed / 169) % 178 + 1;
  int32_t l = kSecondSeed % 169;
  for (int n = 0; n < kRandomLag; ++n) {
    double value = 0.0, weight = 0.5;
    for (int b = 0; b < 24; ++b) {
      int32_t m = (((i * j) % 179) * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) value += weight;
      weight *= 0.5;
    }
    gState.buffer[n] = value;
  }
}

// Values are delivered in stream order: the undelivered buffer values, then
// one refilled buffer after another. The values depend only on the seed and
// on how many were drawn before, never on how requests are split.
void randomFill(int32_t n, double* z) {
  if (n < 1) return;
  double* b = gState.buffer;
  int32_t done = 0;
  while (done < n) {
    if (gState.position >= kRandomLag) {
      refill(b);
      gState.position = 0;
    }
    int32_t take = kRandomLag - gState.position;
    if (take > n - done) take = n - done;
    std::memcpy(z + done, b + gState.position, static_cast<size_t>(take) * sizeof(double));
    gState.position += take;
    done += take;
  }
}

void randomGetState(double* state) {
  state[0] = gState.position;
  std::memcpy(state + 1, gState.buffer, sizeof(double) * kRandomLag);
}

void randomSetState(const double* state) {
  double p = state[0];
  int32_t pos = 0;
  if (p >= kRandomLag)
    pos = kRandomLag;
  else if (p > 0)
    pos = static_cast<int32_t>(p);
  gState.position = pos;
  std::memcpy(gState.buffer, state + 1, sizeof(double) * kRandomLag);
}

// ---- the table's generic routines ------------------------------------------

void vecRandomDoubleGeneric(double* z, int32_t n) { randomFill(n, z); }

void vecRandomGeneric(float* z, int32_t n) {
  double block[10];
  int32_t i = 0;
  while (n - i > 10) {
    randomFill(10, block);
    for (int k = 0; k < 10; ++k) z[i + k] = static_cast<float>(block[k]);
    i += 10;
  }
  if (n - i > 0) {
    int32_t m = n - i;
    randomFill(m, block);
    for (int k = 0; k < m; ++k) z[i + k] = static_cast<float>(block[k]);
  }
}

void randomSeedGeneric(int32_t seed) { randomInit(seed % 31328); }

void randomSaveStateGeneric(double* state) { randomGetState(state); }

void randomRestoreStateGeneric(const double* state) { randomSetState(state); }
