// Inverse-filtering decision: regions, the decision tables of both tunings,
// the energy offsets, hysteresis, and the per-frame estimate over a quota
// matrix through the patch map.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "invf_est.h"

namespace {

// A quota whose scaled logarithm ln(q) * 4.328... is x.
float quotaFor(double x) { return static_cast<float>(std::exp(x / 4.3280850648880005)); }

TEST(Invf, Regions) {
  const float t[4] = {1.0f, 10.0f, 14.0f, 19.0f};
  struct Case {
    float v;
    int region;
  } cases[] = {{-5.0f, 0}, {0.999f, 0}, {1.0f, 1}, {9.99f, 1}, {10.0f, 2}, {14.0f, 3}, {18.9f, 3}, {19.0f, 4}, {100.0f, 4}};
  for (const Case& c : cases) EXPECT_EQ(c.region, invfRegion(c.v, t, 4)) << c.v;
}

TEST(Invf, DecisionTables) {
  // Values in the middle of each region: region A from the second measure
  // (source tonality), region B from the first (original tonality).
  const double midA[5] = {0.0, 5.0, 12.0, 16.5, 25.0};
  const double midB[5] = {-3.0, 1.5, 5.0, 8.5, 15.0};
  const int expected[2][2][5][5] = {
      {{{2, 1, 0, 0, 0}, {2, 1, 0, 0, 0}, {3, 2, 1, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
       {{1, 1, 1, 0, 0}, {1, 1, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}}},
      {{{2, 2, 1, 0, 0}, {2, 2, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
       {{2, 2, 1, 0, 0}, {2, 2, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}}}};
  for (int tuning = 0; tuning < 2; ++tuning) {
    const InvfDetectorParams* p = invfDetectorParams(tuning);
    for (int tr = 0; tr < 2; ++tr)
      for (int ra = 0; ra < 5; ++ra)
        for (int rb = 0; rb < 5; ++rb) {
          int prevA = ra, prevB = rb;
          int mode = invfDecide(p, quotaFor(midB[rb]), quotaFor(midA[ra]), 1e6f, &prevA, &prevB, tr, 1);
          EXPECT_EQ(expected[tuning][tr][ra][rb], mode) << "tuning " << tuning << " transient " << tr << " A " << ra << " B " << rb;
          EXPECT_EQ(ra, prevA);
          EXPECT_EQ(rb, prevB);
        }
  }
}

TEST(Invf, EnergyOffsets) {
  // n = ln(e) * 2.164...: regions below -20, -15, -10, -5 lower the mode by
  // 4, 3, 2, 1; a silent band (e = 0) gives 0. The 2^-30 scale moves eps only.
  const InvfDetectorParams* p = invfDetectorParams(0);
  struct Case {
    double n;
    int mode;
  } cases[] = {{-30.0, 0}, {-17.0, 0}, {-12.0, 1}, {-7.0, 2}, {0.0, 3}, {40.0, 3}};
  for (const Case& c : cases) {
    int prevA = 3, prevB = 0;
    // Region A 3, region B 0: table value 3.
    float e = static_cast<float>(std::exp(c.n / 2.1640425324440002));
    EXPECT_EQ(c.mode, invfDecide(p, quotaFor(-3.0), quotaFor(16.5), e, &prevA, &prevB, 0, 1)) << c.n;
  }
  int prevA = 3, prevB = 0;
  EXPECT_EQ(0, invfDecide(p, quotaFor(-3.0), quotaFor(16.5), 0.0f, &prevA, &prevB, 0, 1));
  prevA = 3;
  prevB = 0;
  EXPECT_EQ(0, invfDecide(p, quotaFor(-3.0), quotaFor(16.5), 0.0f, &prevA, &prevB, 0, 0));
  // The thresholds themselves do not scale: e = 0.01 gives n = -9.97, region
  // 3, offset -1, in either scale.
  for (int scale : {0, 1}) {
    prevA = 3;
    prevB = 0;
    EXPECT_EQ(2, invfDecide(p, quotaFor(-3.0), quotaFor(16.5), 1e-2f, &prevA, &prevB, 0, scale));
  }
}

TEST(Invf, Hysteresis) {
  const InvfDetectorParams* p = invfDetectorParams(0);
  // Region A was 1 ([1, 10)): the threshold 10 is raised to 11 while there.
  struct Case {
    int prev;
    double b;
    int region;
  } cases[] = {{1, 10.5, 1}, {1, 10.99, 1}, {1, 11.01, 2}, {2, 9.5, 2}, {2, 9.01, 2}, {2, 8.99, 1}, {0, 1.5, 0}, {0, 2.01, 1}, {4, 18.5, 4}, {4, 17.99, 3}};
  for (const Case& c : cases) {
    int prevA = c.prev, prevB = 0;
    invfDecide(p, quotaFor(-3.0), quotaFor(c.b), 1e6f, &prevA, &prevB, 0, 1);
    EXPECT_EQ(c.region, prevA) << "previous " << c.prev << " value " << c.b;
  }
}

TEST(Invf, EstimateThroughThePatchMap) {
  // Two detector bands over QMF bands [20, 30) and [30, 40); sources 10..19.
  const int borders[3] = {20, 30, 40};
  HANDLE_INVF_DETECTOR h = nullptr;
  ASSERT_EQ(nullptr, createInvFiltDetector(&h, 0, borders, 2, 0));
  EXPECT_EQ(2, h->numEstimates);
  EXPECT_EQ(1, h->initialised);
  std::vector<int> index(64, -1);
  for (int k = 0; k < 20; ++k) index[k] = k;
  for (int k = 20; k < 40; ++k) index[k] = 10 + (k % 10);
  // Rows 2 and 3 are the frame. Sources very tonal (b = 25: region A 4)
  // and the originals noisy (a = -3: region B 0) in band 0; band 1's
  // originals as tonal as the source.
  std::vector<std::vector<float>> q(4, std::vector<float>(64, 0.0f));
  for (auto& r : q) {
    for (int k = 10; k < 20; ++k) r[k] = quotaFor(25.0);
    for (int k = 20; k < 30; ++k) r[k] = quotaFor(-3.0);
    for (int k = 30; k < 40; ++k) r[k] = quotaFor(25.0);
  }
  std::vector<float*> rows = {q[0].data(), q[1].data(), q[2].data(), q[3].data()};
  const float nrg[4] = {1e6f, 1e6f, 1e6f, 1e6f};
  int modes[2] = {-1, -1};
  // With a transient the frame's own values decide at once.
  invfEstimate(h, rows.data(), nrg, index.data(), 2, 4, 1, modes, 1);
  EXPECT_EQ(3, modes[0]);
  EXPECT_EQ(0, modes[1]);
  EXPECT_NEAR(quotaFor(-3.0), h->band[0].qA, 1e-6);
  EXPECT_NEAR(quotaFor(25.0), h->band[0].qB, 1e-3);
  // Without a transient the last three frames are weighted 1/4, 1/4, 1/2.
  // History (oldest first): 0, v, v: 0.25 * 0 + 0.25 v + 0.5 v.
  invfEstimate(h, rows.data(), nrg, index.data(), 2, 4, 0, modes, 1);
  EXPECT_NEAR(0.75 * quotaFor(25.0), h->band[0].qB, 1e-3);
  EXPECT_NEAR(0.75 * quotaFor(-3.0), h->band[0].qA, 1e-6);
  EXPECT_EQ(3, modes[0]);

  CodecError* e = invfReset(h, borders, 2, 1);  // flag set: unknown codec type
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("unknown codec type", e->message);
  deleteError(e);
  invfDelete(h);
  invfDelete(nullptr);

  e = createInvFiltDetector(&h, 1, borders, 2, 0);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("unknown codec type", e->message);
  EXPECT_EQ(nullptr, h);
  deleteError(e);
}

}  // namespace
