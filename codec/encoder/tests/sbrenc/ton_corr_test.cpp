// Tonality correlation: the covariance and predictor against closed forms
// (a pure complex tone is predicted exactly; a tone in white noise has a
// quota near its tone-to-noise ratio), the sign rule, silent bands, the
// frame history; patch construction for hand-worked master tables; the
// transient carry and the estimator calls of the per-frame routine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <complex>
#include <random>
#include <vector>

#include "ton_corr.h"

namespace {

constexpr int kSlots = 32;
constexpr int kChannels = 64;

// QMF slot rows: 2 rows in front of the frame, then kSlots rows.
struct Slots {
  std::vector<std::vector<float>> re, im;
  std::vector<float*> pr, pi;
  Slots() : re(kSlots + 2, std::vector<float>(kChannels, 0.0f)), im(re), pr(kSlots + 2), pi(kSlots + 2) {
    for (int i = 0; i < kSlots + 2; ++i) {
      pr[i] = re[i].data();
      pi[i] = im[i].data();
    }
  }
  float** r() { return pr.data() + 2; }
  float** i() { return pi.data() + 2; }
};

const int kMaster[] = {20, 22, 24, 26, 28, 30, 32, 34, 36, 39, 42, 46, 50, 55, 60};
const int kLowRes[] = {20, 24, 28, 32, 36, 42, 50, 60};
const int kHighRes[] = {20, 22, 24, 26, 28, 30, 32, 34, 36, 39, 42, 46, 50, 55, 60};

HANDLE_TON_CORR make(const int* master = kMaster, int nMaster = 14, int xover = 0, int highStart = 20) {
  const int* tables[2] = {kLowRes, kHighRes};
  const int counts[2] = {7, 14};
  HANDLE_TON_CORR h = nullptr;
  CodecError* e = CreateTonCorrParamExtr(&h, 1, 0, kSlots, 1, 44100, kChannels, xover, highStart, master, nMaster,
                                         0, tables, counts, 0, 0, 0, 0, 0);
  EXPECT_EQ(nullptr, e);
  deleteError(e);
  return h;
}

TEST(TonCorr, CreateLayout) {
  HANDLE_TON_CORR h = make();
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(2, h->estimatesPerFrame);
  EXPECT_EQ(4, h->bufferLength);  // (1 / 1 + 1) * 2
  EXPECT_EQ(2, h->startIndexMatrix);
  EXPECT_EQ(16, h->estimateStep);
  EXPECT_EQ(14, h->estimateLength);
  EXPECT_EQ(2, h->estimateOffset);
  EXPECT_EQ(4, h->transientLead);
  EXPECT_EQ(60, h->stopBand);
  tonCorrDelete(h, 0);
  tonCorrDelete(nullptr, 0);

  const int* tables[2] = {kLowRes, kHighRes};
  const int counts[2] = {7, 14};
  CodecError* e = CreateTonCorrParamExtr(&h, 1, 0, kSlots, 1, 44100, kChannels, 0, 20, kMaster, 14, 0, tables,
                                         counts, 0, 0, 0, 0, 1);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("unknown codec type", e->message);
  EXPECT_EQ(nullptr, h);
  deleteError(e);
}

TEST(TonCorr, PureToneIsPredictedExactly) {
  // x[t] = A exp(i w t) is predicted exactly by one tap: f = e0 / (e0 + 1)
  // and the quota is f / (1 - f + 1e-6), about 1 / (1/e0 + 1e-6). Its
  // covariance is closed-form: every energy 14 A^2, c01 = c12 = 14 A^2
  // exp(i w), c02 = 14 A^2 exp(2 i w).
  const double w = 0.7, A = 1000.0, P = 14.0 * A * A;
  Slots s;
  for (int t = -2; t < kSlots; ++t) {
    s.re[t + 2][5] = static_cast<float>(A * std::cos(w * t));
    s.im[t + 2][5] = static_cast<float>(A * std::sin(w * t));
  }
  AutoCorrCoeffs ac;
  tonCorrAutoCorr(&ac, s.r(), s.i(), 5, 2, 14);
  EXPECT_NEAR(P, ac.e0, 1e-6 * P);
  EXPECT_NEAR(P, ac.e1, 1e-6 * P);
  EXPECT_NEAR(P, ac.e2, 1e-6 * P);
  EXPECT_NEAR(P * std::cos(w), ac.c01re, 1e-6 * P);
  EXPECT_NEAR(P * std::sin(w), ac.c01im, 1e-6 * P);
  EXPECT_NEAR(P * std::cos(2 * w), ac.c02re, 1e-6 * P);
  EXPECT_NEAR(P * std::sin(2 * w), ac.c02im, 1e-6 * P);
  EXPECT_NEAR(P * std::cos(w), ac.c12re, 1e-6 * P);
  EXPECT_NEAR(P * std::sin(w), ac.c12im, 1e-6 * P);
  EXPECT_NEAR(P * P * (1 - 0.9999990000010025), ac.det, 1e-2 * P * P * 1e-6);
  double a1[2], a0[2];
  tonCorrPredictionCoeffs(&ac, a1, a0);
  // Nearly all the prediction in the first tap: a0 = -exp(i w).
  EXPECT_NEAR(-std::cos(w), a0[0], 1e-3);
  EXPECT_NEAR(-std::sin(w), a0[1], 1e-3);
  const double expectQuota = (P / (P + 1)) / (1 - P / (P + 1) + 1e-6);

  HANDLE_TON_CORR h = make();
  tonCorrCalcQuotas(h, s.r(), s.i(), 1);
  for (int e = 0; e < 2; ++e) {
    EXPECT_NEAR(expectQuota, h->quotaMatrix[2 + e][5], 0.02 * expectQuota) << "estimate " << e;
    EXPECT_EQ(0.0f, h->quotaMatrix[2 + e][6]);  // silent band: quota 0, sign +1
    EXPECT_EQ(1, h->signMatrix[2 + e][6]);
    EXPECT_NEAR(P, h->nrgVector[2 + e], 1e-5 * P);
  }
  EXPECT_NEAR(P, h->nrgVectorFreq[5], 1e-5 * P);
  tonCorrDelete(h, 0);
}

// The per-frame routine works bands in pairs; each band's energy and quota
// must be those its own covariance gives, to the bit. Noise in every band
// makes any mix-up of bands, slots or terms show.
TEST(TonCorr, FrameQuotasAreThoseOfEachBandsOwnCovariance) {
  Slots s;
  std::mt19937 gen(7);
  std::normal_distribution<float> d(0.0f, 1000.0f);
  for (int t = 0; t < kSlots + 2; ++t)
    for (int k = 0; k < kChannels; ++k) s.re[t][k] = d(gen), s.im[t][k] = d(gen);
  // A tone in one band so that quotas well above zero are checked too.
  for (int t = -2; t < kSlots; ++t) {
    s.re[t + 2][33] = static_cast<float>(5000.0 * std::cos(0.9 * t));
    s.im[t + 2][33] = static_cast<float>(5000.0 * std::sin(0.9 * t));
  }
  HANDLE_TON_CORR h = make();
  tonCorrCalcQuotas(h, s.r(), s.i(), 1);
  std::vector<float> freq(kChannels, 0.0f);
  for (int e = 0; e < h->estimatesPerFrame; ++e) {
    const int start = h->estimateOffset + e * h->estimateStep;
    float nrg = 0.0f;
    for (int b = 0; b < h->stopBand; ++b) {
      AutoCorrCoeffs ac;
      tonCorrAutoCorr(&ac, s.r(), s.i(), b, start, h->estimateLength);
      double a1[2], a0[2];
      tonCorrPredictionCoeffs(&ac, a1, a0);
      double f = -(a0[0] * ac.c01re + a0[1] * ac.c01im + a1[0] * ac.c02re + a1[1] * ac.c02im) / (ac.e0 + 1.0);
      if (f > 1.0) f = 1.0;
      const double q = f / (1.0 - f + static_cast<double>(1e-6f));
      const float quota = q > 0.0 ? static_cast<float>(q) : 0.0f;
      EXPECT_EQ(quota, h->quotaMatrix[h->startIndexMatrix + e][b]) << "estimate " << e << " band " << b;
      nrg += static_cast<float>(ac.e0);
      freq[b] += static_cast<float>(ac.e0);
    }
    EXPECT_EQ(nrg, h->nrgVector[h->startIndexMatrix + e]) << "estimate " << e;
  }
  for (int b = 0; b < h->stopBand; ++b)
    EXPECT_EQ(freq[b] / static_cast<float>(h->estimatesPerFrame), h->nrgVectorFreq[b]) << "band " << b;
  EXPECT_GT(h->quotaMatrix[h->startIndexMatrix][33], 100.0f);
  tonCorrDelete(h, 0);
}

TEST(TonCorr, QuotaFollowsToneToNoiseRatio) {
  // A tone of power P in complex white noise of power N: the predictable
  // share f over the unpredictable 1 - f is P/N, up to the estimate's bias
  // from fitting two taps to 14 samples. Mean over 20 bands and 20 frames,
  // compared in dB.
  std::mt19937 gen(42);
  std::normal_distribution<float> g(0.0f, 1.0f);
  for (double tnr : {1.0, 10.0, 100.0}) {
    HANDLE_TON_CORR h = make();
    double sumDb = 0.0;
    int count = 0;
    for (int frame = 0; frame < 20; ++frame) {
      Slots s;
      for (int b = 0; b < 20; ++b) {
        double w = 0.3 + 0.1 * b;
        for (int t = -2; t < kSlots; ++t) {
          double amp = std::sqrt(tnr);
          s.re[t + 2][b] = static_cast<float>(amp * std::cos(w * (t + 32 * frame)) + g(gen) / std::sqrt(2.0));
          s.im[t + 2][b] = static_cast<float>(amp * std::sin(w * (t + 32 * frame)) + g(gen) / std::sqrt(2.0));
        }
      }
      tonCorrCalcQuotas(h, s.r(), s.i(), 1);
      for (int e = 2; e < 4; ++e)
        for (int b = 0; b < 20; ++b) {
          sumDb += 10 * std::log10(h->quotaMatrix[e][b]);
          ++count;
        }
    }
    double meanDb = sumDb / count;
    std::printf("tone-to-noise %.1f dB: mean quota %.2f dB\n", 10 * std::log10(tnr), meanDb);
    EXPECT_NEAR(10 * std::log10(tnr), meanDb, 2.5) << "tone-to-noise " << tnr;
    tonCorrDelete(h, 0);
  }
}

TEST(TonCorr, SignRuleAndHistory) {
  // Slowly turning tone (positive lag-1 correlation): sign -1 on even bands,
  // +1 on odd. A tone near half the slot rate (negative correlation): the
  // reverse.
  Slots s;
  for (int b = 0; b < 8; ++b) {
    double w = b < 4 ? 0.2 : 3.0;
    for (int t = -2; t < kSlots; ++t) {
      s.re[t + 2][b] = static_cast<float>(std::cos(w * t));
      s.im[t + 2][b] = static_cast<float>(0.3 * std::sin(w * t));
    }
  }
  HANDLE_TON_CORR h = make();
  tonCorrCalcQuotas(h, s.r(), s.i(), 1);
  const int expect[8] = {-1, 1, -1, 1, 1, -1, 1, -1};
  for (int b = 0; b < 8; ++b) EXPECT_EQ(expect[b], h->signMatrix[2][b]) << "band " << b;
  // A second frame of silence: the first frame's rows move to rows 0-1.
  float q2 = h->quotaMatrix[2][0];
  float n2 = h->nrgVector[2];
  Slots quiet;
  tonCorrCalcQuotas(h, quiet.r(), quiet.i(), 0);
  EXPECT_EQ(q2, h->quotaMatrix[0][0]);
  EXPECT_EQ(n2, h->nrgVector[0]);
  EXPECT_EQ(0.0f, h->quotaMatrix[2][0]);
  EXPECT_EQ(0.0f, h->nrgVector[2]);
  EXPECT_EQ(1, h->signMatrix[2][0]);
  tonCorrDelete(h, 0);
}

TEST(TonCorr, ClosestEntry) {
  const int t[] = {10, 12, 15, 20};
  struct Case {
    int goal, up, expect;
  } cases[] = {{5, 1, 10}, {5, 0, 10}, {10, 1, 10}, {25, 0, 20}, {20, 1, 20}, {13, 1, 15}, {13, 0, 12}, {15, 0, 15}, {19, 0, 15}, {16, 1, 20}};
  for (const Case& c : cases) EXPECT_EQ(c.expect, tonCorrFindClosestEntry(c.goal, t, 3, c.up)) << c.goal << " " << c.up;
}

struct PatchCase {
  std::vector<int> master;
  int xover, highStart;
  std::vector<SbrPatch> patches;  // sourceStart, sourceStop, guardStart, targetStart, bandOffset, bandCount
};

TEST(TonCorr, PatchConstruction) {
  // Worked by hand from the construction rule at 44.1 kHz (goal band
  // 2 * 64 * 16000 / 44100 + 0.5 = 46.94, truncated to 46).
  const PatchCase cases[] = {
      // Three patches up to the top; the goal 46 is met by the second.
      {{20, 22, 24, 26, 28, 30, 32, 34, 36, 39, 42, 46, 50, 55, 60}, 0, 20,
       {{4, 20, 20, 20, 16, 16}, {10, 20, 36, 36, 26, 10}, {6, 20, 46, 46, 40, 14}}},
      // Narrow source: a last patch of two bands is dropped.
      {{8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34}, 0, 8,
       {{2, 8, 8, 8, 6, 6}, {2, 8, 14, 14, 12, 6}, {2, 8, 20, 20, 18, 6}, {2, 8, 26, 26, 24, 6}}},
      // A single short patch stays.
      {{30, 32}, 0, 30, {{28, 30, 30, 30, 2, 2}}},
  };
  for (const PatchCase& c : cases) {
    HANDLE_TON_CORR h = make();
    ASSERT_EQ(nullptr, tonCorrResetPatch(h, c.xover, c.highStart, c.master.data(),
                                         static_cast<int>(c.master.size()) - 1, 44100, kChannels));
    ASSERT_EQ(static_cast<int>(c.patches.size()), h->numPatches) << "master from " << c.master[0];
    for (size_t p = 0; p < c.patches.size(); ++p) {
      const SbrPatch& e = c.patches[p];
      const SbrPatch& a = h->patches[p];
      EXPECT_EQ(e.sourceStart, a.sourceStart) << "patch " << p;
      EXPECT_EQ(e.sourceStop, a.sourceStop) << "patch " << p;
      EXPECT_EQ(e.guardStart, a.guardStart) << "patch " << p;
      EXPECT_EQ(e.targetStart, a.targetStart) << "patch " << p;
      EXPECT_EQ(e.bandOffset, a.bandOffset) << "patch " << p;
      EXPECT_EQ(e.bandCount, a.bandCount) << "patch " << p;
      EXPECT_EQ(0, a.bandOffset % 2);
      for (int k = 0; k < a.bandCount; ++k) EXPECT_EQ(a.sourceStart + k, h->indexVector[a.targetStart + k]);
    }
    for (int i = 0; i < c.master[0]; ++i) EXPECT_EQ(i, h->indexVector[i]);
    tonCorrDelete(h, 0);
  }
  // Two-band steps from a low crossover need more than six patches.
  std::vector<int> tiny = {4};
  for (int k = 6; k <= 40; k += 2) tiny.push_back(k);
  HANDLE_TON_CORR h = make();
  CodecError* e = tonCorrResetPatch(h, 0, 4, tiny.data(), static_cast<int>(tiny.size()) - 1, 44100, kChannels);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("Number of patches to high", e->message);
  deleteError(e);
  // Cross-over control: patching starts at the high-band start band, not at
  // the master table's first entry, and no guard offset remains.
  ASSERT_EQ(nullptr, tonCorrResetPatch(h, 1, 24, kMaster, 14, 44100, kChannels));
  EXPECT_EQ(24, h->patches[0].targetStart);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(i, h->indexVector[i]);
  ASSERT_EQ(nullptr, tonCorrResetPatch(h, 0, 24, kMaster, 14, 44100, kChannels));
  EXPECT_EQ(24, h->patches[0].targetStart);
  tonCorrDelete(h, 0);
}

// Records what the per-frame routine hands the noise-floor estimator.
struct Seen {
  int calls = 0;
  int transient = -1;
  int flag = -1;
  int startIndex = -1;
} gSeen;

int32_t nfEstimateHook(void*, const float*, float* levels, float**, const int32_t*, int32_t, int32_t startIndex,
                       int32_t, int32_t, int32_t transient, int32_t flag) {
  ++gSeen.calls;
  gSeen.transient = transient;
  gSeen.flag = flag;
  gSeen.startIndex = startIndex;
  levels[0] = 7.0f;
  return 42;
}
CodecError* nfCreateHook(void** out, int32_t, int32_t, int32_t, int32_t, int32_t, const int32_t*, int32_t) {
  static int token;
  *out = &token;
  return nullptr;
}
void nfDeleteHook(void*) {}
void nfBandsHook(void*, const int32_t** borders, int32_t* count) {
  static const int32_t b[3] = {20, 36, 60};
  *borders = b;
  *count = 2;
}

TEST(TonCorr, TransientCarryAndEstimatorCalls) {
  TonCorrEstimators hooks{};
  hooks.nfCreate = nfCreateHook;
  hooks.nfDelete = nfDeleteHook;
  hooks.nfBands = nfBandsHook;
  hooks.nfEstimate = nfEstimateHook;
  tonCorrInstallEstimators(&hooks);
  HANDLE_TON_CORR h = make();
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(2, h->invfDetector->numBands);  // the noise-floor estimator's bands
  SbrFrameInfo info{};
  info.nEnvelopes = 2;
  info.borders[0] = 0;
  info.borders[1] = 8;
  info.borders[2] = 16;
  int modes[5], mhBand[64], mhFrame = 5, further = 0;
  float noise[5] = {};
  // Per frame: transient result -> transient seen by the estimators.
  struct Step {
    int pos, found, seen;
  } steps[] = {
      {0, 0, 0},   // nothing
      {5, 1, 1},   // 5 + 4 < 16: counts now
      {13, 1, 0},  // 13 + 4 >= 16: too late, carried
      {0, 0, 1},   // the carried transient
      {12, 1, 0},  // 12 + 4 = 16: carried again
      {14, 1, 1},  // carried one counts; this late one is carried on
      {0, 0, 1},
      {0, 0, 0},
  };
  for (const Step& s : steps) {
    const int result[2] = {s.pos, s.found};
    gSeen = Seen();
    for (int& m : mhBand) m = 9;
    int rc = tonCorrExtractFrame(h, modes, noise, &mhFrame, mhBand, &further, &info, result, 0, 14, 0, 0);
    EXPECT_EQ(42, rc);
    EXPECT_EQ(1, gSeen.calls);
    EXPECT_EQ(s.seen, gSeen.transient) << "transient at " << s.pos << " found " << s.found;
    EXPECT_EQ(0, mhFrame);
    EXPECT_EQ(0, mhBand[13]);
    EXPECT_EQ(9, mhBand[14]);
  }
  tonCorrDelete(h, 0);
  tonCorrInstallEstimators(nullptr);

  // Without estimators: noise levels 0, inverse filtering on bands made from
  // the low-resolution table.
  h = make();
  noise[0] = 3.0f;
  const int none[2] = {0, 0};
  EXPECT_EQ(0, tonCorrExtractFrame(h, modes, noise, &mhFrame, mhBand, &further, &info, none, 0, 14, 0, 0));
  EXPECT_EQ(0.0f, noise[0]);
  EXPECT_GE(h->invfDetector->numBands, 1);
  EXPECT_LE(h->invfDetector->numBands, 5);
  EXPECT_EQ(20, h->invfDetector->bandBorders[0]);
  EXPECT_EQ(60, h->invfDetector->bandBorders[h->invfDetector->numBands]);
  tonCorrDelete(h, 0);
}

}  // namespace
