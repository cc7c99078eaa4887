// Channel elements of the AAC-LC core: the element and channel state, the
// individual channel stream (side information, section data, scale factors,
// pulse and TNS data, spectral data), the spectral tools (inverse
// quantisation, mid/side, noise substitution, intensity, TNS), the inverse
// MDCT filter bank with overlap-add, and the fill and data-stream payloads.
#pragma once

#include <cstdint>

#include "aacbits.h"
#include "decruntime.h"

struct CuBuffer;
struct Mp4AudioDecLayer;

// Core status codes (reported outward as -85).
enum {
  AAC_ERR_RESERVED_CODEBOOK = -1975,
  AAC_ERR_ELEMENT_LIMIT = -1977,
  AAC_ERR_CHANNEL_LIMIT = -1978,
  AAC_ERR_TNS_RANGE = -1979,
  AAC_ERR_TNS_ORDER = -1980,
  AAC_ERR_COMMON_ICS = -1981,
  AAC_ERR_MISSING_ELEMENT = -1984,
  AAC_ERR_FRAME_LENGTH = -1986,
  AAC_ERR_CHANNEL_STREAM = -1987,
  AAC_ERR_COMMON_WINDOW = -1988,
  AAC_ERR_BITS_IN_USE = -1989,
  AAC_ERR_PREDICTION = -1991,
  AAC_ERR_NO_DATA = -1995,
  AAC_ERR_OUT_OF_MEMORY = -1997,
  AAC_ERR_CHANNEL_CONFIG = -1998,
};

enum { AAC_ONLY_LONG = 0, AAC_LONG_START = 1, AAC_EIGHT_SHORT = 2, AAC_LONG_STOP = 3 };
enum { AAC_ZERO_HCB = 0, AAC_ESC_HCB = 11, AAC_NOISE_HCB = 13, AAC_INTENSITY_HCB2 = 14, AAC_INTENSITY_HCB = 15 };
enum { AAC_MAX_GROUPS = 8, AAC_MAX_SFB = 64 };

struct AacIcsInfo {
  int32_t windowSequence;
  int32_t windowShape;
  int32_t maxSfb;
  int32_t scaleFactorGrouping;
  int32_t numWindows;
  int32_t numWindowGroups;
  int32_t windowGroupLength[AAC_MAX_GROUPS];
  int32_t numSwb;            // bands of the layout of this window length
  const uint16_t* swbOffset;  // band borders of one window
  int32_t windowLength;       // lines per window
  int32_t tnsMaxBands;
};

struct AacTnsFilter {
  int32_t length;
  int32_t order;
  int32_t direction;
  int32_t coefCompress;
  int8_t coef[32];
};

struct AacTnsData {
  int32_t present;
  int32_t numFilters[8];
  int32_t coefRes[8];
  AacTnsFilter filter[8][4];
};

struct AacPulseData {
  int32_t present;
  int32_t count;
  int32_t startSfb;
  int32_t offset[4];
  int32_t amp[4];
};

// One channel: its side information, spectrum and filter-bank state.
struct AacChannel {
  AacIcsInfo ics;
  int32_t globalGain;
  uint8_t sfbCb[AAC_MAX_GROUPS][AAC_MAX_SFB];
  int16_t sf[AAC_MAX_GROUPS][AAC_MAX_SFB];  // scale factor - 100, noise energy - 100 or intensity position
  uint32_t noiseState[AAC_MAX_GROUPS][AAC_MAX_SFB];
  AacPulseData pulse;
  AacTnsData tns;
  int32_t concealed;
  int32_t prevWindowShape;
  int32_t prevWindowSequence;
  uint32_t randomState;
  float spec[1024];
  float overlap[1024];
  float out[1024];
  float work[2048];
  DecDct* dctLong;
  DecDct* dctShort;
};

enum { AAC_ELEM_SCE = 0, AAC_ELEM_CPE = 1, AAC_ELEM_CCE = 2, AAC_ELEM_LFE = 3 };

// One element instance (SCE, LFE and CCE: one channel; CPE: two).
struct AacElement {
  int32_t type;
  int32_t tag;
  int32_t channels;
  AacChannel* ch[2];
  int32_t commonWindow;
  int32_t msMaskPresent;
  uint8_t msUsed[AAC_MAX_GROUPS][AAC_MAX_SFB];
  int32_t gainsCleared;
};

// Shared decoding context of one layer.
struct AacChannelContext {
  int32_t frameLength;           // 1024 or 960
  int32_t samplingFrequencyIndex;  // band-table index
  int32_t q[1024];               // quantised values of the channel being read
};

int32_t aacElementCreate(AacElement** element, int32_t type, int32_t tag, const AacChannelContext* ctx);
void aacElementDestroy(AacElement** element);
void aacElementReset(AacElement* element);

// Reads and reconstructs an SCE/LFE (one channel) or a CPE into the elements'
// time outputs. 0 or a core code.
int32_t aacDecodeSce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx);
int32_t aacDecodeCpe(AacElement* e, AacBitstream* bs, AacChannelContext* ctx);
// Parses a coupling channel element so that the bitstream stays in step.
int32_t aacParseCce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx);
// Data stream element (tag already read): stored as ancillary type 128 + tag.
int32_t aacReadDataStreamElement(AacBitstream* bs, int32_t tag, CuBuffer* cu);
// One extension payload of a fill element with count bytes left; returns the
// bytes consumed (at least 1), or a negative core code.
int32_t aacReadExtensionPayload(AacBitstream* bs, int32_t count, int32_t afterCpe, CuBuffer* cu);
// Frame of a lost unit for one channel: the saved overlap half, then silence.
void aacConcealChannel(AacChannel* ch, const AacChannelContext* ctx);
