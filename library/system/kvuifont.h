// UI fonts: the named fonts every dialog and control of the host and the
// library draws with, made once from the system's dialog face and metrics;
// their measured sizes; text measuring; the dialog font of non-Western
// systems.
#pragma once

#include "kvapi.h"

// Named font ids.
#define KV_UIFONT_DEFAULT 100         // the UI face at the GUI size
#define KV_UIFONT_FIXED 102           // "Courier New", fixed points - 1
#define KV_UIFONT_BOLD 104
#define KV_UIFONT_ITALIC 106
#define KV_UIFONT_BOLD_ITALIC 108
#define KV_UIFONT_SMALL 110
#define KV_UIFONT_SMALL_BOLD 112
#define KV_UIFONT_FIXED_SMALL 120
#define KV_UIFONT_LARGE 129           // 16 points
#define KV_UIFONT_MEDIUM 130          // 12 points
#define KV_UIFONT_MEDIUM_BOLD 134
#define KV_UIFONT_CAPTION 140         // non-client metrics' fonts
#define KV_UIFONT_SMALL_CAPTION 141
#define KV_UIFONT_MENU 142
#define KV_UIFONT_STATUS 143
#define KV_UIFONT_MESSAGE 144
#define KV_UIFONT_ICON_TITLE 145
#define KV_UIFONT_ICON_TITLE_BOLD 146
#define KV_UIFONT_CONSOLE 147         // "Consolas", 10 points

KV_EXTERN_C_BEGIN

// The cached font of a named id (made on first use; the stock fallback when it
// cannot be made). Ids 10-14, 16, 17: a new copy of that stock font with the
// UI's output precision and quality, owned by the caller. Any other id: the
// stock GUI font (17).
HFONT KVAPI KvGetUIFont(int id);
// Measured size of "0" in the font of a named id or of a stock font id 0-17;
// null for other ids.
const SIZE* KVAPI KvGetUIFontSize(int id);
// The text character set of the screen DC.
int KVAPI KvGetUIFontCharset(void);
// Size of "0" in a font on the screen DC.
BOOL KVAPI KvGetFontSize(HFONT font, SIZE* size);
// Pixel size of length characters of text (length below 1: all of it; a null
// text counts 0 characters) in a font on the screen DC.
BOOL KVAPI KvGetTextExtent(HFONT font, const wchar_t* text, int length, SIZE* size);
// Outside code page 1252: gives every child of the dialog the font (a new copy
// of stock font 17 when none is given) and returns 1; under 1252 returns 0.
BOOL KVAPI KvDlgInitFont(HWND dialog, HFONT font);

KV_EXTERN_C_END

// Library-internal: deletes the cached named fonts and forgets their sizes.
void KvUI_FreeFonts();
// Library-internal: how many named fonts are cached now.
int KvUI_CachedFontCount();
