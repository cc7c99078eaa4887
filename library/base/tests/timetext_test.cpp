// Position text: the examples of each format, and text -> time -> text round
// trips for all twenty formats, in English and German settings.
// Measures and feet reach thousands, where their grouped numbers hold the
// locale's thousand separator.
#include <gtest/gtest.h>

#include <string>

#include "kvkernel.h"
#include "kvprintf.h"
#include "kvtimetext.h"
#include "text_locale.h"

namespace {

class TimeText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
  void SetUp() override { KvTestCheckLocale(); }
};

_kvposfmt Fmt(DWORD code) {
  _kvposfmt f = {};
  f.format = code;
  f.sampleRate = 44100;
  f.frameRate = 25.0;
  f.tempo = 120.0;
  f.origin = 0;
  f.beatUnit = 4;
  f.beatsPerMeasure = 4;
  f.ticksPerBeat = 960;
  return f;
}

std::wstring Text(const _kvposfmt& f, LONGLONG t, BOOL shortForm = FALSE) {
  wchar_t out[256];
  int n = KvNanoTimeToText(out, &f, t, shortForm);
  EXPECT_EQ(static_cast<size_t>(n), wcslen(out));
  return out;
}

const LONGLONG kSecond = 10000000;

}  // namespace

TEST_F(TimeText, Examples) {
  EXPECT_EQ(Text(Fmt(1), 36610000000LL), EnDe(L"01:01:01.000", L"01:01:01,000"));
  EXPECT_EQ(Text(Fmt(1), 36610000000LL, TRUE), L"01:01:01");
  EXPECT_EQ(Text(Fmt(19), 65 * kSecond), L"1:05");
  EXPECT_EQ(Text(Fmt(19), 600 * kSecond), L"10:00");
  EXPECT_EQ(Text(Fmt(19), 3661 * kSecond), L"1:01:01");
  EXPECT_EQ(Text(Fmt(5), 0), L"1.1.000");
  EXPECT_EQ(Text(Fmt(13), 0), L"0.0.000");
  EXPECT_EQ(Text(Fmt(2), -5 * kSecond - kSecond / 4), EnDe(L"-5.250", L"-5,250"));
  EXPECT_EQ(Text(Fmt(2), 1234 * kSecond, TRUE), EnDe(L"1,234", L"1.234"));
  EXPECT_EQ(Text(Fmt(0), kSecond), EnDe(L"44,100", L"44.100"));
  EXPECT_EQ(Text(Fmt(12), 15), L"2");
  EXPECT_EQ(Text(Fmt(8), 1800 * kSecond / 30 * 1001 / 1000), L"00:01:00;02");
  EXPECT_EQ(Text(Fmt(15), 41 * kSecond / 25), L"1+1");
  EXPECT_EQ(Text(Fmt(17), 3 * kSecond + kSecond / 75 * 74), L"00:00:03:74");
  EXPECT_EQ(Text(Fmt(20), 123), L"123");
  _kvposfmt withOrigin = Fmt(11);
  withOrigin.origin = 100;
  EXPECT_EQ(Text(withOrigin, 50), L"-50");
  wchar_t out[64];
  KvNanoTimeToTextEx(out, &withOrigin, 50, 2);  // bit 1: origin left out
  EXPECT_STREQ(out, L"50");
}

TEST_F(TimeText, Parsers) {
  _kvposfmt f = Fmt(3);
  const wchar_t* end = nullptr;
  EXPECT_EQ(KvTextToTimeToken(L"1:30", &f, FALSE, &end), 1300);
  EXPECT_EQ(KvTextToTimeToken(L"5", &f, FALSE, &end), 5000);
  EXPECT_EQ(KvTextToTimeToken(L"1:02:03.4567", &f, FALSE, &end), 3723456);
  EXPECT_EQ(KvTextToTimeToken(L"1:02:03", &f, TRUE, &end), 3723000);
  EXPECT_EQ(KvTextToTimeToken(L"12:", &f, TRUE, &end), 720000);
  EXPECT_EQ(KvTextToHMSFToken(L"10:05", &f, FALSE, &end), 10 * kSecond + 5 * kSecond / 25);
  EXPECT_EQ(KvTextToHMSFToken(L"1:00:10", &f, TRUE, &end), 3610 * kSecond);
  EXPECT_EQ(KvTextToFeetAndFramesToken(L"2+8", &f, FALSE), 40 * kSecond / 25);
  EXPECT_EQ(KvTextToTicks(L"2.3.100", &f, 1, 1), (4 * 1 + 2) * 960 + 100);
  EXPECT_EQ(KvTextToTicks(L"-2.1", &f, 0, 1), (4 * -2 + 1) * 960);
  LONGLONG beat = 0, tick = 0;
  EXPECT_EQ(KvTextToBeatsTicks(L"-3.10", &f, 2, &beat, &tick), 3 * 960 + 20);
  EXPECT_EQ(beat, 3);
  EXPECT_EQ(tick, 20);
  _kvposfmt music = Fmt(5);
  EXPECT_EQ(KvTextToMusicTimeToken(L"2.1.000", &music, 0, &end), 4 * 5000000LL);  // one measure at 120 bpm
  EXPECT_EQ(KvTextToMusicTimeToken(L"2.1", &music, 1, &end), 4 * 5000000LL);
  // Default and range.
  _kvposfmt nano = Fmt(11);
  EXPECT_EQ(KvTextToNanoTimeTokenEx(L"x", &nano, FALSE, 77, 0, 1000, &end), 77);
  EXPECT_EQ(KvTextToNanoTimeTokenEx(L"5000", &nano, FALSE, 77, 0, 1000, &end), 1000);
  EXPECT_EQ(KvTextToNanoTimeToken(L"-12", &nano, FALSE, &end), -12);
}

TEST_F(TimeText, MeasuresAndTicks) {
  _kvposfmt f = Fmt(5);
  wchar_t out[64];
  KvMeasuresAndTicksToText(out, &f, -1, 0, 1, FALSE, 1);
  EXPECT_STREQ(out, L"-1.1.000");
  KvMeasuresAndTicksToText(out, &f, 0, 0, 1, FALSE, 1);
  EXPECT_STREQ(out, L"1.1.000");
  KvMeasuresAndTicksToText(out, &f, 3, 2 * 960 + 5, 1, TRUE, 1);
  EXPECT_STREQ(out, L"4.3");
  KvMeasuresAndTicksToText(out, &f, 3, -960, 0, FALSE, 1);
  EXPECT_STREQ(out, L"2.3.000");
  KvTicksToText(out, &f, -1, 0, FALSE, 1);
  EXPECT_STREQ(out, L"-1.3.959");
  // Zero metre fields print zeros instead of dividing by zero.
  _kvposfmt zero = {};
  zero.format = 5;
  KvMeasuresAndTicksToText(out, &zero, 2, 100, 0, FALSE, 0);
  EXPECT_STREQ(out, L"2.0.000");
  KvTicksToText(out, &zero, 100, 0, FALSE, 0);
  EXPECT_STREQ(out, L"0.0.000");
  EXPECT_EQ(Text(zero, 5 * kSecond), L"1.1.000");
  for (DWORD code = 0; code < 20; ++code) {
    zero.format = code;
    Text(zero, 123456789);  // no crash on an all-zero record
    KvTextToNanoTimeToken(L"1:2:3:4", &zero, FALSE, nullptr);
  }
}

TEST_F(TimeText, SampleConversions) {
  EXPECT_EQ(KvNanoTimeToSamples(kSecond, 44100), 44100);
  EXPECT_EQ(KvNanoTimeToSamples(113, 44100), 0);
  EXPECT_EQ(KvNanoTimeToSamples(114, 44100), 1);
  EXPECT_EQ(KvSamplesToNanoTime(44100, 44100), kSecond);
  EXPECT_EQ(KvSamplesToNanoTime(1, 0), 0);
  EXPECT_EQ(KvFramesToNanoTime(3, 29.97), 1001001);
}

// Every format: the text of a time read back gives a time whose text is the
// same. Times cover a day (the time codes wrap at 24 hours), negative values
// and an origin; a day is 43,200 measures at 120 beats a minute and 32,400 or
// 81,000 feet, so grouped numbers are read back too.
TEST_F(TimeText, RoundTripEveryFormat) {
  unsigned seed = 2024;
  for (DWORD code = 0; code < 20; ++code) {
    for (int originCase = 0; originCase < 2; ++originCase) {
      _kvposfmt f = Fmt(code);
      if (code == 3) f.frameRate = 29.97;
      if (code == 4) f.frameRate = 23.976;
      f.origin = originCase ? 123456789 : 0;
      int bad = 0;
      for (int i = 0; i < 400; ++i) {
        seed = seed * 1664525u + 1013904223u;
        LONGLONG span = 86399LL * kSecond;
        LONGLONG t = static_cast<LONGLONG>((static_cast<ULONGLONG>(seed) * 2654435761u) % span);
        bool smpteLike = (code >= 6 && code <= 10) || code == 17 || code == 18 || code == 1 || code == 3 ||
                         code == 19;
        if (!smpteLike && (seed & 1)) t = -t;  // negative positions, shown with a '-'
        t += f.origin;
        std::wstring text = Text(f, t);
        const wchar_t* end = nullptr;
        LONGLONG back = KvTextToNanoTimeToken(text.c_str(), &f, FALSE, &end);
        std::wstring again = Text(f, back);
        if (again != text && ++bad <= 3)
          ADD_FAILURE() << "code " << code << " time " << t << " text " << testing::PrintToString(text)
                        << " -> " << back << " -> " << testing::PrintToString(again);
      }
      EXPECT_EQ(bad, 0) << "code " << code;
    }
  }
}

// Handwritten texts of each format read and printed back unchanged.
TEST_F(TimeText, HandwrittenTexts) {
  struct Case {
    DWORD code;
    const wchar_t* en;
    const wchar_t* de;
  } cases[] = {
      {0, L"1,234,567", L"1.234.567"},
      {1, L"01:01:01.000", L"01:01:01,000"},
      {2, L"3,661.125", L"3.661,125"},
      {3, L"10:20:30.24", L"10:20:30,24"},
      {4, L"1,500.000", L"1.500,000"},
      {5, L"12.3.480", L"12.3.480"},
      {6, L"01:02:03:29", L"01:02:03:29"},
      {7, L"23:59:59:29", L"23:59:59:29"},
      {8, L"00:10:00;00", L"00:10:00;00"},
      {9, L"12:00:00:24", L"12:00:00:24"},
      {10, L"00:00:01:23", L"00:00:01:23"},
      {11, L"-98,765", L"-98.765"},
      {12, L"5,000", L"5.000"},
      {13, L"0.0.001", L"0.0.001"},
      {14, L"16.500", L"16,500"},
      {15, L"12+39", L"12+39"},
      {15, L"1,234+5", L"1.234+5"},
      {5, L"1,234.2.480", L"1.234.2.480"},
      {13, L"12,345.3.959", L"12.345.3.959"},
      {16, L"999+15", L"999+15"},
      {17, L"00:59:59:74", L"00:59:59:74"},
      {18, L"01:00:00:23", L"01:00:00:23"},
      {19, L"2:03:04", L"2:03:04"},
  };
  for (const Case& c : cases) {
    _kvposfmt f = Fmt(c.code);
    std::wstring text = EnDe(c.en, c.de);
    LONGLONG t = KvTextToNanoTimeToken(text.c_str(), &f, FALSE, nullptr);
    EXPECT_EQ(Text(f, t), text) << "code " << c.code << " time " << t;
  }
}
