// Small user-facing services, on a display (run under xvfb-run): the tip of
// the day driven from a second thread (texts, Next, the check box, Close, the
// painted panel read back from the screen); mail through a stand-in of the
// simple mail interface that records the message; web pages and sounds
// through recording stand-ins; version strings against a windres-built
// version resource.
#include <gtest/gtest.h>

#include <windows.h>
#include <mapi.h>
#include <mmsystem.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kvkernel.h"
#include "kvlang.h"
#include "kvui.h"

namespace {

struct StandInRecord {
  int calls;
  ULONG_PTR owner;
  ULONG flags;
  BOOL ownerEnabled;
  BOOL ownerCaptures;
  char subject[512];
  ULONG recipients;
  ULONG recipientClass;
  char recipientName[512];
  char recipientAddress[512];
  ULONG files;
  ULONG position;
  char path[512];
  char fileName[512];
};

HKVLANG g_lang = nullptr;

class Services : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KvUI_InstallKernelHooks();
    KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr);
    KvLang_Open(&g_lang, GetModuleHandleW(nullptr), 1033, 0);
  }
  static void TearDownTestSuite() { KvLang_Close(g_lang); }
};

// The mail stand-in, kept loaded by the test so that its record survives the
// library's unloading it after each call.
struct MailStandIn {
  MailStandIn() {
    module = LoadLibraryW(L"kvui_mapi_standin.dll");
    record = reinterpret_cast<const StandInRecord*(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandIn_Record")));
    reset = reinterpret_cast<void(WINAPI*)(ULONG)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandIn_Reset")));
    KvUI_GetShellServices().mailLibrary = L"kvui_mapi_standin.dll";
  }
  ~MailStandIn() {
    KvUI_GetShellServices().mailLibrary = L"MAPI32.DLL";
    FreeLibrary(module);
  }
  HMODULE module;
  const StandInRecord* (WINAPI* record)();
  void(WINAPI* reset)(ULONG);
};

HWND Owner() {
  return CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 50, 50, 200, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

TEST_F(Services, MailWithAttachmentThroughTheMailInterface) {
  MailStandIn mail;
  ASSERT_NE(mail.module, nullptr);
  ASSERT_NE(mail.record, nullptr);
  HWND owner = Owner();
  struct Case {
    ULONG answer;
    HRESULT want;
  } cases[] = {{0, S_OK}, {1, S_OK}, {3, S_OK}, {2, E_FAIL}, {26, E_FAIL}};
  for (const Case& c : cases) {
    mail.reset(c.answer);
    EXPECT_EQ(Internet_MailFile(owner, L"C:\\takes\\take 1.m4a", L"take 1.m4a", L"A render"), c.want) << c.answer;
    const StandInRecord* r = mail.record();
    EXPECT_EQ(r->calls, 1);
    EXPECT_EQ(r->flags, static_cast<ULONG>(MAPI_LOGON_UI | MAPI_DIALOG));
    EXPECT_EQ(r->owner, reinterpret_cast<ULONG_PTR>(owner));
    EXPECT_FALSE(r->ownerEnabled) << "the owner takes no input during the call";
    EXPECT_TRUE(r->ownerCaptures);
    EXPECT_STREQ(r->subject, "A render");
    EXPECT_EQ(r->recipients, 0u);
    EXPECT_EQ(r->files, 1u);
    EXPECT_EQ(r->position, static_cast<ULONG>(-1));
    EXPECT_STREQ(r->path, "C:\\takes\\take 1.m4a");
    EXPECT_STREQ(r->fileName, "take 1.m4a");
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_NE(GetCapture(), owner);
  }
  DestroyWindow(owner);
}

TEST_F(Services, MailToOneRecipientAndFeedback) {
  MailStandIn mail;
  mail.reset(0);
  std::wstring longSubject(300, L'x');
  EXPECT_EQ(Internet_SendMail(nullptr, longSubject.c_str(), L"Ann Example", L"ann@example.org"), S_OK);
  const StandInRecord* r = mail.record();
  EXPECT_EQ(r->files, 0u);
  EXPECT_EQ(r->recipients, 1u);
  EXPECT_EQ(r->recipientClass, static_cast<ULONG>(MAPI_TO));
  EXPECT_STREQ(r->recipientName, "Ann Example");
  EXPECT_STREQ(r->recipientAddress, "ann@example.org");
  EXPECT_EQ(std::string(r->subject), std::string(255, 'x')) << "at most 255 bytes";

  mail.reset(0);
  EXPECT_EQ(Internet_SendFeedback(nullptr, L"Feedback"), S_OK);
  std::string support;
  for (const wchar_t* p = KvUI_SupportAddress(); *p; ++p) support += static_cast<char>(*p);
  EXPECT_STREQ(r->recipientName, support.c_str());
  EXPECT_STREQ(r->recipientAddress, support.c_str());
  EXPECT_STREQ(r->subject, "Feedback");
}

TEST_F(Services, MailWithoutTheMailLibrary) {
  KvUI_GetShellServices().mailLibrary = L"kvui_no_such_mapi.dll";
  HWND owner = Owner();
  EXPECT_EQ(Internet_MailFile(owner, L"C:\\x.m4a", L"x.m4a", L"s"), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(Internet_SendFeedback(owner, L"s"), static_cast<HRESULT>(0x80004005));
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
  KvUI_GetShellServices().mailLibrary = L"MAPI32.DLL";
}

struct ShellCall {
  HWND window;
  std::wstring verb, file, directory;
  bool noParameters;
  int show;
};
std::vector<ShellCall> g_shellCalls;
HINSTANCE WINAPI RecordShell(HWND w, LPCWSTR verb, LPCWSTR file, LPCWSTR params, LPCWSTR dir, INT show) {
  g_shellCalls.push_back({w, verb ? verb : L"", file ? file : L"", dir ? dir : L"", params == nullptr, show});
  return reinterpret_cast<HINSTANCE>(42);
}

TEST_F(Services, WebPagesOpenWithTheShell) {
  KvUI_ShellServices saved = KvUI_GetShellServices();
  KvUI_GetShellServices().shellExecute = RecordShell;
  g_shellCalls.clear();
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(Internet_BrowseWebPage(nullptr, L"https://example.org/a"), reinterpret_cast<HINSTANCE>(42));
  for (int id = 101; id <= 105; ++id) Internet_BrowseWebPage(nullptr, MAKEINTRESOURCEW(id));
  ASSERT_EQ(g_shellCalls.size(), 6u);
  EXPECT_EQ(g_shellCalls[0].file, L"https://example.org/a");
  for (const ShellCall& c : g_shellCalls) {
    EXPECT_EQ(c.window, GetDesktopWindow());
    EXPECT_EQ(c.verb, L"open");
    EXPECT_TRUE(c.noParameters);
    EXPECT_EQ(c.directory, windows);
    EXPECT_EQ(c.show, SW_SHOWNORMAL);
  }
  for (int id = 101; id <= 105; ++id) {
    EXPECT_EQ(g_shellCalls[id - 100].file, KvUI_WebPageAddress(id));
    EXPECT_EQ(g_shellCalls[id - 100].file.rfind(L"https://", 0), 0u) << id;
  }
  EXPECT_NE(std::wstring(KvUI_WebPageAddress(101)), KvUI_WebPageAddress(102));
  // An unknown page id opens nothing.
  EXPECT_LE(reinterpret_cast<INT_PTR>(Internet_BrowseWebPage(nullptr, MAKEINTRESOURCEW(106))), 32);
  EXPECT_EQ(g_shellCalls.size(), 6u);
  KvUI_GetShellServices() = saved;
}

std::vector<std::pair<std::wstring, UINT>> g_sounds;
BOOL WINAPI RecordSound(LPCWSTR name, UINT flags) {
  g_sounds.push_back({name, flags});
  return static_cast<BOOL>(g_sounds.size());
}

TEST_F(Services, BeepsPlaySoundEvents) {
  KvUI_ShellServices saved = KvUI_GetShellServices();
  KvUI_GetShellServices().playSound = RecordSound;
  g_sounds.clear();
  const struct {
    int kind;
    const wchar_t* event;
  } cases[] = {{1, L"SystemExclamation"}, {2, L"SystemAsterisk"}, {3, L"SystemQuestion"},
               {4, L"Wendmark_DoneProcessing"}, {0, L"SystemDefault"}, {9, L"SystemDefault"},
               {-1, L"SystemDefault"}};
  int n = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(KvBeep(c.kind), ++n) << "the sound call's result comes back";
    EXPECT_EQ(g_sounds.back().first, c.event) << c.kind;
    EXPECT_EQ(g_sounds.back().second, static_cast<UINT>(SND_ASYNC));
  }
  KvUI_GetShellServices() = saved;
}

TEST_F(Services, VersionStrings) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t buf[64];
  const struct {
    const wchar_t* name;
    const wchar_t* want;
  } cases[] = {{L"CompanyName", L"Kv Test Makers"},
               {L"FileDescription", L"UI services test program"},
               {L"FileVersion", L"2.3.4.5"},
               {L"ProductName", L"Kv UI Services"}};
  for (const auto& c : cases) {
    EXPECT_EQ(KvVersion_GetString(self, c.name, buf, 64), S_OK) << c.name;
    EXPECT_STREQ(buf, c.want);
  }
  EXPECT_EQ(KvVersion_GetString(self, L"CompanyName", buf, 5), S_OK);
  EXPECT_STREQ(buf, L"Kv T");
  EXPECT_EQ(KvVersion_GetString(self, L"NoSuchValue", buf, 64), static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(KvVersion_GetString(L"kvui_mapi_standin.dll", L"CompanyName", buf, 64),
            static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(KvVersion_GetString(L"Z:\\no\\such\\file.dll", L"CompanyName", buf, 64),
            static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(KvVersion_GetString(self, L"CompanyName", buf, 0), static_cast<HRESULT>(0x8004E03C));
}

std::wstring Text(HWND w) {
  wchar_t t[1100] = {};
  GetWindowTextW(w, t, 1100);
  return t;
}

HWND WaitForTip() {
  for (int i = 0; i < 500; ++i) {
    HWND w = FindWindowW(L"#32770", L"Tip of the Day");
    if (w && IsWindowVisible(w)) return w;
    Sleep(20);
  }
  return nullptr;
}

TEST_F(Services, TipOfTheDay) {
  KvTipRecord tip = {g_lang, 600, 602, 601, FALSE, nullptr};
  EXPECT_FALSE(KvTipOfDay(nullptr, &tip, FALSE));
  EXPECT_EQ(tip.current, 601u) << "not shown: nothing moves";

  std::vector<std::wstring> panelTexts, buttons;
  std::wstring title;
  COLORREF columnPixel = CLR_INVALID, bodyPixel = CLR_INVALID;
  bool bitmapWhileOpen = false;
  std::thread driver([&] {
    HWND dlg = WaitForTip();
    if (!dlg) return;
    title = Text(dlg);
    for (int id : {1001, 1002, 1003}) buttons.push_back(Text(GetDlgItem(dlg, id)));
    HWND panel = GetDlgItem(dlg, 1004);
    panelTexts.push_back(Text(panel));
    Sleep(300);
    RECT r;
    GetWindowRect(panel, &r);
    HDC screen = GetDC(nullptr);
    columnPixel = GetPixel(screen, r.left + (r.right - r.left) / 16, r.top + (r.bottom - r.top) * 3 / 4);
    bodyPixel = GetPixel(screen, r.right - 4, r.bottom - 4);
    ReleaseDC(nullptr, screen);
    bitmapWhileOpen = tip.panelBitmap != nullptr;
    SendMessageW(GetDlgItem(dlg, 1002), BM_CLICK, 0, 0);
    panelTexts.push_back(Text(panel));
    SendMessageW(GetDlgItem(dlg, 1002), BM_CLICK, 0, 0);
    panelTexts.push_back(Text(panel));
    SendMessageW(GetDlgItem(dlg, 1003), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(dlg, 1001), BM_CLICK, 0, 0);
  });
  HWND parent = Owner();
  EXPECT_TRUE(KvTipOfDay(parent, &tip, TRUE));
  driver.join();
  DestroyWindow(parent);
  EXPECT_EQ(title, L"Tip of the Day");
  EXPECT_EQ(buttons, (std::vector<std::wstring>{L"&Close", L"&Next Tip", L"&Show tips at Startup"}));
  ASSERT_EQ(panelTexts.size(), 3u);
  EXPECT_EQ(panelTexts[0], L"Second tip.");
  EXPECT_EQ(panelTexts[1], L"Third tip, the last.");
  EXPECT_EQ(panelTexts[2], L"First tip: tabs\tare expanded.") << "Next wraps to the first tip";
  EXPECT_TRUE(tip.showAtStartup) << "the check box is stored at once";
  EXPECT_EQ(tip.current, 601u) << "afterwards the next tip is due";
  EXPECT_EQ(tip.panelBitmap, nullptr);
  EXPECT_FALSE(bitmapWhileOpen) << "this program has no library bitmap 2";
  EXPECT_EQ(columnPixel, GetSysColor(COLOR_INACTIVECAPTION));
  EXPECT_EQ(bodyPixel, GetSysColor(COLOR_WINDOW));

  // A current tip beyond the last shows the first; the startup flag alone
  // shows the dialog.
  tip.current = 9999;
  std::wstring shown;
  std::thread closer([&] {
    HWND dlg = WaitForTip();
    if (!dlg) return;
    shown = Text(GetDlgItem(dlg, 1004));
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_TRUE(KvTipOfDay(nullptr, &tip, FALSE));
  closer.join();
  EXPECT_EQ(shown, L"First tip: tabs\tare expanded.");
  EXPECT_EQ(tip.current, 601u);
}

}  // namespace
