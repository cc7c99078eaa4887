// The SBR decoder instance: refused set-ups, the core signal upsampled with an
// empty high band before any header, a decoded frame filling the high band,
// concealment of a missing payload, and robustness against random payloads.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "env_calc.h"
#include "freq_sca.h"
#include "sbrdecoder.h"
#include "test_util.h"

namespace {

std::string codeword(const std::string& table, int value) {
  std::ifstream f(sbrtest::fixturePath("codewords.txt"));
  std::string name, bits;
  int v, len;
  while (f >> name >> v >> len >> bits)
    if (name == table && v == value) return bits;
  return "";
}

TEST(SbrDecoder, RefusedSetups) {
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  struct Case {
    int rate, frame, mode;
    bool ok;
  } cases[] = {{7999, 1024, 0, false}, {8000, 1024, 0, true},  {48000, 1024, 0, true}, {48001, 1024, 0, false},
               {24000, 960, 0, true},  {24000, 1000, 0, false}, {24000, 1024, 1, false}};
  for (const auto& c : cases) {
    SbrConfig k = cfg;
    k.w[0] = c.mode;
    SbrDecoder* d = sbrDecoderOpen(c.rate, c.frame, &k, 0);
    EXPECT_EQ(d != nullptr, c.ok) << c.rate << " " << c.frame << " " << c.mode;
    if (d) {
      EXPECT_EQ(sbrDecoderGetOutputFrameLength(d), 2 * c.frame);
      EXPECT_FLOAT_EQ(sbrDecoderGetRateFactor(d), 2.0f);
    }
    sbrDecoderClose(&d);
    EXPECT_EQ(d, nullptr);
  }
  SbrConfig k = cfg;
  k.w[14] = 1;  // down-sampled output
  SbrDecoder* d = sbrDecoderOpen(24000, 960, &k, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(sbrDecoderGetOutputFrameLength(d), 960);
  EXPECT_FLOAT_EQ(sbrDecoderGetRateFactor(d), 1.0f);
  sbrDecoderClose(&d);
}

// Energy of x above and below a normalised frequency split (fraction of Nyquist).
void splitEnergy(const std::vector<float>& x, double split, double* low, double* high) {
  const size_t n = x.size();
  *low = *high = 0;
  for (size_t k = 1; k < n / 2; k++) {
    double re = 0, im = 0;
    for (size_t i = 0; i < n; i++) {
      double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
      re += x[i] * w * std::cos(2 * M_PI * k * i / n);
      im -= x[i] * w * std::sin(2 * M_PI * k * i / n);
    }
    (static_cast<double>(k) / (n / 2) < split ? *low : *high) += re * re + im * im;
  }
}

struct FrameRun {
  std::vector<float> out;  // interleaved output of the last frame
  int channels = 0;
  int result = 0;
};

// Feeds frames of a two-tone core signal (interleaved with the given channel count).
FrameRun runFrames(SbrDecoder* d, int frames, int coreChannels, const std::vector<std::vector<uint8_t>>& payloads,
              int elementKind, int psEnable, int frameLength = 1024) {
  FrameRun r;
  std::vector<float> buf(4096);
  for (int f = 0; f < frames; f++) {
    for (int i = 0; i < frameLength; i++)
      for (int c = 0; c < coreChannels; c++) {
        double t = f * frameLength + i;
        buf[static_cast<size_t>(i * coreChannels + c)] =
            static_cast<float>(8000.0 * std::sin(2 * M_PI * 0.031 * t) + 3000.0 * std::sin(2 * M_PI * 0.29 * t + c));
      }
    SbrElementRecord rec;
    rec.elementKind = elementKind;
    const std::vector<uint8_t>& p = payloads[static_cast<size_t>(f) % payloads.size()];
    rec.count = p.empty() ? 0 : 1;
    rec.length = static_cast<int>(p.size());
    rec.payload = p.empty() ? nullptr : p.data();
    int ch = coreChannels, psApplied = 0;
    r.result = sbrDecoderApply(d, &rec, buf.data(), psEnable, &ch, &psApplied);
    r.channels = ch;
  }
  r.out.assign(buf.begin(), buf.begin() + 2 * frameLength * r.channels);
  return r;
}

std::vector<float> channelOf(const FrameRun& r, int c) {
  const size_t n = r.out.size() / static_cast<size_t>(r.channels);
  std::vector<float> x(n);
  for (size_t i = 0; i < n; i++) x[i] = r.out[i * static_cast<size_t>(r.channels) + static_cast<size_t>(c)];
  return x;
}

TEST(SbrDecoder, WithoutAHeaderTheCoreIsUpsampledWithAnEmptyHighBand) {
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* d = sbrDecoderOpen(22050, 1024, &cfg, 0);
  ASSERT_NE(d, nullptr);
  FrameRun r = runFrames(d, 4, 1, {{}}, 0, 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.channels, 1);
  double low, high;
  splitEnergy(channelOf(r, 0), 0.5, &low, &high);
  EXPECT_LT(high / low, 1e-6);
  double pow = 0;
  for (float v : r.out) pow += static_cast<double>(v) * v;
  // Two tones of 8000 and 3000 amplitude keep their power at the double rate.
  EXPECT_NEAR(pow / 2048.0, (8000.0 * 8000.0 + 3000.0 * 3000.0) / 2.0, 0.03 * (8000.0 * 8000.0 + 3000.0 * 3000.0) / 2.0);
  sbrDecoderClose(&d);
}

// One SBR payload: header (start 5, stop 9, defaults) and a single-channel or
// coupled channel-pair frame with one FIXFIX envelope of zero deltas.
std::vector<uint8_t> payload(int coreRate, bool pair, int startValue) {
  SbrHeader h;
  h.startFreq = 5;
  h.stopFreq = 9;
  h.xoverBand = 0;
  SbrEnvCalc ec;
  if (resetSbrEnvelopeCalc(&ec, &h, 2 * coreRate, 64, 32, 0)) return {};
  sbrtest::BitWriter w;
  w.put(13, 4);  // extension type
  w.put(1, 1);   // header
  w.put(1, 1); w.put(5, 4); w.put(9, 4); w.put(0, 3); w.put(0, 2); w.put(0, 1); w.put(0, 1);
  const std::string zeroF15 = codeword("f_huffman_env_1_5dB", 0);
  const std::string zeroNoiseT = codeword("t_huffman_noise_3_0dB", 0);
  const std::string zeroBalF = codeword("f_huffman_env_bal_1_5dB", 0);
  const std::string zeroBalNoiseT = codeword("t_huffman_noise_bal_3_0dB", 0);
  // Without the codeword list (the tables are absent) no payload can be made.
  if (zeroF15.empty() || zeroNoiseT.empty() || zeroBalF.empty() || zeroBalNoiseT.empty()) return {};
  w.put(0, 1);  // bs_data_extra
  if (pair) w.put(1, 1);  // coupling
  w.put(0, 2); w.put(0, 2); w.put(1, 1);  // FIXFIX, 1 envelope, high resolution
  for (int c = 0; c < (pair ? 2 : 1); c++) {
    w.put(0, 1);  // envelope frequency-coded
    w.put(1, 1);  // noise time-coded
  }
  for (int i = 0; i < ec.ft.nNoise; i++) w.put(2, 2);  // invf mid
  for (int c = 0; c < (pair ? 2 : 1); c++) {
    bool bal = pair && c == 1;
    w.put(bal ? 12 : static_cast<uint32_t>(startValue), bal ? 6 : 7);
    for (int i = 1; i < ec.ft.nHigh; i++) w.putBits(bal ? zeroBalF : zeroF15);
    for (int i = 0; i < ec.ft.nNoise; i++) w.putBits(bal ? zeroBalNoiseT : zeroNoiseT);
  }
  for (int c = 0; c < (pair ? 2 : 1); c++) w.put(0, 1);  // no harmonics
  w.put(0, 1);  // no extended data
  return w.bytes();
}

TEST(SbrDecoder, AValidFrameFillsTheHighBandAndALostOneIsConcealed) {
  if (codeword("f_huffman_env_1_5dB", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  for (bool pair : {false, true}) {
    SbrConfig cfg;
    sbrDecoderSetDefaults(&cfg, 0);
    SbrDecoder* d = sbrDecoderOpen(22050, 1024, &cfg, 0);
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> p = payload(22050, pair, 50);
    ASSERT_FALSE(p.empty());
    const int ch = pair ? 2 : 1;
    FrameRun r = runFrames(d, 6, ch, {p}, pair ? 2 : 0, 0);
    EXPECT_EQ(r.result, 0);
    ASSERT_EQ(r.channels, ch);
    double low, high;
    for (int c = 0; c < ch; c++) {
      splitEnergy(channelOf(r, c), 0.5, &low, &high);
      EXPECT_GT(high / low, 1e-5) << "high band present, channel " << c;
    }
    // A louder envelope gives a louder high band (1.5 dB steps: +20 steps = +30 dB).
    SbrDecoder* d2 = sbrDecoderOpen(22050, 1024, &cfg, 0);
    FrameRun r2 = runFrames(d2, 6, ch, {payload(22050, pair, 70)}, pair ? 2 : 0, 0);
    double low2, high2;
    splitEnergy(channelOf(r2, 0), 0.5, &low2, &high2);
    splitEnergy(channelOf(r, 0), 0.5, &low, &high);
    // Limiter and noise floor keep it from being exact.
    EXPECT_NEAR(10 * std::log10(high2 / high), 30.0, 4.0) << "pair " << pair;
    // Frames without payload after valid ones: concealed, the high band stays.
    FrameRun r3 = runFrames(d, 2, ch, {{}}, pair ? 2 : 0, 0);
    splitEnergy(channelOf(r3, 0), 0.5, &low, &high);
    EXPECT_GT(high / low, 1e-6);
    sbrDecoderClose(&d);
    sbrDecoderClose(&d2);
  }
}

TEST(SbrDecoder, NineSixtySampleFramesUseFifteenTimeSlots) {
  if (codeword("f_huffman_env_1_5dB", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* d = sbrDecoderOpen(24000, 960, &cfg, 0);
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> p = payload(24000, false, 50);
  ASSERT_FALSE(p.empty());
  FrameRun r = runFrames(d, 5, 1, {p}, 0, 1, 960);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.channels, 2);
  ASSERT_EQ(r.out.size(), 2u * 1920u);
  double low, high;
  splitEnergy(channelOf(r, 0), 0.5, &low, &high);
  EXPECT_GT(high / low, 1e-5);
  sbrDecoderClose(&d);
}

TEST(SbrDecoder, PsEnableOnAMonoElementGivesTwoChannels) {
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* d = sbrDecoderOpen(16000, 1024, &cfg, 0);
  ASSERT_NE(d, nullptr);
  FrameRun r = runFrames(d, 3, 1, {{}}, 0, 1);
  EXPECT_EQ(r.channels, 2);
  std::vector<float> l = channelOf(r, 0), rr = channelOf(r, 1);
  for (int i = 0; i < 2048; i++) ASSERT_EQ(l[static_cast<size_t>(i)], rr[static_cast<size_t>(i)]) << i;
  sbrDecoderClose(&d);
}

TEST(SbrDecoder, AHeaderWhoseTablesCannotBeBuiltReturns14AndTheNextFrameDecodes) {
  // At 48 kHz output, start 0 / stop 13 spans more than the 32 bands allowed there.
  int k0 = 0, k2 = 0;
  ASSERT_NE(sbrFindStartAndStopBand(48000, 64, 0, 13, 0, &k0, &k2), nullptr);
  sbrtest::BitWriter w;
  w.put(13, 4);
  w.put(1, 1);
  w.put(1, 1); w.put(0, 4); w.put(13, 4); w.put(0, 3); w.put(0, 2); w.put(0, 1); w.put(0, 1);
  w.put(0, 16);
  std::vector<uint8_t> bad = w.bytes();
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* d = sbrDecoderOpen(24000, 1024, &cfg, 0);
  ASSERT_NE(d, nullptr);
  FrameRun r = runFrames(d, 1, 1, {bad}, 0, 0);
  EXPECT_EQ(r.result, SBR_ERR_RESET);
  // Without a valid header the core is still upsampled, and a good header recovers.
  std::vector<uint8_t> good = payload(24000, false, 50);
  if (!good.empty()) {
    FrameRun r2 = runFrames(d, 3, 1, {good}, 0, 0);
    EXPECT_EQ(r2.result, 0);
    double low, high;
    splitEnergy(channelOf(r2, 0), 0.5, &low, &high);
    EXPECT_GT(high / low, 1e-5);
  }
  sbrDecoderClose(&d);
}

TEST(SbrDecoder, UnknownElementKindAndRandomPayloadsAreSurvived) {
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* d = sbrDecoderOpen(24000, 1024, &cfg, 0);
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> p = payload(24000, false, 40);
  if (!p.empty()) {
    FrameRun r = runFrames(d, 1, 1, {p}, 1, 0);
    EXPECT_EQ(r.result, SBR_ERR_ELEMENT_KIND);
  }
  uint32_t seed = 2024;
  std::vector<float> buf(4096);
  for (int it = 0; it < 1500; it++) {
    std::vector<uint8_t> bytes(1 + it % 97);
    for (auto& b : bytes) {
      seed = seed * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(seed >> 24);
    }
    if (it % 3 == 0 && !p.empty()) {  // a valid header in front of random frame data
      bytes.insert(bytes.begin(), p.begin(), p.begin() + 4);
    }
    const bool pair = it % 2 == 1;
    // Every seventh frame carries the enormous values corrupt core data can produce.
    const float scale = it % 7 == 3 ? 1e30f : 1.0f;
    for (int i = 0; i < 2048; i++)
      buf[static_cast<size_t>(i)] = scale * static_cast<float>((i * 37 + it) % 2000 - 1000);
    if (it % 11 == 5) buf[17] = std::nanf("");
    SbrElementRecord rec;
    rec.count = 1;
    rec.elementKind = pair ? 2 : 0;
    rec.extType = it % 5 == 0 ? 14 : 13;
    rec.length = static_cast<int>(bytes.size());
    rec.payload = bytes.data();
    int ch = pair ? 2 : 1, psApplied = 0;
    int res = sbrDecoderApply(d, &rec, buf.data(), 1, &ch, &psApplied);
    ASSERT_TRUE(res == 0 || res == SBR_ERR_RESET) << res;
    for (int i = 0; i < 2048 * ch; i++) ASSERT_TRUE(std::isfinite(buf[static_cast<size_t>(i)])) << it;
  }
  sbrDecoderReset(d);
  sbrDecoderClose(&d);
}

}  // namespace
