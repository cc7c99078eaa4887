// Every processor-specific conversion against the generic routine of its
// pair: source and destination offsets 0-15 bytes, counts 0-40 and 4096, in
// place and out of place, gain 1.0 (identical) and other gains (at most one
// step for float sources); the x87 control word and MXCSR are unchanged after
// every call. Also the dispatch by processor level and features.
#include <gtest/gtest.h>

#include <random>

#include "audio_test_util.h"
#include "kvconvert.h"
#ifdef _WIN32
#include "kvcpu.h"
#endif

using namespace kvtest;

namespace {

struct Version {
  const char* name;
  KVSAMPLETYPE dst, src;
  tKvAudioCopyFunc fn;
  DWORD needRaw;  // processor feature the version needs (raw word)
};

const Version kVersions[] = {
    {"F32ToU8_Sse", KVST_U8, KVST_FLOAT, KvCvt_F32ToU8_Sse, 0x20},
    {"F32ToS16_Sse", KVST_S16, KVST_FLOAT, KvCvt_F32ToS16_Sse, 0x20},
    {"F32ToS24_Sse", KVST_S24, KVST_FLOAT, KvCvt_F32ToS24_Sse, 0x20},
    {"F64ToU8_Sse2", KVST_U8, KVST_DOUBLE, KvCvt_F64ToU8_Sse2, 0x40},
    {"F64ToS16_Sse2", KVST_S16, KVST_DOUBLE, KvCvt_F64ToS16_Sse2, 0x40},
    {"F64ToS24_Sse2", KVST_S24, KVST_DOUBLE, KvCvt_F64ToS24_Sse2, 0x40},
    {"S16ToF32_Sse", KVST_FLOAT, KVST_S16, KvCvt_S16ToF32_Sse, 0x20},
    {"S16ToF32_Sse2", KVST_FLOAT, KVST_S16, KvCvt_S16ToF32_Sse2, 0x40},
    {"S16ToF32_Sse41", KVST_FLOAT, KVST_S16, KvCvt_S16ToF32_Sse41, 0x200},
    {"S16ToF64_Sse2", KVST_DOUBLE, KVST_S16, KvCvt_S16ToF64_Sse2, 0x40},
    {"F64ToF32_Sse2", KVST_FLOAT, KVST_DOUBLE, KvCvt_F64ToF32_Sse2, 0x40},
    {"F32ToF64_Sse2", KVST_DOUBLE, KVST_FLOAT, KvCvt_F32ToF64_Sse2, 0x40},
};

// Source samples: random values over and beyond full scale, exact ties of
// every integer depth, and full-scale edges (no NaN, no denormals: flushing
// denormals to zero is a documented difference).
std::vector<uint8_t> MakeSource(KVSAMPLETYPE t, size_t n, std::mt19937& rng) {
  std::vector<uint8_t> b(n * Info(t).bytes);
  std::uniform_real_distribution<double> u(-1.1, 1.1);
  std::uniform_int_distribution<int> pick(0, 9);
  for (size_t i = 0; i < n; ++i) {
    double x = u(rng);
    int p = pick(rng);
    if (p == 0) x = (std::floor(x * 32768) + 0.5) / 32768;
    if (p == 1) x = (std::floor(x * 128) + 0.5) / 128;
    if (p == 2) x = (std::floor(x * 8388608) + 0.5) / 8388608;
    if (p == 3) x = (i & 1) ? 1.0 : -1.0;
    if (p == 4) x = (i & 1) ? 1e10 : -3e9;
    if (t == KVST_FLOAT) {
      float f = static_cast<float>(x);
      std::memcpy(&b[i * 4], &f, 4);
    } else if (t == KVST_DOUBLE) {
      std::memcpy(&b[i * 8], &x, 8);
    } else {
      int16_t v = static_cast<int16_t>(rng());
      std::memcpy(&b[i * 2], &v, 2);
    }
  }
  return b;
}

// Largest difference in destination steps between two outputs.
double MaxStepDiff(KVSAMPLETYPE t, const uint8_t* a, const uint8_t* b, size_t n) {
  double worst = 0;
  for (size_t i = 0; i < n; ++i) {
    double x, y;
    if (t == KVST_FLOAT || t == KVST_DOUBLE) {
      x = KvAudio_ReadFraction(t, a, i);
      y = KvAudio_ReadFraction(t, b, i);
      if (x != y) return 1e9;
      continue;
    }
    const TypeInfo& ti = Info(t);
    x = static_cast<double>(DecodeInt(ti, a + i * ti.bytes));
    y = static_cast<double>(DecodeInt(ti, b + i * ti.bytes));
    worst = std::max(worst, std::fabs(x - y));
  }
  return worst;
}

}  // namespace

TEST(ConvertSimd, EveryVersionEqualsGeneric) {
  std::mt19937 rng(99);
  const DWORD raw = KvAudioCpu_GetSupportRaw(0);
  std::vector<size_t> counts;
  for (size_t c = 0; c <= 40; ++c) counts.push_back(c);
  counts.push_back(4096);
  const uint16_t cw0 = X87ControlWord();
  const uint32_t mx0 = Mxcsr();
  for (const Version& v : kVersions) {
    if ((raw & v.needRaw) != v.needRaw) {
      std::printf("skipping %s: processor lacks it\n", v.name);
      continue;
    }
    tKvAudioCopyFunc generic = KvConvert_Generic(v.dst, v.src);
    const size_t sb = Info(v.src).bytes, db = Info(v.dst).bytes;
    for (size_t n : counts) {
      std::vector<uint8_t> src = MakeSource(v.src, n, rng);
      for (float gain : {1.0f, 0.7f, 1.9f}) {
        std::vector<uint8_t> want(n * db + 1);
        generic(want.data(), src.data(), static_cast<int32_t>(n), gain);
        // Float sources form the product in single precision: with a gain
        // other than 1.0 one step of difference is allowed.
        double allowed = (gain != 1.0f && v.src == KVST_FLOAT) ? 1.0 : 0.0;
        for (size_t so = 0; so < 16; ++so) {
          for (size_t dof : {size_t(0), size_t(1), size_t(2), size_t(4), size_t(8), so, 15 - so}) {
            std::vector<uint8_t> sbuf(n * sb + 32), dbuf(n * db + 32, 0xEE);
            if (n) std::memcpy(sbuf.data() + so, src.data(), n * sb);
            v.fn(dbuf.data() + dof, sbuf.data() + so, static_cast<int32_t>(n), gain);
            double d = MaxStepDiff(v.dst, dbuf.data() + dof, want.data(), n);
            ASSERT_LE(d, allowed) << v.name << " n=" << n << " gain=" << gain << " srcOff=" << so
                                  << " dstOff=" << dof;
            ASSERT_EQ(dbuf[dof + n * db], 0xEE) << v.name << " wrote past the end";
            ASSERT_EQ(X87ControlWord(), cw0) << v.name;
            ASSERT_EQ(Mxcsr(), mx0) << v.name;
          }
          // In place (the widening ones go to the generic routine).
          std::vector<uint8_t> ibuf(n * std::max(sb, db) + 32);
          if (n) std::memcpy(ibuf.data() + so, src.data(), n * sb);
          v.fn(ibuf.data() + so, ibuf.data() + so, static_cast<int32_t>(n), gain);
          ASSERT_LE(MaxStepDiff(v.dst, ibuf.data() + so, want.data(), n), allowed)
              << v.name << " in place n=" << n << " off=" << so;
        }
      }
    }
  }
  EXPECT_EQ(X87ControlWord(), cw0);
  EXPECT_EQ(Mxcsr(), mx0);
}

TEST(ConvertSimd, EdgeValuesOfTheSaturatingVersions) {
  // 1.0 -> 0xFF, -1.0 -> 0x00, 1e10 -> 0xFF through the float-to-u8 version,
  // with the run long enough to reach the vector loop.
  alignas(16) float in[8] = {1.0f, -1.0f, 1e10f, -1e10f, 0.5f / 128, 1.5f / 128, 3e38f, -3e38f};
  uint8_t out[8];
  KvCvt_F32ToU8_Sse(out, in, 8, 1.0f);
  const uint8_t want[8] = {0xFF, 0x00, 0xFF, 0x00, 0x80, 0x82, 0xFF, 0x00};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], want[i]) << i;
}

TEST(ConvertSimd, DispatchFollowsLevelAndFeatures) {
  const DWORD raw = KvAudioCpu_GetSupportRaw(0);
  tKvAudioCopyFunc g1732 = KvConvert_Generic(KVST_S16, KVST_FLOAT);
  KvAudioCpu_OnlyAllow(0);  // nothing allowed: level 0
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_FLOAT), g1732);
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_DOUBLE, KVST_FLOAT), KvConvert_Generic(KVST_DOUBLE, KVST_FLOAT));
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_S16), KvConvert_Generic(KVST_FLOAT, KVST_S16));
  if (raw & 0x20) {
    KvAudioCpu_OnlyAllow(0x10 | 0x20);  // level 5
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_FLOAT), KvCvt_F32ToS16_Sse);
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_DOUBLE), KvConvert_Generic(KVST_S16, KVST_DOUBLE));
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_S16), KvCvt_S16ToF32_Sse);
  }
  if (raw & 0x40) {
    KvAudioCpu_OnlyAllow(0x70);  // level 6
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_DOUBLE), KvCvt_F64ToS16_Sse2);
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_S16), KvCvt_S16ToF32_Sse2);
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_DOUBLE), KvCvt_F64ToF32_Sse2);
    KvAudioCpu_OnlyAllow(0x70 | 9);  // a forced level of 9 behaves like 6
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_DOUBLE), KvCvt_F64ToS16_Sse2);
  }
  KvAudioCpu_AllowAll();
  if (raw & 0x200) {
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_S16), KvCvt_S16ToF32_Sse41);
  }
}

#ifdef _WIN32
// In the DLL the conversions follow the base library's allow-mask: a host
// that restricts the processor features through the exported mask setters
// gets the routines of the restricted level.
TEST(ConvertSimd, HostAllowMaskGovernsTheDispatch) {
  const DWORD raw = KvGetCPUSupportRaw(0);
  KvOnlyAllowCPUSupport(0);
  KvSetCPUClassBySupport();
  EXPECT_EQ(KvGetCPUSupport(15), 0u);
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_FLOAT), KvConvert_Generic(KVST_S16, KVST_FLOAT));
  EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_FLOAT, KVST_S16), KvConvert_Generic(KVST_FLOAT, KVST_S16));
  if (raw & 0x20) {
    KvOnlyAllowCPUSupport(0x30);  // MMX and SSE: level 5
    KvSetCPUClassBySupport();
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_FLOAT), KvCvt_F32ToS16_Sse);
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_DOUBLE), KvConvert_Generic(KVST_S16, KVST_DOUBLE));
  }
  if (raw & 0x40) {
    KvAllowCPUSupport(0x40);  // SSE2 back: level 6
    KvSetCPUClassBySupport();
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_S16, KVST_DOUBLE), KvCvt_F64ToS16_Sse2);
    KvDisallowCPUSupport(0x40);
    EXPECT_EQ(KvAudio_GetCopyFunction2(KVST_DOUBLE, KVST_FLOAT), KvConvert_Generic(KVST_DOUBLE, KVST_FLOAT));
  }
  KvAudioCpu_AllowAll();
  EXPECT_EQ(KvGetCPUSupport(15), KvAudioCpu_GetSupport(15));
  EXPECT_EQ(KvGetCPUSupport(0) & 0xFF0, KvAudioCpu_GetSupport(0) & 0xFF0);
}
#endif
