// Inverse-filtering estimation of the SBR encoder: per noise-floor band and
// frame, the inverse-filtering level (0..3) for the decoder's high-frequency
// generator, from two tonality measures of the band and its energy,
// classified against a tuning table with hysteresis.
//
// The two measures of a band: qA, the tonality of the original high band
// (the mean quota of its own QMF bands), and qB, the tonality of what the
// decoder will patch into it (the mean quota of the source bands that the
// patch map names). The more tonal the source is than the original, the
// stronger the inverse filtering.
#pragma once

#include <cstdint>

#include "errorhnd.h"

constexpr int32_t kInvfMaxBands = 10;

struct InvfDetectorParams {
  float thresholdsA[4];
  float thresholdsB[4];
  float thresholdsNrg[4];
  int32_t numRegionsA;
  int32_t numRegionsB;
  int32_t numRegionsNrg;
  float hysteresis;
  int32_t decisionTable[5][5];
  int32_t decisionTableTransient[5][5];
  int32_t nrgBorderOffset[5];
};

// Running statistics of one band: the last numEstimates + 1 frame values of
// the original's quota, the source's quota and the energy (newest last), the
// smoothing weights, and the measures the decision reads.
struct InvfBandState {
  float* quotaOrig;
  float* quotaSbr;
  float* energy;
  float* weights;
  float qA;
  float qB;
  float e;
};

struct InvfDetector {
  int32_t numEstimates;
  int32_t initialised;
  int32_t prevRegionA[kInvfMaxBands];
  int32_t prevRegionB[kInvfMaxBands];
  int32_t* bandBorders;
  int32_t numBands;
  int32_t numBandsAllocated;
  const InvfDetectorParams* detectorParams;
  InvfBandState band[kInvfMaxBands];
};
typedef InvfDetector* HANDLE_INVF_DETECTOR;

// The two tuning tables (index 1 when the create routine's tuning flag is set).
const InvfDetectorParams* invfDetectorParams(int32_t tuning);

// Creates a detector for numBands bands (1..10) with numBands + 1 QMF band
// borders. Errors: the allocation message, "unknown codec type".
CodecError* createInvFiltDetector(HANDLE_INVF_DETECTOR* out, int32_t codecType,
                                  const int32_t* bandBorders, int32_t numBands, int32_t tuning);

// Takes new band borders; a set flag fails with "unknown codec type".
CodecError* invfReset(HANDLE_INVF_DETECTOR h, const int32_t* bandBorders, int32_t numBands,
                      int32_t flag);

void invfDelete(HANDLE_INVF_DETECTOR h);

// One frame: band statistics over rows [firstRow, lastRow) of quotaMatrix
// (and nrgVector), then the mode of every band into modes.
void invfEstimate(HANDLE_INVF_DETECTOR h, float** quotaMatrix, const float* nrgVector,
                  const int32_t* indexVector, int32_t firstRow, int32_t lastRow,
                  int32_t transientFlag, int32_t* modes, int32_t scaleFlag);

// Region of v against n thresholds: 0 below t[0], i for t[i-1] <= v < t[i],
// n at or above t[n-1].
int32_t invfRegion(float v, const float* thresholds, int32_t n);

// The decision for one band from its measures; updates the band's previous
// regions (prevRegionA, prevRegionB point at its two entries).
int32_t invfDecide(const InvfDetectorParams* p, float qA, float qB, float e, int32_t* prevRegionA,
                   int32_t* prevRegionB, int32_t transientFlag, int32_t scaleFlag);
