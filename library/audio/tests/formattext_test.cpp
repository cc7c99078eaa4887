// Format texts (Windows only): own tags from the library's English string
// table (carried by this program), foreign tags through Wine's audio
// compression manager, attributes of plain and extensible headers, and the
// bound of the output.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "audio_test_util.h"
#include "kvaudio.h"
#include "kvguids.h"
#include "kvkernel.h"

class FormatText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
};

TEST_F(FormatText, TagTexts) {
  wchar_t buf[64];
  EXPECT_EQ(KvAudio_GetTagText(0xFE01, buf, 64), S_OK);
  EXPECT_EQ(std::wstring(buf), L"PCM (signed)");
  wchar_t small[4];
  EXPECT_EQ(KvAudio_GetTagText(0xFE01, small, 4), S_OK);
  EXPECT_EQ(std::wstring(small), L"PCM");
  EXPECT_EQ(KvAudio_GetTagText(3, buf, 64), S_OK);
  EXPECT_EQ(std::wstring(buf), L"PCM (float)");
  // Foreign tags: the compression manager knows IMA ADPCM, not 0x1234.
  EXPECT_EQ(KvAudio_GetTagText(0x11, buf, 64), S_OK);
  std::printf("tag 0x11: %ls\n", buf);
  EXPECT_GT(wcslen(buf), 0u);
  EXPECT_EQ(KvAudio_GetTagText(0x1234, buf, 64), E_FAIL);
  EXPECT_EQ(std::wstring(buf), L"Unknown");
}

TEST_F(FormatText, AttribsTexts) {
  wchar_t buf[128];
  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 44100, KVST_S16, 2);
  EXPECT_EQ(KvAudio_GetAttribsText(&w, buf, 128), S_OK);
  std::wstring t(buf);
  std::printf("44100 Hz 16-bit stereo: %ls\n", buf);
  EXPECT_NE(t.find(L"Hz"), std::wstring::npos) << t.c_str();
  EXPECT_NE(t.find(L"16 Bit"), std::wstring::npos);
  EXPECT_NE(t.find(L"Stereo"), std::wstring::npos);
  EXPECT_EQ(t.find(L"Float"), std::wstring::npos);

  WAVEFORMATEXTENSIBLE x = kvtest::MakeExt(32, 32, 8, 0x63F, kKvSubtypeFloat);
  EXPECT_EQ(KvAudio_GetAttribsText(&x.Format, buf, 128), S_OK);
  t = buf;
  std::printf("8-channel float 0x63F: %ls\n", buf);
  EXPECT_NE(t.find(L"7.1"), std::wstring::npos) << t.c_str();
  EXPECT_NE(t.find(L"IEEE Float"), std::wstring::npos);

  KvAudio_InitWfx(&w, 48000, KVST_S24, 5);
  EXPECT_EQ(KvAudio_GetAttribsText(&w, buf, 128), S_OK);
  EXPECT_NE(std::wstring(buf).find(L"5 Channel"), std::wstring::npos);

  // Bounded: a small buffer holds the start of the text and its terminator.
  wchar_t tiny[8];
  wmemset(tiny, L'#', 8);
  KvAudio_InitWfx(&w, 44100, KVST_S16, 2);
  EXPECT_EQ(KvAudio_GetAttribsText(&w, tiny, 6), S_OK);
  EXPECT_EQ(tiny[6], L'#');
  EXPECT_LE(wcslen(tiny), 5u);

  // Record form, and a compressed format through the compression manager.
  _kvwaveformat r;
  r.Init(44100, KVST_FLOAT, 2, 0, 32);
  EXPECT_EQ(KvAudio_GetAttribsText(&r, buf, 128u), S_OK);
  EXPECT_NE(std::wstring(buf).find(L"IEEE Float"), std::wstring::npos);
  std::vector<uint8_t> ima = kvtest::MakeCompressedHeader(0x11, 2, 44100, 44359, 2048, 4, 2);
  WAVEFORMATEX* c = reinterpret_cast<WAVEFORMATEX*>(ima.data());
  *reinterpret_cast<WORD*>(ima.data() + 18) = 2041;
  HRESULT hr = KvAudio_GetAttribsText(c, buf, 128);
  if (hr == S_OK)
    EXPECT_GT(wcslen(buf), 0u);
  else
    EXPECT_EQ(std::wstring(buf), L"Unknown");
  c->wFormatTag = 0x1234;
  EXPECT_EQ(KvAudio_GetAttribsText(c, buf, 128), E_FAIL);
  EXPECT_EQ(std::wstring(buf), L"Unknown");
}
