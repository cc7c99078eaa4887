// CRC registers of the encoder's bitstream writers: a polynomial shift
// register fed most significant bit first, with a byte table for whole bytes.
// The ADTS header writer uses the 16-bit form (polynomial 0x8005, start value
// 0xFFFF); the error-resilient class buffers use an 8-bit form (polynomial 7,
// top-bit mask 128) through CrcFromBufferBits.
#pragma once

#include <cstdint>

#include "errorhnd.h"

struct bit_buf;

struct crc {
  uint16_t polynomial;
  uint16_t topBitMask;  // 0x8000
  uint16_t value;       // the register
  uint16_t initial;
  uint16_t table[256];  // register after shifting (i << 8) eight times
};

// Allocates a register for the polynomial and start value and fills its
// table; the register itself starts at 0 (ResetCrc loads the start value).
CodecError* CreateCrc(crc** out, uint16_t polynomial, uint16_t initial);
void DeleteCrc(crc* record);
// Fills a record in place (table included); register 0.
void InitCrc(uint16_t polynomial, uint16_t initial, crc* record);
// Register = start value. Null is ignored.
void ResetCrc(crc* record);
// New polynomial (the table is rebuilt). Null is ignored.
void SetCrcPolynomial(crc* record, uint16_t polynomial);
// Register = value. Null is ignored.
void SetCrcValue(crc* record, uint16_t value);
// Feeds the low n bits of value (n up to 32), highest first.
void UpdateCrcBits(crc* record, uint32_t value, int32_t n);
// Feeds one byte through the table.
void UpdateCrcByte(crc* record, uint8_t byte);

// Reads n bits from the buffer and feeds them bitwise into a register of the
// given polynomial and top-bit mask (an 8-bit CRC has mask 128); returns the
// new register value, kept to the register's width.
uint32_t CrcFromBufferBits(uint32_t reg, uint32_t polynomial, uint32_t topBitMask, int32_t n, bit_buf* buffer);
