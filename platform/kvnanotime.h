// Times in 100-ns units and sample counts at a rate, for code on both builds
// (the time texts of the utility library, the marker chunks): one rounding
// rule, to the nearest sample with halves up, saturating at the 64-bit
// limits and 0 for what is not a number. Header-only.
#pragma once

#include <cmath>

#include "kvportable.h"

// The nearest integer of v, halves up, saturated.
inline LONGLONG KvRoundToInteger(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return 0x7FFFFFFFFFFFFFFFLL;
  if (v <= -9.2e18) return static_cast<LONGLONG>(0x8000000000000000ULL);
  return static_cast<LONGLONG>(std::floor(v + 0.5));
}

// A time in 100-ns units as samples at rate.
inline LONGLONG KvNanoToSamples(LONGLONG time, DWORD rate) {
  return KvRoundToInteger(static_cast<double>(time) / 10000000.0 * rate);
}
