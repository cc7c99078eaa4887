// Writes bit strings MSB first, for hand-made configurations and units.
#pragma once

#include <cstdint>
#include <vector>

class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (pos_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
      ++pos_;
    }
  }
  void align() {
    while (pos_ % 8) put(0, 1);
  }
  int bits() const { return pos_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int pos_ = 0;
};
