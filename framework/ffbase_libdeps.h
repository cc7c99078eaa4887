// Base-library services that the framework calls, behind one seam. Until the
// base library is linked into the module these are the framework's own
// equivalents; afterwards they forward to the library.
#pragma once

#include <windows.h>

namespace ffbase {

// Bounded copy with the library's rules: cch <= 0 writes nothing and gives 0;
// otherwise at most cch - 1 characters and a terminator; returns the length
// of dst.
inline int StrCpyNLen(wchar_t* dst, const wchar_t* src, int cch) {
  if (!dst || cch <= 0) return 0;
  int n = 0;
  if (src)
    while (n < cch - 1 && src[n]) {
      dst[n] = src[n];
      ++n;
    }
  dst[n] = 0;
  return n;
}

}  // namespace ffbase
