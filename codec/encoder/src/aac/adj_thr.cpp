// Threshold adjustment by perceptual entropy.
#include "adj_thr.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

const float kBitresParams[16] = {0.2f, 0.95f, -0.05f, 0.3f, 0.1f, 0.95f, -0.1f, 0.5f,
                                 0.2f, 0.75f, 0.0f,   0.2f, 0.1f, 0.75f, -0.05f, 0.6f};

// Share of the threshold search's possible PE reduction left to the rate loop.
const float kKneeShare = 0.05f;

float clip(float v, float lo, float hi) { return std::max(lo, std::min(hi, v)); }

// Active lines of each band: the form factor sum(sqrt|x|) over the mean
// amplitude's square root; a flat band counts all its lines, a tonal one few.
void bandLinesOf(const PsyOutChannel* ch, float* lines) {
  const bool isShort = ch->windowSequence == kEightShortSequence;
  const int32_t n = ch->bandsPerGroup;
  int32_t w = 0;
  for (int32_t g = 0; g < ch->numGroups; ++g) {
    for (int32_t b = 0; b < n; ++b) {
      float ff = 0.0f;
      int32_t width = 0;
      if (b < ch->maxSfb) {
        for (int32_t k = w; k < w + ch->groupLen[g]; ++k) {
          for (int32_t i = ch->bandOffsets[b]; i < ch->bandOffsets[b + 1]; ++i) {
            ff += std::sqrt(std::fabs(ch->spectrum[(isShort ? k * 128 : 0) + i]));
            ++width;
          }
        }
      }
      const float e = ch->energy[g * n + b];
      lines[g * n + b] = (e > 0.0f && width > 0) ? ff / std::pow(e / width, 0.25f) : 0.0f;
    }
    w += ch->groupLen[g];
  }
}

struct ChannelWork {
  float lines[kPsyBands];
  float thrExp[kPsyBands];
  float bandPe[kPsyBands];
  float constPart[kPsyBands];
};

float channelPe(const PsyOutChannel* ch, const float* thr, const ChannelWork& w, const uint8_t* flags, float* lines,
                float* constPart) {
  float pe = 0.0f;
  *lines = 0.0f;
  *constPart = 0.0f;
  const int32_t n = ch->bandsPerGroup;
  for (int32_t g = 0; g < ch->numGroups; ++g) {
    for (int32_t b = 0; b < ch->maxSfb; ++b) {
      const int32_t i = g * n + b;
      if (flags && flags[i] >= 2) continue;
      float p, c;
      psyBandPe(ch->energy[i], thr[i], w.lines[i], &p, &c);
      pe += p;
      if (p > 0.0f) {
        *constPart += c;
        *lines += w.lines[i];
      }
    }
  }
  return pe;
}

}  // namespace

CodecError* adjThrNew(AdjThrState** out, int32_t elements) {
  *out = nullptr;
  if (elements < 0 || elements > kAdjThrMaxElements) {
    return createError(__FILE__, __LINE__, "adjThrNew", "too many elements");
  }
  AdjThrState* s = static_cast<AdjThrState*>(std::calloc(1, sizeof(AdjThrState)));
  if (!s) return createError(__FILE__, __LINE__, "adjThrNew", "out of memory");
  for (int32_t e = 0; e < elements; ++e) {
    s->element[e] = static_cast<AdjThrElementState*>(std::calloc(1, sizeof(AdjThrElementState)));
    if (!s->element[e]) {
      adjThrDelete(s);
      return createError(__FILE__, __LINE__, "adjThrNew", "out of memory");
    }
  }
  *out = s;
  return nullptr;
}

void adjThrDelete(AdjThrState* s) {
  if (!s) return;
  for (int32_t e = 0; e < kAdjThrMaxElements; ++e) std::free(s->element[e]);
  std::free(s);
}

void adjThrSetLastResortTarget(AdjThrState* s, float value) { s->lastResortTarget = value; }

void adjThrInit(AdjThrState* s, float meanPe, const int32_t* bitrates, int32_t count) {
  std::memcpy(s->bitresParams, kBitresParams, sizeof(kBitresParams));
  for (int32_t e = 0; e < count && e < kAdjThrMaxElements; ++e) {
    AdjThrElementState* el = s->element[e];
    if (!el) continue;
    el->peMin = 0.8f * meanPe;
    el->peMax = 1.2f * meanPe;
    el->peOffset = 0.0f;
    if (bitrates[e] < 32000) el->peOffset = std::max(100.0f - bitrates[e] * 0.003125f, 50.0f);
    if (bitrates[e] > 20000) {
      el->ahEnabled = 1;
      el->startSfbLong = 15;
      el->startSfbShort = 3;
    } else {
      el->ahEnabled = 0;
      el->startSfbLong = 0;
      el->startSfbShort = 0;
    }
    // The noise a band may hold before it counts as a hole: -12 dB from 48
    // kbit/s per channel on, up to -7 dB at 32 kbit/s and under. Holding
    // every band of a starved frame at -12 dB leaves its loud bands no
    // better off than its quiet ones.
    const float perChannel = static_cast<float>(bitrates[e]);
    const float low = clip((48000.0f - perChannel) / 16000.0f, 0.0f, 1.0f);
    el->minSnr = std::pow(10.0f, -(12.0f - 5.0f * low) / 10.0f);
    el->maxRed = 0.25f;
    el->startRatio = 10.0f;
    el->maxRatio = 1000.0f;
    el->redRatioFac = 0.75f / (10.0f * std::log10(0.01f));
    el->redOffs = 1.0f - 10.0f * std::log10(10.0f) * el->redRatioFac;
  }
}

float bitresCalcBitFac(const AdjThrState* s, const AdjThrElementState* el, int32_t bitresBits, int32_t maxBitresBits,
                       float pe, int32_t windowSequence, int32_t avgBits, float maxBitFac) {
  const float* p = s->bitresParams + (windowSequence == kEightShortSequence ? 8 : 0);
  const float fill = maxBitresBits > 0 ? static_cast<float>(bitresBits) / maxBitresBits : 0.0f;
  const float peClipped = clip(pe, el->peMin, el->peMax);
  const float bitSave = p[3] - (clip(fill, p[0], p[1]) - p[0]) * ((p[3] - p[2]) / (p[1] - p[0]));
  const float bitSpend = p[6] + (clip(fill, p[4], p[5]) - p[4]) * ((p[7] - p[6]) / (p[5] - p[4]));
  const float range = el->peMax - el->peMin;
  float factor = (range > 0.0f ? (bitSpend + bitSave) / range * (peClipped - el->peMin) : 0.0f) + (1.0f - bitSave);
  if (avgBits > 0) factor = std::min(factor, static_cast<float>(bitresBits) / avgBits + 0.7f);
  return std::min(factor, maxBitFac);
}

void adjustPeMinMax(float pe, float* peMin, float* peMax) {
  if (pe > *peMax) {
    const float d = pe - *peMax;
    *peMin += 0.3f * d;
    *peMax += d;
  } else if (pe < *peMin) {
    const float d = *peMin - pe;
    *peMin -= 0.14f * d;
    *peMax -= 0.07f * d;
  } else {
    *peMin += 0.3f * (pe - *peMin);
    *peMax -= 0.07f * (*peMax - pe);
  }
  if (*peMax - *peMin < pe / 6.0f) {
    const float lo = std::max(0.0f, pe - *peMin);
    const float hi = std::max(0.0f, *peMax - pe);
    if (lo + hi > 0.0f) {
      *peMax = pe + hi / (lo + hi) * pe / 6.0f;
      *peMin = std::max(0.0f, pe - lo / (lo + hi) * pe / 6.0f);
    } else {
      *peMax = pe + pe / 12.0f;
      *peMin = std::max(0.0f, pe - pe / 12.0f);
    }
  }
}

int32_t bitresFrameBits(AdjThrState* s, int32_t elementIndex, float pe, float nextPe, const AdjThrBands& bands,
                        int32_t bitresBits, int32_t maxBitresBits) {
  AdjThrElementState* el = s->element[elementIndex];
  float& meanPe = el->meanPe;
  if (meanPe <= 0.0f) meanPe = pe;
  int32_t target = bands.desiredBits;
  // How far each frame lies above the mean, in means: from 0 at 1.5 means to
  // 1 at 3 means and more.
  const auto hardness = [&](float p) { return meanPe > 0.0f ? clip(p / meanPe / 1.5f - 1.0f, 0.0f, 1.0f) : 0.0f; };
  const float hard = hardness(pe), nextHard = hardness(nextPe);
  if (hard > 0.0f && pe > bands.desiredPe) {
    // The reservoir above its lowest fifth, which would otherwise soon be
    // written out as fill bits; a hard next frame keeps its part.
    const int32_t spendable = std::max(0, bitresBits - maxBitresBits / 5);
    target += static_cast<int32_t>(hard * hard / (hard + nextHard) * spendable);
  }
  meanPe = 0.9f * meanPe + 0.1f * pe;
  return target;
}

float calcChannelPe(const PsyOutChannel* ch, const float* thr, float* bandPe, float* bandLines, float* constPart) {
  bandLinesOf(ch, bandLines);
  float pe = 0.0f;
  const int32_t n = ch->bandsPerGroup;
  for (int32_t i = 0; i < ch->numGroups * n; ++i) {
    bandPe[i] = constPart[i] = 0.0f;
  }
  for (int32_t g = 0; g < ch->numGroups; ++g) {
    for (int32_t b = 0; b < ch->maxSfb; ++b) {
      const int32_t i = g * n + b;
      psyBandPe(ch->energy[i], thr[i], bandLines[i], &bandPe[i], &constPart[i]);
      pe += bandPe[i];
    }
  }
  return pe;
}

void adjustThresholds(AdjThrState* s, int32_t elementIndex, PsyOutChannel* const* ch, int32_t numChannels,
                      const PsyOutElement* element, int32_t avgBits, int32_t bitresBits, int32_t maxBitresBits,
                      float maxBitFac, AdjThrBands* r) {
  AdjThrElementState* el = s->element[elementIndex];
  ChannelWork work[2];
  // PE of the psychoacoustic thresholds.
  float pe = 0.0f;
  for (int32_t c = 0; c < numChannels; ++c) {
    pe += calcChannelPe(ch[c], ch[c]->threshold, work[c].bandPe, work[c].lines, work[c].constPart);
  }
  pe += el->peOffset;
  r->peBefore = pe;
  // The frame's bits and the PE they buy.
  const float fac = bitresCalcBitFac(s, el, bitresBits, maxBitresBits, pe, ch[0]->windowSequence, avgBits, maxBitFac);
  adjustPeMinMax(pe, &el->peMin, &el->peMax);
  r->desiredBits = static_cast<int32_t>(avgBits * fac);
  // Bits the reservoir cannot keep would be written as fill: spend them.
  r->desiredBits = std::max(r->desiredBits, avgBits + bitresBits - maxBitresBits);
  r->desiredPe = bitsToPe(static_cast<float>(r->desiredBits));
  const float desiredPe = std::max(0.0f, r->desiredPe - el->peOffset);
  for (int32_t c = 0; c < numChannels; ++c) {
    const PsyOutChannel* o = ch[c];
    const int32_t n = o->bandsPerGroup;
    const bool isShort = o->windowSequence == kEightShortSequence;
    // Threshold exponents.
    for (int32_t i = 0; i < o->numGroups * n; ++i) work[c].thrExp[i] = std::pow(o->threshold[i], 0.25f);
    // Minimum SNR, relaxed for bands well below the channel's mean energy.
    float mean = 0.0f;
    int32_t count = 0;
    for (int32_t g = 0; g < o->numGroups; ++g)
      for (int32_t b = 0; b < o->maxSfb; ++b) {
        mean += o->energy[g * n + b];
        ++count;
      }
    mean = count ? mean / count : 0.0f;
    for (int32_t i = 0; i < o->numGroups * n; ++i) {
      float minSnr = el->minSnr;
      const float e = o->energy[i];
      if (e * el->startRatio < mean) {
        const float dbRatio = 10.0f * std::log10((mean + FLT_MIN) / (e + FLT_MIN));
        const float reduction = std::max(dbRatio * el->redRatioFac + el->redOffs, el->maxRed);
        minSnr = std::min(std::pow(minSnr, reduction), 0.8f);
      }
      r->minSnr[c][i] = minSnr;
    }
    // Hole-avoidance flags.
    const float spreadScale = isShort ? 0.63f : 0.5f;
    for (int32_t i = 0; i < o->numGroups * n; ++i) {
      const float e = o->energy[i];
      const float se = o->spreadEnergy[i] * spreadScale;
      const int32_t b = i % n;
      const int32_t start = isShort ? el->startSfbShort : el->startSfbLong;
      uint8_t flag = el->ahEnabled ? 1 : 0;
      if (e <= o->threshold[i]) flag = 0;
      else if (se < e && r->minSnr[c][i] > 1.0f) flag = 0;
      if (!el->ahEnabled && b < start) flag = 0;
      r->ahFlag[c][i] = flag;
    }
  }
  (void)element;
  // One parameter x moves every threshold, and the element's PE falls as x
  // rises. From x = 0 up, thresholds rise as thr = (thr^(1/4) + x)^4 (loud
  // bands give up relatively little), hole avoidance keeps a band's noise
  // under its minimum SNR, and bands at or under their threshold stay
  // uncoded. Below 0 the frame has bits to spare: every threshold falls by
  // the same factor 2^x down to the threshold in quiet, so the noise stays
  // shaped like the masking threshold, and bands that were under their
  // threshold are coded too. x is found by bisection of the PE.
  float thr[2][kPsyBands];
  auto thresholdsAt = [&](float x) {
    float total = 0.0f;
    const float factor = x < 0.0f ? std::exp2(x) : 1.0f;
    for (int32_t c = 0; c < numChannels; ++c) {
      const PsyOutChannel* o = ch[c];
      const int32_t nb = o->bandsPerGroup;
      for (int32_t i = 0; i < o->numGroups * nb; ++i) {
        const float e = o->energy[i];
        float t = o->threshold[i];
        if (x < 0.0f) {
          t = std::max(t * factor, o->quietThreshold[i]);
        } else if (r->ahFlag[c][i] || e > t) {
          const float base = work[c].thrExp[i] + x;
          t = base * base * base * base;
          if (r->ahFlag[c][i] == 1 && t > e * r->minSnr[c][i]) t = e * r->minSnr[c][i];
          t = std::max(t, o->quietThreshold[i]);
        }
        thr[c][i] = t;
      }
      float l, cp;
      total += channelPe(o, thr[c], work[c], nullptr, &l, &cp);
    }
    return total;
  };
  float newPe = pe - el->peOffset;
  if (std::fabs(newPe - desiredPe) > 0.02f * desiredPe) {
    float lo = 0.0f, hi = 0.0f;
    float goal = desiredPe;
    float bestPe = 0.0f;  // the PE at the range's end
    if (newPe < desiredPe) {
      lo = -40.0f;  // 120 dB finer: beyond any budget
      bestPe = thresholdsAt(lo);
    } else {
      for (int32_t c = 0; c < numChannels; ++c)
        for (int32_t i = 0; i < ch[c]->numGroups * ch[c]->bandsPerGroup; ++i)
          hi = std::max(hi, std::pow(ch[c]->energy[i], 0.25f) - work[c].thrExp[i]);
      hi += 1.0f;
      // At the range's end every band sits at its hole-avoidance limit. The
      // last part of the way there is bought almost only from the loudest
      // bands, a tone's above all: it has few lines, so its PE falls little
      // while its SNR falls to the limit (a tone in light noise at 96 kbit/s
      // in stereo came out 12 dB above its noise). The search stops short of
      // that last twentieth of the possible reduction; the rate loop's common
      // step, or the holes below, make up the rest.
      bestPe = thresholdsAt(hi);
      goal = std::max(desiredPe, bestPe + kKneeShare * (newPe - bestPe));
    }
    float best = newPe < desiredPe ? lo : hi;
    if ((newPe < desiredPe && bestPe <= goal) || (newPe > desiredPe && bestPe >= goal)) {
      newPe = bestPe;  // the goal lies beyond the range: stay at its end
    } else {
      for (int iteration = 0; iteration < 24; ++iteration) {
        const float mid = 0.5f * (lo + hi);
        const float midPe = thresholdsAt(mid);
        if (midPe > goal) lo = mid;
        else hi = mid;
        if (std::fabs(midPe - goal) <= 0.02f * goal) break;
      }
      best = hi;  // the side at or under the goal
      newPe = thresholdsAt(best);
    }
    for (int32_t c = 0; c < numChannels && c < 2; ++c) {
      const int32_t count = std::min<int32_t>(kPsyBands, ch[c]->numGroups * ch[c]->bandsPerGroup);
      for (int32_t i = 0; i < count; ++i) ch[c]->threshold[i] = thr[c][i];
    }
  }
  // Still far above the goal: give up SNR in the highest bands first
  // (minimum SNR 0.8), then open holes in the quietest bands above the start
  // band.
  if (newPe > 1.15f * desiredPe) {
    const float target = 1.05f * desiredPe;
    int32_t maxBands = 0;
    for (int32_t c = 0; c < numChannels; ++c) maxBands = std::max(maxBands, ch[c]->bandsPerGroup);
    for (int32_t b = maxBands - 1; b >= 0 && newPe > target; --b) {
      for (int32_t c = 0; c < numChannels; ++c) {
        PsyOutChannel* o = ch[c];
        if (b >= o->maxSfb) continue;
        for (int32_t g = 0; g < o->numGroups; ++g) {
          const int32_t i = g * o->bandsPerGroup + b;
          const float e = o->energy[i];
          if (r->ahFlag[c][i] == 0 || r->minSnr[c][i] >= 0.8f || e <= o->threshold[i]) continue;
          float oldPe, newBandPe, cp;
          psyBandPe(e, o->threshold[i], work[c].lines[i], &oldPe, &cp);
          r->minSnr[c][i] = 0.8f;
          o->threshold[i] = std::max(o->threshold[i], e * 0.8f);
          psyBandPe(e, o->threshold[i], work[c].lines[i], &newBandPe, &cp);
          newPe += newBandPe - oldPe;
        }
      }
    }
    while (newPe > target) {
      // The quietest band still coded above the start band becomes a hole.
      int32_t bestC = -1, bestI = -1;
      float bestE = 0.0f;
      for (int32_t c = 0; c < numChannels; ++c) {
        const PsyOutChannel* o = ch[c];
        const int32_t start = o->windowSequence == kEightShortSequence ? el->startSfbShort : el->startSfbLong;
        for (int32_t g = 0; g < o->numGroups; ++g)
          for (int32_t b = start; b < o->maxSfb; ++b) {
            const int32_t i = g * o->bandsPerGroup + b;
            if (o->energy[i] <= o->threshold[i]) continue;
            if (bestC < 0 || o->energy[i] < bestE) bestC = c, bestI = i, bestE = o->energy[i];
          }
      }
      if (bestC < 0) break;
      float oldPe, cp;
      psyBandPe(bestE, ch[bestC]->threshold[bestI], work[bestC].lines[bestI], &oldPe, &cp);
      ch[bestC]->threshold[bestI] = bestE;
      r->ahFlag[bestC][bestI] = 0;
      newPe -= oldPe;
    }
  }
  r->pe = newPe + el->peOffset;
}
