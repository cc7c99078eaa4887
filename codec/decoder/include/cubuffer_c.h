// Composition-unit buffer: receives one decoded unit as interleaved float
// PCM, a channel-type map, keyed integer properties and ancillary byte
// entries (the payloads of fill, data-stream and program-config elements).
#pragma once

#include <cstdint>

const uint32_t kCuBufferMagic = 0xC0B0FFEAu;
enum {
  kCuMaxChannels = 100,
  kCuMaxSamples = 4096,
  kCuMaxAncillaryBytes = 65536,
  kCuMaxAncillaryEntries = 100,
  kCuMaxProperties = 100,
};

// Property ids.
enum {
  CU_PROP_CHANNELS = 10001,
  CU_PROP_SAMPLES_PER_CHANNEL = 10002,
  CU_PROP_SAMPLE_RATE = 10003,
  CU_PROP_SBR_APPLIED = 10004,
  CU_PROP_PS_APPLIED = 10005,
  CU_PROP_LAST = 10008,
};

// Write modes of cuBufferWritePcm.
enum { CU_WRITE_APPEND = 5000, CU_WRITE_REPLACE = 5002 };

// Ancillary entry types.
enum {
  CU_ANC_DRC = 6,
  CU_ANC_SPATIAL = 7,
  CU_ANC_SBR_SCE = 8,
  CU_ANC_SBR_CPE = 9,
  CU_ANC_SBR_CRC_SCE = 10,
  CU_ANC_SBR_CRC_CPE = 11,
  CU_ANC_FILL_DATA = 12,
  CU_ANC_DATA_ELEMENT = 13,
  CU_ANC_DATA_ELEMENT_OTHER = 14,
  CU_ANC_FILL = 15,
  CU_ANC_OTHER = 16,
  CU_ANC_DSE = 128,          // + element tag
  CU_ANC_PCE_COMMENT = 144,  // + element tag
  CU_ANC_CHUNK = 253,
  CU_ANC_TRUNCATED = 254,
};

struct CuAncillaryEntry {
  int32_t type;
  int32_t size;
  int32_t offset;
};

struct CuProperty {
  int32_t id;
  int32_t value;
};

struct CuBuffer {
  uint32_t magic;
  float* samples;
  int32_t* channelTypes;
  int32_t maxChannels;
  int32_t maxSamples;
  CuAncillaryEntry* ancEntries;
  int32_t ancCount;
  uint8_t* ancArea;
  int32_t ancCapacity;
  int32_t ancUsed;
  CuProperty* props;
  int32_t propCount;
};

CuBuffer* cuBufferCreate(int32_t maxChannels, int32_t maxSamplesPerChannel, int32_t sampleRate,
                         int32_t ancillaryCapacity);
int32_t cuBufferReset(CuBuffer* cu);
int32_t cuBufferGetSamples(CuBuffer* cu, float** out);
int32_t cuBufferSetChannelType(CuBuffer* cu, int32_t index, int32_t type);
int32_t cuBufferGetChannelType(const CuBuffer* cu, int32_t index, int32_t* out);
int32_t cuBufferFindChannelType(const CuBuffer* cu, int32_t type, int32_t* outIndex);
int32_t cuBufferGetAncillaryInfo(const CuBuffer* cu, int32_t* count, int32_t* bytesUsed);
int32_t cuBufferGetAncillary(const CuBuffer* cu, int32_t index, const uint8_t** data, int32_t* size,
                             int32_t* type);
int32_t cuBufferAddAncillary(CuBuffer* cu, int32_t type, const uint8_t* bytes, int32_t size);
int32_t cuBufferSetProperty(CuBuffer* cu, int32_t id, int32_t value);
int32_t cuBufferGetProperty(const CuBuffer* cu, int32_t id, int32_t* out);
int32_t cuBufferSetChannels(CuBuffer* cu, int32_t n);
int32_t cuBufferSetSamplesPerChannel(CuBuffer* cu, int32_t n);
int32_t cuBufferSetSampleRate(CuBuffer* cu, int32_t rate);
int32_t cuBufferSetFlag(CuBuffer* cu, int32_t id);
int32_t cuBufferGetChannels(const CuBuffer* cu, int32_t* out);
int32_t cuBufferGetSamplesPerChannel(const CuBuffer* cu, int32_t* out);
int32_t cuBufferGetSampleRate(const CuBuffer* cu, int32_t* out);
int32_t cuBufferWritePcm(CuBuffer* cu, const float* const* channels, int32_t sourceStride, int32_t channelCount,
                         int32_t samples, int32_t sampleRate, int32_t mode);
int32_t cuBufferCheck(const CuBuffer* cu);
int32_t cuBufferDestroy(CuBuffer** cu);
