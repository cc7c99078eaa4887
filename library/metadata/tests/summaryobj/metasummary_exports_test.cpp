// The summary object's __stdcall entries as the DLL exports them, and its
// answers that need no file: empty path, null objects, malformed blocks.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "metasummaryobj.h"
#include "vog_exports.h"

namespace {

template <typename F>
F Entry(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName(name).c_str())));
}

TEST(MetaSummaryExports, TheDllExportsEveryEntryUnderItsDecoratedName) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  if (!dll) GTEST_SKIP() << "vogaac2.dll not built";
  const char* names[] = {"_MetaSummary_Create@0",          "_MetaSummary_Destroy@4",
                         "_MetaSummary_SetPath@8",         "_MetaSummary_Reset@4",
                         "_MetaSummary_Read@8",            "_MetaSummary_GetText@20",
                         "_MetaSummary_CreateSummaryStream@12", "_MetaSummary_GetPictureInfo@20",
                         "_MetaSummary_SetPictureValue@16", "_MetaSummary_AddPictureBlock@8",
                         "_MetaSummary_GetSmfmf@12",       "_MetaSummary_GetSmfmfData@8",
                         "_MetaSummary_Write@16"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(dll, VogExportName(name).c_str()), nullptr) << name;
  auto create = Entry<MetaSummary*(__stdcall*)()>(dll, "_MetaSummary_Create@0");
  auto read = Entry<HRESULT(__stdcall*)(MetaSummary*, DWORD)>(dll, "_MetaSummary_Read@8");
  auto destroy = Entry<HRESULT(__stdcall*)(MetaSummary*)>(dll, "_MetaSummary_Destroy@4");
  ASSERT_TRUE(create && read && destroy);
  MetaSummary* object = create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(read(object, 1), KV_E_BADFILENAME);
  EXPECT_EQ(destroy(object), S_OK);
  EXPECT_EQ(destroy(nullptr), S_OK);
  FreeLibrary(dll);
}

TEST(MetaSummaryObject, FailedReadsTouchNoOutputAndBadBlocksAreRefused) {
  MetaSummary* object = MetaSummary_Create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(MetaSummary_Read(nullptr, 1), E_POINTER);
  EXPECT_EQ(MetaSummary_AddPictureBlock(object, nullptr), S_OK);

  const BYTE data[5] = {1, 2, 3, 4, 5};
  KvPicture* block = KvPicture_CreateMeta(3, L"image/png", L"front", sizeof data, data);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(MetaSummary_AddPictureBlock(object, block), S_OK);
  // Every query reads first; with no path it fails and leaves its outputs.
  DWORD blockSize = 0, dataSize = 0;
  EXPECT_EQ(MetaSummary_GetPictureInfo(object, 3, &blockSize, &dataSize, 0), KV_E_BADFILENAME);
  EXPECT_EQ(blockSize, 0u);
  wchar_t text[4] = {L'#', L'#', L'#', L'#'};
  EXPECT_EQ(MetaSummary_GetText(object, 0x4D414E49, text, 4, 1), KV_E_BADFILENAME);
  EXPECT_EQ(text[0], L'#');
  GlobalUnlock(GlobalHandle(block));
  GlobalFree(GlobalHandle(block));

  // A block whose counts pass its total size is refused.
  std::vector<BYTE> bad(sizeof(KvPicture), 0);
  KvPicture* b = reinterpret_cast<KvPicture*>(bad.data());
  b->totalSize = sizeof(KvPicture);
  b->structVersion = 2;
  b->pictureDataSize = 1000;
  EXPECT_EQ(MetaSummary_AddPictureBlock(object, b), E_INVALIDARG);
  EXPECT_EQ(MetaSummary_Write(object, nullptr, nullptr, 1), E_FAIL);
  EXPECT_EQ(MetaSummary_Destroy(object), S_OK);
}

}  // namespace
