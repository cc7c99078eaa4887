// Helpers of the RIFF-family file tests: fixture paths under Wine, scratch
// files in the temporary folder, and byte builders for hand-made files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"

namespace kvrifftest {

// A fixture made at test time, as a Windows path (Z: maps the Unix root).
inline std::wstring FixtureW(const std::string& rel) { return vogtest::WineFixturePath(rel); }

inline bool FixtureExists(const std::string& rel) {
  return GetFileAttributesW(FixtureW(rel).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<uint8_t> LoadFile(const std::wstring& path) { return vogtest::ReadBytes(path); }

inline bool SaveFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  return vogtest::WriteBytes(path, bytes.data(), bytes.size());
}

// A scratch file in the temporary folder, open for reading and writing; it
// is closed and deleted at the end of the scope.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes = {}, const wchar_t* tag = L"kvr") {
    wchar_t dir[MAX_PATH];
    wchar_t name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, tag, 0, name);
    path_ = name;
    SaveFile(path_, bytes);
    Open();
  }
  ~TempFile() {
    Close();
    DeleteFileW(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Open() {
    Close();
    h_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
  }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  HANDLE handle() const { return h_; }
  const std::wstring& path() const { return path_; }
  std::vector<uint8_t> Bytes() const {
    LARGE_INTEGER zero{}, pos{};
    SetFilePointerEx(h_, zero, &pos, FILE_CURRENT);
    std::vector<uint8_t> out(GetFileSize(h_, nullptr));
    SetFilePointer(h_, 0, nullptr, FILE_BEGIN);
    DWORD got = 0;
    if (!out.empty()) ReadFile(h_, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    out.resize(got);
    SetFilePointerEx(h_, pos, nullptr, FILE_BEGIN);
    return out;
  }
  uint64_t Position() const {
    LARGE_INTEGER zero{}, pos{};
    SetFilePointerEx(h_, zero, &pos, FILE_CURRENT);
    return static_cast<uint64_t>(pos.QuadPart);
  }
  void Seek(uint64_t to) const {
    LARGE_INTEGER p;
    p.QuadPart = static_cast<LONGLONG>(to);
    SetFilePointerEx(h_, p, nullptr, FILE_BEGIN);
  }

 private:
  std::wstring path_;
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Byte builder for hand-made files.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
    return *this;
  }
  Bytes& str(const char* s) { return raw(s, std::char_traits<char>::length(s)); }
  Bytes& u8(uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    return *this;
  }
  Bytes& be16(uint32_t x) { return u8(x >> 8).u8(x); }
  Bytes& be32(uint32_t x) { return be16(x >> 16).be16(x); }
  Bytes& le16(uint32_t x) { return u8(x).u8(x >> 8); }
  Bytes& le32(uint32_t x) { return le16(x).le16(x >> 16); }
  Bytes& le64(uint64_t x) { return le32(static_cast<uint32_t>(x)).le32(static_cast<uint32_t>(x >> 32)); }
  Bytes& zeros(size_t n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
  Bytes& bytes(const Bytes& other) { return raw(other.v.data(), other.v.size()); }
  size_t size() const { return v.size(); }
};

inline uint32_t GetBE32(const std::vector<uint8_t>& b, size_t at) { return vogtest::Be32(&b[at]); }
inline uint32_t GetLE32(const std::vector<uint8_t>& b, size_t at) { return vogtest::Le32(&b[at]); }
inline uint16_t GetLE16(const std::vector<uint8_t>& b, size_t at) { return vogtest::Le16(&b[at]); }

}  // namespace kvrifftest
