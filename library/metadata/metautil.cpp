// Byte and text utilities of the tag readers and writers.
#include "metautil.h"

#include "textencoding.h"

namespace fileutil {

static bool ReadN(std::istream& in, uint8_t* b, int n) {
  in.read(reinterpret_cast<char*>(b), n);
  return in.gcount() == n;
}
static bool WriteN(std::ostream& out, const uint8_t* b, int n) {
  out.write(reinterpret_cast<const char*>(b), n);
  return bool(out);
}

bool ReadBE16(std::istream& in, uint16_t& v) {
  uint8_t b[2];
  if (!ReadN(in, b, 2)) return false;
  v = GetBE16(b);
  return true;
}
bool ReadBE32(std::istream& in, uint32_t& v) {
  uint8_t b[4];
  if (!ReadN(in, b, 4)) return false;
  v = GetBE32(b);
  return true;
}
bool ReadLE16(std::istream& in, uint16_t& v) {
  uint8_t b[2];
  if (!ReadN(in, b, 2)) return false;
  v = GetLE16(b);
  return true;
}
bool ReadLE32(std::istream& in, uint32_t& v) {
  uint8_t b[4];
  if (!ReadN(in, b, 4)) return false;
  v = uint32_t(GetLE16(b)) | (uint32_t(GetLE16(b + 2)) << 16);
  return true;
}
bool WriteBE16(std::ostream& out, uint16_t v) {
  uint8_t b[2];
  PutBE16(b, v);
  return WriteN(out, b, 2);
}
bool WriteBE32(std::ostream& out, uint32_t v) {
  uint8_t b[4];
  PutBE32(b, v);
  return WriteN(out, b, 4);
}
bool WriteLE16(std::ostream& out, uint16_t v) {
  uint8_t b[2];
  PutLE16(b, v);
  return WriteN(out, b, 2);
}
bool WriteLE32(std::ostream& out, uint32_t v) {
  uint8_t b[4];
  PutLE16(b, uint16_t(v));
  PutLE16(b + 2, uint16_t(v >> 16));
  return WriteN(out, b, 4);
}

// Mac Roman, bytes 0x80 to 0xFF.
static const uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

std::wstring MultiByteToWString(const char* text, size_t length, uint32_t codePage) {
  std::wstring out;
  if (!text || !length) return out;
  const uint8_t* b = reinterpret_cast<const uint8_t*>(text);
  if (codePage == kCodePageUtf8) {
    Utf8ToWide(b, length, out);
  } else if (codePage == kCodePageMacintosh) {
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) out.push_back(b[i] < 0x80 ? wchar_t(b[i]) : wchar_t(kMacRoman[b[i] - 0x80]));
  } else {
    Latin1ToWide(b, length, out);
  }
  return out;
}

std::string WStringToMultiByte(const std::wstring& text, uint32_t codePage) {
  std::string out;
  if (codePage == kCodePageUtf8) {
    WideToUtf8(text, out);
  } else if (codePage == kCodePageMacintosh) {
    out.reserve(text.size());
    for (wchar_t c : text) {
      uint32_t u = uint32_t(c);
      char byte = '?';
      if (u < 0x80) {
        byte = char(u);
      } else {
        for (int i = 0; i < 128; ++i)
          if (kMacRoman[i] == u) byte = char(0x80 + i);
      }
      out.push_back(byte);
    }
  } else {
    WideToLatin1(text, out);
  }
  return out;
}

std::wstring GetFileExtension(const std::wstring& path) {
  size_t dot = path.find_last_of(L'.');
  return dot == std::wstring::npos ? std::wstring() : path.substr(dot + 1);
}

uint32_t ParseLeadingNumber(const std::wstring& text, uint32_t maximum) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\n' || text[i] == L'\r')) ++i;
  if (i < text.size() && text[i] == L'+') ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + uint32_t(text[i] - L'0');
    if (value > maximum) value = maximum;
  }
  return uint32_t(value);
}

}  // namespace fileutil
