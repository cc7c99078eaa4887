// The random generator against an independent numpy-side implementation of
// its seeding and recurrence, and the band lookups and index sort with their
// worked values. The generator's state is process-wide: the first test relies
// on nothing having drawn before it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "bandlookup.h"
#include "randomgen.h"
#include "testdata.h"
#include "vecmath.h"
#include "vog_tools.h"

using codectest::readArray;

TEST(Random, UnseededGeneratorGivesZeros) {
  double z[5] = {1, 1, 1, 1, 1};
  vecRandomDouble(z, 5);
  for (double v : z) EXPECT_EQ(v, 0.0);
}

TEST(Random, StreamDoesNotDependOnHowRequestsAreSplit) {
  auto ref = readArray<double>("random/seed1802.f64");
  if (ref.size() < 5000) VOG_TOOL_MISSING("numpy") << "fixture missing";
  double state[kRandomStateSize];
  randomRestoreState(std::vector<double>(kRandomStateSize, 0.0).data());  // position 0
  randomSeed(0);  // the remembered first seed, 1802
  randomSaveState(state);

  std::vector<double> whole(4000);
  vecRandomDouble(whole.data(), 4000);
  for (int i = 0; i < 4000; ++i) ASSERT_EQ(whole[i], ref[i]) << "one request, value " << i;
  EXPECT_EQ(whole[607], std::fmod(ref[0] + ref[334], 1.0));

  randomRestoreState(state);
  for (int i = 0; i < 2000; ++i) {
    double v;
    vecRandomDouble(&v, 1);
    ASSERT_EQ(v, ref[i]) << "single draws, value " << i;
  }
  randomRestoreState(state);
  std::vector<double> parts(2000);
  vecRandomDouble(parts.data(), 607);
  vecRandomDouble(parts.data() + 607, 1393);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(parts[i], ref[i]) << "607 + 1393, value " << i;

  // Floats through blocks of 10: the same values, exactly, never 1.0.
  randomRestoreState(state);
  std::vector<float> f(1234);
  vecRandom(f.data(), 1234);
  for (int i = 0; i < 1234; ++i) {
    ASSERT_EQ(f[i], static_cast<float>(ref[i])) << i;
    ASSERT_EQ(static_cast<double>(f[i]), ref[i]) << "multiples of 2^-24 convert exactly";
    ASSERT_LT(f[i], 1.0f);
  }
}

TEST(Random, SeedsTakenModulo31328AndPositionKept) {
  auto ref1 = readArray<double>("random/seed1.f64");
  auto ref1802 = readArray<double>("random/seed1802.f64");
  if (ref1.empty() || ref1802.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  std::vector<double> zero(kRandomStateSize, 0.0);
  randomRestoreState(zero.data());
  randomSeed(31328 + 1);  // seeds with 1, which is remembered
  std::vector<double> v(700);
  vecRandomDouble(v.data(), 700);
  for (int i = 0; i < 700; ++i) ASSERT_EQ(v[i], ref1[i]) << i;

  randomRestoreState(zero.data());
  randomSeed(31328);  // the remembered first seed: now 1
  vecRandomDouble(v.data(), 10);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(v[i], ref1[i]) << i;

  // Re-seeding keeps the position: after 10 values the next come from
  // element 10 of the new buffer.
  randomSeed(1802);
  vecRandomDouble(v.data(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], ref1802[10 + i]) << i;
}

TEST(Random, SaveDrawRestoreRepeats) {
  randomSeed(4711);
  std::vector<double> state(kRandomStateSize), a(100), b(100);
  randomSaveState(state.data());
  vecRandomDouble(a.data(), 100);
  randomRestoreState(state.data());
  vecRandomDouble(b.data(), 100);
  EXPECT_EQ(a, b);
  // A position outside 0..607 is clamped instead of indexing outside the buffer.
  for (double pos : {-5.0, 1e9, std::numeric_limits<double>::quiet_NaN(), 607.0}) {
    state[0] = pos;
    randomRestoreState(state.data());
    vecRandomDouble(a.data(), 100);
    for (double x : a) {
      EXPECT_GE(x, 0.0);
      EXPECT_LT(x, 1.0);
    }
  }
}

TEST(BandLookup, WorkedValues) {
  const int32_t offsets[] = {0, 4, 8, 12, 16};
  struct Case {
    float freq;
    int32_t index, band;
  } cases[] = {{1000, 0, 0}, {2000, 0, 0}, {3000, 1, 0}, {16000, 4, 4},
               {0, 0, 0},    {6000, 1, 1}, {7000, 2, 1}, {15000, 4, 3}, {20000, 4, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(freqToBandIndex(c.freq, 32000, 4, offsets), c.index) << c.freq;
    EXPECT_EQ(freqToBand(c.freq, 32000, 4, offsets), c.band) << c.freq;
  }
  EXPECT_EQ(freqToBand(1000, 32000, 0, offsets), 0);
  // Line offsets[b] - 1 of 16 lines over 0 .. 16000 Hz.
  EXPECT_EQ(bandBorderToFreq(2, 32000, 16, offsets), 7000);  // 0.5 + 16000 * 7/16
  EXPECT_EQ(bandBorderToFreq(4, 32000, 16, offsets), 15000);
  EXPECT_EQ(bandBorderToFreq(0, 32000, 16, offsets), -999);  // trunc(0.5 - 1000)
}

TEST(IndexSort, StableByKey) {
  struct Case {
    std::vector<float> keys;
    std::vector<uint32_t> index;
  } cases[] = {
      {{2, 1, 2, 0}, {3, 1, 0, 2}},
      {{}, {}},
      {{5}, {0}},
      {{1, 1, 1}, {0, 1, 2}},
      {{3, -1, 2, -1, 3}, {1, 3, 2, 0, 4}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> index(c.keys.size(), 99);
    sortIndexByKey(c.keys.data(), index.data(), static_cast<int32_t>(c.keys.size()));
    EXPECT_EQ(index, c.index);
  }
  // A NaN key is never passed over nor passes another.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  float keys[] = {3, nan, 1, 2};
  uint32_t index[4];
  sortIndexByKey(keys, index, 4);
  EXPECT_EQ(index[0], 0u);
  EXPECT_EQ(index[1], 1u);
  EXPECT_EQ(index[2], 2u);
  EXPECT_EQ(index[3], 3u);
}
