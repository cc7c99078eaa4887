// Selection of the exchange's intermediate, kernels and gamma curve for a
// pair of pixel types.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kvxchg.h"

namespace {

HRESULT Select(KvXchgContext& c, int32_t dst, int32_t src, uint32_t flags = 0, const uint32_t* ops = nullptr,
               double ga = 0.0, double gb = 0.0) {
  return KvXCHGGetFunctionPointers(dst, src, flags, &c, ops, ga, gb);
}

TEST(XchgSelect, TypesOutsideTheRgbFamilyAreRefused) {
  KvXchgContext c;
  for (auto pair : {std::make_pair(15, 28), std::make_pair(28, 15), std::make_pair(33, 28), std::make_pair(28, 33),
                    std::make_pair(0, 0), std::make_pair(64, 28), std::make_pair(-16, 28)}) {
    ASSERT_EQ(Select(c, 28, 28), S_OK);
    EXPECT_EQ(Select(c, pair.first, pair.second), E_INVALIDARG) << pair.first << " <- " << pair.second;
    EXPECT_EQ(c.fetchOne, nullptr);
    EXPECT_EQ(c.storeOne, nullptr);
    EXPECT_EQ(c.flags, 0u);
    EXPECT_TRUE(KvXchgCurveIsIdentity(c.sourceCurve));
    EXPECT_TRUE(KvXchgCurveIsIdentity(c.destCurve));
  }
  EXPECT_EQ(KvXCHGGetFunctionPointers(28, 28, 0, nullptr, nullptr, 0, 0), E_POINTER);
}

TEST(XchgSelect, IntermediateKind) {
  struct Case {
    int32_t dst, src;
    uint32_t flags;
    uint32_t kind;
    bool forced16;  // bit 0x10 in the effective flags
  } cases[] = {
      {28, 24, 0, KVXCHG_8BIT, false},  {24, 28, 0, KVXCHG_8BIT, false},  {28, 24, 0x10, KVXCHG_16BIT, true},
      {27, 29, 0, KVXCHG_8BIT, false},  {24, 24, 0x20, KVXCHG_8BIT, false}, {32, 32, 0, KVXCHG_FLOAT, false},
      {32, 32, 0x10, KVXCHG_16BIT, true}, {28, 32, 0, KVXCHG_16BIT, true}, {32, 28, 0, KVXCHG_16BIT, true},
      {28, 16, 0, KVXCHG_16BIT, true},  {25, 26, 0, KVXCHG_16BIT, true},  {22, 22, 0, KVXCHG_16BIT, true},
      {31, 31, 0x20, KVXCHG_16BIT, true}, {24, 23, 0, KVXCHG_16BIT, true},
      // Preset 4 forces 16 bits; presets 1-3 do not.
      {28, 28, 4, KVXCHG_16BIT, true},  {28, 28, 1, KVXCHG_8BIT, false},  {32, 32, 3, KVXCHG_FLOAT, false},
  };
  for (const Case& k : cases) {
    KvXchgContext c;
    ASSERT_EQ(Select(c, k.dst, k.src, k.flags), S_OK);
    EXPECT_EQ(c.intermediateKind, k.kind) << k.dst << " <- " << k.src << " flags " << k.flags;
    EXPECT_EQ((c.flags & 0x10) != 0, k.forced16) << k.dst << " <- " << k.src;
    EXPECT_EQ(c.sourceType, k.src);
    EXPECT_EQ(c.destType, k.dst);
  }
}

TEST(XchgSelect, PresetsAndUserByte) {
  struct Case {
    uint32_t flags, effective;
  } cases[] = {
      {0x12345671u, (0x12345671u & 0x07FFF1F0u) | 0x180u}, {0x12345672u, (0x12345672u & 0x07FFF1F0u) | 0x1C0u},
      {0x12345673u, (0x12345673u & 0x07FFF1F0u) | 0x1E0u}, {0x12345674u, (0x12345674u & 0x07FFF1F0u) | 0x1F0u},
      {0x12345675u, 0x12345675u},                         {0x00AB0000u, 0x00AB0000u},
      {0x00000020u, 0x00000020u},
  };
  for (const Case& k : cases) {
    KvXchgContext c;
    ASSERT_EQ(Select(c, 28, 27, k.flags), S_OK);
    EXPECT_EQ(c.flags, k.effective) << std::hex << k.flags;
    EXPECT_EQ(c.userByte, (k.effective >> 16) & 0xFF);
  }
  // Low nibble 3 turns the quality rows on without bit 0x20 given.
  KvXchgContext plain, preset;
  ASSERT_EQ(Select(plain, 28, 27, 0), S_OK);
  ASSERT_EQ(Select(preset, 28, 27, 3), S_OK);
  EXPECT_EQ(plain.fetchBilinear, plain.fetchOne);
  EXPECT_NE(preset.fetchBilinear, preset.fetchOne);
  EXPECT_NE(preset.fetchBilinear2, preset.fetchBilinear);  // the box average of 24-bit pixels
}

// Every pair of types gets all eight fetch and store kernels in every row
// the flags can select; types 16/17 and 28/29 share theirs.
TEST(XchgSelect, EveryPairHasAllKernels) {
  for (int32_t s = 16; s <= 32; ++s)
    for (int32_t d = 16; d <= 32; ++d)
      for (uint32_t flags : {0u, 0x10u, 0x20u, 0x30u}) {
        KvXchgContext c;
        ASSERT_EQ(Select(c, d, s, flags), S_OK);
        const KvXchgKernel k[] = {c.fetchOne,     c.storeOne,  c.fetchBilinear, c.fetchQuad,
                                  c.fetchRun,     c.storeRun,  c.fetchVertical, c.fetchBilinear2};
        for (KvXchgKernel p : k) ASSERT_NE(p, nullptr) << d << " <- " << s << " flags " << flags;
        EXPECT_EQ(c.opOne, nullptr);
      }
  for (int row = 0; row < 6; ++row) {
    EXPECT_EQ(KvXchgKernels(16, row).fetchOne, KvXchgKernels(17, row).fetchOne);
    EXPECT_EQ(KvXchgKernels(28, row).storeRun, KvXchgKernels(29, row).storeRun);
  }
  EXPECT_EQ(KvXchgKernels(15, 0).fetchOne, nullptr);
  EXPECT_EQ(KvXchgKernels(28, 6).fetchOne, nullptr);
}

TEST(XchgSelect, GammaRatioCurve) {
  struct Case {
    int32_t dst, src;
    double ga, gb;
    float ratio;  // expected exponent of the curve on the float side
  } cases[] = {
      {28, 32, 0.0, 0.0, 1.0f},          {28, 32, 2.2, 1.0, float(1.0 / 2.2)}, {32, 28, 1.0, 2.2, 2.2f},
      {28, 32, 0.0, 1.0, float(0.45)},   {28, 32, 0.1, 10.0, 8.0f},            {28, 32, 10.0, 0.1, 0.125f},
      {32, 32, 1.8, 2.4, float(2.4 / 1.8)}, {28, 32, std::nan(""), 2.0, 1.0f},
  };
  for (const Case& k : cases) {
    KvXchgContext c;
    ASSERT_EQ(Select(c, k.dst, k.src, 0, nullptr, k.ga, k.gb), S_OK);
    const KvGammaCurve& used = k.src == 32 ? c.sourceCurve : c.destCurve;
    const KvGammaCurve& other = k.src == 32 ? c.destCurve : c.sourceCurve;
    EXPECT_NEAR(used.gamma, k.ratio, 1e-6) << k.ga << " " << k.gb;
    EXPECT_TRUE(KvXchgCurveIsIdentity(other));
  }
  // Only a float side gets a curve.
  KvXchgContext c;
  ASSERT_EQ(Select(c, 28, 27, 0, nullptr, 1.0, 2.2), S_OK);
  EXPECT_TRUE(KvXchgCurveIsIdentity(c.sourceCurve));
  EXPECT_TRUE(KvXchgCurveIsIdentity(c.destCurve));
  KvGammaCurve g(1.0009f), h(0.9989f);
  EXPECT_TRUE(KvXchgCurveIsIdentity(g));
  EXPECT_FALSE(KvXchgCurveIsIdentity(h));
}

TEST(XchgSelect, OperationBlocks) {
  uint32_t ops[14] = {3, 0x11112222, 0x33334444, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  KvXchgContext c;
  // Every code 0..19 has a single-pixel kernel (16 and 18 do nothing); the
  // block is copied into the context.
  for (uint32_t code = 0; code < 20; ++code) {
    ops[0] = code;
    ASSERT_EQ(Select(c, 28, 28, 0, ops), S_OK) << code;
    EXPECT_EQ(0, std::memcmp(c.opParams, ops, sizeof(ops)));
    EXPECT_NE(c.opOne, nullptr) << code;
    EXPECT_EQ(c.opRun == nullptr, code >= 15 && code <= 18) << code;
    EXPECT_EQ(c.keyMaskOne != nullptr, code == 4 || code == 5) << code;
    EXPECT_EQ(c.keyMaskRun != nullptr, code == 4 || code == 5) << code;
  }
  // Operation rows follow the intermediate; the 8-bit operation 3 has three
  // forms (plain, flag 0x40, alternate tables).
  ops[0] = 3;
  KvXchgContext a, b, d, e;
  ASSERT_EQ(Select(a, 28, 28, 0, ops), S_OK);
  ASSERT_EQ(Select(b, 28, 28, 0x40, ops), S_OK);
  ASSERT_EQ(Select(d, 28, 28, 0x80, ops), S_OK);
  ASSERT_EQ(Select(e, 28, 28, 0x10, ops), S_OK);
  EXPECT_NE(a.opOne, b.opOne);
  EXPECT_NE(a.opOne, d.opOne);
  EXPECT_NE(b.opOne, d.opOne);
  EXPECT_NE(a.opOne, e.opOne);
  // With an operation, float pixels are exchanged at 16 bits (the operations
  // read 8 and 16-bit slots).
  ops[0] = 1;
  ASSERT_EQ(Select(c, 32, 32, 0, ops), S_OK);
  EXPECT_EQ(c.intermediateKind, KVXCHG_16BIT);
  ASSERT_EQ(Select(c, 32, 32, 0, nullptr), S_OK);
  EXPECT_EQ(c.intermediateKind, KVXCHG_FLOAT);
  // Codes beyond the twenty of the tables are refused before any lookup.
  for (uint32_t code : {20u, 255u, 0xFFFFFFFFu}) {
    ops[0] = code;
    EXPECT_EQ(Select(c, 28, 28, 0, ops), E_INVALIDARG) << code;
    EXPECT_EQ(c.opOne, nullptr);
  }
}

// A reused context whose curves hold tables frees them when it is filled
// again (the sanitizer build reports a leak otherwise).
TEST(XchgSelect, ReuseFreesCurveTables) {
  KvXchgContext c;
  ASSERT_EQ(Select(c, 28, 32, 0, nullptr, 1.0, 2.2), S_OK);
  ASSERT_TRUE(c.sourceCurve.BuildFloatTable(256));
  ASSERT_TRUE(c.destCurve.BuildByteTable(256));
  ASSERT_EQ(Select(c, 28, 27), S_OK);
  EXPECT_EQ(c.sourceCurve.floatTable, nullptr);
  EXPECT_EQ(c.destCurve.byteTable, nullptr);
}

}  // namespace
