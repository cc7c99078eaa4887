// The exported conversion self-test passes at every processor level, runs the
// nodes its level allows, and leaves the floating-point control words alone.
#include <gtest/gtest.h>

#include "audio_test_util.h"
#include "kvaudio_selftest.h"

TEST(SelfTest, PassesAtEveryLevel) {
  const DWORD raw = KvAudioCpu_GetSupportRaw(0);
  struct {
    DWORD allow;
    int nodes;
    DWORD need;
  } levels[] = {{0, 14, 0}, {2, 20, 0}, {0x30, 23, 0x20}, {0x70, 26, 0x40}};
  const uint16_t cw = kvtest::X87ControlWord();
  const uint32_t mx = kvtest::Mxcsr();
  for (auto& l : levels) {
    if ((raw & l.need) != l.need) continue;
    KvAudioCpu_OnlyAllow(l.allow);
    KvAudioSelfTestReport report;
    EXPECT_EQ(KvAudioCopy_RunSelfTest(&report), S_OK) << report.details;
    EXPECT_EQ(report.nodesRun, l.nodes) << "allow " << l.allow;
    EXPECT_TRUE(report.details.empty());
  }
  KvAudioCpu_AllowAll();
  EXPECT_EQ(KvAudioCopy_UnitTest(nullptr), S_OK);
  EXPECT_EQ(kvtest::X87ControlWord(), cw);
  EXPECT_EQ(kvtest::Mxcsr(), mx);
}

#ifdef _WIN32
#include <string>

#include "kverror.h"
#include "kvmsgbox.h"

// The exported self-test starts a fresh details report: a passing run leaves
// no details text and no last error behind.
TEST(SelfTest, PassingRunLeavesNoDetails) {
  KvErrorHandler_DetailsAddString(E_FAIL, L"left over");
  ASSERT_EQ(KvErrorHandler_GetLastError(), E_FAIL);
  EXPECT_EQ(KvAudioCopy_UnitTest(nullptr), S_OK);
  int count = -1;
  EXPECT_EQ(KvErrorHandler_DetailsInfo(nullptr, &count, nullptr), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(KvErrorHandler_GetLastError(), S_OK);
}

namespace {

// A run in which nodes 3 and 7 failed.
HRESULT FailingRun(KvAudioSelfTestReport* report) {
  report->nodesRun = 26;
  report->failedNodes = {3, 7};
  return E_UNEXPECTED;
}

struct SeenBox {
  int calls = 0;
  std::wstring text;
  UINT type = 0;
} g_box;

DWORD __stdcall RecordBox(void*, HWND, const wchar_t* text, const wchar_t*, UINT type) {
  ++g_box.calls;
  g_box.text = text ? text : L"";
  g_box.type = type;
  return IDOK;
}

}  // namespace

// A failed node is reported through the error handler: one details line per
// node with E_UNEXPECTED; without an owner the code is returned, with one the
// error message box shows the details and S_OK is returned.
TEST(SelfTest, FailureGoesThroughTheErrorHandler) {
  const wchar_t* kLines = L"KvAudioCopy_UnitTest node[3] failed.\r\nKvAudioCopy_UnitTest node[7] failed.\r\n";
  EXPECT_EQ(KvAudioCopy_UnitTestWith(nullptr, FailingRun), E_UNEXPECTED);
  HRESULT last = S_OK;
  int count = 0;
  const wchar_t* details = KvErrorHandler_DetailsInfo(&last, &count, nullptr);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(std::wstring(details), kLines);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(last, E_UNEXPECTED);

  // The host records itself with the message boxes, then hooks them.
  ASSERT_TRUE(KvMsgBoxSetAppData(nullptr, nullptr, L"Self-test host"));
  ASSERT_TRUE(KvMsgBoxSetHook(RecordBox, nullptr));
  g_box = SeenBox();
  EXPECT_EQ(KvAudioCopy_UnitTestWith(reinterpret_cast<void*>(GetDesktopWindow()), FailingRun), S_OK);
  KvMsgBoxSetHook(nullptr, nullptr);
  EXPECT_EQ(g_box.calls, 1);
  EXPECT_EQ(g_box.type, 0x30u | KVMB_DETAILS);  // exclamation icon, with the details
  EXPECT_NE(g_box.text.find(std::wstring(L"<Details>\r\n") + kLines), std::wstring::npos) << g_box.text.c_str();
  // The box consumed the details.
  EXPECT_EQ(KvErrorHandler_DetailsInfo(nullptr, &count, nullptr), nullptr);
}
#endif
