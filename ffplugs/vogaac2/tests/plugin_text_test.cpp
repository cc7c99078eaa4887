// The plug-in's text lookup (linked into the test with the plug-in's core),
// over the string tables of the built DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include "kvlang.h"
#include "module.h"
#include "plugin_text.h"

namespace {

TEST(PluginText, InfoId10IsTheBitmapId) {
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPluginText(10)), 1020u);
}

// The module's language handle over the DLL's own (English) string tables.
class PluginTextOverStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_ = LoadLibraryW(L"vogaac2.dll");
    ASSERT_NE(dll_, nullptr);
    ASSERT_EQ(KvLang_Open(&lang_, dll_, 1033, 0), S_OK);
    vogaac2::SetModuleLanguage(lang_);
  }
  void TearDown() override {
    vogaac2::SetModuleLanguage(nullptr);
    KvLang_Close(lang_);
    if (dll_) FreeLibrary(dll_);
  }
  HMODULE dll_ = nullptr;
  HKVLANG lang_ = nullptr;
};

TEST_F(PluginTextOverStrings, TableRowsGiveTheirStrings) {
  struct Case {
    int infoId;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"Tessaly AAC"},         {1, L"Tessaly HE-AAC"},
      {2, L"$d Kbps, $ld Hz, %s"}, {3, L"Mono"},
      {4, L"Stereo"},              {5, L"$ld Hz$, $d Bit$, VBR$, %s"},
      {9, L"*.mp4"},               {11, L"%s File Format Plug-In"},
      {12, L"Tessaly AAC"},
  };
  for (const Case& c : cases) EXPECT_STREQ(GetPluginText(c.infoId), c.text) << "info id " << c.infoId;
  // The about-box credit and web address exist; 14 and 15 are the same string.
  EXPECT_STRNE(GetPluginText(13), L"");
  EXPECT_STRNE(GetPluginText(14), L"");
  EXPECT_EQ(GetPluginText(14), GetPluginText(15));
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPluginText(10)), 1020u);
}

TEST_F(PluginTextOverStrings, IdsWithoutARowGiveAnEmptyText) {
  for (int id : {6, 7, 8, 16, 100, -1}) {
    const wchar_t* text = GetPluginText(id);
    ASSERT_NE(text, nullptr) << "id " << id;
    EXPECT_STREQ(text, L"") << "id " << id;
  }
}

TEST(PluginText, WithoutALanguageHandleTextsAreEmptyNotNull) {
  for (int id : {0, 1, 2, 3, 4, 5, 6, 9, 11, 12, 13, 14, 15}) {
    const wchar_t* text = GetPluginText(id);
    ASSERT_NE(text, nullptr) << "id " << id;
    EXPECT_STREQ(text, L"") << "id " << id;
  }
}

}  // namespace
