// The format-name exports of the DLL over the plug-in's 15 presets: each
// template's description, made by KvFio_MakeTemplateDescription as a host
// calls it, names the preset's sample rate, channels and AAC object type, and
// every export of the format-name fragment resolves.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>

#include "render_class_fixture.h"
#include "vog_exports.h"
#include "vog_paths.h"
#include "vogaac2_presets.h"

namespace {

typedef HRESULT(__stdcall* MakeDescriptionFn)(const tagKVTEMPLATExV2*, DWORD, wchar_t*, int);
typedef HRESULT(__stdcall* AudioNameFn)(DWORD, wchar_t*, int, BOOL);

template <class Fn>
Fn Export(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName(name).c_str())));
}

class TemplateDescription : public RenderClassFixture {};

TEST_F(TemplateDescription, EveryPresetDescribesItsFormat) {
  auto describe = Export<MakeDescriptionFn>(dll_.module(), "_KvFio_MakeTemplateDescription@16");
  auto audioName = Export<AudioNameFn>(dll_.module(), "_KvAudio_GetCompressionTypeName@16");
  ASSERT_TRUE(describe && audioName);
  int count = 0;
  ASSERT_EQ(S_OK, cls_->GetTemplateCount(&count));
  ASSERT_EQ(count, kAacPresetCount);
  for (int i = 0; i < count; ++i) {
    tagKVTEMPLATExV2* t = nullptr;
    ASSERT_EQ(S_OK, cls_->GetTemplate(&t, i));
    const AacPresetRecord& rec = AacPreset(i);
    wchar_t text[512];
    ASSERT_EQ(S_OK, describe(t, 0, text, 512));
    std::free(t);

    // Parametric-stereo presets name the one channel they code.
    const wchar_t* channels = AacTemplateChannels(rec.channelMode) == 1 ? L"Mono" : L"Stereo";
    const DWORD tag = rec.objectType == kAacObjectTypeLc ? 0xAAC0 : rec.objectType == kAacObjectTypeHe ? 0xAAC1 : 0xAAC2;
    wchar_t name[64];
    ASSERT_EQ(S_OK, audioName(tag, name, 64, TRUE));
    wchar_t rate[32];
    std::swprintf(rate, 32, L"%u,%03u", static_cast<unsigned>(rec.sampleRate / 1000),
                  static_cast<unsigned>(rec.sampleRate % 1000));
    const std::wstring expected = std::wstring(L"Audio: ") + rate + L" Hz, 16 Bit, " + channels + L", " + name + L"\r\n";
    EXPECT_EQ(std::wstring(text), expected) << "preset " << i;
  }
}

TEST_F(TemplateDescription, FormatNameExportsResolve) {
  std::ifstream in(vogtest::WinePathA(FORMATNAMES_EXPORTS_DEF).c_str());
  ASSERT_TRUE(in.good()) << FORMATNAMES_EXPORTS_DEF;
  std::string line;
  int names = 0;
  while (std::getline(in, line)) {
    const size_t a = line.find_first_not_of(" \t");
    if (a == std::string::npos) continue;
    const size_t b = line.find_first_of(" \t", a);
    const std::string name = line.substr(a, b == std::string::npos ? std::string::npos : b - a);
    EXPECT_NE(GetProcAddress(dll_.module(), VogExportName(name).c_str()), nullptr) << name;
    ++names;
  }
  EXPECT_EQ(names, 15);
}

}  // namespace
