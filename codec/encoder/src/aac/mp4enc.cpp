// The encoder interface.
#include "mp4enc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "aacenc.h"
#include "aactables.h"
#include "audiospecificconfig.h"
#include "bit_buf.h"
#include "mp4sbr_ifc.h"
#include "prconfig.h"
#include "resampler.h"

namespace {

// Delay of the decoder's SBR stage at the output rate: its 32-band QMF
// analysis and 64-band synthesis.
const int32_t kSbrDecoderDelay = 962;

// The nominal sampling frequencies the encoder codes, in ascending order: the
// table's indices 11 down to 0 (7350 Hz is not offered).
const int32_t kStandardRateCount = 12;
int32_t standardRate(int32_t i) { return static_cast<int32_t>(kAacSamplingFrequencies[kStandardRateCount - 1 - i]); }
const int32_t kEnd = 2147483647;

struct RateRow {
  int32_t bound, minRate, defaultRate, maxRate;
};
const RateRow kLcSingle[] = {{24000, 16000, 24000, 24000}, {32000, 32000, 32000, 32000},
                             {56000, 32000, 44100, 48000}, {128000, 32000, 44100, 48000},
                             {160001, 48000, 48000, 48000}, {kEnd, 0, 0, 0}};
const RateRow kLcPairs[] = {{16000, 16000, 22050, 24000}, {20000, 32000, 32000, 32000}, {40000, 32000, 32000, 48000},
                            {56000, 32000, 44100, 48000}, {80000, 32000, 44100, 48000}, {128000, 32000, 44100, 48000},
                            {160001, 48000, 48000, 48000}, {kEnd, 0, 0, 0}};
const RateRow kSbrSingle[] = {{8000, 22050, 24000, 24000}, {12000, 32000, 32000, 32000}, {14000, 32000, 32000, 32000},
                              {18000, 32000, 44100, 48000}, {40000, 32000, 48000, 48000}, {64001, 48000, 48000, 48000},
                              {kEnd, 0, 0, 0}};
const RateRow kSbrPairs[] = {{4000, 0, 0, 0},           {8000, 32000, 32000, 48000}, {12000, 32000, 32000, 48000},
                             {14000, 32000, 44100, 48000}, {32000, 32000, 44100, 48000}, {64001, 48000, 48000, 48000},
                             {kEnd, 0, 0, 0}};

bool isSbrType(int32_t t) { return mp4EncObjectTypeHasSbr(t); }
bool isLcFamily(int32_t t) { return t == 2 || t == 4 || t == 17 || t == 19 || t == 129; }
bool isKnownType(int32_t t) { return isLcFamily(t) || isSbrType(t); }

struct ModeInfo {
  int32_t count, coded, variant;
};
ModeInfo modeInfo(int32_t mode) {
  switch (mode) {
    case 1: return {1, 1, 0};
    case 2: return {2, 2, 0};
    case 3: return {3, 3, 0};
    case 4: return {4, 4, 0};
    case 5: return {5, 5, 0};
    case 6: return {6, 5, 0};
    case 7: return {8, 7, 0};
    case 16: return {2, 2, 1};
    case 17: return {4, 4, 1};
    case 18: return {6, 6, 1};
    case 19: return {8, 8, 1};
    case 20: return {12, 12, 1};
    case 21: return {4, 4, 2};
    case 22: return {6, 6, 2};
    case 23: return {8, 8, 2};
    case 24: return {12, 12, 2};
    case 64: return {2, 1, 0};
    default: return {0, 0, -1};
  }
}

bool singleTable(int32_t mode) { return mode == 1 || mode == 3 || mode == 4 || (mode >= 16 && mode <= 20) || mode == 64; }

int32_t gcd(int32_t a, int32_t b) {
  while (b) {
    const int32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

struct mp4EncInstance {
  mp4EncConfig config;
  int32_t objectType;
  int32_t inputRate;
  int32_t encoderRate;
  int32_t coreRate;
  int32_t channelMode;
  int32_t count;
  int32_t coded;
  int32_t variant;
  int32_t bitRate;
  int32_t qualityMode;
  AacCoreConfig core;
  AacCore* coreHandle;
  mp4EncUnits units;
  int32_t unitSizes[kMp4EncMaxUnits];
  mp4EncAsc asc;
  uint8_t ascBytes[64];
  float* input;
  float* scaled;  // the frame in the core's scale
  int32_t inputSamplesPerFrame;
  int32_t held;
  int32_t flushStarted;
  int32_t flushLeft;
  int32_t bandwidth;
  int32_t coreDelay;
  int32_t totalDelay;
  int32_t initialised;
  // HE-AAC: the SBR interface over the full-rate input (its payload ring
  // feeds the core's fill element), and the 2:1 converter in front of the
  // core.
  SbrIfc* sbrIfc;
  HANDLE_RESAMPLER downsampler;
  float* fifo;             // full-rate input not yet taken by the converter
  int32_t fifoCount;       // samples (all channels)
  int32_t converterNeed;   // samples the converter's next run takes
  // A converter from the input rate to the encoder rate (no SBR): each of
  // its runs takes frameNeed input samples and gives one core frame.
  HANDLE_RESAMPLER inputConverter;
  int32_t frameNeed;          // input samples (all channels) of the next frame
  int32_t bufferSamples;      // room of input and scaled
  int32_t channelOrder[12];  // input channel of each stream channel
  int32_t reordered;         // the order is not the identity
  // HE-AAC v2: the SBR interface's parametric-stereo part stands in for
  // the converter.
  int32_t ps;
  const uint8_t* userBytes;  // the caller's ancillary data and its count
  int32_t* userCount;
  mp4EncInstance* self;
};

int32_t mp4EncChannelCount(int32_t mode) { return modeInfo(mode).count; }

int mp4EncBitrateRange(int32_t mode, int32_t type, int32_t* minRate, int32_t* maxRate) {
  if (mode < 1 || mode > 64 || type < 2 || type > 132) return kMp4EncBadParameter;
  const ModeInfo m = modeInfo(mode);
  if (m.count == 0 || !isKnownType(type)) return kMp4EncInit;
  int32_t lo = 0, hi = 0;
  if (mode == 1 || (mode >= 16 && mode <= 20) || mode == 64) {
    if (isSbrType(type)) lo = 14000, hi = 56000;
    else lo = 24000, hi = 160000;
  } else if (mode == 2 || (mode >= 21 && mode <= 24)) {
    if (type == 29) lo = hi = 0;
    else if (isSbrType(type)) lo = 12000, hi = 48000;
    else lo = 16000, hi = 160000;
  } else {
    if (type == 29) lo = hi = 0;
    else if (isSbrType(type)) lo = 14000, hi = 48000;
    else lo = 32000, hi = 160000;
  }
  if (minRate) *minRate = lo * m.coded;
  if (maxRate) *maxRate = hi * m.coded;
  return kMp4EncOk;
}

int mp4EncRateRow(int32_t perChannel, int32_t mode, int32_t type, int32_t* minRate, int32_t* defaultRate,
                  int32_t* maxRate) {
  if (modeInfo(mode).count == 0 || !isKnownType(type)) return kMp4EncInit;
  const RateRow* table = isSbrType(type) ? (singleTable(mode) ? kSbrSingle : kSbrPairs)
                                         : (singleTable(mode) ? kLcSingle : kLcPairs);
  const RateRow* row = nullptr;
  for (const RateRow* r = table; r->bound != kEnd; ++r) {
    if (perChannel >= r->bound) row = r;
  }
  if (!row && perChannel < table[0].bound) row = table;  // below the first bound: the first row
  if (!row) return kMp4EncInit;
  if (minRate) *minRate = row->minRate;
  if (defaultRate) *defaultRate = row->defaultRate;
  if (maxRate) *maxRate = row->maxRate;
  return kMp4EncOk;
}

int32_t mp4EncSelectRate(int32_t requested, int32_t minRate, int32_t defaultRate, int32_t maxRate,
                         int32_t qualityMode) {
  if (qualityMode == 3) return defaultRate;
  if (requested >= minRate && requested <= maxRate) return requested;
  int32_t best = 0, bestGcd = 0;
  const int32_t n = kStandardRateCount;
  if (requested > maxRate) {
    for (int32_t i = n - 1; i >= 0; --i) {
      const int32_t r = standardRate(i);
      if (r > maxRate || r < minRate) continue;
      const int32_t g = gcd(requested, r);
      if (g > bestGcd) best = r, bestGcd = g;
    }
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const int32_t r = standardRate(i);
      if (r > maxRate || r < minRate) continue;
      const int32_t g = gcd(requested, r);
      if (g > bestGcd) best = r, bestGcd = g;
    }
  }
  return best ? best : defaultRate;
}

int mp4EncGetRateRange(int32_t bitRate, int32_t mode, int32_t type, int32_t qualityMode, int32_t* minRate,
                       int32_t* maxRate, int32_t* defaultRate) {
  const ModeInfo m = modeInfo(mode);
  if (m.count == 0) return kMp4EncInit;
  const int32_t quality = qualityMode >= 2 ? 2 : std::max(0, qualityMode);
  if (bitRate == 0) bitRate = AacCoreMaxBitrate(quality, m.coded, m.variant);
  if (type == 0) type = 2;
  int32_t lo, def, hi;
  if (mp4EncRateRow(bitRate / m.coded, mode, type, &lo, &def, &hi) != kMp4EncOk) return kMp4EncInit;
  if (minRate) *minRate = lo;
  if (maxRate) *maxRate = hi;
  if (defaultRate) *defaultRate = def;
  return kMp4EncOk;
}

static int configure(mp4EncInstance* s, const mp4EncConfig* cfg) {
  s->config = *cfg;
  s->objectType = cfg->objectType;
  s->channelMode = cfg->channelMode;
  s->inputRate = cfg->sampleRate;
  s->qualityMode = cfg->qualityMode;
  if (cfg->qualityMode < 0 || cfg->qualityMode > 3) return kMp4EncBadParameter;
  const ModeInfo m = modeInfo(cfg->channelMode);
  s->count = m.count;
  s->coded = m.coded;
  s->variant = m.variant;
  if (m.count == 0) return cfg->channelMode < 1 || cfg->channelMode > 64 ? kMp4EncBadParameter : kMp4EncInit;
  const int32_t quality = cfg->qualityMode >= 2 ? 2 : cfg->qualityMode;
  s->bitRate = cfg->bitRate ? cfg->bitRate : AacCoreMaxBitrate(quality, m.coded, m.variant);
  if (s->objectType == 0) {
    const int32_t b = cfg->bitRate ? cfg->bitRate / m.coded : 64000;
    s->objectType = (cfg->bitRate && b > 8000 && b < 40000) ? 5 : 2;
  }
  if (cfg->channelMode == 64 && !isSbrType(s->objectType)) return kMp4EncBadParameter;
  if ((s->objectType == 17 || s->objectType == 19) && (cfg->erOption == 1 || cfg->erOption == 2))
    return kMp4EncBadParameter;
  int32_t lo, hi;
  const int r = mp4EncBitrateRange(cfg->channelMode, s->objectType, &lo, &hi);
  if (r != kMp4EncOk) return r;
  // Both bounds belong to the range: presets sit on them.
  if (s->bitRate < lo || s->bitRate > hi || hi == 0) return kMp4EncInit;
  int32_t minRate, defRate, maxRate;
  if (mp4EncRateRow(s->bitRate / m.coded, cfg->channelMode, s->objectType, &minRate, &defRate, &maxRate) !=
      kMp4EncOk)
    return kMp4EncInit;
  s->encoderRate = mp4EncSelectRate(cfg->sampleRate, minRate, defRate, maxRate, cfg->qualityMode);
  if (s->encoderRate == 0) return kMp4EncInit;
  s->coreRate = isSbrType(s->objectType) ? s->encoderRate / 2 : s->encoderRate;
  std::memset(&s->core, 0, sizeof(s->core));
  s->core.sampleRate = s->coreRate;
  s->core.bitRate = s->bitRate;
  // The low-frequency channel of modes 6 and 7 is coded too, in its own
  // element; parametric stereo codes one channel of two.
  s->core.nChannels = (cfg->channelMode == 6 || cfg->channelMode == 7) ? m.count : m.coded;
  s->core.qualityMode = quality;
  s->core.channelVariant = m.variant;
  // Frames carry up to a twentieth of the sample rate of the caller's
  // ancillary data (mp4EncSetUserData).
  s->core.ancillaryOption = -1;
  // Types 129 and 132 code without the encoder's tools (temporal noise
  // shaping); every other type uses them.
  s->core.toolOption = s->objectType != 129 && s->objectType != 132;
  s->self = s;
  return kMp4EncOk;
}

int mp4EncOpen(mp4EncHandle* handle, const mp4EncConfig* cfg) {
  if (!handle || !cfg) return kMp4EncBadParameter;
  *handle = nullptr;
  mp4EncInstance* s = static_cast<mp4EncInstance*>(std::calloc(1, sizeof(mp4EncInstance)));
  if (!s) return kMp4EncMemory;
  *handle = s;
  s->units.sizes = s->unitSizes;
  s->asc.data = s->ascBytes;
  return configure(s, cfg);
}

static int buildAsc(mp4EncInstance* s) {
  GaSpecificConfigRecord ga;
  std::memset(&ga, 0, sizeof(ga));
  ga.frameLength = 1024;
  AscWriteRecord r;
  std::memset(&r, 0, sizeof(r));
  r.objectType = s->objectType == 129 ? kAscCoreLcNoSbr
                 : (s->objectType == 4 || s->objectType == 17 || s->objectType == 19) ? s->objectType
                                                                                      : 2;
  r.samplingFrequency = s->coreRate;
  if (s->sbrIfc) {
    // SBR signalled explicitly: extension type 5 first, the output rate,
    // then the core's type.
    r.extensionObjectType = 5;
    r.sbrSignalling = kAscSbrHierarchical;
    r.sbrPresentFlag = 1;
    r.extensionSamplingFrequency = s->encoderRate;
  }
  if (s->ps) {
    // Parametric stereo over a mono core: type 29 first.
    r.extensionObjectType = 29;
    r.psPresentFlag = 1;
  }
  r.channelConfiguration = s->ps ? 1 : s->channelMode <= 7 ? s->channelMode : 0;
  r.ga = &ga;
  r.specificWriter = writeGaSpecificConfig;
  PceRecord* pce = nullptr;
  if (s->channelMode >= 16 && s->channelMode <= 24) {
    PceElement elements[12];
    int32_t n = 0;
    const bool pairs = s->variant == 2;
    for (int32_t c = 0; c < s->coded; c += pairs ? 2 : 1, ++n) {
      elements[n].type = pairs ? kPceCpe : kPceSce;
      elements[n].instanceTag = n;
      elements[n].channelCount = pairs ? 2 : 1;
      elements[n].ccElementIsIndSw = 0;
    }
    // The profile of the stream's type (LC, or LTP for the prediction types).
    CodecError* e = createPce(&pce, s->objectType == 4 || s->objectType == 19 ? 4 : 2, 0, s->coreRate, n, elements,
                              pceUniformPositions(elements[0].type, n));
    if (e) {
      deleteError(e);
      deletePce(pce);
      return kMp4EncInit;
    }
    ga.pce = pce;
  }
  bit_buf* b = CreateBitBuffer(64 * 8);
  if (!b) {
    deletePce(pce);
    return kMp4EncMemory;
  }
  CodecError* e = writeAudioSpecificConfig(&r, b);
  int status = kMp4EncOk;
  if (e || GetBitsAvail(b) > 64 * 8) {
    deleteError(e);
    status = kMp4EncInit;
  } else {
    s->asc.bits = GetBitsAvail(b);
    std::memset(s->ascBytes, 0, sizeof(s->ascBytes));
    ReadBytes(b, s->ascBytes, (s->asc.bits + 7) / 8);
  }
  DeleteBitBuffer(b);
  deletePce(pce);
  return status;
}

// The SBR side of an HE-AAC encoder, before the core opens: the SBR
// interface (its crossover is the core's bandwidth) and, without parametric
// stereo, the 2:1 converter in front of the core. Once the core's delay is
// known, setSbrCoreDelay holds the SBR input back so that each payload
// describes the stretch of signal its core frame holds.
static int openSbr(mp4EncInstance* s, bool ps) {
  const SbrIfcConfig ic = {s->coded, s->variant, s->bitRate, s->encoderRate, ps ? 1 : 0};
  CodecError* err = sbrIfcCreate(&s->sbrIfc, &ic);
  if (!err) err = sbrIfcInit(s->sbrIfc, nullptr, nullptr);
  if (err) {
    deleteError(err);
    return kMp4EncInit;
  }
  s->ps = ps ? 1 : 0;
  s->core.bandwidth = static_cast<int32_t>(sbrIfcGetSlotValue(s->sbrIfc));
  SbrEncoderSettings set;
  sbrIfcGetSettings(s->sbrIfc, &set);
  s->bandwidth = set.stopHz;
  if (ps) return kMp4EncOk;
  int32_t need = 0, outBlock = 0;
  if (CreateResampler(&s->downsampler, nullptr, static_cast<uint32_t>(s->encoderRate),
                      static_cast<uint32_t>(s->coreRate), s->count, 1024 * s->count, &need, &outBlock) != 0 ||
      outBlock != 1024 * s->count || need <= 0 || need > 2048 * s->count)
    return kMp4EncInit;
  s->converterNeed = need;
  s->fifo = static_cast<float*>(std::calloc(static_cast<size_t>(4096) * s->count, sizeof(float)));
  if (!s->fifo) return kMp4EncMemory;
  return kMp4EncOk;
}

// The core frame that leaves the encoder with input frame n decodes to core
// samples from 1024 n - coreDelay on. Without parametric stereo the
// converter puts its own delay in front: the SBR input is held back by twice
// the core delay plus the converter's delay. With it, the core's input comes
// out of the interface's banks, which the decoder's banks mirror: the hold is
// twice the core delay.
static int setSbrCoreDelay(mp4EncInstance* s) {
  const int32_t corePath = 2 * s->coreDelay + (s->ps ? 0 : 2 * GetResamplerDelay(s->downsampler));
  if (sbrIfcSetCoreDelay(s->sbrIfc, corePath) != 0) return kMp4EncInit;
  // Add the decoder's QMF analysis and synthesis banks.
  s->totalDelay = sbrIfcGetSbrDelay(s->sbrIfc) + corePath + kSbrDecoderDelay;
  return kMp4EncOk;
}

int mp4EncInit(mp4EncHandle* handle, int32_t* inputSamplesPerFrame) {
  if (!handle || !*handle || (*handle)->self != *handle) {
    if (inputSamplesPerFrame) *inputSamplesPerFrame = 0;
    return kMp4EncBadParameter;
  }
  mp4EncInstance* s = *handle;
  int status = kMp4EncOk;
  // This encoder codes AAC-LC, AAC-LTP, ER AAC-LC and ER AAC-LTP, HE-AAC
  // (AAC-LC with SBR) of one single channel or channel pair element, and
  // HE-AAC v2 (a mono core with SBR and parametric stereo from two
  // channels), from input at any rate: a converter takes it to the encoder
  // rate when that differs. The error-resilient types go without a
  // transport header and need a numbered channel configuration (modes 1-7).
  const bool he = s->objectType == 5 && (s->channelMode == 1 || s->channelMode == 2);
  const bool heV2 = s->objectType == 29 && s->channelMode == 64;
  const bool er = s->objectType == 17 || s->objectType == 19;
  const bool plain = s->objectType == 2 || s->objectType == 129 || s->objectType == 4 || er;
  if (!(plain || he || heV2) || (er && (s->core.transportType != 0 || s->channelMode > 7)))
    status = kMp4EncInit;
  s->core.ltpFlag = s->objectType == 4 || s->objectType == 19;
  s->core.erFlag = er;
  if (status == kMp4EncOk && (he || heV2)) status = openSbr(s, heV2);
  // Input at another rate: a converter in front of the core, or in front of
  // the SBR encoder, whose frames are twice as long.
  int32_t converterDelay = 0;  // at the input rate
  const int32_t encoderFrame = he || heV2 ? kSbrIfcFrameLength : 1024;
  if (status == kMp4EncOk && s->encoderRate != s->inputRate) {
    int32_t need = 0, outBlock = 0;
    if (CreateResampler(&s->inputConverter, nullptr, static_cast<uint32_t>(s->inputRate),
                        static_cast<uint32_t>(s->encoderRate), s->count, encoderFrame * s->count, &need,
                        &outBlock) != 0 ||
        outBlock != encoderFrame * s->count || need <= 0 || need % s->count != 0)
      status = kMp4EncInit;
    s->frameNeed = need;
    converterDelay = static_cast<int32_t>(static_cast<int64_t>(GetResamplerDelay(s->inputConverter)) *
                                              s->inputRate / s->encoderRate);
  }
  if (status == kMp4EncOk && AacCoreOpen(&s->coreHandle, &s->core) != kAacCoreOk) status = kMp4EncInit;
  if (status == kMp4EncOk && s->userBytes) AacCoreSetUserData(s->coreHandle, s->userBytes, s->userCount);
  if (status == kMp4EncOk) {
    AacCoreInfo info;
    AacCoreGetInfo(s->coreHandle, &info);
    s->coreDelay = info.delay;
    if (he || heV2) {
      status = setSbrCoreDelay(s);
      if (status == kMp4EncOk && s->inputConverter)
        s->totalDelay = converterDelay +
                        static_cast<int32_t>(static_cast<int64_t>(s->totalDelay) * s->inputRate / s->encoderRate);
    } else {
      s->bandwidth = std::min(std::min(s->inputRate, s->encoderRate) / 2, static_cast<int32_t>(info.bandwidth));
      // At the input rate: the converter's delay and the core's.
      s->totalDelay = converterDelay +
                      static_cast<int32_t>(static_cast<int64_t>(info.delay) * s->inputRate / s->encoderRate);
    }
  }
  if (status == kMp4EncOk) status = buildAsc(s);
  if (status == kMp4EncOk) {
    s->inputSamplesPerFrame = s->inputConverter ? s->frameNeed : s->count * encoderFrame;
    s->frameNeed = s->inputSamplesPerFrame;
    // A converter asks for about an encoder frame's worth of input per run,
    // a little more on the first; the converted frame comes back into the
    // same buffer for the SBR encoders.
    s->bufferSamples = s->inputConverter
                           ? std::max(std::max(s->frameNeed, encoderFrame * s->count),
                                      static_cast<int32_t>((static_cast<int64_t>(encoderFrame) * s->inputRate /
                                                            s->encoderRate + 64) * s->count))
                           : s->inputSamplesPerFrame;
    s->input = static_cast<float*>(std::calloc(s->bufferSamples, sizeof(float)));
    s->scaled = static_cast<float*>(std::calloc(s->bufferSamples, sizeof(float)));
    if (!s->input || !s->scaled) status = kMp4EncMemory;
  }
  if (status != kMp4EncOk) {
    mp4EncClose(handle);
    if (inputSamplesPerFrame) *inputSamplesPerFrame = 0;
    return status;
  }
  s->initialised = 1;
  if (inputSamplesPerFrame) *inputSamplesPerFrame = s->inputSamplesPerFrame;
  return kMp4EncOk;
}

// The payload the SBR interface's ring holds for the core frame that is
// coded next, into the core's fill element.
static int takeSbrPayload(mp4EncInstance* s) {
  SbrPayload** slots = sbrIfcNextPayload(s->sbrIfc);
  if (!slots || !slots[0]) return kMp4EncFatal;
  return AacCoreSetSbrPayload(s->coreHandle, slots[0]->data, slots[0]->bits) == kAacCoreOk ? kMp4EncOk
                                                                                          : kMp4EncFatal;
}

// One HE-AAC frame from s->scaled (2048 full-rate frames): the SBR frame into
// the ring, the payload the ring gives for this core frame, then the
// converter's 1024 frames through the core.
static int encodeSbrFrame(mp4EncInstance* s, uint8_t* out, int32_t outSize, int32_t* bytes) {
  const int32_t ch = s->count;
  const size_t frameSamples = static_cast<size_t>(kSbrIfcFrameLength) * ch;
  if (sbrIfcEncodeFrame(s->sbrIfc, s->scaled, static_cast<int32_t>(frameSamples)) != 0) return kMp4EncFatal;
  if (takeSbrPayload(s) != kMp4EncOk) return kMp4EncFatal;
  // The converter takes what it asks for and gives one core frame.
  std::memcpy(s->fifo + s->fifoCount, s->scaled, frameSamples * sizeof(float));
  s->fifoCount += static_cast<int32_t>(frameSamples);
  if (s->fifoCount < s->converterNeed) return kMp4EncFatal;
  float* core = nullptr;
  int32_t made = 0, next = 0;
  const int32_t used = s->converterNeed;
  if (RunResampler(s->downsampler, used, s->fifo, &core, &made, &next) != 0 || made != 1024 * ch ||
      next <= 0 || next > static_cast<int32_t>(frameSamples) + 1)
    return kMp4EncFatal;
  s->fifoCount -= used;
  std::memmove(s->fifo, s->fifo + used, static_cast<size_t>(s->fifoCount) * sizeof(float));
  s->converterNeed = next;
  const int r = AacCoreEncodeFrame(s->coreHandle, core, made, out, outSize, bytes);
  return r == kAacCoreOk ? kMp4EncOk : kMp4EncFatal;
}

// One HE-AAC v2 frame from s->scaled (2048 stereo frames): the SBR frame with
// the stereo data into the ring, the half-rate downmix for the core, the
// payload the ring gives for this core frame, then the core.
static int encodePsFrame(mp4EncInstance* s, uint8_t* out, int32_t outSize, int32_t* bytes) {
  if (sbrIfcEncodeFrame(s->sbrIfc, s->scaled, 2 * kSbrIfcFrameLength) != 0) return kMp4EncFatal;
  const float* core = nullptr;
  int32_t count = 0;
  if (sbrIfcGetCoreInput(s->sbrIfc, &core, &count) != 0) return kMp4EncFatal;
  if (takeSbrPayload(s) != kMp4EncOk) return kMp4EncFatal;
  const int r = AacCoreEncodeFrame(s->coreHandle, core, count, out, outSize, bytes);
  return r == kAacCoreOk ? kMp4EncOk : kMp4EncFatal;
}

static int32_t profileLevel(const mp4EncInstance* s) {
  const int32_t r = s->coreRate, c = s->coded;
  int32_t base;
  switch (s->objectType) {
    case 2: case 17: case 129: case 132: base = 40; break;
    case 5: base = (s->config.sbrSignalling <= 1) ? 40 : 44; break;
    case 29: base = (s->config.sbrSignalling <= 1) ? 40 : 48; break;
    case 4: case 19: return (c <= 4 && r <= 48000) ? 1 : 2;
    default: return 4;
  }
  if (c < 3) return r <= 24000 ? base : (r <= 48000 ? base + 1 : 4);
  if (c < 6) return r <= 48000 ? base + 2 : (r <= 96000 ? base + 3 : 4);
  return 4;
}

int mp4EncSetTransport(mp4EncHandle s, int32_t transport, int32_t withCrc) {
  if (!s || s->self != s || transport < 0 || transport > 2 || (withCrc && transport != 2)) return kMp4EncBadParameter;
  if (s->initialised || s->coreHandle) return kMp4EncInit;
  s->core.transportType = transport;
  s->core.crcOption = withCrc ? 1 : 0;
  return kMp4EncOk;
}

int mp4EncSetChannelOrder(mp4EncHandle s, int32_t count, const int32_t* inputChannels) {
  if (!s || s->self != s || !inputChannels || count != s->count || count > 12) return kMp4EncBadParameter;
  uint32_t seen = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (inputChannels[i] < 0 || inputChannels[i] >= count || ((seen >> inputChannels[i]) & 1u)) return kMp4EncBadParameter;
    seen |= 1u << inputChannels[i];
  }
  s->reordered = 0;
  for (int32_t i = 0; i < count; ++i) {
    s->channelOrder[i] = inputChannels[i];
    if (inputChannels[i] != i) s->reordered = 1;
  }
  return kMp4EncOk;
}

int mp4EncReconfigure(mp4EncHandle s, const int32_t* record) {
  if (!s || s->self != s || !record) return kMp4EncBadParameter;
  const mp4EncConfig cfg = {record[0], record[7], record[8], record[5], record[1], record[22], record[10]};
  if (!s->initialised) {
    // Not yet running: configured anew, keeping the transport and order.
    const int32_t transport = s->core.transportType, crc = s->core.crcOption;
    const int r = configure(s, &cfg);
    s->core.transportType = transport;
    s->core.crcOption = crc;
    return r;
  }
  // Running: only the bitrate of an AAC-LC stream changes, at the next frame,
  // when its rate row keeps the encoder rate.
  const mp4EncConfig& old = s->config;
  if (cfg.objectType != old.objectType || cfg.channelMode != old.channelMode || cfg.sampleRate != old.sampleRate ||
      cfg.erOption != old.erOption || cfg.sbrSignalling != old.sbrSignalling || cfg.qualityMode < 0 ||
      cfg.qualityMode > 3)
    return kMp4EncInit;
  if (isSbrType(s->objectType)) return kMp4EncInit;
  const int32_t quality = cfg.qualityMode >= 2 ? 2 : cfg.qualityMode;
  const int32_t bitRate = cfg.bitRate ? cfg.bitRate : AacCoreMaxBitrate(quality, s->coded, s->variant);
  int32_t lo, hi, minRate, defRate, maxRate;
  if (mp4EncBitrateRange(s->channelMode, s->objectType, &lo, &hi) != kMp4EncOk || bitRate < lo || bitRate > hi ||
      mp4EncRateRow(bitRate / s->coded, s->channelMode, s->objectType, &minRate, &defRate, &maxRate) != kMp4EncOk ||
      mp4EncSelectRate(cfg.sampleRate, minRate, defRate, maxRate, cfg.qualityMode) != s->encoderRate)
    return kMp4EncInit;
  if (AacCoreSetBitrate(s->coreHandle, bitRate) != kAacCoreOk) return kMp4EncInit;
  s->bitRate = bitRate;
  s->config.bitRate = cfg.bitRate;
  s->config.qualityMode = cfg.qualityMode;
  return kMp4EncOk;
}

int mp4EncSetUserData(mp4EncHandle s, const uint8_t* bytes, int32_t* count) {
  if (!s || s->self != s || !bytes || !count || *count < 0) return kMp4EncBadParameter;
  s->userBytes = bytes;
  s->userCount = count;
  if (s->coreHandle && AacCoreSetUserData(s->coreHandle, bytes, count) != kAacCoreOk) return kMp4EncFatal;
  return kMp4EncOk;
}

int mp4EncGetInfo(mp4EncHandle s, mp4EncInfo* info) {
  if (!s || !info || s->self != s) return kMp4EncBadParameter;
  AacCoreInfo core;
  if (!s->coreHandle || AacCoreGetInfo(s->coreHandle, &core) != kAacCoreOk) return kMp4EncInit;
  std::memset(info, 0, sizeof(*info));
  info->bandwidth = static_cast<float>(s->bandwidth);
  info->totalDelay = s->totalDelay;
  info->maxBytesPerFrame = s->coded * 768;
  info->bitRate = s->bitRate;
  info->maxBitsPerFrame = 6144 * s->count - ((s->channelMode == 6 || s->channelMode == 7 || s->channelMode == 64) ? 6144 : 0);
  const int32_t frameLength = isSbrType(s->objectType) ? 2048 : 1024;
  // The largest frame at the frame rate, rounded up: no second of the stream
  // can carry more.
  info->maxBitRate = static_cast<int32_t>(
      (static_cast<int64_t>(info->maxBitsPerFrame) * s->encoderRate + frameLength - 1) / frameLength);
  info->sampleRate = s->encoderRate;
  info->frameLength = frameLength;
  info->ancillaryBytes = core.ancillaryBytes;
  info->asc = &s->asc;
  info->profileLevel = profileLevel(s);
  std::strcpy(info->version, "2.1.4");
  std::memcpy(info->buildDate, "Jun 12 2007", 12);
  return kMp4EncOk;
}

int mp4EncEncode(mp4EncHandle s, const float* input, int32_t sampleCount, int32_t* consumed,
                 int32_t* nextFrameSamples, uint8_t* out, int32_t outSize, int32_t* outBytes, mp4EncUnits** units) {
  if (units) *units = s ? &s->units : nullptr;
  if (consumed) *consumed = 0;
  if (outBytes) *outBytes = 0;
  if (!s || s->self != s || !s->initialised) return kMp4EncBadParameter;
  s->units.count = 0;
  if (sampleCount < 0 || (sampleCount > 0 && !input) || (!out && outSize > 0) || outSize < 0) return kMp4EncBadParameter;
  int32_t frame = s->frameNeed;
  int32_t used = 0, written = 0;
  auto runFrame = [&]() -> int {
    int32_t bytes = 0;
    // The core works in the scale of 16-bit sample values.
    // Non-finite input is coded as silence, and values far beyond full
    // scale are held at eight times it.
    // The stream's channel order is taken from the input's here.
    const int32_t ch = s->count;
    for (int32_t i = 0; i < frame; ++i) {
      const float v = s->reordered ? s->input[i - i % ch + s->channelOrder[i % ch]] : s->input[i];
      s->scaled[i] = std::isfinite(v) ? std::max(-8.0f, std::min(8.0f, v)) * 32768.0f : 0.0f;
    }
    s->held = 0;
    if (s->inputConverter && s->sbrIfc) {
      // The SBR encoders take their frame at the encoder rate.
      float* converted = nullptr;
      int32_t made = 0, next = 0;
      if (RunResampler(s->inputConverter, frame, s->scaled, &converted, &made, &next) != 0 ||
          made != kSbrIfcFrameLength * ch || next <= 0 || next > s->bufferSamples || next % ch != 0)
        return kMp4EncFatal;
      s->frameNeed = next;
      std::memmove(s->scaled, converted, sizeof(float) * static_cast<size_t>(made));
    }
    if (s->ps) {
      if (encodePsFrame(s, out ? out + written : nullptr, outSize - written, &bytes) != kMp4EncOk) return kMp4EncFatal;
    } else if (s->sbrIfc) {
      if (encodeSbrFrame(s, out ? out + written : nullptr, outSize - written, &bytes) != kMp4EncOk) return kMp4EncFatal;
    } else if (s->inputConverter) {
      float* core = nullptr;
      int32_t made = 0, next = 0;
      if (RunResampler(s->inputConverter, frame, s->scaled, &core, &made, &next) != 0 || made != 1024 * ch ||
          next <= 0 || next > s->bufferSamples || next % ch != 0)
        return kMp4EncFatal;
      s->frameNeed = next;
      const int r = AacCoreEncodeFrame(s->coreHandle, core, made, out ? out + written : nullptr, outSize - written,
                                       &bytes);
      if (r != kAacCoreOk) return kMp4EncFatal;
    } else {
      const int r = AacCoreEncodeFrame(s->coreHandle, s->scaled, frame, out ? out + written : nullptr,
                                       outSize - written, &bytes);
      if (r != kAacCoreOk) return kMp4EncFatal;
    }
    s->unitSizes[s->units.count++] = bytes;
    written += bytes;
    return kMp4EncOk;
  };
  int status = kMp4EncOk;
  if (sampleCount > 0) {
    while (used < sampleCount && s->units.count < kMp4EncMaxUnits) {
      const int32_t take = std::min(sampleCount - used, frame - s->held);
      std::memcpy(s->input + s->held, input + used, sizeof(float) * take);
      s->held += take;
      used += take;
      if (s->held == frame) {
        status = runFrame();
        frame = s->frameNeed;
        if (status != kMp4EncOk) break;
      }
    }
  } else {
    // Flush: the delay's worth of zeros behind the input, then the partly
    // filled last frame padded with zeros; one frame per call.
    if (!s->flushStarted) {
      s->flushStarted = 1;
      s->flushLeft = s->totalDelay * s->count;
    }
    if (s->flushLeft > 0 || s->held > 0) {
      const int32_t take = std::min(s->flushLeft, frame - s->held);
      std::memset(s->input + s->held, 0, sizeof(float) * (frame - s->held));
      s->flushLeft -= take;
      used = take;
      s->held = frame;
      status = runFrame();
      frame = s->frameNeed;
    }
  }
  if (consumed) *consumed = used;
  if (outBytes) *outBytes = written;
  if (nextFrameSamples) *nextFrameSamples = frame - s->held;
  return status;
}

int mp4EncClose(mp4EncHandle* handle) {
  if (!handle || !*handle) return kMp4EncOk;
  mp4EncInstance* s = *handle;
  AacCoreClose(s->coreHandle);
  sbrIfcDestroy(s->sbrIfc);
  DeleteResampler(&s->downsampler);
  DeleteResampler(&s->inputConverter);
  std::free(s->fifo);
  std::free(s->input);
  std::free(s->scaled);
  s->self = nullptr;
  std::free(s);
  *handle = nullptr;
  return kMp4EncOk;
}

const char* mp4EncGetErrorText(int code) {
  switch (code) {
    case 0: return "Success";
    case 1: return "Unknown error";
    case 2: return "Bad input parameter error";
    case 3: return "Memory error";
    case 4: return "Initialization error";
    case 5: return "Fatal error";
    default: return code < 0 ? "Unknown error" : "Illegal error text";
  }
}

int mp4EncGetSbrRange(mp4EncHandle s, int32_t* crossoverHz, int32_t* stopHz) {
  if (!s || s->self != s) return kMp4EncBadParameter;
  SbrEncoderSettings set = {};
  sbrIfcGetSettings(s->sbrIfc, &set);
  if (crossoverHz) *crossoverHz = set.crossoverHz;
  if (stopHz) *stopHz = set.stopHz;
  return kMp4EncOk;
}
