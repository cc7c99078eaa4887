// Number text in the user's locale: regrouping of printed numbers, numbers to
// text, text to numbers (token parsers with an end pointer, Ex forms with a
// default and a range), and small helpers for names and labels.
#pragma once

#include "kvapi.h"


extern "C" {
// Regrouping of an already printed number ("1234567.5" -> "1,234,567.5").
int KVAPI KvFormatNumber(const wchar_t* text, wchar_t* out, int cch);
int KVAPI KvFormatDecimalNumber(const wchar_t* text, wchar_t* out, int cch);
int KVAPI KvFormatGroupDecimalNumber(const wchar_t* text, wchar_t* out, int cch, int digits);

// Numbers to text; nonzero flags group the digits.
int KVAPI KvLongToText(long value, wchar_t* out, DWORD flags);
int KVAPI KvDWordToText(DWORD value, wchar_t* out, DWORD flags);
int KVAPI KvDWordLongToText(DWORD low, DWORD high, wchar_t* out, DWORD flags);
int KVAPI KvLongLongToText(DWORD low, LONG high, wchar_t* out, DWORD flags);
int KVAPI KvDoubleToText(wchar_t* out, double value, DWORD digits, DWORD flags);
int KVAPI KvFormatBitRateText(LONGLONG bitsPerSecond, wchar_t* out, int cch);

// Text to numbers; end (optional) receives the first character not used.
DWORD KVAPI KvTextToDWordToken(const wchar_t* text, const wchar_t** end);
ULONGLONG KVAPI KvTextToDWordLongToken(const wchar_t* text, const wchar_t** end);
long KVAPI KvTextToLongToken(const wchar_t* text, const wchar_t** end);
LONGLONG KVAPI KvTextToLongLongToken(const wchar_t* text, const wchar_t** end);
DWORD KVAPI KvHexToDWordToken(const wchar_t* text, const wchar_t** end);
ULONGLONG KVAPI KvHexToDWordLongToken(const wchar_t* text, const wchar_t** end);
double KVAPI KvTextToDoubleToken(const wchar_t* text, const wchar_t** end, BOOL locale);

DWORD KVAPI KvTextToDWordTokenEx(const wchar_t* text, DWORD def, DWORD minimum, DWORD maximum, const wchar_t** end);
long KVAPI KvTextToLongTokenEx(const wchar_t* text, long def, long minimum, long maximum, const wchar_t** end);
DWORD KVAPI KvHexToDWordTokenEx(const wchar_t* text, DWORD def, DWORD minimum, DWORD maximum, const wchar_t** end);
ULONGLONG KVAPI KvTextToDWordLongTokenEx(const wchar_t* text, ULONGLONG def, ULONGLONG minimum, ULONGLONG maximum,
                                         const wchar_t** end);
LONGLONG KVAPI KvTextToLongLongTokenEx(const wchar_t* text, LONGLONG def, LONGLONG minimum, LONGLONG maximum,
                                       const wchar_t** end);
ULONGLONG KVAPI KvHexToDWordLongTokenEx(const wchar_t* text, ULONGLONG def, ULONGLONG minimum, ULONGLONG maximum,
                                        const wchar_t** end);
double KVAPI KvTextToDoubleTokenEx(const wchar_t* text, double def, double minimum, double maximum,
                                   const wchar_t** end, BOOL locale);

// Names and labels.
wchar_t* KVAPI KvFourCCToString(DWORD fourcc, wchar_t* out);
int KVAPI KvStringReplaceChars(wchar_t* text, wchar_t from, wchar_t to);
int KVAPI KvStripWhiteSpace(wchar_t* text);
wchar_t* KVAPI KvPrepareName(const wchar_t* src, wchar_t* out, int cch);
int KVAPI KvFixNameForMenu(wchar_t* out, const wchar_t* src, int cch);
const wchar_t* KVAPI KvGetLabeledStringFixed(long value, int decimals, long floor, const wchar_t* suffix);
const wchar_t* KVAPI KvGetLabeledStringFloat(float value, int decimals, float floor, const wchar_t* suffix);
BOOL KVAPI KvChannelizeStereoName(const wchar_t* name, wchar_t* left, UINT leftCch, wchar_t* right, UINT rightCch);
}

// Library-internal: reads a decimal number the way the parsers above do (normalised text,
// locale-aware when asked) into a narrow buffer of at most 63 characters;
// returns the pointer to the character of text that ended the number.
const wchar_t* KvNormaliseNumberText(const wchar_t* text, bool locale, char* out64);
