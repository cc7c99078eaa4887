// Helpers shared by the RIFF-family tests: fixture paths through Wine's Z:
// drive, a scratch folder, whole-file reads and writes, an open-handle
// wrapper, RIFF images built byte by byte, and the layout files that the
// fixture step writes from Python's struct walk.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"

namespace rifftest {

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A path below the fixture folder, as Wine sees it.
inline std::wstring FixturePath(const std::string& rel) { return vogtest::WineFixturePath(rel); }

inline std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);
  return s;
}

inline bool FixtureExists(const std::string& rel) {
  return GetFileAttributesW(FixturePath(rel).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder of its own below the temporary folder, removed with its files.
class ScratchDir {
 public:
  ScratchDir() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    wchar_t name[64];
    static int serial = 0;
    _snwprintf(name, 64, L"kvriff_%lu_%d", static_cast<unsigned long>(GetCurrentProcessId()), ++serial);
    dir_ = std::wstring(tmp) + name;
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  ~ScratchDir() {
    for (const std::wstring& f : files_) DeleteFileW(f.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring Path(const std::wstring& name) {
    std::wstring p = dir_ + L"\\" + name;
    files_.push_back(p);
    return p;
  }

 private:
  std::wstring dir_;
  std::vector<std::wstring> files_;
};

inline std::vector<uint8_t> ReadAll(const std::wstring& path) { return vogtest::ReadBytes(path); }

inline bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  return vogtest::WriteBytes(path, bytes.data(), bytes.size());
}

// An open file handle, closed on scope exit.
class Handle {
 public:
  explicit Handle(const std::wstring& path, bool write = true) {
    h_ = CreateFileW(path.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0), FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     0, nullptr);
  }
  ~Handle() { Close(); }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  operator HANDLE() const { return h_; }
  uint64_t Pos() const {
    LARGE_INTEGER z, p;
    z.QuadPart = 0;
    SetFilePointerEx(h_, z, &p, FILE_CURRENT);
    return static_cast<uint64_t>(p.QuadPart);
  }
  void SetPos(uint64_t pos) const {
    LARGE_INTEGER d;
    d.QuadPart = static_cast<LONGLONG>(pos);
    SetFilePointerEx(h_, d, nullptr, FILE_BEGIN);
  }
  uint64_t Length() const {
    LARGE_INTEGER n;
    GetFileSizeEx(h_, &n);
    return static_cast<uint64_t>(n.QuadPart);
  }

 private:
  HANDLE h_;
};

inline DWORD FourCC(const char* s) {
  return static_cast<DWORD>(static_cast<uint8_t>(s[0])) | (static_cast<DWORD>(static_cast<uint8_t>(s[1])) << 8) |
         (static_cast<DWORD>(static_cast<uint8_t>(s[2])) << 16) |
         (static_cast<DWORD>(static_cast<uint8_t>(s[3])) << 24);
}

// A layout token ("fmt_" for "fmt ") as a four-character code.
inline DWORD TokenCode(const std::string& t) {
  std::string s = t;
  for (char& c : s)
    if (c == '_') c = ' ';
  return FourCC(s.c_str());
}

inline std::string HexDecode(const std::string& h) {
  std::string out;
  if (h == "-") return out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

// One line of a layout file (see riff_chunks.py).
struct LayoutItem {
  std::string kind;  // riff, chunk, list, entry
  std::string id;    // chunk id, list type, or form type
  std::string listType;
  uint64_t offset = 0;
  uint64_t size = 0;
  std::string text;
};

struct Layout {
  uint32_t riffSize = 0;
  uint64_t fileLength = 0;
  std::string form;
  std::vector<LayoutItem> items;
  std::vector<LayoutItem> Of(const std::string& kind, const std::string& listType = "") const {
    std::vector<LayoutItem> out;
    for (const LayoutItem& i : items)
      if (i.kind == kind && (listType.empty() || i.listType == listType)) out.push_back(i);
    return out;
  }
};

inline bool ReadLayout(const std::string& rel, Layout* layout) {
  std::ifstream in(Narrow(FixturePath(rel)).c_str());
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    LayoutItem it;
    ls >> it.kind;
    if (it.kind == "riff") {
      ls >> layout->form >> layout->riffSize >> layout->fileLength;
    } else if (it.kind == "chunk" || it.kind == "list") {
      ls >> it.id >> it.offset >> it.size;
      layout->items.push_back(it);
    } else if (it.kind == "entry") {
      std::string hex;
      ls >> it.listType >> it.id >> it.offset >> it.size >> hex;
      it.text = HexDecode(hex);
      layout->items.push_back(it);
    }
  }
  return true;
}

// RIFF images built byte by byte, independently of the library's writers.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Tag(const char* s) {
    b.insert(b.end(), s, s + 4);
    return *this;
  }
  Bytes& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& Fill(size_t n, uint8_t v) {
    b.insert(b.end(), n, v);
    return *this;
  }
  // A whole chunk of n bytes of value v, with its pad byte.
  Bytes& Chunk(const char* id, size_t n, uint8_t v) {
    Tag(id).U32(static_cast<uint32_t>(n)).Fill(n, v);
    if (n & 1) b.push_back(0);
    return *this;
  }
  // Sets the RIFF size field to the length - 8.
  Bytes& FixRIFF() {
    uint32_t n = static_cast<uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(n >> (8 * i));
    return *this;
  }
};

inline uint32_t GetU32(const std::vector<uint8_t>& b, size_t at) { return vogtest::Le32(&b[at]); }

// Frees a block handed out by a ...ReadDataAlloc function.
inline void FreeBlock(void* data) {
  if (!data) return;
  HGLOBAL h = GlobalHandle(data);
  GlobalUnlock(h);
  GlobalFree(h);
}

}  // namespace rifftest
