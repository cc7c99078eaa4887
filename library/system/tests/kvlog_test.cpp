// CLog: results and filtering here; the files it writes into the fixture
// folder (clog/) are checked line by line with a Python regex afterwards
// (check_clog.py): tags, time stamps, locations, the 1,023-character cut,
// roll-over to ".previous" and whole lines from two threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base_test_util.h"
#include "kverror.h"
#include "kvlog.h"

namespace {

std::wstring FixturePath(const wchar_t* name) {
  std::wstring out = kvtest::WineFixtureDir() + L"\\clog";
  CreateDirectoryW(out.c_str(), nullptr);
  out += L"\\";
  out += name;
  return out;
}

std::wstring Fresh(const wchar_t* name) {
  std::wstring path = FixturePath(name);
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".previous").c_str());
  return path;
}

TEST(CLog, ResultsAndLevels) {
  CLog log;
  EXPECT_EQ(log.Write(1, nullptr, 0, L"x"), KV_E_NOTINITIALIZED);
  EXPECT_EQ(log.Init(nullptr, 1, 0), E_INVALIDARG);
  EXPECT_EQ(log.Init(Fresh(L"format.log").c_str(), 0, 0), E_INVALIDARG);
  EXPECT_EQ(log.Init(L"Z:\\no\\such\\folder\\x.log", 1, 0), KV_E_OPEN);
  EXPECT_EQ(log.Write(1, nullptr, 0, L"x"), KV_E_NOTINITIALIZED);
  // A path whose ".previous" form would not fit is refused.
  std::wstring longPath = L"Z:\\tmp\\" + std::wstring(245, L'p');
  EXPECT_EQ(log.Init(longPath.c_str(), 1, 0), E_INVALIDARG);

  std::wstring path = Fresh(L"format.log");
  ASSERT_EQ(log.Init(path.c_str(), 0xF | CLog::kTimeStamp | CLog::kLocation, 0), S_OK);
  EXPECT_EQ(std::wstring(log.GetLogFileName()), path);
  EXPECT_EQ(log.Write(1, L"c:\\src\\unit.src", 12, L"x=%d", 5), S_OK);
  EXPECT_EQ(log.Write(2, L"d:/work/other.cpp", 3456, L"warn %s", L"wide text"), S_OK);
  EXPECT_EQ(log.Write(4, L"plain.c", 7, L"info %04X", 0xBEEF), S_OK);
  EXPECT_EQ(log.Write(8, L"c:\\a_very_long_source_file_name.cpp", 1, L"debug"), S_OK);
  EXPECT_EQ(log.Write(3, L"x.c", 99999, L"both"), S_OK);
  EXPECT_EQ(log.Write(16, L"x.c", 1, L"filtered out"), S_OK);
  // Init again closes the first stream and appends to the new file.
  std::wstring second = Fresh(L"filtered.log");
  ASSERT_EQ(log.Init(second.c_str(), 0x10005, 0), S_OK);
  EXPECT_EQ(log.Write(2, L"c:\\src\\unit.src", 12, L"not written"), S_OK);
  EXPECT_EQ(log.Write(1, L"c:\\src\\unit.src", 12, L"x=%d", 5), S_OK);
  log.Shutdown();
  EXPECT_EQ(log.Write(1, nullptr, 0, L"after shutdown"), KV_E_NOTINITIALIZED);
}

TEST(CLog, InitAgainClosesTheOpenFile) {
  CLog log;
  std::wstring first = Fresh(L"reinit_a.log"), second = Fresh(L"reinit_b.log");
  ASSERT_EQ(log.Init(first.c_str(), 4, 0), S_OK);
  EXPECT_EQ(log.Write(4, nullptr, 0, L"a"), S_OK);
  EXPECT_FALSE(DeleteFileW(first.c_str()));  // held open by the log
  ASSERT_EQ(log.Init(second.c_str(), 4, 0), S_OK);
  EXPECT_TRUE(DeleteFileW(first.c_str()));  // no stream of ours holds it now
  log.Shutdown();
  EXPECT_TRUE(DeleteFileW(second.c_str()));
}

TEST(CLog, CopiesWriteThroughTheirOwnStream) {
  CLog log;
  ASSERT_EQ(log.Init(Fresh(L"copy.log").c_str(), 4, 0), S_OK);
  EXPECT_EQ(log.Write(4, nullptr, 0, L"from the original"), S_OK);
  {
    CLog copy(log);
    EXPECT_EQ(std::wstring(copy.GetLogFileName()), std::wstring(log.GetLogFileName()));
    EXPECT_EQ(copy.Write(4, nullptr, 0, L"from the copy"), S_OK);
    CLog assigned;
    assigned = copy;
    EXPECT_EQ(assigned.Write(4, nullptr, 0, L"from the assigned"), S_OK);
  }
  EXPECT_EQ(log.Write(4, nullptr, 0, L"original again"), S_OK);
  CLog closed;
  CLog copyOfClosed(closed);
  EXPECT_EQ(copyOfClosed.Write(4, nullptr, 0, L"x"), KV_E_NOTINITIALIZED);
}

TEST(CLog, LongMessagesAreCut) {
  CLog log;
  ASSERT_EQ(log.Init(Fresh(L"long.log").c_str(), 4, 0), S_OK);
  std::wstring text(3000, L'm');
  EXPECT_EQ(log.Write(4, nullptr, 0, L"%s", text.c_str()), S_OK);
  EXPECT_EQ(log.Write(4, nullptr, 0, L"after"), S_OK);
}

TEST(CLog, RollsOverAtTheSizeLimit) {
  CLog log;
  ASSERT_EQ(log.Init(Fresh(L"roll.log").c_str(), 4, 1000), S_OK);
  for (int i = 0; i < 70; ++i) ASSERT_EQ(log.Write(4, nullptr, 0, L"line %03d %s", i, L"........................................"), S_OK);
}

TEST(CLog, TwoThreadsWriteWholeLines) {
  CLog log;
  ASSERT_EQ(log.Init(Fresh(L"threads.log").c_str(), 0xF | CLog::kLocation, 0), S_OK);
  std::wstring payload(200, L'=');
  auto writer = [&](wchar_t who) {
    for (int i = 0; i < 1000; ++i) log.Write(2, L"worker.cpp", i, L"T%c %05d %s", who, i, payload.c_str());
  };
  std::thread a(writer, L'A'), b(writer, L'B');
  a.join();
  b.join();
}

}  // namespace
