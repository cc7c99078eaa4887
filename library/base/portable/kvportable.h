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

#define MAKE_KV_HRESULT(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
#define S_OK MAKE_KV_HRESULT(0x00000000u)
#define S_FALSE MAKE_KV_HRESULT(0x00000001u)
#define E_NOTIMPL MAKE_KV_HRESULT(0x80004001u)
#define E_NOINTERFACE MAKE_KV_HRESULT(0x80004002u)
#define E_POINTER MAKE_KV_HRESULT(0x80004003u)
#define E_ABORT MAKE_KV_HRESULT(0x80004004u)
#define E_FAIL MAKE_KV_HRESULT(0x80004005u)
#define E_UNEXPECTED MAKE_KV_HRESULT(0x8000FFFFu)
#define E_ACCESSDENIED MAKE_KV_HRESULT(0x80070005u)
#define E_HANDLE MAKE_KV_HRESULT(0x80070006u)
#define E_OUTOFMEMORY MAKE_KV_HRESULT(0x8007000Eu)
#define E_INVALIDARG MAKE_KV_HRESULT(0x80070057u)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#endif  // _WIN32

// Byte-for-byte GUID equality usable on both builds.
inline bool KvGuidEquals(const GUID& a, const GUID& b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(&b);
  for (int i = 0; i < 16; ++i)
    if (p[i] != q[i]) return false;
  return true;
}

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
