// SBR and PS wrapper of the AAC decoder.
#include "sbrdec.h"

#include <cstring>
#include <new>

#include "sbrdecoder.h"

namespace {

constexpr int kSlots = 32;
constexpr int kWorkSize = 4096;
constexpr int kModeMono = 0;
constexpr int kModeStereo = 2;
constexpr int kModeUnset = 3;

}  // namespace

struct SbrWrapper {
  SbrDecoder* dec[kSlots] = {};
  int modes[kSlots] = {};
  int elementCount = 0;
  int psEnable = 0;
  float work[kWorkSize] = {};
  int workSize = kWorkSize;
  int coreRate = 0;
  int frameLength = 0;
  // What every element's decoder is opened with. Only the first decoder is
  // opened up front (it answers the rate questions); the others are opened
  // when the stream first has that many elements, so that a stream of one
  // element never pays for the other 31.
  int channelConfig = 0;
  int lowPower = 0;
  int downsampled = 0;
};

namespace {

void closeDecoders(SbrWrapper* w) {
  for (int i = 0; i < kSlots; i++) sbrDecoderClose(&w->dec[i]);
}

// Opens decoder i unless it is open already.
int openDecoder(SbrWrapper* w, int i) {
  if (w->dec[i]) return 0;
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  cfg.w[13] = w->lowPower;
  cfg.w[14] = w->downsampled;
  w->dec[i] = sbrDecoderOpen(w->coreRate, w->frameLength, &cfg, w->channelConfig);
  return w->dec[i] ? 0 : SBRDEC_ERR_MEMORY;
}

}  // namespace

int sbrDecOpen(SbrWrapper** out, const SbrLayerInfo* layer) {
  *out = nullptr;
  SbrWrapper* w = new (std::nothrow) SbrWrapper();
  if (!w) return SBRDEC_ERR_MEMORY;
  w->downsampled = (layer->sbrPresent == 1 && layer->extSampleRate == layer->coreSampleRate) ? 1 : 0;
  w->lowPower = 0;
  w->coreRate = layer->coreSampleRate;
  w->frameLength = layer->frameLength;
  w->channelConfig = layer->channelConfig;
  if (openDecoder(w, 0) != 0) {
    closeDecoders(w);
    delete w;
    return SBRDEC_ERR_MEMORY;
  }
  for (int i = 0; i < kSlots; i++) w->modes[i] = kModeUnset;
  w->elementCount = 0;
  w->psEnable = layer->objectType == 556 ? 0 : 1;
  *out = w;
  return 0;
}

int sbrDecReconfigure(SbrWrapper* w, const SbrLayerInfo* layer, int lowPower) {
  (void)layer;
  if (w->lowPower == lowPower) return 0;
  closeDecoders(w);
  w->lowPower = lowPower;
  if (openDecoder(w, 0) != 0) {
    closeDecoders(w);
    return SBRDEC_ERR_MEMORY;
  }
  return 0;
}

int sbrDecSetElementModes(SbrWrapper* w, const SbrLayerInfo* layer) {
  static const int kLayouts[8][5] = {
      {0}, {kModeMono}, {kModeStereo}, {kModeMono, kModeStereo},
      {kModeMono, kModeStereo, kModeMono}, {kModeMono, kModeStereo, kModeStereo},
      {kModeMono, kModeStereo, kModeStereo, kModeMono},
      {kModeMono, kModeStereo, kModeStereo, kModeStereo, kModeMono}};
  static const int kCounts[8] = {1, 1, 1, 2, 3, 3, 4, 5};
  int cfg = layer->channelConfig;
  if (cfg < 0 || cfg > 7) return SBRDEC_ERR_CONFIG;
  if (cfg == 0) {
    if (layer->channels == 1)
      w->modes[0] = kModeMono;
    else if (layer->channels == 2)
      w->modes[0] = kModeStereo;
    else
      return SBRDEC_ERR_CHANNELS;
    w->elementCount = 1;
    return 0;
  }
  w->elementCount = kCounts[cfg];
  for (int i = 0; i < w->elementCount; i++) w->modes[i] = kLayouts[cfg][i];
  return 0;
}

int sbrDecApply(SbrWrapper* w, SbrCuFrame* cu, SbrLayerInfo* layer) {
  if (!cu->samples) return SBRDEC_ERR_NO_SAMPLES;
  SbrElementRecord recs[kSlots];
  int found = 0;
  for (int i = 0; i < cu->numAnc && found < kSlots; i++) {
    const SbrAncillary& a = cu->anc[i];
    if (a.type < 8 || a.type > 11) continue;
    SbrElementRecord& r = recs[found++];
    r.count = 1;
    r.elementKind = (a.type == 9 || a.type == 11) ? kModeStereo : kModeMono;
    r.extType = a.type >= 10 ? 14 : 13;
    r.length = a.size;
    r.payload = a.data;
  }
  const int cfg = layer->channelConfig;
  // The LFE element carries no SBR payload: give it an empty one.
  if (found < kSlots && ((cfg == 0 && (found == 3 || found == 4)) || (cfg == 6 && found == 3) ||
                         (cfg == 7 && found == 4))) {
    SbrElementRecord& r = recs[found++];
    r = SbrElementRecord();
    r.count = 1;
    r.elementKind = kModeMono;
  }
  bool usable = true;
  if (w->elementCount == 0 && found > 0) {
    for (int i = 0; i < found; i++) w->modes[i] = recs[i].elementKind;
    w->elementCount = found;
  } else if (w->elementCount > 0 && found > 0) {
    if (found != w->elementCount) usable = false;
    for (int i = 0; usable && i < found; i++)
      if (recs[i].elementKind != w->modes[i]) usable = false;
  }
  if (w->elementCount == 0) {
    if (layer->sbrPresent != 1) return 0;
    int err = sbrDecSetElementModes(w, layer);
    if (err) return err;
    usable = false;
  } else if (found == 0) {
    usable = false;
  }
  if (!usable) {
    for (int i = 0; i < w->elementCount; i++) {
      recs[i] = SbrElementRecord();
      recs[i].count = 1;
      recs[i].elementKind = w->modes[i];
    }
  }
  const int streamChannels = cu->channels;
  const int n = layer->frameLength;
  if (2 * n > w->workSize) return SBRDEC_ERR_CONFIG;
  // Parametric stereo only for a stream with exactly one channel.
  const bool psAllowed = w->psEnable && streamChannels == 1;
  int offset = 0;
  int result = 0;
  for (int e = 0; e < w->elementCount; e++) {
    const int mode = w->modes[e];
    if (mode != kModeMono && mode != kModeStereo) return SBRDEC_ERR_MODE;
    const int ech = mode == kModeStereo ? 2 : 1;
    if (offset + ech > streamChannels) return SBRDEC_ERR_CHANNELS;
    // A stream of one element is processed in place when the CU buffer has
    // room for the output; otherwise the element goes through the work buffer.
    const int maxOutCh = (psAllowed && ech == 1) ? 2 : ech;
    const bool inPlace = w->elementCount == 1 && ech == streamChannels && 2 * n * maxOutCh <= cu->capacity;
    float* data = inPlace ? cu->samples : w->work;
    if (!inPlace)
      for (int i = 0; i < n; i++)
        for (int c = 0; c < ech; c++) w->work[i * ech + c] = cu->samples[i * streamChannels + offset + c];
    if (openDecoder(w, e) != 0) return SBRDEC_ERR_MEMORY;
    int outCh = ech;
    int psApplied = 0;
    int r = sbrDecoderApply(w->dec[e], &recs[e], data, psAllowed && ech == 1, &outCh, &psApplied);
    if (r != 0) result = r;
    const int factor = static_cast<int>(sbrDecoderGetRateFactor(w->dec[0]));
    if (layer->sbrPresent == -1) {
      layer->sbrPresent = 1;
      layer->extSampleRate = factor * layer->coreSampleRate;
      layer->extObjectType = 5;
    }
    cu->outSampleRate = layer->coreSampleRate * factor;
    int outStride = streamChannels;
    if (streamChannels == 1 && outCh == 2 && psAllowed) outStride = 2;
    cu->outChannels = outStride;
    const int outLen = factor * n;
    if (outLen * outStride > cu->capacity) return SBRDEC_ERR_CU_SIZE;
    cu->outSamplesPerChannel = outLen;
    // Write back only the element's own channels (PS adds the second channel of a mono stream).
    const int writeCh = outStride == 2 && streamChannels == 1 ? 2 : ech;
    if (!inPlace)
      for (int i = 0; i < outLen; i++)
        for (int c = 0; c < writeCh; c++) cu->samples[i * outStride + offset + c] = w->work[i * outCh + c];
    cu->sbrApplied = 1;
    if (psApplied && w->psEnable) cu->psApplied = 1;
    offset += ech;
  }
  return result;
}

int sbrDecReset(SbrWrapper* w) {
  for (int i = 0; i < kSlots; i++) sbrDecoderReset(w->dec[i]);
  return 0;
}

void sbrDecClose(SbrWrapper** pw) {
  if (!pw || !*pw) return;
  closeDecoders(*pw);
  delete *pw;
  *pw = nullptr;
}

void sbrDecSetPsEnable(SbrWrapper* w, int enable) { w->psEnable = enable; }
int sbrDecGetPsEnable(const SbrWrapper* w) { return w->psEnable; }
