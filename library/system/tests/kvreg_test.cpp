// Registry helpers and GUID text: GUIDs both ways against Python's uuid (fixture
// guids.txt), recursive key deletion and counts, server registration, the
// shared locale value and the explorer setting.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "kvreg.h"
#include "vog_paths.h"

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring FixtureFile(const char* name) { return vogtest::WineFixturePath(name); }

TEST(KvGuidText, BothWaysAgreeWithPythonUuid) {
  std::ifstream in(FixtureFile("guids.txt").c_str());
  std::string text, d1, d2, d3, bytes;
  int rows = 0;
  while (in >> text >> d1 >> d2 >> d3 >> bytes) {
    ++rows;
    GUID g = {};
    ASSERT_EQ(KvGuidFromString(Wide(text).c_str(), &g), S_OK) << text;
    EXPECT_EQ(g.Data1, std::stoul(d1, nullptr, 16)) << text;
    EXPECT_EQ(g.Data2, std::stoul(d2, nullptr, 16)) << text;
    EXPECT_EQ(g.Data3, std::stoul(d3, nullptr, 16)) << text;
    unsigned char want[16];
    for (int i = 0; i < 16; ++i) want[i] = static_cast<unsigned char>(std::stoul(bytes.substr(2 * i, 2), nullptr, 16));
    EXPECT_EQ(memcmp(&g, want, 16), 0) << text;
    wchar_t out[40];
    ASSERT_EQ(KvGuidToString(&g, out, 40), S_OK);
    EXPECT_EQ(std::wstring(out), Wide(text));  // lower case, no braces
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    GUID g2 = {};
    ASSERT_EQ(KvGuidFromString(Wide(upper).c_str(), &g2), S_OK);
    EXPECT_EQ(memcmp(&g, &g2, 16), 0);
  }
  EXPECT_EQ(rows, 205) << "guids.txt missing or short";
}

TEST(KvGuidText, RefusalsAndBounds) {
  GUID g = {};
  ASSERT_EQ(KvGuidFromString(L"6B29FC40-CA47-1067-B31D-00DD010662DA", &g), S_OK);
  EXPECT_EQ(g.Data1, 0x6B29FC40u);
  EXPECT_EQ(g.Data2, 0xCA47);
  EXPECT_EQ(g.Data3, 0x1067);
  const unsigned char d4[] = {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA};
  EXPECT_EQ(memcmp(g.Data4, d4, 8), 0);
  for (const wchar_t* bad : {L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", L"6B29FC40-CA47-1067-B31D-00DD010662D",
                             L"6B29FC40CA471067B31D00DD010662DA", L"6B29FC40-CA47-1067-B31D00DD010662DA", L"",
                             L"6B29FC4G-CA47-1067-B31D-00DD010662DA"})
    EXPECT_EQ(KvGuidFromString(bad, &g), E_FAIL) << bad;
  wchar_t out[40];
  wmemset(out, L'#', 40);
  EXPECT_EQ(KvGuidToString(&g, out, 10), S_OK);
  EXPECT_EQ(std::wstring(out), L"6b29fc40-");
  EXPECT_EQ(out[10], L'#');
  out[0] = L'#';
  EXPECT_EQ(KvGuidToString(&g, out, 0), S_OK);
  EXPECT_EQ(out[0], L'#');
}

TEST(KvRegistry, DeleteKeyTreesAndCountSubKeys) {
  const wchar_t* root = L"Software\\Calbrey\\VogRegTest";
  EXPECT_TRUE(KvRegDeleteKey(HKEY_CURRENT_USER, L"Software\\Calbrey\\NoSuchKeyAtAll"));
  HKEY k;
  for (const wchar_t* sub : {L"a\\x\\y", L"a\\z", L"b", L"a_long_sub_key_name"}) {
    std::wstring path = std::wstring(root) + L"\\" + sub;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &k), ERROR_SUCCESS);
    RegSetValueExW(k, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
    RegCloseKey(k);
  }
  DWORD longest = 0;
  EXPECT_EQ(KvRegGetSubKeyCount(HKEY_CURRENT_USER, root, &longest), 3u);
  EXPECT_EQ(longest, 20u);
  EXPECT_EQ(KvRegGetSubKeyCount(HKEY_CURRENT_USER, L"Software\\Calbrey\\NoSuchKeyAtAll", &longest), 0u);
  EXPECT_EQ(longest, 1u);
  EXPECT_TRUE(KvRegDeleteKey(HKEY_CURRENT_USER, root));
  EXPECT_NE(RegOpenKeyW(HKEY_CURRENT_USER, root, &k), ERROR_SUCCESS);
}

TEST(KvRegistry, RegisterServerLocaleAndExplorerSetting) {
  const GUID clsid = {0x5f351064, 0x46ad, 0x47ee, {0x89, 0x99, 0x54, 0x87, 0x69, 0xe7, 0x36, 0x40}};
  HMODULE self = GetModuleHandleW(nullptr);
  ASSERT_EQ(KvRegisterServer(self, &clsid, L"Vog Test Class", TRUE), S_OK);
  HKEY k = nullptr;
  const wchar_t* server = L"Software\\Classes\\CLSID\\{5F351064-46AD-47EE-8999-548769E73640}\\InProcServer32";
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, server, 0, KEY_READ, &k), ERROR_SUCCESS);
  wchar_t value[MAX_PATH] = {}, model[16] = {};
  DWORD size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
  wchar_t self_path[MAX_PATH];
  GetModuleFileNameW(self, self_path, MAX_PATH);
  EXPECT_EQ(lstrcmpiW(value, self_path), 0);
  size = sizeof(model);
  EXPECT_EQ(RegQueryValueExW(k, L"ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(model), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(model), L"Both");
  RegCloseKey(k);
  EXPECT_EQ(KvRegisterServer(self, &clsid, L"Vog Test Class", FALSE), 1);
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, server, 0, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_EQ(KvRegisterServer(self, &clsid, nullptr, FALSE), 1);  // nothing registered: still 1

  ASSERT_EQ(KvSetLocale(1031), S_OK);
  DWORD locale = 0;
  size = sizeof(locale);
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Calbrey\\Shared Information", L"Locale", RRF_RT_REG_DWORD,
                         nullptr, &locale, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(locale, 1031u);
  EXPECT_EQ(KvGetLocale(), 0u);

  const wchar_t* adv = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, adv, &k), ERROR_SUCCESS);
  DWORD zero = 0, one = 1;
  RegSetValueExW(k, L"HideFileExt", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4);
  EXPECT_FALSE(KvIsExplorerFileExtHidden());
  RegSetValueExW(k, L"HideFileExt", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
  EXPECT_TRUE(KvIsExplorerFileExtHidden());
  RegSetValueExW(k, L"HideFileExt", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"0"), 4);
  EXPECT_TRUE(KvIsExplorerFileExtHidden());
  RegDeleteValueW(k, L"HideFileExt");
  EXPECT_TRUE(KvIsExplorerFileExtHidden());
  RegCloseKey(k);
  EXPECT_TRUE(KvIsPowerUser());
}

TEST(KvRegistry, SelfRegistrationNeedsTheVersionString) {
  // vogaac2.dll carries no version resource; a missing file has none either.
  EXPECT_EQ(KvSelfRegister_IsSupported(L"vogaac2.dll"), E_FAIL);
  EXPECT_EQ(KvSelfRegister_Register(L"Z:\\no\\such.dll", FALSE), E_FAIL);
  EXPECT_EQ(KvSelfRegister_IsSupported(L"kvbasesys_selfreg_no.dll"), E_NOTIMPL);
  EXPECT_EQ(KvSelfRegister_Register(L"kvbasesys_selfreg_no.dll", FALSE), E_NOTIMPL);
  EXPECT_EQ(KvSelfRegister_IsSupported(L"kvbasesys_selfreg_yes.dll"), S_OK);
  UINT before = SetErrorMode(0);
  SetErrorMode(before);
  EXPECT_EQ(KvSelfRegister_Register(L"kvbasesys_selfreg_yes.dll", FALSE), static_cast<HRESULT>(0x11));
  EXPECT_EQ(KvSelfRegister_Register(L"kvbasesys_selfreg_yes.dll", TRUE), static_cast<HRESULT>(0x22));
  UINT after = SetErrorMode(before);
  EXPECT_EQ(after & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
            static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_EQ(GetModuleHandleW(L"kvbasesys_selfreg_yes.dll"), nullptr);  // freed again
}

}  // namespace
