// Bitmap helpers of the UI and the position marker.
#include "kvuibitmap.h"

#include "kvres.h"
#include "kvuicolor.h"

namespace {

RGBQUAD Quad(COLORREF c) {
  RGBQUAD q = {GetBValue(c), GetGValue(c), GetRValue(c), 0};
  return q;
}

// A memory DC on the screen (or on dc) with a bitmap selected.
struct MemoryDC {
  MemoryDC(HDC like, HBITMAP bmp) : dc(CreateCompatibleDC(like)) {
    if (dc) old = SelectObject(dc, bmp);
  }
  ~MemoryDC() {
    if (!dc) return;
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  HDC dc;
  HGDIOBJ old = nullptr;
};

}  // namespace

extern "C" HBITMAP KVAPI KvLoadUIBitmapEx(HKVLANG lang, UINT id, COLORREF c0, COLORREF c7, COLORREF c8,
                                          COLORREF c15, COLORREF c11, COLORREF c10) {
  DWORD size = 0;
  HGLOBAL res = KvLoadResourceCustom(lang, MAKEINTRESOURCEW(id), RT_BITMAP, &size);
  const BYTE* data = res ? static_cast<const BYTE*>(LockResource(res)) : nullptr;
  if (!data || size < sizeof(BITMAPINFOHEADER)) return nullptr;
  const BITMAPINFOHEADER* src = reinterpret_cast<const BITMAPINFOHEADER*>(data);
  if (src->biSize != sizeof(BITMAPINFOHEADER)) return nullptr;
  // The pixels are taken to follow 16 palette entries: only an uncompressed
  // 4-bit bitmap whose pixels are all there has that layout.
  if (src->biBitCount != 4 || src->biCompression != BI_RGB || src->biWidth <= 0 || src->biHeight == 0)
    return nullptr;
  const DWORD header = sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD);
  const LONGLONG rows = src->biHeight < 0 ? -static_cast<LONGLONG>(src->biHeight) : src->biHeight;
  const LONGLONG stride = ((static_cast<LONGLONG>(src->biWidth) * 4 + 31) / 32) * 4;
  if (static_cast<LONGLONG>(size) < header + stride * rows) return nullptr;
  // The resource itself is never written: the palette is changed in a copy.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return nullptr;
  BYTE* bytes = static_cast<BYTE*>(GlobalLock(copy));
  HBITMAP bmp = nullptr;
  if (bytes) {
    CopyMemory(bytes, data, size);
    BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(bytes);
    info->bmiColors[0] = Quad(c0);
    info->bmiColors[7] = Quad(c7);
    info->bmiColors[8] = Quad(c8);
    info->bmiColors[15] = Quad(c15);
    info->bmiColors[11] = Quad(c11);
    info->bmiColors[10] = Quad(c10);
    if (HDC screen = GetDC(nullptr)) {
      bmp = CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, bytes + header, info, DIB_RGB_COLORS);
      ReleaseDC(nullptr, screen);
    }
    GlobalUnlock(copy);
  }
  GlobalFree(copy);
  return bmp;
}

extern "C" BOOL KVAPI KvBitmapColorTranslate(HDC dc, const BITMAP* info, COLORREF color) {
  if (!dc || !info) return FALSE;
  if (info->bmPlanes == 1 && info->bmBitsPixel == 1) return TRUE;
  COLORREF corner = GetPixel(dc, 0, 0);
  if (corner == CLR_INVALID || corner == color) return TRUE;
  const int w = info->bmWidth, h = info->bmHeight;
  HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
  if (!mask) return FALSE;
  {
    MemoryDC m(dc, mask);
    if (!m.dc) {
      DeleteObject(mask);
      return FALSE;
    }
    COLORREF oldBk = SetBkColor(dc, corner);
    COLORREF oldText = GetTextColor(dc);
    // Mask: 1 where the bitmap has the corner's colour.
    BitBlt(m.dc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    // Clear those pixels (mask 1 -> black, AND), then paint them (mask 1 ->
    // the colour, 0 -> black, OR).
    SetBkColor(dc, RGB(0, 0, 0));
    SetTextColor(dc, RGB(255, 255, 255));
    BitBlt(dc, 0, 0, w, h, m.dc, 0, 0, SRCAND);
    SetBkColor(dc, color);
    SetTextColor(dc, RGB(0, 0, 0));
    BitBlt(dc, 0, 0, w, h, m.dc, 0, 0, SRCPAINT);
    SetBkColor(dc, oldBk);
    SetTextColor(dc, oldText);
  }
  DeleteObject(mask);
  return TRUE;
}

extern "C" HBITMAP KVAPI KvCreateBitmapMask(HDC dc, HBITMAP bitmap, COLORREF transparent) {
  BITMAP info;
  if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) return nullptr;
  HDC screen = dc ? nullptr : GetDC(nullptr);
  HDC like = dc ? dc : screen;
  HBITMAP mask = CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, nullptr);
  if (mask) {
    MemoryDC src(like, bitmap);
    MemoryDC dst(like, mask);
    if (src.dc && dst.dc) {
      SetBkColor(src.dc, transparent);
      BitBlt(dst.dc, 0, 0, info.bmWidth, info.bmHeight, src.dc, 0, 0, SRCCOPY);
      SetBkColor(src.dc, RGB(0, 0, 0));
      SetTextColor(src.dc, RGB(255, 255, 255));
      BitBlt(src.dc, 0, 0, info.bmWidth, info.bmHeight, dst.dc, 0, 0, SRCAND);
    } else {
      DeleteObject(mask);
      mask = nullptr;
    }
  }
  if (screen) ReleaseDC(nullptr, screen);
  return mask;
}

extern "C" HRESULT KVAPI KvExtractResourceToFile(HKVLANG lang, LPCWSTR name, LPCWSTR type, const wchar_t* path) {
  HRSRC found = KvFindResource(lang, name, type);
  if (!found) return KV_E_NOTFOUND;
  HGLOBAL loaded = KvLoadResource(lang, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = KvSizeofResource(lang, found);
  if (!data || size == 0) return E_UNEXPECTED;
  if (!path) return KV_E_OPEN;
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, size, &written, nullptr) && written == size;
  if (ok) ok = SetEndOfFile(file);
  CloseHandle(file);
  return ok ? S_OK : KV_E_WRITE;
}

namespace {
COLORREF Scaled(COLORREF c, int num, int add, int den) {
  return RGB((GetRValue(c) * num + add) / den, (GetGValue(c) * num + add) / den, (GetBValue(c) * num + add) / den);
}
}  // namespace

extern "C" int KVAPI KvMarker_Create(HDC dc, const RECT* rect, int type, COLORREF color, int notch) {
  if (!dc || !rect) return 0;
  const int x0 = rect->left, y0 = rect->top;
  const int h = rect->bottom - rect->top;
  const int fullWidth = rect->right - rect->left;
  int w = fullWidth;
  if (w >= h) w = h - 1;
  const int xr = x0 + w - 1, yb = y0 + h - 1;
  int d = h - notch;
  if (d < 0) d = 0;
  if (d > fullWidth) d = fullWidth;

  POINT pts[6];
  int n = 0;
  auto add = [&](int x, int y) { pts[n++] = {x, y}; };
  switch (type) {
    case 1:
    case 5:
      add(x0, y0 + h - d), add(x0, y0), add(xr, y0), add(xr, yb);
      if (d > 0 && d < w) add(x0 + w - d, y0 + h - d), add(x0, y0 + h - d);
      else add(x0, y0 + h - d);
      break;
    case 2:
    case 6:
      add(x0, yb), add(x0, y0), add(xr, y0 + d - 1), add(xr, yb), add(x0, yb);
      break;
    case 3:
    case 7:
      add(x0, yb), add(x0, y0 + d - 1), add(xr, y0), add(xr, yb), add(x0, yb);
      break;
    default:
      add(x0, yb), add(x0, y0), add(xr, y0), add(xr, y0 + h - d);
      if (d > 0 && d < w) add(x0 + d - 1, y0 + h - d), add(x0, yb);
      else add(x0, yb);
      break;
  }

  HBRUSH brush = CreateSolidBrush(color);
  HPEN dark = CreatePen(PS_SOLID, 1, Scaled(color, 2, 0, 3));
  HPEN light = CreatePen(PS_SOLID, 1, RGB((2 * GetRValue(color) + 255) / 3, (2 * GetGValue(color) + 255) / 3,
                                          (2 * GetBValue(color) + 255) / 3));
  HGDIOBJ oldBrush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(BLACK_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, dark ? static_cast<HGDIOBJ>(dark) : GetStockObject(BLACK_PEN));
  Polygon(dc, pts, n);
  // Light top and left edges: from the third point to the second and on to
  // the first.
  SelectObject(dc, light ? static_cast<HGDIOBJ>(light) : GetStockObject(WHITE_PEN));
  POINT edge[3] = {pts[2], pts[1], pts[0]};
  Polyline(dc, edge, 3);
  if (type >= 4) {
    RECT inner = {x0 + 2, y0 + 2, x0 + w - 2, y0 + h - 2};
    if (type == 4 || type == 5) inner.bottom -= d - 1;
    else inner.top += d - 1;
    if (inner.right > inner.left && inner.bottom > inner.top) FillRect(dc, &inner, KvGetUIBrush(COLOR_BTNFACE));
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  if (brush) DeleteObject(brush);
  if (dark) DeleteObject(dark);
  if (light) DeleteObject(light);
  return 0;
}
