// Private-profile sections through the system's profile functions.
#include "kvprofile.h"

#include <objbase.h>
#include <wchar.h>
#include <stdio.h>

#include "kverror.h"
#include "kvfiolist.h"
#include "kvpath.h"
#include "kvstr.h"

namespace {

// Characters read for a section's key names.
constexpr DWORD kKeyNamesChars = 672;
// Characters of one GUID value or text.
constexpr DWORD kValueChars = 260;

HRESULT LastWriteError() {
  HRESULT hr = KvErrorHandler_TranslateWin32Error(GetLastError());
  return SUCCEEDED(hr) ? E_FAIL : hr;
}


}  // namespace

CKvProfile::CKvProfile(const wchar_t* folder, const wchar_t* fileName) {
  path_[0] = 0;
  if (folder && folder[0]) {
    KvStrCpyN(path_, folder, 260);
    KvAddSlashToPathName(path_, 260);
  }
  KvStrCatN(path_, fileName ? fileName : L"", 260);
  KvAddExtensionToPathName(path_, 260, L"ini");
  KvStrCpyN(section_, L"main", 130);
}

CKvProfile::CKvProfile(const CKvProfile& parent, const wchar_t* subSection) {
  KvStrCpyN(path_, parent.path_, 260);
  KvStrCpyN(section_, parent.section_, 130);
  KvStrCatN(section_, L".", 130);
  KvStrCatN(section_, subSection ? subSection : L"", 130);
}

void CKvProfile::SetSection(const wchar_t* section) { KvStrCpyN(section_, section ? section : L"", 130); }

DWORD CKvProfile::GetString(const wchar_t* key, const wchar_t* def, wchar_t* buffer, DWORD cch) {
  if (!buffer || cch == 0) return 0;
  return GetPrivateProfileStringW(section_, key, def ? def : L"", buffer, cch, path_);
}

int CKvProfile::GetInt(const wchar_t* key, int def) {
  return static_cast<int>(GetPrivateProfileIntW(section_, key, def, path_));
}

int CKvProfile::GetGUID(const wchar_t* key, GUID* ids, int max) {
  if (!ids || max <= 0) return 0;
  int found = 0;
  if (key) {
    wchar_t value[kValueChars];
    GetPrivateProfileStringW(section_, key, L"", value, kValueChars, path_);
    if (kvfiolist::ParseGuid(value, &ids[0])) found = 1;
    return found;
  }
  // The key names, each terminated, the list ending with an empty name.
  wchar_t names[kKeyNamesChars + 2] = {};
  GetPrivateProfileStringW(section_, nullptr, L"", names, kKeyNamesChars, path_);
  names[kKeyNamesChars] = 0;
  names[kKeyNamesChars + 1] = 0;
  size_t cursor = 0;
  const wchar_t* name;
  size_t length;
  while (found < max && kvfiolist::NextKeyName(names, kKeyNamesChars + 2, &cursor, &name, &length))
    if (kvfiolist::ParseGuid(name, &ids[found])) ++found;
  return found;
}

HRESULT CKvProfile::WriteString(const wchar_t* key, const wchar_t* value) {
  if (!WritePrivateProfileStringW(section_, key, value, path_)) return LastWriteError();
  return S_OK;
}

HRESULT CKvProfile::WriteInt(const wchar_t* key, int value) {
  wchar_t text[16];
  _snwprintf(text, 16, L"%d", value);
  text[15] = 0;
  return WriteString(key, text);
}

HRESULT CKvProfile::WriteGUID(const wchar_t* key, const GUID& id, const wchar_t* text) {
  wchar_t idText[40];
  if (!StringFromGUID2(id, idText, 40)) return E_FAIL;
  if (key) return WriteString(key, idText);
  return WriteString(idText, text ? text : L"");
}

HRESULT CKvProfile::ClearSection() {
  // An empty list of keys: the section stays, without keys.
  static const wchar_t kEmpty[2] = {0, 0};
  if (!WritePrivateProfileSectionW(section_, kEmpty, path_)) return LastWriteError();
  return S_OK;
}

HRESULT CKvProfile::RemoveFile() {
  if (DeleteFileW(path_)) return S_OK;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_FALSE;
  HRESULT hr = KvErrorHandler_TranslateWin32Error(error);
  return SUCCEEDED(hr) ? E_FAIL : hr;
}

BOOL CKvProfile::FileExists() {
  DWORD attributes = GetFileAttributesW(path_);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
