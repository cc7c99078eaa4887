// The SBR encoder of one channel element.
#include "sbr_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "freq_sca.h"
#include "qmf_dec.h"
#include "sbr_tables.h"

namespace {

constexpr int kBands = 64;
constexpr int kHistory = 640 - 64;  // QMF input kept from frame to frame
constexpr int kMaxSfb = 48;
constexpr int kMaxNoise = 5;
constexpr int kTimeSlots = 16;      // grid units of two QMF slots per frame
constexpr int kMaxEnv = 4;

// The decoder analyses the half-rate core output with a 32-band bank whose
// window is every second tap of the prototype: for the same signal its
// subband values are half of the 64-band bank's, so energies measured here
// are scaled by a quarter to be in the decoder's domain.
constexpr float kDecoderDomain = 0.25f;
// The decoder's gain limiter and its smoothing of the gains over time leave
// the regenerated bands about 0.9 dB under the envelope sent (measured over
// noise and music through ffmpeg's decoder); the envelopes are raised by as
// much.
constexpr double kLevelTrim = 1.23;

// A canonical code for every value of one of the SBR Huffman trees.
struct HuffCode {
  uint32_t code[128];
  uint8_t length[128];
  int lav;  // largest absolute value the book codes
};

void walkTree(sbrtab::HuffTree tree, int node, uint32_t code, int length, HuffCode* out) {
  for (int bit = 0; bit < 2; ++bit) {
    const int e = tree[node][bit];
    const uint32_t c = (code << 1) | static_cast<uint32_t>(bit);
    if (e < 0) {
      const int v = e + 64;
      out->code[v + 64] = c;
      out->length[v + 64] = static_cast<uint8_t>(length + 1);
      out->lav = std::max(out->lav, std::abs(v));
    } else {
      walkTree(tree, e, c, length + 1, out);
    }
  }
}

HuffCode makeCode(sbrtab::HuffTree tree) {
  HuffCode h;
  std::memset(&h, 0, sizeof h);
  walkTree(tree, 0, 0, 0, &h);
  return h;
}

struct BitWriter {
  uint8_t* data = nullptr;
  int capacity = 0;  // bits
  int pos = 0;
  bool overflow = false;
  void put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (pos >= capacity) {
        overflow = true;
        return;
      }
      const uint32_t bit = (value >> i) & 1u;
      if (data) {
        uint8_t& byte = data[pos >> 3];
        const int shift = 7 - (pos & 7);
        byte = static_cast<uint8_t>((byte & ~(1u << shift)) | (bit << shift));
      }
      ++pos;
    }
  }
  void huff(const HuffCode& h, int v) { put(h.code[v + 64], h.length[v + 64]); }
};

struct Grid {
  int frameClass = 0;  // 0 FIXFIX
  int numEnv = 1;
  int borders[kMaxEnv + 1] = {0, kTimeSlots};
  int freqRes[kMaxEnv] = {1};
  int numNoiseEnv = 1;
  int noiseBorders[3] = {0, kTimeSlots};
};

struct Channel {
  float history[kHistory];
  float re[kSbrEncSlots][kBands];
  float im[kSbrEncSlots][kBands];
  float energy[kSbrEncSlots][kBands];
  // Quantised values of this frame.
  int env[kMaxEnv][kMaxSfb];
  int noise[2][kMaxNoise];
  int invf[kMaxNoise];
  int envDelta[kMaxEnv];    // 0 frequency, 1 time
  int noiseDelta[2];
  int addHarmonic[kMaxSfb];
  int harmonicPeak[kMaxSfb];  // QMF band of each band's sinusoid
  int owner[kBands];          // the band whose envelope a QMF band counts in
  int anyHarmonic;
  // The last envelope and noise values sent (the base of time deltas).
  int lastEnv[kMaxSfb];
  int lastEnvRes;
  int lastNoise[kMaxNoise];
  bool haveLast;
};

float sanitize(float v) { return std::isfinite(v) ? std::max(-1e6f, std::min(1e6f, v)) : 0.0f; }

}  // namespace

struct SbrEncoder {
  SbrEncoderConfig config;
  SbrEncoderSettings s;
  QmfBank* bank = nullptr;
  int master[kBands + 1];
  int nMaster = 0;
  int high[kMaxSfb + 1];
  int low[kMaxSfb + 1];
  int noise[kMaxNoise + 1];
  int frame = 0;
  HuffCode tEnv15, fEnv15, tEnv30, fEnv30, tNoise;
  float work[kHistory + kSbrEncFrameLength];
  Channel ch[2];
  // Set by sbrEncoderEncodeQmfFrame for the frame it encodes: the subband
  // values are in place, and the parametric-stereo data to send.
  bool qmfInput = false;
  const uint8_t* psData = nullptr;
  int32_t psBits = 0;
};

namespace {

// Tuning by bitrate per channel: the start and stop frequencies aimed at,
// the envelope step and how often the header is repeated.
struct TuningRow {
  int32_t minRatePerChannel;
  int32_t startHz, stopHz;
  int32_t ampRes;
};
const TuningRow kTuning[] = {
    {0, 4500, 13000, 0},      {14000, 5000, 14000, 0}, {20000, 5800, 15000, 0},
    {28000, 7200, 16000, 0},  {40000, 9600, 16500, 0},
};

void chooseFrequencies(SbrEncoder* e) {
  const int fs = e->config.sampleRate;
  const int perChannel = e->config.bitRate / std::max(1, e->config.channels);
  const TuningRow* row = &kTuning[0];
  for (const TuningRow& r : kTuning)
    if (perChannel >= r.minRatePerChannel) row = &r;
  // The start index whose frequency lies nearest the aim, then the stop
  // index nearest its aim among those the band limits allow.
  int bestStart = 0, bestDiff = 1 << 30;
  for (int i = 0; i < 16; ++i) {
    const int k0 = sbrGetStartChannel(kBands, fs, i, 0);
    if (k0 < 1 || k0 > kBands / 2) continue;
    const int d = std::abs(sbrGetStartFreqHz(i, kBands, fs, 0) - row->startHz);
    if (d < bestDiff) bestDiff = d, bestStart = i;
  }
  int bestStop = -1;
  bestDiff = 1 << 30;
  for (int i = 0; i < 14; ++i) {
    int k0, k2;
    if (sbrFindStartAndStopBand(fs, kBands, bestStart, i, 0, &k0, &k2)) continue;
    int master[kBands + 1], n = 0;
    if (calcMasterFrequencyBandTable(master, &n, k0, k2, 2, 1) || n > kMaxSfb) continue;
    const int d = std::abs(sbrGetStopFreqHz(i, kBands, fs) - row->stopHz);
    if (d < bestDiff) bestDiff = d, bestStop = i;
  }
  e->s.startFreq = bestStart;
  e->s.stopFreq = bestStop < 0 ? 0 : bestStop;
  e->s.ampRes = row->ampRes;
}

// The band tables the decoder derives from the header (freq_scale 2,
// alter_scale 1, noise_bands 2, xover_band 0: the header's defaults).
bool makeTables(SbrEncoder* e) {
  const int fs = e->config.sampleRate;
  int k0, k2;
  if (sbrFindStartAndStopBand(fs, kBands, e->s.startFreq, e->s.stopFreq, 0, &k0, &k2)) return false;
  if (calcMasterFrequencyBandTable(e->master, &e->nMaster, k0, k2, 2, 1)) return false;
  int nHigh = 0, nLow = 0;
  updateHighResFreqTable(e->high, &nHigh, e->master, e->nMaster, 0);
  if (nHigh > kMaxSfb) return false;
  updateLowResFreqTable(e->low, &nLow, e->high, nHigh);
  int nq = static_cast<int>(2 * std::log2(static_cast<double>(e->low[nLow]) / e->low[0]) + 0.5);
  nq = std::max(1, nq);
  if (nq > kMaxNoise) return false;
  updateNoiseFreqTable(e->noise, nq, e->low, nLow);
  e->s.k0 = k0;
  e->s.k2 = k2;
  e->s.crossoverHz = k0 * fs / (2 * kBands);
  e->s.stopHz = k2 * fs / (2 * kBands);
  e->s.nHigh = nHigh;
  e->s.nLow = nLow;
  e->s.nNoise = nq;
  return k0 <= kBands / 2;
}

void analyse(SbrEncoder* e, Channel& c, const float* input, int stride) {
  if (e->qmfInput) {
    for (int s = 0; s < kSbrEncSlots; ++s)
      for (int k = 0; k < kBands; ++k)
        c.energy[s][k] = kDecoderDomain * (c.re[s][k] * c.re[s][k] + c.im[s][k] * c.im[s][k]);
    return;
  }
  std::memcpy(e->work, c.history, sizeof c.history);
  for (int i = 0; i < kSbrEncFrameLength; ++i) e->work[kHistory + i] = sanitize(input[i * stride]);
  std::memcpy(c.history, e->work + kSbrEncFrameLength, sizeof c.history);
  float* re[kSbrEncSlots];
  float* im[kSbrEncSlots];
  for (int s = 0; s < kSbrEncSlots; ++s) re[s] = c.re[s], im[s] = c.im[s];
  qmfAnalysisFiltering(e->work, re, im, e->bank);
  for (int s = 0; s < kSbrEncSlots; ++s)
    for (int k = 0; k < kBands; ++k)
      c.energy[s][k] = kDecoderDomain * (c.re[s][k] * c.re[s][k] + c.im[s][k] * c.im[s][k]);
}

// The mean energy of QMF bands [k0, k1) over slots [s0, s1).
double meanEnergy(const Channel& c, int s0, int s1, int k0, int k1) {
  double sum = 0;
  for (int s = s0; s < s1; ++s)
    for (int k = k0; k < k1; ++k) sum += c.energy[s][k];
  const int n = (s1 - s0) * (k1 - k0);
  return n > 0 ? sum / n : 0.0;
}

// How tonal QMF band k is over the frame: the squared normalised correlation
// of neighbouring slots (1 for a steady sinusoid, near 0 for noise).
double tonality(const Channel& c, int k) {
  double rr = 0, ri = 0, e0 = 0, e1 = 0;
  for (int s = 1; s < kSbrEncSlots; ++s) {
    rr += c.re[s][k] * c.re[s - 1][k] + c.im[s][k] * c.im[s - 1][k];
    ri += c.im[s][k] * c.re[s - 1][k] - c.re[s][k] * c.im[s - 1][k];
    e0 += c.energy[s][k];
    e1 += c.energy[s - 1][k];
  }
  const double d = e0 * e1;
  if (d <= 1e-3) return 0.0;
  return std::min(1.0, kDecoderDomain * kDecoderDomain * (rr * rr + ri * ri) / d);
}

double bandTonality(const Channel& c, int k0, int k1) {
  double sum = 0, weight = 0;
  for (int k = k0; k < k1; ++k) {
    const double w = meanEnergy(c, 0, kSbrEncSlots, k, k + 1) + 1e-3;
    sum += w * tonality(c, k);
    weight += w;
  }
  return weight > 0 ? sum / weight : 0.0;
}

// The QMF band of the low band that the decoder copies into high band k:
// patches of the low band repeat upwards from the crossover.
int sourceBand(const SbrEncoder* e, int k) {
  const int k0 = e->s.k0;
  const int lowStart = std::max(1, k0 - (k0 / 2 + 1));
  const int width = k0 - lowStart;
  return lowStart + (k - k0) % width;
}

// Missing harmonics: a high band whose energy sits in one steady sinusoid
// that the copied low band does not bring gets a sinusoid of its own from the
// decoder (at the band's middle QMF band). A band keeps its sinusoid while
// the tone lasts somewhat less clearly, so it does not flicker.
void findHarmonics(const SbrEncoder* e, Channel& c) {
  c.anyHarmonic = 0;
  const int lowStart = sourceBand(e, e->s.k0);
  const double lowMean = meanEnergy(c, 0, kSbrEncSlots, lowStart, e->s.k0);
  for (int b = 0; b < e->s.nHigh; ++b) {
    const int k0 = e->high[b], k1 = e->high[b + 1];
    double total = 0, peak = 0;
    int kp = k0;
    for (int k = k0; k < k1; ++k) {
      const double m = meanEnergy(c, 0, kSbrEncSlots, k, k + 1);
      total += m;
      if (m > peak) peak = m, kp = k;
    }
    // The tone's leakage into the QMF band next to it belongs to it.
    double neighbours = 0;
    if (kp > 0) neighbours += meanEnergy(c, 0, kSbrEncSlots, kp - 1, kp);
    if (kp + 1 < kBands) neighbours += meanEnergy(c, 0, kSbrEncSlots, kp + 1, kp + 2);
    const bool was = c.addHarmonic[b] != 0;
    const double share = total > 0 ? (peak + neighbours) / (total + neighbours) : 0.0;
    const double ton = tonality(c, kp);
    const int src = sourceBand(e, kp);
    // The copy brings a tone of its own when its source QMF band holds one
    // that stands out of the low band the decoder copies from.
    const bool copyTonal = tonality(c, src) > 0.7 && meanEnergy(c, 0, kSbrEncSlots, src, src + 1) > 4.0 * lowMean;
    const bool loud = peak > 64.0 * 256.0;
    const bool on = loud && ton > (was ? 0.6 : 0.8) && share > (was ? 0.5 : 0.7) && !copyTonal;
    c.addHarmonic[b] = on ? 1 : 0;
    c.harmonicPeak[b] = kp;
    if (on) c.anyHarmonic = 1;
  }
}

// A tone that lies at the border of two bands leaks into the QMF band over
// the border: one band gets its sinusoid, and the leaking QMF band's energy
// counts in that band, so the neighbour is not filled up to the tone's level
// with copied signal.
void assignTones(const SbrEncoder* e, Channel& c) {
  for (int b = 0; b < e->s.nHigh; ++b)
    for (int k = e->high[b]; k < e->high[b + 1]; ++k) c.owner[k] = b;
  for (int b = 0; b < e->s.nHigh; ++b) {
    if (!c.addHarmonic[b]) continue;
    const int kp = c.harmonicPeak[b];
    for (int side = -1; side <= 1; side += 2) {
      const int nb = b + side;
      const int leak = kp + side;
      if (nb < 0 || nb >= e->s.nHigh || leak < e->high[nb] || leak >= e->high[nb + 1]) continue;
      if (c.addHarmonic[nb] && std::abs(c.harmonicPeak[nb] - kp) <= 1) {
        // The same tone seen from both sides: the stronger side keeps it.
        const double mine = meanEnergy(c, 0, kSbrEncSlots, kp, kp + 1);
        const double theirs = meanEnergy(c, 0, kSbrEncSlots, c.harmonicPeak[nb], c.harmonicPeak[nb] + 1);
        if (theirs > mine) continue;
        c.addHarmonic[nb] = 0;
      }
      if (!c.addHarmonic[nb]) c.owner[leak] = b;
    }
  }
}

// The mean energy of high band b over slots [s0, s1) as its envelope value
// counts it: the QMF bands it owns, over its width.
double bandEnergy(const SbrEncoder* e, const Channel& c, int s0, int s1, int b) {
  double sum = 0;
  for (int k = e->high[std::max(0, b - 1)]; k < e->high[std::min(e->s.nHigh, b + 2)]; ++k)
    if (c.owner[k] == b) sum += meanEnergy(c, s0, s1, k, k + 1);
  return sum / (e->high[b + 1] - e->high[b]);
}

void estimate(SbrEncoder* e, Channel& c, const Grid& g) {
  const double step = 2.0;  // 1.5 dB: two steps per doubling of energy
  findHarmonics(e, c);
  assignTones(e, c);
  c.anyHarmonic = 0;
  for (int b = 0; b < e->s.nHigh; ++b) c.anyHarmonic |= c.addHarmonic[b];
  for (int env = 0; env < g.numEnv; ++env) {
    const int* table = g.freqRes[env] ? e->high : e->low;
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    const int s0 = 2 * g.borders[env], s1 = 2 * g.borders[env + 1];
    for (int b = 0; b < n; ++b) {
      const double raw = g.freqRes[env] ? bandEnergy(e, c, s0, s1, b) : meanEnergy(c, s0, s1, table[b], table[b + 1]);
      // The decoder restores 64 * 2^(v / 2).
      const double m = kLevelTrim * raw;
      int v = m > 64.0 ? static_cast<int>(std::floor(step * std::log2(m / 64.0) + 0.5)) : 0;
      c.env[env][b] = std::max(0, std::min(127, v));
    }
  }
  // Noise floor and inverse filtering per noise band, from how tonal the
  // original high band is against the low band the decoder will copy there.
  for (int q = 0; q < e->s.nNoise; ++q) {
    const int k0 = e->noise[q], k1 = e->noise[q + 1];
    const double tOrig = bandTonality(c, k0, k1);
    double tPatch = 0, wsum = 0;
    for (int k = k0; k < k1; ++k) {
      const int src = sourceBand(e, k);
      const double w = meanEnergy(c, 0, kSbrEncSlots, src, src + 1) + 1e-3;
      tPatch += w * tonality(c, src);
      wsum += w;
    }
    tPatch = wsum > 0 ? tPatch / wsum : 0;
    const double hfEnergy = meanEnergy(c, 0, kSbrEncSlots, k0, k1);
    // Noise wanted: the part of the original that is noise, against the
    // tonal part (the decoder adds noise at E * Q / (1 + Q)).
    const double noiseShare = std::max(0.02, 1.0 - tOrig);
    const double patchNoise = 1.0 - tPatch;
    double qRatio = std::max(0.0, noiseShare - 0.7 * patchNoise) / std::max(0.02, 1.0 - noiseShare);
    if (hfEnergy <= 64.0) qRatio = 0.0;
    int qv = qRatio > 0 ? static_cast<int>(std::floor(6.0 - std::log2(qRatio) + 0.5)) : 30;
    qv = std::max(0, std::min(30, qv));
    for (int ne = 0; ne < g.numNoiseEnv; ++ne) c.noise[ne][q] = qv;
    const double diff = tPatch - tOrig;
    c.invf[q] = diff > 0.6 ? 3 : diff > 0.4 ? 2 : diff > 0.2 ? 1 : 0;
  }
  // A band that gets a sinusoid takes the envelope's energy into it; the
  // copied low band there is held down to the noise floor, so the noise
  // band around it asks for little noise.
  for (int b = 0; b < e->s.nHigh; ++b) {
    if (!c.addHarmonic[b]) continue;
    for (int q = 0; q < e->s.nNoise; ++q)
      if (e->high[b] >= e->noise[q] && e->high[b] < e->noise[q + 1])
        for (int ne = 0; ne < g.numNoiseEnv; ++ne) c.noise[ne][q] = std::max(c.noise[ne][q], 20);
  }
}

int envBits(const SbrEncoder* e, const int* v, int n, const int* prev, bool timeDelta, int startBits) {
  int bits = 0;
  if (timeDelta) {
    for (int b = 0; b < n; ++b) {
      const int d = v[b] - prev[b];
      if (std::abs(d) > e->tEnv15.lav) return 1 << 20;
      bits += e->tEnv15.length[d + 64];
    }
  } else {
    bits += startBits;
    for (int b = 1; b < n; ++b) {
      const int d = v[b] - v[b - 1];
      if (std::abs(d) > e->fEnv15.lav) return 1 << 20;
      bits += e->fEnv15.length[d + 64];
    }
  }
  return bits;
}

int noiseBits(const SbrEncoder* e, const int* v, int n, const int* prev, bool timeDelta) {
  int bits = 0;
  if (timeDelta) {
    for (int b = 0; b < n; ++b) bits += e->tNoise.length[v[b] - prev[b] + 64];
  } else {
    bits += 5;
    for (int b = 1; b < n; ++b) bits += e->fEnv30.length[v[b] - v[b - 1] + 64];
  }
  return bits;
}

// Chooses time or frequency deltas for each envelope and noise envelope,
// whichever costs fewer bits. A frame that carries the header codes its first
// envelopes in frequency, so a decoder starting there needs nothing earlier.
void chooseDeltas(SbrEncoder* e, Channel& c, const Grid& g, bool header) {
  const int* prev = c.lastEnv;
  bool prevValid = c.haveLast && !header;
  int prevRes = c.lastEnvRes;
  for (int env = 0; env < g.numEnv; ++env) {
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    const bool canTime = prevValid && prevRes == g.freqRes[env];
    const int fBits = envBits(e, c.env[env], n, nullptr, false, 7);
    const int tBits = canTime ? envBits(e, c.env[env], n, prev, true, 7) : 1 << 20;
    c.envDelta[env] = tBits < fBits ? 1 : 0;
    if (fBits >= 1 << 20 && tBits >= 1 << 20) {
      // Clamp neighbouring steps into the frequency book's range.
      for (int b = 1; b < n; ++b)
        c.env[env][b] = std::max(c.env[env][b - 1] - e->fEnv15.lav, std::min(c.env[env][b - 1] + e->fEnv15.lav, c.env[env][b]));
      c.envDelta[env] = 0;
    }
    prev = c.env[env];
    prevRes = g.freqRes[env];
    prevValid = true;
  }
  const int nq = e->s.nNoise;
  const int* prevNoise = c.lastNoise;
  bool noiseValid = c.haveLast && !header;
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) {
    const int fBits = noiseBits(e, c.noise[ne], nq, nullptr, false);
    const int tBits = noiseValid ? noiseBits(e, c.noise[ne], nq, prevNoise, true) : 1 << 20;
    c.noiseDelta[ne] = tBits < fBits ? 1 : 0;
    prevNoise = c.noise[ne];
    noiseValid = true;
  }
}

void writeGrid(BitWriter& w, const Grid& g) {
  w.put(0, 2);  // FIXFIX
  w.put(g.numEnv == 4 ? 2 : g.numEnv == 2 ? 1 : 0, 2);
  w.put(static_cast<uint32_t>(g.freqRes[0]), 1);
}

void writeDtdf(BitWriter& w, const Channel& c, const Grid& g) {
  for (int env = 0; env < g.numEnv; ++env) w.put(static_cast<uint32_t>(c.envDelta[env]), 1);
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) w.put(static_cast<uint32_t>(c.noiseDelta[ne]), 1);
}

void writeInvf(BitWriter& w, const SbrEncoder* e, const Channel& c) {
  for (int q = 0; q < e->s.nNoise; ++q) w.put(static_cast<uint32_t>(c.invf[q]), 2);
}

void writeEnvelope(BitWriter& w, const SbrEncoder* e, const Channel& c, const Grid& g) {
  const int* prev = c.lastEnv;
  for (int env = 0; env < g.numEnv; ++env) {
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    if (c.envDelta[env]) {
      for (int b = 0; b < n; ++b) w.huff(e->tEnv15, c.env[env][b] - prev[b]);
    } else {
      w.put(static_cast<uint32_t>(c.env[env][0]), 7);
      for (int b = 1; b < n; ++b) w.huff(e->fEnv15, c.env[env][b] - c.env[env][b - 1]);
    }
    prev = c.env[env];
  }
}

void writeNoise(BitWriter& w, const SbrEncoder* e, const Channel& c, const Grid& g) {
  const int* prev = c.lastNoise;
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) {
    if (c.noiseDelta[ne]) {
      for (int q = 0; q < e->s.nNoise; ++q) w.huff(e->tNoise, c.noise[ne][q] - prev[q]);
    } else {
      w.put(static_cast<uint32_t>(c.noise[ne][0]), 5);
      for (int q = 1; q < e->s.nNoise; ++q) w.huff(e->fEnv30, c.noise[ne][q] - c.noise[ne][q - 1]);
    }
    prev = c.noise[ne];
  }
}

void writeHarmonics(BitWriter& w, const SbrEncoder* e, const Channel& c) {
  w.put(static_cast<uint32_t>(c.anyHarmonic), 1);
  if (c.anyHarmonic)
    for (int b = 0; b < e->s.nHigh; ++b) w.put(static_cast<uint32_t>(c.addHarmonic[b]), 1);
}

void writeHeader(BitWriter& w, const SbrEncoder* e) {
  w.put(static_cast<uint32_t>(e->s.ampRes), 1);
  w.put(static_cast<uint32_t>(e->s.startFreq), 4);
  w.put(static_cast<uint32_t>(e->s.stopFreq), 4);
  w.put(0, 3);  // xover band
  w.put(0, 2);  // reserved
  w.put(0, 1);  // no extra 1: freq_scale 2, alter_scale 1, noise_bands 2
  w.put(0, 1);  // no extra 2: the limiter and interpolation defaults
}

// Extended data: the parametric-stereo data when there is some, in a
// block of whole bytes after its 2-bit extension id.
void writeExtension(BitWriter& w, const SbrEncoder* e) {
  if (!e->psData || e->psBits <= 0) {
    w.put(0, 1);  // no extended data
    return;
  }
  w.put(1, 1);
  const int bytes = (2 + e->psBits + 7) / 8;
  if (bytes >= 15) {
    w.put(15, 4);
    w.put(static_cast<uint32_t>(bytes - 15), 8);
  } else {
    w.put(static_cast<uint32_t>(bytes), 4);
  }
  w.put(2, 2);  // parametric stereo
  for (int i = 0; i < e->psBits; ++i) w.put((e->psData[i >> 3] >> (7 - (i & 7))) & 1u, 1);
  w.put(0, 8 * bytes - 2 - e->psBits);
}

void remember(Channel& c, const Grid& g, const SbrEncoder* e) {
  const int last = g.numEnv - 1;
  const int n = g.freqRes[last] ? e->s.nHigh : e->s.nLow;
  std::memcpy(c.lastEnv, c.env[last], sizeof(int) * static_cast<size_t>(n));
  c.lastEnvRes = g.freqRes[last];
  std::memcpy(c.lastNoise, c.noise[g.numNoiseEnv - 1], sizeof c.lastNoise);
  c.haveLast = true;
}

}  // namespace

int sbrEncoderOpen(SbrEncoder** out, const SbrEncoderConfig* cfg) {
  if (!out) return kSbrEncFailed;
  *out = nullptr;
  if (!cfg || cfg->channels < 1 || cfg->channels > 2 || cfg->sampleRate < 16000 || cfg->sampleRate > 96000)
    return kSbrEncFailed;
  SbrEncoder* e = new (std::nothrow) SbrEncoder();
  if (!e) return kSbrEncFailed;
  e->config = *cfg;
  std::memset(e->ch, 0, sizeof e->ch);
  chooseFrequencies(e);
  if (!makeTables(e) || createCplxAnalysisQmfBank(&e->bank, 0, 1, 1, kSbrEncFrameLength, 0)) {
    sbrEncoderClose(e);
    return kSbrEncFailed;
  }
  // About two headers a second: a player that starts anywhere soon finds one.
  e->s.headerPeriod = std::max(1, cfg->sampleRate / (2 * kSbrEncFrameLength));
  e->tEnv15 = makeCode(sbrtab::sbrHuff_t_huffman_env_1_5dB);
  e->fEnv15 = makeCode(sbrtab::sbrHuff_f_huffman_env_1_5dB);
  e->tEnv30 = makeCode(sbrtab::sbrHuff_t_huffman_env_3_0dB);
  e->fEnv30 = makeCode(sbrtab::sbrHuff_f_huffman_env_3_0dB);
  e->tNoise = makeCode(sbrtab::sbrHuff_t_huffman_noise_3_0dB);
  *out = e;
  return kSbrEncOk;
}

void sbrEncoderClose(SbrEncoder* e) {
  if (!e) return;
  deleteQmfBank(&e->bank);
  delete e;
}

void sbrEncoderGetSettings(const SbrEncoder* e, SbrEncoderSettings* s) {
  if (e && s) *s = e->s;
}

int sbrEncoderEncodeFrame(SbrEncoder* e, const float* input, int32_t stride, uint8_t* out, int32_t* bits) {
  if (!e || !input || !out || !bits || stride < e->config.channels) return kSbrEncFailed;
  *bits = 0;
  const int nch = e->config.channels;
  Grid g;
  for (int c = 0; c < nch; ++c) {
    analyse(e, e->ch[c], input + c, stride);
    estimate(e, e->ch[c], g);
  }
  const bool header = e->frame % e->s.headerPeriod == 0;
  for (int c = 0; c < nch; ++c) chooseDeltas(e, e->ch[c], g, header);

  BitWriter w;
  w.data = out;
  w.capacity = 8 * kSbrEncMaxPayloadBytes;
  std::memset(out, 0, kSbrEncMaxPayloadBytes);
  w.put(header ? 1u : 0u, 1);
  if (header) writeHeader(w, e);
  Channel& c0 = e->ch[0];
  if (nch == 1) {
    w.put(0, 1);  // no reserved data
    writeGrid(w, g);
    writeDtdf(w, c0, g);
    writeInvf(w, e, c0);
    writeEnvelope(w, e, c0, g);
    writeNoise(w, e, c0, g);
    writeHarmonics(w, e, c0);
  } else {
    Channel& c1 = e->ch[1];
    w.put(0, 1);  // no reserved data
    w.put(0, 1);  // left and right coded apart
    writeGrid(w, g);
    writeGrid(w, g);
    writeDtdf(w, c0, g);
    writeDtdf(w, c1, g);
    writeInvf(w, e, c0);
    writeInvf(w, e, c1);
    writeEnvelope(w, e, c0, g);
    writeEnvelope(w, e, c1, g);
    writeNoise(w, e, c0, g);
    writeNoise(w, e, c1, g);
    writeHarmonics(w, e, c0);
    writeHarmonics(w, e, c1);
  }
  writeExtension(w, e);
  if (w.overflow) return kSbrEncFailed;
  for (int c = 0; c < nch; ++c) remember(e->ch[c], g, e);
  ++e->frame;
  *bits = w.pos;
  return kSbrEncOk;
}

int sbrEncoderEncodeQmfFrame(SbrEncoder* e, float* const* re, float* const* im, const uint8_t* psData, int32_t psBits,
                             uint8_t* out, int32_t* bits) {
  if (!e || !re || !im || e->config.channels != 1 || psBits < 0 || psBits > 8 * 255 - 2 || (psBits && !psData))
    return kSbrEncFailed;
  Channel& c = e->ch[0];
  for (int s = 0; s < kSbrEncSlots; ++s)
    for (int k = 0; k < kBands; ++k) c.re[s][k] = sanitize(re[s][k]), c.im[s][k] = sanitize(im[s][k]);
  e->qmfInput = true;
  e->psData = psData;
  e->psBits = psBits;
  const float none = 0.0f;
  const int r = sbrEncoderEncodeFrame(e, &none, 1, out, bits);
  e->qmfInput = false;
  e->psData = nullptr;
  e->psBits = 0;
  return r;
}
