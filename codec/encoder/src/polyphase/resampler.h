// Sample-rate converter front layer used by the encoder in front of the AAC
// core: one record per converter, reached through a handle, over several
// converter kinds (pass-through, polyphase). Samples are 32-bit floats with
// channels interleaved; sizes are counted in samples over all channels.
//
// Results: 0 success, 1 bad parameter or converter failure, 2 null handle
// pointer or no memory for the record, 3 no memory for a parameter block.
#pragma once

#include <cstdint>

struct Resampler;
typedef Resampler* HANDLE_RESAMPLER;

// Tuning record: attenuation (dB; not positive means 90), pass-band edge (Hz;
// negative means 0), transition width (Hz; negative means 0), gain, rate
// threshold (Hz; 0 means 50000). Zero edge and width pick the kind's defaults.
struct ResamplerTuning {
  float attenuation;
  float passEdge;
  float transition;
  float gain;
  int32_t rateThreshold;
};

// Converter kinds.
enum : int32_t {
  kResamplerPassThrough = 0,
  kResamplerNone = 1,
  kResamplerExternal = 2,
  kResamplerPolyphaseFirst = 10,  // 10-17: polyphase, design variant kind - 10
  kResamplerPolyphaseHalf = 11,   // exactly 2:1
  kResamplerPolyphaseGeneral = 16,
  kResamplerPolyphaseFixedInput = 12,
};

// Creates a converter for the encoder: works to a fixed output block of
// outBlockSamples. callerTuning, when given, holds three floats {pass-band
// edge, transition width, attenuation}. Kind 11 when inRate == 2 * outRate,
// else 16; without tuning and with equal rates, the pass-through kind.
// *inputSamples receives the input count the first run needs,
// *outputSamples the output block; both are 0 after a failure.
int32_t CreateResampler(HANDLE_RESAMPLER* handle, const float* callerTuning, uint32_t inRate,
                        uint32_t outRate, int32_t channels, int32_t outBlockSamples,
                        int32_t* inputSamples, int32_t* outputSamples);

// The same for a fixed input block of inBlockSamples (kind 12, quality 8);
// *outputSamples receives the converter's nominal output block.
int32_t CreateResamplerFixedInput(HANDLE_RESAMPLER* handle, const float* callerTuning,
                                  uint32_t inRate, uint32_t outRate, int32_t channels,
                                  int32_t inBlockSamples, int32_t* inputSamples,
                                  int32_t* outputSamples);

// The front record's own creation: kind and quality chosen by the caller;
// tuning null means the defaults {0, 0, 0, 1.0, 0}. inLimit bounds the
// nominal input block (and is the fixed input block of the fixed-input kinds).
int32_t ResamplerOpen(HANDLE_RESAMPLER* handle, const ResamplerTuning* tuning, uint32_t inRate,
                      uint32_t outRate, int32_t channels, int32_t inLimit, int32_t outBlockSamples,
                      int32_t kind, int32_t quality);

// Runs one block. input may be null (silence). On success *output is the
// converter's buffer with *outputCount samples and *nextInputCount is what
// the next call must supply; after a failure all three are cleared.
int32_t RunResampler(HANDLE_RESAMPLER handle, int32_t inputCount, const float* input,
                     float** output, int32_t* outputCount, int32_t* nextInputCount);

// Frees the converter and clears the handle; a null handle is only cleared.
int32_t DeleteResampler(HANDLE_RESAMPLER* handle);

// Delay in output samples (per channel), rounded to the nearest integer, for
// the polyphase kinds; 0 for a null handle and for every other kind.
int32_t GetResamplerDelay(HANDLE_RESAMPLER handle);

// The pass-band edge and stop-band edge (Hz) a polyphase converter was
// designed for; 1 for other kinds and null.
int32_t ResamplerBands(HANDLE_RESAMPLER handle, double* passEdge, double* stopEdge);

// The kind a record was created with (-1 for null).
int32_t ResamplerKind(HANDLE_RESAMPLER handle);
