// The SBR encoder of one channel element as the SBR interface drives it: its
// configuration (defaults, then tuning by bitrate, channels and rate), the
// payload record it fills per frame, and the element encoder itself: the SBR
// encoder over the element's full-rate input, or, with parametric stereo, the
// stereo encoder whose downmix the SBR encoder codes and whose half-rate
// downmix feeds the core.
#pragma once

#include <cstdint>

#include "errorhnd.h"
#include "sbr_encoder.h"

enum {
  kSbrPayloadBytes = 4096,  // bit buffer of a payload slot
};

// One payload slot: the frame's SBR payload for the core's fill element, and
// the per-frame values the core reads.
struct SbrPayload {
  float crossover;   // Hz: the top of the core's coded range (its bandwidth)
  int32_t bits;      // payload bits in data, MSB first; 0: none
  int32_t capacity;  // bytes of data
  uint8_t* data;     // the slot's own bit buffer (kSbrPayloadBytes)
};

// The SBR configuration of an element.
struct SbrConfig {
  int32_t coreCodec;          // 0: AAC
  int32_t frameLengthFactor;  // SBR frame / core frame: 2
  int32_t coreFrameLength;    // 1024
  int32_t bitRate;            // bit/s of the element
  int32_t channels;           // 1 or 2
  int32_t coreRate;           // Hz; the SBR encoder runs at twice it
  int32_t psMode;             // 1: parametric stereo over a mono element
  int32_t startFreq;          // the header's start index (the tuning's, or one the interface imposes)
};

// Defaults: the core codec, the frame-length factor and the core frame length
// (only 0, 2 and 1024 are served). Error otherwise.
CodecError* sbrInitConfigDefaults(SbrConfig* config, int32_t coreCodec, int32_t frameLengthFactor,
                                  int32_t coreFrameLength);
// Tuning: the element's bitrate, channels and core rate, and the parametric-
// stereo flag; sets the start index the tuning picks. Refused: channels other
// than 1 or 2, parametric stereo on two channels, a core rate outside
// 8000-48000 Hz, a bitrate below 1 bit/s.
CodecError* sbrApplyTuning(SbrConfig* config, int32_t bitRate, int32_t channels, int32_t coreRate, int32_t psMode);

struct SbrElementEncoder;

// Opens the element's encoder and fills slot 0's settings (the crossover).
CodecError* sbrEncoderOpen(SbrElementEncoder** out, const SbrConfig* config, SbrPayload* slot0);
void sbrEncoderClose(SbrElementEncoder* enc);
// The two timing values: the SBR interface holds the element's input back by
// timingOut + (core delay - timingIn) + 1 samples. timingIn is the lag the
// encoder keeps inside (beyond the decoder's banks, which mirror the rest)
// plus one; timingOut is 0: nothing is added behind the core.
void sbrEncoderGetTiming(const SbrElementEncoder* enc, int32_t* timingIn, int32_t* timingOut);
// Input samples between the element's input and the core input it hands on
// (parametric stereo: its banks); 0 when the core's input comes from elsewhere.
int32_t sbrEncoderGetDelay(const SbrElementEncoder* enc);
int sbrEncoderHasPs(const SbrElementEncoder* enc);
void sbrEncoderGetElementSettings(const SbrElementEncoder* enc, SbrEncoderSettings* settings);
// One frame of 2048 samples per channel: a holds the element's channels
// interleaved (with parametric stereo the left channel), b the right channel
// (parametric stereo only). The payload goes into slot.
CodecError* sbrEncodeFrame(SbrElementEncoder* enc, SbrPayload* slot, const float* a, const float* b);
// Parametric stereo: the last frame's half-rate downmix (1024 samples).
int sbrEncoderGetCoreInput(const SbrElementEncoder* enc, const float** samples, int32_t* count);
