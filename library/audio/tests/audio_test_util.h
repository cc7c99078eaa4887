// Helpers shared by the audio tests: an independent model of the sample
// encodings (written from the format tables, not from the library's code),
// fixture paths and floating-point control words.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kvaudio.h"
#include "vog_files.h"
#include "vog_paths.h"

namespace kvtest {

struct TypeInfo {
  KVSAMPLETYPE type;
  int bytes;
  int bits;  // full-scale bits; 0 for float types
  bool bigEndian;
  bool isUnsigned;
};

inline const std::vector<TypeInfo>& AllTypes() {
  static const std::vector<TypeInfo> t = {
      {KVST_U8, 1, 8, false, true},       {KVST_S16, 2, 16, false, false},   {KVST_S24, 3, 24, false, false},
      {KVST_S32, 4, 32, false, false},    {KVST_FLOAT, 4, 0, false, false},  {KVST_DOUBLE, 8, 0, false, false},
      {KVST_S24IN32, 4, 24, false, false}, {KVST_S8, 1, 8, false, false},    {KVST_S16BE, 2, 16, true, false},
      {KVST_S24BE, 3, 24, true, false},   {KVST_S32BE, 4, 32, true, false},
  };
  return t;
}

inline const TypeInfo& Info(KVSAMPLETYPE t) {
  for (const TypeInfo& i : AllTypes())
    if (i.type == t) return i;
  static TypeInfo none{KVST_NONE, 0, 0, false, false};
  return none;
}

// Encodes an integer value (already in range) into the type's bytes.
inline void EncodeInt(const TypeInfo& t, int64_t v, uint8_t* out) {
  uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
  if (t.isUnsigned) u ^= 0x80;
  int n = t.bytes;
  for (int i = 0; i < n; ++i) {
    uint8_t b = static_cast<uint8_t>(u >> (8 * i));
    if (t.type == KVST_S24IN32 && i == 3) b = (v < 0) ? 0xFF : 0x00;
    out[t.bigEndian ? n - 1 - i : i] = b;
  }
}

inline int64_t DecodeInt(const TypeInfo& t, const uint8_t* in) {
  uint32_t u = 0;
  int n = t.bytes;
  for (int i = 0; i < n; ++i) u |= static_cast<uint32_t>(in[t.bigEndian ? n - 1 - i : i]) << (8 * i);
  int shift = 32 - (t.type == KVST_S24IN32 ? 32 : n * 8);
  if (t.isUnsigned) u ^= 0x80;
  return static_cast<int32_t>(u << shift) >> shift;
}

// Rounds v * 2^e to the nearest integer, ties to even, in integer arithmetic.
inline int64_t RoundShift(int64_t v, int e) {
  if (e >= 0) return v * (int64_t(1) << e);
  int64_t d = int64_t(1) << (-e);
  int64_t q = v >= 0 ? v / d : -((-v + d - 1) / d);  // floor
  int64_t r = v - q * d;                            // 0 <= r < d
  if (2 * r > d || (2 * r == d && (q & 1))) ++q;
  return q;
}

inline int64_t Clip(int64_t v, int bits) {
  int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
  return v < lo ? lo : v > hi ? hi : v;
}

// Rounds a double half to even with the C library (independent of the
// library's magic-number rounding) and clips to the integer range.
inline int64_t RoundClipDouble(double x, int bits) {
  double lo = -std::ldexp(1.0, bits - 1), hi = std::ldexp(1.0, bits - 1) - 1;
  if (x < lo) x = lo;
  if (x > hi) x = hi;
  return static_cast<int64_t>(std::nearbyint(x));
}

using vogtest::FixturePath;

inline bool ReadFile(const std::string& path, std::vector<uint8_t>& out) { return vogtest::ReadBytes(path, out); }

inline bool WriteFile(const std::string& path, const void* data, size_t n) { return vogtest::WriteBytes(path, data, n); }

inline uint16_t X87ControlWord() {
  uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

// MXCSR control bits (rounding, masks, FTZ/DAZ); the sticky exception flags
// in the low 6 bits are status, not control.
inline uint32_t Mxcsr() {
  uint32_t v;
  __asm__ volatile("stmxcsr %0" : "=m"(v));
  return v & ~0x3Fu;
}

// An extensible header of a linear format (whole bytes per sample).
inline WAVEFORMATEXTENSIBLE MakeExt(WORD bits, WORD valid, WORD ch, DWORD mask, const GUID& sub,
                                    DWORD rate = 48000) {
  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.nChannels = ch;
  x.Format.nSamplesPerSec = rate;
  x.Format.wBitsPerSample = bits;
  x.Format.nBlockAlign = static_cast<WORD>(bits / 8 * ch);
  x.Format.nAvgBytesPerSec = x.Format.nBlockAlign * rate;
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = valid;
  x.dwChannelMask = mask;
  std::memcpy(&x.SubFormat, &sub, sizeof sub);
  return x;
}

// The bytes of a compressed format's header followed by cbSize zeroed extra
// bytes, for the caller to fill.
inline std::vector<uint8_t> MakeCompressedHeader(WORD tag, WORD ch, DWORD rate, DWORD avgBytes, WORD blockAlign,
                                                 WORD bits, WORD cbSize) {
  std::vector<uint8_t> hdr(18 + cbSize);
  WAVEFORMATEX w{};
  w.wFormatTag = tag;
  w.nChannels = ch;
  w.nSamplesPerSec = rate;
  w.nAvgBytesPerSec = avgBytes;
  w.nBlockAlign = blockAlign;
  w.wBitsPerSample = bits;
  w.cbSize = cbSize;
  std::memcpy(hdr.data(), &w, 18);
  return hdr;
}

}  // namespace kvtest
