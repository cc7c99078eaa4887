// Helpers of the 64-bit RIFF and display-list tests: fixture paths through
// Wine's Z: drive, whole-file reads, a scratch file in the temporary folder
// and a byte-layout builder independent of the library's writers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kvriff.h"
#include "vog_files.h"
#include "vog_paths.h"

namespace riff64test {

using Bytes = std::vector<uint8_t>;

// A fixture of the given folder as Wine sees it: Z: plus the Unix path with backslashes.
inline std::wstring FixtureIn(const char* folder, const std::string& name) {
  return vogtest::WineFixturePath(std::string(folder) + "/" + name);
}

inline Bytes ReadWhole(const std::wstring& path) { return vogtest::ReadBytes(path); }

// A read-write file in the temporary folder, removed when done.
class TempFile {
 public:
  TempFile() {
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"r64", 0, name);
    path_ = name;
    handle_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  }
  explicit TempFile(const Bytes& content) : TempFile() { Put(content); }
  ~TempFile() {
    Close();
    DeleteFileW(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  HANDLE h() const { return handle_; }
  const std::wstring& path() const { return path_; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  void Put(const Bytes& content) {
    Seek(0);
    DWORD put = 0;
    if (!content.empty()) WriteFile(handle_, content.data(), static_cast<DWORD>(content.size()), &put, nullptr);
    SetEndOfFile(handle_);
    Seek(0);
  }
  Bytes Content() const {
    uint64_t pos = Pos();
    Bytes out(static_cast<size_t>(Length()));
    Seek(0);
    DWORD got = 0;
    if (!out.empty()) ReadFile(handle_, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    out.resize(got);
    Seek(pos);
    return out;
  }
  uint64_t Pos() const {
    LARGE_INTEGER zero{}, now{};
    SetFilePointerEx(handle_, zero, &now, FILE_CURRENT);
    return static_cast<uint64_t>(now.QuadPart);
  }
  void Seek(uint64_t pos) const {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(pos);
    SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN);
  }
  uint64_t Length() const {
    LARGE_INTEGER size{};
    GetFileSizeEx(handle_, &size);
    return static_cast<uint64_t>(size.QuadPart);
  }

 private:
  std::wstring path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Byte layouts written by hand, little-endian.
struct Layout {
  Bytes b;
  Layout& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Layout& U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Layout& Text(const char* s) {
    b.insert(b.end(), s, s + strlen(s));
    return *this;
  }
  Layout& Guid(const GUID& g) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&g);
    b.insert(b.end(), p, p + 16);
    return *this;
  }
  Layout& Raw(const Bytes& d) {
    b.insert(b.end(), d.begin(), d.end());
    return *this;
  }
  Layout& Fill(size_t n, uint8_t v) {
    b.insert(b.end(), n, v);
    return *this;
  }
  Layout& Zeros(size_t n) { return Fill(n, 0); }
  // A RIFF chunk: id, size, data, pad byte when odd.
  Layout& Chunk(const char* id, const Bytes& data) {
    Text(id).U32(static_cast<uint32_t>(data.size())).Raw(data);
    return Zeros(data.size() & 1);
  }
  // A chunk as Wave64 lays it out: size field = 24 + data, padding to 8 not counted.
  Layout& Chunk(const GUID& id, const Bytes& data) {
    Guid(id).U64(24 + data.size()).Raw(data);
    return Zeros((8 - data.size() % 8) % 8);
  }
  // A display-list item chunk of a RIFF file: "DISP", size, format, data.
  Layout& Disp(uint32_t format, const Bytes& data) {
    Layout body;
    body.U32(format).Raw(data);
    return Chunk("DISP", body.b);
  }
  // A display-list chunk of a 64-bit RIFF file; the size field counts the padding.
  Layout& Disp64(uint32_t format, const Bytes& data) {
    size_t body = 4 + data.size(), pad = (8 - body % 8) % 8;
    Guid(KVRIFF64_DISPLIST_ITEM).U64(24 + body + pad).U32(format).Raw(data);
    return Zeros(pad);
  }
  // A 64-bit RIFF file whose size field is the final length.
  static Bytes File(const GUID& form, const Bytes& body) {
    Layout l;
    l.Guid(KVRIFF64_RIFF).U64(40 + body.size()).Guid(form).Raw(body);
    return l.b;
  }
};

}  // namespace riff64test
