// Long-term prediction of the encoder (object types 4 and 19): the encoder
// keeps the decoder's reconstruction of every coded long-term-predicted
// channel (inverse quantisation, M/S, the prediction, TNS synthesis, inverse
// MDCT and overlap-add), searches the lag and gain that best predict the
// block being coded from that reconstructed past, transforms the prediction
// with the block's window and uses it in the bands where it lowers the
// energy left to code.
#pragma once

#include <cstdint>

#include "aac_writer.h"
#include "tns.h"
#include "transform.h"

enum {
  kLtpMaxLag = 2047,
  kLtpStateLength = 3072,
};

// The quantised gains of the predictor (3-bit index).
extern const float kLtpCoefficients[8];

// One channel's prediction state, as the decoder holds it.
struct LtpChannel {
  // The decoder's history: the output of the two frames before the block
  // being coded, then the windowed second half of the last inverse
  // transform (not yet overlapped).
  float state[kLtpStateLength];
  float block[2048];           // the input of the block being coded
  float prediction[1024];      // its predicted spectrum (TNS-filtered like the signal)
  int32_t previousShape;       // window shape of the last coded frame
};

// The lag (0-2047) whose delayed reconstruction correlates best with the
// block (2048 samples) and the gain that scales it; false when no lag gives
// a positive correlation.
bool ltpFindLag(const float* block, const float* state, int32_t* lag, float* gain);

// The quantised gain index nearest to gain.
int32_t ltpCoefficientIndex(float gain);

// The predicted spectrum of a long block (sequences 0, 1, 3): the state read
// `lag` samples back, scaled by the coefficient, windowed with the block's
// sequence and shapes and transformed (in the scale of the coded spectrum),
// then filtered by the channel's TNS filter over the lines it covers.
void ltpPredict(TransformObject* transform, const float* state, int32_t lag, int32_t coefIndex,
                int32_t windowSequence, int32_t windowShape, int32_t previousShape, const TnsConfig* tns,
                const TnsWindow* tnsWindow, int32_t maxSfb, float* spectrum);

// The inverse MDCT of n lines (1024 or 128) to 2n samples, in the scale that
// the forward transform's lines (times 2) come back from.
void ltpInverseTransform(TransformObject* transform, const float* spectrum, float* out, int32_t n);

// The decoder's spectrum of a coded channel: the lines dequantised with
// their scalefactors (window order for short blocks).
void ltpDequantise(const AacIcs* ics, float* spectrum);

// Windows and overlaps the inverse transform of a decoded spectrum (TNS
// already undone) and moves the channel's state on by one frame.
void ltpReconstruct(TransformObject* transform, LtpChannel* channel, const float* spectrum, int32_t windowSequence,
                    int32_t windowShape);
