// The parametric-stereo encoder of HE-AAC v2.
#include "ps_encoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ps_hybrid.h"
#include "qmf_dec.h"
#include "sbr_tables.h"

namespace {

using cf = std::complex<float>;

constexpr int kBands = kPsEncBands;
constexpr int kSlots = kPsEncSlots;
constexpr int kHistory = 640 - 64;       // analysis input kept from frame to frame
constexpr int kHybridBandsAll = 71;      // ten hybrid bands + QMF bands 3..63
constexpr int kParBands = 20;
// A 32-band synthesis followed by the decoder's 32-band analysis hands back
// the subband values this many slots later.
constexpr int kBankSlots = 9;
// Input to the half-rate output of our 64-band analysis and 32-band
// synthesis, in input samples.
constexpr int kBankDelay = 577;
// The 64-band analysis gives twice the amplitude that a 32-band synthesis of
// the same stretch expects: its gain of 1/2 makes the core input the input's
// level.
constexpr float kSynthesisGain = 0.5f;
// The downmix's gain per band: the smoothing of the energies it compares
// (per slot) and its ceiling (channels in opposite phase cancel; no more
// than 6 dB is put back).
constexpr float kEnergySmoothing = 0.25f;
constexpr float kMaxDownmixGain = 2.0f;
// Below this energy per band (16-bit scale, summed over the measuring
// window) a band counts as silent: it is sent as centred and coherent.
constexpr double kSilentBand = 1e-2;
// Half the measuring window before the frame's end and half after it: the
// decoder reaches a frame's parameters at the frame's end. The SBR encoder
// codes the frame that ends six slots before the newest rows it is handed
// (its look-ahead), so that is the end the window is centred on.
constexpr int kSbrLookahead = 6;
constexpr int kWindowStart = kSlots / 2 - kSbrLookahead;
constexpr int kLookahead = kWindowStart + kSlots / 2 + 6;  // rows the measurement reads past the frame
// Slots between the newest analysed and the first of the frame measured: the
// look-ahead and 27 more, so that with the core's delay of 2624 half-rate
// samples (82 slots) and the banks' 9 slots the rest of the lag is one whole
// frame, which the caller's payload ring supplies without holding the core's
// input back.
constexpr int kLagSlots = kLookahead + 27;
constexpr int kRows = kLagSlots + kSlots;  // slots kept

float sanitize(float v) { return std::isfinite(v) ? std::max(-1e6f, std::min(1e6f, v)) : 0.0f; }

// A canonical code for every value of one of the PS Huffman trees.
struct Code {
  uint32_t code[64];
  uint8_t length[64];
  int lav;
};

Code makeCode(sbrtab::HuffTree tree) {
  Code c;
  std::memset(&c, 0, sizeof c);
  struct Item {
    int node;
    uint32_t code;
    int length;
  } stack[64];
  int top = 0;
  stack[top++] = {0, 0, 0};
  while (top > 0) {
    const Item it = stack[--top];
    for (int bit = 0; bit < 2; ++bit) {
      const int e = tree[it.node][bit];
      const uint32_t code = (it.code << 1) | static_cast<uint32_t>(bit);
      if (e < 0) {
        const int v = e + 64;
        c.code[v + 32] = code;
        c.length[v + 32] = static_cast<uint8_t>(it.length + 1);
        c.lav = std::max(c.lav, std::abs(v));
      } else {
        stack[top++] = {e, code, it.length + 1};
      }
    }
  }
  return c;
}

struct BitWriter {
  uint8_t* data;
  int capacity;  // bits
  int pos = 0;
  bool overflow = false;
  void put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (pos >= capacity) {
        overflow = true;
        return;
      }
      if ((value >> i) & 1u) data[pos >> 3] = static_cast<uint8_t>(data[pos >> 3] | (0x80u >> (pos & 7)));
      ++pos;
    }
  }
  void huff(const Code& c, int v) { put(c.code[v + 32], c.length[v + 32]); }
};

// One parameter type (level difference or coherence) of the frame.
struct Param {
  const Code* df;
  const Code* dt;
  int value[kParBands];
  int last[kParBands];  // the last frame's values: the base of time deltas
  bool haveLast;
  bool timeDelta;
};

int deltaBits(const Param& p, int n, bool time) {
  const Code& c = time ? *p.dt : *p.df;
  int bits = 0;
  for (int b = 0; b < n; ++b) {
    const int d = time ? p.value[b] - p.last[b] : p.value[b] - (b ? p.value[b - 1] : 0);
    if (std::abs(d) > c.lav) return 1 << 20;
    bits += c.length[d + 32];
  }
  return bits;
}

// Time or frequency deltas, whichever costs fewer bits (frequency when there
// is no earlier frame to refer to).
void chooseDelta(Param& p, int n, bool fresh) {
  const int f = deltaBits(p, n, false);
  const int t = (p.haveLast && !fresh) ? deltaBits(p, n, true) : 1 << 20;
  p.timeDelta = t < f;
}

void writeParam(BitWriter& w, const Param& p, int n) {
  w.put(p.timeDelta ? 1u : 0u, 1);
  for (int b = 0; b < n; ++b)
    w.huff(p.timeDelta ? *p.dt : *p.df, p.timeDelta ? p.value[b] - p.last[b] : p.value[b] - (b ? p.value[b - 1] : 0));
}

}  // namespace

struct PsEncoder {
  PsEncoderConfig config;
  int parBands = 20;     // 10 or 20
  int rows = kRows;
  QmfBank* analysis = nullptr;
  QmfBank* synthesis = nullptr;
  float history[2][kHistory];
  float work[kHistory + kPsEncFrameLength];
  // Slot rows, oldest first: both channels and the downmix.
  float* store = nullptr;
  float* lRe[kRows];
  float* lIm[kRows];
  float* rRe[kRows];
  float* rIm[kRows];
  float* mRe[kRows];
  float* mIm[kRows];
  float smoothL[kBands], smoothR[kBands], smoothSum[kBands];
  float coreLine[kPsEncCoreFrameLength];
  Code iidDf, iidDt, iccDf, iccDt;
  Param iid, icc;
  uint8_t data[kPsEncMaxBytes];
  cf hybIn[2][kPsHybridHistory + kSlots][3];
  cf hybOut[2][kSlots][kPsHybridBands];
};

int psQuantiseIid(double dB) {
  // The fine grid is used throughout: the normal one's 10 to 14 dB step
  // would put a 12 dB pan 2 dB off.
  int best = 0;
  for (int i = 0; i < 31; ++i)
    if (std::fabs(sbrtab::psIidFineDb[i] - dB) < std::fabs(sbrtab::psIidFineDb[best] - dB)) best = i;
  return best - 15;
}

int psQuantiseIcc(double rho) {
  int best = 0;
  for (int i = 0; i < 8; ++i)
    if (std::fabs(sbrtab::psIccValues[i] - rho) < std::fabs(sbrtab::psIccValues[best] - rho)) best = i;
  return best;
}

int psEncoderOpen(PsEncoder** out, const PsEncoderConfig* cfg) {
  if (!out) return kPsEncFailed;
  *out = nullptr;
  if (!cfg || cfg->sampleRate < 16000 || cfg->sampleRate > 96000) return kPsEncFailed;
  PsEncoder* e = new (std::nothrow) PsEncoder();
  if (!e) return kPsEncFailed;
  e->config = *cfg;
  // Twenty bands where the rate leaves room for them.
  e->parBands = cfg->bitRate >= 40000 ? 20 : 10;
  const size_t rowFloats = static_cast<size_t>(e->rows) * kBands;
  e->store = static_cast<float*>(std::calloc(6 * rowFloats, sizeof(float)));
  if (!e->store ||
      createCplxAnalysisQmfBank(&e->analysis, 0, 1, 1, kPsEncFrameLength, 0) ||
      createCplxSynthesisQmfBank(&e->synthesis, 0, 2, kPsEncCoreFrameLength, kSynthesisGain, kSynthesisGain, 0)) {
    psEncoderClose(e);
    return kPsEncFailed;
  }
  for (int r = 0; r < e->rows; ++r) {
    float* base = e->store + static_cast<size_t>(r) * kBands;
    e->lRe[r] = base;
    e->lIm[r] = base + rowFloats;
    e->rRe[r] = base + 2 * rowFloats;
    e->rIm[r] = base + 3 * rowFloats;
    e->mRe[r] = base + 4 * rowFloats;
    e->mIm[r] = base + 5 * rowFloats;
  }
  e->iidDf = makeCode(sbrtab::psHuff_iid_df_fine);
  e->iidDt = makeCode(sbrtab::psHuff_iid_dt_fine);
  e->iccDf = makeCode(sbrtab::psHuff_icc_df);
  e->iccDt = makeCode(sbrtab::psHuff_icc_dt);
  e->iid.df = &e->iidDf;
  e->iid.dt = &e->iidDt;
  e->icc.df = &e->iccDf;
  e->icc.dt = &e->iccDt;
  *out = e;
  return kPsEncOk;
}

void psEncoderClose(PsEncoder* e) {
  if (!e) return;
  deleteQmfBank(&e->analysis);
  deleteQmfBank(&e->synthesis);
  std::free(e->store);
  delete e;
}

int32_t psEncoderDelay(const PsEncoder* e) { return e ? kBankDelay : 0; }

int32_t psEncoderLag(const PsEncoder* e) { return e ? 64 * (kLagSlots - kBankSlots) : 0; }

int32_t psEncoderParameterBands(const PsEncoder* e) { return e ? e->parBands : 0; }

namespace {

// Moves the kept rows one frame older and analyses the new frame of both
// channels into the newest rows.
void analyse(PsEncoder* e, const float* const* input, int32_t stride) {
  const size_t rowFloats = static_cast<size_t>(e->rows) * kBands;
  const size_t keep = static_cast<size_t>(e->rows - kSlots) * kBands;
  for (int part = 0; part < 6; ++part) {
    float* base = e->store + part * rowFloats;
    std::memmove(base, base + static_cast<size_t>(kSlots) * kBands, keep * sizeof(float));
  }
  const int first = e->rows - kSlots;
  for (int c = 0; c < 2; ++c) {
    std::memcpy(e->work, e->history[c], sizeof e->history[c]);
    for (int i = 0; i < kPsEncFrameLength; ++i) e->work[kHistory + i] = sanitize(input[c][i * stride]);
    std::memcpy(e->history[c], e->work + kPsEncFrameLength, sizeof e->history[c]);
    qmfAnalysisFiltering(e->work, c ? e->rRe + first : e->lRe + first, c ? e->rIm + first : e->lIm + first,
                         e->analysis);
  }
}

// The downmix of the new rows: the channels' mean, raised per band so that
// its energy is the mean of theirs (the decoder spreads the downmix's
// energy over the two channels by the level difference).
void downmix(PsEncoder* e) {
  for (int s = e->rows - kSlots; s < e->rows; ++s) {
    const float* lr = e->lRe[s];
    const float* li = e->lIm[s];
    const float* rr = e->rRe[s];
    const float* ri = e->rIm[s];
    float* mr = e->mRe[s];
    float* mi = e->mIm[s];
    for (int k = 0; k < kBands; ++k) {
      const float sr = 0.5f * (lr[k] + rr[k]), si = 0.5f * (li[k] + ri[k]);
      e->smoothL[k] += kEnergySmoothing * (lr[k] * lr[k] + li[k] * li[k] - e->smoothL[k]);
      e->smoothR[k] += kEnergySmoothing * (rr[k] * rr[k] + ri[k] * ri[k] - e->smoothR[k]);
      e->smoothSum[k] += kEnergySmoothing * (sr * sr + si * si - e->smoothSum[k]);
      const float want = 0.5f * (e->smoothL[k] + e->smoothR[k]);
      float g = 1.0f;
      if (want > 1e-6f)
        g = e->smoothSum[k] * kMaxDownmixGain * kMaxDownmixGain > want ? std::sqrt(want / e->smoothSum[k])
                                                                      : kMaxDownmixGain;
      mr[k] = g * sr;
      mi[k] = g * si;
    }
  }
}

// The half-rate core input: the downmix's lower 32 bands through the 32-band
// synthesis.
void coreInput(PsEncoder* e) {
  const int first = e->rows - kSlots;
  qmfSynthesisFiltering(e->mRe + first, e->mIm + first, e->coreLine, e->synthesis);
}

// Level difference and coherence per parameter band, measured over a window
// centred on the end of the frame (rows kWindowStart .. + kSlots): the
// decoder interpolates towards a frame's values and reaches them there.
void measure(PsEncoder* e) {
  double el[kParBands] = {}, er[kParBands] = {}, x[kParBands] = {};
  // Hybrid bands of QMF bands 0..2; the filters are centred, so their input
  // runs six rows ahead of the window.
  const int in0 = kWindowStart + 6 - kPsHybridHistory;
  for (int r = 0; r < kPsHybridHistory + kSlots; ++r)
    for (int b = 0; b < 3; ++b) {
      e->hybIn[0][r][b] = cf(e->lRe[in0 + r][b], e->lIm[in0 + r][b]);
      e->hybIn[1][r][b] = cf(e->rRe[in0 + r][b], e->rIm[in0 + r][b]);
    }
  psHybridAnalysis(e->hybIn[0], kSlots, &e->hybOut[0][0][0], kPsHybridBands);
  psHybridAnalysis(e->hybIn[1], kSlots, &e->hybOut[1][0][0], kPsHybridBands);
  for (int n = 0; n < kSlots; ++n) {
    const cf* hl = e->hybOut[0][n];
    const cf* hr = e->hybOut[1][n];
    for (int k = 0; k < kPsHybridBands; ++k) {
      const int b = sbrtab::psKToI20[k];
      el[b] += std::norm(hl[k]);
      er[b] += std::norm(hr[k]);
      x[b] += hl[k].real() * hr[k].real() + hl[k].imag() * hr[k].imag();
    }
    const int s = kWindowStart + n;
    for (int q = 3; q < kBands; ++q) {
      const int b = sbrtab::psKToI20[q + kPsHybridBands - 3];
      const float lr = e->lRe[s][q], li = e->lIm[s][q], rr = e->rRe[s][q], ri = e->rIm[s][q];
      el[b] += lr * lr + li * li;
      er[b] += rr * rr + ri * ri;
      x[b] += lr * rr + li * ri;
    }
  }
  const int step = kParBands / e->parBands;
  for (int p = 0; p < e->parBands; ++p) {
    double l = 0, r = 0, c = 0;
    for (int b = p * step; b < (p + 1) * step; ++b) l += el[b], r += er[b], c += x[b];
    const double floor = kSilentBand * kSlots;
    if (l + r <= floor) {
      e->iid.value[p] = 0;
      e->icc.value[p] = 0;
      continue;
    }
    const double tiny = 1e-9 * (l + r) + 1e-12;
    e->iid.value[p] = psQuantiseIid(10.0 * std::log10((l + tiny) / (r + tiny)));
    e->icc.value[p] = psQuantiseIcc(c / std::sqrt((l + tiny) * (r + tiny)));
  }
}

}  // namespace

int psEncoderEncodeFrame(PsEncoder* e, const float* left, const float* right, int32_t stride, bool withHeader,
                         PsEncoderFrame* frame) {
  if (!e || !left || !right || stride < 1 || !frame) return kPsEncFailed;
  const float* input[2] = {left, right};
  analyse(e, input, stride);
  downmix(e);
  coreInput(e);
  measure(e);
  const int n = e->parBands;
  chooseDelta(e->iid, n, withHeader);
  chooseDelta(e->icc, n, withHeader);

  std::memset(e->data, 0, sizeof e->data);
  BitWriter w{e->data, 8 * kPsEncMaxBytes};
  w.put(withHeader ? 1u : 0u, 1);
  if (withHeader) {
    // Level differences on the fine grid, coherences with the first mixing
    // procedure, both in 10 or 20 bands; no extension (no phase parameters).
    w.put(1, 1);
    w.put(n == 20 ? 4u : 3u, 3);
    w.put(1, 1);
    w.put(n == 20 ? 1u : 0u, 3);
    w.put(0, 1);
  }
  w.put(0, 1);  // fixed borders
  w.put(1, 2);  // one envelope
  writeParam(w, e->iid, n);
  writeParam(w, e->icc, n);
  if (w.overflow) return kPsEncFailed;
  for (Param* p : {&e->iid, &e->icc}) {
    std::memcpy(p->last, p->value, sizeof p->last);
    p->haveLast = true;
  }
  frame->core = e->coreLine;
  frame->re = e->mRe;
  frame->im = e->mIm;
  frame->data = e->data;
  frame->bits = w.pos;
  return kPsEncOk;
}
