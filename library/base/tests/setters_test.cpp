// Window-text setters and ellipsis fitting, on real windows (run under
// xvfb-run with a Wine prefix of its own).
#include <gtest/gtest.h>

#include <string>

#include "kvkernel.h"
#include "kvlang.h"
#include "kvprintf.h"

namespace {

int g_setTextCount = 0;
WNDPROC g_staticProc = nullptr;

LRESULT CALLBACK CountingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SETTEXT) ++g_setTextCount;
  return CallWindowProcW(g_staticProc, w, msg, wp, lp);
}

class Setters : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
  void SetUp() override {
    parent = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(parent, nullptr) << "no display (run under xvfb-run)";
    edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 300, 200, parent,
                           reinterpret_cast<HMENU>(100), nullptr, nullptr);
    label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 300, 20, parent, reinterpret_cast<HMENU>(101),
                            nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(label, nullptr);
    g_staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
  }
  void TearDown() override {
    if (parent) DestroyWindow(parent);
  }
  static std::wstring TextOf(HWND w) {
    wchar_t buf[8192];
    GetWindowTextW(w, buf, 8192);
    return buf;
  }
  HWND parent = nullptr, edit = nullptr, label = nullptr;
};

}  // namespace

TEST_F(Setters, WindowAndItemTexts) {
  EXPECT_EQ(KvSetWindowText(parent, L"Rate %d Hz", 44100), 13);
  EXPECT_EQ(TextOf(parent), L"Rate 44100 Hz");
  EXPECT_EQ(KvSetWindowText(parent, L"plain"), 5);
  EXPECT_EQ(TextOf(parent), L"plain");
  EXPECT_EQ(KvSetWindowText(parent, nullptr), 0);
  EXPECT_EQ(TextOf(parent), L"plain");
  EXPECT_EQ(KvSetDlgItemText(parent, 101, L"%s!", L"x"), 2);
  EXPECT_EQ(TextOf(label), L"x!");
  EXPECT_EQ(KvSetDlgItemText(parent, 101, nullptr), 0);
  EXPECT_EQ(KvSetDlgItemText(parent, 999, L"no such control"), 0);
  EXPECT_EQ(KvSetDlgItemTextId(KvLang_GetLibraryHandle(), parent, 101, 48914), 4);
  EXPECT_EQ(TextOf(label), L"Kbps");
  EXPECT_EQ(KvSetWindowTextId(KvLang_GetLibraryHandle(), parent, 48913), 3);
  EXPECT_EQ(TextOf(parent), L"bps");
}

TEST_F(Setters, NoFlashLeavesAnEqualTextAlone) {
  KvSetDlgItemText(parent, 101, L"same %d", 1);
  g_setTextCount = 0;
  EXPECT_EQ(KvSetDlgItemTextNoFlash(parent, 101, L"same %d", 1), 6);
  EXPECT_EQ(g_setTextCount, 0);
  EXPECT_EQ(KvSetDlgItemTextNoFlash(parent, 101, L"other %d", 2), 7);
  EXPECT_EQ(g_setTextCount, 1);
  EXPECT_EQ(TextOf(label), L"other 2");
}

TEST_F(Setters, LongArgumentsStayInTheBuffer) {
  std::wstring longText(5000, L'y');
  EXPECT_EQ(KvSetWindowText(parent, L"%s", longText.c_str()), 2047);
  EXPECT_EQ(TextOf(parent), longText.substr(0, 2047));
}

TEST_F(Setters, MultiLineEditAppends) {
  EXPECT_EQ(KvMEditPrintF(edit, L"line %d", 1), 6);
  EXPECT_EQ(KvMEditPrintF(edit, L"~~Done"), 4);
  EXPECT_EQ(KvMEditPrintF(edit, L"$d", 2000), 5);
  std::wstring text = TextOf(edit);
  EXPECT_TRUE(text == L"line 1\r\nDone2,000\r\n" || text == L"line 1\r\nDone2.000\r\n")
      << testing::PrintToString(text);
  EXPECT_EQ(KvMEditPrintF(edit, nullptr), 0);
  EXPECT_EQ(TextOf(edit), L"");
}

TEST_F(Setters, Ellipsis) {
  HDC dc = GetDC(parent);
  ASSERT_NE(dc, nullptr);
  SIZE hello, world, dots;
  GetTextExtentPoint32W(dc, L"Hello", 5, &hello);
  GetTextExtentPoint32W(dc, L"World", 5, &world);
  GetTextExtentPoint32W(dc, L"...", 3, &dots);
  wchar_t text[64] = L"Hello World";
  EXPECT_FALSE(KvCalcStringEllipsis(dc, text, 64, 1000));
  EXPECT_STREQ(text, L"Hello World");
  EXPECT_TRUE(KvCalcStringEllipsis(dc, text, 64, hello.cx + dots.cx + 2));
  EXPECT_STREQ(text, L"Hello...");
  wchar_t text2[64] = L"Hello World";
  EXPECT_TRUE(KvCalcStringEllipsisFromEnd(dc, text2, 64, world.cx + dots.cx + 2));
  EXPECT_STREQ(text2, L"...World");
  // The character limit counts the terminator: 9 characters hold at most
  // "Hello..." (the width alone would allow more).
  SIZE full;
  GetTextExtentPoint32W(dc, L"Hello World", 11, &full);
  wchar_t text3[64] = L"Hello World";
  EXPECT_TRUE(KvCalcStringEllipsis(dc, text3, 9, full.cx + 1));
  EXPECT_STREQ(text3, L"Hello...");
  wchar_t text4[4] = L"abc";
  EXPECT_FALSE(KvCalcStringEllipsis(dc, text4, 4, 1));  // nothing left to show
  EXPECT_STREQ(text4, L"abc");
  ReleaseDC(parent, dc);
}
