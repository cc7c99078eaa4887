// Out-of-line parts of the generic bit reader.
#include "aacbits.h"

#include "aactables.h"

void aacPushBack(AacBitstream* bs, int n) {
  if (n <= 0) return;
  if (bs->mode == kAacReaderLookAhead) {
    if (bs->lookAheadBits + n <= 32) {
      bs->lookAheadBits += n;
      return;
    }
    const int total = bs->lookAheadBits + n;
    bs->lookAheadBits = 0;
    bs->lookAheadCache = 0;
    bs->pushBack(bs, total);
    return;
  }
  bs->pushBack(bs, n);
}

void aacFlushLookAhead(AacBitstream* bs) {
  if (bs->lookAheadBits > 0) {
    const int n = bs->lookAheadBits;
    bs->lookAheadBits = 0;
    bs->lookAheadCache = 0;
    bs->pushBack(bs, n);
  }
}

void aacByteAlign(AacBitstream* bs) {
  aacFlushLookAhead(bs);
  bs->byteAlign(bs);
}

int32_t aacGetBitsUsed(AacBitstream* bs) { return bs->bitsUsed(bs) - bs->lookAheadBits; }

int32_t aacGetBitsLeft(AacBitstream* bs) { return bs->bitsLeft(bs) + bs->lookAheadBits; }

int aacDecodeHuffman(AacBitstream* bs, const AacHuffmanBook* book) {
  const uint32_t* tree = book->tree;
  uint32_t node = 0;
  // The longest code has 19 bits: at most five steps.
  for (int step = 0; step < 6; ++step) {
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
