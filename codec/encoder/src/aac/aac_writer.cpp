// Sectioning, spectral Huffman coding and the raw_data_block element writers.
#include "aac_writer.h"

#include <cstdlib>
#include <cstring>

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

int32_t writeIcs(bit_buf* b, const AacIcs* ics, bool commonWindow) {
  Layout layout;
  if (!writable(ics, &layout)) return -1;
  int32_t bits = WriteBits(b, static_cast<uint32_t>(ics->globalGain), 8);
  if (!commonWindow) bits += writeIcsInfo(b, ics);
  // section_data
  const int32_t lengthBits = sectionLengthBits(ics);
  const int32_t escape = (1 << lengthBits) - 1;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
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
      bits += WriteBits(b, kAacScalefactorBook.codes[index], kAacScalefactorBook.lengths[index]);
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
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      if (ics->codebook[g][k] == kAacZeroBook) continue;
      const int32_t n = bandLines(ics, layout, g, k, lines);
      const int32_t tupleBits = writeTuples(b, lines, n, ics->codebook[g][k]);
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
  int32_t bits = 0;
  for (int32_t i = 0; i < n; i += book.dimension) {
    int32_t extra = 0;
    const int32_t index = tupleIndex(book, values + i, &extra);
    if (index < 0) return -1;
    bits += book.lengths[index] + extra;
  }
  return bits;
}

CodecError* aacSectionChannel(AacIcs* ics) {
  if (!ics) return createError(__FILE__, __LINE__, "aacSectionChannel", "null channel");
  Layout layout;
  if (!layoutOf(ics, &layout))
    return createError(__FILE__, __LINE__, "aacSectionChannel", "invalid window layout");
  const int32_t lengthBits = sectionLengthBits(ics);
  int16_t lines[1024];
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    // cost[k][book]: bits of band k coded with the book (-1 not allowed).
    int32_t cost[kAacMaxBands][12];
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      const int32_t n = bandLines(ics, layout, g, k, lines);
      int32_t maxAbs = 0;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t a = std::abs(static_cast<int32_t>(lines[i]));
        if (a > maxAbs) maxAbs = a;
      }
      if (maxAbs > kAacMaxQuant)
        return createError(__FILE__, __LINE__, "aacSectionChannel", "quantised value %d out of range", maxAbs);
      const int32_t smallest = smallestBook(maxAbs);
      cost[k][0] = maxAbs == 0 ? 0 : -1;
      for (int32_t book = 1; book <= 11; ++book)
        cost[k][book] = book < smallest ? -1 : aacSpectralBits(lines, n, book);
    }
    // Adjacent bands of one book form one section (the writer merges them),
    // so a partition is a book per band. at[k][book]: fewest bits for bands
    // [0, k] with band k in the book; its section then runs runOf[k][book]
    // bands, and a section costs its header plus lengthBits more each time
    // its length passes an escape. A new section starts after the best end
    // in another book. One pass over the bands, twelve books each.
    const int32_t escape = (1 << lengthBits) - 1;
    int32_t at[kAacMaxBands][12];
    int32_t runOf[kAacMaxBands][12];
    int8_t before[kAacMaxBands][12];  // book of the band before a new section, -1 when extended
    for (int32_t k = 0; k < ics->maxSfb; ++k) {
      // The two best ends of band k - 1, in different books.
      int32_t best1 = -1, best2 = -1;
      if (k > 0) {
        for (int32_t book = 0; book <= 11; ++book) {
          if (at[k - 1][book] < 0) continue;
          if (best1 < 0 || at[k - 1][book] < at[k - 1][best1]) {
            best2 = best1;
            best1 = book;
          } else if (best2 < 0 || at[k - 1][book] < at[k - 1][best2]) {
            best2 = book;
          }
        }
      }
      for (int32_t book = 0; book <= 11; ++book) {
        at[k][book] = -1;
        if (cost[k][book] < 0) continue;
        int32_t total = -1, run = 1;
        int8_t from = -1;
        if (k == 0) {
          total = 4 + lengthBits;
        } else {
          const int32_t other = best1 == book ? best2 : best1;
          if (other >= 0) {
            total = at[k - 1][other] + 4 + lengthBits;
            from = static_cast<int8_t>(other);
          }
          if (at[k - 1][book] >= 0) {
            const int32_t length = runOf[k - 1][book] + 1;
            const int32_t extended = at[k - 1][book] + (length % escape == 0 ? lengthBits : 0);
            if (total < 0 || extended <= total) {
              total = extended;
              run = length;
              from = -1;
            }
          }
          if (total < 0) continue;
        }
        at[k][book] = total + cost[k][book];
        runOf[k][book] = run;
        before[k][book] = from;
      }
    }
    if (ics->maxSfb > 0) {
      int32_t book = -1;
      for (int32_t b = 0; b <= 11; ++b)
        if (at[ics->maxSfb - 1][b] >= 0 && (book < 0 || at[ics->maxSfb - 1][b] < at[ics->maxSfb - 1][book])) book = b;
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
      bool zero = true;
      int32_t n = bandLines(ics, layout, g, k, lines);
      for (int32_t i = 0; i < n && zero; ++i) zero = lines[i] == 0;
      if (zero && last >= 0) ics->scalefactor[g][k] = last;
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

int32_t writeSingle(bit_buf* b, int32_t id, int32_t markKind, int32_t tag, const AacIcs* ics) {
  Layout layout;
  if (!writable(ics, &layout)) return -1;
  // Check the whole element before a bit of it is written.
  if (b && writeIcs(nullptr, ics, false) < 0) return -1;
  const int32_t mark = openMark(b, markKind);
  // The error-resilient block names no element: its order says which.
  int32_t bits = ics->erSyntax ? 0 : WriteBits(b, static_cast<uint32_t>(id), 3);
  bits += WriteBits(b, static_cast<uint32_t>(tag), 4);
  const int32_t icsBits = writeIcs(b, ics, false);
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

int32_t aacWriteChannelPairElement(bit_buf* b, int32_t tag, int32_t commonWindow, int32_t msMaskPresent,
                                   const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right) {
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
  const int32_t leftBits = writeIcs(b, left, commonWindow != 0);
  closeMark(b, first);
  const int32_t second = openMark(b, kMarkCpeSecond);
  const int32_t rightBits = writeIcs(b, right, commonWindow != 0);
  closeMark(b, second);
  return (leftBits < 0 || rightBits < 0) ? -1 : bits + leftBits + rightBits;
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
