// Window placement on the desktop's monitors, and saved placements.
#include "kvwndplace.h"

namespace {
const DWORD kPlacementSize = 44;

// The work area of the monitor a rectangle lies on (the primary one when it
// lies on none); the screen's clip box when monitors cannot be asked.
RECT WorkAreaOf(const RECT& r) {
  RECT work = {0, 0, 0, 0};
  MONITORINFO mi;
  mi.cbSize = sizeof mi;
  HMONITOR monitor = MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY);
  if (monitor && GetMonitorInfoW(monitor, &mi)) return mi.rcWork;
  if (HDC dc = GetDC(nullptr)) {
    GetClipBox(dc, &work);
    ReleaseDC(nullptr, dc);
  }
  return work;
}

RECT WorkAreaOfWindow(HWND window) {
  RECT r = {0, 0, 0, 0};
  if (window) GetWindowRect(window, &r);
  return WorkAreaOf(r);
}

struct CaptionSearch {
  RECT strip;
  int minimum;
  bool visible;
};

BOOL CALLBACK FindCaption(HMONITOR, HDC, LPRECT monitor, LPARAM data) {
  auto* s = reinterpret_cast<CaptionSearch*>(data);
  RECT piece;
  if (IntersectRect(&piece, &s->strip, monitor) && piece.right - piece.left >= s->minimum &&
      piece.bottom - piece.top >= s->minimum) {
    s->visible = true;
    return FALSE;
  }
  return TRUE;
}

void Move(RECT* r, int dx, int dy) { OffsetRect(r, dx, dy); }

}  // namespace

extern "C" BOOL KVAPI KvIsWindowCaptionVisible(const RECT* window) {
  if (!window) return FALSE;
  int caption = GetSystemMetrics(SM_CYSMCAPTION);
  CaptionSearch s;
  s.strip = {window->left, window->top, window->right, window->top + caption};
  s.minimum = caption / 2 < 3 ? 3 : caption / 2;
  s.visible = false;
  EnumDisplayMonitors(nullptr, nullptr, FindCaption, reinterpret_cast<LPARAM>(&s));
  return s.visible;
}

extern "C" BOOL KVAPI KvForceRectOntoDesktop(RECT* rect, int marginX, int marginY) {
  if (!rect) return FALSE;
  RECT work = WorkAreaOf(*rect);
  if (rect->left < work.left + marginX) Move(rect, work.left + marginX - rect->left, 0);
  else if (rect->right > work.right - marginX) Move(rect, work.right - marginX - rect->right, 0);
  // A rectangle wider than the work area keeps its left edge in view.
  if (rect->left < work.left + marginX) Move(rect, work.left + marginX - rect->left, 0);
  if (rect->top < work.top + marginY) Move(rect, 0, work.top + marginY - rect->top);
  else if (rect->bottom > work.bottom - marginY) Move(rect, 0, work.bottom - marginY - rect->bottom);
  if (rect->top < work.top + marginY) Move(rect, 0, work.top + marginY - rect->top);
  return TRUE;
}

extern "C" BOOL KVAPI KvForcePopupRectOntoDesktop(RECT* popup, const RECT* anchor, int marginX, int marginY) {
  if (!popup || !anchor) return FALSE;
  RECT work = WorkAreaOf(*anchor);
  const int w = popup->right - popup->left, h = popup->bottom - popup->top;
  const int ax = (anchor->left + anchor->right) / 2, ay = (anchor->top + anchor->bottom) / 2;
  const bool toRight = ax <= (work.left + work.right) / 2;
  const bool below = ay <= (work.top + work.bottom) / 2;
  const int left = toRight ? anchor->right : anchor->left - w;
  const int top = below ? anchor->bottom : anchor->top - h;
  SetRect(popup, left, top, left + w, top + h);
  if (popup->left < work.left + marginX || popup->right > work.right - marginX || popup->top < work.top + marginY ||
      popup->bottom > work.bottom - marginY)
    KvForceRectOntoDesktop(popup, marginX, marginY);
  return TRUE;
}

extern "C" BOOL KVAPI KvWndCenter(HWND window, HWND reference, const POINT* point, DWORD flags) {
  if (!window || !IsWindow(window)) return FALSE;
  RECT wr;
  GetWindowRect(window, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;

  HWND parent = GetParent(window);
  HWND over = nullptr;
  if (flags & KV_CENTER_OVER_PARENT) {
    if (parent && !IsIconic(parent)) over = parent;
  } else if (reference && IsWindow(reference)) {
    over = reference;
  }
  RECT ref;
  if (over) {
    if (flags & KV_CENTER_CLIENT_AREA) {
      GetClientRect(over, &ref);
      MapWindowPoints(over, nullptr, reinterpret_cast<POINT*>(&ref), 2);
    } else {
      GetWindowRect(over, &ref);
    }
  } else {
    ref = WorkAreaOfWindow(parent ? parent : window);
  }

  const int refW = ref.right - ref.left, refH = ref.bottom - ref.top;
  int x = ref.left + (refW - w) / 2, y = ref.top + (refH - h) / 2;
  switch (flags & 15) {
    case KV_CENTER_UPPER_THIRD:
      y = ref.top + refH / 3 - h / 3;
      break;
    case KV_CENTER_ON_CURSOR: {
      POINT c = {0, 0};
      GetCursorPos(&c);
      x = c.x - w / 2;
      y = c.y - h / 2;
      break;
    }
    case KV_CENTER_ON_POINT:
      if (point) {
        x = point->x - w / 2;
        y = point->y - h / 2;
      }
      break;
    default:
      break;
  }
  RECT placed = {x, y, x + w, y + h};
  KvForceRectOntoDesktop(&placed, 0, 0);
  POINT at = {placed.left, placed.top};
  if (over && over == parent && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) ScreenToClient(parent, &at);
  return SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" HRESULT KVAPI KvLoadWindowPlacement(HKVMETRIC metric, int id, int mode, WINDOWPLACEMENT* placement) {
  if (!placement) return E_POINTER;
  if (mode != KV_PLACEMENT_LOAD_OR_DEFAULT)
    return KvGetMetricBinary(metric, id, placement, kPlacementSize) == kPlacementSize ? S_OK : S_FALSE;
  WINDOWPLACEMENT stored;
  if (KvGetMetricBinary(metric, id, &stored, kPlacementSize) == kPlacementSize && stored.ptMaxPosition.x < 0 &&
      stored.ptMaxPosition.y < 0) {
    *placement = stored;
    return S_OK;
  }
  RECT work = {0, 0, 0, 0};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int dx = (work.right - work.left) / 16, dy = (work.bottom - work.top) / 16;
  ZeroMemory(placement, sizeof *placement);
  placement->length = kPlacementSize;
  placement->flags = 0;
  placement->showCmd = SW_SHOWNORMAL;
  placement->ptMinPosition = {-1, -1};
  placement->ptMaxPosition = {-1, -1};
  placement->rcNormalPosition = {work.left + dx, work.top + dy, work.right - dx, work.bottom - dy};
  return S_FALSE;
}

extern "C" BOOL KVAPI KvFixWindowPlacement(WINDOWPLACEMENT* placement) {
  if (!placement) return FALSE;
  if (placement->showCmd == SW_SHOWMINIMIZED) placement->showCmd = SW_SHOWNORMAL;
  if (!KvIsWindowCaptionVisible(&placement->rcNormalPosition))
    KvForceRectOntoDesktop(&placement->rcNormalPosition, 0, 0);
  return TRUE;
}

extern "C" HRESULT KVAPI KvWindowPlacement(HWND window, HKVMETRIC metric, int id, int mode) {
  WINDOWPLACEMENT wp;
  ZeroMemory(&wp, sizeof wp);
  wp.length = kPlacementSize;
  switch (mode) {
    case KV_PLACEMENT_SAVE:
      if (!GetWindowPlacement(window, &wp)) return E_FAIL;
      return KvSetMetricBinary(metric, id, &wp, kPlacementSize);
    case KV_PLACEMENT_LOAD: {
      // Nothing stored: nothing is applied.
      if (KvLoadWindowPlacement(metric, id, mode, &wp) != S_OK) return S_FALSE;
      KvFixWindowPlacement(&wp);
      return SetWindowPlacement(window, &wp) ? S_OK : E_FAIL;
    }
    case KV_PLACEMENT_LOAD_OR_DEFAULT: {
      HRESULT loaded = KvLoadWindowPlacement(metric, id, mode, &wp);
      KvFixWindowPlacement(&wp);
      return SetWindowPlacement(window, &wp) ? loaded : E_FAIL;
    }
    default:
      return E_FAIL;
  }
}
