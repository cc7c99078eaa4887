// The shared test helpers: Wine path conversion, whole-file reads and writes,
// the byte-order readers, and the missing-tool rule (a skip, or a fatal
// failure when CI is set).
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"
#include "vog_tools.h"

namespace {

TEST(VogPaths, WineFormOfUnixPaths) {
  struct Case {
    const char* unix;
    const char* wine;
  } cases[] = {
      {"/tmp/a b/c.m4a", "Z:\\tmp\\a b\\c.m4a"},
      {"/", "Z:\\"},
      {"relative/x", "relative\\x"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vogtest::WinePathA(c.unix), c.wine) << c.unix;
    EXPECT_EQ(vogtest::WinePath(c.unix), std::wstring(c.wine, c.wine + std::string(c.wine).size())) << c.unix;
    if (c.unix[0] == '/') {
      EXPECT_EQ(vogtest::UnixPath(c.wine), c.unix) << c.wine;
    }
  }
  EXPECT_EQ(vogtest::UnixPath("z:\\tmp\\x"), "/tmp/x");
  EXPECT_EQ(vogtest::UnixPath("C:\\Windows"), "C:\\Windows");
  // Bytes past ASCII widen as unsigned characters.
  EXPECT_EQ(vogtest::WinePath("/\xe9")[3], static_cast<wchar_t>(0xe9));
}

TEST(VogPaths, FoldersOfTheBuild) {
#ifdef _WIN32
  EXPECT_EQ(vogtest::FixturePath("mp4/x.m4a"), vogtest::WinePathA(VOG_FIXTURE_DIR) + "\\mp4\\x.m4a");
  EXPECT_EQ(vogtest::HostPath("/a/b"), "Z:\\a\\b");
#else
  EXPECT_EQ(vogtest::FixturePath("mp4/x.m4a"), std::string(VOG_FIXTURE_DIR) + "/mp4/x.m4a");
  EXPECT_EQ(vogtest::HostPath("/a/b"), "/a/b");
#endif
  EXPECT_EQ(vogtest::SharedPath("vectors"), vogtest::HostPath(std::string(VOG_SHARED_DIR) + "/vectors"));
  EXPECT_EQ(vogtest::WineFixturePath("a/b"), vogtest::WinePath(std::string(VOG_FIXTURE_DIR) + "/a/b"));
}

TEST(VogFiles, WholeFilesWrittenAndReadBack) {
  const std::string path = vogtest::BinPath("vog_testsupport_file.bin");
  const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(vogtest::WriteBytes(path, bytes, sizeof bytes));
  EXPECT_TRUE(vogtest::FileExists(path));
  EXPECT_EQ(vogtest::ReadBytes(path), std::vector<uint8_t>(bytes, bytes + sizeof bytes));
  EXPECT_EQ(vogtest::ReadText(path), std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));
  // Whole elements only: 10 bytes hold two 4-byte elements.
  std::vector<uint32_t> words;
  EXPECT_TRUE(vogtest::ReadArray(path, words));
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[1], vogtest::Le32(bytes + 4));
#ifdef _WIN32
  EXPECT_EQ(vogtest::ReadBytes(vogtest::WinePath(vogtest::UnixPath(path))).size(), sizeof bytes);
#endif
  // An empty file reads as empty, and whole.
  ASSERT_TRUE(vogtest::WriteBytes(path, nullptr, 0));
  std::vector<uint8_t> none = {1};
  EXPECT_TRUE(vogtest::ReadBytes(path, none));
  EXPECT_TRUE(none.empty());
  std::remove(path.c_str());

  const std::string missing = vogtest::BinPath("no_such_file.bin");
  std::vector<uint8_t> out = {1};
  EXPECT_FALSE(vogtest::ReadBytes(missing, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(vogtest::ReadArray<float>(missing).empty());
  std::string text = "x";
  EXPECT_FALSE(vogtest::ReadText(missing, text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(vogtest::FileExists(missing));
  EXPECT_FALSE(vogtest::WriteBytes(vogtest::BinPath("no_such_folder/x.bin"), bytes, 1));
}

TEST(VogFiles, ByteOrder) {
  const uint8_t b[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(vogtest::Le16(b), 0x0201u);
  EXPECT_EQ(vogtest::Le32(b), 0x04030201u);
  EXPECT_EQ(vogtest::Le64(b), 0x8807060504030201ull);
  EXPECT_EQ(vogtest::Be16(b), 0x0102u);
  EXPECT_EQ(vogtest::Be32(b + 4), 0x05060788u);
  EXPECT_EQ(vogtest::Be64(b), 0x0102030405060788ull);
}

// Sets CI for the scope of one case and restores what the run had.
class CiVariable {
 public:
  explicit CiVariable(const char* value) {
    const char* had = std::getenv("CI");
    had_ = had != nullptr;
    if (had) old_ = had;
    Set(value);
  }
  ~CiVariable() { Set(had_ ? old_.c_str() : ""); }

 private:
  static void Set(const char* value) {
#ifdef _WIN32
    _putenv_s("CI", value);
#else
    setenv("CI", value, 1);
#endif
  }
  bool had_ = false;
  std::string old_;
};

void LeaveForMissingTool() { VOG_TOOL_MISSING("sometool") << "fixture missing"; }

TEST(VogTools, MissingToolSkipsLocallyAndFailsUnderCi) {
  struct Case {
    const char* ci;
    bool fails;
  } cases[] = {{"", false}, {"1", true}, {"true", true}};
  for (const Case& c : cases) {
    CiVariable ci(c.ci);
    EXPECT_EQ(vogtest::ToolsRequired(), c.fails) << "CI=" << c.ci;
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter reporter(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      LeaveForMissingTool();
    }
    ASSERT_EQ(results.size(), 1) << "CI=" << c.ci;
    const ::testing::TestPartResult& r = results.GetTestPartResult(0);
    EXPECT_EQ(r.fatally_failed(), c.fails) << "CI=" << c.ci;
    EXPECT_EQ(r.skipped(), !c.fails) << "CI=" << c.ci;
    EXPECT_NE(std::string(r.message()).find("sometool missing"), std::string::npos) << r.message();
    EXPECT_NE(std::string(r.message()).find("fixture missing"), std::string::npos) << r.message();
  }
}

}  // namespace
