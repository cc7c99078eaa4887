// ADTS and ADIF header writers.
#include "transport.h"

#include <algorithm>

#include "crc.h"
#include "prconfig.h"

int32_t adtsWriteHeader(bit_buf* b, const AdtsHeader* h, int32_t* start) {
  if (start) *start = b ? GetWritePosition(b) : 0;
  const int32_t mark = b ? SetElementMark(b, kMarkAdtsHeader) : -1;
  int32_t bits = WriteBits(b, 0xFFF, 12);        // syncword
  bits += WriteBits(b, 0, 1);                    // MPEG-4
  bits += WriteBits(b, 0, 2);                    // layer
  bits += WriteBits(b, h->protection ? 0u : 1u, 1);  // protection_absent
  bits += WriteBits(b, static_cast<uint32_t>(h->profile), 2);
  bits += WriteBits(b, static_cast<uint32_t>(h->samplingFrequencyIndex), 4);
  bits += WriteBits(b, 0, 1);                    // private bit
  bits += WriteBits(b, static_cast<uint32_t>(h->channelConfiguration), 3);
  bits += WriteBits(b, 0, 1);                    // original/copy
  bits += WriteBits(b, 0, 1);                    // home
  bits += WriteBits(b, 0, 1);                    // copyright id bit
  bits += WriteBits(b, 0, 1);                    // copyright id start
  bits += WriteBits(b, 0, 13);                   // frame length, completed later
  bits += WriteBits(b, 0x7FF, 11);               // buffer fullness: variable rate
  bits += WriteBits(b, 0, 2);                    // one raw data block
  if (b) SetElementMarkEnd(b, mark);
  if (h->protection) bits += WriteBits(b, 0, kAdtsCrcBits);
  return bits;
}

bool adtsCompleteHeader(bit_buf* b, const AdtsHeader* h, int32_t start, int32_t frameBytes, crc* reg) {
  if (!b || frameBytes < 0 || frameBytes > kAdtsMaxFrameBytes) return false;
  const int32_t ring = GetBufferSizeBits(b);
  // The frame length sits 30 bits into the header.
  WriteBitsAt(b, (start + 30) % ring, static_cast<uint32_t>(frameBytes), 13);
  if (h->protection) {
    if (!reg) return false;
    ResetCrc(reg);
    const uint16_t value = CrcOverElementMarks(b, reg);
    WriteBitsAt(b, (start + kAdtsHeaderBits) % ring, value, kAdtsCrcBits);
  }
  return true;
}

int32_t adifWriteHeader(bit_buf* b, const PceRecord* pce, int32_t peakBitRate) {
  if (!pce) return -1;
  const int32_t before = b ? GetBitsAvail(b) : 0;
  int32_t bits = WriteBits(b, 0x41444946u, 32);  // "ADIF"
  bits += WriteBits(b, 0, 1);                    // no copyright id
  bits += WriteBits(b, 0, 1);                    // original/copy
  bits += WriteBits(b, 0, 1);                    // home
  bits += WriteBits(b, 1, 1);                    // variable rate
  bits += WriteBits(b, static_cast<uint32_t>(std::min(std::max(peakBitRate, 0), (1 << 23) - 1)), 23);
  bits += WriteBits(b, 0, 4);                    // one program config element
  if (!b) return -1;                             // the element's alignment needs the buffer
  CodecError* e = writePce(pce, b, 0);
  if (e) {
    deleteError(e);
    return -1;
  }
  return GetBitsAvail(b) - before;
}
