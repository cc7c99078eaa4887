// The AAC-LC tables of the standard, shared by the decoder and the encoder:
// Huffman codebooks (codewords for writing, 4-bit trees for reading),
// scalefactor-band offsets per sampling-frequency index and frame length,
// TNS band limits, and the sine and Kaiser-Bessel-derived window halves.
#pragma once

#include <cstdint>

// One Huffman codebook. Symbol i is written as the lengths[i]-bit codeword
// codes[i] (most significant bit first). The tree is an array of 16-entry
// nodes walked 4 bits at a time: an entry holds, in its upper 16 bits, how
// many of the 4 bits the code really used (0 = go on at the child node) and,
// in its lower 16 bits, the symbol or the child node index.
struct AacHuffmanBook {
  int codebook;     // 1-11 for spectral books, 0 for the scalefactor book
  int dimension;    // values per codeword: 4 or 2 (1 for scalefactors)
  int lav;          // largest absolute value (16 = escape in book 11)
  int modulo;       // tuple base
  int valueOffset;  // added to each value to form the index
  bool isUnsigned;  // sign bits follow the codeword
  bool escape;      // book 11
  int size;         // number of symbols
  const uint32_t* codes;
  const uint8_t* lengths;
  const uint32_t* tree;
  int treeNodes;
};

// The scalefactor book: symbol i stands for the difference i - 60.
extern const AacHuffmanBook kAacScalefactorBook;
// Spectral books 1-11 (entry 0 is empty).
extern const AacHuffmanBook kAacSpectralBooks[12];

// Band layout of one sampling-frequency index. Each offset table lists the
// first line of every band and the final border, so band b covers lines
// [offsets[b], offsets[b + 1]).
struct AacRateTables {
  uint32_t samplingFrequency;
  const uint16_t* long1024;
  int numLong1024;
  const uint16_t* short128;
  int numShort128;
  const uint16_t* long960;
  int numLong960;
  const uint16_t* short120;
  int numShort120;
  int tnsMaxBandsLong;
  int tnsMaxBandsShort;
};

// Indices 0-12 (12 = 7350 Hz, which uses the 8 kHz layout).
extern const AacRateTables kAacRateTables[13];
// Nominal frequency of indices 0-12 (the sampling-frequency index of an
// AudioSpecificConfig; 13 and 14 are reserved, 15 escapes to an explicit rate).
extern const uint32_t kAacSamplingFrequencies[13];
// Index 0-12 of a nominal frequency; -1 for any other frequency.
int aacSamplingFrequencyIndex(uint32_t samplingFrequency);

// Output channels of channel configurations 0-7 (0: given by a program
// configuration element, not by the configuration number).
extern const int kAacChannelConfigurationChannels[8];
// Lower bounds (Hz) of indices 0-10 for frequencies that are not nominal.
extern const uint32_t kAacRateMappingBounds[11];

// Table index for any sampling frequency: the first index whose lower bound
// the frequency reaches, 11 below the last bound.
int aacRateTableIndex(uint32_t samplingFrequency);

// Rising half of a window for a transform of 2 x halfLength points:
// shape 0 = sine, 1 = Kaiser-Bessel-derived (alpha 4 for long halves of 1024,
// 960, 512, 480 points, alpha 6 for short halves of 128 and 120 points).
// Returns null for other lengths. The tables are made once per process.
const float* aacWindowHalf(int halfLength, int shape);

// |q|^(4/3) for q = 0 .. kAacInvQuantSize - 1.
enum { kAacInvQuantSize = 8192 };
const float* aacInvQuantTable();
