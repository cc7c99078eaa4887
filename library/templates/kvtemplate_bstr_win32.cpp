// String helpers of file classes: information texts from a map of string
// resources and literal texts, and BSTR copies.
#include <cstring>
#include <cwchar>

#include "kvtemplate_io.h"

// ---- strings of file classes ---------------------------------------------------

void KVAPI KvFio_FreeBstrArray(BSTR* array, ULONG count) {
  if (!array) return;
  for (ULONG i = 0; i < count; ++i) {
    if (array[i]) SysFreeString(array[i]);
    array[i] = nullptr;
  }
}

BSTR KVAPI KvFio_DupBstr(const wchar_t* s) { return SysAllocString(s ? s : L""); }

HRESULT KVAPI KvFio_FillBstrArrayFromStringResourceMap(HKVLANG lang, const KVFIO_FILECLASS_INFO_TEXT* ids,
                                                       ULONG count, BSTR* out, const FILECLASS_INFO_STRING_MAP* map,
                                                       ULONG mapCount, const wchar_t* suffix) {
  if (count == 0) return S_OK;
  if (!ids || !out || (mapCount && !map)) return E_INVALIDARG;
  for (ULONG i = 0; i < count; ++i) out[i] = nullptr;
  for (ULONG i = 0; i < count; ++i) {
    const FILECLASS_INFO_STRING_MAP* row = nullptr;
    for (ULONG r = 0; r < mapCount && !row; ++r)
      if (map[r].id == ids[i]) row = &map[r];
    if (!row) continue;
    const wchar_t* text = row->text < 65536 ? KvGetString(lang, static_cast<UINT>(row->text))
                                            : reinterpret_cast<const wchar_t*>(row->text);
    if (!text) text = L"";
    const bool addSuffix = (ids[i] == 2 || ids[i] == 5) && suffix && suffix[0];
    const size_t textLen = std::wcslen(text), suffixLen = addSuffix ? std::wcslen(suffix) : 0;
    BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(textLen + suffixLen));
    if (!value) {
      KvFio_FreeBstrArray(out, i);
      return E_OUTOFMEMORY;
    }
    std::memcpy(value, text, textLen * sizeof(wchar_t));
    if (suffixLen) std::memcpy(value + textLen, suffix, suffixLen * sizeof(wchar_t));
    value[textLen + suffixLen] = 0;
    out[i] = value;
  }
  return S_OK;
}
