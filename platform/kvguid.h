// GUID helpers usable on both builds: byte-for-byte equality and the all-zero
// test. Every comparison of ids in the system goes through these.
#pragma once

#include "kvportable.h"

inline bool KvGuidEquals(const GUID& a, const GUID& b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(&b);
  for (int i = 0; i < 16; ++i)
    if (p[i] != q[i]) return false;
  return true;
}

// True for the all-zero id (an unset slot).
inline bool KvGuidIsNull(const GUID& id) { return KvGuidEquals(id, GUID()); }
