// Four-character codes: value layout, character classes, ordering, printing.
#include <gtest/gtest.h>

#include <sstream>

#include "fourcc.h"

using fileutil::FCC;
using fileutil::FourCC;

TEST(FourCC, ValueHoldsCharactersInFileOrder) {
  EXPECT_EQ(0x766F6F6Du, FourCC("moov").GetValue());
  EXPECT_EQ(FourCC('m', 'o', 'o', 'v'), FourCC(FCC("moov")));
  EXPECT_EQ(0u, FourCC().GetValue());
  EXPECT_EQ(0xA9u, FourCC(FCC("\xA9" "nam")).Byte(0));
}

TEST(FourCC, CharacterClasses) {
  struct Row {
    const char* code;
    bool printable;
    bool upperAlnum;
  } rows[] = {{"\xA9nam", true, false}, {"url ", true, false}, {"----", true, false},
              {"TIT2", true, true},     {"tit2", true, false}, {"TI-2", true, false}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.printable, FourCC(r.code).IsPrintable()) << r.code;
    EXPECT_EQ(r.upperAlnum, FourCC(r.code).IsUpperAlnum()) << r.code;
  }
  EXPECT_FALSE(FourCC().IsPrintable());
}

TEST(FourCC, OrdersByValueNotAlphabet) {
  fileutil::FourCCCmp less;
  EXPECT_TRUE(less(FourCC("trak"), FourCC("moov")));
  EXPECT_FALSE(less(FourCC("moov"), FourCC("trak")));
}

TEST(FourCC, Printing) {
  std::ostringstream a;
  a << FourCC() << "|" << FourCC(0x2010FF80u) << "|" << FourCC("moov");
  EXPECT_EQ("00 00 00 00|80 ff 10 20|moov", a.str());
  std::wostringstream w;
  w << FourCC(FCC("\xA9" "nam"));
  EXPECT_EQ(std::wstring(L"\u00A9nam"), w.str());
}
