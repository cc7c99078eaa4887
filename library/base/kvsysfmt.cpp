#include "kvsysfmt.h"

#include <cwchar>
#include <string>

#if __has_include("kvprintf.h")
#include "kvprintf.h"
#define KV_HAVE_FORMAT_ENGINE 1
#endif

int KvSysVFormat(wchar_t* out, int cch, const wchar_t* format, va_list args) {
  if (!out || cch < 1) return 0;
  out[0] = 0;
  if (!format) return 0;
  // A bare "%s" copies its argument whole: no platform formatter limit applies.
  if (format[0] == L'%' && format[1] == L's' && format[2] == 0) {
    const wchar_t* s = va_arg(args, const wchar_t*);
    int n = 0;
    if (s)
      while (n < cch - 1 && s[n]) {
        out[n] = s[n];
        ++n;
      }
    out[n] = 0;
    return n;
  }
#ifdef KV_HAVE_FORMAT_ENGINE
  int n = KvVPrintFN(out, cch, format, args);
#else
  // Without the engine, "$" conversions print like "%" ones.
  std::wstring plain;
  for (const wchar_t* p = format; *p; ++p) {
    if (*p == L'$' && p[1] && p[1] != L'(' && p[1] != L'$') plain += L'%';
    else plain += *p;
  }
  int n = _vsnwprintf(out, cch - 1, plain.c_str(), args);
  if (n < 0 || n > cch - 1) n = cch - 1;
#endif
  out[cch - 1] = 0;
  if (n > cch - 1) n = cch - 1;
  return n;
}

int KvSysFormat(wchar_t* out, int cch, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = KvSysVFormat(out, cch, format, args);
  va_end(args);
  return n;
}

BOOL KvSysHasFormatCodes(const wchar_t* text) {
  if (!text) return FALSE;
#ifdef KV_HAVE_FORMAT_ENGINE
  return KvHasFormatCodes(text);
#else
  for (; *text; ++text)
    if (*text == L'%' || *text == L'$') return TRUE;
  return FALSE;
#endif
}

BOOL KvSysCalcStringEllipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth) {
  if (!text) return FALSE;
#ifdef KV_HAVE_FORMAT_ENGINE
  return KvCalcStringEllipsis(dc, text, maxChars, maxWidth);
#else
  int n = lstrlenW(text);
  SIZE s = {0, 0};
  GetTextExtentPoint32W(dc, text, n, &s);
  if (s.cx <= maxWidth) return TRUE;
  while (n > 0) {
    --n;
    wchar_t probe[1100];
    if (n + 4 > 1099) continue;
    wmemcpy(probe, text, n);
    wcscpy(probe + n, L"...");
    GetTextExtentPoint32W(dc, probe, n + 3, &s);
    if (s.cx <= maxWidth) break;
  }
  if (n + 4 <= maxChars) wcscpy(text + n, L"...");
  return TRUE;
#endif
}
