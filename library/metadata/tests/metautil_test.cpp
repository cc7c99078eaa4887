// Code-page conversions, numbers at the start of a text and path extensions.
#include "metatest_util.h"
#include "metautil.h"

using namespace fileutil;

namespace {

TEST(MetaUtil, MacintoshCodePageRoundTripsEveryByte) {
  // Known Mac Roman positions (as Python's mac_roman codec maps them).
  struct Case {
    uint8_t byte;
    uint32_t unicode;
  } cases[] = {{'A', 0x41}, {0x8E, 0xE9}, {0xA5, 0x2022}, {0xAA, 0x2122}, {0xC7, 0xAB},
               {0xDB, 0x20AC}, {0xF0, 0xF8FF}, {0xFF, 0x2C7}};
  for (auto& c : cases) {
    char b = char(c.byte);
    std::wstring w = MultiByteToWString(&b, 1, kCodePageMacintosh);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(uint32_t(w[0]), c.unicode) << int(c.byte);
  }
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(char(i));
  std::wstring wide = MultiByteToWString(all.data(), all.size(), kCodePageMacintosh);
  EXPECT_EQ(WStringToMultiByte(wide, kCodePageMacintosh), all);
  EXPECT_EQ(WStringToMultiByte(L"\x65E5", kCodePageMacintosh), "?");
}

TEST(MetaUtil, Utf8AndLatin1Conversions) {
  std::wstring w = metatest::W("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x8E\xB5");
  EXPECT_EQ(WStringToMultiByte(w, kCodePageUtf8), "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x8E\xB5");
  EXPECT_EQ(WStringToMultiByte(metatest::W("\xC3\xA9\xE6\x97\xA5"), kCodePageLatin1), "\xE9?");
  EXPECT_EQ(MultiByteToWString("\xE9", 1, kCodePageLatin1), std::wstring(1, wchar_t(0xE9)));
  EXPECT_EQ(MultiByteToWString(nullptr, 5, kCodePageUtf8), L"");
}

TEST(MetaUtil, LeadingNumbersAndExtensions) {
  struct Case {
    const wchar_t* text;
    uint32_t maximum;
    uint32_t value;
  } numbers[] = {{L"7", 65535, 7},       {L"3/12", 65535, 3}, {L" 42", 65535, 42}, {L"+5", 65535, 5},
                 {L"x7", 65535, 0},      {L"", 65535, 0},     {L"-3", 65535, 0},  {L"99999", 65535, 65535},
                 {L"2024-05-01", 65535, 2024}};
  for (auto& c : numbers) EXPECT_EQ(ParseLeadingNumber(c.text, c.maximum), c.value);
  EXPECT_EQ(GetFileExtension(L"C:\\a\\b.M4A"), L"M4A");
  EXPECT_EQ(GetFileExtension(L"a.b.c"), L"c");
  EXPECT_EQ(GetFileExtension(L"noext"), L"");
  uint8_t b[4];
  PutBE32(b, 0x01020304);
  EXPECT_EQ(GetBE32(b), 0x01020304u);
  EXPECT_EQ(GetLE16(b), 0x0201);
  std::stringstream s;
  EXPECT_TRUE(WriteBE16(s, 0x0102) && WriteLE32(s, 0x0A0B0C0D));
  EXPECT_EQ(s.str(), std::string("\x01\x02\x0D\x0C\x0B\x0A", 6));
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  EXPECT_TRUE(ReadBE16(s, v16) && ReadLE32(s, v32));
  EXPECT_EQ(v16, 0x0102);
  EXPECT_EQ(v32, 0x0A0B0C0Du);
  EXPECT_FALSE(ReadBE32(s, v32));
}

}  // namespace
