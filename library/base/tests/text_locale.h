// Test helper: which locale the test runs under. CTest runs the text tests
// once with LC_ALL=en_US.UTF-8 and once with de_DE.UTF-8 and says which in
// VOG_EXPECT_LANG; the check below makes sure Wine really took it.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

inline bool KvTestGerman() { return PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_GERMAN; }

// English or German expectation.
inline std::wstring EnDe(const wchar_t* en, const wchar_t* de) { return KvTestGerman() ? de : en; }

inline void KvTestCheckLocale() {
  const char* want = getenv("VOG_EXPECT_LANG");
  if (!want) return;
  WORD primary = PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID()));
  if (std::string(want) == "de") {
    ASSERT_EQ(primary, LANG_GERMAN) << "LC_ALL=de_DE.UTF-8 did not reach Wine";
  } else if (std::string(want) == "en") {
    ASSERT_EQ(primary, LANG_ENGLISH) << "LC_ALL=en_US.UTF-8 did not reach Wine";
  }
}
