// The COM plumbing every object of the library writes the same way: answering
// QueryInterface from a list of (interface id, face) pairs, and the
// interlocked reference count that deletes its object at zero.
//
// An object keeps its own count member and its own AddRef/Release (some
// counts start at 0, some at 1, some are plain because one thread drives the
// object, some guard against a release too many); these helpers are what
// those methods call.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <initializer_list>

#include "kvguid.h"

namespace kvcom {

// Interface ids are compared byte for byte, as every id of the system is.
inline bool SameIid(REFIID a, REFIID b) { return KvGuidEquals(a, b); }

// One interface an object answers: its id and the pointer handed out for it
// (the object cast to that interface, so that the pointer's virtual table is
// the interface's). A null face is an interface the object does not offer
// at the moment.
struct Face {
  const IID& iid;
  void* face;
};

// The face that answers riid, or null.
inline void* FindFace(REFIID riid, std::initializer_list<Face> faces) {
  for (const Face& f : faces)
    if (f.face && SameIid(riid, f.iid)) return f.face;
  return nullptr;
}

// QueryInterface over a list of faces, in order. A matching id: *ppv = its
// face, one reference added through the object's AddRef, S_OK. Any other id:
// *ppv = null and E_NOINTERFACE (an object with more to ask, such as an outer
// object, asks it on that result). A null ppv: E_POINTER.
template <class Object>
HRESULT QueryFaces(Object* self, REFIID riid, void** ppv, std::initializer_list<Face> faces) {
  if (!ppv) return E_POINTER;
  *ppv = FindFace(riid, faces);
  if (!*ppv) return E_NOINTERFACE;
  self->AddRef();
  return S_OK;
}

// Interlocked counting for objects that other threads may hold. ReleaseRef
// deletes the object when the count reaches 0 and returns the new count.
inline ULONG AddRefCount(volatile LONG& count) { return static_cast<ULONG>(InterlockedIncrement(&count)); }

template <class Object>
ULONG ReleaseRef(Object* self, volatile LONG& count) {
  const LONG n = InterlockedDecrement(&count);
  if (n == 0) delete self;
  return static_cast<ULONG>(n);
}

}  // namespace kvcom
