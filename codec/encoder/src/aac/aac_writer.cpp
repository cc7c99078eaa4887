// Sectioning, spectral Huffman coding and the raw_data_block element writers.
#include "aac_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

#include "aactables.h"

namespace {

// The smallest book whose range holds a band's largest magnitude.
int32_t smallestBook(int32_t maxAbs) {
  if (maxAbs == 0) return kAacZeroBook;
  if (maxAbs <= 1) return 1;
  if (maxAbs <= 2) return 3;
  if (maxAbs <= 4) return 5;
  if (maxAbs <= 7) return 7;
  if (maxAbs <= 12) return 9;
  return kAacEscapeBook;
}

int32_t escapeBits(int32_t magnitude) {
  // N one bits, a zero, then an (N + 4)-bit word: 2^(N+4) <= magnitude < 2^(N+5).
  int32_t n = 0;
  while ((magnitude >> (n + 5)) != 0) ++n;
  return 2 * n + 5;
}

void writeEscape(bit_buf* b, int32_t magnitude) {
  int32_t n = 0;
  while ((magnitude >> (n + 5)) != 0) ++n;
  for (int32_t i = 0; i < n; ++i) WriteBits(b, 1, 1);
  WriteBits(b, 0, 1);
  WriteBits(b, static_cast<uint32_t>(magnitude - (1 << (n + 4))), n + 4);
}

// Index of one tuple of a book and its sign and escape bits; -1 when a value
// is out of the book's range.
int32_t tupleIndex(const AacHuffmanBook& book, const int16_t* v, int32_t* extraBits) {
  int32_t index = 0;
  int32_t extra = 0;
  for (int d = 0; d < book.dimension; ++d) {
    int32_t value = v[d];
    int32_t magnitude = std::abs(value);
    if (magnitude > kAacMaxQuant) return -1;
    if (book.isUnsigned) {
      if (magnitude != 0) ++extra;  // sign bit
      if (book.escape && magnitude >= 16) {
        extra += escapeBits(magnitude);
        magnitude = 16;
      } else if (magnitude > book.lav) {
        return -1;
      }
      index = index * book.modulo + magnitude;
    } else {
      if (magnitude > book.lav) return -1;
      index = index * book.modulo + value + book.valueOffset;
    }
  }
  *extraBits = extra;
  return index;
}

// Bit counting without the generic tuple walk. Books 1-2, 3-4, 5-6, 7-8 and
// 9-10 share their tuple index, so one lookup in a packed table gives the
// codeword lengths of both books of a pair (low and high 16 bits); the sign
// bits of the unsigned books are the count of non-zero values. A band of up
// to 1024 values keeps each half below 2^16.
struct PackedLengths {
  uint32_t pair12[81];   // 27 v0 + 9 v1 + 3 v2 + v3 + 40, v in -1..1
  uint32_t pair34[81];   // 27 |v0| + 9 |v1| + 3 |v2| + |v3|, |v| <= 2
  uint32_t pair56[81];   // 9 v0 + v1 + 40, v in -4..4
  uint32_t pair78[64];   // 8 |v0| + |v1|, |v| <= 7
  uint32_t pair910[169]; // 13 |v0| + |v1|, |v| <= 12
  uint32_t book11[289];  // 17 min(|v0|, 16) + min(|v1|, 16)
  int32_t zeroTuple[12]; // length of the all-zero tuple of each book
};

PackedLengths makePackedLengths() {
  PackedLengths t{};
  const auto pack = [](uint32_t* dst, int32_t size, int32_t low, int32_t high) {
    for (int32_t i = 0; i < size; ++i)
      dst[i] = kAacSpectralBooks[low].lengths[i] | (static_cast<uint32_t>(kAacSpectralBooks[high].lengths[i]) << 16);
  };
  pack(t.pair12, 81, 1, 2);
  pack(t.pair34, 81, 3, 4);
  pack(t.pair56, 81, 5, 6);
  pack(t.pair78, 64, 7, 8);
  pack(t.pair910, 169, 9, 10);
  for (int32_t i = 0; i < 289; ++i) t.book11[i] = kAacSpectralBooks[11].lengths[i];
  const int16_t zeros[4] = {0, 0, 0, 0};
  t.zeroTuple[0] = 0;
  for (int32_t book = 1; book <= 11; ++book) {
    int32_t extra = 0;
    t.zeroTuple[book] = kAacSpectralBooks[book].lengths[tupleIndex(kAacSpectralBooks[book], zeros, &extra)];
  }
  return t;
}

const PackedLengths& packedLengths() {
  static const PackedLengths t = makePackedLengths();
  return t;
}

// Marks a book that cannot code a band; larger than any count of bits.
constexpr int32_t kUnusable = 1 << 28;

inline int32_t magnitudeOf(int16_t v) { return v < 0 ? -static_cast<int32_t>(v) : v; }

// Largest magnitude of n values (-32768 counts as 32767) and, when nonZero
// is given, the count of values that are not zero.
int32_t peakOf(const int16_t* v, int32_t n, int32_t* nonZero = nullptr) {
  const __m128i zero = _mm_setzero_si128();
  __m128i peak = zero, zeros = zero;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
    peak = _mm_max_epi16(peak, _mm_max_epi16(x, _mm_subs_epi16(zero, x)));
    zeros = _mm_sub_epi16(zeros, _mm_cmpeq_epi16(x, zero));  // at most 128 a lane per 1024 values
  }
  peak = _mm_max_epi16(peak, _mm_shuffle_epi32(peak, _MM_SHUFFLE(1, 0, 3, 2)));
  peak = _mm_max_epi16(peak, _mm_shuffle_epi32(peak, _MM_SHUFFLE(2, 3, 0, 1)));
  peak = _mm_max_epi16(peak, _mm_shufflelo_epi16(peak, _MM_SHUFFLE(2, 3, 0, 1)));
  int32_t result = static_cast<int16_t>(_mm_cvtsi128_si32(peak));
  int32_t count = i;
  if (nonZero && i > 0) {
    // Sum the eight lane counts (32-bit sums of 16-bit pairs).
    __m128i sums = _mm_madd_epi16(zeros, _mm_set1_epi16(1));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1)));
    count -= _mm_cvtsi128_si32(sums);
  }
  for (; i < n; ++i) {
    const int32_t m = magnitudeOf(v[i]);
    result = m > result ? m : result;
    count += m != 0;
  }
  if (nonZero) *nonZero = count;
  return result;
}

// Escape bits of the values of book 11 from 16 up.
int32_t escapeBitsOf(const int16_t* v, int32_t n) {
  int32_t bits = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t m = magnitudeOf(v[i]);
    if (m >= 16) bits += escapeBits(m);
  }
  return bits;
}

// The lengths of several books from one lookup, for the band costs of the
// sectioning: for a pair of values in -12..12 those of books 5-11, for a
// quad in -2..2 those of books 1-4, sign bits included, 16 bits each (a
// band of up to 1024 values keeps every sum below 2^16). A lane whose book
// cannot code the values holds 0; such books are never asked for.
struct ManyBookLengths {
  alignas(16) uint16_t pairs[625][8];  // 25 v0 + v1 + 312: books 5-11, then 0
  alignas(16) uint16_t quads[625][4];  // 125 v0 + 25 v1 + 5 v2 + v3 + 312: books 1-4
};

int32_t tupleLength(int32_t book, const int16_t* v) {
  int32_t extra = 0;
  const int32_t index = tupleIndex(kAacSpectralBooks[book], v, &extra);
  return index < 0 ? 0 : kAacSpectralBooks[book].lengths[index] + extra;
}

ManyBookLengths makeManyBookLengths() {
  ManyBookLengths t{};
  for (int32_t v0 = -12; v0 <= 12; ++v0) {
    for (int32_t v1 = -12; v1 <= 12; ++v1) {
      const int16_t v[2] = {static_cast<int16_t>(v0), static_cast<int16_t>(v1)};
      for (int32_t book = 5; book <= 11; ++book)
        t.pairs[25 * v0 + v1 + 312][book - 5] = static_cast<uint16_t>(tupleLength(book, v));
    }
  }
  for (int32_t i = 0; i < 625; ++i) {
    const int16_t v[4] = {static_cast<int16_t>(i / 125 - 2), static_cast<int16_t>(i / 25 % 5 - 2),
                          static_cast<int16_t>(i / 5 % 5 - 2), static_cast<int16_t>(i % 5 - 2)};
    for (int32_t book = 1; book <= 4; ++book) t.quads[i][book - 1] = static_cast<uint16_t>(tupleLength(book, v));
  }
  return t;
}

const ManyBookLengths& manyBookLengths() {
  static const ManyBookLengths t = makeManyBookLengths();
  return t;
}

// Bits of books smallest-11 (smallest 1-9: magnitudes up to 12) for n values,
// a multiple of 4 and at most 1024; kQuads when smallest is at most 3.
template <bool kQuads>
void smallValueCosts(const int16_t* v, int32_t n, int32_t smallest, int32_t* cost) {
  const ManyBookLengths& t = manyBookLengths();
  __m128i pairSums = _mm_setzero_si128(), quadSums = _mm_setzero_si128();
  for (int32_t i = 0; i < n; i += 4) {
    const int32_t first = 25 * v[i] + v[i + 1] + 312, second = 25 * v[i + 2] + v[i + 3] + 312;
    pairSums = _mm_add_epi16(pairSums, _mm_load_si128(reinterpret_cast<const __m128i*>(t.pairs[first])));
    pairSums = _mm_add_epi16(pairSums, _mm_load_si128(reinterpret_cast<const __m128i*>(t.pairs[second])));
    if (kQuads) {
      const int32_t quad = 125 * v[i] + 25 * v[i + 1] + 5 * v[i + 2] + v[i + 3] + 312;
      quadSums = _mm_add_epi16(quadSums, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.quads[quad])));
    }
  }
  alignas(16) uint16_t sums[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(sums), pairSums);
  _mm_store_si128(reinterpret_cast<__m128i*>(sums + 8), quadSums);
  for (int32_t book = smallest > 5 ? smallest : 5; book <= 11; ++book) cost[book] = sums[book - 5];
  if (kQuads)
    for (int32_t book = smallest; book <= 4; ++book) cost[book] = sums[8 + book - 1];
}

// Bits of book 11, the only one for magnitudes from 13 up.
int32_t escapeBookBits(const int16_t* v, int32_t n) {
  const PackedLengths& t = packedLengths();
  int32_t bits = 0, nonZero = 0;
  for (int32_t i = 0; i < n; i += 2) {
    const int32_t m0 = magnitudeOf(v[i]), m1 = magnitudeOf(v[i + 1]);
    nonZero += (m0 != 0) + (m1 != 0);
    bits += static_cast<int32_t>(t.book11[17 * (m0 < 16 ? m0 : 16) + (m1 < 16 ? m1 : 16)]);
  }
  return bits + nonZero + escapeBitsOf(v, n);
}

// Bits of every book that can code the band (cost[book], kUnusable for the
// others); n is a multiple of 4 and at most 1024, maxAbs at most 8191.
void bandCosts(const int16_t* v, int32_t n, int32_t maxAbs, int32_t* cost) {
  const int32_t smallest = smallestBook(maxAbs);
  for (int32_t book = 0; book < smallest; ++book) cost[book] = kUnusable;
  if (smallest == kAacZeroBook) {
    const PackedLengths& t = packedLengths();
    cost[0] = 0;
    for (int32_t book = 1; book <= 4; ++book) cost[book] = (n >> 2) * t.zeroTuple[book];
    for (int32_t book = 5; book <= 11; ++book) cost[book] = (n >> 1) * t.zeroTuple[book];
  } else if (smallest <= 3) {
    smallValueCosts<true>(v, n, smallest, cost);
  } else if (smallest < kAacEscapeBook) {
    smallValueCosts<false>(v, n, smallest, cost);
  } else {
    cost[kAacEscapeBook] = escapeBookBits(v, n);
  }
}

// Bits of n values (a multiple of the book's dimension) in one book 1-11; -1
// when a value is out of the book's range.
int32_t bookBits(const int16_t* v, int32_t n, int32_t book) {
  const PackedLengths& t = packedLengths();
  const int32_t lav = kAacSpectralBooks[book].lav;
  const int32_t range = book == kAacEscapeBook ? kAacMaxQuant : lav;
  int32_t nonZero = 0;
  const int32_t maxAbs = peakOf(v, n, &nonZero);
  if (maxAbs > range) return -1;
  const bool high = (book & 1) == 0 && book != kAacEscapeBook;  // the second book of its pair
  const int32_t shift = high ? 16 : 0;
  int32_t bits = 0;
  switch (book) {
    case 1:
    case 2:
      for (int32_t i = 0; i < n; i += 4)
        bits += static_cast<int32_t>((t.pair12[27 * v[i] + 9 * v[i + 1] + 3 * v[i + 2] + v[i + 3] + 40] >> shift) & 0xFFFF);
      return bits;
    case 3:
    case 4:
      for (int32_t i = 0; i < n; i += 4)
        bits += static_cast<int32_t>((t.pair34[27 * magnitudeOf(v[i]) + 9 * magnitudeOf(v[i + 1]) +
                                               3 * magnitudeOf(v[i + 2]) + magnitudeOf(v[i + 3])] >> shift) & 0xFFFF);
      return bits + nonZero;
    case 5:
    case 6:
      for (int32_t i = 0; i < n; i += 2)
        bits += static_cast<int32_t>((t.pair56[9 * v[i] + v[i + 1] + 40] >> shift) & 0xFFFF);
      return bits;
    case 7:
    case 8:
      for (int32_t i = 0; i < n; i += 2)
        bits += static_cast<int32_t>((t.pair78[8 * magnitudeOf(v[i]) + magnitudeOf(v[i + 1])] >> shift) & 0xFFFF);
      return bits + nonZero;
    case 9:
    case 10:
      for (int32_t i = 0; i < n; i += 2)
        bits += static_cast<int32_t>((t.pair910[13 * magnitudeOf(v[i]) + magnitudeOf(v[i + 1])] >> shift) & 0xFFFF);
      return bits + nonZero;
    default:
      for (int32_t i = 0; i < n; i += 2) {
        const int32_t m0 = magnitudeOf(v[i]), m1 = magnitudeOf(v[i + 1]);
        bits += static_cast<int32_t>(t.book11[17 * (m0 < 16 ? m0 : 16) + (m1 < 16 ? m1 : 16)]);
      }
      return bits + nonZero + (maxAbs >= 16 ? escapeBitsOf(v, n) : 0);
  }
}

int32_t writeTuples(bit_buf* b, const int16_t* values, int32_t n, int32_t bookNumber) {
  const AacHuffmanBook& book = kAacSpectralBooks[bookNumber];
  int32_t bits = 0;
  for (int32_t i = 0; i < n; i += book.dimension) {
    int32_t extra = 0;
    const int32_t index = tupleIndex(book, values + i, &extra);
    if (index < 0) return -1;
    bits += WriteBits(b, book.codes[index], book.lengths[index]);
    if (book.isUnsigned) {
      for (int d = 0; d < book.dimension; ++d)
        if (values[i + d] != 0) bits += WriteBits(b, values[i + d] < 0 ? 1u : 0u, 1);
      if (book.escape) {
        for (int d = 0; d < book.dimension; ++d) {
          const int32_t magnitude = std::abs(static_cast<int32_t>(values[i + d]));
          if (magnitude >= 16) {
            writeEscape(b, magnitude);
            bits += escapeBits(magnitude);
          }
        }
      }
    }
  }
  return bits;
}

struct Layout {
  const uint16_t* offsets;  // band borders of one window
  int32_t numBands;
  int32_t windowLength;     // 1024 or 128
  bool shortWindows;
};

bool layoutOf(const AacIcs* ics, Layout* layout) {
  if (ics->samplingRateIndex < 0 || ics->samplingRateIndex > 12) return false;
  if (ics->windowSequence < 0 || ics->windowSequence > 3) return false;
  const AacRateTables& t = kAacRateTables[ics->samplingRateIndex];
  layout->shortWindows = ics->windowSequence == 2;
  layout->offsets = layout->shortWindows ? t.short128 : t.long1024;
  layout->numBands = layout->shortWindows ? t.numShort128 : t.numLong1024;
  layout->windowLength = layout->shortWindows ? 128 : 1024;
  if (ics->maxSfb < 0 || ics->maxSfb > layout->numBands) return false;
  if (!layout->shortWindows) return ics->numWindowGroups == 1 && ics->windowGroupLength[0] == 1;
  if (ics->numWindowGroups < 1 || ics->numWindowGroups > 8) return false;
  int32_t windows = 0;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    if (ics->windowGroupLength[g] < 1 || ics->windowGroupLength[g] > 8) return false;
    windows += ics->windowGroupLength[g];
  }
  return windows == 8;
}

// The lines of band `band` of group `group`, window after window (the order
// in which the bitstream carries a group's lines).
int32_t bandLines(const AacIcs* ics, const Layout& layout, int32_t group, int32_t band, int16_t* out) {
  int32_t firstWindow = 0;
  for (int32_t g = 0; g < group; ++g) firstWindow += ics->windowGroupLength[g];
  int32_t n = 0;
  for (int32_t w = firstWindow; w < firstWindow + ics->windowGroupLength[group]; ++w)
    for (int32_t k = layout.offsets[band]; k < layout.offsets[band + 1]; ++k) out[n++] = ics->quant[w * 128 * layout.shortWindows + k];
  return n;
}

int32_t sectionLengthBits(const AacIcs* ics) { return ics->windowSequence == 2 ? 3 : 5; }

int32_t writeLtpData(bit_buf* b, const AacIcs* ics) {
  int32_t bits = WriteBits(b, static_cast<uint32_t>(ics->ltp.lag), 11);
  bits += WriteBits(b, static_cast<uint32_t>(ics->ltp.coef), 3);
  const int32_t bands = ics->maxSfb < kAacLtpLongBands ? ics->maxSfb : kAacLtpLongBands;
  for (int32_t k = 0; k < bands; ++k) bits += WriteBits(b, ics->ltp.used[k] ? 1u : 0u, 1);
  return bits;
}

// second: the pair's second channel when one ics_info serves both (its
// long-term prediction follows the first channel's).
int32_t writeIcsInfo(bit_buf* b, const AacIcs* ics, const AacIcs* second = nullptr) {
  int32_t bits = WriteBits(b, 0, 1);
  bits += WriteBits(b, static_cast<uint32_t>(ics->windowSequence), 2);
  bits += WriteBits(b, static_cast<uint32_t>(ics->windowShape), 1);
  if (ics->windowSequence == 2) {
    bits += WriteBits(b, static_cast<uint32_t>(ics->maxSfb), 4);
    // One bit per window 1-7: 1 when it joins the group of the window before.
    uint32_t grouping = 0;
    int32_t window = 0;
    for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
      for (int32_t i = 0; i < ics->windowGroupLength[g]; ++i, ++window) {
        if (window == 0) continue;
        grouping = (grouping << 1) | (i > 0 ? 1u : 0u);
      }
    }
    bits += WriteBits(b, grouping, 7);
  } else {
    bits += WriteBits(b, static_cast<uint32_t>(ics->maxSfb), 6);
    // predictor_data_present: only long-term prediction is ever written.
    const bool predicted = ics->ltp.present || (second && second->ltp.present);
    bits += WriteBits(b, predicted ? 1u : 0u, 1);
    if (predicted) {
      bits += WriteBits(b, ics->ltp.present ? 1u : 0u, 1);
      if (ics->ltp.present) bits += writeLtpData(b, ics);
      if (second) {
        bits += WriteBits(b, second->ltp.present ? 1u : 0u, 1);
        if (second->ltp.present) bits += writeLtpData(b, second);
      }
    }
  }
  return bits;
}

bool tnsWritable(const AacIcs* ics);

// Checks what the writer relies on: the layout, the TNS fields, books 0-11 and coded
// scalefactor steps within the scalefactor book.
bool writable(const AacIcs* ics, Layout* layout) {
  if (!ics || !layoutOf(ics, layout) || !tnsWritable(ics)) return false;
  // Long-term prediction: long windows, an 11-bit lag and a 3-bit gain.
  if (ics->ltp.present && (ics->windowSequence == 2 || ics->ltp.lag < 0 || ics->ltp.lag > 2047 ||
                           ics->ltp.coef < 0 || ics->ltp.coef > 7))
    return false;
  if (ics->globalGain < 0 || ics->globalGain > 255) return false;
  int32_t last = ics->globalGain;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      const int32_t book = ics->codebook[g][k];
      if (book < 0 || book > 11) return false;
      if (book == kAacZeroBook) continue;
      if (std::abs(ics->scalefactor[g][k] - last) > 60) return false;
      last = ics->scalefactor[g][k];
    }
  }
  return true;
}

// The filters a channel stream can carry: one or eight windows as the
// sequence has, orders and lengths within their fields.
bool tnsWritable(const AacIcs* ics) {
  const TnsInfo& t = ics->tns;
  if (!t.present) return true;
  const bool isShort = ics->windowSequence == 2;
  if (t.numWindows != (isShort ? 8 : 1)) return false;
  for (int32_t w = 0; w < t.numWindows; ++w) {
    const TnsWindow& f = t.window[w];
    if (f.numFilters < 0 || f.numFilters > 1) return false;
    if (!f.numFilters) continue;
    if (f.order < 0 || f.order > (isShort ? kTnsMaxOrderShort : kTnsMaxOrderLong)) return false;
    if (f.length < 0 || f.length > (isShort ? 15 : 63)) return false;
    const int32_t bits = (f.coefRes ? 4 : 3) - (f.coefCompress ? 1 : 0);
    for (int32_t i = 0; i < f.order; ++i)
      if (f.coef[i] < -(1 << (bits - 1)) || f.coef[i] >= (1 << (bits - 1))) return false;
  }
  return true;
}

int32_t writeTnsData(bit_buf* b, const AacIcs* ics) {
  const TnsInfo& t = ics->tns;
  const bool isShort = ics->windowSequence == 2;
  int32_t bits = 0;
  for (int32_t w = 0; w < t.numWindows; ++w) {
    const TnsWindow& f = t.window[w];
    bits += WriteBits(b, static_cast<uint32_t>(f.numFilters), isShort ? 1 : 2);
    if (!f.numFilters) continue;
    bits += WriteBits(b, f.coefRes ? 1u : 0u, 1);
    bits += WriteBits(b, static_cast<uint32_t>(f.length), isShort ? 4 : 6);
    bits += WriteBits(b, static_cast<uint32_t>(f.order), isShort ? 3 : 5);
    if (!f.order) continue;
    bits += WriteBits(b, f.direction ? 1u : 0u, 1);
    bits += WriteBits(b, f.coefCompress ? 1u : 0u, 1);
    const int32_t coefBits = (f.coefRes ? 4 : 3) - (f.coefCompress ? 1 : 0);
    for (int32_t i = 0; i < f.order; ++i)
      bits += WriteBits(b, static_cast<uint32_t>(f.coef[i]) & ((1u << coefBits) - 1u), coefBits);
  }
  return bits;
}

// With `sectioned` (and no buffer) the section data and spectral data are
// not walked: their bits are those the sectioning found.
int32_t writeIcs(bit_buf* b, const AacIcs* ics, bool commonWindow, bool sectioned = false) {
  Layout layout;
  if (!writable(ics, &layout)) return -1;
  int32_t bits = WriteBits(b, static_cast<uint32_t>(ics->globalGain), 8);
  if (!commonWindow) bits += writeIcsInfo(b, ics);
  if (sectioned) bits += ics->sectionedBits;
  // section_data
  const int32_t lengthBits = sectionLengthBits(ics);
  const int32_t escape = (1 << lengthBits) - 1;
  for (int32_t g = 0; g < (sectioned ? 0 : ics->numWindowGroups); ++g) {
    for (int32_t k = 0; k < ics->maxSfb;) {
      const int32_t book = ics->codebook[g][k];
      int32_t end = k + 1;
      while (end < ics->maxSfb && ics->codebook[g][end] == book) ++end;
      bits += WriteBits(b, static_cast<uint32_t>(book), 4);
      int32_t length = end - k;
      while (length >= escape) {
        bits += WriteBits(b, static_cast<uint32_t>(escape), lengthBits);
        length -= escape;
      }
      bits += WriteBits(b, static_cast<uint32_t>(length), lengthBits);
      k = end;
    }
  }
  // scale_factor_data
  int32_t last = ics->globalGain;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      if (ics->codebook[g][k] == kAacZeroBook) continue;
      const int32_t index = ics->scalefactor[g][k] - last + 60;
      bits += b ? WriteBits(b, kAacScalefactorBook.codes[index], kAacScalefactorBook.lengths[index])
                : kAacScalefactorBook.lengths[index];
      last = ics->scalefactor[g][k];
    }
  }
  bits += WriteBits(b, 0, 1);  // pulse_data_present
  bits += WriteBits(b, ics->tns.present ? 1u : 0u, 1);
  if (ics->tns.present && !ics->erSyntax) bits += writeTnsData(b, ics);
  bits += WriteBits(b, 0, 1);  // gain_control_data_present
  // The error-resilient syntax sends the filters after the three flags.
  if (ics->tns.present && ics->erSyntax) bits += writeTnsData(b, ics);
  // spectral_data
  int16_t lines[1024];
  for (int32_t g = 0; g < (sectioned ? 0 : ics->numWindowGroups); ++g) {
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      if (ics->codebook[g][k] == kAacZeroBook) continue;
      const int16_t* v = lines;
      int32_t n;
      if (layout.shortWindows || b) {
        n = bandLines(ics, layout, g, k, lines);
      } else {  // one window: the band's lines lie together
        v = ics->quant + layout.offsets[k];
        n = layout.offsets[k + 1] - layout.offsets[k];
      }
      // Without a buffer only the bits are wanted: the counter gives them faster.
      const int32_t tupleBits = b ? writeTuples(b, v, n, ics->codebook[g][k]) : bookBits(v, n, ics->codebook[g][k]);
      if (tupleBits < 0) return -1;
      bits += tupleBits;
    }
  }
  return bits;
}

}  // namespace

int32_t aacSpectralBits(const int16_t* values, int32_t n, int32_t bookNumber) {
  if (bookNumber < 1 || bookNumber > 11) return -1;
  const AacHuffmanBook& book = kAacSpectralBooks[bookNumber];
  if (n % book.dimension) return -1;
  return bookBits(values, n, bookNumber);
}

CodecError* aacSectionChannel(AacIcs* ics) {
  if (!ics) return createError(__FILE__, __LINE__, "aacSectionChannel", "null channel");
  Layout layout;
  if (!layoutOf(ics, &layout))
    return createError(__FILE__, __LINE__, "aacSectionChannel", "invalid window layout");
  const int32_t lengthBits = sectionLengthBits(ics);
  const int32_t escape = (1 << lengthBits) - 1;
  const int32_t header = 4 + lengthBits;
  int16_t lines[1024];
  int32_t peaks[kAacMaxGroups][kAacMaxBands];  // largest magnitude of each band
  ics->sectionedBits = 0;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    // cost[k][book]: bits of band k coded with the book (kUnusable when it cannot).
    alignas(16) int32_t cost[kAacMaxBands][12];
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      const int16_t* v = lines;
      int32_t n;
      if (layout.shortWindows) {
        n = bandLines(ics, layout, g, k, lines);
      } else {  // one window: the band's lines lie together
        v = ics->quant + layout.offsets[k];
        n = layout.offsets[k + 1] - layout.offsets[k];
      }
      const int32_t maxAbs = peakOf(v, n);
      if (maxAbs > kAacMaxQuant)
        return createError(__FILE__, __LINE__, "aacSectionChannel", "quantised value %d out of range", maxAbs);
      peaks[g][k] = maxAbs;
      bandCosts(v, n, maxAbs, cost[k]);
    }
    // Adjacent bands of one book form one section (the writer merges them),
    // so a partition is a book per band. at[k][book]: fewest bits for bands
    // [0, k] with band k in the book (kUnusable when it cannot be); its
    // section's length modulo the escape is runOf[k][book], and a section
    // costs its header plus lengthBits more each time its length passes an
    // escape. A new section starts after the best end in another book; on a
    // tie the section is extended. One pass over the bands, the twelve books
    // four at a time.
    alignas(16) int32_t before[kAacMaxBands][12];  // book of the band before a new section, -1 when extended
    const __m128i unusable = _mm_set1_epi32(kUnusable);
    const __m128i largest = _mm_set1_epi32(0x7FFFFFFF);
    const __m128i one = _mm_set1_epi32(1);
    const __m128i none = _mm_set1_epi32(-1);
    const __m128i escapes = _mm_set1_epi32(escape);
    const __m128i lengthStep = _mm_set1_epi32(lengthBits);
    const __m128i books[3] = {_mm_setr_epi32(0, 1, 2, 3), _mm_setr_epi32(4, 5, 6, 7), _mm_setr_epi32(8, 9, 10, 11)};
    const auto pick = [](__m128i mask, __m128i ifSet, __m128i ifClear) {
      return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
    };
    const auto smaller = [&](__m128i a, __m128i b) { return pick(_mm_cmpgt_epi32(a, b), b, a); };
    // The smallest of twelve values in every lane, and the first book that has it.
    const auto first = [&](const __m128i* v, int32_t* book) {
      __m128i m = smaller(smaller(v[0], v[1]), v[2]);
      m = smaller(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
      m = smaller(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
      const int32_t mask = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v[0], m))) |
                           _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v[1], m))) << 4 |
                           _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v[2], m))) << 8;
      *book = __builtin_ctz(static_cast<unsigned>(mask));
      return _mm_cvtsi128_si32(m);
    };
    __m128i at[3], runOf[3];  // of band k - 1, then of band k
    int32_t best1 = 0, best2 = 0, end1 = 0, end2 = 0;
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      // A new section at band k starts after the best end of band k - 1 in
      // another book: the second best for the book of the best.
      const __m128i isBest = _mm_set1_epi32(best1);
      for (int32_t j = 0; j < 3; ++j) {
        const __m128i bits = _mm_load_si128(reinterpret_cast<const __m128i*>(cost[k] + 4 * j));
        __m128i total, run = one, source = none;
        if (k == 0) {
          total = _mm_add_epi32(bits, _mm_set1_epi32(header));
        } else {
          const __m128i mine = _mm_cmpeq_epi32(books[j], isBest);
          const __m128i fresh = pick(mine, _mm_set1_epi32(end2 + header), _mm_set1_epi32(end1 + header));
          const __m128i from = pick(mine, _mm_set1_epi32(best2), isBest);
          // Extending the section of band k - 1 in the same book; a tie extends.
          __m128i extendedRun = _mm_add_epi32(runOf[j], one);
          const __m128i wrap = _mm_cmpeq_epi32(extendedRun, escapes);
          extendedRun = _mm_andnot_si128(wrap, extendedRun);
          const __m128i extended = _mm_add_epi32(at[j], _mm_and_si128(wrap, lengthStep));
          const __m128i newSection = _mm_cmpgt_epi32(extended, fresh);
          total = _mm_add_epi32(pick(newSection, fresh, extended), bits);
          run = pick(newSection, one, extendedRun);
          source = pick(newSection, from, none);
        }
        at[j] = pick(_mm_cmpgt_epi32(total, unusable), unusable, total);
        runOf[j] = run;
        _mm_store_si128(reinterpret_cast<__m128i*>(before[k] + 4 * j), source);
      }
      // The two best ends of band k, in different books (the first of equals
      // wins).
      end1 = first(at, &best1);
      const __m128i isBest1 = _mm_set1_epi32(best1);
      const __m128i others[3] = {pick(_mm_cmpeq_epi32(books[0], isBest1), largest, at[0]),
                                 pick(_mm_cmpeq_epi32(books[1], isBest1), largest, at[1]),
                                 pick(_mm_cmpeq_epi32(books[2], isBest1), largest, at[2])};
      end2 = first(others, &best2);
    }
    ics->sectionedBits += end1;
    if (ics->maxSfb > 0) {
      int32_t book = best1;
      for (int32_t k = ics->maxSfb - 1; k >= 0; --k) {
        ics->codebook[g][k] = book;
        if (before[k][book] >= 0) book = before[k][book];
      }
    }
  }
  // Scalefactors: zero bands inside a coded section repeat the one before.
  int32_t last = -1;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      if (ics->codebook[g][k] == kAacZeroBook) continue;
      if (peaks[g][k] == 0 && last >= 0) ics->scalefactor[g][k] = last;
      if (ics->scalefactor[g][k] < 0 || ics->scalefactor[g][k] > 255)
        return createError(__FILE__, __LINE__, "aacSectionChannel", "scalefactor %d out of range",
                           ics->scalefactor[g][k]);
      if (last >= 0 && std::abs(ics->scalefactor[g][k] - last) > 60)
        return createError(__FILE__, __LINE__, "aacSectionChannel", "scalefactor step %d too large",
                           ics->scalefactor[g][k] - last);
      if (last < 0) ics->globalGain = ics->scalefactor[g][k];
      last = ics->scalefactor[g][k];
    }
  }
  if (last < 0) ics->globalGain = 0;
  return nullptr;
}

namespace {

// Element marks for the ADTS CRC are kept only while the buffer collects
// several of them (a frame with a protected header).
int32_t openMark(bit_buf* b, int32_t kind) { return (b && b->severalMarks) ? SetElementMark(b, kind) : -1; }
void closeMark(bit_buf* b, int32_t entry) {
  if (entry >= 0) SetElementMarkEnd(b, entry);
}

int32_t writeSingle(bit_buf* b, int32_t id, int32_t markKind, int32_t tag, const AacIcs* ics, bool sectioned = false) {
  Layout layout;
  if (!writable(ics, &layout)) return -1;
  // Check the whole element before a bit of it is written.
  if (b && writeIcs(nullptr, ics, false) < 0) return -1;
  const int32_t mark = openMark(b, markKind);
  // The error-resilient block names no element: its order says which.
  int32_t bits = ics->erSyntax ? 0 : WriteBits(b, static_cast<uint32_t>(id), 3);
  bits += WriteBits(b, static_cast<uint32_t>(tag), 4);
  const int32_t icsBits = writeIcs(b, ics, false, sectioned);
  closeMark(b, mark);
  return icsBits < 0 ? -1 : bits + icsBits;
}

}  // namespace

int32_t aacWriteSingleChannelElement(bit_buf* b, int32_t tag, const AacIcs* ics) {
  return writeSingle(b, kAacElementSce, kMarkSce, tag, ics);
}

int32_t aacWriteLfeElement(bit_buf* b, int32_t tag, const AacIcs* ics) {
  // The low-frequency channel has long windows only.
  if (!ics || ics->windowSequence != 0) return -1;
  return writeSingle(b, kAacElementLfe, kMarkLfe, tag, ics);
}

namespace {

int32_t writePair(bit_buf* b, int32_t tag, int32_t commonWindow, int32_t msMaskPresent,
                  const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right, bool sectioned) {
  Layout layout;
  if (!writable(left, &layout) || !writable(right, &layout)) return -1;
  if (commonWindow) {
    // One ics_info serves both channels: they must agree on it.
    if (left->windowSequence != right->windowSequence || left->windowShape != right->windowShape ||
        left->maxSfb != right->maxSfb || left->numWindowGroups != right->numWindowGroups)
      return -1;
    for (int32_t g = 0; g < left->numWindowGroups; ++g)
      if (left->windowGroupLength[g] != right->windowGroupLength[g]) return -1;
  }
  if (b && (writeIcs(nullptr, left, commonWindow != 0) < 0 || writeIcs(nullptr, right, commonWindow != 0) < 0))
    return -1;
  // The first mark runs from the element id to the end of the first
  // channel's stream, the second covers the second channel's stream.
  const int32_t first = openMark(b, kMarkCpe);
  int32_t bits = left->erSyntax ? 0 : WriteBits(b, kAacElementCpe, 3);
  bits += WriteBits(b, static_cast<uint32_t>(tag), 4);
  bits += WriteBits(b, commonWindow ? 1u : 0u, 1);
  if (commonWindow) {
    bits += writeIcsInfo(b, left, right);
    bits += WriteBits(b, static_cast<uint32_t>(msMaskPresent), 2);
    if (msMaskPresent == 1) {
      for (int32_t g = 0; g < left->numWindowGroups; ++g)
        for (int32_t k = 0; k < left->maxSfb; ++k) bits += WriteBits(b, msUsed && msUsed[g][k] ? 1u : 0u, 1);
    }
  }
  const int32_t leftBits = writeIcs(b, left, commonWindow != 0, sectioned);
  closeMark(b, first);
  const int32_t second = openMark(b, kMarkCpeSecond);
  const int32_t rightBits = writeIcs(b, right, commonWindow != 0, sectioned);
  closeMark(b, second);
  return (leftBits < 0 || rightBits < 0) ? -1 : bits + leftBits + rightBits;
}

}  // namespace

int32_t aacWriteChannelPairElement(bit_buf* b, int32_t tag, int32_t commonWindow, int32_t msMaskPresent,
                                   const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right) {
  return writePair(b, tag, commonWindow, msMaskPresent, msUsed, left, right, false);
}

int32_t aacSectionedSingleChannelBits(const AacIcs* ics) {
  return writeSingle(nullptr, kAacElementSce, kMarkSce, 0, ics, true);
}

int32_t aacSectionedChannelPairBits(int32_t commonWindow, int32_t msMaskPresent,
                                    const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right) {
  return writePair(nullptr, 0, commonWindow, msMaskPresent, msUsed, left, right, true);
}

int32_t aacWriteFillElement(bit_buf* b, int32_t count) {
  if (count < 0) count = 0;
  if (count > 269) count = 269;
  int32_t bits = WriteBits(b, kAacElementFil, 3);
  if (count < 15) {
    bits += WriteBits(b, static_cast<uint32_t>(count), 4);
  } else {
    bits += WriteBits(b, 15, 4);
    bits += WriteBits(b, static_cast<uint32_t>(count - 14), 8);
  }
  // The first byte names the payload: extension type FILL (0) with fill
  // nibble 0; the rest are fill bytes 0xA5.
  for (int32_t i = 0; i < count; ++i) bits += WriteBits(b, i == 0 ? 0x00u : 0xA5u, 8);
  return bits;
}

int32_t aacWriteEndElement(bit_buf* b, int32_t bitsSoFar) {
  int32_t bits = WriteBits(b, kAacElementEnd, 3);
  bits += WriteBits(b, 0, (8 - ((bitsSoFar + bits) & 7)) & 7);
  return bits;
}

int32_t aacSbrFillElementBits(int32_t payloadBits) {
  if (payloadBits <= 0) return 0;
  const int32_t count = (4 + payloadBits + 7) / 8;
  if (count > 269) return -1;
  return 3 + 4 + (count >= 15 ? 8 : 0) + 8 * count;
}

int32_t aacWriteSbrFillElement(bit_buf* b, const uint8_t* payload, int32_t payloadBits) {
  const int32_t total = aacSbrFillElementBits(payloadBits);
  if (total <= 0) return total;
  const int32_t count = (4 + payloadBits + 7) / 8;
  int32_t bits = WriteBits(b, kAacElementFil, 3);
  if (count < 15) {
    bits += WriteBits(b, static_cast<uint32_t>(count), 4);
  } else {
    bits += WriteBits(b, 15, 4);
    bits += WriteBits(b, static_cast<uint32_t>(count - 14), 8);
  }
  // Extension type 13 (SBR data) in the first nibble, then the SBR payload
  // and zero bits up to the counted bytes.
  bits += WriteBits(b, 13, 4);
  int32_t left = payloadBits;
  for (int32_t i = 0; left > 0; ++i) {
    const int32_t n = left < 8 ? left : 8;
    bits += WriteBits(b, static_cast<uint32_t>(payload[i] >> (8 - n)), n);
    left -= n;
  }
  const int32_t pad = 8 * count - 4 - payloadBits;
  if (pad > 0) bits += WriteBits(b, 0, pad);
  return bits;
}
