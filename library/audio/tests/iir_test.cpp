// IIR filters against scipy.signal: the magnitude response of our sections
// (evaluated here from the coefficients) against scipy's design of the same
// filter over a frequency grid, processing against lfilter section by section, and the design
// rules' own cases (refusals, mask handling, resonators).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <sstream>

#include "audio_test_util.h"
#include "kviir.h"
#include "vog_tools.h"

using namespace kvtest;

namespace {

// Exposes the protected getters for the checks.
class TestIIR : public CKvIIR {
 public:
  using CKvIIR::getBiquad;
  using CKvIIR::getDry;
  using CKvIIR::getGain;
  using CKvIIR::getLastChannelMask;

  std::complex<double> Response(double f) const {
    const std::complex<double> zi = std::polar(1.0, -2 * 3.14159265358979323846 * f);
    std::complex<double> h = getGain();
    for (unsigned i = 0; i < getNumBiquads(); ++i) {
      const tKVIIR_BIQUAD* b = getBiquad(i);
      h *= (b->b0 + b->b1 * zi + b->b2 * zi * zi) / (1.0 - b->a1 * zi - b->a2 * zi * zi);
    }
    return h;
  }
  double MaxPoleRadius() const {
    double r = 0;
    for (unsigned i = 0; i < getNumBiquads(); ++i) {
      const tKVIIR_BIQUAD* b = getBiquad(i);
      // z^2 - a1 z - a2 = 0
      std::complex<double> d = std::sqrt(std::complex<double>(b->a1 * b->a1 + 4 * b->a2));
      r = std::max({r, std::abs((b->a1 + d) / 2.0), std::abs((b->a1 - d) / 2.0)});
    }
    return r;
  }
};

double Db(std::complex<double> h) { return 20 * std::log10(std::max(std::abs(h), 1e-300)); }

}  // namespace

TEST(IIR, ResponsesMatchScipy) {
  std::ifstream in(FixturePath("audio/iir/iir_responses.txt"));
  if (!in) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
  std::string tag;
  int designs = 0;
  double worst[3] = {0, 0, 0};
  while (in >> tag) {
    ASSERT_EQ(tag, "D");
    unsigned t, d, n, count;
    double f, bw;
    in >> t >> d >> n >> f >> bw >> count;
    std::vector<double> fr(count), ref(count);
    for (unsigned i = 0; i < count; ++i) in >> fr[i] >> ref[i];
    TestIIR iir;
    ASSERT_EQ(iir.Design(static_cast<KVIIR_TYPE>(t), static_cast<KVIIR_DESIGN>(d), n, f, bw, 0.0, 1, 1), S_OK);
    EXPECT_LT(iir.MaxPoleRadius(), 1.0) << t << " " << d << " " << n << " " << f;
    // Reference points: low-pass and band-stop at DC, high-pass at Nyquist,
    // band-pass at its centre (the last grid point). Normalisations differ
    // (scipy puts even Chebyshev orders at -0.5 dB), the shapes must not.
    unsigned r = t == 1 ? 2 : t == 3 ? count - 1 : 0;
    const double ours0 = Db(iir.Response(fr[r])), ref0 = ref[r];
    const double tol = d == 2 ? 1e-4 : 1e-6;
    for (unsigned i = 0; i < count; ++i) {
      if (ref[i] - ref0 < -100) continue;  // deep stop band: relative error only
      double diff = std::fabs((Db(iir.Response(fr[i])) - ours0) - (ref[i] - ref0));
      worst[d] = std::max(worst[d], diff);
      ASSERT_LE(diff, tol) << "type " << t << " design " << d << " order " << n << " freq " << f << " bw " << bw
                           << " at " << fr[i];
    }
    // Our own normalisation: unity at the type's reference frequency.
    double unity;
    if (t == 0) unity = std::abs(iir.Response(0));
    else if (t == 1) unity = std::abs(iir.Response(0.5));
    else if (t == 2) unity = std::sqrt(std::abs(iir.Response(0)) * std::abs(iir.Response(0.5)));
    else {
      double k = std::sqrt(std::pow(2.0, bw));
      unity = std::abs(iir.Response((f / k + std::min(f * k, 0.49)) / 2));
    }
    EXPECT_NEAR(unity, 1.0, 1e-9) << t << " " << d << " " << n << " " << f;
    ++designs;
  }
  EXPECT_GT(designs, 300);
  std::printf("worst |dB| difference: Butterworth %.3g, Chebyshev %.3g, Bessel %.3g\n", worst[0], worst[1], worst[2]);
}

TEST(IIR, ProcessingMatchesLfilter) {
  std::vector<uint8_t> raw;
  std::ifstream man(FixturePath("audio/iir/iir_proc.txt"));
  if (!man || !ReadFile(FixturePath("audio/iir/iir_in.raw"), raw)) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
  const size_t frames = raw.size() / 16;
  const double* x = reinterpret_cast<const double*>(raw.data());
  std::vector<float> xf(frames * 2);
  for (size_t i = 0; i < xf.size(); ++i) xf[i] = static_cast<float>(x[i]);
  unsigned t, d, n;
  double f, bw;
  std::string file;
  int checked = 0;
  while (man >> t >> d >> n >> f >> bw >> file) {
    std::vector<uint8_t> want;
    ASSERT_TRUE(ReadFile(FixturePath("audio/iir/" + file), want));
    const double* y = reinterpret_cast<const double*>(want.data());
    // Scalar path (flag bit 0), two-channel kernel, float path; each in two
    // blocks so that the state carries over.
    for (int mode = 0; mode < 3; ++mode) {
      CKvIIR iir;
      ASSERT_EQ(iir.Design(static_cast<KVIIR_TYPE>(t), static_cast<KVIIR_DESIGN>(d), n, f, bw, 0.0, 2, mode == 0 ? 1 : 0),
                S_OK);
      std::vector<double> out(frames * 2);
      std::vector<float> outf(frames * 2);
      const unsigned half = static_cast<unsigned>(frames / 3);
      if (mode < 2) {
        iir.ProcessDouble(out.data(), x, half, 0);
        iir.ProcessDouble(out.data() + 2 * half, x + 2 * half, static_cast<unsigned>(frames - half), 3);
      } else {
        std::copy(xf.begin(), xf.end(), outf.begin());
        iir.ProcessFloat(outf.data(), outf.data(), half, 3);
        iir.ProcessFloat(outf.data() + 2 * half, outf.data() + 2 * half, static_cast<unsigned>(frames - half), 0);
      }
      double worst = 0;
      for (size_t i = 0; i < frames * 2; ++i) {
        double v = mode < 2 ? out[i] : outf[i];
        // The float path starts from float input: compare with a tolerance
        // of float rounding.
        worst = std::max(worst, std::fabs(v - y[i]));
      }
      // The Bessel table holds its poles to 7 digits, scipy computes them.
      const double tol = d == 2 ? (mode == 2 ? 3e-6 : 1e-6) : mode == 0 ? 1e-10 : mode == 1 ? 1e-8 : 2e-6;
      EXPECT_LE(worst, tol) << file << " mode " << mode;
      if (mode == 0) std::printf("%s: max |difference| to lfilter %.3g\n", file.c_str(), worst);
    }
    ++checked;
  }
  EXPECT_EQ(checked, 5);
}

TEST(IIR, DesignRules) {
  TestIIR iir;
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 4, 0.5, 1, 0, 1, 0), S_OK);
  ASSERT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 3, 0.1, 1, 0, 2, 0), S_OK);
  // Refused before anything changes.
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 4, 0.5000001, 1, 0, 1, 0), E_INVALIDARG);
  EXPECT_EQ(iir.getNumBiquads(), 2u);
  // A frequency at or below zero, or NaN, would give unstable poles: refused.
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 4, -0.1, 1, 0, 1, 0), E_INVALIDARG);
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_CHEBYSHEV, 4, 0.0, 1, 0, 1, 0), E_INVALIDARG);
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_CHEBYSHEV, 4, std::nan(""), 1, 0, 1, 0), E_INVALIDARG);
  EXPECT_EQ(iir.getNumBiquads(), 2u);
  // Order out of range: refused with the object cleared.
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 16, 0.1, 1, 0, 1, 0), E_INVALIDARG);
  EXPECT_EQ(iir.getNumBiquads(), 0u);
  EXPECT_EQ(iir.getBiquad(0), nullptr);
  EXPECT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_RESONATOR, 2, 0.1, 1, 0, 1, 0), E_INVALIDARG);
  // Order 1: one first-order section; odd orders put it first.
  ASSERT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 1, 0.1, 1, 0, 1, 0), S_OK);
  EXPECT_EQ(iir.getNumBiquads(), 1u);
  EXPECT_EQ(iir.getBiquad(0)->a2, 0.0);
  ASSERT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_CHEBYSHEV, 5, 0.1, 1, 0, 1, 0), S_OK);
  EXPECT_EQ(iir.getNumBiquads(), 3u);
  EXPECT_EQ(iir.getBiquad(0)->a2, 0.0);
  // Bessel 11 has no table rows: an empty cascade with gain 1.
  ASSERT_EQ(iir.Design(KVIIR_LOWPASS, KVIIR_BESSEL, 11, 0.1, 1, 0, 1, 0), S_OK);
  EXPECT_EQ(iir.getNumBiquads(), 0u);
  EXPECT_EQ(iir.getGain(), 1.0);
  // A band whose upper edge passes Nyquist is held below it: finite and stable.
  for (KVIIR_TYPE t : {KVIIR_BANDPASS, KVIIR_BANDSTOP}) {
    ASSERT_EQ(iir.Design(t, KVIIR_BUTTERWORTH, 2, 0.45, 1, 0, 1, 0), S_OK);
    EXPECT_TRUE(std::isfinite(iir.getGain()));
    EXPECT_LT(iir.MaxPoleRadius(), 1.0);
  }
  // Band-stop with +6 dB is a band-pass with -6 dB added to the input.
  ASSERT_EQ(iir.Design(KVIIR_BANDSTOP, KVIIR_BUTTERWORTH, 2, 0.1, 1, 6.0, 1, 0), S_OK);
  EXPECT_EQ(iir.getDry(), 1.0);
  std::complex<double> centre = 1.0 + iir.Response(0.1);  // dry + wet
  EXPECT_NEAR(20 * std::log10(std::abs(centre)), -6.0, 0.05);
  EXPECT_NEAR(std::abs(1.0 + iir.Response(0.001)), 1.0, 1e-3);

  // Resonators: a notch nulls its frequency, a peak passes it with zero phase.
  ASSERT_EQ(iir.Design(KVIIR_BANDSTOP, KVIIR_RESONATOR, 0, 0.1, 5.0, 0, 1, 0), S_OK);
  EXPECT_LT(std::abs(iir.Response(0.1)), 1e-9);
  EXPECT_NEAR(std::abs(iir.Response(0.0)), 1.0, 0.2);
  ASSERT_EQ(iir.Design(KVIIR_BANDPASS, KVIIR_RESONATOR, 0, 0.1, 5.0, 0, 1, 0), S_OK);
  EXPECT_NEAR(std::abs(iir.Response(0.1)), 1.0, 1e-9);
  EXPECT_NEAR(std::arg(iir.Response(0.1)), 0.0, 1e-9);
  EXPECT_LT(std::abs(iir.Response(0.3)), 0.1);
}

TEST(IIR, MasksAndState) {
  TestIIR a;
  ASSERT_EQ(a.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 2, 0.1, 1, 0, 2, 1), S_OK);
  std::vector<double> in(2 * 64, 1.0), out(2 * 64, -7.0);
  // Bit 1 only: channel 0 of out untouched.
  a.ProcessDouble(out.data(), in.data(), 64, 2);
  EXPECT_EQ(out[0], -7.0);
  EXPECT_NE(out[1], -7.0);
  EXPECT_EQ(a.getLastChannelMask(), 2u);
  // Switching to mask 3 resets channel 0 (newly set) before filtering, so
  // channel 0 now starts from rest while channel 1 continues.
  TestIIR fresh;
  ASSERT_EQ(fresh.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 2, 0.1, 1, 0, 2, 1), S_OK);
  std::vector<double> o1(2 * 64), o2(2 * 64);
  a.ProcessDouble(o1.data(), in.data(), 64, 3);
  fresh.ProcessDouble(o2.data(), in.data(), 64, 3);
  EXPECT_EQ(o1[0], o2[0]);
  EXPECT_NE(o1[1], o2[1]);
  // Copies carry the delay elements; SetDelayElementsFrom restores them.
  CKvIIR copy(&a);
  TestIIR b;
  ASSERT_EQ(b.Design(KVIIR_LOWPASS, KVIIR_BUTTERWORTH, 2, 0.1, 1, 0, 2, 1), S_OK);
  b.SetDelayElementsFrom(&a);
  std::vector<double> p1(2 * 8), p2(2 * 8);
  copy.ProcessDouble(p1.data(), in.data(), 8, 3);
  b.ProcessDouble(p2.data(), in.data(), 8, 3);
  EXPECT_EQ(p1, p2);
  a.ResetAll();
  EXPECT_EQ(a.getBiquad(0)->z1[0], 0.0);
}
