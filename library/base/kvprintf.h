// The library's format engine: printf with a second introducer "$" that makes
// a conversion locale-aware, prints the locale's separators and inserts named
// tokens "$(name)" from a process-wide table; and the window-text setters
// that format through it.
#pragma once

#include <cstdarg>

#include "kvapi.h"
#include "kvlang.h"


extern "C" {
// Unbounded (the caller provides room, as the exported interface always had).
int KVAPI KvVPrintF(wchar_t* out, const wchar_t* format, va_list args);
int __cdecl KvPrintF(wchar_t* out, const wchar_t* format, ...);

BOOL KVAPI KvPrintF_AddToken(const wchar_t* name, const wchar_t* value);
BOOL KVAPI KvPrintF_DeleteToken(const wchar_t* name);

DWORD __cdecl KvComposeStr(wchar_t* buf, DWORD cch, const wchar_t* format, ...);
BOOL KVAPI KvHasFormatCodes(const wchar_t* text);

int __cdecl KvSetWindowText(HWND window, const wchar_t* format, ...);
int __cdecl KvSetDlgItemText(HWND dialog, int control, const wchar_t* format, ...);
int __cdecl KvSetDlgItemTextNoFlash(HWND dialog, int control, const wchar_t* format, ...);
int __cdecl KvSetWindowTextId(HKVLANG lang, HWND window, UINT id, ...);
int __cdecl KvSetDlgItemTextId(HKVLANG lang, HWND dialog, int control, UINT id, ...);
int __cdecl KvMEditPrintF(HWND edit, const wchar_t* format, ...);

BOOL KVAPI KvCalcStringEllipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth);
BOOL KVAPI KvCalcStringEllipsisFromEnd(HDC dc, wchar_t* text, int maxChars, int maxWidth);
}

// Library-internal: bounded forms for the library's own callers: at most cch characters
// including the terminator are written; the result is the length written.
int KvVPrintFN(wchar_t* out, int cch, const wchar_t* format, va_list args);
int KvPrintFN(wchar_t* out, int cch, const wchar_t* format, ...);

// The token table's lifetime (library initialisation and termination).
BOOL KvPrintF_CreateTokenList();
void KvPrintF_DestroyTokenList();
