// Access-unit buffer: holds the bytes of the access unit(s) to decode and
// is the bit source of the AAC core (its leading fields are the generic
// reader's callbacks and look-ahead state).
#pragma once

#include <cstdint>

#include "aacbits.h"

const uint32_t kAuBufferMagic = 0xA0B0FFEAu;
enum {
  kAuBufferMaxSize = 65536,
  kAuBufferMaxUnits = 16,
};

struct AuBuffer {
  AacBitstream bs;  // callbacks and look-ahead state; must stay first
  uint32_t magic;
  uint8_t* data;
  int32_t capacity;
  int32_t ownMemory;
  int32_t readPos;       // next byte the raw reader loads
  int32_t fillLevel;     // bytes written
  int32_t bitsConsumed;  // raw bits taken out (including any past the end)
  int32_t cachedBits;
  uint32_t cache;
  int32_t exhausted;     // 1 = no data
  int32_t overrun;       // 1 once a byte past the fill level was loaded (it reads as zero)
  int32_t unitCount;
  int32_t unitSizes[kAuBufferMaxUnits];
};

AuBuffer* auBufferCreate(uint8_t* memory, int32_t size);
int32_t auBufferFeed(AuBuffer* au, const uint8_t* bytes, int32_t count);
int32_t auBufferHasData(const AuBuffer* au);
int32_t auBufferReset(AuBuffer* au);
int32_t auBufferSetEof(AuBuffer* au);
int32_t auBufferCheck(const AuBuffer* au);
int32_t auBufferRewind(AuBuffer* au);
AacBitstream* auBufferGetBitstream(AuBuffer* au);
int32_t auBufferGetBitsLeft(const AuBuffer* au, int32_t* out);
int32_t auBufferGetUnit(const AuBuffer* au, int32_t index, const uint8_t** start, int32_t* size);
int32_t auBufferGetUnitCount(const AuBuffer* au);
int32_t auBufferGetFillBits(const AuBuffer* au);
int32_t auBufferGetFillBytes(const AuBuffer* au);
// 1 once a read went past the fill level (reads there give zero bits).
int32_t auBufferOverrun(const AuBuffer* au);
int32_t auBufferDestroy(AuBuffer** au);
