// Missing-harmonics flags of the SBR encoder, read back from its payload by
// our decoder's parser: a steady tone in the high band that the decoder's
// copy of the low band cannot bring gets a sinusoid (in its own band only);
// where the copied low band is itself tonal, or the high band is noise, no
// band gets one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sbr_bit.h"
#include "sbr_encoder.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 44100;
constexpr double kQmfHz = kRate / 128.0;
constexpr int kFrames = 12;

struct Source {
  const char* name;
  double highToneBand;  // QMF band (centre at +0.5) of the high tone, or < 0
  bool tonalLowBand;    // a tone in every low QMF band, else quiet noise
  bool noiseHighBand;   // loud noise over the whole high band
};

// The add_harmonic flags of every frame (by high-resolution band).
std::vector<std::vector<int>> encodeFlags(const Source& src, SbrEncoderSettings* settings) {
  SbrEncoderConfig cfg = {kRate, 1, 48000, 0, 0};
  SbrEncoder* e = nullptr;
  EXPECT_EQ(sbrEncoderOpen(&e, &cfg), kSbrEncOk);
  sbrEncoderGetSettings(e, settings);
  const int n = kSbrEncFrameLength * kFrames;
  std::vector<float> x(n, 0.0f);
  std::mt19937 rng(9);
  std::normal_distribution<float> g(0.0f, 1.0f);
  for (int i = 0; i < n; ++i) x[i] = 3.0f * g(rng);  // quiet noise everywhere
  if (src.noiseHighBand) {
    // Loud noise above the crossover: a sum of cosines 21.5 Hz apart.
    std::uniform_real_distribution<double> ph(0, 2 * kPi);
    for (double f = settings->crossoverHz + 200.0; f < settings->stopHz - 200.0; f += 21.5) {
      const double p = ph(rng);
      for (int i = 0; i < n; ++i) x[i] += static_cast<float>(60.0 * std::cos(2 * kPi * f * i / kRate + p));
    }
  }
  if (src.tonalLowBand)
    for (int k = 1; k < settings->k0; ++k)
      for (int i = 0; i < n; ++i) x[i] += static_cast<float>(1500.0 * std::cos(2 * kPi * (k + 0.5) * kQmfHz * i / kRate + k));
  if (src.highToneBand >= 0)
    for (int i = 0; i < n; ++i) x[i] += static_cast<float>(6000.0 * std::cos(2 * kPi * src.highToneBand * kQmfHz * i / kRate));
  std::vector<std::vector<int>> flags;
  SbrHeader h;
  int headerState = 1;
  for (int f = 0; f < kFrames; ++f) {
    uint8_t out[kSbrEncMaxPayloadBytes] = {};
    int32_t bits = 0;
    EXPECT_EQ(sbrEncoderEncodeFrame(e, &x[static_cast<size_t>(f) * kSbrEncFrameLength], 1, out, &bits), kSbrEncOk);
    SbrBitReader br;
    sbrBitInit(&br, out, (bits + 7) / 8);
    if (sbrReadBits(&br, 1)) {
      sbrReadHeader(&h, &br, 0, 0, headerState);
      headerState = 2;
    }
    SbrFrameData fd;
    fd.nBands[0] = settings->nLow;
    fd.nBands[1] = settings->nHigh;
    fd.nNoiseBands = settings->nNoise;
    fd.nInvfBands = settings->nNoise;
    EXPECT_EQ(sbrReadSingleChannelElement(&h, &fd, &br, 0, nullptr), 1) << src.name << " frame " << f;
    EXPECT_LE(br.bitsRead, bits) << src.name << " frame " << f;
    flags.emplace_back(fd.addHarmonic, fd.addHarmonic + settings->nHigh);
  }
  sbrEncoderClose(e);
  return flags;
}

TEST(SbrHarmonics, OnlyAToneTheCopyCannotBringGetsASinusoid) {
  // The high tone sits in the middle of QMF band 40 (13.9 kHz), inside the
  // SBR range of the mono 48 kbit/s tuning.
  const Source sources[] = {
      {"tone over quiet noise", 40.5, false, false},
      {"tone over a tonal low band", 40.5, true, false},
      {"noise", -1.0, false, true},
      {"tonal low band, no high tone", -1.0, true, false},
  };
  for (const Source& s : sources) {
    SbrEncoderSettings set{};
    const std::vector<std::vector<int>> flags = encodeFlags(s, &set);
    ASSERT_GT(set.k2, 41) << "the tone must lie in the SBR range";
    const bool wanted = s.highToneBand >= 0 && !s.tonalLowBand;
    // After the start-up frames, every frame: the band holding the tone and
    // no other (or none at all).
    for (int f = 3; f < kFrames; ++f) {
      int count = 0;
      for (int v : flags[static_cast<size_t>(f)]) count += v;
      EXPECT_EQ(count, wanted ? 1 : 0) << s.name << ", frame " << f;
    }
  }
}

}  // namespace
