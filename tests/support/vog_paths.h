// Paths of the test programs: the fixture folder that the fixture steps fill
// at test time, the shared folder (test vectors, tables) and the build's
// programs, as this test program opens them. A Windows test program runs under
// Wine and reaches a Unix path through drive Z: with backslashes; a native one
// opens the Unix path as it is.
#pragma once

#include <string>

namespace vogtest {

// A Unix path as a Windows program under Wine reaches it ("/a/b" -> "Z:\a\b").
inline std::string WinePathA(const std::string& unixPath) {
  std::string out = !unixPath.empty() && unixPath[0] == '/' ? "Z:" : "";
  for (char c : unixPath) out += c == '/' ? '\\' : c;
  return out;
}

// The same as a wide string, for the Windows API's W functions.
inline std::wstring WinePath(const std::string& unixPath) {
  std::wstring out;
  for (char c : WinePathA(unixPath)) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

// A Unix path of Wine's Z: drive back as the Unix path ("Z:\a\b" -> "/a/b");
// any other path is returned unchanged.
inline std::string UnixPath(const std::string& winePath) {
  if (winePath.size() < 2 || (winePath[0] != 'Z' && winePath[0] != 'z') || winePath[1] != ':') return winePath;
  std::string out;
  for (size_t i = 2; i < winePath.size(); ++i) out += winePath[i] == '\\' ? '/' : winePath[i];
  return out;
}

// A Unix path as this program's C runtime opens it: the Wine form in the
// Windows builds, the path itself natively.
inline std::string HostPath(const std::string& unixPath) {
#ifdef _WIN32
  return WinePathA(unixPath);
#else
  return unixPath;
#endif
}

// The Unix folders the build names (no trailing slash).
inline std::string FixtureDir() { return VOG_FIXTURE_DIR; }
inline std::string SharedDir() { return VOG_SHARED_DIR; }
inline std::string BinDir() { return VOG_BIN_DIR; }

// A file below the fixture folder, the shared folder or the build's programs,
// as this program opens it ("mp4/tagged.m4a").
inline std::string FixturePath(const std::string& relative) { return HostPath(FixtureDir() + "/" + relative); }
inline std::string SharedPath(const std::string& relative) { return HostPath(SharedDir() + "/" + relative); }
inline std::string BinPath(const std::string& relative) { return HostPath(BinDir() + "/" + relative); }

// The same through Wine's Z: drive as wide strings, for the Windows API.
inline std::wstring WineFixturePath(const std::string& relative) { return WinePath(FixtureDir() + "/" + relative); }
inline std::wstring WineSharedPath(const std::string& relative) { return WinePath(SharedDir() + "/" + relative); }

}  // namespace vogtest
