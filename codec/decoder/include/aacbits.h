// The generic bit reader of the decoder. A bit source (the access-unit
// buffer, or the AudioSpecificConfig parser's own ring buffer) starts with an
// AacBitstream: its raw-reader callbacks followed by the look-ahead state that
// aacReadBits keeps on top of them. Every bitstream parser of the decoder
// reads through these functions.
#pragma once

#include <cstdint>

#include "aactables.h"

struct AacBitstream;

typedef void (*AacByteAlignFn)(AacBitstream* bs);
typedef void (*AacPushBackFn)(AacBitstream* bs, int n);
typedef uint32_t (*AacRawReadFn)(AacBitstream* bs, int n);  // n <= 16
typedef void (*AacRegionFn)(AacBitstream* bs, int type, int begin);
typedef int32_t (*AacBitCountFn)(AacBitstream* bs);

enum { kAacReaderLookAhead = -1 };

struct AacBitstream {
  AacByteAlignFn byteAlign;
  AacPushBackFn pushBack;
  AacRawReadFn read;
  void* reserved;
  AacRegionFn markRegion;
  AacBitCountFn bitsUsed;
  AacBitCountFn bitsLeft;
  int32_t lookAheadBits;    // bits held in the look-ahead cache
  uint32_t lookAheadCache;  // the most recent raw bits, newest lowest
  int32_t mode;             // kAacReaderLookAhead, or read straight through
};

// Reads n bits (0..32), most significant first. The element id names the
// syntax element for tracing only.
inline uint32_t aacReadBits(AacBitstream* bs, int elementId, int n) {
  (void)elementId;
  if (n <= 0) return 0;
  if (bs->mode != kAacReaderLookAhead) {
    if (n <= 16) return bs->read(bs, n);
    const uint32_t hi = bs->read(bs, n - 16);
    return (hi << 16) | bs->read(bs, 16);
  }
  uint64_t cache = bs->lookAheadCache;
  int bits = bs->lookAheadBits;
  if (bits < 17) {
    cache = (cache << 16) | bs->read(bs, 16);
    bits += 16;
  }
  if (n > bits) {
    const int k = 32 - bits;
    cache = (cache << k) | bs->read(bs, k);
    bits = 32;
  }
  bits -= n;
  bs->lookAheadCache = static_cast<uint32_t>(cache);
  bs->lookAheadBits = bits;
  return static_cast<uint32_t>((cache >> bits) & ((n == 32) ? 0xFFFFFFFFull : ((1ull << n) - 1)));
}

// Shows the next n bits (n <= 16) without consuming them.
inline uint32_t aacPeekBits(AacBitstream* bs, int n) {
  if (bs->mode != kAacReaderLookAhead) {
    const uint32_t v = bs->read(bs, n);
    bs->pushBack(bs, n);
    return v;
  }
  if (bs->lookAheadBits < n) {
    bs->lookAheadCache = (bs->lookAheadCache << 16) | bs->read(bs, 16);
    bs->lookAheadBits += 16;
  }
  return (bs->lookAheadCache >> (bs->lookAheadBits - n)) & ((1u << n) - 1);
}

// Skips n bits that aacPeekBits has shown (n <= the peeked count).
inline void aacSkipPeeked(AacBitstream* bs, int n) {
  if (bs->mode != kAacReaderLookAhead) {
    bs->read(bs, n);
    return;
  }
  bs->lookAheadBits -= n;
}

// Returns n bits to the reader.
void aacPushBack(AacBitstream* bs, int n);
// Returns the look-ahead bits to the raw reader (the raw position then shows
// what was really consumed).
void aacFlushLookAhead(AacBitstream* bs);
// Pushes back the look-ahead bits, then aligns the raw reader to a byte.
void aacByteAlign(AacBitstream* bs);
int32_t aacGetBitsUsed(AacBitstream* bs);
int32_t aacGetBitsLeft(AacBitstream* bs);

// Decodes one symbol of a Huffman book through its 4-bit tree; the bits of
// the last step that the code did not use stay in the reader.
inline int aacDecodeHuffman(AacBitstream* bs, const AacHuffmanBook* book) {
  const uint32_t* tree = book->tree;
  uint32_t node = 0;
  // The longest code has 19 bits: at most five steps.
  for (int step = 0; step < 5; ++step) {
    const uint32_t e = tree[node * 16 + aacPeekBits(bs, 4)];
    const int used = static_cast<int>(e >> 16);
    if (used) {
      aacSkipPeeked(bs, used);
      return static_cast<int>(e & 0xFFFF);
    }
    aacSkipPeeked(bs, 4);
    node = e & 0xFFFF;
  }
  return 0;  // not reached for a complete code
}
