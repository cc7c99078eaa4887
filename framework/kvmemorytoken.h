// A host's sample buffer named by a memory token, made addressable in this
// process for the length of one request.
//
// Three cases: the buffer is in this process (used in place); it is a file
// mapping of another process (the mapping handle is duplicated and a view
// mapped); it is plain memory of another process (a private copy is read in,
// and written back whole when the mapping is disposed).
#pragma once

#include <windows.h>

#include "kvfileio.h"

class CMappingOfKvMemoryToken {
 public:
  // Never fails loudly: when the buffer cannot be reached, Pointer() is null
  // and DataSize() is -1. The second argument is not used.
  CMappingOfKvMemoryToken(const _kvmemorytoken& token, DWORD ignored);
  ~CMappingOfKvMemoryToken();

  // Two objects must never own the same view, copy or handle.
  CMappingOfKvMemoryToken(const CMappingOfKvMemoryToken&) = delete;
  CMappingOfKvMemoryToken& operator=(const CMappingOfKvMemoryToken&) = delete;

  // S_OK and the pointer, or E_FAIL and null.
  long GetPointer(void** out);
  // The token's size in bytes, or -1 when the buffer could not be reached.
  long DataSize();
  // The buffer in this process, or null.
  void* Pointer();

  // Ends the mapping: unmaps a view, or writes a private copy back to the
  // owner process and frees it. S_OK, or a failure when the owner could not
  // be given its data back. A second call does nothing and answers S_OK.
  long Dispose();
  long Close();

 private:
  _kvmemorytoken token_;
  void* pointer_;        // the data (view + offset, or the private copy)
  void* view_;           // base of the mapped view
  HANDLE localMapping_;  // duplicated mapping handle, or INVALID_HANDLE_VALUE
  BYTE mappedView_;
  BYTE localCopy_;
  BYTE failed_;
  BYTE writeBack_;
};
