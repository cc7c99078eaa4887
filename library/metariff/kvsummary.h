// Summary item lists: a file's summary texts (title, artist, subject ...),
// each under a four-character id as in a RIFF "LIST" "INFO" list.
//
// The item array and every text are movable global memory blocks (locked;
// found again from the pointer), owned by the list. On disk, "LIST" "INFO"
// holds each text in the ANSI code page with its terminating zero, "LIST"
// "UNFO" as UTF-16 with its terminator; sub-chunk sizes are unpadded, the
// data padded to even.
#pragma once

#include "kvapi.h"
#include "kvfile.h"

typedef struct KvSummaryItem {
  DWORD id;       // four-character code, first character in the low byte
  WCHAR* text;  // zero-terminated; may be null
} KvSummaryItem;

typedef struct KvSummary {
  DWORD count;
  KvSummaryItem* items;
} KvSummary;

KV_EXTERN_C_BEGIN

// Releases every text and the array: count 0, array null.
HRESULT KVAPI KvSummary_Free(KvSummary* s);
// Index of the first item with id, or 0x8004E00A.
HRESULT KVAPI KvSummary_GetItemIndex(const KvSummary* s, DWORD id);
// Text of the first item with id, or null.
const WCHAR* KVAPI KvSummary_GetItemText(const KvSummary* s, DWORD id);
// Sets (or, with a null text, empties) the text of id, appending a new item
// for a new id. Id 0: E_INVALIDARG.
HRESULT KVAPI KvSummary_SetItem(KvSummary* s, DWORD id, const WCHAR* text);
// dst becomes a deep copy of src; dst must not own anything (it is not
// released). On a failure dst is freed.
HRESULT KVAPI KvSummary_Copy(KvSummary* dst, const KvSummary* src);
// 1 when both lists hold equal texts position by position (ids are not compared).
BOOL KVAPI KvSummary_Compare(const KvSummary* a, const KvSummary* b);
// Merges src into dst: ids already in dst take src's text only with replace;
// with move, texts move and src ends empty.
HRESULT KVAPI KvSummary_Merge(KvSummary* dst, KvSummary* src, BOOL replace, BOOL move);
// Reads the sub-chunks of an "INFO" ("UNFO") list; the file stands after the
// list type and *listBytes gives the bytes of the sub-chunks. The partial
// list is freed on a failure; a sub-chunk running past the list or the file
// is refused (0x8004E008) before anything is allocated for it.
HRESULT KVAPI KvSummary_Load(HANDLE file, KvSummary* out, DWORD* listBytes);
HRESULT KVAPI KvSummary_LoadUNFO(HANDLE file, KvSummary* out, DWORD* listBytes);
// Writes "LIST" "INFO" ("UNFO") at the current position; *written receives
// the bytes written (list size + 8). An empty list writes nothing. The
// caller accounts for the bytes in the enclosing RIFF size.
HRESULT KVAPI KvSummary_Save(HANDLE file, const KvSummary* s, DWORD* written);
HRESULT KVAPI KvSummary_SaveUNFO(HANDLE file, const KvSummary* s, DWORD* written);
// One text of the "INFO" list found from the current position within
// listBytes; buf always ends in a zero. The file position is kept.
HRESULT KVAPI KvSummary_GetStringFromFile(HANDLE file, DWORD id, WCHAR* buf, int cch, DWORD listBytes);

KV_EXTERN_C_END
