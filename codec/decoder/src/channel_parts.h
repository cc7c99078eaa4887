// Pieces of the channel-element decoding shared by its files: the reader of
// the individual channel stream, the spectral tools and the filter bank.
// Private to the decoder; mp2channel.cpp puts them together per element.
#pragma once

#include <cstdint>

#include "mp2channel.h"

namespace aacchannel {

inline int32_t rd(AacBitstream* bs, int n) { return static_cast<int32_t>(aacReadBits(bs, 0, n)); }

// Individual channel stream (channel_stream.cpp).

// Window count, grouping and band layout of the window sequence in ics.
void setupIcs(AacIcsInfo* ics, const AacChannelContext* ctx);
// ICS info. Fails on prediction (not an LC tool) and on a maximum band
// beyond the layout's band count.
int32_t readIcsInfo(AacIcsInfo* ics, AacBitstream* bs, const AacChannelContext* ctx);
// The M/S mask of a pair with a common window (msMaskPresent already read).
void readMsUsed(AacElement* e, AacBitstream* bs);
// Reads one individual channel stream (ICS info already read when shared)
// and reconstructs its quantised spectrum. spectralLimit is the bit budget
// of the spectral data.
int32_t readChannelStream(AacChannel* ch, AacBitstream* bs, AacChannelContext* ctx, bool commonWindow,
                          int32_t spectralLimit, int32_t* spectralUsed);

// Spectral tools (spectral_tools.cpp).

// Fills the noise bands of a channel; see the definition for the shared noise
// of a pair.
void noiseSubstitution(AacChannel* ch, const AacChannel* left, const uint8_t (*msUsed)[AAC_MAX_SFB]);
void midSide(AacElement* e);
void intensityStereo(AacElement* e);
void applyTns(AacChannel* ch);

// Filter bank (filterbank.cpp): inverse MDCT, windowing and overlap-add of one
// channel's spectrum into its time output.
void filterBank(AacChannel* ch, const AacChannelContext* ctx);

}  // namespace aacchannel
