// The encoder's bit buffer: a ring of 16-bit words written and read most
// significant bit first, with a queue of finished access-unit lengths and a
// table of element marks over which the ADTS header's CRC is computed.
//
// Positions are bit indices into the ring (0 .. size * 16 - 1). Writers may
// pass a null buffer: WriteBits then writes nothing and only returns its bit
// count, which is how an element is sized before it is written.
#pragma once

#include <cstdint>

#include "errorhnd.h"

struct crc;

enum {
  kBitBufMarks = 30,
  kBitBufReadyQueue = 100,
  kElementMarkFree = 8,
};

// Kinds of element marks (the syntactic element a marked range holds).
enum ElementMarkKind {
  kMarkSce = 0,
  kMarkCpe = 1,        // from the element id to the end of the first channel's stream
  kMarkCce = 2,
  kMarkLfe = 3,
  kMarkCpeSecond = 4,  // the second channel stream of a channel pair element
  kMarkAdtsHeader = 5,
  kMarkPce = 6,
  kMarkWhole = 7,
};

struct ElementMark {
  int32_t kind;   // kElementMarkFree when unused
  int32_t start;  // write position at SetElementMark
  int32_t end;    // write position at SetElementMarkEnd
};

struct bit_buf {
  int32_t size;             // words in the ring
  uint16_t* words;
  uint16_t readCache;       // unread rest of the read word, left-aligned
  uint16_t writeCache;      // bits of the write word written so far, right-aligned
  int32_t writeBitsFree;
  int32_t readBitsLeft;
  int32_t writeIndex;
  int32_t readIndex;
  int32_t bitsAvail;        // written and not yet read
  int32_t bitsSinceAlign;
  int32_t sharedWord;       // a write went into the word being read
  int32_t severalMarks;
  ElementMark marks[kBitBufMarks];
  int32_t readyCount;
  int32_t readyQueue[kBitBufReadyQueue];
};

// A ring of (sizeBits + 15) / 16 zero-filled words; null when sizeBits is
// not positive or memory runs out.
bit_buf* CreateBitBuffer(int32_t sizeBits);
void DeleteBitBuffer(bit_buf* buffer);

// Writes the low n bits of value, most significant first (n 0..32; above 16
// the high n - 16 bits go first). Returns n, also for a null buffer.
int32_t WriteBits(bit_buf* buffer, uint32_t value, int32_t n);
// Reads n bits (0..32).
uint32_t ReadBits(bit_buf* buffer, int32_t n);
// Writes zero bits up to the next byte boundary (counted from the last
// alignment); returns their count, 0 for a null buffer.
int32_t ByteAlign(bit_buf* buffer);
int32_t GetBitsAvail(const bit_buf* buffer);
int32_t GetBufferSizeBits(const bit_buf* buffer);
int32_t GetWritePosition(const bit_buf* buffer);
int32_t GetReadPosition(const bit_buf* buffer);
// Moves the read position by delta (modulo the ring) and returns the
// position before the move; bits available fall by delta.
int32_t SeekReadPosition(bit_buf* buffer, int32_t delta);
// Moves the write position by delta (modulo the ring) after merging the
// write cache, so bits behind the new position survive; returns the
// position before the move; bits available and bits since alignment grow
// by delta.
int32_t SeekWritePosition(bit_buf* buffer, int32_t delta);
// Overwrites n bits at an earlier write position and returns to the current
// one; bits available end unchanged.
void WriteBitsAt(bit_buf* buffer, int32_t position, uint32_t value, int32_t n);
// Moves n bits one at a time from source to destination.
void CopyBits(bit_buf* destination, bit_buf* source, int32_t n);
// Reads count bytes; a last byte with fewer than 8 bits available holds
// them in its high bits, zeros below (no bits left gives 0).
void ReadBytes(bit_buf* buffer, uint8_t* bytes, int32_t count);

// The queue of finished access units (bit counts), oldest first.
CodecError* IncAuReady(bit_buf* buffer, int32_t bits);
CodecError* DecAuReady(bit_buf* buffer, int32_t* bits);
int32_t GetAuReadyCount(const bit_buf* buffer);

void EnableElementMarks(bit_buf* buffer, int32_t flag);
void ResetElementMarks(bit_buf* buffer);
// Opens a mark of the kind at the write position; returns its entry, or -1
// (nothing stored) when no entry is free.
int32_t SetElementMark(bit_buf* buffer, int32_t kind);
void SetElementMarkEnd(bit_buf* buffer, int32_t entry);
// Feeds the protected bits of every mark (up to the first free entry) into
// the register and returns it; the read position and bits available are
// left as they were.
uint16_t CrcOverElementMarks(bit_buf* buffer, crc* reg);
