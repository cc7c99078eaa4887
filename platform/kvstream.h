// The byte stream of the plug-in interfaces (IStream) for code that also
// builds natively: on Windows the system's interface; natively a stand-in
// with the three operations that code uses (read, write, seek), the same
// arguments and results, and no reference counting. Header-only.
#pragma once

#include "kvportable.h"

#ifdef _WIN32
#include <objidl.h>
#else

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  ULONGLONG QuadPart;
};

#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif

enum { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

class IStream {
 public:
  virtual ~IStream() = default;
  // S_OK with *got == n, S_FALSE (or S_OK) with fewer at the end.
  virtual HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG n, ULONG* got) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG n, ULONG* put) = 0;
  virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) = 0;
};
#endif  // !_WIN32
