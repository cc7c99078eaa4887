// The psychoacoustic model, threshold adjustment and quantiser on their own:
// the model's edge cases (silence, pre-echo history of start and stop
// frames, bands above the low-pass), the closed forms of the reservoir factor
// and the PE bounds, the bounds that the adjusted thresholds keep, and the
// quantiser against its formula in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "adj_thr.h"
#include "psy.h"
#include "qc.h"

namespace {

struct Psy {
  PsyState* s = nullptr;
  explicit Psy(int32_t channels, int32_t rate = 44100, int32_t bandwidth = 15000) {
    EXPECT_EQ(psyInit(&s, 64000 * channels, rate, bandwidth, channels), 0);
  }
  ~Psy() { psyDelete(&s); }
};

// Runs frames of a signal through one channel and returns the last output.
void runFrames(PsyState* s, const std::vector<float>& signal, PsyOutChannel* out, PsyOutElement* el) {
  PsyData* d = s->channels[0];
  for (size_t pos = 0; pos + 1024 <= signal.size(); pos += 1024) {
    psyInput(d, signal.data() + pos, 1, 1.0f);
    PsyOutChannel* outs[1] = {out};
    psyMain(s, 1, &d, outs, el);
  }
}

TEST(PsychoacousticModel, SilenceGivesNoBandsAndTheThresholdInQuiet) {
  Psy p(1);
  static PsyOutChannel out;
  PsyOutElement el;
  runFrames(p.s, std::vector<float>(4096, 0.0f), &out, &el);
  EXPECT_EQ(out.maxSfb, 0);
  EXPECT_EQ(out.windowSequence, kOnlyLongSequence);
  const PsyConfiguration& c = p.s->longConfig;
  for (int32_t b = 0; b < c.activeBands; ++b) EXPECT_FLOAT_EQ(out.threshold[b], c.thrQuiet[b]) << b;
  // Bands above the low-pass are never coded.
  ASSERT_LT(c.activeBands, c.numBands);
  for (int32_t b = c.activeBands; b < c.numBands; ++b) EXPECT_EQ(out.threshold[b], 3.4028235e38f);
}

TEST(PsychoacousticModel, ToneAboveTheLowPassIsRemovedAndThresholdsFollowTheEnergy) {
  Psy p(1, 44100, 8000);
  static PsyOutChannel out;
  PsyOutElement el;
  std::vector<float> x(8192);
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<float>(8000.0 * std::sin(2 * 3.14159265358979 * 1000.0 * i / 44100) + 8000.0 * std::sin(2 * 3.14159265358979 * 12000.0 * i / 44100));
  runFrames(p.s, x, &out, &el);
  const PsyConfiguration& c = p.s->longConfig;
  // The 12 kHz tone lies above the 8 kHz low-pass: the highest coded band is
  // the one under the low-pass line at most.
  EXPECT_LE(out.maxSfb, c.activeBands);
  EXPECT_GT(out.maxSfb, 0);
  for (int i = c.lowpassLine; i < 1024; ++i) ASSERT_EQ(out.spectrum[i], 0.0f);
  // The band of the 1 kHz tone: threshold about 29 dB below its energy.
  const int line = static_cast<int>(1000.0 / (22050.0 / 1024));
  int32_t band = 0;
  while (c.bandOffsets[band + 1] <= line) ++band;
  EXPECT_NEAR(10 * std::log10(out.energy[band] / out.threshold[band]), 29.0, 1.0);
}

TEST(PsychoacousticModel, PreEchoHistoryOfStartAndStopFrames) {
  // A click after silence turns the frames short through a start frame and
  // back through a stop frame; the stop frame starts its pre-echo control
  // from an unlimited history, the start frame leaves one behind.
  Psy p(1);
  static PsyOutChannel out;
  PsyOutElement el;
  std::vector<float> x(1024 * 12, 0.0f);
  std::mt19937 rng(3);
  for (int i = 0; i < 1024; ++i) x[5 * 1024 + i] = static_cast<float>(static_cast<int>(rng() % 20001) - 10000);
  for (size_t i = 0; i < x.size(); ++i) x[i] += static_cast<float>(30.0 * std::sin(0.05 * i));
  PsyData* d = p.s->channels[0];
  std::vector<int32_t> sequences;
  for (size_t pos = 0; pos + 1024 <= x.size(); pos += 1024) {
    psyInput(d, x.data() + pos, 1, 1.0f);
    PsyOutChannel* outs[1] = {&out};
    psyMain(p.s, 1, &d, outs, &el);
    sequences.push_back(out.windowSequence);
    if (out.windowSequence == kLongStartSequence) {
      for (int32_t b = 0; b < p.s->longConfig.activeBands; ++b) ASSERT_EQ(d->prevThr[b], 3.4028233e36f);
    }
  }
  std::vector<int32_t> expected = {1, 2, 3};
  EXPECT_NE(std::search(sequences.begin(), sequences.end(), expected.begin(), expected.end()), sequences.end());
}

TEST(ThresholdAdjustment, ReservoirFactorAndPeBoundsFollowTheirFormulas) {
  AdjThrState* s = nullptr;
  ASSERT_EQ(adjThrNew(&s, 1), nullptr);
  const int32_t rates[1] = {64000};
  adjThrInit(s, 1000.0f, rates, 1);
  AdjThrElementState* el = s->element[0];
  EXPECT_FLOAT_EQ(el->peMin, 800.0f);
  EXPECT_FLOAT_EQ(el->peMax, 1200.0f);
  EXPECT_EQ(el->ahEnabled, 1);
  EXPECT_NEAR(el->redRatioFac, -0.0375f, 1e-6);
  EXPECT_NEAR(el->redOffs, 1.375f, 1e-6);
  // Half-full reservoir, long block, PE in the middle of the bounds.
  const double fill = 0.5;
  const double save = 0.3 - (fill - 0.2) * ((0.3 + 0.05) / (0.95 - 0.2));
  const double spend = -0.1 + (fill - 0.1) * ((0.5 + 0.1) / (0.95 - 0.1));
  const double expected = (spend + save) / 400.0 * (1000.0 - 800.0) + (1.0 - save);
  EXPECT_NEAR(bitresCalcBitFac(s, el, 5000, 10000, 1000.0f, 0, 3000, 10.0f), expected, 1e-5);
  EXPECT_FLOAT_EQ(bitresCalcBitFac(s, el, 5000, 10000, 1000.0f, 0, 3000, 0.9f), 0.9f);     // the maximum handed in
  EXPECT_NEAR(bitresCalcBitFac(s, el, 0, 10000, 5000.0f, 0, 3000, 10.0f), 0.7f, 1e-6);    // empty reservoir
  // PE bounds: above, below, between, and the narrowing with its 0/0 guard.
  float lo = 800, hi = 1200;
  adjustPeMinMax(1300, &lo, &hi);
  EXPECT_FLOAT_EQ(lo, 830);
  EXPECT_FLOAT_EQ(hi, 1300);
  lo = 800, hi = 1200;
  adjustPeMinMax(700, &lo, &hi);
  EXPECT_FLOAT_EQ(lo, 786);
  EXPECT_FLOAT_EQ(hi, 1193);
  lo = 1000, hi = 1000;
  adjustPeMinMax(1000, &lo, &hi);
  EXPECT_TRUE(std::isfinite(lo) && std::isfinite(hi));
  EXPECT_LE(lo, 1000);
  EXPECT_GE(hi, 1000);
  adjThrDelete(s);
}

TEST(ThresholdAdjustment, AdjustedThresholdsKeepTheirBoundsAndMeetTheGoal) {
  Psy p(1);
  static PsyOutChannel out;
  PsyOutElement el;
  std::vector<float> x(1024 * 6);
  std::mt19937 rng(11);
  std::normal_distribution<float> n(0.0f, 3000.0f);
  for (auto& v : x) v = n(rng);
  runFrames(p.s, x, &out, &el);
  AdjThrState* s = nullptr;
  ASSERT_EQ(adjThrNew(&s, 1), nullptr);
  const int32_t rates[1] = {64000};
  const int32_t avgBits = 64000 * 1024 / 44100;
  adjThrInit(s, bitsToPe(avgBits), rates, 1);
  for (int32_t reservoir : {0, 3000, 6000}) {
    static PsyOutChannel work;
    work = out;
    PsyOutChannel* chans[1] = {&work};
    AdjThrBands r;
    adjustThresholds(s, 0, chans, 1, &el, avgBits, reservoir, 6000, 4.0f, &r);
    EXPECT_GT(r.peBefore, r.desiredPe);
    EXPECT_LE(r.pe, 1.15f * r.desiredPe + 1.0f) << reservoir;
    for (int32_t b = 0; b < work.maxSfb; ++b) {
      const float e = work.energy[b], t = work.threshold[b];
      if (e <= out.threshold[b]) continue;  // a hole already
      EXPECT_GE(t, work.quietThreshold[b] * 0.999f) << b;  // never finer than the threshold in quiet
      if (r.ahFlag[0][b] == 1) {
        // Hole avoidance keeps the band's noise under its minimum SNR, unless
        // that lies under the threshold in quiet.
        EXPECT_LE(t, std::max(e * r.minSnr[0][b], work.quietThreshold[b]) * 1.001f) << b;
      }
    }
  }
  adjThrDelete(s);
}

// The four-at-a-time quantiser gives the generic routine's values exactly,
// also for lines whose value plus rounding falls a hair either side of an
// integer, at the clamp to 8191, and for counts that leave a tail.
TEST(Quantiser, FastRoutineGivesTheGenericValues) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Magnitudes (before the gain of scalefactor 100) around the boundaries of
  // q = 1, 2, 7, 100, 8191 and 8192, a few float steps either side.
  std::vector<float> edges;
  for (double q : {1.0, 2.0, 7.0, 100.0, 8191.0, 8192.0}) {
    const float centre = static_cast<float>(std::pow(q - static_cast<double>(kQcRounding), 4.0 / 3.0));
    float below = centre, above = centre;
    for (int32_t step = 0; step < 40; ++step) {
      edges.push_back(below);
      edges.push_back(above);
      below = std::nextafter(below, 0.0f);
      above = std::nextafter(above, 1e30f);
    }
  }
  const struct {
    const char* name;
    int32_t scalefactor;
    int32_t n;
  } cases[] = {{"unit gain", 100, 1024}, {"quiet", 0, 96}, {"loud", 255, 64}, {"odd count", 137, 13},
               {"three lines", 60, 3},  {"edges", 100, 0}, {"edges, odd count", 100, -1}};
  for (const auto& c : cases) {
    std::vector<float> x;
    if (c.n > 0) {
      const double gain = std::pow(2.0, 0.25 * (c.scalefactor - 100));
      for (int32_t i = 0; i < c.n; ++i) {
        // Levels from far below one step to past the clamp, either sign.
        const double level = std::pow(10.0, 6.0 * unit(rng) - 1.0) * gain;
        x.push_back(static_cast<float>((rng() & 1 ? -1.0 : 1.0) * level));
      }
      x[0] = -0.0f;
      x[c.n - 1] = 0.0f;
    } else {
      x = edges;
      for (size_t i = 0; i < x.size(); i += 3) x[i] = -x[i];
      if (c.n < 0) x.pop_back();
    }
    const int32_t n = static_cast<int32_t>(x.size());
    std::vector<int16_t> fast(n, 0x5555), generic(n, 0x2222);
    const int32_t fastPeak = qcQuantiseLinesSse2(x.data(), fast.data(), n, c.scalefactor);
    const int32_t genericPeak = qcQuantiseLinesGeneric(x.data(), generic.data(), n, c.scalefactor);
    EXPECT_EQ(fastPeak, genericPeak) << c.name;
    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(fast[i], generic[i]) << c.name << " line " << i << " x " << x[i];
  }
}

TEST(Quantiser, LinesFollowTheFormulaAndScalefactorsMeetTheirThreshold) {
  std::mt19937 rng(5);
  std::normal_distribution<double> n(0.0, 1.0);
  for (int32_t sf : {0, 60, 100, 140, 200, 255}) {
    std::vector<float> x(64);
    for (auto& v : x) v = static_cast<float>(n(rng) * std::pow(2.0, 0.25 * (sf - 100)) * 30.0);
    std::vector<int16_t> q(64);
    qcQuantiseLines(x.data(), q.data(), 64, sf);
    for (int i = 0; i < 64; ++i) {
      const double a = std::pow(std::fabs(x[i]) * std::pow(2.0, -0.25 * (sf - 100)), 0.75) + 0.4054;
      const int expect = std::min(8191, static_cast<int>(std::floor(a)));
      EXPECT_LE(std::abs(std::abs(q[i]) - expect), 1) << sf;  // single-precision rounding at the edge
      if (q[i]) {
        EXPECT_EQ(q[i] < 0, x[i] < 0);
      }
    }
  }
  // The largest magnitude never exceeds the escape range at its minimum
  // scalefactor.
  for (float m : {1.0f, 1e4f, 3.3e7f, 1e9f}) {
    const int32_t sf = qcMinScalefactor(m);
    int16_t q = 0;
    EXPECT_LE(qcQuantiseLines(&m, &q, 1, sf), 8191);
    if (sf > 0) {
      EXPECT_GE(std::pow(m * std::pow(2.0, -0.25 * (sf - 1 - 100)), 0.75) + 0.4054, 8191.0);
    }
  }
  // Noise of a band quantised at the estimated scalefactor lies near the
  // threshold (noise-like lines, well above one step).
  std::vector<float> x(128);
  for (auto& v : x) v = static_cast<float>(n(rng) * 1e5);
  double energy = 0, ff = 0;
  for (float v : x) energy += double(v) * v, ff += std::sqrt(std::fabs(v));
  for (double snrDb : {10.0, 20.0, 30.0}) {
    const float thr = static_cast<float>(energy * std::pow(10.0, -snrDb / 10));
    const int32_t sf = qcEstimateScalefactor(thr, static_cast<float>(ff));
    std::vector<int16_t> q(128);
    qcQuantiseLines(x.data(), q.data(), 128, sf);
    double noise = 0;
    for (int i = 0; i < 128; ++i) {
      const double r = (q[i] < 0 ? -1 : 1) * std::pow(std::abs(q[i]), 4.0 / 3.0) * std::pow(2.0, 0.25 * (sf - 100));
      noise += (r - x[i]) * (r - x[i]);
    }
    EXPECT_NEAR(10 * std::log10(noise / thr), 0.0, 3.0) << snrDb;
  }
}

}  // namespace
