// Wide-string helpers: the bounded-copy convention (capacity counts the
// terminator, below 1 writes nothing, results always terminated) and the
// listed edge cases, checked with guard characters around every buffer.
#include <gtest/gtest.h>

#include <string>

#include "kvstr.h"

namespace {

const wchar_t kGuard = L'#';

struct CopyCase {
  const wchar_t* src;
  int cch;
  const wchar_t* expected;  // nullptr: destination untouched
  int expectedLen;
};

TEST(WideStringBoundedCopy, TableOfCapacities) {
  const CopyCase cases[] = {
      {L"abcdef", 4, L"abc", 3},     {L"abcdef", 0, nullptr, 0},  {L"abcdef", -1, nullptr, 0},
      {L"abcdef", 1, L"", 0},        {L"abcdef", 7, L"abcdef", 6}, {L"abcdef", 6, L"abcde", 5},
      {L"abcdef", 50, L"abcdef", 6}, {L"", 5, L"", 0},             {nullptr, 5, L"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "src=" << (c.src ? c.src : L"(null)") << " cch=" << c.cch);
    for (int variant = 0; variant < 2; ++variant) {
      wchar_t dst[16];
      for (auto& ch : dst) ch = kGuard;
      int len = -1;
      if (variant == 0)
        EXPECT_EQ(KvStrCpyN(dst, c.src, c.cch), dst);
      else
        len = KvStrCpyNLen(dst, c.src, c.cch);
      if (!c.expected) {
        for (wchar_t ch : dst) EXPECT_EQ(ch, kGuard);
        if (variant == 1) {
          EXPECT_EQ(len, 0);
        }
        continue;
      }
      EXPECT_EQ(std::wstring(dst), c.expected);
      if (variant == 1) {
        EXPECT_EQ(len, c.expectedLen);
      }
      // Nothing beyond the capacity is written.
      for (int i = c.cch; i < 16; ++i) EXPECT_EQ(dst[i], kGuard) << "index " << i;
    }
  }
  EXPECT_EQ(KvStrCpyNLen(nullptr, L"abc", 4), 0);
}

TEST(WideStringBoundedCopy, ConcatenationStaysWithinCapacity) {
  struct Case {
    const wchar_t* dst;
    const wchar_t* src;
    int cch;
    const wchar_t* expected;
  } cases[] = {
      {L"abc", L"def", 5, L"abcd"},  {L"abc", L"def", 7, L"abcdef"}, {L"abc", L"def", 4, L"abc"},
      {L"abc", L"def", 3, L"abc"},   {L"abc", L"def", 0, L"abc"},    {L"", L"def", 2, L"d"},
      {L"abc", L"", 10, L"abc"},     {L"abc", nullptr, 10, L"abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "dst=" << c.dst << " cch=" << c.cch);
    wchar_t dst[16];
    for (auto& ch : dst) ch = kGuard;
    KvStrCpy(dst, c.dst);
    EXPECT_EQ(KvStrCatN(dst, c.src, c.cch), dst);
    EXPECT_EQ(std::wstring(dst), c.expected);
    int written = KvStrLen(dst) + 1;
    for (int i = written; i < 16; ++i) EXPECT_EQ(dst[i], kGuard) << "index " << i;
  }
}

TEST(WideStringHelpers, UnboundedCopyAndLength) {
  wchar_t dst[16];
  EXPECT_EQ(std::wstring(KvStrCpy(dst, L"abc")), L"abc");
  EXPECT_EQ(std::wstring(KvStrCat(dst, L"de")), L"abcde");
  EXPECT_EQ(KvStrLen(dst), 5);
  EXPECT_EQ(KvStrLen(nullptr), 0);
  EXPECT_EQ(KvStrLen(L""), 0);
}

TEST(WideStringHelpers, SearchAndWhiteSpace) {
  const wchar_t* text = L"abc";
  EXPECT_EQ(KvStrChr(text, L'x'), text + 3);
  EXPECT_EQ(*KvStrChr(text, L'x'), 0);
  EXPECT_EQ(KvStrChr(text, L'b'), text + 1);
  EXPECT_EQ(KvCharNext(text), text + 1);
  EXPECT_EQ(KvCharNext(text + 3), text + 3);

  const wchar_t* padded = L" \t abc def \t\r\n";
  EXPECT_EQ(KvSkipWhiteSpace(padded), padded + 3);
  EXPECT_EQ(KvFindTrailingWhiteSpace(padded), padded + 10);
  const wchar_t* bare = L"abc";
  EXPECT_EQ(KvFindTrailingWhiteSpace(bare), bare + 3);
  const wchar_t* blank = L"   ";
  EXPECT_EQ(KvFindTrailingWhiteSpace(blank), blank);
  EXPECT_EQ(KvSkipWhiteSpace(blank), blank + 3);
}

TEST(WideStringHelpers, ComparisonOfPrefixes) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int n;
    int sign;
    int signNoCase;
  } cases[] = {
      {L"abcX", L"abcY", 3, 0, 0}, {L"abcX", L"abcY", 4, -1, -1}, {L"abc", L"ABC", 3, -1, 0},
      {L"abc", L"abd", -1, 0, 0},  {L"abc", L"ab", 3, 1, 1},      {L"", L"", 5, 0, 0},
      {L"b", L"a", 1, 1, 1},       {L"abc", L"abd", 0, 0, 0},
  };
  auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b << " n=" << c.n);
    EXPECT_EQ(sign(KvStrCmpN(c.a, c.b, c.n)), c.sign);
    EXPECT_EQ(sign(KvStrCmpNI(c.a, c.b, c.n)), c.signNoCase);
  }
}

TEST(WideStringHelpers, UpperCaseInPlace) {
  wchar_t text[] = L"abc-z1 Q";
  EXPECT_EQ(KvStrUpr(text), text);
  EXPECT_EQ(std::wstring(text), L"ABC-Z1 Q");
}

TEST(WideStringConversion, WideToMultiByteIsBoundedAndTerminated) {
  char out[8];
  memset(out, '#', sizeof(out));
  EXPECT_EQ(KvWideToMultiByte(out, L"h\x00e9llo", 8, CP_UTF8), 6);
  EXPECT_STREQ(out, "h\xc3\xa9llo");
  // Too small: a whole-character prefix, terminated inside the capacity.
  memset(out, '#', sizeof(out));
  int n = KvWideToMultiByte(out, L"h\x00e9llo", 3, CP_UTF8);
  EXPECT_EQ(n, 1);
  EXPECT_STREQ(out, "h");
  EXPECT_EQ(out[3], '#');
  memset(out, '#', sizeof(out));
  EXPECT_EQ(KvWideToMultiByte(out, L"", 8, CP_UTF8), 0);
  EXPECT_EQ(out[0], 0);
  memset(out, '#', sizeof(out));
  EXPECT_EQ(KvWideToMultiByte(out, L"abc", 0, CP_UTF8), 0);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(KvWideToMultiByte(out, L"abcdef", 4, 28591), 3);
  EXPECT_STREQ(out, "abc");
}

TEST(WideStringConversion, MultiByteToWideNeverWritesPastTheBuffer) {
  wchar_t out[8];
  for (auto& c : out) c = kGuard;
  EXPECT_EQ(KvMultiByteToWide(out, "h\xc3\xa9llo", 8, -1, CP_UTF8), 5);
  EXPECT_EQ(std::wstring(out), L"h\x00e9llo");
  // An explicit byte count that fills the whole buffer: the terminator still
  // lands inside it.
  for (auto& c : out) c = kGuard;
  EXPECT_EQ(KvMultiByteToWide(out, "abcdefgh", 4, 8, 28591), 3);
  EXPECT_EQ(std::wstring(out), L"abc");
  for (int i = 4; i < 8; ++i) EXPECT_EQ(out[i], kGuard);
  for (auto& c : out) c = kGuard;
  EXPECT_EQ(KvMultiByteToWide(out, "abcdefgh", 8, 2, 28591), 2);
  EXPECT_EQ(std::wstring(out), L"ab");
  EXPECT_EQ(KvMultiByteToWide(out, "\xe9", 8, -1, 28591), 1);
  EXPECT_EQ(out[0], 0x00e9);
  EXPECT_EQ(KvMultiByteToWide(out, "abc", 0, -1, 28591), 0);
}

TEST(WideStringHelpers, DirectoriesAndRectangles) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  EXPECT_TRUE(KvIsDirectory(temp));
  EXPECT_FALSE(KvIsDirectory(L"Z:\\no\\such\\folder\\here"));
  EXPECT_FALSE(KvIsDirectory(nullptr));
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  EXPECT_FALSE(KvIsDirectory(self));

  RECT r = {10, 20, 30, 40};
  struct Case {
    int x, y;
    BOOL inside;
  } cases[] = {{10, 20, TRUE}, {29, 39, TRUE}, {30, 20, FALSE}, {10, 40, FALSE}, {9, 25, FALSE}, {15, 19, FALSE}};
  for (const auto& c : cases) EXPECT_EQ(KvPtInRect(&r, c.x, c.y), c.inside) << c.x << "," << c.y;
}

}  // namespace
