// Self-test of the conversion routines: every value of the 8-, 16- and 24-bit
// types goes to float or double and back, with half an LSB added on the way
// (the round-half-even model of an integer offset), and must come back equal
// to the model. The user-interface part (wait cursor, message box) lives in
// the Windows-only file; natively the test only returns its result.
#include <cstdio>
#include <cstring>
#include <string>

#include "kvaudio_selftest.h"
#include "kvconvert.h"

namespace {

enum Routine { kGeneric, kX87, kSse, kSse2 };

struct Node {
  KVSAMPLETYPE type, via;
  Routine forward, backward;
  int32_t minLevel;
};

// Nodes 14-19 name the x87 versions, which are not carried; they take what
// the dispatch hands out at level 2, the generic routine.
const Node kNodes[26] = {
    {KVST_U8, KVST_FLOAT, kGeneric, kGeneric, 0},      {KVST_S8, KVST_FLOAT, kGeneric, kGeneric, 0},
    {KVST_S16, KVST_FLOAT, kGeneric, kGeneric, 0},     {KVST_S16BE, KVST_FLOAT, kGeneric, kGeneric, 0},
    {KVST_S24, KVST_FLOAT, kGeneric, kGeneric, 0},     {KVST_S24BE, KVST_FLOAT, kGeneric, kGeneric, 0},
    {KVST_S24IN32, KVST_FLOAT, kGeneric, kGeneric, 0}, {KVST_U8, KVST_DOUBLE, kGeneric, kGeneric, 0},
    {KVST_S8, KVST_DOUBLE, kGeneric, kGeneric, 0},     {KVST_S16, KVST_DOUBLE, kGeneric, kGeneric, 0},
    {KVST_S16BE, KVST_DOUBLE, kGeneric, kGeneric, 0},  {KVST_S24, KVST_DOUBLE, kGeneric, kGeneric, 0},
    {KVST_S24BE, KVST_DOUBLE, kGeneric, kGeneric, 0},  {KVST_S24IN32, KVST_DOUBLE, kGeneric, kGeneric, 0},
    {KVST_U8, KVST_FLOAT, kGeneric, kX87, 2},          {KVST_S16, KVST_FLOAT, kGeneric, kX87, 2},
    {KVST_S24, KVST_FLOAT, kGeneric, kX87, 2},         {KVST_U8, KVST_DOUBLE, kGeneric, kX87, 2},
    {KVST_S16, KVST_DOUBLE, kGeneric, kX87, 2},        {KVST_S24, KVST_DOUBLE, kGeneric, kX87, 2},
    {KVST_U8, KVST_FLOAT, kGeneric, kSse, 5},          {KVST_S16, KVST_FLOAT, kSse, kSse, 5},
    {KVST_S24, KVST_FLOAT, kGeneric, kSse, 5},         {KVST_S16, KVST_FLOAT, kSse2, kSse, 6},
    {KVST_U8, KVST_DOUBLE, kGeneric, kSse2, 6},        {KVST_S16, KVST_DOUBLE, kSse2, kSse2, 6},
};

tKvAudioCopyFunc Pick(KVSAMPLETYPE dst, KVSAMPLETYPE src, Routine r) {
  if (r == kSse) {
    if (src == KVST_FLOAT && dst == KVST_U8) return KvCvt_F32ToU8_Sse;
    if (src == KVST_FLOAT && dst == KVST_S16) return KvCvt_F32ToS16_Sse;
    if (src == KVST_FLOAT && dst == KVST_S24) return KvCvt_F32ToS24_Sse;
    if (src == KVST_S16 && dst == KVST_FLOAT) return KvCvt_S16ToF32_Sse;
  }
  if (r == kSse2) {
    if (src == KVST_DOUBLE && dst == KVST_U8) return KvCvt_F64ToU8_Sse2;
    if (src == KVST_DOUBLE && dst == KVST_S16) return KvCvt_F64ToS16_Sse2;
    if (src == KVST_DOUBLE && dst == KVST_S24) return KvCvt_F64ToS24_Sse2;
    if (src == KVST_S16 && dst == KVST_FLOAT) return KvCvt_S16ToF32_Sse2;
    if (src == KVST_S16 && dst == KVST_DOUBLE) return KvCvt_S16ToF64_Sse2;
  }
  return KvConvert_Generic(dst, src);
}

int Bits(KVSAMPLETYPE t) { return t == KVST_S24IN32 ? 24 : static_cast<int>(KvAudio_BitsFromSampleType(t)); }

double FullScale(int bits) { return bits >= 32 ? 2147483648.0 : static_cast<double>(int64_t(1) << (bits - 1)); }

int64_t ReadInt(KVSAMPLETYPE t, const void* buf, size_t i) {
  return static_cast<int64_t>(KvAudio_ReadFraction(t, buf, i) * FullScale(Bits(t)));
}
void WriteInt(KVSAMPLETYPE t, void* buf, size_t i, double v) {
  KvAudio_WriteFraction(t, buf, i, v / FullScale(Bits(t)));
}

// Writes n consecutive values from start - 2^(bits-1), clamped to the type.
size_t FillNode(KVSAMPLETYPE t, int64_t start, void* buf, size_t n) {
  switch (t) {
    case KVST_U8: case KVST_S16: case KVST_S24: case KVST_S32: case KVST_S24IN32:
    case KVST_S8: case KVST_S16BE: case KVST_S24BE: case KVST_S32BE: break;
    default: return 0;
  }
  const int bits = (t == KVST_S32 || t == KVST_S32BE) ? 32 : Bits(t);
  const double lo = -FullScale(bits), hi = FullScale(bits) - 1;
  for (size_t i = 0; i < n; ++i) {
    double v = static_cast<double>(start + static_cast<int64_t>(i)) - FullScale(bits);
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    WriteInt(t, buf, i, v);
  }
  return n;
}

// Adds offset LSB: float samples gain offset * lsb (clamped to +-1.0);
// integer samples gain the round-half-even model of the same offset.
void ApplyOffset(KVSAMPLETYPE it, void* ibuf, KVSAMPLETYPE ft, void* fbuf, size_t n, double offset) {
  const int bits = Bits(it);
  const double lsb = (bits >= 0 && bits <= 31) ? 2.0 / static_cast<double>(int64_t(1) << bits) : 2.0 / 4294967295.0;
  const double step = offset * lsb;
  for (size_t i = 0; i < n && (ft == KVST_FLOAT || ft == KVST_DOUBLE); ++i) {
    double x = KvAudio_ReadFraction(ft, fbuf, i) + step;
    if (x < -1.0) x = -1.0;
    if (x > 1.0) x = 1.0;
    KvAudio_WriteFraction(ft, fbuf, i, x);
  }
  const int64_t t = static_cast<int64_t>(offset);
  const double frac = offset - static_cast<double>(t);
  const double mag = frac < 0 ? -frac : frac;
  const int64_t up = t >= 0 ? t + 1 : t - 1;
  const int64_t odd = mag >= 0.5 ? up : t;
  const int64_t even = mag > 0.5 ? up : t;
  const double lo = -FullScale(bits), hi = FullScale(bits) - 1;
  for (size_t i = 0; i < n; ++i) {
    int64_t s = ReadInt(it, ibuf, i);
    double v = static_cast<double>(s + ((s & 1) ? odd : even));
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    WriteInt(it, ibuf, i, v);
  }
}

}  // namespace

HRESULT KvAudioCopy_RunSelfTest(KvAudioSelfTestReport* report) {
  const int32_t level = static_cast<int32_t>(KvAudioCpu_GetSupport(15));
  HRESULT result = S_OK;
  for (int idx = 0; idx < 26; ++idx) {
    const Node& nd = kNodes[idx];
    if (level < nd.minLevel) continue;
    if (report) ++report->nodesRun;
    const int bits = Bits(nd.type);
    const size_t bytes = KvAudio_BytesFromSampleType(nd.type);
    const size_t ibytes = KvAudio_BytesFromSampleType(nd.via);
    const int64_t total = int64_t(1) << bits;
    const size_t chunk = static_cast<size_t>(total < 65536 ? total : 65536);
    BYTE* src = static_cast<BYTE*>(KvAudioMem_Alloc(chunk * bytes));
    BYTE* res = static_cast<BYTE*>(KvAudioMem_Alloc(chunk * bytes));
    BYTE* mid = static_cast<BYTE*>(KvAudioMem_Alloc(chunk * ibytes));
    if (!src || !res || !mid) {
      KvAudioMem_Free(src);
      KvAudioMem_Free(res);
      KvAudioMem_Free(mid);
      result = E_OUTOFMEMORY;
      break;
    }
    tKvAudioCopyFunc fwd = Pick(nd.via, nd.type, nd.forward);
    tKvAudioCopyFunc back = Pick(nd.type, nd.via, nd.backward);
    for (int64_t start = 0; start < total; start += static_cast<int64_t>(chunk)) {
      size_t n = static_cast<size_t>(total - start < static_cast<int64_t>(chunk) ? total - start : chunk);
      if (FillNode(nd.type, start, src, n) == 0) {
        result = E_UNEXPECTED;
        break;
      }
      fwd(mid, src, static_cast<int32_t>(n), 1.0f);
      ApplyOffset(nd.type, src, nd.via, mid, n, 0.5);
      back(res, mid, static_cast<int32_t>(n), 1.0f);
      if (std::memcmp(res, src, n * bytes) != 0) {
        if (report) {
          report->failedNodes.push_back(idx);
          char line[64];
          std::snprintf(line, sizeof line, "KvAudioCopy_UnitTest node[%d] failed.", idx);
          report->details += line;
          report->details += "\r\n";
        }
        result = E_UNEXPECTED;
        break;
      }
    }
    KvAudioMem_Free(src);
    KvAudioMem_Free(res);
    KvAudioMem_Free(mid);
  }
  return result;
}

#ifndef _WIN32
// Natively there is no user interface: the owner window is not used.
extern "C" HRESULT KVAPI KvAudioCopy_UnitTest(void*) { return KvAudioCopy_RunSelfTest(nullptr); }
#endif
