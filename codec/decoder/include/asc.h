// AudioSpecificConfig: parses the decoder configuration of an MPEG-4 audio
// track into a fixed-size record; compares, copies and prints records.
#pragma once

#include <cstdint>

#include "aacbits.h"

struct CuBuffer;

// Program config element.
struct AscProgramConfig {
  int32_t present;
  int32_t elementTag;
  int32_t objectType;
  int32_t samplingFrequencyIndex;
  int32_t numFront, numSide, numBack;
  int32_t frontChannels, sideChannels, backChannels;
  int32_t numLfe, numAssocData, numCc;
  int32_t monoMixdownPresent, monoMixdownElement;
  int32_t stereoMixdownPresent, stereoMixdownElement;
  int32_t matrixMixdownPresent, matrixMixdownIndex, pseudoSurround;
  int32_t frontIsCpe[16], frontTag[16];
  int32_t sideIsCpe[16], sideTag[16];
  int32_t backIsCpe[16], backTag[16];
  int32_t lfeTag[4];
  int32_t assocTag[8];
  int32_t ccIsIndSw[16], ccTag[16];
  int32_t commentBytes;
  uint8_t comment[64];
  int32_t channelCount;
};

struct AscGaConfig {
  int32_t frameLengthFlag;
  int32_t dependsOnCoreCoder;
  int32_t coreCoderDelay;
  int32_t extensionFlag;
  int32_t extensionFlag3;
  int32_t layerNr;
  int32_t numOfSubFrame;
  int32_t layerLength;
  int32_t vcb11;  // section data resilience
  int32_t rvlc;   // scale factor data resilience
  int32_t hcr;    // spectral data resilience
  AscProgramConfig pce;
};

struct AscCelpConfig {
  int32_t isBaseLayer;
  int32_t excitationMode, sampleRateMode, fineRateControl, silenceCompression;
  int32_t rpeConfig, mpeConfig, numEnhLayers, bandwidthScalabilityMode;
  int32_t isBwsLayer, bwsConfig, brsId;
  int32_t layer;
  int32_t frameLength;
};

struct AscHvxcConfig {
  int32_t isBaseLayer;
  int32_t varMode, rateMode, extensionFlag, varScalableFlag;
};

struct AscType30Config {
  int32_t payloadFlag;
  int32_t byteCount;
  uint8_t bytes[256];
};

struct AscEpConfig {
  int32_t numberOfPredefinedSet;
};

struct AudioSpecificConfig {
  int32_t objectType;
  int32_t origObjectType;
  int32_t samplingFrequencyIndex;
  int32_t samplingFrequency;
  int32_t channelConfiguration;
  int32_t epConfig;
  int32_t directMapping;
  int32_t sbrPresent;
  int32_t psPresent;
  int32_t extensionObjectType;
  int32_t extensionSamplingFrequencyIndex;
  int32_t extensionSamplingFrequency;
  int32_t streamParam1;
  int32_t streamParam2;
  int32_t layerIndex;
  int32_t channelCount;
  int32_t frameLength;
  AscGaConfig ga;
  AscCelpConfig celp;
  AscHvxcConfig hvxc;
  AscType30Config type30;
  int32_t mpeg12Extension;
  AscEpConfig ep;
};

int32_t ascParse(AudioSpecificConfig* asc, const AudioSpecificConfig* base, AacBitstream* bs, int32_t streamParam1,
                 int32_t streamParam2, int32_t noSyncExtension);
// Parses a program config element (its 4-bit tag already read). When cu is
// given (an element met inside a raw data block), its comment bytes are also
// stored as an ancillary entry of type 144 + tag.
int32_t ascParsePce(AscProgramConfig* pce, AacBitstream* bs, int32_t tag, CuBuffer* cu);
int32_t ascParseGaConfig(AudioSpecificConfig* asc, AacBitstream* bs, int32_t channelConfiguration,
                         int32_t objectType);
int32_t ascCompare(const AudioSpecificConfig* a, const AudioSpecificConfig* b);
int32_t ascCopy(AudioSpecificConfig* dst, const AudioSpecificConfig* src);
int32_t ascGetAot(const AudioSpecificConfig* asc);
int32_t ascGetLayerNumber(const AudioSpecificConfig* asc, const AudioSpecificConfig* base);
// Writes the text dump of a record into text (at least 2048 bytes).
int32_t ascPrint(const AudioSpecificConfig* asc, char* text);
int32_t mp4AudioDecAscToText(int32_t layers, AudioSpecificConfig* const* records, int32_t size, char* buffer);
int32_t mp4AudioDecParseAscLayers(const uint8_t* const* bytes, const int32_t* counts, const int32_t* streamParams,
                                  int32_t layers, AudioSpecificConfig* const* records);
// Scalable configurations: parses each layer (allocating a zero-filled
// record for a null slot), numbers the layers and counts the records per
// layer number; the number of layer numbers comes back in *layerNumbers.
int32_t mp4AudioDecParseAscScalable(const uint8_t* const* bytes, int32_t layers, const int32_t* counts,
                                    int32_t streamParam, int32_t* layerNumbers, AudioSpecificConfig** records,
                                    int32_t* perLayerCounts);
// Frame length of an object type (the GA types from frameLengthFlag); a
// negative code when there is none.
int32_t ascFrameLength(const AudioSpecificConfig* asc, int32_t objectType);
// Channel count of a channel configuration (0 takes the PCE's count); -93 above 7.
int32_t ascChannelCount(const AudioSpecificConfig* asc);
// Frequency of a sampling-frequency index 0-12, else 0.
int32_t ascIndexFrequency(int32_t index);
bool ascIsGaType(int32_t aot);
bool ascIsErType(int32_t aot);
