// Text in the system's ANSI code page, as RIFF-family files store it: the
// code page of Windows there; natively ISO-8859-1 (characters beyond it
// become '?'). Header-only.
#pragma once

#include <cwchar>

#include "kvportable.h"

// Converts `chars` characters of text; with out null, answers the bytes
// needed. Answers the bytes written, 0 on failure.
inline int KvAnsiFromWide(const wchar_t* text, int chars, char* out, int outBytes) {
#ifdef _WIN32
  return WideCharToMultiByte(CP_ACP, 0, text, chars, out, out ? outBytes : 0, nullptr, nullptr);
#else
  if (chars <= 0) return 0;
  if (!out) return chars;
  if (outBytes < chars) return 0;
  for (int i = 0; i < chars; ++i) out[i] = uint32_t(text[i]) < 0x100 ? char(text[i]) : '?';
  return chars;
#endif
}

// Converts a terminated ANSI text with its terminator into out (outChars
// characters of room). Answers the characters written, the terminator
// included; 0 when out has too little room.
inline int KvWideFromAnsi(const char* text, wchar_t* out, int outChars) {
#ifdef _WIN32
  return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, out, outChars);
#else
  int n = 0;
  for (;; ++n) {
    if (n >= outChars) return 0;
    out[n] = wchar_t(static_cast<unsigned char>(text[n]));
    if (!text[n]) return n + 1;
  }
#endif
}
