// Locale seam of the text services (see kvtextlocale.h): the international
// record, KvGetInat and the library's language handle.
#include "kvtextlocale.h"

#include "kvlang.h"
#include "kvstr.h"

namespace {
// The record as it is now; loaded on first use when the library has not been
// initialised (the minus sign is "-" in every loaded record).
void Record(KVINTERNATIONALS* r) {
  KvLang_GetInternationals(r, sizeof *r);
  if (r->minusSignLength == 0) {
    KvLang_GetInternationals(nullptr, 0);
    KvLang_GetInternationals(r, sizeof *r);
  }
}
}  // namespace

void KvTextLocale_Number(KvNumberLocale* out) {
  KVINTERNATIONALS r;
  Record(&r);
  KvStrCpyN(out->thousand, r.thousandSeparator, 8);
  KvStrCpyN(out->decimal, r.decimalSeparator, 8);
  KvStrCpyN(out->negative, r.negativeSign, 8);
  KvStrCpyN(out->minus, r.minusSign, 8);
  out->grouping = r.grouping;
  out->leadingZero = r.leadingZero;
}

int KvTextLocale_Separator(int id, wchar_t* out) {
  KVINTERNATIONALS r;
  Record(&r);  // makes sure the separators are loaded
  wchar_t text[64];
  KvGetInat(id, text);
  return KvStrCpyNLen(out, text, 16);
}

const wchar_t* KvTextLocale_String(UINT id) { return KvGetString(KvLang_GetLibraryHandle(), id); }

wchar_t* KvTextLocale_Scratch(int cch) { return KvGetTempStringBuffer(KvLang_GetLibraryHandle(), cch); }
