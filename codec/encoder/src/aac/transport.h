// Transport headers of self-contained AAC streams: the ADTS header in front
// of every access unit (with its optional CRC word) and the ADIF header once
// in front of the first one. Raw access units (the MP4 road) carry neither.
#pragma once

#include <cstdint>

#include "bit_buf.h"

struct crc;
struct PceRecord;

enum {
  kAdtsHeaderBits = 56,
  kAdtsCrcBits = 16,
  kAdtsMaxFrameBytes = 8191,  // the 13-bit frame length
};

struct AdtsHeader {
  int32_t profile;                // object type - 1 (1 for AAC-LC)
  int32_t samplingFrequencyIndex; // 0-12
  int32_t channelConfiguration;   // 0-7 (0: a PCE in the raw data block)
  int32_t protection;             // 1: a CRC word follows the header
};

// Writes the header with a zero frame length (and a zero CRC word when
// protected) and marks its 56 bits for the CRC; returns its bits (56 or 72,
// also for a null buffer). *start receives the write position of the header.
int32_t adtsWriteHeader(bit_buf* b, const AdtsHeader* header, int32_t* start);
// Completes the header once the frame is written: the frame length in bytes
// (header included) and, when protected, the CRC over the marked ranges
// (the header and the protected starts of the channel elements). Returns
// false when the frame is longer than the header can say.
bool adtsCompleteHeader(bit_buf* b, const AdtsHeader* header, int32_t start, int32_t frameBytes, crc* reg);

// Writes the ADIF header with the stream's program config element; returns
// its bits (whole bytes when written at a byte boundary), or -1 when the
// element cannot be written. The stream is declared variable-rate, with
// peakBitRate (bit/s, capped at the field's 23 bits) as its highest rate.
int32_t adifWriteHeader(bit_buf* b, const PceRecord* pce, int32_t peakBitRate);
