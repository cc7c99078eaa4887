// Out-of-line parts of the generic bit reader.
#include "aacbits.h"


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

