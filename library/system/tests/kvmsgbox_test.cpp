// Message boxes without a display: the no-UI hook's answers for every button
// set and default index, the hook rules (start-up thread, other threads,
// removal), what the custom box hands a hook, and its refusals.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kvmsgbox.h"

namespace {

std::vector<std::wstring> g_texts;
void __stdcall Collect(const wchar_t* text) { g_texts.push_back(text); }

struct HookSeen {
  int calls = 0;
  std::wstring text, caption;
  UINT type = 0;
} g_hook;
DWORD __stdcall Recording(void* answer, HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  ++g_hook.calls;
  g_hook.text = text;
  g_hook.caption = caption ? caption : L"<null>";
  g_hook.type = type;
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(answer));
}

TEST(KvMsgBoxNoUI, AnswersTheDefaultButtonOfEverySet) {
  ASSERT_EQ(KvMsgBoxSetAppData(nullptr, nullptr, L"Host"), 1);
  ASSERT_TRUE(KvMsgBoxSetNoUIHook(Collect));
  // Answers by button set and default index (the index lies in bits 8-11).
  const std::vector<std::vector<int>> answers = {
      {1},           {1, 2},        {3, 4, 5}, {6, 7, 2}, {6, 7},       {4, 2},
      {1},           {1},           {1},       {1},       {6, 100, 7, 2}, {6, 7, 101},
      {6, 7, 102, 2}, {6, 100, 7, 102, 2}, {1}, {1}};
  for (UINT set = 0; set < 16; ++set) {
    for (UINT d = 0; d < 16; ++d) {
      UINT type = set | (d << 8) | 0x30;
      if (d < answers[set].size()) {
        g_texts.clear();
        EXPECT_EQ(KvMessageBox(nullptr, L"question", nullptr, type), answers[set][d]) << "set " << set << " d " << d;
        ASSERT_EQ(g_texts.size(), 1u);
        EXPECT_EQ(g_texts[0], L"question");
      } else {
        // Beyond the set: the box would be shown (checked under a display).
        EXPECT_EQ(KvMsgBox_DefaultAnswer(type), KV_MSGBOX_NOT_HANDLED) << "set " << set << " d " << d;
      }
    }
  }
  g_texts.clear();
  EXPECT_EQ(KvMessageBox(nullptr, L"x", nullptr, MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(g_texts, std::vector<std::wstring>{L"x"});
  // The formatting entries go through the same hook.
  g_texts.clear();
  EXPECT_EQ(KvMsgBox(nullptr, MB_OK, L"%d files, %s", 3, L"done"), IDOK);
  EXPECT_EQ(g_texts, std::vector<std::wstring>{L"3 files, done"});
  // Other threads are silenced with 0 and the callback is not called.
  g_texts.clear();
  int other = -1;
  std::thread t([&] { other = KvMessageBox(nullptr, L"from a worker", nullptr, MB_OK); });
  t.join();
  EXPECT_EQ(other, 0);
  EXPECT_TRUE(g_texts.empty());
  ASSERT_TRUE(KvMsgBoxSetNoUIHook(nullptr));
}

TEST(KvMsgBoxHooks, OnlyTheStartUpThreadChangesHooks) {
  ASSERT_EQ(KvMsgBoxSetAppData(nullptr, nullptr, L"Host"), 1);
  BOOL fromWorker = TRUE, noUiFromWorker = TRUE;
  std::thread t([&] {
    fromWorker = KvMsgBoxSetHook(Recording, reinterpret_cast<void*>(7));
    noUiFromWorker = KvMsgBoxSetNoUIHook(Collect);
  });
  t.join();
  EXPECT_FALSE(fromWorker);
  EXPECT_FALSE(noUiFromWorker);
  // The own hook stays when the no-UI hook is removed.
  ASSERT_TRUE(KvMsgBoxSetHook(Recording, reinterpret_cast<void*>(7)));
  ASSERT_TRUE(KvMsgBoxSetNoUIHook(nullptr));
  g_hook = HookSeen();
  EXPECT_EQ(KvMessageBox(nullptr, L"t", L"Caption", MB_YESNO), 7);
  EXPECT_EQ(g_hook.calls, 1);
  EXPECT_EQ(g_hook.caption, L"Caption");
  EXPECT_EQ(g_hook.type, static_cast<UINT>(MB_YESNO));
  ASSERT_TRUE(KvMsgBoxSetHook(nullptr, nullptr));
}

TEST(KvMsgBoxCustom, HookGetsTextDetailsAndTheApplicationName) {
  std::wstring longName(300, L'n');
  ASSERT_EQ(KvMsgBoxSetAppData(nullptr, nullptr, longName.c_str()), 1);
  ASSERT_TRUE(KvMsgBoxSetHook(Recording, reinterpret_cast<void*>(101)));
  g_hook = HookSeen();
  EXPECT_EQ(KvMsgBox_Custom(nullptr, 0xC000 | 11, L"line 1\r\nline 2", L"Delete %d files?", 4), 101);
  EXPECT_EQ(g_hook.text, L"Delete 4 files?\r\n<Details>\r\nline 1\r\nline 2\r\n</Details>");
  EXPECT_EQ(g_hook.caption, std::wstring(127, L'n'));  // the name is kept bounded
  EXPECT_EQ(g_hook.type, 0xC000u | 11);
  // Either details bit alone passes the details to the hook.
  EXPECT_EQ(KvMsgBox_Custom(nullptr, 0x4000, L"d", L"t"), 101);
  EXPECT_EQ(g_hook.text, L"t\r\n<Details>\r\nd\r\n</Details>");
  // A text without format codes is shown as it stands.
  EXPECT_EQ(KvMsgBox_Custom(nullptr, 0, nullptr, L"100 percent"), 101);
  EXPECT_EQ(g_hook.text, L"100 percent");
  int state = 0;
  EXPECT_EQ(KvMsgBox_CustomEx(nullptr, 0x1000 | 4, nullptr, nullptr, &state, L"ask"), 101);
  // Refusals: details bits without details, a check box without its state.
  g_hook = HookSeen();
  EXPECT_EQ(KvMsgBox_Custom(nullptr, 0xC000, nullptr, L"x"), 0);
  EXPECT_EQ(KvMsgBox_Custom(nullptr, 0x8000, nullptr, L"x"), 0);
  EXPECT_EQ(KvMsgBox_CustomEx(nullptr, 0x1000, nullptr, nullptr, nullptr, L"x"), 0);
  EXPECT_EQ(g_hook.calls, 0);
  ASSERT_TRUE(KvMsgBoxSetHook(nullptr, nullptr));
}

}  // namespace
