// The exported identification functions under Wine: every ffmpeg/sox fixture
// by path, by handle, by handle and path and by buffer against what ffprobe
// reports; wrong extensions; failures (missing file, bad arguments); and the
// five forms as the DLL exports them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fileid_manifest.h"
#include "kverror.h"
#include "kvfileid.h"
#include "vog_exports.h"
#include "vog_paths.h"
#include "vog_tools.h"

namespace {

using fileidtest::ExpectedCode;
using fileidtest::Fixture;

using vogtest::WinePath;
std::string FixtureDir() { return std::string(VOG_FIXTURE_DIR) + "/fileid/"; }
std::wstring FixturePath(const std::string& name) { return WinePath(FixtureDir() + name); }

std::vector<Fixture> Fixtures() {
  return fileidtest::LoadManifest(FixtureDir() + "manifest.txt");
}

HANDLE OpenRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::vector<BYTE> FirstBytes(const std::wstring& path, DWORD max) {
  std::vector<BYTE> out(max);
  HANDLE h = OpenRead(path);
  DWORD got = 0;
  if (h != INVALID_HANDLE_VALUE) {
    ReadFile(h, out.data(), max, &got, nullptr);
    CloseHandle(h);
  }
  out.resize(got);
  return out;
}

int Code(BOOL found, KVFILEID_IDENTIFIED_TYPE type) { return found ? int(type) : KVFILEID_NOT_IDENTIFIED; }

TEST(FileId, FixturesThroughEveryForm) {
  std::vector<Fixture> fixtures = Fixtures();
  if (fixtures.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures";
  for (const Fixture& f : fixtures) {
    std::wstring path = FixturePath(f.file);
    std::string what = f.file + " (ffprobe: " + f.format + " " + f.major + " audio " + f.audio + " video " +
                       f.video + ")";
    int withExt = ExpectedCode(f, f.Extension());
    int noExt = ExpectedCode(f, "");
    KVFILEID_IDENTIFIED_TYPE type = KVFILEID_UNDECIDED;

    BOOL found = KvIsQuicklyIdentifiableMediaFileFormat(path.c_str(), 0, &type);
    if (withExt >= 0) {
      EXPECT_EQ(Code(found, type), withExt) << what << " by path";
    }
    EXPECT_EQ(found, type != KVFILEID_NOT_IDENTIFIED) << what;

    found = KvIsQuicklyIdentifiableMediaFileFormat(path.c_str(), KVFILEID_F_IGNORE_EXTENSION, &type);
    if (noExt >= 0) {
      EXPECT_EQ(Code(found, type), noExt) << what << " by path, extension ignored";
    }

    HANDLE h = OpenRead(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << what;
    // The handle's position does not matter: identification reads from the start.
    SetFilePointer(h, 0, nullptr, FILE_END);
    found = KvIsQuicklyIdentifiableMediaFileFormat(h, 0, &type);
    if (noExt >= 0) {
      EXPECT_EQ(Code(found, type), noExt) << what << " by handle";
    }
    found = KvIsQuicklyIdentifiableMediaFileFormat(h, path.c_str(), 0, &type);
    if (withExt >= 0) {
      EXPECT_EQ(Code(found, type), withExt) << what << " by handle and path";
    }
    CloseHandle(h);

    std::vector<BYTE> head = FirstBytes(path, 8192);
    bool fitsHeader = head.size() <= KVFILEID_HEADER_BYTES || f.file.find("faststart") != std::string::npos ||
                      f.format.rfind("mov,mp4", 0) != 0;
    found = KvIsQuicklyIdentifiableMediaFileFormat(head.data(), DWORD(head.size()), 0, &type);
    if (noExt >= 0 && fitsHeader) {
      EXPECT_EQ(Code(found, type), noExt) << what << " by buffer";
    }
  }
}

// The handle's file decides the bytes, the path only the extension.
TEST(FileId, WrongExtensions) {
  if (Fixtures().empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures";
  struct {
    const char* file;
    const wchar_t* name;
    int expected;
  } cases[] = {
      {"wav.wav", L"C:\\x\\sound.ac3", KVFILEID_WAVE},
      {"ipod.m4a", L"sound.mp4", KVFILEID_M4A},
      {"mp42_aac.mp4", L"sound.m4a", KVFILEID_MP4_AAC},
      {"wma.wma", L"clip.WMV", KVFILEID_WMV},
      {"wmv.wmv", L"clip.wma", KVFILEID_WMA},
      {"wmv.wmv", L"clip.dvr-ms", KVFILEID_DVRMS},
      {"wma.wma", L"clip.dat", KVFILEID_ASF},
      {"wma.wma", L"no extension", KVFILEID_ASF},
      {"plain.mp2", L"sound.mp3", KVFILEID_NOT_IDENTIFIED},
      {"plain.mp2", L"sound.MP2", KVFILEID_MP2},
      {"mxf.mxf", L"clip.dat", KVFILEID_MXF},
      {"wav.wav", L"clip.mxf", KVFILEID_WAVE},
      {"wav.wav", L"clip.vox", KVFILEID_WAVE},
      {"rm.rm", L"clip.RMVB", KVFILEID_REALMEDIA},
      {"png.png", L"a.b\\image.raw", KVFILEID_PNG},
      {"flac.flac", L"dir.with.dots\\noext", KVFILEID_FLAC},
  };
  for (const auto& c : cases) {
    HANDLE h = OpenRead(FixturePath(c.file));
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.file;
    KVFILEID_IDENTIFIED_TYPE type = KVFILEID_UNDECIDED;
    BOOL found = KvIsQuicklyIdentifiableMediaFileFormat(h, c.name, 0, &type);
    EXPECT_EQ(Code(found, type), c.expected) << c.file;
    CloseHandle(h);
  }
}

TEST(FileId, BaseFormResultsAndFailures) {
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(nullptr, nullptr), E_INVALIDARG);
  KVFILEIDINFO info = {};
  info.file = INVALID_HANDLE_VALUE;
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(&info, nullptr), E_INVALIDARG);

  // No handle, no path: the buffer, which must not be empty.
  int found = 7;
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(&info, &found), E_INVALIDARG);
  EXPECT_EQ(found, 0);
  const BYTE png[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  info.buffer = png;
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(&info, &found), E_INVALIDARG);
  info.bufferSize = sizeof(png);
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(&info, &found), S_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(info.identifiedType, KVFILEID_PNG);
  info.flags = KVFILEID_F_AUDIO;
  EXPECT_EQ(KvIsQuicklyIdentifiableMediaFileFormat(&info, &found), S_OK);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(info.identifiedType, KVFILEID_NOT_IDENTIFIED);

  // A missing file: the Win32 error as the error handler translates it.
  info = {};
  info.file = INVALID_HANDLE_VALUE;
  info.path = L"Z:\\no\\such\\folder\\file.wav";
  found = 7;
  HRESULT hr = KvIsQuicklyIdentifiableMediaFileFormat(&info, &found);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(hr, KvErrorHandler_TranslateWin32Error(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(found, 0);
  EXPECT_EQ(info.identifiedType, KVFILEID_UNDECIDED);
  KVFILEID_IDENTIFIED_TYPE type = KVFILEID_MP3;
  EXPECT_FALSE(KvIsQuicklyIdentifiableMediaFileFormat(info.path, 0, &type));
  EXPECT_EQ(type, KVFILEID_UNDECIDED);

  // A handle opened without read access: the read fails.
  wchar_t tmp[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  GetTempFileNameW(tmp, L"kfi", 0, name);
  HANDLE w = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  DWORD wrote = 0;
  WriteFile(w, png, sizeof(png), &wrote, nullptr);
  info = {};
  info.file = w;
  hr = KvIsQuicklyIdentifiableMediaFileFormat(&info, &found);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(found, 0);
  CloseHandle(w);

  // An empty file is identified by nothing but its extension.
  w = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(w);
  EXPECT_FALSE(KvIsQuicklyIdentifiableMediaFileFormat(name, 0, &type));
  EXPECT_EQ(type, KVFILEID_NOT_IDENTIFIED);
  std::wstring raw = std::wstring(name) + L".raw";
  ASSERT_TRUE(MoveFileW(name, raw.c_str()));
  EXPECT_TRUE(KvIsQuicklyIdentifiableMediaFileFormat(raw.c_str(), 0, &type));
  EXPECT_EQ(type, KVFILEID_RAW);
  // The file is closed again: it can be deleted.
  EXPECT_TRUE(DeleteFileW(raw.c_str()));

  // Short forms with a null result pointer.
  EXPECT_TRUE(KvIsQuicklyIdentifiableMediaFileFormat(png, sizeof(png), 0, nullptr));
  EXPECT_FALSE(KvIsQuicklyIdentifiableMediaFileFormat(png, 0, 0, nullptr));
  EXPECT_FALSE(KvIsQuicklyIdentifiableMediaFileFormat(INVALID_HANDLE_VALUE, 0, nullptr));
}

// Files cut short on disk: reading through the handle gives what the rules
// give over the same bytes in memory, wherever the cut falls (inside the
// header, the media data or the boxes walked).
TEST(FileId, TruncatedFilesOnDisk) {
  if (Fixtures().empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures";
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring cutPath = std::wstring(tmp) + L"kvfileid_cut_" + std::to_wstring(GetCurrentProcessId()) + L".mp4";
  for (const char* name : {"mp42_aac.mp4", "mp42_h264_aac.mp4", "mp42_aac_faststart.mp4", "mxf.mxf"}) {
    std::vector<BYTE> whole = FirstBytes(FixturePath(name), 1 << 20);
    ASSERT_FALSE(whole.empty()) << name;
    size_t step = whole.size() / 150 + 1;
    for (size_t n = 0; n <= whole.size(); n += (n < 64 ? 1 : step)) {
      HANDLE h = CreateFileW(cutPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      DWORD wrote = 0;
      if (n) WriteFile(h, whole.data(), DWORD(n), &wrote, nullptr);
      CloseHandle(h);

      KvFileIdMemoryReader memory(whole.data(), uint32_t(n));
      KvFileIdInput in;
      in.bytes = whole.data();
      in.count = uint32_t(n);
      in.extension = ".mp4";
      in.file = &memory;
      int expected = KvFileId_Identify(in);

      KVFILEID_IDENTIFIED_TYPE type = KVFILEID_UNDECIDED;
      BOOL found = KvIsQuicklyIdentifiableMediaFileFormat(cutPath.c_str(), 0, &type);
      EXPECT_EQ(Code(found, type), expected) << name << " cut to " << n << " bytes";
    }
  }
  DeleteFileW(cutPath.c_str());
}

// A buffer longer than 4096 bytes: only the first 4096 are looked at.
TEST(FileId, BufferFormLooksAt4096Bytes) {
  std::vector<BYTE> b(6000, 0);
  const BYTE layer3[4] = {0xFF, 0xFB, 0x90, 0x00};
  std::copy(layer3, layer3 + 4, b.begin() + 4092);
  KVFILEID_IDENTIFIED_TYPE type;
  EXPECT_TRUE(KvIsQuicklyIdentifiableMediaFileFormat(b.data(), DWORD(b.size()), 0, &type));
  EXPECT_EQ(type, KVFILEID_MP3);
  std::fill(b.begin(), b.end(), 0);
  std::copy(layer3, layer3 + 4, b.begin() + 4093);
  EXPECT_FALSE(KvIsQuicklyIdentifiableMediaFileFormat(b.data(), DWORD(b.size()), 0, &type));
}

// The DLL exports the five forms; the base form and the buffer form called
// through the exports agree with the library.
TEST(FileId, DllExports) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  using Base = HRESULT(__stdcall*)(KVFILEIDINFO*, int*);
  using ByBuffer = BOOL(__stdcall*)(const void*, DWORD, DWORD, KVFILEID_IDENTIFIED_TYPE*);
  auto base = reinterpret_cast<Base>(reinterpret_cast<void*>(
      GetProcAddress(dll, VogExportName("_Z38KvIsQuicklyIdentifiableMediaFileFormatP12KVFILEIDINFOPi@8").c_str())));
  auto byBuffer = reinterpret_cast<ByBuffer>(reinterpret_cast<void*>(
      GetProcAddress(dll, VogExportName("_Z38KvIsQuicklyIdentifiableMediaFileFormatPKvmmP24KVFILEID_IDENTIFIED_TYPE@16").c_str())));
  ASSERT_NE(base, nullptr);
  ASSERT_NE(byBuffer, nullptr);
  EXPECT_NE(GetProcAddress(dll, VogExportName("_Z38KvIsQuicklyIdentifiableMediaFileFormatPvmP24KVFILEID_IDENTIFIED_TYPE@12").c_str()),
            nullptr);
  EXPECT_NE(GetProcAddress(dll, VogExportName("_Z38KvIsQuicklyIdentifiableMediaFileFormatPKwmP24KVFILEID_IDENTIFIED_TYPE@12").c_str()),
            nullptr);
  EXPECT_NE(GetProcAddress(dll, VogExportName("_Z38KvIsQuicklyIdentifiableMediaFileFormatPvPKwmP24KVFILEID_IDENTIFIED_TYPE@16").c_str()),
            nullptr);

  const BYTE gif[6] = {'G', 'I', 'F', '8', '9', 'a'};
  KVFILEID_IDENTIFIED_TYPE type = KVFILEID_UNDECIDED;
  EXPECT_TRUE(byBuffer(gif, sizeof(gif), 0, &type));
  EXPECT_EQ(type, KVFILEID_GIF);
  KVFILEIDINFO info = {};
  info.file = INVALID_HANDLE_VALUE;
  std::wstring path = FixturePath("ipod.m4a");
  info.path = path.c_str();
  int found = 0;
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    EXPECT_EQ(base(&info, &found), S_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(info.identifiedType, KVFILEID_M4A);
  }
  FreeLibrary(dll);
}

}  // namespace
