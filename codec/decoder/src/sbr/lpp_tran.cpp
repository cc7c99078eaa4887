// LPC patch transposer.
#include "lpp_tran.h"

#include <cmath>
#include <cstring>
#include <new>

SbrError createLppTrans(LppTrans** out, const int* config, int channels, int mode, int slotsPerFrame) {
  *out = nullptr;
  int order = static_cast<int>(config[10] / 20.0);
  if (order != 2) return "unimlemented lpcOrder in createLppTrans()";
  if (mode != 0) return "no setting available for this codec type";
  LppTrans* t = new (std::nothrow) LppTrans();
  if (!t) return "Memory allocation in function createLppTrans() failed";
  t->slotsPerFrame = slotsPerFrame;
  t->lpcOrder = order;
  float chirp;
  std::memcpy(&chirp, &config[12], sizeof(float));
  t->chirpOverride = chirp;
  t->patchStartSubband = config[4] < 1 ? 1 : config[4];
  t->numChannels = channels;
  *out = t;
  return nullptr;
}

void deleteLppTrans(LppTrans** t) {
  if (!t || !*t) return;
  delete *t;
  *t = nullptr;
}

SbrError sbrResetPatches(LppTrans* t, int lsb, const int* master, int nMaster, const int* noise, int nNoise,
                         int fs, int channels, int mode) {
  (void)channels;
  const int k0 = master[0];
  const int kx = lsb;
  const int usbTop = master[nMaster];
  if (kx - t->patchStartSubband < 4) return "Cannot handle given 'LC Patch Startsubband'";
  int goalSb = static_cast<int>(2.0 * 16000 * 64 / fs + 0.5);
  int k;
  if (goalSb < usbTop) {
    k = 0;
    for (int i = 0; i <= nMaster && master[i] < goalSb; i++) k = i + 1;
    if (k > nMaster) k = nMaster;
  } else {
    k = nMaster;
  }
  int numPatches = 0;
  int msb = k0;
  int usb = kx;
  int sb;
  int guard = 0;
  do {
    int j = k + 1;
    int odd;
    do {
      j--;
      sb = master[j];
      odd = (sb - 2 + k0) % 2;
    } while (sb > (k0 - 1 + msb - odd) && j > 0);
    int bands = sb - usb > 0 ? sb - usb : 0;
    int start = k0 - odd - bands;
    if (bands > 0) {
      if (numPatches >= MAX_NUM_PATCHES) return "Error initializing patch parameter";
      if (start < 1) return "Error initializing patch parameter";
      SbrPatch& p = t->patches[numPatches];
      p.numBands = bands;
      p.sourceStart = start;
      p.sourceStop = start + bands;
      p.targetStart = usb;
      p.offset = usb - start;
      usb = sb;
      msb = sb;
      numPatches++;
    } else {
      msb = kx;
    }
    if (master[k] - sb < 3) k = nMaster;
    if (++guard > 64) return "Error initializing patch parameter";
  } while (sb != usbTop);
  if (numPatches > 1 && t->patches[numPatches - 1].numBands < 3) numPatches--;
  if (numPatches < 1 || numPatches > MAX_NUM_PATCHES) return "Error initializing patch parameter";
  t->numPatches = numPatches;
  t->lowestSource = 64;
  t->highestSourceStop = 0;
  t->highestTargetStop = 0;
  for (int i = 0; i < numPatches; i++) {
    const SbrPatch& p = t->patches[i];
    if (p.sourceStart < t->lowestSource) t->lowestSource = p.sourceStart;
    if (p.sourceStop > t->highestSourceStop) t->highestSourceStop = p.sourceStop;
    if (p.targetStart + p.numBands > t->highestTargetStop) t->highestTargetStop = p.targetStart + p.numBands;
  }
  if (mode == 0) {
    t->nNoise = nNoise;
    for (int i = 0; i <= nNoise; i++) t->noiseBorders[i] = noise[i];
  }
  return nullptr;
}

namespace {

float chirpTarget(int mode, int prevMode) {
  switch (mode) {
    case 0: return prevMode == 1 ? 0.6f : 0.0f;
    case 1: return prevMode == 0 ? 0.6f : 0.75f;
    case 2: return 0.9f;
    default: return 0.98f;
  }
}

}  // namespace

namespace {

// Accumulates the covariance terms of one slot for np bands (restrict
// parameters let the compiler run the bands in vector lanes).
void accumulateCovariance(int np, const float* __restrict y0r, const float* __restrict y0i,
                          const float* __restrict y1r, const float* __restrict y1i, const float* __restrict y2r,
                          const float* __restrict y2i, double* __restrict r01r, double* __restrict r01i,
                          double* __restrict r02r, double* __restrict r02i, double* __restrict r11) {
  for (int q = 0; q < np; q++) {
    double x0r = y0r[q], x0i = y0i[q];
    double x1r = y1r[q], x1i = y1i[q];
    double x2r = y2r[q], x2i = y2i[q];
    r01r[q] += x0r * x1r + x0i * x1i;
    r01i[q] += x0i * x1r - x0r * x1i;
    r02r[q] += x0r * x2r + x0i * x2i;
    r02i[q] += x0i * x2r - x0r * x2i;
    r11[q] += x1r * x1r + x1i * x1i;
  }
}

// Second-order prediction of nb bands of one slot from the two slots before.
void predictSlot(int nb, const float* __restrict c0r, const float* __restrict c0i, const float* __restrict c1r,
                 const float* __restrict c1i, const float* __restrict xr0, const float* __restrict xi0,
                 const float* __restrict xr1, const float* __restrict xi1, const float* __restrict xr2,
                 const float* __restrict xi2, float* __restrict dr, float* __restrict di) {
  for (int x = 0; x < nb; x++) {
    dr[x] = xr0[x] + (c0r[x] * xr1[x] - c0i[x] * xi1[x] + c1r[x] * xr2[x] - c1i[x] * xi2[x]);
    di[x] = xi0[x] + (c0r[x] * xi1[x] + c0i[x] * xr1[x] + c1r[x] * xi2[x] + c1i[x] * xr2[x]);
  }
}

}  // namespace

void sbrTranspose(float** re, float** im, SbrFrameData* fd, LppTrans* t, int usb, int psStartBand,
                  int lowPower) {
  // Chirp factors per noise band.
  float bw[MAX_NOISE_COEFFS];
  for (int i = 0; i < t->nNoise; i++) {
    float target = chirpTarget(fd->invfMode[i], t->prevInvfMode[i]);
    if (t->chirpOverride > 0.0f) target = t->chirpOverride;
    float nb = target < t->prevChirp[i] ? 0.75f * target + 0.25f * t->prevChirp[i]
                                        : 0.90625f * target + 0.09375f * t->prevChirp[i];
    if (nb < 0.015625f) nb = 0.0f;
    if (nb >= 0.99609375f) nb = 0.99609375f;
    bw[i] = nb;
    t->prevChirp[i] = nb;
    t->prevInvfMode[i] = fd->invfMode[i];
  }
  const int first = 2 * fd->grid.borders[0] + SBR_HF_ADJ;
  const int last = 2 * fd->grid.borders[fd->grid.numEnv] + SBR_HF_ADJ;
  const int rows = 2 * t->slotsPerFrame + 6;  // frame slots plus history, each with two lags
  // Clear the bands above the patched range in the slots the envelopes cover.
  for (int m = first; m < last && m < SBR_TOTAL_SLOTS; m++)
    for (int k = t->highestTargetStop; k < 64; k++) {
      re[m][k] = 0.0f;
      im[m][k] = 0.0f;
    }
  (void)rows;
  const int nLen = t->slotsPerFrame + 6;
  float a0r[64] = {}, a0i[64] = {}, a1r[64] = {}, a1i[64] = {};
  // phi(i, j) = sum_n x(n - i) x*(n - j), n over the frame and 6 history slots,
  // accumulated for all source bands at once (rows are contiguous in the band).
  int p0 = t->lowestSource, p1 = t->highestSourceStop;
  if (lowPower) {
    // The aliasing degrees need the reflection coefficients of the bands
    // below each source band as well, up to the top of the SBR range.
    std::memset(fd->degreeAlias, 0, sizeof(fd->degreeAlias));
    p0 = p0 - 2 < 1 ? 1 : p0 - 2;
    if (usb > p1) p1 = usb;
    if (p1 > 64) p1 = 64;
  }
  double acc[8][64] = {};
  if (p0 >= 0 && p1 <= 64 && p0 < p1) {
    const int np = p1 - p0;
    double* r01r = acc[0] + p0;
    double* r01i = acc[1] + p0;
    double* r02r = acc[2] + p0;
    double* r02i = acc[3] + p0;
    double* r11 = acc[4] + p0;
    double* r12r = acc[5] + p0;
    double* r12i = acc[6] + p0;
    double* r22 = acc[7] + p0;
    for (int n = 0; n < nLen; n++) {
      int m = n + SBR_HF_ADJ;
      accumulateCovariance(np, re[m] + p0, im[m] + p0, re[m - 1] + p0, im[m - 1] + p0, re[m - 2] + p0,
                           im[m - 2] + p0, r01r, r01i, r02r, r02i, r11);
    }
    // phi(1, 2) and phi(2, 2) are phi(0, 1) and phi(1, 1) one slot earlier:
    // the sums less their newest term, plus the term one slot before the first.
    const int last = nLen - 1 + SBR_HF_ADJ, first = SBR_HF_ADJ;
    for (int q = 0; q < np; q++) {
      const int p = p0 + q;
      const double lr = re[last][p], li = im[last][p], l1r = re[last - 1][p], l1i = im[last - 1][p];
      const double fr = re[first - 1][p], fi = im[first - 1][p], f2r = re[first - 2][p], f2i = im[first - 2][p];
      r12r[q] = r01r[q] - (lr * l1r + li * l1i) + (fr * f2r + fi * f2i);
      r12i[q] = r01i[q] - (li * l1r - lr * l1i) + (fi * f2r - fr * f2i);
      r22[q] = r11[q] - (l1r * l1r + l1i * l1i) + (f2r * f2r + f2i * f2i);
    }
  }
  for (int p = p0; p < p1 && p < 64; p++) {
    if (p < 0) continue;
    double r01r = acc[0][p], r01i = acc[1][p], r02r = acc[2][p], r02i = acc[3][p];
    double r11 = acc[4][p], r12r = acc[5][p], r12i = acc[6][p], r22 = acc[7][p];
    double det = r11 * r22 - (r12r * r12r + r12i * r12i) / (1.0 + 1e-6);
    double b1r = 0, b1i = 0, b0r = 0, b0i = 0;
    if (det != 0.0) {
      // a1 = (phi01 phi12 - phi02 phi11) / det
      b1r = ((r01r * r12r - r01i * r12i) - r02r * r11) / det;
      b1i = ((r01i * r12r + r01r * r12i) - r02i * r11) / det;
    }
    if (r11 != 0.0) {
      // a0 = -(phi01 + a1 conj(phi12)) / phi11
      b0r = -(r01r + b1r * r12r + b1i * r12i) / r11;
      b0i = -(r01i + b1i * r12r - b1r * r12i) / r11;
    }
    // Unstable predictors (and non-finite ones from overflowing input) are dropped.
    if (!(b0r * b0r + b0i * b0i < 16.0) || !(b1r * b1r + b1i * b1i < 16.0)) {
      b0r = b0i = b1r = b1i = 0.0;
    }
    a0r[p] = static_cast<float>(b0r);
    a0i[p] = static_cast<float>(b0i);
    a1r[p] = static_cast<float>(b1r);
    a1i[p] = static_cast<float>(b1i);
  }
  if (lowPower && p0 < p1) {
    // Reflection coefficient of each band: k = -r01 / r11 in -1..1. A
    // component near the lower edge of an even band (or the upper edge of an
    // odd one) gives k near -1, near the other edge k near +1, because odd
    // bands are spectrally inverted. Band p's degree describes its border
    // with band p - 1: where p points at that border, the degree is 1 when
    // p - 1 points at it too, else 1 - k(p - 1)^2; where only p - 1 points
    // at it, the degree is 1 - k(p)^2.
    float refl[64] = {};
    for (int p = p0; p < p1; p++) {
      double r11 = acc[4][p];
      double k = r11 > 1e-38 ? -acc[0][p] / r11 : 0.0;
      if (!(k > -1.0)) k = -1.0;  // also catches NaN
      if (k > 1.0) k = 1.0;
      refl[p] = static_cast<float>(k);
    }
    float degSrc[64] = {};
    for (int p = p0 + 1; p < p1; p++) {
      const float kl = refl[p - 1], kh = refl[p];
      // Edge sign at the border: odd bands point up with k > 0, even bands with k < 0.
      const bool lowerPoints = (p & 1) ? kl > 0.0f : kl < 0.0f;
      const bool upperPoints = (p & 1) ? kh > 0.0f : kh < 0.0f;
      if (upperPoints)
        degSrc[p] = lowerPoints ? 1.0f : 1.0f - kl * kl;
      else if (lowerPoints)
        degSrc[p] = 1.0f - kh * kh;
    }
    // Patch offsets are even, so a target band keeps its source band's parity.
    for (int pi = 0; pi < t->numPatches; pi++) {
      const SbrPatch& pt = t->patches[pi];
      for (int x = 0; x < pt.numBands; x++) {
        int k = pt.targetStart + x, p = pt.sourceStart + x;
        if (k >= 0 && k < 64 && p >= 0 && p < 64) fd->degreeAlias[k] = degSrc[p];
      }
    }
  }
  for (int pi = 0; pi < t->numPatches; pi++) {
    const SbrPatch& pt = t->patches[pi];
    // Bands below the PS start band are left alone: the patch starts above them.
    int x0 = 0;
    while (x0 < pt.numBands && pt.targetStart + x0 < psStartBand) x0++;
    const int nb = pt.numBands - x0;
    if (nb <= 0) continue;
    const int k0 = pt.targetStart + x0, s0 = pt.sourceStart + x0;
    // A zero chirp factor gives zero coefficients: the band is copied unfiltered.
    float c0r[64], c0i[64], c1r[64], c1i[64];
    for (int x = 0; x < nb; x++) {
      int k = k0 + x, p = s0 + x;
      int g = 0;
      while (g < t->nNoise - 1 && k >= t->noiseBorders[g + 1]) g++;
      float b = bw[g];
      if (!(b > 0.0f)) b = 0.0f;
      c0r[x] = b * a0r[p];
      c0i[x] = b * a0i[p];
      c1r[x] = b * b * a1r[p];
      c1i[x] = b * b * a1i[p];
    }
    for (int m = first; m < last && m < SBR_TOTAL_SLOTS; m++)
      predictSlot(nb, c0r, c0i, c1r, c1i, re[m] + s0, im[m] + s0, re[m - 1] + s0, im[m - 1] + s0, re[m - 2] + s0,
                  im[m - 2] + s0, re[m] + k0, im[m] + k0);
  }
}
