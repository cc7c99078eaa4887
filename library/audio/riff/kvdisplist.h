// Display lists: a few clipboard-style items (a clipboard format and a block
// of data each), carried by media files to show a text (CF_TEXT) or a
// picture (CF_DIB) about the file. Saved as "DISP" chunks in RIFF files and
// as display-list GUID chunks in 64-bit RIFF files; read back from files and
// from IStream records (the IStream of kvstream.h on both builds); the
// bitmap item of a file becomes a GDI bitmap. The bitmap functions exist only
// in the Windows build.
#pragma once

#include <stdint.h>

#include "kvbitmapinfo.h"
#include "kvriff.h"
#include "kvstream.h"

#ifndef _WIN32
#define CF_TEXT 1
#define CF_DIB 8
#endif

// "DISP": chunk id of a display-list item in a RIFF file.
#define KVDISPLIST_CHUNK KVRIFF_FOURCC('D', 'I', 'S', 'P')

// One item. data is zero-filled movable global memory, locked while the item
// holds it, owned by the item; size is 0 whenever data is null.
struct displist_item {
  DWORD format;  // clipboard format (1 CF_TEXT, 8 CF_DIB)
  DWORD size;    // bytes of data
  void* data;
};

// A list: count items in use, in an array with room for room items.
struct displist {
  DWORD count;
  displist_item* items;
  DWORD room;
};

KV_EXTERN_C_BEGIN

// A new list of two empty items, {CF_TEXT} and {CF_DIB}; null when memory runs out.
displist* KVAPI displist_Create(void);
// Releases the items' data, the array and the list; null is allowed.
void KVAPI displist_Destroy(displist* list);
// Releases every item's data (formats stay); 0.
HRESULT KVAPI displist_Free(displist* list);
// The first item with the format, or null.
displist_item* KVAPI displist_GetItem(displist* list, DWORD format);
// Copies size bytes of data into the item of that format (no data or size 0
// empties it); 0, or -1 when no item has the format or memory runs out.
LONG KVAPI displist_SetItem(displist* list, DWORD format, DWORD size, const void* data);
// Writes a "DISP" chunk per item with data at the current position;
// written (optional) = the bytes written.
HRESULT KVAPI displist_Save(HANDLE file, displist* list, DWORD* written);
// Reads "DISP" chunks of the listed formats from the current position,
// bounded by *remaining (required); the position is given back.
HRESULT KVAPI displist_Load(HANDLE file, displist* list, DWORD* remaining);
// Reads a stream record: u32 count, then per item u32 format, u32 size, data.
HRESULT KVAPI displist_LoadFromStream(displist* list, IStream* stream);
// The 64-bit RIFF forms: display-list GUID chunks padded to 8, the padding
// counted in the size field.
HRESULT KVAPI displist64_Save(HANDLE file, displist* list, uint64_t* written);
HRESULT KVAPI displist64_Load(HANDLE file, displist* list, int64_t* remaining);
#ifdef _WIN32
// A GDI bitmap from the CF_DIB item of a RIFF file, or null.
HBITMAP KVAPI displist_CreateBitmapFromFile(const wchar_t* path);
#endif

KV_EXTERN_C_END

// Library-internal helpers for packed DIBs (header, colour table, bits).
// Bytes of the colour table after a packed DIB's header.
DWORD DibColorTableSize(const void* dib);
// True when a packed DIB of size bytes holds its header, colour table (and
// BI_BITFIELDS masks) and all of its bits, with a sane geometry.
bool DibIsWhole(const void* dib, DWORD size);
#ifdef _WIN32
// A device-dependent bitmap of the screen from a packed DIB, with the palette
// selected and realised when one is given; null on failure.
HBITMAP CreateBitmapFromDib(const void* dib, HPALETTE palette);
#endif
