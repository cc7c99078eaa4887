// Named UI fonts, their sizes, text measuring, the dialog font.
#include "kvuifont.h"

#include "kvkernel.h"

namespace {

enum class Face { UI, Stock17, Named, System };
enum class Height { GuiSize, GuiPoints, FixedPoints, Points, System };
enum class SystemFont { None, Caption, SmallCaption, Menu, Status, Message, IconTitle, IconTitleBold };

struct FontSpec {
  int id;
  Face face;
  const wchar_t* name;  // Face::Named
  Height height;
  int points;  // Points: the size; GuiPoints/FixedPoints: subtracted
  int weight;
  bool italic;
  BYTE pitchAndFamily;
  int fallback;  // stock font
  bool plainQuality;  // default output precision and proof quality
  SystemFont system;
};

const FontSpec kFonts[] = {
    {100, Face::UI, nullptr, Height::GuiSize, 0, 0, false, 0x22, DEFAULT_GUI_FONT, false, SystemFont::None},
    {102, Face::Named, L"Courier New", Height::FixedPoints, 1, 0, false, 0x31, ANSI_FIXED_FONT, false, SystemFont::None},
    {104, Face::UI, nullptr, Height::GuiSize, 0, 700, false, 0x22, DEFAULT_GUI_FONT, false, SystemFont::None},
    {106, Face::Stock17, nullptr, Height::GuiSize, 0, 0, true, 0x22, DEFAULT_GUI_FONT, true, SystemFont::None},
    {108, Face::Stock17, nullptr, Height::GuiSize, 0, 700, true, 0x22, DEFAULT_GUI_FONT, true, SystemFont::None},
    {110, Face::UI, nullptr, Height::GuiPoints, 1, 0, false, 0x22, DEFAULT_GUI_FONT, false, SystemFont::None},
    {112, Face::UI, nullptr, Height::GuiPoints, 1, 700, false, 0x22, DEFAULT_GUI_FONT, false, SystemFont::None},
    {120, Face::Named, L"Courier New", Height::FixedPoints, 2, 0, false, 0x31, ANSI_FIXED_FONT, false, SystemFont::None},
    {129, Face::UI, nullptr, Height::Points, 16, 500, false, 0x02, DEFAULT_GUI_FONT, false, SystemFont::None},
    {130, Face::UI, nullptr, Height::Points, 12, 500, false, 0x22, DEFAULT_GUI_FONT, false, SystemFont::None},
    {134, Face::UI, nullptr, Height::Points, 12, 700, false, 0x02, DEFAULT_GUI_FONT, false, SystemFont::None},
    {140, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::Caption},
    {141, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::SmallCaption},
    {142, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::Menu},
    {143, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::Status},
    {144, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::Message},
    {145, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::IconTitle},
    {146, Face::System, nullptr, Height::System, 0, 0, false, 0, DEFAULT_GUI_FONT, false, SystemFont::IconTitleBold},
    {147, Face::Named, L"Consolas", Height::Points, 10, 500, false, 0x02, DEFAULT_GUI_FONT, false, SystemFont::None},
};
const int kFontCount = sizeof kFonts / sizeof kFonts[0];
const int kStockSizeCount = 18;  // stock font ids 0-17

struct NamedFont {
  SIZE size;
  HFONT font;
};
NamedFont g_fonts[kFontCount];
SIZE g_stockSizes[kStockSizeCount];

int FontIndex(int id) {
  for (int i = 0; i < kFontCount; ++i)
    if (kFonts[i].id == id) return i;
  return -1;
}

bool IsCopiedStock(int id) { return (id >= 10 && id <= 14) || id == 16 || id == 17; }

HFONT Stock(int id) { return static_cast<HFONT>(GetStockObject(id)); }

bool NewerSystem() { return KvOSVersionOK(6, 0) != FALSE; }  // NT 5.1 or later

// Output precision and quality of the UI's fonts.
void SetQuality(LOGFONTW* lf) {
  if (!NewerSystem()) {
    lf->lfOutPrecision = OUT_TT_PRECIS;
    lf->lfQuality = PROOF_QUALITY;
    return;
  }
  lf->lfOutPrecision = OUT_TT_ONLY_PRECIS;
  lf->lfQuality = PROOF_QUALITY;
  BOOL smoothing = FALSE;
  if (SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &smoothing, 0) && smoothing) {
    UINT type = 0;
    if (SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &type, 0) && type == FE_FONTSMOOTHINGCLEARTYPE)
      lf->lfQuality = CLEARTYPE_QUALITY;
  }
}

struct ScreenFacts {
  int dpi = 96;
  int guiSize = 0;    // character height of stock font 17
  int fixedSize = 0;  // character height of stock font 11
  int charset = DEFAULT_CHARSET;
};

int CharacterHeight(HDC dc, HFONT font) {
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return tm.tmHeight - tm.tmInternalLeading;
}

ScreenFacts Screen() {
  ScreenFacts f;
  HDC dc = GetDC(nullptr);
  if (!dc) return f;
  f.dpi = GetDeviceCaps(dc, LOGPIXELSY);
  if (f.dpi <= 0) f.dpi = 96;
  f.guiSize = CharacterHeight(dc, Stock(DEFAULT_GUI_FONT));
  f.fixedSize = CharacterHeight(dc, Stock(ANSI_FIXED_FONT));
  f.charset = GetTextCharset(dc);
  ReleaseDC(nullptr, dc);
  return f;
}

bool SystemLogFont(SystemFont which, LOGFONTW* lf) {
  if (which == SystemFont::IconTitle || which == SystemFont::IconTitleBold) {
    if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof *lf, lf, 0)) return false;
    if (which == SystemFont::IconTitleBold) {
      lf->lfWidth = 0;
      lf->lfWeight = lf->lfWeight >= FW_BOLD ? FW_EXTRABOLD : FW_BOLD;
    }
    return true;
  }
  // The record without the padded-border field, which every system knows.
  const UINT kMetricsSize = 500;
  NONCLIENTMETRICSW m;
  ZeroMemory(&m, sizeof m);
  m.cbSize = kMetricsSize;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kMetricsSize, &m, 0)) return false;
  switch (which) {
    case SystemFont::Caption: *lf = m.lfCaptionFont; break;
    case SystemFont::SmallCaption: *lf = m.lfSmCaptionFont; break;
    case SystemFont::Menu: *lf = m.lfMenuFont; break;
    case SystemFont::Status: *lf = m.lfStatusFont; break;
    default: *lf = m.lfMessageFont; break;
  }
  return true;
}

HFONT MakeFont(const FontSpec& spec) {
  LOGFONTW lf;
  ZeroMemory(&lf, sizeof lf);
  if (spec.face == Face::System) {
    if (!SystemLogFont(spec.system, &lf)) return nullptr;
    SetQuality(&lf);
    return CreateFontIndirectW(&lf);
  }
  ScreenFacts screen = Screen();
  switch (spec.height) {
    case Height::GuiSize: lf.lfHeight = -screen.guiSize; break;
    case Height::GuiPoints:
      lf.lfHeight = -MulDiv(MulDiv(screen.guiSize, 72, screen.dpi) - spec.points, screen.dpi, 72);
      break;
    case Height::FixedPoints:
      lf.lfHeight = -MulDiv(MulDiv(screen.fixedSize, 72, screen.dpi) - spec.points, screen.dpi, 72);
      break;
    default: lf.lfHeight = -MulDiv(spec.points, screen.dpi, 72); break;
  }
  lf.lfWeight = spec.weight;
  lf.lfItalic = spec.italic;
  lf.lfPitchAndFamily = spec.pitchAndFamily;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  const wchar_t* face = spec.name;
  LOGFONTW stock;
  if (spec.face == Face::UI) {
    face = NewerSystem() ? L"MS Shell Dlg 2" : L"MS Shell Dlg";
  } else if (spec.face == Face::Stock17) {
    if (!GetObjectW(Stock(DEFAULT_GUI_FONT), sizeof stock, &stock)) return nullptr;
    face = stock.lfFaceName;
  }
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  lf.lfCharSet = static_cast<BYTE>(screen.charset);
  if (spec.plainQuality) {
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfQuality = PROOF_QUALITY;
  } else {
    SetQuality(&lf);
  }
  return CreateFontIndirectW(&lf);
}

HFONT CopyStock(int id) {
  LOGFONTW lf;
  if (!GetObjectW(Stock(id), sizeof lf, &lf)) return Stock(id);
  SetQuality(&lf);
  HFONT font = CreateFontIndirectW(&lf);
  return font ? font : Stock(id);
}

bool MeasureZero(HFONT font, SIZE* size) {
  size->cx = size->cy = 0;
  HDC dc = GetDC(nullptr);
  if (!dc) return false;
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  BOOL ok = GetTextExtentPoint32W(dc, L"0", 1, size);
  if (old) SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok != FALSE;
}

}  // namespace

extern "C" HFONT KVAPI KvGetUIFont(int id) {
  if (IsCopiedStock(id)) return CopyStock(id);
  int i = FontIndex(id);
  if (i < 0) return Stock(DEFAULT_GUI_FONT);
  if (!g_fonts[i].font) g_fonts[i].font = MakeFont(kFonts[i]);
  return g_fonts[i].font ? g_fonts[i].font : Stock(kFonts[i].fallback);
}

extern "C" const SIZE* KVAPI KvGetUIFontSize(int id) {
  SIZE* record;
  int i = FontIndex(id);
  if (i >= 0) record = &g_fonts[i].size;
  else if (id >= 0 && id < kStockSizeCount) record = &g_stockSizes[id];
  else return nullptr;
  if (record->cy == 0) {
    HFONT font = KvGetUIFont(id);
    if (!font) return nullptr;
    MeasureZero(font, record);
    // A stock copy made for the measure is not kept.
    if (IsCopiedStock(id) && font != Stock(id)) DeleteObject(font);
  }
  return record;
}

extern "C" int KVAPI KvGetUIFontCharset(void) {
  HDC dc = GetDC(nullptr);
  if (!dc) return DEFAULT_CHARSET;
  int charset = GetTextCharset(dc);
  ReleaseDC(nullptr, dc);
  return charset;
}

extern "C" BOOL KVAPI KvGetFontSize(HFONT font, SIZE* size) {
  if (!size) return FALSE;
  return MeasureZero(font, size);
}

extern "C" BOOL KVAPI KvGetTextExtent(HFONT font, const wchar_t* text, int length, SIZE* size) {
  if (!size) return FALSE;
  size->cx = size->cy = 0;
  if (!text) length = 0;
  else if (length < 1) length = lstrlenW(text);
  HDC dc = GetDC(nullptr);
  if (!dc) return FALSE;
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  BOOL ok = GetTextExtentPoint32W(dc, text ? text : L"", length, size);
  if (length == 0) {
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    size->cy = tm.tmHeight;
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok;
}

namespace {
BOOL CALLBACK SetChildFont(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}
}  // namespace

extern "C" BOOL KVAPI KvDlgInitFont(HWND dialog, HFONT font) {
  if (GetACP() == 1252) return FALSE;
  if (!font) font = KvGetUIFont(DEFAULT_GUI_FONT);
  EnumChildWindows(dialog, SetChildFont, reinterpret_cast<LPARAM>(font));
  return TRUE;
}

void KvUI_FreeFonts() {
  for (NamedFont& f : g_fonts) {
    if (f.font) DeleteObject(f.font);
    f.font = nullptr;
    f.size.cx = f.size.cy = 0;
  }
}

int KvUI_CachedFontCount() {
  int n = 0;
  for (const NamedFont& f : g_fonts) n += f.font != nullptr;
  return n;
}
