// The list parsing of the plug-in cache and profile files: the cases where a
// file's lists are odd (blanks, empty tokens, "*." prefixes, overlong
// tokens, key-name lists without their closing terminator, GUID texts of the
// wrong form).
#include <gtest/gtest.h>

#include <string>

#include "kvfiolist.h"

namespace {

std::u16string Units(const char* s) {
  std::u16string u;
  for (; *s; ++s) u += char16_t(static_cast<unsigned char>(*s));
  return u;
}

const WCHAR* W(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }

TEST(FioList, HoldsExtension) {
  struct Case {
    const char* list;
    const char* ext;
    bool held;
  } cases[] = {
      {"*.m4a;*.MP4", "MP4", true},     {" *.aac ; m4b", "AAC", true}, {"m4b;;  ;", "M4B", true},
      {"*.m4a", "M4", false},           {"*.*", "*", true},            {"", "", false},
      {"*.m4a;x", "X", true},           {"m4a", "M4A ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::u16string list = Units(c.list), ext = Units(c.ext);
    EXPECT_EQ(kvfiolist::HoldsExtension(W(list), W(ext)), c.held);
  }
  // Tokens of 260 characters or more are skipped, never copied.
  std::u16string longToken(300, u'A');
  std::u16string list = longToken + u";B";
  EXPECT_FALSE(kvfiolist::HoldsExtension(W(list), W(longToken)));
  EXPECT_TRUE(kvfiolist::HoldsExtension(W(list), W(std::u16string(u"B"))));
  EXPECT_FALSE(kvfiolist::HoldsExtension(nullptr, W(list)));
}

TEST(FioList, NormaliseAndTokens) {
  struct Case {
    const char* in;
    const char* out;
    int count;  // tokens kept as they stand
  } cases[] = {
      {" m4a ;\t;mp4\t", "m4a;mp4", 3}, {";;;", "", 0}, {"a", "a", 1}, {" ; a b ;", "a b", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::u16string in = Units(c.in);
    WCHAR out[64];
    int n = kvfiolist::Normalise(W(in), out, 64);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out), n), Units(c.out));
    EXPECT_EQ(kvfiolist::CountTokens(W(in)), DWORD(c.count));
  }
  // Cut to the buffer, terminated.
  std::u16string in = Units("abcdef;ghij");
  WCHAR out[5];
  EXPECT_EQ(kvfiolist::Normalise(W(in), out, 5), 4);
  EXPECT_EQ(out[4], 0);
}

TEST(FioList, KeyNamesStayInsideTheList) {
  const WCHAR names[] = {'a', 0, 'b', 'c', 0, 'd', 'e'};  // the last name has no terminator
  size_t cursor = 0, length = 0;
  const WCHAR* name = nullptr;
  ASSERT_TRUE(kvfiolist::NextKeyName(names, 7, &cursor, &name, &length));
  EXPECT_EQ(length, 1u);
  ASSERT_TRUE(kvfiolist::NextKeyName(names, 7, &cursor, &name, &length));
  EXPECT_EQ(name, names + 2);
  EXPECT_EQ(length, 2u);
  EXPECT_FALSE(kvfiolist::NextKeyName(names, 7, &cursor, &name, &length));
}

TEST(FioList, ParseGuid) {
  GUID id = {};
  std::u16string good = Units("{925f94bc-525A-11D2-86DC-00C04F8EDB8A}");
  ASSERT_TRUE(kvfiolist::ParseGuid(W(good), &id));
  EXPECT_EQ(id.Data1, 0x925F94BCu);
  EXPECT_EQ(id.Data2, 0x525A);
  EXPECT_EQ(id.Data3, 0x11D2);
  const BYTE data4[8] = {0x86, 0xDC, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(id.Data4[i], data4[i]);
  const char* bad[] = {
      "925F94BC-525A-11D2-86DC-00C04F8EDB8A",    "{925F94BC-525A-11D2-86DC-00C04F8EDB8A}x",
      "{925F94BC-525A-11D2-86DC00C04F8EDB8A0}",  "{925F94BG-525A-11D2-86DC-00C04F8EDB8A}",
      "{925F94BC-525A-11D2-86DC-00C04F8EDB8}",   "{+25F94BC-525A-11D2-86DC-00C04F8EDB8A}",
      "Calbrey.Reader",
  };
  for (const char* b : bad) {
    SCOPED_TRACE(b);
    std::u16string t = Units(b);
    GUID untouched = {1, 2, 3, {4}};
    EXPECT_FALSE(kvfiolist::ParseGuid(W(t), &untouched));
    EXPECT_EQ(untouched.Data1, 1u);
  }
}

TEST(FioList, PatternExtension) {
  struct Case {
    const char* token;
    const char* ext;  // null: no extension
  } cases[] = {{"*.m4a", ".m4a"}, {"m4a", "m4a"}, {"*.*", nullptr}, {"*.m?a", nullptr}, {"*", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    std::u16string t = Units(c.token);
    WCHAR out[16];
    bool got = kvfiolist::PatternExtension(W(t), int(t.size()), out, 16);
    EXPECT_EQ(got, c.ext != nullptr);
    if (got && c.ext) {
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)), Units(c.ext));
    }
  }
  // An extension longer than the item is skipped, not cut or overrun.
  std::u16string longToken = u"*" + std::u16string(300, u'x');
  WCHAR out[261];
  EXPECT_FALSE(kvfiolist::PatternExtension(W(longToken), int(longToken.size()), out, 261));
}

}  // namespace
