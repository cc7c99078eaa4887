// Access-unit buffer and its raw bit reader.
//
// The raw reader never wraps around: bytes past the fill level read as zero
// and set the overrun flag, so a unit that ends early cannot be read again
// from its start, and the element loop of the core sees the overrun through
// the bits-left count and fails the block.
#include "aubuffer_c.h"

#include <cstring>

#include "decruntime.h"
#include "mp4AudioDecIfc.h"

namespace {

AuBuffer* self(AacBitstream* bs) { return reinterpret_cast<AuBuffer*>(bs); }

inline uint32_t nextByte(AuBuffer* au) {
  uint32_t b = 0;
  if (au->readPos >= 0 && au->readPos < au->fillLevel) {
    b = au->data[au->readPos];
  }
  ++au->readPos;
  return b;
}

inline void refill(AuBuffer* au) {
  if (au->cachedBits < 17) {
    const int32_t p = au->readPos;
    if (p >= 0 && p + 2 <= au->fillLevel) {
      au->cache = (au->cache << 16) | (static_cast<uint32_t>(au->data[p]) << 8) | au->data[p + 1];
      au->readPos = p + 2;
      au->cachedBits += 16;
      return;
    }
    au->cache = (au->cache << 16) | (nextByte(au) << 8);
    au->cache |= nextByte(au);
    au->cachedBits += 16;
  }
}

uint32_t rawRead(AacBitstream* bs, int n) {
  AuBuffer* au = self(bs);
  if (n <= 0) return 0;
  refill(au);
  au->cachedBits -= n;
  au->bitsConsumed += n;
  if (au->bitsConsumed > au->fillLevel * 8) au->overrun = 1;
  return (au->cache >> au->cachedBits) & ((1u << n) - 1);
}

void rawPushBack(AacBitstream* bs, int n) {
  AuBuffer* au = self(bs);
  if (n <= 0) return;
  if (n + au->cachedBits < 33) {
    au->cachedBits += n;
    au->bitsConsumed -= n;
    return;
  }
  au->readPos -= (n + au->cachedBits + 7) / 8;
  if (au->readPos < 0) au->readPos = 0;
  au->cache = nextByte(au);
  const int rest = (n + au->cachedBits) % 8;
  au->cachedBits = rest ? rest : 8;
  au->bitsConsumed -= n;
}

void rawByteAlign(AacBitstream* bs) {
  AuBuffer* au = self(bs);
  refill(au);
  while (au->cachedBits % 8) {
    --au->cachedBits;
    ++au->bitsConsumed;
  }
}

int32_t rawBitsUsed(AacBitstream* bs) { return self(bs)->bitsConsumed; }

int32_t rawBitsLeft(AacBitstream* bs) {
  AuBuffer* au = self(bs);
  return au->fillLevel * 8 - au->bitsConsumed;
}

void installCallbacks(AuBuffer* au) {
  au->bs.byteAlign = rawByteAlign;
  au->bs.pushBack = rawPushBack;
  au->bs.read = rawRead;
  au->bs.reserved = nullptr;
  au->bs.markRegion = nullptr;
  au->bs.bitsUsed = rawBitsUsed;
  au->bs.bitsLeft = rawBitsLeft;
}

bool valid(const AuBuffer* au) { return au && au->magic == kAuBufferMagic; }

}  // namespace

AuBuffer* auBufferCreate(uint8_t* memory, int32_t size) {
  if (memory ? (size < 1 || size > kAuBufferMaxSize) : (size < 0 || size > kAuBufferMaxSize)) return nullptr;
  AuBuffer* au = static_cast<AuBuffer*>(DEC_CALLOC(1, sizeof(AuBuffer)));
  if (!au) return nullptr;
  if (memory) {
    au->data = memory;
    au->capacity = size;
    au->ownMemory = 0;
  } else {
    au->capacity = size ? size : kAuBufferMaxSize;
    au->data = static_cast<uint8_t*>(DEC_CALLOC(1, static_cast<size_t>(au->capacity)));
    if (!au->data) {
      DEC_FREE(au);
      return nullptr;
    }
    au->ownMemory = 1;
  }
  au->magic = kAuBufferMagic;
  auBufferReset(au);
  return au;
}

int32_t auBufferFeed(AuBuffer* au, const uint8_t* bytes, int32_t count) {
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  if (count < 0 || (count > 0 && !bytes)) return MP4AUDEC_INVALID_ARGUMENT;
  // Written so that it cannot overflow: count > capacity - fill.
  if (count > au->capacity - au->fillLevel) return MP4AUDEC_AU_BUFFER_FULL;
  if (count) std::memcpy(au->data + au->fillLevel, bytes, static_cast<size_t>(count));
  au->fillLevel += count;
  if (au->unitCount < kAuBufferMaxUnits) {
    au->unitSizes[au->unitCount++] = count;
  } else {
    au->unitSizes[kAuBufferMaxUnits - 1] += count;
  }
  au->exhausted = 0;
  return 0;
}

int32_t auBufferHasData(const AuBuffer* au) { return (valid(au) && !au->exhausted) ? 1 : 0; }

int32_t auBufferReset(AuBuffer* au) {
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  au->readPos = 0;
  au->fillLevel = 0;
  au->bitsConsumed = 0;
  au->cachedBits = 0;
  au->cache = 0;
  au->exhausted = 0;
  au->overrun = 0;
  au->unitCount = 0;
  std::memset(au->unitSizes, 0, sizeof(au->unitSizes));
  au->bs.lookAheadBits = 0;
  au->bs.lookAheadCache = 0;
  au->bs.mode = kAacReaderLookAhead;
  installCallbacks(au);
  return 0;
}

int32_t auBufferSetEof(AuBuffer* au) {
  const int32_t r = auBufferReset(au);
  if (r) return r;
  au->exhausted = 1;
  return 0;
}

int32_t auBufferCheck(const AuBuffer* au) { return valid(au) ? 0 : MP4AUDEC_INVALID_AU_BUFFER; }

int32_t auBufferRewind(AuBuffer* au) {
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  au->readPos = 0;
  au->bitsConsumed = 0;
  au->cachedBits = 0;
  au->cache = 0;
  au->overrun = 0;
  au->bs.lookAheadBits = 0;
  au->bs.lookAheadCache = 0;
  return 0;
}

AacBitstream* auBufferGetBitstream(AuBuffer* au) { return valid(au) ? &au->bs : nullptr; }

int32_t auBufferGetBitsLeft(const AuBuffer* au, int32_t* out) {
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  if (!out) return MP4AUDEC_NULL_POINTER;
  *out = au->fillLevel * 8 - au->bitsConsumed;
  return 0;
}

int32_t auBufferGetUnit(const AuBuffer* au, int32_t index, const uint8_t** start, int32_t* size) {
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  if (!start || !size) return MP4AUDEC_NULL_POINTER;
  int32_t result = 0;
  if (index < 0) index = 0;
  if (index > au->unitCount) {
    index = au->unitCount;
    result = 1;
  }
  int32_t offset = 0;
  for (int32_t i = 0; i < index && i < kAuBufferMaxUnits; ++i) offset += au->unitSizes[i];
  *start = au->data + offset;
  *size = index < kAuBufferMaxUnits && index < au->unitCount ? au->unitSizes[index] : 0;
  return result;
}

int32_t auBufferGetUnitCount(const AuBuffer* au) { return valid(au) ? au->unitCount : MP4AUDEC_INVALID_AU_BUFFER; }
int32_t auBufferGetFillBits(const AuBuffer* au) { return valid(au) ? au->fillLevel * 8 : MP4AUDEC_INVALID_AU_BUFFER; }
int32_t auBufferGetFillBytes(const AuBuffer* au) { return valid(au) ? au->fillLevel : MP4AUDEC_INVALID_AU_BUFFER; }
int32_t auBufferOverrun(const AuBuffer* au) { return valid(au) ? au->overrun : 0; }

int32_t auBufferDestroy(AuBuffer** pau) {
  if (!pau) return MP4AUDEC_NULL_POINTER;
  AuBuffer* au = *pau;
  if (!valid(au)) return MP4AUDEC_INVALID_AU_BUFFER;
  auBufferReset(au);
  au->magic = 0;
  if (au->ownMemory) DEC_FREE(au->data);
  DEC_FREE(au);
  *pau = nullptr;
  return 0;
}
