// Frequency-to-band lookups over band-offset tables, and a stable index sort.
//
// A band-offset table holds n + 1 ascending spectral-line indices; band b
// covers lines offsets[b] .. offsets[b+1] - 1 and offsets[n] is the number of
// lines of the spectrum, which spans 0 .. sampleRate / 2.
#pragma once

#include <cstdint>

// The band border nearest to the frequency (0..n); a line exactly half-way
// goes to the lower border.
int32_t freqToBandIndex(float freq, float sampleRate, int32_t n, const int32_t* offsets);

// The band that holds the frequency's line (0..n; n at or beyond the last
// border, 0 when n <= 0).
int32_t freqToBand(float freq, float sampleRate, int32_t n, const int32_t* offsets);

// The frequency in Hz of line offsets[b] - 1 of a spectrum of `lines` lines.
int32_t bandBorderToFreq(int32_t b, float sampleRate, int32_t lines, const int32_t* offsets);

// index[0..n-1] = 0..n-1 sorted so that keys[index[i]] ascend; stable.
void sortIndexByKey(const float* keys, uint32_t* index, int32_t n);
