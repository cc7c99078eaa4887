#include "kvui.h"

namespace {

HFONT g_uiFont = nullptr;
SIZE g_uiFontSize = {0, 0};
bool g_sizeKnown = false;

HFONT MakeUIFont() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
  LOGFONTW lf = metrics.lfMessageFont;
  lf.lfCharSet = DEFAULT_CHARSET;
  return CreateFontIndirectW(&lf);
}

}  // namespace

extern "C" HFONT KVAPI KvGetUIFont(int id) {
  if (id != KV_UIFONT_DEFAULT) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (!g_uiFont) g_uiFont = MakeUIFont();
  return g_uiFont ? g_uiFont : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

extern "C" const SIZE* KVAPI KvGetUIFontSize(int id) {
  if (g_sizeKnown && id == KV_UIFONT_DEFAULT) return &g_uiFontSize;
  static SIZE other = {0, 0};
  SIZE* target = id == KV_UIFONT_DEFAULT ? &g_uiFontSize : &other;
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, KvGetUIFont(id));
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SIZE abc = {0, 0};
  static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  GetTextExtentPoint32W(dc, kAlphabet, 52, &abc);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  target->cx = abc.cx > 0 ? (abc.cx + 26) / 52 : (tm.tmAveCharWidth > 0 ? tm.tmAveCharWidth : 6);
  target->cy = tm.tmHeight + tm.tmExternalLeading > 0 ? tm.tmHeight + tm.tmExternalLeading : 13;
  if (id == KV_UIFONT_DEFAULT) g_sizeKnown = true;
  return target;
}

extern "C" BOOL KVAPI KvGetTextExtent(HFONT font, const wchar_t* text, int count, SIZE* size) {
  if (!size) return FALSE;
  size->cx = size->cy = 0;
  if (!text) return FALSE;
  if (count < 1) count = lstrlenW(text);
  HDC dc = GetDC(nullptr);
  if (!dc) return FALSE;
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  BOOL ok = GetTextExtentPoint32W(dc, text, count, size);
  if (count == 0) {
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    size->cy = tm.tmHeight;
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok;
}

extern "C" BOOL KVAPI KvWndCenter(HWND window, HWND reference, POINT* point, DWORD flags) {
  if (!window || !IsWindow(window)) return FALSE;
  RECT wr;
  GetWindowRect(window, &wr);
  HWND over = reference;
  if (!over && (flags & KV_CENTER_OVER_PARENT)) {
    over = GetParent(window);
    if (!over) over = GetWindow(window, GW_OWNER);
  }
  RECT area;
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  HMONITOR monitor = MonitorFromWindow(over && IsWindow(over) ? over : window, MONITOR_DEFAULTTONEAREST);
  if (!GetMonitorInfoW(monitor, &mi)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &mi.rcWork, 0);
  if (over && IsWindow(over) && !IsIconic(over) && IsWindowVisible(over))
    GetWindowRect(over, &area);
  else
    area = mi.rcWork;
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  if (flags & KV_CENTER_KEEP_ON_SCREEN) {
    if (x + w > mi.rcWork.right) x = mi.rcWork.right - w;
    if (y + h > mi.rcWork.bottom) y = mi.rcWork.bottom - h;
    if (x < mi.rcWork.left) x = mi.rcWork.left;
    if (y < mi.rcWork.top) y = mi.rcWork.top;
  }
  if (point) {
    point->x = x;
    point->y = y;
  }
  return SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void KvUI_FreeFonts() {
  if (g_uiFont) DeleteObject(g_uiFont);
  g_uiFont = nullptr;
  g_sizeKnown = false;
}
