// SBR payload syntax: frame grids of every class, the grid checks, header
// defaults and reset decisions, extended-data sizes and the CRC.
#include <gtest/gtest.h>

#include <vector>

#include "sbr_bit.h"
#include "test_util.h"

namespace {

using sbrtest::BitWriter;

SbrBitReader readerOf(const BitWriter& w) {
  SbrBitReader br;
  sbrBitInit(&br, w.bytes().data(), static_cast<int>(w.bytes().size()));
  return br;
}

struct FixFixCase {
  int T, envBits, res;
  std::vector<int> borders, noiseBorders;
};

TEST(SbrGrid, FixFixTemplates) {
  const FixFixCase cases[] = {
      {16, 0, 1, {0, 16}, {0, 16}},
      {16, 1, 0, {0, 8, 16}, {0, 8, 16}},
      {16, 2, 1, {0, 4, 8, 12, 16}, {0, 8, 16}},
      {15, 2, 1, {0, 4, 8, 12, 15}, {0, 8, 15}},
      {15, 1, 1, {0, 8, 15}, {0, 8, 15}},
  };
  for (const auto& c : cases) {
    BitWriter w;
    w.put(0, 2);          // FIXFIX
    w.put(c.envBits, 2);  // 2^n envelopes
    w.put(c.res, 1);
    SbrBitReader br = readerOf(w);
    SbrGrid g;
    ASSERT_EQ(sbrReadFrameGrid(&g, &br, c.T), 1);
    EXPECT_EQ(br.bitsRead, 5);
    ASSERT_EQ(g.numEnv + 1, static_cast<int>(c.borders.size()));
    for (size_t i = 0; i < c.borders.size(); i++) EXPECT_EQ(g.borders[i], c.borders[i]) << c.T << " " << i;
    ASSERT_EQ(g.numNoiseEnv + 1, static_cast<int>(c.noiseBorders.size()));
    for (size_t i = 0; i < c.noiseBorders.size(); i++) EXPECT_EQ(g.noiseBorders[i], c.noiseBorders[i]);
    for (int i = 0; i < g.numEnv; i++) EXPECT_EQ(g.freqRes[i], c.res);
    EXPECT_EQ(g.transientIdx, -1);
    EXPECT_EQ(sbrCheckFrameGrid(&g, c.T, c.T, 0), 1);
  }
  BitWriter w;
  w.put(0, 2);
  w.put(3, 2);  // 8 envelopes
  w.put(1, 1);
  SbrBitReader br = readerOf(w);
  SbrGrid g;
  EXPECT_EQ(sbrReadFrameGrid(&g, &br, 16), 0);
  EXPECT_EQ(sbrReadFrameGrid(&g, &br, 14), 0) << "only 15 or 16 time slots";
}

TEST(SbrGrid, VariableBordersTransientsAndNoiseBorders) {
  {  // FIXVAR: last border T + 1, relative borders 4 and 2 read from the end, pointer 2.
    BitWriter w;
    w.put(1, 2);
    w.put(1, 2);                   // absolute: 16 + 1
    w.put(2, 2);                   // two relative borders
    w.put(1, 2);                   // 4
    w.put(0, 2);                   // 2
    w.put(2, 2);                   // pointer (ceil(log2(4)) = 2 bits)
    w.put(1, 1); w.put(0, 1); w.put(1, 1);  // resolution of envelopes 2, 1, 0
    SbrBitReader br = readerOf(w);
    SbrGrid g;
    ASSERT_EQ(sbrReadFrameGrid(&g, &br, 16), 1);
    EXPECT_EQ(br.bitsRead, 15);
    ASSERT_EQ(g.numEnv, 3);
    EXPECT_EQ(g.borders[0], 0);
    EXPECT_EQ(g.borders[1], 11);
    EXPECT_EQ(g.borders[2], 13);
    EXPECT_EQ(g.borders[3], 17);
    EXPECT_EQ(g.freqRes[0], 1);
    EXPECT_EQ(g.freqRes[1], 0);
    EXPECT_EQ(g.freqRes[2], 1);
    EXPECT_EQ(g.transientIdx, 2);  // envelopes + 1 - pointer
    EXPECT_EQ(g.numNoiseEnv, 2);
    EXPECT_EQ(g.noiseBorders[1], g.borders[2]);
    EXPECT_EQ(sbrCheckFrameGrid(&g, 16, 16, 0), 1);
    EXPECT_EQ(sbrCheckFrameGrid(&g, 17, 16, 0), 0) << "the first border must continue the previous frame";
  }
  {  // VARFIX: first border 2, borders forward, pointer 1 (no transient, middle = border before last).
    BitWriter w;
    w.put(2, 2);
    w.put(2, 2);   // abs 2
    w.put(2, 2);   // two relative borders
    w.put(2, 2);   // 6
    w.put(1, 2);   // 4
    w.put(1, 2);   // pointer
    w.put(0, 1); w.put(1, 1); w.put(1, 1);
    SbrBitReader br = readerOf(w);
    SbrGrid g;
    ASSERT_EQ(sbrReadFrameGrid(&g, &br, 16), 1);
    ASSERT_EQ(g.numEnv, 3);
    EXPECT_EQ(g.borders[0], 2);
    EXPECT_EQ(g.borders[1], 8);
    EXPECT_EQ(g.borders[2], 12);
    EXPECT_EQ(g.borders[3], 16);
    EXPECT_EQ(g.transientIdx, -1);
    EXPECT_EQ(g.noiseBorders[1], 12);
    EXPECT_EQ(sbrCheckFrameGrid(&g, 18, 16, 0), 1);
    EXPECT_EQ(sbrCheckFrameGrid(&g, 16, 16, 1), 1) << "after an error the start may be anything up to 3";
  }
  {  // VARVAR with 6 envelopes is refused.
    BitWriter w;
    w.put(3, 2);
    w.put(0, 2);
    w.put(0, 2);
    w.put(3, 2);
    w.put(2, 2);
    SbrBitReader br = readerOf(w);
    SbrGrid g;
    EXPECT_EQ(sbrReadFrameGrid(&g, &br, 16), 0);
  }
  {  // A pointer beyond the envelope count is refused.
    BitWriter w;
    w.put(1, 2);
    w.put(0, 2);
    w.put(0, 2);  // one envelope
    w.put(3, 1);  // pointer: ceil(log2(2)) = 1 bit -> 1 is fine; use FIXVAR with 2 envelopes below
    SbrBitReader br = readerOf(w);
    SbrGrid g;
    EXPECT_EQ(sbrReadFrameGrid(&g, &br, 16), 1);
    BitWriter w2;
    w2.put(1, 2);
    w2.put(0, 2);
    w2.put(1, 2);  // two envelopes
    w2.put(0, 2);
    w2.put(3, 2);  // pointer 3 > 2
    w2.put(0, 2);
    SbrBitReader br2 = readerOf(w2);
    EXPECT_EQ(sbrReadFrameGrid(&g, &br2, 16), 0);
  }
}

TEST(SbrGrid, CheckRules) {
  SbrGrid g;
  sbrInitDefaultGrid(&g, 16);
  EXPECT_EQ(sbrCheckFrameGrid(&g, 16, 16, 0), 1);
  SbrGrid bad = g;
  bad.borders[1] = 20;  // past T + 3
  bad.noiseBorders[1] = 20;
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 0);
  bad = g;
  bad.borders[1] = 15;  // before T
  bad.noiseBorders[1] = 15;
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 0);
  bad = g;
  bad.numNoiseEnv = 2;  // one envelope allows one noise envelope
  bad.noiseBorders[1] = 8;
  bad.noiseBorders[2] = 16;
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 0);
  bad = g;
  bad.numEnv = 2;
  bad.borders[1] = 8;
  bad.borders[2] = 16;
  bad.numNoiseEnv = 2;
  bad.noiseBorders[1] = 9;  // not an envelope border
  bad.noiseBorders[2] = 16;
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 0);
  bad.noiseBorders[1] = 8;
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 1);
  bad.borders[1] = 16;  // not strictly increasing
  EXPECT_EQ(sbrCheckFrameGrid(&bad, 16, 16, 0), 0);
}

TEST(SbrHeader, DefaultsAndResetDecisions) {
  BitWriter w;
  w.put(1, 1);   // amp res
  w.put(5, 4);   // start
  w.put(9, 4);   // stop
  w.put(2, 3);   // xover
  w.put(0, 2);   // reserved
  w.put(0, 1);   // no extra 1
  w.put(0, 1);   // no extra 2
  SbrHeader h;
  h.freqScale = 0;
  h.limiterGains = 0;
  SbrBitReader br = readerOf(w);
  EXPECT_EQ(sbrReadHeader(&h, &br, 0, 0, 1), 1);
  EXPECT_EQ(br.bitsRead, 16);
  EXPECT_EQ(h.startFreq, 5);
  EXPECT_EQ(h.stopFreq, 9);
  EXPECT_EQ(h.xoverBand, 2);
  EXPECT_EQ(h.freqScale, 2);
  EXPECT_EQ(h.alterScale, 1);
  EXPECT_EQ(h.noiseBands, 2);
  EXPECT_EQ(h.limiterBands, 2);
  EXPECT_EQ(h.limiterGains, 2);
  EXPECT_EQ(h.interpolFreq, 1);
  EXPECT_EQ(h.smoothingMode, 1);
  // The same header again under a valid state: no reset.
  br = readerOf(w);
  EXPECT_EQ(sbrReadHeader(&h, &br, 0, 0, 2), 0);
  EXPECT_EQ(h.freqChange, 0);
  // A new crossover band resets without a frequency change.
  BitWriter w2;
  w2.put(1, 1); w2.put(5, 4); w2.put(9, 4); w2.put(3, 3); w2.put(0, 2); w2.put(0, 1); w2.put(0, 1);
  br = readerOf(w2);
  EXPECT_EQ(sbrReadHeader(&h, &br, 0, 0, 2), 1);
  EXPECT_EQ(h.freqChange, 0);
  // A new stop frequency is a frequency change.
  BitWriter w3;
  w3.put(1, 1); w3.put(5, 4); w3.put(10, 4); w3.put(3, 3); w3.put(0, 2); w3.put(0, 1); w3.put(0, 1);
  br = readerOf(w3);
  EXPECT_EQ(sbrReadHeader(&h, &br, 0, 0, 2), 1);
  EXPECT_EQ(h.freqChange, 1);
}

// A single-channel element with one FIXFIX envelope of low resolution, all
// deltas zero, and extended data of the given size (15 escapes to 15 + 8 bits).
std::vector<uint8_t> sceWithExtension(int extBytes, int* totalBits, int lowBands, int noiseBands,
                                      const std::string& zeroF, const std::string& zeroNoiseT) {
  BitWriter w;
  w.put(0, 1);                  // bs_data_extra
  w.put(0, 2); w.put(0, 2); w.put(0, 1);  // FIXFIX, one envelope, low resolution
  w.put(0, 1);                  // envelope frequency-coded
  w.put(1, 1);                  // noise time-coded
  for (int i = 0; i < noiseBands; i++) w.put(0, 2);  // invf modes
  w.put(40, 7);                 // start value (1.5 dB: one FIXFIX envelope)
  for (int i = 1; i < lowBands; i++) w.putBits(zeroF);
  for (int i = 0; i < noiseBands; i++) w.putBits(zeroNoiseT);
  w.put(0, 1);                  // no harmonics
  w.put(1, 1);                  // extended data
  if (extBytes >= 15) {
    w.put(15, 4);
    w.put(extBytes - 15, 8);
  } else {
    w.put(extBytes, 4);
  }
  for (int i = 0; i < extBytes; i++) w.put(i == 0 ? 0x40 : 0xA5, 8);  // id 1, then filler
  *totalBits = w.bitCount();
  return w.bytes();
}

std::string codeword(const std::string& table, int value) {
  std::ifstream f(sbrtest::fixturePath("codewords.txt"));
  std::string name, bits;
  int v, len;
  while (f >> name >> v >> len >> bits)
    if (name == table && v == value) return bits;
  return "";
}

TEST(SbrElement, ExtendedDataSizeEscape) {
  std::string zeroF = codeword("f_huffman_env_1_5dB", 0);
  std::string zeroT = codeword("t_huffman_noise_3_0dB", 0);
  if (zeroF.empty()) GTEST_SKIP() << "codeword list not generated";
  for (int ext : {3, 15, 20}) {
    int bits = 0;
    std::vector<uint8_t> p = sceWithExtension(ext, &bits, 4, 2, zeroF, zeroT);
    SbrHeader h;
    h.frameError = 1;
    h.prevFrameError = 1;
    SbrFrameData fd;
    fd.nBands[0] = 4;
    fd.nBands[1] = 8;
    fd.nNoiseBands = 2;
    fd.nInvfBands = 2;
    SbrBitReader br;
    sbrBitInit(&br, p.data(), static_cast<int>(p.size()));
    ASSERT_EQ(sbrReadSingleChannelElement(&h, &fd, &br, 0, nullptr), 1) << ext;
    EXPECT_EQ(br.bitsRead, bits) << ext;
    EXPECT_EQ(h.frameError, 0) << "a frequency-coded first envelope clears the error";
    EXPECT_EQ(fd.ampResEff, 0) << "one FIXFIX envelope forces 1.5 dB";
    EXPECT_EQ(fd.numEnvValues, 4);
    EXPECT_EQ(fd.env[0], 40.0f);
  }
}

// CRC of the bits as a polynomial division, written independently of the reader.
uint32_t referenceCrc(const std::vector<int>& bits) {
  uint32_t reg = 0;
  for (int b : bits) {
    reg = (reg << 1) | static_cast<uint32_t>(b);
    if (reg & 0x400u) reg ^= 0x633u;  // x^10 + x^9 + x^5 + x^4 + x + 1
  }
  for (int i = 0; i < 10; i++) {
    reg <<= 1;
    if (reg & 0x400u) reg ^= 0x633u;
  }
  return reg & 0x3FFu;
}

TEST(SbrCrc, MatchesThePolynomialAndCatchesAFlippedBit) {
  uint32_t seed = 99;
  for (int len : {1, 9, 16, 17, 100, 333}) {
    std::vector<int> bits(static_cast<size_t>(len));
    for (auto& b : bits) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<int>((seed >> 16) & 1u);
    }
    BitWriter w;
    w.put(referenceCrc(bits), 10);
    for (int b : bits) w.put(static_cast<uint32_t>(b), 1);
    SbrBitReader br = readerOf(w);
    EXPECT_EQ(sbrCheckCrc(&br, len), 1) << len;
    EXPECT_EQ(br.bitsRead, 10) << "the checked bits stay unread";
    bits[static_cast<size_t>(len / 2)] ^= 1;
    BitWriter w2;
    w2.put(referenceCrc(bits) ^ 0x1u, 10);
    for (int b : bits) w2.put(static_cast<uint32_t>(b), 1);
    br = readerOf(w2);
    EXPECT_EQ(sbrCheckCrc(&br, len), 0) << len;
  }
}

}  // namespace
