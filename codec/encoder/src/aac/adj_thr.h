// Threshold adjustment: raises (or lowers) the psychoacoustic thresholds of
// one element so that its perceptual entropy meets the bits granted for the
// frame, with the bit-reservoir factor, running PE bounds, minimum-SNR
// adaptation and hole avoidance.
#pragma once

#include <cstdint>

#include "errorhnd.h"
#include "psy.h"

enum { kAdjThrMaxElements = 15 };

struct AdjThrElementState {
  float peMin;
  float peMax;
  float peOffset;
  uint8_t ahEnabled;
  int32_t startSfbLong;
  int32_t startSfbShort;
  float minSnr;  // hole avoidance: largest noise-to-energy ratio of a coded band
  float maxRed;
  float startRatio;
  float maxRatio;
  float redRatioFac;
  float redOffs;
  float meanPe;  // running mean of the element's PE, for the reservoir's spending
};

struct AdjThrState {
  float bitresParams[16];  // long group then short group of eight
  AdjThrElementState* element[kAdjThrMaxElements];
  float lastResortTarget;
};

// Per band of each channel of the element, after adjustThresholds.
struct AdjThrBands {
  float minSnr[2][kPsyBands];
  uint8_t ahFlag[2][kPsyBands];
  float peBefore;     // element PE of the psychoacoustic thresholds
  float pe;           // element PE after the adjustment
  float desiredPe;
  int32_t desiredBits;
};

CodecError* adjThrNew(AdjThrState** out, int32_t elements);
void adjThrDelete(AdjThrState* state);
void adjThrInit(AdjThrState* state, float meanPe, const int32_t* elementBitratesPerChannel, int32_t elementCount);
void adjThrSetLastResortTarget(AdjThrState* state, float value);

inline float bitsToPe(float bits) { return bits * 1.18f; }
inline float peToBits(float pe) { return pe / 1.18f; }

// The bit-reservoir factor of a frame.
float bitresCalcBitFac(const AdjThrState* state, const AdjThrElementState* element, int32_t bitresBits,
                       int32_t maxBitresBits, float pe, int32_t windowSequence, int32_t avgBits, float maxBitFac);
// Moves the running PE bounds toward the frame's PE.
void adjustPeMinMax(float pe, float* peMin, float* peMax);

// Bits for one element's frame: the threshold adjustment's desired bits,
// raised for a frame much harder than the running mean by part of the
// reservoir. When the next frame (already analysed) is hard too, the two
// share what the reservoir holds, so the frame after a transient is not left
// with the mean share alone. Updates the running mean PE.
int32_t bitresFrameBits(AdjThrState* state, int32_t elementIndex, float pe, float nextPe, const AdjThrBands& bands,
                        int32_t bitresBits, int32_t maxBitresBits);

// Band PE sums of one channel; the active lines per band come from the
// spectrum's form factor. Returns the channel's PE.
float calcChannelPe(const PsyOutChannel* ch, const float* thresholds, float* bandPe, float* bandLines,
                    float* constPart);

// Adjusts the thresholds of the element's channels in place.
void adjustThresholds(AdjThrState* state, int32_t elementIndex, PsyOutChannel* const* channels, int32_t numChannels,
                      const PsyOutElement* element, int32_t avgBits, int32_t bitresBits, int32_t maxBitresBits,
                      float maxBitFac, AdjThrBands* result);
