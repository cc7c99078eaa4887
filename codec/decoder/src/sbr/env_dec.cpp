// SBR envelope and noise-floor decoding.
#include "env_dec.h"

#include <cmath>
#include <cstring>

namespace {

// Index into the high-resolution previous-value array of band i at resolution res,
// and the number of entries it covers.
void mapBand(const SbrFrameData* fd, int res, int i, int* index, int* count) {
  if (res == 1) {
    *index = i;
    *count = 1;
    return;
  }
  int o = fd->resMapOffset;
  if (o < 0) {
    if (i < -o) {
      *index = 3 * i;
      *count = 3;
    } else {
      *index = 2 * i - o;
      *count = 2;
    }
  } else {
    if (i >= o) {
      *index = 2 * i - o;
      *count = 2;
    } else {
      *index = i;
      *count = 1;
    }
  }
}

void sbrDeltaDecode(SbrFrameData* fd, SbrPrevData* prev) {
  int pos = 0;
  for (int e = 0; e < fd->grid.numEnv; e++) {
    int res = fd->grid.freqRes[e];
    int nb = fd->nBands[res];
    for (int b = 0; b < nb; b++) {
      int idx, cnt;
      mapBand(fd, res, b, &idx, &cnt);
      if (idx < 0) idx = 0;
      if (idx + cnt > MAX_FREQ_COEFFS) cnt = MAX_FREQ_COEFFS - idx;
      float v;
      if (fd->domainVec[e] == 0)
        v = b == 0 ? fd->env[pos] : fd->env[pos] + fd->env[pos - 1];
      else
        v = fd->env[pos] + prev->env[idx];
      fd->env[pos] = v;
      for (int c = 0; c < cnt; c++) prev->env[idx + c] = v;
      pos++;
    }
  }
}

int sbrCheckEnvelope(SbrFrameData* fd, SbrPrevData* prev) {
  float limit = fd->ampResEff ? 35.0f : 70.0f;
  int ok = 1;
  for (int i = 0; i < fd->numEnvValues; i++)
    if (fd->env[i] > limit || fd->env[i] < 0.0f) ok = 0;
  for (int i = 0; i < MAX_FREQ_COEFFS; i++) {
    if (prev->env[i] < 0.0f) prev->env[i] = 0.0f;
    if (prev->env[i] > limit) prev->env[i] = limit;
  }
  return ok;
}

void sbrConcealEnvelope(SbrFrameData* fd, SbrPrevData* prev) {
  fd->ampResEff = prev->ampRes;
  fd->coupling = prev->coupling;
  std::memcpy(fd->invfMode, fd->invfModePrev, sizeof(fd->invfMode));
  int T = fd->numTimeSlots;
  SbrGrid& g = fd->grid;
  g.frameClass = 0;
  g.numEnv = 1;
  g.borders[0] = fd->stopPos - T;
  g.borders[1] = T;
  g.freqRes[0] = 1;
  g.transientIdx = -1;
  g.numNoiseEnv = 1;
  g.noiseBorders[0] = g.borders[0];
  g.noiseBorders[1] = T;
  if (g.borders[0] < 0 || g.borders[0] >= T) {
    g.borders[0] = 0;
    g.noiseBorders[0] = 0;
  }
  fd->domainVec[0] = 1;
  fd->domainVecNoise[0] = 1;
  int nb = fd->nBands[1];
  fd->numEnvValues = nb;
  float target = 0.0f, step = 1.0f;
  if (fd->coupling == 2) {
    target = 12.0f;
    step = 0.5f;
  }
  if (fd->ampResEff == 0) {
    target *= 2.0f;
    step *= 2.0f;
  }
  for (int b = 0; b < nb; b++) fd->env[b] = prev->env[b] <= target ? step : -step;
  for (int b = 0; b < fd->nNoiseBands; b++) fd->noise[0][b] = 0.0f;
}

void sbrCompensateFirstEnvelope(SbrFrameData* fd) {
  int T = fd->numTimeSlots;
  SbrGrid& g = fd->grid;
  int estStart = fd->stopPos - T;
  int oldLen = g.borders[1] - g.borders[0];
  int newLen = g.borders[1] - estStart;
  if (newLen <= 0) {
    newLen = oldLen;
    estStart = g.borders[0];
  }
  float delta = std::log2(static_cast<float>(oldLen) / static_cast<float>(newLen));
  if (fd->ampResEff == 0) delta *= 2.0f;
  g.borders[0] = estStart;
  g.noiseBorders[0] = estStart;
  if (fd->coupling != 2) {
    int nb = fd->nBands[g.freqRes[0]];
    for (int b = 0; b < nb; b++) fd->env[b] += delta;
  }
}

void requantise(SbrFrameData* fd) {
  float a = fd->ampResEff ? 1.0f : 2.0f;
  for (int i = 0; i < fd->numEnvValues; i++) fd->env[i] = 64.0f * std::exp2(fd->env[i] / a);
}

void sbrDecodeEnvelope(SbrHeader* h, SbrFrameData* fd, SbrPrevData* prev, SbrPrevData* other) {
  if (!h->frameError) {
    // A lost previous frame leaves a gap before this frame's first border; the
    // very first frame has no predecessor whose end it could join.
    if (h->prevFrameError && fd->framesDecoded) {
      sbrCompensateFirstEnvelope(fd);
      if (fd->coupling != prev->coupling) {
        for (int i = 0; i < MAX_FREQ_COEFFS; i++) {
          if (prev->coupling == 2)
            prev->env[i] = other ? other->env[i] : prev->env[i];
          else if (fd->coupling == 1)
            prev->env[i] = other ? 0.5f * (prev->env[i] + other->env[i]) : prev->env[i];
          else if (fd->coupling == 2)
            prev->env[i] = 12.0f;
        }
      }
    }
    float copy[MAX_FREQ_COEFFS];
    std::memcpy(copy, prev->env, sizeof(copy));
    sbrDeltaDecode(fd, prev);
    if (sbrCheckEnvelope(fd, prev)) {
      requantise(fd);
      return;
    }
    h->frameError = 1;
    std::memcpy(prev->env, copy, sizeof(copy));
  }
  sbrConcealEnvelope(fd, prev);
  sbrDeltaDecode(fd, prev);
  sbrCheckEnvelope(fd, prev);
  // The concealed values are valid by construction after the clamp.
  for (int i = 0; i < fd->numEnvValues; i++) {
    float limit = fd->ampResEff ? 35.0f : 70.0f;
    if (fd->env[i] < 0.0f) fd->env[i] = 0.0f;
    if (fd->env[i] > limit) fd->env[i] = limit;
  }
  requantise(fd);
}

void sbrDecodeNoise(SbrFrameData* fd, SbrPrevData* prev) {
  int n = fd->nNoiseBands;
  for (int e = 0; e < fd->grid.numNoiseEnv; e++) {
    for (int b = 0; b < n; b++) {
      if (fd->domainVecNoise[e] == 0) {
        if (b > 0) fd->noise[e][b] += fd->noise[e][b - 1];
      } else {
        fd->noise[e][b] += e == 0 ? prev->noise[b] : fd->noise[0][b];
      }
    }
  }
  for (int e = 0; e < fd->grid.numNoiseEnv; e++)
    for (int b = 0; b < n; b++) {
      if (fd->noise[e][b] < 0.0f) fd->noise[e][b] = 0.0f;
      if (fd->noise[e][b] > 35.0f) fd->noise[e][b] = 35.0f;
    }
  for (int b = 0; b < n; b++) prev->noise[b] = fd->noise[fd->grid.numNoiseEnv - 1][b];
  if (fd->coupling == 0)
    for (int e = 0; e < fd->grid.numNoiseEnv; e++)
      for (int b = 0; b < n; b++) fd->noise[e][b] = std::exp2(6.0f - fd->noise[e][b]);
}

void undoCoupling(SbrFrameData* l, SbrFrameData* r) {
  for (int i = 0; i < l->numEnvValues && i < r->numEnvValues; i++) {
    float ratio = r->env[i] / 4096.0f / 64.0f;
    float rr = 2.0f * l->env[i] / (1.0f + ratio);
    r->env[i] = rr;
    l->env[i] = rr * ratio;
  }
  for (int e = 0; e < l->grid.numNoiseEnv; e++)
    for (int b = 0; b < l->nNoiseBands; b++) {
      float ratio = std::exp2(r->noise[e][b] - 12.0f);
      float q = std::exp2(6.0f - l->noise[e][b]);
      float rr = 2.0f * q / (1.0f + ratio);
      r->noise[e][b] = rr;
      l->noise[e][b] = rr * ratio;
    }
}

}  // namespace

void sbrDecodeFrameData(SbrHeader* h, SbrFrameData* fd0, SbrPrevData* prev0, SbrFrameData* fd1,
                        SbrPrevData* prev1, int mode) {
  (void)mode;
  int err0 = h->frameError;
  sbrDecodeEnvelope(h, fd0, prev0, prev1);
  sbrDecodeNoise(fd0, prev0);
  if (fd1) {
    int before = h->frameError;
    sbrDecodeEnvelope(h, fd1, prev1, prev0);
    sbrDecodeNoise(fd1, prev1);
    (void)err0;
    if (!before && h->frameError) {
      // Channel 2 failed its check: conceal channel 1 as well.
      sbrDecodeEnvelope(h, fd0, prev0, prev1);
      // Its noise was decoded already; the concealed grid keeps one noise envelope.
    }
    if (fd0->coupling == 1 && fd1->coupling == 2) undoCoupling(fd0, fd1);
  }
  SbrFrameData* fds[2] = {fd0, fd1};
  SbrPrevData* prevs[2] = {prev0, prev1};
  for (int c = 0; c < 2; c++) {
    if (!fds[c]) continue;
    prevs[c]->coupling = fds[c]->coupling;
    prevs[c]->ampRes = fds[c]->ampResEff;
    fds[c]->stopPos = fds[c]->grid.borders[fds[c]->grid.numEnv];
    fds[c]->framesDecoded = 1;
    std::memcpy(fds[c]->invfModePrev, fds[c]->invfMode, sizeof(fds[c]->invfMode));
  }
  h->prevFrameError = h->frameError;
}
