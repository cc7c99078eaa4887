// Helpers shared by the base library's tests: paths as Wine sees them.
#pragma once

#include <string>

namespace kvtest {

// A Unix path as Wine's Z: drive sees it.
inline std::wstring WinePath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

// The build's fixture folder (VOG_FIXTURE_DIR) through the Z: drive.
inline std::wstring WineFixtureDir() { return WinePath(VOG_FIXTURE_DIR); }

}  // namespace kvtest
