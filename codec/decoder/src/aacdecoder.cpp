// The AAC-LC core: element loop of a raw data block, element creation,
// concealment, reset, and the AudioSpecificConfig record check.
#include "aacdecoder.h"

#include <cstring>

#include "aactables.h"
#include "aubuffer_c.h"
#include "cubuffer_c.h"
#include "decruntime.h"
#include "mp4AudioDecIfc.h"

namespace {

enum { ID_SCE = 0, ID_CPE = 1, ID_CCE = 2, ID_LFE = 3, ID_DSE = 4, ID_PCE = 5, ID_FIL = 6, ID_END = 7 };

AacElement** slots(AacDecoderCore* core, int type) {
  switch (type) {
    case AAC_ELEM_SCE: return core->sce;
    case AAC_ELEM_CPE: return core->cpe;
    case AAC_ELEM_CCE: return core->cce;
    default: return core->lfe;
  }
}

int32_t getElement(AacDecoderCore* core, int type, int tag, AacElement** out) {
  AacElement** s = slots(core, type);
  if (!s[tag]) {
    const int32_t r = aacElementCreate(&s[tag], type, tag, &core->ctx);
    if (r) return r;
  }
  *out = s[tag];
  return 0;
}

void destroyAll(AacDecoderCore* core) {
  for (int t = 0; t < AAC_MAX_TAGS; ++t) {
    aacElementDestroy(&core->sce[t]);
    aacElementDestroy(&core->cpe[t]);
    aacElementDestroy(&core->cce[t]);
    aacElementDestroy(&core->lfe[t]);
  }
}

// Silence for output slots that a block leaves unassigned.
const float kSilence[1024] = {0};

}  // namespace

int32_t aacDecoderCreate(AacDecoderCore** pcore, const Mp4AudioDecLayer* layer) {
  if (!pcore || !layer) return AAC_ERR_OUT_OF_MEMORY;
  const int cc = layer->channelConfiguration;
  if (cc < 0 || cc > 7) return AAC_ERR_CHANNEL_CONFIG;
  if (layer->channelCount > AAC_MAX_OUTPUT_CHANNELS) return AAC_ERR_CHANNEL_LIMIT;
  if (layer->frameLength != 1024 && layer->frameLength != 960) return AAC_ERR_FRAME_LENGTH;
  AacDecoderCore* core = static_cast<AacDecoderCore*>(DEC_CALLOC(1, sizeof(AacDecoderCore)));
  if (!core) return AAC_ERR_OUT_OF_MEMORY;
  core->ctx.frameLength = layer->frameLength;
  for (int shape = 0; shape < 2; ++shape) {
    core->ctx.longWindow[shape] = aacWindowHalf(layer->frameLength, shape);
    core->ctx.shortWindow[shape] = aacWindowHalf(layer->frameLength / 8, shape);
  }
  core->ctx.samplingFrequencyIndex = aacRateTableIndex(static_cast<uint32_t>(layer->samplingFrequency));
  if (layer->samplingFrequencyIndex >= 0 && layer->samplingFrequencyIndex <= 12 &&
      static_cast<uint32_t>(layer->samplingFrequency) == kAacSamplingFrequencies[layer->samplingFrequencyIndex])
    core->ctx.samplingFrequencyIndex = layer->samplingFrequencyIndex;
  // The standard layouts of configurations 1-7.
  static const struct { int n; int types[5]; int tags[5]; } layouts[8] = {
      {0, {}, {}},
      {1, {AAC_ELEM_SCE}, {0}},
      {1, {AAC_ELEM_CPE}, {0}},
      {2, {AAC_ELEM_SCE, AAC_ELEM_CPE}, {0, 0}},
      {3, {AAC_ELEM_SCE, AAC_ELEM_CPE, AAC_ELEM_SCE}, {0, 0, 1}},
      {3, {AAC_ELEM_SCE, AAC_ELEM_CPE, AAC_ELEM_CPE}, {0, 0, 1}},
      {4, {AAC_ELEM_SCE, AAC_ELEM_CPE, AAC_ELEM_CPE, AAC_ELEM_LFE}, {0, 0, 1, 0}},
      {5, {AAC_ELEM_SCE, AAC_ELEM_CPE, AAC_ELEM_CPE, AAC_ELEM_CPE, AAC_ELEM_LFE}, {0, 0, 1, 2, 0}},
  };
  int out = 0;
  for (int i = 0; i < layouts[cc].n; ++i) {
    AacElement* e = nullptr;
    const int32_t r = getElement(core, layouts[cc].types[i], layouts[cc].tags[i], &e);
    if (r) {
      destroyAll(core);
      DEC_FREE(core);
      return r;
    }
    for (int c = 0; c < e->channels; ++c) core->outChannels[out++] = e->ch[c]->out;
  }
  core->learntChannels = kAacChannelConfigurationChannels[cc];
  core->learnt = cc != 0;
  *pcore = core;
  return 0;
}

int32_t aacDecodeRawDataBlock(AacDecoderCore* core, AuBuffer* au, CuBuffer* cu, Mp4AudioDecLayer* layer) {
  if (!auBufferHasData(au)) return AAC_ERR_NO_DATA;
  AacBitstream* bs = auBufferGetBitstream(au);
  for (int t = 0; t < AAC_MAX_TAGS; ++t)
    if (core->cce[t]) core->cce[t]->gainsCleared = 1;
  aacByteAlign(bs);

  int channels = 0, sceCount = 0, cpeChannels = 0, cceCount = 0, lfeCount = 0, dseCount = 0, pceCount = 0,
      filCount = 0;
  int prevId = -1;
  int32_t result = 0;
  for (;;) {
    if (core->learnt && cpeChannels + lfeCount + sceCount > core->learntChannels) return AAC_ERR_CHANNEL_LIMIT;
    if (sceCount > 16 || cceCount > 16 || lfeCount > 16 || dseCount > 16 || pceCount > 16 || cpeChannels > 32 ||
        filCount > AAC_MAX_FIL_ELEMENTS)
      return AAC_ERR_ELEMENT_LIMIT;
    const int id = static_cast<int>(aacReadBits(bs, 0, 3));
    if (id == ID_END) {
      aacFlushLookAhead(bs);
      break;
    }
    int32_t r = 0;
    switch (id) {
      case ID_SCE:
      case ID_LFE: {
        if ((core->learnt && channels + 1 > core->learntChannels) || channels >= AAC_MAX_OUTPUT_CHANNELS)
          return AAC_ERR_CHANNEL_LIMIT;
        const int tag = static_cast<int>(aacReadBits(bs, 0, 4));
        AacElement* e = nullptr;
        r = getElement(core, id == ID_SCE ? AAC_ELEM_SCE : AAC_ELEM_LFE, tag, &e);
        if (r) return r;
        r = aacDecodeSce(e, bs, &core->ctx);
        if (r) return r;
        core->outChannels[channels++] = e->ch[0]->out;
        if (id == ID_SCE) {
          core->sceTags[sceCount++ & 15] = tag;
        } else {
          core->lfeTags[lfeCount++ & 15] = tag;
        }
        break;
      }
      case ID_CPE: {
        if ((core->learnt && channels + 2 > core->learntChannels) || channels + 2 > AAC_MAX_OUTPUT_CHANNELS)
          return AAC_ERR_CHANNEL_LIMIT;
        const int tag = static_cast<int>(aacReadBits(bs, 0, 4));
        AacElement* e = nullptr;
        r = getElement(core, AAC_ELEM_CPE, tag, &e);
        if (r) return r;
        r = aacDecodeCpe(e, bs, &core->ctx);
        if (r) return r;
        core->outChannels[channels++] = e->ch[0]->out;
        core->outChannels[channels++] = e->ch[1]->out;
        core->cpeTags[(cpeChannels / 2) & 15] = tag;
        cpeChannels += 2;
        break;
      }
      case ID_CCE: {
        const int tag = static_cast<int>(aacReadBits(bs, 0, 4));
        AacElement* e = nullptr;
        r = getElement(core, AAC_ELEM_CCE, tag, &e);
        if (r) return r;
        r = aacParseCce(e, bs, &core->ctx);
        if (r) return r;
        core->cceTags[cceCount++ & 15] = tag;
        break;
      }
      case ID_DSE: {
        const int tag = static_cast<int>(aacReadBits(bs, 0, 4));
        r = aacReadDataStreamElement(bs, tag, cu);
        if (r) return r;
        ++dseCount;
        break;
      }
      case ID_PCE: {
        const int tag = static_cast<int>(aacReadBits(bs, 0, 4));
        AscProgramConfig* pce = static_cast<AscProgramConfig*>(DEC_MALLOC(sizeof(AscProgramConfig)));
        if (!pce) return AAC_ERR_OUT_OF_MEMORY;
        ascParsePce(pce, bs, tag, cu);
        DEC_FREE(pce);
        ++pceCount;
        break;
      }
      case ID_FIL: {
        int count = static_cast<int>(aacReadBits(bs, 0, 4));
        if (count == 15) count += static_cast<int>(aacReadBits(bs, 0, 8)) - 1;
        while (count > 0) {
          const int32_t used = aacReadExtensionPayload(bs, count, prevId == ID_CPE, cu);
          if (used < 0) return used;
          count -= used;
          if (aacGetBitsLeft(bs) < 0) return AAC_ERR_NO_DATA;
        }
        ++filCount;
        break;
      }
      default:
        break;
    }
    // A block that reads past the end of its unit is broken.
    if (aacGetBitsLeft(bs) < 0) return AAC_ERR_NO_DATA;
    if (result) break;
    prevId = id;
  }
  if (result) return result;
  if (!core->learnt) {
    if (channels == 0) return AAC_ERR_CHANNEL_LIMIT;
    core->learntChannels = channels;
    core->learnt = 1;
    layer->channelCount = channels;
  }
  // A block must deliver every channel of the stream: never let stale or
  // missing channels through.
  if (channels < core->learntChannels) return AAC_ERR_CHANNEL_LIMIT;
  for (int c = channels; c < layer->channelCount && c < AAC_MAX_OUTPUT_CHANNELS; ++c) core->outChannels[c] = kSilence;
  const int32_t w = cuBufferWritePcm(cu, core->outChannels, 1, layer->channelCount, core->ctx.frameLength,
                                     layer->samplingFrequency, CU_WRITE_APPEND);
  return w ? AAC_ERR_CHANNEL_LIMIT : 0;
}

int32_t aacDecoderConceal(AacDecoderCore* core, CuBuffer* cu, const Mp4AudioDecLayer* layer) {
  if (layer->channelConfiguration == 4) return AAC_ERR_CHANNEL_CONFIG;
  int channels = 0;
  AacElement** groups[3] = {core->sce, core->cpe, core->lfe};
  for (int g = 0; g < 3; ++g)
    for (int t = 0; t < AAC_MAX_TAGS; ++t) {
      AacElement* e = groups[g][t];
      if (!e) continue;
      for (int c = 0; c < e->channels; ++c) {
        if (channels >= AAC_MAX_OUTPUT_CHANNELS) return AAC_ERR_CHANNEL_LIMIT;
        aacConcealChannel(e->ch[c], &core->ctx);
        core->outChannels[channels++] = e->ch[c]->out;
      }
    }
  for (int c = channels; c < layer->channelCount && c < AAC_MAX_OUTPUT_CHANNELS; ++c) core->outChannels[c] = kSilence;
  const int32_t w = cuBufferWritePcm(cu, core->outChannels, 1, layer->channelCount, core->ctx.frameLength,
                                     layer->samplingFrequency, CU_WRITE_APPEND);
  return w ? AAC_ERR_CHANNEL_LIMIT : 0;
}

int32_t aacDecoderReset(AacDecoderCore* core) {
  if (!core) return AAC_ERR_MISSING_ELEMENT;
  for (int t = 0; t < AAC_MAX_TAGS; ++t) {
    if (core->sce[t]) aacElementReset(core->sce[t]);
    if (core->cpe[t]) aacElementReset(core->cpe[t]);
    if (core->cce[t]) aacElementReset(core->cce[t]);
    if (core->lfe[t]) aacElementReset(core->lfe[t]);
  }
  return 0;
}

void aacDecoderDestroy(AacDecoderCore** pcore) {
  if (!pcore || !*pcore) return;
  destroyAll(*pcore);
  DEC_FREE(*pcore);
  *pcore = nullptr;
}

namespace {

int32_t checkFrequency(int32_t index, int32_t* freq) {
  if (index >= 0 && index <= 12) {
    *freq = ascIndexFrequency(index);
    return 0;
  }
  if (index == 15 && *freq >= 1 && *freq <= 0xFFFFFF) return 0;
  return MP4AUDEC_BAD_SAMPLING_FREQUENCY;
}

}  // namespace

int32_t ascValidate(AudioSpecificConfig* a) {
  if (!a) return MP4AUDEC_NULL_POINTER;
  int32_t r = checkFrequency(a->samplingFrequencyIndex, &a->samplingFrequency);
  if (r) return r;
  const int32_t aot = a->objectType;
  switch (aot) {
    case 17: case 19: case 20: case 21: case 23: case 24: case 25: case 39:
      if (a->epConfig < -1 || a->epConfig > 3) return MP4AUDEC_EP_CONFIG_RANGE;
      if (a->epConfig >= 0 && a->epConfig <= 2) a->directMapping = 0;
      if (a->epConfig == 3 && a->directMapping != 1) return MP4AUDEC_NOT_SUPPORTED;
      break;
    default:
      a->epConfig = -1;
      break;
  }
  if (a->extensionObjectType == 5) {
    if (a->sbrPresent != 0 && a->sbrPresent != 1) return MP4AUDEC_ZERO_COUNT;
    if (a->psPresent < -1 || a->psPresent > 1) return MP4AUDEC_ZERO_COUNT;
    // The extension rate is only signalled (and checked) when SBR is
    // present; ffmpeg-made files carry the sync extension with sbrPresent 0.
    if (a->sbrPresent == 1) {
      r = checkFrequency(a->extensionSamplingFrequencyIndex, &a->extensionSamplingFrequency);
      if (r) return r;
      if (a->extensionSamplingFrequency != a->samplingFrequency &&
          a->extensionSamplingFrequency != 2 * a->samplingFrequency)
        return MP4AUDEC_BAD_SAMPLING_FREQUENCY;
    } else {
      a->extensionSamplingFrequencyIndex = a->samplingFrequencyIndex;
      a->extensionSamplingFrequency = a->samplingFrequency;
    }
  } else {
    a->extensionObjectType = 0;
    a->sbrPresent = -1;
    a->psPresent = -1;
    a->extensionSamplingFrequencyIndex = 0;
    a->extensionSamplingFrequency = 0;
  }
  if (a->epConfig != 1 && a->streamParam1 != 1) return MP4AUDEC_TOO_MANY_LAYERS;
  if (ascIsGaType(aot)) {
    const AscGaConfig& g = a->ga;
    if (g.frameLengthFlag < 0 || g.frameLengthFlag > 1) return MP4AUDEC_ZERO_COUNT;
    const bool scalable = aot == 6 || aot == 20;
    if (g.dependsOnCoreCoder != 0 && !(scalable && g.dependsOnCoreCoder == 1)) return MP4AUDEC_ZERO_COUNT;
    if (g.dependsOnCoreCoder && (g.coreCoderDelay < 0 || g.coreCoderDelay > 16383)) return MP4AUDEC_ZERO_COUNT;
    if (aot <= 7) {
      if (g.extensionFlag != 0) return MP4AUDEC_ZERO_COUNT;
    } else {
      if (g.extensionFlag < 0 || g.extensionFlag > 1 || g.extensionFlag3 != 0) return MP4AUDEC_ZERO_COUNT;
    }
    if (g.vcb11 < 0 || g.vcb11 > 1 || g.rvlc < 0 || g.rvlc > 1 || g.hcr < 0 || g.hcr > 1) return MP4AUDEC_ZERO_COUNT;
  }
  if (aot == 30 && a->type30.payloadFlag >= 2) return MP4AUDEC_ZERO_COUNT;
  r = ascChannelCount(a);
  if (r < 0) return r;
  a->channelCount = r;
  r = ascFrameLength(a, aot);
  if (r < 0) return r;
  a->frameLength = r;
  return 0;
}
