// The audio exports of vogaac2.dll: the names other programs link against
// resolve, and the exported conversion self-test passes inside the DLL.
#include <gtest/gtest.h>
#include <windows.h>
#include "vog_exports.h"

TEST(AudioExports, ResolveAndSelfTestPasses) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr) << GetLastError();
  const char* names[] = {
      "_KvAudio_GetCopyFunction2@8",
      "_KvAudio_ChannelChangeAvg@20",
      "_KvAudio_ResampleOpen@24",
      "_KvAudio_ResampleEx@16",
      "_KvAudio_ResampleClose@4",
      "_KvAudio_AllocAndCopyWfx@8",
      "_Z12KvAudio_CopyPK13tWAVEFORMATEXPvS1_PKvif@24",
      "_Z23KvAudio_GetCopyFunctionPK13tWAVEFORMATEXS1_@8",
      "_ZN13_kvwaveformat4InitEmRK13tWAVEFORMATEX",
      "_ZN6CKvIIR6DesignE10KVIIR_TYPE12KVIIR_DESIGNjdddjm",
  };
  for (const char* n : names) EXPECT_NE(GetProcAddress(dll, VogExportName(n).c_str()), nullptr) << n;
  typedef HRESULT(__stdcall * UnitTest)(void*);
  UnitTest test = reinterpret_cast<UnitTest>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvAudioCopy_UnitTest@4").c_str())));
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test(nullptr), S_OK);
  FreeLibrary(dll);
}
