// Paths, files and folders: DOS date/time against Python's zipfile, PE
// machine detection against pefile on i686 and x86-64 images, folder size
// against a Python walk (fixture paths/), the path-string rules as tables,
// temporary names, folder trees and moves, byte-size texts and ellipses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "kverror.h"
#include "kvlang.h"
#include "kvpath.h"

namespace {

std::wstring Fixture(const std::wstring& rel = L"") {
  std::wstring out = kvtest::WineFixtureDir() + L"\\paths";
  if (!rel.empty()) out += L"\\" + rel;
  return out;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void Touch(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << std::string(path.begin(), path.end());
  DWORD w = 0;
  WriteFile(h, "data", 4, &w, nullptr);
  CloseHandle(h);
}

// A scratch folder of its own under the fixture folder.
std::wstring Scratch(const wchar_t* name) {
  std::wstring dir = Fixture(std::wstring(L"scratch_") + name);
  KvDeleteDirectoryTree(dir.c_str(), TRUE);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

TEST(KvPathFiles, DosDateTimeAgreesWithPythonZipfile) {
  std::ifstream in(Fixture(L"dos.txt").c_str());
  std::string name;
  unsigned long local = 0, utc = 0;
  int rows = 0;
  while (in >> name >> local >> utc) {
    ++rows;
    std::wstring path = Fixture(L"dos\\" + Wide(name));
    EXPECT_EQ(KvDosGetDateTime(path.c_str()), local) << name;
    EXPECT_EQ(KvDosGetDateTimeUTC(path.c_str()), utc) << name;
  }
  EXPECT_EQ(rows, 6) << "dos.txt missing";
  EXPECT_EQ(KvDosGetDateTime(Fixture(L"dos\\missing.bin").c_str()), 0u);
}

TEST(KvPathFiles, PeMachineAgreesWithPefile) {
  std::ifstream in(Fixture(L"pe.txt").c_str());
  std::string name, machine, characteristics;
  int rows = 0, x64 = 0, i686 = 0;
  while (in >> name >> machine >> characteristics) {
    ++rows;
    std::wstring path = Fixture(L"pe\\" + Wide(name));
    DWORD m = 99;
    WORD c = 99;
    HRESULT hr = KvGetFileExecutableInfo(path.c_str(), &m, &c);
    if (machine == "-") {
      EXPECT_EQ(hr, KV_E_CORRUPT) << name;
      EXPECT_EQ(m, 0u);
      EXPECT_EQ(c, 0);
      continue;
    }
    ASSERT_EQ(hr, S_OK) << name;
    EXPECT_EQ(m, std::stoul(machine)) << name;
    EXPECT_EQ(c, std::stoul(characteristics)) << name;
    x64 += m == 0x8664;
    i686 += m == 0x14C;
    // The file pointer is back at the start.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFilePointer(h, 100, nullptr, FILE_BEGIN);
    EXPECT_TRUE(KvIsFileExecutable(h, nullptr, nullptr));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0u);
    CloseHandle(h);
  }
  EXPECT_EQ(rows, 8) << "pe.txt missing";
  // Two minimal x86-64 images, and the build's own DLL and program.
  const bool build64 = sizeof(void*) == 8;
  EXPECT_EQ(x64, build64 ? 4 : 2);
  EXPECT_EQ(i686, build64 ? 0 : 2);
  DWORD m = 1;
  EXPECT_EQ(KvGetFileExecutableInfo(Fixture(L"pe\\none.exe").c_str(), &m, nullptr), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(m, 0u);
}

TEST(KvPathFolders, SizeAgreesWithPythonWalk) {
  std::ifstream in(Fixture(L"tree.txt").c_str());
  LONGLONG want = -1;
  in >> want;
  LONGLONG size = 0;
  EXPECT_EQ(KvGetDirectorySize(Fixture(L"tree").c_str(), &size), S_OK);
  EXPECT_EQ(size, want);
  EXPECT_EQ(KvGetDirectorySize(Fixture(L"tree").c_str(), nullptr), E_INVALIDARG);
  EXPECT_FALSE(KvIsDirectoryEmpty(Fixture(L"tree").c_str()));
  EXPECT_TRUE(KvIsDirectoryEmpty(Fixture(L"tree\\empty").c_str()));
}

TEST(KvPathFolders, DiskSpaceAgreesWithPython) {
  std::ifstream in(Fixture(L"disk.txt").c_str());
  unsigned long long freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(in >> freeBytes >> totalBytes);
  const double mib = 1048576.0;
  std::wstring file = Fixture(L"tree.txt");
  EXPECT_NEAR(KvGetDiskTotalSpace(file.c_str(), 1048576), totalBytes / mib, 1.0);
  // Other programs write while the tests run, so free space is bracketed by the
  // platform's own answers taken just before and just after.
  auto platformFree = [&]() {
    ULARGE_INTEGER avail{}, total{}, free{};
    EXPECT_TRUE(GetDiskFreeSpaceExW((Fixture(L"tree") + L"\\").c_str(), &avail, &total, &free));
    return static_cast<double>(avail.QuadPart);
  };
  double before = platformFree();
  double ours = KvGetDiskFreeSpace(file.c_str(), 1048576);
  double after = platformFree();
  EXPECT_GE(ours, std::min(before, after) / mib - 1.0);
  EXPECT_LE(ours, std::max(before, after) / mib + 1.0);
  EXPECT_EQ(KvGetDiskFreeSpace(L"", 0), 0u);
  EXPECT_EQ(KvGetDiskFreeSpace(L"Q:\\no\\drive", 0), 0u);
  EXPECT_EQ(KvGetDiskFreeSpace(L"\\\\noserver\\noshare\\x", 0), 0xFFFFFFFFu);
  // The text, with the library's strings.
  HKVLANG lang = nullptr;
  ASSERT_EQ(KvLang_Open(&lang, LoadLibraryW(L"vogaac2.dll"), 1033, 0), S_OK);
  KvLang_SetLibraryHandle(lang);
  wchar_t text[64];
  KvFormatDiskFreeSpace(L"", text);
  EXPECT_EQ(std::wstring(text), L"-- Megabytes");
  KvFormatDiskFreeSpace(file.c_str(), text);
  std::wstring s = text;
  EXPECT_EQ(s.substr(s.size() - 10), L" Megabytes");
  std::wstring digits;
  for (wchar_t c : s.substr(0, s.size() - 10))
    if (c != L',') digits += c;
  double shown = _wtof(digits.c_str());
  double nowFree = platformFree();
  EXPECT_NEAR(shown, nowFree / 1024000.0, std::fabs(nowFree - after) / 1024000.0 + 1.0);
  KvLang_SetLibraryHandle(nullptr);
  KvLang_Close(lang);
}

TEST(KvPathStrings, PartsOfAPath) {
  struct {
    const wchar_t* path;
    const wchar_t* name;
    const wchar_t* ext;
  } cases[] = {
      {L"C:\\dir\\file.wav", L"file.wav", L".wav"}, {L"a.b c", L"a.b c", L""},
      {L"name.", L"name.", L"."},                  {L"C:\\dir.x\\file", L"file", L".x\\file"},
      {L"", L"", L""},                              {L"C:file.mp4", L"file.mp4", L".mp4"},
      {L"dir/sub/x.y", L"dir/sub/x.y", L".y"},     {L"\\\\srv\\share\\a.tar.gz", L"a.tar.gz", L".gz"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::wstring(KvGetFileNamePtrW(c.path)), c.name) << c.path;
    EXPECT_EQ(std::wstring(KvGetFileNameExtensionPtrW(c.path)), c.ext) << c.path;
  }
  EXPECT_STREQ(KvGetFileNamePtrA("C:\\dir\\file.wav"), "file.wav");
  EXPECT_STREQ(KvGetFileNameExtensionPtrA("a.b c"), "");
  wchar_t out[MAX_PATH];
  EXPECT_EQ(std::wstring(KvGetFileNameWithoutPathOrExtension(L"C:\\d\\song.m4a", out, MAX_PATH)), L"");
  EXPECT_EQ(std::wstring(out), L"song");
  EXPECT_EQ(KvGetPathNameFromFilePath(L"C:\\dir\\file.wav", out, MAX_PATH), 7);
  EXPECT_EQ(std::wstring(out), L"C:\\dir\\");
  EXPECT_EQ(KvGetPathNameFromFilePath(L"C:\\dir\\file.wav", out, 7), 7);  // too small: only cleared
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(KvGetPathNameFromFilePath(L"file.wav", out, MAX_PATH), 0);
  EXPECT_EQ(KvGetRootPathFromFilePath(L"C:\\dir\\file.wav", out, MAX_PATH), 3);
  EXPECT_EQ(std::wstring(out), L"C:\\");
  EXPECT_EQ(KvGetRootPathFromFilePath(L"\\\\server\\share\\dir\\f", out, MAX_PATH), 15);
  EXPECT_EQ(std::wstring(out), L"\\\\server\\share\\");
  EXPECT_EQ(KvGetRootPathFromFilePath(L"\\\\server\\share", out, MAX_PATH), 0);
  EXPECT_EQ(KvGetRootPathFromFilePath(L"relative", out, MAX_PATH), 0);
}

TEST(KvPathStrings, BuildingAndTrimming) {
  wchar_t p[16];
  wcscpy(p, L"C:\\dir");
  EXPECT_EQ(KvAddSlashToPathName(p, 16), 7);
  EXPECT_EQ(KvAddSlashToPathName(p, 16), 7);
  EXPECT_EQ(std::wstring(p), L"C:\\dir\\");
  EXPECT_EQ(KvRemoveSlashFromPathNameEnd(p, 16), 6);
  EXPECT_EQ(std::wstring(p), L"C:\\dir");
  wcscpy(p, L"C:\\dir");
  EXPECT_EQ(KvAddSlashToPathName(p, 7), 0);  // length + 2 exceeds the capacity
  wchar_t q[MAX_PATH] = L"C:\\music";
  EXPECT_EQ(KvAppendToPathName(q, MAX_PATH, L"\\song.wav", L"m4a"), 17);
  EXPECT_EQ(std::wstring(q), L"C:\\music\\song.m4a");
  wcscpy(q, L"C:\\d\\take.one.wav");
  KvReplaceExtensionOnPathName(q, MAX_PATH, L".mp4");
  EXPECT_EQ(std::wstring(q), L"C:\\d\\take.one.mp4");
  wcscpy(q, L"C:\\d\\noext");
  KvReplaceExtensionOnPathName(q, MAX_PATH, L"aac");
  EXPECT_EQ(std::wstring(q), L"C:\\d\\noext.aac");
  wchar_t small[10] = L"a\\b.wav";
  KvReplaceExtensionOnPathName(small, 10, L".longext");
  EXPECT_EQ(std::wstring(small), L"a\\b.longe");
  wcscpy(q, L"C:\\d\\song.M4A");
  EXPECT_EQ(KvAddExtensionToPathName(q, MAX_PATH, L"m4a"), 13);
  EXPECT_EQ(std::wstring(q), L"C:\\d\\song.M4A");
  EXPECT_EQ(KvAddExtensionToPathName(q, MAX_PATH, L".mp4"), 13);
  EXPECT_EQ(std::wstring(q), L"C:\\d\\song.mp4");
  wchar_t name[] = L"a:b*c?.wav";
  EXPECT_FALSE(KvValidateFileName(name, FALSE));
  EXPECT_EQ(std::wstring(name), L"a:b*c?.wav");
  EXPECT_FALSE(KvValidateFileName(name, TRUE));
  EXPECT_EQ(std::wstring(name), L"a_b_c_.wav");
  EXPECT_TRUE(KvValidateFileName(name, TRUE));
  wchar_t empty[] = L"";
  EXPECT_TRUE(KvValidateFileName(empty, FALSE));
}

TEST(KvPathStrings, WildCards) {
  struct {
    const wchar_t* pattern;
    const wchar_t* name;
    BOOL match;
  } cases[] = {
      {L"*", L"anything.at.all", 1}, {L"*.wav", L"a.wav", 1},  {L"*.wav", L"a.mp4", 0}, {L"A?C", L"abc", 0},
      {L"a?c", L"abc", 1},           {L"a?c", L"abcd", 0},     {L"*.*", L"x.y", 1},     {L"abc.", L"abc", 1},
      {L"take*.m4a", L"take12.m4a", 1}, {L"take*", L"take.m4a", 0}, {L"x", L"x.", 1},    {L"*b", L"aab", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(KvIsMatchWildCard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(KvPathStrings, RelocationBetweenBaseFolders) {
  EXPECT_EQ(std::wstring(KvGetFileNamePtrRelative(L"D:\\old\\media\\a.wav", L"C:\\proj\\media\\a.wav")),
            L"media\\a.wav");
  EXPECT_EQ(std::wstring(KvGetFileNamePtrRelative(L"x.wav", L"C:\\p\\y.wav")), L"");
  wchar_t out[MAX_PATH];
  EXPECT_EQ(KvGetBasePathRelative(L"D:\\old\\media\\a.wav", L"C:\\proj\\media\\a.wav", out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), L"C:\\proj\\");
  EXPECT_EQ(KvGetBasePathRelative(L"D:\\old\\media\\a.wav", L"C:\\proj\\media\\a.wav", out, 8), E_FAIL);
  EXPECT_EQ(KvReplaceBasePathRelative(L"C:\\Proj\\media\\a.wav", L"c:\\proj\\", L"E:\\new\\", out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), L"E:\\new\\media\\a.wav");
  EXPECT_EQ(KvReplaceBasePathRelative(L"C:\\other\\a.wav", L"C:\\proj\\", L"E:\\", out, MAX_PATH), E_FAIL);
  EXPECT_EQ(out[0], 0);
  std::wstring longBase(255, L'b');
  EXPECT_EQ(KvReplaceBasePathRelative(L"C:\\proj\\media.wav", L"C:\\proj\\", longBase.c_str(), out, MAX_PATH), E_FAIL);
}

TEST(KvPathTexts, ByteSizes) {
  wchar_t out[64];
  struct {
    LONGLONG bytes;
    const wchar_t* text;
    const wchar_t* text2;
  } cases[] = {
      {0, L"0", L"0 bytes"},          {1023, L"1023", L"1023 bytes"},       {-5, L"-5", L"-5 bytes"},
      {1024, L"1.00KB", L"1.00 KB"},  {1536, L"1.50KB", L"1.50 KB"},        {1024000, L"1.00MB", L"1.00 MB"},
      {1048576, L"1.02MB", L"1.02 MB"}, {1024000000, L"1.00GB", L"1.00 GB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KvGetByteSizeText(c.bytes, out), static_cast<int>(wcslen(c.text)));
    EXPECT_EQ(std::wstring(out), c.text);
    KvGetByteSizeText2(c.bytes, out);
    EXPECT_EQ(std::wstring(out), c.text2);
  }
}

TEST(KvPathFolders, TempNamesTreesAndMoves) {
  std::wstring dir = Scratch(L"temp");
  Touch(dir + L"\\x1.tmp");
  Touch(dir + L"\\x2.tmp");
  wchar_t out[MAX_PATH];
  ASSERT_EQ(KvCreateTempFileAndNameEx(dir.c_str(), L"x", L".tmp", nullptr, out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), dir + L"\\x3.tmp");
  ASSERT_EQ(KvCreateTempFileAndNameEx(dir.c_str(), L"n", L".dat", L"%03d", out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), dir + L"\\n001.dat");
  EXPECT_EQ(KvCreateTempFileAndNameEx(nullptr, nullptr, nullptr, nullptr, out, MAX_PATH), E_INVALIDARG);
  EXPECT_EQ(KvCreateTempFileAndNameEx(dir.c_str(), L"x", L".tmp", nullptr, out, 10), E_INVALIDARG);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(KvCreateTempFileAndNameEx(L"Z:\\no\\such\\dir", L"x", nullptr, nullptr, out, MAX_PATH), KV_E_NOTFOUND);
  EXPECT_TRUE(KvIsDirectoryWritable(dir.c_str()));

  // Existence rules: hidden files and folders are no files.
  Touch(dir + L"\\hidden.bin", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(KvDoesFileExist((dir + L"\\hidden.bin").c_str()));
  EXPECT_FALSE(KvDoesFileExist(dir.c_str()));
  EXPECT_TRUE(KvDoesFileExist((dir + L"\\x1.tmp").c_str()));
  EXPECT_TRUE(KvIsFileWritable((dir + L"\\x1.tmp").c_str()));
  LONGLONG size = -1;
  EXPECT_EQ(KvGetFileSizeByName((dir + L"\\x1.tmp").c_str(), &size), S_OK);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(KvGetFileSizeByName((dir + L"\\none").c_str(), &size), KV_E_OPEN);
  EXPECT_EQ(size, 0);

  // Deep creation, unique names, deletion with read-only files.
  std::wstring deep = dir + L"\\a\\b\\c";
  EXPECT_TRUE(KvCreateDirectory(deep.c_str(), nullptr));
  EXPECT_FALSE(KvCreateDirectory((dir + L"\\a\\\\d").c_str(), nullptr));
  EXPECT_FALSE(KvCreateDirectory(L"Q:\\no\\drive", nullptr));
  Touch(deep + L"\\ro.bin", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(KvGetUniqueSubFolder(dir.c_str(), L"a", out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), dir + L"\\a1");
  EXPECT_EQ(KvGetUniqueSubFolder(dir.c_str(), L"a", out, 100), E_INVALIDARG);
  EXPECT_TRUE(KvDeleteFiles(dir.c_str(), L"*.tmp", TRUE));
  EXPECT_FALSE(KvDoesFileExist((dir + L"\\x1.tmp").c_str()));
  EXPECT_TRUE(KvDeleteDirectoryTree((dir + L"\\a").c_str(), TRUE));
  EXPECT_EQ(GetFileAttributesW((dir + L"\\a").c_str()), INVALID_FILE_ATTRIBUTES);

  // Moves: into the own sub-folder refused; on one drive a move; to another
  // drive (C: from Z:) a copy with progress, then the source is deleted.
  std::wstring src = Scratch(L"move_src");
  KvCreateDirectory((src + L"\\sub").c_str(), nullptr);
  Touch(src + L"\\one.bin");
  Touch(src + L"\\sub\\two.bin");
  DWORD files = 99;
  EXPECT_EQ(KvMoveFolder((src + L"\\sub\\inner").c_str(), src.c_str(), &files, nullptr, nullptr), KV_E_DESTUNDERSOURCE);
  EXPECT_EQ(files, 0u);
  EXPECT_EQ(KvCanMoveFolder(src.c_str()), S_OK);
  std::wstring dst = Fixture(L"scratch_move_dst");
  KvDeleteDirectoryTree(dst.c_str(), TRUE);
  EXPECT_EQ(KvMoveFolder(dst.c_str(), src.c_str(), &files, nullptr, nullptr), S_OK);
  EXPECT_EQ(files, 2u);
  EXPECT_TRUE(KvDoesFileExist((dst + L"\\sub\\two.bin").c_str()));
  EXPECT_EQ(GetFileAttributesW(src.c_str()), INVALID_FILE_ATTRIBUTES);

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring other = std::wstring(temp) + L"vog_move_copy";
  KvDeleteDirectoryTree(other.c_str(), TRUE);
  if (towupper(temp[0]) == L'Z') GTEST_SKIP() << "the temporary folder is on the same drive";
  struct Progress {
    std::vector<double> percents;
    static int __stdcall Call(void* self, double percent, const wchar_t*) {
      static_cast<Progress*>(self)->percents.push_back(percent);
      return 0;
    }
  } progress;
  EXPECT_EQ(KvMoveFolder(other.c_str(), dst.c_str(), &files, &Progress::Call, &progress), S_OK);
  EXPECT_EQ(files, 2u);
  ASSERT_EQ(progress.percents.size(), 3u);
  EXPECT_EQ(progress.percents.front(), 0.0);
  EXPECT_EQ(progress.percents.back(), 100.0);
  EXPECT_TRUE(KvDoesFileExist((other + L"\\one.bin").c_str()));
  EXPECT_EQ(GetFileAttributesW(dst.c_str()), INVALID_FILE_ATTRIBUTES);
  KvDeleteDirectoryTree(other.c_str(), TRUE);
}

TEST(KvPathTexts, EllipsisNeverOverflows) {
  HDC dc = GetDC(nullptr);
  wchar_t out[MAX_PATH];
  EXPECT_EQ(KvCalcPathEllipsisEx(dc, L"song.m4a", out, MAX_PATH, 1000), S_OK);
  EXPECT_EQ(std::wstring(out), L"...\\song.m4a");
  EXPECT_EQ(KvCalcPathEllipsisEx(dc, L"C:\\a\\b.m4a", out, MAX_PATH, 10000), S_OK);
  EXPECT_EQ(std::wstring(out), L"C:\\a\\b.m4a");
  const wchar_t* longPath = L"C:\\a rather long folder name\\another folder\\song.m4a";
  EXPECT_EQ(KvCalcPathEllipsisEx(dc, longPath, out, MAX_PATH, 60), S_OK);
  std::wstring s = out;
  EXPECT_NE(s.find(L"...\\song.m4a"), std::wstring::npos) << std::string(s.begin(), s.end());
  EXPECT_LT(s.size(), wcslen(longPath));
  // In place, a bare name would grow: it is left as it is.
  wchar_t bare[] = L"song.m4a";
  EXPECT_TRUE(KvCalcPathEllipsis(dc, bare, 10));
  EXPECT_EQ(std::wstring(bare), L"song.m4a");
  wchar_t inPlace[80];
  wcscpy(inPlace, longPath);
  EXPECT_TRUE(KvCalcPathEllipsis(dc, inPlace, 60));
  EXPECT_EQ(std::wstring(inPlace), s);
  EXPECT_EQ(KvFilenameFormat(dc, 100, L"C:\\x\\y.wav", out, MAX_PATH, 0), S_OK);
  EXPECT_EQ(std::wstring(out), L"y.wav");
  EXPECT_EQ(KvFilenameFormat(dc, 100, nullptr, out, MAX_PATH, 0), E_INVALIDARG);
  EXPECT_EQ(KvFilenameFormat(dc, 100, L"C:\\x\\y.wav", out, MAX_PATH, 9), E_INVALIDARG);
  EXPECT_EQ(KvFilenameFormatForCtl(nullptr, L"x", out, MAX_PATH, 0), static_cast<HRESULT>(0x0004E001));
  ReleaseDC(nullptr, dc);
}

TEST(KvPathFolders, SpecialAndSharedFolders) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Calbrey\\Shared Information", &key), ERROR_SUCCESS);
  const wchar_t shared[] = L"C:\\Shared Stuff";
  RegSetValueExW(key, L"SharedComponentsFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(shared), sizeof(shared));
  RegDeleteValueW(key, L"TamriskThemesFolder");
  RegCloseKey(key);
  wchar_t out[MAX_PATH];
  EXPECT_EQ(KvGetSharedComponentsFolder(out, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(out), L"C:\\Shared Stuff\\");
  EXPECT_EQ(KvGetSharedComponentsFolder(out, 10), E_FAIL);
  EXPECT_EQ(KvGetSpecialOrvaneFolder(out, MAX_PATH, 0), S_OK);
  EXPECT_EQ(std::wstring(out), L"C:\\Shared Stuff\\Tamrisk Themes\\");
  EXPECT_EQ(KvSetSpecialOrvaneFolder(L"D:\\Themes\\", 0), S_OK);
  EXPECT_EQ(KvGetSpecialOrvaneFolder(out, MAX_PATH, 0), S_OK);
  EXPECT_EQ(std::wstring(out), L"D:\\Themes\\");
  EXPECT_EQ(KvGetSpecialOrvaneFolder(out, MAX_PATH, 2), E_INVALIDARG);
  EXPECT_EQ(KvGetSpecialOrvaneDefaultFolderName(out, MAX_PATH, 1), S_OK);
  EXPECT_EQ(std::wstring(out), L"Audio Transitions");
  EXPECT_EQ(KvGetSpecialFolderVer(out, MAX_PATH, 0x001a /* CSIDL_APPDATA */, L"VogTest", 5, 2), S_OK);
  std::wstring ver = out;
  EXPECT_EQ(ver.substr(ver.size() - 19), L"Orvane\\VogTest\\5.2\\");
  EXPECT_NE(GetFileAttributesW(out), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(KvGetSpecialFolderNoVer(out, 100, 0x001a, L"VogTest"), E_INVALIDARG);
}

}  // namespace
