// The sample-rate converter: block-joined linear output against numpy.interp
// (float kernel) and Python fractions (exact integer kernel) for several rate
// pairs and block sizes; sine quality (SNR against an ideal sine, amplitude,
// length) for the linear, filtered and windowed-sinc modes, with sox's
// "rate -v" measured the same way for comparison; and the bookkeeping rules.
#include <gtest/gtest.h>

#include <cmath>

#include "audio_test_util.h"
#include "kvresample.h"
#include "vog_tools.h"

using namespace kvtest;

namespace {

const double kPi = 3.14159265358979323846;

// Least-squares fit of a sin + b cos + c at a known frequency; returns the
// SNR in dB and the fitted amplitude. Edge frames are skipped.
void SineFit(const std::vector<double>& y, double rate, double freq, size_t skip, double* snr, double* amp) {
  double S[3][3] = {}, R[3] = {};
  size_t n = y.size();
  for (size_t i = skip; i + skip < n; ++i) {
    double w = 2 * kPi * freq * static_cast<double>(i) / rate;
    double v[3] = {std::sin(w), std::cos(w), 1.0};
    for (int a = 0; a < 3; ++a) {
      R[a] += v[a] * y[i];
      for (int b = 0; b < 3; ++b) S[a][b] += v[a] * v[b];
    }
  }
  // Solve the 3x3 system (Cramer).
  auto det = [](double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  double d = det(S), c[3];
  for (int k = 0; k < 3; ++k) {
    double M[3][3];
    std::memcpy(M, S, sizeof M);
    for (int a = 0; a < 3; ++a) M[a][k] = R[a];
    c[k] = det(M) / d;
  }
  double pf = 0, pr = 0;
  for (size_t i = skip; i + skip < n; ++i) {
    double w = 2 * kPi * freq * static_cast<double>(i) / rate;
    double fit = c[0] * std::sin(w) + c[1] * std::cos(w) + c[2];
    pf += fit * fit;
    pr += (y[i] - fit) * (y[i] - fit);
  }
  *snr = 10 * std::log10(pf / pr);
  *amp = std::hypot(c[0], c[1]);
}

template <class T>
std::vector<T> Load(const std::string& name) {
  std::vector<T> v;
  if (!vogtest::ReadArray(FixturePath("audio/resample/" + name), v)) return {};
  return v;
}

// Runs the converter over the input in blocks; returns the joined output.
template <class T>
std::vector<T> RunBlocks(KVSAMPLETYPE type, int ch, int sr, int dr, DWORD flags, const std::vector<T>& in,
                         size_t block, int64_t* srcPos = nullptr, int64_t* dstPos = nullptr) {
  tKVRESAMPLEINSTANCE* rs = nullptr;
  EXPECT_EQ(KvAudio_ResampleOpen(&rs, type, sr, dr, ch, flags), S_OK);
  std::vector<T> out;
  const size_t frames = in.size() / ch;
  std::vector<T> buf;
  for (size_t at = 0; at < frames; at += block) {
    size_t n = std::min(block, frames - at);
    size_t cap = static_cast<size_t>(std::ceil(n * static_cast<double>(dr) / sr)) + 2;
    buf.assign(cap * ch + 1, T(123));
    int64_t got = KvAudio_ResampleEx(rs, buf.data(), in.data() + at * ch, static_cast<int32_t>(n));
    EXPECT_LE(static_cast<size_t>(got), cap - 1) << "more frames than the bound";
    out.insert(out.end(), buf.begin(), buf.begin() + got * ch);
  }
  if (srcPos) *srcPos = KvAudio_ResampleGetSrcPos(rs);
  if (dstPos) *dstPos = KvAudio_ResampleGetDstPos(rs);
  KvAudio_ResampleClose(rs);
  return out;
}

}  // namespace

TEST(Resample, LinearJoinsMatchNumpyInterp) {
  std::vector<double> in = Load<double>("lin_in.raw");
  if (in.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  const int pairs[][2] = {{44100, 48000}, {22050, 48000}, {8000, 44100}, {48000, 44100}, {96000, 44100}, {48000, 22050}};
  for (auto& p : pairs) {
    std::vector<double> want = Load<double>("lin_" + std::to_string(p[0]) + "_" + std::to_string(p[1]) + ".raw");
    ASSERT_FALSE(want.empty());
    for (size_t block : {size_t(333), size_t(1024), size_t(4096), in.size()}) {
      int64_t sp = 0, dp = 0;
      std::vector<double> got = RunBlocks<double>(KVST_DOUBLE, 1, p[0], p[1], 2, in, block, &sp, &dp);
      ASSERT_EQ(got.size(), want.size()) << p[0] << "->" << p[1] << " block " << block;
      double worst = 0;
      for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(got[i] - want[i]));
      // Positions accumulate in double precision over many blocks.
      EXPECT_LE(worst, 1e-11) << p[0] << "->" << p[1] << " block " << block;
      EXPECT_EQ(sp, static_cast<int64_t>(in.size()));
      EXPECT_EQ(dp, static_cast<int64_t>(got.size()));
    }
    // Float data, stereo (both channels the same signal).
    std::vector<float> st(in.size() * 2);
    for (size_t i = 0; i < in.size(); ++i) st[2 * i] = st[2 * i + 1] = static_cast<float>(in[i]);
    std::vector<float> got = RunBlocks<float>(KVST_FLOAT, 2, p[0], p[1], 2, st, 1024);
    ASSERT_EQ(got.size(), want.size() * 2);
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_NEAR(got[2 * i], want[i], 1e-6) << i;
      ASSERT_EQ(got[2 * i], got[2 * i + 1]);
    }
  }
}

TEST(Resample, IntegerKernelIsExact) {
  std::vector<int16_t> in = Load<int16_t>("int_in.raw");
  if (in.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {96000, 44100}, {8000, 44100}};
  for (auto& p : pairs) {
    std::vector<int16_t> want = Load<int16_t>("int_" + std::to_string(p[0]) + "_" + std::to_string(p[1]) + ".raw");
    for (size_t block : {size_t(100), size_t(1024), in.size() / 2}) {
      // Flags 2 as the render road opens it (the quality is ignored for integers).
      std::vector<int16_t> got = RunBlocks<int16_t>(KVST_S16, 2, p[0], p[1], 0x22, in, block);
      ASSERT_EQ(got.size(), want.size()) << p[0] << "->" << p[1] << " block " << block;
      for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << p[0] << "->" << p[1] << " block " << block << " sample " << i;
    }
  }
}

TEST(Resample, SineQualityAndLength) {
  struct Case {
    int sr, dr;
    DWORD flags;
    const char* name;
    double minSnr;
  } cases[] = {
      {44100, 48000, 2, "linear", 55},       {48000, 22050, 2, "linear", 50},      {48000, 44100, 2, "linear", 55},
      {96000, 48000, 2, "linear", 55},       {44100, 48000, 0x32, "linear+filter", 50}, {48000, 22050, 0x32, "linear+filter", 45},
      {44100, 48000, 3, "windowed sinc", 90}, {48000, 22050, 3, "windowed sinc", 90}, {48000, 44100, 3, "windowed sinc", 90},
      {96000, 48000, 3, "windowed sinc", 90},
  };
  for (const Case& c : cases) {
    std::vector<float> in = Load<float>("sine1k_" + std::to_string(c.sr) + ".raw");
    if (in.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
    std::vector<float> out = RunBlocks<float>(KVST_FLOAT, 1, c.sr, c.dr, c.flags, in, 1024);
    std::vector<double> y(out.begin(), out.end());
    double snr, amp;
    SineFit(y, c.dr, 1000.0, 300, &snr, &amp);
    const int64_t linearLength = static_cast<int64_t>(std::floor((in.size() - 1) * static_cast<double>(c.dr) / c.sr)) + 1;
    std::printf("%-14s %5d -> %5d: %zu frames (linear rule %lld), SNR %.1f dB, amplitude %.5f\n", c.name, c.sr, c.dr,
                out.size(), static_cast<long long>(linearLength), snr, amp);
    EXPECT_GE(snr, c.minSnr) << c.name << " " << c.sr << "->" << c.dr;
    EXPECT_NEAR(amp, 0.5, c.flags == 0x32 ? 0.04 : 0.01);
    if ((c.flags & 0xF) == 2) {
      EXPECT_EQ(static_cast<int64_t>(out.size()), linearLength);
    }
    // The windowed sinc produces one frame per destination position that has
    // 12 source frames after it.
    if ((c.flags & 0xF) == 3) {
      EXPECT_NEAR(static_cast<double>(out.size()), linearLength - 12.0 * c.dr / c.sr, 2.0);
    }
    if (c.flags == 2) {
      std::vector<float> sx = Load<float>("sox_" + std::to_string(c.sr) + "_" + std::to_string(c.dr) + ".raw");
      if (!sx.empty()) {
        std::vector<double> z(sx.begin(), sx.end());
        double ssnr, samp;
        SineFit(z, c.dr, 1000.0, 300, &ssnr, &samp);
        std::printf("%-14s %5d -> %5d: %zu frames, SNR %.1f dB, amplitude %.5f\n", "sox rate -v", c.sr, c.dr, sx.size(),
                    ssnr, samp);
      }
    }
  }
}

TEST(Resample, Bookkeeping) {
  // Ratio exactly 1 copies every frame and advances both positions.
  tKVRESAMPLEINSTANCE* rs = nullptr;
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_S16, 44100, 44100, 2, 2), S_OK);
  std::vector<int16_t> in(200), out(200);
  for (int i = 0; i < 200; ++i) in[i] = static_cast<int16_t>(i * 7);
  EXPECT_EQ(KvAudio_ResampleEx(rs, out.data(), in.data(), 100), 100);
  EXPECT_EQ(out, in);
  EXPECT_EQ(KvAudio_ResampleGetSrcPos(rs), 100);
  EXPECT_EQ(KvAudio_ResampleGetDstPos(rs), 100);
  KvAudio_ResampleClose(rs);

  // Mode 5 produces nothing; bad arguments are refused.
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 44100, 48000, 1, 5), S_OK);
  EXPECT_EQ(KvAudio_ResampleEx(rs, out.data(), in.data(), 10), 0);
  KvAudio_ResampleClose(rs);
  EXPECT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 44100, 48000, 33, 2), E_INVALIDARG);
  EXPECT_EQ(rs, nullptr);
  EXPECT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 0, 48000, 2, 2), E_INVALIDARG);
  EXPECT_EQ(KvAudio_ResampleOpen(&rs, KVST_FE03_16, 44100, 48000, 2, 2), E_INVALIDARG);

  // GetSrcFromDst(0) with phase 0: 0 decimating, 1 interpolating.
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 48000, 44100, 1, 2), S_OK);
  EXPECT_EQ(KvAudio_ResampleGetSrcFromDst(rs, 0), 0);
  KvAudio_ResampleClose(rs);
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 44100, 48000, 1, 2), S_OK);
  EXPECT_EQ(KvAudio_ResampleGetSrcFromDst(rs, 0), 1);
  KvAudio_ResampleClose(rs);

  // Three-channel float decimation with the filter writes every channel of
  // every frame, and filters all three alike.
  std::vector<float> f3(3 * 480), o3(3 * 480, -9.0f);
  for (int i = 0; i < 480; ++i)
    for (int c = 0; c < 3; ++c) f3[3 * i + c] = static_cast<float>(std::sin(0.05 * i));
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 48000, 22050, 3, 0x22), S_OK);
  int64_t n = KvAudio_ResampleEx(rs, o3.data(), f3.data(), 480);
  KvAudio_ResampleClose(rs);
  ASSERT_GT(n, 0);
  for (int64_t i = 0; i < n; ++i) {
    EXPECT_NE(o3[3 * i + 2], -9.0f);
    EXPECT_EQ(o3[3 * i], o3[3 * i + 2]) << i;
  }

  // Count-is-destination: exactly the wanted frames, the look-ahead frame is
  // consumed by the next call, and the joined output equals the plain mode's.
  std::vector<double> sig(5000);
  for (int i = 0; i < 5000; ++i) sig[i] = std::sin(0.01 * i) + 0.1 * std::cos(0.37 * i);
  std::vector<double> plain = RunBlocks<double>(KVST_DOUBLE, 1, 44100, 48000, 2, sig, 5000);
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_DOUBLE, 44100, 48000, 1, 0x1002), S_OK);
  std::vector<double> joined, buf(600);
  int64_t at = 0;
  while (true) {
    int64_t need = KvAudio_ResampleGetSrcFromDst(rs, 500);
    if (at + need > 5000) break;
    int64_t before = KvAudio_ResampleGetSrcPos(rs);
    ASSERT_EQ(KvAudio_ResampleEx(rs, buf.data(), sig.data() + at, 500), 500);
    at += KvAudio_ResampleGetSrcPos(rs) - before;
    joined.insert(joined.end(), buf.begin(), buf.begin() + 500);
  }
  KvAudio_ResampleClose(rs);
  ASSERT_GT(joined.size(), 3000u);
  for (size_t i = 0; i < joined.size(); ++i) ASSERT_NEAR(joined[i], plain[i], 1e-12) << i;

  // One-shot: exactly dstCount frames, none left unwritten.
  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 44100, KVST_FLOAT, 1);
  std::vector<float> src(1000), dst(1100, -5.0f);
  for (int i = 0; i < 1000; ++i) src[i] = static_cast<float>(std::sin(0.02 * i));
  EXPECT_EQ(KvAudio_Resample(&w, dst.data(), 1100, src.data(), 1000), S_OK);
  for (float v : dst) EXPECT_NE(v, -5.0f);

  // In place: decimating and interpolating give what separate buffers give.
  for (int dr : {22050, 96000}) {
    std::vector<double> sep = RunBlocks<double>(KVST_DOUBLE, 1, 48000, dr, 2, sig, 777);
    tKVRESAMPLEINSTANCE* r2 = nullptr;
    ASSERT_EQ(KvAudio_ResampleOpen(&r2, KVST_DOUBLE, 48000, dr, 1, 2), S_OK);
    std::vector<double> inplace;
    for (size_t a = 0; a < sig.size(); a += 777) {
      size_t cnt = std::min<size_t>(777, sig.size() - a);
      std::vector<double> b(cnt * 3);
      std::copy(sig.begin() + a, sig.begin() + a + cnt, b.begin());
      int64_t g = KvAudio_ResampleEx(r2, b.data(), b.data(), static_cast<int32_t>(cnt));
      inplace.insert(inplace.end(), b.begin(), b.begin() + g);
    }
    KvAudio_ResampleClose(r2);
    ASSERT_EQ(inplace.size(), sep.size());
    for (size_t i = 0; i < sep.size(); ++i) ASSERT_EQ(inplace[i], sep[i]) << dr << " " << i;
  }

  // Fixed-length blocks: exactly dstCount frames both ways.
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_S16, 44100, 48000, 2, 0), S_OK);
  std::vector<int16_t> s16(2 * 300), d16(2 * 400, 0x5555);
  for (int i = 0; i < 600; ++i) s16[i] = static_cast<int16_t>(i * 50);
  EXPECT_EQ(KvAudio_ResampleStupid(rs, d16.data(), 400, s16.data(), 300), 400);
  EXPECT_EQ(d16[2 * 399], s16[2 * 299]);
  EXPECT_EQ(KvAudio_ResampleStupid(rs, d16.data(), 200, s16.data(), 300), 200);
  KvAudio_ResampleClose(rs);
  // Float decimation with the filter: the filter runs into a scratch block,
  // never into a destination sized for fewer frames (exact-size heap block).
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_FLOAT, 48000, 44100, 2, 0x22), S_OK);
  std::vector<float> fs(2 * 300, 0.25f);
  float* fd = new float[2 * 200];
  EXPECT_EQ(KvAudio_ResampleStupid(rs, fd, 200, fs.data(), 300), 200);
  EXPECT_EQ(fs[599], 0.25f);  // the caller's block is not filtered either
  delete[] fd;
  EXPECT_EQ(KvAudio_ResampleStupid(rs, nullptr, 0, fs.data(), 300), 0);
  KvAudio_ResampleClose(rs);
}

// The windowed sinc streamed in blocks gives the frames of one call (its
// positions advance by the instance step and carry over), and its rate is
// exact: the output length follows the ratio.
TEST(Resample, SincStreamsLikeOneCall) {
  std::vector<float> in = Load<float>("sine1k_44100.raw");
  if (in.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  for (int dr : {48000, 22050, 96000}) {
    std::vector<float> one = RunBlocks<float>(KVST_FLOAT, 1, 44100, dr, 3, in, in.size());
    for (size_t block : {size_t(333), size_t(1024), size_t(4096)}) {
      std::vector<float> got = RunBlocks<float>(KVST_FLOAT, 1, 44100, dr, 3, in, block);
      ASSERT_EQ(got.size(), one.size()) << dr << " block " << block;
      for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], one[i], 1e-6) << dr << " block " << block << " " << i;
    }
  }
}

// Rejection of a tone above the destination's Nyquist frequency when
// decimating 48 kHz to 22.05 kHz (15 kHz would alias to 7.05 kHz): measured
// for each mode and reported; the anti-alias filter must reduce it.
TEST(Resample, AliasRejectionWhenDecimating) {
  const int sr = 48000, dr = 22050;
  std::vector<float> in(sr);
  for (int i = 0; i < sr; ++i) in[i] = static_cast<float>(0.5 * std::sin(2 * kPi * 15000.0 * i / sr));
  struct {
    DWORD flags;
    const char* name;
  } modes[] = {{2, "linear"}, {0x32, "linear+filter6"}, {3, "sinc"}, {0x33, "sinc+filter6"}};
  double level[4];
  for (int m = 0; m < 4; ++m) {
    // Decimating with the filter filters the caller's block in place: every
    // mode gets its own copy of the input.
    std::vector<float> copy = in;
    std::vector<float> out = RunBlocks<float>(KVST_FLOAT, 1, sr, dr, modes[m].flags, copy, 1024);
    std::vector<double> y(out.begin(), out.end());
    double snr, amp;
    SineFit(y, dr, double(dr) - 15000.0, 300, &snr, &amp);
    level[m] = 20 * std::log10(std::max(amp, 1e-12) / 0.5);
    std::printf("%-15s alias of 15 kHz at 7.05 kHz: %.1f dB\n", modes[m].name, level[m]);
  }
  EXPECT_GT(level[0], -6.0);  // linear interpolation alone does not reject it
  EXPECT_GT(level[2], -1.0);  // nor does the sinc, whose band edge is the source's
  EXPECT_LT(level[1], level[0] - 20);
  EXPECT_LT(level[3], level[2] - 20);
}

// Resets: a full reset starts over (positions, phase, previous frame); a new
// rate pair takes effect at once; OpenEx converts at the given ratio, also
// for integer types (which then interpolate in double precision).
TEST(Resample, ResetsAndRatioInstances) {
  std::vector<double> sig(3000);
  for (int i = 0; i < 3000; ++i) sig[i] = std::sin(0.003 * i * i / 100.0);
  std::vector<double> fresh = RunBlocks<double>(KVST_DOUBLE, 1, 44100, 48000, 2, sig, 3000);
  tKVRESAMPLEINSTANCE* rs = nullptr;
  ASSERT_EQ(KvAudio_ResampleOpen(&rs, KVST_DOUBLE, 44100, 48000, 1, 2), S_OK);
  std::vector<double> out(4000);
  KvAudio_ResampleEx(rs, out.data(), sig.data(), 777);
  ASSERT_EQ(KvAudio_ResampleReset(rs, KVST_NONE, 0, 0, 0, TRUE), S_OK);
  EXPECT_EQ(KvAudio_ResampleGetSrcPos(rs), 0);
  EXPECT_EQ(KvAudio_ResampleGetDstPos(rs), 0);
  int64_t n = KvAudio_ResampleEx(rs, out.data(), sig.data(), 3000);
  ASSERT_EQ(n, static_cast<int64_t>(fresh.size()));
  for (int64_t i = 0; i < n; ++i) ASSERT_EQ(out[i], fresh[i]) << i;
  // New rates: 44100 -> 22050 from here on.
  ASSERT_EQ(KvAudio_ResampleReset(rs, KVST_NONE, 44100, 22050, 0, TRUE), S_OK);
  EXPECT_EQ(KvAudio_ResampleEx(rs, out.data(), sig.data(), 3000), 1500);
  // Channel count change forces a full reset.
  ASSERT_EQ(KvAudio_ResampleReset(rs, KVST_NONE, 0, 0, 2, FALSE), S_OK);
  EXPECT_EQ(KvAudio_ResampleGetSrcPos(rs), 0);
  EXPECT_EQ(KvAudio_ResampleEx(rs, out.data(), sig.data(), 1000), 500);
  KvAudio_ResampleClose(rs);

  ASSERT_EQ(KvAudio_ResampleOpenEx(&rs, KVST_S16, 1, 2.0, 2), S_OK);
  std::vector<int16_t> s16(100), d16(300);
  for (int i = 0; i < 100; ++i) s16[i] = static_cast<int16_t>(i * 100);
  EXPECT_EQ(KvAudio_ResampleEx(rs, d16.data(), s16.data(), 100), 199);
  EXPECT_EQ(d16[0], 0);
  EXPECT_EQ(d16[1], 50);
  EXPECT_EQ(d16[198], 9900);
  EXPECT_EQ(KvAudio_ResampleGetDstFromSrc(rs, 100), 200);
  KvAudio_ResampleClose(rs);
}
