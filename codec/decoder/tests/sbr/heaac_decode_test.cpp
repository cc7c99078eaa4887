// HE-AAC and HE-AAC v2 through the whole decoder (AAC-LC core, SBR/PS
// wrapper): every signalling of the same stream, implicit SBR at 48 and
// 44.1 kHz, and a plain LC stream, against ffmpeg's float decode. The
// comparison searches the best alignment first; for the SBR streams it must
// be no shift at all (same delay as the reference decoder).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mp4AudioDecIfc.h"
#include "qmf_dec.h"

namespace {

std::string fixture(const std::string& name) { return std::string(VOG_FIXTURE_DIR) + "/sbrdec/" + name; }

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

struct Decoded {
  std::vector<float> pcm;  // interleaved, 16-bit scale
  int channels = 0;
  int rate = 0;
  int units = 0;
  int failures = 0;
  std::vector<int> samplesPerUnit;
  int sbrPresent = 0;
  int extObjectType = 0;
};

bool decodeVector(const std::string& base, Decoded* out, bool lowPower = false) {
  std::vector<uint8_t> asc = readFile(fixture(base + ".asc"));
  std::vector<uint8_t> aus = readFile(fixture(base + ".au"));
  if (asc.empty()) return false;
  AudioSpecificConfig cfg;
  std::memset(&cfg, 0, sizeof(cfg));
  EXPECT_EQ(mp4AudioDecParseAsc(asc.data(), static_cast<int32_t>(asc.size()), &cfg), 0);
  AudioSpecificConfig* recs[1] = {&cfg};
  Mp4AudioDec* dec = mp4AudioDecOpen(recs, 1);
  EXPECT_NE(dec, nullptr);
  if (!dec) return true;
  if (lowPower) {
    EXPECT_EQ(mp4AudioDecSetParameter(dec, 1019, 1.0f), MP4AUDEC_NOT_SUPPORTED) << "not while PS is enabled";
    EXPECT_EQ(mp4AudioDecSetParameter(dec, 1003, 0.0f), 0);
    EXPECT_EQ(mp4AudioDecSetParameter(dec, 1019, 1.0f), 0);
  }
  AuBuffer* au = auBufferCreate(nullptr, 0);
  CuBuffer* cu = cuBufferCreate(2 * cfg.channelCount, 2 * cfg.frameLength,
                                cfg.sbrPresent == 1 ? cfg.extensionSamplingFrequency : cfg.samplingFrequency, 2048);
  AuBuffer* aub[1] = {au};
  size_t pos = 0;
  while (pos + 4 <= aus.size()) {
    size_t len = (static_cast<size_t>(aus[pos]) << 24) | (static_cast<size_t>(aus[pos + 1]) << 16) |
                 (static_cast<size_t>(aus[pos + 2]) << 8) | aus[pos + 3];
    pos += 4;
    if (pos + len > aus.size()) break;
    auBufferReset(au);
    auBufferFeed(au, aus.data() + pos, static_cast<int32_t>(len));
    pos += len;
    cuBufferReset(cu);
    out->units++;
    if (mp4AudioDecDecodeAu(dec, aub, cu) != 0) {
      out->failures++;
      continue;
    }
    int32_t ch = 0, n = 0, rate = 0;
    float* s = nullptr;
    cuBufferGetChannels(cu, &ch);
    cuBufferGetSamplesPerChannel(cu, &n);
    cuBufferGetSampleRate(cu, &rate);
    cuBufferGetSamples(cu, &s);
    if (out->channels == 0) {
      out->channels = ch;
      out->rate = rate;
    }
    EXPECT_EQ(ch, out->channels) << "unit " << out->units;
    EXPECT_EQ(rate, out->rate) << "unit " << out->units;
    out->samplesPerUnit.push_back(n);
    out->pcm.insert(out->pcm.end(), s, s + static_cast<size_t>(n) * ch);
  }
  const Mp4AudioDecLayer* layer = mp4AudioDecGetLayer(dec, 0);
  if (layer) {
    out->sbrPresent = layer->sbrPresent;
    out->extObjectType = layer->extensionObjectType;
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
  return true;
}

// SNR (dB) of channel `channel` of ours against the reference at the best
// alignment within +-maxShift samples; the shift found goes to *shift.
double bestSnr(const Decoded& d, const std::vector<float>& ref, int refChannels, int channel, int* shift) {
  const int ch = d.channels;
  const long n = static_cast<long>(d.pcm.size()) / ch;
  const long m = static_cast<long>(ref.size()) / refChannels;
  auto ours = [&](long i) { return static_cast<double>(d.pcm[static_cast<size_t>(i * ch + channel)]) / 32768.0; };
  auto theirs = [&](long i) { return static_cast<double>(ref[static_cast<size_t>(i * refChannels + channel % refChannels)]); };
  const long probe = std::min<long>(std::min(n, m), 16384);
  auto probeSnr = [&](int s) {
    double e = 0, p = 0;
    for (long i = 0; i < probe; i++) {
      long j = i + s;
      if (j < 0 || j >= n) continue;
      double r = theirs(i), o = ours(j);
      e += (o - r) * (o - r);
      p += r * r;
    }
    return (p > 0 && e > 0) ? 10 * std::log10(p / e) : (p > 0 ? 300.0 : -1e9);
  };
  // Coarse search in QMF slots, then every sample around the best slot.
  double best = -1e9;
  int coarse = 0;
  for (int s = -4096; s <= 4096; s += 64) {
    double v = probeSnr(s);
    if (v > best) {
      best = v;
      coarse = s;
    }
  }
  best = -1e9;
  for (int s = coarse - 64; s <= coarse + 64; s++) {
    double v = probeSnr(s);
    if (v > best) {
      best = v;
      *shift = s;
    }
  }
  double e = 0, p = 0;
  for (long i = 0; i < m; i++) {
    long j = i + *shift;
    if (j < 0 || j >= n) continue;
    double r = theirs(i), o = ours(j);
    e += (o - r) * (o - r);
    p += r * r;
  }
  return e > 0 ? 10 * std::log10(p / e) : 200.0;
}

constexpr int kAnyShift = 1 << 20;

struct Case {
  const char* base;
  int channels, rate, refChannels;
  bool implicitSbr;
  int shift;  // expected alignment, or kAnyShift
};

class HeAacDecode : public ::testing::TestWithParam<Case> {};

TEST_P(HeAacDecode, MatchesFfmpeg) {
  const Case& c = GetParam();
  std::vector<float> ref;
  {
    std::ifstream f(fixture(std::string(c.base) + ".ref.f32"), std::ios::binary);
    if (!f) GTEST_SKIP() << "fixtures not made (vectors absent)";
    f.seekg(0, std::ios::end);
    ref.resize(static_cast<size_t>(f.tellg()) / sizeof(float));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(ref.data()), static_cast<std::streamsize>(ref.size() * sizeof(float)));
  }
  Decoded d;
  ASSERT_TRUE(decodeVector(c.base, &d));
  EXPECT_EQ(d.failures, 0);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  if (c.implicitSbr) {
    EXPECT_EQ(d.sbrPresent, 1);
    EXPECT_EQ(d.extObjectType, 5);
    for (size_t i = 0; i < d.samplesPerUnit.size(); i++) ASSERT_EQ(d.samplesPerUnit[i], 2048) << "unit " << i;
  }
  for (int ch = 0; ch < c.channels; ch++) {
    int shift = 0;
    double snr = bestSnr(d, ref, c.refChannels, ch, &shift);
    std::printf("%s channel %d: %.2f dB at shift %d\n", c.base, ch, snr, shift);
    EXPECT_GE(snr, 55.0) << c.base << " channel " << ch;
    if (c.shift != kAnyShift) {
      EXPECT_EQ(shift, c.shift) << c.base << " channel " << ch;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, HeAacDecode,
    ::testing::Values(Case{"heaac", 2, 16000, 2, false, 0}, Case{"heaac_aot29", 2, 16000, 2, false, 0},
                      Case{"heaac_implicit", 2, 16000, 2, true, 0}, Case{"heaac-3frame_remux", 2, 48000, 2, true, 0},
                      Case{"truncated_remux", 2, 44100, 2, true, 0},
                      Case{"count-deutsch-audio", 1, 22050, 1, false, kAnyShift},
                      // Parametric stereo with inverse filtering: the stereo step
                      // must not feed the next frame's high-band prediction.
                      Case{"ps_invf", 2, 44100, 2, false, 0}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string n = info.param.base;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// Energy per 64-band QMF band of one channel over the whole signal.
std::vector<double> bandEnergies(const Decoded& d, int channel) {
  QmfBank* a = nullptr;
  std::vector<double> e(64, 0.0);
  if (createCplxAnalysisQmfBank(&a, 0, 1, 1, 2048, 0)) return e;
  std::vector<float> buf(576 + 2048, 0.0f);
  std::vector<std::vector<float>> re(32, std::vector<float>(64)), im(32, std::vector<float>(64));
  std::vector<float*> pr, pi;
  for (int s = 0; s < 32; s++) {
    pr.push_back(re[s].data());
    pi.push_back(im[s].data());
  }
  const size_t frames = d.pcm.size() / static_cast<size_t>(d.channels) / 2048;
  for (size_t f = 0; f < frames; f++) {
    std::memmove(buf.data(), buf.data() + 2048, 576 * sizeof(float));
    for (int i = 0; i < 2048; i++) buf[576 + i] = d.pcm[(f * 2048 + i) * d.channels + channel];
    qmfAnalysisFiltering(buf.data(), pr.data(), pi.data(), a);
    for (int s = 0; s < 32; s++)
      for (int k = 0; k < 64; k++) e[k] += static_cast<double>(re[s][k]) * re[s][k] + static_cast<double>(im[s][k]) * im[s][k];
  }
  deleteQmfBank(&a);
  return e;
}

TEST(HeAacDecodeLowPower, BandEnergiesStayWithinTwoDecibelsOfTheComplexPath) {
  for (const char* base : {"truncated_remux", "heaac"}) {
    std::ifstream probe(fixture(std::string(base) + ".au"), std::ios::binary);
    if (!probe) GTEST_SKIP() << "fixtures not made (vectors absent)";
    Decoded complexPath, lowPower;
    ASSERT_TRUE(decodeVector(base, &complexPath));
    ASSERT_TRUE(decodeVector(base, &lowPower, true));
    ASSERT_GT(lowPower.channels, 0);
    EXPECT_EQ(lowPower.failures, 0);
    const Decoded& ref = complexPath;
    if (ref.channels != lowPower.channels) continue;  // PS stream: channel layouts differ
    for (int ch = 0; ch < lowPower.channels; ch++) {
      std::vector<double> a = bandEnergies(ref, ch), b = bandEnergies(lowPower, ch);
      double peak = 0;
      for (double v : a) peak = std::max(peak, v);
      int compared = 0, worstBand = -1;
      double worst = 0;
      for (int k = 0; k < 64; k++) {
        if (a[k] < peak * 1e-7) continue;
        compared++;
        double dev = std::fabs(10 * std::log10(b[k] / a[k]));
        if (dev > worst) {
          worst = dev;
          worstBand = k;
        }
        // The real-valued banks cancel a band's alias only against its
        // neighbour's matching copy. At the crossover the neighbour is the
        // untouched core band, so the first SBR band and the band just above
        // the SBR range keep some alias (measured 2.05-2.34 dB there); inside
        // the range the bands stay within about 2 dB, mostly under 1.3 dB.
        EXPECT_NEAR(10 * std::log10(b[k] / a[k]), 0.0, 2.5) << base << " channel " << ch << " band " << k;
      }
      EXPECT_GT(compared, 30);
      std::printf("%s channel %d: worst band %d at %.2f dB\n", base, ch, worstBand, worst);
    }
  }
}

// A failure of the SBR/PS wrapper reaches the caller as the decoder
// interface's code for it: here a CU buffer with room for the core frame but
// not for the band-extended one fails its units with "too many samples".
TEST(HeAacDecodeErrors, CuBufferTooSmallForTheExtendedFrame) {
  std::vector<uint8_t> asc = readFile(fixture("heaac.asc"));
  std::vector<uint8_t> aus = readFile(fixture("heaac.au"));
  if (asc.empty()) GTEST_SKIP() << "fixtures not made (vectors absent)";
  AudioSpecificConfig cfg;
  std::memset(&cfg, 0, sizeof(cfg));
  ASSERT_EQ(mp4AudioDecParseAsc(asc.data(), static_cast<int32_t>(asc.size()), &cfg), 0);
  AudioSpecificConfig* recs[1] = {&cfg};
  Mp4AudioDec* dec = mp4AudioDecOpen(recs, 1);
  ASSERT_NE(dec, nullptr);
  AuBuffer* au = auBufferCreate(nullptr, 0);
  CuBuffer* cu = cuBufferCreate(cfg.channelCount, cfg.frameLength, cfg.samplingFrequency, 2048);
  AuBuffer* aub[1] = {au};
  int units = 0, tooMany = 0;
  std::vector<int32_t> others;
  for (size_t pos = 0; pos + 4 <= aus.size() && units < 8;) {
    const size_t len = (static_cast<size_t>(aus[pos]) << 24) | (static_cast<size_t>(aus[pos + 1]) << 16) |
                       (static_cast<size_t>(aus[pos + 2]) << 8) | aus[pos + 3];
    pos += 4;
    if (pos + len > aus.size()) break;
    auBufferReset(au);
    auBufferFeed(au, aus.data() + pos, static_cast<int32_t>(len));
    pos += len;
    cuBufferReset(cu);
    ++units;
    const int32_t r = mp4AudioDecDecodeAu(dec, aub, cu);
    if (r == MP4AUDEC_TOO_MANY_SAMPLES) ++tooMany;
    else others.push_back(r);
  }
  EXPECT_EQ(units, 8);
  EXPECT_EQ(tooMany, units) << "other results: " << ::testing::PrintToString(others);
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
}

}  // namespace
