// The format engine: the "$" conversions in English and German settings,
// tokens, pass-through conversions against the platform's formatter, and
// regrouping against Windows' GetNumberFormatW.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvnumtext.h"
#include "kvkernel.h"
#include "kvprintf.h"
#include "text_locale.h"

namespace {

class PrintF : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
  void SetUp() override { KvTestCheckLocale(); }
};

std::wstring P(const wchar_t* format, ...) {
  static wchar_t buf[16384];
  va_list args;
  va_start(args, format);
  int n = KvVPrintF(buf, format, args);
  va_end(args);
  EXPECT_EQ(static_cast<size_t>(n), wcslen(buf)) << format;
  return buf;
}

std::wstring Platform(const wchar_t* format, ...) {
  wchar_t buf[512];
  va_list args;
  va_start(args, format);
  _vsnwprintf(buf, 511, format, args);
  va_end(args);
  buf[511] = 0;
  return buf;
}

}  // namespace

TEST_F(PrintF, EscapesAndLiterals) {
  EXPECT_EQ(P(L"$$5"), L"$5");
  EXPECT_EQ(P(L"100%%"), L"100%");
  EXPECT_EQ(P(L"a$%b"), L"a%b");
  EXPECT_EQ(P(L""), L"");
  EXPECT_EQ(P(L"%-5"), L"%-5");
  EXPECT_EQ(P(L"tail $"), L"tail $");
  EXPECT_EQ(P(L"$(NoSuchToken)"), L"$(NoSuchToken)");
  EXPECT_EQ(P(L"open $(Name"), L"open $(Name");
  EXPECT_EQ(P(L"$(12"), L"$(12");
}

TEST_F(PrintF, LocaleNumbers) {
  EXPECT_EQ(P(L"$d Hz", 44100), EnDe(L"44,100 Hz", L"44.100 Hz"));
  EXPECT_EQ(P(L"%d Hz", 44100), L"44100 Hz");
  EXPECT_EQ(P(L"%.2z", 12345), EnDe(L"123.45", L"123,45"));
  EXPECT_EQ(P(L"$.2z", 1234567), EnDe(L"12,345.67", L"12.345,67"));
  EXPECT_EQ(P(L"$.1z", -35), EnDe(L"-3.5", L"-3,5"));
  EXPECT_EQ(P(L"%5z", 7), L"    7");
  EXPECT_EQ(P(L"$z", 1234567), EnDe(L"1,234,567", L"1.234.567"));
  EXPECT_EQ(P(L"$(1234567.5)"), EnDe(L"1,234,567.5", L"1.234.567,5"));
  EXPECT_EQ(P(L"$(-1234)"), EnDe(L"-1,234", L"-1.234"));
  EXPECT_EQ(P(L"$d", -1234567), EnDe(L"-1,234,567", L"-1.234.567"));
  EXPECT_EQ(P(L"$u", 4000000000u), EnDe(L"4,000,000,000", L"4.000.000.000"));
  EXPECT_EQ(P(L"$ld", 1000L), EnDe(L"1,000", L"1.000"));
  EXPECT_EQ(P(L"$8d|", 12345), EnDe(L"   12,345|", L"   12.345|"));  // blanks kept as printed
  EXPECT_EQ(P(L"$-8d|", 12345), EnDe(L"12,345   |", L"12.345   |"));
  EXPECT_EQ(P(L"$05d", 42), L"00042");
  EXPECT_EQ(P(L"$x", 0x12345), L"12345");
  EXPECT_EQ(P(L"$I64d", 1234567890123LL), EnDe(L"1,234,567,890,123", L"1.234.567.890.123"));
  EXPECT_EQ(P(L"$.3f", 1234.5), EnDe(L"1,234.500", L"1.234,500"));
  EXPECT_EQ(P(L"$.0f", 0.25), L"0");
  EXPECT_EQ(P(L"$.2f", 0.5), EnDe(L"0.50", L"0,50"));
  EXPECT_EQ(P(L"$g", 1234.5), EnDe(L"1234.5", L"1234,5"));
  EXPECT_EQ(P(L"$e", 1234.5), Platform(L"%e", 1234.5));
  EXPECT_EQ(P(L"$ld Hz$, $d Bit$, VBR$, %s", 48000L, 16, L"Stereo"),
            EnDe(L"48,000 Hz, 16 Bit, VBR, Stereo", L"48.000 Hz; 16 Bit; VBR; Stereo"));
}

TEST_F(PrintF, Separators) {
  EXPECT_EQ(P(L"$:"), L":");
  EXPECT_EQ(P(L"$*"), EnDe(L".", L","));
  EXPECT_EQ(P(L"$,"), EnDe(L",", L";"));
  EXPECT_EQ(P(L"$!:$!.$!,"), L":.,");
  EXPECT_EQ(P(L"$!x"), L"x");  // an unknown follower writes nothing and stays
  EXPECT_EQ(P(L"$&:$&."), L"..");
}

TEST_F(PrintF, PassThroughMatchesPlatform) {
  struct Case {
    const wchar_t* format;
    int value;
  } ints[] = {{L"%d", -5}, {L"%5d", 42}, {L"%-5d|", 42}, {L"%05d", -42}, {L"%x", 0xBEEF}, {L"%08X", 0xBEEF},
              {L"%o", 8}, {L"%u", -1}, {L"%+d", 7}, {L"%04hX", 0x12345}, {L"%i", 123}};
  for (const Case& c : ints) EXPECT_EQ(P(c.format, c.value), Platform(c.format, c.value)) << c.format;
  const wchar_t* doubles[] = {L"%f", L"%.3f", L"%10.2f", L"%e", L"%.2E", L"%g", L"%G"};
  for (const wchar_t* f : doubles) EXPECT_EQ(P(f, 3.14159), Platform(f, 3.14159)) << f;
  EXPECT_EQ(P(L"%I64d", -1234567890123LL), L"-1234567890123");
  EXPECT_EQ(P(L"%I64x", 0x123456789ALL), L"123456789a");
}

TEST_F(PrintF, ArgumentsStayAligned) {
  EXPECT_EQ(P(L"%dx%dx%d", 640, 480, 24), L"640x480x24");
  EXPECT_EQ(P(L"%I64d %d %s", 5000000000LL, 7, L"end"), L"5000000000 7 end");
  // A 64-bit size prefix after flags or width still takes a 64-bit argument.
  EXPECT_EQ(P(L"%12I64d|%d", 5000000000LL, 7), L"  5000000000|7");
  EXPECT_EQ(P(L"%lld|%d", 5000000000LL, 7), L"5000000000|7");
  EXPECT_EQ(P(L"%s %.2f %d %c", L"a", 1.5, 3, L'z'), L"a 1.50 3 z");
}

TEST_F(PrintF, NoStoreThroughArguments) {
  int target = 5;
  EXPECT_EQ(P(L"%nd|%d", &target, 7), P(L"%d|%d", &target, 7));
  EXPECT_EQ(target, 5);
}

TEST_F(PrintF, TextsAndCharacters) {
  EXPECT_EQ(P(L"[%s]", L"wide text"), L"[wide text]");
  EXPECT_EQ(P(L"[%10s]", L"abc"), L"[       abc]");
  EXPECT_EQ(P(L"[%-4s]", L"ab"), L"[ab  ]");
  EXPECT_EQ(P(L"[%.2s]", L"abcdef"), L"[ab]");
  EXPECT_EQ(P(L"[%hs]", "narrow"), L"[narrow]");
  EXPECT_EQ(P(L"%c%c", L'O', L'K'), L"OK");
  // A plain "%s" is copied whole, beyond the platform formatter's 1,024.
  std::wstring longText(3000, L'x');
  longText += L"END";
  EXPECT_EQ(P(L"%s", longText.c_str()), longText);
}

TEST_F(PrintF, Tokens) {
  EXPECT_EQ(P(L"$(prod)"), L"$(prod)");
  ASSERT_TRUE(KvPrintF_AddToken(L"Prod", L"X"));
  EXPECT_EQ(P(L"$(prod) $(PROD) $(Prod)"), L"X X X");
  ASSERT_TRUE(KvPrintF_AddToken(L"PROD", L"Second"));
  EXPECT_EQ(P(L"$(prod)"), L"Second");
  ASSERT_TRUE(KvPrintF_AddToken(L"A", L"1"));
  ASSERT_TRUE(KvPrintF_AddToken(L"zz", L"26"));
  EXPECT_EQ(P(L"$(a)$(ZZ)$(prod)"), L"126Second");
  EXPECT_TRUE(KvPrintF_DeleteToken(L"prod"));
  EXPECT_FALSE(KvPrintF_DeleteToken(L"prod"));
  EXPECT_EQ(P(L"$(Prod)"), L"$(Prod)");
  EXPECT_FALSE(KvPrintF_AddToken(L"Null", nullptr));
}

// The reload of the international record at initialisation registered the
// separator tokens, with the labels built from the library's strings.
TEST_F(PrintF, SeparatorTokens) {
  EXPECT_EQ(P(L"$(SMPTE.Whole)$(SMPTE.NonDrop)$(SMPTE.Drop)$(m.b)$(b.t)"), L":.,..");
  EXPECT_EQ(P(L"$(SMPTE.Label.NonDrop)"), L"hr:mn:sc.fr");
  EXPECT_EQ(P(L"$(SMPTE.Label.Drop)"), L"hr:mn:sc,fr");
  EXPECT_EQ(P(L"$(smpte.label.drop.full)"), L"hours:minutes:seconds,frames");
  EXPECT_EQ(P(L"$(MusicTime.Label)"), L"ms.bt.tk");
  EXPECT_EQ(P(L"$(MusicTime.Label.Full)"), L"measures.beats.ticks");
}

// Several threads add, delete and format tokens at once; every reference
// gives either the token's value or the reference unchanged.
TEST_F(PrintF, TokensFromSeveralThreads) {
  struct Worker {
    static DWORD WINAPI Run(void* arg) {
      int id = static_cast<int>(reinterpret_cast<INT_PTR>(arg));
      wchar_t name[16], value[16], out[64];
      swprintf(name, 16, L"T%d", id);
      swprintf(value, 16, L"v%d", id);
      std::wstring ref = L"$(" + std::wstring(name) + L")";
      for (int i = 0; i < 500; ++i) {
        if (!KvPrintF_AddToken(name, value)) return 1;
        KvPrintF(out, ref.c_str());
        if (wcscmp(out, value) != 0) return 2;
        KvPrintF(out, L"$(SMPTE.Whole)");
        if (wcscmp(out, L":") != 0) return 3;
        if (!KvPrintF_DeleteToken(name)) return 4;
        KvPrintF(out, ref.c_str());
        if (ref != out) return 5;
      }
      return 0;
    }
  };
  HANDLE threads[6];
  for (int i = 0; i < 6; ++i)
    threads[i] = CreateThread(nullptr, 0, Worker::Run, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr);
  WaitForMultipleObjects(6, threads, TRUE, INFINITE);
  for (HANDLE t : threads) {
    DWORD code = 99;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(t);
  }
}

TEST_F(PrintF, BoundedForm) {
  wchar_t buf[8];
  EXPECT_EQ(KvPrintFN(buf, 5, L"%s", L"abcdefgh"), 4);
  EXPECT_STREQ(buf, L"abcd");
  EXPECT_EQ(KvPrintFN(buf, 8, L"$d", 1234567), 7);
  EXPECT_STREQ(buf, EnDe(L"1,234,5", L"1.234.5").c_str());
  EXPECT_EQ(KvPrintFN(buf, 1, L"abc"), 0);
  EXPECT_STREQ(buf, L"");
}

TEST_F(PrintF, FormatCodesAndCompose) {
  EXPECT_TRUE(KvHasFormatCodes(L"50%"));
  EXPECT_TRUE(KvHasFormatCodes(L"$d"));
  EXPECT_FALSE(KvHasFormatCodes(L"plain"));
  EXPECT_FALSE(KvHasFormatCodes(L""));
  wchar_t buf[64];
  EXPECT_EQ(KvComposeStr(buf, 64, L"%2 before %1", L"one", L"two"), 14u);
  EXPECT_STREQ(buf, L"two before one");
}

// Regrouping agrees with the platform's number formatter given the locale's
// own settings read straight from GetLocaleInfoW. (Wine 8's formatter with a
// null format misreads the grouping "3;0" as 30 and groups only once, so the
// settings are passed explicitly, as the library does.)
TEST_F(PrintF, RegroupingAgreesWithGetNumberFormat) {
  wchar_t thousand[8], decimal[8], grouping[16], lz[4];
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, 8);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, grouping, 16);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ILZERO, lz, 4);
  unsigned seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    unsigned long long v = (static_cast<unsigned long long>(seed) << 20) ^ (seed >> 3);
    v %= 10000000000000ULL;
    int digits = static_cast<int>(seed % 4);
    bool negative = (seed >> 8) & 1;
    wchar_t raw[64];
    if (digits)
      swprintf(raw, 64, L"%s%llu.%0*u", negative ? L"-" : L"", v / 1000, digits, static_cast<unsigned>(v % 1000) % (digits == 1 ? 10 : digits == 2 ? 100 : 1000));
    else
      swprintf(raw, 64, L"%s%llu", negative ? L"-" : L"", v);
    NUMBERFMTW f = {static_cast<UINT>(digits), static_cast<UINT>(_wtoi(lz)), static_cast<UINT>(_wtoi(grouping)),
                    decimal, thousand, 1};
    wchar_t expected[128], ours[128];
    ASSERT_GT(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, raw, &f, expected, 128), 0) << raw;
    KvFormatGroupDecimalNumber(raw, ours, 128, -1);
    ASSERT_STREQ(ours, expected) << "input " << raw << " seed " << seed;
    // And the same through the engine's literal numbers.
    std::wstring literal = L"$(" + std::wstring(raw) + L")";
    ASSERT_EQ(P(literal.c_str()), std::wstring(expected)) << raw;
  }
}

// English grouping agrees with Python's '{:,}' rule, written out here.
TEST_F(PrintF, EnglishGroupingEveryThreeDigits) {
  if (KvTestGerman()) GTEST_SKIP() << "English only";
  for (unsigned long long v : {0ULL, 7ULL, 999ULL, 1000ULL, 65535ULL, 999999ULL, 1000000ULL, 4294967295ULL,
                               18446744073709551615ULL}) {
    std::string d = std::to_string(v), g;
    for (size_t i = 0; i < d.size(); ++i) {
      if (i && (d.size() - i) % 3 == 0) g += ',';
      g += d[i];
    }
    EXPECT_EQ(P(L"$I64u", v), std::wstring(g.begin(), g.end()));
  }
}
