// Conversion dispatch: the routine of a (destination, source) pair, chosen
// among the processor-specific versions by the processor level or features,
// and KvAudio_Copy, which converts a block described by two formats.
#include "kvconvert.h"
#include "kvcpufeatures.h"

namespace {

// Levels 0-6. No x87 versions are carried: levels below SSE use the generic
// routine, which computes the same results.
tKvAudioCopyFunc ByLevel(tKvAudioCopyFunc generic, tKvAudioCopyFunc sse, tKvAudioCopyFunc sse2) {
  int32_t level = static_cast<int32_t>(KvAudioCpu_GetSupport(KVCPU_CLASS_MASK));
  if (level < 0) level = 0;
  if (level > 6) level = 6;
  if (level == 6 && sse2) return sse2;
  if (level >= 5 && sse) return sse;
  return generic;
}

}  // namespace

extern "C" tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction2(KVSAMPLETYPE dstType, KVSAMPLETYPE srcType) {
  tKvAudioCopyFunc generic = KvConvert_Generic(dstType, srcType);
  if (!generic) return nullptr;
  if (srcType == KVST_FLOAT) {
    switch (dstType) {
      case KVST_U8: return ByLevel(generic, KvCvt_F32ToU8_Sse, KvCvt_F32ToU8_Sse);
      case KVST_S16: return ByLevel(generic, KvCvt_F32ToS16_Sse, KvCvt_F32ToS16_Sse);
      case KVST_S24: return ByLevel(generic, KvCvt_F32ToS24_Sse, KvCvt_F32ToS24_Sse);
      case KVST_DOUBLE:
        return (KvAudioCpu_GetSupport(0) & (KVCPU_SSE | KVCPU_SSE2)) == (KVCPU_SSE | KVCPU_SSE2) ? KvCvt_F32ToF64_Sse2 : generic;
      default: return generic;
    }
  }
  if (srcType == KVST_DOUBLE) {
    switch (dstType) {
      case KVST_U8: return ByLevel(generic, nullptr, KvCvt_F64ToU8_Sse2);
      case KVST_S16: return ByLevel(generic, nullptr, KvCvt_F64ToS16_Sse2);
      case KVST_S24: return ByLevel(generic, nullptr, KvCvt_F64ToS24_Sse2);
      case KVST_FLOAT:
        return (KvAudioCpu_GetSupport(0) & (KVCPU_SSE | KVCPU_SSE2)) == (KVCPU_SSE | KVCPU_SSE2) ? KvCvt_F64ToF32_Sse2 : generic;
      default: return generic;
    }
  }
  if (srcType == KVST_S16) {
    if (dstType == KVST_FLOAT) {
      if (KvAudioCpu_GetOSSupport(KVCPU_SSE41) & KvAudioCpu_GetSupportRaw(KVCPU_SSE41)) return KvCvt_S16ToF32_Sse41;
      return ByLevel(generic, KvCvt_S16ToF32_Sse, KvCvt_S16ToF32_Sse2);
    }
    if (dstType == KVST_DOUBLE) return (KvAudioCpu_GetSupport(KVCPU_SIMD_MASK) & KVCPU_SSE2) ? KvCvt_S16ToF64_Sse2 : generic;
  }
  return generic;
}

tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const WAVEFORMATEX* dst, const WAVEFORMATEX* src) {
  return KvAudio_GetCopyFunction2(KvAudio_GetSampleType(dst), KvAudio_GetSampleType(src));
}
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const WAVEFORMATEX* dst, const _kvwaveformat* src) {
  return KvAudio_GetCopyFunction2(KvAudio_GetSampleType(dst), src->SampleType);
}
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const _kvwaveformat* dst, const WAVEFORMATEX* src) {
  return KvAudio_GetCopyFunction2(dst->SampleType, KvAudio_GetSampleType(src));
}

namespace {

HRESULT CopyTyped(KVSAMPLETYPE dt, void* dst, KVSAMPLETYPE st, const void* src, int32_t frames, DWORD srcChannels,
                  float gain) {
  if (frames == 0) return S_OK;
  // A negative count would reach the routines, which validate nothing.
  if (frames < 0) return E_INVALIDARG;
  tKvAudioCopyFunc f = KvAudio_GetCopyFunction2(dt, st);
  if (!f) return E_NOTIMPL;
  int64_t samples = static_cast<int64_t>(frames) * srcChannels;
  if (samples > INT32_MAX) return E_INVALIDARG;
  f(dst, src, static_cast<int32_t>(samples), gain);
  return S_OK;
}

}  // namespace

HRESULT KVAPI KvAudio_Copy(const WAVEFORMATEX* dstFmt, void* dst, const WAVEFORMATEX* srcFmt, const void* src,
                           int32_t frames, float gain) {
  if (frames == 0) return S_OK;
  return CopyTyped(KvAudio_GetSampleType(dstFmt), dst, KvAudio_GetSampleType(srcFmt), src, frames,
                   srcFmt->nChannels, gain);
}
HRESULT KVAPI KvAudio_Copy(const _kvwaveformat* dstFmt, void* dst, const WAVEFORMATEX* srcFmt, const void* src,
                           int32_t frames, float gain) {
  if (frames == 0) return S_OK;
  return CopyTyped(dstFmt->SampleType, dst, KvAudio_GetSampleType(srcFmt), src, frames, srcFmt->nChannels, gain);
}
HRESULT KVAPI KvAudio_Copy(const WAVEFORMATEX* dstFmt, void* dst, const _kvwaveformat* srcFmt, const void* src,
                           int32_t frames, float gain) {
  if (frames == 0) return S_OK;
  return CopyTyped(KvAudio_GetSampleType(dstFmt), dst, srcFmt->SampleType, src, frames, srcFmt->nChannels, gain);
}
HRESULT KVAPI KvAudio_Copy(const _kvwaveformat* dstFmt, void* dst, const _kvwaveformat* srcFmt, const void* src,
                           int32_t frames, float gain) {
  if (frames == 0) return S_OK;
  return CopyTyped(dstFmt->SampleType, dst, srcFmt->SampleType, src, frames, srcFmt->nChannels, gain);
}
