// SMPTE time codes against the SMPTE 12M counts and an independent
// closed-form drop-frame conversion, swept over whole days.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kvsmpte.h"

namespace {

std::string Text(const _smpteval& v) {
  char b[64];
  snprintf(b, sizeof b, "%02lu:%02lu:%02lu%c%02lu", (unsigned long)v.hours, (unsigned long)v.minutes,
           (unsigned long)v.seconds, v.format == 2 ? ';' : ':', (unsigned long)v.frames);
  return b;
}

_smpteval FromCount(DWORD code, DWORD frames) {
  _smpteval v = {code, 99, 99, 99, 99};
  KVSMPTE_FrameCountToSMPTE(&v, frames);
  return v;
}

_smpteval Make(DWORD code, DWORD h, DWORD m, DWORD s, DWORD f) { return {code, h, m, s, f}; }

// Independent drop-frame label of a real frame count: the textbook form with
// 17,982 frames per ten minutes and 1,798 per dropped minute.
_smpteval ReferenceDropLabel(DWORD frames) {
  DWORD d = frames / 17982, m = frames % 17982;
  DWORD label = frames + 18 * d + (m > 1 ? 2 * ((m - 2) / 1798) : 0);
  _smpteval v = {2, 0, 0, 0, 0};
  v.frames = label % 30;
  v.seconds = (label / 30) % 60;
  v.minutes = (label / 1800) % 60;
  v.hours = label / 108000;
  return v;
}

}  // namespace

TEST(Smpte, TwelveMCounts) {
  EXPECT_EQ(KVSMPTE_SMPTEToFrameCount(&(const _smpteval&)Make(2, 0, 10, 0, 0)), 17982u);
  EXPECT_EQ(KVSMPTE_SMPTEToFrameCount(&(const _smpteval&)Make(2, 1, 0, 0, 0)), 107892u);
  EXPECT_EQ(KvSmpteFramesPerDay(2), 2589408u);
  _smpteval last = FromCount(2, 2589407);
  EXPECT_EQ(Text(last), "23:59:59;29");
  EXPECT_EQ(KVSMPTE_SMPTEToFrameCount(&last) + 1, 2589408u);
  // A day later is the same label again.
  EXPECT_EQ(Text(FromCount(2, 2589408)), "00:00:00;00");
}

TEST(Smpte, DropFrameEdges) {
  struct Case {
    DWORD frames;
    const char* text;
  } cases[] = {
      {1800, "00:01:00;02"}, {1799, "00:00:59;29"}, {17982, "00:10:00;00"}, {17981, "00:09:59;29"},
      {3598, "00:02:00;02"}, {107892, "01:00:00;00"}, {0, "00:00:00;00"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(FromCount(2, c.frames)), c.text) << "frames " << c.frames;
  // A label that drop-frame skips counts as frame 2 of that second.
  _smpteval skipped = Make(2, 0, 1, 0, 0);
  _smpteval kept = Make(2, 0, 1, 0, 2);
  EXPECT_EQ(KVSMPTE_SMPTEToFrameCount(&skipped), KVSMPTE_SMPTEToFrameCount(&kept));
  EXPECT_EQ(KVSMPTE_SMPTEToFrameCount(&kept), 1800u);
}

TEST(Smpte, WholeDaySweepDropFrameAgainstReference) {
  int mismatches = 0;
  for (DWORD n = 0; n < 2589408; ++n) {
    _smpteval v = FromCount(2, n);
    _smpteval ref = ReferenceDropLabel(n);
    if (v.hours != ref.hours || v.minutes != ref.minutes || v.seconds != ref.seconds || v.frames != ref.frames) {
      if (++mismatches < 5) ADD_FAILURE() << "frames " << n << " gives " << Text(v) << ", reference " << Text(ref);
    }
    DWORD back = KVSMPTE_SMPTEToFrameCount(&v);
    if (back != n && ++mismatches < 5) ADD_FAILURE() << "frames " << n << " -> " << Text(v) << " -> " << back;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Smpte, WholeDaySweepEveryCode) {
  for (DWORD code = 1; code <= 6; ++code) {
    DWORD day = KvSmpteFramesPerDay(code);
    DWORD labels = KvSmpteLabelsPerSecond(code);
    int bad = 0;
    for (DWORD n = 0; n < day; ++n) {
      _smpteval v = FromCount(code, n);
      if (v.hours > 23 || v.minutes > 59 || v.seconds > 59 || v.frames >= labels) ++bad;
      if (KVSMPTE_SMPTEToFrameCount(&v) != n && ++bad < 5)
        ADD_FAILURE() << "code " << code << " frames " << n << " -> " << Text(v);
    }
    EXPECT_EQ(bad, 0) << "code " << code;
  }
}

TEST(Smpte, NanoRoundTripsFrameExactly) {
  for (DWORD code = 1; code <= 6; ++code) {
    DWORD day = KvSmpteFramesPerDay(code);
    int bad = 0;
    for (DWORD n = 0; n < day; n += 7) {
      _smpteval v = FromCount(code, n);
      LONGLONG nano = KVSMPTE_SMPTEToNanos(&v);
      _smpteval w = {code, 0, 0, 0, 0};
      KVSMPTE_NanoToSMPTE(nano, &w);
      if (KVSMPTE_SMPTECompare(&v, &w) != 0 && ++bad < 5)
        ADD_FAILURE() << "code " << code << " " << Text(v) << " -> " << nano << " -> " << Text(w);
    }
    EXPECT_EQ(bad, 0);
  }
  _smpteval v = {3, 0, 0, 0, 0};
  KVSMPTE_NanoToSMPTE(36000000000LL, &v);
  EXPECT_EQ(Text(v), "01:00:00:00");
}

TEST(Smpte, AddSubtractWrapAtDay) {
  _smpteval a = Make(1, 0, 0, 0, 0), one = Make(1, 0, 0, 0, 1);
  KVSMPTE_SubtractSMPTE(&a, &one);
  EXPECT_EQ(Text(a), "23:59:59:29");
  KVSMPTE_AddSMPTE(&a, &one);
  EXPECT_EQ(Text(a), "00:00:00:00");
  _smpteval d = Make(2, 0, 0, 59, 29), step = Make(2, 0, 0, 0, 1);
  KVSMPTE_AddSMPTE(&d, &step);
  EXPECT_EQ(Text(d), "00:01:00;02");
  // An unknown code has no day length: a stays as it was (no division by zero).
  _smpteval bad = Make(9, 1, 2, 3, 4);
  KVSMPTE_AddSMPTE(&bad, &one);
  KVSMPTE_SubtractSMPTE(&bad, &one);
  EXPECT_EQ(bad.hours, 1u);
  EXPECT_EQ(bad.frames, 4u);
}

TEST(Smpte, StepByFrameMatchesCounts) {
  for (DWORD code = 1; code <= 6; ++code) {
    _smpteval v = FromCount(code, 0);
    DWORD day = KvSmpteFramesPerDay(code);
    int bad = 0;
    for (DWORD n = 1; n <= day + 3; ++n) {
      KVSMPTE_IncrementByFrame(&v, 0);
      if (KVSMPTE_SMPTEToFrameCount(&v) != n % day && ++bad < 5)
        ADD_FAILURE() << "code " << code << " step " << n << " -> " << Text(v);
    }
    for (DWORD n = day + 2; n + 1 > 0 && n <= day + 2; --n) {
      KVSMPTE_DeccrementByFrame(&v, 0);
      if (KVSMPTE_SMPTEToFrameCount(&v) != n % day && ++bad < 5)
        ADD_FAILURE() << "code " << code << " back to " << n << " -> " << Text(v);
      if (n == 0) break;
    }
    EXPECT_EQ(bad, 0) << "code " << code;
  }
  _smpteval v = Make(2, 0, 0, 59, 29);
  KVSMPTE_IncrementByFrame(&v, 0);
  EXPECT_EQ(Text(v), "00:01:00;02");
  KVSMPTE_DeccrementByFrame(&v, 0);
  EXPECT_EQ(Text(v), "00:00:59;29");
}

TEST(Smpte, TextParsing) {
  struct Case {
    DWORD code;
    const wchar_t* text;
    const char* expected;
  } cases[] = {
      {1, L"1:02:03:04", "01:02:03:04"}, {1, L"90", "00:00:03:00"},   {1, L"12345", "00:01:24:15"},
      {1, L"01020304", "01:02:03:04"},   {1, L"5", "00:00:00:05"},    {1, L"1 5", "00:00:01:05"},
      {1, L"12:", "00:00:12:00"},        {1, L"12:  ", "00:00:12:00"}, {3, L"0:0:0:25", "00:00:01:00"},
      {1, L"25:00:00:00", "01:00:00:00"}, {2, L"00:01:00;00", "00:01:00;00"}, {1, L"", "00:00:00:00"},
  };
  for (const Case& c : cases) {
    _smpteval v = {c.code, 7, 7, 7, 7};
    KVSMPTE_TextToSMPTE(c.text, &v);
    EXPECT_EQ(Text(v).substr(0, 8) + ":" + Text(v).substr(9), std::string(c.expected).substr(0, 8) + ":" +
                                                                  std::string(c.expected).substr(9))
        << "code " << c.code << " case " << c.expected;
    EXPECT_EQ(v.format, c.code);
  }
}

TEST(Smpte, CompareIgnoresFormat) {
  _smpteval a = Make(1, 1, 2, 3, 4), b = Make(3, 1, 2, 3, 4), c = Make(1, 1, 2, 3, 5);
  EXPECT_EQ(KVSMPTE_SMPTECompare(&a, &b), 0);
  EXPECT_EQ(KVSMPTE_SMPTECompare(&a, &c), -1);
  EXPECT_EQ(KVSMPTE_SMPTECompare(&c, &a), 1);
  EXPECT_EQ(KVSMPTE_SmpteLikeToNanos(0.0, &a), 0);  // no rate: no division by zero
  EXPECT_EQ(KVSMPTE_SmpteLikeToNanos(25.0, &b), (3723LL * 25 + 4) * 10000000LL / 25);
}
