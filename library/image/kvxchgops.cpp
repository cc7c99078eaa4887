// Compositing operations of the pixel-format exchange: twenty operations that
// combine a destination pixel (D) with a source pixel (S) or a key colour, at
// the 16-bit and the 8-bit intermediate, and the two key kernels.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "kvxchg.h"

namespace {

using Ctx = KvXchgContext;

// Channel scale of an intermediate kind, and the operation block's fields
// at that scale.
struct Bits16 {
  using T = uint16_t;
  static constexpr uint32_t kMax = 65535;
  static constexpr int kShift = 16;
  static T* Slot(Ctx& c, int i) { return c.Slot16(i); }
  static T* BufferSlot(void* buf, int i) { return static_cast<uint16_t*>(buf) + 4 * i; }
};
struct Bits8 {
  using T = uint8_t;
  static constexpr uint32_t kMax = 255;
  static constexpr int kShift = 8;
  static T* Slot(Ctx& c, int i) { return c.Slot8(i); }
  static T* BufferSlot(void* buf, int i) { return static_cast<uint8_t*>(buf) + 8 * i; }
};

struct Params {
  uint32_t key[3];  // blue, green, red
  int32_t tolerance;
  uint32_t opacity;
  uint32_t level;
  const uint8_t* lookup8;
  const uint16_t* lookup16;
};

template <class B>
Params ReadParams(const Ctx& c) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(c.opParams);
  Params r{};
  if constexpr (std::is_same<B, Bits16>::value) {
    uint16_t k[3], o, l;
    int32_t t;
    std::memcpy(k, p + 4, 6);
    std::memcpy(&t, p + 12, 4);
    std::memcpy(&o, p + 16, 2);
    std::memcpy(&l, p + 18, 2);
    r = {{k[0], k[1], k[2]}, t, o, l, c.lookup8, c.lookup16};
  } else {
    int16_t t;
    std::memcpy(&t, p + 24, 2);
    r = {{p[20], p[21], p[22]}, t, p[26], p[27], c.lookup8, c.lookup16};
  }
  return r;
}

template <class B>
bool Keyed(const typename B::T* px, const Params& p) {
  const int64_t d = std::llabs(int64_t(px[2]) - p.key[2]) + std::llabs(int64_t(px[1]) - p.key[1]) +
                    std::llabs(int64_t(px[0]) - p.key[0]);
  return d <= p.tolerance;
}

// d + ((s - d) * o >> shift) on the 32-bit product, keeping the low bits: the
// exact floor-weighted blend.
template <class B>
typename B::T Blend(uint32_t d, uint32_t s, uint32_t o) {
  const uint32_t product = (s - d) * o;
  return static_cast<typename B::T>((d + (product >> B::kShift)) & B::kMax);
}

// d + (s - d) * o / 256, the division truncating toward zero.
inline uint8_t BlendTrunc8(int32_t d, int32_t s, int32_t o) { return static_cast<uint8_t>(d + (s - d) * o / 256); }

inline uint32_t Max3(uint32_t a, uint32_t b, uint32_t c) { return a > b ? (a > c ? a : c) : (b > c ? b : c); }

enum Variant { kNormal, kExact, kFloor };

template <class B, int Op, int V>
void Apply(const Ctx& c, typename B::T* d, const typename B::T* s) {
  using T = typename B::T;
  constexpr bool is16 = std::is_same<B, Bits16>::value;
  const Params p = ReadParams<B>(c);
  if constexpr (Op == 0 || Op == 9 || Op == 10) {
    for (int i = 0; i < 4; ++i) d[i] = s[i];
  } else if constexpr (Op == 1) {
    for (int i = 0; i < 4; ++i)
      d[i] = is16 ? Blend<B>(d[i], s[i], s[3]) : BlendTrunc8(d[i], s[i], s[3]);
  } else if constexpr (Op == 2) {
    // The source is added as it is, not weighted: an opaque source leaves
    // almost nothing of either.
    const uint64_t one = uint64_t(B::kMax) + 1;
    for (int i = 0; i < 4; ++i) d[i] = static_cast<T>((uint64_t(d[i]) * (one - s[3]) + s[i]) >> B::kShift);
  } else if constexpr (Op == 3) {
    if constexpr (is16 || V == kFloor) {
      for (int i = 0; i < 4; ++i) d[i] = Blend<B>(d[i], s[i], p.opacity);
    } else if constexpr (V == kExact) {
      for (int i = 0; i < 4; ++i) d[i] = BlendTrunc8(d[i], s[i], int32_t(p.opacity));
    } else {
      // The fast form: 4-bit weights on the top nibbles of the whole pixel.
      uint32_t dp, sp;
      std::memcpy(&dp, d, 4);
      std::memcpy(&sp, s, 4);
      const uint32_t o = p.opacity >> 4;
      const uint32_t r = ((dp >> 4) & 0x0F0F0F0Fu) * (15 - o) + ((sp >> 4) & 0x0F0F0F0Fu) * o;
      std::memcpy(d, &r, 4);
    }
  } else if constexpr (Op == 4) {
    if (!Keyed<B>(s, p))
      for (int i = 0; i < 4; ++i) d[i] = s[i];
  } else if constexpr (Op == 5) {
    if (!Keyed<B>(s, p))
      for (int i = 0; i < 4; ++i) d[i] = Blend<B>(d[i], s[i], p.opacity);
  } else if constexpr (Op == 6) {
    if (Keyed<B>(s, p)) {
      const uint32_t m = Max3(s[0], s[1], s[2]) + 1;
      for (int i = 0; i < 3; ++i) {
        const uint32_t x = (uint32_t(d[i]) * m / B::kMax) & B::kMax;
        d[i] = Blend<B>(d[i], x, p.level);
      }
    } else {
      for (int i = 0; i < 4; ++i) d[i] = Blend<B>(d[i], s[i], p.opacity);
    }
  } else if constexpr (Op == 7) {
    if (!Keyed<B>(s, p)) {
      const uint32_t mS = Max3(s[0], s[1], s[2]) + 1, mD = Max3(d[0], d[1], d[2]) + 1;
      for (int i = 0; i < 3; ++i) {
        const uint32_t x = (mD * d[i] / mS) & B::kMax;
        d[i] = Blend<B>(s[i], x, p.level);
      }
    }
  } else if constexpr (Op == 8) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<T>(d[i] > s[i] ? d[i] - s[i] : s[i] - d[i]);
  } else if constexpr (Op == 11) {
    for (int i = 0; i < 3; ++i) d[i] = Blend<B>(s[i], p.key[i], p.opacity);
  } else if constexpr (Op == 12) {
    for (int i = 0; i < 4; ++i) d[i] = Blend<B>(d[i], B::kMax - s[i], p.opacity);
  } else if constexpr (Op == 13) {
    const uint32_t g = (uint32_t(s[0]) + s[1] + s[2]) / 3;
    for (int i = 0; i < 3; ++i) d[i] = Blend<B>(d[i], g, p.opacity);
    d[3] = Blend<B>(d[3], s[3], p.opacity);
  } else if constexpr (Op == 14) {
    for (int i = 0; i < 3; ++i) {
      const int64_t k = p.key[i];
      const int64_t v = int64_t(d[i]) + (k - d[i]) * int64_t(s[3]) / int64_t(B::kMax + 1) + (int64_t(s[i]) - k);
      d[i] = static_cast<T>(v < 0 ? 0 : v > int64_t(B::kMax) ? B::kMax : v);
    }
  } else if constexpr (Op == 15) {
    const double dr = double(d[2]) - p.key[2], dg = double(d[1]) - p.key[1], db = double(d[0]) - p.key[0];
    uint32_t v = static_cast<uint32_t>(std::sqrt(dr * dr + dg * dg + db * db) / std::sqrt(3.0)) & B::kMax;
    if constexpr (is16) {
      if (p.lookup16) v = p.lookup16[v];
    } else {
      if (p.lookup8) v = p.lookup8[v];
    }
    d[0] = d[1] = d[2] = static_cast<T>(v);
  } else if constexpr (Op == 17) {
    const double m = (double(d[0]) + d[1] + d[2]) / 3.0;
    const double level = p.level, tol = p.tolerance;
    uint32_t v;
    // A tolerance of 0 or less is a plain threshold at the level (the ramp
    // would divide by it).
    if (m < level)
      v = 0;
    else if (m > level + tol || tol <= 0)
      v = B::kMax;
    else
      v = static_cast<uint32_t>((m - level) * B::kMax / tol);
    if constexpr (is16) {
      if (p.lookup16) v = p.lookup16[v];
    } else {
      if (p.lookup8) v = p.lookup8[v];
    }
    d[0] = d[1] = d[2] = static_cast<T>(v);
  } else if constexpr (Op == 19) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<T>((d[i] + ((uint32_t(s[i]) * p.opacity) >> B::kShift)) & B::kMax);
  }
  // 16 and 18: no operation.
}

template <class B, int Op, int V>
void KVAPI OpOne(Ctx* c) {
  Apply<B, Op, V>(*c, B::Slot(*c, 0), B::Slot(*c, 1));
}

template <class B, int Op, int V>
void KVAPI OpRun(void* buffer, Ctx* c) {
  for (int i = 0; i < 4; ++i) Apply<B, Op, V>(*c, B::BufferSlot(buffer, i), B::Slot(*c, i));
}

// Key kernels of operations 4 and 5.
template <class B>
void KVAPI KeyMaskOne(Ctx* c) {
  typename B::T* d = B::Slot(*c, 0);
  const Params p = ReadParams<B>(*c);
  if (Keyed<B>(B::Slot(*c, 1), p)) {
    d[0] = d[1] = d[2] = d[3] = 0;
  } else {
    d[0] = d[1] = static_cast<typename B::T>(B::kMax);
    d[2] = d[3] = 0;
  }
}

template <class B>
void KVAPI KeyMaskRun(Ctx* c) {
  const Params p = ReadParams<B>(*c);
  typename B::T* s0 = B::Slot(*c, 0);
  if (Keyed<B>(s0, p)) return;
  for (int i = 1; i < 4; ++i) {
    const typename B::T* si = B::Slot(*c, i);
    if (Keyed<B>(si, p)) {
      for (int ch = 0; ch < 4; ++ch) s0[ch] = si[ch];
      return;
    }
  }
  const int32_t wx = c->weightX < 0 ? 0 : c->weightX > 16384 ? 16384 : c->weightX;
  const int32_t wy = c->weightY < 0 ? 0 : c->weightY > 16384 ? 16384 : c->weightY;
  const uint64_t w[4] = {uint64_t(((16384 - wy) * (16384 - wx)) / 16384), uint64_t(((16384 - wy) * wx) / 16384),
                         uint64_t((wy * (16384 - wx)) / 16384), uint64_t((wy * wx) / 16384)};
  const typename B::T *s1 = B::Slot(*c, 1), *s2 = B::Slot(*c, 2), *s3 = B::Slot(*c, 3);
  for (int ch = 0; ch < 4; ++ch)
    s0[ch] = static_cast<typename B::T>((s0[ch] * w[0] + s1[ch] * w[1] + s2[ch] * w[2] + s3[ch] * w[3]) >> 14);
}

template <class B, int Op, int V>
constexpr KvXchgOpSet MakeOp() {
  constexpr bool hasRun = !(Op >= 15 && Op <= 18);
  constexpr bool hasKey = Op == 4 || Op == 5;
  return {OpOne<B, Op, V>, hasRun ? OpRun<B, Op, V> : nullptr, hasKey ? KeyMaskOne<B> : nullptr,
          hasKey ? KeyMaskRun<B> : nullptr};
}

// A row of twenty operations; V is the form of operation 3 at 8 bits.
#define KV_XCHG_OPROW(B, V)                                                                                 \
  {                                                                                                         \
    MakeOp<B, 0, V>(), MakeOp<B, 1, V>(), MakeOp<B, 2, V>(), MakeOp<B, 3, V>(), MakeOp<B, 4, V>(),          \
        MakeOp<B, 5, V>(), MakeOp<B, 6, V>(), MakeOp<B, 7, V>(), MakeOp<B, 8, V>(), MakeOp<B, 9, V>(),      \
        MakeOp<B, 10, V>(), MakeOp<B, 11, V>(), MakeOp<B, 12, V>(), MakeOp<B, 13, V>(), MakeOp<B, 14, V>(), \
        MakeOp<B, 15, V>(), MakeOp<B, 16, V>(), MakeOp<B, 17, V>(), MakeOp<B, 18, V>(), MakeOp<B, 19, V>()  \
  }

// Rows: 0 and 1 the 16-bit intermediate (without and with flag 0x40), 2 and
// 3 the 8-bit one. The alternate tables differ in the 8-bit operation 3 only.
const KvXchgOpSet kOps[2][4][20] = {
    {KV_XCHG_OPROW(Bits16, kNormal), KV_XCHG_OPROW(Bits16, kNormal), KV_XCHG_OPROW(Bits8, kNormal),
     KV_XCHG_OPROW(Bits8, kExact)},
    {KV_XCHG_OPROW(Bits16, kFloor), KV_XCHG_OPROW(Bits16, kFloor), KV_XCHG_OPROW(Bits8, kFloor),
     KV_XCHG_OPROW(Bits8, kFloor)},
};

const KvXchgOpSet kNoOperation = {nullptr, nullptr, nullptr, nullptr};

}  // namespace

const KvXchgOpSet& KvXchgOperations(bool alternate, int row, uint32_t code) {
  if (row < 0 || row > 3 || code > 19) return kNoOperation;
  return kOps[alternate ? 1 : 0][row][code];
}
