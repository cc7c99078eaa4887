#include "kvhelp.h"

#include "kvguard.h"

#include <commctrl.h>

#include <string>

#include "kvkernel.h"
#include "kvlang.h"
#include "kvpath.h"
#include "kvreg.h"
#include "kvstr.h"

namespace {

wchar_t g_helpPaths[2][MAX_PATH];

// HTML Help, loaded on first use. A library without the export is released
// and not tried again.
HMODULE g_htmlHelpModule = nullptr;
bool g_htmlHelpFailed = false;
typedef HWND(WINAPI* HtmlHelpFn)(HWND, LPCWSTR, UINT, DWORD_PTR);
HtmlHelpFn g_htmlHelp = nullptr;

const UINT kHhDisplayTextPopup = 14;

HtmlHelpFn HtmlHelp() {
  if (g_htmlHelp || g_htmlHelpFailed) return g_htmlHelp;
  g_htmlHelpModule = LoadLibraryW(L"HHCTRL.OCX");
  if (!g_htmlHelpModule) {
    g_htmlHelpFailed = true;
    return nullptr;
  }
  g_htmlHelp = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(g_htmlHelpModule, "HtmlHelpW")));
  if (!g_htmlHelp) {
    FreeLibrary(g_htmlHelpModule);
    g_htmlHelpModule = nullptr;
    g_htmlHelpFailed = true;
  }
  return g_htmlHelp;
}

bool WinHelpOff() { return KvOSVersionOK(7, 0) != FALSE; }

bool KindOff(int kind) { return kind == KV_HELP_WINHELP && WinHelpOff(); }

bool Exists(const wchar_t* path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The extension rule: from the last '.' of the file name, ".hlp" or ".chm".
void ApplyExtension(std::wstring& path, int kind) {
  if (kind != 0 && kind != 1) return;
  size_t name = path.find_last_of(L"\\:");
  size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos && (name == std::wstring::npos || dot > name)) path.erase(dot);
  path += kind == 0 ? L".hlp" : L".chm";
}

void Localize(std::wstring& path) {
  wchar_t abbreviation[16] = L"";
  HKVLANG lang = KvLang_GetLibraryHandle();
  if (!lang || !KvLang_GetLangAbbrev(lang, abbreviation, 16)) return;
  wchar_t buffer[MAX_PATH];
  if (path.size() >= MAX_PATH) return;
  KvStrCpyN(buffer, path.c_str(), MAX_PATH);
  if (KvHelp_TranslatedVariant(buffer, abbreviation)) path = buffer;
}

BOOL Finish(const std::wstring& path, wchar_t* out, int cch) {
  if (!out || cch < 1) return FALSE;
  if (static_cast<int>(path.size()) + 1 > cch) {
    out[0] = 0;
    return FALSE;
  }
  KvStrCpyN(out, path.c_str(), cch);
  return TRUE;
}

bool SharedFolder(std::wstring* folder) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KvReg_SharedInfoPath(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t value[MAX_PATH + 1] = {};
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  LONG e = RegQueryValueExW(key, L"HelpFolder", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS || type != REG_SZ) return false;
  value[MAX_PATH] = 0;
  DWORD a = GetFileAttributesW(value);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  *folder = value;
  if (!folder->empty() && folder->back() != L'\\') *folder += L'\\';
  return true;
}

const wchar_t* StoredOr(int kind, const wchar_t* path) {
  if (path) return path;
  if (kind == 0 || kind == 1) return g_helpPaths[kind];
  return L"";
}

}  // namespace

BOOL KvHelp_TranslatedVariant(wchar_t* path, const wchar_t* abbreviation) {
  if (!path || !abbreviation || !*abbreviation || lstrcmpiW(abbreviation, L"enu") == 0) return FALSE;
  int pathLength = KvStrLen(path), abbrLength = KvStrLen(abbreviation);
  if (pathLength + abbrLength + 2 > MAX_PATH) return FALSE;
  const wchar_t* ext = KvGetFileNameExtensionPtrW(KvGetFileNamePtrW(path));
  std::wstring stem(path, ext - path), extension(ext);
  std::wstring candidates[2] = {stem + abbreviation + extension, stem + L"_" + abbreviation + extension};
  for (const std::wstring& c : candidates) {
    if (c.size() < MAX_PATH && Exists(c.c_str())) {
      KvStrCpyN(path, c.c_str(), MAX_PATH);
      return TRUE;
    }
  }
  std::wstring pattern = stem + std::wstring(abbreviation, abbrLength - 1) + L"*" + extension;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(h);
  std::wstring found = std::wstring(path, KvGetFileNamePtrW(path) - path) + fd.cFileName;
  if (found.size() >= MAX_PATH) return FALSE;
  KvStrCpyN(path, found.c_str(), MAX_PATH);
  return TRUE;
}

DWORD KvHelp_PopupTopic(int kind, DWORD defaultTopic, int controlId, const DWORD* idMap, UINT* command) {
  if (kind == 0 && !idMap) {
    if (command) *command = 2;  // with topic 0
    return 0;
  }
  if (controlId == 0 || controlId == -1) return 0;
  DWORD topic = defaultTopic;
  if (idMap)
    for (const DWORD* p = idMap; p[0]; p += 2)
      if (static_cast<int>(p[0]) == controlId) {
        topic = p[1];
        break;
      }
  if (command) *command = kind == 0 ? 8 : kHhDisplayTextPopup;
  return topic;
}

extern "C" BOOL KVAPI KvHelp_SetHelpFilePath(int kind, const wchar_t* path) {
  if (kind != 0 && kind != 1) return FALSE;
  KvStrCpyN(g_helpPaths[kind], path ? path : L"", MAX_PATH);
  return TRUE;
}

extern "C" BOOL KVAPI KvHelp_GetHelpFilePath(int kind, wchar_t* out, int cch) {
  if (!out || cch < 1) return FALSE;
  out[0] = 0;
  if ((kind != 0 && kind != 1) || KindOff(kind)) return FALSE;
  KvStrCpyN(out, g_helpPaths[kind], cch);
  return TRUE;
}

extern "C" BOOL KVAPI KvHelp_CreateHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch, const wchar_t* name,
                                                BOOL noLocalize) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!out || cch < 1) return FALSE;
  out[0] = 0;
  if (KindOff(kind)) return FALSE;
  wchar_t file[MAX_PATH];
  if (!KvGetModuleFileName(module, file, MAX_PATH)) return FALSE;
  std::wstring path = file;
  if (name) path = std::wstring(file, KvGetFileNamePtrW(file) - file) + name;
  ApplyExtension(path, kind);
  if (!noLocalize) Localize(path);
  return Finish(path, out, cch);
  });
}

extern "C" BOOL KVAPI KvHelp_CreateSharedHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch,
                                                      const wchar_t* name, BOOL noLocalize) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!out || cch < 1) return FALSE;
  out[0] = 0;
  if (KindOff(kind)) return FALSE;
  std::wstring folder;
  if (!SharedFolder(&folder)) return FALSE;
  wchar_t file[MAX_PATH] = L"";
  if (!name) {
    if (!KvGetModuleFileName(module, file, MAX_PATH)) return FALSE;
    name = KvGetFileNamePtrW(file);
  }
  std::wstring path = folder + name;
  ApplyExtension(path, kind);
  if (!noLocalize) Localize(path);
  return Finish(path, out, cch);
  });
}

extern "C" BOOL KVAPI KvHelp_CreateHelpFilePathEX(int kind, HMODULE module, wchar_t* out, int cch,
                                                  const wchar_t* name, BOOL noLocalize) {
  if (KvHelp_CreateSharedHelpFilePath(kind, module, out, cch, name, noLocalize)) return TRUE;
  return KvHelp_CreateHelpFilePath(kind, module, out, cch, name, noLocalize);
}

extern "C" BOOL KVAPI KvHelp_CreateUnsharedHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!KvHelp_CreateHelpFilePath(kind, module, out, cch, nullptr, FALSE)) return FALSE;
  if (Exists(out)) return TRUE;
  wchar_t file[MAX_PATH], exe[MAX_PATH];
  if (!KvGetModuleFileName(module, file, MAX_PATH) || !KvGetModuleFileName(nullptr, exe, MAX_PATH)) return FALSE;
  std::wstring path = std::wstring(exe, KvGetFileNamePtrW(exe) - exe) + KvGetFileNamePtrW(file);
  ApplyExtension(path, kind);
  Localize(path);
  if (!Finish(path, out, cch)) return FALSE;
  return Exists(out);
  });
}

extern "C" BOOL KVAPI KvHelp_CreatePluginHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch,
                                                      BOOL preferShared) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!out || cch < 1) return FALSE;
  if (preferShared) {
    if (!KvHelp_CreateSharedHelpFilePath(kind, module, out, cch, nullptr, FALSE) || !Exists(out))
      KvHelp_CreateUnsharedHelpFilePath(kind, module, out, cch);
  } else if (!KvHelp_CreateUnsharedHelpFilePath(kind, module, out, cch)) {
    KvHelp_CreateSharedHelpFilePath(kind, module, out, cch, nullptr, FALSE);
  }
  if (!out[0] || !Exists(out)) {
    out[0] = 0;
    return FALSE;
  }
  return TRUE;
  });
}

extern "C" BOOL KVAPI KvHelp_ContextHelp(int kind, HWND window, DWORD_PTR data, UINT command, const wchar_t* path) {
  path = StoredOr(kind, path);
  if (!path || !*path) return FALSE;
  if (kind == 0) {
    if (WinHelpOff()) return FALSE;
    if ((command == 0 || command == 2) && !Exists(path)) return FALSE;
    return WinHelpW(window, path, command, data);
  }
  if (kind != 1) return FALSE;
  HtmlHelpFn help = HtmlHelp();
  if (!help) return FALSE;
  HWND shown = help(GetDesktopWindow(), path, command, data);
  if (!shown) return FALSE;
  BringWindowToTop(shown);
  return TRUE;
}

extern "C" BOOL KVAPI KvHelp_ContextPopupHelp(int kind, HWND window, DWORD defaultTopic, int controlId,
                                              const DWORD* idMap, const wchar_t* path) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  path = StoredOr(kind, path);
  if (!path || !*path) return FALSE;
  UINT command = 0;
  DWORD topic = KvHelp_PopupTopic(kind, defaultTopic, controlId, idMap, &command);
  if (kind == 0 && !idMap) {
    if (WinHelpOff()) return FALSE;
    return WinHelpW(window, path, command, 0);
  }
  if (!topic) return FALSE;
  if (kind == 0) {
    if (WinHelpOff()) return FALSE;
    return WinHelpW(window, path, command, topic);
  }
  HtmlHelpFn help = HtmlHelp();
  if (!help) return FALSE;
  struct {
    int cbStruct;
    HINSTANCE hinst;
    UINT idString;
    LPCWSTR pszText;
    POINT pt;
    COLORREF clrForeground, clrBackground;
    RECT rcMargins;
    LPCWSTR pszFont;
  } popup = {};
#ifndef _WIN64
  static_assert(sizeof(popup) == 52, "the pop-up record has 52 bytes");
#endif
  popup.cbStruct = sizeof(popup);
  popup.idString = topic;
  GetCursorPos(&popup.pt);
  popup.clrForeground = popup.clrBackground = static_cast<COLORREF>(-1);
  popup.rcMargins = {-1, -1, -1, -1};
  popup.pszFont = L"MS Shell Dlg, 8";
  std::wstring file = std::wstring(path) + L"::/Popup.txt";
  HWND shown = help(window, file.c_str(), command, reinterpret_cast<DWORD_PTR>(&popup));
  if (window) SetFocus(window);
  return shown != nullptr;
  });
}

extern "C" BOOL KVAPI KvHelp_HitTestToolbar(HWND toolbar, HELPINFO* info) {
  if (!toolbar || !info) return FALSE;
  POINT pt = info->MousePos;
  ScreenToClient(toolbar, &pt);
  int count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    RECT r;
    if (!SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r)) || !PtInRect(&r, pt)) continue;
    TBBUTTON button = {};
    if (!SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)) || button.idCommand == 0)
      return FALSE;
    info->iCtrlId = button.idCommand;
    return TRUE;
  }
  return FALSE;
}
