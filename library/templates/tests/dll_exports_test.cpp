// The template exports of vogaac2.dll: every name of the export fragment
// resolves, and a template built through the exports reads back.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>
#include "vog_exports.h"
#include "vog_paths.h"

namespace {

std::vector<std::string> ExportNames() {
  std::vector<std::string> names;
  // The fragment's path through Wine's Z: drive.
  const std::string path = vogtest::WinePathA(KVTEMPLATES_EXPORTS_DEF);
  std::ifstream in(path.c_str());
  std::string line;
  while (std::getline(in, line)) {
    size_t a = line.find_first_not_of(" \t");
    if (a == std::string::npos) continue;
    size_t b = line.find_first_of(" \t", a);
    names.push_back(line.substr(a, b == std::string::npos ? std::string::npos : b - a));
  }
  return names;
}

TEST(TemplateExports, ResolveAndWork) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr) << GetLastError();
  std::vector<std::string> names = ExportNames();
  ASSERT_GT(names.size(), 30u);
  for (const std::string& n : names) EXPECT_NE(GetProcAddress(dll, VogExportName(n).c_str()), nullptr) << n;

  typedef HRESULT(__stdcall * InitBasic)(void* tmpl, long, const void*, long, const void*, double, int, double);
  typedef DWORD(__stdcall * Crc)(const void*, BOOL);
  typedef HRESULT(__stdcall * Info)(const void*, DWORD, void*, UINT, DWORD);
  auto init = reinterpret_cast<InitBasic>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvFio_InitBasicTemplate@40").c_str())));
  auto crc = reinterpret_cast<Crc>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvFio_GetTemplateDataCRC32@8").c_str())));
  auto info = reinterpret_cast<Info>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvFio_GetTemplateInfo@20").c_str())));
  ASSERT_TRUE(init && crc && info);
  BYTE t[540];
  BITMAPINFOHEADER bih = {40, 64, 48, 1, 32, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(init(t, 0, nullptr, 1, &bih, 25.0, 0, 1.0), S_OK);
  DWORD size = 0;
  std::memcpy(&size, t, 4);
  EXPECT_EQ(size, 540u);
  LONG wh[2] = {};
  EXPECT_EQ(info(t, 2, wh, sizeof wh, 20), S_OK);
  EXPECT_EQ(wh[0], 64);
  EXPECT_EQ(wh[1], 48);
  EXPECT_NE(crc(t, FALSE), 0u);
  FreeLibrary(dll);
}

}  // namespace
