// Dialogs built in memory, on a display (run under xvfb-run): the system's
// dialog manager makes real dialogs of the built templates, whose controls,
// texts, styles, help ids, fonts and rectangles (MapDialogRect) must match the
// description records; templates read back from memory and from windres-built
// resources; predicted dialog sizes against the dialogs made; placement on the
// monitor's work area; saved placements; the small dialog operations.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "kvkernel.h"
#include "kvlang.h"
#include "kvmetric.h"
#include "kvui.h"
#include "vog_exports.h"

namespace {

// Sizes of the mapped records: 44 and 40 bytes in the 32-bit build.
const long kHeader = sizeof(_kvdlghdrcreateex);
const long kControl = sizeof(_kvdlgctrlcreateex);

HKVLANG g_lang = nullptr;

class Dialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KvUI_InstallKernelHooks();
    KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr);
    KvLang_Open(&g_lang, GetModuleHandleW(nullptr), 1033, 0);
  }
  static void TearDownTestSuite() { KvLang_Close(g_lang); }
};

INT_PTR CALLBACK QuietProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

void FreeBlock(const void* p) {
  HGLOBAL h = GlobalHandle(p);
  GlobalUnlock(h);
  GlobalFree(h);
}

struct Child {
  HWND hwnd;
  std::wstring cls, text;
  DWORD style, exStyle;
  RECT rect;  // in the dialog's client coordinates
};

std::map<int, Child> Children(HWND dlg) {
  std::map<int, Child> out;
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64] = {}, text[256] = {};
    GetClassNameW(c, cls, 64);
    GetWindowTextW(c, text, 256);
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    out[GetDlgCtrlID(c)] = {c, cls, text, static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE)),
                            static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE)), r};
  }
  return out;
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = towlower(c);
  return s;
}

LOGFONTW DialogFont(HWND dlg) {
  LOGFONTW lf = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

const wchar_t* Ord(int n) { return MAKEINTRESOURCEW(n); }

const DWORD kChild = WS_CHILD | WS_VISIBLE;

const _kvdlgctrlcreate kControls[] = {
    {Ord(0x80), L"&OK", 1, 10, 90, 50, 14, 0, 0, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
    {Ord(0x81), Ord(501), 101, 10, 10, 90, 12, 0, WS_EX_CLIENTEDGE, kChild | ES_AUTOHSCROLL | WS_TABSTOP},
    {Ord(0x82), L"Label", 102, 110, 10, 60, 8, 0, 0, kChild | SS_LEFT},
    {Ord(0x83), nullptr, 103, 10, 30, 80, 40, 0, 0, kChild | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
    {Ord(0x84), nullptr, 104, 100, 30, 10, 40, 0, 0, kChild | SBS_VERT},
    {Ord(0x85), nullptr, 105, 120, 30, 60, 60, 0, 0, kChild | CBS_DROPDOWNLIST},
    {L"Button", nullptr, 106, 120, 60, 60, 10, 0, 0, kChild | BS_AUTOCHECKBOX},
};
const wchar_t* const kClassNames[] = {L"button", L"edit", L"static", L"listbox", L"scrollbar", L"combobox", L"button"};

_kvdlghdrcreate PlainHeader(int count) {
  _kvdlghdrcreate h = {};
  h.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
  h.count = static_cast<WORD>(count);
  h.cx = 200;
  h.cy = 110;
  h.title = Ord(500);
  h.pointSize = 10;
  h.face = L"Tahoma";
  return h;
}

TEST_F(Dialogs, PlainTemplateMakesTheDescribedDialog) {
  const int n = sizeof kControls / sizeof kControls[0];
  _kvdlghdrcreate h = PlainHeader(n);
  const DLGTEMPLATE* t = KvCreateDialogTemplate(g_lang, &h, kControls);
  ASSERT_NE(t, nullptr);
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(dlg, title, 64);
  EXPECT_STREQ(title, L"Table title");
  LOGFONTW lf = DialogFont(dlg);
  EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
  EXPECT_EQ(lf.lfHeight, -MulDiv(10, ScreenDpi(), 72));

  auto kids = Children(dlg);
  ASSERT_EQ(kids.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const _kvdlgctrlcreate& c = kControls[i];
    ASSERT_TRUE(kids.count(c.id)) << c.id;
    const Child& k = kids[c.id];
    EXPECT_EQ(Lower(k.cls), kClassNames[i]) << c.id;
    if (c.id == 101) {
      EXPECT_EQ(k.text, L"Table text");
    } else if (c.id != 105) {
      EXPECT_EQ(k.text, c.text ? c.text : L"") << c.id;
    }
    EXPECT_EQ(k.style & c.style, c.style) << c.id;
    EXPECT_EQ(k.exStyle & c.exStyle, c.exStyle) << c.id;
    RECT want = {c.x, c.y, c.x + c.cx, c.y + c.cy};
    MapDialogRect(dlg, &want);
    // Within a pixel: the dialog manager and MapDialogRect may round apart.
    EXPECT_NEAR(k.rect.left, want.left, 1) << c.id;
    EXPECT_NEAR(k.rect.top, want.top, 1) << c.id;
    EXPECT_NEAR(k.rect.right, want.right, 1) << c.id;
    if (c.id != 105) {  // a drop-down list sizes itself
      EXPECT_NEAR(k.rect.bottom, want.bottom, 1) << c.id;
    }
  }

  // The size the description predicts is the size the system gave the
  // dialog's client area (within the rounding of the two measures).
  SIZE predicted = {};
  EXPECT_TRUE(KvGetDialogSize(g_lang, &h, &predicted));
  RECT client;
  GetClientRect(dlg, &client);
  EXPECT_NEAR(predicted.cx, client.right, 1 + client.right / 50);
  EXPECT_NEAR(predicted.cy, client.bottom, 1 + client.bottom / 50);
  DestroyWindow(dlg);
  FreeBlock(t);
}

TEST_F(Dialogs, AtMost256Controls) {
  std::vector<_kvdlgctrlcreate> many(300);
  for (int i = 0; i < 300; ++i)
    many[i] = {Ord(0x82), L"s", static_cast<WORD>(1000 + i), static_cast<short>(i % 20), 0, 4, 4, 0, 0, kChild};
  _kvdlghdrcreate h = PlainHeader(300);
  const DLGTEMPLATE* t = KvCreateDialogTemplate(g_lang, &h, many.data());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->cdit, 256);
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  auto kids = Children(dlg);
  EXPECT_EQ(kids.size(), 256u);
  EXPECT_TRUE(kids.count(1255));
  EXPECT_FALSE(kids.count(1256));
  DestroyWindow(dlg);
  FreeBlock(t);
}

TEST_F(Dialogs, DefaultFontIsShellDialogAtEightPoints) {
  _kvdlghdrcreate h = PlainHeader(0);
  h.face = nullptr;
  h.pointSize = 12;  // not used without a face
  h.title = nullptr;
  const DLGTEMPLATE* t = KvCreateDialogTemplate(g_lang, &h, nullptr);
  ASSERT_NE(t, nullptr);
  // Header (18 bytes), no menu, no class, empty title, then the font.
  const WORD* w = reinterpret_cast<const WORD*>(t);
  EXPECT_EQ(w[9], 0);
  EXPECT_EQ(w[10], 0);
  EXPECT_EQ(w[11], 0);
  EXPECT_EQ(w[12], 8);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(w + 13), L"MS Shell Dlg");
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  EXPECT_STREQ(DialogFont(dlg).lfFaceName, L"MS Shell Dlg");
  EXPECT_EQ(DialogFont(dlg).lfHeight, -MulDiv(8, ScreenDpi(), 72));
  DestroyWindow(dlg);
  FreeBlock(t);
}

const BYTE kData[6] = {1, 2, 3, 4, 5, 6};

struct ExDialog {
  _kvdlghdrcreateex h = {};
  _kvdlgctrlcreateex c[3] = {};
  ExDialog() {
    h.title = L"Extended";
    h.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    h.exStyle = WS_EX_CONTEXTHELP;
    h.count = 3;
    h.x = 5, h.y = 6, h.cx = 180, h.cy = 90;
    h.pointSize = 9;
    h.face = L"Tahoma";
    h.weight = 700;
    h.italic = 1;
    h.charset = DEFAULT_CHARSET;
    h.helpId = 4242;
    c[0] = {Ord(0x80), Ord(501), 11, 5, 5, 60, 14, 0, 0, kChild | BS_PUSHBUTTON, 501, 0, nullptr};
    c[1] = {L"Static", L"Second", 12, 5, 25, 60, 8, 0, WS_EX_STATICEDGE, kChild, 502, 0, nullptr};
    c[2] = {L"KvUiDataClass", L"Third", 13, 5, 40, 60, 8, 0, 0, kChild, 503, sizeof kData, kData};
  }
};

// The creation data reaches a control's WM_CREATE.
std::vector<BYTE> g_seenData;
LRESULT CALLBACK DataClassProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    const BYTE* p = static_cast<const BYTE*>(cs->lpCreateParams);
    // The block, with or without its size word in front.
    if (p) {
      WORD size;
      memcpy(&size, p, 2);
      if (size == sizeof kData) p += 2;
      g_seenData.assign(p, p + sizeof kData);
    }
  }
  return DefWindowProcW(w, msg, wp, lp);
}

TEST_F(Dialogs, ExtendedTemplateAndItsRecordsRoundTrip) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DataClassProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvUiDataClass";
  ASSERT_NE(KvRegisterClass(&wc), 0);

  ExDialog d;
  WORD size = 0;
  const DLGTEMPLATE* t = KvCreateDialogTemplateEx(g_lang, &d.h, d.c, &size);
  ASSERT_NE(t, nullptr);
  EXPECT_GT(size, 26);
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(GetWindowContextHelpId(dlg), 4242u);
  LOGFONTW lf = DialogFont(dlg);
  EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfItalic, 1);
  auto kids = Children(dlg);
  ASSERT_EQ(kids.size(), 3u);
  EXPECT_EQ(kids[11].text, L"Table text");
  EXPECT_EQ(Lower(kids[11].cls), L"button");
  EXPECT_EQ(kids[13].cls, L"KvUiDataClass");
  EXPECT_NE(kids[12].exStyle & WS_EX_STATICEDGE, 0u);
  // (The controls' help ids are checked in the records read back below, and
  // against windres's layout in ResourceTemplatesReadBack: this dialog
  // manager does not hand them to the controls.)
  EXPECT_EQ(g_seenData, std::vector<BYTE>(kData, kData + 6));
  RECT want = {5, 25, 65, 33};
  MapDialogRect(dlg, &want);
  EXPECT_EQ(kids[12].rect.left, want.left);
  EXPECT_EQ(kids[12].rect.bottom, want.bottom);
  SIZE predicted = {};
  KvGetDialogSizeEx(g_lang, &d.h, &predicted);
  RECT client;
  GetClientRect(dlg, &client);
  EXPECT_NEAR(predicted.cx, client.right, 1 + client.right / 50);
  EXPECT_NEAR(predicted.cy, client.bottom, 1 + client.bottom / 50);
  DestroyWindow(dlg);

  _kvdlghdrcreateex* m = nullptr;
  ASSERT_EQ(KvMapDialogTemplate(t, size, &m), kHeader + kControl * 3);
  ASSERT_NE(m, nullptr);
  const BYTE* lo = reinterpret_cast<const BYTE*>(m);
  const BYTE* hi = lo + GlobalSize(GlobalHandle(m));
  auto inside = [&](const void* p) { return p >= lo && p < hi; };
  EXPECT_STREQ(m->title, L"Extended");
  EXPECT_TRUE(inside(m->title));
  EXPECT_EQ(m->style, d.h.style);
  EXPECT_EQ(m->exStyle, d.h.exStyle);
  EXPECT_EQ(m->menu, nullptr);
  EXPECT_EQ(m->windowClass, nullptr);
  EXPECT_EQ(m->count, 3);
  EXPECT_EQ(m->x, 5);
  EXPECT_EQ(m->cy, 90);
  EXPECT_EQ(m->pointSize, 9);
  EXPECT_STREQ(m->face, L"Tahoma");
  EXPECT_EQ(m->weight, 700);
  EXPECT_EQ(m->italic, 1);
  EXPECT_EQ(m->charset, DEFAULT_CHARSET);
  EXPECT_EQ(m->helpId, 4242u);
  auto* mc = reinterpret_cast<_kvdlgctrlcreateex*>(m + 1);
  EXPECT_EQ(mc[0].className, Ord(0x80));
  EXPECT_STREQ(mc[0].text, L"Table text");
  EXPECT_STREQ(mc[1].className, L"Static");
  EXPECT_STREQ(mc[2].className, L"KvUiDataClass");
  EXPECT_TRUE(inside(mc[2].className));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mc[i].id, d.c[i].id);
    EXPECT_EQ(mc[i].y, d.c[i].y);
    EXPECT_EQ(mc[i].cx, d.c[i].cx);
    EXPECT_EQ(mc[i].style, d.c[i].style);
    EXPECT_EQ(mc[i].exStyle, d.c[i].exStyle);
    EXPECT_EQ(mc[i].helpId, d.c[i].helpId);
  }
  ASSERT_EQ(mc[2].dataSize, 6u);
  EXPECT_EQ(memcmp(mc[2].data, kData, 6), 0);
  EXPECT_TRUE(inside(mc[2].data));
  EXPECT_EQ(mc[0].dataSize, 0u);
  FreeBlock(m);

  // Every truncated copy is refused or read within its bounds.
  for (long cut = 1; cut < size; ++cut) {
    std::vector<BYTE> copy(reinterpret_cast<const BYTE*>(t), reinterpret_cast<const BYTE*>(t) + cut);
    _kvdlghdrcreateex* p = nullptr;
    long got = KvMapDialogTemplate(reinterpret_cast<const DLGTEMPLATE*>(copy.data()), cut, &p);
    if (got) FreeBlock(p);
    EXPECT_TRUE(got == 0 || got == kHeader + kControl * 3) << cut;
  }
  _kvdlghdrcreateex* p = nullptr;
  EXPECT_EQ(KvMapDialogTemplate(nullptr, 100, &p), 0);
  EXPECT_EQ(KvMapDialogTemplate(t, 0, &p), 0);
  EXPECT_EQ(KvMapDialogTemplate(t, size, nullptr), 0);
  FreeBlock(t);
  EXPECT_TRUE(KvUnregisterClass(L"KvUiDataClass", GetModuleHandleW(nullptr)));
  EXPECT_FALSE(KvUnregisterClass(L"KvUiDataClass", GetModuleHandleW(nullptr)));
  EXPECT_FALSE(KvUnregisterClass(nullptr, GetModuleHandleW(nullptr)));
}

// Resources compiled by windres, read back into records.
TEST_F(Dialogs, ResourceTemplatesReadBack) {
  const DLGTEMPLATE* t = nullptr;
  long size = KvDialogTemplateFromRCID(g_lang, Ord(700), &t);
  ASSERT_GT(size, 0);
  ASSERT_NE(t, nullptr);
  _kvdlghdrcreateex* m = nullptr;
  ASSERT_EQ(KvMapDialogTemplate(t, size, &m), kHeader + kControl * 2);
  EXPECT_STREQ(m->title, L"Resource dialog");
  EXPECT_EQ(m->exStyle & WS_EX_TOOLWINDOW, static_cast<DWORD>(WS_EX_TOOLWINDOW));
  EXPECT_EQ(m->x, 10);
  EXPECT_EQ(m->y, 20);
  EXPECT_EQ(m->cx, 200);
  EXPECT_STREQ(m->face, L"Tahoma");
  EXPECT_EQ(m->pointSize, 9);
  EXPECT_EQ(m->weight, 700);
  EXPECT_EQ(m->italic, 1);
  EXPECT_EQ(m->charset, 1);
  auto* c = reinterpret_cast<_kvdlgctrlcreateex*>(m + 1);
  EXPECT_STREQ(c[0].text, L"Push");
  EXPECT_EQ(c[0].id, 11);
  EXPECT_EQ(c[0].helpId, 77u);
  EXPECT_EQ(c[0].exStyle & WS_EX_CLIENTEDGE, static_cast<DWORD>(WS_EX_CLIENTEDGE));
  EXPECT_EQ(c[0].cx, 50);
  EXPECT_EQ(c[1].className, Ord(0x81));
  EXPECT_EQ(c[1].style & ES_AUTOHSCROLL, static_cast<DWORD>(ES_AUTOHSCROLL));
  FreeBlock(m);

  // Plain templates: help 0, weight 400, charset 1; the old default face at 8
  // points reads as no face, at 9 points it is kept.
  size = KvDialogTemplateFromRCID(g_lang, Ord(701), &t);
  ASSERT_GT(size, 0);
  ASSERT_EQ(KvMapDialogTemplate(t, size, &m), kHeader + kControl);
  EXPECT_EQ(m->helpId, 0u);
  EXPECT_EQ(m->weight, 400);
  EXPECT_EQ(m->italic, 0);
  EXPECT_EQ(m->charset, 1);
  EXPECT_EQ(m->face, nullptr);
  EXPECT_STREQ(m->title, L"Plain");
  EXPECT_STREQ(reinterpret_cast<_kvdlgctrlcreateex*>(m + 1)->text, L"Label");
  FreeBlock(m);
  size = KvDialogTemplateFromRCID(g_lang, Ord(702), &t);
  ASSERT_EQ(KvMapDialogTemplate(t, size, &m), kHeader + kControl);
  EXPECT_STREQ(m->face, L"MS Sans Serif");
  FreeBlock(m);

  t = reinterpret_cast<const DLGTEMPLATE*>(1);
  EXPECT_EQ(KvDialogTemplateFromRCID(g_lang, Ord(799), &t), 0);
  EXPECT_EQ(t, nullptr);
}

// A plain template's creation-data size counts its own word.
TEST_F(Dialogs, PlainCreationDataSize) {
  std::vector<WORD> w = {0, 0x8000,  // style WS_POPUP
                         0, 0,       // extended style
                         1, 0, 0, 50, 20,  // one control
                         0, 0, 0};   // menu, class, title
  // Control: style, extended style, x, y, cx, cy, id, class 0x82, text "", data 6.
  std::vector<WORD> item = {0, 0x5000, 0, 0, 1, 2, 3, 4, 33, 0xFFFF, 0x82, 0, 6, 0xABCD, 0x1234};
  w.insert(w.end(), item.begin(), item.end());
  _kvdlghdrcreateex* m = nullptr;
  ASSERT_EQ(KvMapDialogTemplate(reinterpret_cast<const DLGTEMPLATE*>(w.data()), static_cast<long>(w.size() * 2), &m),
            kHeader + kControl);
  auto* c = reinterpret_cast<_kvdlgctrlcreateex*>(m + 1);
  EXPECT_EQ(c->id, 33);
  EXPECT_EQ(c->className, Ord(0x82));
  ASSERT_EQ(c->dataSize, 4u);
  EXPECT_EQ(static_cast<const WORD*>(c->data)[0], 0xABCD);
  FreeBlock(m);
}

TEST_F(Dialogs, BothDialogSizeFormsAreExported) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  using RecordForm = BOOL(__stdcall*)(HKVLANG, const _kvdlghdrcreate*, SIZE*);
  auto record = reinterpret_cast<RecordForm>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvGetDialogSize@12").c_str())));
  ASSERT_NE(record, nullptr);
  ASSERT_NE(GetProcAddress(dll, VogExportName("_KvGetDialogSize@20").c_str()), nullptr);
  ASSERT_NE(GetProcAddress(dll, VogExportName("_KvGetDialogSizeEx@12").c_str()), nullptr);
  _kvdlghdrcreate h = PlainHeader(0);
  SIZE a = {}, b = {};
  EXPECT_TRUE(record(nullptr, &h, &a));
  EXPECT_TRUE(KvGetDialogSize(nullptr, &h, &b));
  EXPECT_EQ(a.cx, b.cx);
  EXPECT_EQ(a.cy, b.cy);
  // Without a font the UI font's "0" gives the units.
  h.style &= ~DS_SETFONT;
  KvGetDialogSize(nullptr, &h, &a);
  const SIZE* ui = KvGetUIFontSize(100);
  EXPECT_EQ(a.cx, MulDiv(200, ui->cx, 4));
  EXPECT_EQ(a.cy, MulDiv(110, ui->cy, 8));
}

RECT WorkArea() {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

std::string Text(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

TEST_F(Dialogs, RectanglesKeptOnTheDesktop) {
  const RECT w = WorkArea();
  struct Case {
    RECT in;
    int mx, my;
    RECT want;
  } cases[] = {
      {{w.left + 50, w.top + 50, w.left + 150, w.top + 100}, 0, 0, {w.left + 50, w.top + 50, w.left + 150, w.top + 100}},
      {{w.left - 30, w.top + 50, w.left + 70, w.top + 100}, 5, 0, {w.left + 5, w.top + 50, w.left + 105, w.top + 100}},
      {{w.right - 50, w.top + 50, w.right + 50, w.top + 100}, 10, 0, {w.right - 110, w.top + 50, w.right - 10, w.top + 100}},
      {{w.left + 50, w.top - 40, w.left + 150, w.top + 10}, 0, 3, {w.left + 50, w.top + 3, w.left + 150, w.top + 53}},
      {{w.left + 50, w.bottom - 10, w.left + 150, w.bottom + 40}, 0, 0, {w.left + 50, w.bottom - 50, w.left + 150, w.bottom}},
      // Wider than the work area: the left edge goes to work.left + mx.
      {{w.left + 20, w.top, w.right + 100, w.top + 10}, 7, 0, {w.left + 7, w.top, w.right + 87, w.top + 10}},
  };
  for (const Case& c : cases) {
    RECT r = c.in;
    EXPECT_TRUE(KvForceRectOntoDesktop(&r, c.mx, c.my));
    EXPECT_TRUE(Same(r, c.want)) << Text(c.in) << " -> " << Text(r) << ", want " << Text(c.want);
  }

  // Pop-ups open towards the middle of the work area.
  const int cx = (w.left + w.right) / 2, cy = (w.top + w.bottom) / 2;
  struct Popup {
    RECT anchor;
    POINT corner;  // wanted top-left
  } popups[] = {
      {{w.left + 10, w.top + 10, w.left + 30, w.top + 20}, {w.left + 30, w.top + 20}},        // right, below
      {{w.right - 30, w.top + 10, w.right - 10, w.top + 20}, {w.right - 30 - 60, w.top + 20}},  // left, below
      {{w.left + 10, w.bottom - 20, w.left + 30, w.bottom - 10}, {w.left + 30, w.bottom - 20 - 40}},
      {{w.right - 30, w.bottom - 20, w.right - 10, w.bottom - 10}, {w.right - 90, w.bottom - 60}},
      {{cx - 10, cy - 5, cx + 10, cy + 5}, {cx + 10, cy + 5}},
  };
  for (const Popup& p : popups) {
    RECT r = {0, 0, 60, 40};
    EXPECT_TRUE(KvForcePopupRectOntoDesktop(&r, &p.anchor, 0, 0));
    EXPECT_EQ(r.left, p.corner.x) << Text(p.anchor);
    EXPECT_EQ(r.top, p.corner.y) << Text(p.anchor);
    EXPECT_EQ(r.right - r.left, 60);
  }
  // One that does not fit is pushed back onto the desktop.
  RECT anchor = {w.left + 10, w.top + 10, w.right - 500, w.bottom - 10};
  RECT big = {0, 0, 600, 50};
  KvForcePopupRectOntoDesktop(&big, &anchor, 0, 0);
  EXPECT_LE(big.right, w.right);

  // Captions.
  const int caption = GetSystemMetrics(SM_CYSMCAPTION);
  RECT shown = {w.left + 10, w.top + 10, w.left + 300, w.top + 200};
  EXPECT_TRUE(KvIsWindowCaptionVisible(&shown));
  RECT away = {-10000, -10000, -9000, -9500};
  EXPECT_FALSE(KvIsWindowCaptionVisible(&away));
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  RECT low = {100, screenH - 2, 400, screenH + 300};
  EXPECT_FALSE(KvIsWindowCaptionVisible(&low)) << "a 2-pixel sliver of a " << caption << "-pixel caption";
}

HWND Popup(HWND owner, int x, int y, int w, int h, DWORD style = WS_POPUP | WS_VISIBLE) {
  return CreateWindowExW(0, L"STATIC", L"", style, x, y, w, h, owner, nullptr, nullptr, nullptr);
}

RECT WindowRect(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return r;
}

TEST_F(Dialogs, CentringOverParentReferenceOrScreen) {
  HWND parent = Popup(nullptr, 100, 100, 400, 300);
  HWND win = Popup(parent, 0, 0, 200, 100);
  ASSERT_TRUE(KvWndCenter(win, nullptr, nullptr, 0x8000));
  EXPECT_TRUE(Same(WindowRect(win), RECT{200, 200, 400, 300})) << Text(WindowRect(win));
  // Upper third: top at 100 + 300/3 - 100/3.
  KvWndCenter(win, nullptr, nullptr, 0x8001);
  EXPECT_EQ(WindowRect(win).top, 100 + 100 - 33);
  EXPECT_EQ(WindowRect(win).left, 200);
  POINT at = {600, 500};
  KvWndCenter(win, nullptr, &at, 3);
  EXPECT_TRUE(Same(WindowRect(win), RECT{500, 450, 700, 550})) << Text(WindowRect(win));
  SetCursorPos(300, 260);
  POINT cursor;
  GetCursorPos(&cursor);
  KvWndCenter(win, nullptr, nullptr, 2);
  EXPECT_EQ(WindowRect(win).left, cursor.x - 100);
  // Kept on the desktop.
  const RECT w = WorkArea();
  at = {w.right, w.bottom};
  KvWndCenter(win, nullptr, &at, 3);
  EXPECT_TRUE(Same(WindowRect(win), RECT{w.right - 200, w.bottom - 100, w.right, w.bottom}));
  // A reference window.
  HWND other = Popup(nullptr, 300, 200, 100, 100);
  KvWndCenter(win, other, nullptr, 0);
  EXPECT_TRUE(Same(WindowRect(win), RECT{250, 200, 450, 300})) << Text(WindowRect(win));
  // Client area of the reference (a window with a caption).
  HWND framed = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_CAPTION, 300, 200, 200, 150, nullptr,
                                nullptr, nullptr, nullptr);
  RECT cr;
  GetClientRect(framed, &cr);
  MapWindowPoints(framed, nullptr, reinterpret_cast<POINT*>(&cr), 2);
  KvWndCenter(win, framed, nullptr, 0x1000);
  EXPECT_EQ(WindowRect(win).top, cr.top + (cr.bottom - cr.top - 100) / 2);
  // A minimised parent: the screen's work area.
  ShowWindow(parent, SW_MINIMIZE);
  KvWndCenter(win, nullptr, nullptr, 0x8000);
  EXPECT_EQ(WindowRect(win).left, w.left + (w.right - w.left - 200) / 2);
  ShowWindow(parent, SW_RESTORE);
  // A child window is placed in its parent's client coordinates.
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50, parent, nullptr, nullptr,
                               nullptr);
  KvWndCenter(child, nullptr, nullptr, 0x8000);
  RECT pr = WindowRect(parent);
  RECT chr = WindowRect(child);
  EXPECT_EQ(chr.left, pr.left + (pr.right - pr.left - 100) / 2);
  EXPECT_EQ(chr.top, pr.top + (pr.bottom - pr.top - 50) / 2);
  EXPECT_FALSE(KvWndCenter(nullptr, nullptr, nullptr, 0));
  DestroyWindow(framed);
  DestroyWindow(other);
  DestroyWindow(parent);
}

TEST_F(Dialogs, SavedWindowPlacements) {
  HKVMETRIC metric = nullptr;
  ASSERT_EQ(KvMetric_Open(&metric, L"KvUiPlacementTest", 1, nullptr), S_OK);
  KvDeleteMetric(metric, 7, REG_BINARY);
  KvDeleteMetric(metric, 8, REG_BINARY);
  HWND win = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 120, 130, 300, 200, nullptr,
                             nullptr, nullptr, nullptr);
  RECT first = WindowRect(win);
  EXPECT_EQ(KvWindowPlacement(win, metric, 7, 0), S_OK);
  WINDOWPLACEMENT wp = {};
  EXPECT_EQ(KvLoadWindowPlacement(metric, 7, 0, &wp), S_OK);
  EXPECT_EQ(wp.length, 44u);
  SetWindowPos(win, nullptr, 10, 20, 100, 100, SWP_NOZORDER);
  EXPECT_EQ(KvWindowPlacement(win, metric, 7, 1), S_OK);
  EXPECT_TRUE(Same(WindowRect(win), first)) << Text(WindowRect(win));
  // Nothing stored under 8: nothing is applied.
  SetWindowPos(win, nullptr, 10, 20, 100, 100, SWP_NOZORDER);
  RECT moved = WindowRect(win);
  EXPECT_EQ(KvWindowPlacement(win, metric, 8, 1), S_FALSE);
  EXPECT_TRUE(Same(WindowRect(win), moved));
  EXPECT_EQ(KvWindowPlacement(win, metric, 8, 3), static_cast<HRESULT>(0x80004005));
  // Defaults: the work area inset by a sixteenth.
  const RECT w = WorkArea();
  EXPECT_EQ(KvLoadWindowPlacement(metric, 8, 2, &wp), S_FALSE);
  const int dx = (w.right - w.left) / 16, dy = (w.bottom - w.top) / 16;
  EXPECT_TRUE(Same(wp.rcNormalPosition, RECT{w.left + dx, w.top + dy, w.right - dx, w.bottom - dy}));
  EXPECT_EQ(wp.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_EQ(wp.ptMaxPosition.x, -1);
  EXPECT_EQ(KvWindowPlacement(win, metric, 8, 2), S_FALSE);
  EXPECT_EQ(WindowRect(win).left, w.left + dx);
  // Fixing: minimised becomes normal; a lost caption comes back.
  wp.showCmd = SW_SHOWMINIMIZED;
  wp.rcNormalPosition = {-5000, -5000, -4700, -4800};
  EXPECT_TRUE(KvFixWindowPlacement(&wp));
  EXPECT_EQ(wp.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_EQ(wp.rcNormalPosition.left, w.left);
  EXPECT_EQ(wp.rcNormalPosition.bottom - wp.rcNormalPosition.top, 200);
  DestroyWindow(win);
  KvMetric_CloseAndDeleteKey(metric);
}

TEST_F(Dialogs, ControlOperations) {
  _kvdlgctrlcreate c[] = {
      {Ord(0x80), L"A", 201, 5, 5, 40, 10, 0, 0, kChild | BS_AUTORADIOBUTTON | WS_GROUP},
      {Ord(0x80), L"B", 202, 5, 20, 40, 10, 0, 0, kChild | BS_AUTORADIOBUTTON},
      {Ord(0x80), L"C", 203, 5, 35, 40, 10, 0, 0, kChild | BS_AUTORADIOBUTTON},
      {Ord(0x81), L"", 204, 60, 5, 50, 12, 0, 0, kChild | WS_VSCROLL | ES_MULTILINE},
  };
  _kvdlghdrcreate h = PlainHeader(4);
  const DLGTEMPLATE* t = KvCreateDialogTemplate(g_lang, &h, c);
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(KvDlgWhichRadioButton(dlg, 201, 203, -1), -1);
  CheckDlgButton(dlg, 202, BST_CHECKED);
  EXPECT_EQ(KvDlgWhichRadioButton(dlg, 201, 203, -1), 202);
  EXPECT_EQ(KvDlgWhichRadioButton(dlg, 203, 201, 77), 77);

  RECT before = {}, after = {};
  ASSERT_TRUE(KvDlgGetControlRect(dlg, nullptr, 201, &before));
  EXPECT_TRUE(KvDlgDeltaControlMove(dlg, 201, 7, -2));
  KvDlgGetControlRect(dlg, GetDlgItem(dlg, 201), 0, &after);
  EXPECT_EQ(after.left, before.left + 7);
  EXPECT_EQ(after.top, before.top - 2);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_TRUE(KvDlgDeltaControlSize(dlg, 201, 10, 3));
  KvDlgGetControlRect(dlg, nullptr, 201, &before);
  EXPECT_EQ(before.left, after.left);
  EXPECT_EQ(before.right - before.left, after.right - after.left + 10);
  RECT none = {1, 2, 3, 4};
  EXPECT_FALSE(KvDlgGetControlRect(dlg, nullptr, 999, &none));
  EXPECT_TRUE(IsRectEmpty(&none));
  EXPECT_FALSE(KvDlgDeltaControlMove(dlg, 999, 1, 1));

  // Mouse tests exclude the right and bottom edges.
  EXPECT_TRUE(KvIsMouseInControl(dlg, 201, before.left, before.top, TRUE));
  EXPECT_FALSE(KvIsMouseInControl(dlg, 201, before.right, before.top, TRUE));
  EXPECT_FALSE(KvIsMouseInControl(dlg, 201, before.left, before.bottom, TRUE));
  RECT screen = WindowRect(GetDlgItem(dlg, 201));
  EXPECT_TRUE(KvIsMouseInControl(dlg, 201, screen.left, screen.top, FALSE));

  const int ids[] = {201, 203};
  KvDlgEnableControls(dlg, ids, 2, FALSE);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, 203)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, 202)));
  ShowWindow(dlg, SW_SHOWNA);
  KvDlgShowControls(dlg, ids, 2, FALSE);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 201)));
  KvDlgShowControls(dlg, ids, 2, TRUE);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dlg, 201)));

  RECT client, real;
  HWND edit = GetDlgItem(dlg, 204);
  GetClientRect(edit, &client);
  ASSERT_TRUE(KvGetRealClientRect(edit, &real));
  EXPECT_EQ(real.right, client.right + GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_EQ(real.bottom, client.bottom);
  DestroyWindow(dlg);
  FreeBlock(t);

  // Copies of global blocks.
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, 5);
  memcpy(GlobalLock(g), "abcd", 5);
  GlobalUnlock(g);
  HGLOBAL copy = KvCopyHandle(g);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(GlobalSize(copy), GlobalSize(g));
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(copy)), "abcd");
  GlobalUnlock(copy);
  GlobalFree(copy);
  GlobalFree(g);
}

TEST_F(Dialogs, ToolbarSize) {
  InitCommonControls();
  HWND parent = Popup(nullptr, 0, 0, 400, 100);
  HWND tb = KvCreateToolbarEmpty(g_lang, parent, WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NORESIZE, 55);
  ASSERT_NE(tb, nullptr);
  EXPECT_EQ(GetDlgCtrlID(tb), 55);
  SIZE s = {1, 1};
  EXPECT_TRUE(KvGetToolbarSize(tb, &s));
  EXPECT_EQ(s.cx, 0);
  EXPECT_EQ(s.cy, 0);
  TBBUTTON b[3] = {};
  for (int i = 0; i < 3; ++i) {
    b[i].iBitmap = I_IMAGENONE;
    b[i].idCommand = 300 + i;
    b[i].fsState = TBSTATE_ENABLED | (i == 1 ? TBSTATE_HIDDEN : 0);
    b[i].fsStyle = BTNS_BUTTON;
    b[i].iString = -1;
  }
  SendMessageW(tb, TB_ADDBUTTONSW, 3, reinterpret_cast<LPARAM>(b));
  int width = 0, height = 0;
  for (int id : {300, 302}) {
    RECT r = {};
    SendMessageW(tb, TB_GETRECT, id, reinterpret_cast<LPARAM>(&r));
    width += r.right - r.left;
    height = std::max<int>(height, r.bottom - r.top);
  }
  EXPECT_TRUE(KvGetToolbarSize(tb, &s));
  EXPECT_GT(width, 0);
  EXPECT_EQ(s.cx, width);
  EXPECT_EQ(s.cy, height);
  DestroyWindow(parent);
}

TEST_F(Dialogs, HookDialogsLineUpWithTheMainDialog) {
  HWND main = Popup(nullptr, 100, 100, 400, 300);
  HWND mainCtl = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 30, 10, 150, 20, main,
                                 reinterpret_cast<HMENU>(5), nullptr, nullptr);
  HWND hook = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 200, 300, 80, main, nullptr, nullptr,
                              nullptr);
  HWND hookCtl = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 5, 40, 20, 15, hook,
                                 reinterpret_cast<HMENU>(6), nullptr, nullptr);
  EXPECT_TRUE(KvSetHorizHookControlPos(hook, nullptr, 6, 5));
  RECT a = WindowRect(mainCtl), b = WindowRect(hookCtl);
  EXPECT_EQ(b.left, a.left);
  EXPECT_EQ(b.right, a.right);
  EXPECT_EQ(b.bottom - b.top, 15);
  EXPECT_TRUE(KvLineupHookWithMainDialog(hook, nullptr));
  EXPECT_EQ(WindowRect(hook).right, WindowRect(main).right);
  DestroyWindow(main);
  (void)mainCtl;
}

TEST_F(Dialogs, DroppedListsOleAndRunningInstances) {
  _kvdlgctrlcreate c[] = {
      {Ord(0x85), nullptr, 301, 5, 5, 80, 60, 0, 0, kChild | CBS_DROPDOWNLIST | WS_TABSTOP},
      {Ord(0x81), L"", 302, 5, 25, 80, 12, 0, 0, kChild | WS_TABSTOP},
      {Ord(0x81), L"", 303, 5, 45, 80, 12, 0, 0, kChild | WS_TABSTOP},
  };
  _kvdlghdrcreate h = PlainHeader(3);
  h.style |= WS_VISIBLE;
  const DLGTEMPLATE* t = KvCreateDialogTemplate(g_lang, &h, c);
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, QuietProc, 0);
  ASSERT_NE(dlg, nullptr);
  HWND combo = GetDlgItem(dlg, 301);
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"one"));
  SetFocus(combo);
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  const bool dropped = GetFocus() == combo && SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0);
  std::printf("combo list dropped by the system: %d\n", dropped);
  if (dropped) {
    EXPECT_TRUE(KvDlgUndropComboBox(dlg));
    EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  }
  // Focus in an edit: the focus moves on, the answer is 0.
  SetFocus(GetDlgItem(dlg, 302));
  std::printf("edit focused: %d\n", GetFocus() == GetDlgItem(dlg, 302));
  if (GetFocus() == GetDlgItem(dlg, 302)) {
    EXPECT_FALSE(KvDlgUndropComboBox(dlg));
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    EXPECT_NE(GetFocus(), GetDlgItem(dlg, 302));
  }
  DestroyWindow(dlg);
  FreeBlock(t);

  EXPECT_TRUE(KvOleInit(TRUE));
  EXPECT_TRUE(KvOleInit(TRUE));
  EXPECT_FALSE(KvOleInit(FALSE));
  EXPECT_FALSE(KvOleInit(FALSE));

  EXPECT_EQ(KvActivatePrevAppInstance(L"KvNoSuchRunningClass"), nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvRunningInstanceClass";
  ASSERT_NE(KvRegisterClass(&wc), 0);
  HWND running = CreateWindowExW(0, L"KvRunningInstanceClass", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                                 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  EXPECT_EQ(KvActivatePrevAppInstance(L"KvRunningInstanceClass"), running);
  ShowWindow(running, SW_MINIMIZE);
  EXPECT_EQ(KvActivatePrevAppInstance(L"KvRunningInstanceClass"), running);
  EXPECT_FALSE(IsIconic(running)) << "a minimised instance is restored";
  DestroyWindow(running);
  EXPECT_TRUE(KvUnregisterClass(L"KvRunningInstanceClass", GetModuleHandleW(nullptr)));
}

}  // namespace
