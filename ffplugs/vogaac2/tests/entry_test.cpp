#include <windows.h>
#include <gtest/gtest.h>

TEST(ModuleEntry, LoadsAndStaysLoaded) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  auto canUnload = reinterpret_cast<HRESULT(__stdcall*)()>(GetProcAddress(dll, "DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  FreeLibrary(dll);
}
