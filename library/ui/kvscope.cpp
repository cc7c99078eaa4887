// The scope control: layout, the plot bitmap and its grid, the phosphor
// plotting of sample pairs, the message handler, the window class.
#include "kvscope.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "kvdlgutil.h"
#include "kvuifont.h"

namespace {

const float kPi = 3.14159265358979f;
const float kSqrt2 = 1.41421356237f;
const DWORD kWindowless = 1, kEnabled = 2;
const int kTarget = 220;  // intensity a trace pixel grows towards
const COLORREF kLightGrid = RGB(200, 200, 200), kDarkGrid = RGB(70, 70, 70);

struct Maths {
  float (*sqrt)(float);
  float (*sin)(float);
  float (*cos)(float);
  float (*atan2)(float y, float x);
};

struct Scope {
  DWORD style;
  DWORD flags;
  HWND window;
  HWND notify;
  UINT id;
  HFONT font;
  RECT control;
  int controlW, controlH;
  RECT plot;
  int plotW, plotH;
  int count;
  float range;
  COLORREF color1, color2;
  WORD value1, value2;
  HDC memDC;
  HBITMAP bitmap;
  BITMAPINFOHEADER header;
  BYTE* bits;
  BYTE* firstRow;
  int stride;
  float decay;
  HGLOBAL runs;
  DWORD runsSize;
  RECT runsRect;
  Maths maths;
};
static_assert(sizeof(Scope) <= KVSCOPE_INSTANCE_SIZE, "the instance fits its record");

// Precise and fast maths.
float PreciseSqrt(float v) { return std::sqrt(v); }
float PreciseSin(float a) { return std::sin(a); }
float PreciseCos(float a) { return std::cos(a); }
float PreciseAtan2(float y, float x) { return std::atan2(y, x); }

const float* SineTable() {
  static float table[512];
  static bool made = false;
  if (!made) {
    for (int i = 0; i < 512; ++i) table[i] = static_cast<float>(std::sin(i * 3.14159265358979 / 256.0));
    made = true;
  }
  return table;
}
int TableIndex(float a) { return static_cast<int>(std::lround(a * 256.0f / kPi)) & 511; }
float FastSin(float a) { return SineTable()[TableIndex(a)]; }
float FastCos(float a) { return SineTable()[(TableIndex(a) + 128) & 511]; }
// Inverse square root estimate (one Newton step), times the argument.
float FastSqrt(float v) {
  if (v <= 0.0f) return 0.0f;
  DWORD i;
  std::memcpy(&i, &v, 4);
  i = 0x5F3759DF - (i >> 1);
  float y;
  std::memcpy(&y, &i, 4);
  y = y * (1.5f - 0.5f * v * y * y);
  return v * y;
}
// Quarter-circle arc-tangent estimate.
float FastAtan2(float y, float x) {
  float ay = std::fabs(y);
  if (ay < 1e-10f) ay = 1e-10f;
  float a;
  if (x >= 0.0f) a = kPi / 4 - kPi / 4 * ((x - ay) / (x + ay));
  else a = 3 * kPi / 4 - kPi / 4 * ((x + ay) / (ay - x));
  return y < 0.0f ? -a : a;
}

void ChooseMaths(Scope* s) {
  if (s->style & KVSCOPE_STYLE_FASTMATH) s->maths = {FastSqrt, FastSin, FastCos, FastAtan2};
  else s->maths = {PreciseSqrt, PreciseSin, PreciseCos, PreciseAtan2};
}

// A sample as plotted: magnitudes below about 2.3e-10 (zero, denormals) and
// values that are not finite count as 0.
float Sample(float v) {
  DWORD bits;
  std::memcpy(&bits, &v, 4);
  DWORD exponent = bits & 0x7F800000;
  if (exponent < 0x2F800000 || exponent == 0x7F800000) return 0.0f;
  return v;
}

float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
// Truncation towards zero of a coordinate, kept in a range where the
// conversion is defined (points outside the plot are clipped later).
int Trunc(float v) { return static_cast<int>(Clamp(v, -1e6f, 1e6f)); }

BYTE* Pixel(Scope* s, int x, int y) { return s->firstRow + y * s->stride + x * 4; }
bool Inside(const Scope* s, int x, int y) { return x >= 0 && y >= 0 && x < s->plotW && y < s->plotH; }

void Brighten(Scope* s, int x, int y, int shift) {
  if (!Inside(s, x, y)) return;
  BYTE* p = Pixel(s, x, y);
  int i = p[3];
  i += (kTarget - i) >> shift;
  p[0] = static_cast<BYTE>(i / 4);
  p[1] = static_cast<BYTE>(i);
  p[2] = 0;
  p[3] = static_cast<BYTE>(i);
}

void Point(Scope* s, int x, int y) {
  Brighten(s, x, y, 1);
  Brighten(s, x - 1, y, 2);
  Brighten(s, x + 1, y, 2);
  Brighten(s, x, y - 1, 2);
  Brighten(s, x, y + 1, 2);
}

void VerticalRun(Scope* s, int x, int y0, int y1) {
  if (y0 > y1) std::swap(y0, y1);
  if (y0 < 0) y0 = 0;
  if (y1 > s->plotH - 1) y1 = s->plotH - 1;
  for (int y = y0; y <= y1; ++y) {
    Brighten(s, x, y, 1);
    Brighten(s, x - 1, y, 2);
    Brighten(s, x + 1, y, 2);
  }
}

void Line(Scope* s, int x0, int y0, int x1, int y1) {
  if (x0 == x1) {
    VerticalRun(s, x0, y0, y1);
    return;
  }
  float m = static_cast<float>(y1 - y0) / static_cast<float>(x1 - x0);
  if (std::fabs(m) > 1.0f) {
    int step = y1 > y0 ? 1 : -1;
    for (int y = y0; y != y1; y += step) Point(s, x0 + Trunc((y - y0) / m), y);
  } else {
    int step = x1 > x0 ? 1 : -1;
    for (int x = x0; x != x1; x += step) Point(s, x, y0 + Trunc((x - x0) * m));
  }
  Point(s, x1, y1);
}

void Plot(Scope* s, const KvScopeBlock* block) {
  if (!block->samples || block->frames <= 0) return;
  const float W = static_cast<float>(s->plotW), H = static_cast<float>(s->plotH);
  const Maths& m = s->maths;
  for (int n = 0; n < block->frames; ++n) {
    float x = Sample(block->samples[n * block->stride + block->first]);
    float y = Sample(block->samples[n * block->stride + block->second]);
    if (s->style & KVSCOPE_STYLE_METER) {
      x = Clamp(x, -1, 1), y = Clamp(y, -1, 1);
      const int cx = s->plotW / 2, cy = s->plotH * 17 / 32;
      if (x == 0.0f && y == 0.0f) {
        Point(s, cx, cy);
        continue;
      }
      float a = m.atan2(y, x) + kPi / 4;
      if (a > kPi) a -= 2 * kPi;
      if (a < 0.0f) continue;  // the lower half is not shown
      float r2 = x * x + y * y;
      float k = Clamp(r2 * 0.49497473f + 0.1f, 0.1f, 0.8f);
      float length = 0.9f * (W / 2) * k / 0.8f;
      Line(s, cx, cy, cx + Trunc(length * m.cos(a)), cy - Trunc(length * m.sin(a)));
    } else if (s->style & KVSCOPE_STYLE_BARS) {
      x = Clamp(x, -1, 1), y = Clamp(y, -1, 1);
      if (x == 0.0f && y == 0.0f) continue;
      float u = (m.atan2(y, x) - kPi / 4) / kPi;
      while (u > 0.5f) u -= 1.0f;
      while (u < -0.5f) u += 1.0f;
      float r = Clamp(m.sqrt(x * x + y * y), 0, 1);
      int column = Trunc((u + 0.5f) * (W - 1));
      VerticalRun(s, column, s->plotH - 1, s->plotH - 1 - Trunc(r * (H - 1)));
    } else if (s->style & (KVSCOPE_STYLE_ROTATE | KVSCOPE_STYLE_POLAR)) {
      float r = m.sqrt(x * x + y * y);
      float t = m.atan2(y, x);
      if ((s->style & KVSCOPE_STYLE_POLAR) && ((t > 3 * kPi / 4 && t <= kPi) || (t >= -kPi && t < -kPi / 4)))
        t = kPi / 2 - t;
      if (s->style & KVSCOPE_STYLE_ROTATE) t += kPi / 4;
      float u = r * m.cos(t), v = r * m.sin(t);
      Point(s, Trunc((W + W * u / kSqrt2) / 2), Trunc((H - H * v / kSqrt2) / 2));
    } else {
      Point(s, Trunc((W + W * x) / 2), Trunc((H - H * y) / 2));
    }
  }
}

void Decay(Scope* s) {
  const int rowBytes = s->plotW * 4;
  if (s->decay <= 0.0f) {
    for (int y = 0; y < s->plotH; ++y) std::memset(Pixel(s, 0, y), 0, rowBytes);
    return;
  }
  for (int y = 0; y < s->plotH; ++y) {
    BYTE* p = Pixel(s, 0, y);
    for (int x = 0; x < s->plotW; ++x, p += 4) {
      if (!p[3]) continue;
      for (int c = 0; c < 4; ++c) p[c] = static_cast<BYTE>(std::lround(p[c] * s->decay));
    }
  }
}

// Lays the grid's runs back over the plot.
void RestoreGrid(Scope* s, bool decayed) {
  if (!s->runs) return;
  const DWORD* runs = static_cast<const DWORD*>(GlobalLock(s->runs));
  if (!runs) return;
  const DWORD n = s->runsSize / 8;
  int x = 0, y = 0;
  for (DWORD i = 0; i < n && y < s->plotH; ++i) {
    DWORD count = runs[2 * i], color = runs[2 * i + 1];
    const int gb = color & 0xFF, gg = (color >> 8) & 0xFF, gr = (color >> 16) & 0xFF;
    for (DWORD k = 0; k < count; ++k) {
      if (color) {
        BYTE* p = Pixel(s, x, y);
        if (decayed && p[0] <= gb && p[1] <= gg && p[2] <= gr) {
          p[0] = static_cast<BYTE>(gb), p[1] = static_cast<BYTE>(gg), p[2] = static_cast<BYTE>(gr), p[3] = 0;
        } else if (!decayed || p[2] == 0) {
          const int w = 255 - p[3];
          const int add[3] = {gb * w / 256, gg * w / 256, gr * w / 256};
          for (int c = 0; c < 3; ++c) p[c] = static_cast<BYTE>(p[c] + add[c] > 255 ? 255 : p[c] + add[c]);
        }
      }
      if (++x == s->plotW) x = 0, ++y;
    }
  }
  GlobalUnlock(s->runs);
}

void FreeRuns(Scope* s) {
  if (s->runs) GlobalFree(s->runs);
  s->runs = nullptr;
  s->runsSize = 0;
  SetRectEmpty(&s->runsRect);
}

// Run-length list of the grid picture: {count, colour} per run, rows one
// after another.
HRESULT BuildRuns(Scope* s) {
  FreeRuns(s);
  DWORD runs = 0;
  for (int y = 0; y < s->plotH; ++y) {
    const DWORD* row = reinterpret_cast<const DWORD*>(Pixel(s, 0, y));
    for (int x = 0; x < s->plotW; ++x)
      if (x == 0 || (row[x] & 0xFFFFFF) != (row[x - 1] & 0xFFFFFF)) ++runs;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, runs * 8);
  DWORD* out = block ? static_cast<DWORD*>(GlobalLock(block)) : nullptr;
  if (!out) {
    if (block) GlobalFree(block);
    return E_OUTOFMEMORY;
  }
  DWORD i = 0;
  for (int y = 0; y < s->plotH; ++y) {
    const DWORD* row = reinterpret_cast<const DWORD*>(Pixel(s, 0, y));
    for (int x = 0; x < s->plotW; ++x) {
      DWORD color = row[x] & 0xFFFFFF;
      if (x == 0 || color != (row[x - 1] & 0xFFFFFF)) {
        out[2 * i] = 0;
        out[2 * i + 1] = color;
        ++i;
      }
      ++out[2 * (i - 1)];
    }
  }
  GlobalUnlock(block);
  s->runs = block;
  s->runsSize = runs * 8;
  s->runsRect = s->plot;
  return S_OK;
}

void DrawTicks(HDC dc, int centre, int span, int minimum, int across, bool vertical) {
  for (int half = span / 2; half >= minimum && half > 0; half /= 2) {
    int length = half >= span / 2 ? 4 : 2;
    for (int sign : {-1, 1}) {
      int at = centre + sign * half;
      if (vertical) {
        MoveToEx(dc, across - length, at, nullptr);
        LineTo(dc, across + length + 1, at);
      } else {
        MoveToEx(dc, at, across - length, nullptr);
        LineTo(dc, at, across + length + 1);
      }
    }
  }
}

void DrawGrid(Scope* s) {
  HDC dc = s->memDC;
  const int W = s->plotW, H = s->plotH;
  const SIZE* zero = KvGetUIFontSize(KV_UIFONT_SMALL);
  int minimum = zero && zero->cy >= 7 ? zero->cy : 6;
  HPEN light = CreatePen(PS_SOLID, 1, kLightGrid), dark = CreatePen(PS_SOLID, 1, kDarkGrid);
  HGDIOBJ old = SelectObject(dc, light);
  if (s->style & KVSCOPE_STYLE_METER) {
    GdiFlush();
    const float cx = W / 2.0f, cy = H * 17.0f / 32.0f, r = 0.9f * W / 2.0f;
    for (int y = 0; y < H && y <= static_cast<int>(cy); ++y)
      for (int x = 0; x < W; ++x) {
        float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
        float b = Clamp(1.0f - std::fabs(d - r) * 1.1111f, 0, 1);
        if (b <= 0.0f) continue;
        BYTE v = static_cast<BYTE>(std::lround(200 * std::sqrt(b)));
        BYTE* p = Pixel(s, x, y);
        if (p[1] < v) p[0] = p[1] = p[2] = v;
      }
    MoveToEx(dc, static_cast<int>(cx - r), static_cast<int>(cy), nullptr);
    LineTo(dc, static_cast<int>(cx + r) + 1, static_cast<int>(cy));
  } else if (s->style & KVSCOPE_STYLE_BARS) {
    MoveToEx(dc, 0, H / 2, nullptr);
    LineTo(dc, W, H / 2);
    DrawTicks(dc, W / 2, W, minimum, H / 2, false);
  } else {
    const bool rotated = (s->style & KVSCOPE_STYLE_ROTATE) != 0;
    SelectObject(dc, rotated ? light : dark);
    MoveToEx(dc, 0, H - 1, nullptr);
    LineTo(dc, W, -1);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, W, H);
    SelectObject(dc, light);
    MoveToEx(dc, 0, H / 2, nullptr);
    LineTo(dc, W, H / 2);
    MoveToEx(dc, W / 2, 0, nullptr);
    LineTo(dc, W / 2, H);
    DrawTicks(dc, W / 2, W, minimum, H / 2, false);
    DrawTicks(dc, H / 2, H, minimum, W / 2, true);
  }
  SelectObject(dc, old);
  DeleteObject(light);
  DeleteObject(dark);
  GdiFlush();
}

void ReleaseBitmap(Scope* s) {
  if (s->memDC) DeleteDC(s->memDC);
  if (s->bitmap) DeleteObject(s->bitmap);
  s->memDC = nullptr;
  s->bitmap = nullptr;
  s->bits = s->firstRow = nullptr;
  std::memset(&s->header, 0, sizeof s->header);
  FreeRuns(s);
}

void Layout(Scope* s) {
  s->controlW = s->control.right - s->control.left;
  s->controlH = s->control.bottom - s->control.top;
  int side = s->controlW < s->controlH ? s->controlW : s->controlH;
  if (side % 2 == 0) --side;
  int inner = side - 2;
  if (inner < 2) inner = 2;
  int ox = 0, oy = 0;
  if (s->style & KVSCOPE_STYLE_CENTER) {
    ox = (s->controlW - inner) / 2;
    oy = (s->controlH - inner) / 2;
  }
  const int left = s->control.left + ox, top = s->control.top + oy;
  SetRect(&s->plot, left + 2, top + 2, left - 2 + inner, top - 2 + inner);
  s->plotW = s->plot.right - s->plot.left;
  s->plotH = s->plot.bottom - s->plot.top;
}

// A new DIB section only when the size changed; then cleared, the grid drawn
// and its run list rebuilt. A plot of no pixels shows nothing.
void Rebuild(Scope* s) {
  if (s->plotW <= 0 || s->plotH <= 0) {
    ReleaseBitmap(s);
    return;
  }
  if (!s->memDC) {
    HDC like = s->window && !(s->flags & kWindowless) ? GetDC(s->window) : nullptr;
    s->memDC = CreateCompatibleDC(like);
    if (like) ReleaseDC(s->window, like);
  }
  if (!s->bitmap || s->header.biWidth != s->plotW || s->header.biHeight != s->plotH) {
    BITMAPINFO bi;
    std::memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = s->plotW;
    bi.bmiHeader.biHeight = s->plotH;  // bottom-up
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    bi.bmiHeader.biSizeImage = static_cast<DWORD>(s->plotW) * s->plotH * 4;
    void* bits = nullptr;
    HBITMAP bmp = s->memDC ? CreateDIBSection(s->memDC, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (!bmp) {
      ReleaseBitmap(s);
      return;
    }
    HGDIOBJ old = SelectObject(s->memDC, bmp);
    if (s->bitmap && old == s->bitmap) DeleteObject(s->bitmap);
    s->bitmap = bmp;
    s->header = bi.bmiHeader;
    s->bits = static_cast<BYTE*>(bits);
    s->stride = -s->plotW * 4;
    s->firstRow = s->bits + (s->plotH - 1) * s->plotW * 4;
  }
  std::memset(s->bits, 0, static_cast<size_t>(s->plotW) * s->plotH * 4);
  DrawGrid(s);
  if (FAILED(BuildRuns(s))) ReleaseBitmap(s);
}

void Repaint(Scope* s) {
  if (!(s->flags & kWindowless) && s->window) InvalidateRect(s->window, &s->control, FALSE);
}
void Update(Scope* s) {
  if (!(s->flags & kWindowless) && s->window) UpdateWindow(s->window);
}

RECT Normalised(const RECT& r) {
  RECT out = r;
  if (out.right - out.left < 1) out.right = out.left + 7;
  if (out.bottom - out.top < 1) out.bottom = out.top + 7;
  return out;
}

LRESULT Handle(Scope* s, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case KVSCOPE_SETPOS:
      if (!lp) return 0;
      if (s->bits) {
        Decay(s);
        Plot(s, reinterpret_cast<const KvScopeBlock*>(lp));
        RestoreGrid(s, s->decay > 0.0f);
      }
      Repaint(s);
      return 0;
    case KVSCOPE_SETRANGE:
      if (!lp) return 0;
      s->range = *reinterpret_cast<const float*>(lp);
      Repaint(s);
      return 0;
    case KVSCOPE_SETCOLORS:
      s->color1 = static_cast<COLORREF>(lp);
      s->value1 = HIWORD(wp);
      Repaint(s);
      return 0;
    case KVSCOPE_SETTICKS:
      s->color2 = static_cast<COLORREF>(lp);
      s->value2 = HIWORD(wp);
      Repaint(s);
      return 0;
    case KVSCOPE_GETSTYLE:
      return s->style & 0xFFFF;
    case KVSCOPE_SETSTYLE: {
      const DWORD bits = wp & 0xFFFF;
      const DWORD style = lp ? s->style | bits : s->style & ~bits;
      if (style != s->style) {
        const bool maths = ((style ^ s->style) & KVSCOPE_STYLE_FASTMATH) != 0;
        s->style = style;
        if (maths) ChooseMaths(s);
        Layout(s);
        Rebuild(s);
        Repaint(s);
        Update(s);
      }
      return s->style & 0xFFFF;
    }
    case KVSCOPE_GETCOUNT:
      return s->count;
    case KVSCOPE_SETCOUNT:
      if (s->count != static_cast<int>(lp)) {
        s->count = static_cast<int>(lp);
        Repaint(s);
      }
      if (LOWORD(wp)) Update(s);
      return 0;
    case KVSCOPE_SETFADE: {
      if (!lp) return 0;
      // A fade beyond 1 would brighten the picture past a byte: kept within 0..1.
      float fade = Clamp(*reinterpret_cast<const float*>(lp), 0.0f, 1.0f);
      if (fade != fade) fade = 0.0f;
      s->decay = std::sqrt(fade);
      Repaint(s);
      return 0;
    }
    case KVSCOPE_SETENABLED: {
      const bool was = (s->flags & kEnabled) != 0;
      s->flags = (s->flags & ~kEnabled) | ((lp & 1) ? kEnabled : 0);
      return was ? -1 : 0;
    }
    case KVSCOPE_RESET:
      if (s->bits) {
        const BYTE b = GetBValue(lp), g = GetGValue(lp), r = GetRValue(lp);
        for (int y = 0; y < s->plotH; ++y) {
          BYTE* p = Pixel(s, 0, y);
          for (int x = 0; x < s->plotW; ++x, p += 4) p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
        }
        RestoreGrid(s, false);
      }
      Repaint(s);
      if (LOWORD(wp)) Update(s);
      return 0;
    case WM_ERASEBKGND:
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      Layout(s);
      Rebuild(s);
      return 0;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wp);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_CONTEXTMENU:
    case WM_ENTERIDLE: {
      HWND to = s->notify ? s->notify : (s->window ? GetParent(s->window) : nullptr);
      return to ? SendMessageW(to, msg, wp, lp) : 0;
    }
    case WM_NCHITTEST:
      return HTTRANSPARENT;
    default:
      return 0;
  }
}

Scope* Of(void* instance) { return static_cast<Scope*>(instance); }

LRESULT CALLBACK ScopeProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  Scope* s = reinterpret_cast<Scope*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (msg) {
    case WM_CREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      s = static_cast<Scope*>(LocalAlloc(LPTR, KVSCOPE_INSTANCE_SIZE));
      if (!s) return -1;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
      RECT client;
      GetClientRect(window, &client);
      if (!ScopeInst_Init(s, static_cast<DWORD>(cs->style), &client, window,
                          static_cast<UINT>(reinterpret_cast<UINT_PTR>(cs->hMenu)))) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        LocalFree(s);
        return -1;
      }
      if (cs->hwndParent != window) s->flags &= ~kWindowless;
      s->notify = cs->hwndParent != GetParent(window) ? cs->hwndParent : nullptr;
      return 0;
    }
    case WM_DESTROY:
      if (s) {
        ScopeInst_Deinit(s);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        LocalFree(s);
      }
      return 0;
    default:
      break;
  }
  if (!s) return DefWindowProcW(window, msg, wp, lp);
  switch (msg) {
    case WM_SIZE: {
      RECT client;
      GetClientRect(window, &client);
      client = Normalised(client);
      if (!EqualRect(&client, &s->control)) {
        s->control = client;
        Layout(s);
        Rebuild(s);
      }
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      ScopeInst_Draw(s, dc, nullptr, 0);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_ERASEBKGND:
    case WM_SETFONT:
    case WM_GETFONT:
    case WM_CONTEXTMENU:
    case WM_ENTERIDLE:
    case WM_NCHITTEST:
      return Handle(s, msg, wp, lp);
    default:
      if (msg >= 0x600) return Handle(s, msg, wp, lp);
      return DefWindowProcW(window, msg, wp, lp);
  }
}

}  // namespace

extern "C" BOOL KVAPI ScopeInitialize(HINSTANCE instance, const wchar_t* className) {
  WNDCLASSW wc;
  std::memset(&wc, 0, sizeof wc);
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_GLOBALCLASS;
  wc.lpfnWndProc = ScopeProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = className;
  return KvRegisterClass(&wc) != 0;
}

extern "C" BOOL KVAPI ScopeTerminate(HINSTANCE instance, const wchar_t* className) {
  return KvUnregisterClass(className, instance);
}

extern "C" int KVAPI ScopeInst_GetSize(void) { return KVSCOPE_INSTANCE_SIZE; }

extern "C" BOOL KVAPI ScopeInst_Init(void* instance, DWORD style, const RECT* rect, HWND owner, UINT id) {
  if (!instance || !rect) return FALSE;
  std::memset(instance, 0, KVSCOPE_INSTANCE_SIZE);
  Scope* s = Of(instance);
  s->style = style;
  s->flags = kWindowless;
  s->window = s->notify = owner;
  s->id = id;
  s->count = 1;
  ChooseMaths(s);
  s->control = Normalised(*rect);
  Layout(s);
  Rebuild(s);
  return TRUE;
}

extern "C" void* KVAPI ScopeInst_SetOwnerHwnd(void* instance, HWND owner) {
  Scope* s = Of(instance);
  if (s && (s->flags & kWindowless)) s->window = s->notify = owner;
  return instance;
}

extern "C" BOOL KVAPI ScopeInst_Move(void* instance, const RECT* rect) {
  if (!instance || !rect) return FALSE;
  Scope* s = Of(instance);
  RECT r = Normalised(*rect);
  if (!EqualRect(&r, &s->control)) {
    s->control = r;
    Layout(s);
    Rebuild(s);
  }
  return TRUE;
}

extern "C" void KVAPI ScopeInst_Draw(void* instance, HDC dc, KvScopePaintCallback callback, LPARAM user) {
  Scope* s = Of(instance);
  if (!s || !dc || s->controlW < 1 || s->controlH < 1) return;
  if (callback) callback(instance, dc, &s->control, 1, user);
  if (!s->bitmap || s->plotW <= 0 || s->plotH <= 0) return;
  RECT edge = s->plot;
  InflateRect(&edge, 2, 2);
  DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
  GdiFlush();
  BitBlt(dc, s->plot.left, s->plot.top, s->plotW, s->plotH, s->memDC, 0, 0, SRCCOPY);
}

extern "C" LRESULT KVAPI ScopeInst_Message(void* instance, UINT msg, WPARAM wParam, LPARAM lParam) {
  return instance ? Handle(Of(instance), msg, wParam, lParam) : 0;
}

extern "C" void KVAPI ScopeInst_Deinit(void* instance) {
  if (instance) ReleaseBitmap(Of(instance));
}

#define KV_SCOPE_SENDERS(Name, Target, Send)                                                                   \
  extern "C" LRESULT KVAPI Name##_SetPos(Target t, const KvScopeBlock* block) {                                \
    return Send(t, KVSCOPE_SETPOS, 0, reinterpret_cast<LPARAM>(block));                                         \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_SetRange(Target t, const float* range) {                                     \
    return Send(t, KVSCOPE_SETRANGE, 0, reinterpret_cast<LPARAM>(range));                                       \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_SetColors(Target t, WORD value, COLORREF color) {                            \
    return Send(t, KVSCOPE_SETCOLORS, static_cast<WPARAM>(value) << 16, static_cast<LPARAM>(color));            \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_SetTicks(Target t, WORD value, COLORREF color) {                             \
    return Send(t, KVSCOPE_SETTICKS, static_cast<WPARAM>(value) << 16, static_cast<LPARAM>(color));             \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_GetStyle(Target t) { return Send(t, KVSCOPE_GETSTYLE, 0, 0); }               \
  extern "C" LRESULT KVAPI Name##_SetStyle(Target t, DWORD bits, BOOL set) {                                   \
    return Send(t, KVSCOPE_SETSTYLE, bits & 0xFFFF, set);                                                      \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_GetCount(Target t) { return Send(t, KVSCOPE_GETCOUNT, 0, 0); }               \
  extern "C" LRESULT KVAPI Name##_SetCount(Target t, int count, WORD update) {                                 \
    return Send(t, KVSCOPE_SETCOUNT, update | 0x10000, count);                                                  \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_SetFade(Target t, const float* fade) {                                       \
    return Send(t, KVSCOPE_SETFADE, 0, reinterpret_cast<LPARAM>(fade));                                         \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_SetEnabled(Target t, BOOL enabled) {                                         \
    return Send(t, KVSCOPE_SETENABLED, 0, enabled);                                                            \
  }                                                                                                            \
  extern "C" LRESULT KVAPI Name##_Reset(Target t, COLORREF color, WORD update) {                               \
    return Send(t, KVSCOPE_RESET, update, static_cast<LPARAM>(color));                                          \
  }

KV_SCOPE_SENDERS(KvScope, HWND, SendMessageW)
KV_SCOPE_SENDERS(ScopeInst, void*, ScopeInst_Message)

bool KvScope_GetPlot(const void* instance, KvScope_PlotView* view) {
  const Scope* s = static_cast<const Scope*>(instance);
  if (!s || !view || !s->bits) return false;
  GdiFlush();
  view->plot = s->plot;
  view->width = s->plotW;
  view->height = s->plotH;
  view->firstRow = s->firstRow;
  view->stride = s->stride;
  return true;
}
