// Whole-file reading and writing for the tests: fixture files into bytes,
// arrays of numbers or text, and results out to files for the oracle scripts.
// Paths are as this program opens them (see vog_paths.h); in the Windows builds
// the wide forms go through _wfopen.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vogtest {

namespace detail {

inline std::FILE* Open(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
#ifdef _WIN32
inline std::FILE* Open(const std::wstring& path, const char* mode) {
  return _wfopen(path.c_str(), std::wstring(mode, mode + std::char_traits<char>::length(mode)).c_str());
}
#endif

}  // namespace detail

// Each function takes a path as std::string (or anything that converts to
// one) and, in the Windows builds, as std::wstring.

// The whole file as elements of T into out (a trailing part of an element is
// left out). False when the file cannot be opened or a read falls short; out
// then holds what was read.
template <class T, class Path>
bool ReadArray(const Path& path, std::vector<T>& out) {
  out.clear();
  std::FILE* f = detail::Open(path, "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  out.resize(size > 0 ? static_cast<size_t>(size) / sizeof(T) : 0);
  const size_t got = out.empty() ? 0 : std::fread(out.data(), sizeof(T), out.size(), f);
  std::fclose(f);
  const bool whole = got == out.size();
  out.resize(got);
  return whole;
}

// The whole file as an array of T; empty when it is missing.
template <class T, class Path>
std::vector<T> ReadArray(const Path& path) {
  std::vector<T> out;
  ReadArray(path, out);
  return out;
}

// The whole file's bytes, into out or returned (empty when missing).
template <class Path>
bool ReadBytes(const Path& path, std::vector<uint8_t>& out) { return ReadArray(path, out); }
template <class Path>
std::vector<uint8_t> ReadBytes(const Path& path) { return ReadArray<uint8_t>(path); }

// The whole file as a string of its bytes, into out or returned (empty when missing).
template <class Path>
bool ReadText(const Path& path, std::string& out) {
  std::vector<char> bytes;
  const bool whole = ReadArray(path, bytes);
  out.assign(bytes.begin(), bytes.end());
  return whole;
}
template <class Path>
std::string ReadText(const Path& path) {
  std::string out;
  ReadText(path, out);
  return out;
}

// Writes size bytes as the whole file; false when it cannot be written.
template <class Path>
bool WriteBytes(const Path& path, const void* data, size_t size) {
  std::FILE* f = detail::Open(path, "wb");
  if (!f) return false;
  const bool put = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && put;
}

// Whether the file can be opened for reading.
template <class Path>
bool FileExists(const Path& path) {
  std::FILE* f = detail::Open(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Little-endian fields of a byte buffer (the RIFF family's and the tests' own records).
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }
// Big-endian fields (MP4 boxes).
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
inline uint64_t Be64(const uint8_t* p) { return static_cast<uint64_t>(Be32(p)) << 32 | Be32(p + 4); }

}  // namespace vogtest
