// Help paths built from files created for the test beside the plug-in DLL and
// in a shared help folder: extension rule, translated variants (DEU, _DEU,
// DE*), shared and unshared choices, WinHelp off on this system, pop-up topics.
#include <gtest/gtest.h>

#include <string>

#include "kvhelp.h"
#include "kvkernel.h"
#include "kvlang.h"

namespace {

struct Files {
  std::vector<std::wstring> made;
  void Make(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    made.push_back(path);
  }
  void Clear() {
    for (const auto& p : made) DeleteFileW(p.c_str());
    made.clear();
  }
  ~Files() { Clear(); }
};

std::wstring Folder(HMODULE module) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring s = path;
  return s.substr(0, s.rfind(L'\\') + 1);
}

struct Library {
  Library() {
    dll = LoadLibraryW(L"vogaac2.dll");
    EXPECT_NE(dll, nullptr);
    EXPECT_EQ(KvLang_Open(&h, dll, 1033, 0), S_OK);
    KvLang_SetLibraryHandle(h);
  }
  ~Library() {
    KvLang_SetLibraryHandle(nullptr);
    KvLang_Close(h);
  }
  HMODULE dll = nullptr;
  HKVLANG h = nullptr;
};

void SetSharedFolder(const wchar_t* folder) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Calbrey\\Shared Information", &key), ERROR_SUCCESS);
  if (folder)
    RegSetValueExW(key, L"HelpFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                   (lstrlenW(folder) + 1) * sizeof(wchar_t));
  else
    RegDeleteValueW(key, L"HelpFolder");
  RegCloseKey(key);
}

TEST(KvHelpPaths, ModuleHelpAndTranslatedVariants) {
  Library lib;
  SetSharedFolder(nullptr);
  std::wstring dir = Folder(lib.dll);
  wchar_t out[MAX_PATH];
  ASSERT_TRUE(KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");
  ASSERT_TRUE(KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, L"other.name.txt", FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"other.name.chm");
  ASSERT_TRUE(KvHelp_CreateHelpFilePath(2, lib.dll, out, MAX_PATH, L"keep.txt", FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"keep.txt");
  // WinHelp is off on this system (NT 6.1): kind 0 gives nothing.
  ASSERT_TRUE(KvOSVersionOK(7, 0));
  EXPECT_FALSE(KvHelp_CreateSharedHelpFilePath(0, lib.dll, out, MAX_PATH, nullptr, FALSE));
  EXPECT_EQ(out[0], 0);
  EXPECT_FALSE(KvHelp_ContextHelp(0, nullptr, 0, 1, L"x.hlp"));

  // Without any file the plug-in path is empty.
  EXPECT_FALSE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, FALSE));
  EXPECT_EQ(out[0], 0);
  EXPECT_FALSE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, TRUE));

  Files files;
  files.Make(dir + L"vogaac2.chm");
  EXPECT_TRUE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");

  // German: "_DEU" exists only; with English no variant is tried.
  files.Make(dir + L"vogaac2_DEU.chm");
  ASSERT_TRUE(KvLang_UpdateKernelLCID(lib.h, 1031, 0));
  EXPECT_TRUE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2_DEU.chm");
  KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, TRUE);  // no localisation asked
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");
  files.Make(dir + L"vogaac2DEU.chm");
  KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE);
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2DEU.chm");  // tried first
  files.Clear();
  files.Make(dir + L"vogaac2.chm");
  files.Make(dir + L"vogaac2DE-ch.chm");
  KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE);
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2DE-ch.chm");  // the directory search
  ASSERT_TRUE(KvLang_UpdateKernelLCID(lib.h, 1033, 0));
  KvHelp_CreateHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE);
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");
  wchar_t variant[MAX_PATH];
  wcscpy(variant, (dir + L"vogaac2.chm").c_str());
  EXPECT_FALSE(KvHelp_TranslatedVariant(variant, L"ENU"));
}

TEST(KvHelpPaths, SharedFolderFirstOrSecond) {
  Library lib;
  std::wstring dir = Folder(lib.dll);
  std::wstring shared = dir + L"vog_shared_help";
  CreateDirectoryW(shared.c_str(), nullptr);
  SetSharedFolder(shared.c_str());
  wchar_t out[MAX_PATH];
  ASSERT_TRUE(KvHelp_CreateSharedHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE));
  EXPECT_EQ(std::wstring(out), shared + L"\\vogaac2.chm");  // whether or not it exists
  Files files;
  files.Make(dir + L"vogaac2.chm");
  EXPECT_TRUE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, TRUE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");  // shared missing: the module's own
  files.Make(shared + L"\\vogaac2.chm");
  EXPECT_TRUE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, TRUE));
  EXPECT_EQ(std::wstring(out), shared + L"\\vogaac2.chm");
  EXPECT_TRUE(KvHelp_CreatePluginHelpFilePath(1, lib.dll, out, MAX_PATH, FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");
  EXPECT_TRUE(KvHelp_CreateHelpFilePathEX(1, lib.dll, out, MAX_PATH, L"x.doc", FALSE));
  EXPECT_EQ(std::wstring(out), shared + L"\\x.chm");
  files.Clear();
  RemoveDirectoryW(shared.c_str());
  EXPECT_FALSE(KvHelp_CreateSharedHelpFilePath(1, lib.dll, out, MAX_PATH, nullptr, FALSE));
  EXPECT_TRUE(KvHelp_CreateHelpFilePathEX(1, lib.dll, out, MAX_PATH, nullptr, FALSE));
  EXPECT_EQ(std::wstring(out), dir + L"vogaac2.chm");
  SetSharedFolder(nullptr);
}

TEST(KvHelpPaths, StoredPathsAndPopupTopics) {
  wchar_t out[MAX_PATH];
  std::wstring longPath(400, L'p');
  EXPECT_TRUE(KvHelp_SetHelpFilePath(1, longPath.c_str()));
  EXPECT_TRUE(KvHelp_GetHelpFilePath(1, out, MAX_PATH));
  EXPECT_EQ(wcslen(out), 259u);
  EXPECT_FALSE(KvHelp_SetHelpFilePath(2, L"x"));
  KvHelp_SetHelpFilePath(0, L"old.hlp");
  EXPECT_FALSE(KvHelp_GetHelpFilePath(0, out, MAX_PATH));
  EXPECT_EQ(out[0], 0);
  KvHelp_SetHelpFilePath(1, L"");
  EXPECT_FALSE(KvHelp_ContextHelp(1, nullptr, 0, 0, nullptr));  // empty stored path
  EXPECT_FALSE(KvHelp_ContextPopupHelp(1, nullptr, 7, 1002, nullptr, nullptr));

  const DWORD map[] = {1001, 55, 1003, 0, 0, 0};
  UINT command = 0;
  EXPECT_EQ(KvHelp_PopupTopic(1, 7, 1002, map, &command), 7u);
  EXPECT_EQ(command, 14u);
  EXPECT_EQ(KvHelp_PopupTopic(1, 7, 1001, map, &command), 55u);
  EXPECT_EQ(KvHelp_PopupTopic(1, 7, 1003, map, &command), 0u);
  EXPECT_EQ(KvHelp_PopupTopic(1, 7, -1, map, &command), 0u);
  EXPECT_EQ(KvHelp_PopupTopic(1, 7, 0, nullptr, &command), 0u);
  EXPECT_EQ(KvHelp_PopupTopic(0, 7, 1001, map, &command), 55u);
  EXPECT_EQ(command, 8u);
  EXPECT_EQ(KvHelp_PopupTopic(0, 7, 1001, nullptr, &command), 0u);
  EXPECT_EQ(command, 2u);
}

}  // namespace
