// Quick media-file identification: which of some fifty media formats a file
// is, from its first bytes and its name's extension, without loading any
// plug-in. The manager uses the answer to choose the readers to try first.
#pragma once

#include "kvapi.h"
#include "kvfileid_rules.h"

// Request and result of an identification. The source is the open file when
// `file` is a valid handle, else the file at `path` when one is given, else
// `buffer`. The extension is taken from `path` when one is given.
typedef struct KVFILEIDINFO {
  DWORD flags;                              // KVFILEID_F_*
  HANDLE file;                              // open file, or INVALID_HANDLE_VALUE
  const wchar_t* path;                      // file path, or null
  const BYTE* buffer;                       // the file's first bytes when there is no file
  DWORD bufferSize;                         // bytes in buffer
  KVFILEID_IDENTIFIED_TYPE identifiedType;  // result: KVFILEID_NOT_IDENTIFIED when nothing matched
} KVFILEIDINFO;

// The base form: S_OK with *found = 1 when a format was identified (its code
// in info->identifiedType), S_OK with *found = 0 when not; E_INVALIDARG for a
// null argument or an empty buffer source; a file that cannot be opened,
// positioned or read gives the Win32 error translated by the error handler.
HRESULT KVAPI KvIsQuicklyIdentifiableMediaFileFormat(KVFILEIDINFO* info, int* found);
// Short forms: TRUE when a format was identified; its code goes to `type`
// when given.
BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(HANDLE file, DWORD flags, KVFILEID_IDENTIFIED_TYPE* type);
BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(const wchar_t* path, DWORD flags, KVFILEID_IDENTIFIED_TYPE* type);
BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(HANDLE file, const wchar_t* path, DWORD flags,
                                                  KVFILEID_IDENTIFIED_TYPE* type);
BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(const void* buffer, DWORD size, DWORD flags,
                                                  KVFILEID_IDENTIFIED_TYPE* type);
