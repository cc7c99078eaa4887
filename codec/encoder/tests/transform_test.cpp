// The encoder's MDCT against a direct O(N^2) MDCT computed by numpy (with
// windows computed there from their definitions), for every window sequence
// and every pair of window shapes, and the windows' support.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder_test_util.h"
#include "transform.h"

namespace {

struct Object {
  TransformObject* t = nullptr;
  Object() { EXPECT_EQ(transformCreate(&t), 0); }
  ~Object() { EXPECT_EQ(transformDelete(&t), 0); }
};

double relativeError(const float* got, const double* want, int n) {
  double maxDiff = 0, maxRef = 0;
  for (int i = 0; i < n; ++i) {
    maxDiff = std::max(maxDiff, std::fabs(got[i] - want[i]));
    maxRef = std::max(maxRef, std::fabs(want[i]));
  }
  return maxRef > 0 ? maxDiff / maxRef : maxDiff;
}

double worstError = 0;
double track(double e) {
  worstError = std::max(worstError, e);
  return e;
}

TEST(Transform, MatchesDirectMdctForAllSequencesAndShapes) {
  Object o;
  for (int input = 0; input < 2; ++input) {
    SCOPED_TRACE("input " + std::to_string(input));
    const std::vector<double> x64 = readF64(fixturePath("mdct_input" + std::to_string(input) + ".f64"));
    const std::vector<double> longs = readF64(fixturePath("mdct_long" + std::to_string(input) + ".f64"));
    const std::vector<double> shorts = readF64(fixturePath("mdct_short" + std::to_string(input) + ".f64"));
    ASSERT_EQ(x64.size(), 2048u) << "missing fixture";
    ASSERT_EQ(longs.size(), 12u * 1024u);
    ASSERT_EQ(shorts.size(), 32u * 128u);
    std::vector<float> x(x64.begin(), x64.end());
    std::vector<float> spectrum(1024);
    int index = 0;
    for (int sequence : {0, 1, 3}) {
      for (int prev = 0; prev < 2; ++prev) {
        for (int cur = 0; cur < 2; ++cur, ++index) {
          SCOPED_TRACE("sequence " + std::to_string(sequence) + " shapes " + std::to_string(prev) + "/" +
                       std::to_string(cur));
          EXPECT_EQ(Transform(o.t, x.data(), spectrum.data(), sequence, cur, prev), 0);
          EXPECT_LT(track(relativeError(spectrum.data(), &longs[index * 1024u], 1024)), 1e-5);
        }
      }
    }
    index = 0;
    for (int prev = 0; prev < 2; ++prev) {
      for (int cur = 0; cur < 2; ++cur) {
        for (int w = 0; w < 8; ++w, ++index) {
          SCOPED_TRACE("short window " + std::to_string(w) + " shapes " + std::to_string(prev) + "/" +
                       std::to_string(cur));
          EXPECT_EQ(Transform(o.t, &x[448 + 128 * w], spectrum.data(), kEightShortSequence, cur, prev), 0);
          EXPECT_LT(track(relativeError(spectrum.data(), &shorts[index * 128u], 128)), 1e-5);
        }
      }
    }
  }
  std::printf("largest relative error against numpy: %.3g\n", worstError);
}

// A long-start frame ignores samples from 1600 on, a long-stop frame those
// below 448; a zero input gives zero lines; an unknown sequence writes nothing.
TEST(Transform, WindowSupportAndEdgeCases) {
  Object o;
  std::vector<float> x(2048), y(2048), a(1024), b(1024);
  for (int i = 0; i < 2048; ++i) x[i] = static_cast<float>(std::sin(i * 0.37) * 1000.0 + (i % 7) * 13.0);
  y = x;
  for (int i = 1600; i < 2048; ++i) y[i] = 5000.0f;
  Transform(o.t, x.data(), a.data(), kLongStartSequence, 1, 0);
  Transform(o.t, y.data(), b.data(), kLongStartSequence, 1, 0);
  EXPECT_EQ(a, b);
  y = x;
  for (int i = 0; i < 448; ++i) y[i] = -7000.0f;
  Transform(o.t, x.data(), a.data(), kLongStopSequence, 0, 1);
  Transform(o.t, y.data(), b.data(), kLongStopSequence, 0, 1);
  EXPECT_EQ(a, b);
  // But an only-long frame depends on both ends.
  Transform(o.t, y.data(), b.data(), kOnlyLongSequence, 0, 1);
  Transform(o.t, x.data(), a.data(), kOnlyLongSequence, 0, 1);
  EXPECT_NE(a, b);
  std::vector<float> zero(2048, 0.0f);
  Transform(o.t, zero.data(), a.data(), kOnlyLongSequence, 1, 1);
  for (float v : a) ASSERT_EQ(v, 0.0f);
  std::vector<float> untouched(1024, 3.0f);
  EXPECT_EQ(Transform(o.t, x.data(), untouched.data(), 4, 0, 0), 0);
  EXPECT_EQ(Transform(o.t, x.data(), untouched.data(), -1, 0, 0), 0);
  for (float v : untouched) ASSERT_EQ(v, 3.0f);
  // Any non-zero shape selects KBD for the long halves; only 1 for short ones.
  Transform(o.t, x.data(), a.data(), kOnlyLongSequence, 1, 1);
  Transform(o.t, x.data(), b.data(), kOnlyLongSequence, 2, 2);
  EXPECT_EQ(a, b);
  Transform(o.t, x.data(), a.data(), kEightShortSequence, 0, 0);
  Transform(o.t, x.data(), b.data(), kEightShortSequence, 2, 2);
  EXPECT_EQ(std::vector<float>(a.begin(), a.begin() + 128), std::vector<float>(b.begin(), b.begin() + 128));
  // Stored windows: rounded to six decimals, rising, and power-complementary.
  for (int half : {1024, 128}) {
    for (int shape : {0, 1}) {
      const float* w = transformWindow(half, shape);
      ASSERT_NE(w, nullptr);
      for (int i = 0; i < half; ++i) {
        EXPECT_NEAR(w[i] * 1e6, std::round(w[i] * 1e6), 0.07);  // within a float ulp
        EXPECT_NEAR(w[i] * w[i] + w[half - 1 - i] * w[half - 1 - i], 1.0, 4e-6);
      }
    }
  }
  EXPECT_EQ(transformWindow(512, 0), nullptr);
  TransformObject* none = nullptr;
  EXPECT_EQ(transformDelete(&none), 0);
}

}  // namespace
