// Window and dialog operations, toolbars, class registration.
#include "kvdlgutil.h"

#include <commctrl.h>
#include <ole2.h>

#include <cstring>

#include "kvkernel.h"

namespace {

HWND Control(HWND dialog, int id) { return dialog ? GetDlgItem(dialog, id) : nullptr; }

// The rectangle of a window in another window's client coordinates.
RECT RectIn(HWND window, HWND in) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, in, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool g_oleInitialised = false;

// The library's activation context: the manifest among the library module's
// resources, made once; none when the module has no manifest.
HANDLE LibraryContext() {
  static HANDLE context = INVALID_HANDLE_VALUE;
  static bool tried = false;
  if (!tried) {
    tried = true;
    HMODULE module = KvKernel_GetModule();
    if (module && FindResourceW(module, MAKEINTRESOURCEW(2), RT_MANIFEST)) {
      ACTCTXW ctx;
      ZeroMemory(&ctx, sizeof ctx);
      ctx.cbSize = sizeof ctx;
      ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
      ctx.hModule = module;
      ctx.lpResourceName = MAKEINTRESOURCEW(2);
      context = CreateActCtxW(&ctx);
    }
  }
  return context;
}

}  // namespace

KvUI_ActivationScope::KvUI_ActivationScope() {
  HANDLE context = LibraryContext();
  if (context != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context, &cookie_) != FALSE;
}

KvUI_ActivationScope::~KvUI_ActivationScope() {
  if (!active_) return;
  // The caller's last error survives the deactivation.
  DWORD error = GetLastError();
  DeactivateActCtx(0, cookie_);
  SetLastError(error);
}

extern "C" BOOL KVAPI KvDlgDeltaControlMove(HWND dialog, int id, int dx, int dy) {
  HWND c = Control(dialog, id);
  if (!c) return FALSE;
  RECT r = RectIn(c, dialog);
  return SetWindowPos(c, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" BOOL KVAPI KvDlgDeltaControlSize(HWND dialog, int id, int dw, int dh) {
  HWND c = Control(dialog, id);
  if (!c) return FALSE;
  RECT r;
  GetClientRect(c, &r);
  return SetWindowPos(c, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" BOOL KVAPI KvDlgEnableControls(HWND dialog, const int* ids, int count, BOOL enable) {
  if (!ids) return FALSE;
  for (int i = 0; i < count; ++i)
    if (HWND c = Control(dialog, ids[i])) EnableWindow(c, enable);
  return TRUE;
}

extern "C" BOOL KVAPI KvDlgShowControls(HWND dialog, const int* ids, int count, BOOL show) {
  if (!ids) return FALSE;
  for (int i = 0; i < count; ++i)
    if (HWND c = Control(dialog, ids[i])) ShowWindow(c, show ? SW_SHOWNA : SW_HIDE);
  return TRUE;
}

extern "C" int KVAPI KvDlgWhichRadioButton(HWND dialog, int first, int last, int fallback) {
  for (int id = first; id <= last; ++id)
    if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) return id;
  return fallback;
}

extern "C" BOOL KVAPI KvDlgGetControlRect(HWND dialog, HWND control, int id, RECT* rect) {
  if (!rect) return FALSE;
  SetRectEmpty(rect);
  HWND c = control ? control : Control(dialog, id);
  if (!c || !IsWindow(c)) return FALSE;
  *rect = RectIn(c, dialog);
  return TRUE;
}

extern "C" BOOL KVAPI KvDlgUndropComboBox(HWND dialog) {
  HWND focus = GetFocus();
  if (!focus) return FALSE;
  wchar_t cls[32] = {};
  GetClassNameW(focus, cls, 32);
  if (!lstrcmpiW(cls, L"ComboBox") && SendMessageW(focus, CB_GETDROPPEDSTATE, 0, 0)) {
    SendMessageW(focus, CB_SHOWDROPDOWN, FALSE, 0);
    return TRUE;
  }
  if (!lstrcmpiW(cls, L"Edit")) {
    if (HWND parent = GetParent(focus)) SendMessageW(parent, WM_NEXTDLGCTL, 0, 0);
  }
  return FALSE;
}

extern "C" BOOL KVAPI KvIsMouseInControl(HWND dialog, int id, int x, int y, BOOL mapToDialog) {
  HWND c = Control(dialog, id);
  if (!c) return FALSE;
  RECT r;
  if (mapToDialog) r = RectIn(c, dialog);
  else GetWindowRect(c, &r);
  POINT p = {x, y};
  return PtInRect(&r, p);
}

extern "C" BOOL KVAPI KvSetHorizHookControlPos(HWND hook, HWND main, int hookId, int mainId) {
  if (!main) main = GetParent(hook);
  HWND h = Control(hook, hookId), m = Control(main, mainId);
  if (!h || !m) return FALSE;
  RECT mr;
  GetWindowRect(m, &mr);
  RECT hr = RectIn(h, hook);
  // The main control's left edge, in the hook dialog's coordinates.
  POINT left = {mr.left, mr.top};
  ScreenToClient(hook, &left);
  return SetWindowPos(h, nullptr, left.x, hr.top, mr.right - mr.left, hr.bottom - hr.top,
                      SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" BOOL KVAPI KvLineupHookWithMainDialog(HWND hook, HWND main) {
  if (!main) main = GetParent(hook);
  if (!hook || !main) return FALSE;
  RECT hr, mr;
  GetWindowRect(hook, &hr);
  GetWindowRect(main, &mr);
  if (hr.right >= mr.right) return TRUE;
  return SetWindowPos(hook, nullptr, 0, 0, mr.right - hr.left, hr.bottom - hr.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" BOOL KVAPI KvGetRealClientRect(HWND window, RECT* rect) {
  if (!rect || !GetClientRect(window, rect)) return FALSE;
  LONG style = GetWindowLongW(window, GWL_STYLE);
  if (style & WS_VSCROLL) rect->right += GetSystemMetrics(SM_CXVSCROLL);
  if (style & WS_HSCROLL) rect->bottom += GetSystemMetrics(SM_CYHSCROLL);
  return TRUE;
}

extern "C" HWND KVAPI KvActivatePrevAppInstance(const wchar_t* className) {
  HWND window = FindWindowW(className, nullptr);
  if (!window) return nullptr;
  HWND popup = GetLastActivePopup(window);
  if (IsIconic(window)) {
    ShowWindow(popup ? popup : window, SW_RESTORE);
  } else {
    BringWindowToTop(window);
    SetForegroundWindow(popup ? popup : window);
  }
  return window;
}

extern "C" HGLOBAL KVAPI KvCopyHandle(HGLOBAL block) {
  if (!block) return nullptr;
  SIZE_T size = GlobalSize(block);
  const void* src = GlobalLock(block);
  if (!src) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy) {
    if (void* dst = GlobalLock(copy)) {
      std::memcpy(dst, src, size);
      GlobalUnlock(copy);
    } else {
      GlobalFree(copy);
      copy = nullptr;
    }
  }
  GlobalUnlock(block);
  return copy;
}

extern "C" BOOL KVAPI KvOleInit(BOOL init) {
  if (init) {
    if (!g_oleInitialised) g_oleInitialised = SUCCEEDED(OleInitialize(nullptr));
  } else if (g_oleInitialised) {
    OleUninitialize();
    g_oleInitialised = false;
  }
  return g_oleInitialised;
}

extern "C" HWND KVAPI KvCreateToolbarEmpty(HKVLANG lang, HWND parent, DWORD style, UINT id) {
  HMODULE module = KvLang_InstFromLang(lang);
  if (!module) module = KvKernel_GetModule();
  HWND toolbar;
  {
    KvUI_ActivationScope scope;
    toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, style, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  }
  // The button record of the oldest common controls (20 bytes).
  if (toolbar) SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, 20, 0);
  return toolbar;
}

extern "C" BOOL KVAPI KvGetToolbarSize(HWND toolbar, SIZE* size) {
  if (!size) return FALSE;
  size->cx = size->cy = 0;
  if (!toolbar) return FALSE;
  int count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    TBBUTTON b;
    ZeroMemory(&b, sizeof b);
    if (!SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b))) continue;
    if (b.fsState & TBSTATE_HIDDEN) continue;
    RECT r = {};
    if (!SendMessageW(toolbar, TB_GETRECT, b.idCommand, reinterpret_cast<LPARAM>(&r))) continue;
    size->cx += r.right - r.left;
    if (r.bottom - r.top > size->cy) size->cy = r.bottom - r.top;
  }
  return TRUE;
}

extern "C" ATOM KVAPI KvRegisterClass(const WNDCLASSW* windowClass) {
  if (!windowClass) return 0;
  KvUI_ActivationScope scope;
  return RegisterClassW(windowClass);
}

extern "C" BOOL KVAPI KvUnregisterClass(const wchar_t* className, HINSTANCE instance) {
  if (!className) return FALSE;
  KvUI_ActivationScope scope;
  WNDCLASSW info;
  if (!GetClassInfoW(instance, className, &info)) return FALSE;
  return UnregisterClassW(className, instance);
}
