// The table module: every codeword of every book decodes through its 4-bit
// tree to its own symbol using exactly its length; the tuple layout matches
// the book's parameters; band tables and windows obey the standard's rules.
#include "aactables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Walks the tree over a bit string given as a code of `length` bits followed
// by `pad` bits of 1s (so a short code must stop by itself).
bool walk(const AacHuffmanBook& book, uint32_t code, int length, int* symbol, int* used) {
  // Bit source: the code, then ones.
  auto bitAt = [&](int i) -> int { return i < length ? (code >> (length - 1 - i)) & 1 : 1; };
  int pos = 0, node = 0;
  for (int step = 0; step < 8; ++step) {
    int nib = 0;
    for (int b = 0; b < 4; ++b) nib = (nib << 1) | bitAt(pos + b);
    if (node >= book.treeNodes) return false;
    const uint32_t e = book.tree[node * 16 + nib];
    const int n = static_cast<int>(e >> 16);
    if (n) {
      *symbol = static_cast<int>(e & 0xFFFF);
      *used = pos + n;
      return true;
    }
    pos += 4;
    node = static_cast<int>(e & 0xFFFF);
  }
  return false;
}

void checkBook(const AacHuffmanBook& book) {
  double kraft = 0.0;
  for (int i = 0; i < book.size; ++i) {
    int sym = -1, used = -1;
    ASSERT_TRUE(walk(book, book.codes[i], book.lengths[i], &sym, &used))
        << "book " << book.codebook << " symbol " << i;
    EXPECT_EQ(sym, i) << "book " << book.codebook;
    EXPECT_EQ(used, book.lengths[i]) << "book " << book.codebook << " symbol " << i;
    kraft += std::ldexp(1.0, -book.lengths[i]);
  }
  EXPECT_DOUBLE_EQ(kraft, 1.0) << "book " << book.codebook;
}

TEST(AacTables, EveryScalefactorCodewordDecodes) {
  EXPECT_EQ(kAacScalefactorBook.size, 121);
  checkBook(kAacScalefactorBook);
  // Difference 0 is the 1-bit code 0.
  EXPECT_EQ(kAacScalefactorBook.lengths[60], 1);
  EXPECT_EQ(kAacScalefactorBook.codes[60], 0u);
}

TEST(AacTables, EverySpectralCodewordDecodes) {
  static const int sizes[12] = {0, 81, 81, 81, 81, 81, 81, 64, 64, 169, 169, 289};
  for (int cb = 1; cb <= 11; ++cb) {
    const AacHuffmanBook& b = kAacSpectralBooks[cb];
    SCOPED_TRACE(cb);
    EXPECT_EQ(b.codebook, cb);
    EXPECT_EQ(b.size, sizes[cb]);
    int expectedSize = 1;
    for (int d = 0; d < b.dimension; ++d) expectedSize *= b.modulo;
    EXPECT_EQ(expectedSize, b.size);
    EXPECT_EQ(b.isUnsigned, cb == 3 || cb == 4 || cb >= 7);
    EXPECT_EQ(b.modulo, b.isUnsigned ? b.lav + 1 : 2 * b.lav + 1);
    checkBook(b);
  }
}

TEST(AacTables, BandTablesAreOrderedAndEndAtTheirLength) {
  for (int i = 0; i < 13; ++i) {
    const AacRateTables& t = kAacRateTables[i];
    struct { const uint16_t* o; int n; int len; } sets[4] = {
        {t.long1024, t.numLong1024, 1024}, {t.short128, t.numShort128, 128},
        {t.long960, t.numLong960, 960}, {t.short120, t.numShort120, 120}};
    for (auto& s : sets) {
      EXPECT_EQ(s.o[0], 0);
      EXPECT_EQ(s.o[s.n], s.len) << "index " << i;
      for (int b = 0; b < s.n; ++b) {
        EXPECT_LT(s.o[b], s.o[b + 1]);
        EXPECT_EQ(s.o[b] % 4, 0);
      }
      EXPECT_LE(s.n, 51);
    }
    EXPECT_LE(t.tnsMaxBandsLong, t.numLong1024);
    EXPECT_LE(t.tnsMaxBandsShort, t.numShort128);
  }
  EXPECT_EQ(kAacRateTables[4].numLong1024, 49);
  EXPECT_EQ(kAacRateTables[4].tnsMaxBandsLong, 42);
}

TEST(AacTables, RateMapping) {
  const struct { uint32_t hz; int index; } cases[] = {
      {96000, 0}, {92017, 0}, {92016, 1}, {44100, 4}, {37566, 4}, {37565, 5}, {22050, 7},
      {9391, 10}, {9390, 11}, {7350, 11}, {1, 11}};
  for (auto& c : cases) EXPECT_EQ(aacRateTableIndex(c.hz), c.index) << c.hz;
}

// The exact lookup finds nominal frequencies only: a rate one hertz off, or
// the reserved and escape indices, find nothing.
TEST(AacTables, SamplingFrequencyIndex) {
  const struct { uint32_t hz; int index; } cases[] = {
      {96000, 0}, {88200, 1}, {64000, 2}, {48000, 3}, {44100, 4}, {32000, 5}, {24000, 6}, {22050, 7},
      {16000, 8}, {12000, 9}, {11025, 10}, {8000, 11}, {7350, 12},
      {44099, -1}, {44101, -1}, {0, -1}, {13, -1}, {15, -1}, {192000, -1}};
  for (auto& c : cases) EXPECT_EQ(aacSamplingFrequencyIndex(c.hz), c.index) << c.hz;
}

TEST(AacTables, WindowHalvesArePowerComplementary) {
  for (int len : {1024, 960, 512, 480, 128, 120}) {
    for (int shape = 0; shape < 2; ++shape) {
      const float* w = aacWindowHalf(len, shape);
      ASSERT_NE(w, nullptr);
      // The falling half is the mirror image: w[n]^2 + w[len-1-n]^2 = 1.
      for (int n = 0; n < len; ++n)
        EXPECT_NEAR(w[n] * w[n] + w[len - 1 - n] * w[len - 1 - n], 1.0, 1e-6) << len << " " << shape << " " << n;
      for (int n = 1; n < len; ++n) EXPECT_GE(w[n], w[n - 1]);
    }
  }
  EXPECT_EQ(aacWindowHalf(256, 0), nullptr);
  EXPECT_EQ(aacWindowHalf(1024, 2), nullptr);
  // Sine window value against the formula.
  EXPECT_NEAR(aacWindowHalf(128, 0)[0], std::sin(3.14159265358979 / 256 * 0.5), 1e-7);
}

TEST(AacTables, InverseQuantisation) {
  const float* t = aacInvQuantTable();
  EXPECT_EQ(t[0], 0.0f);
  EXPECT_EQ(t[1], 1.0f);
  EXPECT_NEAR(t[8], 16.0f, 1e-4);
  EXPECT_NEAR(t[8191], std::pow(8191.0, 4.0 / 3.0), 1.0);
}

}  // namespace
