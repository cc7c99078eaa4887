// The decoder's 1024-point DCT-IV (over the runtime's 16- and 32-point
// FFTs) against the runtime's own DCT-IV and against the defining sum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dct1024.h"
#include "nyx_dct.h"

namespace {

TEST(Dct1024, MatchesTheRuntimeAndTheDefinition) {
  Dct1024* fast = dct1024Create();
  ASSERT_NE(fast, nullptr);
  DctHandle* ref = nullptr;
  ASSERT_EQ(createDct(&ref, 1024), 0);
  std::vector<float> x(1024), a(1024), b(1024);
  uint32_t seed = 12345;
  for (float& v : x) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(seed)) / 2147483648.0f;
  }
  dct1024Run(fast, x.data(), a.data());
  ASSERT_EQ(runDct(ref, x.data(), b.data()), 0);
  double err = 0, sig = 0;
  for (int k = 0; k < 1024; ++k) {
    err += (a[k] - b[k]) * (a[k] - b[k]);
    sig += b[k] * b[k];
  }
  EXPECT_LT(std::sqrt(err / sig), 1e-6) << "seed " << 12345;
  // Against the sum for a few outputs.
  for (int k : {0, 1, 511, 512, 1023}) {
    double s = 0;
    for (int n = 0; n < 1024; ++n) s += x[n] * std::cos(3.14159265358979323846 / 1024 * (n + 0.5) * (k + 0.5));
    EXPECT_NEAR(a[k], s, 1e-3) << k;
  }
  // In place gives the same.
  std::vector<float> c = x;
  dct1024Run(fast, c.data(), c.data());
  for (int k = 0; k < 1024; ++k) EXPECT_EQ(c[k], a[k]);
  deleteDct(&ref);
  dct1024Delete(&fast);
  EXPECT_EQ(fast, nullptr);
}

}  // namespace
