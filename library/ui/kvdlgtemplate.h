// Dialogs built in memory: compact description records turned into Win32
// dialog templates (DLGTEMPLATE and DLGTEMPLATEEX), templates read back into
// the same records, dialog resources found through a language handle, and the
// pixel size a description gives.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

// A string field holds a string-table id (below 0x10000, looked up through the
// language handle) or a pointer to a zero-terminated UTF-16 string; a class or
// menu field below 0x10000 is an ordinal.
#pragma pack(push, 1)
typedef struct _kvdlghdrcreate {
  DWORD style;  // DS_SETFONT asks for a font
  DWORD exStyle;
  WORD count;  // controls
  short x, y, cx, cy;  // dialog units
  WORD menu;  // ordinal, 0 = none
  WORD windowClass;  // ordinal, 0 = none
  WORD reserved1;
  const wchar_t* title;
  short pointSize;
  WORD reserved2;
  const wchar_t* face;  // 0 = "MS Shell Dlg" at 8 points
} _kvdlghdrcreate;

typedef struct _kvdlgctrlcreate {
  const wchar_t* className;  // ordinal (0x80 button, 0x81 edit, 0x82 static, ...) or name
  const wchar_t* text;  // 0 = empty
  WORD id;
  short x, y, cx, cy;
  WORD reserved;
  DWORD exStyle;
  DWORD style;
} _kvdlgctrlcreate;

typedef struct _kvdlghdrcreateex {
  const wchar_t* title;
  DWORD style;
  DWORD exStyle;
  const wchar_t* menu;  // ordinal or name, 0 = none
  const wchar_t* windowClass;  // ordinal or name, 0 = none
  WORD count;
  short x, y, cx, cy;
  short pointSize;
  const wchar_t* face;  // 0 = the default font
  WORD weight;
  BYTE italic;
  BYTE charset;
  DWORD helpId;
} _kvdlghdrcreateex;

typedef struct _kvdlgctrlcreateex {
  const wchar_t* className;
  const wchar_t* text;  // string id, pointer or 0
  WORD id;
  short x, y, cx, cy;
  WORD reserved;
  DWORD exStyle;
  DWORD style;
  DWORD helpId;
  DWORD dataSize;  // creation data, in bytes
  const void* data;
} _kvdlgctrlcreateex;
#pragma pack(pop)

// Templates hold at most this many controls; further ones are left out.
#define KV_DLG_MAX_CONTROLS 256

KV_EXTERN_C_BEGIN

// A DLGTEMPLATE in a zero-initialised, locked global block that the caller
// unlocks and frees (GlobalHandle, GlobalUnlock, GlobalFree); null when memory
// runs out.
const DLGTEMPLATE* KVAPI KvCreateDialogTemplate(HKVLANG lang, const _kvdlghdrcreate* header,
                                                const _kvdlgctrlcreate* controls);
// A DLGTEMPLATEEX likewise; size (optional) receives its length in bytes (0
// when it does not fit 16 bits).
const DLGTEMPLATE* KVAPI KvCreateDialogTemplateEx(HKVLANG lang, const _kvdlghdrcreateex* header,
                                                  const _kvdlgctrlcreateex* controls, WORD* size);
// Reads a DLGTEMPLATE or DLGTEMPLATEEX of size bytes into one movable global
// block (locked; the caller frees it): the header record, one control record
// per control right after it, then copies of every string and creation-data
// block. Returns 44 + 40 x controls, or 0 for a null or malformed template, a
// size of 0 or less, a null out, or when memory runs out.
long KVAPI KvMapDialogTemplate(const DLGTEMPLATE* dialogTemplate, long size, _kvdlghdrcreateex** out);
// Finds and locks a dialog resource of the language handle; its size, or 0
// with a null out when it is missing.
long KVAPI KvDialogTemplateFromRCID(HKVLANG lang, LPCWSTR name, const DLGTEMPLATE** out);
// The size in pixels of the dialog a description gives. Returns 1.
BOOL KVAPI KvGetDialogSizeEx(HKVLANG lang, const _kvdlghdrcreateex* header, SIZE* size);

KV_EXTERN_C_END

#ifdef __cplusplus
// The size in pixels of the dialog a description gives. Returns 1. (Exported
// beside the dialog-resource form of the same name, which takes a resource
// id: this one is _KvGetDialogSize@12.)
#ifdef _WIN64
BOOL KVAPI KvGetDialogSize(HKVLANG lang, const _kvdlghdrcreate* header, SIZE* size) __asm__("KvGetDialogSize@12");
#else
BOOL KVAPI KvGetDialogSize(HKVLANG lang, const _kvdlghdrcreate* header, SIZE* size) __asm__("_KvGetDialogSize@12");
#endif
#endif
