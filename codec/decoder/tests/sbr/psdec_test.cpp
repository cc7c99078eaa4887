// Parametric stereo: the hybrid analysis/synthesis pair is a pure delay of 6
// QMF slots; a frame without PS data copies left to right; IID and ICC steer
// level and correlation; invalid blocks are refused without harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <vector>

#include "psdec.h"
#include "test_util.h"

namespace {

struct Slots {
  std::vector<std::vector<float>> re, im;
  std::vector<float*> pr, pi;
  explicit Slots(int n) : re(n, std::vector<float>(64)), im(n, std::vector<float>(64)) {
    for (int i = 0; i < n; i++) {
      pr.push_back(re[i].data());
      pi.push_back(im[i].data());
    }
  }
};

std::string codeword(const std::string& table, int value) {
  std::ifstream f(sbrtest::fixturePath("codewords.txt"));
  std::string name, bits;
  int v, len;
  while (f >> name >> v >> len >> bits)
    if (name == table && v == value) return bits;
  return "";
}

// ps_data() with a header (IID mode 1 = 20 bands coarse, ICC mode 1), one FIX
// envelope, IID index iid and ICC index icc in every band (frequency-coded).
std::vector<uint8_t> psBlock(int iid, int icc, int* bits, int iidMode = 1) {
  sbrtest::BitWriter w;
  w.put(1, 1);  // header
  w.put(1, 1);
  w.put(static_cast<uint32_t>(iidMode), 3);
  w.put(1, 1);
  w.put(1, 3);
  w.put(0, 1);  // no extension
  w.put(0, 1);  // FIX
  w.put(1, 2);  // one envelope
  w.put(0, 1);  // iid frequency-coded
  w.putBits(codeword("iid_df_normal", iid));
  for (int b = 1; b < 20; b++) w.putBits(codeword("iid_df_normal", 0));
  w.put(0, 1);
  w.putBits(codeword("icc_df", icc));
  for (int b = 1; b < 20; b++) w.putBits(codeword("icc_df", 0));
  *bits = w.bitCount();
  return w.bytes();
}

void fillNoise(Slots& s, uint32_t seed) {
  for (size_t n = 0; n < s.re.size(); n++)
    for (int k = 0; k < 64; k++) {
      seed = seed * 1664525u + 1013904223u;
      s.re[n][k] = static_cast<float>(static_cast<int32_t>(seed) >> 12);
      seed = seed * 1664525u + 1013904223u;
      s.im[n][k] = static_cast<float>(static_cast<int32_t>(seed) >> 12);
    }
}

TEST(ParametricStereo, WithoutDataBothChannelsAreTheInputWithoutDelay) {
  // The hybrid analysis/synthesis pair is the identity; its filters read the 6
  // slots after the frame (the matrices carry 38 rows).
  PsDec* ps = nullptr;
  ASSERT_EQ(psDecoderCreate(&ps, 64, 32), 0);
  Slots signal(32 * 4 + 6);
  fillNoise(signal, 11u);
  double maxErr = 0, maxVal = 0;
  for (int f = 0; f < 3; f++) {
    Slots l(38), r(38);
    for (int n = 0; n < 38; n++) {
      l.re[n] = signal.re[static_cast<size_t>(f * 32 + n)];
      l.im[n] = signal.im[static_cast<size_t>(f * 32 + n)];
    }
    psApply(ps, 1, l.pr.data(), l.pi.data(), r.pr.data(), r.pi.data(), 0);
    for (int n = 0; n < 32; n++)
      for (int k = 0; k < 64; k++) {
        std::complex<float> want(signal.re[static_cast<size_t>(f * 32 + n)][k], signal.im[static_cast<size_t>(f * 32 + n)][k]);
        if (f == 0 && n < 6 && k < 3) continue;  // the filters start from silence
        maxErr = std::max(maxErr, static_cast<double>(std::abs(std::complex<float>(l.re[n][k], l.im[n][k]) - want)));
        maxErr = std::max(maxErr, static_cast<double>(std::abs(std::complex<float>(r.re[n][k], r.im[n][k]) - want)));
        maxVal = std::max(maxVal, static_cast<double>(std::abs(want)));
      }
  }
  EXPECT_LT(maxErr / maxVal, 1e-4) << "hybrid analysis + synthesis must be the identity";
  psDecoderDelete(&ps);
  EXPECT_EQ(ps, nullptr);
}

// Runs several frames of PS with the given parameters on a noise input and
// returns the left/right energy ratio (dB) and the normalised correlation.
void steer(int iid, int icc, double* levelDb, double* corr) {
  PsDec* ps = nullptr;
  ASSERT_EQ(psDecoderCreate(&ps, 64, 32), 0);
  double el = 0, er = 0, x = 0;
  for (int f = 0; f < 6; f++) {
    int bits = 0;
    std::vector<uint8_t> block = psBlock(iid, icc, &bits);
    SbrBitReader br;
    sbrBitInit(&br, block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(psReadData(ps, &br, bits), bits);
    ASSERT_EQ(psHasNewData(ps), 1);
    psDecodeParameters(ps);
    Slots l(38), r(38);
    fillNoise(l, 77u + static_cast<uint32_t>(f));
    psApply(ps, 0, l.pr.data(), l.pi.data(), r.pr.data(), r.pi.data(), 0);
    if (f < 3) continue;  // let the delay lines fill
    for (int n = 0; n < 32; n++)
      for (int k = 10; k < 40; k++) {
        el += l.re[n][k] * l.re[n][k] + l.im[n][k] * l.im[n][k];
        er += r.re[n][k] * r.re[n][k] + r.im[n][k] * r.im[n][k];
        x += l.re[n][k] * r.re[n][k] + l.im[n][k] * r.im[n][k];
      }
  }
  *levelDb = 10.0 * std::log10(el / er);
  *corr = x / std::sqrt(el * er);
  psDecoderDelete(&ps);
}

TEST(ParametricStereo, IidSetsTheLevelDifferenceAndIccTheCorrelation) {
  if (codeword("iid_df_normal", 0).empty()) GTEST_SKIP() << "codeword list not generated";
  struct Case {
    int iid, icc;
    double levelDb, corr, tolDb, tolCorr;
  } cases[] = {
      {0, 0, 0.0, 1.0, 0.01, 1e-3},    // identical channels
      {3, 0, 7.0, 1.0, 0.3, 0.02},     // grid step +3: 7 dB, fully correlated
      {-5, 0, -14.0, 1.0, 0.5, 0.02},  // grid step -5: -14 dB
      {0, 5, 0.0, 0.0, 1.0, 0.1},      // ICC 0: uncorrelated
      {0, 7, 0.0, -1.0, 1.0, 0.1},     // ICC -1: opposite phase
  };
  for (const auto& c : cases) {
    double level, corr;
    steer(c.iid, c.icc, &level, &corr);
    EXPECT_NEAR(level, c.levelDb, c.tolDb) << c.iid << " " << c.icc;
    EXPECT_NEAR(corr, c.corr, c.tolCorr) << c.iid << " " << c.icc;
  }
}

TEST(ParametricStereo, ReservedModesAndBadBordersInvalidateTheBlock) {
  PsDec* ps = nullptr;
  ASSERT_EQ(psDecoderCreate(&ps, 64, 32), 0);
  {  // IID mode 6
    sbrtest::BitWriter w;
    w.put(1, 1); w.put(1, 1); w.put(6, 3); w.put(0, 1); w.put(0, 1);
    w.put(0, 1); w.put(1, 2);
    w.put(0, 24);
    SbrBitReader br;
    sbrBitInit(&br, w.bytes().data(), static_cast<int>(w.bytes().size()));
    EXPECT_EQ(psReadData(ps, &br, 40), 40) << "the rest of the block is skipped";
    EXPECT_EQ(psHasNewData(ps), 0);
  }
  {  // VAR frame whose second border does not rise
    sbrtest::BitWriter w;
    w.put(1, 1); w.put(0, 1); w.put(0, 1); w.put(0, 1);  // header without IID/ICC
    w.put(1, 1); w.put(1, 2);                            // VAR, two envelopes
    w.put(10, 5); w.put(5, 5);
    SbrBitReader br;
    sbrBitInit(&br, w.bytes().data(), static_cast<int>(w.bytes().size()));
    psReadData(ps, &br, w.bitCount());
    EXPECT_EQ(psHasNewData(ps), 0);
  }
  {  // VAR border past the 30 slots of a 960-sample frame
    PsDec* ps30 = nullptr;
    ASSERT_EQ(psDecoderCreate(&ps30, 64, 30), 0);
    sbrtest::BitWriter w;
    w.put(1, 1); w.put(0, 1); w.put(0, 1); w.put(0, 1);
    w.put(1, 1); w.put(0, 2);
    w.put(31, 5);  // border 32
    SbrBitReader br;
    sbrBitInit(&br, w.bytes().data(), static_cast<int>(w.bytes().size()));
    psReadData(ps30, &br, w.bitCount());
    EXPECT_EQ(psHasNewData(ps30), 0);
    psDecoderDelete(&ps30);
  }
  psDecoderDelete(&ps);
  EXPECT_NE(psDecoderCreate(&ps, 64, 31), 0);
  EXPECT_EQ(ps, nullptr);
}

}  // namespace
