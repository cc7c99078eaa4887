// Render templates from files and streams, template identity by MD5, the
// render class's part in loading, string helpers of file classes, the global
// template cache and the template editor entry of the file-IO manager.
// Windows build only.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

#include "kvdizuvomanager.h"
#include "kvfileio.h"
#include "kvlang.h"
#include "kvlist.h"
#include "kvtemplate.h"
#include "kvtemplate_v1.h"

// Reads a whole template file from an open handle (from its start) and
// checks it. A V1 record is returned as read, for the caller to lift.
// 0x8004E00B: empty, 4 GiB or more, or not a valid template; 0x8004E008: a
// failed read. *out is null on failure.
HRESULT KVAPI KvFio_LoadTemplateData(tagKVTEMPLATExV2** out, HANDLE file);
// Reads one record from a stream, lifting V1 to V2. With a render class and a
// non-empty codec block the lifted record gets the class's renderer GUID, a
// CRC-made template GUID and is offered to the class's ConvertTemplate (the
// record as the first argument, reason 1 as the second).
HRESULT KVAPI KvFio_LoadTemplateData(tagKVTEMPLATExV2** out, IStream* stream, DWORD maxVersion,
                                     IKvRenderFileClass* renderClass);
extern "C" {

// Reads a V1 record's stream form into `v1`, whose pAudio and pVideo blocks
// the caller provides; the format and codec-data blocks it allocates are freed
// with free(). Without headerRead the two header words are read first.
HRESULT KVAPI KvFio_LoadTemplateDataV1(KVTEMPLATExV1* v1, IStream* stream, DWORD maxVersion, BOOL headerRead);
// Loads a template file by path (V1 files are lifted). 0x8004E007 when the
// file cannot be opened.
HRESULT KVAPI KvFio_LoadRawUserTemplate(IKvRenderFileClass* renderClass, const wchar_t* path,
                                        tagKVTEMPLATExV2** out);
// Loads the render class's legacy template file number `index`; E_UNEXPECTED
// when its path cannot be built.
HRESULT KVAPI KvFio_LoadRawLegacyTemplate(IKvRenderFileClass* renderClass, long index, tagKVTEMPLATExV2** out);
// The render class's project-default form of `tmpl` (its ConvertTemplate with
// reason 2); *out receives what the class returns.
HRESULT KVAPI KvFio_MakeProjectDefaultTemplate(IKvRenderFileClass* renderClass, const tagKVTEMPLATExV2* tmpl,
                                               tagKVTEMPLATExV2** out);

}  // extern "C"

// The same as KvFio_ReleaseTemplate(tmpl); the interface is not used.
void KVAPI KvFio_ReleaseTemplate(IKvDizuVOMgrForApp* manager, tagKVTEMPLATExV2* tmpl);
void KVAPI KvFio_ReleaseTemplate(IKvRenderFileClass* renderClass, tagKVTEMPLATExV2* tmpl);

// Reads a template-list stream from its start (a 12-byte header whose third
// word is the template count, then the records one after another) and appends
// each record to `list`: a copy of its bytes for a list that allocates its
// items, else the record's pointer in a pointer-wide slot (the list's owner
// frees it with KvFio_ReleaseTemplate). A malformed record: 0x8004E00B, with
// the records before it kept.
extern "C" HRESULT KVAPI KvFio_AddTemplatesToListFromIStream(tKVLIST* list, IStream* stream);

// ---- settings through the file-IO manager --------------------------------------

// Forward to the manager's metric operations of the same names. The number
// getter gives `defaultValue` when the manager fails; the binary getter the
// byte count (also when the buffer is too small) or 0; the string getter the
// length, the length + 1 when the buffer is too small, or 0.
extern "C" {
DWORD KVAPI KvFioMgr_GetMetric(IKvDizuVOManager* manager, int id, DWORD defaultValue);
HRESULT KVAPI KvFioMgr_SetMetric(IKvDizuVOManager* manager, int id, DWORD value);
DWORD KVAPI KvFioMgr_GetMetricString(IKvDizuVOManager* manager, int id, wchar_t* buf, DWORD cch);
HRESULT KVAPI KvFioMgr_SetMetricString(IKvDizuVOManager* manager, int id, const wchar_t* text);
HRESULT KVAPI KvFioMgr_DeleteMetric(IKvDizuVOManager* manager, int id, DWORD type);
DWORD KVAPI KvFioMgr_GetMetricBinary(IKvDizuVOManager* manager, int id, void* buf, DWORD cb);
HRESULT KVAPI KvFioMgr_SetMetricBinary(IKvDizuVOManager* manager, int id, const DWORD* words, DWORD count);
}  // extern "C"

// ---- strings of file classes ---------------------------------------------------

// One row of a file class's information-text map: a string-resource id (below
// 65536) or the address of a literal text.
struct FILECLASS_INFO_STRING_MAP {
  KVFIO_FILECLASS_INFO_TEXT id;
  UINT_PTR text;
};

extern "C" {

// One new BSTR per requested id from the map (null when the map has no row
// for it); ids 2 and 5 get `suffix` appended when it is not empty. On
// failure every string made so far is freed again.
HRESULT KVAPI KvFio_FillBstrArrayFromStringResourceMap(HKVLANG lang, const KVFIO_FILECLASS_INFO_TEXT* ids,
                                                       ULONG count, BSTR* out, const FILECLASS_INFO_STRING_MAP* map,
                                                       ULONG mapCount, const wchar_t* suffix);
// Frees each non-null string of the array and sets it to null.
void KVAPI KvFio_FreeBstrArray(BSTR* array, ULONG count);
// A new BSTR copy of `s` (empty for null); null when memory runs out.
BSTR KVAPI KvFio_DupBstr(const wchar_t* s);

}  // extern "C"

// ---- global template cache -----------------------------------------------------

// Templates kept for the process, one copy per template GUID.
class CKvGlobalTemplateCache {
 public:
  // Keeps a copy of `tmpl`, replacing an entry with the same template GUID.
  static HRESULT Add(const tagKVTEMPLATExV2* tmpl);
  // A copy of the entry with this template GUID; S_FALSE and null when none.
  static HRESULT Find(const GUID& templateId, tagKVTEMPLATExV2** copy);
  static ULONG Count();
  // Frees every entry (the file-IO manager's shutdown).
  static void Clear();
};

// ---- template editing ----------------------------------------------------------

// What the file-IO manager hands its template editor.
struct _FIOEDITTEMPLATE {
  HWND owner;
  IKvRenderFileClass* renderClass;
  DWORD value;
  LONG placement[7];
  DWORD flags;                      // in/out
  IStream* templateList;            // or null
  const tagKVTEMPLATExV2* current;
  tagKVTEMPLATExV2* result;         // out
};

// Edits a template through the file-IO manager. This module carries no
// template pages: E_NOTIMPL (E_INVALIDARG for a null argument).
extern "C" HRESULT KVAPI KvFioMgr_EditTemplate(IKvDizuVOManager* manager, _FIOEDITTEMPLATE* edit);
