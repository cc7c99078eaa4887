// Channel-count changes (mono spread up, sum or average down to mono), the
// per-frame mono mix and filling a block with one frame.
#include <cstring>

#include "kvaudio_internal.h"

namespace {

bool MixableType(KVSAMPLETYPE t) {
  switch (t) {
    case KVST_U8: case KVST_S16: case KVST_S24: case KVST_S32: case KVST_FLOAT: case KVST_DOUBLE:
    case KVST_S8: case KVST_S16BE: case KVST_S24BE: case KVST_S32BE: return true;
    default: return false;
  }
}

HRESULT ChangeChannels(void* dst, DWORD D, const void* src, const WAVEFORMATEX* fmt, int32_t frames, bool average) {
  const KVSAMPLETYPE type = KvAudio_GetSampleType(fmt);
  const DWORD S = fmt->nChannels;
  if (D == S) return KvAudio_Copy(fmt, dst, fmt, src, frames, 1.0f);
  if (S == 0 || D == 0) return E_FAIL;
  const size_t sb = fmt->nBlockAlign / S;
  if (S < D) {
    if (S != 1) return E_FAIL;
    // Backwards, so that dst may be the source buffer.
    BYTE* d = static_cast<BYTE*>(dst);
    const BYTE* s = static_cast<const BYTE*>(src);
    for (int32_t i = frames; i-- > 0;)
      for (DWORD c = D; c-- > 0;) KvAudio_CopyOneSample(type, d + (static_cast<size_t>(i) * D + c) * sb, s + i * sb);
    return S_OK;
  }
  if (D != 1 || !MixableType(type)) return E_FAIL;
  // Forwards: output frame i lies at or before input frame i.
  for (int32_t i = 0; i < frames; ++i) {
    double sum = 0.0;
    for (DWORD c = 0; c < S; ++c) sum += KvAudio_ReadFraction(type, src, static_cast<size_t>(i) * S + c);
    if (average) sum /= S;
    KvAudio_WriteFraction(type, dst, static_cast<size_t>(i), sum);
  }
  return S_OK;
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_ChannelChange(void* dst, DWORD dstChannels, const void* src,
                                               const WAVEFORMATEX* srcFmt, int32_t frames) {
  return ChangeChannels(dst, dstChannels, src, srcFmt, frames, false);
}

extern "C" HRESULT KVAPI KvAudio_ChannelChangeAvg(void* dst, DWORD dstChannels, const void* src,
                                                  const WAVEFORMATEX* srcFmt, int32_t frames) {
  return ChangeChannels(dst, dstChannels, src, srcFmt, frames, true);
}

namespace {

// The mean of a frame's integer samples of type T (native byte order),
// summed exactly and divided with truncation toward zero.
template <typename T>
void MeanOfInts(const BYTE* frame, DWORD ch, BYTE* out) {
  int64_t sum = 0;
  for (DWORD c = 0; c < ch; ++c) {
    T v;
    std::memcpy(&v, frame + sizeof(T) * c, sizeof v);
    sum += v;
  }
  const T mean = static_cast<T>(sum / static_cast<int64_t>(ch));
  std::memcpy(out, &mean, sizeof mean);
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_MonoChannel(void* dst, const void* src, const WAVEFORMATEX* fmt, int32_t frames) {
  const DWORD ch = fmt->nChannels;
  if (ch == 1) return KvAudio_Copy(fmt, dst, fmt, src, frames, 1.0f);
  const KVSAMPLETYPE type = KvAudio_GetSampleType(fmt);
  switch (type) {
    case KVST_U8: case KVST_S16: case KVST_S24: case KVST_S32: case KVST_FLOAT: case KVST_DOUBLE: break;
    default: return E_FAIL;
  }
  if (ch == 0) return E_FAIL;
  const size_t sb = KvAudio_BytesFromSampleType(type);
  BYTE* d = static_cast<BYTE*>(dst);
  const BYTE* s = static_cast<const BYTE*>(src);
  for (int32_t i = 0; i < frames; ++i) {
    const BYTE* f = s + static_cast<size_t>(i) * ch * sb;
    BYTE out[8];
    // Each frame is read completely before it is written (dst may be src).
    switch (type) {
      case KVST_U8: MeanOfInts<uint8_t>(f, ch, out); break;
      case KVST_S16: MeanOfInts<int16_t>(f, ch, out); break;
      case KVST_S32: MeanOfInts<int32_t>(f, ch, out); break;
      default: {  // 24-bit and float types: fractions in double
        double sum = 0;
        for (DWORD c = 0; c < ch; ++c) sum += KvAudio_ReadFraction(type, f, c);
        KvAudio_WriteFraction(type, out, 0, sum / ch);
        break;
      }
    }
    for (DWORD c = 0; c < ch; ++c) std::memcpy(d + (static_cast<size_t>(i) * ch + c) * sb, out, sb);
  }
  return S_OK;
}

namespace {

// One sample of the fill table: the value of the sample format's sample, as
// an integer (17, 18, 48) or a float (32, 33).
bool FillPair(KVSAMPLETYPE from, const BYTE* in, KVSAMPLETYPE to, BYTE* out) {
  const bool fromInt = from == KVST_S16 || from == KVST_S24 || from == KVST_S24IN32;
  const bool fromFloat = from == KVST_FLOAT || from == KVST_DOUBLE;
  if (!fromInt && !fromFloat) return false;
  int32_t v = 0;
  double x = 0;
  if (from == KVST_S16) {
    int16_t s;
    std::memcpy(&s, in, 2);
    v = s;
  } else if (from == KVST_S24) {
    v = KvAudio_UnpackInt24(in);
  } else if (from == KVST_S24IN32) {
    std::memcpy(&v, in, 4);
  } else if (from == KVST_FLOAT) {
    float f;
    std::memcpy(&f, in, 4);
    x = f;
  } else {
    std::memcpy(&x, in, 8);
  }
  auto put32 = [&](int32_t w) { std::memcpy(out, &w, 4); };
  auto putF = [&](double y) {
    if (to == KVST_FLOAT) {
      float f = static_cast<float>(y);
      std::memcpy(out, &f, 4);
    } else {
      std::memcpy(out, &y, 8);
    }
  };
  if (from == KVST_S16) {
    switch (to) {
      case KVST_S24: KvAudio_PackInt24(v * 256, out); return true;
      case KVST_S32: put32(v * 65536); return true;
      case KVST_S24IN32: put32(v * 256); return true;
      case KVST_FLOAT: case KVST_DOUBLE: putF(v * 3.0517578125e-05); return true;
      default: return false;
    }
  }
  if (from == KVST_S24 || from == KVST_S24IN32) {
    switch (to) {
      case KVST_S16: {
        int16_t w = static_cast<int16_t>(KvAudio_ClipRound(v * 1.1920928955078125e-07 * 32768.0, -32768, 32767));
        std::memcpy(out, &w, 2);
        return true;
      }
      case KVST_S24:
        if (from == KVST_S24) return false;
        KvAudio_PackInt24(v, out);  // saturating
        return true;
      case KVST_S32: {
        int32_t c = v < -8388608 ? -8388608 : v > 8388607 ? 8388607 : v;
        put32(static_cast<int32_t>(static_cast<uint32_t>(c) << 8));
        return true;
      }
      case KVST_S24IN32:
        if (from == KVST_S24IN32) return false;
        put32(v);
        return true;
      case KVST_FLOAT: case KVST_DOUBLE: putF(v * 1.1920928955078125e-07); return true;
      default: return false;
    }
  }
  switch (to) {
    case KVST_S16: {
      int16_t w = static_cast<int16_t>(KvAudio_ClipRound(x * 32768.0, -32768, 32767));
      std::memcpy(out, &w, 2);
      return true;
    }
    case KVST_S24: KvAudio_PackInt24(KvAudio_ClipRound(x * 8388608.0, -8388608, 8388607), out); return true;
    case KVST_S32: put32(KvAudio_ClipRound(x * 2147483648.0, INT32_MIN, INT32_MAX)); return true;
    case KVST_S24IN32: put32(KvAudio_ClipRound(x * 8388608.0, -8388608, 8388607)); return true;
    case KVST_FLOAT: case KVST_DOUBLE:
      if (to == from) return false;
      putF(x);
      return true;
    default: return false;
  }
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_FillWithSample(const WAVEFORMATEX* dstFmt, void* dst, const WAVEFORMATEX* sampleFmt,
                                                const void* sample, DWORD frames) {
  if (frames == 0) return S_OK;
  const KVSAMPLETYPE dt = KvAudio_GetSampleType(dstFmt), st = KvAudio_GetSampleType(sampleFmt);
  BYTE* d = static_cast<BYTE*>(dst);
  if (dt == st) {
    const size_t fb = dstFmt->nBlockAlign;
    for (DWORD i = 0; i < frames; ++i) std::memcpy(d + i * fb, sample, fb);
    return S_OK;
  }
  const size_t ssb = KvAudio_BytesFromSampleType(st), dsb = KvAudio_BytesFromSampleType(dt);
  BYTE pair[16];
  const BYTE* s = static_cast<const BYTE*>(sample);
  if (ssb && dsb && FillPair(st, s, dt, pair) && FillPair(st, s + ssb, dt, pair + dsb)) {
    for (DWORD i = 0; i < frames; ++i) std::memcpy(d + i * 2 * dsb, pair, 2 * dsb);
    return S_OK;
  }
  KvAudio_FillSilence(dstFmt, dst, frames);
  return S_OK;
}
