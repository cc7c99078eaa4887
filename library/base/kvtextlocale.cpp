// Locale seam of the text services (see kvtextlocale.h).
// TEMPORARY until the language services land: reads the user locale directly.
#include "kvtextlocale.h"

#include <cwchar>

namespace {
void Copy(wchar_t* dst, const wchar_t* src, int cch) {
  int i = 0;
  for (; src[i] && i < cch - 1; ++i) dst[i] = src[i];
  dst[i] = 0;
}
void Info(LCTYPE type, wchar_t* out, int cch) {
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, type, out, cch)) out[0] = 0;
}
}  // namespace

void KvTextLocale_Number(KvNumberLocale* out) {
  Info(LOCALE_STHOUSAND, out->thousand, 8);
  Info(LOCALE_SDECIMAL, out->decimal, 8);
  Info(LOCALE_SNEGATIVESIGN, out->negative, 8);
  Copy(out->minus, L"-", 8);
  wchar_t g[16];
  Info(LOCALE_SGROUPING, g, 16);
  out->grouping = static_cast<UINT>(_wtoi(g));
  Info(LOCALE_ILZERO, g, 16);
  out->leadingZero = static_cast<UINT>(_wtoi(g));
  size_t n = wcslen(out->thousand);
  if (n && wcsncmp(out->decimal, out->thousand, n) == 0)
    Copy(out->decimal, out->thousand[0] == L'.' ? L"," : L".", 8);
}

int KvTextLocale_Separator(int id, wchar_t* out) {
  out[0] = 0;
  KvNumberLocale n;
  switch (id) {
    case 24: KvTextLocale_Number(&n); Copy(out, n.decimal, 16); break;
    case 40: Info(LOCALE_SLIST, out, 16); break;
    case 60: Info(LOCALE_STIME, out, 16); break;
    case 100: Copy(out, L":", 16); break;
    case 101: Copy(out, L".", 16); break;
    case 102: Copy(out, L",", 16); break;
    case 120: case 121: Copy(out, L".", 16); break;
    default: break;
  }
  return static_cast<int>(wcslen(out));
}

const wchar_t* KvTextLocale_String(UINT id) {
  switch (id) {
    case 48377: return L"Err.";
    case 48378: return L"-Inf.";
    case 48782: return L"Left";
    case 48784: return L"Right";
    case 48913: return L"bps";
    case 48914: return L"Kbps";
    case 48915: return L"Mbps";
    default: return L"";
  }
}

wchar_t* KvTextLocale_Scratch(int cch) {
  static wchar_t ring[8192];
  static int pos = 0;
  if (pos > 8192 - 1024) pos = 0;
  wchar_t* p = ring + pos;
  pos = (pos + cch + 2) & ~1;
  return p;
}
