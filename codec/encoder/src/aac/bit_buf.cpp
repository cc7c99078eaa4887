// The bit buffer: writing and reading 16-bit words most significant bit
// first, seeks, the access-unit queue, element marks and their CRC.
#include "bit_buf.h"

#include <cstring>

#include "crc.h"
#include "utillib.h"

namespace {

// Bits of each marked range that enter the ADTS CRC; -1 covers the whole range.
const int32_t kProtectedBits[8] = {192, 192, 192, 192, 128, 56, -1, -1};

int32_t ringBits(const bit_buf* b) { return b->size * 16; }

int32_t wrapPosition(const bit_buf* b, int64_t p) {
  const int64_t ring = ringBits(b);
  p %= ring;
  if (p < 0) p += ring;
  return static_cast<int32_t>(p);
}

// Puts the write cache into the ring word at the write index: the word's top
// (16 - free) bits take the cache, its low bits stay.
void mergeWriteCache(bit_buf* b) {
  const int32_t used = 16 - b->writeBitsFree;
  if (used <= 0) return;
  const uint32_t keepMask = (1u << b->writeBitsFree) - 1u;
  const uint32_t word = b->words[b->writeIndex];
  b->words[b->writeIndex] =
      static_cast<uint16_t>((word & keepMask) | ((static_cast<uint32_t>(b->writeCache) << b->writeBitsFree) & 0xFFFFu));
}

void writeShort(bit_buf* b, uint32_t value, int32_t n) {
  if (n <= 0) return;
  b->writeBitsFree -= n;
  b->bitsAvail += n;
  b->bitsSinceAlign += n;
  if (b->writeIndex == b->readIndex) b->sharedWord = 1;
  uint32_t cache = (static_cast<uint32_t>(b->writeCache) << n) | (value & ((1u << n) - 1u));
  if (b->writeBitsFree < 0) {
    const int32_t over = -b->writeBitsFree;
    b->words[b->writeIndex] = static_cast<uint16_t>(cache >> over);
    if (++b->writeIndex >= b->size) b->writeIndex = 0;
    cache &= (1u << over) - 1u;
    b->writeBitsFree += 16;
  }
  b->writeCache = static_cast<uint16_t>(cache);
}

uint32_t readShort(bit_buf* b, int32_t n) {
  if (n <= 0) return 0;
  b->bitsAvail -= n;
  if (b->sharedWord) {
    mergeWriteCache(b);
    if (b->readIndex >= 0 && b->readIndex < b->size)
      b->readCache = static_cast<uint16_t>(static_cast<uint32_t>(b->words[b->readIndex]) << (16 - b->readBitsLeft));
    b->sharedWord = 0;
  }
  uint32_t result;
  if (n <= b->readBitsLeft) {
    result = static_cast<uint32_t>(b->readCache) >> (16 - n);
    b->readCache = static_cast<uint16_t>(static_cast<uint32_t>(b->readCache) << n);
    b->readBitsLeft -= n;
    return result;
  }
  const int32_t missing = n - b->readBitsLeft;
  result = b->readBitsLeft ? (static_cast<uint32_t>(b->readCache) >> (16 - b->readBitsLeft)) : 0u;
  result <<= missing;
  if (++b->readIndex >= b->size) b->readIndex = 0;
  if (b->readIndex == b->writeIndex) mergeWriteCache(b);
  const uint32_t word = b->words[b->readIndex];
  result |= word >> (16 - missing);
  b->readCache = static_cast<uint16_t>(word << missing);
  b->readBitsLeft = 16 - missing;
  return result;
}

// Places the read position at p; a position on a word boundary is held as
// "previous word fully read", so the next read loads (and merges) the word.
void setReadPosition(bit_buf* b, int32_t p) {
  const int32_t offset = p % 16;
  if (offset == 0) {
    b->readIndex = (p / 16 + b->size - 1) % b->size;
    b->readBitsLeft = 0;
    b->readCache = 0;
  } else {
    b->readIndex = p / 16;
    if (b->readIndex == b->writeIndex) mergeWriteCache(b);
    b->readBitsLeft = 16 - offset;
    b->readCache = static_cast<uint16_t>(static_cast<uint32_t>(b->words[b->readIndex]) << offset);
  }
  b->sharedWord = 0;
}

void setWritePosition(bit_buf* b, int32_t p) {
  mergeWriteCache(b);
  b->writeIndex = p / 16;
  const int32_t used = p % 16;
  b->writeBitsFree = 16 - used;
  b->writeCache = used ? static_cast<uint16_t>(b->words[b->writeIndex] >> (16 - used)) : 0;
}

}  // namespace

bit_buf* CreateBitBuffer(int32_t sizeBits) {
  if (sizeBits <= 0 || sizeBits > 0x7FFFFFF0 - 15) return nullptr;
  bit_buf* b = static_cast<bit_buf*>(utilCalloc(1, sizeof(bit_buf), __FILE__, __LINE__));
  if (!b) return nullptr;
  b->size = (sizeBits + 15) / 16;
  b->words = static_cast<uint16_t*>(utilCalloc(static_cast<uint32_t>(b->size), sizeof(uint16_t), __FILE__, __LINE__));
  if (!b->words) {
    utilFree(b, __FILE__, __LINE__);
    return nullptr;
  }
  b->writeBitsFree = 16;
  b->readIndex = -1;
  for (ElementMark& m : b->marks) m = {kElementMarkFree, 0, 0};
  return b;
}

void DeleteBitBuffer(bit_buf* buffer) {
  if (!buffer) return;
  utilFree(buffer->words, __FILE__, __LINE__);
  utilFree(buffer, __FILE__, __LINE__);
}

int32_t WriteBits(bit_buf* buffer, uint32_t value, int32_t n) {
  if (n < 0) n = 0;
  if (n > 32) n = 32;
  if (!buffer) return n;
  if (n > 16) {
    // The high part is the value shifted arithmetically right by 16.
    const uint32_t high = static_cast<uint32_t>(static_cast<int32_t>(value) >> 16);
    writeShort(buffer, high, n - 16);
    writeShort(buffer, value & 0xFFFFu, 16);
  } else {
    writeShort(buffer, value, n);
  }
  return n;
}

uint32_t ReadBits(bit_buf* buffer, int32_t n) {
  if (!buffer || n <= 0) return 0;
  if (n > 32) n = 32;
  if (n >= 16) {
    const uint32_t high = readShort(buffer, 16);
    return (high << (n - 16)) | readShort(buffer, n - 16);
  }
  return readShort(buffer, n);
}

int32_t ByteAlign(bit_buf* buffer) {
  if (!buffer) return 0;
  const int32_t count = (8 - (buffer->bitsSinceAlign & 7)) & 7;
  WriteBits(buffer, 0, count);
  buffer->bitsSinceAlign = 0;
  return count;
}

int32_t GetBitsAvail(const bit_buf* buffer) { return buffer ? buffer->bitsAvail : 0; }
int32_t GetBufferSizeBits(const bit_buf* buffer) { return buffer ? ringBits(buffer) : 0; }

int32_t GetWritePosition(const bit_buf* buffer) {
  if (!buffer) return 0;
  return wrapPosition(buffer, static_cast<int64_t>(buffer->writeIndex + 1) * 16 - buffer->writeBitsFree);
}

int32_t GetReadPosition(const bit_buf* buffer) {
  if (!buffer) return 0;
  return wrapPosition(buffer, static_cast<int64_t>(buffer->readIndex) * 16 - buffer->readBitsLeft + 16);
}

int32_t SeekReadPosition(bit_buf* buffer, int32_t delta) {
  if (!buffer) return 0;
  const int32_t before = GetReadPosition(buffer);
  if (delta == 0) return before;
  setReadPosition(buffer, wrapPosition(buffer, static_cast<int64_t>(before) + delta));
  buffer->bitsAvail -= delta;
  return before;
}

int32_t SeekWritePosition(bit_buf* buffer, int32_t delta) {
  if (!buffer) return 0;
  const int32_t before = GetWritePosition(buffer);
  if (delta == 0) return before;
  setWritePosition(buffer, wrapPosition(buffer, static_cast<int64_t>(before) + delta));
  buffer->bitsAvail += delta;
  buffer->bitsSinceAlign += delta;
  return before;
}

void WriteBitsAt(bit_buf* buffer, int32_t position, uint32_t value, int32_t n) {
  if (!buffer || n <= 0) return;
  const int32_t current = GetWritePosition(buffer);
  const int32_t avail = buffer->bitsAvail;
  const int32_t sinceAlign = buffer->bitsSinceAlign;
  const int32_t shared = buffer->sharedWord;
  setWritePosition(buffer, wrapPosition(buffer, position));
  WriteBits(buffer, value, n);
  setWritePosition(buffer, current);
  buffer->bitsAvail = avail;
  buffer->bitsSinceAlign = sinceAlign;
  // The overwritten bits may lie in the word being read: reload before reading.
  buffer->sharedWord = shared | 1;
}

void CopyBits(bit_buf* destination, bit_buf* source, int32_t n) {
  for (int32_t i = 0; i < n; ++i) WriteBits(destination, ReadBits(source, 1), 1);
}

void ReadBytes(bit_buf* buffer, uint8_t* bytes, int32_t count) {
  if (!buffer || !bytes) return;
  int32_t i = 0;
  auto readByte = [buffer]() -> uint8_t {
    const int32_t avail = buffer->bitsAvail;
    if (avail >= 8) return static_cast<uint8_t>(ReadBits(buffer, 8));
    if (avail <= 0) return 0;
    return static_cast<uint8_t>(ReadBits(buffer, avail) << (8 - avail));
  };
  if ((GetReadPosition(buffer) & 7) == 0) {
    while (i < count && (GetReadPosition(buffer) & 15) != 0) bytes[i++] = readByte();
    while (count - i >= 2 && buffer->bitsAvail >= 16) {
      const uint32_t w = ReadBits(buffer, 16);
      bytes[i++] = static_cast<uint8_t>(w >> 8);
      bytes[i++] = static_cast<uint8_t>(w);
    }
  }
  while (i < count) bytes[i++] = readByte();
}

CodecError* IncAuReady(bit_buf* buffer, int32_t bits) {
  if (!buffer || buffer->readyCount >= kBitBufReadyQueue || buffer->readyCount < 0 || bits < 0)
    return createError(__FILE__, __LINE__, "IncAuReady", "Access Unit Buffer Overflow in IncAuReady");
  buffer->readyQueue[buffer->readyCount++] = bits;
  return nullptr;
}

CodecError* DecAuReady(bit_buf* buffer, int32_t* bits) {
  if (!buffer || buffer->readyCount <= 0 || buffer->readyCount > kBitBufReadyQueue)
    return createError(__FILE__, __LINE__, "DecAuReady", "Access Unit Buffer Underflow in DecAuReady");
  if (bits) *bits = buffer->readyQueue[0];
  std::memmove(buffer->readyQueue, buffer->readyQueue + 1, sizeof(int32_t) * (buffer->readyCount - 1));
  --buffer->readyCount;
  buffer->readyQueue[buffer->readyCount] = 0;
  return nullptr;
}

int32_t GetAuReadyCount(const bit_buf* buffer) { return buffer ? buffer->readyCount : 0; }

void EnableElementMarks(bit_buf* buffer, int32_t flag) {
  if (buffer) buffer->severalMarks = flag ? 1 : 0;
}

void ResetElementMarks(bit_buf* buffer) {
  if (!buffer) return;
  for (ElementMark& m : buffer->marks) m.kind = kElementMarkFree;
}

int32_t SetElementMark(bit_buf* buffer, int32_t kind) {
  if (!buffer) return -1;
  int32_t entry = 0;
  if (buffer->severalMarks) {
    entry = -1;
    for (int32_t i = 0; i < kBitBufMarks - 1; ++i) {
      if (buffer->marks[i].kind == kElementMarkFree) {
        entry = i;
        break;
      }
    }
    if (entry < 0) return -1;
  }
  buffer->marks[entry].kind = kind;
  buffer->marks[entry].start = GetWritePosition(buffer);
  buffer->marks[entry].end = buffer->marks[entry].start;
  return entry;
}

void SetElementMarkEnd(bit_buf* buffer, int32_t entry) {
  if (!buffer || entry < 0 || entry >= kBitBufMarks) return;
  buffer->marks[entry].end = GetWritePosition(buffer);
}

uint16_t CrcOverElementMarks(bit_buf* buffer, crc* reg) {
  if (!buffer || !reg) return reg ? reg->value : 0;
  const int32_t readPosition = GetReadPosition(buffer);
  const int32_t avail = buffer->bitsAvail;
  const int32_t ring = ringBits(buffer);
  for (const ElementMark& m : buffer->marks) {
    if (m.kind == kElementMarkFree) break;
    const int32_t range = static_cast<int32_t>((static_cast<int64_t>(m.end) - m.start + ring) % ring);
    const int32_t kind = (m.kind >= 0 && m.kind < 8) ? m.kind : 7;
    const int32_t protectedBits = kProtectedBits[kind] < 0 ? range : kProtectedBits[kind];
    setReadPosition(buffer, m.start);
    int32_t fed = range < protectedBits ? range : protectedBits;
    for (; fed >= 8; fed -= 8) UpdateCrcByte(reg, static_cast<uint8_t>(readShort(buffer, 8)));
    if (fed > 0) UpdateCrcBits(reg, readShort(buffer, fed), fed);
    for (int32_t zeros = protectedBits - range; zeros > 0;) {
      if (zeros >= 8) {
        UpdateCrcByte(reg, 0);
        zeros -= 8;
      } else {
        UpdateCrcBits(reg, 0, zeros);
        zeros = 0;
      }
    }
  }
  setReadPosition(buffer, readPosition);
  buffer->bitsAvail = avail;
  return reg->value;
}
