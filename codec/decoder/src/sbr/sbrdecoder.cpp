// SBR decoder instance and per-channel frame flow.
#include "sbrdecoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <xmmintrin.h>

#include "env_calc.h"
#include "env_dec.h"
#include "lpp_tran.h"
#include "psdec.h"
#include "qmf_dec.h"
#include "sbr_bit.h"
#include "sbr_int.h"

namespace {

float wordFloat(int32_t w) {
  float f;
  std::memcpy(&f, &w, sizeof f);
  return f;
}

int32_t floatWord(float f) {
  int32_t w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

constexpr int kAnalysisDelay = 288;  // 320 - 32 samples of analysis history
constexpr float kInputBound = 1.0e9f;  // core samples are on the 16-bit scale

}  // namespace

// One channel of an SBR decoder instance.
struct SbrChannelDec {
  int coreFrameLength = 1024;
  int outFrameLength = 2048;
  int coreRate = 0;
  int outRate = 0;
  int envAdjust = 2;
  int forcedInvf = 4;
  int lowPower = 0;
  int upNum = 2;
  int upDen = 1;
  int slotsPerFrame = 32;
  int timeSlots = 16;
  int resetDone = 0;
  QmfBank* analysis = nullptr;
  QmfBank* synthesis = nullptr;
  SbrEnvCalc* envCalc = nullptr;
  LppTrans* lpp = nullptr;
  float* input = nullptr;  // analysis delay + core frame
  float reData[SBR_TOTAL_SLOTS][QMF_CHANNELS] = {};
  float imData[SBR_TOTAL_SLOTS][QMF_CHANNELS] = {};
  float* re[SBR_TOTAL_SLOTS] = {};
  float* im[SBR_TOTAL_SLOTS] = {};
  SbrFrameData fd;
  SbrPrevData prev;
};

struct SbrDecoder {
  SbrConfig cfg{};
  int headerState = 1;
  SbrHeader header;
  SbrChannelDec* ch[2] = {nullptr, nullptr};
  float work[4096] = {};
  PsDec* ps = nullptr;
  float keepRe[SBR_HF_ADJ][QMF_CHANNELS] = {};  // mono slots the stereo step overwrites
  float keepIm[SBR_HF_ADJ][QMF_CHANNELS] = {};
  int coreRate = 0;
  int coreFrameLength = 0;
};

namespace {

void deleteChannel(SbrChannelDec** pc) {
  SbrChannelDec* c = *pc;
  if (!c) return;
  deleteQmfBank(&c->analysis);
  deleteQmfBank(&c->synthesis);
  deleteSbrEnvelopeCalc(&c->envCalc);
  deleteLppTrans(&c->lpp);
  std::free(c->input);
  delete c;
  *pc = nullptr;
}

SbrError createSbrDec(SbrChannelDec** out, const SbrConfig* cfg, int rate, int frameLength) {
  *out = nullptr;
  SbrChannelDec* c = new (std::nothrow) SbrChannelDec();
  if (!c) return "Memory allocation in function createSbrDec() failed";
  c->upNum = 2;
  c->upDen = cfg->w[14] ? 2 : 1;
  c->coreFrameLength = frameLength;
  c->outFrameLength = frameLength * c->upNum / c->upDen;
  c->coreRate = rate;
  c->outRate = rate * c->upNum / c->upDen;
  c->envAdjust = cfg->w[1];
  c->lowPower = cfg->w[13] ? 1 : 0;
  c->forcedInvf = cfg->w[3];
  int ofl = c->outFrameLength;
  if (ofl != 960 && ofl != 1920 && ofl != 1024 && ofl != 2048) {
    deleteChannel(&c);
    return "Framing not supported by Sbr in createSbrDec()";
  }
  c->timeSlots = (ofl == 960 || ofl == 1920) ? 15 : 16;
  SbrError err = createCplxAnalysisQmfBank(&c->analysis, 0, c->upNum, c->upDen, frameLength, cfg->w[13]);
  if (!err)
    err = createCplxSynthesisQmfBank(&c->synthesis, 0, c->upDen, ofl, wordFloat(cfg->w[7]), wordFloat(cfg->w[8]),
                                     cfg->w[13]);
  if (!err) err = createSbrEnvelopeCalc(&c->envCalc, c->synthesis->slots, c->timeSlots, 0);
  if (err) {
    deleteChannel(&c);
    return err;
  }
  c->synthesis->firstBand = 32;
  c->synthesis->endBand = 64 / c->upDen;
  c->analysis->firstBand = 0;
  c->analysis->endBand = 32;
  c->slotsPerFrame = c->analysis->slots;
  c->fd.numTimeSlots = c->timeSlots;
  c->fd.stopPos = c->timeSlots;
  sbrInitDefaultGrid(&c->fd.grid, c->timeSlots);
  err = createLppTrans(&c->lpp, cfg->w, QMF_CHANNELS, 0, c->slotsPerFrame);
  if (err) {
    deleteChannel(&c);
    return err;
  }
  c->input = static_cast<float*>(std::calloc(kAnalysisDelay + frameLength, sizeof(float)));
  if (!c->input) {
    deleteChannel(&c);
    return "Memory allocation in function createSbrDec() failed";
  }
  for (int i = 0; i < SBR_TOTAL_SLOTS; i++) {
    c->re[i] = c->reData[i];
    c->im[i] = c->imData[i];
  }
  c->resetDone = 1;
  *out = c;
  return nullptr;
}

SbrError sbrResetChannel(SbrChannelDec* c, SbrHeader* h) {
  c->resetDone = 0;
  int oldLsb = c->envCalc->ft.lsb;
  SbrError err = resetSbrEnvelopeCalc(c->envCalc, h, 2 * c->coreRate, QMF_CHANNELS, 2 * c->timeSlots, 0);
  if (err) return err;
  const SbrFreqTables& ft = c->envCalc->ft;
  c->synthesis->firstBand = ft.lsb;
  c->synthesis->endBand = ft.usb < 64 / c->upDen ? ft.usb : 64 / c->upDen;
  c->analysis->endBand = ft.lsb;
  c->fd.nBands[0] = ft.nLow;
  c->fd.nBands[1] = ft.nHigh;
  c->fd.nNoiseBands = ft.nNoise;
  c->fd.nInvfBands = ft.nNoise;
  c->fd.resMapOffset = 2 * ft.nLow - ft.nHigh;
  // Clear the QMF values between the old and the new start band.
  int lo = oldLsb < ft.lsb ? oldLsb : ft.lsb;
  int hi = oldLsb < ft.lsb ? ft.lsb : oldLsb;
  if (oldLsb == 0) lo = hi;
  int from = (c->fd.stopPos - c->timeSlots) * 2 + SBR_HF_ADJ;
  if (from < 0) from = 0;
  for (int m = from; m < SBR_TOTAL_SLOTS; m++)
    for (int k = lo; k < hi; k++) c->re[m][k] = c->im[m][k] = 0.0f;
  for (int m = 0; m < SBR_HF_ADJ; m++)
    for (int k = lo; k < hi; k++) c->re[m][k] = c->im[m][k] = 0.0f;
  err = sbrResetPatches(c->lpp, ft.lsb, ft.master, ft.nMaster, ft.noise, ft.nNoise, 2 * c->coreRate,
                        QMF_CHANNELS, 0);
  if (err) return err;
  err = sbrResetLimiterBands(c->envCalc->ft.lim, &c->envCalc->ft.nLim, ft.low, ft.nLow, c->lpp, h->limiterBands);
  if (err) return err;
  c->resetDone = 1;
  return nullptr;
}

void sbrDecodeChannelFrame(SbrChannelDec* c, const float* core, int stride, SbrHeader* h, int headerValid,
                           int psOn) {
  if (psOn) c->fd.psStartBand = headerValid ? c->envCalc->ft.lsb : c->analysis->endBand;
  else c->fd.psStartBand = 0;
  const int n = c->coreFrameLength;
  std::memmove(c->input, c->input + n, sizeof(float) * kAnalysisDelay);
  // Corrupt input can make the core's output enormous; bounding it keeps every
  // energy of the SBR tools finite (legal audio stays far below the bound).
  // Four samples at a time for one or two interleaved channels: a NaN
  // becomes +0, then min and max give what the scalar comparisons give.
  float* dst = c->input + kAnalysisDelay;
  int i = 0;
  const __m128 top = _mm_set1_ps(kInputBound), bottom = _mm_set1_ps(-kInputBound);
  auto bound = [&](__m128 x) { return _mm_max_ps(_mm_min_ps(_mm_and_ps(x, _mm_cmpeq_ps(x, x)), top), bottom); };
  if (stride == 1) {
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(dst + i, bound(_mm_loadu_ps(core + i)));
  } else if (stride == 2) {
    // The second channel's last vector would read one value past the frame.
    for (; i + 5 <= n; i += 4) {
      const __m128 a = _mm_loadu_ps(core + 2 * i), b = _mm_loadu_ps(core + 2 * i + 4);
      _mm_storeu_ps(dst + i, bound(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
    }
  }
  for (; i < n; i++) {
    float x = core[i * stride];
    if (!(x == x)) x = 0.0f;
    dst[i] = x > kInputBound ? kInputBound : (x < -kInputBound ? -kInputBound : x);
  }
  if (c->forcedInvf < 4)
    for (int i = 0; i < MAX_NOISE_COEFFS; i++) c->fd.invfMode[i] = c->forcedInvf;
  if (!headerValid) {
    c->analysis->endBand = 32;
    c->synthesis->firstBand = 32;
    c->synthesis->endBand = 64 / c->upDen;
  }
  qmfAnalysisFiltering(c->input, c->re + SBR_OVERLAP, c->im + SBR_OVERLAP, c->analysis);
  // The analysis gives 32 bands; the upper half of each new slot starts empty.
  for (int m = SBR_OVERLAP; m < SBR_TOTAL_SLOTS; m++)
    for (int k = c->analysis->M; k < QMF_CHANNELS; k++) c->re[m][k] = c->im[m][k] = 0.0f;
  if (!headerValid) {
    int start = c->synthesis->firstBand;
    if (psOn && c->fd.psStartBand > 0) start = c->fd.psStartBand;
    for (int m = SBR_HF_ADJ; m < c->slotsPerFrame + SBR_OVERLAP; m++)
      for (int k = start; k < QMF_CHANNELS; k++) c->re[m][k] = c->im[m][k] = 0.0f;
  } else {
    sbrTranspose(c->re, c->im, &c->fd, c->lpp, c->envCalc->ft.usb, 0, c->lowPower);
    if (c->envAdjust) sbrAdjustEnvelope(c->envCalc, h, &c->fd, c->re, c->im, c->lowPower, 0);
  }
}

// The frame's output slots start at the transposer offset: the low band of
// slot SBR_HF_ADJ + l lines up with the high band of grid slot l.
void synthesise(SbrChannelDec* c, float* out) {
  qmfSynthesisFiltering(c->re + SBR_HF_ADJ, c->im + SBR_HF_ADJ, out, c->synthesis);
}

void shiftOverlap(SbrChannelDec* c) {
  for (int i = 0; i < SBR_OVERLAP; i++) {
    std::memcpy(c->re[i], c->re[c->slotsPerFrame + i], sizeof(float) * QMF_CHANNELS);
    std::memcpy(c->im[i], c->im[c->slotsPerFrame + i], sizeof(float) * QMF_CHANNELS);
  }
}

int sbrParsePayload(SbrDecoder* d, const SbrElementRecord* rec) {
  SbrBitReader br;
  sbrBitInit(&br, rec->payload, rec->length);
  sbrReadBits(&br, 4);
  SbrHeader* h = &d->header;
  if (rec->extType == 14 || d->cfg.w[6] != d->cfg.w[0]) {
    int n = rec->length * 8 - 14;
    if (n < 0) n = 0;
    if (!sbrCheckCrc(&br, n)) {
      h->frameError = 1;
      return 0;
    }
  }
  if (sbrReadBits(&br, 1)) {
    SbrHeader old = *h;
    int prevState = d->headerState;
    int reset = sbrReadHeader(h, &br, rec->elementKind, 0, prevState);
    if (reset) {
      for (int i = 0; i < 2; i++) {
        SbrError err = sbrResetChannel(d->ch[i], h);
        if (err && prevState == 2) {
          // Fall back to the previous header.
          SbrHeader keep = *h;
          *h = old;
          h->frameError = keep.frameError;
          err = sbrResetChannel(d->ch[i], h);
          if (err) d->headerState = 1;
        }
      }
    }
    if (!d->ch[0]->resetDone || !d->ch[1]->resetDone) {
      d->headerState = 1;
      return SBR_ERR_RESET;
    }
    d->headerState = 2;
  }
  if (d->headerState == 2) {
    int ok;
    if (rec->elementKind == 0)
      ok = sbrReadSingleChannelElement(h, &d->ch[0]->fd, &br, 0, d->ps);
    else if (rec->elementKind == 2)
      ok = sbrReadChannelPairElement(h, &d->ch[0]->fd, &d->ch[1]->fd, &br, 0, d->ps);
    else
      return SBR_ERR_ELEMENT_KIND;
    // The payload may carry fill bits after the data; reading past it is corruption.
    if (ok && br.bitsRead > rec->length * 8) ok = 0;
    if (!ok) h->frameError = 1;
  }
  return 0;
}

}  // namespace

void sbrDecoderSetDefaults(SbrConfig* cfg, int mode) {
  std::memset(cfg, 0, sizeof *cfg);
  cfg->w[0] = mode;
  cfg->w[1] = 2;
  cfg->w[2] = 2;
  cfg->w[3] = 4;
  cfg->w[4] = 1;
  cfg->w[5] = floatWord(1000.0f);
  cfg->w[6] = 0;
  cfg->w[7] = floatWord(1.0f);
  cfg->w[8] = floatWord(1.0f);
  cfg->w[9] = floatWord(0.0f);
  cfg->w[10] = 40;
  cfg->w[11] = floatWord(0.05f);
  cfg->w[12] = floatWord(0.0f);
}

SbrDecoder* sbrDecoderOpen(int coreSampleRate, int coreFrameLength, const SbrConfig* cfg, int unused) {
  (void)unused;
  if (!cfg || cfg->w[0] != 0) return nullptr;
  if (coreSampleRate < 8000 || coreSampleRate > 48000) return nullptr;
  if (coreFrameLength != 960 && coreFrameLength != 1024) return nullptr;
  SbrDecoder* d = new (std::nothrow) SbrDecoder();
  if (!d) return nullptr;
  d->cfg = *cfg;
  d->coreRate = coreSampleRate;
  d->coreFrameLength = coreFrameLength;
  d->header = SbrHeader();
  d->header.frameError = 0;
  d->header.prevFrameError = 1;
  if (coreSampleRate > 24000) {
    d->header.startFreq = 7;
    d->header.stopFreq = 3;
  }
  d->headerState = 1;
  for (int i = 0; i < 2; i++) {
    if (createSbrDec(&d->ch[i], cfg, coreSampleRate, coreFrameLength)) {
      sbrDecoderClose(&d);
      return nullptr;
    }
  }
  if (psDecoderCreate(&d->ps, QMF_CHANNELS, coreFrameLength == 960 ? 30 : 32)) {
    sbrDecoderClose(&d);
    return nullptr;
  }
  return d;
}

int sbrDecoderApply(SbrDecoder* d, const SbrElementRecord* rec, float* timeData, int psEnable, int* numChannels,
                    int* psApplied) {
  const int channels = rec->elementKind == 2 ? 2 : 1;
  const int stride = *numChannels > 0 ? *numChannels : channels;
  int result = 0;
  SbrHeader* h = &d->header;
  if (rec->length <= 0 || !rec->payload || rec->count <= 0) {
    if (d->headerState == 2)
      h->frameError = 1;
    else
      d->headerState = 1;
  } else {
    result = sbrParsePayload(d, rec);
  }
  if (d->headerState == 2)
    sbrDecodeFrameData(h, &d->ch[0]->fd, &d->ch[0]->prev, channels == 2 ? &d->ch[1]->fd : nullptr,
                       &d->ch[1]->prev, 0);
  const bool psOn = psEnable && channels == 1;
  int psData = 0;
  if (psOn && psHasNewData(d->ps)) {
    psDecodeParameters(d->ps);
    psData = 1;
  }
  const int headerValid = d->headerState == 2;
  for (int c = 0; c < channels; c++)
    sbrDecodeChannelFrame(d->ch[c], timeData + (channels == 2 ? c : 0), stride, h, headerValid, psOn);
  *psApplied = 0;
  int outChannels = channels;
  if (psOn) {
    // The stereo output replaces the mono slots in place, but the frame's last
    // SBR_HF_ADJ output slots are also the next frame's first history slots,
    // which the transposer's prediction and covariance read as the core's
    // analysis: keep them as they are before the stereo step.
    SbrChannelDec* m = d->ch[0];
    for (int i = 0; i < SBR_HF_ADJ; i++) {
      std::memcpy(d->keepRe[i], m->re[m->slotsPerFrame + i], sizeof d->keepRe[i]);
      std::memcpy(d->keepIm[i], m->im[m->slotsPerFrame + i], sizeof d->keepIm[i]);
    }
    psApply(d->ps, !psData, d->ch[0]->re, d->ch[0]->im, d->ch[1]->re, d->ch[1]->im, SBR_HF_ADJ);
    *psApplied = psData;
    outChannels = 2;
  }
  const int ofl = d->ch[0]->outFrameLength;
  if (psOn) {
    // The PS output uses the second channel's synthesis bank and slot matrices.
    d->ch[1]->synthesis->firstBand = d->ch[0]->synthesis->firstBand;
    d->ch[1]->synthesis->endBand = d->ch[0]->synthesis->endBand;
  }
  if (outChannels == 2 && 2 * ofl <= static_cast<int>(sizeof(d->work) / sizeof(float))) {
    // Both channels into the work buffer, then interleaved four frames at a time.
    float* w0 = d->work;
    float* w1 = d->work + ofl;
    synthesise(d->ch[0], w0);
    synthesise(d->ch[1], w1);
    int i = 0;
    for (; i + 4 <= ofl; i += 4) {
      __m128 a = _mm_loadu_ps(w0 + i), b = _mm_loadu_ps(w1 + i);
      _mm_storeu_ps(timeData + 2 * i, _mm_unpacklo_ps(a, b));
      _mm_storeu_ps(timeData + 2 * i + 4, _mm_unpackhi_ps(a, b));
    }
    for (; i < ofl; i++) {
      timeData[2 * i] = w0[i];
      timeData[2 * i + 1] = w1[i];
    }
  } else {
    for (int c = 0; c < outChannels; c++) {
      synthesise(d->ch[c], d->work);
      for (int i = 0; i < ofl; i++) timeData[i * outChannels + c] = d->work[i];
    }
  }
  if (psOn) {
    SbrChannelDec* m = d->ch[0];
    for (int i = 0; i < SBR_HF_ADJ; i++) {
      std::memcpy(m->re[m->slotsPerFrame + i], d->keepRe[i], sizeof d->keepRe[i]);
      std::memcpy(m->im[m->slotsPerFrame + i], d->keepIm[i], sizeof d->keepIm[i]);
    }
  }
  for (int c = 0; c < channels; c++) shiftOverlap(d->ch[c]);
  *numChannels = outChannels;
  return result;
}

void sbrDecoderReset(SbrDecoder* d) {
  if (!d) return;
  d->headerState = 1;
  for (int i = 0; i < 2; i++) {
    SbrChannelDec* c = d->ch[i];
    if (c->envCalc->ft.nMaster > 0) sbrResetChannel(c, &d->header);
    std::memset(c->envCalc->harmonicPrev, 0, sizeof(c->envCalc->harmonicPrev));
    c->fd.framesDecoded = 0;
    std::memset(c->reData, 0, sizeof(c->reData));
    std::memset(c->imData, 0, sizeof(c->imData));
    qmfResetState(c->synthesis);
    std::memset(c->input, 0, sizeof(float) * (kAnalysisDelay + c->coreFrameLength));
  }
  psReset(d->ps);
}

void sbrDecoderClose(SbrDecoder** pd) {
  if (!pd || !*pd) return;
  SbrDecoder* d = *pd;
  deleteChannel(&d->ch[0]);
  deleteChannel(&d->ch[1]);
  psDecoderDelete(&d->ps);
  delete d;
  *pd = nullptr;
}

float sbrDecoderGetRateFactor(const SbrDecoder* d) {
  return static_cast<float>(d->ch[0]->upNum) / static_cast<float>(d->ch[0]->upDen);
}

void sbrDecoderGetRateConfig(const SbrDecoder* d, int* lowPower, int* downsampled) {
  *lowPower = d->cfg.w[13];
  *downsampled = d->cfg.w[14];
}

int sbrDecoderGetOutputFrameLength(const SbrDecoder* d) { return d->ch[0]->outFrameLength; }
