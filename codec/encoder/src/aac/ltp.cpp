// Long-term prediction: lag search, predicted spectrum and the decoder's
// reconstruction that the prediction reads.
#include "ltp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "aactables.h"

const float kLtpCoefficients[8] = {0.570829f, 0.696616f, 0.813004f, 0.911304f,
                                   0.984900f, 1.067894f, 1.194601f, 1.369533f};

namespace {

// Sum of a[i] b[i]: eight partial sums, which the compiler keeps in vector
// registers (the search runs it for every lag).
float dot(const float* a, const float* b, int32_t n) {
  float part[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int32_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (int32_t k = 0; k < 8; ++k) part[k] += a[i + k] * b[i + k];
  float sum = ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
  for (; i < n; ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

bool ltpFindLag(const float* x, const float* st, int32_t* lagOut, float* gainOut) {
  // Prefix sums of the state's energy: the energy of any stretch of it.
  double energy[kLtpStateLength + 1];
  energy[0] = 0.0;
  for (int32_t j = 0; j < kLtpStateLength; ++j) energy[j + 1] = energy[j] + double(st[j]) * st[j];
  double bestScore = 0.0;
  int32_t best = -1;
  double bestNum = 0.0, bestDen = 0.0;
  for (int32_t lag = 0; lag <= kLtpMaxLag; ++lag) {
    // Sample i of the block reads the state at i + 2048 - lag; the state
    // ends at 3072, beyond it the prediction is zero.
    const int32_t first = 2048 - lag;
    const int32_t n = std::min(2048, kLtpStateLength - first);
    if (n <= 0) continue;
    const float num = dot(x, st + first, n);
    const double den = energy[first + n] - energy[first];
    if (num <= 0.0f || den <= 0.0) continue;
    const double score = double(num) * num / den;
    if (score > bestScore) {
      bestScore = score;
      best = lag;
      bestNum = num;
      bestDen = den;
    }
  }
  if (best < 0) return false;
  *lagOut = best;
  *gainOut = static_cast<float>(bestNum / bestDen);
  return true;
}

int32_t ltpCoefficientIndex(float gain) {
  int32_t best = 0;
  for (int32_t i = 1; i < 8; ++i)
    if (std::fabs(kLtpCoefficients[i] - gain) < std::fabs(kLtpCoefficients[best] - gain)) best = i;
  return best;
}

void ltpPredict(TransformObject* transform, const float* st, int32_t lag, int32_t coefIndex, int32_t windowSequence,
                int32_t windowShape, int32_t previousShape, const TnsConfig* tns, const TnsWindow* tnsWindow,
                int32_t maxSfb, float* spectrum) {
  float x[2048];
  const float g = kLtpCoefficients[coefIndex & 7];
  for (int32_t i = 0; i < 2048; ++i) {
    const int32_t j = i + 2048 - lag;
    x[i] = j < kLtpStateLength ? g * st[j] : 0.0f;
  }
  Transform(transform, x, spectrum, windowSequence, windowShape, previousShape);
  for (int32_t k = 0; k < 1024; ++k) spectrum[k] *= 2.0f;
  if (tns && tnsWindow) tnsFilterCoded(tns, spectrum, tnsWindow, maxSfb, false);
}

void ltpInverseTransform(TransformObject* transform, const float* spectrum, float* out, int32_t n) {
  // The DCT-IV of the lines, unfolded: the block's sample j reads the
  // kernel's output at j + n/2, mirrored and negated past n and 2n.
  float v[1024];
  transformKernels.dct4(transform->fft, spectrum, v, n);
  const float scale = 1.0f / static_cast<float>(n);
  const int32_t half = n / 2;
  for (int32_t j = 0; j < half; ++j) out[j] = v[j + half] * scale;
  for (int32_t j = half; j < 3 * half; ++j) out[j] = -v[3 * half - 1 - j] * scale;
  for (int32_t j = 3 * half; j < 2 * n; ++j) out[j] = -v[j - 3 * half] * scale;
}

void ltpDequantise(const AacIcs* ics, float* spectrum) {
  std::memset(spectrum, 0, sizeof(float) * 1024);
  const int32_t index = ics->samplingRateIndex;
  if (index < 0 || index > 11) return;
  const AacRateTables& t = kAacRateTables[index];
  const bool isShort = ics->windowSequence == kEightShortSequence;
  const uint16_t* offsets = isShort ? t.short128 : t.long1024;
  int32_t window = 0;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t b = 0; b < ics->maxSfb; ++b) {
      if (ics->codebook[g][b] == kAacZeroBook) continue;
      const float gain = static_cast<float>(std::pow(2.0, 0.25 * (ics->scalefactor[g][b] - 100)));
      for (int32_t w = window; w < window + ics->windowGroupLength[g]; ++w) {
        for (int32_t k = offsets[b]; k < offsets[b + 1]; ++k) {
          const int32_t line = (isShort ? w * 128 : 0) + k;
          const int32_t q = ics->quant[line];
          if (q == 0) continue;
          const float m = static_cast<float>(std::pow(static_cast<double>(std::abs(q)), 4.0 / 3.0)) * gain;
          spectrum[line] = q < 0 ? -m : m;
        }
      }
    }
    window += isShort ? ics->windowGroupLength[g] : 1;
  }
}

void ltpReconstruct(TransformObject* transform, LtpChannel* ch, const float* spectrum, int32_t seq, int32_t shape) {
  float block[2048];
  float y[2048];
  const int32_t prev = ch->previousShape;
  const float* longRise = transformWindow(1024, prev ? 1 : 0);
  const float* longFall = transformWindow(1024, shape ? 1 : 0);
  const float* shortRisePrev = transformWindow(128, prev == 1 ? 1 : 0);
  const float* shortFall = transformWindow(128, shape == 1 ? 1 : 0);
  if (seq == kEightShortSequence) {
    std::memset(block, 0, sizeof(block));
    for (int32_t w = 0; w < 8; ++w) {
      ltpInverseTransform(transform, spectrum + 128 * w, y, 128);
      const float* rise = w == 0 ? shortRisePrev : shortFall;
      float* dst = block + 448 + 128 * w;
      for (int32_t j = 0; j < 128; ++j) {
        dst[j] += y[j] * rise[j];
        dst[128 + j] += y[128 + j] * shortFall[127 - j];
      }
    }
  } else {
    ltpInverseTransform(transform, spectrum, y, 1024);
    if (seq == kLongStopSequence) {
      for (int32_t j = 0; j < 448; ++j) block[j] = 0.0f;
      for (int32_t j = 0; j < 128; ++j) block[448 + j] = y[448 + j] * shortRisePrev[j];
      for (int32_t j = 576; j < 1024; ++j) block[j] = y[j];
    } else {
      for (int32_t j = 0; j < 1024; ++j) block[j] = y[j] * longRise[j];
    }
    if (seq == kLongStartSequence) {
      for (int32_t j = 1024; j < 1472; ++j) block[j] = y[j];
      for (int32_t j = 0; j < 128; ++j) block[1472 + j] = y[1472 + j] * shortFall[127 - j];
      for (int32_t j = 1600; j < 2048; ++j) block[j] = 0.0f;
    } else {
      for (int32_t j = 0; j < 1024; ++j) block[1024 + j] = y[1024 + j] * longFall[1023 - j];
    }
  }
  // The frame's output is its first half overlapped with the last block's
  // second half; that output joins the history and this block's second half
  // waits for the next frame.
  float* st = ch->state;
  std::memmove(st, st + 1024, sizeof(float) * 1024);
  for (int32_t j = 0; j < 1024; ++j) st[1024 + j] = st[2048 + j] + block[j];
  std::memcpy(st + 2048, block + 1024, sizeof(float) * 1024);
  ch->previousShape = shape;
}
