// Resource loading through a language handle, so that a translated resource
// in the satellite module wins over the module's own; menu tidying (culling,
// greying, cleaning separators, expanding tokens); dialog sizes predicted
// from templates.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

#include <commctrl.h>

KV_EXTERN_C_BEGIN

HRSRC KVAPI KvFindResource(HKVLANG lang, LPCWSTR name, LPCWSTR type);
HRSRC KVAPI KvFindResourceMulti(HKVLANG lang, LPCWSTR type, const LPCWSTR* names, int count, int* index);
HMODULE KVAPI KvFindResInstance(HKVLANG lang, LPCWSTR name, LPCWSTR type);
HGLOBAL KVAPI KvLoadResource(HKVLANG lang, HRSRC resource);
DWORD KVAPI KvSizeofResource(HKVLANG lang, HRSRC resource);
HGLOBAL KVAPI KvLoadResourceCustom(HKVLANG lang, LPCWSTR name, LPCWSTR type, DWORD* size);
HACCEL KVAPI KvLoadAccelerators(HKVLANG lang, LPCWSTR name);
HMENU KVAPI KvLoadMenu(HKVLANG lang, LPCWSTR name);
HMENU KVAPI KvLoadCulledMenu(HKVLANG lang, LPCWSTR name, const UINT* ids, int count, BOOL clean);
HWND KVAPI KvCreateDialogParam(HKVLANG lang, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param);
INT_PTR KVAPI KvDialogBoxParam(HKVLANG lang, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param);
HWND KVAPI KvCreateDialogIndirectParam(HKVLANG lang, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC proc,
                                       LPARAM param);
INT_PTR KVAPI KvDialogBoxIndirectParam(HKVLANG lang, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC proc,
                                       LPARAM param);
HBITMAP KVAPI KvLoadBitmap(HKVLANG lang, LPCWSTR name);
HICON KVAPI KvLoadIcon(HKVLANG lang, LPCWSTR name);
HANDLE KVAPI KvLoadImage(HKVLANG lang, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
HIMAGELIST KVAPI KvImageList_LoadImage(HKVLANG lang, LPCWSTR bitmap, int cx, int grow, COLORREF mask, UINT type,
                                       UINT flags);
HCURSOR KVAPI KvLoadCursor(HKVLANG lang, LPCWSTR id);

BOOL KVAPI KvCullMenu(HMENU menu, const UINT* ids, int count, BOOL clean);
BOOL KVAPI KvGrayMenu(HMENU menu, const UINT* ids, int count);
int KVAPI KvGrayAllMenuItems(HMENU menu);
int KVAPI KvEnableAllMenuItems(HMENU menu);
BOOL KVAPI KvCleanMenu(HMENU menu, HMENU parent, int position);
BOOL KVAPI KvFindSubMenu(HMENU menu, UINT id, HMENU* holder, int* position);
HMENU KVAPI KvGetSubmenuByID(HMENU menu, UINT id, int* position);
BOOL KVAPI KvMenuReplaceTokens(HMENU menu);

BOOL KVAPI KvGetDialogUnitsForFont(const wchar_t* face, int points, int weight, BYTE charset, BYTE italic,
                                   SIZE* units);
BOOL KVAPI KvGetDialogSizeIndirect(HKVLANG lang, const void* dialogTemplate, SIZE* size);
BOOL KVAPI KvGetDialogSize(HKVLANG lang, WORD id, LPVOID reserved, LPARAM param, SIZE* size);

KV_EXTERN_C_END
