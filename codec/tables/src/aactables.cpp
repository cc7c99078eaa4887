// Computed tables (window halves, the inverse-quantisation table) and the
// sampling-frequency lookups, and the channel count of each channel
// configuration.
#include "aactables.h"

#include <cmath>
#include <vector>

const int kAacChannelConfigurationChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};

int aacSamplingFrequencyIndex(uint32_t samplingFrequency) {
  for (int i = 0; i < 13; ++i)
    if (kAacSamplingFrequencies[i] == samplingFrequency) return i;
  return -1;
}

int aacRateTableIndex(uint32_t samplingFrequency) {
  for (int i = 0; i < 11; ++i)
    if (samplingFrequency >= kAacRateMappingBounds[i]) return i;
  return 11;
}

namespace {

const double kPi = 3.14159265358979323846;

double besselI0(double x) {
  // Power series; converges quickly for the arguments used (below 20).
  double sum = 1.0, term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 200; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

std::vector<float> makeSine(int half) {
  std::vector<float> w(half);
  const double n2 = 2.0 * half;
  for (int n = 0; n < half; ++n) w[n] = static_cast<float>(std::sin(kPi / n2 * (n + 0.5)));
  return w;
}

std::vector<float> makeKbd(int half, double alpha) {
  // Kaiser kernel over 0..half, cumulated and normalised, square-rooted.
  std::vector<double> kernel(half + 1);
  const double quarter = half / 2.0;  // N/4 for a window of N = 2 x half
  for (int n = 0; n <= half; ++n) {
    const double r = (n - quarter) / quarter;
    kernel[n] = besselI0(kPi * alpha * std::sqrt(std::fmax(0.0, 1.0 - r * r)));
  }
  double total = 0.0;
  for (int n = 0; n <= half; ++n) total += kernel[n];
  std::vector<float> w(half);
  double acc = 0.0;
  for (int n = 0; n < half; ++n) {
    acc += kernel[n];
    w[n] = static_cast<float>(std::sqrt(acc / total));
  }
  return w;
}

struct WindowSet {
  std::vector<float> sine[6];
  std::vector<float> kbd[6];
  WindowSet() {
    static const int lengths[6] = {1024, 960, 512, 480, 128, 120};
    for (int i = 0; i < 6; ++i) {
      sine[i] = makeSine(lengths[i]);
      kbd[i] = makeKbd(lengths[i], lengths[i] >= 480 ? 4.0 : 6.0);
    }
  }
};

struct InvQuant {
  float v[kAacInvQuantSize];
  InvQuant() {
    for (int i = 0; i < kAacInvQuantSize; ++i) v[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
  }
};

}  // namespace

const float* aacWindowHalf(int halfLength, int shape) {
  static const WindowSet set;  // thread-safe one-time initialisation
  int i;
  switch (halfLength) {
    case 1024: i = 0; break;
    case 960: i = 1; break;
    case 512: i = 2; break;
    case 480: i = 3; break;
    case 128: i = 4; break;
    case 120: i = 5; break;
    default: return nullptr;
  }
  if (shape == 0) return set.sine[i].data();
  if (shape == 1) return set.kbd[i].data();
  return nullptr;
}

const float* aacInvQuantTable() {
  static const InvQuant table;
  return table.v;
}
