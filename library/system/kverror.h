// The error handler: result codes to user-facing text (registered tables, the
// built-in table, lead sentences naming the failed operation), a details
// report filled by the code that fails, the error message box, translation of
// Win32 and common-dialog errors, and the crash path (exception filter and
// exception-record dump).
#pragma once

#include "kvapi.h"

#include <oleauto.h>

// One row of an error table: the text word is a library string id (1-65535),
// a pointer to a wide text (above 65535), or 0 for none.
typedef struct KvErrorTableEntry {
  HRESULT code;
  UINT_PTR text;
} KvErrorTableEntry;

// The result codes are declared in kvresult.h.

// Library string ids of the error handler.
#define IDS_KV_LEAD_DEFAULT 48160
#define IDS_KV_MESSAGE_MISSING 48401
#define IDS_KV_WARNING_PREFIX 48402

// Sizes of the error state.
#define KV_ERROR_MESSAGE_CHARS 2048
#define KV_ERROR_DETAILS_CHARS 8192
#define KV_ERROR_MAX_TABLES 32

// Sections of the exception-record dump.
#define KV_DUMP_EXCEPTION 1
#define KV_DUMP_MODULE 2
#define KV_DUMP_REGISTERS 4
#define KV_DUMP_CODE_BYTES 8
#define KV_DUMP_STACK 16
#define KV_DUMP_THREAD 32

KV_EXTERN_C_BEGIN

int KVAPI KvErrorHandler_AddErrorTable(const KvErrorTableEntry* table, int count);
const wchar_t* KVAPI KvErrorHandler_GetHresultString(HRESULT code);
const wchar_t* KVAPI KvErrorHandler_GetErrorMessage(UINT_PTR leadId, HRESULT code, const wchar_t* insert);
BSTR KVAPI KvErrorHandler_ComposeErrorText(UINT_PTR leadId, HRESULT code, const wchar_t* insert);
int KVAPI KvErrorHandler_MsgBox(HWND owner, DWORD flags, UINT_PTR leadId, HRESULT code, const wchar_t* insert,
                                BOOL warning);
int KVAPI KvErrorHandler_MsgBoxText(HWND owner, DWORD flags, const wchar_t* text, BOOL warning);
HRESULT __cdecl KvErrorHandler_DetailsAddString(HRESULT code, const wchar_t* format, ...);
HRESULT KVAPI KvErrorHandler_DetailsInit(void);
const wchar_t* KVAPI KvErrorHandler_DetailsInfo(HRESULT* lastError, int* count, DWORD* thread);
HRESULT KVAPI KvErrorHandler_GetLastError(void);
HRESULT KVAPI KvErrorHandler_TranslateWin32Error(DWORD error);
HRESULT KVAPI KvErrorHandler_TranslateCommDlgError(DWORD error);
LONG KVAPI KvErrorHandler_ExceptionFilter(EXCEPTION_POINTERS* pointers, const char* threadName);
int KVAPI KvErrorHandler_DumpExceptionRecord(char* buffer, int size, const char* threadName,
                                             EXCEPTION_POINTERS* pointers, DWORD sections);
int KVAPI KvErrorHandler_DumpHex(char* buffer, int size, const void* data, int count);
int KVAPI KvErrorHandler_DumpHexDWords(char* buffer, int size, const DWORD* data, int count);

KV_EXTERN_C_END
