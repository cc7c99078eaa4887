// Polyphase sample-rate converter: a Kaiser-window low-pass prototype at the
// common multiple of the two rates, split into the phases of the reduced
// ratio L/M, run on 32-bit float interleaved samples.
//
// Two block structures:
//  - fixed output (structure code 2, and 12): every run yields exactly the
//    output block; the converter says how many input frames the next run needs;
//  - fixed input (structure code 3, and 13): every run takes exactly the
//    input block and yields what it has (the output count varies by one).
//
// The converter starts with silence in front of the first sample, so its
// output lags the input by `delay` output samples (half the prototype).
#pragma once

#include <cstdint>

#include "errorhnd.h"

// Design parameters of one converter. Values not above zero are replaced by
// defaults at creation (see polyphaseCreate).
struct PolyphaseTuning {
  float attenuation;     // stop-band attenuation in dB (default 90)
  float passEdge;        // pass-band edge in Hz
  float transition;      // transition width parameter in Hz
  float gain;            // linear gain applied to every output
  int32_t rateThreshold; // rate in Hz above which quality 7 prefers the fixed-output structure
};

struct PolyphaseConverter;

// Kaiser parameter beta for an attenuation in dB (rounded to single precision).
float polyphaseKaiserBeta(double attenuation);

// Prototype length for an attenuation in dB and a transition width normalised
// to the prototype's sampling rate: (A - 7.95) / (df * 23.837599520683288) + 1,
// truncated; with keepReal the real value without the + 1.
double polyphaseKaiserLength(double attenuation, double normalisedWidth, bool keepReal);

// Zeroth-order modified Bessel function of the first kind (power series).
double polyphaseBesselI0(double x);

// Kaiser window of n values into w.
void polyphaseKaiserWindow(double beta, int32_t n, double* w);

// Process-wide convolution routine: sum of coeffs[j] * samples[j], j < n.
using PolyphaseConvolveFn = float (*)(const float* coeffs, const float* samples, int32_t n);
extern PolyphaseConvolveFn polyphaseConvolve;
float polyphaseConvolvePlain(const float* coeffs, const float* samples, int32_t n);
float polyphaseConvolveSse(const float* coeffs, const float* samples, int32_t n);
// Installs the SSE routine when the processor has SSE; idempotent.
void polyphaseInitConvolve();

// Creates a converter. variant is the filter-design variant (0-7), quality
// one of 7, 8, 9, 80, 81, 90, 91. inBufferSamples bounds what one run may
// take; outBlockSamples is the fixed output block (structures 2 and 12) or,
// for structures 3 and 13, inBlockSamples is the fixed input block.
// Returns null or an error chain.
CodecError* polyphaseCreate(PolyphaseConverter** out, uint32_t inRate, uint32_t outRate,
                            int32_t channels, int32_t inBufferSamples, int32_t outBlockSamples,
                            int32_t inBlockSamples, int32_t variant, int32_t quality,
                            const PolyphaseTuning* tuning);

void polyphaseDelete(PolyphaseConverter* conv);

// Runs one block of inSamples interleaved samples (null input is silence).
// The count must be the one the converter asked for. On success *out points
// at the converter's output buffer with *outSamples samples, and
// *nextInSamples is what the next run must supply.
CodecError* polyphaseRun(PolyphaseConverter* conv, const float* in, int32_t inSamples,
                         float** out, int32_t* outSamples, int32_t* nextInSamples);

// Input samples the next run must supply.
int32_t polyphaseNextInput(const PolyphaseConverter* conv);

// Output samples the converter's buffer can hold (its largest run result).
int32_t polyphaseOutputCapacity(const PolyphaseConverter* conv);

// Delay in output sample periods (half the prototype, as a real number).
double polyphaseDelay(const PolyphaseConverter* conv);

// The structure code the quality chose (2, 3, 12 or 13).
int32_t polyphaseStructure(const PolyphaseConverter* conv);

// Design facts for tests: up factor L, down factor M, prototype length, taps per phase,
// and the pass edge / stop edge the prototype was designed for, in Hz.
struct PolyphaseDesign {
  int32_t up, down, length, tapsPerPhase;
  double passEdge, stopEdge, beta;
};
void polyphaseGetDesign(const PolyphaseConverter* conv, PolyphaseDesign* design);
