// CRC registers: bitwise and table-driven updates of one shift register.
#include "crc.h"

#include "bit_buf.h"
#include "utillib.h"

namespace {

uint16_t shiftBit(uint16_t reg, uint16_t polynomial, uint16_t topBitMask, uint32_t bit) {
  const bool feedback = ((reg & topBitMask) != 0) != (bit != 0);
  reg = static_cast<uint16_t>(reg << 1);
  if (feedback) reg = static_cast<uint16_t>(reg ^ polynomial);
  return reg;
}

void fillTable(crc* record) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t reg = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b) reg = shiftBit(reg, record->polynomial, 0x8000, 0);
    record->table[i] = reg;
  }
}

}  // namespace

void InitCrc(uint16_t polynomial, uint16_t initial, crc* record) {
  if (!record) return;
  record->polynomial = polynomial;
  record->topBitMask = 0x8000;
  record->value = 0;
  record->initial = initial;
  fillTable(record);
}

CodecError* CreateCrc(crc** out, uint16_t polynomial, uint16_t initial) {
  if (!out) return createError(__FILE__, __LINE__, "CreateCrc", "null argument");
  *out = nullptr;
  crc* record = static_cast<crc*>(utilCalloc(1, sizeof(crc), __FILE__, __LINE__));
  if (!record) return createError(__FILE__, __LINE__, "CreateCrc", "out of memory");
  InitCrc(polynomial, initial, record);
  *out = record;
  return nullptr;
}

void DeleteCrc(crc* record) { utilFree(record, __FILE__, __LINE__); }

void ResetCrc(crc* record) {
  if (record) record->value = record->initial;
}

void SetCrcPolynomial(crc* record, uint16_t polynomial) {
  if (!record) return;
  record->polynomial = polynomial;
  fillTable(record);
}

void SetCrcValue(crc* record, uint16_t value) {
  if (record) record->value = value;
}

void UpdateCrcBits(crc* record, uint32_t value, int32_t n) {
  if (!record || n <= 0) return;
  if (n > 32) n = 32;
  for (int32_t i = n - 1; i >= 0; --i)
    record->value = shiftBit(record->value, record->polynomial, record->topBitMask, (value >> i) & 1u);
}

void UpdateCrcByte(crc* record, uint8_t byte) {
  if (!record) return;
  record->value = static_cast<uint16_t>((record->value << 8) ^ record->table[((record->value >> 8) ^ byte) & 0xFF]);
}

uint32_t CrcFromBufferBits(uint32_t reg, uint32_t polynomial, uint32_t topBitMask, int32_t n, bit_buf* buffer) {
  // The register is as wide as its top bit: mask 128 keeps 8 bits.
  const uint32_t widthMask = topBitMask ? (topBitMask << 1) - 1u : 0u;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t bit = static_cast<uint32_t>(ReadBits(buffer, 1));
    const bool feedback = ((reg & topBitMask) != 0) != (bit != 0);
    reg <<= 1;
    if (feedback) reg ^= polynomial;
    reg &= widthMask;
  }
  return reg;
}
