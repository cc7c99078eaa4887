// An interface pointer made callable from any thread: it is registered once in
// the COM Global Interface Table, and each calling thread fetches its own
// proxy from the table on its first call and keeps it in a per-thread cache.
// The registering thread starts as the "last pair" and uses the pointer it
// registered directly.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "kvthreadptrmap.h"

// A fresh Global Interface Table pointer (the caller releases it), or null.
IGlobalInterfaceTable* KvGetGlobalInterfaceTable();

class CKvGITHolder {
 public:
  // `iid` is the interface the registered pointer has; it is used for every
  // registration and fetch. Without the last-pair shortcut every thread,
  // the registering one included, goes through the map.
  explicit CKvGITHolder(const IID& iid, bool lastPairShortcut = true);
  ~CKvGITHolder();
  CKvGITHolder(const CKvGITHolder&) = delete;
  CKvGITHolder& operator=(const CKvGITHolder&) = delete;

  // Registers `pointer` (revoking an earlier registration first; null only
  // revokes). The holder keeps a reference of its own to `pointer` for the
  // registering thread's direct use: the table's registration of a proxy does
  // not keep that proxy object alive. S_OK, or the failure of the table, in
  // which case nothing is registered. Not locked: runs while no other thread
  // can reach the holder.
  HRESULT Register(IUnknown* pointer);
  // Releases every cached proxy, revokes the registration and frees the map.
  // Not locked, like Register.
  void Revoke();

  // The pointer to use on the calling thread, without a new reference (the
  // holder keeps it until Revoke). On failure *out is null and the result
  // says why: E_UNEXPECTED with nothing registered, or the table's failure
  // (for example CO_E_NOTINITIALIZED on a thread without COM). A failed fetch
  // is not cached, so a later call from the same thread tries again.
  HRESULT GetForCurrentThread(IUnknown** out);

  // The calling thread's pointer `stale` could not reach the object from this
  // thread's apartment (its apartment has gone, or the thread id belonged to
  // an ended thread of another apartment): the thread's entry takes a fresh
  // proxy from the table, which *out receives. On failure the entry is left
  // as it was and *out is null.
  HRESULT RefreshForCurrentThread(IUnknown* stale, IUnknown** out);

  bool registered() const { return cookie_ != 0; }
  DWORD cookie() const { return cookie_; }
  const IID& iid() const { return *iid_; }
  // For tests: the cache and the last pair.
  const CKvThreadPointerMap& map() const { return map_; }
  DWORD lastThreadId() const { return lastThreadId_; }
  IUnknown* lastPointer() const { return lastPointer_; }

 private:
  DWORD cookie_ = 0;
  CKvThreadPointerMap map_;
  CRITICAL_SECTION lock_;
  bool lockReady_ = false;
  DWORD lastThreadId_ = 0;
  IUnknown* lastPointer_ = nullptr;
  IUnknown* registered_ = nullptr;  // the registered pointer, referenced
  const IID* iid_;
  bool lastPairShortcut_;
};
