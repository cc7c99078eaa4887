// Registry settings. The values written here under
// "Software\Calbrey\VogMetricTest\5.2\Metrics" are read back afterwards by
// `wine reg query` (check_metrics.py) against the list of inputs this test
// leaves in the fixture folder; the getters' rules are checked here.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "kverror.h"
#include "kvmetric.h"

namespace {

const DWORD kVersion = 0x05020000;  // 5.2

std::wstring FixtureFile(const char* name) {
  std::wstring out = kvtest::WineFixtureDir();
  CreateDirectoryW(out.c_str(), nullptr);
  out += L"\\";
  for (const char* p = name; *p; ++p) out += static_cast<wchar_t>(*p);
  return out;
}

// The inputs given to the setters: key, value name, type, bytes.
struct Expected {
  std::ofstream out;
  Expected() : out(FixtureFile("metrics_expected.txt").c_str()) {}
  void Add(const char* key, const char* name, const char* type, const void* data, size_t size) {
    out << key << '\t' << name << '\t' << type << '\t';
    const unsigned char* b = static_cast<const unsigned char*>(data);
    char hex[3];
    for (size_t i = 0; i < size; ++i) {
      sprintf(hex, "%02x", b[i]);
      out << hex;
    }
    out << '\n';
  }
};

TEST(KvMetric, ValuesOfEveryTypeForTheIndependentReader) {
  KvMetric_DeleteAll(L"VogMetricTest", kVersion);
  HKVMETRIC m = nullptr;
  ASSERT_EQ(KvMetric_Open(&m, L"VogMetricTest", kVersion, nullptr), S_OK);
  ASSERT_NE(m, nullptr);
  Expected e;
  const char* key = "HKEY_CURRENT_USER\\Software\\Calbrey\\VogMetricTest\\5.2\\Metrics";
  DWORD v42 = 42, vmax = 0xFFFFFFFF, named = 0xDEADBEEF;
  ASSERT_EQ(KvSetMetric(m, -7, v42), S_OK);  // -7 and 7 name the same value
  e.Add(key, "7", "REG_DWORD", &v42, 4);
  ASSERT_EQ(KvSetMetric(m, 8, vmax), S_OK);
  e.Add(key, "8", "REG_DWORD", &vmax, 4);
  ASSERT_EQ(KvSetMetricUsingName(m, L"Named", named), S_OK);
  e.Add(key, "Named", "REG_DWORD", &named, 4);
  const wchar_t text[] = L"Gr\u00fc\u00dfe, metrics 100%";
  ASSERT_EQ(KvSetMetricString(m, 7, text), S_OK);
  e.Add(key, "S7", "REG_SZ", text, (wcslen(text) + 1) * 2);
  const wchar_t empty[] = L"";
  ASSERT_EQ(KvSetMetricString(m, -12, empty), S_OK);
  e.Add(key, "S12", "REG_SZ", empty, 2);
  const unsigned char bytes[] = {0x00, 0x01, 0xFE, 0xFF, 0x80, 0x7F};
  ASSERT_EQ(KvSetMetricBinary(m, 7, bytes, sizeof(bytes)), S_OK);
  e.Add(key, "B7", "REG_BINARY", bytes, sizeof(bytes));
  const wchar_t multi[] = L"one\0two\0three\0";
  ASSERT_EQ(KvSetMetricMultiString(m, 7, multi, 15), S_OK);
  e.Add(key, "Z7", "REG_MULTI_SZ", multi, 30);
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  unsigned char block[100];
  for (int i = 0; i < 100; ++i) block[i] = static_cast<unsigned char>(i * 7);
  ULONG written = 0;
  stream->Write(block, 100, &written);
  ASSERT_EQ(KvSetMetricStream(m, 9, stream), S_OK);
  e.Add(key, "B9", "REG_BINARY", block, 100);
  HKVMETRIC sub = nullptr;
  ASSERT_EQ(KvMetric_OpenSubKey(&sub, m, L"Sub"), S_OK);
  DWORD one = 1;
  ASSERT_EQ(KvSetMetric(sub, 1, one), S_OK);
  e.Add("HKEY_CURRENT_USER\\Software\\Calbrey\\VogMetricTest\\5.2\\Metrics\\Sub", "1", "REG_DWORD", &one, 4);
  KvMetric_Close(sub);

  // The same values through the getters.
  EXPECT_EQ(KvGetMetric(m, 7), 42u);
  EXPECT_EQ(KvGetMetric(m, -8), 0xFFFFFFFFu);
  EXPECT_EQ(KvGetMetricUsingName(m, L"Named", 5), 0xDEADBEEFu);
  wchar_t buf[64];
  EXPECT_EQ(KvGetMetricStringEx(m, 7, buf, 64, nullptr, FALSE), static_cast<int>(wcslen(text)));
  EXPECT_EQ(std::wstring(buf), text);
  unsigned char bin[16];
  EXPECT_EQ(KvGetMetricBinary(m, 7, bin, 16), sizeof(bytes));
  EXPECT_EQ(memcmp(bin, bytes, sizeof(bytes)), 0);
  EXPECT_EQ(bin[6], 0);
  EXPECT_EQ(KvGetMetricMultiStringEx(m, 7, buf, 64, nullptr, FALSE), 14);
  EXPECT_EQ(memcmp(buf, multi, 30), 0);
  IStream* back = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &back), S_OK);
  ASSERT_EQ(KvGetMetricStream(m, 9, back), S_OK);
  HGLOBAL mem = nullptr;
  GetHGlobalFromStream(back, &mem);
  EXPECT_EQ(memcmp(GlobalLock(mem), block, 100), 0);
  GlobalUnlock(mem);
  back->Release();
  // Stream limits.
  LARGE_INTEGER at;
  at.QuadPart = 3000;
  stream->Seek(at, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(KvSetMetricStream(m, 10, stream), E_INVALIDARG);
  at.QuadPart = 0;
  stream->Seek(at, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(KvSetMetricStream(m, 10, stream), E_UNEXPECTED);
  EXPECT_EQ(KvSetMetricStream(m, 10, nullptr), E_POINTER);
  EXPECT_EQ(KvGetMetricStream(m, 10, stream), E_UNEXPECTED);
  stream->Release();
  KvMetric_Close(m);
}

TEST(KvMetric, GetterRules) {
  KvMetric_DeleteAll(L"VogMetricScratch", kVersion);
  HKVMETRIC m = nullptr;
  ASSERT_EQ(KvMetric_Open(&m, L"VogMetricScratch", kVersion, L"Rules"), S_OK);
  // Numbers: clamping, defaults, booleans.
  EXPECT_EQ(KvGetMetricEx(m, 1, 0, 10, 50), 10);  // missing: the default, clamped
  EXPECT_EQ(KvGetMetricEx(m, 1, 5, 5, 9), 9);     // equal bounds: no clamp
  KvSetMetric(m, 1, 77);
  EXPECT_EQ(KvGetMetricEx(m, 1, 5, 5, 9), 77);
  EXPECT_EQ(KvGetMetricEx(m, -1, 0, 10, 50), 10);
  KvSetMetric(m, 2, static_cast<DWORD>(-20));
  EXPECT_EQ(KvGetMetricEx(m, 2, -10, 10, 0), -10);
  EXPECT_EQ(KvGetMetricBool(m, 1, FALSE), 1);
  EXPECT_EQ(KvGetMetricBool(m, 3, 5), 1);
  EXPECT_EQ(KvGetMetricBool(m, 3, 0), 0);
  KvSetMetric(m, 3, 0);
  EXPECT_EQ(KvGetMetricBool(m, 3, 1), 0);
  // A text stored under the DWORD's name is not a number.
  KvSetMetricString(m, 4, L"x");
  EXPECT_EQ(KvDoesMetricExist(m, 4, REG_SZ), S_OK);
  EXPECT_EQ(KvDoesMetricExist(m, 4, REG_DWORD), S_FALSE);
  EXPECT_EQ(KvDoesMetricExist(m, 1, REG_DWORD), S_OK);
  // Texts: defaults, keep-empty, termination.
  wchar_t buf[8];
  EXPECT_EQ(KvGetMetricStringEx(m, 5, buf, 8, L"dflt", FALSE), 4);
  EXPECT_EQ(std::wstring(buf), L"dflt");
  EXPECT_EQ(KvGetMetricStringEx(m, 5, buf, 8, nullptr, FALSE), 0);
  EXPECT_EQ(buf[0], 0);
  KvSetMetricString(m, 5, L"");
  EXPECT_EQ(KvGetMetricStringEx(m, 5, buf, 8, L"dflt", FALSE), 4);
  EXPECT_EQ(KvGetMetricStringEx(m, 5, buf, 8, L"dflt", TRUE), 0);
  KvSetMetricString(m, 5, L"1234567");
  EXPECT_EQ(KvGetMetricStringEx(m, 5, buf, 8, nullptr, FALSE), 7);
  EXPECT_EQ(std::wstring(buf), L"1234567");
  // A stored text without terminator that fills the buffer stays terminated.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Calbrey\\VogMetricScratch\\5.2\\Metrics\\Rules", &key),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"S6", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ABCDEFGH"), 16);
  wmemset(buf, L'#', 8);
  EXPECT_EQ(KvGetMetricStringEx(m, 6, buf, 8, nullptr, FALSE), 7);
  EXPECT_EQ(std::wstring(buf), L"ABCDEFG");
  // KvGetMetricAny on the same rule.
  RegSetValueExW(key, L"6", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ABCD"), 8);
  DWORD stored = 0;
  wchar_t any[8];
  wmemset(any, L'#', 8);
  EXPECT_EQ(KvGetMetricAny(m, 6, REG_SZ, any, 16, &stored), S_OK);
  EXPECT_EQ(std::wstring(any), L"ABCD");  // terminated after the stored text
  EXPECT_GE(stored, 8u);
  EXPECT_EQ(KvGetMetricAny(m, 6, REG_SZ, any, 4, &stored), KV_E_BUFFERTOOSMALL);
  EXPECT_GE(stored, 8u);
  EXPECT_EQ(KvGetMetricAny(m, 6, REG_DWORD, any, 16, &stored), KV_E_NOTFOUND);
  EXPECT_EQ(KvGetMetricAny(m, 99, REG_DWORD, any, 16, &stored), KV_E_NOTFOUND);
  RegCloseKey(key);
  // Binary: too small, missing, Ex results.
  unsigned char data[4] = {1, 2, 3, 4}, small[2] = {9, 9};
  KvSetMetricBinary(m, 1, data, 4);
  EXPECT_EQ(KvGetMetricBinary(m, 1, small, 2), 0u);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(KvGetMetricBinaryEx(m, 1, small, 2, &stored), KV_E_BUFFERTOOSMALL);
  EXPECT_EQ(stored, 4u);
  EXPECT_EQ(KvGetMetricBinaryEx(m, 2, small, 2, &stored), S_FALSE);
  EXPECT_EQ(stored, 0u);
  EXPECT_EQ(KvGetMetricBinaryEx(m, 1, small, 2, nullptr), E_INVALIDARG);
  // Deletion.
  EXPECT_EQ(KvDeleteMetric(m, 1, REG_BINARY), S_OK);
  EXPECT_EQ(KvDoesMetricExist(m, 1, REG_BINARY), S_FALSE);
  EXPECT_EQ(KvDeleteMetric(m, 1, REG_BINARY), E_FAIL);
  // Names.
  wchar_t name[16];
  EXPECT_EQ(KvMetricGetName(-7, 4, name), 2);
  EXPECT_EQ(std::wstring(name), L"D7");
  KvMetricGetName(7, 7, name);
  EXPECT_EQ(std::wstring(name), L"Z7");
  EXPECT_EQ(KvMetric_CloseAndDeleteKey(m), S_OK);
  EXPECT_NE(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Calbrey\\VogMetricScratch\\5.2\\Metrics\\Rules", &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Calbrey\\VogMetricScratch\\5.2\\Metrics", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  KvMetric_DeleteAll(L"VogMetricScratch", kVersion);
  EXPECT_NE(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Calbrey\\VogMetricScratch\\5.2\\Metrics", &key), ERROR_SUCCESS);
}

TEST(KvMetric, HandlesWithoutKey) {
  for (HKVMETRIC h : {static_cast<HKVMETRIC>(nullptr), KV_METRIC_DEFAULT}) {
    EXPECT_EQ(KvGetMetric(h, 1), 0u);
    EXPECT_EQ(KvGetMetricEx(h, 1, 0, 10, 50), 50);  // unclamped default
    EXPECT_EQ(KvGetMetricBool(h, 1, 7), 7);
    EXPECT_EQ(KvSetMetric(h, 1, 1), E_FAIL);
    EXPECT_EQ(KvSetMetricString(h, 1, L"x"), E_FAIL);
    EXPECT_EQ(KvSetMetricBinary(h, 1, "x", 1), E_FAIL);
    wchar_t buf[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(KvGetMetricStringEx(h, 1, buf, 4, L"d", FALSE), 1);
    DWORD stored = 5;
    EXPECT_EQ(KvGetMetricBinaryEx(h, 1, buf, 8, &stored), KV_E_NOTFOUND);
    EXPECT_EQ(KvGetMetricAny(h, 1, REG_DWORD, buf, 8, &stored), E_UNEXPECTED);
    EXPECT_EQ(KvDoesMetricExist(h, 1, REG_DWORD), S_FALSE);
    EXPECT_EQ(KvDeleteMetric(h, 1, REG_DWORD), S_FALSE);
  }
  EXPECT_EQ(KvMetric_Close(nullptr), S_OK);
  EXPECT_EQ(KvMetric_CloseAndDeleteKey(nullptr), E_FAIL);
  HKVMETRIC sub = reinterpret_cast<HKVMETRIC>(1);
  EXPECT_EQ(KvMetric_OpenSubKey(&sub, nullptr, L"x"), E_FAIL);
  EXPECT_EQ(sub, nullptr);
}

}  // namespace
