// UI colours and the brush and pen caches: the numbered table of UI colours
// (ids 100-152) that every window of the host and the library draws with,
// system colours (ids 0-99), and solid, pattern and one-pixel pen objects made
// once per colour and shared until that colour changes.
#pragma once

#include "kvapi.h"

// Colour ids.
#define KV_UICOLOR_FIRST 100
#define KV_UICOLOR_LAST 152
#define KV_UICOLOR_COUNT 53
// Tags in the top byte of a colour-table entry.
#define KV_UICOLOR_TAG_SYSTEM 0x04000000u     // low 24 bits: a GetSysColor index
#define KV_UICOLOR_TAG_CONTRAST 0x05000000u   // the same, contrast-corrected

// Brush ids beside the colour ids.
#define KV_UIBRUSH_RESOURCE_PATTERN 10000
#define KV_UIBRUSH_PATTERN_FIRST 10001
#define KV_UIBRUSH_PATTERN_LAST 10016

// Pen styles.
#define KV_UIPEN_SOLID 0
#define KV_UIPEN_DOT 1
#define KV_UIPEN_PALE 2

KV_EXTERN_C_BEGIN

// The colour of an id without display adjustment: 0-99 system colours,
// 100-152 the current table, -n the default of UI colour n (n >= 100) or
// system colour n; 0xFFFFFFFF for an id beyond the table.
COLORREF KVAPI KvGetUIColorAbsolute(int id);
// As KvGetUIColorAbsolute; UI colours are then matched to the nearest colour
// the screen shows.
COLORREF KVAPI KvGetUIColor(int id);
// Stores a UI colour (ids 100-152, may carry a tag byte). A changed value
// drops the cached brush and pens of that colour first. 0 for other ids.
BOOL KVAPI KvSetUIColor(int id, COLORREF value);
// Deletes the cached brush and the three pens of a UI colour.
void KVAPI KvFreeUIColoredObjects(int id);
// 1: copy the default colours into the table; 0: delete every cached brush
// and pen. Returns 1.
BOOL KVAPI KvResetUIColors(BOOL loadDefaults);
// Packed HSL (hue bits 0-7, saturation 8-15, luminance 16-23, 0-240 each).
DWORD KVAPI KvRGBtoHSL(COLORREF color);
COLORREF KVAPI KvHSLtoRGB(DWORD hsl);

// Cached brushes and pens: they belong to the cache and must not be deleted.
// Unknown ids (and objects that cannot be made) give the black stock brush or
// pen.
HBRUSH KVAPI KvGetUIBrush(int id);
HPEN KVAPI KvGetUIPenWithStyle(int id, int style);

KV_EXTERN_C_END

// Library-internal: how many brushes and pens the caches hold now.
int KvUI_CachedColorObjectCount();
