// Byte and text utilities of the tag readers and writers: big- and
// little-endian integers on byte buffers and streams, code-page conversions
// (UTF-8, ISO-8859-1 and the Macintosh code page by our own tables, so that
// both builds give the same bytes) and the extension of a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "kvbyteorder.h"

namespace fileutil {

const uint32_t kCodePageMacintosh = 2;  // the system Macintosh code page (Mac Roman)

// Stream forms: false when the stream could not deliver or take all bytes.
bool ReadBE16(std::istream& in, uint16_t& v);
bool ReadBE32(std::istream& in, uint32_t& v);
bool ReadLE16(std::istream& in, uint16_t& v);
bool ReadLE32(std::istream& in, uint32_t& v);
bool WriteBE16(std::ostream& out, uint16_t v);
bool WriteBE32(std::ostream& out, uint32_t v);
bool WriteLE16(std::ostream& out, uint16_t v);
bool WriteLE32(std::ostream& out, uint32_t v);

// Code pages 65001 (UTF-8), 28591 (ISO-8859-1) and 2 (Macintosh); any other
// code page is taken as ISO-8859-1. A null text gives an empty string.
std::wstring MultiByteToWString(const char* text, size_t length, uint32_t codePage);
// Characters the code page cannot carry become '?'.
std::string WStringToMultiByte(const std::wstring& text, uint32_t codePage);

// The text after the last dot of a path; empty when there is none.
std::wstring GetFileExtension(const std::wstring& path);

// Reads an unsigned decimal number at the start of a text (after blanks), as
// stream extraction does; 0 when the text does not start with a number. Values
// past the maximum are clamped.
uint32_t ParseLeadingNumber(const std::wstring& text, uint32_t maximum);

}  // namespace fileutil
