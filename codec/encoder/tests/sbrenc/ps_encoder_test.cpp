// The parametric-stereo encoder against our decoder's parametric-stereo
// stage: what the encoder measures and writes, the decoder's parser reads and
// its mixing turns back into two channels with the source's stereo image.
// The timing of the core input (its lag is part of the encoder's reported
// delay) is checked on an impulse.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ps_encoder.h"
#include "psdec.h"
#include "sbr_bit.h"

namespace {

constexpr int kFrame = kPsEncFrameLength;
constexpr double kPi = 3.14159265358979323846;

struct Matrix {
  std::vector<float> data;
  std::vector<float*> rows;
  explicit Matrix(int n) : data(static_cast<size_t>(n) * 64), rows(n) {
    for (int i = 0; i < n; ++i) rows[i] = &data[static_cast<size_t>(i) * 64];
  }
};

PsEncoder* open(int bitRate) {
  PsEncoderConfig c = {44100, bitRate};
  PsEncoder* e = nullptr;
  EXPECT_EQ(psEncoderOpen(&e, &c), kPsEncOk);
  return e;
}

// Gaussian noise band-limited to QMF bands [k0, k1) of the 64-band bank
// (k * 344.5 Hz).
std::vector<float> bandNoise(std::mt19937& rng, size_t n, int k0, int k1) {
  std::normal_distribution<float> g(0.0f, 1.0f);
  // Cosines 21.5 Hz apart with random amplitudes and phases.
  std::vector<float> out(n, 0.0f);
  std::uniform_real_distribution<double> ph(0, 2 * kPi);
  for (double f = k0 * 344.53 + 20; f < k1 * 344.53 - 20; f += 21.5) {
    const double p = ph(rng), a = 300.0 * g(rng);
    for (size_t i = 0; i < n; ++i) out[i] += static_cast<float>(a * std::cos(2 * kPi * f * i / 44100.0 + p));
  }
  return out;
}

struct Decoded {
  double levelDb;    // 10 log10(E_left / E_right) over the bands measured
  double coherence;  // Re(sum L R*) / sqrt(E_left E_right)
  double sideDb;     // energy of L - R against L
};

// Encodes `frames` frames of the two channels and decodes the stereo data of
// each into the downmix the encoder made; measures the last frames' result
// over QMF bands [k0, k1).
Decoded roundTrip(int bitRate, const std::vector<float>& left, const std::vector<float>& right, int k0, int k1) {
  PsEncoder* e = open(bitRate);
  PsDec* d = nullptr;
  EXPECT_EQ(psDecoderCreate(&d, 64, 32), 0);
  const int frames = static_cast<int>(left.size() / kFrame);
  std::vector<float> in(2 * kFrame);
  Matrix lRe(38), lIm(38), rRe(38), rIm(38);
  double el = 0, er = 0, x = 0, side = 0;
  for (int f = 0; f < frames; ++f) {
    for (int i = 0; i < kFrame; ++i) {
      in[2 * i] = left[static_cast<size_t>(f) * kFrame + i];
      in[2 * i + 1] = right[static_cast<size_t>(f) * kFrame + i];
    }
    PsEncoderFrame out;
    EXPECT_EQ(psEncoderEncodeFrame(e, in.data(), in.data() + 1, 2, f % 10 == 0, &out), kPsEncOk);
    EXPECT_GT(out.bits, 0);
    SbrBitReader br;
    sbrBitInit(&br, out.data, (out.bits + 7) / 8);
    EXPECT_EQ(psReadData(d, &br, out.bits), out.bits) << "frame " << f;
    psDecodeParameters(d);
    // The decoder reads six slots past the frame in the lowest bands.
    for (int s = 0; s < 38; ++s)
      for (int k = 0; k < 64; ++k) lRe.rows[s][k] = out.re[s][k], lIm.rows[s][k] = out.im[s][k];
    psApply(d, 0, lRe.rows.data(), lIm.rows.data(), rRe.rows.data(), rIm.rows.data(), 0);
    if (f < frames - 6) continue;
    for (int s = 0; s < 32; ++s)
      for (int k = k0; k < k1; ++k) {
        const double lr = lRe.rows[s][k], li = lIm.rows[s][k], rr = rRe.rows[s][k], ri = rIm.rows[s][k];
        el += lr * lr + li * li;
        er += rr * rr + ri * ri;
        x += lr * rr + li * ri;
        side += (lr - rr) * (lr - rr) + (li - ri) * (li - ri);
      }
  }
  psDecoderDelete(&d);
  psEncoderClose(e);
  return {10 * std::log10(el / er), x / std::sqrt(el * er), 10 * std::log10(side / el + 1e-30)};
}

TEST(PsEncoder, QuantisesToTheNearestGridValue) {
  const struct {
    double dB;
    int iid;
  } iids[] = {{0, 0}, {0.9, 0}, {1.1, 1}, {-12, -6}, {12, 6}, {-50, -15}, {80, 15}, {-21, -9}};
  for (const auto& c : iids) EXPECT_EQ(psQuantiseIid(c.dB), c.iid) << c.dB << " dB";
  const struct {
    double rho;
    int icc;
  } iccs[] = {{1.0, 0}, {0.95, 1}, {0.0, 5}, {0.1, 5}, {-1.0, 7}, {-0.5, 6}, {0.5, 3}};
  for (const auto& c : iccs) EXPECT_EQ(psQuantiseIcc(c.rho), c.icc) << c.rho;
}

// The same noise panned, independent noises, and a mono source, through the
// 20-band (48 kbit/s) and the 10-band (32 kbit/s) settings.
TEST(PsEncoder, OurDecoderRestoresTheStereoImage) {
  const struct {
    const char* name;
    double panDb;      // right channel this many dB under the left
    bool independent;  // the right channel is another noise
  } cases[] = {{"centre", 0, false}, {"left 6 dB", 6, false},      {"right 12 dB", -12, false},
               {"left 12 dB", 12, false}, {"independent", 0, true}, {"independent, left 4 dB", 4, true}};
  for (int bitRate : {48000, 32000}) {
    for (const auto& c : cases) {
      std::mt19937 rng(7);
      const size_t n = static_cast<size_t>(kFrame) * 16;
      std::vector<float> l = bandNoise(rng, n, 6, 20);
      std::vector<float> r = c.independent ? bandNoise(rng, n, 6, 20) : l;
      const float g = static_cast<float>(std::pow(10.0, -c.panDb / 20));
      for (float& v : r) v *= g;
      const Decoded d = roundTrip(bitRate, l, r, 7, 19);
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(bitRate));
      EXPECT_NEAR(d.levelDb, c.panDb, 1.5);
      if (c.independent) {
        EXPECT_LT(d.coherence, 0.4);
      } else {
        EXPECT_GT(d.coherence, 0.97);
      }
      if (!c.independent && c.panDb == 0) {
        EXPECT_LT(d.sideDb, -40);
      }
    }
  }
}

// Opposite channels (R = -L) have no downmix to speak of: the encoder must
// not blow it up, and the stream stays valid.
TEST(PsEncoder, ChannelsInOppositePhaseStayBounded) {
  PsEncoder* e = open(48000);
  std::mt19937 rng(3);
  std::vector<float> l = bandNoise(rng, kFrame * 4, 2, 30);
  std::vector<float> in(2 * kFrame);
  float peak = 0;
  for (int f = 0; f < 4; ++f) {
    for (int i = 0; i < kFrame; ++i) in[2 * i] = l[f * kFrame + i], in[2 * i + 1] = -l[f * kFrame + i];
    PsEncoderFrame out;
    ASSERT_EQ(psEncoderEncodeFrame(e, in.data(), in.data() + 1, 2, f == 0, &out), kPsEncOk);
    for (int i = 0; i < kPsEncCoreFrameLength; ++i) peak = std::max(peak, std::fabs(out.core[i]));
  }
  EXPECT_LT(peak, 1.0f);
  psEncoderClose(e);
}

// An impulse reaches the core input after the banks' delay: the encoder's
// reported delay. (Holding the core's input back is the SBR interface's.)
TEST(PsEncoder, CoreInputLagIsTheReportedDelay) {
  {
    PsEncoder* e = open(48000);
    const int pos = 3000;
    std::vector<float> core;
    std::vector<float> in(2 * kFrame);
    for (int f = 0; f < 3; ++f) {
      std::fill(in.begin(), in.end(), 0.0f);
      if (pos / kFrame == f) in[2 * (pos % kFrame)] = in[2 * (pos % kFrame) + 1] = 30000.0f;
      PsEncoderFrame out;
      ASSERT_EQ(psEncoderEncodeFrame(e, in.data(), in.data() + 1, 2, f == 0, &out), kPsEncOk);
      core.insert(core.end(), out.core, out.core + kPsEncCoreFrameLength);
    }
    size_t m = 1;
    for (size_t i = 1; i + 1 < core.size(); ++i)
      if (std::fabs(core[i]) > std::fabs(core[m])) m = i;
    // The peak between samples, by a parabola through the three largest.
    const double a = core[m - 1], b = core[m], c = core[m + 1];
    const double peak = m + 0.5 * (a - c) / (a - 2 * b + c);
    const double lag = 2 * peak - pos;
    EXPECT_NEAR(lag, psEncoderDelay(e), 1.0);
    psEncoderClose(e);
  }
}

}  // namespace
