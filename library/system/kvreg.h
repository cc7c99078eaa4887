// Registry helpers: sub-key counts, recursive deletion, the machine-hive
// write test, in-process server registration, self-registration of other
// modules, the shared locale value, the explorer's hide-extensions setting
// and the text form of GUIDs.
#pragma once

#include "kvapi.h"

// The shared-information key under HKEY_LOCAL_MACHINE.
#define KV_REG_COMPANY_KEY L"Software\\Calbrey"
#define KV_REG_SHARED_INFO L"Shared Information"

KV_EXTERN_C_BEGIN

DWORD KVAPI KvRegGetSubKeyCount(HKEY root, const wchar_t* subKey, DWORD* longestName);
BOOL KVAPI KvRegDeleteKey(HKEY root, const wchar_t* subKey);
BOOL KVAPI KvIsPowerUser(void);
HRESULT KVAPI KvRegisterServer(HMODULE module, const GUID* clsid, const wchar_t* description, BOOL doRegister);
HRESULT KVAPI KvSelfRegister_IsSupported(const wchar_t* file);
HRESULT KVAPI KvSelfRegister_Register(const wchar_t* file, BOOL unregister);
HRESULT KVAPI KvGuidFromString(const wchar_t* text, GUID* guid);
HRESULT KVAPI KvGuidToString(const GUID* guid, wchar_t* out, int cch);
HRESULT KVAPI KvSetLocale(LCID lcid);
LCID KVAPI KvGetLocale(void);
BOOL KVAPI KvIsExplorerFileExtHidden(void);

KV_EXTERN_C_END

// Library-internal: the shared-information key path ("Software\\Calbrey\\Shared Information").
const wchar_t* KvReg_SharedInfoPath();
