// Library initialisation and system queries.
#include "kvkernel.h"

#include <cwchar>

#include "kvclock.h"
#include "kvlang.h"
#include "kvprintf.h"

namespace {

struct KernelState {
  HMODULE module = nullptr;
  HINSTANCE host = nullptr;
  int firstHostCursor = 100;
  HWND splash = nullptr;
  HWND uiWindow = nullptr;  // the UI toolkit's second window slot
  int win95 = -1;           // -1: not asked yet
  int highColor = -1;
  int allMonitorsHighColor = -1;
};

KernelState g_kernel;
KvKernelUiHooks g_uiHooks = {nullptr, nullptr};

BOOL ResetUIColors(BOOL loadDefaults) { return g_uiHooks.resetColors ? g_uiHooks.resetColors(loadDefaults) : TRUE; }

bool SystemVersion(OSVERSIONINFOW* v) {
  ZeroMemory(v, sizeof *v);
  v->dwOSVersionInfoSize = sizeof *v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExW(v) != FALSE;
#pragma GCC diagnostic pop
}

void CopyBounded(wchar_t* out, int cch, const wchar_t* text) {
  if (!out || cch < 1) return;
  int i = 0;
  for (; text[i] && i < cch - 1; ++i) out[i] = text[i];
  out[i] = 0;
}

BOOL CALLBACK MonitorDepth(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFOEXW info;
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  HDC dc = CreateDCW(L"DISPLAY", info.szDevice, nullptr, nullptr);
  if (!dc) return TRUE;
  if (GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) < 16) *reinterpret_cast<BOOL*>(data) = FALSE;
  DeleteDC(dc);
  return TRUE;
}

}  // namespace

void KvKernel_SetUiHooks(const KvKernelUiHooks& hooks) { g_uiHooks = hooks; }

HMODULE KvKernel_GetModule() { return g_kernel.module; }
HINSTANCE KvKernel_GetHostModule() { return g_kernel.host; }
int KvKernel_GetFirstHostCursorId() { return g_kernel.firstHostCursor; }
HWND KvKernel_GetSplash() { return g_kernel.splash; }

BOOL KvKernel_OSName(const OSVERSIONINFOW& v, wchar_t* buf, int cch) {
  const wchar_t* name = L"Unknown";
  BOOL known = TRUE;
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (v.dwMajorVersion < 4 || (v.dwMajorVersion == 4 && v.dwMinorVersion == 0)) name = L"Windows 95";
    else if (v.dwMinorVersion >= 90) name = L"Windows Me";
    else if (v.szCSDVersion[0] && v.szCSDVersion[1] == L'A') name = L"Windows 98 SE";
    else name = L"Windows 98";
  } else if (v.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (v.dwMajorVersion >= 6) name = L"Windows Vista";
    else if (v.dwMajorVersion == 5) name = v.dwMinorVersion == 0 ? L"Windows 2000" : L"Windows XP";
    else name = L"Windows NT";
  } else {
    known = FALSE;
  }
  CopyBounded(buf, cch, name);
  return known;
}

BOOL KvKernel_OSVersionOK(const OSVERSIONINFOW& v, int level, WORD servicePack) {
  DWORD platform = VER_PLATFORM_WIN32_WINDOWS, major = 0, minor = 0;
  switch (level) {
    case 0: major = 4; minor = 0; break;
    case 1: major = 4; minor = 1; break;
    case 2: major = 4; minor = 1; servicePack = 1; break;
    case 4: platform = VER_PLATFORM_WIN32_NT; major = 4; minor = 0; break;
    case 5: platform = VER_PLATFORM_WIN32_NT; major = 5; minor = 0; break;
    case 6: platform = VER_PLATFORM_WIN32_NT; major = 5; minor = 1; break;
    case 7: platform = VER_PLATFORM_WIN32_NT; major = 6; minor = 0; break;
    default: break;
  }
  if (v.dwPlatformId != platform) return FALSE;
  if (v.dwMajorVersion > major) return TRUE;
  if (v.dwMajorVersion < major) return FALSE;
  if (v.dwMinorVersion > minor) return TRUE;
  if (v.dwMinorVersion < minor) return FALSE;
  int sp = 0;
  if (v.szCSDVersion[0] && swscanf(v.szCSDVersion, L"Service Pack %d", &sp) != 1) sp = 0;
  return sp >= servicePack;
}

extern "C" BOOL KVAPI KvIsWin95(void) {
  if (g_kernel.win95 < 0) {
    OSVERSIONINFOW v;
    g_kernel.win95 = SystemVersion(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  }
  return g_kernel.win95;
}

extern "C" BOOL KVAPI KvGetOS(wchar_t* buf, int cch) {
  OSVERSIONINFOW v;
  if (!SystemVersion(&v)) {
    CopyBounded(buf, cch, L"Unknown");
    return FALSE;
  }
  return KvKernel_OSName(v, buf, cch);
}

extern "C" BOOL KVAPI KvOSVersionOK(int level, WORD servicePack) {
  OSVERSIONINFOW v;
  return SystemVersion(&v) && KvKernel_OSVersionOK(v, level, servicePack);
}

extern "C" BOOL KVAPI KvIsHighColorEx(BOOL force) {
  if (force || g_kernel.highColor < 0) {
    HDC dc = GetDC(nullptr);
    BOOL high = FALSE;
    if (dc) {
      high = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) >= 16;
      ReleaseDC(nullptr, dc);
    }
    g_kernel.highColor = high;
  }
  return g_kernel.highColor;
}

extern "C" BOOL KVAPI KvIsAllMonitorsHighColorEx(BOOL force) {
  if (force || g_kernel.allMonitorsHighColor < 0) {
    BOOL high = TRUE;
    EnumDisplayMonitors(nullptr, nullptr, MonitorDepth, reinterpret_cast<LPARAM>(&high));
    g_kernel.allMonitorsHighColor = high;
  }
  return g_kernel.allMonitorsHighColor;
}

extern "C" BOOL KVAPI KvIsHighColor(void) { return KvIsHighColorEx(FALSE); }
extern "C" BOOL KVAPI KvIsAllMonitorsHighColor(void) { return KvIsAllMonitorsHighColorEx(FALSE); }

extern "C" LRESULT KVAPI KvKernel_UserPrefChanges(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_SYSCOLORCHANGE) {
    KvIsHighColorEx(TRUE);
    KvIsAllMonitorsHighColorEx(TRUE);
    // The cached pens and brushes of the old colours go first.
    ResetUIColors(FALSE);
    return ResetUIColors(TRUE);
  }
  if (msg == WM_DISPLAYCHANGE) {
    KvIsHighColorEx(TRUE);
    KvIsAllMonitorsHighColorEx(TRUE);
    return 0;
  }
  return msg;
}

extern "C" HWND KVAPI KvKernel_SetSplash(HWND splash) {
  g_kernel.splash = splash;
  return splash;
}

extern "C" UINT KVAPI KvSetQuietErrorMode(void) {
  UINT mode = SetErrorMode(0);
  SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return mode;
}

// Initialisation, in this order: quiet error mode, clocks, the module and the
// 9x flag, processor detection, host module and UI window slots, default UI
// colours, the token table, the library's language handle, the locale
// settings with their tokens, the late clock set-up. TRUE when the token
// table and the language handle could be had.
extern "C" BOOL KVAPI KvKernel_Initialize(HMODULE module, HINSTANCE host) {
  KvSetQuietErrorMode();
  KvTimer_Initialize(4);
  KvIsWin95();
  g_kernel.module = module;
  KvCpu_Detect();
  g_kernel.firstHostCursor = 100;
  g_kernel.host = host ? host : GetModuleHandleW(nullptr);
  g_kernel.splash = nullptr;
  g_kernel.uiWindow = nullptr;
  ResetUIColors(TRUE);
  if (!KvPrintF_CreateTokenList()) return FALSE;
  // A second initialisation replaces the library's handle instead of leaking it.
  HKVLANG old = KvLang_GetLibraryHandle();
  if (old) {
    KvLang_SetLibraryHandle(nullptr);
    KvLang_Close(old);
  }
  HKVLANG lang = nullptr;
  if (FAILED(KvLang_Open(&lang, module, 0, 0)) || !lang) return FALSE;
  KvLang_SetLibraryHandle(lang);
  KvLang_GetInternationals(nullptr, 0);
  KvTimer_LateInitialize();
  return TRUE;
}

extern "C" BOOL KVAPI KvKernel_Terminate(void) {
  HKVLANG lang = KvLang_GetLibraryHandle();
  KvLang_SetLibraryHandle(nullptr);
  if (lang) KvLang_Close(lang);
  KvPrintF_DestroyTokenList();
  if (g_uiHooks.freeCaches) g_uiHooks.freeCaches();
  g_kernel.module = nullptr;
  return TRUE;
}
