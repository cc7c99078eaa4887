// Spectral tools of the AAC-LC core: noise substitution, mid/side and
// intensity stereo, and the TNS filters.
#include <cmath>

#include "channel_parts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace aacchannel {
namespace {

const double kPi = 3.14159265358979323846;

inline uint32_t nextRandom(uint32_t s) { return s * 1664525u + 1013904223u; }

}  // namespace

// Fills the noise bands of a channel. With `shared` (the left channel of a
// pair) bands flagged in msUsed that are noise in both channels reuse the
// left channel's random state, so both channels get the same noise.
void noiseSubstitution(AacChannel* ch, const AacChannel* left, const uint8_t (*msUsed)[AAC_MAX_SFB]) {
  const AacIcsInfo& ics = ch->ics;
  const float invM = 1.0f / static_cast<float>(ics.windowLength);
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      if (ch->sfbCb[g][s] != AAC_NOISE_HCB) continue;
      const bool correlated = left && msUsed && msUsed[g][s] && left->sfbCb[g][s] == AAC_NOISE_HCB;
      uint32_t state = correlated ? left->noiseState[g][s] : ch->randomState;
      ch->noiseState[g][s] = state;
      const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
      // The band's energy is 2^(0.5 x noise energy), the energy being kept
      // without the scale factors' offset of 100.
      const double target = std::pow(2.0, 0.25 * (ch->sf[g][s] + 100));
      for (int w = 0; w < groupLen; ++w) {
        float* x = ch->spec + (win + w) * ics.windowLength;
        double energy = 0.0;
        for (int k = start; k < end; ++k) {
          state = nextRandom(state);
          const float v = static_cast<float>(static_cast<int32_t>(state));
          x[k] = v;
          energy += static_cast<double>(v) * v;
        }
        const float scale = energy > 0.0 ? static_cast<float>(target / std::sqrt(energy)) * invM : 0.0f;
        for (int k = start; k < end; ++k) x[k] *= scale;
      }
      if (!correlated) ch->randomState = state;
    }
    win += groupLen;
  }
}

void midSide(AacElement* e) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  const AacIcsInfo& ics = l->ics;
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      if (!e->msUsed[g][s]) continue;
      const int cbl = l->sfbCb[g][s], cbr = r->sfbCb[g][s];
      const bool noiseL = cbl == AAC_NOISE_HCB, noiseR = cbr == AAC_NOISE_HCB;
      const bool isR = cbr == AAC_INTENSITY_HCB || cbr == AAC_INTENSITY_HCB2;
      // (Two zero bands stay zero.)
      if (!noiseL && !noiseR && !isR && (cbl != AAC_ZERO_HCB || cbr != AAC_ZERO_HCB)) {
        const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
        for (int w = 0; w < groupLen; ++w) {
          float* a = l->spec + (win + w) * ics.windowLength;
          float* b = r->spec + (win + w) * ics.windowLength;
          int k = start;
#if defined(__SSE2__)
          for (; k + 4 <= end; k += 4) {
            const __m128 m = _mm_loadu_ps(a + k), sd = _mm_loadu_ps(b + k);
            _mm_storeu_ps(a + k, _mm_add_ps(m, sd));
            _mm_storeu_ps(b + k, _mm_sub_ps(m, sd));
          }
#endif
          for (; k < end; ++k) {
            const float m = a[k], sd = b[k];
            a[k] = m + sd;
            b[k] = m - sd;
          }
        }
      }
      if ((noiseL && !noiseR && !isR) || (noiseR && !noiseL)) e->msUsed[g][s] = 0;
    }
    win += groupLen;
  }
}

void intensityStereo(AacElement* e) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  const AacIcsInfo& ics = r->ics;
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      const int cb = r->sfbCb[g][s];
      if (cb != AAC_INTENSITY_HCB && cb != AAC_INTENSITY_HCB2) continue;
      float scale = static_cast<float>(std::pow(0.5, 0.25 * r->sf[g][s]));
      if (cb == AAC_INTENSITY_HCB2) scale = -scale;
      if (e->msUsed[g][s]) scale = -scale;
      const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
      for (int w = 0; w < groupLen; ++w) {
        const float* a = l->spec + (win + w) * ics.windowLength;
        float* b = r->spec + (win + w) * ics.windowLength;
        for (int k = start; k < end; ++k) b[k] = a[k] * scale;
      }
    }
    win += groupLen;
  }
}

void applyTns(AacChannel* ch) {
  const AacIcsInfo& ics = ch->ics;
  const AacTnsData& t = ch->tns;
  for (int w = 0; w < ics.numWindows; ++w) {
    float* x = ch->spec + w * ics.windowLength;
    int bottom = ics.numSwb;
    for (int f = 0; f < t.numFilters[w]; ++f) {
      const AacTnsFilter& flt = t.filter[w][f];
      const int top = bottom;
      bottom = top - flt.length;
      if (bottom < 0) bottom = 0;
      const int order = flt.order;
      if (!order) continue;
      // Coefficients to reflection coefficients, then to direct form.
      const int res = t.coefRes[w] + 2;
      const double fpos = ((1 << res) - 0.5) / (kPi / 2.0);
      const double fneg = ((1 << res) + 0.5) / (kPi / 2.0);
      float a[21], b[21];
      a[0] = 1.0f;
      for (int m = 1; m <= order; ++m) {
        const int c = flt.coef[m - 1];
        const float k = static_cast<float>(std::sin(c / (c >= 0 ? fpos : fneg)));
        for (int i = 1; i < m; ++i) b[i] = a[i] + k * a[m - i];
        for (int i = 1; i < m; ++i) a[i] = b[i];
        a[m] = k;
      }
      int lo = bottom < ics.tnsMaxBands ? bottom : ics.tnsMaxBands;
      if (lo > ics.maxSfb) lo = ics.maxSfb;
      int hi = top < ics.tnsMaxBands ? top : ics.tnsMaxBands;
      if (hi > ics.maxSfb) hi = ics.maxSfb;
      const int start = ics.swbOffset[lo], end = ics.swbOffset[hi];
      const int size = end - start;
      if (size <= 0) continue;
      float state[20] = {0};
      int pos = flt.direction ? end - 1 : start;
      const int inc = flt.direction ? -1 : 1;
      for (int n = 0; n < size; ++n, pos += inc) {
        float y = x[pos];
        for (int i = 0; i < order; ++i) y -= a[i + 1] * state[i];
        for (int i = order - 1; i > 0; --i) state[i] = state[i - 1];
        state[0] = y;
        x[pos] = y;
      }
    }
  }
}

}  // namespace aacchannel
