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
#include "ton_corr.h"
#include "tran_det.h"

namespace {

constexpr int kBands = 64;
constexpr int kHistory = 640 - 64;  // QMF input kept from frame to frame
constexpr int kMaxSfb = 48;
constexpr int kMaxNoise = 5;
constexpr int kTimeSlots = 16;      // grid units of two QMF slots per frame
constexpr int kMaxEnv = 5;
// The decoder applies a frame's envelopes to its QMF slots six slots later
// than the core frame's own analysis slots (its high-band generator runs
// that far ahead of the envelope adjuster). The frame the grid describes
// therefore ends six slots before the newest analysed slot, which leaves
// the look-ahead a grid reaching into the next frame needs (three grid
// units) and the transient detector's three slots. kBack slots are kept in
// front of the frame for the detector's window.
constexpr int kBack = 8;
constexpr int kAhead = 6;
constexpr int kRows = kBack + kSbrEncSlots + kAhead;
constexpr int kNoOnset = 1 << 20;

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
// The transient detector's tuning: the summed candidate value a transient
// must reach (over the bands it watches), how far it must stand above the
// running mean, and the factor on the frame splitter's threshold. At 1 the
// splitter cut nearly every frame of steady pink noise in two (66 of 68)
// for nothing; at 10 it cuts 5 of those, 8 of 68 of the music source
// (its attacks) and 22 of the speech source (its syllables).
constexpr float kTransientThreshold = 13000.0f;
constexpr float kTransientMeanFactor = 1.5f;
constexpr float kSplitFactor = 10.0f;
// Coupling codes left and right as level and balance, and the balance steps
// are coarse: it is taken only while its error (mean square, in log2 of
// energy) stays within this much of coding the channels apart.
constexpr double kCouplingError = 0.02;
// Whitening the copied band (inverse filtering) lets the decoder's gain
// limiter leave it lower than the envelope sent: the envelope is raised by
// as much per inverse-filtering level (measured over noise, speech and
// music through ffmpeg's decoder).
constexpr double kInvfTrim[4] = {1.0, 1.25, 1.4, 1.5};

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

// The time grid of a frame, in units of two QMF slots: envelope borders
// (the first one continues the previous frame's last, the last one may reach
// up to three units into the next frame), the frequency resolution of each
// envelope, the envelope a transient starts, and the noise envelopes the
// decoder derives from them.
struct Grid {
  int frameClass = 0;  // 0 FIXFIX, 1 FIXVAR, 2 VARFIX, 3 VARVAR
  int numEnv = 1;
  int borders[kMaxEnv + 1] = {0, kTimeSlots};
  int freqRes[kMaxEnv] = {1};
  int numRel0 = 0;  // borders counted from the first one
  int numRel1 = 0;  // borders counted back from the last one
  int pointer = 0;
  int numNoiseEnv = 1;
  int noiseBorders[3] = {0, kTimeSlots};
};

struct Channel {
  float history[kHistory];
  // The QMF matrix: kBack slots before the frame, its 32 slots, kAhead after
  // it. The row pointers rotate by a frame; re/im/energy[s] is slot s of the
  // frame (s from -kBack to 32 + kAhead - 1).
  float reBuf[kRows][kBands];
  float imBuf[kRows][kBands];
  float enBuf[kRows][kBands];
  float* reRow[kRows];
  float* imRow[kRows];
  float* enRow[kRows];
  float** re;
  float** im;
  float** energy;
  TranDetState* detector;
  TonCorrState* tonality;  // the predictor's tonality quotas and inverse filtering
  // Measures of this frame: the energy of every envelope and band in the
  // decoder's domain, and the noise wanted per noise band (the decoder's Q).
  double envRaw[kMaxEnv][kMaxSfb];
  double noiseQ[kMaxNoise];
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
  // What the decoder keeps of the last frame, the base of time deltas: the
  // envelope values at high frequency resolution (a low-resolution value
  // stands for each high band it covers), the noise values, and the step
  // and coupling they were sent in.
  int lastEnv[kMaxSfb];
  int lastNoise[kMaxNoise];
  int lastAmpRes;
  int lastCoupling;
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
  int lowToHigh[kMaxSfb + 1];  // the high band each low band starts at
  int frame = 0;
  int prevEnd = 0;  // how far the last frame's grid reached into this one
  int carry;        // an onset found for this frame by the last one
  // Codes by [balance][amp_res] (envelopes) and [balance] (noise).
  HuffCode tEnv[2][2], fEnv[2][2], tNoise[2], fNoise[2];
  float work[kHistory + kSbrEncFrameLength];
  Channel ch[2];
  // Set by sbrEncoderEncodeQmfFrame for the frame it encodes: the new
  // frame's subband values, and the parametric-stereo data to send.
  float* const* qmfRe = nullptr;
  float* const* qmfIm = nullptr;
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

const TuningRow& tuningRow(const SbrEncoderConfig& c) {
  const int perChannel = c.bitRate / std::max(1, c.channels);
  const TuningRow* row = &kTuning[0];
  for (const TuningRow& r : kTuning)
    if (perChannel >= r.minRatePerChannel) row = &r;
  return *row;
}

// The start index whose frequency lies nearest the tuning's aim.
int tunedStart(const SbrEncoderConfig& c) {
  const int fs = c.sampleRate;
  const TuningRow& row = tuningRow(c);
  int bestStart = 0, bestDiff = 1 << 30;
  for (int i = 0; i < 16; ++i) {
    const int k0 = sbrGetStartChannel(kBands, fs, i, 0);
    if (k0 < 1 || k0 > kBands / 2) continue;
    const int d = std::abs(sbrGetStartFreqHz(i, kBands, fs, 0) - row.startHz);
    if (d < bestDiff) bestDiff = d, bestStart = i;
  }
  return bestStart;
}

bool validConfig(const SbrEncoderConfig* c) {
  return c && c->channels >= 1 && c->channels <= 2 && c->sampleRate >= 16000 && c->sampleRate <= 96000 &&
         (!c->fixedStart || (c->startFreq >= 0 && c->startFreq <= 15));
}

void chooseFrequencies(SbrEncoder* e) {
  const int fs = e->config.sampleRate;
  const TuningRow* row = &tuningRow(e->config);
  // The start index whose frequency lies nearest the aim (or the one
  // imposed), then the stop index nearest its aim among those the band
  // limits allow.
  const int bestStart = e->config.fixedStart ? e->config.startFreq : tunedStart(e->config);
  int bestStop = -1;
  int bestDiff = 1 << 30;
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
  for (int b = 0, j = 0; b <= nLow; ++b) {
    while (j < nHigh && e->high[j] < e->low[b]) ++j;
    e->lowToHigh[b] = j;
  }
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
  // The matrix moves on by a frame; the new slots fill its end.
  float* keep[3][kSbrEncSlots];
  for (int s = 0; s < kSbrEncSlots; ++s) keep[0][s] = c.reRow[s], keep[1][s] = c.imRow[s], keep[2][s] = c.enRow[s];
  for (int s = 0; s + kSbrEncSlots < kRows; ++s) {
    c.reRow[s] = c.reRow[s + kSbrEncSlots];
    c.imRow[s] = c.imRow[s + kSbrEncSlots];
    c.enRow[s] = c.enRow[s + kSbrEncSlots];
  }
  float** re = c.reRow + kRows - kSbrEncSlots;
  float** im = c.imRow + kRows - kSbrEncSlots;
  float** en = c.enRow + kRows - kSbrEncSlots;
  for (int s = 0; s < kSbrEncSlots; ++s) re[s] = keep[0][s], im[s] = keep[1][s], en[s] = keep[2][s];
  if (e->qmfRe) {
    // Input already in the subband domain (the parametric-stereo downmix).
    for (int s = 0; s < kSbrEncSlots; ++s)
      for (int k = 0; k < kBands; ++k) re[s][k] = sanitize(e->qmfRe[s][k]), im[s][k] = sanitize(e->qmfIm[s][k]);
  } else {
    std::memcpy(e->work, c.history, sizeof c.history);
    for (int i = 0; i < kSbrEncFrameLength; ++i) e->work[kHistory + i] = sanitize(input[i * stride]);
    std::memcpy(c.history, e->work + kSbrEncFrameLength, sizeof c.history);
    qmfAnalysisFiltering(e->work, re, im, e->bank);
  }
  for (int s = 0; s < kSbrEncSlots; ++s)
    for (int k = 0; k < kBands; ++k) en[s][k] = kDecoderDomain * (re[s][k] * re[s][k] + im[s][k] * im[s][k]);
}

void initChannel(Channel& c) {
  for (int s = 0; s < kRows; ++s) c.reRow[s] = c.reBuf[s], c.imRow[s] = c.imBuf[s], c.enRow[s] = c.enBuf[s];
  c.re = c.reRow + kBack;
  c.im = c.imRow + kBack;
  c.energy = c.enRow + kBack;
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

// Missing harmonics, from the predictor's tonality quotas of the frame's
// estimates (two of 14 slots each). Per high band, the quota of the original
// at its most tonal QMF band is held against the most tonal QMF band that
// the decoder's patch copies into the band: a sinusoid the copy does not
// bring shows as an original far more predictable than its copy. A new
// sinusoid needs that margin in every estimate from the frame's transient on
// (a tone that starts within the frame is taken in the next one, whole); a
// band that has one keeps it at smaller margins while the tone lasts, so it
// does not flicker. The band must also hold its energy in the one tone
// (its peak QMF band and the leakage beside it), and be loud enough to
// matter.
constexpr double kToneQuotaNew = 40.0;   // about 16 dB of prediction gain
constexpr double kToneQuotaKeep = 10.0;
constexpr double kToneMarginNew = 8.0;   // original over copy
constexpr double kToneMarginKeep = 2.5;

void findHarmonics(const SbrEncoder* e, Channel& c, bool transient, int at) {
  c.anyHarmonic = 0;
  const TonCorrState* t = c.tonality;
  const int epf = t->estimatesPerFrame;
  // The estimates that lie after the transient (each spans 16 slots).
  int firstEst = 0;
  if (transient) firstEst = std::min(epf - 1, std::max(0, 2 * at) / t->estimateStep);
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
    const double needQuota = was ? kToneQuotaKeep : kToneQuotaNew;
    const double needMargin = was ? kToneMarginKeep : kToneMarginNew;
    bool missing = true;
    for (int l = was ? 0 : firstEst; l < epf && missing; ++l) {
      const float* q = t->quotaMatrix[t->startIndexMatrix + l];
      double orig = 0, copy = 0;
      for (int k = k0; k < k1; ++k) {
        orig = std::max(orig, static_cast<double>(q[k]));
        const int src = t->indexVector[k];
        if (src >= 0) copy = std::max(copy, static_cast<double>(q[src]));
      }
      missing = orig > needQuota && orig > needMargin * (copy + 1.0);
    }
    const bool loud = peak > 64.0 * 256.0;
    const bool on = loud && missing && share > (was ? 0.5 : 0.7);
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

// The measures of one channel for the frame's grid: missing harmonics, the
// energy of every envelope and band, and per noise band the noise floor
// and the inverse filtering (the inverse-filtering detector's levels, from
// the predictor's tonality quotas of the original and of the bands the
// decoder copies from).
void measure(SbrEncoder* e, Channel& c, const Grid& g, bool transient, int at) {
  // The predictor's tonality quotas of this frame and the inverse-filtering
  // levels the detector derives from them.
  tonCorrCalcQuotas(c.tonality, c.re, c.im, 1);
  SbrFrameInfo info;
  info.nEnvelopes = g.numEnv;
  for (int i = 0; i <= g.numEnv; ++i) info.borders[i] = g.borders[i];
  const int32_t tran[2] = {at, transient ? 1 : 0};
  int32_t invf[kMaxNoise] = {0};
  float levels[kMaxNoise];
  int32_t mhFrame = 0, mhFurther = 0, mhBands[kMaxSfb];
  tonCorrExtractFrame(c.tonality, invf, levels, &mhFrame, mhBands, &mhFurther, &info, tran, 0, e->s.nHigh, 1, 0);
  findHarmonics(e, c, transient, at);
  assignTones(e, c);
  c.anyHarmonic = 0;
  for (int b = 0; b < e->s.nHigh; ++b) c.anyHarmonic |= c.addHarmonic[b];
  for (int env = 0; env < g.numEnv; ++env) {
    const int* table = g.freqRes[env] ? e->high : e->low;
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    const int s0 = 2 * g.borders[env], s1 = 2 * g.borders[env + 1];
    for (int b = 0; b < n; ++b) {
      const double raw = g.freqRes[env] ? bandEnergy(e, c, s0, s1, b) : meanEnergy(c, s0, s1, table[b], table[b + 1]);
      c.envRaw[env][b] = kLevelTrim * raw;
    }
  }
  // Noise floor and inverse filtering per noise band, from how tonal the
  // original high band is against the low band the decoder will copy there.
  // The noise floor comes from the neighbouring-slot correlation: a floor
  // from the predictor's quotas instead left the levels and the flatness of
  // noise and speech further from the source's (measured through ffmpeg).
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
    c.noiseQ[q] = qRatio;
    c.invf[q] = invf[q];
  }
  // The envelope of each noise band is raised for its inverse filtering.
  for (int env = 0; env < g.numEnv; ++env) {
    const int* table = g.freqRes[env] ? e->high : e->low;
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    for (int b = 0; b < n; ++b)
      for (int q = 0; q < e->s.nNoise; ++q)
        if (table[b] >= e->noise[q] && table[b] < e->noise[q + 1]) c.envRaw[env][b] *= kInvfTrim[c.invf[q]];
  }
  // A band that gets a sinusoid takes the envelope's energy into it; the
  // copied low band there is held down to the noise floor, so the noise
  // band around it asks for little noise.
  for (int b = 0; b < e->s.nHigh; ++b) {
    if (!c.addHarmonic[b]) continue;
    for (int q = 0; q < e->s.nNoise; ++q)
      if (e->high[b] >= e->noise[q] && e->high[b] < e->noise[q + 1]) c.noiseQ[q] = std::min(c.noiseQ[q], std::exp2(-14.0));
  }
}

// The decoder restores an envelope value v as 64 * 2^(v / a) (a = 2 at
// 1.5 dB, 1 at 3 dB) and a noise value q as Q = 2^(6 - q).
int quantEnergy(double m, int a) {
  const int v = m > 64.0 ? static_cast<int>(std::floor(a * std::log2(m / 64.0) + 0.5)) : 0;
  return std::max(0, std::min(35 * a, v));
}

int quantNoise(double q) {
  const int v = q > 0 ? static_cast<int>(std::floor(6.0 - std::log2(q) + 0.5)) : 30;
  return std::max(0, std::min(30, v));
}

// Balance: the decoder splits a level into left and right by the ratio
// 2^(2 v / a - 12) (envelopes) or 2^(2 v - 12) (noise).
int quantBalance(double left, double right, int a) {
  const double r = std::log2((left + 1e-3) / (right + 1e-3));
  const int v = static_cast<int>(std::floor(0.5 * a * (r + 12.0) + 0.5));
  return std::max(0, std::min(12 * a, v));
}

// Level and balance of one band: the balance steps are coarse (3 dB at the
// 1.5 dB step), so of the two balances around the ratio the one whose
// decoded left and right come nearer the measured ones (in dB) wins, with
// the level that fits it best.
double quantCoupled(double left, double right, int a, int* level, int* balance) {
  const int b0 = quantBalance(left, right, a);
  const double ll = std::log2(left + 1e-3), lr = std::log2(right + 1e-3);
  double bestErr = 1e300;
  for (int vb = std::max(0, b0 - 1); vb <= std::min(12 * a, b0 + 1); ++vb) {
    const double ratio = std::exp2(2.0 * vb / a - 12.0);
    const double gl = std::log2(2 * ratio / (1 + ratio)), gr = std::log2(2 / (1 + ratio));
    // The level (log2 of the mean energy) that fits both channels best.
    const double lev = 0.5 * ((ll - gl) + (lr - gr));
    const int vl = quantEnergy(std::exp2(lev), a);
    const double dl = 6.0 + static_cast<double>(vl) / a;  // log2 of the decoded level
    const double err = (dl + gl - ll) * (dl + gl - ll) + (dl + gr - lr) * (dl + gr - lr);
    if (err < bestErr) bestErr = err, *level = vl, *balance = vb;
  }
  return bestErr;
}

// The squared error, in (log2 of energy)^2, of a value quantised alone.
double quantError(double m, int a) {
  const double d = 6.0 + static_cast<double>(quantEnergy(m, a)) / a - std::log2(std::max(m, 64.0));
  return d * d;
}

// Quantises the measures of the channels: left and right apart, or (coupling)
// channel 0 carrying the level (the mean of both) and channel 1 the balance.
// Returns the mean squared error of the envelope values (log2 of energy).
double quantise(SbrEncoder* e, Channel* ch, int nch, const Grid& g, int ampRes, bool coupling) {
  const int a = ampRes ? 1 : 2;
  double error = 0;
  int count = 0;
  for (int env = 0; env < g.numEnv; ++env) {
    const int n = g.freqRes[env] ? e->s.nHigh : e->s.nLow;
    for (int b = 0; b < n; ++b) {
      const double l = std::max(ch[0].envRaw[env][b], 64.0), r = nch > 1 ? std::max(ch[1].envRaw[env][b], 64.0) : 64.0;
      if (coupling) {
        error += quantCoupled(l, r, a, &ch[0].env[env][b], &ch[1].env[env][b]);
      } else {
        for (int c = 0; c < nch; ++c) {
          ch[c].env[env][b] = quantEnergy(ch[c].envRaw[env][b], a);
          error += quantError(c ? r : l, a);
        }
      }
      count += nch;
    }
  }
  for (int q = 0; q < e->s.nNoise; ++q) {
    int v[2];
    if (coupling) {
      const double l = ch[0].noiseQ[q], r = ch[1].noiseQ[q];
      v[0] = quantNoise(0.5 * (l + r));
      v[1] = std::max(0, std::min(12, static_cast<int>(std::floor(0.5 * (std::log2((l + 1e-9) / (r + 1e-9)) + 12.0) + 0.5))));
    } else {
      for (int c = 0; c < nch; ++c) v[c] = quantNoise(ch[c].noiseQ[q]);
    }
    for (int c = 0; c < nch; ++c)
      for (int ne = 0; ne < g.numNoiseEnv; ++ne) ch[c].noise[ne][q] = v[c];
  }
  if (coupling) {
    // One set of inverse-filtering levels serves both channels.
    for (int q = 0; q < e->s.nNoise; ++q) ch[0].invf[q] = std::max(ch[0].invf[q], ch[1].invf[q]);
  }
  return count ? error / count : 0.0;
}

// The codes of a channel's envelope and noise values in this frame's mode.
struct Books {
  const HuffCode* tEnv;
  const HuffCode* fEnv;
  const HuffCode* tNoise;
  const HuffCode* fNoise;
  int envStartBits;
  int scaleLimit;  // largest value the first frequency value may take
};

Books books(const SbrEncoder* e, int ampRes, bool balance) {
  const int bal = balance ? 1 : 0;
  Books k;
  k.tEnv = &e->tEnv[bal][ampRes];
  k.fEnv = &e->fEnv[bal][ampRes];
  k.tNoise = &e->tNoise[bal];
  k.fNoise = &e->fNoise[bal];
  k.envStartBits = (ampRes ? 6 : 7) - bal;
  k.scaleLimit = (1 << k.envStartBits) - 1;
  return k;
}

// The decoder's memory of envelope values after an envelope of resolution
// res: a low-resolution value stands for every high band it covers.
void updateLast(const SbrEncoder* e, int* last, const int* v, int res) {
  if (res) {
    std::memcpy(last, v, sizeof(int) * static_cast<size_t>(e->s.nHigh));
    return;
  }
  for (int b = 0; b < e->s.nLow; ++b)
    for (int j = e->lowToHigh[b]; j < e->lowToHigh[b + 1]; ++j) last[j] = v[b];
}

int baseOf(const SbrEncoder* e, const int* last, int res, int b) { return last[res ? b : e->lowToHigh[b]]; }

int envBits(const SbrEncoder* e, const Books& k, const int* v, int n, int res, const int* last, bool timeDelta) {
  int bits = 0;
  if (timeDelta) {
    for (int b = 0; b < n; ++b) {
      const int d = v[b] - baseOf(e, last, res, b);
      if (std::abs(d) > k.tEnv->lav) return 1 << 20;
      bits += k.tEnv->length[d + 64];
    }
  } else {
    if (v[0] > k.scaleLimit) return 1 << 20;
    bits += k.envStartBits;
    for (int b = 1; b < n; ++b) {
      const int d = v[b] - v[b - 1];
      if (std::abs(d) > k.fEnv->lav) return 1 << 20;
      bits += k.fEnv->length[d + 64];
    }
  }
  return bits;
}

int noiseBits(const SbrEncoder* e, const Books& k, const int* v, const int* prev, bool timeDelta) {
  const int n = e->s.nNoise;
  int bits = 0;
  if (timeDelta) {
    for (int b = 0; b < n; ++b) {
      const int d = v[b] - prev[b];
      if (std::abs(d) > k.tNoise->lav) return 1 << 20;
      bits += k.tNoise->length[d + 64];
    }
  } else {
    bits += 5;
    for (int b = 1; b < n; ++b) {
      const int d = v[b] - v[b - 1];
      if (std::abs(d) > k.fNoise->lav) return 1 << 20;
      bits += k.fNoise->length[d + 64];
    }
  }
  return bits;
}

// Chooses time or frequency deltas for each envelope and noise envelope,
// whichever costs fewer bits. Time deltas need the decoder's memory in the
// same step and coupling; a frame that carries the header codes its first
// envelopes in frequency, so a decoder starting there needs nothing earlier.
void chooseDeltas(SbrEncoder* e, Channel& c, const Grid& g, bool header, int ampRes, int coupling, bool balance) {
  const Books k = books(e, ampRes, balance);
  int last[kMaxSfb];
  std::memcpy(last, c.lastEnv, sizeof last);
  const bool sameMode = c.haveLast && !header && c.lastAmpRes == ampRes && c.lastCoupling == coupling;
  bool prevValid = sameMode;
  for (int env = 0; env < g.numEnv; ++env) {
    const int res = g.freqRes[env];
    const int n = res ? e->s.nHigh : e->s.nLow;
    int* v = c.env[env];
    int fBits = envBits(e, k, v, n, res, last, false);
    const int tBits = prevValid ? envBits(e, k, v, n, res, last, true) : 1 << 20;
    if (fBits >= 1 << 20 && tBits >= 1 << 20) {
      // Clamp the first value and the neighbouring steps into the frequency
      // book's range.
      v[0] = std::min(v[0], k.scaleLimit);
      for (int b = 1; b < n; ++b) v[b] = std::max(v[b - 1] - k.fEnv->lav, std::min(v[b - 1] + k.fEnv->lav, v[b]));
      fBits = 0;
    }
    c.envDelta[env] = tBits < fBits ? 1 : 0;
    updateLast(e, last, v, res);
    prevValid = true;
  }
  const int* prevNoise = c.lastNoise;
  bool noiseValid = sameMode;
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) {
    const int fBits = noiseBits(e, k, c.noise[ne], nullptr, false);
    const int tBits = noiseValid ? noiseBits(e, k, c.noise[ne], prevNoise, true) : 1 << 20;
    c.noiseDelta[ne] = tBits < fBits ? 1 : 0;
    prevNoise = c.noise[ne];
    noiseValid = true;
  }
}

int ceilLog2(int v) {  // bits that code 0 .. v - 1
  int n = 0;
  while ((1 << n) < v) ++n;
  return n;
}

void writeGrid(BitWriter& w, const Grid& g) {
  const int n = g.numEnv;
  w.put(static_cast<uint32_t>(g.frameClass), 2);
  if (g.frameClass == 0) {
    w.put(n == 4 ? 2 : n == 2 ? 1 : 0, 2);
    w.put(static_cast<uint32_t>(g.freqRes[0]), 1);
    return;
  }
  const bool varLead = g.frameClass >= 2, varTrail = g.frameClass != 2;
  if (varLead) w.put(static_cast<uint32_t>(g.borders[0]), 2);
  if (varTrail) w.put(static_cast<uint32_t>(g.borders[n] - kTimeSlots), 2);
  if (varLead) w.put(static_cast<uint32_t>(g.numRel0), 2);
  if (varTrail) w.put(static_cast<uint32_t>(g.numRel1), 2);
  for (int i = 0; i < g.numRel0; ++i) w.put(static_cast<uint32_t>((g.borders[i + 1] - g.borders[i] - 2) / 2), 2);
  for (int i = 0; i < g.numRel1; ++i) w.put(static_cast<uint32_t>((g.borders[n - i] - g.borders[n - i - 1] - 2) / 2), 2);
  w.put(static_cast<uint32_t>(g.pointer), ceilLog2(n + 1));
  for (int i = 0; i < n; ++i) w.put(static_cast<uint32_t>(g.freqRes[g.frameClass == 1 ? n - 1 - i : i]), 1);
}

void writeDtdf(BitWriter& w, const Channel& c, const Grid& g) {
  for (int env = 0; env < g.numEnv; ++env) w.put(static_cast<uint32_t>(c.envDelta[env]), 1);
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) w.put(static_cast<uint32_t>(c.noiseDelta[ne]), 1);
}

void writeInvf(BitWriter& w, const SbrEncoder* e, const Channel& c) {
  for (int q = 0; q < e->s.nNoise; ++q) w.put(static_cast<uint32_t>(c.invf[q]), 2);
}

void writeEnvelope(BitWriter& w, const SbrEncoder* e, const Channel& c, const Grid& g, const Books& k) {
  int last[kMaxSfb];
  std::memcpy(last, c.lastEnv, sizeof last);
  for (int env = 0; env < g.numEnv; ++env) {
    const int res = g.freqRes[env];
    const int n = res ? e->s.nHigh : e->s.nLow;
    const int* v = c.env[env];
    if (c.envDelta[env]) {
      for (int b = 0; b < n; ++b) w.huff(*k.tEnv, v[b] - baseOf(e, last, res, b));
    } else {
      w.put(static_cast<uint32_t>(v[0]), k.envStartBits);
      for (int b = 1; b < n; ++b) w.huff(*k.fEnv, v[b] - v[b - 1]);
    }
    updateLast(e, last, v, res);
  }
}

void writeNoise(BitWriter& w, const SbrEncoder* e, const Channel& c, const Grid& g, const Books& k) {
  const int* prev = c.lastNoise;
  for (int ne = 0; ne < g.numNoiseEnv; ++ne) {
    if (c.noiseDelta[ne]) {
      for (int q = 0; q < e->s.nNoise; ++q) w.huff(*k.tNoise, c.noise[ne][q] - prev[q]);
    } else {
      w.put(static_cast<uint32_t>(c.noise[ne][0]), 5);
      for (int q = 1; q < e->s.nNoise; ++q) w.huff(*k.fNoise, c.noise[ne][q] - c.noise[ne][q - 1]);
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

void remember(Channel& c, const Grid& g, const SbrEncoder* e, int ampRes, int coupling) {
  for (int env = 0; env < g.numEnv; ++env) updateLast(e, c.lastEnv, c.env[env], g.freqRes[env]);
  std::memcpy(c.lastNoise, c.noise[g.numNoiseEnv - 1], sizeof c.lastNoise);
  c.lastAmpRes = ampRes;
  c.lastCoupling = coupling;
  c.haveLast = true;
}

// Codes the borders b[0..n] (with the envelope `transient` starting at a
// transient, or -1) as a grid: FIXFIX for the even splits without a
// transient, otherwise borders counted from the first one (up to three
// steps of 2, 4, 6 or 8 units) and back from the last one. False when the
// borders cannot be coded.
bool codeGrid(const int* b, int n, int transient, Grid* g) {
  if (n < 1 || n > kMaxEnv || b[0] < 0 || b[0] > 3 || b[n] < kTimeSlots || b[n] > kTimeSlots + 3) return false;
  for (int i = 0; i < n; ++i)
    if (b[i + 1] <= b[i]) return false;
  Grid r;
  r.numEnv = n;
  for (int i = 0; i <= n; ++i) r.borders[i] = b[i];
  const bool plain = transient < 0 && b[0] == 0 && b[n] == kTimeSlots;
  if (plain && (n == 1 || (n == 2 && b[1] == 8) || (n == 4 && b[1] == 4 && b[2] == 8 && b[3] == 12))) {
    r.frameClass = 0;
  } else {
    auto step = [](int d) { return d == 2 || d == 4 || d == 6 || d == 8; };
    int best = -1, bestClass = 4;
    for (int m = 0; m <= std::min(3, n - 1); ++m) {
      const int r1 = n - 1 - m;
      if (r1 > 3) continue;
      bool ok = true;
      for (int i = 0; i < m; ++i) ok = ok && step(b[i + 1] - b[i]);
      for (int i = m + 2; i <= n; ++i) ok = ok && step(b[i] - b[i - 1]);
      if (!ok) continue;
      const int cls = (m == 0 && b[0] == 0) ? 1 : (r1 == 0 && b[n] == kTimeSlots) ? 2 : 3;
      if (cls < bestClass) bestClass = cls, best = m;
    }
    if (best < 0) return false;
    r.frameClass = bestClass;
    r.numRel0 = best;
    r.numRel1 = n - 1 - best;
    // The pointer names the transient's envelope; the first envelope cannot
    // be named (nor need be: nothing before it in the frame is smoothed in).
    if (transient >= 1) r.pointer = r.frameClass == 2 ? transient + 1 : n + 1 - transient;
  }
  // Frequency resolution: short envelopes take the coarse bands.
  for (int i = 0; i < n; ++i) r.freqRes[i] = (r.frameClass == 0 || b[i + 1] - b[i] >= 4) ? 1 : 0;
  if (r.frameClass == 0)
    for (int i = 0; i < n; ++i) r.freqRes[i] = 1;
  // The noise envelopes the decoder derives: two when there are several
  // envelopes, split at the transient's envelope or the middle.
  r.numNoiseEnv = n > 1 ? 2 : 1;
  r.noiseBorders[0] = b[0];
  if (n > 1) {
    int mid;
    if (r.frameClass == 0)
      mid = 8;
    else if (r.frameClass == 2)
      mid = r.pointer == 0 ? b[1] : r.pointer == 1 ? b[n - 1] : b[r.pointer - 1];
    else
      mid = r.pointer <= 1 ? b[n - 1] : b[n + 1 - r.pointer];
    r.noiseBorders[1] = mid;
    r.noiseBorders[2] = b[n];
  } else {
    r.noiseBorders[1] = b[n];
  }
  *g = r;
  return true;
}

// Where a transient the detector reported at QMF slot `from` begins in the
// SBR range: the detector fires as the attack enters the analysis window,
// some slots before the attack itself, so the onset is the first slot
// after it whose high-band energy comes within 9 dB of the peak that
// follows.
int findOnset(const SbrEncoder* e, const Channel& c, int from) {
  const int s0 = std::max(-2, from - 2);
  const int s1 = std::min(kSbrEncSlots + kAhead, from + 24);
  double h[kSbrEncSlots + kAhead + 2];
  double peak = 0;
  for (int s = s0; s < s1; ++s) {
    double sum = 0;
    for (int k = e->s.k0; k < e->s.k2; ++k) sum += c.energy[s][k];
    h[s - s0] = sum;
    peak = std::max(peak, sum);
  }
  for (int s = s0; s < s1; ++s)
    if (h[s - s0] >= peak / 8) return std::max(0, s);
  return std::max(0, from);
}

// The frame generator: a transient gets an envelope border right at it and
// a short envelope after it, so that the decoder does not spread its energy
// over the time before it; a transient near the frame's end lets the grid
// reach into the next frame. Without one, one envelope, or two when the
// spectrum changes between the frame's halves.
Grid makeGrid(int start, bool transient, int at, bool split) {
  Grid g;
  if (transient) {
    for (int len : {2, 3, 4, 1}) {
      for (int shift : {0, -1, 1}) {
        const int t = std::max(start, at + shift);
        int b[kMaxEnv + 1], n = 0;
        b[0] = start;
        if (t > start) b[++n] = t;
        const int t2 = t + len;
        if (t2 < kTimeSlots) {
          b[++n] = t2;
          b[++n] = kTimeSlots;
        } else {
          b[++n] = std::min(t2, kTimeSlots + 3);
        }
        if (codeGrid(b, n, t > start ? 1 : 0, &g)) return g;
      }
    }
  }
  if (split) {
    for (int mid : {8, 7, 9, 10, 6}) {
      const int b[3] = {start, mid, kTimeSlots};
      if (mid > start && codeGrid(b, 2, -1, &g)) return g;
    }
  }
  const int b[2] = {start, kTimeSlots};
  codeGrid(b, 1, -1, &g);
  return g;
}

}  // namespace

int32_t sbrTuningStartFreq(const SbrEncoderConfig* cfg) { return validConfig(cfg) ? tunedStart(*cfg) : -1; }

int sbrEncoderOpen(SbrEncoder** out, const SbrEncoderConfig* cfg) {
  if (!out) return kSbrEncFailed;
  *out = nullptr;
  if (!validConfig(cfg)) return kSbrEncFailed;
  SbrEncoder* e = new (std::nothrow) SbrEncoder();
  if (!e) return kSbrEncFailed;
  e->config = *cfg;
  e->carry = kNoOnset;
  std::memset(e->ch, 0, sizeof e->ch);
  for (Channel& c : e->ch) initChannel(c);
  chooseFrequencies(e);
  if (!makeTables(e) || createCplxAnalysisQmfBank(&e->bank, 0, 1, 1, kSbrEncFrameLength, 0)) {
    sbrEncoderClose(e);
    return kSbrEncFailed;
  }
  // The transient detector watches the bands up to the stop frequency.
  for (int c = 0; c < cfg->channels; ++c) {
    CodecError* err = tranDetCreate(&e->ch[c].detector, kSbrEncFrameLength, cfg->sampleRate, kSplitFactor,
                                    kTransientThreshold, e->s.k2, kTransientMeanFactor, kSbrEncSlots, kBands,
                                    kBack, kRows);
    if (err) {
      deleteError(err);
      sbrEncoderClose(e);
      return kSbrEncFailed;
    }
  }
  // About two headers a second: a player that starts anywhere soon finds one.
  // The tonality quotas: two estimates a frame, kept for the frame alone;
  // inverse filtering over the noise bands.
  const int32_t* tables[2] = {e->low, e->high};
  const int32_t counts[2] = {e->s.nLow, e->s.nHigh};
  for (int c = 0; c < cfg->channels; ++c) {
    CodecError* err = CreateTonCorrParamExtr(&e->ch[c].tonality, 1, 0, kSbrEncSlots, 0, cfg->sampleRate, kBands, 0,
                                             e->s.k0, e->master, e->nMaster, 0, tables, counts, 0, 0, 0, 0, 0);
    if (!err && e->ch[c].tonality->invfDetector->numBands != e->s.nNoise)
      err = createError(__FILE__, __LINE__, __func__, "noise bands differ");
    if (err) {
      deleteError(err);
      sbrEncoderClose(e);
      return kSbrEncFailed;
    }
  }
  e->s.headerPeriod = std::max(1, cfg->sampleRate / (2 * kSbrEncFrameLength));
  e->tEnv[0][0] = makeCode(sbrtab::sbrHuff_t_huffman_env_1_5dB);
  e->fEnv[0][0] = makeCode(sbrtab::sbrHuff_f_huffman_env_1_5dB);
  e->tEnv[0][1] = makeCode(sbrtab::sbrHuff_t_huffman_env_3_0dB);
  e->fEnv[0][1] = makeCode(sbrtab::sbrHuff_f_huffman_env_3_0dB);
  e->tEnv[1][0] = makeCode(sbrtab::sbrHuff_t_huffman_env_bal_1_5dB);
  e->fEnv[1][0] = makeCode(sbrtab::sbrHuff_f_huffman_env_bal_1_5dB);
  e->tEnv[1][1] = makeCode(sbrtab::sbrHuff_t_huffman_env_bal_3_0dB);
  e->fEnv[1][1] = makeCode(sbrtab::sbrHuff_f_huffman_env_bal_3_0dB);
  e->tNoise[0] = makeCode(sbrtab::sbrHuff_t_huffman_noise_3_0dB);
  e->tNoise[1] = makeCode(sbrtab::sbrHuff_t_huffman_noise_bal_3_0dB);
  e->fNoise[0] = e->fEnv[0][1];
  e->fNoise[1] = e->fEnv[1][1];
  *out = e;
  return kSbrEncOk;
}

void sbrEncoderClose(SbrEncoder* e) {
  if (!e) return;
  deleteQmfBank(&e->bank);
  for (Channel& c : e->ch) {
    tranDetDelete(c.detector);
    tonCorrDelete(c.tonality, 0);
  }
  delete e;
}

void sbrEncoderGetSettings(const SbrEncoder* e, SbrEncoderSettings* s) {
  if (e && s) *s = e->s;
}

namespace {

// The payload of one frame into w: the header when due, then the element's
// data, left and right apart or coupled.
void writePayload(BitWriter& w, SbrEncoder* e, const Grid& g, bool header, int ampRes, bool coupling) {
  const int nch = e->config.channels;
  Channel& c0 = e->ch[0];
  const Books plain = books(e, ampRes, false);
  w.put(header ? 1u : 0u, 1);
  if (header) writeHeader(w, e);
  if (nch == 1) {
    w.put(0, 1);  // no reserved data
    writeGrid(w, g);
    writeDtdf(w, c0, g);
    writeInvf(w, e, c0);
    writeEnvelope(w, e, c0, g, plain);
    writeNoise(w, e, c0, g, plain);
    writeHarmonics(w, e, c0);
  } else {
    Channel& c1 = e->ch[1];
    w.put(0, 1);  // no reserved data
    w.put(coupling ? 1u : 0u, 1);
    writeGrid(w, g);
    if (!coupling) writeGrid(w, g);
    writeDtdf(w, c0, g);
    writeDtdf(w, c1, g);
    writeInvf(w, e, c0);
    if (coupling) {
      const Books balance = books(e, ampRes, true);
      writeEnvelope(w, e, c0, g, plain);
      writeNoise(w, e, c0, g, plain);
      writeEnvelope(w, e, c1, g, balance);
      writeNoise(w, e, c1, g, balance);
    } else {
      writeInvf(w, e, c1);
      writeEnvelope(w, e, c0, g, plain);
      writeEnvelope(w, e, c1, g, plain);
      writeNoise(w, e, c0, g, plain);
      writeNoise(w, e, c1, g, plain);
    }
    writeHarmonics(w, e, c0);
    writeHarmonics(w, e, c1);
  }
  writeExtension(w, e);
}

// Quantises the frame in one coupling mode and chooses its deltas.
double prepare(SbrEncoder* e, const Grid& g, bool header, int ampRes, bool coupling) {
  const int nch = e->config.channels;
  const double error = quantise(e, e->ch, nch, g, ampRes, coupling);
  for (int c = 0; c < nch; ++c) chooseDeltas(e, e->ch[c], g, header, ampRes, coupling ? 1 : 0, coupling && c == 1);
  return error;
}

}  // namespace

int sbrEncoderEncodeFrame(SbrEncoder* e, const float* input, int32_t stride, uint8_t* out, int32_t* bits) {
  if (!e || !input || !out || !bits || stride < e->config.channels) return kSbrEncFailed;
  *bits = 0;
  const int nch = e->config.channels;
  for (int c = 0; c < nch; ++c) analyse(e, e->ch[c], input + c, stride);
  // The transient detector of each channel; the earliest transient of either
  // sets the grid both channels share.
  bool split = false;
  int onset = e->carry;  // QMF slot of the frame, or past the look-ahead for none
  e->carry = kNoOnset;
  for (int c = 0; c < nch; ++c) {
    int32_t result[2] = {0, 0};
    tranDetDetect(e->ch[c].enRow, e->ch[c].detector, result, 2, 1);
    tranDetSplitFrame(e->ch[c].enRow, e->ch[c].detector, e->high, e->s.nHigh, 2, kSbrEncSlots, result, 1);
    if (result[1])
      onset = std::min(onset, findOnset(e, e->ch[c], 2 * static_cast<int>(result[0])));
    else if (result[0])
      split = true;
  }
  // An onset the grid cannot reach any more waits for the next frame.
  if (onset != kNoOnset && onset / 2 > kTimeSlots + 1) {
    e->carry = onset - kSbrEncSlots;
    onset = kNoOnset;
  }
  const bool transient = onset != kNoOnset;
  const int at = transient ? onset / 2 : 0;
  const Grid g = makeGrid(e->prevEnd, transient, at, split);
  // One envelope in a FIXFIX frame is always sent at 1.5 dB.
  const int ampRes = (g.frameClass == 0 && g.numEnv == 1) ? 0 : e->s.ampRes;
  for (int c = 0; c < nch; ++c) measure(e, e->ch[c], g, transient, at);
  const bool header = e->frame % e->s.headerPeriod == 0;

  // Left and right apart, or level and balance: whichever costs fewer bits.
  bool coupling = false;
  int invf[2][kMaxNoise];
  for (int c = 0; c < nch; ++c) std::memcpy(invf[c], e->ch[c].invf, sizeof invf[c]);
  if (nch == 2) {
    BitWriter count;
    count.capacity = 1 << 20;
    const double apartError = prepare(e, g, header, ampRes, false);
    writePayload(count, e, g, header, ampRes, false);
    const int apart = count.pos;
    count.pos = 0;
    const double coupledError = prepare(e, g, header, ampRes, true);
    writePayload(count, e, g, header, ampRes, true);
    coupling = count.pos < apart && coupledError <= apartError + kCouplingError;
    if (!coupling) {
      std::memcpy(e->ch[0].invf, invf[0], sizeof invf[0]);
      prepare(e, g, header, ampRes, false);
    }
  } else {
    prepare(e, g, header, ampRes, false);
  }

  BitWriter w;
  w.data = out;
  w.capacity = 8 * kSbrEncMaxPayloadBytes;
  std::memset(out, 0, kSbrEncMaxPayloadBytes);
  writePayload(w, e, g, header, ampRes, coupling);
  if (w.overflow) return kSbrEncFailed;
  for (int c = 0; c < nch; ++c) remember(e->ch[c], g, e, ampRes, coupling ? 1 : 0);
  e->prevEnd = g.borders[g.numEnv] - kTimeSlots;
  ++e->frame;
  *bits = w.pos;
  return kSbrEncOk;
}

int sbrEncoderEncodeQmfFrame(SbrEncoder* e, float* const* re, float* const* im, const uint8_t* psData, int32_t psBits,
                             uint8_t* out, int32_t* bits) {
  if (!e || !re || !im || e->config.channels != 1 || psBits < 0 || psBits > 8 * 255 - 2 || (psBits && !psData))
    return kSbrEncFailed;
  e->qmfRe = re;
  e->qmfIm = im;
  e->psData = psData;
  e->psBits = psBits;
  const float none = 0.0f;
  const int r = sbrEncoderEncodeFrame(e, &none, 1, out, bits);
  e->qmfRe = nullptr;
  e->qmfIm = nullptr;
  e->psData = nullptr;
  e->psBits = 0;
  return r;
}
