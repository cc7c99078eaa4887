// Tonality correlation and patching of the SBR encoder: per QMF band and per
// estimate (a group of 16 QMF slots) the tonality quota of a second-order
// complex linear predictor, kept for the current and earlier frames; the
// patch map that says which low band each high QMF band is transposed from;
// and the per-frame call of the estimators that use these measures
// (inverse filtering, missing harmonics, noise floor).
//
// The noise-floor estimator and the missing-harmonics detector belong to the
// SBR encoder proper; it installs them once through tonCorrInstallEstimators.
// Without them the noise levels and missing-harmonics flags come out as 0 and
// the inverse-filtering detector works on the low-resolution SBR bands.
#pragma once

#include <cstdint>

#include "errorhnd.h"
#include "invf_est.h"

constexpr int32_t kTonCorrMaxPatches = 6;
constexpr int32_t kTonCorrMaxChannels = 64;
constexpr int32_t kTonCorrMaxEnvelopes = 8;

// The decoder's transposer has a patch record of its own under the same
// name and another layout; the encoder's lives in its own namespace so that
// the two never meet in one program's symbol space.
namespace sbrenc {
struct SbrPatch {
  int32_t sourceStart;  // first low band copied
  int32_t sourceStop;   // one past the last
  int32_t guardStart;   // first high band reached by this patch, before the guard
  int32_t targetStart;  // first high band filled
  int32_t bandOffset;   // even distance between target and source bands
  int32_t bandCount;    // bands in the patch
};
}  // namespace sbrenc
using sbrenc::SbrPatch;

struct AutoCorrCoeffs {
  double e0, e1, c01re, c01im, c02re, c02im, c12re, c12im, e2, det;
};

// What the per-frame routine needs of the frame layout: the envelope borders
// in time slots of the frame grid.
struct SbrFrameInfo {
  int32_t nEnvelopes;
  int32_t borders[kTonCorrMaxEnvelopes + 1];
};

// The estimators of the SBR encoder proper, reached through these routines.
// Values marked "passed" come unchanged from CreateTonCorrParamExtr.
struct TonCorrEstimators {
  // Noise floor.
  CodecError* (*nfCreate)(void** out, int32_t passed1, int32_t passed2, int32_t passed3, int32_t passed4,
                          int32_t passedShared, const int32_t* lowResTable, int32_t nLowRes);
  CodecError* (*nfReset)(void* h, const int32_t* lowResTable, int32_t nLowRes);
  void (*nfDelete)(void* h);
  // The noise bands' QMF borders (count + 1 values).
  void (*nfBands)(void* h, const int32_t** borders, int32_t* count);
  int32_t (*nfEstimate)(void* h, const float* nrgVector, float* noiseLevels, float** quotaMatrix,
                        const int32_t* indexVector, int32_t mhFrameFlag, int32_t startIndex,
                        int32_t estimatesPerFrame, int32_t bufferLength, int32_t transient,
                        int32_t flag);
  // Missing harmonics.
  CodecError* (*mhCreate)(void** out, int32_t sampleRate, int32_t nChannels, int32_t qmfSlots,
                          const int32_t* highResTable, int32_t nHighRes);
  CodecError* (*mhReset)(void* h, const int32_t* highResTable, int32_t nHighRes);
  void (*mhDelete)(void* h);
  void (*mhDetect)(void* h, int32_t* bandFlags, int32_t* frameFlag, int32_t* further,
                   float** quotaMatrix, int32_t** signMatrix, const int32_t* indexVector,
                   const SbrFrameInfo* frameInfo, int32_t transient, int32_t passedValue,
                   int32_t nSbrBands);
};

// Installs the estimators (null removes them); set once before encoders are made.
void tonCorrInstallEstimators(const TonCorrEstimators* estimators);

struct TonCorrState {
  int32_t runEstimators;
  int32_t nfStartIndex;
  int32_t invfStartIndex;
  int32_t reserved;
  int32_t transientCarry;
  int32_t transientLead;
  int32_t indexVector[kTonCorrMaxChannels];
  int32_t stopBand;
  int32_t startIndexMatrix;
  int32_t bufferLength;
  int32_t estimatesPerFrame;
  int32_t nChannels;
  int32_t estimateStep;
  int32_t estimateLength;
  int32_t estimateOffset;
  float* nrgVector;
  float* nrgVectorFreq;
  float** quotaMatrix;
  int32_t** signMatrix;
  SbrPatch patches[kTonCorrMaxPatches];
  int32_t guardBands;
  int32_t shiftStartBand;
  int32_t numPatches;
  void* mhDetector;
  void* nfEstimator;
  HANDLE_INVF_DETECTOR invfDetector;
};
typedef TonCorrState* HANDLE_TON_CORR;

// Band tables pair: [0] low resolution, [1] high resolution (QMF borders).
CodecError* CreateTonCorrParamExtr(HANDLE_TON_CORR* out, int32_t divisor, int32_t nfPassed1,
                                   int32_t qmfSlots, int32_t dividend, int32_t sampleRate,
                                   int32_t nChannels, int32_t xoverFlag, int32_t highStartBand,
                                   const int32_t* masterTable, int32_t nMaster, int32_t nfPassed2,
                                   const int32_t* const bandTables[2], const int32_t bandCounts[2],
                                   int32_t nfPassed3, int32_t nfPassed4, int32_t useMissingHarmonics,
                                   int32_t sharedPassed, int32_t codecType);

CodecError* tonCorrReset(HANDLE_TON_CORR h, int32_t xoverFlag, int32_t highStartBand,
                         const int32_t* masterTable, int32_t nMaster, int32_t sampleRate,
                         const int32_t* const bandTables[2], const int32_t bandCounts[2],
                         int32_t nChannels, int32_t keepDetector);

void tonCorrDelete(HANDLE_TON_CORR h, int32_t keepDetector);

// One frame of tonality: the rows are the frame's QMF slots (one row per
// slot, a float array over bands), with two slots in front of the first
// estimate's window readable (estimateOffset = 2).
void tonCorrCalcQuotas(HANDLE_TON_CORR h, float** realRows, float** imagRows, int32_t scaleFlag);

// The estimators for one frame; returns the noise-floor estimator's result.
int32_t tonCorrExtractFrame(HANDLE_TON_CORR h, int32_t* invfModes, float* noiseLevels,
                            int32_t* mhFrameFlag, int32_t* mhBandFlags, int32_t* mhFurther,
                            const SbrFrameInfo* frameInfo, const int32_t* transientResult,
                            int32_t mhPassed, int32_t nSbrBands, int32_t flag, int32_t mode);

// Covariance of QMF band `band` over the len slots from row `start`
// (reading the two rows in front of it).
void tonCorrAutoCorr(AutoCorrCoeffs* ac, float** realRows, float** imagRows, int32_t band,
                     int32_t start, int32_t len);
void tonCorrPredictionCoeffs(const AutoCorrCoeffs* ac, double a1[2], double a0[2]);

// The master-table entry closest to goal in the direction (1 up, 0 down);
// table holds n + 1 entries.
int32_t tonCorrFindClosestEntry(int32_t goal, const int32_t* table, int32_t n, int32_t up);

// Patch construction into h; fails with "Number of patches to high" or
// "Number of patches too high".
CodecError* tonCorrResetPatch(HANDLE_TON_CORR h, int32_t xoverFlag, int32_t highStartBand,
                              const int32_t* masterTable, int32_t nMaster, int32_t sampleRate,
                              int32_t nChannels);
