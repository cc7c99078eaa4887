// QMF banks: the analysis against the closed form computed by numpy,
// analysis followed by synthesis reconstructing the input at a fixed delay,
// and the 32-band analysis into the 64-band synthesis keeping a tone's level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "qmf_dec.h"
#include "qmf_fft_sse.h"
#include "test_util.h"

namespace {

struct Matrix {
  std::vector<std::vector<float>> re, im;
  std::vector<float*> pr, pi;
  Matrix(int slots, int bands) : re(slots, std::vector<float>(bands)), im(slots, std::vector<float>(bands)) {
    for (int s = 0; s < slots; s++) {
      pr.push_back(re[s].data());
      pi.push_back(im[s].data());
    }
  }
};

// The split-array FFT kernels of the banks against a direct DFT in double, on
// an impulse at every position (catches a wrong index map or twiddle) and on
// random data.
TEST(QmfFft, MatchesTheDirectTransform) {
  for (int n : {16, 32}) {
    for (int trial = -1; trial < n; trial++) {
      float re[32], im[32];
      double xr[32], xi[32];
      unsigned seed = 12345u + static_cast<unsigned>(trial + 1);
      for (int i = 0; i < n; i++) {
        if (trial >= 0) {
          xr[i] = i == trial ? 1.0 : 0.0;
          xi[i] = i == trial ? -0.5 : 0.0;
        } else {
          seed = seed * 1103515245u + 12345u;
          xr[i] = static_cast<double>((seed >> 8) & 0xffff) / 65536.0 - 0.5;
          seed = seed * 1103515245u + 12345u;
          xi[i] = static_cast<double>((seed >> 8) & 0xffff) / 65536.0 - 0.5;
        }
        re[i] = static_cast<float>(xr[i]);
        im[i] = static_cast<float>(xi[i]);
      }
      if (n == 16)
        qmfFft16(re, im);
      else
        qmfFft32(re, im);
      for (int k = 0; k < n; k++) {
        double sr = 0, si = 0;
        for (int i = 0; i < n; i++) {
          double a = -2.0 * M_PI * i * k / n;
          sr += xr[i] * std::cos(a) - xi[i] * std::sin(a);
          si += xr[i] * std::sin(a) + xi[i] * std::cos(a);
        }
        ASSERT_NEAR(re[k], sr, 2e-6) << "n " << n << " trial " << trial << " k " << k;
        ASSERT_NEAR(im[k], si, 2e-6) << "n " << n << " trial " << trial << " k " << k;
      }
    }
  }
}

TEST(QmfBank, CreationParameters) {
  QmfBank* a = nullptr;
  ASSERT_EQ(createCplxAnalysisQmfBank(&a, 0, 2, 1, 1024, 0), nullptr);
  EXPECT_EQ(a->M, 32);
  EXPECT_EQ(a->slots, 32);
  EXPECT_EQ(a->L - a->M, 288);
  deleteQmfBank(&a);
  EXPECT_EQ(a, nullptr);
  ASSERT_EQ(createCplxAnalysisQmfBank(&a, 0, 2, 1, 960, 0), nullptr);
  EXPECT_EQ(a->slots, 30);
  deleteQmfBank(&a);
  QmfBank* s = nullptr;
  ASSERT_EQ(createCplxSynthesisQmfBank(&s, 0, 1, 2048, 1.0f, 1.0f, 0), nullptr);
  EXPECT_EQ(s->M, 64);
  EXPECT_EQ(s->slots, 32);
  EXPECT_FLOAT_EQ(s->scaleIn, 0.015625f);
  deleteQmfBank(&s);
  EXPECT_STREQ(createCplxAnalysisQmfBank(&a, 1, 2, 1, 1024, 0),
               "Illegal QMF-bank mode in function createCplxAnalysisQmfBank()");
  EXPECT_EQ(a, nullptr);
  deleteQmfBank(&a);  // a null handle is ignored
}

TEST(QmfBank, AnalysisMatchesTheClosedForm) {
  std::vector<float> in = sbrtest::readFloats(sbrtest::fixturePath("qmf_in.f32"));
  std::vector<float> ref_re = sbrtest::readFloats(sbrtest::fixturePath("qmf_ana_re.f32"));
  std::vector<float> ref_im = sbrtest::readFloats(sbrtest::fixturePath("qmf_ana_im.f32"));
  if (in.empty() || ref_re.empty()) GTEST_SKIP() << "numpy reference not generated";
  QmfBank* a = nullptr;
  ASSERT_EQ(createCplxAnalysisQmfBank(&a, 0, 2, 1, 1024, 0), nullptr);
  std::vector<float> buf(288 + 1024, 0.0f);
  Matrix m(32, 32);
  double errPow = 0, refPow = 0;
  for (int f = 0; f < 3; f++) {
    std::memmove(buf.data(), buf.data() + 1024, 288 * sizeof(float));
    std::copy(in.begin() + f * 1024, in.begin() + (f + 1) * 1024, buf.begin() + 288);
    qmfAnalysisFiltering(buf.data(), m.pr.data(), m.pi.data(), a);
    for (int s = 0; s < 32; s++)
      for (int k = 0; k < 32; k++) {
        size_t idx = static_cast<size_t>((f * 32 + s) * 32 + k);
        double dr = m.re[s][k] - ref_re[idx], di = m.im[s][k] - ref_im[idx];
        errPow += dr * dr + di * di;
        refPow += static_cast<double>(ref_re[idx]) * ref_re[idx] + static_cast<double>(ref_im[idx]) * ref_im[idx];
      }
  }
  double snr = 10.0 * std::log10(refPow / errPow);
  EXPECT_GT(snr, 100.0);
  deleteQmfBank(&a);
}

// Analysis then synthesis with the same number of bands returns the input delayed.
void checkReconstruction(int D, int expectedDelay) {
  const int M = 64 / D, frame = 32 * M, frames = 4;
  QmfBank *a = nullptr, *s = nullptr;
  ASSERT_EQ(createCplxAnalysisQmfBank(&a, 0, D, 1, frame, 0), nullptr);
  ASSERT_EQ(createCplxSynthesisQmfBank(&s, 0, D, frame, 1.0f, 1.0f, 0), nullptr);
  const int hist = a->L - a->M;
  std::vector<float> in(static_cast<size_t>(frame * frames)), out(in.size());
  uint32_t seed = 7;
  for (auto& v : in) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(seed) >> 16);
  }
  std::vector<float> buf(static_cast<size_t>(hist + frame), 0.0f);
  Matrix m(32, 64);
  // The analysis gives twice the amplitude a same-size synthesis expects back.
  for (int f = 0; f < frames; f++) {
    std::memmove(buf.data(), buf.data() + frame, hist * sizeof(float));
    std::copy(in.begin() + f * frame, in.begin() + (f + 1) * frame, buf.begin() + hist);
    qmfAnalysisFiltering(buf.data(), m.pr.data(), m.pi.data(), a);
    qmfSynthesisFiltering(m.pr.data(), m.pi.data(), out.data() + f * frame, s);
  }
  double best = 0;
  int bestDelay = -1;
  for (int d = 0; d < 2 * a->L; d++) {
    double num = 0, den = 0;
    for (size_t i = 2000; i + d < out.size(); i++) {
      num += out[i + d] * in[i];
      den += in[i] * in[i];
    }
    if (num / den > best) {
      best = num / den;
      bestDelay = d;
    }
  }
  EXPECT_EQ(bestDelay, expectedDelay);
  double errPow = 0, sigPow = 0;
  for (size_t i = 2000; i + bestDelay < out.size(); i++) {
    double g = out[i + bestDelay] / best;
    errPow += (g - in[i]) * (g - in[i]);
    sigPow += static_cast<double>(in[i]) * in[i];
  }
  // The prototype is near-perfect: numpy gives 59.6 dB for the same bank.
  EXPECT_GT(10 * std::log10(sigPow / errPow), 58.0) << "D = " << D;
  EXPECT_NEAR(best, D == 1 ? 2.0 : 1.0, 0.01) << "gain";
  deleteQmfBank(&a);
  deleteQmfBank(&s);
}

TEST(QmfBank, AnalysisThenSynthesisReconstructs64Bands) { checkReconstruction(1, 577); }
TEST(QmfBank, AnalysisThenSynthesisReconstructs32Bands) { checkReconstruction(2, 289); }

TEST(QmfBank, ThirtyTwoBandAnalysisIntoSixtyFourBandSynthesisKeepsTheLevel) {
  QmfBank *a = nullptr, *s = nullptr;
  ASSERT_EQ(createCplxAnalysisQmfBank(&a, 0, 2, 1, 1024, 0), nullptr);
  ASSERT_EQ(createCplxSynthesisQmfBank(&s, 0, 1, 2048, 1.0f, 1.0f, 0), nullptr);
  std::vector<float> buf(288 + 1024, 0.0f), out(2048 * 6);
  Matrix m(32, 64);
  const double f0 = 1000.0 / 16000.0;  // cycles per core sample
  for (int f = 0; f < 6; f++) {
    std::memmove(buf.data(), buf.data() + 1024, 288 * sizeof(float));
    for (int i = 0; i < 1024; i++) buf[288 + i] = static_cast<float>(10000.0 * std::sin(2 * M_PI * f0 * (f * 1024 + i)));
    qmfAnalysisFiltering(buf.data(), m.pr.data(), m.pi.data(), a);
    for (int sl = 0; sl < 32; sl++)
      for (int k = 32; k < 64; k++) m.re[sl][k] = m.im[sl][k] = 0.0f;
    qmfSynthesisFiltering(m.pr.data(), m.pi.data(), out.data() + f * 2048, s);
  }
  double pow = 0;
  for (int i = 6000; i < 12000; i++) pow += static_cast<double>(out[i]) * out[i];
  double rms = std::sqrt(pow / 6000.0);
  EXPECT_NEAR(rms, 10000.0 / std::sqrt(2.0), 10000.0 * 0.01);
  deleteQmfBank(&a);
  deleteQmfBank(&s);
}

}  // namespace
