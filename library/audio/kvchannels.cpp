// Channel layout operations on interleaved blocks: silence, copying,
// swapping, extracting, inserting and spreading channels, muting, and
// splitting or joining stereo. Sample values are moved unchanged.
#include <xmmintrin.h>

#include <cstring>

#include "kvaudio_internal.h"
#include "kvcpufeatures.h"
#include "kvguids.h"

namespace {

bool IsSized(KVSAMPLETYPE t) { return KvAudio_TypeIndex(t) >= 0; }

bool IsBasicType(KVSAMPLETYPE t) {
  return t == KVST_U8 || t == KVST_S16 || t == KVST_S24 || t == KVST_S32 || t == KVST_FLOAT || t == KVST_DOUBLE;
}

// Bytes per sample and per frame of a header (integer division, as the
// header describes them).
struct Layout {
  size_t sample, frame;
  DWORD channels;
};
Layout LayoutOf(const WAVEFORMATEX* w) {
  Layout l;
  l.channels = w->nChannels;
  l.sample = l.channels ? w->nBlockAlign / l.channels : 0;
  l.frame = l.sample * l.channels;
  return l;
}

BYTE SilenceByte(KVSAMPLETYPE t) { return t == KVST_U8 ? 0x80 : 0x00; }

void FillSamples(BYTE* p, size_t sampleBytes, size_t strideBytes, size_t count, BYTE value) {
  for (size_t i = 0; i < count; ++i) std::memset(p + i * strideBytes, value, sampleBytes);
}

}  // namespace

// ---- silence ---------------------------------------------------------------

HRESULT KVAPI KvAudio_FillSilence(const _kvwaveformat* fmt, void* buf, DWORD frames) {
  size_t bytes = static_cast<size_t>(fmt->nBlockAlign) * frames;
  if (bytes == 0) return S_OK;
  if (!IsSized(fmt->SampleType)) return E_FAIL;
  std::memset(buf, SilenceByte(fmt->SampleType), bytes);
  return S_OK;
}

HRESULT KVAPI KvAudio_FillSilence(const WAVEFORMATEX* wfx, void* buf, DWORD frames) {
  size_t bytes = static_cast<size_t>(wfx->nBlockAlign) * frames;
  if (bytes == 0) return S_OK;
  WORD tag = wfx->wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    DWORD sub = 0;
    // A foreign sub-format has no known silence: refused rather than
    // reporting success for an untouched buffer.
    if (!KvAudio_GetFormatTagExtensible(const_cast<WAVEFORMATEXTENSIBLE*>(
                                            reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx)),
                                        &sub))
      return E_FAIL;
    tag = static_cast<WORD>(sub);
  }
  switch (tag) {
    case 3:
    case 0xFE00:
    case 0xFE01: std::memset(buf, 0, bytes); return S_OK;
    case 1:
    case 0xFE02: std::memset(buf, wfx->wBitsPerSample == 8 ? 0x80 : 0, bytes); return S_OK;
    default: return E_FAIL;
  }
}

extern "C" HRESULT KVAPI KvAudio_FillSilenceChannel(const WAVEFORMATEX* wfx, void* buf, DWORD channel, DWORD frames) {
  if (wfx->nChannels == 0 || channel > static_cast<DWORD>(wfx->nChannels) - 1) return E_FAIL;
  if (frames == 0) return S_OK;
  if (wfx->nChannels < 2) return KvAudio_FillSilence(wfx, buf, frames);
  const WORD tag = wfx->wFormatTag, bits = wfx->wBitsPerSample;
  BYTE value = 0;
  if (tag == 3 && (bits == 32 || bits == 64)) {
    value = 0;
  } else if ((tag == 1 || (tag >= 0xFE00 && tag <= 0xFE02)) && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
    value = (bits == 8 && tag != 0xFE01) ? 0x80 : 0;
  } else {
    return E_FAIL;
  }
  const size_t sb = bits / 8, stride = sb * wfx->nChannels;
  FillSamples(static_cast<BYTE*>(buf) + channel * sb, sb, stride, frames, value);
  return S_OK;
}

// ---- copying within one block ----------------------------------------------

extern "C" HRESULT KVAPI KvAudio_CopyChannelToChannel(void* buf, const WAVEFORMATEX* wfx, DWORD from, DWORD to,
                                                      int32_t frames) {
  if (!IsBasicType(KvAudio_GetSampleType(wfx))) return E_FAIL;
  if (frames < 1 || wfx->nChannels < 2) return S_OK;
  Layout l = LayoutOf(wfx);
  BYTE* p = static_cast<BYTE*>(buf);
  for (int32_t i = 0; i < frames; ++i) std::memmove(p + i * l.frame + to * l.sample, p + i * l.frame + from * l.sample, l.sample);
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_SwapStereoChannels(void* buf, const WAVEFORMATEX* wfx, int32_t frames) {
  if (!IsBasicType(KvAudio_GetSampleType(wfx))) return E_FAIL;
  if (frames < 1 || wfx->nChannels < 2) return S_OK;
  Layout l = LayoutOf(wfx);
  BYTE* p = static_cast<BYTE*>(buf);
  BYTE tmp[8];
  for (int32_t i = 0; i < frames; ++i) {
    BYTE* f = p + i * l.frame;
    std::memcpy(tmp, f, l.sample);
    std::memcpy(f, f + l.sample, l.sample);
    std::memcpy(f + l.sample, tmp, l.sample);
  }
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_CopySwapStereoChannels(void* dst, const void* src, const WAVEFORMATEX* wfx,
                                                        int32_t frames) {
  if (!IsBasicType(KvAudio_GetSampleType(wfx))) return E_FAIL;
  if (frames < 1 || wfx->nChannels < 2) return S_OK;
  Layout l = LayoutOf(wfx);
  BYTE* d = static_cast<BYTE*>(dst);
  const BYTE* s = static_cast<const BYTE*>(src);
  BYTE tmp[8];
  for (int32_t i = 0; i < frames; ++i) {
    std::memcpy(tmp, s + i * l.frame, l.sample);
    std::memmove(d + i * l.frame, s + i * l.frame + l.sample, l.sample);
    std::memcpy(d + i * l.frame + l.sample, tmp, l.sample);
  }
  return S_OK;
}

// ---- picking and placing channels -------------------------------------------

HRESULT KVAPI KvAudio_ExtractChannel(void* dst, int32_t channel, const void* src, KVSAMPLETYPE type, DWORD channels,
                                     int32_t frames) {
  if (!IsSized(type)) return E_FAIL;
  if (frames < 1) return S_OK;
  if (channels == 1) {
    tKvAudioCopyFunc f = KvAudio_GetCopyFunction2(type, type);
    if (!f) return E_NOTIMPL;
    f(dst, src, frames, 1.0f);
    return S_OK;
  }
  const size_t sb = KvAudio_BytesFromSampleType(type), stride = sb * channels;
  BYTE* d = static_cast<BYTE*>(dst);
  const BYTE* s = static_cast<const BYTE*>(src) + static_cast<size_t>(channel) * sb;
  for (int32_t i = 0; i < frames; ++i) std::memmove(d + i * sb, s + i * stride, sb);
  return S_OK;
}

HRESULT KVAPI KvAudio_ExtractChannel(void* dst, int32_t channel, const void* src, const WAVEFORMATEX* wfx,
                                     int32_t frames) {
  return KvAudio_ExtractChannel(dst, channel, src, KvAudio_GetSampleType(wfx), wfx->nChannels, frames);
}

extern "C" HRESULT KVAPI KvAudio_ExtractChannelPair(void* dst, DWORD first, const void* src, const WAVEFORMATEX* wfx,
                                                    int32_t frames) {
  if (!IsBasicType(KvAudio_GetSampleType(wfx))) return E_FAIL;
  if (frames < 1) return S_OK;
  if (wfx->nChannels == 2) return KvAudio_Copy(wfx, dst, wfx, src, frames, 1.0f);
  Layout l = LayoutOf(wfx);
  BYTE* d = static_cast<BYTE*>(dst);
  const BYTE* s = static_cast<const BYTE*>(src);
  for (int32_t i = 0; i < frames; ++i) std::memmove(d + i * 2 * l.sample, s + i * l.frame + first * l.sample, 2 * l.sample);
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_InsertChannel(void* dst, KVSAMPLETYPE type, int32_t channels, int32_t channel,
                                               const void* src, DWORD frames) {
  if (!IsSized(type)) return E_FAIL;
  if (frames == 0) return S_OK;
  const size_t sb = KvAudio_BytesFromSampleType(type);
  if (channels == 1) {
    std::memmove(dst, src, frames * sb);
    return S_OK;
  }
  const size_t stride = sb * static_cast<size_t>(channels);
  BYTE* d = static_cast<BYTE*>(dst) + static_cast<size_t>(channel) * sb;
  const BYTE* s = static_cast<const BYTE*>(src);
  for (DWORD i = 0; i < frames; ++i) std::memmove(d + i * stride, s + i * sb, sb);
  return S_OK;
}

namespace {

// Spreads one source channel over every channel of the destination frames;
// backwards (frames and channels from the last) when the destination frame
// is wider, so that the destination may be the source buffer.
void Spread(BYTE* d, size_t dstCh, const BYTE* s, size_t srcCh, size_t channel, size_t frames, size_t sb,
            bool backward) {
  if (backward) {
    for (size_t i = frames; i-- > 0;) {
      BYTE v[8];
      std::memcpy(v, s + (i * srcCh + channel) * sb, sb);
      for (size_t c = dstCh; c-- > 0;) std::memcpy(d + (i * dstCh + c) * sb, v, sb);
    }
  } else {
    for (size_t i = 0; i < frames; ++i) {
      BYTE v[8];
      std::memcpy(v, s + (i * srcCh + channel) * sb, sb);
      for (size_t c = 0; c < dstCh; ++c) std::memcpy(d + (i * dstCh + c) * sb, v, sb);
    }
  }
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_CopyChannelToAll(void* dst, const void* src, const WAVEFORMATEX* srcFmt,
                                                  const WAVEFORMATEX* dstFmt, DWORD channel, int32_t frames) {
  KVSAMPLETYPE st = KvAudio_GetSampleType(srcFmt), dt = KvAudio_GetSampleType(dstFmt);
  if (st != dt) return E_NOTIMPL;
  if (!IsSized(st)) return E_FAIL;
  if (frames < 1) return S_OK;
  if (dstFmt->nChannels == 1) return KvAudio_ExtractChannel(dst, static_cast<int32_t>(channel), src, srcFmt, frames);
  Spread(static_cast<BYTE*>(dst), dstFmt->nChannels, static_cast<const BYTE*>(src), srcFmt->nChannels, channel,
         static_cast<size_t>(frames), KvAudio_BytesFromSampleType(st), false);
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_CopyChannelToMultiMono2(void* dst, int32_t dstChannels, const void* src,
                                                         DWORD srcChannels, DWORD channel, int32_t frames,
                                                         KVSAMPLETYPE type) {
  if (!IsSized(type) || dstChannels < 1) return E_INVALIDARG;
  if (frames < 1) return S_OK;
  Spread(static_cast<BYTE*>(dst), static_cast<size_t>(dstChannels), static_cast<const BYTE*>(src), srcChannels,
         channel, static_cast<size_t>(frames), KvAudio_BytesFromSampleType(type),
         static_cast<DWORD>(dstChannels) > srcChannels);
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_CopyChannelToMultiMono(void* dst, const WAVEFORMATEX* dstFmt, const void* src,
                                                        const WAVEFORMATEX* srcFmt, DWORD channel, int32_t frames) {
  KVSAMPLETYPE st = KvAudio_GetSampleType(srcFmt), dt = KvAudio_GetSampleType(dstFmt);
  if (st != dt) return E_INVALIDARG;
  return KvAudio_CopyChannelToMultiMono2(dst, dstFmt->nChannels, src, srcFmt->nChannels, channel, frames, st);
}

// ---- muting ------------------------------------------------------------------

HRESULT KVAPI KvAudio_MuteChannel(void* buf, KVSAMPLETYPE type, int channels, int32_t channel, int32_t frames) {
  if (!IsSized(type)) return E_FAIL;
  if (frames < 1 || channels < 1) return S_OK;
  const size_t sb = KvAudio_BytesFromSampleType(type);
  FillSamples(static_cast<BYTE*>(buf) + static_cast<size_t>(channel) * sb, sb, sb * static_cast<size_t>(channels),
              static_cast<size_t>(frames), SilenceByte(type));
  return S_OK;
}

HRESULT KVAPI KvAudio_MuteChannel(void* buf, const WAVEFORMATEX* wfx, int32_t channel, int32_t frames) {
  return KvAudio_MuteChannel(buf, KvAudio_GetSampleType(wfx), wfx->nChannels, channel, frames);
}

HRESULT KVAPI KvAudio_MuteChannel(void* buf, const _kvwaveformat* fmt, int32_t channel, int32_t frames) {
  return KvAudio_MuteChannel(buf, fmt->SampleType, fmt->nChannels, channel, frames);
}

// ---- stereo split and join ---------------------------------------------------

namespace {
size_t SplitJoinBytes(KVSAMPLETYPE t) {
  switch (t) {
    case KVST_U8: return 1;
    case KVST_S16: return 2;
    case KVST_S32: case KVST_S24IN32: case KVST_FLOAT: return 4;
    case KVST_DOUBLE: return 8;
    default: return 0;
  }
}
}  // namespace

namespace {

bool Aligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

// Float stereo with all three buffers 16-byte aligned and SSE available:
// eight frames per step with 128-bit shuffles; the results are the values
// moved unchanged, as in the one-at-a-time loop.
int32_t SplitFloatSse(float* l, float* r, const float* s, int32_t frames) {
  if (!Aligned16(l) || !Aligned16(r) || !Aligned16(s) || !(KvAudioCpu_GetSupport(KVCPU_SIMD_MASK) & KVCPU_SSE)) return 0;
  int32_t i = 0;
  for (; i + 8 <= frames; i += 8) {
    for (int h = 0; h < 8; h += 4) {
      __m128 a = _mm_load_ps(s + 2 * (i + h)), b = _mm_load_ps(s + 2 * (i + h) + 4);
      _mm_store_ps(l + i + h, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_store_ps(r + i + h, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
  }
  return i;
}

int32_t JoinFloatSse(float* s, const float* l, const float* r, int32_t frames) {
  if (!Aligned16(l) || !Aligned16(r) || !Aligned16(s) || !(KvAudioCpu_GetSupport(KVCPU_SIMD_MASK) & KVCPU_SSE)) return 0;
  int32_t i = 0;
  for (; i + 8 <= frames; i += 8) {
    for (int h = 0; h < 8; h += 4) {
      __m128 a = _mm_load_ps(l + i + h), b = _mm_load_ps(r + i + h);
      _mm_store_ps(s + 2 * (i + h), _mm_unpacklo_ps(a, b));
      _mm_store_ps(s + 2 * (i + h) + 4, _mm_unpackhi_ps(a, b));
    }
  }
  return i;
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_DeInterleaveStereo(void* left, void* right, const void* stereo, KVSAMPLETYPE type,
                                                    int32_t frames) {
  const size_t sb = SplitJoinBytes(type);
  if (!sb) return E_NOTIMPL;
  const BYTE* s = static_cast<const BYTE*>(stereo);
  BYTE* l = static_cast<BYTE*>(left);
  BYTE* r = static_cast<BYTE*>(right);
  int32_t i = 0;
  if (type == KVST_FLOAT && frames > 0)
    i = SplitFloatSse(static_cast<float*>(left), static_cast<float*>(right), static_cast<const float*>(stereo), frames);
  for (; i < frames; ++i) {
    std::memcpy(l + i * sb, s + 2 * i * sb, sb);
    std::memcpy(r + i * sb, s + (2 * i + 1) * sb, sb);
  }
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudio_InterleaveStereo(void* stereo, const void* left, const void* right, KVSAMPLETYPE type,
                                                  int32_t frames) {
  const size_t sb = SplitJoinBytes(type);
  if (!sb) return E_NOTIMPL;
  BYTE* d = static_cast<BYTE*>(stereo);
  const BYTE* l = static_cast<const BYTE*>(left);
  const BYTE* r = static_cast<const BYTE*>(right);
  int32_t i = 0;
  if (type == KVST_FLOAT && frames > 0)
    i = JoinFloatSse(static_cast<float*>(stereo), static_cast<const float*>(left), static_cast<const float*>(right),
                     frames);
  for (; i < frames; ++i) {
    std::memcpy(d + 2 * i * sb, l + i * sb, sb);
    std::memcpy(d + (2 * i + 1) * sb, r + i * sb, sb);
  }
  return S_OK;
}
