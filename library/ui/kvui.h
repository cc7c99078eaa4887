// User-interface services that the base services need: the cached UI font,
// its size, text measuring and window centring. (The rest of the UI toolkit
// joins these later.)
#pragma once

#include <windows.h>

#ifndef KVAPI
#define KVAPI __stdcall
#endif

// Font id of the user-interface font.
#define KV_UIFONT_DEFAULT 100

// KvWndCenter flags: centre over the parent window (or the screen when the
// parent is missing or minimised).
#define KV_CENTER_OVER_PARENT 0x0001
#define KV_CENTER_KEEP_ON_SCREEN 0x8000

#ifdef __cplusplus
extern "C" {
#endif

// The cached font of an id (100: the user-interface font, made once from the
// system's message font face at the default character set); the stock GUI font
// when it cannot be made.
HFONT KVAPI KvGetUIFont(int id);
// {average character width, line height} in pixels of that font.
const SIZE* KVAPI KvGetUIFontSize(int id);
// Pixel size of count characters of text in the font (count below 1: all).
BOOL KVAPI KvGetTextExtent(HFONT font, const wchar_t* text, int count, SIZE* size);
// Positions the window: centred over the reference window, or its parent/owner
// when the reference is null, or the screen when neither exists or it is
// minimised; with 0x8000 the result is kept on the screen's work area. point
// (optional) receives the new top-left corner.
BOOL KVAPI KvWndCenter(HWND window, HWND reference, POINT* point, DWORD flags);

#ifdef __cplusplus
}
#endif

// Library-internal: releases the cached UI fonts (library termination).
void KvUI_FreeFonts();
