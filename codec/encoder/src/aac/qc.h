// Quantisation and coding of one element: scalefactors from the adjusted
// thresholds, the x^(3/4) quantiser with its rounding offset, and the rate
// loop that moves all scalefactors by one offset until the element's bits
// fit the budget.
#pragma once

#include <cstdint>

#include "aac_writer.h"
#include "psy.h"

extern const float kQcRounding;  // 0.4054

// Scalefactor (100 = unit gain) whose quantisation noise in a band with the
// form factor sum(sqrt|x|) equals the threshold.
int32_t qcEstimateScalefactor(float threshold, float formFactor);
// Smallest scalefactor that keeps |q| of the largest magnitude within 8191.
int32_t qcMinScalefactor(float maxMagnitude);
// Quantises n lines with one scalefactor; returns the largest |q|. Reached
// through a replaceable pointer (the default routine is the SSE2 one, which
// gives the generic routine's values).
typedef int32_t (*QcQuantiseLinesFn)(const float* x, int16_t* q, int32_t n, int32_t scalefactor);
extern QcQuantiseLinesFn qcQuantiseLines;
int32_t qcQuantiseLinesGeneric(const float* x, int16_t* q, int32_t n, int32_t scalefactor);
int32_t qcQuantiseLinesSse2(const float* x, int16_t* q, int32_t n, int32_t scalefactor);

// One element's quantised channels and M/S mask, written by the element
// writers.
struct QcElement {
  int32_t numChannels;
  AacIcs ics[2];
  int32_t commonWindow;
  int32_t msMaskPresent;
  uint8_t msUsed[kAacMaxGroups][kAacMaxBands];
  int32_t bits;  // of the written element
};

// Quantises the element (psy output with adjusted thresholds) so that it
// takes at most maxBits, aiming at targetBits; fails only on an invalid
// layout.
CodecError* qcEncodeElement(const PsyOutChannel* const* channels, int32_t numChannels, const PsyOutElement* element,
                            int32_t samplingRateIndex, int32_t targetBits, int32_t maxBits, QcElement* out);
// Writes the element (SCE or CPE by the channel count); returns its bits.
int32_t qcWriteElement(bit_buf* b, int32_t tag, const QcElement* element);
