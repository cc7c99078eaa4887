// Transient detector: create-time settings, constant and clicking energy
// sequences to decisions, a peak carried across frames, the candidate values
// against a direct two-pass evaluation, and the frame splitter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tran_det.h"

namespace {

constexpr int kCols = 32;
constexpr int kLookBack = 8;
constexpr int kRows = kCols + kLookBack + 3;
constexpr int kBands = 64;

// An energy buffer of kRows rows; row kLookBack is the frame's first slot.
struct Energies {
  std::vector<std::vector<float>> data;
  std::vector<float*> rows;
  explicit Energies(float level) : data(kRows, std::vector<float>(kBands, level)), rows(kRows) {
    for (int i = 0; i < kRows; ++i) rows[i] = data[i].data();
  }
  float** ptr() { return rows.data(); }
  // Next frame: the buffer moves on by kCols slots; new slots get `level`.
  void advance(float level) {
    // Contents are copied so that the row pointers stay valid.
    for (int i = 0; i < kRows; ++i) {
      if (i + kCols < kRows) {
        std::copy(data[i + kCols].begin(), data[i + kCols].end(), data[i].begin());
      } else {
        std::fill(data[i].begin(), data[i].end(), level);
      }
    }
  }
};

HANDLE_SBR_TRANSIENT_DETECTOR make(int sampleRate = 44100, int lookBack = kLookBack) {
  HANDLE_SBR_TRANSIENT_DETECTOR h = nullptr;
  CodecError* e = tranDetCreate(&h, 2048, sampleRate, 1.0f, 13000.0f, kBands, 1.5f, kCols, kCols,
                                lookBack, kRows);
  EXPECT_EQ(nullptr, e);
  deleteError(e);
  return h;
}

TEST(TranDet, CreateSettings) {
  struct Case {
    int rate, lookBack, win;
  } cases[] = {{48000, 8, 8}, {44100, 8, 7}, {24000, 8, 4}, {22050, 8, 4}, {96000, 8, 8}, {48000, 5, 5}};
  for (const Case& c : cases) {
    HANDLE_SBR_TRANSIENT_DETECTOR h = make(c.rate, c.lookBack);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(c.win, h->winLength) << c.rate << " Hz, look-back " << c.lookBack;
    EXPECT_EQ(kCols + 2, h->nSlotsOut);
    tranDetDelete(h);
  }
  // splitThreshold = 0.000075 / d^2 * factor with d = frame duration - 10 ms.
  HANDLE_SBR_TRANSIENT_DETECTOR h = nullptr;
  ASSERT_EQ(nullptr, tranDetCreate(&h, 2048, 44100, 2.0f, 1.0f, 64, 1.0f, 32, 32, 8, 43));
  double d = 2048.0 / 44100.0 - 0.01;
  EXPECT_NEAR(0.000075 / (d * d) * 2.0, h->splitThreshold, 1e-4 * h->splitThreshold);
  tranDetDelete(h);
  // At or below 10.1 ms the duration is held at 0.1 ms: 7500 x factor.
  ASSERT_EQ(nullptr, tranDetCreate(&h, 445, 44100, 3.0f, 1.0f, 64, 1.0f, 32, 32, 8, 43));
  EXPECT_NEAR(7500.0 * 3.0, h->splitThreshold, 0.01);
  tranDetDelete(h);

  struct Bad {
    int lookBack, rows, bands;
  } bad[] = {{8, 42, 64}, {1, 40, 64}, {0, 40, 64}, {8, 43, 65}, {8, 43, 0}};
  for (const Bad& b : bad) {
    h = reinterpret_cast<HANDLE_SBR_TRANSIENT_DETECTOR>(&d);
    CodecError* e = tranDetCreate(&h, 2048, 48000, 1.0f, 1.0f, b.bands, 1.0f, 32, 32, b.lookBack, b.rows);
    ASSERT_NE(nullptr, e) << b.lookBack << " " << b.rows << " " << b.bands;
    EXPECT_STREQ("Too short buffers in transient detector", e->message);
    EXPECT_STREQ("tran_det.cpp", e->file);
    EXPECT_EQ(nullptr, h);
    deleteError(e);
  }
  tranDetDelete(nullptr);
}

// The candidate search takes bands four at a time; the sums must equal, to
// the bit, those of the bands taken one by one in order (a one-band call
// works alone). Band counts around the group size, and energies with bursts
// so that many slots have candidates.
TEST(TranDet, CandidatesOfBandGroupsEqualThoseBandByBand) {
  constexpr int kWin = 8, kOut = 40, kWidth = 16;
  std::mt19937 gen(11);
  std::exponential_distribution<float> d(1.0f / 200000.0f);
  std::vector<std::vector<float>> data(kWin + kOut + 1, std::vector<float>(kWidth));
  for (auto& row : data)
    for (auto& v : row) v = d(gen) * ((gen() % 7 == 0) ? 40.0f : 1.0f);
  for (int nBands : {1, 3, 4, 5, 8, 11, 16}) {
    std::vector<float*> rows(data.size());
    for (size_t t = 0; t < data.size(); ++t) rows[t] = data[t].data();
    std::vector<float> grouped(kOut, 0.0f), single(kOut, 0.0f);
    tranDetCandidates(nBands, rows.data() + kWin, kWin, grouped.data(), kOut, 1);
    for (int b = 0; b < nBands; ++b) {
      std::vector<float*> shifted(data.size());
      for (size_t t = 0; t < data.size(); ++t) shifted[t] = data[t].data() + b;
      tranDetCandidates(1, shifted.data() + kWin, kWin, single.data(), kOut, 1);
    }
    int hits = 0;
    for (int t = 0; t < kOut; ++t) {
      EXPECT_EQ(single[t], grouped[t]) << nBands << " bands, slot " << t;
      hits += grouped[t] > 0.0f;
    }
    EXPECT_GT(hits, 0) << nBands << " bands";
  }
}

TEST(TranDet, ConstantEnergiesFindNothing) {
  for (int scale : {1, 0}) {
    HANDLE_SBR_TRANSIENT_DETECTOR h = make();
    Energies e(scale ? 1e6f : 1e-3f);
    for (int frame = 0; frame < 4; ++frame) {
      int result[2] = {7, 7};
      tranDetDetect(e.ptr(), h, result, 2, scale);
      EXPECT_EQ(0, result[0]);
      EXPECT_EQ(0, result[1]);
      e.advance(scale ? 1e6f : 1e-3f);
    }
    tranDetDelete(h);
  }
}

TEST(TranDet, ClickIsFoundInItsSlot) {
  // A click in the high bands of slot k of the second frame, in both scales
  // and for several time steps.
  for (int scale : {1, 0}) {
    for (int timeStep : {1, 2, 4}) {
      for (int k : {3, 10, 17, 26}) {
        HANDLE_SBR_TRANSIENT_DETECTOR h = make();
        const float base = scale ? 1e6f : 1e6f * 9.313225746154785e-10f;
        Energies e(base);
        int result[2];
        tranDetDetect(e.ptr(), h, result, timeStep, scale);
        ASSERT_EQ(0, result[1]);
        e.advance(base);
        for (int b = 32; b < kBands; ++b) e.data[kLookBack + k][b] = base * 1000.0f;
        tranDetDetect(e.ptr(), h, result, timeStep, scale);
        EXPECT_EQ(1, result[1]) << "scale " << scale << " step " << timeStep << " slot " << k;
        EXPECT_EQ(k / timeStep, result[0]) << "scale " << scale << " step " << timeStep << " slot " << k;
        // The splitter leaves a found transient alone.
        const int table[3] = {32, 48, 64};
        int before[2] = {result[0], result[1]};
        tranDetSplitFrame(e.ptr(), h, table, 2, 2, kCols, result, scale);
        EXPECT_EQ(before[0], result[0]);
        EXPECT_EQ(before[1], result[1]);
        tranDetDelete(h);
      }
    }
  }
}

TEST(TranDet, RisingPeakAtFrameEndIsReportedInTheNextFrame) {
  HANDLE_SBR_TRANSIENT_DETECTOR h = make();
  Energies e(1e6f);
  int result[2];
  tranDetDetect(e.ptr(), h, result, 1, 1);
  e.advance(1e6f);
  // The high bands step up in the first slot after this frame (seen here
  // through the two look-ahead slots): the candidates still rise at the
  // frame's end, so the peak and its decay are only judged in the next frame.
  for (int s = kLookBack + kCols; s < kRows; ++s)
    for (int b = 32; b < kBands; ++b) e.data[s][b] = 1e9f;
  tranDetDetect(e.ptr(), h, result, 1, 1);
  EXPECT_EQ(0, result[1]);
  EXPECT_EQ(0, result[0]);
  EXPECT_GT(h->runningMax, 0.0f);  // carried into the next frame
  e.advance(1e9f);
  for (int s = kRows - kCols; s < kRows; ++s)
    for (int b = 0; b < 32; ++b) e.data[s][b] = 1e6f;  // the low bands stay where they were
  tranDetDetect(e.ptr(), h, result, 1, 1);
  EXPECT_EQ(1, result[1]);
  EXPECT_EQ(0, result[0]);
  EXPECT_EQ(0, h->candidateOpen);
  EXPECT_EQ(0.0f, h->runningMax);
  tranDetDelete(h);
}

TEST(TranDet, CandidatesMatchDirectStatistics) {
  // Each slot's threshold from a fresh two-pass mean and unbiased variance
  // over the L slots ending with it, in double precision.
  std::mt19937 gen(3);
  std::exponential_distribution<float> dist(1.0f / 2e5f);
  const int L = 7, bands = 12, slots = 20, history = 8;
  std::vector<std::vector<float>> data(history + slots + 1, std::vector<float>(bands));
  for (auto& r : data)
    for (auto& v : r) v = dist(gen);
  std::vector<float*> rows(data.size());
  for (size_t i = 0; i < data.size(); ++i) rows[i] = data[i].data();
  std::vector<float> out(slots, 0.0f);
  tranDetCandidates(bands, rows.data() + history, L, out.data(), slots, 1);
  for (int t = 0; t < slots; ++t) {
    double expect = 0.0;
    for (int b = 0; b < bands; ++b) {
      double sum = 0.0, sq = 0.0;
      for (int j = t - L + 1; j <= t; ++j) sum += data[history + j][b];
      double mean = sum / L;
      for (int j = t - L + 1; j <= t; ++j) sq += (data[history + j][b] - mean) * (data[history + j][b] - mean);
      double thr = std::max(std::sqrt(sq / (L - 1)) + mean, 128000.0);
      double delta = static_cast<double>(data[history + t + 1][b]) - data[history + t - 1][b];
      if (delta > thr) expect += delta / thr - 1.0;
    }
    EXPECT_NEAR(expect, out[t], 1e-3 * std::max(1.0, expect)) << "slot " << t;
  }
}

TEST(TranDet, SplitterFollowsTheSpectralChange) {
  // Low bands constant; high bands change level between the frame's halves
  // by a factor r. The change grows with |ln r| and the split decision flips
  // at the threshold.
  const int table[4] = {16, 32, 48, 64};
  auto change = [&](float ratio, int* verdict) {
    HANDLE_SBR_TRANSIENT_DETECTOR h = make();
    Energies e(1e7f);
    for (int s = kLookBack + kCols / 2; s < kLookBack + kCols; ++s)
      for (int b = 16; b < 64; ++b) e.data[s][b] = 1e7f * ratio;
    int result[2] = {0, 0};
    tranDetSplitFrame(e.ptr(), h, table, 3, 2, kCols, result, 1);
    *verdict = result[0];
    float m[kTranDetMaxGroups][kTranDetMaxSfb];
    float** frame = e.ptr() + kLookBack;
    float low = tranDetLowBandEnergy(frame, kCols, 16, 1);
    float high = tranDetHighBandEnergy(frame, table, 3, 16, 2, kCols, m, 1);
    EXPECT_NEAR(1.0 + 32 * 16 * 1e7, low, 1e-5 * low);
    EXPECT_NEAR(h->avgHighBandEnergy, high / 48.0f, 1e-3 * high / 48.0f);
    float c = tranDetSpectralChange(m, 3, 0, 8, 16, 0.5f * low + high, 1);
    tranDetDelete(h);
    return c;
  };
  int v1, v2, v3;
  float c1 = change(1.0f, &v1), c2 = change(2.0f, &v2), c3 = change(8.0f, &v3);
  // Equal halves: a1 and a2 differ only by the 1e6 floor terms: ln(1) = 0.
  EXPECT_NEAR(0.0f, c1, 1e-3f);
  EXPECT_LT(c1, c2);
  EXPECT_LT(c2, c3);
  EXPECT_EQ(0, v1);
  // Closed form for the two-level case: per band j with energy E per group
  // in the first half and rE in the second, over 8 + 8 groups.
  const double E = 1e7 * 2 * 16, r = 8.0;
  double a1 = 8 * 1e6 + 8 * E, a2 = 8 * 1e6 + 8 * r * E;
  double total = 0.5 * (1.0 + 32 * 16 * 1e7) + 1.0 + 3 * (8 * E + 8 * r * E);
  double expect = 3 * std::fabs(std::log(a2 / a1)) * std::sqrt(a1 + a2) / std::sqrt(total);
  EXPECT_NEAR(expect, c3, 1e-3 * expect);
  EXPECT_EQ(1, v3);  // far above 0.000075 / 0.0364^2 = 0.056
}

}  // namespace
