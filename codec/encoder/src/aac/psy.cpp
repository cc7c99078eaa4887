// Psychoacoustic model: configurations, long and short analysis, regrouping
// of short windows and the mid/side decision of a channel pair.
#include "psy.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "aactables.h"
#include "audiospecificconfig.h"

namespace {

const float kHugeThreshold = 3.4028233e36f;  // history that sets no limit
const float kLargestFloat = 3.4028235e38f;

// Absolute threshold of hearing in dB SPL (f in Hz).
double athDb(double f) {
  const double k = std::max(f, 20.0) / 1000.0;
  return 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) + 1e-3 * k * k * k * k;
}

double bark(double f) { return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0)); }

// Threshold in quiet: the input is in the scale of 16-bit sample values, and
// a full-scale sine (amplitude 32768) is taken as 92 dB SPL. Such a sine puts
// 2^50 of energy into a long spectrum (the transform's gain is N/2 per line
// pair, doubled by the caller), and a 64th of that into one short window. The
// threshold is applied a few dB under the curve, which is the threshold of
// young ears and so errs on the side of coding, and the curve's steep rise above
// 15 kHz is capped: the low-pass sets the coded bandwidth, not the ear model.
// The threshold counts per line (a band of noise at the curve's level per line
// is as loud as a tone at it). Higher bitrates lower it further (see psyInit).
const double kFullScaleSineEnergy = 1125899906842624.0;  // 2^50
const double kFullScaleSpl = 92.0;
const double kQuietMarginDb = 6.0;
const double kQuietCapDb = 45.0;

void spread(float* values, const float* low, const float* high, int32_t bands) {
  for (int32_t b = 1; b < bands; ++b) values[b] = std::max(values[b], values[b - 1] * high[b]);
  for (int32_t b = bands - 2; b >= 0; --b) values[b] = std::max(values[b], values[b + 1] * low[b]);
}

void bandEnergies(const float* spectrum, const PsyConfiguration* c, float* energy, float* formFactor) {
  for (int32_t b = 0; b < c->numBands; ++b) {
    float e = 0.0f, ff = 0.0f;
    if (b < c->activeBands) {
      for (int32_t i = c->bandOffsets[b]; i < c->bandOffsets[b + 1]; ++i) {
        e += spectrum[i] * spectrum[i];
        ff += std::sqrt(std::fabs(spectrum[i]));
      }
    }
    energy[b] = e;
    formFactor[b] = ff;
  }
}

// Thresholds of one block (long frame or one short window) from its
// spectrum: low-pass, energies, thresholds, spreading, threshold in quiet,
// pre-echo control and spread energies on arrays of numBands entries.
void analyseBlock(float* spectrum, const PsyConfiguration* c, int32_t reduced, int32_t sequence, float* prevThr,
                  float* thr, float* energy, float* formFactor, float* ratio, float* spreadEnergy, TnsWindow* tns,
                  const TnsWindow* partnerTns) {
  const int32_t lines = c->bandOffsets[c->numBands];
  const int32_t lowpass = reduced ? c->altLowpassLine : c->lowpassLine;
  for (int32_t i = std::max(0, lowpass); i < lines; ++i) spectrum[i] = 0.0f;
  bandEnergies(spectrum, c, energy, formFactor);
  const int32_t active = reduced ? c->altActiveBands : c->activeBands;
  for (int32_t b = 0; b < active; ++b) thr[b] = std::min(energy[b] * c->ratio, c->clipEnergy);
  // Temporal noise shaping: the thresholds stay those of the signal, the
  // energies become those of the filtered spectrum the quantiser codes.
  std::memset(tns, 0, sizeof(*tns));
  if (!reduced && tnsDetect(&c->tns, spectrum, c->thrQuiet, tns, nullptr)) {
    if (partnerTns) tnsSync(tns, partnerTns);
    tnsFilter(&c->tns, spectrum, tns);
    bandEnergies(spectrum, c, energy, formFactor);
    const float noiseGain = tnsNoiseGain(tns);
    const int32_t first = std::max(0, c->tns.numBands - tns->length);
    for (int32_t b = first; b < std::min(active, c->tns.stopBand); ++b) thr[b] /= noiseGain;
  }
  spread(thr, c->spreadLowThr, c->spreadHighThr, active);
  for (int32_t b = 0; b < active; ++b) thr[b] = std::max(thr[b], c->thrQuiet[b]);
  if (!reduced) {
    if (sequence == kLongStopSequence) {
      for (int32_t b = 0; b < active; ++b) prevThr[b] = kHugeThreshold;
    }
    for (int32_t b = 0; b < active; ++b) {
      const float t = thr[b];
      float v = std::min(t, prevThr[b] * c->maxAllowedIncrease);
      v = std::max(v, t * c->minRemaining);
      thr[b] = v;
      prevThr[b] = t;
      ratio[b] = std::max(0.01f, v / (t + 1.1754944e-38f));
    }
    if (sequence == kLongStartSequence) {
      for (int32_t b = 0; b < active; ++b) prevThr[b] = kHugeThreshold;
    }
  }
  for (int32_t b = active; b < c->numBands; ++b) thr[b] = kLargestFloat;
  for (int32_t b = 0; b < c->numBands; ++b) ratio[b] = 1.0f;
  std::memcpy(spreadEnergy, energy, sizeof(float) * c->numBands);
  spread(spreadEnergy, c->spreadLowEn, c->spreadHighEn, active);
}

int32_t highestCodedBand(const float* spectrum, const PsyConfiguration* c) {
  for (int32_t b = c->activeBands - 1; b >= 0; --b) {
    for (int32_t i = c->bandOffsets[b + 1] - 1; i >= c->bandOffsets[b]; --i) {
      if (spectrum[i] != 0.0f) return b + 1;
    }
  }
  return 0;
}

// partner: the first channel of the pair when d is the second.
void analyse(PsyState* s, PsyData* d, const PsyData* partner) {
  const float* block = d->history;
  d->tns.present = 0;
  if (d->windowSequence != kEightShortSequence) {
    d->tns.numWindows = 1;
    const PsyConfiguration* c = &s->longConfig;
    Transform(s->transform, block, d->spectrum, d->windowSequence, d->windowShape, d->previousWindowShape);
    for (int i = 0; i < 1024; ++i) d->spectrum[i] *= 2.0f;
    analyseBlock(d->spectrum, c, d->reducedAnalysis, d->windowSequence, d->prevThr, d->thr, d->energy, d->energy2,
                 d->preEchoRatio, d->spreadEnergy, &d->tns.window[0], partner ? &partner->tns.window[0] : nullptr);
    d->tns.present = d->tns.window[0].numFilters;
    d->maxBand = highestCodedBand(d->spectrum, c);
  } else {
    const PsyConfiguration* c = &s->shortConfig;
    const int32_t n = c->numBands;
    d->maxBand = 0;
    d->tns.numWindows = 8;
    for (int32_t w = 0; w < 8; ++w) {
      float* x = d->spectrum + w * 128;
      Transform(s->transform, block + 448 + 128 * w, x, kEightShortSequence, d->windowShape,
                w == 0 ? d->previousWindowShape : d->windowShape);
      for (int i = 0; i < 128; ++i) x[i] *= 2.0f;
      analyseBlock(x, c, 0, kEightShortSequence, d->prevThr, d->thr + w * n, d->energy + w * n, d->energy2 + w * n,
                   d->preEchoRatio + w * n, d->spreadEnergy + w * n, &d->tns.window[w],
                   partner ? &partner->tns.window[w] : nullptr);
      if (d->tns.window[w].numFilters) d->tns.present = 1;
      d->maxBand = std::max(d->maxBand, highestCodedBand(x, c));
    }
  }
}

void fillOutput(PsyState* s, PsyData* d, PsyOutChannel* o) {
  o->windowSequence = d->windowSequence;
  o->windowShape = d->windowShape;
  o->maxSfb = d->maxBand;
  std::memcpy(o->spectrum, d->spectrum, sizeof(o->spectrum));
  o->tns = d->tns;
  if (d->windowSequence != kEightShortSequence) {
    const PsyConfiguration* c = &s->longConfig;
    o->numGroups = 1;
    o->groupLen[0] = 1;
    o->bandsPerGroup = c->numBands;
    o->bandOffsets = c->bandOffsets;
    for (int32_t b = 0; b < c->numBands; ++b) {
      o->energy[b] = d->energy[b];
      o->threshold[b] = d->thr[b];
      o->spreadEnergy[b] = d->spreadEnergy[b];
      o->quietThreshold[b] = c->thrQuiet[b];
    }
    return;
  }
  const PsyConfiguration* c = &s->shortConfig;
  const BlockSwitchingControl* bs = &d->blockSwitching;
  const int32_t n = c->numBands;
  o->numGroups = bs->noOfGroups;
  o->bandsPerGroup = n;
  o->bandOffsets = c->bandOffsets;
  int32_t w = 0;
  for (int32_t g = 0; g < bs->noOfGroups; ++g) {
    o->groupLen[g] = bs->groupLen[g];
    for (int32_t b = 0; b < n; ++b) {
      float e = 0.0f, t = 0.0f, se = 0.0f;
      for (int32_t k = w; k < w + bs->groupLen[g]; ++k) {
        e += d->energy[k * n + b];
        t += d->thr[k * n + b];
        se += d->spreadEnergy[k * n + b];
      }
      o->energy[g * n + b] = e;
      o->threshold[g * n + b] = t;
      o->spreadEnergy[g * n + b] = se;
      o->quietThreshold[g * n + b] = c->thrQuiet[b] * static_cast<float>(bs->groupLen[g]);
    }
    w += bs->groupLen[g];
  }
}

double positiveLog2(double e, double t) { return e > t && t > 0.0 ? std::log2(e / t) : 0.0; }

// Per band of a common-window pair: mid/side when the sum of the two
// channels' bits (line count times log2 of energy over threshold) is lower
// for M = (L + R) / 2 and S = (L - R) / 2, whose threshold is half the
// smaller of the two, so the noise of L = M + S and R = M - S stays below
// both thresholds.
void msDecision(PsyOutChannel* l, PsyOutChannel* r, PsyOutElement* el) {
  const int32_t n = l->bandsPerGroup;
  const int32_t maxSfb = std::max(l->maxSfb, r->maxSfb);
  l->maxSfb = r->maxSfb = maxSfb;
  const bool isShort = l->windowSequence == kEightShortSequence;
  int32_t used = 0, coded = 0;
  int32_t w = 0;
  for (int32_t g = 0; g < l->numGroups; ++g) {
    for (int32_t b = 0; b < maxSfb; ++b) {
      const int32_t idx = g * n + b;
      double eM = 0.0, eS = 0.0;
      for (int32_t k = w; k < w + l->groupLen[g]; ++k) {
        for (int32_t i = l->bandOffsets[b]; i < l->bandOffsets[b + 1]; ++i) {
          const int32_t line = (isShort ? k * 128 : 0) + i;
          const double m = 0.5 * (l->spectrum[line] + r->spectrum[line]);
          const double s = 0.5 * (l->spectrum[line] - r->spectrum[line]);
          eM += m * m;
          eS += s * s;
        }
      }
      const double tL = l->threshold[idx], tR = r->threshold[idx];
      const double tMs = 0.5 * std::min(tL, tR);
      const double costLr = positiveLog2(l->energy[idx], tL) + positiveLog2(r->energy[idx], tR);
      const double costMs = positiveLog2(eM, tMs) + positiveLog2(eS, tMs);
      ++coded;
      if (costMs < costLr) {
        el->msUsed[g][b] = 1;
        ++used;
        for (int32_t k = w; k < w + l->groupLen[g]; ++k) {
          for (int32_t i = l->bandOffsets[b]; i < l->bandOffsets[b + 1]; ++i) {
            const int32_t line = (isShort ? k * 128 : 0) + i;
            const float m = 0.5f * (l->spectrum[line] + r->spectrum[line]);
            const float s = 0.5f * (l->spectrum[line] - r->spectrum[line]);
            l->spectrum[line] = m;
            r->spectrum[line] = s;
          }
        }
        l->energy[idx] = static_cast<float>(eM);
        r->energy[idx] = static_cast<float>(eS);
        l->threshold[idx] = r->threshold[idx] = static_cast<float>(tMs);
        l->quietThreshold[idx] = r->quietThreshold[idx] = 0.5f * std::min(l->quietThreshold[idx], r->quietThreshold[idx]);
        const float se = std::min(l->spreadEnergy[idx], r->spreadEnergy[idx]);
        l->spreadEnergy[idx] = r->spreadEnergy[idx] = se;
      } else {
        el->msUsed[g][b] = 0;
      }
    }
    w += l->groupLen[g];
  }
  el->msMaskPresent = used == 0 ? 0 : (used == coded ? 2 : 1);
}

}  // namespace

int psyInitConfiguration(PsyConfiguration* c, int32_t sampleRate, int32_t bandwidth, int32_t isShort) {
  std::memset(c, 0, sizeof(*c));
  const int32_t index = findSamplingRateIndex(sampleRate);
  if (index < 0 || index > 11) return 1;
  const AacRateTables& t = kAacRateTables[index];
  const int32_t lines = isShort ? 128 : 1024;
  c->sampleRate = sampleRate;
  c->numBands = isShort ? t.numShort128 : t.numLong1024;
  c->bandOffsets = isShort ? t.short128 : t.long1024;
  const double lineHz = sampleRate * 0.5 / lines;
  c->lowpassLine = std::min(lines, static_cast<int32_t>(bandwidth / lineHz + 0.5));
  c->altLowpassLine = c->lowpassLine;
  c->activeBands = c->numBands;
  for (int32_t b = 0; b < c->numBands; ++b) {
    if (c->bandOffsets[b] >= c->lowpassLine) {
      c->activeBands = b;
      break;
    }
  }
  c->altActiveBands = c->activeBands;
  // Short windows carry an eighth of the lines: amplitudes are an eighth,
  // energies a 64th of a long frame's.
  const double scale = isShort ? 1.0 / 64.0 : 1.0;
  double previousBark = 0.0;
  for (int32_t b = 0; b < c->numBands; ++b) {
    const int32_t lo = c->bandOffsets[b], hi = c->bandOffsets[b + 1];
    double quiet = 1e30;
    for (int32_t i = lo; i < hi; ++i) quiet = std::min(quiet, athDb((i + 0.5) * lineHz));
    quiet = std::min(quiet, kQuietCapDb) - kQuietMarginDb;
    c->thrQuiet[b] = static_cast<float>(kFullScaleSineEnergy * scale * (hi - lo) * std::pow(10.0, (quiet - kFullScaleSpl) / 10.0));
    const double centre = bark(0.5 * (lo + hi) * lineHz);
    const double distance = b == 0 ? 0.0 : centre - previousBark;
    previousBark = centre;
    // Masking reaches 15 dB per Bark toward higher bands and 30 dB per Bark
    // toward lower bands; energies spread 20 and 30 dB per Bark.
    c->spreadHighThr[b] = static_cast<float>(std::pow(10.0, -1.5 * distance));
    c->spreadHighEn[b] = static_cast<float>(std::pow(10.0, -2.0 * distance));
  }
  for (int32_t b = 0; b < c->numBands; ++b) {
    const int32_t lo = c->bandOffsets[b], hi = c->bandOffsets[b + 1];
    double distance = 0.0;
    if (b + 1 < c->numBands) {
      const int32_t hi2 = c->bandOffsets[b + 2];
      distance = bark(0.5 * (hi + hi2) * lineHz) - bark(0.5 * (lo + hi) * lineHz);
    }
    c->spreadLowThr[b] = static_cast<float>(std::pow(10.0, -3.0 * distance));
    c->spreadLowEn[b] = static_cast<float>(std::pow(10.0, -3.0 * distance));
  }
  c->maxAllowedIncrease = 2.0f;
  c->minRemaining = 0.01f;
  c->clipEnergy = static_cast<float>(1.0e15 * scale);
  c->ratio = 0.0012589f;  // 29 dB below the band's energy
  return 0;
}

int psyInit(PsyState** out, int32_t bitRate, int32_t sampleRate, int32_t bandwidth, int32_t numChannels,
            int32_t tnsMask) {
  *out = nullptr;
  if (numChannels < 1 || numChannels > 12) return 1;
  PsyState* s = static_cast<PsyState*>(std::calloc(1, sizeof(PsyState)));
  if (!s) return 3;
  s->numChannels = numChannels;
  s->sampleRate = sampleRate;
  s->bandwidth = bandwidth;
  if (psyInitConfiguration(&s->longConfig, sampleRate, bandwidth, 0) ||
      psyInitConfiguration(&s->shortConfig, sampleRate, bandwidth, 1)) {
    std::free(s);
    return 1;
  }
  if (tnsInitConfig(&s->longConfig.tns, sampleRate, s->longConfig.activeBands, 0, (tnsMask & (2 | 8)) != 0) ||
      tnsInitConfig(&s->shortConfig.tns, sampleRate, s->shortConfig.activeBands, 1, (tnsMask & (1 | 4)) != 0)) {
    std::free(s);
    return 1;
  }
  // With more bits per channel, quiet detail near the threshold in quiet is
  // affordable: up to 12 dB lower from 48 to 96 kbit/s per channel.
  const double bitsPerChannel = static_cast<double>(bitRate) / numChannels;
  const double lowerDb = std::min(12.0, std::max(0.0, (bitsPerChannel - 48000.0) / 4000.0));
  const float quietScale = static_cast<float>(std::pow(10.0, -lowerDb / 10.0));
  for (int32_t b = 0; b < kAacMaxBands; ++b) {
    s->longConfig.thrQuiet[b] *= quietScale;
    s->shortConfig.thrQuiet[b] *= quietScale;
  }
  if (transformCreate(&s->transform)) {
    std::free(s);
    return 3;
  }
  for (int32_t c = 0; c < numChannels; ++c) {
    PsyData* d = static_cast<PsyData*>(std::calloc(1, sizeof(PsyData)));
    if (!d) {
      psyDelete(&s);
      return 3;
    }
    s->channels[c] = d;
    InitBlockSwitching(&d->blockSwitching, bitRate / numChannels, 1);
    d->windowShape = d->previousWindowShape = d->blockSwitching.windowShape;
    for (int32_t b = 0; b < kPsyBands; ++b) d->prevThr[b] = kHugeThreshold;
  }
  *out = s;
  return 0;
}

void psyDelete(PsyState** state) {
  if (!state || !*state) return;
  PsyState* s = *state;
  for (int32_t c = 0; c < 12; ++c) std::free(s->channels[c]);
  if (s->transform) transformDelete(&s->transform);
  std::free(s);
  *state = nullptr;
}

void psyInput(PsyData* d, const float* input, int32_t stride, float gain) {
  std::memmove(d->history, d->history + kPsyFrame, sizeof(float) * kPsyNewest);
  float* dst = d->history + kPsyNewest;
  for (int32_t i = 0; i < kPsyFrame; ++i) dst[i] = input ? input[i * stride] * gain : 0.0f;
}

int psyMain(PsyState* s, int32_t numChannels, PsyData* const* data, PsyOutChannel* const* out, PsyOutElement* el) {
  for (int32_t c = 0; c < numChannels; ++c) {
    PsyData* d = data[c];
    d->blockSwitching.timeSignal = d->history + kPsyNewest;
    BlockSwitching(&d->blockSwitching, d->reducedAnalysis);
  }
  if (numChannels == 2) {
    SyncBlockSwitching(&data[0]->blockSwitching, &data[1]->blockSwitching, 2, 1, data[0]->reducedAnalysis);
  }
  for (int32_t c = 0; c < numChannels; ++c) {
    PsyData* d = data[c];
    const BlockSwitchingControl* bs = &data[numChannels == 2 ? 0 : c]->blockSwitching;
    d->previousWindowShape = d->windowShape;
    d->windowSequence = bs->windowSequence;
    d->windowShape = bs->windowShape ? kKbdWindow : kSineWindow;
    if (numChannels == 2 && c == 1) {
      // The pair shares window sequence, shape and grouping.
      d->blockSwitching.noOfGroups = bs->noOfGroups;
      std::memcpy(d->blockSwitching.groupLen, bs->groupLen, sizeof(bs->groupLen));
    }
    analyse(s, d, numChannels == 2 && c == 1 ? data[0] : nullptr);
    fillOutput(s, d, out[c]);
  }
  std::memset(el, 0, sizeof(*el));
  if (numChannels == 2) {
    el->commonWindow = 1;
    msDecision(out[0], out[1], el);
  }
  return 0;
}

void psyBandPe(float energy, float threshold, float activeLines, float* pe, float* constPart) {
  // Bits of a band: n * log2(e / t) above 3 bits a line, below that the
  // linear tail n * (c2 + c3 * log2(e / t)).
  const float c1 = 3.0f, c2 = 1.3219281f, c3 = 1.0f - 1.3219281f / 3.0f;
  *pe = 0.0f;
  *constPart = 0.0f;
  if (energy <= threshold || threshold <= 0.0f || activeLines <= 0.0f) return;
  const float ld = std::log2(energy / threshold);
  const float ldE = std::log2(energy);
  if (ld >= c1) {
    *pe = activeLines * ld;
    *constPart = activeLines * ldE;
  } else {
    *pe = activeLines * (c2 + c3 * ld);
    *constPart = activeLines * (c2 + c3 * ldE);
  }
}
