// Reading the reference files that the fixture step writes (numpy/scipy).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace codectest {

// Path of a file in the runtime's fixture directory; under Wine the Unix path
// is reached through drive Z:.
inline std::string fixturePath(const std::string& name) {
  std::string path = std::string(VOG_FIXTURE_DIR) + "/codec_common/" + name;
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
#endif
  return path;
}

inline bool fixtureExists(const std::string& name) {
  std::FILE* f = std::fopen(fixturePath(name).c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// The whole file as an array of T; empty when the file is missing.
template <class T>
std::vector<T> readArray(const std::string& name) {
  std::vector<T> data;
  std::FILE* f = std::fopen(fixturePath(name).c_str(), "rb");
  if (!f) return data;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  data.resize(static_cast<size_t>(size) / sizeof(T));
  size_t got = data.empty() ? 0 : std::fread(data.data(), sizeof(T), data.size(), f);
  std::fclose(f);
  data.resize(got);
  return data;
}

inline std::string readText(const std::string& name) {
  std::vector<char> bytes = readArray<char>(name);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace codectest
