// The scope control: layout of the plot square, phosphor points at the
// positions the sample pairs give, decay, the grid laid back, the messages,
// drawing into a DC, and the window class.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kvui.h"

namespace {

struct Instance {
  explicit Instance(RECT r, DWORD style = 0) { ScopeInst_Init(mem.data(), style, &r, nullptr, 7); }
  ~Instance() { ScopeInst_Deinit(mem.data()); }
  void* get() { return mem.data(); }
  KvScope_PlotView View() {
    KvScope_PlotView v = {};
    EXPECT_TRUE(KvScope_GetPlot(mem.data(), &v));
    return v;
  }
  std::vector<BYTE> mem = std::vector<BYTE>(KVSCOPE_INSTANCE_SIZE, 0xCD);
};

// Blue, green, red, intensity of a plot pixel (row 0 = top).
struct Px {
  int b, g, r, i;
};
Px At(const KvScope_PlotView& v, int x, int y) {
  const BYTE* p = v.firstRow + y * v.stride + x * 4;
  return {p[0], p[1], p[2], p[3]};
}

void Feed(void* inst, std::vector<float> pairs) {
  KvScopeBlock block = {pairs.data(), static_cast<int>(pairs.size() / 2), 0, 1, 2};
  ScopeInst_SetPos(inst, &block);
}

TEST(Scope, PlotSquareLayout) {
  EXPECT_EQ(ScopeInst_GetSize(), KVSCOPE_INSTANCE_SIZE);
  struct Case {
    RECT control;
    DWORD style;
    RECT plot;
  } cases[] = {
      {{0, 0, 101, 101}, 0, {2, 2, 97, 97}},      // side 101, inner 99
      {{0, 0, 100, 60}, 0, {2, 2, 55, 55}},       // side 59, inner 57
      {{0, 0, 100, 60}, 0x80, {23, 3, 76, 56}},   // centred
      {{10, 20, 17, 27}, 0, {12, 22, 13, 23}},    // 7 x 7: one pixel
  };
  for (const Case& c : cases) {
    Instance s(c.control, c.style);
    KvScope_PlotView v = s.View();
    EXPECT_TRUE(EqualRect(&v.plot, &c.plot)) << v.plot.left << "," << v.plot.top << "," << v.plot.right << ","
                                             << v.plot.bottom;
    EXPECT_EQ(v.width, c.plot.right - c.plot.left);
  }
  // 10 x 6: side 5, inner 3, no pixel to plot; nothing breaks.
  Instance tiny({0, 0, 10, 6});
  KvScope_PlotView v = {};
  EXPECT_FALSE(KvScope_GetPlot(tiny.get(), &v));
  Feed(tiny.get(), {0.5f, 0.5f});
  HDC dc = CreateCompatibleDC(nullptr);
  ScopeInst_Draw(tiny.get(), dc, nullptr, 0);
  DeleteDC(dc);
  // Moving to a rectangle of no width widens it to 7.
  RECT empty = {0, 0, 0, 0};
  EXPECT_TRUE(ScopeInst_Move(tiny.get(), &empty));
  ASSERT_TRUE(KvScope_GetPlot(tiny.get(), &v));
  EXPECT_EQ(v.width, 1);
}

TEST(Scope, PointsDecayAndTheGrid) {
  Instance s({0, 0, 101, 101});
  KvScope_PlotView v = s.View();
  ASSERT_EQ(v.width, 95);
  // The grid: dark diagonals, a light centre cross.
  EXPECT_EQ(At(v, 10, 10).g, 70);
  EXPECT_EQ(At(v, 10, 47).g, 200);
  EXPECT_EQ(At(v, 47, 10).r, 200);
  EXPECT_EQ(At(v, 30, 20).g, 0);

  // (0.5, 0.25): column trunc((95 + 47.5) / 2) = 71, row trunc((95 - 23.75) / 2) = 35.
  Feed(s.get(), {0.5f, 0.25f});
  Px p = At(v, 71, 35);
  EXPECT_EQ(p.i, 110);
  EXPECT_EQ(p.g, 110);
  EXPECT_EQ(p.b, 27);
  EXPECT_EQ(p.r, 0);
  for (auto [x, y] : {std::pair{70, 35}, {72, 35}, {71, 34}, {71, 36}}) {
    EXPECT_EQ(At(v, x, y).i, 55) << x << "," << y;
    EXPECT_EQ(At(v, x, y).b, 13);
  }
  // Again: the pixel grows towards 220.
  Feed(s.get(), {0.5f, 0.25f});
  EXPECT_EQ(At(v, 71, 35).i, 0 + (220 >> 1)) << "without fade the picture is cleared first";
  float fade = 0.25f;  // decay factor 0.5
  ScopeInst_SetFade(s.get(), &fade);
  Feed(s.get(), {});
  p = At(v, 71, 35);
  EXPECT_EQ(p.i, 55);
  EXPECT_EQ(p.g, 55);
  EXPECT_EQ(p.b, 14);  // 27 x 0.5 rounded
  Feed(s.get(), {0.5f, 0.25f});
  EXPECT_EQ(At(v, 71, 35).i, 28 + ((220 - 28) >> 1));

  // Tiny and non-finite values count as 0: the centre, on the grid cross,
  // which is laid back over the trace.
  fade = 0.0f;
  ScopeInst_SetFade(s.get(), &fade);
  for (float odd : {1e-12f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    Feed(s.get(), {odd, odd});
    p = At(v, 47, 47);
    EXPECT_EQ(p.i, 110) << odd;
    // Grid 200 weighted by (255 - 110) / 256 added: 113.
    EXPECT_EQ(p.g, 110 + 113) << odd;
    EXPECT_EQ(p.r, 113) << odd;
  }
  // Points outside the plot are clipped.
  Feed(s.get(), {5.0f, -7.0f, -1e30f, 1e30f});
}

void CALLBACK CountBackgroundPaints(void*, HDC, const RECT* r, int part, LPARAM user) {
  if (part == 1 && r->right == 101) ++*reinterpret_cast<int*>(user);
}

TEST(Scope, MessagesAndDrawing) {
  Instance s({0, 0, 101, 101}, 0x01);
  EXPECT_EQ(ScopeInst_GetStyle(s.get()), 0x01);
  EXPECT_EQ(ScopeInst_SetStyle(s.get(), 0x01, TRUE), 0x01) << "nothing to change";
  EXPECT_EQ(ScopeInst_SetStyle(s.get(), 0x100, TRUE), 0x101);
  EXPECT_EQ(ScopeInst_SetStyle(s.get(), 0x01, FALSE), 0x100);
  EXPECT_EQ(ScopeInst_SetEnabled(s.get(), TRUE), 0);
  EXPECT_EQ(ScopeInst_SetEnabled(s.get(), TRUE), -1);
  EXPECT_EQ(ScopeInst_SetEnabled(s.get(), FALSE), -1);
  EXPECT_EQ(ScopeInst_GetCount(s.get()), 1);
  ScopeInst_SetCount(s.get(), 5, 0);
  EXPECT_EQ(ScopeInst_GetCount(s.get()), 5);
  for (UINT m = 0x614; m <= 0x618; ++m) EXPECT_EQ(ScopeInst_Message(s.get(), m, 1, 2), 0);
  EXPECT_EQ(ScopeInst_Message(s.get(), 0x7000, 1, 2), 0);
  EXPECT_EQ(ScopeInst_Message(s.get(), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  EXPECT_EQ(ScopeInst_SetPos(s.get(), nullptr), 0);
  HFONT f = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  ScopeInst_Message(s.get(), WM_SETFONT, reinterpret_cast<WPARAM>(f), 0);
  EXPECT_EQ(ScopeInst_Message(s.get(), WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(f));

  // Reset fills with the colour and lays the grid back without decay.
  ScopeInst_SetStyle(s.get(), 0x100, FALSE);
  ScopeInst_Reset(s.get(), RGB(10, 20, 30), 0);
  KvScope_PlotView v = s.View();
  Px p = At(v, 30, 20);
  EXPECT_EQ(p.r, 10);
  EXPECT_EQ(p.g, 20);
  EXPECT_EQ(p.b, 30);
  EXPECT_EQ(At(v, 47, 10).g, 20 + 200 * 255 / 256);

  // Drawing: a sunken edge around the plot and the plot bitmap inside it.
  ScopeInst_Reset(s.get(), RGB(0, 0, 0), 0);
  float fade = 0.0f;
  ScopeInst_SetFade(s.get(), &fade);
  Feed(s.get(), {0.5f, 0.25f});
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 120, -120, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  DWORD* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  int painted = 0;
  ScopeInst_Draw(s.get(), dc, CountBackgroundPaints, reinterpret_cast<LPARAM>(&painted));
  GdiFlush();
  EXPECT_EQ(painted, 1);
  DWORD px = bits[(2 + 35) * 120 + 2 + 71];
  EXPECT_EQ(px & 0xFFFFFF, static_cast<DWORD>(110 << 8 | 27));
  EXPECT_NE(bits[0 * 120 + 50] & 0xFFFFFF, bits[1 * 120 + 50] & 0xFFFFFF) << "the edge two pixels outside";
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

// Polar plots land near the same pixel with the fast maths as with the
// precise (the arc-tangent estimate is off by up to about 0.07 radians: a few
// pixels at this radius).
TEST(Scope, FastMathsAgreeWithPrecise) {
  const float pairs[][2] = {{0.3f, 0.4f}, {-0.5f, 0.2f}, {0.1f, -0.7f}, {-0.4f, -0.4f}};
  for (DWORD mode : {0x02u, 0x01u, 0x03u}) {
    for (const auto& pr : pairs) {
      int where[2][2] = {{-100, -100}, {100, 100}};
      for (int fast = 0; fast < 2; ++fast) {
        Instance s({0, 0, 201, 201}, mode | (fast ? 0x100 : 0));
        Feed(s.get(), {pr[0], pr[1]});
        KvScope_PlotView v = s.View();
        for (int y = 0; y < v.height; ++y)
          for (int x = 0; x < v.width; ++x)
            if (At(v, x, y).i == 110) where[fast][0] = x, where[fast][1] = y;
      }
      EXPECT_NEAR(where[0][0], where[1][0], 4) << mode << " " << pr[0] << "," << pr[1];
      EXPECT_NEAR(where[0][1], where[1][1], 4) << mode << " " << pr[0] << "," << pr[1];
    }
  }
  // Bar and meter modes light pixels and stay inside the plot.
  for (DWORD mode : {0x04u, 0x08u}) {
    Instance s({0, 0, 101, 101}, mode);
    Feed(s.get(), {0.5f, 0.5f, -0.9f, 0.2f, 0.0f, 0.0f, 3.0f, -3.0f});
    KvScope_PlotView v = s.View();
    int lit = 0;
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) lit += At(v, x, y).i > 0;
    EXPECT_GT(lit, 0) << mode;
  }
}

TEST(Scope, WindowClass) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  ASSERT_TRUE(ScopeInitialize(inst, L"KvScopeTestClass"));
  WNDCLASSW wc = {};
  ASSERT_TRUE(GetClassInfoW(inst, L"KvScopeTestClass", &wc));
  EXPECT_EQ(wc.style, 0x400Bu);
  EXPECT_EQ(wc.hbrBackground, nullptr);
  HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
  HWND scope = CreateWindowExW(0, L"KvScopeTestClass", L"", WS_CHILD | WS_VISIBLE | 0x06, 0, 0, 120, 100, parent,
                               reinterpret_cast<HMENU>(33), inst, nullptr);
  ASSERT_NE(scope, nullptr);
  EXPECT_EQ(KvScope_GetStyle(scope), 0x06);
  EXPECT_EQ(SendMessageW(scope, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
  EXPECT_EQ(KvScope_SetEnabled(scope, TRUE), 0);
  EXPECT_EQ(KvScope_SetEnabled(scope, TRUE), -1);
  EXPECT_EQ(KvScope_SetStyle(scope, 0x02, FALSE), 0x04);
  std::vector<float> pairs = {0.2f, 0.3f};
  KvScopeBlock block = {pairs.data(), 1, 0, 1, 2};
  EXPECT_EQ(KvScope_SetPos(scope, &block), 0);
  KvScope_SetCount(scope, 3, 1);
  EXPECT_EQ(KvScope_GetCount(scope), 3);
  MoveWindow(scope, 0, 0, 60, 50, TRUE);
  UpdateWindow(scope);
  DestroyWindow(parent);
  EXPECT_TRUE(ScopeTerminate(inst, L"KvScopeTestClass"));
}

}  // namespace
