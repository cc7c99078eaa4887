// Reading of the individual channel stream of the AAC-LC core: ICS info,
// section data, scale factors, pulse and TNS data, spectral data with inverse
// quantisation, and the M/S mask of a channel pair.
#include <cmath>
#include <cstring>

#include "aactables.h"
#include "channel_parts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace aacchannel {
namespace {

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

// Spectral books as lookup tables: the next 9 bits index a first table
// whose entry holds the codeword's length and symbol, or, for the longer
// codewords sharing those 9 bits, the place and width of a second table
// indexed by the bits after them (codewords have at most 16 bits).
const int kFastBits = 9;
const int kFastSize = (1 << kFastBits) + 2048;
const uint32_t kFastLink = 0x80000000u;
struct FastBooks {
  uint32_t table[12][kFastSize];
  bool ok[12];
  FastBooks() {
    for (int cb = 0; cb < 12; ++cb) ok[cb] = cb >= 1 && build(kAacSpectralBooks[cb], table[cb]);
  }
  // False when the book does not fit (the tree then serves it).
  static bool build(const AacHuffmanBook& b, uint32_t* t) {
    for (int i = 0; i < kFastSize; ++i) t[i] = 0;
    int longest[1 << kFastBits] = {};
    for (int s = 0; s < b.size; ++s) {
      const int len = b.lengths[s];
      if (len < 1 || len > 16) return false;
      if (len <= kFastBits) {
        const uint32_t first = b.codes[s] << (kFastBits - len);
        for (uint32_t j = 0; j < (1u << (kFastBits - len)); ++j)
          t[first | j] = (static_cast<uint32_t>(len) << 16) | static_cast<uint32_t>(s);
      } else {
        const uint32_t prefix = b.codes[s] >> (len - kFastBits);
        if (prefix >= (1u << kFastBits)) return false;
        if (len > longest[prefix]) longest[prefix] = len;
      }
    }
    int next = 1 << kFastBits;
    for (int p = 0; p < (1 << kFastBits); ++p) {
      if (!longest[p]) continue;
      const int width = longest[p] - kFastBits;
      if (t[p] || next + (1 << width) > kFastSize) return false;
      t[p] = kFastLink | (static_cast<uint32_t>(width) << 16) | static_cast<uint32_t>(next);
      next += 1 << width;
    }
    for (int s = 0; s < b.size; ++s) {
      const int len = b.lengths[s];
      if (len <= kFastBits) continue;
      const uint32_t link = t[b.codes[s] >> (len - kFastBits)];
      const int width = static_cast<int>((link >> 16) & 31), rest = len - kFastBits;
      const uint32_t first = (link & 0xFFFF) + ((b.codes[s] & ((1u << rest) - 1)) << (width - rest));
      for (uint32_t j = 0; j < (1u << (width - rest)); ++j)
        t[first + j] = (static_cast<uint32_t>(rest) << 16) | static_cast<uint32_t>(s);
    }
    // A complete code fills every entry.
    for (int i = 0; i < next; ++i)
      if (!t[i]) return false;
    return true;
  }
};
const FastBooks& fastBooks() {
  static const FastBooks t;
  return t;
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
  // Spectral codewords have at most 16 bits: one refill check per codeword
  // covers all of its 4-bit steps.
  int huffman(const uint32_t* tree) {
    if (bits < 16) {
      cache = (cache << 16) | bs->read(bs, 16);
      bits += 16;
    }
    uint32_t node = 0;
    for (int step = 0; step < 4; ++step) {
      const uint32_t e = tree[node * 16 + ((cache >> (bits - 4)) & 15)];
      const int used = static_cast<int>(e >> 16);
      if (used) {
        bits -= used;
        return static_cast<int>(e & 0xFFFF);
      }
      bits -= 4;
      node = e & 0xFFFF;
    }
    return 0;  // not reached: no spectral codeword is longer than 16 bits
  }
  // A spectral codeword through the book's lookup tables (or its tree).
  int spectral(const uint32_t* fast, const uint32_t* tree) {
    if (!fast) return huffman(tree);
    if (bits < 16) {
      cache = (cache << 16) | bs->read(bs, 16);
      bits += 16;
    }
    uint32_t e = fast[(cache >> (bits - kFastBits)) & ((1u << kFastBits) - 1)];
    if (e & kFastLink) {
      bits -= kFastBits;
      const int width = static_cast<int>((e >> 16) & 31);
      e = fast[(e & 0xFFFF) + ((cache >> (bits - width)) & ((1u << width) - 1))];
    }
    bits -= static_cast<int>(e >> 16);
    return static_cast<int>(e & 0xFFFF);
  }
  // Any codeword (the scalefactor book has up to 19 bits).
  int huffmanLong(const uint32_t* tree) {
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
  int huffmanLong(const uint32_t* tree) { return huffman(tree); }
  int spectral(const uint32_t*, const uint32_t* tree) { return huffman(tree); }
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

// Zeroes a run of spectral lines (band borders are multiples of 4); short
// runs are cheaper here than through the vector table.
inline void zeroLines(float* x, int n) {
#if defined(__SSE2__)
  const __m128 z = _mm_setzero_ps();
  int i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(x + i, z);
  for (; i < n; ++i) x[i] = 0.0f;
#else
  for (int i = 0; i < n; ++i) x[i] = 0.0f;
#endif
}

}  // namespace

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

namespace {

template <class Bits>
int32_t readSectionDataWith(AacChannel* ch, Bits& r) {
  const AacIcsInfo& ics = ch->ics;
  const bool isShort = ics.windowSequence == AAC_EIGHT_SHORT;
  const int lenBits = isShort ? 3 : 5;
  const int32_t esc = (1 << lenBits) - 1;
  for (int g = 0; g < ics.numWindowGroups; ++g) {
    int k = 0;
    while (k < ics.maxSfb) {
      const int cb = static_cast<int>(r.read(4));
      if (cb == 12) return AAC_ERR_RESERVED_CODEBOOK;
      int len = 0, incr;
      do {
        incr = static_cast<int>(r.read(lenBits));
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

int32_t readSectionData(AacChannel* ch, AacBitstream* bs) {
  if (bs->mode == kAacReaderLookAhead) {
    LocalBits r(bs);
    const int32_t res = readSectionDataWith(ch, r);
    r.writeBack();
    return res;
  }
  GenericBits r(bs);
  return readSectionDataWith(ch, r);
}

template <class Bits>
int32_t readScaleFactorsWith(AacChannel* ch, Bits& r) {
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
          isPos += r.huffmanLong(kAacScalefactorBook.tree) - 60;
          if (isPos < -255 || isPos > 255) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(isPos);
          break;
        case AAC_NOISE_HCB:
          if (firstNoise) {
            noise += static_cast<int32_t>(r.read(9)) - 256;
            firstNoise = false;
          } else {
            noise += r.huffmanLong(kAacScalefactorBook.tree) - 60;
          }
          if (noise - 100 < kMinStoredScale || noise - 100 > kMaxStoredScale) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(noise - 100);
          break;
        default:
          sf += r.huffmanLong(kAacScalefactorBook.tree) - 60;
          if (sf < 0 || sf > 255) return AAC_ERR_CHANNEL_STREAM;
          ch->sf[g][s] = static_cast<int16_t>(sf - 100);
          break;
      }
    }
  }
  return 0;
}

int32_t readScaleFactors(AacChannel* ch, AacBitstream* bs) {
  if (bs->mode == kAacReaderLookAhead) {
    LocalBits r(bs);
    const int32_t res = readScaleFactorsWith(ch, r);
    r.writeBack();
    return res;
  }
  GenericBits r(bs);
  return readScaleFactorsWith(ch, r);
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
  // sign(v) |v|^(4/3) of each value of the signed books (1, 2, 5, 6)
  alignas(16) float fvalues[7][81][4];
  // Unsigned books: |v|^(4/3) of each value, which of the values are
  // non-zero (bit i for value i) and whether one is an escape (16, book 11).
  alignas(16) float fmag[12][289][4];
  uint8_t nonzeroLanes[12][289];
  uint8_t escapes[12][289];
  // Sign masks by non-zero lanes and sign bits: the first non-zero value
  // takes the highest of its sign bits.
  alignas(16) uint32_t signMask[16][16][4];
  UnpackedBooks() {
    const float* iq = aacInvQuantTable();
    for (int lanes = 0; lanes < 16; ++lanes)
      for (int bits = 0; bits < 16; ++bits) {
        int nz = 0;
        for (int i = 0; i < 4; ++i) nz += (lanes >> i) & 1;
        for (int i = 0; i < 4; ++i) {
          signMask[lanes][bits][i] = 0;
          if (!((lanes >> i) & 1)) continue;
          --nz;
          if ((bits >> nz) & 1) signMask[lanes][bits][i] = 0x80000000u;
        }
      }
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
        nonzeroLanes[cb][idx] = 0;
        escapes[cb][idx] = 0;
        for (int i = 0; i < 4; ++i) {
          fmag[cb][idx][i] = b.isUnsigned ? iq[v[i] < 0 ? -v[i] : v[i]] : 0.0f;
          if (v[i]) nonzeroLanes[cb][idx] = static_cast<uint8_t>(nonzeroLanes[cb][idx] | (1 << i));
          if (b.escape && v[i] == 16) escapes[cb][idx] = 1;
        }
        if (!b.isUnsigned)
          for (int i = 0; i < 4; ++i)
            fvalues[cb][idx][i] = static_cast<float>((v[i] < 0 ? -1.0 : 1.0) * std::pow(std::abs(v[i]), 4.0 / 3.0));
      }
    }
  }
};

const UnpackedBooks& unpackedBooks() {
  static const UnpackedBooks books;
  return books;
}

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
  const FastBooks& fb = fastBooks();
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
          for (int w = 0; w < groupLen; ++w) zeroLines(ch->spec + (win + w) * ics.windowLength + start, end - start);
        continue;
      }
      const AacHuffmanBook& book = kAacSpectralBooks[cb];
      const uint32_t* tree = book.tree;
      const uint32_t* fast = fb.ok[cb] ? fb.table[cb] : nullptr;
      const int8_t(*values)[4] = ub.values[cb];
      const uint8_t* nonzero = ub.nonzero[cb];
      const float scale = Direct ? gain[ch->sf[g][s] + 100] * invM : 0.0f;
      for (int w = 0; w < groupLen; ++w) {
        const int base = (win + w) * ics.windowLength;
        int32_t* dst = q + base;
        float* fx = ch->spec + base;
        if (!book.isUnsigned) {
#if defined(__SSE2__)
          if (Direct) {
            // Whole tuples from the book's reconstructed values.
            const float(*fv)[4] = ub.fvalues[cb];
            const __m128 sc = _mm_set1_ps(scale);
            if (book.dimension == 4) {
              for (int k = start; k < end; k += 4)
                _mm_storeu_ps(fx + k, _mm_mul_ps(_mm_load_ps(fv[r.spectral(fast, tree)]), sc));
            } else {
              for (int k = start; k < end; k += 2)
                _mm_storel_pi(reinterpret_cast<__m64*>(fx + k), _mm_mul_ps(_mm_load_ps(fv[r.spectral(fast, tree)]), sc));
            }
            continue;
          }
#endif
          if (book.dimension == 4) {
            for (int k = start; k < end; k += 4) {
              const int8_t* v = values[r.spectral(fast, tree)];
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
              const int8_t* v = values[r.spectral(fast, tree)];
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
#if defined(__SSE2__)
        if (Direct) {
          // The values' magnitudes from the book, the signs by one mask,
          // without a branch per value; only escapes take the long way.
          const float(*fm)[4] = ub.fmag[cb];
          const uint8_t* lanes = ub.nonzeroLanes[cb];
          const uint8_t* escapes = ub.escapes[cb];
          const __m128 sc = _mm_set1_ps(scale);
          for (int k = start; k < end; k += dim) {
            const int idx = r.spectral(fast, tree);
            int nz = nonzero[idx];
            const uint32_t signs = r.read(nz);
            if (escapes[idx]) {
              const int8_t* v = values[idx];
              int32_t x[2];
              for (int i = 0; i < 2; ++i) {
                x[i] = v[i];
                if (x[i] && ((signs >> --nz) & 1)) x[i] = -x[i];
              }
              if ((x[0] == 16 || x[0] == -16) && !readEscape(r, &x[0])) return AAC_ERR_CHANNEL_STREAM;
              if ((x[1] == 16 || x[1] == -16) && !readEscape(r, &x[1])) return AAC_ERR_CHANNEL_STREAM;
              fx[k] = invq[x[0]] * scale;
              fx[k + 1] = invq[x[1]] * scale;
              continue;
            }
            const __m128 sm = _mm_load_ps(reinterpret_cast<const float*>(ub.signMask[lanes[idx]][signs]));
            const __m128 y = _mm_mul_ps(_mm_xor_ps(_mm_load_ps(fm[idx]), sm), sc);
            if (dim == 4)
              _mm_storeu_ps(fx + k, y);
            else
              _mm_storel_pi(reinterpret_cast<__m64*>(fx + k), y);
          }
          continue;
        }
#endif
        for (int k = start; k < end; k += dim) {
          const int idx = r.spectral(fast, tree);
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
        zeroLines(ch->spec + (win + w) * ics.windowLength + top, ics.windowLength - top);
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

}  // namespace

// The M/S mask of a pair with a common window (msMaskPresent already read):
// one bit per band when it is 1, all bands off for 0, all on for 2.
void readMsUsed(AacElement* e, AacBitstream* bs) {
  const AacChannel* l = e->ch[0];
  if (e->msMaskPresent == 1) {
    LocalBits r(bs);
    GenericBits gr(bs);
    const bool local = bs->mode == kAacReaderLookAhead;
    for (int g = 0; g < l->ics.numWindowGroups; ++g)
      for (int s = 0; s < l->ics.maxSfb; ++s)
        e->msUsed[g][s] = static_cast<uint8_t>(local ? r.read(1) : gr.read(1));
    if (local) r.writeBack();
  } else if (e->msMaskPresent == 0) {
    std::memset(e->msUsed, 0, sizeof(e->msUsed));
  } else if (e->msMaskPresent == 2) {
    std::memset(e->msUsed, 1, sizeof(e->msUsed));
  }
}

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

}  // namespace aacchannel
