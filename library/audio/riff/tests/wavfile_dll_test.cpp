// The IFF/AIFF and wave-file exports of vogaac2.dll: every name of the two
// export lists resolves, and calls through the DLL work on real files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>
#include "vog_exports.h"
#include "vog_paths.h"

namespace {

std::vector<std::string> ExportNames(const std::string& def) {
  std::vector<std::string> names;
  const std::string path = vogtest::WinePathA(std::string(KVRIFF_SOURCE_DIR) + "/" + def);
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t a = line.find_first_not_of(' ');
    if (a == std::string::npos) continue;
    size_t b = line.find_first_of(" =", a);
    names.push_back(line.substr(a, b == std::string::npos ? std::string::npos : b - a));
  }
  return names;
}

TEST(IffWavExports, ResolveAndWork) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr) << GetLastError();
  size_t count = 0;
  for (const char* def : {"kviff_exports.def", "kvwavfile_exports.def"}) {
    for (const std::string& n : ExportNames(def)) {
      EXPECT_NE(GetProcAddress(dll, VogExportName(n).c_str()), nullptr) << n;
      ++count;
    }
  }
  EXPECT_EQ(23u + 21u, count);

  typedef void(__stdcall * CreateRate)(DWORD, WORD*, WORD*);
  typedef DWORD(__stdcall * ConvertRate)(WORD, const WORD*);
  auto create = reinterpret_cast<CreateRate>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_aiff_CreateRate@12").c_str())));
  auto convert = reinterpret_cast<ConvertRate>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_aiff_ConvertRate@8").c_str())));
  ASSERT_TRUE(create && convert);
  WORD e = 0, m[4] = {};
  create(48000, &e, m);
  EXPECT_EQ(0x400E, e);
  EXPECT_EQ(0xBB80, m[0]);
  EXPECT_EQ(48000u, convert(e, m));

  // A header made through the DLL, read back through the DLL.
  typedef HRESULT(__stdcall * InitWav)(const wchar_t*, const WAVEFORMATEX*, DWORD);
  typedef WAVEFORMATEX*(__stdcall * GetWfx)(const wchar_t*, uint64_t*, uint64_t*);
  auto init = reinterpret_cast<InitWav>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvInitializeWav@12").c_str())));
  auto get = reinterpret_cast<GetWfx>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvGetFileWfx@12").c_str())));
  ASSERT_TRUE(init && get);
  wchar_t dir[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"wvd", 0, path);
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = 1;
  w.nSamplesPerSec = 8000;
  w.wBitsPerSample = 16;
  w.nBlockAlign = 2;
  w.nAvgBytesPerSec = 16000;
  ASSERT_EQ(S_OK, init(path, &w, CREATE_ALWAYS));
  uint64_t frames = 9, offset = 0;
  WAVEFORMATEX* got = get(path, &frames, &offset);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(8000u, got->nSamplesPerSec);
  EXPECT_EQ(0u, frames);
  EXPECT_EQ(46u, offset);
  // The record comes from the runtime's allocator: freed with free.
  free(got);
  DeleteFileW(path);
  FreeLibrary(dll);
}

}  // namespace
