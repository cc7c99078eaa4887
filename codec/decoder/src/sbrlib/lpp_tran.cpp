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

void sbrTranspose(float** re, float** im, const SbrFrameData* fd, LppTrans* t, int usb, int psStartBand) {
  (void)usb;
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
  for (int p = t->lowestSource; p < t->highestSourceStop; p++) {
    // phi(i, j) = sum_n x(n - i) x*(n - j), n over the frame and 6 history slots.
    double r01r = 0, r01i = 0, r02r = 0, r02i = 0, r11 = 0, r12r = 0, r12i = 0, r22 = 0;
    for (int n = 0; n < nLen; n++) {
      int m = n + SBR_HF_ADJ;
      double x0r = re[m][p], x0i = im[m][p];
      double x1r = re[m - 1][p], x1i = im[m - 1][p];
      double x2r = re[m - 2][p], x2i = im[m - 2][p];
      r01r += x0r * x1r + x0i * x1i;
      r01i += x0i * x1r - x0r * x1i;
      r02r += x0r * x2r + x0i * x2i;
      r02i += x0i * x2r - x0r * x2i;
      r11 += x1r * x1r + x1i * x1i;
      r12r += x1r * x2r + x1i * x2i;
      r12i += x1i * x2r - x1r * x2i;
      r22 += x2r * x2r + x2i * x2i;
    }
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
  for (int pi = 0; pi < t->numPatches; pi++) {
    const SbrPatch& pt = t->patches[pi];
    for (int x = 0; x < pt.numBands; x++) {
      int k = pt.targetStart + x;
      int p = pt.sourceStart + x;
      if (k < psStartBand) continue;
      int g = 0;
      while (g < t->nNoise - 1 && k >= t->noiseBorders[g + 1]) g++;
      float b = bw[g];
      float c0r = b * a0r[p], c0i = b * a0i[p];
      float c1r = b * b * a1r[p], c1i = b * b * a1i[p];
      for (int m = first; m < last && m < SBR_TOTAL_SLOTS; m++) {
        float xr = re[m][p], xi = im[m][p];
        if (b > 0.0f) {
          float x1r = re[m - 1][p], x1i = im[m - 1][p];
          float x2r = re[m - 2][p], x2i = im[m - 2][p];
          xr += c0r * x1r - c0i * x1i + c1r * x2r - c1i * x2i;
          xi += c0r * x1i + c0i * x1r + c1r * x2i + c1i * x2r;
        }
        re[m][k] = xr;
        im[m][k] = xi;
      }
    }
  }
}
