// The file-IO plug-in manager, as far as plug-ins call it: its interface
// (declared in kvdizuvomanager.h) and the handle duplication between a
// manager's process and a plug-in's.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvdizuvomanager.h"

KV_EXTERN_C_BEGIN
// Duplicates `handle`, valid in process `processId`, into this process with
// the same access (not inheritable). S_OK, or the Win32 error as an HRESULT.
HRESULT KVAPI DuplicateHandleFromProcessId(HANDLE handle, DWORD processId, HANDLE* out);
KV_EXTERN_C_END
