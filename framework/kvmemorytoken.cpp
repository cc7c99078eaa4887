// Memory-token mapping.
#include "kvmemorytoken.h"

#include <new>

namespace {

const DWORD kVmAccess = PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE;

void* TokenAddress(const _kvmemorytoken& token) {
  return reinterpret_cast<void*>(static_cast<UINT_PTR>(token.base) + token.offset);
}

// The last Win32 error as a failure HRESULT (E_FAIL when none is set).
HRESULT FailureFromLastError() {
  DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

CMappingOfKvMemoryToken::CMappingOfKvMemoryToken(const _kvmemorytoken& token, DWORD)
    : token_(token),
      pointer_(nullptr),
      view_(nullptr),
      localMapping_(INVALID_HANDLE_VALUE),
      mappedView_(0),
      localCopy_(0),
      failed_(1),
      writeBack_(0) {
  if (token_.ownerProcessId == GetCurrentProcessId()) {
    pointer_ = TokenAddress(token_);
    failed_ = 0;
    return;
  }

  if (token_.isMapping) {
    HANDLE owner = OpenProcess(PROCESS_DUP_HANDLE, FALSE, token_.ownerProcessId);
    if (!owner) return;
    HANDLE mapping = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(token_.mapping));
    if (!DuplicateHandle(owner, mapping, GetCurrentProcess(), &localMapping_, 0, FALSE, DUPLICATE_SAME_ACCESS))
      localMapping_ = INVALID_HANDLE_VALUE;
    CloseHandle(owner);
    if (localMapping_ == INVALID_HANDLE_VALUE) return;
    // The data starts `offset` bytes into the mapping: the view covers the
    // mapping from its start to the end of the data.
    ULONGLONG end = static_cast<ULONGLONG>(token_.offset) + token_.size;
    void* view = nullptr;
    if (end > 0 && end <= 0xFFFFFFFFull)
      view = MapViewOfFile(localMapping_, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(end));
    if (!view) {
      CloseHandle(localMapping_);
      localMapping_ = INVALID_HANDLE_VALUE;
      return;
    }
    view_ = view;
    pointer_ = static_cast<BYTE*>(view) + token_.offset;
    mappedView_ = 1;
    failed_ = 0;
    return;
  }

  HANDLE owner = OpenProcess(kVmAccess, FALSE, token_.ownerProcessId);
  if (!owner) return;
  BYTE* copy = new (std::nothrow) BYTE[token_.size ? token_.size : 1];
  SIZE_T read = 0;
  if (copy && ReadProcessMemory(owner, TokenAddress(token_), copy, token_.size, &read) && read == token_.size) {
    pointer_ = copy;
    localCopy_ = 1;
    writeBack_ = 1;
    failed_ = 0;
  } else {
    delete[] copy;
  }
  CloseHandle(owner);
}

CMappingOfKvMemoryToken::~CMappingOfKvMemoryToken() { Close(); }

long CMappingOfKvMemoryToken::GetPointer(void** out) {
  if (!out) return E_POINTER;
  if (failed_) {
    *out = nullptr;
    return E_FAIL;
  }
  *out = pointer_;
  return S_OK;
}

long CMappingOfKvMemoryToken::DataSize() { return failed_ ? -1 : static_cast<long>(token_.size); }

void* CMappingOfKvMemoryToken::Pointer() { return failed_ ? nullptr : pointer_; }

long CMappingOfKvMemoryToken::Dispose() {
  HRESULT result = S_OK;
  if (failed_) {
    pointer_ = nullptr;
  } else if (mappedView_) {
    if (view_) UnmapViewOfFile(view_);
    if (localMapping_ != INVALID_HANDLE_VALUE) CloseHandle(localMapping_);
    view_ = nullptr;
    pointer_ = nullptr;
    localMapping_ = INVALID_HANDLE_VALUE;
  } else if (localCopy_) {
    if (pointer_) {
      if (writeBack_) {
        result = E_FAIL;
        HANDLE owner = OpenProcess(kVmAccess, FALSE, token_.ownerProcessId);
        if (owner) {
          SIZE_T written = 0;
          if (WriteProcessMemory(owner, TokenAddress(token_), pointer_, token_.size, &written) &&
              written == token_.size)
            result = S_OK;
          else
            result = FailureFromLastError();
          CloseHandle(owner);
        } else {
          result = FailureFromLastError();
        }
      }
      delete[] static_cast<BYTE*>(pointer_);
      pointer_ = nullptr;
    }
  } else {
    pointer_ = nullptr;
  }
  return result;
}

long CMappingOfKvMemoryToken::Close() { return Dispose(); }
