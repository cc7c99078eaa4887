// Small GDI operations of the UI: 16-colour bitmaps with their palette
// remapped, colour replacement in a bitmap, transparency masks, resources
// written to files, and the position marker.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

KV_EXTERN_C_BEGIN

// A device-dependent bitmap from a 16-colour bitmap resource of the language
// module, with palette entries 0, 7, 8, 15, 11 and 10 replaced by the given
// colours. The caller owns it. Null when the resource is missing or is not a
// 4-bit bitmap with a 40-byte header.
HBITMAP KVAPI KvLoadUIBitmapEx(HKVLANG lang, UINT id, COLORREF c0, COLORREF c7, COLORREF c8, COLORREF c15,
                               COLORREF c11, COLORREF c10);
// In the bitmap selected into dc, every pixel of the colour of pixel (0,0)
// takes the given colour. 0 only when the work bitmap cannot be made.
BOOL KVAPI KvBitmapColorTranslate(HDC dc, const BITMAP* info, COLORREF color);
// A monochrome mask of the bitmap with 1 bits where it has the transparent
// colour; those pixels of the bitmap turn black. The caller owns the mask.
HBITMAP KVAPI KvCreateBitmapMask(HDC dc, HBITMAP bitmap, COLORREF transparent);
// Writes a resource's bytes to a file (created when missing, cut to the
// written length).
HRESULT KVAPI KvExtractResourceToFile(HKVLANG lang, LPCWSTR name, LPCWSTR type, const wchar_t* path);
// Draws a position marker into the rectangle: a filled polygon with a dark
// outline and light top and left edges, its shape chosen by type and notch;
// types 4 and above are hollow. Returns 0.
int KVAPI KvMarker_Create(HDC dc, const RECT* rect, int type, COLORREF color, int notch);

KV_EXTERN_C_END
