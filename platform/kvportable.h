// The one Win32 seam of code that also builds natively (codec, MP4 library,
// audio kernels): the few Win32 types and result codes that code needs. On
// Windows it maps to the real definitions; elsewhere it defines the same
// layouts so that records and results are identical on both builds.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int32_t HRESULT;
typedef char16_t WCHAR;
typedef uint32_t LCID;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
#define REFGUID const GUID&
#define REFIID const IID&
#endif  // _WIN32

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

#include "kvguid.h"
#include "kvresult.h"
