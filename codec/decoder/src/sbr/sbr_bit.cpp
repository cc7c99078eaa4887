// SBR payload syntax.
#include "sbr_bit.h"

#include <cstring>

#include "psdec.h"

// ---------------------------------------------------------------- bit reader

void sbrBitInit(SbrBitReader* br, const uint8_t* data, int bytes) {
  br->data = data;
  br->lengthBits = bytes > 0 ? bytes * 8 : 0;
  br->bitsRead = 0;
}

uint32_t sbrReadBits(SbrBitReader* br, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; i++) {
    int pos = br->bitsRead + i;
    uint32_t bit = 0;
    if (pos < br->lengthBits) bit = (br->data[pos >> 3] >> (7 - (pos & 7))) & 1u;
    v = (v << 1) | bit;
  }
  br->bitsRead += n;
  return v;
}

int sbrDecodeHuffman(SbrBitReader* br, sbrtab::HuffTree tree) {
  int node = 0;
  for (;;) {
    int e = tree[node][sbrReadBits(br, 1)];
    if (e < 0) return e + 64;
    node = e;
  }
}

// ---------------------------------------------------------------- header

int sbrReadHeader(SbrHeader* h, SbrBitReader* br, int elementKind, int skipReserved, int prevHeaderState) {
  (void)elementKind;
  (void)skipReserved;
  SbrHeader old = *h;
  h->ampRes = static_cast<int>(sbrReadBits(br, 1));
  h->startFreq = static_cast<int>(sbrReadBits(br, 4));
  h->stopFreq = static_cast<int>(sbrReadBits(br, 4));
  h->xoverBand = static_cast<int>(sbrReadBits(br, 3));
  sbrReadBits(br, 2);
  int extra1 = static_cast<int>(sbrReadBits(br, 1));
  int extra2 = static_cast<int>(sbrReadBits(br, 1));
  if (extra1) {
    h->freqScale = static_cast<int>(sbrReadBits(br, 2));
    h->alterScale = static_cast<int>(sbrReadBits(br, 1));
    h->noiseBands = static_cast<int>(sbrReadBits(br, 2));
  } else {
    h->freqScale = 2;
    h->alterScale = 1;
    h->noiseBands = 2;
  }
  if (extra2) {
    h->limiterBands = static_cast<int>(sbrReadBits(br, 2));
    h->limiterGains = static_cast<int>(sbrReadBits(br, 2));
    h->interpolFreq = static_cast<int>(sbrReadBits(br, 1));
    h->smoothingMode = static_cast<int>(sbrReadBits(br, 1));
  } else {
    h->limiterBands = 2;
    h->limiterGains = 2;
    h->interpolFreq = 1;
    h->smoothingMode = 1;
  }
  if (prevHeaderState == 2) {
    h->freqChange = (h->startFreq != old.startFreq || h->stopFreq != old.stopFreq ||
                     h->freqScale != old.freqScale || h->alterScale != old.alterScale)
                        ? 1
                        : 0;
    h->resetFlag =
        (h->freqChange || h->xoverBand != old.xoverBand || h->noiseBands != old.noiseBands) ? 1 : 0;
  } else {
    h->freqChange = 1;
    h->resetFlag = 1;
  }
  return h->resetFlag;
}

// ---------------------------------------------------------------- grid

void sbrInitDefaultGrid(SbrGrid* g, int T) {
  *g = SbrGrid();
  g->frameClass = 0;
  g->numEnv = 1;
  g->borders[0] = 0;
  g->borders[1] = T;
  g->freqRes[0] = 1;
  g->transientIdx = -1;
  g->numNoiseEnv = 1;
  g->noiseBorders[0] = 0;
  g->noiseBorders[1] = T;
}

namespace {

int ceilLog2(int v) {  // bits to code 0 .. v - 1
  int n = 0;
  while ((1 << n) < v) n++;
  return n;
}

}  // namespace

int sbrReadFrameGrid(SbrGrid* g, SbrBitReader* br, int T) {
  if (T != 15 && T != 16) return 0;
  SbrGrid n;
  n.frameClass = static_cast<int>(sbrReadBits(br, 2));
  int ptr = 0;
  int rel[MAX_ENVELOPES];
  switch (n.frameClass) {
    case 0: {  // FIXFIX
      int e = 1 << sbrReadBits(br, 2);
      if (e > 4) return 0;
      int res = static_cast<int>(sbrReadBits(br, 1));
      n.numEnv = e;
      for (int i = 0; i <= e; i++) n.borders[i] = (i == e) ? T : (i * T) / e;
      if (e == 2) n.borders[1] = 8;
      if (e == 4) {
        n.borders[1] = 4;
        n.borders[2] = 8;
        n.borders[3] = 12;
      }
      for (int i = 0; i < e; i++) n.freqRes[i] = res;
      n.transientIdx = -1;
      n.numNoiseEnv = e > 1 ? 2 : 1;
      n.noiseBorders[0] = 0;
      if (e > 1) {
        n.noiseBorders[1] = 8;
        n.noiseBorders[2] = T;
      } else {
        n.noiseBorders[1] = T;
      }
      *g = n;
      return 1;
    }
    case 1: {  // FIXVAR
      int absB = static_cast<int>(sbrReadBits(br, 2)) + T;
      int r = static_cast<int>(sbrReadBits(br, 2));
      n.numEnv = r + 1;
      for (int i = 0; i < r; i++) rel[i] = 2 * static_cast<int>(sbrReadBits(br, 2)) + 2;
      ptr = static_cast<int>(sbrReadBits(br, ceilLog2(n.numEnv + 1)));
      for (int i = 0; i < n.numEnv; i++) n.freqRes[n.numEnv - 1 - i] = static_cast<int>(sbrReadBits(br, 1));
      n.borders[0] = 0;
      n.borders[n.numEnv] = absB;
      for (int i = 0; i < r; i++) n.borders[n.numEnv - 1 - i] = n.borders[n.numEnv - i] - rel[i];
      break;
    }
    case 2: {  // VARFIX
      int absB = static_cast<int>(sbrReadBits(br, 2));
      int r = static_cast<int>(sbrReadBits(br, 2));
      n.numEnv = r + 1;
      for (int i = 0; i < r; i++) rel[i] = 2 * static_cast<int>(sbrReadBits(br, 2)) + 2;
      ptr = static_cast<int>(sbrReadBits(br, ceilLog2(n.numEnv + 1)));
      for (int i = 0; i < n.numEnv; i++) n.freqRes[i] = static_cast<int>(sbrReadBits(br, 1));
      n.borders[0] = absB;
      for (int i = 0; i < r; i++) n.borders[i + 1] = n.borders[i] + rel[i];
      n.borders[n.numEnv] = T;
      break;
    }
    default: {  // VARVAR
      int abs0 = static_cast<int>(sbrReadBits(br, 2));
      int abs1 = static_cast<int>(sbrReadBits(br, 2)) + T;
      int r0 = static_cast<int>(sbrReadBits(br, 2));
      int r1 = static_cast<int>(sbrReadBits(br, 2));
      n.numEnv = r0 + r1 + 1;
      if (n.numEnv > MAX_ENVELOPES) return 0;
      int rel0[4], rel1[4];
      for (int i = 0; i < r0; i++) rel0[i] = 2 * static_cast<int>(sbrReadBits(br, 2)) + 2;
      for (int i = 0; i < r1; i++) rel1[i] = 2 * static_cast<int>(sbrReadBits(br, 2)) + 2;
      ptr = static_cast<int>(sbrReadBits(br, ceilLog2(n.numEnv + 1)));
      for (int i = 0; i < n.numEnv; i++) n.freqRes[i] = static_cast<int>(sbrReadBits(br, 1));
      n.borders[0] = abs0;
      n.borders[n.numEnv] = abs1;
      for (int i = 0; i < r0; i++) n.borders[i + 1] = n.borders[i] + rel0[i];
      for (int i = 0; i < r1; i++) n.borders[n.numEnv - 1 - i] = n.borders[n.numEnv - i] - rel1[i];
      break;
    }
  }
  if (ptr > n.numEnv) return 0;
  if (n.frameClass == 2)
    n.transientIdx = ptr <= 1 ? -1 : ptr - 1;
  else
    n.transientIdx = ptr == 0 ? -1 : n.numEnv + 1 - ptr;
  n.numNoiseEnv = n.numEnv > 1 ? 2 : 1;
  n.noiseBorders[0] = n.borders[0];
  if (n.numEnv > 1) {
    int mid;
    if (n.frameClass == 2) {
      if (ptr == 0)
        mid = n.borders[1];
      else if (ptr == 1)
        mid = n.borders[n.numEnv - 1];
      else
        mid = n.borders[n.transientIdx];
    } else {
      mid = ptr <= 1 ? n.borders[n.numEnv - 1] : n.borders[n.transientIdx];
    }
    n.noiseBorders[1] = mid;
    n.noiseBorders[2] = n.borders[n.numEnv];
  } else {
    n.noiseBorders[1] = n.borders[1];
  }
  *g = n;
  return 1;
}

int sbrCheckFrameGrid(const SbrGrid* g, int prevStopPos, int T, int prevFrameError) {
  if (T != 15 && T != 16) return 0;
  if (g->numEnv < 1 || g->numEnv > MAX_ENVELOPES) return 0;
  if (g->numNoiseEnv < 1 || g->numNoiseEnv > MAX_NOISE_ENVELOPES) return 0;
  int first = g->borders[0], last = g->borders[g->numEnv];
  if (first >= last) return 0;
  if (last < T || last > T + 3) return 0;
  if (!prevFrameError) {
    if (first != prevStopPos - T) return 0;
  } else if (first < 0 || first > 3) {
    return 0;
  }
  for (int i = 0; i < g->numEnv; i++)
    if (g->borders[i] >= g->borders[i + 1]) return 0;
  if (g->transientIdx > g->numEnv) return 0;
  if (g->numEnv == 1 && g->numNoiseEnv > 1) return 0;
  if (g->noiseBorders[0] != first || g->noiseBorders[g->numNoiseEnv] != last) return 0;
  for (int i = 0; i < g->numNoiseEnv; i++)
    if (g->noiseBorders[i] >= g->noiseBorders[i + 1]) return 0;
  for (int i = 0; i <= g->numNoiseEnv; i++) {
    bool found = false;
    for (int j = 0; j <= g->numEnv; j++)
      if (g->borders[j] == g->noiseBorders[i]) found = true;
    if (!found) return 0;
  }
  return 1;
}

// ---------------------------------------------------------------- element data

namespace {

void readDirections(SbrFrameData* fd, SbrBitReader* br) {
  for (int i = 0; i < fd->grid.numEnv; i++) fd->domainVec[i] = static_cast<int>(sbrReadBits(br, 1));
  for (int i = 0; i < fd->grid.numNoiseEnv; i++) fd->domainVecNoise[i] = static_cast<int>(sbrReadBits(br, 1));
}

void readInvf(SbrFrameData* fd, SbrBitReader* br) {
  for (int i = 0; i < fd->nInvfBands && i < MAX_NOISE_COEFFS; i++)
    fd->invfMode[i] = static_cast<int>(sbrReadBits(br, 2));
}

int readEnvelope(const SbrHeader* h, SbrFrameData* fd, SbrBitReader* br) {
  const SbrGrid& g = fd->grid;
  int ampRes = h->ampRes;
  if (g.frameClass == 0 && g.numEnv == 1) ampRes = 0;
  fd->ampResEff = ampRes;
  int total = 0;
  for (int e = 0; e < g.numEnv; e++) total += fd->nBands[g.freqRes[e]];
  if (total > MAX_ENV_VALUES) return 0;
  fd->numEnvValues = total;
  bool bal = fd->coupling == 2;
  int scale = bal ? 2 : 1;
  sbrtab::HuffTree tTab, fTab;
  int startBits;
  if (ampRes == 0) {
    tTab = bal ? sbrtab::sbrHuff_t_huffman_env_bal_1_5dB : sbrtab::sbrHuff_t_huffman_env_1_5dB;
    fTab = bal ? sbrtab::sbrHuff_f_huffman_env_bal_1_5dB : sbrtab::sbrHuff_f_huffman_env_1_5dB;
    startBits = bal ? 6 : 7;
  } else {
    tTab = bal ? sbrtab::sbrHuff_t_huffman_env_bal_3_0dB : sbrtab::sbrHuff_t_huffman_env_3_0dB;
    fTab = bal ? sbrtab::sbrHuff_f_huffman_env_bal_3_0dB : sbrtab::sbrHuff_f_huffman_env_3_0dB;
    startBits = bal ? 5 : 6;
  }
  int pos = 0;
  for (int e = 0; e < g.numEnv; e++) {
    int nb = fd->nBands[g.freqRes[e]];
    if (fd->domainVec[e] == 0) {
      fd->env[pos++] = static_cast<float>(static_cast<int>(sbrReadBits(br, startBits)) * scale);
      for (int b = 1; b < nb; b++) fd->env[pos++] = static_cast<float>(sbrDecodeHuffman(br, fTab) * scale);
    } else {
      for (int b = 0; b < nb; b++) fd->env[pos++] = static_cast<float>(sbrDecodeHuffman(br, tTab) * scale);
    }
  }
  return 1;
}

void readNoise(SbrFrameData* fd, SbrBitReader* br) {
  bool bal = fd->coupling == 2;
  int scale = bal ? 2 : 1;
  sbrtab::HuffTree tTab = bal ? sbrtab::sbrHuff_t_huffman_noise_bal_3_0dB : sbrtab::sbrHuff_t_huffman_noise_3_0dB;
  sbrtab::HuffTree fTab = bal ? sbrtab::sbrHuff_f_huffman_env_bal_3_0dB : sbrtab::sbrHuff_f_huffman_env_3_0dB;
  for (int e = 0; e < fd->grid.numNoiseEnv; e++) {
    for (int b = 0; b < fd->nNoiseBands; b++) {
      int v;
      if (fd->domainVecNoise[e] == 0)
        v = b == 0 ? static_cast<int>(sbrReadBits(br, 5)) : sbrDecodeHuffman(br, fTab);
      else
        v = sbrDecodeHuffman(br, tTab);
      fd->noise[e][b] = static_cast<float>(v * scale);
    }
  }
}

void readSinusoidal(SbrFrameData* fd, SbrBitReader* br) {
  std::memset(fd->addHarmonic, 0, sizeof(fd->addHarmonic));
  if (sbrReadBits(br, 1))
    for (int i = 0; i < fd->nBands[1]; i++) fd->addHarmonic[i] = static_cast<int>(sbrReadBits(br, 1));
}

void readExtendedData(SbrHeader* h, SbrBitReader* br, PsDec* ps) {
  if (!sbrReadBits(br, 1)) return;
  int cnt = static_cast<int>(sbrReadBits(br, 4));
  if (cnt == 15) cnt += static_cast<int>(sbrReadBits(br, 8));
  int bitsLeft = 8 * cnt;
  if (bitsLeft > sbrBitsLeft(br)) {
    bitsLeft = sbrBitsLeft(br) > 0 ? sbrBitsLeft(br) : 0;
    h->frameError = 1;
  }
  while (bitsLeft > 7) {
    int id = static_cast<int>(sbrReadBits(br, 2));
    bitsLeft -= 2;
    if (id == 2 && ps) {
      bitsLeft -= psReadData(ps, br, bitsLeft);
    } else {
      int skip = bitsLeft / 8;
      for (int i = 0; i < skip; i++) sbrReadBits(br, 8);
      bitsLeft -= 8 * skip;
    }
  }
  if (bitsLeft < 0) {
    h->frameError = 1;
  } else {
    sbrReadBits(br, bitsLeft);
  }
}

int readGrid(SbrFrameData* fd, SbrBitReader* br, const SbrHeader* h) {
  SbrGrid g;
  if (!sbrReadFrameGrid(&g, br, fd->numTimeSlots)) return 0;
  if (!sbrCheckFrameGrid(&g, fd->stopPos, fd->numTimeSlots, h->prevFrameError)) return 0;
  fd->grid = g;
  return 1;
}

}  // namespace

int sbrReadSingleChannelElement(SbrHeader* h, SbrFrameData* fd, SbrBitReader* br, int mode, PsDec* ps) {
  if (mode != 0) return 0;
  if (sbrReadBits(br, 1)) sbrReadBits(br, 4);
  fd->coupling = 0;
  if (!readGrid(fd, br, h)) return 0;
  readDirections(fd, br);
  if (fd->domainVec[0] == 0) h->frameError = 0;
  readInvf(fd, br);
  if (!readEnvelope(h, fd, br)) return 0;
  readNoise(fd, br);
  readSinusoidal(fd, br);
  readExtendedData(h, br, ps);
  if (h->lastChannels == 0) h->lastChannels = 1;
  return 1;
}

int sbrReadChannelPairElement(SbrHeader* h, SbrFrameData* fd0, SbrFrameData* fd1, SbrBitReader* br, int mode,
                              PsDec* ps) {
  if (mode != 0) return 0;
  if (sbrReadBits(br, 1)) {
    sbrReadBits(br, 4);
    sbrReadBits(br, 4);
  }
  int coupling = static_cast<int>(sbrReadBits(br, 1));
  fd0->coupling = coupling ? 1 : 0;
  fd1->coupling = coupling ? 2 : 0;
  if (!readGrid(fd0, br, h)) return 0;
  if (coupling) {
    fd1->grid = fd0->grid;
  } else if (!readGrid(fd1, br, h)) {
    return 0;
  }
  readDirections(fd0, br);
  readDirections(fd1, br);
  if (fd0->domainVec[0] == 0 && fd1->domainVec[0] == 0) h->frameError = 0;
  if (coupling) {
    readInvf(fd0, br);
    std::memcpy(fd1->invfMode, fd0->invfMode, sizeof(fd0->invfMode));
    if (!readEnvelope(h, fd0, br)) return 0;
    readNoise(fd0, br);
    if (!readEnvelope(h, fd1, br)) return 0;
    readNoise(fd1, br);
  } else {
    readInvf(fd0, br);
    readInvf(fd1, br);
    if (!readEnvelope(h, fd0, br)) return 0;
    if (!readEnvelope(h, fd1, br)) return 0;
    readNoise(fd0, br);
    readNoise(fd1, br);
  }
  readSinusoidal(fd0, br);
  readSinusoidal(fd1, br);
  readExtendedData(h, br, ps);
  h->lastChannels = 2;
  return 1;
}

int sbrCheckCrc(SbrBitReader* br, int numBits) {
  uint32_t expected = sbrReadBits(br, 10);
  int left = sbrBitsLeft(br);
  int n = numBits < left ? numBits : left;
  if (n < 0) n = 0;
  SbrBitReader r = *br;
  uint32_t crc = 0;
  for (int i = 0; i < n; i++) {
    uint32_t bit = sbrReadBits(&r, 1);
    uint32_t top = (crc >> 9) & 1u;
    crc = (crc << 1) & 0x3FFu;
    if (top ^ bit) crc ^= 0x233u & 0x3FFu;
  }
  return (crc & 0x3FFu) == expected ? 1 : 0;
}
