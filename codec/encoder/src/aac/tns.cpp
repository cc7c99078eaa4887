// Temporal noise shaping: detection, quantisation and filtering.
#include "tns.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "aactables.h"

namespace {

const double kHalfPi = 1.57079632679489662;

// Filtering starts above these frequencies: below them a long window's bands
// are few and wide and carry mostly tonal content.
const double kStartHzLong = 1380.0;
const double kStartHzShort = 1000.0;
// Prediction gain (r0 over the residual energy) that switches a filter on.
const float kGainThreshold = 1.4f;
// Width of the Gaussian lag window (in lags) that smooths the
// autocorrelation, i.e. the temporal envelope the filter follows.
const double kLagWindowLong = 0.4;
const double kLagWindowShort = 0.2;

int32_t quantiseCoefficient(double k, int32_t bits) {
  const double a = std::asin(std::max(-1.0, std::min(1.0, k)));
  const int32_t half = 1 << (bits - 1);
  const double factor = (a >= 0.0 ? half - 0.5 : half + 0.5) / kHalfPi;
  const int32_t index = static_cast<int32_t>(std::lround(a * factor));
  return std::max(-half, std::min(half - 1, index));
}

// Direct-form error filter 1 + a1 z^-1 + ... of the quantised reflection
// coefficients, built as the decoder builds its all-pole filter.
void directForm(const TnsWindow* w, float* a) {
  const int32_t bits = w->coefRes + 3;
  float b[kTnsMaxOrderLong + 1];
  a[0] = 1.0f;
  for (int32_t m = 1; m <= w->order; ++m) {
    const float k = tnsDequantise(w->coef[m - 1], bits);
    for (int32_t i = 1; i < m; ++i) b[i] = a[i] + k * a[m - i];
    for (int32_t i = 1; i < m; ++i) a[i] = b[i];
    a[m] = k;
  }
}

}  // namespace

float tnsDequantise(int32_t index, int32_t bits) {
  const int32_t half = 1 << (bits - 1);
  const double factor = (index >= 0 ? half - 0.5 : half + 0.5) / kHalfPi;
  return static_cast<float>(std::sin(index / factor));
}

int tnsInitConfig(TnsConfig* c, int32_t sampleRate, int32_t activeBands, int32_t isShort, int32_t active) {
  std::memset(c, 0, sizeof(*c));
  const int index = aacSamplingFrequencyIndex(static_cast<uint32_t>(sampleRate));
  if (index < 0 || index > 11) return 1;
  const AacRateTables& t = kAacRateTables[index];
  c->numBands = isShort ? t.numShort128 : t.numLong1024;
  c->bandOffsets = isShort ? t.short128 : t.long1024;
  c->maxOrder = isShort ? kTnsMaxOrderShort : kTnsMaxOrderLong;
  c->stopBand = std::min(std::min(isShort ? t.tnsMaxBandsShort : t.tnsMaxBandsLong, activeBands), c->numBands);
  const int32_t lines = isShort ? 128 : 1024;
  const double startHz = isShort ? kStartHzShort : kStartHzLong;
  const int32_t startLine = static_cast<int32_t>(startHz * 2.0 * lines / sampleRate);
  c->startBand = 0;
  while (c->startBand < c->numBands && c->bandOffsets[c->startBand] < startLine) ++c->startBand;
  c->gainThreshold = kGainThreshold;
  const double width = isShort ? kLagWindowShort : kLagWindowLong;
  for (int32_t i = 0; i <= kTnsMaxOrderLong; ++i) c->lagWindow[i] = static_cast<float>(std::exp(-0.5 * (width * i) * (width * i)));
  // A filter needs some lines more than its order to be worth its bits.
  const int32_t span = c->stopBand > c->startBand ? c->bandOffsets[c->stopBand] - c->bandOffsets[c->startBand] : 0;
  c->active = active && span > 2 * c->maxOrder;
  return 0;
}

int tnsDetect(const TnsConfig* c, const float* x, const float* quiet, TnsWindow* w, float* gainOut) {
  std::memset(w, 0, sizeof(*w));
  if (gainOut) *gainOut = 1.0f;
  if (!c->active) return 0;
  // The spectrum as it stands, without the bands too quiet to be heard:
  // the smooth leakage of a tone into such bands must not pass for a
  // temporal envelope.
  const int32_t lo = c->bandOffsets[c->startBand], hi = c->bandOffsets[c->stopBand];
  float weighted[1024];
  for (int32_t b = c->startBand; b < c->stopBand; ++b) {
    double e = 0.0;
    for (int32_t i = c->bandOffsets[b]; i < c->bandOffsets[b + 1]; ++i) e += double(x[i]) * x[i];
    const float g = quiet && e <= quiet[b] ? 0.0f : 1.0f;
    for (int32_t i = c->bandOffsets[b]; i < c->bandOffsets[b + 1]; ++i) weighted[i - lo] = x[i] * g;
  }
  const int32_t n = hi - lo;
  const int32_t order = c->maxOrder;
  double r[kTnsMaxOrderLong + 1] = {0.0};
  for (int32_t k = 0; k <= order; ++k) {
    double s = 0.0;
    for (int32_t i = 0; i + k < n; ++i) s += double(weighted[i]) * weighted[i + k];
    r[k] = s * c->lagWindow[k];
  }
  if (r[0] <= 1e-9) return 0;
  // Levinson-Durbin: reflection coefficients of the predictor of order
  // `order` and the residual energy.
  double a[kTnsMaxOrderLong + 1] = {1.0};
  double parcor[kTnsMaxOrderLong];
  double err = r[0];
  for (int32_t m = 1; m <= order; ++m) {
    double acc = r[m];
    for (int32_t i = 1; i < m; ++i) acc += a[i] * r[m - i];
    const double k = err > 0.0 ? -acc / err : 0.0;
    parcor[m - 1] = k;
    double next[kTnsMaxOrderLong + 1];
    for (int32_t i = 1; i < m; ++i) next[i] = a[i] + k * a[m - i];
    for (int32_t i = 1; i < m; ++i) a[i] = next[i];
    a[m] = k;
    err *= 1.0 - k * k;
    if (err <= 0.0) {
      for (int32_t j = m; j < order; ++j) parcor[j] = 0.0;
      break;
    }
  }
  const double gain = err > 0.0 ? r[0] / err : 1e9;
  if (gainOut) *gainOut = static_cast<float>(gain);
  if (gain < c->gainThreshold) return 0;
  w->coefRes = 1;
  int32_t last = 0;
  for (int32_t i = 0; i < order; ++i) {
    w->coef[i] = static_cast<int8_t>(quantiseCoefficient(parcor[i], 4));
    if (w->coef[i] != 0) last = i + 1;
  }
  if (last == 0) return 0;
  w->order = last;
  w->numFilters = 1;
  w->length = c->numBands - c->startBand;
  w->direction = 0;
  // Coefficients go at full resolution: ffmpeg reads compressed ones of
  // short windows otherwise than our decoder does, so the encoder does not
  // send them.
  w->coefCompress = 0;
  return 1;
}

void tnsSync(TnsWindow* second, const TnsWindow* first) {
  if (!first->numFilters || !second->numFilters || first->order != second->order) return;
  for (int32_t i = 0; i < first->order; ++i)
    if (std::abs(first->coef[i] - second->coef[i]) > 1) return;
  *second = *first;
}

float tnsNoiseGain(const TnsWindow* w) {
  if (!w->numFilters || w->order == 0) return 1.0f;
  float a[kTnsMaxOrderLong + 1];
  directForm(w, a);
  // Energy of the all-pole filter's impulse response.
  float state[kTnsMaxOrderLong] = {0};
  double sum = 0.0;
  for (int32_t n = 0; n < 256; ++n) {
    float y = n == 0 ? 1.0f : 0.0f;
    for (int32_t i = 0; i < w->order; ++i) y -= a[i + 1] * state[i];
    for (int32_t i = w->order - 1; i > 0; --i) state[i] = state[i - 1];
    state[0] = y;
    sum += double(y) * y;
  }
  return static_cast<float>(sum);
}

void tnsFilter(const TnsConfig* c, float* x, const TnsWindow* w) {
  if (!w->numFilters || w->order == 0) return;
  float a[kTnsMaxOrderLong + 1];
  directForm(w, a);
  const int32_t bottom = std::max(0, c->numBands - w->length);
  const int32_t lo = c->bandOffsets[std::min(bottom, c->stopBand)], hi = c->bandOffsets[c->stopBand];
  // e[n] = x[n] + sum a[i] x[n - i], with the lines below the range taken as
  // zero (the decoder's filter starts from a cleared state there); run
  // downward so x[n - i] is still unfiltered.
  for (int32_t n = hi - 1; n >= lo; --n) {
    float e = x[n];
    for (int32_t i = 1; i <= w->order && n - i >= lo; ++i) e += a[i] * x[n - i];
    x[n] = e;
  }
}

void tnsFilterCoded(const TnsConfig* c, float* x, const TnsWindow* w, int32_t maxSfb, bool inverse) {
  if (!w->numFilters || w->order == 0) return;
  float a[kTnsMaxOrderLong + 1];
  directForm(w, a);
  // The lines the decoder's filter covers: counted down from the top of the
  // band list, never above the coded bands.
  const int32_t top = std::min(c->stopBand, maxSfb);
  const int32_t bottom = std::min(std::max(0, c->numBands - w->length), top);
  const int32_t lo = c->bandOffsets[bottom], hi = c->bandOffsets[top];
  if (!inverse) {
    for (int32_t n = hi - 1; n >= lo; --n) {
      float e = x[n];
      for (int32_t i = 1; i <= w->order && n - i >= lo; ++i) e += a[i] * x[n - i];
      x[n] = e;
    }
    return;
  }
  // The all-pole filter upward from a cleared state: y[n] = e[n] - sum a[i] y[n - i].
  for (int32_t n = lo; n < hi; ++n) {
    float y = x[n];
    for (int32_t i = 1; i <= w->order && n - i >= lo; ++i) y -= a[i] * x[n - i];
    x[n] = y;
  }
}
