// The exported identification functions: they take the header bytes from an
// open file, a path or a caller's buffer, the extension from the path, and
// run the identification table (kvfileid_rules.cpp).
#include "kvfileid.h"

#include "kverror.h"
#include "kvpath.h"

namespace {

// Random access to an open file for the tests that look past the header.
class HandleReader : public KvFileIdReader {
 public:
  explicit HandleReader(HANDLE file) : file_(file) {}
  uint64_t Size() override {
    if (!sizeKnown_) {
      LARGE_INTEGER size;
      size_ = GetFileSizeEx(file_, &size) && size.QuadPart > 0 ? uint64_t(size.QuadPart) : 0;
      sizeKnown_ = true;
    }
    return size_;
  }
  uint32_t ReadAt(uint64_t offset, void* out, uint32_t size) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (offset > uint64_t(INT64_MAX) || !SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return 0;
    DWORD got = 0;
    if (!ReadFile(file_, out, size, &got, nullptr)) return 0;
    return got;
  }

 private:
  HANDLE file_;
  uint64_t size_ = 0;
  bool sizeKnown_ = false;
};

bool ValidHandle(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }

HRESULT LastWin32Error() {
  HRESULT hr = KvErrorHandler_TranslateWin32Error(GetLastError());
  return SUCCEEDED(hr) ? E_FAIL : hr;
}

BOOL RunShortForm(KVFILEIDINFO& info, KVFILEID_IDENTIFIED_TYPE* type) {
  int found = 0;
  HRESULT hr = KvIsQuicklyIdentifiableMediaFileFormat(&info, &found);
  if (type) *type = SUCCEEDED(hr) ? info.identifiedType : KVFILEID_UNDECIDED;
  return SUCCEEDED(hr) && found;
}

KVFILEIDINFO MakeInfo(DWORD flags, HANDLE file, const wchar_t* path) {
  KVFILEIDINFO info = {};
  info.flags = flags;
  info.file = file;
  info.path = path;
  return info;
}

}  // namespace

HRESULT KVAPI KvIsQuicklyIdentifiableMediaFileFormat(KVFILEIDINFO* info, int* found) {
  if (!info || !found) return E_INVALIDARG;
  *found = 0;
  info->identifiedType = KVFILEID_UNDECIDED;

  HANDLE file = ValidHandle(info->file) ? info->file : INVALID_HANDLE_VALUE;
  bool opened = false;
  if (file == INVALID_HANDLE_VALUE && info->path) {
    file = CreateFileW(info->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastWin32Error();
    opened = true;
  }

  BYTE header[KVFILEID_HEADER_BYTES];
  KvFileIdInput input;
  HandleReader reader(file);
  HRESULT hr = S_OK;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD got = 0;
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) ||
        !ReadFile(file, header, sizeof(header), &got, nullptr)) {
      hr = LastWin32Error();
    }
    input.bytes = header;
    input.count = got;
    input.file = &reader;
  } else {
    if (!info->buffer || info->bufferSize == 0) return E_INVALIDARG;
    input.bytes = info->buffer;
    input.count = info->bufferSize;
  }

  if (SUCCEEDED(hr)) {
    char ext[KVFILEID_EXTENSION_CHARS + 1] = "";
    if (!(info->flags & KVFILEID_F_IGNORE_EXTENSION) && info->path) {
      const wchar_t* e = KvGetFileNameExtensionPtrW(KvGetFileNamePtrW(info->path));
      size_t len = 0;
      while (e && e[len]) ++len;
      KvFileId_NormaliseExtension(reinterpret_cast<const uint16_t*>(e), len, ext);
    }
    input.extension = ext;
    input.flags = info->flags;
    info->identifiedType = KVFILEID_NOT_IDENTIFIED;
    KVFILEID_IDENTIFIED_TYPE type = KvFileId_Identify(input);
    if (type != KVFILEID_NOT_IDENTIFIED) {
      info->identifiedType = type;
      *found = 1;
    }
  }
  if (opened) CloseHandle(file);
  return hr;
}

BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(HANDLE file, DWORD flags, KVFILEID_IDENTIFIED_TYPE* type) {
  KVFILEIDINFO info = MakeInfo(flags, ValidHandle(file) ? file : INVALID_HANDLE_VALUE, nullptr);
  return RunShortForm(info, type);
}

BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(const wchar_t* path, DWORD flags, KVFILEID_IDENTIFIED_TYPE* type) {
  KVFILEIDINFO info = MakeInfo(flags, INVALID_HANDLE_VALUE, path);
  return RunShortForm(info, type);
}

BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(HANDLE file, const wchar_t* path, DWORD flags,
                                                  KVFILEID_IDENTIFIED_TYPE* type) {
  KVFILEIDINFO info = MakeInfo(flags, ValidHandle(file) ? file : INVALID_HANDLE_VALUE, path);
  return RunShortForm(info, type);
}

BOOL KVAPI KvIsQuicklyIdentifiableMediaFileFormat(const void* buffer, DWORD size, DWORD flags,
                                                  KVFILEID_IDENTIFIED_TYPE* type) {
  KVFILEIDINFO info = MakeInfo(flags, INVALID_HANDLE_VALUE, nullptr);
  info.buffer = static_cast<const BYTE*>(buffer);
  info.bufferSize = size;
  return RunShortForm(info, type);
}
