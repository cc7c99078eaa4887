// The SBR interface: channel elements, their SBR encoders, and the ring of
// payload slots between the SBR encoders and the core encoder.
#include "mp4sbr_ifc.h"

#include <cstdlib>
#include <cstring>

#include "timebuffer.h"

namespace {

bool hasSbr(const ChannelElement& e) { return e.type == kChannelElementSce || e.type == kChannelElementCpe; }

// Frees a payload slot and its bit buffer.
void freeSlot(SbrPayload*& slot) {
  if (!slot) return;
  std::free(slot->data);
  std::free(slot);
  slot = nullptr;
}

SbrPayload* newSlot() {
  SbrPayload* slot = static_cast<SbrPayload*>(std::calloc(1, sizeof(SbrPayload)));
  if (!slot) return nullptr;
  slot->data = static_cast<uint8_t*>(std::calloc(kSbrPayloadBytes, 1));
  if (!slot->data) {
    std::free(slot);
    return nullptr;
  }
  slot->capacity = kSbrPayloadBytes;
  return slot;
}

// The delay the element's input is held back by.
int32_t holdOf(const SbrIfc* h, int32_t e, int32_t coreDelay) {
  return h->timingOut[e] + (coreDelay - h->timingIn[e]) + 1;
}

}  // namespace

CodecError* sbrIfcCreate(SbrIfc** handle, const SbrIfcConfig* config) {
  if (!handle) return createError(__FILE__, __LINE__, __func__, "Null handle");
  *handle = nullptr;
  if (!config) return createError(__FILE__, __LINE__, __func__, "Null configuration");
  SbrIfc* h = static_cast<SbrIfc*>(std::calloc(1, sizeof(SbrIfc)));
  if (!h) return createError(__FILE__, __LINE__, __func__, "Calloc failed");
  *handle = h;
  h->sampleRate = config->sampleRate;
  h->psMode = config->psMode;
  int32_t mode = 0;
  CodecError* err = DetermineEncoderMode(&mode, config->channels, config->variant);
  if (err) {
    deleteError(err);
    return createError(__FILE__, __LINE__, __func__, "DetermineEncoderMode failed");
  }
  // Parametric stereo codes one channel: the mode must be mono.
  if (config->psMode && mode != 1) return createError(__FILE__, __LINE__, __func__, "Invalid Mode");
  err = InitChannelMapping(mode, &h->mapping, 0);
  if (err) {
    deleteError(err);
    return createError(__FILE__, __LINE__, __func__, "InitChannelMapping failed");
  }
  const int32_t coreRate = config->sampleRate / 2;
  for (int32_t e = 0; e < h->mapping->count; ++e) {
    const ChannelElement& el = h->mapping->elements[e];
    if (!hasSbr(el)) continue;
    h->elementConfig[e] = static_cast<SbrConfig*>(std::calloc(1, sizeof(SbrConfig)));
    if (!h->elementConfig[e]) return createError(__FILE__, __LINE__, __func__, "Calloc failed");
    err = sbrInitConfigDefaults(h->elementConfig[e], 0, 2, kSbrIfcCoreFrameLength);
    if (!err)
      err = sbrApplyTuning(h->elementConfig[e], static_cast<int32_t>(static_cast<float>(config->bitRate) * el.share),
                           el.channels, coreRate, config->psMode);
    if (err) return appendErrorTrace(__FILE__, __LINE__, __func__, err);
  }
  // All elements share one crossover: the lowest start of their tunings.
  int32_t lowest = 16;
  for (int32_t e = 0; e < h->mapping->count; ++e)
    if (h->elementConfig[e] && h->elementConfig[e]->startFreq < lowest) lowest = h->elementConfig[e]->startFreq;
  for (int32_t e = 0; e < h->mapping->count; ++e)
    if (h->elementConfig[e]) h->elementConfig[e]->startFreq = lowest;
  return nullptr;
}

CodecError* sbrIfcInit(SbrIfc* h, int32_t* coreDelayIn, int32_t* coreDelayOut) {
  if (!h || !h->mapping) return createError(__FILE__, __LINE__, __func__, "Invalid SBR Encoder handle");
  h->writeIndex = h->readIndex = h->pending = 0;
  for (int32_t e = 0; e < h->mapping->count; ++e) {
    if (!h->elementConfig[e]) {
      h->payload[0][e] = nullptr;
      h->encoder[e] = nullptr;
      continue;
    }
    for (int32_t s = 0; s < kSbrIfcSlots; ++s) {
      if (!h->payload[s][e]) h->payload[s][e] = newSlot();
      if (!h->payload[s][e]) return createError(__FILE__, __LINE__, __func__, "Calloc failed");
    }
    if (!h->encoder[e]) {
      CodecError* err = sbrEncoderOpen(&h->encoder[e], h->elementConfig[e], h->payload[0][e]);
      if (err) return appendErrorTrace(__FILE__, __LINE__, __func__, err);
    }
    if (!h->encoder[e]) return createError(__FILE__, __LINE__, __func__, "Invalid SBR Encoder handle");
    // Slot 0's settings into the others; each keeps its own bit buffer.
    for (int32_t s = 1; s < kSbrIfcSlots; ++s) h->payload[s][e]->crossover = h->payload[0][e]->crossover;
    sbrEncoderGetTiming(h->encoder[e], &h->timingIn[e], &h->timingOut[e]);
    if (coreDelayIn) *coreDelayIn = h->timingIn[e];
    if (coreDelayOut) *coreDelayOut = h->timingOut[e];
  }
  return nullptr;
}

int sbrIfcSetCoreDelay(SbrIfc* h, int32_t coreDelay) {
  if (!h || !h->mapping) return 1;
  int32_t preRoll = 0;
  for (int32_t e = 0; e < h->mapping->count; ++e) {
    if (!h->encoder[e]) continue;
    // Set once; a hold that is negative or too long for the ring is refused.
    if (h->inputBufferA[e] || h->coreBuffer[e]) return 1;
    const int32_t d = holdOf(h, e, coreDelay);
    if (d < 0 || d > (1 << 24)) return 1;
    const ChannelElement& el = h->mapping->elements[e];
    if (!h->psMode) {
      if (CreateTimeBuffer(&h->inputBufferA[e], d + kSbrIfcFrameLength, kSbrIfcFrameLength, el.channels, d)) return 1;
      continue;
    }
    // The delay is taken by whole silent frames, whose payloads wait in the
    // ring; the core's input is held back by the rest.
    const int32_t frames = (d + kSbrIfcFrameLength - 1) / kSbrIfcFrameLength;
    if (frames >= kSbrIfcSlots) return 1;
    const int32_t hold = (frames * kSbrIfcFrameLength - d) / 2;
    if (CreateTimeBuffer(&h->inputBufferA[e], kSbrIfcFrameLength, kSbrIfcFrameLength, 1, 0) ||
        CreateTimeBuffer(&h->inputBufferB[e], kSbrIfcFrameLength, kSbrIfcFrameLength, 1, 0) ||
        CreateTimeBuffer(&h->coreBuffer[e], hold + kSbrIfcCoreFrameLength, kSbrIfcCoreFrameLength, 1, hold))
      return 1;
    if (frames > preRoll) preRoll = frames;
  }
  for (int32_t i = 0; i < preRoll; ++i)
    if (sbrIfcEncodeFrame(h, nullptr, 0)) return 1;
  return 0;
}

int sbrIfcEncodeFrame(SbrIfc* h, const float* samples, int32_t n) {
  if (!h || !h->mapping || n < 0) return 1;
  // A full ring would lose a payload the core has not taken.
  if (h->pending >= kSbrIfcSlots) return 1;
  const int32_t total = h->mapping->channels;
  const int32_t stride = h->psMode ? 2 : total;
  const int32_t frames = samples ? n / stride : kSbrIfcFrameLength;
  if (frames > kSbrIfcFrameLength) return 1;
  int result = 0;
  bool written = true;
  for (int32_t e = 0; e < h->mapping->count; ++e) {
    if (!h->encoder[e]) continue;
    if (!h->inputBufferA[e] || (h->psMode && (!h->inputBufferB[e] || !h->coreBuffer[e]))) return 1;
    const ChannelElement& el = h->mapping->elements[e];
    if (written) {
      if (!h->psMode) {
        const float* first = samples ? samples + el.first : nullptr;
        const float* second = samples && el.channels == 2 ? samples + el.second : nullptr;
        written = WriteTimeBuffer(h->inputBufferA[e], first, second, stride, 1.0f, frames) == 0 &&
                  WriteTimeBuffer(h->inputBufferA[e], nullptr, nullptr, 1, 1.0f, kSbrIfcFrameLength - frames) == 0;
      } else {
        written = WriteTimeBuffer(h->inputBufferA[e], samples ? samples + el.first : nullptr, nullptr, 2, 1.0f,
                                  frames) == 0 &&
                  WriteTimeBuffer(h->inputBufferB[e], samples ? samples + el.first + 1 : nullptr, nullptr, 2, 1.0f,
                                  frames) == 0;
      }
      if (!written) result = 1;
    }
    const float* a = GetTimeBufferPtr(h->inputBufferA[e], 0, 0);
    const float* b = h->psMode ? GetTimeBufferPtr(h->inputBufferB[e], 0, 0) : nullptr;
    CodecError* err = sbrEncodeFrame(h->encoder[e], h->payload[h->writeIndex][e], a, b);
    if (err) {
      deleteError(err);
      result = 1;
    }
    AdvanceTimeBuffer(h->inputBufferA[e], kSbrIfcFrameLength);
    AdvanceTimeBuffer(h->inputBufferB[e], kSbrIfcFrameLength);
  }
  ++h->pending;
  h->writeIndex = (h->writeIndex + 1) % kSbrIfcSlots;
  return result;
}

int sbrIfcGetCoreInput(SbrIfc* h, const float** samples, int32_t* count) {
  if (!h || !samples || !count || !h->coreBuffer[0]) return 1;
  const float* downmix = nullptr;
  int32_t n = 0;
  if (sbrEncoderGetCoreInput(h->encoder[0], &downmix, &n)) return 1;
  const int r = WriteTimeBufferMono(h->coreBuffer[0], downmix, 1.0f, n);
  *samples = GetTimeBufferPtr(h->coreBuffer[0], 0, 0);
  *count = n;
  h->coreCount = n;
  AdvanceTimeBuffer(h->coreBuffer[0], kSbrIfcCoreFrameLength);
  return r ? 1 : 0;
}

SbrPayload** sbrIfcNextPayload(SbrIfc* h) {
  // Nothing pending: the slot would be a stale one.
  if (!h || h->pending <= 0) return nullptr;
  SbrPayload** slots = h->payload[h->readIndex];
  h->readIndex = (h->readIndex + 1) % kSbrIfcSlots;
  --h->pending;
  return slots;
}

float sbrIfcGetSlotValue(const SbrIfc* h) {
  const SbrPayload* slot = h ? h->payload[h->readIndex][0] : nullptr;
  return slot ? slot->crossover : 0.0f;
}

int sbrIfcSetChannelOrder(SbrIfc* h, const int32_t* order) { return h ? SetChannelOrder(h->mapping, order) : 1; }

int32_t sbrIfcGetSbrDelay(const SbrIfc* h) { return h ? sbrEncoderGetDelay(h->encoder[0]) : 0; }

int32_t sbrIfcGetSideInfoBitrate(const SbrIfc* h) {
  if (!h || !h->mapping) return 0;
  int32_t rate = 0;
  for (int32_t e = 0; e < h->mapping->count; ++e) {
    const SbrConfig* c = h->elementConfig[e];
    // The parametric-stereo share, trunc(bands * factor * 5 / 1024) times
    // the core rate, is 0 with the core's frame length: it adds nothing.
    if (c) rate += kSbrIfcSideInfoPerChannel * h->mapping->elements[e].channels;
  }
  return rate;
}

int sbrIfcHasSbr(const SbrIfc* h) { return h && h->encoder[0] ? 1 : 0; }

int sbrIfcHasPs(const SbrIfc* h) { return h && sbrEncoderHasPs(h->encoder[0]) ? 1 : 0; }

void sbrIfcGetSettings(const SbrIfc* h, SbrEncoderSettings* settings) {
  if (!settings) return;
  std::memset(settings, 0, sizeof(*settings));
  if (h && h->encoder[0]) sbrEncoderGetElementSettings(h->encoder[0], settings);
}

int sbrIfcDestroy(SbrIfc* h) {
  if (!h) return 0;
  for (int32_t e = 0; e < kSbrIfcMaxElements; ++e) {
    std::free(h->elementConfig[e]);
    sbrEncoderClose(h->encoder[e]);
    for (int32_t s = 0; s < kSbrIfcSlots; ++s) freeSlot(h->payload[s][e]);
    DeleteTimeBuffer(&h->inputBufferA[e]);
    DeleteTimeBuffer(&h->inputBufferB[e]);
    DeleteTimeBuffer(&h->coreBuffer[e]);
  }
  DeleteChannelMapping(h->mapping);
  std::free(h);
  return 0;
}
