// Fetch and store kernels of the pixel-format exchange, one per pixel type,
// task and intermediate kind, generated from a small codec per type, and the
// tables the exchange's selection reads.
#include <cstring>
#include <type_traits>

#include "kvxchg.h"

namespace {

using Ctx = KvXchgContext;

constexpr int BitsOf(int code) {
  switch (code) {
    case 16: case 17: return 1;
    case 18: return 2;
    case 19: case 23: return 4;
    case 20: case 24: return 8;
    case 21: case 25: case 26: return 16;
    case 22: case 28: case 29: case 30: return 32;
    case 27: return 24;
    case 31: return 64;
    case 32: return 128;
  }
  return 0;
}

// Types that share their kernels.
constexpr int Canonical(int code) { return code == 17 ? 16 : code == 29 ? 28 : code; }
constexpr bool IsFloatType(int code) { return code == 22 || code == 32; }
// Quad fetches of these types leave the source pointer on the row below.
constexpr bool QuadMovesDown(int code) { return (code >= 25 && code <= 30) || code == 32; }

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline float LoadF(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void PutF(uint8_t* p, float v) { std::memcpy(p, &v, 4); }

// Sub-byte pixels: bit is the offset of the pixel from the byte's top bit.
inline uint32_t ReadBits(const uint8_t* p, uint32_t bit, int bits) {
  return (p[0] >> (8 - bits - bit)) & ((1u << bits) - 1);
}
inline void WriteBits(uint8_t* p, uint32_t bit, int bits, uint32_t v) {
  const int shift = 8 - bits - static_cast<int>(bit);
  const uint32_t mask = ((1u << bits) - 1) << shift;
  p[0] = static_cast<uint8_t>((p[0] & ~mask) | ((v << shift) & mask));
}

template <int C, typename P>
inline void Advance(P*& p, uint32_t& bit, int pixels) {
  if constexpr (BitsOf(C) < 8) {
    const uint32_t t = bit + static_cast<uint32_t>(pixels * BitsOf(C));
    p += t >> 3;
    bit = t & 7;
  } else {
    p += pixels * (BitsOf(C) / 8);
  }
}

const uint32_t kLevels1[2] = {0, 65535};
const uint32_t kLevels2[4] = {0, 21845, 43690, 65535};

// A palette entry at 16 bits (x256) or 8 bits.
inline void PaletteEntry(const Ctx& c, uint32_t index, int shift, uint32_t out[4], uint32_t opaque) {
  const uint32_t e = c.sourcePalette ? c.sourcePalette[index] : 0;
  out[0] = (e & 0xFF) << shift;
  out[1] = ((e >> 8) & 0xFF) << shift;
  out[2] = ((e >> 16) & 0xFF) << shift;
  out[3] = opaque;
}

// 16-bit channel from a float: not-a-number and negatives give 0, above 1.0 gives 65535.
inline uint16_t FloatTo16(float v, const KvGammaCurve& curve, bool identity) {
  if (!identity) v = curve.Evaluate(v);
  if (!(v >= 0.0f)) return 0;
  if (v > 1.0f) return 65535;
  return static_cast<uint16_t>(static_cast<int32_t>(v * 65535.0f + 0.5f));
}

inline float StoreCurve(float v, const KvGammaCurve& curve, bool identity) {
  return identity ? v : curve.Evaluate(v);
}

// Codec of a type for the 16-bit intermediate. Raw samples are the expanded
// integer channels (floats for the float types, converted in Finish).
template <int C, bool Exact>
struct Codec16 {
  static constexpr int kCode = C;
  using Raw = std::conditional_t<IsFloatType(C), float, uint32_t>;
  using S = uint16_t;
  static S* Slot(Ctx& c, int i) { return c.Slot16(i); }

  static void Fetch(const Ctx& c, const uint8_t* p, uint32_t bit, Raw out[4]) {
    constexpr uint32_t k8 = Exact ? 257 : 256;
    if constexpr (C == 16 || C == 17 || C == 18 || C == 19) {
      const uint32_t v = ReadBits(p, bit, BitsOf(C));
      const uint32_t level = C == 18 ? kLevels2[v] : C == 19 ? v * 4369 : kLevels1[v];
      out[0] = out[1] = out[2] = level;
      out[3] = 65535;
    } else if constexpr (C == 20) {
      out[0] = out[1] = out[2] = p[0] * k8;
      out[3] = 65535;
    } else if constexpr (C == 21) {
      out[0] = out[1] = out[2] = Load16(p);
      out[3] = 65535;
    } else if constexpr (C == 22) {
      out[0] = out[1] = out[2] = LoadF(p);
      out[3] = 1.0f;
    } else if constexpr (C == 23) {
      PaletteEntry(c, ReadBits(p, bit, 4), 8, out, 65535);
    } else if constexpr (C == 24) {
      PaletteEntry(c, p[0], 8, out, 65535);
    } else if constexpr (C == 25) {
      // The top bits are not replicated into the low ones.
      const uint32_t v = Load16(p);
      out[0] = (v & 0x1F) << 11;
      out[1] = ((v >> 5) & 0x1F) << 11;
      out[2] = ((v >> 10) & 0x1F) << 11;
      out[3] = 65535;
    } else if constexpr (C == 26) {
      const uint32_t v = Load16(p);
      out[0] = (v & 0x1F) << 11;
      out[1] = ((v >> 5) & 0x3F) << 10;
      out[2] = v & 0xF800;
      out[3] = 65535;
    } else if constexpr (C == 27) {
      out[0] = p[0] * k8;
      out[1] = p[1] * k8;
      out[2] = p[2] * k8;
      out[3] = 65535;
    } else if constexpr (C == 28 || C == 29) {
      for (int i = 0; i < 4; ++i) out[i] = p[i] * k8;
    } else if constexpr (C == 30) {
      const uint32_t v = Load32(p);
      out[0] = (v & 0x3FF) << 6;
      out[1] = ((v >> 10) & 0x3FF) << 6;
      out[2] = ((v >> 20) & 0x3FF) << 6;
      out[3] = kLevels2[v >> 30];
    } else if constexpr (C == 31) {
      for (int i = 0; i < 4; ++i) out[i] = Load16(p + 2 * i);
    } else if constexpr (C == 32) {
      for (int i = 0; i < 4; ++i) out[i] = LoadF(p + 4 * i);
    }
  }

  static void Finish(const Ctx& c, const Raw in[4], S out[4]) {
    if constexpr (IsFloatType(C)) {
      const bool identity = KvXchgCurveIsIdentity(c.sourceCurve);
      out[0] = FloatTo16(in[0], c.sourceCurve, identity);
      out[1] = FloatTo16(in[1], c.sourceCurve, identity);
      out[2] = FloatTo16(in[2], c.sourceCurve, identity);
      // Grey has no alpha of its own; the RGBA float type's passes the curve too.
      out[3] = C == 22 ? 65535 : FloatTo16(in[3], c.sourceCurve, identity);
    } else {
      for (int i = 0; i < 4; ++i) out[i] = static_cast<S>(in[i]);
    }
  }

  static void Store(Ctx& c, uint8_t* p, uint32_t bit, const S in[4], bool run) {
    const uint32_t b = in[0], g = in[1], r = in[2], a = in[3];
    const uint32_t mean = (b + g + r) / 3;
    if constexpr (C == 16 || C == 17) {
      // The single store thresholds the sum, the run store the mean.
      const bool white = run ? mean >= 32768 : (b + g + r) >= 98303;
      WriteBits(p, bit, 1, white ? 1 : 0);
    } else if constexpr (C == 18) {
      WriteBits(p, bit, 2, mean >> 14);
    } else if constexpr (C == 19) {
      WriteBits(p, bit, 4, mean >> 12);
    } else if constexpr (C == 20) {
      p[0] = static_cast<uint8_t>(mean >> 8);
    } else if constexpr (C == 21) {
      Put16(p, static_cast<uint16_t>(mean));
    } else if constexpr (C == 22) {
      const float v = static_cast<float>(mean * (1.0 / 65535.0));
      PutF(p, StoreCurve(v, c.destCurve, KvXchgCurveIsIdentity(c.destCurve)));
    } else if constexpr (C == 23 || C == 24) {
      // Without an inverse map there is no index to write: the pixel stays.
      if (c.inverseMap) {
        const uint32_t index = c.inverseMap[((r >> 11) << 10) + ((g >> 11) << 5) + (b >> 11)];
        if constexpr (C == 23)
          WriteBits(p, bit, 4, index);
        else
          p[0] = static_cast<uint8_t>(index);
      }
    } else if constexpr (C == 25) {
      Put16(p, static_cast<uint16_t>(((r >> 1) & 0x7C00) | ((g >> 6) & 0x3E0) | (b >> 11)));
    } else if constexpr (C == 26) {
      Put16(p, static_cast<uint16_t>((r & 0xF800) | ((g >> 5) & 0x7E0) | (b >> 11)));
    } else if constexpr (C == 27) {
      p[0] = static_cast<uint8_t>(b >> 8);
      p[1] = static_cast<uint8_t>(g >> 8);
      p[2] = static_cast<uint8_t>(r >> 8);
    } else if constexpr (C == 28 || C == 29) {
      p[0] = static_cast<uint8_t>(b >> 8);
      p[1] = static_cast<uint8_t>(g >> 8);
      p[2] = static_cast<uint8_t>(r >> 8);
      p[3] = static_cast<uint8_t>(a >> 8);
    } else if constexpr (C == 30) {
      Put32(p, (b >> 6) | ((g >> 6) << 10) | ((r >> 6) << 20) | ((a >> 14) << 30));
    } else if constexpr (C == 31) {
      for (int i = 0; i < 4; ++i) Put16(p + 2 * i, in[i]);
    } else if constexpr (C == 32) {
      const bool identity = KvXchgCurveIsIdentity(c.destCurve);
      for (int i = 0; i < 4; ++i)
        PutF(p + 4 * i, StoreCurve(static_cast<float>(in[i] * 1.5259021893143654e-5), c.destCurve, identity));
    }
  }
};

// Codec of a type for the 8-bit intermediate (types 24, 27, 28, 29).
template <int C>
struct Codec8 {
  static constexpr int kCode = C;
  using Raw = uint32_t;
  using S = uint8_t;
  static S* Slot(Ctx& c, int i) { return c.Slot8(i); }

  static void Fetch(const Ctx& c, const uint8_t* p, uint32_t, Raw out[4]) {
    if constexpr (C == 24) {
      PaletteEntry(c, p[0], 0, out, 255);
    } else if constexpr (C == 27) {
      out[0] = p[0];
      out[1] = p[1];
      out[2] = p[2];
      out[3] = 255;
    } else {
      for (int i = 0; i < 4; ++i) out[i] = p[i];
    }
  }
  static void Finish(const Ctx&, const Raw in[4], S out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<S>(in[i]);
  }
  static void Store(Ctx& c, uint8_t* p, uint32_t, const S in[4], bool) {
    if constexpr (C == 24) {
      if (c.inverseMap) p[0] = c.inverseMap[((in[2] >> 3) << 10) + ((in[1] >> 3) << 5) + (in[0] >> 3)];
    } else if constexpr (C == 27) {
      std::memcpy(p, in, 3);
    } else {
      std::memcpy(p, in, 4);
    }
  }
};

// The float intermediate (type 32 to 32): values are copied, no curve.
struct CodecF {
  static constexpr int kCode = 32;
  using Raw = float;
  using S = float;
  static S* Slot(Ctx& c, int i) { return c.SlotF(i); }
  static void Fetch(const Ctx&, const uint8_t* p, uint32_t, Raw out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = LoadF(p + 4 * i);
  }
  static void Finish(const Ctx&, const Raw in[4], S out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = in[i];
  }
  static void Store(Ctx&, uint8_t* p, uint32_t, const S in[4], bool) {
    for (int i = 0; i < 4; ++i) PutF(p + 4 * i, in[i]);
  }
};

inline int32_t ClampWeight(int32_t w) { return w < 0 ? 0 : w > 16384 ? 16384 : w; }

// Interpolation of raw samples: integers by 14-bit weights, truncated;
// floats by the weights / 16384.
template <typename Raw>
inline Raw Lerp(Raw t, Raw b, int32_t w) {
  if constexpr (std::is_same<Raw, float>::value) {
    return t * (static_cast<float>(16384 - w) / 16384.0f) + b * (static_cast<float>(w) / 16384.0f);
  } else {
    return static_cast<Raw>((uint64_t(t) * uint32_t(16384 - w) + uint64_t(b) * uint32_t(w)) / 16384);
  }
}

template <typename Raw>
inline Raw Blend4(Raw t0, Raw t1, Raw b0, Raw b1, const int32_t w[4]) {
  if constexpr (std::is_same<Raw, float>::value) {
    return t0 * (w[0] / 16384.0f) + t1 * (w[1] / 16384.0f) + b0 * (w[2] / 16384.0f) + b1 * (w[3] / 16384.0f);
  } else {
    return static_cast<Raw>((uint64_t(t0) * uint32_t(w[0]) + uint64_t(t1) * uint32_t(w[1]) +
                             uint64_t(b0) * uint32_t(w[2]) + uint64_t(b1) * uint32_t(w[3])) >>
                            14);
  }
}

template <class K>
void KVAPI FetchOne(Ctx* c) {
  typename K::Raw raw[4];
  K::Fetch(*c, c->sourcePtr, c->sourceBit, raw);
  K::Finish(*c, raw, K::Slot(*c, 0));
  Advance<K::kCode>(c->sourcePtr, c->sourceBit, 1);
}

template <class K>
void KVAPI FetchRun(Ctx* c) {
  for (int i = 0; i < 4; ++i) {
    typename K::Raw raw[4];
    K::Fetch(*c, c->sourcePtr, c->sourceBit, raw);
    K::Finish(*c, raw, K::Slot(*c, i));
    Advance<K::kCode>(c->sourcePtr, c->sourceBit, 1);
  }
}

template <class K>
void KVAPI StoreOne(Ctx* c) {
  K::Store(*c, c->destPtr, c->destBit, K::Slot(*c, 0), false);
  Advance<K::kCode>(c->destPtr, c->destBit, 1);
}

template <class K>
void KVAPI StoreRun(Ctx* c) {
  for (int i = 0; i < 4; ++i) {
    K::Store(*c, c->destPtr, c->destBit, K::Slot(*c, i), true);
    Advance<K::kCode>(c->destPtr, c->destBit, 1);
  }
}

template <class K>
void KVAPI FetchVertical(Ctx* c) {
  typename K::Raw t[4], b[4], m[4];
  K::Fetch(*c, c->sourcePtr, c->sourceBit, t);
  K::Fetch(*c, c->sourcePtr + c->sourceStride, c->sourceBit, b);
  const int32_t w = ClampWeight(c->weightY);
  for (int i = 0; i < 4; ++i) m[i] = Lerp(t[i], b[i], w);
  K::Finish(*c, m, K::Slot(*c, 0));
}

// The 2x2 neighbourhood: T0 here, T1 the next pixel of the row (the next
// byte's first pixel after the last of a byte), B0 and B1 one stride on.
template <class K>
inline void Neighbourhood(const Ctx& c, typename K::Raw px[4][4]) {
  const uint8_t* p = c.sourcePtr;
  uint32_t bit = c.sourceBit;
  const uint8_t* p1 = p;
  uint32_t bit1 = bit;
  Advance<K::kCode>(p1, bit1, 1);
  K::Fetch(c, p, bit, px[0]);
  K::Fetch(c, p1, bit1, px[1]);
  K::Fetch(c, p + c.sourceStride, bit, px[2]);
  K::Fetch(c, p1 + c.sourceStride, bit1, px[3]);
}

template <class K>
void KVAPI FetchBilinear(Ctx* c) {
  typename K::Raw px[4][4], m[4];
  Neighbourhood<K>(*c, px);
  const int32_t wx = ClampWeight(c->weightX), wy = ClampWeight(c->weightY);
  const int32_t w[4] = {((16384 - wy) * (16384 - wx)) / 16384, ((16384 - wy) * wx) / 16384,
                        (wy * (16384 - wx)) / 16384, (wy * wx) / 16384};
  for (int i = 0; i < 4; ++i) m[i] = Blend4(px[0][i], px[1][i], px[2][i], px[3][i], w);
  K::Finish(*c, m, K::Slot(*c, 0));
}

template <class K>
void KVAPI FetchQuad(Ctx* c) {
  typename K::Raw px[4][4];
  Neighbourhood<K>(*c, px);
  for (int i = 0; i < 4; ++i) K::Finish(*c, px[i], K::Slot(*c, i));
  if (QuadMovesDown(K::kCode)) c->sourcePtr += c->sourceStride;
}

// Whole pixels of an 18.14 value, rounded down or up.
inline int32_t FloorPixel(int32_t v) { return v >> 14; }
inline int32_t CeilPixel(int32_t v) { return static_cast<int32_t>((int64_t(v) + 16383) >> 14); }

// Box average of 24-bit pixels at 8 bits: the whole pixels inside the 18.14
// rectangle (weightX, weightY, boxWidth, boxHeight) counted from sourcePtr,
// rows sourceStride pixels long. The source has no alpha: the average is
// opaque (an empty box gives all zero).
void KVAPI FetchBoxAverage27(Ctx* c) {
  const int32_t x0 = CeilPixel(c->weightX), x1 = FloorPixel(static_cast<int32_t>(int64_t(c->weightX) + c->boxWidth));
  const int32_t y0 = CeilPixel(c->weightY), y1 = FloorPixel(static_cast<int32_t>(int64_t(c->weightY) + c->boxHeight));
  uint64_t sum[3] = {0, 0, 0};
  uint64_t count = 0;
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = x0; x < x1; ++x) {
      const uint8_t* p = c->sourcePtr + (int64_t(y) * c->sourceStride + x) * 3;
      sum[0] += p[0];
      sum[1] += p[1];
      sum[2] += p[2];
      ++count;
    }
  }
  uint8_t* s = c->Slot8(0);
  if (!count) {
    s[0] = s[1] = s[2] = s[3] = 0;
    return;
  }
  for (int i = 0; i < 3; ++i) s[i] = static_cast<uint8_t>(sum[i] / count);
  s[3] = 255;
}

template <class K>
constexpr KvXchgKernelSet PlainRow() {
  // Without the quality flag the interpolating slots hold the plain fetch;
  // the quad fetch is the same kernel in both rows of a kind.
  using Q = std::conditional_t<std::is_same<K, CodecF>::value, CodecF,
                               std::conditional_t<std::is_same<K, Codec8<K::kCode>>::value, K,
                                                  Codec16<K::kCode, true>>>;
  return {FetchOne<K>, StoreOne<K>, FetchOne<K>, FetchOne<K>, FetchOne<K>, FetchQuad<Q>, FetchRun<K>, StoreRun<K>};
}

template <class K>
constexpr KvXchgKernelSet QualityRow(KvXchgKernel bilinear2 = nullptr) {
  return {FetchOne<K>,     StoreOne<K>,  FetchBilinear<K>,
          bilinear2 ? bilinear2 : FetchBilinear<K>,
          FetchVertical<K>, FetchQuad<K>, FetchRun<K>, StoreRun<K>};
}

constexpr KvXchgKernelSet kNone = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

template <int C>
constexpr KvXchgKernelSet Row8(bool quality) {
  if constexpr (C == 24 || C == 27 || C == 28) {
    return quality ? QualityRow<Codec8<C>>(C == 27 ? FetchBoxAverage27 : nullptr) : PlainRow<Codec8<C>>();
  } else {
    return kNone;
  }
}

template <int C>
constexpr KvXchgKernelSet RowF(bool quality) {
  if constexpr (C == 32) {
    return quality ? QualityRow<CodecF>() : PlainRow<CodecF>();
  } else {
    return kNone;
  }
}

#define KV_XCHG_ROWS(C)                                                                           \
  {                                                                                               \
    PlainRow<Codec16<Canonical(C), false>>(), QualityRow<Codec16<Canonical(C), true>>(),          \
        Row8<Canonical(C)>(false), Row8<Canonical(C)>(true), RowF<C>(false), RowF<C>(true)        \
  }

const KvXchgKernelSet kKernels[17][6] = {
    KV_XCHG_ROWS(16), KV_XCHG_ROWS(17), KV_XCHG_ROWS(18), KV_XCHG_ROWS(19), KV_XCHG_ROWS(20), KV_XCHG_ROWS(21),
    KV_XCHG_ROWS(22), KV_XCHG_ROWS(23), KV_XCHG_ROWS(24), KV_XCHG_ROWS(25), KV_XCHG_ROWS(26), KV_XCHG_ROWS(27),
    KV_XCHG_ROWS(28), KV_XCHG_ROWS(29), KV_XCHG_ROWS(30), KV_XCHG_ROWS(31), KV_XCHG_ROWS(32),
};

}  // namespace

const KvXchgKernelSet& KvXchgKernels(int32_t type, int row) {
  if (static_cast<uint32_t>(type - 16) > 16u || row < 0 || row > 5) return kNone;
  return kKernels[type - 16][row];
}
