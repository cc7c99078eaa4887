// Text encodings of metadata (ID3v2 encoding ids 0-3, 3GPP and item texts),
// conversions between byte strings and wide (UTF-16) strings, GUID text and the
// stream-to-stream copy. Wide strings hold UTF-16 code units on both builds.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "kvportable.h"

namespace fileutil {

typedef std::vector<uint8_t> ByteVector;

const uint32_t kCodePageLatin1 = 28591;
const uint32_t kCodePageUtf8 = 65001;

// Own converters (no platform code page service). Invalid UTF-8 becomes U+FFFD.
void Utf8ToWide(const uint8_t* bytes, size_t count, std::wstring& out);
void WideToUtf8(const std::wstring& text, std::string& out);
void Latin1ToWide(const uint8_t* bytes, size_t count, std::wstring& out);
// Characters above U+00FF become '?'.
void WideToLatin1(const std::wstring& text, std::string& out);

class CharEncoding {
 public:
  virtual uint32_t GetEncodedSize(const std::wstring& text) const = 0;
  virtual uint64_t Write(std::ostream& out, const std::wstring& text) const = 0;
  virtual uint64_t WriteEncodingByte(std::ostream& out) const = 0;
  virtual uint32_t Read(std::wstring& out, uint32_t byteCount, std::istream& in) const = 0;

 protected:
  ~CharEncoding() {}
};

class Char_ISO_8859_1 : public CharEncoding {
 public:
  uint32_t GetEncodedSize(const std::wstring& text) const override;
  uint64_t Write(std::ostream& out, const std::wstring& text) const override;
  uint64_t WriteEncodingByte(std::ostream& out) const override;
  uint32_t Read(std::wstring& out, uint32_t byteCount, std::istream& in) const override;
};

class Char_UTF16_BOM : public CharEncoding {
 public:
  uint32_t GetEncodedSize(const std::wstring& text) const override;
  uint64_t Write(std::ostream& out, const std::wstring& text) const override;
  uint64_t WriteEncodingByte(std::ostream& out) const override;
  uint32_t Read(std::wstring& out, uint32_t byteCount, std::istream& in) const override;
  uint16_t byteOrderMark = 0xFEFF;
};

class Char_UTF16_BigEndian : public CharEncoding {
 public:
  uint32_t GetEncodedSize(const std::wstring& text) const override;
  uint64_t Write(std::ostream& out, const std::wstring& text) const override;
  uint64_t WriteEncodingByte(std::ostream& out) const override;
  uint32_t Read(std::wstring& out, uint32_t byteCount, std::istream& in) const override;
};

class Char_UTF8 : public CharEncoding {
 public:
  uint32_t GetEncodedSize(const std::wstring& text) const override;
  uint64_t Write(std::ostream& out, const std::wstring& text) const override;
  uint64_t WriteEncodingByte(std::ostream& out) const override;
  uint32_t Read(std::wstring& out, uint32_t byteCount, std::istream& in) const override;
};

// The object for ids 0-3; the ISO-8859-1 object for any other id.
const CharEncoding& GetCharEncoding(uint8_t id);
// Empty text and nothing read for an id of 4 or more.
uint32_t ReadEncodedString(uint8_t id, uint32_t byteCount, std::wstring& out, std::istream& in);

// Reads bytes until a 0 byte has been kept or n bytes are held; n = 0 reads nothing.
uint32_t ReadByteString(ByteVector& out, uint32_t n, std::istream& in);
// The same with 2-byte units; ends after a unit of two 0 bytes.
uint32_t ReadWordString(ByteVector& out, uint32_t units, std::istream& in);

void BytesToString(std::wstring& out, const ByteVector& bytes, uint32_t codePage);
void Utf8BytesToString(std::wstring& out, const ByteVector& bytes);
void Utf16BomBEToString(std::wstring& out, const ByteVector& bytes);
void Utf16BomLEToString(std::wstring& out, const ByteVector& bytes);
void Utf16BEBytesToString(std::wstring& out, const ByteVector& bytes);
void MultiByteToString(std::wstring& out, const ByteVector& bytes, uint32_t codePage);
void TrimTrailingNuls(std::wstring& text);

void StringToMultiByte(const std::wstring& text, ByteVector& out, uint32_t codePage);
uint64_t WriteUtf16BE(std::ostream& out, const std::wstring& text);
uint64_t WriteUtf16LE(std::ostream& out, const std::wstring& text);

void WriteGuid(std::wostream& out, const GUID& guid);
void ReadGuid(std::wistream& in, GUID& out);

// Copies `count` bytes in blocks of 4096. Only bytes really read are written;
// the answer is the number of bytes copied (below `count` on a short read or a
// failed write).
uint64_t CopyStreamBytes(std::ostream& out, std::istream& in, uint64_t count);

}  // namespace fileutil
