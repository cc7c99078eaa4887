// The AudioSpecificConfig and its GASpecificConfig, with the three ways of
// signalling SBR and parametric stereo: implicit (1), backward-compatible
// explicit through the sync extensions 0x2b7 and 0x548 (2), and
// hierarchical explicit with the extension object type first (3).
#pragma once

#include <cstdint>

#include "bit_buf.h"
#include "errorhnd.h"
#include "prconfig.h"

// Core object types 128, 129 and 130 stand for object types 1, 2 and 3
// written without any SBR signalling.
enum {
  kAscCoreMainNoSbr = 128,
  kAscCoreLcNoSbr = 129,
  kAscCoreSsrNoSbr = 130,
};

enum AscSbrSignalling {
  kAscSbrImplicit = 1,
  kAscSbrBackwardCompatible = 2,
  kAscSbrHierarchical = 3,
};

struct GaSpecificConfigRecord {
  int32_t frameLength;  // 1024 or 960
  int32_t dependsOnCoreCoder;
  int32_t coreCoderDelay;
  int32_t extensionFlag3;
  int32_t layerNr;
  int32_t numOfSubFrame;
  int32_t layerLength;
  int32_t aacSectionDataResilienceFlag;
  int32_t aacScalefactorDataResilienceFlag;
  int32_t aacSpectralDataResilienceFlag;
  PceRecord* pce;
};

struct AscWriteRecord;
typedef CodecError* (*AscSpecificWriter)(const AscWriteRecord* record, const GaSpecificConfigRecord* ga,
                                         bit_buf* buffer);

struct AscWriteRecord {
  int32_t objectType;  // core: 2, 4, 17, 19, or 128-130
  int32_t samplingFrequency;
  int32_t channelConfiguration;
  int32_t extensionObjectType;  // 0, 5 or 29
  int32_t sbrSignalling;        // AscSbrSignalling
  int32_t sbrPresentFlag;
  int32_t psPresentFlag;
  int32_t extensionSamplingFrequency;
  int32_t epConfig;
  int32_t directMapping;
  GaSpecificConfigRecord* ga;
  AscSpecificWriter specificWriter;  // writeGaSpecificConfig
  bit_buf* errorProtectionConfig;     // a prepared ErrorProtectionSpecificConfig, or null
};

CodecError* writeAudioSpecificConfig(const AscWriteRecord* record, bit_buf* buffer);
CodecError* writeGaSpecificConfig(const AscWriteRecord* record, const GaSpecificConfigRecord* ga, bit_buf* buffer);

// Index 0-12 of the sampling-frequency table for an exact rate, else 15.
int32_t getSamplingFrequencyIndex(int32_t rate);
// The same search, else -1.
int32_t findSamplingRateIndex(int32_t rate);

// The PCE of the record's GA configuration (null without one).
PceRecord* ascGetPce(const AscWriteRecord* record);
// Sets the three error-resilience flags of the GA configuration and returns
// it (null when the record has none).
GaSpecificConfigRecord* setErResilienceFlags(AscWriteRecord* record, int32_t spectral, int32_t scalefactor,
                                             int32_t section);
