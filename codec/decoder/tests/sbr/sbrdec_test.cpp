// The SBR/PS wrapper of the decoder: element layouts learnt from the payloads
// (with the LFE completed), implicit signalling, parametric stereo only for a
// one-channel stream, and frames whose payloads do not match the layout.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "env_calc.h"
#include "sbrdec.h"
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

// An SBR payload (header and one FIXFIX frame) for a single channel or an uncoupled pair.
std::vector<uint8_t> payload(int coreRate, bool pair) {
  SbrHeader h;
  h.startFreq = 5;
  h.stopFreq = 9;
  SbrEnvCalc ec;
  if (resetSbrEnvelopeCalc(&ec, &h, 2 * coreRate, 64, 32, 0)) return {};
  sbrtest::BitWriter w;
  w.put(13, 4);
  w.put(1, 1);
  w.put(1, 1); w.put(5, 4); w.put(9, 4); w.put(0, 3); w.put(0, 2); w.put(0, 1); w.put(0, 1);
  const std::string zeroF = codeword("f_huffman_env_1_5dB", 0);
  const std::string zeroNoiseT = codeword("t_huffman_noise_3_0dB", 0);
  const int n = pair ? 2 : 1;
  w.put(0, 1);
  if (pair) w.put(0, 1);  // no coupling
  for (int c = 0; c < n; c++) {
    w.put(0, 2); w.put(0, 2); w.put(1, 1);
  }
  for (int c = 0; c < n; c++) {
    w.put(0, 1);
    w.put(1, 1);
  }
  for (int c = 0; c < n; c++)
    for (int i = 0; i < ec.ft.nNoise; i++) w.put(1, 2);
  for (int c = 0; c < n; c++) {
    w.put(60, 7);
    for (int i = 1; i < ec.ft.nHigh; i++) w.putBits(zeroF);
  }
  for (int c = 0; c < n; c++)
    for (int i = 0; i < ec.ft.nNoise; i++) w.putBits(zeroNoiseT);
  for (int c = 0; c < n; c++) w.put(0, 1);
  w.put(0, 1);
  return w.bytes();
}

struct Stream {
  SbrLayerInfo layer;
  SbrWrapper* w = nullptr;
  std::vector<float> samples;
  Stream(int rate, int channels, int config, int sbrPresent) {
    layer.objectType = 2;
    layer.coreSampleRate = rate;
    layer.frameLength = 1024;
    layer.channelConfig = config;
    layer.channels = channels;
    layer.sbrPresent = sbrPresent;
    layer.extSampleRate = sbrPresent == 1 ? 2 * rate : 0;
    samples.resize(static_cast<size_t>(2 * channels > 2 ? 2 * channels : 2) * 2048);
    EXPECT_EQ(sbrDecOpen(&w, &layer), 0);
  }
  ~Stream() { sbrDecClose(&w); }
  // One frame of core output (a tone per channel) with the given ancillary entries.
  int frame(const std::vector<SbrAncillary>& anc, SbrCuFrame* cu, int f) {
    for (int i = 0; i < 1024; i++)
      for (int c = 0; c < layer.channels; c++)
        samples[static_cast<size_t>(i * layer.channels + c)] =
            static_cast<float>(5000.0 * std::sin(0.05 * (c + 1) * (f * 1024 + i)));
    *cu = SbrCuFrame();
    cu->samples = samples.data();
    cu->capacity = static_cast<int>(samples.size());
    cu->channels = layer.channels;
    cu->samplesPerChannel = 1024;
    cu->anc = anc.data();
    cu->numAnc = static_cast<int>(anc.size());
    return sbrDecApply(w, cu, &layer);
  }
};

SbrAncillary entry(int type, const std::vector<uint8_t>& p) {
  SbrAncillary a;
  a.type = type;
  a.data = p.data();
  a.size = static_cast<int>(p.size());
  return a;
}

TEST(SbrWrapper, ImplicitSignallingDoublesRateAndLengthFromTheFirstPayload) {
  std::vector<uint8_t> p = payload(24000, true);
  if (p.empty() || codeword("f_huffman_env_1_5dB", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  Stream s(24000, 2, 2, -1);
  SbrCuFrame cu;
  // Without payload and without signalling the core output stays.
  EXPECT_EQ(s.frame({}, &cu, 0), 0);
  EXPECT_EQ(cu.sbrApplied, 0);
  EXPECT_EQ(s.layer.sbrPresent, -1);
  std::vector<SbrAncillary> anc = {entry(9, p)};
  EXPECT_EQ(s.frame(anc, &cu, 1), 0);
  EXPECT_EQ(cu.sbrApplied, 1);
  EXPECT_EQ(cu.outSamplesPerChannel, 2048);
  EXPECT_EQ(cu.outSampleRate, 48000);
  EXPECT_EQ(cu.outChannels, 2);
  EXPECT_EQ(s.layer.sbrPresent, 1);
  EXPECT_EQ(s.layer.extSampleRate, 48000);
  EXPECT_EQ(s.layer.extObjectType, 5);
  // A later frame without payload is still extended (concealed).
  EXPECT_EQ(s.frame({}, &cu, 2), 0);
  EXPECT_EQ(cu.outSamplesPerChannel, 2048);
}

TEST(SbrWrapper, ParametricStereoOnlyForAOneChannelStream) {
  std::vector<uint8_t> mono = payload(22050, false);
  if (mono.empty() || codeword("f_huffman_env_1_5dB", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  for (int psEnable : {1, 0}) {
    Stream s(22050, 1, 1, 1);
    sbrDecSetPsEnable(s.w, psEnable);
    SbrCuFrame cu;
    std::vector<SbrAncillary> anc = {entry(8, mono)};
    EXPECT_EQ(s.frame(anc, &cu, 0), 0);
    EXPECT_EQ(cu.outChannels, psEnable ? 2 : 1);
    EXPECT_EQ(cu.psApplied, 0) << "no PS data in the payload";
  }
}

TEST(SbrWrapper, FivePointOneKeepsEveryChannelItsOwn) {
  std::vector<uint8_t> sce = payload(24000, false), cpe = payload(24000, true);
  if (sce.empty() || codeword("f_huffman_env_1_5dB", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  Stream s(24000, 6, 6, -1);  // C, L/R, Ls/Rs, LFE in element order
  SbrCuFrame cu;
  std::vector<SbrAncillary> anc = {entry(8, sce), entry(9, cpe), entry(9, cpe)};
  for (int f = 0; f < 3; f++) ASSERT_EQ(s.frame(anc, &cu, f), 0);
  EXPECT_EQ(cu.outChannels, 6);
  EXPECT_EQ(cu.outSamplesPerChannel, 2048);
  // Each output channel carries its own tone (frequency 0.05 (c + 1) per core sample,
  // half that per output sample): the correlation with its own tone dominates.
  auto toneLevel = [&](int c, double w) {
    double cs = 0, sn = 0;
    for (int i = 0; i < 2048; i++) {
      double v = s.samples[static_cast<size_t>(i * 6 + c)];
      cs += v * std::cos(w * i);
      sn += v * std::sin(w * i);
    }
    return std::sqrt(cs * cs + sn * sn);
  };
  for (int c = 0; c < 6; c++) {
    double own = toneLevel(c, 0.025 * (c + 1));
    double other = toneLevel(c, 0.025 * ((c + 1) % 6 + 1));
    EXPECT_GT(own, 10 * other) << "channel " << c;
  }
  // A frame whose payloads do not match the learnt layout is decoded from empty frames.
  std::vector<SbrAncillary> wrong = {entry(9, cpe)};
  EXPECT_EQ(s.frame(wrong, &cu, 3), 0);
  EXPECT_EQ(cu.outSamplesPerChannel, 2048);
}

TEST(SbrWrapper, SignalledSbrWithoutPayloadUsesTheChannelConfiguration) {
  Stream s(16000, 2, 2, 1);
  SbrCuFrame cu;
  EXPECT_EQ(s.frame({}, &cu, 0), 0);
  EXPECT_EQ(cu.sbrApplied, 1);
  EXPECT_EQ(cu.outChannels, 2);
  EXPECT_EQ(cu.outSampleRate, 32000);
  Stream bad(16000, 3, 0, 1);  // configuration 0 with three channels and no payload yet
  EXPECT_EQ(bad.frame({}, &cu, 0), SBRDEC_ERR_CHANNELS);
}

}  // namespace
