// Band lookups and the stable index sort.
#include "bandlookup.h"

#include <cmath>

namespace {

// line = trunc(2 * (freq / rate) * offsets[n] + 0.5) in double precision.
// A rate of 0 or a result beyond the 32-bit range is clamped instead of
// overflowing.
int32_t frequencyToLine(float freq, float sampleRate, int32_t lines) {
  double v = (2.0 * (static_cast<double>(freq) / sampleRate)) * lines + 0.5;
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t freqToBandIndex(float freq, float sampleRate, int32_t n, const int32_t* offsets) {
  if (n <= 0 || !offsets) return 0;
  const int32_t line = frequencyToLine(freq, sampleRate, offsets[n]);
  if (line >= offsets[n]) return n;
  int32_t i = 0;
  while (i < n - 1 && !(offsets[i + 1] > line)) ++i;
  // Compared in 64 bits: the differences cannot overflow.
  if (static_cast<int64_t>(line) - offsets[i] > static_cast<int64_t>(offsets[i + 1]) - line)
    return i + 1;
  return i;
}

int32_t freqToBand(float freq, float sampleRate, int32_t n, const int32_t* offsets) {
  if (n <= 0 || !offsets) return 0;
  const int32_t line = frequencyToLine(freq, sampleRate, offsets[n]);
  int32_t i = 0;
  while (i < n && line >= offsets[i + 1]) ++i;
  return i;
}

int32_t bandBorderToFreq(int32_t b, float sampleRate, int32_t lines, const int32_t* offsets) {
  if (lines == 0 || !offsets) return 0;
  double v = 0.5 + (static_cast<double>(sampleRate) * 0.5) *
                       (static_cast<double>(offsets[b] - 1) / lines);
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void sortIndexByKey(const float* keys, uint32_t* index, int32_t n) {
  for (int32_t i = 0; i < n; ++i) index[i] = static_cast<uint32_t>(i);
  // Insertion sort: each element moves left past every element whose key is
  // strictly greater, so equal keys (and NaN keys) keep their order.
  for (int32_t i = 1; i < n; ++i) {
    uint32_t item = index[i];
    float key = keys[item];
    int32_t j = i - 1;
    while (j >= 0 && keys[index[j]] > key) {
      index[j + 1] = index[j];
      --j;
    }
    index[j + 1] = item;
  }
}
