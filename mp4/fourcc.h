// Four-character codes: box types, brands, handler types and ID3v2 frame ids,
// held as the four bytes in file order (the first character is the lowest byte).
#pragma once

#include <cstdint>
#include <iosfwd>

namespace fileutil {

// The 32-bit value of a code written as a four-character literal; "moov" gives
// 0x766F6F6D. Codes that begin with the byte 0xA9 are written "\xA9" "nam".
constexpr uint32_t FCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) |
         (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

class FourCC {
 public:
  FourCC() : value_(0) {}
  FourCC(unsigned value) : value_(value) {}  // NOLINT: box type constants convert implicitly
  explicit FourCC(const char* text);
  FourCC(char a, char b, char c, char d);

  uint32_t GetValue() const { return value_; }
  uint8_t Byte(int i) const { return uint8_t(value_ >> (8 * i)); }
  bool IsPrintable() const;
  bool IsUpperAlnum() const;

  bool operator==(const FourCC& o) const { return value_ == o.value_; }
  bool operator!=(const FourCC& o) const { return value_ != o.value_; }

 private:
  uint32_t value_;
};

// Orders codes by their unsigned 32-bit value (not alphabetically).
struct FourCCCmp {
  bool operator()(const FourCC& a, const FourCC& b) const { return a.GetValue() < b.GetValue(); }
};

std::ostream& operator<<(std::ostream& out, const FourCC& code);
std::wostream& operator<<(std::wostream& out, const FourCC& code);

}  // namespace fileutil
