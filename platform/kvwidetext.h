// UTF-16 text (WCHAR) for code that also builds natively: the summary texts
// and project-link fields are stored in files as 16-bit units, so they are
// held in memory as WCHAR on both builds (wchar_t on Windows, char16_t
// natively) and the file's bytes are the memory's. Length, comparison,
// bounded copy and the conversions from and to the system's ANSI code page
// (natively ISO-8859-1; characters beyond it become '?'). Header-only.
#pragma once

#include <cstddef>

#include "kvportable.h"

namespace kvwide {

// Characters before the terminator.
inline size_t Length(const WCHAR* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// <0, 0, >0 as the texts compare by their units (ordinal).
inline int Compare(const WCHAR* a, const WCHAR* b) {
  size_t i = 0;
  while (a[i] && a[i] == b[i]) ++i;
  return a[i] < b[i] ? -1 : a[i] > b[i] ? 1 : 0;
}

// Copies at most cch - 1 characters and a terminator (cch >= 1).
inline void CopyN(WCHAR* out, const WCHAR* text, size_t cch) {
  size_t n = 0;
  for (; n + 1 < cch && text[n]; ++n) out[n] = text[n];
  out[n] = 0;
}

// ANSI bytes (bytes of them, a terminator among them or not) into out
// (outChars of room). Answers the characters written, 0 on failure.
inline int FromAnsi(const char* text, int bytes, WCHAR* out, int outChars) {
#ifdef _WIN32
  return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, bytes, out, outChars);
#else
  if (bytes <= 0 || outChars < bytes) return 0;
  for (int i = 0; i < bytes; ++i) out[i] = WCHAR(static_cast<unsigned char>(text[i]));
  return bytes;
#endif
}

// A terminated text with its terminator into ANSI bytes; with out null,
// answers the bytes needed. Answers the bytes written, 0 on failure.
inline int ToAnsi(const WCHAR* text, char* out, int outBytes) {
#ifdef _WIN32
  return WideCharToMultiByte(CP_ACP, 0, text, -1, out, out ? outBytes : 0, nullptr, nullptr);
#else
  size_t len = Length(text) + 1;
  if (len > 0x7FFFFFFFu) return 0;
  int n = static_cast<int>(len);
  if (!out) return n;
  if (outBytes < n) return 0;
  for (int i = 0; i < n; ++i) out[i] = text[i] < 0x100 ? char(text[i]) : '?';
  return n;
#endif
}

}  // namespace kvwide
