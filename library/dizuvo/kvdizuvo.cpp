// Handle duplication between processes.
#include "kvdizuvo.h"

namespace {

// The calling thread's last error as an HRESULT; a value that is not positive
// is no Win32 error code and says nothing about the failure: E_FAIL.
HRESULT LastErrorResult() {
  DWORD error = GetLastError();
  if (static_cast<LONG>(error) <= 0) return E_FAIL;
  return HRESULT_FROM_WIN32(error);
}

}  // namespace

extern "C" HRESULT KVAPI DuplicateHandleFromProcessId(HANDLE handle, DWORD processId, HANDLE* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HANDLE owner = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (!owner) return LastErrorResult();
  HRESULT hr = S_OK;
  if (!DuplicateHandle(owner, handle, GetCurrentProcess(), out, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    *out = nullptr;
    hr = LastErrorResult();
  }
  CloseHandle(owner);
  return hr;
}
