// Inverse-filtering estimation of the SBR encoder.
#include "invf_est.h"

#include <cmath>
#include <cstring>

#include "utillib.h"

namespace {

const InvfDetectorParams kParams[2] = {
    {{1.0f, 10.0f, 14.0f, 19.0f},
     {0.0f, 3.0f, 7.0f, 10.0f},
     {-20.0f, -15.0f, -10.0f, -5.0f},
     4, 4, 4,
     1.0f,
     {{2, 1, 0, 0, 0}, {2, 1, 0, 0, 0}, {3, 2, 1, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
     {{1, 1, 1, 0, 0}, {1, 1, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
     {-4, -3, -2, -1, 0}},
    {{1.0f, 10.0f, 14.0f, 19.0f},
     {0.0f, 3.0f, 7.0f, 10.0f},
     {-20.0f, -15.0f, -10.0f, -5.0f},
     4, 4, 4,
     1.0f,
     {{2, 2, 1, 0, 0}, {2, 2, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
     {{2, 2, 1, 0, 0}, {2, 2, 1, 0, 0}, {3, 2, 2, 0, 0}, {3, 3, 2, 0, 0}, {3, 3, 2, 0, 0}},
     {-4, -3, -2, -1, 0}},
};

// Smoothing of the per-frame measures over the last three frames, newest
// weighted most.
constexpr float kSmoothing[3] = {0.25f, 0.25f, 0.5f};

const char kAllocMessage[] = "Memory allocation in function createInvFiltDetector() failed";

}  // namespace

const InvfDetectorParams* invfDetectorParams(int32_t tuning) { return &kParams[tuning ? 1 : 0]; }

int32_t invfRegion(float v, const float* t, int32_t n) {
  if (v < t[0]) return 0;
  for (int32_t i = 1; i < n; ++i)
    if (t[i - 1] <= v && v < t[i]) return i;
  // At or above the last threshold: the top region.
  return n;
}

int32_t invfDecide(const InvfDetectorParams* p, float qA, float qB, float e, int32_t* prevRegionA,
                   int32_t* prevRegionB, int32_t transientFlag, int32_t scaleFlag) {
  // Negative quotas cannot arise from the tonality measure; treat them as 0
  // rather than take the logarithm of a negative number.
  if (!(qA > 0.0f)) qA = 0.0f;
  if (!(qB > 0.0f)) qB = 0.0f;
  if (!(e > 0.0f)) e = 0.0f;
  const float a = static_cast<float>(std::log(qA + 1e-12) * 4.3280850648880005);
  const float b = static_cast<float>(std::log(qB + 1e-12) * 4.3280850648880005);
  const double eps = scaleFlag ? 1e-12 : 9.313225746154785e-22;
  const float n = static_cast<float>(std::log(e + eps) * 2.1640425324440002);

  float thrA[4];
  float thrB[4];
  std::memcpy(thrA, p->thresholdsA, sizeof thrA);
  std::memcpy(thrB, p->thresholdsB, sizeof thrB);
  if (*prevRegionA < p->numRegionsA) thrA[*prevRegionA] += p->hysteresis;
  if (*prevRegionA > 0) thrA[*prevRegionA - 1] -= p->hysteresis;
  if (*prevRegionB < p->numRegionsB) thrB[*prevRegionB] += p->hysteresis;
  if (*prevRegionB > 0) thrB[*prevRegionB - 1] -= p->hysteresis;

  int32_t regionA = invfRegion(b, thrA, p->numRegionsA);
  int32_t regionB = invfRegion(a, thrB, p->numRegionsB);
  int32_t regionNrg = invfRegion(n, p->thresholdsNrg, p->numRegionsNrg);
  *prevRegionA = regionA;
  *prevRegionB = regionB;
  int32_t mode = (transientFlag == 1 ? p->decisionTableTransient : p->decisionTable)[regionA][regionB] +
                 p->nrgBorderOffset[regionNrg];
  return mode < 1 ? 0 : mode;
}

void invfDelete(HANDLE_INVF_DETECTOR h) {
  if (h == nullptr) return;
  for (int32_t i = 0; i < kInvfMaxBands; ++i) {
    utilFree(h->band[i].quotaOrig, __FILE__, __LINE__);
    utilFree(h->band[i].quotaSbr, __FILE__, __LINE__);
    utilFree(h->band[i].energy, __FILE__, __LINE__);
    utilFree(h->band[i].weights, __FILE__, __LINE__);
  }
  utilFree(h->bandBorders, __FILE__, __LINE__);
  utilFree(h, __FILE__, __LINE__);
}

CodecError* invfReset(HANDLE_INVF_DETECTOR h, const int32_t* bandBorders, int32_t numBands,
                      int32_t flag) {
  if (flag) return createError(__FILE__, __LINE__, __func__, "unknown codec type");
  if (h == nullptr || bandBorders == nullptr || numBands < 1 || numBands > h->numBandsAllocated)
    return createError(__FILE__, __LINE__, __func__, "invalid number of bands");
  std::memcpy(h->bandBorders, bandBorders, sizeof(int32_t) * static_cast<size_t>(numBands + 1));
  h->numBands = numBands;
  h->initialised = 1;
  return nullptr;
}

CodecError* createInvFiltDetector(HANDLE_INVF_DETECTOR* out, int32_t codecType,
                                  const int32_t* bandBorders, int32_t numBands, int32_t tuning) {
  if (out == nullptr) return createError(__FILE__, __LINE__, __func__, kAllocMessage);
  *out = nullptr;
  InvfDetector* h = static_cast<InvfDetector*>(utilCalloc(1, sizeof(InvfDetector), __FILE__, __LINE__));
  if (h == nullptr) return createError(__FILE__, __LINE__, __func__, kAllocMessage);
  if (codecType != 0) {
    invfDelete(h);
    return createError(__FILE__, __LINE__, __func__, "unknown codec type");
  }
  if (numBands < 1 || numBands > kInvfMaxBands) {
    invfDelete(h);
    return createError(__FILE__, __LINE__, __func__, "invalid number of bands");
  }
  h->numEstimates = 2;
  h->numBandsAllocated = numBands;
  h->detectorParams = invfDetectorParams(tuning);
  h->bandBorders = static_cast<int32_t*>(utilCalloc(static_cast<uint32_t>(numBands + 1), sizeof(int32_t), __FILE__, __LINE__));
  bool ok = h->bandBorders != nullptr;
  const uint32_t n = static_cast<uint32_t>(h->numEstimates + 1);
  for (int32_t i = 0; ok && i < numBands; ++i) {
    InvfBandState& b = h->band[i];
    b.quotaOrig = static_cast<float*>(utilCalloc(n, sizeof(float), __FILE__, __LINE__));
    b.quotaSbr = static_cast<float*>(utilCalloc(n, sizeof(float), __FILE__, __LINE__));
    b.energy = static_cast<float*>(utilCalloc(n, sizeof(float), __FILE__, __LINE__));
    b.weights = static_cast<float*>(utilCalloc(n, sizeof(float), __FILE__, __LINE__));
    ok = b.quotaOrig && b.quotaSbr && b.energy && b.weights;
    if (ok) std::memcpy(b.weights, kSmoothing, sizeof kSmoothing);
  }
  if (!ok) {
    invfDelete(h);
    return createError(__FILE__, __LINE__, __func__, kAllocMessage);
  }
  CodecError* err = invfReset(h, bandBorders, numBands, 0);
  if (err != nullptr) {
    invfDelete(h);
    return appendErrorTrace(__FILE__, __LINE__, __func__, err);
  }
  *out = h;
  return nullptr;
}

void invfEstimate(HANDLE_INVF_DETECTOR h, float** quotaMatrix, const float* nrgVector,
                  const int32_t* indexVector, int32_t firstRow, int32_t lastRow,
                  int32_t transientFlag, int32_t* modes, int32_t scaleFlag) {
  const int32_t n = h->numEstimates + 1;
  const int32_t rows = lastRow - firstRow;
  for (int32_t i = 0; i < h->numBands; ++i) {
    InvfBandState& b = h->band[i];
    // This frame's means over the band's QMF bands and the frame's rows.
    double orig = 0.0;
    double sbr = 0.0;
    int32_t countOrig = 0;
    int32_t countSbr = 0;
    for (int32_t r = firstRow; r < lastRow; ++r) {
      for (int32_t k = h->bandBorders[i]; k < h->bandBorders[i + 1]; ++k) {
        orig += quotaMatrix[r][k];
        ++countOrig;
        int32_t src = indexVector[k];
        if (src >= 0) {
          sbr += quotaMatrix[r][src];
          ++countSbr;
        }
      }
    }
    double nrg = 0.0;
    for (int32_t r = firstRow; r < lastRow; ++r) nrg += nrgVector[r];
    std::memmove(b.quotaOrig, b.quotaOrig + 1, sizeof(float) * (n - 1));
    std::memmove(b.quotaSbr, b.quotaSbr + 1, sizeof(float) * (n - 1));
    std::memmove(b.energy, b.energy + 1, sizeof(float) * (n - 1));
    b.quotaOrig[n - 1] = countOrig ? static_cast<float>(orig / countOrig) : 0.0f;
    b.quotaSbr[n - 1] = countSbr ? static_cast<float>(sbr / countSbr) : 0.0f;
    b.energy[n - 1] = rows > 0 ? static_cast<float>(nrg / rows) : 0.0f;
    if (transientFlag == 1) {
      // Smoothing would carry the frames before an attack into it.
      b.qA = b.quotaOrig[n - 1];
      b.qB = b.quotaSbr[n - 1];
      b.e = b.energy[n - 1];
    } else {
      float qa = 0.0f, qb = 0.0f, e = 0.0f;
      for (int32_t j = 0; j < n; ++j) {
        qa += b.weights[j] * b.quotaOrig[j];
        qb += b.weights[j] * b.quotaSbr[j];
        e += b.weights[j] * b.energy[j];
      }
      b.qA = qa;
      b.qB = qb;
      b.e = e;
    }
    modes[i] = invfDecide(h->detectorParams, b.qA, b.qB, b.e, &h->prevRegionA[i], &h->prevRegionB[i],
                          transientFlag, scaleFlag);
  }
}
