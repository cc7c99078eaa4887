#include "kvmsgbox.h"

#include "kvguard.h"

#include <cstdarg>
#include <string>
#include <vector>

#include "kvstr.h"
#include "kvsysfmt.h"
#include "kvuifont.h"
#include "kvwndplace.h"

namespace {

const int kAppNameChars = 128;
const int kTextChars = 2048;

// The process-wide message-box record.
struct MsgBoxRecord {
  DWORD startupThread;
  HINSTANCE instance;
  HWND appWindow;
  KVMSGBOXHOOK hook;
  void* hookData;
  wchar_t appName[kAppNameChars];
  HHOOK centringHook;
  wchar_t centringCaption[kAppNameChars];
};
MsgBoxRecord g_box = {};

const wchar_t kInvalidParameter[] = L"Invalid Message Box parameter...User intervention is needed!!!!";

// Buttons of a set, in order, and whether the Close command is disabled.
struct ButtonSet {
  int count;
  int ids[5];
  bool closeDisabled;
};

const ButtonSet& SetOf(UINT set) {
  static const ButtonSet kOk = {1, {IDOK}, false};
  static const ButtonSet kSets[] = {
      kOk,
      {2, {IDOK, IDCANCEL}, false},
      {3, {IDABORT, IDRETRY, IDIGNORE}, true},
      {3, {IDYES, IDNO, IDCANCEL}, false},
      {2, {IDYES, IDNO}, true},
      {2, {IDRETRY, IDCANCEL}, false},
      kOk, kOk, kOk, kOk,
      {4, {IDYES, KVID_YESTOALL, IDNO, IDCANCEL}, false},
      {3, {IDYES, IDNO, KVID_DELETE}, true},
      {4, {IDYES, IDNO, KVID_NOTOALL, IDCANCEL}, false},
      {5, {IDYES, KVID_YESTOALL, IDNO, KVID_NOTOALL, IDCANCEL}, false},
  };
  set &= 15;
  return set < sizeof(kSets) / sizeof(kSets[0]) ? kSets[set] : kOk;
}

UINT ButtonStringId(int id) {
  switch (id) {
    case IDOK: return IDS_KV_BTN_OK;
    case IDCANCEL: return IDS_KV_BTN_CANCEL;
    case IDABORT: return IDS_KV_BTN_ABORT;
    case IDRETRY: return IDS_KV_BTN_RETRY;
    case IDIGNORE: return IDS_KV_BTN_IGNORE;
    case IDYES: return IDS_KV_BTN_YES;
    case IDNO: return IDS_KV_BTN_NO;
    case KVID_YESTOALL: return IDS_KV_BTN_YESTOALL;
    case KVID_NOTOALL: return IDS_KV_BTN_NOTOALL;
    case KVID_DELETE: return IDS_KV_BTN_DELETE;
  }
  return IDS_KV_BTN_OK;
}

const wchar_t* LibString(UINT id) { return KvGetString(KvLang_GetLibraryHandle(), id); }

HWND ResolveOwner(HWND owner) {
  if (owner == reinterpret_cast<HWND>(-1)) return nullptr;
  if (!owner && g_box.appWindow && IsWindow(g_box.appWindow)) return GetLastActivePopup(g_box.appWindow);
  return owner;
}

DWORD __stdcall NoUIHook(void* data, HWND, const wchar_t* text, const wchar_t*, UINT type) {
  if (GetCurrentThreadId() != g_box.startupThread) return 0;
  KVMSGBOXNOUICALLBACK callback = reinterpret_cast<KVMSGBOXNOUICALLBACK>(data);
  if (callback) callback(text ? text : L"");
  DWORD answer = KvMsgBox_DefaultAnswer(type);
  if (answer == KV_MSGBOX_NOT_HANDLED && callback) callback(kInvalidParameter);
  return answer;
}

// Centres the platform box: waits on the calling thread for a "#32770" window
// titled with the caption.
LRESULT CALLBACK CentringHook(int code, WPARAM wParam, LPARAM lParam) {
  HHOOK self = g_box.centringHook;
  if (code == HC_ACTION) {
    const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (msg->message == WM_INITDIALOG) {
      wchar_t cls[16] = {}, title[kAppNameChars] = {};
      GetClassNameW(msg->hwnd, cls, 16);
      GetWindowTextW(msg->hwnd, title, kAppNameChars);
      if (lstrcmpW(cls, L"#32770") == 0 && lstrcmpW(title, g_box.centringCaption) == 0) {
        LRESULT r = CallNextHookEx(self, code, wParam, lParam);
        KvWndCenter(msg->hwnd, nullptr, nullptr, 0x8001);
        UnhookWindowsHookEx(self);
        g_box.centringHook = nullptr;
        return r;
      }
    }
  }
  return CallNextHookEx(self, code, wParam, lParam);
}

// ---- The custom box ----

struct CustomBox {
  DWORD flags;
  const wchar_t* text;
  const wchar_t* details;
  const wchar_t* checkText;
  int* checkState;
  const ButtonSet* set;
  int defaultIndex;
  HWND detailsButton;
  HWND pane;
  int paneHeight;
  bool expanded;
  std::vector<HWND> buttons;
};

std::vector<WORD> BuildTemplate() {
  std::vector<WORD> t;
  auto dword = [&](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  auto text = [&](const wchar_t* s) {
    do t.push_back(*s); while (*s++);
  };
  auto align = [&]() {
    if (t.size() & 1) t.push_back(0);
  };
  dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  dword(0);
  t.push_back(3);  // controls
  t.push_back(0);
  t.push_back(0);
  t.push_back(107);
  t.push_back(55);
  t.push_back(0);  // menu
  t.push_back(0);  // class
  t.push_back(0);  // title
  t.push_back(8);
  text(L"MS Sans Serif");
  struct Item {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    WORD cls;
  } items[] = {
      {WS_CHILD | WS_VISIBLE | SS_ICON, 7, 7, 21, 20, KVID_MSGBOX_ICON, 0x0082},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 28, 34, 50, 14, KVID_MSGBOX_BUTTON, 0x0080},
      {WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 36, 7, 64, 20, KVID_MSGBOX_TEXT, 0x0082},
  };
  for (const Item& it : items) {
    align();
    dword(it.style);
    dword(0);
    t.push_back(it.x);
    t.push_back(it.y);
    t.push_back(it.cx);
    t.push_back(it.cy);
    t.push_back(it.id);
    t.push_back(0xFFFF);
    t.push_back(it.cls);
    t.push_back(0);  // title
    t.push_back(0);  // creation data
  }
  return t;
}

SIZE MeasureLines(HFONT font, const wchar_t* text, int* lines) {
  SIZE total = {0, 0};
  int count = 0;
  const wchar_t* p = text ? text : L"";
  for (;;) {
    const wchar_t* end = p;
    while (*end && *end != L'\n') ++end;
    int n = static_cast<int>(end - p);
    if (n > 0 && p[n - 1] == L'\r') --n;
    SIZE s = {0, 0};
    if (n > 0) KvGetTextExtent(font, p, n, &s);
    if (s.cx > total.cx) total.cx = s.cx;
    ++count;
    if (!*end) break;
    p = end + 1;
  }
  *lines = count;
  return total;
}

LPCWSTR IconOf(DWORD flags) {
  switch (flags & 0xF0) {
    case 0x10: return IDI_HAND;
    case 0x20: return IDI_QUESTION;
    case 0x30: return IDI_EXCLAMATION;
    case 0x40: return IDI_ASTERISK;
  }
  return nullptr;
}

void SetWindowHeight(HWND dlg, int delta) {
  RECT r;
  GetWindowRect(dlg, &r);
  SetWindowPos(dlg, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + delta,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Layout(HWND dlg, CustomBox* box) {
  HFONT font = KvGetUIFont(KV_UIFONT_DEFAULT);
  const SIZE fs = *KvGetUIFontSize(KV_UIFONT_DEFAULT);
  const int avg = fs.cx > 0 ? fs.cx : 6;
  const int lineH = fs.cy > 0 ? fs.cy : 13;
  const int margin = avg * 2;
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  const bool withDetails = (box->flags & KVMB_DETAILS) == KVMB_DETAILS;
  const bool withCheck = (box->flags & KVMB_CHECKBOX) != 0;

  SetWindowTextW(dlg, g_box.appName);

  // Icon.
  HWND iconWnd = GetDlgItem(dlg, KVID_MSGBOX_ICON);
  int iconW = 0, iconH = 0;
  if (LPCWSTR icon = IconOf(box->flags)) {
    SendMessageW(iconWnd, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, icon)), 0);
    iconW = GetSystemMetrics(SM_CXICON);
    iconH = GetSystemMetrics(SM_CYICON);
  } else {
    ShowWindow(iconWnd, SW_HIDE);
  }

  // Buttons: the placeholder gives the minimum size.
  HWND placeholder = GetDlgItem(dlg, KVID_MSGBOX_BUTTON);
  RECT pr;
  GetWindowRect(placeholder, &pr);
  int buttonW = pr.right - pr.left, buttonH = pr.bottom - pr.top;
  ShowWindow(placeholder, SW_HIDE);
  std::vector<std::pair<int, const wchar_t*>> labels;
  for (int i = 0; i < box->set->count; ++i)
    labels.emplace_back(box->set->ids[i], LibString(ButtonStringId(box->set->ids[i])));
  if (withDetails) labels.emplace_back(KVID_MSGBOX_DETAILS_BUTTON, LibString(IDS_KV_BTN_DETAILS));
  int widest = 0;
  for (auto& l : labels) {
    SIZE s;
    KvGetTextExtent(font, l.second, 0, &s);
    if (s.cx > widest) widest = s.cx;
  }
  if (withDetails) {
    SIZE s;
    KvGetTextExtent(font, LibString(IDS_KV_BTN_NODETAILS), 0, &s);
    if (s.cx > widest) widest = s.cx;
  }
  if (widest + avg > buttonW) buttonW = widest + avg;

  // Text, limited to the screen.
  int lines = 1;
  SIZE textSize = MeasureLines(font, box->text, &lines);
  int textW = textSize.cx;
  int textH = lineH * (lines + 1);
  int maxTextW = screenW - iconW - 4 * margin;
  if (textW > maxTextW) textW = maxTextW;
  int maxTextH = withDetails ? screenH * 3 / 8 : screenH * 3 / 4;
  if (textH > maxTextH) textH = maxTextH;
  HWND textWnd = GetDlgItem(dlg, KVID_MSGBOX_TEXT);
  SendMessageW(textWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SetWindowTextW(textWnd, box->text);

  int contentLeft = margin + (iconW ? iconW + margin : 0);
  int y = margin;
  int clientW = contentLeft + textW + margin;
  int rowW = static_cast<int>(labels.size()) * buttonW + (static_cast<int>(labels.size()) - 1) * (avg);
  if (rowW + 2 * margin > clientW) clientW = rowW + 2 * margin;

  // Check box below the text.
  HWND check = nullptr;
  int checkH = 0, checkW = 0;
  const wchar_t* checkText = box->checkText ? box->checkText : LibString(IDS_KV_CHECK_DONTSHOW);
  if (withCheck) {
    int checkLines = 1;
    SIZE cs = MeasureLines(font, checkText, &checkLines);
    checkW = cs.cx + GetSystemMetrics(SM_CXMENUCHECK) + avg * 2;
    checkH = lineH * checkLines + 4;
    if (contentLeft + checkW + margin > clientW) clientW = contentLeft + checkW + margin;
  }
  if (withDetails && clientW < screenW * 3 / 8) clientW = screenW * 3 / 8;

  int textTop = y;
  if (iconH > textH) textTop = y + (iconH - textH) / 2;
  MoveWindow(iconWnd, margin, y, iconW, iconH, FALSE);
  MoveWindow(textWnd, contentLeft, textTop, textW, textH, FALSE);
  y += (textH > iconH ? textH : iconH) + margin / 2;
  if (withCheck) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX | (checkH > lineH + 4 ? BS_MULTILINE : 0);
    check = CreateWindowExW(0, L"BUTTON", checkText, style, contentLeft, y, checkW, checkH, dlg,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(KVID_MSGBOX_CHECK)), nullptr, nullptr);
    SendMessageW(check, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (box->checkState) SendMessageW(check, BM_SETCHECK, *box->checkState ? BST_CHECKED : BST_UNCHECKED, 0);
    y += checkH + margin / 2;
  }

  // The button row: right-aligned with a check box, else centred.
  int x = withCheck ? clientW - margin - rowW : (clientW - rowW) / 2;
  int def = box->defaultIndex;
  if (def >= box->set->count) def = box->set->count - 1;
  HWND defaultButton = nullptr;
  for (size_t i = 0; i < labels.size(); ++i) {
    bool isDefault = static_cast<int>(i) == def;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND b = CreateWindowExW(0, L"BUTTON", labels[i].second, style, x, y, buttonW, buttonH, dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(labels[i].first)), nullptr, nullptr);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (labels[i].first == KVID_MSGBOX_DETAILS_BUTTON)
      box->detailsButton = b;
    else
      box->buttons.push_back(b);
    if (isDefault) defaultButton = b;
    x += buttonW + avg;
  }
  y += buttonH + margin;
  if (defaultButton) SendMessageW(dlg, DM_SETDEFID, GetDlgCtrlID(defaultButton), 0);

  // Details pane, below the buttons; the box opens collapsed.
  if (withDetails) {
    int paneLines = 1;
    MeasureLines(font, box->details, &paneLines);
    int h = lineH * (paneLines + 1);
    if (h < screenH / 4) h = screenH / 4;
    if (h > screenH * 3 / 8) h = screenH * 3 / 8;
    box->paneHeight = h + margin;
    std::wstring details;
    for (const wchar_t* p = box->details; *p; ++p) {
      if (*p == L'\n' && (p == box->details || p[-1] != L'\r')) details += L'\r';
      details += *p;
    }
    box->pane = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", details.c_str(),
                                WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, margin, y,
                                clientW - 2 * margin, h, dlg,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(KVID_MSGBOX_DETAILS_PANE)), nullptr,
                                nullptr);
    SendMessageW(box->pane, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }

  RECT want = {0, 0, clientW, y};
  AdjustWindowRectEx(&want, GetWindowLongW(dlg, GWL_STYLE), FALSE, GetWindowLongW(dlg, GWL_EXSTYLE));
  SetWindowPos(dlg, nullptr, 0, 0, want.right - want.left, want.bottom - want.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (box->set->closeDisabled)
    EnableMenuItem(GetSystemMenu(dlg, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  KvWndCenter(dlg, nullptr, nullptr, 0x8001);
  if (defaultButton) SetFocus(defaultButton);
}

void StoreCheck(HWND dlg, CustomBox* box) {
  if ((box->flags & KVMB_CHECKBOX) && box->checkState)
    *box->checkState = IsDlgButtonChecked(dlg, KVID_MSGBOX_CHECK) == BST_CHECKED ? 1 : 0;
}

INT_PTR CALLBACK CustomProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  CustomBox* box = reinterpret_cast<CustomBox*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dlg, DWLP_USER, lParam);
      Layout(dlg, reinterpret_cast<CustomBox*>(lParam));
      return FALSE;
    case WM_COMMAND: {
      if (!box) break;
      int id = LOWORD(wParam);
      switch (id) {
        case IDOK: case IDABORT: case IDRETRY: case IDIGNORE: case IDYES: case IDNO:
        case KVID_YESTOALL: case KVID_DELETE: case KVID_NOTOALL:
          StoreCheck(dlg, box);
          EndDialog(dlg, id);
          return TRUE;
        case IDCANCEL:
          if (box->set->count == 1 && box->set->ids[0] == IDOK) {
            EndDialog(dlg, IDOK);
          } else if (!box->set->closeDisabled) {
            StoreCheck(dlg, box);
            EndDialog(dlg, IDCANCEL);
          }
          return TRUE;
        case KVID_MSGBOX_DETAILS_BUTTON:
          if (!box->pane) return TRUE;
          box->expanded = !box->expanded;
          SetWindowHeight(dlg, box->expanded ? box->paneHeight : -box->paneHeight);
          ShowWindow(box->pane, box->expanded ? SW_SHOW : SW_HIDE);
          SetWindowTextW(box->detailsButton, LibString(box->expanded ? IDS_KV_BTN_NODETAILS : IDS_KV_BTN_DETAILS));
          return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

int FormatText(wchar_t* out, const wchar_t* format, va_list args) {
  if (!format) {
    out[0] = 0;
    return 0;
  }
  if (KvSysHasFormatCodes(format)) return KvSysVFormat(out, kTextChars, format, args);
  return KvStrCpyNLen(out, format, kTextChars);
}

int CustomBoxBody(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* checkText, int* checkState,
                  bool ex, const wchar_t* format, va_list args) {
  if ((flags & KVMB_DETAILS) && !details) return 0;
  if (ex && (flags & KVMB_CHECKBOX) && !checkState) return 0;
  owner = ResolveOwner(owner);
  std::vector<wchar_t> text(kTextChars);
  FormatText(text.data(), format, args);
  if (g_box.hook) {
    std::wstring hookText = text.data();
    if (flags & KVMB_DETAILS) {
      hookText += L"\r\n<Details>\r\n";
      hookText += details;
      hookText += L"\r\n</Details>";
    }
    DWORD answer = g_box.hook(g_box.hookData, owner, hookText.c_str(), g_box.appName, flags);
    if (answer != KV_MSGBOX_NOT_HANDLED) return static_cast<int>(answer);
  }
  CustomBox box = {};
  box.flags = ex ? flags : flags & ~static_cast<DWORD>(KVMB_CHECKBOX);
  box.text = text.data();
  box.details = (flags & KVMB_DETAILS) == KVMB_DETAILS ? details : nullptr;
  if (!box.details) box.flags &= ~KVMB_DETAILS;
  box.checkText = checkText;
  box.checkState = checkState;
  box.set = &SetOf(flags & 15);
  box.defaultIndex = (flags >> 8) & 15;
  std::vector<WORD> tmpl = BuildTemplate();
  HINSTANCE instance = g_box.instance ? g_box.instance : GetModuleHandleW(nullptr);
  INT_PTR r = DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), owner, CustomProc,
                                      reinterpret_cast<LPARAM>(&box));
  return r < 0 ? 0 : static_cast<int>(r);
}

int CustomBoxV(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* checkText, int* checkState, bool ex,
               const wchar_t* format, va_list args) {
  return KvGuard<int>(0, [&]() -> int {
    return CustomBoxBody(owner, flags, details, checkText, checkState, ex, format, args);
  });
}

}  // namespace

DWORD KvMsgBox_DefaultAnswer(UINT type) {
  const ButtonSet& set = SetOf(type & 15);
  UINT d = (type >> 8) & 15;
  if (static_cast<int>(d) >= set.count) return KV_MSGBOX_NOT_HANDLED;
  return static_cast<DWORD>(set.ids[d]);
}

const wchar_t* KvMsgBox_GetAppName() { return g_box.appName; }

extern "C" BOOL KVAPI KvMsgBoxSetAppData(HINSTANCE instance, HWND appWindow, const wchar_t* appName) {
  if (g_box.centringHook) UnhookWindowsHookEx(g_box.centringHook);
  g_box = MsgBoxRecord();
  g_box.startupThread = GetCurrentThreadId();
  g_box.instance = instance;
  g_box.appWindow = appWindow;
  // At most 127 characters of the name are kept.
  KvStrCpyN(g_box.appName, appName ? appName : L"", kAppNameChars);
  return 1;
}

extern "C" BOOL KVAPI KvMsgBoxSetHook(KVMSGBOXHOOK hook, void* data) {
  if (!g_box.startupThread || GetCurrentThreadId() != g_box.startupThread) return FALSE;
  g_box.hook = hook;
  g_box.hookData = data;
  return TRUE;
}

extern "C" BOOL KVAPI KvMsgBoxSetNoUIHook(KVMSGBOXNOUICALLBACK callback) {
  if (!g_box.startupThread || GetCurrentThreadId() != g_box.startupThread) return FALSE;
  if (callback) {
    g_box.hook = NoUIHook;
    g_box.hookData = reinterpret_cast<void*>(callback);
  } else if (g_box.hook == NoUIHook) {
    g_box.hook = nullptr;
    g_box.hookData = nullptr;
  }
  return TRUE;
}

extern "C" int KVAPI KvMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  owner = ResolveOwner(owner);
  if (g_box.hook) {
    DWORD answer = g_box.hook(g_box.hookData, owner, text, caption, type);
    if (answer != KV_MSGBOX_NOT_HANDLED) return static_cast<int>(answer);
  }
  if (!caption) caption = g_box.appName;
  bool ownHook = false;
  if (type != 0x1010 && !g_box.centringHook) {
    KvStrCpyN(g_box.centringCaption, caption, kAppNameChars);
    g_box.centringHook = SetWindowsHookExW(WH_CALLWNDPROC, CentringHook, nullptr, GetCurrentThreadId());
    ownHook = g_box.centringHook != nullptr;
  }
  int answer = MessageBoxW(owner, text ? text : L"", caption, type);
  if (ownHook && g_box.centringHook) {
    UnhookWindowsHookEx(g_box.centringHook);
    g_box.centringHook = nullptr;
  }
  return answer;
}

extern "C" int __cdecl KvMsgBox(HWND owner, UINT type, const wchar_t* format, ...) {
  wchar_t text[kTextChars];
  va_list args;
  va_start(args, format);
  FormatText(text, format, args);
  va_end(args);
  return KvMessageBox(owner, text, nullptr, type);
}

extern "C" int __cdecl KvMsgBoxId(HKVLANG lang, HWND owner, UINT type, UINT stringId, ...) {
  wchar_t text[kTextChars];
  va_list args;
  va_start(args, stringId);
  FormatText(text, KvGetString(lang, stringId), args);
  va_end(args);
  return KvMessageBox(owner, text, nullptr, type);
}

extern "C" int __cdecl KvMsgBox_Custom(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int r = CustomBoxV(owner, flags, details, nullptr, nullptr, false, format, args);
  va_end(args);
  return r;
}

extern "C" int __cdecl KvMsgBox_CustomEx(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* checkText,
                                         int* checkState, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int r = CustomBoxV(owner, flags, details, checkText, checkState, true, format, args);
  va_end(args);
  return r;
}
