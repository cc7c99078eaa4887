// Noiseless coding and the access-unit writer of the AAC-LC core: sectioning
// of the quantised spectrum into codebook runs (the cheapest partition, found
// by dynamic programming over the bands of each window group), bit counts of
// the spectral Huffman codebooks, and the writers of the single channel,
// channel pair, fill and end elements of a raw_data_block.
//
// Every writer also runs with a null bit buffer, where it only returns the
// bits it would write.
#pragma once

#include <cstdint>

#include "bit_buf.h"
#include "errorhnd.h"
#include "tns.h"

enum {
  kAacMaxBands = 64,      // long-window bands of any rate fit
  kAacMaxGroups = 8,
  kAacZeroBook = 0,
  kAacEscapeBook = 11,
  kAacMaxQuant = 8191,
  kAacElementSce = 0,
  kAacElementCpe = 1,
  kAacElementLfe = 3,
  kAacElementFil = 6,
  kAacElementEnd = 7,
};

enum { kAacLtpLongBands = 40 };

// The long-term prediction of a long-window channel (ltp_data).
struct AacLtp {
  int32_t present;
  int32_t lag;   // 0-2047 samples
  int32_t coef;  // gain index 0-7
  uint8_t used[kAacLtpLongBands];  // per band below min(maxSfb, 40)
};

// One quantised channel (an individual_channel_stream). Spectral lines are in
// window order: line k of short window w at w * 128 + k.
struct AacIcs {
  int32_t samplingRateIndex;  // 0-12, selects the band tables
  int32_t windowSequence;     // 0-3
  int32_t windowShape;        // 0 sine, 1 KBD
  int32_t maxSfb;             // coded bands per window (group)
  int32_t numWindowGroups;    // 1 for long windows
  int32_t windowGroupLength[kAacMaxGroups];
  int32_t scalefactor[kAacMaxGroups][kAacMaxBands];  // per group and band
  int16_t quant[1024];
  TnsInfo tns;  // written when tns.present (numWindows must match the sequence)
  AacLtp ltp;   // written when ltp.present (long windows of the prediction types)
  int32_t erSyntax;  // the error-resilient syntax: no element id, TNS after the spectral data
  // Filled by aacSectionChannel:
  int32_t codebook[kAacMaxGroups][kAacMaxBands];
  int32_t globalGain;
  int32_t sectionedBits;  // of the section data and spectral data
};

// Chooses the codebook of every coded band (the cheapest sectioning), gives
// the bands of a non-zero section that hold only zeros the scalefactor of the
// band before them (a difference of 0), and sets the global gain to the
// first coded scalefactor. Fails when the layout is invalid (sequence, rate,
// bands or grouping), a value exceeds 8191, or two consecutive coded
// scalefactors differ by more than 60. sectionedBits gets the bits of the
// section data and spectral data.
CodecError* aacSectionChannel(AacIcs* ics);

// Bits of the values (n a multiple of the book's dimension) coded with a
// spectral codebook 1-11; -1 when a value exceeds the book's range.
int32_t aacSpectralBits(const int16_t* values, int32_t n, int32_t book);

// Writes one element and returns its bits (also for a null buffer). The
// channels must have been sectioned. With a common window both channels of
// the pair must share the window sequence, shape, grouping and maxSfb. A
// record the syntax cannot carry (layout, books, scalefactor steps) gives -1
// and nothing is written. While the buffer collects element marks
// (EnableElementMarks), each element marks the ranges that a protected ADTS
// header's CRC covers.
int32_t aacWriteSingleChannelElement(bit_buf* b, int32_t tag, const AacIcs* ics);
// The low-frequency element: the single-channel syntax under its own id;
// long windows only (-1 otherwise).
int32_t aacWriteLfeElement(bit_buf* b, int32_t tag, const AacIcs* ics);
// msMaskPresent: 0 none, 1 per band (msUsed[group][band]), 2 all bands.
int32_t aacWriteChannelPairElement(bit_buf* b, int32_t tag, int32_t commonWindow, int32_t msMaskPresent,
                                   const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right);
// The bits aacWriteSingleChannelElement or aacWriteChannelPairElement would
// return for channels straight from aacSectionChannel, with the section and
// spectral data bits taken from the sectioning (sectionedBits) instead of
// counted again; -1 as those writers.
int32_t aacSectionedSingleChannelBits(const AacIcs* ics);
int32_t aacSectionedChannelPairBits(int32_t commonWindow, int32_t msMaskPresent,
                                    const uint8_t (*msUsed)[kAacMaxBands], const AacIcs* left, const AacIcs* right);
// A fill element carrying `count` fill bytes (count up to 269); returns its bits.
int32_t aacWriteFillElement(bit_buf* b, int32_t count);
// Bits of a fill element that carries an SBR payload of payloadBits bits
// (extension type 13, padded to whole bytes); 0 for an empty payload, -1 when
// the payload does not fit one fill element (269 bytes).
int32_t aacSbrFillElementBits(int32_t payloadBits);
// Writes that fill element: payload holds the bits MSB first. Returns its bits
// (also for a null buffer), 0 or -1 as aacSbrFillElementBits.
int32_t aacWriteSbrFillElement(bit_buf* b, const uint8_t* payload, int32_t payloadBits);
// The END element and the zero bits that end the raw data block on a byte
// boundary; bitsSoFar is the bits of the block written before it.
int32_t aacWriteEndElement(bit_buf* b, int32_t bitsSoFar);
