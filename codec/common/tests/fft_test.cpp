// FFTs and DCT-IV/DST-IV against numpy/scipy references made at test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "cfftn.h"
#include "fixedfft.h"
#include "nyx_dct.h"
#include "nyx_fft.h"
#include "testdata.h"
#include "vog_tools.h"

using codectest::readArray;

namespace {

constexpr double kRelTol = 1e-5;

// Largest error relative to the largest reference magnitude.
double relativeError(const std::vector<float>& got, const std::vector<double>& ref) {
  double maxRef = 0.0, maxErr = 0.0;
  for (size_t i = 0; i < ref.size(); ++i) {
    maxRef = std::max(maxRef, std::fabs(ref[i]));
    maxErr = std::max(maxErr, std::fabs(static_cast<double>(got[i]) - ref[i]));
  }
  return maxRef > 0 ? maxErr / maxRef : maxErr;
}

#define REQUIRE_FIXTURE(name)                                                      \
  do {                                                                             \
    if (!codectest::fixtureExists(name)) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing: " << name; \
  } while (0)

}  // namespace

TEST(FixedSizeFft, MatchesNumpyForEveryLength) {
  for (int n : {4, 8, 16, 32, 240, 480}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    auto in = readArray<float>("fft/fixed_" + std::to_string(n) + "_in.f32");
    auto ref = readArray<double>("fft/fixed_" + std::to_string(n) + "_out.f64");
    ASSERT_EQ(in.size(), 2u * n);
    ASSERT_EQ(ref.size(), 2u * n);
    fixedSizeFft(in.data(), n);
    EXPECT_LE(relativeError(in, ref), kRelTol);
  }
}

TEST(FixedSizeFft, OtherLengthsLeaveDataUnchanged) {
  for (int n : {12, 64}) {
    auto in = readArray<float>("fft/fixed_" + std::to_string(n) + "_in.f32");
    ASSERT_EQ(in.size(), 2u * n);
    auto before = in;
    fixedSizeFft(in.data(), n);
    EXPECT_EQ(in, before) << "n = " << n;
  }
}

TEST(FixedSizeFft, ImpulsesGiveOnesAndRotations) {
  std::vector<float> d(480, 0.0f);
  d[0] = 1.0f;
  fft240(d.data());
  for (int k = 0; k < 240; ++k) {
    EXPECT_NEAR(d[2 * k], 1.0f, 1e-6);
    EXPECT_NEAR(d[2 * k + 1], 0.0f, 1e-6);
  }
  std::fill(d.begin(), d.end(), 0.0f);
  d[2] = 1.0f;  // impulse at index 1
  fft240(d.data());
  for (int k = 0; k < 240; ++k) {
    double a = -2.0 * 3.14159265358979323846 * k / 240;
    EXPECT_NEAR(d[2 * k], std::cos(a), 1e-6) << k;
    EXPECT_NEAR(d[2 * k + 1], std::sin(a), 1e-6) << k;
  }
}

// Every length up to 512: the accepted ones transform like numpy in both
// directions and through both entry points; the refused ones return 0 and
// leave the data alone.
TEST(Cfftn, EveryLengthUpTo512MatchesNumpyOrIsRefused) {
  std::string accepts = codectest::readText("fft/cfftn_accepts.txt");
  if (accepts.empty()) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
  std::istringstream lines(accepts);
  int n, ok, accepted = 0, refused = 0;
  while (lines >> n >> ok) {
    SCOPED_TRACE("n = " + std::to_string(n));
    if (n == 0) {
      float dummy[2] = {1, 2};
      EXPECT_EQ(cfftnInterleaved(dummy, 0, -1), 0);
      continue;
    }
    auto in = readArray<float>("fft/cfftn_" + std::to_string(n) + "_in.f32");
    ASSERT_EQ(in.size(), 2u * n);
    auto fwdRef = readArray<double>("fft/cfftn_" + std::to_string(n) + "_fwd.f64");
    auto invRef = readArray<double>("fft/cfftn_" + std::to_string(n) + "_inv.f64");
    auto data = in;
    int r = cfftnInterleaved(data.data(), n, -1);
    if (!ok) {
      ++refused;
      EXPECT_EQ(r, 0);
      EXPECT_EQ(data, in) << "a refused length must leave the data untouched";
      continue;
    }
    ++accepted;
    ASSERT_EQ(r, 1);
    EXPECT_LE(relativeError(data, fwdRef), kRelTol);
    data = in;
    ASSERT_EQ(cfftnInterleaved(data.data(), n, 1), 1);
    EXPECT_LE(relativeError(data, invRef), kRelTol);
    // Split arrays through cfftnCopy give the same transform.
    std::vector<float> re(n), im(n), ore(n), oim(n), joined(2 * n);
    for (int i = 0; i < n; ++i) {
      re[i] = in[2 * i];
      im[i] = in[2 * i + 1];
    }
    ASSERT_EQ(cfftnCopy(re.data(), im.data(), ore.data(), oim.data(), n, -1), 1);
    for (int i = 0; i < n; ++i) {
      joined[2 * i] = ore[i];
      joined[2 * i + 1] = oim[i];
    }
    EXPECT_LE(relativeError(joined, fwdRef), kRelTol);
  }
  EXPECT_EQ(accepted + refused, 512);
  EXPECT_GT(refused, 0);
}

TEST(Cfftn, LargePowersOfTwo) {
  for (int n : {1024, 4096}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    auto in = readArray<float>("fft/cfftn_" + std::to_string(n) + "_in.f32");
    auto ref = readArray<double>("fft/cfftn_" + std::to_string(n) + "_fwd.f64");
    if (in.empty()) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
    ASSERT_EQ(cfftnInterleaved(in.data(), n, -1), 1);
    EXPECT_LE(relativeError(in, ref), kRelTol);
  }
  int32_t f[32], squares = 0;
  ASSERT_EQ(cfftnFactor(4096, f, &squares), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(f[i], 4);
}

TEST(Cfftn, FactorListsAndRefusals) {
  struct Case {
    int n;
    std::vector<int32_t> factors;
  } cases[] = {{8, {2, 2, 2}}, {32, {4, 2, 4}}, {12, {2, 3, 2}}, {480, {4, 2, 3, 5, 4}},
               {60, {2, 3, 5, 2}}, {64, {4, 4, 4}}, {7, {7}}};
  for (const Case& c : cases) {
    int32_t f[32], squares;
    int m = cfftnFactor(c.n, f, &squares);
    EXPECT_EQ(std::vector<int32_t>(f, f + m), c.factors) << "n = " << c.n;
  }
  // 1: too short; 58 = 2 x 29: odd factor above 23; 2 x 3 x 5 x 11 = 330:
  // square-free product above 210.
  for (int n : {1, 58, 330, 2 * 3 * 5 * 7 * 11}) {
    std::vector<float> d(2 * n, 0.5f);
    auto before = d;
    EXPECT_EQ(cfftnInterleaved(d.data(), n, -1), 0) << n;
    EXPECT_EQ(d, before) << n;
  }
  // Huge lengths are refused before any element is touched (and quickly):
  // 2^31 - 1 is prime, 2^30 needs 15 factors.
  float small[4] = {1, 2, 3, 4};
  EXPECT_EQ(cfftnInterleaved(small, 2147483647, -1), 0);
  EXPECT_EQ(cfftnInterleaved(small, 1 << 30, -1), 0);
  EXPECT_EQ(cfftnInterleaved(small, 2 * 1073741789, -1), 0);  // 2 x a large prime
  EXPECT_EQ(small[0], 1.0f);
}

// Several transforms in one call: total = 3 * span with span = n.
TEST(Cfftn, SeveralSequencesInOneCall) {
  const int n = 12;
  std::vector<float> re(3 * n), im(3 * n);
  for (int i = 0; i < 3 * n; ++i) {
    re[i] = std::sin(0.37f * i);
    im[i] = std::cos(0.11f * i * i);
  }
  auto re1 = re, im1 = im;
  ASSERT_EQ(cfftnRadix(im.data(), re.data(), 3 * n, n, n, -1), 1);
  for (int b = 0; b < 3; ++b) {
    ASSERT_EQ(cfftnSplit(re1.data() + b * n, im1.data() + b * n, n, -1), 1);
  }
  for (int i = 0; i < 3 * n; ++i) {
    EXPECT_FLOAT_EQ(re[i], re1[i]);
    EXPECT_FLOAT_EQ(im[i], im1[i]);
  }
  // Three sequences interleaved element by element: span = total = 3n, so
  // the elements of each sequence lie 3 apart.
  std::vector<float> re2(3 * n), im2(3 * n);
  for (int i = 0; i < 3 * n; ++i) {
    re2[i] = std::sin(0.29f * i);
    im2[i] = std::cos(0.07f * i * i);
  }
  std::vector<float> seqRe[3], seqIm[3];
  for (int b = 0; b < 3; ++b) {
    for (int i = 0; i < n; ++i) {
      seqRe[b].push_back(re2[3 * i + b]);
      seqIm[b].push_back(im2[3 * i + b]);
    }
    ASSERT_EQ(cfftnSplit(seqRe[b].data(), seqIm[b].data(), n, 1), 1);
  }
  ASSERT_EQ(cfftnRadix(im2.data(), re2.data(), 3 * n, n, 3 * n, 1), 1);
  for (int b = 0; b < 3; ++b) {
    for (int i = 0; i < n; ++i) {
      EXPECT_FLOAT_EQ(re2[3 * i + b], seqRe[b][i]) << b << " " << i;
      EXPECT_FLOAT_EQ(im2[3 * i + b], seqIm[b][i]) << b << " " << i;
    }
  }
  // Inconsistent geometry is refused.
  EXPECT_EQ(cfftnRadix(im2.data(), re2.data(), 3 * n, n, 2 * n + 1, 1), 0);
  EXPECT_EQ(cfftnRadix(im2.data(), re2.data(), 3 * n, n, n, 0), 0);
  // Inverse after forward gives n times the input.
  std::vector<float> d(2 * n);
  for (int i = 0; i < 2 * n; ++i) d[i] = 0.25f * i - 1.0f;
  auto orig = d;
  cfftnInterleaved(d.data(), n, 1);
  cfftnInterleaved(d.data(), n, -1);
  for (int i = 0; i < 2 * n; ++i) EXPECT_NEAR(d[i], n * orig[i], 1e-4);
}

TEST(Rfftn, ForwardMatchesNumpyAndInverseRoundTrips) {
  for (int n : {2, 4, 6, 8, 30, 60, 64, 90, 240, 256, 210, 512, 960, 1024, 2048}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    auto in = readArray<float>("fft/rfftn_" + std::to_string(n) + "_in.f32");
    auto ref = readArray<double>("fft/rfftn_" + std::to_string(n) + "_out.f64");
    if (in.empty()) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
    float* table = rfftnCreateTable(n);
    ASSERT_NE(table, nullptr);
    auto data = in;
    EXPECT_EQ(rfftn(data.data(), table, n, -1), 1);
    EXPECT_LE(relativeError(data, ref), kRelTol);
    EXPECT_EQ(rfftn(data.data(), table, n, 1), 1);
    std::vector<double> inD(in.begin(), in.end());
    EXPECT_LE(relativeError(data, inD), kRelTol);
    rfftnDeleteTable(table);
  }
}

TEST(Rfftn, RefusesOddLengthsAndBadDirections) {
  float* table = rfftnCreateTable(16);
  std::vector<float> d(16, 1.0f);
  auto before = d;
  EXPECT_EQ(rfftn(d.data(), table, 15, -1), 0);
  EXPECT_EQ(rfftn(d.data(), table, 16, 0), 0);
  EXPECT_EQ(rfftn(d.data(), table, 16, 2), 0);
  EXPECT_EQ(d, before);
  rfftnDeleteTable(table);
  // 510 = 2 x 255: the inner 255-point transform is refused (square-free
  // product 255), in both directions, without touching the data.
  table = rfftnCreateTable(510);
  std::vector<float> e(510, 0.25f);
  auto eBefore = e;
  EXPECT_EQ(rfftn(e.data(), table, 510, -1), 0);
  EXPECT_EQ(rfftn(e.data(), table, 510, 1), 0);
  EXPECT_EQ(e, eBefore);
  rfftnDeleteTable(table);
  rfftnDeleteTable(nullptr);
}

TEST(Dct, DctIvAndDstIvMatchScipy) {
  for (int n : {120, 128, 240, 256, 960, 1024, 1920, 2048}) {
    SCOPED_TRACE("N = " + std::to_string(n));
    auto in = readArray<float>("fft/dct_" + std::to_string(n) + "_in.f32");
    auto dctRef = readArray<double>("fft/dct4_" + std::to_string(n) + ".f64");
    auto dstRef = readArray<double>("fft/dst4_" + std::to_string(n) + ".f64");
    if (in.empty()) VOG_TOOL_MISSING("numpy/scipy") << "fixture missing";
    DctHandle* h = nullptr;
    ASSERT_EQ(createDct(&h, n), 0);
    ASSERT_NE(h, nullptr);
    std::vector<float> out(n);
    ASSERT_EQ(runDct(h, in.data(), out.data()), 0);
    EXPECT_LE(relativeError(out, dctRef), kRelTol);
    ASSERT_EQ(runDst(h, in.data(), out.data()), 0);
    EXPECT_LE(relativeError(out, dstRef), kRelTol);
    // In place, and twice gives N/2 times the input.
    auto data = in;
    ASSERT_EQ(runDct(h, data.data(), data.data()), 0);
    EXPECT_LE(relativeError(data, dctRef), kRelTol);
    ASSERT_EQ(runDct(h, data.data(), data.data()), 0);
    std::vector<double> scaled(n);
    for (int i = 0; i < n; ++i) scaled[i] = in[i] * (n / 2.0);
    EXPECT_LE(relativeError(data, scaled), kRelTol);
    EXPECT_EQ(deleteDct(&h), 0);
    EXPECT_EQ(h, nullptr);
  }
}

TEST(Dct, ImpulseResponsesAndArguments) {
  const int n = 64;
  DctHandle* h = nullptr;
  ASSERT_EQ(createDct(&h, n), 0);
  EXPECT_EQ(h->fft->n, n / 2);
  std::vector<float> x(n, 0.0f), y(n);
  x[0] = 1.0f;
  runDct(h, x.data(), y.data());
  const double pi = 3.14159265358979323846;
  for (int k = 0; k < n; ++k) EXPECT_NEAR(y[k], std::cos(pi * (k + 0.5) / (2 * n)), 1e-6);
  runDst(h, x.data(), y.data());
  for (int k = 0; k < n; ++k) EXPECT_NEAR(y[k], std::sin(pi * (k + 0.5) / (2 * n)), 1e-6);
  deleteDct(&h);
  deleteDct(&h);  // a cleared handle is ignored
  deleteDct(nullptr);

  DctHandle* keep = reinterpret_cast<DctHandle*>(&x);
  EXPECT_EQ(createDct(&keep, 7), 1);
  EXPECT_EQ(keep, reinterpret_cast<DctHandle*>(&x)) << "odd N leaves the handle as it was";
  EXPECT_EQ(runDct(nullptr, x.data(), y.data()), 1);
}

TEST(FftFrontEnd, HandlesAndArguments) {
  CplxFft* c = reinterpret_cast<CplxFft*>(1);
  EXPECT_EQ(createCplxFft(&c, 16, 0), 1);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(createCplxFft(&c, 16, 2), 1);
  EXPECT_EQ(c, nullptr);
  ASSERT_EQ(createCplxFft(&c, 16, -1), 0);
  std::vector<float> re(16, 1.0f), im(16, 0.0f), ore(16), oim(16);
  EXPECT_EQ(runCplxFft(c, re.data(), im.data(), ore.data(), oim.data()), 0);
  EXPECT_FLOAT_EQ(ore[0], 16.0f);
  EXPECT_EQ(runCplxFft(nullptr, re.data(), im.data(), ore.data(), oim.data()), 1);
  EXPECT_EQ(deleteCplxFft(&c), 0);
  EXPECT_EQ(c, nullptr);

  RealFft* r = nullptr;
  EXPECT_EQ(createRealFft(&r, 15, -1), 1);
  EXPECT_EQ(r, nullptr);
  ASSERT_EQ(createRealFft(&r, 16, -1), 0);
  std::vector<float> x(16);
  for (int i = 0; i < 16; ++i) x[i] = static_cast<float>(i % 3);
  std::vector<float> copy(16);
  EXPECT_EQ(runRealFft(r, x.data(), copy.data()), 0);
  EXPECT_EQ(runRealFft(r, x.data(), x.data()), 0);  // in place: no copy
  EXPECT_EQ(x, copy);
  EXPECT_EQ(deleteRealFft(&r), 0);
  EXPECT_EQ(r, nullptr);
}
