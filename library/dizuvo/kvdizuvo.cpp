// Handle duplication between processes.
#include "kvdizuvo.h"

namespace {

// The calling thread's last error as an HRESULT; a value that is not positive
// passes unchanged (it is not a Win32 error code).
HRESULT LastErrorResult() {
  DWORD error = GetLastError();
  if (static_cast<LONG>(error) <= 0) return static_cast<HRESULT>(error);
  return HRESULT_FROM_WIN32(error);
}

}  // namespace

extern "C" HRESULT KVAPI DuplicateHandleFromProcessId(HANDLE handle, DWORD processId, HANDLE* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HANDLE owner = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (!owner) {
    HRESULT hr = LastErrorResult();
    return hr == S_OK ? E_FAIL : hr;
  }
  HRESULT hr = S_OK;
  if (!DuplicateHandle(owner, handle, GetCurrentProcess(), out, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    *out = nullptr;
    hr = LastErrorResult();
    if (hr == S_OK) hr = E_FAIL;
  }
  CloseHandle(owner);
  return hr;
}
