// Tonality correlation and patching of the SBR encoder.
#include "ton_corr.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "utillib.h"

namespace {

const TonCorrEstimators* gEstimators = nullptr;

const char kCreateAllocMessage[] = "Memory allocation in function CreateTonCorrParamExtr() failed";
const char kArrayAllocMessage[] = "Memory allocation in function createTonCorrParamExtr() failed";

constexpr double kNormScale = 9.313225746154785e-10;  // 2^-30
constexpr int32_t kMaxNoiseBands = 5;

// Noise bands from the low-resolution table when no noise-floor estimator is
// installed: about two bands per octave of the SBR range, at most five, with
// borders taken from the low-resolution table.
int32_t fallbackNoiseBands(const int32_t* lowRes, int32_t nLow, int32_t* borders) {
  int32_t kx = lowRes[0];
  int32_t k2 = lowRes[nLow];
  int32_t nq = 1;
  if (kx > 0 && k2 > kx) nq = static_cast<int32_t>(std::floor(2.0 * std::log2(static_cast<double>(k2) / kx) + 0.5));
  if (nq < 1) nq = 1;
  if (nq > kMaxNoiseBands) nq = kMaxNoiseBands;
  if (nq > nLow) nq = nLow;
  int32_t idx = 0;
  borders[0] = lowRes[0];
  for (int32_t k = 1; k <= nq; ++k) {
    idx += (nLow - idx) / (nq + 1 - k);
    borders[k] = lowRes[idx];
  }
  return nq;
}

CodecError* makeInvfDetector(HANDLE_TON_CORR h, const int32_t* lowRes, int32_t nLow, int32_t tuning,
                             int32_t codecType, bool reset) {
  int32_t own[kMaxNoiseBands + 1];
  const int32_t* borders = own;
  int32_t count = 0;
  if (gEstimators != nullptr && h->nfEstimator != nullptr && gEstimators->nfBands != nullptr) {
    gEstimators->nfBands(h->nfEstimator, &borders, &count);
  } else {
    count = fallbackNoiseBands(lowRes, nLow, own);
  }
  if (reset) return invfReset(h->invfDetector, borders, count, 0);
  return createInvFiltDetector(&h->invfDetector, codecType, borders, count, tuning);
}

bool validTables(const int32_t* masterTable, int32_t nMaster, const int32_t* const bandTables[2],
                 const int32_t bandCounts[2], int32_t nChannels) {
  if (masterTable == nullptr || nMaster < 1 || nChannels < 1 || nChannels > kTonCorrMaxChannels) return false;
  for (int32_t i = 0; i <= nMaster; ++i) {
    if (masterTable[i] < 0 || masterTable[i] > nChannels) return false;
    if (i > 0 && masterTable[i] <= masterTable[i - 1]) return false;
  }
  for (int32_t t = 0; t < 2; ++t) {
    if (bandTables[t] == nullptr || bandCounts[t] < 1) return false;
    for (int32_t i = 0; i <= bandCounts[t]; ++i)
      if (bandTables[t][i] < 0 || bandTables[t][i] > nChannels) return false;
  }
  return true;
}

}  // namespace

void tonCorrInstallEstimators(const TonCorrEstimators* estimators) { gEstimators = estimators; }

void tonCorrAutoCorr(AutoCorrCoeffs* ac, float** re, float** im, int32_t band, int32_t start, int32_t len) {
  double e0 = 0, e1 = 0, e2 = 0, c01re = 0, c01im = 0, c02re = 0, c02im = 0, c12re = 0, c12im = 0;
  for (int32_t t = start; t < start + len; ++t) {
    const double x0r = re[t][band], x0i = im[t][band];
    const double x1r = re[t - 1][band], x1i = im[t - 1][band];
    const double x2r = re[t - 2][band], x2i = im[t - 2][band];
    e0 += x0r * x0r + x0i * x0i;
    e1 += x1r * x1r + x1i * x1i;
    e2 += x2r * x2r + x2i * x2i;
    c01re += x1r * x0r + x1i * x0i;
    c01im += x1r * x0i - x1i * x0r;
    c02re += x2r * x0r + x2i * x0i;
    c02im += x2r * x0i - x2i * x0r;
    c12re += x2r * x1r + x2i * x1i;
    c12im += x2r * x1i - x2i * x1r;
  }
  ac->e0 = e0;
  ac->e1 = e1;
  ac->e2 = e2;
  ac->c01re = c01re;
  ac->c01im = c01im;
  ac->c02re = c02re;
  ac->c02im = c02im;
  ac->c12re = c12re;
  ac->c12im = c12im;
  ac->det = e1 * e2 - (c12re * c12re + c12im * c12im) * 0.9999990000010025;
}

namespace {

// The autocorrelation of two neighbouring bands at once, one band per lane
// of SSE2 doubles. Each lane does the operations of tonCorrAutoCorr in the
// same order, so the results are the same to the bit.
void autoCorrPair(AutoCorrCoeffs ac[2], float** re, float** im, int32_t band, int32_t start, int32_t len) {
  __m128d e0 = _mm_setzero_pd(), e1 = _mm_setzero_pd(), e2 = _mm_setzero_pd();
  __m128d c01re = _mm_setzero_pd(), c01im = _mm_setzero_pd();
  __m128d c02re = _mm_setzero_pd(), c02im = _mm_setzero_pd();
  __m128d c12re = _mm_setzero_pd(), c12im = _mm_setzero_pd();
  auto load = [band](const float* row) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + band))));
  };
  __m128d x1r = load(re[start - 1]), x1i = load(im[start - 1]);
  __m128d x2r = load(re[start - 2]), x2i = load(im[start - 2]);
  for (int32_t t = start; t < start + len; ++t) {
    const __m128d x0r = load(re[t]), x0i = load(im[t]);
    e0 = _mm_add_pd(e0, _mm_add_pd(_mm_mul_pd(x0r, x0r), _mm_mul_pd(x0i, x0i)));
    e1 = _mm_add_pd(e1, _mm_add_pd(_mm_mul_pd(x1r, x1r), _mm_mul_pd(x1i, x1i)));
    e2 = _mm_add_pd(e2, _mm_add_pd(_mm_mul_pd(x2r, x2r), _mm_mul_pd(x2i, x2i)));
    c01re = _mm_add_pd(c01re, _mm_add_pd(_mm_mul_pd(x1r, x0r), _mm_mul_pd(x1i, x0i)));
    c01im = _mm_add_pd(c01im, _mm_sub_pd(_mm_mul_pd(x1r, x0i), _mm_mul_pd(x1i, x0r)));
    c02re = _mm_add_pd(c02re, _mm_add_pd(_mm_mul_pd(x2r, x0r), _mm_mul_pd(x2i, x0i)));
    c02im = _mm_add_pd(c02im, _mm_sub_pd(_mm_mul_pd(x2r, x0i), _mm_mul_pd(x2i, x0r)));
    c12re = _mm_add_pd(c12re, _mm_add_pd(_mm_mul_pd(x2r, x1r), _mm_mul_pd(x2i, x1i)));
    c12im = _mm_add_pd(c12im, _mm_sub_pd(_mm_mul_pd(x2r, x1i), _mm_mul_pd(x2i, x1r)));
    x2r = x1r;
    x2i = x1i;
    x1r = x0r;
    x1i = x0i;
  }
  double v[9][2];
  _mm_storeu_pd(v[0], e0);
  _mm_storeu_pd(v[1], e1);
  _mm_storeu_pd(v[2], e2);
  _mm_storeu_pd(v[3], c01re);
  _mm_storeu_pd(v[4], c01im);
  _mm_storeu_pd(v[5], c02re);
  _mm_storeu_pd(v[6], c02im);
  _mm_storeu_pd(v[7], c12re);
  _mm_storeu_pd(v[8], c12im);
  for (int32_t k = 0; k < 2; ++k) {
    AutoCorrCoeffs& a = ac[k];
    a.e0 = v[0][k];
    a.e1 = v[1][k];
    a.e2 = v[2][k];
    a.c01re = v[3][k];
    a.c01im = v[4][k];
    a.c02re = v[5][k];
    a.c02im = v[6][k];
    a.c12re = v[7][k];
    a.c12im = v[8][k];
    a.det = a.e1 * a.e2 - (a.c12re * a.c12re + a.c12im * a.c12im) * 0.9999990000010025;
  }
}

}  // namespace

void tonCorrPredictionCoeffs(const AutoCorrCoeffs* ac, double a1[2], double a0[2]) {
  if (ac->det == 0.0) {
    a1[0] = a1[1] = 0.0;
  } else {
    a1[0] = (ac->c01re * ac->c12re - ac->c01im * ac->c12im - ac->c02re * ac->e1) / ac->det;
    a1[1] = (ac->c01im * ac->c12re + ac->c01re * ac->c12im - ac->c02im * ac->e1) / ac->det;
  }
  if (ac->e1 == 0.0) {
    a0[0] = a0[1] = 0.0;
  } else {
    a0[0] = -(ac->c01re + a1[0] * ac->c12re + a1[1] * ac->c12im) / ac->e1;
    a0[1] = -(ac->c01im + a1[1] * ac->c12re - a1[0] * ac->c12im) / ac->e1;
  }
}

void tonCorrCalcQuotas(HANDLE_TON_CORR h, float** re, float** im, int32_t scaleFlag) {
  const int32_t epf = h->estimatesPerFrame;
  const int32_t keep = h->startIndexMatrix;
  // Rotate the row pointers: rows epf.. move to 0.., and the oldest frame's
  // rows become the current frame's rows at the end.
  float* oldQuota[kTonCorrMaxChannels];
  int32_t* oldSign[kTonCorrMaxChannels];
  std::memcpy(oldQuota, h->quotaMatrix, sizeof(float*) * static_cast<size_t>(epf));
  std::memcpy(oldSign, h->signMatrix, sizeof(int32_t*) * static_cast<size_t>(epf));
  std::memmove(h->quotaMatrix, h->quotaMatrix + epf, sizeof(float*) * static_cast<size_t>(keep));
  std::memmove(h->signMatrix, h->signMatrix + epf, sizeof(int32_t*) * static_cast<size_t>(keep));
  std::memcpy(h->quotaMatrix + keep, oldQuota, sizeof(float*) * static_cast<size_t>(epf));
  std::memcpy(h->signMatrix + keep, oldSign, sizeof(int32_t*) * static_cast<size_t>(epf));
  for (int32_t r = keep; r < h->bufferLength; ++r) {
    std::memset(h->quotaMatrix[r], 0, sizeof(float) * static_cast<size_t>(h->nChannels));
    for (int32_t b = 0; b < h->nChannels; ++b) h->signMatrix[r][b] = 1;
  }
  std::memmove(h->nrgVector, h->nrgVector + epf, sizeof(float) * static_cast<size_t>(keep));
  std::memset(h->nrgVector + keep, 0, sizeof(float) * static_cast<size_t>(epf));
  std::memset(h->nrgVectorFreq, 0, sizeof(float) * static_cast<size_t>(h->nChannels));

  const double s = scaleFlag ? 1.0 : kNormScale;
  for (int32_t e = 0; e < epf; ++e) {
    const int32_t start = h->estimateOffset + e * h->estimateStep;
    const int32_t r = keep + e;
    AutoCorrCoeffs pair[2];
    for (int32_t b = 0; b < h->stopBand; ++b) {
      // Bands are taken two at a time; the second of a pair is already done.
      if ((b & 1) == 0) {
        if (b + 1 < h->stopBand) {
          autoCorrPair(pair, re, im, b, start, h->estimateLength);
        } else {
          tonCorrAutoCorr(&pair[0], re, im, b, start, h->estimateLength);
        }
      }
      const AutoCorrCoeffs& ac = pair[b & 1];
      double a1[2], a0[2];
      tonCorrPredictionCoeffs(&ac, a1, a0);
      float quota = 0.0f;
      int32_t sign = 1;
      if (ac.e0 != 0.0) {
        double f = -(a0[0] * ac.c01re + a0[1] * ac.c01im + a1[0] * ac.c02re + a1[1] * ac.c02im) / (ac.e0 + s);
        // Rounding can carry the predicted share past 1 (or below 0); the
        // quota is a non-negative tonality measure either way.
        if (f > 1.0) f = 1.0;
        double q = f / (1.0 - f + static_cast<double>(1e-6f));
        quota = q > 0.0 ? static_cast<float>(q) : 0.0f;
        int32_t k = (ac.e1 == 0.0 || ac.c01re / ac.e1 >= 0.0) ? b - 1 : b;
        sign = (k % 2 == 0) ? 1 : -1;
      }
      h->quotaMatrix[r][b] = quota;
      h->signMatrix[r][b] = sign;
      h->nrgVector[r] += static_cast<float>(ac.e0);
      h->nrgVectorFreq[b] += static_cast<float>(ac.e0);
    }
  }
  if (epf > 0)
    for (int32_t b = 0; b < h->nChannels; ++b) h->nrgVectorFreq[b] /= static_cast<float>(epf);
}

int32_t tonCorrFindClosestEntry(int32_t goal, const int32_t* table, int32_t n, int32_t up) {
  if (table[0] >= goal) return table[0];
  if (goal >= table[n]) return table[n];
  if (up) {
    for (int32_t i = 0; i <= n; ++i)
      if (table[i] >= goal) return table[i];
    return table[n];
  }
  for (int32_t i = n; i >= 0; --i)
    if (table[i] <= goal) return table[i];
  return table[0];
}

CodecError* tonCorrResetPatch(HANDLE_TON_CORR h, int32_t xoverFlag, int32_t highStartBand,
                              const int32_t* v, int32_t n, int32_t sampleRate, int32_t nChannels) {
  if (sampleRate <= 0) return createError(__FILE__, __LINE__, __func__, "invalid sample rate");
  int32_t lsb = v[0];
  const int32_t usb = v[n];
  int32_t offset = highStartBand - lsb;
  if (xoverFlag == 1) {
    lsb += offset;
    offset = 0;
  }
  int32_t goal = static_cast<int32_t>(2.0 * nChannels * 16000.0 / sampleRate + 0.5);
  goal = tonCorrFindClosestEntry(goal, v, n, 1);
  if (std::abs(goal - usb) < 4) goal = usb;

  int32_t source = h->shiftStartBand + offset;
  int32_t target = lsb + offset;
  int32_t p = 0;
  // A pass that adds no patch moves the goal to the top, so a few passes
  // suffice; the bound only stops a malformed table from looping.
  for (int32_t pass = 0; target < usb; ++pass) {
    if (p > kTonCorrMaxPatches - 1 || pass > 4 * kTonCorrMaxPatches)
      return createError(__FILE__, __LINE__, __func__, "Number of patches to high");
    SbrPatch& patch = h->patches[p];
    patch.guardStart = target;
    target += h->guardBands;
    patch.targetStart = target;
    int32_t count = goal - target;
    if (count >= lsb - source) {
      int32_t want = ((target - source) & ~1) + lsb;
      count = tonCorrFindClosestEntry(want, v, n, 0) - target;
    }
    int32_t distance = (count + target - lsb + 1) & ~1;
    if (count > 0) {
      patch.sourceStart = target - distance;
      patch.bandOffset = distance;
      patch.bandCount = count;
      patch.sourceStop = patch.sourceStart + count;
      if (patch.sourceStart < 0 || patch.targetStart + count > kTonCorrMaxChannels)
        return createError(__FILE__, __LINE__, __func__, "invalid master band table");
      target += count;
      ++p;
    }
    source = h->shiftStartBand;
    if (std::abs(target - goal) < 3) goal = usb;
  }
  if (p > 1 && h->patches[p - 1].bandCount < 3) --p;
  if (p > kTonCorrMaxPatches) return createError(__FILE__, __LINE__, __func__, "Number of patches too high");
  h->numPatches = p;

  const int32_t first = p > 0 ? h->patches[0].guardStart : usb;
  for (int32_t i = 0; i < kTonCorrMaxChannels; ++i) h->indexVector[i] = i < first ? i : -1;
  for (int32_t j = 0; j < p; ++j) {
    const SbrPatch& patch = h->patches[j];
    for (int32_t i = patch.guardStart; i < patch.targetStart; ++i) h->indexVector[i] = -1;
    for (int32_t k = 0; k < patch.bandCount; ++k) h->indexVector[patch.targetStart + k] = patch.sourceStart + k;
  }
  return nullptr;
}

void tonCorrDelete(HANDLE_TON_CORR h, int32_t keepDetector) {
  if (h == nullptr) return;
  if (h->quotaMatrix != nullptr)
    for (int32_t r = 0; r < h->bufferLength; ++r) utilFree(h->quotaMatrix[r], __FILE__, __LINE__);
  if (h->signMatrix != nullptr)
    for (int32_t r = 0; r < h->bufferLength; ++r) utilFree(h->signMatrix[r], __FILE__, __LINE__);
  utilFree(h->quotaMatrix, __FILE__, __LINE__);
  utilFree(h->signMatrix, __FILE__, __LINE__);
  utilFree(h->nrgVector, __FILE__, __LINE__);
  utilFree(h->nrgVectorFreq, __FILE__, __LINE__);
  if (gEstimators != nullptr) {
    if (h->nfEstimator != nullptr && gEstimators->nfDelete != nullptr) gEstimators->nfDelete(h->nfEstimator);
    if (!keepDetector && h->mhDetector != nullptr && gEstimators->mhDelete != nullptr)
      gEstimators->mhDelete(h->mhDetector);
  }
  invfDelete(h->invfDetector);
  utilFree(h, __FILE__, __LINE__);
}

CodecError* CreateTonCorrParamExtr(HANDLE_TON_CORR* out, int32_t divisor, int32_t nfPassed1,
                                   int32_t qmfSlots, int32_t dividend, int32_t sampleRate,
                                   int32_t nChannels, int32_t xoverFlag, int32_t highStartBand,
                                   const int32_t* masterTable, int32_t nMaster, int32_t nfPassed2,
                                   const int32_t* const bandTables[2], const int32_t bandCounts[2],
                                   int32_t nfPassed3, int32_t nfPassed4, int32_t useMissingHarmonics,
                                   int32_t sharedPassed, int32_t codecType) {
  if (out == nullptr) return createError(__FILE__, __LINE__, __func__, kCreateAllocMessage);
  *out = nullptr;
  TonCorrState* h = static_cast<TonCorrState*>(utilCalloc(1, sizeof(TonCorrState), __FILE__, __LINE__));
  if (h == nullptr) return createError(__FILE__, __LINE__, __func__, kCreateAllocMessage);
  if (codecType != 0) {
    utilFree(h, __FILE__, __LINE__);
    return createError(__FILE__, __LINE__, __func__, "unknown codec type");
  }
  if (divisor <= 0 || dividend < 0 || qmfSlots < 16 || qmfSlots / 16 > kTonCorrMaxChannels || !validTables(masterTable, nMaster, bandTables, bandCounts, nChannels)) {
    utilFree(h, __FILE__, __LINE__);
    return createError(__FILE__, __LINE__, __func__, "invalid parameters");
  }
  h->estimatesPerFrame = qmfSlots / 16;
  h->bufferLength = static_cast<int32_t>((static_cast<float>(dividend) / static_cast<float>(divisor) + 1.0f) *
                                         static_cast<float>(h->estimatesPerFrame));
  if (h->bufferLength < h->estimatesPerFrame) h->bufferLength = h->estimatesPerFrame;
  h->startIndexMatrix = h->bufferLength - h->estimatesPerFrame;
  h->estimateStep = 16;
  h->estimateLength = 14;
  h->estimateOffset = 2;
  h->transientLead = 4;
  h->nChannels = nChannels;
  h->stopBand = bandTables[1][bandCounts[1]];
  // Inverse filtering looks at the current frame's rows; left at 0 it would
  // never run, since nothing else in the encoder sets these.
  h->runEstimators = 1;
  h->invfStartIndex = h->startIndexMatrix;

  h->nrgVectorFreq = static_cast<float*>(utilCalloc(static_cast<uint32_t>(nChannels), sizeof(float), __FILE__, __LINE__));
  h->nrgVector = static_cast<float*>(utilCalloc(static_cast<uint32_t>(h->bufferLength), sizeof(float), __FILE__, __LINE__));
  h->quotaMatrix = static_cast<float**>(utilCalloc(static_cast<uint32_t>(h->bufferLength), sizeof(float*), __FILE__, __LINE__));
  h->signMatrix = static_cast<int32_t**>(utilCalloc(static_cast<uint32_t>(h->bufferLength), sizeof(int32_t*), __FILE__, __LINE__));
  bool ok = h->nrgVectorFreq && h->nrgVector && h->quotaMatrix && h->signMatrix;
  for (int32_t r = 0; ok && r < h->bufferLength; ++r) {
    h->quotaMatrix[r] = static_cast<float*>(utilCalloc(static_cast<uint32_t>(nChannels), sizeof(float), __FILE__, __LINE__));
    h->signMatrix[r] = static_cast<int32_t*>(utilCalloc(static_cast<uint32_t>(nChannels), sizeof(int32_t), __FILE__, __LINE__));
    ok = h->quotaMatrix[r] && h->signMatrix[r];
  }
  if (!ok) {
    tonCorrDelete(h, 0);
    return createError(__FILE__, __LINE__, __func__, kArrayAllocMessage);
  }
  h->guardBands = 0;
  h->shiftStartBand = 1;
  CodecError* err = tonCorrResetPatch(h, xoverFlag, highStartBand, masterTable, nMaster, sampleRate, nChannels);
  if (err == nullptr && gEstimators != nullptr && gEstimators->nfCreate != nullptr)
    err = gEstimators->nfCreate(&h->nfEstimator, nfPassed1, nfPassed2, nfPassed3, nfPassed4, sharedPassed,
                                bandTables[0], bandCounts[0]);
  if (err == nullptr) err = makeInvfDetector(h, bandTables[0], bandCounts[0], sharedPassed, codecType, false);
  if (err == nullptr && useMissingHarmonics && gEstimators != nullptr && gEstimators->mhCreate != nullptr)
    err = gEstimators->mhCreate(&h->mhDetector, sampleRate, nChannels, qmfSlots, bandTables[1], bandCounts[1]);
  if (err != nullptr) {
    tonCorrDelete(h, 0);
    return appendErrorTrace(__FILE__, __LINE__, __func__, err);
  }
  *out = h;
  return nullptr;
}

CodecError* tonCorrReset(HANDLE_TON_CORR h, int32_t xoverFlag, int32_t highStartBand,
                         const int32_t* masterTable, int32_t nMaster, int32_t sampleRate,
                         const int32_t* const bandTables[2], const int32_t bandCounts[2],
                         int32_t nChannels, int32_t keepDetector) {
  if (h == nullptr || nChannels != h->nChannels || !validTables(masterTable, nMaster, bandTables, bandCounts, nChannels))
    return createError(__FILE__, __LINE__, __func__, "invalid parameters");
  h->guardBands = 0;
  h->shiftStartBand = 1;
  CodecError* err = tonCorrResetPatch(h, xoverFlag, highStartBand, masterTable, nMaster, sampleRate, nChannels);
  if (err == nullptr) h->stopBand = bandTables[1][bandCounts[1]];
  if (err == nullptr && gEstimators != nullptr && h->nfEstimator != nullptr && gEstimators->nfReset != nullptr)
    err = gEstimators->nfReset(h->nfEstimator, bandTables[0], bandCounts[0]);
  if (err == nullptr) err = makeInvfDetector(h, bandTables[0], bandCounts[0], 0, 0, true);
  if (err == nullptr && !keepDetector && h->mhDetector != nullptr && gEstimators != nullptr &&
      gEstimators->mhReset != nullptr)
    err = gEstimators->mhReset(h->mhDetector, bandTables[1], bandCounts[1]);
  return err == nullptr ? nullptr : appendErrorTrace(__FILE__, __LINE__, __func__, err);
}

int32_t tonCorrExtractFrame(HANDLE_TON_CORR h, int32_t* invfModes, float* noiseLevels,
                            int32_t* mhFrameFlag, int32_t* mhBandFlags, int32_t* mhFurther,
                            const SbrFrameInfo* frameInfo, const int32_t* transientResult,
                            int32_t mhPassed, int32_t nSbrBands, int32_t flag, int32_t mode) {
  const int32_t lastBorder = frameInfo->borders[frameInfo->nEnvelopes];
  const bool reported = transientResult[1] != 0;
  const bool late = reported && transientResult[0] + h->transientLead >= lastBorder;
  int32_t transient = 0;
  if (h->transientCarry) {
    transient = 1;
    h->transientCarry = late ? 1 : 0;
  } else if (reported) {
    if (late) {
      h->transientCarry = 1;
    } else {
      transient = 1;
    }
  }
  if (h->runEstimators)
    invfEstimate(h->invfDetector, h->quotaMatrix, h->nrgVector, h->indexVector, h->invfStartIndex,
                 h->invfStartIndex + h->estimatesPerFrame, transient, invfModes, flag);
  if (!flag) {
    if (mode == 2 && h->mhDetector != nullptr && gEstimators != nullptr && gEstimators->mhDetect != nullptr) {
      gEstimators->mhDetect(h->mhDetector, mhBandFlags, mhFrameFlag, mhFurther, h->quotaMatrix, h->signMatrix,
                            h->indexVector, frameInfo, transient, mhPassed, nSbrBands);
    } else {
      *mhFrameFlag = 0;
      for (int32_t i = 0; i < nSbrBands; ++i) mhBandFlags[i] = 0;
    }
  }
  if (h->nfEstimator != nullptr && gEstimators != nullptr && gEstimators->nfEstimate != nullptr)
    return gEstimators->nfEstimate(h->nfEstimator, h->nrgVector, noiseLevels, h->quotaMatrix, h->indexVector,
                                   *mhFrameFlag, h->nfStartIndex, h->estimatesPerFrame, h->bufferLength,
                                   transient, flag);
  for (int32_t i = 0; i < h->invfDetector->numBands; ++i) noiseLevels[i] = 0.0f;
  return 0;
}
