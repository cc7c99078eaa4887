// Number text, number parsing and name helpers.
#include "kvnumtext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "kvprintf.h"
#include "kvtextlocale.h"

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsSpace(wchar_t c) { return c != 0 && iswspace(c); }

int Len(const wchar_t* s) { return s ? static_cast<int>(wcslen(s)) : 0; }

// Bounded copy of n characters (cch counts the terminator); returns the length.
int CopyN(wchar_t* out, int cch, const wchar_t* src, int n) {
  if (cch < 1) return 0;
  if (n > cch - 1) n = cch - 1;
  for (int i = 0; i < n; ++i) out[i] = src[i];
  out[n] = 0;
  return n;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  if (!prefix[0]) return false;
  for (; *prefix; ++prefix, ++text)
    if (*text != *prefix) return false;
  return true;
}

// Regrouping through the platform's number formatter with the locale's
// separators and grouping. Leading blanks and leading zeros are kept as they
// stand; trailing blanks too (a left-justified field). A text the formatter
// refuses is copied unchanged; too little room gives an empty text rather
// than a cut number.
int Regroup(const wchar_t* text, wchar_t* out, int cch, UINT digits, bool group) {
  if (!out || cch < 1) return 0;
  out[0] = 0;
  if (!text) return 0;
  int n = Len(text);
  int lead = 0;
  while (lead < n) {
    wchar_t c = text[lead];
    if (c == L'-' || c == L'.' || (c >= L'1' && c <= L'9') || (c == L'0' && text[lead + 1] == L'.')) break;
    ++lead;
  }
  int end = n;
  while (end > lead && text[end - 1] == L' ') --end;
  int len = CopyN(out, cch, text, lead);
  if (lead == end || len < lead) {
    return len + CopyN(out + len, cch - len, text + lead, n - lead);
  }
  wchar_t number[128];
  if (end - lead >= 128) return len + CopyN(out + len, cch - len, text + lead, n - lead);
  CopyN(number, 128, text + lead, end - lead);

  KvNumberLocale loc;
  KvTextLocale_Number(&loc);
  NUMBERFMTW fmt;
  fmt.NumDigits = digits;
  fmt.LeadingZero = loc.leadingZero;
  fmt.Grouping = group ? loc.grouping : 0;
  fmt.lpDecimalSep = loc.decimal;
  fmt.lpThousandSep = loc.thousand;
  fmt.NegativeOrder = 1;
  int room = cch - len;
  int got = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, number, &fmt, out + len, room);
  if (got <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    out[0] = 0;
    return 0;
  }
  if (got <= 0) {
    out[len] = 0;
    return len + CopyN(out + len, cch - len, text + lead, n - lead);
  }
  wchar_t* r = out + len;
  int rlen = got - 1;
  int neg = Len(loc.negative);
  if (neg > 0 && StartsWith(r, loc.negative) && !(neg == 1 && loc.negative[0] == L'-')) {
    r[0] = L'-';
    wmemmove(r + 1, r + neg, rlen - neg + 1);
    rlen -= neg - 1;
  }
  len += rlen;
  return len + CopyN(out + len, cch - len, text + end, n - end);
}

UINT FractionDigits(const wchar_t* text) {
  const wchar_t* dot = text ? wcsrchr(text, L'.') : nullptr;
  return dot ? static_cast<UINT>(wcslen(dot + 1)) : 0;
}

// Reversed decimal digits of an unsigned 64-bit value.
int UnsignedText(ULONGLONG v, wchar_t* out) {
  wchar_t tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v);
  for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  out[n] = 0;
  return n;
}

int Grouped(wchar_t* out, const wchar_t* raw) {
  return KvFormatNumber(raw, out, 64);
}

// The decimal text of an integer given as sign and magnitude, with digit
// grouping when flags is nonzero; returns its length.
int IntegerText(bool negative, ULONGLONG magnitude, wchar_t* out, DWORD flags) {
  wchar_t raw[24];
  int n = 0;
  if (negative) raw[n++] = L'-';
  n += UnsignedText(magnitude, raw + n);
  if (flags) return Grouped(out, raw);
  wcscpy(out, raw);
  return n;
}

}  // namespace

extern "C" int KVAPI KvFormatNumber(const wchar_t* text, wchar_t* out, int cch) {
  return Regroup(text, out, cch, 0, true);
}

extern "C" int KVAPI KvFormatDecimalNumber(const wchar_t* text, wchar_t* out, int cch) {
  return Regroup(text, out, cch, FractionDigits(text), false);
}

extern "C" int KVAPI KvFormatGroupDecimalNumber(const wchar_t* text, wchar_t* out, int cch, int digits) {
  return Regroup(text, out, cch, digits < 0 ? FractionDigits(text) : static_cast<UINT>(digits), true);
}

extern "C" int KVAPI KvLongToText(long value, wchar_t* out, DWORD flags) {
  if (!out) return 0;
  ULONGLONG mag = value < 0 ? static_cast<ULONGLONG>(-static_cast<LONGLONG>(value)) : static_cast<ULONGLONG>(value);
  return IntegerText(value < 0, mag, out, flags);
}

extern "C" int KVAPI KvDWordToText(DWORD value, wchar_t* out, DWORD flags) {
  if (!out) return 0;
  return IntegerText(false, value, out, flags);
}

extern "C" int KVAPI KvDWordLongToText(DWORD low, DWORD high, wchar_t* out, DWORD flags) {
  if (!high) return KvDWordToText(low, out, flags);
  if (!out) return 0;
  return IntegerText(false, (static_cast<ULONGLONG>(high) << 32) | low, out, flags);
}

extern "C" int KVAPI KvLongLongToText(DWORD low, LONG high, wchar_t* out, DWORD flags) {
  if (!high) return KvDWordToText(low, out, flags);
  if (!out) return 0;
  LONGLONG v = static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low);
  ULONGLONG mag = v < 0 ? 0 - static_cast<ULONGLONG>(v) : static_cast<ULONGLONG>(v);
  return IntegerText(v < 0, mag, out, flags);
}

extern "C" int KVAPI KvDoubleToText(wchar_t* out, double value, DWORD digits, DWORD flags) {
  if (!out) return 0;
  if (digits > 9) digits = 9;
  wchar_t raw[400];
  int n = 0;
  if (std::isnan(value)) {
    wcscpy(out, L"NaN");
    return 3;
  }
  if (std::isinf(value)) {
    wcscpy(out, value < 0 ? L"-Inf" : L"Inf");
    return Len(out);
  }
  // The rounding half-unit is taken in single precision (1.05 with one
  // decimal gives 1.1 rather than 1.0).
  float unit = 0.5f * powf(10.0f, -static_cast<float>(digits));
  double r = std::fabs(value) + unit;
  if (r >= 9.2e18) {
    // Beyond 64-bit integers: the platform's fixed-point text.
    _snwprintf(raw, 399, L"%.*f", static_cast<int>(digits), value);
    raw[399] = 0;
  } else {
    ULONGLONG integer = static_cast<ULONGLONG>(r);
    double scale = 1.0;
    for (DWORD i = 0; i < digits; ++i) scale *= 10.0;
    ULONGLONG fraction = static_cast<ULONGLONG>((r - static_cast<double>(integer)) * scale);
    if (value < 0 && (integer || fraction)) raw[n++] = L'-';
    n += UnsignedText(integer, raw + n);
    if (digits > 0) {
      wchar_t f[24];
      UnsignedText(static_cast<ULONGLONG>(scale) + fraction, f);
      f[0] = L'.';
      wcscpy(raw + n, f);
    }
  }
  if (flags) return KvFormatGroupDecimalNumber(raw, out, 400, static_cast<int>(digits));
  wcscpy(out, raw);
  return Len(out);
}

extern "C" int KVAPI KvFormatBitRateText(LONGLONG value, wchar_t* out, int cch) {
  static const UINT kLabels[3] = {48913, 48914, 48915};
  LONGLONG unit = 1;
  int step = 0;
  while (step < 2 && value >= 2000 * unit) {
    unit *= 1000;
    ++step;
  }
  const wchar_t* label = KvTextLocale_String(kLabels[step]);
  wchar_t text[128];
  if (step == 0) {
    KvPrintFN(text, 128, L"$d %s", static_cast<int>(value), label);
  } else {
    LONGLONG q = (value + unit / 2) / unit;
    if (q >= 100) {
      KvPrintFN(text, 128, L"$d %s", static_cast<int>(q), label);
    } else {
      LONGLONG t = (value + unit / 20) / (unit / 10);
      if (t % 10 == 0)
        KvPrintFN(text, 128, L"$d %s", static_cast<int>(t / 10), label);
      else
        KvPrintFN(text, 128, L"%.1z %s", static_cast<int>(t), label);
    }
  }
  if (!out || cch < 1) return 0;
  return CopyN(out, cch, text, Len(text));
}

// ---- parsers ----

const wchar_t* KvNormaliseNumberText(const wchar_t* text, bool locale, char* out) {
  int n = 0;
  out[0] = 0;
  if (!text) return text;
  const wchar_t* p = text;
  while (IsSpace(*p)) ++p;
  if (locale) {
    KvNumberLocale loc;
    KvTextLocale_Number(&loc);
    int thousandLen = Len(loc.thousand);
    int decimalLen = Len(loc.decimal);
    int minusLen = Len(loc.minus);
    if (minusLen && StartsWith(p, loc.minus)) {
      out[n++] = '-';
      p += minusLen;
    }
    while (n < 63) {
      if (IsDigit(*p)) {
        out[n++] = static_cast<char>(*p++);
      } else if (decimalLen && StartsWith(p, loc.decimal)) {
        out[n++] = '.';
        p += decimalLen;
      } else if (thousandLen && StartsWith(p, loc.thousand)) {
        p += thousandLen;
      } else {
        break;
      }
    }
  } else {
    if (*p == L'-') {
      out[n++] = '-';
      ++p;
    }
    while (n < 63) {
      if (IsDigit(*p) || *p == L'.') out[n++] = static_cast<char>(*p++);
      else if (*p == L',') ++p;
      else break;
    }
  }
  out[n] = 0;
  return p;
}

namespace {
template <typename T>
T UnsignedDigits(const char* s) {
  T v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) v = static_cast<T>(v * 10 + static_cast<T>(*s - '0'));
  return v;
}
void SetEnd(const wchar_t** end, const wchar_t* p) {
  if (end) *end = p;
}
// The Ex forms' default: a 0 that stopped on something other than the end of
// the text or white space was no number at all.
bool UseDefault(const wchar_t* stop) { return stop && *stop && !IsSpace(*stop); }
int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
template <typename T>
T HexParse(const wchar_t* text, const wchar_t** end) {
  T v = 0;
  if (!text) {
    SetEnd(end, text);
    return 0;
  }
  const wchar_t* p = text;
  while (IsSpace(*p)) ++p;
  if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) p += 2;
  for (int d; (d = HexDigit(*p)) >= 0; ++p) v = static_cast<T>((v << 4) | static_cast<T>(d));
  SetEnd(end, p);
  return v;
}
template <typename T>
T Clamp(T v, T minimum, T maximum) {
  if (v < minimum) return minimum;
  if (v > maximum) return maximum;
  return v;
}
}  // namespace

extern "C" DWORD KVAPI KvTextToDWordToken(const wchar_t* text, const wchar_t** end) {
  char buf[64];
  SetEnd(end, KvNormaliseNumberText(text, true, buf));
  return UnsignedDigits<DWORD>(buf);
}

extern "C" ULONGLONG KVAPI KvTextToDWordLongToken(const wchar_t* text, const wchar_t** end) {
  char buf[64];
  SetEnd(end, KvNormaliseNumberText(text, true, buf));
  return UnsignedDigits<ULONGLONG>(buf);
}

extern "C" long KVAPI KvTextToLongToken(const wchar_t* text, const wchar_t** end) {
  char buf[64];
  SetEnd(end, KvNormaliseNumberText(text, true, buf));
  return atol(buf);
}

extern "C" LONGLONG KVAPI KvTextToLongLongToken(const wchar_t* text, const wchar_t** end) {
  char buf[64];
  SetEnd(end, KvNormaliseNumberText(text, true, buf));
  return _atoi64(buf);
}

extern "C" DWORD KVAPI KvHexToDWordToken(const wchar_t* text, const wchar_t** end) {
  return HexParse<DWORD>(text, end);
}

extern "C" ULONGLONG KVAPI KvHexToDWordLongToken(const wchar_t* text, const wchar_t** end) {
  return HexParse<ULONGLONG>(text, end);
}

extern "C" double KVAPI KvTextToDoubleToken(const wchar_t* text, const wchar_t** end, BOOL locale) {
  char buf[64];
  SetEnd(end, KvNormaliseNumberText(text, locale != FALSE, buf));
  return strtod(buf, nullptr);
}

#define KV_TOKEN_EX(name, parser, T)                                                      \
  extern "C" T KVAPI name(const wchar_t* text, T def, T minimum, T maximum, const wchar_t** end) { \
    const wchar_t* stop = nullptr;                                                        \
    T v = parser(text, &stop);                                                            \
    SetEnd(end, stop);                                                                    \
    if (v == 0 && UseDefault(stop)) v = def;                                              \
    return Clamp<T>(v, minimum, maximum);                                                 \
  }

KV_TOKEN_EX(KvTextToDWordTokenEx, KvTextToDWordToken, DWORD)
KV_TOKEN_EX(KvTextToLongTokenEx, KvTextToLongToken, long)
KV_TOKEN_EX(KvHexToDWordTokenEx, KvHexToDWordToken, DWORD)
KV_TOKEN_EX(KvTextToDWordLongTokenEx, KvTextToDWordLongToken, ULONGLONG)
KV_TOKEN_EX(KvTextToLongLongTokenEx, KvTextToLongLongToken, LONGLONG)
KV_TOKEN_EX(KvHexToDWordLongTokenEx, KvHexToDWordLongToken, ULONGLONG)

extern "C" double KVAPI KvTextToDoubleTokenEx(const wchar_t* text, double def, double minimum, double maximum,
                                              const wchar_t** end, BOOL locale) {
  const wchar_t* stop = nullptr;
  double v = KvTextToDoubleToken(text, &stop, locale);
  SetEnd(end, stop);
  if (v == 0.0 && UseDefault(stop)) v = def;
  if (v < minimum) return minimum;
  if (v > maximum) return maximum;
  return v;
}

// ---- names and labels ----

extern "C" wchar_t* KVAPI KvFourCCToString(DWORD fourcc, wchar_t* out) {
  if (!out) return out;
  for (int i = 0; i < 4; ++i) {
    DWORD c = (fourcc >> (8 * i)) & 0xFF;
    out[i] = (c < 32 || c > 126) ? L'.' : static_cast<wchar_t>(c);
  }
  out[4] = 0;
  return out;
}

extern "C" int KVAPI KvStringReplaceChars(wchar_t* text, wchar_t from, wchar_t to) {
  if (!text) return 0;
  int n = 0;
  for (; text[n]; ++n)
    if (text[n] == from) text[n] = to;
  return n;
}

extern "C" int KVAPI KvStripWhiteSpace(wchar_t* text) {
  if (!text) return 0;
  int n = Len(text);
  int start = 0;
  while (start < n && IsSpace(text[start])) ++start;
  while (n > start && IsSpace(text[n - 1])) --n;
  n -= start;
  if (start) wmemmove(text, text + start, n);
  text[n] = 0;
  return n;
}

extern "C" wchar_t* KVAPI KvPrepareName(const wchar_t* src, wchar_t* out, int cch) {
  if (!src || !out || cch < 1) return nullptr;
  while (IsSpace(*src)) ++src;
  int n = Len(src);
  while (n > 0 && IsSpace(src[n - 1])) --n;
  if (CopyN(out, cch, src, n) == 0) return nullptr;
  return out;
}

// The doubled text is bounded by the output's capacity; a doubled '&' that
// no longer fits is left out whole rather than cut into a single '&'.
extern "C" int KVAPI KvFixNameForMenu(wchar_t* out, const wchar_t* src, int cch) {
  if (!out) return 0;
  if (cch < 1 || !src) return Len(out);
  int n = 0;
  for (; *src; ++src) {
    int need = *src == L'&' ? 2 : 1;
    if (n + need > cch - 1) break;
    out[n++] = *src;
    if (need == 2) out[n++] = L'&';
  }
  out[n] = 0;
  return n;
}

namespace {
// A labelled value in the scratch ring: 24 characters for the number and
// room for the whole suffix (up to the ring's reserve).
const wchar_t* Labeled(const wchar_t* format, bool isDouble, double dv, long lv, const wchar_t* suffix) {
  int suffixLen = Len(suffix);
  if (suffixLen > 1000) suffixLen = 1000;
  int cch = 24 + suffixLen;
  wchar_t* piece = KvTextLocale_Scratch(cch);
  if (!piece) return KvTextLocale_String(48377);
  int n = isDouble ? KvPrintFN(piece, 24, format, dv) : KvPrintFN(piece, 24, format, lv);
  CopyN(piece + n, cch - n, suffix ? suffix : L"", suffixLen);
  return piece;
}
}  // namespace

extern "C" const wchar_t* KVAPI KvGetLabeledStringFixed(long value, int decimals, long floor, const wchar_t* suffix) {
  if (floor != 0 && value <= floor) return KvTextLocale_String(48378);
  wchar_t format[8] = L"$d";
  if (decimals > 0) {
    if (decimals > 9) decimals = 9;
    format[0] = L'$';
    format[1] = L'.';
    format[2] = static_cast<wchar_t>(L'0' + decimals);
    format[3] = L'z';
    format[4] = 0;
  }
  return Labeled(format, false, 0, value, suffix);
}

extern "C" const wchar_t* KVAPI KvGetLabeledStringFloat(float value, int decimals, float floor, const wchar_t* suffix) {
  if (floor != 0 && value <= floor) return KvTextLocale_String(48378);
  if (decimals >= 1 && decimals <= 9) {
    wchar_t format[8] = {L'$', L'.', static_cast<wchar_t>(L'0' + decimals), L'f', 0};
    return Labeled(format, true, value, 0, suffix);
  }
  long v = (std::isfinite(value) && std::fabs(value) < 2.1e9f) ? static_cast<long>(value) : 0;
  return Labeled(L"$d", false, 0, v, suffix);
}

namespace {
struct Run {
  int start, end;  // digits [start, end)
  ULONGLONG value;
};

bool ContainsNoCase(const wchar_t* text, const wchar_t* word) {
  int n = Len(word);
  if (!n) return false;
  for (const wchar_t* p = text; *p; ++p)
    if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, p, Len(p) < n ? Len(p) : n, word, n) == CSTR_EQUAL)
      return true;
  return false;
}

void Put(wchar_t* out, UINT cch, const wchar_t* a, int an, const wchar_t* b, int bn) {
  if (!out || cch < 1) return;
  int n = CopyN(out, static_cast<int>(cch), a, an);
  CopyN(out + n, static_cast<int>(cch) - n, b, bn);
}
}  // namespace

extern "C" BOOL KVAPI KvChannelizeStereoName(const wchar_t* name, wchar_t* left, UINT leftCch, wchar_t* right,
                                              UINT rightCch) {
  if (!name) return FALSE;
  wchar_t s[260];
  int n = CopyN(s, 260, name, Len(name));

  // 1. Two numbers in a row that count up: "Out 1/2", "In 3-4 (USB)".
  Run prev = {-1, -1, 0};
  for (int i = 0; i < n;) {
    if (!IsDigit(s[i])) {
      ++i;
      continue;
    }
    Run cur = {i, i, 0};
    while (cur.end < n && IsDigit(s[cur.end])) {
      if (cur.value < 100000000000ULL) cur.value = cur.value * 10 + (s[cur.end] - L'0');
      ++cur.end;
    }
    if (prev.start >= 0 && cur.value == prev.value + 1) {
      if (s[prev.end] == L'/' && s[cur.end] == L'/') {
        s[cur.end] = 0;
        n = cur.end;
      }
      Put(left, leftCch, s, prev.end, s + cur.end, n - cur.end);
      Put(right, rightCch, s, prev.start, s + cur.start, n - cur.start);
      return TRUE;
    }
    prev = cur;
    i = cur.end;
  }

  // 2. One '/' between the two names ("Front Left/Front Right", "Line L/R").
  int slash = -1, slashes = 0;
  for (int i = 0; i < n; ++i) {
    if (s[i] != L'/') continue;
    if (i >= 1 && n - (i - 1) >= 6 &&
        CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, s + i - 1, 6, L"S/PDIF", 6) == CSTR_EQUAL)
      continue;
    slash = i;
    ++slashes;
  }
  if (slashes == 1) {
    const wchar_t* rp = s + slash + 1;
    int rn = n - slash - 1;
    if (n >= 4 && rn >= 4 && s[0] == rp[0] && wcsncmp(s, rp, 3) == 0) {
      int common = 0;
      while (common < rn && s[common] == rp[common]) ++common;
      rp += common;
      rn -= common;
    }
    const wchar_t* blank = wcschr(rp, L' ');
    int wordStart = slash;
    while (wordStart > 0 && s[wordStart - 1] != L' ') --wordStart;
    Put(left, leftCch, s, slash, blank ? blank : rp + rn, blank ? static_cast<int>(rp + rn - blank) : 0);
    Put(right, rightCch, s, wordStart, rp, rn);
    return TRUE;
  }

  // 3. A plain name: append the channel words, unless it already names one.
  const wchar_t* leftWord = KvTextLocale_String(48782);
  const wchar_t* rightWord = KvTextLocale_String(48784);
  if (ContainsNoCase(s, leftWord) || ContainsNoCase(s, rightWord)) return FALSE;
  if (left && leftCch) KvPrintFN(left, static_cast<int>(leftCch), L"%s - %s", s, leftWord);
  if (right && rightCch) KvPrintFN(right, static_cast<int>(rightCch), L"%s - %s", s, rightWord);
  return TRUE;
}
