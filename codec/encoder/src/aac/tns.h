// Temporal noise shaping of the encoder: per window, a linear predictor over
// frequency (the spectrum's autocorrelation over the TNS range, Levinson-
// Durbin up to order 12 for long windows and 7 for short ones) is switched on
// when its prediction gain is high enough, i.e. when the signal's temporal
// envelope within the window is far from flat (an attack, a click). The
// reflection coefficients are quantised with the arcsine mapping the decoder
// inverts, and the spectrum is filtered with the quantised predictor's
// error filter, so the decoder's all-pole filter shapes the quantisation
// noise in time like the signal.
#pragma once

#include <cstdint>

enum {
  kTnsMaxOrderLong = 12,
  kTnsMaxOrderShort = 7,
  kTnsMaxWindows = 8,
};

// The filter of one window (the encoder uses at most one filter a window).
struct TnsWindow {
  int32_t numFilters;    // 0 or 1
  int32_t coefRes;       // 1: 4-bit coefficients, 0: 3-bit
  int32_t length;        // bands covered, from the top of the window's band list down
  int32_t order;         // 1 to the configuration's maximum
  int32_t direction;     // 0: the filter runs upward in frequency
  int32_t coefCompress;  // 1: each coefficient is sent with one bit less
  int8_t coef[kTnsMaxOrderLong];  // quantised reflection coefficients
};

// The TNS data of one channel as the bitstream carries it.
struct TnsInfo {
  int32_t present;     // some window has a filter
  int32_t numWindows;  // 1 long window or 8 short ones
  TnsWindow window[kTnsMaxWindows];
};

// The TNS range and switch of one window length at one sampling rate.
struct TnsConfig {
  int32_t active;         // 0: TNS never switches on for this window length
  int32_t maxOrder;
  int32_t numBands;       // bands of the window (the top the filter length counts from)
  int32_t startBand;      // first band filtered
  int32_t stopBand;       // band after the last one filtered (TNS limit and bandwidth)
  const uint16_t* bandOffsets;
  float gainThreshold;    // prediction gain that switches the filter on
  float lagWindow[kTnsMaxOrderLong + 1];  // smoothing of the autocorrelation
};

// Fills the configuration for the sampling rate, the bands coded (activeBands)
// and the window length; active 0 leaves TNS off. 0, or 1 for an unknown rate.
int tnsInitConfig(TnsConfig* config, int32_t sampleRate, int32_t activeBands, int32_t isShort, int32_t active);

// Decides the filter of one window from its spectrum (128 or 1024 lines);
// returns 1 when the filter is switched on. Bands whose energy stays within
// quiet[band] (the threshold in quiet; null: none) take no part. Writes the
// prediction gain when gain is not null.
int tnsDetect(const TnsConfig* config, const float* spectrum, const float* quiet, TnsWindow* window, float* gain);

// How much the decoder's filter raises white quantisation noise (the energy
// of its impulse response; 1 without a filter): the thresholds of the
// filtered bands are lowered by it, so the shaped noise keeps their level.
float tnsNoiseGain(const TnsWindow* window);

// The second channel of a pair takes the first channel's filter when both
// filter a window and their quantised coefficients differ by at most one step
// each, so both channels' noise follows one temporal envelope.
void tnsSync(TnsWindow* second, const TnsWindow* first);

// Filters the window's spectrum in place with the filter's error filter over
// the lines the decoder's filter covers (none when the window has no filter).
void tnsFilter(const TnsConfig* config, float* spectrum, const TnsWindow* window);

// The filter over the lines the decoder's filter covers in a channel that
// codes maxSfb bands: the error filter (inverse false, what the encoder and
// the decoder's long-term prediction apply), or the decoder's all-pole
// synthesis filter that undoes it (inverse true).
void tnsFilterCoded(const TnsConfig* config, float* spectrum, const TnsWindow* window, int32_t maxSfb, bool inverse);

// The reflection coefficient of a quantised index at a coefficient
// resolution (3 or 4 bits): the mapping the decoder applies.
float tnsDequantise(int32_t index, int32_t resolutionBits);
