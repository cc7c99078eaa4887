// SBR envelope adjuster.
#include "env_calc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

SbrError createSbrEnvelopeCalc(SbrEnvCalc** out, int slotsPerFrame, int timeSlots, int mode) {
  (void)slotsPerFrame;
  (void)timeSlots;
  (void)mode;
  *out = nullptr;
  SbrEnvCalc* ec = new (std::nothrow) SbrEnvCalc();
  if (!ec) return "Memory allocation in function createSbrEnvelopeCalc() failed";
  *out = ec;
  return nullptr;
}

void deleteSbrEnvelopeCalc(SbrEnvCalc** ec) {
  if (!ec || !*ec) return;
  delete *ec;
  *ec = nullptr;
}

SbrError resetSbrEnvelopeCalc(SbrEnvCalc* ec, SbrHeader* h, int fs, int channels, int slotsPerFrame, int mode) {
  (void)slotsPerFrame;
  (void)mode;
  SbrFreqTables& ft = ec->ft;
  ec->filterStart = 1;
  ec->noiseIndex = 0;
  int k0, k2;
  SbrError err = sbrFindStartAndStopBand(fs, channels, h->startFreq, h->stopFreq, 0, &k0, &k2);
  if (err) return err;
  err = calcMasterFrequencyBandTable(ft.master, &ft.nMaster, k0, k2, h->freqScale, h->alterScale);
  if (err) return err;
  if (h->xoverBand >= ft.nMaster || ft.master[h->xoverBand] > 64) return "xover_band out of range";
  updateHighResFreqTable(ft.high, &ft.nHigh, ft.master, ft.nMaster, h->xoverBand);
  if (ft.nHigh > MAX_FREQ_COEFFS) return "Sbr resolution index wrong in function resetSbrEnvelopeCalc()";
  updateLowResFreqTable(ft.low, &ft.nLow, ft.high, ft.nHigh);
  if (ft.nLow < 1 || ft.nLow > 24) return "Sbr resolution index wrong in function resetSbrEnvelopeCalc()";
  ft.lsb = ft.low[0];
  ft.usb = ft.low[ft.nLow];
  if (ft.lsb > channels / 2) return "lsb too large in function resetSbrEnvelopeCalc()";
  if (ft.usb <= ft.lsb) return "lsb greater or equal usb in function resetSbrEnvelopeCalc()";
  int nq = 1;
  if (h->noiseBands != 0) {
    nq = static_cast<int>(h->noiseBands * std::log2(static_cast<double>(ft.usb) / ft.lsb) + 0.5);
    if (nq == 0) nq = 1;
  }
  if (nq > MAX_NOISE_COEFFS) return "noNoiseBands exeeds MAX_NOISE_COEFFS";
  h->numNoiseBands = nq;
  ft.nNoise = nq;
  updateNoiseFreqTable(ft.noise, nq, ft.low, ft.nLow);
  return nullptr;
}

SbrError sbrResetLimiterBands(int* lim, int* nLim, const int* low, int nLow, const LppTrans* t, int limiterBands) {
  const int lsb = low[0], usb = low[nLow];
  if (limiterBands == 0) {
    lim[0] = 0;
    lim[1] = usb - lsb;
    *nLim = 1;
    return nullptr;
  }
  int table[MAX_FREQ_COEFFS + MAX_NUM_PATCHES + 2];
  int patchBorders[MAX_NUM_PATCHES + 1];
  int np = t->numPatches;
  patchBorders[0] = lsb;
  for (int i = 0; i < np; i++) patchBorders[i + 1] = patchBorders[i] + t->patches[i].numBands;
  int n = 0;
  for (int i = 0; i <= nLow; i++) table[n++] = low[i];
  for (int i = 1; i < np; i++) table[n++] = patchBorders[i];
  std::sort(table, table + n);
  // The top of the SBR range counts as a patch border even when a short last
  // patch was dropped.
  auto isPatchBorder = [&](int v) {
    if (v == usb) return true;
    for (int i = 0; i <= np; i++)
      if (patchBorders[i] == v) return true;
    return false;
  };
  const double perOctave = sbrtab::limiterBandsPerOctave[limiterBands & 3];
  int count = n - 1;  // bands
  int k = 1;
  while (k <= count) {
    double octaves = std::log2(static_cast<double>(table[k]) / table[k - 1]);
    if (octaves * perOctave < 0.49) {
      if (table[k] == table[k - 1]) {
        table[k] = usb;
      } else if (isPatchBorder(table[k])) {
        if (isPatchBorder(table[k - 1])) {
          k++;
          continue;
        }
        table[k - 1] = usb;
      } else {
        table[k] = usb;
      }
      std::sort(table, table + count + 1);
      count--;
      continue;
    }
    k++;
  }
  if (count > MAX_NUM_LIMITERS) return "noLimiterBands exeeds MAX_NUM_LIMITERS";
  for (int i = 0; i <= count; i++) lim[i] = table[i] - lsb;
  *nLim = count;
  return nullptr;
}

namespace {

// Weight of a sinusoid's terms in its two neighbouring bands (real-valued path).
constexpr float kSineNeighbour = 0.00815f;

// acc[m] += a[m]^2 + b[m]^2 over n bands.
void addEnergy(int n, const float* __restrict a, const float* __restrict b, float* __restrict acc) {
  int m = 0;
#if defined(__SSE2__)
  for (; m + 4 <= n; m += 4) {
    const __m128 x = _mm_loadu_ps(a + m), y = _mm_loadu_ps(b + m);
    _mm_storeu_ps(acc + m, _mm_add_ps(_mm_loadu_ps(acc + m), _mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y))));
  }
#endif
  for (; m < n; m++) acc[m] += a[m] * a[m] + b[m] * b[m];
}

// Low-power alias reduction. The real-valued banks cancel the alias between
// two neighbouring bands only when both get the same gain, so adjacent bands
// with a non-zero aliasing degree (and no sinusoid) are grouped, at most 4 at
// a time, and each band's energy gain is pulled towards the group's mean by
// the larger degree of its two borders; the group keeps its total energy.
void reduceAliasing(float* gain, const float* est, const float* sMapped, const bool* psSkip,
                    const float* degreeAlias, int kx, int M) {
  auto inGroup = [&](int m) {
    const int k = m + kx;
    return k < 64 && degreeAlias[k] != 0.0f && sMapped[m] == 0.0f && !psSkip[m];
  };
  int m = 0;
  while (m < M) {
    if (!inGroup(m)) {
      m++;
      continue;
    }
    int end = m + 1;
    while (end < M && end - m < 4 && inGroup(end)) end++;
    if (end - m > 1) {
      float sumGE = 0.0f, sumE = 0.0f;
      for (int j = m; j < end; j++) {
        sumGE += gain[j] * est[j];
        sumE += est[j];
      }
      const float mean = sumGE / (sumE + 1e-12f);
      float sumNew = 0.0f;
      for (int j = m; j < end; j++) {
        const int k = j + kx;
        float a = degreeAlias[k];
        if (k + 1 < 64 && degreeAlias[k + 1] > a) a = degreeAlias[k + 1];
        gain[j] = (1.0f - a) * gain[j] + a * mean;
        sumNew += gain[j] * est[j];
      }
      const float norm = sumGE / (sumNew + 1e-12f);
      for (int j = m; j < end; j++) gain[j] *= norm;
    }
    m = end;
  }
}

}  // namespace

void sbrAdjustEnvelope(SbrEnvCalc* ec, const SbrHeader* h, SbrFrameData* fd, float** re, float** im,
                       int lowPower, int psStartBand) {
  const SbrFreqTables& ft = ec->ft;
  const SbrGrid& g = fd->grid;
  const int kx = ft.lsb, usb = ft.usb;
  const int M = usb - kx;
  if (M <= 0) return;
  const int* tables[2] = {ft.low, ft.high};
  const int nb[2] = {ft.nLow, ft.nHigh};

  // Sinusoid positions of this frame by QMF band.
  int sIndex[64] = {};
  for (int i = 0; i < ft.nHigh; i++)
    if (fd->addHarmonic[i]) sIndex[(ft.high[i] + ft.high[i + 1]) >> 1] = 1;

  const int lA = g.transientIdx;
  int noiseEnv = 0;
  int envPos = 0;
  float eOrig[64], qOrig[64], eCurr[64], sMapped[64], gain[64], qM[64], sM[64];
  int sIdxMapped[64];
  for (int l = 0; l < g.numEnv; l++) {
    const int res = g.freqRes[l];
    const int* tab = tables[res];
    const int nBands = nb[res];
    if (g.numNoiseEnv > 1 && g.borders[l] >= g.noiseBorders[1]) noiseEnv = 1;
    const int iStart = 2 * g.borders[l], iEnd = 2 * g.borders[l + 1];
    const bool transient = (l == lA) || (l == 0 && ec->prevTransient == 0);
    // Map envelope and noise values onto QMF bands.
    for (int b = 0; b < nBands; b++)
      for (int k = tab[b]; k < tab[b + 1]; k++) eOrig[k - kx] = fd->env[envPos + b];
    for (int b = 0; b < ft.nNoise; b++)
      for (int k = ft.noise[b]; k < ft.noise[b + 1]; k++) qOrig[k - kx] = fd->noise[noiseEnv][b];
    // Sinusoids: start at the transient envelope, or continue from the previous frame.
    for (int m = 0; m < M; m++) {
      int k = m + kx;
      sIdxMapped[m] = (sIndex[k] && (l >= lA || ec->harmonicPrev[k])) ? 1 : 0;
    }
    for (int b = 0; b < nBands; b++) {
      int any = 0;
      for (int k = tab[b]; k < tab[b + 1]; k++) any |= sIdxMapped[k - kx];
      for (int k = tab[b]; k < tab[b + 1]; k++) sMapped[k - kx] = static_cast<float>(any);
    }
    // Energy of the transposed signal.
    const float inv = 1.0f / static_cast<float>(iEnd - iStart);
    if (h->interpolFreq) {
      // Row by row (contiguous bands); each band still sums its slots in order.
      float acc[64] = {};
      const int nm = M < 64 ? M : 64;
      for (int i = iStart; i < iEnd; i++) {
        int r = i + SBR_HF_ADJ;
        addEnergy(nm, re[r] + kx, lowPower ? re[r] + kx : im[r] + kx, acc);
      }
      for (int m = 0; m < nm; m++) eCurr[m] = acc[m] * inv;
    } else {
      for (int b = 0; b < nBands; b++) {
        float s = 0.0f;
        for (int k = tab[b]; k < tab[b + 1]; k++)
          for (int i = iStart; i < iEnd; i++) {
            int r = i + SBR_HF_ADJ;
            s += re[r][k] * re[r][k] + (lowPower ? re[r][k] * re[r][k] : im[r][k] * im[r][k]);
          }
        s = s * inv / static_cast<float>(tab[b + 1] - tab[b]);
        for (int k = tab[b]; k < tab[b + 1]; k++) eCurr[k - kx] = s;
      }
    }
    // Gains, noise and sine levels.
    bool psSkip[64] = {};
    for (int b = 0; b < nBands; b++)
      if (tab[b] < psStartBand)
        for (int k = tab[b]; k < tab[b + 1]; k++) psSkip[k - kx] = true;
    for (int m = 0; m < M; m++) {
      float E = eOrig[m], Q = qOrig[m];
      qM[m] = E * Q / (1.0f + Q);
      sM[m] = sIdxMapped[m] ? E / (1.0f + Q) : 0.0f;
      if (sMapped[m] != 0.0f)
        gain[m] = E / (1.0f + eCurr[m]) * Q / (1.0f + Q);
      else if (transient)
        gain[m] = E / (1.0f + eCurr[m]);
      else
        gain[m] = E / ((1.0f + eCurr[m]) * (1.0f + Q));
      if (psSkip[m]) {
        gain[m] = 1.0f;
        qM[m] = 0.0f;
        sM[m] = 0.0f;
      }
    }
    // Limiter and gain compensation.
    const float limGain = sbrtab::limiterGains[h->limiterGains & 3];
    for (int c = 0; c < ft.nLim; c++) {
      int a = ft.lim[c], z = ft.lim[c + 1];
      if (a + kx < psStartBand) continue;
      float sumE = 0.0f, sumC = 0.0f;
      for (int m = a; m < z; m++) {
        sumE += eOrig[m];
        sumC += eCurr[m];
      }
      float gMax = sumE / (sumC + 1e-12f) * limGain;
      if (gMax > 1e10f) gMax = 1e10f;
      for (int m = a; m < z; m++) {
        if (gain[m] > gMax) {
          qM[m] = qM[m] * gMax / gain[m];
          gain[m] = gMax;
        }
      }
      float den = 0.0f;
      for (int m = a; m < z; m++) {
        den += eCurr[m] * gain[m] + sM[m];
        if (sM[m] == 0.0f && !transient) den += qM[m];
      }
      float boost = sumE / (den + 1e-12f);
      if (boost > 2.5118864f) boost = 2.5118864f;
      for (int m = a; m < z; m++) {
        gain[m] *= boost;
        qM[m] *= boost;
        sM[m] *= boost;
      }
    }
    if (lowPower) reduceAliasing(gain, eCurr, sMapped, psSkip, fd->degreeAlias, kx, M);
    for (int m = 0; m < M; m++) {
      gain[m] = std::sqrt(gain[m]);
      qM[m] = std::sqrt(qM[m]);
      sM[m] = std::sqrt(sM[m]);
    }
    if (ec->filterStart) {
      for (int j = 0; j < 4; j++) {
        std::memcpy(ec->gainHist[j], gain, sizeof(float) * M);
        std::memcpy(ec->noiseHist[j], qM, sizeof(float) * M);
      }
      ec->filterStart = 0;
    }
    // The real-valued path applies each envelope's gains as they are.
    const bool smooth = h->smoothingMode == 0 && !transient && !lowPower;
    // Complex path: noise only where no sinusoid is and the envelope is not
    // a transient one; bands below the parametric-stereo start keep their
    // values (yet draw their noise entries).
    alignas(16) uint32_t noiseMask[64];
    float sgnS[64];
    int m0 = psStartBand - kx;
    if (m0 < 0) m0 = 0;
    for (int m = 0; m < M; m++) {
      noiseMask[m] = (sM[m] == 0.0f && !transient) ? 0xFFFFFFFFu : 0u;
      sgnS[m] = ((m + kx) & 1) ? -sM[m] : sM[m];
    }
    for (int i = iStart; i < iEnd && !lowPower; i++) {
      const int r = i + SBR_HF_ADJ;
      float* xr = re[r] + kx;
      float* xi = im[r] + kx;
      float gs[64], qs[64];
      const float* gf = gain;
      const float* qf = qM;
      if (smooth) {
        for (int m = 0; m < M; m++) {
          gs[m] = gain[m] * sbrtab::hSmooth[0] + ec->gainHist[3][m] * sbrtab::hSmooth[1] +
                  ec->gainHist[2][m] * sbrtab::hSmooth[2] + ec->gainHist[1][m] * sbrtab::hSmooth[3] +
                  ec->gainHist[0][m] * sbrtab::hSmooth[4];
          qs[m] = qM[m] * sbrtab::hSmooth[0] + ec->noiseHist[3][m] * sbrtab::hSmooth[1] +
                  ec->noiseHist[2][m] * sbrtab::hSmooth[2] + ec->noiseHist[1][m] * sbrtab::hSmooth[3] +
                  ec->noiseHist[0][m] * sbrtab::hSmooth[4];
        }
        gf = gs;
        qf = qs;
      }
      // Band m takes noise entry noiseIndex + m + 1 (zero where no noise is
      // added); the entries of a slot are consecutive unless they wrap.
      const int n0 = (ec->noiseIndex + 1) & 511;
      ec->noiseIndex = (ec->noiseIndex + M) & 511;
      const float pr = sbrtab::harmonicPhaseRe[ec->phaseIndex], pim = sbrtab::harmonicPhaseIm[ec->phaseIndex];
      int m = m0;
#if defined(__SSE2__)
      if (n0 + M <= 512) {
        const __m128 vpr = _mm_set1_ps(pr), vpi = _mm_set1_ps(pim);
        for (; m + 4 <= M; m += 4) {
          const float* nz = sbrtab::noiseTable[n0 + m];
          const __m128 a = _mm_loadu_ps(nz), b = _mm_loadu_ps(nz + 4);
          const __m128 q = _mm_and_ps(_mm_loadu_ps(qf + m), _mm_load_ps(reinterpret_cast<const float*>(noiseMask + m)));
          const __m128 g = _mm_loadu_ps(gf + m);
          __m128 yr = _mm_mul_ps(_mm_loadu_ps(xr + m), g);
          __m128 yi = _mm_mul_ps(_mm_loadu_ps(xi + m), g);
          yr = _mm_add_ps(_mm_add_ps(yr, _mm_mul_ps(_mm_loadu_ps(sM + m), vpr)),
                          _mm_mul_ps(q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
          yi = _mm_add_ps(_mm_add_ps(yi, _mm_mul_ps(_mm_loadu_ps(sgnS + m), vpi)),
                          _mm_mul_ps(q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
          _mm_storeu_ps(xr + m, yr);
          _mm_storeu_ps(xi + m, yi);
        }
      }
#endif
      for (; m < M; m++) {
        const float* nz = sbrtab::noiseTable[(n0 + m) & 511];
        const float q = noiseMask[m] ? qf[m] : 0.0f;
        xr[m] = xr[m] * gf[m] + sM[m] * pr + q * nz[0];
        xi[m] = xi[m] * gf[m] + sgnS[m] * pim + q * nz[1];
      }
      ec->phaseIndex = (ec->phaseIndex + 1) & 3;
      std::memmove(ec->gainHist[0], ec->gainHist[1], sizeof(ec->gainHist[0]) * 3);
      std::memmove(ec->noiseHist[0], ec->noiseHist[1], sizeof(ec->noiseHist[0]) * 3);
      std::memcpy(ec->gainHist[3], gain, sizeof(float) * M);
      std::memcpy(ec->noiseHist[3], qM, sizeof(float) * M);
    }
    for (int i = iStart; i < iEnd && lowPower; i++) {
      const int r = i + SBR_HF_ADJ;
      float* xr = re[r];
      float* xi = im[r];
      // Real-valued path: a sinusoid in band k needs small opposite terms in
      // bands k - 1 and k + 1 in the slots where its real part is zero, or the
      // real synthesis bank leaves an image about 39 dB below it. Collected
      // here and added after the gains, so no band's gain scales them.
      float leak[65] = {};
      int sines = 0;
      for (int m = 0; m < M; m++) {
        float gf, qf;
        if (smooth) {
          gf = gain[m] * sbrtab::hSmooth[0] + ec->gainHist[3][m] * sbrtab::hSmooth[1] +
               ec->gainHist[2][m] * sbrtab::hSmooth[2] + ec->gainHist[1][m] * sbrtab::hSmooth[3] +
               ec->gainHist[0][m] * sbrtab::hSmooth[4];
          qf = qM[m] * sbrtab::hSmooth[0] + ec->noiseHist[3][m] * sbrtab::hSmooth[1] +
               ec->noiseHist[2][m] * sbrtab::hSmooth[2] + ec->noiseHist[1][m] * sbrtab::hSmooth[3] +
               ec->noiseHist[0][m] * sbrtab::hSmooth[4];
        } else {
          gf = gain[m];
          qf = qM[m];
        }
        const int k = m + kx;
        ec->noiseIndex = (ec->noiseIndex + 1) & 511;
        if (k < psStartBand) continue;
        float yr = xr[k] * gf, yi = xi[k] * gf;
        if (sM[m] != 0.0f) {
          float sign = (k & 1) ? -1.0f : 1.0f;
          yr += sM[m] * sbrtab::harmonicPhaseRe[ec->phaseIndex];
          yi += sM[m] * sign * sbrtab::harmonicPhaseIm[ec->phaseIndex];
          if (lowPower && sines < 16 && k < 63) {
            const float l = kSineNeighbour * sM[m] * sign * sbrtab::harmonicPhaseIm[ec->phaseIndex];
            leak[k] -= l;  // band k - 1, stored one up
            leak[k + 2] += l;
            sines++;
          }
        } else if (!transient) {
          yr += qf * sbrtab::noiseTable[ec->noiseIndex][0];
          yi += qf * sbrtab::noiseTable[ec->noiseIndex][1];
        }
        xr[k] = yr;
        xi[k] = yi;
      }
      if (sines)
        for (int k = 0; k < 64; k++) xr[k] += leak[k + 1];
      ec->phaseIndex = (ec->phaseIndex + 1) & 3;
      // Shift the gain history by one slot.
      std::memmove(ec->gainHist[0], ec->gainHist[1], sizeof(ec->gainHist[0]) * 3);
      std::memmove(ec->noiseHist[0], ec->noiseHist[1], sizeof(ec->noiseHist[0]) * 3);
      std::memcpy(ec->gainHist[3], gain, sizeof(float) * M);
      std::memcpy(ec->noiseHist[3], qM, sizeof(float) * M);
    }
    envPos += nBands;
    if (l == g.numEnv - 1) {
      std::memset(ec->harmonicPrev, 0, sizeof(ec->harmonicPrev));
      for (int m = 0; m < M; m++) ec->harmonicPrev[m + kx] = sIdxMapped[m];
    }
  }
  ec->prevTransient = (lA == g.numEnv) ? 0 : -1;
}
