// The AAC-LC core encoder's frame driver.
#include "aacenc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "aac_writer.h"
#include "adj_thr.h"
#include "audiospecificconfig.h"
#include "bit_buf.h"
#include "psy.h"
#include "qc.h"

namespace {

struct Element {
  int32_t type;          // kAacElementSce or kAacElementCpe
  int32_t tag;
  int32_t firstChannel;
  int32_t numChannels;
};

}  // namespace

struct AacCore {
  AacCoreConfig config;
  int32_t numElements;
  Element elements[15];
  PsyState* psy;
  PsyOutChannel* psyOut[2];  // two records per channel, used alternately
  PsyOutElement* psyOutElement[2];
  AdjThrState* adjThr;
  bit_buf* writer;
  int32_t samplingRateIndex;
  int32_t bitRate;
  int32_t bandwidth;
  int32_t averageBits;
  int32_t maxBits;
  int32_t bitresMax;
  int32_t bitresLevel;
  int32_t maxBytesPerFrame;
  int32_t delay;
  int32_t toggle;
  uint8_t sbrPayload[272];
  int32_t sbrBits;   // bits of the SBR payload of the next frame (0: none)
};

int32_t AacCoreMaxBitrate(int32_t qualityMode, int32_t channels, int32_t variant) {
  (void)variant;
  static const int32_t kPerChannel[3] = {32000, 48000, 64000};
  if (qualityMode < 0 || qualityMode > 2 || channels < 1) return 0;
  return kPerChannel[qualityMode] * channels;
}

int32_t AacCoreBandwidth(int32_t bitRatePerChannel, int32_t sampleRate) {
  // Bits per line decide how wide a band the coder can keep clean. A frame
  // at a lower sample rate lasts longer and its lines lie closer together,
  // so a bandwidth in Hz costs about the same bitrate at any rate.
  static const struct {
    int32_t below;
    int32_t hz;
  } kRows[] = {{12000, 5000},  {16000, 6500},  {20000, 8000},  {24000, 9500},  {28000, 10500},
               {32000, 11000}, {40000, 11500}, {48000, 15000}, {56000, 16000}, {64000, 16500},
               {80000, 17000}, {96000, 18000}, {112000, 19000}, {128000, 19500}, {0x7fffffff, 20000}};
  int32_t hz = 20000;
  for (const auto& r : kRows) {
    if (bitRatePerChannel < r.below) {
      hz = r.hz;
      break;
    }
  }
  return std::min(hz, sampleRate / 2);
}

static bool buildElements(AacCore* c) {
  const int32_t ch = c->config.nChannels;
  const int32_t variant = c->config.channelVariant;
  int32_t types[12];
  int32_t n = 0;
  if (variant == 1) {
    for (int32_t i = 0; i < ch; ++i) types[n++] = kAacElementSce;
  } else if (variant == 2) {
    if (ch % 2) return false;
    for (int32_t i = 0; i < ch / 2; ++i) types[n++] = kAacElementCpe;
  } else {
    // Configurations 1-5: SCE, CPE, SCE+CPE, SCE+CPE+SCE, SCE+CPE+CPE. The
    // low-frequency element of configurations 6 and 7 is not coded.
    switch (ch) {
      case 1: types[n++] = kAacElementSce; break;
      case 2: types[n++] = kAacElementCpe; break;
      case 3: types[n++] = kAacElementSce; types[n++] = kAacElementCpe; break;
      case 4: types[n++] = kAacElementSce; types[n++] = kAacElementCpe; types[n++] = kAacElementSce; break;
      case 5: types[n++] = kAacElementSce; types[n++] = kAacElementCpe; types[n++] = kAacElementCpe; break;
      default: return false;
    }
  }
  int32_t channel = 0, sceTag = 0, cpeTag = 0;
  for (int32_t i = 0; i < n; ++i) {
    Element& e = c->elements[i];
    e.type = types[i];
    e.numChannels = types[i] == kAacElementCpe ? 2 : 1;
    e.tag = types[i] == kAacElementCpe ? cpeTag++ : sceTag++;
    e.firstChannel = channel;
    channel += e.numChannels;
  }
  c->numElements = n;
  return true;
}

int AacCoreOpen(AacCore** out, const AacCoreConfig* cfg) {
  if (!out) return kAacCoreFailed;
  *out = nullptr;
  if (!cfg) return kAacCoreFailed;
  const int32_t ch = cfg->nChannels;
  if (ch < 1 || ch > 12) return kAacCoreFailed;
  if (cfg->bitRate != 0 && (cfg->bitRate / ch < 8000 || cfg->bitRate / ch > 160000)) return kAacCoreFailed;
  if (cfg->bitRate == 0 && (cfg->qualityMode < 0 || cfg->qualityMode > 2)) return kAacCoreFailed;
  // A nominal sampling frequency other than 7350 Hz (index 12).
  const int32_t rateIndex = findSamplingRateIndex(cfg->sampleRate);
  if (rateIndex < 0 || rateIndex > 11) return kAacCoreFailed;
  if (static_cast<float>(cfg->bitRate) > static_cast<float>(cfg->sampleRate) * 5.2734375f * ch) return kAacCoreFailed;
  // Raw data blocks only: the MP4 file carries its configuration elsewhere.
  // Long-term prediction and the error-resilient syntax are not coded.
  if (cfg->transportType != 0 || cfg->ltpFlag || cfg->erFlag || cfg->channelMapping) return kAacCoreFailed;
  AacCore* c = static_cast<AacCore*>(std::calloc(1, sizeof(AacCore)));
  if (!c) return kAacCoreFailed;
  c->config = *cfg;
  if (!buildElements(c)) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  int32_t bitRate = cfg->bitRate ? cfg->bitRate : AacCoreMaxBitrate(cfg->qualityMode, ch, cfg->channelVariant);
  if (bitRate - cfg->reservedRate < 0) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  bitRate = std::max(0, bitRate - cfg->reservedRate);
  c->bitRate = bitRate;
  // A lone channel lacks the mid/side saving of a pair: it is given the
  // bandwidth of a somewhat lower rate. An explicit bandwidth overrides the rule.
  const int32_t perChannel = bitRate / ch;
  c->bandwidth = cfg->bandwidth > 0
                     ? std::min(cfg->bandwidth, cfg->sampleRate / 2)
                     : AacCoreBandwidth(ch == 1 ? perChannel * 3 / 4 : perChannel, cfg->sampleRate);
  c->samplingRateIndex = findSamplingRateIndex(cfg->sampleRate);
  if (psyInit(&c->psy, bitRate, cfg->sampleRate, c->bandwidth, ch) != 0) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  for (int t = 0; t < 2; ++t) {
    c->psyOut[t] = static_cast<PsyOutChannel*>(std::calloc(ch, sizeof(PsyOutChannel)));
    c->psyOutElement[t] = static_cast<PsyOutElement*>(std::calloc(c->numElements, sizeof(PsyOutElement)));
    if (!c->psyOut[t] || !c->psyOutElement[t]) {
      AacCoreClose(c);
      return kAacCoreFailed;
    }
    // The first frame codes this record: an empty long frame.
    for (int32_t i = 0; i < ch; ++i) {
      PsyOutChannel* o = &c->psyOut[t][i];
      o->numGroups = 1;
      o->groupLen[0] = 1;
      o->windowShape = c->psy->channels[i]->windowShape;
      o->bandsPerGroup = c->psy->longConfig.numBands;
      o->bandOffsets = c->psy->longConfig.bandOffsets;
    }
  }
  c->averageBits = static_cast<int32_t>(static_cast<int64_t>(bitRate) * 1024 / cfg->sampleRate);
  c->maxBits = 6144 * ch;
  c->bitresMax = std::max(0, (c->maxBits - c->averageBits) & ~7);
  c->bitresLevel = c->bitresMax;
  CodecError* e = adjThrNew(&c->adjThr, c->numElements);
  if (e) {
    deleteError(e);
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  int32_t rates[15];
  for (int32_t i = 0; i < c->numElements; ++i) rates[i] = bitRate / ch;
  adjThrInit(c->adjThr, bitsToPe(static_cast<float>(c->averageBits)), rates, c->numElements);
  c->writer = CreateBitBuffer(c->maxBits + 8 * 1024);
  if (!c->writer) {
    AacCoreClose(c);
    return kAacCoreWriterFailed;
  }
  c->maxBytesPerFrame = ch * 6144 / 8;
  c->delay = kAacCoreDelay;
  c->toggle = 0;
  *out = c;
  return kAacCoreOk;
}

void AacCoreClose(AacCore* c) {
  if (!c) return;
  adjThrDelete(c->adjThr);
  for (int t = 0; t < 2; ++t) {
    std::free(c->psyOut[t]);
    std::free(c->psyOutElement[t]);
  }
  psyDelete(&c->psy);
  if (c->writer) DeleteBitBuffer(c->writer);
  std::free(c);
}

int AacCoreGetInfo(const AacCore* c, AacCoreInfo* info) {
  if (!c || !info) return kAacCoreFailed;
  std::memset(info, 0, sizeof(*info));
  info->bandwidth = static_cast<float>(c->bandwidth);
  info->delay = c->delay;
  info->maxBytesPerFrame = c->maxBytesPerFrame;
  info->ancillaryBytes = 0;
  std::strcpy(info->version, "2.1");
  std::strcpy(info->buildDate, "Oct  4 2006");
  return kAacCoreOk;
}

int AacCoreSetSbrPayload(AacCore* c, const uint8_t* payload, int32_t bits) {
  if (!c || bits < 0 || (bits > 0 && !payload)) return kAacCoreFailed;
  if (bits > 0 && (aacSbrFillElementBits(bits) < 0 || bits > 8 * static_cast<int32_t>(sizeof c->sbrPayload))) {
    c->sbrBits = 0;
    return kAacCoreFailed;
  }
  if (bits > 0) std::memcpy(c->sbrPayload, payload, static_cast<size_t>((bits + 7) / 8));
  c->sbrBits = bits;
  return kAacCoreOk;
}

int AacCoreEncodeFrame(AacCore* c, const float* input, int32_t sampleCount, uint8_t* out, int32_t outSize,
                       int32_t* outBytes) {
  if (!c || !outBytes) return kAacCoreFailed;
  *outBytes = 0;
  const int32_t ch = c->config.nChannels;
  if (sampleCount != ch * 1024 || !input) return kAacCoreWrongLength;
  // Psychoacoustics of the new frame into the current record.
  PsyOutChannel* current = c->psyOut[c->toggle];
  PsyOutElement* currentElement = c->psyOutElement[c->toggle];
  for (int32_t i = 0; i < ch; ++i) psyInput(c->psy->channels[i], input + i, ch, 1.0f);
  for (int32_t e = 0; e < c->numElements; ++e) {
    const Element& el = c->elements[e];
    PsyData* data[2] = {c->psy->channels[el.firstChannel], el.numChannels == 2 ? c->psy->channels[el.firstChannel + 1] : nullptr};
    PsyOutChannel* outs[2] = {&current[el.firstChannel], el.numChannels == 2 ? &current[el.firstChannel + 1] : nullptr};
    psyMain(c->psy, el.numChannels, data, outs, &currentElement[e]);
  }
  // Quantise and code the previous frame's record.
  PsyOutChannel* previous = c->psyOut[!c->toggle];
  PsyOutElement* previousElement = c->psyOutElement[!c->toggle];
  bit_buf* b = c->writer;
  const int32_t endBits = 3 + 7;  // END element and the byte alignment at most
  // The SBR side information rides in the first element's fill element and
  // comes off this frame's budget and off the elements' mean shares.
  const int32_t sbrFillBits = c->sbrBits > 0 ? aacSbrFillElementBits(c->sbrBits) : 0;
  const int32_t coreAverage = std::max(0, c->averageBits - sbrFillBits);
  int32_t frameBudget = std::min(c->averageBits + c->bitresLevel, c->maxBits) - endBits - sbrFillBits;
  int32_t used = 0;
  int status = kAacCoreOk;
  for (int32_t e = 0; e < c->numElements && status == kAacCoreOk; ++e) {
    const Element& el = c->elements[e];
    PsyOutChannel* outs[2] = {&previous[el.firstChannel], el.numChannels == 2 ? &previous[el.firstChannel + 1] : nullptr};
    const int32_t share = coreAverage * el.numChannels / ch;
    const int32_t shareRes = c->bitresLevel * el.numChannels / ch;
    const int32_t shareMaxRes = c->bitresMax * el.numChannels / ch;
    AdjThrBands bands;
    adjustThresholds(c->adjThr, e, outs, el.numChannels, &previousElement[e], share, shareRes, shareMaxRes, 4.0f,
                     &bands);
    // The remaining elements keep at least their mean share.
    int32_t later = 0;
    for (int32_t k = e + 1; k < c->numElements; ++k) later += coreAverage * c->elements[k].numChannels / ch;
    const int32_t maxBits = std::max(0, frameBudget - used - later);
    // The next frame's PE (its analysis is done) lets a hard frame leave
    // reservoir bits to a hard successor.
    float nextPe = 0.0f;
    for (int32_t k = 0; k < el.numChannels; ++k) {
      float bandPe[kPsyBands], lines[kPsyBands], constPart[kPsyBands];
      nextPe += calcChannelPe(&current[el.firstChannel + k], current[el.firstChannel + k].threshold, bandPe, lines, constPart);
    }
    int32_t target = bitresFrameBits(c->adjThr, e, bands.peBefore, nextPe, bands, shareRes, shareMaxRes);
    target = std::min(target, maxBits);
    QcElement q;
    CodecError* err = qcEncodeElement(outs, el.numChannels, &previousElement[e], c->samplingRateIndex, target,
                                      maxBits, &q);
    if (err) {
      deleteError(err);
      status = kAacCoreFailed;
      break;
    }
    const int32_t bits = qcWriteElement(b, el.tag, &q);
    if (bits < 0) {
      status = kAacCoreFailed;
      break;
    }
    used += bits;
    if (e == 0 && sbrFillBits > 0) used += aacWriteSbrFillElement(b, c->sbrPayload, c->sbrBits);
  }
  c->sbrBits = 0;
  if (status != kAacCoreOk) {
    // Drop what was written of the unit.
    const int32_t avail = GetBitsAvail(b);
    if (avail > 0) SeekReadPosition(b, avail);
    c->toggle = !c->toggle;
    return status;
  }
  // Reservoir: bits above its size are written as fill elements.
  int32_t level = c->bitresLevel + c->averageBits - (used + 3);
  for (;;) {
    const int32_t excess = level - c->bitresMax;
    if (excess < 7) break;
    // A fill element of n bytes takes 7 bits (8 more from 15 bytes on) + 8n.
    int32_t count = (excess - 7) / 8;
    if (count >= 15) count = std::min(269, (excess - 15) / 8);
    const int32_t fillBits = aacWriteFillElement(b, count);
    if (fillBits <= 0) break;
    used += fillBits;
    level -= fillBits;
  }
  used += aacWriteEndElement(b, used);
  c->bitresLevel = std::min(c->bitresMax, c->bitresLevel + c->averageBits - used);
  c->toggle = !c->toggle;
  const int32_t bytes = (GetBitsAvail(b) + 7) / 8;
  if (GetBitsAvail(b) > c->maxBits) {
    SeekReadPosition(b, GetBitsAvail(b));
    return kAacCoreFailed;
  }
  if (bytes > outSize || !out) {
    SeekReadPosition(b, GetBitsAvail(b));
    return kAacCoreOutputTooSmall;
  }
  ReadBytes(b, out, bytes);
  *outBytes = bytes;
  return kAacCoreOk;
}
