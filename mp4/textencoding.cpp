// Text encodings and byte-string functions.
#include "textencoding.h"

#include "kvbyteorder.h"

#include <istream>
#include <ostream>

namespace fileutil {

static void AppendUnit(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(wchar_t(0xD800 + (cp >> 10)));
    out.push_back(wchar_t(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(wchar_t(cp));
  }
}

void Utf8ToWide(const uint8_t* s, size_t n, std::wstring& out) {
  out.clear();
  size_t i = 0;
  while (i < n) {
    uint8_t b = s[i];
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07;
      len = 4;
    } else {
      AppendUnit(out, 0xFFFD);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    bool bad = k < len || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF);
    AppendUnit(out, bad ? 0xFFFD : cp);
    i += k;
  }
}

void WideToUtf8(const std::wstring& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = uint32_t(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && uint32_t(text[i + 1]) >= 0xDC00 &&
        uint32_t(text[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | (cp >> 12)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (cp >> 18)));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
}

void Latin1ToWide(const uint8_t* bytes, size_t count, std::wstring& out) {
  out.assign(count, L'\0');
  for (size_t i = 0; i < count; ++i) out[i] = wchar_t(bytes[i]);
}

void WideToLatin1(const std::wstring& text, std::string& out) {
  out.clear();
  for (wchar_t c : text) out.push_back(uint32_t(c) <= 0xFF ? char(c) : '?');
}

static uint64_t PutBytes(std::ostream& out, const std::string& s) {
  if (!s.empty()) out.write(s.data(), std::streamsize(s.size()));
  return s.size();
}

// ISO-8859-1
uint32_t Char_ISO_8859_1::GetEncodedSize(const std::wstring& text) const { return uint32_t(text.size() + 1); }
uint64_t Char_ISO_8859_1::Write(std::ostream& out, const std::wstring& text) const {
  std::string s;
  WideToLatin1(text, s);
  uint64_t n = PutBytes(out, s);
  out.put('\0');
  return n + 1;
}
uint64_t Char_ISO_8859_1::WriteEncodingByte(std::ostream& out) const {
  out.put(char(0));
  return 1;
}
uint32_t Char_ISO_8859_1::Read(std::wstring& out, uint32_t byteCount, std::istream& in) const {
  ByteVector bytes;
  uint32_t n = ReadByteString(bytes, byteCount, in);
  BytesToString(out, bytes, kCodePageLatin1);
  return n;
}

// UTF-16 with byte-order mark
uint32_t Char_UTF16_BOM::GetEncodedSize(const std::wstring& text) const { return uint32_t(2 * text.size() + 4); }
uint64_t Char_UTF16_BOM::Write(std::ostream& out, const std::wstring& text) const {
  out.put(char(byteOrderMark >> 8));
  out.put(char(byteOrderMark & 0xFF));
  uint64_t n = 2;
  if (byteOrderMark == 0xFEFF)
    n += WriteUtf16BE(out, text);
  else if (byteOrderMark == 0xFFFE)
    n += WriteUtf16LE(out, text);
  out.put('\0');
  out.put('\0');
  return n + 2;
}
uint64_t Char_UTF16_BOM::WriteEncodingByte(std::ostream& out) const {
  out.put(char(1));
  return 1;
}
uint32_t Char_UTF16_BOM::Read(std::wstring& out, uint32_t byteCount, std::istream& in) const {
  ByteVector bytes;
  uint32_t n = ReadWordString(bytes, byteCount / 2, in);
  BytesToString(out, bytes, kCodePageLatin1);
  return n;
}

// UTF-16 big-endian without mark
uint32_t Char_UTF16_BigEndian::GetEncodedSize(const std::wstring& text) const {
  return uint32_t(2 * text.size() + 2);
}
uint64_t Char_UTF16_BigEndian::Write(std::ostream& out, const std::wstring& text) const {
  uint64_t n = WriteUtf16BE(out, text);
  out.put('\0');
  out.put('\0');
  return n + 2;
}
uint64_t Char_UTF16_BigEndian::WriteEncodingByte(std::ostream& out) const {
  out.put(char(2));
  return 1;
}
uint32_t Char_UTF16_BigEndian::Read(std::wstring& out, uint32_t byteCount, std::istream& in) const {
  ByteVector bytes;
  uint32_t n = ReadWordString(bytes, byteCount / 2, in);
  Utf16BEBytesToString(out, bytes);
  TrimTrailingNuls(out);
  return n;
}

// UTF-8
uint32_t Char_UTF8::GetEncodedSize(const std::wstring& text) const {
  std::string s;
  WideToUtf8(text, s);
  return uint32_t(s.size() + 1);
}
uint64_t Char_UTF8::Write(std::ostream& out, const std::wstring& text) const {
  std::string s;
  WideToUtf8(text, s);
  uint64_t n = PutBytes(out, s);
  out.put('\0');
  return n + 1;
}
uint64_t Char_UTF8::WriteEncodingByte(std::ostream& out) const {
  out.put(char(3));
  return 1;
}
uint32_t Char_UTF8::Read(std::wstring& out, uint32_t byteCount, std::istream& in) const {
  ByteVector bytes;
  uint32_t n = ReadByteString(bytes, byteCount, in);
  BytesToString(out, bytes, kCodePageUtf8);
  return n;
}

static const Char_ISO_8859_1 g_latin1;
static const Char_UTF16_BOM g_utf16Bom;
static const Char_UTF16_BigEndian g_utf16Be;
static const Char_UTF8 g_utf8;

const CharEncoding& GetCharEncoding(uint8_t id) {
  switch (id) {
    case 1: return g_utf16Bom;
    case 2: return g_utf16Be;
    case 3: return g_utf8;
    default: return g_latin1;
  }
}

uint32_t ReadEncodedString(uint8_t id, uint32_t byteCount, std::wstring& out, std::istream& in) {
  if (id > 3) {
    out.clear();
    return 0;
  }
  return GetCharEncoding(id).Read(out, byteCount, in);
}

uint32_t ReadByteString(ByteVector& out, uint32_t n, std::istream& in) {
  out.clear();
  while (out.size() < n) {
    int c = in.get();
    if (c == std::char_traits<char>::eof()) break;
    out.push_back(uint8_t(c));
    if (c == 0) break;
  }
  return uint32_t(out.size());
}

uint32_t ReadWordString(ByteVector& out, uint32_t units, std::istream& in) {
  out.clear();
  for (uint32_t u = 0; u < units; ++u) {
    int a = in.get();
    if (a == std::char_traits<char>::eof()) break;
    int b = in.get();
    if (b == std::char_traits<char>::eof()) {
      out.push_back(uint8_t(a));
      break;
    }
    out.push_back(uint8_t(a));
    out.push_back(uint8_t(b));
    if (a == 0 && b == 0) break;
  }
  return uint32_t(out.size());
}

void TrimTrailingNuls(std::wstring& text) {
  while (!text.empty() && text.back() == L'\0') text.pop_back();
}

void Utf16BomBEToString(std::wstring& out, const ByteVector& b) {
  out.clear();
  for (size_t i = 2; i + 1 < b.size(); i += 2) out.push_back(wchar_t((b[i] << 8) | b[i + 1]));
}

void Utf16BomLEToString(std::wstring& out, const ByteVector& b) {
  out.clear();
  for (size_t i = 2; i + 1 < b.size(); i += 2) out.push_back(wchar_t(b[i] | (b[i + 1] << 8)));
}

void Utf16BEBytesToString(std::wstring& out, const ByteVector& b) {
  out.clear();
  for (size_t i = 0; i + 1 < b.size(); i += 2) out.push_back(wchar_t((b[i] << 8) | b[i + 1]));
}

void MultiByteToString(std::wstring& out, const ByteVector& bytes, uint32_t codePage) {
  if (bytes.empty()) {
    out.clear();
    return;
  }
  if (codePage == kCodePageUtf8)
    Utf8ToWide(bytes.data(), bytes.size(), out);
  else
    Latin1ToWide(bytes.data(), bytes.size(), out);
}

void BytesToString(std::wstring& out, const ByteVector& bytes, uint32_t codePage) {
  if (bytes.empty()) {
    out.clear();
  } else if (bytes.size() == 1) {
    out.assign(1, wchar_t(bytes[0]));
  } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
    Utf16BomBEToString(out, bytes);
  } else if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
    Utf16BomLEToString(out, bytes);
  } else {
    MultiByteToString(out, bytes, codePage);
  }
  TrimTrailingNuls(out);
}

void Utf8BytesToString(std::wstring& out, const ByteVector& bytes) { BytesToString(out, bytes, kCodePageUtf8); }

void StringToMultiByte(const std::wstring& text, ByteVector& out, uint32_t codePage) {
  if (text.empty()) return;
  std::string s;
  if (codePage == kCodePageUtf8)
    WideToUtf8(text, s);
  else
    WideToLatin1(text, s);
  out.assign(s.begin(), s.end());
}

uint64_t WriteUtf16BE(std::ostream& out, const std::wstring& text) {
  for (wchar_t c : text) {
    out.put(char((uint32_t(c) >> 8) & 0xFF));
    out.put(char(uint32_t(c) & 0xFF));
  }
  return 2 * uint64_t(text.size());
}

uint64_t WriteUtf16LE(std::ostream& out, const std::wstring& text) {
  for (wchar_t c : text) {
    out.put(char(uint32_t(c) & 0xFF));
    out.put(char((uint32_t(c) >> 8) & 0xFF));
  }
  return 2 * uint64_t(text.size());
}

static void PutHex(std::wostream& out, uint32_t value, int digits) {
  static const wchar_t hex[] = L"0123456789abcdef";
  for (int i = digits - 1; i >= 0; --i) out.put(hex[(value >> (4 * i)) & 15]);
}

void WriteGuid(std::wostream& out, const GUID& g) {
  out.put(L'{');
  PutHex(out, g.Data1, 8);
  out.put(L'-');
  PutHex(out, g.Data2, 4);
  out.put(L'-');
  PutHex(out, g.Data3, 4);
  out.put(L'-');
  PutHex(out, g.Data4[0], 2);
  PutHex(out, g.Data4[1], 2);
  out.put(L'-');
  for (int i = 2; i < 8; ++i) PutHex(out, g.Data4[i], 2);
  out.put(L'}');
}

static int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

void ReadGuid(std::wistream& in, GUID& out) {
  uint8_t bytes[16] = {0};
  int filled = 0;
  bool ok = true;
  for (int step = 0; step < 41 && filled < 16; ++step) {
    std::wistream::int_type c = in.get();
    if (c == std::char_traits<wchar_t>::eof()) {
      ok = false;
      break;
    }
    if (c == L'{' || c == L'-') continue;
    if (c == L'}') break;
    int hi = HexValue(wchar_t(c));
    std::wistream::int_type c2 = in.get();
    int lo = c2 == std::char_traits<wchar_t>::eof() ? -1 : HexValue(wchar_t(c2));
    if (hi < 0 || lo < 0) {
      ok = false;
      break;
    }
    bytes[filled++] = uint8_t((hi << 4) | lo);
  }
  out = GUID();
  if (!ok || filled < 16) return;
  out.Data1 = GetBE32(bytes);
  out.Data2 = GetBE16(bytes + 4);
  out.Data3 = GetBE16(bytes + 6);
  for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
}

uint64_t CopyStreamBytes(std::ostream& out, std::istream& in, uint64_t count) {
  char block[4096];
  uint64_t copied = 0;
  while (copied < count) {
    uint64_t want = count - copied;
    if (want > sizeof(block)) want = sizeof(block);
    in.read(block, std::streamsize(want));
    std::streamsize got = in.gcount();
    if (got > 0) {
      out.write(block, got);
      if (!out) break;
      copied += uint64_t(got);
    }
    if (uint64_t(got) < want) break;
  }
  return copied;
}

}  // namespace fileutil
