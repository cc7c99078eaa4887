// Generic sample conversion routines, one per (destination, source) pair of
// the eleven linear sample types. Every sample is read as a fraction of full
// scale, scaled by the gain and written at the destination's full scale: in
// double precision, clipped and rounded half to even for integer
// destinations, unclipped for float destinations.
#include <cstring>
#include <type_traits>

#include "kvconvert.h"

namespace {

// Encodings. Integer types expose Read/Write of the signed value, float types
// of the value; bits is the depth that sets full scale.
template <int Bytes, int Bits, bool BigEndian, bool Unsigned = false>
struct IntEnc {
  enum { bytes = Bytes, bits = Bits, isFloat = 0 };
  // Little-endian 16- and 32-bit containers are the machine's own integers
  // (both builds run on x86): one load or store.
  static constexpr bool kNative = !BigEndian && !Unsigned && (Bytes == 2 || Bytes == 4);
  using Native = std::conditional_t<Bytes == 2, int16_t, int32_t>;

  static int32_t Read(const uint8_t* p) {
    if constexpr (kNative) {
      Native v;
      std::memcpy(&v, p, Bytes);
      return v;
    } else {
      uint32_t u = 0;
      for (int i = 0; i < Bytes; ++i) u |= static_cast<uint32_t>(p[BigEndian ? Bytes - 1 - i : i]) << (8 * i);
      if (Unsigned) u ^= 0x80u;
      const int shift = 32 - 8 * Bytes;  // sign-extends from the container's top bit
      return static_cast<int32_t>(u << shift) >> shift;
    }
  }
  static void Write(uint8_t* p, int32_t v) {
    if constexpr (kNative) {
      const Native w = static_cast<Native>(v);
      std::memcpy(p, &w, Bytes);
    } else {
      uint32_t u = static_cast<uint32_t>(v);
      if (Unsigned) u ^= 0x80u;
      for (int i = 0; i < Bytes; ++i) p[BigEndian ? Bytes - 1 - i : i] = static_cast<uint8_t>(u >> (8 * i));
    }
  }
};

template <typename F>
struct FloatEnc {
  enum { bytes = sizeof(F), bits = 0, isFloat = 1 };
  static double Read(const uint8_t* p) {
    F v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void Write(uint8_t* p, double x) {
    F v = static_cast<F>(x);
    std::memcpy(p, &v, sizeof v);
  }
};

template <int T>
struct Enc;
template <> struct Enc<KVST_U8> : IntEnc<1, 8, false, true> {};
template <> struct Enc<KVST_S8> : IntEnc<1, 8, false> {};
template <> struct Enc<KVST_S16> : IntEnc<2, 16, false> {};
template <> struct Enc<KVST_S16BE> : IntEnc<2, 16, true> {};
template <> struct Enc<KVST_S24> : IntEnc<3, 24, false> {};
template <> struct Enc<KVST_S24BE> : IntEnc<3, 24, true> {};
// 24-bit value in a 32-bit word: read as the whole signed word (a word whose
// high byte is not the sign extension is scaled and clipped as it stands).
template <> struct Enc<KVST_S24IN32> : IntEnc<4, 24, false> {};
template <> struct Enc<KVST_S32> : IntEnc<4, 32, false> {};
template <> struct Enc<KVST_S32BE> : IntEnc<4, 32, true> {};
template <> struct Enc<KVST_FLOAT> : FloatEnc<float> {};
template <> struct Enc<KVST_DOUBLE> : FloatEnc<double> {};

// Full scale 2^(b-1) and its inverse, exact powers of two.
constexpr double FullScale(int bits) { return bits == 8 ? 128.0 : bits == 16 ? 32768.0 : bits == 24 ? 8388608.0 : 2147483648.0; }
constexpr double InvScale(int bits) { return 1.0 / FullScale(bits); }

// Sample i of type T as a fraction of full scale (v * 2^-(b-1) for integers,
// the value for float types).
template <int T>
double ReadFrac(const uint8_t* p, size_t i) {
  if constexpr (Enc<T>::isFloat)
    return Enc<T>::Read(p + i * Enc<T>::bytes);
  else
    return static_cast<double>(Enc<T>::Read(p + i * Enc<T>::bytes)) * InvScale(Enc<T>::bits);
}

// Writes a fraction as sample i of type T: integers at full scale, clipped
// and rounded half to even; float types rounded to the type, unclipped.
template <int T>
void WriteFrac(uint8_t* p, size_t i, double x) {
  if constexpr (Enc<T>::isFloat)
    Enc<T>::Write(p + i * Enc<T>::bytes, x);
  else
    Enc<T>::Write(p + i * Enc<T>::bytes,
                  KvClipRoundD(x * FullScale(Enc<T>::bits), -FullScale(Enc<T>::bits), FullScale(Enc<T>::bits) - 1.0));
}

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
  // Each sample: the source's fraction times the gain, at the destination's
  // full scale (left to right, in double precision).
  if (db > sb) {
    for (size_t i = static_cast<size_t>(count); i-- > 0;) WriteFrac<D>(d, i, ReadFrac<S>(s, i) * g);
  } else {
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) WriteFrac<D>(d, i, ReadFrac<S>(s, i) * g);
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

// One case a type: each instantiation is inlined, as the callers read and
// write sample by sample.
double KvAudio_ReadFraction(KVSAMPLETYPE type, const void* buf, size_t i) {
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  switch (type) {
    case KVST_U8: return ReadFrac<KVST_U8>(p, i);
    case KVST_S8: return ReadFrac<KVST_S8>(p, i);
    case KVST_S16: return ReadFrac<KVST_S16>(p, i);
    case KVST_S16BE: return ReadFrac<KVST_S16BE>(p, i);
    case KVST_S24: return ReadFrac<KVST_S24>(p, i);
    case KVST_S24BE: return ReadFrac<KVST_S24BE>(p, i);
    case KVST_S24IN32: return ReadFrac<KVST_S24IN32>(p, i);
    case KVST_S32: return ReadFrac<KVST_S32>(p, i);
    case KVST_S32BE: return ReadFrac<KVST_S32BE>(p, i);
    case KVST_FLOAT: return ReadFrac<KVST_FLOAT>(p, i);
    case KVST_DOUBLE: return ReadFrac<KVST_DOUBLE>(p, i);
    default: return 0.0;
  }
}

void KvAudio_WriteFraction(KVSAMPLETYPE type, void* buf, size_t i, double x) {
  uint8_t* p = static_cast<uint8_t*>(buf);
  switch (type) {
    case KVST_U8: WriteFrac<KVST_U8>(p, i, x); break;
    case KVST_S8: WriteFrac<KVST_S8>(p, i, x); break;
    case KVST_S16: WriteFrac<KVST_S16>(p, i, x); break;
    case KVST_S16BE: WriteFrac<KVST_S16BE>(p, i, x); break;
    case KVST_S24: WriteFrac<KVST_S24>(p, i, x); break;
    case KVST_S24BE: WriteFrac<KVST_S24BE>(p, i, x); break;
    case KVST_S24IN32: WriteFrac<KVST_S24IN32>(p, i, x); break;
    case KVST_S32: WriteFrac<KVST_S32>(p, i, x); break;
    case KVST_S32BE: WriteFrac<KVST_S32BE>(p, i, x); break;
    case KVST_FLOAT: WriteFrac<KVST_FLOAT>(p, i, x); break;
    case KVST_DOUBLE: WriteFrac<KVST_DOUBLE>(p, i, x); break;
    default: break;
  }
}
