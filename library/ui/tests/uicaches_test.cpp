// The UI caches on a display (run under xvfb-run): colours against their
// defaults and the system's, HSL against the system's shell conversions,
// brushes, pens and fonts shared until a colour change or termination frees
// them (GDI objects checked with GetObjectType/GetObject), pattern brushes
// painted into a DIB section, cursors by range, the bitmap helpers.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvkernel.h"
#include "kvlang.h"
#include "kvui.h"

namespace {

class UICaches : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KvUI_InstallKernelHooks();
    KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr);
  }
  void SetUp() override { KvResetUIColors(TRUE); }
  void TearDown() override { KvResetUIColors(FALSE); }
};

bool Deleted(HGDIOBJ h) { return GetObjectType(h) == 0; }

COLORREF BrushColor(HBRUSH b) {
  LOGBRUSH lb = {};
  GetObjectW(b, sizeof lb, &lb);
  return lb.lbColor;
}

LOGPEN PenOf(HPEN p) {
  LOGPEN lp = {};
  GetObjectW(p, sizeof lp, &lp);
  return lp;
}

LOGFONTW FontOf(HFONT f) {
  LOGFONTW lf = {};
  GetObjectW(f, sizeof lf, &lf);
  return lf;
}

// A 32-bit top-down DIB section in a memory DC.
struct Canvas {
  Canvas(int w, int h) : w(w), h(h) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc = CreateCompatibleDC(nullptr);
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bmp);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  COLORREF At(int x, int y) const {
    GdiFlush();
    DWORD v = bits[y * w + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  void Fill(COLORREF c) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) SetPixelV(dc, x, y, c);
  }
  int w, h;
  HDC dc;
  HBITMAP bmp;
  HGDIOBJ old;
  DWORD* bits = nullptr;
};

TEST_F(UICaches, ColourIdsDefaultsAndSystemColours) {
  struct Case {
    int id;
    COLORREF want;
  } cases[] = {
      {100, RGB(0, 0, 100)},     {103, RGB(0, 0, 240)},    {125, RGB(0, 174, 255)},
      {141, RGB(253, 210, 181)}, {152, RGB(143, 0, 162)},  {-152, RGB(143, 0, 162)},
      {153, 0xFFFFFFFF},         {-153, 0xFFFFFFFF},       {1000, 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(KvGetUIColorAbsolute(c.id), c.want) << "id " << c.id;
  for (int i : {0, 5, 15, 20, 30}) {
    EXPECT_EQ(KvGetUIColorAbsolute(i), GetSysColor(i)) << i;
    EXPECT_EQ(KvGetUIColorAbsolute(-i), GetSysColor(i)) << i;
    EXPECT_EQ(KvGetUIColor(i), GetSysColor(i)) << i;
  }
  // A changed colour: the current value moves, the default stays.
  ASSERT_TRUE(KvSetUIColor(110, RGB(1, 2, 3)));
  EXPECT_EQ(KvGetUIColorAbsolute(110), RGB(1, 2, 3));
  EXPECT_EQ(KvGetUIColorAbsolute(-110), RGB(0, 128, 128));
  EXPECT_FALSE(KvSetUIColor(99, 0));
  EXPECT_FALSE(KvSetUIColor(153, 0));
  // Tagged entries read a system colour.
  ASSERT_TRUE(KvSetUIColor(111, 0x04000000u | COLOR_WINDOWTEXT));
  EXPECT_EQ(KvGetUIColorAbsolute(111), GetSysColor(COLOR_WINDOWTEXT));
  // The screen's nearest colour of a UI colour (a 24-bit screen shows it).
  EXPECT_EQ(KvGetUIColor(125), RGB(0, 174, 255));
  KvResetUIColors(TRUE);
  EXPECT_EQ(KvGetUIColorAbsolute(110), RGB(0, 128, 128));
}

// Contrast-corrected system colours, against the shell's own HLS conversion:
// a grey of the middle luminance band moves to 90 or 150.
TEST_F(UICaches, ContrastCorrectedSystemColour) {
  int checked = 0;
  for (int index = 0; index <= 30; ++index) {
    COLORREF c = GetSysColor(index);
    WORD h, l, s;
    ColorRGBToHLS(c, &h, &l, &s);
    COLORREF want = c;
    if (s < 20 && l >= 91 && l <= 149) {
      want = ColorHLSToRGB(h, l > 120 ? 150 : 90, s);
      ++checked;
    }
    ASSERT_TRUE(KvSetUIColor(112, 0x05000000u | index));
    EXPECT_EQ(KvGetUIColorAbsolute(112), want) << "system colour " << index;
  }
  std::printf("system colours in the corrected band: %d\n", checked);
}

// HSL on the 0-240 scale equals the shell's conversions in both directions.
TEST(UIColourHSL, AgreesWithShellConversions) {
  int differences = 0;
  for (int h = 0; h < 240; ++h)
    for (int l = 0; l <= 240; ++l)
      for (int s = 0; s <= 240; ++s) {
        COLORREF ours = KvHSLtoRGB(static_cast<DWORD>(l) << 16 | static_cast<DWORD>(s) << 8 | h);
        COLORREF shell = ColorHLSToRGB(h, l, s);
        if (ours != shell && differences++ < 5)
          ADD_FAILURE() << "HSL " << h << "," << s << "," << l << ": " << std::hex << ours << " vs " << shell;
      }
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; g += 1)
      for (int b = 0; b < 256; ++b) {
        DWORD hsl = KvRGBtoHSL(RGB(r, g, b));
        WORD h, l, s;
        ColorRGBToHLS(RGB(r, g, b), &h, &l, &s);
        if ((hsl & 0xFF) != h || ((hsl >> 8) & 0xFF) != s || (hsl >> 16) != l) {
          if (differences++ < 10)
            ADD_FAILURE() << "RGB " << r << "," << g << "," << b << ": ours H" << (hsl & 0xFF) << " S"
                          << ((hsl >> 8) & 0xFF) << " L" << (hsl >> 16) << ", shell H" << h << " S" << s << " L" << l;
        }
      }
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(KvRGBtoHSL(RGB(128, 128, 128)), (120u << 16) | 160u);
  EXPECT_EQ(KvHSLtoRGB(240u << 16), RGB(255, 255, 255));
  EXPECT_EQ(KvRGBtoHSL(RGB(255, 255, 255)), (240u << 16) | 160u);
}

TEST_F(UICaches, BrushesAreSharedUntilTheirColourChanges) {
  HBRUSH b = KvGetUIBrush(105);
  ASSERT_NE(b, GetStockObject(BLACK_BRUSH));
  EXPECT_EQ(KvGetUIBrush(105), b);
  EXPECT_EQ(BrushColor(b), RGB(0, 0, 0));
  HBRUSH sys = KvGetUIBrush(COLOR_WINDOW);
  EXPECT_EQ(BrushColor(sys), GetSysColor(COLOR_WINDOW));

  // The same value again keeps the brush; another value frees it.
  ASSERT_TRUE(KvSetUIColor(105, RGB(0, 0, 0)));
  EXPECT_FALSE(Deleted(b));
  EXPECT_EQ(KvGetUIBrush(105), b);
  ASSERT_TRUE(KvSetUIColor(105, RGB(10, 20, 30)));
  EXPECT_TRUE(Deleted(b));
  HBRUSH b2 = KvGetUIBrush(105);
  EXPECT_EQ(BrushColor(b2), RGB(10, 20, 30));
  EXPECT_FALSE(Deleted(sys)) << "another colour's brush stays";

  // Colour 152 has its own brush (its slot exists in the cache).
  EXPECT_EQ(BrushColor(KvGetUIBrush(152)), RGB(143, 0, 162));
  for (int id : {25, 99, 153, 9999, 10017, -1}) EXPECT_EQ(KvGetUIBrush(id), GetStockObject(BLACK_BRUSH)) << id;
  // No library bitmap for the resource pattern here: the black brush.
  EXPECT_EQ(KvGetUIBrush(10000), GetStockObject(BLACK_BRUSH));

  KvFreeUIColoredObjects(105);
  EXPECT_TRUE(Deleted(b2));
  EXPECT_FALSE(Deleted(sys));
}

TEST_F(UICaches, PatternBrushesPaintTheirRows) {
  const WORD rows[16][8] = {
      {0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555},
      {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
      {0, 0, 0, 0, 0, 0, 0, 0},
      {0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0},
      {0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0xFFFF, 0, 0},
      {0xFFFF, 0xFFFF, 0xFFFF, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0},
      {0xFFFF, 0, 0, 0, 0xFFFF, 0, 0, 0},
      {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0, 0},
      {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA},
      {0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC},
      {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE},
      {0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888},
      {0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0},
      {0xCCCC, 0xCCCC, 0x3333, 0x3333, 0xCCCC, 0xCCCC, 0x3333, 0x3333},
      {0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F},
      {0xF8F8, 0x7C7C, 0x3E3E, 0x1F1F, 0x8F8F, 0xC7C7, 0xE3E3, 0xF1F1},
  };
  const COLORREF bk = RGB(250, 240, 230), text = RGB(5, 15, 25);
  for (int i = 0; i < 16; ++i) {
    HBRUSH b = KvGetUIBrush(10001 + i);
    ASSERT_NE(b, GetStockObject(BLACK_BRUSH)) << 10001 + i;
    EXPECT_EQ(KvGetUIBrush(10001 + i), b);
    Canvas c(16, 8);
    SetBkColor(c.dc, bk);
    SetTextColor(c.dc, text);
    SetBrushOrgEx(c.dc, 0, 0, nullptr);
    RECT r = {0, 0, 16, 8};
    FillRect(c.dc, &r, b);
    int wrong = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        COLORREF want = (rows[i][y] >> (15 - x)) & 1 ? bk : text;
        wrong += c.At(x, y) != want;
      }
    EXPECT_EQ(wrong, 0) << "pattern " << 10001 + i;
  }
}

TEST_F(UICaches, PensByStyle) {
  KvSetUIColor(120, RGB(255, 0, 0));
  HPEN solid = KvGetUIPenWithStyle(120, 0), dot = KvGetUIPenWithStyle(120, 1), pale = KvGetUIPenWithStyle(120, 2);
  EXPECT_EQ(PenOf(solid).lopnStyle, static_cast<UINT>(PS_SOLID));
  EXPECT_EQ(PenOf(solid).lopnColor, RGB(255, 0, 0));
  EXPECT_EQ(PenOf(dot).lopnStyle, static_cast<UINT>(PS_DOT));
  // Pale: mean 85; (85 + 255 + 192) / 3 = 177, (85 + 0 + 192) / 3 = 92.
  EXPECT_EQ(PenOf(pale).lopnColor, RGB(177, 92, 92));
  EXPECT_EQ(KvGetUIPenWithStyle(120, 0), solid);
  EXPECT_EQ(PenOf(KvGetUIPenWithStyle(COLOR_BTNSHADOW, 0)).lopnColor, GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(PenOf(KvGetUIPenWithStyle(152, 0)).lopnColor, RGB(143, 0, 162));
  for (int style : {3, -1}) EXPECT_EQ(KvGetUIPenWithStyle(120, style), GetStockObject(BLACK_PEN)) << style;
  for (int id : {25, 99, 153}) EXPECT_EQ(KvGetUIPenWithStyle(id, 0), GetStockObject(BLACK_PEN)) << id;
  KvSetUIColor(120, RGB(0, 255, 0));
  EXPECT_TRUE(Deleted(solid));
  EXPECT_TRUE(Deleted(dot));
  EXPECT_TRUE(Deleted(pale));
  EXPECT_EQ(PenOf(KvGetUIPenWithStyle(120, 0)).lopnColor, RGB(0, 255, 0));
}

// A system colour change frees every brush and pen first, then the custom
// colours return to their defaults.
DWORD GdiObjects() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }

TEST_F(UICaches, SystemColourChangeFreesThenReloads) {
  KvResetUIColors(FALSE);
  const DWORD before = GdiObjects();
  std::vector<HGDIOBJ> made = {KvGetUIBrush(0), KvGetUIBrush(24), KvGetUIBrush(100), KvGetUIBrush(151),
                               KvGetUIBrush(10016), KvGetUIPenWithStyle(3, 2), KvGetUIPenWithStyle(140, 1)};
  KvSetUIColor(130, RGB(9, 9, 9));
  EXPECT_EQ(KvUI_CachedColorObjectCount(), static_cast<int>(made.size()));
  const DWORD during = GdiObjects();
  KvKernel_UserPrefChanges(nullptr, WM_SYSCOLORCHANGE, 0, 0);
  for (HGDIOBJ h : made) EXPECT_TRUE(Deleted(h));
  // The process's GDI object count, where the system keeps one.
  if (before) {
    EXPECT_EQ(during, before + made.size());
    EXPECT_EQ(GdiObjects(), before);
  } else {
    std::printf("no GDI object count from the system: checked object by object\n");
  }
  EXPECT_EQ(KvUI_CachedColorObjectCount(), 0);
  EXPECT_EQ(KvGetUIColorAbsolute(130), RGB(219, 142, 87));
  EXPECT_EQ(BrushColor(KvGetUIBrush(130)), RGB(219, 142, 87));
}

TEST_F(UICaches, NamedFontsAndTheirSizes) {
  KvFreeUIObjects();  // other tests' fonts
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  TEXTMETRICW tm = {};
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  GetTextMetricsW(dc, &tm);
  const int guiSize = tm.tmHeight - tm.tmInternalLeading;
  const int charset = GetTextCharset(dc);
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(KvGetUIFontCharset(), charset);

  HFONT f100 = KvGetUIFont(100);
  EXPECT_EQ(KvGetUIFont(100), f100);
  LOGFONTW lf = FontOf(f100);
  EXPECT_STREQ(lf.lfFaceName, KvOSVersionOK(6, 0) ? L"MS Shell Dlg 2" : L"MS Shell Dlg");
  EXPECT_EQ(lf.lfHeight, -guiSize);
  EXPECT_EQ(lf.lfCharSet, charset);
  EXPECT_EQ(lf.lfPitchAndFamily, 0x22);

  struct Case {
    int id;
    const wchar_t* face;
    int points;  // 0: not checked
    int weight;
    BYTE italic, pitch;
  } cases[] = {
      {104, nullptr, 0, 700, 0, 0x22}, {106, nullptr, 0, 0, 1, 0x22},     {108, nullptr, 0, 700, 1, 0x22},
      {129, nullptr, 16, 500, 0, 0x02}, {130, nullptr, 12, 500, 0, 0x22}, {134, nullptr, 12, 700, 0, 0x02},
      {102, L"Courier New", 0, 0, 0, 0x31}, {147, L"Consolas", 10, 500, 0, 0x02},
  };
  for (const Case& c : cases) {
    LOGFONTW f = FontOf(KvGetUIFont(c.id));
    if (c.face) {
      EXPECT_STREQ(f.lfFaceName, c.face) << c.id;
    }
    if (c.points) {
      EXPECT_EQ(f.lfHeight, -MulDiv(c.points, dpi, 72)) << c.id;
    }
    EXPECT_EQ(f.lfWeight, c.weight) << c.id;
    EXPECT_EQ(f.lfItalic, c.italic) << c.id;
    EXPECT_EQ(f.lfPitchAndFamily, c.pitch) << c.id;
  }
  // The italic fonts take the stock GUI font's face, and proof quality.
  LOGFONTW stock = FontOf(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  EXPECT_STREQ(FontOf(KvGetUIFont(106)).lfFaceName, stock.lfFaceName);
  EXPECT_EQ(FontOf(KvGetUIFont(106)).lfQuality, PROOF_QUALITY);

  // The system's fonts, from the non-client metrics.
  NONCLIENTMETRICSW m = {};
  m.cbSize = 500;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &m, 0));
  EXPECT_STREQ(FontOf(KvGetUIFont(140)).lfFaceName, m.lfCaptionFont.lfFaceName);
  EXPECT_EQ(FontOf(KvGetUIFont(144)).lfHeight, m.lfMessageFont.lfHeight);
  LOGFONTW icon = {};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof icon, &icon, 0));
  EXPECT_EQ(FontOf(KvGetUIFont(146)).lfWeight, icon.lfWeight >= 700 ? 800 : 700);
  EXPECT_EQ(FontOf(KvGetUIFont(146)).lfWidth, 0);

  // Stock copies: new each time, the caller's to delete.
  HFONT a = KvGetUIFont(12), b = KvGetUIFont(12);
  EXPECT_NE(a, b);
  EXPECT_NE(a, GetStockObject(12));
  EXPECT_STREQ(FontOf(a).lfFaceName, FontOf(static_cast<HFONT>(GetStockObject(12))).lfFaceName);
  EXPECT_TRUE(DeleteObject(a));
  EXPECT_TRUE(DeleteObject(b));
  for (int id : {0, 15, 101, 999}) EXPECT_EQ(KvGetUIFont(id), GetStockObject(DEFAULT_GUI_FONT)) << id;

  // Sizes: the extent of "0".
  SIZE zero = {};
  dc = GetDC(nullptr);
  SelectObject(dc, f100);
  GetTextExtentPoint32W(dc, L"0", 1, &zero);
  ReleaseDC(nullptr, dc);
  const SIZE* s = KvGetUIFontSize(100);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->cx, zero.cx);
  EXPECT_EQ(s->cy, zero.cy);
  SIZE direct = {};
  EXPECT_TRUE(KvGetFontSize(f100, &direct));
  EXPECT_EQ(direct.cx, zero.cx);
  ASSERT_NE(KvGetUIFontSize(17), nullptr);
  EXPECT_GT(KvGetUIFontSize(17)->cy, 0);
  EXPECT_EQ(KvGetUIFontSize(18), nullptr);
  EXPECT_EQ(KvGetUIFontSize(101), nullptr);

  SIZE ext = {};
  EXPECT_TRUE(KvGetTextExtent(f100, L"0000", 0, &ext));
  EXPECT_EQ(ext.cx, 4 * zero.cx);
  EXPECT_TRUE(KvGetTextExtent(f100, L"0000", 2, &ext));
  EXPECT_EQ(ext.cx, 2 * zero.cx);
  EXPECT_TRUE(KvGetTextExtent(f100, nullptr, 5, &ext));
  EXPECT_EQ(ext.cx, 0);

  // Termination frees the fonts with the brushes and pens.
  HBRUSH brush = KvGetUIBrush(101);
  int fonts = KvUI_CachedFontCount();
  EXPECT_EQ(fonts, 12) << "the named fonts asked for above";
  EXPECT_TRUE(KvFreeUIObjects());
  EXPECT_TRUE(Deleted(f100));
  EXPECT_TRUE(Deleted(brush));
  EXPECT_EQ(KvUI_CachedFontCount(), 0);
  HFONT again = KvGetUIFont(100);
  EXPECT_FALSE(Deleted(again));
  EXPECT_EQ(FontOf(again).lfHeight, -guiSize);
}

TEST_F(UICaches, DialogFontOnlyOutsideWesternCodePage) {
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExW(0, L"STATIC", L"x", WS_CHILD, 0, 0, 5, 5, w, nullptr, nullptr, nullptr);
  HFONT font = KvGetUIFont(104);
  BOOL result = KvDlgInitFont(w, font);
  if (GetACP() == 1252) {
    EXPECT_FALSE(result);
    EXPECT_NE(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), font);
  } else {
    EXPECT_TRUE(result);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), font);
  }
  DestroyWindow(w);
}

TEST_F(UICaches, CursorsByRange) {
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  EXPECT_EQ(KvGetUICursor(32512), arrow);
  HCURSOR wait = KvGetUICursor(32514);
  EXPECT_EQ(wait, LoadCursorW(nullptr, IDC_WAIT));
  EXPECT_EQ(KvGetUICursor(32514), wait);
  // 32517 and 32642 share slot 5: the first one loaded serves both.
  HCURSOR nwse = KvGetUICursor(32642);
  EXPECT_EQ(nwse, LoadCursorW(nullptr, IDC_SIZENWSE));
  EXPECT_EQ(KvGetUICursor(32517), nwse);
  EXPECT_EQ(KvGetUICursor(32700), arrow);
  EXPECT_EQ(KvGetUICursor(150), arrow);
  EXPECT_EQ(KvGetUICursor(57), arrow) << "a library cursor that does not exist";

  // Library cursor 5 and application cursor 100 are resources of this program.
  HCURSOR lib = KvGetUICursor(5);
  HCURSOR app = KvGetUICursor(100);
  EXPECT_NE(lib, arrow);
  EXPECT_NE(app, arrow);
  EXPECT_EQ(KvGetUICursor(5), lib);
  EXPECT_EQ(KvUI_CachedCursorCount(), 2);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(lib, &info));
  DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  EXPECT_FALSE(info.fIcon);

  EXPECT_TRUE(KvFreeUICursors());
  EXPECT_EQ(KvUI_CachedCursorCount(), 0);
  EXPECT_EQ(KvGetUICursor(32514), wait) << "system cursors stay";
  HCURSOR lib2 = KvGetUICursor(5);
  EXPECT_NE(lib2, arrow);
  KvFreeUICursors();
}

// The test program's 8 x 4 16-colour bitmap: pixel (x, y) has palette index
// (y * 8 + x) % 16; entry i is (16i, 255 - 16i, 37i % 256).
COLORREF PaletteEntry(int i) { return RGB(i * 16, 255 - i * 16, (i * 37) % 256); }

TEST_F(UICaches, SixteenColourBitmapWithRemappedPalette) {
  HKVLANG lang = nullptr;
  ASSERT_EQ(KvLang_Open(&lang, GetModuleHandleW(nullptr), 1033, 0), S_OK);
  const COLORREF given[6] = {RGB(1, 2, 3), RGB(40, 50, 60), RGB(70, 80, 90), RGB(100, 110, 120),
                             RGB(130, 140, 150), RGB(160, 170, 180)};
  const int replaced[6] = {0, 7, 8, 15, 11, 10};
  HBITMAP bmp = KvLoadUIBitmapEx(lang, 300, given[0], given[1], given[2], given[3], given[4], given[5]);
  ASSERT_NE(bmp, nullptr);
  Canvas c(8, 4);
  HDC src = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(src, bmp);
  BitBlt(c.dc, 0, 0, 8, 4, src, 0, 0, SRCCOPY);
  SelectObject(src, old);
  DeleteDC(src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      int index = (y * 8 + x) % 16;
      COLORREF want = PaletteEntry(index);
      for (int k = 0; k < 6; ++k)
        if (replaced[k] == index) want = given[k];
      EXPECT_EQ(c.At(x, y), want) << "pixel " << x << "," << y << " index " << index;
    }
  DeleteObject(bmp);
  EXPECT_EQ(KvLoadUIBitmapEx(lang, 301, 0, 0, 0, 0, 0, 0), nullptr) << "108-byte header";
  EXPECT_EQ(KvLoadUIBitmapEx(lang, 302, 0, 0, 0, 0, 0, 0), nullptr) << "8-bit bitmap";
  EXPECT_EQ(KvLoadUIBitmapEx(lang, 399, 0, 0, 0, 0, 0, 0), nullptr) << "missing";
  KvLang_Close(lang);
}

TEST_F(UICaches, ColourTranslateAndMask) {
  const COLORREF back = RGB(255, 0, 255), ink = RGB(0, 128, 0), now = RGB(10, 20, 30);
  {
    Canvas c(6, 5);
    c.Fill(back);
    SetPixelV(c.dc, 2, 2, ink);
    SetPixelV(c.dc, 5, 4, ink);
    BITMAP info = {};
    GetObjectW(c.bmp, sizeof info, &info);
    EXPECT_TRUE(KvBitmapColorTranslate(c.dc, &info, now));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        bool isInk = (x == 2 && y == 2) || (x == 5 && y == 4);
        EXPECT_EQ(c.At(x, y), isInk ? ink : now) << x << "," << y;
      }
  }
  {
    Canvas c(6, 5);
    c.Fill(ink);
    SetPixelV(c.dc, 1, 3, back);
    SetPixelV(c.dc, 4, 0, back);
    SelectObject(c.dc, c.old);  // the bitmap is selected by the helper itself
    HBITMAP mask = KvCreateBitmapMask(nullptr, c.bmp, back);
    ASSERT_NE(mask, nullptr);
    BITMAP mb = {};
    GetObjectW(mask, sizeof mb, &mb);
    EXPECT_EQ(mb.bmBitsPixel, 1);
    EXPECT_EQ(mb.bmWidth, 6);
    HDC mdc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mdc, mask);
    SelectObject(c.dc, c.bmp);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        bool transparent = (x == 1 && y == 3) || (x == 4 && y == 0);
        EXPECT_EQ(GetPixel(mdc, x, y), transparent ? RGB(255, 255, 255) : RGB(0, 0, 0)) << x << "," << y;
        EXPECT_EQ(c.At(x, y), transparent ? RGB(0, 0, 0) : ink) << x << "," << y;
      }
    SelectObject(mdc, old);
    DeleteDC(mdc);
    DeleteObject(mask);
  }
}

TEST_F(UICaches, ResourceWrittenToFile) {
  HKVLANG lang = nullptr;
  ASSERT_EQ(KvLang_Open(&lang, GetModuleHandleW(nullptr), 1033, 0), S_OK);
  wchar_t dir[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"kvu", 0, path);
  // A longer file is cut to the resource's length.
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::vector<char> junk(1000, 'x');
  DWORD n = 0;
  WriteFile(f, junk.data(), 1000, &n, nullptr);
  CloseHandle(f);
  EXPECT_EQ(KvExtractResourceToFile(lang, MAKEINTRESOURCEW(400), RT_RCDATA, path), S_OK);
  f = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<unsigned char> got(2000);
  ReadFile(f, got.data(), 2000, &n, nullptr);
  CloseHandle(f);
  ASSERT_EQ(n, 300u);
  for (DWORD i = 0; i < n; ++i) ASSERT_EQ(got[i], (i * 7 + 3) % 256) << i;
  DeleteFileW(path);
  EXPECT_EQ(KvExtractResourceToFile(lang, MAKEINTRESOURCEW(401), RT_RCDATA, path),
            static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(KvExtractResourceToFile(lang, MAKEINTRESOURCEW(400), RT_RCDATA, L"Z:\\no\\such\\folder\\x.bin"),
            static_cast<HRESULT>(0x8004E007));
  KvLang_Close(lang);
}

// The notch: a cut at the lower right (six points) while it is shallower
// than the marker, none (five points) when the notch reaches the height.
TEST_F(UICaches, MarkerNotch) {
  const COLORREF red = RGB(200, 0, 0);
  for (int notch : {15, 20, 40}) {
    Canvas c(40, 40);
    c.Fill(RGB(255, 255, 255));
    RECT r = {10, 10, 30, 30};
    KvMarker_Create(c.dc, &r, 1, red, notch);
    const bool cut = notch == 15;
    EXPECT_EQ(c.At(24, 28), cut ? RGB(255, 255, 255) : red) << "notch " << notch;
    EXPECT_EQ(c.At(15, 20), red) << "notch " << notch;
  }
}

TEST_F(UICaches, MarkersFillAndHollow) {
  const COLORREF red = RGB(200, 0, 0);
  for (int type : {1, 2, 3, 4, 5, 6, 7}) {
    Canvas c(40, 40);
    c.Fill(RGB(255, 255, 255));
    RECT r = {10, 10, 30, 30};
    // Notch 15: the cut is 5 pixels deep.
    EXPECT_EQ(KvMarker_Create(c.dc, &r, type, red, 15), 0);
    // Light left edge, dark right edge.
    EXPECT_EQ(c.At(10, 20), RGB(218, 85, 85)) << type;
    EXPECT_EQ(c.At(28, 20), RGB(133, 0, 0)) << type;
    COLORREF middle = c.At(19, 20);
    if (type >= 4)
      EXPECT_EQ(middle, GetSysColor(COLOR_BTNFACE)) << type;
    else
      EXPECT_EQ(middle, red) << type;
    EXPECT_EQ(c.At(5, 5), RGB(255, 255, 255)) << "outside, type " << type;
  }
}

}  // namespace
