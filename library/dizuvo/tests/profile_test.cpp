// Profile sections: path and section naming, values written and read back,
// GUID keys and values, clearing and removal, write failures. The file
// written to the fixture folder is read again by Python's configparser
// (profile_check.sh).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "kverror.h"
#include "kvprofile.h"
#include "vog_paths.h"

namespace {

const GUID kIdA = {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}};
const GUID kIdB = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

using vogtest::WinePath;

std::wstring TempFolder() {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring folder = std::wstring(tmp) + L"kvprofile_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

TEST(Profile, PathAndSectionNames) {
  struct {
    const wchar_t* folder;
    const wchar_t* file;
    const wchar_t* path;
  } cases[] = {
      {L"C:\\data", L"FFCache", L"C:\\data\\FFCache.ini"},
      {L"C:\\data\\", L"FFCache.ini", L"C:\\data\\FFCache.ini"},
      {L"C:\\data", L"FFCache.INI", L"C:\\data\\FFCache.INI"},
      {L"C:\\data", L"host.exe FFCache", L"C:\\data\\host.exe FFCache.ini"},
      {L"", L"plain", L"plain.ini"},
  };
  for (const auto& c : cases) {
    CKvProfile p(c.folder, c.file);
    EXPECT_STREQ(p.Path(), c.path);
    EXPECT_STREQ(p.Section(), L"main");
  }
  CKvProfile main(L"C:\\data", L"x");
  CKvProfile sub(main, L"Readers");
  EXPECT_STREQ(sub.Path(), main.Path());
  EXPECT_STREQ(sub.Section(), L"main.Readers");
  CKvProfile subsub(sub, L"{id}");
  EXPECT_STREQ(subsub.Section(), L"main.Readers.{id}");

  // Long names stay within their buffers: 259 characters of path, 129 of section.
  std::wstring longFolder = L"C:\\" + std::wstring(300, L'f');
  CKvProfile longPath(longFolder.c_str(), L"x");
  EXPECT_EQ(wcslen(longPath.Path()), 259u);
  std::wstring longSub(200, L's');
  CKvProfile longSection(main, longSub.c_str());
  EXPECT_EQ(wcslen(longSection.Section()), 129u);
}

TEST(Profile, ValuesRoundTrip) {
  std::wstring folder = TempFolder();
  CKvProfile p(folder.c_str(), L"round");
  p.RemoveFile();
  EXPECT_FALSE(p.FileExists());
  EXPECT_EQ(p.WriteString(L"Path", L"C:\\Plug-Ins\\a.dll"), S_OK);
  EXPECT_TRUE(p.FileExists());
  EXPECT_EQ(p.WriteInt(L"ModTime", -123456), S_OK);
  EXPECT_EQ(p.WriteInt(L"AppLevel", 7), S_OK);
  EXPECT_EQ(p.WriteGUID(L"Reader", kIdA, nullptr), S_OK);
  EXPECT_EQ(p.WriteGUID(nullptr, kIdB, L"AAC Reader"), S_OK);
  EXPECT_EQ(p.WriteString(L"{not-a-guid}", L"x"), S_OK);

  wchar_t buf[300];
  EXPECT_EQ(p.GetString(L"Path", nullptr, buf, 300), 17u);
  EXPECT_STREQ(buf, L"C:\\Plug-Ins\\a.dll");
  p.GetString(L"Missing", L"fallback", buf, 300);
  EXPECT_STREQ(buf, L"fallback");
  p.GetString(L"Missing", nullptr, buf, 300);
  EXPECT_STREQ(buf, L"");
  EXPECT_EQ(p.GetInt(L"ModTime", 0), -123456);
  EXPECT_EQ(p.GetInt(L"AppLevel", 0), 7);
  EXPECT_EQ(p.GetInt(L"StreamType", -1), -1);
  p.GetString(L"{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}", nullptr, buf, 300);
  EXPECT_STREQ(buf, L"AAC Reader");

  GUID ids[4] = {};
  EXPECT_EQ(p.GetGUID(L"Reader", ids, 4), 1);
  EXPECT_TRUE(IsEqualGUID(ids[0], kIdA));
  EXPECT_EQ(p.GetGUID(L"Path", ids, 4), 0);
  // The section's key names: only the one that is a GUID.
  EXPECT_EQ(p.GetGUID(nullptr, ids, 4), 1);
  EXPECT_TRUE(IsEqualGUID(ids[0], kIdB));
  EXPECT_EQ(p.GetGUID(nullptr, ids, 0), 0);

  // A sub-section is a section of its own.
  CKvProfile sub(p, L"{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}");
  EXPECT_EQ(sub.WriteInt(L"Access", 48), S_OK);
  EXPECT_EQ(sub.GetInt(L"Access", 0), 48);
  EXPECT_EQ(p.GetInt(L"Access", 0), 0);

  // Clearing empties the section and leaves the others.
  EXPECT_EQ(p.ClearSection(), S_OK);
  EXPECT_EQ(p.GetInt(L"AppLevel", 99), 99);
  EXPECT_EQ(p.GetGUID(nullptr, ids, 4), 0);
  EXPECT_EQ(sub.GetInt(L"Access", 0), 48);

  EXPECT_EQ(p.RemoveFile(), S_OK);
  EXPECT_FALSE(p.FileExists());
  EXPECT_EQ(p.RemoveFile(), S_FALSE);
  RemoveDirectoryW(folder.c_str());
}

TEST(Profile, ManyGuidKeys) {
  std::wstring folder = TempFolder();
  CKvProfile p(folder.c_str(), L"many");
  p.RemoveFile();
  for (int i = 0; i < 20; ++i) {
    GUID id = kIdA;
    id.Data1 += DWORD(i);
    ASSERT_EQ(p.WriteGUID(nullptr, id, L"name"), S_OK);
  }
  GUID ids[32] = {};
  // 672 characters of key names hold 17 GUID keys of 39 characters each.
  int n = p.GetGUID(nullptr, ids, 32);
  EXPECT_EQ(n, 17);
  for (int i = 0; i < n; ++i) EXPECT_EQ(ids[i].Data1, kIdA.Data1 + DWORD(i));
  EXPECT_EQ(p.GetGUID(nullptr, ids, 5), 5);
  p.RemoveFile();
  RemoveDirectoryW(folder.c_str());
}

TEST(Profile, WriteFailures) {
  CKvProfile p(L"Z:\\no\\such\\folder\\at\\all", L"x");
  HRESULT hr = p.WriteString(L"a", L"b");
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_TRUE(FAILED(p.WriteInt(L"a", 1)));
  EXPECT_TRUE(FAILED(p.ClearSection()));
  EXPECT_EQ(p.RemoveFile(), S_FALSE);
  EXPECT_FALSE(p.FileExists());
}

// A cache-like file for the configparser check.
TEST(Profile, WritesFileForConfigParser) {
  std::string dir = std::string(VOG_FIXTURE_DIR) + "/profile";
  CreateDirectoryW(WinePath(std::string(VOG_FIXTURE_DIR)).c_str(), nullptr);
  CreateDirectoryW(WinePath(dir).c_str(), nullptr);
  CKvProfile p(WinePath(dir).c_str(), L"FFCache");
  p.RemoveFile();
  p.SetSection(L"vogaac2");
  ASSERT_EQ(p.WriteString(L"Path", L"C:\\Program Files\\Orvane\\vogaac2.dll"), S_OK);
  ASSERT_EQ(p.WriteInt(L"ModTime", 1234567890), S_OK);
  ASSERT_EQ(p.WriteGUID(nullptr, kIdB, L"VOG AAC 2 File Format"), S_OK);
  CKvProfile numbers(p, L"{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}");
  ASSERT_EQ(numbers.WriteInt(L"Access", 48), S_OK);
  ASSERT_EQ(numbers.WriteInt(L"Flags", 0), S_OK);
  ASSERT_EQ(numbers.WriteInt(L"StreamType", -1), S_OK);
  ASSERT_EQ(numbers.WriteInt(L"AppLevel", 65535), S_OK);
  CKvProfile plugin(p, L"x");
  plugin.SetSection(L"{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}");
  ASSERT_EQ(plugin.WriteGUID(L"Reader", kIdA, nullptr), S_OK);
  ASSERT_EQ(plugin.WriteString(L"ExtReader", L"*.m4a;*.mp4"), S_OK);
  // Cleared and written again: one copy of each key.
  ASSERT_EQ(plugin.ClearSection(), S_OK);
  ASSERT_EQ(plugin.WriteGUID(L"Reader", kIdA, nullptr), S_OK);
  ASSERT_EQ(plugin.WriteString(L"ExtReader", L"*.m4a;*.mp4"), S_OK);
  ASSERT_EQ(plugin.WriteInt(L"LangID", 1033), S_OK);
}

}  // namespace
