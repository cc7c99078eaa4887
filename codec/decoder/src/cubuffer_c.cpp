// Composition-unit buffer.
#include "cubuffer_c.h"

#include <cstring>

#include "decruntime.h"
#include "mp4AudioDecIfc.h"

namespace {

bool valid(const CuBuffer* cu) { return cu && cu->magic == kCuBufferMagic; }

void freeAll(CuBuffer* cu) {
  DEC_FREE(cu->samples);
  DEC_FREE(cu->channelTypes);
  DEC_FREE(cu->ancEntries);
  DEC_FREE(cu->ancArea);
  DEC_FREE(cu->props);
  DEC_FREE(cu);
}

}  // namespace

CuBuffer* cuBufferCreate(int32_t maxChannels, int32_t maxSamples, int32_t, int32_t ancCapacity) {
  if (maxChannels < 1 || maxChannels > kCuMaxChannels) return nullptr;
  if (maxSamples < 1 || maxSamples > kCuMaxSamples) return nullptr;
  if (ancCapacity < 0 || ancCapacity > kCuMaxAncillaryBytes) return nullptr;
  CuBuffer* cu = static_cast<CuBuffer*>(DEC_CALLOC(1, sizeof(CuBuffer)));
  if (!cu) return nullptr;
  cu->maxChannels = maxChannels;
  cu->maxSamples = maxSamples;
  cu->samples = static_cast<float*>(DEC_CALLOC(static_cast<size_t>(maxChannels) * maxSamples, sizeof(float)));
  cu->channelTypes = static_cast<int32_t*>(DEC_CALLOC(static_cast<size_t>(maxChannels), sizeof(int32_t)));
  cu->props = static_cast<CuProperty*>(DEC_CALLOC(kCuMaxProperties, sizeof(CuProperty)));
  bool ok = cu->samples && cu->channelTypes && cu->props;
  if (ok && ancCapacity) {
    cu->ancEntries = static_cast<CuAncillaryEntry*>(DEC_CALLOC(kCuMaxAncillaryEntries, sizeof(CuAncillaryEntry)));
    cu->ancArea = static_cast<uint8_t*>(DEC_CALLOC(static_cast<size_t>(ancCapacity), 1));
    cu->ancCapacity = ancCapacity;
    ok = cu->ancEntries && cu->ancArea;
  }
  if (!ok) {
    freeAll(cu);
    return nullptr;
  }
  cu->magic = kCuBufferMagic;
  cuBufferReset(cu);
  return cu;
}

int32_t cuBufferReset(CuBuffer* cu) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  for (int i = 0; i < kCuMaxProperties; ++i) cu->props[i] = CuProperty{0, -1};
  cu->propCount = 0;
  decZeroFloats(cu->samples, cu->maxChannels * cu->maxSamples);
  std::memset(cu->channelTypes, 0, sizeof(int32_t) * static_cast<size_t>(cu->maxChannels));
  cuBufferSetProperty(cu, CU_PROP_CHANNELS, 0);
  cuBufferSetProperty(cu, CU_PROP_SAMPLES_PER_CHANNEL, 0);
  cuBufferSetProperty(cu, CU_PROP_SAMPLE_RATE, 0);
  if (cu->ancArea) {
    // Only the bytes and entries in use can be non-zero.
    std::memset(cu->ancArea, 0, static_cast<size_t>(cu->ancUsed));
    std::memset(cu->ancEntries, 0, sizeof(CuAncillaryEntry) * static_cast<size_t>(cu->ancCount));
  }
  cu->ancCount = 0;
  cu->ancUsed = 0;
  return 0;
}

int32_t cuBufferGetSamples(CuBuffer* cu, float** out) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!out) return MP4AUDEC_NULL_POINTER;
  *out = cu->samples;
  return 0;
}

int32_t cuBufferSetChannelType(CuBuffer* cu, int32_t index, int32_t type) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (index < 0 || index >= cu->maxChannels) return MP4AUDEC_BAD_CHANNEL_INDEX;
  if (!cu->channelTypes) return MP4AUDEC_NO_CHANNEL_MAP;
  cu->channelTypes[index] = type;
  return 0;
}

int32_t cuBufferGetChannelType(const CuBuffer* cu, int32_t index, int32_t* out) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!out) return MP4AUDEC_NULL_POINTER;
  *out = (index >= 0 && index < cu->maxChannels) ? cu->channelTypes[index] : 0;
  return 0;
}

int32_t cuBufferFindChannelType(const CuBuffer* cu, int32_t type, int32_t* outIndex) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!outIndex) return MP4AUDEC_NULL_POINTER;
  if (type >= 160 || !cu->channelTypes) return MP4AUDEC_NO_CHANNEL_TYPE;
  for (int32_t i = 0; i < cu->maxChannels; ++i)
    if (cu->channelTypes[i] == type) {
      *outIndex = i;
      return 0;
    }
  return MP4AUDEC_NO_CHANNEL_TYPE;
}

int32_t cuBufferGetAncillaryInfo(const CuBuffer* cu, int32_t* count, int32_t* bytesUsed) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!count || !bytesUsed) return MP4AUDEC_NULL_POINTER;
  *count = cu->ancCount;
  *bytesUsed = cu->ancUsed;
  return 0;
}

int32_t cuBufferGetAncillary(const CuBuffer* cu, int32_t index, const uint8_t** data, int32_t* size,
                             int32_t* type) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!data || !size || !type) return MP4AUDEC_NULL_POINTER;
  if (!cu->ancArea || index < 0 || index >= cu->ancCount) return MP4AUDEC_NO_ANCILLARY;
  const CuAncillaryEntry& e = cu->ancEntries[index];
  *data = cu->ancArea + e.offset;
  *size = e.size;
  *type = e.type;
  return 0;
}

int32_t cuBufferAddAncillary(CuBuffer* cu, int32_t type, const uint8_t* bytes, int32_t size) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (size < 0 || (!bytes && size)) return MP4AUDEC_INVALID_ARGUMENT;
  if (!cu->ancArea || cu->ancCount >= kCuMaxAncillaryEntries || cu->ancUsed >= cu->ancCapacity)
    return MP4AUDEC_OUT_OF_MEMORY;
  const int32_t room = cu->ancCapacity - cu->ancUsed;
  CuAncillaryEntry& e = cu->ancEntries[cu->ancCount++];
  e.offset = cu->ancUsed;
  if (size <= room) {
    e.type = type;
    e.size = size;
    if (size) std::memcpy(cu->ancArea + cu->ancUsed, bytes, static_cast<size_t>(size));
    cu->ancUsed += size;
    return 0;
  }
  // Keep what fits, marked as cut short, so that readers see what arrived.
  e.type = CU_ANC_TRUNCATED;
  e.size = room;
  std::memcpy(cu->ancArea + cu->ancUsed, bytes, static_cast<size_t>(room));
  cu->ancUsed = cu->ancCapacity;
  return MP4AUDEC_OUT_OF_MEMORY;
}

int32_t cuBufferSetProperty(CuBuffer* cu, int32_t id, int32_t value) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (id < CU_PROP_CHANNELS || id > CU_PROP_LAST) return MP4AUDEC_NOT_SUPPORTED;
  for (int32_t i = 0; i < cu->propCount; ++i)
    if (cu->props[i].id == id) {
      cu->props[i].value = value;
      return 0;
    }
  if (cu->propCount >= kCuMaxProperties) return MP4AUDEC_OUT_OF_MEMORY;
  cu->props[cu->propCount++] = CuProperty{id, value};
  return 0;
}

int32_t cuBufferGetProperty(const CuBuffer* cu, int32_t id, int32_t* out) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!out) return MP4AUDEC_NULL_POINTER;
  for (int32_t i = 0; i < kCuMaxProperties; ++i)
    if (cu->props[i].id == id && id != 0) {
      *out = cu->props[i].value;
      return 0;
    }
  *out = -1;
  return MP4AUDEC_NO_PROPERTY;
}

int32_t cuBufferSetChannels(CuBuffer* cu, int32_t n) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (n > cu->maxChannels) return MP4AUDEC_TOO_MANY_CHANNELS;
  return cuBufferSetProperty(cu, CU_PROP_CHANNELS, n);
}

int32_t cuBufferSetSamplesPerChannel(CuBuffer* cu, int32_t n) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (n > cu->maxSamples) return MP4AUDEC_TOO_MANY_SAMPLES;
  return cuBufferSetProperty(cu, CU_PROP_SAMPLES_PER_CHANNEL, n);
}

int32_t cuBufferSetSampleRate(CuBuffer* cu, int32_t rate) { return cuBufferSetProperty(cu, CU_PROP_SAMPLE_RATE, rate); }
int32_t cuBufferSetFlag(CuBuffer* cu, int32_t id) { return cuBufferSetProperty(cu, id, 1); }
int32_t cuBufferGetChannels(const CuBuffer* cu, int32_t* out) { return cuBufferGetProperty(cu, CU_PROP_CHANNELS, out); }
int32_t cuBufferGetSamplesPerChannel(const CuBuffer* cu, int32_t* out) {
  return cuBufferGetProperty(cu, CU_PROP_SAMPLES_PER_CHANNEL, out);
}
int32_t cuBufferGetSampleRate(const CuBuffer* cu, int32_t* out) { return cuBufferGetProperty(cu, CU_PROP_SAMPLE_RATE, out); }

int32_t cuBufferWritePcm(CuBuffer* cu, const float* const* channels, int32_t sourceStride, int32_t channelCount,
                         int32_t samples, int32_t sampleRate, int32_t mode) {
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  if (!channels) return MP4AUDEC_NULL_POINTER;
  if (channelCount < 0 || samples < 0) return MP4AUDEC_INVALID_ARGUMENT;
  int32_t current = 0, have = 0;
  cuBufferGetChannels(cu, &current);
  if (current != 0 && current != channelCount) return MP4AUDEC_CHANNEL_MISMATCH;
  cuBufferGetSamplesPerChannel(cu, &have);
  if (have < 0) have = 0;
  int32_t start = have;
  if (mode == CU_WRITE_REPLACE && have != 0) {
    if (have != samples) return MP4AUDEC_SAMPLE_MISMATCH;
    start = 0;
  }
  int32_t r = cuBufferSetSamplesPerChannel(cu, start + samples);
  if (r) return r;
  r = cuBufferSetChannels(cu, channelCount);
  if (r) return r;
  r = cuBufferSetSampleRate(cu, sampleRate);
  if (r) return r;
  float* dst = cu->samples + static_cast<size_t>(start) * channelCount;
  if (channelCount == 2 && sourceStride == 1 && channels[0] && channels[1]) {
    // The common stereo case in one interleaving pass.
    const float* a = channels[0];
    const float* b = channels[1];
    for (int32_t i = 0; i < samples; ++i) {
      dst[2 * i] = a[i];
      dst[2 * i + 1] = b[i];
    }
    return 0;
  }
  for (int32_t c = 0; c < channelCount; ++c)
    if (channels[c]) decCopyStrided(dst + c, channelCount, channels[c], sourceStride, samples);
  return 0;
}

int32_t cuBufferCheck(const CuBuffer* cu) { return valid(cu) ? 0 : MP4AUDEC_INVALID_CU_BUFFER; }

int32_t cuBufferDestroy(CuBuffer** pcu) {
  if (!pcu) return MP4AUDEC_NULL_POINTER;
  CuBuffer* cu = *pcu;
  if (!valid(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  cu->magic = 0;
  freeAll(cu);
  *pcu = nullptr;
  return 0;
}
