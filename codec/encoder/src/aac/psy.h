// Psychoacoustic model of the AAC-LC core: per frame and channel the window
// sequence (through block switching), the MDCT spectrum, band energies,
// masking thresholds with spreading, threshold in quiet and pre-echo control,
// spread energies, the short windows regrouped by their window groups, and
// for a channel pair the per-band mid/side decision.
//
// Input samples are in the scale of 16-bit sample values.
#pragma once

#include <cstdint>

#include "aac_writer.h"
#include "block_switch.h"
#include "transform.h"
#include "tns.h"

enum {
  kPsyBands = 120,      // one long frame's bands or eight short windows' bands
  kPsyFrame = 1024,
  kPsyHistory = 2624,   // samples per channel; the newest 1024 at [1600, 2624)
  kPsyNewest = 1600,
};

// One configuration for long blocks and one for short blocks.
struct PsyConfiguration {
  int32_t sampleRate;
  int32_t numBands;
  int32_t activeBands;     // bands up to the low-pass line
  int32_t altActiveBands;  // for the reduced analysis
  const uint16_t* bandOffsets;  // numBands + 1 borders
  float thrQuiet[kAacMaxBands];
  float spreadLowThr[kAacMaxBands], spreadHighThr[kAacMaxBands];
  float spreadLowEn[kAacMaxBands], spreadHighEn[kAacMaxBands];
  float maxAllowedIncrease;
  float minRemaining;
  int32_t lowpassLine;
  int32_t altLowpassLine;
  float clipEnergy;
  float ratio;
  TnsConfig tns;
};

struct PsyData {
  float history[kPsyHistory];
  BlockSwitchingControl blockSwitching;
  int32_t windowSequence;
  int32_t windowShape;
  int32_t previousWindowShape;
  float prevThr[kPsyBands];
  float thr[kPsyBands];
  float energy[kPsyBands];
  float energy2[kPsyBands];  // energies of the spectrum before the low-pass
  float preEchoRatio[kPsyBands];
  float spreadEnergy[kPsyBands];
  float spectrum[1024];
  int32_t reducedAnalysis;
  int32_t maxBand;
  TnsInfo tns;  // the filters of the frame analysed last
};

// What the quantiser needs of one channel; bands are laid out group after
// group (bandsPerGroup entries each), lines in window order.
struct PsyOutChannel {
  int32_t windowSequence;
  int32_t windowShape;
  int32_t numGroups;
  int32_t groupLen[kAacMaxGroups];
  int32_t bandsPerGroup;  // bands of the layout (long or short)
  int32_t maxSfb;
  const uint16_t* bandOffsets;
  float energy[kPsyBands];
  float threshold[kPsyBands];
  float spreadEnergy[kPsyBands];
  float quietThreshold[kPsyBands];  // the threshold in quiet: no band is coded finer
  float spectrum[1024];  // filtered where tns has a filter
  TnsInfo tns;
};

struct PsyOutElement {
  int32_t commonWindow;
  int32_t msMaskPresent;  // 0 none, 1 per band, 2 all bands
  uint8_t msUsed[kAacMaxGroups][kAacMaxBands];
};

struct PsyState {
  int32_t numChannels;
  int32_t sampleRate;
  int32_t bandwidth;
  PsyConfiguration longConfig;
  PsyConfiguration shortConfig;
  PsyData* channels[12];
  TransformObject* transform;
};

// Builds the configurations for the bitrate per channel and the bandwidth,
// and the per-channel records; 0, or 1 for no channel or an unknown rate,
// 3 when memory runs out. tnsMask switches temporal noise shaping on: the
// values 2 and 8 for long windows, 1 and 4 for short ones.
int psyInit(PsyState** out, int32_t bitRate, int32_t sampleRate, int32_t bandwidth, int32_t numChannels,
            int32_t tnsMask = 0);
void psyDelete(PsyState** state);

// Fills one configuration (exposed for tests).
int psyInitConfiguration(PsyConfiguration* config, int32_t sampleRate, int32_t bandwidth, int32_t isShort);

// Takes one frame of interleaved input (stride = the channel count of the
// whole input) into a channel's history.
void psyInput(PsyData* data, const float* input, int32_t stride, float gain);

// One frame of one element (1 or 2 channels). Returns 0.
int psyMain(PsyState* state, int32_t numChannels, PsyData* const* data, PsyOutChannel* const* out,
            PsyOutElement* element);

// Band perceptual entropy: PE, constant part and active lines of one band.
void psyBandPe(float energy, float threshold, float activeLines, float* pe, float* constPart);
