// One rule for tests that need an outside program (ffmpeg, ffprobe, faad,
// sox, AtomicParsley, exiftool, Python's numpy, scipy or Pillow), directly or
// through the fixtures such a program makes at test time: where the program
// is missing the test is skipped on a developer's machine, and fails when the
// environment variable CI is set (not empty), where every tool is installed
// and a skip would hide a broken fixture step. Skips for other reasons (no SSE
// on this CPU, the shared vectors folder absent, a Windows-only fact) stay
// plain GTEST_SKIPs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vogtest {

// Whether a missing tool fails the test: CI is set and not empty.
inline bool ToolsRequired() {
  const char* ci = std::getenv("CI");
  return ci && *ci;
}

inline std::string ToolMissingNote(const char* tool) {
  return std::string(tool) + (ToolsRequired() ? " missing, and CI requires it: " : " missing: ");
}

}  // namespace vogtest

// Leaves the test (or the SetUp) because the named tool, or what it makes,
// is missing: a skip, or a fatal failure under CI. Takes a streamed message
// like GTEST_SKIP():
//   if (rows.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
#define VOG_TOOL_MISSING(tool)                                                                            \
  return ::testing::internal::AssertHelper(::vogtest::ToolsRequired() ? ::testing::TestPartResult::kFatalFailure \
                                                                      : ::testing::TestPartResult::kSkip,      \
                                           __FILE__, __LINE__, ::vogtest::ToolMissingNote(tool).c_str()) =   \
      ::testing::Message()
