// The plug-in's text lookup (linked into the test with the plug-in's core).
#include <gtest/gtest.h>

#include "plugin_text.h"

namespace {

TEST(PluginText, InfoId10IsTheBitmapId) {
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPluginText(10)), 1020u);
}

TEST(PluginText, EveryOtherIdGivesAText) {
  // Ids without a row give an empty text; ids with a row give the string-table
  // text (empty where the module has no such string). Never null.
  for (int id : {6, 7, 8, 16, 100, -1}) {
    const wchar_t* text = GetPluginText(id);
    ASSERT_NE(text, nullptr) << "id " << id;
    EXPECT_STREQ(text, L"") << "id " << id;
  }
  for (int id : {0, 1, 2, 3, 4, 5, 9, 11, 12, 13, 14, 15}) EXPECT_NE(GetPluginText(id), nullptr) << "id " << id;
}

}  // namespace
