// Noiseless coding and the raw_data_block writer. Hand-quantised spectra
// (every codebook range, escapes, zero bands, all window sequences, short
// window grouping, channel pairs with and without a common window and M/S)
// are written as access units and decoded by our decoder; the units, the
// intended dequantised spectra and our decoder's PCM go to the fixture folder,
// where a shell step decodes the units with ffmpeg and compares both decodes
// with a numpy synthesis of the intended spectra.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "aac_writer.h"
#include "aactables.h"
#include "audiospecificconfig.h"
#include "bit_buf.h"
#include "encoder_test_util.h"
#include "mp4AudioDecIfc.h"

namespace {

struct Buffer {
  bit_buf* b = CreateBitBuffer(6144 * 2 * 2);
  ~Buffer() { DeleteBitBuffer(b); }
};

std::vector<uint8_t> takeBytes(bit_buf* b) {
  const int32_t bits = GetBitsAvail(b);
  std::vector<uint8_t> bytes((bits + 7) / 8);
  ReadBytes(b, bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

// Magnitude classes that reach every codebook range and the escape.
const int32_t kRanges[] = {0, 1, 2, 3, 4, 6, 7, 10, 12, 15, 16, 40, 300, 2000};

struct ChannelPlan {
  int32_t sequence, shape, maxSfb;
  std::vector<int32_t> groups;
};

// Fills a channel with random values; each band gets a magnitude class and a
// scalefactor that keeps the dequantised lines near the same level, with
// steps of at most 60 between coded bands.
void fillChannel(AacIcs* ics, int32_t rateIndex, const ChannelPlan& plan, std::mt19937& rng) {
  std::memset(ics, 0, sizeof(*ics));
  ics->samplingRateIndex = rateIndex;
  ics->windowSequence = plan.sequence;
  ics->windowShape = plan.shape;
  ics->maxSfb = plan.maxSfb;
  ics->numWindowGroups = static_cast<int32_t>(plan.groups.size());
  for (size_t g = 0; g < plan.groups.size(); ++g) ics->windowGroupLength[g] = plan.groups[g];
  const AacRateTables& t = kAacRateTables[rateIndex];
  const bool isShort = plan.sequence == 2;
  const uint16_t* offsets = isShort ? t.short128 : t.long1024;
  const int32_t bands = std::min(plan.maxSfb, isShort ? t.numShort128 : t.numLong1024);
  int32_t window = 0;
  int32_t previous = 140;
  for (int32_t g = 0; g < ics->numWindowGroups; ++g) {
    for (int32_t k = 0; k < bands; ++k) {
      const int32_t range = kRanges[rng() % (sizeof(kRanges) / sizeof(kRanges[0]))];
      bool coded = false;
      for (int32_t w = window; w < window + ics->windowGroupLength[g]; ++w) {
        for (int32_t i = offsets[k]; i < offsets[k + 1]; ++i) {
          int32_t v = range ? static_cast<int32_t>(rng() % (2 * range + 1)) - range : 0;
          if (rng() % 4 == 0) v = 0;
          if (range >= 16 && rng() % 16 == 0) v = (rng() & 1) ? range : -range;
          ics->quant[(isShort ? w * 128 : 0) + i] = static_cast<int16_t>(v);
          coded |= v != 0;
        }
      }
      int32_t sf = 140 - static_cast<int32_t>(std::lround(16.0 / 3.0 * std::log2(std::max(1, range))));
      sf += static_cast<int32_t>(rng() % 9) - 4;
      sf = std::max(previous - 60, std::min(previous + 60, sf));
      ics->scalefactor[g][k] = sf;
      if (coded) previous = sf;
    }
    window += ics->windowGroupLength[g];
  }
  if (bands > 3 && !isShort && ics->quant[offsets[2] + 1] != 0) {
    ics->quant[offsets[2]] = 8191;  // the largest escape, in a band that is coded anyway
  }
}

// The dequantised spectrum the decoder must reconstruct, in window order.
std::vector<double> dequantise(const AacIcs& ics) {
  std::vector<double> x(1024, 0.0);
  const AacRateTables& t = kAacRateTables[ics.samplingRateIndex];
  const bool isShort = ics.windowSequence == 2;
  const uint16_t* offsets = isShort ? t.short128 : t.long1024;
  int32_t window = 0;
  for (int32_t g = 0; g < ics.numWindowGroups; ++g) {
    for (int32_t k = 0; k < ics.maxSfb; ++k) {
      if (ics.codebook[g][k] == kAacZeroBook) continue;
      const double gain = std::pow(2.0, 0.25 * (ics.scalefactor[g][k] - 100));
      for (int32_t w = window; w < window + ics.windowGroupLength[g]; ++w) {
        for (int32_t i = offsets[k]; i < offsets[k + 1]; ++i) {
          const int32_t line = (isShort ? w * 128 : 0) + i;
          const double q = ics.quant[line];
          x[line] = (q < 0 ? -1.0 : 1.0) * std::pow(std::fabs(q), 4.0 / 3.0) * gain;
        }
      }
    }
    window += ics.windowGroupLength[g];
  }
  return x;
}

struct FramePlan {
  ChannelPlan left, right;
  int32_t commonWindow = 0;
  int32_t msMaskPresent = 0;
  int32_t fillBytes = 0;
};

struct Stream {
  std::string name;
  int32_t rate, rateIndex, channels;
  std::vector<FramePlan> frames;
};

std::vector<Stream> streams() {
  const std::vector<int32_t> longGroup = {1};
  Stream mono{"mono44", 44100, 4, 1, {}};
  auto add = [&](Stream& s, ChannelPlan l, ChannelPlan r, int32_t common, int32_t ms, int32_t fill = 0) {
    FramePlan f;
    f.left = l;
    f.right = r;
    f.commonWindow = common;
    f.msMaskPresent = ms;
    f.fillBytes = fill;
    s.frames.push_back(f);
  };
  const ChannelPlan none{0, 0, 0, longGroup};
  add(mono, {0, 1, 49, longGroup}, none, 0, 0);
  add(mono, {0, 0, 30, longGroup}, none, 0, 0, 20);
  add(mono, {1, 0, 40, longGroup}, none, 0, 0);
  add(mono, {2, 1, 14, {3, 1, 3, 1}}, none, 0, 0);
  add(mono, {2, 0, 10, {1, 1, 1, 1, 1, 1, 1, 1}}, none, 0, 0);
  add(mono, {2, 1, 12, {8}}, none, 0, 0, 3);
  add(mono, {3, 1, 49, longGroup}, none, 0, 0);
  add(mono, {0, 1, 0, longGroup}, none, 0, 0);
  add(mono, {0, 1, 45, longGroup}, none, 0, 0);
  add(mono, {0, 0, 49, longGroup}, none, 0, 0, 200);
  add(mono, {0, 1, 20, longGroup}, none, 0, 0);
  Stream stereo{"stereo48", 48000, 3, 2, {}};
  add(stereo, {0, 1, 49, longGroup}, {0, 1, 49, longGroup}, 1, 0);
  add(stereo, {0, 1, 40, longGroup}, {0, 1, 40, longGroup}, 1, 1);
  add(stereo, {1, 0, 45, longGroup}, {1, 0, 45, longGroup}, 1, 2);
  add(stereo, {2, 0, 14, {2, 2, 4}}, {2, 0, 14, {2, 2, 4}}, 1, 1);
  add(stereo, {3, 1, 49, longGroup}, {3, 0, 33, longGroup}, 0, 0);
  add(stereo, {0, 1, 20, longGroup}, {0, 0, 49, longGroup}, 0, 0);
  add(stereo, {0, 0, 49, longGroup}, {0, 0, 49, longGroup}, 1, 1);
  add(stereo, {0, 0, 0, longGroup}, {0, 0, 0, longGroup}, 1, 0);
  add(stereo, {0, 1, 49, longGroup}, {0, 1, 49, longGroup}, 1, 2);
  return {mono, stereo};
}

std::vector<uint8_t> ascOf(const Stream& s) {
  GaSpecificConfigRecord ga;
  std::memset(&ga, 0, sizeof(ga));
  ga.frameLength = 1024;
  AscWriteRecord r;
  std::memset(&r, 0, sizeof(r));
  r.objectType = 2;
  r.samplingFrequency = s.rate;
  r.channelConfiguration = s.channels;
  r.ga = &ga;
  r.specificWriter = writeGaSpecificConfig;
  Buffer b;
  EXPECT_EQ(writeAudioSpecificConfig(&r, b.b), nullptr);
  return takeBytes(b.b);
}

TEST(NoiselessCoding, SectioningIsNoWorseThanSimplePartitions) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 40; ++trial) {
    AacIcs ics;
    const bool isShort = trial % 3 == 0;
    ChannelPlan plan = isShort ? ChannelPlan{2, 0, 14, {2, 3, 3}} : ChannelPlan{0, 1, 49, {1}};
    fillChannel(&ics, 4, plan, rng);
    CodecError* e = aacSectionChannel(&ics);
    ASSERT_EQ(e, nullptr) << e->message;
    // The bits counted without a buffer equal the bits written.
    Buffer b;
    const int32_t counted = aacWriteSingleChannelElement(nullptr, 0, &ics);
    EXPECT_EQ(aacWriteSingleChannelElement(b.b, 0, &ics), counted);
    EXPECT_EQ(aacSectionedSingleChannelBits(&ics), counted);
    EXPECT_EQ(GetBitsAvail(b.b), counted);
    // Alternatives: every band its own smallest book; every coded band in book 11.
    for (int alternative = 0; alternative < 2; ++alternative) {
      AacIcs other = ics;
      for (int32_t g = 0; g < other.numWindowGroups; ++g) {
        for (int32_t k = 0; k < other.maxSfb; ++k) {
          if (alternative == 1) {
            if (other.codebook[g][k] != kAacZeroBook) other.codebook[g][k] = 11;
            continue;
          }
          // The smallest book that codes the band.
          for (int32_t book = 0; book <= 11; ++book) {
            bool fits = true;
            const AacRateTables& t = kAacRateTables[4];
            const uint16_t* off = isShort ? t.short128 : t.long1024;
            int32_t first = 0;
            for (int32_t gg = 0; gg < g; ++gg) first += other.windowGroupLength[gg];
            for (int32_t w = first; w < first + other.windowGroupLength[g] && fits; ++w)
              for (int32_t i = off[k]; i < off[k + 1] && fits; ++i) {
                const int32_t v = std::abs(static_cast<int32_t>(other.quant[(isShort ? w * 128 : 0) + i]));
                const int32_t lav[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, 8191};
                fits = v <= lav[book];
              }
            if (fits) {
              other.codebook[g][k] = book;
              break;
            }
          }
        }
      }
      const int32_t otherBits = aacWriteSingleChannelElement(nullptr, 0, &other);
      ASSERT_GT(otherBits, 0);
      EXPECT_LE(counted, otherBits) << "trial " << trial;
    }
  }
}

// Bits of one band in one book by walking its tuples with the book's own
// parameters: the reference for the counters and the sectioning.
int32_t referenceBits(const int16_t* v, int32_t n, int32_t bookNumber) {
  const AacHuffmanBook& book = kAacSpectralBooks[bookNumber];
  int32_t bits = 0;
  for (int32_t i = 0; i < n; i += book.dimension) {
    int32_t index = 0;
    for (int32_t d = 0; d < book.dimension; ++d) {
      const int32_t value = v[i + d], magnitude = std::abs(value);
      if (magnitude > (book.escape ? 8191 : book.lav)) return -1;
      if (book.isUnsigned) {
        bits += magnitude != 0;
        if (book.escape && magnitude >= 16) {
          int32_t top = 4;  // escape: 2^top <= magnitude < 2^(top + 1)
          while (magnitude >> (top + 1)) ++top;
          bits += 2 * (top - 4) + 5;
        }
        index = index * book.modulo + std::min(magnitude, book.escape ? 16 : book.lav);
      } else {
        index = index * book.modulo + value + book.valueOffset;
      }
    }
    bits += book.lengths[index];
  }
  return bits;
}

TEST(NoiselessCoding, SpectralBitsMatchTheTupleWalkInEveryBook) {
  std::mt19937 rng(31);
  // Per book: magnitudes up to its range, and one beyond it.
  for (int32_t book = 1; book <= 11; ++book) {
    const int32_t lav = book == 11 ? 8191 : kAacSpectralBooks[book].lav;
    for (int32_t limit : {0, 1, lav / 2, lav, lav + 1}) {
      for (int32_t n : {4, 8, 16, 96, 1024, 2048}) {
        std::vector<int16_t> v(n);
        for (auto& x : v) {
          x = static_cast<int16_t>(static_cast<int32_t>(rng() % (2 * limit + 1)) - limit);
          if (book == 11 && rng() % 3 == 0) x = static_cast<int16_t>(static_cast<int32_t>(rng() % 33) - 16);
        }
        if (limit > lav) v[rng() % n] = static_cast<int16_t>(rng() & 1 ? limit : -limit);
        EXPECT_EQ(aacSpectralBits(v.data(), n, book), referenceBits(v.data(), n, book))
            << "book " << book << " limit " << limit << " n " << n;
      }
    }
  }
}

// The fewest bits of section data plus spectral data of one window group,
// found by trying every section start and book (slow, independent of the
// sectioning's own search).
int32_t fewestSectionedBits(const AacIcs& ics, int32_t group) {
  const AacRateTables& t = kAacRateTables[ics.samplingRateIndex];
  const bool isShort = ics.windowSequence == 2;
  const uint16_t* off = isShort ? t.short128 : t.long1024;
  const int32_t lengthBits = isShort ? 3 : 5, escape = (1 << lengthBits) - 1;
  int32_t first = 0;
  for (int32_t g = 0; g < group; ++g) first += ics.windowGroupLength[g];
  std::vector<std::vector<int32_t>> cost(ics.maxSfb, std::vector<int32_t>(12));
  for (int32_t k = 0; k < ics.maxSfb; ++k) {
    std::vector<int16_t> lines;
    for (int32_t w = first; w < first + ics.windowGroupLength[group]; ++w)
      for (int32_t i = off[k]; i < off[k + 1]; ++i) lines.push_back(ics.quant[(isShort ? w * 128 : 0) + i]);
    bool zero = true;
    for (int16_t x : lines) zero = zero && x == 0;
    cost[k][0] = zero ? 0 : -1;
    for (int32_t book = 1; book <= 11; ++book)
      cost[k][book] = referenceBits(lines.data(), static_cast<int32_t>(lines.size()), book);
  }
  std::vector<int32_t> best(ics.maxSfb + 1, 1 << 30);
  best[0] = 0;
  for (int32_t end = 1; end <= ics.maxSfb; ++end) {
    for (int32_t book = 0; book <= 11; ++book) {
      int32_t spectral = 0;
      for (int32_t start = end - 1; start >= 0; --start) {
        if (cost[start][book] < 0) break;
        spectral += cost[start][book];
        const int32_t length = end - start;
        const int32_t bits = best[start] + 4 + lengthBits * (length / escape + 1) + spectral;
        best[end] = std::min(best[end], bits);
      }
    }
  }
  return best[ics.maxSfb];
}

// The same bits for the books the sectioning chose.
int32_t chosenSectionedBits(const AacIcs& ics, int32_t group) {
  const AacRateTables& t = kAacRateTables[ics.samplingRateIndex];
  const bool isShort = ics.windowSequence == 2;
  const uint16_t* off = isShort ? t.short128 : t.long1024;
  const int32_t lengthBits = isShort ? 3 : 5, escape = (1 << lengthBits) - 1;
  int32_t first = 0;
  for (int32_t g = 0; g < group; ++g) first += ics.windowGroupLength[g];
  int32_t bits = 0;
  for (int32_t k = 0; k < ics.maxSfb;) {
    const int32_t book = ics.codebook[group][k];
    int32_t end = k;
    for (; end < ics.maxSfb && ics.codebook[group][end] == book; ++end) {
      std::vector<int16_t> lines;
      for (int32_t w = first; w < first + ics.windowGroupLength[group]; ++w)
        for (int32_t i = off[end]; i < off[end + 1]; ++i) lines.push_back(ics.quant[(isShort ? w * 128 : 0) + i]);
      bool zero = true;
      for (int16_t x : lines) zero = zero && x == 0;
      const int32_t b = book == 0 ? (zero ? 0 : -1) : referenceBits(lines.data(), static_cast<int32_t>(lines.size()), book);
      if (b < 0) return -1;
      bits += b;
    }
    bits += 4 + lengthBits * ((end - k) / escape + 1);
    k = end;
  }
  return bits;
}

// The one-pass search keeps one run length per book and band, so it finds
// the fewest bits as long as no section can reach the escape length (31
// long bands, 7 short ones): the layouts here stay below it, or have every
// line alike (one section in one book is then the cheapest).
TEST(NoiselessCoding, SectioningFindsTheFewestBits) {
  std::mt19937 rng(7);
  const struct {
    int32_t rateIndex;
    ChannelPlan plan;
    int32_t quietFrom;  // bands from here on are zero (or +-1 now and then)
    int32_t alike;      // 0: random bands; 1: every line 1; 2: every line 0
  } cases[] = {
      {4, {0, 1, 30, {1}}, 30, 0},  {4, {0, 0, 30, {1}}, 8, 0},      {3, {0, 1, 30, {1}}, 12, 0},
      {11, {0, 1, 30, {1}}, 20, 0}, {4, {2, 0, 6, {2, 3, 3}}, 6, 0}, {4, {2, 0, 6, {8}}, 3, 0},
      {3, {2, 1, 6, {1, 1, 2, 4}}, 5, 0}, {4, {0, 1, 49, {1}}, 0, 1}, {4, {0, 1, 49, {1}}, 0, 2},
      {4, {2, 0, 14, {1, 7}}, 0, 1},  {4, {2, 0, 14, {4, 4}}, 0, 2},
  };
  for (const auto& c : cases) {
    for (int32_t trial = 0; trial < 12; ++trial) {
      AacIcs ics;
      fillChannel(&ics, c.rateIndex, c.plan, rng);
      const bool isShort = c.plan.sequence == 2;
      const uint16_t* off = isShort ? kAacRateTables[c.rateIndex].short128 : kAacRateTables[c.rateIndex].long1024;
      for (int32_t w = 0; w < (isShort ? 8 : 1); ++w) {
        for (int32_t i = off[std::min(c.quietFrom, c.plan.maxSfb)]; i < off[c.plan.maxSfb]; ++i) {
          int16_t& q = ics.quant[(isShort ? w * 128 : 0) + i];
          q = static_cast<int16_t>(rng() % 23 == 0 ? (rng() & 1 ? 1 : -1) : 0);
          if (c.alike) q = c.alike == 1 ? 1 : 0;
        }
      }
      for (auto& group : ics.scalefactor)
        for (int32_t& sf : group) sf = 100;  // the books do not depend on them
      CodecError* e = aacSectionChannel(&ics);
      ASSERT_EQ(e, nullptr) << e->message;
      for (int32_t g = 0; g < ics.numWindowGroups; ++g)
        EXPECT_EQ(chosenSectionedBits(ics, g), fewestSectionedBits(ics, g))
            << "rate " << c.rateIndex << " bands " << c.plan.maxSfb << " trial " << trial << " group " << g;
    }
  }
}

TEST(NoiselessCoding, SpectralBitsAndRefusals) {
  const int16_t ones[4] = {1, -1, 0, 1};
  EXPECT_GT(aacSpectralBits(ones, 4, 1), 0);
  EXPECT_EQ(aacSpectralBits(ones, 4, 3), aacSpectralBits(ones, 4, 3));
  const int16_t two[2] = {2, 0};
  EXPECT_EQ(aacSpectralBits(two, 2, 1), -1);  // dimension 4
  EXPECT_EQ(aacSpectralBits(two, 2, 7) - kAacSpectralBooks[7].lengths[2 * 8 + 0], 1);  // one sign bit
  const int16_t escapes[2] = {16, -8191};
  // Book 11: codeword of (16, 16), two sign bits, escapes of 5 and 2 * 8 + 5 bits.
  EXPECT_EQ(aacSpectralBits(escapes, 2, 11), kAacSpectralBooks[11].lengths[16 * 17 + 16] + 2 + 5 + 21);
  EXPECT_EQ(aacSpectralBits(escapes, 2, 9), -1);
  AacIcs ics;
  std::mt19937 rng(1);
  fillChannel(&ics, 4, {0, 1, 10, {1}}, rng);
  ics.scalefactor[0][5] = ics.scalefactor[0][4] + 61;
  for (int i = 0; i < 1024; ++i) ics.quant[i] = 1;  // every band coded
  CodecError* e = aacSectionChannel(&ics);
  ASSERT_NE(e, nullptr);
  deleteError(e);
  fillChannel(&ics, 4, {2, 1, 10, {3, 3}}, rng);  // groups do not cover 8 windows
  e = aacSectionChannel(&ics);
  ASSERT_NE(e, nullptr);
  deleteError(e);
  fillChannel(&ics, 4, {0, 1, 50, {1}}, rng);  // 44.1 kHz has 49 long bands
  e = aacSectionChannel(&ics);
  ASSERT_NE(e, nullptr);
  deleteError(e);
}

// Records filled with random bytes (and random but plausible ones) are
// refused or written, never read or written out of bounds.
TEST(NoiselessCoding, GarbageRecordsAreRefusedCleanly) {
  std::mt19937 rng(4242);
  int written = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    AacIcs ics;
    uint8_t* raw = reinterpret_cast<uint8_t*>(&ics);
    for (size_t i = 0; i < sizeof(ics); ++i) raw[i] = static_cast<uint8_t>(rng());
    if (trial % 2) {
      // Mostly valid: a real layout with random values and scalefactors.
      ics.samplingRateIndex = static_cast<int32_t>(rng() % 14);
      ics.windowSequence = static_cast<int32_t>(rng() % 4);
      ics.maxSfb = static_cast<int32_t>(rng() % 52);
      ics.numWindowGroups = ics.windowSequence == 2 ? 2 : 1;
      ics.windowGroupLength[0] = ics.windowSequence == 2 ? 5 : 1;
      ics.windowGroupLength[1] = 3;
      for (int16_t& q : ics.quant) q = static_cast<int16_t>(static_cast<int32_t>(rng() % 41) - 20);
      for (auto& row : ics.scalefactor)
        for (int32_t& sf : row) sf = 90 + static_cast<int32_t>(rng() % 20);
      // TNS filters within their fields, on a third of the records.
      const bool isShort = ics.windowSequence == 2;
      ics.tns.present = rng() % 3 == 0;
      ics.tns.numWindows = isShort ? 8 : 1;
      for (TnsWindow& w : ics.tns.window) {
        w.numFilters = static_cast<int32_t>(rng() % 2);
        w.coefRes = static_cast<int32_t>(rng() % 2);
        w.length = static_cast<int32_t>(rng() % (isShort ? 16 : 64));
        w.order = static_cast<int32_t>(rng() % (isShort ? 8 : 13));
        w.direction = static_cast<int32_t>(rng() % 2);
        w.coefCompress = static_cast<int32_t>(rng() % 2);
        const int32_t bits = 3 + w.coefRes - w.coefCompress;
        for (int8_t& k : w.coef) k = static_cast<int8_t>(static_cast<int32_t>(rng() % (1u << bits)) - (1 << (bits - 1)));
      }
      // Long-term prediction within its fields on a third of the long
      // records, and either syntax (the error-resilient one moves the
      // filters and drops the element id).
      ics.ltp.present = !isShort && rng() % 3 == 0;
      ics.ltp.lag = static_cast<int32_t>(rng() % 2048);
      ics.ltp.coef = static_cast<int32_t>(rng() % 8);
      for (uint8_t& u : ics.ltp.used) u = static_cast<uint8_t>(rng() % 2);
      ics.erSyntax = static_cast<int32_t>(rng() % 2);
    }
    CodecError* e = aacSectionChannel(&ics);
    if (e) {
      deleteError(e);
      continue;
    }
    Buffer b;
    const int32_t counted = aacWriteSingleChannelElement(nullptr, 1, &ics);
    ASSERT_EQ(aacWriteSingleChannelElement(b.b, 1, &ics), counted);
    if (counted > 0) ++written;
  }
  EXPECT_GT(written, 100);
}

std::string message(CodecError* e) {
  std::string m = e ? (e->message ? e->message : "error") : "";
  deleteError(e);
  return m;
}

// Writes the streams, decodes them with our decoder and leaves everything for
// the ffmpeg and numpy comparison.
TEST(NoiselessCoding, HandQuantisedStreamsDecode) {
  for (const Stream& s : streams()) {
    SCOPED_TRACE(s.name);
    std::mt19937 rng(static_cast<uint32_t>(s.rate));
    const std::vector<uint8_t> asc = ascOf(s);
    std::vector<uint8_t> units;
    std::vector<double> spectra;
    std::string windows;
    AudioSpecificConfig config;
    std::memset(&config, 0, sizeof(config));
    ASSERT_EQ(mp4AudioDecParseAsc(asc.data(), static_cast<int32_t>(asc.size()), &config), 0);
    AudioSpecificConfig* records[1] = {&config};
    Mp4AudioDec* dec = mp4AudioDecOpen(records, 1);
    ASSERT_NE(dec, nullptr);
    AuBuffer* au = auBufferCreate(nullptr, 0);
    CuBuffer* cu = cuBufferCreate(2 * s.channels, 2048, s.rate, 2048);
    AuBuffer* aus[1] = {au};
    std::vector<float> pcm;
    for (size_t f = 0; f < s.frames.size(); ++f) {
      const FramePlan& plan = s.frames[f];
      AacIcs left, right;
      fillChannel(&left, s.rateIndex, plan.left, rng);
      ASSERT_EQ(message(aacSectionChannel(&left)), "");
      Buffer b;
      int32_t bits = 0;
      std::vector<double> l = dequantise(left), r;
      if (s.channels == 1) {
        bits += aacWriteSingleChannelElement(b.b, 0, &left);
        // The count from the sectioning's sums is the written count.
        EXPECT_EQ(aacSectionedSingleChannelBits(&left), bits) << "frame " << f;
      } else {
        fillChannel(&right, s.rateIndex, plan.right, rng);
        ASSERT_EQ(message(aacSectionChannel(&right)), "");
        uint8_t ms[kAacMaxGroups][kAacMaxBands] = {};
        for (auto& row : ms)
          for (auto& m : row) m = static_cast<uint8_t>(rng() & 1);
        bits += aacWriteChannelPairElement(b.b, 0, plan.commonWindow, plan.msMaskPresent, ms, &left, &right);
        EXPECT_EQ(aacSectionedChannelPairBits(plan.commonWindow, plan.msMaskPresent, ms, &left, &right), bits)
            << "frame " << f;
        r = dequantise(right);
        if (plan.msMaskPresent) {
          // Mid/side bands: left = m + s, right = m - s.
          const AacRateTables& t = kAacRateTables[s.rateIndex];
          const bool isShort = left.windowSequence == 2;
          const uint16_t* offsets = isShort ? t.short128 : t.long1024;
          int32_t window = 0;
          for (int32_t g = 0; g < left.numWindowGroups; ++g) {
            for (int32_t k = 0; k < left.maxSfb; ++k) {
              if (plan.msMaskPresent == 1 && !ms[g][k]) continue;
              for (int32_t w = window; w < window + left.windowGroupLength[g]; ++w)
                for (int32_t i = offsets[k]; i < offsets[k + 1]; ++i) {
                  const int32_t line = (isShort ? w * 128 : 0) + i;
                  const double m = l[line], side = r[line];
                  l[line] = m + side;
                  r[line] = m - side;
                }
            }
            window += left.windowGroupLength[g];
          }
        }
      }
      if (plan.fillBytes) bits += aacWriteFillElement(b.b, plan.fillBytes);
      bits += aacWriteEndElement(b.b, bits);
      EXPECT_EQ(bits % 8, 0);
      EXPECT_EQ(GetBitsAvail(b.b), bits);
      const std::vector<uint8_t> unit = takeBytes(b.b);
      const uint32_t size = static_cast<uint32_t>(unit.size());
      for (int i = 0; i < 4; ++i) units.push_back(static_cast<uint8_t>(size >> (8 * i)));
      units.insert(units.end(), unit.begin(), unit.end());
      spectra.insert(spectra.end(), l.begin(), l.end());
      windows += std::to_string(left.windowSequence) + " " + std::to_string(left.windowShape);
      if (s.channels == 2) {
        spectra.insert(spectra.end(), r.begin(), r.end());
        windows += " " + std::to_string(right.windowSequence) + " " + std::to_string(right.windowShape);
      }
      windows += "\n";
      auBufferReset(au);
      int32_t status = auBufferFeed(au, unit.data(), static_cast<int32_t>(unit.size()));
      cuBufferReset(cu);
      if (!status) status = mp4AudioDecDecodeAu(dec, aus, cu);
      EXPECT_EQ(status, 0) << "frame " << f;
      int32_t ch = 0, n = 0;
      cuBufferGetChannels(cu, &ch);
      cuBufferGetSamplesPerChannel(cu, &n);
      ASSERT_EQ(ch, s.channels);
      ASSERT_EQ(n, 1024);
      float* samples = nullptr;
      cuBufferGetSamples(cu, &samples);
      for (int i = 0; i < n * ch; ++i) pcm.push_back(samples[i] / 32768.0f);
    }
    cuBufferDestroy(&cu);
    auBufferDestroy(&au);
    mp4AudioDecClose(&dec);
    EXPECT_TRUE(writeFile(fixturePath("nl_" + s.name + ".asc"), asc.data(), asc.size()));
    EXPECT_TRUE(writeFile(fixturePath("nl_" + s.name + ".units"), units.data(), units.size()));
    EXPECT_TRUE(writeFile(fixturePath("nl_" + s.name + ".spec.f64"), spectra.data(), spectra.size() * sizeof(double)));
    EXPECT_TRUE(writeFile(fixturePath("nl_" + s.name + ".windows.txt"), windows.data(), windows.size()));
    EXPECT_TRUE(writeFile(fixturePath("nl_" + s.name + ".ours.f32"), pcm.data(), pcm.size() * sizeof(float)));
  }
}

}  // namespace
