// Message boxes on a display (run under xvfb-run): the custom box built in
// memory, checked by enumerating its controls (ids, texts, default button,
// check box, details pane) and pressed by messages from a second thread; the
// platform box shown when the no-UI hook cannot answer; a dialog size
// predicted from its template against the dialog the system makes of it.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kvlang.h"
#include <commctrl.h>

#include "kvhelp.h"
#include "kvmsgbox.h"
#include "kvres.h"

namespace {

const wchar_t kApp[] = L"Box Test Host";

struct Library {
  Library() {
    HMODULE dll = LoadLibraryW(L"vogaac2.dll");
    EXPECT_NE(dll, nullptr);
    EXPECT_EQ(KvLang_Open(&h, dll, 1033, 0), S_OK);
    KvLang_SetLibraryHandle(h);
    KvMsgBoxSetAppData(GetModuleHandleW(nullptr), nullptr, kApp);
  }
  ~Library() {
    KvLang_SetLibraryHandle(nullptr);
    KvLang_Close(h);
  }
  HKVLANG h = nullptr;
};

HWND WaitForBox(const wchar_t* caption) {
  for (int i = 0; i < 500; ++i) {
    HWND w = FindWindowW(L"#32770", caption);
    if (w && IsWindowVisible(w)) return w;
    Sleep(20);
  }
  return nullptr;
}

struct Control {
  HWND hwnd;
  std::wstring cls, text;
  LONG style;
  bool visible;
};

std::map<int, Control> Controls(HWND dlg) {
  std::map<int, Control> out;
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64] = {}, text[512] = {};
    GetClassNameW(c, cls, 64);
    GetWindowTextW(c, text, 512);
    out[GetDlgCtrlID(c)] = {c, cls, text, GetWindowLongW(c, GWL_STYLE), IsWindowVisible(c) != FALSE};
  }
  return out;
}

int WindowHeight(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return r.bottom - r.top;
}

void Press(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

TEST(KvMsgBoxCustomUI, ControlsDefaultButtonDetailsAndCheckBox) {
  Library lib;
  std::atomic<bool> checked{false};
  std::map<int, Control> seen;
  int collapsed = 0, expanded = 0, collapsedAgain = 0;
  std::wstring expandedLabel, collapsedLabel;
  bool paneShown = false;
  LRESULT defId = 0;
  std::thread driver([&] {
    HWND dlg = WaitForBox(kApp);
    if (!dlg) return;
    seen = Controls(dlg);
    defId = SendMessageW(dlg, DM_GETDEFID, 0, 0);
    collapsed = WindowHeight(dlg);
    SendMessageW(seen[KVID_MSGBOX_CHECK].hwnd, BM_CLICK, 0, 0);
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(KVID_MSGBOX_DETAILS_BUTTON, BN_CLICKED), 0);
    expanded = WindowHeight(dlg);
    paneShown = IsWindowVisible(GetDlgItem(dlg, KVID_MSGBOX_DETAILS_PANE)) != FALSE;
    wchar_t label[64] = {};
    GetDlgItemTextW(dlg, KVID_MSGBOX_DETAILS_BUTTON, label, 64);
    expandedLabel = label;
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(KVID_MSGBOX_DETAILS_BUTTON, BN_CLICKED), 0);
    collapsedAgain = WindowHeight(dlg);
    GetDlgItemTextW(dlg, KVID_MSGBOX_DETAILS_BUTTON, label, 64);
    collapsedLabel = label;
    checked = true;
    Press(dlg, KVID_NOTOALL);
  });
  int state = 0;
  // Set 13 with default index 7: clamped to the last button, Cancel.
  int answer = KvMsgBox_CustomEx(nullptr, 13 | 0x700 | 0x30 | KVMB_CHECKBOX | KVMB_DETAILS, L"first\r\nsecond",
                                 nullptr, &state, L"Replace %d files?\nThe second line.", 12);
  driver.join();
  ASSERT_TRUE(checked.load()) << "the box did not appear";
  EXPECT_EQ(answer, KVID_NOTOALL);
  EXPECT_EQ(state, 1);

  const std::vector<std::pair<int, std::wstring>> buttons = {
      {IDYES, L"&Yes"}, {KVID_YESTOALL, L"Yes to &All"}, {IDNO, L"&No"}, {KVID_NOTOALL, L"N&o to All"},
      {IDCANCEL, L"Cancel"}, {KVID_MSGBOX_DETAILS_BUTTON, L"&Details >>"}};
  for (const auto& b : buttons) {
    ASSERT_TRUE(seen.count(b.first)) << b.first;
    const Control& c = seen[b.first];
    EXPECT_EQ(c.cls, L"Button");
    EXPECT_EQ(c.text, b.second);
    EXPECT_TRUE(c.visible);
    EXPECT_EQ((c.style & 0xF) == BS_DEFPUSHBUTTON, b.first == IDCANCEL) << b.first;
  }
  EXPECT_EQ(LOWORD(defId), IDCANCEL);
  EXPECT_EQ(HIWORD(defId), DC_HASDEFID);
  EXPECT_EQ(seen[KVID_MSGBOX_TEXT].text, L"Replace 12 files?\nThe second line.");
  EXPECT_TRUE(seen[KVID_MSGBOX_ICON].visible);
  EXPECT_EQ(seen[KVID_MSGBOX_CHECK].text, L"Do no&t show this message again.");
  EXPECT_EQ(seen[KVID_MSGBOX_CHECK].style & 0xF, BS_AUTOCHECKBOX);
  EXPECT_FALSE(seen[KVID_MSGBOX_BUTTON].visible);
  ASSERT_TRUE(seen.count(KVID_MSGBOX_DETAILS_PANE));
  EXPECT_EQ(seen[KVID_MSGBOX_DETAILS_PANE].cls, L"Edit");
  EXPECT_EQ(seen[KVID_MSGBOX_DETAILS_PANE].text, L"first\r\nsecond");
  EXPECT_FALSE(seen[KVID_MSGBOX_DETAILS_PANE].visible);  // opens collapsed
  EXPECT_TRUE(seen[KVID_MSGBOX_DETAILS_PANE].style & ES_READONLY);
  EXPECT_GT(expanded, collapsed);
  EXPECT_TRUE(paneShown);
  EXPECT_EQ(expandedLabel, L"No &Details");
  EXPECT_EQ(collapsedAgain, collapsed);
  EXPECT_EQ(collapsedLabel, L"&Details >>");
  EXPECT_GE(expanded - collapsed, GetSystemMetrics(SM_CYSCREEN) / 4);
}

TEST(KvMsgBoxCustomUI, EscapeRulesPerButtonSet) {
  Library lib;
  struct Case {
    DWORD flags;
    int press;  // after an Escape (IDCANCEL) that may be ignored
    int answer;
    bool closeGreyed;
  } cases[] = {
      {0, 0, IDOK, false},                        // OK only: Escape ends with 1
      {KVMB_ABORTRETRYIGNORE, IDRETRY, IDRETRY, true},  // Close disabled: Escape ignored
      {KVMB_YESNO, IDNO, IDNO, true},
      {KVMB_YESNOCANCEL, 0, IDCANCEL, false},
      {KVMB_YESNODELETE | 0x200, KVID_DELETE, KVID_DELETE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    bool stillThere = false;
    UINT closeState = 0;
    int buttons = 0;
    std::thread driver([&] {
      HWND dlg = WaitForBox(kApp);
      if (!dlg) return;
      for (auto& kv : Controls(dlg))
        if (kv.second.cls == L"Button" && kv.second.visible) ++buttons;
      closeState = GetMenuState(GetSystemMenu(dlg, FALSE), SC_CLOSE, MF_BYCOMMAND);
      SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      Sleep(100);
      stillThere = IsWindow(dlg) && IsWindowVisible(dlg);
      if (c.press) Press(dlg, c.press);
    });
    int answer = KvMsgBox_Custom(nullptr, c.flags, nullptr, L"Question");
    driver.join();
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(stillThere, c.press != 0);
    EXPECT_EQ((closeState & MF_GRAYED) != 0, c.closeGreyed);
    EXPECT_GT(buttons, 0);
  }
}

std::vector<std::wstring> g_texts;
void __stdcall Collect(const wchar_t* text) { g_texts.push_back(text); }

TEST(KvMsgBoxNoUIHookUI, DefaultBeyondTheSetShowsTheCentredPlatformBox) {
  Library lib;
  ASSERT_TRUE(KvMsgBoxSetNoUIHook(Collect));
  RECT box = {};
  std::thread driver([&] {
    HWND dlg = WaitForBox(L"Platform");
    if (!dlg) return;
    Sleep(50);
    GetWindowRect(dlg, &box);
    Press(dlg, IDCANCEL);
  });
  g_texts.clear();
  int answer = KvMessageBox(nullptr, L"needs a person", L"Platform", MB_OKCANCEL | MB_DEFBUTTON3);
  driver.join();
  EXPECT_EQ(answer, IDCANCEL);
  ASSERT_EQ(g_texts.size(), 2u);
  EXPECT_EQ(g_texts[0], L"needs a person");
  EXPECT_EQ(g_texts[1], L"Invalid Message Box parameter...User intervention is needed!!!!");
  // Centred over the screen's work area (no owner).
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((box.left + box.right) / 2, (work.left + work.right) / 2, 2);
  EXPECT_NEAR((box.top + box.bottom) / 2, (work.top + work.bottom) / 2, 2);
  KvMsgBoxSetNoUIHook(nullptr);
}

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A dialog the system made from a template has the client size computed for
// that template; the dialog is destroyed.
void ExpectClientSizeAndDestroy(HWND dialog, SIZE size) {
  ASSERT_NE(dialog, nullptr);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right - client.left, size.cx);
  EXPECT_EQ(client.bottom - client.top, size.cy);
  DestroyWindow(dialog);
}

TEST(KvResDialogUI, SizeFromTheTemplate) {
  // A plain template with DS_SETFONT: 100 x 50 dialog units in 8-point "MS Shell Dlg".
  std::vector<WORD> t = {LOWORD(WS_POPUP | DS_SETFONT), HIWORD(WS_POPUP | DS_SETFONT), 0, 0, 0, 0, 0, 100, 50,
                         0, 0, 0, 8};
  for (const wchar_t* p = L"MS Shell Dlg"; ; ++p) {
    t.push_back(*p);
    if (!*p) break;
  }
  SIZE units = {0, 0};
  ASSERT_TRUE(KvGetDialogUnitsForFont(L"MS Shell Dlg", 8, 400, 1, 0, &units));
  SIZE size = {0, 0};
  ASSERT_TRUE(KvGetDialogSizeIndirect(nullptr, t.data(), &size));
  EXPECT_EQ(size.cx, MulDiv(100, units.cx, 4));
  EXPECT_EQ(size.cy, MulDiv(50, units.cy, 8));
  EXPECT_GT(size.cx, 100);
  // The same template made into a dialog by the system has that client size.
  HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                           nullptr, QuietProc, 0);
  ExpectClientSizeAndDestroy(dialog, size);
}

TEST(KvResDialogUI, SizeOfAnExtendedDialogResource) {
  HKVLANG lang = nullptr;
  ASSERT_EQ(KvLang_Open(&lang, GetModuleHandleW(nullptr), 1033, 0), S_OK);
  SIZE size = {0, 0};
  ASSERT_TRUE(KvGetDialogSize(lang, 600, nullptr, 0, &size));
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(600), nullptr, QuietProc, 0);
  ExpectClientSizeAndDestroy(dialog, size);
  EXPECT_FALSE(KvGetDialogSize(lang, 601, nullptr, 0, &size));
  KvLang_Close(lang);
}

TEST(KvHelpUI, ToolbarHitTestAndMissingHelpFile) {
  InitCommonControls();
  HWND frame = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200, nullptr,
                               nullptr, nullptr, nullptr);
  HWND bar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT, 0, 0, 0, 0, frame,
                             nullptr, nullptr, nullptr);
  ASSERT_NE(bar, nullptr);
  SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  TBBUTTON buttons[3] = {};
  buttons[0] = {I_IMAGENONE, 4001, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(L"One")};
  buttons[1] = {I_IMAGENONE, 0, TBSTATE_ENABLED, BTNS_SEP, {}, 0, 0};
  buttons[2] = {I_IMAGENONE, 4002, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(L"Two")};
  SendMessageW(bar, TB_ADDBUTTONS, 3, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(bar, TB_AUTOSIZE, 0, 0);
  RECT r;
  SendMessageW(bar, TB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&r));
  POINT pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(bar, &pt);
  HELPINFO info = {};
  info.cbSize = sizeof(info);
  info.MousePos = pt;
  EXPECT_TRUE(KvHelp_HitTestToolbar(bar, &info));
  EXPECT_EQ(info.iCtrlId, 4002);
  SendMessageW(bar, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));  // the separator: command 0
  pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(bar, &pt);
  info.MousePos = pt;
  info.iCtrlId = 77;
  EXPECT_FALSE(KvHelp_HitTestToolbar(bar, &info));
  EXPECT_EQ(info.iCtrlId, 77);
  info.MousePos = {0, 0};
  EXPECT_FALSE(KvHelp_HitTestToolbar(bar, &info));
  DestroyWindow(frame);
  // HTML Help of a file that does not exist shows nothing.
  EXPECT_FALSE(KvHelp_ContextHelp(1, nullptr, 0, 0, L"Z:\\no\\such\\help.chm"));
}

}  // namespace
