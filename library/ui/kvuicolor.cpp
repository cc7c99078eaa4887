// UI colour table, HSL conversion, and the brush and pen caches.
#include "kvuicolor.h"

#include "kvres.h"
#include "kvkernel.h"

namespace {

const COLORREF kDefaults[KV_UICOLOR_COUNT] = {
    RGB(0, 0, 100),     RGB(0, 0, 100),     RGB(255, 255, 255), RGB(0, 0, 240),     RGB(192, 192, 192),
    RGB(0, 0, 0),       RGB(0, 128, 0),     RGB(0, 128, 128),   RGB(255, 0, 0),     RGB(0, 0, 255),
    RGB(0, 128, 128),   RGB(0, 255, 255),   RGB(92, 92, 92),    RGB(255, 0, 0),     RGB(0, 0, 255),
    RGB(0, 128, 255),   RGB(255, 255, 255), RGB(192, 192, 192), RGB(255, 0, 0),     RGB(255, 255, 255),
    RGB(249, 244, 0),   RGB(255, 255, 255), RGB(192, 192, 192), RGB(255, 255, 255), RGB(0, 0, 0),
    RGB(0, 174, 255),   RGB(38, 216, 116),  RGB(255, 150, 24),  RGB(187, 0, 255),   RGB(0, 128, 128),
    RGB(219, 142, 87),  RGB(84, 158, 101),  RGB(0, 128, 128),   RGB(0, 128, 0),     RGB(56, 95, 125),
    RGB(56, 95, 125),   RGB(189, 87, 219),  RGB(219, 87, 87),   RGB(0, 0, 128),     RGB(249, 244, 0),
    RGB(33, 97, 255),   RGB(253, 210, 181), RGB(146, 0, 114),   RGB(255, 255, 255), RGB(230, 230, 230),
    RGB(33, 97, 255),   RGB(255, 0, 0),     RGB(0, 0, 192),     RGB(230, 230, 230), RGB(100, 0, 0),
    RGB(38, 172, 116),  RGB(255, 80, 36),   RGB(143, 0, 162),
};

// Monochrome 16 x 8 patterns of brushes 10001-10016, two bytes per row.
const WORD kPatterns[16][8] = {
    {0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555},
    {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    {0xFFFF, 0x0000, 0xFFFF, 0x0000, 0xFFFF, 0x0000, 0xFFFF, 0x0000},
    {0xFFFF, 0xFFFF, 0x0000, 0x0000, 0xFFFF, 0xFFFF, 0x0000, 0x0000},
    {0xFFFF, 0xFFFF, 0xFFFF, 0x0000, 0xFFFF, 0xFFFF, 0xFFFF, 0x0000},
    {0xFFFF, 0x0000, 0x0000, 0x0000, 0xFFFF, 0x0000, 0x0000, 0x0000},
    {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x0000, 0x0000, 0x0000, 0x0000},
    {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA},
    {0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC},
    {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE},
    {0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888, 0x8888},
    {0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0},
    {0xCCCC, 0xCCCC, 0x3333, 0x3333, 0xCCCC, 0xCCCC, 0x3333, 0x3333},
    {0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F},
    {0xF8F8, 0x7C7C, 0x3E3E, 0x1F1F, 0x8F8F, 0xC7C7, 0xE3E3, 0xF1F1},
};

const int kSystemSlots = 25;
const int kPenStyles = 3;
// Bitmap resource of the library whose pattern makes brush 10000.
const int kResourcePatternBitmap = 101;

// The live table; it starts with the defaults (library initialisation loads
// them again).
struct ColorTable {
  COLORREF entries[KV_UICOLOR_COUNT];
  ColorTable() {
    for (int i = 0; i < KV_UICOLOR_COUNT; ++i) entries[i] = kDefaults[i];
  }
};
ColorTable g_colors;
COLORREF (&g_table)[KV_UICOLOR_COUNT] = g_colors.entries;

HBRUSH g_systemBrushes[kSystemSlots];
HBRUSH g_uiBrushes[KV_UICOLOR_COUNT];
HBRUSH g_patternBrushes[16];
HBRUSH g_resourcePatternBrush;
HPEN g_systemPens[kSystemSlots * kPenStyles];
HPEN g_uiPens[KV_UICOLOR_COUNT * kPenStyles];

template <typename T, size_t N>
void DeleteAll(T (&slots)[N]) {
  for (T& s : slots) {
    if (s) DeleteObject(s);
    s = nullptr;
  }
}

template <typename T, size_t N>
int CountAll(const T (&slots)[N]) {
  int n = 0;
  for (const T& s : slots) n += s != nullptr;
  return n;
}

bool IsUIColorId(int id) { return id >= KV_UICOLOR_FIRST && id <= KV_UICOLOR_LAST; }
bool IsSystemSlot(int id) { return id >= 0 && id < kSystemSlots; }

// Bits per pixel of the screen, as a 1 x 1 compatible bitmap has them.
int ScreenDepth() {
  HDC dc = GetDC(nullptr);
  if (!dc) return 0;
  int depth = 0;
  if (HBITMAP bmp = CreateCompatibleBitmap(dc, 1, 1)) {
    BITMAP info = {};
    if (GetObjectW(bmp, sizeof info, &info)) depth = info.bmPlanes * info.bmBitsPixel;
    DeleteObject(bmp);
  }
  ReleaseDC(nullptr, dc);
  return depth;
}

// A system colour moved out of the middle greys, so that text and lines drawn
// in it stand out on face-coloured backgrounds.
COLORREF ContrastCorrected(int index) {
  COLORREF c = GetSysColor(index);
  if (ScreenDepth() <= 8) return c;
  DWORD hsl = KvRGBtoHSL(c);
  DWORD s = (hsl >> 8) & 0xFF, l = (hsl >> 16) & 0xFF;
  if (s >= 20 || l < 91 || l > 149) return c;
  l = l > 120 ? 150 : 90;
  // The saturation of the system colour is kept (the hue alone would give
  // another colour).
  return KvHSLtoRGB((hsl & 0xFFFF) | (l << 16));
}

COLORREF Resolve(COLORREF entry) {
  switch (entry & 0xFF000000u) {
    case KV_UICOLOR_TAG_SYSTEM:
      return GetSysColor(static_cast<int>(entry & 0xFFFFFF));
    case KV_UICOLOR_TAG_CONTRAST:
      return ContrastCorrected(static_cast<int>(entry & 0xFFFFFF));
    default:
      return entry;
  }
}

COLORREF PaleColor(COLORREF c) {
  int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  int mean = (r + g + b) / 3;
  return RGB((mean + r + 192) / 3, (mean + g + 192) / 3, (mean + b + 192) / 3);
}

HBRUSH MakePatternBrush(int index) {
  BYTE bits[16];
  for (int row = 0; row < 8; ++row) {
    bits[row * 2] = HIBYTE(kPatterns[index][row]);
    bits[row * 2 + 1] = LOBYTE(kPatterns[index][row]);
  }
  HBITMAP bmp = CreateBitmap(16, 8, 1, 1, bits);
  if (!bmp) return nullptr;
  // The brush keeps its own copy of the pattern.
  HBRUSH brush = CreatePatternBrush(bmp);
  DeleteObject(bmp);
  return brush;
}

HBRUSH MakeResourcePatternBrush() {
  HMODULE module = KvKernel_GetModule();
  if (!module) return nullptr;
  HBITMAP bmp = static_cast<HBITMAP>(
      LoadImageW(module, MAKEINTRESOURCEW(kResourcePatternBitmap), IMAGE_BITMAP, 0, 0, 0));
  if (!bmp) return nullptr;
  HBRUSH brush = CreatePatternBrush(bmp);
  DeleteObject(bmp);
  return brush;
}

HBRUSH BlackBrush() { return static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)); }
HPEN BlackPen() { return static_cast<HPEN>(GetStockObject(BLACK_PEN)); }

}  // namespace

extern "C" COLORREF KVAPI KvGetUIColorAbsolute(int id) {
  bool defaults = id < 0;
  int n = defaults ? -id : id;
  if (n < 0) return 0xFFFFFFFFu;  // INT_MIN
  if (n < KV_UICOLOR_FIRST) return GetSysColor(n);
  if (n > KV_UICOLOR_LAST) return 0xFFFFFFFFu;
  return Resolve(defaults ? kDefaults[n - KV_UICOLOR_FIRST] : g_table[n - KV_UICOLOR_FIRST]);
}

extern "C" COLORREF KVAPI KvGetUIColor(int id) {
  COLORREF c = KvGetUIColorAbsolute(id);
  if (!IsUIColorId(id)) return c;
  if (HDC dc = GetDC(nullptr)) {
    COLORREF nearest = GetNearestColor(dc, c);
    ReleaseDC(nullptr, dc);
    if (nearest != CLR_INVALID) c = nearest;
  }
  return c;
}

extern "C" BOOL KVAPI KvSetUIColor(int id, COLORREF value) {
  if (!IsUIColorId(id)) return FALSE;
  if (g_table[id - KV_UICOLOR_FIRST] != value) KvFreeUIColoredObjects(id);
  g_table[id - KV_UICOLOR_FIRST] = value;
  return TRUE;
}

extern "C" void KVAPI KvFreeUIColoredObjects(int id) {
  if (!IsUIColorId(id)) return;
  int slot = id - KV_UICOLOR_FIRST;
  if (g_uiBrushes[slot]) DeleteObject(g_uiBrushes[slot]);
  g_uiBrushes[slot] = nullptr;
  for (int s = 0; s < kPenStyles; ++s) {
    HPEN& pen = g_uiPens[slot * kPenStyles + s];
    if (pen) DeleteObject(pen);
    pen = nullptr;
  }
}

extern "C" BOOL KVAPI KvResetUIColors(BOOL loadDefaults) {
  if (loadDefaults) {
    for (int i = 0; i < KV_UICOLOR_COUNT; ++i) g_table[i] = kDefaults[i];
  } else {
    DeleteAll(g_systemBrushes);
    DeleteAll(g_uiBrushes);
    DeleteAll(g_patternBrushes);
    if (g_resourcePatternBrush) DeleteObject(g_resourcePatternBrush);
    g_resourcePatternBrush = nullptr;
    DeleteAll(g_systemPens);
    DeleteAll(g_uiPens);
  }
  return TRUE;
}

// Integer RGB to HSL on the 0-240 scale. The luminance and saturation divide
// by 510 (twice the channel maximum): with 512, white would come out at
// luminance 239 and go back as grey 253.
extern "C" DWORD KVAPI KvRGBtoHSL(COLORREF color) {
  int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
  int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  int sum = mx + mn;
  int l = (sum * 240 + 255) / 510;
  int h = 160, s = 0;
  if (mx != mn) {
    int d = mx - mn;
    int base = l <= 120 ? sum : 510 - sum;
    s = (d * 240 + base / 2) / base;
    int dr = ((mx - r) * 40 + d / 2) / d;
    int dg = ((mx - g) * 40 + d / 2) / d;
    int db = ((mx - b) * 40 + d / 2) / d;
    if (r == mx) h = db - dg;
    else if (g == mx) h = 80 + dr - db;
    else h = 160 + dg - dr;
    if (h < 0) h += 240;
    if (h > 240) h -= 240;
  }
  return static_cast<DWORD>(l) << 16 | static_cast<DWORD>(s) << 8 | static_cast<DWORD>(h);
}

namespace {
int HueValue(int m1, int m2, int h) {
  if (h < 0) h += 240;
  if (h >= 240) h -= 240;
  if (h < 40) return m1 + ((m2 - m1) * h + 20) / 40;
  if (h < 120) return m2;
  if (h < 160) return m1 + ((m2 - m1) * (160 - h) + 20) / 40;
  return m1;
}
}  // namespace

extern "C" COLORREF KVAPI KvHSLtoRGB(DWORD hsl) {
  int h = hsl & 0xFF, s = (hsl >> 8) & 0xFF, l = (hsl >> 16) & 0xFF;
  if (s == 0) {
    int v = l * 255 / 240;
    return RGB(v, v, v);
  }
  int m2 = l <= 120 ? ((s + 240) * l + 120) / 240 : l + s - (l * s + 120) / 240;
  int m1 = 2 * l - m2;
  int r = (HueValue(m1, m2, h + 80) * 255 + 120) / 240;
  int g = (HueValue(m1, m2, h) * 255 + 120) / 240;
  int b = (HueValue(m1, m2, h - 80) * 255 + 120) / 240;
  return RGB(r, g, b);
}

// Brush ids 100-152 are served (all 53 colours of the table, colour 152
// included, which has its own slot).
extern "C" HBRUSH KVAPI KvGetUIBrush(int id) {
  HBRUSH* slot = nullptr;
  if (IsSystemSlot(id)) slot = &g_systemBrushes[id];
  else if (IsUIColorId(id)) slot = &g_uiBrushes[id - KV_UICOLOR_FIRST];
  else if (id >= KV_UIBRUSH_PATTERN_FIRST && id <= KV_UIBRUSH_PATTERN_LAST) slot = &g_patternBrushes[id - KV_UIBRUSH_PATTERN_FIRST];
  else if (id == KV_UIBRUSH_RESOURCE_PATTERN) slot = &g_resourcePatternBrush;
  else return BlackBrush();
  if (!*slot) {
    if (IsSystemSlot(id)) *slot = CreateSolidBrush(GetSysColor(id));
    else if (IsUIColorId(id)) *slot = CreateSolidBrush(KvGetUIColorAbsolute(id));
    else if (id == KV_UIBRUSH_RESOURCE_PATTERN) *slot = MakeResourcePatternBrush();
    else *slot = MakePatternBrush(id - KV_UIBRUSH_PATTERN_FIRST);
  }
  return *slot ? *slot : BlackBrush();
}

extern "C" HPEN KVAPI KvGetUIPenWithStyle(int id, int style) {
  if (style < 0 || style >= kPenStyles) return BlackPen();
  HPEN* slot;
  COLORREF color;
  if (IsSystemSlot(id)) {
    slot = &g_systemPens[id * kPenStyles + style];
    color = GetSysColor(id);
  } else if (IsUIColorId(id)) {
    slot = &g_uiPens[(id - KV_UICOLOR_FIRST) * kPenStyles + style];
    color = KvGetUIColorAbsolute(id);
  } else {
    return BlackPen();
  }
  if (!*slot) {
    if (style == KV_UIPEN_PALE) color = PaleColor(color);
    *slot = CreatePen(style == KV_UIPEN_DOT ? PS_DOT : PS_SOLID, 1, color);
  }
  return *slot ? *slot : BlackPen();
}

int KvUI_CachedColorObjectCount() {
  return CountAll(g_systemBrushes) + CountAll(g_uiBrushes) + CountAll(g_patternBrushes) +
         (g_resourcePatternBrush != nullptr) + CountAll(g_systemPens) + CountAll(g_uiPens);
}
