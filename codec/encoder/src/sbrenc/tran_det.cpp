// Transient detector and frame splitter of the SBR encoder.
#include "tran_det.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>

#include "utillib.h"

namespace {

// Energy constants are written for the 16-bit sample scale; for samples
// normalised to +-1 they are multiplied by 2^-30.
constexpr float kNormScale = 9.313225746154785e-10f;

float scaled(float v, int32_t scaleFlag) { return scaleFlag ? v : v * kNormScale; }

}  // namespace

CodecError* tranDetCreate(HANDLE_SBR_TRANSIENT_DETECTOR* out, int32_t frameSize, int32_t sampleRate,
                          float bitrateFactor, float tranThreshold, int32_t nBands, float meanFactor,
                          int32_t nCols, int32_t nRows, int32_t lookBack, int32_t bufferRows) {
  if (out == nullptr) return createError(__FILE__, __LINE__, __func__, "out of memory");
  *out = nullptr;
  if (sampleRate <= 0 || nBands < 1 || nBands > kTranDetMaxBands || nCols < 1 || lookBack < 0)
    return createError(__FILE__, __LINE__, __func__, "Too short buffers in transient detector");
  TranDetState* h = static_cast<TranDetState*>(utilCalloc(1, sizeof(TranDetState), __FILE__, __LINE__));
  if (h == nullptr) return createError(__FILE__, __LINE__, __func__, "out of memory");
  float d = static_cast<float>(frameSize) / static_cast<float>(sampleRate) - 0.01f;
  if (d < 0.0001f) d = 0.0001f;
  h->splitThreshold = (0.000075f / (d * d)) * bitrateFactor;
  int32_t win = static_cast<int32_t>(std::floor(sampleRate * 8.0 / 48000.0 + 0.5));
  if (win > lookBack) win = lookBack;
  h->winLength = win;
  h->nSlotsOut = nCols + 2;
  // The variance divides by L - 1: a window of one slot has none.
  if (nCols + 2 + lookBack + 1 > bufferRows || win < 2) {
    utilFree(h, __FILE__, __LINE__);
    return createError(__FILE__, __LINE__, __func__, "Too short buffers in transient detector");
  }
  h->tranThreshold = tranThreshold;
  h->nCols = nCols;
  h->nRows = nRows;
  h->nBands = nBands;
  h->meanFactor = meanFactor;
  h->lookBack = lookBack;
  h->bufferRows = bufferRows;
  h->candidateOpen = 0;
  h->runningMax = 0.0f;
  h->prevLowBandEnergy = 0.0f;
  h->avgHighBandEnergy = 0.0f;
  h->transients = static_cast<float*>(
      utilCalloc(static_cast<uint32_t>(nCols + bufferRows), sizeof(float), __FILE__, __LINE__));
  if (h->transients == nullptr) {
    utilFree(h, __FILE__, __LINE__);
    return createError(__FILE__, __LINE__, __func__, "out of memory");
  }
  *out = h;
  return nullptr;
}

void tranDetDelete(HANDLE_SBR_TRANSIENT_DETECTOR h) {
  if (h == nullptr) return;
  utilFree(h->transients, __FILE__, __LINE__);
  utilFree(h, __FILE__, __LINE__);
}

void tranDetCandidates(int32_t nBands, float** rows, int32_t winLength, float* out,
                       int32_t nSlotsOut, int32_t scaleFlag) {
  const float floorThr = scaled(128000.0f, scaleFlag);
  const int32_t L = winLength;
  const float invL = 1.0f / static_cast<float>(L);
  const float invL1 = 1.0f / static_cast<float>(L - 1);
  // Four bands at a time, one per SSE lane, with the operations of the
  // one-band loop below in the same order; the candidates are added into
  // out[t] band by band as that loop adds them, so the sums are the same.
  int32_t b = 0;
  const __m128 vInvL = _mm_set1_ps(invL);
  const __m128 vInvL1 = _mm_set1_ps(invL1);
  const __m128 vL = _mm_set1_ps(static_cast<float>(L));
  const __m128 vFloor = _mm_set1_ps(floorThr);
  const __m128 vOne = _mm_set1_ps(1.0f);
  const __m128 vZero = _mm_setzero_ps();
  for (; b + 4 <= nBands; b += 4) {
    __m128 sum = vZero;
    __m128 sumSq = vZero;
    for (int32_t t = -L; t < 0; ++t) {
      const __m128 e = _mm_loadu_ps(rows[t] + b);
      sum = _mm_add_ps(sum, e);
      sumSq = _mm_add_ps(sumSq, _mm_mul_ps(e, e));
    }
    __m128 mean = _mm_mul_ps(sum, vInvL);
    __m128 sq = _mm_mul_ps(sumSq, vInvL1);
    for (int32_t t = 0; t < nSlotsOut; ++t) {
      const __m128 enew = _mm_loadu_ps(rows[t] + b);
      const __m128 eold = _mm_loadu_ps(rows[t - L] + b);
      mean = _mm_add_ps(mean, _mm_mul_ps(_mm_sub_ps(enew, eold), vInvL));
      sq = _mm_add_ps(sq, _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(enew, enew), _mm_mul_ps(eold, eold)), vInvL1));
      const __m128 var = _mm_sub_ps(sq, _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(mean, mean), vL), vInvL1));
      // max(var, 0) turns a NaN into 0 as the one-band test does; max(floor,
      // thr) keeps a NaN threshold as it is.
      __m128 thr = _mm_add_ps(_mm_sqrt_ps(_mm_max_ps(var, vZero)), mean);
      thr = _mm_max_ps(vFloor, thr);
      const __m128 delta = _mm_sub_ps(_mm_loadu_ps(rows[t + 1] + b), _mm_loadu_ps(rows[t - 1] + b));
      const __m128 hit = _mm_cmpgt_ps(delta, thr);
      const int32_t mask = _mm_movemask_ps(hit);
      if (mask != 0) {
        float v[4];
        _mm_storeu_ps(v, _mm_sub_ps(_mm_div_ps(delta, thr), vOne));
        for (int32_t k = 0; k < 4; ++k)
          if (mask & (1 << k)) out[t] += v[k];
      }
    }
  }
  for (; b < nBands; ++b) {
    float sum = 0.0f;
    float sumSq = 0.0f;
    for (int32_t t = -L; t < 0; ++t) {
      float e = rows[t][b];
      sum += e;
      sumSq += e * e;
    }
    // Mean and the (L-1)-normalised square term, updated slot by slot.
    float mean = sum * invL;
    float sq = sumSq * invL1;
    for (int32_t t = 0; t < nSlotsOut; ++t) {
      float enew = rows[t][b];
      float eold = rows[t - L][b];
      mean += (enew - eold) * invL;
      sq += (enew * enew - eold * eold) * invL1;
      float var = sq - mean * mean * static_cast<float>(L) * invL1;
      float thr = std::sqrt(var > 0.0f ? var : 0.0f) + mean;
      if (thr < floorThr) thr = floorThr;
      float delta = rows[t + 1][b] - rows[t - 1][b];
      if (delta > thr) out[t] += delta / thr - 1.0f;
    }
  }
}

void tranDetDetect(float** rows, HANDLE_SBR_TRANSIENT_DETECTOR h, int32_t* result, int32_t timeStep,
                   int32_t scaleFlag) {
  result[0] = 0;
  result[1] = 0;
  if (timeStep < 1) timeStep = 1;
  float* T = h->transients;
  const int32_t nCols = h->nCols;
  const int32_t s0 = h->lookBack + nCols;
  std::memmove(T, T + nCols, sizeof(float) * static_cast<size_t>(h->lookBack + nCols));
  std::memset(T + s0, 0, sizeof(float) * static_cast<size_t>(h->nSlotsOut));
  tranDetCandidates(h->nBands, rows + h->lookBack, h->winLength, T + s0, h->nSlotsOut, scaleFlag);

  int32_t W = 2 * h->winLength < s0 ? 2 * h->winLength : s0;
  float mean = 0.0f;
  for (int32_t i = s0 - W; i < s0; ++i) mean += T[i];
  mean /= static_cast<float>(W);
  const float absThr = h->tranThreshold / static_cast<float>(h->nBands);
  const float decayThr = 38400.0f / static_cast<float>(h->nBands);
  for (int32_t i = s0; i < s0 + nCols; ++i) {
    mean += (T[i] - T[i - W]) / static_cast<float>(W);
    if (h->candidateOpen == 0) {
      if (T[i - 1] > absThr && T[i - 1] > T[i] && T[i - 1] > h->meanFactor * mean) h->candidateOpen = 1;
    }
    if (T[i] > h->runningMax) h->runningMax = T[i];
    if (h->candidateOpen == 1 && T[i] < decayThr && T[i + 1] < h->runningMax && T[i + 2] < h->runningMax) {
      result[0] = (i - s0) / timeStep;
      result[1] = 1;
      h->runningMax = 0.0f;
      h->candidateOpen = 0;
      return;
    }
  }
}

float tranDetLowBandEnergy(float** rows, int32_t nCols, int32_t lowBand, int32_t scaleFlag) {
  float e = scaled(1.0f, scaleFlag);
  for (int32_t s = 0; s < nCols; ++s)
    for (int32_t k = 0; k < lowBand; ++k) e += rows[s][k];
  return e;
}

float tranDetHighBandEnergy(float** rows, const int32_t* freqBandTable, int32_t nSfb,
                            int32_t nGroups, int32_t timeStep, int32_t nCols,
                            float m[kTranDetMaxGroups][kTranDetMaxSfb], int32_t scaleFlag) {
  float total = scaled(1.0f, scaleFlag);
  for (int32_t g = 0; g < nGroups; ++g) {
    for (int32_t j = 0; j < nSfb; ++j) {
      float acc = 0.0f;
      for (int32_t s = 2 * g; s < 2 * g + timeStep; ++s) {
        if (s >= nCols) break;  // the merged slots stay inside the frame
        for (int32_t k = freqBandTable[j]; k < freqBandTable[j + 1]; ++k) acc += rows[s][k];
      }
      m[g][j] = acc;
      total += acc;
    }
  }
  return total;
}

float tranDetSpectralChange(const float m[kTranDetMaxGroups][kTranDetMaxSfb], int32_t nSfb,
                            int32_t start, int32_t border, int32_t stop, float total,
                            int32_t scaleFlag) {
  const float len1 = static_cast<float>(border - start);
  const float len2 = static_cast<float>(stop - border);
  if (len1 <= 0.0f || len2 <= 0.0f || total <= 0.0f) return 0.0f;
  const float ratio = len1 / len2;
  const float half = 0.5f - len1 / (len1 + len2);
  const float w = 1.0f - 4.0f * half * half;
  const float floorNrg = scaled(1e6f, scaleFlag);
  float change = 0.0f;
  for (int32_t j = 0; j < nSfb; ++j) {
    float a1 = len1 * floorNrg;
    float a2 = len2 * floorNrg;
    for (int32_t g = start; g < border; ++g) a1 += m[g][j];
    for (int32_t g = border; g < stop; ++g) a2 += m[g][j];
    change += std::fabs(std::log((a2 / a1) * ratio)) * std::sqrt(a1 + a2);
  }
  return change / std::sqrt(total) * w;
}

void tranDetSplitFrame(float** rows, HANDLE_SBR_TRANSIENT_DETECTOR h, const int32_t* freqBandTable,
                       int32_t nSfb, int32_t timeStep, int32_t nCols, int32_t* result,
                       int32_t scaleFlag) {
  if (result[1] == 1) return;
  if (timeStep < 1) timeStep = 1;
  if (nCols > h->nCols) nCols = h->nCols;  // never past the rows the buffer holds
  int32_t nGroups = nCols / timeStep;
  if (nGroups > kTranDetMaxGroups) nGroups = kTranDetMaxGroups;
  if (nSfb > kTranDetMaxSfb) nSfb = kTranDetMaxSfb;
  float** frame = rows + h->lookBack;
  float low = tranDetLowBandEnergy(frame, nCols, freqBandTable[0], scaleFlag);
  float m[kTranDetMaxGroups][kTranDetMaxSfb];
  float high = tranDetHighBandEnergy(frame, freqBandTable, nSfb, nGroups, timeStep, nCols, m, scaleFlag);
  float total = (h->prevLowBandEnergy + low) * 0.5f + high;
  h->avgHighBandEnergy = nGroups > 0 && nSfb > 0 ? high / static_cast<float>(nGroups * nSfb) : 0.0f;
  float change = tranDetSpectralChange(m, nSfb, 0, (nGroups + 1) / 2, nGroups, total, scaleFlag);
  result[0] = change > h->splitThreshold ? 1 : 0;
  h->prevLowBandEnergy = low;
}
