// Sample-rate converter: converts interleaved PCM of one sample type from a
// source rate to a destination rate block after block, keeping the state
// (fractional position, previous frame, filter state) that makes consecutive
// blocks join without gaps. Linear interpolation (exact rational arithmetic
// for the 8/16/24/32-bit integer types; an optional Chebyshev anti-alias
// low-pass for float and double), a windowed-sinc interpolator for float and
// double, a fixed-length block converter and a one-shot call.
#pragma once

#include "kvaudio.h"

class CKvIIR;

#define KVRESAMPLE_MAX_CHANNELS 32
#define KVRESAMPLE_MODE_MASK 0x000F
#define KVRESAMPLE_QUALITY_MASK 0x00F0
#define KVRESAMPLE_COUNT_IS_DST 0x1000
#define KVRESAMPLE_KEEP_SOURCE 0x2000

// The handle of every call (zero-filled block of global memory).
struct tKVRESAMPLEINSTANCE {
  KVSAMPLETYPE type;
  int32_t channels;
  int32_t srcRate;
  int32_t dstRate;
  int64_t iphase;     // integer kernels: position numerator in 1/dstRate units
  double ratio;       // dstRate / srcRate
  double phase;       // next destination position in source frames (relative to the next block)
  double step;        // 1 / ratio
  double prev[KVRESAMPLE_MAX_CHANNELS];  // last source frame of the previous block, as fractions of full scale
  CKvIIR* filter;     // anti-alias filters, one per channel pair (float and double only)
  uint32_t filterCount;
  uint32_t keepSource;
  int64_t srcPos, dstPos, srcOffset, dstOffset;
  uint32_t reserved;
  uint32_t quality;
  uint32_t mode;
  uint32_t countIsDst;
  double* rings;      // windowed sinc: one ring of 25 doubles per channel
  uint32_t first;     // windowed sinc: 1 until the rings are primed
  double tableScale;  // 1000/13: table entries per unit of distance
  double sincAcc;     // windowed sinc: position of the newest fed frame minus 12
  int32_t ringPos;
  int32_t primed;
};

extern "C" {
HRESULT KVAPI KvAudio_ResampleOpen(tKVRESAMPLEINSTANCE** out, KVSAMPLETYPE type, int32_t srcRate, int32_t dstRate,
                                   int32_t channels, DWORD flags);
HRESULT KVAPI KvAudio_ResampleOpenEx(tKVRESAMPLEINSTANCE** out, KVSAMPLETYPE type, int32_t channels, double ratio,
                                     DWORD flags);
HRESULT KVAPI KvAudio_ResampleClose(tKVRESAMPLEINSTANCE* inst);
HRESULT KVAPI KvAudio_ResampleReset(tKVRESAMPLEINSTANCE* inst, KVSAMPLETYPE type, int32_t srcRate, int32_t dstRate,
                                    int32_t channels, BOOL fullReset);
HRESULT KVAPI KvAudio_ResampleResetEx(tKVRESAMPLEINSTANCE* inst, KVSAMPLETYPE type, double ratio, int32_t channels,
                                      BOOL fullReset);
// Converts one block; returns the destination frames written (at most
// floor(count * ratio) + 1 without the count-is-destination flag).
int64_t KVAPI KvAudio_ResampleEx(tKVRESAMPLEINSTANCE* inst, void* dst, const void* src, int32_t count);
int32_t KVAPI KvAudio_Resample_Sinc(KVSAMPLETYPE type, int channels, void* dst, int32_t dstCount, const void* src,
                                    int32_t srcCount, tKVRESAMPLEINSTANCE* inst);
int32_t KVAPI KvAudio_ResampleStupid(tKVRESAMPLEINSTANCE* inst, void* dst, int32_t dstCount, const void* src,
                                     int32_t srcCount);
HRESULT KVAPI KvAudio_Resample(const WAVEFORMATEX* fmt, void* dst, int32_t dstCount, const void* src,
                               int32_t srcCount);
int64_t KVAPI KvAudio_ResampleGetSrcPos(const tKVRESAMPLEINSTANCE* inst);
int64_t KVAPI KvAudio_ResampleGetDstPos(const tKVRESAMPLEINSTANCE* inst);
void KVAPI KvAudio_ResampleSetSrcPos(tKVRESAMPLEINSTANCE* inst, int64_t v);
void KVAPI KvAudio_ResampleSetDstPos(tKVRESAMPLEINSTANCE* inst, int64_t v);
void KVAPI KvAudio_ResampleSetSrcOffset(tKVRESAMPLEINSTANCE* inst, int64_t v);
void KVAPI KvAudio_ResampleSetDstOffset(tKVRESAMPLEINSTANCE* inst, int64_t v);
// Previous frame of channels 0 and 1, as fractions of full scale.
void KVAPI KvAudio_ResampleStuffPrevSample(tKVRESAMPLEINSTANCE* inst, double left, double right);
int64_t KVAPI KvAudio_ResampleGetDstFromSrc(const tKVRESAMPLEINSTANCE* inst, int64_t src);
int64_t KVAPI KvAudio_ResampleGetSrcFromDst(const tKVRESAMPLEINSTANCE* inst, int64_t dst);
}
