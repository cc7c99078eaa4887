// libFuzzer target: random rates, types, channel counts, flags and block
// sizes through the sample-rate converter, with buffers exactly as large as
// the documented bounds (source: the count, or GetSrcFromDst of it with the
// count-is-destination flag; destination: floor(count * ratio) + 1 frames, or
// the count). The sanitizer sees any access past them.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kvresample.h"

namespace {
const KVSAMPLETYPE kTypes[] = {KVST_U8, KVST_S16, KVST_S24, KVST_S32, KVST_FLOAT, KVST_DOUBLE,
                               KVST_S24IN32, KVST_S8, KVST_S16BE, KVST_S24BE, KVST_S32BE};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) {
  if (n < 12) return 0;
  const KVSAMPLETYPE type = kTypes[d[0] % 11];
  const int ch = 1 + d[1] % 6;
  const int sr = 1 + ((d[2] | (d[3] << 8)) % 200000);
  const int dr = 1 + ((d[4] | (d[5] << 8)) % 200000);
  DWORD flags = (d[6] & 0x3) | (d[6] & 0x30) | ((d[6] & 0x40) ? 0x1000 : 0) | ((d[6] & 0x80) ? 0x2000 : 0);
  // Ratios of real rate pairs; larger ones only make the runs slow.
  if (dr > 16 * sr || sr > 16 * dr) return 0;
  tKVRESAMPLEINSTANCE* rs = nullptr;
  if (KvAudio_ResampleOpen(&rs, type, sr, dr, ch, flags) != S_OK) return 0;
  const size_t sb = KvAudio_BytesFromSampleType(type) * ch;
  const double ratio = static_cast<double>(dr) / sr;
  size_t at = 7;
  for (int block = 0; block < 6 && at < n; ++block) {
    int32_t count = 1 + d[at++] % 97;
    size_t srcFrames, dstFrames;
    if (flags & 0x1000) {
      int64_t need = KvAudio_ResampleGetSrcFromDst(rs, count);
      if (need < 0 || need > 100000) break;
      srcFrames = static_cast<size_t>(need);
      dstFrames = static_cast<size_t>(count);
    } else {
      srcFrames = static_cast<size_t>(count);
      double cap = std::floor(count * ratio) + 1;
      if (cap > 1e6) break;
      dstFrames = static_cast<size_t>(cap);
    }
    uint8_t* src = static_cast<uint8_t*>(std::malloc(srcFrames * sb + 1));
    uint8_t* dst = static_cast<uint8_t*>(std::malloc(dstFrames * sb + 1));
    for (size_t i = 0; i < srcFrames * sb; ++i) src[i] = d[(at + i) % n];
    // Float data stays finite (NaN bytes are fine too, but keep it audio).
    if (type == KVST_FLOAT)
      for (size_t i = 0; i < srcFrames * ch; ++i) reinterpret_cast<float*>(src)[i] = (src[4 * i] - 128) / 128.0f;
    if (type == KVST_DOUBLE)
      for (size_t i = 0; i < srcFrames * ch; ++i) reinterpret_cast<double*>(src)[i] = (src[8 * i] - 128) / 128.0;
    int64_t got = KvAudio_ResampleEx(rs, dst, src, count);
    if (got < 0 || static_cast<size_t>(got) > dstFrames) __builtin_trap();
    std::free(src);
    std::free(dst);
  }
  KvAudio_ResampleClose(rs);
  return 0;
}
