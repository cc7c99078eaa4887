// SBR frequency band tables.
#include "freq_sca.h"

#include <algorithm>
#include <cmath>

#include "sbr_tables.h"

namespace {
// The master table holds at most this many bands (every table downstream is sized for 48 bands;
// a valid header never needs more).
constexpr int MAX_FREQ_COEFFS_LIMIT = 48;
}  // namespace

namespace {

int roundPos(double v) { return static_cast<int>(v + 0.5); }

int minChannel(int channels, int fs, int lowHz, int midHz, int highHz) {
  int hz = fs < 32000 ? lowHz : (fs < 64000 ? midHz : highHz);
  return roundPos(static_cast<double>(channels) * hz / fs);
}

const int* startRow(int fs, int tableSelect) {
  if (tableSelect) return sbrtab::startOffsetR0;
  switch (fs) {
    case 16000: return sbrtab::startOffsetR16;
    case 22050: return sbrtab::startOffsetR22;
    case 24000:
    case 25600: return sbrtab::startOffsetR24;
    case 32000: return sbrtab::startOffsetR32;
    case 44100:
    case 48000:
    case 64000: return sbrtab::startOffsetR48;
    case 88200:
    case 96000: return sbrtab::startOffsetR96;
    default: return sbrtab::startOffsetR0;
  }
}

// The n steps between round(a * (z/a)^(i/n)) borders.
void calcBands(int a, int z, int n, int* steps) {
  double ratio = static_cast<double>(z) / a;
  int prev = a;
  for (int i = 0; i < n; i++) {
    int cur = roundPos(a * std::pow(ratio, static_cast<double>(i + 1) / n));
    steps[i] = cur - prev;
    prev = cur;
  }
}

int numberOfBands(int b, int a, int z, double warp) {
  return 2 * roundPos(b * std::log(static_cast<double>(z) / a) / (2.0 * std::log(2.0) * warp));
}

}  // namespace

int sbrGetStartChannel(int channels, int fs, int startFreq, int tableSelect) {
  int startMin = minChannel(channels, fs, 6000, 8000, 10000);
  return startMin + startRow(fs, tableSelect)[startFreq & 15];
}

int sbrGetStopChannel(int channels, int fs, int stopFreq) {
  int stopMin = minChannel(channels, fs, 12000, 16000, 20000);
  int p[14];
  for (int i = 0; i <= 13; i++)
    p[i] = roundPos(stopMin * std::pow(64.0 / stopMin, i / 13.0));
  int steps[13];
  for (int i = 0; i < 13; i++) steps[i] = p[i + 1] - p[i];
  std::sort(steps, steps + 13);
  int k2 = stopMin;
  for (int i = 0; i < stopFreq && i < 13; i++) k2 += steps[i];
  return k2;
}

SbrError sbrFindStartAndStopBand(int fs, int channels, int startFreq, int stopFreq, int tableSelect,
                                 int* k0, int* k2) {
  *k0 = sbrGetStartChannel(channels, fs, startFreq, tableSelect);
  int stop;
  if (stopFreq < 14)
    stop = sbrGetStopChannel(channels, fs, stopFreq);
  else if (stopFreq == 14)
    stop = 2 * *k0;
  else
    stop = 3 * *k0;
  *k2 = std::min(stop, channels);
  int d = *k2 - *k0;
  if (d > 48) return "Number of bands exceeds valid range of MAX_FREQ_COEFFS";
  if (d < 1) return "Number of bands <= 0!";
  if (fs == 44100 && d > 35) return "Number of bands exceeds valid range of MAX_FREQ_COEFFS for fs=44.1kHz";
  if (fs >= 48000 && d > 32) return "Number of bands exceeds valid range of MAX_FREQ_COEFFS for fs>=48kHz";
  return nullptr;
}

SbrError calcMasterFrequencyBandTable(int* master, int* nMaster, int k0, int k2, int freqScale,
                                      int alterScale) {
  if (k0 < 1 || k2 <= k0 || k2 > 64) return "Too small SBR area!";
  if (freqScale == 0) {
    int dk = alterScale ? 2 : 1;
    int n = alterScale ? 2 * roundPos((k2 - k0) / 4.0) : 2 * ((k2 - k0) / 2);
    if (n < 1) return "Too small SBR area!";
    if (n > 64) return "Too small SBR area!";
    int steps[64];
    for (int i = 0; i < n; i++) steps[i] = dk;
    int diff = (k2 - k0) - n * dk;
    int i = diff > 0 ? n - 1 : 0;
    while (diff != 0) {
      if (diff > 0) {
        steps[i]++;
        i--;
        diff--;
      } else {
        steps[i]--;
        i++;
        diff++;
      }
      if (i < 0 || i >= n) i = diff > 0 ? n - 1 : 0;
    }
    if (n > MAX_FREQ_COEFFS_LIMIT) return "Too small SBR area!";
    master[0] = k0;
    for (int j = 0; j < n; j++) master[j + 1] = master[j] + steps[j];
    *nMaster = n;
    return nullptr;
  }
  static const int bandsPerOctave[4] = {0, 12, 10, 8};
  int b = bandsPerOctave[freqScale & 3];
  double warp = alterScale ? 1.3 : 1.0;
  int steps0[64], steps1[64];
  if (static_cast<double>(k2) / k0 > 2.2449) {
    int k1 = 2 * k0;
    int n0 = numberOfBands(b, k0, k1, 1.0);
    int n1 = numberOfBands(b, k1, k2, warp);
    if (n0 < 1 || n1 < 1 || n0 + n1 > MAX_FREQ_COEFFS_LIMIT) return "To small sbr area";
    calcBands(k0, k1, n0, steps0);
    std::sort(steps0, steps0 + n0);
    if (steps0[0] == 0) return "SBR-header leads to a zero-width band in v_k_master!";
    calcBands(k1, k2, n1, steps1);
    std::sort(steps1, steps1 + n1);
    if (steps0[n0 - 1] > steps1[0]) {
      int change = std::min(steps0[n0 - 1] - steps1[0], (steps1[n1 - 1] - steps1[0]) / 2);
      steps1[0] += change;
      steps1[n1 - 1] -= change;
      std::sort(steps1, steps1 + n1);
    }
    if (steps1[0] <= 0) return "SBR-header leads to a zero-width band in v_k_master!";
    master[0] = k0;
    for (int j = 0; j < n0; j++) master[j + 1] = master[j] + steps0[j];
    for (int j = 0; j < n1; j++) master[n0 + j + 1] = master[n0 + j] + steps1[j];
    *nMaster = n0 + n1;
  } else {
    int n0 = numberOfBands(b, k0, k2, 1.0);
    if (n0 < 1) return "To small sbr area";
    if (n0 > MAX_FREQ_COEFFS_LIMIT) return "To small sbr area";
    calcBands(k0, k2, n0, steps0);
    std::sort(steps0, steps0 + n0);
    if (steps0[0] == 0) return "SBR-header leads to a zero-width band in v_k_master!";
    master[0] = k0;
    for (int j = 0; j < n0; j++) master[j + 1] = master[j] + steps0[j];
    *nMaster = n0;
  }
  if (*nMaster < 1) return "To small sbr area";
  return nullptr;
}

void updateHighResFreqTable(int* high, int* nHigh, const int* master, int nMaster, int xoverBand) {
  *nHigh = nMaster - xoverBand;
  for (int i = 0; i <= *nHigh; i++) high[i] = master[i + xoverBand];
}

void updateLowResFreqTable(int* low, int* nLow, const int* high, int nHigh) {
  if ((nHigh & 1) == 0) {
    *nLow = nHigh / 2;
    for (int i = 0; i <= *nLow; i++) low[i] = high[2 * i];
  } else {
    *nLow = (nHigh + 1) / 2;
    low[0] = high[0];
    for (int i = 1; i <= *nLow; i++) low[i] = high[2 * i - 1];
  }
}

void updateNoiseFreqTable(int* noise, int nq, const int* low, int nLow) {
  int idx = 0;
  int remaining = nLow;
  noise[0] = low[0];
  for (int k = 1; k <= nq; k++) {
    int step = remaining / (nq + 1 - k);
    idx += step;
    remaining -= step;
    noise[k] = low[idx];
  }
}

int sbrGetStartFreqHz(int startFreq, int channels, int fs, int tableSelect) {
  if (startFreq > 15 || startFreq < 0) return -1;
  return sbrGetStartChannel(channels, fs, startFreq, tableSelect) * fs / (2 * channels);
}

int sbrGetStopFreqHz(int stopFreq, int channels, int fs) {
  if (stopFreq > 13 || stopFreq < 0) return -1;
  return sbrGetStopChannel(channels, fs, stopFreq) * fs / (2 * channels);
}
