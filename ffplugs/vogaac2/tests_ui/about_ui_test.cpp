// The about request of both class objects through the DLL, on a display: the
// about box comes up titled with the plug-in's name and shows the plug-in's
// mark, and the call answers S_OK once it is closed. The library's tip of the
// day, called through the DLL, shows the DLL's panel picture.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "kvfileio.h"
#include "plugin_dll.h"

namespace {

const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

struct Found {
  HWND window = nullptr;
  std::wstring title;
  // Screen pixels of the logo's place: its corner, a point of the mark's blue
  // body and the wave's front dot.
  COLORREF corner = CLR_INVALID, body = CLR_INVALID, dot = CLR_INVALID;
};

const int kLogoId = 53016;

BOOL CALLBACK FindLogo(HWND w, LPARAM param) {
  if (GetDlgCtrlID(w) != kLogoId) return TRUE;
  *reinterpret_cast<HWND*>(param) = w;
  return FALSE;
}

// Samples the logo place of a shown about box (the mark is 64 by 64 pixels
// stretched over the place).
void SampleLogo(Found& f) {
  HWND logo = nullptr;
  EnumChildWindows(f.window, FindLogo, reinterpret_cast<LPARAM>(&logo));
  if (!logo) return;
  RECT r;
  GetWindowRect(logo, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  f.corner = GetPixel(screen, r.left, r.top);
  f.body = GetPixel(screen, r.left + w * 20 / 64, r.top + h * 50 / 64);
  f.dot = GetPixel(screen, r.left + w * 53 / 64, r.top + h * 48 / 64);
  ReleaseDC(nullptr, screen);
}

bool Bluish(COLORREF c) { return c != CLR_INVALID && GetBValue(c) > 100 && GetBValue(c) > GetRValue(c) + 60; }
bool Orange(COLORREF c) { return c != CLR_INVALID && GetRValue(c) > 200 && GetGValue(c) > 90 && GetBValue(c) < 110; }

BOOL CALLBACK FindAbout(HWND w, LPARAM param) {
  wchar_t text[256] = {};
  GetWindowTextW(w, text, 256);
  if (IsWindowVisible(w) && std::wstring(text).find(L"File Format Plug-In") != std::wstring::npos) {
    Found* f = reinterpret_cast<Found*>(param);
    f->window = w;
    f->title = text;
    return FALSE;
  }
  return TRUE;
}

// Runs `show` while a second thread waits for the about box and closes it.
std::wstring ShowAndClose(const std::function<HRESULT()>& show, HRESULT* result, Found* seen = nullptr) {
  std::atomic<bool> done{false};
  Found found;
  std::thread driver([&] {
    for (int i = 0; i < 500 && !done; ++i) {
      Found f;
      EnumWindows(FindAbout, reinterpret_cast<LPARAM>(&f));
      if (f.window) {
        Sleep(300);  // painted
        SampleLogo(f);
        found = f;
        PostMessageW(f.window, PSM_PRESSBUTTON, PSBTN_OK, 0);
        return;
      }
      Sleep(20);
    }
  });
  *result = show();
  done = true;
  driver.join();
  if (seen) *seen = found;
  return found.title;
}

TEST(AboutBox, BothClassesShowThePluginsAboutBox) {
  PluginDll dll;
  IClassFactory* factory = dll.Factory(kRendererId);
  ASSERT_NE(factory, nullptr);
  void* obj = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IKvRenderFileClass, &obj));
  IKvRenderFileClass* renderer = static_cast<IKvRenderFileClass*>(obj);
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IKvReadFileClass, &obj));
  IKvReadFileClass* reader = static_cast<IKvReadFileClass*>(obj);
  factory->Release();

  HRESULT hr = E_FAIL;
  Found seen;
  std::wstring title = ShowAndClose([&] { return renderer->ShowAbout(nullptr); }, &hr, &seen);
  EXPECT_EQ(S_OK, hr);
  EXPECT_NE(std::wstring::npos, title.find(L"Tessaly AAC File Format Plug-In")) << std::string(title.begin(), title.end());
  // The mark: white outside its rounded corner, blue body, orange dot.
  EXPECT_EQ(RGB(255, 255, 255), seen.corner);
  EXPECT_TRUE(Bluish(seen.body)) << std::hex << seen.body;
  EXPECT_TRUE(Orange(seen.dot)) << std::hex << seen.dot;
  hr = E_FAIL;
  title = ShowAndClose([&] { return reader->ShowAbout(nullptr); }, &hr);
  EXPECT_EQ(S_OK, hr);
  EXPECT_NE(std::wstring::npos, title.find(L"Tessaly AAC File Format Plug-In"));
  renderer->Release();
  reader->Release();
}

struct TipRecord {
  void* lang;
  UINT first, last, current;
  BOOL showAtStartup;
  HBITMAP panelBitmap;
};
typedef BOOL(__stdcall* TipOfDayFn)(HWND, TipRecord*, BOOL);

// The tip dialog of the library inside the DLL paints the DLL's panel
// picture in its left column: a yellow bulb whose magenta background became
// the column's colour.
TEST(TipOfTheDay, ThePanelShowsTheDllsPicture) {
  PluginDll dll;
  ASSERT_NE(dll.module(), nullptr);
  HBITMAP picture = static_cast<HBITMAP>(LoadImageW(dll.module(), MAKEINTRESOURCEW(2), IMAGE_BITMAP, 0, 0, 0));
  ASSERT_NE(picture, nullptr) << "the DLL has no bitmap 2";
  BITMAP info;
  ASSERT_TRUE(GetObjectW(picture, sizeof info, &info));
  DeleteObject(picture);
  auto tipOfDay = reinterpret_cast<TipOfDayFn>(
      reinterpret_cast<void*>(GetProcAddress(dll.module(), VogExportName("_KvTipOfDay@12").c_str())));
  ASSERT_NE(tipOfDay, nullptr);
  COLORREF bulb = CLR_INVALID, key = CLR_INVALID;
  bool hadBitmap = false;
  TipRecord tip = {nullptr, 1000, 1002, 1000, FALSE, nullptr};
  std::thread driver([&] {
    for (int i = 0; i < 500; ++i) {
      HWND dlg = FindWindowW(L"#32770", L"Tip of the Day");
      if (dlg && IsWindowVisible(dlg)) {
        Sleep(300);
        HWND panel = GetDlgItem(dlg, 1004);
        RECT r;
        GetWindowRect(panel, &r);
        RECT client;
        GetClientRect(panel, &client);
        POINT origin = {0, 0};
        ClientToScreen(panel, &origin);
        const int x = origin.x + (client.right / 8 - info.bmWidth) / 2;
        HDC screen = GetDC(nullptr);
        bulb = GetPixel(screen, x + 16, origin.y + 16 + 20);
        key = GetPixel(screen, x + 1, origin.y + 16 + 1);
        ReleaseDC(nullptr, screen);
        hadBitmap = tip.panelBitmap != nullptr;
        SendMessageW(GetDlgItem(dlg, 1001), BM_CLICK, 0, 0);
        return;
      }
      Sleep(20);
    }
  });
  EXPECT_TRUE(tipOfDay(nullptr, &tip, TRUE));
  driver.join();
  EXPECT_TRUE(hadBitmap);
  EXPECT_EQ(32, info.bmWidth);
  EXPECT_TRUE(GetRValue(bulb) > 200 && GetGValue(bulb) > 170 && GetBValue(bulb) < 120) << std::hex << bulb;
  EXPECT_EQ(GetSysColor(COLOR_INACTIVECAPTION), key);
}

}  // namespace
