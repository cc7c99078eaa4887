// The decoder interface: open/decode/close over the AAC-LC core, channel
// reordering into output order, parameters and diagnostics.
#include "mp4AudioDecIfc.h"

#include <cstdio>
#include <cstring>

#include "aacdecoder.h"
#include "aactables.h"
#include "decruntime.h"
#include "sbr/sbrdec.h"

struct Mp4AudioDec {
  uint32_t magic;
  AacDecoderCore* core;
  SbrWrapper* sbr;  // SBR/PS wrapper, or null
  int32_t sbrActive;
  int32_t psEnable;
  int32_t sbrLowPower;
  int32_t param1020;
  Mp4AudioDecLayer* layers;
  int32_t* epConfig;
  int32_t messageObjectType;
  int32_t layerCount;
  int32_t selectedLayer;
  int32_t implicitSignalling;
  int32_t lastError;
};

namespace {

// The SBR/PS wrapper's failures as the interface reports them; 0 and anything
// else pass unchanged.
int32_t fromSbrStatus(int r) {
  switch (r) {
    case SBRDEC_ERR_MODE: return MP4AUDEC_SBR_CHANNEL_MODE;
    case SBRDEC_ERR_CU_SIZE: return MP4AUDEC_TOO_MANY_SAMPLES;
    case SBRDEC_ERR_NO_SAMPLES: return MP4AUDEC_BAD_CHANNEL_INDEX;  // as for a CU buffer without samples here
    case SBRDEC_ERR_CONFIG: return MP4AUDEC_NO_CHANNEL_MAP;
    case SBRDEC_ERR_CHANNELS: return MP4AUDEC_NOT_SUPPORTED;
    case SBRDEC_ERR_MEMORY: return MP4AUDEC_OUT_OF_MEMORY;
    default: return r;
  }
}

const int32_t kCoreOnlyObjectType = 556;

bool valid(const Mp4AudioDec* d) { return d && d->magic == kMp4AudioDecMagic; }

// Diagnostic hook for refused object types; it does nothing in this system.
void mp4AudioDecReportError(int32_t, const char*) {}

SbrLayerInfo sbrLayerInfo(const Mp4AudioDecLayer& l) {
  SbrLayerInfo info;
  info.objectType = l.objectType;
  info.coreSampleRate = l.samplingFrequency;
  info.frameLength = l.frameLength;
  info.channelConfig = l.channelConfiguration;
  info.channels = l.channelCount;
  info.sbrPresent = l.sbrPresent;
  info.extSampleRate = l.extensionSamplingFrequency;
  info.extObjectType = l.extensionObjectType;
  return info;
}

// The SBR step: band extension (and parametric stereo) of the decoded frame in
// the CU buffer, with the output properties and the layer record completed
// for implicit signalling.
int32_t applySbr(Mp4AudioDec* d, CuBuffer* cu) {
  Mp4AudioDecLayer& l = d->layers[d->layers[0].objectType == 30 ? 0 : d->selectedLayer];
  int32_t channels = 0, samples = 0, count = 0, used = 0;
  cuBufferGetChannels(cu, &channels);
  cuBufferGetSamplesPerChannel(cu, &samples);
  cuBufferGetAncillaryInfo(cu, &count, &used);
  SbrAncillary anc[kCuMaxAncillaryEntries];
  int32_t n = 0;
  for (int32_t i = 0; i < count && n < kCuMaxAncillaryEntries; ++i) {
    const uint8_t* data = nullptr;
    int32_t size = 0, type = 0;
    if (cuBufferGetAncillary(cu, i, &data, &size, &type) != 0) continue;
    anc[n].type = type;
    anc[n].data = data;
    anc[n].size = size;
    ++n;
  }
  SbrCuFrame frame;
  if (cuBufferGetSamples(cu, &frame.samples) != 0 || !frame.samples) return MP4AUDEC_BAD_CHANNEL_INDEX;
  frame.capacity = cu->maxChannels * cu->maxSamples;
  frame.channels = channels;
  frame.samplesPerChannel = samples;
  frame.anc = anc;
  frame.numAnc = n;
  SbrLayerInfo info = sbrLayerInfo(l);
  sbrDecSetPsEnable(d->sbr, d->psEnable);
  int32_t r = sbrDecApply(d->sbr, &frame, &info);
  l.sbrPresent = info.sbrPresent;
  l.extensionSamplingFrequency = info.extSampleRate;
  l.extensionObjectType = info.extObjectType;
  if (frame.sbrApplied) {
    cuBufferSetSampleRate(cu, frame.outSampleRate);
    cuBufferSetChannels(cu, frame.outChannels);
    if (cuBufferSetSamplesPerChannel(cu, frame.outSamplesPerChannel) != 0) return MP4AUDEC_TOO_MANY_SAMPLES;
    cuBufferSetFlag(cu, CU_PROP_SBR_APPLIED);
    if (frame.psApplied) cuBufferSetFlag(cu, CU_PROP_PS_APPLIED);
  }
  // The SBR library's own failure codes (12, 14) fail the unit; the next one decodes normally.
  if (r > 0) return MP4AUDEC_FAILURE;
  return fromSbrStatus(r);
}

int32_t store(Mp4AudioDec* d, int32_t r) {
  if (r < MP4AUDEC_FAILURE) r = MP4AUDEC_FAILURE;
  d->lastError = r;
  return r;
}

void freeHandle(Mp4AudioDec* d) {
  if (!d) return;
  sbrDecClose(&d->sbr);
  aacDecoderDestroy(&d->core);
  DEC_FREE(d->layers);
  DEC_FREE(d->epConfig);
  DEC_FREE(d);
}

}  // namespace

const char* mp4AudioDecAotName(int32_t aot) {
  static const char* const names[41] = {
      "NULL_OBJECT", "AAC_MAIN", "AAC_LC", "AAC_SSR", "AAC_LTP", "SBR", "AAC_SCAL", "TWIN_VQ", "CELP", "HVXC",
      "RSVD_10", "RSVD_11", "TTSI", "MAIN_SYNTH", "WAV_TAB_SYNTH", "GEN_MIDI", "ALG_SYNTH_AUD_FX", "ER_AAC_LC",
      "RSVD_18", "ER_AAC_LTP", "ER_AAC_SCAL", "ER_TWIN_VQ", "ER_BSAC", "ER_AAC_LD", "ER_CELP", "ER_HVXC", "ER_HILN",
      "ER_PARA", "SSC", "PS", "MPEG surround", "<escape>", "MP3ONMP4_L1", "MP3ONMP4_L2", "MP3ONMP4_L3", "DST?",
      "ALS?", "SLS", "SLSnc", "ER_AAC_ELD", "<reserved>"};
  static const char* const virtualNames[7] = {
      "virtual AOT: MPEG-2 AAC Main Profile", "virtual AOT: MPEG-2 AAC LC Profile",
      "virtual AOT: MPEG-2 AAC SSR Profile",  "virtual AOT: MPEG-1/2 Layer 1",
      "virtual AOT: MPEG-1/2 Layer 2",        "virtual AOT: MPEG-1/2 Layer 3",
      "virtual AOT: MPEG-1/2 Layer 2 (DAB)"};
  if (aot >= 0 && aot <= 40) return names[aot];
  if (aot >= 41 && aot <= 95) return "<reserved>";
  if (aot >= 128 && aot <= 134) return virtualNames[aot - 128];
  return "invalid";
}

int32_t mp4AudioDecSamplingFrequencyIndex(int32_t f, int32_t mode) {
  if (mode == 1) {
    // The index of the lowest nominal frequency (7350 Hz aside) at or above f.
    if (f > static_cast<int32_t>(kAacSamplingFrequencies[1])) return 0;
    for (int i = 11; i >= 0; --i)
      if (static_cast<int32_t>(kAacSamplingFrequencies[i]) >= f) return i;
    return 0;
  }
  return aacRateTableIndex(f < 0 ? 0u : static_cast<uint32_t>(f));
}

Mp4AudioDec* mp4AudioDecOpenStream(AudioSpecificConfig* asc) {
  if (!asc) return nullptr;
  AudioSpecificConfig* records[1] = {asc};
  Mp4AudioDec* dec = mp4AudioDecOpen(records, 1);
  if (dec && asc->sbrPresent == 1 && asc->psPresent == 0) mp4AudioDecSetParameter(dec, MP4AUDEC_PARAM_PS_ENABLE, 0.0f);
  return dec;
}

Mp4AudioDec* mp4AudioDecOpen(AudioSpecificConfig* const* records, int32_t count) {
  if (!records || count != 1 || !records[0]) {
    mp4AudioDecReportError(0, mp4AudioDecAotName(0));
    return nullptr;
  }
  for (int32_t i = 0; i < count; ++i)
    if (ascValidate(records[i]) != 0) {
      mp4AudioDecReportError(records[i]->objectType, mp4AudioDecAotName(records[i]->objectType));
      return nullptr;
    }
  Mp4AudioDec* d = static_cast<Mp4AudioDec*>(DEC_CALLOC(1, sizeof(Mp4AudioDec)));
  if (!d) return nullptr;
  d->layers = static_cast<Mp4AudioDecLayer*>(DEC_CALLOC(static_cast<size_t>(count), sizeof(Mp4AudioDecLayer)));
  d->epConfig = static_cast<int32_t*>(DEC_CALLOC(static_cast<size_t>(count), sizeof(int32_t)));
  if (!d->layers || !d->epConfig) {
    freeHandle(d);
    return nullptr;
  }
  const AudioSpecificConfig* first = records[0];
  d->layerCount = count;
  d->selectedLayer = count - 1;
  d->messageObjectType = first->extensionObjectType ? first->extensionObjectType : first->objectType;
  if (first->psPresent == 1) d->messageObjectType = 29;
  d->lastError = 0;
  d->implicitSignalling = 1;
  int32_t mode = 0;
  for (int32_t i = 0; i < count; ++i)
    if (records[i]->objectType == 8 || records[i]->objectType == 24)
      for (int32_t j = i + 1; j < count; ++j)
        if (records[j]->objectType == 6 || records[j]->objectType == 20) mode = 1;
  for (int32_t i = 0; i < count; ++i) {
    const AudioSpecificConfig* a = records[i];
    Mp4AudioDecLayer& l = d->layers[i];
    l.streamParam = a->streamParam1;
    l.samplingFrequencyIndex = mp4AudioDecSamplingFrequencyIndex(a->samplingFrequency, mode);
    l.samplingFrequency = a->samplingFrequency;
    l.one = 1;
    l.channelConfiguration = a->channelConfiguration;
    l.channelCount = a->channelCount;
    l.frameLength = a->frameLength;
    l.eight = 8;
    l.frameLengthDiv8 = a->frameLength / 8;
    l.hcr = a->ga.hcr;
    l.vcb11 = a->ga.vcb11;
    l.rvlc = a->ga.rvlc;
    l.sbrPresent = a->sbrPresent;
    l.psPresent = a->psPresent;
    l.extensionObjectType = a->extensionObjectType;
    l.extensionSamplingFrequencyIndex = a->extensionSamplingFrequencyIndex;
    l.extensionSamplingFrequency = a->extensionSamplingFrequency;
    l.objectType = a->objectType;
    l.predictionKind = 0;
    d->epConfig[i] = a->epConfig;
  }
  const int32_t lastAot = d->layers[count - 1].objectType;
  if (lastAot != 2 && lastAot != kCoreOnlyObjectType) {
    mp4AudioDecReportError(lastAot, mp4AudioDecAotName(lastAot));
    freeHandle(d);
    return nullptr;
  }
  if (aacDecoderCreate(&d->core, &d->layers[0]) != 0) {
    mp4AudioDecReportError(lastAot, mp4AudioDecAotName(lastAot));
    freeHandle(d);
    return nullptr;
  }
  d->sbr = nullptr;
  d->sbrActive = 0;
  d->psEnable = 0;
  d->sbrLowPower = 0;
  d->param1020 = 0;
  if (lastAot == 2 || lastAot == 4 || lastAot == 6 || lastAot == 17 || lastAot == 19 || lastAot == 20) {
    // A wrapper that fails to open leaves the decoder core-only.
    SbrLayerInfo info = sbrLayerInfo(d->layers[0]);
    if (sbrDecOpen(&d->sbr, &info) == 0) {
      // PS would stay off for the core types 23 and 39, which never reach here.
      d->sbrActive = 1;
      d->psEnable = 1;
      sbrDecSetPsEnable(d->sbr, d->psEnable);
    }
  }
  decVecInit();
  d->magic = kMp4AudioDecMagic;
  return d;
}

int32_t mp4AudioDecMapChannels(int32_t cc, CuBuffer* cu) {
  if (cuBufferCheck(cu)) return MP4AUDEC_INVALID_CU_BUFFER;
  int32_t channels = 0, samples = 0;
  cuBufferGetChannels(cu, &channels);
  cuBufferGetSamplesPerChannel(cu, &samples);
  static const int kPerm[8][8] = {
      {0}, {0}, {0, 1}, {1, 2, 0}, {1, 2, 0, 3}, {1, 2, 0, 3, 4}, {1, 2, 0, 5, 3, 4}, {3, 4, 0, 7, 5, 6, 1, 2}};
  static const int kTypes[8][8] = {
      {0},
      {MP4AUDEC_CH_FRONT_CENTRE},
      {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT},
      {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE},
      {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE, MP4AUDEC_CH_BACK_CENTRE},
      {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE, MP4AUDEC_CH_SURROUND_LEFT,
       MP4AUDEC_CH_SURROUND_RIGHT},
      {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE, MP4AUDEC_CH_LFE,
       MP4AUDEC_CH_SURROUND_LEFT, MP4AUDEC_CH_SURROUND_RIGHT},
      {MP4AUDEC_CH_OUTER_FRONT_LEFT, MP4AUDEC_CH_OUTER_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE, MP4AUDEC_CH_LFE,
       MP4AUDEC_CH_SURROUND_LEFT, MP4AUDEC_CH_SURROUND_RIGHT, MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT}};
  if (cc == 0) {
    for (int32_t c = 0; c < channels; ++c) cuBufferSetChannelType(cu, c, MP4AUDEC_CH_UNSPECIFIED);
    return 0;
  }
  if (cc == 100) {
    if (channels != 6) return MP4AUDEC_BAD_CHANNEL_CONFIG;
    static const int order[6] = {MP4AUDEC_CH_FRONT_LEFT, MP4AUDEC_CH_FRONT_RIGHT, MP4AUDEC_CH_FRONT_CENTRE,
                                 MP4AUDEC_CH_LFE, MP4AUDEC_CH_SURROUND_LEFT, MP4AUDEC_CH_SURROUND_RIGHT};
    for (int c = 0; c < 6; ++c) cuBufferSetChannelType(cu, c, order[c]);
    return 0;
  }
  if (cc < 1 || cc > 7) return MP4AUDEC_BAD_CHANNEL_CONFIG;
  const int n = kAacChannelConfigurationChannels[cc];
  if (channels != n) return MP4AUDEC_BAD_CHANNEL_CONFIG;
  float* pcm = nullptr;
  cuBufferGetSamples(cu, &pcm);
  if (cc >= 3) {
    float frame[8];
    for (int32_t i = 0; i < samples; ++i) {
      float* f = pcm + static_cast<size_t>(i) * n;
      for (int c = 0; c < n; ++c) frame[c] = f[kPerm[cc][c]];
      for (int c = 0; c < n; ++c) f[c] = frame[c];
    }
  }
  for (int c = 0; c < n; ++c) cuBufferSetChannelType(cu, c, kTypes[cc][c]);
  return 0;
}

int32_t mp4AudioDecDecodeAu(Mp4AudioDec* d, AuBuffer* const* aus, CuBuffer* cu) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  int32_t r = cuBufferCheck(cu);
  if (r) return store(d, r);
  if (!aus) return store(d, MP4AUDEC_INVALID_AU_BUFFER);
  for (int32_t i = 0; i < d->layerCount; ++i)
    if (auBufferCheck(aus[i])) return store(d, MP4AUDEC_INVALID_AU_BUFFER);
  const int32_t lastAot = d->layers[d->layerCount - 1].objectType;
  if (lastAot != 2 && lastAot != kCoreOnlyObjectType) {
    mp4AudioDecReportError(lastAot, mp4AudioDecAotName(lastAot));
    return store(d, MP4AUDEC_NOT_SUPPORTED);
  }
  if (aacDecodeRawDataBlock(d->core, aus[0], cu, &d->layers[0]) != 0) return store(d, MP4AUDEC_DECODE_ERROR);
  const Mp4AudioDecLayer& first = d->layers[0];
  if (d->sbr && d->sbrActive &&
      ((first.sbrPresent == 1 && first.extensionObjectType == 5) || first.extensionObjectType == 0)) {
    r = applySbr(d, cu);
    if (r) return store(d, r);
  }
  int32_t cc = d->layers[d->layerCount - 1].channelConfiguration;
  int32_t outChannels = 0;
  cuBufferGetChannels(cu, &outChannels);
  // Parametric stereo turns a mono stream into two channels.
  if (cc == 1 && outChannels == 2) cc = 2;
  r = mp4AudioDecMapChannels(cc, cu);
  return store(d, r);
}

int32_t mp4AudioDecConcealAu(Mp4AudioDec* d, CuBuffer* cu) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  int32_t r = cuBufferCheck(cu);
  if (r) return store(d, r);
  if (d->layers[0].objectType != 2) return store(d, MP4AUDEC_NOT_SUPPORTED);
  if (aacDecoderConceal(d->core, cu, &d->layers[0]) != 0) return store(d, MP4AUDEC_DECODE_ERROR);
  r = mp4AudioDecMapChannels(d->layers[d->layerCount - 1].channelConfiguration, cu);
  return store(d, r);
}

int32_t mp4AudioDecSetParameter(Mp4AudioDec* d, int32_t id, float value) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return store(d, MP4AUDEC_INVALID_ARGUMENT);
  const int32_t v = static_cast<int32_t>(value);
  switch (id) {
    case MP4AUDEC_PARAM_IMPLICIT_SIGNALLING: d->implicitSignalling = v; break;
    case MP4AUDEC_PARAM_SBR_ACTIVE: d->sbrActive = v; break;
    case MP4AUDEC_PARAM_PS_ENABLE: d->psEnable = v; break;
    case MP4AUDEC_PARAM_SBR_LOW_POWER: d->sbrLowPower = v; break;
    case MP4AUDEC_PARAM_1020: d->param1020 = v; break;
    default: return store(d, MP4AUDEC_INVALID_ARGUMENT);
  }
  if (d->messageObjectType != 5 && d->messageObjectType != 29 && d->implicitSignalling == 0) d->sbrActive = 0;
  if (d->messageObjectType != 29 && d->implicitSignalling == 0) d->psEnable = 0;
  if (d->sbr) sbrDecSetPsEnable(d->sbr, d->psEnable);
  if (id == MP4AUDEC_PARAM_SBR_LOW_POWER || id == MP4AUDEC_PARAM_1020) {
    const int32_t aot = d->layers[d->selectedLayer].objectType;
    if (aot == 2 || aot == 4 || aot == 6 || aot == 17 || aot == 19 || aot == 20) {
      if (!d->sbr) return store(d, MP4AUDEC_INVALID_ARGUMENT);
      if (d->sbrLowPower && d->psEnable) {
        d->sbrLowPower = 0;
        return store(d, MP4AUDEC_NOT_SUPPORTED);
      }
      SbrLayerInfo info = sbrLayerInfo(d->layers[d->selectedLayer]);
      return store(d, fromSbrStatus(sbrDecReconfigure(d->sbr, &info, d->sbrLowPower)));
    }
  }
  return store(d, 0);
}

int32_t mp4AudioDecGetParameter(Mp4AudioDec* d, int32_t, int32_t* value) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  if (!value) return store(d, MP4AUDEC_NULL_POINTER);
  *value = 0;
  return store(d, 0);
}

int32_t mp4AudioDecReset(Mp4AudioDec* d, int32_t flags) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  if (flags != 0) return store(d, MP4AUDEC_NOT_SUPPORTED);
  if (aacDecoderReset(d->core) != 0) return store(d, MP4AUDEC_FAILURE);
  if (d->sbr) sbrDecReset(d->sbr);
  return store(d, 0);
}

int32_t mp4AudioDecSelectLayer(Mp4AudioDec* d, int32_t layer) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  if (layer < 0) layer = 0;
  d->selectedLayer = layer >= d->layerCount ? d->layerCount - 1 : layer;
  d->lastError = 0;
  return 0;
}

int32_t mp4AudioDecGetFrameSize(Mp4AudioDec* d, int32_t* out) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  if (!out) return store(d, MP4AUDEC_NULL_POINTER);
  *out = d->layers[d->layerCount - 1].frameLength;
  return store(d, 0);
}

int32_t mp4AudioDecGetLastError(Mp4AudioDec* d) {
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  return d->lastError;
}

int32_t mp4AudioDecGetLibInfo(char* info) {
  if (!info) return MP4AUDEC_NULL_POINTER;
  std::memset(info, 0, 356);
  std::snprintf(info, 80, "%s (%s)", "Dec  7 2007", "11:11:21");
  std::snprintf(info + 80, 20, "%s.%s%s", "1.565.11", "1", "");
  info[99] = 0;
  std::snprintf(info + 100, 256, "%s", "AAC-lc SBR PS mc-core vc1400 ");
  info[355] = 0;
  return 0;
}

int32_t mp4AudioDecClose(Mp4AudioDec** pd) {
  if (!pd) return MP4AUDEC_NULL_POINTER;
  Mp4AudioDec* d = *pd;
  if (!valid(d)) return MP4AUDEC_INVALID_HANDLE;
  d->magic = 0;
  freeHandle(d);
  *pd = nullptr;
  return 0;
}

const Mp4AudioDecLayer* mp4AudioDecGetLayer(const Mp4AudioDec* d, int32_t layer) {
  if (!valid(d) || layer < 0 || layer >= d->layerCount) return nullptr;
  return &d->layers[layer];
}
