// Number text, parsers and name helpers, in English and German settings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kvnumtext.h"
#include "kvkernel.h"
#include "kvprintf.h"
#include "text_locale.h"

namespace {
class NumText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
  void SetUp() override { KvTestCheckLocale(); }
};

std::wstring Regroup(int (__stdcall* fn)(const wchar_t*, wchar_t*, int), const wchar_t* text) {
  wchar_t out[128];
  fn(text, out, 128);
  return out;
}
}  // namespace

TEST_F(NumText, Regrouping) {
  EXPECT_EQ(Regroup(KvFormatNumber, L"00042"), L"00042");
  EXPECT_EQ(Regroup(KvFormatNumber, L"   42"), L"   42");
  EXPECT_EQ(Regroup(KvFormatNumber, L"0"), L"0");
  EXPECT_EQ(Regroup(KvFormatNumber, L"-1234567"), EnDe(L"-1,234,567", L"-1.234.567"));
  EXPECT_EQ(Regroup(KvFormatNumber, L"  1234567"), EnDe(L"  1,234,567", L"  1.234.567"));
  EXPECT_EQ(Regroup(KvFormatDecimalNumber, L"1234567.25"), EnDe(L"1234567.25", L"1234567,25"));
  EXPECT_EQ(Regroup(KvFormatDecimalNumber, L"0.5"), EnDe(L"0.5", L"0,5"));
  EXPECT_EQ(Regroup(KvFormatNumber, L"1.5e+10"), L"1.5e+10");  // not a plain number: unchanged
  wchar_t out[64];
  EXPECT_EQ(KvFormatGroupDecimalNumber(L"1234.5", out, 64, 2), EnDe(L"1,234.50", L"1.234,50").size());
  EXPECT_EQ(std::wstring(out), EnDe(L"1,234.50", L"1.234,50"));
  // Too little room gives an empty text, never a cut number.
  EXPECT_EQ(KvFormatNumber(L"1234567", out, 4), 0);
  EXPECT_STREQ(out, L"");
}

TEST_F(NumText, NumbersToText) {
  wchar_t out[128];
  struct Case {
    long value;
    DWORD flags;
    const wchar_t* en;
    const wchar_t* de;
  } longs[] = {{0, 0, L"0", L"0"}, {-5, 0, L"-5", L"-5"}, {-2147483647 - 1, 0, L"-2147483648", L"-2147483648"},
               {1234567, 1, L"1,234,567", L"1.234.567"}, {-1000, 1, L"-1,000", L"-1.000"}};
  for (const Case& c : longs) {
    int n = KvLongToText(c.value, out, c.flags);
    EXPECT_EQ(std::wstring(out), EnDe(c.en, c.de)) << c.value;
    EXPECT_EQ(static_cast<size_t>(n), wcslen(out));
  }
  KvDWordToText(4294967295u, out, 1);
  EXPECT_EQ(std::wstring(out), EnDe(L"4,294,967,295", L"4.294.967.295"));
  KvDWordLongToText(0xFFFFFFFFu, 0xFFFFFFFFu, out, 0);
  EXPECT_STREQ(out, L"18446744073709551615");
  KvLongLongToText(0, 0x80000000, out, 0);
  EXPECT_STREQ(out, L"-9223372036854775808");
  KvLongLongToText(0xFFFFFFFFu, -1, out, 0);
  EXPECT_STREQ(out, L"-1");
  KvLongLongToText(0x4CB016EAu, 0x2, out, 1);  // 9,876,543,210
  EXPECT_EQ(std::wstring(out), EnDe(L"9,876,543,210", L"9.876.543.210"));
}

TEST_F(NumText, DoubleToText) {
  struct Case {
    double value;
    DWORD digits;
    const wchar_t* text;
  } cases[] = {{-0.004, 2, L"0.00"}, {2.5, 0, L"3"},     {1.05, 1, L"1.1"},       {-1.25, 1, L"-1.3"},
               {0.0, 3, L"0.000"},   {123.456, 9, L"123.456000000"}, {99.995, 2, L"99.99"} /* 99.99499.. in binary */, {99.996, 2, L"100.00"}, {7, 12, L"7.000000000"}};
  wchar_t out[128];
  for (const Case& c : cases) {
    int n = KvDoubleToText(out, c.value, c.digits, 0);
    EXPECT_STREQ(out, c.text) << c.value << " digits " << c.digits;
    EXPECT_EQ(static_cast<size_t>(n), wcslen(out));
  }
  KvDoubleToText(out, 1234567.891, 2, 1);
  EXPECT_EQ(std::wstring(out), EnDe(L"1,234,567.89", L"1.234.567,89"));
  // Values without a 64-bit integer part give a fixed text, not garbage.
  KvDoubleToText(out, NAN, 2, 0);
  EXPECT_STREQ(out, L"NaN");
  KvDoubleToText(out, -INFINITY, 2, 0);
  EXPECT_STREQ(out, L"-Inf");
  KvDoubleToText(out, 1e20, 1, 0);
  EXPECT_STREQ(out, L"100000000000000000000.0");
}

TEST_F(NumText, BitRates) {
  struct Case {
    LONGLONG bps;
    const wchar_t* en;
    const wchar_t* de;
  } cases[] = {{1999, L"1,999 bps", L"1.999 bps"},     {2000, L"2 Kbps", L"2 Kbps"},
               {44100, L"44.1 Kbps", L"44,1 Kbps"},    {128000, L"128 Kbps", L"128 Kbps"},
               {2500000, L"2.5 Mbps", L"2,5 Mbps"},    {320000000, L"320 Mbps", L"320 Mbps"},
               {0, L"0 bps", L"0 bps"},                {1999999, L"2,000 Kbps", L"2.000 Kbps"}};
  for (const Case& c : cases) {
    wchar_t out[64];
    int n = KvFormatBitRateText(c.bps, out, 64);
    EXPECT_EQ(std::wstring(out), EnDe(c.en, c.de)) << c.bps;
    EXPECT_EQ(static_cast<size_t>(n), wcslen(out));
  }
  wchar_t small[5];
  EXPECT_EQ(KvFormatBitRateText(44100, small, 5), 4);
}

TEST_F(NumText, Parsers) {
  const wchar_t* end = nullptr;
  std::wstring grouped = EnDe(L"  1,234 Hz", L"  1.234 Hz");
  EXPECT_EQ(KvTextToDWordToken(grouped.c_str(), &end), 1234u);
  EXPECT_STREQ(end, L" Hz");
  EXPECT_EQ(KvTextToDWordToken(L"-5", &end), 0u);
  EXPECT_EQ(KvTextToDWordToken(L"4294967297", nullptr), 1u);  // wraps modulo 2^32
  EXPECT_EQ(KvTextToDWordLongToken(L"18446744073709551615", nullptr), 18446744073709551615ULL);
  EXPECT_EQ(KvTextToLongToken(L" -42x", &end), -42);
  EXPECT_STREQ(end, L"x");
  EXPECT_EQ(KvTextToLongLongToken(L"-9000000000", nullptr), -9000000000LL);
  EXPECT_EQ(KvHexToDWordToken(L"0x1F", nullptr), 31u);
  EXPECT_EQ(KvHexToDWordToken(L"1f", &end), 31u);
  EXPECT_STREQ(end, L"");
  EXPECT_EQ(KvHexToDWordToken(L" 0XffZ", &end), 255u);
  EXPECT_STREQ(end, L"Z");
  EXPECT_EQ(KvHexToDWordLongToken(L"123456789abcdef0", nullptr), 0x123456789abcdef0ULL);
  std::wstring dbl = EnDe(L"1,234.5", L"1.234,5");
  EXPECT_DOUBLE_EQ(KvTextToDoubleToken(dbl.c_str(), nullptr, TRUE), 1234.5);
  EXPECT_DOUBLE_EQ(KvTextToDoubleToken(L"1,234.5", nullptr, FALSE), 1234.5);
  EXPECT_DOUBLE_EQ(KvTextToDoubleToken(L"-0.25", nullptr, FALSE), -0.25);
}

TEST_F(NumText, ParserExForms) {
  const wchar_t* end = nullptr;
  EXPECT_EQ(KvTextToDWordTokenEx(L"abc", 7, 0, 100, &end), 7u);
  EXPECT_EQ(KvTextToDWordTokenEx(L"", 7, 0, 100, &end), 0u);
  EXPECT_EQ(KvTextToDWordTokenEx(L"500", 7, 0, 100, &end), 100u);
  EXPECT_EQ(KvTextToDWordTokenEx(L"0 ", 7, 3, 100, &end), 3u);
  EXPECT_EQ(KvTextToLongTokenEx(L"-500", 7, -100, 100, &end), -100);
  EXPECT_EQ(KvTextToLongTokenEx(L"x", -7, -100, 100, &end), -7);
  EXPECT_EQ(KvHexToDWordTokenEx(L"zz", 9, 0, 0xFFFFFFFF, &end), 9u);
  EXPECT_EQ(KvHexToDWordTokenEx(L"FFFFFFFF", 9, 0, 0x7FFFFFFF, &end), 0x7FFFFFFFu);  // unsigned compare
  EXPECT_EQ(KvTextToLongLongTokenEx(L"-1", 5, 0, 10, &end), 0);
  EXPECT_EQ(KvTextToDWordLongTokenEx(L"q", 5, 0, 10, &end), 5u);
  EXPECT_EQ(KvHexToDWordLongTokenEx(L"100", 5, 0, 10, &end), 10u);
  EXPECT_DOUBLE_EQ(KvTextToDoubleTokenEx(L"x", 2.5, 0, 10, &end, FALSE), 2.5);
  EXPECT_DOUBLE_EQ(KvTextToDoubleTokenEx(L"11", 2.5, 0, 10, &end, FALSE), 10.0);
}

TEST_F(NumText, NameHelpers) {
  wchar_t out[300];
  KvFourCCToString(0x6134706D, out);  // 'mp4a', first character in the lowest byte
  EXPECT_STREQ(out, L"mp4a");
  KvFourCCToString(0x7F000141, out);
  EXPECT_STREQ(out, L"A...");
  wchar_t text[] = L"  a b \t";
  EXPECT_EQ(KvStripWhiteSpace(text), 3);
  EXPECT_STREQ(text, L"a b");
  wchar_t rep[] = L"a-b-c";
  EXPECT_EQ(KvStringReplaceChars(rep, L'-', L'+'), 5);
  EXPECT_STREQ(rep, L"a+b+c");
  EXPECT_EQ(KvPrepareName(L"   ", out, 10), nullptr);
  EXPECT_EQ(KvPrepareName(nullptr, out, 10), nullptr);
  EXPECT_EQ(KvPrepareName(L"  Name  ", out, 10), out);
  EXPECT_STREQ(out, L"Name");
  EXPECT_EQ(KvFixNameForMenu(out, L"Tom & Jerry", 300), 12);
  EXPECT_STREQ(out, L"Tom && Jerry");
  // Bounded: a doubled '&' is never cut in half.
  EXPECT_EQ(KvFixNameForMenu(out, L"ab&", 4), 2);
  EXPECT_STREQ(out, L"ab");
  std::wstring many(400, L'&');
  EXPECT_EQ(KvFixNameForMenu(out, many.c_str(), 300), 298);
}

TEST_F(NumText, LabeledStrings) {
  EXPECT_STREQ(KvGetLabeledStringFixed(-100, 1, -100, L" dB"), L"-Inf.");
  EXPECT_EQ(std::wstring(KvGetLabeledStringFixed(-35, 1, -100, L" dB")), EnDe(L"-3.5 dB", L"-3,5 dB"));
  EXPECT_EQ(std::wstring(KvGetLabeledStringFixed(12345, 0, 0, nullptr)), EnDe(L"12,345", L"12.345"));
  EXPECT_EQ(std::wstring(KvGetLabeledStringFloat(-3.25f, 2, -100.f, L" dB")), EnDe(L"-3.25 dB", L"-3,25 dB"));
  EXPECT_EQ(std::wstring(KvGetLabeledStringFloat(7.9f, 0, 0, L"%")), L"7%");
  // A suffix longer than the 24-character piece is kept whole.
  std::wstring suffix(100, L's');
  EXPECT_EQ(std::wstring(KvGetLabeledStringFixed(1, 0, 0, suffix.c_str())), L"1" + suffix);
}

TEST_F(NumText, ChannelizeStereoName) {
  struct Case {
    const wchar_t* name;
    BOOL result;
    const wchar_t* left;
    const wchar_t* right;
  } cases[] = {
      {L"Out 1/2", TRUE, L"Out 1", L"Out 2"},
      {L"Front Left/Front Right", TRUE, L"Front Left", L"Front Right"},
      {L"Speakers", TRUE, L"Speakers - Left", L"Speakers - Right"},
      {L"Line Left", FALSE, L"", L""},
      {L"Analog 3-4 (USB)", TRUE, L"Analog 3 (USB)", L"Analog 4 (USB)"},
      {L"In 1/2/3/4", TRUE, L"In 1", L"In 2"},
      {L"Line L/R (Device)", TRUE, L"Line L (Device)", L"Line R (Device)"},
      {L"S/PDIF", TRUE, L"S/PDIF - Left", L"S/PDIF - Right"},
  };
  for (const Case& c : cases) {
    wchar_t left[64] = L"", right[64] = L"";
    EXPECT_EQ(KvChannelizeStereoName(c.name, left, 64, right, 64), c.result) << c.name;
    EXPECT_STREQ(left, c.left) << c.name;
    EXPECT_STREQ(right, c.right) << c.name;
  }
  wchar_t small[6];
  EXPECT_TRUE(KvChannelizeStereoName(L"Speakers", small, 6, nullptr, 0));
  EXPECT_STREQ(small, L"Speak");
}
