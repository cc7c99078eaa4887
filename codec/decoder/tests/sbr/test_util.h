// Helpers shared by the SBR library tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace sbrtest {

inline std::string fixturePath(const std::string& name) { return std::string(VOG_FIXTURE_DIR) + "/sbr/" + name; }

inline std::vector<float> readFloats(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<float> v;
  if (!f) return v;
  f.seekg(0, std::ios::end);
  size_t n = static_cast<size_t>(f.tellg()) / sizeof(float);
  f.seekg(0);
  v.resize(n);
  f.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n * sizeof(float)));
  return v;
}

// MSB-first bit writer for building payloads.
class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; i--) {
      if (pos_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (pos_ % 8));
      pos_++;
    }
  }
  void putBits(const std::string& bits) {
    for (char c : bits) put(c == '1' ? 1u : 0u, 1);
  }
  int bitCount() const { return pos_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int pos_ = 0;
};

}  // namespace sbrtest
