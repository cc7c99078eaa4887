// Helpers of the summary-list and project-link tests: the RIFF test helpers
// (fixture paths, scratch folders, byte builders, handles) plus file copies
// and the md5 lines the fixture step wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "riff_test_util.h"

namespace metariff {

using rifftest::Bytes;
using rifftest::FixturePath;
using rifftest::Handle;
using rifftest::ReadAll;
using rifftest::ScratchDir;
using rifftest::WriteAll;

inline DWORD Fcc(const char* s) { return rifftest::FourCC(s); }

inline bool HaveFixtures() { return rifftest::FixtureExists("metariff/plain.wav"); }

// Copies a fixture into the folder of written files and gives its path.
inline std::wstring CopyToWritten(const std::string& from, const std::string& to) {
  std::wstring dst = FixturePath("metariff/written/" + to);
  CopyFileW(FixturePath("metariff/" + from).c_str(), dst.c_str(), FALSE);
  return dst;
}

// A file made of the given bytes in a scratch folder.
inline std::wstring MakeFile(ScratchDir& dir, const std::wstring& name, const std::vector<uint8_t>& bytes) {
  std::wstring p = dir.Path(name);
  WriteAll(p, bytes);
  return p;
}

}  // namespace metariff
