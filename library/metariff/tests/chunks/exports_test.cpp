// The metadata-chunk functions as the DLL exports them: every name is there,
// and a sidecar name and a marker write go through the exported entries.
#include <gtest/gtest.h>

#include "chunk_test_util.h"
#include "kvfmmeta.h"
#include "vog_exports.h"

using namespace chunktest;

namespace {

template <typename F>
F Proc(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName(name).c_str())));
}

TEST(FMMetaExports, CalledThroughTheDll) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(nullptr, dll);
  const char* names[] = {
      "_KvFMMeta_ChangeAttachedFilename@8", "_KvFMMeta_CreateMetaName@16",
      "_KvFMMeta_DeleteMetaChunks@4",       "_KvFMMeta_DeleteMetaChunksEx@12",
      "_KvFMMeta_IsMetaFile@8",             "_KvFMMeta_LookForMarkers@4",
      "_KvFMMeta_UpdateMetaStream2@20",     "_KvFMMeta_UpdateMetaStream@16",
      "_KvFMMeta_UpdateMetaStreamEx@20",    "_KvFMMeta_WriteMetaStream@16",
      "_KvFMMeta_WriteMetaStreamEx@20",     "_KvFMMeta_openAndWriteMetaStream@20",
      "_KvFMMeta_openAndWriteMetaStreamEx@24", "_KvFMMeta64_UpdateMetaStream@20",
      "_KvFMMeta64_openAndWriteMetaStream@24",
  };
  for (const char* n : names) EXPECT_NE(nullptr, Proc<void*>(dll, n)) << n;

  typedef HRESULT(__stdcall * CreateName)(const wchar_t*, wchar_t*, long, BOOL);
  auto createName = Proc<CreateName>(dll, "_KvFMMeta_CreateMetaName@16");
  ASSERT_NE(nullptr, createName);
  wchar_t out[64];
  EXPECT_EQ(S_OK, createName(L"C:\\a\\song.wav", out, 64, FALSE));
  EXPECT_STREQ(L"C:\\a\\song.kvl", out);

  if (rifftest::FixtureExists("metachunks/plain.wav")) {
    metariff::ScratchDir dir;
    std::wstring wav = dir.Path(L"dll.wav");
    CopyFileW(rifftest::FixturePath("metachunks/plain.wav").c_str(), wav.c_str(), FALSE);
    typedef HRESULT(__stdcall * Write)(const wchar_t*, BOOL, unsigned long, IKvReadMeta*);
    typedef HRESULT(__stdcall * Look)(const wchar_t*);
    auto write = Proc<Write>(dll, "_KvFMMeta_WriteMetaStream@16");
    auto look = Proc<Look>(dll, "_KvFMMeta_LookForMarkers@4");
    ASSERT_TRUE(write && look);
    StandInMeta meta;
    meta.hasMarkers = true;
    meta.markers = LegacyMarkers({{10000000, 0, false, L"one"}});
    EXPECT_EQ(static_cast<HRESULT>(0x8004E00A), look(wav.c_str()));
    EXPECT_EQ(S_OK, write(wav.c_str(), FALSE, 44100, &meta));
    EXPECT_EQ(S_OK, look(wav.c_str()));
    EXPECT_EQ(0, meta.Leaked());
  }
  FreeLibrary(dll);
}

}  // namespace
