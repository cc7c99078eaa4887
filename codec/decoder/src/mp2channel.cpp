// Channel elements and spectral tools of the AAC-LC core.
#include "mp2channel.h"

#include <cmath>
#include <cstring>

#include "aactables.h"
#include "cubuffer_c.h"

namespace {

const double kPi = 3.14159265358979323846;

inline int32_t rd(AacBitstream* bs, int n) { return static_cast<int32_t>(aacReadBits(bs, 0, n)); }

// 2^(0.25 x (i - 100)) for a scale factor i of 0..255.
struct GainTable {
  float v[256];
  GainTable() {
    for (int i = 0; i < 256; ++i) v[i] = static_cast<float>(std::pow(2.0, 0.25 * (i - 100)));
  }
};
const GainTable& gains() {
  static const GainTable t;
  return t;
}

// sign(q) x min(|q|, 8191)^(4/3) for |q| up to 8191 plus what four pulses
// of amplitude 15 can add, so that dequantisation needs no clamp.
const int kMaxQuant = kAacInvQuantSize - 1 + 64;
struct SignedInvQuant {
  float v[2 * kMaxQuant + 1];
  SignedInvQuant() {
    const float* t = aacInvQuantTable();
    for (int i = 0; i <= kMaxQuant; ++i) {
      const float a = t[i < kAacInvQuantSize ? i : kAacInvQuantSize - 1];
      v[kMaxQuant + i] = a;
      v[kMaxQuant - i] = -a;
    }
  }
};
const SignedInvQuant& signedInvQuant() {
  static const SignedInvQuant t;
  return t;
}

// Highest limit of any scale factor, noise energy or intensity position kept
// after the offset: values outside this range are refused, so that band gains
// stay finite.
const int kMaxStoredScale = 155;
const int kMinStoredScale = -100;

void setupIcs(AacIcsInfo* ics, const AacChannelContext* ctx) {
  const AacRateTables& t = kAacRateTables[ctx->samplingFrequencyIndex];
  const bool is960 = ctx->frameLength == 960;
  if (ics->windowSequence == AAC_EIGHT_SHORT) {
    ics->numWindows = 8;
    ics->swbOffset = is960 ? t.short120 : t.short128;
    ics->numSwb = is960 ? t.numShort120 : t.numShort128;
    ics->windowLength = ctx->frameLength / 8;
    ics->tnsMaxBands = t.tnsMaxBandsShort;
    ics->numWindowGroups = 1;
    ics->windowGroupLength[0] = 1;
    for (int w = 1; w < 8; ++w) {
      if (ics->scaleFactorGrouping & (1 << (6 - (w - 1)))) {
        ics->windowGroupLength[ics->numWindowGroups - 1]++;
      } else {
        ics->windowGroupLength[ics->numWindowGroups++] = 1;
      }
    }
  } else {
    ics->numWindows = 1;
    ics->swbOffset = is960 ? t.long960 : t.long1024;
    ics->numSwb = is960 ? t.numLong960 : t.numLong1024;
    ics->windowLength = ctx->frameLength;
    ics->tnsMaxBands = t.tnsMaxBandsLong;
    ics->numWindowGroups = 1;
    ics->windowGroupLength[0] = 1;
  }
  if (ics->tnsMaxBands > ics->numSwb) ics->tnsMaxBands = ics->numSwb;
}

// ICS info. Fails on prediction (not an LC tool) and on a maximum band
// beyond the layout's band count.
int32_t readIcsInfo(AacIcsInfo* ics, AacBitstream* bs, const AacChannelContext* ctx) {
  rd(bs, 1);  // reserved bit
  ics->windowSequence = rd(bs, 2);
  ics->windowShape = rd(bs, 1);
  if (ics->windowSequence == AAC_EIGHT_SHORT) {
    ics->maxSfb = rd(bs, 4);
    ics->scaleFactorGrouping = rd(bs, 7);
  } else {
    ics->maxSfb = rd(bs, 6);
    ics->scaleFactorGrouping = 0;
    if (rd(bs, 1)) return AAC_ERR_PREDICTION;
  }
  setupIcs(ics, ctx);
  if (ics->maxSfb > ics->numSwb) return AAC_ERR_CHANNEL_STREAM;
  return 0;
}

int32_t readSectionData(AacChannel* ch, AacBitstream* bs) {
  const AacIcsInfo& ics = ch->ics;
  const bool isShort = ics.windowSequence == AAC_EIGHT_SHORT;
  const int lenBits = isShort ? 3 : 5;
  const int32_t esc = (1 << lenBits) - 1;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    int k = 0;
    while (k < ics.maxSfb) {
      const int cb = rd(bs, 4);
      if (cb == 12) return AAC_ERR_RESERVED_CODEBOOK;
      int len = 0, incr;
      do {
        incr = rd(bs, lenBits);
        len += incr;
        if (len > AAC_MAX_SFB) return AAC_ERR_CHANNEL_STREAM;
      } while (incr == esc);
      if (len == 0) len = 1;
      // A section may not run past the maximum band.
      if (k + len > ics.maxSfb) return AAC_ERR_CHANNEL_STREAM;
      for (int s = k; s < k + len; ++s) ch->sfbCb[g][s] = static_cast<uint8_t>(cb);
      k += len;
    }
    for (int s = ics.maxSfb; s < AAC_MAX_SFB; ++s) ch->sfbCb[g][s] = AAC_ZERO_HCB;
  }
  return 0;
}

int32_t readScaleFactors(AacChannel* ch, AacBitstream* bs) {
  const AacIcsInfo& ics = ch->ics;
  int32_t sf = ch->globalGain;
  int32_t noise = ch->globalGain - 90;
  int32_t isPos = 0;
  bool firstNoise = true;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    for (int s = 0; s < ics.maxSfb; ++s) {
      switch (ch->sfbCb[g][s]) {
        case AAC_ZERO_HCB:
          ch->sf[g][s] = 0;
          break;
        case AAC_INTENSITY_HCB:
        case AAC_INTENSITY_HCB2:
          isPos += aacDecodeHuffman(bs, &kAacScalefactorBook) - 60;
          if (isPos < -255 || isPos > 255) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(isPos);
          break;
        case AAC_NOISE_HCB:
          if (firstNoise) {
            noise += rd(bs, 9) - 256;
            firstNoise = false;
          } else {
            noise += aacDecodeHuffman(bs, &kAacScalefactorBook) - 60;
          }
          if (noise - 100 < kMinStoredScale || noise - 100 > kMaxStoredScale) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(noise - 100);
          break;
        default:
          sf += aacDecodeHuffman(bs, &kAacScalefactorBook) - 60;
          if (sf < 0 || sf > 255) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(sf - 100);
          break;
      }
    }
  }
  return 0;
}

int32_t readPulseData(AacChannel* ch, AacBitstream* bs) {
  AacPulseData& p = ch->pulse;
  p.count = rd(bs, 2) + 1;
  p.startSfb = rd(bs, 6);
  for (int i = 0; i < p.count; ++i) {
    p.offset[i] = rd(bs, 5);
    p.amp[i] = rd(bs, 4);
  }
  // Pulses only on long windows, starting inside the layout.
  if (ch->ics.windowSequence == AAC_EIGHT_SHORT) return AAC_ERR_CHANNEL_STREAM;
  if (p.startSfb >= ch->ics.numSwb) return AAC_ERR_CHANNEL_STREAM;
  int k = ch->ics.swbOffset[p.startSfb];
  for (int i = 0; i < p.count; ++i) {
    k += p.offset[i];
    if (k >= ch->ics.windowLength) return AAC_ERR_CHANNEL_STREAM;
  }
  return 0;
}

int32_t readTnsData(AacChannel* ch, AacBitstream* bs) {
  const bool isShort = ch->ics.windowSequence == AAC_EIGHT_SHORT;
  AacTnsData& t = ch->tns;
  for (int w = 0; w < ch->ics.numWindows; ++w) {
    t.numFilters[w] = rd(bs, isShort ? 1 : 2);
    if (!t.numFilters[w]) continue;
    t.coefRes[w] = rd(bs, 1);
    for (int f = 0; f < t.numFilters[w]; ++f) {
      AacTnsFilter& flt = t.filter[w][f];
      flt.length = rd(bs, isShort ? 4 : 6);
      flt.order = rd(bs, isShort ? 3 : 5);
      if (flt.order > (isShort ? 7 : 20)) return AAC_ERR_TNS_ORDER;
      if (flt.order) {
        flt.direction = rd(bs, 1);
        flt.coefCompress = rd(bs, 1);
        const int bits = t.coefRes[w] + 3 - flt.coefCompress;
        for (int i = 0; i < flt.order; ++i) {
          int v = rd(bs, bits);
          if (v & (1 << (bits - 1))) v -= 1 << bits;
          flt.coef[i] = static_cast<int8_t>(v);
        }
      }
    }
  }
  return 0;
}

// The tuples of every spectral book unpacked once: the values of each
// symbol and how many of them are non-zero (the sign bits that follow).
struct UnpackedBooks {
  int8_t values[12][289][4];
  uint8_t nonzero[12][289];
  UnpackedBooks() {
    for (int cb = 1; cb <= 11; ++cb) {
      const AacHuffmanBook& b = kAacSpectralBooks[cb];
      const int m = b.modulo;
      for (int idx = 0; idx < b.size; ++idx) {
        int v[4];
        if (b.dimension == 4) {
          v[0] = idx / (m * m * m) - b.valueOffset;
          v[1] = (idx / (m * m)) % m - b.valueOffset;
          v[2] = (idx / m) % m - b.valueOffset;
          v[3] = idx % m - b.valueOffset;
        } else {
          v[0] = idx / m - b.valueOffset;
          v[1] = idx % m - b.valueOffset;
          v[2] = v[3] = 0;
        }
        int nz = 0;
        for (int i = 0; i < 4; ++i) {
          values[cb][idx][i] = static_cast<int8_t>(v[i]);
          nz += v[i] != 0;
        }
        nonzero[cb][idx] = static_cast<uint8_t>(nz);
      }
    }
  }
};

const UnpackedBooks& unpackedBooks() {
  static const UnpackedBooks books;
  return books;
}

// The look-ahead reader's cache held in locals while the spectral data is
// read (the hot loop of the decoder); written back when done. Same bits,
// same refills as aacReadBits in look-ahead mode.
struct LocalBits {
  AacBitstream* bs;
  uint32_t cache;
  int bits;
  explicit LocalBits(AacBitstream* b) : bs(b), cache(b->lookAheadCache), bits(b->lookAheadBits) {}
  void writeBack() {
    bs->lookAheadCache = cache;
    bs->lookAheadBits = bits;
  }
  // n <= 16
  uint32_t read(int n) {
    if (bits < n) {
      cache = (cache << 16) | bs->read(bs, 16);
      bits += 16;
    }
    bits -= n;
    return (cache >> bits) & ((1u << n) - 1);
  }
  int huffman(const uint32_t* tree) {
    uint32_t node = 0;
    for (int step = 0; step < 5; ++step) {
      if (bits < 4) {
        cache = (cache << 16) | bs->read(bs, 16);
        bits += 16;
      }
      const uint32_t e = tree[node * 16 + ((cache >> (bits - 4)) & 15)];
      const int used = static_cast<int>(e >> 16);
      if (used) {
        bits -= used;
        return static_cast<int>(e & 0xFFFF);
      }
      bits -= 4;
      node = e & 0xFFFF;
    }
    return 0;  // not reached for a complete code
  }
};

// The generic reader behind the same two operations (any reader mode).
struct GenericBits {
  AacBitstream* bs;
  explicit GenericBits(AacBitstream* b) : bs(b) {}
  void writeBack() {}
  uint32_t read(int n) { return aacReadBits(bs, 0, n); }
  int huffman(const uint32_t* tree) {
    uint32_t node = 0;
    for (int step = 0; step < 5; ++step) {
      const uint32_t e = tree[node * 16 + aacPeekBits(bs, 4)];
      const int used = static_cast<int>(e >> 16);
      if (used) {
        aacSkipPeeked(bs, used);
        return static_cast<int>(e & 0xFFFF);
      }
      aacSkipPeeked(bs, 4);
      node = e & 0xFFFF;
    }
    return 0;
  }
};

// Reads the escape of a codebook-11 magnitude 16: N starts at 4 and grows
// by one per leading 1 bit; escapes longer than 12 bits (above 8191) fail.
template <class Bits>
inline bool readEscape(Bits& r, int32_t* value) {
  int n = 4;
  while (r.read(1)) {
    if (++n > 12) return false;
  }
  const int32_t v = (1 << n) + static_cast<int32_t>(r.read(n));
  *value = *value < 0 ? -v : v;
  return true;
}

// Spectral data, window-major (window w at w x windowLength). With Direct,
// the lines go straight into ch->spec, inverse-quantised and scaled (with
// the inverse transform's 1/M folded into the band gain), and every line
// that is not coded becomes zero. Otherwise the quantised values go to
// ctx->q (only lines of coded bands are written) for pulses to be added and
// dequantise() to finish.
template <bool Direct, class Bits>
int32_t readSpectralLines(AacChannel* ch, Bits& r, AacChannelContext* ctx) {
  const AacIcsInfo& ics = ch->ics;
  const UnpackedBooks& ub = unpackedBooks();
  const float* invq = signedInvQuant().v + kMaxQuant;
  const float* gain = gains().v;
  const float invM = 1.0f / static_cast<float>(ics.windowLength);
  int32_t* q = ctx->q;
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      const int cb = ch->sfbCb[g][s];
      const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
      if (cb == AAC_ZERO_HCB || cb >= AAC_NOISE_HCB) {
        if (Direct)
          for (int w = 0; w < groupLen; ++w) decZeroFloats(ch->spec + (win + w) * ics.windowLength + start, end - start);
        continue;
      }
      const AacHuffmanBook& book = kAacSpectralBooks[cb];
      const uint32_t* tree = book.tree;
      const int8_t(*values)[4] = ub.values[cb];
      const uint8_t* nonzero = ub.nonzero[cb];
      const float scale = Direct ? gain[ch->sf[g][s] + 100] * invM : 0.0f;
      for (int w = 0; w < groupLen; ++w) {
        const int base = (win + w) * ics.windowLength;
        int32_t* dst = q + base;
        float* fx = ch->spec + base;
        if (!book.isUnsigned) {
          if (book.dimension == 4) {
            for (int k = start; k < end; k += 4) {
              const int8_t* v = values[r.huffman(tree)];
              if (Direct) {
                fx[k] = invq[v[0]] * scale;
                fx[k + 1] = invq[v[1]] * scale;
                fx[k + 2] = invq[v[2]] * scale;
                fx[k + 3] = invq[v[3]] * scale;
              } else {
                dst[k] = v[0];
                dst[k + 1] = v[1];
                dst[k + 2] = v[2];
                dst[k + 3] = v[3];
              }
            }
          } else {
            for (int k = start; k < end; k += 2) {
              const int8_t* v = values[r.huffman(tree)];
              if (Direct) {
                fx[k] = invq[v[0]] * scale;
                fx[k + 1] = invq[v[1]] * scale;
              } else {
                dst[k] = v[0];
                dst[k + 1] = v[1];
              }
            }
          }
          continue;
        }
        const int dim = book.dimension;
        for (int k = start; k < end; k += dim) {
          const int idx = r.huffman(tree);
          const int8_t* v = values[idx];
          int nz = nonzero[idx];
          const uint32_t signs = nz ? r.read(nz) : 0;
          int32_t x[4];
          for (int i = 0; i < dim; ++i) {
            x[i] = v[i];
            if (x[i] && ((signs >> --nz) & 1)) x[i] = -x[i];
          }
          if (book.escape) {
            if ((x[0] == 16 || x[0] == -16) && !readEscape(r, &x[0])) return AAC_ERR_CHANNEL_STREAM;
            if ((x[1] == 16 || x[1] == -16) && !readEscape(r, &x[1])) return AAC_ERR_CHANNEL_STREAM;
          }
          for (int i = 0; i < dim; ++i) {
            if (Direct) {
              fx[k + i] = invq[x[i]] * scale;
            } else {
              dst[k + i] = x[i];
            }
          }
        }
      }
    }
    if (Direct) {
      const int top = ics.swbOffset[ics.maxSfb];
      for (int w = 0; w < groupLen; ++w)
        decZeroFloats(ch->spec + (win + w) * ics.windowLength + top, ics.windowLength - top);
    }
    win += groupLen;
  }
  return 0;
}

template <bool Direct>
int32_t readSpectralData(AacChannel* ch, AacBitstream* bs, AacChannelContext* ctx) {
  if (bs->mode == kAacReaderLookAhead) {
    LocalBits r(bs);
    const int32_t res = readSpectralLines<Direct>(ch, r, ctx);
    r.writeBack();
    return res;
  }
  GenericBits r(bs);
  return readSpectralLines<Direct>(ch, r, ctx);
}

// Inverse quantisation and scaling into ch->spec, with the inverse
// transform's 1/M folded into the band gain. Lines of uncoded bands (zero,
// noise, intensity) and above the maximum band become zero.
void dequantise(AacChannel* ch, const AacChannelContext* ctx) {
  const AacIcsInfo& ics = ch->ics;
  const int32_t* q = ctx->q;
  const float* invq = signedInvQuant().v + kMaxQuant;
  const float* gain = gains().v;
  const float invM = 1.0f / static_cast<float>(ics.windowLength);
  const int top = ics.swbOffset[ics.maxSfb];
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int w = 0; w < groupLen; ++w) {
      const int base = (win + w) * ics.windowLength;
      float* x = ch->spec + base;
      const int32_t* qq = q + base;
      for (int s = 0; s < ics.maxSfb; ++s) {
        const int cb = ch->sfbCb[g][s];
        const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
        if (cb == AAC_ZERO_HCB || cb >= AAC_NOISE_HCB) {
          decZeroFloats(x + start, end - start);
          continue;
        }
        const float scale = gain[ch->sf[g][s] + 100] * invM;
        for (int k = start; k < end; ++k) {
          // |q| is at most 8191 plus pulses; the table caps it at 8191.
          x[k] = invq[qq[k]] * scale;
        }
      }
      decZeroFloats(x + top, ics.windowLength - top);
    }
    win += groupLen;
  }
}

// Reads one individual channel stream (ICS info already read when shared)
// and reconstructs its quantised spectrum. spectralLimit is the bit budget
// of the spectral data.
int32_t readChannelStream(AacChannel* ch, AacBitstream* bs, AacChannelContext* ctx, bool commonWindow,
                          int32_t spectralLimit, int32_t* spectralUsed) {
  ch->globalGain = rd(bs, 8);
  if (!commonWindow) {
    const int32_t r = readIcsInfo(&ch->ics, bs, ctx);
    if (r == AAC_ERR_PREDICTION) return r;
    if (r) return AAC_ERR_CHANNEL_STREAM;
  }
  int32_t r = readSectionData(ch, bs);
  if (r == AAC_ERR_RESERVED_CODEBOOK) return r;
  if (r) return AAC_ERR_CHANNEL_STREAM;
  if (readScaleFactors(ch, bs)) return AAC_ERR_CHANNEL_STREAM;
  ch->pulse.present = rd(bs, 1);
  if (ch->pulse.present && readPulseData(ch, bs)) return AAC_ERR_CHANNEL_STREAM;
  ch->tns.present = rd(bs, 1);
  if (ch->tns.present) {
    r = readTnsData(ch, bs);
    if (r) return r;
  }
  if (rd(bs, 1)) return AAC_ERR_RESERVED_CODEBOOK;  // gain control (SSR) is not supported
  const int32_t before = aacGetBitsUsed(bs);
  // Without pulses the spectrum is reconstructed while it is read.
  r = ch->pulse.present ? readSpectralData<false>(ch, bs, ctx) : readSpectralData<true>(ch, bs, ctx);
  if (r) return r;
  const int32_t used = aacGetBitsUsed(bs) - before;
  if (used > spectralLimit) return AAC_ERR_CHANNEL_STREAM;
  if (spectralUsed) *spectralUsed = used;
  if (ch->pulse.present) {
    int k = ch->ics.swbOffset[ch->pulse.startSfb];
    for (int i = 0; i < ch->pulse.count; ++i) {
      k += ch->pulse.offset[i];
      if (ctx->q[k] > 0) ctx->q[k] += ch->pulse.amp[i];
      else ctx->q[k] -= ch->pulse.amp[i];
    }
    dequantise(ch, ctx);
  }
  ch->concealed = 0;
  return 0;
}

inline uint32_t nextRandom(uint32_t s) { return s * 1664525u + 1013904223u; }

// Fills the noise bands of a channel. With `shared` (the left channel of a
// pair) bands flagged in msUsed that are noise in both channels reuse the
// left channel's random state, so both channels get the same noise.
void noiseSubstitution(AacChannel* ch, const AacChannel* left, const uint8_t (*msUsed)[AAC_MAX_SFB]) {
  const AacIcsInfo& ics = ch->ics;
  const float invM = 1.0f / static_cast<float>(ics.windowLength);
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      if (ch->sfbCb[g][s] != AAC_NOISE_HCB) continue;
      const bool correlated = left && msUsed && msUsed[g][s] && left->sfbCb[g][s] == AAC_NOISE_HCB;
      uint32_t state = correlated ? left->noiseState[g][s] : ch->randomState;
      ch->noiseState[g][s] = state;
      const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
      // The band's energy is 2^(0.5 x noise energy), the energy being kept
      // without the scale factors' offset of 100.
      const double target = std::pow(2.0, 0.25 * (ch->sf[g][s] + 100));
      for (int w = 0; w < groupLen; ++w) {
        float* x = ch->spec + (win + w) * ics.windowLength;
        double energy = 0.0;
        for (int k = start; k < end; ++k) {
          state = nextRandom(state);
          const float v = static_cast<float>(static_cast<int32_t>(state));
          x[k] = v;
          energy += static_cast<double>(v) * v;
        }
        const float scale = energy > 0.0 ? static_cast<float>(target / std::sqrt(energy)) * invM : 0.0f;
        for (int k = start; k < end; ++k) x[k] *= scale;
      }
      if (!correlated) ch->randomState = state;
    }
    win += groupLen;
  }
}

void midSide(AacElement* e) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  const AacIcsInfo& ics = l->ics;
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      if (!e->msUsed[g][s]) continue;
      const int cbl = l->sfbCb[g][s], cbr = r->sfbCb[g][s];
      const bool noiseL = cbl == AAC_NOISE_HCB, noiseR = cbr == AAC_NOISE_HCB;
      const bool isR = cbr == AAC_INTENSITY_HCB || cbr == AAC_INTENSITY_HCB2;
      if (!noiseL && !noiseR && !isR) {
        const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
        for (int w = 0; w < groupLen; ++w) {
          float* a = l->spec + (win + w) * ics.windowLength;
          float* b = r->spec + (win + w) * ics.windowLength;
          for (int k = start; k < end; ++k) {
            const float m = a[k], sd = b[k];
            a[k] = m + sd;
            b[k] = m - sd;
          }
        }
      }
      if ((noiseL && !noiseR && !isR) || (noiseR && !noiseL)) e->msUsed[g][s] = 0;
    }
    win += groupLen;
  }
}

void intensityStereo(AacElement* e) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  const AacIcsInfo& ics = r->ics;
  int win = 0;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    const int groupLen = ics.windowGroupLength[g];
    for (int s = 0; s < ics.maxSfb; ++s) {
      const int cb = r->sfbCb[g][s];
      if (cb != AAC_INTENSITY_HCB && cb != AAC_INTENSITY_HCB2) continue;
      float scale = static_cast<float>(std::pow(0.5, 0.25 * r->sf[g][s]));
      if (cb == AAC_INTENSITY_HCB2) scale = -scale;
      if (e->msMaskPresent == 1 && e->msUsed[g][s]) scale = -scale;
      const int start = ics.swbOffset[s], end = ics.swbOffset[s + 1];
      for (int w = 0; w < groupLen; ++w) {
        const float* a = l->spec + (win + w) * ics.windowLength;
        float* b = r->spec + (win + w) * ics.windowLength;
        for (int k = start; k < end; ++k) b[k] = a[k] * scale;
      }
    }
    win += groupLen;
  }
}

void applyTns(AacChannel* ch) {
  const AacIcsInfo& ics = ch->ics;
  const AacTnsData& t = ch->tns;
  for (int w = 0; w < ics.numWindows; ++w) {
    float* x = ch->spec + w * ics.windowLength;
    int bottom = ics.numSwb;
    for (int f = 0; f < t.numFilters[w]; ++f) {
      const AacTnsFilter& flt = t.filter[w][f];
      const int top = bottom;
      bottom = top - flt.length;
      if (bottom < 0) bottom = 0;
      const int order = flt.order;
      if (!order) continue;
      // Coefficients to reflection coefficients, then to direct form.
      const int res = t.coefRes[w] + 2;
      const double fpos = ((1 << res) - 0.5) / (kPi / 2.0);
      const double fneg = ((1 << res) + 0.5) / (kPi / 2.0);
      float a[21], b[21];
      a[0] = 1.0f;
      for (int m = 1; m <= order; ++m) {
        const int c = flt.coef[m - 1];
        const float k = static_cast<float>(std::sin(c / (c >= 0 ? fpos : fneg)));
        for (int i = 1; i < m; ++i) b[i] = a[i] + k * a[m - i];
        for (int i = 1; i < m; ++i) a[i] = b[i];
        a[m] = k;
      }
      int lo = bottom < ics.tnsMaxBands ? bottom : ics.tnsMaxBands;
      if (lo > ics.maxSfb) lo = ics.maxSfb;
      int hi = top < ics.tnsMaxBands ? top : ics.tnsMaxBands;
      if (hi > ics.maxSfb) hi = ics.maxSfb;
      const int start = ics.swbOffset[lo], end = ics.swbOffset[hi];
      const int size = end - start;
      if (size <= 0) continue;
      float state[20] = {0};
      int pos = flt.direction ? end - 1 : start;
      const int inc = flt.direction ? -1 : 1;
      for (int n = 0; n < size; ++n, pos += inc) {
        float y = x[pos];
        for (int i = 0; i < order; ++i) y -= a[i + 1] * state[i];
        for (int i = order - 1; i > 0; --i) state[i] = state[i - 1];
        state[0] = y;
        x[pos] = y;
      }
    }
  }
}

// Inverse MDCT of m coefficients into 2m samples (scale already applied).
void imdct(DecDct* dct, const float* in, float* tmp, float* out, int m) {
  decDctRun(dct, in, tmp);
  const int h = m / 2;
  for (int n = 0; n < h; ++n) out[n] = tmp[h + n];
  for (int n = h; n < 3 * h; ++n) out[n] = -tmp[3 * h - 1 - n];
  for (int n = 3 * h; n < 2 * m; ++n) out[n] = -tmp[n - 3 * h];
}

// Non-finite values (possible only from hostile streams) become silence, so
// that they never reach an integer conversion or the next frame's overlap.
void scrubNonFinite(float* x, int n) {
  // A value is not finite when all its exponent bits are set; adding one
  // exponent step then carries into the sign bit. OR-ing that over the
  // block vectorises, so the common all-finite case costs little.
  uint32_t any = 0;
  for (int i = 0; i < n; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &x[i], sizeof(bits));
    any |= (bits & 0x7F800000u) + 0x00800000u;
  }
  if (!(any & 0x80000000u)) return;
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i])) x[i] = 0.0f;
}

void filterBank(AacChannel* ch, int frameLength) {
  const AacIcsInfo& ics = ch->ics;
  const int N = frameLength, Ns = N / 8, off = (N - Ns) / 2;
  const float* wPrev = aacWindowHalf(N, ch->prevWindowShape);
  const float* wCur = aacWindowHalf(N, ics.windowShape);
  const float* sPrev = aacWindowHalf(Ns, ch->prevWindowShape);
  const float* sCur = aacWindowHalf(Ns, ics.windowShape);
  float* x = ch->work;
  float* out = ch->out;
  float* ov = ch->overlap;
  float tmp[1024];
  if (ics.windowSequence == AAC_EIGHT_SHORT) {
    float buf[2048];
    std::memset(buf, 0, sizeof(float) * 2 * N);
    for (int w = 0; w < 8; ++w) {
      imdct(ch->dctShort, ch->spec + w * Ns, tmp, x, Ns);
      const float* rise = w == 0 ? sPrev : sCur;
      float* dst = buf + off + w * Ns;
      for (int n = 0; n < Ns; ++n) dst[n] += x[n] * rise[n];
      for (int n = 0; n < Ns; ++n) dst[Ns + n] += x[Ns + n] * sCur[Ns - 1 - n];
    }
    for (int n = 0; n < N; ++n) out[n] = ov[n] + buf[n];
    std::memcpy(ov, buf + N, sizeof(float) * N);
  } else if (ics.windowSequence == AAC_ONLY_LONG) {
    // The common case, unfolded straight from the DCT-IV output y:
    // x[n] = y[h + n] (n < h), -y[3h - 1 - n] (h <= n < 3h), -y[n - 3h].
    decDctRun(ch->dctLong, ch->spec, tmp);
    const int h = N / 2;
    uint32_t any = 0;
    for (int n = 0; n < h; ++n) {
      const float v = ov[n] + tmp[h + n] * wPrev[n];
      out[n] = v;
      uint32_t b;
      std::memcpy(&b, &v, sizeof(b));
      any |= (b & 0x7F800000u) + 0x00800000u;
    }
    for (int n = h; n < N; ++n) {
      const float v = ov[n] - tmp[3 * h - 1 - n] * wPrev[n];
      out[n] = v;
      uint32_t b;
      std::memcpy(&b, &v, sizeof(b));
      any |= (b & 0x7F800000u) + 0x00800000u;
    }
    for (int n = 0; n < h; ++n) {
      const float v = -tmp[h - 1 - n] * wCur[N - 1 - n];
      ov[n] = v;
      uint32_t b;
      std::memcpy(&b, &v, sizeof(b));
      any |= (b & 0x7F800000u) + 0x00800000u;
    }
    for (int n = h; n < N; ++n) {
      const float v = -tmp[n - h] * wCur[N - 1 - n];
      ov[n] = v;
      uint32_t b;
      std::memcpy(&b, &v, sizeof(b));
      any |= (b & 0x7F800000u) + 0x00800000u;
    }
    if (any & 0x80000000u) {
      scrubNonFinite(out, N);
      scrubNonFinite(ov, N);
    }
    ch->prevWindowShape = ics.windowShape;
    ch->prevWindowSequence = ics.windowSequence;
    return;
  } else {
    imdct(ch->dctLong, ch->spec, tmp, x, N);
    if (ics.windowSequence == AAC_LONG_STOP) {
      for (int n = 0; n < off; ++n) out[n] = ov[n];
      for (int n = 0; n < Ns; ++n) out[off + n] = ov[off + n] + x[off + n] * sPrev[n];
      for (int n = off + Ns; n < N; ++n) out[n] = ov[n] + x[n];
    } else {
      for (int n = 0; n < N; ++n) out[n] = ov[n] + x[n] * wPrev[n];
    }
    if (ics.windowSequence == AAC_LONG_START) {
      for (int n = 0; n < off; ++n) ov[n] = x[N + n];
      for (int n = 0; n < Ns; ++n) ov[off + n] = x[N + off + n] * sCur[Ns - 1 - n];
      for (int n = off + Ns; n < N; ++n) ov[n] = 0.0f;
    } else {
      for (int n = 0; n < N; ++n) ov[n] = x[N + n] * wCur[N - 1 - n];
    }
  }
  scrubNonFinite(out, N);
  scrubNonFinite(ov, N);
  ch->prevWindowShape = ics.windowShape;
  ch->prevWindowSequence = ics.windowSequence;
}

int32_t createChannel(AacChannel** out, const AacChannelContext* ctx) {
  AacChannel* ch = static_cast<AacChannel*>(DEC_CALLOC(1, sizeof(AacChannel)));
  if (!ch) return AAC_ERR_OUT_OF_MEMORY;
  ch->dctLong = decDctCreate(ctx->frameLength);
  ch->dctShort = decDctCreate(ctx->frameLength / 8);
  if (!ch->dctLong || !ch->dctShort) {
    decDctDelete(&ch->dctLong);
    decDctDelete(&ch->dctShort);
    DEC_FREE(ch);
    return AAC_ERR_OUT_OF_MEMORY;
  }
  ch->randomState = 1u;
  *out = ch;
  return 0;
}

void destroyChannel(AacChannel** ch) {
  if (!*ch) return;
  decDctDelete(&(*ch)->dctLong);
  decDctDelete(&(*ch)->dctShort);
  DEC_FREE(*ch);
  *ch = nullptr;
}

// Stores a payload as ancillary entries of at most 1024 bytes each; the
// full chunks of a longer payload are marked 253. A full ancillary area
// does not fail the block.
void storePayload(CuBuffer* cu, int32_t type, const uint8_t* data, int32_t size) {
  if (!cu) return;
  while (size > 1024) {
    cuBufferAddAncillary(cu, CU_ANC_CHUNK, data, 1024);
    data += 1024;
    size -= 1024;
  }
  cuBufferAddAncillary(cu, type, data, size);
}

}  // namespace

int32_t aacElementCreate(AacElement** element, int32_t type, int32_t tag, const AacChannelContext* ctx) {
  if (ctx->frameLength != 1024 && ctx->frameLength != 960) return AAC_ERR_FRAME_LENGTH;
  AacElement* e = static_cast<AacElement*>(DEC_CALLOC(1, sizeof(AacElement)));
  if (!e) return AAC_ERR_OUT_OF_MEMORY;
  e->type = type;
  e->tag = tag;
  e->channels = type == AAC_ELEM_CPE ? 2 : 1;
  for (int i = 0; i < e->channels; ++i) {
    const int32_t r = createChannel(&e->ch[i], ctx);
    if (r) {
      aacElementDestroy(&e);
      return r;
    }
  }
  *element = e;
  return 0;
}

void aacElementDestroy(AacElement** element) {
  if (!element || !*element) return;
  destroyChannel(&(*element)->ch[0]);
  destroyChannel(&(*element)->ch[1]);
  DEC_FREE(*element);
  *element = nullptr;
}

void aacElementReset(AacElement* e) {
  for (int i = 0; i < 2; ++i)
    if (e->ch[i]) {
      std::memset(e->ch[i]->overlap, 0, sizeof(e->ch[i]->overlap));
      e->ch[i]->prevWindowShape = 0;
      e->ch[i]->prevWindowSequence = 0;
    }
}

int32_t aacDecodeSce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  AacChannel* ch = e->ch[0];
  int32_t r = readChannelStream(ch, bs, ctx, false, 6144, nullptr);
  if (r) return r == AAC_ERR_PREDICTION || r == AAC_ERR_RESERVED_CODEBOOK || r == AAC_ERR_TNS_ORDER
                     ? r : AAC_ERR_CHANNEL_STREAM;
  noiseSubstitution(ch, nullptr, nullptr);
  if (ch->tns.present) applyTns(ch);
  filterBank(ch, ctx->frameLength);
  return 0;
}

int32_t aacDecodeCpe(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  e->commonWindow = rd(bs, 1);
  e->msMaskPresent = 0;
  if (e->commonWindow) {
    const int32_t res = readIcsInfo(&l->ics, bs, ctx);
    if (res == AAC_ERR_PREDICTION) return res;
    if (res) return AAC_ERR_COMMON_ICS;
    r->ics = l->ics;
    e->msMaskPresent = rd(bs, 2);
    if (e->msMaskPresent == 1) {
      for (int g = 0; g < l->ics.numWindowGroups; ++g)
        for (int s = 0; s < l->ics.maxSfb; ++s) e->msUsed[g][s] = static_cast<uint8_t>(rd(bs, 1));
    } else if (e->msMaskPresent == 0) {
      std::memset(e->msUsed, 0, sizeof(e->msUsed));
    } else if (e->msMaskPresent == 2) {
      std::memset(e->msUsed, 1, sizeof(e->msUsed));
    }
  }
  int32_t used = 0;
  int32_t res = readChannelStream(l, bs, ctx, e->commonWindow != 0, 12288, &used);
  if (!res) res = readChannelStream(r, bs, ctx, e->commonWindow != 0, 12288 - used, nullptr);
  if (res) return res == AAC_ERR_PREDICTION || res == AAC_ERR_RESERVED_CODEBOOK || res == AAC_ERR_TNS_ORDER
                       ? res : AAC_ERR_CHANNEL_STREAM;
  if (e->commonWindow && e->msMaskPresent) midSide(e);
  noiseSubstitution(l, nullptr, nullptr);
  noiseSubstitution(r, e->commonWindow ? l : nullptr, e->commonWindow && e->msMaskPresent ? e->msUsed : nullptr);
  if (e->commonWindow) intensityStereo(e);
  if (l->tns.present) applyTns(l);
  if (r->tns.present) applyTns(r);
  filterBank(l, ctx->frameLength);
  filterBank(r, ctx->frameLength);
  return 0;
}

int32_t aacParseCce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  const int indSw = rd(bs, 1);
  const int numCoupled = rd(bs, 3);
  int numGainLists = 0;
  for (int c = 0; c <= numCoupled; ++c) {
    ++numGainLists;
    const int isCpe = rd(bs, 1);
    rd(bs, 4);  // target tag
    if (isCpe) {
      const int cl = rd(bs, 1), cr = rd(bs, 1);
      if (cl && cr) ++numGainLists;
    }
  }
  rd(bs, 1);  // coupling domain
  rd(bs, 1);  // gain element sign
  rd(bs, 2);  // gain element scale
  AacChannel* ch = e->ch[0];
  const int32_t r = readChannelStream(ch, bs, ctx, false, 6144, nullptr);
  if (r) return AAC_ERR_CHANNEL_STREAM;
  for (int c = 1; c < numGainLists; ++c) {
    const int cge = indSw ? 1 : rd(bs, 1);
    if (cge) {
      aacDecodeHuffman(bs, &kAacScalefactorBook);
    } else {
      for (int g = 0; g < ch->ics.numWindowGroups; ++g)
        for (int s = 0; s < ch->ics.maxSfb; ++s)
          if (ch->sfbCb[g][s] != AAC_ZERO_HCB) aacDecodeHuffman(bs, &kAacScalefactorBook);
    }
  }
  return 0;
}

int32_t aacReadDataStreamElement(AacBitstream* bs, int32_t tag, CuBuffer* cu) {
  const int align = rd(bs, 1);
  int count = rd(bs, 8);
  if (count == 255) count += rd(bs, 8);
  if (align) aacByteAlign(bs);
  uint8_t data[512];
  for (int i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
  storePayload(cu, CU_ANC_DSE + tag, data, count);
  return 0;
}

int32_t aacReadExtensionPayload(AacBitstream* bs, int32_t count, int32_t afterCpe, CuBuffer* cu) {
  uint8_t data[272];
  const int type = rd(bs, 4);
  if (type == 2) {  // data element
    const int version = rd(bs, 4);
    if (version == 0) {
      int length = 0, loops = 0, part;
      do {
        part = rd(bs, 8);
        length += part;
        ++loops;
      } while (part == 255 && loops < count);
      // The element must fit in what the fill element has left.
      if (length + loops + 1 > count) return AAC_ERR_CHANNEL_STREAM;
      for (int i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
      storePayload(cu, CU_ANC_DATA_ELEMENT, data, length);
      return length + loops + 1;
    }
    for (int i = 0; i < count - 1; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
    storePayload(cu, CU_ANC_DATA_ELEMENT_OTHER, data, count - 1);
    return count;
  }
  int32_t anc;
  switch (type) {
    case 0: anc = CU_ANC_FILL; break;
    case 1: anc = CU_ANC_FILL_DATA; break;
    case 11: anc = CU_ANC_DRC; break;
    case 12: anc = CU_ANC_SPATIAL; break;
    case 13: anc = afterCpe ? CU_ANC_SBR_CPE : CU_ANC_SBR_SCE; break;
    case 14: anc = afterCpe ? CU_ANC_SBR_CRC_CPE : CU_ANC_SBR_CRC_SCE; break;
    default: anc = CU_ANC_OTHER; break;
  }
  data[0] = static_cast<uint8_t>(rd(bs, 4));
  for (int i = 1; i < count; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
  storePayload(cu, anc, data, count);
  return count;
}

void aacConcealChannel(AacChannel* ch, const AacChannelContext* ctx) {
  std::memset(ch->spec, 0, sizeof(ch->spec));
  ch->ics.windowSequence = ch->prevWindowSequence;
  ch->ics.windowShape = ch->prevWindowShape;
  setupIcs(&ch->ics, ctx);
  ch->ics.maxSfb = 0;
  ch->tns.present = 0;
  filterBank(ch, ctx->frameLength);
  std::memset(ch->overlap, 0, sizeof(ch->overlap));
  ch->concealed = 1;
}
