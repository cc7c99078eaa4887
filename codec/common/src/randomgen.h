// The codec's uniform random-number generator: additive lagged Fibonacci
// (lags 607 and 273) on doubles in [0, 1), seeded as Marsaglia and Zaman's
// RANMAR. One process-wide state; one thread at a time may use it. The entry
// functions vecRandom, vecRandomDouble, randomSeed, randomSaveState and
// randomRestoreState sit in the vector-math table (vecmath.h).
#pragma once

#include <cstdint>

constexpr int kRandomLag = 607;
constexpr int kRandomShortLag = 273;
constexpr int kRandomStateSize = kRandomLag + 1;  // position, then the buffer

// Fills the buffer from seed s (s == 0: the remembered first seed, initially
// 1802); the position stays where it was.
void randomInit(int32_t s);

// The generator's core: n values in stream order (n below 1 does nothing).
void randomFill(int32_t n, double* z);

// The state as 608 doubles (position first) / loaded from them. A position
// outside 0..607 is clamped.
void randomGetState(double* state);
void randomSetState(const double* state);
