// File layer: Win32 handles or POSIX descriptors.
#include "fileio.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "textencoding.h"
#endif

namespace fileutil {

#ifdef _WIN32

FileHandle InvalidFileHandle() { return INVALID_HANDLE_VALUE; }

FileHandle FileOpen(const wchar_t* path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags) {
  if (!path) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

bool FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t& got) {
  DWORD n = 0;
  BOOL ok = ReadFile(file, buffer, count, &n, nullptr);
  got = n;
  return ok != FALSE;
}

// A short write is followed by another for the rest: on a volume that fills
// up, that one fails and says why (LastWriteFoundDiskFull).
bool FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t& written) {
  written = 0;
  while (written < count) {
    DWORD n = 0;
    if (!WriteFile(file, static_cast<const char*>(buffer) + written, count - written, &n, nullptr)) return false;
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    written += n;
  }
  return true;
}

bool LastWriteFoundDiskFull() {
  const DWORD error = GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool FileSeek(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t& position) {
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  DWORD method = origin == kSeekBegin ? FILE_BEGIN : origin == kSeekCurrent ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(file, distance, &result, method)) return false;
  position = uint64_t(result.QuadPart);
  return true;
}

bool FileTruncate(FileHandle file, uint64_t size) {
  uint64_t here = 0;
  if (!FileSeek(file, 0, kSeekCurrent, here)) return false;
  uint64_t at = 0;
  if (!FileSeek(file, int64_t(size), kSeekBegin, at)) return false;
  BOOL ok = SetEndOfFile(file);
  FileSeek(file, int64_t(here), kSeekBegin, at);
  return ok != FALSE;
}

bool FileClose(FileHandle file) { return CloseHandle(file) != FALSE; }

bool FileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool FileMove(const wchar_t* from, const wchar_t* to) { return MoveFileW(from, to) != FALSE; }

bool FileDelete(const wchar_t* path) { return DeleteFileW(path) != FALSE; }

bool FileGetSize(const wchar_t* path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

#else

static std::string NativePath(const wchar_t* path) {
  std::wstring w(path ? path : L"");
  std::string out;
  WideToUtf8(w, out);
  return out;
}

FileHandle InvalidFileHandle() { return -1; }

FileHandle FileOpen(const wchar_t* path, uint32_t access, uint32_t, uint32_t disposition, uint32_t) {
  if (!path) return -1;
  int flags = 0;
  bool r = (access & kGenericRead) != 0, w = (access & kGenericWrite) != 0;
  flags = (r && w) ? O_RDWR : w ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenAlways: flags |= O_CREAT; break;
    default: break;
  }
  int fd;
  do {
    fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

bool FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  while (got < count) {
    ssize_t n = ::read(int(file), static_cast<char*>(buffer) + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += uint32_t(n);
  }
  return true;
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t& written) {
  written = 0;
  while (written < count) {
    ssize_t n = ::write(int(file), static_cast<const char*>(buffer) + written, count - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += uint32_t(n);
  }
  return true;
}

bool LastWriteFoundDiskFull() { return errno == ENOSPC || errno == EDQUOT; }

bool FileSeek(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t& position) {
  int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(int(file), off_t(offset), whence);
  if (r < 0) return false;
  position = uint64_t(r);
  return true;
}

bool FileTruncate(FileHandle file, uint64_t size) { return ::ftruncate(int(file), off_t(size)) == 0; }

bool FileClose(FileHandle file) { return ::close(int(file)) == 0; }

bool FileExists(const wchar_t* path) {
  struct stat st;
  return ::lstat(NativePath(path).c_str(), &st) == 0;
}

bool FileMove(const wchar_t* from, const wchar_t* to) {
  std::string f = NativePath(from), t = NativePath(to);
  // link + unlink refuses an existing target, as MoveFile does; where the file
  // system has no hard links, a rename after an existence check.
  if (::link(f.c_str(), t.c_str()) != 0) {
    if (errno == EEXIST) return false;
    struct stat st;
    if (::lstat(t.c_str(), &st) == 0) return false;
    return ::rename(f.c_str(), t.c_str()) == 0;
  }
  if (::unlink(f.c_str()) != 0) {
    ::unlink(t.c_str());
    return false;
  }
  return true;
}

bool FileDelete(const wchar_t* path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool FileGetSize(const wchar_t* path, uint64_t& size) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) return false;
  size = uint64_t(st.st_size);
  return true;
}

#endif

}  // namespace fileutil
