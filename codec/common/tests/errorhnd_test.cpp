// Codec memory and error records: the allocator's alignment and size checks,
// ids, template expansion, chains and the fallback record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "errorhnd.h"
#include "utillib.h"

namespace {

std::string expand(const CodecError* chain, const char* tmpl, int32_t maxRecords) {
  int32_t len = errorTextLength(chain, tmpl, maxRecords);
  std::string text(static_cast<size_t>(len) + 8, '#');
  EXPECT_EQ(formatErrorText(chain, tmpl, &text[0], maxRecords), len);
  EXPECT_EQ(text[len - 1], '\0') << "terminator at count - 1";
  text.resize(std::strlen(text.c_str()));
  EXPECT_EQ(static_cast<int32_t>(text.size()) + 1, len) << "count matches the text";
  return text;
}

}  // namespace

TEST(CodecMemory, BlocksAreAlignedAndRecordTheirOrigin) {
  for (uint32_t size : {1u, 3u, 15u, 16u, 17u, 100u, 4096u, 65537u}) {
    void* p = utilMalloc(size, "alloc.cpp", 42);
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
    std::memset(p, 0xAB, size);  // the whole block is usable (ASan checks)
    const char* file = nullptr;
    int32_t line = 0;
    ASSERT_TRUE(utilBlockOrigin(p, &file, &line));
    EXPECT_STREQ(file, "alloc.cpp");
    EXPECT_EQ(line, 42);
    utilFree(p, "alloc.cpp", 43);
  }
  utilFree(nullptr, "alloc.cpp", 44);
}

TEST(CodecMemory, ZeroSizesAndOverflowingRequestsFail) {
  struct Case {
    uint32_t count, size;
  } cases[] = {{0, 4}, {4, 0}, {0x10000u, 0x10000u}, {0x10001u, 0xFFFFu}, {2, 0x80000000u},
               {UINT32_MAX, 1}, {1, UINT32_MAX}, {1, UINT32_MAX - 8}};
  for (const Case& c : cases) {
    EXPECT_EQ(utilCalloc(c.count, c.size, __FILE__, __LINE__), nullptr)
        << c.count << " x " << c.size;
  }
  EXPECT_EQ(utilMalloc(0, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(utilMalloc(UINT32_MAX, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(utilMalloc(UINT32_MAX - 20, __FILE__, __LINE__), nullptr);

  unsigned char* z = static_cast<unsigned char*>(utilCalloc(37, 3, __FILE__, __LINE__));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 111; ++i) ASSERT_EQ(z[i], 0) << i;
  utilFree(z, __FILE__, __LINE__);
}

// Ids: hash of the base name << 16, plus the line (32-bit wrap-around). The
// hashes besides the worked value "abc" were computed independently.
TEST(ErrorRecords, IdsAndHashes) {
  struct Case {
    const char* path;
    int32_t line;
    uint32_t id;
    const char* text;  // "%#"
  } cases[] = {
      {"abc", 1, 0x22230001u, "22230001"},
      {"C:\\src\\codec\\abc", 1, 0x22230001u, "22230001"},
      {"/src/codec/abc", 1, 0x22230001u, "22230001"},
      {"errorhnd", 0, 0x1C380000u, "1c380000"},
      {"nyx_dct", 1, 0xEAFA0001u, "eafa0001"},
      {"\xE9t\xE9", 7, 0xA3A50007u, "a3a50007"},  // bytes taken as signed
      {"x", -1, 0x7877FFFFu, "7877ffff"},
      {"abc", 70000, 0x22241170u, "22241170"},  // the line carries into the hash half
  };
  for (const Case& c : cases) {
    CodecError* e = createError(c.path, c.line, nullptr, "m");
    EXPECT_EQ(errorGetId(e), c.id) << c.path;
    EXPECT_EQ(expand(e, "%#", 1), c.text) << c.path;
    deleteError(e);
  }
  EXPECT_EQ(errorNameHash("abc"), 0x2223);
  EXPECT_EQ(errorNameHash("nyx_dct"), static_cast<int16_t>(0xEAFA));  // sign-extended
}

TEST(ErrorRecords, TemplateExpansion) {
  CodecError* e = createError("dir\\abc", 1000, "decode()", "bad %s %d", "frame", 7);
  ASSERT_NE(e, errorFallbackRecord());
  struct Case {
    const char* tmpl;
    const char* text;
  } cases[] = {
      {"%n", "1000"},
      {"%m:%n: %f (%e)", "abc:1000: decode() (bad frame 7)"},
      {"(ID:%#)", "(ID:222303e8)"},  // 0x2223 << 16 + 1000
      {"100%%", "100%"},
      {"a%qb", "ab"},           // unknown conversion: both characters skipped
      {"ab%", "ab"},            // a lone percent sign ends the walk
      {"x\\%n", "x\\%n"},       // a backslash and its character are copied
      {"end\\", "end\\"},       // a final backslash is copied alone
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(e, c.tmpl, 1), c.text) << c.tmpl;
  deleteError(e);

  // Worked counts of "%n": line 1000 counts 5, line 0 counts 2.
  CodecError* a = createError("abc", 1000, nullptr, "x");
  CodecError* b = createError("abc", 0, nullptr, "x");
  CodecError* c = createError("abc", -25, nullptr, "x");
  EXPECT_EQ(errorTextLength(a, "%n", 1), 5);
  EXPECT_EQ(errorTextLength(b, "%n", 1), 2);
  EXPECT_EQ(errorTextLength(c, "%n", 1), 4);
  EXPECT_EQ(errorTextLength(nullptr, "%n", 1), 1);
  deleteError(a);
  deleteError(b);
  deleteError(c);
}

TEST(ErrorRecords, ChainsAndFrames) {
  EXPECT_EQ(appendErrorTrace("abc", 1, nullptr, nullptr), nullptr);
  CodecError* e = createError("inner.c", 10, nullptr, "first");
  e = appendErrorTrace("mid.c", 20, nullptr, e);
  // Two records, at most three: the template is expanded twice.
  EXPECT_EQ(expand(e, "[%m:%n %e]", 3), "[inner.c:10 first][mid.c:20 ]");
  EXPECT_EQ(expand(e, "[%m]", 1), "[inner.c]");
  e = appendErrorTrace("outer.c", 30, "f()", e);
  e = appendErrorTrace("top.c", 40, nullptr, e);
  ASSERT_NE(e->next->next->next, nullptr);
  EXPECT_STREQ(e->next->next->next->file, "top.c");
  EXPECT_EQ(e->next->next->next->line, 40);
  EXPECT_EQ(e->next->next->next->message, nullptr);
  EXPECT_STREQ(e->next->next->function, "f()");
  EXPECT_EQ(expand(e, "%n,", 10), "10,20,30,40,");
  deleteError(e);
  deleteError(nullptr);
}

TEST(ErrorRecords, ReportWritesFirstRecordAndReturnsItsId) {
  EXPECT_EQ(reportError(nullptr), 0);
  CodecError* e = createError("abc", 1, nullptr, "broken");
  e = appendErrorTrace("caller.c", 5, nullptr, e);
  testing::internal::CaptureStderr();
  EXPECT_EQ(reportError(e), 0x22230001);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "(ID:22230001) abc:1:  (broken)\n");
}

TEST(ErrorRecords, FallbackRecordIsSharedAndNeverFreed) {
  const CodecError* f = errorFallbackRecord();
  EXPECT_STREQ(f->message, "errorhnd: the error handler has run out of memory");
  EXPECT_STREQ(f->function, "error()");
  EXPECT_EQ(f->line, 0);
  EXPECT_EQ(errorGetId(f), static_cast<uint32_t>(errorNameHash("errorhnd") & 0xFFFF) << 16);
  CodecError* chain = const_cast<CodecError*>(f);
  EXPECT_EQ(appendErrorTrace("x.c", 1, nullptr, chain), chain);
  EXPECT_EQ(f->next, nullptr) << "the shared record is never extended";
  deleteError(chain);  // must not free the static record
  EXPECT_STREQ(f->message, "errorhnd: the error handler has run out of memory");
}

TEST(ErrorRecords, LongMessagesAreCut) {
  std::string big(2000, 'q');
  CodecError* e = createError("abc", 1, nullptr, "%s", big.c_str());
  EXPECT_EQ(std::strlen(e->message), 511u);
  deleteError(e);
}

TEST(ErrorRecords, WarningText) {
  testing::internal::CaptureStderr();
  utilWarning("careful", "C:\\src\\enc.c", 12, 99, "detail");
  utilWarning("plain", "enc.c", 3, 0, "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\a##########\n#warning: careful in file enc.c,12 (detail)\n##########\n"
            "\a##########\n#warning: plain in file enc.c,3\n##########\n");
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(CodecMemoryDeathTest, FatalErrorExitsWith20) {
  EXPECT_EXIT(utilFatalError("boom", "C:\\src\\enc.c", 77), testing::ExitedWithCode(20),
              "fatal error: boom in file C:\\\\src\\\\enc.c, 77\nThis is a program design failure");
}
#endif
