// Bounded formatting for the system services (library-internal): every text
// the library composes into a fixed buffer goes through the format engine's
// bounded form, so that no argument or token can write past the buffer.
#pragma once

#include <cstdarg>

#include <windows.h>

// At most cch characters including the terminator are written; the result is
// the length written. cch below 1 writes nothing.
int KvSysVFormat(wchar_t* out, int cch, const wchar_t* format, va_list args);
int KvSysFormat(wchar_t* out, int cch, const wchar_t* format, ...);
// TRUE when the text holds conversions or tokens of the format engine.
BOOL KvSysHasFormatCodes(const wchar_t* text);
// Shortens text (capacity maxChars) with "..." to fit maxWidth pixels on dc.
BOOL KvSysCalcStringEllipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth);
