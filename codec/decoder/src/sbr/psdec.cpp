// Parametric-stereo decoder (baseline, 20 stereo bands).
//
// Signal path per frame: hybrid analysis of QMF bands 0..2 (8 + 2 + 2 sub-bands,
// filters centred on the output slot), decorrelation
// (fractional delay and three all-pass links with transient ducking in the low
// bands, plain delays above), 2x2 mixing of the mono and decorrelated signals
// by parameter band with linear interpolation across each envelope, and hybrid
// synthesis of both channels.
#include "psdec.h"

#include "ps_hybrid.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <mutex>
#include <algorithm>
#include <new>

#include <emmintrin.h>

namespace {

using cf = std::complex<float>;

constexpr int kHybridBands = 10;           // hybrid bands of QMF bands 0..2
constexpr int kBands = 71;                 // hybrid bands + QMF bands 3..63
constexpr int kParBands = 20;
constexpr int kAllpassBands = 30;          // bands below this take the all-pass chain
constexpr int kShortDelayBand = 42;        // bands below this (and not all-pass) take 14 slots
constexpr int kDecayCutoff = 10;
constexpr int kHist = 12;                  // hybrid filter history (13 taps)
constexpr int kMaxSlots = 32;
constexpr int kMaxEnv = 6;                 // 4 coded + 1 appended, rounded up
constexpr int kLongDelay = 14;
constexpr int kLookahead = 6;              // slots the centred hybrid filters read ahead

static_assert(kHybridBands == kPsHybridBands && kHist == kPsHybridHistory, "the shared hybrid bank's layout");

struct Tables {
  cf phiFract[kAllpassBands];
  cf qFract[kAllpassBands][3];
  float decay[kAllpassBands];
  float iidScaleNormal[15];
  float iidScaleFine[31];
  float iccAngle[8];
  float iccValue[8];
  // The all-pass coefficients for two bands per vector: per complex c of
  // band k, (re c, re c) at 2k and (-im c, im c) at 2k + 2 kAllpassBands;
  // the link gains (decay included) twice at 2k.
  alignas(16) float phiPair[4 * kAllpassBands];
  alignas(16) float qPair[3][4 * kAllpassBands];
  alignas(16) float gPair[3][2 * kAllpassBands];
  // The runs of consecutive bands of one parameter band, from band 3 (the
  // energy sums) and from band kHybridBands (the mixing of the QMF bands).
  struct Run {
    int start, end, par;
  };
  Run energyRuns[kBands];
  int numEnergyRuns;
  Run mixRuns[kBands];
  int numMixRuns;
};

Tables gTables;
std::once_flag gTablesOnce;

double fCenter(int k) {
  if (k < kHybridBands) return sbrtab::psFCenter20Times8[k] / 8.0;
  return k - 6.5;
}

int parBandOf(int k) { return sbrtab::psKToI20[k]; }

int findRuns(int from, Tables::Run* runs) {
  int n = 0;
  for (int k = from; k < kBands;) {
    const int i = parBandOf(k);
    int end = k;
    while (end < kBands && parBandOf(end) == i) end++;
    runs[n++] = {k, end, i};
    k = end;
  }
  return n;
}

void initTables() {
  Tables& t = gTables;
  t.numEnergyRuns = findRuns(3, t.energyRuns);
  t.numMixRuns = findRuns(kHybridBands, t.mixRuns);
  for (int k = 0; k < kAllpassBands; k++) {
    double f = fCenter(k);
    double ph = -M_PI * sbrtab::psFracDelayQPhi * f;
    t.phiFract[k] = cf(static_cast<float>(std::cos(ph)), static_cast<float>(std::sin(ph)));
    for (int m = 0; m < 3; m++) {
      double p = -M_PI * sbrtab::psFracDelayQ[m] * f;
      t.qFract[k][m] = cf(static_cast<float>(std::cos(p)), static_cast<float>(std::sin(p)));
    }
    double d = k <= kDecayCutoff ? 1.0 : 1.0 - 0.05 * (k - kDecayCutoff);
    t.decay[k] = static_cast<float>(d < 0.0 ? 0.0 : d);
    auto pair = [k](float* dst, cf c) {
      dst[2 * k] = dst[2 * k + 1] = c.real();
      dst[2 * kAllpassBands + 2 * k] = -c.imag();
      dst[2 * kAllpassBands + 2 * k + 1] = c.imag();
    };
    pair(t.phiPair, t.phiFract[k]);
    for (int m = 0; m < 3; m++) {
      pair(t.qPair[m], t.qFract[k][m]);
      t.gPair[m][2 * k] = t.gPair[m][2 * k + 1] = static_cast<float>(sbrtab::psAllpassA[m]) * t.decay[k];
    }
  }
  for (int i = 0; i < 15; i++) t.iidScaleNormal[i] = static_cast<float>(std::sqrt(2.0 / (1.0 + std::pow(10.0, sbrtab::psIidNormalDb[i] / 10.0))));
  for (int i = 0; i < 31; i++) t.iidScaleFine[i] = static_cast<float>(std::sqrt(2.0 / (1.0 + std::pow(10.0, sbrtab::psIidFineDb[i] / 10.0))));
  for (int i = 0; i < 8; i++) {
    t.iccValue[i] = sbrtab::psIccValues[i];
    t.iccAngle[i] = static_cast<float>(0.5 * std::acos(static_cast<double>(sbrtab::psIccValues[i])));
  }
}

const Tables& tables() {
  std::call_once(gTablesOnce, initTables);
  return gTables;
}

}  // namespace

struct PsDec {
  int slots = 32;
  int channels = 64;
  // Header fields kept across frames.
  int enableIid = 0, iidMode = 0, enableIcc = 0, iccMode = 0, enableExt = 0, enableIpdOpd = 0;
  int iidFine = 0;
  int iccRb = 0;
  int headerSeen = 0;
  // Parsed frame.
  int newData = 0;
  int frameClass = 0;
  int numEnv = 0;
  int borders[kMaxEnv] = {};
  int iidDt[kMaxEnv] = {}, iccDt[kMaxEnv] = {}, ipdDt[kMaxEnv] = {}, opdDt[kMaxEnv] = {};
  int iidCoded[kMaxEnv][34] = {}, iccCoded[kMaxEnv][34] = {};
  int ipdCoded[kMaxEnv][17] = {}, opdCoded[kMaxEnv][17] = {};
  int nIid = 0, nIcc = 0, nIpd = 0;
  // Decoded parameters for the frame, at 20-band resolution.
  int decEnv = 0;
  int decBorders[kMaxEnv] = {};
  int iid[kMaxEnv][kParBands] = {}, icc[kMaxEnv][kParBands] = {};
  int ipd[kMaxEnv][kParBands] = {}, opd[kMaxEnv][kParBands] = {};
  // Last envelope of the previous frame at coded resolution (for time deltas).
  int prevIid[34] = {}, prevIcc[34] = {}, prevIpd[17] = {}, prevOpd[17] = {};
  int prevNIid = 10, prevNIcc = 10, prevNIpd = 5;
  // Mixing factors at the end of the previous frame.
  cf hPrev[kParBands][4];
  int hPrevValid = 0;
  int haveParams = 0;
  // Signal state.
  cf inBuf[kHist + kMaxSlots][3];         // QMF bands 0..2 (hybrid filter input)
  cf preDelay[2][kBands];                  // 2-slot delay in front of the all-pass chain
  int preDelayPos = 0;
  cf apBuf[3][5][kAllpassBands];           // all-pass link states (delays 3, 4, 5)
  int apPos[3] = {};
  cf longDelay[kLongDelay][64];            // 14-slot delay lines
  int longPos = 0;
  cf shortDelay[64];                       // 1-slot delay
  float peakDecay[kParBands] = {};
  float peakDiff[kParBands] = {};
  float smoothEnergy[kParBands] = {};
  // Work: hybrid-domain mono/left and decorrelated/right signals of one frame.
  cf hyb[kMaxSlots][kBands];
  cf dec[kMaxSlots][kBands];
};

int psDecoderCreate(PsDec** out, int channels, int slotsPerFrame) {
  *out = nullptr;
  if (slotsPerFrame != 30 && slotsPerFrame != 32) return 1;
  tables();
  PsDec* ps = new (std::nothrow) PsDec();
  if (!ps) return 1;
  ps->slots = slotsPerFrame;
  ps->channels = channels;
  psReset(ps);
  *out = ps;
  return 0;
}

void psDecoderDelete(PsDec** ps) {
  if (!ps || !*ps) return;
  delete *ps;
  *ps = nullptr;
}

void psReset(PsDec* ps) {
  std::memset(static_cast<void*>(ps->inBuf), 0, sizeof(ps->inBuf));
  std::memset(static_cast<void*>(ps->preDelay), 0, sizeof(ps->preDelay));
  std::memset(static_cast<void*>(ps->apBuf), 0, sizeof(ps->apBuf));
  std::memset(static_cast<void*>(ps->longDelay), 0, sizeof(ps->longDelay));
  std::memset(static_cast<void*>(ps->shortDelay), 0, sizeof(ps->shortDelay));
  std::memset(ps->peakDecay, 0, sizeof(ps->peakDecay));
  std::memset(ps->peakDiff, 0, sizeof(ps->peakDiff));
  std::memset(ps->smoothEnergy, 0, sizeof(ps->smoothEnergy));
  ps->preDelayPos = ps->longPos = 0;
  ps->apPos[0] = ps->apPos[1] = ps->apPos[2] = 0;
  ps->hPrevValid = 0;
}

int psHasNewData(const PsDec* ps) { return ps->newData; }

// ---------------------------------------------------------------- parsing

namespace {

void readPar(SbrBitReader* br, int* vals, int n, int dt, sbrtab::HuffTree df, sbrtab::HuffTree tt) {
  for (int b = 0; b < n; b++) vals[b] = sbrDecodeHuffman(br, dt ? tt : df);
}

}  // namespace

int psReadData(PsDec* ps, SbrBitReader* br, int bitsAvail) {
  const int start = br->bitsRead;
  auto skipRest = [&]() {
    int used = br->bitsRead - start;
    int rest = bitsAvail - used;
    while (rest > 0) {
      int n = rest > 8 ? 8 : rest;
      sbrReadBits(br, n);
      rest -= n;
    }
  };
  if (sbrReadBits(br, 1)) {
    ps->headerSeen = 1;
    ps->enableIid = static_cast<int>(sbrReadBits(br, 1));
    if (ps->enableIid) ps->iidMode = static_cast<int>(sbrReadBits(br, 3));
    ps->enableIcc = static_cast<int>(sbrReadBits(br, 1));
    if (ps->enableIcc) ps->iccMode = static_cast<int>(sbrReadBits(br, 3));
    ps->enableExt = static_cast<int>(sbrReadBits(br, 1));
  }
  ps->frameClass = static_cast<int>(sbrReadBits(br, 1));
  int idx = static_cast<int>(sbrReadBits(br, 2));
  ps->numEnv = ps->frameClass == 0 ? sbrtab::psNumEnvFix[idx] : idx + 1;
  bool valid = true;
  if (ps->frameClass) {
    int prev = 0;
    for (int e = 0; e < ps->numEnv; e++) {
      ps->borders[e] = static_cast<int>(sbrReadBits(br, 5)) + 1;
      // Borders must rise and stay inside the frame.
      if (ps->borders[e] <= prev || ps->borders[e] > ps->slots) valid = false;
      prev = ps->borders[e];
    }
  }
  if (ps->iidMode > 5 || ps->iccMode > 5 || !ps->headerSeen) {
    // Unusable: the block is passed over whole. A block too short for its
    // own header reads past bitsAvail; the caller is told no more than it gave.
    ps->newData = 0;
    skipRest();
    return bitsAvail > 0 ? bitsAvail : 0;
  }
  ps->iidFine = ps->iidMode >= 3;
  ps->iccRb = ps->iccMode >= 3;
  const int iidRes = ps->iidMode % 3, iccRes = ps->iccMode % 3;
  ps->nIid = sbrtab::psNrIidPar[iidRes];
  ps->nIcc = sbrtab::psNrIidPar[iccRes];
  ps->nIpd = sbrtab::psNrIpdOpdPar[iidRes];
  if (ps->enableIid)
    for (int e = 0; e < ps->numEnv; e++) {
      ps->iidDt[e] = static_cast<int>(sbrReadBits(br, 1));
      if (ps->iidFine)
        readPar(br, ps->iidCoded[e], ps->nIid, ps->iidDt[e], sbrtab::psHuff_iid_df_fine, sbrtab::psHuff_iid_dt_fine);
      else
        readPar(br, ps->iidCoded[e], ps->nIid, ps->iidDt[e], sbrtab::psHuff_iid_df_normal,
                sbrtab::psHuff_iid_dt_normal);
    }
  if (ps->enableIcc)
    for (int e = 0; e < ps->numEnv; e++) {
      ps->iccDt[e] = static_cast<int>(sbrReadBits(br, 1));
      readPar(br, ps->iccCoded[e], ps->nIcc, ps->iccDt[e], sbrtab::psHuff_icc_df, sbrtab::psHuff_icc_dt);
    }
  int ipdopdThisFrame = 0;
  if (ps->enableExt) {
    int cnt = static_cast<int>(sbrReadBits(br, 4));
    if (cnt == 15) cnt += static_cast<int>(sbrReadBits(br, 8));
    int bits = 8 * cnt;
    while (bits > 7) {
      int id = static_cast<int>(sbrReadBits(br, 2));
      bits -= 2;
      if (id == 0) {
        int before = br->bitsRead;
        ps->enableIpdOpd = static_cast<int>(sbrReadBits(br, 1));
        if (ps->enableIpdOpd) {
          ipdopdThisFrame = 1;
          for (int e = 0; e < ps->numEnv; e++) {
            ps->ipdDt[e] = static_cast<int>(sbrReadBits(br, 1));
            readPar(br, ps->ipdCoded[e], ps->nIpd, ps->ipdDt[e], sbrtab::psHuff_ipd_df, sbrtab::psHuff_ipd_dt);
            ps->opdDt[e] = static_cast<int>(sbrReadBits(br, 1));
            readPar(br, ps->opdCoded[e], ps->nIpd, ps->opdDt[e], sbrtab::psHuff_opd_df, sbrtab::psHuff_opd_dt);
          }
        }
        sbrReadBits(br, 1);
        bits -= br->bitsRead - before;
      } else {
        int skip = bits / 8;
        for (int i = 0; i < skip; i++) sbrReadBits(br, 8);
        bits -= 8 * skip;
      }
    }
    if (bits > 0) sbrReadBits(br, bits);
  }
  if (!ipdopdThisFrame) ps->enableIpdOpd = 0;
  int used = br->bitsRead - start;
  if (used > bitsAvail) valid = false;
  if (!valid) {
    ps->newData = 0;
    skipRest();
    return bitsAvail > 0 ? bitsAvail : 0;
  }
  ps->newData = 1;
  return used;
}

// ---------------------------------------------------------------- parameters

namespace {

// Decodes one parameter type of one envelope in place.
void deltaDecode(int* vals, int n, int dt, const int* prev, int prevN, int lo, int hi, bool modulo) {
  for (int b = 0; b < n; b++) {
    int v;
    if (dt) {
      int pb = prevN == n ? b : (b * prevN) / n;
      v = prev[pb] + vals[b];
    } else {
      v = b == 0 ? vals[0] : vals[b - 1] + vals[b];
    }
    if (modulo)
      v &= 7;
    else if (v < lo)
      v = lo;
    else if (v > hi)
      v = hi;
    vals[b] = v;
  }
}

void mapTo20(const int* in, int n, int* out) {
  if (n == 20) {
    for (int i = 0; i < 20; i++) out[i] = in[i];
  } else if (n == 10) {
    for (int i = 0; i < 20; i++) out[i] = in[i / 2];
  } else {
    const int* p = in;
    out[0] = (2 * p[0] + p[1]) / 3;
    out[1] = (p[1] + 2 * p[2]) / 3;
    out[2] = (2 * p[3] + p[4]) / 3;
    out[3] = (p[4] + 2 * p[5]) / 3;
    out[4] = (p[6] + p[7]) / 2;
    out[5] = (p[8] + p[9]) / 2;
    out[6] = p[10];
    out[7] = p[11];
    out[8] = (p[12] + p[13]) / 2;
    out[9] = (p[14] + p[15]) / 2;
    out[10] = p[16];
    out[11] = p[17];
    out[12] = p[18];
    out[13] = p[19];
    out[14] = (p[20] + p[21]) / 2;
    out[15] = (p[22] + p[23]) / 2;
    out[16] = (p[24] + p[25]) / 2;
    out[17] = (p[26] + p[27]) / 2;
    out[18] = (p[28] + p[29] + p[30] + p[31]) / 4;
    out[19] = (p[32] + p[33]) / 2;
  }
}

void mapIpdTo20(const int* in, int n, int* out) {
  for (int i = 0; i < kParBands; i++) out[i] = 0;
  if (n == 11) {
    for (int i = 0; i < 11; i++) out[i] = in[i];
  } else if (n == 5) {
    for (int i = 0; i < 10; i++) out[i] = in[i / 2];
    out[10] = in[4];
  } else {
    int full[34] = {};
    for (int i = 0; i < 17; i++) full[i] = in[i];
    int tmp[20];
    mapTo20(full, 34, tmp);
    for (int i = 0; i < 11; i++) out[i] = tmp[i];
  }
}

}  // namespace

void psDecodeParameters(PsDec* ps) {
  if (!ps->newData) return;
  ps->newData = 0;
  const int iidLim = ps->iidFine ? 15 : 7;
  int env = ps->numEnv;
  if (env == 0) {
    // No new envelopes: the last parameters hold for the whole frame. They
    // may have been coded with the fine IID steps while this frame's header
    // chose the normal ones: they are held within this frame's range, which
    // the mixing tables are indexed by.
    ps->decEnv = 1;
    ps->decBorders[0] = ps->slots;
    int tmp[34];
    for (int b = 0; b < 34; b++)
      tmp[b] = ps->prevIid[b] < -iidLim ? -iidLim : ps->prevIid[b] > iidLim ? iidLim : ps->prevIid[b];
    mapTo20(tmp, ps->prevNIid, ps->iid[0]);
    for (int b = 0; b < 34; b++) tmp[b] = ps->prevIcc[b];
    mapTo20(tmp, ps->prevNIcc, ps->icc[0]);
    mapIpdTo20(ps->prevIpd, ps->prevNIpd, ps->ipd[0]);
    mapIpdTo20(ps->prevOpd, ps->prevNIpd, ps->opd[0]);
    ps->haveParams = 1;
    return;
  }
  for (int e = 0; e < env; e++) {
    int* iidv = ps->iidCoded[e];
    int* iccv = ps->iccCoded[e];
    if (ps->enableIid) {
      deltaDecode(iidv, ps->nIid, ps->iidDt[e], ps->prevIid, ps->prevNIid, -iidLim, iidLim, false);
      std::memcpy(ps->prevIid, iidv, sizeof(int) * ps->nIid);
      ps->prevNIid = ps->nIid;
    } else {
      std::memset(iidv, 0, sizeof(int) * 34);
      std::memset(ps->prevIid, 0, sizeof(ps->prevIid));
      ps->prevNIid = ps->nIid;
    }
    if (ps->enableIcc) {
      deltaDecode(iccv, ps->nIcc, ps->iccDt[e], ps->prevIcc, ps->prevNIcc, 0, 7, false);
      std::memcpy(ps->prevIcc, iccv, sizeof(int) * ps->nIcc);
      ps->prevNIcc = ps->nIcc;
    } else {
      std::memset(iccv, 0, sizeof(int) * 34);
      std::memset(ps->prevIcc, 0, sizeof(ps->prevIcc));
      ps->prevNIcc = ps->nIcc;
    }
    if (ps->enableIpdOpd) {
      deltaDecode(ps->ipdCoded[e], ps->nIpd, ps->ipdDt[e], ps->prevIpd, ps->prevNIpd, 0, 7, true);
      deltaDecode(ps->opdCoded[e], ps->nIpd, ps->opdDt[e], ps->prevOpd, ps->prevNIpd, 0, 7, true);
      std::memcpy(ps->prevIpd, ps->ipdCoded[e], sizeof(int) * ps->nIpd);
      std::memcpy(ps->prevOpd, ps->opdCoded[e], sizeof(int) * ps->nIpd);
    } else {
      std::memset(ps->ipdCoded[e], 0, sizeof(ps->ipdCoded[e]));
      std::memset(ps->opdCoded[e], 0, sizeof(ps->opdCoded[e]));
      std::memset(ps->prevIpd, 0, sizeof(ps->prevIpd));
      std::memset(ps->prevOpd, 0, sizeof(ps->prevOpd));
    }
    ps->prevNIpd = ps->nIpd;
    mapTo20(iidv, ps->nIid, ps->iid[e]);
    mapTo20(iccv, ps->nIcc, ps->icc[e]);
    mapIpdTo20(ps->ipdCoded[e], ps->nIpd, ps->ipd[e]);
    mapIpdTo20(ps->opdCoded[e], ps->nIpd, ps->opd[e]);
  }
  // Envelope borders (end slots, exclusive).
  if (ps->frameClass == 0) {
    for (int e = 0; e < env; e++) ps->decBorders[e] = ps->slots * (e + 1) / env;
  } else {
    for (int e = 0; e < env; e++) ps->decBorders[e] = ps->borders[e];
    if (ps->decBorders[env - 1] < ps->slots) {
      // A last envelope that ends early is extended by a copy up to the frame end.
      std::memcpy(ps->iid[env], ps->iid[env - 1], sizeof(ps->iid[0]));
      std::memcpy(ps->icc[env], ps->icc[env - 1], sizeof(ps->icc[0]));
      std::memcpy(ps->ipd[env], ps->ipd[env - 1], sizeof(ps->ipd[0]));
      std::memcpy(ps->opd[env], ps->opd[env - 1], sizeof(ps->opd[0]));
      ps->decBorders[env] = ps->slots;
      env++;
    }
  }
  ps->decEnv = env;
  ps->haveParams = 1;
}

// ---------------------------------------------------------------- processing

namespace {

void mixingFactors(const PsDec* ps, int e, int b, cf h[4]) {
  const Tables& t = tables();
  const int iidIdx = ps->iid[e][b];
  const int iccIdx = ps->icc[e][b];
  const int lim = ps->iidFine ? 15 : 7;
  const float* scale = ps->iidFine ? t.iidScaleFine : t.iidScaleNormal;
  float c1 = scale[lim + iidIdx];
  float c2 = scale[lim - iidIdx];
  float h11, h12, h21, h22;
  if (!ps->iccRb) {
    float alpha = t.iccAngle[iccIdx];
    float beta = alpha * (c1 - c2) / static_cast<float>(M_SQRT2);
    h11 = c2 * std::cos(beta + alpha);
    h12 = c1 * std::cos(beta - alpha);
    h21 = c2 * std::sin(beta + alpha);
    h22 = c1 * std::sin(beta - alpha);
  } else {
    const float* db = ps->iidFine ? sbrtab::psIidFineDb : sbrtab::psIidNormalDb;
    float c = std::pow(10.0f, db[lim + iidIdx] / 20.0f);
    float rho = t.iccValue[iccIdx];
    if (rho < 0.05f) rho = 0.05f;
    float alpha;
    if (std::fabs(c - 1.0f) < 1e-9f)
      alpha = static_cast<float>(M_PI / 4.0);
    else
      alpha = 0.5f * std::atan2(2.0f * c * rho, c * c - 1.0f);
    float mu = c + 1.0f / c;
    mu = 1.0f + (4.0f * rho * rho - 4.0f) / (mu * mu);
    float smu = std::sqrt(mu);
    float gamma = std::atan(std::sqrt((1.0f - smu) / (1.0f + smu)));
    const float s2 = static_cast<float>(M_SQRT2);
    h11 = s2 * std::cos(alpha) * std::cos(gamma);
    h12 = s2 * std::sin(alpha) * std::cos(gamma);
    h21 = -s2 * std::sin(alpha) * std::sin(gamma);
    h22 = s2 * std::cos(alpha) * std::sin(gamma);
  }
  if (ps->enableIpdOpd && b < 11) {
    float opd = ps->opd[e][b] * static_cast<float>(M_PI / 4.0);
    float ipd = ps->ipd[e][b] * static_cast<float>(M_PI / 4.0);
    float ph1 = opd, ph2 = opd - ipd;
    cf e1(std::cos(ph1), std::sin(ph1)), e2(std::cos(ph2), std::sin(ph2));
    h[0] = h11 * e1;
    h[1] = h12 * e2;
    h[2] = h21 * e1;
    h[3] = h22 * e2;
  } else {
    h[0] = h11;
    h[1] = h12;
    h[2] = h21;
    h[3] = h22;
  }
}

}  // namespace

namespace {

// Interleaved complex values into separate real and imaginary rows.
void splitComplex(const float* __restrict c, float* __restrict re, float* __restrict im, int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 a = _mm_loadu_ps(c + 2 * i), b = _mm_loadu_ps(c + 2 * i + 4);
    _mm_storeu_ps(re + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(im + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  }
  for (; i < n; i++) {
    re[i] = c[2 * i];
    im[i] = c[2 * i + 1];
  }
}

// Separate real and imaginary rows into interleaved complex values.
void interleaveComplex(const float* __restrict re, const float* __restrict im, cf* out, int n) {
  float* c = reinterpret_cast<float*>(out);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 r = _mm_loadu_ps(re + i), q = _mm_loadu_ps(im + i);
    _mm_storeu_ps(c + 2 * i, _mm_unpacklo_ps(r, q));
    _mm_storeu_ps(c + 2 * i + 4, _mm_unpackhi_ps(r, q));
  }
  for (; i < n; i++) out[i] = cf(re[i], im[i]);
}

}  // namespace

void psApply(PsDec* ps, int noPsData, float** lRe, float** lIm, float** rRe, float** rIm, int firstSlot) {
  const Tables& t = tables();
  const int S = ps->slots;
  cf (*hyb)[kBands] = ps->hyb;
  cf (*dec)[kBands] = ps->dec;

  // Hybrid analysis of QMF bands 0..2. The 13-tap filters are centred on the
  // output slot: they read 6 slots ahead, which the slot matrix already holds
  // for these low bands (the frame's overlap slots), so the stereo output has
  // no more delay than the mono one. The other QMF bands pass undelayed.
  for (int n = 0; n < S; n++)
    for (int b = 0; b < 3; b++)
      ps->inBuf[kHist + n][b] = cf(lRe[firstSlot + kLookahead + n][b], lIm[firstSlot + kLookahead + n][b]);
  psHybridAnalysis(ps->inBuf, S, &hyb[0][0], kBands);
  for (int n = 0; n < S; n++) interleaveComplex(lRe[firstSlot + n] + 3, lIm[firstSlot + n] + 3, &hyb[n][10], 61);
  for (int i = 0; i < kHist; i++)
    for (int b = 0; b < 3; b++) ps->inBuf[i][b] = ps->inBuf[S + i][b];

  bool copy = noPsData || !ps->haveParams;
  if (!copy) {
    // Decorrelation with transient ducking.
    for (int n = 0; n < S; n++) {
      // Band energies, two bands per vector, then summed by parameter band
      // (the bands from 3 on come in runs of one parameter band) with four
      // partial sums, so that no sum waits on its previous addition.
      alignas(16) float en[kBands + 1];
      const float* hn = reinterpret_cast<const float*>(hyb[n]);
      for (int k = 0; k + 1 < kBands; k += 2) {
        const __m128 v = _mm_loadu_ps(hn + 2 * k);
        const __m128 sq = _mm_mul_ps(v, v);
        const __m128 e = _mm_add_ps(_mm_shuffle_ps(sq, sq, _MM_SHUFFLE(3, 3, 2, 0)), _mm_shuffle_ps(sq, sq, _MM_SHUFFLE(3, 3, 3, 1)));
        _mm_storel_pi(reinterpret_cast<__m64*>(en + k), e);
      }
      en[kBands - 1] = std::norm(hyb[n][kBands - 1]);
      float P[kParBands] = {};
      for (int k = 0; k < 3; k++) P[parBandOf(k)] += en[k];
      for (int run = 0; run < t.numEnergyRuns; run++) {
        const int i = t.energyRuns[run].par, end = t.energyRuns[run].end;
        int k = t.energyRuns[run].start;
        float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f;
        for (; k + 4 <= end; k += 4) {
          a0 += en[k];
          a1 += en[k + 1];
          a2 += en[k + 2];
          a3 += en[k + 3];
        }
        for (; k < end; k++) a0 += en[k];
        P[i] += (a0 + a1) + (a2 + a3);
      }
      // Peak decay, smoothed energies and the ducking gain of each
      // parameter band, four bands per vector (max(b, a) picks as
      // std::max(a, b) does, NaN included).
      alignas(16) float gTr[kParBands];
      static_assert(kParBands % 4 == 0, "parameter bands in fours");
      {
        const __m128 decay = _mm_set1_ps(sbrtab::psPeakDecay), smoothing = _mm_set1_ps(sbrtab::psSmoothing);
        const __m128 impact = _mm_set1_ps(sbrtab::psTransientImpact), one = _mm_set1_ps(1.0f);
        for (int i = 0; i < kParBands; i += 4) {
          const __m128 p = _mm_loadu_ps(P + i);
          const __m128 pd = _mm_max_ps(p, _mm_mul_ps(decay, _mm_loadu_ps(ps->peakDecay + i)));
          __m128 diff = _mm_loadu_ps(ps->peakDiff + i);
          diff = _mm_add_ps(diff, _mm_mul_ps(smoothing, _mm_sub_ps(_mm_sub_ps(pd, p), diff)));
          __m128 se = _mm_loadu_ps(ps->smoothEnergy + i);
          se = _mm_add_ps(se, _mm_mul_ps(smoothing, _mm_sub_ps(p, se)));
          _mm_storeu_ps(ps->peakDecay + i, pd);
          _mm_storeu_ps(ps->peakDiff + i, diff);
          _mm_storeu_ps(ps->smoothEnergy + i, se);
          const __m128 den = _mm_mul_ps(impact, diff);
          const __m128 duck = _mm_cmpgt_ps(den, se);
          _mm_store_ps(gTr + i, _mm_or_ps(_mm_and_ps(duck, _mm_div_ps(se, den)), _mm_andnot_ps(duck, one)));
        }
      }
      // The all-pass chain, two bands per vector (complex values
      // interleaved): c v = (re c, re c) v + (-im c, im c) swap(v).
      const int pre = ps->preDelayPos;
      float* xp = reinterpret_cast<float*>(ps->preDelay[pre]);
      const float* hp = reinterpret_cast<const float*>(hyb[n]);
      float* dp = reinterpret_cast<float*>(dec[n]);
      float* bufs[3];
      for (int m = 0; m < 3; m++) bufs[m] = reinterpret_cast<float*>(ps->apBuf[m][ps->apPos[m]]);
      auto cmul = [](__m128 v, const float* c) {
        const __m128 sw = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));
        return _mm_add_ps(_mm_mul_ps(v, _mm_load_ps(c)), _mm_mul_ps(sw, _mm_load_ps(c + 2 * kAllpassBands)));
      };
      static_assert(kAllpassBands % 2 == 0, "pairs of all-pass bands");
      for (int k = 0; k < kAllpassBands; k += 2) {
        const __m128 x = _mm_loadu_ps(xp + 2 * k);  // input of two slots ago
        _mm_storeu_ps(xp + 2 * k, _mm_loadu_ps(hp + 2 * k));
        __m128 w = cmul(x, t.phiPair + 2 * k);
        for (int m = 0; m < 3; m++) {
          float* buf = bufs[m] + 2 * k;
          const __m128 qv = cmul(_mm_loadu_ps(buf), t.qPair[m] + 2 * k);  // q v(n - d)
          const __m128 g = _mm_load_ps(t.gPair[m] + 2 * k);
          const __m128 v = _mm_add_ps(w, _mm_mul_ps(g, qv));
          _mm_storeu_ps(buf, v);
          w = _mm_sub_ps(qv, _mm_mul_ps(g, v));
        }
        const __m128 gt = _mm_set_ps(gTr[parBandOf(k + 1)], gTr[parBandOf(k + 1)], gTr[parBandOf(k)], gTr[parBandOf(k)]);
        _mm_storeu_ps(dp + 2 * k, _mm_mul_ps(w, gt));
      }
      for (int m = 0; m < 3; m++) ps->apPos[m] = (ps->apPos[m] + 1) % sbrtab::psAllpassDelay[m];
      ps->preDelayPos ^= 1;
      cf* ld = ps->longDelay[ps->longPos];
      for (int k = kAllpassBands; k < kShortDelayBand; k++) {
        int b = k - 7;
        cf x = ld[b];
        ld[b] = hyb[n][k];
        dec[n][k] = x * gTr[parBandOf(k)];
      }
      ps->longPos = (ps->longPos + 1) % kLongDelay;
      for (int k = kShortDelayBand; k < kBands; k++) {
        int b = k - 7;
        cf x = ps->shortDelay[b];
        ps->shortDelay[b] = hyb[n][k];
        dec[n][k] = x * gTr[parBandOf(k)];
      }
    }
    // Mixing, interpolated across each envelope.
    int startSlot = 0;
    for (int e = 0; e < ps->decEnv; e++) {
      int endSlot = ps->decBorders[e];
      if (endSlot > S) endSlot = S;
      int len = endSlot - startSlot;
      if (len <= 0) continue;
      cf hStart[kParBands][4], step[kParBands][4];
      for (int b = 0; b < kParBands; b++) {
        cf hNew[4];
        mixingFactors(ps, e, b, hNew);
        if (!ps->hPrevValid)
          for (int j = 0; j < 4; j++) ps->hPrev[b][j] = hNew[j];
        for (int j = 0; j < 4; j++) {
          hStart[b][j] = ps->hPrev[b][j];
          step[b][j] = (hNew[j] - ps->hPrev[b][j]) / static_cast<float>(len);
          ps->hPrev[b][j] = hNew[j];
        }
      }
      ps->hPrevValid = 1;
      for (int n = startSlot; n < endSlot; n++) {
        const float f = static_cast<float>(n - startSlot + 1);
        // h = hStart + step f for every factor, as float lanes.
        alignas(16) float hf[kParBands * 8];
        {
          const float* hs = reinterpret_cast<const float*>(hStart);
          const float* st = reinterpret_cast<const float*>(step);
          const __m128 vf = _mm_set1_ps(f);
          for (int j = 0; j < kParBands * 8; j += 4)
            _mm_store_ps(hf + j, _mm_add_ps(_mm_loadu_ps(hs + j), _mm_mul_ps(_mm_loadu_ps(st + j), vf)));
        }
        const cf(*h)[4] = reinterpret_cast<const cf(*)[4]>(hf);
        int k = 0;
        for (; k < kHybridBands; k++) {
          const cf* hb = h[parBandOf(k)];
          cf a11 = hb[0], a12 = hb[1], a21 = hb[2], a22 = hb[3];
          if (k < kHybridBands && psHybridBandIsNegative(k)) {
            a11 = std::conj(a11);
            a12 = std::conj(a12);
            a21 = std::conj(a21);
            a22 = std::conj(a22);
          }
          cf sv = hyb[n][k], dv = dec[n][k];
          hyb[n][k] = a11 * sv + a21 * dv;
          dec[n][k] = a12 * sv + a22 * dv;
        }
        // The QMF bands above, two at a time where two share a parameter
        // band: a v = re(a) v + im(a) (i v), with i v = (-im v, re v).
        const __m128 flip = _mm_castsi128_ps(_mm_set_epi32(0, static_cast<int>(0x80000000u), 0, static_cast<int>(0x80000000u)));
        float* hv = reinterpret_cast<float*>(&hyb[n][0]);
        float* dvp = reinterpret_cast<float*>(&dec[n][0]);
        for (int run = 0; run < t.numMixRuns; run++) {
          const int end = t.mixRuns[run].end;
          const cf* hb = h[t.mixRuns[run].par];
          const __m128 a11r = _mm_set1_ps(hb[0].real()), a11i = _mm_set1_ps(hb[0].imag());
          const __m128 a12r = _mm_set1_ps(hb[1].real()), a12i = _mm_set1_ps(hb[1].imag());
          const __m128 a21r = _mm_set1_ps(hb[2].real()), a21i = _mm_set1_ps(hb[2].imag());
          const __m128 a22r = _mm_set1_ps(hb[3].real()), a22i = _mm_set1_ps(hb[3].imag());
          auto mix = [&](__m128 sv, __m128 dv, __m128* l, __m128* r) {
            const __m128 si = _mm_xor_ps(_mm_shuffle_ps(sv, sv, _MM_SHUFFLE(2, 3, 0, 1)), flip);
            const __m128 di = _mm_xor_ps(_mm_shuffle_ps(dv, dv, _MM_SHUFFLE(2, 3, 0, 1)), flip);
            *l = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a11r, sv), _mm_mul_ps(a11i, si)),
                            _mm_add_ps(_mm_mul_ps(a21r, dv), _mm_mul_ps(a21i, di)));
            *r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a12r, sv), _mm_mul_ps(a12i, si)),
                            _mm_add_ps(_mm_mul_ps(a22r, dv), _mm_mul_ps(a22i, di)));
          };
          for (; k + 1 < end; k += 2) {
            __m128 l, r;
            mix(_mm_loadu_ps(hv + 2 * k), _mm_loadu_ps(dvp + 2 * k), &l, &r);
            _mm_storeu_ps(hv + 2 * k, l);
            _mm_storeu_ps(dvp + 2 * k, r);
          }
          if (k < end) {
            __m128 l, r;
            const __m128 z = _mm_setzero_ps();
            mix(_mm_loadl_pi(z, reinterpret_cast<const __m64*>(hv + 2 * k)),
                _mm_loadl_pi(z, reinterpret_cast<const __m64*>(dvp + 2 * k)), &l, &r);
            _mm_storel_pi(reinterpret_cast<__m64*>(hv + 2 * k), l);
            _mm_storel_pi(reinterpret_cast<__m64*>(dvp + 2 * k), r);
            k++;
          }
        }
      }
      startSlot = endSlot;
    }
    ps->hPrevValid = 1;
  } else {
    // Without parameters both channels carry the mono signal.
    dec = hyb;
  }

  // Hybrid synthesis of both channels.
  for (int n = 0; n < S; n++) {
    float* lr = lRe[firstSlot + n];
    float* li = lIm[firstSlot + n];
    float* rr = rRe[firstSlot + n];
    float* ri = rIm[firstSlot + n];
    cf l0 = 0.0f, r0 = 0.0f;
    for (int k = 0; k < 6; k++) {
      l0 += hyb[n][k];
      r0 += dec[n][k];
    }
    cf l1 = hyb[n][6] + hyb[n][7], r1 = dec[n][6] + dec[n][7];
    cf l2 = hyb[n][8] + hyb[n][9], r2 = dec[n][8] + dec[n][9];
    lr[0] = l0.real(); li[0] = l0.imag(); rr[0] = r0.real(); ri[0] = r0.imag();
    lr[1] = l1.real(); li[1] = l1.imag(); rr[1] = r1.real(); ri[1] = r1.imag();
    lr[2] = l2.real(); li[2] = l2.imag(); rr[2] = r2.real(); ri[2] = r2.imag();
    splitComplex(reinterpret_cast<const float*>(&hyb[n][10]), lr + 3, li + 3, 61);
    splitComplex(reinterpret_cast<const float*>(&dec[n][10]), rr + 3, ri + 3, 61);
  }
}
