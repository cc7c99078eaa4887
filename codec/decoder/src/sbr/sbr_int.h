// Internal records of the SBR decoder library: bit reader, header, grid,
// per-channel frame data, band tables, transposer, envelope adjuster.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sbr_tables.h"

constexpr int MAX_FREQ_COEFFS = 48;
constexpr int MAX_NOISE_COEFFS = 5;
constexpr int MAX_NUM_LIMITERS = 12;
constexpr int MAX_ENVELOPES = 5;
constexpr int MAX_NOISE_ENVELOPES = 2;
constexpr int MAX_ENV_VALUES = 240;
constexpr int MAX_NUM_PATCHES = 6;
constexpr int QMF_CHANNELS = 64;
constexpr int SBR_MAX_SLOTS = 32;       // QMF slots per frame (30 for 960-sample frames)
constexpr int SBR_OVERLAP = 8;          // slots kept from the previous frame
constexpr int SBR_HF_ADJ = 2;           // transposer offset into the slot matrix
constexpr int SBR_TOTAL_SLOTS = SBR_MAX_SLOTS + SBR_OVERLAP;

// ---- bit reader over one payload ----
struct SbrBitReader {
  const uint8_t* data = nullptr;
  int32_t lengthBits = 0;
  int32_t bitsRead = 0;  // counts whole requests, also past the end
};
void sbrBitInit(SbrBitReader* br, const uint8_t* data, int bytes);
// Reads n (0..32) bits, most significant first; bits past the end read as 0.
uint32_t sbrReadBits(SbrBitReader* br, int n);
inline int sbrBitsLeft(const SbrBitReader* br) { return br->lengthBits - br->bitsRead; }
// Walks a tree of the generated tables; returns the decoded value.
int sbrDecodeHuffman(SbrBitReader* br, sbrtab::HuffTree tree);

// ---- header ----
struct SbrHeader {
  int resetFlag = 0;
  int freqChange = 0;
  int frameError = 0;
  int prevFrameError = 1;
  int reserved = 0;
  int lastChannels = 0;
  int ampRes = 1;
  int startFreq = 0;
  int stopFreq = 0;
  int xoverBand = 0;
  int freqScale = 2;
  int alterScale = 1;
  int noiseBands = 2;
  int numNoiseBands = 0;
  int carried = 0;
  int limiterBands = 2;
  int limiterGains = 2;
  int interpolFreq = 1;
  int smoothingMode = 1;
};

// ---- time/frequency grid ----
struct SbrGrid {
  int frameClass = 0;
  int numEnv = 1;
  int borders[MAX_ENVELOPES + 1] = {0, 16};
  int freqRes[MAX_ENVELOPES] = {1};
  int transientIdx = -1;
  int numNoiseEnv = 1;
  int noiseBorders[MAX_NOISE_ENVELOPES + 1] = {0, 16};
};

// ---- per-channel frame data ----
struct SbrFrameData {
  int numEnvValues = 0;
  SbrGrid grid;
  int nBands[2] = {0, 0};  // low, high resolution
  int nNoiseBands = 0;
  int nInvfBands = 0;
  int resMapOffset = 0;
  int numTimeSlots = 16;
  int domainVec[MAX_ENVELOPES] = {};
  int domainVecNoise[MAX_NOISE_ENVELOPES] = {};
  int stopPos = 16;
  int invfMode[MAX_NOISE_COEFFS] = {};
  int invfModePrev[MAX_NOISE_COEFFS] = {};
  int coupling = 0;
  float env[MAX_ENV_VALUES] = {};
  float noise[MAX_NOISE_ENVELOPES][MAX_NOISE_COEFFS] = {};
  int addHarmonic[MAX_FREQ_COEFFS] = {};
  int ampResEff = 1;
  // Aliasing degree per QMF band (0..1), written by the transposer in
  // low-power mode: how strongly band k and band k - 1 share a component
  // at their common border.
  float degreeAlias[64] = {};
  int psStartBand = 0;
  int framesDecoded = 0;  // 0 until a first frame has been decoded
};

struct SbrPrevData {
  float env[MAX_FREQ_COEFFS] = {};
  int ampRes = 0;
  float noise[MAX_NOISE_COEFFS] = {};
  int coupling = 0;
};

// ---- frequency band tables (owned by the envelope adjuster) ----
struct SbrFreqTables {
  int master[MAX_FREQ_COEFFS + 1] = {};
  int nMaster = 0;
  int high[MAX_FREQ_COEFFS + 1] = {};
  int nHigh = 0;
  int low[MAX_FREQ_COEFFS + 1] = {};
  int nLow = 0;
  int noise[MAX_NOISE_COEFFS + 1] = {};
  int nNoise = 0;
  int lim[MAX_FREQ_COEFFS + MAX_NUM_PATCHES + 2] = {};  // relative to lsb
  int nLim = 0;
  int lsb = 0;
  int usb = 0;
};

// ---- LPC patch transposer ----
struct SbrPatch {
  int sourceStart;
  int sourceStop;
  int targetStart;
  int offset;
  int numBands;
};

struct LppTrans {
  int slotsPerFrame = 32;
  int lpcOrder = 2;
  float chirpOverride = 0.0f;
  int patchStartSubband = 1;
  int numChannels = QMF_CHANNELS;
  int numPatches = 0;
  SbrPatch patches[MAX_NUM_PATCHES] = {};
  int lowestSource = 0;
  int highestSourceStop = 0;
  int highestTargetStop = 0;
  float prevChirp[MAX_NOISE_COEFFS] = {};
  int prevInvfMode[MAX_NOISE_COEFFS] = {};
  int noiseBorders[MAX_NOISE_COEFFS + 1] = {};
  int nNoise = 0;
};

// ---- envelope adjuster ----
struct SbrEnvCalc {
  SbrFreqTables ft;
  int filterStart = 1;
  int noiseIndex = 0;
  int phaseIndex = 0;
  int prevTransient = -1;  // 0 when the previous frame's transient was its last envelope
  // Gain and noise history of the last four slots (for the 5-tap smoothing).
  float gainHist[4][QMF_CHANNELS] = {};
  float noiseHist[4][QMF_CHANNELS] = {};
  int harmonicPrev[QMF_CHANNELS] = {};  // by absolute QMF band
};
