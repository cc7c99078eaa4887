// The hybrid analysis filter bank of parametric stereo: it splits the three
// lowest QMF bands further (band 0 into eight complex sub-bands, of which two
// pairs are merged, bands 1 and 2 into two real sub-bands each), giving ten
// hybrid bands with a finer frequency resolution where the ear needs it. The
// parametric-stereo decoder mixes in this domain; the encoder measures its
// stereo parameters in the same bands.
#pragma once

#include <complex>

constexpr int kPsHybridBands = 10;   // hybrid bands made of QMF bands 0..2
constexpr int kPsHybridHistory = 12;  // input rows the 13-tap filters reach back

// Filters QMF bands 0..2 into the ten hybrid bands, in ascending frequency
// order. in holds kPsHybridHistory + slots rows of the three bands, oldest
// first; output slot n is the filters' response ending at row
// kPsHybridHistory + n (the filters are linear phase: their output is centred
// six rows earlier). out[n * stride + k] receives hybrid band k of slot n.
void psHybridAnalysis(const std::complex<float> (*in)[3], int slots, std::complex<float>* out, int stride);

// Hybrid bands 0 and 1 lie at negative frequencies: a mixing or a phase
// measured there takes the complex conjugate.
inline bool psHybridBandIsNegative(int k) { return k < 2; }
