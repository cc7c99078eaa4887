// File handles for code that also builds natively (the RIFF-family chunk I/O
// and the wave-file headers): open by path, exact reads and writes, 64-bit
// moves, length and cutting at the position. On Windows a handle is the
// system's file handle and each operation is the Win32 call; natively a
// handle is an object with the same operations, either a file of the system
// (opened by path) or a file held in memory (KvMemoryFile, for tests and
// fuzzing). Header-only.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "kvportable.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// The native file: the few operations the RIFF-family code uses, with the
// Win32 calls' results (true on success).
class KvNativeFile {
 public:
  virtual ~KvNativeFile() = default;
  virtual bool Read(void* buffer, DWORD size, DWORD* got) = 0;
  virtual bool Write(const void* data, DWORD size, DWORD* put) = 0;
  // method: FILE_BEGIN, FILE_CURRENT or FILE_END; a position before 0 is refused.
  virtual bool Seek(int64_t distance, DWORD method, uint64_t* newPos) = 0;
  virtual bool Length(uint64_t* length) = 0;
  // The file ends at the current position.
  virtual bool SetEnd() = 0;
};

typedef KvNativeFile* HANDLE;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1u
#define FILE_SHARE_WRITE 2u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x80u

// A file kept in memory: reads, writes (growing it) and moves as a disk file.
class KvMemoryFile : public KvNativeFile {
 public:
  KvMemoryFile() = default;
  KvMemoryFile(const void* data, size_t size)
      : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  bool Read(void* buffer, DWORD size, DWORD* got) override {
    uint64_t n = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
    if (n > size) n = size;
    if (n) std::memcpy(buffer, bytes_.data() + pos_, size_t(n));
    pos_ += n;
    *got = DWORD(n);
    return true;
  }
  bool Write(const void* data, DWORD size, DWORD* put) override {
    *put = 0;
    // A memory file stays below 1 GiB.
    if (pos_ + size > (uint64_t(1) << 30)) return false;
    if (pos_ + size > bytes_.size()) bytes_.resize(size_t(pos_ + size));
    if (size) std::memcpy(bytes_.data() + pos_, data, size);
    pos_ += size;
    *put = size;
    return true;
  }
  bool Seek(int64_t distance, DWORD method, uint64_t* newPos) override {
    int64_t base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? int64_t(pos_) : int64_t(bytes_.size());
    if ((distance > 0 && base > INT64_MAX - distance) || base + distance < 0) return false;
    pos_ = uint64_t(base + distance);
    if (newPos) *newPos = pos_;
    return true;
  }
  bool Length(uint64_t* length) override {
    *length = bytes_.size();
    return true;
  }
  bool SetEnd() override {
    if (pos_ > (uint64_t(1) << 30)) return false;
    bytes_.resize(size_t(pos_));
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t pos_ = 0;
};

// A file of the system, by descriptor.
class KvDiskFile : public KvNativeFile {
 public:
  explicit KvDiskFile(int fd) : fd_(fd) {}
  ~KvDiskFile() override { close(fd_); }
  bool Read(void* buffer, DWORD size, DWORD* got) override {
    ssize_t n = read(fd_, buffer, size);
    *got = n > 0 ? DWORD(n) : 0;
    return n >= 0;
  }
  bool Write(const void* data, DWORD size, DWORD* put) override {
    ssize_t n = write(fd_, data, size);
    *put = n > 0 ? DWORD(n) : 0;
    return n >= 0;
  }
  bool Seek(int64_t distance, DWORD method, uint64_t* newPos) override {
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t at = lseek(fd_, off_t(distance), whence);
    if (at < 0) return false;
    if (newPos) *newPos = uint64_t(at);
    return true;
  }
  bool Length(uint64_t* length) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return false;
    *length = uint64_t(st.st_size);
    return true;
  }
  bool SetEnd() override {
    off_t at = lseek(fd_, 0, SEEK_CUR);
    return at >= 0 && ftruncate(fd_, at) == 0;
  }

 private:
  int fd_;
};
#endif  // !_WIN32

namespace kvfile {

#ifdef _WIN32
inline HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
inline void Close(HANDLE file) { CloseHandle(file); }
inline bool Read(HANDLE file, void* buffer, DWORD size, DWORD* got) {
  return ReadFile(file, buffer, size, got, nullptr) != FALSE;
}
inline bool Write(HANDLE file, const void* data, DWORD size, DWORD* put) {
  return WriteFile(file, data, size, put, nullptr) != FALSE;
}
inline bool Seek(HANDLE file, int64_t distance, DWORD method, uint64_t* newPos = nullptr) {
  LARGE_INTEGER by, now;
  by.QuadPart = distance;
  if (!SetFilePointerEx(file, by, &now, method)) return false;
  if (newPos) *newPos = static_cast<uint64_t>(now.QuadPart);
  return true;
}
inline bool Length(HANDLE file, uint64_t* length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return false;
  *length = static_cast<uint64_t>(size.QuadPart);
  return true;
}
inline bool SetEnd(HANDLE file) { return SetEndOfFile(file) != FALSE; }
#else
// Paths are taken as UTF-8 of the wide text; the sharing modes have no
// native meaning.
inline HANDLE Open(const wchar_t* path, DWORD access, DWORD /*share*/, DWORD disposition) {
  if (!path) return INVALID_HANDLE_VALUE;
  std::string name;
  for (const wchar_t* p = path; *p; ++p) {
    uint32_t c = uint32_t(*p);
    if (c < 0x80) {
      name += char(c);
    } else if (c < 0x800) {
      name += char(0xC0 | (c >> 6));
      name += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      name += char(0xE0 | (c >> 12));
      name += char(0x80 | ((c >> 6) & 0x3F));
      name += char(0x80 | (c & 0x3F));
    } else {
      name += char(0xF0 | (c >> 18));
      name += char(0x80 | ((c >> 12) & 0x3F));
      name += char(0x80 | ((c >> 6) & 0x3F));
      name += char(0x80 | (c & 0x3F));
    }
  }
  int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: break;
  }
  int fd = open(name.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return new KvDiskFile(fd);
}
inline void Close(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE) delete file;
}
inline bool Read(HANDLE file, void* buffer, DWORD size, DWORD* got) { return file->Read(buffer, size, got); }
inline bool Write(HANDLE file, const void* data, DWORD size, DWORD* put) { return file->Write(data, size, put); }
inline bool Seek(HANDLE file, int64_t distance, DWORD method, uint64_t* newPos = nullptr) {
  return file->Seek(distance, method, newPos);
}
inline bool Length(HANDLE file, uint64_t* length) { return file->Length(length); }
inline bool SetEnd(HANDLE file) { return file->SetEnd(); }
#endif

}  // namespace kvfile
