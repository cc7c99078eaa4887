// Four-character codes.
#include "fourcc.h"

#include <ios>
#include <ostream>

namespace fileutil {

FourCC::FourCC(const char* text) : value_(0) {
  if (!text) return;
  for (int i = 0; i < 4 && text[i] != '\0'; ++i) value_ |= uint32_t(uint8_t(text[i])) << (8 * i);
}

FourCC::FourCC(char a, char b, char c, char d)
    : value_(uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
             (uint32_t(uint8_t(d)) << 24)) {}

static bool IsPrintableByte(uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == 0xA9 ||
         b == ' ' || b == '-';
}

bool FourCC::IsPrintable() const {
  for (int i = 0; i < 4; ++i)
    if (!IsPrintableByte(Byte(i))) return false;
  return true;
}

bool FourCC::IsUpperAlnum() const {
  for (int i = 0; i < 4; ++i) {
    uint8_t b = Byte(i);
    if (!((b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9'))) return false;
  }
  return true;
}

std::ostream& operator<<(std::ostream& out, const FourCC& code) {
  if (code.IsPrintable()) {
    for (int i = 0; i < 4; ++i) out.put(char(code.Byte(i)));
    return out;
  }
  static const char digits[] = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    if (i) out.put(' ');
    out.put(digits[code.Byte(i) >> 4]);
    out.put(digits[code.Byte(i) & 15]);
  }
  return out;
}

std::wostream& operator<<(std::wostream& out, const FourCC& code) {
  if (code.IsPrintable()) {
    for (int i = 0; i < 4; ++i) out.put(wchar_t(code.Byte(i)));
    return out;
  }
  static const char digits[] = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    if (i) out.put(L' ');
    out.put(wchar_t(digits[code.Byte(i) >> 4]));
    out.put(wchar_t(digits[code.Byte(i) & 15]));
  }
  return out;
}

}  // namespace fileutil
