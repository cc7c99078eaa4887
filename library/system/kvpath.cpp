#include "kvpath.h"

#include "kvguard.h"

#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

#include "kverror.h"
#include "kvlang.h"
#include "kvreg.h"
#include "kvstr.h"
#include "kvsysfmt.h"

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

int Len(const wchar_t* s) { return s ? lstrlenW(s) : 0; }

bool EqualNoCase(const wchar_t* a, const wchar_t* b) { return lstrcmpiW(a, b) == 0; }

// Length of s when it is terminated within cch characters, else -1.
int BoundedLen(const wchar_t* s, int cch) {
  for (int i = 0; i < cch; ++i)
    if (!s[i]) return i;
  return -1;
}

std::wstring WithSlash(const wchar_t* folder) {
  std::wstring s = folder ? folder : L"";
  if (!s.empty() && s.back() != L'\\') s += L'\\';
  return s;
}

bool IsFolder(const wchar_t* path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDots(const wchar_t* name) { return lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0; }

HRESULT Win32Result(DWORD e) { return static_cast<HRESULT>(0x80070000 | (e & 0xFFFF)); }

DWORD DosDateTime(const wchar_t* path, bool local) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FILETIME write, use;
  BOOL ok = GetFileTime(h, nullptr, nullptr, &write);
  CloseHandle(h);
  if (!ok) return 0;
  use = write;
  if (local) FileTimeToLocalFileTime(&write, &use);
  WORD date = 0, time = 0;
  if (!FileTimeToDosDateTime(&use, &date, &time)) return 0;
  return (static_cast<DWORD>(time) << 16) | date;
}

typedef BOOL(WINAPI* DiskFreeExFn)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

DWORD DiskSpace(const wchar_t* path, DWORD divisor, bool total) {
  bool unc = path && path[0] == L'\\' && path[1] == L'\\';
  if (!path || !*path) return 0;
  ULONGLONG bytes = 0;
  bool ok = false;
  static DiskFreeExFn freeEx = reinterpret_cast<DiskFreeExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"KERNEL32"), "GetDiskFreeSpaceExW")));
  wchar_t folder[MAX_PATH];
  int n = KvGetPathNameFromFilePath(path, folder, MAX_PATH);
  if (n <= 0 || n >= MAX_PATH) KvStrCpyN(folder, path, MAX_PATH);
  if (IsFolder(path)) KvStrCpyN(folder, path, MAX_PATH);
  if (freeEx) {
    ULARGE_INTEGER avail, all, freeAll;
    if (freeEx(folder, &avail, &all, &freeAll)) {
      bytes = total ? all.QuadPart : avail.QuadPart;
      ok = true;
    }
  } else {
    wchar_t root[MAX_PATH];
    if (KvGetRootPathFromFilePath(path, root, MAX_PATH) > 0) {
      DWORD spc, bps, freeClusters, clusters;
      if (GetDiskFreeSpaceW(root, &spc, &bps, &freeClusters, &clusters)) {
        bytes = static_cast<ULONGLONG>(spc) * bps * (total ? clusters : freeClusters);
        ok = true;
      }
    }
  }
  if (!ok) return unc ? 0xFFFFFFFF : 0;
  if (divisor) bytes /= divisor;
  return bytes > 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<DWORD>(bytes);
}

int ByteSizeText(LONGLONG bytes, wchar_t* out, bool spaced) {
  if (!out) return 0;
  const int cap = 64;
  if (bytes < 1024) return KvSysFormat(out, cap, spaced ? L"%d bytes" : L"%d", static_cast<int>(bytes));
  if (bytes < 1024000LL)
    return KvSysFormat(out, cap, spaced ? L"$.2f KB" : L"$.2fKB", static_cast<double>(bytes) / 1024.0);
  if (bytes < 1024000000LL)
    return KvSysFormat(out, cap, spaced ? L"$.2f MB" : L"$.2fMB", static_cast<double>(bytes) / 1024000.0);
  return KvSysFormat(out, cap, spaced ? L"$.2f GB" : L"$.2fGB", static_cast<double>(bytes) / 1024000000.0);
}

const wchar_t* const kOrvaneValues[] = {L"TamriskThemesFolder", L"AudioTransitionsFolder"};
const wchar_t* const kOrvaneDefaults[] = {L"Tamrisk Themes", L"Audio Transitions"};

bool ReadSharedValue(const wchar_t* value, wchar_t* out, int cch) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KvReg_SharedInfoPath(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::vector<wchar_t> buf(MAX_PATH + 1);
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  LONG e = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buf[size / sizeof(wchar_t) < MAX_PATH ? size / sizeof(wchar_t) : MAX_PATH] = 0;
  KvStrCpyN(out, buf.data(), cch);
  return true;
}

int TextWidth(HDC dc, const wchar_t* text, int n) {
  SIZE s = {0, 0};
  if (n > 0) GetTextExtentPoint32W(dc, text, n, &s);
  return s.cx;
}

// The ellipsis rule into a string (no bound).
std::wstring PathEllipsis(HDC dc, const wchar_t* path, int width) {
  int length = Len(path);
  int split = -1;
  for (int i = 0; i < length; ++i)
    if (path[i] == L'\\' || path[i] == L'/') split = i;
  if (split < 0) return std::wstring(L"...\\") + path;
  int full = TextWidth(dc, path, length);
  if (full <= width) return path;
  int target = full - width + TextWidth(dc, L"...", 3);
  int start = split;  // the removed part is [start, split)
  while (start > 0 && TextWidth(dc, path + start, split - start) < target) --start;
  return std::wstring(path, start) + L"..." + std::wstring(path + split);
}

HRESULT FilenameFormatImpl(HDC dc, int width, const wchar_t* path, wchar_t* out, int cch, int mode) {
  if (!path || !out) return E_INVALIDARG;
  if (!*path) {
    if (cch >= 2) out[0] = 0;
    return S_OK;
  }
  if (width < 0) width = 0;
  switch (mode) {
    case 0:
      KvStrCpyN(out, KvGetFileNamePtrW(path), cch);
      return S_OK;
    case 1:
      return KvCalcPathEllipsisEx(dc, path, out, cch, width);
    case 2:
    case 4: {
      wchar_t text[256];
      KvStrCpyN(text, mode == 2 ? KvGetFileNamePtrW(path) : path, 256);
      KvSysCalcStringEllipsis(dc, text, 256, width);
      KvStrCpyN(out, text, cch);
      return S_OK;
    }
    case 3:
      return S_OK;
  }
  return E_INVALIDARG;
}

}  // namespace

// ---- Parts of a path ----

extern "C" wchar_t* KVAPI KvGetFileNamePtrW(const wchar_t* path) {
  if (!path) return nullptr;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L':' || *p == L'\\') name = p + 1;
  return const_cast<wchar_t*>(name);
}

extern "C" char* KVAPI KvGetFileNamePtrA(const char* path) {
  if (!path) return nullptr;
  const char* name = path;
  for (const char* p = path; *p; p = CharNextA(p))
    if (*p == ':' || *p == '\\') name = p + 1;
  return const_cast<char*>(name);
}

extern "C" wchar_t* KVAPI KvGetFileNameExtensionPtrW(const wchar_t* path) {
  if (!path) return nullptr;
  const wchar_t* dot = nullptr;
  const wchar_t* p = path;
  for (; *p; ++p)
    if (*p == L'.') dot = p;
  if (!dot) return const_cast<wchar_t*>(p);
  for (const wchar_t* q = dot + 1; *q; ++q)
    if (IsSpace(*q)) return const_cast<wchar_t*>(p);
  return const_cast<wchar_t*>(dot);
}

extern "C" char* KVAPI KvGetFileNameExtensionPtrA(const char* path) {
  if (!path) return nullptr;
  const char* dot = nullptr;
  const char* p = path;
  for (; *p; p = CharNextA(p))
    if (*p == '.') dot = p;
  if (!dot) return const_cast<char*>(p);
  for (const char* q = dot + 1; *q; ++q)
    if (*q == ' ' || (*q >= '\t' && *q <= '\r')) return const_cast<char*>(p);
  return const_cast<char*>(dot);
}

extern "C" wchar_t* KVAPI KvGetFileNameWithoutPathOrExtension(const wchar_t* path, wchar_t* out, int cch) {
  if (!out || cch < 1) return nullptr;
  KvStrCpyN(out, path ? KvGetFileNamePtrW(path) : L"", cch);
  wchar_t* ext = KvGetFileNameExtensionPtrW(out);
  *ext = 0;
  return ext;
}

extern "C" int KVAPI KvGetPathNameFromFilePath(const wchar_t* path, wchar_t* out, int cch) {
  if (!path || !*path) return 0;
  if (out && cch > 0) out[0] = 0;
  int n = static_cast<int>(KvGetFileNamePtrW(path) - path);
  if (n > 0 && out && cch >= n + 1) KvStrCpyN(out, path, n + 1);
  return n;
}

extern "C" int KVAPI KvGetRootPathFromFilePath(const wchar_t* path, wchar_t* out, int cch) {
  if (!path) return 0;
  wchar_t copy[MAX_PATH];
  KvStrCpyN(copy, path, MAX_PATH);
  int n = 0;
  if (copy[0] == L'\\' && copy[1] == L'\\') {
    wchar_t* server = wcschr(copy + 2, L'\\');
    wchar_t* share = server ? wcschr(server + 1, L'\\') : nullptr;
    if (!share) return 0;
    n = static_cast<int>(share - copy) + 1;
  } else {
    wchar_t* slash = wcschr(copy, L'\\');
    if (!slash) return 0;
    n = static_cast<int>(slash - copy) + 1;
  }
  if (out && cch >= n + 1) KvStrCpyN(out, copy, n + 1);
  return n;
}

// ---- Building and trimming ----

extern "C" int KVAPI KvAddSlashToPathName(wchar_t* path, int cch) {
  if (!path) return 0;
  int n = BoundedLen(path, cch);
  if (n <= 0) return 0;
  if (path[n - 1] == L'\\') return n;
  if (n + 2 > cch) return 0;
  path[n] = L'\\';
  path[n + 1] = 0;
  return n + 1;
}

extern "C" int KVAPI KvRemoveSlashFromPathNameEnd(wchar_t* path, int cch) {
  if (!path) return 0;
  int n = BoundedLen(path, cch);
  if (n <= 0) return 0;
  if (path[n - 1] == L'\\') path[--n] = 0;
  return n;
}

extern "C" int KVAPI KvAppendToPathName(wchar_t* path, int cch, const wchar_t* name, const wchar_t* extension) {
  if (!path || cch < 1) return 0;
  KvAddSlashToPathName(path, cch);
  int n = BoundedLen(path, cch);
  if (n < 0) return 0;
  if (name) {
    if (*name == L'\\') ++name;
    KvStrCpyN(path + n, name, cch - n);
  }
  if (extension) KvReplaceExtensionOnPathName(path + n, cch - n, extension);
  return Len(path);
}

extern "C" wchar_t* KVAPI KvReplaceExtensionOnPathName(wchar_t* path, int cch, const wchar_t* extension) {
  if (!path || cch < 1) return nullptr;
  wchar_t* name = KvGetFileNamePtrW(path);
  if (!*name) return name;
  wchar_t* ext = KvGetFileNameExtensionPtrW(name);
  int at = static_cast<int>(ext - path);
  if (extension && *extension != L'.' && at < cch - 1) {
    path[at++] = L'.';
  }
  if (at < cch) KvStrCpyN(path + at, extension ? extension : L"", cch - at);
  path[cch - 1] = 0;
  return ext;
}

extern "C" int KVAPI KvAddExtensionToPathName(wchar_t* path, int cch, const wchar_t* extension) {
  return KvGuard<int>(0, [&]() -> int {
  if (!path || cch < 1) return 0;
  int n = BoundedLen(path, cch);
  if (n < 0) return 0;
  if (!extension) return n;
  std::wstring want = extension[0] == L'.' ? extension : std::wstring(L".") + extension;
  wchar_t* ext = KvGetFileNameExtensionPtrW(KvGetFileNamePtrW(path));
  if (EqualNoCase(ext, want.c_str())) return n;
  int keep = static_cast<int>(ext - path);
  int room = cch - keep - 1;
  if (room < 0) return n;
  int copy = static_cast<int>(want.size()) < room ? static_cast<int>(want.size()) : room;
  wmemcpy(path + keep, want.c_str(), copy);
  path[keep + copy] = 0;
  return keep + copy;
  });
}

extern "C" BOOL KVAPI KvValidateFileName(wchar_t* name, BOOL fix) {
  if (!name) return TRUE;
  BOOL valid = TRUE;
  for (wchar_t* p = name; *p; ++p) {
    if (wcschr(L"\"*/:<>?\\|", *p)) {
      if (!fix) return FALSE;
      *p = L'_';
      valid = FALSE;
    }
  }
  return valid;
}

extern "C" BOOL KVAPI KvIsMatchWildCard(const wchar_t* pattern, const wchar_t* name) {
  if (!pattern || !name) return FALSE;
  if (lstrcmpW(pattern, L"*") == 0) return TRUE;
  const wchar_t* p = pattern;
  const wchar_t* n = name;
  for (;;) {
    if (!*n) return !*p || *p == L'*' || (*p == L'.' && !p[1]);
    if (!*p) return !*n || (*n == L'.' && !n[1]);
    if (*p == L'*') {
      wchar_t next = p[1];
      ++p;
      while (*n && *n != L'.' && (!next || *n != next)) ++n;
      continue;
    }
    if (*p != L'?' && *p != *n) return FALSE;
    ++p;
    ++n;
  }
}

// ---- Canonical forms ----

extern "C" DWORD KVAPI KvGetLongPathName(const wchar_t* path, wchar_t* out, DWORD cch) {
  if (!path || !out) return 0;
  typedef DWORD(WINAPI * LongFn)(LPCWSTR, LPWSTR, DWORD);
  static LongFn longName = reinterpret_cast<LongFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetLongPathNameW")));
  DWORD length = static_cast<DWORD>(Len(path));
  if (longName) {
    DWORD r = longName(path, out, cch);
    if (r && r < cch) return r;
    if (out != path) {
      KvStrCpyN(out, path, static_cast<int>(cch));
      return length < cch ? length : length + 1;
    }
    return r;
  }
  if (out == path) return length;
  if (length + 1 > cch) return length + 1;
  KvStrCpyN(out, path, static_cast<int>(cch));
  return length;
}

extern "C" DWORD KVAPI KvGetFullPathName(const wchar_t* path, DWORD cch, wchar_t* out, wchar_t** filePart) {
  if (!path || !out) return 0;
  wchar_t* part = nullptr;
  DWORD r = GetFullPathNameW(path, cch, out, &part);
  if (r && r < cch) {
    DWORD l = KvGetLongPathName(out, out, cch);
    if (l && l < cch) r = l;
  }
  if (filePart) *filePart = r && r < cch ? KvGetFileNamePtrW(out) : nullptr;
  return r;
}

extern "C" DWORD KVAPI KvGetTempPath(DWORD cch, wchar_t* out) {
  if (!out) return 0;
  DWORD r = GetTempPathW(cch, out);
  if (r && r < cch) {
    DWORD l = KvGetLongPathName(out, out, cch);
    if (l && l < cch) r = l;
  }
  return r;
}

extern "C" DWORD KVAPI KvGetModuleFileName(HMODULE module, wchar_t* out, DWORD cch) {
  if (!out || cch < 1) return 0;
  wchar_t name[MAX_PATH];
  DWORD r = GetModuleFileNameW(module, name, MAX_PATH);
  if (!r || r >= MAX_PATH) {
    out[0] = 0;
    return 0;
  }
  wchar_t longName[MAX_PATH];
  DWORD l = KvGetLongPathName(name, longName, MAX_PATH);
  const wchar_t* use = l && l < MAX_PATH ? longName : name;
  KvStrCpyN(out, use, static_cast<int>(cch));
  return static_cast<DWORD>(Len(out));
}

extern "C" DWORD KVAPI KvGetModulePath(HMODULE module, wchar_t* out, DWORD cch) {
  wchar_t name[MAX_PATH];
  if (!KvGetModuleFileName(module, name, MAX_PATH)) return 0;
  return static_cast<DWORD>(KvGetPathNameFromFilePath(name, out, static_cast<int>(cch)));
}

extern "C" BOOL KVAPI KvQualifyPath(const wchar_t* path, wchar_t* out, DWORD cch) {
  DWORD r = KvGetFullPathName(path, cch, out, nullptr);
  return r && r < cch;
}

// ---- Relocation ----

extern "C" wchar_t* KVAPI KvGetFileNamePtrRelative(const wchar_t* base, const wchar_t* path) {
  if (!path) return nullptr;
  int pl = Len(path), bl = Len(base);
  int i = pl, j = bl;
  while (i > 0 && j > 0 && CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(path[i - 1]))) ==
                               CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(base[j - 1])))) {
    --i;
    --j;
  }
  if (i == 0) return const_cast<wchar_t*>(path);
  if (i == pl) return const_cast<wchar_t*>(path + pl);
  // i is the position after the first disagreement: on to the next folder boundary.
  const wchar_t* p = path + i;
  while (*p && *p != L'\\') ++p;
  while (*p == L'\\') ++p;
  return const_cast<wchar_t*>(p);
}

extern "C" HRESULT KVAPI KvGetBasePathRelative(const wchar_t* base, const wchar_t* path, wchar_t* out, int cch) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!path || !out) return E_FAIL;
  const wchar_t* tail = KvGetFileNamePtrRelative(base, path);
  int n = static_cast<int>(tail - path);
  std::wstring s(path, n);
  if (s.empty() || s.back() != L'\\') s += L'\\';
  if (static_cast<int>(s.size()) + 1 > cch) return E_FAIL;
  KvStrCpyN(out, s.c_str(), cch);
  return S_OK;
  });
}

extern "C" HRESULT KVAPI KvReplaceBasePathRelative(const wchar_t* path, const wchar_t* oldBase, const wchar_t* newBase,
                                                   wchar_t* out, int cch) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!out || cch < 1) return E_FAIL;
  out[0] = 0;
  if (!path || !oldBase || !newBase) return E_FAIL;
  int ol = Len(oldBase);
  if (Len(path) < ol || CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, path, ol, oldBase, ol) != CSTR_EQUAL)
    return E_FAIL;
  std::wstring s = std::wstring(newBase) + (path + ol);
  if (s.size() > 259 || static_cast<int>(s.size()) + 1 > cch) return E_FAIL;
  KvStrCpyN(out, s.c_str(), cch);
  return S_OK;
  });
}

// ---- Files ----

extern "C" BOOL KVAPI KvDoesFileExist(const wchar_t* path) {
  if (!path) return FALSE;
  DWORD a = GetFileAttributesW(path);
  if (a == INVALID_FILE_ATTRIBUTES) return FALSE;
  return !(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

extern "C" BOOL KVAPI KvIsFileWritable(const wchar_t* path) {
  if (!path) return FALSE;
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  CloseHandle(h);
  return TRUE;
}

extern "C" BOOL KVAPI KvIsFileExecutable(HANDLE file, DWORD* machine, WORD* characteristics) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!file || file == INVALID_HANDLE_VALUE) return FALSE;
  std::vector<BYTE> buf(4096);
  DWORD got = 0;
  BOOL result = FALSE;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  if (ReadFile(file, buf.data(), 4096, &got, nullptr) && got >= 64 && buf[0] == 'M' && buf[1] == 'Z') {
    DWORD offset = *reinterpret_cast<const DWORD*>(&buf[60]);
    const BYTE* header = nullptr;
    DWORD have = 0;
    if (static_cast<ULONGLONG>(offset) + 24 <= got) {
      header = &buf[offset];
      have = got - offset;
    } else if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
               ReadFile(file, buf.data(), 4096, &got, nullptr)) {
      header = buf.data();
      have = got;
    }
    if (header && have >= 24 && header[0] == 'P' && header[1] == 'E' && header[2] == 0 && header[3] == 0) {
      if (machine) *machine = *reinterpret_cast<const WORD*>(header + 4);
      if (characteristics) *characteristics = *reinterpret_cast<const WORD*>(header + 22);
      result = TRUE;
    }
  }
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  return result;
  });
}

extern "C" HRESULT KVAPI KvGetFileExecutableInfo(const wchar_t* path, DWORD* machine, WORD* characteristics) {
  if (machine) *machine = 0;
  if (characteristics) *characteristics = 0;
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Win32Result(GetLastError());
  BOOL ok = KvIsFileExecutable(h, machine, characteristics);
  CloseHandle(h);
  return ok ? S_OK : KV_E_CORRUPT;
}

extern "C" HRESULT KVAPI KvGetFileSizeByName(const wchar_t* path, LONGLONG* size) {
  if (size) *size = 0;
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  LARGE_INTEGER li;
  BOOL ok = GetFileSizeEx(h, &li);
  CloseHandle(h);
  if (!ok) return KV_E_OPEN;
  if (size) *size = li.QuadPart;
  return S_OK;
}

extern "C" DWORD KVAPI KvDosGetDateTime(const wchar_t* path) { return DosDateTime(path, true); }
extern "C" DWORD KVAPI KvDosGetDateTimeUTC(const wchar_t* path) { return DosDateTime(path, false); }

extern "C" DWORD KVAPI KvGetDateTime(DWORD* record) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  DWORD hundredths = t.wMilliseconds / 10;
  if (record) {
    record[0] = t.wYear | (static_cast<DWORD>(t.wDay) << 16) | (static_cast<DWORD>(t.wMonth) << 24);
    record[1] = hundredths | (static_cast<DWORD>(t.wSecond) << 8) | (static_cast<DWORD>(t.wMinute) << 16) |
                (static_cast<DWORD>(t.wHour) << 24);
  }
  return hundredths;
}

extern "C" HRESULT KVAPI KvCreateTempFileAndNameEx(const wchar_t* folder, const wchar_t* prefix, const wchar_t* suffix,
                                                   const wchar_t* numberFormat, wchar_t* out, int cch) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!out || (!folder && !prefix && !suffix)) return E_INVALIDARG;
  if (cch < 1) return E_INVALIDARG;
  std::wstring base = folder ? WithSlash(folder) : std::wstring();
  if (prefix) base += prefix;
  for (unsigned n = 1; n != 0; ++n) {
    wchar_t number[64];
    KvSysFormat(number, 64, numberFormat ? numberFormat : L"%d", n);
    std::wstring name = base + number + (suffix ? suffix : L"");
    if (static_cast<int>(name.size()) + 1 > cch) {
      out[0] = 0;
      return E_INVALIDARG;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      KvStrCpyN(out, name.c_str(), cch);
      return S_OK;
    }
    DWORD e = GetLastError();
    if (e == ERROR_FILE_EXISTS || e == ERROR_SHARING_VIOLATION) continue;
    out[0] = 0;
    HRESULT hr = KvErrorHandler_TranslateWin32Error(e);
    return FAILED(hr) ? hr : E_FAIL;
  }
  out[0] = 0;
  return E_FAIL;
  });
}

extern "C" HRESULT KVAPI KvCreateTempFileAndName(const wchar_t* prefix, const wchar_t* suffix, wchar_t* out, int cch) {
  return KvCreateTempFileAndNameEx(nullptr, prefix, suffix, nullptr, out, cch);
}

// ---- Folders ----

extern "C" BOOL KVAPI KvCreateDirectory(const wchar_t* path, SECURITY_ATTRIBUTES* security) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!path) return FALSE;
  wchar_t root[MAX_PATH];
  int rl = KvGetRootPathFromFilePath(path, root, MAX_PATH);
  if (rl < 3 || rl >= MAX_PATH || !IsFolder(root)) return FALSE;
  if (wcsstr(path + rl, L"\\\\")) return FALSE;
  std::wstring p = path;
  for (size_t i = rl; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == L'\\') {
      std::wstring part = p.substr(0, i);
      if (part.size() <= static_cast<size_t>(rl) || IsFolder(part.c_str())) continue;
      if (!CreateDirectoryW(part.c_str(), security) && !IsFolder(part.c_str())) return FALSE;
    }
  }
  return TRUE;
  });
}

extern "C" BOOL KVAPI KvIsDirectoryEmpty(const wchar_t* folder) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!folder || Len(folder) >= MAX_PATH) return FALSE;
  std::wstring pattern = WithSlash(folder) + L"*";
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return TRUE;
  BOOL empty = TRUE;
  do {
    if (!IsDots(fd.cFileName)) {
      empty = FALSE;
      break;
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return empty;
  });
}

extern "C" BOOL KVAPI KvIsDirectoryWritable(const wchar_t* folder) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!folder || !IsFolder(folder)) return FALSE;
  wchar_t name[MAX_PATH];
  if (FAILED(KvCreateTempFileAndNameEx(folder, nullptr, nullptr, nullptr, name, MAX_PATH))) return FALSE;
  DeleteFileW(name);
  return TRUE;
  });
}

extern "C" HRESULT KVAPI KvGetUniqueSubFolder(const wchar_t* parent, const wchar_t* name, wchar_t* out, int cch) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!parent || !name || !out || cch < MAX_PATH) return E_INVALIDARG;
  std::wstring base = WithSlash(parent) + name;
  for (int n = 0; n <= 65535; ++n) {
    std::wstring candidate = n ? base + std::to_wstring(n) : base;
    if (!IsFolder(candidate.c_str())) {
      if (static_cast<int>(candidate.size()) + 1 > cch) return E_INVALIDARG;
      KvStrCpyN(out, candidate.c_str(), cch);
      return S_OK;
    }
  }
  return E_FAIL;
  });
}

extern "C" BOOL KVAPI KvDeleteFiles(const wchar_t* folder, const wchar_t* pattern, BOOL recurse) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!folder || !pattern) return FALSE;
  BOOL ok = TRUE;
  std::wstring base = WithSlash(folder);
  WIN32_FIND_DATAW fd;
  if (recurse) {
    HANDLE h = FindFirstFileW((base + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(fd.cFileName))
          if (!KvDeleteFiles((base + fd.cFileName).c_str(), pattern, TRUE)) ok = FALSE;
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
  }
  HANDLE h = FindFirstFileW((base + pattern).c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      std::wstring file = base + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(file.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      if (!DeleteFileW(file.c_str())) ok = FALSE;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  return ok;
  });
}

extern "C" BOOL KVAPI KvDeleteDirectoryTree(const wchar_t* folder, BOOL removeFolder) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!folder || !*folder) return FALSE;
  BOOL ok = TRUE;
  std::wstring base = WithSlash(folder);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((base + L"*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (IsDots(fd.cFileName)) continue;
      std::wstring item = base + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!KvDeleteDirectoryTree(item.c_str(), TRUE)) ok = FALSE;
      } else {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(item.c_str())) ok = FALSE;
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  if (removeFolder) {
    DWORD a = GetFileAttributesW(folder);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesW(folder, a & ~FILE_ATTRIBUTE_READONLY);
    if (!RemoveDirectoryW(folder)) ok = FALSE;
  }
  return ok;
  });
}

extern "C" HRESULT KVAPI KvGetDirectorySize(const wchar_t* folder, LONGLONG* size) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!size) return E_INVALIDARG;
  if (!folder) return E_INVALIDARG;
  std::wstring base = WithSlash(folder);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((base + L"*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return S_OK;
  HRESULT hr = S_OK;
  do {
    if (IsDots(fd.cFileName)) continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      hr = KvGetDirectorySize((base + fd.cFileName).c_str(), size);
      if (FAILED(hr)) break;
    } else {
      *size += (static_cast<LONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return hr;
  });
}

HRESULT KvPath_WalkFolder(const wchar_t* source, const wchar_t* destination, int mode, DWORD* files,
                          LONGLONG* bytesDone, LONGLONG total, KVMOVEPROGRESS progress, void* context) {
  std::wstring src = WithSlash(source), dst = WithSlash(destination);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((src + L"*").c_str(), &fd);
  HRESULT first = S_OK;
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (IsDots(fd.cFileName)) continue;
      std::wstring from = src + fd.cFileName, to = dst + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (mode != 2 && !CreateDirectoryW(to.c_str(), nullptr) && !IsFolder(to.c_str())) {
          if (SUCCEEDED(first)) first = KV_E_WRITE;
          continue;
        }
        HRESULT hr = KvPath_WalkFolder(from.c_str(), to.c_str(), mode, files, bytesDone, total, progress, context);
        if (hr == KV_E_CANCELLED || (mode == 2 && FAILED(hr))) {
          FindClose(h);
          return hr;
        }
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
        continue;
      }
      if (mode == 2) {
        HANDLE f = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
          FindClose(h);
          return KV_E_FILESINUSE;
        }
        CloseHandle(f);
        continue;
      }
      BOOL ok = mode == 0 ? MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
                          : CopyFileW(from.c_str(), to.c_str(), FALSE);
      if (files) ++*files;
      if (!ok && SUCCEEDED(first)) first = KV_E_WRITE;
      if (mode == 1 && progress) {
        if (bytesDone) *bytesDone += (static_cast<LONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        double percent = total > 0 && bytesDone ? static_cast<double>(*bytesDone) * 100.0 / total : 0.0;
        if (percent < 0) percent = 0;
        if (percent > 100) percent = 100;
        if (progress(context, percent, from.c_str()) < 0) {
          FindClose(h);
          return KV_E_CANCELLED;
        }
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  if (mode == 0 && SUCCEEDED(first)) RemoveDirectoryW(source);
  return first;
}

extern "C" HRESULT KVAPI KvMoveFolder(const wchar_t* destination, const wchar_t* source, DWORD* files,
                                      KVMOVEPROGRESS progress, void* context) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (files) *files = 0;
  if (!destination || !source) return E_INVALIDARG;
  if (EqualNoCase(destination, source)) return S_OK;
  std::wstring dst = WithSlash(destination), src = WithSlash(source);
  std::wstring udst = dst, usrc = src;
  CharUpperW(&udst[0]);
  CharUpperW(&usrc[0]);
  if (udst.find(usrc) != std::wstring::npos) return KV_E_DESTUNDERSOURCE;
  wchar_t rootD[MAX_PATH], rootS[MAX_PATH];
  if (KvGetRootPathFromFilePath(dst.c_str(), rootD, MAX_PATH) <= 0 ||
      KvGetRootPathFromFilePath(src.c_str(), rootS, MAX_PATH) <= 0)
    return E_FAIL;
  if (!KvCreateDirectory(dst.c_str(), nullptr)) return KV_E_CREATE;
  bool copy = !EqualNoCase(rootD, rootS);
  LONGLONG total = 0;
  if (copy) {
    KvGetDirectorySize(src.c_str(), &total);
    double needMiB = (static_cast<double>(total) / 1048576.0 + 1.0) * 1.05;
    if (static_cast<double>(KvGetDiskFreeSpace(dst.c_str(), 1048576)) < needMiB) return KV_E_DISKFULL;
    if (progress) {
      int answer = progress(context, 0.0, nullptr);
      if (answer < 0) return answer;
    }
  }
  if (!KvCreateDirectory(dst.c_str(), nullptr)) return KV_E_CREATE;
  if (!KvIsDirectoryWritable(dst.c_str())) return KV_E_WRITE;
  LONGLONG done = 0;
  HRESULT hr = KvPath_WalkFolder(src.c_str(), dst.c_str(), copy ? 1 : 0, files, &done, total > 0 ? total : 1, progress,
                                 context);
  if (copy) {
    if (SUCCEEDED(hr))
      KvDeleteDirectoryTree(src.c_str(), TRUE);
    else if (files)
      *files = 0;
  }
  return hr;
  });
}

extern "C" HRESULT KVAPI KvCanMoveFolder(const wchar_t* folder) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!folder) return E_INVALIDARG;
  return KvPath_WalkFolder(folder, folder, 2, nullptr, nullptr, 1, nullptr, nullptr);
  });
}

extern "C" DWORD KVAPI KvGetDiskFreeSpace(const wchar_t* path, DWORD divisor) {
  return KvGuard<DWORD>(0u, [&]() -> DWORD { return DiskSpace(path, divisor, false);
  });
}
extern "C" DWORD KVAPI KvGetDiskTotalSpace(const wchar_t* path, DWORD divisor) {
  return KvGuard<DWORD>(0u, [&]() -> DWORD { return DiskSpace(path, divisor, true);
  });
}

extern "C" int KVAPI KvFormatDiskFreeSpace(const wchar_t* path, wchar_t* out) {
  if (!out) return 0;
  HKVLANG lang = KvLang_GetLibraryHandle();
  DWORD units = path && *path ? KvGetDiskFreeSpace(path, 102400) : 0xFFFFFFFF;
  if (!path || !*path || units == 0xFFFFFFFF) return KvStrCpyNLen(out, KvGetString(lang, IDS_KV_DISK_UNKNOWN), 64);
  return KvSysFormat(out, 64, KvGetString(lang, IDS_KV_DISK_MEGABYTES), static_cast<int>(units));
}

extern "C" int KVAPI KvGetByteSizeText(LONGLONG bytes, wchar_t* out) { return ByteSizeText(bytes, out, false); }
extern "C" int KVAPI KvGetByteSizeText2(LONGLONG bytes, wchar_t* out) { return ByteSizeText(bytes, out, true); }

// ---- The maker's folders ----

extern "C" HRESULT KVAPI KvGetSpecialFolderVer(wchar_t* out, int cch, int csidl, const wchar_t* name, int major,
                                               int minor) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!out || cch < MAX_PATH || !name) return E_INVALIDARG;
  wchar_t folder[MAX_PATH];
  HRESULT hr = SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder);
  if (FAILED(hr)) return hr;
  wchar_t tail[MAX_PATH];
  if (major < 0)
    KvSysFormat(tail, MAX_PATH, L"Orvane\\%s\\", name);
  else
    KvSysFormat(tail, MAX_PATH, L"Orvane\\%s\\%d.%d\\", name, major, minor);
  std::wstring path = WithSlash(folder) + tail;
  if (static_cast<int>(path.size()) + 1 > cch) return E_INVALIDARG;
  KvStrCpyN(out, path.c_str(), cch);
  return KvCreateDirectory(out, nullptr) ? S_OK : E_FAIL;
  });
}

extern "C" HRESULT KVAPI KvGetSpecialFolderNoVer(wchar_t* out, int cch, int csidl, const wchar_t* name) {
  return KvGetSpecialFolderVer(out, cch, csidl, name, -1, 0);
}

extern "C" HRESULT KVAPI KvGetSharedComponentsFolder(wchar_t* out, int cch) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!out || cch < 1) return E_INVALIDARG;
  wchar_t folder[MAX_PATH + 1];
  if (!ReadSharedValue(L"SharedComponentsFolder", folder, MAX_PATH)) return E_FAIL;
  std::wstring s = WithSlash(folder);
  if (static_cast<int>(s.size()) >= cch) return E_FAIL;
  KvStrCpyN(out, s.c_str(), cch);
  return S_OK;
  });
}

extern "C" HRESULT KVAPI KvGetSpecialOrvaneFolder(wchar_t* out, int cch, int kind) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!out || cch < 1 || kind < 0 || kind > 1) return E_INVALIDARG;
  if (ReadSharedValue(kOrvaneValues[kind], out, cch)) return S_OK;
  wchar_t shared[MAX_PATH];
  HRESULT hr = KvGetSharedComponentsFolder(shared, MAX_PATH);
  if (FAILED(hr)) return hr;
  std::wstring s = std::wstring(shared) + kOrvaneDefaults[kind] + L"\\";
  if (static_cast<int>(s.size()) >= cch) return E_FAIL;
  KvStrCpyN(out, s.c_str(), cch);
  return S_OK;
  });
}

extern "C" HRESULT KVAPI KvSetSpecialOrvaneFolder(const wchar_t* path, int kind) {
  if (!path || kind < 0 || kind > 1) return E_INVALIDARG;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KvReg_SharedInfoPath(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return KV_E_NOTADMIN;
  LONG e = RegSetValueExW(key, kOrvaneValues[kind], 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                          (Len(path) + 1) * sizeof(wchar_t));
  RegCloseKey(key);
  return e == ERROR_SUCCESS ? S_OK : KV_E_NOTADMIN;
}

extern "C" HRESULT KVAPI KvGetSpecialOrvaneDefaultFolderName(wchar_t* out, int cch, int kind) {
  if (!out || kind < 0 || kind > 1) return E_INVALIDARG;
  KvStrCpyN(out, kOrvaneDefaults[kind], cch);
  return S_OK;
}

// ---- Fitting a path into a width ----

extern "C" HRESULT KVAPI KvCalcPathEllipsisEx(HDC dc, const wchar_t* path, wchar_t* out, int cch, int width) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!path || !out || cch < 1) return E_INVALIDARG;
  KvStrCpyN(out, PathEllipsis(dc, path, width).c_str(), cch);
  return S_OK;
  });
}

extern "C" BOOL KVAPI KvCalcPathEllipsis(HDC dc, wchar_t* path, int width) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!path) return FALSE;
  wchar_t copy[1300];
  KvStrCpyN(copy, path, 1300);
  std::wstring result = PathEllipsis(dc, copy, width);
  // In place the text never grows: the caller's buffer may be sized to it.
  if (result.size() <= wcslen(copy)) wcscpy(path, result.c_str());
  return TRUE;
  });
}

extern "C" HRESULT KVAPI KvCalcPathEllipsisExCtl(HWND control, const wchar_t* path, wchar_t* out, int cch, int margin) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  HDC dc = GetDC(nullptr);
  if (!dc) return E_FAIL;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT r = {};
  GetClientRect(control, &r);
  int width = r.right - r.left - margin;
  HRESULT hr = KvCalcPathEllipsisEx(dc, path, out, cch, width < 0 ? 0 : width);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return hr;
  });
}

extern "C" HRESULT KVAPI KvFilenameFormat(HDC dc, int width, const wchar_t* path, wchar_t* out, int cch, int mode) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  return FilenameFormatImpl(dc, width, path, out, cch, mode);
  });
}

extern "C" HRESULT KVAPI KvFilenameFormatForWidth(HFONT font, int width, const wchar_t* path, wchar_t* out, int cch,
                                                  int mode) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  HDC dc = GetDC(nullptr);
  if (!dc) return E_FAIL;
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  HRESULT hr = FilenameFormatImpl(dc, width < 0 ? 0 : width, path, out, cch, mode);
  if (old) SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return hr;
  });
}

extern "C" HRESULT KVAPI KvFilenameFormatForCtl(HWND control, const wchar_t* path, wchar_t* out, int cch, int mode) {
  if (!control) return KV_S_NOCONTROL;
  RECT r = {};
  GetClientRect(control, &r);
  return KvFilenameFormatForWidth(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)),
                                  r.right - r.left - 4, path, out, cch, mode);
}
