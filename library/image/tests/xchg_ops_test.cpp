// Compositing operations of the exchange against a Python model of their
// table (made at test time), through opOne and opRun, and the key kernels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image_test_util.h"
#include "kvxchg.h"
#include "vog_tools.h"

namespace {

// The 56-byte operation block.
void FillBlock(uint32_t ops[14], int bits, uint32_t code, const uint32_t key[3], int32_t tol, uint32_t opac,
               uint32_t level) {
  std::memset(ops, 0, 56);
  uint8_t* p = reinterpret_cast<uint8_t*>(ops);
  ops[0] = code;
  if (bits == 16) {
    const uint16_t k[3] = {uint16_t(key[0]), uint16_t(key[1]), uint16_t(key[2])};
    const uint16_t o = uint16_t(opac), l = uint16_t(level);
    std::memcpy(p + 4, k, 6);
    std::memcpy(p + 12, &tol, 4);
    std::memcpy(p + 16, &o, 2);
    std::memcpy(p + 18, &l, 2);
  } else {
    p[20] = uint8_t(key[0]);
    p[21] = uint8_t(key[1]);
    p[22] = uint8_t(key[2]);
    const int16_t t = int16_t(tol);
    std::memcpy(p + 24, &t, 2);
    p[26] = uint8_t(opac);
    p[27] = uint8_t(level);
  }
}

const uint32_t kVariantFlags[3] = {0, KVXCHG_OPVARIANT, KVXCHG_OPALTERNATE};

TEST(XchgOps, MatchTheModel) {
  auto rows = kvimagetest::ReadTable("image/ops.txt", 22);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  std::vector<uint16_t> lut16(65536);
  std::vector<uint8_t> lut8(256);
  for (int i = 0; i < 65536; ++i) lut16[i] = uint16_t(65535 - i);
  for (int i = 0; i < 256; ++i) lut8[i] = uint8_t(255 - i);
  int failures = 0;
  for (const auto& r : rows) {
    const int bits = int(r[0]), variant = int(r[1]);
    const uint32_t code = uint32_t(r[2]);
    uint32_t D[4], S[4], key[3], want[4];
    for (int i = 0; i < 4; ++i) {
      D[i] = uint32_t(r[3 + i]);
      S[i] = uint32_t(r[7 + i]);
      want[i] = uint32_t(r[18 + i]);
    }
    for (int i = 0; i < 3; ++i) key[i] = uint32_t(r[11 + i]);
    uint32_t ops[14];
    FillBlock(ops, bits, code, key, int32_t(r[14]), uint32_t(r[15]), uint32_t(r[16]));
    KvXchgContext c;
    const uint32_t flags = kVariantFlags[variant] | (bits == 16 ? KVXCHG_FORCE16 : 0);
    ASSERT_EQ(KvXCHGGetFunctionPointers(28, 28, flags, &c, ops, 0, 0), S_OK);
    ASSERT_EQ(c.intermediateKind, bits == 16 ? KVXCHG_16BIT : KVXCHG_8BIT);
    ASSERT_NE(c.opOne, nullptr);
    if (r[17] != 0) {
      c.lookup16 = lut16.data();
      c.lookup8 = lut8.data();
    }
    // Single pixel: slot 0 is D, slot 1 is S.
    for (int i = 0; i < 4; ++i) {
      if (bits == 16) {
        c.Slot16(0)[i] = uint16_t(D[i]);
        c.Slot16(1)[i] = uint16_t(S[i]);
      } else {
        c.Slot8(0)[i] = uint8_t(D[i]);
        c.Slot8(1)[i] = uint8_t(S[i]);
      }
    }
    c.opOne(&c);
    uint32_t got[4];
    for (int i = 0; i < 4; ++i) got[i] = bits == 16 ? c.Slot16(0)[i] : c.Slot8(0)[i];
    if (std::memcmp(got, want, sizeof(got)) != 0 && failures++ < 10)
      ADD_FAILURE() << "op " << code << " bits " << bits << " variant " << variant << " D " << D[0] << "," << D[1]
                    << "," << D[2] << "," << D[3] << " S " << S[0] << "," << S[1] << "," << S[2] << "," << S[3]
                    << ": got " << got[0] << "," << got[1] << "," << got[2] << "," << got[3] << " want " << want[0]
                    << "," << want[1] << "," << want[2] << "," << want[3];
    // Four pixels: buffer slot i is D, context slot i is S.
    const bool hasRun = !(code >= 15 && code <= 18);
    ASSERT_EQ(c.opRun != nullptr, hasRun) << code;
    ASSERT_EQ(c.keyMaskOne != nullptr, code == 4 || code == 5) << code;
    if (!hasRun) continue;
    KvXchgSlots buffer;
    for (int s = 0; s < 4; ++s)
      for (int i = 0; i < 4; ++i) {
        if (bits == 16) {
          buffer.w[4 * s + i] = uint16_t(D[i]);
          c.Slot16(s)[i] = uint16_t(S[i]);
        } else {
          buffer.b[8 * s + i] = uint8_t(D[i]);
          c.Slot8(s)[i] = uint8_t(S[i]);
        }
      }
    c.opRun(&buffer, &c);
    for (int s = 0; s < 4; ++s)
      for (int i = 0; i < 4; ++i) {
        const uint32_t v = bits == 16 ? buffer.w[4 * s + i] : buffer.b[8 * s + i];
        if (v != want[i] && failures++ < 10)
          ADD_FAILURE() << "opRun " << code << " bits " << bits << " slot " << s << " channel " << i << ": got " << v
                        << " want " << want[i];
      }
  }
  EXPECT_EQ(failures, 0);
}

TEST(XchgOps, EdgeCases) {
  const uint32_t key[3] = {0, 0, 0};
  uint32_t ops[14];
  KvXchgContext c;
  // 19: a white source at full opacity wraps bright channels around.
  FillBlock(ops, 16, 19, key, 0, 65535, 0);
  ASSERT_EQ(KvXCHGGetFunctionPointers(31, 31, 0, &c, ops, 0, 0), S_OK);
  uint16_t* d = c.Slot16(0);
  uint16_t* s = c.Slot16(1);
  d[0] = 60000;
  s[0] = 65535;
  c.opOne(&c);
  EXPECT_EQ(d[0], uint16_t(60000 + ((65535u * 65535u) >> 16)));
  EXPECT_LT(d[0], 60000);
  // 2: an opaque source keeps almost nothing of either.
  FillBlock(ops, 16, 2, key, 0, 0, 0);
  ASSERT_EQ(KvXCHGGetFunctionPointers(31, 31, 0, &c, ops, 0, 0), S_OK);
  c.Slot16(0)[0] = 65535;
  c.Slot16(1)[0] = 65535;
  c.Slot16(1)[3] = 65535;
  c.opOne(&c);
  EXPECT_EQ(c.Slot16(0)[0], 1);
  // 17 with a tolerance of 0 is a threshold at the level, not a division by 0.
  FillBlock(ops, 16, 17, key, 0, 0, 30000);
  ASSERT_EQ(KvXCHGGetFunctionPointers(31, 31, 0, &c, ops, 0, 0), S_OK);
  for (uint16_t v : {uint16_t(29999), uint16_t(30000), uint16_t(40000)}) {
    c.Slot16(0)[0] = c.Slot16(0)[1] = c.Slot16(0)[2] = v;
    c.opOne(&c);
    EXPECT_EQ(c.Slot16(0)[0], v < 30000 ? 0 : 65535) << v;
  }
  // 16 and 18 are accepted and do nothing.
  for (uint32_t code : {16u, 18u}) {
    FillBlock(ops, 8, code, key, 0, 0, 0);
    ASSERT_EQ(KvXCHGGetFunctionPointers(28, 28, 0, &c, ops, 0, 0), S_OK);
    c.Slot8(0)[0] = 77;
    c.Slot8(1)[0] = 5;
    c.opOne(&c);
    EXPECT_EQ(c.Slot8(0)[0], 77);
  }
}

TEST(XchgOps, KeyKernels) {
  const uint32_t key[3] = {100, 150, 200};  // blue, green, red
  uint32_t ops[14];
  FillBlock(ops, 8, 4, key, 10, 0, 0);
  KvXchgContext c;
  ASSERT_EQ(KvXCHGGetFunctionPointers(28, 27, 0, &c, ops, 0, 0), S_OK);
  ASSERT_EQ(c.intermediateKind, KVXCHG_8BIT);
  auto set = [&](int slot, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    uint8_t* p = c.Slot8(slot);
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = a;
  };
  auto slot = [&](int i) {
    const uint8_t* p = c.Slot8(i);
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  set(1, 103, 148, 200, 9);  // distance 5: keyed
  c.keyMaskOne(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{0, 0, 0, 0}));
  set(1, 90, 150, 200, 9);  // distance 10: keyed (at the tolerance)
  c.keyMaskOne(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{0, 0, 0, 0}));
  set(1, 89, 150, 200, 9);  // distance 11: not keyed
  c.keyMaskOne(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{255, 255, 0, 0}));
  // Resample: a keyed slot 0 stays; else the first keyed neighbour; else the mix.
  set(0, 100, 150, 200, 1);
  set(1, 0, 0, 0, 0);
  set(2, 101, 150, 200, 2);
  set(3, 0, 0, 0, 0);
  c.keyMaskRun(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{100, 150, 200, 1}));
  set(0, 0, 0, 0, 0);
  c.keyMaskRun(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{101, 150, 200, 2}));
  set(0, 0, 0, 0, 0);
  set(1, 40, 40, 40, 40);
  set(2, 80, 80, 80, 80);
  set(3, 120, 120, 120, 120);
  c.weightX = 8192;
  c.weightY = 8192;
  c.keyMaskRun(&c);
  EXPECT_EQ(slot(0), (std::vector<int>{60, 60, 60, 60}));
}

}  // namespace
