// Transient detector of the SBR encoder: finds, from the QMF energies of a
// frame, the time slot where a transient lies, and otherwise says whether the
// spectrum changes enough between the frame's halves to split it in two
// envelopes. One detector per SBR channel; its state runs from frame to frame.
//
// Energy input: an array of row pointers, one row per QMF time slot, each a
// float array of energies by QMF band. Row `lookBack` is the first slot of
// the current frame; the rows in front of it hold earlier slots, and at least
// nCols + 3 rows follow it.
//
// Scale flag: set when energies are in the scale of 16-bit sample values,
// clear for samples normalised to +-1 (every absolute energy constant is then
// multiplied by 2^-30).
#pragma once

#include <cstdint>

#include "errorhnd.h"

struct TranDetState {
  float* transients;       // candidate values per slot: nCols + bufferRows
  float tranThreshold;     // absolute threshold numerator (per band: / nBands)
  float splitThreshold;    // threshold of the frame splitter
  int32_t nSlotsOut;       // nCols + 2 new candidate slots per frame
  int32_t nCols;           // QMF time slots per frame
  int32_t nRows;           // kept for the caller
  float prevLowBandEnergy; // low-band energy of the previous frame
  float avgHighBandEnergy; // mean high-band energy per merged slot and band
  int32_t nBands;          // QMF bands analysed
  int32_t winLength;       // sliding statistics window L, in slots
  float meanFactor;        // a peak must exceed meanFactor times the running mean
  int32_t candidateOpen;   // a peak was seen, waiting for its decay
  float runningMax;        // largest candidate while waiting
  int32_t lookBack;        // rows in front of the current frame
  int32_t bufferRows;      // rows of the caller's energy buffer
};
typedef TranDetState* HANDLE_SBR_TRANSIENT_DETECTOR;

// Most QMF bands, merged groups and SBR bands the detector handles.
constexpr int32_t kTranDetMaxBands = 64;
constexpr int32_t kTranDetMaxGroups = 16;
constexpr int32_t kTranDetMaxSfb = 48;

// Creates a detector. Fails with "out of memory" or "Too short buffers in
// transient detector" (also for a statistics window below 2 slots, a band
// count outside 1..64 or a frame shorter than one slot).
CodecError* tranDetCreate(HANDLE_SBR_TRANSIENT_DETECTOR* out, int32_t frameSize, int32_t sampleRate,
                          float bitrateFactor, float tranThreshold, int32_t nBands, float meanFactor,
                          int32_t nCols, int32_t nRows, int32_t lookBack, int32_t bufferRows);

void tranDetDelete(HANDLE_SBR_TRANSIENT_DETECTOR h);

// One frame: result[1] = 1 and result[0] = slot / timeStep of the transient,
// or {0, 0} when none was found.
void tranDetDetect(float** rows, HANDLE_SBR_TRANSIENT_DETECTOR h, int32_t* result, int32_t timeStep,
                   int32_t scaleFlag);

// The frame splitter, run after tranDetDetect on the same rows; leaves the
// result alone when a transient was found, else result[0] = 1 to split.
// freqBandTable holds nSfb + 1 QMF band borders.
void tranDetSplitFrame(float** rows, HANDLE_SBR_TRANSIENT_DETECTOR h, const int32_t* freqBandTable,
                       int32_t nSfb, int32_t timeStep, int32_t nCols, int32_t* result,
                       int32_t scaleFlag);

// Sum of the candidate values of every band for nSlotsOut slots; rows[0] is
// the first slot, rows[-L..-1] the window's history. out is added to.
void tranDetCandidates(int32_t nBands, float** rows, int32_t winLength, float* out,
                       int32_t nSlotsOut, int32_t scaleFlag);

// Low-band energy of a frame: 1 (scaled) plus the energies of nCols slots in
// the bands below lowBand.
float tranDetLowBandEnergy(float** rows, int32_t nCols, int32_t lowBand, int32_t scaleFlag);

// Merged energies M[g][j] (groups of timeStep slots from slot 2g, SBR bands
// of freqBandTable) into m (row stride kTranDetMaxSfb); returns 1 (scaled)
// plus their sum.
float tranDetHighBandEnergy(float** rows, const int32_t* freqBandTable, int32_t nSfb,
                            int32_t nGroups, int32_t timeStep, int32_t nCols,
                            float m[kTranDetMaxGroups][kTranDetMaxSfb], int32_t scaleFlag);

// Spectral change between groups [start, border) and [border, stop) of m.
float tranDetSpectralChange(const float m[kTranDetMaxGroups][kTranDetMaxSfb], int32_t nSfb,
                            int32_t start, int32_t border, int32_t stop, float total,
                            int32_t scaleFlag);
