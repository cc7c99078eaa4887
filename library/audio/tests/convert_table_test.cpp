// Every pair of linear sample types against an independent model of the
// conversion rule (integer arithmetic for integer pairs, the C library's
// round-half-even for float sources): edge values, ties, clipping, gains that
// are powers of two, out of place and in place.
#include <gtest/gtest.h>

#include <random>

#include "audio_test_util.h"

using namespace kvtest;

namespace {

std::vector<int64_t> IntEdgeValues(int bits, std::mt19937& rng) {
  int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
  std::vector<int64_t> v = {lo, lo + 1, -2, -1, 0, 1, 2, hi - 1, hi};
  for (int k : {8, 16, 24, 32}) {
    if (k >= bits) continue;
    int64_t h = int64_t(1) << (bits - k - 1);  // half an LSB of the narrower type
    for (int64_t m : {1, 3, 5, 7}) {
      v.push_back(m * h);
      v.push_back(-m * h);
      v.push_back(m * h - 1);
      v.push_back(m * h + 1);
    }
    v.push_back(hi - h);
    v.push_back(hi - h + 1);
    v.push_back(lo + h);
  }
  std::uniform_int_distribution<int64_t> d(lo, hi);
  for (int i = 0; i < 64; ++i) v.push_back(d(rng));
  return v;
}

std::vector<double> FloatEdgeValues(std::mt19937& rng) {
  std::vector<double> v = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1.5, -1.5, 2.0, -2.0, 1e10, -1e10, 0.999999940395355};
  for (int k : {8, 16, 24, 32}) {
    double lsb = std::ldexp(1.0, -(k - 1));
    for (double m : {0.5, 1.5, 2.5, 3.5, 0.25, 0.75, 127.5}) {
      v.push_back(m * lsb);
      v.push_back(-m * lsb);
    }
    v.push_back(1.0 - lsb / 2);
    v.push_back(-1.0 - lsb / 2);
    v.push_back(1.0 - lsb);
  }
  std::uniform_real_distribution<double> d(-1.2, 1.2);
  for (int i = 0; i < 64; ++i) v.push_back(d(rng));
  return v;
}

// Expected bytes of converting the values (given as source integers or source
// floats) to the destination type with gain 2^ge.
std::vector<uint8_t> Expected(const TypeInfo& dt, const TypeInfo& st, const std::vector<int64_t>& iv,
                              const std::vector<double>& fv, int ge) {
  size_t n = st.bits ? iv.size() : fv.size();
  std::vector<uint8_t> out(n * dt.bytes);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* p = out.data() + i * dt.bytes;
    if (dt.bits && st.bits) {
      EncodeInt(dt, Clip(RoundShift(iv[i], dt.bits - st.bits + ge), dt.bits), p);
    } else if (dt.bits) {
      EncodeInt(dt, RoundClipDouble(fv[i] * std::ldexp(1.0, ge + dt.bits - 1), dt.bits), p);
    } else {
      double x = st.bits ? std::ldexp(static_cast<double>(iv[i]), ge - (st.bits - 1)) : fv[i] * std::ldexp(1.0, ge);
      if (dt.type == KVST_FLOAT) {
        float f = static_cast<float>(x);
        std::memcpy(p, &f, 4);
      } else {
        std::memcpy(p, &x, 8);
      }
    }
  }
  return out;
}

std::vector<uint8_t> EncodeSource(const TypeInfo& st, const std::vector<int64_t>& iv, const std::vector<double>& fv) {
  size_t n = st.bits ? iv.size() : fv.size();
  std::vector<uint8_t> out(n * st.bytes);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* p = out.data() + i * st.bytes;
    if (st.bits) {
      EncodeInt(st, iv[i], p);
    } else if (st.type == KVST_FLOAT) {
      float f = static_cast<float>(fv[i]);
      std::memcpy(p, &f, 4);
    } else {
      std::memcpy(p, &fv[i], 8);
    }
  }
  return out;
}

std::string Describe(const TypeInfo& st, const std::vector<int64_t>& iv, const std::vector<double>& fv, size_t i) {
  char buf[64];
  if (st.bits)
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(iv[i]));
  else
    std::snprintf(buf, sizeof buf, "%.17g", fv[i]);
  return buf;
}

}  // namespace

TEST(ConvertTable, EveryPairMatchesTheModel) {
  std::mt19937 rng(1234);
  int pairs = 0;
  for (const TypeInfo& dt : AllTypes()) {
    for (const TypeInfo& st : AllTypes()) {
      tKvAudioCopyFunc f = KvAudio_GetCopyFunction2(dt.type, st.type);
      bool none = (dt.type == KVST_S16BE || dt.type == KVST_S24BE) &&
                  (st.type == KVST_S24IN32 || st.type == KVST_S32BE);
      if (none) {
        EXPECT_EQ(f, nullptr) << dt.type << " <- " << st.type;
        continue;
      }
      ASSERT_NE(f, nullptr) << dt.type << " <- " << st.type;
      ++pairs;
      std::vector<int64_t> iv;
      std::vector<double> fv;
      if (st.bits)
        iv = IntEdgeValues(st.bits, rng);
      else
        fv = FloatEdgeValues(rng);
      // A float value that is not exact in single precision is first rounded
      // to what the source really holds.
      if (st.type == KVST_FLOAT)
        for (double& x : fv) x = static_cast<float>(x);
      std::vector<uint8_t> src = EncodeSource(st, iv, fv);
      size_t n = st.bits ? iv.size() : fv.size();
      for (int ge : {0, -1, 1}) {
        float gain = std::ldexp(1.0f, ge);
        std::vector<uint8_t> want = Expected(dt, st, iv, fv, ge);
        std::vector<uint8_t> got(n * dt.bytes, 0xCD);
        f(got.data(), src.data(), static_cast<int32_t>(n), gain);
        // In place: one buffer large enough for the wider of the two.
        std::vector<uint8_t> inplace(n * std::max(dt.bytes, st.bytes), 0xCD);
        std::memcpy(inplace.data(), src.data(), src.size());
        f(inplace.data(), inplace.data(), static_cast<int32_t>(n), gain);
        for (size_t i = 0; i < n; ++i) {
          ASSERT_EQ(0, std::memcmp(got.data() + i * dt.bytes, want.data() + i * dt.bytes, dt.bytes))
              << dt.type << " <- " << st.type << " gain " << gain << " value " << Describe(st, iv, fv, i);
          ASSERT_EQ(0, std::memcmp(inplace.data() + i * dt.bytes, want.data() + i * dt.bytes, dt.bytes))
              << "in place " << dt.type << " <- " << st.type << " gain " << gain << " value "
              << Describe(st, iv, fv, i);
        }
      }
    }
  }
  EXPECT_EQ(pairs, 117);
}

// The rule's own examples, readable at a glance.
TEST(ConvertTable, NamedCases) {
  struct Case {
    KVSAMPLETYPE dst, src;
    std::vector<uint8_t> in;
    float gain;
    std::vector<uint8_t> out;
  };
  auto f32 = [](float x) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &x, 4);
    return b;
  };
  const Case cases[] = {
      {KVST_S16, KVST_U8, {0x00}, 1.0f, {0x00, 0x80}},
      {KVST_S16, KVST_U8, {0x80}, 1.0f, {0x00, 0x00}},
      {KVST_S16, KVST_U8, {0xFF}, 1.0f, {0x00, 0x7F}},
      {KVST_U8, KVST_S16, {127, 0}, 1.0f, {0x80}},
      {KVST_U8, KVST_S16, {128, 0}, 1.0f, {0x80}},
      {KVST_U8, KVST_S16, {0x80, 0x01}, 1.0f, {0x82}},  // 384: 1.5 rounds to 2
      {KVST_U8, KVST_S16, {0xFF, 0x7F}, 1.0f, {0xFF}},
      {KVST_U8, KVST_S16, {0x00, 0x80}, 1.0f, {0x00}},
      {KVST_S16, KVST_FLOAT, f32(1.0f), 1.0f, {0xFF, 0x7F}},
      {KVST_S16, KVST_FLOAT, f32(-1.0f), 1.0f, {0x00, 0x80}},
      {KVST_S16, KVST_FLOAT, f32(0.5f), 1.0f, {0x00, 0x40}},
      {KVST_S16, KVST_FLOAT, f32(1.5f / 32768), 1.0f, {2, 0}},
      {KVST_S16, KVST_FLOAT, f32(2.5f / 32768), 1.0f, {2, 0}},
      {KVST_FLOAT, KVST_S16, {0x00, 0x80}, 1.0f, f32(-1.0f)},
      {KVST_FLOAT, KVST_S16, {0xFF, 0x7F}, 2.0f, f32(1.99993896484375f)},
      {KVST_S16, KVST_S16, {3, 0}, 0.5f, {2, 0}},
      {KVST_S16, KVST_S16, {5, 0}, 0.5f, {2, 0}},
      {KVST_S16, KVST_S16, {0x00, 0x80}, 0.5f, {0x00, 0xC0}},
      {KVST_S16BE, KVST_S16, {0x34, 0x12}, 0.5f, {0x09, 0x1A}},
      {KVST_S16BE, KVST_S16, {0x34, 0x12}, 1.0f, {0x12, 0x34}},
      {KVST_S32BE, KVST_S32, {1, 2, 3, 4}, 1.0f, {4, 3, 2, 1}},
      {KVST_S24IN32, KVST_S24, {0xFF, 0xFF, 0x7F}, 1.0f, {0xFF, 0xFF, 0x7F, 0x00}},
      {KVST_S24IN32, KVST_S24, {0x00, 0x00, 0x80}, 1.0f, {0x00, 0x00, 0x80, 0xFF}},
      {KVST_U8, KVST_FLOAT, f32(1e10f), 1.0f, {0xFF}},
  };
  for (const Case& c : cases) {
    tKvAudioCopyFunc f = KvAudio_GetCopyFunction2(c.dst, c.src);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> got(c.out.size(), 0xCD);
    f(got.data(), c.in.data(), 1, c.gain);
    EXPECT_EQ(got, c.out) << c.dst << " <- " << c.src << " gain " << c.gain;
  }
  // Same type, gain 1.0, same buffer: nothing is written.
  int16_t v[2] = {7, -7};
  KvAudio_GetCopyFunction2(KVST_S16, KVST_S16)(v, v, 2, 1.0f);
  EXPECT_EQ(v[0], 7);
}

TEST(ConvertDispatch, LookupAndCopy) {
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16BE, KVST_S24IN32), nullptr);
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S24BE, KVST_S32BE), nullptr);
  EXPECT_NE(KvAudio_GetCopyFunction2(KVST_S32BE, KVST_S24IN32), nullptr);
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FE03_16, KVST_S16), nullptr);
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_NONE), nullptr);

  WAVEFORMATEX s16{}, fl{}, fe03{};
  KvAudio_InitWfx(&s16, 44100, KVST_S16, 2);
  KvAudio_InitWfx(&fl, 44100, KVST_FLOAT, 2);
  fe03 = s16;
  fe03.wFormatTag = 0xFE03;
  int16_t in[20];
  for (int i = 0; i < 20; ++i) in[i] = static_cast<int16_t>(i * 1000 - 10000);
  float out[22];
  for (float& x : out) x = 99.0f;
  EXPECT_EQ(KvAudio_Copy(&fl, out, &s16, in, 10, 1.0f), S_OK);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(out[i], in[i] / 32768.0f);
  EXPECT_EQ(out[20], 99.0f);  // 10 stereo frames are 20 samples, no more
  EXPECT_EQ(KvAudio_Copy(&fl, out, &fe03, in, 10, 1.0f), E_NOTIMPL);
  EXPECT_EQ(KvAudio_Copy(&fl, out, &fe03, in, 0, 1.0f), S_OK);
  // A negative frame count is refused instead of reaching the routine.
  EXPECT_EQ(KvAudio_Copy(&fl, out, &s16, in, -1, 1.0f), E_INVALIDARG);
}
