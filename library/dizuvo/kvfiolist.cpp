// The list parsing of the plug-in cache and profile files.
#include "kvfiolist.h"

#include <string.h>

#ifndef _WIN32
#include <wctype.h>
#endif

namespace kvfiolist {

namespace {

bool IsBlank(WCHAR c, Blanks blanks) {
  if (blanks == kKeepBlanks) return false;
  return c == ' ' || (blanks == kSpacesAndTabs && c == '\t');
}

bool Holds(const WCHAR* a, int n, const char* what) {
  int w = static_cast<int>(strlen(what));
  for (int i = 0; i + w <= n; ++i) {
    int k = 0;
    while (k < w && a[i + k] == static_cast<WCHAR>(what[k])) ++k;
    if (k == w) return true;
  }
  return false;
}

int HexDigit(WCHAR c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// n hex digits at text into *value; false on any other character.
bool Hex(const WCHAR* text, int n, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

bool Tokens::Next(const WCHAR** start, int* length) {
  while (p_ && *p_) {
    const WCHAR* s = p_;
    while (*p_ && *p_ != ';') ++p_;
    const WCHAR* e = p_;
    if (*p_) ++p_;
    while (s < e && IsBlank(*s, blanks_)) ++s;
    if (blanks_ == kSpacesAndTabs)
      while (e > s && IsBlank(e[-1], blanks_)) --e;
    if (e > s) {
      *start = s;
      *length = static_cast<int>(e - s);
      return true;
    }
  }
  return false;
}

DWORD CountTokens(const WCHAR* text) {
  Tokens t(text, kKeepBlanks);
  const WCHAR* a;
  int n;
  DWORD c = 0;
  while (t.Next(&a, &n)) ++c;
  return c;
}

bool TokenAt(const WCHAR* text, DWORD index, const WCHAR** start, int* length) {
  Tokens t(text, kKeepBlanks);
  for (DWORD i = 0; t.Next(start, length); ++i)
    if (i == index) return true;
  return false;
}

bool HoldsExtension(const WCHAR* list, const WCHAR* upperExt) {
  if (!list || !upperExt) return false;
  Tokens t(list, kLeadingSpaces);
  const WCHAR* a;
  int n;
  WCHAR token[260];
  while (t.Next(&a, &n)) {
    if (n >= 2 && a[0] == '*' && a[1] == '.') {
      a += 2;
      n -= 2;
    }
    if (n <= 0 || n >= 260) continue;
    while (n > 0 && a[n - 1] == ' ') --n;
    memcpy(token, a, n * sizeof(WCHAR));
    token[n] = 0;
    ToUpper(token, n);
    int i = 0;
    while (token[i] && token[i] == upperExt[i]) ++i;
    if (token[i] == upperExt[i]) return true;
  }
  return false;
}

int Normalise(const WCHAR* text, WCHAR* out, int cch) {
  if (!out || cch <= 0) return 0;
  int n = 0;
  out[0] = 0;
  Tokens t(text, kSpacesAndTabs);
  const WCHAR* a;
  int len;
  while (t.Next(&a, &len)) {
    if (n > 0 && n + 1 < cch) out[n++] = ';';
    for (int i = 0; i < len && n + 1 < cch; ++i) out[n++] = a[i];
    out[n] = 0;
  }
  return n;
}

bool NextKeyName(const WCHAR* names, size_t cch, size_t* cursor, const WCHAR** name, size_t* length) {
  if (!names || *cursor >= cch || !names[*cursor]) return false;
  size_t end = *cursor;
  while (end < cch && names[end]) ++end;
  if (end == cch) return false;
  *name = names + *cursor;
  *length = end - *cursor;
  *cursor = end + 1;
  return true;
}

bool PatternExtension(const WCHAR* token, int length, WCHAR* out, int cch) {
  if (!token || length <= 0 || cch <= 0) return false;
  if (Holds(token, length, "*.*") || Holds(token, length, "?")) return false;
  if (*token == '*') {
    ++token;
    --length;
  }
  if (length <= 0 || length >= cch) return false;
  memcpy(out, token, length * sizeof(WCHAR));
  out[length] = 0;
  return true;
}

bool ParseGuid(const WCHAR* text, GUID* out) {
  if (!text || !out) return false;
  size_t n = 0;
  while (n <= 38 && text[n]) ++n;
  if (n != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
      text[37] != '}')
    return false;
  uint64_t d1, d2, d3, v;
  GUID g;
  if (!Hex(text + 1, 8, &d1) || !Hex(text + 10, 4, &d2) || !Hex(text + 15, 4, &d3)) return false;
  g.Data1 = static_cast<DWORD>(d1);
  g.Data2 = static_cast<WORD>(d2);
  g.Data3 = static_cast<WORD>(d3);
  // Data4: two bytes before the last dash, six after it.
  static const int kAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!Hex(text + kAt[i], 2, &v)) return false;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  *out = g;
  return true;
}

void ToUpper(WCHAR* text, int length) {
  if (!text || length <= 0) return;
#ifdef _WIN32
  CharUpperBuffW(text, static_cast<DWORD>(length));
#else
  for (int i = 0; i < length; ++i) {
    WCHAR c = text[i];
    // Latin-1 letters; the multiplication and division signs stay.
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) text[i] = static_cast<WCHAR>(c - 32);
  }
#endif
}

}  // namespace kvfiolist
