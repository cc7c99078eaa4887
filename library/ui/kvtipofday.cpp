// The tip-of-the-day dialog and its painted tip panel.
#include "kvtipofday.h"

#include "kvdlgtemplate.h"
#include "kvdlgutil.h"
#include "kvkernel.h"
#include "kvuibitmap.h"
#include "kvuicolor.h"
#include "kvuifont.h"
#include "kvwndplace.h"

namespace {

// Library strings of the dialog.
const UINT kStrDidYouKnow = 48273;
const UINT kStrTitle = 48277;
const UINT kStrShowAtStartup = 48278;
const UINT kStrNextTip = 48279;
const UINT kStrClose = 48280;
// Library bitmap shown in the panel's left column.
const UINT kPanelBitmap = 2;
const wchar_t kOldProcProperty[] = L"KvTipPanelProc";
const int kMaxTip = 1024;

const wchar_t* Id(UINT id) { return MAKEINTRESOURCEW(id); }
const wchar_t* const kButton = MAKEINTRESOURCEW(0x80);

// The dialog's description (built once, reused).
const _kvdlghdrcreate& Header() {
  static const _kvdlghdrcreate header = {0x90C800C4, 0, 4, 0, 0, 280, 158, 0, 0, 0, Id(kStrTitle), 8, 0, nullptr};
  return header;
}

const _kvdlgctrlcreate* Controls() {
  static const _kvdlgctrlcreate controls[4] = {
      {kButton, Id(kStrClose), KV_TIP_CLOSE, 222, 136, 50, 14, 0, WS_EX_NOPARENTNOTIFY, 0x50030001},
      {kButton, Id(kStrNextTip), KV_TIP_NEXT, 162, 136, 50, 14, 0, WS_EX_NOPARENTNOTIFY, 0x50030000},
      {kButton, Id(kStrShowAtStartup), KV_TIP_SHOW_AT_STARTUP, 8, 140, 103, 10, 0, WS_EX_NOPARENTNOTIFY, 0x50030003},
      {kButton, nullptr, KV_TIP_PANEL, 8, 4, 264, 126, 0, WS_EX_NOPARENTNOTIFY, 0x50030007},
  };
  return controls;
}

KvTipRecord* RecordOf(HWND dialog) { return reinterpret_cast<KvTipRecord*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

void ShowCurrent(HWND dialog, const KvTipRecord* tip) {
  const wchar_t* text = KvGetString(tip->lang, tip->current);
  SetDlgItemTextW(dialog, KV_TIP_PANEL, text ? text : L"");
}

void PaintPanel(HWND panel, HDC target) {
  RECT r;
  GetClientRect(panel, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC dc = CreateCompatibleDC(target);
  HBITMAP buffer = CreateCompatibleBitmap(target, w, h);
  if (!dc || !buffer) {
    if (dc) DeleteDC(dc);
    if (buffer) DeleteObject(buffer);
    return;
  }
  HGDIOBJ oldBitmap = SelectObject(dc, buffer);
  const int column = w / 8, band = h / 4;

  FillRect(dc, &r, KvGetUIBrush(COLOR_WINDOW));
  RECT left = {0, 0, column, h};
  FillRect(dc, &left, KvGetUIBrush(COLOR_INACTIVECAPTION));
  HGDIOBJ oldPen = SelectObject(dc, KvGetUIPenWithStyle(COLOR_INACTIVECAPTION, 0));
  MoveToEx(dc, 0, band, nullptr);
  LineTo(dc, w, band);
  SelectObject(dc, KvGetUIPenWithStyle(COLOR_BTNSHADOW, 0));
  MoveToEx(dc, 0, h - 1, nullptr);
  LineTo(dc, 0, 0);
  LineTo(dc, w - 1, 0);
  SelectObject(dc, KvGetUIPenWithStyle(COLOR_BTNHIGHLIGHT, 0));
  LineTo(dc, w - 1, h - 1);
  LineTo(dc, -1, h - 1);
  SelectObject(dc, oldPen);

  HWND dialog = GetParent(panel);
  KvTipRecord* tip = dialog ? RecordOf(dialog) : nullptr;
  if (tip && tip->panelBitmap) {
    BITMAP info;
    if (GetObjectW(tip->panelBitmap, sizeof info, &info)) {
      HDC src = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(src, tip->panelBitmap);
      KvBitmapColorTranslate(src, &info, GetSysColor(COLOR_INACTIVECAPTION));
      BitBlt(dc, (column - info.bmWidth) / 2, 16, info.bmWidth, info.bmHeight, src, 0, 0, SRCCOPY);
      SelectObject(src, old);
      DeleteDC(src);
    }
  }

  HGDIOBJ oldFont = SelectObject(dc, KvGetUIFont(KV_UIFONT_MEDIUM_BOLD));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  SetBkMode(dc, OPAQUE);
  const wchar_t* heading = KvGetString(KvLang_GetLibraryHandle(), kStrDidYouKnow);
  RECT head = {column + 8, 1, w - 1, band};
  if (heading) DrawTextW(dc, heading, -1, &head, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);

  wchar_t text[kMaxTip + 1] = {};
  GetWindowTextW(panel, text, kMaxTip + 1);
  SelectObject(dc, KvGetUIFont(KV_UIFONT_MEDIUM));
  SetBkMode(dc, TRANSPARENT);
  RECT body = {column + 8, (band - 2) + 11, w - 9, h - 1};
  DrawTextW(dc, text, -1, &body, DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  SelectObject(dc, oldFont);

  BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteObject(buffer);
  DeleteDC(dc);
}

LRESULT CALLBACK PanelProc(HWND panel, UINT msg, WPARAM wp, LPARAM lp) {
  auto old = reinterpret_cast<WNDPROC>(GetPropW(panel, kOldProcProperty));
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(panel, &ps);
      PaintPanel(panel, dc);
      EndPaint(panel, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      LRESULT result = CallWindowProcW(old, panel, msg, wp, lp);
      InvalidateRect(panel, nullptr, FALSE);
      return result;
    }
    case WM_DESTROY:
      SetWindowLongPtrW(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      RemovePropW(panel, kOldProcProperty);
      return CallWindowProcW(old, panel, msg, wp, lp);
    default:
      return CallWindowProcW(old, panel, msg, wp, lp);
  }
}

INT_PTR CALLBACK TipProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* tip = reinterpret_cast<KvTipRecord*>(lp);
      SetWindowLongPtrW(dialog, DWLP_USER, lp);
      KvWndCenter(dialog, nullptr, nullptr, KV_CENTER_OVER_PARENT | KV_CENTER_UPPER_THIRD);
      CheckDlgButton(dialog, KV_TIP_SHOW_AT_STARTUP, tip->showAtStartup ? BST_CHECKED : BST_UNCHECKED);
      if (HWND panel = GetDlgItem(dialog, KV_TIP_PANEL)) {
        SetPropW(panel, kOldProcProperty, reinterpret_cast<HANDLE>(GetWindowLongPtrW(panel, GWLP_WNDPROC)));
        SetWindowLongPtrW(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PanelProc));
      }
      HMODULE library = KvKernel_GetModule();
      tip->panelBitmap =
          library ? static_cast<HBITMAP>(LoadImageW(library, MAKEINTRESOURCEW(kPanelBitmap), IMAGE_BITMAP, 0, 0, 0))
                  : nullptr;
      if (tip->current > tip->last) tip->current = tip->first;
      ShowCurrent(dialog, tip);
      return TRUE;
    }
    case WM_COMMAND: {
      KvTipRecord* tip = RecordOf(dialog);
      switch (LOWORD(wp)) {
        case KV_TIP_NEXT:
          tip->current = tip->current >= tip->last ? tip->first : tip->current + 1;
          ShowCurrent(dialog, tip);
          return TRUE;
        case KV_TIP_SHOW_AT_STARTUP:
          tip->showAtStartup = IsDlgButtonChecked(dialog, KV_TIP_SHOW_AT_STARTUP) == BST_CHECKED;
          return TRUE;
        case KV_TIP_CLOSE:
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wp));
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_DESTROY: {
      KvTipRecord* tip = RecordOf(dialog);
      if (tip && tip->panelBitmap) {
        DeleteObject(tip->panelBitmap);
        tip->panelBitmap = nullptr;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

extern "C" BOOL KVAPI KvTipOfDay(HWND parent, KvTipRecord* tip, BOOL force) {
  if (!tip || (!force && !tip->showAtStartup)) return FALSE;
  if (tip->current < tip->first) tip->current = tip->first;
  const DLGTEMPLATE* t = KvCreateDialogTemplate(KvLang_GetLibraryHandle(), &Header(), Controls());
  if (!t) return FALSE;
  HINSTANCE module = parent ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)) : nullptr;
  if (!module) module = KvKernel_GetModule();
  {
    KvUI_ActivationScope scope;
    DialogBoxIndirectParamW(module, t, parent, TipProc, reinterpret_cast<LPARAM>(tip));
  }
  HGLOBAL block = GlobalHandle(t);
  GlobalUnlock(block);
  GlobalFree(block);
  tip->current = tip->current >= tip->last ? tip->first : tip->current + 1;
  return TRUE;
}
