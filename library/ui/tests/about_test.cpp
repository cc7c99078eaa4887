// The about box, driven from a second thread: the pages the flags choose, the
// start page and the page remembered, the general page's texts and link, the
// multimedia page's provider; the system information against the system's
// own answers; property labels.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kvkernel.h"
#include "kvui.h"
#include "vog_exports.h"

namespace {

class About : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KvUI_InstallKernelHooks();
    KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr);
  }
};

std::wstring Text(HWND w) {
  std::wstring t(GetWindowTextLengthW(w) + 1, L'\0');
  t.resize(GetWindowTextW(w, &t[0], static_cast<int>(t.size())));
  return t;
}

TEST(AboutLabels, PropertyLabels) {
  wchar_t out[128];
  EXPECT_EQ(KvFormatPropLabel(L"ab", 30, out, 128), 30);
  EXPECT_EQ(std::wstring(out), L"    ab:" + std::wstring(22, L' '));
  EXPECT_EQ(wcslen(out), 29u);
  // A long label is cut so that the colon still fits.
  EXPECT_EQ(KvFormatPropLabel(L"A very long label indeed, longer than the width", 20, out, 128), 20);
  EXPECT_EQ(std::wstring(out), L"    A very long la:");  // 19 characters
  // The buffer limits too, and small sizes never overrun.
  wchar_t small[8];
  for (int i = 0; i < 8; ++i) small[i] = L'#';
  EXPECT_EQ(KvFormatPropLabel(L"label", 30, small, 6), 6);
  EXPECT_EQ(std::wstring(small), L"    :");
  EXPECT_EQ(small[6], L'#');
  EXPECT_EQ(KvFormatPropLabel(L"label", 30, small, 0), 0);
  EXPECT_EQ(small[6], L'#');
}

// The value of a row of the system information.
std::wstring RowValue(const std::wstring& text, const std::wstring& label) {
  std::wstring key = L"    " + label + L":";
  size_t at = text.find(key);
  if (at == std::wstring::npos) return L"<missing>";
  size_t start = at + 29;  // label formatted to 30 characters less its terminator
  size_t end = text.find(L"\r\n", start);
  return text.substr(start, end - start);
}

TEST_F(About, SystemInformationAgreesWithTheSystem) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"old", WS_POPUP | ES_MULTILINE, 0, 0, 400, 400, nullptr, nullptr,
                              nullptr, nullptr);
  KvSysInfo(edit, FALSE, L"Extra line");
  std::wstring t = Text(edit);
  EXPECT_EQ(t.rfind(L"Operating System\r\n", 0), 0u) << "the old text goes";
  wchar_t os[33];
  KvGetOS(os, 33);
  EXPECT_EQ(RowValue(t, L"Platform"), os);
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(RowValue(t, L"Number of processors"), std::to_wstring(si.dwNumberOfProcessors));
  HDC dc = GetDC(nullptr);
  std::wstring screen = std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L"x" +
                        std::to_wstring(GetSystemMetrics(SM_CYSCREEN)) + L"x" +
                        std::to_wstring(GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES));
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(RowValue(t, L"Primary"), screen);
  MEMORYSTATUSEX m = {};
  m.dwLength = sizeof m;
  GlobalMemoryStatusEx(&m);
  unsigned long long tenths = m.ullTotalPhys / 104857;
  EXPECT_EQ(RowValue(t, L"Physical memory"), std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" MB");
  EXPECT_EQ(RowValue(t, L"MMX available"), L"Yes");
  EXPECT_EQ(RowValue(t, L"SSE2 available"), L"Yes");
  EXPECT_NE(t.find(L"\r\nProcessor\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"\r\nMemory\r\n"), std::wstring::npos);
  EXPECT_EQ(t.find(L"Debug"), std::wstring::npos);
  EXPECT_NE(t.find(L"\r\nExtra line"), std::wstring::npos);
  LOGFONTW lf = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_EQ(lf.lfPitchAndFamily & 3, FIXED_PITCH) << "the fixed UI font";

  KvSysInfo(edit, TRUE, nullptr);
  t = Text(edit);
  EXPECT_NE(t.find(L"\r\nDebug\r\n"), std::wstring::npos);
  EXPECT_EQ(RowValue(t, L"Page size"), std::to_wstring(si.dwPageSize / 1024) + L" KB");
  DestroyWindow(edit);
}

using AboutBoxEntry = void(__stdcall*)(HWND, DWORD, const KvAboutRecord*);

// Runs the about box while a second thread looks at it.
void WithAboutBox(const KvAboutRecord& record, DWORD size, const std::function<void(HWND)>& look,
                  bool expectShown = true, AboutBoxEntry entry = KvAboutBox,
                  const wchar_t* caption = L"About Test App") {
  std::atomic<bool> done{false};
  bool shown = false;
  std::thread driver([&] {
    for (int i = 0; i < 300 && !done; ++i) {
      HWND sheet = FindWindowW(nullptr, caption);
      if (sheet && IsWindowVisible(sheet)) {
        shown = true;
        look(sheet);
        PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        return;
      }
      Sleep(20);
    }
  });
  entry(nullptr, size, &record);
  done = true;
  driver.join();
  EXPECT_EQ(shown, expectShown);
}

HWND Tabs(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0)); }
HWND Current(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

std::vector<std::wstring> TabTitles(HWND sheet) {
  std::vector<std::wstring> out;
  HWND tabs = Tabs(sheet);
  int n = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t buf[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = buf;
    item.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    out.push_back(buf);
  }
  return out;
}

std::vector<std::wstring> g_opened;
HINSTANCE WINAPI RecordOpen(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
  g_opened.push_back(file);
  return reinterpret_cast<HINSTANCE>(42);
}

LRESULT CALLBACK LinkProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

KvAboutRecord Record() {
  KvAboutRecord r = {};
  r.appName = L"Test App";
  r.version = L"Version 2.0";
  r.copyright = L"(c) Kv Test Makers";
  r.comments = L"Comments here";
  r.linkText = L"www.example.org";
  r.linkTarget = MAKEINTRESOURCEW(104);
  r.components = L"component A\r\ncomponent B";
  return r;
}

TEST_F(About, DefaultPagesTextsLinkAndTheRememberedPage) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = LinkProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvKrn_Static_Class";
  RegisterClassW(&wc);
  KvUI_ShellServices saved = KvUI_GetShellServices();
  KvUI_GetShellServices().shellExecute = RecordOpen;
  g_opened.clear();

  KvAboutRecord r = Record();
  std::vector<std::wstring> titles;
  std::wstring name, legal, linkClass, linkText, sysinfo, version;
  LONG linkStyle = 0;
  WithAboutBox(r, sizeof r, [&](HWND sheet) {
    titles = TabTitles(sheet);
    HWND page = Current(sheet);
    name = Text(GetDlgItem(page, KVABOUT_ID_NAME));
    version = Text(GetDlgItem(page, KVABOUT_ID_VERSION));
    legal = Text(GetDlgItem(page, KVABOUT_ID_LEGAL));
    HWND link = GetDlgItem(page, KVABOUT_ID_LINK);
    wchar_t cls[64] = {};
    GetClassNameW(link, cls, 64);
    linkClass = cls;
    linkText = Text(link);
    linkStyle = GetWindowLongW(link, GWL_STYLE);
    NMHDR click = {link, KVABOUT_ID_LINK, static_cast<UINT>(-105)};
    SendMessageW(page, WM_NOTIFY, KVABOUT_ID_LINK, reinterpret_cast<LPARAM>(&click));
    SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
    sysinfo = Text(GetDlgItem(Current(sheet), KVABOUT_ID_SYSINFO));
    SendMessageW(sheet, PSM_SETCURSEL, 2, 0);
  });
  EXPECT_EQ(titles, (std::vector<std::wstring>{L"General", L"Computer", L"Performance"}));
  EXPECT_EQ(name, L"Test App");
  EXPECT_EQ(version, L"Version 2.0");
  EXPECT_EQ(legal, std::wstring(KvGetString(KvLang_GetLibraryHandle(), 48274)) + L" " +
                       KvGetString(KvLang_GetLibraryHandle(), 48275));
  EXPECT_EQ(linkClass, L"KvKrn_Static_Class");
  EXPECT_EQ(linkText, L"www.example.org");
  EXPECT_EQ(static_cast<DWORD>(linkStyle), 0x50020050u);
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0], KvUI_WebPageAddress(104));
  EXPECT_EQ(sysinfo.rfind(L"Operating System", 0), 0u);

  // The page last shown opens next time.
  int selected = -1;
  WithAboutBox(r, sizeof r, [&](HWND sheet) {
    selected = static_cast<int>(SendMessageW(Tabs(sheet), TCM_GETCURSEL, 0, 0));
  });
  EXPECT_EQ(selected, 2);
  // A start selector opens its page.
  r.start = 2;
  WithAboutBox(r, sizeof r, [&](HWND sheet) {
    selected = static_cast<int>(SendMessageW(Tabs(sheet), TCM_GETCURSEL, 0, 0));
  });
  EXPECT_EQ(selected, 1);
  KvUI_GetShellServices() = saved;
  UnregisterClassW(L"KvKrn_Static_Class", GetModuleHandleW(nullptr));
}

TEST_F(About, FlagsStartSelectorAndRecordSize) {
  // Start selector 2 names the computer page, which flags 1 leave out.
  KvAboutRecord r = Record();
  r.flags = KVABOUT_GENERAL;
  r.start = 2;
  WithAboutBox(r, sizeof r, [](HWND) {}, false);

  // Pages without resources (the notice pages here) are left out.
  r.start = 0;
  r.flags = KVABOUT_GENERAL | 0x0008 | KVABOUT_SKIN | KVABOUT_COMPONENTS;
  r.skinTitle = L"Skin title";
  std::vector<std::wstring> titles;
  std::wstring components, skin;
  WithAboutBox(r, sizeof r, [&](HWND sheet) {
    titles = TabTitles(sheet);
    SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
    skin = Text(GetDlgItem(Current(sheet), KVABOUT_ID_SKIN_TITLE));
    SendMessageW(sheet, PSM_SETCURSEL, 2, 0);
    components = Text(GetDlgItem(Current(sheet), KVABOUT_ID_COMPONENTS));
  });
  EXPECT_EQ(titles, (std::vector<std::wstring>{L"General", L"Skin", L"Components"}));
  EXPECT_EQ(skin, L"Skin title");
  EXPECT_EQ(components, L"component A\r\ncomponent B");

  // A 200-byte record: only its first 104 bytes are read.
  std::vector<BYTE> big(200, 0xEE);
  KvAboutRecord small = Record();
  small.flags = KVABOUT_GENERAL;
  std::memcpy(big.data(), &small, sizeof small);
  WithAboutBox(*reinterpret_cast<KvAboutRecord*>(big.data()), 200,
               [&](HWND sheet) { titles = TabTitles(sheet); });
  EXPECT_EQ(titles.size(), 1u);
  // A short record reads as zeros beyond its size: flags 0 give the defaults.
  WithAboutBox(small, 60, [&](HWND sheet) { titles = TabTitles(sheet); });
  EXPECT_EQ(titles.size(), 3u);
}

struct Devices : KvAboutDeviceInfo {
  HRESULT __stdcall Attach(HWND page) override {
    attached = page;
    return S_OK;
  }
  HRESULT __stdcall Refresh(DWORD) override {
    ++refreshed;
    return S_OK;
  }
  HRESULT __stdcall GetText(wchar_t** text, DWORD* length) override {
    *text = const_cast<wchar_t*>(L"Device one\r\nDevice two");
    *length = 22;
    return S_OK;
  }
  HWND attached = nullptr;
  int refreshed = 0;
};

TEST_F(About, MultimediaDevicesFromTheProvider) {
  Devices devices;
  KvAboutRecord r = Record();
  r.flags = KVABOUT_MULTIMEDIA;
  r.devices = &devices;
  std::wstring text;
  HWND page = nullptr;
  WithAboutBox(r, sizeof r, [&](HWND sheet) {
    page = Current(sheet);
    text = Text(GetDlgItem(page, KVABOUT_ID_MULTIMEDIA));
  });
  EXPECT_EQ(devices.attached, page);
  EXPECT_GE(devices.refreshed, 1);
  EXPECT_EQ(text, L"Device one\r\nDevice two");
}

// The DLL carries the pages and texts in its own resources.
TEST_F(About, ThroughTheDll) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  auto entry = reinterpret_cast<AboutBoxEntry>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvAboutBox@12").c_str())));
  ASSERT_NE(entry, nullptr);
  KvAboutRecord r = Record();
  r.appName = L"DLL App";
  std::vector<std::wstring> titles;
  std::wstring sysinfo;
  WithAboutBox(
      r, sizeof r,
      [&](HWND sheet) {
        titles = TabTitles(sheet);
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        sysinfo = Text(GetDlgItem(Current(sheet), KVABOUT_ID_SYSINFO));
      },
      true, entry, L"About DLL App");
  EXPECT_EQ(titles, (std::vector<std::wstring>{L"General", L"Computer", L"Performance"}));
  EXPECT_EQ(sysinfo.rfind(L"Operating System", 0), 0u);
}

}  // namespace
