// Reading the reference files that the fixture step writes (numpy/scipy).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"

namespace codectest {

// Path of a file in the runtime's fixture directory; under Wine the Unix path
// is reached through drive Z:.
inline std::string fixturePath(const std::string& name) { return vogtest::FixturePath("codec_common/" + name); }

inline bool fixtureExists(const std::string& name) { return vogtest::FileExists(fixturePath(name)); }

// The whole file as an array of T; empty when the file is missing.
template <class T>
std::vector<T> readArray(const std::string& name) {
  return vogtest::ReadArray<T>(fixturePath(name));
}

inline std::string readText(const std::string& name) { return vogtest::ReadText(fixturePath(name)); }

}  // namespace codectest
