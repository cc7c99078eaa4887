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
#include "ltp.h"
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

// The long-term predictor's copy of the decoder: the forward transform's
// lines (times 2) of a chain of blocks through every sequence and both
// shapes, inverse-transformed, windowed and overlapped, give the input back
// one frame later; a fault in any window half, the unfolding or the scale
// shows as a difference in the frame it touches.
TEST(Transform, LongTermPredictorReconstructsTheInput) {
  TransformObject* t = nullptr;
  ASSERT_EQ(transformCreate(&t), 0);
  const struct {
    int sequence, shape;
  } chain[] = {{0, 0}, {0, 1}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 1}, {0, 1}, {0, 0}};
  const int frames = sizeof chain / sizeof chain[0];
  std::vector<float> x(1024 * (frames + 1), 0.0f);
  uint32_t seed = 7;
  for (size_t i = 0; i < x.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    x[i] = static_cast<float>(static_cast<int32_t>(seed >> 16) % 20001 - 10000);
  }
  LtpChannel ch = {};
  int previous = 0;
  float spectrum[1024];
  for (int f = 0; f < frames; ++f) {
    const float* block = x.data() + 1024 * f;
    const int seq = chain[f].sequence, shape = chain[f].shape;
    if (seq == kEightShortSequence) {
      for (int w = 0; w < 8; ++w)
        Transform(t, block + 448 + 128 * w, spectrum + 128 * w, seq, shape, w == 0 ? previous : shape);
    } else {
      Transform(t, block, spectrum, seq, shape, previous);
    }
    for (float& v : spectrum) v *= 2.0f;
    ltpReconstruct(t, &ch, spectrum, seq, shape);
    previous = shape;
    if (f == 0) continue;
    // The frame's output is the first half of its block.
    double err = 0.0, sig = 0.0;
    for (int i = 0; i < 1024; ++i) {
      const double d = ch.state[1024 + i] - block[i];
      err += d * d;
      sig += double(block[i]) * block[i];
    }
    EXPECT_LT(err, sig * 1e-8) << "frame " << f << " (sequence " << seq << ", shape " << shape << ")";
  }
  transformDelete(&t);
}
