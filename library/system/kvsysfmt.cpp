#include "kvsysfmt.h"

#include <cwchar>

#include "kvprintf.h"

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
  int n = KvVPrintFN(out, cch, format, args);
  out[cch - 1] = 0;
  if (n > cch - 1) n = cch - 1;
  if (n < 0) n = 0;
  return n;
}

int KvSysFormat(wchar_t* out, int cch, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = KvSysVFormat(out, cch, format, args);
  va_end(args);
  return n;
}

BOOL KvSysHasFormatCodes(const wchar_t* text) { return text && KvHasFormatCodes(text); }

BOOL KvSysCalcStringEllipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth) {
  return text && KvCalcStringEllipsis(dc, text, maxChars, maxWidth);
}
