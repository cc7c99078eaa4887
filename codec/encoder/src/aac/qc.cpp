// Scalefactor estimation, quantiser and rate loop.
#include "qc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <emmintrin.h>

const float kQcRounding = 0.4054f;

namespace {

const int32_t kMaxOffset = 100;
const int32_t kMinOffset = -60;

struct BandPlan {
  int32_t coded[2][kAacMaxGroups][kAacMaxBands];
  int32_t baseSf[2][kAacMaxGroups][kAacMaxBands];
  int32_t minSf[2][kAacMaxGroups][kAacMaxBands];
  bool holdLevel;  // coarse bands are quantised to keep their level (see below)
  float energy[2][8][kAacMaxBands];  // sum of squares of each window's band, for the holding
};

float inverseGainOf(int32_t scalefactor) { return static_cast<float>(std::pow(2.0, -0.25 * (scalefactor - 100))); }

// The quantiser's input gain 2^(-(sf - 100) / 4), from a table over the
// scalefactor's range.
float inverseGainTable(int32_t scalefactor) {
  struct Gains {
    float of[256];
    Gains() {
      for (int32_t sf = 0; sf < 256; ++sf) of[sf] = inverseGainOf(sf);
    }
  };
  static const Gains kGains;
  return scalefactor >= 0 && scalefactor < 256 ? kGains.of[scalefactor] : inverseGainOf(scalefactor);
}

// A band quantised to a few small values keeps its level poorly: rounding
// turns many values into ones or zeros, and the decoded band comes out louder
// or quieter than the input by more than a dB. Where the largest value is at
// most 4, the band is quantised again with the rounding of a few that brings
// its decoded energy closest to the input's. Returns the largest value.
// This trades a larger error for the level, so it is done only where hold is
// set: at sampling rates of 24 kHz and under (the cores of HE-AAC), whose low
// bands otherwise decode up to 2 dB loud or quiet. At the full rates the
// smaller error is worth more: pink noise in stereo at 64 kbit/s and 44.1 kHz
// keeps 8.7 dB of signal-to-noise ratio below 5 kHz without the holding and
// 8.2 dB with it.
int32_t quantiseHoldingLevel(const float* x, int16_t* q, int32_t n, int32_t sf, bool hold, float bandEnergy) {
  const int32_t peak = qcQuantiseLines(x, q, n, sf);
  if (!hold || peak == 0 || peak > 4) return peak;
  const float inverseGain = inverseGainTable(sf);
  // Decoded energy of value v: v^(8/3). At the usual rounding the values are
  // those just quantised, so most bands (within a dB) are settled from them
  // with no power taken.
  static const float kPower[6] = {0.0f, 1.0f, 6.3496042f, 18.720754f, 40.317474f, 73.100443f};
  const float energy = bandEnergy * inverseGain * inverseGain;
  float usual = 0.0f;
  for (int32_t i = 0; i < n; ++i) usual += kPower[q[i] < 0 ? -q[i] : q[i]];
  // How far a decoded energy lies from the input's: their ratio taken the
  // way that makes it at least 1 (the size of the logarithm, without it).
  const auto distance = [&](float sum) {
    const float ratio = (sum + 1e-9f) / energy;
    return std::max(ratio, 1.0f / ratio);
  };
  const float kWithinDb = 1.2586000f;  // e^0.23: 1 dB
  float best = kQcRounding, bestDistance = distance(usual);
  if (bestDistance < kWithinDb) return peak;
  // The lines' a^(3/4), as the quantiser takes them: in double precision,
  // rounded once to single.
  float p[1024];
  for (int32_t i = 0; i < n; ++i) {
    const double a = static_cast<double>(std::fabs(x[i]) * inverseGain);
    p[i] = static_cast<float>(std::sqrt(a * std::sqrt(a)));
  }
  // No rounding below makes a value larger than 5 where the usual one gave
  // at most 4.
  const auto decoded = [&](float rounding) {
    float sum = 0.0f;
    for (int32_t i = 0; i < n; ++i) sum += kPower[std::min(5, static_cast<int32_t>(p[i] + rounding))];
    return sum;
  };
  static const float kRoundings[] = {0.25f, 0.3f, 0.35f, 0.46f, 0.5f};  // besides the usual one
  for (float r : kRoundings) {
    const float d = distance(decoded(r));
    if (d < bestDistance) best = r, bestDistance = d;
  }
  if (best == kQcRounding) return peak;
  int32_t newPeak = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = std::min(static_cast<int32_t>(kAacMaxQuant), static_cast<int32_t>(p[i] + best));
    newPeak = std::max(newPeak, v);
    q[i] = static_cast<int16_t>(x[i] < 0.0f ? -v : v);
  }
  return newPeak;
}

// Quantises every channel with the base scalefactors moved by offset and
// returns the element's bits (-1 when the syntax cannot carry it).
int32_t quantiseAll(const PsyOutChannel* const* ch, int32_t numChannels, const BandPlan& plan, int32_t offset,
                    QcElement* out) {
  for (int32_t c = 0; c < numChannels; ++c) {
    const PsyOutChannel* o = ch[c];
    AacIcs* ics = &out->ics[c];
    std::memset(ics->quant, 0, sizeof(ics->quant));
    const bool isShort = o->windowSequence == kEightShortSequence;
    int32_t w = 0;
    int32_t largest = -1;
    for (int32_t g = 0; g < o->numGroups; ++g) {
      for (int32_t b = 0; b < ics->maxSfb; ++b) {
        int32_t sf = std::min(255, std::max(plan.baseSf[c][g][b] + offset, plan.minSf[c][g][b]));
        ics->scalefactor[g][b] = sf;
        if (!plan.coded[c][g][b]) continue;
        int32_t peak = 0;
        const int32_t lo = o->bandOffsets[b], width = o->bandOffsets[b + 1] - lo;
        for (int32_t k = w; k < w + o->groupLen[g]; ++k) {
          const int32_t base = (isShort ? k * 128 : 0) + lo;
          peak = std::max(peak, quantiseHoldingLevel(o->spectrum + base, ics->quant + base, width, sf, plan.holdLevel,
                                                       plan.energy[c][k][b]));
        }
        if (peak > 0) largest = std::max(largest, sf);
      }
      w += o->groupLen[g];
    }
    // Coded scalefactors may differ by at most 60: the quietest bands are
    // coarsened up to 60 steps below the largest, and quantised again.
    if (largest >= 0) {
      w = 0;
      for (int32_t g = 0; g < o->numGroups; ++g) {
        for (int32_t b = 0; b < ics->maxSfb; ++b) {
          // Bands quantised to zeros may still sit in a coded section.
          if (ics->scalefactor[g][b] > largest) ics->scalefactor[g][b] = largest;
          if (ics->scalefactor[g][b] >= largest - 60) continue;
          ics->scalefactor[g][b] = largest - 60;
          if (!plan.coded[c][g][b]) continue;
          const int32_t lo = o->bandOffsets[b], width = o->bandOffsets[b + 1] - lo;
          for (int32_t k = w; k < w + o->groupLen[g]; ++k) {
            const int32_t base = (isShort ? k * 128 : 0) + lo;
            quantiseHoldingLevel(o->spectrum + base, ics->quant + base, width, largest - 60, plan.holdLevel,
                                 plan.energy[c][k][b]);
          }
        }
        w += o->groupLen[g];
      }
    }
    CodecError* e = aacSectionChannel(ics);
    if (e) {
      deleteError(e);
      return -1;
    }
  }
  // The bits qcWriteElement would count, from the sectioning's own sums.
  if (numChannels == 1) return aacSectionedSingleChannelBits(&out->ics[0]);
  return aacSectionedChannelPairBits(out->commonWindow, out->msMaskPresent, out->msUsed, &out->ics[0], &out->ics[1]);
}

}  // namespace

int32_t qcEstimateScalefactor(float threshold, float formFactor) {
  // Noise of the x^(3/4) quantiser with gain G = 2^((sf - 100) / 4): a step
  // of one in q is (4/3) |x|^(1/4) G^(3/4) in x, so a band's noise is about
  // (4/27) G^(3/2) sum(sqrt|x|).
  if (formFactor <= 0.0f || threshold <= 0.0f) return 255;
  const double g15 = 27.0 * threshold / (4.0 * formFactor);
  return static_cast<int32_t>(std::floor(100.0 + 8.0 / 3.0 * std::log2(g15)));
}

int32_t qcMinScalefactor(float maxMagnitude) {
  if (maxMagnitude <= 0.0f) return 0;
  // (m / G)^(3/4) + 0.4054 <= 8191  <=>  G >= m / 8190.5^(4/3)
  int32_t sf = static_cast<int32_t>(std::ceil(100.0 + 4.0 * std::log2(maxMagnitude / std::pow(8190.5, 4.0 / 3.0))));
  return std::max(0, sf);
}

QcQuantiseLinesFn qcQuantiseLines = qcQuantiseLinesSse2;

namespace {

// The single-precision quantiser of one line with its gain already applied.
inline int32_t quantiseOne(float a) {
  const int32_t v = static_cast<int32_t>(std::pow(a, 0.75f) + kQcRounding);
  return std::min(v, static_cast<int32_t>(kAacMaxQuant));
}

}  // namespace

int32_t qcQuantiseLinesGeneric(const float* x, int16_t* q, int32_t n, int32_t scalefactor) {
  const float inverseGain = inverseGainTable(scalefactor);
  int32_t peak = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = quantiseOne(std::fabs(x[i]) * inverseGain);
    peak = std::max(peak, v);
    q[i] = static_cast<int16_t>(x[i] < 0.0f ? -v : v);
  }
  return peak;
}

// The same values as the generic routine, four lines at a time. a^(3/4) is
// taken in double precision as sqrt(a sqrt(a)) (a few units of 2^-53 off),
// far closer than the single-precision power, which is within an ulp or two.
// Both agree on the integer part of value + rounding unless that sum lies
// within a few single-precision ulps of an integer; such lines (about one in
// 10^5), and sums from 16384 up or not finite, are quantised by the
// single-precision formula itself.
int32_t qcQuantiseLinesSse2(const float* x, int16_t* q, int32_t n, int32_t scalefactor) {
  const float inverseGain = inverseGainTable(scalefactor);
  const __m128 gain = _mm_set1_ps(inverseGain);
  const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128d rounding = _mm_set1_pd(static_cast<double>(kQcRounding));
  const __m128d margin = _mm_set1_pd(1.0 / (1 << 18));  // relative: about 32 single-precision ulps
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d limit = _mm_set1_pd(16384.0);
  const __m128i largest = _mm_set1_epi16(kAacMaxQuant);
  __m128i peaks = _mm_setzero_si128();
  int32_t peak = 0;  // of the lines quantised one by one
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 in = _mm_loadu_ps(x + i);
    const __m128 a = _mm_mul_ps(_mm_and_ps(in, magnitudeMask), gain);
    const __m128d lo = _mm_cvtps_pd(a), hi = _mm_cvtps_pd(_mm_movehl_ps(a, a));
    const __m128d tLo = _mm_add_pd(_mm_sqrt_pd(_mm_mul_pd(lo, _mm_sqrt_pd(lo))), rounding);
    const __m128d tHi = _mm_add_pd(_mm_sqrt_pd(_mm_mul_pd(hi, _mm_sqrt_pd(hi))), rounding);
    const __m128i kLo = _mm_cvttpd_epi32(tLo), kHi = _mm_cvttpd_epi32(tHi);
    const auto clear = [&](__m128d t, __m128i k) {
      const __m128d frac = _mm_sub_pd(t, _mm_cvtepi32_pd(k));
      const __m128d guard = _mm_mul_pd(t, margin);
      return _mm_movemask_pd(_mm_and_pd(
          _mm_and_pd(_mm_cmpgt_pd(frac, guard), _mm_cmplt_pd(frac, _mm_sub_pd(one, guard))), _mm_cmplt_pd(t, limit)));
    };
    if ((clear(tLo, kLo) & clear(tHi, kHi)) != 3) {
      for (int32_t j = i; j < i + 4; ++j) {
        const int32_t v = quantiseOne(std::fabs(x[j]) * inverseGain);
        peak = std::max(peak, v);
        q[j] = static_cast<int16_t>(x[j] < 0.0f ? -v : v);
      }
      continue;
    }
    const __m128i v = _mm_unpacklo_epi64(kLo, kHi);  // the four integer parts, below 16384
    const __m128i m = _mm_min_epi16(_mm_packs_epi32(v, v), largest);
    peaks = _mm_max_epi16(peaks, m);
    const __m128i negative = _mm_castps_si128(_mm_cmplt_ps(in, _mm_setzero_ps()));
    const __m128i sign = _mm_packs_epi32(negative, negative);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q + i), _mm_sub_epi16(_mm_xor_si128(m, sign), sign));
  }
  alignas(16) int16_t lanes[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), peaks);
  for (int32_t j = 0; j < 4; ++j) peak = std::max(peak, static_cast<int32_t>(lanes[j]));
  for (; i < n; ++i) {
    const int32_t v = quantiseOne(std::fabs(x[i]) * inverseGain);
    peak = std::max(peak, v);
    q[i] = static_cast<int16_t>(x[i] < 0.0f ? -v : v);
  }
  return peak;
}

int32_t qcWriteElement(bit_buf* b, int32_t tag, const QcElement* e) {
  if (e->numChannels == 1) return aacWriteSingleChannelElement(b, tag, &e->ics[0]);
  return aacWriteChannelPairElement(b, tag, e->commonWindow, e->msMaskPresent, e->msUsed, &e->ics[0], &e->ics[1]);
}

CodecError* qcEncodeElement(const PsyOutChannel* const* ch, int32_t numChannels, const PsyOutElement* element,
                            int32_t rateIndex, int32_t targetBits, int32_t maxBits, QcElement* out) {
  std::memset(out, 0, sizeof(*out));
  out->numChannels = numChannels;
  out->commonWindow = numChannels == 2 ? element->commonWindow : 0;
  out->msMaskPresent = numChannels == 2 ? element->msMaskPresent : 0;
  if (numChannels == 2) std::memcpy(out->msUsed, element->msUsed, sizeof(out->msUsed));
  BandPlan p;
  p.holdLevel = rateIndex >= 6;  // 24 kHz and under
  for (int32_t c = 0; c < numChannels; ++c) {
    const PsyOutChannel* o = ch[c];
    AacIcs* ics = &out->ics[c];
    ics->samplingRateIndex = rateIndex;
    ics->windowSequence = o->windowSequence;
    ics->windowShape = o->windowShape;
    ics->maxSfb = o->maxSfb;
    ics->tns = o->tns;
    ics->numWindowGroups = o->numGroups;
    for (int32_t g = 0; g < o->numGroups; ++g) ics->windowGroupLength[g] = o->groupLen[g];
    const bool isShort = o->windowSequence == kEightShortSequence;
    const int32_t n = o->bandsPerGroup;
    int32_t w = 0;
    for (int32_t g = 0; g < o->numGroups; ++g) {
      for (int32_t b = 0; b < o->maxSfb; ++b) {
        float ff = 0.0f, peak = 0.0f;
        for (int32_t k = w; k < w + o->groupLen[g]; ++k) {
          float energy = 0.0f;
          for (int32_t i = o->bandOffsets[b]; i < o->bandOffsets[b + 1]; ++i) {
            const float x = o->spectrum[(isShort ? k * 128 : 0) + i];
            const float a = std::fabs(x);
            ff += std::sqrt(a);
            peak = std::max(peak, a);
            energy += x * x;
          }
          p.energy[c][k][b] = energy;
        }
        const float e = o->energy[g * n + b], t = o->threshold[g * n + b];
        p.coded[c][g][b] = peak > 0.0f && e > t;
        p.minSf[c][g][b] = qcMinScalefactor(peak);
        p.baseSf[c][g][b] = p.coded[c][g][b] ? qcEstimateScalefactor(t, ff) : 255;
      }
      w += o->groupLen[g];
    }
  }
  // Largest bit use within the budget: the smallest offset whose bits fit.
  // The thresholds were set for the frame's bits, so the answer lies near
  // offset 0: steps of growing size bracket it, then bisection finds it, in
  // a handful of quantise-and-count passes.
  const int32_t goal = std::min(targetBits, maxBits);
  int32_t last = 0;  // the offset whose quantisation `out` holds
  auto pass = [&](int32_t offset) {
    last = offset;
    return quantiseAll(ch, numChannels, p, offset, out);
  };
  int32_t bits = pass(0);
  if (bits < 0) return createError(__FILE__, __LINE__, "qcEncodeElement", "invalid channel layout");
  int32_t lo = 0, hi = 0;  // bits(lo) > goal, or lo is the finest offset; bits(hi) <= goal
  int32_t hiBits = bits;
  if (bits <= goal) {
    for (int32_t step = 2; hi > kMinOffset; step *= 2) {
      lo = std::max(kMinOffset, hi - step);
      const int32_t b = pass(lo);
      if (b < 0 || b > goal) break;
      hi = lo;
      hiBits = b;
    }
  } else {
    for (int32_t step = 2;; step *= 2) {
      hi = std::min(kMaxOffset, lo + step);
      hiBits = pass(hi);
      if (hiBits >= 0 && hiBits <= goal) break;
      if (hi == kMaxOffset) {
        if (hiBits >= 0 && hiBits <= maxBits) {
          out->bits = hiBits;  // over the goal, within the limit
          return nullptr;
        }
        // Nothing fits: code the element empty.
        for (int32_t c = 0; c < numChannels; ++c) {
          std::memset(out->ics[c].quant, 0, sizeof(out->ics[c].quant));
          out->ics[c].maxSfb = 0;
          CodecError* e = aacSectionChannel(&out->ics[c]);
          if (e) return appendErrorTrace(__FILE__, __LINE__, "qcEncodeElement", e);
        }
        out->msMaskPresent = 0;
        out->bits = qcWriteElement(nullptr, 0, out);
        return nullptr;
      }
      lo = hi;
    }
  }
  while (hi - lo > 1) {
    const int32_t mid = (lo + hi) / 2;
    const int32_t midBits = pass(mid);
    if (midBits >= 0 && midBits <= goal) {
      hi = mid;
      hiBits = midBits;
    } else {
      lo = mid;
    }
  }
  bits = last == hi ? hiBits : pass(hi);
  out->bits = bits;
  return nullptr;
}
