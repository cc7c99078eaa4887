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
#include "crc.h"
#include "ltp.h"
#include "prconfig.h"
#include "qc.h"
#include "transport.h"

namespace {

struct Element {
  int32_t type;          // kAacElementSce, kAacElementCpe or kAacElementLfe
  int32_t tag;
  int32_t firstChannel;
  int32_t numChannels;
  int32_t weight;        // share of the frame's bits, in quarter channels
};

// Bit shares: a full channel counts four quarters, the low-frequency channel
// (a few bands of long windows) one.
const int32_t kChannelWeight = 4;
const int32_t kLfeWeight = 1;
// The low-frequency channel codes the bands below this frequency.
const int32_t kLfeBandwidthHz = 240;

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
  int32_t totalWeight;
  int32_t channelConfiguration;  // 1-7, or 0 when a PCE describes the elements
  PceRecord* pce;     // for the ADIF header and the PCE of unnumbered layouts
  crc* crcRegister;   // ADTS CRC, when protected
  int32_t framesWritten;
  int32_t lfeBands;   // long bands the low-frequency channel codes
  uint8_t sbrPayload[272];
  int32_t sbrBits;   // bits of the SBR payload of the next frame (0: none)
  int32_t ancillaryBytes;        // per frame
  const uint8_t* userBytes;      // the caller's ancillary data
  int32_t* userCount;            // bytes of it not yet sent
  int32_t userSent;              // bytes of it sent
  LtpChannel* ltp;               // per channel, with long-term prediction
  int32_t erSyntax;              // the error-resilient block: channel elements only
};

namespace {

// Largest payload of one data stream element.
const int32_t kDseMaxBytes = 255 + 255;

int32_t dseBits(int32_t bytes) { return bytes <= 0 ? 0 : 3 + 4 + 1 + 8 + (bytes >= 255 ? 8 : 0) + 8 * bytes; }

// A data stream element (tag 0, no byte alignment) carrying the bytes.
int32_t writeDse(bit_buf* b, const uint8_t* bytes, int32_t n) {
  int32_t bits = WriteBits(b, 4, 3);
  bits += WriteBits(b, 0, 4);
  bits += WriteBits(b, 0, 1);
  if (n >= 255) {
    bits += WriteBits(b, 255, 8);
    bits += WriteBits(b, static_cast<uint32_t>(n - 255), 8);
  } else {
    bits += WriteBits(b, static_cast<uint32_t>(n), 8);
  }
  for (int32_t i = 0; i < n; ++i) bits += WriteBits(b, bytes[i], 8);
  return bits;
}

// The ancillary share of a frame: bandwidth b (bit/s) of the stream's time.
// -1 gives a twentieth of the sample rate. -1 when b cannot be carried.
int32_t ancillaryBytesPerFrame(int32_t option, int32_t sampleRate) {
  int32_t b = option;
  if (option == -1) b = std::min(sampleRate / 20, 22499);
  if (b < 0 || b >= 22500 || b > sampleRate / 2) return -1;
  return static_cast<int32_t>(static_cast<int64_t>(b) * 1024 / sampleRate / 8);
}

// M/S in band b of a pair's long window.
bool msBand(const PsyOutElement* pe, int32_t b) {
  return pe->msMaskPresent == 2 || (pe->msMaskPresent == 1 && pe->msUsed[0][b]);
}

// Bits of the prediction data of a channel that uses it (its present flag
// is counted with the element).
int32_t ltpSideBits(int32_t maxSfb) { return 11 + 3 + std::min(maxSfb, static_cast<int32_t>(kAacLtpLongBands)); }

}  // namespace

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

// The low-frequency channel's coded bands: nothing above its bandwidth.
static void limitLfe(PsyOutChannel* o, int32_t bands) {
  if (o->maxSfb <= bands) return;
  o->maxSfb = bands;
  for (int32_t k = o->bandOffsets[bands]; k < 1024; ++k) o->spectrum[k] = 0.0f;
  for (int32_t b = bands; b < o->bandsPerGroup; ++b) {
    o->energy[b] = 0.0f;
    o->spreadEnergy[b] = 0.0f;
  }
}

static bool buildElements(AacCore* c) {
  const int32_t ch = c->config.nChannels;
  const int32_t variant = c->config.channelVariant;
  int32_t types[12];
  int32_t n = 0;
  c->channelConfiguration = 0;
  if (variant == 1) {
    for (int32_t i = 0; i < ch; ++i) types[n++] = kAacElementSce;
  } else if (variant == 2) {
    if (ch % 2) return false;
    for (int32_t i = 0; i < ch / 2; ++i) types[n++] = kAacElementCpe;
  } else {
    // Channel configurations 1-7: centre first, then the pairs front to
    // back, the low-frequency element last (6 channels: configuration 6,
    // 8 channels: configuration 7).
    static const int32_t kFirst[9] = {0, 1, 0, 1, 1, 1, 1, 0, 1};  // a centre SCE
    static const int32_t kPairs[9] = {0, 0, 1, 1, 1, 2, 2, 0, 3};
    static const int32_t kTrailingSce[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    static const int32_t kLfe[9] = {0, 0, 0, 0, 0, 0, 1, 0, 1};
    static const int32_t kConfiguration[9] = {0, 1, 2, 3, 4, 5, 6, 0, 7};
    if (ch < 1 || ch > 8 || kConfiguration[ch] == 0) return false;
    if (kFirst[ch]) types[n++] = kAacElementSce;
    for (int32_t i = 0; i < kPairs[ch]; ++i) types[n++] = kAacElementCpe;
    if (kTrailingSce[ch]) types[n++] = kAacElementSce;
    if (kLfe[ch]) types[n++] = kAacElementLfe;
    c->channelConfiguration = kConfiguration[ch];
  }
  int32_t channel = 0, sceTag = 0, cpeTag = 0, lfeTag = 0;
  c->totalWeight = 0;
  for (int32_t i = 0; i < n; ++i) {
    Element& e = c->elements[i];
    e.type = types[i];
    e.numChannels = types[i] == kAacElementCpe ? 2 : 1;
    e.tag = types[i] == kAacElementCpe ? cpeTag++ : (types[i] == kAacElementLfe ? lfeTag++ : sceTag++);
    e.firstChannel = channel;
    e.weight = types[i] == kAacElementLfe ? kLfeWeight : kChannelWeight * e.numChannels;
    c->totalWeight += e.weight;
    channel += e.numChannels;
  }
  c->numElements = n;
  return true;
}

// Long-term prediction of an element's long-window channels: per channel the
// lag and gain that best predict its block from the reconstructed past, the
// predicted spectrum, and the bands (below 40) where subtracting it leaves
// less than 70% of the band's energy. A channel uses the prediction when
// those bands keep less than half their energy and hold a tenth of the
// channel's. The bands it uses carry the difference (M/S bands are split,
// predicted per channel and mixed again); their energies follow. Returns
// the side bits the element's prediction data add.
static int32_t ltpApplyElement(AacCore* c, const Element& el, PsyOutChannel* const* outs, const PsyOutElement* pe,
                               AacLtp* ltps) {
  std::memset(ltps, 0, sizeof(AacLtp) * 2);
  const int32_t n = el.numChannels;
  if (el.type == kAacElementLfe || outs[0]->windowSequence == kEightShortSequence) return 0;
  const PsyConfiguration& lc = c->psy->longConfig;
  const uint16_t* offsets = lc.bandOffsets;
  const int32_t maxSfb = outs[0]->maxSfb;
  float sig[2][1024];
  for (int32_t k = 0; k < n; ++k) std::memcpy(sig[k], outs[k]->spectrum, sizeof(sig[k]));
  const bool pair = n == 2;
  if (pair) {
    for (int32_t b = 0; b < std::min(maxSfb, outs[1]->maxSfb); ++b) {
      if (!msBand(pe, b)) continue;
      for (int32_t i = offsets[b]; i < offsets[b + 1]; ++i) {
        const float m = sig[0][i], d = sig[1][i];
        sig[0][i] = m + d;
        sig[1][i] = m - d;
      }
    }
  }
  int32_t bits = 0;
  bool any = false;
  for (int32_t k = 0; k < n; ++k) {
    PsyOutChannel* o = outs[k];
    LtpChannel& ch = c->ltp[el.firstChannel + k];
    int32_t lag = 0;
    float gain = 0.0f;
    if (!ltpFindLag(ch.block, ch.state, &lag, &gain)) continue;
    const int32_t coef = ltpCoefficientIndex(gain);
    ltpPredict(c->psy->transform, ch.state, lag, coef, o->windowSequence, o->windowShape, ch.previousShape, &lc.tns,
               o->tns.present ? &o->tns.window[0] : nullptr, o->maxSfb, ch.prediction);
    const int32_t bands = std::min(o->maxSfb, static_cast<int32_t>(kAacLtpLongBands));
    double total = 0.0, before = 0.0, after = 0.0;
    AacLtp& l = ltps[k];
    for (int32_t b = 0; b < o->maxSfb; ++b) {
      double eo = 0.0, er = 0.0;
      for (int32_t i = offsets[b]; i < offsets[b + 1]; ++i) {
        const double d = double(sig[k][i]) - ch.prediction[i];
        eo += double(sig[k][i]) * sig[k][i];
        er += d * d;
      }
      total += eo;
      if (b < bands && er < 0.7 * eo) {
        l.used[b] = 1;
        before += eo;
        after += er;
      }
    }
    if (before <= 0.0 || after >= 0.5 * before || before < 0.1 * total) {
      std::memset(&l, 0, sizeof(l));
      continue;
    }
    l.present = 1;
    l.lag = lag;
    l.coef = coef;
    for (int32_t b = 0; b < bands; ++b)
      if (l.used[b])
        for (int32_t i = offsets[b]; i < offsets[b + 1]; ++i) sig[k][i] -= ch.prediction[i];
    bits += ltpSideBits(o->maxSfb);
    any = true;
  }
  if (!any) return 0;
  // ltp_data_present of each channel stream.
  bits += n;
  if (pair) {
    for (int32_t b = 0; b < std::min(maxSfb, outs[1]->maxSfb); ++b) {
      if (!msBand(pe, b)) continue;
      for (int32_t i = offsets[b]; i < offsets[b + 1]; ++i) {
        const float l = sig[0][i], r = sig[1][i];
        sig[0][i] = 0.5f * (l + r);
        sig[1][i] = 0.5f * (l - r);
      }
    }
  }
  for (int32_t k = 0; k < n; ++k) {
    PsyOutChannel* o = outs[k];
    for (int32_t b = 0; b < o->maxSfb; ++b) {
      double e = 0.0;
      for (int32_t i = offsets[b]; i < offsets[b + 1]; ++i) e += double(sig[k][i]) * sig[k][i];
      const float old = o->energy[b];
      o->energy[b] = static_cast<float>(e);
      o->spreadEnergy[b] = old > 0.0f ? o->spreadEnergy[b] * static_cast<float>(e / old) : 0.0f;
    }
    std::memcpy(o->spectrum, sig[k], sizeof(sig[k]));
  }
  return bits;
}

// The decoder's reconstruction of a coded element, into the prediction
// states of its channels: dequantisation, M/S, the prediction of the bands
// that use it, TNS synthesis, inverse transform and overlap-add.
static void ltpReconstructElement(AacCore* c, const Element& el, const QcElement& q) {
  if (el.type == kAacElementLfe) return;
  float spec[2][1024];
  const int32_t n = el.numChannels;
  for (int32_t k = 0; k < n; ++k) ltpDequantise(&q.ics[k], spec[k]);
  const AacIcs& first = q.ics[0];
  const bool isShort = first.windowSequence == kEightShortSequence;
  const PsyConfiguration& config = isShort ? c->psy->shortConfig : c->psy->longConfig;
  if (n == 2 && q.msMaskPresent) {
    int32_t window = 0;
    for (int32_t g = 0; g < first.numWindowGroups; ++g) {
      for (int32_t b = 0; b < std::min(first.maxSfb, q.ics[1].maxSfb); ++b) {
        if (q.msMaskPresent == 1 && !q.msUsed[g][b]) continue;
        for (int32_t w = window; w < window + first.windowGroupLength[g]; ++w) {
          for (int32_t i = config.bandOffsets[b]; i < config.bandOffsets[b + 1]; ++i) {
            const int32_t line = (isShort ? 128 * w : 0) + i;
            const float m = spec[0][line], d = spec[1][line];
            spec[0][line] = m + d;
            spec[1][line] = m - d;
          }
        }
      }
      window += isShort ? first.windowGroupLength[g] : 1;
    }
  }
  for (int32_t k = 0; k < n; ++k) {
    const AacIcs& ics = q.ics[k];
    LtpChannel& ch = c->ltp[el.firstChannel + k];
    if (ics.ltp.present && ics.windowSequence != kEightShortSequence) {
      // The prediction as the decoder makes it: its TNS range follows the
      // coded bands.
      ltpPredict(c->psy->transform, ch.state, ics.ltp.lag, ics.ltp.coef, ics.windowSequence, ics.windowShape,
                 ch.previousShape, &config.tns, ics.tns.present ? &ics.tns.window[0] : nullptr, ics.maxSfb,
                 ch.prediction);
      const int32_t bands = std::min(ics.maxSfb, static_cast<int32_t>(kAacLtpLongBands));
      for (int32_t b = 0; b < bands; ++b)
        if (ics.ltp.used[b])
          for (int32_t i = config.bandOffsets[b]; i < config.bandOffsets[b + 1]; ++i) spec[k][i] += ch.prediction[i];
    }
    if (ics.tns.present) {
      for (int32_t w = 0; w < ics.tns.numWindows; ++w)
        tnsFilterCoded(&config.tns, spec[k] + (isShort ? 128 * w : 0), &ics.tns.window[w], ics.maxSfb, true);
    }
    ltpReconstruct(c->psy->transform, &ch, spec[k], ics.windowSequence, ics.windowShape);
  }
}

// The program config element of the layout: the numbered configuration's, or
// one that lists the elements (all single channels or all pairs at the front).
static bool buildPce(AacCore* c) {
  CodecError* e;
  if (c->channelConfiguration > 0) {
    e = createPce(&c->pce, c->config.ltpFlag ? 4 : 2, c->channelConfiguration, c->config.sampleRate, 0, nullptr, nullptr);
  } else {
    PceElement elements[15];
    for (int32_t i = 0; i < c->numElements; ++i) {
      elements[i].type = c->elements[i].type == kAacElementCpe ? kPceCpe : kPceSce;
      elements[i].instanceTag = c->elements[i].tag;
      elements[i].channelCount = c->elements[i].numChannels;
      elements[i].ccElementIsIndSw = 0;
    }
    e = createPce(&c->pce, c->config.ltpFlag ? 4 : 2, 0, c->config.sampleRate, c->numElements, elements,
                  pceUniformPositions(elements[0].type, c->numElements));
  }
  if (e) {
    deleteError(e);
    return false;
  }
  return c->pce != nullptr;
}

// The frame budget, reservoir size and threshold adjustment of a bitrate
// (the reserved rate already taken off).
static void applyBitrate(AacCore* c, int32_t bitRate) {
  c->bitRate = bitRate;
  c->averageBits = static_cast<int32_t>(static_cast<int64_t>(bitRate) * 1024 / c->config.sampleRate);
  c->bitresMax = std::max(0, (c->maxBits - c->averageBits) & ~7);
  c->bitresLevel = std::min(c->bitresLevel, c->bitresMax);
  int32_t rates[15];
  for (int32_t i = 0; i < c->numElements; ++i)
    rates[i] = static_cast<int32_t>(static_cast<int64_t>(bitRate) * c->elements[i].weight /
                                    (c->totalWeight * c->elements[i].numChannels));
  adjThrInit(c->adjThr, bitsToPe(static_cast<float>(c->averageBits)), rates, c->numElements);
}

// The checks of a bitrate at open: per channel within 8000-160000 bit/s and
// at most 5.2734375 bits per sample and channel.
static bool bitrateAllowed(int32_t bitRate, int32_t ch, int32_t sampleRate) {
  if (bitRate != 0 && (bitRate / ch < 8000 || bitRate / ch > 160000)) return false;
  return static_cast<float>(bitRate) <= static_cast<float>(sampleRate) * 5.2734375f * ch;
}

int AacCoreOpen(AacCore** out, const AacCoreConfig* cfg) {
  if (!out) return kAacCoreFailed;
  *out = nullptr;
  if (!cfg) return kAacCoreFailed;
  const int32_t ch = cfg->nChannels;
  if (ch < 1 || ch > 12) return kAacCoreFailed;
  if (cfg->bitRate == 0 && (cfg->qualityMode < 0 || cfg->qualityMode > 2)) return kAacCoreFailed;
  // A nominal sampling frequency other than 7350 Hz (index 12).
  const int32_t rateIndex = findSamplingRateIndex(cfg->sampleRate);
  if (rateIndex < 0 || rateIndex > 11) return kAacCoreFailed;
  if (!bitrateAllowed(cfg->bitRate, ch, cfg->sampleRate)) return kAacCoreFailed;
  // Transport 0 writes bare raw data blocks (the MP4 file carries the
  // configuration), 1 an ADIF header before the first one, 2 an ADTS header
  // before each. The error-resilient block goes bare only: no header
  // describes it.
  if (cfg->transportType < 0 || cfg->transportType > 2 || cfg->channelMapping ||
      (cfg->erFlag && cfg->transportType != 0))
    return kAacCoreFailed;
  AacCore* c = static_cast<AacCore*>(std::calloc(1, sizeof(AacCore)));
  if (!c) return kAacCoreFailed;
  c->config = *cfg;
  // The error-resilient block lists the elements of a numbered channel
  // configuration in their order; there is none for other layouts.
  if (!buildElements(c) || (cfg->transportType != 0 && !buildPce(c)) ||
      (cfg->erFlag && c->channelConfiguration == 0)) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  c->erSyntax = cfg->erFlag ? 1 : 0;
  // Long-term prediction is searched for the plain syntax. The
  // error-resilient one (ER AAC-LTP) writes every frame without prediction,
  // which its syntax allows: no decoder at hand reads its prediction data
  // (ffmpeg refuses the type, faad stops at the first predicted frame),
  // so that layout cannot be checked.
  if (cfg->ltpFlag && !cfg->erFlag) {
    c->ltp = static_cast<LtpChannel*>(std::calloc(static_cast<size_t>(ch), sizeof(LtpChannel)));
    if (!c->ltp) {
      AacCoreClose(c);
      return kAacCoreFailed;
    }
  }
  if (cfg->transportType == 2 && cfg->crcOption) {
    CodecError* e = CreateCrc(&c->crcRegister, 0x8005, 0xFFFF);
    if (e) {
      deleteError(e);
      AacCoreClose(c);
      return kAacCoreFailed;
    }
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
  // The tool option switches temporal noise shaping on, for long windows
  // only: short-window filters (the psychoacoustic model's values 1 and 4)
  // lowered the pre-echo of castanet-like clicks by 4-5 dB at 128 kbit/s but
  // cost single-sample click trains up to 8 dB of SNR below 5 kHz, more than
  // the stream checks allow.
  if (psyInit(&c->psy, bitRate, cfg->sampleRate, c->bandwidth, ch, cfg->toolOption ? (2 | 8) : 0) != 0) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  // The low-frequency channel keeps long windows (the reduced analysis
  // resets its block switching) and codes the bands below its bandwidth.
  c->lfeBands = 1;
  for (int32_t i = 0; i < c->numElements; ++i) {
    if (c->elements[i].type != kAacElementLfe) continue;
    c->psy->channels[c->elements[i].firstChannel]->reducedAnalysis = 1;
    const PsyConfiguration& lc = c->psy->longConfig;
    const double lineHz = cfg->sampleRate * 0.5 / 1024.0;
    while (c->lfeBands < lc.numBands && lc.bandOffsets[c->lfeBands] * lineHz < kLfeBandwidthHz) ++c->lfeBands;
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
  c->maxBits = 6144 * ch;
  CodecError* e = adjThrNew(&c->adjThr, c->numElements);
  if (e) {
    deleteError(e);
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  applyBitrate(c, bitRate);
  c->bitresLevel = c->bitresMax;
  c->ancillaryBytes = ancillaryBytesPerFrame(cfg->ancillaryOption, cfg->sampleRate);
  if (c->ancillaryBytes < 0) {
    AacCoreClose(c);
    return kAacCoreFailed;
  }
  // The error-resilient block carries no data stream element.
  if (c->erSyntax) c->ancillaryBytes = 0;
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
  deletePce(c->pce);
  DeleteCrc(c->crcRegister);
  std::free(c->ltp);
  std::free(c);
}

int AacCoreGetInfo(const AacCore* c, AacCoreInfo* info) {
  if (!c || !info) return kAacCoreFailed;
  std::memset(info, 0, sizeof(*info));
  info->bandwidth = static_cast<float>(c->bandwidth);
  info->delay = c->delay;
  info->maxBytesPerFrame = c->maxBytesPerFrame;
  info->ancillaryBytes = c->ancillaryBytes;
  std::strcpy(info->version, "2.1");
  std::strcpy(info->buildDate, "Oct  4 2006");
  return kAacCoreOk;
}

int AacCoreSetSbrPayload(AacCore* c, const uint8_t* payload, int32_t bits) {
  if (!c || bits < 0 || (bits > 0 && !payload)) return kAacCoreFailed;
  if (bits > 0 && (c->erSyntax || aacSbrFillElementBits(bits) < 0 || bits > 8 * static_cast<int32_t>(sizeof c->sbrPayload))) {
    c->sbrBits = 0;
    return kAacCoreFailed;
  }
  if (bits > 0) std::memcpy(c->sbrPayload, payload, static_cast<size_t>((bits + 7) / 8));
  c->sbrBits = bits;
  return kAacCoreOk;
}

int AacCoreSetUserData(AacCore* c, const uint8_t* bytes, int32_t* count) {
  if (!c || (bytes == nullptr) != (count == nullptr)) return kAacCoreFailed;
  c->userBytes = bytes;
  c->userCount = count;
  c->userSent = 0;
  return kAacCoreOk;
}

int AacCoreSetBitrate(AacCore* c, int32_t bitRate) {
  if (!c || bitRate <= 0 || !bitrateAllowed(bitRate, c->config.nChannels, c->config.sampleRate) ||
      bitRate - c->config.reservedRate < 0)
    return kAacCoreFailed;
  applyBitrate(c, bitRate - c->config.reservedRate);
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
  // The block the previous record was analysed from: the prediction is
  // searched against it when that record is coded below.
  if (c->ltp)
    for (int32_t i = 0; i < ch; ++i) std::memcpy(c->ltp[i].block, c->psy->channels[i]->history, sizeof(c->ltp[i].block));
  for (int32_t i = 0; i < ch; ++i) psyInput(c->psy->channels[i], input + i, ch, 1.0f);
  for (int32_t e = 0; e < c->numElements; ++e) {
    const Element& el = c->elements[e];
    PsyData* data[2] = {c->psy->channels[el.firstChannel], el.numChannels == 2 ? c->psy->channels[el.firstChannel + 1] : nullptr};
    PsyOutChannel* outs[2] = {&current[el.firstChannel], el.numChannels == 2 ? &current[el.firstChannel + 1] : nullptr};
    psyMain(c->psy, el.numChannels, data, outs, &currentElement[e]);
    if (el.type == kAacElementLfe) limitLfe(outs[0], c->lfeBands);
  }
  // Quantise and code the previous frame's record.
  PsyOutChannel* previous = c->psyOut[!c->toggle];
  PsyOutElement* previousElement = c->psyOutElement[!c->toggle];
  bit_buf* b = c->writer;
  // END element and the byte alignment at most (the alignment only in the
  // error-resilient block).
  const int32_t endBits = c->erSyntax ? 7 : 3 + 7;
  // The transport header of the frame: ADTS in front of every unit (with
  // the PCE when no channel configuration names the layout), ADIF once.
  const int32_t transport = c->config.transportType;
  AdtsHeader adts = {c->config.ltpFlag ? 3 : 1, c->samplingRateIndex, c->channelConfiguration, c->crcRegister != nullptr};
  int32_t headerStart = 0;
  int32_t headerBits = 0;
  if (transport == 2) {
    if (c->crcRegister) {
      ResetElementMarks(b);
      EnableElementMarks(b, 1);
    }
    headerBits = adtsWriteHeader(b, &adts, &headerStart);
    if (c->channelConfiguration == 0) {
      const int32_t before = GetBitsAvail(b);
      CodecError* err = writePce(c->pce, b, 1);
      if (err) deleteError(err);
      headerBits += GetBitsAvail(b) - before;
    }
  } else if (transport == 1 && c->framesWritten == 0) {
    headerBits = adifWriteHeader(b, c->pce, c->maxBits * c->config.sampleRate / 1024);
    if (headerBits < 0) headerBits = 0;
  }
  // The SBR side information rides in the first element's fill element and
  // comes off this frame's budget and off the elements' mean shares.
  const int32_t sbrFillBits = c->sbrBits > 0 ? aacSbrFillElementBits(c->sbrBits) : 0;
  // The caller's ancillary bytes of this frame, in a data stream element
  // after the channel elements.
  int32_t userBytes = 0;
  if (c->userCount && c->userBytes && *c->userCount > 0)
    userBytes = std::min(std::min(*c->userCount, c->ancillaryBytes), kDseMaxBytes);
  const int32_t extraBits = sbrFillBits + dseBits(userBytes);
  const int32_t coreAverage = std::max(0, c->averageBits - extraBits);
  int32_t frameBudget = std::min(c->averageBits + c->bitresLevel, c->maxBits) - endBits - extraBits - headerBits;
  int32_t used = headerBits;
  int status = kAacCoreOk;
  for (int32_t e = 0; e < c->numElements && status == kAacCoreOk; ++e) {
    const Element& el = c->elements[e];
    PsyOutChannel* outs[2] = {&previous[el.firstChannel], el.numChannels == 2 ? &previous[el.firstChannel + 1] : nullptr};
    const int32_t share = coreAverage * el.weight / c->totalWeight;
    const int32_t shareRes = c->bitresLevel * el.weight / c->totalWeight;
    const int32_t shareMaxRes = c->bitresMax * el.weight / c->totalWeight;
    AacLtp ltps[2];
    const int32_t ltpBits = c->ltp ? ltpApplyElement(c, el, outs, &previousElement[e], ltps) : 0;
    AdjThrBands bands;
    adjustThresholds(c->adjThr, e, outs, el.numChannels, &previousElement[e], share, shareRes, shareMaxRes, 4.0f,
                     &bands);
    // The remaining elements keep at least their mean share.
    int32_t later = 0;
    for (int32_t k = e + 1; k < c->numElements; ++k) later += coreAverage * c->elements[k].weight / c->totalWeight;
    const int32_t maxBits = std::max(0, frameBudget + headerBits - used - later - ltpBits);
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
    for (int32_t k = 0; k < el.numChannels; ++k) {
      if (c->ltp) q.ics[k].ltp = ltps[k];
      q.ics[k].erSyntax = c->erSyntax;
    }
    const int32_t bits =
        el.type == kAacElementLfe ? aacWriteLfeElement(b, el.tag, &q.ics[0]) : qcWriteElement(b, el.tag, &q);
    if (bits < 0) {
      status = kAacCoreFailed;
      break;
    }
    used += bits;
    if (c->ltp) ltpReconstructElement(c, el, q);
    if (e == 0 && sbrFillBits > 0) used += aacWriteSbrFillElement(b, c->sbrPayload, c->sbrBits);
  }
  c->sbrBits = 0;
  if (status == kAacCoreOk && userBytes > 0) {
    used += writeDse(b, c->userBytes + c->userSent, userBytes);
    c->userSent += userBytes;
    *c->userCount -= userBytes;
  }
  if (status != kAacCoreOk) {
    // Drop what was written of the unit.
    const int32_t avail = GetBitsAvail(b);
    if (avail > 0) SeekReadPosition(b, avail);
    EnableElementMarks(b, 0);
    c->toggle = !c->toggle;
    return status;
  }
  // Reservoir: bits above its size are written as fill elements (the
  // error-resilient block has none: they are not spent).
  int32_t level = c->bitresLevel + c->averageBits - (used + 3);
  for (; !c->erSyntax;) {
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
  if (c->erSyntax)
    used += WriteBits(b, 0, (8 - (used & 7)) & 7);
  else
    used += aacWriteEndElement(b, used);
  c->bitresLevel = std::min(c->bitresMax, c->bitresLevel + c->averageBits - used);
  c->toggle = !c->toggle;
  const int32_t bytes = (GetBitsAvail(b) + 7) / 8;
  bool complete = true;
  if (transport == 2) {
    complete = adtsCompleteHeader(b, &adts, headerStart, bytes, c->crcRegister);
    EnableElementMarks(b, 0);
  }
  if (GetBitsAvail(b) > c->maxBits || !complete) {
    SeekReadPosition(b, GetBitsAvail(b));
    return kAacCoreFailed;
  }
  if (bytes > outSize || !out) {
    SeekReadPosition(b, GetBitsAvail(b));
    return kAacCoreOutputTooSmall;
  }
  ReadBytes(b, out, bytes);
  *outBytes = bytes;
  ++c->framesWritten;
  return kAacCoreOk;
}
