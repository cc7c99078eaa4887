// Power-law transfer curve with a linear toe, and its lookup tables.
#include "kvgammacurve.h"

#include <cmath>

#include "kvimagealloc.h"

KvGammaCurve::KvGammaCurve() : KvGammaCurve(1.0f) {}

KvGammaCurve::KvGammaCurve(float g)
    : gamma(1.0f), breakpoint(26.0f), offset(0.0f), invScale(1.0f), slope(1.0f), encode(1), lastIndex(0),
      floatTable(nullptr), byteTable(nullptr) {
  SetGamma(g);
}

KvGammaCurve::~KvGammaCurve() { FreeTables(); }

void KvGammaCurve::FreeTables() {
  KvImageFree(floatTable);
  KvImageFree(byteTable);
  floatTable = nullptr;
  byteTable = nullptr;
}

void KvGammaCurve::SetGamma(float g) {
  FreeTables();
  // Zero, negative and NaN exponents describe no curve: the identity.
  if (!(g > 0.0f) || std::isinf(g)) g = 1.0f;
  const double r = 1.0 / g;
  gamma = g;
  // The breakpoint and slope laws reproduce BT.709 (0.018, 4.5) at 0.45 and
  // its inverse (0.081, 1/4.5) at 1/0.45, and move smoothly in between.
  breakpoint = static_cast<float>(std::pow(r, -0.9418051838874817) * 0.03818376734852791);
  slope = static_cast<float>(std::pow(r, 1.8836103677749634));
  if (g < 1.0f) {
    const double bg = std::pow(double(breakpoint), double(g));
    offset = static_cast<float>((double(slope) * breakpoint - bg) / (bg - 1.0));
    encode = 1;
  } else if (g > 1.0f) {
    const double p = std::pow(double(slope) * breakpoint, r);
    offset = static_cast<float>((breakpoint - p) / (p - 1.0));
    invScale = static_cast<float>(1.0 / (double(offset) + 1.0));
    encode = 0;
  } else {
    // Every input in -26..26 takes the linear path with slope 1.
    offset = 0.0f;
    breakpoint = 26.0f;
    encode = 1;
  }
}

float KvGammaCurve::Evaluate(float x) const {
  const double a = offset, g = gamma;
  if (encode) {
    if (x >= breakpoint) return static_cast<float>(std::pow(double(x), g) * (1.0 + a) - a);
    if (x <= -breakpoint) return static_cast<float>(-(std::pow(-double(x), g) * (1.0 + a) - a));
    return x * slope;
  }
  if (x >= breakpoint) return static_cast<float>(std::pow((double(x) + a) * invScale, g));
  if (x <= -breakpoint) return static_cast<float>(-std::pow((-double(x) + a) * invScale, g));
  return x * slope;
}

bool KvGammaCurve::BuildFloatTable(int32_t steps) {
  FreeTables();
  // Entries lie at i / (steps - 1): fewer than two steps have no spacing.
  if (steps < 2) return false;
  float* t = static_cast<float*>(KvImageAllocZeroed((size_t(steps) + 1) * sizeof(float)));
  if (!t) return false;
  for (int32_t i = 0; i <= steps; ++i) t[i] = Evaluate(static_cast<float>(double(i) / (steps - 1)));
  floatTable = t;
  lastIndex = steps - 1;
  return true;
}

bool KvGammaCurve::BuildByteTable(int32_t steps) {
  FreeTables();
  if (steps < 2) return false;
  uint8_t* t = static_cast<uint8_t*>(KvImageAllocZeroed(size_t(steps) + 1));
  if (!t) return false;
  for (int32_t i = 0; i <= steps; ++i) {
    const double v = std::nearbyint(double(Evaluate(static_cast<float>(double(i) / (steps - 1)))) * 255.0);
    // Only the last entry (above 1.0) can pass 255; lookups never read it.
    t[i] = static_cast<uint8_t>(static_cast<int64_t>(v) & 0xFF);
  }
  byteTable = t;
  lastIndex = steps - 1;
  return true;
}

float KvGammaCurve::Lookup(float x) const {
  if (std::isnan(x)) return 0.0f;
  if (x < 0.0f || x > 1.0f || !floatTable) return Evaluate(x);
  const float t = x * static_cast<float>(lastIndex);
  const int32_t i = static_cast<int32_t>(std::floor(t));
  const float f = t - static_cast<float>(i);
  return floatTable[i] * (1.0f - f) + floatTable[i + 1] * f;
}

uint8_t KvGammaCurve::LookupByte(float x) const {
  if (std::isnan(x) || x < 0.0f) return 0;
  if (x > 1.0f) return 255;
  if (!byteTable) {
    const double v = std::nearbyint(double(Evaluate(x)) * 255.0);
    return static_cast<uint8_t>(v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v);
  }
  return byteTable[static_cast<int32_t>(std::nearbyint(double(x) * lastIndex))];
}
