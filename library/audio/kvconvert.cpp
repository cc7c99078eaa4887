// Generic sample conversion routines, one per (destination, source) pair of
// the eleven linear sample types. Every sample is read as a fraction of full
// scale, scaled by the gain and written at the destination's full scale: in
// double precision, clipped and rounded half to even for integer
// destinations, unclipped for float destinations.
#include <cstring>
#include <type_traits>

#include "kvconvert.h"

namespace {

inline uint32_t Bswap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// Encodings. Integer types expose Read/Write of the signed value, float types
// of the value; bits is the depth that sets full scale.
template <int T>
struct Enc;

template <>
struct Enc<KVST_U8> {
  enum { bytes = 1, bits = 8, isFloat = 0 };
  static int32_t Read(const uint8_t* p) { return static_cast<int8_t>(p[0] ^ 0x80); }
  static void Write(uint8_t* p, int32_t v) { p[0] = static_cast<uint8_t>(v ^ 0x80); }
};
template <>
struct Enc<KVST_S8> {
  enum { bytes = 1, bits = 8, isFloat = 0 };
  static int32_t Read(const uint8_t* p) { return static_cast<int8_t>(p[0]); }
  static void Write(uint8_t* p, int32_t v) { p[0] = static_cast<uint8_t>(v); }
};
template <>
struct Enc<KVST_S16> {
  enum { bytes = 2, bits = 16, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  static void Write(uint8_t* p, int32_t v) {
    int16_t w = static_cast<int16_t>(v);
    std::memcpy(p, &w, 2);
  }
};
template <>
struct Enc<KVST_S16BE> {
  enum { bytes = 2, bits = 16, isFloat = 0 };
  static int32_t Read(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
  static void Write(uint8_t* p, int32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
  }
};
template <>
struct Enc<KVST_S24> {
  enum { bytes = 3, bits = 24, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
  }
  static void Write(uint8_t* p, int32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
  }
};
template <>
struct Enc<KVST_S24BE> {
  enum { bytes = 3, bits = 24, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[2] | (p[1] << 8) | (p[0] << 16)) << 8) >> 8;
  }
  static void Write(uint8_t* p, int32_t v) {
    p[2] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[0] = static_cast<uint8_t>(v >> 16);
  }
};
// 24-bit value in a 32-bit word: read as the whole signed word (a word whose
// high byte is not the sign extension is scaled and clipped as it stands).
template <>
struct Enc<KVST_S24IN32> {
  enum { bytes = 4, bits = 24, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void Write(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }
};
template <>
struct Enc<KVST_S32> {
  enum { bytes = 4, bits = 32, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void Write(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }
};
template <>
struct Enc<KVST_S32BE> {
  enum { bytes = 4, bits = 32, isFloat = 0 };
  static int32_t Read(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<int32_t>(Bswap32(v));
  }
  static void Write(uint8_t* p, int32_t v) {
    uint32_t w = Bswap32(static_cast<uint32_t>(v));
    std::memcpy(p, &w, 4);
  }
};
template <>
struct Enc<KVST_FLOAT> {
  enum { bytes = 4, bits = 0, isFloat = 1 };
  static double Read(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void Write(uint8_t* p, double x) {
    float v = static_cast<float>(x);
    std::memcpy(p, &v, 4);
  }
};
template <>
struct Enc<KVST_DOUBLE> {
  enum { bytes = 8, bits = 0, isFloat = 1 };
  static double Read(const uint8_t* p) {
    double v;
    std::memcpy(&v, p, 8);
    return v;
  }
  static void Write(uint8_t* p, double x) { std::memcpy(p, &x, 8); }
};

// Full scale 2^(b-1) and its inverse, exact powers of two.
constexpr double FullScale(int bits) { return bits == 8 ? 128.0 : bits == 16 ? 32768.0 : bits == 24 ? 8388608.0 : 2147483648.0; }
constexpr double InvScale(int bits) { return 1.0 / FullScale(bits); }

template <int D, int S>
struct One {
  // Integer to integer: v * 2^-(sb-1) * gain * 2^(db-1), left to right.
  template <int d = D, int s = S>
  static typename std::enable_if<!Enc<d>::isFloat && !Enc<s>::isFloat>::type Do(uint8_t* dp, const uint8_t* sp, double g) {
    double x = static_cast<double>(Enc<S>::Read(sp)) * InvScale(Enc<S>::bits) * g * FullScale(Enc<D>::bits);
    Enc<D>::Write(dp, KvClipRoundD(x, -FullScale(Enc<D>::bits), FullScale(Enc<D>::bits) - 1.0));
  }
  // Integer to float: v * 2^-(sb-1) * gain, rounded to the destination.
  template <int d = D, int s = S>
  static typename std::enable_if<Enc<d>::isFloat && !Enc<s>::isFloat>::type Do(uint8_t* dp, const uint8_t* sp, double g) {
    Enc<D>::Write(dp, static_cast<double>(Enc<S>::Read(sp)) * InvScale(Enc<S>::bits) * g);
  }
  // Float to integer: f * gain * 2^(db-1), clipped, rounded.
  template <int d = D, int s = S>
  static typename std::enable_if<!Enc<d>::isFloat && Enc<s>::isFloat>::type Do(uint8_t* dp, const uint8_t* sp, double g) {
    double x = Enc<S>::Read(sp) * g * FullScale(Enc<D>::bits);
    Enc<D>::Write(dp, KvClipRoundD(x, -FullScale(Enc<D>::bits), FullScale(Enc<D>::bits) - 1.0));
  }
  // Float to float: the value times the gain, rounded to the destination.
  template <int d = D, int s = S>
  static typename std::enable_if<Enc<d>::isFloat && Enc<s>::isFloat>::type Do(uint8_t* dp, const uint8_t* sp, double g) {
    Enc<D>::Write(dp, Enc<S>::Read(sp) * g);
  }
};

template <int D, int S>
void KVAPI Convert(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  const double g = gain;
  if (D == S && g == 1.0) {
    if (dst != src) std::memmove(dst, src, static_cast<size_t>(count) * Enc<S>::bytes);
    return;
  }
  uint8_t* d = static_cast<uint8_t*>(dst);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  const size_t db = Enc<D>::bytes, sb = Enc<S>::bytes;
  // Widening walks backwards so that a conversion in place never overwrites
  // a source sample before it is read.
  if (db > sb) {
    for (size_t i = static_cast<size_t>(count); i-- > 0;) One<D, S>::Do(d + i * db, s + i * sb, g);
  } else {
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) One<D, S>::Do(d + i * db, s + i * sb, g);
  }
}

constexpr int kTypes[11] = {KVST_U8, KVST_S16, KVST_S24, KVST_S32, KVST_FLOAT, KVST_DOUBLE,
                            KVST_S24IN32, KVST_S8, KVST_S16BE, KVST_S24BE, KVST_S32BE};

template <int D>
constexpr tKvAudioCopyFunc Row(int si) {
  return si == 0 ? &Convert<D, KVST_U8> : si == 1 ? &Convert<D, KVST_S16> : si == 2 ? &Convert<D, KVST_S24>
       : si == 3 ? &Convert<D, KVST_S32> : si == 4 ? &Convert<D, KVST_FLOAT> : si == 5 ? &Convert<D, KVST_DOUBLE>
       : si == 6 ? &Convert<D, KVST_S24IN32> : si == 7 ? &Convert<D, KVST_S8> : si == 8 ? &Convert<D, KVST_S16BE>
       : si == 9 ? &Convert<D, KVST_S24BE> : &Convert<D, KVST_S32BE>;
}

tKvAudioCopyFunc Lookup(int di, int si) {
  switch (di) {
    case 0: return Row<KVST_U8>(si);
    case 1: return Row<KVST_S16>(si);
    case 2: return Row<KVST_S24>(si);
    case 3: return Row<KVST_S32>(si);
    case 4: return Row<KVST_FLOAT>(si);
    case 5: return Row<KVST_DOUBLE>(si);
    case 6: return Row<KVST_S24IN32>(si);
    case 7: return Row<KVST_S8>(si);
    case 8: return Row<KVST_S16BE>(si);
    case 9: return Row<KVST_S24BE>(si);
    default: return Row<KVST_S32BE>(si);
  }
}

}  // namespace

int KvAudio_TypeIndex(KVSAMPLETYPE type) {
  for (int i = 0; i < 11; ++i)
    if (kTypes[i] == static_cast<int>(type)) return i;
  return -1;
}

tKvAudioCopyFunc KvConvert_Generic(KVSAMPLETYPE dstType, KVSAMPLETYPE srcType) {
  int di = KvAudio_TypeIndex(dstType), si = KvAudio_TypeIndex(srcType);
  if (di < 0 || si < 0) return nullptr;
  // 16- and 24-bit big-endian destinations take no 24-in-32 and no 32-bit
  // big-endian source.
  if ((dstType == KVST_S16BE || dstType == KVST_S24BE) && (srcType == KVST_S24IN32 || srcType == KVST_S32BE))
    return nullptr;
  return Lookup(di, si);
}

double KvAudio_ReadFraction(KVSAMPLETYPE type, const void* buf, size_t i) {
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  switch (type) {
    case KVST_U8: return Enc<KVST_U8>::Read(p + i) * InvScale(8);
    case KVST_S8: return Enc<KVST_S8>::Read(p + i) * InvScale(8);
    case KVST_S16: return Enc<KVST_S16>::Read(p + 2 * i) * InvScale(16);
    case KVST_S16BE: return Enc<KVST_S16BE>::Read(p + 2 * i) * InvScale(16);
    case KVST_S24: return Enc<KVST_S24>::Read(p + 3 * i) * InvScale(24);
    case KVST_S24BE: return Enc<KVST_S24BE>::Read(p + 3 * i) * InvScale(24);
    case KVST_S24IN32: return Enc<KVST_S24IN32>::Read(p + 4 * i) * InvScale(24);
    case KVST_S32: return Enc<KVST_S32>::Read(p + 4 * i) * InvScale(32);
    case KVST_S32BE: return Enc<KVST_S32BE>::Read(p + 4 * i) * InvScale(32);
    case KVST_FLOAT: return Enc<KVST_FLOAT>::Read(p + 4 * i);
    case KVST_DOUBLE: return Enc<KVST_DOUBLE>::Read(p + 8 * i);
    default: return 0.0;
  }
}

void KvAudio_WriteFraction(KVSAMPLETYPE type, void* buf, size_t i, double x) {
  uint8_t* p = static_cast<uint8_t*>(buf);
  switch (type) {
    case KVST_U8: Enc<KVST_U8>::Write(p + i, KvClipRoundD(x * 128.0, -128.0, 127.0)); break;
    case KVST_S8: Enc<KVST_S8>::Write(p + i, KvClipRoundD(x * 128.0, -128.0, 127.0)); break;
    case KVST_S16: Enc<KVST_S16>::Write(p + 2 * i, KvClipRoundD(x * 32768.0, -32768.0, 32767.0)); break;
    case KVST_S16BE: Enc<KVST_S16BE>::Write(p + 2 * i, KvClipRoundD(x * 32768.0, -32768.0, 32767.0)); break;
    case KVST_S24: Enc<KVST_S24>::Write(p + 3 * i, KvClipRoundD(x * 8388608.0, -8388608.0, 8388607.0)); break;
    case KVST_S24BE: Enc<KVST_S24BE>::Write(p + 3 * i, KvClipRoundD(x * 8388608.0, -8388608.0, 8388607.0)); break;
    case KVST_S24IN32:
      Enc<KVST_S24IN32>::Write(p + 4 * i, KvClipRoundD(x * 8388608.0, -8388608.0, 8388607.0));
      break;
    case KVST_S32: Enc<KVST_S32>::Write(p + 4 * i, KvClipRoundD(x * 2147483648.0, -2147483648.0, 2147483647.0)); break;
    case KVST_S32BE:
      Enc<KVST_S32BE>::Write(p + 4 * i, KvClipRoundD(x * 2147483648.0, -2147483648.0, 2147483647.0));
      break;
    case KVST_FLOAT: Enc<KVST_FLOAT>::Write(p + 4 * i, x); break;
    case KVST_DOUBLE: Enc<KVST_DOUBLE>::Write(p + 8 * i, x); break;
    default: break;
  }
}
