// What the text services read from the language services: the number settings
// of the international record, the separators of KvGetInat, the library's own
// strings and its scratch ring. One place, so that number text, the format
// engine and position text read the locale the same way.
#pragma once

#include <windows.h>

struct KvNumberLocale {
  wchar_t thousand[8];  // LOCALE_STHOUSAND
  wchar_t decimal[8];   // LOCALE_SDECIMAL, never equal to the thousand separator
  wchar_t negative[8];  // LOCALE_SNEGATIVESIGN
  wchar_t minus[8];     // always "-"
  UINT grouping;        // LOCALE_SGROUPING as a number ("3;0" gives 3)
  UINT leadingZero;     // LOCALE_ILZERO
};

// The number settings of the process-wide international record.
void KvTextLocale_Number(KvNumberLocale* out);
// A separator by KvGetInat id (24 decimal, 40 list, 60 time, 100-102 SMPTE,
// 120/121 music), copied into out (at least 16 characters); returns its length.
int KvTextLocale_Separator(int id, wchar_t* out);
// A string of the library's language handle; never null.
const wchar_t* KvTextLocale_String(UINT id);
// A piece of the library's scratch ring (null when there is none).
wchar_t* KvTextLocale_Scratch(int cch);
