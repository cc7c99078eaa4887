#include "kvreg.h"

#include <cwchar>

#include "kvpath.h"
#include "kvstr.h"

namespace {

HRESULT FromRegError(LONG e) { return e == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>(0x80070000 | (e & 0xFFFF)); }

bool IsWin9x() {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&v);
#pragma GCC diagnostic pop
  return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Reads exactly n hexadecimal digits.
bool Hex(const wchar_t*& p, int n, unsigned long long* out) {
  unsigned long long v = 0;
  for (int i = 0; i < n; ++i, ++p) {
    wchar_t c = *p;
    int d;
    if (c >= L'0' && c <= L'9') d = c - L'0';
    else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
    else return false;
    v = v * 16 + d;
  }
  *out = v;
  return true;
}

HRESULT RegisterUnder(HKEY root, HMODULE module, const GUID* clsid, const wchar_t* description, BOOL doRegister) {
  HKEY classes = nullptr;
  LONG e = RegCreateKeyExW(root, L"Software\\Classes\\CLSID", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &classes,
                           nullptr);
  if (e != ERROR_SUCCESS) return FromRegError(e);
  wchar_t name[64];
  StringFromGUID2(*clsid, name, 64);
  HRESULT hr = S_OK;
  if (!doRegister) {
    KvRegDeleteKey(classes, name);
  } else {
    HKEY key = nullptr, server = nullptr;
    e = RegCreateKeyExW(classes, name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (e == ERROR_SUCCESS) {
      const wchar_t* text = description ? description : L"";
      e = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         (lstrlenW(text) + 1) * sizeof(wchar_t));
      if (e == ERROR_SUCCESS)
        e = RegCreateKeyExW(key, L"InProcServer32", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &server, nullptr);
      if (e == ERROR_SUCCESS) {
        wchar_t path[MAX_PATH];
        KvGetModuleFileName(module, path, MAX_PATH);
        e = RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                           (lstrlenW(path) + 1) * sizeof(wchar_t));
        if (e == ERROR_SUCCESS)
          e = RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"),
                             5 * sizeof(wchar_t));
        RegCloseKey(server);
      }
      RegCloseKey(key);
    }
    hr = FromRegError(e);
    if (FAILED(hr)) KvRegDeleteKey(classes, name);
  }
  RegCloseKey(classes);
  return hr;
}

}  // namespace

const wchar_t* KvReg_SharedInfoPath() { return KV_REG_COMPANY_KEY L"\\" KV_REG_SHARED_INFO; }

extern "C" DWORD KVAPI KvRegGetSubKeyCount(HKEY root, const wchar_t* subKey, DWORD* longestName) {
  if (longestName) *longestName = 1;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD count = 0, longest = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS)
    count = 0;
  else if (longestName)
    *longestName = longest + 1;
  RegCloseKey(key);
  return count;
}

extern "C" BOOL KVAPI KvRegDeleteKey(HKEY root, const wchar_t* subKey) {
  if (RegDeleteKeyW(root, subKey) == ERROR_SUCCESS) return TRUE;
  HKEY key = nullptr;
  LONG e = RegOpenKeyExW(root, subKey, 0, KEY_READ | KEY_WRITE, &key);
  if (e == ERROR_FILE_NOT_FOUND) return TRUE;
  if (e != ERROR_SUCCESS) return FALSE;
  wchar_t name[256];
  for (;;) {
    DWORD cch = 256;
    if (RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (!KvRegDeleteKey(key, name)) break;
  }
  RegCloseKey(key);
  return RegDeleteKeyW(root, subKey) == ERROR_SUCCESS;
}

extern "C" BOOL KVAPI KvIsPowerUser(void) {
  wchar_t path[MAX_PATH];
  _snwprintf(path, MAX_PATH - 1, L"SOFTWARE\\Microsoft\\%s\\CurrentVersion\\~KvTestLoginPrivilege",
             IsWin9x() ? L"Windows" : L"Windows NT");
  path[MAX_PATH - 1] = 0;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return FALSE;
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
  return TRUE;
}

extern "C" HRESULT KVAPI KvRegisterServer(HMODULE module, const GUID* clsid, const wchar_t* description,
                                          BOOL doRegister) {
  if (!clsid) return E_INVALIDARG;
  if (!doRegister) {
    RegisterUnder(HKEY_LOCAL_MACHINE, module, clsid, description, FALSE);
    RegisterUnder(HKEY_CURRENT_USER, module, clsid, description, FALSE);
    return 1;
  }
  HRESULT hr = RegisterUnder(HKEY_LOCAL_MACHINE, module, clsid, description, TRUE);
  if (FAILED(hr)) hr = RegisterUnder(HKEY_CURRENT_USER, module, clsid, description, TRUE);
  return hr;
}

extern "C" HRESULT KVAPI KvSelfRegister_IsSupported(const wchar_t* file) {
  if (!file) return E_INVALIDARG;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (!size) return E_FAIL;
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (!block) return E_OUTOFMEMORY;
  HRESULT hr = E_NOTIMPL;
  if (GetFileVersionInfoW(file, 0, size, block)) {
    WORD* translation = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4) {
      wchar_t query[64];
      _snwprintf(query, 63, L"\\StringFileInfo\\%04hX%04hX\\OLESelfRegister", translation[0], translation[1]);
      query[63] = 0;
      void* value = nullptr;
      UINT valueLength = 0;
      if (VerQueryValueW(block, query, &value, &valueLength)) hr = S_OK;
    }
  } else {
    hr = E_FAIL;
  }
  HeapFree(GetProcessHeap(), 0, block);
  return hr;
}

extern "C" HRESULT KVAPI KvSelfRegister_Register(const wchar_t* file, BOOL unregister) {
  HRESULT hr = KvSelfRegister_IsSupported(file);
  if (FAILED(hr)) return hr;
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(file, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return E_FAIL;
  typedef HRESULT(__stdcall * EntryFn)();
  FARPROC proc = GetProcAddress(module, unregister ? "DllUnregisterServer" : "DllRegisterServer");
  EntryFn entry = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(proc));
  hr = entry ? entry() : E_NOTIMPL;
  FreeLibrary(module);
  return hr;
}

extern "C" HRESULT KVAPI KvGuidFromString(const wchar_t* text, GUID* guid) {
  if (!text || !guid) return E_FAIL;
  const wchar_t* p = text;
  unsigned long long v[11];
  const int digits[] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
  for (int i = 0; i < 11; ++i) {
    if (!Hex(p, digits[i], &v[i])) return E_FAIL;
    if ((i == 0 || i == 1 || i == 2 || i == 4) && *p++ != L'-') return E_FAIL;
  }
  guid->Data1 = static_cast<unsigned long>(v[0]);
  guid->Data2 = static_cast<unsigned short>(v[1]);
  guid->Data3 = static_cast<unsigned short>(v[2]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(v[3 + i]);
  return S_OK;
}

extern "C" HRESULT KVAPI KvGuidToString(const GUID* guid, wchar_t* out, int cch) {
  if (!out || cch < 1 || !guid) return S_OK;
  wchar_t text[40];
  _snwprintf(text, 39, L"%08lx-%04hx-%04hx-%02x%02x-%02x%02x%02x%02x%02x%02x", guid->Data1, guid->Data2, guid->Data3,
             guid->Data4[0], guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4], guid->Data4[5],
             guid->Data4[6], guid->Data4[7]);
  text[39] = 0;
  KvStrCpyN(out, text, cch);
  return S_OK;
}

extern "C" HRESULT KVAPI KvSetLocale(LCID lcid) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KvReg_SharedInfoPath(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return E_FAIL;
  DWORD value = lcid;
  LONG e = RegSetValueExW(key, L"Locale", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
  return e == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" LCID KVAPI KvGetLocale(void) { return 0; }

extern "C" BOOL KVAPI KvIsExplorerFileExtHidden(void) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return TRUE;
  DWORD type = 0, value = 1, size = sizeof(value);
  LONG e = RegQueryValueExW(key, L"HideFileExt", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return !(e == ERROR_SUCCESS && type == REG_DWORD && size == 4 && value == 0);
}
