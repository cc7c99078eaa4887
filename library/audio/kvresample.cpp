// Sample-rate converter.
//
// Block joins: a block of srcCount frames yields the destination frames whose
// positions phase + j * step lie at or before its last frame (srcCount - 1);
// the next block starts at the first position past it, so the carried phase
// always lies in (-1, step - 1] and a negative phase interpolates between the
// previous block's last frame (at -1) and frame 0. Joined blocks therefore
// give exactly the frames of one call over the concatenated input, and a
// ratio of 1 copies every frame.
#include "kvresample.h"

#include <cmath>
#include <cstring>
#include <new>

#include "kviir.h"
#include "kvaudio_internal.h"

namespace {

const int kRing = 25;
const int kTable = 1000;

bool IsFloatType(KVSAMPLETYPE t) { return t == KVST_FLOAT || t == KVST_DOUBLE; }

// Integer types with an exact rational kernel (when the instance has rates).
bool IsRationalType(KVSAMPLETYPE t) {
  return t == KVST_U8 || t == KVST_S16 || t == KVST_S24 || t == KVST_S32 || t == KVST_S24IN32;
}

bool UsesRational(const tKVRESAMPLEINSTANCE* in) {
  return IsRationalType(in->type) && in->srcRate > 0 && in->dstRate > 0 &&
         in->ratio == static_cast<double>(in->dstRate) / in->srcRate;
}

size_t FrameBytes(const tKVRESAMPLEINSTANCE* in) {
  return KvAudio_BytesFromSampleType(in->type) * static_cast<size_t>(in->channels);
}

// ---- windowed-sinc table ----------------------------------------------------
// sin(pi x)/(pi x) times the right half of a four-term Blackman-Harris window
// spanning +-13, at x = 0.013 k. Built once; never freed (8 KB).
struct SincTable {
  double t[kTable];
  SincTable() {
    const double pi = 3.14159265358979323846;
    t[0] = 1.0;
    for (int k = 1; k < kTable; ++k) {
      double x = 0.013 * k, phi = pi + pi * x / 13;
      double w = 0.35875 - 0.48829 * std::cos(phi) + 0.14128 * std::cos(2 * phi) - 0.01168 * std::cos(3 * phi);
      t[k] = std::sin(pi * x) / (pi * x) * w;
    }
  }
};
const SincTable& Table() {
  static const SincTable table;
  return table;
}

inline double Window(const double* T, double scale, double d) {
  double x = std::fabs(d) * scale;
  int n = KvRoundHalfEven(x - 0.499999985);
  if (n > kTable - 2) n = kTable - 2;
  if (n < 0) n = 0;
  return T[n] + (x - n) * (T[n + 1] - T[n]);
}

// ---- sample access ---------------------------------------------------------

inline int64_t ReadInt(KVSAMPLETYPE t, const BYTE* p) {
  switch (t) {
    case KVST_U8: return static_cast<int8_t>(p[0] ^ 0x80);
    case KVST_S16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case KVST_S24: return KvAudio_UnpackInt24(p);
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

inline void WriteInt(KVSAMPLETYPE t, BYTE* p, int64_t v) {
  switch (t) {
    case KVST_U8: p[0] = static_cast<BYTE>(static_cast<int32_t>(v) ^ 0x80); break;
    case KVST_S16: {
      int16_t w = static_cast<int16_t>(v);
      std::memcpy(p, &w, 2);
      break;
    }
    case KVST_S24:
      p[0] = static_cast<BYTE>(v);
      p[1] = static_cast<BYTE>(v >> 8);
      p[2] = static_cast<BYTE>(v >> 16);
      break;
    default: {
      int32_t w = static_cast<int32_t>(v);
      std::memcpy(p, &w, 4);
      break;
    }
  }
}

double FullScale(KVSAMPLETYPE t) {
  switch (t) {
    case KVST_U8: case KVST_S8: return 128.0;
    case KVST_S16: case KVST_S16BE: return 32768.0;
    case KVST_S24: case KVST_S24BE: case KVST_S24IN32: return 8388608.0;
    case KVST_S32: case KVST_S32BE: return 2147483648.0;
    default: return 1.0;
  }
}

// ---- filters ---------------------------------------------------------------

bool FilterInUse(const tKVRESAMPLEINSTANCE* in) {
  return in->quality != 0 && in->filter != nullptr && in->filterCount > 0 && in->filter[0].getNumBiquads() > 0;
}

unsigned OrderFromQuality(uint32_t q) {
  switch (q) {
    case 0x10: return 2;
    case 0x20: return 4;
    case 0x30: return 6;
    default: return 0;
  }
}

// One filter per channel pair: with more than two channels every channel is
// filtered, not only the first two.
void DesignFilters(tKVRESAMPLEINSTANCE* in) {
  if (!in->filter) return;
  unsigned order = OrderFromQuality(in->quality);
  double cutoff = in->ratio < 1 ? 0.5 * in->ratio : 0.5 / in->ratio;
  for (uint32_t k = 0; k < in->filterCount; ++k) {
    in->filter[k] = CKvIIR();
    if (order && cutoff > 0)
      in->filter[k].Design(KVIIR_LOWPASS, KVIIR_CHEBYSHEV, order, cutoff, 1.0, 0.0,
                           static_cast<unsigned>(in->channels), 0);
  }
}

void RunFilters(tKVRESAMPLEINSTANCE* in, void* buf, size_t frames) {
  for (uint32_t k = 0; k < in->filterCount; ++k) {
    unsigned long mask = (2 * k + 1 < static_cast<uint32_t>(in->channels)) ? 3 : 1;
    if (in->type == KVST_FLOAT)
      in->filter[k].ProcessFloat(static_cast<float*>(buf) + 2 * k, static_cast<float*>(buf) + 2 * k,
                                 static_cast<unsigned>(frames), mask);
    else
      in->filter[k].ProcessDouble(static_cast<double*>(buf) + 2 * k, static_cast<double*>(buf) + 2 * k,
                                  static_cast<unsigned>(frames), mask);
  }
}

bool AllocFilters(tKVRESAMPLEINSTANCE* in) {
  delete[] in->filter;
  in->filter = nullptr;
  in->filterCount = 0;
  if (!IsFloatType(in->type)) return true;
  uint32_t n = static_cast<uint32_t>(in->channels + 1) / 2;
  in->filter = new (std::nothrow) CKvIIR[n];
  if (!in->filter) return false;
  in->filterCount = n;
  return true;
}

bool AllocRings(tKVRESAMPLEINSTANCE* in) {
  KvAudioMem_Free(in->rings);
  in->rings = nullptr;
  if (in->mode != 3 || !IsFloatType(in->type)) return true;
  in->rings = static_cast<double*>(KvAudioMem_Alloc(sizeof(double) * kRing * static_cast<size_t>(in->channels)));
  return in->rings != nullptr;
}

void SyncIntegerPhase(tKVRESAMPLEINSTANCE* in) {
  in->iphase = in->dstRate > 0 ? static_cast<int64_t>(std::llround(in->phase * in->dstRate)) : 0;
}

void ClearStreamState(tKVRESAMPLEINSTANCE* in) {
  if (in->rings) std::memset(in->rings, 0, sizeof(double) * kRing * static_cast<size_t>(in->channels));
  in->first = 1;
  in->ringPos = 0;
  in->sincAcc = 0;
  in->primed = 0;
  std::memset(in->prev, 0, sizeof in->prev);
  in->phase = 0;
  in->iphase = 0;
  in->srcPos = in->dstPos = in->srcOffset = in->dstOffset = 0;
  for (uint32_t k = 0; k < in->filterCount; ++k) in->filter[k].ResetAll();
}

// ---- frame counts ------------------------------------------------------------

// Number of positions phase + j * step (j >= 0) at or before lastPos.
int64_t PositionsUpTo(double phase, double step, double lastPos) {
  if (phase > lastPos) return 0;
  int64_t n = static_cast<int64_t>(std::floor((lastPos - phase) / step)) + 1;
  while (n > 0 && phase + static_cast<double>(n - 1) * step > lastPos) --n;
  while (phase + static_cast<double>(n) * step <= lastPos) ++n;
  return n;
}

int64_t SrcFromDst(const tKVRESAMPLEINSTANCE* in, int64_t dst) {
  int64_t n = KvRoundHalfEven(static_cast<double>(dst) * in->step + in->phase + 0.499999985);
  if (in->step < 1) ++n;
  return n;
}

// ---- linear kernels ----------------------------------------------------------

// Float-valued kernel: every type, read and written as fractions of full
// scale (integer destinations round half to even).
void LinearDouble(tKVRESAMPLEINSTANCE* in, BYTE* dst, const BYTE* src, int64_t srcCount, int64_t dstCount,
                  int64_t consumed, bool filter) {
  const KVSAMPLETYPE t = in->type;
  const int ch = in->channels;
  const double step = in->step, phase = in->phase;
  const bool decimating = step >= 1;
  if (decimating && filter && (!in->keepSource || dst == src)) RunFilters(in, const_cast<BYTE*>(src), srcCount);
  double saved[KVRESAMPLE_MAX_CHANNELS];
  const int64_t keepIdx = consumed > 0 ? consumed - 1 : -1;
  for (int c = 0; c < ch; ++c)
    saved[c] = keepIdx >= 0 ? KvAudio_ReadFraction(t, src, static_cast<size_t>(keepIdx * ch + c)) : in->prev[c];
  // In place when decimating: the forward walk would overwrite source frames
  // that a later destination frame may still read, so read from a copy.
  BYTE* scratch = nullptr;
  if (decimating && dst == src && srcCount > 0) {
    size_t bytes = static_cast<size_t>(srcCount) * FrameBytes(in);
    scratch = static_cast<BYTE*>(KvAudioMem_Alloc(bytes));
    if (scratch) {
      std::memcpy(scratch, src, bytes);
      src = scratch;
    }
  }
  auto frame = [&](int64_t j) {
    double pos = phase + static_cast<double>(j) * step;
    double v[KVRESAMPLE_MAX_CHANNELS];
    if (pos < 0) {
      const double w = 1 + pos;
      for (int c = 0; c < ch; ++c) {
        double s0 = KvAudio_ReadFraction(t, src, static_cast<size_t>(c));
        v[c] = in->prev[c] + (s0 - in->prev[c]) * w;
      }
    } else {
      int64_t i = static_cast<int64_t>(pos);
      double f = pos - static_cast<double>(i);
      for (int c = 0; c < ch; ++c) {
        double a = KvAudio_ReadFraction(t, src, static_cast<size_t>(i * ch + c));
        v[c] = f == 0 ? a : a + f * (KvAudio_ReadFraction(t, src, static_cast<size_t>((i + 1) * ch + c)) - a);
      }
    }
    for (int c = 0; c < ch; ++c) KvAudio_WriteFraction(t, dst, static_cast<size_t>(j * ch + c), v[c]);
  };
  if (decimating) {
    for (int64_t j = 0; j < dstCount; ++j) frame(j);
  } else {
    // Backwards, so that dst may overlap the start of src.
    for (int64_t j = dstCount; j-- > 0;) frame(j);
    if (filter) RunFilters(in, dst, static_cast<size_t>(dstCount));
  }
  KvAudioMem_Free(scratch);
  in->phase = phase + static_cast<double>(dstCount) * step - static_cast<double>(consumed);
  SyncIntegerPhase(in);
  for (int c = 0; c < ch; ++c) in->prev[c] = saved[c];
}

// Exact rational kernel of the integer types: the position numerator
// advances by the source rate per destination frame, in units of
// 1/dstRate; a + ((b - a) * r) / dstRate truncates toward zero.
void LinearRational(tKVRESAMPLEINSTANCE* in, BYTE* dst, const BYTE* src, int64_t dstCount, int64_t consumed) {
  const KVSAMPLETYPE t = in->type;
  const int ch = in->channels;
  const size_t sb = KvAudio_BytesFromSampleType(t);
  const int64_t sr = in->srcRate, dr = in->dstRate, ip = in->iphase;
  const double F = FullScale(t);
  int64_t prev[KVRESAMPLE_MAX_CHANNELS], saved[KVRESAMPLE_MAX_CHANNELS];
  for (int c = 0; c < ch; ++c) prev[c] = static_cast<int64_t>(in->prev[c] * F);
  const int64_t keepIdx = consumed > 0 ? consumed - 1 : -1;
  for (int c = 0; c < ch; ++c) saved[c] = keepIdx >= 0 ? ReadInt(t, src + (keepIdx * ch + c) * sb) : prev[c];
  const bool decimating = sr >= dr;
  BYTE* scratch = nullptr;
  if (decimating && dst == src && consumed > 0) {
    size_t bytes = static_cast<size_t>(consumed) * sb * ch;
    scratch = static_cast<BYTE*>(KvAudioMem_Alloc(bytes + sb * ch));
    if (scratch) {
      std::memcpy(scratch, src, bytes);
      src = scratch;
    }
  }
  auto frame = [&](int64_t j) {
    int64_t num = ip + j * sr;
    int64_t i = num >= 0 ? num / dr : -1;
    int64_t r = num - i * dr;
    int64_t v[KVRESAMPLE_MAX_CHANNELS];
    for (int c = 0; c < ch; ++c) {
      int64_t a = i < 0 ? prev[c] : ReadInt(t, src + (i * ch + c) * sb);
      if (r == 0) {
        v[c] = a;
      } else {
        int64_t b = ReadInt(t, src + ((i + 1) * ch + c) * sb);
        v[c] = a + ((b - a) * r) / dr;
      }
    }
    for (int c = 0; c < ch; ++c) WriteInt(t, dst + (j * ch + c) * sb, v[c]);
  };
  if (decimating) {
    for (int64_t j = 0; j < dstCount; ++j) frame(j);
  } else {
    for (int64_t j = dstCount; j-- > 0;) frame(j);
  }
  KvAudioMem_Free(scratch);
  in->iphase = ip + dstCount * sr - consumed * dr;
  in->phase = static_cast<double>(in->iphase) / static_cast<double>(dr);
  for (int c = 0; c < ch; ++c) in->prev[c] = static_cast<double>(saved[c]) / F;
}

// ---- windowed sinc -------------------------------------------------------------
// Rings of the 25 most recent source frames; the newest fed frame stands at
// position sincAcc + 12, so a destination frame at position x is computed
// once frames up to x + 12 are fed. Positions advance by the instance step
// and carry over between blocks, so streamed output keeps the exact rate.

int64_t SincKernel(tKVRESAMPLEINSTANCE* in, BYTE* dst, const BYTE* src, int64_t budget, int64_t cap) {
  const KVSAMPLETYPE t = in->type;
  const int ch = in->channels;
  const double* T = Table().t;
  const double scale = in->tableScale;
  if (in->first) {
    // Unprimed rings hold silence before frame 0; frames 0..12 are fed on
    // demand by the first destination frame.
    std::memset(in->rings, 0, sizeof(double) * kRing * static_cast<size_t>(ch));
    in->ringPos = 0;
    in->sincAcc = -13;
    in->phase = 0;
    in->primed = 0;
    in->first = 0;
  }
  int64_t fed = 0, produced = 0;
  auto feed = [&]() {
    in->ringPos = (in->ringPos + kRing - 1) % kRing;
    for (int c = 0; c < ch; ++c)
      in->rings[c * kRing + in->ringPos] = KvAudio_ReadFraction(t, src, static_cast<size_t>(fed * ch + c));
    ++fed;
    in->sincAcc += 1;
    if (in->primed < kRing) ++in->primed;
  };
  double x = in->phase;
  while (produced < cap) {
    bool ok = true;
    while (x - in->sincAcc - 1 >= 0) {
      if (fed >= budget) {
        ok = false;
        break;
      }
      feed();
    }
    if (!ok) break;
    const double f = x - in->sincAcc;
    double w[kRing];
    for (int k = 0; k < kRing; ++k) w[k] = Window(T, scale, 12 - f - k);
    for (int c = 0; c < ch; ++c) {
      const double* ring = in->rings + c * kRing;
      double sum = 0;
      for (int k = 0; k < kRing; ++k) sum += ring[(in->ringPos + k) % kRing] * w[k];
      KvAudio_WriteFraction(t, dst, static_cast<size_t>(produced * ch + c), sum);
    }
    ++produced;
    x = in->phase + static_cast<double>(produced) * in->step;
  }
  while (fed < budget) feed();
  // Keep positions small: shift both by the (integral) accumulator.
  const double shift = in->sincAcc;
  in->phase = x - shift;
  in->sincAcc = 0;
  return produced;
}

}  // namespace

// ---- open, close, reset ----------------------------------------------------------

extern "C" HRESULT KVAPI KvAudio_ResampleOpen(tKVRESAMPLEINSTANCE** out, KVSAMPLETYPE type, int32_t srcRate,
                                              int32_t dstRate, int32_t channels, DWORD flags) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // The previous frame holds 32 channels; rates must be positive.
  if (channels < 1 || channels > KVRESAMPLE_MAX_CHANNELS || srcRate < 1 || dstRate < 1) return E_INVALIDARG;
  // Only the linear sample types can be converted.
  if (KvAudio_TypeIndex(type) < 0) return E_INVALIDARG;
  tKVRESAMPLEINSTANCE* in = static_cast<tKVRESAMPLEINSTANCE*>(KvAudioMem_Alloc(sizeof(tKVRESAMPLEINSTANCE)));
  if (!in) return E_OUTOFMEMORY;
  in->type = type;
  in->channels = channels;
  in->srcRate = srcRate;
  in->dstRate = dstRate;
  in->ratio = static_cast<double>(dstRate) / srcRate;
  in->step = 1 / in->ratio;
  in->phase = 0;
  in->reserved = flags & 0xF00;
  in->quality = flags & KVRESAMPLE_QUALITY_MASK;
  in->mode = flags & KVRESAMPLE_MODE_MASK;
  in->countIsDst = (flags & KVRESAMPLE_COUNT_IS_DST) ? 1 : 0;
  in->keepSource = (flags & KVRESAMPLE_KEEP_SOURCE) ? 1 : 0;
  in->first = 1;
  in->tableScale = 1000.0 / 13.0;
  if (!IsFloatType(type)) {
    // No filter and no windowed sinc for the other types.
    if (in->mode == 3 || in->quality != 0) {
      if (in->mode == 3) in->mode = 2;
      in->quality = 0;
    }
  }
  if (!AllocFilters(in) || !AllocRings(in)) {
    KvAudio_ResampleClose(in);
    return E_OUTOFMEMORY;
  }
  DesignFilters(in);
  if (in->mode == 3 && IsFloatType(type)) Table();
  *out = in;
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_ResampleOpenEx(tKVRESAMPLEINSTANCE** out, KVSAMPLETYPE type, int32_t channels,
                                                double ratio, DWORD flags) {
  if (!(ratio > 0) || !std::isfinite(ratio)) return E_INVALIDARG;
  HRESULT hr = KvAudio_ResampleOpen(out, type, 1, 1, channels, flags);
  if (FAILED(hr)) return hr;
  (*out)->phase = 0;
  (*out)->step = 1 / ratio;
  hr = KvAudio_ResampleResetEx(*out, KVST_NONE, ratio, 0, TRUE);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

extern "C" HRESULT KVAPI KvAudio_ResampleClose(tKVRESAMPLEINSTANCE* in) {
  if (!in) return S_OK;
  delete[] in->filter;
  KvAudioMem_Free(in->rings);
  KvAudioMem_Free(in);
  return S_OK;
}

namespace {

HRESULT ResetCommon(tKVRESAMPLEINSTANCE* in, KVSAMPLETYPE type, int32_t channels, bool full, bool isEx,
                    int32_t srcRate, int32_t dstRate, double ratio) {
  // Delay elements of the filters, restored after a redesign.
  CKvIIR saved[(KVRESAMPLE_MAX_CHANNELS + 1) / 2];
  for (uint32_t k = 0; k < in->filterCount; ++k) saved[k] = in->filter[k];
  bool realloc = false;
  if (type != KVST_NONE && KvAudio_TypeIndex(type) < 0) return E_INVALIDARG;
  if (type != KVST_NONE) {
    if (isEx && !IsFloatType(in->type)) in->quality = 0;
    if (type != in->type) realloc = true;
    in->type = type;
    if (!IsFloatType(type)) {
      in->quality = 0;
      if (in->mode == 3) in->mode = 2;
    }
  }
  if (channels >= 1 && channels != in->channels) {
    if (channels > KVRESAMPLE_MAX_CHANNELS) return E_INVALIDARG;
    in->channels = channels;
    realloc = true;
    full = true;
  }
  if (realloc && (!AllocFilters(in) || !AllocRings(in))) {
    KvAudio_ResampleClose(in);
    return E_OUTOFMEMORY;
  }
  bool redesign = realloc;
  if (!isEx) {
    if (srcRate > 0 || dstRate >= 1) {
      if (srcRate > 0) in->srcRate = srcRate;
      if (dstRate >= 1) in->dstRate = dstRate;
      in->ratio = static_cast<double>(in->dstRate) / in->srcRate;
      in->step = 1 / in->ratio;
      in->srcPos = in->dstPos = 0;
      SyncIntegerPhase(in);
      redesign = true;
    }
  } else if (ratio > 0 && ratio != in->ratio) {
    in->ratio = ratio;
    in->step = 1 / ratio;
    in->srcPos = in->dstPos = 0;
    redesign = true;
  }
  if (redesign || full) DesignFilters(in);
  if (!full) {
    if (!realloc)
      for (uint32_t k = 0; k < in->filterCount; ++k) in->filter[k].SetDelayElementsFrom(&saved[k]);
    return S_OK;
  }
  ClearStreamState(in);
  return S_OK;
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_ResampleReset(tKVRESAMPLEINSTANCE* in, KVSAMPLETYPE type, int32_t srcRate,
                                               int32_t dstRate, int32_t channels, BOOL fullReset) {
  if (!in) return E_POINTER;
  return ResetCommon(in, type, channels, fullReset != 0, false, srcRate, dstRate, 0);
}

extern "C" HRESULT KVAPI KvAudio_ResampleResetEx(tKVRESAMPLEINSTANCE* in, KVSAMPLETYPE type, double ratio,
                                                 int32_t channels, BOOL fullReset) {
  if (!in) return E_POINTER;
  return ResetCommon(in, type, channels, fullReset != 0, true, 0, 0, ratio);
}

// ---- conversion ------------------------------------------------------------------

extern "C" int64_t KVAPI KvAudio_ResampleEx(tKVRESAMPLEINSTANCE* in, void* dstv, const void* srcv, int32_t count) {
  if (!in || count <= 0) return 0;
  if (in->mode <= 1) in->quality = 0;
  if (in->mode >= 4) return 0;
  BYTE* dst = static_cast<BYTE*>(dstv);
  const BYTE* src = static_cast<const BYTE*>(srcv);
  const bool rational = UsesRational(in);
  int64_t srcCount, dstCount;
  if (in->countIsDst) {
    dstCount = count;
    srcCount = SrcFromDst(in, count);
  } else {
    srcCount = count;
    if (rational) {
      int64_t span = (srcCount - 1) * in->dstRate - in->iphase;
      dstCount = span < 0 ? 0 : span / in->srcRate + 1;
    } else {
      dstCount = PositionsUpTo(in->phase, in->step, static_cast<double>(srcCount - 1));
    }
  }
  const int64_t consumed = (in->countIsDst && in->step < 1) ? srcCount - 1 : srcCount;
  if (in->ratio == 1.0) {
    if (dst != src) std::memmove(dst, src, static_cast<size_t>(dstCount) * FrameBytes(in));
    in->srcPos += srcCount;
    in->dstPos += dstCount;
    return dstCount;
  }
  int64_t produced;
  if (in->mode == 3 && IsFloatType(in->type)) {
    if (dst == src) return 0;
    // Decimating: the source is band-limited to the destination's Nyquist
    // frequency first (the filter is designed for the source rate then).
    if (in->step > 1 && FilterInUse(in) && !in->keepSource) RunFilters(in, const_cast<BYTE*>(src), srcCount);
    int64_t cap = in->countIsDst ? count : static_cast<int64_t>(std::floor(srcCount * in->ratio)) + 1;
    produced = SincKernel(in, dst, src, consumed, cap);
  } else if (rational) {
    LinearRational(in, dst, src, dstCount, consumed);
    produced = dstCount;
  } else {
    LinearDouble(in, dst, src, srcCount, dstCount, consumed, IsFloatType(in->type) && FilterInUse(in));
    produced = dstCount;
  }
  in->srcPos += consumed;
  in->dstPos += produced;
  return produced;
}

extern "C" int32_t KVAPI KvAudio_Resample_Sinc(KVSAMPLETYPE type, int channels, void* dst, int32_t dstCount,
                                               const void* src, int32_t srcCount, tKVRESAMPLEINSTANCE* in) {
  if (!in || !IsFloatType(type) || type != in->type || channels != in->channels || !in->rings || dst == src ||
      srcCount < 0 || dstCount < 0)
    return 0;
  return static_cast<int32_t>(
      SincKernel(in, static_cast<BYTE*>(dst), static_cast<const BYTE*>(src), srcCount, dstCount));
}

extern "C" int32_t KVAPI KvAudio_ResampleStupid(tKVRESAMPLEINSTANCE* in, void* dstv, int32_t dstCount,
                                                const void* srcv, int32_t srcCount) {
  if (!in) return -1;
  const KVSAMPLETYPE t = in->type;
  if (!IsRationalType(t) && !IsFloatType(t)) return -1;
  if (dstCount <= 0) return 0;
  if (srcCount <= 0) return 0;
  BYTE* dst = static_cast<BYTE*>(dstv);
  const BYTE* src = static_cast<const BYTE*>(srcv);
  const int ch = in->channels;
  const size_t fb = FrameBytes(in);
  if (dstCount == srcCount) {
    if (dst != src) std::memmove(dst, src, static_cast<size_t>(dstCount) * fb);
    return dstCount;
  }
  in->ratio = static_cast<double>(dstCount) / srcCount;
  in->step = 1 / in->ratio;
  const bool filter = IsFloatType(t) && in->quality != 0 && in->filter != nullptr;
  if (filter) DesignFilters(in);
  const double F = FullScale(t);
  // Values of source frame k, clamped to the block (the last frame stands in
  // for frames past it).
  BYTE* scratch = nullptr;
  if (srcCount > dstCount && (filter || dst == src)) {
    // The filter runs into a scratch copy, never into a destination sized
    // for fewer frames; in place the copy also keeps the source readable.
    scratch = static_cast<BYTE*>(KvAudioMem_Alloc(static_cast<size_t>(srcCount) * fb));
    if (!scratch) return 0;
    std::memcpy(scratch, src, static_cast<size_t>(srcCount) * fb);
    if (filter) RunFilters(in, scratch, static_cast<size_t>(srcCount));
    src = scratch;
  }
  auto value = [&](int64_t k, int c) -> double {
    if (k < 0) return in->prev[c];
    if (k >= srcCount) k = srcCount - 1;
    return KvAudio_ReadFraction(t, src, static_cast<size_t>(k * ch + c));
  };
  auto put = [&](int64_t j, int c, double v) {
    if (IsFloatType(t)) {
      KvAudio_WriteFraction(t, dst, static_cast<size_t>(j * ch + c), v);
    } else {
      // Integer values interpolated with truncation toward zero.
      WriteInt(t, dst + (j * ch + c) * KvAudio_BytesFromSampleType(t), static_cast<int64_t>(std::trunc(v * F)) );
    }
  };
  double last[KVRESAMPLE_MAX_CHANNELS];
  for (int c = 0; c < ch; ++c) last[c] = value(srcCount - 1, c);
  if (srcCount > dstCount) {
    for (int c = 0; c < ch; ++c) {
      int64_t err = 0, d = 0;
      for (int64_t k = 0; k < srcCount && d < dstCount; ++k) {
        err -= dstCount;
        if (err < 0) {
          err += srcCount;
          double a = value(k, c), b = value(k + 1, c);
          put(d++, c, a + (b - a) * static_cast<double>(err) / srcCount);
        }
      }
      for (; d < dstCount; ++d) put(d, c, last[c]);
    }
  } else {
    // From the last destination frame backwards: frame j lies at source
    // position ((j + 1) * srcCount - dstCount) / dstCount.
    for (int64_t j = dstCount; j-- > 0;) {
      double v[KVRESAMPLE_MAX_CHANNELS];
      int64_t num = (j + 1) * srcCount - dstCount;
      int64_t i = num >= 0 ? num / dstCount : -1;
      int64_t r = num - i * dstCount;
      for (int c = 0; c < ch; ++c) {
        double a = value(i, c);
        v[c] = r == 0 ? a : a + (value(i + 1, c) - a) * static_cast<double>(r) / dstCount;
      }
      for (int c = 0; c < ch; ++c) put(j, c, v[c]);
    }
    if (filter) RunFilters(in, dst, static_cast<size_t>(dstCount));
  }
  for (int c = 0; c < ch; ++c) in->prev[c] = last[c];
  KvAudioMem_Free(scratch);
  return dstCount;
}

extern "C" HRESULT KVAPI KvAudio_Resample(const WAVEFORMATEX* fmt, void* dst, int32_t dstCount, const void* src,
                                          int32_t srcCount) {
  if (!fmt || dstCount <= 0 || srcCount <= 0) return S_OK;
  const int32_t dstRate =
      static_cast<int32_t>(static_cast<double>(dstCount) / srcCount * static_cast<double>(fmt->nSamplesPerSec));
  tKVRESAMPLEINSTANCE* in = nullptr;
  HRESULT hr = KvAudio_ResampleOpen(&in, KvAudio_GetSampleType(fmt), static_cast<int32_t>(fmt->nSamplesPerSec),
                                    dstRate, fmt->nChannels, 0x222);
  if (FAILED(hr)) return hr;
  int64_t n = KvAudio_ResampleEx(in, dst, src, srcCount);
  // The truncated rate yields a few frames less than asked for: the last
  // frame is held over the rest instead of leaving it unwritten.
  const size_t fb = FrameBytes(in);
  BYTE* d = static_cast<BYTE*>(dst);
  if (fb && n > 0)
    for (int64_t j = n; j < dstCount; ++j) std::memcpy(d + j * fb, d + (n - 1) * fb, fb);
  KvAudio_ResampleClose(in);
  return S_OK;
}

// ---- positions ------------------------------------------------------------------

extern "C" int64_t KVAPI KvAudio_ResampleGetSrcPos(const tKVRESAMPLEINSTANCE* in) {
  return in ? in->srcPos + in->srcOffset : 0;
}
extern "C" int64_t KVAPI KvAudio_ResampleGetDstPos(const tKVRESAMPLEINSTANCE* in) {
  return in ? in->dstPos + in->dstOffset : 0;
}
extern "C" void KVAPI KvAudio_ResampleSetSrcPos(tKVRESAMPLEINSTANCE* in, int64_t v) {
  if (in) in->srcPos = v;
}
extern "C" void KVAPI KvAudio_ResampleSetDstPos(tKVRESAMPLEINSTANCE* in, int64_t v) {
  if (in) in->dstPos = v;
}
extern "C" void KVAPI KvAudio_ResampleSetSrcOffset(tKVRESAMPLEINSTANCE* in, int64_t v) {
  if (in) in->srcOffset = v;
}
extern "C" void KVAPI KvAudio_ResampleSetDstOffset(tKVRESAMPLEINSTANCE* in, int64_t v) {
  if (in) in->dstOffset = v;
}
extern "C" void KVAPI KvAudio_ResampleStuffPrevSample(tKVRESAMPLEINSTANCE* in, double left, double right) {
  if (!in) return;
  in->prev[0] = left;
  in->prev[1] = right;
}
extern "C" int64_t KVAPI KvAudio_ResampleGetDstFromSrc(const tKVRESAMPLEINSTANCE* in, int64_t src) {
  return in ? static_cast<int64_t>(std::trunc(static_cast<double>(src) * in->ratio - in->phase)) : 0;
}
extern "C" int64_t KVAPI KvAudio_ResampleGetSrcFromDst(const tKVRESAMPLEINSTANCE* in, int64_t dst) {
  return in ? SrcFromDst(in, dst) : 0;
}
