// The SBR encoder of one channel element as the SBR interface drives it.
#include "sbr_main.h"

#include <algorithm>
#include <new>

#include "ps_encoder.h"

struct SbrElementEncoder {
  SbrEncoder* sbr = nullptr;
  PsEncoder* ps = nullptr;
  int32_t channels = 1;
  int32_t headerPeriod = 1;  // frames between two stereo headers
  int32_t frames = 0;
  const float* core = nullptr;  // the last frame's downmix for the core
};

CodecError* sbrInitConfigDefaults(SbrConfig* c, int32_t coreCodec, int32_t frameLengthFactor,
                                  int32_t coreFrameLength) {
  if (!c) return createError(__FILE__, __LINE__, __func__, "Null configuration");
  if (coreCodec != 0 || frameLengthFactor != 2 || coreFrameLength != 1024)
    return createError(__FILE__, __LINE__, __func__, "Core codec %d, factor %d, frame length %d not served", coreCodec,
                       frameLengthFactor, coreFrameLength);
  *c = SbrConfig{};
  c->coreCodec = coreCodec;
  c->frameLengthFactor = frameLengthFactor;
  c->coreFrameLength = coreFrameLength;
  c->channels = 1;
  return nullptr;
}

CodecError* sbrApplyTuning(SbrConfig* c, int32_t bitRate, int32_t channels, int32_t coreRate, int32_t psMode) {
  if (!c) return createError(__FILE__, __LINE__, __func__, "Null configuration");
  if (channels < 1 || channels > 2 || (psMode && channels != 1))
    return createError(__FILE__, __LINE__, __func__, "Invalid channel count %d", channels);
  if (coreRate < 8000 || coreRate > 48000)
    return createError(__FILE__, __LINE__, __func__, "Invalid core rate %d", coreRate);
  if (bitRate < 1) return createError(__FILE__, __LINE__, __func__, "Invalid bitrate %d", bitRate);
  c->bitRate = bitRate;
  c->channels = channels;
  c->coreRate = coreRate;
  c->psMode = psMode ? 1 : 0;
  const SbrEncoderConfig sc = {coreRate * c->frameLengthFactor, channels, bitRate, 0, 0};
  c->startFreq = sbrTuningStartFreq(&sc);
  if (c->startFreq < 0) return createError(__FILE__, __LINE__, __func__, "No tuning for rate %d", coreRate);
  return nullptr;
}

CodecError* sbrEncoderOpen(SbrElementEncoder** out, const SbrConfig* c, SbrPayload* slot0) {
  if (!out) return createError(__FILE__, __LINE__, __func__, "Null handle");
  *out = nullptr;
  if (!c || !slot0 || c->frameLengthFactor != 2 || c->coreRate < 8000)
    return createError(__FILE__, __LINE__, __func__, "Invalid configuration");
  SbrElementEncoder* e = new (std::nothrow) SbrElementEncoder();
  if (!e) return createError(__FILE__, __LINE__, __func__, "Calloc failed");
  const int32_t rate = c->coreRate * c->frameLengthFactor;
  e->channels = c->channels;
  const SbrEncoderConfig sc = {rate, c->channels, c->bitRate, 1, c->startFreq};
  if (sbrEncoderOpen(&e->sbr, &sc) != kSbrEncOk) {
    sbrEncoderClose(e);
    return createError(__FILE__, __LINE__, __func__, "SBR encoder open failed");
  }
  if (c->psMode) {
    const PsEncoderConfig pc = {rate, c->bitRate};
    if (psEncoderOpen(&e->ps, &pc) != kPsEncOk) {
      sbrEncoderClose(e);
      return createError(__FILE__, __LINE__, __func__, "PS encoder open failed");
    }
  }
  SbrEncoderSettings set;
  sbrEncoderGetSettings(e->sbr, &set);
  // The stereo header rides with the SBR header.
  e->headerPeriod = std::max(1, set.headerPeriod);
  slot0->crossover = static_cast<float>(set.crossoverHz);
  *out = e;
  return nullptr;
}

void sbrEncoderClose(SbrElementEncoder* e) {
  if (!e) return;
  sbrEncoderClose(e->sbr);
  psEncoderClose(e->ps);
  delete e;
}

void sbrEncoderGetTiming(const SbrElementEncoder* e, int32_t* timingIn, int32_t* timingOut) {
  // Without parametric stereo the SBR encoder's look-ahead is matched by the
  // decoder's banks: the input is held back by the core's delay. With it,
  // the stereo encoder measures its frames far enough back to leave a
  // whole number of frames to the interface.
  if (timingIn) *timingIn = (e && e->ps ? psEncoderLag(e->ps) : 0) + 1;
  if (timingOut) *timingOut = 0;
}

int32_t sbrEncoderGetDelay(const SbrElementEncoder* e) { return e && e->ps ? psEncoderDelay(e->ps) : 0; }

int sbrEncoderHasPs(const SbrElementEncoder* e) { return e && e->ps ? 1 : 0; }

void sbrEncoderGetElementSettings(const SbrElementEncoder* e, SbrEncoderSettings* settings) {
  if (e) sbrEncoderGetSettings(e->sbr, settings);
}

CodecError* sbrEncodeFrame(SbrElementEncoder* e, SbrPayload* slot, const float* a, const float* b) {
  if (!e || !slot || !slot->data || slot->capacity < kSbrEncMaxPayloadBytes || !a || (e->ps && !b))
    return createError(__FILE__, __LINE__, __func__, "Invalid SBR Encoder handle");
  slot->bits = 0;
  int32_t bits = 0;
  if (e->ps) {
    PsEncoderFrame f;
    if (psEncoderEncodeFrame(e->ps, a, b, 1, e->frames % e->headerPeriod == 0, &f) != kPsEncOk)
      return createError(__FILE__, __LINE__, __func__, "PS encoder failed");
    e->core = f.core;
    if (sbrEncoderEncodeQmfFrame(e->sbr, f.re, f.im, f.data, f.bits, slot->data, &bits) != kSbrEncOk)
      return createError(__FILE__, __LINE__, __func__, "SBR encoder failed");
  } else if (sbrEncoderEncodeFrame(e->sbr, a, e->channels, slot->data, &bits) != kSbrEncOk) {
    return createError(__FILE__, __LINE__, __func__, "SBR encoder failed");
  }
  ++e->frames;
  slot->bits = bits;
  return nullptr;
}

int sbrEncoderGetCoreInput(const SbrElementEncoder* e, const float** samples, int32_t* count) {
  if (!e || !e->ps || !e->core || !samples || !count) return 1;
  *samples = e->core;
  *count = kPsEncCoreFrameLength;
  return 0;
}
