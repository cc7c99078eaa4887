// The file-dialog filter builder: turns the file types the plug-ins offer
// (or entries a host adds) into the texts an open or save dialog needs: the
// common-dialog filter text (description and pattern pairs, each
// NUL-terminated, with a final NUL), a ';'-separated list of unique patterns,
// and an index map from filter position to the host's value for that entry.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvlist.h"

struct IKvDizuVOMgrForApp;

inline constexpr IID IID_IKvFioFilterBuilder2 = {0xa886d595, 0x5fae, 0x4124, {0x8f, 0x48, 0x4a, 0x23, 0x48, 0x0e, 0xe3, 0x58}};

// Flags of the builder's operations and of its entries.
#define KVFIO_FILTER_LISTMODE_ONLY 0x00000001u   // id list: only what matches (clear: all but what matches)
#define KVFIO_FILTER_NO_PATTERNS 0x00000004u     // entry: the description stands alone
#define KVFIO_FILTER_CAP_260 0x00000020u         // cap a pattern list at 260 characters (NUL counted)
#define KVFIO_FILTER_HIDDEN 0x00000800u          // entry: hidden
#define KVFIO_FILTER_MARK 0x00001000u            // RemoveEntries: mark instead of deleting
#define KVFIO_FILTER_MARKED 0x10000000u          // entry: left out of the current build

// What GetEntry hands out (1080 bytes; zeroed first).
typedef struct KVFIO_FILTER_ENTRY_INFO {
  GUID classId;
  wchar_t description[260];
  wchar_t patterns[260];
  DWORD value;
  DWORD flags;
  BYTE reserved[16];
} KVFIO_FILTER_ENTRY_INFO;
static_assert(sizeof(KVFIO_FILTER_ENTRY_INFO) == 1080, "filter entry info is 1080 bytes");

struct IKvFioFilterBuilder2 : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddPluginTypes(const GUID* ids, int count, DWORD kind, DWORD flags) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE SetTypeFilter(BOOL useValue, DWORD v) = 0;                             // 4
  virtual HRESULT STDMETHODCALLTYPE SetTypeMask(DWORD mask, DWORD value, DWORD invert) = 0;                // 5
  virtual HRESULT STDMETHODCALLTYPE SetRequiredKind(DWORD kind) = 0;                                       // 6
  virtual HRESULT STDMETHODCALLTYPE SetBuildOption(DWORD on) = 0;                                          // 7
  virtual HRESULT STDMETHODCALLTYPE AddEntry(const wchar_t* patterns, const wchar_t* description, DWORD value,
                                             int index, DWORD flags, const GUID* classId) = 0;             // 8
  virtual HRESULT STDMETHODCALLTYPE AddEntryFromParts(const wchar_t* description, DWORD value, int index,
                                                      DWORD flags, const GUID* classId) = 0;               // 9
  virtual HRESULT STDMETHODCALLTYPE AddEntryFromPartsEx(const wchar_t* description, DWORD value, int index,
                                                        DWORD flags, const GUID* classId, const GUID* ids,
                                                        int count) = 0;                                    // 10
  virtual HRESULT STDMETHODCALLTYPE Sort(BOOL descending) = 0;                                             // 11
  virtual HRESULT STDMETHODCALLTYPE GetFilterText(wchar_t* buf, DWORD* size, DWORD* values, int* count) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE GetFilterTextEx(wchar_t* buf, DWORD* size, DWORD* values, int* count,
                                                    const GUID* ids, int idCount, DWORD flags) = 0;        // 13
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;                                                           // 14
  virtual HRESULT STDMETHODCALLTYPE GetEntryCount(int* out) = 0;                                           // 15
  virtual HRESULT STDMETHODCALLTYPE GetEntry(KVFIO_FILTER_ENTRY_INFO* info, int index) = 0;                // 16
  virtual HRESULT STDMETHODCALLTYPE SetEntryHidden(int index, BOOL hide) = 0;                              // 17
  virtual HRESULT STDMETHODCALLTYPE FindEntry(int* index, const GUID* classId) = 0;                        // 18
  virtual HRESULT STDMETHODCALLTYPE RemoveEntries(const GUID* ids, int count, DWORD unused, DWORD flags) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE BuildFilterText(const GUID* ids, int count, DWORD flags) = 0;          // 20
  virtual HRESULT STDMETHODCALLTYPE BuildExtensionList(const GUID* ids, int count, DWORD flags) = 0;       // 21
  virtual HRESULT STDMETHODCALLTYPE GetLengths(DWORD* textLength, DWORD* extensionListLength,
                                               DWORD* mapCount) = 0;                                       // 22
  virtual HRESULT STDMETHODCALLTYPE GetFilterString(wchar_t* buf, int cch) = 0;                            // 23
  virtual HRESULT STDMETHODCALLTYPE GetIndexMap(DWORD* out, int count) = 0;                                // 24
  virtual HRESULT STDMETHODCALLTYPE GetExtensionList(wchar_t* buf, int cch, wchar_t separator) = 0;        // 25
  virtual const wchar_t* STDMETHODCALLTYPE GetFilterTextBuffer() = 0;                                      // 26
  virtual DWORD STDMETHODCALLTYPE GetFilterTextLength() = 0;                                               // 27
  virtual const wchar_t* STDMETHODCALLTYPE GetExtensionListBuffer() = 0;                                   // 28
  virtual DWORD STDMETHODCALLTYPE GetExtensionListLength() = 0;                                            // 29
  virtual const DWORD* STDMETHODCALLTYPE GetIndexMapBuffer() = 0;                                          // 30
  virtual DWORD STDMETHODCALLTYPE GetIndexMapCount() = 0;                                                  // 31
};

__CRT_UUID_DECL(IKvFioFilterBuilder2, 0xa886d595, 0x5fae, 0x4124, 0x8f, 0x48, 0x4a, 0x23, 0x48, 0x0e, 0xe3, 0x58)

// Makes a builder over a manager's plug-in list (not owned, never changed).
// `outer`, when not null, is referenced for the builder's life and answers
// queries for other interfaces. `*out` holds one reference.
HRESULT KvFio_CreateFilterBuilder(IUnknown* outer, tKVLIST* plugins, IKvFioFilterBuilder2** out);

// Sorted (case-insensitive) list of unique extensions (".ext") of a builder's
// entries, inserted as allocated NUL-terminated texts into `out`.
HRESULT KVAPI KvFio_BuildUniqueExtensionList(tKVLIST* out, IKvFioFilterBuilder2* builder, const GUID* ids, int count,
                                             DWORD flags);
// The same over the plug-in types of a manager (kind 16 readers, 32 renderers).
HRESULT KVAPI KvFio_BuildUniqueExtensionList(IKvDizuVOMgrForApp* manager, tKVLIST* out, DWORD kind, DWORD word,
                                             const GUID* ids, int count, DWORD flags);

KV_EXTERN_C_BEGIN
// Inserts one item at `index`. The item is a pointer-sized word, so that a
// list whose slots hold pointers receives all of it; a list with 4-byte slots
// keeps its low 32 bits.
HRESULT KVAPI KvList_InsertItem(tKVLIST* list, int index, DWORD_PTR item);
KV_EXTERN_C_END
