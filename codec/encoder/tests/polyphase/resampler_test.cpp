// The converter's front layer (kind choice, argument checks, null handles),
// its block bookkeeping across block joins, and the convolution routines.
// Filter quality is measured by numpy/scipy/sox in resampler_oracle.sh.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "polyphase.h"
#include "resampler.h"

namespace {

std::vector<float> noise(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = d(gen);
  return v;
}

// Feeds `input` through a fresh converter for fixed output blocks of `block`
// samples until `want` output samples exist; returns them. Counts the input
// the converter asked for.
std::vector<float> convertFixedOutput(const std::vector<float>& input, uint32_t fin, uint32_t fout,
                                      int32_t ch, int32_t block, size_t want, size_t* consumed) {
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  EXPECT_EQ(0, CreateResampler(&r, nullptr, fin, fout, ch, block, &need, &outBlock));
  EXPECT_EQ(block, outBlock);
  std::vector<float> out;
  size_t pos = 0;
  while (out.size() < want) {
    if (pos + need > input.size()) break;
    float* o = nullptr;
    int32_t made = -1;
    int32_t next = -1;
    EXPECT_EQ(0, RunResampler(r, need, input.data() + pos, &o, &made, &next));
    EXPECT_EQ(block, made) << "block " << block << " at input " << pos;
    pos += need;
    out.insert(out.end(), o, o + made);
    need = next;
  }
  DeleteResampler(&r);
  if (consumed) *consumed = pos;
  out.resize(std::min(out.size(), want));
  return out;
}

struct RateCase {
  uint32_t fin, fout;
  int32_t ch;
  int32_t expectKind;
};

class ResamplerRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(ResamplerRates, BlockSizeDoesNotChangeTheSampleStream) {
  const RateCase c = GetParam();
  std::vector<float> in = noise(static_cast<size_t>(c.fin) * c.ch / 2, 11);
  const size_t want = static_cast<size_t>(c.fout) * c.ch / 4;
  size_t consumedA = 0, consumedB = 0, consumedC = 0;
  auto a = convertFixedOutput(in, c.fin, c.fout, c.ch, 2048 * c.ch, want, &consumedA);
  auto b = convertFixedOutput(in, c.fin, c.fout, c.ch, 1024 * c.ch, want, &consumedB);
  auto d = convertFixedOutput(in, c.fin, c.fout, c.ch, 960 * c.ch, want, &consumedC);
  ASSERT_EQ(want, a.size());
  ASSERT_EQ(want, b.size());
  ASSERT_EQ(want, d.size());
  for (size_t i = 0; i < want; ++i) {
    ASSERT_EQ(a[i], b[i]) << "sample " << i;
    ASSERT_EQ(a[i], d[i]) << "sample " << i;
  }
}

TEST_P(ResamplerRates, InputAskedForMatchesTheRateRatio) {
  // After k fixed output blocks of B frames, exactly floor((kB - 1) M / L) + 1
  // input frames have been asked for: no frame is dropped or repeated.
  const RateCase c = GetParam();
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  const int32_t frames = 1024;
  ASSERT_EQ(0, CreateResampler(&r, nullptr, c.fin, c.fout, c.ch, frames * c.ch, &need, &outBlock));
  EXPECT_EQ(c.expectKind, ResamplerKind(r));
  int64_t total = 0;
  std::vector<float> in(static_cast<size_t>(4 * frames * c.ch) + 64, 0.25f);
  for (int k = 1; k <= 50; ++k) {
    ASSERT_GE(need, 0);
    ASSERT_LE(static_cast<size_t>(need), in.size());
    total += need / c.ch;
    float* o = nullptr;
    int32_t made = 0;
    ASSERT_EQ(0, RunResampler(r, need, in.data(), &o, &made, &need));
    ASSERT_EQ(frames * c.ch, made);
    int64_t produced = static_cast<int64_t>(k) * frames;
    int64_t expectIn = c.fin == c.fout ? produced : (produced - 1) * c.fin / c.fout + 1;
    ASSERT_EQ(expectIn, total) << "after block " << k;
  }
  DeleteResampler(&r);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerRates,
                         ::testing::Values(RateCase{44100, 22050, 2, 11}, RateCase{48000, 44100, 1, 16},
                                           RateCase{32000, 48000, 2, 16}, RateCase{22050, 44100, 1, 16},
                                           RateCase{8000, 44100, 1, 16}));

TEST(Resampler, FixedInputStructureGivesTheSameStream) {
  const uint32_t fin = 48000, fout = 44100;
  std::vector<float> in = noise(48000, 5);
  size_t consumed = 0;
  auto ref = convertFixedOutput(in, fin, fout, 1, 1024, 40000, &consumed);
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  ASSERT_EQ(0, CreateResamplerFixedInput(&r, nullptr, fin, fout, 1, 1000, &need, &outBlock));
  EXPECT_EQ(12, ResamplerKind(r));
  EXPECT_EQ(1000, need);
  EXPECT_EQ(919, outBlock);  // 1000 * 44100 / 48000 = 918.75, to the nearest
  std::vector<float> out;
  for (size_t pos = 0; pos + 1000 <= in.size(); pos += 1000) {
    float* o = nullptr;
    int32_t made = 0;
    ASSERT_EQ(0, RunResampler(r, need, in.data() + pos, &o, &made, &need));
    ASSERT_EQ(1000, need);
    ASSERT_TRUE(made == 918 || made == 919) << made;
    out.insert(out.end(), o, o + made);
  }
  DeleteResampler(&r);
  ASSERT_GE(out.size(), ref.size());
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(ref[i], out[i]) << i;
}

TEST(Resampler, EqualRatesWithoutTuningPassThrough) {
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  ASSERT_EQ(0, CreateResampler(&r, nullptr, 44100, 44100, 2, 2048, &need, &outBlock));
  EXPECT_EQ(kResamplerPassThrough, ResamplerKind(r));
  EXPECT_EQ(0, GetResamplerDelay(r));
  EXPECT_EQ(2048, need);
  EXPECT_EQ(2048, outBlock);
  std::vector<float> in = noise(2048, 3);
  float* o = nullptr;
  int32_t made = 0;
  ASSERT_EQ(0, RunResampler(r, 2048, in.data(), &o, &made, &need));
  ASSERT_EQ(2048, made);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(in[i], o[i]);
  // A short last block passes through as it is; more than the buffer fails.
  ASSERT_EQ(0, RunResampler(r, 100, in.data(), &o, &made, &need));
  EXPECT_EQ(100, made);
  EXPECT_EQ(1, RunResampler(r, 2050, in.data(), &o, &made, &need));
  EXPECT_EQ(nullptr, o);
  EXPECT_EQ(0, made);
  EXPECT_EQ(0, need);
  DeleteResampler(&r);

  // With a tuning record equal rates still get a (polyphase) filter.
  const float tuning[3] = {15000.0f, 1000.0f, 80.0f};
  ASSERT_EQ(0, CreateResampler(&r, tuning, 44100, 44100, 2, 2048, &need, &outBlock));
  EXPECT_EQ(kResamplerPolyphaseGeneral, ResamplerKind(r));
  EXPECT_GT(GetResamplerDelay(r), 0);
  DeleteResampler(&r);
}

TEST(Resampler, ArgumentChecks) {
  int32_t need = 7, outBlock = 7;
  EXPECT_EQ(2, CreateResampler(nullptr, nullptr, 44100, 22050, 2, 2048, &need, &outBlock));
  EXPECT_EQ(0, need);
  EXPECT_EQ(0, outBlock);

  HANDLE_RESAMPLER r = reinterpret_cast<HANDLE_RESAMPLER>(&need);
  need = outBlock = 7;
  // Block sizes that are not whole frames.
  EXPECT_EQ(1, CreateResampler(&r, nullptr, 44100, 22050, 2, 2047, &need, &outBlock));
  EXPECT_EQ(nullptr, r);
  EXPECT_EQ(0, need);
  EXPECT_EQ(0, outBlock);
  EXPECT_EQ(1, CreateResampler(&r, nullptr, 0, 22050, 2, 2048, &need, &outBlock));
  EXPECT_EQ(1, CreateResampler(&r, nullptr, 44100, 0, 2, 2048, &need, &outBlock));
  EXPECT_EQ(1, CreateResampler(&r, nullptr, 44100, 22050, 0, 2048, &need, &outBlock));
  // A ratio beyond the converter's reach.
  EXPECT_EQ(1, CreateResampler(&r, nullptr, 192000, 4000, 1, 1024, &need, &outBlock));
  EXPECT_EQ(nullptr, r);

  // Null handles.
  EXPECT_EQ(0, GetResamplerDelay(nullptr));
  HANDLE_RESAMPLER none = nullptr;
  EXPECT_EQ(0, DeleteResampler(&none));
  EXPECT_EQ(nullptr, none);
  float* o = reinterpret_cast<float*>(&need);
  int32_t made = 5, next = 5;
  float sample = 0.0f;
  EXPECT_EQ(1, RunResampler(nullptr, 1, &sample, &o, &made, &next));
  EXPECT_EQ(nullptr, o);
  EXPECT_EQ(0, made);
  EXPECT_EQ(0, next);

  // A run with another input count than the one asked for is refused.
  ASSERT_EQ(0, CreateResampler(&r, nullptr, 48000, 44100, 1, 1024, &need, &outBlock));
  std::vector<float> in(4096, 0.0f);
  EXPECT_EQ(1, RunResampler(r, need + 1, in.data(), &o, &made, &next));
  EXPECT_EQ(0, made);
  EXPECT_EQ(0, RunResampler(r, need, in.data(), &o, &made, &next));
  EXPECT_EQ(1024, made);
  DeleteResampler(&r);
}

TEST(Resampler, KindTable) {
  struct Case {
    int32_t kind, quality, result;
  } cases[] = {
      {1, 9, 0},      // accepted, no converter work
      {2, 9, 1},      // the external library is absent
      {3, 5, 0},  {3, 6, 0}, {4, 6, 0}, {3, 7, 1}, {4, 9, 1},
      {1000, 9, 1}, {1007, 9, 1}, {1013, 9, 1},
      {1014, 9, 0},   // accepted, nothing set up
      {10, 9, 0}, {17, 8, 0}, {16, 7, 0}, {16, 80, 0}, {16, 81, 0}, {16, 90, 0}, {16, 91, 0},
      {16, 5, 1},     // unknown quality for the polyphase kinds
  };
  for (const Case& c : cases) {
    HANDLE_RESAMPLER r = nullptr;
    EXPECT_EQ(c.result, ResamplerOpen(&r, nullptr, 48000, 32000, 2, 3072, 2048, c.kind, c.quality))
        << "kind " << c.kind << " quality " << c.quality;
    EXPECT_EQ(c.result == 0, r != nullptr);
    if (r != nullptr && (c.kind < 10 || c.kind > 17)) {
      // Kinds without a converter cannot run.
      float* o = nullptr;
      int32_t made = 0, next = 0;
      float in[4] = {};
      if (c.kind != 0) {
        EXPECT_EQ(1, RunResampler(r, 4, in, &o, &made, &next));
      }
    }
    DeleteResampler(&r);
  }
}

TEST(Resampler, AttenuationZeroMeansNinetyDecibels) {
  HANDLE_RESAMPLER a = nullptr, b = nullptr, c = nullptr;
  ResamplerTuning zero{0.0f, 0.0f, 0.0f, 1.0f, 0};
  ResamplerTuning ninety{90.0f, 0.0f, 0.0f, 1.0f, 0};
  ResamplerTuning sixty{60.0f, 0.0f, 0.0f, 1.0f, 0};
  ASSERT_EQ(0, ResamplerOpen(&a, &zero, 48000, 32000, 1, 1536, 1024, 16, 9));
  ASSERT_EQ(0, ResamplerOpen(&b, &ninety, 48000, 32000, 1, 1536, 1024, 16, 9));
  ASSERT_EQ(0, ResamplerOpen(&c, &sixty, 48000, 32000, 1, 1536, 1024, 16, 9));
  EXPECT_EQ(GetResamplerDelay(a), GetResamplerDelay(b));
  EXPECT_LT(GetResamplerDelay(c), GetResamplerDelay(b));
  DeleteResampler(&a);
  DeleteResampler(&b);
  DeleteResampler(&c);
}

TEST(Polyphase, DesignFacts) {
  // 2:1 with the defaults: L = 1, M = 2; delay is half the prototype.
  PolyphaseConverter* p = nullptr;
  ASSERT_EQ(nullptr, polyphaseCreate(&p, 44100, 22050, 2, 4098, 2048, 0, 1, 9, nullptr));
  PolyphaseDesign d{};
  polyphaseGetDesign(p, &d);
  EXPECT_EQ(1, d.up);
  EXPECT_EQ(2, d.down);
  EXPECT_LE(d.stopEdge, 11025.0 + 1e-9);
  EXPECT_DOUBLE_EQ(0.5 * (d.length - 1) / 2, polyphaseDelay(p));
  EXPECT_EQ(2, polyphaseStructure(p));
  // The length formula: (A - 7.95) / (df * 23.8376) + 1, truncated.
  double width = (d.stopEdge - d.passEdge) / 1.66;
  EXPECT_EQ(static_cast<int32_t>((90 - 7.95) / (width / 44100.0 * 23.837599520683288) + 1), d.length);
  polyphaseDelete(p);

  // Above 140 dB the window keeps the linear beta rule.
  EXPECT_NEAR(0.1102 * (150 - 8.7), polyphaseKaiserBeta(150), 1e-5);
  EXPECT_EQ(0.0f, polyphaseKaiserBeta(20));
  EXPECT_DOUBLE_EQ(polyphaseKaiserLength(90, 0.01, true) + 1, polyphaseKaiserLength(90, 0.01, false) +
                   (polyphaseKaiserLength(90, 0.01, true) + 1 - std::trunc(polyphaseKaiserLength(90, 0.01, true) + 1)));

  // Errors carry the converter's messages.
  CodecError* e = polyphaseCreate(&p, 0, 22050, 1, 4096, 2048, 0, 6, 9, nullptr);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("Invalid input frequencies !", e->message);
  deleteError(e);
  e = polyphaseCreate(&p, 44100, 22050, 1, 4096, 2048, 0, 6, 42, nullptr);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("Unknown mode !", e->message);
  deleteError(e);
  e = polyphaseCreate(&p, 44100, 44099, 1, 4096, 2048, 0, 6, 9, nullptr);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("sampling rate conversion ratio too large !", e->message);
  deleteError(e);
  e = polyphaseCreate(&p, 44100, 22050, 2, 4096, 2047, 0, 6, 9, nullptr);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("output block size inconsistent", e->message);
  deleteError(e);
  e = polyphaseCreate(&p, 44100, 22050, 2, 4096, 0, 0, 6, 8, nullptr);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("input block size inconsistent", e->message);
  deleteError(e);
  PolyphaseTuning narrow{140.0f, 0.0f, 0.0001f, 1.0f, 0};
  e = polyphaseCreate(&p, 48000, 44100, 1, 4096, 1024, 0, 6, 9, &narrow);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("Filter length too large !", e->message);
  deleteError(e);
  EXPECT_EQ(nullptr, p);
}

TEST(Polyphase, SseConvolutionMatchesPlain) {
  for (int32_t n : {1, 7, 8, 9, 31, 64, 257}) {
    auto a = noise(n, 100 + n);
    auto b = noise(n, 200 + n);
    float plain = polyphaseConvolvePlain(a.data(), b.data(), n);
    float sse = polyphaseConvolveSse(a.data(), b.data(), n);
    double mag = 0;
    for (int32_t i = 0; i < n; ++i) mag += std::fabs(a[i] * b[i]);
    EXPECT_NEAR(plain, sse, 1e-6 * mag + 1e-7) << "n " << n;
  }
}

// The SSE routine behind a different pointer: the converter then takes each
// output and channel on its own instead of sharing coefficient loads.
float sseOneAtATime(const float* c, const float* x, int32_t n) { return polyphaseConvolveSse(c, x, n); }

// Runs `blocks` fixed output blocks through a converter whose convolution
// routine is `fn`, installed after creation (creation installs its own).
std::vector<float> runWith(PolyphaseConvolveFn fn, const std::vector<float>& input, uint32_t fin,
                           uint32_t fout, int32_t ch, int32_t block, int32_t blocks) {
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  EXPECT_EQ(0, CreateResampler(&r, nullptr, fin, fout, ch, block, &need, &outBlock));
  polyphaseConvolve = fn;
  std::vector<float> out;
  size_t pos = 0;
  for (int32_t b = 0; b < blocks && pos + need <= input.size(); ++b) {
    float* o = nullptr;
    int32_t made = 0, next = 0;
    EXPECT_EQ(0, RunResampler(r, need, input.data() + pos, &o, &made, &next));
    out.insert(out.end(), o, o + made);
    pos += need;
    need = next;
  }
  DeleteResampler(&r);
  polyphaseInitConvolve();
  return out;
}

// Sharing each coefficient load across channels (and across neighbouring
// outputs when only decimating) must give every sample exactly as the
// one-output routine does: any slip in which samples an output reads, or in
// the order of its sums, shows as a bit difference.
TEST(Polyphase, SharedCoefficientsGiveTheSameSamples) {
  struct Case {
    uint32_t fin, fout;
    int32_t ch, blockFrames;
  };
  const Case cases[] = {
      {44100, 22050, 1, 1024}, {44100, 22050, 2, 1024}, {44100, 22050, 2, 333}, {44100, 22050, 3, 1023},
      {48000, 16000, 5, 511},  {96000, 32000, 2, 1024}, {48000, 44100, 2, 1024}, {44100, 48000, 3, 777},
      {32000, 24000, 1, 1001},
  };
  polyphaseInitConvolve();
  if (polyphaseConvolve != polyphaseConvolveSse) GTEST_SKIP() << "no SSE";
  for (const Case& k : cases) {
    auto input = noise(static_cast<size_t>(k.ch) * 40000, k.fin + k.ch);
    auto shared = runWith(polyphaseConvolveSse, input, k.fin, k.fout, k.ch, k.blockFrames * k.ch, 12);
    auto single = runWith(sseOneAtATime, input, k.fin, k.fout, k.ch, k.blockFrames * k.ch, 12);
    ASSERT_EQ(single.size(), shared.size()) << k.fin << "->" << k.fout << " ch " << k.ch;
    ASSERT_GT(shared.size(), 0u);
    size_t diff = 0;
    for (size_t i = 0; i < shared.size(); ++i) diff += std::memcmp(&shared[i], &single[i], sizeof(float)) != 0;
    EXPECT_EQ(0u, diff) << k.fin << "->" << k.fout << " ch " << k.ch << " block " << k.blockFrames;
  }
}

}  // namespace
