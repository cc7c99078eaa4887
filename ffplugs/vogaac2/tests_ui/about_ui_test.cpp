// The about request of both class objects through the DLL, on a display: the
// about box comes up titled with the plug-in's name, and the call answers
// S_OK once it is closed.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "kvfileio.h"
#include "plugin_dll.h"

namespace {

const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

struct Found {
  HWND window = nullptr;
  std::wstring title;
};

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
std::wstring ShowAndClose(const std::function<HRESULT()>& show, HRESULT* result) {
  std::atomic<bool> done{false};
  Found found;
  std::thread driver([&] {
    for (int i = 0; i < 500 && !done; ++i) {
      Found f;
      EnumWindows(FindAbout, reinterpret_cast<LPARAM>(&f));
      if (f.window) {
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
  std::wstring title = ShowAndClose([&] { return renderer->ShowAbout(nullptr); }, &hr);
  EXPECT_EQ(S_OK, hr);
  EXPECT_NE(std::wstring::npos, title.find(L"Tessaly AAC File Format Plug-In")) << std::string(title.begin(), title.end());
  hr = E_FAIL;
  title = ShowAndClose([&] { return reader->ShowAbout(nullptr); }, &hr);
  EXPECT_EQ(S_OK, hr);
  EXPECT_NE(std::wstring::npos, title.find(L"Tessaly AAC File Format Plug-In"));
  renderer->Release();
  reader->Release();
}

}  // namespace
