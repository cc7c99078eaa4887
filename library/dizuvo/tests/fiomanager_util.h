// Shared by the plug-in discovery and manager tests: the fixture folder, a
// scratch plug-in folder holding copies of the built DLLs, small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "vog_paths.h"

namespace fiotest {

using vogtest::WinePath;

// Folder of the fixtures made at test time (ends with a backslash).
inline std::wstring FixtureDir() { return WinePath(std::string(VOG_FIXTURE_DIR) + "/fiomanager/"); }

inline void MakeFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A new empty folder under the fixture folder (ends with a backslash).
inline std::wstring ScratchFolder(const std::wstring& name) {
  std::wstring dir = FixtureDir() + name;
  MakeFolder(dir);
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((dir + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  return dir + L"\\";
}

// Copies a DLL of the bin folder (the working directory) to `to`.
inline bool CopyBinFile(const wchar_t* name, const std::wstring& to) {
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring from = std::wstring(cwd) + L"\\" + name;
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

inline void WriteBytes(const std::wstring& path, const std::vector<BYTE>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
}

// Moves a file's last-write time by `seconds`.
inline void ShiftWriteTime(const std::wstring& path, int seconds) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME t;
  GetFileTime(h, nullptr, nullptr, &t);
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  v.QuadPart += static_cast<LONGLONG>(seconds) * 10000000LL;
  t.dwLowDateTime = v.LowPart;
  t.dwHighDateTime = v.HighPart;
  SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
}

inline constexpr GUID kAacPlugin = {0xabd1218c, 0xb335, 0x4343, {0xb5, 0x78, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}};
inline constexpr GUID kAacReader = {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}};

}  // namespace fiotest
